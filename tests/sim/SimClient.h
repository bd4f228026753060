// Test-side client of the emulator wire: connects to an interface socket,
// reads the open byte, sends framed command packets and parses replies. It
// uses only the socket contract and the shared packet framing.
#pragma once

#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "sim/ControlClient.h"
#include "sim/Server.h"
#include "usb/PacketFraming.h"

namespace simtest {

using Bytes = std::vector<uint8_t>;

inline Bytes Words(std::initializer_list<uint32_t> words) {
  Bytes b(4 * words.size());
  size_t i = 0;
  for (uint32_t w : words) framing::PutLE32(b.data() + 4 * i++, w);
  return b;
}

inline uint32_t WordAt(const Bytes& b, size_t index) {
  return 4 * index + 4 <= b.size() ? framing::GetLE32(b.data() + 4 * index) : 0xDEADBEEF;
}

struct Packet {
  uint8_t seq = 0;
  bool flag = false;
  Bytes payload;
};

class Conn {
 public:
  Conn() = default;
  Conn(const std::filesystem::path& sock, int headerMode, size_t packetSize)
      : m_mode(headerMode), m_size(packetSize) {
    m_fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, sock.c_str(), sizeof(addr.sun_path) - 1);
    if (::connect(m_fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
      ::close(m_fd);
      m_fd = -1;
      return;
    }
    auto b = Receive(1000);
    m_open = b && b->size() == 1 ? (*b)[0] : -1;
  }
  Conn(Conn&& o) noexcept { *this = std::move(o); }
  Conn& operator=(Conn&& o) noexcept {
    std::swap(m_fd, o.m_fd);
    m_mode = o.m_mode;
    m_size = o.m_size;
    m_open = o.m_open;
    m_seq = o.m_seq;
    return *this;
  }
  ~Conn() {
    if (m_fd >= 0) ::close(m_fd);
  }

  int OpenByte() const { return m_open; }
  bool Connected() const { return m_fd >= 0; }

