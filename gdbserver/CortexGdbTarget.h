// What the GDB server asks of a Cortex-M core, done through the adapter
// command layer (CICE_M0, CICE_M4 and the application's CVoICE): the
// register file as gdb numbers it (with the FPU registers when the core has
// one), memory in pieces of one streamed chunk (so another user of the
// adapter object gets its turn between them), breakpoints through the
// layer's table and shadowing, watchpoints, run control and semihosting.
//
// Everything here throws CICEException on adapter failures; the session
// turns them into error replies.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

class CICE;
class CICE_CortexM;

namespace gdb {

enum class WatchKind { Write = 2, Read = 3, Access = 4 };  // the Z packet types

class CortexGdbTarget {
 public:
  // Throws std::invalid_argument for an adapter object without a Cortex-M
  // core (the 8051 1T layer).
  explicit CortexGdbTarget(CICE& ice);
  CortexGdbTarget(const CortexGdbTarget&) = delete;
  CortexGdbTarget& operator=(const CortexGdbTarget&) = delete;

  // The message for an adapter object that cannot be served.
  static const char* const kNotCortexM;

  // Sets the target up for a debugger the first time it is needed (and
  // again after a reset): the breakpoint and watchpoint units re-read and
  // cleared, the FPU looked for. Cheap once done.
  void Attach();

  // ---- registers: gdb's numbering (target description order)
  const std::string& TargetXml();
  unsigned RegisterCount();
  unsigned RegisterBytes(unsigned n);  // 4, or 8 for the FPU's d registers
  // Every register, little-endian hex in gdb's order (the 'g' reply).
  std::string ReadAllRegisters();
  std::string ReadRegister(unsigned n);  // empty for an unknown register
  // `hex` as a 'G' payload; false when it is malformed.
  bool WriteAllRegisters(std::string_view hex);
  bool WriteRegister(unsigned n, std::string_view hex);
  void ForgetRegisters() { m_regs.reset(); }

  // ---- memory (software breakpoints invisible)
  // Reads as much of [address, address + length) as the target gives, in
  // order; stops at the first piece that fails (empty: nothing readable).
  std::vector<uint8_t> ReadMemory(uint32_t address, uint32_t length);
  void WriteMemory(uint32_t address, const std::vector<uint8_t>& data);

  // ---- breakpoints and watchpoints the debugger set
  // type 0 software (falls back to a comparator where memory cannot take
  // it, e.g. flash), 1 hardware comparator.
  bool InsertBreakpoint(int type, uint32_t address);
  bool RemoveBreakpoint(int type, uint32_t address);
  bool InsertWatchpoint(WatchKind kind, uint32_t address, uint32_t length);
  bool RemoveWatchpoint(WatchKind kind, uint32_t address, uint32_t length);
  // Removes every break- and watchpoint the debugger set (best effort).
  void RemoveAll();
  size_t BreakpointCount() const { return m_breaks.size() + m_watches.size(); }

  // ---- run control
  bool IsStopped(uint32_t* pc);
  uint32_t Halt();
  // Resumes; steps off a breakpoint at the PC first.
  void Resume();
  // One instruction; true when the core stopped again (the usual case).
  bool Step();
  // Core reset; halted at the reset vector, or left running.
  uint32_t Reset(bool halt);
  // A watchpoint the core stopped on: its kind and the address gdb set.
  struct WatchHit {
    WatchKind kind;
    uint32_t address;
  };
  std::optional<WatchHit> TriggeredWatchpoint();

  // ---- semihosting: when the core stopped on the semihosting BKPT,
  // serves the call (console output into `console`) and moves the PC past
  // it. Returns false when the stop was not a semihosting call.
  bool ServeSemihosting(std::string& console);

 private:
  struct Watch {
    int index;           // comparator
    uint32_t base, size;  // what the comparator covers
    uint32_t kind;       // the layer's watch kind
  };
  void LoadRegisters();
  uint32_t MemoryChunk();
  uint32_t SemihostingCall(uint32_t op, uint32_t arg, std::string& console);
  std::string ReadString(uint32_t address, size_t max);

  CICE& m_ice;
  CICE_CortexM& m_core;
  bool m_bAttached = false;
  bool m_bFpu = false;
  std::string m_xml;
  std::optional<std::vector<uint64_t>> m_regs;
  std::map<uint32_t, int> m_breaks;  // address -> Z type
  std::map<std::pair<int, uint32_t>, std::pair<uint32_t, Watch>> m_watches;  // (kind, address) -> (length, comparator)
};

}  // namespace gdb
