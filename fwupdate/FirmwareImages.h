// The firmware images the update writes into an adapter's microcontroller:
// their file names and size limits per MCU class, where they live (the
// folder "Vo_Link" beside the program), and the checks an image must pass
// before anything is written.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "fwupdate/CHexBinFile.h"
#include "ice/AdapterParts.h"

namespace fwupdate {

inline constexpr uint32_t kApplicationLimit = 0x100000;
inline constexpr const char* kImageFolderName = "Vo_Link";

struct ImageFiles {
  const char* loader;   // boot-loader image
  uint32_t loaderLimit;
  const char* second;   // second boot-loader image, or null
  uint32_t secondLimit;
  const char* application;
};

// The files of MCU class 0 to 3; throws CICEException "Unknown chip type!"
// for any other class.
ImageFiles ImageFilesOf(McuClass mcuClass);

// <folder of the running program>/Vo_Link when it exists, else the
// installed data folder's Vo_Link when that exists, else the first.
std::filesystem::path DefaultImageFolder();

// Where LoadFirmwareImages looks.
struct ImageSource {
  std::filesystem::path folder = DefaultImageFolder();
  // A full path that replaces the application image's file name (empty:
  // none).
  std::string applicationPath;
};

// Loads whichever of the images are given (null = not wanted) for `mcuClass`
// and applies every check; throws CICEException with the message of the
// failed check (boot-loader and second images: IDS_TOO_LARGE_UPDATE_LDROM_SIZE,
// IDS_CAN_NOT_LOAD_LDROM_FOR_UPDATE; application image:
// IDS_TOO_LARGE_UPDATE_APROM_SIZE, IDS_CAN_NOT_LOAD_APROM_FOR_UPDATE). The
// class's limits hold whatever limit the objects were made with;
// MakeImageObjects makes them with exactly those.
void LoadFirmwareImages(CHexBinFile* loader, CHexBinFile* application, CHexBinFile* second, McuClass mcuClass,
                        const ImageSource& source = {});

struct ImageObjects {
  CHexBinFile loader, second, application;
};
ImageObjects MakeImageObjects(McuClass mcuClass);

// The firmware version an application image carries: word 49, which the
// version check reads (0 when the image is shorter). LoadFirmwareImages
// refuses an application image below the oldest version the program can
// update from again.
uint32_t ApplicationImageVersion(const CHexBinFile& image);

// The content checks alone (first-generation boot loaders; first-generation
// applications); true when the image passes.
bool LoaderContentOk(const CHexBinFile& image, McuClass mcuClass);
bool ApplicationContentOk(const CHexBinFile& image, McuClass mcuClass);

}  // namespace fwupdate
