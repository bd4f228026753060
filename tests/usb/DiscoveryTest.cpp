// Decisions of the discovery pass over emulated adapters.
#include <gtest/gtest.h>

#include <sstream>

#include "SimFixture.h"
#include "usb/CHidIO.h"
#include "usb/CUsbDiscovery.h"
#include "usb/ListAdapters.h"

class Discovery : public SimFixture {
 protected:
  // Slot of every opened device, in adapter order.
  static std::vector<int> Slots(CUsbDiscovery& d) {
    std::vector<int> out;
    for (int s = 0; s < CUsbDiscovery::kSlotCount; ++s)
      for (unsigned i = 0; i < d.Transport(s).GetDeviceCount(); ++i) out.push_back(s);
    return out;
  }
  void AddAdapter5200() {
    AddDevice("a-bulk", SimConfig("bulk", 0x0416, 0x5200, 0, BulkPath(0x5200, 0), "1-4.2", "S1", 512));
    AddDevice("a-hid", SimConfig("hid", 0x0416, 0x5200, 3, HidPath(0x5200, 3), "1-4.2", "S1"));
  }
};

TEST_F(Discovery, AdapterWithBothInterfacesGoesToTheBulkSlot) {
  AddAdapter5200();
  CUsbDiscovery d;
  ASSERT_TRUE(d.Run());
  EXPECT_EQ(Slots(d), std::vector<int>{4});
  EXPECT_EQ(d.Port(4).bFound, 1u);
  EXPECT_EQ(d.Port(3).bFound, 0u);
  EXPECT_EQ(d.Transport(4).GetPacketSize(false), 512);
  EXPECT_EQ(d.Transport(4).GetLocationId(), "1-4.2");
  EXPECT_EQ(d.Transport(4).GetSerialNumber(), "S1");
  EXPECT_TRUE(d.Run());  // a second pass with a found slot does nothing
  EXPECT_EQ(Slots(d), std::vector<int>{4});
}

TEST_F(Discovery, BulkInterfaceHeldElsewhereKeepsTheReducedHidTable) {
  AddAdapter5200();
  AddDevice("other-hid", SimConfig("hid", 0x0416, 0x5202, 3, HidPath(0x5202, 3), "1-3"));
  RawConnection otherProgram(m_devices[0]->SocketPath());
  ASSERT_EQ(otherProgram.Greeting(), 1);
  CUsbDiscovery d;
  ASSERT_TRUE(d.Run());
  EXPECT_TRUE(d.Transport(4).HasOpenFailure());
  EXPECT_EQ(Slots(d), std::vector<int>{3});  // only the 5202, not the 5200's HID side
  EXPECT_EQ(d.Transport(3).GetDeviceInfo(0).pid, 0x5202);
  ASSERT_EQ(d.OpenProblems().size(), 1u);
  EXPECT_EQ(d.OpenProblems()[0].error, usbdev::OpenError::Busy);
}

TEST_F(Discovery, HidSideIsUsedWhenNoBulkInterfaceExists) {
  AddDevice("a-hid", SimConfig("hid", 0x0416, 0x5200, 3, HidPath(0x5200, 3)));
  CUsbDiscovery d;
  ASSERT_TRUE(d.Run());
  EXPECT_EQ(Slots(d), std::vector<int>{3});
  EXPECT_EQ(d.Transport(3).GetPacketSize(true), 64);
}

TEST_F(Discovery, GenerationsAndLegacyTables) {
  AddDevice("g3", SimConfig("bulk", 0x0416, 0x200A, 3, BulkPath(0x200A, 3), "1-1", "G3", 1024));
  AddDevice("g1-legacy", SimConfig("legacy-bulk", 0x0416, 0x511C, 0, "legacy#vid_0416&pid_511c", "", "", 64));
  AddDevice("g1-hid-511c", SimConfig("hid", 0x0416, 0x511C, 0, HidPath(0x511C, 0)));
  AddDevice("g1-hid-511b", SimConfig("hid", 0x051A, 0x511B, 0, HidPath(0x511B, 0)));
  CUsbDiscovery d;
  ASSERT_TRUE(d.Run());
  // slot 0 uses the reduced table (511C is served by the bulk slot), slot 1
  // the legacy bulk interface, slot 6 the third generation.
  EXPECT_EQ(Slots(d), (std::vector<int>{0, 1, 6}));
  EXPECT_EQ(d.Transport(0).GetDeviceInfo(0).vid, 0x051A);
  EXPECT_EQ(d.Port(6).nChipType, PORT_CHIP_TYPE_VOLINK3);
  EXPECT_EQ(d.Transport(1).GetLocationId(), "");
  EXPECT_EQ(d.Transport(1).GetPacketSize(true), 64);
  // Adapter 0 is selected after the pass.
  EXPECT_EQ(d.Transport(0).GetSelectedIndex(), 0u);
  int slot = -1;
  unsigned dev = 9;
  EXPECT_TRUE(d.SelectAdapter(2, &slot, &dev));
  EXPECT_EQ(slot, 6);
  EXPECT_EQ(dev, 0u);
  EXPECT_FALSE(d.SelectAdapter(3));
  d.CloseAll();
  EXPECT_FALSE(d.AnyFound());
  EXPECT_EQ(d.GetDeviceCount(), 0u);
}

