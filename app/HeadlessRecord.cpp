#include "app/HeadlessRecord.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>

#include "app/CVoGadrelView.h"
#include "pinhistory/PinRecorder.h"
#include "pinhistory/PinSelection.h"

namespace {

// Waits until `untilUs`, handling events meanwhile.
void WaitUntil(int64_t untilUs) {
  for (;;) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    const int64_t left = untilUs - MonotonicMicros();
    if (left <= 0) return;
    QThread::usleep(static_cast<unsigned long>(std::min<int64_t>(left, 5000)));
  }
}

}  // namespace

VcdHeader GadrelVcdHeader() { return {"", "Gadrel 3.23"}; }

bool ExportVcd(const PinHistory& history, const std::vector<size_t>& pins, const std::string& path,
               std::string& error) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) {
    error = "cannot write " + path + ": " + std::strerror(errno);
    return false;
  }
  if (!WriteVcd(out, history, pins, GadrelVcdHeader())) {
    error = "cannot write " + path;
    return false;
  }
  out.close();
  if (!out) {
    error = "cannot write " + path;
    return false;
  }
  return true;
}

int RunHeadlessRecord(CVoGadrelView& view, const PinViewOptions& options) {
  // Fail on a file that cannot be written before spending the time.
  {
    std::ofstream probe(options.recordFile, std::ios::binary | std::ios::app);
    if (!probe) {
      std::fprintf(stderr, "gadrel: cannot write %s: %s\n", options.recordFile.c_str(), std::strerror(errno));
      return 1;
    }
  }
  PinRecorder recorder;
  recorder.Start();
  const int64_t periodUs = int64_t{options.rateMs} * 1000;
  const int64_t startUs = MonotonicMicros();
  const auto durationUs = static_cast<int64_t>(options.seconds * 1e6);
  const int64_t endUs = startUs + durationUs;
  int64_t next = startUs;
  std::vector<size_t> pins;
  bool pinsChosen = false;
  uint64_t refreshes = 0;
  while (MonotonicMicros() < endUs) {
    view.RefreshPins();
    ++refreshes;
    recorder.OnRefresh(view.LastRefreshUs(), view.Package());
    const PinHistory& h = recorder.History();
    if (!pinsChosen && !h.Empty()) {
      pinsChosen = true;
      std::string error;
      if (options.pins.empty()) {
        pins = AllPinsInOrder(h.Pins());
      } else if (!SelectPins(h.Pins(), options.pins, pins, error)) {
        std::fprintf(stderr, "gadrel: --pins: %s (%s)\n", error.c_str(), h.PackageName().c_str());
        return 1;
      }
    }
    // A refresh slower than the period starts the next one at once; the
    // samples keep their real times.
    next += periodUs;
    const int64_t now = MonotonicMicros();
    if (next < now) next = now;
    if (next >= endUs) break;
    WaitUntil(next);
  }
  const PinHistory& h = recorder.History();
  if (h.Empty()) {
    const std::string& why = view.Package().information;
    std::fprintf(stderr, "gadrel: no pins were read%s%s\n", why.empty() ? "" : ": ", why.c_str());
    return 1;
  }
  std::string error;
  if (!ExportVcd(h, pins, options.recordFile, error)) {
    std::fprintf(stderr, "gadrel: %s\n", error.c_str());
    return 1;
  }
  const double seconds = static_cast<double>(h.EndUs() - h.StartUs()) / 1e6;
  std::fprintf(stderr, "gadrel: %s: %zu pins of %s, %llu refreshes in %.1f s (%.1f ms apart)\n",
               options.recordFile.c_str(), pins.size(), h.PackageName().c_str(),
               static_cast<unsigned long long>(refreshes), seconds,
               refreshes > 1 ? seconds * 1000 / static_cast<double>(refreshes - 1) : 0.0);
  return 0;
}
