// Script host: set-up of both state kinds, running files, calling script
// functions, aborting, pumping and the object binding machinery.
#include <cmath>
#include <memory>

#include <gtest/gtest.h>

#include "platform/UserInteraction.h"
#include "script/ScriptBinding.h"
#include "tests/script/ScriptTestUtil.h"

namespace {

// A user interface that only pumps, and asks the host to abort after a few
// pumps, as a window's close request would.
class AbortingPump : public IUserInteraction {
 public:
  explicit AbortingPump(CICECmd& host, int abortAfter) : m_host(host), m_abortAfter(abortAfter) {}
  Answer MessageBox(const std::string&, const std::string&, Icon, Buttons, void*) override {
    return Answer::Ok;
  }
  int SelectBox(const std::string&, const std::vector<std::string>&, int) override { return -1; }
  void PumpEvents() override {
    if (++m_pumps == m_abortAfter) m_host.RequestAbort();
  }
  int m_pumps = 0;

 private:
  CICECmd& m_host;
  int m_abortAfter;
};

TEST(ScriptHost, PinViewStateWithoutAdapter) {
  CICECmd host;
  ASSERT_TRUE(host.InitScript(nullptr, "Gadrel", "/opt/gadrel"));
  EXPECT_EQ(Eval(host, "ice"), "nil");
  EXPECT_EQ(Eval(host, "LuaICE__"), "nil");
  EXPECT_EQ(Eval(host, "type(pn)"), "table");
  EXPECT_EQ(Eval(host, "type(CICECmd_HOOK_OBJECT)"), "userdata");
  EXPECT_EQ(Eval(host, "SCRIPT_APP_HOST"), "Gadrel");
  EXPECT_EQ(Eval(host, "SCRIPT_APP_DIR"), "/opt/gadrel");
  EXPECT_EQ(Eval(host, "print == ext.redirect_print_user"), "false");
  for (const char* lib : {"package", "table", "io", "os", "string", "math", "debug", "ext"}) {
    EXPECT_EQ(Eval(host, std::string("type(") + lib + ")"), "table") << lib;
  }
}

TEST(ScriptHost, UserStateWithoutAdapter) {
  CICECmd host;
  ASSERT_TRUE(host.InitUserScript(nullptr, "Gadrel_User", nullptr));
  EXPECT_EQ(Eval(host, "pn"), "nil");
  EXPECT_EQ(Eval(host, "VoLink"), "nil");
  EXPECT_EQ(Eval(host, "print == ext.redirect_print_user"), "true");
  EXPECT_EQ(Eval(host, "SCRIPT_APP_HOST"), "Gadrel_User");
  EXPECT_EQ(Eval(host, "SCRIPT_APP_DIR"), "nil");
}

TEST(ScriptHost, RunScriptFileResults) {
  TempDir dir;
  struct Case {
    const char* name;
    const char* text;
    bool ok;
    const char* errorPart;
  } cases[] = {
      {"good.lua", "x = 42", true, ""},
      {"syntax.lua", "x = = 1", false, "unexpected symbol"},
      {"runtime.lua", "error('boom')", false, "boom"},
      {"table_error.lua", "error({})", false, "error object is a table value"},
      {"number_error.lua", "error(7)", false, "7"},
  };
  for (const Case& c : cases) {
    CICECmd host;
    ASSERT_TRUE(host.InitUserScript(nullptr, nullptr, nullptr));
    EXPECT_EQ(host.RunScriptFile(dir.Write(c.name, c.text), false), c.ok) << c.name;
    EXPECT_NE(host.GetLastScriptError().find(c.errorPart), std::string::npos)
        << c.name << ": " << host.GetLastScriptError();
    EXPECT_NE(host.GetLuaState(), nullptr) << "an error keeps the state open";
  }

  CICECmd host;
  ASSERT_TRUE(host.InitUserScript(nullptr, nullptr, nullptr));
  EXPECT_FALSE(host.RunScriptFile((dir.Path() / "missing.lua").string(), false));
  EXPECT_NE(host.GetLastScriptError().find("cannot open"), std::string::npos);
  EXPECT_FALSE(host.RunScriptFile("", false));

  CICECmd closed;
  EXPECT_FALSE(closed.RunScriptFile(dir.Write("c.lua", "x = 1"), false));
}

TEST(ScriptHost, ScriptDirectoryAndRerun) {
  TempDir dir;
  CICECmd host;
  ASSERT_TRUE(host.InitUserScript(nullptr, nullptr, nullptr));
  const std::string path = dir.Write("count.lua", "runs = (runs or 0) + 1");
  ASSERT_TRUE(host.RunScriptFile(path, false));
  EXPECT_EQ(Eval(host, "SCRIPT_DIRECTORY"), dir.Path().string());
  ASSERT_TRUE(host.RunScriptFile(path, false));
  EXPECT_EQ(Eval(host, "runs"), "2") << "a second run sees the globals of the first";

  // The folder, absolute, whatever form the path takes; paths that fail to
  // load still set it first.
  const std::string cwd = std::filesystem::current_path().string();
  struct Case {
    std::string path;
    std::string dir;
  } cases[] = {{"plain.lua", cwd},
               {"./plain.lua", cwd},
               {"", cwd},
               {"a/./b/../c.lua", cwd + "/a"},
               {"a\\b\\c.lua", cwd + "/a\\b"},
               {"a/b\\c.lua", cwd + "/a/b"},
               {"/x.lua", "/"},
               {dir.Path().string() + "//sub/", dir.Path().string() + "/sub"}};
  for (const Case& c : cases) {
    host.RunScriptFile(c.path, false);
    EXPECT_EQ(Eval(host, "SCRIPT_DIRECTORY"), c.dir) << c.path;
  }
}

TEST(ScriptHost, CallScriptFunction) {
  TempDir dir;
  CICECmd host;
  EXPECT_FALSE(host.CallScriptFunction("f", nullptr)) << "no state";
  ASSERT_TRUE(host.InitScript(nullptr, nullptr, nullptr));
  ASSERT_EQ(RunChunk(host, R"(
      function yes() return true end
      function one() return 1 end
      function str() return "true" end
      function none() end
      function fails() error("x") end
      function args(f, i, v, s)
        return f == 1.5 and i == -7 and v[0] == -1 and #v == 3 and v[1] == 1 and v[3] == 255
               and s == "abc"
      end)"),
            "");
  struct Case {
    const char* name;
    bool result;
  } cases[] = {{"yes", true}, {"one", false}, {"str", false},
               {"none", false}, {"fails", false}, {"missing", false}};
  for (const Case& c : cases) EXPECT_EQ(host.CallScriptFunction(c.name, ""), c.result) << c.name;

  const std::vector<uint8_t> bytes{1, 2, 255};
  EXPECT_TRUE(host.CallScriptFunction("args", "fivs", 1.5, -7, &bytes, "abc"));
  EXPECT_EQ(lua_gettop(host.GetLuaState()), 0) << "calls leave the stack as they found it";
}

TEST(ScriptHost, SetGlobalObject) {
  CICECmd host;
  int anchor = 0;
  EXPECT_FALSE(host.SetGlobalObject("X", &anchor));
  ASSERT_TRUE(host.InitScript(nullptr, nullptr, nullptr));
  EXPECT_FALSE(host.SetGlobalObject(nullptr, &anchor));
  EXPECT_TRUE(host.SetGlobalObject("X", &anchor));
  EXPECT_EQ(Eval(host, "type(X)"), "userdata");
}

// An endless script stops when the pump callback asks for an abort, whatever
// the script does to stay alive.
TEST(ScriptHost, AbortFromPumpEndsEndlessScripts) {
  TempDir dir;
  const char* scripts[] = {
      "while true do end",
      "local function f() while true do end end\nwhile true do pcall(f) end",
      "CICECmd_HOOK_OBJECT = nil\nwhile true do end",
      "local co = coroutine.wrap(function() while true do end end)\nwhile true do pcall(co) end",
      "while true do xpcall(function() while true do end end, function(e) return e end) end",
  };
  for (const char* text : scripts) {
    CICECmd host;
    AbortingPump pump(host, 3);
    host.SetUserInteraction(&pump);
    ASSERT_TRUE(host.InitUserScript(nullptr, nullptr, nullptr));
    EXPECT_FALSE(host.RunScriptFile(dir.Write("loop.lua", text), true)) << text;
    EXPECT_EQ(host.GetLastScriptError(), "abort by host") << text;
    EXPECT_EQ(host.GetLuaState(), nullptr) << "an aborted state is closed";
    EXPECT_FALSE(host.IsScriptRunning());
    EXPECT_FALSE(host.RunScriptFile(dir.Write("again.lua", "x = 1"), false));
  }
}

TEST(ScriptHost, PumpsOnlyWhenAsked) {
  TempDir dir;
  CICECmd host;
  AbortingPump pump(host, -1);
  host.SetUserInteraction(&pump);
  ASSERT_TRUE(host.InitUserScript(nullptr, nullptr, nullptr));
  // About 30 ms of work: several pump slices with pumping, none without.
  const std::string path = dir.Write(
      "busy.lua", "local t = os.clock() while os.clock() - t < 0.03 do end");
  ASSERT_TRUE(host.RunScriptFile(path, false));
  EXPECT_EQ(pump.m_pumps, 0);
  ASSERT_TRUE(host.RunScriptFile(path, true));
  EXPECT_GT(pump.m_pumps, 0);
  EXPECT_LT(pump.m_pumps, 100) << "pumping is time-sliced, not per hook call";
}

// ---- binding machinery, through a test type ----

int g_liveWrappers = 0;

class CTestWrapper : public CLuaObject {
 public:
  explicit CTestWrapper(void* param) : m_param(param) { ++g_liveWrappers; }
  ~CTestWrapper() override { --g_liveWrappers; }
  int Param(lua_State* L) {
    lua_pushboolean(L, m_param != nullptr);
    return 1;
  }
  int Twice(lua_State* L) {
    uint32_t v = 0;
    if (!ArgU32(L, 2, v)) return RaiseArgumentError(L, "Twice");
    PushU32(L, v * 2);
    return 1;
  }
  int Fail(lua_State*) { throw std::runtime_error("adapter gone"); }

