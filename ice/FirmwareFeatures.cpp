#include "ice/FirmwareFeatures.h"

namespace ice {

namespace {
// The first generation's plain model streams no reads, whatever its firmware.
constexpr uint32_t kPlainFirstGenerationChipId = 0x40012009;

// Design-id bits of a second-generation adapter by firmware version.
uint32_t DesignIdBitsOfGeneration1(uint32_t v) {
  if (v >= 7866) return 0x1F;
  if (v >= 7182) return 0x0F;
  if (v >= 6868) return 0x07;
  if (v >= 6799) return 0x03;
  return 0;
}
}  // namespace

FirmwareFeatures FirmwareFeaturesFor(int generation, uint32_t firmware, uint32_t adapterChipId,
                                     bool pro) {
  const bool known = firmware != kFirmwareUnknown;
  const bool laterGeneration = generation == 1 || generation == 2;
  const bool plainFirstGeneration =
      generation == 0 && adapterChipId == kPlainFirstGenerationChipId && !pro;

  FirmwareFeatures f;
  f.bHandshakeExtraWord = firmware >= 6459;
  f.uDesignIdBits = generation == 2 ? 0x1F : generation == 1 ? DesignIdBitsOfGeneration1(firmware) : 0;
  f.nProCapA = firmware < 7221 ? 7 : 15;
  f.bStreamedRead = known && firmware >= 6748 && !plainFirstGeneration;
  f.bStreamedWrite = known && firmware >= 6712;
  f.bWideMultiAccess = laterGeneration && known && firmware > 6831;
  f.bFlashModeOption = laterGeneration && known && firmware > 6837;
  return f;
}

}  // namespace ice
