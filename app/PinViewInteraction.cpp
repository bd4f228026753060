// The pin view on screen: painting, scroll sizes, zoom, tooltips, dragging,
// the wheel and the context menu.
#include <QComboBox>
#include <QCursor>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QScrollBar>
#include <QWheelEvent>

#include <algorithm>

#include "app/CVoGadrelView.h"
#include "app/ViewSettings.h"
#include "pinmodel/PackageLayout.h"

QPoint CVoGadrelView::ScrollPosition() const {
  return {horizontalScrollBar()->value(), verticalScrollBar()->value()};
}

void CVoGadrelView::ScrollTo(QPoint pos) {
  horizontalScrollBar()->setValue(pos.x());
  verticalScrollBar()->setValue(pos.y());
}

QSize CVoGadrelView::CanvasPixels() const {
  return {static_cast<int>(kCanvasWidth * ZoomFactor()), static_cast<int>(kCanvasHeight * ZoomFactor())};
}

void CVoGadrelView::UpdateScrollSizes() {
  const QSize total = CanvasPixels();
  const int totalW = total.width();
  const int totalH = total.height();
  const QSize client = viewport()->size();
  QScrollBar* h = horizontalScrollBar();
  QScrollBar* v = verticalScrollBar();
  h->setRange(0, std::max(0, totalW - client.width()));
  h->setPageStep(std::max(1, client.width()));
  h->setSingleStep(std::max(1, totalW / 100));
  v->setRange(0, std::max(0, totalH - client.height()));
  v->setPageStep(std::max(1, client.height()));
  v->setSingleStep(std::max(1, totalH / 100));
}

void CVoGadrelView::SyncScene() { m_scene.SetView(ZoomFactor(), m_bShowAllFunctions, viewport()->width()); }

void CVoGadrelView::UpdateChanged() {
  SyncScene();
  bool everything = false;
  const QRegion changed = m_scene.PendingChange(ScrollPosition(), viewport()->size(), everything);
  if (everything) {
    viewport()->update();
  } else if (!changed.isEmpty()) {
    viewport()->update(changed);
  }
}

void CVoGadrelView::paintEvent(QPaintEvent* event) {
  const QSize client = viewport()->size();
  if (client.isEmpty()) return;
  SyncScene();
  // Kept off-screen between paints; only what changed is drawn again, and
  // only the part asked for is copied.
  const QImage& frame = m_scene.Frame(ScrollPosition(), client, palette().color(QPalette::Button));
  const QRect part = event->rect() & QRect(QPoint(0, 0), client);
  QPainter(viewport()).drawImage(part.topLeft(), frame, part);
}

QImage CVoGadrelView::RenderCanvas() {
  SyncScene();
  const QPoint scroll = ScrollPosition();
  const QSize client = viewport()->size();
  QImage image(scroll.x() + client.width(), scroll.y() + client.height(), QImage::Format_ARGB32_Premultiplied);
  image.fill(0xFFFFFFFF);
  QPainter p(&image);
  m_scene.PaintAll(p, scroll, palette().color(QPalette::Button), QRectF());
  return image;
}

QImage CVoGadrelView::RenderPicture(QPoint& origin) {
  SyncScene();
  constexpr int kMargin = 16;
  QRect area = m_scene.DrawnBounds().toAlignedRect().adjusted(-kMargin, -kMargin, kMargin, kMargin) &
               QRect(QPoint(0, 0), CanvasPixels());
  // Nothing drawn: a blank square where the package would be.
  if (area.isEmpty()) area = QRect(static_cast<int>(kBodyX * ZoomFactor()), static_cast<int>(kBodyY * ZoomFactor()),
                                   2 * kMargin, 2 * kMargin);
  origin = area.topLeft();
  QImage image(area.size(), QImage::Format_ARGB32_Premultiplied);
  image.fill(0xFFFFFFFF);
  QPainter p(&image);
  p.translate(-origin);
  m_scene.PaintPicture(p, QRectF(area));
  return image;
}

void CVoGadrelView::resizeEvent(QResizeEvent* event) {
  QAbstractScrollArea::resizeEvent(event);
  UpdateScrollSizes();
  m_toolTip.HideTooltip();
  viewport()->update();
}

void CVoGadrelView::scrollContentsBy(int, int) { viewport()->update(); }

