// A raw TCP client of the GDB server for tests: sends bytes and packets and
// waits (bounded) for what the server sends back.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <string_view>

#include "gdbserver/GdbPacket.h"

class GdbClient {
 public:
  explicit GdbClient(uint16_t port) {
    m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(m_fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) Close();
  }
  ~GdbClient() { Close(); }
  GdbClient(const GdbClient&) = delete;
  GdbClient& operator=(const GdbClient&) = delete;

  bool Connected() const { return m_fd >= 0; }
  void Close() {
    if (m_fd >= 0) ::close(m_fd);
    m_fd = -1;
  }
  bool SendRaw(std::string_view bytes) {
    while (!bytes.empty()) {
      const ssize_t n = ::send(m_fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
      if (n <= 0) return false;
      bytes.remove_prefix(static_cast<size_t>(n));
    }
    return true;
  }
  // Whatever arrives until `until` is in it, the peer closes or time runs out.
  std::string ReadUntil(std::string_view until, int timeoutMs = 5000) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (m_buffer.find(until) == std::string::npos) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
      if (left.count() <= 0) break;
      pollfd p{m_fd, POLLIN, 0};
      if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
      char b[65536];
      const ssize_t n = ::recv(m_fd, b, sizeof b, 0);
      if (n <= 0) {
        m_bEof = true;
        break;
      }
      m_buffer.append(b, static_cast<size_t>(n));
    }
    std::string out;
    out.swap(m_buffer);
    return out;
  }
  bool Eof() const { return m_bEof; }
  // Sends a packet (acknowledging mode) and returns the payload of the reply.
  std::string Ask(std::string_view payload, int timeoutMs = 5000) {
    SendRaw(gdb::Frame(payload));
    std::string got = m_buffer;
    m_buffer.clear();
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
      const size_t start = got.find('$');
      const size_t hash = start == std::string::npos ? std::string::npos : got.find('#', start);
      if (hash != std::string::npos && got.size() >= hash + 3) {
        m_buffer = got.substr(hash + 3);
        if (m_bAck) SendRaw("+");
        return got.substr(start + 1, hash - start - 1);
      }
      if (std::chrono::steady_clock::now() > end) return "<timeout>";
      pollfd p{m_fd, POLLIN, 0};
      if (::poll(&p, 1, 100) <= 0) continue;
      char b[65536];
      const ssize_t n = ::recv(m_fd, b, sizeof b, 0);
      if (n <= 0) return "<closed>";
      got.append(b, static_cast<size_t>(n));
    }
  }
  int Fd() const { return m_fd; }

 private:
  int m_fd = -1;
  bool m_bAck = true;
  bool m_bEof = false;
  std::string m_buffer;
};
