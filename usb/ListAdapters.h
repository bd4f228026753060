// `gadrel --list-adapters`: runs the discovery pass without a window and
// prints one line per opened device and one per device that could not be
// opened, with the reason.
#pragma once

#include <iosfwd>

class CUsbDiscovery;

// Prints the devices of a discovery pass that has already run.
void PrintAdapters(CUsbDiscovery& discovery, std::ostream& out);

// Runs the pass and prints; 0 when at least one adapter was found, else 1
// (the "not found" message then goes to `err`).
int RunListAdapters(std::ostream& out, std::ostream& err);
