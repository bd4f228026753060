// The byte level of the GDB remote protocol: framing ($payload#cs), the
// escaping of binary data, hex helpers, and a reader that cuts a byte
// stream from the client into packets, acknowledgements and interrupts.
// The reader keeps at most one packet's worth of bytes however long or
// malformed the input is.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace gdb {

// Sum of the payload bytes modulo 256.
uint8_t Checksum(std::string_view payload);
// "$" payload "#" two lower-case hex digits. The payload goes out as given:
// binary data must be escaped first (EscapeBinary).
std::string Frame(std::string_view payload);
// Binary data with '#', '$', '}' and '*' sent as '}' followed by the byte
// xor 0x20.
std::string EscapeBinary(std::span<const uint8_t> data);
// Undoes EscapeBinary; false for a '}' at the end.
bool UnescapeBinary(std::string_view in, std::vector<uint8_t>& out);

std::string HexEncode(std::span<const uint8_t> data);
std::string HexEncode(std::string_view text);
// Two hex digits per byte; false for an odd length or a non-hex digit.
bool HexDecode(std::string_view hex, std::vector<uint8_t>& out);
// A hex number of 1 to 8 digits; false otherwise.
bool ParseHex32(std::string_view hex, uint32_t& value);
// Little-endian hex of a register of `bytes` bytes.
std::string HexLE(uint64_t value, unsigned bytes);

class PacketReader {
 public:
  struct Event {
    enum Kind {
      Packet,       // a complete packet with a good checksum; payload as sent
      BadChecksum,  // a complete packet whose checksum does not match
      TooLong,      // a packet longer than the reader takes (its bytes dropped)
      Interrupt,    // the byte 0x03 outside a packet
      Ack,          // '+'
      Nack,         // '-'
    };
    Kind kind;
    std::string payload;
  };

  // `maxPayload`: the longest payload kept (the advertised packet size).
  explicit PacketReader(size_t maxPayload) : m_nMax(maxPayload) {}

  // Cuts `bytes` into events, appended to `events`. Bytes outside a packet
  // other than '+', '-' and 0x03 are ignored.
  void Feed(std::string_view bytes, std::vector<Event>& events);
  // Whether a packet has started and not yet ended.
  bool InPacket() const { return m_state != State::Idle; }

 private:
  enum class State { Idle, Body, Sum1, Sum2 };
  void EndPacket(std::vector<Event>& events);

  size_t m_nMax;
  State m_state = State::Idle;
  std::string m_payload;
  uint8_t m_sum = 0;
  bool m_bOverflow = false;
  int m_nSent = 0;  // the checksum the client sent (-1: not hex)
};

}  // namespace gdb
