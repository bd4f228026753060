// The HID command transport: CUsbCmd over the HID device layer (CHidIO).
#pragma once

#include "usb/CHidIO.h"
#include "usb/CUsbCmd.h"

class CHidCmd : public CUsbCmd {
 public:
  CHidCmd();
  ~CHidCmd() override;

  // Nonzero when some interface matched, even if none could be opened.
  int OpenDevices(const UsbDeviceId* table, unsigned count) override;
  bool Read(void* buffer, unsigned length, unsigned* got, int timeoutMs) override;
  bool Write(const void* buffer, unsigned length, unsigned* sent, int timeoutMs) override;
  // The selected device's report data bytes (report length less the id).
  uint16_t GetPacketSize(bool in) const override;
  int GetTransportKind() const override { return kTransportHid; }
};
