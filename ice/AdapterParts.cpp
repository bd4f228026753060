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
    {0xFFFF0000, 0x00010000, McuClass::First0, 128 * 1024, true, 4096, kDessikMask, 0x00100000, 4096},
    {0xFFFF0000, 0x30010000, McuClass::First0, 128 * 1024, true, 4096, kDessikMask, 0x00100000, 4096},
    {0xFFFF0000, 0x40010000, McuClass::First1, 128 * 1024, true, 4096, kDessikMask, 0x00100000, 8192},
    {0xFFFFFFFF, 0x00D4851F, McuClass::Second, 256 * 1024, true, 4096, k4K, 0x00100000, 4096},
    {0xFFFFFFFF, 0x00D4874F, McuClass::Second, 256 * 1024, true, 4096, k4K, 0x00100000, 4096},
    {0xFFFFFFFF, 0xA2000340, McuClass::Third, 512 * 1024, true, 8192, k4K, 0x0F100000, 16 * 1024},
};

}  // namespace

const AdapterPart* FindAdapterPart(uint32_t chipId) {
  const auto it = std::find_if(std::begin(kParts), std::end(kParts),
                               [chipId](const AdapterPart& p) { return (chipId & p.idMask) == p.idValue; });
  return it == std::end(kParts) ? nullptr : &*it;
}

McuClass McuClassOf(uint32_t chipId) {
  if (chipId >= 0x00D48000 && chipId <= 0x00D48FFF)
    return chipId == 0x00D4851F || chipId == 0x00D4874F ? McuClass::Second : McuClass::NotUpdatable;
  const uint32_t upper = chipId >> 16;
  if (upper == 0x0001 || upper == 0x3001) return McuClass::First0;
  if (upper == 0x4001) return McuClass::First1;
  if (chipId == 0xA2000340) return McuClass::Third;
  return McuClass::NotUpdatable;
}

McuClass FlashClassOf(uint32_t chipId, int generation) {
  const McuClass mcuClass = McuClassOf(chipId);
  if (IsUpdatable(mcuClass)) return mcuClass;
  return generation <= 0 ? McuClass::First0 : generation == 1 ? McuClass::Second : McuClass::Third;
}

uint32_t ApplicationAreaSize(uint32_t chipId, uint32_t config0, uint32_t config1) {
  const AdapterPart* part = FindAdapterPart(chipId);
  if (!part) throw CICEException(text::kUnknownChipType);
  if ((config0 & 1) == 0 && part->variableDataFlash)
    return std::min(config1 & part->dataFlashMask, part->flashSize);
  return part->flashSize - part->fixedDataFlash;
}

}  // namespace ice
