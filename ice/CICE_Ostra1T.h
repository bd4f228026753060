// 8051 1T targets: hardware breakpoints only, kept as a list of at most
// eight addresses that is sent to the adapter's slots (entry i to slot i + 1)
// before every run; no software breakpoints, no semihosting, no core kind.
#pragma once

#include <vector>

#include "ice/CICE.h"

class CICE_Ostra1T : public CICE {
 public:
  static constexpr size_t kMaxBreakpoints = 8;

  CICE_Ostra1T() = default;
  ~CICE_Ostra1T() override;

  uint32_t GetCoreType() override { return 0x800; }
  void MCUFreeRun() override;
  void ResetAndRun() override {}
  unsigned GetBreakUnitCount() override { return kMaxBreakpoints; }
  // Disarms the adapter slots that the list armed and empties the list.
  void InitBreakUnit() override;
  // Whether the target's debug id names a known 8051 part.
  bool IsChipSupported() override;
  // Erases the whole flash; adapter errors are ignored.
  void EraseAll() override;

  std::vector<uint32_t> GetBreakpointList();

 protected:
  bool SetHardwareBreakpoint(uint32_t address) override;
  void ClearHardwareBreakpoint(uint32_t address) override;
  bool IsBusy() override { return m_bBusy; }

 private:
  std::vector<uint32_t> m_breakList;
  bool m_bBusy = false;
};
