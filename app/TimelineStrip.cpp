#include "app/TimelineStrip.h"

#include <QComboBox>
#include <QContextMenuEvent>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QSplitter>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

#include "app/CVoGadrelView.h"
#include "app/HeadlessRecord.h"
#include "pinhistory/PinSelection.h"
#include "pinhistory/TimeFormat.h"

namespace {

QString FromUtf8(const std::string& s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }

constexpr double kZoomStep = 1.25;

}  // namespace

// ---- TimelineCanvas ----

TimelineCanvas::TimelineCanvas(TimelineStrip* strip) : QWidget(strip), m_pStrip(strip) {
  setObjectName(QStringLiteral("timelineCanvas"));
  setMouseTracking(true);
  setFocusPolicy(Qt::ClickFocus);
  setAttribute(Qt::WA_OpaquePaintEvent);
  setMinimumHeight(m_painter.Layout().axisHeight + m_painter.Layout().rowHeight);
}

double TimelineCanvas::WaveWidth() const { return std::max(1, width() - m_painter.Layout().labelWidth); }

double TimelineCanvas::EndUs() const {
  const PinHistory& h = m_pStrip->History();
  return h.Empty() ? 0.0 : static_cast<double>(h.EndUs());
}

TimelineFrame TimelineCanvas::CurrentFrame() const {
  TimelineFrame f = m_frame;
  const PinHistory& h = m_pStrip->History();
  f.originUs = h.Empty() ? 0 : h.StartUs();
  // Following: the newest sample sits a little left of the right edge.
  if (m_bFollow) f.startUs = EndUs() - (WaveWidth() - 8) * f.usPerPx;
  return f;
}

void TimelineCanvas::paintEvent(QPaintEvent*) {
  m_frame = CurrentFrame();
  QPainter p(this);
  m_painter.Paint(p, size(), m_pStrip->History(), m_pStrip->Rows(), m_frame);
}

QImage TimelineCanvas::Grab() {
  QImage image(size(), QImage::Format_ARGB32_Premultiplied);
  m_frame = CurrentFrame();
  QPainter p(&image);
  m_painter.Paint(p, size(), m_pStrip->History(), m_pStrip->Rows(), m_frame);
  return image;
}

void TimelineCanvas::ZoomBy(double factor, std::optional<int> aroundX) {
  m_frame = CurrentFrame();
  const double x = aroundX.value_or(m_painter.Layout().labelWidth + static_cast<int>(WaveWidth()) / 2);
  const double t = m_painter.TimeAt(m_frame, x);
  const double per = std::clamp(m_frame.usPerPx / factor, kMinUsPerPx, kMaxUsPerPx);
  m_frame.usPerPx = per;
  // Following stays on when zooming about the newest sample.
  if (!m_bFollow || aroundX) m_frame.startUs = t - (x - m_painter.Layout().labelWidth) * per;
  if (aroundX && m_bFollow) m_bFollow = false;
  update();
}

void TimelineCanvas::ScrollByPixels(double dx) {
  m_frame = CurrentFrame();
  m_frame.startUs += dx * m_frame.usPerPx;
  // Scrolled to (or past) the newest sample: follow it again.
  m_bFollow = m_frame.startUs + (WaveWidth() - 8) * m_frame.usPerPx >= EndUs();
  update();
}

void TimelineCanvas::ZoomToFit() {
  const PinHistory& h = m_pStrip->History();
  if (h.Empty()) return;
  const double span = std::max(1.0, static_cast<double>(h.EndUs() - h.CompleteFromUs()));
  m_frame.usPerPx = std::clamp(span / (WaveWidth() - 16), kMinUsPerPx, kMaxUsPerPx);
  m_frame.startUs = static_cast<double>(h.CompleteFromUs()) - 8 * m_frame.usPerPx;
  m_bFollow = true;
  update();
}

void TimelineCanvas::SetMarker(bool b, std::optional<double> us) {
  (b ? m_frame.markerBUs : m_frame.markerAUs) = us;
  emit MarkersChanged();
  update();
}

