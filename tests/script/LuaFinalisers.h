// A Lua chunk for tests of code that must survive finalisers that raise.
#pragma once

// Lua that leaves the collector with a steady supply of finalisers that
// raise: every finaliser raises and leaves a new garbage proxy behind, and
// the collector runs a whole cycle at every allocation. From then on any
// allocation, in a script or in native code, runs one of them.
constexpr const char* kRaisingFinalisers = R"(
  local proto = newproxy(true)
  getmetatable(proto).__gc = function() newproxy(proto) error("finaliser raised") end
  collectgarbage("stop")
  for i = 1, 64 do newproxy(proto) end
  collectgarbage("setpause", 0)
  collectgarbage("setstepmul", 1000000)
  collectgarbage("restart")
)";

