// Packet framing shared by the host transports and the adapter emulator.
//
// Command channel: byte 0 is the sequence byte (bits 0-6 the number, bit 7
// the reply flag), then a one-byte (mode 0) or two-byte big-endian (mode 1)
// payload length, then the payload. A packet always travels at full size.
//
// Boot-loader channel: requests are [cmd u32][packet number u32][data],
// replies [checksum u16][packet number u32][data], all little-endian; the
// checksum is the 16-bit sum of every byte of the request packet.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace framing {

inline constexpr uint8_t kSeqMask = 0x7F;
inline constexpr uint8_t kReplyFlag = 0x80;

// Header length for a header mode, 0 for an unknown mode.
size_t HeaderSize(int headerMode);

// Largest payload a packet of `packetSize` bytes carries in `headerMode`.
size_t MaxPayload(size_t packetSize, int headerMode);

// Fills `packet` (its full size is the packet size): sequence byte, length
// header and as much of `data` as fits; the rest is zeroed. Returns the number
// of payload bytes framed, or -1 for an unknown header mode or a packet too
// small for its header.
long FramePacket(std::span<uint8_t> packet, int headerMode, uint8_t seqByte,
                 std::span<const uint8_t> data);

struct Parsed {
  uint8_t seq = 0;       // bits 0-6 of byte 0
  bool flag = false;     // bit 7 of byte 0
  size_t offset = 0;     // payload offset in the packet
  size_t length = 0;     // payload bytes actually present
};

// Parses `received` bytes of a packet. The length field is clipped to the
// bytes received. False when too short for its header or the mode is unknown.
bool ParsePacket(std::span<const uint8_t> received, int headerMode, Parsed& out);

// 16-bit sum of all bytes ("abc" gives 294).
uint16_t Checksum16(std::span<const uint8_t> bytes);

inline constexpr size_t kLoaderRequestHeader = 8;  // cmd + packet number
inline constexpr size_t kLoaderReplyHeader = 6;    // checksum + packet number

// Boot-loader request into `packet` (full packet size, without report id).
// Returns the checksum of the whole packet.
uint16_t FrameLoaderRequest(std::span<uint8_t> packet, uint32_t command, uint32_t packetNo,
                            std::span<const uint8_t> data);
// Boot-loader reply into `packet` (full packet size, without report id).
void FrameLoaderReply(std::span<uint8_t> packet, uint16_t checksum, uint32_t packetNo,
                      std::span<const uint8_t> data);

void PutLE32(uint8_t* p, uint32_t v);
uint32_t GetLE32(const uint8_t* p);
void PutLE16(uint8_t* p, uint16_t v);
uint16_t GetLE16(const uint8_t* p);

}  // namespace framing
