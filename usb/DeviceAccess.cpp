#include "usb/DeviceAccess.h"

#include <cstdlib>
#include <cstring>
#include <mutex>

#include "usb/HidapiAccess.h"
#include "usb/LibusbAccess.h"
#include "usb/SimAccess.h"

namespace usbdev {
namespace {

struct Backends {
  std::mutex lock;
  std::vector<std::shared_ptr<IDeviceAccess>> testing;
  std::shared_ptr<IDeviceAccess> sim, hid, bulk;
};

// The real backends hold library state (hidapi, a libusb context) that lives
// as long as the program.
Backends& Instance() {
  static Backends b;
  return b;
}

bool RealDevicesWanted() {
  const char* v = std::getenv("GADREL_USB_REAL");
  return !(v && std::strcmp(v, "0") == 0);
}

}  // namespace

const char* KindName(Kind kind) {
  switch (kind) {
    case Kind::Hid: return "hid";
    case Kind::Bulk: return "bulk";
    case Kind::LegacyBulk: return "legacy-bulk";
  }
  return "?";
}

const char* OpenErrorText(OpenError e) {
  switch (e) {
    case OpenError::None: return "opened";
    case OpenError::PermissionDenied: return "permission denied";
    case OpenError::Busy: return "held by another program";
    case OpenError::Gone: return "device is gone";
    case OpenError::Other: return "cannot be opened";
  }
  return "?";
}

std::vector<std::shared_ptr<IDeviceAccess>> BackendsFor(Kind kind) {
  Backends& b = Instance();
  std::lock_guard<std::mutex> guard(b.lock);
  if (!b.testing.empty()) return b.testing;
  std::vector<std::shared_ptr<IDeviceAccess>> out;
  const char* sim = std::getenv("VOLINK_SIM_DIR");
  if (sim && *sim) {
    if (!b.sim) b.sim = std::make_shared<SimAccess>();
    out.push_back(b.sim);
  }
  if (RealDevicesWanted()) {
    if (kind == Kind::Hid) {
      if (!b.hid) b.hid = std::make_shared<HidapiAccess>();
      out.push_back(b.hid);
    } else {
      if (!b.bulk) b.bulk = std::make_shared<LibusbAccess>();
      out.push_back(b.bulk);
    }
  }
  return out;
}

std::vector<Listed> EnumerateAll(Kind kind) {
  std::vector<Listed> out;
  for (const auto& access : BackendsFor(kind)) {
    for (DeviceInfo& d : access->Enumerate(kind)) out.push_back({std::move(d), access});
  }
  return out;
}

void SetBackendsForTesting(std::vector<std::shared_ptr<IDeviceAccess>> backends) {
  Backends& b = Instance();
  std::lock_guard<std::mutex> guard(b.lock);
  b.testing = std::move(backends);
}

}  // namespace usbdev
