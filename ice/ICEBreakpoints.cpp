#include "ice/ICEBreakpoints.h"

#include <bit>

namespace ice {

namespace {
// Calls fn(record, byte index in instruction, byte index in data) for every
// software-breakpoint byte inside the range.
template <class Fn>
void ForEachShadowByte(BreakpointTable& table, std::span<const uint8_t> instruction,
                       uint32_t start, size_t size, Fn fn) {
  if (size == 0 || instruction.empty()) return;
  const uint64_t begin = start;
  const uint64_t end = begin + size;
  // Records that start before `begin` may still reach into the range.
  auto it = table.lower_bound(start >= 4 ? start - 4 : 0);
  for (; it != table.end() && it->first < end; ++it) {
    BreakpointRecord& r = it->second;
    if (!IsSoftwareKind(r.kind)) continue;
    const unsigned len = std::min<unsigned>(r.length, std::min<size_t>(instruction.size(), 4));
    for (unsigned b = 0; b < len; ++b) {
      const uint64_t at = static_cast<uint64_t>(r.address) + b;
      if (at < begin || at >= end) continue;
      fn(r, b, static_cast<size_t>(at - begin));
    }
  }
}
}  // namespace

void ShadowRead(BreakpointTable& table, std::span<const uint8_t> instruction, uint32_t start,
                std::span<uint8_t> data) {
  ForEachShadowByte(table, instruction, start, data.size(),
                    [&](BreakpointRecord& r, unsigned b, size_t i) {
                      if (data[i] == instruction[b])
                        data[i] = r.original[b];
                      else
                        r.original[b] = data[i];  // the program replaced the breakpoint
                    });
}

void ShadowWrite(BreakpointTable& table, std::span<const uint8_t> instruction, uint32_t start,
                 std::span<uint8_t> data) {
  ForEachShadowByte(table, instruction, start, data.size(),
                    [&](BreakpointRecord& r, unsigned b, size_t i) {
                      r.original[b] = data[i];
                      data[i] = instruction[b];
                    });
}

ComparatorChoice AllocateComparator(const std::vector<uint32_t>& images, uint32_t address,
                                    ComparatorFormat format) {
  ComparatorChoice c;
  if (format == ComparatorFormat::Second) {
    for (size_t i = 0; i < images.size(); ++i)
      if ((images[i] & 1) && (images[i] & ~1u) == (address & ~1u))
        return {static_cast<int>(i), images[i]};
    for (size_t i = 0; i < images.size(); ++i)
      if (!(images[i] & 1)) return {static_cast<int>(i), (address & ~1u) | 1u};
    return c;
  }
  const uint32_t replace = (address & 2) ? 0x80000000u : 0x40000000u;
  const uint32_t word = address & 0x1FFFFFFCu;
  auto inUse = [](uint32_t img) { return (img & 0xC0000000u) != 0 && (img & 1); };
  for (size_t i = 0; i < images.size(); ++i)
    if (inUse(images[i]) && (images[i] & 0x1FFFFFFCu) == word)
      return {static_cast<int>(i), word | (images[i] & 0xC0000000u) | replace | 1u};
  for (size_t i = 0; i < images.size(); ++i)
    if (!inUse(images[i])) return {static_cast<int>(i), word | replace | 1u};
  return c;
}

bool ReleaseComparator(uint32_t image, uint32_t address, ComparatorFormat format,
                       uint32_t* newImage) {
  if (format == ComparatorFormat::Second) {
    if (!(image & 1) || (image & ~1u) != (address & ~1u)) return false;
    *newImage = image & ~1u;
    return true;
  }
  const uint32_t replace = (address & 2) ? 0x80000000u : 0x40000000u;
  if (!(image & 1) || !(image & replace) || (image & 0x1FFFFFFCu) != (address & 0x1FFFFFFCu))
    return false;
  uint32_t img = image & ~replace;
  if (!(img & 0xC0000000u)) img &= ~1u;
  *newImage = img;
  return true;
}

bool WatchArgsValid(uint32_t address, uint32_t size, uint32_t* log2Size) {
  if (size == 0 || !std::has_single_bit(size) || address % size != 0) return false;
  if (log2Size) *log2Size = static_cast<uint32_t>(std::countr_zero(size));
  return true;
}

}  // namespace ice
