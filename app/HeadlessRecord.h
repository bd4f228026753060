// --record: records the pins for a while without a window and writes the
// history as a Value Change Dump.
#pragma once

#include <string>

#include "app/PinViewOptions.h"
#include "pinhistory/VcdWriter.h"

class CVoGadrelView;

// The program and version written into every dump.
VcdHeader GadrelVcdHeader();

// Refreshes `view` every options.rateMs for options.seconds, recording every
// refresh, then writes options.pins (all pins when empty) to
// options.recordFile. Returns the exit status; errors go to standard error.
int RunHeadlessRecord(CVoGadrelView& view, const PinViewOptions& options);

// Writes the dump of `pins` of `history` to `path`; false with `error` set.
bool ExportVcd(const PinHistory& history, const std::vector<size_t>& pins, const std::string& path,
               std::string& error);
