// --record end to end through the gadrel executable: a pin the emulator's
// core model toggles on a schedule shows its transitions at the right
// times and nothing else moves; bad input gets a clear message.
#include <gtest/gtest.h>

#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <chrono>
#include <fstream>
#include <map>
#include <sstream>
#include <thread>

#include "../ice/SimFixture.h"
#include "GadrelRun.h"

namespace {

int64_t NowUs() {
  return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// A dump read back: time 0 on the monotonic clock, and per wire name its
// (time, value) changes, the initial value at time 0.
struct Dump {
  int64_t zeroUs = -1;
  std::map<std::string, std::vector<std::pair<int64_t, char>>> wires;
};

Dump ReadDump(const std::string& path) {
  Dump d;
  std::ifstream in(path);
  std::map<std::string, std::string> names;  // code -> name
  std::string line;
  int64_t t = 0;
  while (std::getline(in, line)) {
    if (const auto at = line.find("time 0 is "); at != std::string::npos) d.zeroUs = std::stoll(line.substr(at + 10));
    std::istringstream w(line);
    std::string word, size, code, name;
    if (line.rfind("$var wire 1 ", 0) == 0 && (w >> word >> word >> size >> code >> name)) names[code] = name;
    if (!line.empty() && line[0] == '#') t = std::stoll(line.substr(1));
    if (!line.empty() && (line[0] == '0' || line[0] == '1' || line[0] == 'x') && names.count(line.substr(1)))
      d.wires[names[line.substr(1)]].push_back({t, line[0]});
  }
  return d;
}

}  // namespace

TEST(Record, ToggledPinShowsAtTheRightTimesAndNothingElseMoves) {
  SimProcess sim;
  ASSERT_EQ(sim.Ctl("pin demo PB8 0").rfind("ok", 0), 0u);
  QTemporaryDir dir;
  const std::string vcd = dir.filePath("pins.vcd").toStdString();
  constexpr int kRateMs = 20;
  QProcess gadrel;
  gadrel.setProcessEnvironment(QProcessEnvironment::systemEnvironment());
  gadrel.start(QStringLiteral(GADREL_EXE),
               {"--series", "cortex-m", "--pin-script", GADREL_PIN_SCRIPT, "--record", QString::fromStdString(vcd),
                "--seconds", "3", "--rate", QString::number(kRateMs)});
  ASSERT_TRUE(gadrel.waitForStarted());
  // PB8 goes high, low and high again while the recording runs; each
  // toggle is known to lie between `before` and `after`.
  struct Toggle {
    int atMs;
    char level;
    int64_t before = 0, after = 0;
  } toggles[] = {{1000, '1'}, {1500, '0'}, {2200, '1'}};
  const int64_t launched = NowUs();
  for (Toggle& t : toggles) {
    std::this_thread::sleep_until(std::chrono::steady_clock::time_point(std::chrono::microseconds(launched)) +
                                  std::chrono::milliseconds(t.atMs));
    t.before = NowUs();
    ASSERT_EQ(sim.Ctl(std::string("pin demo PB8 ") + t.level).rfind("ok", 0), 0u);
    t.after = NowUs();
  }
  ASSERT_TRUE(gadrel.waitForFinished(30000));
  ASSERT_EQ(gadrel.exitCode(), 0) << gadrel.readAllStandardError().toStdString();

  const Dump d = ReadDump(vcd);
  ASSERT_GT(d.zeroUs, 0);
  ASSERT_EQ(d.wires.size(), 100u) << "every pin of the LQFP100";
  ASSERT_TRUE(d.wires.count("PB8_pin26"));
  const auto& pb8 = d.wires.at("PB8_pin26");
  ASSERT_EQ(pb8.size(), 4u) << "the level at time 0 and three toggles";
  EXPECT_EQ(pb8[0], (std::pair<int64_t, char>{0, '0'}));
  for (size_t i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    const int64_t at = d.zeroUs + pb8[i + 1].first;
    EXPECT_EQ(pb8[i + 1].second, toggles[i].level);
    // The change is stamped with the time of the refresh that saw it: one
    // that began at most a little before the toggle, and before the next
    // toggle. How long a refresh takes and how soon the next one comes
    // depend on how busy the machine is, so the window is the order of the
    // toggles, with room for one slow refresh.
    EXPECT_GE(at, toggles[i].before - 100000);
    if (i + 1 < 3) {
      EXPECT_LT(at, toggles[i + 1].before);
    }
  }
  // The demo firmware runs its own pins (a counter on PA0-PA7, UART0_TXD,
  // the LED on PB0, SPI0_CLK, a walking bit on port E); all the others
  // keep their level.
  const auto firmwareRuns = [](const std::string& name) {
    for (const char* p : {"PA0_", "PA1_", "PA2_", "PA3_", "PA4_", "PA5_", "PA6_", "PA7_", "UART0_TXD_", "PB0_",
                          "SPI0_CLK_", "PE"})
      if (name.rfind(p, 0) == 0) return true;
    return false;
  };
  int constant = 0;
  for (const auto& [name, changes] : d.wires) {
    if (name == "PB8_pin26" || firmwareRuns(name)) continue;
    EXPECT_EQ(changes.size(), 1u) << name << " moved";
    ++constant;
  }
  EXPECT_GT(constant, 60);
  EXPECT_GT(d.wires.at("PB0_pin17").size(), 4u) << "the LED blinks every 500 ms";
}

TEST(Record, PinsListAndBadInput) {
  QTemporaryDir dir;
  const QString script = dir.filePath("pins.lua");
  std::ofstream(script.toStdString())
      << "n = 0\n"
         "function get_status() n = n + 1\n"
         "  local p = {} for i = 1, 20 do p[i] = {pin_no = i, texts = {'PA' .. (i - 1)}, highlight_text = 'PA' .. (i - 1),\n"
         "    status = (i == 2 and n % 2 == 0) and 65 or 66} end\n"
         "  return {name = 'T20', name_color = 0xFF000000, information = '', pins = p,\n"
         "          processor = {information = 'cpu'}, pkg_frame = 0} end\n";
  const QString vcd = dir.filePath("out.vcd");
  const QStringList base = {"--series", "cortex-m", "--pin-script", script};

  const ProcessResult ok = Gadrel(base + QStringList{"--record", vcd, "--seconds", "0.3", "--rate", "10", "--pins", "pa1,3"});
  ASSERT_EQ(ok.status, 0) << ok.err.toStdString();
  const Dump d = ReadDump(vcd.toStdString());
  ASSERT_EQ(d.wires.size(), 2u);
  EXPECT_GT(d.wires.at("PA1_pin2").size(), 5u) << "PA1 toggles at every refresh";
  EXPECT_EQ(d.wires.at("PA2_pin3").size(), 1u);

  const struct {
    QStringList args;
    const char* message;
  } bad[] = {
      {{"--record", vcd, "--seconds", "1", "--rate", "5"}, "--rate takes a period from 10 to 60000 ms, not '5'"},
      {{"--record", vcd, "--seconds", "0"}, "--seconds takes a duration from 0.1 to 86400 seconds, not '0'"},
      {{"--record", vcd, "--seconds", "1e9"}, "--seconds takes a duration from 0.1 to 86400 seconds, not '1e9'"},
      {{"--record", vcd, "--seconds", "two"}, "--seconds takes a duration from 0.1 to 86400 seconds, not 'two'"},
      {{"--record", vcd}, "--record needs --seconds N"},
      {{"--seconds", "1"}, "--seconds and --pins go with --record"},
      {{"--record", dir.filePath("no/such/dir.vcd"), "--seconds", "1"}, "cannot write "},
      {{"--record", vcd, "--seconds", "1", "--pins", "PA1,PB7"}, "--pins: no pin 'PB7' on this package (T20)"},
  };
  for (const auto& b : bad) {
    SCOPED_TRACE(b.args.join(' ').toStdString());
    const ProcessResult r = Gadrel(base + b.args);
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.err.contains(QString::fromUtf8(b.message))) << r.err.toStdString();
  }
}
