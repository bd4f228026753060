#include "sim/BootLoader.h"

#include <algorithm>

#include "sim/Commands.h"
#include "usb/PacketFraming.h"

namespace sim {
namespace {
constexpr uint32_t kHeader = 0xC0;  // application image header word
}  // namespace

using framing::GetLE32;
using framing::PutLE16;
using framing::PutLE32;

BootLoader::BootLoader(const AdapterConfig& config, AdapterMcu& mcu) : m_config(config), m_mcu(mcu) {}

void BootLoader::Start() {
  m_exit = Exit::None;
  m_writeRemaining = 0;
}

BootLoader::Exit BootLoader::TakeExit() {
  const Exit e = m_exit;
  m_exit = Exit::None;
  return e;
}

uint32_t BootLoader::ApromLimit() const {
  const uint32_t size = static_cast<uint32_t>(m_mcu.Aprom().size());
  const std::vector<uint32_t> cfg = m_mcu.ConfigWords();
  // Configuration word 0 bit 0 clear: the data flash starts at word 1.
  if (!(cfg[0] & 1) && cfg[1] > 0 && cfg[1] < size) return cfg[1];
  return size;
}

void BootLoader::WriteImage(std::span<const uint8_t> bytes) {
  const size_t n = std::min<size_t>(bytes.size(), m_writeRemaining);
  auto& aprom = m_mcu.Aprom();
  const uint32_t limit = ApromLimit();
  for (size_t i = 0; i < n; ++i) {
    const uint32_t a = m_writeAddress + static_cast<uint32_t>(i);
    if (m_headerCovered && a >= kHeader && a < kHeader + 4) m_header[a - kHeader] = bytes[i];
    else if (a < limit) aprom[a] = bytes[i];
  }
  m_writeAddress += static_cast<uint32_t>(n);
  m_writeRemaining -= static_cast<uint32_t>(n);
  if (m_writeRemaining == 0 && m_headerCovered)
    for (uint32_t i = 0; i < 4; ++i)
      if (kHeader + i < limit) aprom[kHeader + i] = m_header[i];
}

std::optional<std::vector<uint8_t>> BootLoader::Handle(std::span<const uint8_t> report) {
  if (report.size() < framing::kLoaderRequestHeader) return std::nullopt;
  const uint32_t cmd = GetLE32(report.data());
  const uint32_t number = GetLE32(report.data() + 4);
  const auto data = report.subspan(framing::kLoaderRequestHeader);
  std::vector<uint8_t> out;  // reply data
  switch (static_cast<LoaderCmd>(cmd)) {
    case LoaderCmd::Sync:  // synchronise packet numbers
      break;
    case LoaderCmd::ChipId:
      out.resize(4);
      PutLE32(out.data(), m_mcu.ChipId());
      break;
    case LoaderCmd::FlashSize:  // flash size in bytes
      out.resize(4);
      PutLE32(out.data(), static_cast<uint32_t>(m_mcu.Aprom().size()));
      break;
    case LoaderCmd::Version:
      out.push_back(m_config.loaderVersion);
      break;
    case LoaderCmd::ReadConfig: {
      const auto words = m_mcu.ConfigWords();
      out.resize(56);
      for (size_t i = 0; i < 14; ++i) PutLE32(out.data() + 4 * i, words[i]);
      break;
    }
    case LoaderCmd::ApromSize:  // APROM size announced: the writes below are bounded by the flash itself
    case LoaderCmd::StoreSum:  // image length and checksum stored: 0xC8 recomputes it from the flash
      break;
    case LoaderCmd::WriteConfig: {
      std::vector<uint32_t> words(14, 0xFFFFFFFF);
      for (size_t i = 0; i < 14 && 4 * i + 4 <= data.size(); ++i) words[i] = GetLE32(data.data() + 4 * i);
      m_mcu.SetConfigWords(words);
      out.resize(8);
      PutLE32(out.data(), words[0]);
      PutLE32(out.data() + 4, words[1]);
      break;
    }
    case LoaderCmd::WriteFirst: {
      if (data.size() < 8) break;
      m_writeAddress = GetLE32(data.data());
      const uint32_t total = GetLE32(data.data() + 4);
      // Erase what the new image will cover, then take its first bytes.
      auto& aprom = m_mcu.Aprom();
      const uint32_t end = std::min<uint32_t>(m_writeAddress + total, static_cast<uint32_t>(aprom.size()));
      if (m_writeAddress < end) std::fill(aprom.begin() + m_writeAddress, aprom.begin() + end, 0xFF);
      m_writeRemaining = total;
      std::fill(std::begin(m_header), std::end(m_header), 0xFF);
      m_headerCovered = m_writeAddress <= kHeader && uint64_t(m_writeAddress) + total >= kHeader + 4;
      WriteImage(data.subspan(8));
      break;
    }
    case LoaderCmd::WriteMore:
      WriteImage(data);
      break;
    case LoaderCmd::ReadSum: {
      const uint32_t start = data.size() >= 8 ? GetLE32(data.data()) : 0;
      const uint32_t len = data.size() >= 8 ? GetLE32(data.data() + 4) : 0;
      const auto& aprom = m_mcu.Aprom();
      uint16_t sum = 0;
      for (uint32_t a = start; a < start + len && a < aprom.size(); ++a) sum = static_cast<uint16_t>(sum + aprom[a]);
      out.resize(2);
      PutLE16(out.data(), sum);
      break;
    }
    case LoaderCmd::StartApplication:
      m_exit = Exit::StartApplication;
      return std::nullopt;
    case LoaderCmd::RestartLoader:
      m_exit = Exit::RestartLoader;
      return std::nullopt;
    default:
      break;  // unknown commands are answered without data
  }
  std::vector<uint8_t> reply(report.size());
  framing::FrameLoaderReply(reply, framing::Checksum16(report), number + 1, out);
  return reply;
}

}  // namespace sim
