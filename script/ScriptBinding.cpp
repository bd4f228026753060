#include "script/ScriptBinding.h"

#include <cmath>
#include <cstdio>
#include <exception>

#include <lua.hpp>

namespace {

constexpr const char* kParamField = "my_param__";

const ScriptObjectType& UpvalueType(lua_State* L, int n) {
  return *static_cast<const ScriptObjectType*>(lua_touserdata(L, lua_upvalueindex(n)));
}

// True when the value at `idx` is a userdata with the type's metatable.
bool IsObjectOf(lua_State* L, int idx, const ScriptObjectType& type) {
  if (idx < 0) idx = lua_gettop(L) + idx + 1;
  if (lua_type(L, idx) != LUA_TUSERDATA || !lua_getmetatable(L, idx)) return false;
  luaL_getmetatable(L, type.typeName);
  const bool ours = lua_rawequal(L, -1, -2) != 0;
  lua_pop(L, 2);
  return ours;
}

// __gc of a type's metatable: deletes the wrapper owned by the userdata.
int CollectWrapper(lua_State* L) {
  const ScriptObjectType& type = UpvalueType(L, 1);
  if (!IsObjectOf(L, 1, type)) return 0;
  auto** slot = static_cast<CLuaObject**>(lua_touserdata(L, 1));
  std::unique_ptr<CLuaObject> owned(*slot);
  *slot = nullptr;
  return 0;
}

// Method closure: upvalue 1 = method index, upvalue 2 = the type.
int DispatchMethod(lua_State* L) {
  const auto index = static_cast<size_t>(lua_tointeger(L, lua_upvalueindex(1)));
  const ScriptObjectType& type = UpvalueType(L, 2);
  if (index >= type.methods.size()) return luaL_error(L, "%s: no such method", type.typeName);
  const ScriptMethod& method = type.methods[index];
  lua_pushinteger(L, 0);
  lua_gettable(L, 1);  // indexing a non-table raises the interpreter's own error
  if (!IsObjectOf(L, -1, type)) {
    // The interpreter's bad-argument error, naming the method even when the
    // call gives the interpreter no name to show.
    return luaL_error(L, "bad argument #1 to '%s' (%s expected, got %s)", method.name, type.typeName,
                      luaL_typename(L, -1));
  }
  CLuaObject* self = *static_cast<CLuaObject**>(lua_touserdata(L, -1));
  lua_pop(L, 1);
  if (self == nullptr) return luaL_error(L, "%s: object is gone", type.typeName);
  // Errors leave the method as C++ exceptions; the script error is raised
  // here, after the catch scope, so no C++ object is jumped over.
  char failure[256] = {0};
  bool badArgument = false;
  try {
    return method.call(*self, L);
  } catch (const ScriptArgumentError&) {
    badArgument = true;
  } catch (const std::exception& e) {
    std::snprintf(failure, sizeof failure, "%s", e.what());
  } catch (...) {
    std::snprintf(failure, sizeof failure, "internal error");
  }
  if (badArgument) return RaiseArgumentError(L, method.name);
  return RaiseMethodError(L, method.name, failure);
}

// Constructor closure: upvalue 1 = the type. Builds a fresh object table.
int ConstructObject(lua_State* L) {
  const ScriptObjectType& type = UpvalueType(L, 1);
  luaL_getmetatable(L, type.typeName);
  const int meta = lua_gettop(L);
  lua_getfield(L, meta, kParamField);
  void* param = lua_touserdata(L, -1);
  lua_pop(L, 1);

  lua_newtable(L);
  const int object = lua_gettop(L);
  lua_pushinteger(L, 0);
  auto** slot = static_cast<CLuaObject**>(lua_newuserdata(L, sizeof(CLuaObject*)));
  *slot = nullptr;
  lua_pushvalue(L, meta);
  lua_setmetatable(L, -2);
  bool created = false;
  try {
    *slot = type.create(param).release();
    created = *slot != nullptr;
  } catch (...) {
  }
  if (!created) return luaL_error(L, "%s: cannot create the object", type.typeName);
  lua_settable(L, object);

  for (size_t i = 0; i < type.methods.size(); ++i) {
    lua_pushinteger(L, static_cast<lua_Integer>(i));
    lua_pushlightuserdata(L, const_cast<ScriptObjectType*>(&type));
    lua_pushcclosure(L, DispatchMethod, 2);
    lua_setfield(L, object, type.methods[i].name);
  }
  for (const ScriptConstant& c : type.constants) {
    PushU32(L, c.value);
    lua_setfield(L, object, c.name);
  }
  return 1;
}

}  // namespace

