#include "fwupdate/ImageSums.h"

#include <array>

namespace fwupdate {
namespace {

constexpr std::array<uint8_t, 256> MakeCrc8Table() {
  std::array<uint8_t, 256> t{};
  for (unsigned i = 0; i < 256; ++i) {
    unsigned c = i;
    for (int k = 0; k < 8; ++k) c = (c & 0x80) ? ((c << 1) ^ 0x07) : (c << 1);
    t[i] = static_cast<uint8_t>(c);
  }
  return t;
}

constexpr std::array<uint32_t, 256> MakeCrc32Table() {
  std::array<uint32_t, 256> t{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t c = i;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : (c >> 1);
    t[i] = c;
  }
  return t;
}

constexpr auto kCrc8Table = MakeCrc8Table();
constexpr auto kCrc32Table = MakeCrc32Table();

}  // namespace

uint16_t ByteSum(std::span<const uint8_t> data, uint16_t sum) {
  for (uint8_t b : data) sum = static_cast<uint16_t>(sum + b);
  return sum;
}

uint8_t Crc8(std::span<const uint8_t> data, uint8_t crc) {
  for (uint8_t b : data) crc = kCrc8Table[crc ^ b];
  return crc;
}

uint8_t Crc8Repeat(uint8_t byte, uint64_t count, uint8_t crc) {
  for (uint64_t i = 0; i < count; ++i) crc = kCrc8Table[crc ^ byte];
  return crc;
}

uint32_t Crc32Update(std::span<const uint8_t> data, uint32_t state) {
  for (uint8_t b : data) state = kCrc32Table[(state ^ b) & 0xFF] ^ (state >> 8);
  return state;
}

uint32_t Crc32UpdateRepeat(uint8_t byte, uint64_t count, uint32_t state) {
  for (uint64_t i = 0; i < count; ++i) state = kCrc32Table[(state ^ byte) & 0xFF] ^ (state >> 8);
  return state;
}

}  // namespace fwupdate
