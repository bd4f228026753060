#include "fileio/SFileIO.h"

#include <sys/stat.h>

#include <cerrno>
#include <system_error>

SFileIO::~SFileIO() { Close(); }

bool SFileIO::Open(const MFilePath& path, int mode, std::string& error) {
  Close();
  if (mode != kModeRead && mode != kModeWrite) {
    error = std::generic_category().message(EINVAL);
    return false;
  }
  errno = 0;
  FILE* file = std::fopen(path.c_str(), mode == kModeRead ? "rb" : "wb");
  if (!file) {
    error = std::generic_category().message(errno ? errno : EIO);
    return false;
  }
  // A folder opens like a file here but reads nothing; refuse it up front.
  struct stat st {};
  if (fstat(fileno(file), &st) == 0 && S_ISDIR(st.st_mode)) {
    std::fclose(file);
    error = std::generic_category().message(EISDIR);
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
  const off_t pos = ftello(m_pFile);
  if (pos < 0 || fseeko(m_pFile, 0, SEEK_END) != 0) return -1;
  const off_t size = ftello(m_pFile);
  if (fseeko(m_pFile, pos, SEEK_SET) != 0) return -1;
  return static_cast<int64_t>(size);
}
