// What an adapter's firmware enables. The version handshake works the table
// out once from the adapter's generation, firmware version and model; the
// command layer asks it instead of comparing version numbers. Every firmware
// version threshold of the layer lives in FirmwareFeatures.cpp.
#pragma once

#include <cstdint>

namespace ice {

// The firmware version before the handshake has read it.
inline constexpr uint32_t kFirmwareUnknown = 0xFFFFFFFFu;

struct FirmwareFeatures {
  // The handshake reply's extra word (word 4) carries a value.
  bool bHandshakeExtraWord = false;
  // Bits of the handshake reply's flags word that hold the design id;
  // 0 = the adapter reports no design id.
  uint32_t uDesignIdBits = 0;
  // Capability value A that a Vo-Link2-Pro reports.
  int32_t nProCapA = 7;
  // ReadMem may stream: one request, up to twenty reply packets.
  bool bStreamedRead = false;
  // WriteMem streams: up to twenty request packets, one reply.
  bool bStreamedWrite = false;
  // A multi-access command carries as many entries as its packet holds (at
  // most 84) instead of 4.
  bool bWideMultiAccess = false;
  // SetFlashMode hands its option byte to the adapter.
  bool bFlashModeOption = false;

  bool operator==(const FirmwareFeatures&) const = default;
};

// The features of an adapter of `generation` (0, 1 or 2) whose handshake
// reported `firmware`, `adapterChipId` and the Pro flag.
FirmwareFeatures FirmwareFeaturesFor(int generation, uint32_t firmware, uint32_t adapterChipId,
                                     bool pro);

}  // namespace ice
