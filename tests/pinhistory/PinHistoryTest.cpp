// Recording: changes only, their marks, gaps, a new history for a new
// package, the memory cap and choosing pins.
#include <gtest/gtest.h>

#include "pinhistory/PinHistory.h"
#include "pinhistory/PinRecorder.h"
#include "pinhistory/PinSelection.h"
#include "tests/pinhistory/HistoryFixture.h"

namespace {

std::string Levels(const PinHistory& h, size_t pin) {
  std::string s;
  for (const PinChange& c : h.Changes(pin)) s += "LHxg"[static_cast<int>(c.level)];
  return s;
}

}  // namespace

TEST(PinHistory, KeepsOnlyChangesWithTheirMarks) {
  PinHistory h;
  EXPECT_TRUE(h.Record(1000, MakePackage("HL-")));
  EXPECT_FALSE(h.Record(2000, MakePackage("HL-")));
  EXPECT_FALSE(h.Record(3000, MakePackage("LL-")));
  PackageInfo p = MakePackage("LLH");
  p.pins[1].direction = 2;                // P1 becomes an output
  p.pins[2].highlight_text = "UART_TX";  // P2 changes function
  EXPECT_FALSE(h.Record(4000, p));
  EXPECT_FALSE(h.Record(5000, p));

  ASSERT_EQ(h.Pins().size(), 3u);
  EXPECT_EQ(h.Pins()[2], (RecordedPin{"3", "P2"}));
  EXPECT_EQ(Levels(h, 0), "HL");
  EXPECT_EQ(Levels(h, 1), "LL");
  EXPECT_EQ(Levels(h, 2), "xH");
  EXPECT_EQ(h.Changes(0)[1].timeUs, 3000);
  EXPECT_EQ(h.Changes(0)[1].marks, 0);
  EXPECT_EQ(h.Changes(1)[1].marks, kDirectionMark);
  EXPECT_EQ(h.Changes(1)[1].direction, 2);
  EXPECT_EQ(h.Changes(2)[1].marks, kFunctionMark);
  EXPECT_EQ(h.Function(h.Changes(2)[1].function), "UART_TX");
  EXPECT_EQ(h.StartUs(), 1000);
  EXPECT_EQ(h.EndUs(), 5000);
  EXPECT_EQ(h.StateAt(0, 2999)->level, PinLevel::High);
  EXPECT_EQ(h.StateAt(0, 3000)->level, PinLevel::Low);
  EXPECT_EQ(h.StateAt(0, 999), nullptr);
}

TEST(PinHistory, GapsAndNewHistories) {
  PinHistory h;
  h.Record(1000, MakePackage("HL"));
  // A refresh without pins (adapter gone) is a gap, not a new package.
  PackageInfo none;
  none.information = "No adapter found";
  EXPECT_FALSE(h.Record(2000, none));
  EXPECT_FALSE(h.Record(3000, MakePackage("HL")));
  EXPECT_EQ(Levels(h, 0), "HgH");
  const uint64_t generation = h.Generation();

  struct {
    const char* what;
    PackageInfo package;
  } others[] = {
      {"another chip", MakePackage("HL", "OTHER")},
      {"another pin count", MakePackage("HLH")},
      {"another pin name", [] {
         PackageInfo p = MakePackage("HL");
         p.pins[1].texts = {"PX"};
         return p;
       }()},
      {"another pin number", [] {
         PackageInfo p = MakePackage("HL");
         p.pins[1].pin_no = "7";
         return p;
       }()},
  };
  int64_t t = 4000;
  for (auto& o : others) {
    SCOPED_TRACE(o.what);
    h.Record(t, MakePackage("HL"));
    EXPECT_TRUE(h.Record(t + 10, o.package));
    EXPECT_EQ(h.StartUs(), t + 10);
    EXPECT_EQ(h.Changes(0).size(), 1u);
    EXPECT_GT(h.Generation(), generation);
    t += 1000;
  }
}

