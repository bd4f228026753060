// Ownership of adapters across the programs of the tool family.
//
// A process owns an adapter while it holds the adapter's named mutex
// ("ICEGlobalMutex%08x", keyed by the adapter's 32-bit ID). Owners also
// register the key in a small shared table (CICEGlobalData) and keep the
// family's presence marker open, so that a program can tell whether the
// programs already running take part in this scheme: when some program of
// the family runs but none of them is registered, ownership is refused.
//
// One object per process, used from the thread that drives the adapter
// layer (the selection dialog's worker only sets the key and asks whether
// an adapter is held while the user-interface thread waits for the dialog).
#pragma once

#include <cstdint>
#include <vector>

#include "platform/COneInstance.h"
#include "platform/COneInstance2.h"
#include "platform/ShareArea.h"
#include "platform/StringTable.h"

// The shared table: 16 keys and their in-use flags (80 bytes, shared with
// other programs: the layout stays as it is).
struct CICEGlobalData {
  static constexpr int kEntries = 16;
  uint32_t dwKey[kEntries];
  uint8_t bInUse[kEntries];
};
static_assert(sizeof(CICEGlobalData) == 80);

class CICEGlobalMutex {
 public:
  static constexpr const char* kTableName = "ICEGlobalData";
  static constexpr const char* kMarkerBase = "KorvaneICEUSB";
  static constexpr const char* kMarkerSuffix = "-5004780a-b256-43f3-88f5-1c1a798e40a2";
  // Base of the mutex that serialises enumeration and switching of adapters.
  static constexpr const char* kGlobalAdapterMutex = "ICEGlobalMutex";

  // Opens the shared table (created zero-filled when new).
  CICEGlobalMutex();
  // Closes the table and the marker and gives up the adapter.
  virtual ~CICEGlobalMutex();
  CICEGlobalMutex(const CICEGlobalMutex&) = delete;
  CICEGlobalMutex& operator=(const CICEGlobalMutex&) = delete;

  // Remembers `id` as the chosen adapter and names the per-adapter mutex after it.
  virtual void SetKey(uint32_t id);
  // Forgets the remembered choice (the mutex name stays).
  virtual void ClearKey();
  virtual bool GetKey(uint32_t* id);
  // Takes the adapter of the key without waiting; IsAcquired tells whether
  // it worked. Already holding that adapter is success; holding another one
  // gives that one up first.
  virtual void Acquire();
  // Unregisters the key, closes the marker and gives up the adapter.
  virtual void Release();
  virtual bool IsAcquired();

  // Whether this object holds the adapter `id`.
  bool IsHolding(uint32_t id);
  // Whether some other thread or process holds the mutex of adapter `id`.
  static bool IsAdapterInUse(uint32_t id);
  // Base name of the per-adapter mutex of `id` ("ICEGlobalMutex%08x").
  static std::string AdapterMutexBase(uint32_t id);

  // The ascending ID set seen by the last selection that compared sets.
  const std::vector<uint32_t>& GetPreviousIds() const { return m_previousIds; }
  void SetPreviousIds(std::vector<uint32_t> ids) { m_previousIds = std::move(ids); }

  // Table entries (caller holds the table's lock).
  // Puts `key` into the first free entry, reclaiming stale entries when all
  // 16 are flagged; false when none could be freed.
  static bool RegisterKey(CICEGlobalData& table, uint32_t key);
  // Clears every entry that holds `key`.
  static void RemoveKey(CICEGlobalData& table, uint32_t key);
  // Live: flagged and its adapter in use. A flagged entry whose adapter is
  // free is stale and is cleared here.
  static bool IsEntryLive(CICEGlobalData& table, int index);

 private:
  std::vector<uint32_t> m_previousIds;
  COneInstance2 m_adapterMutex;
  COneInstance m_marker;
  ShareArea<CICEGlobalData> m_table;
  uint32_t m_dwKey = 0;
  bool m_bKeySet = false;
  bool m_bRegistered = false;
  // The key the adapter mutex was taken for (SetKey may rename it meanwhile).
  uint32_t m_dwHeldKey = 0;
  uint32_t m_dwRegisteredKey = 0;
};
