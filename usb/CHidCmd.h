// The HID command transport: CUsbCmd over a CHidIO.
#pragma once

#include "usb/CHidIO.h"
#include "usb/CUsbCmd.h"

class CHidCmd : public CUsbCmd {
 public:
  CHidCmd();
  ~CHidCmd() override;

  int OpenDevices(const UsbDeviceId* table, unsigned count) override;
  void CloseOthers() override;
  void CloseAll() override;
  unsigned GetDeviceCount() const override;
  unsigned SelectDevice(unsigned index) override;
  unsigned GetSelectedIndex() const override;
  bool Read(void* buffer, unsigned length, unsigned* got, int timeoutMs) override;
  bool Write(const void* buffer, unsigned length, unsigned* sent, int timeoutMs) override;
  uint16_t GetPacketSize(bool in) const override;
  std::string GetLocationId() const override;
  std::string GetSerialNumber() const override;
  int GetTransportKind() const override { return kTransportHid; }
  usbdev::DeviceInfo GetDeviceInfo(unsigned index) const override;

 private:
  CHidIO m_io;
};
