#include "ice/AdapterParts.h"

#include <algorithm>
#include <iterator>

#include "ice/CICEException.h"
#include "platform/StringTable.h"

namespace ice {
namespace {

constexpr uint32_t kDessikMask = 0xFFE00;  // 512-byte granularity below 1 MiB
constexpr uint32_t k4K = ~0xFFFu;

constexpr AdapterPart kParts[] = {
    {0xFFFF0000, 0x00010000, 0, 128 * 1024, true, 4096, kDessikMask, 0x00100000, 4096},
    {0xFFFF0000, 0x30010000, 0, 128 * 1024, true, 4096, kDessikMask, 0x00100000, 4096},
    {0xFFFF0000, 0x40010000, 1, 128 * 1024, true, 4096, kDessikMask, 0x00100000, 8192},
    {0xFFFFFFFF, 0x00D4851F, 2, 256 * 1024, true, 4096, k4K, 0x00100000, 4096},
    {0xFFFFFFFF, 0x00D4874F, 2, 256 * 1024, true, 4096, k4K, 0x00100000, 4096},
    {0xFFFFFFFF, 0xA2000340, 3, 512 * 1024, true, 8192, k4K, 0x0F100000, 16 * 1024},
};

}  // namespace

const AdapterPart* FindAdapterPart(uint32_t chipId) {
  const auto it = std::find_if(std::begin(kParts), std::end(kParts),
                               [chipId](const AdapterPart& p) { return (chipId & p.idMask) == p.idValue; });
  return it == std::end(kParts) ? nullptr : &*it;
}

int McuClassOf(uint32_t chipId) {
  if (chipId >= 0x00D48000 && chipId <= 0x00D48FFF)
    return chipId == 0x00D4851F || chipId == 0x00D4874F ? 2 : 4;
  const uint32_t upper = chipId >> 16;
  if (upper == 0x0001 || upper == 0x3001) return 0;
  if (upper == 0x4001) return 1;
  if (chipId == 0xA2000340) return 3;
  return 4;
}

int FlashClassOf(uint32_t chipId, int generation) {
  const int mcuClass = McuClassOf(chipId);
  if (mcuClass <= 3) return mcuClass;
  return generation <= 0 ? 0 : generation == 1 ? 2 : 3;
}

uint32_t ApplicationAreaSize(uint32_t chipId, uint32_t config0, uint32_t config1) {
  const AdapterPart* part = FindAdapterPart(chipId);
  if (!part) throw CICEException(text::kUnknownChipType);
  if ((config0 & 1) == 0 && part->variableDataFlash)
    return std::min(config1 & part->dataFlashMask, part->flashSize);
  return part->flashSize - part->fixedDataFlash;
}

}  // namespace ice
