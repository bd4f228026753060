// The adapter script objects: `ice` in the pin-view state (type LuaICE__)
// and `VoLink` in the user state (type LuaICE_User__). Both forward to the
// adapter command object they were bound to, which they never own.
//
// Every method takes the state with the object at index 1 and its own
// arguments from index 2 on, and returns the number of results it pushed.
// A failed argument test (ArgumentError, before any adapter traffic) and an
// adapter failure (CICEException) both leave the method as C++ exceptions;
// the method dispatcher turns them into "<method>: argument error" and
// "<method>: <text>" with the name of the method's table entry, so no
// method raises a script error over a live C++ object.
//
// LuaICE.cpp holds the one table of the methods (name, member, argument
// form, results, description) from which both objects, their argument errors
// and ice's help listing are made, and the constants, bound to the adapter
// protocol's values. The methods are split by group: LuaICE.cpp (help, stubs),
// LuaICE_Control.cpp (link, configuration, run control), LuaICE_Memory.cpp
// (registers, target and adapter memory), LuaICE_Bridge.cpp (peripheral
// bridge, trace, serial-wire output, message and selection boxes).
#pragma once

#include <cstdint>

#include "script/ScriptBinding.h"

class CICE;

class CLuaICE : public CLuaObject {
 public:
  explicit CLuaICE(CICE* ice) : m_pICE(ice) {}

  // The core type of the adapter object (its GetCoreType).
  virtual uint32_t GetCoreType();

  // Adapter and link management.
  int GetVersion(lua_State* L);
  int GetHelp(lua_State* L);
  int OpenPort(lua_State* L);
  int ClosePort(lua_State* L);
  int SetParam(lua_State* L);
  int ResetCmdSerial(lua_State* L);
  int CheckUSBLink(lua_State* L);
  int CheckLink(lua_State* L);
  int SetConfig(lua_State* L);

  // Target control.
  int MCUConnect(lua_State* L);
  int CheckMCUStop(lua_State* L);
  int MCUStepRun(lua_State* L);
  int MCUStopRun(lua_State* L);
  int MCUFreeRun(lua_State* L);
  int GetMCUState(lua_State* L);
  int ReadDbgID(lua_State* L);

  // Registers, target memory and the adapter's own memory.
  int ReadReg(lua_State* L);
  int WriteReg(lua_State* L);
  int ReadMem32(lua_State* L);
  int WriteMem32(lua_State* L);
  int ReadMemMulti(lua_State* L);
  int WriteMemMulti(lua_State* L);
  int ReadMem(lua_State* L);
  int WriteMem(lua_State* L);
  int ReadFlash(lua_State* L);
  int ReadICEMem32(lua_State* L);
  int ReadICEMemMulti(lua_State* L);

  // Peripheral bridge of the adapter.
  int AdcScan(lua_State* L);
  int PwmCapture(lua_State* L);
  int PwmOutput(lua_State* L);
  int GpioInput(lua_State* L);
  int GpioOutput(lua_State* L);

  // Trace and serial-wire output.
  int SetEtmc(lua_State* L);
  int GetEtmcState(lua_State* L);
  int SwoMode(lua_State* L);
  int SwoStatus(lua_State* L);
  int SwoData(lua_State* L);

  // User interface and stubs.
  int MessageBox(lua_State* L);
  int SelectBox(lua_State* L);
  int LoadDwarf(lua_State* L);
  int UnLoadDwarf(lua_State* L);
  int DwarfGetText(lua_State* L);

 protected:
  CICE* m_pICE;
};

class CLuaICE_User : public CLuaICE {
 public:
  using CLuaICE::CLuaICE;
};

const ScriptObjectType& LuaICEType();
const ScriptObjectType& LuaICEUserType();

// Firmware version bounds the tool carries: lower bound, tool version and
// the tool's revision suffix (what GetVersion returns).
inline constexpr unsigned kFirmwareLowerBound = 7972;
inline constexpr unsigned kFirmwareToolVersion = 7973;
inline constexpr const char* kFirmwareToolSuffix = "r";

// Bounds on what a script can make a method allocate or transfer.
inline constexpr uint32_t kScriptMaxWords = 32;          // ReadMem32 count, WriteMem32 block
inline constexpr uint32_t kScriptMaxTransfer = 1u << 20;  // ReadMem / ReadFlash bytes
inline constexpr unsigned kScriptSwoCapacity = 1024;      // SwoData buffer
