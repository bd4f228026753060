// The ext library (bit operations with LuaBitOp's semantics, sleep, print
// redirection) and the pn object as scripts see them.
#include <gtest/gtest.h>

#include "tests/script/ScriptTestUtil.h"

namespace {

TEST(Ext, BitOperationsFollowLuaBitOp) {
  CICECmd host;
  ASSERT_TRUE(host.InitScript(nullptr, nullptr, nullptr));
  // Results computed by hand from 32-bit two's complement arithmetic.
  struct Case {
    const char* expr;
    const char* value;
  } cases[] = {
      {"ext.tobit(0xffffffff)", "-1"},
      {"ext.tobit(2^32 + 5)", "5"},
      {"ext.tobit(-1)", "-1"},
      {"ext.tobit(2^31)", "-2147483648"},
      {"ext.bnot(0)", "-1"},
      {"ext.bnot(-2147483648)", "2147483647"},
      {"ext.band(-1, 0xff)", "255"},
      {"ext.band(0x12345678, 0xff00ff00)", "302011904"},
      {"ext.bor(0x80000000, 1)", "-2147483647"},
      {"ext.bor(1, 2, 4, 8)", "15"},
      {"ext.bxor(0xf0f0f0f0, 0xffffffff)", "252645135"},
      {"ext.lshift(1, 31)", "-2147483648"},
      {"ext.lshift(1, 32)", "1"},
      {"ext.rshift(-1, 28)", "15"},
      {"ext.rshift(0x80000000, 31)", "1"},
      {"ext.arshift(-256, 4)", "-16"},
      {"ext.arshift(0x7fffffff, 30)", "1"},
      {"ext.rol(0x12345678, 8)", "878082066"},
      {"ext.ror(0x12345678, 8)", "2014458966"},
      {"ext.bswap(0x12345678)", "2018915346"},
      {"ext.tohex(255, -4)", "00FF"},
      {"ext.tohex(255)", "000000ff"},
      {"ext.tohex(-1)", "ffffffff"},
      {"ext.tohex(2^32 + 0xabc, 3)", "abc"},
      {"ext.tohex(0x1234, 20)", "00001234"},
  };
  for (const Case& c : cases) EXPECT_EQ(Eval(host, c.expr), c.value) << c.expr;
}

TEST(Ext, VariantsAndNoGlobalBit) {
  struct Case {
    const char* name;
    bool pinView;
    bool user;
  } cases[] = {
      {"band", true, true},
      {"tohex", true, true},
      {"msleep", true, true},
      {"open_console", true, false},
      {"redirect_print_lumeth", true, false},
      {"redirect_print_voconsole", true, false},
      {"redirect_print_user", false, true},
  };
  CICECmd pin, user;
  ASSERT_TRUE(pin.InitScript(nullptr, nullptr, nullptr));
  ASSERT_TRUE(user.InitUserScript(nullptr, nullptr, nullptr));
  for (const Case& c : cases) {
    const std::string expr = std::string("type(ext.") + c.name + ")";
    EXPECT_EQ(Eval(pin, expr), c.pinView ? "function" : "nil") << c.name;
    EXPECT_EQ(Eval(user, expr), c.user ? "function" : "nil") << c.name;
  }
  for (CICECmd* host : {&pin, &user}) {
    EXPECT_EQ(Eval(*host, "bit"), "nil");
    EXPECT_EQ(Eval(*host, "package.loaded.bit"), "nil");
    EXPECT_EQ(Eval(*host, "package.loaded.ext == ext"), "true");
  }
  EXPECT_EQ(Eval(pin, "select('#', ext.open_console())"), "0");
  for (const char* call : {"ext.msleep(1)", "ext.msleep(-5)", "ext.msleep(0.9)"}) {
    EXPECT_EQ(Eval(pin, std::string("select('#', ") + call + ")"), "0") << call;
  }
}

TEST(Ext, PrintGoesToThePublishedSink) {
  RecordingSink sink;
  CICECmd pin, user;
  ASSERT_TRUE(pin.InitScript(nullptr, nullptr, nullptr));
  ASSERT_TRUE(user.InitUserScript(nullptr, nullptr, nullptr));

  // Without a published view the text is dropped quietly.
  EXPECT_EQ(RunChunk(user, "print('lost')"), "");
  EXPECT_EQ(RunChunk(pin, "TOOL_VIEW_WIN = newproxy(true); ext.redirect_print_lumeth('x')"), "")
      << "a script-made userdata is no view";
  EXPECT_EQ(sink.m_text, "");

  ASSERT_TRUE(user.SetGlobalObject("TOOL_VIEW_WIN", static_cast<IPrintSink*>(&sink)));
  ASSERT_TRUE(pin.SetGlobalObject("TOOL_VIEW_WIN", static_cast<IPrintSink*>(&sink)));
  EXPECT_EQ(RunChunk(user, "print(1, nil, 'x')"), "");
  EXPECT_EQ(sink.m_text, "1\tnil\tx\n");
  sink.m_text.clear();
  EXPECT_EQ(RunChunk(pin, "ext.redirect_print_voconsole('a'); ext.redirect_print_voconsole('b')"),
            "");
  EXPECT_EQ(sink.m_text, "ab");
  sink.m_text.clear();
  EXPECT_EQ(RunChunk(pin, "ext.redirect_print_lumeth(); ext.redirect_print_lumeth(2.5, true)"), "");
  EXPECT_EQ(sink.m_text, "\n2.5\ttrue\n");

  sink.m_text.clear();
  const std::string err = RunChunk(user, "tostring = function() return {} end; print('a')");
  EXPECT_NE(err.find("'tostring' must return a string to 'print'"), std::string::npos) << err;
  EXPECT_EQ(sink.m_text, "");
}

TEST(PartNumObject, AsScriptsSeeIt) {
  CICECmd host;
  ASSERT_TRUE(host.InitScript(nullptr, nullptr, nullptr));
  EXPECT_EQ(Eval(host, "(function() local n = 0 for k in pairs(pn) do "
                       "if type(k) == 'string' and k:sub(1, 5) == 'PROJ_' then n = n + 1 end "
                       "end return n end)()"),
            "97");
  EXPECT_EQ(Eval(host, "pn.CORE_CM .. pn.CORE_C51 .. pn.CORE_CM_PLOSK"), "012");
  EXPECT_EQ(Eval(host, "select('#', pn:GetPartNumByPID(3, 1))"), "0");
  EXPECT_EQ(Eval(host, "table.concat({pn:GetPartNumByPID(pn.CORE_CM, 0x1234)}, ',')"),
            "[00001234],0");
  EXPECT_EQ(Eval(host, "pn:GetPartNumByPID(pn.CORE_CM, 0x00D41200)"), "GX32M412VE");
  EXPECT_EQ(Eval(host, "pn:GetPartNumByPID(pn.CORE_C51, 0x00002B52)"), "GX8051T24");
  EXPECT_EQ(Eval(host, "pn:GetPartNumByPID(pn.CORE_CM_PLOSK, 0x00A30000, 0x00010100)"),
            "GX32P100");
  EXPECT_EQ(Eval(host, "select(2, pn:GetPartNumByPID(pn.CORE_CM, 0x00D41200)) == "
                       "pn.PROJ_GX32M412"),
            "true");
  EXPECT_EQ(Eval(host, "pn:GetPartNumByUCID({})"), "");
  EXPECT_EQ(Eval(host, "pn:GetPartNumByUCID({1, 2, 3, 0}, 0xab)"), "[000000AB]");
  EXPECT_EQ(Eval(host, "pn:IsSupportedPID_8051(0x1247)"), "true");
  EXPECT_EQ(Eval(host, "pn:IsSupportedPID_8051(0x50)"), "false");
  for (const char* call : {"pn:GetPartNumByPID()", "pn:GetPartNumByPID(0)",
                           "pn:GetPartNumByPID(2, 1)", "pn:GetPartNumByUCID(5)",
                           "pn:IsSupportedPID_8051('x')"}) {
    EXPECT_NE(Eval(host, call).find(": argument error"), std::string::npos) << call;
  }
}

}  // namespace

