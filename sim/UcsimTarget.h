// An 8051 target whose core is ucsim's s51: the simulator runs the firmware
// (an Intel hex file) with its command console on a local TCP port, and the
// target commands become console commands: memory through `dump /h` and
// `set memory` on the rom, xram, iram and sfr spaces, registers through the
// register bank in iram and the SFRs plus `pc`, run control through `run`,
// `step`, `reset` and a console interrupt, and the adapter's eight hardware
// breakpoint slots through `break` and `delete`.
//
// Any console input stops a running simulation, so a memory access while
// the core runs pauses it for the command (an empty line) and lets it go on
// when the command ends. Replies are bounded (1 MiB, 3 s); a simulator that
// stops answering or ends makes every later access fail with "no target
// connected".
#pragma once

#include <array>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "sim/ChildProcess.h"
#include "sim/Target.h"

namespace sim {

// The firmware that the build makes for the ucsim target (next to the
// running executable, <bin>/../firmware/blink51.ihx, or in the installed data
// folder); empty when there is none.
std::string BuiltUcsimFirmware();

class UcsimTarget final : public Target {
 public:
  static constexpr uint32_t kProductId = 0x00002C52;

  // Starts s51 (`program`); throws std::runtime_error when it cannot.
  UcsimTarget(const std::string& firmware, const std::string& program);
  ~UcsimTarget() override;

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
  uint32_t DebugId(uint32_t) override { return kProductId; }
  FlashGeometry Geometry() const override;
  uint32_t FlashProgram(uint32_t address, std::span<const uint8_t> data) override;
  uint32_t FlashRead(uint32_t address, std::span<uint8_t> out) override;
  uint32_t FlashErasePage(uint32_t address) override;
  uint32_t FlashEraseAll() override;
  uint32_t SetBreakpoint(uint32_t address, uint32_t position) override;
  uint32_t ClearBreakpoint(uint32_t address) override;
  bool DrivePin(const std::string&, int) override { return false; }
  void EndCommand() override;

 private:
  // Console.
  bool Send(const std::string& line);
  // Up to the next prompt byte; silence for `timeoutMs` loses the console
  // when `fatal` (a zero timeout only looks at what has arrived).
  std::optional<std::string> ReadChunk(int timeoutMs, bool fatal = true);
  std::optional<std::string> Command(const std::string& line);
  bool Pause();
  void Continue();
  void PollStop();
  void Lost();
  // Memory spaces: "rom", "xram", "iram", "sfr"; false on a failed exchange.
  uint32_t Dump(const char* space, uint32_t start, std::span<uint8_t> out);
  uint32_t Set(const char* space, uint32_t start, std::span<const uint8_t> data);
  uint32_t Space(uint32_t address, size_t length, const char*& space, uint32_t& offset) const;

  std::unique_ptr<ChildProcess> m_process;
  int m_fd = -1;
  std::string m_in;
  bool m_lost = false;
  bool m_halted = false;
  bool m_running = false;
  bool m_paused = false;
  std::array<uint32_t, 8> m_slots{};        // the adapter's breakpoint slots (0 = free)
  std::map<uint32_t, int> m_ucsimBreaks;    // address -> the simulator's breakpoint number
};

}  // namespace sim
