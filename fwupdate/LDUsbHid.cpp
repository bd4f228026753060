#include "fwupdate/LDUsbHid.h"

#include <algorithm>

#include "fwupdate/UpdateUi.h"
#include "ice/CICEException.h"
#include "platform/StringTable.h"
#include "usb/CHidLDCmd.h"
#include "usb/PacketFraming.h"

namespace fwupdate {
namespace {

constexpr int kShort = 5000;
constexpr int kLong = 25000;

void PutLE32(uint8_t* p, uint32_t v) { framing::PutLE32(p, v); }

}  // namespace

LDUsbHid::LDUsbHid() : m_pCmd(std::make_unique<CHidLDCmd>()) {}
LDUsbHid::~LDUsbHid() = default;

bool LDUsbHid::Connect(IUpdateUi* report) {
  ScopedMutex lock(m_lock);
  m_pCmd->Close();
  m_bConnected = false;
  for (uint16_t pid : kLoaderProductIds) {
    if (!m_pCmd->Open(kLoaderVendorId, pid)) continue;
    const unsigned in = m_pCmd->GetInPacketSize(), out = m_pCmd->GetPacketSize();
    // A report size the protocol cannot use counts as no device.
    if (in < kMinLoaderPacket || in > kMaxLoaderPacket || out < kMinLoaderPacket || out > kMaxLoaderPacket) {
      m_pCmd->Close();
      continue;
    }
    m_pCmd->SetPacketNumber(CHidLDCmd::kFirstPacketNumber);
    m_bConnected = true;
    return true;
  }
  if (report) report->Tell("No upload Device Found, Please Check the Link!", IUpdateUi::Icon::Stop);
  return false;
}

void LDUsbHid::Disconnect() {
  ScopedMutex lock(m_lock);
  m_pCmd->Close();
  m_bConnected = false;
}

std::string LDUsbHid::LocationId() {
  ScopedMutex lock(m_lock);
  return m_pCmd->GetLocationId();
}

bool LDUsbHid::IsConnected() {
  ScopedMutex lock(m_lock);
  return m_bConnected;
}

size_t LDUsbHid::DataPerPacket() {
  ScopedMutex lock(m_lock);
  return m_bConnected ? m_pCmd->GetPacketSize() - framing::kLoaderRequestHeader : 0;
}

void LDUsbHid::Fail(const char* message) {
  m_pCmd->Close();
  m_bConnected = false;
  throw CICEException(message);
}

std::vector<uint8_t> LDUsbHid::Exchange(uint32_t command, std::span<const uint8_t> data, size_t replyBytes,
                                        int sendTimeoutMs, int receiveTimeoutMs, Reply reply) {
  ScopedMutex lock(m_lock);
  if (!m_bConnected) throw CICEException(text::kNoAdapter);
  if (!m_pCmd->SendCommand(command, data.data(), data.size(), sendTimeoutMs)) Fail(text::kWriteError);
  std::vector<uint8_t> out;
  if (reply == Reply::NotAwaited) return out;
  out.resize(kMaxLoaderPacket);
  size_t got = 0;
  if (!m_pCmd->ReceiveReply(out.data(), out.size(), &got, receiveTimeoutMs, reply == Reply::Numbered) ||
      got < replyBytes)
    Fail(text::kReadError);
  out.resize(replyBytes);
  return out;
}

void LDUsbHid::Sync() {
  uint8_t number[4];
  {
    ScopedMutex lock(m_lock);
    PutLE32(number, m_pCmd->GetPacketNumber());
  }
  Exchange(kLdSync, number, 0, kShort, kShort, Reply::Unnumbered);
}

uint32_t LDUsbHid::ReadChipId() {
  return framing::GetLE32(Exchange(kLdChipId, {}, 4, kShort, kShort, Reply::Numbered).data());
}

uint32_t LDUsbHid::ReadFlashInfo() {
  return framing::GetLE32(Exchange(kLdFlashInfo, {}, 4, kShort, kShort, Reply::Numbered).data());
}

uint8_t LDUsbHid::ReadVersion() { return Exchange(kLdVersion, {}, 1, kShort, kShort, Reply::Numbered)[0]; }

LDUsbHid::ConfigWords LDUsbHid::ReadConfig() {
  const std::vector<uint8_t> r = Exchange(kLdReadConfig, {}, 4 * kLoaderConfigWords, kShort, kShort, Reply::Numbered);
  ConfigWords words{};
  for (unsigned i = 0; i < kLoaderConfigWords; ++i) words[i] = framing::GetLE32(r.data() + 4 * i);
  return words;
}

void LDUsbHid::AnnounceApromSize(uint32_t size) {
  uint8_t d[4];
  PutLE32(d, size);
  Exchange(kLdApromSize, d, 0, kShort, kShort, Reply::Numbered);
}

std::array<uint8_t, 8> LDUsbHid::WriteConfig(const ConfigWords& words) {
  uint8_t d[4 * kLoaderConfigWords];
  for (unsigned i = 0; i < kLoaderConfigWords; ++i) PutLE32(d + 4 * i, words[i]);
  const std::vector<uint8_t> r = Exchange(kLdWriteConfig, d, 8, kLong, kLong, Reply::Numbered);
  std::array<uint8_t, 8> out{};
  std::copy(r.begin(), r.end(), out.begin());
  return out;
}

void LDUsbHid::WriteAprom(uint32_t start, std::span<const uint8_t> image, const WriteProgress& progress) {
  const size_t perPacket = DataPerPacket();
  if (perPacket == 0) throw CICEException(text::kNoAdapter);
  // The first packet spends 8 of its bytes on start address and length.
  if (perPacket <= 8) throw CICEException(text::kWriteError);
  std::vector<uint8_t> packet;
  size_t offset = 0;
  for (size_t index = 0; offset < image.size() || index == 0; ++index) {
    const bool first = index == 0;
    const size_t room = first ? perPacket - 8 : perPacket;
    const size_t n = std::min(room, image.size() - offset);
    packet.assign(first ? 8 : 0, 0);
    if (first) {
      PutLE32(packet.data(), start);
      PutLE32(packet.data() + 4, static_cast<uint32_t>(image.size()));
    }
    packet.insert(packet.end(), image.begin() + static_cast<std::ptrdiff_t>(offset),
                  image.begin() + static_cast<std::ptrdiff_t>(offset + n));
    Exchange(first ? kLdWriteFirst : kLdWriteNext, packet, 0, kLong, kLong, Reply::Numbered);
    if (progress) progress(index, offset, n);
    offset += n;
  }
}

void LDUsbHid::StoreChecksum(uint32_t length, uint16_t checksum) {
  uint8_t d[8];
  PutLE32(d, length);
  PutLE32(d + 4, checksum);
  Exchange(kLdStoreChecksum, d, 0, kLong, kShort, Reply::Numbered);
}

uint16_t LDUsbHid::ReadChecksum(uint32_t start, uint32_t length) {
  uint8_t d[8];
  PutLE32(d, start);
  PutLE32(d + 4, length);
  const std::vector<uint8_t> r = Exchange(kLdReadChecksum, d, 2, kLong, kLong, Reply::Numbered);
  return framing::GetLE16(r.data());
}

void LDUsbHid::StartApplication() { Exchange(kLdStartApplication, {}, 0, kShort, kShort, Reply::NotAwaited); }
void LDUsbHid::RestartLoader() { Exchange(kLdRestartLoader, {}, 0, kShort, kShort, Reply::NotAwaited); }

}  // namespace fwupdate
