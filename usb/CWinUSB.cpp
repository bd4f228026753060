#include "usb/CWinUSB.h"

#include <algorithm>

#include "usb/UsbTables.h"

CWinUSB::CWinUSB() = default;
CWinUSB::~CWinUSB() = default;

bool CWinUSB::SetUp(Record& r) {
  size_t got = 0;
  if (!r.device->GetDescriptor(1, 0, 0, r.descriptor, sizeof r.descriptor, &got) || got < 18)
    return false;
  if (!r.device->GetSpeed(&r.speed)) return false;
  uint8_t str[256] = {};
  got = 0;
  if (r.descriptor[16] != 0 && r.device->GetDescriptor(3, r.descriptor[16], 0, str, sizeof str, &got)) {
    // One character per UTF-16 unit (its low byte), within both the
    // descriptor's own length and the bytes received.
    const size_t end = std::min<size_t>(str[0], got);
    for (size_t i = 2; i < end; i += 2) r.serial += static_cast<char>(str[i]);
  }
  std::vector<usbdev::PipeInfo> pipes;
  if (!r.device->GetPipes(&pipes)) return false;
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

bool CWinUSB::Holds(const usbdev::DeviceInfo& info) const {
  return std::any_of(m_records.begin(), m_records.end(), [&](const Record& r) {
    return r.device && r.info.backend == info.backend && r.info.path == info.path;
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
  for (const usbdev::Listed& listed : FamilyInterfaces()) {
    usbdev::OpenResult result;
    std::unique_ptr<usbdev::IDevice> device = listed.access->Open(listed.info, &result);
    if (!device) {
      m_bOpenFailure = true;
      AddOpenProblem(listed.info, result);
      continue;
    }
    Record r;
    r.device = std::move(device);
    r.info = listed.info;
    r.locationId = listed.info.locationId;
    m_records.push_back(std::move(r));
  }
  for (Record& r : m_records) {
    if (!SetUp(r)) {
      CloseAll();
      return 0;
    }
  }
  std::erase_if(m_records, [&](const Record& r) { return !inTable(r.VendorId(), r.ProductId()); });
  if (m_records.empty()) {
    CloseAll();
    return 0;
  }
  SelectDevice(0);
  return 1;
}

void CWinUSB::CloseOthers() {
  for (unsigned i = 0; i < m_records.size(); ++i) {
    if (i != m_nSelected) m_records[i].device.reset();
  }
}

void CWinUSB::CloseAll() {
  m_records.clear();
  m_nSelected = kNoDevice;
}

unsigned CWinUSB::GetDeviceCount() const { return static_cast<unsigned>(m_records.size()); }

unsigned CWinUSB::SelectDevice(unsigned index) {
  const unsigned previous = m_nSelected;
  m_nSelected = index;
  BindShareArea(index < m_records.size() ? m_records[index].info.path : std::string());
  return previous;
}

const CWinUSB::Record* CWinUSB::Selected() const {
  return m_nSelected < m_records.size() ? &m_records[m_nSelected] : nullptr;
}

bool CWinUSB::Read(void* buffer, unsigned length, unsigned* got, int timeoutMs) {
  const Record* r = Selected();
  return TransferIn(r ? r->device.get() : nullptr, buffer, length, got, timeoutMs);
}

bool CWinUSB::Write(const void* buffer, unsigned length, unsigned* sent, int timeoutMs) {
  const Record* r = Selected();
  return TransferOut(r ? r->device.get() : nullptr, buffer, length, sent, timeoutMs);
}

uint16_t CWinUSB::GetPacketSize(bool) const {
  if (!Selected()) return 0;
  switch (GetHeaderMode()) {
    case 0: return 64;
    case 1: return 512;
    default: return 0;
  }
}

std::string CWinUSB::GetLocationId() const {
  const Record* r = Selected();
  return r ? r->locationId : std::string();
}
std::string CWinUSB::GetSerialNumber() const {
  const Record* r = Selected();
  return r ? r->serial : std::string();
}
usbdev::DeviceInfo CWinUSB::GetDeviceInfo(unsigned index) const {
  return index < m_records.size() ? m_records[index].info : usbdev::DeviceInfo{};
}
