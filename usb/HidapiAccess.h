// Real HID backend over hidapi (hidraw).
#pragma once

#include <cstdint>
#include <vector>

#include "usb/DeviceAccess.h"

namespace usbdev {

class HidapiAccess : public IDeviceAccess {
 public:
  HidapiAccess();
  ~HidapiAccess() override;
  std::vector<DeviceInfo> Enumerate(Kind kind) override;
  std::unique_ptr<IDevice> Open(const DeviceInfo& info, OpenResult* result) override;
};

// Largest input and output report of a HID report descriptor, in bytes
// without the report id; false when the descriptor cannot be read.
bool HidReportSizes(const std::vector<uint8_t>& descriptor, uint16_t* in, uint16_t* out);

}  // namespace usbdev
