// Bulk transport of the oldest adapters (pipe 0 in, pipe 1 out, 64-byte
// packets, no location id and no serial number).
#pragma once

#include <memory>
#include <vector>

#include "usb/CUsbCmd.h"

class CBulkUSB : public CUsbCmd {
 public:
  CBulkUSB();
  ~CBulkUSB() override;

  int OpenDevices(const UsbDeviceId* table, unsigned count) override;
  void CloseOthers() override;
  void CloseAll() override;
  unsigned GetDeviceCount() const override;
  unsigned SelectDevice(unsigned index) override;
  unsigned GetSelectedIndex() const override { return m_nSelected; }
  bool Read(void* buffer, unsigned length, unsigned* got, int timeoutMs) override;
  bool Write(const void* buffer, unsigned length, unsigned* sent, int timeoutMs) override;
  uint16_t GetPacketSize(bool in) const override;
  std::string GetLocationId() const override { return {}; }
  std::string GetSerialNumber() const override { return {}; }
  int GetTransportKind() const override { return kTransportBulk; }
  usbdev::DeviceInfo GetDeviceInfo(unsigned index) const override;

  // Whether an interface path names vendor and product ("VID_%04X",
  // "PID_%04X", case-insensitive).
  static bool PathNames(const std::string& path, uint16_t vid, uint16_t pid);

 private:
  struct Device {
    std::unique_ptr<usbdev::IDevice> pipes;  // pipe 0 read, pipe 1 write
    usbdev::DeviceInfo info;
  };
  std::vector<Device> m_devices;
  usbdev::IDevice* m_pCurrent = nullptr;  // the selected device's pipes, or none
  unsigned m_nSelected = 0;
};
