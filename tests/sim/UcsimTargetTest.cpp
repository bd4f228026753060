// The emulator's ucsim target (s51 running firmware/blink51.c) through the
// 8051 adapter class: run control, the adapter's breakpoint slots against
// the firmware's map file, memory spaces and the port pattern. Skipped when
// s51 is not installed or the firmware was not built.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "../ice/SimFixture.h"
#include "ice/CVoICE.h"
#include "sim/ChildProcess.h"

using namespace ice;

namespace {

const std::string kImage = std::string(FIRMWARE_DIR) + "/blink51.ihx";
const std::string kMap = std::string(FIRMWARE_DIR) + "/c51/blink51.map";
constexpr uint32_t kIram = 0x02000000, kSfr = 0x03000000;

// Address of a symbol in sdcc's map file ("C:   00000062  _tick ...").
uint32_t MapSymbol(const std::string& name) {
  std::ifstream in(kMap);
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream words(line);
    std::string a, b, c;
    words >> a >> b;
    if (b == name) return static_cast<uint32_t>(std::stoul(a, nullptr, 16));
    words >> c;
    if (c == name) return static_cast<uint32_t>(std::stoul(b, nullptr, 16));
  }
  ADD_FAILURE() << name << " is not in " << kMap;
  return 0;
}

class UcsimTarget : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!sim::ProgramAvailable("s51")) GTEST_SKIP() << "s51 (sdcc-ucsim) is not installed";
    if (!std::filesystem::exists(kImage)) GTEST_SKIP() << "the 8051 firmware was not built (sdcc missing)";
    m_sim = std::make_unique<SimProcess>(R"({ "adapters": [ { "name": "a", "generation": 1,
      "interfaces": [ { "kind": "bulk", "interface": 0, "size": 512 } ],
      "target": { "kind": "ucsim", "firmware": ")" + kImage + R"(" } } ] })", 1);
  }
  static uint32_t WaitStop(CICE& ice) {
    uint32_t pc = 0;
    for (int i = 0; i < 500; ++i) {
      if (ice.CheckMCUStop(&pc)) return pc;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ADD_FAILURE() << "the core did not stop";
    return 0;
  }
  std::unique_ptr<SimProcess> m_sim;
};

TEST_F(UcsimTarget, BreakpointSlotsStopAtTheSymbolAndPortsFollowTheCounter) {
  CVoICE_Ostra1T ice;
  OpenAdapter(ice);
  EXPECT_TRUE(ice.IsChipSupported());
  const uint32_t tick = MapSymbol("_tick"), counter = MapSymbol("_counter");
  ASSERT_TRUE(ice.SetBreakpoint(tick, kBpHardware));
  uint32_t last = 0;
  for (int hit = 0; hit < 3; ++hit) {
    ice.MCUFreeRun();
    EXPECT_EQ(WaitStop(ice), tick);
    const uint32_t n = ice.ReadMem32(kIram + counter) & 0xFF;
    if (hit > 0) {
      EXPECT_EQ(n, (last + 1) & 0xFF);
    }
    EXPECT_EQ(ice.ReadMem32(kSfr + 0x90) & 0xFF, n);                 // P1 = counter
    EXPECT_EQ(ice.ReadMem32(kSfr + 0xA0) & 0xFF, 1u << (n & 7));     // P2 = walking bit
    last = n;
  }
  // A step moves the PC on by one instruction; registers read back.
  ice.MCUStepRun();
  EXPECT_GT(WaitStop(ice), tick);
  ice.WriteReg(8, 0x5A);
  EXPECT_EQ(ice.ReadReg(8), 0x5Au);
  ASSERT_TRUE(ice.ClearBreakpoint(tick));
  ice.MCUFreeRun();
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_NE(ice.MCUStopRun(), 0xFFFFFFFFu);
  // Internal RAM written by the host reads back.
  ice.WriteMem32(kIram + 0x40, 0x11223344);
  EXPECT_EQ(ice.ReadMem32(kIram + 0x40), 0x11223344u);
}

}  // namespace
