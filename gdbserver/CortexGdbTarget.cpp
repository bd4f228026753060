#include "gdbserver/CortexGdbTarget.h"

#include <algorithm>
#include <chrono>
#include <ctime>
#include <stdexcept>
#include <thread>

#include "gdbserver/GdbPacket.h"
#include "ice/CICE_M0.h"
#include "ice/CICE_M4.h"
#include "ice/ICEProtocol.h"

namespace gdb {
namespace {

// gdb's register numbers (the order of the target description).
constexpr unsigned kCoreRegs = 17;     // r0-r12, sp, lr, pc, xpsr
constexpr unsigned kSystemRegs = 6;    // msp, psp, primask, basepri, faultmask, control
constexpr unsigned kFpuFirst = kCoreRegs + kSystemRegs;  // d0-d15, then fpscr
constexpr unsigned kFpuRegs = 17;
// The adapter's register numbers.
constexpr uint32_t kAdapterMsp = 17, kAdapterPsp = 18, kAdapterSpecial = 20;
constexpr uint32_t kAdapterFpscr = 0x21, kAdapterS0 = 0x40;
constexpr uint32_t kMvfr0 = 0xE000EF40;
constexpr uint32_t kDemcrTraceEnable = 1u << 24;
// Bounds on what a client can make us hold or read.
constexpr size_t kMaxBreakpoints = 256;
constexpr size_t kMaxSemihostingText = 4096;

const char* const kCoreNames[kCoreRegs] = {"r0", "r1", "r2",  "r3",  "r4", "r5", "r6", "r7",  "r8",
                                           "r9", "r10", "r11", "r12", "sp", "lr", "pc", "xpsr"};
const char* const kSystemNames[kSystemRegs] = {"msp", "psp", "primask", "basepri", "faultmask", "control"};

uint32_t LayerWatchKind(WatchKind kind) {
  switch (kind) {
    case WatchKind::Read: return 0;
    case WatchKind::Write: return 1;
    default: return 2;
  }
}

std::string BuildXml(bool fpu) {
  std::string x =
      "<?xml version=\"1.0\"?>\n<!DOCTYPE target SYSTEM \"gdb-target.dtd\">\n<target version=\"1.0\">\n"
      "<architecture>arm</architecture>\n<feature name=\"org.gnu.gdb.arm.m-profile\">\n";
  for (unsigned i = 0; i < kCoreRegs; ++i) {
    const char* type = i == 13 ? "data_ptr" : i == 15 ? "code_ptr" : "int";
    x += std::string("<reg name=\"") + kCoreNames[i] + "\" bitsize=\"32\" type=\"" + type + "\"/>\n";
  }
  x += "</feature>\n<feature name=\"org.gnu.gdb.arm.m-system\">\n";
  for (unsigned i = 0; i < kSystemRegs; ++i)
    x += std::string("<reg name=\"") + kSystemNames[i] + "\" bitsize=\"32\" type=\"" +
         (i < 2 ? "data_ptr" : "int") + "\" group=\"system\"/>\n";
  x += "</feature>\n";
  if (fpu) {
    x += "<feature name=\"org.gnu.gdb.arm.vfp\">\n";
    for (unsigned i = 0; i < 16; ++i)
      x += "<reg name=\"d" + std::to_string(i) + "\" bitsize=\"64\" type=\"ieee_double\"/>\n";
    x += "<reg name=\"fpscr\" bitsize=\"32\" type=\"int\" group=\"float\"/>\n</feature>\n";
  }
  x += "</target>\n";
  return x;
}

}  // namespace

const char* const CortexGdbTarget::kNotCortexM =
    "the GDB server needs a Cortex-M adapter object: gdb has no 8051 target";

static CICE_CortexM& CortexOf(CICE& ice) {
  auto* core = dynamic_cast<CICE_CortexM*>(&ice);
  if (!core) throw std::invalid_argument(CortexGdbTarget::kNotCortexM);
  return *core;
}

CortexGdbTarget::CortexGdbTarget(CICE& ice) : m_ice(ice), m_core(CortexOf(ice)) {}

void CortexGdbTarget::Attach() {
  if (m_bAttached) return;
  // The layer's M0 variant leaves the watchpoint unit's global enable to its
  // user; the M4 variant sets it itself.
  if (!dynamic_cast<CICE_M4*>(&m_ice))
    m_ice.WriteMem32(cortex::kDemcr, kDemcrTraceEnable, false, nullptr, nullptr, ~kDemcrTraceEnable);
  m_ice.InitBreakUnit();
  m_ice.InitWatchUnit();
  const CoreKind kind = cortex::CoreKindOf(m_ice.ReadMem32(cortex::kCpuId, false), true);
  m_bFpu = false;
  // The cores that may carry an FPU; MVFR0 says whether this one does.
  if (kind == CoreKind::CortexM4 || kind == CoreKind::CortexM7 || kind == CoreKind::CortexM33 ||
      kind == CoreKind::CortexM55) {
    try {
      m_bFpu = (m_ice.ReadMem32(kMvfr0, false) & 0xF) != 0;  // single/double register bank
    } catch (const CICEException&) {
    }
  }
  m_xml = BuildXml(m_bFpu);
  m_regs.reset();
  m_bAttached = true;
}

const std::string& CortexGdbTarget::TargetXml() {
  Attach();
  return m_xml;
}

unsigned CortexGdbTarget::RegisterCount() { return kFpuFirst + (m_bFpu ? kFpuRegs : 0); }

unsigned CortexGdbTarget::RegisterBytes(unsigned n) {
  return n >= kFpuFirst && n < kFpuFirst + 16 ? 8 : 4;
}

void CortexGdbTarget::LoadRegisters() {
  if (m_regs) return;
  Attach();
  std::vector<uint64_t> regs(RegisterCount(), 0);
  uint32_t words[19] = {};
  m_ice.ReadRegs(words, 0, 19);  // r0-r15, xpsr, msp, psp
  for (unsigned i = 0; i < 19; ++i) regs[i] = words[i];
  const uint32_t special = m_ice.ReadReg(kAdapterSpecial);
  for (unsigned i = 0; i < 4; ++i) regs[19 + i] = (special >> (8 * i)) & 0xFF;
  if (m_bFpu) {
    uint32_t s[32] = {};
    m_ice.ReadRegs(s, kAdapterS0, 32);
    for (unsigned i = 0; i < 16; ++i)
      regs[kFpuFirst + i] = s[2 * i] | static_cast<uint64_t>(s[2 * i + 1]) << 32;
    regs[kFpuFirst + 16] = m_ice.ReadReg(kAdapterFpscr);
  }
  m_regs = std::move(regs);
}

std::string CortexGdbTarget::ReadAllRegisters() {
  LoadRegisters();
  std::string out;
  for (unsigned i = 0; i < m_regs->size(); ++i) out += HexLE((*m_regs)[i], RegisterBytes(i));
  return out;
}

std::string CortexGdbTarget::ReadRegister(unsigned n) {
  LoadRegisters();
  if (n >= m_regs->size()) return {};
  return HexLE((*m_regs)[n], RegisterBytes(n));
}

static bool DecodeLE(std::string_view hex, unsigned bytes, uint64_t& value) {
  std::vector<uint8_t> raw;
  if (hex.size() != 2 * bytes || !HexDecode(hex, raw)) return false;
  value = 0;
  for (unsigned i = 0; i < bytes; ++i) value |= static_cast<uint64_t>(raw[i]) << (8 * i);
  return true;
}

bool CortexGdbTarget::WriteRegister(unsigned n, std::string_view hex) {
  LoadRegisters();
  uint64_t v = 0;
  if (n >= m_regs->size() || !DecodeLE(hex, RegisterBytes(n), v)) return false;
  const auto w = static_cast<uint32_t>(v);
  if (n < 19) {
    m_ice.WriteReg(n, w);
  } else if (n < kFpuFirst) {
    const unsigned shift = 8 * (n - 19);
    uint32_t special = 0;
    for (unsigned i = 0; i < 4; ++i) special |= static_cast<uint32_t>((*m_regs)[19 + i] & 0xFF) << (8 * i);
    special = (special & ~(0xFFu << shift)) | (w & 0xFF) << shift;
    m_ice.WriteReg(kAdapterSpecial, special);
    v &= 0xFF;
  } else if (n < kFpuFirst + 16) {
    const uint32_t s = kAdapterS0 + 2 * (n - kFpuFirst);
    m_ice.WriteReg(s, w);
    m_ice.WriteReg(s + 1, static_cast<uint32_t>(v >> 32));
  } else {
    m_ice.WriteReg(kAdapterFpscr, w);
  }
  (*m_regs)[n] = v;
  return true;
}

bool CortexGdbTarget::WriteAllRegisters(std::string_view hex) {
  LoadRegisters();
  std::vector<uint64_t> values(m_regs->size());
  size_t at = 0;
  for (unsigned i = 0; i < values.size(); ++i) {
    const unsigned bytes = RegisterBytes(i);
    if (at + 2 * bytes > hex.size() || !DecodeLE(hex.substr(at, 2 * bytes), bytes, values[i])) return false;
    at += 2 * bytes;
  }
  if (at != hex.size()) return false;
  // r0 to psp in as few register writes as one packet takes.
  const uint32_t perPacket = std::max(1u, m_ice.GetMaxBlockData() / 4);
  uint32_t words[19];
  for (unsigned i = 0; i < 19; ++i) words[i] = static_cast<uint32_t>(values[i]);
  for (uint32_t done = 0; done < 19;) {
    const uint32_t n = std::min(perPacket, 19 - done);
    m_ice.WriteRegs(words + done, done, n);
    done += n;
  }
  for (unsigned i = 0; i < 19; ++i) (*m_regs)[i] = values[i];
  // The rest one by one, where it changed.
  for (unsigned i = 19; i < values.size(); ++i)
    if (values[i] != (*m_regs)[i] && !WriteRegister(i, HexLE(values[i], RegisterBytes(i)))) return false;
  return true;
}

uint32_t CortexGdbTarget::MemoryChunk() {
  // One streamed read chunk: the longest transfer that holds the command lock.
  return std::max(4u, ice::StreamReadChunkSize(std::max(8u, m_ice.GetWordPayload())));
}

std::vector<uint8_t> CortexGdbTarget::ReadMemory(uint32_t address, uint32_t length) {
  std::vector<uint8_t> out(length);
  const uint32_t chunk = MemoryChunk();
  uint32_t done = 0;
  while (done < length) {
    const uint32_t n = std::min(chunk, length - done);
    try {
      m_ice.ReadMem(address + done, out.data() + done, n, true, true);
    } catch (const CICEException&) {
      if (done == 0) throw;
      break;
    }
    done += n;
  }
  out.resize(done);
  return out;
}

void CortexGdbTarget::WriteMemory(uint32_t address, const std::vector<uint8_t>& data) {
  constexpr uint32_t kPiece = 1024;
  for (uint32_t done = 0; done < data.size();) {
    const uint32_t n = std::min<uint32_t>(kPiece, static_cast<uint32_t>(data.size()) - done);
    m_ice.WriteMem(address + done, data.data() + done, n, true);
    done += n;
  }
  m_regs.reset();  // memory-mapped core state may have changed
}

bool CortexGdbTarget::InsertBreakpoint(int type, uint32_t address) {
  Attach();
  if (m_breaks.count(address)) return true;
  if (m_breaks.size() >= kMaxBreakpoints) return false;
  const bool ok = type == 0 ? m_ice.SetBreakpointDefault(address, false)
                            : m_ice.SetBreakpoint(address, ice::kBpHardware);
  if (ok) m_breaks[address] = type;
  return ok;
}

bool CortexGdbTarget::RemoveBreakpoint(int, uint32_t address) {
  if (!m_breaks.erase(address)) return true;
  return m_ice.ClearBreakpoint(address);
}

bool CortexGdbTarget::InsertWatchpoint(WatchKind kind, uint32_t address, uint32_t length) {
  Attach();
  const auto key = std::make_pair(static_cast<int>(kind), address);
  if (m_watches.count(key)) return true;
  if (m_watches.size() >= kMaxBreakpoints) return false;
  // The smallest aligned power-of-two range that covers the request.
  const uint64_t end = static_cast<uint64_t>(address) + std::max(1u, length);
  uint64_t size = 1;
  while (size <= 0x8000 && ((address & ~(size - 1)) + size) < end) size <<= 1;
  if (size > 0x8000) return false;
  const auto base = static_cast<uint32_t>(address & ~(size - 1));
  const uint32_t layerKind = LayerWatchKind(kind);
  const int index = m_ice.SetWatchpoint(base, static_cast<uint32_t>(size), layerKind);
  if (index < 0) return false;
  m_watches[key] = {length, Watch{index, base, static_cast<uint32_t>(size), layerKind}};
  return true;
}

bool CortexGdbTarget::RemoveWatchpoint(WatchKind kind, uint32_t address, uint32_t) {
  const auto it = m_watches.find({static_cast<int>(kind), address});
  if (it == m_watches.end()) return true;
  const Watch w = it->second.second;
  m_watches.erase(it);
  // Another of gdb's watchpoints may share the comparator.
  for (const auto& [k, v] : m_watches)
    if (v.second.index == w.index) return true;
  m_ice.ClearWatchpoint(w.index, w.base, w.size, w.kind);
  return true;
}

void CortexGdbTarget::RemoveAll() {
  while (!m_breaks.empty()) {
    const uint32_t address = m_breaks.begin()->first;
    m_breaks.erase(m_breaks.begin());
    try {
      m_ice.ClearBreakpoint(address);
    } catch (const CICEException&) {
    }
  }
  while (!m_watches.empty()) {
    const auto [kind, address] = m_watches.begin()->first;
    try {
      RemoveWatchpoint(static_cast<WatchKind>(kind), address, 0);
    } catch (const CICEException&) {
      m_watches.erase({kind, address});
    }
  }
}

bool CortexGdbTarget::IsStopped(uint32_t* pc) {
  const bool stopped = m_ice.CheckMCUStop(pc);
  if (stopped) m_regs.reset();
  return stopped;
}

uint32_t CortexGdbTarget::Halt() {
  m_regs.reset();
  return m_ice.MCUStopRun();
}

void CortexGdbTarget::Resume() {
  Attach();
  m_regs.reset();
  if (m_ice.IsBreakpoint(m_core.GetCurrentPC() & ~1u)) {
    // The layer does not run from a breakpoint: step off it first.
    m_ice.MCUStepRun();
    uint32_t pc = 0;
    for (int i = 0; i < 200 && !m_ice.CheckMCUStop(&pc); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  m_ice.MCUFreeRun();
}

bool CortexGdbTarget::Step() {
  Attach();
  m_regs.reset();
  m_ice.MCUStepRun();
  uint32_t pc = 0;
  for (int i = 0; i < 200; ++i) {
    if (m_ice.CheckMCUStop(&pc)) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return false;
}

uint32_t CortexGdbTarget::Reset(bool halt) {
  RemoveAll();
  m_regs.reset();
  m_ice.MCUConnect(ice::RESET_SYSRESETREQ, ice::CONNECT_NORMAL, 0, 0);
  m_bAttached = false;
  const uint32_t pc = m_ice.ReadPC();  // the layer's idea of the PC follows the reset
  Attach();
  if (!halt) m_ice.MCUFreeRun();
  return pc;
}

std::optional<CortexGdbTarget::WatchHit> CortexGdbTarget::TriggeredWatchpoint() {
  if (m_watches.empty()) return std::nullopt;
  const int index = m_ice.FindTriggeredWatchpoint();
  for (const auto& [key, value] : m_watches)
    if (value.second.index == index) return WatchHit{static_cast<WatchKind>(key.first), key.second};
  return std::nullopt;
}

std::string CortexGdbTarget::ReadString(uint32_t address, size_t max) {
  std::string out;
  uint8_t piece[64];
  while (out.size() < max) {
    m_ice.ReadMem(address + static_cast<uint32_t>(out.size()), piece, sizeof piece, true, false);
    for (uint8_t c : piece) {
      if (c == 0 || out.size() == max) return out;
      out += static_cast<char>(c);
    }
  }
  return out;
}

uint32_t CortexGdbTarget::SemihostingCall(uint32_t op, uint32_t arg, std::string& console) {
  auto args = [&](unsigned n) {
    std::vector<uint32_t> a(n);
    for (unsigned i = 0; i < n; ++i) a[i] = m_ice.ReadMem32(arg + 4 * i);
    return a;
  };
  switch (op) {
    case 0x01: {  // SYS_OPEN: only the console ":tt"
      const auto a = args(3);
      return ReadString(a[0], 16) == ":tt" ? (a[1] < 4 ? 1u : 2u) : 0xFFFFFFFFu;
    }
    case 0x02: return 0;  // SYS_CLOSE
    case 0x03: {          // SYS_WRITEC
      uint8_t c = 0;
      m_ice.ReadMem(arg, &c, 1, true, false);
      console += static_cast<char>(c);
      return 0;
    }
    case 0x04: console += ReadString(arg, kMaxSemihostingText); return 0;  // SYS_WRITE0
    case 0x05: {  // SYS_WRITE: handle, buffer, length; returns what was not written
      const auto a = args(3);
      const uint32_t n = std::min<uint32_t>(a[2], kMaxSemihostingText);
      std::string text(n, '\0');
      if (n) m_ice.ReadMem(a[1], text.data(), n, true, false);
      console += text;
      return a[2] - n;
    }
    case 0x06: return args(3)[2];  // SYS_READ: nothing to read
    case 0x09: return 1;           // SYS_ISTTY
    case 0x10: return static_cast<uint32_t>(std::clock() / (CLOCKS_PER_SEC / 100));  // SYS_CLOCK
    case 0x11: return static_cast<uint32_t>(std::time(nullptr));                   // SYS_TIME
    case 0x13: return 0;  // SYS_ERRNO
    default: return 0xFFFFFFFFu;
  }
}

bool CortexGdbTarget::ServeSemihosting(std::string& console) {
  const uint32_t pc = m_core.GetCurrentPC() & ~1u;
  if (m_core.ReadHalfword(pc) != cortex::kSemihostingBkpt) return false;
  m_regs.reset();
  if (auto* m0 = dynamic_cast<CICE_M0*>(&m_ice)) {
    SemihostingRequest request;
    if (!m0->CheckSemihosting(&request)) return false;
    if (request.r0 == 0x18 || request.r0 == 0x20) {  // SYS_EXIT: the program ends here
      m0->CompleteSemihosting(request);
      return false;
    }
    const uint32_t result = SemihostingCall(request.r0, request.r1, console);
    m0->CompleteSemihosting({result, request.r1, pc + 2});
    return true;
  }
  const uint32_t op = m_ice.ReadReg(0), arg = m_ice.ReadReg(1);
  if (op == 0x18 || op == 0x20) return false;
  m_ice.WriteReg(0, SemihostingCall(op, arg, console));
  m_ice.WritePC(pc + 2);
  return true;
}

}  // namespace gdb
