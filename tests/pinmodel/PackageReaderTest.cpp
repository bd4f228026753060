// Reading the table a pin script's get_status returns.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "pinmodel/PackageReader.h"
#include "tests/script/ChildProcess.h"
#include "tests/script/LuaFinalisers.h"

extern "C" {
#include <lauxlib.h>
#include <lua.h>
#include <lualib.h>
}

namespace {

struct LuaCloser {
  void operator()(lua_State* L) const { lua_close(L); }
};
using LuaPtr = std::unique_ptr<lua_State, LuaCloser>;

// A state in which `chunk` has run (it defines get_status).
LuaPtr StateWith(const std::string& chunk) {
  LuaPtr L(luaL_newstate());
  luaL_openlibs(L.get());
  EXPECT_EQ(luaL_dostring(L.get(), chunk.c_str()), 0) << lua_tostring(L.get(), -1);
  return L;
}

// get_status returning `expr`.
PackageInfo Read(const std::string& expr, bool* ok = nullptr) {
  LuaPtr L = StateWith("function get_status(arg) return " + expr + " end");
  PackageInfo info;
  info.name = "stale";
  info.pins.resize(3);
  const int top = lua_gettop(L.get());
  const bool called = GetPinStatus(L.get(), info, false);
  EXPECT_EQ(lua_gettop(L.get()), top) << "stack not balanced";
  if (ok != nullptr) *ok = called;
  return info;
}

constexpr const char* kFull =
    "name = 'N', name_color = 1, information = 'I', pins = {}, processor = {information = 'P'}, pkg_frame = 2";

TEST(PackageReader, TopLevelKeysStopAtTheFirstWrongType) {
  struct Case {
    const char* table;
    const char* name;
    uint32_t nameColor;
    const char* information;
    const char* processor;
    int32_t frame;
  };
  const Case cases[] = {
      {"{name = 'N', name_color = 1, information = 'I', pins = {}, processor = {information = 'P'}, pkg_frame = 2}",
       "N", 1, "I", "P", 2},
      // A name without a colour keeps only the name.
      {"{name = 'N', information = 'I', pins = {}, processor = {information = 'P'}, pkg_frame = 2}", "N",
       0xFF000000, "", "", 0},
      {"{name = 12, name_color = '255', information = 3.5, pins = {}, processor = {information = 7}, pkg_frame = '1'}",
       "12", 255, "3.5", "7", 1},
      {"{name = 'N', name_color = 'red', information = 'I'}", "N", 0xFF000000, "", "", 0},
      {"{name = 'N', name_color = 1, information = {}, pins = {}}", "N", 1, "", "", 0},
      {"{name = 'N', name_color = 1, information = 'I', pins = 'x', processor = {information = 'P'}}", "N", 1, "I",
       "", 0},
      {"{name = 'N', name_color = 1, information = 'I', pins = {}, processor = {}, pkg_frame = 2}", "N", 1, "I", "",
       0},
      {"{name = 'N', name_color = 1, information = 'I', pins = {}, processor = 'P', pkg_frame = 2}", "N", 1, "I", "",
       0},
      {"{name = 'N', name_color = 1, information = 'I', pins = {}, processor = {information = 'P'}, pkg_frame = true}",
       "N", 1, "I", "P", 0},
      {"{name = true, name_color = 1}", "", 0xFF000000, "", "", 0},
      {"42", "", 0xFF000000, "", "", 0},
      {"nil", "", 0xFF000000, "", "", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.table);
    const PackageInfo info = Read(c.table);
    EXPECT_EQ(info.name, c.name);
    EXPECT_EQ(info.name_color, c.nameColor);
    EXPECT_EQ(info.information, c.information);
    EXPECT_EQ(info.processor, c.processor);
    EXPECT_EQ(info.pkg_frame, c.frame);
    EXPECT_TRUE(info.pins.empty());
  }
}

TEST(PackageReader, NumbersRoundHalfAwayFromZeroAndKeepTheLow32Bits) {
  struct Case {
    const char* expr;
    uint32_t expected;
  };
  const Case cases[] = {
      {"-1", 0xFFFFFFFF},          {"0", 0},
      {"4294967295", 0xFFFFFFFF},  {"0x80000000", 0x80000000},
      {"2.5", 3},                  {"2.4999", 2},
      {"-2.5", 0xFFFFFFFD},        {"4294967296 + 7", 7},
      {"2^70 + 2^20", 0x100000},   {"0/0", 0},
      {"1/0", 0},                  {"-1/0", 0},
      {"'16'", 16},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expr);
    const PackageInfo info = Read(std::string("{name = 'N', name_color = ") + c.expr + "}");
    EXPECT_EQ(info.name_color, c.expected);
  }
}

