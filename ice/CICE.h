// CICE: the adapter command object. Every operation on the target or on the
// adapter goes through it: it owns the seven transport slots, speaks the
// request/reply command protocol with the selected adapter, and offers
// target connection, run control, memory, register and adapter I/O access.
// The core-specific parts (breakpoints, watchpoints, stepping) are left to
// the core variants (CICE_M0, CICE_M4, CICE_Ostra1T).
//
// Each section below names the file that implements it; what the firmware
// version enables is decided once per handshake (FirmwareFeatures.h).
//
// Every public operation holds the object's recursive command lock for its
// whole duration; each exchange additionally holds the selected adapter's
// cross-process share lock. Failures are thrown as CICEException.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "ice/CICEException.h"
#include "ice/FirmwareFeatures.h"
#include "ice/ICEBreakpoints.h"
#include "ice/ICEProtocol.h"
#include "platform/CMutex2.h"
#include "usb/CUsbDiscovery.h"

class IUserInteraction;

// Kind of the target's core, from the part number of its CPU id; kinds 5
// to 7 have the ARMv8-M watchpoint unit. Other: any other core, and every
// target that is no Cortex-M.
enum class CoreKind : int {
  CortexM0 = 1,
  CortexM0Plus = 2,
  CortexM4 = 3,
  CortexM7 = 4,
  CortexM23 = 5,
  CortexM33 = 6,
  CortexM55 = 7,
  Other = 9,
};

// Shows what a discovery pass could not open for lack of permission (a
// warning) and, when it found nothing, "No ICE Device Found. Please Check
// the Link!" (an error), as message boxes of `ui`.
void ShowDiscoveryReport(IUserInteraction& ui, const DiscoveryReport& report);

// What the version handshake reports about the adapter's design.
struct AdapterVersionInfo {
  int32_t nDesignId = -1;  // -1 = none
  int32_t nCapA = 0;
  int32_t nCapB = 0;
  uint8_t bReserved = 0;
  char szName[32] = {};    // empty when unknown
};

// The three 16-bit values of a configure reply.
struct ConfigInfo {
  uint16_t wValue[3] = {};
};

class CICE {
 public:
  static constexpr int kPortCount = CUsbDiscovery::kSlotCount;
  static constexpr uint32_t kUnknownFirmware = ice::kFirmwareUnknown;

  // ---- construction, transport slots, adapter selection: CICE_Adapters.cpp
  CICE();
  virtual ~CICE();
  CICE(const CICE&) = delete;
  CICE& operator=(const CICE&) = delete;

  // The discovery pass; nothing when some slot is already found. With
  // `report`, a pass that finds nothing shows "No ICE Device Found. Please
  // Check the Link!" through the user interaction (when one is set).
  virtual void DiscoverAdapters(bool report);
  virtual void CloseAllAdapters();
  virtual unsigned GetDeviceCount();
  // Selects adapter `index` (numbered across the slots); returns the
  // transport's previous index plus the devices before the slot, or 0 when
  // the index is beyond the total (then nothing is selected). Forgets the
  // firmware version and its features.
  virtual int SelectAdapter(unsigned index);
  virtual unsigned GetSelectedAdapter();
  virtual void ReleaseOtherAdapters();
  virtual void AcquireAdapter() {}
  virtual void ReleaseAdapter() {}
  // COM number of the selected adapter's serial port, or -1.
  virtual int GetComPort();
  CUsbDiscovery& Discovery() { return m_discovery; }
  // Where DiscoverAdapters reports "nothing found" (may stay unset).
  void SetUserInteraction(IUserInteraction* ui) { m_pUI = ui; }
  IUserInteraction* GetUserInteraction() const { return m_pUI; }

