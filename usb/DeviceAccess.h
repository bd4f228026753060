// Device access for the transports: one interface, asked per transport kind
// (HID, WinUSB-style bulk, legacy bulk), with a real backend (hidapi or
// libusb) and the emulator backend (VOLINK_SIM_DIR). CHidIO, CWinUSB and
// CBulkUSB only talk to these interfaces, so real and emulated devices run
// the same code.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace usbdev {

enum class Kind { Hid, Bulk, LegacyBulk };
const char* KindName(Kind kind);  // "hid", "bulk", "legacy-bulk"

// A present device interface, as enumeration lists it (nothing opened yet).
struct DeviceInfo {
  Kind kind = Kind::Hid;
  std::string backend;     // "hidapi", "libusb", "emulator", ...
  std::string path;        // interface path; names the share area
  uint16_t vid = 0;
  uint16_t pid = 0;
  int interfaceNumber = -1;  // -1 = unknown
  std::string device;      // the USB device the interface belongs to: interfaces
                           // of one backend with equal non-empty values are
                           // one device; empty = unknown
  std::string locationId;  // USB port path ("1-4.2") or "" when unknown
  std::string serial;      // serial number if enumeration knows it
  uint16_t inSize = 0;     // report or packet bytes (without report id); 0 = unknown
  uint16_t outSize = 0;
  std::string key;         // backend-private: what Open needs
};

enum class OpenError { None, PermissionDenied, Busy, Gone, Other };
const char* OpenErrorText(OpenError e);

struct OpenResult {
  OpenError error = OpenError::None;
  std::string detail;  // backend's own words, may be empty
};

// Standard USB descriptors and pipes, as a bulk transport needs them.
struct PipeInfo {
  uint8_t type = 0;   // 2 = bulk
  uint8_t id = 0;     // endpoint address; bit 7 = IN
  uint16_t maxPacket = 0;
  uint8_t interval = 0;
};

// One opened device interface. Read and Write move one HID report (without
// its report-id byte) or one bulk transfer, and wait at most timeoutMs
// (negative = no limit). A transfer that times out is cancelled and finished
// before the call returns, so it never lands in a buffer later.
class IDevice {
 public:
  virtual ~IDevice() = default;
  virtual bool Read(uint8_t* buf, size_t len, size_t* got, int timeoutMs) = 0;
  virtual bool Write(const uint8_t* buf, size_t len, size_t* sent, int timeoutMs) = 0;

  // HID: report sizes without the report id; false when unknown.
  virtual bool GetReportSizes(uint16_t* in, uint16_t* out) {
    (void)in, (void)out;
    return false;
  }
  // HID: the serial-number string; false when the device has none.
  virtual bool GetSerialNumberString(std::string* serial) {
    (void)serial;
    return false;
  }
  // Bulk: standard descriptors (type 1 device, type 3 string), speed, pipes.
  virtual bool GetDescriptor(uint8_t type, uint8_t index, uint16_t lang, uint8_t* buf,
                             size_t len, size_t* got) {
    (void)type, (void)index, (void)lang, (void)buf, (void)len, (void)got;
    return false;
  }
  virtual bool GetSpeed(uint8_t* speed) {
    (void)speed;
    return false;
  }
  virtual bool GetPipes(std::vector<PipeInfo>* pipes) {
    (void)pipes;
    return false;
  }
};

class IDeviceAccess {
 public:
  virtual ~IDeviceAccess() = default;
  virtual std::vector<DeviceInfo> Enumerate(Kind kind) = 0;
  virtual std::unique_ptr<IDevice> Open(const DeviceInfo& info, OpenResult* result) = 0;
};

// The backends that serve a kind, in order: the emulator first when
// VOLINK_SIM_DIR is set, then the real backend (unless GADREL_USB_REAL=0).
std::vector<std::shared_ptr<IDeviceAccess>> BackendsFor(Kind kind);

// Lists every device of `kind` from all backends, in backend order.
struct Listed {
  DeviceInfo info;
  std::shared_ptr<IDeviceAccess> access;
};
std::vector<Listed> EnumerateAll(Kind kind);

// Replaces the backends for all kinds (tests); an empty list restores the
// defaults.
void SetBackendsForTesting(std::vector<std::shared_ptr<IDeviceAccess>> backends);

}  // namespace usbdev
