// Zoom steps, the period list and the pin view's own options.
#include <gtest/gtest.h>

#include "app/PinViewOptions.h"
#include "app/ViewSettings.h"

namespace {

TEST(ViewSettings, ZoomStepsStayBetween80And200Percent) {
  int z = 10;
  for (int i = 1; i <= 10; ++i) {
    z = ZoomInTenths(z);
    EXPECT_EQ(ZoomText(z), QStringLiteral("%1%").arg(100 + 10 * i));
  }
  EXPECT_EQ(ZoomInTenths(z), z) << "an eleventh press changes nothing";
  z = 10;
  z = ZoomOutTenths(z);
  EXPECT_EQ(ZoomText(z), "90%");
  z = ZoomOutTenths(z);
  EXPECT_EQ(ZoomText(z), "80%");
  EXPECT_EQ(ZoomOutTenths(z), z);
  EXPECT_EQ(ZoomText(ZoomInTenths(z)), "90%");
}

TEST(ViewSettings, PeriodEntries) {
  const QStringList entries = PeriodListEntries();
  ASSERT_EQ(entries.size(), 12);
  EXPECT_EQ(entries[0], "pause");
  EXPECT_EQ(entries[1], "0.5s");
  EXPECT_EQ(entries[11], "10s");
  struct Case {
    const char* text;
    double seconds;
  };
  for (const Case& c : {Case{"pause", 0}, {"0.5s", 0.5}, {"1s", 1}, {"10s", 10}, {"7s", 7}, {"s", 0}, {"", 0},
                        {"3.5s", 3}}) {
    EXPECT_DOUBLE_EQ(ParsePeriod(QString::fromLatin1(c.text)), c.seconds) << c.text;
  }
}

TEST(PinViewOptions, ParsesOwnOptionsAndIgnoresOthers) {
  {
    const char* argv[] = {"gadrel", "-x", "plain", "--series", "8051", "--pin-script=/tmp/p.lua",
                          "--render", "out.png", "--ticks", "5", "--zoom", "150", "--unknown"};
    PinViewOptions o;
    std::string error;
    ASSERT_TRUE(ParsePinViewOptions(std::size(argv), argv, o, error)) << error;
    EXPECT_EQ(o.series, ChipSeries::Ostra1T);
    EXPECT_EQ(o.pinScript, "/tmp/p.lua");
    EXPECT_EQ(o.renderFile, "out.png");
    EXPECT_EQ(o.ticks, 5);
    EXPECT_EQ(o.zoomTenths, 15);
  }
  {
    const char* argv[] = {"gadrel"};
    PinViewOptions o;
    std::string error;
    ASSERT_TRUE(ParsePinViewOptions(1, argv, o, error));
    EXPECT_FALSE(o.series);
    EXPECT_TRUE(o.renderFile.empty());
    EXPECT_EQ(o.ticks, 1);
    EXPECT_EQ(o.zoomTenths, 10);
  }
  for (auto bad : {std::vector<const char*>{"gadrel", "--series", "avr"},
                   std::vector<const char*>{"gadrel", "--ticks", "-1"},
                   std::vector<const char*>{"gadrel", "--ticks", "3x"},
                   std::vector<const char*>{"gadrel", "--render"},
                   std::vector<const char*>{"gadrel", "--zoom", "70"},
                   std::vector<const char*>{"gadrel", "--zoom", "210"},
                   std::vector<const char*>{"gadrel", "--zoom", "125"},
                   std::vector<const char*>{"gadrel", "--zoom=2x"}}) {
    PinViewOptions o;
    std::string error;
    EXPECT_FALSE(ParsePinViewOptions(static_cast<int>(bad.size()), bad.data(), o, error)) << bad.back();
    EXPECT_FALSE(error.empty());
  }
  EXPECT_EQ(RenderJsonPath("dir/out.png"), "dir/out.json");
  EXPECT_EQ(RenderJsonPath("out.PNG"), "out.json");
  EXPECT_EQ(RenderJsonPath("out"), "out.json");
}

}  // namespace
