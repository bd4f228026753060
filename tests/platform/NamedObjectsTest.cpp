#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdint>
#include <filesystem>
#include <fstream>

#include "platform/COneInstance2.h"
#include "platform/NamedObjects.h"
#include "platform/ShareArea.h"
#include "TempRuntimeDir.h"

namespace fs = std::filesystem;

namespace {
struct Record {
  uint32_t words[4];
};

unsigned Mode(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return 0xFFFF;
  return st.st_mode & 0777;
}
}  // namespace

TEST(NamedObjects, PrivateFolderAndFilesGoWithTheLastUser) {
  TempRuntimeDir rt;
  const std::string shm = rt.Objects() + "/" +
                          platform::NamedObjectFileName(std::string("dev") + kShareNameSuffix, ".shm");
  const std::string mtx = rt.Objects() + "/" +
                          platform::NamedObjectFileName(std::string("dev") + kMutexNameSuffix, ".mutex");
  {
    ShareArea<Record> a, b;
    a.SetName("dev");
    b.SetName("dev");
    a.Open();
    b.Open();
    ASSERT_TRUE(a.IsOpen());
    EXPECT_EQ(Mode(rt.Objects()), 0700u);
    EXPECT_EQ(Mode(shm), 0600u);
    EXPECT_EQ(Mode(mtx), 0600u);
    a.LockData()->words[0] = 42;
    a.FlushAndUnlock();
    EXPECT_EQ(b.LockData()->words[0], 42u);  // one record for both handles
    b.FlushAndUnlock();
    a.Close();
    EXPECT_TRUE(fs::exists(shm));  // b still uses it
  }
  EXPECT_FALSE(fs::exists(shm));
  EXPECT_FALSE(fs::exists(mtx));
}

TEST(NamedObjects, FileNamesAreSafeAndBounded) {
  EXPECT_EQ(platform::NamedObjectFileName("ICEGlobalData-1a", ".shm"), "ICEGlobalData-1a.shm");
  EXPECT_EQ(platform::NamedObjectFileName("a/b\\c", ".x"), "a%2Fb%5Cc.x");
  EXPECT_EQ(platform::NamedObjectFileName("..", ".x"), "%2E..x");
  const std::string longName(400, '/');
  EXPECT_LE(platform::NamedObjectFileName(longName, ".mutex").size(), 210u);
  EXPECT_NE(platform::NamedObjectFileName(longName, ".x"),
            platform::NamedObjectFileName(longName + "a", ".x"));
}

// Files that nobody holds (a creator that died half-way, or users that were
// killed) are taken as absent: the next opener starts from zero.
TEST(NamedObjects, LeftoverFilesAreStartedAfresh) {
  TempRuntimeDir rt;
  ASSERT_FALSE(platform::NamedObjectDir().empty());
  const std::string base = "left";
  for (const auto& [name, suffix] :
       {std::pair{base + kShareNameSuffix, ".shm"}, std::pair{base + kMutexNameSuffix, ".mutex"}}) {
    std::ofstream f(rt.Objects() + "/" + platform::NamedObjectFileName(name, suffix), std::ios::binary);
    f << "garbage";  // short and not zero
  }
  ShareArea<Record> a;
  a.SetName(base);
  a.Open();
  ASSERT_TRUE(a.IsOpen());
  Record* r = a.LockData();
  ASSERT_TRUE(a.Mutex().IsLocked());
  for (uint32_t w : r->words) EXPECT_EQ(w, 0u);
  a.FlushAndUnlock();
}

TEST(NamedObjects, OpenReportsWhetherTheObjectExisted) {
  TempRuntimeDir rt;
  platform::NamedMutex a, b;
  bool existed = true;
  EXPECT_EQ(a.Open("marker", &existed), platform::OpenStatus::Created);
  EXPECT_FALSE(existed);
  EXPECT_EQ(b.Open("marker", &existed), platform::OpenStatus::Existed);
  EXPECT_TRUE(existed);
}

TEST(ShareArea, DataNeedsTheLock) {
  TempRuntimeDir rt;
  ShareArea<Record> a;
  a.SetName("x");
  a.Open();
  try {
    a.Data();
    FAIL() << "no exception";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "share area not locked");
  }
  a.LockData();
  EXPECT_NE(a.Data(), nullptr);
  a.FlushAndUnlock();
}

TEST(COneInstance2, NamesCarryTheSuffixAndAreCut) {
  COneInstance2 m;
  m.SetName("ICEGlobalMutex");
  EXPECT_EQ(m.GetName(), "ICEGlobalMutex-5004780a-b256-43f3-88f5-1c1a798e40b3");
  m.SetName(std::string(200, 'a'));
  EXPECT_EQ(m.GetName(), std::string(127, 'a'));
  ShareArea<Record> a;
  a.SetName("ICEGlobalData");
  EXPECT_EQ(a.GetName(), "ICEGlobalData-12d3688b-44c0-412a-85dd-5ebcfea9f503");
}

TEST(COneInstance2, WithoutHandleLockIsEmptyAndDataThrows) {
  COneInstance2 m;  // never created
  EXPECT_FALSE(m.Lock(-1));
  EXPECT_FALSE(m.IsLocked());
  m.Unlock();  // nothing held: no release, no throw
}
