// The whole update against the emulator: each adapter class from firmware
// 7000 to the program's firmware, the configuration rewrite and the old
// boot loader that need the adapter plugged in again, the firmware check
// with its setting, two adapters, an unplug in stage 2, and a process killed
// in the middle of the update followed by `volink update`.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "ScriptedUi.h"
#include "UpdateRig.h"
#include "fwupdate/FirmwareCheck.h"
#include "fwupdate/BootLoaderOps.h"
#include "fwupdate/LDUsbHid.h"
#include "ice/CICE_M4.h"
#include "ice/SimFixture.h"
#include "platform/StringTable.h"
#include "sim/Images.h"
#include "volink/Volink.h"


using namespace fwupdate;
using namespace std::chrono_literals;
using namespace updaterig;

namespace {

class EachClass : public ::testing::TestWithParam<ClassCase> {};

}  // namespace

// The boot-loader commands as the emulator's boot loader answers them.
TEST_P(EachClass, LoaderCommands) {
  const ClassCase& c = GetParam();
  SimProcess sim(UpdateConfig(c), 1);
  ASSERT_NE(sim.Ctl("loader a").find("ok"), std::string::npos);
  ASSERT_TRUE(sim.WaitForInterfaces(1));
  LDUsbHid ld;
  ASSERT_TRUE(ld.Connect());
  ld.Sync();
  EXPECT_EQ(ld.ReadChipId(), std::stoul(c.chipId, nullptr, 16));
  EXPECT_EQ(ld.ReadVersion(), 0x30);
  const LDUsbHid::ConfigWords config = ld.ReadConfig();
  EXPECT_EQ(config[0], c.mcuClass == McuClass::Third ? 0xFFFFFF7Fu : 0xFFFFFF7Cu);
  EXPECT_EQ(config[1], 0x10000u);
  // Data flash where word 1 says when word 0 bit 0 is clear; the third
  // family's default has it set: its fixed 8 KiB at the end of flash.
  EXPECT_EQ(LoaderApromSize(std::stoul(c.chipId, nullptr, 16), true, ld.ReadFlashInfo(), config[0], config[1]),
            c.mcuClass == McuClass::Third ? 512u * 1024 - 8192 : 0x10000u);
  ld.AnnounceApromSize(0x10000);

  // An image that is not a whole number of packets.
  std::vector<uint8_t> image(1000);
  for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<uint8_t>(i * 7 + 3);
  size_t packets = 0;
  ld.WriteAprom(0, image, [&](size_t, size_t, size_t) { ++packets; });
  EXPECT_EQ(packets, 1 + (1000 - 48 + 55) / 56);
  uint16_t sum = 0;
  for (uint8_t b : image) sum = static_cast<uint16_t>(sum + b);
  ld.StoreChecksum(1000, sum);
  EXPECT_EQ(ld.ReadChecksum(0, 1000), sum);
  ld.Disconnect();
  EXPECT_THROW(ld.ReadChipId(), CICEException);
}

// From 7000 to the program's firmware; a second check says nothing.
TEST_P(EachClass, UpdatesAndIsCurrentAfterwards) {
  const ClassCase& c = GetParam();
  SimProcess sim(UpdateConfig(c), 1);
  FirmwareCheckOptions options;
  options.update = QuickUpdate(WriteUpdateImages(sim.Dir(), true));
  ScriptedUi ui;
  CICE_M4 ice;
  ice.DiscoverAdapters(false);
  EXPECT_TRUE(RunFirmwareCheck(ice, ui, CheckMode::Normal, false, options));
  ASSERT_EQ(ui.results.size(), 1u);
  EXPECT_EQ(ui.results[0], UpdateResult::Finished);
  EXPECT_EQ(ui.lastPercent, 100);
  EXPECT_TRUE(ui.Showed("status: Write new firmware ..."));
  EXPECT_TRUE(ui.Showed("box: Update firmware, OK!"));
  ice.CloseAllAdapters();  // a bulk interface takes one holder
  EXPECT_EQ(ReportedFirmware(), "7973r");

  ScriptedUi again;
  ice.DiscoverAdapters(false);
  EXPECT_FALSE(RunFirmwareCheck(ice, again, CheckMode::Normal, false, options));
  EXPECT_TRUE(again.shown.empty());
}

