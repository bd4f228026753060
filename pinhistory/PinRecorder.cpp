#include "pinhistory/PinRecorder.h"

#include <chrono>

int64_t MonotonicMicros() {
  return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

void PinRecorder::Start() {
  m_bRecording = true;
  m_recent.clear();
}

void PinRecorder::Pause(int64_t timeUs) {
  if (!m_bRecording) return;
  m_bRecording = false;
  m_history.MarkGap(timeUs);
  m_recent.clear();
}

bool PinRecorder::OnRefresh(int64_t timeUs, const PackageInfo& package) {
  if (!m_bRecording) return false;
  m_recent.push_back(timeUs);
  while (m_recent.size() > 2 && m_recent.front() < timeUs - 1000000) m_recent.pop_front();
  return m_history.Record(timeUs, package);
}

double PinRecorder::ReachedPeriodMs() const {
  if (m_recent.size() < 2) return 0;
  return static_cast<double>(m_recent.back() - m_recent.front()) / 1000.0 / static_cast<double>(m_recent.size() - 1);
}
