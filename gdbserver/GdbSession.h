// One gdb client's session over an adapter object: fed with the bytes the
// client sends, it answers through a sink and drives the core through
// CortexGdbTarget. It never blocks on the client: while the core runs on
// gdb's behalf, the owner calls Poll() now and then, which checks for a
// stop (one adapter exchange), serves semihosting calls (their output goes
// to gdb's console) and sends the stop reply.
//
// Served: qSupported (PacketSize), QStartNoAckMode, qXfer:features:read,
// ?, g/G, p/P, m/M/X, c/C/s/S, vCont (c, s, t), the interrupt byte, Z0-Z4 /
// z0-z4, qRcmd (reset, reset halt, halt, resume), D, k, the thread queries
// of a single-thread target; anything else gets the empty reply.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "gdbserver/CortexGdbTarget.h"
#include "gdbserver/GdbPacket.h"

class CICE;

namespace gdb {

// Where the session's bytes go. Write returns false when the client is gone.
class IGdbSink {
 public:
  virtual ~IGdbSink() = default;
  virtual bool Write(std::string_view bytes) = 0;
};

class GdbSession {
 public:
  // The longest packet the session takes and advertises.
  static constexpr size_t kPacketSize = 0x8000;

  // Throws std::invalid_argument (CortexGdbTarget::kNotCortexM) for an
  // adapter object without a Cortex-M core.
  GdbSession(CICE& ice, IGdbSink& sink);
  ~GdbSession();
  GdbSession(const GdbSession&) = delete;
  GdbSession& operator=(const GdbSession&) = delete;

  void Feed(std::string_view bytes);
  // While the core runs for gdb: checks once whether it stopped. Returns
  // whether it still runs (poll again later).
  bool Poll();
  bool Running() const { return m_bRunning; }
  // After detach or kill: the owner closes the connection.
  bool Finished() const { return m_bFinished; }
  // The client went away (or the server closes): every break- and
  // watchpoint gdb set is removed; the core stays as it is.
  void Disconnected();
  // Adapter errors and other notes, for a log (may stay unset).
  void SetLog(std::function<void(const std::string&)> log) { m_log = std::move(log); }

 private:
  void HandlePacket(const std::string& payload);
  // The reply to one packet; `reply` false when none is due now (resume).
  std::string Dispatch(const std::string& payload, bool& reply);
  std::string Query(const std::string& payload);
  std::string Monitor(const std::string& command);
  std::string Memory(const std::string& payload);
  std::string Breakpoint(const std::string& payload);
  std::string VCont(const std::string& payload, bool& reply);
  std::string Resume(bool step, std::string_view address, bool& reply);
  std::string StopReply(int signal);
  // Sends a packet (and keeps it for a resend while acknowledgements are on).
  void Send(std::string_view payload);
  void Console(const std::string& text);
  void Log(const std::string& text);

  CortexGdbTarget m_target;
  IGdbSink& m_sink;
  PacketReader m_reader{kPacketSize};
  std::function<void(const std::string&)> m_log;
  std::string m_lastPacket;
  bool m_bAck = true;
  bool m_bRunning = false;   // the core runs and gdb waits for its stop
  bool m_bStepping = false;  // ... after a single step
  bool m_bFinished = false;
  int m_nResends = 0;
};

}  // namespace gdb
