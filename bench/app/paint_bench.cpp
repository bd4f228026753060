// Paint of a 216-pin four-sided package (k = 54) with every function shown,
// at zoom 1.0 and 2.0: placed and painted in one go as the client area and
// as the whole canvas; the view's client area drawn from the placements;
// refreshes that change only levels, or levels and the highlighted
// functions; and one full refresh (script call, table reading, placing,
// repainting what changed).
#include <benchmark/benchmark.h>

#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QTemporaryDir>
#include <fstream>

#include "pinmodel/PackageReader.h"
#include "pinpaint/PackagePainter.h"
#include "pinpaint/PackageScene.h"
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

const QColor kButtonFace(0xEF, 0xEF, 0xEF);

// The view's client area at the initial scroll position scaled with the zoom.
QPoint ClientOrigin(float zoom) { return {int(780 * zoom), int(560 * zoom)}; }
const QSize kClient(1000, 750);

// Places and paints in one go, as a client-sized bitmap (cull = true) or the
// whole canvas (cull = false).
void PaintOnce(const PackageInfo& info, float zoom, bool clientOnly, QImage& image, std::vector<TipRegion>& regions) {
  const QPoint origin = clientOnly ? ClientOrigin(zoom) : QPoint(0, 0);
  image.fill(0xFFFFFFFF);
  QPainter p(&image);
  p.translate(-origin);
  PaintOptions o;
  o.zoom = zoom;
  o.clientWidth = 1000;
  if (clientOnly) o.visible = QRectF(origin, image.size());
  PaintPackage(p, info, o, regions);
  PaintControlPanel(p, origin, kButtonFace);
}

void BM_Paint(benchmark::State& state) {
  Host host;
  const PackageInfo info = LoadPackage(host);
  const float zoom = static_cast<float>(state.range(0)) / 10.0f;
  const bool client = state.range(1) != 0;
  QImage image = client ? QImage(kClient, QImage::Format_ARGB32_Premultiplied)
                        : QImage(int(2400 * zoom), int(2460 * zoom), QImage::Format_ARGB32_Premultiplied);
  std::vector<TipRegion> regions;
  for (auto _ : state) {
    PaintOnce(info, zoom, client, image, regions);
    benchmark::DoNotOptimize(regions.data());
  }
  state.SetLabel(client ? "placed and painted, client area 1000x750" : "placed and painted, whole canvas");
}
BENCHMARK(BM_Paint)->Args({10, 1})->Args({20, 1})->Args({10, 0})->Args({20, 0})->Unit(benchmark::kMillisecond);

// A scene at `zoom` holding `info`, its frame drawn once.
void Prepare(PackageScene& scene, const PackageInfo& info, float zoom) {
  scene.SetView(zoom, true, kClient.width());
  scene.SetPackage(info);
  benchmark::DoNotOptimize(scene.Frame(ClientOrigin(zoom), kClient, kButtonFace).constBits());
}

// The view's paint of its client area from the placements: static layer and
// frame drawn from scratch (as after scrolling or an expose).
void BM_ViewPaint(benchmark::State& state) {
  Host host;
  const float zoom = static_cast<float>(state.range(0)) / 10.0f;
  PackageScene scene;
  Prepare(scene, LoadPackage(host), zoom);
  for (auto _ : state) {
    scene.Invalidate();
    benchmark::DoNotOptimize(scene.Frame(ClientOrigin(zoom), kClient, kButtonFace).constBits());
  }
  state.SetLabel("client area 1000x750 from the placements");
}
BENCHMARK(BM_ViewPaint)->Arg(10)->Arg(20)->Unit(benchmark::kMillisecond);

// Refreshes that alternate between two packages: placing the new package,
// finding what changed and repainting it. Arg 1: every pin's level and
// direction changes; arg 2: also its highlighted function.
void BM_Refresh(benchmark::State& state) {
  Host host;
  const float zoom = static_cast<float>(state.range(0)) / 10.0f;
  const PackageInfo a = LoadPackage(host);
  PackageInfo b = a;
  if (state.range(1) == 1) {
    for (PinInfo& pin : b.pins) {
      pin.status = pin.status == 65 ? 66 : 65;
      pin.direction = (pin.direction + 1) % 5;
    }
  } else {
    b = LoadPackage(host);
  }
  PackageScene scene;
  Prepare(scene, a, zoom);
  bool flip = false;
  for (auto _ : state) {
    // The view moves the package the script returned in; the copy is not
    // part of the refresh.
    state.PauseTiming();
    flip = !flip;
    PackageInfo next = flip ? b : a;
    state.ResumeTiming();
    scene.SetPackage(std::move(next));
    benchmark::DoNotOptimize(scene.Frame(ClientOrigin(zoom), kClient, kButtonFace).constBits());
  }
  state.SetLabel(state.range(1) == 1 ? "levels and directions of all pins" : "levels and highlighted functions of all pins");
}
BENCHMARK(BM_Refresh)->Args({10, 1})->Args({20, 1})->Args({10, 2})->Args({20, 2})->Unit(benchmark::kMillisecond);

// Script call, table reading, placing and repainting what changed.
void BM_FullRefresh(benchmark::State& state) {
  Host host;
  const float zoom = static_cast<float>(state.range(0)) / 10.0f;
  PackageScene scene;
  Prepare(scene, LoadPackage(host), zoom);
  for (auto _ : state) {
    scene.SetPackage(LoadPackage(host));
    benchmark::DoNotOptimize(scene.Frame(ClientOrigin(zoom), kClient, kButtonFace).constBits());
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
