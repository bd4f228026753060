#include "pinpaint/PackagePainter.h"

#include <QPainterPath>
#include <QPolygonF>
#include <cmath>

#include "pinpaint/PaintTools.h"

using namespace pinpaint;

namespace {

void DrawRun(QPainter& p, const Tools& t, const TextRun& run, bool vertical) {
  DrawRunText(p, t, false, Argb(run.color), run.x, run.y, run.text, vertical, run.along);
}

// Arrow head with its tip at `tip`, pointing along the unit vector `dir`.
void DrawArrow(QPainter& p, QPointF tip, QPointF dir, double z) {
  const double len = 3.0 * z, half = 2.0 * z;
  const QPointF base = tip - dir * len;
  const QPointF normal(-dir.y(), dir.x());
  QPainterPath path;
  path.addPolygon(QPolygonF({tip, base + normal * half, base - normal * half, tip}));
  p.fillPath(path, Argb(kBlue));
}

void DrawDot(QPainter& p, QPointF centre, double z) {
  QPainterPath path;
  path.addEllipse(centre, 1.5 * z, 1.5 * z);
  p.fillPath(path, Argb(kBlue));
}

// Direction and pull-up marks of one pin. `edge` is where the pin meets the
// body on its centre line, `out` the unit vector away from the body.
void DrawMarks(QPainter& p, const Tools& t, const PinInfo& pin, QPointF edge, QPointF out,
               const QRectF& pinRect, PinSide side) {
  if (pin.direction < 1 || pin.direction > 4) return;
  const double z = t.z;
  const QPointF start = edge + out * (0.4 * kPinLength * z);
  const QPointF end = edge + out * (0.9 * kPinLength * z);
  p.setPen(t.blue);
  p.drawLine(start, end);
  switch (pin.direction) {
    case 1: DrawArrow(p, start, -out, z); break;
    case 2: DrawArrow(p, end, out, z); break;
    case 3: DrawDot(p, end, z); break;
    case 4: DrawArrow(p, start, -out, z); DrawArrow(p, end, out, z); break;
    default: break;
  }
  if (!pin.pullup || pin.direction == 4) return;
  const QPointF at = pin.direction == 1 ? end : start;
  p.setPen(t.blue);
  if (side == PinSide::Bottom || side == PinSide::Top) {
    p.drawLine(QPointF(at.x(), at.y()), QPointF(pinRect.right(), at.y()));
  } else {
    p.drawLine(QPointF(at.x(), at.y()), QPointF(at.x(), pinRect.top()));
  }
}

// Box, marks, level and number of one pin.
void DrawPinState(QPainter& p, const Tools& t, const PinInfo& pin, const PinPlacement& pp) {
  const QRectF r = ToQt(pp.box);
  const double z = t.z;
  p.fillRect(r, Argb(pin.pin_bg_color));
  p.setPen(t.black);
  p.setBrush(Qt::NoBrush);
  p.drawRect(r);
  QPointF edge, out;
  switch (pp.side) {
    case PinSide::Bottom: edge = {r.center().x(), r.top()}; out = {0, 1}; break;
    case PinSide::Right: edge = {r.left(), r.center().y()}; out = {1, 0}; break;
    case PinSide::Top: edge = {r.center().x(), r.bottom()}; out = {0, -1}; break;
    case PinSide::Left: edge = {r.right(), r.center().y()}; out = {-1, 0}; break;
  }
  DrawMarks(p, t, pin, edge, out, r, pp.side);

  if (pin.status == kStatusHigh || pin.status == kStatusLow) {
    static const std::string kHigh = "H", kLow = "L";
    const std::string& levelText = pin.status == kStatusHigh ? kHigh : kLow;
    const QColor levelColor = Argb(pin.status == kStatusHigh ? kRed : kBlack);
    const double tenth = 0.1 * kPinLength * z, sixTenths = 0.6 * kPinLength * z;
    switch (pp.side) {
      case PinSide::Bottom: DrawRunText(p, t, true, levelColor, r.x(), r.y() + tenth, levelText, true); break;
      case PinSide::Right: DrawRunText(p, t, true, levelColor, r.x() + tenth, r.y(), levelText, false); break;
      case PinSide::Top: DrawRunText(p, t, true, levelColor, r.x(), r.y() + sixTenths, levelText, true); break;
      case PinSide::Left: DrawRunText(p, t, true, levelColor, r.x() + sixTenths, r.y(), levelText, false); break;
    }
  }
  DrawRun(p, t, pp.number, pp.vertical);
}

}  // namespace

