// Where the parts of a package go on the canvas: the body size, the gap
// between pins, how many pins each side holds and the rectangle of every pin
// or ball. All values are canvas units at zoom 1.0.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

enum class PinSide { Bottom = 0, Right = 1, Top = 2, Left = 3 };

struct CanvasRect {
  double x = 0, y = 0, w = 0, h = 0;
};

struct PackageLayout {
  bool drawable = false;
  int frame = 0;                       // 0 four-sided, 1 two-sided, 2 48-pin, 3 ball grid
  double s1 = 0, s2 = 0;               // body width and height
  double gap = 0;                      // space between pins (ball spacing for grids)
  std::array<int, 4> perSide{};        // bottom, right, top, left
  double shift = 0;                    // shift of the bottom and top rows (48-pin frame)
  int gridSide = 0;                    // balls per row and column (ball grid)

  double Pitch() const { return gap + 8; }
};

// The body's top-left corner and the size of a pin.
constexpr double kBodyX = 1040;
constexpr double kBodyY = 840;
constexpr double kPinWidth = 8;
constexpr double kPinLength = 24;

// Balls per row and column of the largest ball grid drawn; pins beyond it
// are left out like the pins beyond the square of a smaller grid.
constexpr int kMaxGridSide = 64;

// Layout for `pinCount` pins drawn as frame kind `pkgFrame` (values other
// than 1, 2, 3 are the four-sided frame). Not drawable when the count does
// not fit the frame.
PackageLayout ComputeLayout(size_t pinCount, int32_t pkgFrame);

// Why `pinCount` pins of frame kind `pkgFrame` are not drawn, in one line
// ("40 pins cannot be drawn in a two-sided frame; it takes 10, 14, 20 or
// 28"); empty when ComputeLayout draws them.
std::string UndrawableReason(size_t pinCount, int32_t pkgFrame);

// Rectangle of pin `m` (1-based along its side) on `side`.
CanvasRect PinRect(const PackageLayout& layout, PinSide side, int m);

// Bounding square of ball (r, c): r = column from the left, c = row from the
// bottom, both 1-based.
CanvasRect BallRect(const PackageLayout& layout, int r, int c);

// Top-left corner of the pin-1 marker's bounding square (diameter 8).
CanvasRect PinOneMarker(const PackageLayout& layout);

// Column letter of a ball grid ("A".."Y" without I, O, Q, S, X, Z), empty
// beyond column 20.
const char* BallColumnLetter(int column);
