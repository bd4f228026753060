// The `ext` library: LuaBitOp's bit operations (inside ext; no global `bit`),
// a millisecond sleep and the print functions that feed the print sink.
#pragma once

#include <span>

struct lua_State;

// Openers (called with the library name as their one argument). The pin-view
// variant adds open_console, redirect_print_lumeth and
// redirect_print_voconsole; the user variant adds redirect_print_user.
int OpenExtPinView(lua_State* L);
int OpenExtUser(lua_State* L);

// The states whose ext carries a function.
enum ExtVariant : unsigned { kExtPinView = 1, kExtUser = 2 };

// One function of ext: the openers and the scripting reference are made from
// the table of them.
struct ExtFunction {
  const char* name;
  int (*call)(lua_State*);  // nullptr: LuaBitOp's function of the same name
  unsigned variants;        // ExtVariant bits
  const char* args;
  const char* results;
  const char* description;
};
std::span<const ExtFunction> ExtFunctions();
