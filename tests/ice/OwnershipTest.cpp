// Adapter ownership between real processes (ownership_child) and the shared
// table of owned keys.
#include <gtest/gtest.h>

#include <memory>

#include "../platform/ChildProcess.h"
#include "../platform/TempRuntimeDir.h"
#include "ice/CICEGlobalMutex.h"

namespace {

std::unique_ptr<ChildProcess> Child(std::vector<std::string> args) {
  args.insert(args.begin(), OWNERSHIP_CHILD);
  return std::make_unique<ChildProcess>(args);
}

// A second view of the table, as another program sees it.
class TableView {
 public:
  TableView() {
    m_area.SetName(CICEGlobalMutex::kTableName);
    m_area.Open();
  }
  CICEGlobalData Read() {
    const CICEGlobalData copy = *m_area.LockData();
    m_area.FlushAndUnlock();
    return copy;
  }
  template <class F>
  void Edit(F f) {
    f(*m_area.LockData());
    m_area.FlushAndUnlock();
  }

 private:
  ShareArea<CICEGlobalData> m_area;
};

int FlaggedCount(const CICEGlobalData& t) {
  int n = 0;
  for (uint8_t f : t.bInUse) n += f != 0;
  return n;
}

}  // namespace

TEST(Ownership, FreshTableRegistersInEntryZeroAndReleaseClearsIt) {
  TempRuntimeDir rt;
  TableView view;
  CICEGlobalMutex owner;
  uint32_t key = 0;
  EXPECT_FALSE(owner.GetKey(&key));
  owner.SetKey(0x1A2B);
  ASSERT_TRUE(owner.GetKey(&key));
  EXPECT_EQ(key, 0x1A2Bu);
  owner.Acquire();
  ASSERT_TRUE(owner.IsAcquired());
  CICEGlobalData t = view.Read();
  EXPECT_EQ(t.dwKey[0], 0x1A2Bu);
  EXPECT_EQ(t.bInUse[0], 1);
  EXPECT_EQ(FlaggedCount(t), 1);
  EXPECT_EQ(Child({"hold", "1a2b"})->ReadLine(), "refused");

  owner.Release();
  EXPECT_FALSE(owner.IsAcquired());
  EXPECT_EQ(FlaggedCount(view.Read()), 0);
  owner.ClearKey();
  EXPECT_FALSE(owner.GetKey(&key));
}

TEST(Ownership, AnAdapterHasOneOwnerAndADeadOwnerFreesItAtOnce) {
  TempRuntimeDir rt;
  TableView view;
  auto first = Child({"hold", "a1"});
  ASSERT_EQ(first->ReadLine(), "owned");
  EXPECT_TRUE(CICEGlobalMutex::IsAdapterInUse(0xA1));
  EXPECT_FALSE(CICEGlobalMutex::IsAdapterInUse(0xA2));

  CICEGlobalMutex owner;
  owner.SetKey(0xA1);
  owner.Acquire();
  EXPECT_FALSE(owner.IsAcquired());
  EXPECT_EQ(FlaggedCount(view.Read()), 1);  // the refusal left nothing behind

  // Another adapter while the first program runs: its entry is live.
  owner.SetKey(0xA2);
  owner.Acquire();
  ASSERT_TRUE(owner.IsAcquired());
  EXPECT_EQ(FlaggedCount(view.Read()), 2);
  owner.Release();

  first->Kill();
  first->Wait();
  EXPECT_FALSE(CICEGlobalMutex::IsAdapterInUse(0xA1));
  owner.SetKey(0xA1);
  owner.Acquire();
  EXPECT_TRUE(owner.IsAcquired());
  owner.Release();
}

TEST(Ownership, StaleEntryOfAKilledOwnerIsClearedByTheLivenessTest) {
  TempRuntimeDir rt;
  TableView view;  // keeps the table while the owner dies
  auto first = Child({"hold", "b1"});
  ASSERT_EQ(first->ReadLine(), "owned");
  CICEGlobalData t = view.Read();
  ASSERT_EQ(t.bInUse[0], 1);
  EXPECT_TRUE(CICEGlobalMutex::IsEntryLive(t, 0));
  first->Kill();
  first->Wait();
  view.Edit([](CICEGlobalData& d) {
    EXPECT_FALSE(CICEGlobalMutex::IsEntryLive(d, 0));
    EXPECT_EQ(d.bInUse[0], 0);
  });
}

