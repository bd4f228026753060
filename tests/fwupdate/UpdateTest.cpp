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
#include "fwupdate/FirmwareCheck.h"
#include "fwupdate/LDUsbHid.h"
#include "fwupdate/VolinkUpdate.h"
#include "ice/CICE_M4.h"
#include "ice/SimFixture.h"
#include "platform/StringTable.h"
#include "sim/Images.h"

namespace fs = std::filesystem;
using namespace fwupdate;
using namespace std::chrono_literals;

namespace {

struct ClassCase {
  const char* name;
  int generation;
  const char* chipId;
  int mcuClass;
};

const ClassCase kClasses[] = {
    {"Class0", 0, "0x00012345", 0},
    {"Class1", 0, "0x40012009", 1},
    {"Class2", 1, "0x00D4851F", 2},
    {"Class3", 2, "0xA2000340", 3},
};

std::string Config(const ClassCase& c, const std::string& extra = "", int count = 1) {
  std::string adapters;
  for (int i = 0; i < count; ++i) {
    if (i) adapters += ", ";
    adapters += R"({"name": ")" + std::string(i ? "b" : "a") + R"(", "generation": )" +
                std::to_string(c.generation) + R"(, "chip_id": ")" + c.chipId +
                R"(", "firmware_version": 7000, "adapter_id": "0x7788BE0)" + std::to_string(i) +
                R"(", "location": "1-4.)" + std::to_string(i + 1) + R"(", "target": {"kind": "none"})" + extra + "}";
  }
  return R"({"adapters": [)" + adapters + "]}";
}

// The images of `make-images`; with `fitting`, application images that fill
// the emulator's application area exactly, so that its configuration
// already suits them.
fs::path Images(const SimProcess& sim, bool fitting) {
  const fs::path dir = fs::path(sim.Dir()) / "Vo_Link";
  sim::images::WriteImageSet(dir);
  if (fitting) {
    for (int c : {0, 2, 3}) {
      std::vector<uint8_t> app = sim::images::MakeAppImage(c, 7973, "r");
      app.resize(0x10000, 0xFF);
      std::ofstream(dir / sim::images::FilesOf(c).app, std::ios::binary)
          .write(reinterpret_cast<const char*>(app.data()), static_cast<std::streamsize>(app.size()));
    }
  }
  return dir;
}

UpdateOptions Quick(const fs::path& images) {
  UpdateOptions o;
  o.images.folder = images;
  o.timings.deviceWait = 10s;
  o.timings.poll = 20ms;
  o.timings.settle = 100ms;
  o.timings.retry = 50ms;
  return o;
}

// What the adapter reports now: "7973r", or "" when no adapter answers.
std::string Firmware() {
  CICE_M4 ice;
  ice.DiscoverAdapters(false);
  if (!ice.CheckUSBLink()) return "";
  uint16_t four[4] = {};
  const uint32_t v = ice.ResetCmdSerial(0xFFFFFFFF, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, four);
  return std::to_string(v) + RevisionSuffix(four);
}

// Plugs the adapter out and in again from another thread, as a user does
// when asked to.
struct Replug {
  explicit Replug(SimProcess& sim) : m_sim(sim) {}
  ~Replug() {
    if (m_thread.joinable()) m_thread.join();
  }
  void Start() {
    if (m_started.exchange(true)) return;
    m_thread = std::thread([this] {
      m_sim.Ctl("unplug a");
      std::this_thread::sleep_for(300ms);
      m_sim.Ctl("plug a");
    });
  }
  SimProcess& m_sim;
  std::atomic<bool> m_started{false};
  std::thread m_thread;
};

class EachClass : public ::testing::TestWithParam<ClassCase> {};

}  // namespace