TEST(PackageReader, PinsListTakesNumericKeysWithTableValues) {
  const PackageInfo none = Read(std::string("{") + kFull + "}");
  EXPECT_TRUE(none.pins.empty());
  EXPECT_EQ(none.pkg_frame, 2);

  const PackageInfo mixed = Read(
      "{name = 'N', name_color = 1, information = 'I', pins = {{pin_no = 1}, {pin_no = 2}, 'skip', x = {pin_no = 9},"
      " ['7'] = {pin_no = 7}}, processor = {information = 'P'}}");
  ASSERT_EQ(mixed.pins.size(), 3u);
  EXPECT_EQ(mixed.pins[0].pin_no, "1");
  EXPECT_EQ(mixed.pins[1].pin_no, "2");
  EXPECT_EQ(mixed.pins[2].pin_no, "7");
}

// One pin table read on its own.
PinInfo ReadPin(const std::string& pin) {
  const PackageInfo info =
      Read("{name = 'N', name_color = 1, information = 'I', pins = {" + pin + "}, processor = {information = 'P'}}");
  EXPECT_EQ(info.pins.size(), 1u);
  return info.pins.empty() ? PinInfo{} : info.pins[0];
}

TEST(PackageReader, PinFieldsTakeTheirTypesAndIgnoreOthers) {
  const PinInfo d = ReadPin("{}");
  EXPECT_EQ(d.pin_no, "");
  EXPECT_TRUE(d.texts.empty());
  EXPECT_EQ(d.pin_no_color, 0xFF000000u);
  EXPECT_EQ(d.normal_color, 0xFF000000u);
  EXPECT_EQ(d.highlight_color, 0xFF000000u);
  EXPECT_EQ(d.pin_bg_color, 0xFFFFFFFFu);
  EXPECT_EQ(d.direction, 0);
  EXPECT_EQ(d.status, 64);
  EXPECT_FALSE(d.pullup);

  const PinInfo p = ReadPin(
      "{pin_no = 12, texts = {'a', 5, {}, x = 'y', true}, highlight_text = 'a', pin_no_color = '255',"
      " normal_color = -1, highlight_color = 0, pin_bg_color = 2^32 + 1, direction = 2.5, status = 65,"
      " information = 'tip', pullup = true, PIN_NO = 'x', [1] = 'ignored'}");
  EXPECT_EQ(p.pin_no, "12");
  EXPECT_EQ(p.texts, (std::vector<std::string>{"a", "5"}));
  EXPECT_EQ(p.highlight_text, "a");
  EXPECT_EQ(p.pin_no_color, 255u);
  EXPECT_EQ(p.normal_color, 0xFFFFFFFFu);
  EXPECT_EQ(p.highlight_color, 0u);
  EXPECT_EQ(p.pin_bg_color, 1u);
  EXPECT_EQ(p.direction, 3);
  EXPECT_EQ(p.status, 65);
  EXPECT_EQ(p.information, "tip");
  EXPECT_TRUE(p.pullup);

  const PinInfo wrong = ReadPin(
      "{pin_no = {}, texts = 'abc', highlight_text = false, pin_no_color = 'red', direction = {}, status = 'B',"
      " information = {}, pullup = 1}");
  EXPECT_EQ(wrong.pin_no, "");
  EXPECT_TRUE(wrong.texts.empty());
  EXPECT_EQ(wrong.highlight_text, "");
  EXPECT_EQ(wrong.pin_no_color, 0xFF000000u);
  EXPECT_EQ(wrong.direction, 0);
  EXPECT_EQ(wrong.status, 64);
  EXPECT_EQ(wrong.information, "");
  EXPECT_FALSE(wrong.pullup);
}

