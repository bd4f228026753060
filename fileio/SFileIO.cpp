#include "fileio/SFileIO.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

SFileIO::~SFileIO() { Close(); }

bool SFileIO::Open(const MFilePath& path, int mode, std::string& error) {
  Close();
  if (mode != kModeRead && mode != kModeWrite) {
    error = std::generic_category().message(EINVAL);
    return false;
  }
  // Opened without blocking: a FIFO would otherwise wait here for a peer
  // that may never come. Only ordinary files are streams; a folder, a FIFO
  // or a device is refused before anything is read from it.
  const int access = mode == kModeRead ? O_RDONLY : O_WRONLY | O_CREAT | O_TRUNC;
  const int fd = ::open(path.c_str(), access | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, 0666);
  if (fd < 0) {
    error = std::generic_category().message(errno ? errno : EIO);
    return false;
  }
  struct stat st {};
  std::string refused;
  if (::fstat(fd, &st) != 0)
    refused = std::generic_category().message(errno);
  else if (S_ISDIR(st.st_mode))
    refused = std::generic_category().message(EISDIR);
  else if (!S_ISREG(st.st_mode))
    refused = kNotRegular;
  else if (const int fl = ::fcntl(fd, F_GETFL); fl < 0 || ::fcntl(fd, F_SETFL, fl & ~O_NONBLOCK) != 0)
    refused = std::generic_category().message(errno);
  FILE* file = refused.empty() ? ::fdopen(fd, mode == kModeRead ? "rb" : "wb") : nullptr;
  if (!file) {
    if (refused.empty()) refused = std::generic_category().message(errno ? errno : EIO);
    ::close(fd);
    error = refused;
    return false;
  }
  m_pFile = file;
  m_nMode = mode;
  return true;
}

int SFileIO::Seek(int64_t offset, int origin) {
  if (!m_pFile) return -1;
  int whence;
  switch (origin) {
    case kSeekSet: whence = SEEK_SET; break;
    case kSeekCur: whence = SEEK_CUR; break;
    case kSeekEnd: whence = SEEK_END; break;
    default: return -1;
  }
  return fseeko(m_pFile, static_cast<off_t>(offset), whence) == 0 ? 0 : -1;
}

int64_t SFileIO::Tell() {
  if (!m_pFile) return -1;
  return static_cast<int64_t>(ftello(m_pFile));
}

size_t SFileIO::Read(void* buffer, size_t length) {
  if (!m_pFile || m_nMode != kModeRead || !buffer) return 0;
  return std::fread(buffer, 1, length, m_pFile);
}

size_t SFileIO::Write(const void* buffer, size_t length) {
  if (!m_pFile || m_nMode != kModeWrite || !buffer) return 0;
  return std::fwrite(buffer, 1, length, m_pFile);
}

int SFileIO::VPrintf(const char* format, va_list args) {
  if (!m_pFile || m_nMode != kModeWrite || !format) return -1;
  return std::vfprintf(m_pFile, format, args);
}

char* SFileIO::Gets(char* buffer, int size) {
  if (!m_pFile || m_nMode != kModeRead || !buffer || size <= 0) return nullptr;
  return std::fgets(buffer, size, m_pFile);
}

void SFileIO::Close() {
  if (m_pFile) {
    std::fclose(m_pFile);
    m_pFile = nullptr;
  }
  m_nMode = kModeNone;
}

int64_t SFileIO::Size() {
  if (!m_pFile) return -1;
  // Read mode: the file's own length, without moving the stream.
  struct stat st {};
  if (m_nMode == kModeRead && ::fstat(fileno(m_pFile), &st) == 0) return static_cast<int64_t>(st.st_size);
  const off_t pos = ftello(m_pFile);
  if (pos < 0 || fseeko(m_pFile, 0, SEEK_END) != 0) return -1;
  const off_t size = ftello(m_pFile);
  if (fseeko(m_pFile, pos, SEEK_SET) != 0) return -1;
  return static_cast<int64_t>(size);
}
