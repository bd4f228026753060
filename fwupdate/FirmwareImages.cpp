#include "fwupdate/FirmwareImages.h"

#include <unistd.h>

#include <array>

#include "fwupdate/FirmwareVersion.h"
#include "platform/ProgramInfo.h"
#include "platform/StringTable.h"
#include "ice/CICEException.h"

namespace fwupdate {
namespace {

// Header and word-sum requirements of a first-generation boot loader.
struct LoaderRule {
  uint32_t word0, word1, word48;
  bool checkWord49;
  uint32_t word49;
  size_t belowA;                      // word 46 must lie below words belowA and 39
  std::array<uint32_t, 4> sums;       // words 0-255, 256-511, 512-767, all
};

constexpr LoaderRule kLoaderRules[2] = {
    {0x20000C88, 217, 0x5AA50020, false, 0, 28, {0xAF490E77, 0xAF939BA8, 0x14B72786, 0x6F5E4A77}},
    {0x200011C0, 221, 0x5AA50030, true, 0x4445424D, 24, {0x68D9A76A, 0xA0054F45, 0xAA7829D4, 0xF2744CC1}},
};

uint32_t WordSum(const CHexBinFile& image, size_t from, size_t to) {
  uint32_t sum = 0;
  for (size_t i = from; i < to; ++i) sum += image.Word(i);
  return sum;
}

[[noreturn]] void Raise(unsigned id, const char* key) { throw CICEException(LoadStringOr(id, key)); }

// Loads one image: too large or not loadable raise the given messages.
void LoadOne(CHexBinFile& image, const std::filesystem::path& path, uint32_t limit, unsigned tooLargeId,
             const char* tooLargeKey, unsigned cannotId, const char* cannotKey) {
  if (!image.Load(path.string(), 0xFF, 4)) {
    if (image.GetFailure() == CHexBinFile::Failure::TooLarge) Raise(tooLargeId, tooLargeKey);
    Raise(cannotId, cannotKey);
  }
  if (image.Size() > limit) Raise(tooLargeId, tooLargeKey);
}

}  // namespace

ImageFiles ImageFilesOf(McuClass mcuClass) {
  switch (mcuClass) {
    case McuClass::First0: return {"ICE_ISP.bin", 4096, nullptr, 0, "VoLink1FW.bin"};
    case McuClass::First1: return {"ICE_ISP_8K.bin", 8192, nullptr, 0, "VoLink1FW.bin"};
    case McuClass::Second: return {"VoLink2ISP_LD.bin", 4096, "VoLink2ISP_SP.bin", 4096, "VoLink2FW.bin"};
    case McuClass::Third: return {"VoLink3ISP_LD0.bin", 8192, "VoLink3ISP_LD1.bin", 8192, "VoLink3FW.bin"};
    default: throw CICEException(text::kUnknownChipType);
  }
}

std::filesystem::path DefaultImageFolder() { return platform::FindProgramData(kImageFolderName, kImageFolderName); }

ImageObjects MakeImageObjects(McuClass mcuClass) {
  const ImageFiles f = ImageFilesOf(mcuClass);
  return {CHexBinFile(f.loaderLimit), CHexBinFile(f.secondLimit), CHexBinFile(kApplicationLimit)};
}

bool LoaderContentOk(const CHexBinFile& image, McuClass mcuClass) {
  if (mcuClass != McuClass::First0 && mcuClass != McuClass::First1) return true;
  const LoaderRule& r = kLoaderRules[ClassNumber(mcuClass)];
  if (image.WordCount() < 768) return false;
  if (image.Word(0) != r.word0 || image.Word(1) != r.word1 || image.Word(48) != r.word48 || image.Word(5) != 0)
    return false;
  if (r.checkWord49 && image.Word(49) != r.word49) return false;
  if (!(image.Word(46) < image.Word(r.belowA) && image.Word(46) < image.Word(39))) return false;
  return WordSum(image, 0, 256) == r.sums[0] && WordSum(image, 256, 512) == r.sums[1] &&
         WordSum(image, 512, 768) == r.sums[2] && WordSum(image, 0, image.WordCount()) == r.sums[3];
}

bool ApplicationContentOk(const CHexBinFile& image, McuClass mcuClass) {
  if (mcuClass != McuClass::First0 && mcuClass != McuClass::First1) return true;
  return image.WordCount() > 48 && image.Word(0) == 0x20004000 && image.Word(4) == 0xFFFFFFFF &&
         image.Word(18) == 0 && image.Word(48) == 0xDA1DEC48;
}

uint32_t ApplicationImageVersion(const CHexBinFile& image) {
  return image.WordCount() > 49 ? image.Word(49) : 0;
}

void LoadFirmwareImages(CHexBinFile* loader, CHexBinFile* application, CHexBinFile* second, McuClass mcuClass,
                        const ImageSource& source) {
  const ImageFiles f = ImageFilesOf(mcuClass);
  if (loader) {
    LoadOne(*loader, source.folder / f.loader, f.loaderLimit, IDS_TOO_LARGE_UPDATE_LDROM_SIZE,
            "IDS_TOO_LARGE_UPDATE_LDROM_SIZE", IDS_CAN_NOT_LOAD_LDROM_FOR_UPDATE, "IDS_CAN_NOT_LOAD_LDROM_FOR_UPDATE");
    if (!LoaderContentOk(*loader, mcuClass)) Raise(IDS_CAN_NOT_LOAD_LDROM_FOR_UPDATE, "IDS_CAN_NOT_LOAD_LDROM_FOR_UPDATE");
  }
  if (second && f.second) {
    LoadOne(*second, source.folder / f.second, f.secondLimit, IDS_TOO_LARGE_UPDATE_LDROM_SIZE,
            "IDS_TOO_LARGE_UPDATE_LDROM_SIZE", IDS_CAN_NOT_LOAD_LDROM_FOR_UPDATE, "IDS_CAN_NOT_LOAD_LDROM_FOR_UPDATE");
  }
  if (application) {
    const std::filesystem::path path =
        source.applicationPath.empty() ? source.folder / f.application : std::filesystem::path(source.applicationPath);
    LoadOne(*application, path, kApplicationLimit, IDS_TOO_LARGE_UPDATE_APROM_SIZE, "IDS_TOO_LARGE_UPDATE_APROM_SIZE",
            IDS_CAN_NOT_LOAD_APROM_FOR_UPDATE, "IDS_CAN_NOT_LOAD_APROM_FOR_UPDATE");
    // An adapter given firmware older than that could never be updated by
    // this program again.
    if (!ApplicationContentOk(*application, mcuClass) ||
        ApplicationImageVersion(*application) < static_cast<uint32_t>(kOldestUpdatableVersion))
      Raise(IDS_CAN_NOT_LOAD_APROM_FOR_UPDATE, "IDS_CAN_NOT_LOAD_APROM_FOR_UPDATE");
  }
}

}  // namespace fwupdate
