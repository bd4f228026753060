// One entry of a device-id table: vendor id, product id, interface number.
#pragma once

#include <cstdint>

inline constexpr uint16_t kAnyInterface = 0xFFFF;

struct UsbDeviceId {
  uint16_t wVendorId;
  uint16_t wProductId;
  uint16_t wInterface;  // kAnyInterface = any interface
};
