// Breakpoint bookkeeping of the command layer without I/O: the breakpoint
// table, the read and write shadowing that keeps software breakpoints
// invisible in memory transfers, and the comparator-image rules of the
// Cortex-M breakpoint unit.
#pragma once

#include <cstdint>
#include <map>
#include <span>
#include <vector>

namespace ice {

// Breakpoint kinds as bits of an "allowed" set and as the kind of a record.
enum : int { kBpHardware = 1, kBpSoftware = 2, kBpThird = 4 };

struct BreakpointRecord {
  uint32_t address = 0;
  int kind = 0;
  unsigned length = 0;        // instruction bytes (software kinds)
  uint8_t original[4] = {};   // saved original bytes (software kinds)
  int index = -1;             // comparator index or list position (hardware)
};

using BreakpointTable = std::map<uint32_t, BreakpointRecord>;

inline bool IsSoftwareKind(int kind) { return kind == kBpSoftware || kind == kBpThird; }

// Bytes just read from [start, start + data.size()): breakpoint instruction
// bytes are replaced by the saved originals; a byte that differs from the
// instruction was overwritten by the program and becomes the new original.
void ShadowRead(BreakpointTable& table, std::span<const uint8_t> instruction, uint32_t start,
                std::span<uint8_t> data);
// Bytes about to be written to [start, ...): each byte over a breakpoint
// becomes its new original, and the instruction byte is sent instead.
void ShadowWrite(BreakpointTable& table, std::span<const uint8_t> instruction, uint32_t start,
                 std::span<uint8_t> data);

// Breakpoint-unit comparator images.
// First format: replace field in bits 30-31, word address in bits 2-28,
// enable in bit 0. Second format: address | 1.
enum class ComparatorFormat { First, Second };

struct ComparatorChoice {
  int index = -1;         // -1 = no comparator free
  uint32_t image = 0;     // new image for that comparator
};
// Where a hardware breakpoint at `address` goes and what the comparator then holds.
ComparatorChoice AllocateComparator(const std::vector<uint32_t>& images, uint32_t address,
                                    ComparatorFormat format);
// Image after removing the breakpoint at `address`; false when the image
// does not cover it.
bool ReleaseComparator(uint32_t image, uint32_t address, ComparatorFormat format,
                       uint32_t* newImage);

// Whether a watchpoint of `size` bytes at `address` is acceptable (size a
// power of two, address a multiple of it); log2 of size in `log2Size`.
bool WatchArgsValid(uint32_t address, uint32_t size, uint32_t* log2Size);

}  // namespace ice
