// USB descriptors of a mirrored adapter, as its firmware would hand them to
// the kernel: the device descriptor, one configuration with every emulated
// interface, string descriptors and the HID report descriptor.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace usbbridge {

struct InterfaceDesc {
  bool hid = false;      // false: vendor-specific with two bulk pipes
  int number = 0;
  uint16_t inSize = 64;  // report or packet bytes
  uint16_t outSize = 64;
};

struct DeviceDesc {
  uint16_t vid = 0, pid = 0;
  bool hub = false;  // a hub of the chain (class 9, one interrupt pipe)
  std::string manufacturer, product, serial;
  std::vector<InterfaceDesc> interfaces;  // by interface number
};

// String indices used by the device descriptor.
enum : uint8_t { kStrManufacturer = 1, kStrProduct = 2, kStrSerial = 3 };

std::vector<uint8_t> DeviceDescriptor(const DeviceDesc& d);
std::vector<uint8_t> ConfigDescriptor(const DeviceDesc& d);
// What sysfs "descriptors" holds: the device descriptor, then the configuration.
std::vector<uint8_t> SysfsDescriptors(const DeviceDesc& d);
// A vendor-defined report of `in` input and `out` output bytes, no report ids.
std::vector<uint8_t> HidReportDescriptor(uint16_t in, uint16_t out);
// Index 0 is the language table (US English); false for an unknown index.
bool StringDescriptor(const DeviceDesc& d, uint8_t index, std::vector<uint8_t>* out);
// Endpoint addresses of interface slot k (0-based): OUT k+1, IN 0x80|(k+1).
inline uint8_t OutEndpoint(size_t k) { return static_cast<uint8_t>(k + 1); }
inline uint8_t InEndpoint(size_t k) { return static_cast<uint8_t>(0x80 | (k + 1)); }

}  // namespace usbbridge
