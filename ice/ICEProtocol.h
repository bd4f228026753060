// The adapter command protocol without I/O: command codes, the adapter's
// error texts, command-record building, payload sizes by generation, clock
// normalisation, the version reply's design ids and names, and the small
// bit rules the command layer applies. Everything here is pure. What the
// firmware version enables is in FirmwareFeatures.h.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "ice/FirmwareFeatures.h"
#include "usb/PacketFraming.h"

namespace ice {

// Command codes (the first word of a command record).
enum : uint32_t {
  kCmdSetBridgeMode = 0x40,
  kCmdReadBridge = 0x41,
  kCmdWriteBridge = 0x42,
  kCmdSwoTransport = 0x43,
  kCmdSwoMode = 0x44,
  kCmdSwoBaudrate = 0x45,
  kCmdSwoControl = 0x46,
  kCmdSwoStatus = 0x47,
  kCmdSwoData = 0x48,
  kCmdWriteFlash = 0xA0,
  kCmdReadFlash = 0xA1,
  kCmdConfigure = 0xA2,
  kCmdDebugId = 0xA3,
  kCmdEraseFlashChip = 0xA4,
  kCmdSetFlashMode = 0xA5,
  kCmdSetEtmc = 0xA8,
  kCmdGetEtmcState = 0xA9,
  kCmdReadRegs = 0xB0,
  kCmdStreamRead = 0xB3,
  kCmdStreamWrite = 0xB4,
  kCmdWriteRegAll = 0xB6,
  kCmdReadBlock = 0xB7,
  kCmdRegMulti = 0xB8,
  kCmdMemMulti = 0xB9,
  kCmdWriteBlock = 0xBC,
  kCmdSetBreakPoint = 0xC0,
  kCmdClrBreakPoint = 0xC1,
  kCmdStepRun = 0xD1,
  kCmdStopRun = 0xD2,
  kCmdFreeRun = 0xD3,
  kCmdGetMcuState = 0xD8,
  kCmdMcuReset = 0xE2,
  kCmdLinkCheck = 0xF0,
  kCmdIceMemMulti = 0xFB,
  kCmdErrorQuery = 0xFC,
  kCmdIceRegMulti = 0xFE,
  kCmdVersion = 0xFFFFFFFF,
};

inline constexpr int kDefaultTimeoutMs = 5000;
inline constexpr int kLongEraseTimeoutMs = 25000;

// Adapter generations (GetPortChipType).
inline constexpr int kGeneration0 = 0;
inline constexpr int kGeneration1 = 1;
inline constexpr int kGeneration2 = 2;

// Reset and connect modes of MCUConnect, processor states.
enum : uint32_t {
  RESET_AUTO = 0, RESET_HW = 1, RESET_SYSRESETREQ = 2, RESET_VECTRESET = 3,
  RESET_FAST_RESCUE = 4, RESET_NONE = 5, RESET_NONE2 = 6,
};
enum : uint32_t {
  CONNECT_NORMAL = 0, CONNECT_PRE_RESET = 1, CONNECT_UNDER_RESET = 2, CONNECT_NONE = 3,
  CONNECT_DISCONNECT = 4, CONNECT_ICP_MODE = 5,
};
enum : int { PROCESSOR_STOP = 0, PROCESSOR_RUN = 1, PROCESSOR_IDLE = 2, PROCESSOR_POWER_DOWN = 3 };

// Design ids of second-generation adapters.
enum : int {
  DESIGN_ID_NONE = -1,
  DESIGN_ID_VOLINK2_ME = 0,
  DESIGN_ID_VOLINK2 = 1,
  DESIGN_ID_VOTRACE = 3,
  DESIGN_ID_VOLINK2_PRO = 5,
  DESIGN_ID_VOLINK2_LITE = 9,
  DESIGN_ID_VOLINK2_V3 = 17,
};

// Text of an adapter error code, or nullptr for codes without one (17 on).
const char* AdapterErrorText(uint32_t code);
// "ICE: Cmd error - <text>." or "ICE: Cmd error - <code>.".
std::string CmdErrorMessage(uint32_t code);
inline constexpr const char* kCmdErrorUnknown = "ICE: Cmd error - unknown.";

// Little-endian words: the framing's helpers.
using framing::GetLE16;
using framing::GetLE32;
using framing::PutLE32;

// A command record: code word, argument words, then data bytes.
class CommandRecord {
 public:
  explicit CommandRecord(uint32_t code) { Word(code); }
  CommandRecord& Word(uint32_t v);
  CommandRecord& Byte(uint8_t v);
  CommandRecord& Bytes(const void* data, size_t n);
  // Zero bytes up to `size` bytes in total (nothing when already longer).
  CommandRecord& PadTo(size_t size);
  const uint8_t* Data() const { return m_bytes.data(); }
  uint8_t* MutableData() { return m_bytes.data(); }
  unsigned Size() const { return static_cast<unsigned>(m_bytes.size()); }

 private:
  std::vector<uint8_t> m_bytes;
};

// Payload sizes of a transport with `packetSize` bytes per packet.
unsigned PayloadSizeFor(unsigned packetSize, int generation);
inline unsigned WordPayloadOf(unsigned payload) { return payload & ~3u; }
inline unsigned MaxBlockDataOf(unsigned payload) {
  return WordPayloadOf(payload) > 12 ? WordPayloadOf(payload) - 12 : 0;
}
// Entries of one multi-access command with this payload.
unsigned MultiAccessLimitFor(const FirmwareFeatures& features, unsigned payload);
inline constexpr unsigned kMultiAccessMaxEntries = 84;
inline constexpr unsigned kMultiAccessMaxRequest = 1016;
inline constexpr unsigned kMultiAccessReplyCapacity = 672;

// Streamed transfers: chunk sizes over a word payload W.
inline unsigned StreamReadChunkSize(unsigned wordPayload) { return 20 * wordPayload - 88; }
inline unsigned StreamWriteChunkSize(unsigned maxBlock) { return 20 * maxBlock + 148; }

// Clock of the configure command: bounds of the generation, then rounding.
uint32_t RoundClock(uint32_t clock);
uint32_t NormaliseClock(uint32_t clock, int generation);

// Version handshake: design id from the flags word, and the adapter's name
// with its capability values.
int DesignIdFor(const FirmwareFeatures& features, uint32_t flagsWord);
struct AdapterName {
  const char* name;
  int32_t capA;
  int32_t capB;
};
AdapterName AdapterNameFor(int generation, int designId, bool pro,
                           const FirmwareFeatures& features);

// Whether a halfword is the first half of a 32-bit Thumb instruction.
inline bool IsThumb32First(uint16_t half) {
  return (half & 0xE000) == 0xE000 && (half & 0x1800) != 0;
}

// Byte sent by SwoMode for a mode value.
inline uint8_t SwoModeByte(uint32_t mode) { return mode == 1 ? 1 : mode == 2 ? 2 : 0; }

// Pin values that SetAdapterLeds writes on generations 1 and 2 (carry and
// enable flags walked from pin 0 to pin 3).
std::array<bool, 4> LedPinLevels(uint32_t bits, uint32_t mask);
// Indicator word of generation 0 after SetAdapterLeds.
uint32_t LedWordGen0(uint32_t word, uint32_t bits, uint32_t mask);

}  // namespace ice
