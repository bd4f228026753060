#include "fwupdate/FirmwareVersion.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

#include "fileio/SFileIO.h"
#include "ice/AdapterParts.h"
#include "platform/StringTable.h"

namespace fwupdate {

std::string RevisionSuffix(const uint16_t fourBytes[4]) {
  std::string s;
  for (int i = 0; i < 4 && fourBytes[i] != 0; ++i)
    if (fourBytes[i] >= 0x20 && fourBytes[i] < 0x7F) s.push_back(static_cast<char>(fourBytes[i]));
  return s;
}

std::string FormatMessage(unsigned id, const char* key, ...) {
  // The format comes from the program's own table (or is the key name,
  // which holds no conversion).
  const std::string format = LoadStringOr(id, key);
  va_list args;
  va_start(args, key);
  va_list again;
  va_copy(again, args);
  const int n = std::vsnprintf(nullptr, 0, format.c_str(), args);
  va_end(args);
  std::string out;
  if (n > 0) {
    std::vector<char> buffer(static_cast<size_t>(n) + 1);
    std::vsnprintf(buffer.data(), buffer.size(), format.c_str(), again);
    out.assign(buffer.data(), static_cast<size_t>(n));
  }
  va_end(again);
  return out;
}

bool FirstGenerationImageRecognised(const std::filesystem::path& path) {
  // Opened as the loader opens images: never blocking, ordinary files only.
  SFileIO file;
  std::string error;
  if (!file.Open(MFilePath(path.string()), FileIO::kModeRead, error))
    return true;  // a missing image does not stop the update here
  unsigned char header[0xC8] = {};
  size_t got = 0;
  while (got < sizeof header) {
    const size_t n = file.Read(header + got, sizeof header - got);
    if (n == 0) break;
    got += n;
  }
  if (got < sizeof header) return false;
  auto word = [&](size_t at) {
    return uint32_t(header[at]) | uint32_t(header[at + 1]) << 8 | uint32_t(header[at + 2]) << 16 |
           uint32_t(header[at + 3]) << 24;
  };
  return word(0xC0) == 0xDA1DEC48u && word(0xC4) != 0;
}

namespace {

bool Decide(const VersionCheckInput& in, IUpdateUi& ui) {
  const int ver = in.version;
  const int app = kToolFirmwareVersion;
  if (ver > kLowerBoundVersion && ver < app && in.mode == CheckMode::Normal) return false;
  if (ver < kOldestUpdatableVersion && ver < app) {
    ui.Tell(FORMAT_MESSAGE(IDS_FM_UPDATE_NOT_SUPPORT_3645, app, ver), IUpdateUi::Icon::Warning);
    return false;
  }
  const McuClass mcuClass = ice::McuClassOf(in.chipId);
  if (in.chipId == 0x550501 || mcuClass == McuClass::NotUpdatable) {
    if (ver != app) ui.Tell(FORMAT_MESSAGE(IDS_FM_UPDATE_NOT_SUPPORT_DEVICE, app, ver), IUpdateUi::Icon::Warning);
    return false;
  }
  if (in.mode == CheckMode::Always || (mcuClass == McuClass::Second && ver <= 5000) || (mcuClass == McuClass::Third && ver <= 7918)) return true;
  if (in.mode == CheckMode::Force) return ui.Ask(FORMAT_MESSAGE(IDS_FM_UPDATE_FORCE, ver, app), IUpdateUi::Icon::Warning);
  if (in.mode != CheckMode::Normal) return false;
  if (ver > app) return ui.AskVersion(ver, app);
  if (ver < app) return ui.AskMessage(FORMAT_MESSAGE(IDS_FM_UPDATE_LOWER, app, ver));
  if (in.suffix == kToolRevision) return false;
  return ui.AskMessage(FORMAT_MESSAGE(IDS_FM_UPDATE_NOT_MATCH, app, kToolRevision, ver, in.suffix.c_str()));
}

}  // namespace

bool CheckFirmwareVersion(const VersionCheckInput& in, IUpdateUi& ui) {
  if (!Decide(in, ui)) return false;
  if (!FirstGenerationImageRecognised(in.firstGenerationImage)) {
    ui.Tell(LOAD_STRING(IDS_CAN_NOT_RECOGNIZE_APROM_FILE), IUpdateUi::Icon::Warning);
    return false;
  }
  return true;
}

}  // namespace fwupdate
