// The boot-loader channel over an emulated HID interface.
#include <gtest/gtest.h>

#include "SimFixture.h"
#include "usb/CHidLDCmd.h"
#include "usb/PacketFraming.h"

class Loader : public SimFixture {};

TEST(LoaderChecksum, SumOfBytes) {
  EXPECT_EQ(CHidLDCmd::Checksum("abc", 3), 294);
  const Bytes ff(600, 0xFF);
  EXPECT_EQ(CHidLDCmd::Checksum(ff.data(), ff.size()), static_cast<uint16_t>(600 * 255));
}

TEST_F(Loader, NumberedRequestsAndCheckedReplies) {
  FakeSimDevice& dev = AddDevice("ld", SimConfig("hid", 0x0416, 0xA316, 0, HidPath(0xA316, 0)));
  // Replies: one with a wrong checksum, one with a wrong packet number, then
  // the right one.
  dev.SetHandler([](const Bytes& req) {
    const uint16_t sum = framing::Checksum16(req);
    const uint32_t no = framing::GetLE32(req.data() + 4);
    const uint8_t data[] = {0xDE, 0xAD, 0xBE, 0xEF};
    Bytes bad(64), late(64), good(64);
    framing::FrameLoaderReply(bad, static_cast<uint16_t>(sum + 1), no + 1, data);
    framing::FrameLoaderReply(late, sum, no - 1, data);
    framing::FrameLoaderReply(good, sum, no + 1, data);
    return std::vector<Bytes>{bad, late, good};
  });
  CHidLDCmd ld;
  ASSERT_TRUE(ld.Open(0x0416, 0xA316));
  EXPECT_EQ(ld.GetPacketSize(), 64);
  EXPECT_EQ(ld.GetPacketNumber(), 18u);
  const uint8_t req[] = {1, 2, 3};
  ASSERT_TRUE(ld.SendCommand(0xB1, req, sizeof req, 1000));
  EXPECT_EQ(ld.GetPacketNumber(), 20u);
  uint8_t reply[64] = {};
  size_t got = 0;
  ASSERT_TRUE(ld.ReceiveReply(reply, sizeof reply, &got, 1000, true));
  EXPECT_EQ(got, 64u - 8u);  // bytes read (65) less 9
  EXPECT_EQ(reply[0], 0xDE);
  EXPECT_EQ(reply[3], 0xEF);

  const auto received = dev.Received();
  ASSERT_EQ(received.size(), 1u);
  ASSERT_EQ(received[0].size(), 64u);
  EXPECT_EQ(framing::GetLE32(received[0].data()), 0xB1u);
  EXPECT_EQ(framing::GetLE32(received[0].data() + 4), 18u);
  EXPECT_EQ(received[0][8], 1);
  EXPECT_EQ(ld.GetExpectedChecksum(), framing::Checksum16(received[0]));
}

TEST_F(Loader, UnansweredReplyTimesOutAndUnknownIdsDoNotOpen) {
  AddDevice("ld", SimConfig("hid", 0x0416, 0x200D, 0, HidPath(0x200D, 0)));
  CHidLDCmd ld;
  EXPECT_FALSE(ld.Open(0x0416, 0xA320));
  EXPECT_FALSE(ld.SendCommand(0xA4, nullptr, 0, 100));
  ASSERT_TRUE(ld.Open(0x0416, 0x200D));
  ASSERT_TRUE(ld.SendCommand(0xA6, nullptr, 0, 100));
  uint8_t b[8];
  EXPECT_FALSE(ld.ReceiveReply(b, sizeof b, nullptr, 30, true));
}
