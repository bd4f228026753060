// CICE_M4: core kinds, comparator formats, and the older and ARMv8-M watchpoint units.
#include "ice/CICE_M4.h"
#include "platform/StringTable.h"

using namespace ice;

namespace {
constexpr uint32_t kKeptFunctionBits = 0xF8000010u;
constexpr uint32_t kComparedFunctionBits = 0xC0Fu;
constexpr uint32_t kDemcrTraceEnable = 1u << 24;
}  // namespace

CICE_M4::~CICE_M4() {
  try {
    ShutDown();
  } catch (...) {
  }
}

CoreKind CICE_M4::GetCoreKind() {
  ScopedMutex lock(m_cmdLock);
  return cortex::CoreKindOf(ReadMem32(cortex::kCpuId, false), true);
}

int CICE_M4::GetAllowedKinds() {
  ScopedMutex lock(m_cmdLock);
  return m_nAllowedKinds;
}

bool CICE_M4::SetBreakpointDefault(uint32_t address, bool allowAll) {
  ScopedMutex lock(m_cmdLock);
  return SetBreakpoint(address, (allowAll ? 7 : 3) & m_nAllowedKinds);
}

void CICE_M4::InitBreakUnit() {
  ScopedMutex lock(m_cmdLock);
  const uint32_t ctrl = ReadMem32(cortex::kFpCtrl, false);
  const unsigned count = ((ctrl >> 12) & 7) << 4 | ((ctrl >> 4) & 0xF);
  switch (GetCoreKind()) {
    case CoreKind::CortexM7:
    case CoreKind::CortexM23:
    case CoreKind::CortexM33:
      m_bpFormat = ComparatorFormat::Second;
      m_nAllowedKinds = kBpHardware | kBpSoftware | kBpThird;
      break;
    case CoreKind::CortexM55:
      m_bpFormat = ComparatorFormat::Second;
      m_nAllowedKinds = kBpHardware;
      break;
    default:
      m_bpFormat = ComparatorFormat::First;
      m_nAllowedKinds = kBpHardware | kBpSoftware | kBpThird;
  }
  ResetBreakImages(count);
}

void CICE_M4::InitWatchUnit() {
  ScopedMutex lock(m_cmdLock);
  WriteMem32(cortex::kDemcr, kDemcrTraceEnable, false, nullptr, nullptr, ~kDemcrTraceEnable);
  unsigned count = 0;
  if (ReadMem32(cortex::kDemcr, false) & kDemcrTraceEnable)
    count = ReadMem32(cortex::kDwtCtrl, false) >> 28;
  const CoreKind kind = GetCoreKind();
  m_bV8Watch = kind == CoreKind::CortexM23 || kind == CoreKind::CortexM33 || kind == CoreKind::CortexM55;
  if (!m_bV8Watch) {
    m_watchRole.assign(count, kFree);
    ResetWatchImages(count);
    return;
  }
  // The ARMv8-M unit has no mask registers; its function words carry
  // read-only bits that the images keep.
  m_watchAddress.assign(count, 0);
  m_watchMask.assign(count, 0);
  m_watchFunction.assign(count, 0);
  m_watchRole.assign(count, kFree);
  std::vector<uint32_t> addresses, values;
  for (unsigned i = 0; i < count; ++i) {
    addresses.push_back(cortex::kDwtComp0 + cortex::kDwtStride * i);
    addresses.push_back(cortex::kDwtFunction0 + cortex::kDwtStride * i);
  }
  values.assign(addresses.size(), 0);
  WriteDebugWords(addresses, values);
  addresses.clear();
  for (unsigned i = 0; i < count; ++i)
    addresses.push_back(cortex::kDwtFunction0 + cortex::kDwtStride * i);
  ReadDebugWords(addresses, m_watchFunction);
}

uint32_t CICE_M4::WatchFunctionFor(uint32_t kind) {
  static constexpr uint32_t kFunction[] = {5, 6, 7, 12, 13, 2, 14, 15, 3};
  return kind < std::size(kFunction) ? kFunction[kind] : 0;
}

uint32_t CICE_M4::MatchCodeFor(uint32_t kind) {
  switch (kind) {
    case 0: return 6;
    case 1: return 5;
    case 2: return 4;
    default: return 0;
  }
}

