#include "FakeSimDevice.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <fstream>

#include "usb/PacketFraming.h"

namespace {
sockaddr_un Address(const std::string& path) {
  sockaddr_un a{};
  a.sun_family = AF_UNIX;
  std::strncpy(a.sun_path, path.c_str(), sizeof a.sun_path - 1);
  return a;
}
}  // namespace

FakeSimDevice::FakeSimDevice(const std::string& dir, const std::string& name,
                             const nlohmann::json& config, Handler handler)
    : m_sock(dir + "/" + name + ".sock"), m_json(dir + "/" + name + ".json"),
      m_handler(std::move(handler)) {
  m_bulk = config.value("kind", "") != "hid";
  m_listen = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
  const sockaddr_un a = Address(m_sock);
  ::unlink(m_sock.c_str());
  if (::bind(m_listen, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0 ||
      ::listen(m_listen, 16) != 0)
    return;
  if (::pipe2(m_wake, O_CLOEXEC) != 0) return;
  std::ofstream(m_json) << config.dump();
  m_thread = std::thread([this] { Run(); });
}

FakeSimDevice::~FakeSimDevice() {
  if (m_wake[1] >= 0 && ::write(m_wake[1], "x", 1) < 0) {
  }
  if (m_thread.joinable()) m_thread.join();
  ::unlink(m_json.c_str());
  ::unlink(m_sock.c_str());
  ::close(m_listen);
  for (int fd : m_wake) {
    if (fd >= 0) ::close(fd);
  }
}

void FakeSimDevice::SetHandler(Handler h) {
  std::lock_guard<std::mutex> g(m_lock);
  m_handler = std::move(h);
}

std::vector<Bytes> FakeSimDevice::Received() {
  std::lock_guard<std::mutex> g(m_lock);
  return m_received;
}

std::vector<Bytes> FakeSimDevice::WaitForReceived(size_t count) {
  for (int i = 0; i < 500; ++i) {
    {
      std::lock_guard<std::mutex> g(m_lock);
      if (m_received.size() >= count) return m_received;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return Received();
}

void FakeSimDevice::Run() {
  std::vector<int> clients;
  int holder = -1;
  for (;;) {
    std::vector<pollfd> fds = {{m_wake[0], POLLIN, 0}, {m_listen, POLLIN, 0}};
    for (int c : clients) fds.push_back({c, POLLIN, 0});
    if (::poll(fds.data(), fds.size(), -1) < 0) continue;
    if (fds[0].revents) break;
    for (size_t i = 2; i < fds.size(); ++i) {
      const int c = fds[i].fd;
      if (!fds[i].revents) continue;
      uint8_t buf[2048];
      const ssize_t n = ::recv(c, buf, sizeof buf, MSG_DONTWAIT);
      if (n <= 0) {
        if (n < 0 && errno == EAGAIN) continue;
        ::close(c);
        std::erase(clients, c);
        if (holder == c) holder = -1;
        continue;
      }
      Bytes request(buf, buf + n);
      Handler h;
      {
        std::lock_guard<std::mutex> g(m_lock);
        m_received.push_back(request);
        h = m_handler;
      }
      if (!h) continue;
      for (const Bytes& reply : h(request)) ::send(c, reply.data(), reply.size(), MSG_NOSIGNAL);
    }
    if (fds[1].revents & POLLIN) {
      const int c = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
      if (c < 0) continue;
      if (m_bulk && holder >= 0) {
        pollfd p{holder, POLLIN, 0};  // a holder whose peer is gone no longer holds
        if (::poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR))) {
          ::close(holder);
          std::erase(clients, holder);
          holder = -1;
        }
      }
      const uint8_t status = (m_bulk && holder >= 0) ? 0 : 1;
      ::send(c, &status, 1, MSG_NOSIGNAL);
      if (status == 0) {
        ::close(c);
        continue;
      }
      if (m_bulk) holder = c;
      clients.push_back(c);
    }
  }
  for (int c : clients) ::close(c);
}

nlohmann::json SimConfig(const std::string& kind, uint16_t vid, uint16_t pid, int iface,
                         const std::string& path, const std::string& location,
                         const std::string& serial, int size) {
  return {{"vid", vid},         {"pid", pid},       {"interface", iface}, {"kind", kind},
          {"in_size", size},    {"out_size", size}, {"serial", serial},   {"location", location},
          {"path", path}};
}

FakeSimDevice::Handler EchoHandler(int headerMode, size_t packetSize) {
  return [=](const Bytes& req) {
    framing::Parsed p;
    if (!framing::ParsePacket(req, headerMode, p)) return std::vector<Bytes>{};
    Bytes reply(packetSize);
    framing::FramePacket(reply, headerMode, p.seq,
                         std::span<const uint8_t>(req.data() + p.offset, p.length));
    return std::vector<Bytes>{reply};
  };
}

RawConnection::RawConnection(const std::string& sockPath) {
  m_fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
  const sockaddr_un a = Address(sockPath);
  if (::connect(m_fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0) return;
  uint8_t b = 0xFF;
  if (::recv(m_fd, &b, 1, 0) == 1) m_greeting = b;
}

RawConnection::~RawConnection() {
  if (m_fd >= 0) ::close(m_fd);
}
