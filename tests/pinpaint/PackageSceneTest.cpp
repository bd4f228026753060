// The cached picture: a frame brought up to date by repainting only what
// changed equals the frame drawn from scratch, and only changed pins are
// asked to be repainted.
#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>
#include <string>

#include "pinpaint/PackageScene.h"

namespace {

PackageInfo Package(int n) {
  PackageInfo info;
  info.name = "SCENE";
  info.processor = "chip";
  for (int i = 1; i <= n; ++i) {
    PinInfo p;
    p.pin_no = std::to_string(i);
    p.texts = {"P" + std::to_string(i), "UART_TX", "SPI_MOSI"};
    p.highlight_text = p.texts[static_cast<size_t>(i % 3)];
    p.highlight_color = 0xFFD00000;
    p.status = i % 2 ? 65 : 66;
    p.direction = i % 5;
    p.pullup = i % 3 == 0;
    p.information = "pin " + std::to_string(i);
    info.pins.push_back(p);
  }
  return info;
}

const QPoint kOrigin(780, 560);
const QSize kClient(900, 700);
const QColor kFace(0xEF, 0xEF, 0xEF);

QImage FromScratch(const PackageInfo& info, float zoom) {
  PackageScene scene;
  scene.SetView(zoom, true, kClient.width());
  scene.SetPackage(info);
  return scene.Frame(kOrigin, kClient, kFace).copy();
}

// The same client area drawn item by item, without any cache.
QImage Uncached(const PackageInfo& info, float zoom) {
  PackageScene scene;
  scene.SetView(zoom, true, kClient.width());
  scene.SetPackage(info);
  QImage image(kClient, QImage::Format_ARGB32_Premultiplied);
  image.fill(0xFFFFFFFF);
  QPainter p(&image);
  p.setClipRect(QRect(QPoint(0, 0), kClient));
  p.translate(-kOrigin);
  scene.PaintAll(p, kOrigin, kFace, QRectF(kOrigin, kClient));
  return image;
}

TEST(PackageScene, RepaintingWhatChangedEqualsDrawingAgain) {
  struct Change {
    const char* what;
    void (*apply)(PackageInfo&);
  };
  const Change changes[] = {
      {"levels and directions", [](PackageInfo& i) { for (PinInfo& p : i.pins) { p.status = p.status == 65 ? 66 : 65; p.direction = (p.direction + 2) % 5; } }},
      {"box colours", [](PackageInfo& i) { i.pins[3].pin_bg_color = 0xFF00FF00; i.pins[60].pin_bg_color = 0xFFFF00FF; }},
      {"highlighted functions", [](PackageInfo& i) { for (PinInfo& p : i.pins) p.highlight_text = p.texts[0]; }},
      {"one text longer", [](PackageInfo& i) { i.pins[70].texts[1] = "A_MUCH_LONGER_FUNCTION_NAME"; }},
      {"pin numbers", [](PackageInfo& i) { i.pins[75].pin_no = "76"; i.pins[75].pin_no_color = 0xFF0000FF; }},
      {"information line", [](PackageInfo& i) { i.information = "No adapter found"; }},
      {"name", [](PackageInfo& i) { i.name = "OTHER"; }},
  };
  for (const float zoom : {1.0f, 1.5f}) {
    for (const Change& c : changes) {
      SCOPED_TRACE(std::string(c.what) + " at zoom " + std::to_string(zoom));
      PackageScene scene;
      scene.SetView(zoom, true, kClient.width());
      scene.SetPackage(Package(100));
      scene.Frame(kOrigin, kClient, kFace);
      PackageInfo next = Package(100);
      c.apply(next);
      scene.SetPackage(next);
      const QImage updated = scene.Frame(kOrigin, kClient, kFace).copy();
      EXPECT_TRUE(updated == FromScratch(next, zoom));
    }
  }
}

// Pins are copied from pictures of their looks: the frame equals drawing
// every item, also once the pictures were made for other looks and after a
// change of zoom.
TEST(PackageScene, CopiedPinsEqualDrawnPins) {
  PackageScene scene;
  for (const float zoom : {1.0f, 1.5f, 1.3f}) {
    SCOPED_TRACE("zoom " + std::to_string(zoom));
    scene.SetView(zoom, true, kClient.width());
    for (int tick = 0; tick < 3; ++tick) {
      PackageInfo info = Package(100);
      for (PinInfo& p : info.pins) {
        p.status = (p.status + tick) % 2 ? 65 : 66;
        p.direction = (p.direction + tick) % 5;
        if (tick == 2) p.pin_bg_color = 0xFF102030u + static_cast<uint32_t>(p.direction);
      }
      scene.SetPackage(info);
      const QImage frame = scene.Frame(kOrigin, kClient, kFace).copy();
      EXPECT_TRUE(frame == Uncached(info, zoom)) << "tick " << tick;
    }
  }
}

TEST(PackageScene, OnlyChangedPinsAskForARepaint) {
  PackageScene scene;
  scene.SetView(1.0f, true, kClient.width());
  scene.SetPackage(Package(100));
  bool everything = false;
  scene.PendingChange(kOrigin, kClient, everything);
  EXPECT_TRUE(everything) << "nothing drawn yet";
  scene.Frame(kOrigin, kClient, kFace);

  PackageInfo next = Package(100);
  next.pins[60].status = 66;  // a top pin, in view
  scene.SetPackage(next);
  QRegion changed = scene.PendingChange(kOrigin, kClient, everything);
  EXPECT_FALSE(everything);
  EXPECT_FALSE(changed.isEmpty());
  EXPECT_LT(changed.boundingRect().width(), 60);
  scene.Frame(kOrigin, kClient, kFace);

  next.pins[60].information = "only the tooltip";
  scene.SetPackage(next);
  changed = scene.PendingChange(kOrigin, kClient, everything);
  EXPECT_TRUE(changed.isEmpty());
  EXPECT_EQ(scene.Regions()[61].text, "only the tooltip");

  scene.SetView(1.1f, true, kClient.width());
  scene.PendingChange(kOrigin, kClient, everything);
  EXPECT_TRUE(everything);
}

}  // namespace
