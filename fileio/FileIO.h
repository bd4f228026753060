// A byte stream over a file: the abstract interface readers work against.
// No operation throws; failures are reported by the return values below.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <string>

#include "fileio/MFilePath.h"

class FileIO {
 public:
  enum { kModeRead = 0, kModeWrite = 1, kModeNone = -1 };
  enum { kSeekSet = 0, kSeekCur = 1, kSeekEnd = 2 };

  FileIO() = default;
  FileIO(const FileIO&) = delete;
  FileIO& operator=(const FileIO&) = delete;
  virtual ~FileIO() = default;

  // Opening by a bare name: no stream supports it. Returns false with the
  // error text "not supported".
  virtual bool OpenByName(const std::string& name, std::string& error);

  // Opens `path` for reading (mode 0) or writing (mode 1), closing any open
  // file first. On failure returns false with the system's message in `error`.
  virtual bool Open(const MFilePath& path, int mode, std::string& error) = 0;

  // origin 0 = start, 1 = current position, 2 = end. 0 on success, else -1.
  virtual int Seek(int64_t offset, int origin) = 0;
  // The current position, or -1.
  virtual int64_t Tell() = 0;
  // Bytes read; 0 unless opened for reading.
  virtual size_t Read(void* buffer, size_t length) = 0;
  // Bytes written; 0 unless opened for writing.
  virtual size_t Write(const void* buffer, size_t length) = 0;

  // Formatted output: characters written, or -1. The default formats into a
  // growing buffer (8 bytes, then 16, doubling until the text fits) and
  // writes the text with Write.
  virtual int VPrintf(const char* format, va_list args);

  // One line of at most size - 1 bytes including its '\n'; null at the end,
  // on error or unless opened for reading.
  virtual char* Gets(char* buffer, int size) = 0;
  virtual void Close() = 0;
  // Total length in bytes, leaving the position as it was; -1 when closed.
  virtual int64_t Size() = 0;
  // The mode given to Open, or kModeNone when closed.
  virtual int Mode() const = 0;

  // Convenience over VPrintf.
  int Printf(const char* format, ...) __attribute__((format(printf, 2, 3)));
};