void TimelineCanvas::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) {
    m_bDrag = true;
    m_bMoved = false;
    m_ptPress = m_ptLast = event->position().toPoint();
  }
  QWidget::mousePressEvent(event);
}

void TimelineCanvas::mouseMoveEvent(QMouseEvent* event) {
  const QPoint pt = event->position().toPoint();
  if (m_bDrag && (event->buttons() & Qt::LeftButton)) {
    if ((pt - m_ptPress).manhattanLength() > 3) m_bMoved = true;
    if (m_bMoved && pt.x() != m_ptLast.x()) ScrollByPixels(m_ptLast.x() - pt.x());
    m_ptLast = pt;
  }
  m_frame = CurrentFrame();
  m_frame.cursorUs.reset();
  if (pt.x() > m_painter.Layout().labelWidth) m_frame.cursorUs = m_painter.TimeAt(m_frame, pt.x());
  m_frame.highlightRow = m_painter.RowAt(pt.y(), static_cast<int>(m_pStrip->Rows().size()));
  update();
}

void TimelineCanvas::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton && m_bDrag) {
    m_bDrag = false;
    const int x = event->position().toPoint().x();
    // A click: marker A, with Shift marker B.
    if (!m_bMoved && x > m_painter.Layout().labelWidth) {
      SetMarker(event->modifiers() & Qt::ShiftModifier, m_painter.TimeAt(CurrentFrame(), x));
    }
  }
  QWidget::mouseReleaseEvent(event);
}

void TimelineCanvas::wheelEvent(QWheelEvent* event) {
  const QPoint angle = event->angleDelta();
  const int delta = angle.y() != 0 ? angle.y() : angle.x();
  event->accept();
  if (delta == 0) return;
  const double notches = delta / 120.0;
  if (event->modifiers() & Qt::ControlModifier) {
    ZoomBy(std::pow(kZoomStep, notches), event->position().toPoint().x());
  } else {
    ScrollByPixels(-notches * 60);
  }
}

void TimelineCanvas::keyPressEvent(QKeyEvent* event) {
  switch (event->key()) {
    case Qt::Key_Plus:
    case Qt::Key_Equal: ZoomBy(kZoomStep); return;
    case Qt::Key_Minus: ZoomBy(1 / kZoomStep); return;
    case Qt::Key_Left: ScrollByPixels(-60); return;
    case Qt::Key_Right: ScrollByPixels(60); return;
    case Qt::Key_Home: ZoomToFit(); return;
    case Qt::Key_End:
      m_bFollow = true;
      update();
      return;
    case Qt::Key_Escape:
      SetMarker(false, std::nullopt);
      SetMarker(true, std::nullopt);
      return;
    default: QWidget::keyPressEvent(event);
  }
}

void TimelineCanvas::leaveEvent(QEvent* event) {
  m_frame.cursorUs.reset();
  m_frame.highlightRow = -1;
  update();
  QWidget::leaveEvent(event);
}

void TimelineCanvas::contextMenuEvent(QContextMenuEvent* event) {
  const int row = m_painter.RowAt(event->pos().y(), static_cast<int>(m_pStrip->Rows().size()));
  const double t = m_painter.TimeAt(CurrentFrame(), event->pos().x());
  const bool onWave = event->pos().x() > m_painter.Layout().labelWidth;
  QMenu menu(this);
  if (row >= 0) {
    const RecordedPin pin = m_pStrip->Rows()[static_cast<size_t>(row)].pin;
    menu.addAction(QStringLiteral("Remove from timeline"), this, [this, row] { m_pStrip->RemoveRow(row); });
    QAction* port = menu.addAction(QStringLiteral("Add port"), this, [this, pin] {
      std::vector<RecordedPin> all;
      for (const PinInfo& p : m_pStrip->m_pView->Package().pins) all.push_back({p.pin_no, PinName(p)});
      std::vector<RecordedPin> add;
      for (size_t i : PinsOfPort(all, PortPrefix(pin.name))) add.push_back(all[i]);
      m_pStrip->AddRows(add);
    });
    port->setEnabled(!PortPrefix(pin.name).empty());
    menu.addSeparator();
  }
  QAction* a = menu.addAction(QStringLiteral("Set marker A here"), this, [this, t] { SetMarker(false, t); });
  QAction* b = menu.addAction(QStringLiteral("Set marker B here"), this, [this, t] { SetMarker(true, t); });
  a->setEnabled(onWave);
  b->setEnabled(onWave);
  menu.addAction(QStringLiteral("Clear markers"), this, [this] {
    SetMarker(false, std::nullopt);
    SetMarker(true, std::nullopt);
  });
  menu.addAction(QStringLiteral("Zoom to fit"), this, &TimelineCanvas::ZoomToFit);
  menu.exec(event->globalPos());
}

