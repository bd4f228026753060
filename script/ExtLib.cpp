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

// LuaBitOp's functions keep its semantics: 32-bit operations on numbers.
constexpr ExtFunction kExtFunctions[] = {
    {"tobit", nullptr, kExtPinView | kExtUser, "x", "number",
     "Normalises a number to a signed 32-bit value."},
    {"bnot", nullptr, kExtPinView | kExtUser, "x", "number", "Bitwise not."},
    {"band", nullptr, kExtPinView | kExtUser, "x1 [, x2 ...]", "number", "Bitwise and of all arguments."},
    {"bor", nullptr, kExtPinView | kExtUser, "x1 [, x2 ...]", "number", "Bitwise or of all arguments."},
    {"bxor", nullptr, kExtPinView | kExtUser, "x1 [, x2 ...]", "number",
     "Bitwise exclusive or of all arguments."},
    {"lshift", nullptr, kExtPinView | kExtUser, "x, n", "number", "Shifts x left by n bits."},
    {"rshift", nullptr, kExtPinView | kExtUser, "x, n", "number",
     "Shifts x right by n bits, filling with zeros."},
    {"arshift", nullptr, kExtPinView | kExtUser, "x, n", "number",
     "Shifts x right by n bits, copying the sign bit."},
    {"rol", nullptr, kExtPinView | kExtUser, "x, n", "number", "Rotates x left by n bits."},
    {"ror", nullptr, kExtPinView | kExtUser, "x, n", "number", "Rotates x right by n bits."},
    {"bswap", nullptr, kExtPinView | kExtUser, "x", "number", "Swaps the four bytes of x."},
    {"tohex", nullptr, kExtPinView | kExtUser, "x, [n = 8]", "string",
     "x as n hexadecimal digits (at most 8); upper case when n is negative."},
    {"open_console", OpenConsole, kExtPinView, "", "", "Does nothing; kept for older scripts."},
    {"msleep", MilliSleep, kExtPinView | kExtUser, "milliseconds", "",
     "Waits the given number of milliseconds (truncated toward zero); the window does not respond "
     "meanwhile."},
    {"redirect_print_lumeth", PrintLine, kExtPinView, "...", "",
     "Prints its arguments, tab-separated, as one line to the output pane."},
    {"redirect_print_voconsole", PrintNoLineEnd, kExtPinView, "...", "",
     "Prints its arguments, tab-separated, to the output pane without a line end."},
    {"redirect_print_user", PrintLine, kExtUser, "...", "",
     "Prints its arguments, tab-separated, as one line to the output pane; user scripts' print."},
};

// Runs LuaBitOp's opener (which runs its self-test and raises "bit library
// self-test failed (...)" on a broken number representation), registers the
// variant's functions as `ext`, LuaBitOp's among them, and removes the
// global `bit` LuaBitOp leaves behind.
int OpenExt(lua_State* L, ExtVariant variant) {
  lua_pushcfunction(L, luaopen_bit);
  lua_call(L, 0, 1);
  const int bit = lua_gettop(L);
  const luaL_Reg none[] = {{nullptr, nullptr}};
  luaL_register(L, "ext", none);
  const int ext = lua_gettop(L);
  for (const ExtFunction& f : kExtFunctions) {
    if (!(f.variants & variant)) continue;
    if (f.call != nullptr)
      lua_pushcfunction(L, f.call);
    else
      lua_getfield(L, bit, f.name);
    lua_setfield(L, ext, f.name);
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

int OpenExtPinView(lua_State* L) { return OpenExt(L, kExtPinView); }
int OpenExtUser(lua_State* L) { return OpenExt(L, kExtUser); }
std::span<const ExtFunction> ExtFunctions() { return kExtFunctions; }
