// CICE_CortexM: registers, stepping, software and hardware breakpoints, watchpoints.
#include "ice/CICE_CortexM.h"

#include <algorithm>
#include <cstdio>

#include "platform/StringTable.h"

using namespace ice;

CoreKind cortex::CoreKindOf(uint32_t cpuId, bool knowsD21) {
  switch ((cpuId >> 4) & 0xFFF) {
    case 0xC20: return CoreKind::CortexM0;
    case 0xC60: return CoreKind::CortexM0Plus;
    case 0xC24: return CoreKind::CortexM4;
    case 0xC27: return CoreKind::CortexM7;
    case 0xD20: return CoreKind::CortexM23;
    case 0xD21: return knowsD21 ? CoreKind::CortexM33 : CoreKind::Other;
    case 0xD22: return CoreKind::CortexM55;
    default: return CoreKind::Other;
  }
}

CICE_CortexM::~CICE_CortexM() {
  try {
    ShutDown();
  } catch (...) {
  }
}

// ---- registers and the current PC ------------------------------------------------

uint32_t CICE_CortexM::ReadReg(uint32_t reg) {
  ScopedMutex lock(m_cmdLock);
  const uint32_t v = CICE::ReadReg(reg);
  if (reg == 15) m_uCurPC = v;
  return v;
}

void CICE_CortexM::WriteReg(uint32_t reg, uint32_t value) {
  ScopedMutex lock(m_cmdLock);
  CICE::WriteReg(reg, value);
  if (reg == 15) m_uCurPC = value;
}

void CICE_CortexM::ReadRegs(uint32_t* buffer, uint32_t first, uint32_t count) {
  ScopedMutex lock(m_cmdLock);
  CICE::ReadRegs(buffer, first, count);
  if (first <= 15 && 15 - first < count) m_uCurPC = buffer[15 - first];
}

void CICE_CortexM::WriteRegs(const uint32_t* data, uint32_t first, uint32_t count) {
  ScopedMutex lock(m_cmdLock);
  CICE::WriteRegs(data, first, count);
  if (first <= 15 && 15 - first < count) m_uCurPC = data[15 - first];
}

uint32_t CICE_CortexM::ReadPC() { return ReadReg(15); }
void CICE_CortexM::WritePC(uint32_t pc) { WriteReg(15, pc); }

uint32_t CICE_CortexM::GetCurrentPC() {
  ScopedMutex lock(m_cmdLock);
  return m_uCurPC;
}

CoreKind CICE_CortexM::GetCoreKind() {
  ScopedMutex lock(m_cmdLock);
  return cortex::CoreKindOf(ReadMem32(cortex::kCpuId, false), false);
}

uint32_t CICE_CortexM::GetHaltReason() {
  ScopedMutex lock(m_cmdLock);
  return ReadMem32(cortex::kDfsr, false) & 0x1F;
}

// ---- halfwords -----------------------------------------------------------------

void CICE_CortexM::WriteHalfword(uint32_t address, uint16_t value, uint16_t* before,
                                 uint16_t* after) {
  ScopedMutex lock(m_cmdLock);
  const uint32_t word = address & ~3u;
  const bool upper = address & 2;
  const uint32_t v = upper ? static_cast<uint32_t>(value) << 16 : value;
  const uint32_t mask = upper ? 0x0000FFFFu : 0xFFFF0000u;
  uint32_t first = 0, second = 0;
  MultiAccess(kCmdMemMulti, 1, &word, &v, &mask, &first, &second);
  auto half = [upper](uint32_t w) { return static_cast<uint16_t>(upper ? w >> 16 : w); };
  if (before) *before = half(first);
  if (after) *after = half(second);
}

uint16_t CICE_CortexM::ReadHalfword(uint32_t address) {
  ScopedMutex lock(m_cmdLock);
  const uint32_t w = ReadMem32(address & ~3u, true);
  return static_cast<uint16_t>((address & 2) ? w >> 16 : w);
}

// ---- run control -----------------------------------------------------------------

void CICE_CortexM::MCUConnect(uint32_t resetMode, uint32_t connectMode, uint32_t option,
                              uint32_t reserved) {
  ScopedMutex lock(m_cmdLock);
  CICE::MCUConnect(resetMode, connectMode, option, reserved);
  m_lifted[0].lifted = m_lifted[1].lifted = 0;
}

void CICE_CortexM::LiftBreakpointsAtPC() {
  const uint32_t p = m_uCurPC & ~1u;
  int kind = 0;
  if (IsBreakpoint(p, &kind)) {
    m_lifted[0] = {p, kind, 1};
    ClearBreakpoint(p);
  }
  // The instruction is read only when there is a breakpoint to lift.
  if (IsBreakpoint(p + 2, &kind) && IsThumb32First(ReadHalfword(p))) {
    m_lifted[1] = {p + 2, kind, 2};
    ClearBreakpoint(p + 2);
  }
}

void CICE_CortexM::RestoreLiftedBreakpoints() {
  for (LiftedBreakpoint& l : m_lifted) {
    if (!l.lifted) continue;
    SetBreakpointDefault(l.address, l.kind == kBpThird);
    l.lifted = 0;
  }
}

