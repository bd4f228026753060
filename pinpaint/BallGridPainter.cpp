// Ball-grid packages.
#include <QPainterPath>

#include "pinpaint/PaintTools.h"

namespace pinpaint {

void DrawBallGrid(QPainter& p, const Tools& t, const QRectF& visible, const PackageInfo& info,
                  const PackagePlacement& pl) {
  if (Visible(visible, pl.nameBox)) {
    DrawTextBlock(p, t.name, Argb(pl.name.color), pl.name.x, pl.name.y, FromBytes(pl.name.text));
  }
  QPen outline;
  outline.setWidthF(2);
  outline.setCosmetic(true);
  for (const BallPlacement& b : pl.balls) {
    if (!Visible(visible, b.ball.Adjusted(3))) continue;
    const PinInfo& pin = info.pins[b.pin];
    const QRectF ball = ToQt(b.ball);
    outline.setColor(Argb(pin.pin_no_color));
    p.setPen(outline);
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(ball);
    QPainterPath fill;
    fill.addEllipse(ball);
    p.fillPath(fill, Argb(pin.pin_bg_color));
    p.setFont(t.small);
    p.setPen(Argb(kBlack));
    p.drawText(ball, Qt::AlignCenter, FromBytes(b.label));
  }
  p.setFont(t.small);
  p.setPen(Argb(kBlack));
  for (const GridLabel& g : pl.gridLabels) {
    if (Visible(visible, g.band)) p.drawText(ToQt(g.band), Qt::AlignCenter, FromBytes(g.text));
  }
}

}  // namespace pinpaint
