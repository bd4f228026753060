#include "pinpaint/TimelinePainter.h"

#include <QBrush>
#include <QFont>
#include <QFontMetrics>
#include <QPainter>
#include <QPen>
#include <cmath>

#include "pinhistory/TimeFormat.h"

namespace {

const QColor kWave(0x0B, 0x6E, 0x2E);
const QColor kNoMark(0x70, 0x70, 0x70);
const QColor kDirection(0x10, 0x40, 0xE0);
const QColor kFunction(0xE0, 0x80, 0x00);
const QColor kGrid(0xE4, 0xE6, 0xEA);
const QColor kLabelBack(0xEE, 0xF0, 0xF3);
const QColor kIncomplete(0xD8, 0xD8, 0xD8);
const QColor kMarkerA(0xD0, 0x20, 0x20);
const QColor kMarkerB(0x20, 0x50, 0xD0);

// What one pixel column of a row shows.
enum class Kind { Empty, Gap, Low, High, None, Busy };

Kind KindOf(uint8_t mask) {
  const uint8_t levels = mask & kLevelBits & ~LevelBit(PinLevel::Gap);
  if (levels == 0) return (mask & LevelBit(PinLevel::Gap)) ? Kind::Gap : Kind::Empty;
  if (levels == LevelBit(PinLevel::Low)) return Kind::Low;
  if (levels == LevelBit(PinLevel::High)) return Kind::High;
  if (levels == LevelBit(PinLevel::None)) return Kind::None;
  return Kind::Busy;
}

QString FromUtf8(const std::string& s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }

}  // namespace

int TimelinePainter::RowAt(int y, int rowCount) const {
  if (y < m_layout.axisHeight) return -1;
  const int row = (y - m_layout.axisHeight) / m_layout.rowHeight;
  return row < rowCount ? row : -1;
}

QString TimelinePainter::LevelText(const PinHistory& history, int pin, double us) {
  if (pin < 0 || history.Empty() || us < static_cast<double>(history.CompleteFromUs()) ||
      us > static_cast<double>(history.EndUs())) {
    return {};
  }
  const PinChange* c = history.StateAt(static_cast<size_t>(pin), static_cast<int64_t>(std::floor(us)));
  if (c == nullptr) return {};
  switch (c->level) {
    case PinLevel::High: return QStringLiteral("H");
    case PinLevel::Low: return QStringLiteral("L");
    case PinLevel::None: return QStringLiteral("-");
    case PinLevel::Gap: break;
  }
  return {};
}

void TimelinePainter::Paint(QPainter& p, QSize size, const PinHistory& history, const std::vector<TimelineRow>& rows,
                            const TimelineFrame& f) {
  p.save();
  p.setRenderHint(QPainter::Antialiasing, false);
  p.fillRect(QRect(QPoint(0, 0), size), Qt::white);
  const int waveWidth = size.width() - m_layout.labelWidth;
  for (size_t r = 0; r < rows.size(); ++r) {
    const int top = RowTop(static_cast<int>(r));
    if (top >= size.height()) break;
    if (r % 2 == 1) p.fillRect(m_layout.labelWidth, top, waveWidth, m_layout.rowHeight, QColor(0xF7, 0xF8, 0xFA));
  }
  // What is older than the complete history is shaded.
  if (!history.Empty() && history.Truncated()) {
    const double x = XOf(f, static_cast<double>(history.CompleteFromUs()));
    if (x > m_layout.labelWidth) {
      const int right = static_cast<int>(std::min<double>(x, size.width()));
      p.fillRect(QRect(m_layout.labelWidth, 0, right - m_layout.labelWidth, size.height()), kIncomplete);
    }
  }
  PaintAxis(p, size, f);
  if (waveWidth > 0) {
    for (size_t r = 0; r < rows.size(); ++r) {
      const int top = RowTop(static_cast<int>(r));
      if (top >= size.height()) break;
      if (rows[r].index >= 0) PaintRow(p, top, waveWidth, history, rows[r].index, f);
    }
  }
  if (!history.Empty() && history.Truncated()) {
    const double x = XOf(f, static_cast<double>(history.CompleteFromUs()));
    if (x > m_layout.labelWidth && x < size.width()) {
      p.setPen(QColor(0x60, 0x60, 0x60));
      p.drawText(QPointF(x + 4, m_layout.axisHeight + 12),
                 QStringLiteral("complete from ") +
                     FromUtf8(FormatDuration(static_cast<double>(history.CompleteFromUs() - f.originUs))));
    }
  }
  PaintLabels(p, history, rows, f);
  PaintCursorAndMarkers(p, size, history, rows, f);
  p.restore();
}

