// Flash access to the adapter's own microcontroller against the emulator:
// the boot-loader area erased, written and verified on every family with
// the adapter ID kept, the access bit, the configuration kept, and the
// bounded waits of a controller that stays busy or never unlocks.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>

#include "fwupdate/BootLoaderOps.h"
#include "fwupdate/CHexBinFile.h"
#include "fwupdate/FirmwareImages.h"
#include "ice/CICE_M4.h"
#include "ice/SimFixture.h"
#include "sim/Images.h"

namespace fs = std::filesystem;
using namespace fwupdate;

namespace {

struct FamilyCase {
  const char* name;  // also the test's name
  int generation;
  uint32_t chipId;
  McuClass mcuClass;
};

const FamilyCase kFamilies[] = {
    {"FirstFamily4K", 0, 0x00012345, McuClass::First0},
    {"FirstFamily8K", 0, 0x40012009, McuClass::First1},
    {"SecondFamily", 1, 0x00D4851F, McuClass::Second},
    {"ThirdFamily", 2, 0xA2000340, McuClass::Third},
};

std::string Config(const FamilyCase& f, const std::string& adapterId) {
  char chip[16];
  std::snprintf(chip, sizeof chip, "0x%08X", f.chipId);
  return R"({"adapters": [{"name": "a", "generation": )" + std::to_string(f.generation) + R"(, "chip_id": ")" +
         chip + R"(", "adapter_id": ")" + adapterId + R"(", "target": {"kind": "none"}}]})";
}

// Short bounds, so that the faults below end quickly.
FlashTimings Quick() {
  FlashTimings t;
  t.busyWait = std::chrono::milliseconds(300);
  t.clockWait = std::chrono::milliseconds(1);
  t.unlockAttempts = 3;
  return t;
}

// The emulator, an adapter opened on it and the class's images written by
// volink-sim's image maker.
struct Bench {
  explicit Bench(const FamilyCase& f, const std::string& adapterId = "0x7788BEEF")
      : sim(Config(f, adapterId), 1), images(MakeImageObjects(f.mcuClass)) {
    OpenAdapter(ice, 0, false);
    folder = fs::path(sim.Dir()) / "Vo_Link";
    sim::images::WriteImageSet(folder);
    LoadFirmwareImages(&images.loader, nullptr, HasSecondLoader(f.mcuClass) ? &images.second : nullptr, f.mcuClass,
                       {folder, ""});
  }
  BootLoaderImages Images() const { return {&images.loader, images.second.IsLoaded() ? &images.second : nullptr}; }

  SimProcess sim;
  CICE_M4 ice;
  ImageObjects images;
  fs::path folder;
};

std::vector<uint32_t> ConfigWords(CICE& ice, McuClass mcuClass) {
  auto flash = OpenAdapterFlash(ice, mcuClass, Quick());
  const uint32_t base = flash->Layout().configBase;
  std::vector<uint32_t> words;
  for (unsigned i = 0; i < kConfigWords; ++i) words.push_back(flash->ReadWord(base + 4 * i));
  return words;
}

}  // namespace

class EveryFamily : public ::testing::TestWithParam<FamilyCase> {};

TEST_P(EveryFamily, EraseWriteAndVerifyKeepTheAdapterId) {
  {
    const FamilyCase& f = GetParam();
    Bench b(f);
    std::vector<int> verify;
    int updates = 0;
    Progress p;
    p.report = [&](ProgressKind kind, int percent) {
      if (kind == ProgressKind::Verify) verify.push_back(percent);
      if (kind == ProgressKind::Update) updates = percent;
    };

    // The emulated adapter holds the boot loader its images were made from.
    BootLoaderCheck c = CheckBootLoader(b.ice, f.mcuClass, b.Images(), p, Quick());
    EXPECT_TRUE(c.matches);
    EXPECT_EQ(c.adapterId, 0x7788BEEFu);
    ASSERT_FALSE(verify.empty());
    EXPECT_TRUE(std::is_sorted(verify.begin(), verify.end()));
    EXPECT_EQ(verify.back(), 100);
    EXPECT_EQ(ReadAdapterId(b.ice, f.mcuClass, Quick()), 0x7788BEEFu);
    EXPECT_EQ(b.ice.ReadAdapterId(), 0x7788BEEFu);  // the adapter layer reads the same word

    const std::vector<uint32_t> configBefore = ConfigWords(b.ice, f.mcuClass);
    SetBootLoaderAccess(b.ice, f.mcuClass, true, Quick());
    ASSERT_TRUE(EraseBootLoader(b.ice, f.mcuClass, 0, 10, p, Quick()));
    EXPECT_EQ(updates, 10);
    c = CheckBootLoader(b.ice, f.mcuClass, b.Images(), {}, Quick());
    EXPECT_FALSE(c.matches);
    EXPECT_EQ(c.adapterId, 0xFFFFFFFFu);

    EXPECT_EQ(WriteBootLoader(b.ice, f.mcuClass, 10, 10, b.Images(), 0x7788BEEF, p, Quick()), 0x7788BEEFu);
    EXPECT_EQ(updates, 20);
    SetBootLoaderAccess(b.ice, f.mcuClass, false, Quick());
    c = CheckBootLoader(b.ice, f.mcuClass, b.Images(), {}, Quick());
    EXPECT_TRUE(c.matches);
    EXPECT_EQ(c.adapterId, 0x7788BEEFu);
    EXPECT_EQ(b.ice.ReadAdapterId(), 0x7788BEEFu);

    // Every configuration word but word 0 survived the two rewrites.
    const std::vector<uint32_t> configAfter = ConfigWords(b.ice, f.mcuClass);
    for (unsigned i = 1; i < kConfigWords; ++i) EXPECT_EQ(configAfter[i], configBefore[i]) << "word " << i;
    EXPECT_EQ(configAfter[0] & 0x80, f.mcuClass == McuClass::Third ? 0x80u : 0u);  // access off again
  }
}

