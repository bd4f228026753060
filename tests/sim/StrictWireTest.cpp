// The strict emulator: every way a peer can break the wire is counted per
// interface and reported by `ctl violations`; well-formed traffic, including
// the handshake that abandons a streamed write on purpose, counts nothing.
#include <gtest/gtest.h>

#include <functional>
#include <sstream>

#include "SimClient.h"

using namespace simtest;

namespace {

// Count of violation `kind` for interface `iface` in a `ctl violations` answer.
uint64_t Count(const std::string& report, const std::string& iface, const std::string& kind) {
  std::istringstream in(report);
  for (std::string line; std::getline(in, line);) {
    std::istringstream words(line);
    std::string name, k, v;
    words >> name;
    if (name != iface) continue;
    while (words >> k >> v)
      if (k == kind) return std::stoull(v);
  }
  return 0;
}

// A mode-1 packet of `size` bytes with this sequence byte, length field and record.
Bytes Raw(uint8_t seq, size_t lengthField, const Bytes& record, size_t size = 64) {
  Bytes p(size, 0);
  p[0] = seq;
  p[1] = static_cast<uint8_t>(lengthField >> 8);
  p[2] = static_cast<uint8_t>(lengthField);
  for (size_t i = 0; i < record.size() && 3 + i < size; ++i) p[3 + i] = record[i];
  return p;
}

Bytes Concat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// First packet of a streamed write of `chunk` bytes to SRAM (48 data bytes on 64-byte HID).
Bytes StreamFirst(uint32_t chunk) {
  Bytes r = Concat(Words({0xB4, 0x20004000, chunk}), Bytes(std::min<uint32_t>(chunk, 48), 0x5A));
  r.push_back(0);
  return r;
}
Bytes StreamNext(size_t n, uint8_t number) {
  Bytes r = Concat(Words({0xB4}), Bytes(n, 0xA5));
  r.push_back(number);
  return r;
}

struct BadCase {
  const char* name;
  const char* kind;  // the violation it must count
  std::function<void(Conn&, const std::function<std::string(const std::string&)>& ctl)> send;
};

class StrictWire : public SimFixture, public ::testing::WithParamInterface<BadCase> {};
class Strict : public SimFixture {};

}  // namespace

