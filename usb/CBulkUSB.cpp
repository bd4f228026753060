#include "usb/CBulkUSB.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

CBulkUSB::CBulkUSB() = default;
CBulkUSB::~CBulkUSB() = default;

bool CBulkUSB::PathNames(const std::string& path, uint16_t vid, uint16_t pid) {
  std::string up = path;
  std::transform(up.begin(), up.end(), up.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  char v[16], p[16];
  std::snprintf(v, sizeof v, "VID_%04X", vid);
  std::snprintf(p, sizeof p, "PID_%04X", pid);
  return up.find(v) != std::string::npos && up.find(p) != std::string::npos;
}

int CBulkUSB::OpenDevices(const UsbDeviceId* table, unsigned count) {
  CloseAll();
  ClearOpenProblems();
  for (const usbdev::Listed& listed : usbdev::EnumerateAll(usbdev::Kind::LegacyBulk)) {
    const usbdev::DeviceInfo& info = listed.info;
    const bool match = std::any_of(table, table + count, [&](const UsbDeviceId& id) {
      return PathNames(info.path, id.wVendorId, id.wProductId) ||
             (info.vid == id.wVendorId && info.pid == id.wProductId);
    });
    if (!match) continue;
    usbdev::OpenResult result;
    std::unique_ptr<usbdev::IDevice> pipes = listed.access->Open(info, &result);
    if (!pipes) {
      AddOpenProblem(info, result);
      continue;
    }
    m_devices.push_back({std::move(pipes), info});
  }
  SelectDevice(0);
  return m_devices.empty() ? 0 : 1;
}

void CBulkUSB::CloseOthers() {
  for (unsigned i = 0; i < m_devices.size(); ++i) {
    if (i != m_nSelected) m_devices[i].pipes.reset();
  }
}

void CBulkUSB::CloseAll() {
  m_devices.clear();
  m_pCurrent = nullptr;
}

unsigned CBulkUSB::GetDeviceCount() const { return static_cast<unsigned>(m_devices.size()); }

unsigned CBulkUSB::SelectDevice(unsigned index) {
  const unsigned previous = m_nSelected;
  m_nSelected = index;
  const bool valid = index < m_devices.size();
  m_pCurrent = valid ? m_devices[index].pipes.get() : nullptr;
  BindShareArea(valid ? m_devices[index].info.path : std::string());
  return previous;
}

// A transfer that outlives its time-out is cancelled and finished by the
// device layer before Read or Write return.
bool CBulkUSB::Read(void* buffer, unsigned length, unsigned* got, int timeoutMs) {
  return TransferIn(m_pCurrent, buffer, length, got, timeoutMs);
}

bool CBulkUSB::Write(const void* buffer, unsigned length, unsigned* sent, int timeoutMs) {
  return TransferOut(m_pCurrent, buffer, length, sent, timeoutMs);
}

uint16_t CBulkUSB::GetPacketSize(bool) const { return m_pCurrent ? 64 : 0; }

usbdev::DeviceInfo CBulkUSB::GetDeviceInfo(unsigned index) const {
  return index < m_devices.size() ? m_devices[index].info : usbdev::DeviceInfo{};
}
