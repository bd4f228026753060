// The pin view's own command-line options (beyond -run_script):
//   --series cortex-m|8051    chip series without the dialog
//   --pin-script PATH         another pin script
//   --render FILE.png         refresh, draw into FILE.png (and FILE.json), exit
//   --ticks N                 refresh cycles before rendering (default 1)
// Both "--opt value" and "--opt=value" work; unknown options are ignored.
#pragma once

#include <optional>
#include <string>

#include "app/PinViewAdapters.h"

struct PinViewOptions {
  std::optional<ChipSeries> series;
  std::string pinScript;
  std::string renderFile;  // empty: window mode
  int ticks = 1;
};

// Parses argv; false with `error` set for a known option with a missing or
// bad value.
bool ParsePinViewOptions(int argc, const char* const* argv, PinViewOptions& options, std::string& error);

// FILE.png -> FILE.json (any other name gets ".json" appended).
std::string RenderJsonPath(const std::string& pngPath);
