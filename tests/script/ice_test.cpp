// The ice and VoLink script objects against a private emulator: argument
// errors, adapter errors as script errors, results of every method group,
// and the exchanges a multi-word read costs.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <string>
#include <thread>
#include <vector>

#include "../ice/SimFixture.h"
#include "ScriptTestUtil.h"
#include "ice/CICEGlobalMutex.h"
#include "ice/CVoICE.h"
#include "platform/UserInteraction.h"
#include "script/LuaICE.h"

namespace {

// Answers every box at once and records what was asked.
class ScriptedUI : public IUserInteraction {
 public:
  Answer MessageBox(const std::string& caption, const std::string& text, Icon icon, Buttons,
                    void* owner) override {
    boxes.push_back(caption + "|" + text + "|" + (icon == Icon::Warning ? "warning" : "info"));
    lastOwner = owner;
    return Answer::Ok;
  }
  int SelectBox(const std::string& title, const std::vector<std::string>& options, int initial) override {
    selects.push_back(title + ":" + std::to_string(options.size()) + ":" + std::to_string(initial));
    return static_cast<int>(options.size()) - 1;
  }
  void PumpEvents() override {}
  std::vector<std::string> boxes, selects;
  void* lastOwner = nullptr;
};

// A pin host and a user host over one Cortex-M adapter object.
struct Hosts {
  CICEGlobalMutex owner;
  CVoICE ice{&owner};
  ScriptedUI ui;
  CICECmd pin, user;
  Hosts() {
    pin.SetUserInteraction(&ui);
    user.SetUserInteraction(&ui);
    ice.SetUserInteraction(&ui);
    pin.InitScript(&ice, "Gadrel", nullptr);
    user.InitUserScript(&ice, "Gadrel_User", nullptr);
  }
  ~Hosts() {
    pin.CloseScript();
    user.CloseScript();
  }
};

std::string Empty() { return R"({"adapters": []})"; }

}  // namespace

TEST(IceObject, ArgumentErrorsComeBeforeAnyAdapterTraffic) {
  SimProcess sim(Empty(), 0);
  Hosts h;
  const struct {
    std::string call;
    std::string method;
  } cases[] = {
      {"ice:SetParam('a')", "SetParam"},
      {"ice:SetParam(nil, 'x')", "SetParam"},
      {"ice:ReadICEMem32()", "ReadICEMem32"},
      {"ice:ReadICEMemMulti()", "ReadICEMemMulti"},
      {"ice:ReadICEMemMulti({})", "ReadICEMemMulti"},
      {"ice:ReadICEMemMulti({x = 1})", "ReadICEMemMulti"},
      {"ice:ReadReg()", "ReadReg"},
      {"ice:ReadReg('r1')", "ReadReg"},
      {"ice:WriteReg(1)", "WriteReg"},
      {"ice:ReadMem32()", "ReadMem32"},
      {"ice:ReadMem32(0, 33)", "ReadMem32"},
      {"ice:ReadMem32(0, -1)", "ReadMem32"},
      {"ice:WriteMem32(0)", "WriteMem32"},
      {"ice:WriteMem32(0, " + std::string("1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16,17,18,19,20,") +
           "21,22,23,24,25,26,27,28,29,30,31,32,33)", "WriteMem32"},
      {"ice:ReadMemMulti()", "ReadMemMulti"},
      {"ice:ReadMemMulti({})", "ReadMemMulti"},
      {"ice:WriteMemMulti(0)", "WriteMemMulti"},
      {"ice:ReadMem(0)", "ReadMem"},
      {"ice:ReadMem(0, -4)", "ReadMem"},
      {"ice:ReadMem(0, 0x7FFFFFFF)", "ReadMem"},
      {"ice:WriteMem(0, 5)", "WriteMem"},
      {"ice:ReadFlash(0, -1)", "ReadFlash"},
      {"ice:MCUConnect('now')", "MCUConnect"},
      {"ice:MCUConnect(0, {})", "MCUConnect"},
      {"ice:SelectBox('t')", "SelectBox"},
      {"ice:SelectBox({}, {})", "SelectBox"},
      {"ice:MessageBox(1, 'c', 't')", "MessageBox"},
      {"ice:MessageBox(true, 'c')", "MessageBox"},
      {"ice:SetEtmc(1, 2, 3)", "SetEtmc"},
      {"ice:SwoMode()", "SwoMode"},
      {"VoLink:GpioInput(2)", "GpioInput"},
      {"VoLink:GpioOutput(0)", "GpioOutput"},
      {"VoLink:PwmOutput(1, 5)", "PwmOutput"},
  };
  for (const auto& c : cases) {
    CICECmd& host = c.call.rfind("VoLink", 0) == 0 ? h.user : h.pin;
    EXPECT_EQ(RunChunk(host, c.call), c.method + ": argument error") << c.call;
  }
  EXPECT_EQ(h.ice.GetExchangeCount(), 0u);
  EXPECT_TRUE(h.ui.boxes.empty());
  EXPECT_TRUE(h.ui.selects.empty());
}

