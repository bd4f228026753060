// The binding tables as the one description of what scripts see: ice's help
// listing in its fixed order, argument errors named after the table entry,
// ext made from its table, the globals table against the globals a state
// really has, and a reference that documents every entry and matches the
// committed docs/scripting.md.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "script/ExtLib.h"
#include "script/LuaICE.h"
#include "script/LuaPartNum.h"
#include "script/ScriptGlobals.h"
#include "script/ScriptReference.h"
#include "tests/script/ScriptTestUtil.h"

namespace {

TEST(BindingTables, IceHelpListsEveryMethodAndConstantInOrder) {
  alignas(16) static char fakeAdapter[16];  // GetHelp never reaches the adapter
  CICECmd host;
  ASSERT_TRUE(host.InitScript(reinterpret_cast<CICE*>(fakeAdapter), nullptr, nullptr));
  const std::string want =
      "Function list of ice:\n"
      "  GetVersion\n  GetHelp\n  OpenPort\n  ClosePort\n  SetParam\n  ReadICEMem32\n"
      "  ReadICEMemMulti\n  ResetCmdSerial\n  ReadReg\n  WriteReg\n  ReadMem32\n  WriteMem32\n"
      "  ReadMemMulti\n  WriteMemMulti\n  ReadMem\n  WriteMem\n  CheckUSBLink\n  CheckLink\n"
      "  ReadDbgID\n  MCUConnect\n  CheckMCUStop\n  MCUStepRun\n  MCUStopRun\n  MCUFreeRun\n"
      "  GetMCUState\n  SetConfig\n  ReadFlash\n  SelectBox\n  MessageBox\n  LoadDwarf\n"
      "  UnLoadDwarf\n  DwarfGetText\n  SetEtmc\n  GetEtmcState\n  SwoMode\n  SwoStatus\n  SwoData\n"
      "Constant list of ice:\n"
      "  RESET_AUTO = 0\n  RESET_HW = 1\n  RESET_SYSRESETREQ = 2\n  RESET_VECTRESET = 3\n"
      "  RESET_FAST_RESCUE = 4\n  RESET_NONE = 5\n  RESET_NONE2 = 6\n"
      "  CONNECT_NORMAL = 0\n  CONNECT_PRE_RESET = 1\n  CONNECT_UNDER_RESET = 2\n  CONNECT_NONE = 3\n"
      "  CONNECT_DISCONNECT = 4\n  CONNECT_ICP_MODE = 5\n"
      "  PROCESSOR_STOP = 0\n  PROCESSOR_RUN = 1\n  PROCESSOR_IDLE = 2\n  PROCESSOR_POWER_DOWN = 3\n"
      "  ETMC_STATE_STOP = 0\n  ETMC_STATE_RUN = 1\n  ETMC_STATE_IDLE = 2\n  ETMC_STATE_OVERFLOW = 3\n"
      "  PORT_CHIP_TYPE_VOLINK1 = 0\n  PORT_CHIP_TYPE_VOLINK2 = 1\n  PORT_CHIP_TYPE_VOLINK3 = 2\n"
      "  DESIGN_ID_VOLINK2_ME = 0\n  DESIGN_ID_VOLINK2 = 1\n  DESIGN_ID_VOLINK2_V3 = 17\n"
      "  DESIGN_ID_VOTRACE = 3\n  DESIGN_ID_VOLINK2_PRO = 5\n  DESIGN_ID_VOLINK2_LITE = 9\n"
      "  DESIGN_ID_NONE = 4294967295\n"
      "  SWO_MODE_OFF = 0\n  SWO_MODE_UART = 1\n  SWO_MODE_MANCH = 2\n"
      "  SWO_STATUS_ACTIVE = 1\n  SWO_STATUS_PAUSED = 2\n  SWO_STATUS_ERROR = 64\n  SWO_STATUS_OVERRUN = 128\n";
  EXPECT_EQ(Eval(host, "ice:GetHelp()"), want);

  CICECmd user;
  ASSERT_TRUE(user.InitUserScript(reinterpret_cast<CICE*>(fakeAdapter), nullptr, nullptr));
  EXPECT_EQ(Eval(user, "(function() local t = {} for k, v in pairs(VoLink) do "
                       "if type(v) == 'function' then t[#t + 1] = k end end "
                       "table.sort(t) return table.concat(t, ' ') end)()"),
            "AdcScan GpioInput GpioOutput PwmCapture PwmOutput ReadMem32 WriteMem32");
}

// Argument errors carry the name of the method that was called, whichever
// helper of which object found the fault.
TEST(BindingTables, ArgumentErrorsNameTheCalledMethod) {
  CICECmd host;
  ASSERT_TRUE(host.InitScript(nullptr, nullptr, nullptr));
  for (const char* call : {"GetPartNumByPID()", "GetPartNumByPID(2, 1)", "GetPartNumByUCID(5)",
                           "IsSupportedPID_8051('x')"}) {
    const std::string name = std::string(call).substr(0, std::string(call).find('('));
    EXPECT_EQ(RunChunk(host, std::string("pn:") + call), name + ": argument error") << call;
  }
}

// Each ext variant carries exactly its table rows as functions, LuaBitOp's
// included.
TEST(BindingTables, ExtIsMadeFromItsTable) {
  for (const bool pinView : {true, false}) {
    SCOPED_TRACE(pinView ? "pin view" : "user");
    CICECmd host;
    ASSERT_TRUE(pinView ? host.InitScript(nullptr, nullptr, nullptr)
                        : host.InitUserScript(nullptr, nullptr, nullptr));
    std::vector<std::string> names;
    for (const ExtFunction& f : ExtFunctions())
      if (f.variants & (pinView ? kExtPinView : kExtUser)) names.emplace_back(f.name);
    std::sort(names.begin(), names.end());
    std::string want;
    for (const std::string& n : names) want += (want.empty() ? "" : " ") + n;
    EXPECT_EQ(Eval(host, "(function() local t = {} for k, v in pairs(ext) do "
                         "if type(v) == 'function' then t[#t + 1] = k end end "
                         "table.sort(t) return table.concat(t, ' ') end)()"),
              want);
    EXPECT_GE(names.size(), 14u);
  }
}

// The globals of each kind of state, beyond Lua 5.1's own, are exactly the
// table's (the view's own two aside, which the host does not set).
TEST(BindingTables, GlobalsTableListsWhatEachStateHolds) {
  const std::set<std::string> lua51{"_G", "_VERSION", "assert", "collectgarbage", "dofile", "error", "gcinfo",
                                    "getfenv", "getmetatable", "ipairs", "load", "loadfile", "loadstring", "module",
                                    "newproxy", "next", "pairs", "pcall", "print", "rawequal", "rawget", "rawset",
                                    "require", "select", "setfenv", "setmetatable", "tonumber", "tostring", "type",
                                    "unpack", "xpcall", "coroutine", "package", "table", "io", "os", "string",
                                    "math", "debug"};
  alignas(16) static char fakeAdapter[16];  // set-up never reaches the adapter
  CICE* adapter = reinterpret_cast<CICE*>(fakeAdapter);
  TempDir dir;
  const std::string empty = dir.Write("empty.lua", "");
  struct Kind {
    ScriptStateKind kind;
    bool pinView;
    CICE* adapter;
    const char* host;
    const char* appDir;
  };
  for (const Kind& k : {Kind{kStatePinView, true, adapter, "Gadrel", "/app"},
                        Kind{kStateUser, false, adapter, "Gadrel_User", nullptr},
                        Kind{kStateCommandLine, false, nullptr, "Gadrel_User_Cmd", nullptr}}) {
    SCOPED_TRACE(k.host);
    CICECmd host;
    ASSERT_TRUE(k.pinView ? host.InitScript(k.adapter, k.host, k.appDir)
                          : host.InitUserScript(k.adapter, k.host, k.appDir));
    ASSERT_TRUE(host.RunScriptFile(empty, false));
    std::set<std::string> extra;
    std::istringstream names(Eval(host, "(function() local t = {} for k in pairs(_G) do t[#t + 1] = k end "
                                        "return table.concat(t, ' ') end)()"));
    for (std::string n; names >> n;)
      if (!lua51.count(n)) extra.insert(n);
    std::set<std::string> listed, replaced;
    for (const ScriptGlobal& g : ScriptGlobals()) {
      if (!(g.states & k.kind) || g.setByView) continue;
      (lua51.count(g.name) ? replaced : listed).insert(g.name);
    }
    EXPECT_EQ(extra, listed);
    for (const std::string& n : replaced) EXPECT_EQ(Eval(host, "type(" + n + ")"), "function") << n;
  }
}

TEST(BindingTables, ReferenceDescribesEveryEntry) {
  const std::string md = ScriptReferenceMarkdown();
  struct Object {
    const char* name;
    const ScriptObjectType& type;
  };
  for (const Object& o : {Object{"ice", LuaICEType()}, Object{"VoLink", LuaICEUserType()},
                          Object{"pn", LuaPartNumType()}}) {
    for (const ScriptMethod& m : o.type.methods) {
      EXPECT_GT(std::string(m.description).size(), 10u) << o.name << ":" << m.name;
      EXPECT_NE(md.find("| `" + std::string(o.name) + ":" + m.name + "` |"), std::string::npos) << m.name;
    }
    for (const ScriptConstant& c : o.type.constants) {
      EXPECT_GT(std::string(c.description).size(), 10u) << o.name << "." << c.name;
      EXPECT_NE(md.find("| `" + std::string(o.name) + "." + c.name + "` | " + std::to_string(c.value) + " |"),
                std::string::npos)
          << c.name;
    }
  }
  for (const ExtFunction& f : ExtFunctions()) {
    EXPECT_GT(std::string(f.description).size(), 10u) << "ext." << f.name;
    EXPECT_NE(md.find("| `ext." + std::string(f.name) + "` |"), std::string::npos) << f.name;
  }
  for (const ScriptGlobal& g : ScriptGlobals()) {
    EXPECT_GT(std::string(g.description).size(), 10u) << g.name;
    EXPECT_NE(md.find("| `" + std::string(g.name) + "` |"), std::string::npos) << g.name;
  }
  for (const ScriptCallback& c : ScriptCallbacks()) {
    EXPECT_GT(std::string(c.description).size(), 10u) << c.name;
    EXPECT_NE(md.find("| `" + std::string(c.name) + "` |"), std::string::npos) << c.name;
  }
  // A bar inside a cell is escaped, so the row keeps its columns.
  EXPECT_NE(md.find("| `ice:ReadMemMulti` | addresses \\| address1"), std::string::npos);
  EXPECT_NE(md.find("`pn.PROJ_"), std::string::npos) << "the family entries are described";
}

// docs/scripting.md is the generated reference as committed; the build
// writes a fresh one into <build>/docs, and this test says when the two part.
TEST(BindingTables, CommittedReferenceIsTheGeneratedOne) {
  std::ifstream in(GADREL_SOURCE_DIR "/docs/scripting.md", std::ios::binary);
  ASSERT_TRUE(in) << "docs/scripting.md is missing";
  std::stringstream committed;
  committed << in.rdbuf();
  EXPECT_TRUE(committed.str() == ScriptReferenceMarkdown())
      << "docs/scripting.md differs from the binding tables; regenerate it with "
         "build/bin/gadrel-scriptdoc docs/scripting.md";
}

}  // namespace
