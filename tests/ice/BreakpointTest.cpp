// Breakpoints, shadowing, stepping and watchpoints of the core variants
// against the emulator's Cortex-M and 8051 targets.
#include <gtest/gtest.h>

#include <future>
#include <memory>
#include <thread>

#include "SimFixture.h"
#include "ice/CICE_M0.h"
#include "ice/CICE_M4.h"
#include "ice/CICE_Ostra1T.h"
#include "ice/CVoICE.h"

using namespace ice;

namespace {
constexpr uint32_t kSram = 0x20000200;
constexpr uint32_t kFpComp0 = 0xE0002008;

std::string ThrownMessage(const std::function<void()>& f) {
  try {
    f();
  } catch (const CICEException& e) {
    return e.GetMessage();
  }
  return "";
}
}  // namespace

TEST(IceBreakpoints, FlashFallsBackToComparatorsThatShareWords) {
  SimProcess sim;
  CICE_M4 ice;
  OpenAdapter(ice);
  ASSERT_GT(ice.GetBreakUnitCount(), 1u);
  const uint32_t flashWord = ice.ReadMem32(0x200, false);

  // Flash ignores the BKPT write: the halfword is restored and a comparator used.
  ASSERT_TRUE(ice.SetBreakpoint(0x200, kBpHardware | kBpSoftware));
  int kind = 0;
  ASSERT_TRUE(ice.IsBreakpoint(0x200, &kind));
  EXPECT_EQ(kind, kBpHardware);
  EXPECT_EQ(ice.ReadMem32(0x200, false), flashWord);
  EXPECT_EQ(ice.ReadMem32(kFpComp0, false), 0x40000201u);

  // The other halfword of the same word shares that comparator.
  ASSERT_TRUE(ice.SetBreakpoint(0x202, kBpHardware));
  EXPECT_EQ(ice.ReadMem32(kFpComp0, false), 0xC0000201u);
  EXPECT_EQ(ice.ReadMem32(kFpComp0 + 4, false), 0u);
  ASSERT_TRUE(ice.ClearBreakpoint(0x200));
  EXPECT_EQ(ice.ReadMem32(kFpComp0, false), 0x80000201u);
  EXPECT_TRUE(ice.IsBreakpoint(0x202));

  // Outside the code region, odd addresses and software-only on flash fail.
  EXPECT_FALSE(ice.SetBreakpoint(0x20000000, kBpHardware));
  EXPECT_FALSE(ice.SetBreakpoint(0x301, kBpHardware | kBpSoftware));
  EXPECT_FALSE(ice.SetBreakpoint(0x300, kBpSoftware));
  EXPECT_FALSE(ice.IsBreakpoint(0x300));

  // After a reconnect re-initialised the unit the record is stale: clearing
  // it says so once and forgets it.
  ice.MCUConnect(RESET_NONE, CONNECT_NORMAL, 0, 0);
  EXPECT_EQ(ThrownMessage([&] { ice.ClearBreakpoint(0x202); }),
            "Clearing a hardware breakpoint failed.");
  EXPECT_FALSE(ice.IsBreakpoint(0x202));
  EXPECT_TRUE(ice.SetBreakpoint(0x202, kBpHardware));
  ice.ClearAllBreakpoints();
  EXPECT_EQ(ice.ReadMem32(kFpComp0, false), 0x00000200u);
}

TEST(IceBreakpoints, SoftwareBreakpointsStayHiddenInMemory) {
  SimProcess sim;
  CICE_M4 ice;
  OpenAdapter(ice);
  ice.WriteMem32(kSram, 0x4770BF00, false);
  ASSERT_TRUE(ice.SetBreakpoint(kSram, kBpSoftware | kBpHardware));
  int kind = 0;
  ASSERT_TRUE(ice.IsBreakpoint(kSram, &kind));
  EXPECT_EQ(kind, kBpSoftware);
  EXPECT_EQ(ice.ReadMem32(kSram, false), 0x4770BE18u);  // raw memory
  EXPECT_EQ(ice.ReadMem32(kSram, true), 0x4770BF00u);   // what the user sees
  uint8_t block[8] = {};
  ice.ReadMem(kSram - 2, block, 8, true, false);
  EXPECT_EQ(block[2], 0x00);
  EXPECT_EQ(block[3], 0xBF);

  // Writing over it keeps the BKPT and remembers the new instruction.
  ice.WriteMem32(kSram, 0x11112222, true);
  EXPECT_EQ(ice.ReadMem32(kSram, false), 0x1111BE18u);
  EXPECT_EQ(ice.ReadMem32(kSram, true), 0x11112222u);

  // The program overwrote the breakpoint: reads show its bytes, which
  // become the original, and clearing leaves them in place.
  ice.WriteMem32(kSram, 0x11113333, false);
  EXPECT_EQ(ice.ReadMem32(kSram, true), 0x11113333u);
  ASSERT_TRUE(ice.ClearBreakpoint(kSram));
  EXPECT_EQ(ice.ReadMem32(kSram, false), 0x11113333u);

  // Rewriting puts the instructions back after memory was reloaded.
  ASSERT_TRUE(ice.SetBreakpoint(kSram, kBpSoftware));
  ice.WriteMem32(kSram, 0x11114444, false);
  ice.ReadMem32(kSram, true);  // notes the overwrite
  ice.RewriteSoftwareBreakpoints();
  EXPECT_EQ(ice.ReadMem32(kSram, false), 0x1111BE18u);
  EXPECT_EQ(ice.ReadMem32(kSram, true), 0x11114444u);
}

