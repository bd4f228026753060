// CVoICE, CVoICE_Ostra1T: adapter ownership on acquire and release, and the core type.
#include "ice/CVoICE.h"

#include "ice/AdapterSelection.h"
#include "ice/CICEGlobalMutex.h"

void CVoOwnership::Acquire(CICE& ice) {
  if (!m_pOwner) return;
  IUserInteraction* ui = ice.GetUserInteraction();
  const ice::AdapterSelector rule = [ui](CICE& c, CICEGlobalMutex& owner) {
    return ice::SelectAdapter(c, owner, ui);
  };
  ice::AcquireAdapter(ice, *m_pOwner, m_select ? m_select : rule, m_pCheck, m_nConnectState);
}

void CVoOwnership::Release(CICE& ice) {
  if (m_pOwner) ice::ReleaseAdapter(ice, *m_pOwner);
}

CVoICE::~CVoICE() = default;
CVoICE_Ostra1T::~CVoICE_Ostra1T() = default;

uint32_t CVoICE::GetCoreType() { return GetParam("ChipName") == "K310Q" ? 0x10F : 0x400; }
