// Pin pictures: a copy equals drawing the pin, on whatever background lies
// beneath, and the pictures kept stay within their budget however many
// looks come.
#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>
#include <string>

#include "pinpaint/PaintTools.h"
#include "pinpaint/PinSprites.h"

namespace {

TEST(PinSprites, CopiesEqualDrawingWithinTheBudget) {
  const QImage device(1, 1, QImage::Format_ARGB32_Premultiplied);
  const float zoom = 1.5f;
  const pinpaint::Tools tools(&device, zoom);
  PackageInfo info;
  for (int i = 1; i <= 100; ++i) {
    PinInfo p;
    p.pin_no = std::to_string(i);
    p.texts = {"P" + std::to_string(i)};
    info.pins.push_back(p);
  }
  const PackagePlacement placed = PlacePackage(info, {zoom, true}, pinpaint::MeasureWith(tools));
  ASSERT_GT(placed.pins.size(), 20u);

  for (const size_t which : {size_t{0}, size_t{30}}) {  // a bottom and a right pin
    SCOPED_TRACE("pin " + std::to_string(which));
    const PinPlacement& pp = placed.pins[which];
    const QRect pixels = pinpaint::ToQt(pp.dynamicBounds).toAlignedRect();
    const QPoint origin = pixels.topLeft() - QPoint(3, 3);
    QImage background(pixels.size() + QSize(6, 6), QImage::Format_ARGB32_Premultiplied);
    const size_t entryBytes = 2 * static_cast<size_t>(pixels.width() * pixels.height() * 4);
    PinSprites sprites(3 * entryBytes);

    PinInfo pin = info.pins[pp.pin];
    for (int round = 0; round < 2; ++round) {
      background.fill(0xFFFFFFFF);
      if (round == 1) {  // something of the static layer beneath, same looks
        QPainter p(&background);
        p.setRenderHint(QPainter::Antialiasing, true);
        p.setPen(Qt::darkGreen);
        p.drawLine(QPointF(0, 0), QPointF(background.width(), background.height()));
      }
      for (int look = 0; look < 8; ++look) {
        SCOPED_TRACE("round " + std::to_string(round) + " look " + std::to_string(look));
        pin.pin_bg_color = 0xFF203040u + static_cast<uint32_t>(look % 4) * 0x1000;
        pin.status = look % 2 ? 65 : 66;
        pin.direction = look % 5;
        pin.pullup = look >= 4;
        QImage drawn = background.copy(), copied = background.copy();
        {
          QPainter p(&drawn);
          p.translate(-origin);
          p.setRenderHint(QPainter::Antialiasing, true);
          p.setRenderHint(QPainter::TextAntialiasing, true);
          pinpaint::DrawPinState(p, tools, pin, pp);
        }
        {
          QPainter p(&copied);
          p.translate(-origin);
          EXPECT_TRUE(sprites.Draw(p, copied, origin, tools, pin, pp, pixels));
        }
        EXPECT_TRUE(copied == drawn);
        EXPECT_LE(sprites.Bytes(), 3 * entryBytes);
        EXPECT_LE(sprites.Size(), 3u);
      }
    }
    // Reaching past the background: nothing is copied.
    QImage untouched = background.copy();
    QPainter p(&untouched);
    EXPECT_FALSE(sprites.Draw(p, untouched, origin + QPoint(4, 0), tools, pin, pp, pixels));
  }
}

}  // namespace
