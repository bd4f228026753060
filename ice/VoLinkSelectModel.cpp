#include "ice/VoLinkSelectModel.h"

#include <chrono>
#include <cstdio>
#include <exception>

#include "ice/AdapterSelection.h"
#include "ice/CICE.h"
#include "ice/CICEGlobalMutex.h"
#include "platform/COneInstance2.h"
#include "platform/StringTable.h"

VoLinkSelectModel::VoLinkSelectModel(CICE& ice, CICEGlobalMutex& owner, std::vector<uint32_t> ids,
                                     std::vector<unsigned> indices, int initial)
    : m_ice(ice), m_owner(owner), m_ids(std::move(ids)), m_indices(std::move(indices)), m_nInitial(initial) {
  m_inUse = &CICEGlobalMutex::IsAdapterInUse;
  m_form.caption = "Vo-Link";
  m_form.groupTitle = "Select one Vo-Link";
  for (int i = 0; i < kButtons; ++i) {
    char text[24];
    std::snprintf(text, sizeof text, "ID: %08x", i + 1);
    m_form.buttons[i].text = text;
  }
}

VoLinkSelectModel::~VoLinkSelectModel() { Finish(); }

unsigned VoLinkSelectModel::AdapterIndex(int i) const {
  const auto at = static_cast<size_t>(i);
  return at < m_indices.size() ? m_indices[at] : static_cast<unsigned>(i);
}

void VoLinkSelectModel::ErrorForm(const std::string& message) {
  for (Button& b : m_form.buttons) b.visible = false;
  m_form.groupTitle = LOAD_STRING(IDS_ERROR);
  m_form.message = message;
  m_form.messageVisible = true;
  m_form.cancelVisible = false;
  m_form.okCentred = true;
  m_form.checked = -1;
  m_bEndedWithoutChoice = true;
}

const IAdapterSelectDialog::Form& VoLinkSelectModel::SetUp() {
  if (ice::HasDuplicateIds(m_ids)) {
    ErrorForm(LOAD_STRING(IDS_DUP_ICE_ID));
    return m_form;
  }
  if (m_ids.size() > static_cast<size_t>(kButtons)) {
    ErrorForm(LOAD_STRING(IDS_TOO_MANY_ICE));
    return m_form;
  }
  m_form.messageVisible = false;
  m_form.checked = -1;
  for (int i = 0; i < kButtons; ++i) {
    Button& b = m_form.buttons[i];
    b.visible = static_cast<size_t>(i) < m_ids.size();
    if (!b.visible) continue;
    char text[24];
    std::snprintf(text, sizeof text, "ID: %08x", m_ids[static_cast<size_t>(i)]);
    b.text = text;
    b.enabled = !m_inUse(m_ids[static_cast<size_t>(i)]);
    if (b.enabled && m_form.checked < 0) m_form.checked = i;
  }
  if (m_nInitial >= 0 && static_cast<size_t>(m_nInitial) < m_ids.size()) m_form.checked = m_nInitial;
  m_bWorkerFailed = false;
  m_bEndedWithoutChoice = false;
  // Nothing is highlighted until the user clicks a button: until then the
  // worker leaves every adapter alone (no blinking, no handshake, no key).
  ScopedMutex lock(m_lock);
  m_nHighlighted = -1;
  return m_form;
}

const IAdapterSelectDialog::Form& VoLinkSelectModel::Initialise(std::function<void()> endCancelled) {
  SetUp();
  if (!m_form.messageVisible && !m_worker.joinable()) {
    m_endCancelled = std::move(endCancelled);
    m_bStop = false;
    m_worker = std::thread([this] { WorkerLoop(); });
  }
  return m_form;
}

void VoLinkSelectModel::Highlight(int index) {
  ScopedMutex lock(m_lock);
  m_nHighlighted = index;
}

int VoLinkSelectModel::HighlightedIndex() {
  ScopedMutex lock(m_lock);
  return m_nHighlighted;
}

void VoLinkSelectModel::Ok(int selected) { m_nSelected = selected; }

void VoLinkSelectModel::Cancel() { m_bEndedWithoutChoice = true; }

void VoLinkSelectModel::Finish() {
  {
    std::lock_guard<std::mutex> wake(m_wakeMutex);
    m_bStop = true;
  }
  m_wake.notify_all();
  if (m_worker.joinable()) m_worker.join();
}

void VoLinkSelectModel::SleepMs(int ms) {
  if (m_sleep) {
    m_sleep(ms);
    return;
  }
  std::unique_lock<std::mutex> wake(m_wakeMutex);
  m_wake.wait_for(wake, std::chrono::milliseconds(ms), [this] { return m_bStop.load(); });
}

bool VoLinkSelectModel::WorkerPass() {
  try {
    int index;
    bool changed;
    {
      ScopedMutex lock(m_lock);
      index = m_nHighlighted;
      changed = index != m_nLastHighlighted;
      m_nLastHighlighted = index;
    }
    if (index < 0 || static_cast<size_t>(index) >= m_ids.size()) return true;
    const uint32_t id = m_ids[static_cast<size_t>(index)];
    if (changed) {
      ice::SelectAdapterIndex(m_ice, AdapterIndex(index));
      m_owner.SetKey(id);
      m_ice.ResetCmdSerial(0xFFFFFFFF);
    }
    if (m_owner.IsHolding(id)) {
      m_ice.BlinkAdapterLeds(kBlinkBits, kBlinkStepMs, kBlinkSteps);
      return true;
    }
    // Not ours: blink only while nobody else holds it, taken without waiting
    // through its own mutex (the ownership object stays as it is).
    COneInstance2 adapter;
    adapter.SetName(CICEGlobalMutex::AdapterMutexBase(id));
    adapter.CreateAndLock(0);
    if (adapter.IsLocked()) {
      m_ice.BlinkAdapterLeds(kBlinkBits, kBlinkStepMs, kBlinkSteps);
      adapter.UnlockAndClose();
    }
    return true;
  } catch (const std::exception&) {
    m_bWorkerFailed = true;
    return false;
  }
}

void VoLinkSelectModel::WorkerLoop() {
  while (!m_bStop) {
    if (!WorkerPass()) {
      SleepMs(kFailDelayMs);
      if (m_endCancelled) m_endCancelled();
      while (!m_bStop) SleepMs(kStopPollMs);
      return;
    }
    SleepMs(kPollMs);
  }
}
