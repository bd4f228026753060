#include "sim/CortexTarget.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace sim {
namespace {

using namespace cortex_regs;
constexpr uint32_t kRegPc = 15;
constexpr uint32_t kMaxStepsPerAdvance = 4096;

bool Is32BitThumb(uint16_t hw) { return (hw & 0xE000) == 0xE000 && (hw & 0x1800) != 0; }

}  // namespace

CortexTarget::Core CortexTarget::CoreFor(const std::string& cpu) {
  if (cpu == "m0") return {0x410CC200, {4, 0, false, 2, false}, false, 0x0BB11477};
  if (cpu == "m0+") return {0x410CC601, {4, 0, false, 2, false}, false, 0x0BC11477};
  if (cpu == "m7") return {0x411FC272, {8, 0, true, 4, false}, true, 0x5BA02477};
  if (cpu == "m23") return {0x410CD200, {4, 0, true, 4, true}, false, 0x0BE12477};
  if (cpu == "m33") return {0x410FD210, {8, 0, true, 4, true}, true, 0x6BA02477};
  if (cpu == "m55") return {0x410FD220, {8, 0, true, 8, true}, true, 0x6BA03477};
  return {0x410FC241, {6, 2, false, 4, false}, true, 0x2BA01477};  // m4
}

CortexTarget::CortexTarget(const std::string& chip, const std::string& cpu)
    : m_core(CoreFor(cpu.empty() ? (chip == "GX32P100" ? "m23" : "m4") : cpu)), m_chip(chip), m_debug(m_core.debug) {
  const bool small = chip == "GX32P100";
  m_flash.assign(small ? 128 * 1024 : 512 * 1024, 0xFF);
  m_ram.assign(small ? 32 * 1024 : 128 * 1024, 0);
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
  m_debug.NoteReset();
  m_running = !halt;
  if (halt) m_debug.NoteHalt(kDfsrVcatch | kDfsrHalted);
  m_last = SimClock::now();
}

void CortexTarget::SetDebugAttached(bool attached) {
  m_attached = attached;
  if (attached) m_debug.EnableBreakpoints();
}

bool CortexTarget::ReadHalf(uint32_t a, uint16_t& v) const {
  if (InFlash(a, 2)) std::memcpy(&v, &m_flash[a], 2);
  else if (InRam(a, 2)) std::memcpy(&v, &m_ram[a - kRamBase], 2);
  else return false;
  return true;
}

bool CortexTarget::ExecuteOne() {
  uint32_t pc = m_regs[kRegPc];
  if (m_debug.BreakAt(pc)) {
    m_debug.NoteHalt(kDfsrBkpt);
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
    m_debug.NoteHalt(kDfsrBkpt);
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
  if (std::floor(newMs / p) > std::floor(oldMs / p)) {  // the firmware writes the counter
    bool hit = false;
    for (size_t i = 0; i < m_debug.WatchCount(); ++i)
      if (m_debug.WatchHitsWrite(i, DemoChip::CounterRegister())) {
        m_debug.MarkMatched(i);
        hit = true;
      }
    if (hit) {
      newMs = (std::floor(oldMs / p) + 1) * p;
      m_debug.NoteHalt(kDfsrDwtTrap);
      m_running = false;
    }
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
    m_debug.NoteHalt(kDfsrHalted);
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
  m_debug.NoteHalt(kDfsrHalted);
  m_runMs += 0.001;
  return kErrOk;
}

uint32_t CortexTarget::DebugId(uint32_t selector) { return selector == 0 ? m_core.idcode : m_chip.ProductId(); }

bool CortexTarget::ValidRegister(uint32_t i) const {
  if (i <= 20) return true;  // r0-r15, xPSR, MSP, PSP, (reserved), CONTROL/FAULTMASK/BASEPRI/PRIMASK
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
    std::copy_n(m_flash.begin() + a, out.size(), out.begin());
    return kErrOk;
  }
  if (InRam(a, out.size())) {
    std::copy_n(m_ram.begin() + (a - kRamBase), out.size(), out.begin());
    return kErrOk;
  }
  return ReadBytesByWords(a, out);
}

uint32_t CortexTarget::WriteBytes(uint32_t a, std::span<const uint8_t> data) {
  Advance();
  if (InFlash(a, data.size())) return kErrOk;
  if (InRam(a, data.size())) {
    std::copy_n(data.begin(), data.size(), m_ram.begin() + (a - kRamBase));
    return kErrOk;
  }
  return WriteBytesByWords(a, data);
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
  std::copy_n(m_flash.begin() + a, out.size(), out.begin());
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