// ---- TimelineStrip ----

const std::vector<int>& TimelineStrip::RatesMs() {
  static const std::vector<int> rates = {20, 50, 100, 200, 0};
  return rates;
}

TimelineStrip::TimelineStrip(CVoGadrelView* view, QWidget* parent, size_t capBytes)
    : QWidget(parent), m_pView(view), m_recorder(capBytes) {
  setObjectName(QStringLiteral("timelineStrip"));
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  auto* bar = new QHBoxLayout;
  bar->setContentsMargins(4, 2, 4, 2);
  m_pRecord = new QToolButton(this);
  m_pRecord->setCheckable(true);
  bar->addWidget(m_pRecord);
  bar->addWidget(new QLabel(QStringLiteral("Capture:"), this));
  m_pRate = new QComboBox(this);
  for (int ms : RatesMs()) {
    m_pRate->addItem(ms > 0 ? QStringLiteral("%1 ms").arg(ms) : QStringLiteral("with the view"), ms);
  }
  m_pRate->setCurrentIndex(static_cast<int>(RatesMs().size()) - 1);
  bar->addWidget(m_pRate);
  m_pStatus = new QLabel(this);
  m_pStatus->setTextFormat(Qt::RichText);
  bar->addWidget(m_pStatus, 1);
  layout->addLayout(bar);
  m_pCanvas = new TimelineCanvas(this);
  layout->addWidget(m_pCanvas, 1);

  connect(m_pRecord, &QToolButton::toggled, this, &TimelineStrip::SetRecording);
  connect(m_pRate, &QComboBox::currentIndexChanged, this, &TimelineStrip::OnRateSelected);
  connect(m_pCanvas, &TimelineCanvas::MarkersChanged, this, &TimelineStrip::UpdateStatus);
  connect(m_pView, &CVoGadrelView::Refreshed, this, &TimelineStrip::OnRefreshed);
  connect(m_pView, &CVoGadrelView::ContextMenuOpening, this, &TimelineStrip::PrepareContextMenu);
  // The pin view is recorded from the start, at its own pace, so a pin
  // added later shows what it did before.
  m_pRecord->setChecked(true);
  SetRecording(true);
}

int TimelineStrip::RateMs() const { return m_pRate->currentData().toInt(); }

void TimelineStrip::SetRateMs(int ms) {
  int i = m_pRate->findData(ms);
  if (i < 0) {
    i = m_pRate->count() - 1;  // before "with the view"
    m_pRate->insertItem(i, QStringLiteral("%1 ms").arg(ms), ms);
  }
  m_pRate->setCurrentIndex(i);
}

void TimelineStrip::SetRecording(bool on) {
  if (on) {
    m_recorder.Start();
  } else {
    m_recorder.Pause(MonotonicMicros());
  }
  if (m_pRecord->isChecked() != on) m_pRecord->setChecked(on);
  m_pRecord->setText(on ? QStringLiteral("Pause") : QStringLiteral("Record"));
  m_pView->SetCaptureInterval(on ? RateMs() : 0);
  UpdateStatus();
  m_pCanvas->update();
}

void TimelineStrip::OnRateSelected(int) {
  m_pView->SetCaptureInterval(m_recorder.Recording() ? RateMs() : 0);
  UpdateStatus();
}