void TimelinePainter::PaintAxis(QPainter& p, QSize size, const TimelineFrame& f) {
  QFont font = p.font();
  font.setPixelSize(11);
  p.setFont(font);
  p.fillRect(QRect(0, 0, size.width(), m_layout.axisHeight), kLabelBack);
  const double step = AxisStepUs(90 * f.usPerPx);
  const double first = std::ceil((f.startUs - static_cast<double>(f.originUs)) / step) * step;
  for (double t = first;; t += step) {
    const double x = XOf(f, t + static_cast<double>(f.originUs));
    if (x >= size.width()) break;
    const int xi = static_cast<int>(std::lround(x));
    p.setPen(kGrid);
    p.drawLine(xi, m_layout.axisHeight, xi, size.height());
    p.setPen(QColor(0x50, 0x50, 0x50));
    p.drawLine(xi, m_layout.axisHeight - 5, xi, m_layout.axisHeight - 1);
    p.drawText(QPointF(xi + 3, m_layout.axisHeight - 7), FromUtf8(AxisLabel(t, step)));
  }
  p.setPen(QColor(0xB0, 0xB4, 0xBA));
  p.drawLine(0, m_layout.axisHeight - 1, size.width(), m_layout.axisHeight - 1);
}

void TimelinePainter::PaintRow(QPainter& p, int top, int width, const PinHistory& history, int pin,
                               const TimelineFrame& f) {
  m_columns.resize(static_cast<size_t>(width));
  SummarizeColumns(history, static_cast<size_t>(pin), f.startUs, f.usPerPx, m_columns);
  const int hiY = top + 7;
  const int loY = top + m_layout.rowHeight - 8;
  const int x0 = m_layout.labelWidth;
  const QBrush hatch(kNoMark, Qt::BDiagPattern);
  const QPen wave(kWave, 1);
  p.setPen(wave);

  auto flush = [&](Kind kind, int a, int b) {  // columns [a, b)
    const int xa = x0 + a, xb = x0 + b;
    switch (kind) {
      case Kind::Low: p.drawLine(xa, loY, xb, loY); break;
      case Kind::High: p.drawLine(xa, hiY, xb, hiY); break;
      case Kind::None: p.fillRect(QRect(xa, hiY, xb - xa, loY - hiY + 1), hatch); break;
      case Kind::Busy: p.fillRect(QRect(xa, hiY, xb - xa, loY - hiY + 1), kWave); break;
      case Kind::Empty:
      case Kind::Gap: break;
    }
  };
  int runStart = 0;
  Kind run = KindOf(m_columns[0].mask);
  for (int x = 1; x <= width; ++x) {
    const Kind k = x < width ? KindOf(m_columns[static_cast<size_t>(x)].mask) : Kind::Empty;
    if (x < width && k == run) continue;
    flush(run, runStart, x);
    run = k;
    runStart = x;
  }
  // Direction changes above the waveform, function changes below it.
  for (const auto& [bit, colour, y] : {std::tuple{kDirectionMark, kDirection, top + 1},
                                      std::tuple{kFunctionMark, kFunction, loY + 3}}) {
    p.setPen(QPen(colour, 1));
    p.setBrush(colour);
    int start = -1;
    for (int x = 0; x <= width; ++x) {
      const bool on = x < width && (m_columns[static_cast<size_t>(x)].mask & bit);
      if (on && start < 0) start = x;
      if (!on && start >= 0) {
        const int xa = x0 + start, xb = x0 + x - 1;
        const QPoint tri[3] = {{xa - 3, y}, {xb + 3, y}, {(xa + xb) / 2, y + 4}};
        p.drawPolygon(tri, 3);
        start = -1;
      }
    }
  }
  p.setBrush(Qt::NoBrush);
}

