// Helper process: opens the emulated HID adapter 0416:5202 and exchanges
// `count` echo packets with it under its share lock (VOLINK_SIM_DIR and
// XDG_RUNTIME_DIR come from the parent).
#include <cstdlib>

#include "usb/CHidCmd.h"

int main(int argc, char** argv) {
  const int count = argc > 1 ? std::atoi(argv[1]) : 1;
  CHidCmd t;
  const UsbDeviceId id{0x0416, 0x5202, 3};
  if (!t.Open(1, &id, 1)) return 3;
  for (int i = 0; i < count; ++i) {
    ScopedShareLock<UsbShareArea> lock(t.GetShareAreas());
    unsigned char reply[64];
    unsigned got = 0;
    if (!t.SendPacket("c", 1, nullptr, 1000)) return 4;
    if (!t.ReceivePacket(reply, sizeof reply, &got, 1000) || got != 1 || reply[0] != 'c') return 5;
  }
  return 0;
}
