// Bulk transport of the oldest adapters (pipe 0 in, pipe 1 out, 64-byte
// packets, no location id and no serial number).
#pragma once

#include <string>

#include "usb/CUsbCmd.h"

class CBulkUSB : public CUsbCmd {
 public:
  CBulkUSB();
  ~CBulkUSB() override;

  int OpenDevices(const UsbDeviceId* table, unsigned count) override;
  bool Read(void* buffer, unsigned length, unsigned* got, int timeoutMs) override;
  bool Write(const void* buffer, unsigned length, unsigned* sent, int timeoutMs) override;
  // 64 while the selected device is open, else 0.
  uint16_t GetPacketSize(bool in) const override;
  std::string GetLocationId() const override { return {}; }
  std::string GetSerialNumber() const override { return {}; }
  int GetTransportKind() const override { return kTransportBulk; }

  // Whether an interface path names vendor and product ("VID_%04X",
  // "PID_%04X", case-insensitive).
  static bool PathNames(const std::string& path, uint16_t vid, uint16_t pid);
};
