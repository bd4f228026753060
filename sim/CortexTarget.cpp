#include "sim/CortexTarget.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace sim {
namespace {

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

constexpr uint32_t kDfsrHalted = 0x1, kDfsrBkpt = 0x2, kDfsrDwtTrap = 0x4, kDfsrVcatch = 0x8;
constexpr uint32_t kMatched = 1u << 24;
constexpr uint32_t kRegPc = 15;
constexpr uint32_t kMaxStepsPerAdvance = 4096;

bool Is32BitThumb(uint16_t hw) { return (hw & 0xE000) == 0xE000 && (hw & 0x1800) != 0; }

}  // namespace

CortexTarget::Core CortexTarget::CoreFor(const std::string& cpu) {
  if (cpu == "m0") return {0x410CC200, 4, 0, false, 2, false, false, 0x0BB11477};
  if (cpu == "m0+") return {0x410CC601, 4, 0, false, 2, false, false, 0x0BC11477};
  if (cpu == "m7") return {0x411FC272, 8, 0, true, 4, false, true, 0x5BA02477};
  if (cpu == "m23") return {0x410CD200, 4, 0, true, 4, true, false, 0x0BE12477};
  if (cpu == "m33") return {0x410FD210, 8, 0, true, 4, true, true, 0x6BA02477};
  if (cpu == "m55") return {0x410FD220, 8, 0, true, 8, true, true, 0x6BA03477};
  return {0x410FC241, 6, 2, false, 4, false, true, 0x2BA01477};  // m4
}

CortexTarget::CortexTarget(const std::string& chip, const std::string& cpu)
    : m_core(CoreFor(cpu.empty() ? (chip == "GX32P100" ? "m23" : "m4") : cpu)), m_chip(chip) {
  const bool small = chip == "GX32P100";
  m_flash.assign(small ? 128 * 1024 : 512 * 1024, 0xFF);
  m_ram.assign(small ? 32 * 1024 : 128 * 1024, 0);
  const uint32_t n = m_core.codeComparators + m_core.literalComparators;
  m_fpComp.assign(n, 0);
  m_dwtComp.assign(m_core.watchComparators, 0);
  m_dwtMask.assign(m_core.watchComparators, 0);
  m_dwtFunc.assign(m_core.watchComparators, 0);
  m_dwtMatched.assign(m_core.watchComparators, false);
  WriteDemoProgram();
  Reset(false);
}

void CortexTarget::WriteDemoProgram() {
  auto put32 = [&](uint32_t a, uint32_t v) { std::memcpy(&m_flash[a], &v, 4); };
  auto put16 = [&](uint32_t a, uint16_t v) { std::memcpy(&m_flash[a], &v, 2); };
  put32(0, kRamBase + static_cast<uint32_t>(m_ram.size()));
  put32(4, kProgramStart | 1);
  for (uint32_t i = 2; i < 48; ++i) put32(4 * i, kProgramStart | 1);
  // The demo loop: 16- and 32-bit instructions, closed by a backward branch.
  uint32_t a = kProgramStart;
  const uint16_t body[] = {0xBF00, 0xF8D0, 0x1000, 0x3001, 0xF240, 0x0000, 0x6008, 0xBF00,
                           0xE92D, 0x4010, 0x4770, 0xBF00, 0xF3BF, 0x8F4F, 0x2200, 0xBF00};
  for (int rep = 0; rep < 4; ++rep)
    for (uint16_t hw : body) {
      put16(a, hw);
      a += 2;
    }
  const int32_t off = static_cast<int32_t>(kProgramStart) - static_cast<int32_t>(a + 4);
  put16(a, static_cast<uint16_t>(0xE000 | ((off >> 1) & 0x7FF)));
  // A routine that is never reached on its own: semihosting call, then a breakpoint.
  put16(0x400, 0x2001);
  put16(0x402, 0xBEAB);
  put16(0x404, 0xBE00);
}

void CortexTarget::Reset(bool halt) {
  Advance();
  uint32_t sp = 0, pc = 0;
  std::memcpy(&sp, &m_flash[0], 4);
  std::memcpy(&pc, &m_flash[4], 4);
  m_regs.clear();
  m_regs[13] = sp;
  m_regs[17] = sp;
  m_regs[kRegPc] = pc & ~1u;
  m_regs[16] = 0x01000000;
  m_regs[14] = 0xFFFFFFFF;
  m_chip.Reset();
  m_runMs = 0;
  m_resetSticky = true;
  m_running = !halt;
  if (halt) m_dfsr |= kDfsrVcatch | kDfsrHalted;
  m_last = SimClock::now();
}

void CortexTarget::SetDebugAttached(bool attached) {
  m_attached = attached;
  if (attached) m_fpCtrlEnable = 1;
}

