// gadrel: the pin view, or one script run from the command line.
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>

#include <QtGlobal>
#include <lua.h>

#include "app/CommandLine.h"
#include "app/PinViewApp.h"
#include "platform/ProgramInfo.h"
#include "usb/ListAdapters.h"
#include "usb/UsbLibraryVersions.h"

namespace {

const char kUsage[] =
    "Usage: gadrel [options]\n"
    "\n"
    "Shows the live state of every pin of the target behind a debug adapter.\n"
    "\n"
    "Options:\n"
    "  -run_script FILE, /run_script FILE\n"
    "                      run one script without a window and exit\n"
    "                      (exit status 0 when it loaded and ran, 1 otherwise)\n"
    "  --series cortex-m|8051\n"
    "                      choose the chip series without asking\n"
    "  --pin-script PATH   use another pin script instead of Gadrel/gadrel.lua\n"
    "  --render FILE.png [--ticks N]\n"
    "                      run N refresh cycles (default 1) without a window and\n"
    "                      write the package area of the pin view to FILE.png\n"
    "                      and its tooltip regions to FILE.json; nothing waits\n"
    "                      for an answer: questions are answered No on standard\n"
    "                      error, the adapter firmware is not updated\n"
    "  --zoom PERCENT      the pin view's zoom, 80 to 200 in steps of 10 (default\n"
    "                      100), in the window and in --render pictures\n"
    "  --adapter N         with several adapters, take adapter N (as volink\n"
    "                      list numbers them) without asking\n"
    "  --record FILE.vcd --seconds N [--rate MS] [--pins LIST]\n"
    "                      record the pins for N seconds without a window, one\n"
    "                      refresh every MS milliseconds (default 50, at least\n"
    "                      10), and write their history as a Value Change Dump;\n"
    "                      LIST: pin numbers, names and ports (PB*), comma-separated\n"
    "                      (default: all pins)\n"
    "  --timeline LIST     put these pins on the timeline (numbers, names, ports)\n"
    "  --rate MS           without --record: the timeline's capture rate\n"
    "  --gdb-port P        serve gdb on 127.0.0.1:P (Debug > GDB server) on the\n"
    "                      adapter the pin view owns; with --render the view\n"
    "                      refreshes every --rate MS (default 100) and rewrites\n"
    "                      FILE.json after each, until --ticks or gdb leaves\n"
    "  --list-adapters     list the debug adapters found and exit\n"
    "  --version           show the version and the libraries in use\n"
    "  --help              show this text\n";

bool WantsHelp(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--help") || !std::strcmp(argv[i], "-h") ||
        !std::strcmp(argv[i], "-help") || !std::strcmp(argv[i], "/?")) {
      return true;
    }
  }
  return false;
}

// A command line the program cannot follow: the reason and the usage on
// standard error, exit status 1 (as for an option with a bad value).
int UsageError(const std::string& reason) {
  std::fprintf(stderr, "gadrel: %s\n\n%s", reason.c_str(), kUsage);
  return 1;
}

bool WantsVersion(int argc, char** argv) {
  for (int i = 1; i < argc; ++i)
    if (!std::strcmp(argv[i], "--version")) return true;
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  if (WantsHelp(argc, argv)) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (WantsVersion(argc, argv)) {
    // No display needed: nothing of the window system is started.
    std::cout << "gadrel " << platform::ProgramVersion() << "\n"
              << "Qt " << qVersion() << ", " << LUA_RELEASE << ", " << UsbLibraryVersions() << "\n";
    return 0;
  }

  // A mistyped option is said, with the usage, before anything starts.
  if (const std::string unknown = UnknownOption(argc, argv); !unknown.empty()) {
    return UsageError("unknown option " + unknown);
  }

  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--list-adapters")) return RunListAdapters(std::cout, std::cerr);
  }

  CCommandLineInfo2 cmdInfo;
  cmdInfo.Parse(argc, argv);
  if (cmdInfo.m_bRunScript) {
    if (cmdInfo.m_strScriptPath.empty()) return UsageError("-run_script needs a script file");
    // No window and no display: no GUI application object in this mode.
    return RunCommandLineScript(cmdInfo.m_strScriptPath);
  }

  return RunPinViewApplication(argc, argv);
}
