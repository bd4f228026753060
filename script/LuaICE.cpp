#include "script/LuaICE.h"

#include <cstdio>

#include "ice/CICE.h"

#include <lua.hpp>

namespace {

// The order is the order of the help listing.
const ScriptMethod kIceMethods[] = {
    {"GetVersion", ScriptMember<CLuaICE, &CLuaICE::GetVersion>},
    {"GetHelp", ScriptMember<CLuaICE, &CLuaICE::GetHelp>},
    {"OpenPort", ScriptMember<CLuaICE, &CLuaICE::OpenPort>},
    {"ClosePort", ScriptMember<CLuaICE, &CLuaICE::ClosePort>},
    {"SetParam", ScriptMember<CLuaICE, &CLuaICE::SetParam>},
    {"ReadICEMem32", ScriptMember<CLuaICE, &CLuaICE::ReadICEMem32>},
    {"ReadICEMemMulti", ScriptMember<CLuaICE, &CLuaICE::ReadICEMemMulti>},
    {"ResetCmdSerial", ScriptMember<CLuaICE, &CLuaICE::ResetCmdSerial>},
    {"ReadReg", ScriptMember<CLuaICE, &CLuaICE::ReadReg>},
    {"WriteReg", ScriptMember<CLuaICE, &CLuaICE::WriteReg>},
    {"ReadMem32", ScriptMember<CLuaICE, &CLuaICE::ReadMem32>},
    {"WriteMem32", ScriptMember<CLuaICE, &CLuaICE::WriteMem32>},
    {"ReadMemMulti", ScriptMember<CLuaICE, &CLuaICE::ReadMemMulti>},
    {"WriteMemMulti", ScriptMember<CLuaICE, &CLuaICE::WriteMemMulti>},
    {"ReadMem", ScriptMember<CLuaICE, &CLuaICE::ReadMem>},
    {"WriteMem", ScriptMember<CLuaICE, &CLuaICE::WriteMem>},
    {"CheckUSBLink", ScriptMember<CLuaICE, &CLuaICE::CheckUSBLink>},
    {"CheckLink", ScriptMember<CLuaICE, &CLuaICE::CheckLink>},
    {"ReadDbgID", ScriptMember<CLuaICE, &CLuaICE::ReadDbgID>},
    {"MCUConnect", ScriptMember<CLuaICE, &CLuaICE::MCUConnect>},
    {"CheckMCUStop", ScriptMember<CLuaICE, &CLuaICE::CheckMCUStop>},
    {"MCUStepRun", ScriptMember<CLuaICE, &CLuaICE::MCUStepRun>},
    {"MCUStopRun", ScriptMember<CLuaICE, &CLuaICE::MCUStopRun>},
    {"MCUFreeRun", ScriptMember<CLuaICE, &CLuaICE::MCUFreeRun>},
    {"GetMCUState", ScriptMember<CLuaICE, &CLuaICE::GetMCUState>},
    {"SetConfig", ScriptMember<CLuaICE, &CLuaICE::SetConfig>},
    {"ReadFlash", ScriptMember<CLuaICE, &CLuaICE::ReadFlash>},
    {"SelectBox", ScriptMember<CLuaICE, &CLuaICE::SelectBox>},
    {"MessageBox", ScriptMember<CLuaICE, &CLuaICE::MessageBox>},
    {"LoadDwarf", ScriptMember<CLuaICE, &CLuaICE::LoadDwarf>},
    {"UnLoadDwarf", ScriptMember<CLuaICE, &CLuaICE::UnLoadDwarf>},
    {"DwarfGetText", ScriptMember<CLuaICE, &CLuaICE::DwarfGetText>},
    {"SetEtmc", ScriptMember<CLuaICE, &CLuaICE::SetEtmc>},
    {"GetEtmcState", ScriptMember<CLuaICE, &CLuaICE::GetEtmcState>},
    {"SwoMode", ScriptMember<CLuaICE, &CLuaICE::SwoMode>},
    {"SwoStatus", ScriptMember<CLuaICE, &CLuaICE::SwoStatus>},
    {"SwoData", ScriptMember<CLuaICE, &CLuaICE::SwoData>},
};

// The user object offers the memory words and the peripheral bridge.
const ScriptMethod kIceUserMethods[] = {
    {"ReadMem32", ScriptMember<CLuaICE, &CLuaICE::ReadMem32>},
    {"WriteMem32", ScriptMember<CLuaICE, &CLuaICE::WriteMem32>},
    {"AdcScan", ScriptMember<CLuaICE, &CLuaICE::AdcScan>},
    {"PwmCapture", ScriptMember<CLuaICE, &CLuaICE::PwmCapture>},
    {"PwmOutput", ScriptMember<CLuaICE, &CLuaICE::PwmOutput>},
    {"GpioInput", ScriptMember<CLuaICE, &CLuaICE::GpioInput>},
    {"GpioOutput", ScriptMember<CLuaICE, &CLuaICE::GpioOutput>},
};

const ScriptConstant kIceConstants[] = {
    {"RESET_AUTO", 0},
    {"RESET_HW", 1},
    {"RESET_SYSRESETREQ", 2},
    {"RESET_VECTRESET", 3},
    {"RESET_FAST_RESCUE", 4},
    {"RESET_NONE", 5},
    {"RESET_NONE2", 6},
    {"CONNECT_NORMAL", 0},
    {"CONNECT_PRE_RESET", 1},
    {"CONNECT_UNDER_RESET", 2},
    {"CONNECT_NONE", 3},
    {"CONNECT_DISCONNECT", 4},
    {"CONNECT_ICP_MODE", 5},
    {"PROCESSOR_STOP", 0},
    {"PROCESSOR_RUN", 1},
    {"PROCESSOR_IDLE", 2},
    {"PROCESSOR_POWER_DOWN", 3},
    {"ETMC_STATE_STOP", 0},
    {"ETMC_STATE_RUN", 1},
    {"ETMC_STATE_IDLE", 2},
    {"ETMC_STATE_OVERFLOW", 3},
    {"PORT_CHIP_TYPE_VOLINK1", 0},
    {"PORT_CHIP_TYPE_VOLINK2", 1},
    {"PORT_CHIP_TYPE_VOLINK3", 2},
    {"DESIGN_ID_VOLINK2_ME", 0},
    {"DESIGN_ID_VOLINK2", 1},
    {"DESIGN_ID_VOLINK2_V3", 17},
    {"DESIGN_ID_VOTRACE", 3},
    {"DESIGN_ID_VOLINK2_PRO", 5},
    {"DESIGN_ID_VOLINK2_LITE", 9},
    {"DESIGN_ID_NONE", 0xFFFFFFFFu},
    {"SWO_MODE_OFF", 0},
    {"SWO_MODE_UART", 1},
    {"SWO_MODE_MANCH", 2},
    {"SWO_STATUS_ACTIVE", 1},
    {"SWO_STATUS_PAUSED", 2},
    {"SWO_STATUS_ERROR", 64},
    {"SWO_STATUS_OVERRUN", 128},
};

std::unique_ptr<CLuaObject> CreateIce(void* param) {
  return std::make_unique<CLuaICE>(static_cast<CICE*>(param));
}
std::unique_ptr<CLuaObject> CreateIceUser(void* param) {
  return std::make_unique<CLuaICE_User>(static_cast<CICE*>(param));
}

const ScriptObjectType kIceType{"LuaICE__", kIceMethods, kIceConstants, CreateIce};
const ScriptObjectType kIceUserType{"LuaICE_User__", kIceUserMethods, {}, CreateIceUser};

}  // namespace

