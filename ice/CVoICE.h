// The application's adapter classes. Adapter ownership across processes
// (AcquireAdapter, ReleaseAdapter) is added on top of these; until then both
// do nothing, as in the base layer.
#pragma once

#include "ice/CICE_M4.h"
#include "ice/CICE_Ostra1T.h"

class CVoICE : public CICE_M4 {
 public:
  CVoICE() = default;
  ~CVoICE() override;

  void AcquireAdapter() override {}
  void ReleaseAdapter() override {}
  // 0x10F for the chip named "K310Q" (parameter "ChipName"), else 0x400.
  uint32_t GetCoreType() override;
};

class CVoICE_Ostra1T : public CICE_Ostra1T {
 public:
  CVoICE_Ostra1T() = default;
  ~CVoICE_Ostra1T() override;

  void AcquireAdapter() override {}
  void ReleaseAdapter() override {}
};
