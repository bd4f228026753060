// The pin view with its script hosts: hot reload of the pin script, script
// globals, user scripts, the period list, zoom, dragging, tooltips and the
// close question while a user script runs.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMouseEvent>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTimer>
#include <QWheelEvent>
#include <chrono>
#include <filesystem>
#include <fstream>

#include <QPushButton>
#include <QRadioButton>
#include <QSplitter>

#include "app/CDialogSelectBox.h"
#include "app/CMainFrame.h"
#include "app/CPrintView.h"
#include "app/CVoGadrelView.h"
#include "app/QtUserInteraction.h"

namespace {

void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

std::string PinScript(const std::string& name) {
  return "function get_status() return {name = '" + name +
         "', name_color = 1, information = '', pins = {}, processor = {information = 'p'}} end\n";
}

class PinViewTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(m_dir.isValid());
    m_view.SetPrintPane(&m_pane);
    m_view.resize(800, 600);
  }
  std::string Path(const char* name) const { return m_dir.filePath(QString::fromLatin1(name)).toStdString(); }
  void Start(const std::string& script, ChipSeries series = ChipSeries::CortexM, bool timer = false) {
    CVoGadrelView::StartOptions o;
    o.series = series;
    o.pinScript = script;
    o.startTimer = timer;
    m_view.OnInitialUpdate(o);
  }
  int Count(const QString& needle) const { return static_cast<int>(m_pane.Text().count(needle)); }

  QTemporaryDir m_dir;
  CPrintView m_pane;
  CVoGadrelView m_view;
};

TEST_F(PinViewTest, PinScriptIsReloadedWhenItChangesOnDisk) {
  const std::string script = Path("gadrel.lua");
  WriteFile(script, PinScript("A"));
  Start(script);
  m_view.RefreshPins();
  EXPECT_EQ(m_view.Package().name, "A");

  WriteFile(script, PinScript("BB"));
  m_view.RefreshPins();
  EXPECT_EQ(m_view.Package().name, "BB");

  // Same size, newer time.
  WriteFile(script, PinScript("CC"));
  const auto t = std::filesystem::last_write_time(script);
  std::filesystem::last_write_time(script, t + std::chrono::seconds(2));
  m_view.RefreshPins();
  EXPECT_EQ(m_view.Package().name, "CC");

  // A syntax error keeps the previous definitions; it is said once in the
  // pane and stays on the red information line until the file changes.
  WriteFile(script, "function get_status( return\n");
  for (int i = 0; i < 3; ++i) m_view.RefreshPins();
  EXPECT_EQ(m_view.Package().name, "CC");
  EXPECT_EQ(Count("gadrel.lua:1:"), 1) << m_pane.Text().toStdString();
  EXPECT_NE(m_view.Package().information.find("gadrel.lua:1:"), std::string::npos);
  // Another broken version is said again.
  WriteFile(script, "x = = 1\n");
  m_view.RefreshPins();
  m_view.RefreshPins();
  EXPECT_EQ(Count("gadrel.lua:1:"), 2) << m_pane.Text().toStdString();

  WriteFile(script, PinScript("fixed"));
  m_view.RefreshPins();
  m_view.RefreshPins();
  EXPECT_EQ(m_view.Package().name, "fixed");
  EXPECT_EQ(Count("gadrel.lua:1:"), 2);
  EXPECT_EQ(m_view.Package().information, "");
}

// A file that fails at start is tried again at every tick but said once,
// and the view is not blank: the red line says why.
TEST_F(PinViewTest, FailingFirstLoadIsRetriedAndSaidOnce) {
  const std::string script = Path("gadrel.lua");
  WriteFile(script, "if not retried then retried = true error('broken at start') end\n"
                    "error('broken again')\n");
  Start(script);
  EXPECT_EQ(Count("broken at start"), 1);
  for (int i = 0; i < 3; ++i) m_view.RefreshPins();
  EXPECT_EQ(Count("broken"), 1) << m_pane.Text().toStdString();
  EXPECT_TRUE(m_view.Package().name.empty());
  EXPECT_NE(m_view.Package().information.find("broken again"), std::string::npos) << "retried";

  QPoint origin;
  const QImage picture = m_view.RenderPicture(origin);
  int red = 0;
  for (int y = 0; y < picture.height(); ++y)
    for (int x = 0; x < picture.width(); ++x) {
      const QColor c = picture.pixelColor(x, y);
      red += c.red() > 200 && c.green() < 80 && c.blue() < 80;
    }
  EXPECT_GT(red, 20) << "the information line is drawn in red";
}

