// Serves emulated adapters on the emulator wire: one SOCK_SEQPACKET socket
// and one description file per USB interface in the serving folder, the open
// byte and the busy rule for bulk interfaces, one message per transfer, and
// a line-based control socket ("volink-sim.ctl") for plugging, pins and
// faults. One thread runs everything, so adapters need no locks.
#pragma once

#include <poll.h>

#include <atomic>
#include <chrono>
#include <deque>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "sim/Adapter.h"
#include "sim/SimConfig.h"

namespace sim {

// Owns a file descriptor.
class Fd {
 public:
  Fd() = default;
  explicit Fd(int fd) : m_fd(fd) {}
  Fd(Fd&& o) noexcept : m_fd(o.Release()) {}
  Fd& operator=(Fd&& o) noexcept {
    if (this != &o) Reset(o.Release());
    return *this;
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  ~Fd() { Reset(); }
  int Get() const { return m_fd; }
  int Release() {
    const int f = m_fd;
    m_fd = -1;
    return f;
  }
  void Reset(int fd = -1);
  explicit operator bool() const { return m_fd >= 0; }

 private:
  int m_fd = -1;
};

inline constexpr const char* kControlSocketName = "volink-sim.ctl";

class Server {
 public:
  // Creates the folder when missing; throws std::runtime_error on failure.
  Server(SimConfig config, std::filesystem::path dir);
  ~Server();
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  void Start();  // serve on a thread of its own
  void Stop();   // safe from any thread; returns when serving has ended
  void Run();    // serve on the calling thread until Stop()

  const std::filesystem::path& Dir() const { return m_dir; }
  std::filesystem::path ControlPath() const { return m_dir / kControlSocketName; }

  // One control command; returns the answer lines, the last one "ok..." or
  // "error: ...". Runs on the serving thread.
  std::string Control(const std::string& line);

 private:
  struct Pending {
    SimClock::time_point due;
    std::vector<uint8_t> bytes;
  };
  struct Endpoint {
    size_t iface = 0;
    InterfaceConfig cfg;
    std::string name;
    Fd listen;
    int holder = -1;  // connection that holds a bulk interface
    bool held = false;
    SimClock::time_point busyUntil{};
  };
  struct Connection {
    Fd fd;
    size_t adapter = 0;
    size_t iface = 0;
    std::deque<Pending> out;
    bool control = false;
    std::string input;
  };

  void Publish(size_t adapter);
  void Unpublish(size_t adapter);
  void Dispatch(const std::vector<pollfd>& fds, const std::vector<std::pair<size_t, size_t>>& listenOf,
                size_t firstConn);
  void Accept(size_t adapter, Endpoint& ep);
  void AcceptControl();
  void OnReadable(int fd);
  void OnControlInput(Connection& c);
  void Flush(Connection& c, bool force);
  void CloseConnection(int fd);
  void Replug(size_t adapter);
  void RemoveFiles(size_t adapter);
  void CloseAdapterConnections(size_t adapter);
  bool HolderAlive(Endpoint& ep);
  int FindAdapter(const std::string& name) const;
  std::string PathTag() const;

  std::filesystem::path m_dir;
  std::vector<std::unique_ptr<Adapter>> m_adapters;
  std::vector<std::vector<Endpoint>> m_endpoints;  // published interfaces per adapter
  std::map<int, Connection> m_conns;
  Fd m_control;
  Fd m_wake;
  std::thread m_thread;
  std::atomic<bool> m_stop{false};
};

}  // namespace sim
