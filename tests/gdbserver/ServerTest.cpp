// The GDB server over the emulator's core model (no QEMU needed): what a
// session answers, and hostile clients as one table. Each case ends with a
// fresh client that must be served.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <random>
#include <thread>

#include "../ice/SimFixture.h"
#include "GdbClient.h"
#include "gdbserver/GdbServer.h"
#include "gdbserver/GdbSession.h"
#include "ice/CICE_M4.h"
#include "ice/CICE_Ostra1T.h"

using namespace gdb;

namespace {

constexpr uint32_t kRam = 0x20000400;

long ResidentKiB() {
  std::ifstream in("/proc/self/status");
  for (std::string line; std::getline(in, line);)
    if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
  return -1;
}

class GdbServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_sim = std::make_unique<SimProcess>();
    OpenAdapter(m_ice);
    m_server = std::make_unique<GdbServer>(m_ice);
    std::string error;
    ASSERT_TRUE(m_server->Listen("127.0.0.1", 0, error)) << error;
    m_thread = std::thread([this] { m_server->Run(); });
  }
  void TearDown() override {
    if (m_server) m_server->Stop();
    if (m_thread.joinable()) m_thread.join();
    m_server.reset();
  }
  uint16_t Port() const { return m_server->Port(); }
  // A fresh client is served: it gets the feature list and reads memory.
  void ExpectServed(const std::string& after) {
    GdbClient c(Port());
    ASSERT_TRUE(c.Connected()) << after;
    EXPECT_NE(c.Ask("qSupported:multiprocess+").find("PacketSize=8000"), std::string::npos) << after;
    EXPECT_EQ(c.Ask("m20000000,4").size(), 8u) << after;
  }

  std::unique_ptr<SimProcess> m_sim;
  CICE_M4 m_ice;
  std::unique_ptr<GdbServer> m_server;
  std::thread m_thread;
};

