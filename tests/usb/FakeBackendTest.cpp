// Transports over an in-process device backend: what the emulator wire
// cannot express (missing permission, odd pipes and descriptors).
#include <gtest/gtest.h>

#include <cstring>

#include "TempRuntimeDir.h"
#include "usb/CUsbDiscovery.h"
#include "usb/CWinUSB.h"
#include "usb/HidapiAccess.h"
#include "usb/LibusbAccess.h"

namespace {

struct FakeDev {
  usbdev::DeviceInfo info;
  usbdev::OpenError openError = usbdev::OpenError::None;
  std::vector<usbdev::PipeInfo> pipes = {{2, 0x01, 512, 0}, {2, 0x81, 512, 0}};
  uint16_t descriptorPid = 0;  // 0 = as enumerated
  std::vector<uint8_t> serialDescriptor;
};

class FakeDevice : public usbdev::IDevice {
 public:
  explicit FakeDevice(const FakeDev& d) : m_d(d) {}
  bool Read(uint8_t*, size_t, size_t* got, int) override {
    if (got) *got = 0;
    return false;
  }
  bool Write(const uint8_t*, size_t len, size_t* sent, int) override {
    if (sent) *sent = len;
    return true;
  }
  bool GetReportSizes(uint16_t* in, uint16_t* out) override {
    *in = *out = 64;
    return true;
  }
  bool GetDescriptor(uint8_t type, uint8_t, uint16_t, uint8_t* buf, size_t len, size_t* got) override {
    if (type == 1) {
      const uint16_t pid = m_d.descriptorPid ? m_d.descriptorPid : m_d.info.pid;
      uint8_t d[18] = {18, 1, 0, 2, 0, 0, 0, 64, static_cast<uint8_t>(m_d.info.vid),
                       static_cast<uint8_t>(m_d.info.vid >> 8), static_cast<uint8_t>(pid),
                       static_cast<uint8_t>(pid >> 8), 0, 1, 1, 2, 3, 1};
      std::memcpy(buf, d, std::min(len, sizeof d));
      *got = std::min(len, sizeof d);
      return true;
    }
    if (m_d.serialDescriptor.empty()) return false;
    *got = std::min(len, m_d.serialDescriptor.size());
    std::memcpy(buf, m_d.serialDescriptor.data(), *got);
    return true;
  }
  bool GetSpeed(uint8_t* s) override {
    *s = 2;
    return true;
  }
  bool GetPipes(std::vector<usbdev::PipeInfo>* p) override {
    *p = m_d.pipes;
    return true;
  }

 private:
  FakeDev m_d;
};

class FakeAccess : public usbdev::IDeviceAccess {
 public:
  std::vector<FakeDev> devs;
  std::vector<usbdev::DeviceInfo> Enumerate(usbdev::Kind kind) override {
    std::vector<usbdev::DeviceInfo> out;
    for (const FakeDev& d : devs)
      if (d.info.kind == kind) out.push_back(d.info);
    return out;
  }
  std::unique_ptr<usbdev::IDevice> Open(const usbdev::DeviceInfo& info,
                                        usbdev::OpenResult* r) override {
    for (const FakeDev& d : devs) {
      if (d.info.path != info.path) continue;
      if (d.openError != usbdev::OpenError::None) {
        *r = {d.openError, ""};
        return nullptr;
      }
      return std::make_unique<FakeDevice>(d);
    }
    *r = {usbdev::OpenError::Gone, ""};
    return nullptr;
  }
};

FakeDev Dev(usbdev::Kind kind, uint16_t pid, const std::string& path, int iface = 3) {
  FakeDev d;
  d.info.kind = kind;
  d.info.backend = "fake";
  d.info.vid = 0x0416;
  d.info.pid = pid;
  d.info.path = path;
  d.info.interfaceNumber = iface;
  d.info.locationId = "loc-" + path;
  return d;
}

class FakeBackend : public ::testing::Test {
 protected:
  void SetUp() override { usbdev::SetBackendsForTesting({m_access}); }
  void TearDown() override { usbdev::SetBackendsForTesting({}); }
  TempRuntimeDir m_rt;
  std::shared_ptr<FakeAccess> m_access = std::make_shared<FakeAccess>();
};

constexpr UsbDeviceId kT4Like[] = {{0x0416, 0x5200, kAnyInterface}, {0x0416, 0x5201, kAnyInterface}};

}  // namespace

