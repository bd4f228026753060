// Choosing one adapter among those the discovery pass found: collecting
// their IDs, the decision rule with the remembered choice, and selecting by
// index. Enumeration and switching of adapters happen under the family's
// global adapter mutex, so that two programs never switch at the same time.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class CICE;
class CICEGlobalMutex;
class IUserInteraction;

namespace ice {

// The result of a selection, also the connect state an adapter object
// keeps (Retry until its first selection finished).
enum class SelectResult : int {
  Chosen = 0,     // an adapter was chosen and selected
  None = 1,       // no adapter answered, or no valid selection
  Cancelled = 2,  // cancelled, or the too-many / duplicate-ID message
  Retry = 3,      // the dialog's worker failed: discover again and repeat
};

// IDs of the adapters found, in adapter index order; an adapter that fails
// to answer is left out, and `indices` (when given) receives the adapter
// index of each ID and `error` (when given) the message of the last adapter
// that failed. Empty when nothing is found.
std::vector<uint32_t> CollectAdapterIds(CICE& ice, std::vector<unsigned>* indices = nullptr,
                                        std::string* error = nullptr);

// Selects adapter `index` under the global adapter mutex.
void SelectAdapterIndex(CICE& ice, unsigned index);

// The decision rule; runs the dialog through `ui` when the user must
// choose (a `ui` that is no IAdapterUserInteraction, or none: the dialog
// ends without a choice). Sets or clears the key of
// `owner`. `error` receives the message of an adapter that failed to answer.
SelectResult SelectAdapter(CICE& ice, CICEGlobalMutex& owner, IUserInteraction* ui, std::string* error = nullptr);

// Chooses adapter `number` of the discovery pass (as `--adapter N` names
// it) without the rule and without a dialog: selects it, makes its ID the
// key and returns SelectResult::Chosen. When it is not there or does not answer,
// clears the key and returns SelectResult::None; `error` then receives why the
// adapter did not answer (if it was there).
SelectResult SelectAdapterNumber(CICE& ice, CICEGlobalMutex& owner, unsigned number, std::string* error = nullptr);

// Whether `ids` holds some ID twice.
bool HasDuplicateIds(const std::vector<uint32_t>& ids);

}  // namespace ice
