// The application's adapter classes: the Cortex-M4 layer (CVoICE) and the
// 8051 1T layer (CVoICE_Ostra1T) with adapter ownership across processes.
// Both take the process's ownership object (none: acquiring and releasing
// do nothing, as in the base layer) and ask the user through the layer's
// user interaction when there is an adapter to choose.
#pragma once

#include "ice/AdapterAcquire.h"
#include "ice/CICE_M4.h"
#include "ice/CICE_Ostra1T.h"

class CICEGlobalMutex;

// What the two classes share: the ownership object, the firmware check and
// the outcome of the last acquisition.
class CVoOwnership {
 public:
  explicit CVoOwnership(CICEGlobalMutex* owner) : m_pOwner(owner) {}
  // The last selection's result (Retry until one finished; None also when
  // another program owns the chosen adapter).
  ice::SelectResult GetConnectState() const { return m_lastTake.connectState; }
  // The last acquisition: taken, or why not.
  const ice::TakeResult& LastTake() const { return m_lastTake; }
  // The firmware check that AcquireAdapter runs (null: none).
  void SetFirmwareCheck(IFirmwareCheck* check) { m_pCheck = check; }
  // Adapter `number` of the discovery pass instead of the selection rule
  // (none: the rule with the dialog, through the layer's user interaction).
  void SetAdapterNumber(std::optional<unsigned> number) { m_number = number; }
  // Called after each acquisition that took no adapter (may be empty).
  void SetRefusalReport(std::function<void(const ice::TakeResult&)> report) { m_report = std::move(report); }

 protected:
  void Acquire(CICE& ice);
  void Release(CICE& ice);

 private:
  CICEGlobalMutex* m_pOwner;
  IFirmwareCheck* m_pCheck = nullptr;
  std::optional<unsigned> m_number;
  std::function<void(const ice::TakeResult&)> m_report;
  ice::TakeResult m_lastTake;
};

class CVoICE : public CICE_M4, public CVoOwnership {
 public:
  explicit CVoICE(CICEGlobalMutex* owner = nullptr) : CVoOwnership(owner) {}
  ~CVoICE() override;

  // Discovery, selection, ownership, firmware check; throws "An Korvane
  // ICE/ICP program is already running!..." when another program owns the
  // chosen adapter.
  void AcquireAdapter() override { Acquire(*this); }
  // Closes every adapter and gives up ownership.
  void ReleaseAdapter() override { Release(*this); }
  // 0x10F for the chip named "K310Q" (parameter "ChipName"), else 0x400.
  uint32_t GetCoreType() override;
};

class CVoICE_Ostra1T : public CICE_Ostra1T, public CVoOwnership {
 public:
  explicit CVoICE_Ostra1T(CICEGlobalMutex* owner = nullptr) : CVoOwnership(owner) {}
  ~CVoICE_Ostra1T() override;

  void AcquireAdapter() override { Acquire(*this); }
  void ReleaseAdapter() override { Release(*this); }
};
