#include "SimFixture.h"

// Test programs link GoogleTest (whose target defines GTEST_HAS_PTHREAD);
// benchmarks share this file without it.
#if defined(GTEST_HAS_PTHREAD)
#include <gtest/gtest.h>
#endif

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <thread>

#include "sim/ControlClient.h"

extern char** environ;

namespace fs = std::filesystem;

SimProcess::SimProcess(const std::string& configJson, int interfaces) {
  std::string tmpl = (fs::temp_directory_path() / "ice-test-XXXXXX").string();
  if (!::mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
  m_dir = tmpl;
  ::setenv("VOLINK_SIM_DIR", m_dir.c_str(), 1);
  // Named objects (share areas, adapter ownership) of this test stay apart
  // from other tests and from programs of the user.
  if (const char* old = std::getenv("XDG_RUNTIME_DIR")) m_oldRuntimeDir = old;
  ::mkdir((m_dir + "/rt").c_str(), 0700);
  ::setenv("XDG_RUNTIME_DIR", (m_dir + "/rt").c_str(), 1);
  ::setenv("GADREL_USB_REAL", "0", 1);
  // So are the records of boot-loader rewrites in progress.
  if (const char* old = std::getenv("XDG_STATE_HOME")) m_oldStateHome = old;
  ::setenv("XDG_STATE_HOME", (m_dir + "/state").c_str(), 1);

  std::vector<std::string> args = {VOLINK_SIM_EXE, "--dir", m_dir};
  if (!configJson.empty()) {
    const std::string path = m_dir + "/config.json.in";
    std::ofstream(path) << configJson;
    args.push_back("--config");
    args.push_back(path);
  }
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  const int rc = ::posix_spawn(&m_pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) throw std::runtime_error("cannot start volink-sim");
  if (!WaitForInterfaces(interfaces)) throw std::runtime_error("volink-sim did not come up");
}

bool SimProcess::WaitForInterfaces(int count) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (std::chrono::steady_clock::now() < until) {
    int n = 0;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(m_dir, ec))
      if (e.path().extension() == ".json") ++n;
    if (n >= count && fs::exists(m_dir + "/volink-sim.ctl")) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

long SimProcess::Violations() {
  try {
    const std::string answer = sim::LastLine(Ctl("violations"));
    const std::string prefix = "ok violations ";
    if (answer.rfind(prefix, 0) != 0) return -1;
    return std::stol(answer.substr(prefix.size()));
  } catch (const std::exception&) {
    return -1;
  }
}

void SimProcess::ClearViolations() { Ctl("violations clear"); }

SimProcess::~SimProcess() {
  if (m_pid > 0) {
    // A host mistake on the wire is a test failure even when the emulator coped.
    std::string report;
    try {
      report = Ctl("violations");
    } catch (const std::exception& e) {
      report = e.what();
    }
    if (sim::LastLine(report) != "ok violations 0") {
#if defined(GTEST_HAS_PTHREAD)
      ADD_FAILURE() << "volink-sim counted protocol violations:\n" << report;
#else
      std::fprintf(stderr, "volink-sim counted protocol violations:\n%s", report.c_str());
      std::abort();  // a figure measured over a broken wire is no figure
#endif
    }
    ::kill(m_pid, SIGTERM);
    int status = 0;
    ::waitpid(m_pid, &status, 0);
  }
  if (m_oldRuntimeDir.empty())
    ::unsetenv("XDG_RUNTIME_DIR");
  else
    ::setenv("XDG_RUNTIME_DIR", m_oldRuntimeDir.c_str(), 1);
  if (m_oldStateHome.empty())
    ::unsetenv("XDG_STATE_HOME");
  else
    ::setenv("XDG_STATE_HOME", m_oldStateHome.c_str(), 1);
  std::error_code ec;
  fs::remove_all(m_dir, ec);
}

std::string SimProcess::Ctl(const std::string& line) {
  return sim::SendControl(fs::path(m_dir) / "volink-sim.ctl", line);
}

std::string OneAdapterConfig(const std::string& kind, int size, uint32_t version,
                             const std::string& cpu, int generation, const std::string& target,
                             int designId) {
  return R"({"adapters": [{"name": "a", "generation": )" + std::to_string(generation) +
         R"(, "pid": ")" + (generation == 0 ? std::string("0x511B") : std::string("0x5200")) +
         R"(", "firmware_version": )" + std::to_string(version) +
         R"(, "design_id": )" + std::to_string(designId) +
         R"(, "interfaces": [{"kind": ")" + kind + R"(", "interface": 3, "size": )" +
         std::to_string(size) + R"(}], "target": {"kind": ")" + target + R"(", "cpu": ")" + cpu +
         R"("}}]})";
}

void OpenAdapter(CICE& ice, unsigned index, bool attach) {
  ice.DiscoverAdapters(false);
  if (!ice.CheckUSBLink()) throw std::runtime_error("no adapter found");
  ice.SelectAdapter(index);
  ice.ResetCmdSerial(0xFFFFFFFF);
  if (attach) {
    ice.SetConfig(1024, 3300, true);
    ice.MCUConnect(ice::RESET_NONE, ice::CONNECT_NORMAL, 0, 0);
  }
}
