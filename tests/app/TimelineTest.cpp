// The timeline strip over a pin view driven by a small pin script: adding
// pins and ports, the rows' waveforms on screen, the capture rate driving
// the refresh, what the status line says, and the export.
#include <gtest/gtest.h>

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QMenu>
#include <QTemporaryDir>
#include <QToolButton>
#include <QtTest/QTest>
#include <chrono>
#include <fstream>
#include <thread>
#include <sstream>

#include "app/CVoGadrelView.h"
#include "app/TimelineStrip.h"

namespace {

// 10 pins: PA0 toggles at every refresh, PA1 stays high, PA2 has no level,
// PA3 changes function at the 3rd refresh; PB0..PB3, VDD and VSS low.
constexpr const char* kScript = R"(
n = 0
function get_status()
  n = n + 1
  local names = {"PA0", "PA1", "PA2", "PA3", "PB0", "PB1", "PB2", "PB3", "VDD", "VSS"}
  local p = {}
  for i, name in ipairs(names) do
    local st = 66
    if i == 1 then st = (n % 2 == 0) and 65 or 66 elseif i == 2 then st = 65 elseif i == 3 then st = 64 end
    p[i] = {pin_no = i, texts = {name, "TX"}, highlight_text = (i == 4 and n >= 3) and "TX" or name,
            status = st, direction = 1, information = name}
  end
  return {name = "T8", name_color = 0xFF000000, information = "", pins = p,
          processor = {information = "cpu"}, pkg_frame = 1}
end
)";

struct Fixture {
  QTemporaryDir dir;
  CVoGadrelView view;
  TimelineStrip strip;
  explicit Fixture(size_t cap = PinHistory::kDefaultCapBytes) : strip(&view, nullptr, cap) {
    const std::string path = dir.filePath("pins.lua").toStdString();
    std::ofstream(path) << kScript;
    CVoGadrelView::StartOptions o;
    o.series = ChipSeries::CortexM;
    o.pinScript = path;
    o.startTimer = false;
    view.OnInitialUpdate(o);
    strip.resize(900, 300);
  }
  std::vector<std::string> RowNames() const {
    std::vector<std::string> names;
    for (const TimelineRow& r : strip.Rows()) names.push_back(r.pin.name);
    return names;
  }
};

int Index(const PackageInfo& pkg, const std::string& name) {
  for (size_t i = 0; i < pkg.pins.size(); ++i)
    if (pkg.pins[i].texts.front() == name) return static_cast<int>(i);
  return -1;
}

}  // namespace

TEST(Timeline, PinsAndPortsFromTheContextMenuAndRemovingRows) {
  Fixture f;
  f.view.RefreshPins();
  EXPECT_TRUE(f.strip.isHidden()) << "hidden until the first pin is added";

  // A right click on PB1 offers both items beside "Show all pin functions";
  // beside the package they are off.
  f.view.resize(1000, 800);
  f.view.ScrollTo(QPoint(CVoGadrelView::kInitialScrollX, CVoGadrelView::kInitialScrollY));
  f.view.RenderCanvas();
  const TipRegion* pb1 = nullptr;
  for (const TipRegion& r : f.view.TipRegions())
    if (r.text == "PB1") pb1 = &r;
  ASSERT_NE(pb1, nullptr);
  const QPoint scroll = f.view.ScrollPosition();
  const QPoint onPin(static_cast<int>(pb1->x + pb1->width / 2) - scroll.x(),
                     static_cast<int>(pb1->y + pb1->height / 2) - scroll.y());
  QMenu* menu = f.view.ContextMenu();
  ASSERT_NE(menu, nullptr);
  for (const auto& [where, enabled] : {std::pair{QPoint(5, 700), false}, std::pair{onPin, true}}) {
    QTest::mousePress(f.view.viewport(), Qt::RightButton, Qt::NoModifier, where);
    menu->hide();
    QStringList items;
    for (QAction* a : menu->actions()) items << a->text();
    ASSERT_EQ(items, (QStringList{"Show all pin functions", "Add to timeline", "Add port"}));
    EXPECT_EQ(menu->actions()[1]->isEnabled(), enabled);
    EXPECT_EQ(menu->actions()[2]->isEnabled(), enabled);
  }
  menu->actions()[1]->trigger();
  EXPECT_EQ(f.RowNames(), (std::vector<std::string>{"PB1"}));
  EXPECT_FALSE(f.strip.isHidden());
  f.strip.AddPort(Index(f.view.Package(), "PA2"));
  f.strip.AddPin(Index(f.view.Package(), "PA0"));  // already there
  f.strip.AddPort(Index(f.view.Package(), "VDD"));  // no port: nothing
  EXPECT_EQ(f.RowNames(), (std::vector<std::string>{"PB1", "PA0", "PA1", "PA2", "PA3"}));
  f.strip.RemoveRow(0);
  EXPECT_EQ(f.RowNames(), (std::vector<std::string>{"PA0", "PA1", "PA2", "PA3"}));
  for (const TimelineRow& r : f.strip.Rows()) EXPECT_GE(r.index, 0) << r.pin.name << " is in the history";
}

