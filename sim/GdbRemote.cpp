#include "sim/GdbRemote.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <thread>

namespace sim {
namespace {

using Clock = std::chrono::steady_clock;

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

GdbRemote::~GdbRemote() { Close(); }

void GdbRemote::Close() {
  if (m_fd >= 0) ::close(m_fd);
  m_fd = -1;
  m_in.clear();
}

bool GdbRemote::Fail() {
  Close();
  return false;
}

bool GdbRemote::Connect(const std::string& path, std::chrono::milliseconds timeout) {
  Close();
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  if (path.size() >= sizeof addr.sun_path) return false;
  std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
  const auto deadline = Clock::now() + timeout;
  for (;;) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return false;
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0) {
      m_fd = fd;
      break;
    }
    ::close(fd);
    if (Clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  m_ack = true;
  const auto reply = Transact("QStartNoAckMode", timeout);
  if (!reply) return Fail();
  if (*reply == "OK") m_ack = false;
  return true;
}

bool GdbRemote::WriteAll(std::string_view data) {
  if (m_fd < 0) return false;
  const auto deadline = Clock::now() + std::chrono::seconds(2);
  while (!data.empty()) {
    const ssize_t n = ::send(m_fd, data.data(), data.size(), MSG_NOSIGNAL);
    if (n > 0) {
      data.remove_prefix(static_cast<size_t>(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      pollfd p{m_fd, POLLOUT, 0};
      if (left <= 0 || ::poll(&p, 1, static_cast<int>(left)) <= 0) return Fail();
      continue;
    }
    return Fail();
  }
  return true;
}

bool GdbRemote::Send(std::string_view packet) {
  std::string framed = "$";
  for (char c : packet) {
    if (c == '$' || c == '#' || c == '}' || c == '*') {
      framed += '}';
      c = static_cast<char>(c ^ 0x20);
    }
    framed += c;
  }
  uint8_t sum = 0;
  for (size_t i = 1; i < framed.size(); ++i) sum = static_cast<uint8_t>(sum + static_cast<uint8_t>(framed[i]));
  static const char kHex[] = "0123456789abcdef";
  framed += '#';
  framed += kHex[sum >> 4];
  framed += kHex[sum & 15];
  return WriteAll(framed);
}

bool GdbRemote::Interrupt() { return WriteAll(std::string_view("\x03", 1)); }

std::optional<std::string> GdbRemote::TakePacket() {
  for (;;) {
    const size_t start = m_in.find('$');
    if (start == std::string::npos) {
      m_in.clear();  // acknowledgements and noise
      return std::nullopt;
    }
    const size_t hash = m_in.find('#', start);
    if (hash == std::string::npos || m_in.size() < hash + 3) {
      m_in.erase(0, start);
      return std::nullopt;
    }
    const std::string_view body(m_in.data() + start + 1, hash - start - 1);
    uint8_t sum = 0;
    for (char c : body) sum = static_cast<uint8_t>(sum + static_cast<uint8_t>(c));
    const int hi = HexDigit(m_in[hash + 1]), lo = HexDigit(m_in[hash + 2]);
    const bool good = hi >= 0 && lo >= 0 && ((hi << 4) | lo) == sum;
    std::string out;
    bool valid = good;
    for (size_t i = 0; valid && i < body.size(); ++i) {
      const char c = body[i];
      if (c == '}') {
        if (++i >= body.size()) valid = false;
        else out += static_cast<char>(body[i] ^ 0x20);
      } else if (c == '*') {  // run length: repeat the previous character
        if (out.empty() || ++i >= body.size() || body[i] < 29) valid = false;
        else out.append(static_cast<size_t>(body[i] - 29), out.back());
        if (out.size() > kMaxPacket) valid = false;
      } else {
        out += c;
      }
    }
    m_in.erase(0, hash + 3);
    if (!valid) {
      if (m_ack) WriteAll("-");
      continue;
    }
    if (m_ack && !WriteAll("+")) return std::nullopt;
    return out;
  }
}

std::optional<std::string> GdbRemote::Receive(std::chrono::milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  for (;;) {
    if (auto p = TakePacket()) return p;
    if (m_fd < 0) return std::nullopt;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    pollfd p{m_fd, POLLIN, 0};
    const int r = ::poll(&p, 1, left > 0 ? static_cast<int>(left) : 0);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) {
      if (timeout.count() > 0) Fail();  // a silent stub is a broken one
      return std::nullopt;
    }
    char buf[4096];
    const ssize_t n = ::recv(m_fd, buf, sizeof buf, 0);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n <= 0) {
      Fail();
      return std::nullopt;
    }
    m_in.append(buf, static_cast<size_t>(n));
    if (m_in.size() > 2 * kMaxPacket + 8) {  // no packet ends: a hostile or broken peer
      Fail();
      return std::nullopt;
    }
  }
}

std::optional<std::string> GdbRemote::Transact(std::string_view packet, std::chrono::milliseconds timeout) {
  if (!Send(packet)) return std::nullopt;
  return Receive(timeout);
}

std::string GdbRemote::Hex(std::span<const uint8_t> bytes) {
  static const char kHex[] = "0123456789abcdef";
  std::string s;
  s.reserve(bytes.size() * 2);
  for (uint8_t b : bytes) {
    s += kHex[b >> 4];
    s += kHex[b & 15];
  }
  return s;
}

std::string GdbRemote::Hex(std::string_view text) {
  return Hex(std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
}

bool GdbRemote::FromHex(std::string_view hex, std::vector<uint8_t>& out) {
  if (hex.size() % 2) return false;
  out.clear();
  out.reserve(hex.size() / 2);
  for (size_t i = 0; i < hex.size(); i += 2) {
    const int hi = HexDigit(hex[i]), lo = HexDigit(hex[i + 1]);
    if (hi < 0 || lo < 0) return false;
    out.push_back(static_cast<uint8_t>((hi << 4) | lo));
  }
  return true;
}

}  // namespace sim