TEST_F(GdbServerTest, SessionReadsRegistersMemoryAndHidesBreakpoints) {
  GdbClient c(Port());
  ASSERT_TRUE(c.Connected());
  const std::string xml = c.Ask("qXfer:features:read:target.xml:0,3fff");
  ASSERT_EQ(xml[0], 'l');
  EXPECT_NE(xml.find("org.gnu.gdb.arm.m-profile"), std::string::npos);
  EXPECT_NE(xml.find("org.gnu.gdb.arm.vfp"), std::string::npos);  // the demo's M4 has an FPU
  EXPECT_EQ(c.Ask("qXfer:features:read:other.xml:0,100"), "E00");
  EXPECT_EQ(c.Ask("?").substr(0, 1), "T");  // halted for the debugger
  // r0-xpsr, msp, psp, four special registers, d0-d15, fpscr
  EXPECT_EQ(c.Ask("g").size(), 2u * (23 * 4 + 16 * 8 + 4));
  EXPECT_EQ(c.Ask("P0=78563412"), "OK");
  EXPECT_EQ(c.Ask("p0"), "78563412");
  EXPECT_EQ(m_ice.ReadReg(0), 0x12345678u);
  EXPECT_EQ(c.Ask("p99"), "E01");

  // Memory written with X (binary, escaped) reads back with m; a software
  // breakpoint there stays invisible to m but is in the core's memory.
  const std::vector<uint8_t> code = {0x2a, 0x20, 0x01, 0x21, 0x23, 0x7d, 0x24, 0xe7};
  EXPECT_EQ(c.Ask("X20000400,8:" + EscapeBinary(code)), "OK");
  EXPECT_EQ(c.Ask("m20000400,8"), HexEncode(code));
  EXPECT_EQ(c.Ask("Z0,20000402,2"), "OK");
  EXPECT_EQ(c.Ask("m20000400,8"), HexEncode(code));
  EXPECT_EQ(m_ice.ReadMem32(kRam, false) >> 16, 0xBE18u);
  EXPECT_EQ(c.Ask("z0,20000402,2"), "OK");
  EXPECT_EQ(m_ice.ReadMem32(kRam, false) >> 16, 0x2101u);

  // A 16-byte read in one m packet agrees with the layer's own read.
  uint8_t direct[16];
  m_ice.ReadMem(kRam, direct, sizeof direct, true, true);
  EXPECT_EQ(c.Ask("m20000400,10"), HexEncode(direct));
  EXPECT_EQ(c.Ask("m20000400,4001"), "E01");  // beyond what one reply can carry

  // The client vanishes with a breakpoint and a watchpoint set: both go.
  EXPECT_EQ(c.Ask("Z0,20000402,2"), "OK");
  EXPECT_EQ(c.Ask("Z2,20000500,4"), "OK");
  c.Close();
  for (int i = 0; i < 200 && !m_server->Client().empty(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_EQ(m_ice.ReadMem32(kRam, false) >> 16, 0x2101u);
  EXPECT_EQ(m_ice.ReadMem32(0xE0001028, false) & 0xF, 0u);  // watch comparator 0 free
}

TEST_F(GdbServerTest, TakesTurnsWithAnotherUserOfTheAdapterObject) {
  // A pin view reads words on its own thread while gdb reads a large block,
  // steps and sets breakpoints: the view gets turns inside each of gdb's
  // requests, and both see what they should.
  GdbClient c(Port());
  ASSERT_EQ(c.Ask("?").substr(0, 1), "T");
  m_ice.WriteMem32(kRam, 0x11223344);
  std::atomic<bool> inFlight{false}, done{false};
  std::atomic<int> viewTurnsInside{0}, viewReads{0};
  std::thread view([&] {
    const uint32_t addresses[4] = {0x20000000, 0x20000004, 0x20000008, 0x2000000C};
    uint32_t values[4];
    while (!done) {
      m_ice.ReadMemMulti(4, addresses, values);
      ++viewReads;
      EXPECT_EQ(m_ice.ReadMem32(kRam), 0x11223344u);  // a breakpoint there stays hidden
      if (inFlight) ++viewTurnsInside;
    }
  });
  for (int round = 0; round < 3; ++round) {
    inFlight = true;
    EXPECT_EQ(c.Ask("m20000000,4000").size(), 2u * 0x4000);
    inFlight = false;
    EXPECT_EQ(c.Ask("Z0,20000402,2"), "OK");
    EXPECT_EQ(c.Ask("m20000400,4"), "44332211");  // the breakpoint stays hidden
    EXPECT_EQ(c.Ask("z0,20000402,2"), "OK");
    EXPECT_EQ(c.Ask("s").substr(0, 1), "T");
  }
  done = true;
  view.join();
  // A 16 KiB read is a dozen and more adapter turns: the view had some of them.
  EXPECT_GE(viewTurnsInside.load(), 3) << viewReads.load() << " view reads in all";
}

TEST_F(GdbServerTest, HostileClientsLeaveTheServerServing) {
  const int randomSeconds = std::getenv("GDB_HOSTILE_SECONDS") ? std::atoi(std::getenv("GDB_HOSTILE_SECONDS")) : 2;
  struct Case {
    const char* name;
    std::function<void()> run;
  };
  const std::vector<Case> cases = {
      {"bad checksum",
       [&] {
         GdbClient c(Port());
         c.SendRaw("$g#00");
         EXPECT_EQ(c.ReadUntil("-"), "-");
       }},
      {"packet longer than advertised",
       [&] {
         GdbClient c(Port());
         const std::string body = "m" + std::string(GdbSession::kPacketSize, '0');
         c.SendRaw(Frame(body));
         EXPECT_EQ(c.ReadUntil(Frame("E01")), "+" + Frame("E01"));
       }},
      {"unknown packets",
       [&] {
         GdbClient c(Port());
         EXPECT_EQ(c.Ask("vFlashErase:0,100"), "");
         EXPECT_EQ(c.Ask("qTStatus"), "");
         EXPECT_EQ(c.Ask("y"), "");
       }},
      {"second connection",
       [&] {
         GdbClient first(Port());
         EXPECT_NE(first.Ask("qSupported").find("PacketSize"), std::string::npos);
         GdbClient second(Port());
         EXPECT_EQ(second.ReadUntil("\n", 3000), Frame(GdbServer::kBusyReply));
         EXPECT_TRUE(second.Eof());
         EXPECT_EQ(first.Ask("m20000000,4").size(), 8u);  // the first is still served
       }},
      {"client closing mid-packet",
       [&] {
         GdbClient c(Port());
         c.SendRaw("$m20000000,");
       }},
      {"random bytes",
       [&] {
         std::mt19937 random(22);
         auto c = std::make_unique<GdbClient>(Port());
         const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(randomSeconds);
         long before = -1;
         const auto warm = std::chrono::steady_clock::now() + std::chrono::milliseconds(300);
         std::string bytes(4096, '\0');
         while (std::chrono::steady_clock::now() < end) {
           if (before < 0 && std::chrono::steady_clock::now() > warm) before = ResidentKiB();
           for (char& b : bytes) b = static_cast<char>(random());
           if (!c->SendRaw(bytes)) c = std::make_unique<GdbClient>(Port());  // a random 'D' or 'k' ended it
           char sink[65536];
           while (::recv(c->Fd(), sink, sizeof sink, MSG_DONTWAIT) > 0) {
           }
         }
         c.reset();
         const long after = ResidentKiB();
#if defined(__SANITIZE_ADDRESS__)
         // The address sanitizer keeps freed blocks resident in its
         // quarantine, so the resident set says nothing here; its leak check
         // at exit does the job instead.
         (void)after;
#else
         EXPECT_LT(after - before, 2048) << "resident set grew from " << before << " KiB to " << after << " KiB";
#endif
       }},
  };
  for (const Case& c : cases) {
    c.run();
    ExpectServed(c.name);
  }
}

TEST(GdbServerRefusal, An8051AdapterObjectIsRefused) {
  CICE_Ostra1T ice;
  try {
    GdbServer server(ice);
    FAIL() << "an 8051 adapter object was served";
  } catch (const std::invalid_argument& e) {
    EXPECT_NE(std::string(e.what()).find("gdb has no 8051 target"), std::string::npos);
  }
}

}  // namespace