void SetGlobalRaw(lua_State* L, const char* name) {
  lua_pushstring(L, name);
  lua_insert(L, -2);
  lua_rawset(L, LUA_GLOBALSINDEX);
}

void RegisterScriptType(lua_State* L, const ScriptObjectType& type, void* param) {
  auto* typePtr = const_cast<ScriptObjectType*>(&type);
  lua_pushlightuserdata(L, typePtr);
  lua_pushcclosure(L, ConstructObject, 1);
  SetGlobalRaw(L, type.typeName);

  luaL_newmetatable(L, type.typeName);
  lua_pushlightuserdata(L, typePtr);
  lua_pushcclosure(L, CollectWrapper, 1);
  lua_setfield(L, -2, "__gc");
  lua_pushlightuserdata(L, param);
  lua_setfield(L, -2, kParamField);
  lua_pop(L, 1);
}

bool NumberToU32(double x, uint32_t& out) {
  if (!std::isfinite(x)) return false;
  const double r = x > 0 ? x + 0.5 : x - 0.5;
  constexpr double kLimit = 9223372036854775808.0;  // 2^63
  if (!(r > -kLimit && r < kLimit)) return false;
  out = static_cast<uint32_t>(static_cast<uint64_t>(static_cast<int64_t>(r)));
  return true;
}

bool ArgU32(lua_State* L, int idx, uint32_t& out) {
  return lua_isnumber(L, idx) && NumberToU32(lua_tonumber(L, idx), out);
}

void PushU32(lua_State* L, uint32_t v) { lua_pushnumber(L, static_cast<lua_Number>(v)); }

void PushByteTable(lua_State* L, std::span<const uint8_t> bytes) {
  lua_createtable(L, static_cast<int>(bytes.size()), 1);
  lua_pushinteger(L, -1);
  lua_rawseti(L, -2, 0);
  for (size_t i = 0; i < bytes.size(); ++i) {
    lua_pushinteger(L, bytes[i]);
    lua_rawseti(L, -2, static_cast<int>(i + 1));
  }
}

void PushWordTable(lua_State* L, std::span<const uint32_t> words) {
  lua_createtable(L, static_cast<int>(words.size()), 1);
  lua_pushinteger(L, -1);
  lua_rawseti(L, -2, 0);
  for (size_t i = 0; i < words.size(); ++i) {
    PushU32(L, words[i]);
    lua_rawseti(L, -2, static_cast<int>(i + 1));
  }
}

std::vector<uint32_t> TableNumbers(lua_State* L, int idx) {
  std::vector<uint32_t> values;
  if (idx < 0) idx = lua_gettop(L) + idx + 1;
  lua_pushnil(L);
  while (lua_next(L, idx) != 0) {
    uint32_t v = 0;
    if (lua_type(L, -2) == LUA_TNUMBER && lua_type(L, -1) == LUA_TNUMBER &&
        NumberToU32(lua_tonumber(L, -1), v)) {
      values.push_back(v);
    }
    lua_pop(L, 1);
  }
  return values;
}

int RaiseArgumentError(lua_State* L, const char* method) {
  lua_pushfstring(L, "%s: argument error", method);
  lua_error(L);
  std::terminate();  // lua_error does not return
}

int RaiseMethodError(lua_State* L, const char* method, const char* message) {
  lua_pushfstring(L, "%s: %s", method, message);
  lua_error(L);
  std::terminate();
}
