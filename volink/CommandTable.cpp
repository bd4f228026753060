#include "volink/CommandTable.h"

#include <algorithm>
#include <iterator>
#include <sstream>

#include "volink/Arguments.h"
#include "volink/Handlers.h"

namespace volink {
namespace {

// clang-format off
constexpr Command kCommands[] = {
  {"list",   "", "adapters found by the discovery pass, their IDs and owners", ListCommand},
  {"info",   "", "handshake: generation, firmware, chip id, design, COM port", InfoCommand},
  {"read",   "ADDR [LEN]", "hex dump of LEN bytes of target memory (default 4)", ReadCommand},
  {"write",  "ADDR VALUE...", "write 32-bit words from ADDR", WriteCommand},
  {"regs",   "", "core registers", RegsCommand},
  {"halt",   "", "stop the core; prints where", HaltCommand},
  {"step",   "", "one instruction", StepCommand},
  {"go",     "", "let the core run", GoCommand},
  {"state",  "", "running, stopped (where), idle or power-down", StateCommand},
  {"reset",  "MODE CONNECT", "reset and connect: MODE auto|hw|sysresetreq|vectreset|rescue|none|none2, "
                             "CONNECT normal|pre-reset|under-reset|none|disconnect|icp, or numbers", ResetCommand},
  {"blink",  "", "blink the adapter's lights", BlinkCommand},
  {"loader", "", "restart the adapter into its boot loader", LoaderCommand},
  {"ready",  "", "whether the adapter's firmware reports ready (exit 1 when not)", ReadyCommand},
  {"hold",   "[SECONDS]", "own the adapter until SECONDS pass or standard input ends", HoldCommand},
  {"image",  "FILE [--limit N] [--page N]", "load a firmware image and print its sums", ImageCommand},
  {"bootloader check", "DIR", "compare the adapter's boot loader with DIR's images", BootLoaderCheckCommand},
  {"bootloader id",    "", "the adapter ID from the boot-loader area", BootLoaderIdCommand},
  {"bootloader erase", "", "erase the boot-loader area", BootLoaderEraseCommand},
  {"bootloader write", "DIR", "write DIR's boot-loader images, keeping the ID", BootLoaderWriteCommand},
  {"update", "[--yes|-y] [--image FILE] [--images DIR]", "check the adapter's firmware and update it", UpdateCommand},
};
// clang-format on

constexpr size_t kHelpColumn = 28;

std::vector<std::string> Words(const std::string& name) {
  std::istringstream in(name);
  return {std::istream_iterator<std::string>(in), std::istream_iterator<std::string>()};
}

std::string Synopsis(const Command& c) {
  std::string s = c.name;
  if (*c.args) s += std::string(" ") + c.args;
  return s;
}

}  // namespace

std::span<const Command> CommandTable() { return kCommands; }

const Command* FindCommand(const std::vector<std::string>& words, size_t* used) {
  const Command* best = nullptr;
  size_t bestWords = 0;
  for (const Command& c : kCommands) {
    const std::vector<std::string> name = Words(c.name);
    if (name.size() > words.size() || name.size() <= bestWords) continue;
    if (std::equal(name.begin(), name.end(), words.begin())) {
      best = &c;
      bestWords = name.size();
    }
  }
  if (used) *used = bestWords;
  return best;
}

std::string UsageLines(const std::string& name) {
  std::string lines;
  for (const Command& c : kCommands)
    if (name == c.name) return UsageLine(c) + "\n";
  for (const Command& c : kCommands)
    if (std::string(c.name).rfind(name + " ", 0) == 0) lines += UsageLine(c) + "\n";
  return lines;
}

std::string UsageLine(const Command& command) {
  return std::string("usage: volink ") + kGlobalUsage + " " + Synopsis(command);
}

std::string HelpText() {
  std::string text = std::string("usage: volink ") + kGlobalUsage + " COMMAND [ARGS]\n";
  for (const Command& c : kCommands) {
    std::string line = "  " + Synopsis(c);
    if (line.size() + 2 > kHelpColumn)
      line += "\n" + std::string(kHelpColumn, ' ');
    else
      line.resize(kHelpColumn, ' ');
    text += line + c.help + "\n";
  }
  text += "  --version                 the version and the USB libraries in use\n"
          "Numbers are decimal or 0x hexadecimal. Every command but list and image owns its\n"
          "adapter while it runs: --adapter N names it (as list numbers them); with several\n"
          "adapters and no --adapter it asks on the terminal.\n";
  return text;
}

}  // namespace volink