 private:
  void* m_param;
};

const ScriptMethod kTestMethods[] = {
    {"Param", ScriptMember<CTestWrapper, &CTestWrapper::Param>},
    {"Twice", ScriptMember<CTestWrapper, &CTestWrapper::Twice>},
    {"Fail", ScriptMember<CTestWrapper, &CTestWrapper::Fail>},
};
const ScriptConstant kTestConstants[] = {{"MINUS_ONE", 0xFFFFFFFFu}, {"SEVEN", 7}};
const ScriptObjectType kTestType{
    "TestObj__", kTestMethods, kTestConstants,
    [](void* p) -> std::unique_ptr<CLuaObject> { return std::make_unique<CTestWrapper>(p); }};

TEST(ScriptBinding, ObjectsMethodsConstantsAndCollection) {
  int native = 0;
  CICECmd host;
  ASSERT_TRUE(host.InitScript(nullptr, nullptr, nullptr));
  RegisterScriptType(host.GetLuaState(), kTestType, &native);
  ASSERT_EQ(RunChunk(host, "a = TestObj__(); b = TestObj__()"), "");
  EXPECT_EQ(g_liveWrappers, 2);
  EXPECT_EQ(Eval(host, "a ~= b"), "true") << "every construction gives a fresh table";
  EXPECT_EQ(Eval(host, "a:Param()"), "true") << "bound to my_param__";
  EXPECT_EQ(Eval(host, "a:Twice(21)"), "42");
  EXPECT_EQ(Eval(host, "a:Twice('4')"), "8") << "numeric strings pass the number test";
  EXPECT_EQ(Eval(host, "a.MINUS_ONE"), "4294967295");
  EXPECT_EQ(Eval(host, "a.SEVEN"), "7");

  struct Case {
    const char* call;
    const char* error;
  } errors[] = {
      {"a:Twice()", "Twice: argument error"},
      {"a:Twice(0/0)", "Twice: argument error"},
      {"a:Twice(1e300)", "Twice: argument error"},
      {"a.Twice(5)", "attempt to index a number value"},
      {"a.Twice({})", "TestObj__ expected"},
      {"a:Fail()", "Fail: adapter gone"},
  };
  for (const Case& c : errors) {
    const std::string err = RunChunk(host, std::string("return ") + c.call);
    EXPECT_NE(err.find(c.error), std::string::npos) << c.call << " gave: " << err;
  }

  ASSERT_EQ(RunChunk(host, "a = nil; collectgarbage(); collectgarbage()"), "");
  EXPECT_EQ(g_liveWrappers, 1) << "collecting one object deletes only its wrapper";
  host.CloseScript();
  EXPECT_EQ(g_liveWrappers, 0);
}

TEST(ScriptBinding, NumberRule) {
  struct Case {
    double in;
    bool ok;
    uint32_t out;
  } cases[] = {
      {0.0, true, 0},
      {0.5, true, 1},
      {1.49, true, 1},
      {-0.5, true, 0xFFFFFFFF},
      {-1.5, true, 0xFFFFFFFE},
      {-2.6, true, 0xFFFFFFFD},
      {4294967295.0, true, 0xFFFFFFFF},
      {4294967296.0, true, 0},
      {1099511627779.0, true, 3},  // 2^40 + 3: low 32 bits
      {-2147483648.0, true, 0x80000000},
      {std::nan(""), false, 0},
      {INFINITY, false, 0},
      {-INFINITY, false, 0},
      {1e19, false, 0},
      {-1e19, false, 0},
  };
  for (const Case& c : cases) {
    uint32_t out = 12345;
    EXPECT_EQ(NumberToU32(c.in, out), c.ok) << c.in;
    if (c.ok) {
      EXPECT_EQ(out, c.out) << c.in;
    }
  }
}

}  // namespace

namespace {

// A script may guard its globals with metamethods that raise ("strict"
// modules do). The host's own reads and writes of globals happen outside any
// protected call and must not let such a raise take the process down.
TEST(ScriptHost, GuardedGlobalsTableDoesNotEscape) {
  TempDir dir;
  CICECmd host;
  ASSERT_TRUE(host.InitScript(nullptr, nullptr, nullptr));
  const std::string strict = dir.Write("strict.lua", R"(
      function ok() return true end
      setmetatable(_G, {
        __index = function(_, k) error("undeclared global " .. tostring(k), 2) end,
        __newindex = function(_, k) error("assignment to undeclared global " .. tostring(k), 2) end,
      }))");
  ASSERT_TRUE(host.RunScriptFile(strict, false)) << host.GetLastScriptError();
  EXPECT_TRUE(host.RunScriptFile(dir.Write("again.lua", "assert(SCRIPT_DIRECTORY)"), false))
      << host.GetLastScriptError();
  EXPECT_TRUE(host.SetGlobalObject("TOOL_VIEW_WIN", &host));
  EXPECT_TRUE(host.CallScriptFunction("ok", ""));
  EXPECT_FALSE(host.CallScriptFunction("missing", "")) << "a raising lookup is a missing function";
}

}  // namespace
