// Synthetic firmware images of the adapter's own microcontroller: boot
// loaders and application images for every MCU class, built so that they pass
// the tool's image checks, and the reading of an application image's header.
//
// Application header (all classes): word 48 (byte 0xC0) = kAppMagic, word 49
// = firmware version, word 50 = revision suffix as up to four text bytes.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

namespace sim::images {

inline constexpr uint32_t kAppMagic = 0xDA1DEC48;
inline constexpr uint32_t kToolVersion = 7973;
// Where the data flash starts in the default configuration (word 1): the
// application images of WriteImageSet fill the area before it, so that an
// update with them keeps the configuration and needs no replug.
inline constexpr uint32_t kDefaultDataFlashStart = 0x10000;

// Boot-loader image of an MCU class (0 to 3); `second` picks the second
// boot-loader image of classes 2 and 3.
std::vector<uint8_t> MakeLoaderImage(int mcuClass, bool second);
std::vector<uint8_t> MakeAppImage(int mcuClass, uint32_t version, const std::string& suffix);

struct AppInfo {
  bool valid = false;
  uint32_t version = 0;
  std::string suffix;
};
AppInfo ReadAppInfo(std::span<const uint8_t> aprom);

// File names of the images of a class: boot loader, second boot loader
// (empty when none) and application.
struct ClassFiles {
  const char* loader;
  const char* second;
  const char* app;
};
ClassFiles FilesOf(int mcuClass);

// Writes every image file into `dir` (created when missing), application
// images padded with 0xFF to kDefaultDataFlashStart bytes; throws
// std::runtime_error when a file cannot be written.
void WriteImageSet(const std::filesystem::path& dir, uint32_t version = kToolVersion,
                   const std::string& suffix = "r");

uint32_t WordAt(std::span<const uint8_t> image, size_t word);

}  // namespace sim::images
