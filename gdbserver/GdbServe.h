// The command-line front of the GDB server: serves one adapter object until
// SIGINT or SIGTERM, telling the user which `target` command to give gdb.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>

class CICE;

namespace gdb {

// Listens on `address`:`port`, prints the target line to `out` (flushed) and
// what happens to `err`; returns 0 after a signal, 1 when it cannot listen
// (the reason on `err`).
int ServeUntilSignalled(CICE& ice, const std::string& address, uint16_t port, std::ostream& out,
                        std::ostream& err);

}  // namespace gdb
