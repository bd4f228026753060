// Properties every row of the compiled tables must have.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <utility>

#include "data/PartTables.h"
#include "script/CPartNum.h"

namespace {

using namespace gadrel::data;

bool Terminated(const char (&name)[32]) { return std::memchr(name, '\0', sizeof name) != nullptr; }

// Each row is found by its own id unless an earlier row has the same id.
void CheckPidTable(std::span<const PartRecord> table, bool is8051, bool familyMayBeNone) {
  ASSERT_FALSE(table.empty());
  std::map<uint32_t, const PartRecord*> first;
  for (const PartRecord& r : table) {
    SCOPED_TRACE(r.name);
    EXPECT_TRUE(Terminated(r.name));
    EXPECT_NE(r.name[0], '\0');
    EXPECT_TRUE(r.family < kFamilyCount || (familyMayBeNone && r.family == kNoFamily));
    first.emplace(r.pid, &r);
  }
  for (const auto& [pid, row] : first) {
    uint32_t family = 0;
    EXPECT_EQ(CPartNum().GetPartNumByPID(pid, is8051, family), row->name);
    EXPECT_EQ(family, row->family);
  }
}

TEST(PartTables, CortexM) { CheckPidTable(CortexMParts(), false, false); }
TEST(PartTables, Parts8051) { CheckPidTable(Parts8051(), true, true); }

TEST(PartTables, ThirdKindExact) {
  std::map<uint32_t, const PartRecord*> first;
  for (const PartRecord& r : PloskExactParts()) {
    EXPECT_TRUE(Terminated(r.name));
    EXPECT_LT(r.family, kFamilyCount);
    first.emplace(r.pid, &r);
  }
  for (const auto& [pid, row] : first) {
    uint32_t family = 0;
    EXPECT_EQ(CPartNum().GetPartNumByPID2(pid, 0x42D, family), row->name);
    EXPECT_EQ(family, row->family);
  }
}

TEST(PartTables, ThirdKindMasked) {
  std::map<std::pair<uint32_t, uint32_t>, const MaskedPartRecord*> first;
  for (const MaskedPartRecord& r : PloskMaskedParts()) {
    SCOPED_TRACE(r.name);
    EXPECT_TRUE(Terminated(r.name));
    EXPECT_EQ(r.pidKey & ~kMaskedPidMask, 0u);
    EXPECT_EQ(r.secondIdKey & ~kMaskedSecondIdMask, 0u);
    EXPECT_LT(r.family, kFamilyCount);
    first.emplace(std::make_pair(r.pidKey, r.secondIdKey), &r);
  }
  for (const auto& [keys, row] : first) {
    uint32_t family = 0;
    EXPECT_EQ(CPartNum().GetPartNumByPID2(keys.first, keys.second, family), row->name);
    EXPECT_EQ(family, row->family);
  }
}

TEST(PartTables, DefaultThirdKindName) { EXPECT_EQ(std::strlen(kPloskDefaultName), 8u); }

}  // namespace
