// Emulator backend: every `<name>.json` in the folder VOLINK_SIM_DIR whose
// `<name>.sock` exists is one device interface; one SOCK_SEQPACKET connection
// is one open handle and one message one transfer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "usb/DeviceAccess.h"

namespace usbdev {

class SimAccess : public IDeviceAccess {
 public:
  // folder empty = read VOLINK_SIM_DIR at every enumeration.
  explicit SimAccess(std::string folder = {});
  std::vector<DeviceInfo> Enumerate(Kind kind) override;
  std::unique_ptr<IDevice> Open(const DeviceInfo& info, OpenResult* result) override;

  // How long Open waits for the device's first byte.
  static constexpr int kOpenWaitMs = 1000;
  // Largest description file read; only regular files are read, without
  // blocking, and larger ones are skipped.
  static constexpr size_t kMaxDescriptionBytes = 64 * 1024;

 private:
  std::string m_folder;
};

// Location id of an emulated device: a Linux port path ("1-4.2") is taken
// as it is; anything else is read as a Windows-style id (the HID parent's
// instance id, or for bulk kinds the interface path) and cut with the
// patterns of LocationId.h, empty when it does not match.
std::string SimLocationId(Kind kind, const std::string& location, const std::string& path);

// The device an emulated interface belongs to: its ids, its path without the
// interface tag ("&mi_03") and its location, so that the interfaces of one
// emulated adapter agree and those of two adapters differ. Empty when the
// path has no interface tag (the device is then not known).
std::string SimDeviceOf(uint16_t vid, uint16_t pid, const std::string& path,
                        const std::string& location);

}  // namespace usbdev
