// The command table of `volink`: one row per command (its name, its words,
// one line of help and its handler). Dispatch, the usage lines and --help
// are all made from it. A new command is one row here and a handler in a
// file of its own, declared in Handlers.h.
#pragma once

#include <span>
#include <string>
#include <vector>

namespace volink {

struct Invocation;

// Runs the command; returns the exit status (0 done, 1 failed). Throws
// UsageError for a mistake in the words, anything else for a failure.
using Handler = int (*)(Invocation&);

struct Command {
  const char* name;  // one or two words: "read", "bootloader check"
  const char* args;  // its words (Arguments.h): "ADDR [LEN]"
  const char* help;  // one line
  Handler run;
};

std::span<const Command> CommandTable();

// The row whose name starts `words`, the longest such; `used` receives the
// number of words the name takes. Null when there is none.
const Command* FindCommand(const std::vector<std::string>& words, size_t* used);

// "usage: volink [--adapter N] [--core m0|m4|8051] read ADDR [LEN]"
std::string UsageLine(const Command& command);

// The usage lines of the row named `name`, or of every row whose name
// starts with the word `name` ("bootloader"); empty when there is none.
std::string UsageLines(const std::string& name);

// The whole help text: the usage, one line per command, the notes.
std::string HelpText();

}  // namespace volink
