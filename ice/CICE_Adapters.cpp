// CICE: construction, the transport slots and adapter selection.
#include <chrono>
#include <thread>

#include "ice/CICE.h"
#include "platform/UserInteraction.h"

CICE::CICE() = default;

CICE::~CICE() {
  try {
    ShutDown();
  } catch (...) {
  }
}

void CICE::ShutDown() {
  {
    ScopedMutex lock(m_cmdLock);
    m_discovery.CloseAll();
    m_nSelectedSlot = m_nSelectedDevice = -1;
  }
  // Whoever serves the busy call gets a bounded time to finish it: a call
  // that nobody completes (its server gone) must not keep us here for ever.
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(kBusyWaitMs);
  for (;;) {
    {
      ScopedMutex lock(m_cmdLock);
      if (!IsBusy()) return;
    }
    if (std::chrono::steady_clock::now() >= until) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
}

void ShowDiscoveryReport(IUserInteraction& ui, const DiscoveryReport& report) {
  const std::string denied = report.PermissionText();
  if (!denied.empty())
    ui.MessageBox("Gadrel", denied, IUserInteraction::Icon::Warning, IUserInteraction::Buttons::Ok, nullptr);
  if (!report)
    ui.MessageBox("Gadrel", CUsbDiscovery::kNoDeviceMessage, IUserInteraction::Icon::Stop,
                  IUserInteraction::Buttons::Ok, nullptr);
}

void CICE::DiscoverAdapters(bool report) {
  ScopedMutex lock(m_cmdLock);
  if (AnyFound()) return;
  const DiscoveryReport& found = m_discovery.Run();
  if (found)
    SelectAdapter(0);
  else if (report && m_pUI)
    ShowDiscoveryReport(*m_pUI, found);
}

void CICE::CloseAllAdapters() {
  ScopedMutex lock(m_cmdLock);
  m_discovery.CloseAll();
  m_nSelectedSlot = -1;
  m_nSelectedDevice = -1;
}

unsigned CICE::GetDeviceCount() {
  ScopedMutex lock(m_cmdLock);
  return m_discovery.GetDeviceCount();
}

int CICE::SelectAdapter(unsigned index) {
  ScopedMutex lock(m_cmdLock);
  m_uFirmwareVersion = kUnknownFirmware;
  m_features = {};
  unsigned before = 0;
  for (int slot = 0; slot < kPortCount; ++slot) {
    CUsbCmd& t = m_discovery.Transport(slot);
    const unsigned n = t.GetDeviceCount();
    if (index < before + n) {
      m_nSelectedSlot = slot;
      m_nSelectedDevice = static_cast<int>(index - before);
      const unsigned previous = t.SelectDevice(index - before);
      return static_cast<int>(previous + before);
    }
    before += n;
  }
  return 0;
}

unsigned CICE::GetSelectedAdapter() {
  ScopedMutex lock(m_cmdLock);
  if (m_nSelectedSlot < 0 || m_nSelectedSlot >= kPortCount) return 0;
  unsigned before = 0;
  for (int slot = 0; slot < m_nSelectedSlot; ++slot)
    before += m_discovery.Transport(slot).GetDeviceCount();
  return before + static_cast<unsigned>(m_nSelectedDevice);
}

void CICE::ReleaseOtherAdapters() {
  ScopedMutex lock(m_cmdLock);
  for (int slot = 0; slot < kPortCount; ++slot) {
    if (slot == m_nSelectedSlot)
      m_discovery.Transport(slot).CloseOthers();
    else
      m_discovery.Transport(slot).CloseAll();
  }
}

int CICE::GetComPort() {
  ScopedMutex lock(m_cmdLock);
  CUsbCmd* t = SelectedTransport();
  if (!t) return -1;
  return m_discovery.FindComPort(t->GetLocationId());
}
