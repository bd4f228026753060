// The image checks of the firmware update over the files volink-sim
// writes, and what each broken file is refused with; the MCU class and
// application-area rules of the adapter's part table.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>

#include "ice/AdapterParts.h"
#include "fwupdate/FirmwareImages.h"
#include "ice/CICEException.h"
#include "sim/Images.h"

namespace fs = std::filesystem;
using namespace fwupdate;

namespace {

class ImageFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string t = (fs::temp_directory_path() / "images-XXXXXX").string();
    ASSERT_NE(::mkdtemp(t.data()), nullptr);
    m_dir = t;
    sim::images::WriteImageSet(m_dir);
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(m_dir, ec);
  }
  std::vector<uint8_t> Read(const char* name) {
    std::ifstream f(m_dir / name, std::ios::binary);
    return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
  }
  void Write(const char* name, const std::vector<uint8_t>& bytes) {
    std::ofstream(m_dir / name, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                        static_cast<std::streamsize>(bytes.size()));
  }
  // The message LoadFirmwareImages raises for every image of `mcuClass`, or "".
  std::string Failure(McuClass mcuClass) {
    ImageObjects o = MakeImageObjects(mcuClass);
    try {
      LoadFirmwareImages(&o.loader, &o.application, &o.second, mcuClass, {m_dir, ""});
      return "";
    } catch (const CICEException& e) {
      return e.GetMessage();
    }
  }
  fs::path m_dir;
};

void PutWord(std::vector<uint8_t>& v, size_t word, uint32_t value) {
  for (int i = 0; i < 4; ++i) v[4 * word + i] = static_cast<uint8_t>(value >> (8 * i));
}

constexpr const char* kLdromTooLarge = "Size of LDROM file exceeds the limitation of LDROM.";
constexpr const char* kLdromCannot = "Can not load LDROM file for update";
constexpr const char* kAppTooLarge = "Too large file size for APROM.";
constexpr const char* kAppCannot = "Can not load APROM file for update";

}  // namespace

TEST_F(ImageFolder, TheEmulatorsImagesPassEveryCheck) {
  for (int c = 0; c < 4; ++c) {
    SCOPED_TRACE(c);
    const McuClass mcuClass = static_cast<McuClass>(c);
    ImageObjects o = MakeImageObjects(mcuClass);
    ASSERT_NO_THROW(LoadFirmwareImages(&o.loader, &o.application, &o.second, mcuClass, {m_dir, ""}));
    EXPECT_TRUE(o.loader.IsLoaded());
    EXPECT_TRUE(o.application.IsLoaded());
    EXPECT_EQ(o.second.IsLoaded(), c >= 2);
  }
}

TEST_F(ImageFolder, BrokenImagesAreRefusedWithTheirMessages) {
  struct Case {
    const char* what;
    int mcuClass;
    const char* file;
    std::function<void(std::vector<uint8_t>&)> change;
    const char* message;
  };
  const Case cases[] = {
      {"4097-byte ICE_ISP.bin", 0, "ICE_ISP.bin", [](auto& v) { v.push_back(0); }, kLdromTooLarge},
      {"8193-byte second image", 3, "VoLink3ISP_LD1.bin", [](auto& v) { v.resize(8193, 0); }, kLdromTooLarge},
      {"word sum of words 256-511", 0, "ICE_ISP.bin", [](auto& v) { v[1024] ^= 1; }, kLdromCannot},
      {"word 1", 1, "ICE_ISP_8K.bin", [](auto& v) { PutWord(v, 1, 217); }, kLdromCannot},
      {"word 49 of the 8 KiB loader", 1, "ICE_ISP_8K.bin", [](auto& v) { PutWord(v, 49, 0); }, kLdromCannot},
      {"word 46 above word 39", 0, "ICE_ISP.bin",
       [](auto& v) {  // keeps every word sum: word 46 and word 39 swap
         std::swap_ranges(v.begin() + 46 * 4, v.begin() + 47 * 4, v.begin() + 39 * 4);
       },
       kLdromCannot},
      {"short boot loader", 0, "ICE_ISP.bin", [](auto& v) { v.resize(1000); }, kLdromCannot},
      {"missing boot loader", 2, "VoLink2ISP_LD.bin", [](auto& v) { v.clear(); }, kLdromCannot},
      {"application word 48", 0, "VoLink1FW.bin", [](auto& v) { PutWord(v, 48, 0); }, kAppCannot},
      {"application word 18", 1, "VoLink1FW.bin", [](auto& v) { PutWord(v, 18, 1); }, kAppCannot},
      {"application above 1 MiB", 2, "VoLink2FW.bin", [](auto& v) { v.resize(0x100001, 0xFF); }, kAppTooLarge},
      {"empty application", 3, "VoLink3FW.bin", [](auto& v) { v.clear(); }, kAppCannot},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.what);
    const std::vector<uint8_t> original = Read(k.file);
    std::vector<uint8_t> changed = original;
    k.change(changed);
    Write(k.file, changed);
    if (std::string(k.what).rfind("missing", 0) == 0) fs::remove(m_dir / k.file);
    EXPECT_EQ(Failure(static_cast<McuClass>(k.mcuClass)), k.message);
    Write(k.file, original);
  }
  // Second-generation applications have no content checks.
  std::vector<uint8_t> app = Read("VoLink2FW.bin");
  PutWord(app, 48, 0);
  Write("VoLink2FW.bin", app);
  EXPECT_EQ(Failure(McuClass::Second), "");
}