void TimelineStrip::OnRefreshed() {
  m_recorder.OnRefresh(m_pView->LastRefreshUs(), m_pView->Package());
  if (History().Generation() != m_nGeneration) ResolveRows();
  if (!m_strPendingPins.empty() && !m_pView->Package().pins.empty()) {
    std::vector<RecordedPin> all;
    for (const PinInfo& p : m_pView->Package().pins) all.push_back({p.pin_no, PinName(p)});
    std::vector<size_t> chosen;
    std::string error;
    if (SelectPins(all, m_strPendingPins, chosen, error)) {
      std::vector<RecordedPin> add;
      for (size_t i : chosen) add.push_back(all[i]);
      AddRows(add);
    } else {
      m_pView->PrintText("--timeline: " + error + "\n");
    }
    m_strPendingPins.clear();
  }
  if (isVisible()) {
    UpdateStatus();
    m_pCanvas->update();
  }
}

void TimelineStrip::ResolveRows() {
  m_nGeneration = History().Generation();
  const std::vector<RecordedPin>& pins = History().Pins();
  for (TimelineRow& row : m_rows) {
    const auto it = std::find(pins.begin(), pins.end(), row.pin);
    row.index = it == pins.end() ? -1 : static_cast<int>(it - pins.begin());
  }
}

void TimelineStrip::AddRows(const std::vector<RecordedPin>& pins) {
  for (const RecordedPin& pin : pins) {
    const bool known = std::any_of(m_rows.begin(), m_rows.end(), [&](const TimelineRow& r) { return r.pin == pin; });
    if (!known) m_rows.push_back({pin, -1});
  }
  ResolveRows();
  const TimelineLayout& l = m_pCanvas->Painter().Layout();
  m_pCanvas->setMinimumHeight(l.axisHeight + l.rowHeight);
  show();
  updateGeometry();
  // Room for every row once the splitter has its size.
  QTimer::singleShot(0, this, &TimelineStrip::FitRows);
  UpdateStatus();
  m_pCanvas->update();
}

QSize TimelineStrip::sizeHint() const {
  const TimelineLayout& l = m_pCanvas->Painter().Layout();
  const int toolbar = std::max({m_pRecord->sizeHint().height(), m_pRate->sizeHint().height(), m_pStatus->sizeHint().height()}) + 6;
  return {QWidget::sizeHint().width(),
          toolbar + l.axisHeight + l.rowHeight * static_cast<int>(std::max<size_t>(m_rows.size(), 1)) + 2};
}

void TimelineStrip::FitRows() {
  // Up to half of the splitter the strip shares with the package.
  auto* splitter = qobject_cast<QSplitter*>(parentWidget());
  if (splitter == nullptr || splitter->count() != 2 || splitter->indexOf(this) != 1) return;
  const QList<int> sizes = splitter->sizes();
  const int total = sizes.value(0) + sizes.value(1);
  const int wanted = sizeHint().height();
  if (total > 0 && sizes.value(1) < wanted) {
    const int strip = std::min(wanted, total / 2);
    splitter->setSizes({total - strip, strip});
  }
}

void TimelineStrip::AddPin(int index) {
  const PackageInfo& pkg = m_pView->Package();
  if (index < 0 || static_cast<size_t>(index) >= pkg.pins.size()) return;
  const PinInfo& p = pkg.pins[static_cast<size_t>(index)];
  AddRows({{p.pin_no, PinName(p)}});
}

void TimelineStrip::AddPort(int index) {
  const PackageInfo& pkg = m_pView->Package();
  if (index < 0 || static_cast<size_t>(index) >= pkg.pins.size()) return;
  std::vector<RecordedPin> all;
  for (const PinInfo& p : pkg.pins) all.push_back({p.pin_no, PinName(p)});
  std::vector<RecordedPin> add;
  for (size_t i : PinsOfPort(all, PortPrefix(all[static_cast<size_t>(index)].name))) add.push_back(all[i]);
  AddRows(add);
}

void TimelineStrip::RemoveRow(int row) {
  if (row < 0 || static_cast<size_t>(row) >= m_rows.size()) return;
  m_rows.erase(m_rows.begin() + row);
  UpdateStatus();
  m_pCanvas->update();
}