  // ---- command exchange, payload sizes, handshake, link: CICE_Protocol.cpp
  virtual void ReceiveReply(void* buffer, unsigned capacity, unsigned* length, int timeoutMs);
  virtual void SendRequest(const void* data, unsigned length, unsigned* sent, int timeoutMs);
  // One command exchange under the selected adapter's share lock. Throws
  // when no adapter is found; returns at once, without I/O, when one is
  // found but no slot is selected.
  virtual void Transact(const void* request, unsigned requestLength, void* reply,
                        unsigned capacity, unsigned* replyLength, int timeoutMs,
                        bool expectReply = true);
  virtual int32_t GetLastErrorCode();
  // The multi-entry command (kinds 0xB8, 0xB9, 0xFB, 0xFE). Sends at most
  // GetMultiAccessLimit entries and returns how many it sent.
  virtual unsigned MultiAccess(uint32_t kind, unsigned count, const uint32_t* addresses,
                               const uint32_t* values, const uint32_t* masks, uint32_t* first,
                               uint32_t* second, bool expectReply = true);
  // Version handshake; returns the firmware version and works out what it
  // enables. Every out may be null.
  virtual uint32_t ResetCmdSerial(uint32_t value, uint32_t* chipId = nullptr,
                                  bool* pro = nullptr, uint16_t* lowHalf = nullptr,
                                  uint16_t* highHalf = nullptr, uint32_t* extra = nullptr,
                                  AdapterVersionInfo* info = nullptr,
                                  uint16_t* fourBytes = nullptr);
  virtual bool CheckUSBLink();
  virtual bool CheckLink();
  virtual std::string GetParam(const std::string& name);
  virtual void SetParam(const std::string& name, const std::string& value);

  int GetPortChipType();
  unsigned GetPayloadSize();
  unsigned GetWordPayload();
  unsigned GetMaxBlockData();
  unsigned GetMultiAccessLimit();

  // State the handshake keeps.
  uint32_t GetFirmwareVersion();
  uint32_t GetAdapterChipId();
  bool IsPro();
  // What the adapter's firmware enables (nothing until the handshake).
  ice::FirmwareFeatures GetFirmwareFeatures();
  // Selected slot (-1 = none) and device within it.
  int GetSelectedSlot();
  // Holds the command lock and the selected adapter's share lock for a
  // sequence of exchanges that no other process may come between (a session
  // with the adapter's flash controller). A failed exchange inside closes
  // the adapters only when the scope ends.
  class AdapterLockScope;
  // Exchanges since construction (requests sent), for diagnostics.
  uint64_t GetExchangeCount() const { return m_nExchanges; }

  // ---- target link configuration, connection, run control: CICE_Target.cpp
  virtual bool SetConfig(uint32_t clock, uint16_t voltage, bool flag, ConfigInfo* info = nullptr,
                         bool* optionBit = nullptr);
  virtual bool SetConfigWord(uint32_t word);
  virtual uint32_t ReadDbgID(uint32_t argument);
  virtual void MCUConnect(uint32_t resetMode, uint32_t connectMode, uint32_t option,
                          uint32_t reserved);
  virtual void MCUResetWithKeycode();
  virtual bool CheckMCUStop(uint32_t* pc);
  virtual uint32_t GetHaltReason() { return 0; }
  virtual void MCUStepRun();
  virtual uint32_t MCUStopRun();
  virtual void MCUFreeRun();
  virtual int GetMCUState(uint32_t* pc, int mode);
  virtual void ResetAndRun();
  // Raw breakpoint-list commands; return reply word 1.
  virtual uint32_t SetBreakPointCmd(uint32_t a, uint32_t b, uint32_t c);
  virtual uint32_t ClrBreakPointCmd(uint32_t a, uint32_t b, uint32_t c);

