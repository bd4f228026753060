// The `ext` library: LuaBitOp's bit operations (inside ext; no global `bit`),
// a millisecond sleep and the print functions that feed the print sink.
#pragma once

struct lua_State;

// Openers (called with the library name as their one argument). The pin-view
// variant adds open_console, redirect_print_lumeth and
// redirect_print_voconsole; the user variant adds redirect_print_user.
int OpenExtPinView(lua_State* L);
int OpenExtUser(lua_State* L);
