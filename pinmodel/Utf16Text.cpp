#include "pinmodel/Utf16Text.h"

namespace {

bool IsContinuation(unsigned char c) { return (c & 0xC0) == 0x80; }

// Bytes and UTF-16 units of the character that starts at s[i].
struct Char {
  size_t bytes;
  size_t units;
};

Char NextChar(std::string_view s, size_t i) {
  const auto c = static_cast<unsigned char>(s[i]);
  size_t need = 0;
  size_t units = 1;
  unsigned char lo = 0x80, hi = 0xBF;  // range of the second byte
  if (c < 0x80) return {1, 1};
  if (c >= 0xC2 && c <= 0xDF) {
    need = 1;
  } else if (c >= 0xE0 && c <= 0xEF) {
    need = 2;
    if (c == 0xE0) lo = 0xA0;
    if (c == 0xED) hi = 0x9F;  // no surrogates
  } else if (c >= 0xF0 && c <= 0xF4) {
    need = 3;
    units = 2;
    if (c == 0xF0) lo = 0x90;
    if (c == 0xF4) hi = 0x8F;
  } else {
    return {1, 1};
  }
  if (i + need >= s.size()) return {1, 1};
  const auto second = static_cast<unsigned char>(s[i + 1]);
  if (second < lo || second > hi) return {1, 1};
  for (size_t k = 2; k <= need; ++k) {
    if (!IsContinuation(static_cast<unsigned char>(s[i + k]))) return {1, 1};
  }
  return {need + 1, units};
}

}  // namespace

size_t Utf16Length(std::string_view s) {
  size_t units = 0;
  for (size_t i = 0; i < s.size();) {
    const Char ch = NextChar(s, i);
    i += ch.bytes;
    units += ch.units;
  }
  return units;
}

std::string_view Utf16Left(std::string_view s, size_t units) {
  size_t i = 0, used = 0;
  while (i < s.size()) {
    const Char ch = NextChar(s, i);
    if (used + ch.units > units) break;
    i += ch.bytes;
    used += ch.units;
  }
  return s.substr(0, i);
}