namespace pinpaint {

namespace {
// Texts laid out per zoom before the cache starts afresh.
constexpr size_t kMaxPreparedTexts = 8192;
}  // namespace

const QStaticText* Tools::Prepared(char tag, std::string_view utf8) const {
  std::string key;
  key.reserve(utf8.size() + 1);
  key.push_back(tag);
  key.append(utf8);
  if (const auto it = m_prepared.find(key); it != m_prepared.end()) return &it->second;
  for (const char c : utf8) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return nullptr;
  }
  if (m_prepared.size() >= kMaxPreparedTexts) m_prepared.clear();
  QStaticText text(FromBytes(std::string(utf8)));
  text.setTextFormat(Qt::PlainText);
  text.setPerformanceHint(QStaticText::AggressiveCaching);
  return &m_prepared.emplace(std::move(key), std::move(text)).first->second;
}

void DrawRunText(QPainter& p, const Tools& t, bool levelFont, QColor c, double x, double y, const std::string& utf8,
                 bool vertical, double along) {
  if (utf8.empty() || c.alpha() == 0) return;
  const QFont& f = levelFont ? t.level : t.small;
  const QFontMetricsF& fm = levelFont ? t.levelFm : t.smallFm;
  const char tag = static_cast<char>((levelFont ? 'l' : 's') + (vertical ? 'A' - 'a' : 0));
  const QStaticText* prepared = t.Prepared(tag, utf8);
  if (prepared == nullptr) {
    if (vertical) {
      DrawVertical(p, f, fm, c, x, y, FromBytes(utf8), along);
    } else {
      DrawText(p, f, fm, c, x, y, FromBytes(utf8));
    }
    return;
  }
  if (!vertical) {
    p.setFont(f);
    p.setPen(c);
    p.drawStaticText(QPointF(x, y), *prepared);
    return;
  }
  // The transform alone changes: saving the whole painter state would copy
  // the clip of a partial repaint for every text.
  const QTransform base = p.transform();
  QTransform turned = base;
  turned.translate(x + fm.height(), y);
  turned.rotate(90);
  p.setTransform(turned);
  p.setFont(f);
  p.setPen(c);
  p.drawStaticText(QPointF(along, 0), *prepared);
  p.setTransform(base);
}

TextMeasure MeasureWith(const Tools& t) {
  return [&t](TextFont font, std::string_view utf8) -> TextExtent {
    const QString s = QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
    if (font == TextFont::Name) {
      const QSizeF size = TextBlockSize(t.nameFm, s);
      return {size.width(), size.height()};
    }
    return {s.isEmpty() ? 0.0 : t.smallFm.horizontalAdvance(s), t.smallFm.height()};
  };
}

}  // namespace pinpaint