TEST_F(FakeBackend, MissingPermissionIsReportedNotSkipped) {
  FakeDev d = Dev(usbdev::Kind::Hid, 0x5202, "/dev/hidraw7");
  d.openError = usbdev::OpenError::PermissionDenied;
  m_access->devs.push_back(d);
  CUsbDiscovery disc;
  const DiscoveryReport& report = disc.Run();
  EXPECT_FALSE(report);
  EXPECT_EQ(report.adapters, 0u);
  ASSERT_EQ(report.problems.size(), 1u);
  const std::string text = DescribeOpenProblem(report.problems[0]);
  EXPECT_NE(text.find("hid 0416:5202 /dev/hidraw7: permission denied"), std::string::npos) << text;
  EXPECT_NE(text.find("udev"), std::string::npos) << text;
  EXPECT_EQ(report.PermissionText(), text + "\n");
  EXPECT_EQ(disc.PermissionReport(), text + "\n");
}

TEST_F(FakeBackend, BulkInterfaceWithoutOutPipeFailsTheWholeOpen) {
  m_access->devs.push_back(Dev(usbdev::Kind::Bulk, 0x5200, "good"));
  FakeDev bad = Dev(usbdev::Kind::Bulk, 0x5201, "in-only");
  bad.pipes = {{2, 0x81, 512, 0}};
  m_access->devs.push_back(bad);
  CWinUSB t;
  EXPECT_EQ(t.Open(1, kT4Like, 2), 0);
  EXPECT_EQ(t.GetDeviceCount(), 0u);
  EXPECT_EQ(t.GetSelectedIndex(), CUsbCmd::kNoDevice);
}

TEST_F(FakeBackend, DescriptorOutsideTheTableIsDroppedAfterSetUp) {
  FakeDev odd = Dev(usbdev::Kind::Bulk, 0x5200, "first");
  odd.descriptorPid = 0x5299;
  m_access->devs.push_back(odd);
  FakeDev keep = Dev(usbdev::Kind::Bulk, 0x5201, "second");
  keep.serialDescriptor = {10, 3, 'A', 0, 'B', 0, 'C', 0, 'D', 0, 'E', 0};  // length byte says 4 chars
  m_access->devs.push_back(keep);
  FakeDev cut = Dev(usbdev::Kind::Bulk, 0x5200, "third");
  cut.serialDescriptor = {40, 3, 'X', 0, 'Y', 0};  // fewer bytes than the length byte
  m_access->devs.push_back(cut);
  CWinUSB t;
  ASSERT_EQ(t.Open(1, kT4Like, 2), 1);
  ASSERT_EQ(t.GetDeviceCount(), 2u);
  t.SelectDevice(0);
  EXPECT_EQ(t.GetDeviceInfo(0).path, "second");
  EXPECT_EQ(t.GetLocationId(), "loc-second");
  EXPECT_EQ(t.GetSerialNumber(), "ABCD");
  t.SelectDevice(1);
  EXPECT_EQ(t.GetSerialNumber(), "XY");
  EXPECT_FALSE(t.HasOpenFailure());
}

TEST_F(FakeBackend, UnrelatedBulkDevicesAreNotOpened) {
  FakeDev other = Dev(usbdev::Kind::Bulk, 0x1234, "someone-elses");
  other.openError = usbdev::OpenError::PermissionDenied;
  m_access->devs.push_back(other);
  CWinUSB t;
  EXPECT_EQ(t.Open(1, kT4Like, 2), 0);
  EXPECT_FALSE(t.HasOpenFailure());
  EXPECT_TRUE(t.GetOpenProblems().empty());
}

TEST(Libusb, TimeOutsAreNeverUnlimitedByAccident) {
  EXPECT_EQ(usbdev::LibusbTimeout(0), 1u);  // libusb's 0 would wait forever
  EXPECT_EQ(usbdev::LibusbTimeout(5000), 5000u);
  EXPECT_EQ(usbdev::LibusbTimeout(-1), 0u);
}

TEST(HidDescriptor, ReportSizesOfAVendorDescriptor) {
  // Vendor page, 8-bit fields: 64-byte input, 64-byte output, 2-byte feature;
  // then report id 2 with a 10-byte input report.
  const std::vector<uint8_t> desc = {
      0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x15, 0x00, 0x26, 0xFF, 0x00, 0x75, 0x08,
      0x95, 0x40, 0x09, 0x01, 0x81, 0x02, 0x95, 0x40, 0x09, 0x01, 0x91, 0x02, 0x95, 0x02,
      0x09, 0x01, 0xB1, 0x02, 0x85, 0x02, 0x95, 0x0A, 0x81, 0x02, 0xC0};
  uint16_t in = 0, out = 0;
  ASSERT_TRUE(usbdev::HidReportSizes(desc, &in, &out));
  EXPECT_EQ(in, 64);
  EXPECT_EQ(out, 64);
  const std::vector<uint8_t> truncated(desc.begin(), desc.begin() + 10);  // cut inside an item
  EXPECT_FALSE(usbdev::HidReportSizes(truncated, &in, &out));
}
