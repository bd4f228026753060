#include "gdbserver/GdbPacket.h"

namespace gdb {
namespace {

constexpr char kHex[] = "0123456789abcdef";

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool NeedsEscape(uint8_t b) { return b == '#' || b == '$' || b == '}' || b == '*'; }

}  // namespace

uint8_t Checksum(std::string_view payload) {
  uint8_t sum = 0;
  for (char c : payload) sum = static_cast<uint8_t>(sum + static_cast<uint8_t>(c));
  return sum;
}

std::string Frame(std::string_view payload) {
  std::string out;
  out.reserve(payload.size() + 4);
  out += '$';
  out += payload;
  out += '#';
  const uint8_t sum = Checksum(payload);
  out += kHex[sum >> 4];
  out += kHex[sum & 0xF];
  return out;
}

std::string EscapeBinary(std::span<const uint8_t> data) {
  std::string out;
  out.reserve(data.size());
  for (uint8_t b : data) {
    if (NeedsEscape(b)) {
      out += '}';
      out += static_cast<char>(b ^ 0x20);
    } else {
      out += static_cast<char>(b);
    }
  }
  return out;
}

bool UnescapeBinary(std::string_view in, std::vector<uint8_t>& out) {
  out.clear();
  out.reserve(in.size());
  for (size_t i = 0; i < in.size(); ++i) {
    uint8_t b = static_cast<uint8_t>(in[i]);
    if (b == '}') {
      if (++i == in.size()) return false;
      b = static_cast<uint8_t>(in[i]) ^ 0x20;
    }
    out.push_back(b);
  }
  return true;
}

std::string HexEncode(std::span<const uint8_t> data) {
  std::string out;
  out.reserve(data.size() * 2);
  for (uint8_t b : data) {
    out += kHex[b >> 4];
    out += kHex[b & 0xF];
  }
  return out;
}

std::string HexEncode(std::string_view text) {
  return HexEncode(std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
}

bool HexDecode(std::string_view hex, std::vector<uint8_t>& out) {
  out.clear();
  if (hex.size() % 2) return false;
  out.reserve(hex.size() / 2);
  for (size_t i = 0; i < hex.size(); i += 2) {
    const int hi = HexDigit(hex[i]), lo = HexDigit(hex[i + 1]);
    if (hi < 0 || lo < 0) return false;
    out.push_back(static_cast<uint8_t>(hi << 4 | lo));
  }
  return true;
}

bool ParseHex32(std::string_view hex, uint32_t& value) {
  if (hex.empty() || hex.size() > 8) return false;
  uint32_t v = 0;
  for (char c : hex) {
    const int d = HexDigit(c);
    if (d < 0) return false;
    v = v << 4 | static_cast<uint32_t>(d);
  }
  value = v;
  return true;
}

std::string HexLE(uint64_t value, unsigned bytes) {
  std::string out;
  for (unsigned i = 0; i < bytes; ++i) {
    const auto b = static_cast<uint8_t>(value >> (8 * i));
    out += kHex[b >> 4];
    out += kHex[b & 0xF];
  }
  return out;
}

void PacketReader::Feed(std::string_view bytes, std::vector<Event>& events) {
  for (char ch : bytes) {
    switch (m_state) {
      case State::Idle:
        if (ch == '$') {
          m_state = State::Body;
          m_payload.clear();
          m_sum = 0;
          m_bOverflow = false;
        } else if (ch == '+') {
          events.push_back({Event::Ack, {}});
        } else if (ch == '-') {
          events.push_back({Event::Nack, {}});
        } else if (ch == '\x03') {
          events.push_back({Event::Interrupt, {}});
        }
        break;
      case State::Body:
        if (ch == '#') {
          m_state = State::Sum1;
        } else if (ch == '$') {
          // A new start inside a packet: the client gave up on the old one.
          m_payload.clear();
          m_sum = 0;
          m_bOverflow = false;
        } else {
          m_sum = static_cast<uint8_t>(m_sum + static_cast<uint8_t>(ch));
          if (m_payload.size() < m_nMax)
            m_payload += ch;
          else
            m_bOverflow = true;
        }
        break;
      case State::Sum1: {
        const int d = HexDigit(ch);
        m_nSent = d < 0 ? -1 : d << 4;
        m_state = State::Sum2;
        break;
      }
      case State::Sum2: {
        const int d = HexDigit(ch);
        if (d < 0 || m_nSent < 0) m_nSent = -1;
        else m_nSent |= d;
        EndPacket(events);
        break;
      }
    }
  }
}

void PacketReader::EndPacket(std::vector<Event>& events) {
  m_state = State::Idle;
  if (m_nSent != m_sum)
    events.push_back({Event::BadChecksum, {}});
  else if (m_bOverflow)
    events.push_back({Event::TooLong, {}});
  else
    events.push_back({Event::Packet, std::move(m_payload)});
  m_payload.clear();
}

}  // namespace gdb
