#include "sim/AdapterMcu.h"

#include <algorithm>
#include <cstring>

#include "sim/Images.h"

namespace sim {
namespace {

constexpr uint32_t kCtrlEnable = 0x01;
constexpr uint32_t kCtrlApromEnable = 0x08;
constexpr uint32_t kCtrlSecondEnable = 0x04;
constexpr uint32_t kCtrlConfigEnable = 0x10;
constexpr uint32_t kCtrlLoaderEnable = 0x20;
constexpr uint32_t kCtrlError = 0x40;
constexpr uint32_t kRamBase = 0x20000000, kRamSize = 0x8000;

constexpr FlashFamily kDessik4K{"Dessik", 0x5000C000, 0x5000C010, 0x50000100, 0x50000200, 1u << 4, 0x31,
                                0x5000C01C, 512,  0x20000,    0x00100000, 4096, 0, 0, 0x00300000, 16};
constexpr FlashFamily kDessik8K{"Dessik", 0x5000C000, 0x5000C010, 0x50000100, 0x50000200, 1u << 4, 0x31,
                                0x5000C01C, 512,  0x20000,    0x00100000, 8192, 0, 0, 0x00300000, 16};
constexpr FlashFamily kVarsa{"Varsa",  0x4000C000, 0x4000C0C0, 0x40000100, 0x40000200, 1u << 2, 0x35,
                             0x4000C01C, 4096, 0x40000,    0x00100000, 4096, 0x00200000, 4096, 0x00300000, 28};
constexpr FlashFamily kQuorle{"Quorle", 0x40044000, 0x40044040, 0x40000100, 0x40001000, 1u << 3, 0x39,
                              0,          8192, 0x80000,    0x0F100000, 8192, 0x0F102000, 8192, 0x0F300000, 32};

constexpr uint32_t kLedWord0 = 0x50004048;
constexpr uint32_t kInputWord0 = 0x50004010;
// Pin words of the four lights, generations 1 and 2 (word = base + 4 * pin).
constexpr uint32_t kLedPinBase1 = 0x40004800;
constexpr uint32_t kLedPinBase2 = 0x40229800;
constexpr uint32_t kLedPins1[4] = {84, 38, 25, 24};
constexpr uint32_t kLedPins2[4] = {33, 32, 146, 111};

void PutWord(std::vector<uint8_t>& v, uint32_t off, uint32_t w) {
  for (int i = 0; i < 4; ++i) v[off + i] = static_cast<uint8_t>(w >> (8 * i));
}

}  // namespace

int FlashClass(uint32_t chipId, int generation) {
  const int mcuClass = McuClass(chipId);
  if (mcuClass <= 3) return mcuClass;
  // A chip the update does not know still has its generation's flash.
  return generation <= 0 ? 0 : generation == 1 ? 2 : 3;
}

const FlashFamily& FamilyOf(int mcuClass) {
  switch (mcuClass) {
    case 0: return kDessik4K;
    case 1: return kDessik8K;
    case 2: return kVarsa;
    default: return kQuorle;
  }
}

AdapterMcu::AdapterMcu(const AdapterConfig& cfg)
    : m_class(FlashClass(cfg.chipId, cfg.generation)),
      m_family(FamilyOf(m_class)),
      m_chipId(cfg.chipId),
      m_generation(cfg.generation),
      m_flashOpTime(cfg.flashOpUs) {
  m_aprom.assign(m_family.apromSize, 0xFF);
  const auto app = images::MakeAppImage(m_class, cfg.firmwareVersion, cfg.revision);
  std::copy(app.begin(), app.end(), m_aprom.begin());
  m_loader.assign(m_family.loaderSize, 0xFF);
  auto ld = images::MakeLoaderImage(m_class, false);
  std::copy_n(ld.begin(), std::min(ld.size(), m_loader.size()), m_loader.begin());
  if (!cfg.loaderCurrent) PutWord(m_loader, 0x40, images::WordAt(m_loader, 0x40 / 4) ^ 0x00010000);  // an older build
  PutWord(m_loader, m_family.idOffset, cfg.adapterId);
  if (m_family.loader2Size) {
    m_loader2.assign(m_family.loader2Size, 0xFF);
    auto ld2 = images::MakeLoaderImage(m_class, true);
    std::copy_n(ld2.begin(), std::min(ld2.size(), m_loader2.size()), m_loader2.begin());
  }
  m_config.assign(m_family.pageSize, 0xFF);
  std::vector<uint32_t> words(14, 0xFFFFFFFF);
  if (m_class == 3) {
    words[0] = 0xFFFFFF7F;
    words[1] = images::kDefaultDataFlashStart;
    words[3] = 0xFFFFE2FF;
    words[11] = 0xFFFFFF5A;
    words[13] = 0xFFFFFF00;
  } else {
    words[0] = 0xFFFFFF7C;
    words[1] = images::kDefaultDataFlashStart;
  }
  SetConfigWords(words);
  m_ram.assign(kRamSize, 0);
  m_regions = {{0, &m_aprom, kCtrlApromEnable},
               {m_family.loaderBase, &m_loader, kCtrlLoaderEnable},
               {m_family.configBase, &m_config, kCtrlConfigEnable}};
  if (m_family.loader2Size)
    m_regions.push_back({m_family.loader2Base, &m_loader2, m_class == 2 ? kCtrlSecondEnable : kCtrlLoaderEnable});
  // Indicator and input words.
  if (m_generation == 0) {
    m_words[kLedWord0] = 0;
    m_words[0x50004110] = 0x20;
    m_words[0x50004050] = 0;
  }
  SetIceMode(cfg.iceMode);
}

void AdapterMcu::SetIceMode(bool ice) {
  if (m_generation == 0) m_words[kInputWord0] = ice ? 0x3 : 0x1;
}

std::vector<uint32_t> AdapterMcu::ConfigWords() const {
  std::vector<uint32_t> w(14);
  for (size_t i = 0; i < w.size(); ++i) w[i] = images::WordAt(m_config, i);
  return w;
}

void AdapterMcu::SetConfigWords(const std::vector<uint32_t>& words) {
  std::fill(m_config.begin(), m_config.end(), 0xFF);
  for (size_t i = 0; i < words.size() && 4 * i + 4 <= m_config.size(); ++i)
    PutWord(m_config, static_cast<uint32_t>(4 * i), words[i]);
}

uint32_t AdapterMcu::AdapterId() const { return images::WordAt(m_loader, m_family.idOffset / 4); }

bool AdapterMcu::LoaderAccess() const {
  const uint32_t word0 = images::WordAt(m_config, 0);
  return m_class == 3 ? (word0 & 0x80) == 0 : (word0 & 0x80) != 0;
}

bool AdapterMcu::Ready() const { return !(m_ctrl & kCtrlEnable) && SimClock::now() >= m_readyAt; }

void AdapterMcu::OnRestart() {
  m_ctrl = 0;
  m_unlocked = false;
  m_unlockStep = 0;
  m_loaderDirty = false;
  m_touchedThisOpen = false;
  m_runState = 0;
  m_readyAt = SimClock::now();
}

AdapterMcu::Restart AdapterMcu::TakeRestart() {
  const Restart r = m_restart;
  m_restart = Restart::None;
  return r;
}

AdapterMcu::Region* AdapterMcu::FindRegion(uint32_t a, uint32_t len) {
  for (auto& r : m_regions)
    if (a >= r.base && a - r.base < r.bytes->size() && len <= r.bytes->size() - (a - r.base)) return &r;
  return nullptr;
}

uint32_t AdapterMcu::FlashWord(const Region& r, uint32_t a) const {
  uint32_t v = 0;
  std::memcpy(&v, r.bytes->data() + (a - r.base), 4);
  return v;
}

void AdapterMcu::FlashCommand() {
  bool ok = true;
  if (FlashBusy()) {  // a trigger while an operation runs is refused
    m_ctrl |= kCtrlError;
    return;
  }
  m_busyUntil = SimClock::now() + m_flashOpTime;
  const bool quorleConfig = m_class == 3 && m_addr >= 0x0F300000 && m_addr <= 0x0F300034;
  Region* r = FindRegion(m_addr & ~3u, 4);
  if (!(m_clock & m_family.clockBit)) ok = false;
  else if (m_cmd == 0x0C) m_data = m_chipId;
  else if (!r || (m_addr & 3)) ok = false;
  else if (m_cmd == 0x00) m_data = FlashWord(*r, m_addr);
  else if (m_cmd == 0x21 || m_cmd == 0x22 || (m_cmd == 0x24 && quorleConfig)) {
    const bool loaderArea = r->bytes == &m_loader || r->bytes == &m_loader2;
    if (!(m_ctrl & r->enableBit) || (m_cmd == 0x22 && quorleConfig) || (loaderArea && !LoaderAccess())) {
      ok = false;
    } else {
      uint8_t* p = r->bytes->data() + (m_addr - r->base);
      if (m_cmd == 0x21) {
        for (int i = 0; i < 4; ++i) p[i] &= static_cast<uint8_t>(m_data >> (8 * i));
      } else {
        const uint32_t page = (m_addr - r->base) & ~(m_family.pageSize - 1);
        const uint32_t end = std::min<uint32_t>(page + m_family.pageSize, static_cast<uint32_t>(r->bytes->size()));
        std::fill(r->bytes->begin() + page, r->bytes->begin() + end, 0xFF);
      }
      if (r->bytes == &m_loader || r->bytes == &m_loader2) {
        m_loaderDirty = true;
        m_touchedThisOpen = true;
      }
    }
  } else {
    ok = false;
  }
  if (!ok) m_ctrl |= kCtrlError;
}

uint32_t AdapterMcu::ReadMem(uint32_t a, uint32_t& v) {
  a &= ~3u;
  const FlashFamily& f = m_family;
  if (a == f.unlockAddr) v = m_unlocked ? 1 : 0;
  else if (a == f.clockAddr) v = m_clock;
  else if (a == f.ctrlBase) v = m_ctrl;
  else if (a == f.ctrlBase + 4) v = m_addr;
  else if (a == f.ctrlBase + 8) v = FlashBusy() ? 0 : m_data;  // no result before the operation ends
  else if (a == f.ctrlBase + 0xC) v = m_cmd;
  else if (a == f.ctrlBase + 0x10 || a == f.busyAddr) v = FlashBusy() ? 1 : 0;
  else if (f.optionAddr && a == f.optionAddr) v = m_option;
  // Only the application area is mapped into the address space; the
  // boot-loader, second and configuration areas are reached through the
  // controller alone, and a plain read there finds nothing (all ones).
  else if (Region* r = FindRegion(a, 4)) v = r->bytes == &m_aprom ? FlashWord(*r, a) : 0xFFFFFFFFu;
  else if (a >= kRamBase && a < kRamBase + kRamSize) std::memcpy(&v, &m_ram[a - kRamBase], 4);
  else {
    auto it = m_words.find(a);
    v = it == m_words.end() ? 0 : it->second;
  }
  return kErrOk;
}

uint32_t AdapterMcu::WriteMem(uint32_t a, uint32_t v) {
  a &= ~3u;
  const FlashFamily& f = m_family;
  if (a == f.unlockAddr) {
    static constexpr uint32_t kKey[3] = {0x59, 0x16, 0x88};
    if (v == kKey[m_unlockStep]) {
      if (++m_unlockStep == 3 && m_unlockRefused) {
        m_unlockStep = 0;
      } else if (m_unlockStep == 3) {
        m_unlocked = true;
        m_unlockStep = 0;
      }
    } else {
      m_unlockStep = v == kKey[0] ? 1 : 0;
      if (v != kKey[0]) m_unlocked = false;
    }
  } else if (a == f.clockAddr) {
    if (m_unlocked) m_clock = v;
  } else if (a == f.ctrlBase) {
    if (!m_unlocked) return kErrOk;
    const bool wasOpen = m_ctrl & kCtrlEnable;
    const uint32_t err = (m_ctrl & kCtrlError) & ~(v & kCtrlError);  // error bit: write 1 to clear
    m_ctrl = (v & ~kCtrlError) | err;
    if ((m_ctrl & kCtrlEnable) && !(m_clock & f.clockBit)) m_ctrl &= ~kCtrlEnable;
    const bool open = m_ctrl & kCtrlEnable;
    if (!wasOpen && open) m_touchedThisOpen = false;
    if (wasOpen && !open && m_touchedThisOpen) m_readyAt = SimClock::now() + m_settle;
  } else if (a == f.ctrlBase + 4) {
    m_addr = v;
  } else if (a == f.ctrlBase + 8) {
    m_data = v;
  } else if (a == f.ctrlBase + 0xC) {
    m_cmd = v;
  } else if (a == f.ctrlBase + 0x10) {
    if ((v & 1) && (m_ctrl & kCtrlEnable)) FlashCommand();
  } else if (f.optionAddr && a == f.optionAddr) {
    m_option = v;
  } else if (FindRegion(a, 4)) {
    // flash changes only through the controller
  } else if (a >= kRamBase && a < kRamBase + kRamSize) {
    std::memcpy(&m_ram[a - kRamBase], &v, 4);
  } else {
    m_words[a] = v;
  }
  return kErrOk;
}

void AdapterMcu::NoteLeds() {
  const uint32_t leds = Leds();
  if (leds == m_ledsNoted) return;
  m_ledsNoted = leds;
  ++m_ledChanges;
  m_ledLog.push_back({SimClock::now(), leds});
  if (m_ledLog.size() > kLedLogSize) m_ledLog.pop_front();
}

uint32_t AdapterMcu::Leds() const {
  auto word = [this](uint32_t a) {
    const auto it = m_words.find(a);
    return it == m_words.end() ? 0u : it->second;
  };
  if (m_generation == 0) return (word(kLedWord0) >> 4) & 0xF;
  const uint32_t base = m_generation == 1 ? kLedPinBase1 : kLedPinBase2;
  const uint32_t* pins = m_generation == 1 ? kLedPins1 : kLedPins2;
  uint32_t bits = 0;
  for (int i = 0; i < 4; ++i)
    if (word(base + 4 * pins[i]) != 0) bits |= 1u << i;
  return bits;
}

uint32_t AdapterMcu::ReadReg(uint32_t a, uint32_t& v) {
  switch (a) {
    case kRegSysState:
      v = (Ready() ? 1u : 0u) | (m_loaderDirty ? 2u : 0u) | ((m_ctrl & kCtrlEnable) ? 4u : 0u);
      return kErrOk;
    case kRegRunState: v = m_runState; return kErrOk;
    case kRegRestart: v = 0; return kErrOk;
    case kRegLoaderBase: v = m_family.loaderBase; return kErrOk;
    case kRegLoaderSize: v = m_family.loaderSize; return kErrOk;
    case kRegLoader2Base: v = m_family.loader2Size ? m_family.loader2Base : 0; return kErrOk;
    case kRegLoader2Size: v = m_family.loader2Size; return kErrOk;
    case kRegConfigBase: v = m_family.configBase; return kErrOk;
    case kRegIdOffset: v = m_family.idOffset; return kErrOk;
    case kRegFirmwareVersion: v = images::ReadAppInfo(m_aprom).version; return kErrOk;
    default: return kErrGetReg;
  }
}

uint32_t AdapterMcu::WriteReg(uint32_t a, uint32_t v) {
  switch (a) {
    case kRegRunState: m_runState = v; return kErrOk;
    case kRegRestart:
      if (v == kRestartToLoader) m_restart = Restart::ToLoader;
      else if (v == kRestartApplication) m_restart = Restart::Application;
      return kErrOk;
    case kRegSysState:
    case kRegLoaderBase:
    case kRegLoaderSize:
    case kRegLoader2Base:
    case kRegLoader2Size:
    case kRegConfigBase:
    case kRegIdOffset:
    case kRegFirmwareVersion: return kErrOk;  // read-only
    default: return kErrSetReg;
  }
}

}  // namespace sim