// Firmware below the oldest version the program updates from would leave
// an adapter no later update can reach: refused for every class, as is an
// image too short to carry a version.
TEST_F(ImageFolder, ApplicationBelowTheOldestUpdatableVersionIsRefused) {
  for (int c = 0; c < 4; ++c) {
    const char* file = ImageFilesOf(static_cast<McuClass>(c)).application;
    const std::vector<uint8_t> original = Read(file);
    for (uint32_t version : {0u, 3644u, 3645u}) {
      std::vector<uint8_t> v = original;
      PutWord(v, 49, version);
      Write(file, v);
      EXPECT_EQ(Failure(static_cast<McuClass>(c)), version < 3645 ? kAppCannot : "") << "class " << c << ", version " << version;
    }
    Write(file, std::vector<uint8_t>(original.begin(), original.begin() + 100));
    EXPECT_EQ(Failure(static_cast<McuClass>(c)), kAppCannot) << "class " << c;
    Write(file, original);
  }
}

TEST_F(ImageFolder, AConfiguredPathReplacesTheApplicationImage) {
  ImageObjects o = MakeImageObjects(McuClass::Second);
  const fs::path other = m_dir / "other.bin";
  fs::copy_file(m_dir / "VoLink2FW.bin", other);
  fs::remove(m_dir / "VoLink2FW.bin");
  EXPECT_NO_THROW(LoadFirmwareImages(nullptr, &o.application, nullptr, McuClass::Second, {m_dir, other.string()}));
  EXPECT_THROW(LoadFirmwareImages(nullptr, &o.application, nullptr, McuClass::Second, {m_dir, ""}), CICEException);
}

TEST(AdapterParts, ClassesAndApplicationAreaSizes) {
  const struct {
    uint32_t chipId;
    int mcuClass;
  } classes[] = {{0x00D4851F, 2}, {0x00D4874F, 2}, {0x00D48000, 4}, {0x00012345, 0}, {0x30010000, 0},
                 {0x4001FFFF, 1}, {0xA2000340, 3}, {0xA2000341, 4}, {0x00550501, 4}};
  for (const auto& c : classes) EXPECT_EQ(ClassNumber(ice::McuClassOf(c.chipId)), c.mcuClass) << std::hex << c.chipId;

  // Variable data flash from configuration word 1 (granularity 512 bytes
  // on the first family, 4096 otherwise), the fixed split otherwise, and
  // never beyond the flash.
  EXPECT_EQ(ice::ApplicationAreaSize(0x40012009, 0xFFFFFF7C, 0x00010123), 0x10000u);
  EXPECT_EQ(ice::ApplicationAreaSize(0x40012009, 0xFFFFFF7C, 0x00010323), 0x10200u);
  EXPECT_EQ(ice::ApplicationAreaSize(0x00D4851F, 0xFFFFFF7C, 0x00010FFF), 0x10000u);
  EXPECT_EQ(ice::ApplicationAreaSize(0x00D4851F, 0xFFFFFF7D, 0x00010000), 256u * 1024 - 4096);
  EXPECT_EQ(ice::ApplicationAreaSize(0xA2000340, 0xFFFFFF7C, 0xFFFFFFFF), 512u * 1024);
  EXPECT_THROW(ice::ApplicationAreaSize(0x12345678, 0, 0), CICEException);
}
