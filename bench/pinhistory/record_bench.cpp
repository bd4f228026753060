// Recording one refresh of the 216-pin bench package (every pin with four
// functions): nothing changed, every level changed, every level and
// highlighted function changed. The cap drops old changes as it would in a
// long recording.
#include <benchmark/benchmark.h>

#include <string>

#include "pinhistory/PinHistory.h"

namespace {

PackageInfo BenchPackage(int tick) {
  PackageInfo pkg;
  pkg.name = "BENCH216";
  for (int i = 1; i <= 216; ++i) {
    PinInfo p;
    p.pin_no = std::to_string(i);
    p.texts = {"P" + std::to_string(i), "UART" + std::to_string(i % 4) + "_TX", "SPI" + std::to_string(i % 3) + "_MOSI",
               "TIM" + std::to_string(i % 5) + "_CH1"};
    p.highlight_text = p.texts[static_cast<size_t>((i + tick) % 4)];
    p.direction = i % 5;
    p.status = (i + tick) % 2 == 0 ? 65 : 66;
    pkg.pins.push_back(std::move(p));
  }
  return pkg;
}

// Arg 0: the same package every time; 1: every level flips; 2: every level
// and highlighted function changes.
void BM_RecordRefresh(benchmark::State& state) {
  PinHistory history;
  const PackageInfo a = BenchPackage(0);
  PackageInfo b = a;
  if (state.range(0) == 1) {
    for (PinInfo& p : b.pins) p.status = p.status == 65 ? 66 : 65;
  } else if (state.range(0) == 2) {
    b = BenchPackage(1);
  }
  int64_t t = 0;
  bool flip = false;
  for (auto _ : state) {
    flip = !flip;
    t += 20000;
    benchmark::DoNotOptimize(history.Record(t, flip ? b : a));
  }
  state.SetLabel(state.range(0) == 0   ? "nothing changed"
                 : state.range(0) == 1 ? "all 216 levels changed"
                                       : "all levels and functions changed");
  state.counters["MiB"] = static_cast<double>(history.MemoryBytes()) / (1 << 20);
}
BENCHMARK(BM_RecordRefresh)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
