#include "pinpaint/PackagePainter.h"

#include <QPainterPath>
#include <QPolygonF>
#include <cmath>

#include "pinpaint/PaintTools.h"

using namespace pinpaint;

namespace {

// The function texts of a pin split around the highlighted entry.
struct Column {
  QString lead, highlight, trail;
  bool found = false;
};

Column SplitTexts(const std::vector<std::string>& texts, const std::string& highlight) {
  Column col;
  const auto it = std::find(texts.begin(), texts.end(), highlight);
  col.found = it != texts.end();
  const auto cut = [](const QString& s) { return s.left(kMaxColumnChars); };
  if (!col.found) {
    QStringList all;
    for (const auto& t : texts) {
      if (all.size() > kMaxColumnChars) break;
      all << FromBytes(t).left(kMaxColumnChars);
    }
    col.lead = cut(all.join(QLatin1Char(',')));
    return col;
  }
  for (auto i = texts.begin(); i != it; ++i) {
    if (col.lead.size() >= kMaxColumnChars) break;
    col.lead += FromBytes(*i).left(kMaxColumnChars) + QLatin1Char(',');
  }
  col.lead = cut(col.lead);
  col.highlight = cut(FromBytes(*it));
  for (auto i = it + 1; i != texts.end(); ++i) {
    if (col.trail.size() >= kMaxColumnChars) break;
    col.trail += QLatin1Char(',') + FromBytes(*i).left(kMaxColumnChars);
  }
  col.trail = cut(col.trail);
  return col;
}

// Draws a column along `side` starting (bottom, right) or ending (top, left)
// at `start` on the axis; `cross` is the other coordinate of the text box.
// Returns the column's length.
double DrawColumn(QPainter& p, const Tools& t, const PinInfo& pin, const Column& col, PinSide side,
                  double start, double cross, bool draw) {
  const auto& fm = t.smallFm;
  const double leadLen = fm.horizontalAdvance(col.lead);
  if (!col.found) {
    if (draw) {
      const QColor c = Argb(pin.normal_color);
      switch (side) {
        case PinSide::Bottom: DrawVertical(p, t.small, fm, c, cross, start, col.lead); break;
        case PinSide::Right: DrawText(p, t.small, fm, c, start, cross, col.lead); break;
        case PinSide::Top: DrawVertical(p, t.small, fm, c, cross, start, col.lead, -leadLen); break;
        case PinSide::Left: DrawText(p, t.small, fm, c, start - leadLen, cross, col.lead); break;
      }
    }
    return leadLen;
  }
  const double hlLen = fm.horizontalAdvance(col.highlight);
  const double beforeTrail = fm.horizontalAdvance(col.lead + col.highlight + QLatin1Char(','));
  const double trailLen = fm.horizontalAdvance(col.trail);
  if (draw) {
    const QColor n = Argb(pin.normal_color);
    const QColor h = Argb(pin.highlight_color);
    switch (side) {
      case PinSide::Bottom:
        DrawVertical(p, t.small, fm, n, cross, start, col.lead);
        DrawVertical(p, t.small, fm, h, cross, start + leadLen, col.highlight);
        DrawVertical(p, t.small, fm, n, cross, start + beforeTrail, col.trail);
        break;
      case PinSide::Right:
        DrawText(p, t.small, fm, n, start, cross, col.lead);
        DrawText(p, t.small, fm, h, start + leadLen, cross, col.highlight);
        DrawText(p, t.small, fm, n, start + beforeTrail, cross, col.trail);
        break;
      case PinSide::Top:
        DrawVertical(p, t.small, fm, n, cross, start, col.lead, -leadLen);
        DrawVertical(p, t.small, fm, h, cross, start - leadLen, col.highlight, -hlLen);
        DrawVertical(p, t.small, fm, n, cross, start - beforeTrail, col.trail, -trailLen);
        break;
      case PinSide::Left:
        DrawText(p, t.small, fm, n, start - leadLen, cross, col.lead);
        DrawText(p, t.small, fm, h, start - leadLen - hlLen, cross, col.highlight);
        DrawText(p, t.small, fm, n, start - beforeTrail - trailLen, cross, col.trail);
        break;
    }
  }
  return col.trail.isEmpty() ? leadLen + hlLen : beforeTrail + trailLen;
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


void DrawSidePins(QPainter& p, const Tools& t, const PaintOptions& o, const PackageLayout& l,
                  const std::vector<const PinInfo*>& pins, size_t& next, PinSide side,
                  std::vector<TipRegion>& regions) {
  const double z = t.z;
  const int count = l.perSide[static_cast<int>(side)];
  const double s1 = l.s1, s2 = l.s2;
  for (int m = 1; m <= count && next < pins.size(); ++m) {
    const PinInfo& pin = *pins[next++];
    const CanvasRect cr = PinRect(l, side, m);
    const QRectF r(cr.x * z, cr.y * z, cr.w * z, cr.h * z);
    const QString number = FromBytes(pin.pin_no).left(7);
    const double numLen = t.smallFm.horizontalAdvance(number);
    // Without all functions a pin shows only its highlighted one.
    const bool hasTexts = !pin.texts.empty();
    const Column col = o.showAllFunctions || !hasTexts ? SplitTexts(pin.texts, pin.highlight_text)
                                                       : SplitTexts({pin.highlight_text}, pin.highlight_text);

    // Extent along the pin axis of the pin, its number and its text column.
    double lo = 0, hi = 0, numAt = 0, colAt = 0, cross = 0;
    double colLen = hasTexts ? DrawColumn(p, t, pin, col, side, 0, 0, false) : 0;
    switch (side) {
      case PinSide::Bottom:
        numAt = (828 + s2) * z;
        colAt = (869 + s2) * z;
        cross = r.x() - z;
        lo = std::min(r.top(), numAt);
        hi = std::max({r.bottom(), numAt + numLen, hasTexts ? colAt + colLen : 0.0});
        break;
      case PinSide::Right:
        numAt = (1039 + s1 - 6.0 * number.size()) * z;
        colAt = (1069 + s1) * z;
        cross = r.y() - z;
        lo = std::min(r.left(), numAt);
        hi = std::max({r.right(), numAt + numLen, hasTexts ? colAt + colLen : 0.0});
        break;
      case PinSide::Top:
        numAt = kBodyY * z;
        colAt = 811 * z;
        cross = r.x() - z;
        lo = std::min(r.top(), hasTexts ? colAt - colLen : r.top());
        hi = std::max(r.bottom(), numAt + numLen);
        break;
      case PinSide::Left:
        numAt = kBodyX * z;
        colAt = 1011 * z;
        cross = r.y() - z;
        lo = std::min(r.left(), hasTexts ? colAt - colLen : r.left());
        hi = std::max(r.right(), numAt + numLen);
        break;
    }
    const bool vertical = side == PinSide::Bottom || side == PinSide::Top;
    const QRectF region = vertical ? QRectF(r.x(), lo, r.width(), hi - lo) : QRectF(lo, r.y(), hi - lo, r.height());
    regions.push_back({static_cast<float>(region.x()), static_cast<float>(region.y()),
                       static_cast<float>(region.width()), static_cast<float>(region.height()),
                       TipText(pin.information)});
    if (!Visible(o, region)) continue;

    p.fillRect(r, Argb(pin.pin_bg_color));
    p.setPen(t.black);
    p.setBrush(Qt::NoBrush);
    p.drawRect(r);

    QPointF edge, out;
    switch (side) {
      case PinSide::Bottom: edge = {r.center().x(), r.top()}; out = {0, 1}; break;
      case PinSide::Right: edge = {r.left(), r.center().y()}; out = {1, 0}; break;
      case PinSide::Top: edge = {r.center().x(), r.bottom()}; out = {0, -1}; break;
      case PinSide::Left: edge = {r.right(), r.center().y()}; out = {-1, 0}; break;
    }
    DrawMarks(p, t, pin, edge, out, r, side);

    const QString levelText = pin.status == kStatusHigh ? QStringLiteral("H")
                              : pin.status == kStatusLow ? QStringLiteral("L") : QString();
    const QColor levelColor = Argb(pin.status == kStatusHigh ? kRed : kBlack);
    const double tenth = 0.1 * kPinLength * z, sixTenths = 0.6 * kPinLength * z;
    switch (side) {
      case PinSide::Bottom: DrawVertical(p, t.level, t.levelFm, levelColor, r.x(), r.y() + tenth, levelText); break;
      case PinSide::Right: DrawText(p, t.level, t.levelFm, levelColor, r.x() + tenth, r.y(), levelText); break;
      case PinSide::Top: DrawVertical(p, t.level, t.levelFm, levelColor, r.x(), r.y() + sixTenths, levelText); break;
      case PinSide::Left: DrawText(p, t.level, t.levelFm, levelColor, r.x() + sixTenths, r.y(), levelText); break;
    }

    const QColor numColor = Argb(pin.pin_no_color);
    if (vertical) {
      DrawVertical(p, t.small, t.smallFm, numColor, r.x() - z, numAt, number);
    } else {
      DrawText(p, t.small, t.smallFm, numColor, numAt, r.y() - z, number);
    }
    if (hasTexts) DrawColumn(p, t, pin, col, side, colAt, cross, true);
  }
}


}  // namespace

void PaintPackage(QPainter& p, const PackageInfo& info, const PaintOptions& o, std::vector<TipRegion>& regions) {
  regions.clear();
  p.save();
  p.setRenderHint(QPainter::Antialiasing, true);
  p.setRenderHint(QPainter::TextAntialiasing, true);
  const Tools t(p, o.zoom);
  const double z = t.z;

  const std::vector<const PinInfo*> pins = SortedPinOrder(info.pins);
  const PackageLayout l = ComputeLayout(pins.size(), info.pkg_frame);
  if (l.drawable) {
    p.setPen(t.black);
    p.setBrush(Qt::NoBrush);
    const QRectF body(kBodyX * z, kBodyY * z, l.s1 * z, l.s2 * z);
    if (l.frame == 3) {
      p.drawRect(body);
      DrawBallGrid(p, t, o, l, info, pins, regions);
    } else {
      p.drawRoundedRect(body, 5 * z, 5 * z);
      const CanvasRect m = PinOneMarker(l);
      p.drawEllipse(QRectF(m.x * z, m.y * z, m.w * z, m.h * z));

      const QString name = FromBytes(info.name).left(kMaxColumnChars);
      const QSizeF size = TextBlockSize(t.nameFm, name);
      const double w = size.width(), h = size.height();
      const double nx = kBodyX * z + (l.s1 * z - w) / 2, ny = kBodyY * z + (l.s2 * z - h) / 2;
      regions.push_back({static_cast<float>(nx), static_cast<float>(ny), static_cast<float>(w),
                         static_cast<float>(h), TipText(info.processor)});
      DrawTextBlock(p, t.name, Argb(info.name_color), nx, ny, name);

      size_t next = 0;
      for (PinSide side : {PinSide::Bottom, PinSide::Right, PinSide::Top, PinSide::Left}) {
        DrawSidePins(p, t, o, l, pins, next, side, regions);
      }
    }
  }
  DrawTextBlock(p, t.info, Argb(kRed), 830, 560 + (2 * o.clientWidth) / 5,
                FromBytes(info.information).left(kMaxColumnChars));
  p.restore();
}

void PaintControlPanel(QPainter& p, QPoint scroll, QColor buttonFace) {
  p.save();
  p.setRenderHint(QPainter::Antialiasing, false);
  const QColor shadow(buttonFace.red() / 2, buttonFace.green() / 2, buttonFace.blue() / 2);
  p.fillRect(QRect(scroll.x() + 8, scroll.y() + 8, 115, 58), shadow);
  p.fillRect(QRect(scroll.x() + 5, scroll.y() + 5, 115, 58), buttonFace);
  p.restore();
}
