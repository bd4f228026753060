// The history of every pin of one package: at each refresh the level
// ("H", "L" or no mark), the direction and the active function of every pin,
// kept as changes only, with the time of the refresh in microseconds of a
// monotonic clock. Memory is bounded: past the cap the oldest changes go and
// the history tells from when on it is complete. A package with another
// name, frame, pin count or other pin numbers or names starts a new
// history.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <unordered_map>
#include <vector>

#include "pinmodel/PackageInfo.h"

// Gap: nothing was recorded (paused, or the refresh brought no pins).
enum class PinLevel : uint8_t { Low = 0, High = 1, None = 2, Gap = 3 };

// "status" 65 is high, 66 low, anything else no mark.
PinLevel LevelOfStatus(int32_t status);

// Bits of a change's (and a block's) mask: one per level, and the marks.
constexpr uint8_t LevelBit(PinLevel l) { return static_cast<uint8_t>(1u << static_cast<unsigned>(l)); }
constexpr uint8_t kLevelBits = 0x0F;
constexpr uint8_t kDirectionMark = 0x10;  // the direction differs from the previous change's
constexpr uint8_t kFunctionMark = 0x20;   // the active function differs

struct PinChange {
  int64_t timeUs = 0;
  uint32_t function = 0;  // index into the history's function texts
  int16_t direction = 0;  // as the script gave it, clamped to 16 bits
  PinLevel level = PinLevel::Gap;
  uint8_t marks = 0;      // kDirectionMark, kFunctionMark
};
static_assert(sizeof(PinChange) == 16);

// What identifies a pin of the package: its number and its name (the first
// of its texts, else the highlighted one).
struct RecordedPin {
  std::string number;
  std::string name;
  bool operator==(const RecordedPin&) const = default;
};

// The name a pin goes by in the history: its first text, else its
// highlighted function.
const std::string& PinName(const PinInfo& pin);

class PinHistory {
 public:
  // 32 MiB: about two million changes; at 50 refreshes a second that is
  // hours of a busy port.
  static constexpr size_t kDefaultCapBytes = size_t{32} << 20;
  // Changes summarised per block (levels and marks OR-ed, and the time of
  // the block's first change), so a pixel column over many changes reads
  // blocks instead of every change.
  static constexpr size_t kBlock = 8;
  // Function texts kept (longer ones are cut) and how many distinct ones;
  // further new texts share one entry.
  static constexpr size_t kMaxFunctionBytes = 256;
  static constexpr size_t kMaxFunctions = 16384;

  explicit PinHistory(size_t capBytes = kDefaultCapBytes);

  // One refresh at `timeUs` (earlier times than the last are taken as the
  // last). A package without pins records a gap; a different package
  // starts a new history first. True when a new history started.
  bool Record(int64_t timeUs, const PackageInfo& package);
  // Nothing is known from `timeUs` on until the next Record (pause).
  void MarkGap(int64_t timeUs);
  void Clear();

  bool Empty() const { return m_pins.empty(); }
  const std::vector<RecordedPin>& Pins() const { return m_pins; }
  const std::string& PackageName() const { return m_packageName; }
  // Changes of one pin, oldest first; a few may lie before CompleteFromUs.
  const std::vector<PinChange>& Changes(size_t pin) const { return m_changes[pin]; }
  // OR of the masks of changes [b * kBlock, (b + 1) * kBlock).
  const std::vector<uint8_t>& BlockMasks(size_t pin) const { return m_blocks[pin]; }
  // The time of change b * kBlock.
  const std::vector<int64_t>& BlockTimes(size_t pin) const { return m_blockTimes[pin]; }
  // The change in effect at `timeUs`, or null before the first one.
  const PinChange* StateAt(size_t pin, int64_t timeUs) const;
  const std::string& Function(uint32_t id) const { return m_functions[id]; }

  int64_t StartUs() const { return m_startUs; }
  // Every change from here on is kept (StartUs unless the cap dropped some).
  int64_t CompleteFromUs() const { return m_completeFromUs; }
  bool Truncated() const { return m_completeFromUs > m_startUs; }
  int64_t EndUs() const { return m_endUs; }
  // Counts a new history (a different package, Clear).
  uint64_t Generation() const { return m_generation; }
  uint64_t Samples() const { return m_samples; }

  size_t MemoryBytes() const { return m_bytes; }
  size_t CapBytes() const { return m_capBytes; }

 private:
  struct Last {
    PinLevel level = PinLevel::Gap;
    int16_t direction = 0;
    uint32_t function = 0;
    std::string functionText;
  };
  bool SamePackage(const PackageInfo& package) const;
  void Start(int64_t timeUs, const PackageInfo& package);
  uint32_t Intern(const std::string& text);
  void Append(size_t pin, const PinChange& change);
  void EnforceCap();
  size_t PinBytes(size_t pin) const;

  size_t m_capBytes;
  std::string m_packageName;
  int32_t m_frame = 0;
  std::vector<RecordedPin> m_pins;
  std::vector<std::vector<PinChange>> m_changes;
  std::vector<std::vector<uint8_t>> m_blocks;
  std::vector<std::vector<int64_t>> m_blockTimes;
  std::vector<Last> m_last;
  std::vector<std::string> m_functions;
  std::unordered_map<std::string, uint32_t> m_functionIds;
  size_t m_functionBytes = 0;
  // Refreshes that changed something: their time and how many changes.
  struct Sample {
    int64_t timeUs;
    size_t changes;
  };
  std::deque<Sample> m_log;
  int64_t m_startUs = 0;
  int64_t m_completeFromUs = 0;
  int64_t m_endUs = 0;
  uint64_t m_generation = 0;
  uint64_t m_samples = 0;
  size_t m_bytes = 0;
};
