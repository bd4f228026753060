// The emulator's QEMU target (lm3s6965evb board running firmware/blink.c)
// through the adapter command layer: run control against the ELF's
// symbols, breakpoints and watchpoints set through the host's comparator
// writes, software breakpoints, semihosting and the GPIO pattern. Skipped
// when qemu-system-arm is not installed or the firmware was not built.
#include <gtest/gtest.h>

#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <filesystem>
#include <sstream>
#include <thread>

#include "../ice/SimFixture.h"
#include "ice/CICE_M0.h"
#include "ice/CICE_M4.h"
#include "sim/ElfImage.h"
#include "sim/ChildProcess.h"

using namespace ice;

namespace {

const std::string kElf = std::string(FIRMWARE_DIR) + "/lm3s6965evb.elf";
constexpr uint32_t kPortB = 0x400053FC, kPortD = 0x400073FC;

std::string QemuConfig(const std::string& machine, const std::string& program = "qemu-system-arm") {
  return R"({ "adapters": [ { "name": "a", "generation": 1, "pid": "0x5200",
    "interfaces": [ { "kind": "bulk", "interface": 0, "size": 512 } ],
    "target": { "kind": "qemu", "machine": ")" + machine + R"(", "firmware": ")" +
         std::string(FIRMWARE_DIR) + "/" + machine + R"(.elf", "program": ")" + program + R"(" } } ] })";
}

class QemuTarget : public ::testing::Test {
 protected:
  void SetUp() override { Start("qemu-system-arm"); }
  void Start(const std::string& program) {
    if (!sim::ProgramAvailable("qemu-system-arm")) GTEST_SKIP() << "qemu-system-arm is not installed";
    if (!std::filesystem::exists(kElf)) GTEST_SKIP() << "the firmware was not built (arm-none-eabi-gcc missing)";
    std::string error;
    auto elf = sim::ReadElf(kElf, error);
    ASSERT_TRUE(elf) << error;
    m_elf = std::move(*elf);
    m_sim = std::make_unique<SimProcess>(QemuConfig("lm3s6965evb", program), 1);
  }

  uint32_t Sym(const std::string& name) {
    const auto s = m_elf.Symbol(name);
    EXPECT_TRUE(s) << name;
    return s.value_or(0);
  }
  // The first symbol above `address` (where the function at `address` ends at the latest).
  uint32_t NextSymbol(uint32_t address) {
    uint32_t next = 0xFFFFFFFF;
    for (const auto& [n, a] : m_elf.symbols)
      if (a > address && a < next && a < 0x20000000) next = a;
    return next;
  }

