// The version decision as one table: which adapters are updated silently,
// which are asked about (and what they are shown), which are refused.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "ScriptedUi.h"
#include "fwupdate/FirmwareCheck.h"
#include "fwupdate/FirmwareVersion.h"
#include "platform/StringTable.h"

namespace fs = std::filesystem;
using namespace fwupdate;

namespace {

constexpr uint32_t kClass0 = 0x00012345, kClass2 = 0x00D4851F, kClass3 = 0xA2000340;

enum class Image { Missing, Good, BadMagic, ZeroVersion };

struct Row {
  const char* what;
  uint32_t chip;
  int version;
  const char* suffix;
  int mode;
  bool answer;
  Image image;
  const char* shown;  // prefix of the one thing shown, "" = nothing
  bool update;
};

const std::string kLower = "message: Application internal version is not matched!\n\nCurrent application has higher";
const std::string k3645 = "tell: Application internal version is not matched!\n\nCurrent pplication has higher version 7973,\nwhile the Vo-Link firmware's version is 3000.";
const std::string kDevice = "tell: Application internal version is not matched!\n\nCurrent application version is 7973,\nwhile the Vo-Link firmware's version is 7000.\n\nThe application can not update Vo-Link firmware on this device.";
const std::string kForce = "ask: The Vo-Link firmware's version is 7000,\nand current applicaton version is 7973.";
const std::string kUnrecognised = "tell: APROM binary file for update is unrecognizable!";

const Row kRows[] = {
    {"current", kClass2, 7973, "r", 0, true, Image::Good, "", false},
    {"current other suffix, yes", kClass0, 7973, "x", 0, true, Image::Good,
     "message: Application internal version is not matched!\n\nCurrent application version is 7973r,\nwhile the "
     "Vo-Link firmware's version is 7973x.",
     true},
    {"current other suffix, no", kClass0, 7973, "", 0, false, Image::Good, "message: Application internal", false},
    {"lower bound is not silent", kClass0, 7972, "r", 0, true, Image::Good, kLower.c_str(), true},
    {"older, no", kClass0, 7000, "r", 0, false, Image::Good, kLower.c_str(), false},
    {"older, missing image", kClass0, 7000, "r", 0, true, Image::Missing, kLower.c_str(), true},
    {"below 3645", kClass0, 3000, "r", 0, true, Image::Good, k3645.c_str(), false},
    {"below 3645 in mode 1", kClass0, 3000, "r", 1, true, Image::Good, k3645.c_str(), false},
    {"class 2 at 5000 silently", kClass2, 5000, "r", 0, false, Image::Good, "", true},
    {"class 2 at 5001 asked", kClass2, 5001, "r", 0, false, Image::Good, kLower.c_str(), false},
    {"class 3 at 7918 silently", kClass3, 7918, "r", 0, false, Image::Good, "", true},
    {"class 3 at 7919 asked", kClass3, 7919, "r", 0, true, Image::Good, kLower.c_str(), true},
    {"chip 0x550501", 0x550501, 7000, "r", 0, true, Image::Good, kDevice.c_str(), false},
    {"class 4 current", 0x00D48000, 7973, "x", 0, true, Image::Good, "", false},
    {"class 4 older", 0x12345678, 7000, "r", 1, true, Image::Good, kDevice.c_str(), false},
    {"mode 1 silently", kClass0, 7000, "r", 1, false, Image::Good, "", true},
    {"mode 2 yes", kClass0, 7000, "r", 2, true, Image::Good, kForce.c_str(), true},
    {"mode 2 no", kClass0, 7000, "r", 2, false, Image::Good, kForce.c_str(), false},
    {"newer, OK", kClass0, 8000, "r", 0, true, Image::Good, "version: 8000 7973", true},
    {"newer, Cancel", kClass0, 8000, "r", 0, false, Image::Good, "version: 8000 7973", false},
    {"unrecognisable image", kClass0, 7000, "r", 1, true, Image::BadMagic, kUnrecognised.c_str(), false},
    {"image without version", kClass2, 5000, "r", 0, true, Image::ZeroVersion, kUnrecognised.c_str(), false},
    {"image not consulted without update", kClass0, 7000, "r", 0, false, Image::BadMagic, kLower.c_str(), false},
};

fs::path WriteImage(const fs::path& dir, Image kind) {
  const fs::path path = dir / "VoLink1FW.bin";
  fs::remove(path);
  if (kind == Image::Missing) return path;
  std::vector<uint8_t> bytes(0x400, 0);
  auto put = [&](size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<uint8_t>(v >> (8 * i));
  };
  put(0xC0, kind == Image::BadMagic ? 0xDA1DEC49 : 0xDA1DEC48);
  put(0xC4, kind == Image::ZeroVersion ? 0 : 7973);
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  return path;
}

}  // namespace

TEST(VersionDecision, Table) {
  const fs::path dir = fs::temp_directory_path() / ("gadrel-decision-" + std::to_string(::getpid()));
  fs::create_directories(dir);
  for (const Row& row : kRows) {
    SCOPED_TRACE(row.what);
    ScriptedUi ui;
    ui.answer = row.answer;
    const VersionCheckInput in{row.chip, row.version, row.suffix, static_cast<CheckMode>(row.mode), WriteImage(dir, row.image)};
    EXPECT_EQ(CheckFirmwareVersion(in, ui), row.update);
    if (std::string(row.shown).empty()) {
      EXPECT_TRUE(ui.shown.empty()) << ui.shown.front();
    } else {
      ASSERT_FALSE(ui.shown.empty());
      EXPECT_EQ(ui.shown.back().rfind(row.shown, 0), 0u) << ui.shown.back();
    }
  }
  fs::remove_all(dir);
}

TEST(VersionDecision, MessagesWordForWord) {
  ScriptedUi ui;
  ui.answer = false;
  CheckFirmwareVersion({kClass0, 7000, "r", CheckMode::Normal, {}}, ui);
  ASSERT_EQ(ui.shown.size(), 1u);
  EXPECT_EQ(ui.shown[0],
            "message: Application internal version is not matched!\n\nCurrent application has higher version 7973,\n"
            "while the Vo-Link firmware's version is 7000.\nThe application may work abnormally.\n\n"
            "Before updating the Vo-Link firmware, please\n1. Remove any other devices connected on the Vo-Link;\n"
            "2. Plug it out, press the keypad on it and plug it into PC again.\n\n"
            "Do you want to update the Vo-Link firmware now?\n");
  EXPECT_EQ(LOAD_STRING(IDS_DEVICE_TEMPORARILY_DETACHED),
            "The Vo-Link device may be detached temporarily,\nContinue to wait for the device?");
  EXPECT_EQ(FORMAT_MESSAGE(IDS_UPDATE_PD, 42), "Update 42%");
}

TEST(VersionDecision, UpdateOptionText) {
  const std::string zero = "0", two = "2", junk = "1x", empty;
  EXPECT_EQ(ParseUpdateOption(nullptr), 1);
  EXPECT_EQ(ParseUpdateOption(&zero), 0);
  EXPECT_EQ(ParseUpdateOption(&two), 2);
  EXPECT_EQ(ParseUpdateOption(&junk), 1);
  EXPECT_EQ(ParseUpdateOption(&empty), 1);
}
