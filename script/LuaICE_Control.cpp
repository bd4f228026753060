// ice methods: adapter and link management, configuration, run control.
#include <string>

#include <lua.hpp>

#include "ice/CICE.h"
#include "script/CICECmd.h"
#include "script/LuaICE.h"

namespace {

constexpr uint32_t kDefaultClock = 1024;
constexpr uint32_t kDefaultVoltage = 3300;

struct ConfigArgs {
  uint32_t clock = kDefaultClock;
  uint16_t voltage = kDefaultVoltage;
  bool flag = true;
};

// Optional clock, voltage and flag of OpenPort and SetConfig: the voltage
// counts only after a clock, the flag only after both.
ConfigArgs ReadConfigArgs(lua_State* L) {
  ConfigArgs a;
  uint32_t v = 0;
  if (!ArgU32(L, 2, v)) return a;
  a.clock = v;
  if (!ArgU32(L, 3, v)) return a;
  a.voltage = static_cast<uint16_t>(v);
  if (lua_type(L, 4) == LUA_TNUMBER || lua_type(L, 4) == LUA_TBOOLEAN) a.flag = lua_toboolean(L, 4) != 0;
  return a;
}

// Both arguments of SetParam as text, or false.
bool ParamText(lua_State* L, int idx) {
  const int t = lua_type(L, idx);
  return t == LUA_TSTRING || t == LUA_TNUMBER;
}

void StoreParam(CICE& ice, lua_State* L) {
  size_t nameLen = 0, valueLen = 0;
  const char* name = lua_tolstring(L, 2, &nameLen);
  const char* value = lua_tolstring(L, 3, &valueLen);
  ice.SetParam(std::string(name, nameLen), std::string(value, valueLen));
}

}  // namespace

int CLuaICE::OpenPort(lua_State* L) {
  const ConfigArgs a = ReadConfigArgs(L);
  bool found = m_pICE->CheckUSBLink();
  if (!found) {
    {
      // Choosing an adapter (and updating its firmware) may wait on the
      // user: that time does not count against the script's time limit.
      CICECmd::UserWait wait(L);
      m_pICE->AcquireAdapter();
    }
    found = m_pICE->CheckUSBLink();
  }
  uint32_t firmware = CICE::kUnknownFirmware;
  if (found) {
    firmware = m_pICE->ResetCmdSerial(0xFFFFFFFFu);
    m_pICE->SetConfig(a.clock, a.voltage, a.flag, nullptr, nullptr);
  }
  const int generation = found ? m_pICE->GetPortChipType() : 0;
  const int comPort = found ? m_pICE->GetComPort() : -1;
  lua_pushboolean(L, found);
  PushU32(L, firmware);
  if (!found) return 2;
  lua_pushinteger(L, generation);
  lua_pushinteger(L, comPort);
  return 4;
}

int CLuaICE::ClosePort(lua_State*) {
  m_pICE->ReleaseAdapter();
  return 0;
}

int CLuaICE::SetParam(lua_State* L) {
  // Names and values are text; anything else (nil, tables, booleans) is
  // refused rather than guessed at.
  if (!ParamText(L, 2) || !ParamText(L, 3)) ArgumentError();
  StoreParam(*m_pICE, L);
  return 0;
}

int CLuaICE::ResetCmdSerial(lua_State* L) {
  uint32_t chipId = 0, extra = 0;
  bool pro = false;
  uint16_t low = 0, high = 0;
  AdapterVersionInfo info;
  m_pICE->ResetCmdSerial(0xFFFFFFFFu, &chipId, &pro, &low, &high, &extra, &info);
  PushU32(L, chipId);
  lua_pushboolean(L, pro);
  lua_pushinteger(L, low);
  lua_pushinteger(L, high);
  PushU32(L, extra);
  lua_pushinteger(L, info.nDesignId);
  return 6;
}

int CLuaICE::CheckUSBLink(lua_State* L) {
  lua_pushboolean(L, m_pICE->CheckUSBLink());
  return 1;
}

int CLuaICE::CheckLink(lua_State* L) {
  lua_pushboolean(L, m_pICE->CheckLink());
  return 1;
}

int CLuaICE::SetConfig(lua_State* L) {
  const ConfigArgs a = ReadConfigArgs(L);
  lua_pushboolean(L, m_pICE->SetConfig(a.clock, a.voltage, a.flag, nullptr, nullptr));
  return 1;
}

int CLuaICE::MCUConnect(lua_State* L) {
  uint32_t v[3] = {0, 0, 0};
  for (int i = 0; i < 3; ++i) {
    if (lua_isnoneornil(L, 2 + i)) continue;
    if (!ArgU32(L, 2 + i, v[i])) ArgumentError();
  }
  m_pICE->MCUConnect(v[0], v[1], v[2], 0);
  return 0;
}

int CLuaICE::CheckMCUStop(lua_State* L) {
  uint32_t pc = 0;
  lua_pushboolean(L, m_pICE->CheckMCUStop(&pc));
  return 1;
}

int CLuaICE::MCUStepRun(lua_State*) {
  m_pICE->MCUStepRun();
  return 0;
}

int CLuaICE::MCUStopRun(lua_State* L) {
  PushU32(L, m_pICE->MCUStopRun());
  return 1;
}

int CLuaICE::MCUFreeRun(lua_State*) {
  m_pICE->MCUFreeRun();
  return 0;
}

int CLuaICE::GetMCUState(lua_State* L) {
  uint32_t pc = 0;
  lua_pushinteger(L, m_pICE->GetMCUState(&pc, 0));
  return 1;
}

int CLuaICE::ReadDbgID(lua_State* L) {
  uint32_t selector = 0;
  if (!ArgU32(L, 2, selector)) selector = 0;
  PushU32(L, m_pICE->ReadDbgID(selector));
  return 1;
}