bool CortexTarget::ReadHalf(uint32_t a, uint16_t& v) const {
  if (InFlash(a, 2)) std::memcpy(&v, &m_flash[a], 2);
  else if (InRam(a, 2)) std::memcpy(&v, &m_ram[a - kRamBase], 2);
  else return false;
  return true;
}

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

bool CortexTarget::WatchMatchOnCounter() const {
  if (!(m_demcr & (1u << 24))) return false;
  const uint32_t addr = DemoChip::CounterRegister();
  for (size_t i = 0; i < m_dwtFunc.size(); ++i) {
    const uint32_t f = m_dwtFunc[i] & 0xF;
    if (m_core.dwtV8) {
      if (f != 4 && f != 5) continue;
      uint32_t lo = m_dwtComp[i], hi;
      if (i + 1 < m_dwtFunc.size() && (m_dwtFunc[i + 1] & 0xF) == 7) hi = m_dwtComp[i + 1];
      else hi = lo + (1u << ((m_dwtFunc[i] >> 10) & 3)) - 1;
      if (addr + 3 >= lo && addr <= hi) return true;
    } else {
      if (f != 6 && f != 7) continue;
      const uint32_t mask = ~((1u << (m_dwtMask[i] & 0x1F)) - 1);
      if ((addr & mask) == (m_dwtComp[i] & mask)) return true;
    }
  }
  return false;
}

bool CortexTarget::ExecuteOne() {
  uint32_t pc = m_regs[kRegPc];
  if (BreakMatch(pc)) {
    m_dfsr |= kDfsrBkpt;
    return true;
  }
  uint16_t hw = 0;
  if (!ReadHalf(pc, hw)) {  // lost in unmapped memory: the chip resets itself
    uint32_t v = 0;
    std::memcpy(&v, &m_flash[4], 4);
    m_regs[kRegPc] = v & ~1u;
    return false;
  }
  if ((hw & 0xFF00) == 0xBE00) {
    m_dfsr |= kDfsrBkpt;
    return true;
  }
  if (Is32BitThumb(hw)) {
    pc += 4;
  } else if ((hw & 0xF800) == 0xE000) {
    int32_t off = (hw & 0x7FF) << 1;
    if (off & 0x800) off -= 0x1000;
    pc = static_cast<uint32_t>(static_cast<int32_t>(pc) + 4 + off);
  } else {
    pc += 2;
  }
  m_regs[kRegPc] = pc;
  return false;
}

void CortexTarget::Advance() {
  const auto now = SimClock::now();
  if (!m_running) {
    m_last = now;
    return;
  }
  const double dtUs = std::chrono::duration<double, std::micro>(now - m_last).count();
  m_last = now;
  const double oldMs = m_runMs;
  const uint32_t steps = static_cast<uint32_t>(std::min<double>(dtUs, kMaxStepsPerAdvance));
  double newMs = oldMs + dtUs / 1000.0;
  for (uint32_t i = 0; i < steps; ++i) {
    if (ExecuteOne()) {
      m_running = false;
      newMs = oldMs + i / 1000.0;
      break;
    }
  }
  const double p = DemoChip::kCounterPeriodMs;
  if (std::floor(newMs / p) > std::floor(oldMs / p) && WatchMatchOnCounter()) {
    newMs = (std::floor(oldMs / p) + 1) * p;
    for (size_t i = 0; i < m_dwtFunc.size(); ++i)
      if (m_dwtFunc[i] & 0xF) m_dwtMatched[i] = true;
    m_dfsr |= kDfsrDwtTrap;
    m_running = false;
  }
  m_runMs = newMs;
}

bool CortexTarget::IsRunning() {
  Advance();
  return m_running;
}

uint32_t CortexTarget::Pc() {
  Advance();
  return m_regs[kRegPc];
}

void CortexTarget::Halt() {
  Advance();
  if (m_running) {
    m_running = false;
    m_dfsr |= kDfsrHalted;
  }
}

void CortexTarget::Run() {
  Advance();
  m_running = true;
  m_last = SimClock::now();
}

uint32_t CortexTarget::Step() {
  Advance();
  if (m_running) return kErrMcuStop;
  ExecuteOne();
  m_dfsr |= kDfsrHalted;
  m_runMs += 0.001;
  return kErrOk;
}

uint32_t CortexTarget::DebugId(uint32_t selector) { return selector == 0 ? m_core.idcode : m_chip.ProductId(); }

bool CortexTarget::ValidRegister(uint32_t i) const {
  if (i <= 18 || i == 20) return true;
  return m_core.fpu && (i == 0x21 || (i >= 0x40 && i < 0x60));
}

uint32_t CortexTarget::ReadReg(uint32_t index, uint32_t& value) {
  Advance();
  if (!ValidRegister(index)) return kErrGetReg;
  if (m_running) return kErrRegTimeout;
  value = m_regs[index];
  return kErrOk;
}

