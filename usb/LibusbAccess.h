// Real bulk backend over libusb: every vendor-specific interface with a bulk
// IN and a bulk OUT endpoint, listed for both bulk kinds (a Linux host has no
// separate legacy bulk driver).
#pragma once

#include <memory>

#include "usb/DeviceAccess.h"

namespace usbdev {

class LibusbAccess : public IDeviceAccess {
 public:
  LibusbAccess();
  ~LibusbAccess() override;
  std::vector<DeviceInfo> Enumerate(Kind kind) override;
  std::unique_ptr<IDevice> Open(const DeviceInfo& info, OpenResult* result) override;

  struct Context;

 private:
  std::shared_ptr<Context> m_ctx;
};

// libusb time-out argument for a time-out in ms: negative = none (0 to
// libusb), 0 = the shortest wait libusb has (1 ms; 0 would mean no limit).
unsigned int LibusbTimeout(int timeoutMs);

}  // namespace usbdev
