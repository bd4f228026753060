// A tiny emulated USB interface for the tests: listens on <dir>/<name>.sock
// (SOCK_SEQPACKET), writes <dir>/<name>.json once it listens, greets every
// connection with 1 (or 0 when a bulk interface is already held) and answers
// each message with whatever the handler returns.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

using Bytes = std::vector<uint8_t>;

class FakeSimDevice {
 public:
  using Handler = std::function<std::vector<Bytes>(const Bytes& request)>;

  FakeSimDevice(const std::string& dir, const std::string& name, const nlohmann::json& config,
                Handler handler = {});
  ~FakeSimDevice();
  FakeSimDevice(const FakeSimDevice&) = delete;
  FakeSimDevice& operator=(const FakeSimDevice&) = delete;

  void SetHandler(Handler h);
  std::vector<Bytes> Received();
  // Waits (at most 5 s) until `count` messages have arrived; returns them.
  std::vector<Bytes> WaitForReceived(size_t count);
  const std::string& SocketPath() const { return m_sock; }

 private:
  void Run();

  std::string m_sock, m_json;
  bool m_bulk = false;
  int m_listen = -1;
  int m_wake[2] = {-1, -1};
  std::mutex m_lock;
  Handler m_handler;
  std::vector<Bytes> m_received;
  std::thread m_thread;
};

// Configuration of an emulated interface with the wire's keys.
nlohmann::json SimConfig(const std::string& kind, uint16_t vid, uint16_t pid, int iface,
                         const std::string& path, const std::string& location = "1-4.2",
                         const std::string& serial = "A1B2", int size = 64);

// Answers every request with the same sequence number and payload.
FakeSimDevice::Handler EchoHandler(int headerMode, size_t packetSize);

// A raw connection to an emulated interface (another program holding it).
class RawConnection {
 public:
  explicit RawConnection(const std::string& sockPath);
  ~RawConnection();
  int Greeting() const { return m_greeting; }

 private:
  int m_fd = -1;
  int m_greeting = -1;
};
