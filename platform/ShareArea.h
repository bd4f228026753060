// A named shared record guarded by a named mutex (ShareArea<T>), and a scoped
// lock over a list of such areas (ScopedShareLock).
#pragma once

#include <list>
#include <stdexcept>
#include <string>
#include <type_traits>

#include "platform/COneInstance2.h"
#include "platform/NamedObjects.h"

// Suffix that turns a base name into the record's name.
inline constexpr const char* kShareNameSuffix = "-12d3688b-44c0-412a-85dd-5ebcfea9f503";

template <class T>
class ShareArea {
  static_assert(std::is_trivially_copyable_v<T>, "shared records are plain data");

 public:
  ShareArea() = default;
  virtual ~ShareArea() { Close(); }
  ShareArea(const ShareArea&) = delete;
  ShareArea& operator=(const ShareArea&) = delete;

  // Record name = base + record suffix, mutex name = base + mutex suffix,
  // both cut to 127 characters.
  virtual void SetName(const std::string& base) {
    m_szName = (base + kShareNameSuffix).substr(0, kMaxObjectName);
    m_mutex.SetName(base);
  }

  // Unmaps the record and closes its mutex.
  virtual void Close() {
    m_mutex.Lock(-1);
    m_map.Close();
    m_pView = nullptr;
    m_mutex.Unlock();
    m_mutex.Close();
  }

  // Creates or opens the mutex and the record (zero-filled when new).
  virtual void Open() {
    m_mutex.Create();
    m_mutex.Lock(-1);
    if (!m_map.IsOpen()) {
      const platform::OpenStatus s = m_map.Open(m_szName, sizeof(T));
      if (s == platform::OpenStatus::Created || s == platform::OpenStatus::Existed)
        m_pView = static_cast<T*>(m_map.Data());
    }
    m_mutex.Unlock();
  }

  // The record; throws std::runtime_error "share area not locked" unless this
  // object holds the mutex.
  virtual T* Data() {
    if (!m_mutex.IsLocked()) throw std::runtime_error("share area not locked");
    return m_pView;
  }

  virtual T* LockData() {
    m_mutex.Lock(-1);
    return m_pView;
  }

  // The mapping is coherent between processes; nothing to write back.
  virtual void FlushAndUnlock() { m_mutex.Unlock(); }

  bool IsOpen() const { return m_pView != nullptr; }
  const std::string& GetName() const { return m_szName; }
  COneInstance2& Mutex() { return m_mutex; }

 private:
  platform::SharedMemory m_map;
  T* m_pView = nullptr;
  std::string m_szName;
  COneInstance2 m_mutex;
};

// Locks every area of a list in list order for its scope and unlocks them in
// the same order.
template <class Area>
class ScopedShareLock {
 public:
  explicit ScopedShareLock(std::list<Area>& areas) : m_areas(areas) {
    for (Area& a : m_areas) a.LockData();
  }
  ~ScopedShareLock() {
    for (Area& a : m_areas) a.FlushAndUnlock();
  }
  ScopedShareLock(const ScopedShareLock&) = delete;
  ScopedShareLock& operator=(const ScopedShareLock&) = delete;

 private:
  std::list<Area>& m_areas;
};
