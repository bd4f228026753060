// Operations on the boot-loader area of an adapter's microcontroller while
// the adapter runs its normal firmware: read back and compare with the
// images (which also yields the adapter ID), erase, write with the adapter
// ID kept, and the configuration bit that allows boot-loader access. All
// errors are thrown as CICEException.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>

#include "ice/CFlash_ICE.h"

class CICE;
class CHexBinFile;

namespace fwupdate {

// The flash families live with the adapter layer, which reads the adapter ID
// through them.
using ice::BootLoaderLayout;
using ice::CFlash_ICE;
using ice::FlashTimings;
using ice::OpenAdapterFlash;

enum class ProgressKind { Read, Verify, Update };

struct Progress {
  // Called with a percentage (may be empty).
  std::function<void(ProgressKind, int)> report;
  // False once the caller's stage was left: long loops stop early (may be
  // empty: never).
  std::function<bool()> stillCurrent;
};

// "Read %d%%", "Verify %d%%" or "Update %d%%" from the string table.
std::string ProgressText(ProgressKind kind, int percent);

struct BootLoaderImages {
  const CHexBinFile* loader = nullptr;
  const CHexBinFile* second = nullptr;  // classes with a second area
};

struct BootLoaderCheck {
  bool matches = false;
  uint32_t adapterId = 0;
};

// Reads back as many bytes of each area as its image has ("Verify" progress),
// takes the adapter ID from the read-back and compares the images, the ID
// put into the boot-loader image, with what was read.
BootLoaderCheck CheckBootLoader(CICE& ice, McuClass mcuClass, const BootLoaderImages& images,
                                const Progress& progress = {}, const FlashTimings& timings = {});

// Erases every page of the boot-loader area and then the second area;
// progress base + span x erased / total ("Update"). Returns false when it
// stopped early because the stage was left.
bool EraseBootLoader(CICE& ice, McuClass mcuClass, int base, int span, const Progress& progress = {},
                     const FlashTimings& timings = {});

// Writes the boot-loader image (at most the area's size) with `adapterId` at
// the family's ID offset, then the second image. An ID of 0 or 0xFFFFFFFF is
// replaced by a new one, 0x7788HHLL. Returns the ID written.
uint32_t WriteBootLoader(CICE& ice, McuClass mcuClass, int base, int span, const BootLoaderImages& images,
                         uint32_t adapterId, const Progress& progress = {}, const FlashTimings& timings = {});

// A new adapter ID from two successive pseudo-random numbers: 0x7788HHLL.
uint32_t MakeAdapterId(uint32_t first, uint32_t second);
uint32_t NewAdapterId();

// Turns boot-loader access on or off in configuration word 0 (class 3: bit 7
// clear = on; other classes: bit 7 set = on, and bit 1 cleared either way).
// The configuration page is rewritten only when the word changes, and every
// configuration word is kept.
void SetBootLoaderAccess(CICE& ice, McuClass mcuClass, bool on, const FlashTimings& timings = {});

// Configuration word 0 with boot-loader access switched on or off by the
// class's rule.
uint32_t WithLoaderAccess(McuClass mcuClass, uint32_t word0, bool on);

inline constexpr unsigned kConfigWords = 14;
using ConfigWordSet = std::array<uint32_t, kConfigWords>;

// The configuration words as the flash controller reads them.
ConfigWordSet ReadConfigWords(CICE& ice, McuClass mcuClass, const FlashTimings& timings = {});
// Erases the configuration page and writes `words` (once more after
// SetOption when a flash error occurs), then reads them back; throws when
// they differ.
void WriteConfigWords(CICE& ice, McuClass mcuClass, const ConfigWordSet& words, const FlashTimings& timings = {});

// The adapter ID read through flash access.
uint32_t ReadAdapterId(CICE& ice, McuClass mcuClass, const FlashTimings& timings = {});


}  // namespace fwupdate
