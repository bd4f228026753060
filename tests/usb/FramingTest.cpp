// Framing, sequence numbers and time-outs of the transports, end to end over
// emulated interfaces.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

#include "SimFixture.h"
#include "usb/CBulkUSB.h"
#include "usb/CHidCmd.h"
#include "usb/CWinUSB.h"
#include "usb/PacketFraming.h"

namespace {
constexpr UsbDeviceId kHid5202{0x0416, 0x5202, 3};
constexpr UsbDeviceId kBulk5200{0x0416, 0x5200, kAnyInterface};
constexpr UsbDeviceId kLegacy511C{0x0416, 0x511C, kAnyInterface};

Bytes Payload(size_t n) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(i + 1);
  return b;
}

void SetCounter(CUsbCmd& t, uint8_t value) {
  ScopedShareLock<UsbShareArea> lock(t.GetShareAreas());
  t.GetShareArea().Data()->bSequence = value;
}

uint8_t Counter(CUsbCmd& t) {
  ScopedShareLock<UsbShareArea> lock(t.GetShareAreas());
  return t.GetShareArea().Data()->bSequence;
}
}  // namespace

class Framing : public SimFixture {};

TEST_F(Framing, SequenceWrapsAndStaleRepliesAreSkipped) {
  FakeSimDevice& dev = AddDevice("hid", SimConfig("hid", 0x0416, 0x5202, 3, HidPath(0x5202, 3)));
  CHidCmd t;
  ASSERT_EQ(t.Open(1, &kHid5202, 1), 1);
  SetCounter(t, 126);
  // Replies: first a stale one echoing 127, then the right one.
  dev.SetHandler([](const Bytes& req) {
    Bytes stale(64), good(64);
    const uint8_t old[] = {0xEE};
    const uint8_t now[] = {0x11, 0x22};
    framing::FramePacket(stale, 1, static_cast<uint8_t>((req[0] - 1) & 0x7F), old);
    framing::FramePacket(good, 1, req[0], now);
    return std::vector<Bytes>{stale, good};
  });
  const Bytes data = Payload(4);
  uint8_t reply[64];
  unsigned sent = 0, got = 0;
  {
    ScopedShareLock<UsbShareArea> lock(t.GetShareAreas());
    ASSERT_TRUE(t.SendPacket(data.data(), 4, &sent, 1000));  // 127
    ASSERT_TRUE(t.ReceivePacket(reply, sizeof reply, &got, 1000));
    ASSERT_TRUE(t.SendPacket(data.data(), 4, &sent, 1000));  // wraps to 0
    ASSERT_TRUE(t.ReceivePacket(reply, sizeof reply, &got, 1000));  // skips the echo of 127
  }
  EXPECT_EQ(sent, 65u);  // the report-id byte counts
  ASSERT_EQ(got, 2u);
  EXPECT_EQ(reply[0], 0x11);
  EXPECT_EQ(reply[1], 0x22);
  const auto received = dev.Received();
  ASSERT_EQ(received.size(), 2u);
  EXPECT_EQ(received[0][0], 127);
  EXPECT_EQ(received[1][0], 0);
  EXPECT_EQ(received[1].size(), 64u);  // always a full packet
  EXPECT_EQ(Counter(t), 0);
}

TEST_F(Framing, ReplyFlagAndShortReplies) {
  FakeSimDevice& dev = AddDevice("hid", SimConfig("hid", 0x0416, 0x5202, 3, HidPath(0x5202, 3)));
  CHidCmd t;
  ASSERT_EQ(t.Open(1, &kHid5202, 1), 1);
  // Flagged reply whose length field (300) exceeds the 10 bytes that arrive.
  dev.SetHandler([](const Bytes& req) {
    Bytes r = {static_cast<uint8_t>(req[0] | 0x80), 0x01, 0x2C, 1, 2, 3, 4, 5, 6, 7};
    return std::vector<Bytes>{r};
  });
  ScopedShareLock<UsbShareArea> lock(t.GetShareAreas());
  uint8_t reply[64];
  unsigned got = 0;
  ASSERT_TRUE(t.SendPacket("x", 1, nullptr, 1000));
  ASSERT_TRUE(t.ReceivePacket(reply, sizeof reply, &got, 1000));
  EXPECT_EQ(got, 7u);
  EXPECT_TRUE(t.GetLastReplyFlag());
  // The caller's capacity bounds the copy as well.
  ASSERT_TRUE(t.SendPacket("x", 1, nullptr, 1000));
  ASSERT_TRUE(t.ReceivePacket(reply, 3, &got, 1000));
  EXPECT_EQ(got, 3u);
}

