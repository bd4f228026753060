// Wire vectors: whole packets written out byte by byte from the adapter's
// wire format (sequence byte, length header, command record, padding to the
// packet size; boot-loader requests and replies with their checksums), not
// produced by the framing code. Every case is checked twice:
//  - the host: its command layer, run against a device that answers only
//    these literal replies, must send exactly these literal requests and read
//    the replies into the right results;
//  - volink-sim: fed the literal requests, it must answer with exactly the
//    literal replies and count no protocol violation.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <numeric>
#include <sstream>

#include "FakeSimDevice.h"
#include "SimFixture.h"
#include "TempRuntimeDir.h"
#include "ice/CICE_M4.h"
#include "sim/ControlClient.h"
#include "sim/Server.h"
#include "usb/CHidLDCmd.h"
#include "usb/DeviceAccess.h"

namespace fs = std::filesystem;

namespace {

// "01 00 3D FF*61 00..2F": hex bytes, XX*N repeats XX N times, AA..BB counts
// from AA up to BB; the packet is padded with zeros to `size`.
Bytes Packet(const std::string& text, size_t size) {
  Bytes out;
  std::istringstream in(text);
  for (std::string tok; in >> tok;) {
    if (const size_t star = tok.find('*'); star != std::string::npos) {
      out.insert(out.end(), std::stoul(tok.substr(star + 1)), static_cast<uint8_t>(std::stoul(tok.substr(0, star), nullptr, 16)));
    } else if (const size_t dots = tok.find(".."); dots != std::string::npos) {
      for (unsigned v = std::stoul(tok.substr(0, dots), nullptr, 16), end = std::stoul(tok.substr(dots + 2), nullptr, 16); v <= end; ++v)
        out.push_back(static_cast<uint8_t>(v));
    } else {
      out.push_back(static_cast<uint8_t>(std::stoul(tok, nullptr, 16)));
    }
  }
  EXPECT_LE(out.size(), size) << text;
  out.resize(size, 0);
  return out;
}

struct Step {
  std::string request;
  std::vector<std::string> replies;
};

// Version reply of the adapters below: firmware 7973 (0x1F25), chip id,
// flags (design id 1 | Pro), supplies 3300 | 5000 << 16 mV, adapter ID
// 0x7788A1B2, suffix "r".
const std::string kVersion1 = "25 1F 00 00 1F 85 D4 00 01 00 00 00 E4 0C 88 13 B2 A1 88 77 72 00 00 00";
const std::string kVersion0 = "25 1F 00 00 09 20 01 40 00 00 00 00 E4 0C 88 13 B2 A1 88 77 72 00 00 00";

struct WireCase {
  const char* name;
  int generation;
  const char* kind;
  size_t size;
  uint16_t pid;
  std::vector<Step> steps;
  std::function<void(CICE&)> host;  // the host operations that make these exchanges
};

void PrintTo(const WireCase& c, std::ostream* os) { *os << c.name; }

Bytes Counting(size_t n) {
  Bytes b(n);
  std::iota(b.begin(), b.end(), uint8_t{0});
  return b;
}

void Handshake(CICE& ice) {
  uint32_t chip = 0;
  EXPECT_EQ(ice.ResetCmdSerial(0xFFFFFFFF, &chip), 7973u);
  EXPECT_NE(chip, 0u);
}

const std::vector<WireCase>& Cases() {
  static const std::vector<WireCase> cases = {
      // Mode 1 over 64-byte HID: payload 61, word payload 60, block data 48.
      {"Mode1Hid64", 1, "hid", 64, 0x5200,
       {{"01 00 3D FF*61", {"01 00 18 " + kVersion1}},
        {"02 00 3D FF*61", {"02 00 18 " + kVersion1}},
        {"03 00 08 F0 00 00 00 00 00 00 00", {"03 00 10 00*16"}},
        // streamed write of 58 bytes: 48 in the first packet (sequence byte 0), 10 in the next (1)
        {"04 00 3D B4 00 00 00 00 40 00 20 3A 00 00 00 00..2F 00", {}},
        {"05 00 0F B4 00 00 00 30..39 01", {"05 00 10 B4 00*15"}},
        // streamed read of the same 58 bytes: 48 in the first reply packet, 10 in the next
        {"06 00 0C B3 00 00 00 00 40 00 20 3A 00 00 00", {"06 00 30 00..2F", "06 00 0A 30..39"}}},
       [](CICE& ice) {
         Handshake(ice);
         EXPECT_TRUE(ice.CheckLink());
         const Bytes data = Counting(58);
         ice.WriteMem(0x20004000, data.data(), 58, false);
         Bytes back(60, 0xEE);
         ice.ReadMem(0x20004000, back.data(), 58, false, true);
         back.resize(58);
         EXPECT_EQ(back, data);
       }},
      // Mode 0 over 64-byte HID (first generation): one length byte, payload 62.
      {"Mode0Hid64", 0, "hid", 64, 0x511B,
       {{"01 3E FF*62", {"01 18 " + kVersion0}},
        {"02 3E FF*62", {"02 18 " + kVersion0}},
        // adapter register 0x24 read by multi-access: one entry, value 0, mask all ones
        {"03 14 FE 00 00 00 01 FF 00 00 24 00 00 00 00 00 00 00 FF FF FF FF", {"03 08 25 1F 00 00 25 1F 00 00"}},
        {"04 08 F0 00 00 00 00 00 00 00", {"04 10 00*16"}}},
       [](CICE& ice) {
         Handshake(ice);
         EXPECT_EQ(ice.ReadICEReg(0x24), 7973u);
         EXPECT_TRUE(ice.CheckLink());
       }},
      // Mode 1 over 512-byte bulk: payload 509 (0x1FD).
      {"Mode1Bulk512", 1, "bulk", 512, 0x5200,
       {{"01 01 FD FF*509", {"01 00 18 " + kVersion1}},
        {"02 01 FD FF*509", {"02 00 18 " + kVersion1}},
        {"03 00 08 F0 00 00 00 00 00 00 00", {"03 00 10 00*16"}}},
       [](CICE& ice) {
         Handshake(ice);
         EXPECT_TRUE(ice.CheckLink());
       }},
      // Mode 1 over 1024-byte HID: payload 1021 (0x3FD).
      {"Mode1Hid1024", 1, "hid", 1024, 0x5200,
       {{"01 03 FD FF*1021", {"01 00 18 " + kVersion1}},
        {"02 03 FD FF*1021", {"02 00 18 " + kVersion1}},
        {"03 00 14 FE 00 00 00 01 FF 00 00 24 00 00 00 00 00 00 00 FF FF FF FF", {"03 00 08 25 1F 00 00 25 1F 00 00"}}},
       [](CICE& ice) {
         Handshake(ice);
         EXPECT_EQ(ice.ReadICEReg(0x24), 7973u);
       }},
  };
  return cases;
}

// Boot loader, 64-byte reports, packet numbers from 18: synchronise (not
// numbered), chip id, version byte. Replies: checksum of the request report,
// its number + 1, data.
const std::vector<Step> kLoaderSteps = {
    {"A4 00 00 00 12 00 00 00 12 00 00 00", {"C8 00 13 00 00 00"}},
    {"B1 00 00 00 14 00 00 00", {"C5 00 15 00 00 00 1F 85 D4 00"}},
    {"A6 00 00 00 16 00 00 00", {"BC 00 17 00 00 00 30"}},
};

std::string AdapterJson(int generation, const std::string& kind, size_t size, uint16_t pid) {
  char buf[512];
  std::snprintf(buf, sizeof buf,
                R"({"adapters": [{"name": "a", "generation": %d, "pid": "0x%04X", "firmware_version": 7973,)"
                R"( "revision": "r", "design_id": %d, "pro": %s, "adapter_id": "0x7788A1B2",)"
                R"( "interfaces": [{"kind": "%s", "interface": 3, "size": %zu}], "target": {"kind": "cortex-m"}}]})",
                generation, pid, generation == 0 ? 0 : 1, generation == 0 ? "false" : "true", kind.c_str(), size);
  return buf;
}

// A device that answers the steps' literal replies to whatever arrives, in
// order, and records what arrived.
class LiteralDevice {
 public:
  LiteralDevice(const std::string& dir, const std::string& kind, size_t size, uint16_t pid, int iface,
                std::vector<Step> steps)
      : m_steps(std::move(steps)), m_size(size) {
    const std::string path = "sim-vectors/a/usb#vid_0416&pid_" + Hex4(pid) + "&mi_0" + std::to_string(iface);
    m_device = std::make_unique<FakeSimDevice>(
        dir, "vec", ::SimConfig(kind, 0x0416, pid, iface, path, "1-4.2", "A1B2", static_cast<int>(size)),
        [this](const Bytes&) {
          std::lock_guard<std::mutex> lock(m_lock);
          std::vector<Bytes> out;
          if (m_next < m_steps.size())
            for (const auto& r : m_steps[m_next].replies) out.push_back(Packet(r, m_size));
          ++m_next;
          return out;
        });
  }
  std::vector<Bytes> Received() { return m_device->Received(); }

