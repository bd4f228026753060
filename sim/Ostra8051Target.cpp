#include "sim/Ostra8051Target.h"

#include <algorithm>
#include <cctype>
#include <cmath>

namespace sim {
namespace {

constexpr uint32_t kPortSfr[4] = {0x80, 0x90, 0xA0, 0xB0};
constexpr uint32_t kModeSfr[4][2] = {{0xB1, 0xB2}, {0xB3, 0xB4}, {0xB5, 0xB6}, {0xAC, 0xAD}};
constexpr uint32_t kScon = 0x98, kPwmCon0 = 0xD8, kAdcCon1 = 0xE1;
constexpr uint32_t kLoopStart = 0x100, kLoopEnd = 0x180;
constexpr uint32_t kPageSize = 128;
constexpr char kSerialText[] = "8051 says hi\r\n";

}  // namespace

Ostra8051Target::Ostra8051Target() : m_code(16 * 1024, 0xFF), m_xdata(2048, 0) {
  for (auto& p : m_drive) p.fill(-1);
  m_code[0] = 0x02;  // LJMP 0x0100
  m_code[1] = 0x01;
  m_code[2] = 0x00;
  for (uint32_t a = kLoopStart; a < kLoopEnd; ++a) m_code[a] = static_cast<uint8_t>(a & 0x7F);
  Reset(false);
}

void Ostra8051Target::Reset(bool halt) {
  m_sfr.fill(0);
  m_idata.fill(0);
  for (int p = 0; p < 4; ++p) m_sfr[kPortSfr[p] - 0x80] = 0xFF;
  m_sfr[0x81 - 0x80] = 0x07;  // SP
  // Demo firmware: P0 push-pull counter, P1.0 LED, P2 push-pull walking bit,
  // P3.0/P3.1 serial port, the rest quasi-bidirectional.
  m_sfr[kModeSfr[0][1] - 0x80] = 0xFF;
  m_sfr[kModeSfr[1][1] - 0x80] = 0x01;
  m_sfr[kModeSfr[2][1] - 0x80] = 0xFF;
  m_sfr[kModeSfr[1][0] - 0x80] = 0x0E;  // P1.1-P1.3 input only
  m_sfr[kScon - 0x80] = 0x50;           // mode 1, receiver on
  m_pc = halt ? 0 : kLoopStart;
  m_running = !halt;
  m_leavingBreakpoint = false;
  m_runMs = 0;
  m_last = SimClock::now();
}

void Ostra8051Target::Advance() {
  const auto now = SimClock::now();
  if (!m_running) {
    m_last = now;
    return;
  }
  const double dtUs = std::chrono::duration<double, std::micro>(now - m_last).count();
  m_last = now;
  const uint32_t steps = static_cast<uint32_t>(std::min(dtUs, 4096.0));
  double ms = m_runMs + dtUs / 1000.0;
  for (uint32_t i = 0; i < steps; ++i) {
    // A run that starts on a breakpoint executes that instruction first.
    if (!m_leavingBreakpoint && IsArmed(m_pc)) {
      m_running = false;
      ms = m_runMs + i / 1000.0;
      break;
    }
    m_leavingBreakpoint = false;
    m_pc = (m_pc < kLoopStart || m_pc + 1 >= kLoopEnd) ? kLoopStart : m_pc + 1;
  }
  m_runMs = ms;
}

bool Ostra8051Target::IsRunning() {
  Advance();
  return m_running;
}
uint32_t Ostra8051Target::Pc() {
  Advance();
  return m_pc;
}
void Ostra8051Target::Halt() {
  Advance();
  m_running = false;
}
void Ostra8051Target::Run() {
  Advance();
  if (!m_running) m_leavingBreakpoint = true;
  m_running = true;
  m_last = SimClock::now();
}
uint32_t Ostra8051Target::Step() {
  Advance();
  if (m_running) return kErrMcuStop;
  m_pc = (m_pc < kLoopStart || m_pc + 1 >= kLoopEnd) ? kLoopStart : m_pc + 1;
  m_runMs += 0.001;
  return kErrOk;
}

uint32_t Ostra8051Target::DebugId(uint32_t) { return kProductId; }

uint8_t Ostra8051Target::PortLatch(int port) const {
  uint8_t v = m_sfr[kPortSfr[port] - 0x80];
  if (port == 0) v = static_cast<uint8_t>(static_cast<uint32_t>(std::floor(m_runMs / 100.0)) & 0xFF);
  if (port == 1) v = static_cast<uint8_t>((v & ~1) | (static_cast<int>(std::floor(m_runMs / 500.0)) & 1));
  if (port == 2) v = static_cast<uint8_t>(1u << (static_cast<int>(std::floor(m_runMs / 200.0)) % 8));
  return v;
}

uint8_t Ostra8051Target::PortPins(int port) const {
  const uint8_t latch = PortLatch(port);
  const uint8_t m1 = m_sfr[kModeSfr[port][0] - 0x80], m2 = m_sfr[kModeSfr[port][1] - 0x80];
  uint8_t pins = 0;
  for (int i = 0; i < 8; ++i) {
    const bool b1 = (m1 >> i) & 1, b2 = (m2 >> i) & 1;
    const int drive = m_drive[port][i];
    int level;
    if (port == 3 && i == 1 && (m_sfr[kScon - 0x80] & 0x40)) {  // TXD: 8N1 frames
      const long bit = static_cast<long>(std::floor(m_runMs / 20.0));
      const long frame = bit / 11, pos = bit % 11;
      const unsigned char c = static_cast<unsigned char>(kSerialText[frame % (sizeof(kSerialText) - 1)]);
      level = pos == 0 || pos == 10 ? 1 : pos == 1 ? 0 : (c >> (pos - 2)) & 1;
    } else if (port == 1 && i < 4 && (m_sfr[kPwmCon0 - 0x80] & 0x80)) {  // PWM0-3: 10 ms period, duty by channel
      const double phase = std::fmod(m_runMs, 10.0) / 10.0;
      level = phase < 0.2 * (i + 1) ? 1 : 0;
    } else if (port == 0 && i < 4 && (m_sfr[kAdcCon1 - 0x80] & 1)) {
      level = 0;  // analog input
    } else if (!b1 && b2) {
      level = (latch >> i) & 1;  // push-pull
    } else if (b1 && !b2) {
      level = drive >= 0 ? drive : 0;  // input only, no pull-up
    } else {  // quasi-bidirectional (weak pull-up) or open drain
      if (!((latch >> i) & 1)) level = 0;
      else level = drive >= 0 ? drive : (b1 ? 0 : 1);
    }
    pins |= static_cast<uint8_t>((level & 1) << i);
  }
  return pins;
}

bool Ostra8051Target::ReadByte(uint32_t a, uint8_t& v) {
  const uint32_t space = a & 0xFF000000, off = a & 0x00FFFFFF;
  if (space == kCodeSpace && off < m_code.size()) v = m_code[off];
  else if (space == kXdataSpace && off < m_xdata.size()) v = m_xdata[off];
  else if (space == kIdataSpace && off < 256) v = m_idata[off];
  else if (space == kIdSpace && off < 4) v = static_cast<uint8_t>(kProductId >> (8 * off));
  else if (space == kSfrSpace && off >= 0x80 && off < 0x100) {
    v = m_sfr[off - 0x80];
    for (int p = 0; p < 4; ++p)
      if (off == kPortSfr[p]) v = PortPins(p);
    if (off == 0xE0 || off == 0xF0 || off == 0xD0) v = m_sfr[off - 0x80];
  } else return false;
  return true;
}

bool Ostra8051Target::WriteByte(uint32_t a, uint8_t v) {
  const uint32_t space = a & 0xFF000000, off = a & 0x00FFFFFF;
  if (space == kCodeSpace && off < m_code.size()) return true;  // flash: flash commands only
  if (space == kXdataSpace && off < m_xdata.size()) m_xdata[off] = v;
  else if (space == kIdataSpace && off < 256) m_idata[off] = v;
  else if (space == kSfrSpace && off >= 0x80 && off < 0x100) m_sfr[off - 0x80] = v;
  else return false;
  return true;
}

uint32_t Ostra8051Target::ReadBytes(uint32_t a, std::span<uint8_t> out) {
  Advance();
  for (size_t i = 0; i < out.size(); ++i)
    if (!ReadByte(a + static_cast<uint32_t>(i), out[i])) return kErrGetReg;
  return kErrOk;
}

uint32_t Ostra8051Target::WriteBytes(uint32_t a, std::span<const uint8_t> data) {
  Advance();
  for (size_t i = 0; i < data.size(); ++i)
    if (!WriteByte(a + static_cast<uint32_t>(i), data[i])) return kErrSetReg;
  return kErrOk;
}

uint32_t Ostra8051Target::ReadWord(uint32_t a, uint32_t& value) {
  uint8_t b[4];
  if (const uint32_t e = ReadBytes(a, b)) return e;
  value = uint32_t{b[0]} | uint32_t{b[1]} << 8 | uint32_t{b[2]} << 16 | uint32_t{b[3]} << 24;
  return kErrOk;
}

uint32_t Ostra8051Target::WriteWord(uint32_t a, uint32_t value) {
  const uint8_t b[4] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                        static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
  return WriteBytes(a, b);
}

// Registers: 0-7 R0-R7 of the current bank, 8 A, 9 B, 10 PSW, 11 SP, 12 DPTR, 15 PC.
uint32_t Ostra8051Target::ReadReg(uint32_t index, uint32_t& value) {
  Advance();
  if (m_running) return kErrRegTimeout;
  const uint8_t bank = (m_sfr[0xD0 - 0x80] >> 3) & 3;
  if (index < 8) value = m_idata[bank * 8 + index];
  else if (index == 8) value = m_sfr[0xE0 - 0x80];
  else if (index == 9) value = m_sfr[0xF0 - 0x80];
  else if (index == 10) value = m_sfr[0xD0 - 0x80];
  else if (index == 11) value = m_sfr[0x81 - 0x80];
  else if (index == 12) value = m_sfr[0x82 - 0x80] | m_sfr[0x83 - 0x80] << 8;
  else if (index == 15) value = m_pc;
  else return kErrGetReg;
  return kErrOk;
}

uint32_t Ostra8051Target::WriteReg(uint32_t index, uint32_t value) {
  Advance();
  if (m_running) return kErrRegTimeout;
  const uint8_t bank = (m_sfr[0xD0 - 0x80] >> 3) & 3;
  const auto b = static_cast<uint8_t>(value);
  if (index < 8) m_idata[bank * 8 + index] = b;
  else if (index == 8) m_sfr[0xE0 - 0x80] = b;
  else if (index == 9) m_sfr[0xF0 - 0x80] = b;
  else if (index == 10) m_sfr[0xD0 - 0x80] = b;
  else if (index == 11) m_sfr[0x81 - 0x80] = b;
  else if (index == 12) {
    m_sfr[0x82 - 0x80] = b;
    m_sfr[0x83 - 0x80] = static_cast<uint8_t>(value >> 8);
  } else if (index == 15) m_pc = value & 0xFFFF;
  else return kErrSetReg;
  return kErrOk;
}

FlashGeometry Ostra8051Target::Geometry() const {
  return {0, static_cast<uint32_t>(m_code.size()), kPageSize, kXdataSpace, static_cast<uint32_t>(m_xdata.size()),
          kProductId};
}

uint32_t Ostra8051Target::FlashProgram(uint32_t a, std::span<const uint8_t> data) {
  if (a >= m_code.size() || data.size() > m_code.size() - a) return kErrFlashAddress;
  for (size_t i = 0; i < data.size(); ++i) m_code[a + i] &= data[i];
  return kErrOk;
}

uint32_t Ostra8051Target::FlashRead(uint32_t a, std::span<uint8_t> out) {
  if (a >= m_code.size() || out.size() > m_code.size() - a) return kErrFlashAddress;
  std::copy_n(m_code.begin() + a, out.size(), out.begin());
  return kErrOk;
}

uint32_t Ostra8051Target::FlashErasePage(uint32_t a) {
  if (a >= m_code.size()) return kErrFlashAddress;
  const uint32_t s = a & ~(kPageSize - 1);
  std::fill(m_code.begin() + s, m_code.begin() + s + kPageSize, 0xFF);
  return kErrOk;
}

uint32_t Ostra8051Target::FlashEraseAll() {
  std::fill(m_code.begin(), m_code.end(), 0xFF);
  return kErrOk;
}

bool Ostra8051Target::IsArmed(uint32_t address) const {
  return std::find(m_slots.begin(), m_slots.end(), address) != m_slots.end();
}

uint32_t Ostra8051Target::SetBreakpoint(uint32_t address, uint32_t position) {
  if (position < 1 || position > kMaxBreakpoints) return kErrUnimplemented;
  m_slots[position - 1] = address;
  return kErrOk;
}

uint32_t Ostra8051Target::ClearBreakpoint(uint32_t address) {
  for (std::optional<uint32_t>& slot : m_slots)
    if (slot == address) slot.reset();
  return kErrOk;
}

bool Ostra8051Target::DrivePin(const std::string& pin, int level) {
  // "P1.4"
  if (pin.size() != 4 || std::toupper(static_cast<unsigned char>(pin[0])) != 'P' || pin[2] != '.') return false;
  const int port = pin[1] - '0', bit = pin[3] - '0';
  if (port < 0 || port > 3 || bit < 0 || bit > 7) return false;
  m_drive[port][bit] = level < 0 ? -1 : (level ? 1 : 0);
  return true;
}

}  // namespace sim