// The boot-loader commands as the emulator's boot loader answers them.
TEST_P(EachClass, LoaderCommands) {
  const ClassCase& c = GetParam();
  SimProcess sim(Config(c), 1);
  ASSERT_NE(sim.Ctl("loader a").find("ok"), std::string::npos);
  ASSERT_TRUE(sim.WaitForInterfaces(1));
  LDUsbHid ld;
  ASSERT_TRUE(ld.Connect());
  ld.Sync();
  EXPECT_EQ(ld.ReadChipId(), std::stoul(c.chipId, nullptr, 16));
  EXPECT_EQ(ld.ReadVersion(), 0x30);
  const LDUsbHid::ConfigWords config = ld.ReadConfig();
  EXPECT_EQ(config[0], c.mcuClass == 3 ? 0xFFFFFF7Fu : 0xFFFFFF7Cu);
  EXPECT_EQ(config[1], 0x10000u);
  // Data flash where word 1 says when word 0 bit 0 is clear; the third
  // family's default has it set: its fixed 8 KiB at the end of flash.
  EXPECT_EQ(LoaderApromSize(std::stoul(c.chipId, nullptr, 16), true, ld.ReadFlashInfo(), config[0], config[1]),
            c.mcuClass == 3 ? 512u * 1024 - 8192 : 0x10000u);
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
  SimProcess sim(Config(c), 1);
  FirmwareCheckOptions options;
  options.update = Quick(Images(sim, true));
  ScriptedUi ui;
  CICE_M4 ice;
  ice.DiscoverAdapters(false);
  EXPECT_TRUE(RunFirmwareCheck(ice, ui, kCheckNormal, false, options));
  ASSERT_EQ(ui.results.size(), 1u);
  EXPECT_EQ(ui.results[0], UpdateResult::Finished);
  EXPECT_EQ(ui.lastPercent, 100);
  EXPECT_TRUE(ui.Showed("status: Write new firmware ..."));
  EXPECT_TRUE(ui.Showed("box: Update firmware, OK!"));
  ice.CloseAllAdapters();  // a bulk interface takes one holder
  EXPECT_EQ(Firmware(), "7973r");

  ScriptedUi again;
  ice.DiscoverAdapters(false);
  EXPECT_FALSE(RunFirmwareCheck(ice, again, kCheckNormal, false, options));
  EXPECT_TRUE(again.shown.empty());
}

// The same on the command line, with the progress on standard error.
TEST_P(EachClass, VolinkUpdate) {
  const ClassCase& c = GetParam();
  SimProcess sim(Config(c), 1);
  const std::vector<std::string> args = {"--yes", "--images", Images(sim, true).string()};
  std::ostringstream out, err;
  EXPECT_EQ(RunVolinkUpdate(args, out, err, Quick({}).timings), 0) << err.str();
  EXPECT_EQ(out.str(), "adapter firmware 7973r is current\n");
  // Third-generation adapters up to 7918 are updated without a question.
  EXPECT_EQ(err.str().find("[y/N] yes (--yes)") != std::string::npos, c.mcuClass != 3) << err.str();
  EXPECT_NE(err.str().find("Write new firmware ..."), std::string::npos) << err.str();
  EXPECT_NE(err.str().find("Update 100%"), std::string::npos) << err.str();

  std::ostringstream out2, err2;
  EXPECT_EQ(RunVolinkUpdate(args, out2, err2, Quick({}).timings), 0) << err2.str();
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
    SimProcess sim(Config(k.c, k.extra), 1);
    const fs::path images = Images(sim, k.fitting);
    Replug replug(sim);
    ScriptedUi ui;
    ui.onStatus = [&](const std::string& s) {
      if (s.rfind("Please remove any device", 0) == 0) replug.Start();
    };
    CUpdateEngine engine(Quick(images));
    EXPECT_EQ(engine.Run(ui), UpdateResult::Finished) << engine.LastError();
    EXPECT_TRUE(replug.m_started);
    EXPECT_EQ(ui.Showed("status: Write new bootloader ..."), k.loaderRewritten);
    EXPECT_EQ(ui.lastPercent, 100);
    EXPECT_EQ(Firmware(), "7973r");
  }
}

TEST(FirmwareCheck, OptionZeroMeansNoCheck) {
  SimProcess sim(Config(kClasses[2]), 1);
  FirmwareCheckOptions options;
  options.update = Quick(Images(sim, true));
  options.readOption = [] { return 0; };
  ScriptedUi ui;
  CICE_M4 ice;
  ice.DiscoverAdapters(false);
  EXPECT_FALSE(RunFirmwareCheck(ice, ui, kCheckNormal, false, options));
  EXPECT_TRUE(ui.shown.empty());
  ice.CloseAllAdapters();
  EXPECT_EQ(Firmware(), "7000r");
}

TEST(FirmwareCheck, TwoAdaptersAreNotUpdated) {
  SimProcess sim(Config(kClasses[2], "", 2), 2);
  FirmwareCheckOptions options;
  options.update = Quick(Images(sim, true));
  ScriptedUi ui;
  CICE_M4 ice;
  ice.DiscoverAdapters(false);
  EXPECT_FALSE(RunFirmwareCheck(ice, ui, kCheckNormal, false, options));
  ASSERT_FALSE(ui.shown.empty());
  EXPECT_EQ(ui.shown.back(), "tell: " + LOAD_STRING(IDS_ONLY_ONE_ICE));
  EXPECT_FALSE(ui.Showed("update"));
}

