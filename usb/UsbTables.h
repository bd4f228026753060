// Device-id tables of the transport slots, and the boot loader's ids.
#pragma once

#include "usb/UsbDeviceId.h"

namespace usbtables {

inline constexpr uint16_t kVid = 0x0416;

inline constexpr UsbDeviceId kT6[] = {{kVid, 0x200A, 3}};
inline constexpr UsbDeviceId kT4[] = {
    {kVid, 0x5200, kAnyInterface}, {kVid, 0x5201, kAnyInterface}, {kVid, 0x5204, kAnyInterface},
    {kVid, 0x2006, kAnyInterface}, {kVid, 0x2007, kAnyInterface}, {kVid, 0x2008, kAnyInterface},
    {kVid, 0x2009, kAnyInterface}};
inline constexpr UsbDeviceId kT3Full[] = {
    {kVid, 0x5200, 3}, {kVid, 0x5201, 3}, {kVid, 0x5202, 3}, {kVid, 0x5203, 3},
    {kVid, 0x5204, 3}, {kVid, 0x5205, 3}, {kVid, 0x2004, 3}, {kVid, 0x2005, 3},
    {kVid, 0x2006, 3}, {kVid, 0x2007, 3}, {kVid, 0x2008, 3}, {kVid, 0x2009, 3}};
inline constexpr UsbDeviceId kT3Reduced[] = {
    {kVid, 0x5202, 3}, {kVid, 0x5203, 3}, {kVid, 0x5205, 3}, {kVid, 0x2004, 3}, {kVid, 0x2005, 3}};
inline constexpr UsbDeviceId kT1[] = {{kVid, 0x511C, kAnyInterface}};
inline constexpr UsbDeviceId kT0Full[] = {{kVid, 0x511B, kAnyInterface},
                                          {kVid, 0x511D, kAnyInterface},
                                          {kVid, 0x511C, kAnyInterface},
                                          {0x051A, 0x511B, kAnyInterface}};
inline constexpr UsbDeviceId kT0Reduced[] = {
    {kVid, 0x511B, kAnyInterface}, {kVid, 0x511D, kAnyInterface}, {0x051A, 0x511B, kAnyInterface}};

// The boot loader's ids, tried in this order.
inline constexpr UsbDeviceId kBootLoader[] = {{kVid, 0xA316, kAnyInterface},
                                              {kVid, 0xA320, kAnyInterface},
                                              {kVid, 0x5211, kAnyInterface},
                                              {kVid, 0x200D, kAnyInterface}};

template <class T, unsigned N>
constexpr unsigned Count(const T (&)[N]) {
  return N;
}

// Whether a device id belongs to the adapters that the family's bulk driver
// serves (the tables of the bulk slots: T1, T4, T6). Whatever its slot, a
// bulk transport sees all of them, as the driver's interface class holds them
// all; the slot's own table only picks among them afterwards.
constexpr bool InBulkFamily(uint16_t vid, uint16_t pid) {
  auto in = [&](const UsbDeviceId* table, unsigned n) {
    for (unsigned i = 0; i < n; ++i)
      if (table[i].wVendorId == vid && table[i].wProductId == pid) return true;
    return false;
  };
  return in(kT1, Count(kT1)) || in(kT4, Count(kT4)) || in(kT6, Count(kT6));
}

}  // namespace usbtables
