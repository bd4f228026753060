#include "usb/PacketFraming.h"

#include <algorithm>
#include <cstring>

namespace framing {

size_t HeaderSize(int headerMode) {
  switch (headerMode) {
    case 0: return 2;
    case 1: return 3;
    default: return 0;
  }
}

size_t MaxPayload(size_t packetSize, int headerMode) {
  const size_t h = HeaderSize(headerMode);
  return (h == 0 || packetSize < h) ? 0 : packetSize - h;
}

long FramePacket(std::span<uint8_t> packet, int headerMode, uint8_t seqByte,
                 std::span<const uint8_t> data) {
  const size_t h = HeaderSize(headerMode);
  if (h == 0 || packet.size() < h) return -1;
  const size_t n = std::min(packet.size() - h, data.size());
  std::fill(packet.begin(), packet.end(), uint8_t{0});
  packet[0] = seqByte;
  if (headerMode == 0) {
    packet[1] = static_cast<uint8_t>(n);
  } else {
    packet[1] = static_cast<uint8_t>(n >> 8);
    packet[2] = static_cast<uint8_t>(n & 0xFF);
  }
  if (n) std::memcpy(packet.data() + h, data.data(), n);
  return static_cast<long>(n);
}

bool ParsePacket(std::span<const uint8_t> received, int headerMode, Parsed& out) {
  const size_t h = HeaderSize(headerMode);
  if (h == 0 || received.size() < h) return false;
  out.seq = received[0] & kSeqMask;
  out.flag = (received[0] & kReplyFlag) != 0;
  const size_t declared =
      headerMode == 0 ? received[1] : (static_cast<size_t>(received[1]) << 8) | received[2];
  out.offset = h;
  out.length = std::min(declared, received.size() - h);
  return true;
}

uint16_t Checksum16(std::span<const uint8_t> bytes) {
  uint16_t sum = 0;
  for (uint8_t b : bytes) sum = static_cast<uint16_t>(sum + b);
  return sum;
}

uint16_t FrameLoaderRequest(std::span<uint8_t> packet, uint32_t command, uint32_t packetNo,
                            std::span<const uint8_t> data) {
  std::fill(packet.begin(), packet.end(), uint8_t{0});
  if (packet.size() < kLoaderRequestHeader) return Checksum16(packet);
  PutLE32(packet.data(), command);
  PutLE32(packet.data() + 4, packetNo);
  const size_t n = std::min(packet.size() - kLoaderRequestHeader, data.size());
  if (n) std::memcpy(packet.data() + kLoaderRequestHeader, data.data(), n);
  return Checksum16(packet);
}

void FrameLoaderReply(std::span<uint8_t> packet, uint16_t checksum, uint32_t packetNo,
                      std::span<const uint8_t> data) {
  std::fill(packet.begin(), packet.end(), uint8_t{0});
  if (packet.size() < kLoaderReplyHeader) return;
  PutLE16(packet.data(), checksum);
  PutLE32(packet.data() + 2, packetNo);
  const size_t n = std::min(packet.size() - kLoaderReplyHeader, data.size());
  if (n) std::memcpy(packet.data() + kLoaderReplyHeader, data.data(), n);
}

void PutLE32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
uint32_t GetLE32(const uint8_t* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}
void PutLE16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
uint16_t GetLE16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

}  // namespace framing