  // ---- target memory and core registers: CICE_Memory.cpp -----------------
  virtual uint32_t ReadReg(uint32_t reg);
  virtual void WriteReg(uint32_t reg, uint32_t value);
  virtual void ReadRegs(uint32_t* buffer, uint32_t first, uint32_t count);
  virtual void WriteRegs(const uint32_t* data, uint32_t first, uint32_t count);
  virtual uint32_t ReadMem32(uint32_t address, bool shadow = true);
  virtual void WriteMem32(uint32_t address, uint32_t value, bool shadow = true,
                          uint32_t* first = nullptr, uint32_t* second = nullptr,
                          uint32_t mask = 0);
  // Scattered words, one multi-access command per GetMultiAccessLimit entries.
  virtual void ReadMemMulti(unsigned count, const uint32_t* addresses, uint32_t* values);
  virtual void WriteMemMulti(unsigned count, const uint32_t* addresses, const uint32_t* values);
  virtual unsigned ReadBlock(uint32_t address, unsigned length, void* buffer, bool shadow);
  virtual unsigned WriteBlock(uint32_t address, unsigned length, const void* data, bool shadow);
  virtual void ReadMem(uint32_t address, void* buffer, unsigned length, bool shadow,
                       bool allowStreaming);
  virtual void WriteMem(uint32_t address, const void* data, unsigned length, bool shadow);

  // ---- target flash, bridge, serial-wire output, trace: CICE_FlashTrace.cpp
  virtual void SetFlashMode(uint32_t kind, const char* name, uint32_t* info, uint8_t option);
  virtual int GetFlashMode();
  virtual void EraseFlashChip(unsigned count, const uint32_t* words, uint32_t value);
  virtual unsigned WriteFlash(uint32_t address, const void* data, unsigned length);
  virtual unsigned ReadFlash(uint32_t address, void* buffer, unsigned length);
  virtual void ReadFlashBlock(uint32_t address, void* buffer, unsigned length);
  virtual void WriteFlashBlock(uint32_t address, const void* data, unsigned length);
  virtual void SetEtmc(const uint32_t* record, uint8_t* out20);
  virtual uint32_t GetEtmcState();
  virtual void SetBridgeMode(uint32_t mode);
  virtual unsigned WriteBridge(const uint8_t* record12);
  virtual unsigned ReadBridge(uint8_t* buffer40);
  virtual void SwoTransport(bool on);
  virtual void SwoMode(uint32_t mode);
  virtual uint32_t SwoBaudrate(uint32_t rate);
  virtual void SwoControl(bool on);
  virtual uint8_t SwoStatus(uint32_t* extra);
  // Copies at most `capacity` bytes of trace data into `buffer`.
  virtual uint8_t SwoData(unsigned* length, uint8_t* buffer, unsigned capacity = 1024);
  virtual unsigned GetSwoDataMax();

  // ---- the adapter's own memory, registers, ID and pins: CICE_AdapterIO.cpp
  virtual uint32_t ReadICEReg(uint32_t address);
  virtual void WriteICEReg(uint32_t address, uint32_t value);
  virtual uint32_t ReadICEMem32(uint32_t address);
  virtual void WriteICEMem32(uint32_t address, uint32_t value);
  virtual void ReadICEMemMulti(const uint32_t* addresses, unsigned count, uint32_t* values);
  virtual uint32_t GetAdapterInputs();
  virtual uint32_t GetAdapterLeds();
  virtual void SetAdapterLeds(uint32_t bits, uint32_t mask);
  virtual void BlinkAdapterLeds(uint32_t bits, unsigned periodMs, unsigned count);
  // The adapter's 32-bit ID from its boot-loader area, read through the
  // flash controller of the adapter's own microcontroller (the family of
  // the MCU class of its chip id; AdapterParts.h), the share lock held for
  // the whole flash session. Runs the handshake first when none ran since
  // the adapter was selected.
  virtual uint32_t ReadAdapterId();
  // The adapter restarts into its boot loader (it leaves the bus and comes
  // back as a boot-loader device).
  virtual void RestartToBootLoader();
  // Whether the adapter's firmware is ready again (after its boot loader
  // was rewritten).
  virtual bool IsAdapterReady();
  // The adapter's run state (0 normal, 1 service), set around a rewrite of
  // its boot loader and restored afterwards.
  virtual uint32_t GetAdapterRunState();
  virtual void SetAdapterRunState(uint32_t state);