void CICE_CortexM::MCUStepRun() {
  ScopedMutex lock(m_cmdLock);
  LiftBreakpointsAtPC();
  WriteMem32(cortex::kDfsr, 0x1F, false);
  CICE::MCUStepRun();
}

bool CICE_CortexM::CheckMCUStop(uint32_t* pc) {
  ScopedMutex lock(m_cmdLock);
  uint32_t local = 0;
  if (GetMCUState(&local, 0) != PROCESSOR_STOP) return false;
  RestoreLiftedBreakpoints();
  m_uCurPC = local;
  if (pc) *pc = local;
  return true;
}

uint32_t CICE_CortexM::MCUStopRun() {
  ScopedMutex lock(m_cmdLock);
  m_uCurPC = CICE::MCUStopRun();
  return m_uCurPC;
}

void CICE_CortexM::MCUFreeRun() {
  ScopedMutex lock(m_cmdLock);
  const uint32_t p = m_uCurPC & ~1u;
  if (IsBreakpoint(p)) return;  // the caller steps off it first
  if (IsBreakpoint(p + 2) && IsThumb32First(ReadHalfword(p))) {
    ClearBreakpoint(p + 2);
    char text[128];
    std::snprintf(text, sizeof text,
                  "ICE: breakpoint on unwanted address(PC=%08x, breakaddr=%08x)!", m_uCurPC, p);
    throw CICEException(text);
  }
  WriteMem32(cortex::kDfsr, 0x1F, false);
  CICE::MCUFreeRun();
}

// ---- breakpoints -----------------------------------------------------------------

bool CICE_CortexM::SetBreakpoint(uint32_t address, int allowedKinds) {
  ScopedMutex lock(m_cmdLock);
  if (address & 1) return false;
  return CICE::SetBreakpoint(address, allowedKinds);
}

std::span<const uint8_t> CICE_CortexM::GetBreakpointInstruction() {
  static constexpr uint8_t kInstruction[2] = {0x18, 0xBE};
  return kInstruction;
}

bool CICE_CortexM::SetSoftwareBreakpoint(uint32_t address) {
  ScopedMutex lock(m_cmdLock);
  if (address & 1) return false;
  uint16_t before = 0, after = 0;
  WriteHalfword(address, cortex::kBkpt, &before, &after);
  if (after != cortex::kBkpt) {
    WriteHalfword(address, before, nullptr, nullptr);  // not writable (flash)
    return false;
  }
  BreakpointRecord r;
  r.address = address;
  r.kind = kBpSoftware;
  r.length = 2;
  r.original[0] = static_cast<uint8_t>(before);
  r.original[1] = static_cast<uint8_t>(before >> 8);
  m_breakpoints[address] = r;
  return true;
}

void CICE_CortexM::ClearSoftwareBreakpoint(uint32_t address) {
  ScopedMutex lock(m_cmdLock);
  const auto it = m_breakpoints.find(address);
  if (it == m_breakpoints.end()) return;
  const uint16_t original =
      static_cast<uint16_t>(it->second.original[0] | it->second.original[1] << 8);
  uint16_t before = 0, after = 0;
  WriteHalfword(address, original, &before, &after);
  if (after != original) throw CICEException("Clearing a software breakpoint failed.");
  if (before != cortex::kBkpt) WriteHalfword(address, before, nullptr, nullptr);
  m_breakpoints.erase(address);
}

bool CICE_CortexM::SetHardwareBreakpoint(uint32_t address) {
  ScopedMutex lock(m_cmdLock);
  if (address > cortex::kHighestCodeAddress) return false;
  const ComparatorChoice c = AllocateComparator(m_bpImages, address, m_bpFormat);
  if (c.index < 0) return false;
  const uint32_t reg = cortex::kFpComp0 + 4 * static_cast<uint32_t>(c.index);
  const uint32_t mask = 0;
  uint32_t before = 0, after = 0;
  MultiAccess(kCmdMemMulti, 1, &reg, &c.image, &mask, &before, &after);
  if (after != c.image) {
    MultiAccess(kCmdMemMulti, 1, &reg, &before, &mask, nullptr, nullptr);
    return false;
  }
  m_bpImages[static_cast<size_t>(c.index)] = c.image;
  BreakpointRecord r;
  r.address = address;
  r.kind = kBpHardware;
  r.index = c.index;
  m_breakpoints[address] = r;
  return true;
}

void CICE_CortexM::ClearHardwareBreakpoint(uint32_t address) {
  ScopedMutex lock(m_cmdLock);
  const auto it = m_breakpoints.find(address);
  if (it == m_breakpoints.end()) return;
  const int index = it->second.index;
  uint32_t image = 0;
  if (index < 0 || static_cast<size_t>(index) >= m_bpImages.size() ||
      !ReleaseComparator(m_bpImages[static_cast<size_t>(index)], address, m_bpFormat, &image)) {
    // The comparator no longer holds it (the unit was re-initialised): the
    // record is stale, so drop it rather than keep a breakpoint that can
    // never be cleared.
    m_breakpoints.erase(it);
    throw CICEException("Clearing a hardware breakpoint failed.");
  }
  const uint32_t reg = cortex::kFpComp0 + 4 * static_cast<uint32_t>(index);
  WriteMem32(reg, image, false);
  m_bpImages[static_cast<size_t>(index)] = image;
  m_breakpoints.erase(address);
}

