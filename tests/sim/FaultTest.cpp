// Faults injected through the control channel.
#include <chrono>

#include "SimClient.h"

namespace simtest {
namespace {

class Faults : public SimFixture {
 protected:
  void SetUp() override {
    StartDemo();
    c = Open("demo-hid-if3");
    ASSERT_EQ(c.OpenByte(), 1);
  }
  Conn c;
};

TEST_F(Faults, FlaggedReplyCarriesTheChosenCode) {
  for (uint32_t code : {16u, 17u}) {
    EXPECT_EQ(Ctl("flag demo " + std::to_string(code)), "ok\n");
    const Packet p = c.Exchange(Words({0xF0, 0}));
    EXPECT_TRUE(p.flag);
    EXPECT_EQ(c.ErrorQuery(), code);
    EXPECT_FALSE(c.Exchange(Words({0xF0, 0})).flag);  // one command only
  }
}

TEST_F(Faults, FailingErrorQueryGetsNoReply) {
  Ctl("flag demo 9");
  Ctl("errq-fail demo");
  EXPECT_TRUE(c.Exchange(Words({0xF0, 0})).flag);
  c.Send(Words({0xFC}));
  EXPECT_FALSE(c.ReceivePacket(200).has_value());
  EXPECT_EQ(c.ErrorQuery(), 9u);  // the next query answers again
}

TEST_F(Faults, DroppedReplyTimesOutAndTheNextOneAnswers) {
  Ctl("drop demo");
  c.Send(Words({0xF0, 0}));
  EXPECT_FALSE(c.ReceivePacket(200).has_value());
  EXPECT_FALSE(c.Exchange(Words({0xF0, 0})).flag);
}

TEST_F(Faults, DelayedReplyArrivesLate) {
  Ctl("delay demo 300");
  const auto t0 = std::chrono::steady_clock::now();
  c.Send(Words({0xF0, 0}));
  EXPECT_FALSE(c.ReceivePacket(100).has_value());
  EXPECT_TRUE(c.ReceivePacket(2000).has_value());
  EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(300));
}

TEST_F(Faults, StaleReplyComesFirstWithAForeignNumber) {
  Ctl("stale demo");
  const uint8_t seq = c.Send(Words({0xF0, 0}));
  auto stale = c.ReceivePacket();
  ASSERT_TRUE(stale);
  EXPECT_NE(stale->seq, seq);
  auto good = c.ReceivePacket();
  ASSERT_TRUE(good);
  EXPECT_EQ(good->seq, seq);
  EXPECT_EQ(good->payload.at(0), 0);
}

TEST_F(Faults, UnplugInTheMiddleOfAStreamedRead) {
  Attach(c);
  Ctl("unplug-mid demo");
  c.Send(Words({0xB3, 0, 1112}));
  auto first = c.ReceivePacket();
  ASSERT_TRUE(first);
  EXPECT_EQ(first->payload.size(), 48u);
  auto closed = c.Receive(1000);
  ASSERT_TRUE(closed.has_value());
  EXPECT_TRUE(closed->empty());
  EXPECT_FALSE(Published("demo-hid-if3"));
  EXPECT_FALSE(Published("demo-bulk-if0"));
  EXPECT_EQ(Ctl("plug demo"), "ok\n");
  EXPECT_TRUE(Published("demo-hid-if3"));
}

TEST_F(Faults, UnplugAfterTheFirstPacketOfAStreamedWrite) {
  Attach(c);
  Ctl("unplug-mid demo");
  Bytes first = Words({0xB4, 0x20000000, 200});
  first.resize(first.size() + 48, 0xAB);
  first.push_back(0);
  c.Send(first);
  auto closed = c.Receive(1000);
  ASSERT_TRUE(closed.has_value());
  EXPECT_TRUE(closed->empty());
  EXPECT_FALSE(Published("demo-hid-if3"));
}

TEST_F(Faults, RefusedStreamedWriteAnswersOnceAfterItsLastPacket) {
  struct Case {
    const char* control;
    uint32_t code;
  };
  for (const Case& k : {Case{"flag demo 9", 9}, Case{"target demo off", 16}}) {
    SCOPED_TRACE(k.control);
    Ctl("target demo on");
    Attach(c);
    EXPECT_EQ(Ctl(k.control), "ok\n");
    // 60 bytes: a first packet of 48, a continuation of 12 that looks like a header.
    Bytes first = Words({0xB4, 0x20001000, 60});
    first.resize(first.size() + 48, 0xAB);
    first.push_back(0);
    c.Send(first);
    EXPECT_FALSE(c.Receive(50).has_value());
    Bytes cont = Words({0xB4, 0x20001100, 8, 0});
    cont.push_back(1);
    const uint8_t last = c.Send(cont);
    auto reply = c.ReceivePacket();
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->seq, last);
    EXPECT_TRUE(reply->flag);
    EXPECT_FALSE(c.Receive(50).has_value());
    EXPECT_EQ(c.ErrorQuery(), k.code);
    Ctl("target demo on");
    EXPECT_EQ(c.Read(0xB9, 0x20001000), 0u);  // nothing written
    EXPECT_EQ(c.Read(0xB9, 0x20001100), 0u);
  }
}

TEST_F(Faults, NumbersOutOfRangeAreRefusedAndInjectNothing) {
  for (const char* line :
       {"delay demo 4294967296 1", "delay demo 1 4294967296", "delay demo 86400001", "delay demo -1",
        "drop demo 2147483648", "stale demo -1", "errq-fail demo 99999999999999999999", "drop demo 1 2",
        "flag demo 4294967296", "flag demo 0x1FFFFFFFF 1", "flag demo 9 -1", "settle demo 9223372036854775807",
        "hold demo -1", "hold demo 256"})
    EXPECT_EQ(Ctl(line).rfind("error", 0), 0u) << line;
  EXPECT_EQ(Open("demo-bulk-if0", 1, 512).OpenByte(), 1);  // nothing held
  EXPECT_FALSE(c.Exchange(Words({0xF0, 0})).flag);          // answered at once, not flagged

  // The largest numbers in range are taken.
  for (const char* line : {"flag demo 0xFFFFFFFF 0", "drop demo 2147483647", "delay demo 86400000 0",
                           "settle demo 86400000", "clear demo"})
    EXPECT_EQ(Ctl(line), "ok\n") << line;
  EXPECT_FALSE(c.Exchange(Words({0xF0, 0})).flag);
}

TEST_F(Faults, DetachedTargetRefusesToConnect) {
  Ctl("target demo off");
  EXPECT_TRUE(c.Exchange(Words({0xE2, 0, 0, 0, 0})).flag);
  EXPECT_EQ(c.ErrorQuery(), 16u);
  // Disconnecting still answers.
  EXPECT_FALSE(c.Exchange(Words({0xE2, 0, 4, 0, 0})).flag);
  Ctl("target demo on");
  Attach(c);
}

}  // namespace
}  // namespace simtest
