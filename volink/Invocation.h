// What a command's handler is given: its checked words, the options every
// command shares, the terminal front end and the output streams.
#pragma once

#include <iosfwd>
#include <memory>

#include "fwupdate/UpdateEngine.h"
#include "volink/Arguments.h"

class CICE;

namespace volink {

struct Command;
class Terminal;

// Settings of a run that are not on the command line (tests shorten the
// update's waits and answer the questions).
struct RunSettings {
  fwupdate::UpdateTimings updateTimings;
  // Where answers are read, and whether someone is there to give them
  // (none: standard input, when it is a terminal).
  std::istream* answers = nullptr;
};

struct Invocation {
  const Command& command;
  const Arguments& args;
  const GlobalOptions& options;
  Terminal& terminal;
  std::ostream& out;
  std::ostream& err;
  const RunSettings& settings;
};

// The adapter layer of the core --core names.
std::unique_ptr<CICE> MakeCoreLayer(Core core);

}  // namespace volink
