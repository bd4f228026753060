// --render end to end through the gadrel executable: the PNG, the JSON of
// tooltip regions, and the failure status.
#include <gtest/gtest.h>

#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <fstream>

namespace {

struct ProcessResult {
  int status = -1;
  QString err;
};

ProcessResult Gadrel(const QStringList& args, const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment()) {
  QProcess p;
  p.setProcessEnvironment(env);
  p.start(QStringLiteral(GADREL_EXE), args);
  EXPECT_TRUE(p.waitForFinished(60000));
  return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, QString::fromUtf8(p.readAllStandardError())};
}

QJsonObject ReadJson(const QString& path) {
  QFile f(path);
  EXPECT_TRUE(f.open(QIODevice::ReadOnly)) << path.toStdString();
  return QJsonDocument::fromJson(f.readAll()).object();
}

TEST(Render, PictureAndRegionsOfAPinScript) {
  QTemporaryDir dir;
  const QString script = dir.filePath("pins.lua");
  std::ofstream(script.toStdString())
      << "n = (n or 0) + 0\n"
         "function get_status() n = n + 1\n"
         "  local p = {} for i = 1, 100 do p[i] = {pin_no = i, texts = {'F' .. i}, highlight_text = 'F' .. i,\n"
         "    pin_bg_color = (i == 1) and 0xFF00FF00 or 0xFFFFFFFF, information = 'pin ' .. i} end\n"
         "  return {name = 'R' .. n, name_color = 0xFF000000, information = 'info', pins = p,\n"
         "          processor = {information = 'cpu'}, pkg_frame = 0} end\n";
  const QString png = dir.filePath("out.png");
  const ProcessResult run = Gadrel({"--series", "cortex-m", "--pin-script", script, "--render", png, "--ticks", "3"});
  ASSERT_EQ(run.status, 0) << run.err.toStdString();

  const QJsonObject json = ReadJson(dir.filePath("out.json"));
  EXPECT_EQ(json["name"].toString(), "R3") << "three refresh cycles ran";
  EXPECT_EQ(json["frame"].toInt(), 0);
  EXPECT_DOUBLE_EQ(json["zoom"].toDouble(), 1.0);
  const QJsonArray regions = json["regions"].toArray();
  ASSERT_EQ(regions.size(), 101);
  EXPECT_EQ(regions[0].toObject()["text"].toString(), "cpu");
  const QJsonObject pin1 = regions[1].toObject();
  EXPECT_EQ(pin1["text"].toString(), "pin 1");
  EXPECT_DOUBLE_EQ(pin1["x"].toDouble(), 1051);
  EXPECT_DOUBLE_EQ(pin1["width"].toDouble(), 8);

  // The picture's pixel (x, y) is canvas (x, y): pin 1 is green there.
  QImage image(png);
  ASSERT_FALSE(image.isNull());
  EXPECT_GT(image.width(), 1400);
  EXPECT_GT(image.height(), 1200);
  const QColor c = image.pixelColor(1051 + 4, 1134 + 20);
  EXPECT_EQ(c, QColor(0, 255, 0)) << c.name().toStdString();
}

TEST(Render, DemoScriptDrawsEveryFrame) {
  QTemporaryDir dir;
  for (int frame : {0, 1, 2, 3}) {
    SCOPED_TRACE(frame);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("GADREL_DEMO_FRAME", QString::number(frame));
    const QString png = dir.filePath(QStringLiteral("demo%1.png").arg(frame));
    const ProcessResult run = Gadrel({"--pin-script", GADREL_DEMO_SCRIPT, "--render", png}, env);
    ASSERT_EQ(run.status, 0) << run.err.toStdString();
    const QJsonObject json = ReadJson(dir.filePath(QStringLiteral("demo%1.json").arg(frame)));
    EXPECT_EQ(json["frame"].toInt(), frame);
    EXPECT_GT(json["regions"].toArray().size(), 20);
  }
}

TEST(Render, FailuresExitWithOneAndAReason) {
  QTemporaryDir dir;
  const QString script = dir.filePath("pins.lua");
  std::ofstream(script.toStdString()) << "function get_status() return {} end\n";
  struct Case {
    QStringList args;
    const char* reason;
  };
  const Case cases[] = {
      {{"--pin-script", script, "--render", dir.filePath("no/such/dir/out.png")}, "cannot write"},
      {{"--pin-script", dir.filePath("missing.lua"), "--render", dir.filePath("x.png")}, "pin script not found"},
      {{"--series", "avr", "--render", dir.filePath("x.png")}, "--series"},
      {{"--render", dir.filePath("x.png"), "--ticks", "many"}, "--ticks"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args.join(' ').toStdString());
    const ProcessResult run = Gadrel(c.args);
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(run.err.contains(c.reason)) << run.err.toStdString();
  }
}

}  // namespace
