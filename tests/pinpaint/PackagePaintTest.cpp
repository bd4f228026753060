// Package drawing: layout of every frame kind through the recorded tooltip
// regions, and pixel probes on the drawn image.
#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>
#include <string>

#include "pinmodel/PackageLayout.h"
#include "pinpaint/PackagePainter.h"

namespace {

// n pins numbered 1..n, each with one function and a tooltip.
PackageInfo Package(int n, int frame) {
  PackageInfo info;
  info.name = "PKG";
  info.processor = "chip";
  info.pkg_frame = frame;
  for (int i = 1; i <= n; ++i) {
    PinInfo p;
    p.pin_no = std::to_string(i);
    p.texts = {"F" + std::to_string(i)};
    p.highlight_text = p.texts[0];
    p.information = "pin " + std::to_string(i);
    info.pins.push_back(p);
  }
  return info;
}

struct Painted {
  QImage image;
  std::vector<TipRegion> regions;
};

Painted Paint(const PackageInfo& info, float zoom = 1.0f, bool showAll = true) {
  // The package and its texts lie within this part of the canvas.
  Painted out{QImage(int(1500 * zoom), int(1400 * zoom), QImage::Format_ARGB32_Premultiplied), {}};
  out.image.fill(0xFFFFFFFF);
  QPainter p(&out.image);
  PaintOptions o;
  o.zoom = zoom;
  o.showAllFunctions = showAll;
  o.clientWidth = 700;
  PaintPackage(p, info, o, out.regions);
  return out;
}

// The region of sorted pin `no` (region 0 is the package name).
const TipRegion& PinRegion(const Painted& p, int no) { return p.regions.at(static_cast<size_t>(no)); }

// A pin region has the pin's cross-axis position and size exactly and
// covers the pin along its axis.
void ExpectPin(const Painted& p, int no, double x, double y, bool vertical, double z = 1.0) {
  SCOPED_TRACE("pin " + std::to_string(no));
  const TipRegion& r = PinRegion(p, no);
  EXPECT_EQ(r.text, "pin " + std::to_string(no));
  const double w = (vertical ? 8 : 24) * z, h = (vertical ? 24 : 8) * z;
  if (vertical) {
    EXPECT_NEAR(r.x, x * z, 1e-3);
    EXPECT_NEAR(r.width, 8 * z, 1e-3);
    EXPECT_LE(r.y, y * z + 1e-3);
    EXPECT_GE(r.y + r.height, y * z + h - 1e-3);
  } else {
    EXPECT_NEAR(r.y, y * z, 1e-3);
    EXPECT_NEAR(r.height, 8 * z, 1e-3);
    EXPECT_LE(r.x, x * z + 1e-3);
    EXPECT_GE(r.x + r.width, x * z + w - 1e-3);
  }
}

TEST(PackagePaint, FourSidedHundredPins) {
  const Painted p = Paint(Package(100, 0));
  ASSERT_EQ(p.regions.size(), 101u);
  EXPECT_EQ(p.regions[0].text, "chip");
  // k = 25, S = 294, pitch 11: pin 1 bottom left, then counter-clockwise.
  ExpectPin(p, 1, 1051, 1134, true);
  ExpectPin(p, 25, 1040 + 25 * 11, 1134, true);
  ExpectPin(p, 26, 1334, 840 + 294 - 11 - 8, false);
  ExpectPin(p, 51, 1040 + 294 - 11 - 8, 816, true);
  ExpectPin(p, 76, 1016, 851, false);
  ExpectPin(p, 100, 1016, 840 + 25 * 11, false);
  // The bottom region runs from the number inside the body past the text.
  EXPECT_LT(PinRegion(p, 1).y, 1134);
  EXPECT_GT(PinRegion(p, 1).y + PinRegion(p, 1).height, 869 + 294);
  // The left region reaches out over its far-aligned text.
  EXPECT_LT(PinRegion(p, 76).x, 1011);
}

TEST(PackagePaint, FrameKindsAndAcceptedCounts) {
  {
    SCOPED_TRACE("20 pins, k = 5, gap 20/3");
    const Painted p = Paint(Package(20, 0));
    ASSERT_EQ(p.regions.size(), 21u);
    ExpectPin(p, 1, 1040 + 8 + 20.0 / 3, 840 + 96, true);
    ExpectPin(p, 2, 1040 + 2 * (8 + 20.0 / 3), 840 + 96, true);
    ExpectPin(p, 6, 1040 + 96, 840 + 96 - (8 + 20.0 / 3) - 8, false);
  }
  {
    SCOPED_TRACE("28 pins two-sided: a = 14, body 173 x 85");
    const Painted p = Paint(Package(28, 1));
    ASSERT_EQ(p.regions.size(), 29u);
    ExpectPin(p, 1, 1051, 925, true);
    ExpectPin(p, 14, 1040 + 14 * 11, 925, true);
    ExpectPin(p, 15, 1040 + 173 - 11 - 8, 816, true);
    ExpectPin(p, 28, 1040 + 173 - 14 * 11 - 8, 816, true);
  }
  {
    SCOPED_TRACE("48-pin frame: rows shifted by 22");
    const Painted p = Paint(Package(48, 2));
    ASSERT_EQ(p.regions.size(), 49u);
    ExpectPin(p, 1, 1040 + 11 + 22, 1013, true);
    ExpectPin(p, 11, 1213, 840 + 173 - 11 - 8, false);
    ExpectPin(p, 25, 1040 + 173 - 11 - 8 - 22, 816, true);
    ExpectPin(p, 35, 1016, 851, false);
    ExpectPin(p, 48, 1016, 840 + 14 * 11, false);
  }
  {
    SCOPED_TRACE("26 balls: side 5, the 26th left out");
    const Painted p = Paint(Package(26, 3));
    ASSERT_EQ(p.regions.size(), 26u);
    const double s = 41 * 5 + 37;
    const TipRegion& ball1 = p.regions[1];
    EXPECT_FLOAT_EQ(ball1.x, 1061);
    EXPECT_FLOAT_EQ(ball1.y, 824 + s - 41);
    EXPECT_FLOAT_EQ(ball1.width, 36);
    EXPECT_EQ(ball1.text, "pin 1");
    const TipRegion& ball6 = p.regions[6];  // column 2, row 1
    EXPECT_FLOAT_EQ(ball6.x, 1056 + 36 + 10);
    EXPECT_EQ(ball6.text, "pin 6");
    EXPECT_GT(p.regions[0].y, 840 + s);  // name below the body
  }
  // Counts a frame does not accept draw nothing.
  for (auto [n, frame] : {std::pair{30, 0}, {47, 2}, {24, 3}, {12, 1}, {0, 0}, {3, 0}}) {
    SCOPED_TRACE(std::to_string(n) + " pins, frame " + std::to_string(frame));
    EXPECT_TRUE(Paint(Package(n, frame)).regions.empty());
  }
  EXPECT_EQ(Paint(Package(100, 77)).regions.size(), 101u) << "unknown frames are four-sided";
}

TEST(PackagePaint, BallGridSkipsBallsWithoutFunctionsAndLettersItsColumns) {
  PackageInfo info = Package(25, 3);
  info.pins[6].texts.clear();  // column 2, row 2: no ball, no region
  const Painted p = Paint(info);
  ASSERT_EQ(p.regions.size(), 25u);
  for (const TipRegion& r : p.regions) EXPECT_NE(r.text, "pin 7");
  EXPECT_EQ(p.regions[7].text, "pin 8");

  std::string letters;
  for (int column = 1; column <= 20; ++column) letters += BallColumnLetter(column);
  EXPECT_EQ(letters, "ABCDEFGHJKLMNPRTUVWY");
  EXPECT_STREQ(BallColumnLetter(0), "");
  EXPECT_STREQ(BallColumnLetter(21), "");
}

TEST(PackagePaint, ZoomScalesThePackage) {
  const Painted p = Paint(Package(100, 0), 2.0f);
  ExpectPin(p, 1, 1051, 1134, true, 2.0);
  ExpectPin(p, 76, 1016, 851, false, 2.0);
  const Painted one = Paint(Package(100, 0), 1.0f);
  EXPECT_NEAR(p.regions[0].x, 2 * one.regions[0].x, 2.0);
}

// Pixels of colour `argb` inside canvas rectangle r.
int CountColour(const QImage& img, QRect r, QRgb argb, int tolerance = 40) {
  int n = 0;
  for (int y = r.top(); y <= r.bottom(); ++y) {
    for (int x = r.left(); x <= r.right(); ++x) {
      const QColor c = img.pixelColor(x, y);
      const QColor w = QColor::fromRgba(argb);
      if (std::abs(c.red() - w.red()) < tolerance && std::abs(c.green() - w.green()) < tolerance &&
          std::abs(c.blue() - w.blue()) < tolerance)
        ++n;
    }
  }
  return n;
}

TEST(PackagePaint, PixelProbes) {
  PackageInfo info = Package(20, 0);
  info.pins[0].status = 65;                 // "H" in red
  info.pins[1].status = 72;                 // no mark
  info.pins[2].pin_bg_color = 0x00000000;   // transparent: nothing
  info.pins[3].pin_bg_color = 0xFF00FF00;   // green
  info.name_color = 0x00000000;             // invisible name
  const float z = 2.0f;
  const Painted p = Paint(info, z);
  auto pinRect = [&](int m) {
    const PackageLayout l = ComputeLayout(20, 0);
    const CanvasRect r = PinRect(l, PinSide::Bottom, m);
    return QRect(int(r.x * z) + 2, int(r.y * z) + 2, int(r.w * z) - 4, int(r.h * z) - 4);
  };
  EXPECT_GT(CountColour(p.image, pinRect(1), 0xFFFF0000), 4);
  EXPECT_EQ(CountColour(p.image, pinRect(2), 0xFFFF0000), 0);
  EXPECT_EQ(CountColour(p.image, pinRect(3), 0xFFFFFFFF), pinRect(3).width() * pinRect(3).height());
  EXPECT_EQ(CountColour(p.image, pinRect(4), 0xFF00FF00, 10), pinRect(4).width() * pinRect(4).height());
  const TipRegion& name = p.regions[0];
  EXPECT_EQ(CountColour(p.image, QRect(int(name.x), int(name.y), int(name.width), int(name.height)), 0xFFFFFFFF),
            int(name.width) * int(name.height));
}

TEST(PackagePaint, OnlyTheHighlightShowsWhenNotAllFunctionsAreShown) {
  PackageInfo info = Package(20, 0);
  info.pins[0].texts = {"GPIO_LONG_NAME", "UART", "ADC_LONG_NAME"};
  info.pins[0].highlight_text = "UART";
  const Painted all = Paint(info, 1.0f, true);
  const Painted one = Paint(info, 1.0f, false);
  EXPECT_GT(PinRegion(all, 1).height, PinRegion(one, 1).height + 20);
  // A highlight that is not among the texts: all texts still show.
  info.pins[0].highlight_text = "nothing";
  EXPECT_NEAR(Paint(info, 1.0f, true).regions[1].height, PinRegion(all, 1).height, 12);
}

TEST(PackagePaint, HugeTextsStayBounded) {
  PackageInfo info = Package(216, 0);
  for (PinInfo& pin : info.pins) {
    pin.texts = {std::string(100000, 'x'), "y"};
    pin.highlight_text = "y";
    pin.information = std::string(100000, 'i');
  }
  const Painted p = Paint(info);
  ASSERT_EQ(p.regions.size(), 217u);
  EXPECT_LT(PinRegion(p, 1).height, 20000);
}

}  // namespace