struct CutCase {
  const char* kind;
  int mode;
  size_t expectedPacket;
  size_t maxPayload;
};

void PrintTo(const CutCase& c, std::ostream* os) {
  *os << c.kind << " mode " << c.mode << ", " << c.expectedPacket << "-byte packets";
}

class PayloadLimit : public SimFixture, public ::testing::WithParamInterface<CutCase> {};

// A request one byte longer than the packet carries is refused whole (a cut
// request would be carried out on the wrong data); the largest one goes out
// intact.
TEST_P(PayloadLimit, LongerRequestIsRefusedNotCut) {
  const CutCase c = GetParam();
  const std::string kind = c.kind;
  std::unique_ptr<CUsbCmd> t;
  UsbDeviceId id{};
  if (kind == "hid") {
    AddDevice("d", SimConfig("hid", 0x0416, 0x5202, 3, HidPath(0x5202, 3), "1-4.2", "A1B2",
                             static_cast<int>(c.expectedPacket)));
    t = std::make_unique<CHidCmd>();
    id = kHid5202;
  } else if (kind == "bulk") {
    AddDevice("d", SimConfig("bulk", 0x0416, 0x5200, 0, BulkPath(0x5200, 0), "1-2", "", 512));
    t = std::make_unique<CWinUSB>();
    id = kBulk5200;
  } else {
    AddDevice("d", SimConfig("legacy-bulk", 0x0416, 0x511C, 0, "legacy0", "", "", 64));
    t = std::make_unique<CBulkUSB>();
    id = kLegacy511C;
  }
  ASSERT_EQ(t->Open(c.mode, &id, 1), 1);
  ASSERT_EQ(t->GetPacketSize(false), c.expectedPacket);
  const Bytes data = Payload(c.maxPayload + 1);
  SetCounter(*t, 5);
  {
    ScopedShareLock<UsbShareArea> lock(t->GetShareAreas());
    unsigned sent = 99;
    EXPECT_FALSE(t->SendPacket(data.data(), static_cast<unsigned>(data.size()), &sent, 1000));
    EXPECT_EQ(sent, 0u);
    EXPECT_EQ(t->GetShareArea().Data()->bSequence, 5);  // no number taken
    ASSERT_TRUE(t->SendPacket(data.data(), static_cast<unsigned>(c.maxPayload), nullptr, 1000));
  }
  const auto received = m_devices.back()->WaitForReceived(1);
  ASSERT_EQ(received.size(), 1u);
  ASSERT_EQ(received[0].size(), c.expectedPacket);
  EXPECT_EQ(received[0][0], 6);
  framing::Parsed p;
  ASSERT_TRUE(framing::ParsePacket(received[0], c.mode, p));
  ASSERT_EQ(p.length, c.maxPayload);
  EXPECT_TRUE(std::equal(data.begin(), data.begin() + static_cast<long>(c.maxPayload),
                         received[0].begin() + static_cast<long>(p.offset)));
}

INSTANTIATE_TEST_SUITE_P(Transports, PayloadLimit,
                         ::testing::Values(CutCase{"hid", 0, 64, 62}, CutCase{"hid", 1, 64, 61},
                                           CutCase{"hid", 1, 67, 64}, CutCase{"bulk", 0, 64, 62},
                                           CutCase{"bulk", 1, 512, 509},
                                           CutCase{"legacy", 0, 64, 62}),
                         [](const ::testing::TestParamInfo<CutCase>& info) {
                           return std::string(info.param.kind) + "_mode" +
                                  std::to_string(info.param.mode) + "_" +
                                  std::to_string(info.param.expectedPacket);
                         });

