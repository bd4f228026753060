// The parts of a 32-bit little-endian ELF file that the QEMU targets use:
// the loadable segments (to find the breakpoint instructions in the code)
// and the symbol table (tests compare the core's PC with it).
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace sim {

struct ElfSegment {
  uint32_t address = 0;
  bool executable = false;
  std::vector<uint8_t> bytes;  // the file's bytes of the segment
};

struct ElfImage {
  std::vector<ElfSegment> segments;
  std::map<std::string, uint32_t> symbols;  // functions, objects and labels; Thumb bit cleared

  std::optional<uint32_t> Symbol(const std::string& name) const;
  // Addresses of the BKPT instructions (halfwords 0xBExx) in executable segments.
  std::vector<uint32_t> BreakpointInstructions() const;
};

// Reads an ELF file; nullopt (and a reason in `error`) when it is missing,
// larger than 64 MiB, not a 32-bit little-endian ELF or inconsistent.
std::optional<ElfImage> ReadElf(const std::string& path, std::string& error);

}  // namespace sim