  // ---- breakpoint table: CICE_Breakpoints.cpp ------------------------------
  virtual bool IsBreakpoint(uint32_t address, int* kind = nullptr);
  virtual bool SetBreakpoint(uint32_t address, int allowedKinds);
  virtual bool SetBreakpointDefault(uint32_t address, bool allowAll);
  virtual bool ClearBreakpoint(uint32_t address);
  virtual void RewriteSoftwareBreakpoints();
  virtual void ClearAllBreakpoints();
  virtual void DumpBreakpoints();

  // ---- core-specific: the variants (CICE_CortexM.cpp, CICE_M0.cpp,
  // CICE_M4.cpp, CICE_Ostra1T.cpp, CVoICE.cpp) -------------------------------
  virtual uint32_t GetCoreType() = 0;
  virtual uint32_t ReadPC() { return 0; }
  virtual void WritePC(uint32_t) {}
  virtual unsigned GetBreakUnitCount() { return 0; }
  virtual void InitBreakUnit() {}
  virtual int FindTriggeredWatchpoint() { return -1; }
  virtual unsigned GetWatchUnitCount() { return 0; }
  virtual int SetWatchpoint(uint32_t, uint32_t, uint32_t) { return -1; }
  virtual void ClearWatchpoint(int, uint32_t, uint32_t, uint32_t) {}
  virtual void InitWatchUnit() {}
  virtual CoreKind GetCoreKind() { return CoreKind::Other; }
  virtual bool IsChipSupported() { return true; }
  virtual void EraseAll() {}

 protected:
  // ---- CICE_Protocol.cpp -------------------------------------------------
  // One entry of the multi-entry command of `kind`: a read (value 0, mask all
  // ones, the word comes back) or a plain write (mask 0).
  uint32_t ReadOneWord(uint32_t kind, uint32_t address);
  void WriteOneWord(uint32_t kind, uint32_t address, uint32_t value);
  // Every one of `count` entries of the multi-entry command of `kind`, in as
  // many commands as GetMultiAccessLimit asks for; `second` (may be null)
  // receives pair word 1 of each entry.
  void MultiAccessAll(uint32_t kind, unsigned count, const uint32_t* addresses,
                      const uint32_t* values, const uint32_t* masks, uint32_t* second);
  // `count` read entries (value 0, mask all ones) through MultiAccessAll.
  void ReadWords(uint32_t kind, unsigned count, const uint32_t* addresses, uint32_t* values);
  // Echo check: throws `message` unless reply byte 0 is the low byte of code.
  static void CheckEcho(const uint8_t* reply, uint32_t code, const char* message);
  // A simple command: request, reply of `capacity` bytes, echo check.
  void SimpleCommand(const ice::CommandRecord& request, uint8_t* reply, unsigned capacity,
                     const char* protocolError, unsigned* replyLength = nullptr,
                     int timeoutMs = ice::kDefaultTimeoutMs);
  // Whether any port-table entry is found.
  bool AnyFound();
  // Throws "There is no Vo-Link connected to a USB port." (last error -1)
  // unless some port-table entry is found.
  void RequireAdapter();
  // GetPortChipType for a command: throws "There is no Vo-Link connected to
  // a USB port." first when no adapter is found at all.
  int CommandGeneration();
  CUsbCmd* SelectedTransport();
  // Declared before the share lock of one exchange (so it ends after that
  // lock is released). A send or receive that fails inside closes every
  // adapter only when the outermost scope ends: closing a transport closes
  // its share area, which must not happen while this process holds it.
  class ExchangeScope {
   public:
    explicit ExchangeScope(CICE& ice) : m_ice(ice) { ++m_ice.m_nExchangeDepth; }
    ~ExchangeScope();
    ExchangeScope(const ExchangeScope&) = delete;
    ExchangeScope& operator=(const ExchangeScope&) = delete;

