// The connection to an adapter's boot loader: finds the boot-loader HID
// device among its product ids and speaks the boot-loader commands over
// CHidLDCmd. Every operation runs under the object's own lock; failures
// are thrown as CICEException ("ICE write error.", "ICE read error or
// time-out.", "There is no Vo-Link connected to a USB port."), a failed
// transfer also disconnects.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <vector>

#include "platform/CMutex2.h"

class CHidLDCmd;

namespace fwupdate {

class IUpdateUi;

inline constexpr uint16_t kLoaderVendorId = 0x0416;
// Tried in this order.
inline constexpr uint16_t kLoaderProductIds[] = {0xA316, 0xA320, 0x5211, 0x200D};
inline constexpr unsigned kLoaderConfigWords = 14;
// Usable report sizes.
inline constexpr unsigned kMinLoaderPacket = 9, kMaxLoaderPacket = 1024;

// Boot-loader command codes.
enum LoaderCommand : uint32_t {
  kLdSync = 0xA4,
  kLdChipId = 0xB1,
  kLdFlashInfo = 0xB2,
  kLdVersion = 0xA6,
  kLdReadConfig = 0xA2,
  kLdApromSize = 0xAA,
  kLdWriteConfig = 0xA1,
  kLdWriteFirst = 0xA0,
  kLdWriteNext = 0x00,
  kLdStoreChecksum = 0xC9,
  kLdReadChecksum = 0xC8,
  kLdStartApplication = 0xAB,
  kLdRestartLoader = 0xAC,
};

class LDUsbHid {
 public:
  using ConfigWords = std::array<uint32_t, kLoaderConfigWords>;
  // After each packet of an APROM write: packet index, offset of its
  // first image byte, image bytes it carried.
  using WriteProgress = std::function<void(size_t packet, size_t offset, size_t bytes)>;

  LDUsbHid();
  ~LDUsbHid();
  LDUsbHid(const LDUsbHid&) = delete;
  LDUsbHid& operator=(const LDUsbHid&) = delete;

  // Connected on the first boot-loader product id that opens. When none
  // does and `report` is given, it shows "No upload Device Found, Please
  // Check the Link!" with the error icon.
  bool Connect(IUpdateUi* report = nullptr);
  void Disconnect();
  bool IsConnected();
  // USB location of the connected boot-loader device ("" when unknown).
  std::string LocationId();

  // The commands.
  void Sync();
  uint32_t ReadChipId();
  uint32_t ReadFlashInfo();
  uint8_t ReadVersion();
  ConfigWords ReadConfig();
  void AnnounceApromSize(uint32_t size);
  // Returns the 8 bytes of the reply.
  std::array<uint8_t, 8> WriteConfig(const ConfigWords& words);
  // The first `image.size()` bytes from address `start` on: 0xA0 with start,
  // length and the first bytes, then 0x00 packets.
  void WriteAprom(uint32_t start, std::span<const uint8_t> image, const WriteProgress& progress = {});
  void StoreChecksum(uint32_t length, uint16_t checksum);
  uint16_t ReadChecksum(uint32_t start, uint32_t length);
  void StartApplication();
  void RestartLoader();

  // Bytes of data a request carries (packet size - 8); 0 when disconnected.
  size_t DataPerPacket();

 private:
  enum class Reply { NotAwaited, Unnumbered, Numbered };
  // One exchange; returns at least `replyBytes` bytes of reply data.
  std::vector<uint8_t> Exchange(uint32_t command, std::span<const uint8_t> data, size_t replyBytes,
                                int sendTimeoutMs, int receiveTimeoutMs, Reply reply);
  [[noreturn]] void Fail(const char* message);

  CMutex2 m_lock;
  std::unique_ptr<CHidLDCmd> m_pCmd;
  bool m_bConnected = false;
};

}  // namespace fwupdate
