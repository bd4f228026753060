#include "fwupdate/BootLoaderOps.h"

#include <algorithm>
#include <cstdio>
#include <optional>
#include <random>
#include <vector>

#include "fwupdate/CHexBinFile.h"
#include "platform/StringTable.h"
#include "ice/CICE.h"

namespace fwupdate {
namespace {

constexpr uint32_t kNoId = 0xFFFFFFFFu;

// Words of an image that fit in an area of `areaSize` bytes.
size_t WordsFor(const CHexBinFile* image, uint32_t areaSize) {
  if (!image || !image->IsLoaded()) return 0;
  return std::min<size_t>(image->WordCount(), areaSize / 4);
}

void Report(const Progress& p, ProgressKind kind, int percent) {
  if (p.report) p.report(kind, percent);
}

bool Current(const Progress& p) { return !p.stillCurrent || p.stillCurrent(); }

int Share(int base, int span, uint64_t done, uint64_t total) {
  if (total == 0) return base + span;
  return base + static_cast<int>(std::min<uint64_t>(span, uint64_t(std::max(span, 0)) * done / total));
}

// Reads `words` words from `address` on, reporting "Verify" progress over
// the running count out of `total`.
std::vector<uint32_t> ReadBack(CFlash_ICE& flash, uint32_t address, size_t words, size_t& done, size_t total,
                               const Progress& progress, int& lastPercent) {
  std::vector<uint32_t> out(words);
  for (size_t i = 0; i < words; ++i) {
    out[i] = flash.ReadWord(address + static_cast<uint32_t>(4 * i));
    ++done;
    const int percent = static_cast<int>(100 * done / total);
    if (percent != lastPercent) {
      lastPercent = percent;
      Report(progress, ProgressKind::Verify, percent);
    }
  }
  return out;
}

// Whether the read-back words hold the image's bytes (with the ID at
// `idOffset` when given).
bool SameBytes(const CHexBinFile& image, const std::vector<uint32_t>& readBack, std::optional<uint32_t> idOffset,
               uint32_t id) {
  std::vector<uint8_t> want(image.Data().begin(), image.Data().end());
  if (readBack.size() * 4 < want.size()) return false;
  if (idOffset)
    for (uint32_t i = 0; i < 4 && *idOffset + i < want.size(); ++i)
      want[*idOffset + i] = static_cast<uint8_t>(id >> (8 * i));
  for (size_t i = 0; i < want.size(); ++i)
    if (want[i] != static_cast<uint8_t>(readBack[i / 4] >> (8 * (i % 4)))) return false;
  return true;
}

}  // namespace

std::string ProgressText(ProgressKind kind, int percent) {
  std::string format;
  switch (kind) {
    case ProgressKind::Read: format = LoadStringOr(IDS_READ_PD, "IDS_READ_PD"); break;
    case ProgressKind::Verify: format = LoadStringOr(IDS_VERIFY_PD, "IDS_VERIFY_PD"); break;
    case ProgressKind::Update: format = LoadStringOr(IDS_UPDATE_PD, "IDS_UPDATE_PD"); break;
  }
  // The table's texts carry one %d and a %%; a key name carries none.
  const size_t at = format.find("%d");
  if (at == std::string::npos) return format;
  std::string out = format.substr(0, at) + std::to_string(percent) + format.substr(at + 2);
  for (size_t p = out.find("%%"); p != std::string::npos; p = out.find("%%", p + 1)) out.erase(p, 1);
  return out;
}

BootLoaderCheck CheckBootLoader(CICE& ice, McuClass mcuClass, const BootLoaderImages& images, const Progress& progress,
                                const FlashTimings& timings) {
  std::vector<uint32_t> first, second;
  BootLoaderLayout layout;
  uint32_t id = kNoId;
  {
    const std::unique_ptr<CFlash_ICE> flash = OpenAdapterFlash(ice, mcuClass, timings);
    layout = flash->Layout();
    const size_t n1 = WordsFor(images.loader, layout.loaderSize);
    const size_t n2 = layout.secondSize ? WordsFor(images.second, layout.secondSize) : 0;
    const size_t total = std::max<size_t>(n1 + n2, 1);
    size_t done = 0;
    int lastPercent = -1;
    first = ReadBack(*flash, layout.loaderBase, n1, done, total, progress, lastPercent);
    second = ReadBack(*flash, layout.secondBase, n2, done, total, progress, lastPercent);
    const size_t idWord = layout.idOffset / 4;
    id = idWord < first.size() ? first[idWord] : flash->ReadWord(layout.loaderBase + layout.idOffset);
  }
  BootLoaderCheck result;
  result.adapterId = id;
  result.matches = images.loader && images.loader->IsLoaded() &&
                   images.loader->Size() <= layout.loaderSize &&
                   SameBytes(*images.loader, first, layout.idOffset, id);
  if (layout.secondSize && images.second && images.second->IsLoaded())
    result.matches = result.matches && images.second->Size() <= layout.secondSize &&
                     SameBytes(*images.second, second, std::nullopt, 0);
  Report(progress, ProgressKind::Update, 0);
  return result;
}

bool EraseBootLoader(CICE& ice, McuClass mcuClass, int base, int span, const Progress& progress,
                     const FlashTimings& timings) {
  const std::unique_ptr<CFlash_ICE> flash = OpenAdapterFlash(ice, mcuClass, timings);
  const BootLoaderLayout layout = flash->Layout();
  const uint32_t page = flash->PageSize();
  std::vector<uint32_t> pages;
  for (uint32_t off = 0; off < layout.loaderSize; off += page) pages.push_back(layout.loaderBase + off);
  for (uint32_t off = 0; off < layout.secondSize; off += page) pages.push_back(layout.secondBase + off);
  for (size_t i = 0; i < pages.size(); ++i) {
    if (!Current(progress)) return false;
    flash->ErasePage(pages[i]);
    Report(progress, ProgressKind::Update, Share(base, span, i + 1, pages.size()));
  }
  return true;
}

uint32_t MakeAdapterId(uint32_t first, uint32_t second) {
  return 0x77880000u | (second & 0xFF) << 8 | (first & 0xFF);
}

uint32_t NewAdapterId() {
  std::random_device seed;
  std::minstd_rand random(seed());
  const uint32_t first = static_cast<uint32_t>(random());
  const uint32_t second = static_cast<uint32_t>(random());
  return MakeAdapterId(first, second);
}

uint32_t WriteBootLoader(CICE& ice, McuClass mcuClass, int base, int span, const BootLoaderImages& images,
                         uint32_t adapterId, const Progress& progress, const FlashTimings& timings) {
  if (adapterId == 0 || adapterId == kNoId) adapterId = NewAdapterId();
  const std::unique_ptr<CFlash_ICE> flash = OpenAdapterFlash(ice, mcuClass, timings);
  const BootLoaderLayout layout = flash->Layout();
  const size_t n1 = WordsFor(images.loader, layout.loaderSize);
  const size_t n2 = layout.secondSize ? WordsFor(images.second, layout.secondSize) : 0;
  const size_t total = n1 + n2;
  const size_t run = std::max<size_t>(ice.GetMaxBlockData() / 4, 1);
  size_t done = 0;
  // Runs of the adapter's largest transfer, progress after each.
  auto writeImage = [&](const CHexBinFile* image, uint32_t address, size_t words, bool putId) {
    for (size_t i = 0; i < words;) {
      if (!Current(progress)) return false;
      const size_t end = std::min(words, i + run);
      for (; i < end; ++i) {
        const bool isId = putId && i == layout.idOffset / 4;
        flash->WriteWord(address + static_cast<uint32_t>(4 * i), isId ? adapterId : image->Word(i));
        ++done;
      }
      Report(progress, ProgressKind::Update, Share(base, span, done, total));
    }
    return true;
  };
  if (writeImage(images.loader, layout.loaderBase, n1, true))
    writeImage(images.second, layout.secondBase, n2, false);
  return adapterId;
}

uint32_t WithLoaderAccess(McuClass mcuClass, uint32_t word0, bool on) {
  if (mcuClass == McuClass::Third) return on ? (word0 & ~0x80u) : (word0 | 0x80u);
  return (on ? (word0 | 0x80u) : (word0 & ~0x80u)) & ~0x02u;
}

namespace {

ConfigWordSet ReadConfig(CFlash_ICE& flash, const BootLoaderLayout& layout) {
  ConfigWordSet words;
  for (unsigned i = 0; i < kConfigWords; ++i) words[i] = flash.ReadWord(layout.configBase + 4 * i);
  return words;
}

void WriteConfig(CFlash_ICE& flash, const BootLoaderLayout& layout, const ConfigWordSet& words) {
  // Erasing the page clears every configuration word: all of them are
  // written back.
  auto rewrite = [&] {
    flash.ErasePage(layout.configBase);
    for (unsigned i = 0; i < kConfigWords; ++i)
      if (words[i] != 0xFFFFFFFFu) flash.WriteWord(layout.configBase + 4 * i, words[i]);
  };
  try {
    rewrite();
  } catch (const CICEException&) {
    flash.SetOption(true);
    rewrite();
  }
  if (ReadConfig(flash, layout) != words) throw CICEException(text::kFlashCommandFailed);
}

}  // namespace

ConfigWordSet ReadConfigWords(CICE& ice, McuClass mcuClass, const FlashTimings& timings) {
  const std::unique_ptr<CFlash_ICE> flash = OpenAdapterFlash(ice, mcuClass, timings);
  return ReadConfig(*flash, flash->Layout());
}

void WriteConfigWords(CICE& ice, McuClass mcuClass, const ConfigWordSet& words, const FlashTimings& timings) {
  const std::unique_ptr<CFlash_ICE> flash = OpenAdapterFlash(ice, mcuClass, timings);
  WriteConfig(*flash, flash->Layout(), words);
}

void SetBootLoaderAccess(CICE& ice, McuClass mcuClass, bool on, const FlashTimings& timings) {
  const std::unique_ptr<CFlash_ICE> flash = OpenAdapterFlash(ice, mcuClass, timings);
  const BootLoaderLayout layout = flash->Layout();
  const uint32_t word0 = flash->ReadWord(layout.configBase);
  const uint32_t wanted = WithLoaderAccess(mcuClass, word0, on);
  if (wanted == word0) return;
  ConfigWordSet words = ReadConfig(*flash, layout);
  words[0] = wanted;
  WriteConfig(*flash, layout, words);
}

uint32_t ReadAdapterId(CICE& ice, McuClass mcuClass, const FlashTimings& timings) {
  return ice::ReadAdapterIdThroughFlash(ice, mcuClass, timings);
}

}  // namespace fwupdate
