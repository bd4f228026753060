#include "script/LuaPartNum.h"

#include <lua.hpp>

namespace {

enum CoreKind : uint32_t { CORE_CM = 0, CORE_C51 = 1, CORE_CM_PLOSK = 2 };

void PushName(lua_State* L, const std::string& name) { lua_pushlstring(L, name.data(), name.size()); }

const ScriptMethod kMethods[] = {
    {"GetPartNumByPID", ScriptMember<CLuaPartNum, &CLuaPartNum::GetPartNumByPID>},
    {"GetPartNumByUCID", ScriptMember<CLuaPartNum, &CLuaPartNum::GetPartNumByUCID>},
    {"IsSupportedPID_8051", ScriptMember<CLuaPartNum, &CLuaPartNum::IsSupportedPID_8051>},
};

const ScriptConstant kConstants[] = {
    {"CORE_CM", CORE_CM},
    {"CORE_C51", CORE_C51},
    {"CORE_CM_PLOSK", CORE_CM_PLOSK},
};

std::unique_ptr<CLuaObject> CreatePartNum(void*) { return std::make_unique<CLuaPartNum>(); }

const ScriptObjectType kType{"LuaPartNum__", kMethods, kConstants, CreatePartNum};

// Pushes the name and the family index (signed) of one lookup.
int PushLookup(lua_State* L, const std::string& name, uint32_t family) {
  PushName(L, name);
  lua_pushinteger(L, static_cast<int32_t>(family));
  return 2;
}

}  // namespace

const ScriptObjectType& LuaPartNumType() { return kType; }

int CLuaPartNum::GetPartNumByPID(lua_State* L) {
  uint32_t kind = 0, pid = 0, second = 0;
  if (!ArgU32(L, 2, kind)) return RaiseArgumentError(L, "GetPartNumByPID");
  if (kind > CORE_CM_PLOSK) return 0;
  if (!ArgU32(L, 3, pid)) return RaiseArgumentError(L, "GetPartNumByPID");
  if (kind == CORE_CM_PLOSK && !ArgU32(L, 4, second)) {
    return RaiseArgumentError(L, "GetPartNumByPID");
  }
  uint32_t family = 0;
  const std::string name = kind == CORE_CM_PLOSK
                               ? m_PartNum.GetPartNumByPID2(pid, second, family)
                               : m_PartNum.GetPartNumByPID(pid, kind == CORE_C51, family);
  return PushLookup(L, name, family);
}

int CLuaPartNum::GetPartNumByUCID(lua_State* L) {
  if (!lua_istable(L, 2)) return RaiseArgumentError(L, "GetPartNumByUCID");
  uint32_t pid = 0;
  if (!ArgU32(L, 3, pid)) pid = 0;
  uint32_t words[4] = {0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF};
  {
    const std::vector<uint32_t> values = TableNumbers(L, 2);
    for (size_t i = 0; i < 4 && i < values.size(); ++i) words[i] = values[i];
  }
  PushName(L, m_PartNum.GetPartNumByUCID(words, pid));
  return 1;
}

int CLuaPartNum::IsSupportedPID_8051(lua_State* L) {
  uint32_t value = 0;
  if (!ArgU32(L, 2, value)) return RaiseArgumentError(L, "IsSupportedPID_8051");
  lua_pushboolean(L, CPartNum::IsSupportedPID_8051(value));
  return 1;
}
