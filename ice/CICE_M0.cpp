// CICE_M0: breakpoint and watchpoint unit set-up, watch kinds and semihosting.
#include "ice/CICE_M0.h"

using namespace ice;

CICE_M0::~CICE_M0() {
  try {
    ShutDown();
  } catch (...) {
  }
}

bool CICE_M0::SetBreakpoint(uint32_t address, int allowedKinds) {
  ScopedMutex lock(m_cmdLock);
  if ((allowedKinds & 7) == 0) return false;
  return CICE_CortexM::SetBreakpoint(address, allowedKinds);
}

void CICE_M0::InitBreakUnit() {
  ScopedMutex lock(m_cmdLock);
  if (m_nBreakCount < 0)
    m_nBreakCount = static_cast<int>((ReadMem32(cortex::kFpCtrl, false) >> 4) & 0xF);
  ResetBreakImages(static_cast<unsigned>(m_nBreakCount));
}

void CICE_M0::InitWatchUnit() {
  ScopedMutex lock(m_cmdLock);
  if (m_nWatchCount < 0) m_nWatchCount = static_cast<int>(ReadMem32(cortex::kDwtCtrl, false) >> 28);
  ResetWatchImages(static_cast<unsigned>(m_nWatchCount));
}

uint32_t CICE_M0::WatchFunctionFor(uint32_t kind) {
  switch (kind) {
    case 0: return 5;
    case 1: return 6;
    case 2: return 7;
    default: return 0;
  }
}

bool CICE_M0::CheckSemihosting(SemihostingRequest* request) {
  ScopedMutex lock(m_cmdLock);
  if (m_bSemihostingBusy) return false;
  if (ReadHalfword(m_uCurPC & ~1u) != cortex::kSemihostingBkpt) return false;
  const uint32_t regs[3] = {0, 1, 15};
  const uint32_t zero[3] = {}, masks[3] = {0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF};
  uint32_t values[3] = {};
  MultiAccess(kCmdRegMulti, 3, regs, zero, masks, nullptr, values);
  if (values[2] != m_uCurPC) throw CICEException("ICE: m_uCurPC not correctly set!");
  m_bSemihostingBusy = true;
  if (request) *request = {values[0], values[1], values[2]};
  return true;
}

void CICE_M0::CompleteSemihosting(const SemihostingRequest& request) {
  ScopedMutex lock(m_cmdLock);
  m_bSemihostingBusy = false;
  m_uCurPC = request.pc;
  const uint32_t regs[3] = {0, 1, 15};
  const uint32_t values[3] = {request.r0, request.r1, request.pc};
  MultiAccess(kCmdRegMulti, 3, regs, values, nullptr, nullptr, nullptr);
}
