// Every example of examples/ against a private emulator, as a user runs it:
// each pin script through `gadrel --render`, each command-line script through
// `gadrel -run_script`, each window user script through File > Run script...
// beside the guide's worked example, whose PB8 follows the pin the emulator
// drives. And the guide shows the Lua that runs here, and pictures the build
// drew.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <map>
#include <string>

#include "../ice/SimFixture.h"
#include "GadrelRun.h"
#include "app/CMainFrame.h"
#include "app/CPrintView.h"
#include "app/CVoGadrelView.h"

namespace {

QString ReadText(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

const PinInfo* PinNumbered(const PackageInfo& pkg, const std::string& no) {
  for (const PinInfo& p : pkg.pins)
    if (p.pin_no == no) return &p;
  return nullptr;
}

}  // namespace

TEST(Examples, EveryExampleRunsAgainstTheEmulator) {
  const QDir examples(QStringLiteral(GADREL_SOURCE_DIR "/examples"));
  const QStringList files = examples.entryList({QStringLiteral("*.lua")}, QDir::Files, QDir::Name);
  ASSERT_GE(files.size(), 5) << "examples/ holds the pin scripts and user scripts";
  // What a window user script must have printed, for those whose output is known.
  const std::map<QString, QStringList> printed{
      {QStringLiteral("user_dump_and_toggle.lua"), {QStringLiteral("00000000: "), QStringLiteral("PB1: L -> H -> L")}},
  };

  SimProcess sim;
  QTemporaryDir out;
  QStringList userScripts;
  for (const QString& name : files) {
    SCOPED_TRACE(name.toStdString());
    const QString path = examples.filePath(name);
    if (ReadText(path).contains(QStringLiteral("function get_status"))) {
      const QString png = out.filePath(QFileInfo(name).baseName() + QStringLiteral(".png"));
      const ProcessResult run =
          Gadrel({QStringLiteral("--series"), QStringLiteral("cortex-m"), QStringLiteral("--pin-script"), path,
                  QStringLiteral("--render"), png});
      ASSERT_EQ(run.status, 0) << run.err.toStdString();
      EXPECT_TRUE(run.err.isEmpty()) << "nothing said on standard error: " << run.err.toStdString();
      QFile json(out.filePath(QFileInfo(name).baseName() + QStringLiteral(".json")));
      ASSERT_TRUE(json.open(QIODevice::ReadOnly));
      const QJsonObject render = QJsonDocument::fromJson(json.readAll()).object();
      EXPECT_FALSE(render["name"].toString().isEmpty());
      EXPECT_GT(render["regions"].toArray().size(), 10) << "the package is drawn with its pins";
    } else if (name.contains(QStringLiteral("cmdline"))) {
      const ProcessResult run = Gadrel({QStringLiteral("-run_script"), path});
      EXPECT_EQ(run.status, 0) << run.err.toStdString();
    } else {
      userScripts << name;
    }
  }

  // The window with the guide's worked example as its pin script.
  CMainFrame frame;
  CVoGadrelView::StartOptions o;
  o.series = ChipSeries::CortexM;
  o.pinScript = examples.filePath(QStringLiteral("pins_demo_chip.lua")).toStdString();
  o.startTimer = false;
  CVoGadrelView& view = *frame.View();
  view.OnInitialUpdate(o);
  for (const char* level : {"1", "0"}) {
    ASSERT_EQ(sim.Ctl(std::string("pin demo PB8 ") + level).rfind("ok", 0), 0u);
    view.RefreshPins();
    EXPECT_EQ(view.Package().name, "GX32M412VE") << view.Package().information;
    const PinInfo* pb8 = PinNumbered(view.Package(), "26");
    ASSERT_NE(pb8, nullptr) << view.Package().information;
    EXPECT_EQ(pb8->texts, std::vector<std::string>{"PB8"});
    EXPECT_EQ(pb8->direction, 1) << "an input";
    EXPECT_EQ(pb8->status, *level == '1' ? 65 : 66) << "PB8 driven " << level;
  }

  for (const QString& name : userScripts) {
    SCOPED_TRACE(name.toStdString());
    const qsizetype before = frame.PrintPane()->Text().size();
    EXPECT_TRUE(view.RunUserScriptFile(examples.filePath(name).toStdString()))
        << frame.PrintPane()->Text().toStdString();
    const QString said = frame.PrintPane()->Text().mid(before);
    EXPECT_FALSE(said.isEmpty()) << "a window example prints to the pane";
    if (const auto it = printed.find(name); it != printed.end()) {
      for (const QString& text : it->second) EXPECT_TRUE(said.contains(text)) << said.toStdString();
    }
  }
}

// Every Lua block of the guide is a piece of an example or of a picture's
// script, so what the guide shows is what runs; every picture it shows was
// drawn by the build from its script, with the package on it.
TEST(Guide, ShowsTheLuaThatRunsAndThePicturesTheBuildDrew) {
  const QString guide = ReadText(QStringLiteral(GADREL_SOURCE_DIR "/docs/pin-scripts.md"));
  ASSERT_FALSE(guide.isEmpty());
  QString sources;
  for (const char* folder : {GADREL_SOURCE_DIR "/examples", GADREL_SOURCE_DIR "/docs/pictures"}) {
    const QDir dir(QString::fromUtf8(folder));
    for (const QString& name : dir.entryList({QStringLiteral("*.lua")}, QDir::Files)) sources += ReadText(dir.filePath(name));
  }
  const QRegularExpression block(QStringLiteral("```lua\\n(.*?)```"), QRegularExpression::DotMatchesEverythingOption);
  int blocks = 0;
  for (auto it = block.globalMatch(guide); it.hasNext(); ++blocks) {
    const QString code = it.next().captured(1);
    EXPECT_TRUE(sources.contains(code)) << "not in examples/ or docs/pictures/:\n" << code.toStdString();
  }
  EXPECT_GE(blocks, 8);

  const QRegularExpression picture(QStringLiteral("\\]\\(pictures/([a-z0-9_]+)\\.png\\)"));
  int pictures = 0;
  for (auto it = picture.globalMatch(guide); it.hasNext(); ++pictures) {
    const QString name = it.next().captured(1);
    SCOPED_TRACE(name.toStdString());
    EXPECT_TRUE(QFile::exists(QStringLiteral(GADREL_SOURCE_DIR "/docs/pictures/") + name + QStringLiteral(".lua")));
    EXPECT_TRUE(QFile::exists(QStringLiteral(GADREL_DOCS_BUILD_DIR "/pictures/") + name + QStringLiteral(".png")));
    QFile json(QStringLiteral(GADREL_DOCS_BUILD_DIR "/pictures/") + name + QStringLiteral(".json"));
    ASSERT_TRUE(json.open(QIODevice::ReadOnly));
    EXPECT_GT(QJsonDocument::fromJson(json.readAll()).object()["regions"].toArray().size(), 10)
        << "the package and its pins are drawn";
  }
  EXPECT_EQ(pictures, 5);
}