 private:
  static std::string Hex4(uint16_t v) {
    char b[8];
    std::snprintf(b, sizeof b, "%04x", v);
    return b;
  }
  std::vector<Step> m_steps;
  size_t m_size;
  std::mutex m_lock;
  size_t m_next = 0;
  std::unique_ptr<FakeSimDevice> m_device;
};

// Private device folder and named objects for the host side.
class HostWire : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/gadrel-vectors-XXXXXX";
    m_dir = ::mkdtemp(tmpl);
    ::setenv("VOLINK_SIM_DIR", m_dir.c_str(), 1);
    ::setenv("GADREL_USB_REAL", "0", 1);
    usbdev::SetBackendsForTesting({});
  }
  void TearDown() override {
    ::unsetenv("VOLINK_SIM_DIR");
    std::error_code ec;
    fs::remove_all(m_dir, ec);
  }
  void ExpectSent(LiteralDevice& dev, const std::vector<Step>& steps, size_t size) {
    const std::vector<Bytes> got = dev.Received();
    ASSERT_EQ(got.size(), steps.size());
    for (size_t i = 0; i < steps.size(); ++i) EXPECT_EQ(got[i], Packet(steps[i].request, size)) << "request " << i + 1;
  }
  TempRuntimeDir m_rt;
  std::string m_dir;
};

