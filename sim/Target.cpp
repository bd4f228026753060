#include "sim/Target.h"

#include <stdexcept>

#include "sim/CortexTarget.h"
#include "sim/Ostra8051Target.h"
#include "sim/QemuTarget.h"
#include "sim/UcsimTarget.h"

namespace sim {

uint32_t Target::ReadBytesByWords(uint32_t a, std::span<uint8_t> out) {
  for (size_t i = 0; i < out.size();) {
    const uint32_t addr = a + static_cast<uint32_t>(i);
    uint32_t w = 0;
    if (const uint32_t e = ReadWord(addr & ~3u, w)) return e;
    for (uint32_t b = addr & 3; b < 4 && i < out.size(); ++b, ++i) out[i] = static_cast<uint8_t>(w >> (8 * b));
  }
  return kErrOk;
}

uint32_t Target::WriteBytesByWords(uint32_t a, std::span<const uint8_t> data) {
  for (size_t i = 0; i < data.size();) {
    const uint32_t addr = a + static_cast<uint32_t>(i);
    uint32_t w = 0;
    const bool whole = (addr & 3) == 0 && data.size() - i >= 4;
    if (!whole)
      if (const uint32_t e = ReadWord(addr & ~3u, w)) return e == kErrGetReg ? kErrSetReg : e;
    for (uint32_t b = addr & 3; b < 4 && i < data.size(); ++b, ++i) {
      w &= ~(0xFFu << (8 * b));
      w |= static_cast<uint32_t>(data[i]) << (8 * b);
    }
    if (const uint32_t e = WriteWord(addr & ~3u, w)) return e;
  }
  return kErrOk;
}

std::unique_ptr<Target> MakeTarget(const TargetConfig& config) {
  if (config.kind == "none") return nullptr;
  if (config.kind == "ucsim") return std::make_unique<UcsimTarget>(config.firmware, config.program == "qemu-system-arm" ? "s51" : config.program);
  if (config.kind == "qemu") return std::make_unique<QemuTarget>(config.machine, config.firmware, config.program);
  if (config.kind == "8051") {
    if (config.chip != "GX8051T24") throw std::runtime_error("unknown 8051 chip \"" + config.chip + "\"");
    return std::make_unique<Ostra8051Target>();
  }
  if (!DemoChip::Known(config.chip)) throw std::runtime_error("unknown Cortex-M chip \"" + config.chip + "\"");
  static const char* const kCpus[] = {"", "m0", "m0+", "m4", "m7", "m23", "m33", "m55"};
  bool known = false;
  for (const char* c : kCpus) known = known || config.cpu == c;
  if (!known) throw std::runtime_error("unknown cpu \"" + config.cpu + "\"");
  return std::make_unique<CortexTarget>(config.chip, config.cpu);
}

}  // namespace sim
