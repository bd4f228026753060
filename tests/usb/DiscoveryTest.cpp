// Decisions of the discovery pass over emulated adapters.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <future>
#include <memory>
#include <sstream>

#include "SimFixture.h"
#include "usb/CHidIO.h"
#include "usb/CUsbDiscovery.h"
#include "usb/ListAdapters.h"
#include "usb/SimAccess.h"

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

// Every bulk slot opens every adapter of the family (its driver's interface
// class holds them all), so an adapter of any generation held by another
// program is an open failure for each of them; foreign devices and our own
// slots' adapters never are, and a device counts once however many vendor
// interfaces it has.
TEST_F(Discovery, BulkSlotsSeeTheWholeFamilyOncePerDevice) {
  struct Dev {
    const char* name;
    nlohmann::json config;
    bool held;
  };
  struct Case {
    const char* what;
    std::vector<Dev> devs;
    std::vector<int> slots;
    std::vector<uint16_t> pids;  // of the opened devices, in adapter order
  };
  const auto hid = [](uint16_t pid, int iface, const char* location) {
    return SimConfig("hid", 0x0416, pid, iface, HidPath(pid, iface), location);
  };
  const auto bulk = [](uint16_t vid, uint16_t pid, int iface, const char* location) {
    return SimConfig("bulk", vid, pid, iface, BulkPath(pid, iface), location, "", 512);
  };
  const std::vector<Case> cases = {
      {"held third generation: slot 3 takes its reduced table",
       {{"g3", bulk(0x0416, 0x200A, 3, "1-1"), true},
        {"h5200", hid(0x5200, 3, "1-2"), false},
        {"h5202", hid(0x5202, 3, "1-3"), false}},
       {3},
       {0x5202}},
      {"held second generation: slot 0 takes its reduced table",
       {{"g2", bulk(0x0416, 0x5200, 0, "1-1"), true},
        {"h511c", hid(0x511C, 0, "1-2"), false},
        {"h511b", hid(0x511B, 0, "1-3"), false}},
       {0},
       {0x511B}},
      {"adapter held by an earlier slot of this pass: full tables",
       {{"g3", bulk(0x0416, 0x200A, 3, "1-1"), false}, {"h5200", hid(0x5200, 3, "1-2"), false}},
       {3, 6},
       {0x5200, 0x200A}},
      {"two adapters with equal ids at one location: two devices",
       {{"a", SimConfig("bulk", 0x0416, 0x5200, 0, "sim/a/usb#vid_0416&pid_5200&mi_00", "1-4.2", "", 512), false},
        {"b", SimConfig("bulk", 0x0416, 0x5200, 0, "sim/b/usb#vid_0416&pid_5200&mi_00", "1-4.2", "", 512), false}},
       {4, 4},
       {0x5200, 0x5200}},
      {"held foreign device: full tables",
       {{"foreign", bulk(0x1234, 0x5200, 0, "1-1"), true}, {"h5200", hid(0x5200, 3, "1-2"), false}},
       {3},
       {0x5200}},
      {"two vendor interfaces: one device, the first interface",
       {{"if1", bulk(0x0416, 0x5200, 1, "1-4"), false}, {"if0", bulk(0x0416, 0x5200, 0, "1-4"), false}},
       {4},
       {0x5200}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    m_devices.clear();
    std::vector<std::unique_ptr<RawConnection>> holders;
    for (const Dev& d : c.devs) {
      FakeSimDevice& dev = AddDevice(d.name, d.config);
      if (d.held) holders.push_back(std::make_unique<RawConnection>(dev.SocketPath()));
    }
    CUsbDiscovery disc;
    disc.Run();
    EXPECT_EQ(Slots(disc), c.slots);
    std::vector<uint16_t> pids;
    for (int s = 0; s < CUsbDiscovery::kSlotCount; ++s)
      for (unsigned i = 0; i < disc.Transport(s).GetDeviceCount(); ++i)
        pids.push_back(disc.Transport(s).GetDeviceInfo(i).pid);
    EXPECT_EQ(pids, c.pids);
    if (c.slots == std::vector<int>{4}) {
      EXPECT_EQ(disc.Transport(4).GetDeviceInfo(0).interfaceNumber, 0);
    }
    // A held adapter is reported once, however many slots tried it.
    const auto heldAdapters = std::count_if(c.devs.begin(), c.devs.end(), [](const Dev& d) {
      return d.held && d.config["vid"] == 0x0416;
    });
    EXPECT_EQ(disc.OpenProblems().size(), static_cast<size_t>(heldAdapters));
  }
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

// A hostile emulator folder: a FIFO named like a description file must not
// hang the enumeration (nobody ever writes into it), and an oversized file
// is not read.
TEST_F(Discovery, OnlySmallRegularDescriptionFilesAreRead) {
  AddDevice("good", SimConfig("hid", 0x0416, 0x5202, 3, HidPath(0x5202, 3)));
  const std::string fifo = m_simDir + "/fifo.json";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  std::ofstream(m_simDir + "/fifo.sock") << "";
  nlohmann::json big = SimConfig("hid", 0x0416, 0x5203, 3, HidPath(0x5203, 3));
  big["padding"] = std::string(usbdev::SimAccess::kMaxDescriptionBytes, ' ');
  std::ofstream(m_simDir + "/big.json") << big.dump();
  std::ofstream(m_simDir + "/big.sock") << "";

  auto listed = std::async(std::launch::async, [] {
    std::vector<uint16_t> pids;
    for (const usbdev::Listed& l : usbdev::EnumerateAll(usbdev::Kind::Hid)) pids.push_back(l.info.pid);
    return pids;
  });
  if (listed.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
    ADD_FAILURE() << "enumeration waits on the FIFO";
    // Let the stuck reader go so the test can end.
    const int w = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
    if (w >= 0) ::close(w);
  }
  EXPECT_EQ(listed.get(), std::vector<uint16_t>{0x5202});
}
