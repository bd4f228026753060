// The `pn` script object: part-number lookups for the pin-view script.
#pragma once

#include "script/CPartNum.h"
#include "script/ScriptBinding.h"

class CLuaPartNum : public CLuaObject {
 public:
  int GetPartNumByPID(lua_State* L);
  int GetPartNumByUCID(lua_State* L);
  int IsSupportedPID_8051(lua_State* L);

 private:
  CPartNum m_PartNum;
};

// Type `LuaPartNum__`: methods GetPartNumByPID, GetPartNumByUCID,
// IsSupportedPID_8051; constants CORE_CM, CORE_C51, CORE_CM_PLOSK.
const ScriptObjectType& LuaPartNumType();