void CICE_M4::WriteV8Watch(size_t i, uint32_t address, uint32_t function) {
  m_watchAddress[i] = address;
  m_watchFunction[i] = function;
  const uint32_t base = cortex::kDwtStride * static_cast<uint32_t>(i);
  WriteDebugWords({cortex::kDwtComp0 + base, cortex::kDwtFunction0 + base}, {address, function});
}

int CICE_M4::SetWatchpoint(uint32_t address, uint32_t size, uint32_t kind) {
  ScopedMutex lock(m_cmdLock);
  if (!m_bV8Watch) return CICE_CortexM::SetWatchpoint(address, size, kind);
  if (!WatchArgsValid(address, size, nullptr)) return -1;
  const uint32_t match = MatchCodeFor(kind);
  if (match == 0) return -1;
  const size_t n = m_watchFunction.size();
  if (size <= 4) {
    const uint32_t sizeCode = size == 1 ? 0 : size == 2 ? 0x400 : 0x800;
    const uint32_t wanted = match | sizeCode | 0x10;
    for (size_t i = 0; i < n; ++i)
      if (m_watchRole[i] == kSingle && m_watchAddress[i] == address &&
          (m_watchFunction[i] & kComparedFunctionBits) == (wanted & kComparedFunctionBits))
        return static_cast<int>(i);
    for (size_t i = 0; i < n; ++i) {
      if (m_watchRole[i] != kFree) continue;
      WriteV8Watch(i, address, (m_watchFunction[i] & kKeptFunctionBits) | wanted);
      m_watchRole[i] = kSingle;
      return static_cast<int>(i);
    }
    return -1;
  }
  for (size_t i = 0; i + 1 < n; ++i) {
    if (m_watchRole[i] != kFree || m_watchRole[i + 1] != kFree) continue;
    WriteV8Watch(i, address, (m_watchFunction[i] & kKeptFunctionBits) | match | 0x10);
    WriteV8Watch(i + 1, address + size - 1, (m_watchFunction[i + 1] & kKeptFunctionBits) | 7);
    m_watchRole[i] = kRangeFirst;
    m_watchRole[i + 1] = kRangeSecond;
    return static_cast<int>(i);
  }
  return -1;
}

void CICE_M4::ClearWatchpoint(int index, uint32_t address, uint32_t size, uint32_t kind) {
  ScopedMutex lock(m_cmdLock);
  if (!m_bV8Watch) return CICE_CortexM::ClearWatchpoint(index, address, size, kind);
  const auto i = static_cast<size_t>(index);
  const uint32_t match = MatchCodeFor(kind);
  const bool valid = index >= 0 && i < m_watchFunction.size() &&
                     WatchArgsValid(address, size, nullptr) && match != 0 &&
                     m_watchAddress[i] == address && (m_watchFunction[i] & 0xF) == match;
  if (valid && size <= 4 && m_watchRole[i] == kSingle) {
    WriteV8Watch(i, 0, m_watchFunction[i] & kKeptFunctionBits & ~0x10u);
    m_watchRole[i] = kFree;
    return;
  }
  if (valid && size > 4 && m_watchRole[i] == kRangeFirst && i + 1 < m_watchFunction.size() &&
      m_watchRole[i + 1] == kRangeSecond && m_watchAddress[i + 1] == address + size - 1) {
    WriteV8Watch(i, 0, m_watchFunction[i] & kKeptFunctionBits & ~0x10u);
    WriteV8Watch(i + 1, 0, m_watchFunction[i + 1] & kKeptFunctionBits & ~0x10u);
    m_watchRole[i] = m_watchRole[i + 1] = kFree;
    return;
  }
  throw CICEException(text::kWatchpointClearFailed);
}

int CICE_M4::FindTriggeredWatchpoint() {
  ScopedMutex lock(m_cmdLock);
  if (!m_bV8Watch) return CICE_CortexM::FindTriggeredWatchpoint();
  std::vector<uint32_t> addresses, values;
  for (size_t i = 0; i < m_watchFunction.size(); ++i)
    addresses.push_back(cortex::kDwtFunction0 + cortex::kDwtStride * static_cast<uint32_t>(i));
  ReadDebugWords(addresses, values);
  for (size_t i = 0; i < values.size(); ++i)
    if ((values[i] & (1u << 24)) && (m_watchRole[i] == kSingle || m_watchRole[i] == kRangeFirst))
      return static_cast<int>(i);
  return -1;
}