  // Waits (bounded) for the core to stop; the stop PC.
  static uint32_t WaitStop(CICE_CortexM& ice) {
    uint32_t pc = 0;
    for (int i = 0; i < 500; ++i) {
      if (ice.CheckMCUStop(&pc)) return pc;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ADD_FAILURE() << "the core did not stop";
    return 0;
  }
  // Runs until a stop that is not the firmware's semihosting call, which it steps over.
  static uint32_t RunPastSemihosting(CICE_CortexM& ice) {
    for (int i = 0; i < 3; ++i) {
      ice.MCUFreeRun();
      const uint32_t pc = WaitStop(ice);
      if (ice.ReadHalfword(pc) != cortex::kSemihostingBkpt) return pc;
      ice.WritePC(pc + 2);
    }
    return 0;
  }
  static void ResetHalt(CICE& ice) { ice.MCUConnect(RESET_SYSRESETREQ, CONNECT_NORMAL, 0, 0); }

  sim::ElfImage m_elf;
  std::unique_ptr<SimProcess> m_sim;
};

TEST_F(QemuTarget, HaltStepRunAgreeWithTheSymbols) {
  CICE_M4 ice;
  OpenAdapter(ice);
  ResetHalt(ice);
  EXPECT_EQ(ice.ReadPC(), Sym("Reset_Handler"));
  EXPECT_EQ(ice.ReadReg(13), 0x20010000u);  // the initial stack pointer of the vector table

  uint32_t pc = ice.ReadPC();
  for (int i = 0; i < 4; ++i) {
    ice.MCUStepRun();
    const uint32_t now = WaitStop(ice);
    EXPECT_NE(now, pc);
    EXPECT_GE(now, Sym("Reset_Handler"));
    EXPECT_LT(now, NextSymbol(Sym("Reset_Handler")));  // still in the reset handler's copy loop
    pc = now;
  }

  // The first stop is the firmware's semihosting BKPT in main; past it the
  // firmware sleeps in main and wakes for its timer's interrupt and tick.
  ice.MCUFreeRun();
  pc = WaitStop(ice);
  EXPECT_EQ(ice.ReadHalfword(pc), cortex::kSemihostingBkpt);
  EXPECT_GE(pc, Sym("main"));
  EXPECT_TRUE(ice.GetHaltReason() & 0x2) << "not a BKPT stop";
  ice.WritePC(pc + 2);
  ice.MCUFreeRun();
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  pc = ice.MCUStopRun();
  EXPECT_GE(pc, Sym("tick"));
  EXPECT_LT(pc, Sym("_etext"));
  EXPECT_EQ(ice.ReadPC(), pc);
}

TEST_F(QemuTarget, ComparatorBreakpointStopsAtTheSymbol) {
  CICE_M4 ice;
  OpenAdapter(ice);
  ResetHalt(ice);
  const uint32_t tick = Sym("tick");
  ASSERT_TRUE(ice.SetBreakpoint(tick, kBpHardware));
  EXPECT_EQ(ice.ReadMem32(cortex::kFpComp0, false) & 1, 1u);  // the host wrote an enabled comparator
  for (int hit = 0; hit < 2; ++hit) {
    EXPECT_EQ(RunPastSemihosting(ice), tick);
    EXPECT_TRUE(ice.GetHaltReason() & 0x2);
  }
  ASSERT_TRUE(ice.ClearBreakpoint(tick));
  ice.MCUFreeRun();
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  uint32_t pc = 0;
  EXPECT_FALSE(ice.CheckMCUStop(&pc)) << "stopped at " << pc;
}

TEST_F(QemuTarget, WatchpointStopsOnTheWrite) {
  CICE_M4 ice;
  OpenAdapter(ice);
  ResetHalt(ice);
  const uint32_t counter = Sym("g_counter");
  ice.MCUFreeRun();
  ice.WritePC(WaitStop(ice) + 2);  // past the start-up code (which clears the counter) and the semihosting call
  const int w = ice.SetWatchpoint(counter, 4, 1);  // data writes
  ASSERT_GE(w, 0);
  for (uint32_t expected = 1; expected <= 2; ++expected) {
    const uint32_t pc = RunPastSemihosting(ice);
    EXPECT_GE(pc, Sym("tick"));
    EXPECT_LT(pc, NextSymbol(Sym("tick")));
    EXPECT_EQ(ice.FindTriggeredWatchpoint(), w);
    EXPECT_TRUE(ice.GetHaltReason() & 0x4);
    EXPECT_EQ(ice.ReadMem32(counter), expected);
  }
  ice.ClearWatchpoint(w, counter, 4, 1);
}

TEST_F(QemuTarget, SoftwareBreakpointInRamHaltsAndReadsShadowed) {
  CICE_M4 ice;
  OpenAdapter(ice);
  ResetHalt(ice);
  constexpr uint32_t kCode = 0x20008000;
  ice.WriteMem32(kCode, 0x2101202A);      // movs r0,#42 ; movs r1,#1
  ice.WriteMem32(kCode + 4, 0xE7FE2202);  // movs r2,#2 ; b .
  ASSERT_TRUE(ice.SetBreakpoint(kCode + 4, kBpSoftware));
  EXPECT_EQ(ice.ReadMem32(kCode + 4), 0xE7FE2202u);           // shadowed: the original instruction
  EXPECT_EQ(ice.ReadMem32(kCode + 4, false) & 0xFF00, 0xBE00u);  // the core's memory: a BKPT
  ice.WritePC(kCode);
  ice.MCUFreeRun();
  EXPECT_EQ(WaitStop(ice), kCode + 4);
  EXPECT_EQ(ice.ReadReg(0), 42u);
  EXPECT_EQ(ice.ReadReg(1), 1u);
  EXPECT_NE(ice.ReadReg(2), 2u);  // the instruction under the BKPT has not run
}

TEST_F(QemuTarget, SemihostingOutputReachesTheHost) {
  CICE_M0 ice;
  OpenAdapter(ice);
  ResetHalt(ice);
  ice.MCUFreeRun();
  WaitStop(ice);
  SemihostingRequest request;
  ASSERT_TRUE(ice.CheckSemihosting(&request));
  EXPECT_EQ(request.r0, 0x04u);  // write a zero-terminated string
  char text[64] = {};
  ice.ReadMem(request.r1, text, sizeof text - 1, true, false);
  EXPECT_STREQ(text, "Hello from the emulated board\n");
  ice.CompleteSemihosting({request.r0, request.r1, request.pc + 2});
  ice.MCUFreeRun();
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  uint32_t pc = 0;
  EXPECT_FALSE(ice.CheckMCUStop(&pc)) << "stopped at " << pc;
}

TEST_F(QemuTarget, PortsFollowTheCounter) {
  CICE_M4 ice;
  OpenAdapter(ice);
  ResetHalt(ice);
  const uint32_t counter = Sym("g_counter");
  ice.MCUFreeRun();
  ice.WritePC(WaitStop(ice) + 2);  // over the semihosting call
  ice.MCUFreeRun();
  uint32_t last = 0;
  int changes = 0;
  for (int i = 0; i < 6; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(150));  // the firmware ticks every 100 ms
    ice.MCUStopRun();
    const uint32_t n = ice.ReadMem32(counter);
    EXPECT_EQ(ice.ReadMem32(kPortB) & 0xFF, n & 0xFF);
    EXPECT_EQ(ice.ReadMem32(kPortD) & 0xFF, 1u << (n & 7));
    changes += n != last;
    last = n;
    ice.MCUFreeRun();
  }
  EXPECT_GE(changes, 3);
}