TEST(IceObject, AdapterErrorsBecomeScriptErrorsAndLeaveNothingHeld) {
  SimProcess sim(Empty(), 0);
  Hosts h;
  const std::string none = "There is no Vo-Link connected to a USB port.";
  for (const char* m : {"ReadMem32(0)", "ReadReg(0)", "ReadMemMulti(4, 8)", "ReadMem(0, 8)",
                        "ReadICEMemMulti({1, 2})", "MCUStopRun()", "SwoData()", "SetEtmc(1, 2, 3, 4)"}) {
    const std::string call = std::string("ice:") + m;
    const std::string method = std::string(m).substr(0, std::string(m).find('('));
    EXPECT_EQ(RunChunk(h.pin, "local ok, e = pcall(function() return " + call +
                                  " end); assert(not ok); error(e, 0)"),
              method + ": " + none)
        << call;
  }
  // No partial results: a failed block read returns nothing to the caller.
  EXPECT_EQ(Eval(h.pin, "select('#', pcall(ice.ReadMem32, ice, 0, 4))"), "2");
  // The failing calls released the command lock: another thread can take it.
  EXPECT_EQ(RunChunk(h.user, "VoLink:ReadMem32(0)"), "ReadMem32: " + none);
  // A script without an adapter: OpenPort reports nothing found.
  EXPECT_EQ(Eval(h.pin, "table.concat({tostring(select(1, ice:OpenPort())), select(2, ice:OpenPort())}, ',')"),
            "false,4294967295");
}

TEST(IceObject, FlaggedRepliesCarryTheAdapterText) {
  SimProcess sim;
  Hosts h;
  ASSERT_EQ(RunChunk(h.pin, "assert(ice:OpenPort())"), "");
  // An unmapped target address: the adapter flags the read (bus fault).
  const std::string err = RunChunk(h.pin, "ice:ReadMem32(0x30000000)");
  EXPECT_EQ(err.rfind("ReadMem32: ", 0), 0u) << err;
  EXPECT_GT(err.size(), std::string("ReadMem32: ").size());
  // The link stays usable after the error.
  EXPECT_EQ(Eval(h.pin, "ice:ReadMem32(0x40000000)"), std::to_string(0x00D41200));
}

TEST(IceObject, MethodsGiveRealValuesFromTheEmulatedChip) {
  SimProcess sim;
  Hosts h;
  EXPECT_EQ(Eval(h.pin, "(function() local t = {ice:OpenPort()} for i = 1, #t do t[i] = tostring(t[i]) end "
                        "return table.concat(t, ',') end)()"),
            "true,7973,1,-1");
  EXPECT_EQ(h.ice.GetConnectState(), ice::SelectResult::Chosen);
  const struct {
    const char* expr;
    std::string want;
  } cases[] = {
      {"ice:ReadDbgID(1)", std::to_string(0x00D41200)},
      {"pn:GetPartNumByPID(pn.CORE_CM, ice:ReadDbgID(1))", "GX32M412VE"},
      {"select('#', ice:ReadMem32(0x20000000, 0))", "0"},
      {"(function() ice:WriteMem32(0x20000000, 1, 2, 0xFFFFFFFF); "
       "return table.concat({ice:ReadMem32(0x20000000, 3)}, ',') end)()",
       "1,2,4294967295"},
      {"(function() ice:WriteMem32(0x20000010, -2); return ice:ReadMem32(0x20000010) end)()",
       "4294967294"},
      {"select('#', ice:ReadMemMulti(0x20000000, 0x20000004, 0x20000008, 0x40000000, 0x20000000))", "4"},
      {"(function() local t = ice:ReadMemMulti({0x20000000, 0x40000000}); return t[0]..','..t[1]..','..t[2] end)()",
       "-1,1," + std::to_string(0x00D41200)},
      {"(function() ice:WriteMemMulti(0x20000020, 7, 0x20000024, 8); "
       "return table.concat({ice:ReadMem32(0x20000020, 2)}, ',') end)()",
       "7,8"},
      {"(function() local t = ice:ReadMem(0, 0); return t[0]..','..#t end)()", "-1,0"},
      {"(function() ice:WriteMem(0x20000040, {1, 2, 0x1FF}); local t = ice:ReadMem(0x20000040, 3); "
       "return table.concat(t, ',', 0) end)()",
       "-1,1,2,255"},
      {"#ice:ReadMem(0x20000000, 300)", "300"},
      {"type(ice:ReadFlash(0, 16))", "table"},
      {"(function() local t = ice:ReadICEMemMulti({0x20000000, 0x20000000}); return #t end)()", "2"},
      {"select('#', ice:ResetCmdSerial())", "6"},
      {"ice:CheckUSBLink()", "true"},
      {"ice:CheckLink()", "true"},
      {"ice:SetConfig()", "true"},
      {"type(ice.AdcScan)", "nil"},
      {"select('#', ice:SwoMode(3))", "0"},
      {"ice:SwoMode(1, 115200)", "115200"},
      {"select('#', ice:SwoData())", "3"},
      {"ice:SelectBox('t', {})", "-1"},
      {"ice:SelectBox('t', {'a', x = 'skip', 5, 'b'}, 1)", "1"},
      {"select('#', ice:MessageBox(true, 'Cap', 'Text', 'TOOL_VIEW_WIN'))", "0"},
      {"ice:GetHelp():match('^Function list of ice:\\n  GetVersion\\n') ~= nil", "true"},
      {"ice:GetHelp():match('\\n  DESIGN_ID_NONE = 4294967295\\n') ~= nil", "true"},
      {"(function() local n = 0 for _ in ice:GetHelp():match('^(.-)Constant'):gmatch('\\n  ') do n = n + 1 end "
       "return n end)()",
       "37"},
  };
  for (const auto& c : cases) EXPECT_EQ(Eval(h.pin, c.expr), c.want) << c.expr;
  EXPECT_EQ(h.ui.selects, std::vector<std::string>{"t:2:1"});
  EXPECT_EQ(h.ui.boxes, std::vector<std::string>{"Cap|Text|warning"});

  // VoLink shares the adapter object: the port the pin script opened is open.
  const struct {
    const char* expr;
    std::string want;
  } user[] = {
      {"VoLink:ReadMem32(0x40000000)", std::to_string(0x00D41200)},
      {"type(VoLink:AdcScan(0))", "number"},
      {"(function() local t = VoLink:AdcScan(20); return t[0]..','..#t end)()", "-1,10"},
      {"VoLink:GpioInput(1)", "0"},
      {"VoLink:PwmCapture()", "true"},
      {"type(VoLink.ReadReg)", "nil"},
  };
  for (const auto& c : user) EXPECT_EQ(Eval(h.user, c.expr), c.want) << c.expr;
  ASSERT_EQ(sim.Ctl("bridge demo 1 1").rfind("ok", 0), 0u);
  EXPECT_EQ(Eval(h.user, "VoLink:GpioInput(1)"), "1");

  EXPECT_EQ(RunChunk(h.pin, "ice:ClosePort()"), "");
  EXPECT_EQ(Eval(h.pin, "ice:CheckUSBLink()"), "false");
}

