// Ball-grid packages.
#include <QPainterPath>

#include "pinpaint/PaintTools.h"

namespace pinpaint {

void DrawBallGrid(QPainter& p, const Tools& t, const PaintOptions& o, const PackageLayout& l,
                  const PackageInfo& info, const std::vector<const PinInfo*>& pins,
                  std::vector<TipRegion>& regions) {
  const double z = t.z;
  const int side = l.gridSide;
  const QString name = FromBytes(info.name).left(kMaxColumnChars);
  const QSizeF size = TextBlockSize(t.nameFm, name);
  const double w = size.width(), h = size.height();
  const double nx = kBodyX * z + (l.s1 * z - w) / 2, ny = (l.s2 + 848) * z;
  regions.push_back({static_cast<float>(nx), static_cast<float>(ny), static_cast<float>(w),
                     static_cast<float>(h), TipText(info.processor)});
  DrawTextBlock(p, t.name, Argb(info.name_color), nx, ny, name);

  QPen outline;
  outline.setWidthF(2);
  outline.setCosmetic(true);
  for (int r = 1; r <= side; ++r) {
    for (int c = 1; c <= side; ++c) {
      const PinInfo& pin = *pins[static_cast<size_t>(r - 1) * side + (c - 1)];
      if (pin.texts.empty()) continue;
      const CanvasRect cr = BallRect(l, r, c);
      const QRectF ball(cr.x * z, cr.y * z, cr.w * z, cr.h * z);
      regions.push_back({static_cast<float>(ball.x()), static_cast<float>(ball.y()),
                         static_cast<float>(ball.width()), static_cast<float>(ball.height()), TipText(pin.information)});
      if (!Visible(o, ball)) continue;
      outline.setColor(Argb(pin.pin_no_color));
      p.setPen(outline);
      p.setBrush(Qt::NoBrush);
      p.drawEllipse(ball);
      QPainterPath fill;
      fill.addEllipse(ball);
      p.fillPath(fill, Argb(pin.pin_bg_color));
      QString label = FromBytes(pin.highlight_text);
      if (label.size() > 5) label = label.left(5) + QLatin1Char('\n') + label.mid(5, 5);
      p.setFont(t.small);
      p.setPen(Argb(kBlack));
      p.drawText(ball, Qt::AlignCenter, label);
    }
  }
  p.setFont(t.small);
  p.setPen(Argb(kBlack));
  for (int c = 1; c <= side; ++c) {
    const CanvasRect cr = BallRect(l, 1, c);
    const QRectF band(kBodyX * z, cr.y * z, 21 * z, cr.h * z);
    if (Visible(o, band)) p.drawText(band, Qt::AlignCenter, QString::number(c));
  }
  for (int r = 1; r <= side && r <= 20; ++r) {
    const CanvasRect cr = BallRect(l, r, 1);
    const QRectF band(cr.x * z, kBodyY * z, cr.w * z, 21 * z);
    if (Visible(o, band)) p.drawText(band, Qt::AlignCenter, QString::fromLatin1(BallColumnLetter(r)));
  }
}

}  // namespace pinpaint
