// volink: command-line probe over the adapter command layer, with the
// firmware-image and boot-loader commands.
#include <iostream>
#include <string>
#include <vector>

#include "fwupdate/VolinkFwCommands.h"
#include "ice/VolinkTool.h"
#include "platform/ProgramInfo.h"
#include "usb/UsbLibraryVersions.h"

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (!args.empty() && args[0] == "--version") {
    std::cout << "volink " << platform::ProgramVersion() << "\n" << UsbLibraryVersions() << "\n";
    return 0;
  }
  const int status = RunVolinkFirmwareCommand(args, std::cout, std::cerr);
  if (status >= 0) return status;
  const int volinkStatus = RunVolink(args, std::cout, std::cerr);
  if (!args.empty() && (args[0] == "--help" || args[0] == "-h" || args[0] == "help"))
    std::cout << kVolinkFirmwareUsage << "  --version                 the version and the USB libraries in use\n";
  return volinkStatus;
}
