#include "volink/Volink.h"

#include <iostream>
#include <memory>

#include "ice/CICEException.h"
#include "platform/ProgramInfo.h"
#include "usb/UsbLibraryVersions.h"
#include "volink/CommandTable.h"
#include "volink/Terminal.h"

using namespace volink;

int RunVolink(const std::vector<std::string>& argsIn, std::ostream& out, std::ostream& err,
              const RunSettings& settings) {
  try {
    std::vector<std::string> words = argsIn;
    const GlobalOptions options = TakeGlobalOptions(words);
    if (options.version) {
      out << "volink " << platform::ProgramVersion() << "\n" << UsbLibraryVersions() << "\n";
      return 0;
    }
    if (options.help || (!words.empty() && words[0] == "help")) {
      out << HelpText();
      return 0;
    }
    if (words.empty()) throw UsageError(options.mistake.empty() ? "no command" : options.mistake);
    size_t used = 0;
    const Command* command = FindCommand(words, &used);
    if (!command && !UsageLines(words[0]).empty()) throw UsageError("no such command", words[0]);
    if (!command) throw UsageError("unknown command: " + words[0]);
    if (!options.mistake.empty()) throw UsageError(options.mistake, command->name);
    const Arguments args(command->name, command->args, {words.begin() + static_cast<std::ptrdiff_t>(used), words.end()});
    std::unique_ptr<Terminal> terminal = settings.answers
                                             ? std::make_unique<Terminal>(*settings.answers, err, true, false)
                                             : std::make_unique<Terminal>(err);
    Invocation call{*command, args, options, *terminal, out, err, settings};
    return command->run(call);
  } catch (const UsageError& e) {
    const std::string usage = e.Command().empty() ? "" : UsageLines(e.Command());
    err << "volink: " << (usage.empty() ? "" : e.Command() + ": ") << e.what() << "\n" << (usage.empty() ? HelpText() : usage);
    return 2;
  } catch (const CICEException& e) {
    err << e.GetMessage() << "\n";
    return 1;
  } catch (const std::exception& e) {
    err << "volink: " << e.what() << "\n";
    return 1;
  }
}
