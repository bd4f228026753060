// CICE: the breakpoint table and the dispatch to the variants' setters and
// clearers by kind.
#include <vector>

#include "ice/CICE.h"

using namespace ice;

bool CICE::IsBreakpoint(uint32_t address, int* kind) {
  ScopedMutex lock(m_cmdLock);
  const auto it = m_breakpoints.find(address);
  if (it == m_breakpoints.end()) return false;
  if (kind) *kind = it->second.kind;
  return true;
}

bool CICE::SetBreakpoint(uint32_t address, int allowedKinds) {
  ScopedMutex lock(m_cmdLock);
  if (m_breakpoints.count(address)) return true;
  if (allowedKinds & kBpSoftware) {
    try {
      if (AcceptsSoftwareRange(address, 4) && SetSoftwareBreakpoint(address)) return true;
    } catch (const CICEException&) {
      // try the next kind
    }
  }
  if ((allowedKinds & kBpHardware) && SetHardwareBreakpoint(address)) return true;
  if ((allowedKinds & kBpThird) && SetThirdKindBreakpoint(address)) return true;
  return false;
}

bool CICE::SetBreakpointDefault(uint32_t address, bool allowAll) {
  ScopedMutex lock(m_cmdLock);
  return SetBreakpoint(address, allowAll ? 7 : 3);
}


void CICE::ClearByKind(uint32_t address, int kind, const char* unknownKind) {
  switch (kind) {
    case kBpHardware: ClearHardwareBreakpoint(address); break;
    case kBpSoftware: ClearSoftwareBreakpoint(address); break;
    case kBpThird: ClearThirdKindBreakpoint(address); break;
    default: throw CICEException(unknownKind);
  }
}

bool CICE::ClearBreakpoint(uint32_t address) {
  ScopedMutex lock(m_cmdLock);
  const auto it = m_breakpoints.find(address);
  if (it == m_breakpoints.end()) return false;
  ClearByKind(address, it->second.kind, "ICE: Cmd_ClrBreakPoint unknow BPType!");
  return true;
}

void CICE::ClearAllBreakpoints() {
  ScopedMutex lock(m_cmdLock);
  while (!m_breakpoints.empty()) {
    const auto& [address, r] = *m_breakpoints.begin();
    const uint32_t at = address;
    ClearByKind(at, r.kind, "ICE: Cmd_ClrAllBreakPoint unknow BPType!");
    // A clearer that leaves its record behind would make this loop forever.
    m_breakpoints.erase(at);
  }
}

void CICE::DumpBreakpoints() {
  ScopedMutex lock(m_cmdLock);
  for (const auto& [address, r] : m_breakpoints) {
    (void)address;
    if (r.kind != kBpHardware && r.kind != kBpSoftware && r.kind != kBpThird)
      throw CICEException("ICE: Cmd_DumpBreakPoint unknow BPType!");
  }
}

void CICE::RewriteSoftwareBreakpoints() {
  ScopedMutex lock(m_cmdLock);
  std::vector<uint32_t> addresses;
  for (const auto& [address, r] : m_breakpoints)
    if (r.kind == kBpSoftware) addresses.push_back(address);
  for (uint32_t a : addresses) ClearSoftwareBreakpoint(a);
  for (uint32_t a : addresses) SetSoftwareBreakpoint(a);
}
