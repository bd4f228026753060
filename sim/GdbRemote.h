// A client of the GDB remote serial protocol over a Unix stream socket:
// packet framing and checksums, escapes and run-length replies, the
// interrupt byte and asynchronous stop replies. Every wait is bounded and a
// peer can make it hold at most kMaxPacket bytes; a peer that breaks the
// framing, closes or stays silent leaves the client broken (Alive() false).
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

class GdbRemote {
 public:
  static constexpr size_t kMaxPacket = 256 * 1024;

  GdbRemote() = default;
  GdbRemote(const GdbRemote&) = delete;
  GdbRemote& operator=(const GdbRemote&) = delete;
  ~GdbRemote();

  // Connects to the stub listening on `path`, trying again until `timeout`
  // passes (the stub may still be starting), then turns acknowledgements off
  // when the stub allows it.
  bool Connect(const std::string& path, std::chrono::milliseconds timeout);
  bool Alive() const { return m_fd >= 0; }
  void Close();

  // Sends a packet and waits for the next packet the stub sends.
  std::optional<std::string> Transact(std::string_view packet, std::chrono::milliseconds timeout);
  bool Send(std::string_view packet);
  // The interrupt byte (0x03): a running target stops and sends a stop reply.
  bool Interrupt();
  // The next packet from the stub; a zero timeout only looks at what has
  // already arrived. Nothing within the timeout: nullopt, the client stays
  // usable only when `timeout` was zero.
  std::optional<std::string> Receive(std::chrono::milliseconds timeout);

  // Hex helpers of the protocol.
  static std::string Hex(std::span<const uint8_t> bytes);
  static std::string Hex(std::string_view text);
  static bool FromHex(std::string_view hex, std::vector<uint8_t>& out);

 private:
  bool WriteAll(std::string_view data);
  std::optional<std::string> TakePacket();  // a whole packet from m_in, if any
  bool Fail();

  int m_fd = -1;
  bool m_ack = true;
  std::string m_in;
};

}  // namespace sim