namespace {

// The parts of `ice` that never reach the adapter.
TEST(IceObject, ConstantsHelpAndStubs) {
  alignas(16) static char fakeAdapter[16];  // never dereferenced by these methods
  CICECmd host;
  ASSERT_TRUE(host.InitScript(reinterpret_cast<CICE*>(fakeAdapter), "Gadrel", nullptr));
  EXPECT_EQ(Eval(host, "type(ice)"), "table");
  EXPECT_EQ(Eval(host, "ice.DESIGN_ID_NONE"), "4294967295");
  EXPECT_EQ(Eval(host, "ice.DESIGN_ID_VOLINK2_V3 + ice.SWO_STATUS_OVERRUN"), "145");
  EXPECT_EQ(Eval(host, "table.concat({ice:GetVersion()}, ' ')"), "7972 7973 r");
  EXPECT_EQ(Eval(host, "ice:LoadDwarf()"), "false");
  EXPECT_EQ(Eval(host, "select('#', ice:DwarfGetText()) .. ice:DwarfGetText()"), "3");
  const std::string help = Eval(host, "ice:GetHelp()");
  EXPECT_EQ(help.rfind("Function list of ice:\n  GetVersion\n", 0), 0u) << help;
  EXPECT_NE(help.find("Constant list of ice:\n  RESET_AUTO = 0\n"), std::string::npos);
  EXPECT_NE(help.find("  DESIGN_ID_NONE = 4294967295\n"), std::string::npos);

  CICECmd user;
  ASSERT_TRUE(user.InitUserScript(reinterpret_cast<CICE*>(fakeAdapter), nullptr, nullptr));
  EXPECT_EQ(Eval(user, "type(VoLink)"), "table");
  EXPECT_EQ(Eval(user, "VoLink.DESIGN_ID_NONE"), "nil") << "the user object has no constants";
}

}  // namespace
