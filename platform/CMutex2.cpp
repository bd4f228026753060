#include "platform/CMutex2.h"

void CMutex2::Lock() {
  if (IsHeldByCurrentThread()) {
    ++m_nCount;
    return;
  }
  {
    std::unique_lock lock(m_mutex);
    const uint64_t ticket = m_nNextTicket++;
    m_turn.wait(lock, [&] { return m_nServing == ticket; });
  }
  m_owner.store(std::this_thread::get_id());
  m_nCount = 1;
  m_bHeld.store(true);
}

void CMutex2::Unlock() {
  if (!IsHeldByCurrentThread() || m_nCount == 0) return;
  if (--m_nCount == 0) {
    m_bHeld.store(false);
    m_owner.store(std::thread::id());
    {
      std::lock_guard lock(m_mutex);
      ++m_nServing;
    }
    m_turn.notify_all();
  }
}

unsigned CMutex2::GetCount() const { return IsHeldByCurrentThread() ? m_nCount : 0; }

bool CMutex2::IsHeldByCurrentThread() const {
  return m_bHeld.load() && m_owner.load() == std::this_thread::get_id();
}

ScopedMutex::ScopedMutex(CMutex2& lock, int mode) : m_lock(lock), m_nMode(mode) {
  m_lock.Lock();
  if (m_nMode == kRelease) {
    m_nSaved = m_lock.GetCount();
    for (unsigned i = 0; i < m_nSaved; ++i) m_lock.Unlock();
  }
}

ScopedMutex::~ScopedMutex() {
  if (m_nMode == kRelease) {
    for (unsigned i = 0; i < m_nSaved; ++i) m_lock.Lock();
  }
  m_lock.Unlock();
}
