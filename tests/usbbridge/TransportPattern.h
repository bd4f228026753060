// The data the real-transport tests write and compare: a pattern that
// differs in every byte of a packet and between seeds, and a hash of it.
#pragma once

#include <cstdint>
#include <vector>

namespace transporttest {

inline std::vector<uint8_t> Pattern(uint32_t length, uint32_t seed) {
  std::vector<uint8_t> v(length);
  uint32_t x = seed * 2654435761u + 1;
  for (uint32_t i = 0; i < length; ++i) {
    x ^= x << 13, x ^= x >> 17, x ^= x << 5;
    v[i] = static_cast<uint8_t>(x >> 7);
  }
  return v;
}

inline uint64_t Fnv1a(const std::vector<uint8_t>& data) {
  uint64_t h = 1469598103934665603ull;
  for (uint8_t b : data) h = (h ^ b) * 1099511628211ull;
  return h;
}

}  // namespace transporttest
