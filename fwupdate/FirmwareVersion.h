// The version decision: which adapter firmware the program carries, which
// adapters it can update, and whether an adapter's firmware is to be
// updated (asking the user where the rules say so).
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "fwupdate/UpdateUi.h"

namespace fwupdate {

inline constexpr int kToolFirmwareVersion = 7973;
inline constexpr int kLowerBoundVersion = 7972;
inline constexpr const char* kToolRevision = "r";
inline constexpr int kOldestUpdatableVersion = 3645;

// Check modes: the normal rules, update whenever the chip is supported,
// or ask with IDS_FM_UPDATE_FORCE.
enum class CheckMode : int { Normal = 0, Always = 1, Force = 2 };

// The adapter's revision suffix from the handshake's four bytes (printable
// bytes up to the first zero).
std::string RevisionSuffix(const uint16_t fourBytes[4]);

// Message `id` (key `key` when the table has none) with printf arguments.
std::string FormatMessage(unsigned id, const char* key, ...);
#define FORMAT_MESSAGE(key, ...) ::fwupdate::FormatMessage(key, #key __VA_OPT__(, ) __VA_ARGS__)

// Whether the first-generation application image at `path` is recognisable
// for the version check: a file that does not open passes (as does what is
// not an ordinary file: loading refuses it later); one that opens needs
// word 48 = 0xDA1DEC48 and word 49 != 0.
bool FirstGenerationImageRecognised(const std::filesystem::path& path);

struct VersionCheckInput {
  uint32_t chipId = 0;
  int version = 0;
  std::string suffix;
  CheckMode mode = CheckMode::Normal;
  // The first-generation application image checked when an update is
  // wanted.
  std::filesystem::path firstGenerationImage;
};

// True when the adapter is to be updated.
bool CheckFirmwareVersion(const VersionCheckInput& in, IUpdateUi& ui);

}  // namespace fwupdate
