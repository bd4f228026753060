#include "usb/CUsbCmd.h"

#include <algorithm>
#include <cstring>
#include <span>

#include "platform/Tick.h"
#include "usb/PacketFraming.h"

std::string DescribeOpenProblem(const OpenProblem& p) {
  char ids[16];
  std::snprintf(ids, sizeof ids, "%04x:%04x", p.vid, p.pid);
  std::string s = std::string(usbdev::KindName(p.kind)) + " " + ids + " " + p.path + ": " +
                  usbdev::OpenErrorText(p.error);
  if (!p.detail.empty() && p.detail != usbdev::OpenErrorText(p.error)) s += " (" + p.detail + ")";
  if (p.error == usbdev::OpenError::PermissionDenied)
    s += "; the udev rules in udev/ (60-volink.rules) grant access, see udev/README.md";
  return s;
}

std::string ShareBaseName(const std::string& path) {
  std::string s = path;
  for (char& c : s) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (!((u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9'))) c = '_';
  }
  return s;
}

CUsbCmd::CUsbCmd() { m_shareAreas.emplace_back(); }
CUsbCmd::~CUsbCmd() = default;

int CUsbCmd::Open(int headerMode, const UsbDeviceId* table, unsigned count) {
  m_nHeaderMode = headerMode;
  if (count == 0) return 0;
  return OpenDevices(table, count);
}

UsbShareArea& CUsbCmd::GetShareArea() { return m_shareAreas.front(); }
UsbShareAreaList& CUsbCmd::GetShareAreas() { return m_shareAreas; }
bool CUsbCmd::GetLastReplyFlag() const { return m_bLastReplyFlag; }

bool CUsbCmd::SendPacket(const void* data, unsigned length, unsigned* sent, int timeoutMs) {
  if (sent) *sent = 0;
  const size_t packetSize = std::min<size_t>(GetPacketSize(false), kPacketBufferSize);
  const size_t header = framing::HeaderSize(m_nHeaderMode);
  // Without a device (or in an unknown mode) there is nothing to send, and
  // the adapter's counter is left alone.
  if (header == 0 || packetSize <= header) return false;
  // A request that does not fit would arrive cut short and be carried out
  // on the wrong data: refuse it before it takes a sequence number.
  if (length > framing::MaxPayload(packetSize, m_nHeaderMode)) return false;

  CUsbCmdShare* share = GetShareArea().Data();  // throws unless locked
  if (!share) return false;
  const uint8_t seq = static_cast<uint8_t>((share->bSequence + 1) & framing::kSeqMask);
  share->bSequence = seq;

  const std::span<uint8_t> packet(m_packet, packetSize);
  if (framing::FramePacket(packet, m_nHeaderMode, seq,
                           std::span<const uint8_t>(static_cast<const uint8_t*>(data), length)) < 0)
    return false;
  return Write(m_packet, static_cast<unsigned>(packetSize), sent, timeoutMs);
}

bool CUsbCmd::ReceivePacket(void* buffer, unsigned capacity, unsigned* length, int timeoutMs) {
  const uint64_t t0 = platform::TickCountMs();
  const size_t packetSize = std::min<size_t>(GetPacketSize(true), kPacketBufferSize);
  if (packetSize == 0) return false;
  for (;;) {
    unsigned got = 0;
    if (!Read(m_packet, static_cast<unsigned>(packetSize), &got, timeoutMs)) return false;
    got = std::min<unsigned>(got, static_cast<unsigned>(packetSize));
    if (got == 0) return false;
    m_bLastReplyFlag = (m_packet[0] & framing::kReplyFlag) != 0;
    const CUsbCmdShare* share = GetShareArea().Data();  // throws unless locked
    if (!share) return false;
    if ((m_packet[0] & framing::kSeqMask) != share->bSequence) {
      // A reply to an earlier request: skip it while time is left.
      if (timeoutMs >= 0 && platform::TickCountMs() - t0 > static_cast<uint64_t>(timeoutMs))
        return false;
      continue;
    }
    framing::Parsed parsed;
    if (!framing::ParsePacket(std::span<const uint8_t>(m_packet, got), m_nHeaderMode, parsed))
      return false;
    const size_t n = std::min<size_t>(parsed.length, capacity);
    if (n) std::memcpy(buffer, m_packet + parsed.offset, n);
    if (length) *length = static_cast<unsigned>(n);
    return true;
  }
}

void CUsbCmd::AdoptDevices(std::vector<OpenedDevice> devices) {
  m_devices = std::move(devices);
  if (m_devices.empty())
    CloseAll();
  else
    SelectDevice(0);
}

void CUsbCmd::CloseOthers() {
  for (unsigned i = 0; i < m_devices.size(); ++i) {
    if (i != m_nSelected) m_devices[i].handle.reset();
  }
}

void CUsbCmd::CloseAll() {
  m_devices.clear();
  m_nSelected = kNoDevice;
  GetShareArea().Close();
}

unsigned CUsbCmd::GetDeviceCount() const { return static_cast<unsigned>(m_devices.size()); }
unsigned CUsbCmd::GetSelectedIndex() const { return m_nSelected; }

unsigned CUsbCmd::SelectDevice(unsigned index) {
  const unsigned previous = m_nSelected;
  m_nSelected = index;
  UsbShareArea& area = GetShareArea();
  area.Close();
  const OpenedDevice* d = Selected();
  if (d && !d->info.path.empty()) {
    area.SetName(ShareBaseName(d->info.path));
    area.Open();
  }
  return previous;
}

const OpenedDevice* CUsbCmd::Selected() const {
  return m_nSelected < m_devices.size() ? &m_devices[m_nSelected] : nullptr;
}

usbdev::IDevice* CUsbCmd::SelectedHandle() const {
  const OpenedDevice* d = Selected();
  return d ? d->handle.get() : nullptr;
}

std::string CUsbCmd::GetLocationId() const {
  const OpenedDevice* d = Selected();
  return d ? d->info.locationId : std::string();
}

std::string CUsbCmd::GetSerialNumber() const {
  const OpenedDevice* d = Selected();
  return d ? d->serial : std::string();
}

usbdev::DeviceInfo CUsbCmd::GetDeviceInfo(unsigned index) const {
  return index < m_devices.size() ? m_devices[index].info : usbdev::DeviceInfo{};
}

bool CUsbCmd::TransferIn(usbdev::IDevice* device, void* buffer, unsigned length, unsigned* got,
                         int timeoutMs) {
  if (got) *got = 0;
  size_t n = 0;
  if (!device || !device->Read(static_cast<uint8_t*>(buffer), length, &n, timeoutMs)) return false;
  if (got) *got = static_cast<unsigned>(n);
  return true;
}

bool CUsbCmd::TransferOut(usbdev::IDevice* device, const void* buffer, unsigned length,
                          unsigned* sent, int timeoutMs) {
  if (sent) *sent = 0;
  size_t n = 0;
  if (!device || !device->Write(static_cast<const uint8_t*>(buffer), length, &n, timeoutMs))
    return false;
  if (sent) *sent = static_cast<unsigned>(n);
  return true;
}

void CUsbCmd::AddOpenProblem(const usbdev::DeviceInfo& info, const usbdev::OpenResult& r) {
  m_openProblems.push_back({info.kind, info.backend, info.path, info.vid, info.pid, r.error, r.detail, info.locationId,
                            info.serial});
}
