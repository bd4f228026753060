// The core model's system space: its debug unit (breakpoints, watchpoints,
// halt control), the CPU id, SysTick's current value and the cycle counter
// from the core's run time, and plain registers for the rest.
#include "sim/CortexTarget.h"

namespace sim {
namespace {

using namespace cortex_regs;

constexpr double kCyclesPerMs = 72000.0;
constexpr uint32_t kMvfr0 = 0xE000EF40;  // media and FP feature register 0

}  // namespace

bool CortexTarget::ReadSystem(uint32_t a, uint32_t& v) {
  if (a == kDwtCyccnt) {
    v = static_cast<uint32_t>(static_cast<uint64_t>(m_runMs * kCyclesPerMs));
    return true;
  }
  if (m_debug.Read(a, {m_attached, !m_running}, v)) return true;
  switch (a) {
    case kCpuId: v = m_core.cpuid; return true;
    case kMvfr0: v = m_core.fpu ? 0x10110021 : 0; return true;  // FPU registers: 16 doubles, or none
    case kSysTickCvr:
      v = 0xFFFFFF - static_cast<uint32_t>(static_cast<uint64_t>(m_runMs * kCyclesPerMs) % 0x1000000);
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
  if (a == kCpuId) return true;
  if (m_debug.Write(a, v, !m_running, *this)) return true;
  if (a >= 0xE0000000 && a < 0xE0100000) {
    m_scs[a] = v;
    return true;
  }
  return false;
}

}  // namespace sim
