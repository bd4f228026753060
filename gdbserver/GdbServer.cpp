#include "gdbserver/GdbServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "gdbserver/CortexGdbTarget.h"
#include "gdbserver/GdbPacket.h"
#include "gdbserver/GdbSession.h"

namespace gdb {
namespace {

// How long a client that does not read may hold up a reply.
constexpr int kWriteTimeoutMs = 5000;

std::string PeerName(const sockaddr_storage& a) {
  char host[INET6_ADDRSTRLEN] = "?";
  uint16_t port = 0;
  if (a.ss_family == AF_INET) {
    const auto& in = reinterpret_cast<const sockaddr_in&>(a);
    inet_ntop(AF_INET, &in.sin_addr, host, sizeof host);
    port = ntohs(in.sin_port);
  } else if (a.ss_family == AF_INET6) {
    const auto& in6 = reinterpret_cast<const sockaddr_in6&>(a);
    inet_ntop(AF_INET6, &in6.sin6_addr, host, sizeof host);
    port = ntohs(in6.sin6_port);
    return std::string("[") + host + "]:" + std::to_string(port);
  }
  return std::string(host) + ":" + std::to_string(port);
}

// Writes everything or gives up after the time-out (false).
bool WriteAll(int fd, std::string_view bytes) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWriteTimeoutMs);
  while (!bytes.empty()) {
    const ssize_t n = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
      bytes.remove_prefix(static_cast<size_t>(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return false;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now()).count();
    if (left <= 0) return false;
    pollfd p{fd, POLLOUT, 0};
    if (::poll(&p, 1, static_cast<int>(left)) < 0 && errno != EINTR) return false;
  }
  return true;
}

}  // namespace

class GdbServer::Sink : public IGdbSink {
 public:
  explicit Sink(int fd) : m_fd(fd) {}
  bool Write(std::string_view bytes) override {
    if (m_bBroken) return false;
    if (!WriteAll(m_fd, bytes)) m_bBroken = true;
    return !m_bBroken;
  }
  bool Broken() const { return m_bBroken; }

 private:
  int m_fd;
  bool m_bBroken = false;
};

GdbServer::GdbServer(CICE& ice) : m_ice(ice) {
  CortexGdbTarget check(ice);  // refuses an adapter object gdb cannot debug
  if (::pipe2(m_wake, O_NONBLOCK | O_CLOEXEC) != 0) m_wake[0] = m_wake[1] = -1;
}

GdbServer::~GdbServer() {
  DropClient();
  if (m_listen >= 0) ::close(m_listen);
  for (int fd : m_wake)
    if (fd >= 0) ::close(fd);
}

bool GdbServer::Listen(const std::string& address, uint16_t port, std::string& error) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV | AI_PASSIVE;
  addrinfo* found = nullptr;
  const std::string service = std::to_string(port);
  if (const int rc = ::getaddrinfo(address.c_str(), service.c_str(), &hints, &found); rc != 0) {
    error = "not a numeric address: " + address + " (" + gai_strerror(rc) + ")";
    return false;
  }
  std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)> guard(found, ::freeaddrinfo);
  const int fd = ::socket(found->ai_family, found->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) {
    error = std::string("socket: ") + std::strerror(errno);
    return false;
  }
  const int on = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  if (::bind(fd, found->ai_addr, found->ai_addrlen) != 0 || ::listen(fd, 4) != 0) {
    error = "cannot listen on " + address + ":" + service + ": " + std::strerror(errno);
    ::close(fd);
    return false;
  }
  sockaddr_storage bound{};
  socklen_t len = sizeof bound;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &len);
  m_nPort = bound.ss_family == AF_INET6 ? ntohs(reinterpret_cast<sockaddr_in6&>(bound).sin6_port)
                                        : ntohs(reinterpret_cast<sockaddr_in&>(bound).sin_port);
  if (m_listen >= 0) ::close(m_listen);
  m_listen = fd;
  m_strAddress = address;
  return true;
}