const ScriptObjectType& LuaICEType() { return kIceType; }
const ScriptObjectType& LuaICEUserType() { return kIceUserType; }

uint32_t CLuaICE::GetCoreType() { return m_pICE->GetCoreType(); }

int CLuaICE::GetVersion(lua_State* L) {
  lua_pushnumber(L, kFirmwareLowerBound);
  lua_pushnumber(L, kFirmwareToolVersion);
  lua_pushstring(L, kFirmwareToolSuffix);
  return 3;
}

int CLuaICE::GetHelp(lua_State* L) {
  luaL_Buffer b;
  luaL_buffinit(L, &b);
  luaL_addstring(&b, "Function list of ice:\n");
  for (const ScriptMethod& m : kIceType.methods) {
    luaL_addstring(&b, "  ");
    luaL_addstring(&b, m.name);
    luaL_addchar(&b, '\n');
  }
  luaL_addstring(&b, "Constant list of ice:\n");
  for (const ScriptConstant& c : kIceType.constants) {
    char line[96];
    std::snprintf(line, sizeof line, "  %s = %u\n", c.name, c.value);
    luaL_addstring(&b, line);
  }
  luaL_pushresult(&b);
  return 1;
}

int CLuaICE::LoadDwarf(lua_State* L) {
  lua_pushboolean(L, 0);
  return 1;
}

int CLuaICE::UnLoadDwarf(lua_State*) { return 0; }

int CLuaICE::DwarfGetText(lua_State* L) {
  lua_pushliteral(L, "");
  lua_pushliteral(L, "");
  lua_pushliteral(L, "");
  return 3;
}
