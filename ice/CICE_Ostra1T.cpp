// CICE_Ostra1T: the eight-entry breakpoint list, chip check and erase of 8051 1T targets.
#include "ice/CICE_Ostra1T.h"

#include <algorithm>

#include "data/PartTables.h"

using namespace ice;

CICE_Ostra1T::~CICE_Ostra1T() {
  try {
    ShutDown();
  } catch (...) {
  }
}

std::vector<uint32_t> CICE_Ostra1T::GetBreakpointList() {
  ScopedMutex lock(m_cmdLock);
  return m_breakList;
}

void CICE_Ostra1T::InitBreakUnit() {
  ScopedMutex lock(m_cmdLock);
  // The adapter keeps its slots armed across reconnects; what this list put
  // there would go on stopping the core behind the host's back. Disarming is
  // best effort: a connect does not fail for it.
  for (uint32_t address : m_breakList) {
    try {
      ClrBreakPointCmd(1, address, 0);
    } catch (const CICEException&) {
      // refused for this slot, or the adapter is gone (then the rest fail
      // at once without I/O)
    }
  }
  m_breakList.clear();
}

bool CICE_Ostra1T::SetHardwareBreakpoint(uint32_t address) {
  ScopedMutex lock(m_cmdLock);
  if (m_breakList.size() >= kMaxBreakpoints ||
      std::find(m_breakList.begin(), m_breakList.end(), address) != m_breakList.end())
    return false;
  m_breakList.push_back(address);
  BreakpointRecord r;
  r.address = address;
  r.kind = kBpHardware;
  r.index = static_cast<int>(m_breakList.size() - 1);
  m_breakpoints[address] = r;
  return true;
}

void CICE_Ostra1T::ClearHardwareBreakpoint(uint32_t address) {
  ScopedMutex lock(m_cmdLock);
  ClrBreakPointCmd(1, address, 0);
  m_breakList.erase(std::remove(m_breakList.begin(), m_breakList.end(), address),
                    m_breakList.end());
  m_breakpoints.erase(address);
  for (size_t i = 0; i < m_breakList.size(); ++i) {
    const auto it = m_breakpoints.find(m_breakList[i]);
    if (it != m_breakpoints.end()) it->second.index = static_cast<int>(i);
  }
}

void CICE_Ostra1T::MCUFreeRun() {
  ScopedMutex lock(m_cmdLock);
  for (size_t i = 0; i < m_breakList.size(); ++i)
    SetBreakPointCmd(1, m_breakList[i], static_cast<uint32_t>(i + 1));
  CICE::MCUFreeRun();
}

bool CICE_Ostra1T::IsChipSupported() {
  ScopedMutex lock(m_cmdLock);
  // The table keys are full product ids; the debug id's low 16 bits are
  // compared with theirs.
  const uint32_t pid = ReadDbgID(0) & 0xFFFF;
  for (const gadrel::data::PartRecord& r : gadrel::data::Parts8051())
    if ((r.pid & 0xFFFF) == pid) return true;
  return false;
}

void CICE_Ostra1T::EraseAll() {
  ScopedMutex lock(m_cmdLock);
  try {
    EraseFlashChip(0, nullptr, 0);
  } catch (const CICEException&) {
  }
}
