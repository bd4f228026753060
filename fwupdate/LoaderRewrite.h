// Rewriting an adapter's boot loader while its firmware runs, safe against
// interruption: a record in the user's state folder names the adapter from
// before the first erase until the read-back matches, so that a rewrite cut
// short (the program killed, the adapter unplugged) is finished by the next
// check of that adapter before anything else.
//
// Records: one file per adapter ID, "bootloader-XXXXXXXX" in
// $XDG_STATE_HOME/gadrel (default ~/.local/state/gadrel), lines "key value".
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "fwupdate/BootLoaderOps.h"
#include "fwupdate/FirmwareImages.h"

class CICE;

namespace fwupdate {

struct PendingRewrite {
  uint32_t adapterId = 0;  // the ID being written
  McuClass mcuClass = McuClass::First0;
  uint32_t runState = 0;   // the firmware's run state before the rewrite
  std::string serial, location;
  ConfigWordSet config{};  // configuration before the rewrite
};

// $XDG_STATE_HOME/gadrel, else $HOME/.local/state/gadrel.
std::filesystem::path RewriteRecordFolder();

// Stores the record (durably, replacing one of the same ID); throws
// CICEException when it cannot be written: without it no rewrite starts.
void StorePendingRewrite(const PendingRewrite& record);
void RemovePendingRewrite(uint32_t adapterId);
// The record of `adapterId`; for an adapter whose ID word reads erased (0 or
// 0xFFFFFFFF), the record with its serial number or location.
std::optional<PendingRewrite> FindPendingRewrite(uint32_t adapterId, const std::string& serial,
                                                 const std::string& location);

// Where the two halves of a rewrite report their progress.
struct RewriteSpans {
  int eraseBase = 0, eraseSpan = 0, writeBase = 0, writeSpan = 0;
};

// Boot-loader access on, erase, write with `adapterId` (a new one for 0 or
// 0xFFFFFFFF), access off, read back; the record from before the erase
// until the read-back matches. `config`: the configuration words to keep
// (empty: read from the adapter). Returns the ID written, or nothing when
// the caller's stage was left (the record stays). A read-back that differs
// throws "Can not execute flash command." (the record stays).
std::optional<uint32_t> RewriteBootLoader(CICE& ice, McuClass mcuClass, const BootLoaderImages& images,
                                          uint32_t adapterId, uint32_t runState, const RewriteSpans& spans,
                                          const Progress& progress = {}, const FlashTimings& timings = {},
                                          const std::optional<ConfigWordSet>& config = {});

enum class HealResult { NoRecord, Matched, Rewritten };

// When a record names the selected adapter (identified by the handshake):
// compares its boot loader with the class's images from `source` and
// rewrites it when it differs, then restores the run state the record kept
// and waits (at most `readyWait`) until the firmware is ready.
HealResult HealInterruptedRewrite(CICE& ice, const ImageSource& source, const Progress& progress = {},
                                  const FlashTimings& timings = {},
                                  std::chrono::milliseconds readyWait = std::chrono::seconds(60));

// The serial number and location of the selected adapter (empty when
// unknown).
std::string SelectedSerial(CICE& ice);
std::string SelectedLocation(CICE& ice);

}  // namespace fwupdate