// A raw peer of volink-sim: literal requests in, literal replies expected.
class EmulatorWire : public ::testing::Test {
 protected:
  void Start(const std::string& json) {
    char tmpl[] = "/tmp/volink-sim-vectors-XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    m_dir = tmpl;
    m_server = std::make_unique<sim::Server>(sim::ParseConfig(json), m_dir);
    m_server->Start();
  }
  void TearDown() override {
    m_server.reset();
    if (!m_dir.empty()) fs::remove_all(m_dir);
  }
  std::string Ctl(const std::string& line) { return sim::SendControl(m_dir / sim::kControlSocketName, line); }

  // Sends every request and compares every reply; then no violation may be counted.
  void Play(const std::string& socket, const std::vector<Step>& steps, size_t size) {
    const int fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, (m_dir / socket).c_str(), sizeof addr.sun_path - 1);
    ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0) << socket;
    auto receive = [&]() -> Bytes {
      pollfd p{fd, POLLIN, 0};
      if (::poll(&p, 1, 2000) <= 0) return {};
      Bytes b(4096);
      const ssize_t n = ::recv(fd, b.data(), b.size(), 0);
      b.resize(n > 0 ? static_cast<size_t>(n) : 0);
      return b;
    };
    EXPECT_EQ(receive(), Bytes{1});  // opened
    for (size_t i = 0; i < steps.size(); ++i) {
      const Bytes req = Packet(steps[i].request, size);
      ASSERT_EQ(::send(fd, req.data(), req.size(), MSG_NOSIGNAL), static_cast<ssize_t>(req.size()));
      for (const auto& r : steps[i].replies) EXPECT_EQ(receive(), Packet(r, size)) << "reply to request " << i + 1;
    }
    ::close(fd);
    EXPECT_EQ(sim::LastLine(Ctl("violations")), "ok violations 0") << Ctl("violations");
  }

  fs::path m_dir;
  std::unique_ptr<sim::Server> m_server;
};

