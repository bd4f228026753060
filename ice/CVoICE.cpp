// CVoICE, CVoICE_Ostra1T: adapter ownership on acquire and release, and the core type.
#include "ice/CVoICE.h"

#include "ice/CICEGlobalMutex.h"

void CVoOwnership::Acquire(CICE& ice) {
  if (!m_pOwner) return;
  m_lastTake = ice::TakeAdapter(ice, *m_pOwner, {m_number, ice.GetUserInteraction(), m_pCheck});
  if (!m_lastTake.Taken() && m_report) m_report(m_lastTake);
  if (m_lastTake.outcome == ice::TakeOutcome::OwnedElsewhere) throw CICEException(m_lastTake.reason);
}

void CVoOwnership::Release(CICE& ice) {
  if (m_pOwner) ice::ReleaseAdapter(ice, *m_pOwner);
}

CVoICE::~CVoICE() = default;
CVoICE_Ostra1T::~CVoICE_Ostra1T() = default;

uint32_t CVoICE::GetCoreType() { return GetParam("ChipName") == "K310Q" ? 0x10F : 0x400; }
