// FileIO over a C runtime FILE* of an ordinary file. Open never blocks and
// refuses what is not a regular file (a folder, a FIFO, a device): the
// error text is then the system's message, or kNotRegular.
#pragma once

#include <cstdio>

#include "fileio/FileIO.h"

class SFileIO : public FileIO {
 public:
  static constexpr const char* kNotRegular = "not a regular file";

  SFileIO() = default;
  ~SFileIO() override;

  bool Open(const MFilePath& path, int mode, std::string& error) override;
  int Seek(int64_t offset, int origin) override;
  int64_t Tell() override;
  size_t Read(void* buffer, size_t length) override;
  size_t Write(const void* buffer, size_t length) override;
  int VPrintf(const char* format, va_list args) override;
  char* Gets(char* buffer, int size) override;
  void Close() override;
  int64_t Size() override;
  int Mode() const override { return m_nMode; }

 private:
  int m_nMode = kModeNone;
  FILE* m_pFile = nullptr;
};
