// Where a program finds its data: beside the program file first, then the
// installed data folder that the program's own place gives, so that a
// build tree, an installed tree and a moved installed tree all work.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <filesystem>
#include <fstream>

#include "platform/ProgramInfo.h"

namespace fs = std::filesystem;

namespace {

class ProgramData : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/gadrel-prefix-XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    m_prefix = tmpl;
    m_bin = m_prefix / "bin";
    fs::create_directories(m_bin);
  }
  void TearDown() override { fs::remove_all(m_prefix); }
  static void Touch(const fs::path& p) {
    fs::create_directories(p.parent_path());
    std::ofstream(p) << "x";
  }
  fs::path m_prefix, m_bin;
};

TEST_F(ProgramData, TheDataFolderLiesUnderTheProgramsOwnPrefix) {
  const fs::path data = platform::InstalledDataDirs(m_bin).front();
  const fs::path relative = data.lexically_relative(m_prefix);
  ASSERT_FALSE(relative.empty());
  EXPECT_NE(*relative.begin(), "..") << data;  // a moved tree still finds its own data
  EXPECT_EQ(data.filename(), "gadrel");
}

TEST_F(ProgramData, BesideTheProgramComesFirstThenTheInstalledFolder) {
  const fs::path data = platform::InstalledDataDirs(m_bin).front();
  struct Case {
    const char* name;
    bool beside, installed;
    bool expectInstalled;
  };
  for (const Case& c : {Case{"neither", false, false, false}, Case{"installed only", false, true, true},
                        Case{"beside only", true, false, false}, Case{"both", true, true, false}}) {
    SCOPED_TRACE(c.name);
    fs::remove_all(m_prefix / "Gadrel");
    fs::remove_all(data);
    fs::remove_all(m_bin / "Vo_Link");
    if (c.beside) {
      Touch(m_prefix / "Gadrel" / "gadrel.lua");
      fs::create_directories(m_bin / "Vo_Link");
    }
    if (c.installed) {
      Touch(data / "Gadrel" / "gadrel.lua");
      fs::create_directories(data / "Vo_Link");
    }
    // The pin script (<bin>/../Gadrel) and a folder (the firmware images).
    EXPECT_EQ(platform::FindProgramData("../Gadrel/gadrel.lua", "Gadrel/gadrel.lua", m_bin),
              c.expectInstalled ? data / "Gadrel/gadrel.lua" : m_bin / "../Gadrel/gadrel.lua");
    EXPECT_EQ(platform::FindProgramData("Vo_Link", "Vo_Link", m_bin),
              c.expectInstalled ? data / "Vo_Link" : m_bin / "Vo_Link");
  }
}

}  // namespace
