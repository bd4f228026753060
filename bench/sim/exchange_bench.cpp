// Exchanges per second that the emulator answers over its socket, against a
// bare SOCK_SEQPACKET echo measured in the same run.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <memory>
#include <thread>
#include <vector>

#include "sim/ControlClient.h"
#include "sim/QemuTarget.h"
#include "sim/Server.h"
#include "usb/PacketFraming.h"

namespace {

constexpr size_t kPacket = 64;

// Echo peer on a socket pair: answers every message with the same bytes.
class Echo {
 public:
  Echo() {
    int sv[2];
    if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, sv) != 0) std::abort();
    m_client = sv[0];
    m_peer = sv[1];
    m_thread = std::thread([this] {
      std::array<uint8_t, 2048> buf;
      for (;;) {
        const ssize_t n = ::recv(m_peer, buf.data(), buf.size(), 0);
        if (n <= 0) break;
        if (::send(m_peer, buf.data(), static_cast<size_t>(n), MSG_NOSIGNAL) < 0) break;
      }
    });
  }
  ~Echo() {
    ::shutdown(m_client, SHUT_RDWR);
    m_thread.join();
    ::close(m_client);
    ::close(m_peer);
  }
  int Client() const { return m_client; }

 private:
  int m_client = -1, m_peer = -1;
  std::thread m_thread;
};

// The demo emulator in a private folder with one connected HID client.
class Sim {
 public:
  explicit Sim(const char* iface = "demo-hid-if3", sim::SimConfig config = sim::DemoConfig()) {
    char tmpl[] = "/tmp/volink-sim-bench-XXXXXX";
    if (!::mkdtemp(tmpl)) std::abort();
    m_dir = tmpl;
    m_server = std::make_unique<sim::Server>(std::move(config), m_dir);
    m_server->Start();
    m_fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, (m_dir / (std::string(iface) + ".sock")).c_str(), sizeof(addr.sun_path) - 1);
    uint8_t open = 0;
    if (::connect(m_fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::recv(m_fd, &open, 1, 0) != 1 ||
        open != 1)
      std::abort();
  }
  ~Sim() {
    ::close(m_fd);
    m_server.reset();
    std::filesystem::remove_all(m_dir);
  }
  int Client() const { return m_fd; }
  std::string Ctl(const std::string& line) { return m_server ? sim::SendControl(m_dir / sim::kControlSocketName, line) : ""; }

 private:
  std::filesystem::path m_dir;
  std::unique_ptr<sim::Server> m_server;
  int m_fd = -1;
};

void Exchange(benchmark::State& state, int fd, const std::vector<uint8_t>& request) {
  std::array<uint8_t, 2048> reply;
  for (auto _ : state) {
    if (::send(fd, request.data(), request.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(request.size()) ||
        ::recv(fd, reply.data(), reply.size(), 0) <= 0) {
      state.SkipWithError("exchange failed");
      break;
    }
  }
  state.SetItemsProcessed(state.iterations());
}

std::vector<uint8_t> Framed(const std::vector<uint8_t>& payload, uint8_t seq = 1) {
  std::vector<uint8_t> pkt(kPacket);
  framing::FramePacket(pkt, 1, seq, payload);
  return pkt;
}

std::vector<uint8_t> LinkCheck() {
  std::vector<uint8_t> p(8, 0);
  p[0] = 0xF0;
  return Framed(p);
}

// A pin-script style read: four GPIO pin registers in one multi-access.
std::vector<uint8_t> FourWordRead() {
  std::vector<uint8_t> p(8 + 4 * 12, 0);
  framing::PutLE32(p.data(), 0xB9);
  p[4] = 4;
  p[5] = p[6] = 0xFF;
  for (int i = 0; i < 4; ++i) {
    framing::PutLE32(p.data() + 8 + 12 * i, 0x40004010 + 0x40 * i);
    framing::PutLE32(p.data() + 16 + 12 * i, 0xFFFFFFFF);
  }
  return Framed(p);
}

void BM_BareEcho(benchmark::State& state) {
  Echo echo;
  Exchange(state, echo.Client(), LinkCheck());
}
BENCHMARK(BM_BareEcho)->UseRealTime();

void BM_EmulatorLinkCheck(benchmark::State& state) {
  Sim s;
  Exchange(state, s.Client(), LinkCheck());
}
BENCHMARK(BM_EmulatorLinkCheck)->UseRealTime();

// The same read with the core model (arg 0) or the QEMU-run lm3s6965evb
// board (arg 1) behind the adapter; the core runs its firmware meanwhile.
void BM_EmulatorFourWordRead(benchmark::State& state) {
  const bool qemu = state.range(0) == 1;
  if (qemu && !sim::QemuTargetAvailable("lm3s6965evb")) {
    state.SkipWithError("QEMU or the lm3s6965evb firmware is not available");
    return;
  }
  state.SetLabel(qemu ? "qemu lm3s6965evb" : "core model");
  Sim s("demo-hid-if3", qemu ? sim::QemuDemoConfig() : sim::DemoConfig());
  std::array<uint8_t, 64> reply;
  // Attach to the target first.
  std::vector<uint8_t> connect(20, 0);
  connect[0] = 0xE2;
  const auto req = Framed(connect);
  if (::send(s.Client(), req.data(), req.size(), 0) < 0 || ::recv(s.Client(), reply.data(), reply.size(), 0) <= 0)
    state.SkipWithError("connect failed");
  Exchange(state, s.Client(), FourWordRead());
}
BENCHMARK(BM_EmulatorFourWordRead)->Arg(0)->Arg(1)->UseRealTime();

// Emulated USB timing: a streamed read of one chunk (one request, twenty
// replies) against what the link can carry; "link_fraction" is the share of
// the link's packet rate that the exchange reaches.
void BM_TimedStreamedChunk(benchmark::State& state) {
  const bool bulk = state.range(0) != 0;
  Sim s(bulk ? "demo-bulk-if0" : "demo-hid-if3");
  s.Ctl("timing demo on");
  const size_t packet = bulk ? 512 : 64;
  const uint32_t w = static_cast<uint32_t>((packet - 3) & ~size_t{3});
  const uint32_t chunk = 20 * w - 88;
  std::vector<uint8_t> req(12);
  framing::PutLE32(req.data(), 0xB3);
  framing::PutLE32(req.data() + 8, chunk);
  std::vector<uint8_t> pkt(packet);
  framing::FramePacket(pkt, 1, 1, req);
  std::array<uint8_t, 2048> reply;
  size_t bytes = 0;
  const auto t0 = std::chrono::steady_clock::now();
  for (auto _ : state) {
    bool ok = ::send(s.Client(), pkt.data(), pkt.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(pkt.size());
    for (int i = 0; ok && i < 20; ++i) ok = ::recv(s.Client(), reply.data(), reply.size(), 0) > 0;
    if (!ok) {  // a missing reply would otherwise block the next receive for good
      state.SkipWithError("exchange failed");
      break;
    }
    bytes += chunk;
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  state.SetBytesProcessed(static_cast<int64_t>(bytes));
  // 21 packet times a chunk at best (request plus twenty replies).
  const double packetUs = bulk ? 125.0 : 1000.0;
  const double limitBytesPerSec = chunk / (21 * packetUs * 1e-6);
  state.counters["link_fraction"] = static_cast<double>(bytes) / seconds / limitBytesPerSec;
}
BENCHMARK(BM_TimedStreamedChunk)->Arg(0)->Arg(1)->UseRealTime()->MinTime(0.5);

}  // namespace

BENCHMARK_MAIN();
