// Updates that meet each other or get cut short: a second update while the
// first has the adapter in its boot loader, and a process killed anywhere in
// a rewrite of the boot loader, which the next `volink update` finishes.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

#include "ScriptedUi.h"
#include "UpdateRig.h"
#include "fwupdate/FirmwareCheck.h"
#include "fwupdate/LoaderRewrite.h"
#include "fwupdate/UpdateLock.h"
#include "ice/CICE_M4.h"
#include "volink/Volink.h"
#include "platform/StringTable.h"

using namespace updaterig;

// The first update, with the adapter in its boot loader writing the
// application, meets a second `volink update`: the second says an update is
// running and writes nothing; the first finishes.
TEST(UpdateLock, SecondUpdateWhileTheFirstIsInTheBootLoader) {
  SimProcess sim(UpdateConfig(kClasses[2]), 1);
  const fs::path images = WriteUpdateImages(sim.Dir(), true);
  FirmwareCheckOptions options;
  options.update = QuickUpdate(images);
  ScriptedUi ui;
  ProgramRun second;
  ui.onStatus = [&](const std::string& s) {
    if (s == LOAD_STRING(IDS_ERASE_OLD_FIRMWARE)) second = VolinkUpdateProgram("--yes --images " + images.string());
  };
  CICE_M4 ice;
  ice.DiscoverAdapters(false);
  EXPECT_TRUE(RunFirmwareCheck(ice, ui, CheckMode::Normal, false, options));
  ASSERT_EQ(ui.results, std::vector<UpdateResult>{UpdateResult::Finished});
  EXPECT_EQ(second.status, 1) << second.output;
  EXPECT_NE(second.output.find(kUpdateRunning), std::string::npos) << second.output;
  EXPECT_EQ(second.output.find(LOAD_STRING(IDS_ERASE_OLD_FIRMWARE)), std::string::npos) << second.output;
  ice.CloseAllAdapters();
  EXPECT_EQ(ReportedFirmware(), "7973r");
}

namespace {

// Runs the update in a child process that kills itself (SIGKILL) at the
// first progress of at least `percent` once the boot-loader rewrite of
// stage 1 (`stageOne`) or of stage 2 began; then a plain `volink update
// --yes` must leave the adapter at the program's firmware with a boot
// loader that matches the images.
void KillThenUpdate(const ClassCase& c, bool stageOne, int percent) {
  SCOPED_TRACE(::testing::Message() << c.name << (stageOne ? ", stage 1 at " : ", stage 2 at ") << percent << "%");
  // Stage 1 rewrites a boot loader that differs from the images; stage 2
  // one that is old (version byte below 0x30).
  SimProcess sim(UpdateConfig(c, stageOne ? R"(, "loader_current": false)" : R"(, "loader_version": "0x10")"), 1);
  const fs::path images = WriteUpdateImages(sim.Dir(), true);
  const std::string rewriteStatus =
      stageOne ? LOAD_STRING(IDS_WAIT_BOOTLOADER) : LOAD_STRING(IDS_WRITE_NEW_BOOTLOADER);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    Replug replug(sim);
    ScriptedUi ui;
    bool rewriting = false;
    ui.onStatus = [&](const std::string& s) {
      if (s.rfind("Please remove any device", 0) == 0) replug.Start();
      if (s == rewriteStatus) rewriting = true;
    };
    ui.onProgress = [&](ProgressKind kind, int p) {
      if (rewriting && kind == ProgressKind::Update && p >= percent) ::raise(SIGKILL);
    };
    FirmwareCheckOptions options;
    options.update = QuickUpdate(images);
    CICE_M4 ice;
    ice.DiscoverAdapters(false);
    RunFirmwareCheck(ice, ui, CheckMode::Normal, false, options);
    ::_exit(0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "the rewrite never reached " << percent << "%";

  std::ostringstream out, err;
  EXPECT_EQ(RunVolink({"update", "--yes", "--images", images.string()}, out, err, {QuickUpdate({}).timings}), 0) << err.str();
  EXPECT_EQ(out.str(), "adapter firmware 7973r is current\n") << err.str();
  std::ostringstream checkOut, checkErr;
  EXPECT_EQ(RunVolink({"bootloader", "check", images.string()}, checkOut, checkErr), 0)
      << checkOut.str() << checkErr.str();
  EXPECT_NE(checkOut.str().find("adapter id 0x7788be00\nboot loader matches the images\n"), std::string::npos)
      << checkOut.str();
}

// Ten points, five over each rewrite, taking turns between classes 1 and 2:
// in the erase (first half of each span) and in the write (second half).
struct KillPoint {
  int mcuClass;
  int percent;
};
constexpr KillPoint kStageOnePoints[] = {{1, 1}, {2, 6}, {1, 11}, {2, 15}, {1, 19}};
constexpr KillPoint kStageTwoPoints[] = {{2, 81}, {1, 86}, {2, 91}, {1, 95}, {2, 99}};

}  // namespace

TEST(InterruptedRewrite, KilledAnywhereInStageOneHealsOnTheNextUpdate) {
  for (const KillPoint& k : kStageOnePoints) KillThenUpdate(kClasses[k.mcuClass], true, k.percent);
}

TEST(InterruptedRewrite, KilledAnywhereInStageTwoHealsOnTheNextUpdate) {
  for (const KillPoint& k : kStageTwoPoints) KillThenUpdate(kClasses[k.mcuClass], false, k.percent);
}

// `volink bootloader write` killed from outside while it writes (its record
// is on disk): the next `volink update` finishes the rewrite first.
TEST(InterruptedRewrite, BootLoaderWriteKilledHalfWayHealsOnTheNextUpdate) {
  SimProcess sim(UpdateConfig(kClasses[2]), 1);
  const fs::path images = WriteUpdateImages(sim.Dir(), true);
  ASSERT_EQ(sim.Ctl("flash-time a 1000").rfind("ok", 0), 0u);  // 1 ms a flash operation
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    const int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, 1);
    ::dup2(null, 2);
    ::execl(VOLINK_EXE, VOLINK_EXE, "bootloader", "write", images.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  const fs::path record = RewriteRecordFolder() / "bootloader-7788be00";
  const auto until = std::chrono::steady_clock::now() + 30s;
  while (!fs::exists(record) && std::chrono::steady_clock::now() < until) std::this_thread::sleep_for(5ms);
  std::this_thread::sleep_for(300ms);  // into the erase and write
  ::kill(child, SIGKILL);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFSIGNALED(status)) << "bootloader write ended before it was killed";
  ASSERT_TRUE(fs::exists(record));
  ASSERT_EQ(sim.Ctl("flash-time a 20").rfind("ok", 0), 0u);