// The same on the command line, with the progress on standard error.
TEST_P(EachClass, VolinkUpdate) {
  const ClassCase& c = GetParam();
  SimProcess sim(UpdateConfig(c), 1);
  const std::vector<std::string> args = {"update", "--yes", "--images", WriteUpdateImages(sim.Dir(), true).string()};
  std::ostringstream out, err;
  EXPECT_EQ(RunVolink(args, out, err, {QuickUpdate({}).timings}), 0) << err.str();
  EXPECT_EQ(out.str(), "adapter firmware 7973r is current\n");
  // Third-generation adapters up to 7918 are updated without a question.
  EXPECT_EQ(err.str().find("[y/N] yes (--yes)") != std::string::npos, c.mcuClass != McuClass::Third) << err.str();
  EXPECT_NE(err.str().find("Write new firmware ..."), std::string::npos) << err.str();
  EXPECT_NE(err.str().find("Update 100%"), std::string::npos) << err.str();

  std::ostringstream out2, err2;
  EXPECT_EQ(RunVolink(args, out2, err2, {QuickUpdate({}).timings}), 0) << err2.str();
  EXPECT_EQ(err2.str(), "");
}

INSTANTIATE_TEST_SUITE_P(Update, EachClass, ::testing::ValuesIn(kClasses),
                         [](const auto& info) { return std::string(info.param.name); });

// The configuration changes (images smaller than the application area) or
// the boot loader is old: the adapter must be plugged in again, and an old
// boot loader of classes 1 and 2 is rewritten through the new firmware.
TEST(Update, ReplugAfterConfigurationOrOldLoader) {
  struct Case {
    ClassCase c;
    const char* extra;
    bool fitting;
    bool loaderRewritten;
  };
  const Case cases[] = {
      {kClasses[0], "", false, false},
      {kClasses[1], R"(, "loader_version": "0x10")", true, true},
      {kClasses[2], R"(, "loader_version": "0x10")", true, true},
      {kClasses[3], R"(, "loader_version": "0x10")", true, false},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.c.name);
    SimProcess sim(UpdateConfig(k.c, k.extra), 1);
    const fs::path images = WriteUpdateImages(sim.Dir(), k.fitting);
    Replug replug(sim);
    ScriptedUi ui;
    ui.onStatus = [&](const std::string& s) {
      if (s.rfind("Please remove any device", 0) == 0) replug.Start();
    };
    CUpdateEngine engine(QuickUpdate(images));
    EXPECT_EQ(engine.Run(ui), UpdateResult::Finished) << engine.LastError();
    EXPECT_TRUE(replug.m_started);
    EXPECT_EQ(ui.Showed("status: Write new bootloader ..."), k.loaderRewritten);
    EXPECT_EQ(ui.lastPercent, 100);
    EXPECT_EQ(ReportedFirmware(), "7973r");
  }
}

TEST(FirmwareCheck, OptionZeroMeansNoCheck) {
  SimProcess sim(UpdateConfig(kClasses[2]), 1);
  FirmwareCheckOptions options;
  options.update = QuickUpdate(WriteUpdateImages(sim.Dir(), true));
  options.readOption = [] { return 0; };
  ScriptedUi ui;
  CICE_M4 ice;
  ice.DiscoverAdapters(false);
  EXPECT_FALSE(RunFirmwareCheck(ice, ui, CheckMode::Normal, false, options));
  EXPECT_TRUE(ui.shown.empty());
  ice.CloseAllAdapters();
  EXPECT_EQ(ReportedFirmware(), "7000r");
}

TEST(FirmwareCheck, TwoAdaptersAreNotUpdated) {
  SimProcess sim(UpdateConfig(kClasses[2], "", 2), 2);
  FirmwareCheckOptions options;
  options.update = QuickUpdate(WriteUpdateImages(sim.Dir(), true));
  ScriptedUi ui;
  CICE_M4 ice;
  ice.DiscoverAdapters(false);
  EXPECT_FALSE(RunFirmwareCheck(ice, ui, CheckMode::Normal, false, options));
  ASSERT_FALSE(ui.shown.empty());
  EXPECT_EQ(ui.shown.back(), "tell: " + LOAD_STRING(IDS_ONLY_ONE_ICE));
  EXPECT_FALSE(ui.Showed("update"));
}

// An adapter updated without a question whose update keeps failing (here:
// no images) is not offered the failing update for ever.
TEST(FirmwareCheck, SilentUpdateFailingGivesUp) {
  SimProcess sim(UpdateConfig(kClasses[3]), 1);
  FirmwareCheckOptions options;
  options.update = QuickUpdate(fs::path(sim.Dir()) / "no-images");
  ScriptedUi ui;
  CICE_M4 ice;
  ice.DiscoverAdapters(false);
  EXPECT_TRUE(RunFirmwareCheck(ice, ui, CheckMode::Normal, false, options));
  EXPECT_EQ(ui.results, std::vector<UpdateResult>(kMaxSilentFailures, UpdateResult::Failed));
  EXPECT_TRUE(ui.Showed("box: Can not load LDROM file for update"));
}