// A package whose frame cannot take its pins is said once in the pane, with
// what the frame takes, even when its name changes at every tick; a
// package without pins (a message) says nothing.
TEST_F(PinViewTest, UndrawablePackageIsSaidOncePerPackage) {
  const std::string script = Path("gadrel.lua");
  WriteFile(script, "local shapes = {{40, 1}, {40, 1}, {0, 0}, {47, 2}, {44, 0}, {40, 1}}\n"
                    "function get_status() tick = (tick or 0) + 1\n"
                    "  local n, frame = shapes[tick][1], shapes[tick][2]\n"
                    "  local pins = {} for i = 1, n do pins[i] = {pin_no = i} end\n"
                    "  local name = tick == 1 and 'GX' or 'GX' .. tick\n"
                    "  return {name = name, name_color = 1, information = '', pins = pins,\n"
                    "          processor = {information = ''}, pkg_frame = frame} end\n");
  Start(script);
  for (int i = 0; i < 6; ++i) m_view.RefreshPins();
  EXPECT_EQ(Count("GX: 40 pins cannot be drawn in a two-sided frame; it takes 10, 14, 20 or 28\n"), 1)
      << m_pane.Text().toStdString();
  EXPECT_EQ(Count("GX4: 47 pins cannot be drawn in the 48-pin frame; it takes 48\n"), 1);
  EXPECT_EQ(Count("cannot be drawn"), 2);
}

// The window's sample (File > Run script...) prints into the pane.
TEST_F(PinViewTest, WindowSampleScriptPrintsIntoThePane) {
  Start(Path("none.lua"));
  ASSERT_TRUE(m_view.RunUserScriptFile(GADREL_EXAMPLES_DIR "/sample.lua")) << m_pane.Text().toStdString();
  EXPECT_EQ(Count("Gadrel user script\n"), 1) << m_pane.Text().toStdString();
  EXPECT_EQ(Count("directory: " GADREL_EXAMPLES_DIR "\n"), 1);
  EXPECT_EQ(Count("VoLink:    present\n"), 1);
  EXPECT_TRUE(m_pane.Text().endsWith("done\n"));
}

TEST_F(PinViewTest, MissingPinScriptDrawsAnEmptyCanvasSilently) {
  Start(Path("none.lua"));
  m_view.RefreshPins();
  EXPECT_TRUE(m_view.Package().name.empty());
  EXPECT_TRUE(m_pane.Text().isEmpty());
  m_view.RenderCanvas();
  EXPECT_TRUE(m_view.TipRegions().empty());
}

TEST_F(PinViewTest, ScriptsSeeTheirGlobalsAndPrintIntoThePane) {
  const std::string script = Path("gadrel.lua");
  WriteFile(script,
            "ext.redirect_print_lumeth('loaded', SCRIPT_APP_HOST)\n"
            "function get_status() return {name = CHIP_SERIES, name_color = 1} end\n"
            "function disconnect() ext.redirect_print_lumeth('bye') end\n");
  Start(script, ChipSeries::Ostra1T);
  m_view.RefreshPins();
  EXPECT_EQ(m_view.Package().name, "8051_1T");
  EXPECT_EQ(m_pane.Text(), "loaded\tGadrel\n");

  const std::string user = Path("user.lua");
  WriteFile(user, "print(1, nil, 'x')\nprint(SCRIPT_APP_HOST, type(VoLink))\n");
  EXPECT_TRUE(m_view.RunUserScriptFile(user));
  EXPECT_TRUE(m_pane.Text().endsWith("1\tnil\tx\nGadrel_User\ttable\n")) << m_pane.Text().toStdString();

  WriteFile(user, "error('user failed')\n");
  EXPECT_FALSE(m_view.RunUserScriptFile(user));
  EXPECT_TRUE(m_pane.Text().endsWith("user failed\n"));
}