  std::ostringstream out, err;
  EXPECT_EQ(RunVolink({"update", "--yes", "--images", images.string()}, out, err, {QuickUpdate({}).timings}), 0) << err.str();
  EXPECT_FALSE(fs::exists(record));
  std::ostringstream checkOut, checkErr;
  EXPECT_EQ(RunVolink({"bootloader", "check", images.string()}, checkOut, checkErr), 0)
      << checkOut.str() << checkErr.str();
  EXPECT_NE(checkOut.str().find("adapter id 0x7788be00\n"), std::string::npos) << checkOut.str();
}

// Records are found by ID, or by the device while the ID word reads erased;
// anything else in the folder (garbage, a file too large, a FIFO) is no
// record, and nothing waits on it.
TEST(RewriteRecord, FoundByIdOrByDeviceAndNothingElse) {
  std::string dir = (fs::temp_directory_path() / "records-XXXXXX").string();
  ASSERT_NE(::mkdtemp(dir.data()), nullptr);
  const char* old = std::getenv("XDG_STATE_HOME");
  const std::string oldValue = old ? old : "";
  ::setenv("XDG_STATE_HOME", dir.c_str(), 1);

  PendingRewrite r;
  r.adapterId = 0x7788BE00;
  r.mcuClass = McuClass::Second;
  r.runState = 1;
  r.serial = "S1";
  r.location = "1-4.1";
  for (unsigned i = 0; i < kConfigWords; ++i) r.config[i] = 0xFFFFFF00u + i;
  StorePendingRewrite(r);
  const std::optional<PendingRewrite> f = FindPendingRewrite(0x7788BE00, "", "");
  ASSERT_TRUE(f);
  EXPECT_EQ(f->mcuClass, McuClass::Second);
  EXPECT_EQ(f->runState, 1u);
  EXPECT_EQ(f->serial, "S1");
  EXPECT_EQ(f->location, "1-4.1");
  EXPECT_EQ(f->config, r.config);
  EXPECT_TRUE(FindPendingRewrite(0xFFFFFFFF, "S1", ""));
  EXPECT_TRUE(FindPendingRewrite(0, "", "1-4.1"));
  EXPECT_FALSE(FindPendingRewrite(0xFFFFFFFF, "S2", "1-9"));
  EXPECT_FALSE(FindPendingRewrite(0x7788BE01, "S1", "1-4.1"));  // a readable ID names its own record only

  const fs::path folder = RewriteRecordFolder();
  std::ofstream(folder / "bootloader-7788be02") << "garbage\n";
  fs::copy_file(folder / "bootloader-7788be00", folder / "bootloader-7788be03");
  std::ofstream(folder / "bootloader-7788be03", std::ios::app) << std::string(5000, '#');
  ASSERT_EQ(::mkfifo((folder / "bootloader-7788be04").c_str(), 0600), 0);
  for (uint32_t id : {0x7788BE02u, 0x7788BE03u, 0x7788BE04u}) EXPECT_FALSE(FindPendingRewrite(id, "", "")) << id;
  EXPECT_TRUE(FindPendingRewrite(0xFFFFFFFF, "", "1-4.1"));  // the scan passes the others by
  RemovePendingRewrite(0x7788BE00);
  EXPECT_FALSE(FindPendingRewrite(0x7788BE00, "", ""));

  if (old) ::setenv("XDG_STATE_HOME", oldValue.c_str(), 1);
  else ::unsetenv("XDG_STATE_HOME");
  std::error_code ec;
  fs::remove_all(dir, ec);
}
