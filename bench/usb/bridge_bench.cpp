// One adapter command (a 32-bit memory read: one request packet, one reply
// packet) through the real transports and the USB bridge (hidapi on hidraw,
// libusb on usbdevfs) against the same command through the emulator
// backend, in the same run and against the same emulator.
//
// The program starts volink-sim and usb-bridge, then runs itself again under
// the umockdev preload; that run holds the benchmarks.
#include <benchmark/benchmark.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "ice/AdapterAcquire.h"
#include "ice/AdapterSelection.h"
#include "ice/CICEException.h"
#include "ice/CICEGlobalMutex.h"
#include "ice/CICE_M4.h"

namespace {

constexpr const char* kConfig = R"({ "adapters": [
  { "name": "h64", "generation": 1, "pid": "0x5202", "adapter_id": "0x10000064", "location": "1-3",
    "interfaces": [ { "kind": "hid", "interface": 3, "size": 64 } ] },
  { "name": "b512", "generation": 2, "pid": "0x200A", "adapter_id": "0x10000512", "location": "1-5",
    "interfaces": [ { "kind": "bulk", "interface": 3, "size": 512 } ] } ] })";

// Takes the adapter at `location` through whichever backends the
// environment names.
class Adapter {
 public:
  Adapter(const std::string& location, bool real) {
    if (real) {
      ::unsetenv("VOLINK_SIM_DIR");
      ::setenv("GADREL_USB_REAL", "1", 1);
    } else {
      ::setenv("VOLINK_SIM_DIR", std::getenv("BRIDGE_BENCH_SIM"), 1);
      ::setenv("GADREL_USB_REAL", "0", 1);
    }
    ice::SelectResult state = ice::SelectResult::Retry;
    ice::AcquireAdapter(
        m_ice, m_owner,
        [&](CICE& c, CICEGlobalMutex& owner) {
          std::vector<unsigned> index;
          const std::vector<uint32_t> ids = ice::CollectAdapterIds(c, &index);
          for (size_t i = 0; i < ids.size(); ++i) {
            int slot = 0;
            if (!c.Discovery().SelectAdapter(index[i], &slot) ||
                c.Discovery().Transport(slot).GetLocationId() != location)
              continue;
            ice::SelectAdapterIndex(c, index[i]);
            owner.SetKey(ids[i]);
            return ice::SelectResult::Chosen;
          }
          throw CICEException("no adapter at " + location);
        },
        nullptr, state);
    m_ice.ResetCmdSerial(0xFFFFFFFF);
    m_ice.SetConfig(1024, 3300, true);
    m_ice.MCUConnect(ice::RESET_NONE, ice::CONNECT_NORMAL, 1, 0);
  }
  ~Adapter() { ice::ReleaseAdapter(m_ice, m_owner); }
  CICE& Ice() { return m_ice; }

 private:
  CICEGlobalMutex m_owner;
  CICE_M4 m_ice;
};

void BM_RoundTrip(benchmark::State& state, const char* location, bool real) {
  try {
    Adapter a(location, real);
    for (auto _ : state) benchmark::DoNotOptimize(a.Ice().ReadMem32(0x20000000));
    state.counters["round_trips_per_s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
  } catch (const CICEException& e) {
    state.SkipWithError(e.GetMessage());
  }
}
BENCHMARK_CAPTURE(BM_RoundTrip, hid64_emulator, "1-3", false)->MinTime(0.5)->UseRealTime();
BENCHMARK_CAPTURE(BM_RoundTrip, hid64_bridge, "1-3", true)->MinTime(0.5)->UseRealTime();
BENCHMARK_CAPTURE(BM_RoundTrip, bulk512_emulator, "1-5", false)->MinTime(0.5)->UseRealTime();
BENCHMARK_CAPTURE(BM_RoundTrip, bulk512_bridge, "1-5", true)->MinTime(0.5)->UseRealTime();

// `out`: the program's standard output as a pipe; its standard input is
// then a pipe too (the bridge runs until its input ends), written by nobody.
pid_t Spawn(const std::vector<std::string>& argv, int* out, int* in = nullptr) {
  int p[2], q[2];
  if (out && (::pipe(p) != 0 || ::pipe(q) != 0)) return -1;
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (out) ::dup2(p[1], 1), ::close(p[0]), ::dup2(q[0], 0), ::close(q[1]);
    std::vector<char*> args;
    for (auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    ::execv(args[0], args.data());
    ::_exit(127);
  }
  if (out) ::close(p[1]), *out = p[0], ::close(q[0]), *in = q[1];
  return pid;
}

// Lines of the bridge until one starts with `prefix`.
std::string WaitFor(FILE* f, const std::string& prefix) {
  char line[512];
  while (std::fgets(line, sizeof line, f))
    if (std::strncmp(line, prefix.c_str(), prefix.size()) == 0) {
      std::string s = line + prefix.size();
      while (!s.empty() && s.back() == '\n') s.pop_back();
      return s;
    }
  return {};
}

}  // namespace

int main(int argc, char** argv) {
  if (std::getenv("BRIDGE_BENCH_SIM")) {  // the run under the preload
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
  }
  namespace fs = std::filesystem;
  char tmpl[] = "/tmp/gadrel-bridge-bench-XXXXXX";
  const fs::path dir = ::mkdtemp(tmpl);
  fs::create_directories(dir / "sim");
  fs::create_directories(dir / "rt");
  std::ofstream(dir / "config.json") << kConfig;
  ::setenv("VOLINK_SIM_DIR", (dir / "sim").c_str(), 1);
  const pid_t sim = Spawn({VOLINK_SIM_EXE, "--config", (dir / "config.json").string()}, nullptr);
  for (int i = 0; i < 500 && !fs::exists(dir / "sim" / "b512-bulk-if3.json"); ++i) ::usleep(10000);
  int out = -1, in = -1;
  const pid_t bridge = Spawn({USB_BRIDGE_EXE, (dir / "sim").string()}, &out, &in);
  FILE* f = ::fdopen(out, "r");
  const std::string root = WaitFor(f, "root ");
  WaitFor(f, "added ");
  WaitFor(f, "added ");
  ::setenv("BRIDGE_BENCH_SIM", (dir / "sim").c_str(), 1);
  ::setenv("UMOCKDEV_DIR", root.c_str(), 1);
  ::setenv("LD_PRELOAD", "libumockdev-preload.so.0", 1);
  ::setenv("XDG_RUNTIME_DIR", (dir / "rt").c_str(), 1);
  std::vector<std::string> args{"/proc/self/exe"};
  for (int i = 1; i < argc; ++i) args.push_back(argv[i]);
  const pid_t run = Spawn(args, nullptr);
  int status = 0;
  ::waitpid(run, &status, 0);
  for (pid_t p : {bridge, sim}) {
    ::kill(p, SIGTERM);
    ::waitpid(p, nullptr, 0);
  }
  std::fclose(f);
  ::close(in);
  std::error_code ec;
  fs::remove_all(dir, ec);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}
