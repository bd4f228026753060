// The adapter's own microcontroller as the adapter-memory (0xFB) and
// adapter-register (0xFE) multi-access commands see it: its flash (the
// application, the boot-loader areas with the adapter ID, the configuration
// area) behind the flash controller of its MCU family, the indicator and
// input words, and the firmware's own registers (state, restart requests and
// the boot-loader layout). README.md documents the map.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <vector>

#include "sim/SimConfig.h"
#include "sim/Target.h"

namespace sim {

struct FlashFamily {
  const char* name;
  uint32_t ctrlBase;     // control +0, address +4, data +8, command +0xC, trigger +0x10
  uint32_t busyAddr;
  uint32_t unlockAddr;
  uint32_t clockAddr;
  uint32_t clockBit;
  uint32_t openBits;     // control bits the host sets when opening
  uint32_t optionAddr;   // 0 = none
  uint32_t pageSize;
  uint32_t apromSize;
  uint32_t loaderBase, loaderSize;
  uint32_t loader2Base, loader2Size;  // size 0 = none
  uint32_t configBase;
  uint32_t idOffset;
};

const FlashFamily& FamilyOf(int mcuClass);
// The flash family (as an MCU class 0 to 3) of an adapter: its chip id's
// class, else its generation's family (0: first, 1: second, 2: third).
int FlashClass(uint32_t chipId, int generation);

// Firmware registers (kind 0xFE).
enum : uint32_t {
  kRegSysState = 0x00,    // bit 0 ready, bit 1 boot loader changed, bit 2 flash controller enabled
  kRegRunState = 0x04,    // 0 normal, 1 service (any value is kept)
  kRegRestart = 0x08,     // write kRestartToLoader or kRestartApplication
  kRegLoaderBase = 0x0C,
  kRegLoaderSize = 0x10,
  kRegLoader2Base = 0x14,
  kRegLoader2Size = 0x18,
  kRegConfigBase = 0x1C,
  kRegIdOffset = 0x20,
  kRegFirmwareVersion = 0x24,
};
inline constexpr uint32_t kRestartToLoader = 0x5AA5B007;
inline constexpr uint32_t kRestartApplication = 0x5AA5A55A;

class AdapterMcu {
 public:
  explicit AdapterMcu(const AdapterConfig& config);

  int McuClass() const { return m_class; }
  const FlashFamily& Family() const { return m_family; }
  uint32_t ChipId() const { return m_chipId; }

  uint32_t ReadMem(uint32_t address, uint32_t& value);
  uint32_t WriteMem(uint32_t address, uint32_t value);
  uint32_t ReadReg(uint32_t address, uint32_t& value);
  uint32_t WriteReg(uint32_t address, uint32_t value);

  enum class Restart { None, ToLoader, Application };
  Restart TakeRestart();

  // Flash as the boot loader sees it.
  std::vector<uint8_t>& Aprom() { return m_aprom; }
  std::vector<uint32_t> ConfigWords() const;
  void SetConfigWords(const std::vector<uint32_t>& words);
  uint32_t AdapterId() const;

  // How long a flash operation keeps the busy flag set; `stuck`: the flag
  // never clears; `refuse`: the registers never unlock (faults for tests).
  void SetFlashOpTime(std::chrono::microseconds t) { m_flashOpTime = t; }
  void SetFlashStuck(bool stuck) { m_flashStuck = stuck; }
  void SetUnlockRefused(bool refuse) {
    m_unlockRefused = refuse;
    if (refuse) m_unlocked = false;
  }
  bool FlashBusy() const { return m_flashStuck || SimClock::now() < m_busyUntil; }
  // Whether configuration word 0 allows program and erase in the
  // boot-loader areas (bit 7 set; third family: clear).
  bool LoaderAccess() const;

  // Settle time after the boot-loader area changed (see README.md).
  void SetSettleTime(std::chrono::milliseconds t) { m_settle = t; }
  bool Ready() const;
  void SetIceMode(bool ice);
  // Called when the adapter restarts: flash access closes, the registers lock.
  void OnRestart();

  // The four indicator lights (bit i = light i on), from the indicator
  // word (generation 0) or the four pin words (generations 1 and 2).
  uint32_t Leds() const;
  struct LedChange {
    SimClock::time_point when;
    uint32_t leds;
  };
  static constexpr size_t kLedLogSize = 32;
  // The last kLedLogSize changes of the lights, oldest first, and how many
  // changes there were since start.
  const std::deque<LedChange>& LedLog() const { return m_ledLog; }
  uint64_t LedChanges() const { return m_ledChanges; }
  // Logs the lights when they differ from the last state logged (the
  // firmware calls it after each adapter-memory command).
  void NoteLeds();

 private:
  struct Region {
    uint32_t base;
    std::vector<uint8_t>* bytes;
    uint32_t enableBit;  // control bit that allows program and erase
  };
  Region* FindRegion(uint32_t address, uint32_t length);
  void FlashCommand();
  uint32_t FlashWord(const Region& r, uint32_t address) const;

  int m_class;
  FlashFamily m_family;
  uint32_t m_chipId;
  int m_generation;
  std::vector<uint8_t> m_aprom, m_loader, m_loader2, m_config, m_ram;
  std::vector<Region> m_regions;
  std::map<uint32_t, uint32_t> m_words;  // other words of the MCU
  std::deque<LedChange> m_ledLog;
  uint64_t m_ledChanges = 0;
  uint32_t m_ledsNoted = 0;
  bool m_unlocked = false;
  int m_unlockStep = 0;
  uint32_t m_ctrl = 0, m_addr = 0, m_data = 0, m_cmd = 0, m_option = 0;
  uint32_t m_clock = 0;
  bool m_loaderDirty = false;
  bool m_touchedThisOpen = false;
  uint32_t m_runState = 0;
  Restart m_restart = Restart::None;
  SimClock::time_point m_readyAt{};
  std::chrono::milliseconds m_settle{300};
  std::chrono::microseconds m_flashOpTime{20};
  SimClock::time_point m_busyUntil{};
  bool m_flashStuck = false;
  bool m_unlockRefused = false;
};

}  // namespace sim
