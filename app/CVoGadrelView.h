// The pin view: asks the pin script for the state of every pin on a timer,
// draws the package, shows tooltips, zooms, scrolls and pans, and runs user
// scripts. It is also the output sink its scripts print to.
#pragma once

#include <QAbstractScrollArea>
#include <QImage>
#include <QPointer>
#include <QTimer>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "tooltip/CPPToolTip.h"
#include "pinmodel/PackageInfo.h"
#include "pinpaint/PackageScene.h"
#include "app/HeadlessInteraction.h"
#include "app/PinViewAdapters.h"
#include "app/QtFirmwareUpdate.h"
#include "app/QtUserInteraction.h"
#include "app/ViewSettings.h"
#include "script/CICECmd.h"
#include "script/PrintSink.h"

class QComboBox;
class QLabel;
class QMenu;
class QAction;
class QPushButton;
class CPrintView;

// Size and modification time of the pin script as last loaded.
struct ScriptStamp {
  bool exists = false;
  int64_t size = 0;
  int64_t mtimeNs = 0;
  bool operator==(const ScriptStamp&) const = default;
};
ScriptStamp ReadScriptStamp(const std::string& path);

class CVoGadrelView : public QAbstractScrollArea, public IPrintSink {
  Q_OBJECT
 public:
  struct StartOptions {
    std::optional<ChipSeries> series;  // none: ask with the chip-series dialog
    std::string pinScript;             // empty: <program dir>/../Gadrel/gadrel.lua
    bool startTimer = true;            // false: refreshes only on request (rendering)
    bool headless = false;             // nobody to ask: questions answered on standard error
    std::optional<unsigned> adapter;   // the adapter to take without asking (--adapter N)
    int zoomTenths = 10;               // the zoom to start with (--zoom PERCENT)
  };

  static constexpr int kCanvasWidth = 2400;
  static constexpr int kCanvasHeight = 2460;
  static constexpr int kInitialScrollX = 780;
  static constexpr int kInitialScrollY = 560;
  // Longest time one call into the pin script (its main chunk, get_status
  // with the reading of its table, disconnect) may take before it is
  // stopped with a line in the output pane.
  static constexpr std::chrono::milliseconds kPinScriptTimeLimit{6000};

  explicit CVoGadrelView(QWidget* parent = nullptr);
  ~CVoGadrelView() override;

  // Where printed text goes (the output pane beside the view).
  void SetPrintPane(CPrintView* pane);
  // Also copy printed text to standard error (headless rendering).
  void SetEchoToStderr(bool echo) { m_bEchoStderr = echo; }

  // Chooses the chip series, sets both script hosts up, runs the pin script
  // and starts the refresh timer. Runs once.
  void OnInitialUpdate(const StartOptions& options);

  // One refresh: reload the pin script when it changed on disk, ask it for
  // the package, repaint. Returns at once when a refresh is running. After
  // a cancelled adapter selection it stops the timer, asks the window to
  // close and refreshes no more.
  void RefreshPins();
  // Whether an adapter selection was cancelled, so the program ends.
  bool IsClosing() const { return m_bClosing; }

  // The adapter firmware check (its dialogs, images and waits).
  CQtFirmwareCheck& FirmwareCheck() { return *m_pFirmwareCheck; }

  // Runs a user script with event pumping; refreshes after a good run,
  // prints the error after a failed one. False on failure.
  bool RunUserScriptFile(const std::string& path);
  bool IsUserScriptRunning() const { return m_userHost.IsScriptRunning(); }
  void AbortUserScript() { m_userHost.RequestAbort(); }

  // IPrintSink: appends to the output pane.
  void PrintText(std::string_view text) override;

  // Zoom by one tenth ("+" and "-"), keeping the same part in view.
  void ZoomIn();
  void ZoomOut();
  // Zoom to `tenths` (kept between the zoom steps' bounds), keeping the same
  // part in view.
  void SetZoomTenths(int tenths);
  float ZoomFactor() const { return static_cast<float>(m_nZoomTenths) / 10.0f; }
  QString ZoomText() const { return ::ZoomText(m_nZoomTenths); }

  // Period list entry `index` chosen.
  void OnPeriodSelected(int index);
  double RefreshPeriod() const { return m_fRefreshPeriod; }
  const QTimer& RefreshTimer() const { return m_refreshTimer; }
  // A period (ms) the refresh keeps to while a recording needs it faster
  // than the period list says; 0: the period list alone.
  void SetCaptureInterval(int ms);
  // The timer's period now (ms); 0 while stopped.
  int RefreshIntervalMs() const;
  // When the last refresh read the pins: the middle of its get_status call,
  // in microseconds of the monotonic clock.
  int64_t LastRefreshUs() const { return m_nLastRefreshUs; }

  void ToggleShowAllFunctions();
  bool ShowAllFunctions() const { return m_bShowAllFunctions; }

