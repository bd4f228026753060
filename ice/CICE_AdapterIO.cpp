// CICE: the adapter's own memory and registers, its ID, restart into the
// boot loader, readiness and run state, and the indicator helpers.
#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

#include "ice/AdapterParts.h"
#include "ice/CFlash_ICE.h"
#include "ice/CICE.h"

using namespace ice;

namespace {
// Adapter firmware registers (adapter-register space).
constexpr uint32_t kIceRegSysState = 0x00;   // bit 0: firmware ready
constexpr uint32_t kIceRegRunState = 0x04;   // 0 normal, 1 service
constexpr uint32_t kIceRegRestart = 0x08;    // restart request
constexpr uint32_t kRestartToLoader = 0x5AA5B007;

// Indicator words.
constexpr uint32_t kGen0LedWord = 0x50004048;
constexpr uint32_t kGen1PinBase = 0x40004800;
constexpr uint32_t kGen2PinBase = 0x40229800;
constexpr uint32_t kGen1Pins[4] = {84, 38, 25, 24};
constexpr uint32_t kGen2Pins[4] = {33, 32, 146, 111};
}  // namespace

// ---- adapter memory and registers --------------------------------------------

uint32_t CICE::ReadICEReg(uint32_t address) {
  ScopedMutex lock(m_cmdLock);
  return ReadOneWord(kCmdIceRegMulti, address);
}

void CICE::WriteICEReg(uint32_t address, uint32_t value) {
  ScopedMutex lock(m_cmdLock);
  WriteOneWord(kCmdIceRegMulti, address, value);
}

uint32_t CICE::ReadICEMem32(uint32_t address) {
  ScopedMutex lock(m_cmdLock);
  return ReadOneWord(kCmdIceMemMulti, address);
}

void CICE::WriteICEMem32(uint32_t address, uint32_t value) {
  ScopedMutex lock(m_cmdLock);
  WriteOneWord(kCmdIceMemMulti, address, value);
}

void CICE::ReadICEMemMulti(const uint32_t* addresses, unsigned count, uint32_t* values) {
  ScopedMutex lock(m_cmdLock);
  ReadWords(kCmdIceMemMulti, count, addresses, values);
}

uint32_t CICE::ReadAdapterId() {
  ScopedMutex lock(m_cmdLock);
  const int generation = CommandGeneration();
  // The MCU class comes from the chip id the handshake reports.
  if (m_uFirmwareVersion == kUnknownFirmware) ResetCmdSerial(0xFFFFFFFF);
  return ReadAdapterIdThroughFlash(*this, FlashClassOf(m_uAdapterChipId, generation));
}

void CICE::RestartToBootLoader() {
  ScopedMutex lock(m_cmdLock);
  WriteICEReg(kIceRegRestart, kRestartToLoader);
}

bool CICE::IsAdapterReady() {
  ScopedMutex lock(m_cmdLock);
  return (ReadICEReg(kIceRegSysState) & 1) != 0;
}

uint32_t CICE::GetAdapterRunState() {
  ScopedMutex lock(m_cmdLock);
  return ReadICEReg(kIceRegRunState);
}

void CICE::SetAdapterRunState(uint32_t state) {
  ScopedMutex lock(m_cmdLock);
  WriteICEReg(kIceRegRunState, state);
}

// ---- indicators ------------------------------------------------------------------

uint32_t CICE::GetAdapterInputs() {
  ScopedMutex lock(m_cmdLock);
  if (CommandGeneration() != kGeneration0) return 0;
  const uint32_t addresses[3] = {0x50004110, 0x50004050, 0x50004010};
  uint32_t v[3] = {};
  ReadICEMemMulti(addresses, 3, v);
  return (v[0] & 0x20) | (v[1] & 0x4000) | (v[2] & 3);
}

uint32_t CICE::GetAdapterLeds() {
  ScopedMutex lock(m_cmdLock);
  const int generation = CommandGeneration();
  if (generation == kGeneration0) return (ReadICEMem32(kGen0LedWord) >> 4) & 0xF;
  const uint32_t base = generation == kGeneration1 ? kGen1PinBase : kGen2PinBase;
  const uint32_t* pins = generation == kGeneration1 ? kGen1Pins : kGen2Pins;
  uint32_t addresses[4], v[4] = {};
  for (int i = 0; i < 4; ++i) addresses[i] = base + 4 * pins[i];
  ReadICEMemMulti(addresses, 4, v);
  uint32_t bits = 0;
  for (int i = 0; i < 4; ++i)
    if (v[i]) bits |= 1u << i;
  return bits;
}

void CICE::SetAdapterLeds(uint32_t bits, uint32_t mask) {
  ScopedMutex lock(m_cmdLock);
  const int generation = CommandGeneration();
  if (generation == kGeneration0) {
    const uint32_t word = ReadICEMem32(kGen0LedWord);
    WriteICEMem32(kGen0LedWord, LedWordGen0(word, bits, mask));
    return;
  }
  const uint32_t base = generation == kGeneration1 ? kGen1PinBase : kGen2PinBase;
  const uint32_t* pins = generation == kGeneration1 ? kGen1Pins : kGen2Pins;
  const std::array<bool, 4> level = LedPinLevels(bits, mask);
  uint32_t addresses[4], values[4];
  for (int i = 0; i < 4; ++i) {
    addresses[i] = base + 4 * pins[i];
    values[i] = level[static_cast<size_t>(i)] ? 1 : 0;
  }
  MultiAccessAll(kCmdIceMemMulti, 4, addresses, values, nullptr, nullptr);
}

void CICE::BlinkAdapterLeds(uint32_t bits, unsigned periodMs, unsigned count) {
  ScopedMutex lock(m_cmdLock);
  const uint32_t saved = GetAdapterLeds();
  for (unsigned i = 0; i < count; ++i) {
    SetAdapterLeds((i & 1) ? ~bits : bits, ~bits);
    std::this_thread::sleep_for(std::chrono::milliseconds(periodMs));
  }
  SetAdapterLeds(saved, 0);
}
