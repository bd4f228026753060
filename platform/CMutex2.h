// In-process recursive lock (CMutex2) and its scope guard (ScopedMutex).
// Threads waiting for the lock get it in the order they asked, so a thread
// that takes it again and again cannot keep another out for longer than one
// of its turns.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

class CMutex2 {
 public:
  CMutex2() = default;
  CMutex2(const CMutex2&) = delete;
  CMutex2& operator=(const CMutex2&) = delete;

  // The owning thread only counts up; any other thread waits its turn.
  void Lock();
  // One level down; the last level lets the next thread in.
  void Unlock();
  // Levels the calling thread holds (0 when another thread or nobody holds it).
  unsigned GetCount() const;
  bool IsHeldByCurrentThread() const;

 private:
  std::mutex m_mutex;  // guards the tickets
  std::condition_variable m_turn;
  uint64_t m_nNextTicket = 0;
  uint64_t m_nServing = 0;
  std::atomic<std::thread::id> m_owner{};
  std::atomic<bool> m_bHeld{false};
  unsigned m_nCount = 0;
};

// mode 0: locks for the scope. mode 1: lets go of every level the calling
// thread holds for the scope and takes them back afterwards.
class ScopedMutex {
 public:
  enum { kLock = 0, kRelease = 1 };
  explicit ScopedMutex(CMutex2& lock, int mode = kLock);
  ~ScopedMutex();
  ScopedMutex(const ScopedMutex&) = delete;
  ScopedMutex& operator=(const ScopedMutex&) = delete;

 private:
  CMutex2& m_lock;
  int m_nMode;
  unsigned m_nSaved = 0;
};
