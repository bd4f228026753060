// A TCP server for one gdb client at a time over one adapter object: POSIX
// sockets and poll(), loopback unless told otherwise. A second connection
// while a client is served gets an error packet and is closed. Step() does
// one bounded turn, so the server runs in a plain loop (Run), on a thread of
// its own, or from another event loop that watches its descriptors.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

class CICE;

namespace gdb {

class GdbSession;

class GdbServer {
 public:
  static constexpr uint16_t kDefaultPort = 3333;
  static constexpr const char* kDefaultAddress = "127.0.0.1";
  // How often a running core is checked for a stop.
  static constexpr int kPollMs = 20;
  // The error packet a second client gets.
  static constexpr const char* kBusyReply = "E.another gdb client is connected; one at a time";

  enum class Event { ClientConnected, ClientGone, Refused, Note };
  using EventHandler = std::function<void(Event, const std::string&)>;

  // Throws std::invalid_argument for an adapter object gdb cannot debug
  // (the 8051 1T layer).
  explicit GdbServer(CICE& ice);
  ~GdbServer();
  GdbServer(const GdbServer&) = delete;
  GdbServer& operator=(const GdbServer&) = delete;

  // Binds `address` (numeric IPv4 or IPv6) and `port` (0: any free one) and
  // listens; false with a reason in `error`.
  bool Listen(const std::string& address, uint16_t port, std::string& error);
  uint16_t Port() const { return m_nPort; }
  // "target extended-remote HOST:PORT"
  std::string TargetCommand() const;

  // Called on the serving thread (keep it short; no adapter calls).
  void SetEventHandler(EventHandler handler) { m_events = std::move(handler); }

  // One turn: waits at most `timeoutMs` (-1: until something happens) for
  // the client, a new connection or Stop(), and serves what came; checks a
  // running core every kPollMs.
  void Step(int timeoutMs);
  // Turns until Stop(); the client (if any) is let go at the end.
  void Run();
  // From any thread: ends Run() and wakes Step().
  void Stop();
  bool Stopping() const { return m_bStop.load(); }
  // The connected client ("127.0.0.1:40312"), empty when none; any thread.
  std::string Client() const;
  // Lets the client go (its breakpoints removed, the core left as it is).
  void DropClient();

 private:
  class Sink;
  void Accept();
  void ReadClient();
  void Emit(Event e, const std::string& text);

  CICE& m_ice;
  int m_listen = -1;
  int m_client = -1;
  int m_wake[2] = {-1, -1};
  uint16_t m_nPort = 0;
  std::string m_strAddress;
  std::unique_ptr<Sink> m_sink;
  std::unique_ptr<GdbSession> m_session;
  EventHandler m_events;
  std::atomic<bool> m_bStop{false};
  mutable std::mutex m_clientLock;  // guards m_strClient
  std::string m_strClient;
};

}  // namespace gdb
