#include "sim/DemoChip.h"

#include <cctype>
#include <cmath>

namespace sim {
namespace {

constexpr uint32_t kMfpOffset = 0x30;     // GPA_MFPL at kSysBase + 0x30, then MFPH, GPB_MFPL ...
constexpr uint32_t kPortStride = 0x40;
constexpr char kSerialText[] = "Hello from the demo chip\r\n";
constexpr double kSerialBitMs = 20.0;

uint32_t Set2(uint32_t word, int pin, uint32_t v) {
  return (word & ~(3u << (2 * pin))) | (v << (2 * pin));
}

}  // namespace

bool DemoChip::Known(const std::string& chip) { return chip == "GX32M412VE" || chip == "GX32P100"; }

DemoChip::DemoChip(const std::string& chip) : m_chip(chip) {
  if (chip == "GX32P100") {
    m_pid = 0x00A30000;
    m_secondId = 0x00010100;
  } else {
    m_pid = 0x00D41200;
  }
  for (auto& p : m_drive) p.fill(-1);
  Reset();
}

bool DemoChip::Owns(uint32_t a) {
  return (a >= kSysBase && a < kSysBase + 0x200) ||
         (a >= kGpioBase && a < kGpioBase + kPorts * kPortStride) ||
         (a >= kPinDataBase && a < kPinDataBase + kPorts * 16 * 4);
}

void DemoChip::Reset() {
  m_sys.clear();
  m_mfp.fill(0);
  for (auto& p : m_ports) p = Port{};
  m_counterBase = 0;
  auto setMfp = [&](int port, int pin, uint32_t f) {
    uint32_t& w = m_mfp[port * 2 + pin / 8];
    const int sh = 4 * (pin % 8);
    w = (w & ~(0xFu << sh)) | (f << sh);
  };
  Port& pa = m_ports[0];
  for (int i = 0; i < 8; ++i) pa.mode = Set2(pa.mode, i, 1);     // counter outputs
  for (int i = 8; i < 12; ++i) pa.pusel = Set2(pa.pusel, i, 1);  // buttons
  setMfp(0, 12, 3);  // UART0_RXD
  pa.pusel = Set2(pa.pusel, 12, 1);
  setMfp(0, 13, 3);  // UART0_TXD
  setMfp(0, 14, 4);  // I2C0_SDA
  setMfp(0, 15, 4);  // I2C0_SCL
  Port& pb = m_ports[1];
  pb.mode = Set2(pb.mode, 0, 1);  // LED
  pb.mode = Set2(pb.mode, 1, 1);
  for (int i = 2; i < 8; ++i) setMfp(1, i, 1);  // ADC0_CH2..7
  Port& pc = m_ports[2];
  for (int i = 0; i < 4; ++i) setMfp(2, i, 4);   // SPI0
  for (int i = 4; i < 8; ++i) pc.mode = Set2(pc.mode, i, 1);
  pc.dout = 0x00F0;
  for (int i = 8; i < 16; ++i) pc.mode = Set2(pc.mode, i, 3);
  pc.dout |= 0xFF00;
  Port& pd = m_ports[3];
  for (int i = 0; i < 4; ++i) pd.pusel = Set2(pd.pusel, i, 2);
  Port& pe = m_ports[4];
  pe.mode = 0x55555555;  // walking bit
  setMfp(5, 0, 10);  // X32_OUT
  setMfp(5, 1, 10);  // X32_IN
  setMfp(5, 2, 14);  // ICE_DAT
  setMfp(5, 3, 14);  // ICE_CLK
}

uint32_t DemoChip::Mfp(int port, int pin) const {
  return (m_mfp[port * 2 + pin / 8] >> (4 * (pin % 8))) & 0xF;
}

uint32_t DemoChip::OutputWord(int port, double runMs) const {
  uint32_t v = m_ports[port].dout & 0xFFFF;
  if (port == 0) {
    const int ticks = static_cast<int>(std::floor(runMs / kCounterPeriodMs));
    v = (v & ~0xFFu) | (static_cast<uint32_t>(ticks + m_counterBase) & 0xFF);
  } else if (port == 1) {
    v = (v & ~1u) | (static_cast<uint32_t>(std::floor(runMs / 500.0)) & 1u);
  } else if (port == 4) {
    v = 1u << (static_cast<uint32_t>(std::floor(runMs / 200.0)) % 16);
  }
  return v;
}

int DemoChip::FunctionLevel(int port, int pin, uint32_t function, double runMs) const {
  if (port == 0 && pin == 13 && function == 3) {  // UART0_TXD: 8N1 frames with one idle bit between
    const long bit = static_cast<long>(std::floor(runMs / kSerialBitMs));
    const long frame = bit / 11, pos = bit % 11;
    const unsigned char c = static_cast<unsigned char>(kSerialText[frame % (sizeof(kSerialText) - 1)]);
    if (pos == 0) return 1;            // idle
    if (pos == 1) return 0;            // start bit
    if (pos == 10) return 1;           // stop bit
    return (c >> (pos - 2)) & 1;
  }
  if (port == 2 && pin == 2 && function == 4)  // SPI0_CLK
    return static_cast<int>(std::floor(runMs / 50.0)) & 1;
  if (port == 1 && function == 1) return 0;   // analog inputs read 0
  const int d = m_drive[port][pin];
  if (d >= 0) return d;
  return 1;  // idle-high buses, crystal and debug pins
}

uint32_t DemoChip::PinLevels(int port, double runMs) const {
  const Port& p = m_ports[port];
  const uint32_t out = OutputWord(port, runMs);
  uint32_t levels = 0;
  for (int pin = 0; pin < 16; ++pin) {
    const uint32_t f = Mfp(port, pin);
    const uint32_t mode = (p.mode >> (2 * pin)) & 3;
    const uint32_t pull = (p.pusel >> (2 * pin)) & 3;
    const int drive = m_drive[port][pin];
    int level;
    if (f != 0) {
      level = FunctionLevel(port, pin, f, runMs);
    } else if (mode == 1) {
      level = (out >> pin) & 1;
    } else if (mode == 2 || mode == 3) {
      if (((out >> pin) & 1) == 0) level = 0;
      else if (drive >= 0) level = drive;
      else level = (mode == 3 || pull == 1) ? 1 : 0;
    } else {
      level = drive >= 0 ? drive : (pull == 1 ? 1 : 0);
    }
    levels |= static_cast<uint32_t>(level & 1) << pin;
  }
  return levels;
}

uint32_t DemoChip::Read(uint32_t a, double runMs) const {
  a &= ~3u;
  if (a >= kPinDataBase) {
    const uint32_t idx = (a - kPinDataBase) / 4;
    return (PinLevels(static_cast<int>(idx / 16), runMs) >> (idx % 16)) & 1;
  }
  if (a >= kGpioBase) {
    const int port = static_cast<int>((a - kGpioBase) / kPortStride);
    const uint32_t off = (a - kGpioBase) % kPortStride;
    const Port& p = m_ports[port];
    switch (off) {
      case 0x00: return p.mode;
      case 0x08: return OutputWord(port, runMs);
      case 0x10: return PinLevels(port, runMs);
      case 0x30: return p.pusel;
      default: {
        auto it = p.other.find(off);
        return it == p.other.end() ? 0 : it->second;
      }
    }
  }
  const uint32_t off = a - kSysBase;
  if (off == 0x00) return m_pid;
  if (off == 0x04 && m_secondId) return m_secondId;
  if (off >= kMfpOffset && off < kMfpOffset + 4 * m_mfp.size()) return m_mfp[(off - kMfpOffset) / 4];
  auto it = m_sys.find(off);
  return it == m_sys.end() ? 0 : it->second;
}

void DemoChip::Write(uint32_t a, uint32_t v, double runMs) {
  a &= ~3u;
  if (a >= kPinDataBase) {
    const uint32_t idx = (a - kPinDataBase) / 4;
    const int port = static_cast<int>(idx / 16);
    const uint32_t bit = 1u << (idx % 16);
    const uint32_t out = OutputWord(port, runMs);
    Write(kGpioBase + port * kPortStride + 0x08, (v & 1) ? (out | bit) : (out & ~bit), runMs);
    return;
  }
  if (a >= kGpioBase) {
    const int port = static_cast<int>((a - kGpioBase) / kPortStride);
    const uint32_t off = (a - kGpioBase) % kPortStride;
    Port& p = m_ports[port];
    switch (off) {
      case 0x00: p.mode = v; break;
      case 0x08:
        p.dout = v & 0xFFFF;
        if (port == 0) {
          const int ticks = static_cast<int>(std::floor(runMs / kCounterPeriodMs));
          m_counterBase = static_cast<int>(v & 0xFF) - ticks;
        }
        break;
      case 0x10: break;  // pin levels are read-only
      case 0x30: p.pusel = v; break;
      default: p.other[off] = v; break;
    }
    return;
  }
  const uint32_t off = a - kSysBase;
  if (off == 0x00 || (off == 0x04 && m_secondId)) return;  // id registers are read-only
  if (off >= kMfpOffset && off < kMfpOffset + 4 * m_mfp.size()) {
    m_mfp[(off - kMfpOffset) / 4] = v;
    return;
  }
  m_sys[off] = v;
}

bool DemoChip::Drive(const std::string& pin, int level) {
  // "PB3" (port letter A-F, pin 0-15)
  if (pin.size() < 3 || std::toupper(static_cast<unsigned char>(pin[0])) != 'P') return false;
  const int port = std::toupper(static_cast<unsigned char>(pin[1])) - 'A';
  if (port < 0 || port >= kPorts) return false;
  int n = 0;
  for (size_t i = 2; i < pin.size(); ++i) {
    if (!std::isdigit(static_cast<unsigned char>(pin[i]))) return false;
    n = n * 10 + (pin[i] - '0');
    if (n > 15) return false;
  }
  m_drive[port][n] = level < 0 ? -1 : (level ? 1 : 0);
  return true;
}

}  // namespace sim
