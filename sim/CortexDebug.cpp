// The core's debug and system registers: CPU id, reset control, debug fault
// status, halting control, core register transfer, exception and monitor
// control, SysTick, the breakpoint unit and the watchpoint unit.
#include "sim/CortexDebugRegs.h"
#include "sim/CortexTarget.h"

namespace sim {
namespace {

using namespace cortex_regs;

}  // namespace

bool CortexTarget::BreakMatch(uint32_t pc) const {
  if (!m_fpCtrlEnable) return false;
  for (uint32_t i = 0; i < m_core.codeComparators && i < m_fpComp.size(); ++i) {
    const uint32_t c = m_fpComp[i];
    if (!(c & 1)) continue;
    if (m_core.fpbV2) {
      if ((c & ~1u) == pc) return true;
    } else {
      const uint32_t replace = c >> 30;
      if (replace == 0 || (c & 0x1FFFFFFC) != (pc & 0x1FFFFFFC)) continue;
      if ((pc & 2) ? (replace & 2) : (replace & 1)) return true;
    }
  }
  return false;
}

bool CortexTarget::WatchMatchesWrite(size_t i, uint32_t addr) const {
  if (!(m_demcr & (1u << 24))) return false;
  const uint32_t f = m_dwtFunc[i] & 0xF;
  if (m_core.dwtV8) {
    if (f != 4 && f != 5) return false;
    const uint32_t lo = m_dwtComp[i];
    uint32_t hi;
    if (i + 1 < m_dwtFunc.size() && (m_dwtFunc[i + 1] & 0xF) == 7) hi = m_dwtComp[i + 1];
    else hi = lo + (1u << ((m_dwtFunc[i] >> 10) & 3)) - 1;
    return addr + 3 >= lo && addr <= hi;
  }
  if (f != 6 && f != 7) return false;
  const uint32_t mask = ~((1u << (m_dwtMask[i] & 0x1F)) - 1);
  return (addr & mask) == (m_dwtComp[i] & mask);
}

bool CortexTarget::ReadSystem(uint32_t a, uint32_t& v) {
  if (a >= kFpCtrl && a < kFpCtrl + 0x1000) {
    if (a == kFpCtrl) {
      const uint32_t n = m_core.codeComparators;
      v = ((n & 0xF) << 4) | (((n >> 4) & 7) << 12) | (m_core.literalComparators << 8) |
          (m_core.fpbV2 ? 0x10000000u : 0) | m_fpCtrlEnable;
      return true;
    }
    const uint32_t i = (a - kFpCtrl - 8) / 4;
    if (a >= kFpCtrl + 8 && i < m_fpComp.size()) {
      v = m_fpComp[i];
      return true;
    }
    v = m_scs[a];
    return true;
  }
  if (a >= kDwtCtrl && a < kDwtCtrl + 0x1000) {
    if (a == kDwtCtrl) {
      v = (m_core.watchComparators << 28) | (m_dwtCtrl & 0x0FFFFFFF);
      return true;
    }
    if (a == kDwtCyccnt) {
      v = static_cast<uint32_t>(static_cast<uint64_t>(m_runMs * 72000.0));
      return true;
    }
    if (a >= kDwtCtrl + 0x20) {
      const uint32_t i = (a - kDwtCtrl - 0x20) / 16, r = (a - kDwtCtrl - 0x20) % 16;
      if (i < m_dwtComp.size()) {
        if (r == 0) v = m_dwtComp[i];
        else if (r == 4) v = m_dwtMask[i];
        else if (r == 8) {
          v = m_dwtFunc[i] | (m_dwtMatched[i] ? kMatched : 0) | (m_core.dwtV8 ? 0x58000000u : 0);
          m_dwtMatched[i] = false;
        } else v = 0;
        return true;
      }
    }
    v = m_scs[a];
    return true;
  }
  switch (a) {
    case kCpuId: v = m_core.cpuid; return true;
    case kAircr: v = 0xFA050000; return true;
    case kDfsr: v = m_dfsr; return true;
    case kDhcsr:
      v = (m_attached ? 1u : 0u) | (m_running ? 0u : 2u) | (1u << 16) | (m_running ? 0u : 1u << 17) |
          (m_resetSticky ? 1u << 25 : 0u);
      m_resetSticky = false;
      return true;
    case kDcrdr: v = m_dcrdr; return true;
    case kDemcr: v = m_demcr; return true;
    case kSysTickCvr:
      v = 0xFFFFFF - static_cast<uint32_t>(static_cast<uint64_t>(m_runMs * 72000.0) % 0x1000000);
      return true;
    default: break;
  }
  if (a >= 0xE0000000 && a < 0xE0100000) {
    v = m_scs[a];
    return true;
  }
  return false;
}

bool CortexTarget::WriteSystem(uint32_t a, uint32_t v) {
  if (a >= kFpCtrl && a < kFpCtrl + 0x1000) {
    if (a == kFpCtrl) {
      if (v & 2) m_fpCtrlEnable = v & 1;
      return true;
    }
    const uint32_t i = (a - kFpCtrl - 8) / 4;
    if (a >= kFpCtrl + 8 && i < m_fpComp.size()) {
      m_fpComp[i] = m_core.fpbV2 ? v : (v & 0xDFFFFFFD);
      return true;
    }
    m_scs[a] = v;
    return true;
  }
  if (a >= kDwtCtrl && a < kDwtCtrl + 0x1000) {
    if (a == kDwtCtrl) {
      m_dwtCtrl = v & 0x0FFFFFFF;
      return true;
    }
    if (a >= kDwtCtrl + 0x20) {
      const uint32_t i = (a - kDwtCtrl - 0x20) / 16, r = (a - kDwtCtrl - 0x20) % 16;
      if (i < m_dwtComp.size()) {
        if (r == 0) m_dwtComp[i] = v;
        else if (r == 4) m_dwtMask[i] = m_core.dwtV8 ? 0 : (v & 0x1F);
        else if (r == 8) m_dwtFunc[i] = v & (m_core.dwtV8 ? 0x00000C3Fu : 0x000FFFFFu) & ~kMatched;
        return true;
      }
    }
    m_scs[a] = v;
    return true;
  }
  switch (a) {
    case kCpuId: return true;
    case kAircr:
      if ((v >> 16) == 0x05FA && (v & 0x4)) Reset((m_demcr & 1) != 0);
      return true;
    case kDfsr: m_dfsr &= ~(v & 0x1F); return true;
    case kDhcsr:
      if ((v >> 16) != 0xA05F) return true;
      if (v & 2) Halt();
      else if (v & 4) Step();
      else if (!m_running) Run();
      return true;
    case kDcrsr: {
      const uint32_t reg = v & 0x7F;
      if (v & (1u << 16)) WriteReg(reg, m_dcrdr);
      else ReadReg(reg, m_dcrdr);
      return true;
    }
    case kDcrdr: m_dcrdr = v; return true;
    case kDemcr: m_demcr = v & 0x010F07F1; return true;
    default: break;
  }
  if (a >= 0xE0000000 && a < 0xE0100000) {
    m_scs[a] = v;
    return true;
  }
  return false;
}

}  // namespace sim
