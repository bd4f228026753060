// Command codes the emulated adapter understands: the application
// firmware's command records and the boot loader's requests. The emulator
// keeps its own names for them so that a code the host gets wrong is not
// silently got wrong on both sides.
#pragma once

#include <cstdint>

namespace sim {

// First word of a command record on the application firmware's channel.
enum class Cmd : uint32_t {
  SetBridgeMode = 0x40,
  ReadBridge = 0x41,
  WriteBridge = 0x42,
  SwoTransport = 0x43,
  SwoMode = 0x44,
  SwoBaudrate = 0x45,
  SwoControl = 0x46,
  SwoStatus = 0x47,
  SwoData = 0x48,
  WriteFlash = 0xA0,
  ReadFlash = 0xA1,
  Configure = 0xA2,
  DebugId = 0xA3,
  EraseFlash = 0xA4,
  SetFlashMode = 0xA5,
  SetEtm = 0xA8,
  GetEtmState = 0xA9,
  RegisterDump = 0xB0,
  MultiB1 = 0xB1,  // multi-access kinds the firmware refuses
  StreamRead = 0xB3,
  StreamWrite = 0xB4,
  MultiB5 = 0xB5,
  WriteRegisters = 0xB6,
  ReadBlock = 0xB7,
  RegisterMulti = 0xB8,
  MemoryMulti = 0xB9,
  WriteBlock = 0xBC,
  SetBreakpoint = 0xC0,
  ClearBreakpoint = 0xC1,
  Step = 0xD1,
  Halt = 0xD2,
  Run = 0xD3,
  CoreState = 0xD8,
  McuReset = 0xE2,
  LinkCheck = 0xF0,
  MultiFA = 0xFA,
  AdapterMemoryMulti = 0xFB,
  ErrorQuery = 0xFC,
  MultiFD = 0xFD,
  AdapterRegisterMulti = 0xFE,
  Handshake = 0xFFFFFFFF,
};

// First word of a boot-loader request.
enum class LoaderCmd : uint32_t {
  WriteMore = 0x00,      // following packets of an application write
  WriteFirst = 0xA0,     // start, total length, first image bytes
  WriteConfig = 0xA1,
  ReadConfig = 0xA2,
  Sync = 0xA4,           // packet number in the data; first after connecting
  Version = 0xA6,
  ApromSize = 0xAA,
  StartApplication = 0xAB,
  RestartLoader = 0xAC,
  ChipId = 0xB1,
  FlashSize = 0xB2,
  ReadSum = 0xC8,
  StoreSum = 0xC9,
};

constexpr uint32_t Code(Cmd c) { return static_cast<uint32_t>(c); }
constexpr uint32_t Code(LoaderCmd c) { return static_cast<uint32_t>(c); }

}  // namespace sim
