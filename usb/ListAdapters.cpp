#include "usb/ListAdapters.h"

#include <cstdio>
#include <ostream>

#include "usb/CUsbDiscovery.h"

namespace {
const char* TransportName(int kind) {
  switch (kind) {
    case CUsbCmd::kTransportHid: return "hid";
    case CUsbCmd::kTransportBulk: return "bulk";
    case CUsbCmd::kTransportWinUsb: return "winusb";
  }
  return "?";
}
std::string OrDash(const std::string& s) { return s.empty() ? "-" : s; }
}  // namespace

void PrintAdapters(CUsbDiscovery& discovery, std::ostream& out) {
  for (int slot = 0; slot < CUsbDiscovery::kSlotCount; ++slot) {
    CUsbCmd& t = discovery.Transport(slot);
    const unsigned previous = t.GetSelectedIndex();
    for (unsigned i = 0; i < t.GetDeviceCount(); ++i) {
      t.SelectDevice(i);
      const usbdev::DeviceInfo info = t.GetDeviceInfo(i);
      char ids[16];
      std::snprintf(ids, sizeof ids, "%04x:%04x", info.vid, info.pid);
      out << "slot=" << slot << " generation=" << discovery.Port(slot).nChipType
          << " transport=" << TransportName(t.GetTransportKind()) << " id=" << ids
          << " location=" << OrDash(t.GetLocationId()) << " serial=" << OrDash(t.GetSerialNumber())
          << " packet=" << t.GetPacketSize(false) << " path=" << OrDash(info.path) << "\n";
    }
    if (t.GetDeviceCount() > 0) t.SelectDevice(previous);
  }
  for (const OpenProblem& p : discovery.OpenProblems()) {
    out << "not-opened: " << DescribeOpenProblem(p) << "\n";
  }
}

int RunListAdapters(std::ostream& out, std::ostream& err) {
  CUsbDiscovery discovery;
  const bool found = static_cast<bool>(discovery.Run());
  PrintAdapters(discovery, out);
  out.flush();
  if (!found) {
    err << CUsbDiscovery::kNoDeviceMessage << "\n";
    return 1;
  }
  return 0;
}
