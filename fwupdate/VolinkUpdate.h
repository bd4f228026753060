// `volink update [--yes] [--image FILE] [--images DIR]`: the firmware check
// and update of the window on the command line. The adapter is taken as
// the window takes it, its firmware compared with the program's, questions
// asked on the terminal (--yes answers Yes to each; without a terminal the
// default No is taken), and the update runs with a progress bar on
// standard error. Exit 0 when the adapter ends up with the program's
// firmware, 1 with the reason otherwise.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "fwupdate/UpdateEngine.h"

// `args` are the arguments after "update".
int RunVolinkUpdate(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// The same with the engine's waits given (tests).
int RunVolinkUpdate(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                    const fwupdate::UpdateTimings& timings);
