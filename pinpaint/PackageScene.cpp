#include "pinpaint/PackageScene.h"

#include <QPainter>
#include <iterator>
#include <utility>

#include "pinpaint/PackagePainter.h"
#include "pinpaint/PaintTools.h"

using namespace pinpaint;

namespace {

// Texts measured per zoom before the cache starts afresh: a script that
// writes new texts at every tick must not grow it without bound.
constexpr size_t kMaxMeasuredTexts = 16384;

// The device fonts are measured on: the view draws on images like this one.
const QImage& ReferenceDevice() {
  static const QImage image(1, 1, QImage::Format_ARGB32_Premultiplied);
  return image;
}

QRectF ToRectF(const PixelRect& r) { return {r.x, r.y, r.w, r.h}; }

double Area(const QRectF& r) { return r.width() * r.height(); }

// Neighbouring rectangles joined where their union wastes little: the pins
// of a side that all changed become one rectangle.
std::vector<QRectF> Merged(const std::vector<QRectF>& rects) {
  std::vector<QRectF> out;
  for (const QRectF& r : rects) {
    if (r.isEmpty()) continue;
    if (!out.empty()) {
      const QRectF u = out.back().united(r);
      if (Area(u) <= 1.5 * (Area(out.back()) + Area(r))) {
        out.back() = u;
        continue;
      }
    }
    out.push_back(r);
  }
  return out;
}

// Everything a placement is computed from, apart from the zoom and the
// view's options: when it is the same, the placement is too.
bool SamePlacementInput(const PackageInfo& a, const PackageInfo& b) {
  if (a.name != b.name || a.name_color != b.name_color || a.pkg_frame != b.pkg_frame || a.pins.size() != b.pins.size()) {
    return false;
  }
  for (size_t i = 0; i < a.pins.size(); ++i) {
    const PinInfo& p = a.pins[i];
    const PinInfo& q = b.pins[i];
    if (p.pin_no != q.pin_no || p.highlight_text != q.highlight_text || p.normal_color != q.normal_color ||
        p.highlight_color != q.highlight_color || p.pin_no_color != q.pin_no_color || p.texts != q.texts) {
      return false;
    }
  }
  return true;
}

}  // namespace

PackageScene::PackageScene() : m_tools(std::make_unique<Tools>(&ReferenceDevice(), m_zoom)) { Place(); }

PackageScene::~PackageScene() = default;

TextExtent PackageScene::Measure(TextFont font, std::string_view text) {
  auto& cache = font == TextFont::Name ? m_nameTexts : m_pinTexts;
  const std::string key(text);
  if (const auto it = cache.find(key); it != cache.end()) return it->second;
  if (cache.size() >= kMaxMeasuredTexts) cache.clear();
  const TextExtent e = MeasureWith(*m_tools)(font, text);
  cache.emplace(key, e);
  return e;
}

void PackageScene::Place() {
  PackagePlacement placed = PlacePackage(m_info, {m_zoom, m_showAll},
                                         [this](TextFont f, std::string_view s) { return Measure(f, s); });
  // The regions stay in the same storage while they fit: a hit found
  // before stays readable.
  std::vector<TipRegion> regions = std::move(m_placement.regions);
  regions.assign(std::make_move_iterator(placed.regions.begin()), std::make_move_iterator(placed.regions.end()));
  m_placement = std::move(placed);
  m_placement.regions = std::move(regions);
  m_infoBox = InformationBox(*m_tools, m_info, m_clientWidth);
}

void PackageScene::SetView(float zoom, bool showAllFunctions, int clientWidth) {
  if (zoom == m_zoom && showAllFunctions == m_showAll && clientWidth == m_clientWidth) return;
  const bool place = zoom != m_zoom || showAllFunctions != m_showAll;
  if (zoom != m_zoom) {
    m_zoom = zoom;
    m_tools = std::make_unique<Tools>(&ReferenceDevice(), m_zoom);
    m_pinTexts.clear();
    m_nameTexts.clear();
    m_sprites.Clear();
  }
  m_showAll = showAllFunctions;
  m_clientWidth = clientWidth;
  if (place) {
    Place();
  } else {
    m_infoBox = InformationBox(*m_tools, m_info, m_clientWidth);
  }
  MarkAll();
}