// Unplugged while the application is written: the update fails, the check
// asks whether to wait for the detached adapter, and once it is back the
// update finishes.
TEST(FirmwareCheck, UnplugInStageTwoThenBack) {
  SimProcess sim(UpdateConfig(kClasses[0]), 1);
  FirmwareCheckOptions options;
  options.update = QuickUpdate(WriteUpdateImages(sim.Dir(), true));
  ScriptedUi ui;
  bool unplugged = false;
  ui.onProgress = [&](ProgressKind kind, int percent) {
    if (kind == ProgressKind::Update && percent >= 50 && !unplugged) {
      unplugged = true;
      sim.Ctl("unplug a");
    }
  };
  int detachedQuestions = 0;
  ui.onAsk = [&](const std::string& text) {
    if (text == LOAD_STRING(IDS_DEVICE_TEMPORARILY_DETACHED) && ++detachedQuestions == 1) {
      EXPECT_EQ(ReportedFirmware(), "");  // still away while asked
      sim.Ctl("plug a");
      sim.WaitForInterfaces(1);
    }
    return true;
  };
  CICE_M4 ice;
  ice.DiscoverAdapters(false);
  EXPECT_TRUE(RunFirmwareCheck(ice, ui, CheckMode::Normal, false, options));
  EXPECT_EQ(detachedQuestions, 1);
  ASSERT_EQ(ui.results.size(), 2u);
  EXPECT_EQ(ui.results[0], UpdateResult::Failed);
  EXPECT_EQ(ui.results[1], UpdateResult::Finished);
  ice.CloseAllAdapters();
  EXPECT_EQ(ReportedFirmware(), "7973r");
}

// Answering No and then Yes to the abort question ends the check.
TEST(FirmwareCheck, DetachedAndAborted) {
  SimProcess sim(UpdateConfig(kClasses[0]), 1);
  FirmwareCheckOptions options;
  options.update = QuickUpdate(WriteUpdateImages(sim.Dir(), true));
  ScriptedUi ui;
  ui.onStatus = [&](const std::string& s) {
    if (s == LOAD_STRING(IDS_ERASE_OLD_FIRMWARE)) sim.Ctl("unplug a");
  };
  ui.onAsk = [&](const std::string& text) { return text != LOAD_STRING(IDS_DEVICE_TEMPORARILY_DETACHED); };
  CICE_M4 ice;
  ice.DiscoverAdapters(false);
  EXPECT_TRUE(RunFirmwareCheck(ice, ui, CheckMode::Normal, false, options));
  ASSERT_EQ(ui.results.size(), 1u);
  EXPECT_EQ(ui.shown.back(), "ask: " + LOAD_STRING(IDS_CONFIRM_ABORT_UPDATE));
}