void TimelineStrip::PrepareContextMenu() {
  QMenu* menu = m_pView->ContextMenu();
  if (menu == nullptr) return;
  if (m_pAddPin == nullptr) {
    m_pAddPin = menu->addAction(QStringLiteral("Add to timeline"));
    m_pAddPort = menu->addAction(QStringLiteral("Add port"));
    connect(m_pAddPin, &QAction::triggered, this, [this] { AddPin(m_pAddPin->data().toInt()); });
    connect(m_pAddPort, &QAction::triggered, this, [this] { AddPort(m_pAddPort->data().toInt()); });
  }
  const int pin = m_pView->ContextPin();
  const PackageInfo& pkg = m_pView->Package();
  const bool onPin = pin >= 0 && static_cast<size_t>(pin) < pkg.pins.size();
  m_pAddPin->setData(pin);
  m_pAddPort->setData(pin);
  m_pAddPin->setEnabled(onPin);
  m_pAddPort->setEnabled(onPin && !PortPrefix(PinName(pkg.pins[static_cast<size_t>(pin)])).empty());
}

QString TimelineStrip::StatusText() const {
  QStringList parts;
  const PinHistory& h = History();
  if (m_recorder.Recording()) {
    QString s = QStringLiteral("Recording");
    const int rate = RateMs();
    const double reached = m_recorder.ReachedPeriodMs();
    if (rate > 0 && reached > 0) {
      // The link cannot keep up: say what it reaches.
      if (reached > rate * 1.15) {
        s += QStringLiteral(", <span style=\"color:#c00000\">rate reached: %1 ms</span>").arg(reached, 0, 'f', 0);
      } else {
        s += QStringLiteral(", every %1 ms").arg(reached, 0, 'f', 0);
      }
    }
    parts << s;
  } else {
    parts << QStringLiteral("Paused");
  }
  if (!h.Empty()) {
    if (h.Truncated()) {
      parts << QStringLiteral("complete from %1").arg(
          FromUtf8(FormatDuration(static_cast<double>(h.CompleteFromUs() - h.StartUs()))));
    }
    parts << QStringLiteral("%1 recorded").arg(FromUtf8(FormatDuration(static_cast<double>(h.EndUs() - h.StartUs()))));
  }
  const TimelineFrame& f = m_pCanvas->Frame();
  if (f.markerAUs && f.markerBUs) {
    const double d = *f.markerBUs - *f.markerAUs;
    QString s = QStringLiteral("B - A: %1").arg(FromUtf8(FormatDuration(d)));
    if (std::fabs(d) >= 1) s += QStringLiteral(" (%1 Hz)").arg(1e6 / std::fabs(d), 0, 'g', 4);
    parts << s;
  }
  if (m_rows.empty()) parts << QStringLiteral("right-click a pin: \"Add to timeline\"");
  return parts.join(QStringLiteral(" &middot; "));
}

void TimelineStrip::UpdateStatus() {
  const QString text = StatusText();
  if (m_pStatus->text() != text) m_pStatus->setText(text);
}

std::vector<size_t> TimelineStrip::ExportPins() const {
  std::vector<size_t> pins;
  for (const TimelineRow& r : m_rows)
    if (r.index >= 0) pins.push_back(static_cast<size_t>(r.index));
  return pins.empty() ? AllPinsInOrder(History().Pins()) : pins;
}

bool TimelineStrip::ExportTo(const QString& path, QString& error) {
  if (History().Empty()) {
    error = QStringLiteral("No pin history has been recorded yet.");
    return false;
  }
  std::string why;
  if (!ExportVcd(History(), ExportPins(), path.toStdString(), why)) {
    error = FromUtf8(why);
    return false;
  }
  return true;
}

void TimelineStrip::ExportHistory() {
  QString error;
  if (History().Empty()) {
    QMessageBox::information(window(), window()->windowTitle(), QStringLiteral("No pin history has been recorded yet."));
    return;
  }
  QString path = QFileDialog::getSaveFileName(window(), QStringLiteral("Export pin history"), QStringLiteral("pins.vcd"),
                                              QStringLiteral("Value Change Dump (*.vcd)"));
  if (path.isEmpty()) return;
  if (!ExportTo(path, error)) QMessageBox::critical(window(), window()->windowTitle(), error);
}
