// Scripts that try to take the program down: finalisers that raise while
// native code works on the state, forged output sinks, endless loops that
// dodge the abort, and calls that name the wrong object.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>

#include "platform/UserInteraction.h"
#include "tests/script/ChildProcess.h"
#include "tests/script/ScriptTestUtil.h"

namespace {

// Every host entry that works on the state from native code, run while
// raising finalisers are pending. An unprotected allocation there ends the
// process with an interpreter panic; the host must carry on instead.
TEST(HostileScripts, RaisingFinalisersNeverEndTheProcess) {
  struct Case {
    const char* name;
    bool pinView;
    const char* script;  // runs before the finalisers are set up
    std::function<std::string(CICECmd&, const TempDir&)> then;
  };
  const Case cases[] = {
      {"running another file", true, "",
       [](CICECmd& host, const TempDir& dir) {
         const std::string next = dir.Write("next.lua", "x = 1");
         for (int i = 0; i < 20; ++i) host.RunScriptFile(next, false);
         return std::string();
       }},
      {"calling a function with arguments", true, "function f(s, n) return true end",
       [](CICECmd& host, const TempDir&) {
         // A raising finaliser leaves the collector idle until the heap has
         // doubled; distinct strings get it there.
         for (int i = 0; i < 5000; ++i) host.CallScriptFunction("f", "si", ("text " + std::to_string(i)).c_str(), i);
         return std::string();
       }},
      {"setting globals", true, "",
       [](CICECmd& host, const TempDir&) {
         static int anchor;
         for (int i = 0; i < 20; ++i) {
           host.SetGlobalObject(("OBJECT_" + std::to_string(i)).c_str(), &anchor);
           host.SetGlobalString(("TEXT_" + std::to_string(i)).c_str(), "value");
         }
         return std::string();
       }},
      {"a run that fails with a number", false, "",
       [](CICECmd& host, const TempDir&) {
         return host.GetLastScriptError().find("42") != std::string::npos
                    ? std::string()
                    : "last error: " + host.GetLastScriptError();
       }},
      {"setting up a new state over the old one", true, "",
       [](CICECmd& host, const TempDir&) {
         return host.InitUserScript(nullptr, "again", nullptr) ? std::string() : "no state";
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_SURVIVES_IN_CHILD(20, [&] {
      TempDir dir;
      CICECmd host;
      if (!(c.pinView ? host.InitScript(nullptr, "Gadrel", "/app") : host.InitUserScript(nullptr, "User", nullptr))) {
        return std::string("no state");
      }
      host.RunScriptFile(dir.Write("bombs.lua", c.script + std::string(kRaisingFinalisers) + (c.pinView ? "" : "error(42, 0)")), false);
      return c.then(host, dir);
    });
  }
}

}  // namespace

namespace {

// A script may store any light userdata it can reach in TOOL_VIEW_WIN. Only
// the pointer the host published is an output pane; anything else drops the
// text, as a missing view does.
TEST(HostileScripts, ForgedOutputSinksDropTheText) {
  alignas(16) static char fakeAdapter[16];  // never dereferenced by these scripts
  const char* forgeries[] = {
      "TOOL_VIEW_WIN = CICECmd_HOOK_OBJECT",
      "TOOL_VIEW_WIN = debug.getregistry().LuaICE__.my_param__",
      "TOOL_VIEW_WIN = debug.getregistry().LuaPartNum__.my_param__",
      "TOOL_VIEW_WIN = newproxy(true)",
      "TOOL_VIEW_WIN = nil",
  };
  for (const char* forgery : forgeries) {
    SCOPED_TRACE(forgery);
    RecordingSink sink;
    CICECmd host;
    ASSERT_TRUE(host.InitScript(reinterpret_cast<CICE*>(fakeAdapter), "Gadrel", nullptr));
    ASSERT_TRUE(host.SetGlobalObject("TOOL_VIEW_WIN", static_cast<IPrintSink*>(&sink)));
    EXPECT_EQ(RunChunk(host, "published = TOOL_VIEW_WIN; ext.redirect_print_lumeth('before')"), "");
    EXPECT_EQ(RunChunk(host, std::string(forgery) + "; ext.redirect_print_lumeth(1)"), "");
    EXPECT_EQ(sink.m_text, "before\n");
    EXPECT_EQ(RunChunk(host, "TOOL_VIEW_WIN = published; ext.redirect_print_lumeth('after')"), "");
    EXPECT_EQ(sink.m_text, "before\nafter\n") << "the published pointer put back prints again";
  }
}

constexpr auto kShortLimit = std::chrono::milliseconds(100);

// Endless pin-script calls end at the host's time limit, whatever the script
// does to stay alive; what it defined before stays, and the next call runs
// normally.
TEST(HostileScripts, EndlessPinScriptCallsStopAtTheTimeLimit) {
  struct Case {
    const char* name;
    const char* script;  // run as a file
    const char* call;    // then called, when set
  };
  const Case cases[] = {
      {"main chunk", "while true do end", nullptr},
      {"main chunk catching the stop", "while true do pcall(function() while true do end end) end", nullptr},
      {"error handler that loops",
       "while true do xpcall(function() while true do end end, function() while true do end end) end", nullptr},
      {"hook removed", "debug.sethook() while true do end", nullptr},
      {"hook replaced", "debug.sethook(function() while true do end end, '', 1) while true do end", nullptr},
      {"coroutine", "local co = coroutine.wrap(function() while true do end end) while true do pcall(co) end",
       nullptr},
      {"long sleep", "ext.msleep(1e9)", nullptr},
      {"called function", "function spin() while true do end end", "spin"},
      {"called function removing the hook", "function spin() debug.sethook() while true do end end", "spin"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_SURVIVES_IN_CHILD(30, [&]() -> std::string {
      TempDir dir;
      CICECmd host;
      host.SetCallTimeLimit(kShortLimit);
      if (!host.InitScript(nullptr, "Gadrel", nullptr)) return "no state";
      if (!host.RunScriptFile(dir.Write("before.lua", "defined = 'yes'"), false)) return "first run failed";
      const bool ranFile = host.RunScriptFile(dir.Write("hostile.lua", c.script), false);
      if (c.call == nullptr) {
        if (ranFile) return "the endless run succeeded";
      } else {
        if (!ranFile) return "defining failed: " + host.GetLastScriptError();
        if (host.CallScriptFunction(c.call, "")) return "the endless call succeeded";
      }
      if (!host.LastCallTimedOut()) return "not stopped by the time limit: " + host.GetLastScriptError();
      if (host.GetLastScriptError().find("time limit of 0.1 s") == std::string::npos) {
        return "message: " + host.GetLastScriptError();
      }
      if (host.GetLuaState() == nullptr) return "the state was closed";
      if (Eval(host, "defined") != "yes") return "earlier definitions lost";
      if (!host.RunScriptFile(dir.Write("after.lua", "local n = 0 for i = 1, 1e5 do n = n + i end after = n"),
                              false)) {
        return "a normal run after the stop failed: " + host.GetLastScriptError();
      }
      if (host.LastCallTimedOut()) return "the flag stayed";
      return Eval(host, "after") == "5000050000" ? "" : "after: " + Eval(host, "after");
    });
  }
}

// A user script has no time limit, but closing the window must still be able
// to abort it, whatever it does to the host's hook.
TEST(HostileScripts, UserScriptsCannotDodgeTheAbort) {
  const char* scripts[] = {
      "debug.sethook() while true do end",
      "debug.sethook(function() end, 'l') while true do end",
      "while true do xpcall(function() while true do end end, function() while true do end end) end",
  };
  for (const char* script : scripts) {
    SCOPED_TRACE(script);
    EXPECT_SURVIVES_IN_CHILD(30, [&]() -> std::string {
      TempDir dir;
      CICECmd host;
      struct AbortAfterPumps : IUserInteraction {
        CICECmd* host = nullptr;
        int pumps = 0;
        Answer MessageBox(const std::string&, const std::string&, Icon, Buttons, void*) override { return Answer::Ok; }
        int SelectBox(const std::string&, const std::vector<std::string>&, int) override { return -1; }
        void PumpEvents() override {
          if (++pumps == 3) host->RequestAbort();
        }
      } pump;
      pump.host = &host;
      host.SetUserInteraction(&pump);
      if (!host.InitUserScript(nullptr, nullptr, nullptr)) return "no state";
      if (host.RunScriptFile(dir.Write("loop.lua", script), true)) return "the endless script succeeded";
      return host.GetLastScriptError() == "abort by host" ? "" : "last error: " + host.GetLastScriptError();
    });
  }
}

// A method called on a table that is not its object names the method and the
// type, however the call was written.
TEST(HostileScripts, MethodCalledOnAWrongTableNamesTheMethod) {
  alignas(16) static char fakeAdapter[16];
  CICECmd host;
  ASSERT_TRUE(host.InitScript(reinterpret_cast<CICE*>(fakeAdapter), nullptr, nullptr));
  struct Case {
    const char* call;
    const char* error;
  } cases[] = {
      {"pn.IsSupportedPID_8051({1, 2, 3})",
       "bad argument #1 to 'IsSupportedPID_8051' (LuaPartNum__ expected, got nil)"},
      {"local f = pn.GetPartNumByPID; f({[0] = 5})",
       "bad argument #1 to 'GetPartNumByPID' (LuaPartNum__ expected, got number)"},
      {"pcall(ice.GetVersion, {}) error(select(2, pcall(ice.GetVersion, {})))",
       "bad argument #1 to 'GetVersion' (LuaICE__ expected, got nil)"},
      {"ice.GetVersion({[0] = pn[0]})", "bad argument #1 to 'GetVersion' (LuaICE__ expected, got userdata)"},
  };
  for (const Case& c : cases) {
    const std::string err = RunChunk(host, c.call);
    EXPECT_NE(err.find(c.error), std::string::npos) << c.call << " gave: " << err;
  }
}

}  // namespace