TEST(IceBreakpoints, SteppingLiftsAndRestoresTheBreakpointAtThePC) {
  SimProcess sim;
  Spy<CICE_M4> ice;
  OpenAdapter(ice);
  const uint32_t pc = ice.MCUStopRun();
  ASSERT_TRUE(ice.SetBreakpointDefault(pc, false));

  // Running while stopped on a breakpoint sends nothing.
  ice.Clear();
  ice.MCUFreeRun();
  EXPECT_TRUE(ice.requests.empty());

  ice.MCUStepRun();
  EXPECT_FALSE(ice.IsBreakpoint(pc));
  uint32_t now = 0;
  ASSERT_TRUE(ice.CheckMCUStop(&now));
  EXPECT_NE(now, pc);
  EXPECT_TRUE(ice.IsBreakpoint(pc));
  EXPECT_EQ(ice.GetHaltReason() & 0x1F, ice.GetHaltReason());

  // A breakpoint on the second half of the 32-bit instruction at the PC is
  // lifted for the step as well, and comes back.
  ice.WriteMem32(kSram, 0xF800F000, false);  // BL prefix and suffix
  ice.WritePC(kSram | 1);
  ASSERT_TRUE(ice.SetBreakpoint(kSram + 2, kBpSoftware));
  ice.MCUStepRun();
  EXPECT_FALSE(ice.IsBreakpoint(kSram + 2));
  EXPECT_EQ(ice.ReadMem32(kSram, false), 0xF800F000u);
  ASSERT_TRUE(ice.CheckMCUStop(&now));
  EXPECT_TRUE(ice.IsBreakpoint(kSram + 2));
  EXPECT_EQ(ice.ReadMem32(kSram, false), 0xBE18F000u);
}

TEST(IceBreakpoints, BreakpointInsideA32BitInstructionIsRefusedOnRun) {
  SimProcess sim;
  CICE_M4 ice;
  OpenAdapter(ice);
  ice.MCUStopRun();
  // A 32-bit instruction (BL prefix) in SRAM with a breakpoint on its second half.
  ice.WriteMem32(kSram, 0xF800F000, false);
  ice.WritePC(kSram | 1);
  ASSERT_TRUE(ice.SetBreakpoint(kSram + 2, kBpSoftware));
  char expected[128];
  std::snprintf(expected, sizeof expected,
                "ICE: breakpoint on unwanted address(PC=%08x, breakaddr=%08x)!", kSram | 1, kSram);
  EXPECT_EQ(ThrownMessage([&] { ice.MCUFreeRun(); }), expected);
  EXPECT_FALSE(ice.IsBreakpoint(kSram + 2));
  EXPECT_EQ(ice.ReadMem32(kSram, false), 0xF800F000u);
}

TEST(IceBreakpoints, WatchpointsCheckTheirArguments) {
  SimProcess sim;
  CICE_M4 ice;
  OpenAdapter(ice);
  ASSERT_GT(ice.GetWatchUnitCount(), 1u);
  EXPECT_EQ(ice.SetWatchpoint(0x20000000, 3, 0), -1);
  EXPECT_EQ(ice.SetWatchpoint(0x20000002, 4, 0), -1);
  EXPECT_EQ(ice.SetWatchpoint(0x20000000, 4, 99), -1);
  const int w = ice.SetWatchpoint(0x20000010, 16, 1);
  ASSERT_GE(w, 0);
  EXPECT_EQ(ice.SetWatchpoint(0x20000010, 16, 1), w);  // reused
  const uint32_t base = 0xE0001020 + 16 * static_cast<uint32_t>(w);
  EXPECT_EQ(ice.ReadMem32(base, false), 0x20000010u);
  EXPECT_EQ(ice.ReadMem32(base + 4, false), 4u);
  EXPECT_EQ(ice.ReadMem32(base + 8, false) & 0xF, 6u);
  EXPECT_EQ(ThrownMessage([&] { ice.ClearWatchpoint(w, 0x20000010, 8, 1); }),
            "Clearing a watchpoint failed.");
  ice.ClearWatchpoint(w, 0x20000010, 16, 1);
  EXPECT_EQ(ice.ReadMem32(base + 8, false) & 0xF, 0u);
  EXPECT_EQ(ice.FindTriggeredWatchpoint(), -1);
}

