// The pin view with its adapter objects against a private emulator: the
// shipped pin script follows pin changes, survives an unplugged adapter,
// a cancelled adapter selection closes the program at the next tick, and
// the adapter objects outlive every script that may still use them.
#include <gtest/gtest.h>

#include <QApplication>
#include <QTemporaryDir>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <fstream>
#include <set>
#include <sstream>

#include "../ice/SimFixture.h"
#include "app/CDialogVoLinkSelect.h"
#include "app/CMainFrame.h"
#include "app/CVoGadrelView.h"

namespace {

std::string ReadFile(const std::string& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

const PinInfo* FindPin(const PackageInfo& pkg, const std::string& text) {
  for (const PinInfo& p : pkg.pins)
    if (!p.texts.empty() && p.texts.front() == text) return &p;
  return nullptr;
}

std::unique_ptr<CVoGadrelView> StartView(ChipSeries series, const std::string& script) {
  auto view = std::make_unique<CVoGadrelView>();
  CVoGadrelView::StartOptions o;
  o.series = series;
  o.pinScript = script;
  o.startTimer = false;
  view->OnInitialUpdate(o);
  return view;
}

}  // namespace

TEST(LivePins, ShippedScriptFollowsPinChangesAndAnUnpluggedAdapter) {
  const struct {
    ChipSeries series;
    std::string config, adapter, chip, pin, ctlPin;
  } cases[] = {
      {ChipSeries::CortexM, "", "demo", "GX32M412VE", "PB8", "PB8"},
      {ChipSeries::Ostra1T, OneAdapterConfig("hid", 64, 7973, "m4", 1, "8051"), "a", "GX8051T24", "P1.2",
       "P1.2"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.chip);
    SimProcess sim(c.config, c.config.empty() ? 2 : 1);
    auto view = StartView(c.series, GADREL_PIN_SCRIPT);
    view->RefreshPins();
    const PackageInfo& pkg = view->Package();
    EXPECT_EQ(pkg.name, c.chip) << pkg.information;
    ASSERT_NE(FindPin(pkg, c.pin), nullptr) << pkg.information;
    EXPECT_EQ(FindPin(pkg, c.pin)->direction, 1) << "an input";

    for (const char* level : {"1", "0", "1"}) {
      ASSERT_EQ(sim.Ctl("pin " + c.adapter + " " + c.ctlPin + " " + level).rfind("ok", 0), 0u);
      view->RefreshPins();
      ASSERT_NE(FindPin(view->Package(), c.pin), nullptr) << view->Package().information;
      EXPECT_EQ(FindPin(view->Package(), c.pin)->status, *level == '1' ? 65 : 66) << level;
    }

    // Unplugged: the information line says so and the script keeps trying.
    ASSERT_EQ(sim.Ctl("unplug " + c.adapter).rfind("ok", 0), 0u);
    for (int i = 0; i < 2; ++i) {
      view->RefreshPins();
      EXPECT_TRUE(view->Package().pins.empty());
      EXPECT_NE(view->Package().information.find("trying again"), std::string::npos)
          << view->Package().information;
    }
    // Plugged in again: live pins without a restart.
    ASSERT_EQ(sim.Ctl("plug " + c.adapter).rfind("ok", 0), 0u);
    ASSERT_TRUE(sim.WaitForInterfaces(c.config.empty() ? 2 : 1));
    view->RefreshPins();
    EXPECT_EQ(view->Package().name, c.chip) << view->Package().information;
    ASSERT_NE(FindPin(view->Package(), c.pin), nullptr);
    EXPECT_EQ(FindPin(view->Package(), c.pin)->status, 65);
  }
}

TEST(LivePins, CancelledSelectionClosesTheProgramAtTheNextTick) {
  for (ChipSeries series : {ChipSeries::CortexM, ChipSeries::Ostra1T}) {
    SCOPED_TRACE(ChipSeriesName(series));
    SimProcess sim(ReadFile(GADREL_PAIR_CONFIG), 2);
    QTemporaryDir dir;
    const std::string script = dir.filePath("pins.lua").toStdString();
    std::ofstream(script) << "opened = {ice:OpenPort()}\n"
                             "function get_status() return {name = 'x', name_color = 1} end\n";
    // Two adapters: OpenPort asks which one; the user cancels.
    QTimer::singleShot(200, [] {
      if (QWidget* w = QApplication::activeModalWidget()) w->close();
    });
    auto view = StartView(series, script);
    view->show();
    ASSERT_TRUE(view->isVisible());
    view->RefreshPins();
    QApplication::processEvents();
    EXPECT_FALSE(view->isVisible()) << "the close request came with the tick";
  }
}

// The window on its own timer with the shipped script, which opens the port
// again at every refresh until it has an adapter: after the user cancels the
// adapter selection the window closes, and no later tick asks again (a tick
// that came between the cancel and the close used to open a second dialog
// over the closed window).
TEST(LivePins, CancelledSelectionClosesTheWindowAndAsksNoMore) {
  SimProcess sim(ReadFile(GADREL_PAIR_CONFIG), 2);
  CMainFrame frame;
  CVoGadrelView::StartOptions o;
  o.series = ChipSeries::CortexM;
  o.pinScript = GADREL_PIN_SCRIPT;
  frame.View()->OnInitialUpdate(o);
  frame.show();
  std::set<QWidget*> dialogs;
  QTimer watch;
  watch.setInterval(20);
  QObject::connect(&watch, &QTimer::timeout, [&] {
    auto* dialog = qobject_cast<CDialogVoLinkSelect*>(QApplication::activeModalWidget());
    if (dialog == nullptr || !dialogs.insert(dialog).second) return;
    QTest::mouseClick(dialog->CancelButton(), Qt::LeftButton);
  });
  watch.start();
  ASSERT_TRUE(QTest::qWaitFor([&] { return !dialogs.empty(); }, 30000)) << "no selection dialog";
  ASSERT_TRUE(QTest::qWaitFor([&] { return !frame.isVisible(); }, 10000)) << "the window stayed open";
  // Several refresh periods later: still one dialog, none open.
  QTest::qWait(1500);
  EXPECT_EQ(dialogs.size(), 1u);
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
  EXPECT_FALSE(frame.View()->RefreshTimer().isActive());
}

TEST(LivePins, ScriptThatNeverOpensThePortLeavesBothAdaptersAlone) {
  SimProcess sim;
  QTemporaryDir dir;
  const std::string script = dir.filePath("pins.lua").toStdString();
  std::ofstream(script) << "function get_status() return {name = 'x', name_color = 1} end\n";
  const auto connections = [&sim] {
    const std::string s = sim.Ctl("stats");
    return s.substr(0, s.find(" queued"));
  };
  const std::string before = connections();
  auto view = StartView(ChipSeries::CortexM, script);
  view->show();
  view->RefreshPins();
  QApplication::processEvents();
  EXPECT_TRUE(view->isVisible());
  EXPECT_EQ(connections(), before) << "no interface was opened";
}

// Scripts run against the adapter object up to the very end (disconnect,
// collected objects when the states close); under ASan a wrong order shows
// as a use after free.
TEST(LivePins, AdapterObjectsOutliveEveryScript) {
  SimProcess sim;
  QTemporaryDir dir;
  const std::string script = dir.filePath("pins.lua").toStdString();
  std::ofstream(script)
      << "ice:OpenPort()\n"
         "keep = newproxy(true)\n"
         "getmetatable(keep).__gc = function() pcall(ice.ReadMem32, ice, 0x40000000) end\n"
         "function get_status() return {name = 'x', name_color = 1} end\n"
         "function disconnect() ice:ReadMem32(0x40000000); ice:ClosePort() end\n";
  const std::string user = dir.filePath("user.lua").toStdString();
  std::ofstream(user) << "kept = newproxy(true)\n"
                         "getmetatable(kept).__gc = function() pcall(VoLink.ReadMem32, VoLink, 0x40000000) end\n"
                         "assert(VoLink:ReadMem32(0x40000000) == 0x00D41200)\n";
  auto view = StartView(ChipSeries::CortexM, script);
  EXPECT_TRUE(view->RunUserScriptFile(user));
  view.reset();
  SUCCEED();
}