namespace {

// Pixels of the row's waveform area (right of the labels) in `colour` at
// line y (relative to the row's top).
int CountAt(const QImage& img, const TimelinePainter& painter, int row, int dy, QRgb colour) {
  const int y = painter.RowTop(row) + dy;
  int n = 0;
  for (int x = painter.Layout().labelWidth; x < img.width(); ++x) n += (img.pixel(x, y) & 0xFFFFFF) == (colour & 0xFFFFFF);
  return n;
}

}  // namespace

TEST(Timeline, RowsShowHighLowNoMarkAndFunctionChanges) {
  Fixture f;
  for (int i = 0; i < 6; ++i) {
    f.view.RefreshPins();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  for (const char* name : {"PA0", "PA1", "PA2", "PA3"}) f.strip.AddPin(Index(f.view.Package(), name));
  TimelineCanvas* canvas = f.strip.Canvas();
  canvas->resize(900, 200);
  canvas->ZoomToFit();
  const QImage img = canvas->Grab();
  const TimelinePainter& painter = canvas->Painter();
  const int rowH = painter.Layout().rowHeight;
  const int hi = 7, lo = rowH - 8, mid = rowH / 2;
  const QRgb wave = qRgb(0x0B, 0x6E, 0x2E);
  const QRgb grey = qRgb(0x70, 0x70, 0x70);
  const QRgb orange = qRgb(0xE0, 0x80, 0x00);
  // PA0 toggles: long stretches on both lines and edges across the middle.
  EXPECT_GT(CountAt(img, painter, 0, hi, wave), 100);
  EXPECT_GT(CountAt(img, painter, 0, lo, wave), 100);
  EXPECT_GE(CountAt(img, painter, 0, mid, wave), 4);
  // PA1 is high all along, nothing low.
  EXPECT_GT(CountAt(img, painter, 1, hi, wave), 600);
  EXPECT_EQ(CountAt(img, painter, 1, lo, wave), 0);
  // PA2 has no level: a hatched band, no lines.
  EXPECT_GT(CountAt(img, painter, 2, mid, grey), 50);
  EXPECT_EQ(CountAt(img, painter, 2, hi, wave) + CountAt(img, painter, 2, lo, wave), 0);
  // PA3's function change is marked below its waveform, and the label shows
  // its function.
  EXPECT_GT(CountAt(img, painter, 3, lo + 3, orange), 0);
  EXPECT_EQ(CountAt(img, painter, 0, lo + 3, orange), 0);
}

TEST(Timeline, CaptureRateDrivesTheRefreshWhileRecording) {
  Fixture f;
  QComboBox* rate = f.strip.RateList();
  QStringList entries;
  for (int i = 0; i < rate->count(); ++i) entries << rate->itemText(i);
  EXPECT_EQ(entries, (QStringList{"20 ms", "50 ms", "100 ms", "200 ms", "with the view"}));
  EXPECT_TRUE(f.strip.Recorder().Recording()) << "recording from the start, with the view";
  EXPECT_EQ(f.view.RefreshIntervalMs(), 500);
  rate->setCurrentIndex(0);
  EXPECT_EQ(f.view.RefreshIntervalMs(), 20);
  f.strip.RecordButton()->click();  // pause: the view's own period again
  EXPECT_FALSE(f.strip.Recorder().Recording());
  EXPECT_EQ(f.strip.RecordButton()->text(), "Record");
  EXPECT_EQ(f.view.RefreshIntervalMs(), 500);
  f.strip.RecordButton()->click();
  EXPECT_EQ(f.view.RefreshIntervalMs(), 20);
  rate->setCurrentIndex(3);  // 200 ms
  f.view.PeriodList()->setCurrentIndex(0);  // the view paused: the recording keeps it going
  EXPECT_EQ(f.view.RefreshIntervalMs(), 200);
  f.view.PeriodList()->setCurrentIndex(1);  // 0.5 s
  EXPECT_EQ(f.view.RefreshIntervalMs(), 200);
  rate->setCurrentIndex(4);
  EXPECT_EQ(f.view.RefreshIntervalMs(), 500);
  f.strip.SetRateMs(30);  // --rate 30: an entry of its own
  EXPECT_EQ(rate->currentText(), "30 ms");
  EXPECT_EQ(rate->count(), 6);
  EXPECT_EQ(f.view.RefreshIntervalMs(), 30);

  // A link slower than the rate: the status says what it reaches.
  rate->setCurrentIndex(0);
  PinRecorder& r = f.strip.Recorder();
  const int64_t t0 = f.view.LastRefreshUs() + 1000;
  for (int i = 0; i < 10; ++i) r.OnRefresh(t0 + i * 45000, f.view.Package());
  EXPECT_TRUE(f.strip.StatusText().contains("rate reached: 45 ms")) << f.strip.StatusText().toStdString();
}

TEST(Timeline, OverflowSaysFromWhenTheHistoryIsComplete) {
  Fixture f(32 * 1024);
  f.view.RefreshPins();
  f.strip.AddPin(Index(f.view.Package(), "PA0"));
  PackageInfo pkg = f.view.Package();
  const int64_t t0 = f.view.LastRefreshUs() + 1000;
  for (int i = 0; i < 5000; ++i) {
    for (PinInfo& p : pkg.pins) p.status = i % 2 ? 65 : 66;
    f.strip.Recorder().OnRefresh(t0 + i * 20000, pkg);
  }
  const PinHistory& h = f.strip.History();
  ASSERT_TRUE(h.Truncated());
  EXPECT_TRUE(f.strip.StatusText().contains("complete from")) << f.strip.StatusText().toStdString();
  // The older part is shaded and labelled on the canvas.
  TimelineCanvas* canvas = f.strip.Canvas();
  canvas->resize(900, 100);
  canvas->ZoomBy(0.001);  // far enough out to see the start
  const QImage img = canvas->Grab();
  const TimelineFrame& fr = canvas->Frame();
  const int x = static_cast<int>(canvas->Painter().XOf(fr, static_cast<double>(h.CompleteFromUs()))) - 3;
  ASSERT_GT(x, canvas->Painter().Layout().labelWidth);
  EXPECT_EQ(img.pixel(x, canvas->Painter().RowTop(0) + 2) & 0xFFFFFF, 0xD8D8D8u);
}

TEST(Timeline, ExportWritesTheRowsOrSaysWhyNot) {
  Fixture f;
  QString error;
  EXPECT_FALSE(f.strip.ExportTo(f.dir.filePath("early.vcd"), error));
  EXPECT_EQ(error, "No pin history has been recorded yet.");
  for (int i = 0; i < 4; ++i) f.view.RefreshPins();
  f.strip.AddPin(Index(f.view.Package(), "PA0"));
  f.strip.AddPin(Index(f.view.Package(), "PA1"));
  ASSERT_TRUE(f.strip.ExportTo(f.dir.filePath("rows.vcd"), error)) << error.toStdString();
  std::ifstream in(f.dir.filePath("rows.vcd").toStdString());
  std::stringstream text;
  text << in.rdbuf();
  EXPECT_NE(text.str().find("$var wire 1 ! PA0_pin1 $end\n$var wire 1 \" PA1_pin2 $end\n$upscope"), std::string::npos)
      << text.str();
  EXPECT_NE(text.str().find("$version\n  Gadrel 3.23\n$end"), std::string::npos);
  EXPECT_FALSE(f.strip.ExportTo(f.dir.filePath("no/such/dir/x.vcd"), error));
  EXPECT_TRUE(error.startsWith("cannot write ")) << error.toStdString();
}
