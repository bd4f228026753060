// The volink-sim executable: demo serving until stopped, ctl, make-images.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <thread>

#include "SimClient.h"
#include "sim/Images.h"

extern char** environ;

namespace simtest {
namespace {

int RunTool(const std::vector<std::string>& args, pid_t* background = nullptr) {
  std::vector<char*> argv;
  std::string exe = VOLINK_SIM_EXE;
  argv.push_back(exe.data());
  std::vector<std::string> copy = args;
  for (auto& a : copy) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
  const int rc = posix_spawn(&pid, exe.c_str(), &fa, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&fa);
  if (rc != 0) return -1;
  if (background) {
    *background = pid;
    return 0;
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Exit status of a background process, or -1 when it still runs after 10 s
// (it is then killed).
int WaitExit(pid_t pid) {
  int status = 0;
  for (int i = 0; i < 1000; ++i) {
    if (::waitpid(pid, &status, WNOHANG) == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ::kill(pid, SIGKILL);
  ::waitpid(pid, &status, 0);
  return -1;
}

class Cli : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/volink-sim-cli-XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    m_dir = tmpl;
    ::setenv("VOLINK_SIM_DIR", m_dir.c_str(), 1);
  }
  void TearDown() override {
    ::unsetenv("VOLINK_SIM_DIR");
    std::filesystem::remove_all(m_dir);
  }
  // Starts the demo in the background and waits until it serves.
  pid_t Serve() {
    pid_t pid = 0;
    EXPECT_EQ(RunTool({}, &pid), 0);
    for (int i = 0; i < 1000 && RunTool({"ctl", "list"}) != 0; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_TRUE(std::filesystem::exists(m_dir / "demo-hid-if3.json"));
    return pid;
  }
  std::filesystem::path m_dir;
};

TEST_F(Cli, ServesTheDemoUntilStoppedAndAnswersCtl) {
  pid_t pid = 0;
  ASSERT_EQ(RunTool({}, &pid), 0);
  const auto json = m_dir / "demo-hid-if3.json";
  for (int i = 0; i < 200 && !std::filesystem::exists(json); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  ASSERT_TRUE(std::filesystem::exists(json));
  EXPECT_EQ(RunTool({"ctl", "status", "demo"}), 0);
  EXPECT_EQ(RunTool({"ctl", "status", "nobody"}), 1);
  Conn c(m_dir / "demo-hid-if3.sock", 1, 64);
  EXPECT_EQ(WordAt(c.Exchange(Bytes(61, 0xFF)).payload, 0), 7973u);
  EXPECT_EQ(sim::LastLine(sim::SendControl(m_dir / sim::kControlSocketName, "violations")), "ok violations 0");
  ::kill(pid, SIGTERM);
  int status = 0;
  ::waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_FALSE(std::filesystem::exists(json));
  EXPECT_FALSE(std::filesystem::exists(m_dir / "demo-hid-if3.sock"));
}

TEST_F(Cli, SecondEmulatorOnTheFolderExitsAndAKilledOneDoesNotBlock) {
  const pid_t first = Serve();
  pid_t second = 0;
  ASSERT_EQ(RunTool({}, &second), 0);
  EXPECT_EQ(WaitExit(second), 1);
  // The first still serves and owns its files.
  EXPECT_EQ(RunTool({"ctl", "status", "demo"}), 0);
  Conn c(m_dir / "demo-hid-if3.sock", 1, 64);
  EXPECT_EQ(WordAt(c.Exchange(Bytes(61, 0xFF)).payload, 0), 7973u);
  EXPECT_EQ(sim::LastLine(sim::SendControl(m_dir / sim::kControlSocketName, "violations")), "ok violations 0");

  // An emulator that dies leaves its files and lock file behind; the next
  // one serves all the same.
  ::kill(first, SIGKILL);
  ::waitpid(first, nullptr, 0);
  const pid_t next = Serve();
  EXPECT_EQ(RunTool({"ctl", "status", "demo"}), 0);
  ::kill(next, SIGTERM);
  EXPECT_EQ(WaitExit(next), 0);
  EXPECT_TRUE(std::filesystem::is_empty(m_dir));
}

TEST_F(Cli, MakeImagesWritesEveryClass) {
  ASSERT_EQ(RunTool({"make-images", (m_dir / "Vo_Link").string()}), 0);
  for (const char* name : {"ICE_ISP.bin", "ICE_ISP_8K.bin", "VoLink1FW.bin", "VoLink2ISP_LD.bin", "VoLink2ISP_SP.bin",
                           "VoLink2FW.bin", "VoLink3ISP_LD0.bin", "VoLink3ISP_LD1.bin", "VoLink3FW.bin"})
    EXPECT_TRUE(std::filesystem::exists(m_dir / "Vo_Link" / name)) << name;
  std::ifstream f(m_dir / "Vo_Link" / "VoLink1FW.bin", std::ios::binary);
  std::vector<uint8_t> app((std::istreambuf_iterator<char>(f)), {});
  EXPECT_EQ(sim::images::WordAt(app, 48), 0xDA1DEC48u);
  EXPECT_EQ(sim::images::WordAt(app, 49), 7973u);
}

}  // namespace
}  // namespace simtest
