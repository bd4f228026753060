// libFuzzer target for the emulator's configuration: any text is parsed as a
// configuration and its adapters are built, as the emulator does when it
// starts. A refused one must fail with a std::runtime_error that gives a
// reason (the target's chip is checked only when the adapter is built); an
// accepted one must publish interfaces within the sizes the wire allows.
#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <string>

#include "sim/Adapter.h"
#include "sim/SimConfig.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  try {
    const sim::SimConfig config = sim::ParseConfig(text);
    // Building adapters costs memory per adapter; a few tell as much as many.
    size_t built = 0;
    for (const auto& a : config.adapters) {
      if (++built > 4) break;
      // These kinds start a simulator program that the configuration names.
      if (a.target.kind == "qemu" || a.target.kind == "ucsim") continue;
      sim::Adapter adapter(a);
      for (const auto& i : adapter.Interfaces())
        if (i.size < 16 || i.size > 1024) abort();
    }
  } catch (const std::runtime_error& e) {
    if (std::string(e.what()).empty()) abort();
  }
  return 0;
}