TEST_F(Discovery, InterfaceTagsAndLocationIds) {
  AddDevice("upper3", SimConfig("hid", 0x0416, 0x5202, 3, HidPath(0x5202, 3, "MI"),
                                "USB\\VID_0416&PID_5202\\6&2D4A1F3&0&2"));
  AddDevice("upper0", SimConfig("hid", 0x0416, 0x5203, 0, HidPath(0x5203, 0, "MI")));
  AddDevice("badparent", SimConfig("hid", 0x0416, 0x5205, 3, HidPath(0x5205, 3), "ROOT\\HUB\\0000"));
  CUsbDiscovery d;
  ASSERT_TRUE(d.Run());
  CUsbCmd& t = d.Transport(3);
  ASSERT_EQ(t.GetDeviceCount(), 2u);  // the interface-0 device does not match
  t.SelectDevice(0);
  EXPECT_EQ(t.GetDeviceInfo(0).pid, 0x5205);
  EXPECT_EQ(t.GetLocationId(), "");  // still opened
  t.SelectDevice(1);
  EXPECT_EQ(t.GetDeviceInfo(1).pid, 0x5202);
  EXPECT_EQ(t.GetLocationId(), "6&2D4A1F3");
}

TEST(HidMatching, InterfaceTagsOrBackendNumber) {
  usbdev::DeviceInfo tagged;
  tagged.path = "\\\\?\\hid#vid_0416&pid_5202&MI_03#x";
  tagged.interfaceNumber = 0;  // the tag decides
  EXPECT_TRUE(CHidIO::InterfaceMatches(tagged, 3));
  EXPECT_FALSE(CHidIO::InterfaceMatches(tagged, 0));
  EXPECT_TRUE(CHidIO::InterfaceMatches(tagged, kAnyInterface));
  usbdev::DeviceInfo hidraw;
  hidraw.path = "/dev/hidraw3";
  hidraw.interfaceNumber = 3;
  EXPECT_TRUE(CHidIO::InterfaceMatches(hidraw, 3));
  EXPECT_FALSE(CHidIO::InterfaceMatches(hidraw, 0));
}

TEST_F(Discovery, NothingFound) {
  CUsbDiscovery d;
  EXPECT_FALSE(d.Run());
  std::ostringstream out, err;
  EXPECT_EQ(RunListAdapters(out, err), 1);
  EXPECT_EQ(out.str(), "");
  EXPECT_EQ(err.str(), "No ICE Device Found. Please Check the Link!\n");
}

TEST_F(Discovery, ListAdaptersPrintsOpenedAndRefusedDevices) {
  AddAdapter5200();
  AddDevice("g3", SimConfig("bulk", 0x0416, 0x200A, 3, BulkPath(0x200A, 3), "1-1", "", 512));
  RawConnection otherProgram(m_devices[2]->SocketPath());
  std::ostringstream out, err;
  EXPECT_EQ(RunListAdapters(out, err), 0);
  EXPECT_EQ(err.str(), "");
  const std::string s = out.str();
  EXPECT_NE(s.find("slot=4 generation=1 transport=winusb id=0416:5200 location=1-4.2 serial=S1 "
                   "packet=512"),
            std::string::npos)
      << s;
  EXPECT_NE(s.find("not-opened: bulk 0416:200a"), std::string::npos) << s;
  EXPECT_NE(s.find("held by another program"), std::string::npos) << s;
}
