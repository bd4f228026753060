// The adapter firmware: handshake per generation, sequence echo and flag,
// error query, multi-access, block and streamed transfers, target memory.
#include <chrono>
#include <thread>

#include "SimClient.h"

namespace simtest {
namespace {

class Firmware : public SimFixture {};

struct HandshakeCase {
  const char* config;
  const char* iface;
  int headerMode;
  size_t size;
  uint32_t version, chipId, flags;
  const char* suffix;
};

TEST_F(Firmware, HandshakeWordsPerGeneration) {
  const HandshakeCase cases[] = {
      {R"("generation":0,"firmware_version":7000,"design_id":0,"pro":true,"adapter_id":"0x11223344")", "a-hid-if0", 0,
       64, 7000, 0x40012009, 1, "r"},
      {R"("generation":1,"design_id":5,"revision":"q","adapter_id":"0x11223344",
          "interfaces":[{"kind":"hid","interface":3,"size":1024}])", "a-hid-if3", 1, 1024, 7973, 0x00D4851F, 5, "q"},
      {R"("generation":2,"firmware_version":7990,"design_id":1,"adapter_id":"0x11223344")", "a-bulk-if3", 1, 512, 7990,
       0xA2000340, 1, "r"},
  };
  for (const auto& hc : cases) {
    SCOPED_TRACE(hc.iface);
    StartSim(OneAdapter(hc.config));
    Conn c = Open(hc.iface, hc.headerMode, hc.size);
    ASSERT_EQ(c.OpenByte(), 1);
    const Bytes req(framing::MaxPayload(hc.size, hc.headerMode), 0xFF);  // code 0xFFFFFFFF, value -1
    c.Exchange(req);                                                      // sent twice, as the host does
    const Packet p = c.Exchange(req);
    ASSERT_EQ(p.payload.size(), 24u);
    EXPECT_FALSE(p.flag);
    EXPECT_EQ(WordAt(p.payload, 0), hc.version);
    EXPECT_EQ(WordAt(p.payload, 1), hc.chipId);
    EXPECT_EQ(WordAt(p.payload, 2), hc.flags);
    EXPECT_EQ(WordAt(p.payload, 4), 0x11223344u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&p.payload[20])).substr(0, 4), hc.suffix);
    TearDown();
  }
}

TEST_F(Firmware, FailedCommandIsFlaggedAndTheErrorQueryNamesIt) {
  StartDemo();
  Conn c = Open("demo-hid-if3");
  // A read of unmapped target memory: "Get register data error".
  bool flagged = false;
  c.Multi(0xB9, {{0x60000000, 0, 0xFFFFFFFF}}, &flagged);
  EXPECT_TRUE(flagged);
  EXPECT_EQ(c.ErrorQuery(), 4u);
  // No target attached: "No device connected".
  Ctl("target demo off");
  c.Multi(0xB9, {{0x20000000, 0, 0xFFFFFFFF}}, &flagged);
  EXPECT_TRUE(flagged);
  EXPECT_EQ(c.ErrorQuery(), 16u);
  // An unknown command: flagged with the echoed sequence number, code 13.
  const Packet p = c.Exchange(Words({0x77}));
  EXPECT_TRUE(p.flag);
  EXPECT_EQ(c.ErrorQuery(), 13u);
  // A good command clears it.
  EXPECT_EQ(c.Exchange(Words({0xF0, 0})).payload.at(0), 0);
  EXPECT_EQ(c.ErrorQuery(), 0u);
  EXPECT_EQ(TakeViolations(), 1u);  // the unknown code
}

TEST_F(Firmware, SequenceNumbersWrapAndAreEchoed) {
  StartDemo();
  Conn c = Open("demo-hid-if3");
  for (int i = 0; i < 130; ++i) {
    const Packet p = c.Exchange(Words({0xF0, 0}));  // Exchange checks the echo
    ASSERT_FALSE(p.flag);
  }
}

