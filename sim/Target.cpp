#include "sim/Target.h"

#include <stdexcept>

#include "sim/CortexTarget.h"
#include "sim/Ostra8051Target.h"
#include "sim/QemuTarget.h"
#include "sim/UcsimTarget.h"

namespace sim {

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
