// Checksums of firmware images: the 16-bit byte sum, CRC-8 (polynomial
// 0x07, initial value 0, not reflected) and the standard reflected CRC-32
// (initial value and final XOR 0xFFFFFFFF). Each can be continued over
// further bytes, so an image and its padding need not sit in one buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace fwupdate {

uint16_t ByteSum(std::span<const uint8_t> data, uint16_t sum = 0);

uint8_t Crc8(std::span<const uint8_t> data, uint8_t crc = 0);
// CRC-8 continued over `count` bytes of value `byte`.
uint8_t Crc8Repeat(uint8_t byte, uint64_t count, uint8_t crc);

// `state` is the running register (start with kCrc32Init); the final value
// is state ^ 0xFFFFFFFF (Crc32Final).
inline constexpr uint32_t kCrc32Init = 0xFFFFFFFFu;
uint32_t Crc32Update(std::span<const uint8_t> data, uint32_t state);
uint32_t Crc32UpdateRepeat(uint8_t byte, uint64_t count, uint32_t state);
inline uint32_t Crc32Final(uint32_t state) { return state ^ 0xFFFFFFFFu; }
inline uint32_t Crc32(std::span<const uint8_t> data) { return Crc32Final(Crc32Update(data, kCrc32Init)); }

}  // namespace fwupdate
