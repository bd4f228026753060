#include "app/CDialogUpdateFW.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include "platform/StringTable.h"

using fwupdate::ProgressKind;

CDialogUpdateFW::CDialogUpdateFW(fwupdate::CUpdateEngine& engine, QWidget* parent, ShowMessage show)
    : QDialog(parent), m_engine(engine), m_show(std::move(show)) {
  setWindowTitle(QStringLiteral("Update firmware"));
  setModal(true);
  m_pStatus = new QLabel(this);
  m_pStatus->setWordWrap(true);
  m_pStatus->setMinimumWidth(380);
  m_pStatus->setMinimumHeight(48);
  m_pStatus->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  m_pProgress = new QProgressBar(this);
  m_pProgress->setRange(0, 100);
  m_pProgress->setValue(0);
  m_pProgress->setFormat(QString());
  m_pOk = new QPushButton(QStringLiteral("OK"), this);
  m_pCancel = new QPushButton(QStringLiteral("Cancel"), this);
  m_pOk->setAutoDefault(false);
  m_pCancel->setAutoDefault(false);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(m_pOk);
  buttons->addWidget(m_pCancel);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(m_pStatus);
  layout->addWidget(m_pProgress);
  layout->addLayout(buttons);
  // OK and Cancel are there but do nothing: the update cannot be left
  // half-way from here.
  m_endTimer.setInterval(100);
  connect(&m_endTimer, &QTimer::timeout, this, &CDialogUpdateFW::OnEndTimer);
}

CDialogUpdateFW::~CDialogUpdateFW() { StopWorker(); }

void CDialogUpdateFW::StopWorker() {
  m_bCurrent = false;
  {
    std::lock_guard<std::mutex> lock(m_boxLock);
    m_boxSeen.notify_all();
  }
  if (m_worker.joinable()) m_worker.join();
}

QString CDialogUpdateFW::StatusText() const { return m_pStatus->text(); }

void CDialogUpdateFW::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (m_worker.joinable() || m_bWorkerDone) return;
  m_worker = std::thread([this] {
    m_result = m_engine.Run(*this);
    m_bWorkerDone = true;
    Post(kClose, 0);
  });
}

void CDialogUpdateFW::closeEvent(QCloseEvent* event) {
  if (m_bMayClose) QDialog::closeEvent(event);
  else event->ignore();
}

// ---- worker side --------------------------------------------------------------

void CDialogUpdateFW::Post(int code, int value) {
  // Queued on the dialog: dropped when the dialog is gone.
  QMetaObject::invokeMethod(this, [this, code, value] { OnWorkerMessage(code, value); }, Qt::QueuedConnection);
}

void CDialogUpdateFW::Status(const std::string& text) {
  {
    ScopedMutex lock(m_lock);
    m_strStatus = text;
  }
  Post(kStatus, 0);
}

void CDialogUpdateFW::Progress(ProgressKind kind, int percent) {
  const int code = kind == ProgressKind::Read ? kRead : kind == ProgressKind::Verify ? kVerify : kUpdate;
  Post(code, percent);
}

void CDialogUpdateFW::Message(const std::string& text, Icon icon) {
  unsigned before = 0;
  {
    std::lock_guard<std::mutex> lock(m_boxLock);
    before = m_nBoxesShown;
  }
  QMetaObject::invokeMethod(
      this,
      [this, text, icon] {
        if (m_show) {
          m_show(this, text, icon);
        } else {
          QMessageBox box(icon == Icon::Stop      ? QMessageBox::Critical
                          : icon == Icon::Warning ? QMessageBox::Warning
                                                  : QMessageBox::Information,
                          QString::fromStdString(GadrelTitle()), QString::fromStdString(text), QMessageBox::Ok, this);
          box.exec();
        }
        std::lock_guard<std::mutex> lock(m_boxLock);
        ++m_nBoxesShown;
        m_boxSeen.notify_all();
      },
      Qt::QueuedConnection);
  // Waits for the user, or until the dialog goes away.
  std::unique_lock<std::mutex> lock(m_boxLock);
  m_boxSeen.wait(lock, [&] { return m_nBoxesShown != before || !m_bCurrent; });
}

// ---- user-interface side --------------------------------------------------------------

void CDialogUpdateFW::OnWorkerMessage(int code, int value) {
  switch (code) {
    case kClose:
      m_endTimer.start();
      break;
    case kStatus: {
      std::string text;
      {
        ScopedMutex lock(m_lock);
        text = m_strStatus;
      }
      m_pStatus->setText(QString::fromStdString(text));
      break;
    }
    case kRead:
    case kVerify:
    case kUpdate: {
      const ProgressKind kind =
          code == kRead ? ProgressKind::Read : code == kVerify ? ProgressKind::Verify : ProgressKind::Update;
      const int percent = std::clamp(value, 0, 100);
      m_pProgress->setFormat(QString::fromStdString(fwupdate::ProgressText(kind, percent)));
      m_pProgress->setValue(percent);
      break;
    }
    default: break;
  }
}

void CDialogUpdateFW::OnEndTimer() {
  if (!m_bWorkerDone) return;
  m_endTimer.stop();
  if (m_worker.joinable()) m_worker.join();
  m_bMayClose = true;
  done(QDialog::Accepted);
}
