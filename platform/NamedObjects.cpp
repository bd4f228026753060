#include "platform/NamedObjects.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>

namespace platform {
namespace {

constexpr const char* kFolderName = "korvane";
constexpr size_t kMaxFileName = 200;

bool PrivateFolder(const std::string& dir) {
  if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) return false;
  struct stat st {};
  if (::lstat(dir.c_str(), &st) != 0) return false;
  return S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() && (st.st_mode & 077) == 0;
}

// Holds the folder's lock file for the lifetime of the guard; every open and
// close of a named object happens under it.
class FolderLock {
 public:
  explicit FolderLock(const std::string& dir) {
    m_fd = ::open((dir + "/.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (m_fd < 0) return;
    while (::flock(m_fd, LOCK_EX) != 0) {
      if (errno != EINTR) {
        ::close(m_fd);
        m_fd = -1;
        return;
      }
    }
  }
  ~FolderLock() {
    if (m_fd >= 0) ::close(m_fd);  // closing drops the lock
  }
  FolderLock(const FolderLock&) = delete;
  FolderLock& operator=(const FolderLock&) = delete;
  bool Held() const { return m_fd >= 0; }

 private:
  int m_fd = -1;
};

int FlockRetry(int fd, int op) {
  int rc;
  do rc = ::flock(fd, op);
  while (rc != 0 && errno == EINTR);
  return rc;
}

struct MutexBlock {
  uint32_t magic;
  uint32_t reserved;
  pthread_mutex_t mutex;
};
constexpr uint32_t kMutexMagic = 0x4D58474B;  // "KGXM"

void InitMutexBlock(void* view, size_t) {
  auto* block = static_cast<MutexBlock*>(view);
  pthread_mutexattr_t attr;
  pthread_mutexattr_init(&attr);
  pthread_mutexattr_setpshared(&attr, PTHREAD_PROCESS_SHARED);
  pthread_mutexattr_setrobust(&attr, PTHREAD_MUTEX_ROBUST);
  pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
  pthread_mutex_init(&block->mutex, &attr);
  pthread_mutexattr_destroy(&attr);
  block->magic = kMutexMagic;
}

}  // namespace

std::string NamedObjectDir() {
  const char* xdg = std::getenv("XDG_RUNTIME_DIR");
  if (xdg && xdg[0] == '/') {
    std::string dir = std::string(xdg) + "/" + kFolderName;
    if (PrivateFolder(dir)) return dir;
  }
  std::string dir = "/dev/shm/" + std::string(kFolderName) + "-" + std::to_string(::geteuid());
  return PrivateFolder(dir) ? dir : std::string();
}

std::string NamedObjectFileName(const std::string& name, const char* suffix) {
  std::string out;
  for (unsigned char c : name) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
        c == '_' || (c == '.' && !out.empty())) {
      out += static_cast<char>(c);
    } else {
      char hex[4];
      std::snprintf(hex, sizeof hex, "%%%02X", c);
      out += hex;
    }
  }
  if (out.size() > kMaxFileName) {
    uint64_t h = 1469598103934665603ULL;  // FNV-1a of the full name
    for (unsigned char c : name) h = (h ^ c) * 1099511628211ULL;
    char tail[24];
    std::snprintf(tail, sizeof tail, "~%016llx", static_cast<unsigned long long>(h));
    out = out.substr(0, kMaxFileName - 17) + tail;
  }
  return out + suffix;
}

// ---------------------------------------------------------------- SharedMemory

SharedMemory::~SharedMemory() { Close(); }

OpenStatus SharedMemory::Open(const std::string& name, size_t size) {
  return OpenFile(name, ".shm", size, nullptr);
}

OpenStatus SharedMemory::OpenFile(const std::string& name, const char* suffix, size_t size,
                                  InitFn init) {
  Close();
  if (size == 0) return OpenStatus::Failed;
  const std::string dir = NamedObjectDir();
  if (dir.empty()) return OpenStatus::Failed;
  FolderLock folder(dir);
  if (!folder.Held()) return OpenStatus::Failed;

  const std::string path = dir + "/" + NamedObjectFileName(name, suffix);
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return errno == EACCES || errno == EPERM ? OpenStatus::AccessDenied : OpenStatus::Failed;
  auto fail = [fd](OpenStatus s) {
    ::close(fd);
    return s;
  };
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return fail(OpenStatus::Failed);
  if (st.st_uid != ::geteuid()) return fail(OpenStatus::AccessDenied);

  // Every user holds a shared lock on the file. Getting it exclusively means
  // nobody uses it: it is new, or left behind by processes that died, or by
  // a creator that died half-way. In each case start from zero.
  bool fresh = false;
  if (FlockRetry(fd, LOCK_EX | LOCK_NB) == 0) {
    fresh = true;
    if (::ftruncate(fd, 0) != 0 || ::ftruncate(fd, static_cast<off_t>(size)) != 0)
      return fail(OpenStatus::Failed);
    if (FlockRetry(fd, LOCK_SH) != 0) return fail(OpenStatus::Failed);
  } else {
    if (FlockRetry(fd, LOCK_SH) != 0) return fail(OpenStatus::Failed);
    if (static_cast<size_t>(st.st_size) < size && ::ftruncate(fd, static_cast<off_t>(size)) != 0)
      return fail(OpenStatus::Failed);
  }
  void* view = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  if (view == MAP_FAILED) return fail(OpenStatus::Failed);
  if (fresh && init) init(view, size);
  m_fd = fd;
  m_pView = view;
  m_nSize = size;
  m_path = path;
  return fresh ? OpenStatus::Created : OpenStatus::Existed;
}

