// The pin view's life: controls, script hosts, the refresh cycle, user
// scripts and the output sink. Drawing and mouse handling are in
// PinViewInteraction.cpp.
#include "app/CVoGadrelView.h"

#include <sys/stat.h>

#include <QComboBox>
#include <QCoreApplication>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QScrollBar>
#include <cstdio>
#include <iostream>
#include <utility>

#include "app/CDialogSelectBox.h"
#include "app/CPrintView.h"
#include "pinmodel/PackageLayout.h"
#include "pinmodel/PackageReader.h"
#include "app/ViewSettings.h"
#include "platform/ProgramInfo.h"

namespace {
constexpr int kFirstTickMs = 1;

// Asks the pin script for the package through its host, under the host's
// time limit.
bool GetPinStatus(CICECmd& host, PackageInfo& info, bool arg) {
  info.Reset();
  PinStatusCall call{&info, arg, false};
  host.CallProtected(CallGetStatus, &call, "get_status");
  return call.called;
}

// Clears a flag when the scope ends.
struct FlagGuard {
  bool& flag;
  ~FlagGuard() { flag = false; }
};
}  // namespace

ScriptStamp ReadScriptStamp(const std::string& path) {
  struct stat st {};
  if (path.empty() || ::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return {};
  ScriptStamp s;
  s.exists = true;
  s.size = static_cast<int64_t>(st.st_size);
  s.mtimeNs = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  return s;
}

CVoGadrelView::CVoGadrelView(QWidget* parent)
    : QAbstractScrollArea(parent), m_pAdapters(std::make_unique<CPinViewAdapters>(&m_userInteraction)) {
  setObjectName(QStringLiteral("pinView"));
  m_userInteraction.SetOwnerWindow(static_cast<IPrintSink*>(this), this);
  m_pFirmwareCheck = std::make_unique<CQtFirmwareCheck>(this);
  m_pAdapters->CortexM().SetFirmwareCheck(m_pFirmwareCheck->Check());
  m_pAdapters->Ostra1T().SetFirmwareCheck(m_pFirmwareCheck->Check());
  m_pinHost.SetUserInteraction(&m_userInteraction);
  m_pinHost.SetCallTimeLimit(kPinScriptTimeLimit);
  m_userHost.SetUserInteraction(&m_userInteraction);
  viewport()->setMouseTracking(true);
  viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
  viewport()->setAttribute(Qt::WA_NoSystemBackground);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  m_refreshTimer.setTimerType(Qt::PreciseTimer);
  connect(&m_refreshTimer, &QTimer::timeout, this, &CVoGadrelView::RefreshPins);
  CreateControls();
  SyncScene();
}

CVoGadrelView::~CVoGadrelView() {
  m_refreshTimer.stop();
  m_toolTip.HideTooltip();
  m_pinHost.CallScriptFunction("disconnect", "");
  // Members go in reverse order: the hosts close their states before the
  // adapter objects they use are destroyed.
}

void CVoGadrelView::CreateControls() {
  QWidget* vp = viewport();
  m_pZoomOut = new QPushButton(QStringLiteral("-"), vp);
  m_pZoomOut->setGeometry(10, 10, 30, 20);
  m_pZoomLabel = new QLabel(ZoomText(), vp);
  m_pZoomLabel->setAlignment(Qt::AlignCenter);
  m_pZoomLabel->setGeometry(42, 10, 40, 20);
  m_pZoomIn = new QPushButton(QStringLiteral("+"), vp);
  m_pZoomIn->setGeometry(85, 10, 30, 20);
  m_pPeriodLabel = new QLabel(QStringLiteral("Freq: "), vp);
  m_pPeriodLabel->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  m_pPeriodLabel->setGeometry(10, 35, 40, 23);
  m_pPeriodList = new QComboBox(vp);
  m_pPeriodList->setGeometry(50, 35, 65, 24);
  m_pPeriodList->setMaxVisibleItems(5);
  m_pPeriodList->addItems(PeriodListEntries());
  m_pPeriodList->setCurrentIndex(1);
  for (QWidget* w : {static_cast<QWidget*>(m_pZoomOut), static_cast<QWidget*>(m_pZoomIn),
                     static_cast<QWidget*>(m_pPeriodList)}) {
    w->setFocusPolicy(Qt::NoFocus);
  }
  connect(m_pZoomIn, &QPushButton::clicked, this, &CVoGadrelView::ZoomIn);
  connect(m_pZoomOut, &QPushButton::clicked, this, &CVoGadrelView::ZoomOut);
  connect(m_pPeriodList, &QComboBox::currentIndexChanged, this, &CVoGadrelView::OnPeriodSelected);
}

void CVoGadrelView::SetPrintPane(CPrintView* pane) { m_pPrintPane = pane; }

void CVoGadrelView::PrintText(std::string_view text) {
  if (m_pPrintPane != nullptr) m_pPrintPane->AppendText(text);
  if (m_bEchoStderr) {
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fflush(stderr);
  }
}

void CVoGadrelView::OnInitialUpdate(const StartOptions& options) {
  if (m_bInitialised) return;
  m_bInitialised = true;
  m_bTimerEnabled = options.startTimer;

  // 1. Program folder and pin script.
  m_strAppDir = QCoreApplication::applicationDirPath().toStdString();
  // <program dir>/../Gadrel/gadrel.lua (the build tree); an installed
  // program keeps it in the installed data folder.
  m_strPinScript = options.pinScript.empty()
                       ? platform::FindProgramData("../Gadrel/gadrel.lua", "Gadrel/gadrel.lua").string()
                       : options.pinScript;

  // 2. and 3. Chip series; every outcome but "8051 1T" with OK is Cortex-M.
  if (options.series) {
    m_series = *options.series;
  } else {
    CDialogSelectBox dialog("Select Chip Series", 0, {"Cortex-M", "8051 1T"}, this);
    m_series = dialog.exec() == QDialog::Accepted && dialog.Selection() == static_cast<int>(ChipSeries::Ostra1T)
                   ? ChipSeries::Ostra1T
                   : ChipSeries::CortexM;
  }
  if (options.headless) {
    m_pHeadlessUi = std::make_unique<CHeadlessUserInteraction>(std::cerr);
    m_pHeadlessCheck = std::make_unique<CHeadlessFirmwareCheck>(std::cerr, m_pFirmwareCheck->Options());
    m_pAdapters->CortexM().SetFirmwareCheck(m_pHeadlessCheck.get());
    m_pAdapters->Ostra1T().SetFirmwareCheck(m_pHeadlessCheck.get());
    m_pAdapters->CortexM().SetUserInteraction(m_pHeadlessUi.get());
    m_pAdapters->Ostra1T().SetUserInteraction(m_pHeadlessUi.get());
    m_pinHost.SetUserInteraction(m_pHeadlessUi.get());
    m_userHost.SetUserInteraction(m_pHeadlessUi.get());
  }
  if (options.adapter) {
    for (CVoOwnership* adapter : {static_cast<CVoOwnership*>(&m_pAdapters->CortexM()),
                                  static_cast<CVoOwnership*>(&m_pAdapters->Ostra1T())}) {
      adapter->SetAdapterNumber(*options.adapter);
      adapter->SetRefusalReport(NamedAdapterReport(*options.adapter, std::cerr));
    }
  }
  CICE* adapter = m_pAdapters->ForSeries(m_series);
  if (m_pinHost.InitScript(adapter, "Gadrel", m_strAppDir.c_str())) {
    m_pinHost.SetGlobalString("CHIP_SERIES", ChipSeriesName(m_series));
  }
  // 4. The view is the output sink of both states.
  void* const sink = static_cast<IPrintSink*>(this);
  m_pinHost.SetGlobalObject(kPrintSinkGlobal, sink);

  // 5. First run of the pin script.
  m_scriptStamp = ReadScriptStamp(m_strPinScript);
  if (m_scriptStamp.exists && !RunPinScript(m_scriptStamp) && !m_pinHost.LastCallTimedOut()) m_scriptStamp = {};

  // 6. User-script host.
  m_userHost.InitUserScript(adapter, "Gadrel_User", nullptr);
  m_userHost.SetGlobalObject(kPrintSinkGlobal, sink);

  // 7. The first refresh comes at once.
  if (m_bTimerEnabled) m_refreshTimer.start(kFirstTickMs);

  // 8. Canvas, tooltip, context menu, initial scroll position.
  UpdateScrollSizes();
  m_toolTip.Create(viewport());
  m_pContextMenu = new QMenu(this);
  m_pShowAllAction = m_pContextMenu->addAction(QStringLiteral("Show all pin functions"));
  m_pShowAllAction->setCheckable(true);
  connect(m_pShowAllAction, &QAction::triggered, this, &CVoGadrelView::ToggleShowAllFunctions);
  m_bShowAllFunctions = true;
  m_pShowAllAction->setChecked(true);
  SyncScene();
  ScrollTo(QPoint(kInitialScrollX, kInitialScrollY));
  if (options.zoomTenths != m_nZoomTenths) SetZoomTenths(options.zoomTenths);
}

void CVoGadrelView::RefreshPins() {
  if (m_bBusy || m_bClosing) return;
  m_bBusy = true;
  FlagGuard busy{m_bBusy};

  if (m_bRestartTimer) {
    m_bRestartTimer = false;
    ApplyInterval();
  }

  const ScriptStamp now = ReadScriptStamp(m_strPinScript);
  if (!now.exists) m_strScriptError.clear();
  if (now.exists && (now.mtimeNs != m_scriptStamp.mtimeNs || now.size != m_scriptStamp.size)) {
    // A file that fails is tried again at every tick until it runs, but one
    // that ran into the time limit waits for its next change: running it
    // again would freeze the window for the whole limit at every tick.
    if (RunPinScript(now) || m_pinHost.LastCallTimedOut()) m_scriptStamp = now;
  }

  // A get_status (or the reading of its table) that runs into the time limit
  // says so on every tick; any other failure stays silent.
  PackageInfo fresh;
  const auto before = std::chrono::steady_clock::now();
  GetPinStatus(m_pinHost, fresh, false);
  const auto after = std::chrono::steady_clock::now();
  m_nLastRefreshUs =
      std::chrono::duration_cast<std::chrono::microseconds>((before + (after - before) / 2).time_since_epoch()).count();
  if (m_pinHost.LastCallTimedOut()) PrintText(m_pinHost.GetLastScriptError() + "\n");
  // A file that does not load shows why in red until it changes; what it
  // defined before may still draw the chip.
  if (!m_strScriptError.empty()) fresh.information = m_strScriptError;
  SayWhyNotDrawn(fresh);
  // An idle chip returns the same package tick after tick; drawing it again
  // would be most of the view's work, so only a change repaints.
  const bool changed = !(fresh == m_scene.Package());
  if (changed) m_scene.SetPackage(std::move(fresh));

  if (m_pAdapters->SelectionCancelled()) {
    // The program ends. No refresh may run between this request and the
    // close: the pin script would open the port again and ask the user
    // again, in a dialog left over the closed window.
    m_bClosing = true;
    m_refreshTimer.stop();
    if (QWidget* frame = window()) QMetaObject::invokeMethod(frame, "close", Qt::QueuedConnection);
  } else if (changed) {
    UpdateChanged();
  }
  emit Refreshed();
}

bool CVoGadrelView::RunPinScript(const ScriptStamp& stamp) {
  if (m_pinHost.RunScriptFile(m_strPinScript, false)) {
    m_strScriptError.clear();
    return true;
  }
  m_strScriptError = m_pinHost.GetLastScriptError();
  if (!(stamp == m_errorStamp)) {
    m_errorStamp = stamp;
    PrintText(m_strScriptError + "\n");
  }
  return false;
}

void CVoGadrelView::SayWhyNotDrawn(const PackageInfo& info) {
  if (info.pins.empty()) return;
  const std::string reason = UndrawableReason(info.pins.size(), info.pkg_frame);
  if (reason.empty()) return;
  // Said once for each pin count and frame, whatever the package's name (a
  // name that changes at every tick must not fill the pane); the memory
  // stays bounded for a script that tries every count.
  constexpr size_t kMaxRemembered = 256;
  if (m_undrawableSaid.size() >= kMaxRemembered) m_undrawableSaid.clear();
  if (!m_undrawableSaid.emplace(info.pins.size(), info.pkg_frame).second) return;
  PrintText((info.name.empty() ? std::string() : info.name + ": ") + reason + "\n");
}

bool CVoGadrelView::RunUserScriptFile(const std::string& path) {
  if (m_userHost.IsScriptRunning()) return false;
  if (m_userHost.RunScriptFile(path, true)) {
    RefreshPins();
    return true;
  }
  PrintText(m_userHost.GetLastScriptError() + "\n");
  return false;
}

void CVoGadrelView::OnPeriodSelected(int index) {
  if (index < 0 || index >= m_pPeriodList->count()) return;
  m_fRefreshPeriod = ParsePeriod(m_pPeriodList->itemText(index));
  ApplyInterval();
}

int CVoGadrelView::RefreshIntervalMs() const {
  const int period = m_fRefreshPeriod > 0 ? static_cast<int>(m_fRefreshPeriod * 1000) : 0;
  if (m_nCaptureMs > 0 && (period == 0 || m_nCaptureMs < period)) return m_nCaptureMs;
  return period;
}

void CVoGadrelView::SetCaptureInterval(int ms) {
  if (ms == m_nCaptureMs) return;
  m_nCaptureMs = ms;
  // Before the first refresh the timer keeps its first quick tick.
  if (!m_bRestartTimer) ApplyInterval();
}

void CVoGadrelView::ApplyInterval() {
  const int ms = RefreshIntervalMs();
  if (ms > 0) {
    if (m_bTimerEnabled) m_refreshTimer.start(ms);
  } else {
    m_refreshTimer.stop();
  }
}

void CVoGadrelView::ToggleShowAllFunctions() {
  m_bShowAllFunctions = !m_bShowAllFunctions;
  if (m_pShowAllAction != nullptr) m_pShowAllAction->setChecked(m_bShowAllFunctions);
  SyncScene();
  viewport()->update();
}
