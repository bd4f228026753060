// The command layer and volink against an adapter emulated by a program
// other than volink-sim: a small responder written here from the emulator
// wire alone (a SOCK_SEQPACKET socket and its JSON description).
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <thread>

#include "ice/AdapterParts.h"
#include "ice/CICE_M4.h"
#include "ice/ICEProtocol.h"
#include "volink/Volink.h"

namespace fs = std::filesystem;
using namespace ice;

namespace {

// One entry of the adapter-memory command as the adapter received it.
struct MemEntry {
  uint32_t address, value, mask;
  bool operator==(const MemEntry&) const = default;
};
std::ostream& operator<<(std::ostream& os, const MemEntry& e) {
  return os << std::hex << "{0x" << e.address << ", 0x" << e.value << ", 0x" << e.mask << "}";
}

// The flash controller of the adapter's microcontroller as the text of its
// families describes it: registers unlocked by 0x59, 0x16, 0x88 (reading 1
// after), a control register, an address, data and command register and a
// trigger; a read command (0x00) fetches the flash word into the data
// register. The boot-loader area is not mapped into plain memory.
struct ForeignFlash {
  uint32_t ctrl, busy, unlock;
  std::map<uint32_t, uint32_t> flash;  // reachable through the controller only
  std::map<uint32_t, uint32_t> regs;
  int keys = 0;

