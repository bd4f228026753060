#include "pinmodel/PackageLayout.h"

#include <algorithm>
#include <cmath>

namespace {

bool IsAcceptedFourSided(size_t k) {
  static constexpr size_t kAccepted[] = {5, 6, 8, 9, 11, 12, 16, 17, 20, 22, 25, 32, 36, 44, 54};
  return std::find(std::begin(kAccepted), std::end(kAccepted), k) != std::end(kAccepted);
}

bool IsAcceptedTwoSided(size_t a) { return a == 5 || a == 7 || a == 10 || a == 14; }

}  // namespace

PackageLayout ComputeLayout(size_t pinCount, int32_t pkgFrame) {
  PackageLayout l;
  switch (pkgFrame) {
    case 1: {
      l.frame = 1;
      const size_t a = pinCount / 2;
      if (!IsAcceptedTwoSided(a)) return l;
      const int ai = static_cast<int>(a);
      l.s1 = 74 + 11.0 * (ai - 5);
      l.s2 = 85;
      l.gap = (l.s1 - 8.0 * ai - 16) / (ai + 1);
      l.perSide = {ai, 0, ai, 0};
      break;
    }
    case 2:
      l.frame = 2;
      if (pinCount != 48) return l;
      l.s1 = l.s2 = 173;
      l.gap = 3;
      l.perSide = {10, 14, 10, 14};
      l.shift = (14 - 10) / 2 * l.Pitch();
      break;
    case 3: {
      l.frame = 3;
      const auto side = static_cast<int>(std::min(std::sqrt(static_cast<double>(pinCount)), double{kMaxGridSide}));
      if (side < 5) return l;
      l.gridSide = side;
      l.s1 = l.s2 = 41.0 * side + 37;
      l.gap = 5;
      break;
    }
    default: {
      l.frame = 0;
      const size_t k = pinCount / 4;
      if (!IsAcceptedFourSided(k)) return l;
      const int ki = static_cast<int>(k);
      l.s1 = l.s2 = std::max(96.0, 74 + 11.0 * (ki - 5));
      l.gap = (l.s1 - 8.0 * ki - 16) / (ki + 1);
      l.perSide = {ki, ki, ki, ki};
      break;
    }
  }
  l.drawable = true;
  return l;
}

CanvasRect PinRect(const PackageLayout& l, PinSide side, int m) {
  const double p = m * l.Pitch();
  switch (side) {
    case PinSide::Bottom:
      return {kBodyX + p + l.shift, kBodyY + l.s2, kPinWidth, kPinLength};
    case PinSide::Right:
      return {kBodyX + l.s1, kBodyY + l.s2 - p - kPinWidth, kPinLength, kPinWidth};
    case PinSide::Top:
      return {kBodyX + l.s1 - p - kPinWidth - l.shift, kBodyY - kPinLength, kPinWidth, kPinLength};
    case PinSide::Left:
      return {kBodyX - kPinLength, kBodyY + p, kPinLength, kPinWidth};
  }
  return {};
}

CanvasRect BallRect(const PackageLayout& l, int r, int c) {
  return {1056 + 36.0 * (r - 1) + 5.0 * r, 824 + l.s2 - 41.0 * c, 36, 36};
}

CanvasRect PinOneMarker(const PackageLayout& l) {
  const double x = kBodyX + l.gap + (l.frame == 1 ? 8 : 16);
  return {x, kBodyY + l.s2 - l.gap - 24, 8, 8};
}

const char* BallColumnLetter(int column) {
  static constexpr const char* kLetters[] = {"A", "B", "C", "D", "E", "F", "G", "H", "J", "K",
                                             "L", "M", "N", "P", "R", "T", "U", "V", "W", "Y"};
  if (column < 1 || column > 20) return "";
  return kLetters[column - 1];
}
