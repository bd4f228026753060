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
#include <iostream>
#include <string>
#include <vector>

#include "../ice/SimFixture.h"
#include "GadrelRun.h"
#include "ice/CICE_M4.h"
#include "sim/ChildProcess.h"

namespace {

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

  // The picture is the package area with a margin, not the canvas: its
  // pixel (x, y) is canvas origin + (x, y), and pin 1 is green there. The
  // control panel (at the scroll position 780, 560) is not in it.
  QImage image(png);
  ASSERT_FALSE(image.isNull());
  const QPoint origin(json["origin"]["x"].toInt(), json["origin"]["y"].toInt());
  EXPECT_EQ(image.size(), QSize(json["width"].toInt(), json["height"].toInt()));
  EXPECT_LT(image.width(), 800);
  EXPECT_LT(image.height(), 800);
  EXPECT_FALSE(QRect(origin, image.size()).intersects(QRect(780 + 5, 560 + 5, 118 + 3, 58 + 3)));
  const QColor c = image.pixelColor(1051 + 4 - origin.x(), 1134 + 20 - origin.y());
  EXPECT_EQ(c, QColor(0, 255, 0)) << c.name().toStdString();
  EXPECT_EQ(image.pixelColor(0, 0), QColor(Qt::white)) << "a margin";
  // Every region lies in the picture.
  for (const QJsonValue& v : regions) {
    const QJsonObject r = v.toObject();
    EXPECT_TRUE(QRectF(origin, image.size()).contains(QRectF(r["x"].toDouble(), r["y"].toDouble(),
                                                           r["width"].toDouble(), r["height"].toDouble())));
  }
}

// --zoom scales the picture and its regions as the window's zoom does.
TEST(Render, ZoomScalesThePictureAndItsRegions) {
  QTemporaryDir dir;
  const QString script = dir.filePath("pins.lua");
  std::ofstream(script.toStdString())
      << "function get_status()\n"
         "  local p = {} for i = 1, 20 do p[i] = {pin_no = i, texts = {'F' .. i}, information = 'pin ' .. i,\n"
         "    pin_bg_color = (i == 1) and 0xFF00FF00 or 0xFFFFFFFF} end\n"
         "  return {name = 'Z', name_color = 0xFF000000, information = '', pins = p,\n"
         "          processor = {information = 'cpu'}, pkg_frame = 1} end\n";
  const QString png = dir.filePath("out.png");
  const ProcessResult run = Gadrel({"--pin-script", script, "--render", png, "--zoom", "200"});
  ASSERT_EQ(run.status, 0) << run.err.toStdString();
  const QJsonObject json = ReadJson(dir.filePath("out.json"));
  EXPECT_DOUBLE_EQ(json["zoom"].toDouble(), 2.0);
  const QJsonArray regions = json["regions"].toArray();
  ASSERT_EQ(regions.size(), 21);
  // Two-sided, 10 pins a row: gap 11 - 8 = 3, pin 1 at canvas (1040 + 11, 840 + 85), 8 wide, doubled.
  const QJsonObject pin1 = regions[1].toObject();
  EXPECT_EQ(pin1["text"].toString(), "pin 1");
  EXPECT_DOUBLE_EQ(pin1["x"].toDouble(), 2 * 1051);
  EXPECT_DOUBLE_EQ(pin1["width"].toDouble(), 16);
  QImage image(png);
  ASSERT_FALSE(image.isNull());
  const QPoint origin(json["origin"]["x"].toInt(), json["origin"]["y"].toInt());
  const QColor c = image.pixelColor(2 * (1051 + 4) - origin.x(), 2 * (925 + 12) - origin.y());
  EXPECT_EQ(c, QColor(0, 255, 0)) << c.name().toStdString();
}

