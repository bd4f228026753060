// The packet layer against byte vectors written from the protocol's rules:
// "$" payload "#" and the payload's byte sum modulo 256 in two hex digits;
// binary data escapes '#', '$', '}' and '*' as '}' and the byte xor 0x20.
#include <gtest/gtest.h>

#include "gdbserver/GdbPacket.h"

using namespace gdb;
using Event = PacketReader::Event;

TEST(GdbPacket, FramesWithTheByteSum) {
  // 'O' + 'K' = 0x4f + 0x4b = 0x9a
  EXPECT_EQ(Frame("OK"), "$OK#9a");
  EXPECT_EQ(Frame(""), "$#00");
  // 'g' = 0x67
  EXPECT_EQ(Frame("g"), "$g#67");
  // 'm' 0x6d + '0' 0x30 + ',' 0x2c + '4' 0x34 = 0xfd
  EXPECT_EQ(Frame("m0,4"), "$m0,4#fd");
}

TEST(GdbPacket, EscapesTheFourSpecialBytes) {
  const std::vector<uint8_t> raw = {0x23, 0x24, 0x7d, 0x2a, 0x41, 0x00, 0xff};
  const std::string escaped = EscapeBinary(raw);
  EXPECT_EQ(escaped, std::string("}\x03}\x04}]}\x0a" "A\0\xff", 11));
  std::vector<uint8_t> back;
  ASSERT_TRUE(UnescapeBinary(escaped, back));
  EXPECT_EQ(back, raw);
  EXPECT_FALSE(UnescapeBinary("ab}", back));  // an escape with nothing after it
}

TEST(GdbPacket, HexHelpers) {
  std::vector<uint8_t> out;
  EXPECT_TRUE(HexDecode("00ff7A", out));
  EXPECT_EQ(out, (std::vector<uint8_t>{0x00, 0xff, 0x7a}));
  EXPECT_FALSE(HexDecode("abc", out));
  EXPECT_FALSE(HexDecode("zz", out));
  uint32_t v = 0;
  EXPECT_TRUE(ParseHex32("2000fFfc", v));
  EXPECT_EQ(v, 0x2000fffcu);
  EXPECT_FALSE(ParseHex32("123456789", v));  // more than 32 bits
  EXPECT_FALSE(ParseHex32("", v));
  EXPECT_EQ(HexLE(0x12345678, 4), "78563412");
}

TEST(GdbPacket, ReaderCutsTheStream) {
  struct Case {
    const char* name;
    std::string input;
    std::vector<Event::Kind> kinds;
    std::string firstPayload;
  };
  const std::vector<Case> cases = {
      {"one packet", "$g#67", {Event::Packet}, "g"},
      {"acks and interrupt around", "+$g#67-\x03", {Event::Ack, Event::Packet, Event::Nack, Event::Interrupt}, ""},
      {"noise outside packets is ignored", "xyz\r\n$OK#9a", {Event::Packet}, "OK"},
      {"bad checksum", "$g#68", {Event::BadChecksum}, ""},
      {"checksum not hex", "$g#zz", {Event::BadChecksum}, ""},
      {"upper-case checksum digits", "$OK#9A", {Event::Packet}, "OK"},
      {"a restart inside a packet drops the old one", "$mxx$g#67", {Event::Packet}, "g"},
      {"too long (limit 4)", "$12345#ff$1234#ca", {Event::TooLong, Event::Packet}, ""},
      {"0x03 inside a packet is data", "$\x03#03", {Event::Packet}, "\x03"},
  };
  for (const Case& c : cases) {
    PacketReader reader(4);
    std::vector<Event> events;
    // Byte by byte and whole must agree.
    for (char ch : c.input) reader.Feed(std::string_view(&ch, 1), events);
    std::vector<Event::Kind> kinds;
    for (const Event& e : events) kinds.push_back(e.kind);
    EXPECT_EQ(kinds, c.kinds) << c.name;
    for (const Event& e : events) {
      if (e.kind == Event::Packet && !c.firstPayload.empty()) {
        EXPECT_EQ(e.payload, c.firstPayload) << c.name;
      }
    }
    std::vector<Event> whole;
    PacketReader again(4);
    again.Feed(c.input, whole);
    EXPECT_EQ(whole.size(), events.size()) << c.name;
    EXPECT_FALSE(reader.InPacket()) << c.name;
  }
}