TEST(PackageReader, FailingCallsLeaveTheDefaults) {
  struct Case {
    const char* chunk;
    bool ok;
  };
  const Case cases[] = {
      {"", false},                                             // no get_status
      {"function get_status() error('boom') end", false},      // raises
      {"get_status = 5", false},                               // not a function
      {"function get_status() return 'text' end", true},       // not a table
      {"function get_status() end", true},                     // nothing
      // globals guarded by a raising __index, and no get_status
      {"setmetatable(_G, {__index = function() error('undeclared') end})", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.chunk);
    LuaPtr L = StateWith(c.chunk);
    PackageInfo info;
    info.name = "stale";
    EXPECT_EQ(GetPinStatus(L.get(), info, false), c.ok);
    EXPECT_EQ(info.name, "");
    EXPECT_EQ(lua_gettop(L.get()), 0);
  }
  PackageInfo info;
  EXPECT_FALSE(GetPinStatus(nullptr, info, false));
}

TEST(PackageReader, MetamethodsApplyAndTheirErrorsEndTheReading) {
  const PackageInfo viaIndex = Read(
      "setmetatable({}, {__index = function(t, k) if k == 'name' then return 'M' end"
      " if k == 'name_color' then return 5 end error('boom') end})");
  EXPECT_EQ(viaIndex.name, "M");
  EXPECT_EQ(viaIndex.name_color, 5u);
  EXPECT_EQ(viaIndex.information, "");

  const PackageInfo processorError = Read(
      "{name = 'N', name_color = 1, information = 'I', pins = {{pin_no = 3}},"
      " processor = setmetatable({}, {__index = function() error('boom') end}), pkg_frame = 1}");
  EXPECT_EQ(processorError.name, "N");  // fields before the failing read stay
  EXPECT_EQ(processorError.pins.size(), 1u);
  EXPECT_EQ(processorError.processor, "");
  EXPECT_EQ(processorError.pkg_frame, 0);
}

TEST(PackageReader, LargeAndOddInputIsReadSafely) {
  // More pins than the largest ball grid: the first ones in order are kept.
  const PackageInfo many = Read(
      "(function() local p = {} for i = 1, 10000 do p[i] = {pin_no = i, texts = {'F' .. i}} end"
      " return {name = string.rep('x', 100000), name_color = 1, information = '\\255\\254 bad utf-8',"
      " pins = p, processor = {information = 'P'}, pkg_frame = -5} end)()");
  ASSERT_EQ(many.pins.size(), kMaxPackagePins);
  EXPECT_EQ(many.name.size(), kMaxTextBytes);
  EXPECT_EQ(many.pkg_frame, -5);
  EXPECT_EQ(many.pins.back().texts.at(0), "F" + std::to_string(kMaxPackagePins));

  // One long string shared by every pin costs the script nothing; the copy
  // stays within the package's text budget.
  const PackageInfo shared = Read(
      "(function() local s = string.rep('y', 100000) local p = {} for i = 1, 10000 do"
      " p[i] = {pin_no = i, information = s, texts = {s, s}} end"
      " return {name = 'N', name_color = 1, information = '', pins = p, processor = {information = s}} end)()");
  ASSERT_EQ(shared.pins.size(), kMaxPackagePins);
  size_t total = 0;
  for (const PinInfo& pin : shared.pins) {
    total += pin.information.size();
    for (const auto& t : pin.texts) total += t.size();
  }
  EXPECT_LE(total, kMaxPackageTextBytes + 3 * kMaxPackagePins * kMinTextBytes);
  EXPECT_EQ(shared.pins[0].information.size(), kMaxTextBytes);
  EXPECT_EQ(shared.pins.back().information.size(), kMinTextBytes);

  // Self-referencing tables: only the levels of the contract are visited.
  const PackageInfo cyclic = Read(
      "(function() local t = {} t.pins = {t, t} t.name = 'C' t.name_color = 1 t.information = ''"
      " t.processor = t t.texts = t return t end)()");
  EXPECT_EQ(cyclic.pins.size(), 2u);
  EXPECT_EQ(cyclic.processor, "");
}

