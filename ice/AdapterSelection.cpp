#include "ice/AdapterSelection.h"

#include <algorithm>

#include "ice/CICE.h"
#include "ice/CICEGlobalMutex.h"
#include "ice/VoLinkSelectModel.h"
#include "platform/COneInstance2.h"

namespace ice {
namespace {

// Holds the global adapter mutex for a scope (goes on unlocked when it
// cannot be taken).
class GlobalAdapterLock {
 public:
  GlobalAdapterLock() {
    m_mutex.SetName(CICEGlobalMutex::kGlobalAdapterMutex);
    m_mutex.CreateAndLock(-1);
  }
  ~GlobalAdapterLock() {
    try {
      m_mutex.UnlockAndClose();
    } catch (...) {
      m_mutex.Close();
    }
  }
  GlobalAdapterLock(const GlobalAdapterLock&) = delete;
  GlobalAdapterLock& operator=(const GlobalAdapterLock&) = delete;

 private:
  COneInstance2 m_mutex;
};

}  // namespace

bool HasDuplicateIds(const std::vector<uint32_t>& ids) {
  std::vector<uint32_t> sorted = ids;
  std::sort(sorted.begin(), sorted.end());
  return std::adjacent_find(sorted.begin(), sorted.end()) != sorted.end();
}

std::vector<uint32_t> CollectAdapterIds(CICE& ice, std::vector<unsigned>* indices, std::string* error) {
  std::vector<uint32_t> ids;
  if (indices) indices->clear();
  if (!ice.CheckUSBLink()) return ids;
  GlobalAdapterLock lock;
  const unsigned current = ice.GetSelectedAdapter();
  const unsigned count = ice.GetDeviceCount();
  for (unsigned i = 0; i < count; ++i) {
    try {
      ice.SelectAdapter(i);
      ice.ResetCmdSerial(0xFFFFFFFF);
      ids.push_back(ice.ReadAdapterId());
      if (indices) indices->push_back(i);
    } catch (const CICEException& e) {
      // An adapter that does not answer cannot be chosen.
      if (error) *error = e.GetMessage();
    }
  }
  ice.SelectAdapter(current);
  return ids;
}

void SelectAdapterIndex(CICE& ice, unsigned index) {
  GlobalAdapterLock lock;
  ice.SelectAdapter(index);
}

SelectResult SelectAdapterNumber(CICE& ice, CICEGlobalMutex& owner, unsigned number, std::string* error) {
  std::vector<unsigned> index;
  const std::vector<uint32_t> ids = CollectAdapterIds(ice, &index, error);
  for (size_t i = 0; i < ids.size(); ++i) {
    if (index[i] != number) continue;
    SelectAdapterIndex(ice, number);
    owner.SetKey(ids[i]);
    return SelectResult::Chosen;
  }
  owner.ClearKey();
  return SelectResult::None;
}

SelectResult SelectAdapter(CICE& ice, CICEGlobalMutex& owner, IUserInteraction* ui, std::string* error) {
  // An adapter left out shifts the list against the adapter numbering:
  // position i of the list is adapter index[i].
  std::vector<unsigned> index;
  const std::vector<uint32_t> ids = CollectAdapterIds(ice, &index, error);
  if (ids.empty()) {
    owner.ClearKey();
    return SelectResult::None;
  }
  uint32_t remembered = 0;
  const bool haveRemembered = owner.GetKey(&remembered);
  if (!haveRemembered && ids.size() == 1) {
    owner.SetPreviousIds(ids);
    SelectAdapterIndex(ice, index[0]);
    owner.SetKey(ids[0]);
    return SelectResult::Chosen;
  }
  std::vector<uint32_t> sorted = ids;
  std::sort(sorted.begin(), sorted.end());
  if (sorted == owner.GetPreviousIds() && haveRemembered && !HasDuplicateIds(ids)) {
    for (size_t i = 0; i < ids.size(); ++i) {
      if (ids[i] == remembered && !CICEGlobalMutex::IsAdapterInUse(ids[i])) {
        SelectAdapterIndex(ice, index[i]);
        owner.SetKey(ids[i]);
        return SelectResult::Chosen;
      }
    }
  }
  owner.SetPreviousIds(sorted);

  VoLinkSelectModel dialog(ice, owner, ids, index, -1);
  if (auto* asker = dynamic_cast<IAdapterUserInteraction*>(ui))
    asker->AdapterSelectDialog(dialog);
  else
    IAdapterUserInteraction::DefaultAdapterSelectDialog(dialog);
  dialog.Finish();
  if (dialog.WorkerFailed()) {
    owner.ClearKey();
    return SelectResult::Retry;
  }
  if (dialog.EndedWithoutChoice()) {
    owner.ClearKey();
    return SelectResult::Cancelled;
  }
  const int i = dialog.SelectedIndex();
  if (i >= 0 && static_cast<size_t>(i) < ids.size()) {
    SelectAdapterIndex(ice, index[static_cast<size_t>(i)]);
    owner.SetKey(ids[static_cast<size_t>(i)]);
    return SelectResult::Chosen;
  }
  owner.ClearKey();
  return SelectResult::None;
}

}  // namespace ice
