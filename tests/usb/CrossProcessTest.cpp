// Two processes on one emulated adapter draw their sequence numbers from one
// counter and never interleave their request-reply pairs.
#include <gtest/gtest.h>

#include "ChildProcess.h"
#include "SimFixture.h"
#include "usb/CHidCmd.h"

class TwoProcesses : public SimFixture {};

TEST_F(TwoProcesses, ShareOneSequenceCounter) {
  FakeSimDevice& dev = AddDevice(
      "hid", SimConfig("hid", 0x0416, 0x5202, 3, HidPath(0x5202, 3)), EchoHandler(1, 64));
  CHidCmd t;
  const UsbDeviceId id{0x0416, 0x5202, 3};
  ASSERT_EQ(t.Open(1, &id, 1), 1);
  auto exchange = [&] {
    ScopedShareLock<UsbShareArea> lock(t.GetShareAreas());
    unsigned char reply[64];
    unsigned got = 0;
    return t.SendPacket("p", 1, nullptr, 1000) && t.ReceivePacket(reply, sizeof reply, &got, 1000);
  };
  for (int i = 0; i < 5; ++i) ASSERT_TRUE(exchange());  // numbers 1..5
  EXPECT_EQ(ChildProcess({USB_CHILD, "1"}).Wait(), 0);   // its request carries 6
  ASSERT_TRUE(exchange());                                // and the next one here 7
  {
    // Both sides at once: every exchange still gets its own reply.
    ChildProcess a({USB_CHILD, "200"}), b({USB_CHILD, "200"});
    for (int i = 0; i < 200; ++i) ASSERT_TRUE(exchange());
    EXPECT_EQ(a.Wait(), 0);
    EXPECT_EQ(b.Wait(), 0);
  }
  const auto received = dev.Received();
  ASSERT_EQ(received.size(), 7u + 600u);
  for (size_t i = 0; i < received.size(); ++i)
    ASSERT_EQ(received[i][0], (i + 1) % 128) << "request " << i;
}
