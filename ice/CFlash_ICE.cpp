#include "ice/CFlash_ICE.h"

#include <thread>
#include <vector>

#include "ice/AdapterParts.h"
#include "ice/CICE.h"
#include "ice/ICEProtocol.h"
#include "platform/StringTable.h"

namespace ice {
namespace {

constexpr uint32_t kCtrlEnable = 0x01;
constexpr uint32_t kCtrlError = 0x40;
constexpr uint32_t kUnlockKeys[3] = {0x59, 0x16, 0x88};

// Firmware registers (adapter-register command) that describe the
// boot-loader layout.
constexpr uint32_t kRegLoaderBase = 0x0C, kRegLoaderSize = 0x10;
constexpr uint32_t kRegLoader2Base = 0x14, kRegLoader2Size = 0x18;

constexpr const char* kCanNotEnable = "Can not enable flash operator.";
constexpr const char* kCanNotWait = "Can not wait flash command.";

struct Entry {
  uint32_t address, value, mask;
};

// Every entry through the adapter-memory command, in as many commands as
// the adapter takes; returns each entry's word after it was applied.
std::vector<uint32_t> Batch(CICE& ice, const std::vector<Entry>& entries) {
  std::vector<uint32_t> addresses, values, masks, after(entries.size());
  for (const Entry& e : entries) {
    addresses.push_back(e.address);
    values.push_back(e.value);
    masks.push_back(e.mask);
  }
  for (size_t done = 0; done < entries.size();) {
    const unsigned n = ice.MultiAccess(ice::kCmdIceMemMulti, static_cast<unsigned>(entries.size() - done),
                                       addresses.data() + done, values.data() + done, masks.data() + done,
                                       nullptr, after.data() + done);
    if (n == 0) throw CICEException(text::kFlashCommandFailed);
    done += n;
  }
  return after;
}

}  // namespace

// ---- register access --------------------------------------------------------

uint32_t CFlash_ICE::ReadReg(uint32_t address) { return Batch(m_ice, {{address, 0, 0xFFFFFFFFu}})[0]; }

void CFlash_ICE::WriteReg(uint32_t address, uint32_t value) { Batch(m_ice, {{address, value, 0}}); }

uint32_t CFlash_ICE::MaskedWrite(uint32_t address, uint32_t bits, bool set) {
  return Batch(m_ice, {{address, set ? bits : 0, ~bits}})[0];
}

// ---- opening and closing ------------------------------------------------------

void CFlash_ICE::Unlock() {
  for (unsigned attempt = 0; attempt < m_timings.unlockAttempts; ++attempt) {
    Batch(m_ice, {{m_regs.unlockAddr, kUnlockKeys[0], 0},
                  {m_regs.unlockAddr, kUnlockKeys[1], 0},
                  {m_regs.unlockAddr, kUnlockKeys[2], 0}});
    const uint32_t state = ReadReg(m_regs.unlockAddr);
    if (m_regs.unlockedIsOne ? state == 1 : state != 0) return;
  }
  // The adapter never unlocked: the flash operator cannot be enabled.
  throw CICEException(kCanNotEnable);
}

void CFlash_ICE::Clock(bool flag) {
  MaskedWrite(m_regs.clockAddr, m_regs.clockBit, flag);
  if (flag) std::this_thread::sleep_for(m_timings.clockWait);
}

void CFlash_ICE::Open() {
  try {
    UnlockRegisters();
    EnableClock(true);
    const uint32_t ctrl = MaskedWrite(m_regs.ctrlBase, m_regs.openBits, true);
    if ((ctrl & kCtrlEnable) == 0) throw CICEException(kCanNotEnable);
  } catch (...) {
    Close();  // no destructor runs for an object that failed to open
    throw;
  }
}

void CFlash_ICE::Close() noexcept {
  try {
    UnlockRegisters();
    MaskedWrite(m_regs.ctrlBase, m_regs.openBits, false);
  } catch (...) {
    // Closing must not fail: the adapter may already be gone.
  }
}

// ---- operations ----------------------------------------------------------------

std::vector<uint32_t> CFlash_ICE::WaitIdle(bool withResult, bool wantValue) {
  // The busy flag is read first in each poll; once it reads clear, the
  // control and data registers read in the same command hold the result.
  std::vector<Entry> poll = {{m_regs.busyAddr, 0, 0xFFFFFFFFu}};
  if (withResult) poll.push_back({m_regs.ctrlBase, 0, 0xFFFFFFFFu});
  if (withResult && wantValue) poll.push_back({m_regs.ctrlBase + 8, 0, 0xFFFFFFFFu});
  const auto deadline = std::chrono::steady_clock::now() + m_timings.busyWait;
  for (;;) {
    std::vector<uint32_t> got = Batch(m_ice, poll);
    if ((got[0] & 1) == 0) return got;
    if (std::chrono::steady_clock::now() >= deadline) throw CICEException(kCanNotWait);
    std::this_thread::sleep_for(std::chrono::microseconds(100));
  }
}

uint32_t CFlash_ICE::Operation(uint32_t command, uint32_t address, std::optional<uint32_t> data, bool wantValue) {
  WaitIdle(false, false);
  std::vector<Entry> start = {{m_regs.ctrlBase + 0xC, command, 0}, {m_regs.ctrlBase + 4, address, 0}};
  if (data) start.push_back({m_regs.ctrlBase + 8, *data, 0});
  start.push_back({m_regs.ctrlBase + 0x10, 1, 0});
  Batch(m_ice, start);
  const std::vector<uint32_t> got = WaitIdle(true, wantValue);
  if (got[1] & kCtrlError) {
    WriteReg(m_regs.ctrlBase, got[1]);  // the error bit clears when written as 1
    throw CICEException(text::kFlashCommandFailed);
  }
  return wantValue ? got[2] : 0;
}

// ---- families --------------------------------------------------------------------

const FlashFamilyRegs CFlash_ICE_Dessik::kRegs = {0x5000C000, 0x5000C010, 0x50000100, true, 0x50000200,
                                                   1u << 4,    0x31,       0x5000C01C, 512};
const FlashFamilyRegs CFlash_ICE_Varsa::kRegs = {0x4000C000, 0x4000C0C0, 0x40000100, true, 0x40000200,
                                                  1u << 2,    0x35,       0x4000C01C, 4096};
const FlashFamilyRegs CFlash_ICE_Quorle::kRegs = {0x40044000, 0x40044040, 0x40000100, false, 0x40001000,
                                                   1u << 3,    0x39,       0,          8192};

CFlash_ICE_Dessik::CFlash_ICE_Dessik(CICE& ice, bool eightK, const FlashTimings& timings)
    : CFlash_ICE(ice, kRegs, timings), m_bEightK(eightK) {
  Open();
}

void CFlash_ICE_Dessik::SetOption(bool flag) { WriteReg(m_regs.optionAddr, flag ? 1 : 0); }

BootLoaderLayout CFlash_ICE_Dessik::Layout() {
  return {0x00100000, m_bEightK ? 8192u : 4096u, 0, 0, 0x00300000, 16};
}

CFlash_ICE_Varsa::CFlash_ICE_Varsa(CICE& ice, const FlashTimings& timings) : CFlash_ICE(ice, kRegs, timings) {
  Open();
}

void CFlash_ICE_Varsa::SetOption(bool flag) { WriteReg(m_regs.optionAddr, flag ? 1 : 0); }

BootLoaderLayout CFlash_ICE_Varsa::Layout() { return {0x00100000, 4096, 0x00200000, 4096, 0x00300000, 28}; }

CFlash_ICE_Quorle::CFlash_ICE_Quorle(CICE& ice, const FlashTimings& timings) : CFlash_ICE(ice, kRegs, timings) {
  Open();
}

void CFlash_ICE_Quorle::ErasePage(uint32_t address) {
  const bool config = address >= 0x0F300000 && address <= 0x0F300034;
  Operation(config ? kFlashCmdEraseConfig : kFlashCmdErasePage, address, {}, false);
}

BootLoaderLayout CFlash_ICE_Quorle::Layout() {
  const AdapterPart* part = FindAdapterPart(ReadChipId());
  if (!part || part->mcuClass != McuClass::Third) throw CICEException(text::kUnknownChipType);
  BootLoaderLayout l;
  l.loaderBase = m_ice.ReadICEReg(kRegLoaderBase);
  l.loaderSize = m_ice.ReadICEReg(kRegLoaderSize);
  l.secondBase = m_ice.ReadICEReg(kRegLoader2Base);
  l.secondSize = m_ice.ReadICEReg(kRegLoader2Size);
  l.configBase = 0x0F300000;
  l.idOffset = 32;
  // The adapter's answer must lie in the part's boot-loader region, in
  // whole pages, with room for the adapter ID.
  const uint64_t regionEnd = uint64_t{part->loaderRegionBase} + part->loaderRegionSize;
  auto fits = [&](uint32_t base, uint32_t size) {
    return base >= part->loaderRegionBase && uint64_t{base} + size <= regionEnd && base % kRegs.pageSize == 0 &&
           size % kRegs.pageSize == 0;
  };
  const bool overlap = l.secondSize != 0 && uint64_t{l.secondBase} < uint64_t{l.loaderBase} + l.loaderSize &&
                       uint64_t{l.loaderBase} < uint64_t{l.secondBase} + l.secondSize;
  if (l.loaderSize < l.idOffset + 4 || !fits(l.loaderBase, l.loaderSize) ||
      (l.secondSize != 0 && !fits(l.secondBase, l.secondSize)) || overlap)
    throw CICEException(text::kUnknownChipType);
  if (l.secondSize == 0) l.secondBase = 0;
  return l;
}

std::unique_ptr<CFlash_ICE> OpenAdapterFlash(CICE& ice, McuClass mcuClass, const FlashTimings& timings) {
  switch (mcuClass) {
    case McuClass::First0:
    case McuClass::First1: return std::make_unique<CFlash_ICE_Dessik>(ice, mcuClass == McuClass::First1, timings);
    case McuClass::Second: return std::make_unique<CFlash_ICE_Varsa>(ice, timings);
    case McuClass::Third: return std::make_unique<CFlash_ICE_Quorle>(ice, timings);
    default: throw CICEException(text::kUnknownChipType);
  }
}

uint32_t AdapterIdAddress(McuClass mcuClass) {
  switch (mcuClass) {
    case McuClass::First0:
    case McuClass::First1: return 0x00100010;
    case McuClass::Second: return 0x0010001C;
    case McuClass::Third: return 0x0F100020;
    default: throw CICEException(text::kUnknownChipType);
  }
}

uint32_t ReadAdapterIdThroughFlash(CICE& ice, McuClass mcuClass, const FlashTimings& timings) {
  const uint32_t address = AdapterIdAddress(mcuClass);
  return OpenAdapterFlash(ice, mcuClass, timings)->ReadWord(address);
}

}  // namespace ice
