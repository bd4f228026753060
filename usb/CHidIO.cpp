#include "usb/CHidIO.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

bool CHidIO::InterfaceMatches(const usbdev::DeviceInfo& info, uint16_t wInterface) {
  if (wInterface == kAnyInterface) return true;
  char lower[8], upper[8];
  std::snprintf(lower, sizeof lower, "mi_%02x", wInterface & 0xFF);
  std::snprintf(upper, sizeof upper, "MI_%02X", wInterface & 0xFF);
  if (info.path.find(lower) != std::string::npos || info.path.find(upper) != std::string::npos)
    return true;
  const bool tagged =
      info.path.find("mi_") != std::string::npos || info.path.find("MI_") != std::string::npos;
  return !tagged && info.interfaceNumber == wInterface;
}

bool CHidIO::OpenMatching(const UsbDeviceId* table, unsigned count,
                          std::vector<OpenedDevice>& opened, std::vector<OpenProblem>& problems) {
  bool matched = false;
  for (const usbdev::Listed& listed : usbdev::EnumerateAll(usbdev::Kind::Hid)) {
    const usbdev::DeviceInfo& info = listed.info;
    const bool wanted = std::any_of(table, table + count, [&](const UsbDeviceId& id) {
      return id.wVendorId == info.vid && id.wProductId == info.pid &&
             InterfaceMatches(info, id.wInterface);
    });
    if (!wanted) continue;
    matched = true;

    usbdev::OpenResult result;
    std::unique_ptr<usbdev::IDevice> handle = listed.access->Open(info, &result);
    if (!handle) {
      problems.push_back({info.kind, info.backend, info.path, info.vid, info.pid, result.error,
                          result.detail, info.locationId, info.serial});
      continue;
    }
    OpenedDevice d;
    if (!handle->GetReportSizes(&d.inSize, &d.outSize)) continue;  // no capabilities: skip
    d.info = info;
    std::string serial;
    if (handle->GetSerialNumberString(&serial)) d.serial = serial;
    d.handle = std::move(handle);
    opened.push_back(std::move(d));
  }
  return matched;
}

bool CHidIO::Read(usbdev::IDevice* device, void* buffer, unsigned length, unsigned* got,
                  int timeoutMs) {
  if (got) *got = 0;
  if (!device) return false;
  uint8_t report[1025] = {};
  const size_t n = std::min<size_t>(length, sizeof report - 1);
  size_t received = 0;
  if (!device->Read(report + 1, n, &received, timeoutMs)) return false;
  std::memcpy(buffer, report + 1, n);
  if (got) *got = static_cast<unsigned>(std::min(received, n) + 1);
  return true;
}

bool CHidIO::Write(usbdev::IDevice* device, const void* buffer, unsigned length, unsigned* sent,
                   int timeoutMs) {
  if (sent) *sent = 0;
  if (!device) return false;
  const size_t n = std::min<size_t>(length, 1024);
  size_t done = 0;
  if (!device->Write(static_cast<const uint8_t*>(buffer), n, &done, timeoutMs)) return false;
  if (sent) *sent = static_cast<unsigned>(done + 1);
  return true;
}
