// Checks every request a peer sends against the wire rules of the adapter
// and of its boot loader, so that a host that frames a packet wrongly fails
// its tests even though the emulator still answers it. The emulator itself
// stays lenient in what it does with such a request; this only counts.
//
// Command channel: a request is one packet of exactly the interface's size;
// byte 0 is the sequence byte with bit 7 clear, then the payload length (one
// byte in header mode 0, two big-endian bytes in mode 1), then the command
// record, whose length is fixed per command. A streamed write continues with
// continuation packets numbered 1, 2, ... and nothing else may come between
// them (the version handshake abandons the transfer on purpose).
//
// Boot-loader channel: a request is one report of exactly the loader's size,
// [command u32][packet number u32][data]. The first request after connecting
// synchronises the packet numbers (0xA4 with the number in its data); every
// later request carries the previous number + 2. Application-write packets
// (0x00) only follow a 0xA0 whose length they have not yet filled.
//
// On both: a request while the previous one's replies are still being sent
// (the peer did not wait for its answer).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace sim {

enum class Violation : size_t { Size, Length, Header, Command, Sequence, Owed };
inline constexpr size_t kViolationKinds = 6;
const char* ViolationName(Violation v);

struct Finding {
  Violation kind;
  std::string text;
};

struct ViolationCounts {
  std::array<uint64_t, kViolationKinds> n{};
  uint64_t Total() const;
};

class WireCheck {
 public:
  // The application firmware's channel: packets of `packetSize` bytes,
  // header mode 0 (one length byte) or 1 (two).
  static WireCheck ForCommands(size_t packetSize, int headerMode);
  // The boot loader's channel: reports of `reportSize` bytes.
  static WireCheck ForLoader(size_t reportSize);

  // One request as received; `replyOwed`: replies to an earlier request
  // are still waiting to be sent on this connection.
  std::vector<Finding> Check(std::span<const uint8_t> message, bool replyOwed);

 private:
  WireCheck(bool loader, size_t size, int headerMode) : m_loader(loader), m_size(size), m_mode(headerMode) {}
  void CheckCommand(std::span<const uint8_t> message, std::vector<Finding>& out);
  void CheckRecord(std::span<const uint8_t> record, std::vector<Finding>& out);
  void CheckContinuation(std::span<const uint8_t> record, std::vector<Finding>& out);
  void CheckLoader(std::span<const uint8_t> message, std::vector<Finding>& out);

  bool m_loader;
  size_t m_size;
  int m_mode;
  // streamed write: data bytes still to come, the next packet's number
  uint32_t m_streamRemaining = 0;
  uint32_t m_streamNext = 0;
  // boot loader: packet numbers synchronised, the next number, image bytes to come
  bool m_synced = false;
  uint32_t m_nextNumber = 0;
  uint32_t m_writeRemaining = 0;
};

}  // namespace sim