namespace {

// Line breaks in the package name and the information line start new lines,
// as the name's measured box and the drawn pixels show.
TEST(PackagePaint, LineBreaksInTheNameAndTheInformationLineAreKept) {
  struct Case {
    const char* name;
    int frame;
    int pins;
  };
  for (const Case& c : {Case{"four-sided", 0, 20}, Case{"ball grid", 3, 25}}) {
    SCOPED_TRACE(c.name);
    PackageInfo one = Package(c.pins, c.frame);
    one.name = "ABCD";
    PackageInfo two = one;
    two.name = "AB\nCD";
    const TipRegion r1 = Paint(one).regions.at(0), r2 = Paint(two).regions.at(0);
    EXPECT_GT(r2.height, 1.8 * r1.height) << "two lines";
    EXPECT_LT(r2.width, 0.75 * r1.width) << "as wide as its wider line";
  }

  // The information line: red pixels one line below its first line only
  // when the text holds a line break. Without pins nothing else is drawn.
  PackageInfo info = Package(0, 0);
  const int top = 560 + 2 * 700 / 5;  // the client width Paint uses
  auto redBelowFirstLine = [&](const std::string& text) {
    info.information = text;
    const Painted p = Paint(info);
    // The second line's band: from 1.2 to 2 line heights below the top (14 pixels a line).
    return CountColour(p.image, QRect(830, top + 17, 300, 11), 0xFFFF0000);
  };
  EXPECT_EQ(redBelowFirstLine("first line second part"), 0);
  EXPECT_GT(redBelowFirstLine("first line\nsecond line"), 20);
}

TEST(PackageLayout, BallGridsStopAtTheLargestSide) {
  struct Case {
    size_t pins;
    int side;
  };
  const Case cases[] = {{25, 5}, {4095, 63}, {4096, kMaxGridSide}, {1000000, kMaxGridSide}};
  for (const Case& c : cases) {
    const PackageLayout l = ComputeLayout(c.pins, 3);
    EXPECT_TRUE(l.drawable) << c.pins;
    EXPECT_EQ(l.gridSide, c.side) << c.pins;
    EXPECT_EQ(l.s1, 41.0 * c.side + 37) << c.pins;
  }
}

}  // namespace
