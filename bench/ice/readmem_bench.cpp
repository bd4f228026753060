// Memory-read throughput of the command layer over the emulator with its
// USB timing on, as a fraction of what the emulated link carries at most
// (one packet per transfer time: 64 bytes per 1 ms frame on full-speed HID,
// 512 bytes per 125 us on high-speed bulk); and the exchanges that 84
// scattered word reads take.
#include <benchmark/benchmark.h>
#include <sys/prctl.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "ice/CICE_M4.h"
#include "sim/ControlClient.h"
#include "sim/Server.h"

namespace fs = std::filesystem;

namespace {

struct Link {
  const char* kind;
  int size;
  double limitBytesPerSecond;
};
constexpr Link kLinks[] = {
    {"hid", 64, 64.0 * 1000},            // 64 bytes per 1 ms frame
    {"bulk", 512, 512.0 * 8000},         // 512 bytes per 125 us
    {"hid", 1024, 64.0 * 1000},          // sixteen frames per report
};

// A private in-process emulator with one adapter on one interface, timing
// on, and a connected Cortex-M target.
class Rig {
 public:
  explicit Rig(const Link& link) {
    std::string tmpl = (fs::temp_directory_path() / "ice-bench-XXXXXX").string();
    if (!::mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp");
    m_dir = tmpl;
    ::setenv("VOLINK_SIM_DIR", m_dir.c_str(), 1);
    ::setenv("GADREL_USB_REAL", "0", 1);
    const std::string config = std::string(R"({"adapters": [{"name": "a", "generation": 1,
        "interfaces": [{"kind": ")") + link.kind + R"(", "interface": 3, "size": )" +
                               std::to_string(link.size) + R"(}]}]})";
    // The emulator's thread schedules replies microseconds apart; it inherits
    // this thread's timer slack.
    ::prctl(PR_SET_TIMERSLACK, 1UL, 0, 0, 0);
    m_server = std::make_unique<sim::Server>(sim::ParseConfig(config), m_dir);
    m_server->Start();
    for (int i = 0; i < 500 && !fs::exists(m_dir + "/volink-sim.ctl"); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    m_ice.DiscoverAdapters(false);
    if (!m_ice.CheckUSBLink()) throw std::runtime_error("no emulated adapter");
    m_ice.SelectAdapter(0);
    m_ice.ResetCmdSerial(0xFFFFFFFF);
    m_ice.SetConfig(1024, 3300, true);
    m_ice.MCUConnect(ice::RESET_NONE, ice::CONNECT_NORMAL, 1, 0);
    sim::SendControl(m_server->ControlPath(), "timing a on");
  }
  ~Rig() {
    m_ice.CloseAllAdapters();
    m_server->Stop();
    std::error_code ec;
    fs::remove_all(m_dir, ec);
  }
  CICE_M4& Ice() { return m_ice; }

 private:
  std::string m_dir;
  std::unique_ptr<sim::Server> m_server;
  CICE_M4 m_ice;
};

void BM_ReadMem64K(benchmark::State& state) {
  const Link& link = kLinks[state.range(0)];
  const bool streaming = state.range(1) != 0;
  Rig rig(link);
  constexpr unsigned kBytes = 64 * 1024;
  std::vector<uint8_t> buffer(kBytes);
  const uint64_t before = rig.Ice().GetExchangeCount();
  double seconds = 0;
  for (auto _ : state) {
    const auto t0 = std::chrono::steady_clock::now();
    rig.Ice().ReadMem(0x20000000, buffer.data(), kBytes, false, streaming);
    seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    benchmark::DoNotOptimize(buffer.data());
  }
  const double exchanges = static_cast<double>(rig.Ice().GetExchangeCount() - before);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kBytes);
  // Throughput over the most the emulated link carries in the same time.
  state.counters["link_fraction"] =
      static_cast<double>(state.iterations()) * kBytes / seconds / link.limitBytesPerSecond;
  state.counters["requests"] =
      benchmark::Counter(exchanges, benchmark::Counter::kAvgIterations);
  state.SetLabel(std::string(link.kind) + " " + std::to_string(link.size) +
                 (streaming ? " streamed" : " block loop"));
}

void BM_Scattered84(benchmark::State& state) {
  const Link& link = kLinks[state.range(0)];
  Rig rig(link);
  std::vector<uint32_t> addresses(84), values(84);
  for (uint32_t i = 0; i < 84; ++i) addresses[i] = 0x20000000 + 0x40 * i;
  const uint64_t before = rig.Ice().GetExchangeCount();
  for (auto _ : state) {
    rig.Ice().ReadMemMulti(84, addresses.data(), values.data());
    benchmark::DoNotOptimize(values.data());
  }
  state.counters["exchanges"] = benchmark::Counter(
      static_cast<double>(rig.Ice().GetExchangeCount() - before), benchmark::Counter::kAvgIterations);
  state.SetLabel(std::string(link.kind) + " " + std::to_string(link.size));
}

}  // namespace

BENCHMARK(BM_ReadMem64K)->Args({0, 0})->Iterations(2)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ReadMem64K)->Args({0, 1})->Iterations(2)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ReadMem64K)->Args({1, 0})->Iterations(10)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ReadMem64K)->Args({1, 1})->Iterations(10)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Scattered84)->Arg(0)->Iterations(10)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Scattered84)->Arg(1)->Iterations(10)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Scattered84)->Arg(2)->Iterations(10)->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK_MAIN();
