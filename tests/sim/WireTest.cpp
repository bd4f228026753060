// The emulator wire: description files, open byte, busy rule, one message a
// transfer, unplug and plug.
#include <nlohmann/json.hpp>
#include <sstream>

#include "SimClient.h"

namespace simtest {
namespace {

class Wire : public SimFixture {};

TEST_F(Wire, DemoPublishesBothInterfacesWithTheContractKeys) {
  StartDemo();
  for (const auto& [name, kind, iface, size] :
       {std::tuple{"demo-hid-if3", "hid", 3, 64}, std::tuple{"demo-bulk-if0", "bulk", 0, 512}}) {
    ASSERT_TRUE(Published(name)) << name;
    std::ifstream f(m_dir / (std::string(name) + ".json"));
    const auto j = nlohmann::json::parse(f);
    EXPECT_EQ(j["vid"], 0x0416);
    EXPECT_EQ(j["pid"], 0x5200);
    EXPECT_EQ(j["interface"], iface);
    EXPECT_EQ(j["kind"], kind);
    EXPECT_EQ(j["in_size"], size);
    EXPECT_EQ(j["out_size"], size);
    EXPECT_EQ(j["serial"], "A1B2C3D4");
    EXPECT_EQ(j["location"], "1-4.2");
    const std::string path = j["path"];
    char tag[8];
    std::snprintf(tag, sizeof tag, "mi_%02x", iface);
    EXPECT_NE(path.find(tag), std::string::npos) << path;
  }
}

TEST_F(Wire, HidOpensTwiceButBulkIsBusyWhileHeld) {
  StartDemo();
  Conn h1 = Open("demo-hid-if3"), h2 = Open("demo-hid-if3");
  EXPECT_EQ(h1.OpenByte(), 1);
  EXPECT_EQ(h2.OpenByte(), 1);

  auto b1 = std::make_unique<Conn>(Open("demo-bulk-if0", 1, 512));
  EXPECT_EQ(b1->OpenByte(), 1);
  Conn b2 = Open("demo-bulk-if0", 1, 512);
  EXPECT_EQ(b2.OpenByte(), 0);
  auto closed = b2.Receive(1000);  // the busy connection is closed after its byte
  ASSERT_TRUE(closed.has_value());
  EXPECT_TRUE(closed->empty());

  // The holder still answers; once it has gone, the interface opens again.
  EXPECT_EQ(b1->Exchange(Bytes(509, 0xFF)).payload.size(), 24u);
  b1.reset();
  Conn b3 = Open("demo-bulk-if0", 1, 512);
  EXPECT_EQ(b3.OpenByte(), 1);
}

TEST_F(Wire, HoldFaultRefusesASecondOpenUntilReleased) {
  StartDemo();
  EXPECT_EQ(Ctl("hold demo"), "ok\n");
  EXPECT_EQ(Open("demo-bulk-if0", 1, 512).OpenByte(), 0);
  EXPECT_EQ(Open("demo-hid-if3").OpenByte(), 1);  // HID is never exclusive
  EXPECT_EQ(Ctl("release demo"), "ok\n");
  EXPECT_EQ(Open("demo-bulk-if0", 1, 512).OpenByte(), 1);
}

TEST_F(Wire, RepliesTravelAtFullPacketSize) {
  StartDemo();
  Conn c = Open("demo-bulk-if0", 1, 512);
  c.Send(Words({0xF0, 0}));
  auto raw = c.Receive(2000);
  ASSERT_TRUE(raw);
  EXPECT_EQ(raw->size(), 512u);
  EXPECT_EQ((*raw)[1] << 8 | (*raw)[2], 16);  // big-endian length header
}

TEST_F(Wire, UnplugClosesConnectionsAndRemovesFilesPlugRestores) {
  StartDemo();
  Conn c = Open("demo-hid-if3");
  ASSERT_EQ(c.OpenByte(), 1);
  EXPECT_EQ(Ctl("unplug demo"), "ok\n");
  EXPECT_FALSE(Published("demo-hid-if3"));
  EXPECT_FALSE(Published("demo-bulk-if0"));
  auto closed = c.Receive(1000);
  ASSERT_TRUE(closed.has_value());
  EXPECT_TRUE(closed->empty());
  EXPECT_EQ(Ctl("plug demo"), "ok\n");
  EXPECT_TRUE(Published("demo-hid-if3"));
  EXPECT_EQ(Open("demo-hid-if3").Exchange(Words({0xF0, 0})).payload.at(0), 0);
}

TEST_F(Wire, SeveralAdaptersOfEveryGenerationAndKind) {
  std::ifstream f(SIM_SOURCE_DIR "/configs/lab.json");
  std::stringstream ss;
  ss << f.rdbuf();
  StartSim(ss.str());
  struct Iface {
    const char* name;
    int headerMode;
    size_t size;
    uint32_t chipId;
  };
  for (const Iface& i : {Iface{"gen0-hid-if0", 0, 64, 0x40012009}, Iface{"gen0-legacy-bulk-if0", 0, 64, 0x40012009},
                         Iface{"gen1-hid-if3", 1, 1024, 0x00D4851F}, Iface{"gen1-bulk-if0", 1, 512, 0x00D4851F},
                         Iface{"gen2-bulk-if3", 1, 512, 0xA2000340}}) {
    SCOPED_TRACE(i.name);
    Conn c = Open(i.name, i.headerMode, i.size);
    ASSERT_EQ(c.OpenByte(), 1);
    EXPECT_EQ(WordAt(c.Exchange(Bytes(framing::MaxPayload(i.size, i.headerMode), 0xFF)).payload, 1), i.chipId);
  }
  EXPECT_EQ(Open("gen0-legacy-bulk-if0", 0, 64).OpenByte(), 1);  // the holder above has gone
  EXPECT_EQ(Ctl("unplug gen1"), "ok\n");
  EXPECT_FALSE(Published("gen1-hid-if3"));
  EXPECT_TRUE(Published("gen0-hid-if0"));
  EXPECT_TRUE(Published("gen2-bulk-if3"));
}

TEST_F(Wire, ServerShutdownRemovesEveryFile) {
  StartDemo();
  m_server.reset();
  EXPECT_TRUE(std::filesystem::is_empty(m_dir));
}

TEST_F(Wire, ControlChannelRejectsUnknownCommandsAndAdapters) {
  StartDemo();
  EXPECT_EQ(sim::LastLine(Ctl("list")), "ok");
  EXPECT_EQ(Ctl("frobnicate demo").rfind("error", 0), 0u);
  EXPECT_EQ(Ctl("unplug nobody").rfind("error", 0), 0u);
  EXPECT_EQ(Ctl("pin demo PZ9 1").rfind("error", 0), 0u);
}

}  // namespace
}  // namespace simtest
