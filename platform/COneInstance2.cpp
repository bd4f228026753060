#include "platform/COneInstance2.h"

#include <stdexcept>

COneInstance2::COneInstance2() = default;

COneInstance2::~COneInstance2() { Close(); }

void COneInstance2::SetName(const std::string& base) {
  m_szName = (base + kMutexNameSuffix).substr(0, kMaxObjectName);
}

void COneInstance2::Create() {
  if (m_hMutexOneInstance || m_dwLockCount != 0) return;
  auto mutex = std::make_unique<platform::NamedMutex>();
  bool existed = false;
  const platform::OpenStatus s = mutex->Open(m_szName, &existed);
  if (s != platform::OpenStatus::Created && s != platform::OpenStatus::Existed) return;
  m_bExistedBefore = existed;
  m_hMutexOneInstance = std::move(mutex);
}

void COneInstance2::Close() {
  // A handle that goes away gives back every level it still holds: nobody
  // could release them later, and other processes would wait for ever.
  for (; m_dwLockCount > 0 && m_hMutexOneInstance; --m_dwLockCount) m_hMutexOneInstance->Unlock();
  m_dwLockCount = 0;
  m_hMutexOneInstance.reset();
}

bool COneInstance2::Lock(int timeoutMs) {
  if (!m_hMutexOneInstance) {
    m_dwLockCount = 0;
    return false;
  }
  using R = platform::NamedMutex::LockResult;
  const R r = m_hMutexOneInstance->Lock(timeoutMs);
  if (r != R::Acquired && r != R::Abandoned) return false;
  m_bAbandoned = (r == R::Abandoned);
  ++m_dwLockCount;
  return true;
}

void COneInstance2::Unlock() {
  if (m_dwLockCount == 0) return;
  --m_dwLockCount;
  if (!m_hMutexOneInstance || !m_hMutexOneInstance->Unlock())
    throw std::runtime_error("ReleaseMutex(m_hMutexOneInstance)");
}

void COneInstance2::CreateAndLock(int timeoutMs) {
  Create();
  Lock(timeoutMs);
  if (m_dwLockCount == 0) Close();
}

void COneInstance2::UnlockAndClose() {
  Unlock();
  Close();
}

bool COneInstance2::IsLocked() const { return m_dwLockCount != 0; }
