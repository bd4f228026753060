// Painting the timeline: 16 rows with a million changes in view, 1000
// pixel columns of waveform; the pins toggle at every sample (arg 0) or
// take random levels, no mark among them (arg 1). Also a strip of 16 quiet
// rows, as it is painted at every refresh of an idle chip.
#include <benchmark/benchmark.h>

#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <random>

#include "pinpaint/TimelinePainter.h"

namespace {

constexpr int kRows = 16;
constexpr int kWave = 1000;

// 16 pins, `samples` refreshes 16 us apart; every pin changes at each one.
void Fill(PinHistory& h, int samples, bool random) {
  std::mt19937 rng(3);
  PackageInfo pkg;
  pkg.name = "BENCH";
  for (int i = 0; i < kRows; ++i) {
    PinInfo p;
    p.pin_no = std::to_string(i + 1);
    p.texts = {"PB" + std::to_string(i)};
    p.highlight_text = p.texts[0];
    pkg.pins.push_back(p);
  }
  for (int s = 0; s < samples; ++s) {
    for (int i = 0; i < kRows; ++i) {
      int& status = pkg.pins[static_cast<size_t>(i)].status;
      if (random) {
        const int was = status;
        do status = 64 + static_cast<int>(rng() % 3); while (status == was);
      } else {
        status = s % 2 ? 65 : 66;
      }
    }
    h.Record(int64_t{s} * 16, pkg);
  }
}

void Paint(benchmark::State& state, int samples, bool random) {
  PinHistory history;
  Fill(history, samples, random);
  TimelinePainter painter;
  std::vector<TimelineRow> rows;
  for (int i = 0; i < kRows; ++i) rows.push_back({history.Pins()[static_cast<size_t>(i)], i});
  const QSize size(painter.Layout().labelWidth + kWave, painter.Layout().axisHeight + kRows * painter.Layout().rowHeight);
  QImage image(size, QImage::Format_ARGB32_Premultiplied);
  TimelineFrame f;
  f.originUs = history.StartUs();
  f.startUs = static_cast<double>(history.StartUs());
  f.usPerPx = static_cast<double>(history.EndUs() - history.StartUs()) / kWave;
  f.cursorUs = f.startUs + 300 * f.usPerPx;
  size_t changes = 0;
  for (int i = 0; i < kRows; ++i) changes += history.Changes(static_cast<size_t>(i)).size();
  for (auto _ : state) {
    QPainter p(&image);
    painter.Paint(p, size, history, rows, f);
  }
  state.counters["changes"] = static_cast<double>(changes);
}

void BM_PaintMillion(benchmark::State& state) { Paint(state, 1000000 / kRows, state.range(0) == 1); }
BENCHMARK(BM_PaintMillion)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_PaintQuiet(benchmark::State& state) { Paint(state, 20, false); }
BENCHMARK(BM_PaintQuiet)->Unit(benchmark::kMillisecond);

// The reduction alone: 16 rows of a million changes to 1000 columns.
void BM_ReduceMillion(benchmark::State& state) {
  PinHistory history;
  Fill(history, 1000000 / kRows, state.range(0) == 1);
  std::vector<PinColumn> columns(kWave);
  const double per = static_cast<double>(history.EndUs() - history.StartUs()) / kWave;
  for (auto _ : state) {
    for (size_t i = 0; i < kRows; ++i)
      SummarizeColumns(history, i, static_cast<double>(history.StartUs()), per, columns);
    benchmark::DoNotOptimize(columns.data());
  }
}
BENCHMARK(BM_ReduceMillion)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  return 0;
}