TEST_F(Framing, NoDeviceAndEmptyTables) {
  AddDevice("hid", SimConfig("hid", 0x0416, 0x5202, 3, HidPath(0x5202, 3)));
  CHidCmd hid;
  CWinUSB winusb;
  CBulkUSB bulk;
  for (CUsbCmd* t : {static_cast<CUsbCmd*>(&hid), static_cast<CUsbCmd*>(&winusb),
                     static_cast<CUsbCmd*>(&bulk)}) {
    EXPECT_EQ(t->Open(1, &kHid5202, 0), 0);  // count 0 opens nothing
    EXPECT_EQ(t->GetDeviceCount(), 0u);
    EXPECT_EQ(t->GetPacketSize(true), 0);
    ScopedShareLock<UsbShareArea> lock(t->GetShareAreas());
    unsigned sent = 7;
    EXPECT_FALSE(t->SendPacket("abc", 3, &sent, 100));
    EXPECT_EQ(sent, 0u);
    uint8_t b[8];
    EXPECT_FALSE(t->ReceivePacket(b, sizeof b, nullptr, 10));
  }
  EXPECT_EQ(winusb.GetSelectedIndex(), CUsbCmd::kNoDevice);
}

TEST_F(Framing, WithoutTheShareLockSendingThrows) {
  AddDevice("hid", SimConfig("hid", 0x0416, 0x5202, 3, HidPath(0x5202, 3)));
  CHidCmd t;
  ASSERT_EQ(t.Open(1, &kHid5202, 1), 1);
  EXPECT_THROW(t.SendPacket("x", 1, nullptr, 100), std::runtime_error);
}

// An adapter that stops answering must not hang the program: every transport
// gives up after its time-out.
TEST_F(Framing, SilentDevicesTimeOut) {
  AddDevice("h", SimConfig("hid", 0x0416, 0x5202, 3, HidPath(0x5202, 3)));
  AddDevice("b", SimConfig("bulk", 0x0416, 0x5200, 0, BulkPath(0x5200, 0), "1-2", "", 512));
  AddDevice("l", SimConfig("legacy-bulk", 0x0416, 0x511C, 0, "legacy0", "", "", 64));
  CHidCmd hid;
  CWinUSB winusb;
  CBulkUSB bulk;
  ASSERT_EQ(hid.Open(1, &kHid5202, 1), 1);
  ASSERT_EQ(winusb.Open(1, &kBulk5200, 1), 1);
  ASSERT_EQ(bulk.Open(0, &kLegacy511C, 1), 1);
  for (CUsbCmd* t : {static_cast<CUsbCmd*>(&hid), static_cast<CUsbCmd*>(&winusb),
                     static_cast<CUsbCmd*>(&bulk)}) {
    ScopedShareLock<UsbShareArea> lock(t->GetShareAreas());
    ASSERT_TRUE(t->SendPacket("x", 1, nullptr, 100));
    uint8_t b[512];
    unsigned got = 99;
    EXPECT_FALSE(t->ReceivePacket(b, sizeof b, &got, 30));
    EXPECT_FALSE(t->Read(b, 64, &got, 0));
    EXPECT_EQ(got, 0u);
  }
}

TEST_F(Framing, WinUsbCloseAllLeavesNoSelection) {
  AddDevice("b", SimConfig("bulk", 0x0416, 0x5200, 0, BulkPath(0x5200, 0), "1-2", "SN42", 512));
  CWinUSB t;
  ASSERT_EQ(t.Open(0, &kBulk5200, 1), 1);
  EXPECT_EQ(t.GetSelectedIndex(), 0u);
  EXPECT_EQ(t.GetSerialNumber(), "SN42");  // from the string descriptor
  t.CloseAll();
  EXPECT_EQ(t.GetSelectedIndex(), CUsbCmd::kNoDevice);
  EXPECT_EQ(t.GetPacketSize(false), 0);
}

