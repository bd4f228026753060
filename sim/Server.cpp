#include "sim/Server.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <nlohmann/json.hpp>
#include <stdexcept>

namespace sim {
namespace {

constexpr size_t kMaxMessage = 2048;

Fd Listen(const std::filesystem::path& path, int type) {
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  const std::string p = path.string();
  if (p.size() >= sizeof(addr.sun_path)) throw std::runtime_error("socket path too long: " + p);
  std::memcpy(addr.sun_path, p.c_str(), p.size() + 1);
  Fd fd(::socket(AF_UNIX, type | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (!fd) throw std::runtime_error("socket: " + std::string(std::strerror(errno)));
  ::unlink(p.c_str());
  if (::bind(fd.Get(), reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0 || ::listen(fd.Get(), 16) != 0)
    throw std::runtime_error("cannot listen on " + p + ": " + std::strerror(errno));
  return fd;
}

bool SendMessage(int fd, const std::vector<uint8_t>& bytes, bool& wouldBlock) {
  wouldBlock = false;
  const ssize_t n = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
  if (n >= 0) return true;
  if (errno == EAGAIN || errno == EWOULDBLOCK) wouldBlock = true;
  return false;
}

void WriteFileAtomically(const std::filesystem::path& path, const std::string& text) {
  const std::filesystem::path tmp = path.parent_path() / ("." + path.filename().string() + ".tmp");
  {
    std::ofstream f(tmp, std::ios::trunc);
    f << text;
    if (!f) throw std::runtime_error("cannot write " + tmp.string());
  }
  std::filesystem::rename(tmp, path);
}

// Takes the folder's lock file, or throws when a live emulator holds it. The
// kernel drops the lock of an emulator that dies, so a left-over file does
// not block. An emulator that stops removes the file before it lets go; a
// lock taken on such a removed file is given up and taken anew.
Fd LockFolder(const std::filesystem::path& path) {
  for (int attempt = 0; attempt < 8; ++attempt) {
    Fd fd(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (!fd) throw std::runtime_error("cannot create " + path.string() + ": " + std::strerror(errno));
    if (::flock(fd.Get(), LOCK_EX | LOCK_NB) != 0) {
      if (errno != EWOULDBLOCK) throw std::runtime_error("cannot lock " + path.string() + ": " + std::strerror(errno));
      char text[24] = {};
      const ssize_t n = ::pread(fd.Get(), text, sizeof text - 1, 0);
      const long pid = n > 0 ? std::strtol(text, nullptr, 10) : 0;
      throw std::runtime_error("another volink-sim" + (pid > 0 ? " (process " + std::to_string(pid) + ")" : std::string()) +
                               " serves " + path.parent_path().string());
    }
    struct stat held {}, named {};
    if (::fstat(fd.Get(), &held) == 0 && ::stat(path.c_str(), &named) == 0 && held.st_dev == named.st_dev &&
        held.st_ino == named.st_ino) {
      const std::string pid = std::to_string(::getpid()) + "\n";
      if (::ftruncate(fd.Get(), 0) != 0 || ::pwrite(fd.Get(), pid.data(), pid.size(), 0) < 0) {
        // the process id is only for the message of a second emulator
      }
      return fd;
    }
  }
  throw std::runtime_error("cannot lock " + path.string());
}

}  // namespace

void Fd::Reset(int fd) {
  if (m_fd >= 0) ::close(m_fd);
  m_fd = fd;
}

Server::Server(SimConfig config, std::filesystem::path dir) : m_dir(std::move(dir)) {
  std::error_code ec;
  std::filesystem::create_directories(m_dir, ec);
  if (!std::filesystem::is_directory(m_dir)) throw std::runtime_error("cannot create " + m_dir.string());
  for (auto& a : config.adapters) m_adapters.push_back(std::make_unique<Adapter>(std::move(a)));
  m_endpoints.resize(m_adapters.size());
  m_wake = Fd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
  if (!m_wake) throw std::runtime_error("eventfd failed");
  m_lock = LockFolder(LockPath());  // before any socket or file is touched
  try {
    m_control = Listen(ControlPath(), SOCK_STREAM);
    for (size_t i = 0; i < m_adapters.size(); ++i)
      if (m_adapters[i]->Plugged()) Publish(i);
  } catch (...) {
    for (size_t i = 0; i < m_adapters.size(); ++i) RemoveFiles(i);
    if (m_control) ::unlink(ControlPath().c_str());
    ::unlink(LockPath().c_str());
    throw;
  }
}

Server::~Server() {
  Stop();
  for (size_t i = 0; i < m_adapters.size(); ++i) Unpublish(i);
  m_conns.clear();
  m_control.Reset();
  ::unlink(ControlPath().c_str());
  // Removed while still held: an emulator starting now locks a new file.
  ::unlink(LockPath().c_str());
  m_lock.Reset();
}

void Server::Start() { m_thread = std::thread([this] { Run(); }); }

void Server::Stop() {
  m_stop = true;
  const uint64_t one = 1;
  if (::write(m_wake.Get(), &one, sizeof(one)) < 0) {
    // the counter is saturated only if nobody reads it: the loop has ended
  }
  if (m_thread.joinable() && m_thread.get_id() != std::this_thread::get_id()) m_thread.join();
}

std::string Server::PathTag() const {
  uint32_t h = 2166136261u;
  for (char c : m_dir.string()) h = (h ^ static_cast<uint8_t>(c)) * 16777619u;
  char buf[16];
  std::snprintf(buf, sizeof buf, "%08x", h);
  return buf;
}

void Server::Publish(size_t ai) {
  Adapter& a = *m_adapters[ai];
  auto& eps = m_endpoints[ai];
  eps.clear();
  const auto ifaces = a.Interfaces();
  for (size_t i = 0; i < ifaces.size(); ++i) {
    Endpoint ep;
    ep.iface = i;
    ep.cfg = ifaces[i];
    ep.name = a.CurrentMode() == Adapter::Mode::Loader
                  ? a.Name() + "-loader"
                  : a.Name() + "-" + ifaces[i].kind + "-if" + std::to_string(ifaces[i].number);
    ep.listen = Listen(m_dir / (ep.name + ".sock"), SOCK_SEQPACKET);
    eps.push_back(std::move(ep));  // listed before its description exists: a failure below removes both
    Endpoint& e = eps.back();
    char ids[48];
    std::snprintf(ids, sizeof ids, "usb#vid_%04x&pid_%04x&mi_%02x", e.cfg.vid, e.cfg.pid, e.cfg.number);
    const std::string path = "sim-" + PathTag() + "/" + a.Name() + "/" + ids;
    nlohmann::json j = {{"vid", e.cfg.vid},
                        {"pid", e.cfg.pid},
                        {"interface", e.cfg.number},
                        {"kind", e.cfg.kind},
                        {"in_size", e.cfg.size},
                        {"out_size", e.cfg.size},
                        {"serial", a.Config().serial},
                        {"location", a.Config().location},
                        {"path", path},
                        {"adapter", a.Name()},
                        {"generation", a.Config().generation}};
    WriteFileAtomically(m_dir / (e.name + ".json"), j.dump(2) + "\n");
  }
}

void Server::Unpublish(size_t ai) {
  // Files first, so that a peer that sees its connection close finds the
  // interface gone.
  RemoveFiles(ai);
  CloseAdapterConnections(ai);
}

void Server::RemoveFiles(size_t ai) {
  for (auto& ep : m_endpoints[ai]) {
    std::error_code ec;
    std::filesystem::remove(m_dir / (ep.name + ".json"), ec);
    std::filesystem::remove(m_dir / (ep.name + ".sock"), ec);
  }
  m_endpoints[ai].clear();
}

void Server::CloseAdapterConnections(size_t ai) {
  for (auto it = m_conns.begin(); it != m_conns.end();) {
    if (!it->second.control && it->second.adapter == ai) {
      Flush(it->second, true);
      it = m_conns.erase(it);
    } else {
      ++it;
    }
  }
}

void Server::Replug(size_t ai) {
  // The new interfaces are in place before the old connections close.
  RemoveFiles(ai);
  if (m_adapters[ai]->Plugged()) Publish(ai);
  CloseAdapterConnections(ai);
}

bool Server::HolderAlive(Endpoint& ep) {
  if (ep.holder < 0) return false;
  auto it = m_conns.find(ep.holder);
  if (it == m_conns.end()) {
    ep.holder = -1;
    return false;
  }
  pollfd p{ep.holder, POLLRDHUP, 0};
  if (::poll(&p, 1, 0) > 0 && (p.revents & (POLLRDHUP | POLLHUP | POLLERR))) {
    CloseConnection(ep.holder);
    return false;
  }
  return true;
}

bool Server::AcceptFailed() {
  switch (errno) {
    case EINTR:
    case ECONNABORTED:
      return true;  // try the next one
    case EMFILE:
    case ENFILE:
    case ENOBUFS:
    case ENOMEM:
      // The pending connection stays readable on the listening socket:
      // stop polling listening sockets for a while rather than spin.
      ++m_acceptFailures;
      m_acceptPausedUntil = SimClock::now() + kAcceptBackoff;
      return false;
    default:
      return false;
  }
}

void Server::Accept(size_t ai, Endpoint& ep) {
  for (;;) {
    Fd fd(::accept4(ep.listen.Get(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK));
    if (!fd) {
      if (AcceptFailed()) continue;
      return;
    }
    const bool bulk = ep.cfg.kind != "hid";
    bool dummy = false;
    size_t open = 0;
    for (const auto& [key, c] : m_conns)
      if (!c.control && c.adapter == ai && c.iface == ep.iface) ++open;
    if ((bulk && (ep.held || HolderAlive(ep))) || open >= kMaxConnectionsPerInterface) {
      SendMessage(fd.Get(), {0}, dummy);
      continue;  // closing the connection after the busy byte
    }
    SendMessage(fd.Get(), {1}, dummy);
    const int key = fd.Get();
    if (bulk) ep.holder = key;
    Connection c;
    c.fd = std::move(fd);
    c.adapter = ai;
    c.iface = ep.iface;
    const Adapter& a = *m_adapters[ai];
    c.check = std::make_unique<WireCheck>(a.CurrentMode() == Adapter::Mode::Loader
                                              ? WireCheck::ForLoader(ep.cfg.size)
                                              : WireCheck::ForCommands(ep.cfg.size, a.Config().generation == 0 ? 0 : 1));
    m_conns.emplace(key, std::move(c));
  }
}

void Server::AcceptControl() {
  for (;;) {
    Fd fd(::accept4(m_control.Get(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK));
    if (!fd) {
      if (AcceptFailed()) continue;
      return;
    }
    size_t open = 0;
    for (const auto& [key, c] : m_conns) open += c.control ? 1 : 0;
    if (open >= kMaxControlConnections) continue;  // closed at once
    const int key = fd.Get();
    Connection c;
    c.fd = std::move(fd);
    c.control = true;
    m_conns.emplace(key, std::move(c));
  }
}

void Server::CloseConnection(int fd) {
  auto it = m_conns.find(fd);
  if (it == m_conns.end()) return;
  if (!it->second.control && it->second.adapter < m_endpoints.size())
    for (auto& ep : m_endpoints[it->second.adapter])
      if (ep.holder == fd) ep.holder = -1;
  m_conns.erase(it);
}

void Server::Flush(Connection& c, bool force) {
  const auto now = SimClock::now();
  while (!c.out.empty() && (force || c.out.front().due <= now)) {
    bool wouldBlock = false;
    if (!SendMessage(c.fd.Get(), c.out.front().bytes, wouldBlock) && wouldBlock && !force) return;
    c.out.pop_front();
  }
}

void Server::OnReadable(int fd, bool hangUp) {
  auto it = m_conns.find(fd);
  if (it == m_conns.end()) return;
  Connection& c = it->second;
  if (c.control) {
    OnControlInput(c);
    return;
  }
  if (c.out.size() >= kMaxQueuedReplies) {
    // Not read until its replies drain; a peer that has gone can take none.
    if (hangUp) CloseConnection(fd);
    return;
  }
  uint8_t buf[kMaxMessage];
  const ssize_t n = ::recv(fd, buf, sizeof buf, MSG_DONTWAIT);
  if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
    CloseConnection(fd);
    return;
  }
  if (n < 0) return;
  const size_t ai = c.adapter;
  Adapter& a = *m_adapters[ai];
  Endpoint* ep = nullptr;
  for (auto& e : m_endpoints[ai])
    if (e.iface == c.iface) ep = &e;
  if (!ep) return;
  const std::span<const uint8_t> message(buf, static_cast<size_t>(n));
  if (c.check) NoteViolations(ep->name, c.check->Check(message, !c.out.empty()));
  Actions act = a.OnMessage(c.iface, message);
  auto now = SimClock::now();
  auto when = now;
  if (a.UsbTiming()) {
    const auto t = Adapter::TransferTime(ep->cfg);
    when = std::max(now, ep->busyUntil) + t;  // the request itself
    for (auto& m : act.messages) {
      when += t;
      c.out.push_back({when + m.delay, std::move(m.bytes)});
    }
    ep->busyUntil = when;
  } else {
    for (auto& m : act.messages) c.out.push_back({now + m.delay, std::move(m.bytes)});
  }
  m_peakQueued = std::max(m_peakQueued, c.out.size());
  Flush(c, act.unplug);
  if (act.unplug) {
    a.SetPlugged(false);
    Unpublish(ai);
    return;
  }
  if (a.TakeRestart()) Replug(ai);
}

void Server::OnControlInput(Connection& c) {
  char buf[1024];
  const int fd = c.fd.Get();
  const ssize_t n = ::recv(fd, buf, sizeof buf, MSG_DONTWAIT);
  if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
    CloseConnection(fd);
    return;
  }
  if (n < 0) return;
  c.input.append(buf, static_cast<size_t>(n));
  auto answer = [fd](const std::string& text) {
    size_t off = 0;
    while (off < text.size()) {  // control answers are small; a peer that does not read loses them
      const ssize_t w = ::send(fd, text.data() + off, text.size() - off, MSG_NOSIGNAL);
      if (w <= 0) break;
      off += static_cast<size_t>(w);
    }
  };
  for (;;) {
    const size_t pos = c.input.find('\n');
    if ((pos == std::string::npos ? c.input.size() : pos) > kMaxControlLine) {
      answer("error: control line longer than " + std::to_string(kMaxControlLine) + " bytes\n");
      CloseConnection(fd);
      return;
    }
    if (pos == std::string::npos) return;
    const std::string line = c.input.substr(0, pos);
    c.input.erase(0, pos + 1);
    answer(Control(line));
    if (m_conns.find(fd) == m_conns.end()) return;
  }
}

ServerStats Server::Stats() const {
  ServerStats s;
  s.connections = m_conns.size();
  for (const auto& [fd, c] : m_conns) s.queued += c.out.size();
  s.peakQueued = m_peakQueued;
  s.acceptFailures = m_acceptFailures;
  s.wakeups = m_wakeups;
  return s;
}

void Server::Run() {
  ::prctl(PR_SET_TIMERSLACK, 1UL, 0, 0, 0);  // emulated USB timing wants wake-ups on time
  std::vector<pollfd> fds;
  std::vector<ListenEntry> listening;
  while (!m_stop) {
    fds.clear();
    listening.clear();
    fds.push_back({m_wake.Get(), POLLIN, 0});
    const auto now = SimClock::now();
    auto next = SimClock::time_point::max();
    if (now >= m_acceptPausedUntil) {
      fds.push_back({m_control.Get(), POLLIN, 0});
      listening.push_back({true, 0, 0});
      for (size_t ai = 0; ai < m_endpoints.size(); ++ai)
        for (size_t e = 0; e < m_endpoints[ai].size(); ++e) {
          fds.push_back({m_endpoints[ai][e].listen.Get(), POLLIN, 0});
          listening.push_back({false, ai, e});
        }
    } else {
      next = m_acceptPausedUntil;
    }
    for (auto& [fd, c] : m_conns) {
      // A connection with too many replies waiting is not read; hang-ups
      // and errors are reported all the same.
      short ev = c.control || c.out.size() < kMaxQueuedReplies ? POLLIN : 0;
      if (!c.out.empty()) {
        if (c.out.front().due <= now)
          ev |= POLLOUT;  // due: wait until the peer can take it
        else
          next = std::min(next, c.out.front().due);
      }
      fds.push_back({fd, ev, 0});
    }
    // Microsecond waits: emulated USB timing schedules replies 50 us apart.
    timespec ts{};
    timespec* timeout = nullptr;
    if (next != SimClock::time_point::max()) {
      const auto ns = std::max<int64_t>(0, std::chrono::duration_cast<std::chrono::nanoseconds>(next - SimClock::now()).count());
      ts.tv_sec = static_cast<time_t>(ns / 1000000000);
      ts.tv_nsec = static_cast<long>(ns % 1000000000);
      timeout = &ts;
    }
    const int r = ::ppoll(fds.data(), fds.size(), timeout, nullptr);
    if (r < 0 && errno != EINTR) break;
    if (m_stop) break;
    ++m_wakeups;
    try {
      Dispatch(fds, listening);
    } catch (const std::exception& e) {
      std::fprintf(stderr, "volink-sim: %s\n", e.what());
    }
  }
}

void Server::Dispatch(const std::vector<pollfd>& fds, const std::vector<ListenEntry>& listening) {
  if (fds[0].revents) {
    uint64_t v = 0;
    [[maybe_unused]] const ssize_t n = ::read(m_wake.Get(), &v, sizeof v);
  }
  for (size_t i = 0; i < listening.size(); ++i) {
    const pollfd& p = fds[1 + i];
    if (!(p.revents & POLLIN) || SimClock::now() < m_acceptPausedUntil) continue;
    const ListenEntry& l = listening[i];
    if (l.control)
      AcceptControl();
    else if (l.endpoint < m_endpoints[l.adapter].size() && m_endpoints[l.adapter][l.endpoint].listen.Get() == p.fd)
      Accept(l.adapter, m_endpoints[l.adapter][l.endpoint]);
  }
  // Handling a message may replug an adapter and close connections listed
  // here; OnReadable ignores descriptors that are no longer connections.
  for (size_t i = 1 + listening.size(); i < fds.size(); ++i)
    if (fds[i].revents & (POLLIN | POLLHUP | POLLERR)) OnReadable(fds[i].fd, (fds[i].revents & (POLLHUP | POLLERR)) != 0);
  for (auto& [fd, c] : m_conns) Flush(c, false);
}

void Server::NoteViolations(const std::string& iface, const std::vector<Finding>& found) {
  for (const Finding& f : found) {
    ++m_violations[iface].n[static_cast<size_t>(f.kind)];
    m_violationLog.push_back(iface + " " + ViolationName(f.kind) + ": " + f.text);
    if (m_violationLog.size() > kViolationLog) m_violationLog.pop_front();
  }
}

std::string Server::ViolationReport() const {
  std::string out;
  uint64_t total = 0;
  for (const auto& [name, counts] : m_violations) {
    out += name;
    for (size_t k = 0; k < kViolationKinds; ++k)
      out += std::string(" ") + ViolationName(static_cast<Violation>(k)) + " " + std::to_string(counts.n[k]);
    out += "\n";
    total += counts.Total();
  }
  for (const std::string& line : m_violationLog) out += "- " + line + "\n";
  return out + "ok violations " + std::to_string(total) + "\n";
}

int Server::FindAdapter(const std::string& name) const {
  for (size_t i = 0; i < m_adapters.size(); ++i)
    if (m_adapters[i]->Name() == name) return static_cast<int>(i);
  return -1;
}

}  // namespace sim
