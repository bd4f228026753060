// The package description a pin script returns, as the pin view keeps it,
// and the tooltip regions recorded while the package is drawn.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct PinInfo {
  std::string pin_no;               // pin number as text; order key
  std::vector<std::string> texts;   // the pin's functions, in order
  std::string highlight_text;       // the function now active
  uint32_t pin_no_color = 0xFF000000;
  uint32_t normal_color = 0xFF000000;
  uint32_t highlight_color = 0xFF000000;
  uint32_t pin_bg_color = 0xFFFFFFFF;
  int32_t direction = 0;            // 0 none, 1 in, 2 out, 3 dot, 4 both
  int32_t status = 64;              // 65 'A' high, 66 'B' low, else no mark
  std::string information;          // tooltip text
  bool pullup = false;

  bool operator==(const PinInfo&) const = default;
};

struct PackageInfo {
  std::string name;
  uint32_t name_color = 0xFF000000;
  std::string information;          // message line drawn in red
  std::vector<PinInfo> pins;        // in the order the script gave
  std::string processor;            // tooltip of the package name
  int32_t pkg_frame = 0;

  void Reset() { *this = PackageInfo{}; }
  bool operator==(const PackageInfo&) const = default;
};

// Frame kinds of "pkg_frame"; any other value draws as kFourSided.
enum PackageFrame : int32_t {
  kFrameFourSided = 0,
  kFrameTwoSided = 1,
  kFrame48 = 2,
  kFrameBallGrid = 3,
};

// A rectangle in canvas pixels at the current zoom with its tooltip text.
struct TipRegion {
  float x = 0;
  float y = 0;
  float width = 0;
  float height = 0;
  std::string text;
};

// The decimal integer at the start of a pin number ("12A" -> 12, "A1" -> 0,
// "-3" -> -3); saturates instead of overflowing.
int64_t PinNumberValue(const std::string& pinNo);

// A copy of `pins` sorted by PinNumberValue, ascending.
std::vector<PinInfo> SortedPins(const std::vector<PinInfo>& pins);
// The same order as pointers into `pins`.
std::vector<const PinInfo*> SortedPinOrder(const std::vector<PinInfo>& pins);
