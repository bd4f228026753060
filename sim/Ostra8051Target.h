// An 8051 1T target ("GX8051T24"): code flash, XDATA, IDATA and the special
// function registers and the product id in one 32-bit address space (the
// top byte picks the space), four 8-bit ports with their mode registers driven by a demo
// firmware, and the adapter's eight hardware breakpoint slots.
#pragma once

#include <array>
#include <optional>
#include <vector>

#include "sim/Target.h"

namespace sim {

class Ostra8051Target final : public Target {
 public:
  static constexpr uint32_t kCodeSpace = 0x00000000;
  static constexpr uint32_t kXdataSpace = 0x01000000;
  static constexpr uint32_t kIdataSpace = 0x02000000;
  static constexpr uint32_t kSfrSpace = 0x03000000;
  static constexpr uint32_t kIdSpace = 0x04000000;  // read-only: the product id
  static constexpr uint32_t kProductId = 0x00002B52;
  static constexpr size_t kMaxBreakpoints = 8;

  Ostra8051Target();

  uint32_t ReadWord(uint32_t address, uint32_t& value) override;
  uint32_t WriteWord(uint32_t address, uint32_t value) override;
  uint32_t ReadBytes(uint32_t address, std::span<uint8_t> out) override;
  uint32_t WriteBytes(uint32_t address, std::span<const uint8_t> data) override;
  uint32_t ReadReg(uint32_t index, uint32_t& value) override;
  uint32_t WriteReg(uint32_t index, uint32_t value) override;
  void Reset(bool halt) override;
  void Halt() override;
  uint32_t Step() override;
  void Run() override;
  bool IsRunning() override;
  uint32_t Pc() override;
  void SetDebugAttached(bool) override {}
  uint32_t DebugId(uint32_t selector) override;
  FlashGeometry Geometry() const override;
  uint32_t FlashProgram(uint32_t address, std::span<const uint8_t> data) override;
  uint32_t FlashRead(uint32_t address, std::span<uint8_t> out) override;
  uint32_t FlashErasePage(uint32_t address) override;
  uint32_t FlashEraseAll() override;
  // Slot `position` (1 to 8) holds `address` from now on, whatever it held
  // before; other positions are refused. The slots live in the adapter: a
  // reset, a reconnect or a new host connection leaves them armed.
  uint32_t SetBreakpoint(uint32_t address, uint32_t position) override;
  // Disarms every slot that holds `address` (none is not an error).
  uint32_t ClearBreakpoint(uint32_t address) override;
  bool DrivePin(const std::string& pin, int level) override;

 private:
  void Advance();
  bool ReadByte(uint32_t address, uint8_t& v);
  bool IsArmed(uint32_t address) const;
  bool WriteByte(uint32_t address, uint8_t v);
  uint8_t PortLatch(int port) const;
  uint8_t PortPins(int port) const;

  std::vector<uint8_t> m_code;
  std::vector<uint8_t> m_xdata;
  std::array<uint8_t, 256> m_idata{};
  std::array<uint8_t, 128> m_sfr{};
  std::array<std::array<int, 8>, 4> m_drive{};
  std::array<std::optional<uint32_t>, kMaxBreakpoints> m_slots{};
  uint32_t m_pc = 0;
  bool m_running = true;
  bool m_leavingBreakpoint = false;  // resumed, first instruction not yet executed
  double m_runMs = 0;
  SimClock::time_point m_last = SimClock::now();
};

}  // namespace sim
