// The debug units of a QEMU target, which QEMU does not model: the shared
// Cortex-M debug unit keeps their registers and drives the core, and this
// file hands its comparators on to QEMU: enabled breakpoint comparators and
// PC-match watchpoint comparators become Z1 breakpoints, data watchpoint
// comparators Z2-Z4 watchpoints, BKPT instructions in the code Z0. The rest
// of the system space goes to QEMU, which models the NVIC, SysTick and CPU id.
#include <cstdio>
#include <tuple>

#include "sim/QemuTarget.h"

namespace sim {

using namespace cortex_regs;

bool QemuTarget::AtBreakpoint(uint32_t pc) const {
  return m_zBreak.count({0, pc}) || m_zBreak.count({1, pc});
}

uint32_t QemuTarget::ReadDebug(uint32_t a, uint32_t& v) {
  PollStop();
  if (!m_debug.Read(a, {m_attached, m_halted}, v)) v = 0;  // words the unit does not model read as zero
  return kErrOk;
}

uint32_t QemuTarget::WriteDebug(uint32_t a, uint32_t v) {
  PollStop();
  m_debug.Write(a, v, m_halted, *this);
  if (CortexDebugUnit::InBreakpointUnit(a)) SyncBreakpoints();
  else if (CortexDebugUnit::InWatchpointUnit(a) || a == kDemcr) SyncWatchpoints();
  return Usable() ? kErrOk : kErrNoDevice;
}

void QemuTarget::SyncBreakpoints() {
  std::set<std::pair<int, uint32_t>> want;
  for (uint32_t a : m_bkpts) want.insert({0, a});
  for (uint32_t a : m_debug.BreakAddresses()) want.insert({1, a});
  // PC-match comparators of the watchpoint unit halt like breakpoints.
  if (m_debug.WatchUnitOn())
    for (uint32_t a : m_debug.PcMatchAddresses()) want.insert({1, a});
  if (!Usable() || want == m_zBreak) return;
  if (!Pause()) return;  // EndCommand() lets a running core go on
  for (auto it = m_zBreak.begin(); it != m_zBreak.end();) {
    if (want.count(*it)) {
      ++it;
      continue;
    }
    char b[32];
    std::snprintf(b, sizeof b, "z%d,%x,2", it->first, it->second);
    if (!Ask(b)) return;
    it = m_zBreak.erase(it);
  }
  for (const auto& w : want) {
    if (m_zBreak.count(w)) continue;
    char b[32];
    std::snprintf(b, sizeof b, "Z%d,%x,2", w.first, w.second);
    const auto r = Ask(b);
    if (!r) return;
    if (*r == "OK") m_zBreak.insert(w);
  }
}

void QemuTarget::SyncWatchpoints() {
  SyncBreakpoints();  // PC-match comparators
  std::set<std::tuple<int, uint32_t, uint32_t>> want;
  if (m_debug.WatchUnitOn())
    for (const CortexDebugUnit::DataWatch& w : m_debug.DataWatches()) {
      using Access = CortexDebugUnit::Access;
      const int kind = w.access == Access::Write ? 2 : w.access == Access::Read ? 3 : 4;
      want.insert({kind, w.base, w.length});
    }
  if (!Usable() || want == m_zWatch) return;
  if (!Pause()) return;
  for (auto it = m_zWatch.begin(); it != m_zWatch.end();) {
    if (want.count(*it)) {
      ++it;
      continue;
    }
    char b[40];
    std::snprintf(b, sizeof b, "z%d,%x,%x", std::get<0>(*it), std::get<1>(*it), std::get<2>(*it));
    if (!Ask(b)) return;
    it = m_zWatch.erase(it);
  }
  for (const auto& w : want) {
    if (m_zWatch.count(w)) continue;
    char b[40];
    std::snprintf(b, sizeof b, "Z%d,%x,%x", std::get<0>(w), std::get<1>(w), std::get<2>(w));
    const auto r = Ask(b);
    if (!r) return;
    if (*r == "OK") m_zWatch.insert(w);
  }
}

void QemuTarget::RescanCode(uint32_t address, size_t length) {
  // Halfwords the write touched that may hold code: a BKPT there halts the core.
  const uint32_t first = address & ~1u;
  const uint64_t end = uint64_t{address} + length;
  const bool code = address < m_machine.flashSize || (address >= 0x20000000 && address - 0x20000000 < m_machine.ramSize);
  if (!code || length == 0) return;
  std::vector<uint8_t> now(static_cast<size_t>(((end + 1) & ~uint64_t{1}) - first));
  if (GdbRead(first, now) != kErrOk) return;
  bool changed = false;
  for (size_t i = 0; i + 1 < now.size(); i += 2) {
    const uint32_t a = first + static_cast<uint32_t>(i);
    const bool bkpt = now[i + 1] == 0xBE;
    changed |= bkpt ? m_bkpts.insert(a).second : m_bkpts.erase(a) > 0;
  }
  if (changed) SyncBreakpoints();
}

}  // namespace sim
