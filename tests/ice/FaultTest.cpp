// Failure handling against the emulator's faults.
#include <gtest/gtest.h>

#include <future>
#include <thread>

#include "SimFixture.h"
#include "ice/CICE_M4.h"

using namespace ice;

namespace {
std::string Message(const std::function<void()>& f) {
  try {
    f();
  } catch (const CICEException& e) {
    return e.GetMessage();
  }
  return "(no exception)";
}

// One link check with a short time-out; what it threw.
std::string LinkCheckMessage(CICE& ice) {
  CommandRecord link(kCmdLinkCheck);
  link.Word(0);
  uint8_t reply[16] = {};
  unsigned got = 0;
  return Message(
      [&] { ice.Transact(link.Data(), link.Size(), reply, sizeof reply, &got, 200, true); });
}
}  // namespace

TEST(IceFaults, FlaggedReplyNamesTheAdapterError) {
  SimProcess sim;
  CICE_M4 ice;
  OpenAdapter(ice);
  const std::pair<int, const char*> cases[] = {
      {16, "ICE: Cmd error - No device connected."},
      {17, "ICE: Cmd error - 17."},
      {9, "ICE: Cmd error - Write flash data error."},
  };
  for (const auto& [code, text] : cases) {
    sim.Ctl("flag demo " + std::to_string(code));
    EXPECT_EQ(Message([&] { ice.ReadMem32(0x20000000); }), text);
    EXPECT_EQ(ice.GetLastErrorCode(), code);
    EXPECT_TRUE(ice.CheckUSBLink());  // still open
    EXPECT_NO_THROW(ice.ReadMem32(0x20000000));
    EXPECT_EQ(ice.GetLastErrorCode(), 0);
  }
}

TEST(IceFaults, FailingErrorQueryIsUnknownAndKeepsTheAdapter) {
  SimProcess sim;
  CICE_M4 ice;
  OpenAdapter(ice);
  sim.Ctl("flag demo 4");
  sim.Ctl("errq-fail demo");  // the query goes unanswered for its 5 s
  EXPECT_EQ(Message([&] { ice.ReadMem32(0x20000000); }), "ICE: Cmd error - unknown.");
  EXPECT_EQ(ice.GetLastErrorCode(), -1);
  EXPECT_TRUE(ice.CheckUSBLink());
  EXPECT_NO_THROW(ice.ReadMem32(0x20000000));
}

TEST(IceFaults, ReadTimeoutClosesEveryAdapterUntilDiscovery) {
  SimProcess sim;
  CICE_M4 ice;
  OpenAdapter(ice);
  sim.Ctl("drop demo");
  EXPECT_EQ(LinkCheckMessage(ice), "ICE read error or time-out.");
  EXPECT_EQ(ice.GetLastErrorCode(), -1);
  EXPECT_FALSE(ice.CheckUSBLink());
  // Commands with fixed records as well as those sized by the transport.
  uint8_t block[8] = {};
  uint32_t regs[2] = {};
  const std::pair<const char*, std::function<void()>> commands[] = {
      {"ReadMem32", [&] { ice.ReadMem32(0x20000000); }},
      {"ReadMem32 again", [&] { ice.ReadMem32(0x20000000); }},
      {"MCUStopRun", [&] { ice.MCUStopRun(); }},
      {"MCUFreeRun", [&] { ice.MCUFreeRun(); }},
      {"GetMCUState", [&] { ice.GetMCUState(nullptr, 0); }},
      {"ReadDbgID", [&] { ice.ReadDbgID(0); }},
      {"MCUConnect", [&] { ice.MCUConnect(RESET_NONE, CONNECT_NORMAL, 1, 0); }},
      {"ReadBlock", [&] { ice.ReadBlock(0x20000000, 8, block, false); }},
      {"ReadRegs", [&] { ice.ReadRegs(regs, 0, 2); }},
      {"SetBridgeMode", [&] { ice.SetBridgeMode(6); }},
  };
  for (const auto& [name, command] : commands) {
    EXPECT_EQ(Message(command), "There is no Vo-Link connected to a USB port.") << name;
    EXPECT_EQ(ice.GetLastErrorCode(), -1) << name;
  }
  EXPECT_FALSE(ice.CheckLink());
  EXPECT_NO_THROW(ice.MCUConnect(RESET_NONE2, CONNECT_DISCONNECT, 0, 0));

  OpenAdapter(ice);
  EXPECT_NO_THROW(ice.ReadMem32(0x20000000));
}

