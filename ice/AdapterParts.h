// The part table of the adapter's own microcontroller families: which chip
// ids exist, their flash and data-flash rules, and where a third-family
// part keeps its boot-loader region. Also the MCU class of a chip id and
// the application-area (APROM) size rule.
#pragma once

#include <cstdint>

// MCU class of an adapter's own chip: classes 0 and 1 are first-generation
// adapters (the first flash family), 2 second generation, 3 third; an
// adapter of class 4 cannot be updated.
enum class McuClass : int { First0 = 0, First1 = 1, Second = 2, Third = 3, NotUpdatable = 4 };

constexpr bool IsUpdatable(McuClass c) { return c != McuClass::NotUpdatable; }
// Classes 2 and 3 have a second boot-loader image.
constexpr bool HasSecondLoader(McuClass c) { return c == McuClass::Second || c == McuClass::Third; }
// The class's number, as records and messages show it.
constexpr int ClassNumber(McuClass c) { return static_cast<int>(c); }

namespace ice {

struct AdapterPart {
  uint32_t idMask, idValue;     // matches when (chip id & mask) == value
  McuClass mcuClass;
  uint32_t flashSize;           // application area plus data flash
  bool variableDataFlash;       // data flash may start where configuration word 1 says
  uint32_t fixedDataFlash;      // data flash at the end of flash otherwise
  uint32_t dataFlashMask;       // rounds configuration word 1 down to the granularity
  uint32_t loaderRegionBase, loaderRegionSize;  // both boot-loader areas lie here
};

// The part of a chip id, or null.
const AdapterPart* FindAdapterPart(uint32_t chipId);

// MCU class of an adapter chip id: 0 and 1 first generation, 2 second, 3
// third, 4 cannot be updated.
McuClass McuClassOf(uint32_t chipId);

// The flash family an adapter's own flash is reached through, as an MCU
// class 0 to 3: the class of its chip id; a chip that cannot be updated
// (class 4) is reached through its generation's family (generation 0 the
// first family, 1 the second, 2 the third).
McuClass FlashClassOf(uint32_t chipId, int generation);

// Size of the application area for the boot-loader update: with
// configuration word 0 bit 0 clear and a variable data flash, the data flash
// starts at word 1 rounded down to the part's granularity and the
// application area ends there; otherwise the part's fixed sizes apply.
// Throws CICEException "Unknown chip type!" for a chip outside the table.
uint32_t ApplicationAreaSize(uint32_t chipId, uint32_t config0, uint32_t config1);

}  // namespace ice
