// Named objects between real processes (fork/exec of platform_child).
#include <gtest/gtest.h>

#include <cstdint>
#include <future>
#include <memory>
#include <thread>
#include <vector>

#include "ChildProcess.h"
#include "platform/COneInstance.h"
#include "platform/COneInstance2.h"
#include "platform/ShareArea.h"
#include "TempRuntimeDir.h"

namespace {
struct Counter {
  uint32_t value;
};

std::unique_ptr<ChildProcess> Child(std::vector<std::string> args) {
  args.insert(args.begin(), PLATFORM_CHILD);
  return std::make_unique<ChildProcess>(args);
}
}  // namespace

TEST(CrossProcess, ProcessesShareOneCounter) {
  TempRuntimeDir rt;
  ShareArea<Counter> area;  // keeps the record alive until all are done
  area.SetName("counter");
  area.Open();
  constexpr int kChildren = 3, kEach = 3000;
  std::vector<std::unique_ptr<ChildProcess>> children;
  for (int i = 0; i < kChildren; ++i) children.push_back(Child({"count", "counter", std::to_string(kEach)}));
  for (int i = 0; i < kEach; ++i) {
    area.LockData()->value += 1;
    area.FlushAndUnlock();
  }
  for (auto& c : children) EXPECT_EQ(c->Wait(), 0);
  EXPECT_EQ(area.LockData()->value, static_cast<uint32_t>((kChildren + 1) * kEach));
  area.FlushAndUnlock();
}

TEST(CrossProcess, RecursionThroughASecondHandle) {
  TempRuntimeDir rt;
  COneInstance2 a, b;
  a.SetName("adapter");
  b.SetName("adapter");
  a.CreateAndLock(-1);
  b.CreateAndLock(0);  // same thread: taken again through the second handle
  ASSERT_TRUE(a.IsLocked());
  ASSERT_TRUE(b.IsLocked());
  EXPECT_EQ(Child({"try", "adapter"})->Wait(), 1);
  a.Unlock();
  EXPECT_EQ(Child({"try", "adapter"})->Wait(), 1);  // one level still held
  b.Unlock();
  EXPECT_EQ(Child({"try", "adapter"})->Wait(), 0);
}

TEST(CrossProcess, CreateAndLockZeroOnAMutexHeldElsewhere) {
  TempRuntimeDir rt;
  auto holder = Child({"hold", "adapter"});
  ASSERT_EQ(holder->ReadLine(), "locked");
  COneInstance2 m;
  m.SetName("adapter");
  m.CreateAndLock(0);
  EXPECT_FALSE(m.IsLocked());
  EXPECT_FALSE(m.HasHandle());
  m.Create();
  EXPECT_FALSE(m.Lock(50));  // a timed wait gives up as well
  m.Close();
  holder->CloseInput();  // the holder lets go and exits
  EXPECT_EQ(holder->Wait(), 0);
  m.CreateAndLock(0);
  EXPECT_TRUE(m.IsLocked());
  m.UnlockAndClose();
}

TEST(CrossProcess, KilledOwnerPassesTheMutexToTheWaiter) {
  TempRuntimeDir rt;
  auto holder = Child({"hold", "adapter"});
  ASSERT_EQ(holder->ReadLine(), "locked");
  COneInstance2 m;
  m.SetName("adapter");
  m.Create();
  // The mutex belongs to the thread that takes it: that thread lets go too.
  auto waiter = std::async(std::launch::async, [&] {
    const bool locked = m.Lock(20000);
    const bool abandoned = m.WasAbandoned();
    if (locked) m.Unlock();
    return std::pair{locked, abandoned};
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));  // let it wait
  holder->Kill();
  EXPECT_EQ(holder->Wait(), 128 + SIGKILL);
  const auto [locked, abandoned] = waiter.get();
  ASSERT_TRUE(locked);
  EXPECT_TRUE(abandoned);
  // The mutex is usable afterwards, by this and by other processes.
  EXPECT_EQ(Child({"try", "adapter"})->Wait(), 0);
  EXPECT_TRUE(m.Lock(0));
  EXPECT_FALSE(m.WasAbandoned());
  m.UnlockAndClose();
}

TEST(CrossProcess, CreatorsRacingKeepOneRecord) {
  TempRuntimeDir rt;
  constexpr int kChildren = 6;
  std::vector<std::unique_ptr<ChildProcess>> children;
  for (int i = 0; i < kChildren; ++i) children.push_back(Child({"race", "fresh"}));
  for (auto& c : children) c->Send("g");  // all start creating at once
  for (auto& c : children) ASSERT_EQ(c->ReadLine(), "done");
  ShareArea<Counter> area;
  area.SetName("fresh");
  area.Open();
  EXPECT_EQ(area.LockData()->value, static_cast<uint32_t>(kChildren));  // none started anew
  area.FlushAndUnlock();
  for (auto& c : children) c->CloseInput();
  for (auto& c : children) EXPECT_EQ(c->Wait(), 0);
}

TEST(CrossProcess, RecordOfKilledUsersStartsFromZero) {
  TempRuntimeDir rt;
  {
    auto c = Child({"race", "gone"});
    c->Send("g");
    ASSERT_EQ(c->ReadLine(), "done");
    c->Kill();
    c->Wait();
  }
  ShareArea<Counter> area;
  area.SetName("gone");
  area.Open();
  EXPECT_EQ(area.LockData()->value, 0u);  // as a mapping whose last user died
  area.FlushAndUnlock();
}

TEST(CrossProcess, PresenceMarkerTellsWhetherAnotherProgramHasItOpen) {
  TempRuntimeDir rt;
  {
    COneInstance alone;
    alone.SetName("family-marker");
    alone.CreateExclusive();
    EXPECT_TRUE(alone.IsCreated());
    EXPECT_FALSE(alone.ExistedBefore());
  }
  auto other = Child({"marker", "family-marker"});
  ASSERT_EQ(other->ReadLine(), "open");
  COneInstance exclusive, shared;
  exclusive.SetName("family-marker");
  exclusive.CreateExclusive();
  EXPECT_FALSE(exclusive.IsCreated());
  shared.SetName("family-marker");
  shared.CreateShared();
  EXPECT_TRUE(shared.IsCreated());
  EXPECT_TRUE(shared.ExistedBefore());
  shared.Close();
  EXPECT_FALSE(shared.IsCreated());
  EXPECT_FALSE(shared.ExistedBefore());

  // A holder that dies leaves no marker behind.
  other->Kill();
  other->Wait();
  exclusive.CreateExclusive();
  EXPECT_TRUE(exclusive.IsCreated());
}