TEST(IceBreakpoints, ArmV8CoresUseComparatorPairsAndTheirOwnKind) {
  SimProcess sim(OneAdapterConfig("hid", 64, 7973, "m33"), 1);
  CICE_M4 m4;
  OpenAdapter(m4);
  EXPECT_EQ(m4.GetCoreKind(), CoreKind::CortexM33);
  const int w = m4.SetWatchpoint(0x20000100, 32, 0);
  ASSERT_GE(w, 0);
  const uint32_t first = 0xE0001020 + 16 * static_cast<uint32_t>(w);
  EXPECT_EQ(m4.ReadMem32(first + 8, false) & 0x3F, 0x16u);
  EXPECT_EQ(m4.ReadMem32(first + 16, false), 0x2000011Fu);
  EXPECT_EQ(m4.ReadMem32(first + 24, false) & 0xF, 7u);
  const int single = m4.SetWatchpoint(0x20000200, 2, 2);
  ASSERT_GE(single, 0);
  EXPECT_NE(single, w);
  EXPECT_NE(single, w + 1);
  m4.ClearWatchpoint(w, 0x20000100, 32, 0);
  m4.ClearWatchpoint(single, 0x20000200, 2, 2);
  EXPECT_EQ(m4.ReadMem32(first + 8, false) & 0xF, 0u);

  CICE_M0 m0;
  m4.CloseAllAdapters();
  OpenAdapter(m0);
  EXPECT_EQ(m0.GetCoreKind(), CoreKind::Other);
}

TEST(IceBreakpoints, Ostra1TKeepsAListOfEight) {
  SimProcess sim(OneAdapterConfig("hid", 64, 7973, "", 1, "8051"), 1);
  Spy<CVoICE_Ostra1T> ice;
  OpenAdapter(ice);
  EXPECT_TRUE(ice.IsChipSupported());
  EXPECT_EQ(ice.GetCoreKind(), CoreKind::Other);
  for (uint32_t i = 0; i < 8; ++i) ASSERT_TRUE(ice.SetBreakpoint(0x100 + 0x10 * i, kBpHardware));
  EXPECT_FALSE(ice.SetBreakpoint(0x400, kBpHardware | kBpSoftware));
  EXPECT_TRUE(ice.SetBreakpoint(0x100, kBpHardware));  // already set
  EXPECT_EQ(ice.GetBreakpointList().size(), 8u);

  ice.Clear();
  ice.MCUFreeRun();
  ASSERT_EQ(ice.requests.size(), 9u);
  for (uint32_t i = 0; i < 8; ++i) {
    EXPECT_EQ(ice.Word(i, 0), kCmdSetBreakPoint);
    EXPECT_EQ(ice.Word(i, 1), 1u);
    EXPECT_EQ(ice.Word(i, 2), 0x100 + 0x10 * i);
    EXPECT_EQ(ice.Word(i, 3), i + 1);
  }
  EXPECT_EQ(ice.Word(8, 0), kCmdFreeRun);

  ice.Clear();
  ASSERT_TRUE(ice.ClearBreakpoint(0x100));
  EXPECT_EQ(ice.Codes(), std::vector<uint32_t>{kCmdClrBreakPoint});
  EXPECT_TRUE(ice.SetBreakpoint(0x400, kBpHardware));
}

