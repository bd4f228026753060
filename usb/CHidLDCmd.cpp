#include "usb/CHidLDCmd.h"

#include <algorithm>
#include <cstring>
#include <span>
#include <vector>

#include "platform/Tick.h"
#include "usb/PacketFraming.h"

CHidLDCmd::CHidLDCmd() = default;
CHidLDCmd::~CHidLDCmd() = default;

bool CHidLDCmd::Open(uint16_t vid, uint16_t pid) {
  Close();
  const UsbDeviceId id{vid, pid, kAnyInterface};
  std::vector<OpenedDevice> opened;
  std::vector<OpenProblem> problems;
  CHidIO::OpenMatching(&id, 1, opened, problems);
  if (!opened.empty()) m_device = std::move(opened.front());
  return IsOpen();
}

void CHidLDCmd::Close() { m_device = OpenedDevice{}; }
bool CHidLDCmd::IsOpen() const { return m_device.handle != nullptr; }
uint16_t CHidLDCmd::GetPacketSize() const { return IsOpen() ? m_device.outSize : 0; }
uint16_t CHidLDCmd::GetInPacketSize() const { return IsOpen() ? m_device.inSize : 0; }

uint16_t CHidLDCmd::Checksum(const void* data, size_t length) {
  return framing::Checksum16(std::span<const uint8_t>(static_cast<const uint8_t*>(data), length));
}

bool CHidLDCmd::SendCommand(uint32_t command, const void* data, size_t length, int timeoutMs) {
  const size_t p = std::min<size_t>(GetPacketSize(), sizeof m_packet - 1);
  if (p < framing::kLoaderRequestHeader + 1) return false;
  m_packet[0] = 0;  // report id
  m_wChecksum = framing::FrameLoaderRequest(
      std::span<uint8_t>(m_packet + 1, p), command, m_nPacketNumber,
      std::span<const uint8_t>(static_cast<const uint8_t*>(data), data ? length : 0));
  unsigned sent = 0;
  if (!CHidIO::Write(m_device.handle.get(), m_packet + 1, static_cast<unsigned>(p), &sent, timeoutMs)) return false;
  m_nRequestNumber = m_nPacketNumber;
  m_nPacketNumber += 2;
  return true;
}

bool CHidLDCmd::ReceiveReply(void* buffer, size_t capacity, size_t* length, int timeoutMs,
                             bool checkPacketNumber) {
  if (length) *length = 0;
  const size_t p = std::min<size_t>(IsOpen() ? m_device.inSize : 0, sizeof m_packet - 1);
  if (p == 0) return false;
  const uint64_t t0 = platform::TickCountMs();
  for (;;) {
    int wait = timeoutMs;
    if (timeoutMs >= 0) {
      const uint64_t spent = platform::TickCountMs() - t0;
      if (spent > static_cast<uint64_t>(timeoutMs)) return false;
      wait = timeoutMs - static_cast<int>(spent);
    }
    std::memset(m_packet, 0, sizeof m_packet);
    unsigned got = 0;  // report id included
    if (!CHidIO::Read(m_device.handle.get(), m_packet + 1, static_cast<unsigned>(p), &got, wait)) return false;
    if (got < 9) continue;
    const uint8_t* r = m_packet + 1;
    if (framing::GetLE16(r) != m_wChecksum) continue;
    if (checkPacketNumber && framing::GetLE32(r + 2) != m_nRequestNumber + 1) continue;
    const size_t n = std::min<size_t>(got - 9, capacity);
    if (n && buffer) std::memcpy(buffer, r + framing::kLoaderReplyHeader, n);
    if (length) *length = n;
    return true;
  }
}