TEST(PinHistory, TheCapDropsTheOldestAndSaysFromWhenItIsComplete) {
  // Pin 0 toggles at every refresh, pin 1 once at the start and at 5000.
  const size_t cap = 64 * 1024;
  PinHistory h(cap);
  const int refreshes = 20000;
  for (int i = 0; i < refreshes; ++i) {
    const bool on = i % 2 == 1;
    h.Record(int64_t{i} * 100, MakePackage(std::string(on ? "H" : "L") + (i >= 5000 ? "H" : "L")));
    ASSERT_LE(h.MemoryBytes(), cap);
  }
  EXPECT_TRUE(h.Truncated());
  const int64_t from = h.CompleteFromUs();
  EXPECT_GT(from, 0);
  EXPECT_LE(from, int64_t{refreshes - 1} * 100);
  // Everything from `from` on is there, change by change.
  const std::vector<PinChange>& v = h.Changes(0);
  const PinChange* atFrom = h.StateAt(0, from);
  ASSERT_NE(atFrom, nullptr);
  int64_t expected = from / 100 * 100;
  for (const PinChange* c = atFrom + 1; c != v.data() + v.size(); ++c) {
    expected += 100;
    ASSERT_EQ(c->timeUs, expected);
  }
  EXPECT_EQ(v.back().timeUs, int64_t{refreshes - 1} * 100);
  EXPECT_EQ(v.back().level, PinLevel::High);
  // The quiet pin still knows its level at `from`, although it last changed
  // long before.
  ASSERT_NE(h.StateAt(1, from), nullptr);
  EXPECT_EQ(h.StateAt(1, from)->level, PinLevel::High);
  EXPECT_EQ(h.Changes(1).size(), 2u);
}

TEST(PinRecorder, RecordsOnlyWhileRecordingAndLeavesAGapWhenPaused) {
  PinRecorder r;
  r.OnRefresh(1000, MakePackage("H"));
  EXPECT_TRUE(r.History().Empty());
  r.Start();
  for (int i = 0; i < 5; ++i) r.OnRefresh(10000 + i * 20000, MakePackage("H"));
  EXPECT_DOUBLE_EQ(r.ReachedPeriodMs(), 20.0);
  r.Pause(200000);
  r.OnRefresh(300000, MakePackage("L"));
  r.Start();
  r.OnRefresh(400000, MakePackage("L"));
  EXPECT_EQ(Levels(r.History(), 0), "HgL");
  EXPECT_EQ(r.History().Changes(0)[1].timeUs, 200000);
  EXPECT_EQ(r.History().Changes(0)[2].timeUs, 400000);
}

TEST(PinSelection, PortsNamesNumbersAndErrors) {
  std::vector<RecordedPin> pins = {{"3", "PB10"}, {"1", "PB0"}, {"2", "PA0"}, {"4", "VDD"},
                                   {"5", "P0.5"}, {"6", "P0.12"}, {"7", "PB1"}};
  EXPECT_EQ(PortPrefix("PB12"), "PB");
  EXPECT_EQ(PortPrefix("P0.5"), "P0.");
  EXPECT_EQ(PortPrefix("VDD"), "");
  EXPECT_EQ(PortPrefix("12"), "");
  EXPECT_EQ(PinsOfPort(pins, "PB"), (std::vector<size_t>{1, 0, 6}));
  EXPECT_EQ(PinsOfPort(pins, "P0."), (std::vector<size_t>{4, 5}));

  const struct {
    const char* list;
    std::vector<size_t> pins;
    const char* error;
  } cases[] = {
      {"PB0", {1}, ""},
      {"pa0, 4 ,PB0", {2, 3, 1}, ""},
      {"PB*,PB0", {1, 0, 6}, ""},
      {"p0.12", {5}, ""},
      {"PB0,PC3", {}, "no pin 'PC3' on this package"},
      {"PC*", {}, "no pin 'PC*' on this package"},
      {" , ", {}, "no pins named"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.list);
    std::vector<size_t> out;
    std::string error;
    EXPECT_EQ(SelectPins(pins, c.list, out, error), *c.error == 0);
    EXPECT_EQ(error, c.error);
    if (*c.error == 0) {
      EXPECT_EQ(out, c.pins);
    }
  }
}
