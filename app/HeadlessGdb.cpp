#include "app/HeadlessGdb.h"

#include <QApplication>
#include <QTimer>
#include <cstdio>

#include "app/CMainFrame.h"
#include "app/CVoGadrelView.h"
#include "app/GdbService.h"
#include "app/PinViewApp.h"
#include "app/PinViewOptions.h"

namespace {

constexpr int kDefaultPeriodMs = 100;

// Writes the regions beside their final name and moves them over, so a
// reader never sees half a file. (Drawing the picture takes longer than a
// refresh: it is written once, at the end.)
bool PublishRegions(CVoGadrelView& view, const std::string& png, std::string& error) {
  const std::string json = RenderJsonPath(png);
  const std::string part = json + ".part";
  if (!WriteRenderRegions(view, part, error)) return false;
  if (std::rename(part.c_str(), json.c_str()) != 0) {
    error = "cannot write " + json;
    return false;
  }
  return true;
}

}  // namespace

int RunHeadlessGdbRender(CMainFrame& frame, const PinViewOptions& options) {
  CVoGadrelView& view = *frame.View();
  std::string error;
  view.RefreshPins();  // the pin script opens the adapter
  if (view.IsClosing()) return 1;
  if (!PublishRegions(view, options.renderFile, error) || !frame.StartGdbServer(*options.gdbPort, error)) {
    std::fprintf(stderr, "gadrel: %s\n", error.c_str());
    return 1;
  }
  std::printf("GDB server listening on 127.0.0.1:%u; in gdb:\n  %s\n", frame.Gdb().Port(),
              frame.Gdb().TargetCommand().c_str());
  std::fflush(stdout);

  int status = 0, done = 1;
  bool clientLeft = false;
  QObject::connect(&frame.Gdb(), &GdbService::ClientLeft, &frame, [&clientLeft] { clientLeft = true; });
  QTimer timer;
  QObject::connect(&timer, &QTimer::timeout, &frame, [&] {
    view.RefreshPins();
    if (view.IsClosing() || !PublishRegions(view, options.renderFile, error)) {
      if (!error.empty()) std::fprintf(stderr, "gadrel: %s\n", error.c_str());
      status = 1;
      QApplication::quit();
      return;
    }
    if (++done >= options.ticks || clientLeft) QApplication::quit();
  });
  timer.start(options.rateGiven ? options.rateMs : kDefaultPeriodMs);
  QApplication::exec();
  frame.StopGdbServer();
  if (status == 0 && !WriteRender(view, options.renderFile, error)) {
    std::fprintf(stderr, "gadrel: %s\n", error.c_str());
    status = 1;
  }
  return status;
}