TEST_F(Firmware, MultiAccessAppliesCurrentAndMaskOrValue) {
  StartDemo();
  Conn c = Open("demo-hid-if3");
  Attach(c);
  c.Write(0xB9, 0x20000100, 0x12345678);
  // Read-modify-write of the two low bits: before and after in the pair.
  auto r = c.Multi(0xB9, {{0x20000100, 3, 0xFFFFFFFC}, {0x20000100, 0, 0xFFFFFFFF}, {0x40000000, 0, 0xFFFFFFFF}});
  ASSERT_EQ(r.size(), 3u);
  EXPECT_EQ(r[0].first, 0x12345678u);
  EXPECT_EQ(r[0].second, 0x1234567Bu);
  EXPECT_EQ(r[1].second, 0x1234567Bu);
  EXPECT_EQ(r[2].second, 0x00D41200u);  // the demo chip's product id
  // Upper halfword write as the host writes a breakpoint instruction.
  r = c.Multi(0xB9, {{0x20000100, 0xBE18u << 16, 0x0000FFFF}});
  EXPECT_EQ(r[0].second, 0xBE18567Bu);
  // Flash ignores plain writes: the read-back shows the old halfword.
  r = c.Multi(0xB9, {{0x00000100, 0xBE18u << 16, 0x0000FFFF}});
  EXPECT_EQ(r[0].first, r[0].second);
  // Core registers: only while halted.
  bool flagged = false;
  c.Multi(0xB8, {{15, 0, 0xFFFFFFFF}}, &flagged);
  EXPECT_TRUE(flagged);
  EXPECT_EQ(c.ErrorQuery(), 6u);
  c.Exchange(Words({0xD2}));
  c.Write(0xB8, 0, 0xCAFE0000);
  EXPECT_EQ(c.Read(0xB8, 0), 0xCAFE0000u);
}

TEST_F(Firmware, EightyFourEntriesFitA1024ByteReport) {
  StartSim(OneAdapter(R"("generation":1,"interfaces":[{"kind":"hid","interface":3,"size":1024}])"));
  Conn c = Open("a-hid-if3", 1, 1024);
  Attach(c);
  Bytes req = Words({0xB9});
  req.insert(req.end(), {84, 0xFF, 0xFF, 0});
  for (uint32_t i = 0; i < 84; ++i) {
    const Bytes e = Words({0x40004010 + 0x40 * (i % 6), 0, 0xFFFFFFFF});
    req.insert(req.end(), e.begin(), e.end());
  }
  const Packet p = c.Exchange(req);
  EXPECT_FALSE(p.flag);
  EXPECT_EQ(p.payload.size(), 84u * 8);
}

TEST_F(Firmware, BlockReadAndWrite) {
  StartDemo();
  Conn c = Open("demo-hid-if3");
  Attach(c);
  const Bytes data = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
  Bytes req = Words({0xBC, 0x20000201, static_cast<uint32_t>(data.size())});
  req.insert(req.end(), data.begin(), data.end());
  EXPECT_EQ(c.Exchange(req).payload.size(), 16u);
  const Packet p = c.Exchange(Words({0xB7, 0x20000201, 11}));
  EXPECT_EQ(p.payload, data);
  // The vector table: initial stack pointer and the Thumb reset handler.
  const Packet v = c.Exchange(Words({0xB7, 0, 48}));
  ASSERT_EQ(v.payload.size(), 48u);
  EXPECT_EQ(WordAt(v.payload, 0), 0x20020000u);
  EXPECT_EQ(WordAt(v.payload, 1) & 1, 1u);
}

