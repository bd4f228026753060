// Part-number lookups from a chip's identification words. All data are
// constant tables compiled in from data/.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// The core kinds a lookup by PID knows: which table the ids are looked up in.
enum : uint32_t { CORE_CM = 0, CORE_C51 = 1, CORE_CM_PLOSK = 2 };

class CPartNum {
 public:
  virtual ~CPartNum() = default;

  // Cortex-M table (is8051 false) or 8051 table (true): first record whose
  // PID equals `pid`; otherwise "[%08x]" of the PID and family 0.
  std::string GetPartNumByPID(uint32_t pid, bool is8051, uint32_t& family) const;

  // Third core kind: exact-id table when `secondId` is 0x42D (no match:
  // "[%08x]", family 0), else the masked table on (pid & 0x00FF0000,
  // secondId & 0x00070700) (no match: the kind's default name, family 0).
  std::string GetPartNumByPID2(uint32_t pid, uint32_t secondId, uint32_t& family) const;

  // Name held in the unique-id words w[0..3] (see the UCID rules); `pid`
  // names the chip when the words carry no name.
  std::string GetPartNumByUCID(const uint32_t w[4], uint32_t pid) const;

  // True when the low byte of `value` is a supported 8051 product id.
  static bool IsSupportedPID_8051(uint32_t value);
};

// The part-family identifiers ("PROJ_..."): their count (97) and the
// identifier of an index ("" when out of range).
size_t PartFamilyCount();
const char* PartFamilyName(size_t index);
