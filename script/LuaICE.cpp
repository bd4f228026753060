#include "script/LuaICE.h"

#include <string>

#include <lua.hpp>

namespace {

const ScriptMethod kIceMethods[] = {
    {"GetVersion", ScriptMember<CLuaICE, &CLuaICE::GetVersion>},
    {"GetHelp", ScriptMember<CLuaICE, &CLuaICE::GetHelp>},
    {"LoadDwarf", ScriptMember<CLuaICE, &CLuaICE::LoadDwarf>},
    {"UnLoadDwarf", ScriptMember<CLuaICE, &CLuaICE::UnLoadDwarf>},
    {"DwarfGetText", ScriptMember<CLuaICE, &CLuaICE::DwarfGetText>},
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
const ScriptObjectType kIceUserType{"LuaICE_User__", {}, {}, CreateIceUser};

}  // namespace

const ScriptObjectType& LuaICEType() { return kIceType; }
const ScriptObjectType& LuaICEUserType() { return kIceUserType; }

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
