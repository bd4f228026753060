// HID device layer: enumerates HID interfaces that match a device-id table,
// keeps the opened devices in one list and moves reports with time-outs.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "usb/CUsbCmd.h"
#include "usb/DeviceAccess.h"
#include "usb/UsbDeviceId.h"

class CHidIO {
 public:
  // Each opened device is one connection for reading and writing: the
  // command transports' separate read and write handles and the boot-loader
  // channel's read-write handle are the same here (a second connection would
  // be a second reader of the same reports).
  CHidIO();
  virtual ~CHidIO();
  CHidIO(const CHidIO&) = delete;
  CHidIO& operator=(const CHidIO&) = delete;

  // Opens every matching device and selects device 0; true when some device
  // matched (even if it could not be opened).
  bool OpenDevices(const UsbDeviceId* table, unsigned count);
  void CloseOthers();
  void CloseAll();
  unsigned GetDeviceCount() const { return static_cast<unsigned>(m_devices.size()); }
  unsigned SelectDevice(unsigned index);
  unsigned GetSelectedIndex() const { return m_nSelected; }

  // One report of the selected device. `length` is the data size without the
  // report-id byte; the byte counts include the report-id byte.
  bool Read(void* buffer, unsigned length, unsigned* got, int timeoutMs);
  bool Write(const void* buffer, unsigned length, unsigned* sent, int timeoutMs);

  // Report data bytes (input or output report length less the report id) of
  // the selected device; 0 without a valid selection.
  uint16_t GetPacketSize(bool in) const;
  std::string GetPath() const;
  std::string GetLocationId() const;
  std::string GetSerialNumber() const;
  usbdev::DeviceInfo GetDeviceInfo(unsigned index) const;
  const std::vector<OpenProblem>& GetOpenProblems() const { return m_problems; }

  // Whether a table entry asks for this interface: any interface, the tag
  // "mi_%02x" or "MI_%02X" in the path, or, for paths without such tags, the
  // interface number the backend reports.
  static bool InterfaceMatches(const usbdev::DeviceInfo& info, uint16_t wInterface);

 private:
  struct Device {
    std::unique_ptr<usbdev::IDevice> handle;  // null after CloseOthers
    uint16_t inSize = 0;
    uint16_t outSize = 0;
    usbdev::DeviceInfo info;
    std::string locationId;
    std::string serial;
  };
  const Device* Selected() const;

  std::vector<Device> m_devices;
  unsigned m_nSelected = 0;
  std::vector<OpenProblem> m_problems;
};
