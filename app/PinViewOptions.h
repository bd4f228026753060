// The pin view's own command-line options (beyond -run_script):
//   --series cortex-m|8051    chip series without the dialog
//   --pin-script PATH         another pin script
//   --render FILE.png         refresh, draw into FILE.png (and FILE.json), exit
//   --ticks N                 refresh cycles before rendering (default 1)
//   --adapter N               with several adapters, adapter N of the discovery
//                             pass (as volink numbers them) without asking
// Both "--opt value" and "--opt=value" work; unknown options are ignored.
#pragma once

#include <optional>
#include <string>

#include "app/PinViewAdapters.h"

// The highest adapter number --adapter takes.
inline constexpr unsigned kMaxAdapterNumber = 255;

struct PinViewOptions {
  std::optional<ChipSeries> series;
  std::string pinScript;
  std::string renderFile;  // empty: window mode
  int ticks = 1;
  std::optional<unsigned> adapter;
};

// Parses argv; false with `error` set for a known option with a missing or
// bad value.
bool ParsePinViewOptions(int argc, const char* const* argv, PinViewOptions& options, std::string& error);

// FILE.png -> FILE.json (any other name gets ".json" appended).
std::string RenderJsonPath(const std::string& pngPath);