INSTANTIATE_TEST_SUITE_P(BootLoader, EveryFamily, ::testing::ValuesIn(kFamilies),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(BootLoader, AccessBitGuardsTheArea) {
  for (const FamilyCase& f : {kFamilies[1], kFamilies[3]}) {
    SCOPED_TRACE(f.name);
    Bench b(f);
    SetBootLoaderAccess(b.ice, f.mcuClass, false, Quick());
    try {
      EraseBootLoader(b.ice, f.mcuClass, 0, 10, {}, Quick());
      ADD_FAILURE() << "erased without access";
    } catch (const CICEException& e) {
      EXPECT_STREQ(e.GetMessage(), "Can not execute flash command.");
    }
    EXPECT_EQ(b.ice.ReadAdapterId(), 0x7788BEEFu);
    SetBootLoaderAccess(b.ice, f.mcuClass, true, Quick());
    EXPECT_TRUE(EraseBootLoader(b.ice, f.mcuClass, 0, 10, {}, Quick()));
  }
}

TEST(BootLoader, AnAdapterWithoutIdGetsANewOne) {
  for (const char* blank : {"0xFFFFFFFF", "0"}) {
    SCOPED_TRACE(blank);
    const FamilyCase& f = kFamilies[2];
    Bench b(f, blank);
    const BootLoaderCheck c = CheckBootLoader(b.ice, f.mcuClass, b.Images(), {}, Quick());
    SetBootLoaderAccess(b.ice, f.mcuClass, true, Quick());
    EraseBootLoader(b.ice, f.mcuClass, 0, 10, {}, Quick());
    const uint32_t id = WriteBootLoader(b.ice, f.mcuClass, 10, 10, b.Images(), c.adapterId, {}, Quick());
    EXPECT_EQ(id & 0xFFFF0000u, 0x77880000u);
    const BootLoaderCheck after = CheckBootLoader(b.ice, f.mcuClass, b.Images(), {}, Quick());
    EXPECT_TRUE(after.matches);
    EXPECT_EQ(after.adapterId, id);
  }
  EXPECT_EQ(MakeAdapterId(0x12345678, 0x9ABCDEF0), 0x7788F078u);
}

TEST(BootLoader, StoppingTheStageStopsTheErase) {
  const FamilyCase& f = kFamilies[1];
  Bench b(f);
  SetBootLoaderAccess(b.ice, f.mcuClass, true, Quick());
  int pages = 0;
  Progress p;
  p.report = [&](ProgressKind, int) { ++pages; };
  p.stillCurrent = [&] { return pages < 3; };
  EXPECT_FALSE(EraseBootLoader(b.ice, f.mcuClass, 0, 10, p, Quick()));
  EXPECT_EQ(pages, 3);
}

TEST(BootLoader, BusyFlagThatNeverClearsAndRegistersThatNeverUnlock) {
  const FamilyCase& f = kFamilies[2];
  Bench b(f);
  auto flash = OpenAdapterFlash(b.ice, f.mcuClass, Quick());
  ASSERT_EQ(b.sim.Ctl("flash-busy a on").rfind("ok", 0), 0u);
  try {
    flash->ReadWord(0x00100000);
    ADD_FAILURE() << "no error";
  } catch (const CICEException& e) {
    EXPECT_STREQ(e.GetMessage(), "Can not wait flash command.");
  }
  flash.reset();  // closing swallows what goes wrong
  ASSERT_EQ(b.sim.Ctl("flash-busy a off").rfind("ok", 0), 0u);

  ASSERT_EQ(b.sim.Ctl("flash-lock a on").rfind("ok", 0), 0u);
  try {
    OpenAdapterFlash(b.ice, f.mcuClass, Quick());
    ADD_FAILURE() << "opened";
  } catch (const CICEException& e) {
    EXPECT_STREQ(e.GetMessage(), "Can not enable flash operator.");
  }
  ASSERT_EQ(b.sim.Ctl("flash-lock a off").rfind("ok", 0), 0u);
  // Slow operations are waited for.
  ASSERT_EQ(b.sim.Ctl("flash-time a 20000").rfind("ok", 0), 0u);
  EXPECT_EQ(ReadAdapterId(b.ice, f.mcuClass, Quick()), 0x7788BEEFu);
}
