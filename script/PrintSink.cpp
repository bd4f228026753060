#include "script/PrintSink.h"

#include <lua.hpp>

IPrintSink* FindPrintSink(lua_State* L) {
  lua_getglobal(L, "TOOL_VIEW_WIN");
  // Only a light userdata can be a published view: a full userdata is
  // something a script made (newproxy) and points at no sink.
  void* view = lua_type(L, -1) == LUA_TLIGHTUSERDATA ? lua_touserdata(L, -1) : nullptr;
  lua_pop(L, 1);
  return static_cast<IPrintSink*>(view);
}

void ScriptPrint(lua_State* L, std::string_view text) {
  IPrintSink* sink = FindPrintSink(L);
  if (sink == nullptr) return;
  try {
    sink->PrintText(text);
  } catch (...) {
    // Output is best effort; nothing may unwind through the interpreter.
  }
}