// The reply to the first exchange of a flash session (reading the adapter
// ID) comes after the time-out: the session puts nothing more on the wire
// while that reply is owed, and the adapters are closed once it ends.
TEST(IceFaults, TimeoutInsideAFlashSessionSendsNothingMore) {
  SimProcess sim;
  CICE_M4 ice;
  OpenAdapter(ice, 0, false);
  sim.Ctl("delay demo 5300 1");
  EXPECT_EQ(Message([&] { ice.ReadAdapterId(); }), "ICE read error or time-out.");
  EXPECT_FALSE(ice.CheckUSBLink());
  std::this_thread::sleep_for(std::chrono::milliseconds(500));  // the late reply has gone out
  EXPECT_EQ(sim.Violations(), 0);
}

TEST(IceFaults, FailedExchangeOnHidClosesAfterReleasingTheShareLock) {
  // Closing a HID transport closes its share area too: the failed exchange
  // must let go of that area's lock first, and still say what failed.
  SimProcess sim(OneAdapterConfig("hid", 64), 1);
  Spy<CICE_M4> ice;
  OpenAdapter(ice);
  sim.Ctl("drop a");
  EXPECT_EQ(LinkCheckMessage(ice), "ICE read error or time-out.");
  EXPECT_FALSE(ice.CheckUSBLink());
  EXPECT_EQ(Message([&] { ice.MCUStopRun(); }), "There is no Vo-Link connected to a USB port.");

  OpenAdapter(ice);
  EXPECT_NO_THROW(ice.ReadMem32(0x20000000));
  std::vector<uint8_t> buffer(4096);
  sim.Ctl("unplug-mid a");
  EXPECT_EQ(Message([&] { ice.ReadMem(0x20000000, buffer.data(), 4096, false, true); }),
            "ICE read error or time-out.");
  EXPECT_EQ(ice.CommandLock().GetCount(), 0u);
  EXPECT_FALSE(ice.CheckUSBLink());
}

TEST(IceFaults, StaleRepliesAreSkipped) {
  SimProcess sim;
  CICE_M4 ice;
  OpenAdapter(ice);
  ice.WriteMem32(0x20000010, 0xA5A5A5A5);
  sim.Ctl("stale demo 3");
  for (int i = 0; i < 3; ++i) EXPECT_EQ(ice.ReadMem32(0x20000010), 0xA5A5A5A5u);
  EXPECT_TRUE(ice.CheckLink());
}

TEST(IceFaults, DelayedReplyWithinTheTimeoutArrives) {
  SimProcess sim;
  CICE_M4 ice;
  OpenAdapter(ice);
  ice.WriteMem32(0x20000010, 0x5A5A5A5A);
  sim.Ctl("delay demo 300");
  EXPECT_EQ(ice.ReadMem32(0x20000010), 0x5A5A5A5Au);
}

TEST(IceFaults, UnplugDuringStreamedTransferReleasesBothLocks) {
  SimProcess sim;
  Spy<CICE_M4> ice;
  OpenAdapter(ice);
  std::vector<uint8_t> buffer(8192);
  sim.Ctl("unplug-mid demo");
  EXPECT_EQ(Message([&] { ice.ReadMem(0x20000000, buffer.data(), 8192, false, true); }),
            "ICE read error or time-out.");
  EXPECT_EQ(ice.CommandLock().GetCount(), 0u);
  EXPECT_FALSE(ice.CheckUSBLink());

  // Another thread (standing in for another process) gets through both the
  // command lock and the adapter's share lock.
  sim.Ctl("plug demo");
  ASSERT_TRUE(sim.WaitForInterfaces(2));
  auto other = std::async(std::launch::async, [&] {
    CICE_M4 second;
    OpenAdapter(second);
    std::vector<uint8_t> data(4096);
    second.ReadMem(0x20000000, data.data(), 4096, false, true);
    return ice.GetFirmwareVersion();  // takes the first object's command lock
  });
  ASSERT_EQ(other.wait_for(std::chrono::seconds(10)), std::future_status::ready);
  other.get();

  // The same happens for a streamed write.
  OpenAdapter(ice);
  sim.Ctl("unplug-mid demo");
  // Depending on when the connection goes, a later packet cannot be sent or
  // the reply never comes.
  const std::string text = Message([&] { ice.WriteMem(0x20000000, buffer.data(), 4096, false); });
  EXPECT_TRUE(text == "ICE write error." || text == "ICE read error or time-out.") << text;
  EXPECT_EQ(ice.CommandLock().GetCount(), 0u);
}
