// `volink`: a command-line probe over the adapter command layer.
//
//   volink [--adapter N] [--core m0|m4|8051] COMMAND [ARGS]
//   list | info | read ADDR [LEN] | write ADDR VALUE... | regs |
//   halt | step | go | state | reset MODE CONNECT | blink | loader | ready
//
// Errors print the layer's message and give exit status 1; so does an
// adapter number beyond those found while an interface is busy (held by
// another program), naming that interface. Usage errors give status 2.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

int RunVolink(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