uint32_t CortexTarget::WriteReg(uint32_t index, uint32_t value) {
  Advance();
  if (!ValidRegister(index)) return kErrSetReg;
  if (m_running) return kErrRegTimeout;
  if (index == kRegPc) value &= ~1u;
  m_regs[index] = value;
  if (index == 13) m_regs[17] = value;
  return kErrOk;
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
    case kSysTickCvr: v = 0xFFFFFF - (static_cast<uint32_t>(m_runMs * 72000.0) % 0x1000000); return true;
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

uint32_t CortexTarget::ReadWord(uint32_t a, uint32_t& v) {
  Advance();
  if (InFlash(a, 4)) {
    std::memcpy(&v, &m_flash[a], 4);
    return kErrOk;
  }
  if (InRam(a, 4)) {
    std::memcpy(&v, &m_ram[a - kRamBase], 4);
    return kErrOk;
  }
  if (DemoChip::Owns(a)) {
    v = m_chip.Read(a, m_runMs);
    return kErrOk;
  }
  return ReadSystem(a & ~3u, v) ? kErrOk : kErrGetReg;
}

uint32_t CortexTarget::WriteWord(uint32_t a, uint32_t v) {
  Advance();
  if (InFlash(a, 4)) return kErrOk;  // flash only changes through the flash commands
  if (InRam(a, 4)) {
    std::memcpy(&m_ram[a - kRamBase], &v, 4);
    return kErrOk;
  }
  if (DemoChip::Owns(a)) {
    m_chip.Write(a, v, m_runMs);
    return kErrOk;
  }
  return WriteSystem(a & ~3u, v) ? kErrOk : kErrSetReg;
}

uint32_t CortexTarget::ReadBytes(uint32_t a, std::span<uint8_t> out) {
  Advance();
  if (InFlash(a, out.size())) {
    std::memcpy(out.data(), &m_flash[a], out.size());
    return kErrOk;
  }
  if (InRam(a, out.size())) {
    std::memcpy(out.data(), &m_ram[a - kRamBase], out.size());
    return kErrOk;
  }
  for (size_t i = 0; i < out.size();) {
    const uint32_t addr = a + static_cast<uint32_t>(i);
    uint32_t w = 0;
    if (const uint32_t e = ReadWord(addr & ~3u, w)) return e;
    for (uint32_t b = addr & 3; b < 4 && i < out.size(); ++b, ++i) out[i] = static_cast<uint8_t>(w >> (8 * b));
  }
  return kErrOk;
}

uint32_t CortexTarget::WriteBytes(uint32_t a, std::span<const uint8_t> data) {
  Advance();
  if (InFlash(a, data.size())) return kErrOk;
  if (InRam(a, data.size())) {
    std::memcpy(&m_ram[a - kRamBase], data.data(), data.size());
    return kErrOk;
  }
  for (size_t i = 0; i < data.size();) {
    const uint32_t addr = a + static_cast<uint32_t>(i);
    uint32_t w = 0;
    const bool whole = (addr & 3) == 0 && data.size() - i >= 4;
    if (!whole)
      if (const uint32_t e = ReadWord(addr & ~3u, w)) return e == kErrGetReg ? kErrSetReg : e;
    for (uint32_t b = addr & 3; b < 4 && i < data.size(); ++b, ++i) {
      w &= ~(0xFFu << (8 * b));
      w |= static_cast<uint32_t>(data[i]) << (8 * b);
    }
    if (const uint32_t e = WriteWord(addr & ~3u, w)) return e;
  }
  return kErrOk;
}

FlashGeometry CortexTarget::Geometry() const {
  return {0, static_cast<uint32_t>(m_flash.size()), kPageSize, kRamBase, static_cast<uint32_t>(m_ram.size()),
          m_chip.ProductId()};
}

uint32_t CortexTarget::FlashProgram(uint32_t a, std::span<const uint8_t> data) {
  if (!InFlash(a, data.size())) return kErrFlashAddress;
  for (size_t i = 0; i < data.size(); ++i) m_flash[a + i] &= data[i];
  return kErrOk;
}

uint32_t CortexTarget::FlashRead(uint32_t a, std::span<uint8_t> out) {
  if (!InFlash(a, out.size())) return kErrFlashAddress;
  std::memcpy(out.data(), &m_flash[a], out.size());
  return kErrOk;
}

uint32_t CortexTarget::FlashErasePage(uint32_t a) {
  if (!InFlash(a, 1)) return kErrFlashAddress;
  const uint32_t start = a & ~(kPageSize - 1);
  std::fill(m_flash.begin() + start, m_flash.begin() + std::min<size_t>(start + kPageSize, m_flash.size()), 0xFF);
  return kErrOk;
}

uint32_t CortexTarget::FlashEraseAll() {
  std::fill(m_flash.begin(), m_flash.end(), 0xFF);
  return kErrOk;
}

bool CortexTarget::DrivePin(const std::string& pin, int level) { return m_chip.Drive(pin, level); }

}  // namespace sim
