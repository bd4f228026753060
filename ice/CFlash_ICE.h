// CFlash_ICE: the flash controller of the adapter's own microcontroller,
// driven through the adapter-memory batch command (0xFB) while the adapter
// runs its normal firmware. Constructing a family object opens flash
// access (register unlock, clock, control bits); destroying it closes it.
// Errors are thrown as CICEException with the controller's texts.
//
// Families: CFlash_ICE_Dessik (first generation, MCU classes 0 and 1),
// CFlash_ICE_Varsa (class 2) and CFlash_ICE_Quorle (class 3), whose
// boot-loader layout comes from its chip id and the adapter's answer.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "ice/AdapterParts.h"
#include "ice/CICE.h"

namespace ice {

// Waits and bounds of flash access; tests shorten them.
struct FlashTimings {
  std::chrono::milliseconds busyWait{8000};   // each wait for the busy flag
  std::chrono::milliseconds clockWait{20};    // after enabling the clock
  unsigned unlockAttempts = 20;               // register-unlock sequences tried
};

// Where a family keeps the boot loader, its second area, the configuration
// and the adapter ID.
struct BootLoaderLayout {
  uint32_t loaderBase = 0, loaderSize = 0;
  uint32_t secondBase = 0, secondSize = 0;  // size 0: no second area
  uint32_t configBase = 0;
  uint32_t idOffset = 0;                    // in the boot-loader area
};

// The family's registers and commands.
struct FlashFamilyRegs {
  uint32_t ctrlBase;      // control +0, address +4, data +8, command +0xC, trigger +0x10
  uint32_t busyAddr;      // bit 0 set while an operation runs
  uint32_t unlockAddr;
  bool unlockedIsOne;     // unlocked reads 1 (else: reads nonzero)
  uint32_t clockAddr, clockBit;
  uint32_t openBits;
  uint32_t optionAddr;    // 0 = none
  uint32_t pageSize;
};

inline constexpr uint32_t kFlashCmdRead = 0x00;
inline constexpr uint32_t kFlashCmdProgram = 0x21;
inline constexpr uint32_t kFlashCmdErasePage = 0x22;
inline constexpr uint32_t kFlashCmdEraseConfig = 0x24;
inline constexpr uint32_t kFlashCmdChipId = 0x0C;

class CFlash_ICE {
 public:
  virtual ~CFlash_ICE() = default;
  CFlash_ICE(const CFlash_ICE&) = delete;
  CFlash_ICE& operator=(const CFlash_ICE&) = delete;

  // Every family reads, programs and erases through the same controller
  // registers; a family overrides only what it does differently.
  virtual void SetOption(bool) {}
  virtual uint32_t ReadWord(uint32_t address) { return Operation(kFlashCmdRead, address, {}, true); }
  virtual void ErasePage(uint32_t address) { Operation(kFlashCmdErasePage, address, {}, false); }
  virtual void WriteWord(uint32_t address, uint32_t value) { Operation(kFlashCmdProgram, address, value, false); }
  virtual uint32_t PageSize() { return m_regs.pageSize; }
  virtual void UnlockRegisters() { Unlock(); }
  virtual void EnableClock(bool flag) { Clock(flag); }
  // The family's boot-loader layout.
  virtual BootLoaderLayout Layout() = 0;

 protected:
  CFlash_ICE(CICE& ice, const FlashFamilyRegs& regs, const FlashTimings& timings)
      : m_ice(ice), m_session(ice), m_regs(regs), m_timings(timings) {}

  // Opening and closing, called by the families' constructors and
  // destructors (where their overrides are in place).
  void Open();
  void Close() noexcept;
  // The shared implementations behind the virtual operations.
  void Unlock();
  void Clock(bool flag);
  // One flash operation; returns the data register when `wantValue`.
  uint32_t Operation(uint32_t command, uint32_t address, std::optional<uint32_t> data, bool wantValue);
  // Polls the busy flag (at most the busy wait); with `withResult` returns
  // {busy, control, data (when `wantValue`)} read once it cleared.
  std::vector<uint32_t> WaitIdle(bool withResult, bool wantValue);
  // Register access through the adapter-memory command.
  uint32_t ReadReg(uint32_t address);
  void WriteReg(uint32_t address, uint32_t value);
  // Sets (`set`) or clears the bits of `bits` and returns the word after.
  uint32_t MaskedWrite(uint32_t address, uint32_t bits, bool set);

  CICE& m_ice;
  // No other process's exchange comes between those of one flash session.
  CICE::AdapterLockScope m_session;
  FlashFamilyRegs m_regs;
  FlashTimings m_timings;
};

class CFlash_ICE_Dessik : public CFlash_ICE {
 public:
  static const FlashFamilyRegs kRegs;
  // `eightK`: the class-1 boot-loader area of 8 KiB (class 0: 4 KiB).
  CFlash_ICE_Dessik(CICE& ice, bool eightK, const FlashTimings& timings = {});
  ~CFlash_ICE_Dessik() override { Close(); }
  void SetOption(bool flag) override;
  BootLoaderLayout Layout() override;

 private:
  bool m_bEightK;
};

class CFlash_ICE_Varsa : public CFlash_ICE {
 public:
  static const FlashFamilyRegs kRegs;
  explicit CFlash_ICE_Varsa(CICE& ice, const FlashTimings& timings = {});
  ~CFlash_ICE_Varsa() override { Close(); }
  void SetOption(bool flag) override;
  BootLoaderLayout Layout() override;
};

class CFlash_ICE_Quorle : public CFlash_ICE {
 public:
  static const FlashFamilyRegs kRegs;
  explicit CFlash_ICE_Quorle(CICE& ice, const FlashTimings& timings = {});
  ~CFlash_ICE_Quorle() override { Close(); }
  // The configuration page takes its own erase command.
  void ErasePage(uint32_t address) override;
  // From the chip id (command 0x0C) and the adapter's layout answer; throws
  // "Unknown chip type!" for a chip outside the family's table and when the
  // adapter's answer does not fit the part.
  BootLoaderLayout Layout() override;
  uint32_t ReadChipId() { return Operation(kFlashCmdChipId, 0, {}, true); }
};

// The family object of an adapter MCU class (0 to 3), flash access open.
std::unique_ptr<CFlash_ICE> OpenAdapterFlash(CICE& ice, McuClass mcuClass, const FlashTimings& timings = {});

// Where the adapter ID lies: the word at the family's ID offset of the
// boot-loader area (classes 0 and 1: 0x00100010, 2: 0x0010001C, 3:
// 0x0F100020).
uint32_t AdapterIdAddress(McuClass mcuClass);

// The adapter ID read with the flash controller's read command in one flash
// session (open, read, close).
uint32_t ReadAdapterIdThroughFlash(CICE& ice, McuClass mcuClass, const FlashTimings& timings = {});

}  // namespace ice