// An adapter updated without a question whose update keeps failing (here:
// no images) is not offered the failing update for ever.
TEST(FirmwareCheck, SilentUpdateFailingGivesUp) {
  SimProcess sim(Config(kClasses[3]), 1);
  FirmwareCheckOptions options;
  options.update = Quick(fs::path(sim.Dir()) / "no-images");
  ScriptedUi ui;
  CICE_M4 ice;
  ice.DiscoverAdapters(false);
  EXPECT_TRUE(RunFirmwareCheck(ice, ui, kCheckNormal, false, options));
  EXPECT_EQ(ui.results, std::vector<UpdateResult>(kMaxSilentFailures, UpdateResult::Failed));
  EXPECT_TRUE(ui.Showed("box: Can not load LDROM file for update"));
}

// Unplugged while the application is written: the update fails, the check
// asks whether to wait for the detached adapter, and once it is back the
// update finishes.
TEST(FirmwareCheck, UnplugInStageTwoThenBack) {
  SimProcess sim(Config(kClasses[0]), 1);
  FirmwareCheckOptions options;
  options.update = Quick(Images(sim, true));
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
      EXPECT_EQ(Firmware(), "");  // still away while asked
      sim.Ctl("plug a");
      sim.WaitForInterfaces(1);
    }
    return true;
  };
  CICE_M4 ice;
  ice.DiscoverAdapters(false);
  EXPECT_TRUE(RunFirmwareCheck(ice, ui, kCheckNormal, false, options));
  EXPECT_EQ(detachedQuestions, 1);
  ASSERT_EQ(ui.results.size(), 2u);
  EXPECT_EQ(ui.results[0], UpdateResult::Failed);
  EXPECT_EQ(ui.results[1], UpdateResult::Finished);
  ice.CloseAllAdapters();
  EXPECT_EQ(Firmware(), "7973r");
}

// Answering No and then Yes to the abort question ends the check.
TEST(FirmwareCheck, DetachedAndAborted) {
  SimProcess sim(Config(kClasses[0]), 1);
  FirmwareCheckOptions options;
  options.update = Quick(Images(sim, true));
  ScriptedUi ui;
  ui.onStatus = [&](const std::string& s) {
    if (s == LOAD_STRING(IDS_ERASE_OLD_FIRMWARE)) sim.Ctl("unplug a");
  };
  ui.onAsk = [&](const std::string& text) { return text != LOAD_STRING(IDS_DEVICE_TEMPORARILY_DETACHED); };
  CICE_M4 ice;
  ice.DiscoverAdapters(false);
  EXPECT_TRUE(RunFirmwareCheck(ice, ui, kCheckNormal, false, options));
  ASSERT_EQ(ui.results.size(), 1u);
  EXPECT_EQ(ui.shown.back(), "ask: " + LOAD_STRING(IDS_CONFIRM_ABORT_UPDATE));
}

// A process killed while it writes the application leaves the adapter in
// its boot loader, even across a power cycle; the next `volink update`
// finds it there and finishes.
TEST(FirmwareCheck, KilledMidUpdateThenVolinkUpdate) {
  SimProcess sim(Config(kClasses[2]), 1);
  const fs::path images = Images(sim, true);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ScriptedUi ui;
    ui.onProgress = [](ProgressKind kind, int percent) {
      if (kind == ProgressKind::Update && percent >= 50) ::raise(SIGKILL);
    };
    CUpdateEngine engine(Quick(images));
    engine.Run(ui);
    ::_exit(0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
  sim.Ctl("unplug a");
  sim.Ctl("plug a");
  ASSERT_TRUE(sim.WaitForInterfaces(1));
  EXPECT_EQ(Firmware(), "");  // no application: the boot loader stays

  const std::string command = std::string(VOLINK_EXE) + " update --yes --images " + images.string() + " 2>&1";
  FILE* pipe = ::popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::string output;
  char buffer[4096];
  for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) output.append(buffer, n);
  const int exit = ::pclose(pipe);
  EXPECT_TRUE(WIFEXITED(exit) && WEXITSTATUS(exit) == 0) << output;
  EXPECT_NE(output.find(LOAD_STRING(IDS_UPDATE_LDROM_DETECTED_STRING)), std::string::npos) << output;
  EXPECT_NE(output.find("Update 100%"), std::string::npos) << output;
  EXPECT_NE(output.find("adapter firmware 7973r is current"), std::string::npos) << output;
  EXPECT_EQ(Firmware(), "7973r");
}
