#include "pinmodel/PackageLayout.h"

#include <algorithm>
#include <cmath>

namespace {

// Pins a side of the four-sided and of the two-sided frame.
constexpr size_t kFourSidedAccepted[] = {5, 6, 8, 9, 11, 12, 16, 17, 20, 22, 25, 32, 36, 44, 54};
constexpr size_t kTwoSidedAccepted[] = {5, 7, 10, 14};
constexpr int kMinGridSide = 5;

bool IsAcceptedFourSided(size_t k) {
  return std::find(std::begin(kFourSidedAccepted), std::end(kFourSidedAccepted), k) != std::end(kFourSidedAccepted);
}

bool IsAcceptedTwoSided(size_t a) {
  return std::find(std::begin(kTwoSidedAccepted), std::end(kTwoSidedAccepted), a) != std::end(kTwoSidedAccepted);
}

// "a, b, c or d" of the pin counts `perSide` pins a side and `sides` sides make.
template <size_t N>
std::string CountList(const size_t (&perSide)[N], size_t sides) {
  std::string text;
  for (size_t i = 0; i < N; ++i) {
    if (i > 0) text += i + 1 == N ? " or " : ", ";
    text += std::to_string(perSide[i] * sides);
  }
  return text;
}

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
      if (side < kMinGridSide) return l;
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

std::string UndrawableReason(size_t pinCount, int32_t pkgFrame) {
  if (ComputeLayout(pinCount, pkgFrame).drawable) return {};
  std::string frame, takes;
  switch (pkgFrame) {
    case 1:
      frame = "a two-sided frame";
      takes = CountList(kTwoSidedAccepted, 2);
      break;
    case 2:
      frame = "the 48-pin frame";
      takes = "48";
      break;
    case 3:
      frame = "a ball-grid frame";
      takes = std::to_string(kMinGridSide * kMinGridSide) + " or more";
      break;
    default:
      frame = "a four-sided frame";
      takes = CountList(kFourSidedAccepted, 4);
      break;
  }
  return std::to_string(pinCount) + (pinCount == 1 ? " pin" : " pins") + " cannot be drawn in " + frame +
         "; it takes " + takes;
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
