// What the update tests of this folder share beside tests/support: a user
// who plugs the adapter out and in when asked, and volink run as a program.
#pragma once

#include <sys/wait.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>

#include "ice/SimFixture.h"
#include "support/UpdateSupport.h"

namespace updaterig {

namespace fs = std::filesystem;
using namespace fwupdate;
using namespace testsupport;
using namespace std::chrono_literals;

// Plugs the adapter out and in again from another thread, as a user does
// when asked to.
struct Replug {
  explicit Replug(SimProcess& sim) : m_sim(sim) {}
  ~Replug() {
    if (m_thread.joinable()) m_thread.join();
  }
  void Start() {
    if (m_started.exchange(true)) return;
    m_thread = std::thread([this] {
      m_sim.Ctl("unplug a");
      std::this_thread::sleep_for(300ms);
      m_sim.Ctl("plug a");
    });
  }
  SimProcess& m_sim;
  std::atomic<bool> m_started{false};
  std::thread m_thread;
};

// Runs a shell command line; its exit status (-1 when it did not exit) and
// all it wrote to the pipe.
struct ProgramRun {
  int status = -1;
  std::string output;
};

inline ProgramRun RunProgram(const std::string& command) {
  FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) return {-1, "popen failed"};
  std::string output;
  char buffer[4096];
  for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) output.append(buffer, n);
  const int status = ::pclose(pipe);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, output};
}

// `volink update` run as a program, at most 60 s.
inline ProgramRun VolinkUpdateProgram(const std::string& arguments) {
  return RunProgram(std::string("timeout 60 ") + VOLINK_EXE + " update " + arguments + " 2>&1");
}

}  // namespace updaterig
