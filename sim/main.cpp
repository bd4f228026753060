// volink-sim: serves emulated adapters until stopped, talks to a running
// emulator's control channel, or writes synthetic firmware images.
#include <csignal>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/ProgramInfo.h"
#include "sim/ControlClient.h"
#include "sim/Images.h"
#include "sim/QemuTarget.h"
#include "sim/Server.h"

namespace {

int Usage() {
  std::cerr << "usage:\n"
               "  volink-sim [--config FILE] [--dir DIR]   serve the adapters (default: the demo)\n"
               "  volink-sim --demo model|qemu|auto        the demo with the core model, with the QEMU-run\n"
               "                                           board, or QEMU when installed and its firmware built\n"
               "  volink-sim ctl COMMAND...                 send a control command (ctl help lists them)\n"
               "  volink-sim make-images DIR [--version N] [--suffix S]\n"
               "  volink-sim print-demo                     print the demo configuration\n"
               "  volink-sim --version                      print the version\n"
               "The serving folder is VOLINK_SIM_DIR, else $XDG_RUNTIME_DIR/volink-sim,\n"
               "else /tmp/volink-sim-<uid>.\n";
  return 2;
}

int Serve(const std::vector<std::string>& args) {
  std::filesystem::path dir = sim::DefaultSimDir();
  sim::SimConfig config;
  bool haveConfig = false;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--config" && i + 1 < args.size()) {
      std::ifstream f(args[++i]);
      if (!f) {
        std::cerr << "volink-sim: cannot read " << args[i] << "\n";
        return 1;
      }
      std::stringstream ss;
      ss << f.rdbuf();
      config = sim::ParseConfig(ss.str());
      haveConfig = true;
    } else if (args[i] == "--dir" && i + 1 < args.size()) {
      dir = args[++i];
    } else if (args[i] == "--demo" && i + 1 < args.size()) {
      const std::string& kind = args[++i];
      if (kind != "model" && kind != "qemu" && kind != "auto") return Usage();
      const bool qemu = kind == "qemu" || (kind == "auto" && sim::QemuTargetAvailable("lm3s6965evb"));
      config = qemu ? sim::QemuDemoConfig() : sim::DemoConfig();
      haveConfig = true;
    } else {
      return Usage();
    }
  }
  if (!haveConfig) config = sim::DemoConfig();

  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &set, nullptr);

  sim::Server server(std::move(config), dir);
  server.Start();
  std::cout << "volink-sim: serving in " << dir.string() << " (export VOLINK_SIM_DIR=" << dir.string()
            << "); stop with Ctrl+C" << std::endl;
  int sig = 0;
  sigwait(&set, &sig);
  server.Stop();
  return 0;
}

int Ctl(const std::vector<std::string>& args) {
  if (args.empty()) return Usage();
  std::string line;
  for (const auto& a : args) line += (line.empty() ? "" : " ") + a;
  const std::string answer = sim::SendControl(sim::DefaultSimDir() / sim::kControlSocketName, line);
  std::cout << answer;
  return sim::LastLine(answer).rfind("ok", 0) == 0 ? 0 : 1;
}

int MakeImages(const std::vector<std::string>& args) {
  if (args.empty()) return Usage();
  uint32_t version = sim::images::kToolVersion;
  std::string suffix = "r";
  for (size_t i = 1; i < args.size(); ++i) {
    if (args[i] == "--version" && i + 1 < args.size()) version = static_cast<uint32_t>(std::stoul(args[++i], nullptr, 0));
    else if (args[i] == "--suffix" && i + 1 < args.size()) suffix = args[++i];
    else return Usage();
  }
  sim::images::WriteImageSet(args[0], version, suffix);
  std::cout << "volink-sim: images written to " << args[0] << "\n";
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  try {
    if (!args.empty() && (args[0] == "--help" || args[0] == "-h" || args[0] == "help")) {
      Usage();
      return 0;
    }
    if (!args.empty() && args[0] == "--version") {
      std::cout << "volink-sim " << platform::ProgramVersion() << "\nnlohmann-json " << NLOHMANN_JSON_VERSION_MAJOR
                << "." << NLOHMANN_JSON_VERSION_MINOR << "." << NLOHMANN_JSON_VERSION_PATCH << "\n";
      return 0;
    }
    if (!args.empty() && args[0] == "ctl") return Ctl({args.begin() + 1, args.end()});
    if (!args.empty() && args[0] == "make-images") return MakeImages({args.begin() + 1, args.end()});
    if (!args.empty() && args[0] == "print-demo") {
      std::cout << sim::DemoConfigJson();
      return 0;
    }
    return Serve(args);
  } catch (const std::exception& e) {
    std::cerr << "volink-sim: " << e.what() << "\n";
    return 1;
  }
}
