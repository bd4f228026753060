// Placements from a package and a text measure, without any Qt: geometry,
// the text runs of a column, hit-testing, and texts cut by UTF-16 units.
#include <gtest/gtest.h>

#include <string>

#include "pinmodel/PinPlacement.h"
#include "pinmodel/Utf16Text.h"

namespace {

// Every UTF-16 unit is 5 pixels wide, a line 10 high; names are blocks.
TextExtent FixedMeasure(TextFont font, std::string_view s) {
  if (font == TextFont::Name) return {5.0 * Utf16Length(s), 12};
  return {5.0 * Utf16Length(s), 10};
}

PackageInfo Package(int n, int frame) {
  PackageInfo info;
  info.name = "PKG";
  info.processor = "chip";
  info.pkg_frame = frame;
  for (int i = 1; i <= n; ++i) {
    PinInfo p;
    p.pin_no = std::to_string(i);
    p.texts = {"A" + std::to_string(i), "BB", "CCC"};
    p.highlight_text = "BB";
    p.information = "pin " + std::to_string(i);
    p.normal_color = 0xFF111111;
    p.highlight_color = 0xFFEE0000;
    info.pins.push_back(p);
  }
  return info;
}

TEST(Placement, PinsColumnsAndRegionsOfAFourSidedPackage) {
  const PackageInfo info = Package(100, 0);
  const PackagePlacement pl = PlacePackage(info, {1.0f, true}, FixedMeasure);
  ASSERT_EQ(pl.pins.size(), 100u);
  ASSERT_EQ(pl.regions.size(), 101u);
  EXPECT_EQ(pl.regions[0].text, "chip");
  // Pin 1: bottom left, pitch 11, body 294.
  const PinPlacement& p1 = pl.pins[0];
  EXPECT_EQ(p1.side, PinSide::Bottom);
  EXPECT_TRUE(p1.vertical);
  EXPECT_DOUBLE_EQ(p1.box.x, 1051);
  EXPECT_DOUBLE_EQ(p1.box.y, 1134);
  EXPECT_EQ(p1.number.text, "1");
  EXPECT_DOUBLE_EQ(p1.number.y, 828 + 294);
  // "A1," then the highlight "BB" in its colour, then ",CCC".
  ASSERT_EQ(p1.column.size(), 3u);
  EXPECT_EQ(p1.column[0].text, "A1,");
  EXPECT_EQ(p1.column[1].text, "BB");
  EXPECT_EQ(p1.column[1].color, 0xFFEE0000u);
  EXPECT_EQ(p1.column[2].text, ",CCC");
  EXPECT_DOUBLE_EQ(p1.column[0].y, 869 + 294);
  EXPECT_DOUBLE_EQ(p1.column[1].y, 869 + 294 + 15);
  EXPECT_DOUBLE_EQ(p1.column[2].y, 869 + 294 + 30);  // after "A1,BB,"
  // The region runs from the number to the column's end.
  EXPECT_FLOAT_EQ(pl.regions[1].y, 828 + 294);
  EXPECT_FLOAT_EQ(pl.regions[1].height, 869 + 294 + 50 - (828 + 294));
  // Top pins end their column at 811, reading towards the body.
  const PinPlacement& p51 = pl.pins[50];
  EXPECT_EQ(p51.side, PinSide::Top);
  EXPECT_EQ(p51.column[0].text, "A51,");
  EXPECT_DOUBLE_EQ(p51.column[0].along, -20);
  EXPECT_FLOAT_EQ(pl.regions[51].y, 811 - 55);
  // The hit test reads the same regions.
  const TipRegion& r = pl.regions[1];
  const TipRegion* hit = HitTest(pl.regions, static_cast<int>(r.x + 4), static_cast<int>(r.y + 20));
  ASSERT_NE(hit, nullptr);
  EXPECT_EQ(hit->text, "pin 1");
  EXPECT_EQ(HitTest(pl.regions, 10, 10), nullptr);
}

TEST(Placement, ZoomScalesAndOptionsShowOnlyTheHighlight) {
  const PackageInfo info = Package(100, 0);
  const PackagePlacement two = PlacePackage(info, {2.0f, true}, FixedMeasure);
  EXPECT_DOUBLE_EQ(two.pins[0].box.x, 2 * 1051);
  EXPECT_DOUBLE_EQ(two.pins[0].box.w, 16);
  const PackagePlacement one = PlacePackage(info, {1.0f, false}, FixedMeasure);
  ASSERT_EQ(one.pins[0].column.size(), 1u);
  EXPECT_EQ(one.pins[0].column[0].text, "BB");
  // A highlight not among the texts: all texts in the normal colour.
  PackageInfo other = info;
  other.pins[0].highlight_text = "none";
  const PackagePlacement all = PlacePackage(other, {1.0f, true}, FixedMeasure);
  ASSERT_EQ(all.pins[0].column.size(), 1u);
  EXPECT_EQ(all.pins[0].column[0].text, "A1,BB,CCC");
  EXPECT_EQ(all.pins[0].column[0].color, 0xFF111111u);
}

TEST(Placement, BallGridsAndUndrawableCounts) {
  PackageInfo info = Package(25, 3);
  info.pins[0].highlight_text = "ABCDEFGHIJKL";
  info.pins[6].texts.clear();
  const PackagePlacement pl = PlacePackage(info, {1.0f, true}, FixedMeasure);
  EXPECT_EQ(pl.balls.size(), 24u);
  EXPECT_EQ(pl.regions.size(), 25u);
  EXPECT_EQ(pl.balls[0].label, "ABCDE\nFGHIJ");
  EXPECT_EQ(pl.gridLabels.size(), 10u);
  EXPECT_TRUE(PlacePackage(Package(30, 0), {1.0f, true}, FixedMeasure).regions.empty());
}

TEST(Placement, UndrawableCountsSayWhatTheFrameTakes) {
  struct Case {
    size_t pins;
    int frame;
    const char* reason;  // empty: drawn
  } cases[] = {
      {40, 1, "40 pins cannot be drawn in a two-sided frame; it takes 10, 14, 20 or 28"},
      {28, 1, ""},
      {30, 0, "30 pins cannot be drawn in a four-sided frame; it takes 20, 24, 32, 36, 44, 48, 64, 68, 80, 88, "
              "100, 128, 144, 176 or 216"},
      {44, 0, ""},
      {44, 7, ""},
      {47, 2, "47 pins cannot be drawn in the 48-pin frame; it takes 48"},
      {24, 3, "24 pins cannot be drawn in a ball-grid frame; it takes 25 or more"},
      {1, 1, "1 pin cannot be drawn in a two-sided frame; it takes 10, 14, 20 or 28"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(UndrawableReason(c.pins, c.frame), c.reason) << c.pins << " pins, frame " << c.frame;
    EXPECT_EQ(ComputeLayout(c.pins, c.frame).drawable, *c.reason == 0) << c.pins << " pins, frame " << c.frame;
  }
}

TEST(Utf16Text, CountsAndCutsWholeCharacters) {
  struct Case {
    std::string text;
    size_t length;
    size_t cutAt3;  // bytes kept by a cut at three units
  };
  const Case cases[] = {
      {"abcd", 4, 3},
      {"\xC3\xA4\xC3\xB6\xC3\xBC\xC3\x9F", 4, 6},       // four two-byte characters
      {"a\xF0\x9F\x98\x80z", 4, 5},                     // a surrogate pair counts two
      {"\xF0\x9F\x98\x80\xF0\x9F\x98\x80", 4, 4},       // never half a pair
      {"\xFF\xFE" "a", 3, 3},                           // malformed bytes count one each
      {"\xE2\x82", 2, 2},                               // a cut-off sequence
      {"", 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(Utf16Length(c.text), c.length);
    EXPECT_EQ(Utf16Left(c.text, 3).size(), c.cutAt3);
  }
}

}  // namespace
