// The chip product range as constant tables, generated at build time from the
// text tables in this folder (see README.md). All tables are searched from
// their first record; the first matching record wins.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace gadrel::data {

// A part keyed by its full 32-bit product id (Cortex-M, 8051 and third-kind
// exact-id tables).
struct PartRecord {
  char name[32];    // zero-terminated
  uint32_t pid;
  uint32_t family;  // index into the family identifiers; 0xFFFFFFFF = none
};
static_assert(sizeof(PartRecord) == 40);

// A third-kind part keyed by masked ids: matches when
// (pid & kMaskedPidMask) == pidKey and (secondId & kMaskedSecondIdMask) ==
// secondIdKey.
struct MaskedPartRecord {
  char name[32];         // zero-terminated
  uint32_t pidKey;       // only bits 16-23
  uint32_t secondIdKey;  // only bits 8-10 and 16-18
  uint32_t family;
};
static_assert(sizeof(MaskedPartRecord) == 44);

inline constexpr uint32_t kMaskedPidMask = 0x00FF0000u;
inline constexpr uint32_t kMaskedSecondIdMask = 0x00070700u;
inline constexpr uint32_t kNoFamily = 0xFFFFFFFFu;
inline constexpr std::size_t kFamilyCount = 97;

extern const PartRecord kCortexMParts[];
extern const std::size_t kCortexMPartCount;
extern const PartRecord k8051Parts[];
extern const std::size_t k8051PartCount;
extern const PartRecord kPloskExactParts[];
extern const std::size_t kPloskExactPartCount;
extern const MaskedPartRecord kPloskMaskedParts[];
extern const std::size_t kPloskMaskedPartCount;

// Name of a third-kind chip that the masked table does not know (8 characters).
extern const char kPloskDefaultName[9];

// Part-family identifiers "PROJ_...", in index order (kFamilyCount entries,
// each at most 15 characters).
extern const char* const kFamilyNames[kFamilyCount];

inline std::span<const PartRecord> CortexMParts() { return {kCortexMParts, kCortexMPartCount}; }
inline std::span<const PartRecord> Parts8051() { return {k8051Parts, k8051PartCount}; }
inline std::span<const PartRecord> PloskExactParts() { return {kPloskExactParts, kPloskExactPartCount}; }
inline std::span<const MaskedPartRecord> PloskMaskedParts() {
  return {kPloskMaskedParts, kPloskMaskedPartCount};
}

}  // namespace gadrel::data