TEST_F(Firmware, StreamedReadOfOneChunkOverSixtyFourBytePackets) {
  StartDemo();
  Conn c = Open("demo-hid-if3");
  Attach(c);
  const uint32_t chunk = 20 * 60 - 88;  // 1112
  const uint8_t seq = c.Send(Words({0xB3, 0, chunk}));
  Bytes all;
  std::vector<size_t> sizes;
  while (all.size() < chunk) {
    auto p = c.ReceivePacket();
    ASSERT_TRUE(p);
    EXPECT_EQ(p->seq, seq);
    sizes.push_back(p->payload.size());
    all.insert(all.end(), p->payload.begin(), p->payload.end());
  }
  ASSERT_EQ(sizes.size(), 20u);
  EXPECT_EQ(sizes[0], 48u);
  for (size_t i = 1; i < sizes.size(); ++i) EXPECT_EQ(sizes[i], 56u) << i;
  EXPECT_FALSE(c.Receive(100).has_value());
  // Same bytes as block reads of the region.
  Bytes viaBlocks;
  for (uint32_t off = 0; off < chunk; off += 60) {
    const Packet p = c.Exchange(Words({0xB7, off, std::min<uint32_t>(60, chunk - off)}));
    viaBlocks.insert(viaBlocks.end(), p.payload.begin(), p.payload.end());
  }
  EXPECT_EQ(all, viaBlocks);
}

TEST_F(Firmware, StreamedWriteTakesContinuationsAndAnswersOnce) {
  StartDemo();
  Conn c = Open("demo-hid-if3");
  Attach(c);
  Bytes data(150);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7);
  // First packet: header, 48 data bytes, sequence byte 0.
  Bytes first = Words({0xB4, 0x20001000, static_cast<uint32_t>(data.size())});
  first.insert(first.end(), data.begin(), data.begin() + 48);
  first.push_back(0);
  c.Send(first);
  EXPECT_FALSE(c.Receive(50).has_value());
  size_t off = 48;
  uint8_t n = 1;
  uint8_t lastSeq = 0;
  while (off < data.size()) {
    const size_t k = std::min<size_t>(56, data.size() - off);
    Bytes cont = Words({0xB4});
    cont.insert(cont.end(), data.begin() + static_cast<long>(off), data.begin() + static_cast<long>(off + k));
    cont.push_back(n++);
    lastSeq = c.Send(cont);
    off += k;
  }
  auto reply = c.ReceivePacket();
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->seq, lastSeq);
  EXPECT_FALSE(reply->flag);
  EXPECT_EQ(reply->payload.size(), 16u);
  EXPECT_EQ(c.Exchange(Words({0xB7, 0x20001000, 60})).payload, Bytes(data.begin(), data.begin() + 60));
  EXPECT_EQ(c.Exchange(Words({0xB7, 0x20001000 + 120, 30})).payload, Bytes(data.begin() + 120, data.end()));
}

TEST_F(Firmware, StreamedWriteWithAWrongContinuationNumberFails) {
  StartDemo();
  Conn c = Open("demo-hid-if3");
  Bytes first = Words({0xB4, 0x20001000, 60});
  first.resize(first.size() + 48, 0x11);
  first.push_back(0);
  c.Send(first);
  Bytes cont = Words({0xB4});
  cont.resize(cont.size() + 12, 0x22);
  cont.push_back(2);  // should be 1
  c.Send(cont);
  auto reply = c.ReceivePacket();
  ASSERT_TRUE(reply);
  EXPECT_TRUE(reply->flag);
  EXPECT_EQ(c.ErrorQuery(), 5u);
  EXPECT_EQ(TakeViolations(), 1u);
}

TEST_F(Firmware, DemoGpioLevelsChangeOverTime) {
  StartDemo();
  Conn c = Open("demo-hid-if3");
  Attach(c);
  const uint32_t paPin = 0x40004010;
  const uint32_t first = c.Read(0xB9, paPin) & 0xFF;
  std::this_thread::sleep_for(std::chrono::milliseconds(250));
  const uint32_t later = c.Read(0xB9, paPin) & 0xFF;
  EXPECT_NE(first, later);
  // Halted, the pattern stands still.
  c.Exchange(Words({0xD2}));
  const uint32_t halted = c.Read(0xB9, paPin);
  std::this_thread::sleep_for(std::chrono::milliseconds(150));
  EXPECT_EQ(c.Read(0xB9, paPin), halted);
}