void SharedMemory::Close() {
  if (m_fd < 0) return;
  const std::string dir = m_path.substr(0, m_path.rfind('/'));
  FolderLock folder(dir);
  ::munmap(m_pView, m_nSize);
  // The last user removes the file (still under the folder lock, so no
  // opener can be between opening the file and taking its shared lock).
  // The inode check keeps a file that replaced ours from being removed.
  if (folder.Held() && FlockRetry(m_fd, LOCK_EX | LOCK_NB) == 0) {
    struct stat mine {}, named {};
    if (::fstat(m_fd, &mine) == 0 && ::lstat(m_path.c_str(), &named) == 0 &&
        mine.st_ino == named.st_ino && mine.st_dev == named.st_dev)
      ::unlink(m_path.c_str());
  }
  ::close(m_fd);
  m_fd = -1;
  m_pView = nullptr;
  m_nSize = 0;
  m_path.clear();
}

// ------------------------------------------------------------------ NamedMutex

// One mapping per mutex name and process. The table is process-wide state by
// necessity: two mappings of one robust mutex in one process would let the
// kernel's list of held robust mutexes point into a mapping that is gone.
struct NamedMutex::Entry {
  std::string key;  // file path
  SharedMemory file;
  std::atomic<int> held{0};  // lock levels held by threads of this process
  MutexBlock* Block() const { return static_cast<MutexBlock*>(file.Data()); }
};

namespace {
std::mutex& RegistryLock() {
  static std::mutex m;
  return m;
}
std::map<std::string, std::shared_ptr<NamedMutex::Entry>>& Registry() {
  static std::map<std::string, std::shared_ptr<NamedMutex::Entry>> r;
  return r;
}
}  // namespace

NamedMutex::NamedMutex() = default;
NamedMutex::~NamedMutex() { Close(); }

OpenStatus NamedMutex::Open(const std::string& name, bool* existedBefore) {
  Close();
  // Keyed by file, so that a change of the per-user folder makes a new object.
  const std::string dir = NamedObjectDir();
  if (dir.empty()) return OpenStatus::Failed;
  const std::string key = dir + "/" + NamedObjectFileName(name, ".mutex");
  std::lock_guard<std::mutex> guard(RegistryLock());
  auto& reg = Registry();
  if (auto it = reg.find(key); it != reg.end()) {
    m_entry = it->second;
    if (existedBefore) *existedBefore = true;
    return OpenStatus::Existed;
  }
  auto entry = std::make_shared<Entry>();
  entry->key = key;
  const OpenStatus s =
      entry->file.OpenFile(name, ".mutex", sizeof(MutexBlock), &InitMutexBlock);
  if (s == OpenStatus::Created || s == OpenStatus::Existed) {
    if (entry->Block()->magic != kMutexMagic) return OpenStatus::Failed;
    reg.emplace(key, entry);
    m_entry = std::move(entry);
  }
  if (existedBefore) *existedBefore = (s == OpenStatus::Existed);
  return s;
}

void NamedMutex::Close() {
  if (!m_entry) return;
  std::lock_guard<std::mutex> guard(RegistryLock());
  // Registry + this handle: the last handle of the process. Keep the mapping
  // while some thread here still holds the mutex.
  if (m_entry.use_count() == 2 && m_entry->held.load() == 0) {
    Registry().erase(m_entry->key);
    m_entry->file.Close();
  }
  m_entry.reset();
}

bool NamedMutex::IsOpen() const { return m_entry != nullptr; }

NamedMutex::LockResult NamedMutex::Lock(int timeoutMs) {
  if (!m_entry) return LockResult::Failed;
  pthread_mutex_t* m = &m_entry->Block()->mutex;
  int rc;
  if (timeoutMs == 0) {
    rc = pthread_mutex_trylock(m);
  } else if (timeoutMs < 0) {
    rc = pthread_mutex_lock(m);
  } else {
    struct timespec ts {};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    ts.tv_sec += timeoutMs / 1000;
    ts.tv_nsec += static_cast<long>(timeoutMs % 1000) * 1000000L;
    if (ts.tv_nsec >= 1000000000L) {
      ts.tv_sec += 1;
      ts.tv_nsec -= 1000000000L;
    }
    rc = pthread_mutex_clocklock(m, CLOCK_MONOTONIC, &ts);
  }
  switch (rc) {
    case 0:
      ++m_entry->held;
      return LockResult::Acquired;
    case EOWNERDEAD:
      pthread_mutex_consistent(m);
      ++m_entry->held;
      return LockResult::Abandoned;
    case EBUSY:
    case ETIMEDOUT:
      return LockResult::Timeout;
    default:
      return LockResult::Failed;
  }
}

bool NamedMutex::Unlock() {
  if (!m_entry) return false;
  if (pthread_mutex_unlock(&m_entry->Block()->mutex) != 0) return false;
  --m_entry->held;
  return true;
}

}  // namespace platform
