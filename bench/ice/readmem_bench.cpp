// Memory-read throughput of the command layer over the emulator with its
// USB timing on, as a fraction of what the emulated link carries at most
// (one packet per transfer time: 64 bytes per 1 ms frame on full-speed HID,
// 512 bytes per 125 us on high-speed bulk); and the exchanges that 84
// scattered word reads take.
#include <benchmark/benchmark.h>

#include <vector>

#include "bench/ice/EmulatedLink.h"

using namespace bench;

namespace {

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
