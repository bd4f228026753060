// Peripherals of the Cortex-M demo chips: the system manager with the id
// registers and the multi-function pin selection, and six GPIO ports of 16
// pins driven by a small demo firmware (a counter, a blinking LED, a walking
// bit, a serial line) whose pattern follows the core's run time.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>

namespace sim {

class DemoChip {
 public:
  static constexpr uint32_t kSysBase = 0x40000000;
  static constexpr uint32_t kGpioBase = 0x40004000;
  static constexpr uint32_t kPinDataBase = 0x40004800;  // one word per pin
  static constexpr int kPorts = 6;

  // "GX32M412VE" (PID 0x00D41200) or "GX32P100" (PID 0x00A30000, second id
  // 0x00010100); false from Known() for anything else.
  explicit DemoChip(const std::string& chip);
  static bool Known(const std::string& chip);

  uint32_t ProductId() const { return m_pid; }
  const std::string& Name() const { return m_chip; }

  // True when the address belongs to the chip's peripherals.
  static bool Owns(uint32_t address);
  uint32_t Read(uint32_t address, double runMs) const;
  void Write(uint32_t address, uint32_t value, double runMs);

  // The demo firmware's set-up after a reset.
  void Reset();

  bool Drive(const std::string& pin, int level);

  // Address of the output register that the demo firmware writes on every
  // counter tick (watchpoints on it trigger).
  static uint32_t CounterRegister() { return kGpioBase + 0x08; }
  static constexpr double kCounterPeriodMs = 100.0;

 private:
  struct Port {
    uint32_t mode = 0;    // 2 bits a pin: 0 input, 1 push-pull, 2 open-drain, 3 quasi
    uint32_t dout = 0;
    uint32_t pusel = 0;   // 2 bits a pin: 0 none, 1 pull-up, 2 pull-down
    std::map<uint32_t, uint32_t> other;  // registers without behaviour
  };

  uint32_t OutputWord(int port, double runMs) const;
  uint32_t PinLevels(int port, double runMs) const;
  int FunctionLevel(int port, int pin, uint32_t function, double runMs) const;
  uint32_t Mfp(int port, int pin) const;

  std::string m_chip;
  uint32_t m_pid = 0;
  uint32_t m_secondId = 0;
  std::array<Port, kPorts> m_ports{};
  std::array<uint32_t, kPorts * 2> m_mfp{};   // MFPL/MFPH per port
  std::map<uint32_t, uint32_t> m_sys;         // other system registers
  std::array<std::array<int, 16>, kPorts> m_drive{};  // -1 released
  int m_counterBase = 0;
};

}  // namespace sim
