#include "ice/ICEProtocol.h"

#include <cstdio>

namespace ice {

namespace {
constexpr const char* kErrorTexts[] = {
    "OK",
    "Open USB error",
    "Read USB error",
    "Write USB error",
    "Get register data error",
    "Set register data error",
    "Wait core register access timeout",
    "Wait mcu stop error",
    "Wait mcu reset timeout",
    "Write flash data error",
    "Read flash data error",
    "Flash page erase error",
    "Flash chip erase error",
    "Call un-implemented function",
    "Access invalid flash address or data",
    "Invalid chip id",
    "No device connected",
};
}  // namespace

const char* AdapterErrorText(uint32_t code) {
  return code < std::size(kErrorTexts) ? kErrorTexts[code] : nullptr;
}

std::string CmdErrorMessage(uint32_t code) {
  char text[128];
  if (const char* t = AdapterErrorText(code))
    std::snprintf(text, sizeof text, "ICE: Cmd error - %s.", t);
  else
    std::snprintf(text, sizeof text, "ICE: Cmd error - %d.", static_cast<int>(code));
  return text;
}

CommandRecord& CommandRecord::Word(uint32_t v) {
  const size_t at = m_bytes.size();
  m_bytes.resize(at + 4);
  PutLE32(m_bytes.data() + at, v);
  return *this;
}

CommandRecord& CommandRecord::Byte(uint8_t v) {
  m_bytes.push_back(v);
  return *this;
}

CommandRecord& CommandRecord::Bytes(const void* data, size_t n) {
  const auto* p = static_cast<const uint8_t*>(data);
  if (n) m_bytes.insert(m_bytes.end(), p, p + n);
  return *this;
}

CommandRecord& CommandRecord::PadTo(size_t size) {
  if (m_bytes.size() < size) m_bytes.resize(size, 0);
  return *this;
}

unsigned PayloadSizeFor(unsigned packetSize, int generation) {
  const unsigned header = generation == kGeneration0 ? 2 : 3;
  return packetSize > header ? packetSize - header : 0;
}

unsigned MultiAccessLimitFor(const FirmwareFeatures& features, unsigned payload) {
  if (!features.bWideMultiAccess) return 4;
  const unsigned n = payload > 8 ? (payload - 8) / 12 : 0;
  return n < kMultiAccessMaxEntries ? n : kMultiAccessMaxEntries;
}

uint32_t RoundClock(uint32_t clock) {
  if (clock < 100) return clock / 10 * 10;
  if (clock < 1000) return clock / 100 * 100;
  if (clock == 1500 || clock == 1536) return 1500;
  return clock / 1000 * 1000;
}

uint32_t NormaliseClock(uint32_t clock, int generation) {
  uint32_t lo = 0, hi = 0;
  switch (generation) {
    case kGeneration2: lo = 100, hi = 32000; break;
    case kGeneration1: lo = 10, hi = 38000; break;
    case kGeneration0: lo = 100, hi = 12000; break;
    default: return RoundClock(clock);
  }
  if (clock > hi) return hi;
  if (clock < lo) return lo;
  return RoundClock(clock);
}

int DesignIdFor(const FirmwareFeatures& features, uint32_t flags) {
  if (features.uDesignIdBits == 0) return DESIGN_ID_NONE;
  return static_cast<int>(flags & features.uDesignIdBits);
}

AdapterName AdapterNameFor(int generation, int designId, bool pro,
                           const FirmwareFeatures& features) {
  switch (generation) {
    case kGeneration2:
      if (designId == 1) return {"Vo-Link3-Pro", 31, 15};
      return {"", 0, 0};
    case kGeneration1:
      switch (designId) {
        case DESIGN_ID_VOLINK2_ME: return {"Vo-Link2", 8, 0};
        case DESIGN_ID_VOLINK2: return {"Vo-Link2", 0, 12};
        case DESIGN_ID_VOTRACE: return {"Vo-Trace", 7, 15};
        case DESIGN_ID_VOLINK2_PRO: return {"Vo-Link2-Pro", features.nProCapA, 15};
        case DESIGN_ID_VOLINK2_LITE: return {"Vo-Link2", 8, 15};
        case DESIGN_ID_VOLINK2_V3: return {"Vo-Link2", 0, 15};
        default: return {"", 0, 0};
      }
    case kGeneration0:
      return pro ? AdapterName{"Vo-Link-Pro", 0, 15} : AdapterName{"Vo-Link", 0, 0};
    default:
      return {"", 0, 0};
  }
}

std::array<bool, 4> LedPinLevels(uint32_t bits, uint32_t mask) {
  std::array<bool, 4> out{};
  bool carry = false, enabled = false;
  for (unsigned i = 0; i < 4; ++i) {
    const bool bit = (bits >> i) & 1;
    if (!((mask >> i) & 1)) enabled = true;
    out[i] = (bit || carry) && enabled;
    carry = enabled && (bit || carry);
  }
  return out;
}

uint32_t LedWordGen0(uint32_t word, uint32_t bits, uint32_t mask) {
  for (unsigned i = 0; i < 4; ++i) {
    if ((mask >> i) & 1) continue;  // this LED keeps its state
    const uint32_t led = 1u << (4 + i);
    word = ((bits >> i) & 1) ? (word | led) : (word & ~led);
  }
  return word;
}

}  // namespace ice
