// Taking and giving up an adapter the way every program of the tool family
// does: discovery, selection (repeated while the selection asks for it),
// ownership across processes, the firmware check, and a check that the
// selected adapter still carries the chosen ID.
//
// TakeAdapter is the one entry for programs: it picks the adapter the user
// named or the selection rule chooses (asking through the user interaction
// given), and says why it took none. AcquireAdapter is the sequence under
// it, for callers that bring a selector of their own.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "ice/AdapterSelection.h"

class CICE;
class CICEGlobalMutex;
class IUserInteraction;

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
using AdapterSelector = std::function<SelectResult(CICE&, CICEGlobalMutex&)>;

// Runs the whole sequence; `connectState` receives the selection's result
// (None when another program owns the chosen adapter, which throws
// CICEException with text::kAlreadyRunning, leaving every adapter
// closed and the choice cleared). Afterwards the chosen adapter is the only
// one open, or none is.
void AcquireAdapter(CICE& ice, CICEGlobalMutex& owner, const AdapterSelector& select,
                    IFirmwareCheck* check, SelectResult& connectState);

// Closes every adapter and gives up ownership.
void ReleaseAdapter(CICE& ice, CICEGlobalMutex& owner);

// What a program asks for when it takes an adapter.
struct TakeRequest {
  // Adapter N of the discovery pass (`--adapter N`); none: the selection
  // rule, with the dialog when the user must choose.
  std::optional<unsigned> number;
  // Who runs the dialog (and shows its messages); none: nobody can be
  // asked, and a choice that needs the user ends without an adapter.
  IUserInteraction* ui = nullptr;
  // Run after the selection (none: no firmware check).
  IFirmwareCheck* check = nullptr;
};

// Why a program has no adapter after TakeAdapter.
enum class TakeOutcome {
  Taken,            // the chosen adapter is owned and the only one open
  NoAdapter,        // nothing was found
  NotAnswering,     // an adapter was found but did not answer its identification
  NoSuchNumber,     // the number asked for is beyond the adapters found
  HiddenByBusy,     // the same while an interface is held by another program
                    // (the numbering cannot say which adapter was meant)
  NobodyToAsk,      // several adapters, no user interaction to ask
  Cancelled,        // the user ended the choice without an adapter
  OwnedElsewhere,   // another program owns the chosen adapter
  Lost,             // chosen, but gone or replaced after the firmware check
};

struct TakeResult {
  TakeOutcome outcome = TakeOutcome::NoAdapter;
  // The selection's result, as the adapter objects keep it (AdapterSelection.h).
  SelectResult connectState = SelectResult::Retry;
  // Why not, in the words to show the user; empty when taken.
  std::string reason;

  bool Taken() const { return outcome == TakeOutcome::Taken; }
};

// Discovery, selection, ownership and the firmware check, as the request
// says. Throws only what the adapter layer throws while the chosen adapter
// is identified or checked; every other way of ending without an adapter is
// in the result, with every adapter closed and ownership given up.
TakeResult TakeAdapter(CICE& ice, CICEGlobalMutex& owner, const TakeRequest& request);

}  // namespace ice