TEST_P(StrictWire, EveryBreachIsCountedOnItsInterface) {
  StartDemo();
  Conn c = Open("demo-hid-if3");
  ASSERT_EQ(c.OpenByte(), 1);
  GetParam().send(c, [this](const std::string& line) { return Ctl(line); });
  // The emulator still answers what follows.
  EXPECT_FALSE(c.Exchange(Words({0xF0, 0})).flag);
  const std::string report = Ctl("violations");
  EXPECT_GE(Count(report, "demo-hid-if3", GetParam().kind), 1u) << report;
  EXPECT_EQ(Count(report, "demo-bulk-if0", GetParam().kind), 0u) << report;
  EXPECT_GE(TakeViolations(), 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Breaches, StrictWire,
    ::testing::Values(
        BadCase{"ShortMessage", "size",
                [](Conn& c, const auto&) {
                  Bytes p = Raw(1, 8, Words({0xF0, 0}));
                  p.resize(63);
                  c.SendRaw(p);
                  c.Receive(500);
                }},
        BadCase{"LengthBeyondThePacket", "length",
                [](Conn& c, const auto&) {
                  c.SendRaw(Raw(1, 62, Words({0xF0, 0})));
                  c.Receive(500);
                }},
        BadCase{"RecordOneByteLong", "length",
                [](Conn& c, const auto&) {
                  c.SendRaw(Raw(1, 9, Words({0xF0, 0})));
                  c.Receive(500);
                }},
        BadCase{"MultiAccessEntriesMiscounted", "length",
                [](Conn& c, const auto&) {
                  Bytes r = Words({0xFE, 0x0000FF02, 0x24, 0, 0xFFFFFFFF});  // says 2 entries, carries 1
                  c.SendRaw(Raw(1, r.size(), r));
                  c.Receive(500);
                }},
        BadCase{"HandshakeShorterThanThePayload", "length",
                [](Conn& c, const auto&) {
                  c.SendRaw(Raw(1, 60, Bytes(60, 0xFF)));
                  c.Receive(500);
                }},
        BadCase{"TooShortForTheHeader", "header",
                [](Conn& c, const auto&) {
                  c.SendRaw({0x01, 0x00});
                  c.Receive(500);
                }},
        BadCase{"ReplyFlagInARequest", "header",
                [](Conn& c, const auto&) {
                  c.SendRaw(Raw(0x81, 8, Words({0xF0, 0})));
                  c.Receive(500);
                }},
        BadCase{"UnknownCode", "command",
                [](Conn& c, const auto&) {
                  c.SendRaw(Raw(1, 4, Words({0x77})));
                  c.Receive(500);
                }},
        BadCase{"CodeWithHighBytes", "command",
                [](Conn& c, const auto&) {
                  c.SendRaw(Raw(1, 8, Words({0x100F0, 0})));
                  c.Receive(500);
                }},
        BadCase{"ContinuationNumberedWrong", "sequence",
                [](Conn& c, const auto&) {
                  c.Send(StreamFirst(58));
                  c.Send(StreamNext(10, 2));
                  c.ReceivePacket();
                }},
        BadCase{"CommandInsideAStreamedWrite", "sequence",
                [](Conn& c, const auto&) {
                  c.Send(StreamFirst(58));
                  c.Exchange(Words({0xF0, 0}));
                }},
        BadCase{"RequestBeforeTheReplyWasRead", "owed",
                [](Conn& c, const auto& ctl) {
                  ctl("delay demo 300 1");
                  c.Send(Words({0xF0, 0}));
                  c.Send(Words({0xF0, 0}));
                  c.ReceivePacket();
                  c.ReceivePacket();
                }}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Strict, WellFormedTrafficCountsNothing) {
  StartDemo();
  Conn c = Open("demo-hid-if3");
  c.Exchange(Bytes(61, 0xFF));
  Attach(c);
  // A streamed write of two packets, one abandoned by the handshake, a streamed read.
  c.Send(StreamFirst(58));
  EXPECT_FALSE(c.Exchange(StreamNext(10, 1)).flag);
  c.Send(StreamFirst(58));
  c.Exchange(Bytes(61, 0xFF));
  c.Exchange(Words({0xB3, 0x20004000, 58}));
  EXPECT_EQ(c.ReceivePacket()->payload.size(), 10u);
  c.Exchange(Concat(Words({0xBC, 0x20004000, 8}), Bytes(8, 1)));
  c.Exchange(Words({0xA4}));
  EXPECT_EQ(sim::LastLine(Ctl("violations")), "ok violations 0");
}

// The boot loader's channel: numbers synchronised by 0xA4 and then + 2,
// application-write packets only inside a write, known commands only.
TEST_F(Strict, BootLoaderBreachesAreCounted) {
  StartDemo();
  Ctl("loader demo");
  Conn lc(m_dir / "demo-loader.sock", 1, 64);
  auto send = [&](uint32_t cmd, uint32_t number, const Bytes& data, size_t size = 64) {
    Bytes pkt(64);
    framing::FrameLoaderRequest(pkt, cmd, number, data);
    pkt.resize(size);
    lc.SendRaw(pkt);
    lc.Receive(500);
  };
  auto count = [&](const char* kind) { return Count(Ctl("violations"), "demo-loader", kind); };

  send(0xB1, 18, {});  // before 0xA4
  EXPECT_EQ(count("sequence"), 1u);
  send(0xA4, 20, Words({20}));
  send(0xB1, 22, {});
  send(0xA6, 26, {});  // skipped 24
  EXPECT_EQ(count("sequence"), 2u);
  send(0x00, 28, Bytes(56, 1));  // no write in progress
  EXPECT_EQ(count("sequence"), 3u);
  send(0x55, 30, {});
  EXPECT_EQ(count("command"), 1u);
  send(0xA6, 32, {}, 63);
  EXPECT_EQ(count("size"), 1u);
  // An application write of 100 bytes: 48 in 0xA0, 52 in one 0x00; one more 0x00 is too many.
  send(0xA0, 34, Concat(Words({0, 100}), Bytes(48, 0xFF)));
  send(0x00, 36, Bytes(56, 0xFF));
  EXPECT_EQ(count("sequence"), 3u);
  send(0x00, 38, Bytes(56, 0xFF));
  EXPECT_EQ(count("sequence"), 4u);
  EXPECT_EQ(TakeViolations(), 6u);
}
