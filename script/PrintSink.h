// Where script output goes. The window that a script state publishes as its
// global TOOL_VIEW_WIN (a light userdata) must point at an IPrintSink; a
// state without that global drops its output.
#pragma once

#include <string_view>

struct lua_State;

class IPrintSink {
 public:
  virtual ~IPrintSink() = default;
  // Appends `text` (UTF-8, may hold line ends) at the end of the output.
  virtual void PrintText(std::string_view text) = 0;
};

// The sink that `L` publishes as TOOL_VIEW_WIN, or null.
IPrintSink* FindPrintSink(lua_State* L);

// Sends `text` to the sink of `L`; dropped when there is none.
void ScriptPrint(lua_State* L, std::string_view text);