// Every chip the shipped script knows, on the targets that run it (the core
// model; QEMU and ucsim when installed), is drawn whole: each pin has its
// region in the render, inside the picture, and nothing is said to be
// undrawable.
TEST(Render, EveryChipOfTheShippedScriptIsDrawn) {
  struct Chip {
    std::string target;  // the adapter's target in the emulator's configuration
    const char* series;
    QString name;
    int pins;
    QString pin1;  // the tooltip of pin 1 starts so
  };
  const std::string fw = FIRMWARE_DIR;
  std::vector<Chip> chips = {
      {R"({"kind": "cortex-m", "chip": "GX32M412VE"})", "cortex-m", "GX32M412VE", 100, "<b>Pin 1: PA0</b>"},
      {R"({"kind": "cortex-m", "chip": "GX32P100"})", "cortex-m", "GX32P100", 100, "<b>Pin 1: PA0</b>"},
      {R"({"kind": "8051"})", "8051", "GX8051T24", 44, "<b>Pin 1: P1.5</b>"},
  };
  const bool qemu = sim::ProgramAvailable("qemu-system-arm") && QFile::exists(QString::fromStdString(fw + "/microbit.elf"));
  if (qemu) {
    for (const char* board : {"lm3s6965evb", "microbit"}) {
      chips.push_back({std::string(R"({"kind": "qemu", "machine": ")") + board + R"(", "firmware": ")" + fw + "/" +
                           board + R"(.elf"})",
                       "cortex-m", *board == 'l' ? "GX32M330QE" : "GX32M030QB", 48,
                       *board == 'l' ? "<b>Pin 1: PA0</b>" : "<b>VDD</b>"});
    }
  }
  const bool ucsim = sim::ProgramAvailable("s51") && QFile::exists(QString::fromStdString(fw + "/blink51.ihx"));
  if (ucsim) {
    chips.push_back({R"({"kind": "ucsim", "firmware": ")" + fw + R"(/blink51.ihx"})", "8051", "GX8051U08", 44,
                     "<b>Pin 1: P1.5</b>"});
  }
  std::string config = R"({"adapters": [)";
  for (size_t i = 0; i < chips.size(); ++i) {
    config += (i ? ", " : "") + std::string(R"({"name": "t)") + std::to_string(i) +
              R"(", "generation": 1, "adapter_id": "0x7788E00)" + std::to_string(i) + R"(", "location": "1-6.)" +
              std::to_string(i + 1) + R"(", "target": )" + chips[i].target + "}";
  }
  SimProcess sim(config + "]}", static_cast<int>(chips.size()));

  QTemporaryDir dir;
  for (size_t i = 0; i < chips.size(); ++i) {
    const Chip& c = chips[i];
    SCOPED_TRACE(c.name.toStdString());
    const QString png = dir.filePath(QStringLiteral("chip%1.png").arg(i));
    const ProcessResult run = Gadrel({"--series", c.series, "--pin-script", GADREL_PIN_SCRIPT, "--render", png,
                                      "--adapter", QString::number(i)},
                                     QProcessEnvironment::systemEnvironment(), 30000);
    ASSERT_EQ(run.status, 0) << run.err.toStdString();
    EXPECT_FALSE(run.err.contains("cannot be drawn")) << run.err.toStdString();
    const QJsonObject json = ReadJson(dir.filePath(QStringLiteral("chip%1.json").arg(i)));
    EXPECT_EQ(json["name"].toString(), c.name);
    const QImage image(png);
    const QRectF picture(json["origin"]["x"].toDouble(), json["origin"]["y"].toDouble(), image.width(),
                         image.height());
    const QJsonArray regions = json["regions"].toArray();
    ASSERT_EQ(regions.size(), c.pins + 1) << "the name and every pin";
    EXPECT_TRUE(regions[1].toObject()["text"].toString().startsWith(c.pin1)) << regions[1].toObject()["text"].toString().toStdString();
    for (const QJsonValue& v : regions) {
      const QJsonObject r = v.toObject();
      const QRectF box(r["x"].toDouble(), r["y"].toDouble(), r["width"].toDouble(), r["height"].toDouble());
      EXPECT_FALSE(box.isEmpty());
      EXPECT_TRUE(picture.contains(box)) << r["text"].toString().toStdString();
    }
  }
  if (!qemu) std::cout << "[ SKIPPED  ] the QEMU chips: qemu-system-arm or the firmware is missing\n";
  if (!ucsim) std::cout << "[ SKIPPED  ] the ucsim chip: s51 or the firmware is missing\n";
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

// Without a window nothing waits for an answer: the firmware question is
// answered No and said on standard error, an adapter waiting in its boot
// loader is left there, and with several adapters --adapter N chooses or
// the run stops at once saying how to name one.
TEST(Render, HeadlessRunsAskNobody) {
  // A class-2 adapter at firmware 7000 (the program asks before updating it),
  // and a second one with another chip.
  const std::string a = R"({"name": "a", "generation": 1, "chip_id": "0x00D4851F", "firmware_version": 7000,
      "adapter_id": "0x7788BE00", "location": "1-4.1", "target": {"kind": "cortex-m", "chip": "GX32M412VE"}})";
  const std::string b = R"({"name": "b", "generation": 1, "adapter_id": "0x7788BE01", "location": "1-4.2",
      "target": {"kind": "cortex-m", "chip": "GX32P100"}})";
  struct Case {
    const char* name;
    bool two, inLoader;
    QStringList args;
    int status;
    QStringList says;
    QString chip;  // the chip drawn; empty: no picture
  };
  const Case cases[] = {
      {"old firmware", false, false, {}, 0,
       {"Application internal version is not matched!", "answered No"}, "GX32M412VE"},
      {"in its boot loader", false, true, {}, 0,
       {"A device might be plugged in firmware update mode before", "not updated without a window"}, ""},
      {"two adapters", true, false, {}, 1, {"name one with --adapter N"}, ""},
      // The product id alone does not name it: the shipped script asks with its second id.
      {"two adapters, the second named", true, false, {"--adapter", "1"}, 0, {}, "GX32P100"},
      {"two adapters, a third named", true, false, {"--adapter", "2"}, 1, {"no adapter 2 (found 2)"}, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SimProcess sim(R"({"adapters": [)" + a + (c.two ? ", " + b : "") + "]}", c.two ? 2 : 1);
    if (c.inLoader) {
      ASSERT_EQ(sim.Ctl("loader a").rfind("ok", 0), 0u);
      ASSERT_TRUE(sim.WaitForInterfaces(1));
    }
    QTemporaryDir dir;
    const QString png = dir.filePath("out.png");
    const ProcessResult run =
        Gadrel(QStringList{"--pin-script", GADREL_PIN_SCRIPT, "--render", png} + c.args,
               QProcessEnvironment::systemEnvironment(), 30000);
    EXPECT_EQ(run.status, c.status) << run.err.toStdString();
    for (const QString& text : c.says) EXPECT_TRUE(run.err.contains(text)) << run.err.toStdString();
    if (c.status != 0) {
      EXPECT_FALSE(QFile::exists(png));
    } else if (!c.chip.isEmpty()) {
      EXPECT_EQ(ReadJson(dir.filePath("out.json"))["name"].toString(), c.chip);
    } else {
      EXPECT_TRUE(ReadJson(dir.filePath("out.json"))["name"].toString().isEmpty());
    }
    // Nothing was written to the adapter: it reports 7000, or still waits
    // in its boot loader.
    CICE_M4 ice;
    ice.DiscoverAdapters(false);
    EXPECT_EQ(ice.CheckUSBLink() ? ice.ResetCmdSerial(0xFFFFFFFF) : 0u, c.inLoader ? 0u : 7000u);
  }
}

}  // namespace
