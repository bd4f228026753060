// The debug units of a QEMU target, modelled here because QEMU has none:
// halting control and status, debug fault status, core register transfer,
// exception and monitor control, reset requests, the breakpoint unit (its
// enabled comparators are Z1 breakpoints in QEMU) and the watchpoint unit
// (its comparators are Z2-Z4 watchpoints, PC matches Z1). The rest of the
// system space goes to QEMU, which models the NVIC, SysTick and CPU id.
#include <cstring>

#include "sim/CortexDebugRegs.h"
#include "sim/QemuTarget.h"

namespace sim {
namespace {

using namespace cortex_regs;
constexpr uint32_t kTraceEnable = 1u << 24;
constexpr uint32_t kDfsrHalted = 0x1;

}  // namespace

bool QemuTarget::DebugSpace(uint32_t a) const {
  return (a >= kFpCtrl && a < kFpCtrl + 0x1000) || (a >= kDwtCtrl && a < kDwtCtrl + 0x1000) ||
         a == (kAircr & ~3u) || (a >= kDfsr && a < kDfsr + 4) || (a >= kDhcsr && a < kDemcr + 4);
}

bool QemuTarget::AtBreakpoint(uint32_t pc) const {
  return m_zBreak.count({0, pc}) || m_zBreak.count({1, pc});
}

uint32_t QemuTarget::ReadDebug(uint32_t a, uint32_t& v) {
  PollStop();
  if (a >= kFpCtrl && a < kFpCtrl + 0x1000) {
    if (a == kFpCtrl) {
      const uint32_t n = m_machine.codeComparators;
      v = ((n & 0xF) << 4) | (((n >> 4) & 7) << 12) | (m_machine.literalComparators << 8) | m_fpCtrlEnable;
    } else if (const uint32_t i = (a - kFpCtrl - 8) / 4; a >= kFpCtrl + 8 && i < m_fpComp.size()) {
      v = m_fpComp[i];
    } else {
      v = 0;
    }
    return kErrOk;
  }
  if (a >= kDwtCtrl && a < kDwtCtrl + 0x1000) {
    v = 0;
    if (a == kDwtCtrl) v = (m_machine.watchComparators << 28) | (m_dwtCtrl & 0x0FFFFFFF);
    if (a >= kDwtCtrl + 0x20) {
      const uint32_t i = (a - kDwtCtrl - 0x20) / 16, r = (a - kDwtCtrl - 0x20) % 16;
      if (i < m_dwtComp.size()) {
        if (r == 0) v = m_dwtComp[i];
        else if (r == 4) v = m_dwtMask[i];
        else if (r == 8) {
          v = m_dwtFunc[i] | (m_dwtMatched[i] ? kMatched : 0);
          m_dwtMatched[i] = false;
        }
      }
    }
    return kErrOk;
  }
  switch (a) {
    case kAircr: v = 0xFA050000; return kErrOk;
    case kDfsr: v = m_dfsr; return kErrOk;
    case kDhcsr:
      v = (m_attached ? 1u : 0u) | (m_halted ? 2u : 0u) | (1u << 16) | (m_halted ? 1u << 17 : 0u) |
          (m_resetSticky ? 1u << 25 : 0u);
      m_resetSticky = false;
      return kErrOk;
    case kDcrdr: v = m_dcrdr; return kErrOk;
    case kDemcr: v = m_demcr; return kErrOk;
    default: v = 0; return kErrOk;  // DCRSR reads as zero
  }
}

uint32_t QemuTarget::WriteDebug(uint32_t a, uint32_t v) {
  PollStop();
  if (a >= kFpCtrl && a < kFpCtrl + 0x1000) {
    if (a == kFpCtrl) {
      if (v & 2) m_fpCtrlEnable = v & 1;
    } else if (const uint32_t i = (a - kFpCtrl - 8) / 4; a >= kFpCtrl + 8 && i < m_fpComp.size()) {
      m_fpComp[i] = v & 0xDFFFFFFD;
    }
    SyncBreakpoints();
    return Usable() ? kErrOk : kErrNoDevice;
  }
  if (a >= kDwtCtrl && a < kDwtCtrl + 0x1000) {
    if (a == kDwtCtrl) m_dwtCtrl = v & 0x0FFFFFFF;
    if (a >= kDwtCtrl + 0x20) {
      const uint32_t i = (a - kDwtCtrl - 0x20) / 16, r = (a - kDwtCtrl - 0x20) % 16;
      if (i < m_dwtComp.size()) {
        if (r == 0) m_dwtComp[i] = v;
        else if (r == 4) m_dwtMask[i] = v & 0x1F;
        else if (r == 8) m_dwtFunc[i] = v & 0x000FFFFF & ~kMatched;
      }
    }
    SyncWatchpoints();
    return Usable() ? kErrOk : kErrNoDevice;
  }
  switch (a) {
    case kAircr:
      if ((v >> 16) == 0x05FA && (v & 0x4)) Reset((m_demcr & 1) != 0);
      break;
    case kDfsr: m_dfsr &= ~(v & 0x1F); break;
    case kDhcsr:
      if ((v >> 16) != 0xA05F) break;
      if (v & 2) Halt();
      else if (v & 4) Step();
      else if (m_halted) Run();
      break;
    case kDcrsr: {
      const uint32_t reg = v & 0x7F;
      if (v & (1u << 16)) WriteReg(reg, m_dcrdr);
      else ReadReg(reg, m_dcrdr);
      break;
    }
    case kDcrdr: m_dcrdr = v; break;
    case kDemcr:
      m_demcr = v & 0x010F07F1;
      SyncWatchpoints();
      break;
    default: break;
  }
  return Usable() ? kErrOk : kErrNoDevice;
}

void QemuTarget::SyncBreakpoints() {
  std::set<std::pair<int, uint32_t>> want;
  for (uint32_t a : m_bkpts) want.insert({0, a});
  if (m_fpCtrlEnable)
    for (uint32_t i = 0; i < m_machine.codeComparators && i < m_fpComp.size(); ++i) {
      const uint32_t c = m_fpComp[i], replace = c >> 30;
      if (!(c & 1) || replace == 0) continue;
      const uint32_t word = c & 0x1FFFFFFC;
      if (replace & 1) want.insert({1, word});
      if (replace & 2) want.insert({1, word + 2});
    }
  // PC-match comparators of the watchpoint unit halt like breakpoints.
  const bool dwtOn = (m_demcr & kTraceEnable) || (m_machine.cpuid & 0xFFF0) == 0xC200;
  for (size_t i = 0; dwtOn && i < m_dwtFunc.size(); ++i)
    if ((m_dwtFunc[i] & 0xF) == 4) want.insert({1, m_dwtComp[i] & ~1u});
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
  const bool dwtOn = (m_demcr & kTraceEnable) || (m_machine.cpuid & 0xFFF0) == 0xC200;
  for (size_t i = 0; dwtOn && i < m_dwtFunc.size(); ++i) {
    const uint32_t f = m_dwtFunc[i] & 0xF;
    const int kind = f == 5 ? 3 : f == 6 ? 2 : f == 7 ? 4 : 0;  // read, write, access
    if (!kind) continue;
    const uint32_t len = 1u << std::min<uint32_t>(m_dwtMask[i], 12);
    want.insert({kind, m_dwtComp[i] & ~(len - 1), len});
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

void QemuTarget::MarkWatchHit(uint32_t address) {
  for (size_t i = 0; i < m_dwtFunc.size(); ++i) {
    const uint32_t f = m_dwtFunc[i] & 0xF;
    if (f < 5 || f > 7) continue;
    const uint32_t len = 1u << std::min<uint32_t>(m_dwtMask[i], 12);
    const uint32_t base = m_dwtComp[i] & ~(len - 1);
    if (address - base < len) m_dwtMatched[i] = true;
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