// A pin script that never returns stops at the time limit with a line in the
// output pane; the view keeps what the script defined before and carries on.
TEST_F(PinViewTest, EndlessPinScriptCallsStopAtTheTimeLimit) {
  EXPECT_EQ(CVoGadrelView::kPinScriptTimeLimit, std::chrono::seconds(6)) << "the limit README states";
  struct Case {
    const char* name;
    const char* second;    // the pin script as changed on disk
    const char* expected;  // package name after the next refresh
    const char* message;   // what the pane says
    int reports;           // how often it says so after two more ticks
  };
  const Case cases[] = {
      {"main chunk", "while true do end", "A", "gadrel.lua: stopped after running longer than the time limit", 1},
      {"get_status", "function get_status() while true do end end", "",
       "get_status: stopped after running longer than the time limit", 2},
      {"__index of the table it returns",
       "function get_status() return setmetatable({name = 'B'}, {__index = function() while true do end end}) end",
       "B", "get_status: stopped after running longer than the time limit", 2},
      {"get_status removing the hook", "function get_status() debug.sethook() while true do end end", "",
       "get_status: stopped after running longer than the time limit", 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CPrintView pane;
    CVoGadrelView view;
    view.SetPrintPane(&pane);
    view.PinHost().SetCallTimeLimit(std::chrono::milliseconds(100));
    const std::string script = Path("gadrel.lua");
    WriteFile(script, PinScript("A"));
    view.OnInitialUpdate({ChipSeries::CortexM, script, false, false, {}});
    view.RefreshPins();
    ASSERT_EQ(view.Package().name, "A");

    WriteFile(script, std::string(c.second) + "\n-- " + c.name + "\n");
    view.RefreshPins();
    EXPECT_EQ(view.Package().name, c.expected);
    EXPECT_TRUE(pane.Text().contains(QString::fromLatin1(c.message))) << pane.Text().toStdString();
    EXPECT_TRUE(pane.Text().contains("0.1 s\n")) << pane.Text().toStdString();
    EXPECT_NE(view.PinHost().GetLuaState(), nullptr) << "the state stays open";
    // A main chunk that ran into the limit is not run again until the file
    // changes; a get_status that does is called (and stopped) at every tick.
    view.RefreshPins();
    EXPECT_EQ(pane.Text().count(QString::fromLatin1(c.message)), c.reports) << pane.Text().toStdString();
  }
}

// Destroying the view calls disconnect, under the time limit: an endless one
// ends there and the view goes.
TEST(PinViewShutdown, CallsDisconnect) {
  const char* scripts[] = {
      "function disconnect() ext.redirect_print_lumeth('bye') end\n",
      "function disconnect() ext.redirect_print_lumeth('bye') while true do end end\n",
  };
  for (const char* text : scripts) {
    SCOPED_TRACE(text);
    QTemporaryDir dir;
    const std::string script = dir.filePath("gadrel.lua").toStdString();
    WriteFile(script, text);
    CPrintView pane;
    {
      CVoGadrelView view;
      view.SetPrintPane(&pane);
      view.PinHost().SetCallTimeLimit(std::chrono::milliseconds(100));
      view.OnInitialUpdate({ChipSeries::CortexM, script, false, false, {}});
    }
    EXPECT_EQ(pane.Text(), "bye\n");
  }
}

TEST_F(PinViewTest, OnlyAChangedPackageIsRepainted) {
  const std::string script = Path("gadrel.lua");
  WriteFile(script, "chip = 'A'\nfunction get_status() return {name = chip, name_color = 1} end\n");
  Start(script);
  m_view.show();
  m_view.RefreshPins();
  QApplication::processEvents();

  struct PaintCounter : QObject {
    int paints = 0;
    bool eventFilter(QObject*, QEvent* e) override {
      if (e->type() == QEvent::Paint) ++paints;
      return false;
    }
  } counter;
  m_view.viewport()->installEventFilter(&counter);
  const auto paintsOfOneRefresh = [&] {
    counter.paints = 0;
    m_view.RefreshPins();
    QApplication::processEvents();
    return counter.paints;
  };
  EXPECT_EQ(paintsOfOneRefresh(), 0);
  ASSERT_TRUE(m_view.PinHost().SetGlobalString("chip", "B"));
  EXPECT_EQ(paintsOfOneRefresh(), 1);
  EXPECT_EQ(m_view.Package().name, "B");
  EXPECT_EQ(paintsOfOneRefresh(), 0);
  m_view.viewport()->removeEventFilter(&counter);
}

TEST_F(PinViewTest, PeriodListDrivesTheTimer) {
  WriteFile(Path("gadrel.lua"), PinScript("A"));
  Start(Path("gadrel.lua"), ChipSeries::CortexM, true);
  EXPECT_TRUE(m_view.RefreshTimer().isActive());
  EXPECT_EQ(m_view.RefreshTimer().interval(), 1);
  m_view.RefreshPins();  // first tick: restart at the period
  EXPECT_EQ(m_view.RefreshTimer().interval(), 500);
  EXPECT_EQ(m_view.PeriodList()->currentText(), "0.5s");

  m_view.PeriodList()->setCurrentIndex(0);  // pause
  EXPECT_FALSE(m_view.RefreshTimer().isActive());
  EXPECT_EQ(m_view.RefreshPeriod(), 0);
  m_view.PeriodList()->setCurrentIndex(11);
  EXPECT_EQ(m_view.RefreshTimer().interval(), 10000);
  m_view.PeriodList()->setCurrentIndex(1);
  EXPECT_TRUE(m_view.RefreshTimer().isActive());
  EXPECT_EQ(m_view.RefreshTimer().interval(), 500);
}

TEST_F(PinViewTest, ZoomKeepsTheViewCentreAndWheelZoomsOneStep) {
  Start(Path("none.lua"));
  m_view.show();
  m_view.ScrollTo({780, 560});
  ASSERT_EQ(m_view.ScrollPosition(), QPoint(780, 560));
  m_view.ZoomIn();
  EXPECT_EQ(m_view.ZoomLabel()->text(), "110%");
  EXPECT_EQ(m_view.ScrollPosition(), QPoint(780 * 2640 / 2400, 560 * 2706 / 2460));
  for (int i = 0; i < 12; ++i) m_view.ZoomIn();
  EXPECT_EQ(m_view.ZoomText(), "200%");
  EXPECT_FLOAT_EQ(m_view.ZoomFactor(), 2.0f);

  QWheelEvent wheel(QPointF(200, 200), m_view.viewport()->mapToGlobal(QPointF(200, 200)), QPoint(),
                    QPoint(0, -1200), Qt::NoButton, Qt::ControlModifier, Qt::NoScrollPhase, false);
  QApplication::sendEvent(m_view.viewport(), &wheel);
  EXPECT_EQ(m_view.ZoomText(), "190%") << "one step whatever the delta";

  const QPoint before = m_view.ScrollPosition();
  QWheelEvent down(QPointF(200, 200), m_view.viewport()->mapToGlobal(QPointF(200, 200)), QPoint(), QPoint(0, -120),
                   Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
  QApplication::sendEvent(m_view.viewport(), &down);
  EXPECT_EQ(m_view.ScrollPosition().y(), before.y() + m_view.verticalScrollBar()->singleStep());
  QWheelEvent left(QPointF(200, 200), m_view.viewport()->mapToGlobal(QPointF(200, 200)), QPoint(), QPoint(0, 120),
                   Qt::NoButton, Qt::ShiftModifier, Qt::NoScrollPhase, false);
  QApplication::sendEvent(m_view.viewport(), &left);
  EXPECT_EQ(m_view.ScrollPosition().x(), before.x() - m_view.horizontalScrollBar()->singleStep());
}

TEST_F(PinViewTest, DragPansWithTheMouseAndStopsAtTheEdge) {
  Start(Path("none.lua"));
  m_view.show();
  m_view.ScrollTo({780, 560});
  auto send = [&](QEvent::Type type, QPoint at, Qt::MouseButtons buttons) {
    QMouseEvent e(type, at, m_view.viewport()->mapToGlobal(at), type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton,
                  buttons, Qt::NoModifier);
    QApplication::sendEvent(m_view.viewport(), &e);
  };
  send(QEvent::MouseButtonPress, {300, 300}, Qt::LeftButton);
  send(QEvent::MouseMove, {330, 310}, Qt::LeftButton);
  EXPECT_EQ(m_view.ScrollPosition(), QPoint(750, 550)) << "the picture follows the mouse";
  send(QEvent::MouseMove, {330 + 5000, 310}, Qt::LeftButton);
  EXPECT_EQ(m_view.ScrollPosition().x(), 0);
  send(QEvent::MouseMove, {100, 100}, Qt::NoButton);  // button up: the drag ends
  send(QEvent::MouseMove, {50, 50}, Qt::LeftButton);
  EXPECT_EQ(m_view.ScrollPosition(), QPoint(0, 550));
}

TEST_F(PinViewTest, TooltipRegionsHitStrictlyInsideAndSkipEmptyTexts) {
  const std::string script = Path("gadrel.lua");
  WriteFile(script,
            "function get_status() local p = {} for i = 1, 20 do p[i] = {pin_no = i, texts = {'F'},"
            " information = (i == 2) and '' or ('pin ' .. i)} end\n"
            " return {name = 'N', name_color = 1, information = '', pins = p, processor = {information = 'cpu'}} end\n");
  Start(script);
  m_view.RefreshPins();
  m_view.RenderCanvas();
  ASSERT_EQ(m_view.TipRegions().size(), 21u);
  const TipRegion& pin1 = m_view.TipRegions()[1];
  const int cx = static_cast<int>(pin1.x + pin1.width / 2), cy = static_cast<int>(pin1.y + pin1.height / 2);
  ASSERT_NE(m_view.HitTest(cx, cy), nullptr);
  EXPECT_EQ(m_view.HitTest(cx, cy)->text, "pin 1");
  EXPECT_EQ(m_view.HitTest(static_cast<int>(pin1.x), cy), nullptr) << "the edge is outside";
  const TipRegion& pin2 = m_view.TipRegions()[2];
  EXPECT_EQ(m_view.HitTest(static_cast<int>(pin2.x + 4), static_cast<int>(pin2.y + pin2.height / 2)), nullptr);

  // A mouse move over the pin shows its text; off every region hides it.
  m_view.show();
  const QPoint scroll = m_view.ScrollPosition();
  auto move = [&](QPoint canvas) {
    const QPoint at = canvas - scroll;
    QMouseEvent e(QEvent::MouseMove, at, m_view.viewport()->mapToGlobal(at), Qt::NoButton, Qt::NoButton,
                  Qt::NoModifier);
    QApplication::sendEvent(m_view.viewport(), &e);
  };
  m_view.RenderCanvas();
  move({cx, cy});
  EXPECT_EQ(m_view.ToolTip().CurrentText(), "pin 1");
  move({cx, cy - 400});
  EXPECT_TRUE(m_view.ToolTip().CurrentText().isEmpty());

  // Show all functions off and on again restores the full regions.
  const float fullHeight = pin1.height;
  m_view.ToggleShowAllFunctions();
  EXPECT_FALSE(m_view.ShowAllFunctions());
  m_view.ToggleShowAllFunctions();
  m_view.RenderCanvas();
  EXPECT_FLOAT_EQ(m_view.TipRegions()[1].height, fullHeight);
}

// Clicks `button` of the next modal message box once it shows.
void AnswerNextBox(QMessageBox::StandardButton button, QString* text = nullptr) {
  QTimer::singleShot(10, [=] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    ASSERT_NE(box, nullptr);
    if (text != nullptr) *text = box->text();
    box->button(button)->click();
  });
}

TEST(MainFrame, CloseWhileAUserScriptRunsAsksFirst) {
  QTemporaryDir dir;
  const std::string loop = dir.filePath("loop.lua").toStdString();
  WriteFile(loop, "while true do end\n");
  CMainFrame frame;
  frame.View()->OnInitialUpdate({ChipSeries::CortexM, dir.filePath("none.lua").toStdString(), false, false, {}});
  frame.show();

  QString question, refusal;
  bool stillRunningAfterNo = false;
  QTimer::singleShot(20, [&] {
    AnswerNextBox(QMessageBox::Ok, &refusal);
    frame.OnRunScript();  // refused while running
    AnswerNextBox(QMessageBox::No, &question);
    frame.close();
    stillRunningAfterNo = frame.isVisible() && frame.View()->IsUserScriptRunning();
    AnswerNextBox(QMessageBox::Yes);
    frame.close();
  });
  frame.RunScript(QString::fromStdString(loop));
  EXPECT_EQ(refusal, "An user's lua script is running.");
  EXPECT_EQ(question, "User's lua script is running.\nClose the application anyway now?\n");
  EXPECT_TRUE(stillRunningAfterNo);
  EXPECT_TRUE(frame.PrintPane()->Text().contains("abort by host"));
  QApplication::processEvents();
  EXPECT_FALSE(frame.isVisible());
  EXPECT_FALSE(frame.View()->IsUserScriptRunning());
}

TEST(ChipSeriesDialog, CancelMeansCortexMAndOptionOneMeans8051) {
  QTemporaryDir dir;
  const std::string script = dir.filePath("gadrel.lua").toStdString();
  WriteFile(script, "function get_status() return {name = CHIP_SERIES, name_color = 1} end\n");
  struct Case {
    int option;  // -1: cancel
    const char* series;
  };
  for (const Case& c : {Case{-1, "CORTEX_M"}, Case{0, "CORTEX_M"}, Case{1, "8051_1T"}}) {
    SCOPED_TRACE(c.option);
    CVoGadrelView view;
    QString title;
    QTimer::singleShot(10, [&] {
      auto* dialog = qobject_cast<CDialogSelectBox*>(QApplication::activeModalWidget());
      ASSERT_NE(dialog, nullptr);
      title = dialog->windowTitle();
      if (c.option < 0) {
        dialog->reject();
      } else {
        dialog->Option(c.option)->click();
        dialog->OkButton()->click();
      }
    });
    view.OnInitialUpdate({std::nullopt, script, false, false, {}});
    view.RefreshPins();
    EXPECT_EQ(title, "Select Chip Series");
    EXPECT_EQ(view.Package().name, c.series);
  }
}

TEST(QtUserInteraction, BoxesAndSelection) {
  CQtUserInteraction ui;
  EXPECT_EQ(ui.SelectBox("T", {}, 0), -1) << "no options, no dialog";
  QTimer::singleShot(10, [] {
    auto* dialog = qobject_cast<CDialogSelectBox*>(QApplication::activeModalWidget());
    ASSERT_NE(dialog, nullptr);
    dialog->Option(2)->click();
    dialog->OkButton()->click();
  });
  EXPECT_EQ(ui.SelectBox("T", {"a", "b", "c"}, 0), 2);
  AnswerNextBox(QMessageBox::No);
  EXPECT_EQ(ui.MessageBox("C", "question", IUserInteraction::Icon::Question, IUserInteraction::Buttons::YesNo, nullptr),
            IUserInteraction::Answer::No);
  AnswerNextBox(QMessageBox::Ok);
  EXPECT_EQ(ui.MessageBox("C", "note", IUserInteraction::Icon::Warning, IUserInteraction::Buttons::Ok, nullptr),
            IUserInteraction::Answer::Ok);
}

TEST(MainFrame, MenusAndTheirShortcut) {
  CMainFrame frame;
  QStringList texts;
  QAction* run = nullptr;
  for (QAction* menu : frame.menuBar()->actions()) {
    texts << menu->text();
    for (QAction* item : menu->menu()->actions()) {
      texts << item->text();
      if (item->text() == "&Run script...") run = item;
    }
  }
  EXPECT_EQ(texts, QStringList({"&File", "&Run script...", "Export pin history...", "", "E&xit", "&Debug",
                                "GDB server", "&Help", "&About..."}));
  ASSERT_NE(run, nullptr);
  EXPECT_EQ(run->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_R)) << "the menu's Ctrl+R works";
}

TEST(MainFrame, SplitsFiveToTwo) {
  CMainFrame frame;
  frame.resize(1000, 600);
  frame.show();
  QApplication::processEvents();
  const QList<int> sizes = frame.Splitter()->sizes();
  ASSERT_EQ(sizes.size(), 2);
  EXPECT_NEAR(sizes[0] * 2.0 / sizes[1], 5.0, 0.1);
}

}  // namespace
