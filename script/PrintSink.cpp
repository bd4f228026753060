#include "script/PrintSink.h"

#include <lua.hpp>

#include "script/CICECmd.h"

IPrintSink* FindPrintSink(lua_State* L) {
  // Only the very pointer the host published is a sink: a script can put any
  // light userdata it gets hold of (the hook object, an adapter from the
  // registry) into the global, and none of those is an output pane.
  const CICECmd* host = CICECmd::FromState(L);
  void* published = host != nullptr ? host->PublishedObject(kPrintSinkGlobal) : nullptr;
  if (published == nullptr) return nullptr;
  lua_pushstring(L, kPrintSinkGlobal);
  lua_rawget(L, LUA_GLOBALSINDEX);
  const bool same = lua_type(L, -1) == LUA_TLIGHTUSERDATA && lua_touserdata(L, -1) == published;
  lua_pop(L, 1);
  return same ? static_cast<IPrintSink*>(published) : nullptr;
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
