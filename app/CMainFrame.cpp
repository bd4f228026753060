#include "app/CMainFrame.h"

#include <QAction>
#include <QCloseEvent>
#include <QFileDialog>
#include <QLabel>
#include <QStatusBar>
#include <QMenuBar>
#include <QMessageBox>
#include <QSplitter>

#include "app/CPrintView.h"
#include "app/CVoGadrelView.h"
#include "app/GdbService.h"
#include "app/MessageDialogs.h"
#include "platform/StringTable.h"
#include "app/TimelineStrip.h"

CMainFrame::CMainFrame(QWidget* parent)
    : QMainWindow(parent), m_pGdb(std::make_unique<GdbService>()), m_nGdbPort(GdbService::kDefaultPort) {
  QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
  QAction* run = file->addAction(QStringLiteral("&Run script..."));
  run->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_R));
  connect(run, &QAction::triggered, this, &CMainFrame::OnRunScript);
  QAction* exportHistory = file->addAction(QStringLiteral("Export pin history..."));
  file->addSeparator();
  QAction* exit = file->addAction(QStringLiteral("E&xit"));
  connect(exit, &QAction::triggered, this, &QWidget::close);
  QMenu* debug = menuBar()->addMenu(QStringLiteral("&Debug"));
  m_pGdbAction = debug->addAction(QStringLiteral("GDB server"));
  m_pGdbAction->setCheckable(true);
  connect(m_pGdbAction, &QAction::triggered, this, [this](bool on) {
    std::string error;
    if (!on) {
      StopGdbServer();
    } else if (!StartGdbServer(m_nGdbPort, error)) {
      QMessageBox::critical(this, windowTitle(), QString::fromStdString(error));
    }
  });
  connect(m_pGdb.get(), &GdbService::StatusChanged, this, [this](const QString& text) {
    m_pGdbAction->setChecked(m_pGdb->IsRunning());
    if (!m_pGdbStatus) {
      if (text.isEmpty()) return;
      m_pGdbStatus = new QLabel(this);
      statusBar()->addPermanentWidget(m_pGdbStatus);
    }
    m_pGdbStatus->setText(text);
    statusBar()->setVisible(!text.isEmpty());
  });
  connect(m_pGdb.get(), &GdbService::Note, this,
          [this](const QString& text) { m_pView->PrintText((text + QLatin1Char('\n')).toStdString()); });
  QMenu* help = menuBar()->addMenu(QStringLiteral("&Help"));
  QAction* about = help->addAction(QStringLiteral("&About..."));
  connect(about, &QAction::triggered, this, &CMainFrame::OnAbout);

  m_pSplitter = new QSplitter(Qt::Horizontal, this);
  m_pSplitter->setChildrenCollapsible(false);
  // The pin view with the timeline under it, in a splitter of their own.
  auto* pins = new QSplitter(Qt::Vertical, m_pSplitter);
  m_pView = new CVoGadrelView(pins);
  m_pTimeline = new TimelineStrip(m_pView, pins);
  m_pTimeline->hide();
  pins->addWidget(m_pView);
  pins->addWidget(m_pTimeline);
  // A bigger window gives the package the room; the timeline keeps its size.
  pins->setStretchFactor(0, 1);
  pins->setStretchFactor(1, 0);
  connect(exportHistory, &QAction::triggered, m_pTimeline, &TimelineStrip::ExportHistory);
  m_pPrintView = new CPrintView(m_pSplitter);
  pins->setMinimumWidth(10);
  m_pPrintView->setMinimumWidth(10);
  m_pSplitter->addWidget(pins);
  m_pSplitter->addWidget(m_pPrintView);
  m_pSplitter->setSizes({500, 200});
  m_pView->SetPrintPane(m_pPrintView);
  setCentralWidget(m_pSplitter);
  m_bSplitterCreated = true;
}

CMainFrame::~CMainFrame() = default;

void CMainFrame::resizeEvent(QResizeEvent* event) {
  QMainWindow::resizeEvent(event);
  if (!m_bSplitterCreated) return;
  const int w = m_pSplitter->width();
  m_pSplitter->setSizes({std::max(10, w * 5 / 7), std::max(10, w * 2 / 7)});
}

void CMainFrame::OnRunScript() {
  if (m_pView->IsUserScriptRunning()) {
    QMessageBox::critical(this, windowTitle(), QStringLiteral("An user's lua script is running."));
    return;
  }
  const QString path = QFileDialog::getOpenFileName(this, QString(), QString(), QStringLiteral("Script Files(*.lua)"),
                                                    nullptr, QFileDialog::DontResolveSymlinks);
  if (path.isEmpty()) return;
  RunScript(path);
}

void CMainFrame::RunScript(const QString& path) {
  if (m_pView->IsUserScriptRunning()) return;
  m_pView->RunUserScriptFile(path.toStdString());
  if (m_bCloseAfterScript) {
    m_bCloseAfterScript = false;
    QMetaObject::invokeMethod(this, "close", Qt::QueuedConnection);
  }
}

bool CMainFrame::StartGdbServer(uint16_t port, std::string& error) {
  CICE* ice = m_pView->AdapterObject();
  if (!ice || !m_pGdb->Start(*ice, port, error)) {
    if (!ice) error = "the pin view has no adapter object yet";
    m_pGdbAction->setChecked(false);
    return false;
  }
  m_nGdbPort = m_pGdb->Port();
  return true;
}

void CMainFrame::StopGdbServer() { m_pGdb->Stop(); }

void CMainFrame::OnAbout() {
  CAboutDlg dialog(this);
  dialog.exec();
}

void CMainFrame::closeEvent(QCloseEvent* event) {
  if (!m_pView->IsUserScriptRunning()) {
    event->accept();
    return;
  }
  event->ignore();
  // Asked already: the script stops at its next instructions and the close
  // follows.
  if (m_bCloseAfterScript) return;
  const auto answer = QMessageBox::question(
      this, windowTitle(), QStringLiteral("User's lua script is running.\nClose the application anyway now?\n"),
      QMessageBox::Yes | QMessageBox::No);
  if (answer == QMessageBox::Yes && m_pView->IsUserScriptRunning()) {
    m_bCloseAfterScript = true;
    m_pView->AbortUserScript();
  } else if (answer == QMessageBox::Yes) {
    QMetaObject::invokeMethod(this, "close", Qt::QueuedConnection);
  }
}
