// 64 KiB of target memory read through the GDB server (a client asking with
// 'm' packets of the largest size the server advertises, acknowledgements
// off, as gdb does) against ReadMem of the same 64 KiB on the same emulated
// link, USB timing on, in one run. server_fraction = the server's
// throughput over ReadMem's (means), best_fraction the same of the fastest
// iteration of each.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "bench/ice/EmulatedLink.h"
#include "gdbserver/GdbPacket.h"
#include "gdbserver/GdbServer.h"
#include "gdbserver/GdbSession.h"

using namespace bench;

namespace {

constexpr unsigned kBytes = 64 * 1024;
constexpr uint32_t kAddress = 0x20000000;

class Client {
 public:
  explicit Client(uint16_t port) {
    m_fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(m_fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) throw std::runtime_error("connect");
    const int on = 1;
    ::setsockopt(m_fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    Ask("QStartNoAckMode");
    m_bAck = false;
  }
  ~Client() { ::close(m_fd); }
  std::string Ask(const std::string& payload) {
    const std::string framed = gdb::Frame(payload);
    if (::send(m_fd, framed.data(), framed.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(framed.size()))
      throw std::runtime_error("send");
    for (;;) {
      const size_t start = m_in.find('$');
      const size_t hash = start == std::string::npos ? std::string::npos : m_in.find('#', start);
      if (hash != std::string::npos && m_in.size() >= hash + 3) {
        std::string reply = m_in.substr(start + 1, hash - start - 1);
        m_in.erase(0, hash + 3);
        if (m_bAck) ::send(m_fd, "+", 1, MSG_NOSIGNAL);
        return reply;
      }
      char b[65536];
      const ssize_t n = ::recv(m_fd, b, sizeof b, 0);
      if (n <= 0) throw std::runtime_error("server closed");
      m_in.append(b, static_cast<size_t>(n));
    }
  }

 private:
  int m_fd = -1;
  bool m_bAck = true;
  std::string m_in;
};

void BM_ServerAgainstReadMem(benchmark::State& state) {
  const Link& link = kLinks[state.range(0)];
  Rig rig(link);
  gdb::GdbServer server(rig.Ice());
  std::string error;
  if (!server.Listen("127.0.0.1", 0, error)) throw std::runtime_error(error);
  std::thread serving([&] { server.Run(); });
  double direct = 0, served = 0;
  // Best of the iterations as well: on a busy machine the mean carries the
  // scheduler's noise.
  double bestDirect = 1e9, bestServed = 1e9;
  {
    Client client(server.Port());
    client.Ask("qSupported");
    constexpr unsigned kPiece = gdb::GdbSession::kPacketSize / 2;  // the longest 'm' the server takes
    std::vector<uint8_t> buffer(kBytes);
    for (auto _ : state) {
      auto t0 = std::chrono::steady_clock::now();
      rig.Ice().ReadMem(kAddress, buffer.data(), kBytes, true, true);
      auto t1 = std::chrono::steady_clock::now();
      const double d = std::chrono::duration<double>(t1 - t0).count();
      direct += d;
      bestDirect = std::min(bestDirect, d);
      size_t hexChars = 0;
      char ask[32];
      for (unsigned off = 0; off < kBytes; off += kPiece) {
        std::snprintf(ask, sizeof ask, "m%x,%x", kAddress + off, std::min(kPiece, kBytes - off));
        hexChars += client.Ask(ask).size();
      }
      const double v = std::chrono::duration<double>(std::chrono::steady_clock::now() - t1).count();
      served += v;
      bestServed = std::min(bestServed, v);
      if (hexChars != 2 * kBytes) state.SkipWithError("a read through the server came back short");
    }
  }
  server.Stop();
  serving.join();
  const double n = static_cast<double>(state.iterations());
  state.counters["readmem_KiBps"] = n * kBytes / 1024 / direct;
  state.counters["server_KiBps"] = n * kBytes / 1024 / served;
  state.counters["server_fraction"] = direct / served;
  state.counters["best_fraction"] = bestDirect / bestServed;
  state.SetLabel(std::string(link.kind) + " " + std::to_string(link.size));
}

}  // namespace

BENCHMARK(BM_ServerAgainstReadMem)->Arg(0)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ServerAgainstReadMem)->Arg(1)->Iterations(30)->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK_MAIN();
