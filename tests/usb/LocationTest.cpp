#include <gtest/gtest.h>

#include <filesystem>

#include "usb/LocationId.h"
#include "usb/SimAccess.h"

namespace fs = std::filesystem;

TEST(LocationId, WindowsPatterns) {
  struct Case {
    const char* text;
    bool instance;
    const char* expected;
  };
  const Case cases[] = {
      {"USB\\VID_0416&PID_5200\\6&2d4a1f3&0&2", true, "6&2D4A1F3"},
      {"USB\\VID_0416&PID_5200&MI_03\\7&1A2B&0&0003", true, "7&1A2B"},
      {"USB\\VID_0416&PID_5200\\A1B2C3", true, ""},  // serial-number instance: no port
      {"ROOT\\HUB\\0000", true, ""},
      {"USB\\VID_1&PID_2\\3&4&5\\USB\\VID_0416&PID_5200\\6&abc&0", true, "6&ABC"},  // last match
      {"USB\\VID_0416&PID_5200\\6&2D4A1F3&", true, ""},  // nothing after the last '&'
      {"USB\\VID_0416&PID_5200&MI_\\6&2D4A1F3&0", true, ""},
      {"\\\\?\\usb#vid_0416&pid_5200&mi_00#6&2d4a1f3&0&0000#{803557fa}", false, "6&2D4A1F3"},
      {"\\\\?\\hid#vid_0416&pid_5200&mi_03#7&1a2b&0&0000#{4d1e55b2}", false, ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.instance ? LocationFromInstanceId(c.text) : LocationFromInterfacePath(c.text),
              c.expected)
        << c.text;
  }
}

TEST(LocationId, PortPaths) {
  for (const char* ok : {"1-4", "1-4.2", "12-1.10.3"}) EXPECT_TRUE(IsUsbPortPath(ok)) << ok;
  for (const char* bad : {"", "1", "1-", "1-4.", "usb1", "1-4.2:1.0", "a-1"})
    EXPECT_FALSE(IsUsbPortPath(bad)) << bad;
}

TEST(LocationId, EmulatedDevicesUseThePortPathOrTheWindowsForm) {
  using usbdev::Kind;
  EXPECT_EQ(usbdev::SimLocationId(Kind::Hid, "1-4.2", "x"), "1-4.2");
  EXPECT_EQ(usbdev::SimLocationId(Kind::Hid, "USB\\VID_0416&PID_5200\\6&2D4A1F3&0&2", "x"), "6&2D4A1F3");
  EXPECT_EQ(usbdev::SimLocationId(Kind::Hid, "somewhere", "x"), "");
  EXPECT_EQ(usbdev::SimLocationId(Kind::Bulk, "", "\\\\?\\USB#VID_0416&PID_5200#5&ABC&0&1#{x}"), "5&ABC");
}

TEST(SerialPorts, WindowsNamesNeedTheComPart) {
  SerialPortRecord r;
  ASSERT_TRUE(SerialPortFromWindows("USB Serial Device (COM7)", "USB\\VID_0416&PID_5200&MI_01\\7&1A2B&0&0001", &r));
  EXPECT_EQ(r.comPort, 7);
  EXPECT_EQ(r.locationId, "7&1A2B");
  EXPECT_FALSE(SerialPortFromWindows("USB Serial Device", "USB\\VID_0416&PID_5200\\7&1A2B&0&1", &r));
  EXPECT_FALSE(SerialPortFromWindows("Port (COM3)", "ACPI\\PNP0501\\1", &r));
}

TEST(SerialPorts, ListedFromSysfs) {
  char tmpl[] = "/tmp/gadrel-sys-XXXXXX";
  const fs::path root = ::mkdtemp(tmpl);
  const fs::path usbIf = root / "devices/pci0000:00/0000:00:14.0/usb1/1-4/1-4.2/1-4.2:1.0";
  const fs::path serial = root / "devices/pnp0/00:01";  // a port on no USB device
  fs::create_directories(usbIf / "tty/ttyACM3");
  fs::create_directories(serial);
  fs::create_directories(root / "class/tty/ttyACM3");
  fs::create_directories(root / "class/tty/ttyS0");
  fs::create_directories(root / "class/tty/ttyACM9");
  fs::create_directory_symlink(usbIf, root / "class/tty/ttyACM3/device");
  fs::create_directory_symlink(serial, root / "class/tty/ttyACM9/device");
  fs::create_directory_symlink(serial, root / "class/tty/ttyS0/device");
  const std::vector<SerialPortRecord> ports = ListSerialPorts(root.string());
  ASSERT_EQ(ports.size(), 1u);
  EXPECT_EQ(ports[0].comPort, 3);
  EXPECT_EQ(ports[0].locationId, "1-4.2");
  EXPECT_EQ(UsbPortPathOfSysfs((root / "class/tty/ttyACM3/device").string()), "1-4.2");
  fs::remove_all(root);
}
