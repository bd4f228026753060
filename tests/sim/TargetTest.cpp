// The targets behind the adapter: Cortex-M core identity, debug units, run
// control with Thumb instruction lengths, breakpoints and watchpoints; the
// 8051 1T target with its breakpoint list.
#include <chrono>
#include <thread>

#include "SimClient.h"

namespace simtest {
namespace {

constexpr uint32_t kMem = 0xB9;
constexpr uint32_t kDfsr = 0xE000ED30;

class Targets : public SimFixture {
 protected:
  Conn StartCortex(const std::string& cpu) {
    StartSim(OneAdapter(R"("generation":1,"target":{"chip":"GX32M412VE","cpu":")" + cpu + R"("})"));
    Conn c = Open("a-hid-if3");
    Attach(c);
    return c;
  }
  static uint32_t Pc(Conn& c) { return WordAt(c.Exchange(Words({0xD8})).payload, 1); }
  static uint32_t State(Conn& c) { return WordAt(c.Exchange(Words({0xD8})).payload, 2); }
  static bool WaitStopped(Conn& c) {
    for (int i = 0; i < 100; ++i) {
      if (State(c) == 0) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }
};

TEST_F(Targets, CoreIdentityAndDebugUnitsFollowTheCpu) {
  struct Case {
    const char* cpu;
    uint32_t partNo;
    uint32_t codeComparators;
    bool secondFormat;
    uint32_t watchComparators;
  };
  for (const Case& k : {Case{"m0", 0xC20, 4, false, 2}, Case{"m4", 0xC24, 6, false, 4},
                        Case{"m33", 0xD21, 8, true, 4}, Case{"m55", 0xD22, 8, true, 8}}) {
    SCOPED_TRACE(k.cpu);
    Conn c = StartCortex(k.cpu);
    EXPECT_EQ((c.Read(kMem, 0xE000ED00) >> 4) & 0xFFF, k.partNo);
    const uint32_t fp = c.Read(kMem, 0xE0002000);
    EXPECT_EQ(((fp >> 12) & 7) << 4 | ((fp >> 4) & 0xF), k.codeComparators);
    EXPECT_EQ(c.Read(kMem, 0xE0001000) >> 28, k.watchComparators);
    // A comparator keeps what the host writes, in its format.
    c.Write(kMem, 0xE0002008, 0x40000101);
    EXPECT_EQ(c.Read(kMem, 0xE0002008), k.secondFormat ? 0x40000101u : 0x40000101u & 0xDFFFFFFD);
    TearDown();
  }
}

TEST_F(Targets, StepAdvancesByTheThumbInstructionLength) {
  Conn c = StartCortex("m4");
  c.Exchange(Words({0xD2}));
  c.Write(0xB8, 15, 0x100);
  bool saw32 = false, sawBranch = false;
  for (int i = 0; i < 70; ++i) {
    const uint32_t pc = Pc(c);
    const uint32_t word = c.Read(kMem, pc & ~3u);
    const uint16_t hw = static_cast<uint16_t>((pc & 2) ? word >> 16 : word);
    uint32_t want = pc + 2;
    if ((hw & 0xE000) == 0xE000 && (hw & 0x1800) != 0) {
      want = pc + 4;
      saw32 = true;
    } else if ((hw & 0xF800) == 0xE000) {
      int32_t off = (hw & 0x7FF) << 1;
      if (off & 0x800) off -= 0x1000;
      want = static_cast<uint32_t>(static_cast<int32_t>(pc) + 4 + off);
      sawBranch = true;
    }
    const Packet p = c.Exchange(Words({0xD1}));
    ASSERT_FALSE(p.flag);
    ASSERT_EQ(Pc(c), want) << std::hex << "pc " << pc << " instruction " << hw;
  }
  EXPECT_TRUE(saw32);
  EXPECT_TRUE(sawBranch);
  EXPECT_EQ(c.Read(kMem, kDfsr) & 1, 1u);  // halted by the step
}

TEST_F(Targets, BreakpointComparatorStopsTheRunningCore) {
  Conn c = StartCortex("m4");
  c.Write(kMem, kDfsr, 0x1F);
  c.Write(kMem, 0xE0002008, 0x00000108 | 0x40000000 | 1);  // lower halfword of word 0x108
  ASSERT_TRUE(WaitStopped(c));
  EXPECT_EQ(Pc(c), 0x108u);
  EXPECT_EQ(c.Read(kMem, kDfsr) & 2, 2u);
  // Running on at the same address stops again at once.
  c.Exchange(Words({0xD3}));
  ASSERT_TRUE(WaitStopped(c));
  EXPECT_EQ(Pc(c), 0x108u);
  c.Write(kMem, kDfsr, 0x1F);
  EXPECT_EQ(c.Read(kMem, kDfsr), 0u);
}

TEST_F(Targets, BreakpointInstructionsInSramHalt) {
  Conn c = StartCortex("m4");
  c.Exchange(Words({0xD2}));
  for (uint32_t insn : {0xBE18u, 0xBEABu}) {
    c.Write(kMem, 0x20000400, 0xBF00 | (insn << 16));  // NOP, then the breakpoint
    c.Write(0xB8, 15, 0x20000400);
    c.Write(kMem, kDfsr, 0x1F);
    c.Exchange(Words({0xD3}));
    ASSERT_TRUE(WaitStopped(c));
    EXPECT_EQ(Pc(c), 0x20000402u);
    EXPECT_EQ(c.Read(kMem, kDfsr) & 2, 2u);
  }
}

TEST_F(Targets, WatchpointOnTheCounterOutputTriggers) {
  for (const char* cpu : {"m4", "m33"}) {
    SCOPED_TRACE(cpu);
    Conn c = StartCortex(cpu);
    c.Write(kMem, 0xE000EDFC, 1u << 24, ~(1u << 24));
    ASSERT_EQ(c.Read(kMem, 0xE000EDFC) >> 24 & 1, 1u);
    const bool v8 = std::string(cpu) == "m33";
    const uint32_t writeWord = v8 ? (0x5u | 0x800 | 0x10) : 6u;  // data write, word
    // Comparator 0 watches SRAM the program never writes, comparator 1 the counter.
    c.Write(kMem, 0xE0001020, 0x20000100);
    c.Write(kMem, 0xE0001028, writeWord);
    c.Write(kMem, 0xE0001030, 0x40004008);
    c.Write(kMem, 0xE0001038, writeWord);
    ASSERT_TRUE(WaitStopped(c));
    EXPECT_EQ(c.Read(kMem, kDfsr) & 4, 4u);
    EXPECT_EQ(c.Read(kMem, 0xE0001028) >> 24 & 1, 0u);  // only the comparator that fired
    EXPECT_EQ(c.Read(kMem, 0xE0001038) >> 24 & 1, 1u);  // matched, cleared by reading
    EXPECT_EQ(c.Read(kMem, 0xE0001038) >> 24 & 1, 0u);
    TearDown();
  }
}

TEST_F(Targets, ConnectUnderResetHaltsAtTheResetVector) {
  Conn c = StartCortex("m0");
  Attach(c, 1, 2);
  EXPECT_EQ(State(c), 0u);
  EXPECT_EQ(Pc(c), 0x100u);
  // Disconnect with a hardware reset lets it run again.
  c.Exchange(Words({0xE2, 1, 3, 0, 0}));
  Attach(c);
  EXPECT_EQ(State(c), 1u);
}

TEST_F(Targets, Ostra8051PortsAndSpaces) {
  StartSim(OneAdapter(R"("generation":1,"target":{"kind":"8051"})"));
  Conn c = Open("a-hid-if3");
  EXPECT_EQ(WordAt(c.Exchange(Words({0xA3, 0})).payload, 1), 0x00002B52u);
  Attach(c);
  EXPECT_EQ(c.Read(kMem, 0x04000000), 0x00002B52u);
  const uint32_t p0 = c.Read(kMem, 0x03000080) & 0xFF;
  std::this_thread::sleep_for(std::chrono::milliseconds(250));
  EXPECT_NE(c.Read(kMem, 0x03000080) & 0xFF, p0);
  // Code space ignores plain writes; XDATA keeps them.
  c.Write(kMem, 0x01000010, 0xA5A5A5A5);
  EXPECT_EQ(c.Read(kMem, 0x01000010), 0xA5A5A5A5u);
}

// The position word of Set_BreakPoint names one of eight slots in the
// adapter; arming a slot replaces what it held, clearing goes by address,
// and the slots outlive resets, reconnects and the host's connection.
TEST_F(Targets, Ostra8051BreakpointSlots) {
  StartSim(OneAdapter(R"("generation":1,"target":{"kind":"8051"})"));
  Conn c = Open("a-hid-if3");
  Attach(c);
  c.Exchange(Words({0xD2}));
  for (uint32_t i = 0; i < 8; ++i) EXPECT_FALSE(c.Exchange(Words({0xC0, 1, 0x110 + i, i + 1})).flag) << i;
  EXPECT_TRUE(c.Exchange(Words({0xC0, 1, 0x150, 9})).flag);
  EXPECT_TRUE(c.Exchange(Words({0xC0, 1, 0x150, 0})).flag);
  EXPECT_FALSE(c.Exchange(Words({0xC0, 1, 0x160, 1})).flag);  // slot 1: 0x110 -> 0x160
  EXPECT_FALSE(c.Exchange(Words({0xC1, 1, 0x111, 0})).flag);  // slot 2 disarmed
  EXPECT_FALSE(c.Exchange(Words({0xC1, 1, 0x170, 0})).flag);  // held nowhere: fine
  auto runFrom = [&](Conn& conn, uint32_t pc) {
    conn.Write(0xB8, 15, pc);
    conn.Exchange(Words({0xD3}));
    EXPECT_TRUE(WaitStopped(conn));
    return Pc(conn);
  };
  EXPECT_EQ(runFrom(c, 0x100), 0x112u);
  // Running on from a breakpoint executes it and stops at the next one.
  EXPECT_EQ(runFrom(c, 0x112), 0x113u);
  // Disconnect, a new connection, connect with a reset: still armed.
  c.Exchange(Words({0xE2, 1, 4, 0, 0}));
  Conn again = Open("a-hid-if3");
  Attach(again, 1, 0);
  EXPECT_EQ(runFrom(again, 0x100), 0x112u);
  EXPECT_EQ(runFrom(again, 0x117), 0x160u);
}

}  // namespace
}  // namespace simtest