void PackageScene::SetPackage(PackageInfo info) {
  PackageInfo old = std::exchange(m_info, std::move(info));
  if (SamePlacementInput(old, m_info) && m_placement.layout.frame != kFrameBallGrid) {
    // Only levels, directions, colours of the boxes or tooltips changed:
    // the placement stays, the region texts follow the package.
    std::vector<TipRegion>& regions = m_placement.regions;
    if (!regions.empty()) regions[0].text = TipText(m_info.processor);
    for (size_t i = 0; i < m_placement.pins.size() && i + 1 < regions.size(); ++i) {
      regions[i + 1].text = TipText(m_info.pins[m_placement.pins[i].pin].information);
    }
    if (old.information != m_info.information) {
      const QRectF infoBefore = m_infoBox;
      m_infoBox = InformationBox(*m_tools, m_info, m_clientWidth);
      if (!m_all) {
        m_frameDirty.push_back(infoBefore);
        m_frameDirty.push_back(m_infoBox);
      }
    }
    if (m_all) return;
    for (const PinPlacement& pp : m_placement.pins) {
      const PinInfo& p = old.pins[pp.pin];
      const PinInfo& q = m_info.pins[pp.pin];
      if (p.status != q.status || p.direction != q.direction || p.pullup != q.pullup ||
          p.pin_bg_color != q.pin_bg_color) {
        m_frameDirty.push_back(ToRectF(pp.dynamicBounds));
      }
    }
    return;
  }
  const std::vector<PinPlacement> pinsBefore = std::move(m_placement.pins);
  const PackageLayout layoutBefore = m_placement.layout;
  const TextRun nameBefore = m_placement.name;
  const QRectF infoBefore = m_infoBox;
  Place();
  if (m_all) return;
  const PackagePlacement& after = m_placement;
  // Whatever moves more than single pins: everything.
  if (old.name != m_info.name || old.name_color != m_info.name_color || old.pkg_frame != m_info.pkg_frame ||
      pinsBefore.size() != after.pins.size() || layoutBefore.perSide != after.layout.perSide ||
      layoutBefore.drawable != after.layout.drawable || after.layout.frame == kFrameBallGrid ||
      !(nameBefore == after.name)) {
    MarkAll();
    return;
  }
  if (old.information != m_info.information) {
    m_frameDirty.push_back(infoBefore);
    m_frameDirty.push_back(m_infoBox);
  }
  for (size_t i = 0; i < after.pins.size(); ++i) {
    const PinPlacement& a = pinsBefore[i];
    const PinPlacement& b = after.pins[i];
    const PinInfo& p = old.pins[a.pin];
    const PinInfo& q = m_info.pins[b.pin];
    // The pin's box with its colour, marks, level and number are drawn over
    // the static layer; its function texts are in it.
    const bool staticChanged = !(a.column == b.column) || !(a.staticBounds == b.staticBounds);
    const bool dynamicChanged = p.status != q.status || p.direction != q.direction || p.pullup != q.pullup ||
                                p.pin_bg_color != q.pin_bg_color || !(a.number == b.number) ||
                                !(a.box == b.box);
    if (staticChanged) {
      const QRectF r = ToRectF(a.staticBounds.United(b.staticBounds));
      m_staticDirty.push_back(r);
    }
    if (staticChanged || dynamicChanged) m_frameDirty.push_back(ToRectF(a.dynamicBounds.United(b.dynamicBounds)));
  }
}

QRegion PackageScene::PendingChange(QPoint origin, QSize size, bool& everything) const {
  everything = m_all || origin != m_origin || size != m_frame.size();
  QRegion region;
  if (everything) return region;
  const QRect client(QPoint(0, 0), size);
  for (const QRectF& r : Merged(m_staticDirty)) region += r.translated(-origin).toAlignedRect() & client;
  for (const QRectF& r : Merged(m_frameDirty)) region += r.translated(-origin).toAlignedRect() & client;
  return region;
}

