#include "pinhistory/PinColumns.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <vector>

namespace {

// First index at or after `from` whose change is at or after `t`. The
// search gallops forward over the blocks' first times (successive columns
// move forward by little, and the block times are a small, dense array),
// then looks at most one block of changes.
size_t FirstAtOrAfter(const std::vector<PinChange>& v, const std::vector<int64_t>& blockTimes, size_t from,
                      int64_t t) {
  constexpr size_t B = PinHistory::kBlock;
  if (from >= v.size() || v[from].timeUs >= t) return from;
  // The first block after `from`'s whose first change is at or after t.
  size_t lo = from / B;  // block whose start is before t (or holds `from`)
  size_t step = 1;
  size_t hi = lo + step;
  while (hi < blockTimes.size() && blockTimes[hi] < t) {
    lo = hi;
    step *= 2;
    hi = lo + step;
  }
  hi = std::min(hi, blockTimes.size());
  const size_t block = static_cast<size_t>(
      std::lower_bound(blockTimes.begin() + static_cast<std::ptrdiff_t>(lo) + 1,
                       blockTimes.begin() + static_cast<std::ptrdiff_t>(hi), t) - blockTimes.begin());
  // The answer lies in block - 1 (after `from`), or is the start of `block`.
  size_t i = std::max(from, (block - 1) * B);
  const size_t end = std::min(v.size(), block * B);
  while (i < end && v[i].timeUs < t) ++i;
  return i;
}

uint8_t MaskOf(const PinChange& c) { return static_cast<uint8_t>(LevelBit(c.level) | c.marks); }

// OR of the masks of changes [a, b).
uint8_t MaskOfRange(const std::vector<PinChange>& v, const std::vector<uint8_t>& blocks, size_t a, size_t b) {
  constexpr size_t B = PinHistory::kBlock;
  uint8_t m = 0;
  while (a < b && a % B != 0) m |= MaskOf(v[a++]);
  while (a + B <= b) {
    m |= blocks[a / B];
    a += B;
  }
  while (a < b) m |= MaskOf(v[a++]);
  return m;
}

}  // namespace

int LevelCount(uint8_t mask) { return std::popcount(static_cast<unsigned>(mask & kLevelBits)); }

void SummarizeColumns(const PinHistory& history, size_t pin, double startUs, double usPerColumn,
                      std::span<PinColumn> out) {
  std::fill(out.begin(), out.end(), PinColumn{});
  if (history.Empty() || pin >= history.Pins().size() || !(usPerColumn > 0)) return;
  const std::vector<PinChange>& v = history.Changes(pin);
  const std::vector<uint8_t>& blocks = history.BlockMasks(pin);
  const std::vector<int64_t>& times = history.BlockTimes(pin);
  const int64_t lo = history.CompleteFromUs();
  const int64_t hi = history.EndUs();
  size_t i = 0;
  for (size_t x = 0; x < out.size(); ++x) {
    const double a = startUs + static_cast<double>(x) * usPerColumn;
    const double b = a + usPerColumn;
    if (b <= static_cast<double>(lo) || a > static_cast<double>(hi)) continue;
    const auto from = std::max(lo, static_cast<int64_t>(std::ceil(a)));
    // Changes at the history's end time still show in the last column.
    const auto to = std::min(hi + 1, static_cast<int64_t>(std::ceil(b)));
    if (to <= from) continue;
    i = FirstAtOrAfter(v, times, i, from);
    const size_t j = FirstAtOrAfter(v, times, i, to);
    uint8_t m = i > 0 ? LevelBit(v[i - 1].level) : 0;
    m |= MaskOfRange(v, blocks, i, j);
    out[x].mask = m;
    i = j;
  }
}