// The adapter keeps its eight slots armed across a reconnect. The host's
// list starts empty again then: its next run must neither be refused by the
// adapter nor stop at a slot the host no longer knows of.
TEST(IceBreakpoints, Ostra1TReconnectLeavesNoStaleSlots) {
  SimProcess sim(OneAdapterConfig("hid", 64, 7973, "", 1, "8051"), 1);
  CVoICE_Ostra1T ice;
  OpenAdapter(ice);
  auto runFrom = [&](uint32_t pc) {
    ice.MCUStopRun();
    ice.WriteReg(15, pc);
    ice.MCUFreeRun();
    uint32_t stopped = 0;
    for (int i = 0; i < 500 && !ice.CheckMCUStop(&stopped); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return stopped;
  };
  for (uint32_t i = 0; i < 8; ++i) ASSERT_TRUE(ice.SetBreakpoint(0x108 + 0x10 * i, kBpHardware));
  EXPECT_EQ(runFrom(0x100), 0x108u);

  ice.MCUConnect(RESET_NONE, CONNECT_NORMAL, 0, 0);
  EXPECT_TRUE(ice.GetBreakpointList().empty());
  ASSERT_TRUE(ice.SetBreakpoint(0x150, kBpHardware));
  EXPECT_EQ(runFrom(0x100), 0x150u);
}

TEST(IceBreakpoints, UnknownKindIsNamedByTheOperation) {
  Spy<CICE_M4> ice;
  ice.Table()[0x100] = {0x100, 8, 0, {}, -1};
  EXPECT_EQ(ThrownMessage([&] { ice.ClearBreakpoint(0x100); }),
            "ICE: Cmd_ClrBreakPoint unknow BPType!");
  EXPECT_EQ(ThrownMessage([&] { ice.ClearAllBreakpoints(); }),
            "ICE: Cmd_ClrAllBreakPoint unknow BPType!");
  EXPECT_EQ(ThrownMessage([&] { ice.DumpBreakpoints(); }),
            "ICE: Cmd_DumpBreakPoint unknow BPType!");
  EXPECT_TRUE(ice.IsBreakpoint(0x100));
  EXPECT_TRUE(ice.requests.empty());
}

TEST(IceBreakpoints, CoreTypeFollowsTheChipName) {
  CVoICE ice;
  EXPECT_EQ(ice.GetCoreType(), 0x400u);
  ice.SetParam("ChipName", "K310Q");
  EXPECT_EQ(ice.GetCoreType(), 0x10Fu);
  EXPECT_EQ(ice.GetParam("ChipName"), "K310Q");
  EXPECT_EQ(ice.GetParam("unset"), "");
  CICE_Ostra1T c51;
  EXPECT_EQ(c51.GetCoreType(), 0x800u);
}

TEST(IceBreakpoints, M0ServesSemihostingCalls) {
  SimProcess sim(OneAdapterConfig("hid", 64, 7973, "m0"), 1);
  CICE_M0 ice;
  OpenAdapter(ice);
  ice.MCUStopRun();
  ice.WriteMem32(0x20000300, 0x4770BEAB, false);
  ice.WriteReg(0, 0x05);
  ice.WriteReg(1, 0x20000400);
  ice.WritePC(0x20000300);

  SemihostingRequest request;
  ASSERT_TRUE(ice.CheckSemihosting(&request));
  EXPECT_EQ(request.r0, 0x05u);
  EXPECT_EQ(request.r1, 0x20000400u);
  EXPECT_EQ(request.pc, 0x20000300u);
  EXPECT_FALSE(ice.CheckSemihosting(&request));  // one call at a time

  ice.CompleteSemihosting({0x2A, request.r1, request.pc + 2});
  EXPECT_EQ(ice.ReadReg(0), 0x2Au);
  EXPECT_EQ(ice.GetCurrentPC(), 0x20000302u);
  EXPECT_FALSE(ice.CheckSemihosting(&request));  // no BKPT at the new PC

  // The core's PC moved behind the host's back (a raw register write).
  ice.WritePC(0x20000300);
  const uint32_t reg = 15, moved = 0x20000304, mask = 0;
  ice.MultiAccess(kCmdRegMulti, 1, &reg, &moved, &mask, nullptr, nullptr);
  try {
    ice.CheckSemihosting(&request);
    FAIL() << "no exception";
  } catch (const CICEException& e) {
    EXPECT_STREQ(e.GetMessage(), "ICE: m_uCurPC not correctly set!");
  }
}

// A semihosting call that nobody completes (the thread serving it is gone)
// keeps the busy flag set; destruction waits for it only a bounded time.
TEST(IceBreakpoints, DestructionDoesNotWaitForeverForAnUncompletedCall) {
  SimProcess sim(OneAdapterConfig("hid", 64, 7973, "m0"), 1);
  auto ice = std::make_unique<CICE_M0>();
  OpenAdapter(*ice);
  ice->MCUStopRun();
  ice->WriteMem32(0x20000300, 0x4770BEAB, false);
  ice->WritePC(0x20000300);
  SemihostingRequest request;
  ASSERT_TRUE(ice->CheckSemihosting(&request));

  // The thread owns everything it touches: if the destructor hangs, the
  // test fails and leaves it behind.
  auto destroyed = std::make_shared<std::promise<void>>();
  std::future<void> done = destroyed->get_future();
  std::thread([destroyed, owned = std::move(ice)]() mutable {
    owned.reset();
    destroyed->set_value();
  }).detach();
  // Far beyond the bound: a destructor still waiting then waits for ever.
  EXPECT_EQ(done.wait_for(std::chrono::seconds(30)), std::future_status::ready)
      << "the destructor still waits for the busy flag";
}
