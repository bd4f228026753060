// The globals a script finds in its state, and the functions a pin script
// defines for the view to call: one table each, with the short descriptions
// of the scripting reference beside each entry.
#pragma once

#include <span>

// The states a global is found in.
enum ScriptStateKind : unsigned {
  kStatePinView = 1,      // the pin script (Gadrel/gadrel.lua or --pin-script)
  kStateUser = 2,         // File > Run script... in the window
  kStateCommandLine = 4,  // gadrel -run_script FILE
};

struct ScriptGlobal {
  const char* name;
  unsigned states;     // ScriptStateKind bits
  bool setByView;      // set by the pin view after the host made the state
  const char* type;
  const char* description;
};

// Every global the program sets beyond Lua's standard libraries (and the
// standard globals it replaces).
std::span<const ScriptGlobal> ScriptGlobals();

// The global functions a pin script defines and the view calls.
struct ScriptCallback {
  const char* name;
  const char* args;
  const char* results;
  const char* description;
};
std::span<const ScriptCallback> ScriptCallbacks();
