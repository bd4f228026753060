#include "fileio/FileIO.h"

#include <climits>
#include <cstdio>
#include <new>
#include <vector>

bool FileIO::OpenByName(const std::string& /*name*/, std::string& error) {
  error = "not supported";
  return false;
}

int FileIO::VPrintf(const char* format, va_list args) {
  if (!format) return -1;
  // vsnprintf cannot report more than INT_MAX characters, so no buffer needs
  // to be larger than this.
  constexpr size_t kMaxBuffer = static_cast<size_t>(INT_MAX) + 1;

  // Format into 8 bytes first; when the text does not fit, double the buffer
  // from 16 bytes on until it does.
  try {
    std::vector<char> buffer(8);
    for (;;) {
      va_list copy;
      va_copy(copy, args);
      const int n = std::vsnprintf(buffer.data(), buffer.size(), format, copy);
      va_end(copy);
      // A formatting error does not go away with a bigger buffer.
      if (n < 0) return -1;
      const auto length = static_cast<size_t>(n);
      if (length < buffer.size()) return Write(buffer.data(), length) == length ? n : -1;

      size_t size = buffer.size() < 16 ? 16 : buffer.size() * 2;
      while (size <= length && size < kMaxBuffer) size *= 2;
      if (size > kMaxBuffer) return -1;
      buffer.assign(size, '\0');
    }
  } catch (const std::bad_alloc&) {
    return -1;
  }
}

int FileIO::Printf(const char* format, ...) {
  va_list args;
  va_start(args, format);
  const int n = VPrintf(format, args);
  va_end(args);
  return n;
}
