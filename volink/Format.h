// How volink writes numbers: lower-case hexadecimal of a fixed width.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace volink {

// `v` in `width` hex digits, without a prefix: "2000010c".
inline std::string Hex(uint32_t v, int width = 8) {
  char b[16];
  std::snprintf(b, sizeof b, "%0*x", width, v);
  return b;
}

// The same with the 0x prefix: "0x2000010c".
inline std::string Hex0x(uint32_t v, int width = 8) { return "0x" + Hex(v, width); }

}  // namespace volink
