// What the Cortex-M variants (CICE_M0, CICE_M4) share: the current PC and
// stepping over breakpoints, software breakpoints (Thumb BKPT), the
// breakpoint unit's comparators, the watchpoint unit of cores before
// ARMv8-M, halfword access and the core kind from the CPU id.
#pragma once

#include <vector>

#include "ice/CICE.h"

// Registers of the core's debug units.
namespace cortex {
inline constexpr uint32_t kCpuId = 0xE000ED00;
inline constexpr uint32_t kDfsr = 0xE000ED30;
inline constexpr uint32_t kDemcr = 0xE000EDFC;
inline constexpr uint32_t kFpCtrl = 0xE0002000;
inline constexpr uint32_t kFpComp0 = 0xE0002008;
inline constexpr uint32_t kDwtCtrl = 0xE0001000;
inline constexpr uint32_t kDwtComp0 = 0xE0001020;
inline constexpr uint32_t kDwtMask0 = 0xE0001024;
inline constexpr uint32_t kDwtFunction0 = 0xE0001028;
inline constexpr uint32_t kDwtStride = 16;
inline constexpr uint16_t kBkpt = 0xBE18;
inline constexpr uint16_t kSemihostingBkpt = 0xBEAB;
inline constexpr uint32_t kHighestCodeAddress = 0x1FFFFFFF;
// Core kind of a CPU id (kinds 5 to 7 have the ARMv8-M watchpoint unit).
CoreKind CoreKindOf(uint32_t cpuId, bool knowsD21);
}  // namespace cortex

class CICE_CortexM : public CICE {
 public:
  ~CICE_CortexM() override;

  uint32_t ReadReg(uint32_t reg) override;
  void WriteReg(uint32_t reg, uint32_t value) override;
  void ReadRegs(uint32_t* buffer, uint32_t first, uint32_t count) override;
  void WriteRegs(const uint32_t* data, uint32_t first, uint32_t count) override;
  uint32_t ReadPC() override;
  void WritePC(uint32_t pc) override;

  void MCUConnect(uint32_t resetMode, uint32_t connectMode, uint32_t option,
                  uint32_t reserved) override;
  bool CheckMCUStop(uint32_t* pc) override;
  uint32_t GetHaltReason() override;
  void MCUStepRun() override;
  uint32_t MCUStopRun() override;
  void MCUFreeRun() override;

  bool SetBreakpoint(uint32_t address, int allowedKinds) override;
  unsigned GetBreakUnitCount() override;
  unsigned GetWatchUnitCount() override;
  int SetWatchpoint(uint32_t address, uint32_t size, uint32_t kind) override;
  void ClearWatchpoint(int index, uint32_t address, uint32_t size, uint32_t kind) override;
  int FindTriggeredWatchpoint() override;
  CoreKind GetCoreKind() override;

  // The host's idea of the PC (kept for stepping over breakpoints).
  uint32_t GetCurrentPC();
  // Halfword access on the aligned word; before/after are what the reply
  // reports around the write.
  void WriteHalfword(uint32_t address, uint16_t value, uint16_t* before, uint16_t* after);
  uint16_t ReadHalfword(uint32_t address);

 protected:
  struct LiftedBreakpoint {
    uint32_t address = 0;
    int kind = 0;
    int lifted = 0;
  };

  bool SetSoftwareBreakpoint(uint32_t address) override;
  void ClearSoftwareBreakpoint(uint32_t address) override;
  bool SetHardwareBreakpoint(uint32_t address) override;
  void ClearHardwareBreakpoint(uint32_t address) override;
  std::span<const uint8_t> GetBreakpointInstruction() override;

  void LiftBreakpointsAtPC();
  void RestoreLiftedBreakpoints();
  // Watch function code of a watch kind on cores before ARMv8-M (0 = none).
  virtual uint32_t WatchFunctionFor(uint32_t kind) = 0;
  // Writes words of the core's debug space (no shadowing), in batches.
  void WriteDebugWords(const std::vector<uint32_t>& addresses, const std::vector<uint32_t>& values);
  void ReadDebugWords(const std::vector<uint32_t>& addresses, std::vector<uint32_t>& values);
  // Sizes the comparator images to `count`, clears them and writes them.
  void ResetBreakImages(unsigned count);
  void ResetWatchImages(unsigned count);
  // Comparator `i` of the watchpoint unit (cores before ARMv8-M): images
  // and registers.
  void WriteWatch(size_t i, uint32_t address, uint32_t mask, uint32_t function);

  uint32_t m_uCurPC = 0;
  LiftedBreakpoint m_lifted[2];
  std::vector<uint32_t> m_bpImages;
  ice::ComparatorFormat m_bpFormat = ice::ComparatorFormat::First;
  std::vector<uint32_t> m_watchAddress, m_watchMask, m_watchFunction;
};
