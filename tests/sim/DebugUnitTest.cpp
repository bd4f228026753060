// The Cortex-M debug unit both Cortex-M targets share: the places its
// comparators stop the core at, as the core model asks them and as the QEMU
// target hands them on, for every comparator format; and halt control.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "sim/CortexDebugUnit.h"
#include "sim/Target.h"

namespace sim {
namespace {

using namespace cortex_regs;

// Records the run control the unit asks for.
class FakeCore final : public Target {
 public:
  std::vector<std::string> calls;
  uint32_t ReadWord(uint32_t, uint32_t&) override { return kErrOk; }
  uint32_t WriteWord(uint32_t, uint32_t) override { return kErrOk; }
  uint32_t ReadBytes(uint32_t, std::span<uint8_t>) override { return kErrOk; }
  uint32_t WriteBytes(uint32_t, std::span<const uint8_t>) override { return kErrOk; }
  uint32_t ReadReg(uint32_t index, uint32_t& value) override {
    calls.push_back("read r" + std::to_string(index));
    value = 0x1000 + index;
    return kErrOk;
  }
  uint32_t WriteReg(uint32_t index, uint32_t value) override {
    calls.push_back("write r" + std::to_string(index) + "=" + std::to_string(value));
    return kErrOk;
  }
  void Reset(bool halt) override { calls.push_back(halt ? "reset halt" : "reset run"); }
  void Halt() override { calls.push_back("halt"); }
  uint32_t Step() override {
    calls.push_back("step");
    return kErrOk;
  }
  void Run() override { calls.push_back("run"); }
  bool IsRunning() override { return false; }
  uint32_t Pc() override { return 0; }
  void SetDebugAttached(bool) override {}
  uint32_t DebugId(uint32_t) override { return 0; }
  FlashGeometry Geometry() const override { return {}; }
  uint32_t FlashProgram(uint32_t, std::span<const uint8_t>) override { return kErrOk; }
  uint32_t FlashRead(uint32_t, std::span<uint8_t>) override { return kErrOk; }
  uint32_t FlashErasePage(uint32_t) override { return kErrOk; }
  uint32_t FlashEraseAll() override { return kErrOk; }
  bool DrivePin(const std::string&, int) override { return false; }
};

constexpr CortexDebugShape kV7{6, 2, false, 4, false};  // first comparator format, masked watchpoints
constexpr CortexDebugShape kV8{8, 0, true, 4, true};    // second format, ARMv8-M watchpoints

uint32_t ReadWord(CortexDebugUnit& unit, uint32_t a) {
  uint32_t v = 0xDEADBEEF;
  EXPECT_TRUE(unit.Read(a, {true, true}, v)) << std::hex << a;
  return v;
}

// The core model stops where BreakAt says, QEMU where BreakAddresses puts
// its breakpoints: both must be the same places.
TEST(CortexDebugUnit, BreakpointComparatorsStopAtTheSamePlacesForBothTargets) {
  struct Case {
    const char* what;
    CortexDebugShape shape;
    uint32_t comparator;
    std::vector<uint32_t> stops;
  } cases[] = {
      {"first format, lower halfword", kV7, 0x40000108 | 1, {0x108}},
      {"first format, upper halfword", kV7, 0x80000108 | 1, {0x10A}},
      {"first format, both halfwords", kV7, 0xC0000108 | 1, {0x108, 0x10A}},
      {"first format, no replace bits", kV7, 0x00000108 | 1, {}},
      {"first format, disabled", kV7, 0x40000108, {}},
      {"second format, any halfword", kV8, 0x0000010A | 1, {0x10A}},
      {"second format, disabled", kV8, 0x0000010A, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FakeCore core;
    CortexDebugUnit unit(c.shape);
    ASSERT_TRUE(unit.Write(kFpCtrl + 8, c.comparator, true, core));
    EXPECT_TRUE(unit.BreakAddresses().empty()) << "the unit is off until enabled";
    ASSERT_TRUE(unit.Write(kFpCtrl, 3, true, core));  // KEY | ENABLE
    std::vector<uint32_t> addresses = unit.BreakAddresses();
    std::sort(addresses.begin(), addresses.end());
    EXPECT_EQ(addresses, c.stops);
    for (uint32_t pc = 0x100; pc < 0x110; pc += 2)
      EXPECT_EQ(unit.BreakAt(pc), std::count(c.stops.begin(), c.stops.end(), pc) == 1) << std::hex << pc;
  }
}

TEST(CortexDebugUnit, ComparatorRegistersKeepTheirFormat) {
  FakeCore core;
  CortexDebugUnit v7(kV7), v8(kV8);
  for (CortexDebugUnit* unit : {&v7, &v8}) {
    unit->Write(kFpCtrl + 8, 0xFFFFFFFF, true, core);
    unit->Write(kDwtCtrl + 0x24, 0xFFFFFFFF, true, core);
    unit->Write(kDwtCtrl + 0x28, 0xFFFFFFFF, true, core);
  }
  EXPECT_EQ(ReadWord(v7, kFpCtrl), (6u << 4) | (2u << 8));
  EXPECT_EQ(ReadWord(v8, kFpCtrl), (8u << 4) | 0x10000000u);
  EXPECT_EQ(ReadWord(v7, kFpCtrl + 8), 0xDFFFFFFDu);
  EXPECT_EQ(ReadWord(v8, kFpCtrl + 8), 0xFFFFFFFFu);
  EXPECT_EQ(ReadWord(v7, kDwtCtrl + 0x24), 0x1Fu);
  EXPECT_EQ(ReadWord(v8, kDwtCtrl + 0x24), 0u) << "no mask registers";
  EXPECT_EQ(ReadWord(v7, kDwtCtrl + 0x28), 0x000FFFFFu & ~kMatched);
  EXPECT_EQ(ReadWord(v8, kDwtCtrl + 0x28), 0x00000C3Fu | 0x58000000u);
  uint32_t v = 0;
  EXPECT_FALSE(v7.Read(kFpCtrl + 4, {true, true}, v)) << "the remap register is not modelled";
  EXPECT_FALSE(v7.Read(kDwtCtrl + 0x20 + 16 * 4, {true, true}, v)) << "past the last comparator";
}

// What the core model fires on for a word write, QEMU watches as a range:
// both agree, and a hit marks its comparator once.
TEST(CortexDebugUnit, WatchpointRangesForBothUnitFormats) {
  struct Comparator {
    uint32_t comp, mask, function;
  };
  struct Case {
    const char* what;
    CortexDebugShape shape;
    std::vector<Comparator> comparators;
    std::vector<CortexDebugUnit::DataWatch> want;
  };
  using A = CortexDebugUnit::Access;
  const Case cases[] = {
      {"masked word write", kV7, {{0x20000104, 2, 6}}, {{0, A::Write, 0x20000104, 4}}},
      {"masked read of 256 bytes", kV7, {{0x20000155, 8, 5}}, {{0, A::Read, 0x20000100, 256}}},
      {"masked access capped at 4 KiB", kV7, {{0x20003004, 16, 7}}, {{0, A::Any, 0x20003000, 4096}}},
      {"masked PC match is no data watch", kV7, {{0x100, 0, 4}}, {}},
      {"v8 word write", kV8, {{0x20000104, 0, 0x815}}, {{0, A::Write, 0x20000104, 4}}},
      {"v8 range with a limit", kV8, {{0x20000100, 0, 0x14}, {0x2000013F, 0, 7}}, {{0, A::Any, 0x20000100, 64}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FakeCore core;
    CortexDebugUnit unit(c.shape);
    for (size_t i = 0; i < c.comparators.size(); ++i) {
      const uint32_t at = kDwtCtrl + 0x20 + 16 * static_cast<uint32_t>(i);
      unit.Write(at, c.comparators[i].comp, true, core);
      unit.Write(at + 4, c.comparators[i].mask, true, core);
      unit.Write(at + 8, c.comparators[i].function, true, core);
    }
    const auto got = unit.DataWatches();
    ASSERT_EQ(got.size(), c.want.size());
    for (size_t i = 0; i < got.size(); ++i) {
      EXPECT_EQ(got[i].comparator, c.want[i].comparator);
      EXPECT_EQ(got[i].access, c.want[i].access);
      EXPECT_EQ(got[i].base, c.want[i].base);
      EXPECT_EQ(got[i].length, c.want[i].length);
    }
    if (c.want.empty() || c.want[0].access == A::Read || c.want[0].length > 256) continue;
    const auto& w = c.want[0];
    EXPECT_FALSE(unit.WatchHitsWrite(0, w.base)) << "off without the trace enable";
    unit.Write(kDemcr, 1u << 24, true, core);
    for (uint32_t a = w.base - 8; a < w.base + w.length + 8; a += 4)
      EXPECT_EQ(unit.WatchHitsWrite(0, a), a >= w.base && a < w.base + w.length) << std::hex << a;
    unit.MarkWatchHit(w.base + w.length - 1);
    EXPECT_EQ(ReadWord(unit, kDwtCtrl + 0x28) & kMatched, kMatched);
    EXPECT_EQ(ReadWord(unit, kDwtCtrl + 0x28) & kMatched, 0u) << "cleared by reading";
  }
}

TEST(CortexDebugUnit, HaltControlDrivesTheCore) {
  FakeCore core;
  CortexDebugUnit unit(kV7);
  uint32_t dhcsr = 0;
  ASSERT_TRUE(unit.Read(kDhcsr, {true, false}, dhcsr));
  EXPECT_EQ(dhcsr, 1u | (1u << 16) | (1u << 25)) << "attached, running, reset since the last read";
  ASSERT_TRUE(unit.Read(kDhcsr, {false, true}, dhcsr));
  EXPECT_EQ(dhcsr, 2u | (1u << 16) | (1u << 17));

  const struct {
    uint32_t address, value;
    bool halted;
    std::vector<std::string> calls;
  } writes[] = {
      {kDhcsr, 0x00000003, false, {}},  // no key: ignored
      {kDhcsr, 0xA05F0003, false, {"halt"}},
      {kDhcsr, 0xA05F0005, true, {"step"}},
      {kDhcsr, 0xA05F0001, true, {"run"}},
      {kDhcsr, 0xA05F0001, false, {}},  // already running
      {kDcrdr, 77, true, {}},
      {kDcrsr, 0x00010002, true, {"write r2=77"}},
      {kDcrsr, 0x0000000F, true, {"read r15"}},
      {kAircr, 0x05FA0004, true, {"reset run"}},
      {kDemcr, 0x01000001, true, {}},
      {kAircr, 0x05FA0004, true, {"reset halt"}},  // with VC_CORERESET
      {kAircr, 0x00000004, true, {}},              // no key
  };
  for (const auto& w : writes) {
    core.calls.clear();
    EXPECT_TRUE(unit.Write(w.address, w.value, w.halted, core));
    EXPECT_EQ(core.calls, w.calls) << std::hex << w.address << " " << w.value;
  }
  EXPECT_EQ(ReadWord(unit, kDcrdr), 0x100Fu) << "the register read lands in DCRDR";

  unit.NoteHalt(kDfsrBkpt | kDfsrHalted);
  unit.Write(kDfsr, kDfsrHalted, true, core);
  EXPECT_EQ(ReadWord(unit, kDfsr), kDfsrBkpt) << "write one to clear";
}

}  // namespace
}  // namespace sim
