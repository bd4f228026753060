// What the update tests of several folders share: one emulated adapter of
// each MCU class at firmware 7000, the image folder, short waits, and the
// firmware the adapter reports.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "fwupdate/UpdateEngine.h"
#include "ice/AdapterParts.h"

namespace testsupport {

struct ClassCase {
  const char* name;
  int generation;
  const char* chipId;
  McuClass mcuClass;
};

// One case per MCU class, 0 to 3.
extern const ClassCase kClasses[4];

// An emulator configuration of `count` adapters ("a", "b", ...) of class
// `c` at firmware 7000, IDs 0x7788BE00 up; `extra` is added to each
// adapter's record.
std::string UpdateConfig(const ClassCase& c, const std::string& extra = "", int count = 1);

// Writes `bytes` as the file `path`.
void WriteFile(const std::filesystem::path& path, const std::vector<uint8_t>& bytes);

// Writes the emulator's image set into `simDir`/Vo_Link and returns that
// folder. These images fit the emulator's default configuration; without
// `fitting`, the application images are 16 KiB, smaller than the
// application area the configuration leaves, so that the update has to
// change the configuration (and asks for a replug).
std::filesystem::path WriteUpdateImages(const std::string& simDir, bool fitting = true);

// Update options with the images of `images` and waits short enough for
// the emulator.
fwupdate::UpdateOptions QuickUpdate(const std::filesystem::path& images);

// The firmware version the adapter reports, 0 when no adapter answers.
uint32_t ReportedVersion();

// The version with its revision suffix ("7973r"), "" when no adapter
// answers.
std::string ReportedFirmware();

}  // namespace testsupport
