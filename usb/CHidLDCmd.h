// The HID channel to the adapter's boot loader: requests carry a command
// code and a packet number, replies echo the request's checksum.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "usb/CHidIO.h"

class CHidLDCmd {
 public:
  static constexpr uint32_t kFirstPacketNumber = 18;

  CHidLDCmd();
  virtual ~CHidLDCmd();
  CHidLDCmd(const CHidLDCmd&) = delete;
  CHidLDCmd& operator=(const CHidLDCmd&) = delete;

  // Opens the first HID device with these ids (any interface) that can be
  // opened.
  bool Open(uint16_t vid, uint16_t pid);
  void Close();
  bool IsOpen() const;
  // Report data bytes (without the report id); 0 when closed.
  uint16_t GetPacketSize() const;
  // Input report data bytes; 0 when closed.
  uint16_t GetInPacketSize() const;
  // USB location of the open device ("" when closed or unknown).
  std::string GetLocationId() const { return IsOpen() ? m_device.info.locationId : std::string(); }

  // Sends one request: command code, packet number, then at most
  // packet size - 8 bytes of data. After a good write the packet number
  // goes up by 2.
  bool SendCommand(uint32_t command, const void* data, size_t length, int timeoutMs);
  // Receives the reply to the last request: its checksum must match and,
  // when asked, its packet number must be the request's + 1. Other reports
  // are skipped until timeoutMs has passed since the first read.
  bool ReceiveReply(void* buffer, size_t capacity, size_t* length, int timeoutMs,
                    bool checkPacketNumber);

  uint32_t GetPacketNumber() const { return m_nPacketNumber; }
  void SetPacketNumber(uint32_t n) { m_nPacketNumber = n; }
  uint16_t GetExpectedChecksum() const { return m_wChecksum; }

  // The 16-bit sum of all bytes ("abc" gives 294).
  static uint16_t Checksum(const void* data, size_t length);

 private:
  OpenedDevice m_device;  // no handle while closed
  uint8_t m_packet[1025] = {};
  uint32_t m_nPacketNumber = kFirstPacketNumber;
  uint32_t m_nRequestNumber = 0;
  uint16_t m_wChecksum = 0;
};
