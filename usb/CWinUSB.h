// Bulk transport over a vendor-specific interface with one bulk IN and one
// bulk OUT pipe (libusb on real devices).
#pragma once

#include <vector>

#include "usb/CUsbCmd.h"

class CWinUSB : public CUsbCmd {
 public:
  CWinUSB();
  ~CWinUSB() override;

  // Opens every adapter of the family, sets each up (descriptors, serial
  // number, pipes) and keeps those whose ids a table entry names. A set-up
  // that fails for any device closes everything (0).
  int OpenDevices(const UsbDeviceId* table, unsigned count) override;
  // Both wait at most timeoutMs (negative = no limit).
  bool Read(void* buffer, unsigned length, unsigned* got, int timeoutMs) override;
  bool Write(const void* buffer, unsigned length, unsigned* sent, int timeoutMs) override;
  // 64 in header mode 0, 512 in mode 1, 0 otherwise or without a selection.
  uint16_t GetPacketSize(bool in) const override;
  bool HasOpenFailure() const override { return m_bOpenFailure; }
  int GetTransportKind() const override { return kTransportWinUsb; }

  // The other bulk transports of this process. A family device that one of
  // them holds open is left alone: it is not another program's.
  void SetSiblings(std::vector<const CWinUSB*> siblings) { m_siblings = std::move(siblings); }
  // Whether this transport holds the device open.
  bool Holds(const usbdev::DeviceInfo& info) const;

 private:
  // The bulk interfaces of the family's adapters, one per device, without
  // those a sibling holds.
  std::vector<usbdev::Listed> FamilyInterfaces() const;

  bool m_bOpenFailure = false;
  std::vector<const CWinUSB*> m_siblings;
};
