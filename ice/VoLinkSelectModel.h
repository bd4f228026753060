// The adapter-selection dialog without its widgets: the set-up (buttons,
// in-use adapters disabled, the default button, the error form for duplicate
// IDs and too many adapters), the user's actions, the result flags, and the
// worker that makes the highlighted adapter blink while the dialog is open.
// Only a click highlights an adapter: the default button is checked, but
// nothing blinks and no adapter is touched before the user picks one.
//
// The worker runs on its own thread, polls every 300 ms and talks only to
// the adapter layer and the ownership object; it reaches the dialog solely
// through the `endCancelled` callback. Tests call WorkerPass directly and
// may replace the sleep.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/CMutex2.h"
#include "ice/AdapterSelectDialog.h"

class CICE;
class CICEGlobalMutex;

class VoLinkSelectModel : public IAdapterSelectDialog {
 public:
  static constexpr int kPollMs = 300;
  static constexpr int kFailDelayMs = 350;
  static constexpr int kStopPollMs = 100;
  // BlinkAdapterLeds arguments: all four lights, 70 ms a step, 7 steps.
  static constexpr uint32_t kBlinkBits = 15;
  static constexpr unsigned kBlinkStepMs = 70;
  static constexpr unsigned kBlinkSteps = 7;

  // `ids` in list order, `indices` the adapter index of each (empty: the
  // position itself); `initial` overrides the default button when valid.
  VoLinkSelectModel(CICE& ice, CICEGlobalMutex& owner, std::vector<uint32_t> ids,
                    std::vector<unsigned> indices = {}, int initial = -1);
  ~VoLinkSelectModel() override;
  VoLinkSelectModel(const VoLinkSelectModel&) = delete;
  VoLinkSelectModel& operator=(const VoLinkSelectModel&) = delete;

  const Form& Initialise(std::function<void()> endCancelled) override;
  void Highlight(int index) override;
  void Ok(int selected) override;
  void Cancel() override;
  void Finish() override;

  // The set-up without starting the worker (Initialise runs it first).
  const Form& SetUp();
  const Form& GetForm() const { return m_form; }

  // One pass of the worker (steps 2 and 3): blinks the highlighted adapter.
  // False when talking to the adapter failed (the worker-failed flag is then set).
  bool WorkerPass();
  // The whole worker: passes every kPollMs until stopped; after a failure it
  // waits kFailDelayMs, calls `endCancelled` and waits for the stop flag.
  void WorkerLoop();
  // Replaces the worker's sleep (default: waits, waking early on stop).
  void SetSleep(std::function<void(int ms)> sleep) { m_sleep = std::move(sleep); }
  // Replaces the in-use test of adapter IDs (default: the per-adapter mutex).
  void SetInUseTest(std::function<bool(uint32_t)> inUse) { m_inUse = std::move(inUse); }

  bool WorkerFailed() const { return m_bWorkerFailed; }
  bool EndedWithoutChoice() const { return m_bEndedWithoutChoice; }
  int SelectedIndex() const { return m_nSelected; }
  int HighlightedIndex();
  // Adapter index of list position i.
  unsigned AdapterIndex(int i) const;

 private:
  void ErrorForm(const std::string& message);
  void SleepMs(int ms);

  CICE& m_ice;
  CICEGlobalMutex& m_owner;
  std::vector<uint32_t> m_ids;
  std::vector<unsigned> m_indices;
  int m_nInitial;
  Form m_form;
  int m_nSelected = -1;
  std::atomic<bool> m_bWorkerFailed{false};
  bool m_bEndedWithoutChoice = false;

  // Shared with the worker.
  CMutex2 m_lock;
  int m_nHighlighted = -1;
  int m_nLastHighlighted = -1;  // worker only
  std::atomic<bool> m_bStop{false};
  std::function<void()> m_endCancelled;
  std::function<void(int)> m_sleep;
  std::function<bool(uint32_t)> m_inUse;
  std::mutex m_wakeMutex;
  std::condition_variable m_wake;
  std::thread m_worker;
};
