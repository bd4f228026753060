#include "ice/AdapterAcquire.h"

#include "ice/AdapterSelection.h"
#include "ice/CICE.h"
#include "ice/CICEGlobalMutex.h"

namespace ice {

void AcquireAdapter(CICE& ice, CICEGlobalMutex& owner, const AdapterSelector& select,
                    IFirmwareCheck* check, int& connectState) {
  connectState = kSelectRetry;
  do {
    ice.CloseAllAdapters();
    ice.DiscoverAdapters(false);
    connectState = select(ice, owner);
  } while (connectState == kSelectRetry);

  if (connectState == kSelectChosen) {
    owner.Acquire();
    if (!owner.IsAcquired()) {
      owner.ClearKey();
      connectState = kSelectNone;
      ice.CloseAllAdapters();
      throw CICEException(CICEGlobalMutex::kAlreadyRunning);
    }
  }
  const bool found = ice.CheckUSBLink();
  if (check && (connectState == kSelectChosen || (connectState == kSelectNone && !found))) check->Run(ice);

  if (connectState == kSelectChosen && ice.CheckUSBLink()) {
    uint32_t key = 0;
    const bool haveKey = owner.GetKey(&key);
    try {
      // The adapter answering now must be the one that was chosen (it may
      // have been swapped meanwhile).
      if (haveKey && ice.ReadAdapterId() == key) {
        ice.ReleaseOtherAdapters();
        return;
      }
    } catch (...) {
      ice.CloseAllAdapters();
      owner.Release();
      throw;
    }
  }
  ice.CloseAllAdapters();
  owner.Release();
}

void ReleaseAdapter(CICE& ice, CICEGlobalMutex& owner) {
  ice.CloseAllAdapters();
  owner.Release();
}

}  // namespace ice