// A process killed while it writes the application leaves the adapter in
// its boot loader, even across a power cycle; the next `volink update`
// finds it there and finishes.
TEST(FirmwareCheck, KilledMidUpdateThenVolinkUpdate) {
  SimProcess sim(UpdateConfig(kClasses[2]), 1);
  const fs::path images = WriteUpdateImages(sim.Dir(), true);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ScriptedUi ui;
    ui.onProgress = [](ProgressKind kind, int percent) {
      if (kind == ProgressKind::Update && percent >= 50) ::raise(SIGKILL);
    };
    CUpdateEngine engine(QuickUpdate(images));
    engine.Run(ui);
    ::_exit(0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
  sim.Ctl("unplug a");
  sim.Ctl("plug a");
  ASSERT_TRUE(sim.WaitForInterfaces(1));
  EXPECT_EQ(ReportedFirmware(), "");  // no application: the boot loader stays

  const auto [exit, output] = RunProgram(std::string(VOLINK_EXE) + " update --yes --images " + images.string() + " 2>&1");
  EXPECT_EQ(exit, 0) << output;
  EXPECT_NE(output.find(LOAD_STRING(IDS_UPDATE_LDROM_DETECTED_STRING)), std::string::npos) << output;
  EXPECT_NE(output.find("Update 100%"), std::string::npos) << output;
  EXPECT_NE(output.find("adapter firmware 7973r is current"), std::string::npos) << output;
  EXPECT_EQ(ReportedFirmware(), "7973r");
}

// Stage 1 rewrites a boot loader that differs from the images with access
// switched on, and switches it off again. Classes 0 to 2: the boot loader
// then finds the configuration it wants and the new firmware starts without
// a replug. Class 3: the boot loader's wanted configuration (word 0 =
// 0xFFFFFF7F) is access on by that class's rule, so stage 2 writes it back.
TEST(Update, BootLoaderAccessClosedAfterStageOne) {
  for (const ClassCase& c : kClasses) {
    SCOPED_TRACE(c.name);
    SimProcess sim(UpdateConfig(c, R"(, "loader_current": false)"), 1);
    Replug replug(sim);
    ScriptedUi ui;
    ui.onStatus = [&](const std::string& s) {
      if (s.rfind("Please remove any device", 0) == 0) replug.Start();
    };
    CUpdateEngine engine(QuickUpdate(WriteUpdateImages(sim.Dir(), true)));
    ASSERT_EQ(engine.Run(ui), UpdateResult::Finished) << engine.LastError();
    EXPECT_TRUE(ui.Showed("status: " + LOAD_STRING(IDS_WAIT_BOOTLOADER)));
    CICE_M4 ice;
    ice.DiscoverAdapters(false);
    ASSERT_TRUE(ice.CheckUSBLink());
    ice.ResetCmdSerial(0xFFFFFFFF);
    const ConfigWordSet words = ReadConfigWords(ice, c.mcuClass);
    if (c.mcuClass == McuClass::Third) {
      EXPECT_TRUE(ui.Showed("status: " + LOAD_STRING(IDS_UPDATE_FM_CONFIG)));
      EXPECT_EQ(words[0], 0xFFFFFF7Fu);
    } else {
      EXPECT_FALSE(replug.m_started);
      EXPECT_EQ(words[0], 0xFFFFFF7Cu);  // bit 7 clear: closed
    }
  }
}

namespace {


size_t Count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

std::string LastLine(const std::string& text) {
  const size_t end = text.find_last_not_of('\n');
  if (end == std::string::npos) return "";
  const size_t start = text.rfind('\n', end);
  return text.substr(start == std::string::npos ? 0 : start + 1, end - (start == std::string::npos ? 0 : start + 1) + 1);
}

}  // namespace

// An application image below version 3645 is refused before anything is
// written, and the refusal, not "update declined", is the last word.
TEST(Update, ImageBelowTheOldestUpdatableVersionIsRefusedBeforeWriting) {
  SimProcess sim(UpdateConfig(kClasses[2]), 1);
  const fs::path images = WriteUpdateImages(sim.Dir(), true);
  const fs::path low = fs::path(sim.Dir()) / "low.bin";
  std::vector<uint8_t> app = sim::images::MakeAppImage(2, 3644, "r");
  app.resize(0x10000, 0xFF);
  WriteFile(low, app);
  const auto [status, output] = VolinkUpdateProgram("--yes --images " + images.string() + " --image " + low.string());
  EXPECT_EQ(status, 1) << output;
  EXPECT_EQ(output.find(LOAD_STRING(IDS_ERASE_OLD_FIRMWARE)), std::string::npos) << output;
  EXPECT_EQ(LastLine(output), "volink: adapter firmware 7000r, not 7973r: " + LOAD_STRING(IDS_CAN_NOT_LOAD_APROM_FOR_UPDATE))
      << output;
  EXPECT_EQ(ReportedFirmware(), "7000r");
}

// A valid image of another version is announced, written once, and the
// adapter looked at once more: no update loop.
TEST(Update, ImageOfAnotherVersionIsWrittenOnce) {
  SimProcess sim(UpdateConfig(kClasses[2]), 1);
  const fs::path images = WriteUpdateImages(sim.Dir(), true);
  const fs::path other = fs::path(sim.Dir()) / "other.bin";
  std::vector<uint8_t> app = sim::images::MakeAppImage(2, 7500, "q");
  app.resize(0x10000, 0xFF);
  WriteFile(other, app);
  const auto [status, output] = VolinkUpdateProgram("--yes --images " + images.string() + " --image " + other.string());
  EXPECT_EQ(status, 0) << output;
  EXPECT_EQ(Count(output, "updating the adapter firmware"), 1u) << output;
  EXPECT_NE(output.find("The firmware image carries version 7500, not this program's 7973r."), std::string::npos)
      << output;
  EXPECT_EQ(LastLine(output), "adapter firmware 7500q, the version of the image") << output;
  EXPECT_EQ(ReportedFirmware(), "7500q");
}
