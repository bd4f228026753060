#include "usb/CHidCmd.h"

CHidCmd::CHidCmd() = default;
CHidCmd::~CHidCmd() = default;

int CHidCmd::OpenDevices(const UsbDeviceId* table, unsigned count) {
  ClearOpenProblems();
  const bool any = m_io.OpenDevices(table, count);
  for (const OpenProblem& p : m_io.GetOpenProblems()) AddOpenProblem(p);
  SelectDevice(0);
  return any ? 1 : 0;
}

void CHidCmd::CloseOthers() { m_io.CloseOthers(); }

void CHidCmd::CloseAll() {
  m_io.CloseAll();
  GetShareArea().Close();
}

unsigned CHidCmd::GetDeviceCount() const { return m_io.GetDeviceCount(); }

unsigned CHidCmd::SelectDevice(unsigned index) {
  const unsigned previous = m_io.SelectDevice(index);
  BindShareArea(index < m_io.GetDeviceCount() ? m_io.GetPath() : std::string());
  return previous;
}

unsigned CHidCmd::GetSelectedIndex() const { return m_io.GetSelectedIndex(); }
// The framing gets the data bytes only: counting the report-id byte would let
// a short report hand one stale byte of the packet buffer on as payload.
bool CHidCmd::Read(void* b, unsigned n, unsigned* got, int t) {
  unsigned withId = 0;
  const bool ok = m_io.Read(b, n, &withId, t);
  if (got) *got = withId > 0 ? withId - 1 : 0;
  return ok;
}
bool CHidCmd::Write(const void* b, unsigned n, unsigned* sent, int t) {
  return m_io.Write(b, n, sent, t);
}
uint16_t CHidCmd::GetPacketSize(bool in) const { return m_io.GetPacketSize(in); }
std::string CHidCmd::GetLocationId() const { return m_io.GetLocationId(); }
std::string CHidCmd::GetSerialNumber() const { return m_io.GetSerialNumber(); }
usbdev::DeviceInfo CHidCmd::GetDeviceInfo(unsigned index) const { return m_io.GetDeviceInfo(index); }
