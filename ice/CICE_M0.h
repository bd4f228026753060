// Cortex-M0/M0+ class targets: breakpoint-unit and watchpoint-unit counts
// read once, three watch kinds, and semihosting.
#pragma once

#include "ice/CICE_CortexM.h"

// A semihosting call the target made: r0, r1 and the PC of its BKPT.
struct SemihostingRequest {
  uint32_t r0 = 0;
  uint32_t r1 = 0;
  uint32_t pc = 0;
};

class CICE_M0 : public CICE_CortexM {
 public:
  CICE_M0() = default;
  ~CICE_M0() override;

  uint32_t GetCoreType() override { return 0; }
  bool SetBreakpoint(uint32_t address, int allowedKinds) override;
  void InitBreakUnit() override;
  void InitWatchUnit() override;

  // Whether the core stopped on the semihosting BKPT; fills `request`.
  virtual bool CheckSemihosting(SemihostingRequest* request);
  // Hands the call's result back (registers 0, 1 and the PC).
  virtual void CompleteSemihosting(const SemihostingRequest& request);

 protected:
  uint32_t WatchFunctionFor(uint32_t kind) override;
  bool IsBusy() override { return m_bSemihostingBusy; }

 private:
  int m_nBreakCount = -1;  // read once
  int m_nWatchCount = -1;  // read once
  bool m_bSemihostingBusy = false;
};
