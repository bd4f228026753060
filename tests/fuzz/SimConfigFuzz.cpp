// libFuzzer target for the emulator's configuration: any text is parsed as a
// configuration; a refused one must fail with an exception and a reason,
// an accepted one must yield adapters that can be built and that publish
// interfaces within the sizes the wire allows.
#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <string>

#include "sim/Adapter.h"
#include "sim/SimConfig.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  sim::SimConfig config;
  try {
    config = sim::ParseConfig(text);
  } catch (const std::runtime_error& e) {
    if (std::string(e.what()).empty()) abort();
    return 0;
  }
  // Building adapters costs memory per adapter; a few tell as much as many.
  size_t built = 0;
  for (const auto& a : config.adapters) {
    if (++built > 4) break;
    sim::Adapter adapter(a);
    for (const auto& i : adapter.Interfaces())
      if (i.size < 16 || i.size > 1024) abort();
  }
  return 0;
}
