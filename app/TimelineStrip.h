// The pin timeline under the package: a toolbar (Record/Pause, the capture
// rate, what the recording reached) over a canvas with one row per chosen
// pin. It records every refresh of the pin view while recording, adds
// "Add to timeline" and "Add port" to the pin view's context menu, and
// exports the history as a Value Change Dump.
#pragma once

#include <QWidget>
#include <optional>
#include <vector>

#include "pinhistory/PinRecorder.h"
#include "pinpaint/TimelinePainter.h"

class CVoGadrelView;
class QAction;
class QComboBox;
class QLabel;
class QMenu;
class QToolButton;
class TimelineStrip;

// The rows, the axis, the cursor and markers; zoom and scroll in time.
class TimelineCanvas : public QWidget {
  Q_OBJECT
 public:
  explicit TimelineCanvas(TimelineStrip* strip);

  // Microseconds per pixel: 10 us to an hour per pixel.
  static constexpr double kMinUsPerPx = 10;
  static constexpr double kMaxUsPerPx = 3.6e9;

  const TimelineFrame& Frame() const { return m_frame; }
  // The frame for the current size and history (following the newest
  // sample when it was in view).
  TimelineFrame CurrentFrame() const;
  void ZoomBy(double factor, std::optional<int> aroundX = std::nullopt);
  void ScrollByPixels(double dx);
  // Shows the whole complete history.
  void ZoomToFit();
  bool Following() const { return m_bFollow; }
  void SetMarker(bool b, std::optional<double> us);
  QImage Grab();
  const TimelinePainter& Painter() const { return m_painter; }

 signals:
  void MarkersChanged();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void leaveEvent(QEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;

 private:
  double EndUs() const;
  double WaveWidth() const;

  TimelineStrip* m_pStrip;
  TimelinePainter m_painter;
  TimelineFrame m_frame;
  bool m_bFollow = true;  // the right edge keeps to the newest sample
  bool m_bDrag = false;
  bool m_bMoved = false;
  QPoint m_ptPress, m_ptLast;
};

class TimelineStrip : public QWidget {
  Q_OBJECT
 public:
  // Capture rates offered, in the order of the list; 0 = with the view.
  static const std::vector<int>& RatesMs();

  explicit TimelineStrip(CVoGadrelView* view, QWidget* parent = nullptr,
                         size_t capBytes = PinHistory::kDefaultCapBytes);

  PinRecorder& Recorder() { return m_recorder; }
  const PinHistory& History() const { return m_recorder.History(); }
  const std::vector<TimelineRow>& Rows() const { return m_rows; }
  TimelineCanvas* Canvas() const { return m_pCanvas; }
  QToolButton* RecordButton() const { return m_pRecord; }
  QComboBox* RateList() const { return m_pRate; }
  QLabel* StatusLabel() const { return m_pStatus; }

  // Pin `index` of the view's package, or every pin of its port, as rows
  // (each pin once); shows the strip.
  void AddPin(int index);
  void AddPort(int index);
  void RemoveRow(int row);
  // Puts the pins of `list` (numbers, names, ports as "PB*") on the
  // timeline at the first refresh that brings pins.
  void AddPinsWhenKnown(const std::string& list) { m_strPendingPins = list; }
  void SetRecording(bool on);
  // Entry `index` of the rate list chosen.
  void OnRateSelected(int index);
  int RateMs() const;
  // Chooses capture rate `ms` (an entry of its own when the list lacks it).
  void SetRateMs(int ms);
  // The status line: recording state, rate reached, completeness, markers.
  QString StatusText() const;

  // "File > Export pin history...": asks for a file and writes the rows
  // (every pin when there are none).
  void ExportHistory();
  // Writes the dump to `path`; false with `error` set.
  bool ExportTo(const QString& path, QString& error);
  std::vector<size_t> ExportPins() const;

  // The view refreshed: record it, update rows and picture.
  void OnRefreshed();

  // Tall enough for every row.
  QSize sizeHint() const override;

 private:
  void AddRows(const std::vector<RecordedPin>& pins);
  void ResolveRows();
  void UpdateStatus();
  void PrepareContextMenu();
  void FitRows();

  CVoGadrelView* m_pView;
  PinRecorder m_recorder;
  std::vector<TimelineRow> m_rows;
  uint64_t m_nGeneration = ~uint64_t{0};
  TimelineCanvas* m_pCanvas = nullptr;
  QToolButton* m_pRecord = nullptr;
  QComboBox* m_pRate = nullptr;
  QLabel* m_pStatus = nullptr;
  QAction* m_pAddPin = nullptr;
  QAction* m_pAddPort = nullptr;
  std::string m_strPendingPins;
  friend class TimelineCanvas;
};
