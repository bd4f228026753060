#include "gdbserver/GdbServe.h"

#include <signal.h>

#include <atomic>
#include <ostream>

#include "gdbserver/GdbServer.h"

namespace gdb {
namespace {

// The server a signal ends (set only while ServeUntilSignalled runs).
std::atomic<GdbServer*> g_serving{nullptr};

extern "C" void OnStopSignal(int) {
  if (GdbServer* s = g_serving.load()) s->Stop();  // an atomic store and a write(): signal-safe
}

class SignalScope {
 public:
  explicit SignalScope(GdbServer& server) {
    g_serving.store(&server);
    struct sigaction sa {};
    sa.sa_handler = OnStopSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, &m_oldInt);
    sigaction(SIGTERM, &sa, &m_oldTerm);
  }
  ~SignalScope() {
    sigaction(SIGINT, &m_oldInt, nullptr);
    sigaction(SIGTERM, &m_oldTerm, nullptr);
    g_serving.store(nullptr);
  }
  SignalScope(const SignalScope&) = delete;
  SignalScope& operator=(const SignalScope&) = delete;

 private:
  struct sigaction m_oldInt {}, m_oldTerm {};
};

}  // namespace

int ServeUntilSignalled(CICE& ice, const std::string& address, uint16_t port, std::ostream& out,
                        std::ostream& err) {
  GdbServer server(ice);
  std::string error;
  if (!server.Listen(address, port, error)) {
    err << "gdbserver: " << error << "\n";
    return 1;
  }
  server.SetEventHandler([&err](GdbServer::Event e, const std::string& text) {
    switch (e) {
      case GdbServer::Event::ClientConnected: err << "gdb connected from " << text << "\n"; break;
      case GdbServer::Event::ClientGone: err << "gdb disconnected\n"; break;
      case GdbServer::Event::Refused: err << "refused a second gdb client from " << text << "\n"; break;
      case GdbServer::Event::Note: err << text << "\n"; break;
    }
    err.flush();
  });
  SignalScope signals(server);
  out << "GDB server listening on " << address << ":" << server.Port() << " (Ctrl+C ends it); in gdb:\n"
      << "  " << server.TargetCommand() << std::endl;
  server.Run();
  return 0;
}

}  // namespace gdb
