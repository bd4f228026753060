// The shipped udev rules cover every id the transports and the boot loader
// use, for both the usb and the hidraw subsystem.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "usb/UsbTables.h"

TEST(UdevRules, CoverEveryAdapterAndBootLoaderId) {
  std::ifstream f(UDEV_RULES);
  ASSERT_TRUE(f) << UDEV_RULES;
  std::stringstream ss;
  ss << f.rdbuf();
  const std::string rules = ss.str();
  using namespace usbtables;
  auto check = [&](const UsbDeviceId* table, unsigned n) {
    for (unsigned i = 0; i < n; ++i) {
      for (const char* subsystem : {"usb", "hidraw"}) {
        char line[160];
        std::snprintf(line, sizeof line,
                      "SUBSYSTEM==\"%s\", ATTRS{idVendor}==\"%04x\", ATTRS{idProduct}==\"%04x\", "
                      "TAG+=\"uaccess\"",
                      subsystem, table[i].wVendorId, table[i].wProductId);
        EXPECT_NE(rules.find(line), std::string::npos) << line;
      }
    }
  };
  check(kT6, Count(kT6));
  check(kT4, Count(kT4));
  check(kT3Full, Count(kT3Full));
  check(kT1, Count(kT1));
  check(kT0Full, Count(kT0Full));
  check(kBootLoader, Count(kBootLoader));
}
