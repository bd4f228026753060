// A named, recursive mutex shared by the programs of the tool family. The
// object counts how often it holds the mutex; nested Lock calls need as many
// Unlock calls.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/NamedObjects.h"

// Suffix that turns a base name into the mutex name.
inline constexpr const char* kMutexNameSuffix = "-5004780a-b256-43f3-88f5-1c1a798e40b3";
// Names are cut to this many characters.
inline constexpr size_t kMaxObjectName = 127;

class COneInstance2 {
 public:
  COneInstance2();
  // Releases one level if held, then closes the handle.
  virtual ~COneInstance2();
  COneInstance2(const COneInstance2&) = delete;
  COneInstance2& operator=(const COneInstance2&) = delete;

  // name = base + mutex suffix, cut to 127 characters.
  virtual void SetName(const std::string& base);
  // Creates or opens the named mutex (not owned); only without a handle and
  // with a lock count of 0. Access denied leaves the object without a handle.
  virtual void Create();
  virtual void Close();
  // Waits up to timeoutMs (negative = forever); without a handle the lock
  // count becomes 0 and nothing is waited for. True when a level was taken.
  virtual bool Lock(int timeoutMs);
  // Releases one level; throws std::runtime_error
  // "ReleaseMutex(m_hMutexOneInstance)" when the release is refused.
  virtual void Unlock();
  virtual void CreateAndLock(int timeoutMs);
  virtual void UnlockAndClose();
  virtual bool IsLocked() const;

  bool HasHandle() const { return m_hMutexOneInstance != nullptr; }
  const std::string& GetName() const { return m_szName; }
  // Whether the mutex already existed when Create last opened it.
  bool ExistedBefore() const { return m_bExistedBefore; }
  // Whether the last successful Lock took over a mutex whose owner died.
  bool WasAbandoned() const { return m_bAbandoned; }

 private:
  std::unique_ptr<platform::NamedMutex> m_hMutexOneInstance;
  uint32_t m_dwLockCount = 0;
  std::string m_szName;
  bool m_bExistedBefore = false;
  bool m_bAbandoned = false;
};