// A table of addresses costs one exchange per multi-access limit.
TEST(IceObject, TableReadTakesOneExchangePerMultiAccessLimit) {
  for (const auto& [kind, size] : {std::pair<std::string, int>{"hid", 64}, {"bulk", 512}}) {
    SimProcess sim(OneAdapterConfig(kind, size), 1);
    Hosts h;
    ASSERT_EQ(RunChunk(h.pin, "assert(ice:OpenPort())"), "") << kind;
    const unsigned limit = h.ice.GetMultiAccessLimit();
    const uint64_t before = h.ice.GetExchangeCount();
    EXPECT_EQ(Eval(h.pin, "(function() local a = {} for i = 1, 30 do a[i] = 0x20000000 + 4 * i end "
                          "return #ice:ReadMemMulti(a) end)()"),
              "30");
    EXPECT_EQ(h.ice.GetExchangeCount() - before, (30 + limit - 1) / limit) << kind << " limit " << limit;
  }
}

// Time spent waiting for the user in a box does not count against the pin
// host's call limit; time spent in other native calls does.
TEST(IceObject, UserWaitsDoNotCountAgainstTheTimeLimit) {
  class SlowUI : public ScriptedUI {
   public:
    Answer MessageBox(const std::string&, const std::string&, Icon, Buttons, void*) override {
      std::this_thread::sleep_for(std::chrono::milliseconds(400));
      return Answer::Ok;
    }
    int SelectBox(const std::string&, const std::vector<std::string>&, int) override {
      std::this_thread::sleep_for(std::chrono::milliseconds(400));
      return 0;
    }
  } slow;
  CICEGlobalMutex owner;
  CVoICE ice{&owner};
  const struct {
    const char* chunk;
    bool timesOut;
  } cases[] = {
      {"ice:MessageBox(false, 'Cap', 'Text') for i = 1, 1e4 do end", false},
      {"ice:SelectBox('Pick', {'a', 'b'}) for i = 1, 1e4 do end", false},
      {"ext.msleep(400) for i = 1, 1e4 do end", true},
  };
  for (const auto& c : cases) {
    CICECmd pin;
    pin.SetUserInteraction(&slow);
    pin.SetCallTimeLimit(std::chrono::milliseconds(100));
    ASSERT_TRUE(pin.InitScript(&ice, "Gadrel", nullptr));
    ASSERT_EQ(RunChunk(pin, std::string("function go() ") + c.chunk + " return true end"), "");
    EXPECT_EQ(pin.CallScriptFunction("go", ""), !c.timesOut) << c.chunk << ": " << pin.GetLastScriptError();
    EXPECT_EQ(pin.LastCallTimedOut(), c.timesOut) << c.chunk;
    pin.CloseScript();
  }
}
