// A Cortex-M target whose core is QEMU: qemu-system-arm runs the firmware
// ELF of a board, and the target commands become GDB remote packets (memory
// m/M in batches, registers g/p/P, run c, step s, halt by interrupt, reset
// by the system_reset monitor command, breakpoints and watchpoints Z/z).
//
// QEMU does not model the core's debug units, so this class does, the way
// the host programs them: the breakpoint comparators become Z1 packets, the
// watchpoint comparators Z2-Z4, the halting control and status and the debug
// fault status follow the core's stops, the core register transfer registers
// read and write registers. Every BKPT instruction in the code (the
// firmware's and those the host writes) is shadowed by a Z0 breakpoint, so
// that the core halts on it as a real core does, semihosting included.
//
// While the core runs, a memory access pauses QEMU for the command (one
// interrupt) and lets it go on when the command ends. A stub that stops
// answering or a QEMU that ends makes every later access fail with "no
// target connected"; no wait is longer than a few seconds.
#pragma once

#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "sim/CortexDebugUnit.h"
#include "sim/ElfImage.h"
#include "sim/GdbRemote.h"
#include "sim/ChildProcess.h"
#include "sim/Target.h"

namespace sim {

struct QemuMachine {
  std::string name;             // QEMU's machine name
  uint32_t flashSize, ramSize, pageSize;
  uint32_t productId, idcode, cpuid;
  CortexDebugShape debug;
};
// The boards this target knows ("lm3s6965evb", "microbit"); nullptr otherwise.
const QemuMachine* FindQemuMachine(const std::string& name);
// The firmware ELF that the build makes for a board, next to the running
// executable (<bin>/../firmware/<board>.elf) or in the installed data folder
// (<data>/firmware/<board>.elf); empty when there is none.
std::string BuiltFirmwareFor(const std::string& machine);
// Whether a QEMU target of the board can be served here: QEMU installed and
// the firmware built.
bool QemuTargetAvailable(const std::string& machine);

class QemuTarget final : public Target {
 public:
  // Starts QEMU; throws std::runtime_error when it cannot (unknown board,
  // missing program or firmware, a stub that does not answer).
  QemuTarget(const std::string& machine, const std::string& firmware, const std::string& program);
  ~QemuTarget() override;

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
  void EndCommand() override;

  pid_t QemuPid() const { return m_process ? m_process->Pid() : -1; }

 private:
  enum class Bp { Software = 0, Hardware = 1 };

  // GDB side.
  bool Usable();
  std::optional<std::string> Ask(const std::string& packet);
  bool Pause();            // QEMU stopped (the core's state unchanged); false when the stub is gone
  void Continue();         // QEMU runs again
  void OnStop(const std::string& reply);
  void FinishWatchedAccess();
  bool PollStop();         // a stop reply that arrived while running
  bool SkipUnhostedSemihosting();
  uint32_t GdbRead(uint32_t address, std::span<uint8_t> out);
  uint32_t GdbWrite(uint32_t address, std::span<const uint8_t> data);
  bool LoadRegisters();
  void Lost();

  // Debug units (QemuDebug.cpp).
  static bool DebugSpace(uint32_t a) { return CortexDebugUnit::Owns(a); }
  uint32_t ReadDebug(uint32_t a, uint32_t& v);
  uint32_t WriteDebug(uint32_t a, uint32_t v);
  void SyncBreakpoints();
  void SyncWatchpoints();
  void RescanCode(uint32_t address, size_t length);
  bool AtBreakpoint(uint32_t pc) const;

  const QemuMachine& m_machine;
  ElfImage m_elf;
  std::unique_ptr<ChildProcess> m_process;
  GdbRemote m_gdb;
  bool m_lost = false;

  bool m_halted = true;        // the core as the host sees it
  bool m_qemuRunning = false;  // QEMU executes
  bool m_paused = false;       // QEMU stopped only for the current command
  bool m_attached = false;
  std::optional<std::vector<uint32_t>> m_regs;  // r0-r15, xPSR while halted

  CortexDebugUnit m_debug;
  // What QEMU holds: (kind, address) of Z0/Z1, (kind, address, length) of Z2-Z4.
  std::set<std::pair<int, uint32_t>> m_zBreak;
  std::set<std::tuple<int, uint32_t, uint32_t>> m_zWatch;
  std::set<uint32_t> m_bkpts;  // BKPT instructions in the code (Z0)
};

}  // namespace sim