void PackageScene::Compose(QPainter& p, const QRect& client) {
  const QRectF canvas = QRectF(client).translated(m_origin);
  p.setClipRect(client);
  p.setCompositionMode(QPainter::CompositionMode_Source);
  p.drawImage(client.topLeft(), m_static, client);
  p.setCompositionMode(QPainter::CompositionMode_SourceOver);
  p.save();
  p.translate(-m_origin);
  if (m_placement.layout.drawable && !m_placement.pins.empty()) {
    // The pins as PaintDynamicLayer draws them, copied from their pictures
    // where the frame beneath is one seen before.
    p.save();
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setRenderHint(QPainter::TextAntialiasing, true);
    for (size_t i = 0; i < m_placement.pins.size(); ++i) {
      const PinPlacement& pp = m_placement.pins[i];
      if (!Visible(canvas, pp.dynamicBounds)) continue;
      const PinInfo& pin = m_info.pins[pp.pin];
      const QRect pixels = ToRectF(pp.dynamicBounds).toAlignedRect();
      if (!m_sprites.Draw(p, m_frame, m_origin, *m_tools, pin, pp, pixels)) {
        DrawPinState(p, *m_tools, pin, pp);
      }
    }
    p.restore();
  }
  if (!m_infoBox.isEmpty() && m_infoBox.intersects(canvas)) PaintInformation(p, *m_tools, m_info, m_clientWidth);
  if (ControlPanelBox(m_origin).intersects(canvas.toAlignedRect())) PaintControlPanel(p, m_origin, m_buttonFace);
  p.restore();
}

const QImage& PackageScene::Frame(QPoint origin, QSize size, QColor buttonFace) {
  const QRect client(QPoint(0, 0), size);
  if (m_all || origin != m_origin || size != m_frame.size() || buttonFace != m_buttonFace) {
    m_origin = origin;
    m_buttonFace = buttonFace;
    if (m_static.size() != size) {
      m_static = QImage(size, QImage::Format_ARGB32_Premultiplied);
      m_frame = QImage(size, QImage::Format_ARGB32_Premultiplied);
    }
    m_static.fill(0xFFFFFFFF);
    {
      QPainter p(&m_static);
      p.translate(-origin);
      PaintStaticLayer(p, *m_tools, m_info, m_placement, QRectF(origin, size));
    }
    QPainter p(&m_frame);
    Compose(p, client);
    m_all = false;
    m_staticDirty.clear();
    m_frameDirty.clear();
    return m_frame;
  }
  const std::vector<QRectF> staticRects = Merged(m_staticDirty);
  std::vector<QRectF> frameRects = Merged(m_frameDirty);
  m_staticDirty.clear();
  m_frameDirty.clear();
  if (!staticRects.empty()) {
    QPainter p(&m_static);
    for (const QRectF& r : staticRects) {
      const QRect c = r.translated(-origin).toAlignedRect() & client;
      if (c.isEmpty()) continue;
      p.setClipRect(c);
      p.fillRect(c, Qt::white);
      p.save();
      p.translate(-origin);
      PaintStaticLayer(p, *m_tools, m_info, m_placement, QRectF(c).translated(origin));
      p.restore();
    }
  }
  frameRects.insert(frameRects.end(), staticRects.begin(), staticRects.end());
  if (!frameRects.empty()) {
    QPainter p(&m_frame);
    for (const QRectF& r : frameRects) {
      const QRect c = r.translated(-origin).toAlignedRect() & client;
      if (!c.isEmpty()) Compose(p, c);
    }
  }
  return m_frame;
}

void PackageScene::PaintAll(QPainter& p, QPoint scroll, QColor buttonFace, const QRectF& visible) {
  PaintPicture(p, visible);
  PaintControlPanel(p, scroll, buttonFace);
}

void PackageScene::PaintPicture(QPainter& p, const QRectF& visible) {
  PaintStaticLayer(p, *m_tools, m_info, m_placement, visible);
  PaintDynamicLayer(p, *m_tools, m_info, m_placement, visible);
  PaintInformation(p, *m_tools, m_info, m_clientWidth);
}

QRectF PackageScene::DrawnBounds() const {
  const PackagePlacement& pl = m_placement;
  PixelRect all;
  if (pl.layout.drawable) {
    all = pl.body.United(pl.nameBox).United(pl.marker);
    for (const PinPlacement& pin : pl.pins) all = all.United(pin.staticBounds).United(pin.dynamicBounds).United(pin.region);
    for (const BallPlacement& ball : pl.balls) all = all.United(ball.ball);
    for (const GridLabel& label : pl.gridLabels) all = all.United(label.band);
  }
  QRectF bounds = all.IsEmpty() ? QRectF() : ToRectF(all);
  if (!m_infoBox.isEmpty()) bounds = bounds.isEmpty() ? m_infoBox : bounds.united(m_infoBox);
  return bounds;
}
