#include "usb/CBulkUSB.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <memory>
#include <vector>

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
  std::vector<OpenedDevice> opened;
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
    OpenedDevice d;
    d.handle = std::move(pipes);  // pipe 0 read, pipe 1 write
    d.info = info;
    opened.push_back(std::move(d));
  }
  AdoptDevices(std::move(opened));
  return GetDeviceCount() > 0 ? 1 : 0;
}

// A transfer that outlives its time-out is cancelled and finished by the
// device layer before Read or Write return.
bool CBulkUSB::Read(void* buffer, unsigned length, unsigned* got, int timeoutMs) {
  return TransferIn(SelectedHandle(), buffer, length, got, timeoutMs);
}

bool CBulkUSB::Write(const void* buffer, unsigned length, unsigned* sent, int timeoutMs) {
  return TransferOut(SelectedHandle(), buffer, length, sent, timeoutMs);
}

uint16_t CBulkUSB::GetPacketSize(bool) const { return SelectedHandle() ? 64 : 0; }
