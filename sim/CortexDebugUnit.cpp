#include "sim/CortexDebugUnit.h"

#include <algorithm>

#include "sim/Target.h"

namespace sim {
namespace {

using namespace cortex_regs;

constexpr uint32_t kTraceEnable = 1u << 24;  // DEMCR.TRCENA
constexpr uint32_t kDebugKey = 0xA05F;       // DHCSR writes
constexpr uint32_t kResetKey = 0x05FA;       // AIRCR writes
constexpr uint32_t kV1ComparatorBits = 0xDFFFFFFD;
constexpr uint32_t kV8FunctionId = 0x58000000;  // read-only ID bits of an ARMv8-M function word
constexpr uint32_t kLongestMaskedWatch = 12;   // 4 KiB: the longest range handed on as one watch

}  // namespace

CortexDebugUnit::CortexDebugUnit(const CortexDebugShape& shape)
    : m_shape(shape),
      m_fpComp(shape.codeComparators + shape.literalComparators, 0),
      m_dwtComp(shape.watchComparators, 0),
      m_dwtMask(shape.watchComparators, 0),
      m_dwtFunc(shape.watchComparators, 0),
      m_dwtMatched(shape.watchComparators, false) {}

bool CortexDebugUnit::Owns(uint32_t a) {
  return InBreakpointUnit(a) || InWatchpointUnit(a) || a == kAircr || (a >= kDfsr && a < kDfsr + 4) ||
         (a >= kDhcsr && a < kDemcr + 4);
}

bool CortexDebugUnit::EnableBreakpoints() {
  if (m_fpCtrlEnable) return false;
  m_fpCtrlEnable = 1;
  return true;
}

// ---- registers -------------------------------------------------------------------

bool CortexDebugUnit::ReadBreakpointUnit(uint32_t a, uint32_t& v) const {
  if (a == kFpCtrl) {
    const uint32_t n = m_shape.codeComparators;
    v = ((n & 0xF) << 4) | (((n >> 4) & 7) << 12) | (m_shape.literalComparators << 8) |
        (m_shape.fpbV2 ? 0x10000000u : 0) | m_fpCtrlEnable;
    return true;
  }
  const uint32_t i = (a - kFpCtrl - 8) / 4;
  if (a < kFpCtrl + 8 || i >= m_fpComp.size()) return false;
  v = m_fpComp[i];
  return true;
}

bool CortexDebugUnit::WriteBreakpointUnit(uint32_t a, uint32_t v) {
  if (a == kFpCtrl) {
    if (v & 2) m_fpCtrlEnable = v & 1;  // KEY
    return true;
  }
  const uint32_t i = (a - kFpCtrl - 8) / 4;
  if (a < kFpCtrl + 8 || i >= m_fpComp.size()) return false;
  m_fpComp[i] = m_shape.fpbV2 ? v : (v & kV1ComparatorBits);
  return true;
}

bool CortexDebugUnit::ReadWatchpointUnit(uint32_t a, uint32_t& v) {
  if (a == kDwtCtrl) {
    v = (m_shape.watchComparators << 28) | (m_dwtCtrl & 0x0FFFFFFF);
    return true;
  }
  const uint32_t i = (a - kDwtCtrl - 0x20) / 16, r = (a - kDwtCtrl - 0x20) % 16;
  if (a < kDwtCtrl + 0x20 || i >= m_dwtComp.size()) return false;
  if (r == 0) {
    v = m_dwtComp[i];
  } else if (r == 4) {
    v = m_dwtMask[i];
  } else if (r == 8) {
    v = m_dwtFunc[i] | (m_dwtMatched[i] ? kMatched : 0) | (m_shape.dwtV8 ? kV8FunctionId : 0);
    m_dwtMatched[i] = false;  // MATCHED clears on read
  } else {
    v = 0;
  }
  return true;
}

bool CortexDebugUnit::WriteWatchpointUnit(uint32_t a, uint32_t v) {
  if (a == kDwtCtrl) {
    m_dwtCtrl = v & 0x0FFFFFFF;
    return true;
  }
  const uint32_t i = (a - kDwtCtrl - 0x20) / 16, r = (a - kDwtCtrl - 0x20) % 16;
  if (a < kDwtCtrl + 0x20 || i >= m_dwtComp.size()) return false;
  if (r == 0) m_dwtComp[i] = v;
  else if (r == 4) m_dwtMask[i] = m_shape.dwtV8 ? 0 : (v & 0x1F);
  else if (r == 8) m_dwtFunc[i] = v & (m_shape.dwtV8 ? 0x00000C3Fu : 0x000FFFFFu) & ~kMatched;
  return true;
}

bool CortexDebugUnit::Read(uint32_t a, CoreStatus core, uint32_t& v) {
  if (InBreakpointUnit(a)) return ReadBreakpointUnit(a, v);
  if (InWatchpointUnit(a)) return ReadWatchpointUnit(a, v);
  switch (a) {
    case kAircr: v = 0xFA050000; return true;
    case kDfsr: v = m_dfsr; return true;
    case kDhcsr:
      v = (core.attached ? 1u : 0u) | (core.halted ? 2u : 0u) | (1u << 16) | (core.halted ? 1u << 17 : 0u) |
          (m_resetSticky ? 1u << 25 : 0u);
      m_resetSticky = false;  // S_RESET_ST clears on read
      return true;
    case kDcrsr: v = 0; return true;
    case kDcrdr: v = m_dcrdr; return true;
    case kDemcr: v = m_demcr; return true;
    default: return false;
  }
}

bool CortexDebugUnit::Write(uint32_t a, uint32_t v, bool halted, Target& core) {
  if (InBreakpointUnit(a)) return WriteBreakpointUnit(a, v);
  if (InWatchpointUnit(a)) return WriteWatchpointUnit(a, v);
  switch (a) {
    case kAircr:
      if ((v >> 16) == kResetKey && (v & 0x4)) core.Reset((m_demcr & 1) != 0);  // SYSRESETREQ, VC_CORERESET
      return true;
    case kDfsr: m_dfsr &= ~(v & 0x1F); return true;  // write one to clear
    case kDhcsr:
      if ((v >> 16) != kDebugKey) return true;
      if (v & 2) core.Halt();
      else if (v & 4) core.Step();
      else if (halted) core.Run();
      return true;
    case kDcrsr: {
      const uint32_t reg = v & 0x7F;
      if (v & (1u << 16)) core.WriteReg(reg, m_dcrdr);
      else core.ReadReg(reg, m_dcrdr);
      return true;
    }
    case kDcrdr: m_dcrdr = v; return true;
    case kDemcr: m_demcr = v & 0x010F07F1; return true;
    default: return false;
  }
}

// ---- comparators -----------------------------------------------------------------

bool CortexDebugUnit::BreakAt(uint32_t pc) const {
  if (!m_fpCtrlEnable) return false;
  for (uint32_t i = 0; i < m_shape.codeComparators && i < m_fpComp.size(); ++i) {
    const uint32_t c = m_fpComp[i];
    if (!(c & 1)) continue;
    if (m_shape.fpbV2) {
      if ((c & ~1u) == pc) return true;
      continue;
    }
    const uint32_t replace = c >> 30;
    if (replace == 0 || (c & 0x1FFFFFFC) != (pc & 0x1FFFFFFC)) continue;
    if ((pc & 2) ? (replace & 2) : (replace & 1)) return true;
  }
  return false;
}

std::vector<uint32_t> CortexDebugUnit::BreakAddresses() const {
  std::vector<uint32_t> out;
  if (!m_fpCtrlEnable) return out;
  for (uint32_t i = 0; i < m_shape.codeComparators && i < m_fpComp.size(); ++i) {
    const uint32_t c = m_fpComp[i];
    if (!(c & 1)) continue;
    if (m_shape.fpbV2) {
      out.push_back(c & ~1u);
      continue;
    }
    const uint32_t replace = c >> 30, word = c & 0x1FFFFFFC;
    if (replace & 1) out.push_back(word);
    if (replace & 2) out.push_back(word + 2);
  }
  return out;
}

bool CortexDebugUnit::WatchUnitOn() const {
  return (m_demcr & kTraceEnable) != 0;  // DEMCR.TRCENA (DWTENA on ARMv6-M)
}

bool CortexDebugUnit::WatchHitsWrite(size_t i, uint32_t addr) const {
  if (!WatchUnitOn()) return false;
  const uint32_t f = m_dwtFunc[i] & 0xF;
  if (m_shape.dwtV8) {
    if (f != 4 && f != 5) return false;  // data access, data write
    const uint32_t lo = m_dwtComp[i];
    uint32_t hi;
    if (i + 1 < m_dwtFunc.size() && (m_dwtFunc[i + 1] & 0xF) == 7) hi = m_dwtComp[i + 1];  // address limit
    else hi = lo + (1u << ((m_dwtFunc[i] >> 10) & 3)) - 1;
    return addr + 3 >= lo && addr <= hi;
  }
  if (f != 6 && f != 7) return false;  // data write, data access
  const uint32_t mask = ~((1u << (m_dwtMask[i] & 0x1F)) - 1);
  return (addr & mask) == (m_dwtComp[i] & mask);
}

std::vector<uint32_t> CortexDebugUnit::PcMatchAddresses() const {
  std::vector<uint32_t> out;
  if (m_shape.dwtV8) return out;
  for (size_t i = 0; i < m_dwtFunc.size(); ++i)
    if ((m_dwtFunc[i] & 0xF) == 4) out.push_back(m_dwtComp[i] & ~1u);
  return out;
}

std::vector<CortexDebugUnit::DataWatch> CortexDebugUnit::DataWatches() const {
  std::vector<DataWatch> out;
  for (size_t i = 0; i < m_dwtFunc.size(); ++i) {
    const uint32_t f = m_dwtFunc[i] & 0xF;
    if (m_shape.dwtV8) {
      const Access access = f == 4 ? Access::Any : f == 5 ? Access::Write : Access::Read;
      if (f < 4 || f > 6) continue;
      const uint32_t lo = m_dwtComp[i];
      uint32_t length = 1u << ((m_dwtFunc[i] >> 10) & 3);
      if (i + 1 < m_dwtFunc.size() && (m_dwtFunc[i + 1] & 0xF) == 7 && m_dwtComp[i + 1] >= lo)
        length = std::max(m_dwtComp[i + 1] - lo + 1, m_dwtComp[i + 1] - lo);  // the whole space stays whole
      out.push_back({i, access, lo, length});
      continue;
    }
    if (f < 5 || f > 7) continue;
    const Access access = f == 5 ? Access::Read : f == 6 ? Access::Write : Access::Any;
    const uint32_t length = 1u << std::min<uint32_t>(m_dwtMask[i], kLongestMaskedWatch);
    out.push_back({i, access, m_dwtComp[i] & ~(length - 1), length});
  }
  return out;
}

void CortexDebugUnit::MarkWatchHit(uint32_t address) {
  for (const DataWatch& w : DataWatches())
    if (address - w.base < w.length) m_dwtMatched[w.comparator] = true;
}

}  // namespace sim
