#include "sim/QemuTarget.h"

#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <stdexcept>

#include "platform/ProgramInfo.h"

namespace sim {
namespace {

using std::chrono::milliseconds;

constexpr milliseconds kStartTimeout{5000};
constexpr milliseconds kReplyTimeout{3000};
using namespace cortex_regs;
constexpr uint32_t kRegPc = 15, kGdbXpsr = 25;
constexpr size_t kChunk = 1024;  // bytes a memory packet carries

const QemuMachine kMachines[] = {
    {"lm3s6965evb", 256 * 1024, 64 * 1024, 1024, 0x00C33051, 0x4BA00477, 0x412FC231, {6, 2, false, 4, false}},
    {"microbit", 256 * 1024, 16 * 1024, 1024, 0x00A03051, 0x0BB11477, 0x410CC200, {4, 0, false, 2, false}},
};

std::string HexNumber(uint32_t v) {
  char buf[12];
  std::snprintf(buf, sizeof buf, "%x", v);
  return buf;
}

uint32_t Le32(const uint8_t* p) {
  uint32_t v = 0;
  std::memcpy(&v, p, 4);
  return v;
}

}  // namespace

const QemuMachine* FindQemuMachine(const std::string& name) {
  for (const auto& m : kMachines)
    if (m.name == name) return &m;
  return nullptr;
}

std::string BuiltFirmwareFor(const std::string& machine) {
  const std::string file = machine + ".elf";
  std::error_code ec;
  const auto elf = platform::FindProgramData(std::filesystem::path("../firmware") / file,
                                             std::filesystem::path("firmware") / file);
  return std::filesystem::exists(elf, ec) ? elf.string() : std::string();
}

bool QemuTargetAvailable(const std::string& machine) {
  return FindQemuMachine(machine) && ProgramAvailable("qemu-system-arm") && !BuiltFirmwareFor(machine).empty();
}

QemuTarget::QemuTarget(const std::string& machine, const std::string& firmware, const std::string& program)
    : m_machine([&]() -> const QemuMachine& {
        const QemuMachine* m = FindQemuMachine(machine);
        if (!m) throw std::runtime_error("unknown QEMU machine \"" + machine + "\"");
        return *m;
      }()),
      m_debug(m_machine.debug) {
  const std::string elfPath = firmware.empty() ? BuiltFirmwareFor(machine) : firmware;
  if (elfPath.empty()) throw std::runtime_error("no firmware for the QEMU machine \"" + machine + "\" (build it, or give \"firmware\")");
  std::string error;
  auto elf = ReadElf(elfPath, error);
  if (!elf) throw std::runtime_error(error);
  m_elf = std::move(*elf);
  if (!ProgramAvailable(program)) throw std::runtime_error(program + " is not installed");
  m_process = std::make_unique<ChildProcess>(program, machine, elfPath);
  if (!m_gdb.Connect(m_process->SocketPath(), kStartTimeout))
    throw std::runtime_error(program + " did not open its GDB stub");
  // QEMU answers single-register packets (p/P) only to a client that has
  // read its target description.
  if (!Ask("qXfer:features:read:target.xml:0,3fff")) throw std::runtime_error(program + " does not answer on its GDB stub");
  for (uint32_t a : m_elf.BreakpointInstructions()) m_bkpts.insert(a);
  SyncBreakpoints();
  // The chip runs its firmware from power-up, as the core model's does.
  m_halted = false;
  Continue();
}

QemuTarget::~QemuTarget() = default;  // the process member kills QEMU

// ---- the stub --------------------------------------------------------------------

void QemuTarget::Lost() {
  m_lost = true;
  m_gdb.Close();
  m_qemuRunning = false;
  m_paused = false;
  m_halted = true;
  m_regs.reset();
}

bool QemuTarget::Usable() {
  if (!m_lost && !m_gdb.Alive()) Lost();
  return !m_lost;
}

std::optional<std::string> QemuTarget::Ask(const std::string& packet) {
  if (!Usable()) return std::nullopt;
  auto r = m_gdb.Transact(packet, kReplyTimeout);
  // A stop reply may only come while QEMU runs; anything else here is the answer.
  if (!r) Lost();
  return r;
}

void QemuTarget::OnStop(const std::string& reply) {
  m_qemuRunning = false;
  m_regs.reset();
  if (reply.empty() || reply[0] == 'W' || reply[0] == 'X') {  // QEMU ended the program
    Lost();
    return;
  }
  // T05 with watch/rwatch/awatch:ADDR = a watchpoint; T05 otherwise = a
  // breakpoint or a finished step; T02 = our interrupt.
  const bool trap = reply.size() >= 3 && reply.compare(1, 2, "05") == 0;
  for (const char* key : {"watch:", "rwatch:", "awatch:"}) {
    const size_t at = reply.find(key);
    if (at != std::string::npos && (at == 3 || reply[at - 1] == ';')) {
      const uint32_t addr = static_cast<uint32_t>(std::strtoul(reply.c_str() + at + std::strlen(key), nullptr, 16));
      m_debug.MarkWatchHit(addr);
      m_debug.NoteHalt(kDfsrDwtTrap);
      m_halted = true;
      FinishWatchedAccess();
      return;
    }
  }
  if (trap && !m_halted) {
    m_halted = true;
    uint32_t pc = 0;
    if (ReadReg(kRegPc, pc) == kErrOk && AtBreakpoint(pc)) m_debug.NoteHalt(kDfsrBkpt);
    else m_debug.NoteHalt(kDfsrHalted);
  }
}

void QemuTarget::FinishWatchedAccess() {
  // QEMU may stop before the access it reports; a core halts after it. One
  // step without the watchpoints completes the access (a real watchpoint
  // halt is imprecise by an instruction or so, too).
  for (const auto& w : m_zWatch) {
    char b[40];
    std::snprintf(b, sizeof b, "z%d,%x,%x", std::get<0>(w), std::get<1>(w), std::get<2>(w));
    if (!Ask(b)) return;
  }
  if (!m_gdb.Send("s") || !m_gdb.Receive(kReplyTimeout)) {
    Lost();
    return;
  }
  for (const auto& w : m_zWatch) {
    char b[40];
    std::snprintf(b, sizeof b, "Z%d,%x,%x", std::get<0>(w), std::get<1>(w), std::get<2>(w));
    if (!Ask(b)) return;
  }
}

bool QemuTarget::SkipUnhostedSemihosting() {
  // Without a debugger there is no host to serve a semihosting call: the
  // firmware goes on as if its call had been served with nothing.
  if (m_attached || !m_halted || !(m_debug.Dfsr() & kDfsrBkpt) || m_lost) return false;
  uint32_t pc = 0;
  uint8_t insn[2];
  if (ReadReg(kRegPc, pc) != kErrOk || GdbRead(pc, insn) != kErrOk || insn[0] != 0xAB || insn[1] != 0xBE)
    return false;
  if (WriteReg(kRegPc, pc + 2) != kErrOk) return false;
  m_debug.ClearDfsr(kDfsrBkpt);
  m_halted = false;
  return true;
}

bool QemuTarget::PollStop() {
  if (!m_qemuRunning || !Usable()) return false;
  auto r = m_gdb.Receive(milliseconds(0));
  if (!r) {
    Usable();
    return false;
  }
  OnStop(*r);
  if (SkipUnhostedSemihosting()) Continue();
  return true;
}

bool QemuTarget::Pause() {
  if (!Usable()) return false;
  if (!m_qemuRunning) return true;
  if (!m_gdb.Interrupt()) {
    Lost();
    return false;
  }
  const bool wasHalted = m_halted;
  auto r = m_gdb.Receive(kReplyTimeout);
  if (!r) {
    Lost();
    return false;
  }
  OnStop(*r);
  SkipUnhostedSemihosting();
  if (m_lost) return false;
  m_paused = !m_halted && !wasHalted;
  return true;
}

void QemuTarget::Continue() {
  if (!Usable() || m_qemuRunning) return;
  m_regs.reset();
  if (!m_zWatch.empty()) {
    // QEMU does not check watchpoints on the first instruction it resumes
    // with; a single step does.
    if (!m_gdb.Send("s")) {
      Lost();
      return;
    }
    const auto r = m_gdb.Receive(kReplyTimeout);
    if (!r) {
      Lost();
      return;
    }
    if (r->find("watch:") != std::string::npos) {
      OnStop(*r);
      return;
    }
  }
  if (!m_gdb.Send("c")) {
    Lost();
    return;
  }
  m_qemuRunning = true;
  m_paused = false;
}

void QemuTarget::EndCommand() {
  if (m_paused && !m_halted) Continue();
  m_paused = false;
}

uint32_t QemuTarget::GdbRead(uint32_t address, std::span<uint8_t> out) {
  if (!Pause()) return kErrNoDevice;
  std::vector<uint8_t> bytes;
  for (size_t done = 0; done < out.size();) {
    const size_t n = std::min(kChunk, out.size() - done);
    const auto r = Ask("m" + HexNumber(address + static_cast<uint32_t>(done)) + "," + HexNumber(static_cast<uint32_t>(n)));
    if (!r) return kErrNoDevice;
    if (!GdbRemote::FromHex(*r, bytes) || bytes.size() != n) return kErrGetReg;
    std::memcpy(out.data() + done, bytes.data(), n);
    done += n;
  }
  return kErrOk;
}

uint32_t QemuTarget::GdbWrite(uint32_t address, std::span<const uint8_t> data) {
  if (!Pause()) return kErrNoDevice;
  for (size_t done = 0; done < data.size();) {
    const size_t n = std::min(kChunk, data.size() - done);
    const auto r = Ask("M" + HexNumber(address + static_cast<uint32_t>(done)) + "," + HexNumber(static_cast<uint32_t>(n)) +
                       ":" + GdbRemote::Hex(data.subspan(done, n)));
    if (!r) return kErrNoDevice;
    if (*r != "OK") return kErrSetReg;
    done += n;
  }
  RescanCode(address, data.size());
  return kErrOk;
}

bool QemuTarget::LoadRegisters() {
  if (m_regs) return true;
  const auto r = Ask("g");
  std::vector<uint8_t> bytes;
  if (!r || !GdbRemote::FromHex(*r, bytes) || bytes.size() < 16 * 4) return false;
  std::vector<uint32_t> regs(17, 0);
  for (size_t i = 0; i < 16; ++i) regs[i] = Le32(&bytes[4 * i]);
  // QEMU's 'g' carries r0-r15 and xPSR once the target description was read.
  if (bytes.size() >= 68) {
    regs[16] = Le32(&bytes[64]);
  } else {
    const auto x = Ask("p" + HexNumber(kGdbXpsr));
    if (!x || !GdbRemote::FromHex(*x, bytes) || bytes.size() != 4) return false;
    regs[16] = Le32(bytes.data());
  }
  m_regs = std::move(regs);
  return true;
}

// ---- target commands ---------------------------------------------------------------

uint32_t QemuTarget::ReadReg(uint32_t index, uint32_t& value) {
  if (!Usable()) return kErrNoDevice;
  if (index > 20) return kErrGetReg;
  PollStop();
  if (!m_halted) return kErrRegTimeout;
  if (!LoadRegisters()) return m_lost ? kErrNoDevice : kErrGetReg;
  // QEMU's stub has no MSP/PSP/special registers: the main stack is the SP.
  if (index <= 16) value = (*m_regs)[index];
  else if (index == 17) value = (*m_regs)[13];
  else value = 0;
  return kErrOk;
}

uint32_t QemuTarget::WriteReg(uint32_t index, uint32_t value) {
  if (!Usable()) return kErrNoDevice;
  if (index > 20) return kErrSetReg;
  PollStop();
  if (!m_halted) return kErrRegTimeout;
  uint32_t gdbIndex = index;
  if (index == 16) gdbIndex = kGdbXpsr;
  else if (index == 17) gdbIndex = 13;
  else if (index > 16) return kErrOk;  // not modelled by the stub: ignored as reserved bits are
  if (index == kRegPc) value &= ~1u;
  uint8_t le[4];
  std::memcpy(le, &value, 4);
  m_regs.reset();
  const auto r = Ask("P" + HexNumber(gdbIndex) + "=" + GdbRemote::Hex(le));
  if (!r) return kErrNoDevice;
  return *r == "OK" ? kErrOk : kErrSetReg;
}

uint32_t QemuTarget::ReadWord(uint32_t a, uint32_t& v) {
  if (!Usable()) return kErrNoDevice;
  if (DebugSpace(a)) return ReadDebug(a & ~3u, v);
  uint8_t b[4];
  if (const uint32_t e = GdbRead(a, b)) return e;
  v = Le32(b);
  return kErrOk;
}

uint32_t QemuTarget::WriteWord(uint32_t a, uint32_t v) {
  if (!Usable()) return kErrNoDevice;
  if (DebugSpace(a)) return WriteDebug(a & ~3u, v);
  uint8_t b[4];
  std::memcpy(b, &v, 4);
  const uint32_t e = GdbWrite(a, b);
  return e == kErrGetReg ? kErrSetReg : e;
}

uint32_t QemuTarget::ReadBytes(uint32_t a, std::span<uint8_t> out) {
  if (!Usable()) return kErrNoDevice;
  if (!DebugSpace(a) && !DebugSpace(a + static_cast<uint32_t>(out.size()) - 1)) return GdbRead(a, out);
  return ReadBytesByWords(a, out);
}

uint32_t QemuTarget::WriteBytes(uint32_t a, std::span<const uint8_t> data) {
  if (!Usable()) return kErrNoDevice;
  if (!DebugSpace(a) && !DebugSpace(a + static_cast<uint32_t>(data.size()) - 1)) {
    const uint32_t e = GdbWrite(a, data);
    return e == kErrGetReg ? kErrSetReg : e;
  }
  return WriteBytesByWords(a, data);
}

void QemuTarget::Reset(bool halt) {
  if (!Pause()) return;
  m_regs.reset();
  if (!Ask("qRcmd," + GdbRemote::Hex(std::string_view("system_reset")))) return;
  // The reset takes effect in QEMU's main loop: wait until the core stands
  // at its reset vector (bounded), then set what the reset must give.
  uint8_t vec[8];
  if (GdbRead(0, vec) != kErrOk) return;
  const uint32_t resetPc = Le32(vec + 4) & ~1u;
  for (int i = 0; i < 100; ++i) {
    m_regs.reset();
    if (!LoadRegisters()) return;
    if ((*m_regs)[kRegPc] == resetPc) break;
    usleep(2000);
  }
  m_regs.reset();
  m_debug.NoteReset();
  m_paused = false;
  if (halt) {
    m_halted = true;
    m_debug.NoteHalt(kDfsrVcatch | kDfsrHalted);
  } else {
    m_halted = false;
    Continue();
  }
}

void QemuTarget::Halt() {
  PollStop();
  if (m_halted || !Pause()) return;
  m_halted = true;
  m_paused = false;
  m_debug.NoteHalt(kDfsrHalted);
}

void QemuTarget::Run() {
  PollStop();
  if (!m_halted || !Pause()) return;
  uint32_t pc = 0;
  if (ReadReg(kRegPc, pc) == kErrOk && AtBreakpoint(pc)) {  // the core halts again at once
    m_debug.NoteHalt(kDfsrBkpt);
    return;
  }
  m_halted = false;
  Continue();
}

uint32_t QemuTarget::Step() {
  if (!Usable()) return kErrNoDevice;
  PollStop();
  if (!m_halted) return kErrMcuStop;
  uint32_t pc = 0;
  if (const uint32_t e = ReadReg(kRegPc, pc)) return e;
  if (m_bkpts.count(pc)) {  // a BKPT does not complete: the core stays on it
    m_debug.NoteHalt(kDfsrBkpt | kDfsrHalted);
    return kErrOk;
  }
  m_regs.reset();
  if (!m_gdb.Send("s")) {
    Lost();
    return kErrNoDevice;
  }
  m_qemuRunning = true;
  const auto r = m_gdb.Receive(kReplyTimeout);
  if (!r) {
    Lost();
    return kErrNoDevice;
  }
  OnStop(*r);
  m_debug.NoteHalt(kDfsrHalted);
  return m_lost ? kErrNoDevice : kErrOk;
}

bool QemuTarget::IsRunning() {
  PollStop();
  return !m_halted;
}

uint32_t QemuTarget::Pc() {
  PollStop();
  uint32_t pc = 0;
  if (m_halted) {
    ReadReg(kRegPc, pc);
    return pc;
  }
  // A running core: sample the PC in passing, as the adapter would.
  if (!Pause() || m_halted) return m_halted ? Pc() : 0;
  if (LoadRegisters()) pc = (*m_regs)[kRegPc];
  return pc;
}

void QemuTarget::SetDebugAttached(bool attached) {
  PollStop();  // a stop from before the debugger came is the chip's own business
  m_attached = attached;
  if (attached && m_debug.EnableBreakpoints()) SyncBreakpoints();
}

uint32_t QemuTarget::DebugId(uint32_t selector) { return selector == 0 ? m_machine.idcode : m_machine.productId; }

FlashGeometry QemuTarget::Geometry() const {
  return {0, m_machine.flashSize, m_machine.pageSize, 0x20000000, m_machine.ramSize, m_machine.productId};
}

uint32_t QemuTarget::FlashProgram(uint32_t a, std::span<const uint8_t> data) {
  if (a > m_machine.flashSize || data.size() > m_machine.flashSize - a) return kErrFlashAddress;
  std::vector<uint8_t> now(data.size());
  if (const uint32_t e = GdbRead(a, now)) return e == kErrNoDevice ? e : kErrWriteFlash;
  for (size_t i = 0; i < now.size(); ++i) now[i] &= data[i];  // programming only clears bits
  return GdbWrite(a, now) ? kErrWriteFlash : kErrOk;
}

uint32_t QemuTarget::FlashRead(uint32_t a, std::span<uint8_t> out) {
  if (a > m_machine.flashSize || out.size() > m_machine.flashSize - a) return kErrFlashAddress;
  return GdbRead(a, out) ? kErrReadFlash : kErrOk;
}

uint32_t QemuTarget::FlashErasePage(uint32_t a) {
  if (a >= m_machine.flashSize) return kErrFlashAddress;
  const std::vector<uint8_t> ff(m_machine.pageSize, 0xFF);
  return GdbWrite(a & ~(m_machine.pageSize - 1), ff) ? kErrPageErase : kErrOk;
}

uint32_t QemuTarget::FlashEraseAll() {
  const std::vector<uint8_t> ff(m_machine.pageSize, 0xFF);
  for (uint32_t a = 0; a < m_machine.flashSize; a += m_machine.pageSize)
    if (GdbWrite(a, ff)) return kErrChipErase;
  return kErrOk;
}

bool QemuTarget::DrivePin(const std::string&, int) { return false; }

}  // namespace sim
