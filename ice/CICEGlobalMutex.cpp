#include "ice/CICEGlobalMutex.h"

#include <cstdio>

namespace {

// Holds the table's lock for a scope; Data() throws "share area not locked"
// when the lock could not be taken.
class TableLock {
 public:
  explicit TableLock(ShareArea<CICEGlobalData>& area) : m_area(area) { m_area.LockData(); }
  ~TableLock() { m_area.FlushAndUnlock(); }
  TableLock(const TableLock&) = delete;
  TableLock& operator=(const TableLock&) = delete;
  // The table, or null when its mapping could not be created.
  CICEGlobalData* Table() { return m_area.Data(); }

 private:
  ShareArea<CICEGlobalData>& m_area;
};

}  // namespace

std::string CICEGlobalMutex::AdapterMutexBase(uint32_t id) {
  char name[32];
  std::snprintf(name, sizeof name, "ICEGlobalMutex%08x", id);
  return name;
}

CICEGlobalMutex::CICEGlobalMutex() {
  m_marker.SetName(std::string(kMarkerBase) + kMarkerSuffix);
  m_table.SetName(kTableName);
  m_table.Open();
}

CICEGlobalMutex::~CICEGlobalMutex() {
  // Our entry goes with us rather than waiting to be found stale.
  try {
    if (m_bRegistered) Release();
  } catch (...) {
  }
  m_table.Close();
  m_marker.Close();
  try {
    m_adapterMutex.UnlockAndClose();
  } catch (...) {
    m_adapterMutex.Close();
  }
}

void CICEGlobalMutex::SetKey(uint32_t id) {
  m_adapterMutex.SetName(AdapterMutexBase(id));
  m_dwKey = id;
  m_bKeySet = true;
}

void CICEGlobalMutex::ClearKey() { m_bKeySet = false; }

bool CICEGlobalMutex::GetKey(uint32_t* id) {
  if (!m_bKeySet) return false;
  if (id) *id = m_dwKey;
  return true;
}

bool CICEGlobalMutex::IsAcquired() { return m_adapterMutex.IsLocked(); }

bool CICEGlobalMutex::IsHolding(uint32_t id) { return IsAcquired() && m_dwHeldKey == id; }

bool CICEGlobalMutex::IsAdapterInUse(uint32_t id) {
  COneInstance2 mutex;
  mutex.SetName(AdapterMutexBase(id));
  mutex.Create();
  if (!mutex.Lock(0)) {
    mutex.Close();
    return true;
  }
  mutex.Unlock();
  mutex.Close();
  return false;
}

bool CICEGlobalMutex::RegisterKey(CICEGlobalData& table, uint32_t key) {
  auto firstFree = [&table]() {
    for (int i = 0; i < CICEGlobalData::kEntries; ++i)
      if (table.bInUse[i] == 0) return i;
    return -1;
  };
  int index = firstFree();
  if (index < 0) {
    for (int i = 0; i < CICEGlobalData::kEntries; ++i)
      if (!IsAdapterInUse(table.dwKey[i])) table.bInUse[i] = 0;
    index = firstFree();
    if (index < 0) return false;
  }
  table.dwKey[index] = key;
  table.bInUse[index] = 1;
  return true;
}

void CICEGlobalMutex::RemoveKey(CICEGlobalData& table, uint32_t key) {
  for (int i = 0; i < CICEGlobalData::kEntries; ++i)
    if (table.bInUse[i] != 0 && table.dwKey[i] == key) table.bInUse[i] = 0;
}

bool CICEGlobalMutex::IsEntryLive(CICEGlobalData& table, int index) {
  if (table.bInUse[index] == 0) return false;
  if (IsAdapterInUse(table.dwKey[index])) return true;
  table.bInUse[index] = 0;
  return false;
}

void CICEGlobalMutex::Acquire() {
  if (IsAcquired()) {
    if (m_dwHeldKey == m_dwKey) return;
    Release();
  }
  m_adapterMutex.SetName(AdapterMutexBase(m_dwKey));
  m_adapterMutex.CreateAndLock(0);
  if (!m_adapterMutex.IsLocked()) return;  // another process owns it
  m_dwHeldKey = m_dwKey;

  bool owned = false;
  try {
    TableLock lock(m_table);
    CICEGlobalData* table = lock.Table();
    // The marker is opened under the table's lock, and owners close it under
    // that lock: whoever finds it open also finds the entry of its opener.
    m_marker.CreateShared();
    if (m_marker.IsCreated()) {
      if (!m_marker.ExistedBefore()) {
        owned = true;  // nobody else of the family runs
      } else if (table) {
        for (int i = 0; i < CICEGlobalData::kEntries && !owned; ++i) owned = IsEntryLive(*table, i);
      }
      if (owned && table && RegisterKey(*table, m_dwKey)) {
        m_bRegistered = true;
        m_dwRegisteredKey = m_dwKey;
      }
      if (!owned) m_marker.Close();
    }
  } catch (...) {
    m_marker.Close();
    m_adapterMutex.UnlockAndClose();
    throw;
  }
  if (!owned) m_adapterMutex.UnlockAndClose();
}

void CICEGlobalMutex::Release() {
  if (m_bRegistered) {
    m_bRegistered = false;
    TableLock lock(m_table);
    if (CICEGlobalData* table = lock.Table()) RemoveKey(*table, m_dwRegisteredKey);
    m_marker.Close();
  }
  m_marker.Close();
  m_adapterMutex.UnlockAndClose();
}
