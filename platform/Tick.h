// Millisecond tick count of a steady clock.
#pragma once

#include <chrono>
#include <cstdint>

namespace platform {
inline uint64_t TickCountMs() {
  return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                   std::chrono::steady_clock::now().time_since_epoch())
                                   .count());
}
}  // namespace platform