class HostVectors : public HostWire, public ::testing::WithParamInterface<WireCase> {};
class EmulatorVectors : public EmulatorWire, public ::testing::WithParamInterface<WireCase> {};

}  // namespace

TEST_P(HostVectors, HostSendsAndReadsTheLiteralPackets) {
  const WireCase& c = GetParam();
  LiteralDevice dev(m_dir, c.kind, c.size, c.pid, 3, c.steps);
  CICE_M4 ice;
  ice.DiscoverAdapters(false);
  ASSERT_TRUE(ice.CheckUSBLink());
  ice.SelectAdapter(0);
  try {
    c.host(ice);
  } catch (const CICEException& e) {
    ADD_FAILURE() << "host failed: " << e.what();
  }
  ExpectSent(dev, c.steps, c.size);
}

TEST_P(EmulatorVectors, EmulatorAnswersTheLiteralPackets) {
  const WireCase& c = GetParam();
  Start(AdapterJson(c.generation, c.kind, c.size, c.pid));
  Play(std::string("a-") + c.kind + "-if3.sock", c.steps, c.size);
}

INSTANTIATE_TEST_SUITE_P(Wire, HostVectors, ::testing::ValuesIn(Cases()),
                         [](const auto& info) { return std::string(info.param.name); });
INSTANTIATE_TEST_SUITE_P(Wire, EmulatorVectors, ::testing::ValuesIn(Cases()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(HostWire, BootLoaderChannelSendsAndReadsTheLiteralReports) {
  LiteralDevice dev(m_dir, "hid", 64, 0x5211, 0, kLoaderSteps);
  CHidLDCmd ld;
  ASSERT_TRUE(ld.Open(0x0416, 0x5211));
  const uint32_t first = ld.GetPacketNumber();
  ASSERT_TRUE(ld.SendCommand(0xA4, &first, 4, 1000));
  size_t n = 0;
  EXPECT_TRUE(ld.ReceiveReply(nullptr, 0, &n, 1000, false));
  uint8_t buf[8] = {};
  ASSERT_TRUE(ld.SendCommand(0xB1, nullptr, 0, 1000));
  ASSERT_TRUE(ld.ReceiveReply(buf, 4, &n, 1000, true));
  EXPECT_EQ(n, 4u);
  EXPECT_EQ(buf[0] | buf[1] << 8 | buf[2] << 16 | buf[3] << 24, 0x00D4851F);
  ASSERT_TRUE(ld.SendCommand(0xA6, nullptr, 0, 1000));
  ASSERT_TRUE(ld.ReceiveReply(buf, 1, &n, 1000, true));
  EXPECT_EQ(buf[0], 0x30);
  ExpectSent(dev, kLoaderSteps, 64);
}

TEST_F(EmulatorWire, BootLoaderAnswersTheLiteralReports) {
  Start(AdapterJson(1, "hid", 64, 0x5200));
  ASSERT_EQ(sim::LastLine(Ctl("loader a")).rfind("ok", 0), 0u);
  Play("a-loader.sock", kLoaderSteps, 64);
}

// The test bed's own test: a host whose length field is one too long (each
// record goes out with one byte more) still gets its answers from the
// lenient emulator, and only the violation count shows the mistake.
namespace {
class LengthOffByOne : public CICE_M4 {
 public:
  void SendRequest(const void* data, unsigned length, unsigned* sent, int timeoutMs) override {
    const auto* p = static_cast<const uint8_t*>(data);
    Bytes longer(p, p + length);
    longer.push_back(0);
    CICE_M4::SendRequest(longer.data(), length + 1, sent, timeoutMs);
  }
};
}  // namespace

TEST(StrictEmulator, CatchesAHostWhoseLengthFieldIsOffByOne) {
  SimProcess sim(OneAdapterConfig("hid", 64), 1);
  {
    LengthOffByOne ice;
    ice.DiscoverAdapters(false);
    ice.SelectAdapter(0);
    EXPECT_TRUE(ice.CheckLink());
  }
  EXPECT_GE(sim.Violations(), 1);
  sim.ClearViolations();
}