TEST(Ownership, FullTableOfStaleEntriesIsReclaimed) {
  TempRuntimeDir rt;
  TableView view;
  view.Edit([](CICEGlobalData& d) {
    for (int i = 0; i < CICEGlobalData::kEntries; ++i) {
      d.dwKey[i] = 0x100u + static_cast<uint32_t>(i);
      d.bInUse[i] = 1;
    }
  });
  CICEGlobalMutex owner;
  owner.SetKey(0xC0FFEE);
  owner.Acquire();
  ASSERT_TRUE(owner.IsAcquired());
  const CICEGlobalData t = view.Read();
  EXPECT_EQ(t.dwKey[0], 0xC0FFEEu);
  EXPECT_EQ(t.bInUse[0], 1);
  EXPECT_EQ(FlaggedCount(t), 1);
}

TEST(Ownership, FullTableOfLiveEntriesLeavesTheKeyUnregisteredButOwned) {
  TempRuntimeDir rt;
  TableView view;
  auto other = Child({"hold", "d0"});
  ASSERT_EQ(other->ReadLine(), "owned");
  view.Edit([](CICEGlobalData& d) {
    for (int i = 0; i < CICEGlobalData::kEntries; ++i) {
      d.dwKey[i] = 0xD0;
      d.bInUse[i] = 1;
    }
  });
  CICEGlobalMutex owner;
  owner.SetKey(0xD1);
  owner.Acquire();
  EXPECT_TRUE(owner.IsAcquired());
  for (uint32_t k : view.Read().dwKey) EXPECT_EQ(k, 0xD0u);
  EXPECT_EQ(Child({"hold", "d1"})->ReadLine(), "refused");
}

TEST(Ownership, OneReleaseRemovesAKeyRegisteredTwice) {
  TempRuntimeDir rt;
  TableView view;
  CICEGlobalMutex owner;
  owner.SetKey(0xE1);
  owner.Acquire();
  ASSERT_TRUE(owner.IsAcquired());
  view.Edit([](CICEGlobalData& d) {
    d.dwKey[5] = 0xE1;
    d.bInUse[5] = 1;
    d.dwKey[6] = 0xE2;  // someone else's entry stays
    d.bInUse[6] = 1;
  });
  owner.Release();
  const CICEGlobalData t = view.Read();
  EXPECT_EQ(t.bInUse[0], 0);
  EXPECT_EQ(t.bInUse[5], 0);
  EXPECT_EQ(t.bInUse[6], 1);
}

TEST(Ownership, RefusedWhenTheFamilyRunsWithoutTheTable) {
  TempRuntimeDir rt;
  auto outsider = Child({"marker"});
  ASSERT_EQ(outsider->ReadLine(), "ready");
  CICEGlobalMutex owner;
  owner.SetKey(0xF1);
  owner.Acquire();
  EXPECT_FALSE(owner.IsAcquired());
  EXPECT_EQ(Child({"hold", "f1"})->ReadLine(), "refused");  // nor does anyone else get it
  outsider->CloseInput();
  EXPECT_EQ(outsider->Wait(), 0);
  owner.Acquire();
  EXPECT_TRUE(owner.IsAcquired());
}

TEST(Ownership, TakingAnotherAdapterGivesUpTheFirst) {
  TempRuntimeDir rt;
  CICEGlobalMutex owner;
  owner.SetKey(0x11);
  owner.Acquire();
  owner.SetKey(0x22);
  EXPECT_TRUE(owner.IsHolding(0x11));
  owner.Acquire();
  EXPECT_TRUE(owner.IsHolding(0x22));
  EXPECT_EQ(Child({"hold", "11"})->ReadLine(), "owned");
  EXPECT_EQ(Child({"hold", "22"})->ReadLine(), "refused");
}
