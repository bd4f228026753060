// The adapter script objects: `ice` in the pin-view state (type LuaICE__)
// and `VoLink` in the user state (type LuaICE_User__). Both forward to the
// adapter command object they were bound to, which they never own.
#pragma once

#include "script/ScriptBinding.h"

class CICE;

class CLuaICE : public CLuaObject {
 public:
  explicit CLuaICE(CICE* ice) : m_pICE(ice) {}

  int GetVersion(lua_State* L);
  int GetHelp(lua_State* L);
  int LoadDwarf(lua_State* L);
  int UnLoadDwarf(lua_State* L);
  int DwarfGetText(lua_State* L);

 protected:
  CICE* m_pICE;
};

class CLuaICE_User : public CLuaICE {
 public:
  using CLuaICE::CLuaICE;
};

const ScriptObjectType& LuaICEType();
const ScriptObjectType& LuaICEUserType();

// Firmware version bounds the tool carries: lower bound, tool version and
// the tool's revision suffix (what GetVersion returns).
inline constexpr unsigned kFirmwareLowerBound = 7972;
inline constexpr unsigned kFirmwareToolVersion = 7973;
inline constexpr const char* kFirmwareToolSuffix = "r";
