// libFuzzer target for the emulator's request parsing: messages of any size
// and content on the command channel of each kind of adapter, and on the boot
// loader's channel, go through the wire check and the adapter. The adapter
// must answer or stay silent; nothing may crash, overrun a buffer or build
// replies without bound.
//
// Input: byte 0 picks the adapter and the channel; then messages, each a
// two-byte length (big-endian, modulo 2049) followed by that many bytes.
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "sim/Adapter.h"
#include "sim/SimConfig.h"
#include "sim/WireCheck.h"

namespace {

const std::vector<sim::AdapterConfig>& Configs() {
  static const std::vector<sim::AdapterConfig> configs = [] {
    const sim::SimConfig c = sim::ParseConfig(R"({"adapters": [
      {"name": "g0", "generation": 0, "interfaces": [{"kind": "hid", "size": 64}, {"kind": "legacy-bulk", "size": 64}],
       "target": {"kind": "cortex-m", "cpu": "m0"}},
      {"name": "g1", "generation": 1, "interfaces": [{"kind": "hid", "interface": 3, "size": 64},
       {"kind": "bulk", "interface": 0, "size": 512}]},
      {"name": "big", "generation": 1, "interfaces": [{"kind": "hid", "size": 1024}], "target": {"kind": "8051"}},
      {"name": "g2", "generation": 2, "target": {"kind": "cortex-m", "chip": "GX32P100", "cpu": "m33"}}]})");
    return c.adapters;
  }();
  return configs;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const uint8_t pick = data[0];
  const auto& configs = Configs();
  sim::Adapter adapter(configs[pick % configs.size()]);
  const bool loader = (pick >> 4) & 1;
  if (loader) adapter.RestartInto(sim::Adapter::Mode::Loader);
  const auto ifaces = adapter.Interfaces();
  const size_t iface = (pick >> 5) % ifaces.size();
  const int mode = adapter.Config().generation == 0 ? 0 : 1;
  sim::WireCheck check = loader ? sim::WireCheck::ForLoader(ifaces[iface].size)
                                : sim::WireCheck::ForCommands(ifaces[iface].size, mode);
  size_t off = 1;
  while (off + 2 <= size) {
    const size_t n = std::min<size_t>((data[off] << 8 | data[off + 1]) % 2049, size - off - 2);
    off += 2;
    const std::span<const uint8_t> message(data + off, n);
    off += n;
    check.Check(message, false);
    sim::Actions act = adapter.OnMessage(iface, message);
    size_t bytes = 0;
    for (const auto& m : act.messages) bytes += m.bytes.size();
    // A streamed read answers at most 64 KiB in packets of at least a few bytes.
    if (bytes > 4 * 1024 * 1024) abort();
    if (act.unplug || adapter.TakeRestart()) break;  // the adapter left the bus or restarted
  }
  return 0;
}
