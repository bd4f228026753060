// Cortex-M4 class targets, including the newer cores recognised by their
// CPU id: comparator format and allowed breakpoint kinds by core, nine
// watch kinds, and the ARMv8-M watchpoint unit with comparator pairs.
#pragma once

#include "ice/CICE_CortexM.h"

class CICE_M4 : public CICE_CortexM {
 public:
  CICE_M4() = default;
  ~CICE_M4() override;

  uint32_t GetCoreType() override { return 0x400; }
  CoreKind GetCoreKind() override;
  bool SetBreakpointDefault(uint32_t address, bool allowAll) override;
  void InitBreakUnit() override;
  void InitWatchUnit() override;
  int SetWatchpoint(uint32_t address, uint32_t size, uint32_t kind) override;
  void ClearWatchpoint(int index, uint32_t address, uint32_t size, uint32_t kind) override;
  int FindTriggeredWatchpoint() override;

  // Breakpoint kinds this core allows (bits 1, 2, 4).
  int GetAllowedKinds();

 protected:
  uint32_t WatchFunctionFor(uint32_t kind) override;

 private:
  enum Role : uint8_t { kFree = 0, kSingle = 1, kRangeFirst = 2, kRangeSecond = 3 };
  static uint32_t MatchCodeFor(uint32_t kind);
  // Comparator `i` of the ARMv8-M unit (it has no mask register).
  void WriteV8Watch(size_t i, uint32_t address, uint32_t function);

  int m_nAllowedKinds = 7;
  bool m_bV8Watch = false;
  std::vector<uint8_t> m_watchRole;
};
