// The pin view's own command-line options (beyond -run_script):
//   --series cortex-m|8051    chip series without the dialog
//   --pin-script PATH         another pin script
//   --render FILE.png         refresh, draw into FILE.png (and FILE.json), exit
//   --ticks N                 refresh cycles before rendering (default 1)
//   --zoom PERCENT            the view's zoom, 80 to 200 in steps of 10 (default 100)
//   --adapter N               with several adapters, adapter N of the discovery
//                             pass (as volink numbers them) without asking
//   --record FILE.vcd         record the pins without a window, write FILE.vcd, exit
//   --seconds N               how long to record (0.1 to 86400 s; needed with --record)
//   --rate MS                 period of the refreshes recorded (10 to 60000 ms, default 50);
//                             in the window, the timeline's capture rate
//   --pins LIST               pins to write: numbers, names, ports ("PB*"); default all
//   --timeline LIST           pins put on the timeline once the package is known
//   --gdb-port P              serve gdb on 127.0.0.1:P (0: any free port) on the
//                             view's adapter object ("Debug > GDB server"); with
//                             --render the refreshes are paced (--rate, default
//                             100 ms) and the regions rewritten after each, until
//                             --ticks refreshes or the gdb client that came leaves
// Both "--opt value" and "--opt=value" work; other arguments are skipped here
// (the program refuses unknown options before it gets this far).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "app/PinViewAdapters.h"

// The highest adapter number --adapter takes.
inline constexpr unsigned kMaxAdapterNumber = 255;
constexpr int kDefaultRecordRateMs = 50;
constexpr int kMinRecordRateMs = 10;
constexpr int kMaxRecordRateMs = 60000;
constexpr double kMaxRecordSeconds = 86400;
constexpr double kMinRecordSeconds = 0.1;

struct PinViewOptions {
  std::optional<ChipSeries> series;
  std::string pinScript;
  std::string renderFile;  // empty: window mode
  int ticks = 1;
  int zoomTenths = 10;
  std::optional<unsigned> adapter;
  std::string recordFile;  // empty: no recording
  double seconds = 0;
  int rateMs = kDefaultRecordRateMs;
  bool rateGiven = false;
  std::string pins;        // empty: all pins
  std::string timeline;    // pins for the timeline at start
  std::optional<uint16_t> gdbPort;  // serve gdb on this port
};

// Parses argv; false with `error` set for a known option with a missing or
// bad value.
bool ParsePinViewOptions(int argc, const char* const* argv, PinViewOptions& options, std::string& error);

// FILE.png -> FILE.json (any other name gets ".json" appended).
std::string RenderJsonPath(const std::string& pngPath);
