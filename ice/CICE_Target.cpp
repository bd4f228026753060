// CICE: target link configuration, connection and run control.
#include "ice/CICE.h"

using namespace ice;

bool CICE::ConfigureCommand(uint32_t clock, uint32_t coreType, uint16_t voltage, bool flag,
                            uint32_t extra, bool checkEcho, ConfigInfo* info, bool* optionBit) {
  ScopedMutex lock(m_cmdLock);
  if ((coreType & 0xF00) != 0x800) {
    int generation = -1;
    try {
      generation = GetPortChipType();
    } catch (const CICEException&) {
    }
    clock = NormaliseClock(clock, generation);
  }
  CommandRecord req(kCmdConfigure);
  req.Word(clock).Word(coreType).Word(voltage).Word(flag ? 1 : 0).Word(extra);
  uint8_t reply[16] = {};
  unsigned got = 0;
  try {
    Transact(req.Data(), req.Size(), reply, sizeof reply, &got, kDefaultTimeoutMs, true);
  } catch (...) {
    m_nFlashMode = 0;
    throw;
  }
  m_nFlashMode = 0;
  if (checkEcho && reply[0] != kCmdConfigure) return false;
  if (got >= 12) {
    const uint32_t w1 = GetLE32(reply + 4), w2 = GetLE32(reply + 8);
    if (info) {
      info->wValue[0] = static_cast<uint16_t>(w1 & 0xFFFF);
      info->wValue[1] = static_cast<uint16_t>(w1 >> 16);
      info->wValue[2] = static_cast<uint16_t>(w2 & 0xFFFF);
    }
    if (optionBit) *optionBit = (w2 >> 16) & 1;
  }
  return true;
}

bool CICE::SetConfig(uint32_t clock, uint16_t voltage, bool flag, ConfigInfo* info,
                     bool* optionBit) {
  ScopedMutex lock(m_cmdLock);
  return ConfigureCommand(clock, GetCoreType(), voltage, flag, 0, true, info, optionBit);
}

bool CICE::SetConfigWord(uint32_t word) {
  ScopedMutex lock(m_cmdLock);
  if (word == 0) return true;
  return ConfigureCommand(0, GetCoreType(), 0, false, word, false, nullptr, nullptr);
}

uint32_t CICE::ReadDbgID(uint32_t argument) {
  ScopedMutex lock(m_cmdLock);
  CommandRecord req(kCmdDebugId);
  req.Word(argument);
  uint8_t reply[8] = {};
  SimpleCommand(req, reply, sizeof reply, "ICE: Device ID not found!");
  return GetLE32(reply + 4);
}

void CICE::MCUConnect(uint32_t resetMode, uint32_t connectMode, uint32_t option,
                      uint32_t reserved) {
  ScopedMutex lock(m_cmdLock);
  CommandRecord req(kCmdMcuReset);
  req.Word(resetMode).Word(connectMode).Word(option).Word(reserved);
  uint8_t reply[16] = {};
  unsigned got = 0;
  if (connectMode == CONNECT_NONE || connectMode == CONNECT_DISCONNECT) {
    // Giving the link up never fails from the caller's point of view.
    const bool keepUnits =
        (resetMode == RESET_NONE2 && connectMode == CONNECT_DISCONNECT) ||
        (resetMode == RESET_HW && connectMode == CONNECT_NONE && option != 0);
    if (!keepUnits) {
      try {
        InitBreakUnit();
        InitWatchUnit();
      } catch (const CICEException&) {
      }
    }
    try {
      Transact(req.Data(), req.Size(), reply, sizeof reply, &got, kDefaultTimeoutMs, true);
    } catch (const CICEException&) {
    }
    return;
  }
  Transact(req.Data(), req.Size(), reply, sizeof reply, &got, kDefaultTimeoutMs, true);
  const bool keepUnits = connectMode == CONNECT_ICP_MODE ||
                         (connectMode == CONNECT_NORMAL && (option & 0xFF) == 1);
  if (!keepUnits) {
    InitBreakUnit();
    InitWatchUnit();
  }
  CheckEcho(reply, kCmdMcuReset, "ICE: protocol error - MCU_RESET!");
}

void CICE::ResetAndRun() {
  ScopedMutex lock(m_cmdLock);
  MCUConnect(RESET_HW, CONNECT_NONE, 0, 0);
}

void CICE::MCUResetWithKeycode() {
  throw CICEException("ICE: protocol error - MCU_RESET_WITH_KEYCODE!");
}

int CICE::GetMCUState(uint32_t* pc, int mode) {
  ScopedMutex lock(m_cmdLock);
  if (mode == 0 || mode == 1) {
    const CommandRecord req(kCmdGetMcuState);
    uint8_t reply[16] = {};
    unsigned got = 0;
    Transact(req.Data(), req.Size(), reply, sizeof reply, &got, kDefaultTimeoutMs, true);
    const uint32_t state = GetLE32(reply + 8);
    if (state != 0) return static_cast<int>(state);
    CheckEcho(reply, kCmdGetMcuState, "ICE: protocol error - Get_MCU_State!");
    if (pc) *pc = GetLE32(reply + 4);
    return PROCESSOR_STOP;
  }
  const uint32_t status = ReadMem32(0xF00016F0, false);
  if (!(status & 0x200)) return PROCESSOR_RUN;
  const uint32_t value = ReadReg(15);
  if (pc) *pc = value;
  return PROCESSOR_STOP;
}

bool CICE::CheckMCUStop(uint32_t* pc) {
  ScopedMutex lock(m_cmdLock);
  return GetMCUState(pc, 0) == PROCESSOR_STOP;
}

void CICE::MCUStepRun() {
  ScopedMutex lock(m_cmdLock);
  uint8_t reply[16] = {};
  SimpleCommand(CommandRecord(kCmdStepRun), reply, sizeof reply,
                "ICE: protocol error - MCU_Step_Run!");
}

uint32_t CICE::MCUStopRun() {
  ScopedMutex lock(m_cmdLock);
  uint8_t reply[16] = {};
  SimpleCommand(CommandRecord(kCmdStopRun), reply, sizeof reply,
                "ICE: protocol error - MCU_Stop_Run!");
  return GetLE32(reply + 4);
}

void CICE::MCUFreeRun() {
  ScopedMutex lock(m_cmdLock);
  uint8_t reply[16] = {};
  SimpleCommand(CommandRecord(kCmdFreeRun), reply, sizeof reply,
                "ICE: protocol error - MCU_Free_Run!");
}

uint32_t CICE::SetBreakPointCmd(uint32_t a, uint32_t b, uint32_t c) {
  ScopedMutex lock(m_cmdLock);
  CommandRecord req(kCmdSetBreakPoint);
  req.Word(a).Word(b).Word(c);
  uint8_t reply[16] = {};
  SimpleCommand(req, reply, sizeof reply, "ICE: protocol error - Set_BreakPoint!");
  return GetLE32(reply + 4);
}

uint32_t CICE::ClrBreakPointCmd(uint32_t a, uint32_t b, uint32_t c) {
  ScopedMutex lock(m_cmdLock);
  CommandRecord req(kCmdClrBreakPoint);
  req.Word(a).Word(b).Word(c);
  uint8_t reply[16] = {};
  SimpleCommand(req, reply, sizeof reply, "ICE: protocol error - Clr_BreakPoint!");
  return GetLE32(reply + 4);
}
