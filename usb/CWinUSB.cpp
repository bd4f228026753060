#include "usb/CWinUSB.h"

#include <algorithm>

#include "usb/UsbTables.h"

namespace {
// What set-up reads of one device besides its list entry.
struct Record {
  OpenedDevice dev;
  uint8_t descriptor[18] = {};
  uint8_t speed = 0;
  usbdev::PipeInfo outPipe;
  usbdev::PipeInfo inPipe;
  uint16_t VendorId() const { return static_cast<uint16_t>(descriptor[8] | descriptor[9] << 8); }
  uint16_t ProductId() const { return static_cast<uint16_t>(descriptor[10] | descriptor[11] << 8); }
};

// Device descriptor, speed, serial-number string and the two bulk pipes.
bool SetUp(Record& r) {
  usbdev::IDevice* device = r.dev.handle.get();
  size_t got = 0;
  if (!device->GetDescriptor(1, 0, 0, r.descriptor, sizeof r.descriptor, &got) || got < 18)
    return false;
  if (!device->GetSpeed(&r.speed)) return false;
  uint8_t str[256] = {};
  got = 0;
  if (r.descriptor[16] != 0 && device->GetDescriptor(3, r.descriptor[16], 0, str, sizeof str, &got)) {
    // One character per UTF-16 unit (its low byte), within both the
    // descriptor's own length and the bytes received.
    const size_t end = std::min<size_t>(str[0], got);
    for (size_t i = 2; i < end; i += 2) r.dev.serial += static_cast<char>(str[i]);
  }
  std::vector<usbdev::PipeInfo> pipes;
  if (!device->GetPipes(&pipes)) return false;
  bool in = false, out = false;
  for (const usbdev::PipeInfo& p : pipes) {
    if (p.type != 2) continue;
    if (p.id & 0x80) {
      r.inPipe = p;
      in = true;
    } else {
      r.outPipe = p;
      out = true;
    }
  }
  return in && out;
}
}  // namespace

CWinUSB::CWinUSB() = default;
CWinUSB::~CWinUSB() = default;

bool CWinUSB::Holds(const usbdev::DeviceInfo& info) const {
  return std::any_of(Devices().begin(), Devices().end(), [&](const OpenedDevice& d) {
    return d.handle && d.info.backend == info.backend && d.info.path == info.path;
  });
}

std::vector<usbdev::Listed> CWinUSB::FamilyInterfaces() const {
  std::vector<usbdev::Listed> out;
  for (usbdev::Listed& listed : usbdev::EnumerateAll(usbdev::Kind::Bulk)) {
    if (!usbtables::InBulkFamily(listed.info.vid, listed.info.pid)) continue;
    if (std::any_of(m_siblings.begin(), m_siblings.end(),
                    [&](const CWinUSB* s) { return s->Holds(listed.info); }))
      continue;
    // One interface per device: the first one (lowest number) of each.
    auto same = std::find_if(out.begin(), out.end(), [&](const usbdev::Listed& o) {
      return !listed.info.device.empty() && o.access == listed.access &&
             o.info.device == listed.info.device;
    });
    if (same == out.end()) {
      out.push_back(std::move(listed));
    } else if (listed.info.interfaceNumber >= 0 &&
               (same->info.interfaceNumber < 0 ||
                listed.info.interfaceNumber < same->info.interfaceNumber)) {
      *same = std::move(listed);
    }
  }
  return out;
}

int CWinUSB::OpenDevices(const UsbDeviceId* table, unsigned count) {
  CloseAll();
  ClearOpenProblems();
  m_bOpenFailure = false;
  auto inTable = [&](uint16_t vid, uint16_t pid) {
    return std::any_of(table, table + count, [&](const UsbDeviceId& id) {
      return id.wVendorId == vid && id.wProductId == pid;  // interface not compared
    });
  };
  // Every adapter of the family is opened, whichever table this slot has: a
  // family device that cannot be opened (held by another program) is the
  // open failure that the discovery pass asks about. Foreign devices are
  // never touched.
  std::vector<Record> records;
  for (const usbdev::Listed& listed : FamilyInterfaces()) {
    usbdev::OpenResult result;
    std::unique_ptr<usbdev::IDevice> device = listed.access->Open(listed.info, &result);
    if (!device) {
      m_bOpenFailure = true;
      AddOpenProblem(listed.info, result);
      continue;
    }
    Record r;
    r.dev.handle = std::move(device);
    r.dev.info = listed.info;
    records.push_back(std::move(r));
  }
  for (Record& r : records) {
    if (!SetUp(r)) return 0;  // everything closed already
  }
  std::vector<OpenedDevice> kept;
  for (Record& r : records) {
    if (inTable(r.VendorId(), r.ProductId())) kept.push_back(std::move(r.dev));
  }
  AdoptDevices(std::move(kept));
  return GetDeviceCount() > 0 ? 1 : 0;
}

bool CWinUSB::Read(void* buffer, unsigned length, unsigned* got, int timeoutMs) {
  return TransferIn(SelectedHandle(), buffer, length, got, timeoutMs);
}

bool CWinUSB::Write(const void* buffer, unsigned length, unsigned* sent, int timeoutMs) {
  return TransferOut(SelectedHandle(), buffer, length, sent, timeoutMs);
}

uint16_t CWinUSB::GetPacketSize(bool) const {
  if (!Selected()) return 0;
  switch (GetHeaderMode()) {
    case 0: return 64;
    case 1: return 512;
    default: return 0;
  }
}