unsigned CICE_CortexM::GetBreakUnitCount() {
  ScopedMutex lock(m_cmdLock);
  return static_cast<unsigned>(m_bpImages.size());
}

void CICE_CortexM::WriteDebugWords(const std::vector<uint32_t>& addresses,
                                   const std::vector<uint32_t>& values) {
  MultiAccessAll(kCmdMemMulti, static_cast<unsigned>(addresses.size()), addresses.data(),
                 values.data(), nullptr, nullptr);
}

void CICE_CortexM::ReadDebugWords(const std::vector<uint32_t>& addresses,
                                  std::vector<uint32_t>& values) {
  values.assign(addresses.size(), 0);
  ReadWords(kCmdMemMulti, static_cast<unsigned>(addresses.size()), addresses.data(),
            values.data());
}

void CICE_CortexM::ResetBreakImages(unsigned count) {
  m_bpImages.assign(count, 0);
  std::vector<uint32_t> addresses(count);
  for (unsigned i = 0; i < count; ++i) addresses[i] = cortex::kFpComp0 + 4 * i;
  WriteDebugWords(addresses, m_bpImages);
}

// ---- watchpoints (cores before ARMv8-M) ------------------------------------------

void CICE_CortexM::ResetWatchImages(unsigned count) {
  m_watchAddress.assign(count, 0);
  m_watchMask.assign(count, 0);
  m_watchFunction.assign(count, 0);
  std::vector<uint32_t> addresses, values;
  for (unsigned i = 0; i < count; ++i) {
    addresses.push_back(cortex::kDwtComp0 + cortex::kDwtStride * i);
    addresses.push_back(cortex::kDwtMask0 + cortex::kDwtStride * i);
    addresses.push_back(cortex::kDwtFunction0 + cortex::kDwtStride * i);
  }
  values.assign(addresses.size(), 0);
  WriteDebugWords(addresses, values);
}

unsigned CICE_CortexM::GetWatchUnitCount() {
  ScopedMutex lock(m_cmdLock);
  return static_cast<unsigned>(m_watchFunction.size());
}

int CICE_CortexM::SetWatchpoint(uint32_t address, uint32_t size, uint32_t kind) {
  ScopedMutex lock(m_cmdLock);
  uint32_t mask = 0;
  if (!WatchArgsValid(address, size, &mask)) return -1;
  const uint32_t function = WatchFunctionFor(kind);
  if (function == 0) return -1;  // a comparator with function 0 watches nothing
  for (size_t i = 0; i < m_watchFunction.size(); ++i)
    if (m_watchFunction[i] == function && m_watchAddress[i] == address && m_watchMask[i] == mask)
      return static_cast<int>(i);
  for (size_t i = 0; i < m_watchFunction.size(); ++i) {
    if ((m_watchFunction[i] & 0xF) != 0) continue;
    WriteWatch(i, address, mask, function);
    return static_cast<int>(i);
  }
  return -1;
}

void CICE_CortexM::WriteWatch(size_t i, uint32_t address, uint32_t mask, uint32_t function) {
  m_watchAddress[i] = address;
  m_watchMask[i] = mask;
  m_watchFunction[i] = function;
  const uint32_t base = cortex::kDwtStride * static_cast<uint32_t>(i);
  WriteDebugWords({cortex::kDwtComp0 + base, cortex::kDwtMask0 + base, cortex::kDwtFunction0 + base},
                  {address, mask, function});
}

void CICE_CortexM::ClearWatchpoint(int index, uint32_t address, uint32_t size, uint32_t kind) {
  ScopedMutex lock(m_cmdLock);
  uint32_t mask = 0;
  const auto i = static_cast<size_t>(index);
  if (index < 0 || i >= m_watchFunction.size() || !WatchArgsValid(address, size, &mask) ||
      m_watchAddress[i] != address || m_watchMask[i] != mask ||
      m_watchFunction[i] != WatchFunctionFor(kind))
    throw CICEException(text::kWatchpointClearFailed);
  WriteWatch(i, 0, 0, 0);
}

int CICE_CortexM::FindTriggeredWatchpoint() {
  ScopedMutex lock(m_cmdLock);
  std::vector<uint32_t> addresses, values;
  for (size_t i = 0; i < m_watchFunction.size(); ++i)
    addresses.push_back(cortex::kDwtFunction0 + cortex::kDwtStride * static_cast<uint32_t>(i));
  ReadDebugWords(addresses, values);
  for (size_t i = 0; i < values.size(); ++i)
    if (values[i] & (1u << 24)) return static_cast<int>(i);
  return -1;
}
