#include "app/GdbService.h"

#include "gdbserver/GdbServer.h"

GdbService::GdbService(QObject* parent) : QObject(parent) {}

GdbService::~GdbService() { Stop(); }

bool GdbService::Start(CICE& ice, uint16_t port, std::string& error) {
  Stop();
  std::unique_ptr<gdb::GdbServer> server;
  try {
    server = std::make_unique<gdb::GdbServer>(ice);
  } catch (const std::invalid_argument& e) {
    error = e.what();
    return false;
  }
  if (!server->Listen(gdb::GdbServer::kDefaultAddress, port, error)) return false;
  // Called on the serving thread: hand over to the GUI thread.
  server->SetEventHandler([this](gdb::GdbServer::Event e, const std::string& text) {
    const QString qtext = QString::fromStdString(text);
    QMetaObject::invokeMethod(
        this,
        [this, e, qtext] {
          switch (e) {
            case gdb::GdbServer::Event::ClientConnected: m_client = qtext; break;
            case gdb::GdbServer::Event::ClientGone:
              m_client.clear();
              emit ClientLeft();
              break;
            case gdb::GdbServer::Event::Refused:
              emit Note(QStringLiteral("GDB server: refused a second client from ") + qtext);
              return;
            case gdb::GdbServer::Event::Note: emit Note(QStringLiteral("GDB server: ") + qtext); return;
          }
          emit StatusChanged(StatusText());
        },
        Qt::QueuedConnection);
  });
  m_server = std::move(server);
  gdb::GdbServer* s = m_server.get();
  m_thread = std::thread([s] { s->Run(); });
  emit StatusChanged(StatusText());
  return true;
}

void GdbService::Stop() {
  if (!m_server) return;
  m_server->Stop();
  if (m_thread.joinable()) m_thread.join();
  m_server.reset();
  m_client.clear();
  emit StatusChanged(QString());
}

uint16_t GdbService::Port() const { return m_server ? m_server->Port() : 0; }

std::string GdbService::TargetCommand() const { return m_server ? m_server->TargetCommand() : std::string(); }

QString GdbService::StatusText() const {
  if (!m_server) return {};
  const QString head = QStringLiteral("GDB server on port %1: ").arg(m_server->Port());
  return head + (m_client.isEmpty() ? QStringLiteral("no client") : QStringLiteral("client ") + m_client);
}
