// Bulk transport over a vendor-specific interface with one bulk IN and one
// bulk OUT pipe (libusb on real devices).
#pragma once

#include <memory>
#include <vector>

#include "usb/CUsbCmd.h"

class CWinUSB : public CUsbCmd {
 public:
  CWinUSB();
  ~CWinUSB() override;

  int OpenDevices(const UsbDeviceId* table, unsigned count) override;
  void CloseOthers() override;
  void CloseAll() override;
  unsigned GetDeviceCount() const override;
  unsigned SelectDevice(unsigned index) override;
  unsigned GetSelectedIndex() const override { return m_nSelected; }
  // Both wait at most timeoutMs (negative = no limit).
  bool Read(void* buffer, unsigned length, unsigned* got, int timeoutMs) override;
  bool Write(const void* buffer, unsigned length, unsigned* sent, int timeoutMs) override;
  // 64 in header mode 0, 512 in mode 1, 0 otherwise or without a selection.
  uint16_t GetPacketSize(bool in) const override;
  std::string GetLocationId() const override;
  std::string GetSerialNumber() const override;
  bool HasOpenFailure() const override { return m_bOpenFailure; }
  int GetTransportKind() const override { return kTransportWinUsb; }
  usbdev::DeviceInfo GetDeviceInfo(unsigned index) const override;

  // The other bulk transports of this process. A family device that one of
  // them holds open is left alone: it is not another program's.
  void SetSiblings(std::vector<const CWinUSB*> siblings) { m_siblings = std::move(siblings); }
  // Whether this transport holds the device open.
  bool Holds(const usbdev::DeviceInfo& info) const;

 private:
  struct Record {
    std::unique_ptr<usbdev::IDevice> device;  // null after CloseOthers
    uint8_t descriptor[18] = {};
    uint8_t speed = 0;
    usbdev::PipeInfo outPipe;
    usbdev::PipeInfo inPipe;
    usbdev::DeviceInfo info;
    std::string locationId;
    std::string serial;
    uint16_t VendorId() const { return static_cast<uint16_t>(descriptor[8] | descriptor[9] << 8); }
    uint16_t ProductId() const {
      return static_cast<uint16_t>(descriptor[10] | descriptor[11] << 8);
    }
  };
  static bool SetUp(Record& r);
  // The bulk interfaces of the family's adapters, one per device, without
  // those a sibling holds.
  std::vector<usbdev::Listed> FamilyInterfaces() const;
  const Record* Selected() const;

  std::vector<Record> m_records;
  unsigned m_nSelected = kNoDevice;
  bool m_bOpenFailure = false;
  std::vector<const CWinUSB*> m_siblings;
};