const TipRegion* CVoGadrelView::HitTest(int cx, int cy) const { return ::HitTest(m_scene.Regions(), cx, cy); }

int CVoGadrelView::PinAt(int cx, int cy) const {
  const PackagePlacement& placement = m_scene.Placement();
  const auto inside = [&](const PixelRect& r) { return r.x < cx && cx < r.Right() && r.y < cy && cy < r.Bottom(); };
  for (const PinPlacement& p : placement.pins)
    if (inside(p.region)) return static_cast<int>(p.pin);
  for (const BallPlacement& b : placement.balls)
    if (inside(b.ball)) return static_cast<int>(b.pin);
  return -1;
}

void CVoGadrelView::mouseMoveEvent(QMouseEvent* event) {
  const QPoint pt = event->position().toPoint();
  m_toolTip.RelayEvent(event);
  const QPoint scroll = ScrollPosition();
  if (const TipRegion* hit = HitTest(pt.x() + scroll.x(), pt.y() + scroll.y())) {
    // The rectangle in canvas pixels, as the view's client coordinates.
    const QRect canvas(QPoint(static_cast<int>(hit->x), static_cast<int>(hit->y)),
                       QPoint(static_cast<int>(hit->x + hit->width), static_cast<int>(hit->y + hit->height)));
    m_toolTip.ShowHelpTooltip(QString::fromUtf8(hit->text.data(), static_cast<qsizetype>(hit->text.size())),
                              canvas.translated(-scroll));
  } else {
    m_toolTip.HideTooltip();
  }

  if (m_bDrag) {
    if (!(event->buttons() & Qt::LeftButton)) {
      m_bDrag = false;
    } else if (pt != m_ptLastDrag) {
      if (pt.x() != m_ptLastDrag.x()) {
        horizontalScrollBar()->setValue(horizontalScrollBar()->value() + m_ptLastDrag.x() - pt.x());
      }
      if (pt.y() != m_ptLastDrag.y()) {
        verticalScrollBar()->setValue(verticalScrollBar()->value() + m_ptLastDrag.y() - pt.y());
      }
      viewport()->update();
      m_ptLastDrag = pt;
    }
  }
  QAbstractScrollArea::mouseMoveEvent(event);
}

void CVoGadrelView::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) {
    m_bDrag = true;
    m_ptLastDrag = event->position().toPoint();
  } else if (event->button() == Qt::RightButton && m_pContextMenu != nullptr) {
    const QPoint pt = event->position().toPoint() + ScrollPosition();
    m_nContextPin = PinAt(pt.x(), pt.y());
    emit ContextMenuOpening();
    m_pContextMenu->popup(QCursor::pos());
  }
  QAbstractScrollArea::mousePressEvent(event);
}

void CVoGadrelView::wheelEvent(QWheelEvent* event) {
  const QPoint angle = event->angleDelta();
  const int delta = angle.y() != 0 ? angle.y() : angle.x();
  event->accept();
  if (delta == 0) return;
  if (event->modifiers() & Qt::ControlModifier) {
    Zoom(delta > 0);
    return;
  }
  QScrollBar* bar = (event->modifiers() & Qt::ShiftModifier) ? horizontalScrollBar() : verticalScrollBar();
  bar->setValue(bar->value() + (delta < 0 ? bar->singleStep() : -bar->singleStep()));
  viewport()->update();
}

void CVoGadrelView::ZoomIn() { Zoom(true); }
void CVoGadrelView::ZoomOut() { Zoom(false); }

void CVoGadrelView::Zoom(bool in) { SetZoomTenths(in ? ZoomInTenths(m_nZoomTenths) : ZoomOutTenths(m_nZoomTenths)); }

void CVoGadrelView::SetZoomTenths(int tenths) {
  const QPoint p = ScrollPosition();
  const QSize before = CanvasPixels();
  m_nZoomTenths = std::clamp(tenths, kZoomMinTenths, kZoomMaxTenths);
  m_pZoomLabel->setText(ZoomText());
  SyncScene();
  UpdateScrollSizes();
  const QSize after = CanvasPixels();
  ScrollTo(QPoint(static_cast<int>(static_cast<double>(p.x()) / before.width() * after.width()),
                  static_cast<int>(static_cast<double>(p.y()) / before.height() * after.height())));
  m_toolTip.HideTooltip();
  viewport()->update();
}
