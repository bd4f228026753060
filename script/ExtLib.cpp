#include "script/ExtLib.h"

#include <chrono>
#include <cmath>
#include <thread>

#include <lua.hpp>

#include "script/CICECmd.h"
#include "script/PrintSink.h"

extern "C" {
#include <lua-bitop.h>
}

namespace {

const char* const kBitFunctions[] = {"tobit", "bnot",    "band", "bor", "bxor", "lshift",
                                     "rshift", "arshift", "rol",  "ror", "bswap", "tohex"};

// Formats the arguments as the base library's print does (tostring of each,
// tab-separated) and hands the line to the sink in one piece.
int PrintArguments(lua_State* L, bool lineEnd) {
  const int n = lua_gettop(L);
  luaL_checkstack(L, 2 * n + 4, "too many arguments to print");
  lua_getglobal(L, "tostring");
  const int tostring = lua_gettop(L);
  int pieces = 0;
  for (int i = 1; i <= n; ++i) {
    lua_pushvalue(L, tostring);
    lua_pushvalue(L, i);
    lua_call(L, 1, 1);
    if (!lua_isstring(L, -1)) return luaL_error(L, "'tostring' must return a string to 'print'");
    if (i > 1) {
      lua_pushliteral(L, "\t");
      lua_insert(L, -2);
      ++pieces;
    }
    ++pieces;
  }
  if (lineEnd) {
    lua_pushliteral(L, "\n");
    ++pieces;
  }
  if (pieces == 0) return 0;
  lua_concat(L, pieces);
  size_t len = 0;
  const char* text = lua_tolstring(L, -1, &len);
  ScriptPrint(L, std::string_view(text, len));
  return 0;
}

int PrintLine(lua_State* L) { return PrintArguments(L, true); }
int PrintNoLineEnd(lua_State* L) { return PrintArguments(L, false); }

int OpenConsole(lua_State*) { return 0; }

// Sleeps at most until the host's time limit for the running call, and
// stops the call when the sleep would have gone past it.
int MilliSleep(lua_State* L) {
  double ms = std::trunc(luaL_checknumber(L, 1));
  CICECmd* host = CICECmd::FromState(L);
  const double left = host != nullptr ? static_cast<double>(host->TimeLeft().count()) : 0;
  const bool cut = host != nullptr && ms >= left;
  if (cut) ms = left;
  if (ms > 0) {
    constexpr double kLongest = 1e12;  // about 31 years; keeps the cast defined
    std::this_thread::sleep_for(
        std::chrono::milliseconds(static_cast<long long>(ms < kLongest ? ms : kLongest)));
  }
  if (cut && host->CheckTimeLimit()) host->RaiseStop(L);
  return 0;
}

const luaL_Reg kPinViewFunctions[] = {
    {"open_console", OpenConsole},
    {"msleep", MilliSleep},
    {"redirect_print_lumeth", PrintLine},
    {"redirect_print_voconsole", PrintNoLineEnd},
    {nullptr, nullptr},
};

const luaL_Reg kUserFunctions[] = {
    {"msleep", MilliSleep},
    {"redirect_print_user", PrintLine},
    {nullptr, nullptr},
};

// Runs LuaBitOp's opener (which runs its self-test and raises "bit library
// self-test failed (...)" on a broken number representation), moves its
// functions into `ext` and removes the global `bit` it leaves behind.
int OpenExt(lua_State* L, const luaL_Reg* own) {
  lua_pushcfunction(L, luaopen_bit);
  lua_call(L, 0, 1);
  const int bit = lua_gettop(L);
  luaL_register(L, "ext", own);
  const int ext = lua_gettop(L);
  for (const char* name : kBitFunctions) {
    lua_getfield(L, bit, name);
    lua_setfield(L, ext, name);
  }
  lua_pushnil(L);
  lua_setglobal(L, "bit");
  lua_getfield(L, LUA_REGISTRYINDEX, "_LOADED");
  lua_pushnil(L);
  lua_setfield(L, -2, "bit");
  lua_pop(L, 1);
  return 1;
}

}  // namespace

int OpenExtPinView(lua_State* L) { return OpenExt(L, kPinViewFunctions); }
int OpenExtUser(lua_State* L) { return OpenExt(L, kUserFunctions); }
