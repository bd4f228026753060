#include "script/LuaPartNum.h"

#include <lua.hpp>

namespace {

void PushName(lua_State* L, const std::string& name) { lua_pushlstring(L, name.data(), name.size()); }

constexpr ScriptMethod kMethods[] = {
    SCRIPT_METHOD(CLuaPartNum, GetPartNumByPID,
                  "core kind, pid [, second id]", "part name, family index",
                  "Looks a chip up by its product id: CORE_CM and CORE_C51 take the PID, CORE_CM_PLOSK "
                  "the PID and a second id. An unknown PID gives \"[%08x]\" of the PID and family 0; "
                  "any other core kind returns nothing."),
    SCRIPT_METHOD(CLuaPartNum, GetPartNumByUCID, "unique-id table, [pid = 0]", "part name",
                  "The part name stored in the four unique-id words; the bracketed PID when the words "
                  "hold no name, the empty string when they are blank."),
    SCRIPT_METHOD(CLuaPartNum, IsSupportedPID_8051, "pid", "boolean",
                  "Whether the low byte of the value is the product id of a supported 8051 chip."),
};

constexpr ScriptConstant kConstants[] = {
    SCRIPT_CONSTANT(CORE_CM, "GetPartNumByPID: a Cortex-M chip."),
    SCRIPT_CONSTANT(CORE_C51, "GetPartNumByPID: an 8051 chip."),
    SCRIPT_CONSTANT(CORE_CM_PLOSK, "GetPartNumByPID: a Cortex-M chip identified by PID and second id."),
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
  if (!ArgU32(L, 2, kind)) ArgumentError();
  if (kind > CORE_CM_PLOSK) return 0;
  if (!ArgU32(L, 3, pid)) ArgumentError();
  if (kind == CORE_CM_PLOSK && !ArgU32(L, 4, second)) {
    ArgumentError();
  }
  uint32_t family = 0;
  const std::string name = kind == CORE_CM_PLOSK
                               ? m_PartNum.GetPartNumByPID2(pid, second, family)
                               : m_PartNum.GetPartNumByPID(pid, kind == CORE_C51, family);
  return PushLookup(L, name, family);
}

int CLuaPartNum::GetPartNumByUCID(lua_State* L) {
  if (!lua_istable(L, 2)) ArgumentError();
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
  if (!ArgU32(L, 2, value)) ArgumentError();
  lua_pushboolean(L, CPartNum::IsSupportedPID_8051(value));
  return 1;
}
