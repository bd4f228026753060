// Draws the pin timeline: a time axis, one row per chosen pin (name and
// number on the left, its level as a waveform: high line, low line, a
// hatched band for no mark, direction and function changes marked), the
// part before the history is complete shaded, the cursor with each row's
// level and the markers A and B. Every row is reduced to pixel columns
// first, so the cost follows the width, not the number of changes.
#pragma once

#include <QRect>
#include <QSize>
#include <QString>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "pinhistory/PinColumns.h"
#include "pinhistory/PinHistory.h"

class QPainter;

struct TimelineLayout {
  int labelWidth = 120;
  int axisHeight = 22;
  int rowHeight = 30;
};

// One row: the pin it shows and where the history keeps it (-1: the
// history does not know the pin, e.g. before anything was recorded).
struct TimelineRow {
  RecordedPin pin;
  int index = -1;
};

struct TimelineFrame {
  double startUs = 0;   // time at the left edge of the waveforms (history clock)
  double usPerPx = 10000;
  int64_t originUs = 0; // the time the axis calls 0
  std::optional<double> cursorUs, markerAUs, markerBUs;
  int highlightRow = -1;
};

class TimelinePainter {
 public:
  explicit TimelinePainter(TimelineLayout layout = {}) : m_layout(layout) {}

  const TimelineLayout& Layout() const { return m_layout; }

  // Paints `rows` on an area of `size`.
  void Paint(QPainter& p, QSize size, const PinHistory& history, const std::vector<TimelineRow>& rows,
             const TimelineFrame& frame);

  // The x of time `us`, and the time at x.
  double XOf(const TimelineFrame& f, double us) const { return m_layout.labelWidth + (us - f.startUs) / f.usPerPx; }
  double TimeAt(const TimelineFrame& f, double x) const { return f.startUs + (x - m_layout.labelWidth) * f.usPerPx; }
  // The row at y, or -1.
  int RowAt(int y, int rowCount) const;
  // The top of row `row`.
  int RowTop(int row) const { return m_layout.axisHeight + row * m_layout.rowHeight; }

  // A row's level at a time as the cursor shows it: "H", "L", "-" (no
  // mark) or "" (not recorded).
  static QString LevelText(const PinHistory& history, int pin, double us);

 private:
  void PaintAxis(QPainter& p, QSize size, const TimelineFrame& f);
  void PaintRow(QPainter& p, int top, int width, const PinHistory& history, int pin, const TimelineFrame& f);
  void PaintLabels(QPainter& p, const PinHistory& history, const std::vector<TimelineRow>& rows,
                   const TimelineFrame& f);
  void PaintCursorAndMarkers(QPainter& p, QSize size, const PinHistory& history, const std::vector<TimelineRow>& rows,
                             const TimelineFrame& f);

  TimelineLayout m_layout;
  std::vector<PinColumn> m_columns;  // scratch, one row at a time
};
