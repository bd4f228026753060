// Paint of a 216-pin four-sided package (k = 54) with every function shown,
// as the view paints its client area and as the whole canvas, at zoom 1.0
// and 2.0; and one full refresh (script call, table reading, paint).
#include <benchmark/benchmark.h>

#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QTemporaryDir>
#include <fstream>

#include "pinpaint/PackagePainter.h"
#include "pinmodel/PackageReader.h"
#include "script/CICECmd.h"

namespace {

constexpr const char* kScript = R"(
tick = 0
function get_status()
  tick = tick + 1
  local pins = {}
  for i = 1, 216 do
    local texts = {"P" .. i, "UART" .. (i % 4) .. "_TX", "SPI" .. (i % 3) .. "_MOSI", "TIM" .. (i % 5) .. "_CH1"}
    pins[i] = {pin_no = i, texts = texts, highlight_text = texts[(i + tick) % 4 + 1],
               normal_color = 0xFF404040, highlight_color = 0xFFD00000, pin_bg_color = 0xFFE0F0FF,
               direction = i % 5, pullup = i % 3 == 0, status = (i + tick) % 2 == 0 and 65 or 66,
               information = "<b>pin " .. i .. "</b><br>active: " .. texts[(i + tick) % 4 + 1]}
  end
  return {name = "BENCH216", name_color = 0xFF000080, information = "bench", pins = pins,
          processor = {information = "cpu"}, pkg_frame = 0}
end
)";

// One host with the benchmark script loaded.
struct Host {
  QTemporaryDir dir;
  CICECmd cmd;
  Host() {
    const std::string path = dir.filePath("bench.lua").toStdString();
    std::ofstream(path) << kScript;
    cmd.InitScript(nullptr, "Gadrel", dir.path().toStdString().c_str());
    cmd.RunScriptFile(path, false);
  }
};

PackageInfo LoadPackage(Host& host) {
  PackageInfo info;
  GetPinStatus(host.cmd.GetLuaState(), info, false);
  return info;
}

// Paints like the view: a client-sized bitmap at the initial scroll position
// scaled with the zoom (cull = true), or the whole canvas (cull = false).
void PaintOnce(const PackageInfo& info, float zoom, bool clientOnly, QImage& image, std::vector<TipRegion>& regions) {
  const QPoint origin = clientOnly ? QPoint(int(780 * zoom), int(560 * zoom)) : QPoint(0, 0);
  image.fill(0xFFFFFFFF);
  QPainter p(&image);
  p.translate(-origin);
  PaintOptions o;
  o.zoom = zoom;
  o.clientWidth = 1000;
  if (clientOnly) o.visible = QRectF(origin, image.size());
  PaintPackage(p, info, o, regions);
  PaintControlPanel(p, origin, QColor(0xEF, 0xEF, 0xEF));
}

void BM_Paint(benchmark::State& state) {
  Host host;
  const PackageInfo info = LoadPackage(host);
  const float zoom = static_cast<float>(state.range(0)) / 10.0f;
  const bool client = state.range(1) != 0;
  QImage image = client ? QImage(1000, 750, QImage::Format_ARGB32_Premultiplied)
                        : QImage(int(2400 * zoom), int(2460 * zoom), QImage::Format_ARGB32_Premultiplied);
  std::vector<TipRegion> regions;
  for (auto _ : state) {
    PaintOnce(info, zoom, client, image, regions);
    benchmark::DoNotOptimize(regions.data());
  }
  state.SetLabel(client ? "client area 1000x750" : "whole canvas");
}
BENCHMARK(BM_Paint)->Args({10, 1})->Args({20, 1})->Args({10, 0})->Args({20, 0})->Unit(benchmark::kMillisecond);

void BM_FullRefresh(benchmark::State& state) {
  Host host;
  const float zoom = static_cast<float>(state.range(0)) / 10.0f;
  QImage image(1000, 750, QImage::Format_ARGB32_Premultiplied);
  std::vector<TipRegion> regions;
  for (auto _ : state) {
    const PackageInfo info = LoadPackage(host);
    PaintOnce(info, zoom, true, image, regions);
    benchmark::DoNotOptimize(regions.data());
  }
}
BENCHMARK(BM_FullRefresh)->Arg(10)->Arg(20)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