TEST(PackageReader, PinNumbersSortByTheirLeadingInteger) {
  struct Case {
    const char* text;
    int64_t value;
  };
  const Case cases[] = {{"12", 12},  {"12A", 12}, {"A1", 0},  {"", 0},      {"-3", -3},
                        {"+4", 4},   {" 7", 0},   {"\t7", 0},  {"- 7", 0}, {"1.9", 1}, {"99999999999999999999999", INT64_MAX}};
  for (const Case& c : cases) EXPECT_EQ(PinNumberValue(c.text), c.value) << c.text;

  const PackageInfo info = Read(
      "{name = 'N', name_color = 1, information = 'I', pins = {{pin_no = '12A'}, {pin_no = 3}, {pin_no = 'A1'},"
      " {pin_no = 12}, {pin_no = '2'}}, processor = {information = 'P'}}");
  const std::vector<PinInfo> sorted = SortedPins(info.pins);
  ASSERT_EQ(sorted.size(), 5u);
  EXPECT_EQ(sorted[0].pin_no, "A1");
  EXPECT_EQ(sorted[1].pin_no, "2");
  EXPECT_EQ(sorted[2].pin_no, "3");
  EXPECT_EQ(PinNumberValue(sorted[3].pin_no), 12);
  EXPECT_EQ(PinNumberValue(sorted[4].pin_no), 12);
  EXPECT_EQ(info.pins[0].pin_no, "12A") << "the view keeps the script's order";
}

}  // namespace

namespace {

// Lists and tables that cost a script nothing to hand out many times (the
// same list for every pin) stay within the reader's entry limits.
TEST(PackageReader, SharedListsAndHugeTablesStayWithinTheEntryLimits) {
  struct Case {
    const char* name;
    const char* build;  // Lua statements that fill the local `p` (the pins)
    size_t maxPins;
  };
  const Case cases[] = {
      {"one long list of empty texts shared by every pin",
       "local t = {} for i = 1, 20000 do t[i] = '' end for i = 1, 200 do p[i] = {pin_no = i, texts = t} end", 200},
      // Each pin visits all 20000 keys: the budget runs out after a dozen.
      {"one pin table with many keys shared by every pin",
       "local q = {pin_no = 1} for i = 1, 20000 do q['k' .. i] = i end for i = 1, 200 do p[i] = q end", 20},
      {"many empty pins", "for i = 1, 100000 do p[i] = {} end", kMaxPackagePins},
      {"many entries that are no pins", "for i = 1, 2000000 do p[i] = i end p[2000001] = {}", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const PackageInfo info = Read(std::string("(function() local p = {} ") + c.build +
                                  " return {name = 'N', name_color = 1, information = '', pins = p} end)()");
    EXPECT_LE(info.pins.size(), c.maxPins);
    size_t texts = 0;
    for (const PinInfo& pin : info.pins) texts += pin.texts.size();
    EXPECT_LE(texts + info.pins.size(), kMaxPackageEntries);
  }
}

// Reading converts numbers to text, and every conversion may run the
// collector and with it a finaliser that raises. The process survives it.
TEST(PackageReader, RaisingFinalisersWhileReadingNeverEndTheProcess) {
  EXPECT_SURVIVES_IN_CHILD(30, []() -> std::string {
    lua_State* L = luaL_newstate();
    luaL_openlibs(L);
    const std::string chunk = std::string(R"(
      local pins = {}
      for i = 1, 200 do
        local texts = {}
        for j = 1, 200 do texts[j] = i * 1000 + j + 0.5 end
        pins[i] = {pin_no = i, texts = texts, information = i + 0.25, highlight_text = i + 0.75}
      end
      local result = {name = 1.5, name_color = 1, information = 2.5, pins = pins,
                      processor = {information = 3.5}, pkg_frame = 0}
      function get_status() return result end
    )") + kRaisingFinalisers;
    if (luaL_loadstring(L, chunk.c_str()) != 0) return lua_tostring(L, -1);
    lua_pcall(L, 0, 0, 0);  // the finalisers may already raise as the chunk ends
    lua_settop(L, 0);
    for (int i = 0; i < 50; ++i) {
      PackageInfo info;
      GetPinStatus(L, info, false);
      if (lua_gettop(L) != 0) return "stack not balanced";
    }
    lua_close(L);
    return "";
  });
}

}  // namespace
