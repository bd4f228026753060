// Serves emulated adapters on the emulator wire: one SOCK_SEQPACKET socket
// and one description file per USB interface in the serving folder, the open
// byte and the busy rule for bulk interfaces, one message per transfer, and
// a line-based control socket ("volink-sim.ctl") for plugging, pins and
// faults. One thread runs everything, so adapters need no locks.
//
// Peers are not trusted: a lock file keeps a second emulator off a served
// folder, connections are capped per interface, a connection whose replies
// pile up is not read until they drain, control lines are capped, and a
// failing accept (out of descriptors) pauses accepting instead of spinning.
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
#include "sim/WireCheck.h"

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
// Held (flock) by the emulator that serves the folder, for its whole life.
inline constexpr const char* kLockFileName = "volink-sim.lock";

// Bounds on what peers can make the emulator hold.
inline constexpr size_t kMaxQueuedReplies = 32;          // per connection, before reading stops
inline constexpr size_t kMaxConnectionsPerInterface = 32;
inline constexpr size_t kMaxControlConnections = 16;
inline constexpr size_t kMaxControlLine = 1024;          // bytes, without the line break
inline constexpr std::chrono::milliseconds kAcceptBackoff{100};
inline constexpr size_t kViolationLog = 32;              // latest violations kept for `ctl violations`

// Counters of the serving loop, for `ctl stats`.
struct ServerStats {
  size_t connections = 0;   // interface and control connections
  size_t queued = 0;        // replies waiting to be sent, all connections
  size_t peakQueued = 0;    // most replies one connection ever had waiting
  uint64_t acceptFailures = 0;  // accepts that failed for lack of resources
  uint64_t wakeups = 0;     // turns of the serving loop
};

class Server {
 public:
  // Creates the folder when missing and takes its lock; throws
  // std::runtime_error on failure, also when a live emulator serves the
  // folder (then nothing in it is touched).
  Server(SimConfig config, std::filesystem::path dir);
  ~Server();
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  void Start();  // serve on a thread of its own
  void Stop();   // safe from any thread; returns when serving has ended
  void Run();    // serve on the calling thread until Stop()

  const std::filesystem::path& Dir() const { return m_dir; }
  std::filesystem::path ControlPath() const { return m_dir / kControlSocketName; }
  std::filesystem::path LockPath() const { return m_dir / kLockFileName; }

  // Accepts that failed for lack of descriptors or memory; any thread.
  uint64_t AcceptFailures() const { return m_acceptFailures; }

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
    std::unique_ptr<WireCheck> check;  // the wire rules of the interface it was opened on
  };

  void Publish(size_t adapter);
  void Unpublish(size_t adapter);
  // A listening socket in the poll set: the control socket or an endpoint.
  struct ListenEntry {
    bool control = false;
    size_t adapter = 0;
    size_t endpoint = 0;
  };
  void Dispatch(const std::vector<pollfd>& fds, const std::vector<ListenEntry>& listening);
  void Accept(size_t adapter, Endpoint& ep);
  void AcceptControl();
  // false when accepting should stop for now (nothing pending, or a pause)
  bool AcceptFailed();
  void OnReadable(int fd, bool hangUp);
  void OnControlInput(Connection& c);
  void Flush(Connection& c, bool force);
  void CloseConnection(int fd);
  void Replug(size_t adapter);
  void RemoveFiles(size_t adapter);
  void CloseAdapterConnections(size_t adapter);
  bool HolderAlive(Endpoint& ep);
  int FindAdapter(const std::string& name) const;
  std::string PathTag() const;
  ServerStats Stats() const;
  void NoteViolations(const std::string& iface, const std::vector<Finding>& found);
  std::string ViolationReport() const;

  std::filesystem::path m_dir;
  Fd m_lock;
  std::vector<std::unique_ptr<Adapter>> m_adapters;
  std::vector<std::vector<Endpoint>> m_endpoints;  // published interfaces per adapter
  std::map<int, Connection> m_conns;
  Fd m_control;
  Fd m_wake;
  std::thread m_thread;
  std::atomic<bool> m_stop{false};
  SimClock::time_point m_acceptPausedUntil{};
  size_t m_peakQueued = 0;
  std::atomic<uint64_t> m_acceptFailures{0};
  uint64_t m_wakeups = 0;
  // Protocol violations per interface name, and the latest ones in words.
  std::map<std::string, ViolationCounts> m_violations;
  std::deque<std::string> m_violationLog;
};

}  // namespace sim