// The device list and the selection live once, in CUsbCmd: every transport
// reports "nothing selected" the same way, keeps its list length through
// CloseOthers, and lets go of the share area with CloseAll.
TEST_F(Framing, EveryTransportSelectsTheSameWay) {
  AddDevice("h0", SimConfig("hid", 0x0416, 0x5202, 3, HidPath(0x5202, 3), "1-1"));
  AddDevice("h1", SimConfig("hid", 0x0416, 0x5203, 3, HidPath(0x5203, 3), "1-2"));
  AddDevice("b0", SimConfig("bulk", 0x0416, 0x5200, 0, BulkPath(0x5200, 0), "1-3", "", 512));
  AddDevice("b1", SimConfig("bulk", 0x0416, 0x5201, 0, BulkPath(0x5201, 0), "1-4", "", 512));
  AddDevice("l0", SimConfig("legacy-bulk", 0x0416, 0x511C, 0, "legacy0", "", "", 64));
  AddDevice("l1", SimConfig("legacy-bulk", 0x0416, 0x511C, 0, "legacy1", "", "", 64));
  const UsbDeviceId hidIds[] = {kHid5202, {0x0416, 0x5203, 3}};
  const UsbDeviceId bulkIds[] = {kBulk5200, {0x0416, 0x5201, kAnyInterface}};
  CHidCmd hid;
  CWinUSB winusb;
  CBulkUSB bulk;
  const struct {
    CUsbCmd* t;
    int mode;
    const UsbDeviceId* ids;
    unsigned count;
  } cases[] = {{&hid, 1, hidIds, 2}, {&winusb, 1, bulkIds, 2}, {&bulk, 0, &kLegacy511C, 1}};
  for (const auto& c : cases) {
    CUsbCmd& t = *c.t;
    SCOPED_TRACE(t.GetTransportKind());
    EXPECT_EQ(t.GetSelectedIndex(), CUsbCmd::kNoDevice);  // after construction
    ASSERT_EQ(t.Open(c.mode, c.ids, c.count), 1);
    ASSERT_EQ(t.GetDeviceCount(), 2u);
    EXPECT_EQ(t.GetSelectedIndex(), 0u);
    EXPECT_TRUE(t.GetShareArea().IsOpen());
    const std::string second = ShareBaseName(t.GetDeviceInfo(1).path);
    EXPECT_EQ(t.SelectDevice(1), 0u);
    EXPECT_EQ(t.GetShareArea().GetName().rfind(second, 0), 0u);  // bound to device 1
    t.CloseOthers();
    EXPECT_EQ(t.GetDeviceCount(), 2u);
    EXPECT_NE(t.GetPacketSize(false), 0);
    t.SelectDevice(0);  // closed by CloseOthers: no I/O
    uint8_t b[8] = {};
    unsigned got = 9;
    EXPECT_FALSE(t.Read(b, sizeof b, &got, 10));
    EXPECT_EQ(got, 0u);
    EXPECT_EQ(t.SelectDevice(2), 0u);  // past the list: share area closed
    EXPECT_FALSE(t.GetShareArea().IsOpen());
    EXPECT_EQ(t.GetSelectedIndex(), 2u);
    t.SelectDevice(1);
    t.CloseAll();
    EXPECT_EQ(t.GetSelectedIndex(), CUsbCmd::kNoDevice);
    EXPECT_EQ(t.GetDeviceCount(), 0u);
    EXPECT_EQ(t.GetPacketSize(true), 0);
    EXPECT_EQ(t.GetLocationId(), "");
    EXPECT_FALSE(t.GetShareArea().IsOpen());
  }
  const UsbDeviceId absent{0x0416, 0x5999, kAnyInterface};
  for (const auto& c : cases) {
    EXPECT_EQ(c.t->Open(1, &absent, 1), 0);
    EXPECT_EQ(c.t->GetSelectedIndex(), CUsbCmd::kNoDevice);
  }
}

TEST_F(Framing, UnpluggedDeviceFailsInsteadOfWaiting) {
  AddDevice("hid", SimConfig("hid", 0x0416, 0x5202, 3, HidPath(0x5202, 3)));
  CHidCmd t;
  ASSERT_EQ(t.Open(1, &kHid5202, 1), 1);
  m_devices.clear();  // unplug: connections closed, files removed
  ScopedShareLock<UsbShareArea> lock(t.GetShareAreas());
  uint8_t b[64];
  EXPECT_FALSE(t.ReceivePacket(b, sizeof b, nullptr, -1));  // no time-out, still returns
  EXPECT_FALSE(t.SendPacket("x", 1, nullptr, 100));
}
