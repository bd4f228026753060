// Draws a PackageInfo as a top view of the chip and records the tooltip
// regions of the package name and every pin or ball.
#pragma once

#include <QColor>
#include <QPoint>
#include <QRectF>
#include <vector>

#include "pinmodel/PackageInfo.h"

class QPainter;

struct PaintOptions {
  float zoom = 1.0f;
  bool showAllFunctions = true;
  int clientWidth = 0;    // places the information line
  QRectF visible;         // canvas pixels worth drawing; empty = everything
};

// Longest function text drawn per part of a column (characters); the rest
// could never be on the canvas.
constexpr int kMaxColumnChars = 400;
// Longest tooltip text a region keeps (bytes).
constexpr size_t kMaxTipTextBytes = 16 * 1024;

// Draws the package, its pins and the information line onto `painter`,
// whose coordinates are canvas pixels at the current zoom. The caller has
// cleared the background. `regions` is cleared and refilled in drawing order.
void PaintPackage(QPainter& painter, const PackageInfo& info, const PaintOptions& options,
                  std::vector<TipRegion>& regions);

// The panel behind the view's controls at scroll position `scroll`: a shadow
// in half-intensity `buttonFace`, then the panel itself. Not zoomed.
void PaintControlPanel(QPainter& painter, QPoint scroll, QColor buttonFace);
