// Pixel columns: what a column shows must be exactly the levels and marks
// of the changes in its time span, however many there are.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "pinhistory/PinColumns.h"
#include "tests/pinhistory/HistoryFixture.h"

namespace {

// The same reduction, change by change.
std::vector<PinColumn> BruteForce(const PinHistory& h, size_t pin, double start, double per, size_t width) {
  std::vector<PinColumn> out(width);
  const std::vector<PinChange>& v = h.Changes(pin);
  for (size_t x = 0; x < width; ++x) {
    const double a = start + static_cast<double>(x) * per, b = a + per;
    const double from = std::max<double>(std::ceil(a), static_cast<double>(h.CompleteFromUs()));
    const double to = std::min<double>(std::ceil(b), static_cast<double>(h.EndUs() + 1));
    if (to <= from) continue;
    uint8_t m = 0;
    for (size_t i = 0; i < v.size(); ++i) {
      const auto t = static_cast<double>(v[i].timeUs);
      if (t < from && (i + 1 == v.size() || static_cast<double>(v[i + 1].timeUs) >= from)) m |= LevelBit(v[i].level);
      if (t >= from && t < to) m |= static_cast<uint8_t>(LevelBit(v[i].level) | v[i].marks);
    }
    out[x].mask = m;
  }
  return out;
}

}  // namespace

TEST(PinColumns, AFewChangesColumnByColumn) {
  PinHistory h;
  h.Record(0, MakePackage("L"));
  h.Record(100, MakePackage("L"));
  h.Record(250, MakePackage("H"));
  PackageInfo p = MakePackage("-");
  p.pins[0].direction = 2;
  h.Record(400, p);
  h.Record(600, p);
  std::vector<PinColumn> cols(8);
  SummarizeColumns(h, 0, -100, 100, cols);
  const uint8_t L = LevelBit(PinLevel::Low), H = LevelBit(PinLevel::High), N = LevelBit(PinLevel::None);
  // [-100,0) before the start; [0,100) low; [200,300) the rise; [400,500)
  // no mark with the direction mark; [600,700) holds the end; after it
  // nothing.
  const std::vector<uint8_t> expected = {0, L, L, L | H, H, static_cast<uint8_t>(H | N | kDirectionMark), N, N};
  for (size_t x = 0; x < cols.size(); ++x) EXPECT_EQ(cols[x].mask, expected[x]) << "column " << x;
  SummarizeColumns(h, 0, 700, 100, cols);
  EXPECT_EQ(cols[0].mask, 0);
}

TEST(PinColumns, DenseAndSparseHistoriesMatchTheChangeByChangeReduction) {
  std::mt19937 rng(7);
  for (int round = 0; round < 6; ++round) {
    SCOPED_TRACE(round);
    PinHistory h(round % 2 ? 48 * 1024 : PinHistory::kDefaultCapBytes);  // odd rounds drop old changes
    int64_t t = 0;
    for (int i = 0; i < 6000; ++i) {
      t += 1 + static_cast<int64_t>(rng() % (round < 2 ? 3 : 400));
      PackageInfo p = MakePackage(std::string(1, "HL-"[rng() % 3]));
      if (rng() % 50 == 0) p.pins[0].direction = static_cast<int>(rng() % 4);
      if (rng() % 70 == 0) p.pins[0].highlight_text = "F" + std::to_string(rng() % 3);
      h.Record(t, p);
    }
    for (double per : {0.7, 1.0, 13.0, 250.0, 4096.5}) {
      const size_t width = 700;
      const double start = static_cast<double>(h.StartUs()) - 50 + per * static_cast<double>(round);
      std::vector<PinColumn> cols(width);
      SummarizeColumns(h, 0, start, per, cols);
      ASSERT_EQ(cols, BruteForce(h, 0, start, per, width)) << "per column " << per;
    }
  }
}