  bool SendRaw(const Bytes& b) { return ::send(m_fd, b.data(), b.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(b.size()); }

  // Sends one framed request with the next sequence number; returns it.
  uint8_t Send(const Bytes& payload) {
    m_seq = static_cast<uint8_t>((m_seq + 1) & framing::kSeqMask);
    Bytes pkt(m_size);
    framing::FramePacket(pkt, m_mode, m_seq, payload);
    EXPECT_TRUE(SendRaw(pkt));
    return m_seq;
  }

  // Sends the next framed request without waiting; false (and the number
  // not used up) when the socket would block.
  bool TrySend(const Bytes& payload, uint8_t* seq = nullptr) {
    const uint8_t next = static_cast<uint8_t>((m_seq + 1) & framing::kSeqMask);
    Bytes pkt(m_size);
    framing::FramePacket(pkt, m_mode, next, payload);
    if (::send(m_fd, pkt.data(), pkt.size(), MSG_NOSIGNAL | MSG_DONTWAIT) != static_cast<ssize_t>(pkt.size()))
      return false;
    m_seq = next;
    if (seq) *seq = next;
    return true;
  }
  // Waits until a request can be sent without blocking.
  bool WaitWritable(int timeoutMs) {
    pollfd p{m_fd, POLLOUT, 0};
    return ::poll(&p, 1, timeoutMs) > 0 && (p.revents & POLLOUT);
  }

  // One raw message, or nothing on time-out; an empty vector means closed.
  std::optional<Bytes> Receive(int timeoutMs) {
    pollfd p{m_fd, POLLIN, 0};
    if (::poll(&p, 1, timeoutMs) <= 0) return std::nullopt;
    Bytes b(4096);
    const ssize_t n = ::recv(m_fd, b.data(), b.size(), 0);
    b.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return b;
  }

  std::optional<Packet> ReceivePacket(int timeoutMs = 2000) {
    auto b = Receive(timeoutMs);
    if (!b || b->empty()) return std::nullopt;
    framing::Parsed p;
    if (!framing::ParsePacket(*b, m_mode, p)) return std::nullopt;
    return Packet{p.seq, p.flag, Bytes(b->begin() + p.offset, b->begin() + p.offset + p.length)};
  }

  // One exchange; fails the test when no reply with the request's number comes.
  Packet Exchange(const Bytes& payload) {
    const uint8_t seq = Send(payload);
    auto r = ReceivePacket();
    EXPECT_TRUE(r.has_value()) << "no reply";
    if (!r) return {};
    EXPECT_EQ(r->seq, seq);
    return *r;
  }

  // Multi-access of `kind`: entries of {address, value, mask}; returns the pairs.
  std::vector<std::pair<uint32_t, uint32_t>> Multi(uint32_t kind, std::initializer_list<std::array<uint32_t, 3>> entries,
                                                   bool* flagged = nullptr) {
    Bytes req = Words({kind});
    req.push_back(static_cast<uint8_t>(entries.size()));
    req.insert(req.end(), {0xFF, 0xFF, 0});
    for (const auto& e : entries) {
      const Bytes w = Words({e[0], e[1], e[2]});
      req.insert(req.end(), w.begin(), w.end());
    }
    const Packet p = Exchange(req);
    if (flagged) *flagged = p.flag;
    std::vector<std::pair<uint32_t, uint32_t>> out;
    for (size_t i = 0; i + 1 < p.payload.size() / 4; i += 2) out.emplace_back(WordAt(p.payload, i), WordAt(p.payload, i + 1));
    return out;
  }
  uint32_t Read(uint32_t kind, uint32_t address) {
    auto r = Multi(kind, {{address, 0, 0xFFFFFFFF}});
    return r.empty() ? 0xDEADBEEF : r[0].second;
  }
  void Write(uint32_t kind, uint32_t address, uint32_t value, uint32_t mask = 0) {
    bool flagged = false;
    Multi(kind, {{address, value, mask}}, &flagged);
    EXPECT_FALSE(flagged) << std::hex << "write to 0x" << address;
  }

  uint32_t ErrorQuery() {
    const Packet p = Exchange(Words({0xFC}));
    return WordAt(p.payload, 0);
  }

  size_t PacketSize() const { return m_size; }

 private:
  int m_fd = -1;
  int m_mode = 1;
  size_t m_size = 64;
  int m_open = -1;
  uint8_t m_seq = 0;
};

// A running emulator in a private folder.
class SimFixture : public ::testing::Test {
 protected:
  void StartSim(const std::string& json) {
    char tmpl[] = "/tmp/volink-sim-test-XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    m_dir = tmpl;
    m_server = std::make_unique<sim::Server>(sim::ParseConfig(json), m_dir);
    m_server->Start();
  }
  void StartDemo() { StartSim(sim::DemoConfigJson()); }
  // A host mistake on the wire fails the test; a test that breaks the wire
  // on purpose checks the count itself and clears it.
  void TearDown() override {
    if (m_server) {
      const std::string report = Ctl("violations");
      EXPECT_EQ(sim::LastLine(report), "ok violations 0") << report;
    }
    m_server.reset();
    if (!m_dir.empty()) std::filesystem::remove_all(m_dir);
  }
  std::string Ctl(const std::string& line) { return sim::SendControl(m_dir / sim::kControlSocketName, line); }
  // The violations counted so far, then cleared.
  uint64_t TakeViolations() {
    const std::string last = sim::LastLine(Ctl("violations"));
    Ctl("violations clear");
    return last.rfind("ok violations ", 0) == 0 ? std::stoull(last.substr(14)) : ~uint64_t{0};
  }
  Conn Open(const std::string& name, int headerMode = 1, size_t size = 64) {
    return Conn(m_dir / (name + ".sock"), headerMode, size);
  }
  bool Published(const std::string& name) const {
    return std::filesystem::exists(m_dir / (name + ".json")) && std::filesystem::exists(m_dir / (name + ".sock"));
  }
  // Connect to the target the way a pin script does (attach, core keeps running).
  static void Attach(Conn& c, uint32_t reset = 0, uint32_t connect = 0) {
    const Packet p = c.Exchange(Words({0xE2, reset, connect, 0, 0}));
    EXPECT_FALSE(p.flag);
    EXPECT_EQ(p.payload.at(0), 0xE2);
  }

  std::filesystem::path m_dir;
  std::unique_ptr<sim::Server> m_server;
};

// The counters of `ctl stats` ("ok connections 1 queued 0 ...") by name.
inline std::map<std::string, uint64_t> ParseStats(const std::string& answer) {
  std::map<std::string, uint64_t> out;
  std::istringstream in(answer);
  std::string word, name;
  in >> word;  // "ok"
  while (in >> name >> word) out[name] = std::stoull(word);
  return out;
}

// Configuration of one adapter with the given JSON fields (without braces).
inline std::string OneAdapter(const std::string& fields) {
  return R"({"adapters":[{"name":"a",)" + fields + "}]}";
}

}  // namespace simtest