  uint32_t Read(uint32_t a) {
    if (a == unlock) return keys == 3 ? 1 : 0;
    if (a == busy) return 0;
    return regs.count(a) ? regs[a] : (a >= 0x00100000 && a < 0x10000000 ? 0xFFFFFFFFu : 0u);
  }
  void Write(uint32_t a, uint32_t v) {
    static constexpr uint32_t kKeys[3] = {0x59, 0x16, 0x88};
    if (a == unlock) {
      keys = keys < 3 && v == kKeys[keys] ? keys + 1 : (v == kKeys[0] ? 1 : 0);
      return;
    }
    if (a >= 0x00100000 && a < 0x10000000) return;  // flash changes only through the controller
    regs[a] = v;
    if (a == ctrl + 0x10 && (v & 1) && regs[ctrl + 0xC] == 0x00 && (regs[ctrl] & 1)) {
      const uint32_t at = regs[ctrl + 4];
      regs[ctrl + 8] = flash.count(at) ? flash[at] : 0xFFFFFFFFu;
    }
  }
};

class ForeignAdapter {
 public:
  // `chipId`: the adapter's MCU (the family of its flash controller).
  explicit ForeignAdapter(uint32_t chipId = 0x00D4851F) : m_chipId(chipId) {
    if (ClassNumber(McuClassOf(chipId)) <= 1) m_flash = {0x5000C000, 0x5000C010, 0x50000100, {{0x00100010, kFlashId}}, {}, 0};
    else if (McuClassOf(chipId) == McuClass::Second) m_flash = {0x4000C000, 0x4000C0C0, 0x40000100, {{0x0010001C, kFlashId}}, {}, 0};
    else m_flash = {0x40044000, 0x40044040, 0x40000100, {{0x0F100020, kFlashId}}, {}, 0};
    std::string tmpl = (fs::temp_directory_path() / "ice-foreign-XXXXXX").string();
    if (!::mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp");
    m_dir = tmpl;
    ::setenv("VOLINK_SIM_DIR", m_dir.c_str(), 1);
    ::setenv("GADREL_USB_REAL", "0", 1);
    m_listen = ::socket(AF_UNIX, SOCK_SEQPACKET, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    const std::string path = m_dir + "/probe.sock";
    std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
    if (::bind(m_listen, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(m_listen, 8) != 0)
      throw std::runtime_error("cannot listen");
    std::ofstream(m_dir + "/probe.json")
        << R"({"vid": 1046, "pid": 20992, "interface": 3, "kind": "hid", "in_size": 64,)"
        << R"( "out_size": 64, "serial": "F00D", "location": "2-1", "path": "foreign-probe-mi_03",)"
        << R"( "maker": "someone else"})";
    m_regs[13] = 0x20001000;
    m_regs[15] = 0x100;
    m_thread = std::thread([this] { Serve(); });
  }
  ~ForeignAdapter() {
    m_stop = true;
    m_thread.join();
    for (int fd : m_conns) ::close(fd);
    ::close(m_listen);
    std::error_code ec;
    fs::remove_all(m_dir, ec);
  }

 private:
  void Serve() {
    while (!m_stop) {
      std::vector<pollfd> fds{{m_listen, POLLIN, 0}};
      for (int fd : m_conns) fds.push_back({fd, POLLIN, 0});
      if (::poll(fds.data(), fds.size(), 20) <= 0) continue;
      if (fds[0].revents & POLLIN) {
        const int c = ::accept(m_listen, nullptr, nullptr);
        const uint8_t opened = 1;
        ::send(c, &opened, 1, MSG_NOSIGNAL);
        m_conns.push_back(c);
      }
      for (size_t i = 1; i < fds.size(); ++i) {
        if (!(fds[i].revents & (POLLIN | POLLHUP))) continue;
        uint8_t packet[64];
        const ssize_t n = ::recv(fds[i].fd, packet, sizeof packet, 0);
        if (n <= 0) {
          ::close(fds[i].fd);
          m_conns.erase(std::find(m_conns.begin(), m_conns.end(), fds[i].fd));
          continue;
        }
        if (n < 7) continue;
        const size_t len = std::min<size_t>(static_cast<size_t>(packet[1] << 8 | packet[2]), n - 3);
        bool flag = false;
        const std::vector<uint8_t> reply = Answer(packet + 3, len, flag);
        uint8_t out[64] = {};
        out[0] = static_cast<uint8_t>(packet[0] | (flag ? 0x80 : 0));
        out[1] = 0;
        out[2] = static_cast<uint8_t>(reply.size());
        std::memcpy(out + 3, reply.data(), std::min<size_t>(reply.size(), 61));
        ::send(fds[i].fd, out, sizeof out, MSG_NOSIGNAL);
      }
    }
  }

  uint32_t Word(uint32_t a) { return m_mem.count(a) ? m_mem[a] : 0; }

  std::vector<uint8_t> Answer(const uint8_t* req, size_t len, bool& flag) {
    const uint32_t code = GetLE32(req);
    auto arg = [&](int i) { return 4 + 4 * i + 4 <= static_cast<int>(len) ? GetLE32(req + 4 + 4 * i) : 0u; };
    std::vector<uint8_t> r(16, 0);
    auto put = [&](size_t off, uint32_t v) {
      if (r.size() < off + 4) r.resize(off + 4);
      PutLE32(r.data() + off, v);
    };
    r[0] = static_cast<uint8_t>(code);
    switch (code) {
      case 0xFFFFFFFF:
        r.assign(24, 0);
        put(0, 6700);
        put(4, m_chipId);
        put(8, 1);
        put(16, 0xCAFE0001);
        r[20] = 'x';
        return r;
      case 0xFC: r.assign(4, 0); put(0, m_lastError); return r;
      case 0x48:  // trace data whose length field claims more than the packet holds
        r.assign(61, 0x54);
        r[0] = 0x48;
        r[4] = 1;
        r[5] = 0xF4;
        r[6] = 0x01;
        return r;
      case 0xA2: case 0xE2: case 0xBC:
        if (code == 0xBC)
          for (uint32_t i = 0; i < arg(1); i += 4) m_mem[arg(0) + i] = GetLE32(req + 12 + i);
        return r;
      case 0xD1: m_regs[15] += 2; put(4, m_regs[15]); return r;
      case 0xD2: m_running = false; put(4, m_regs[15]); return r;
      case 0xD3: m_running = true; put(4, m_regs[15]); return r;
      case 0xD8:
        put(4, m_regs[15]);
        put(8, m_running ? 1 : 0);
        if (m_stateWithoutEcho >= 0) {  // a reply without the echo byte
          r[0] = 0;
          put(8, static_cast<uint32_t>(m_stateWithoutEcho.load()));
        }
        return r;
      case 0xB7: {
        r.clear();
        for (uint32_t i = 0; i < arg(1); i += 4) put(i, Word(arg(0) + i));
        r.resize(arg(1));
        return r;
      }
      case 0xB0: {
        r.clear();
        for (uint32_t i = 0; i < arg(1); ++i) put(4 * i, m_regs[arg(0) + i]);
        return r;
      }
      case 0xB8: case 0xB9: case 0xFB: {
        r.clear();
        for (unsigned i = 0; i < req[4]; ++i) {
          const uint8_t* e = req + 8 + 12 * i;
          if (code == 0xFB) {
            const MemEntry entry{GetLE32(e), GetLE32(e + 4), GetLE32(e + 8)};
            m_memLog.push_back(entry);
            const uint32_t before = m_flash.Read(entry.address);
            if (!(entry.value == 0 && entry.mask == 0xFFFFFFFFu))
              m_flash.Write(entry.address, (before & entry.mask) | entry.value);
            put(8 * i, before);
            put(8 * i + 4, m_flash.Read(entry.address));
            continue;
          }
          uint32_t& cell = code == 0xB8 ? m_regs[GetLE32(e) & 31] : m_mem[GetLE32(e)];
          const uint32_t before = cell;
          cell = (cell & GetLE32(e + 8)) | GetLE32(e + 4);
          put(8 * i, before);
          put(8 * i + 4, cell);
        }
        return r;
      }
      default:
        flag = true;
        m_lastError = 13;
        return {0, 0, 0, 0};
    }
  }


 public:
  static constexpr uint32_t kFlashId = 0xCAFE0002;
  std::atomic<int> m_stateWithoutEcho{-1};
  // Every adapter-memory entry received (read once the exchange is over).
  std::vector<MemEntry> m_memLog;

 private:
  std::string m_dir;
  int m_listen = -1;
  std::vector<int> m_conns;
  std::atomic<bool> m_stop{false};
  std::thread m_thread;
  std::map<uint32_t, uint32_t> m_mem;
  uint32_t m_chipId;
  ForeignFlash m_flash;
  uint32_t m_regs[32] = {};
  bool m_running = true;
  uint32_t m_lastError = 0;
};

std::pair<int, std::string> Volink(std::vector<std::string> args) {
  std::ostringstream out, err;
  const int status = RunVolink(args, out, err);
  return {status, out.str() + err.str()};
}

}  // namespace

TEST(IceForeignWire, ProbeWorksAgainstAnotherEmulator) {
  ForeignAdapter adapter;
  auto [status, text] = Volink({"info"});
  ASSERT_EQ(status, 0) << text;
  EXPECT_NE(text.find("firmware:    6700x\n"), std::string::npos) << text;
  EXPECT_NE(text.find("serial:      F00D"), std::string::npos) << text;

  std::tie(status, text) = Volink({"write", "0x20000000", "0x11223344", "0x55667788", "0x99"});
  ASSERT_EQ(status, 0) << text;
  std::tie(status, text) = Volink({"read", "0x20000004", "8"});
  ASSERT_EQ(status, 0) << text;
  EXPECT_EQ(text.substr(0, 34), "20000004: 88 77 66 55 99 00 00 00 ");

  std::tie(status, text) = Volink({"halt"});
  EXPECT_EQ(text, "stopped at 0x00000100\n");
  std::tie(status, text) = Volink({"step"});
  EXPECT_EQ(text, "stopped at 0x00000102\n");
  std::tie(status, text) = Volink({"regs"});
  EXPECT_NE(text.find("sp   0x20001000\n"), std::string::npos) << text;
  EXPECT_NE(text.find("pc   0x00000102\n"), std::string::npos) << text;
  std::tie(status, text) = Volink({"go"});
  EXPECT_EQ(status, 0);
  std::tie(status, text) = Volink({"state"});
  EXPECT_EQ(text, "running\n");
  // A command this adapter does not know comes back flagged.
  std::tie(status, text) = Volink({"ready"});
  EXPECT_EQ(status, 1);
  EXPECT_EQ(text, "ICE: Cmd error - Call un-implemented function.\n");
}

TEST(IceForeignWire, TraceDataNeverOverrunsTheBuffer) {
  ForeignAdapter adapter;
  CICE_M4 ice;
  ice.DiscoverAdapters(false);
  ASSERT_TRUE(ice.CheckUSBLink());
  ice.ResetCmdSerial(0xFFFFFFFF);
  uint8_t buffer[20];
  std::memset(buffer, 0xEE, sizeof buffer);
  unsigned length = 0;
  EXPECT_EQ(ice.SwoData(&length, buffer, 16), 1);
  EXPECT_EQ(length, 16u);
  EXPECT_EQ(buffer[15], 0x54);
  EXPECT_EQ(buffer[16], 0xEE);
  uint8_t large[1024];
  EXPECT_EQ(ice.SwoData(&length, large, sizeof large), 1);
  EXPECT_EQ(length, 61u - 7);  // what arrived, not the 500 claimed
}

TEST(IceForeignWire, ProcessorStateNeedsTheEchoOnlyWhenStopped) {
  ForeignAdapter adapter;
  CICE_M4 ice;
  ice.DiscoverAdapters(false);
  ASSERT_TRUE(ice.CheckUSBLink());
  adapter.m_stateWithoutEcho = PROCESSOR_IDLE;
  uint32_t pc = 0x1234;
  EXPECT_EQ(ice.GetMCUState(&pc, 0), PROCESSOR_IDLE);
  EXPECT_EQ(pc, 0x1234u);  // untouched
  adapter.m_stateWithoutEcho = PROCESSOR_STOP;
  try {
    ice.GetMCUState(&pc, 0);
    FAIL() << "no exception";
  } catch (const CICEException& e) {
    EXPECT_STREQ(e.GetMessage(), "ICE: protocol error - Get_MCU_State!");
  }
}

// One adapter-ID read of each flash family, entry by entry, as the families'
// registers and the flash-operation steps give it: unlock (three keys, then
// read until unlocked), clock bit (masked), control bits (masked, read
// back); wait idle, command 0x00 + address + trigger, wait idle and read
// control and data; unlock again and clear the control bits. The first
// family's clock bit (4) is this program's choice; its table names the
// register only.
TEST(IceForeignWire, AdapterIdReadIsThisFlashControllerSequence) {
  struct Family {
    uint32_t chipId, unlock, clock, clockBit, ctrl, busy, openBits, idAddress;
  };
  const Family families[] = {
      {0x40012009, 0x50000100, 0x50000200, 1u << 4, 0x5000C000, 0x5000C010, 0x31, 0x00100010},
      {0x00D4851F, 0x40000100, 0x40000200, 1u << 2, 0x4000C000, 0x4000C0C0, 0x35, 0x0010001C},
      {0xA2000340, 0x40000100, 0x40001000, 1u << 3, 0x40044000, 0x40044040, 0x39, 0x0F100020},
  };
  constexpr uint32_t kRead = 0xFFFFFFFFu;
  for (const Family& f : families) {
    SCOPED_TRACE(::testing::Message() << std::hex << f.chipId);
    ForeignAdapter adapter(f.chipId);
    CICE_M4 ice;
    ice.DiscoverAdapters(false);
    ASSERT_TRUE(ice.CheckUSBLink());
    ice.ResetCmdSerial(0xFFFFFFFF);
    EXPECT_EQ(ice.ReadAdapterId(), ForeignAdapter::kFlashId);
    const std::vector<MemEntry> expected = {
        {f.unlock, 0x59, 0}, {f.unlock, 0x16, 0}, {f.unlock, 0x88, 0}, {f.unlock, 0, kRead},
        {f.clock, f.clockBit, ~f.clockBit},
        {f.ctrl, f.openBits, ~f.openBits},
        {f.busy, 0, kRead},
        {f.ctrl + 0xC, 0x00, 0}, {f.ctrl + 4, f.idAddress, 0}, {f.ctrl + 0x10, 1, 0},
        {f.busy, 0, kRead}, {f.ctrl, 0, kRead}, {f.ctrl + 8, 0, kRead},
        {f.unlock, 0x59, 0}, {f.unlock, 0x16, 0}, {f.unlock, 0x88, 0}, {f.unlock, 0, kRead},
        {f.ctrl, 0, ~f.openBits},
    };
    ice.CloseAllAdapters();  // the exchanges are over before the log is read
    EXPECT_EQ(adapter.m_memLog, expected);
  }
}
