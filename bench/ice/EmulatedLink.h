// One emulated adapter for a benchmark: a private in-process emulator with
// one adapter on one interface of a given kind and size, USB timing on, and
// a connected Cortex-M target behind it.
#pragma once

#include <sys/prctl.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>

#include "ice/CICE_M4.h"
#include "sim/ControlClient.h"
#include "sim/Server.h"

namespace bench {

struct Link {
  const char* kind;
  int size;
  double limitBytesPerSecond;
};
constexpr Link kLinks[] = {
    {"hid", 64, 64.0 * 1000},            // 64 bytes per 1 ms frame
    {"bulk", 512, 512.0 * 8000},         // 512 bytes per 125 us
    {"hid", 1024, 64.0 * 1000},          // sixteen frames per report
};

// A private in-process emulator with one adapter on one interface, timing
// on, and a connected Cortex-M target.
class Rig {
 public:
  explicit Rig(const Link& link) {
    std::string tmpl = (std::filesystem::temp_directory_path() / "ice-bench-XXXXXX").string();
    if (!::mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp");
    m_dir = tmpl;
    ::setenv("VOLINK_SIM_DIR", m_dir.c_str(), 1);
    ::setenv("GADREL_USB_REAL", "0", 1);
    const std::string config = std::string(R"({"adapters": [{"name": "a", "generation": 1,
        "interfaces": [{"kind": ")") + link.kind + R"(", "interface": 3, "size": )" +
                               std::to_string(link.size) + R"(}]}]})";
    // The emulator's thread schedules replies microseconds apart; it inherits
    // this thread's timer slack.
    ::prctl(PR_SET_TIMERSLACK, 1UL, 0, 0, 0);
    m_server = std::make_unique<sim::Server>(sim::ParseConfig(config), m_dir);
    m_server->Start();
    for (int i = 0; i < 500 && !std::filesystem::exists(m_dir + "/volink-sim.ctl"); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    m_ice.DiscoverAdapters(false);
    if (!m_ice.CheckUSBLink()) throw std::runtime_error("no emulated adapter");
    m_ice.SelectAdapter(0);
    m_ice.ResetCmdSerial(0xFFFFFFFF);
    m_ice.SetConfig(1024, 3300, true);
    m_ice.MCUConnect(ice::RESET_NONE, ice::CONNECT_NORMAL, 1, 0);
    sim::SendControl(m_server->ControlPath(), "timing a on");
  }
  ~Rig() {
    m_ice.CloseAllAdapters();
    m_server->Stop();
    std::error_code ec;
    std::filesystem::remove_all(m_dir, ec);
  }
  CICE_M4& Ice() { return m_ice; }

 private:
  std::string m_dir;
  std::unique_ptr<sim::Server> m_server;
  CICE_M4 m_ice;
};

}  // namespace bench