// A QEMU that hangs (stopped) or ends gives the host adapter errors, in
// bounded time, never a hung emulator.
class QemuTargetLost : public QemuTarget, public ::testing::WithParamInterface<int> {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/qemu-pid-XXXXXX";
    const int fd = ::mkstemp(tmpl);
    ASSERT_GE(fd, 0);
    ::close(fd);
    m_pidFile = tmpl;
    ::setenv("QEMU_PID_FILE", m_pidFile.c_str(), 1);
    Start(QEMU_WRAPPER);
    ::unsetenv("QEMU_PID_FILE");
  }
  void TearDown() override {
    if (m_qemu > 0) ::kill(m_qemu, SIGCONT);
    m_sim.reset();
    std::remove(m_pidFile.c_str());
  }
  std::string m_pidFile;
  pid_t m_qemu = -1;
};

TEST_P(QemuTargetLost, GivesAdapterErrors) {
  if (!m_sim) return;  // skipped
  CICE_M4 ice;
  OpenAdapter(ice);
  ResetHalt(ice);
  EXPECT_EQ(ice.ReadPC(), Sym("Reset_Handler"));
  std::ifstream(m_pidFile) >> m_qemu;
  ASSERT_GT(m_qemu, 0);
  ASSERT_EQ(::kill(m_qemu, GetParam()), 0);
  if (GetParam() == SIGKILL) m_qemu = -1;
  int failures = 0;
  for (int i = 0; i < 3; ++i) {
    try {
      ice.ReadMem32(0x20000000);
    } catch (const CICEException&) {
      ++failures;
    }
  }
  EXPECT_EQ(failures, 3);
  // The emulator itself still answers.
  EXPECT_NE(m_sim->Ctl("status a").find("ok"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(StoppedOrKilled, QemuTargetLost, ::testing::Values(SIGSTOP, SIGKILL));

// The firmware sleeps between the ticks of its timer: QEMU idles while the
// core runs, and the counter follows the wall clock (ten ticks a second),
// not the host's speed.
class QemuTargetIdle : public QemuTargetLost {};

TEST_F(QemuTargetIdle, FirmwareSleepsBetweenRealTimeTicks) {
  if (!m_sim) return;  // skipped
  CICE_M4 ice;
  OpenAdapter(ice);
  ResetHalt(ice);
  std::ifstream(m_pidFile) >> m_qemu;
  ASSERT_GT(m_qemu, 0);
  const auto cpuSeconds = [this] {
    std::ifstream file("/proc/" + std::to_string(m_qemu) + "/stat");
    std::string line;
    std::getline(file, line);
    // After "pid (name)": state is field 3, user and system time fields 14 and 15.
    std::istringstream rest(line.substr(line.rfind(')') + 2));
    std::string skip;
    for (int field = 3; field < 14; ++field) rest >> skip;
    unsigned long long user = 0, system = 0;
    rest >> user >> system;
    return static_cast<double>(user + system) / static_cast<double>(::sysconf(_SC_CLK_TCK));
  };
  const uint32_t counter = Sym("g_counter");
  ice.MCUFreeRun();
  ice.WritePC(WaitStop(ice) + 2);  // over the semihosting call
  const uint32_t before = ice.ReadMem32(counter);
  const double cpuBefore = cpuSeconds();
  const auto start = std::chrono::steady_clock::now();
  ice.MCUFreeRun();
  std::this_thread::sleep_for(std::chrono::seconds(1));
  ice.MCUStopRun();
  const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const double cpu = cpuSeconds() - cpuBefore;
  const uint32_t ticks = ice.ReadMem32(counter) - before;
  EXPECT_LT(cpu / wall, 0.25) << "QEMU used " << cpu << " s of CPU in " << wall << " s";
  EXPECT_GE(ticks / wall, 4.0) << ticks << " ticks in " << wall << " s";
  EXPECT_LE(ticks / wall, 20.0) << ticks << " ticks in " << wall << " s";
}

}  // namespace