TEST_F(Firmware, ControlChannelDrivesInputPins) {
  StartDemo();
  Conn c = Open("demo-hid-if3");
  Attach(c);
  const uint32_t pbPin = 0x40004050;
  // PA8 is an input with pull-up: high until driven low.
  EXPECT_EQ((c.Read(0xB9, 0x40004010) >> 8) & 1, 1u);
  EXPECT_EQ(Ctl("pin demo PA8 0"), "ok\n");
  EXPECT_EQ((c.Read(0xB9, 0x40004010) >> 8) & 1, 0u);
  // PB9 floats low until driven high.
  EXPECT_EQ((c.Read(0xB9, pbPin) >> 9) & 1, 0u);
  Ctl("pin demo PB9 1");
  EXPECT_EQ((c.Read(0xB9, pbPin) >> 9) & 1, 1u);
  Ctl("pin demo PB9 z");
  EXPECT_EQ((c.Read(0xB9, pbPin) >> 9) & 1, 0u);
  // One word a pin: PC4 (a high output) read and written alone.
  const uint32_t pc4 = 0x40004800 + 4 * (16 * 2 + 4);
  EXPECT_EQ(c.Read(0xB9, pc4), 1u);
  c.Write(0xB9, pc4, 0);
  EXPECT_EQ((c.Read(0xB9, 0x40004090) >> 4) & 1, 0u);
  EXPECT_EQ((c.Read(0xB9, 0x40004090) >> 5) & 1, 1u);
}

TEST_F(Firmware, PeripheralCommandsAnswerWithTheirLayouts) {
  StartDemo();
  Conn c = Open("demo-hid-if3");
  // Configure: echo, clock and voltage halves.
  Packet p = c.Exchange(Words({0xA2, 1000, 0x400, 3300, 1, 0}));
  EXPECT_EQ(p.payload.at(0), 0xA2);
  EXPECT_EQ(WordAt(p.payload, 1), 1000u | (3300u << 16));
  // Bridge input on pin 1 as the control channel sets it.
  EXPECT_EQ(c.Exchange(Words({0x40, 11})).payload.at(0), 0x40);
  Ctl("bridge demo 1 1");
  p = c.Exchange(Words({0x41, 40}));
  ASSERT_EQ(p.payload.size(), 40u);
  EXPECT_EQ(p.payload[0] & 1, 1);
  // SWO: baud rate, then data in ITM packets with status and length.
  EXPECT_EQ(c.Exchange(Bytes{0x44, 0, 0, 0, 1}).payload.at(0), 0x44);
  EXPECT_EQ(WordAt(c.Exchange(Words({0x45, 115200})).payload, 1), 72000000u / 625);
  c.Exchange(Bytes{0x43, 0, 0, 0, 1});
  c.Exchange(Bytes{0x46, 0, 0, 0, 1});
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  p = c.Exchange(Bytes{0x48, 0, 0, 0, 54, 0});
  EXPECT_EQ(p.payload.at(4), 1);  // active
  const size_t n = framing::GetLE16(&p.payload.at(5));
  EXPECT_GT(n, 0u);
  EXPECT_EQ(p.payload.size(), 7 + n);
  EXPECT_EQ(p.payload.at(7), 0x01);  // ITM stimulus port 0, one byte
}

// Transfers of no bytes, from flash and from SRAM, read and write nothing and succeed.
TEST_F(Firmware, EmptyBlockTransfersAnswerWithNoData) {
  StartDemo();
  Conn c = Open("demo-hid-if3");
  for (uint32_t address : {0x00000000u, 0x20000000u}) {
    const Packet read = c.Exchange(Words({0xB7, address, 0}));
    EXPECT_FALSE(read.flag);
    EXPECT_TRUE(read.payload.empty());
    EXPECT_FALSE(c.Exchange(Words({0xBC, address, 0})).flag);
  }
  EXPECT_TRUE(c.Exchange(Words({0xA1, 0, 0})).payload.empty());  // flash read
}

}  // namespace
}  // namespace simtest
