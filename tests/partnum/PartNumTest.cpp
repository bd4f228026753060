// Lookups of CPartNum against the compiled product tables.
#include <gtest/gtest.h>

#include <array>
#include <cctype>
#include <cstdio>
#include <cstdint>
#include <cstring>
#include <ostream>
#include <set>
#include <string>

#include "script/CPartNum.h"

namespace {

uint32_t Family(const char* identifier) {
  for (size_t i = 0; i < PartFamilyCount(); ++i)
    if (std::strcmp(PartFamilyName(i), identifier) == 0) return static_cast<uint32_t>(i);
  ADD_FAILURE() << "no family " << identifier;
  return 0xDEADBEEF;
}

constexpr uint32_t kNoFamily = 0xFFFFFFFFu;

struct PidCase {
  uint32_t pid;
  bool is8051;
  const char* name;
  const char* family;  // nullptr: not found (0); "-": no family
};

void PrintTo(const PidCase& c, std::ostream* os) { *os << c.name; }

class PidLookup : public testing::TestWithParam<PidCase> {};

TEST_P(PidLookup, NameAndFamily) {
  const PidCase& c = GetParam();
  uint32_t family = 12345;
  EXPECT_EQ(CPartNum().GetPartNumByPID(c.pid, c.is8051, family), c.name);
  const uint32_t expected = !c.family ? 0 : std::strcmp(c.family, "-") == 0 ? kNoFamily : Family(c.family);
  EXPECT_EQ(family, expected);
}

INSTANTIATE_TEST_SUITE_P(
    Tables, PidLookup,
    testing::Values(
        // Cortex-M: demo chip, first and last rows, a shadowed duplicate.
        PidCase{0x00D41200, false, "GX32M412VE", "PROJ_GX32M412"},
        PidCase{0x00A01004, false, "GX32M010F4", "PROJ_GX32M010"},
        PidCase{0x00F91008, false, "GX32R010C8", "PROJ_GX32R010"},
        PidCase{0x00A0510C, false, "GX32M051ZC", "PROJ_GX32M051"},
        // Misses: lower-case hex of the whole id, family 0.
        PidCase{0x00001234, false, "[00001234]", nullptr},
        PidCase{0x00ABCDEF, false, "[00abcdef]", nullptr},
        PidCase{0xFFFFFFFF, false, "[ffffffff]", nullptr},
        PidCase{0x00000000, false, "[00000000]", nullptr},
        PidCase{0x01D41200, false, "[01d41200]", nullptr},  // every bit of the key counts
        // The flag selects the table: each demo id is missing from the other.
        PidCase{0x00002B52, false, "[00002b52]", nullptr},
        PidCase{0x00D41200, true, "[00d41200]", nullptr},
        // 8051: demo chip, parts without family, a shadowed duplicate.
        PidCase{0x00002B52, true, "GX8051T24", "PROJ_GX8051T"},
        PidCase{0x00005072, true, "GX8051M64", "PROJ_GX8051M"},
        PidCase{0x00009047, true, "GX8051X01", "-"},
        PidCase{0x00009048, true, "GX8051X02", "-"},
        PidCase{0x00001234, true, "[00001234]", nullptr}),
    [](const testing::TestParamInfo<PidCase>& info) {
      char name[32];
      std::snprintf(name, sizeof name, "%s_%08X", info.param.is8051 ? "C51" : "CM", info.param.pid);
      return std::string(name);
    });

struct Pid2Case {
  uint32_t pid;
  uint32_t secondId;
  const char* name;
  const char* family;  // nullptr: not found (0)
};

void PrintTo(const Pid2Case& c, std::ostream* os) { *os << c.name; }

class ThirdKindLookup : public testing::TestWithParam<Pid2Case> {};

TEST_P(ThirdKindLookup, NameAndFamily) {
  const Pid2Case& c = GetParam();
  uint32_t family = 12345;
  EXPECT_EQ(CPartNum().GetPartNumByPID2(c.pid, c.secondId, family), c.name);
  EXPECT_EQ(family, c.family ? Family(c.family) : 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Tables, ThirdKindLookup,
    testing::Values(
        // Masked table: the demo chip, with and without stray bits around the keys.
        Pid2Case{0x00A30000, 0x00010100, "GX32P100", "PROJ_GX32P1"},
        Pid2Case{0x12A3ABCD, 0xFFF9F9FF, "GX32P100", "PROJ_GX32P1"},
        Pid2Case{0x00A30000, 0x00010200, "GX32P101", "PROJ_GX32P1"},
        Pid2Case{0x00A60000, 0x00070700, "GX32P400", "PROJ_GX32P4"},
        Pid2Case{0x00A60000, 0x00000000, "GX32P401", "PROJ_GX32P4"},
        // Two rows with the same keys: the first one wins.
        Pid2Case{0x00A40000, 0x00020200, "GX32P210", "PROJ_GX32P2"},
        // 0x42C masks to 0x400 and stays in the masked table ...
        Pid2Case{0x00A30000, 0x0000042C, "GX32P10Z", "PROJ_GX32P1"},
        // ... while 0x42D selects the exact-id table.
        Pid2Case{0x00A30000, 0x0000042D, "[00a30000]", nullptr},
        Pid2Case{0x00A30010, 0x0000042D, "GX32P300VG", "PROJ_GX32P3"},
        Pid2Case{0x00A40012, 0x0000042D, "GX32P400ZI", "PROJ_GX32P4"},
        Pid2Case{0x00A50012, 0x0000042D, "GX32P500ZI", "PROJ_GX32P5"},
        Pid2Case{0x00A5001F, 0x0000042D, "[00a5001f]", nullptr},
        // No masked row: the default name, family 0.
        Pid2Case{0x00B00000, 0x00010100, "GX32Pxxx", nullptr},
        Pid2Case{0x00A30000, 0x00030300, "GX32Pxxx", nullptr},
        Pid2Case{0x00A11006, 0x00000000, "GX32Pxxx", nullptr}),
    [](const testing::TestParamInfo<Pid2Case>& info) {
      char name[32];
      std::snprintf(name, sizeof name, "%08X_%08X", info.param.pid, info.param.secondId);
      return std::string(name);
    });

// Builds unique-id words holding `name` right-aligned in w2, w1, w0 (most
// significant byte first, 0xFF in front) with `w3` as the fourth word.
std::array<uint32_t, 4> UcidWords(const std::string& name, uint32_t w3) {
  std::array<uint8_t, 12> bytes;
  bytes.fill(0xFF);
  std::memcpy(bytes.data() + 12 - name.size(), name.data(), name.size());
  std::array<uint32_t, 4> w{};
  for (int j = 0; j < 3; ++j)
    w[2 - j] = uint32_t(bytes[4 * j]) << 24 | uint32_t(bytes[4 * j + 1]) << 16 |
               uint32_t(bytes[4 * j + 2]) << 8 | bytes[4 * j + 3];
  w[3] = w3;
  return w;
}

struct UcidCase {
  const char* what;
  std::array<uint32_t, 4> w;
  uint32_t pid;
  const char* name;
};

void PrintTo(const UcidCase& c, std::ostream* os) { *os << '"' << c.name << '"'; }

class UcidLookup : public testing::TestWithParam<UcidCase> {};

TEST_P(UcidLookup, Name) {
  const UcidCase& c = GetParam();
  EXPECT_EQ(CPartNum().GetPartNumByUCID(c.w.data(), c.pid), c.name) << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    Words, UcidLookup,
    testing::Values(
        UcidCase{"all words erased", {0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF}, 0x00D41200, ""},
        UcidCase{"tag 2: no name", UcidWords("GX32M412VE", 0x20000000), 0x00D41200, ""},
        UcidCase{"tag 2 with other bits", UcidWords("GX32M412VE", 0xEFFFFFFF), 0x00D41200, ""},
        UcidCase{"tag 0: the PID in upper case", UcidWords("GX32M412VE", 0x00000000), 0x00abcd12,
                 "[00ABCD12]"},
        UcidCase{"tag 0 with bits 30, 31 set", {0, 0, 0, 0xC0000000}, 0xdeadbeef, "[DEADBEEF]"},
        UcidCase{"demo chip as documented", {0x31325645, 0x33324D34, 0xFFFF4758, 0x1ABCDEF0}, 0,
                 "GX32M412VE"},
        UcidCase{"tag 1, ten characters", UcidWords("GX32M412VE", 0x10000000), 0, "GX32M412VE"},
        UcidCase{"tag 3, two characters", UcidWords("AB", 0xFFFFFFFF), 0, "AB"},
        UcidCase{"tag 1, one character", UcidWords("Z", 0x1234ABCD), 0, "Z"},
        UcidCase{"tag 1, five characters", UcidWords("GX805", 0x10000000), 0, "GX805"},
        UcidCase{"tag 3, all twelve bytes", UcidWords("GX8051T24ABC", 0x30000000), 0, "GX8051T24ABC"},
        UcidCase{"tag 3, w2 is the first word", {0x494A4B4C, 0x45464748, 0x41424344, 0x30000000}, 0,
                 "ABCDEFGHIJKL"},
        UcidCase{"tag 1, only padding", {0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0x10000000}, 0, ""},
        // Every 0xFF byte counts as padding, wherever it stands: an inner one
        // shifts the text onto a zero byte.
        UcidCase{"inner 0xFF byte", {0xFF424344, 0xFFFFFF41, 0xFFFFFFFF, 0x10000000}, 0, ""},
        UcidCase{"zero byte ends the text", {0x43004142, 0xFFFFFFFF, 0xFFFFFFFF, 0x10000000}, 0, "C"}),
    [](const testing::TestParamInfo<UcidCase>& info) {
      std::string name = info.param.what;
      for (char& c : name)
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
      return name;
    });

TEST(PartNum, SupportedPid8051LooksAtTheLowByteOnly) {
  const std::set<uint32_t> supported = {0x47, 0x48, 0x49, 0x4B, 0x52, 0x53, 0x57, 0x63, 0x67, 0x72};
  for (uint32_t low = 0; low < 0x100; ++low) {
    const bool expected = supported.count(low) != 0;
    EXPECT_EQ(CPartNum::IsSupportedPID_8051(low), expected) << std::hex << low;
    EXPECT_EQ(CPartNum::IsSupportedPID_8051(0xABCDEF00 | low), expected) << std::hex << low;
  }
  EXPECT_TRUE(CPartNum::IsSupportedPID_8051(0x1247));
  EXPECT_FALSE(CPartNum::IsSupportedPID_8051(0x50));
  EXPECT_FALSE(CPartNum::IsSupportedPID_8051(0x4700));
}

TEST(PartNum, FamilyIdentifiers) {
  ASSERT_EQ(PartFamilyCount(), 97u);
  std::set<std::string> seen;
  for (size_t i = 0; i < PartFamilyCount(); ++i) {
    const std::string name = PartFamilyName(i);
    EXPECT_EQ(name.rfind("PROJ_", 0), 0u) << i;
    EXPECT_GT(name.size(), 5u) << i;
    EXPECT_LE(name.size(), 15u) << i;
    EXPECT_TRUE(seen.insert(name).second) << "duplicate " << name;
  }
  EXPECT_STREQ(PartFamilyName(97), "");
  EXPECT_STREQ(PartFamilyName(static_cast<size_t>(-1)), "");
}

// Scripts compare family indexes with pn.PROJ_...; these positions must not move.
TEST(PartNum, FamilyIndexesOfTheDemoChipsAreStable) {
  EXPECT_STREQ(PartFamilyName(0), "PROJ_UNKNOWN");
  EXPECT_STREQ(PartFamilyName(27), "PROJ_GX32M412");
  EXPECT_STREQ(PartFamilyName(81), "PROJ_GX8051T");
  EXPECT_STREQ(PartFamilyName(91), "PROJ_GX32P1");
  EXPECT_STREQ(PartFamilyName(96), "PROJ_GX32P6");
}

}  // namespace