  // The whole off-screen bitmap (scroll position plus client size; pixel
  // (x, y) = canvas (x, y)), as a paint draws it.
  QImage RenderCanvas();
  // The picture a render writes: the package and the information line with
  // a margin, without the control panel. `origin` is the canvas pixel of
  // its top-left corner.
  QImage RenderPicture(QPoint& origin);

  QPoint ScrollPosition() const;
  void ScrollTo(QPoint pos);
  const PackageInfo& Package() const { return m_scene.Package(); }
  // The tooltip regions of the package's placements at the current zoom.
  const std::vector<TipRegion>& TipRegions() const { return m_scene.Regions(); }
  const std::string& PinScriptPath() const { return m_strPinScript; }
  ChipSeries Series() const { return m_series; }
  // The adapter object of the chosen series: the one the pin script uses
  // (the GDB server shares it).
  CICE* AdapterObject() { return m_pAdapters->ForSeries(m_series); }
  CICECmd& PinHost() { return m_pinHost; }
  CICECmd& UserHost() { return m_userHost; }
  CPPToolTip& ToolTip() { return m_toolTip; }
  QComboBox* PeriodList() const { return m_pPeriodList; }
  QLabel* ZoomLabel() const { return m_pZoomLabel; }

  // The region a tooltip would show for canvas point (x, y), or null.
  const TipRegion* HitTest(int canvasX, int canvasY) const;
  // The index (into Package().pins) of the pin or ball at canvas point
  // (x, y), or -1.
  int PinAt(int canvasX, int canvasY) const;
  // The context menu, for the timeline's items beside "Show all pin functions".
  QMenu* ContextMenu() const { return m_pContextMenu; }
  // The pin the context menu was opened on, or -1.
  int ContextPin() const { return m_nContextPin; }

 signals:
  // A refresh has read the pins (Package() holds them).
  void Refreshed();
  // The context menu is about to open on pin ContextPin().
  void ContextMenuOpening();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void scrollContentsBy(int dx, int dy) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;

 private:
  void CreateControls();
  // The canvas in pixels at the current zoom.
  QSize CanvasPixels() const;
  void UpdateScrollSizes();
  void Zoom(bool in);
  // Hands zoom, "show all functions" and the client width to the scene.
  void SyncScene();
  // Asks for a repaint of what the scene's last change touched.
  void UpdateChanged();
  // (Re)starts the refresh timer at RefreshIntervalMs(), or stops it.
  void ApplyInterval();
  // Runs the pin script file; a failure is said in the pane once per version
  // of the file (`stamp`) and kept for the information line.
  bool RunPinScript(const ScriptStamp& stamp);
  // One line in the pane when the package has pins that its frame cannot
  // draw, once for each pin count and frame.
  void SayWhyNotDrawn(const PackageInfo& info);

  // Declaration order is construction order; destruction runs backwards.
  CQtUserInteraction m_userInteraction;
  // The firmware check the adapter objects run when they take an adapter;
  // it outlives them.
  std::unique_ptr<CQtFirmwareCheck> m_pFirmwareCheck;
  // Their stand-ins when there is nobody to ask (set up by the initial update).
  std::unique_ptr<CHeadlessUserInteraction> m_pHeadlessUi;
  std::unique_ptr<CHeadlessFirmwareCheck> m_pHeadlessCheck;
  std::unique_ptr<CPinViewAdapters> m_pAdapters;
  CICECmd m_pinHost;
  CICECmd m_userHost;
  ScriptStamp m_scriptStamp;
  bool m_bBusy = false;
  bool m_bRestartTimer = true;
  bool m_bShowAllFunctions = false;
  bool m_bDrag = false;
  QPoint m_ptLastDrag;
  QPushButton* m_pZoomIn = nullptr;
  QPushButton* m_pZoomOut = nullptr;
  QLabel* m_pZoomLabel = nullptr;
  QLabel* m_pPeriodLabel = nullptr;
  QComboBox* m_pPeriodList = nullptr;
  int m_nZoomTenths = 10;  // ZoomFactor in tenths
  double m_fRefreshPeriod = 0.5;
  PackageScene m_scene;  // the package, its placements and the cached picture
  CPPToolTip m_toolTip;
  QMenu* m_pContextMenu = nullptr;
  QAction* m_pShowAllAction = nullptr;
  int m_nContextPin = -1;
  int m_nCaptureMs = 0;
  int64_t m_nLastRefreshUs = 0;
  // The pin script's load error until the file changes and runs, and the
  // version of the file it was said for.
  std::string m_strScriptError;
  ScriptStamp m_errorStamp;
  // Pin counts and frames already said to be undrawable.
  std::set<std::pair<size_t, int32_t>> m_undrawableSaid;

  QTimer m_refreshTimer;
  QPointer<CPrintView> m_pPrintPane;
  std::string m_strPinScript;
  std::string m_strAppDir;
  ChipSeries m_series = ChipSeries::CortexM;
  bool m_bInitialised = false;
  bool m_bTimerEnabled = true;
  bool m_bEchoStderr = false;
  bool m_bClosing = false;
};
