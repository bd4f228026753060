#include "pinhistory/PinHistory.h"

#include <algorithm>
#include <limits>

namespace {

int16_t ClampDirection(int32_t d) {
  return static_cast<int16_t>(std::clamp<int32_t>(d, std::numeric_limits<int16_t>::min(),
                                                  std::numeric_limits<int16_t>::max()));
}

// Cuts `text` to at most `limit` bytes without splitting a UTF-8 sequence.
std::string CutText(const std::string& text, size_t limit) {
  if (text.size() <= limit) return text;
  size_t n = limit;
  while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;
  return text.substr(0, n);
}

uint8_t MaskOf(const PinChange& c) { return static_cast<uint8_t>(LevelBit(c.level) | c.marks); }

}  // namespace

PinLevel LevelOfStatus(int32_t status) {
  if (status == 65) return PinLevel::High;
  if (status == 66) return PinLevel::Low;
  return PinLevel::None;
}

const std::string& PinName(const PinInfo& pin) {
  return pin.texts.empty() || pin.texts.front().empty() ? pin.highlight_text : pin.texts.front();
}

PinHistory::PinHistory(size_t capBytes) : m_capBytes(capBytes) {}

void PinHistory::Clear() {
  m_packageName.clear();
  m_frame = 0;
  m_pins.clear();
  m_changes.clear();
  m_blocks.clear();
  m_blockTimes.clear();
  m_last.clear();
  m_functions.clear();
  m_functionIds.clear();
  m_functionBytes = 0;
  m_log.clear();
  m_startUs = m_completeFromUs = m_endUs = 0;
  m_samples = 0;
  m_bytes = 0;
  ++m_generation;
}

bool PinHistory::SamePackage(const PackageInfo& package) const {
  if (package.name != m_packageName || package.pkg_frame != m_frame || package.pins.size() != m_pins.size()) {
    return false;
  }
  for (size_t i = 0; i < m_pins.size(); ++i) {
    const PinInfo& p = package.pins[i];
    if (p.pin_no != m_pins[i].number || PinName(p) != m_pins[i].name) return false;
  }
  return true;
}

void PinHistory::Start(int64_t timeUs, const PackageInfo& package) {
  Clear();
  m_packageName = package.name;
  m_frame = package.pkg_frame;
  m_pins.reserve(package.pins.size());
  for (const PinInfo& p : package.pins) m_pins.push_back({p.pin_no, PinName(p)});
  m_changes.resize(m_pins.size());
  m_blocks.resize(m_pins.size());
  m_blockTimes.resize(m_pins.size());
  m_last.resize(m_pins.size());
  m_startUs = m_completeFromUs = m_endUs = timeUs;
}

uint32_t PinHistory::Intern(const std::string& text) {
  if (auto it = m_functionIds.find(text); it != m_functionIds.end()) return it->second;
  if (m_functions.size() >= kMaxFunctions) {
    // A script inventing new texts without end shares one last entry.
    static const std::string kMore = "...";
    if (m_functions.back() != kMore) m_functions.push_back(kMore);
    return static_cast<uint32_t>(m_functions.size() - 1);
  }
  const auto id = static_cast<uint32_t>(m_functions.size());
  m_functions.push_back(CutText(text, kMaxFunctionBytes));
  m_functionIds.emplace(m_functions.back(), id);
  if (m_functions.back() != text) m_functionIds.emplace(text, id);
  const size_t bytes = m_functions.back().size() + 64;  // text, table entry and map node
  m_functionBytes += bytes;
  m_bytes += bytes;
  return id;
}

size_t PinHistory::PinBytes(size_t pin) const {
  return m_changes[pin].capacity() * sizeof(PinChange) + m_blocks[pin].capacity() +
         m_blockTimes[pin].capacity() * sizeof(int64_t);
}

void PinHistory::Append(size_t pin, const PinChange& change) {
  std::vector<PinChange>& v = m_changes[pin];
  std::vector<uint8_t>& blocks = m_blocks[pin];
  std::vector<int64_t>& times = m_blockTimes[pin];
  const size_t before = PinBytes(pin);
  // Growth by a quarter keeps what is allocated close to what is used.
  if (v.size() == v.capacity()) v.reserve(v.size() + std::max<size_t>(16, v.size() / 4));
  if (v.size() % kBlock == 0) {
    if (blocks.size() == blocks.capacity()) {
      blocks.reserve(blocks.size() + std::max<size_t>(4, blocks.size() / 4));
      times.reserve(blocks.capacity());
    }
    blocks.push_back(0);
    times.push_back(change.timeUs);
  }
  v.push_back(change);
  blocks.back() |= MaskOf(change);
  m_bytes += PinBytes(pin) - before;
}

