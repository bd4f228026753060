// Taking and giving up an adapter the way every program of the tool family
// does: discovery, selection (repeated while the selection asks for it),
// ownership across processes, the firmware check, and a check that the
// selected adapter still carries the chosen ID.
#pragma once

#include <functional>

class CICE;
class CICEGlobalMutex;

// The adapter firmware check that taking an adapter runs. The default does
// nothing; the firmware update plugs its check in here.
class IFirmwareCheck {
 public:
  virtual ~IFirmwareCheck() = default;
  virtual void Run(CICE& /*ice*/) {}
};

namespace ice {

// Picks an adapter and sets or clears the key of the ownership object;
// returns a selection result (AdapterSelection.h).
using AdapterSelector = std::function<int(CICE&, CICEGlobalMutex&)>;

// Runs the whole sequence; `connectState` receives the selection's result
// (and 1 when another program owns the chosen adapter, which throws
// CICEException with CICEGlobalMutex::kAlreadyRunning, leaving every adapter
// closed and the choice cleared). Afterwards the chosen adapter is the only
// one open, or none is.
void AcquireAdapter(CICE& ice, CICEGlobalMutex& owner, const AdapterSelector& select,
                    IFirmwareCheck* check, int& connectState);

// Closes every adapter and gives up ownership.
void ReleaseAdapter(CICE& ice, CICEGlobalMutex& owner);

}  // namespace ice
