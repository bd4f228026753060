#include "usb/CHidCmd.h"

CHidCmd::CHidCmd() = default;
CHidCmd::~CHidCmd() = default;

int CHidCmd::OpenDevices(const UsbDeviceId* table, unsigned count) {
  CloseAll();
  ClearOpenProblems();
  std::vector<OpenedDevice> opened;
  std::vector<OpenProblem> problems;
  const bool any = CHidIO::OpenMatching(table, count, opened, problems);
  for (const OpenProblem& p : problems) AddOpenProblem(p);
  AdoptDevices(std::move(opened));
  return any ? 1 : 0;
}

// The framing gets the data bytes only: counting the report-id byte would let
// a short report hand one stale byte of the packet buffer on as payload.
bool CHidCmd::Read(void* b, unsigned n, unsigned* got, int t) {
  unsigned withId = 0;
  const bool ok = CHidIO::Read(SelectedHandle(), b, n, &withId, t);
  if (got) *got = withId > 0 ? withId - 1 : 0;
  return ok;
}

bool CHidCmd::Write(const void* b, unsigned n, unsigned* sent, int t) {
  return CHidIO::Write(SelectedHandle(), b, n, sent, t);
}

uint16_t CHidCmd::GetPacketSize(bool in) const {
  const OpenedDevice* d = Selected();
  if (!d) return 0;
  return in ? d->inSize : d->outSize;
}
