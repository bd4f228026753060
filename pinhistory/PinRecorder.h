// Recording on and off over a pin history, the refreshes it takes, and the
// rate they actually came at.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>

#include "pinhistory/PinHistory.h"
#include "pinmodel/PackageInfo.h"

// Microseconds of the monotonic clock the history's times are in.
int64_t MonotonicMicros();

class PinRecorder {
 public:
  explicit PinRecorder(size_t capBytes = PinHistory::kDefaultCapBytes) : m_history(capBytes) {}

  // Record from now on; Pause leaves a gap from `timeUs` until recording
  // starts again.
  void Start();
  void Pause(int64_t timeUs);
  bool Recording() const { return m_bRecording; }

  // A refresh made at `timeUs`; kept while recording. True when it started
  // a new history (another package).
  bool OnRefresh(int64_t timeUs, const PackageInfo& package);

  PinHistory& History() { return m_history; }
  const PinHistory& History() const { return m_history; }

  // Mean time between the refreshes recorded over the last second, in
  // milliseconds; 0 until two are known.
  double ReachedPeriodMs() const;

 private:
  PinHistory m_history;
  bool m_bRecording = false;
  std::deque<int64_t> m_recent;  // times of the refreshes of the last second
};