   private:
    CICE& m_ice;
  };
  // After a failed send or receive: closes every adapter now, or at the end
  // of the running exchange.
  void CloseAfterFailure();

  // ---- CICE_Target.cpp ---------------------------------------------------
  // The configure command with the variant's core type.
  bool ConfigureCommand(uint32_t clock, uint32_t coreType, uint16_t voltage, bool flag,
                        uint32_t extra, bool checkEcho, ConfigInfo* info, bool* optionBit);

  // ---- CICE_Memory.cpp ---------------------------------------------------
  // Streamed transfers of one chunk each (locks held by the caller).
  void StreamReadChunk(uint32_t address, uint8_t* buffer, unsigned length, bool shadow);
  void StreamWriteChunk(uint32_t address, const uint8_t* data, unsigned length, bool shadow);
  virtual void ShadowReadBytes(uint32_t start, std::span<uint8_t> data);
  virtual void ShadowWriteBytes(uint32_t start, std::span<uint8_t> data);

  // ---- CICE_Breakpoints.cpp and the variants -----------------------------
  // Core-specific breakpoint primitives (defaults: not available).
  virtual bool SetSoftwareBreakpoint(uint32_t) { return false; }
  virtual void ClearSoftwareBreakpoint(uint32_t) {}
  virtual bool SetHardwareBreakpoint(uint32_t) { return false; }
  virtual void ClearHardwareBreakpoint(uint32_t) {}
  virtual bool SetThirdKindBreakpoint(uint32_t) { return false; }
  virtual void ClearThirdKindBreakpoint(uint32_t) {}
  // The clearer of `kind`; any other kind throws `unknownKind`.
  void ClearByKind(uint32_t address, int kind, const char* unknownKind);
  // Whether [address, address + length) may carry software breakpoints.
  virtual bool AcceptsSoftwareRange(uint32_t, unsigned length) { return length != 0; }
  // Instruction bytes of a software breakpoint (empty: none).
  virtual std::span<const uint8_t> GetBreakpointInstruction() { return {}; }

  // ---- CICE_Adapters.cpp -------------------------------------------------
  // Whether the variant's destructor must wait (semihosting or other long work).
  virtual bool IsBusy() { return false; }
  // Closes every adapter and waits until the variant is no longer busy, at
  // most kBusyWaitMs.
  static constexpr int kBusyWaitMs = 5000;
  void ShutDown();

  mutable CMutex2 m_cmdLock;
  ice::BreakpointTable m_breakpoints;
  int32_t m_nLastError = 0;
  // What the last handshake read (forgotten when another adapter is selected).
  uint32_t m_uFirmwareVersion = kUnknownFirmware;
  uint32_t m_uAdapterChipId = 0;
  bool m_bPro = false;
  ice::FirmwareFeatures m_features;
  int m_nFlashMode = 0;

 private:
  CUsbDiscovery m_discovery;
  int m_nSelectedSlot = -1;
  int m_nSelectedDevice = -1;
  std::map<std::string, std::string> m_params;
  IUserInteraction* m_pUI = nullptr;
  uint64_t m_nExchanges = 0;
  int m_nExchangeDepth = 0;
  bool m_bClosePending = false;
};

class CICE::AdapterLockScope {
 public:
  explicit AdapterLockScope(CICE& ice);
  ~AdapterLockScope();
  AdapterLockScope(const AdapterLockScope&) = delete;
  AdapterLockScope& operator=(const AdapterLockScope&) = delete;

 private:
  ScopedMutex m_lock;
  ExchangeScope m_exchange;
  UsbShareAreaList* m_pAreas = nullptr;  // locked while set
};
