// HID device layer: finds and opens the HID interfaces that a device-id
// table asks for, and moves reports with time-outs. It keeps no list: the
// command transport keeps its devices in CUsbCmd, the boot-loader channel
// keeps the one it opened.
#pragma once

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
  //
  // Opens every present HID interface that matches a table entry, in
  // enumeration order, into `opened` (location id and serial number
  // included); one that cannot be opened goes to `problems`, one without
  // report sizes is skipped. True when some interface matched, even if none
  // could be opened.
  static bool OpenMatching(const UsbDeviceId* table, unsigned count,
                           std::vector<OpenedDevice>& opened, std::vector<OpenProblem>& problems);

  // One report of `device` (null: nothing to talk to, false). `length` is
  // the data size without the report-id byte; the byte counts include the
  // report-id byte.
  static bool Read(usbdev::IDevice* device, void* buffer, unsigned length, unsigned* got,
                   int timeoutMs);
  static bool Write(usbdev::IDevice* device, const void* buffer, unsigned length, unsigned* sent,
                    int timeoutMs);

  // Whether a table entry asks for this interface: any interface, the tag
  // "mi_%02x" or "MI_%02X" in the path, or, for paths without such tags, the
  // interface number the backend reports.
  static bool InterfaceMatches(const usbdev::DeviceInfo& info, uint16_t wInterface);
};
