// Draws a package's placements as a top view of the chip. The drawing is
// two layers: the static one (body, name, function texts, ball grid)
// changes only with the package's texts or the zoom; the dynamic one (pin
// boxes and their colours, direction and pull-up marks, levels, pin
// numbers, the information line) is drawn over it and changes with the
// refreshes.
#pragma once

#include <QColor>
#include <QPoint>
#include <QRectF>
#include <vector>

#include "pinmodel/PackageInfo.h"
#include "pinmodel/PinPlacement.h"

class QPainter;
class QPaintDevice;

struct PaintOptions {
  float zoom = 1.0f;
  bool showAllFunctions = true;
  int clientWidth = 0;    // places the information line
  QRectF visible;         // canvas pixels worth drawing; empty = everything
};

namespace pinpaint {
struct Tools;
}

// Places and draws the package, its pins and the information line onto
// `painter`, whose coordinates are canvas pixels at the current zoom. The
// caller has cleared the background. `regions` gets the placements' tooltip
// regions, in drawing order.
void PaintPackage(QPainter& painter, const PackageInfo& info, const PaintOptions& options,
                  std::vector<TipRegion>& regions);

// The static layer's items that meet `visible` (empty: all).
void PaintStaticLayer(QPainter& painter, const pinpaint::Tools& tools, const PackageInfo& info,
                      const PackagePlacement& placement, const QRectF& visible);

// The dynamic layer's pin items that meet `visible` (empty: all).
void PaintDynamicLayer(QPainter& painter, const pinpaint::Tools& tools, const PackageInfo& info,
                       const PackagePlacement& placement, const QRectF& visible);

// The information line (red, not zoomed; placed by the client width) and
// the box it covers.
void PaintInformation(QPainter& painter, const pinpaint::Tools& tools, const PackageInfo& info, int clientWidth);
QRectF InformationBox(const pinpaint::Tools& tools, const PackageInfo& info, int clientWidth);

// The panel behind the view's controls at scroll position `scroll`: a shadow
// in half-intensity `buttonFace`, then the panel itself. Not zoomed.
void PaintControlPanel(QPainter& painter, QPoint scroll, QColor buttonFace);
// The part of the canvas the panel covers.
QRect ControlPanelBox(QPoint scroll);
