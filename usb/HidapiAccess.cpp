#include "usb/HidapiAccess.h"

#include <hidapi/hidapi.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>

#include "usb/LocationId.h"

namespace usbdev {
namespace {

std::string Narrow(const wchar_t* w) {
  std::string s;
  if (!w) return s;
  for (; *w; ++w) {  // UTF-8 of each code point
    const uint32_t c = static_cast<uint32_t>(*w);
    if (c < 0x80) {
      s += static_cast<char>(c);
    } else if (c < 0x800) {
      s += static_cast<char>(0xC0 | (c >> 6));
      s += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      s += static_cast<char>(0xE0 | (c >> 12));
      s += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      s += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      s += static_cast<char>(0xF0 | (c >> 18));
      s += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      s += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      s += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return s;
}

// "/dev/hidraw3" -> "/sys/class/hidraw/hidraw3/device"
std::string SysfsDevice(const std::string& devPath) {
  const auto slash = devPath.rfind('/');
  return "/sys/class/hidraw/" + devPath.substr(slash + 1) + "/device";
}

class HidapiDevice : public IDevice {
 public:
  HidapiDevice(hid_device* dev, DeviceInfo info) : m_dev(dev), m_info(std::move(info)) {}
  ~HidapiDevice() override { hid_close(m_dev); }

  bool Read(uint8_t* buf, size_t len, size_t* got, int timeoutMs) override {
    if (got) *got = 0;
    const int n = hid_read_timeout(m_dev, buf, len, timeoutMs < 0 ? -1 : timeoutMs);
    if (n <= 0) return false;  // 0 = time-out
    if (got) *got = static_cast<size_t>(n);
    return true;
  }

  // hidraw writes go out synchronously; the kernel bounds them itself.
  bool Write(const uint8_t* buf, size_t len, size_t* sent, int) override {
    if (sent) *sent = 0;
    std::vector<uint8_t> report(len + 1, 0);  // report id 0, then the data
    std::memcpy(report.data() + 1, buf, len);
    const int n = hid_write(m_dev, report.data(), report.size());
    if (n < 0) return false;
    if (sent) *sent = n > 0 ? static_cast<size_t>(n - 1) : 0;
    return true;
  }

  bool GetReportSizes(uint16_t* in, uint16_t* out) override {
    std::ifstream f(SysfsDevice(m_info.path) + "/report_descriptor", std::ios::binary);
    if (!f) return false;
    std::vector<uint8_t> desc((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    return HidReportSizes(desc, in, out);
  }

  bool GetSerialNumberString(std::string* serial) override {
    wchar_t buf[256] = {};
    if (hid_get_serial_number_string(m_dev, buf, 255) != 0) return false;
    *serial = Narrow(buf);
    return true;
  }

 private:
  hid_device* m_dev;
  DeviceInfo m_info;
};

}  // namespace

bool HidReportSizes(const std::vector<uint8_t>& d, uint16_t* in, uint16_t* out) {
  struct Globals {
    uint32_t size = 0, count = 0;
  };
  Globals g;
  std::vector<Globals> stack;
  uint8_t reportId = 0;
  std::map<uint8_t, uint32_t> inBits, outBits;
  size_t i = 0;
  while (i < d.size()) {
    const uint8_t prefix = d[i];
    if (prefix == 0xFE) {  // long item
      if (i + 1 >= d.size()) return false;
      i += 3 + d[i + 1];
      continue;
    }
    size_t n = prefix & 3;
    if (n == 3) n = 4;
    if (i + 1 + n > d.size()) return false;
    uint32_t v = 0;
    for (size_t k = 0; k < n; ++k) v |= uint32_t{d[i + 1 + k]} << (8 * k);
    const uint8_t type = (prefix >> 2) & 3, tag = prefix >> 4;
    if (type == 1) {  // global
      if (tag == 7) g.size = v;
      else if (tag == 9) g.count = v;
      else if (tag == 8) reportId = static_cast<uint8_t>(v);
      else if (tag == 10) stack.push_back(g);
      else if (tag == 11 && !stack.empty()) {
        g = stack.back();
        stack.pop_back();
      }
    } else if (type == 0) {  // main
      if (tag == 8) inBits[reportId] += g.size * g.count;
      else if (tag == 9) outBits[reportId] += g.size * g.count;
    }
    i += 1 + n;
  }
  auto largest = [](const std::map<uint8_t, uint32_t>& m) {
    uint32_t best = 0;
    for (auto& [id, bits] : m) best = std::max(best, (bits + 7) / 8);
    return static_cast<uint16_t>(std::min<uint32_t>(best, 0xFFFF));
  };
  *in = largest(inBits);
  *out = largest(outBits);
  return *in != 0 || *out != 0;
}

HidapiAccess::HidapiAccess() { hid_init(); }
HidapiAccess::~HidapiAccess() { hid_exit(); }

std::vector<DeviceInfo> HidapiAccess::Enumerate(Kind kind) {
  std::vector<DeviceInfo> out;
  if (kind != Kind::Hid) return out;
  hid_device_info* list = hid_enumerate(0, 0);
  for (hid_device_info* p = list; p; p = p->next) {
    DeviceInfo d;
    d.kind = Kind::Hid;
    d.backend = "hidapi";
    d.path = p->path ? p->path : "";
    d.vid = p->vendor_id;
    d.pid = p->product_id;
    d.interfaceNumber = p->interface_number;
    d.serial = Narrow(p->serial_number);
    d.locationId = UsbPortPathOfSysfs(SysfsDevice(d.path));
    d.key = d.path;
    out.push_back(std::move(d));
  }
  hid_free_enumeration(list);
  return out;
}

std::unique_ptr<IDevice> HidapiAccess::Open(const DeviceInfo& info, OpenResult* result) {
  OpenResult dummy;
  OpenResult& r = result ? *result : dummy;
  r = {};
  if (::access(info.key.c_str(), R_OK | W_OK) != 0) {
    const int e = errno;
    r = {e == EACCES || e == EPERM ? OpenError::PermissionDenied
         : e == ENOENT             ? OpenError::Gone
                                   : OpenError::Other,
         std::strerror(e)};
    return nullptr;
  }
  hid_device* dev = hid_open_path(info.key.c_str());
  if (!dev) {
    r = {OpenError::Other, "hid_open_path failed"};
    return nullptr;
  }
  return std::make_unique<HidapiDevice>(dev, info);
}

}  // namespace usbdev
