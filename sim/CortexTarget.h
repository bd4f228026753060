// A Cortex-M target: flash and SRAM, the system control and debug registers,
// the breakpoint unit at 0xE0002000 and the watchpoint unit at 0xE0001000,
// core registers and a small execution model (Thumb instruction lengths,
// backward branches, BKPT) that runs the demo firmware loop while the core
// runs, with the demo chip's peripherals behind it.
#pragma once

#include <map>
#include <vector>

#include "sim/CortexDebugUnit.h"
#include "sim/DemoChip.h"
#include "sim/Target.h"

namespace sim {

class CortexTarget final : public Target {
 public:
  // cpu: m0, m0+, m4, m7, m23, m33, m55 (empty = the chip's default).
  CortexTarget(const std::string& chip, const std::string& cpu);

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
  void SetDebugAttached(bool attached) override;
  uint32_t DebugId(uint32_t selector) override;
  FlashGeometry Geometry() const override;
  uint32_t FlashProgram(uint32_t address, std::span<const uint8_t> data) override;
  uint32_t FlashRead(uint32_t address, std::span<uint8_t> out) override;
  uint32_t FlashErasePage(uint32_t address) override;
  uint32_t FlashEraseAll() override;
  bool DrivePin(const std::string& pin, int level) override;

  static constexpr uint32_t kRamBase = 0x20000000;
  static constexpr uint32_t kPageSize = 2048;
  static constexpr uint32_t kProgramStart = 0x100;

 private:
  struct Core {
    uint32_t cpuid;
    CortexDebugShape debug;
    bool fpu;
    uint32_t idcode;
  };
  static Core CoreFor(const std::string& cpu);

  void Advance();
  bool ExecuteOne();  // true when the core halted before executing
  bool ReadHalf(uint32_t address, uint16_t& v) const;
  bool InFlash(uint32_t a, size_t n) const { return a < m_flash.size() && n <= m_flash.size() - a; }
  bool InRam(uint32_t a, size_t n) const {
    return a >= kRamBase && a - kRamBase < m_ram.size() && n <= m_ram.size() - (a - kRamBase);
  }
  bool ReadSystem(uint32_t a, uint32_t& v);
  bool WriteSystem(uint32_t a, uint32_t v);
  void WriteDemoProgram();
  bool ValidRegister(uint32_t index) const;

  Core m_core;
  DemoChip m_chip;
  std::vector<uint8_t> m_flash;
  std::vector<uint8_t> m_ram;
  std::map<uint32_t, uint32_t> m_regs;
  bool m_running = true;
  bool m_attached = false;
  SimClock::time_point m_last = SimClock::now();
  double m_runMs = 0;
  CortexDebugUnit m_debug;
  std::map<uint32_t, uint32_t> m_scs;  // plain registers of the system space
};

}  // namespace sim
