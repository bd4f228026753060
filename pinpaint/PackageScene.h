// The pin view's picture, kept between paints: the package with its
// placements, the static layer of the visible part of the canvas and the
// composed frame. A refresh that changes only levels, directions or the
// highlighted function repaints only the pins that changed; the static
// layer is drawn again only when the package's texts or colours, the zoom,
// the scroll position or the size change.
#pragma once

#include <QColor>
#include <QImage>
#include <QPoint>
#include <QRect>
#include <QRegion>
#include <QSize>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "pinmodel/PackageInfo.h"
#include "pinmodel/PinPlacement.h"
#include "pinpaint/PinSprites.h"

class QPainter;

namespace pinpaint {
struct Tools;
}

class PackageScene {
 public:
  PackageScene();
  ~PackageScene();
  PackageScene(const PackageScene&) = delete;
  PackageScene& operator=(const PackageScene&) = delete;

  // Zoom, "show all functions" and the client width (it places the
  // information line). A change places the package again and redraws all.
  void SetView(float zoom, bool showAllFunctions, int clientWidth);
  float Zoom() const { return m_zoom; }

  // A new package: placed again, and what it changes is marked for the next
  // frame.
  void SetPackage(PackageInfo info);
  const PackageInfo& Package() const { return m_info; }
  const PackagePlacement& Placement() const { return m_placement; }
  const std::vector<TipRegion>& Regions() const { return m_placement.regions; }

  // What the next frame at `origin` will change, in client coordinates;
  // `everything` when the whole frame is drawn again.
  QRegion PendingChange(QPoint origin, QSize size, bool& everything) const;

  // The client area whose top-left corner is canvas point `origin`, brought
  // up to date: drawn from scratch when the origin, the size, the panel
  // colour or anything placed changed, else only where pins changed.
  const QImage& Frame(QPoint origin, QSize size, QColor buttonFace);

  // The next frame is drawn from scratch.
  void Invalidate() { MarkAll(); }

  // Draws everything within `visible` (empty: all) with `painter` in canvas
  // coordinates, the control panel at `scroll`, without the caches.
  void PaintAll(QPainter& painter, QPoint scroll, QColor buttonFace, const QRectF& visible);
  // The same without the control panel: the package and the information line.
  void PaintPicture(QPainter& painter, const QRectF& visible);
  // Canvas pixels that the package and the information line cover (empty
  // when nothing is drawn but the background).
  QRectF DrawnBounds() const;

 private:
  void Place();
  TextExtent Measure(TextFont font, std::string_view text);
  void MarkAll() { m_all = true; m_staticDirty.clear(); m_frameDirty.clear(); }
  void Compose(QPainter& p, const QRect& client);

  float m_zoom = 1.0f;
  bool m_showAll = true;
  int m_clientWidth = 0;
  PackageInfo m_info;
  PackagePlacement m_placement;
  std::unique_ptr<pinpaint::Tools> m_tools;
  // Measured texts of the current zoom.
  std::unordered_map<std::string, TextExtent> m_pinTexts, m_nameTexts;
  QRectF m_infoBox;
  // Pictures of the pins drawn onto the frame.
  PinSprites m_sprites;

  // The caches: static layer and frame of the client area at m_origin.
  QImage m_static, m_frame;
  QPoint m_origin;
  QColor m_buttonFace;
  bool m_all = true;                    // the whole frame is out of date
  std::vector<QRectF> m_staticDirty;    // canvas pixels
  std::vector<QRectF> m_frameDirty;     // canvas pixels (the static ones included)
};
