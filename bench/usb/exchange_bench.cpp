// One 64-byte request/reply exchange through the whole transport stack
// (command lock, share lock, framing, emulator socket) against a bare
// SOCK_SEQPACKET ping-pong of the same sizes with the same responder.
// Prints the ratio of the two at the end.
#include <benchmark/benchmark.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <thread>

#include "platform/CMutex2.h"
#include "usb/CHidCmd.h"

namespace {

// Answers each message with the same bytes: for a framed request that is a
// valid reply with the same sequence number.
class Responder {
 public:
  Responder(const std::string& dir, const std::string& name) {
    m_sock = dir + "/" + name + ".sock";
    m_listen = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    std::strncpy(a.sun_path, m_sock.c_str(), sizeof a.sun_path - 1);
    if (::bind(m_listen, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(m_listen, 4) != 0)
      std::abort();
    std::ofstream(dir + "/" + name + ".json")
        << R"({"vid": 1046, "pid": 20994, "interface": 3, "kind": "hid", "in_size": 64,)"
        << R"( "out_size": 64, "serial": "B1", "location": "1-1", "path": "bench-)" << name << "\"}";
    m_thread = std::thread([this] {
      for (;;) {
        const int c = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
        if (c < 0) return;
        const uint8_t ok = 1;
        ::send(c, &ok, 1, MSG_NOSIGNAL);
        uint8_t buf[64];
        for (;;) {
          const ssize_t n = ::recv(c, buf, sizeof buf, 0);
          if (n <= 0 || ::send(c, buf, static_cast<size_t>(n), MSG_NOSIGNAL) != n) break;
        }
        ::close(c);
      }
    });
  }
  ~Responder() {
    ::shutdown(m_listen, SHUT_RDWR);
    ::close(m_listen);
    m_thread.join();
  }
  const std::string& Socket() const { return m_sock; }

 private:
  std::string m_sock;
  int m_listen = -1;
  std::thread m_thread;
};

struct Setup {
  std::string simDir, rtDir;
  std::unique_ptr<Responder> stack, bare;
  Setup() {
    char a[] = "/tmp/gadrel-bench-sim-XXXXXX";
    // The named objects live in memory, as under a real XDG_RUNTIME_DIR: a
    // shared mapping of a disk file would wait for writeback now and then.
    char b[] = "/dev/shm/gadrel-bench-rt-XXXXXX";
    simDir = ::mkdtemp(a);
    rtDir = ::mkdtemp(b);
    ::setenv("VOLINK_SIM_DIR", simDir.c_str(), 1);
    ::setenv("XDG_RUNTIME_DIR", rtDir.c_str(), 1);
    ::setenv("GADREL_USB_REAL", "0", 1);
    stack = std::make_unique<Responder>(simDir, "stack");
    const std::string bareDir = simDir + "/bare";
    std::filesystem::create_directory(bareDir);  // not listed as a device
    bare = std::make_unique<Responder>(bareDir, "bare");
  }
  ~Setup() {
    stack.reset();
    bare.reset();
    std::filesystem::remove_all(simDir);
    std::filesystem::remove_all(rtDir);
  }
};

Setup& Env() {
  static Setup s;
  return s;
}

void BM_StackExchange(benchmark::State& state) {
  Env();
  CHidCmd t;
  const UsbDeviceId id{0x0416, 0x5202, 3};
  if (!t.Open(1, &id, 1)) {
    state.SkipWithError("emulated adapter not found");
    return;
  }
  CMutex2 commandLock;
  uint8_t request[61] = {0x42};
  uint8_t reply[64];
  for (auto _ : state) {
    ScopedMutex command(commandLock);
    ScopedShareLock<UsbShareArea> share(t.GetShareAreas());
    unsigned sent = 0, got = 0;
    if (!t.SendPacket(request, sizeof request, &sent, 5000) ||
        !t.ReceivePacket(reply, sizeof reply, &got, 5000)) {
      state.SkipWithError("exchange failed");
      break;
    }
    benchmark::DoNotOptimize(reply);
  }
}

void BM_BareExchange(benchmark::State& state) {
  const int fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
  sockaddr_un a{};
  a.sun_family = AF_UNIX;
  std::strncpy(a.sun_path, Env().bare->Socket().c_str(), sizeof a.sun_path - 1);
  uint8_t greeting = 0;
  if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::recv(fd, &greeting, 1, 0) != 1) {
    state.SkipWithError("no responder");
    ::close(fd);
    return;
  }
  uint8_t request[64] = {1, 0, 61, 0x42};
  uint8_t reply[64];
  for (auto _ : state) {
    if (::send(fd, request, sizeof request, 0) != 64 || ::recv(fd, reply, sizeof reply, 0) != 64) {
      state.SkipWithError("exchange failed");
      break;
    }
    benchmark::DoNotOptimize(reply);
  }
  ::close(fd);
}

// Repeated and compared by their medians: the machine is shared with builds.
BENCHMARK(BM_BareExchange)->MinTime(0.3)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_StackExchange)->MinTime(0.3)->Repetitions(5)->ReportAggregatesOnly(true);

class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& r : runs) {
      if (!r.error_occurred && r.aggregate_name == "median")
        times[r.run_name.function_name] = {r.GetAdjustedRealTime(), r.GetAdjustedCPUTime()};
    }
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, std::pair<double, double>> times;  // real, CPU
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  const auto stack = reporter.times["BM_StackExchange"];
  const auto bare = reporter.times["BM_BareExchange"];
  if (stack.first > 0 && bare.first > 0) {
    std::printf("ratio stack/bare (medians): %.3f (goal: at most 1.3); CPU time of the caller: %.3f\n",
                stack.first / bare.first, stack.second / bare.second);
  }
  benchmark::Shutdown();
  return 0;
}
