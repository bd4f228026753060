// What the update tests share: one emulated adapter of each MCU class at
// firmware 7000, the image folder, short waits, the firmware an adapter
// reports, and a user who plugs the adapter out and in when asked.
#pragma once

#include <sys/wait.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "fwupdate/FirmwareVersion.h"
#include "fwupdate/UpdateEngine.h"
#include "ice/CICE_M4.h"
#include "ice/SimFixture.h"
#include "sim/Images.h"

namespace updaterig {

namespace fs = std::filesystem;
using namespace fwupdate;
using namespace std::chrono_literals;

struct ClassCase {
  const char* name;
  int generation;
  const char* chipId;
  int mcuClass;
};

inline const ClassCase kClasses[] = {
    {"Class0", 0, "0x00012345", 0},
    {"Class1", 0, "0x40012009", 1},
    {"Class2", 1, "0x00D4851F", 2},
    {"Class3", 2, "0xA2000340", 3},
};

inline std::string Config(const ClassCase& c, const std::string& extra = "", int count = 1) {
  std::string adapters;
  for (int i = 0; i < count; ++i) {
    if (i) adapters += ", ";
    adapters += R"({"name": ")" + std::string(i ? "b" : "a") + R"(", "generation": )" +
                std::to_string(c.generation) + R"(, "chip_id": ")" + c.chipId +
                R"(", "firmware_version": 7000, "adapter_id": "0x7788BE0)" + std::to_string(i) +
                R"(", "location": "1-4.)" + std::to_string(i + 1) + R"(", "target": {"kind": "none"})" + extra + "}";
  }
  return R"({"adapters": [)" + adapters + "]}";
}

// Writes an application image file.
inline void WriteFile(const fs::path& path, const std::vector<uint8_t>& bytes) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// The images of `make-images`, which fit the emulator's default
// configuration; without `fitting`, application images of 16 KiB, smaller
// than the application area the configuration leaves, so that the update
// has to change the configuration.
inline fs::path Images(const SimProcess& sim, bool fitting) {
  const fs::path dir = fs::path(sim.Dir()) / "Vo_Link";
  sim::images::WriteImageSet(dir);
  if (!fitting)
    for (int c : {0, 2, 3}) WriteFile(dir / sim::images::FilesOf(c).app, sim::images::MakeAppImage(c, 7973, "r"));
  return dir;
}

inline UpdateOptions Quick(const fs::path& images) {
  UpdateOptions o;
  o.images.folder = images;
  o.timings.deviceWait = 10s;
  o.timings.poll = 20ms;
  o.timings.settle = 100ms;
  o.timings.retry = 50ms;
  return o;
}

// What the adapter reports now: "7973r", or "" when no adapter answers.
inline std::string Firmware() {
  CICE_M4 ice;
  ice.DiscoverAdapters(false);
  if (!ice.CheckUSBLink()) return "";
  uint16_t four[4] = {};
  const uint32_t v = ice.ResetCmdSerial(0xFFFFFFFF, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, four);
  return std::to_string(v) + RevisionSuffix(four);
}

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
