// Named objects shared between processes of one user: a robust, recursive,
// thread-owned mutex and a shared memory record, each kept in a file of the
// per-user folder ($XDG_RUNTIME_DIR/korvane/, else /dev/shm/korvane-<uid>/).
//
// Opening and closing are serialised by a lock file in that folder, so a
// process that dies half-way through creating an object leaves nothing that
// the next opener cannot repair. A file that nobody holds open any more (its
// last user exited or was killed) counts as absent: the next opener
// initialises it afresh, as if it had been created. The last process that
// closes an object removes its file.
//
// The users of a file are counted by open file descriptions (flock), so a
// child forked without exec shares its parent's use; such a child must not
// close named objects it inherited.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

namespace platform {

// The per-user folder, created (0700) on first use; empty when it cannot be
// created or is not a private folder of this user.
std::string NamedObjectDir();

// File name (without folder) used for an object name and a kind suffix.
// Letters, digits, '-', '_' and '.' stay; every other byte becomes %XX; names
// whose file name would be too long end in a hash of the full name.
std::string NamedObjectFileName(const std::string& name, const char* suffix);

enum class OpenStatus { Created, Existed, AccessDenied, Failed };

// A shared, zero-initialised record of a fixed size.
class SharedMemory {
 public:
  SharedMemory() = default;
  ~SharedMemory();
  SharedMemory(const SharedMemory&) = delete;
  SharedMemory& operator=(const SharedMemory&) = delete;

  // Creates or opens the record `name` of `size` bytes and maps it.
  OpenStatus Open(const std::string& name, size_t size);
  void Close();
  bool IsOpen() const { return m_pView != nullptr; }
  void* Data() const { return m_pView; }
  size_t Size() const { return m_nSize; }

 private:
  friend class NamedMutex;
  using InitFn = void (*)(void* view, size_t size);
  OpenStatus OpenFile(const std::string& name, const char* suffix, size_t size, InitFn init);

  int m_fd = -1;
  void* m_pView = nullptr;
  size_t m_nSize = 0;
  std::string m_path;
};

// A named mutex: recursive, owned by a thread, and passed on to the next
// waiter when its owner dies (the waiter then owns it, as with an abandoned
// mutex). Handles of one process share one mapping; a mapping stays while a
// thread of this process holds the mutex.
class NamedMutex {
 public:
  enum class LockResult { Acquired, Abandoned, Timeout, Failed };

  NamedMutex();
  ~NamedMutex();
  NamedMutex(const NamedMutex&) = delete;
  NamedMutex& operator=(const NamedMutex&) = delete;

  // Creates or opens the mutex `name` (not locked). `existedBefore` tells
  // whether some process (this one included) already had it open.
  OpenStatus Open(const std::string& name, bool* existedBefore = nullptr);
  void Close();
  bool IsOpen() const;

  // timeoutMs: 0 = try once, negative = wait forever, else wait at most that.
  LockResult Lock(int timeoutMs);
  // False when the calling thread does not hold the mutex.
  bool Unlock();

 struct Entry;  // one per name and process (NamedObjects.cpp)

 private:
  std::shared_ptr<Entry> m_entry;
};

}  // namespace platform
