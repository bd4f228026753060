// volink's image and boot-loader commands: `image` against objcopy and
// zlib on a file of the system, and `bootloader write` then `check` on an
// emulated adapter of each generation.
#include <gtest/gtest.h>
#include <unistd.h>
#include <zlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "volink/Volink.h"
#include "ice/SimFixture.h"
#include "sim/Images.h"

namespace fs = std::filesystem;

namespace {

struct Result {
  int status;
  std::string out, err;
};

Result Volink(const std::vector<std::string>& args) {
  std::ostringstream out, err;
  const int status = RunVolink(args, out, err);
  return {status, out.str(), err.str()};
}

// The value printed after `key` ("crc32         0x1234abcd").
std::string Field(const std::string& text, const std::string& key) {
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);)
    if (line.rfind(key + " ", 0) == 0) return line.substr(line.find_last_of(' ') + 1);
  return "";
}

std::string Hex(uint32_t v) {
  char b[16];
  std::snprintf(b, sizeof b, "0x%08x", v);
  return b;
}

}  // namespace

TEST(VolinkImage, AgreesWithObjcopyAndZlib) {
  std::string t = (fs::temp_directory_path() / "volink-image-XXXXXX").string();
  ASSERT_NE(::mkdtemp(t.data()), nullptr);
  const fs::path dir = t;
  const std::string hex = (dir / "cat.hex").string(), bin = (dir / "cat.bin").string();
  ASSERT_EQ(std::system(("objcopy -O ihex -j .text /bin/cat " + hex).c_str()), 0);
  ASSERT_EQ(std::system(("objcopy -O binary -j .text /bin/cat " + bin).c_str()), 0);
  std::ifstream f(bin, std::ios::binary);
  const std::vector<uint8_t> text{std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};

  const Result r = Volink({"image", hex, "--page", "512"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Field(r.out, "format"), "HEX");
  EXPECT_EQ(Field(r.out, "size"), std::to_string(text.size()));
  EXPECT_EQ(Field(r.out, "crc32"), Hex(static_cast<uint32_t>(crc32(0L, text.data(), static_cast<uInt>(text.size())))));
  std::vector<uint8_t> padded = text;
  padded.resize((text.size() + 511) / 512 * 512, 0xFF);
  EXPECT_EQ(Field(r.out, "padded crc32"),
            Hex(static_cast<uint32_t>(crc32(0L, padded.data(), static_cast<uInt>(padded.size())))));

  const Result tooLarge = Volink({"image", bin, "--limit", "16"});
  EXPECT_EQ(tooLarge.status, 1);
  EXPECT_NE(tooLarge.err.find("exceeds the limit of 16 bytes"), std::string::npos) << tooLarge.err;
  EXPECT_EQ(Volink({"image", bin, "--page", "0"}).status, 2);
  EXPECT_EQ(Volink({"image"}).status, 2);  // no file
  fs::remove_all(dir);
}

TEST(VolinkBootLoader, WriteThenCheckOnEveryGeneration) {
  std::ifstream lab(std::string(GADREL_SOURCE_DIR) + "/sim/configs/lab.json");
  const std::string config{std::istreambuf_iterator<char>(lab), std::istreambuf_iterator<char>()};
  SimProcess sim(config, 3);
  const fs::path images = fs::path(sim.Dir()) / "Vo_Link";
  sim::images::WriteImageSet(images);
  for (const char* adapter : {"0", "1", "2"}) {
    SCOPED_TRACE(adapter);
    const Result id = Volink({"--adapter", adapter, "bootloader", "id"});
    ASSERT_EQ(id.status, 0) << id.err;
    const Result write = Volink({"--adapter", adapter, "bootloader", "write", images.string()});
    ASSERT_EQ(write.status, 0) << write.err;
    EXPECT_NE(write.err.find("Update 100%"), std::string::npos) << write.err;
    const Result check = Volink({"--adapter", adapter, "bootloader", "check", images.string()});
    EXPECT_EQ(check.status, 0) << check.err;
    EXPECT_NE(check.out.find("boot loader matches the images"), std::string::npos);
    EXPECT_NE(check.err.find("Verify 100%"), std::string::npos);
    EXPECT_EQ(Field(check.out, "adapter id"), Field(id.out, "adapter id"));  // the ID was kept
  }
  // An image folder without the images: refused before anything is written.
  const Result missing = Volink({"--adapter", "0", "bootloader", "write", sim.Dir() + "/none"});
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.err.find("image folder " + sim.Dir() + "/none: No such file or directory"), std::string::npos) << missing.err;
}
