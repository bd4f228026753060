// Location identifiers (which physical USB port a device sits on) and the
// list of the adapters' serial ports.
//
// On Linux the location id is the USB port path ("<bus>-<port>.<port>...").
// Ids of the Windows form are cut with two patterns: instance ids
// ("...USB\VID_xxxx&PID_xxxx[&MI_xx]\<a>&<b>&...") and interface paths
// ("...USB#VID_xxxx&PID_xxxx[&MI_xx]#<a>&<b>&..."); the location id is
// "<a>&<b>", or empty when the string has another form.
#pragma once

#include <string>
#include <vector>

// Whether a name has the form of a USB port path.
bool IsUsbPortPath(const std::string& name);

std::string LocationFromInstanceId(const std::string& instanceId);
std::string LocationFromInterfacePath(const std::string& interfacePath);

// Port path of the USB device above a sysfs path (followed through links),
// e.g. ".../usb1/1-4/1-4.2/1-4.2:1.3/0003:0416:5200.0001/hidraw/hidraw3"
// gives "1-4.2"; empty when there is none.
std::string UsbPortPathOfSysfs(const std::string& sysfsPath);

struct SerialPortRecord {
  std::string locationId;
  int comPort = -1;  // N of /dev/ttyACMN
};

// Serial ports of USB devices: every /sys/class/tty/ttyACM<N> whose device
// sits on a USB port, with that port's path. `sysRoot` is "/sys" except in
// tests.
std::vector<SerialPortRecord> ListSerialPorts(const std::string& sysRoot = "/sys");

// The Windows form of one record: a friendly name ending in "(COM<n>)" and a
// USB instance id; false when either does not match.
bool SerialPortFromWindows(const std::string& friendlyName, const std::string& instanceId,
                           SerialPortRecord* out);
