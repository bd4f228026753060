#include "sim/Images.h"

#include <algorithm>
#include <fstream>
#include <stdexcept>

namespace sim::images {
namespace {

void Put(std::vector<uint8_t>& img, size_t word, uint32_t v) {
  for (int i = 0; i < 4; ++i) img[4 * word + i] = static_cast<uint8_t>(v >> (8 * i));
}

// Deterministic filler that looks like code.
void Fill(std::vector<uint8_t>& img, uint32_t seed) {
  uint32_t x = seed;
  for (size_t w = 0; w < img.size() / 4; ++w) {
    x = x * 1664525u + 1013904223u;
    Put(img, w, x);
  }
}

uint32_t Sum(const std::vector<uint8_t>& img, size_t from, size_t to) {
  uint32_t s = 0;
  for (size_t w = from; w < to; ++w) s += WordAt(img, w);
  return s;
}

// Makes the word sum of [from, to) equal `want` by adjusting word `fix`.
void FixSum(std::vector<uint8_t>& img, size_t from, size_t to, size_t fix, uint32_t want) {
  Put(img, fix, 0);
  Put(img, fix, want - Sum(img, from, to));
}

std::vector<uint8_t> DessikLoader(bool eightK) {
  std::vector<uint8_t> img(eightK ? 8192 : 4096);
  Fill(img, eightK ? 0x1D8u : 0x15Bu);
  Put(img, 0, eightK ? 0x200011C0 : 0x20000C88);
  Put(img, 1, eightK ? 221 : 217);
  Put(img, 4, 0xFFFFFFFF);  // adapter ID slot
  Put(img, 5, 0);
  Put(img, 48, eightK ? 0x5AA50030 : 0x5AA50020);
  if (eightK) Put(img, 49, 0x4445424D);
  Put(img, 46, 0x00000100);
  Put(img, eightK ? 24 : 28, 0x00000201);
  Put(img, 39, 0x00000301);
  const size_t words = img.size() / 4;
  if (eightK) {
    FixSum(img, 0, 256, 255, 0x68D9A76A);
    FixSum(img, 256, 512, 511, 0xA0054F45);
    FixSum(img, 512, 768, 767, 0xAA7829D4);
    FixSum(img, 0, words, words - 1, 0xF2744CC1);
  } else {
    FixSum(img, 0, 256, 255, 0xAF490E77);
    FixSum(img, 256, 512, 511, 0xAF939BA8);
    FixSum(img, 512, 768, 767, 0x14B72786);
    FixSum(img, 0, words, words - 1, 0x6F5E4A77);
  }
  return img;
}

}  // namespace

uint32_t WordAt(std::span<const uint8_t> image, size_t word) {
  if (4 * word + 4 > image.size()) return 0xFFFFFFFF;
  const uint8_t* p = image.data() + 4 * word;
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

std::vector<uint8_t> MakeLoaderImage(int mcuClass, bool second) {
  if (mcuClass == 0 || mcuClass == 1) return second ? std::vector<uint8_t>{} : DessikLoader(mcuClass == 1);
  std::vector<uint8_t> img(mcuClass == 2 ? 4096 : 8192);
  Fill(img, 0x2000u + static_cast<uint32_t>(mcuClass) * 16 + (second ? 1 : 0));
  Put(img, 0, 0x20001000);
  Put(img, 1, second ? 0x00200101 : 0x00100101);
  Put(img, mcuClass == 2 ? 7 : 8, 0xFFFFFFFF);  // adapter ID slot
  return img;
}

std::vector<uint8_t> MakeAppImage(int mcuClass, uint32_t version, const std::string& suffix) {
  std::vector<uint8_t> img(16 * 1024);
  Fill(img, 0xA990u + static_cast<uint32_t>(mcuClass));
  Put(img, 0, 0x20004000);
  Put(img, 1, 0x00000101);
  Put(img, 4, 0xFFFFFFFF);
  Put(img, 18, 0);
  Put(img, 48, kAppMagic);
  Put(img, 49, version);
  uint32_t s = 0;
  for (size_t i = 0; i < suffix.size() && i < 4; ++i) s |= static_cast<uint32_t>(static_cast<uint8_t>(suffix[i])) << (8 * i);
  Put(img, 50, s);
  return img;
}

AppInfo ReadAppInfo(std::span<const uint8_t> aprom) {
  AppInfo info;
  if (WordAt(aprom, 48) != kAppMagic) return info;
  info.valid = true;
  info.version = WordAt(aprom, 49);
  const uint32_t s = WordAt(aprom, 50);
  for (int i = 0; i < 4; ++i) {
    const char c = static_cast<char>((s >> (8 * i)) & 0xFF);
    if (c == 0) break;
    info.suffix.push_back(c);
  }
  return info;
}

ClassFiles FilesOf(int mcuClass) {
  switch (mcuClass) {
    case 0: return {"ICE_ISP.bin", "", "VoLink1FW.bin"};
    case 1: return {"ICE_ISP_8K.bin", "", "VoLink1FW.bin"};
    case 2: return {"VoLink2ISP_LD.bin", "VoLink2ISP_SP.bin", "VoLink2FW.bin"};
    default: return {"VoLink3ISP_LD0.bin", "VoLink3ISP_LD1.bin", "VoLink3FW.bin"};
  }
}

void WriteImageSet(const std::filesystem::path& dir, uint32_t version, const std::string& suffix) {
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  auto write = [&](const char* name, const std::vector<uint8_t>& data) {
    std::ofstream f(dir / name, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
    if (!f) throw std::runtime_error("cannot write " + (dir / name).string());
  };
  for (int c = 0; c < 4; ++c) {
    const ClassFiles f = FilesOf(c);
    write(f.loader, MakeLoaderImage(c, false));
    if (*f.second) write(f.second, MakeLoaderImage(c, true));
    std::vector<uint8_t> app = MakeAppImage(c, version, suffix);
    app.resize(std::max<size_t>(app.size(), kDefaultDataFlashStart), 0xFF);
    write(f.app, app);
  }
}

}  // namespace sim::images