void PaintStaticLayer(QPainter& p, const Tools& t, const PackageInfo& info, const PackagePlacement& pl,
                      const QRectF& visible) {
  if (!pl.layout.drawable) return;
  p.save();
  p.setRenderHint(QPainter::Antialiasing, true);
  p.setRenderHint(QPainter::TextAntialiasing, true);
  const double z = t.z;
  p.setPen(t.black);
  p.setBrush(Qt::NoBrush);
  const QRectF body = ToQt(pl.body);
  if (pl.layout.frame == kFrameBallGrid) {
    p.drawRect(body);
    DrawBallGrid(p, t, visible, info, pl);
    p.restore();
    return;
  }
  // The outline only where the visible part reaches it.
  const PixelRect inside = pl.body.Adjusted(-3);
  const bool withinBody = !visible.isEmpty() && QRectF(inside.x, inside.y, inside.w, inside.h).contains(visible);
  if (!withinBody) p.drawRoundedRect(body, 5 * z, 5 * z);
  if (Visible(visible, pl.marker.Adjusted(3))) p.drawEllipse(ToQt(pl.marker));
  if (Visible(visible, pl.nameBox)) {
    DrawTextBlock(p, t.name, Argb(pl.name.color), pl.name.x, pl.name.y, FromBytes(pl.name.text));
  }
  for (const PinPlacement& pp : pl.pins) {
    if (!Visible(visible, pp.staticBounds)) continue;
    for (const TextRun& run : pp.column) DrawRun(p, t, run, pp.vertical);
  }
  p.restore();
}

void PaintDynamicLayer(QPainter& p, const Tools& t, const PackageInfo& info, const PackagePlacement& pl,
                       const QRectF& visible) {
  if (!pl.layout.drawable || pl.pins.empty()) return;
  // The static layer's pin items (the function texts) never meet another
  // pin's box, so drawing all boxes here keeps the order of a single pass.
  p.save();
  p.setRenderHint(QPainter::Antialiasing, true);
  p.setRenderHint(QPainter::TextAntialiasing, true);
  for (const PinPlacement& pp : pl.pins) {
    if (Visible(visible, pp.dynamicBounds)) DrawPinState(p, t, info.pins[pp.pin], pp);
  }
  p.restore();
}

namespace {
QString InformationText(const PackageInfo& info) { return FromBytes(info.information).left(kMaxColumnChars); }
QPointF InformationAt(int clientWidth) { return {830, 560 + (2.0 * clientWidth) / 5}; }
}  // namespace

void PaintInformation(QPainter& p, const Tools& t, const PackageInfo& info, int clientWidth) {
  if (info.information.empty()) return;
  p.save();
  p.setRenderHint(QPainter::Antialiasing, true);
  p.setRenderHint(QPainter::TextAntialiasing, true);
  const QPointF at = InformationAt(clientWidth);
  DrawTextBlock(p, t.info, Argb(kRed), at.x(), at.y(), InformationText(info));
  p.restore();
}

QRectF InformationBox(const Tools& t, const PackageInfo& info, int clientWidth) {
  if (info.information.empty()) return {};
  const QPointF at = InformationAt(clientWidth);
  return QRectF(at, TextBlockSize(t.infoFm, InformationText(info))).adjusted(-3, -3, 3, 3);
}

void PaintPackage(QPainter& p, const PackageInfo& info, const PaintOptions& o, std::vector<TipRegion>& regions) {
  const Tools t(p.device(), o.zoom);
  const PackagePlacement pl = PlacePackage(info, {o.zoom, o.showAllFunctions}, MeasureWith(t));
  PaintStaticLayer(p, t, info, pl, o.visible);
  PaintDynamicLayer(p, t, info, pl, o.visible);
  PaintInformation(p, t, info, o.clientWidth);
  regions = pl.regions;
}

void PaintControlPanel(QPainter& p, QPoint scroll, QColor buttonFace) {
  p.save();
  p.setRenderHint(QPainter::Antialiasing, false);
  const QColor shadow(buttonFace.red() / 2, buttonFace.green() / 2, buttonFace.blue() / 2);
  p.fillRect(QRect(scroll.x() + 8, scroll.y() + 8, 115, 58), shadow);
  p.fillRect(QRect(scroll.x() + 5, scroll.y() + 5, 115, 58), buttonFace);
  p.restore();
}

QRect ControlPanelBox(QPoint scroll) { return QRect(scroll.x() + 5, scroll.y() + 5, 118, 61); }
