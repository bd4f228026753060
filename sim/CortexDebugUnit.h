// The Cortex-M debug unit that both Cortex-M targets present to the adapter
// (the core model and the QEMU-run board): the breakpoint unit at 0xE0002000
// (first and second comparator formats), the watchpoint unit at 0xE0001000
// (the mask-based unit and the ARMv8-M one), and halt control with the
// registers around it: reset requests (AIRCR), debug fault status (DFSR),
// halting control and status (DHCSR), core register transfer (DCRSR, DCRDR)
// and exception and monitor control (DEMCR).
//
// The unit keeps the registers and their rules; the target it serves runs
// the core: it tells the unit of resets and halts, and the unit drives it
// (halt, step, run, reset, register transfer) through the Target interface
// when the host writes the control registers. How comparators stop the core
// is the target's business: the core model asks BreakAt and WatchHitsWrite as
// it executes, the QEMU target turns BreakAddresses, PcMatchAddresses and
// DataWatches into GDB break- and watchpoints.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace sim {

class Target;

namespace cortex_regs {

constexpr uint32_t kCpuId = 0xE000ED00;
constexpr uint32_t kAircr = 0xE000ED0C;
constexpr uint32_t kDfsr = 0xE000ED30;
constexpr uint32_t kDhcsr = 0xE000EDF0;
constexpr uint32_t kDcrsr = 0xE000EDF4;
constexpr uint32_t kDcrdr = 0xE000EDF8;
constexpr uint32_t kDemcr = 0xE000EDFC;
constexpr uint32_t kSysTickCvr = 0xE000E018;
constexpr uint32_t kFpCtrl = 0xE0002000;
constexpr uint32_t kDwtCtrl = 0xE0001000;
constexpr uint32_t kDwtCyccnt = 0xE0001004;

// DFSR bits.
constexpr uint32_t kDfsrHalted = 0x1, kDfsrBkpt = 0x2, kDfsrDwtTrap = 0x4, kDfsrVcatch = 0x8;
constexpr uint32_t kMatched = 1u << 24;  // a watchpoint comparator's MATCHED bit

}  // namespace cortex_regs

// What a core's debug unit is made of.
struct CortexDebugShape {
  uint32_t codeComparators;
  uint32_t literalComparators;
  bool fpbV2;  // second breakpoint comparator format
  uint32_t watchComparators;
  bool dwtV8;  // ARMv8-M watchpoint unit (no masks; address-limit pairs)
};

class CortexDebugUnit {
 public:
  explicit CortexDebugUnit(const CortexDebugShape& shape);

  const CortexDebugShape& Shape() const { return m_shape; }

  // The words the unit answers for: both unit windows and the halt control
  // registers (AIRCR, DFSR, DHCSR to DEMCR).
  static bool Owns(uint32_t address);
  static bool InBreakpointUnit(uint32_t address) { return address - cortex_regs::kFpCtrl < 0x1000; }
  static bool InWatchpointUnit(uint32_t address) { return address - cortex_regs::kDwtCtrl < 0x1000; }

  // The core as DHCSR shows it.
  struct CoreStatus {
    bool attached;
    bool halted;
  };
  // Reads the word at `address` (word aligned); false for a word of the
  // unit's address range that it does not model.
  bool Read(uint32_t address, CoreStatus core, uint32_t& value);
  // Writes the word at `address`, driving `core` for halt control, core
  // register transfer and reset requests; false for a word the unit does not
  // model (nothing changed).
  bool Write(uint32_t address, uint32_t value, bool halted, Target& core);

  // Events of the core.
  void NoteReset() { m_resetSticky = true; }
  void NoteHalt(uint32_t dfsrBits) { m_dfsr |= dfsrBits; }
  void ClearDfsr(uint32_t bits) { m_dfsr &= ~bits; }
  uint32_t Dfsr() const { return m_dfsr; }
  // A debugger attached: the breakpoint unit is on (returns whether it changed).
  bool EnableBreakpoints();

  // Breakpoint unit, as the core model executes: whether an enabled code
  // comparator stops the core at `pc`.
  bool BreakAt(uint32_t pc) const;
  // The halfword addresses the enabled code comparators stop at.
  std::vector<uint32_t> BreakAddresses() const;

  // Watchpoint unit.
  bool WatchUnitOn() const;
  size_t WatchCount() const { return m_dwtFunc.size(); }
  // Whether comparator `i` fires on a word write to `address` (core model:
  // mask-based data writes and accesses; ARMv8-M data writes and accesses,
  // single or paired with an address limit).
  bool WatchHitsWrite(size_t i, uint32_t address) const;
  void MarkMatched(size_t i) { m_dwtMatched[i] = true; }
  // Instruction addresses of the mask-based unit's PC-match comparators.
  std::vector<uint32_t> PcMatchAddresses() const;
  enum class Access { Read, Write, Any };
  struct DataWatch {
    size_t comparator;
    Access access;
    uint32_t base;
    uint32_t length;  // the mask-based unit's ranges are capped at 4 KiB
  };
  // The data ranges the comparators watch (whether or not the unit is on).
  std::vector<DataWatch> DataWatches() const;
  // Marks every comparator whose data range holds `address` as matched.
  void MarkWatchHit(uint32_t address);

 private:
  bool ReadBreakpointUnit(uint32_t a, uint32_t& v) const;
  bool ReadWatchpointUnit(uint32_t a, uint32_t& v);
  bool WriteBreakpointUnit(uint32_t a, uint32_t v);
  bool WriteWatchpointUnit(uint32_t a, uint32_t v);

  CortexDebugShape m_shape;
  uint32_t m_fpCtrlEnable = 0;
  std::vector<uint32_t> m_fpComp;
  uint32_t m_dwtCtrl = 0;
  std::vector<uint32_t> m_dwtComp, m_dwtMask, m_dwtFunc;
  std::vector<bool> m_dwtMatched;
  uint32_t m_dfsr = 0;
  uint32_t m_demcr = 0;
  uint32_t m_dcrdr = 0;
  bool m_resetSticky = true;
};

}  // namespace sim
