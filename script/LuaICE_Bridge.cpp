// ice methods: the adapter's peripheral bridge, trace and serial-wire
// output, and the message and selection boxes.
#include <algorithm>
#include <string>
#include <vector>

#include <lua.hpp>

#include "ice/CICE.h"
#include "ice/TraceProtocol.h"
#include "platform/UserInteraction.h"
#include "script/CICECmd.h"
#include "script/LuaICE.h"

namespace {

// Bridge modes.
constexpr uint32_t kBridgeAdc = 6;
constexpr uint32_t kBridgePwmCapture = 7;
constexpr uint32_t kBridgePwmOutput = 8;
constexpr uint32_t kBridgeGpioIn[2] = {9, 11};
constexpr uint32_t kBridgeGpioOut[2] = {10, 12};
constexpr uint32_t kAdcMaxValues = 10;  // words of a 40-byte bridge reply
constexpr uint32_t kSwoDefaultBaud = 115200;

struct BridgeRecord {
  uint8_t bytes[12] = {};
  void Word(unsigned at, uint32_t v) {
    for (unsigned i = 0; i < 4; ++i) bytes[at + i] = static_cast<uint8_t>(v >> (8 * i));
  }
};

uint32_t Le32(const uint8_t* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

// A channel argument of the bridge's two GPIO pins (0 or 1).
bool ChannelArg(lua_State* L, uint32_t& channel) { return ArgU32(L, 2, channel) && channel <= 1; }

IUserInteraction* UserInteractionOf(lua_State* L) {
  CICECmd* host = CICECmd::FromState(L);
  return host != nullptr ? host->GetUserInteraction() : nullptr;
}

void ShowMessage(lua_State* L, bool warning, void* owner) {
  IUserInteraction* ui = UserInteractionOf(L);
  if (ui == nullptr) return;
  const char* caption = lua_tostring(L, 3);
  const char* text = lua_tostring(L, 4);
  CICECmd::UserWait wait(L);
  ui->MessageBox(caption, text,
                 warning ? IUserInteraction::Icon::Warning : IUserInteraction::Icon::Information,
                 IUserInteraction::Buttons::Ok, owner);
}

// The options of SelectBox: string values under number keys, in traversal
// order; -1 when there are none or the user cancels.
int RunSelectBox(lua_State* L, int initial) {
  std::vector<std::string> options;
  lua_pushnil(L);
  while (lua_next(L, 3) != 0) {
    if (lua_type(L, -2) == LUA_TNUMBER && lua_type(L, -1) == LUA_TSTRING) {
      size_t len = 0;
      const char* s = lua_tolstring(L, -1, &len);
      options.emplace_back(s, len);
    }
    lua_pop(L, 1);
  }
  IUserInteraction* ui = UserInteractionOf(L);
  if (options.empty() || ui == nullptr) return -1;
  const char* title = lua_tostring(L, 2);
  CICECmd::UserWait wait(L);
  return ui->SelectBox(title, options, initial);
}

}  // namespace

int CLuaICE::AdcScan(lua_State* L) {
  uint32_t count = 1;
  if (!ArgU32(L, 2, count)) count = 1;
  if (static_cast<int32_t>(count) < 0 || count > 9) count = kAdcMaxValues;
  BridgeRecord request;
  request.Word(0, count);
  uint8_t reply[40] = {};
  m_pICE->SetBridgeMode(kBridgeAdc);
  m_pICE->WriteBridge(request.bytes);
  m_pICE->ReadBridge(reply);
  if (count < 2) {
    PushU32(L, Le32(reply));
    return 1;
  }
  uint32_t values[kAdcMaxValues] = {};
  for (uint32_t i = 0; i < count; ++i) values[i] = Le32(reply + 4 * i);
  PushWordTable(L, {values, count});
  return 1;
}

int CLuaICE::PwmCapture(lua_State* L) {
  BridgeRecord start, stop;
  start.bytes[0] = 1;
  uint8_t reply[40] = {};
  m_pICE->SetBridgeMode(kBridgePwmCapture);
  m_pICE->WriteBridge(start.bytes);
  m_pICE->ReadBridge(reply);
  m_pICE->WriteBridge(stop.bytes);
  if (reply[0] & 1) {
    lua_pushboolean(L, 0);
    return 1;
  }
  lua_pushboolean(L, 1);
  PushU32(L, Le32(reply + 4));
  lua_pushinteger(L, reply[8] | reply[9] << 8);
  lua_pushinteger(L, reply[10] | reply[11] << 8);
  return 4;
}

int CLuaICE::PwmOutput(lua_State* L) {
  uint32_t enable = 0, first = 0, second = 0;
  if (!ArgU32(L, 2, enable)) enable = 0;
  if ((enable & 1) && (!ArgU32(L, 3, first) || !ArgU32(L, 4, second)))
    ArgumentError();
  BridgeRecord request;
  request.bytes[0] = enable & 1;
  request.Word(4, first);
  request.Word(8, second);
  m_pICE->SetBridgeMode(kBridgePwmOutput);
  m_pICE->WriteBridge(request.bytes);
  return 0;
}

int CLuaICE::GpioInput(lua_State* L) {
  uint32_t channel = 0;
  if (!ChannelArg(L, channel)) ArgumentError();
  uint8_t reply[40] = {};
  m_pICE->SetBridgeMode(kBridgeGpioIn[channel]);
  m_pICE->ReadBridge(reply);
  lua_pushinteger(L, reply[0] & 1);
  return 1;
}

int CLuaICE::GpioOutput(lua_State* L) {
  uint32_t channel = 0, level = 0;
  if (!ChannelArg(L, channel) || !ArgU32(L, 3, level)) ArgumentError();
  BridgeRecord request;
  request.bytes[0] = level & 1;
  m_pICE->SetBridgeMode(kBridgeGpioOut[channel]);
  m_pICE->WriteBridge(request.bytes);
  return 0;
}

int CLuaICE::SetEtmc(lua_State* L) {
  uint32_t a = 0, b = 0, c = 0, d = 0, e = 0, f = 0xFFFFFFFFu;
  if (!ArgU32(L, 2, a) || !ArgU32(L, 3, b) || !ArgU32(L, 4, c) || !ArgU32(L, 5, d))
    ArgumentError();
  if (!ArgU32(L, 6, e)) e = 0;
  if (!ArgU32(L, 7, f)) f = 0xFFFFFFFFu;
  const uint32_t record[3] = {(a & 0xFF) | (b & 0xFF) << 8 | (c & 0xFF) << 16, (d & 0xFF) | (e & 0xFF) << 8, f};
  uint8_t result[20] = {};
  m_pICE->SetEtmc(record, result);
  lua_pushboolean(L, result[0] != 0);
  PushU32(L, Le32(result + 4));
  PushU32(L, Le32(result + 8));
  PushU32(L, Le32(result + 12));
  lua_pushboolean(L, result[16] != 0);
  return 5;
}

int CLuaICE::GetEtmcState(lua_State* L) {
  lua_pushinteger(L, static_cast<int32_t>(m_pICE->GetEtmcState()));
  return 1;
}

int CLuaICE::SwoMode(lua_State* L) {
  uint32_t mode = 0, baud = kSwoDefaultBaud;
  if (!ArgU32(L, 2, mode)) ArgumentError();
  if (!ArgU32(L, 3, baud)) baud = kSwoDefaultBaud;
  if (mode == SWO_MODE_OFF) {
    m_pICE->SwoControl(false);
    m_pICE->SwoTransport(false);
    m_pICE->SwoMode(SWO_MODE_OFF);
    return 0;
  }
  if (mode != SWO_MODE_UART && mode != SWO_MODE_MANCH) return 0;
  m_pICE->SwoMode(mode);
  const uint32_t rate = m_pICE->SwoBaudrate(baud);
  m_pICE->SwoTransport(true);
  m_pICE->SwoControl(true);
  PushU32(L, rate);
  return 1;
}

int CLuaICE::SwoStatus(lua_State* L) {
  uint32_t extra = 0;
  const uint8_t status = m_pICE->SwoStatus(&extra);
  lua_pushinteger(L, status);
  PushU32(L, extra);
  return 2;
}

int CLuaICE::SwoData(lua_State* L) {
  auto* buffer = static_cast<uint8_t*>(lua_newuserdata(L, kScriptSwoCapacity));
  unsigned length = 0;
  const uint8_t status = m_pICE->SwoData(&length, buffer, kScriptSwoCapacity);
  length = std::min(length, kScriptSwoCapacity);
  lua_pushinteger(L, status);
  lua_pushinteger(L, length);
  PushByteTable(L, {buffer, length});
  lua_remove(L, -4);
  return 3;
}

int CLuaICE::MessageBox(lua_State* L) {
  if (lua_type(L, 2) != LUA_TBOOLEAN || !lua_isstring(L, 3) || !lua_isstring(L, 4))
    ArgumentError();
  const bool warning = lua_toboolean(L, 2) != 0;
  void* owner = nullptr;
  if (lua_type(L, 5) == LUA_TSTRING) {
    lua_getfield(L, LUA_GLOBALSINDEX, lua_tostring(L, 5));
    if (lua_isuserdata(L, -1)) owner = lua_touserdata(L, -1);
    lua_pop(L, 1);
  }
  ShowMessage(L, warning, owner);
  return 0;
}

int CLuaICE::SelectBox(lua_State* L) {
  if (!lua_isstring(L, 2) || !lua_istable(L, 3)) ArgumentError();
  uint32_t initial = 0;
  if (!ArgU32(L, 4, initial)) initial = 0;
  lua_pushinteger(L, RunSelectBox(L, static_cast<int32_t>(initial)));
  return 1;
}
