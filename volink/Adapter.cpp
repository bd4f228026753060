#include "volink/Adapter.h"

#include <stdexcept>

#include "ice/CICE.h"
#include "ice/CICE_M0.h"
#include "ice/CICE_M4.h"
#include "ice/CICE_Ostra1T.h"
#include "volink/CommandTable.h"
#include "volink/Invocation.h"
#include "volink/Terminal.h"

namespace volink {

std::unique_ptr<CICE> MakeCoreLayer(Core core) {
  switch (core) {
    case Core::M0: return std::make_unique<CICE_M0>();
    case Core::Ostra8051: return std::make_unique<CICE_Ostra1T>();
    case Core::M4: break;
  }
  return std::make_unique<CICE_M4>();
}

TakenAdapter::TakenAdapter(Invocation& call, std::unique_ptr<CICE> layer, const TakeOptions& options)
    : m_ice(std::move(layer)) {
  m_ice->SetUserInteraction(&call.terminal);
  ice::TakeRequest request;
  request.number = call.options.adapter;
  request.ui = options.askOnTerminal && call.terminal.CanAsk() ? &call.terminal : nullptr;
  request.check = options.check;
  m_result = ice::TakeAdapter(*m_ice, m_owner, request);
  if (m_result.outcome == ice::TakeOutcome::NoAdapter) {
    const std::string denied = m_ice->Discovery().LastReport().PermissionText();
    if (!denied.empty()) call.terminal.Say(denied.substr(0, denied.size() - 1));
  }
  if (!m_result.Taken() && options.throwWhenRefused) Refuse(m_result, call);
}

TakenAdapter::~TakenAdapter() {
  try {
    Release();
  } catch (...) {
  }
}

void TakenAdapter::Release() { ice::ReleaseAdapter(*m_ice, m_owner); }

void Refuse(const ice::TakeResult& result, const Invocation& call) {
  using ice::TakeOutcome;
  switch (result.outcome) {
    case TakeOutcome::NoSuchNumber:
      throw UsageError(result.reason, call.command.name);
    case TakeOutcome::NoAdapter:
    case TakeOutcome::NotAnswering:
    case TakeOutcome::OwnedElsewhere:
    case TakeOutcome::Lost:
      throw CICEException(result.reason);  // the adapter layer's own words
    case TakeOutcome::Taken:
    case TakeOutcome::HiddenByBusy:
    case TakeOutcome::NobodyToAsk:
    case TakeOutcome::Cancelled:
      break;
  }
  throw std::runtime_error(result.reason);
}

}  // namespace volink
