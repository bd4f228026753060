#include "app/PinViewAdapters.h"

CPinViewAdapters::CPinViewAdapters(IUserInteraction* ui) {
  m_cortexM.SetUserInteraction(ui);
  m_ostra1T.SetUserInteraction(ui);
}

CPinViewAdapters::~CPinViewAdapters() = default;

CICE* CPinViewAdapters::ForSeries(ChipSeries series) {
  if (series == ChipSeries::Ostra1T) return &m_ostra1T;
  return &m_cortexM;
}

bool CPinViewAdapters::SelectionCancelled() const {
  return m_cortexM.GetConnectState() == ice::SelectResult::Cancelled || m_ostra1T.GetConnectState() == ice::SelectResult::Cancelled;
}