std::string GdbServer::TargetCommand() const {
  const bool v6 = m_strAddress.find(':') != std::string::npos;
  const std::string host = m_strAddress == "0.0.0.0" ? "localhost" : v6 ? "[" + m_strAddress + "]" : m_strAddress;
  return "target extended-remote " + host + ":" + std::to_string(m_nPort);
}

void GdbServer::Emit(Event e, const std::string& text) {
  if (m_events) m_events(e, text);
}

std::string GdbServer::Client() const {
  std::lock_guard lock(m_clientLock);
  return m_strClient;
}

void GdbServer::Stop() {
  m_bStop.store(true);
  if (m_wake[1] >= 0) {
    const char b = 1;
    [[maybe_unused]] const ssize_t n = ::write(m_wake[1], &b, 1);
  }
}

void GdbServer::DropClient() {
  if (m_client < 0) return;
  if (m_session) m_session->Disconnected();
  m_session.reset();
  m_sink.reset();
  ::close(m_client);
  m_client = -1;
  {
    std::lock_guard lock(m_clientLock);
    m_strClient.clear();
  }
  Emit(Event::ClientGone, {});
}

void GdbServer::Accept() {
  sockaddr_storage peer{};
  socklen_t len = sizeof peer;
  const int fd = ::accept4(m_listen, reinterpret_cast<sockaddr*>(&peer), &len, SOCK_CLOEXEC | SOCK_NONBLOCK);
  if (fd < 0) return;
  const std::string name = PeerName(peer);
  // A client that has just closed may not have been read to its end yet.
  for (int i = 0; i < 64 && m_client >= 0; ++i) {
    pollfd p{m_client, POLLIN, 0};
    if (::poll(&p, 1, 0) <= 0) break;
    ReadClient();
  }
  if (m_client >= 0) {
    WriteAll(fd, Frame(kBusyReply));
    ::close(fd);
    Emit(Event::Refused, name);
    return;
  }
  const int on = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  m_client = fd;
  m_sink = std::make_unique<Sink>(fd);
  m_session = std::make_unique<GdbSession>(m_ice, *m_sink);
  m_session->SetLog([this](const std::string& text) { Emit(Event::Note, text); });
  {
    std::lock_guard lock(m_clientLock);
    m_strClient = name;
  }
  Emit(Event::ClientConnected, name);
}

void GdbServer::ReadClient() {
  char buffer[4096];
  const ssize_t n = ::recv(m_client, buffer, sizeof buffer, MSG_DONTWAIT);
  if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return;
  if (n <= 0) {
    DropClient();
    return;
  }
  m_session->Feed(std::string_view(buffer, static_cast<size_t>(n)));
  if (m_session->Finished() || m_sink->Broken()) DropClient();
}

void GdbServer::Step(int timeoutMs) {
  if (m_bStop.load()) return;
  const bool running = m_session && m_session->Running();
  int timeout = timeoutMs;
  if (running && (timeout < 0 || timeout > kPollMs)) timeout = kPollMs;
  pollfd fds[3];
  nfds_t count = 0;
  const auto add = [&](int fd) {
    if (fd >= 0) fds[count++] = {fd, POLLIN, 0};
    return fd >= 0 ? static_cast<int>(count) - 1 : -1;
  };
  const int iListen = add(m_listen), iClient = add(m_client), iWake = add(m_wake[0]);
  const int rc = ::poll(fds, count, timeout);
  if (rc < 0 && errno != EINTR) return;
  if (rc > 0) {
    if (iWake >= 0 && fds[iWake].revents) {
      char drain[64];
      while (::read(m_wake[0], drain, sizeof drain) > 0) {
      }
    }
    if (iClient >= 0 && fds[iClient].revents) ReadClient();
    if (iListen >= 0 && (fds[iListen].revents & POLLIN)) Accept();
  }
  if (m_session && m_session->Running()) {
    m_session->Poll();
    if (m_sink->Broken()) DropClient();
  }
}

void GdbServer::Run() {
  while (!m_bStop.load()) Step(-1);
  DropClient();
}

}  // namespace gdb
