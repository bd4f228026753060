#include "usb/CUsbDiscovery.h"

#include <algorithm>

#include "usb/CBulkUSB.h"
#include "usb/CHidCmd.h"
#include "usb/CWinUSB.h"
#include "usb/UsbTables.h"

using namespace usbtables;

CUsbDiscovery::CUsbDiscovery() {
  auto winUsb2 = std::make_unique<CWinUSB>();
  auto winUsb4 = std::make_unique<CWinUSB>();
  auto winUsb6 = std::make_unique<CWinUSB>();
  // Each bulk slot tries every adapter of the family; the ones another slot
  // already holds are ours, not busy.
  winUsb2->SetSiblings({winUsb4.get(), winUsb6.get()});
  winUsb4->SetSiblings({winUsb2.get(), winUsb6.get()});
  winUsb6->SetSiblings({winUsb2.get(), winUsb4.get()});
  m_transports[0] = std::make_unique<CHidCmd>();
  m_transports[1] = std::make_unique<CBulkUSB>();
  m_transports[2] = std::move(winUsb2);
  m_transports[3] = std::make_unique<CHidCmd>();
  m_transports[4] = std::move(winUsb4);
  m_transports[5] = std::make_unique<CHidCmd>();
  m_transports[6] = std::move(winUsb6);
  const int generation[kSlotCount] = {PORT_CHIP_TYPE_VOLINK1, PORT_CHIP_TYPE_VOLINK1,
                                      PORT_CHIP_TYPE_VOLINK1, PORT_CHIP_TYPE_VOLINK2,
                                      PORT_CHIP_TYPE_VOLINK2, PORT_CHIP_TYPE_VOLINK3,
                                      PORT_CHIP_TYPE_VOLINK3};
  for (int i = 0; i < kSlotCount; ++i) {
    m_ports[static_cast<size_t>(i)] = {0, generation[i], m_transports[static_cast<size_t>(i)].get()};
  }
}

CUsbDiscovery::~CUsbDiscovery() = default;

bool CUsbDiscovery::AnyFound() const {
  for (const UsbPortEntry& p : m_ports) {
    if (p.bFound) return true;
  }
  return false;
}

const DiscoveryReport& CUsbDiscovery::Run() {
  if (AnyFound()) return m_report;
  m_serialPorts.clear();
  m_report = {};

  CUsbCmd& slot0 = Transport(0);
  CUsbCmd& slot1 = Transport(1);
  CUsbCmd& slot2 = Transport(2);
  CUsbCmd& slot3 = Transport(3);
  CUsbCmd& slot4 = Transport(4);
  CUsbCmd& slot6 = Transport(6);

  slot6.Open(1, kT6, Count(kT6));
  slot4.Open(1, kT4, Count(kT4));
  // Adapters of T4 offer a bulk and a HID interface; while the bulk one is
  // present (even held elsewhere) their HID interface stays unused.
  if (slot4.GetDeviceCount() == 0 && !slot4.HasOpenFailure())
    slot3.Open(1, kT3Full, Count(kT3Full));
  else
    slot3.Open(1, kT3Reduced, Count(kT3Reduced));
  slot1.Open(0, kT1, Count(kT1));
  if (slot1.GetDeviceCount() == 0) slot2.Open(0, kT1, Count(kT1));
  if (slot1.GetDeviceCount() == 0 && slot2.GetDeviceCount() == 0 && !slot2.HasOpenFailure())
    slot0.Open(0, kT0Full, Count(kT0Full));
  else
    slot0.Open(0, kT0Reduced, Count(kT0Reduced));

  for (UsbPortEntry& p : m_ports) {
    p.bFound = p.pTransport->GetDeviceCount() > 0 ? 1 : 0;
    // The bulk slots all try every adapter of the family: one problem each.
    for (const OpenProblem& problem : p.pTransport->GetOpenProblems()) {
      std::vector<OpenProblem>& problems = m_report.problems;
      const bool known = std::any_of(problems.begin(), problems.end(), [&](const OpenProblem& q) {
        return q.kind == problem.kind && q.backend == problem.backend && q.path == problem.path;
      });
      if (!known) problems.push_back(problem);
    }
  }
  m_serialPorts = ListSerialPorts(m_sysRoot);

  m_report.adapters = GetDeviceCount();
  if (AnyFound()) SelectAdapter(0);
  return m_report;
}

std::string DiscoveryReport::PermissionText() const {
  std::string text;
  for (const OpenProblem& p : problems) {
    if (p.error == usbdev::OpenError::PermissionDenied) text += DescribeOpenProblem(p) + "\n";
  }
  return text;
}

void CUsbDiscovery::CloseAll() {
  for (UsbPortEntry& p : m_ports) {
    p.bFound = 0;
    p.pTransport->CloseAll();
  }
  m_serialPorts.clear();
}

unsigned CUsbDiscovery::GetDeviceCount() const {
  unsigned n = 0;
  for (const UsbPortEntry& p : m_ports) n += p.pTransport->GetDeviceCount();
  return n;
}

bool CUsbDiscovery::SelectAdapter(unsigned index, int* slot, unsigned* device) {
  unsigned before = 0;
  for (int s = 0; s < kSlotCount; ++s) {
    CUsbCmd& t = Transport(s);
    const unsigned n = t.GetDeviceCount();
    if (index < before + n) {
      t.SelectDevice(index - before);
      if (slot) *slot = s;
      if (device) *device = index - before;
      return true;
    }
    before += n;
  }
  return false;
}

int CUsbDiscovery::FindComPort(const std::string& locationId) const {
  if (locationId.empty()) return -1;
  for (const SerialPortRecord& r : m_serialPorts) {
    if (r.locationId == locationId) return r.comPort;
  }
  return -1;
}