void TimelinePainter::PaintLabels(QPainter& p, const PinHistory& history, const std::vector<TimelineRow>& rows,
                                  const TimelineFrame& f) {
  const int w = m_layout.labelWidth;
  const int h = RowTop(static_cast<int>(rows.size()));
  p.fillRect(QRect(0, 0, w, std::max(h, m_layout.axisHeight)), kLabelBack);
  p.setPen(QColor(0xB0, 0xB4, 0xBA));
  p.drawLine(w - 1, 0, w - 1, h);
  QFont bold = p.font();
  bold.setPixelSize(12);
  bold.setBold(true);
  QFont small = p.font();
  small.setPixelSize(10);
  small.setBold(false);
  for (size_t r = 0; r < rows.size(); ++r) {
    const int top = RowTop(static_cast<int>(r));
    if (static_cast<int>(r) == f.highlightRow) p.fillRect(QRect(0, top, w - 1, m_layout.rowHeight), QColor(0xD6, 0xE4, 0xF8));
    p.setPen(QColor(0xD0, 0xD4, 0xDA));
    p.drawLine(0, top + m_layout.rowHeight - 1, w - 2, top + m_layout.rowHeight - 1);
    const RecordedPin& pin = rows[r].pin;
    p.setFont(bold);
    p.setPen(Qt::black);
    const QFontMetrics fm(bold);
    const QString name = fm.elidedText(FromUtf8(pin.name), Qt::ElideRight, w - 40);
    p.drawText(QPointF(6, top + 13), name);
    p.setFont(small);
    p.setPen(QColor(0x30, 0x40, 0x90));
    p.drawText(QRectF(w - 38, top + 2, 32, 14), Qt::AlignRight | Qt::AlignVCenter, FromUtf8(pin.number));
    // The function active at the cursor (else at the end), when it is not
    // the pin's name.
    const double at = f.cursorUs.value_or(static_cast<double>(history.EndUs()));
    if (rows[r].index < 0) continue;
    if (const PinChange* c = history.StateAt(static_cast<size_t>(rows[r].index), static_cast<int64_t>(at))) {
      const std::string& fn = history.Function(c->function);
      if (fn != pin.name) {
        p.setPen(kFunction.darker(130));
        p.drawText(QPointF(6, top + 25), QFontMetrics(small).elidedText(FromUtf8(fn), Qt::ElideRight, w - 10));
      }
    }
  }
}

void TimelinePainter::PaintCursorAndMarkers(QPainter& p, QSize size, const PinHistory& history,
                                            const std::vector<TimelineRow>& rows, const TimelineFrame& f) {
  QFont font = p.font();
  font.setPixelSize(11);
  font.setBold(false);
  p.setFont(font);
  const QFontMetrics fm(font);
  auto visible = [&](double x) { return x >= m_layout.labelWidth && x < size.width(); };
  auto tag = [&](double x, const QString& text, const QColor& back) {
    const int tw = fm.horizontalAdvance(text) + 8;
    int left = static_cast<int>(x) + 2;
    if (left + tw > size.width()) left = static_cast<int>(x) - tw - 2;
    const QRect box(left, 3, tw, m_layout.axisHeight - 6);
    p.fillRect(box, back);
    p.setPen(Qt::white);
    p.drawText(box, Qt::AlignCenter, text);
  };
  const double origin = static_cast<double>(f.originUs);
  for (const auto& [marker, colour, letter] : {std::tuple{f.markerAUs, kMarkerA, QStringLiteral("A")},
                                              std::tuple{f.markerBUs, kMarkerB, QStringLiteral("B")}}) {
    if (!marker) continue;
    const double x = XOf(f, *marker);
    if (!visible(x)) continue;
    p.setPen(QPen(colour, 1));
    p.drawLine(QPointF(x, 0), QPointF(x, size.height()));
    tag(x, letter + QStringLiteral(" ") + QString::fromUtf8(FormatDuration(*marker - origin)), colour);
  }
  if (f.cursorUs) {
    const double x = XOf(f, *f.cursorUs);
    if (visible(x)) {
      p.setPen(QPen(QColor(0x40, 0x40, 0x40), 1, Qt::DashLine));
      p.drawLine(QPointF(x, m_layout.axisHeight), QPointF(x, size.height()));
      tag(x, QString::fromUtf8(FormatDuration(*f.cursorUs - origin)), QColor(0x40, 0x40, 0x40));
      for (size_t r = 0; r < rows.size(); ++r) {
        const QString level = LevelText(history, rows[r].index, *f.cursorUs);
        if (level.isEmpty()) continue;
        const int top = RowTop(static_cast<int>(r));
        const QRect box(static_cast<int>(x) + 3, top + m_layout.rowHeight / 2 - 7, fm.horizontalAdvance(level) + 6, 14);
        p.fillRect(box, QColor(255, 255, 255, 220));
        p.setPen(level == QStringLiteral("H") ? QColor(0xD0, 0, 0) : Qt::black);
        p.drawText(box, Qt::AlignCenter, level);
      }
    }
  }
}
