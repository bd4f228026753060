// A read-only FileIO over bytes in memory, for feeding the image loader
// without files. Open succeeds for any path; the bytes are the content.
#pragma once

#include <algorithm>
#include <cstring>
#include <span>

#include "fileio/FileIO.h"

class MemoryFileIO : public FileIO {
 public:
  explicit MemoryFileIO(std::span<const uint8_t> bytes) : m_bytes(bytes) {}
  bool Open(const MFilePath&, int mode, std::string& error) override {
    if (mode != kModeRead) {
      error = "read only";
      return false;
    }
    m_open = true;
    m_pos = 0;
    return true;
  }
  int Seek(int64_t offset, int origin) override {
    if (!m_open) return -1;
    const int64_t base = origin == kSeekSet ? 0 : origin == kSeekCur ? m_pos : static_cast<int64_t>(m_bytes.size());
    if (base + offset < 0) return -1;
    m_pos = base + offset;
    return 0;
  }
  int64_t Tell() override { return m_open ? m_pos : -1; }
  size_t Read(void* buffer, size_t length) override {
    if (!m_open || m_pos >= static_cast<int64_t>(m_bytes.size())) return 0;
    const size_t n = std::min(length, m_bytes.size() - static_cast<size_t>(m_pos));
    std::memcpy(buffer, m_bytes.data() + m_pos, n);
    m_pos += static_cast<int64_t>(n);
    return n;
  }
  size_t Write(const void*, size_t) override { return 0; }
  char* Gets(char*, int) override { return nullptr; }
  void Close() override { m_open = false; }
  int64_t Size() override { return m_open ? static_cast<int64_t>(m_bytes.size()) : -1; }
  int Mode() const override { return m_open ? kModeRead : kModeNone; }

 private:
  std::span<const uint8_t> m_bytes;
  bool m_open = false;
  int64_t m_pos = 0;
};
