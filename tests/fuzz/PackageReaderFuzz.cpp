// libFuzzer target for the package reader: the input drives a generator
// that builds the table a pin script's get_status returns (the reader's own
// keys most of the time, other keys sometimes; numbers including huge, NaN
// and infinite ones, texts, booleans, nested tables, metatables whose
// __index raises) and the reader reads it. It must stay within its limits,
// leave the stack balanced and never crash.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <string>

#include "pinmodel/PackageReader.h"

extern "C" {
#include <lauxlib.h>
#include <lua.h>
#include <lualib.h>
}

namespace {

struct Input {
  const uint8_t* p;
  size_t left;
  uint8_t Byte() {
    if (!left) return 0;
    --left;
    return *p++;
  }
};

const char* const kKeys[] = {"name",   "name_color", "information",   "pins",           "processor",
                             "pkg_frame", "pin_no",  "pin_no_color",  "pin_bg_color",   "normal_color",
                             "highlight_color", "highlight_text", "direction", "pullup", "status", "texts"};

void PushValue(lua_State* L, Input& in, int depth, int& budget);

void PushKey(lua_State* L, Input& in) {
  const uint8_t k = in.Byte();
  if (k < 160) {
    lua_pushstring(L, kKeys[k % (sizeof kKeys / sizeof *kKeys)]);
  } else if (k < 230) {
    lua_pushnumber(L, static_cast<double>(in.Byte()) - 8);  // array slots, 0 and negatives
  } else if (k < 245) {
    const double odd[] = {0.5, 1e12, -1e300, 2147483648.0, 4294967296.0, 1.0 / 3};
    lua_pushnumber(L, odd[in.Byte() % 6]);
  } else {
    lua_pushboolean(L, in.Byte() & 1);
  }
}

void PushTable(lua_State* L, Input& in, int depth, int& budget) {
  lua_newtable(L);
  const int n = in.Byte() % 24;
  for (int i = 0; i < n && budget > 0 && in.left; ++i) {
    PushKey(L, in);
    PushValue(L, in, depth + 1, budget);
    lua_rawset(L, -3);
  }
  if (in.Byte() == 0xEE) {  // a metatable whose lookups raise
    lua_newtable(L);
    luaL_dostring(L, "return function() error('no') end");
    lua_setfield(L, -2, "__index");
    lua_setmetatable(L, -2);
  }
}

void PushValue(lua_State* L, Input& in, int depth, int& budget) {
  --budget;
  const uint8_t t = in.Byte();
  switch (depth < 6 ? t % 8 : t % 5) {
    case 0: {
      double v = static_cast<double>(static_cast<int8_t>(in.Byte())) * (1 << (in.Byte() % 31));
      lua_pushnumber(L, v);
      break;
    }
    case 1: {
      const double odd[] = {std::numeric_limits<double>::quiet_NaN(), HUGE_VAL, -HUGE_VAL, 1e20, -0.5, 2.5,
                            4294967295.5, -2147483648.5};
      lua_pushnumber(L, odd[in.Byte() % 8]);
      break;
    }
    case 2: {
      std::string s;
      const size_t n = in.Byte() % 40;
      for (size_t i = 0; i < n; ++i) s.push_back(static_cast<char>(in.Byte()));
      if (in.Byte() == 0xFF) s.append(70000, 'x');  // longer than one text may keep
      lua_pushlstring(L, s.data(), s.size());
      break;
    }
    case 3: lua_pushboolean(L, in.Byte() & 1); break;
    case 4: lua_pushnil(L); break;
    default: PushTable(L, in, depth, budget); break;
  }
}

int GetStatus(lua_State* L) {
  lua_pushvalue(L, lua_upvalueindex(1));
  return 1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  lua_State* L = luaL_newstate();
  if (!L) return 0;
  luaL_openlibs(L);
  Input in{data, size};
  int budget = 4096;
  if (in.Byte() & 1) {
    PushTable(L, in, 0, budget);
  } else {
    PushValue(L, in, 0, budget);
  }
  lua_pushcclosure(L, GetStatus, 1);
  lua_setglobal(L, "get_status");
  const int top = lua_gettop(L);
  PackageInfo info;
  GetPinStatus(L, info, in.Byte() & 1);
  if (lua_gettop(L) != top) abort();
  if (info.pins.size() > kMaxPackagePins) abort();
  lua_close(L);
  return 0;
}
