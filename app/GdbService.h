// The pin view's GDB server: serves gdb on the view's own adapter object
// from a thread of its own, while the view keeps refreshing on the GUI
// thread. The adapter layer's command lock lets the two take turns, one
// adapter operation (at most one streamed chunk) at a time, in the order
// they asked; the view only reads, so it never resumes a core gdb halted.
// Events of the serving thread reach the GUI thread as queued signals.
#pragma once

#include <QObject>
#include <QString>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

class CICE;
namespace gdb {
class GdbServer;
}

class GdbService : public QObject {
  Q_OBJECT
 public:
  static constexpr uint16_t kDefaultPort = 3333;

  explicit GdbService(QObject* parent = nullptr);
  // Stops serving (a client is let go: its breakpoints removed, the core
  // left as it is).
  ~GdbService() override;

  // Serves `ice` on 127.0.0.1:`port` (0: any free port); false with the
  // reason (an 8051 adapter object, a port in use).
  bool Start(CICE& ice, uint16_t port, std::string& error);
  void Stop();
  bool IsRunning() const { return m_server != nullptr; }
  uint16_t Port() const;
  // "target extended-remote 127.0.0.1:3333"
  std::string TargetCommand() const;
  // For the status line: "GDB server on port 3333: no client" /
  // "GDB server on port 3333: client 127.0.0.1:40312"; empty when off.
  QString StatusText() const;

 signals:
  // The client came or went, or serving started or stopped.
  void StatusChanged(const QString& text);
  // A client that had connected is gone.
  void ClientLeft();
  // An adapter error or other note of the session.
  void Note(const QString& text);

 private:
  std::unique_ptr<gdb::GdbServer> m_server;
  std::thread m_thread;
  QString m_client;  // GUI thread's copy
};
