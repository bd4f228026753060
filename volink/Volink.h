// `volink`: the command-line probe, image and firmware-update tool over the
// adapter layer. RunVolink is the whole program but --version: it parses the
// command line, runs the command and returns the exit status (0 done, 1 a
// failure with its reason on `err`, 2 a mistake in the command line with
// the command's usage line).
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "volink/Invocation.h"

int RunVolink(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
              const volink::RunSettings& settings = {});
