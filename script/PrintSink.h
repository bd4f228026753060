// Where script output goes. The host publishes the window as the state's
// global TOOL_VIEW_WIN (a light userdata that points at an IPrintSink, set
// with CICECmd::SetGlobalObject); while the global holds that pointer, print
// reaches it. Any other value, or a state without it, drops the output.
#pragma once

#include <string_view>

struct lua_State;

constexpr const char* kPrintSinkGlobal = "TOOL_VIEW_WIN";

class IPrintSink {
 public:
  virtual ~IPrintSink() = default;
  // Appends `text` (UTF-8, may hold line ends) at the end of the output.
  virtual void PrintText(std::string_view text) = 0;
};

// The sink that the host of `L` published as TOOL_VIEW_WIN, while the global
// still holds it; else null. Runs inside a script call (it allocates).
IPrintSink* FindPrintSink(lua_State* L);

// Sends `text` to the sink of `L`; dropped when there is none.
void ScriptPrint(lua_State* L, std::string_view text);
