#include "ice/AdapterAcquire.h"

#include "ice/AdapterSelection.h"
#include "ice/CICE.h"
#include "ice/CICEGlobalMutex.h"
#include "platform/StringTable.h"

namespace ice {

void AcquireAdapter(CICE& ice, CICEGlobalMutex& owner, const AdapterSelector& select,
                    IFirmwareCheck* check, SelectResult& connectState) {
  connectState = SelectResult::Retry;
  do {
    ice.CloseAllAdapters();
    ice.DiscoverAdapters(false);
    connectState = select(ice, owner);
  } while (connectState == SelectResult::Retry);

  if (connectState == SelectResult::Chosen) {
    owner.Acquire();
    if (!owner.IsAcquired()) {
      owner.ClearKey();
      connectState = SelectResult::None;
      ice.CloseAllAdapters();
      throw CICEException(text::kAlreadyRunning);
    }
  }
  const bool found = ice.CheckUSBLink();
  if (check && (connectState == SelectResult::Chosen || (connectState == SelectResult::None && !found))) check->Run(ice);

  if (connectState == SelectResult::Chosen && ice.CheckUSBLink()) {
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

namespace {

// Why the pass found fewer adapters than `number` + 1. An interface that
// another program holds hides its adapter from the pass, so the numbering
// cannot say which adapter is meant: that is said.
TakeResult NotFound(CICE& ice, unsigned number) {
  const unsigned found = ice.CheckUSBLink() ? ice.GetDeviceCount() : 0;
  std::string busy;
  for (const OpenProblem& problem : ice.Discovery().OpenProblems())
    if (problem.error == usbdev::OpenError::Busy) busy += "\n  " + DescribeOpenProblem(problem);
  const std::string which = "no adapter " + std::to_string(number) + " (found " + std::to_string(found) + ")";
  if (!busy.empty()) return {TakeOutcome::HiddenByBusy, SelectResult::Cancelled, which + ": an interface is busy (held by another program)" + busy};
  if (found == 0) return {TakeOutcome::NoAdapter, SelectResult::None, text::kNoAdapter};
  return {TakeOutcome::NoSuchNumber, SelectResult::Cancelled, which};
}

}  // namespace

TakeResult TakeAdapter(CICE& ice, CICEGlobalMutex& owner, const TakeRequest& request) {
  TakeResult result;
  std::string idError;  // why a found adapter did not answer its identification
  const AdapterSelector select = [&](CICE& c, CICEGlobalMutex& o) -> SelectResult {
    idError.clear();
    result = {};
    if (!request.number) return SelectAdapter(c, o, request.ui, &idError);
    const unsigned n = *request.number;
    if (n >= (c.CheckUSBLink() ? c.GetDeviceCount() : 0)) {
      o.ClearKey();
      result = NotFound(c, n);
      return result.connectState;
    }
    const SelectResult chosen = SelectAdapterNumber(c, o, n, &idError);
    if (chosen != SelectResult::Chosen && idError.empty()) idError = "adapter " + std::to_string(n) + " does not answer";
    return chosen;
  };
  try {
    AcquireAdapter(ice, owner, select, request.check, result.connectState);
  } catch (const CICEException& e) {
    if (e.GetMessage() != std::string(text::kAlreadyRunning)) throw;
    return {TakeOutcome::OwnedElsewhere, result.connectState, text::kAlreadyRunning};
  }
  const SelectResult state = result.connectState;
  if (state == SelectResult::Chosen && ice.CheckUSBLink()) return {TakeOutcome::Taken, state, {}};
  if (!result.reason.empty()) return result;  // the number was beyond the adapters found
  if (state == SelectResult::Chosen) return {TakeOutcome::Lost, state, text::kNoAdapter};
  if (state == SelectResult::Cancelled && !request.ui) return {TakeOutcome::NobodyToAsk, state, text::kNameOneAdapter};
  if (state == SelectResult::Cancelled) return {TakeOutcome::Cancelled, state, text::kNoAdapterChosen};
  if (!idError.empty()) return {TakeOutcome::NotAnswering, state, idError};
  TakeResult none = NotFound(ice, 0);
  none.connectState = state;
  if (none.outcome == TakeOutcome::NoSuchNumber) none = {TakeOutcome::NoAdapter, state, text::kNoAdapter};
  return none;
}

}  // namespace ice