bool PinHistory::Record(int64_t timeUs, const PackageInfo& package) {
  if (package.pins.empty()) {
    if (!Empty()) MarkGap(timeUs);
    return false;
  }
  bool fresh = false;
  if (Empty() || !SamePackage(package)) {
    Start(timeUs, package);
    fresh = true;
  }
  timeUs = std::max(timeUs, m_endUs);
  size_t changed = 0;
  for (size_t i = 0; i < m_pins.size(); ++i) {
    const PinInfo& p = package.pins[i];
    Last& last = m_last[i];
    const PinLevel level = LevelOfStatus(p.status);
    const int16_t direction = ClampDirection(p.direction);
    const bool first = m_changes[i].empty();
    const bool functionChanged = first || p.highlight_text != last.functionText;
    if (!functionChanged && level == last.level && direction == last.direction) continue;
    PinChange c;
    c.timeUs = timeUs;
    c.level = level;
    c.direction = direction;
    c.function = functionChanged ? Intern(p.highlight_text) : last.function;
    if (!first) {
      if (direction != last.direction) c.marks |= kDirectionMark;
      if (c.function != last.function) c.marks |= kFunctionMark;
    }
    Append(i, c);
    last.level = level;
    last.direction = direction;
    last.function = c.function;
    if (functionChanged) last.functionText = p.highlight_text;
    ++changed;
  }
  m_endUs = timeUs;
  ++m_samples;
  if (changed > 0) {
    m_log.push_back({timeUs, changed});
    m_bytes += sizeof(Sample);
    EnforceCap();
  }
  return fresh;
}

void PinHistory::MarkGap(int64_t timeUs) {
  if (Empty()) return;
  timeUs = std::max(timeUs, m_endUs);
  size_t changed = 0;
  for (size_t i = 0; i < m_pins.size(); ++i) {
    Last& last = m_last[i];
    if (m_changes[i].empty() || last.level == PinLevel::Gap) continue;
    PinChange c;
    c.timeUs = timeUs;
    c.level = PinLevel::Gap;
    c.direction = last.direction;
    c.function = last.function;
    Append(i, c);
    last.level = PinLevel::Gap;
    ++changed;
  }
  m_endUs = timeUs;
  if (changed > 0) {
    m_log.push_back({timeUs, changed});
    m_bytes += sizeof(Sample);
    EnforceCap();
  }
}

const PinChange* PinHistory::StateAt(size_t pin, int64_t timeUs) const {
  const std::vector<PinChange>& v = m_changes[pin];
  auto it = std::upper_bound(v.begin(), v.end(), timeUs,
                             [](int64_t t, const PinChange& c) { return t < c.timeUs; });
  return it == v.begin() ? nullptr : &*(it - 1);
}

void PinHistory::EnforceCap() {
  while (m_bytes > m_capBytes && !m_log.empty()) {
    // Drop the oldest refreshes' changes until an eighth of the cap is
    // free again, so dropping happens seldom and in bulk.
    const size_t target = m_capBytes - m_capBytes / 8;
    const size_t excess = m_bytes - target;
    size_t freed = 0;
    size_t entries = 0;
    while (entries < m_log.size() && freed < excess) {
      freed += m_log[entries].changes * sizeof(PinChange) + sizeof(Sample);
      ++entries;
    }
    // Complete from the first refresh kept (or the last one known).
    const int64_t cut = entries < m_log.size() ? m_log[entries].timeUs : m_endUs;
    m_log.erase(m_log.begin(), m_log.begin() + static_cast<std::ptrdiff_t>(entries));
    m_bytes -= entries * sizeof(Sample);
    for (size_t pin = 0; pin < m_pins.size(); ++pin) {
      std::vector<PinChange>& v = m_changes[pin];
      // Keep the change in effect at the cut, and the block it starts.
      auto it = std::upper_bound(v.begin(), v.end(), cut, [](int64_t t, const PinChange& c) { return t < c.timeUs; });
      const size_t inEffect = it == v.begin() ? 0 : static_cast<size_t>(it - v.begin()) - 1;
      const size_t drop = inEffect / kBlock * kBlock;
      if (drop == 0) continue;
      const size_t before = PinBytes(pin);
      std::vector<PinChange> kept;
      kept.reserve(v.size() - drop + std::max<size_t>(16, (v.size() - drop) / 4));
      kept.assign(v.begin() + static_cast<std::ptrdiff_t>(drop), v.end());
      v.swap(kept);
      std::vector<uint8_t>& blocks = m_blocks[pin];
      std::vector<uint8_t> keptBlocks(blocks.begin() + static_cast<std::ptrdiff_t>(drop / kBlock), blocks.end());
      blocks.swap(keptBlocks);
      std::vector<int64_t>& times = m_blockTimes[pin];
      std::vector<int64_t> keptTimes(times.begin() + static_cast<std::ptrdiff_t>(drop / kBlock), times.end());
      times.swap(keptTimes);
      m_bytes = m_bytes - before + PinBytes(pin);
    }
    m_completeFromUs = std::max(m_completeFromUs, cut);
  }
}
