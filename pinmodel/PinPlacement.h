// Where everything of a package goes on the canvas at one zoom: the body,
// the name, every pin with its number and function texts, every ball, and
// the tooltip regions. Computed once per package and zoom from the package
// and a text-measuring callback; painting draws these placements, and
// hit-testing and the render output read them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "pinmodel/PackageInfo.h"
#include "pinmodel/PackageLayout.h"

// Longest function text drawn per part of a column (UTF-16 units); the rest
// could never be on the canvas.
constexpr int kMaxColumnChars = 400;
// Longest tooltip text a region keeps (bytes).
constexpr size_t kMaxTipTextBytes = 16 * 1024;
// Longest pin number drawn (UTF-16 units).
constexpr int kMaxPinNumberChars = 7;

// The fonts texts are measured in: pin numbers and function texts, and the
// package name (a block whose line breaks start new lines).
enum class TextFont { Pin, Name };

// Pin: the advance of the text on one line and the font's line height.
// Name: the width of the widest line and the height of all lines.
struct TextExtent {
  double width = 0;
  double height = 0;
};

using TextMeasure = std::function<TextExtent(TextFont font, std::string_view utf8)>;

// A rectangle in canvas pixels at the placement's zoom.
struct PixelRect {
  double x = 0, y = 0, w = 0, h = 0;

  double Right() const { return x + w; }
  double Bottom() const { return y + h; }
  bool IsEmpty() const { return w <= 0 || h <= 0; }
  bool Intersects(const PixelRect& o) const {
    return !IsEmpty() && !o.IsEmpty() && x < o.Right() && o.x < Right() && y < o.Bottom() && o.y < Bottom();
  }
  // The smallest rectangle holding both (an empty one adds nothing).
  PixelRect United(const PixelRect& o) const;
  PixelRect Adjusted(double margin) const { return {x - margin, y - margin, w + 2 * margin, h + 2 * margin}; }
  bool operator==(const PixelRect&) const = default;
};

// One piece of text in one colour. Horizontal text: (x, y) is the top-left
// corner of its layout box. Vertical text (turned a quarter clockwise,
// reading downwards): its layout box spans x .. x + line height and starts
// at y + along.
struct TextRun {
  std::string text;
  uint32_t color = 0;
  double x = 0, y = 0;
  double along = 0;
  bool operator==(const TextRun&) const = default;
};

struct PinPlacement {
  size_t pin = 0;                   // index into PackageInfo::pins
  PinSide side = PinSide::Bottom;
  bool vertical = false;            // texts run down the canvas (bottom and top)
  PixelRect box;                    // the pin itself
  TextRun number;                   // in pin_no_color
  std::vector<TextRun> column;      // function texts, the highlighted one in its colour
  PixelRect region;                 // tooltip region
  PixelRect staticBounds;           // box and column, with a margin for antialiasing
  PixelRect dynamicBounds;          // box and number, with the same margin
  bool operator==(const PinPlacement&) const = default;
};

struct BallPlacement {
  size_t pin = 0;
  PixelRect ball;
  std::string label;                // the highlighted function, in two lines of five
};

// Row numbers and column letters of a ball grid, centred in their band.
struct GridLabel {
  PixelRect band;
  std::string text;
};

struct PackagePlacement {
  float zoom = 1.0f;
  bool showAllFunctions = true;
  PackageLayout layout;             // not drawable: only the information line shows
  PixelRect body;
  PixelRect marker;                 // pin-1 marker (not on ball grids)
  TextRun name;                     // a block in the name font
  PixelRect nameBox;
  std::vector<PinPlacement> pins;   // in drawing order (sorted pin numbers)
  std::vector<BallPlacement> balls;
  std::vector<GridLabel> gridLabels;
  std::vector<TipRegion> regions;   // the name, then every pin or ball, in drawing order
};

struct PlacementOptions {
  float zoom = 1.0f;
  bool showAllFunctions = true;
};

// Places `info` at `options.zoom`; `measure` gives text sizes in canvas
// pixels at that zoom.
PackagePlacement PlacePackage(const PackageInfo& info, const PlacementOptions& options, const TextMeasure& measure);

// The region containing canvas point (x, y) strictly inside, with a
// non-empty text; the first in drawing order. Null when there is none.
const TipRegion* HitTest(const std::vector<TipRegion>& regions, int x, int y);

// A tooltip region's text: tooltips never show more than kMaxTipTextBytes.
std::string TipText(const std::string& s);
