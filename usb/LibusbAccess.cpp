#include "usb/LibusbAccess.h"

#include <libusb.h>

#include <cstdio>
#include <cstring>

namespace usbdev {

struct LibusbAccess::Context {
  libusb_context* ctx = nullptr;
  Context() {
    if (libusb_init(&ctx) != 0) ctx = nullptr;
  }
  ~Context() {
    if (ctx) libusb_exit(ctx);
  }
};

unsigned int LibusbTimeout(int timeoutMs) {
  if (timeoutMs < 0) return 0;
  return timeoutMs == 0 ? 1u : static_cast<unsigned int>(timeoutMs);
}

namespace {

std::string PortPath(libusb_device* dev) {
  uint8_t ports[8];
  const int n = libusb_get_port_numbers(dev, ports, sizeof ports);
  if (n <= 0) return {};
  std::string s = std::to_string(libusb_get_bus_number(dev)) + "-";
  for (int i = 0; i < n; ++i) s += (i ? "." : "") + std::to_string(ports[i]);
  return s;
}

struct Endpoints {
  std::vector<PipeInfo> pipes;
  bool hasIn = false, hasOut = false;
};

Endpoints BulkEndpoints(const libusb_interface_descriptor& alt) {
  Endpoints e;
  for (int k = 0; k < alt.bNumEndpoints; ++k) {
    const libusb_endpoint_descriptor& ep = alt.endpoint[k];
    const uint8_t type = ep.bmAttributes & 3;
    e.pipes.push_back({type, ep.bEndpointAddress, ep.wMaxPacketSize, ep.bInterval});
    if (type == LIBUSB_TRANSFER_TYPE_BULK) {
      if (ep.bEndpointAddress & 0x80) e.hasIn = true;
      else e.hasOut = true;
    }
  }
  return e;
}

class LibusbDevice : public IDevice {
 public:
  LibusbDevice(std::shared_ptr<LibusbAccess::Context> ctx, libusb_device_handle* h, int iface,
               std::vector<PipeInfo> pipes)
      : m_ctx(std::move(ctx)), m_h(h), m_iface(iface), m_pipes(std::move(pipes)) {
    for (const PipeInfo& p : m_pipes) {
      if (p.type != LIBUSB_TRANSFER_TYPE_BULK) continue;
      if (p.id & 0x80) m_in = p.id;
      else m_out = p.id;
    }
  }
  ~LibusbDevice() override {
    libusb_release_interface(m_h, m_iface);
    libusb_close(m_h);
  }

  // The synchronous libusb calls cancel a timed-out transfer and wait until
  // it is finished before they return, so the buffer is free afterwards.
  bool Read(uint8_t* buf, size_t len, size_t* got, int timeoutMs) override {
    int done = 0;
    const int rc = libusb_bulk_transfer(m_h, m_in, buf, static_cast<int>(len), &done,
                                        LibusbTimeout(timeoutMs));
    if (got) *got = rc == 0 ? static_cast<size_t>(done) : 0;
    return rc == 0;
  }
  bool Write(const uint8_t* buf, size_t len, size_t* sent, int timeoutMs) override {
    int done = 0;
    const int rc = libusb_bulk_transfer(m_h, m_out, const_cast<uint8_t*>(buf),
                                        static_cast<int>(len), &done, LibusbTimeout(timeoutMs));
    if (sent) *sent = static_cast<size_t>(done);
    return rc == 0 && static_cast<size_t>(done) == len;
  }
  bool GetDescriptor(uint8_t type, uint8_t index, uint16_t lang, uint8_t* buf, size_t len,
                     size_t* got) override {
    int n;
    if (type == LIBUSB_DT_STRING) {
      n = libusb_get_string_descriptor(m_h, index, lang, buf, static_cast<int>(len));
      if (n < 0 && lang == 0) {  // devices that want a language from their table
        uint8_t langs[4] = {};
        if (libusb_get_string_descriptor(m_h, 0, 0, langs, sizeof langs) >= 4)
          n = libusb_get_string_descriptor(m_h, index, static_cast<uint16_t>(langs[2] | langs[3] << 8),
                                            buf, static_cast<int>(len));
      }
    } else {
      n = libusb_get_descriptor(m_h, type, index, buf, static_cast<int>(len));
    }
    if (n < 0) return false;
    if (got) *got = static_cast<size_t>(n);
    return true;
  }
  bool GetSpeed(uint8_t* speed) override {
    *speed = static_cast<uint8_t>(libusb_get_device_speed(libusb_get_device(m_h)));
    return true;
  }
  bool GetPipes(std::vector<PipeInfo>* pipes) override {
    *pipes = m_pipes;
    return true;
  }

 private:
  std::shared_ptr<LibusbAccess::Context> m_ctx;
  libusb_device_handle* m_h;
  int m_iface;
  std::vector<PipeInfo> m_pipes;
  uint8_t m_in = 0x81, m_out = 0x01;
};

}  // namespace

LibusbAccess::LibusbAccess() : m_ctx(std::make_shared<Context>()) {}
LibusbAccess::~LibusbAccess() = default;

std::vector<DeviceInfo> LibusbAccess::Enumerate(Kind kind) {
  std::vector<DeviceInfo> out;
  if (kind == Kind::Hid || !m_ctx->ctx) return out;
  libusb_device** list = nullptr;
  const ssize_t count = libusb_get_device_list(m_ctx->ctx, &list);
  for (ssize_t i = 0; i < count; ++i) {
    libusb_device* dev = list[i];
    libusb_device_descriptor dd{};
    if (libusb_get_device_descriptor(dev, &dd) != 0) continue;
    libusb_config_descriptor* cfg = nullptr;
    if (libusb_get_active_config_descriptor(dev, &cfg) != 0 &&
        libusb_get_config_descriptor(dev, 0, &cfg) != 0)
      continue;
    const std::string port = PortPath(dev);
    for (int k = 0; k < cfg->bNumInterfaces; ++k) {
      if (cfg->interface[k].num_altsetting < 1) continue;
      const libusb_interface_descriptor& alt = cfg->interface[k].altsetting[0];
      if (alt.bInterfaceClass != LIBUSB_CLASS_VENDOR_SPEC) continue;
      const Endpoints e = BulkEndpoints(alt);
      if (!e.hasIn && !e.hasOut) continue;
      DeviceInfo d;
      d.kind = kind;
      d.backend = "libusb";
      d.path = port + ":" + std::to_string(cfg->bConfigurationValue) + "." +
               std::to_string(alt.bInterfaceNumber);
      d.vid = dd.idVendor;
      d.pid = dd.idProduct;
      d.interfaceNumber = alt.bInterfaceNumber;
      d.locationId = port;
      for (const PipeInfo& p : e.pipes) {
        if (p.type != LIBUSB_TRANSFER_TYPE_BULK) continue;
        (p.id & 0x80 ? d.inSize : d.outSize) = p.maxPacket;
      }
      char key[32];
      std::snprintf(key, sizeof key, "%u,%u,%u", libusb_get_bus_number(dev),
                    libusb_get_device_address(dev), alt.bInterfaceNumber);
      d.key = key;
      d.device = std::to_string(libusb_get_bus_number(dev)) + "," +
                 std::to_string(libusb_get_device_address(dev));
      out.push_back(std::move(d));
    }
    libusb_free_config_descriptor(cfg);
  }
  if (list) libusb_free_device_list(list, 1);
  return out;
}

std::unique_ptr<IDevice> LibusbAccess::Open(const DeviceInfo& info, OpenResult* result) {
  OpenResult dummy;
  OpenResult& r = result ? *result : dummy;
  r = {OpenError::Gone, "device not present"};
  unsigned bus = 0, addr = 0, iface = 0;
  if (!m_ctx->ctx || std::sscanf(info.key.c_str(), "%u,%u,%u", &bus, &addr, &iface) != 3)
    return nullptr;
  libusb_device** list = nullptr;
  const ssize_t count = libusb_get_device_list(m_ctx->ctx, &list);
  std::unique_ptr<IDevice> device;
  for (ssize_t i = 0; i < count && !device; ++i) {
    libusb_device* dev = list[i];
    if (libusb_get_bus_number(dev) != bus || libusb_get_device_address(dev) != addr) continue;
    std::vector<PipeInfo> pipes;
    libusb_config_descriptor* cfg = nullptr;
    if (libusb_get_active_config_descriptor(dev, &cfg) == 0) {
      for (int k = 0; k < cfg->bNumInterfaces; ++k) {
        if (cfg->interface[k].num_altsetting < 1) continue;
        const libusb_interface_descriptor& alt = cfg->interface[k].altsetting[0];
        if (alt.bInterfaceNumber == iface) pipes = BulkEndpoints(alt).pipes;
      }
      libusb_free_config_descriptor(cfg);
    }
    libusb_device_handle* h = nullptr;
    int rc = libusb_open(dev, &h);
    if (rc != 0) {
      r = {rc == LIBUSB_ERROR_ACCESS ? OpenError::PermissionDenied : OpenError::Other,
           libusb_error_name(rc)};
      break;
    }
    libusb_set_auto_detach_kernel_driver(h, 1);
    rc = libusb_claim_interface(h, static_cast<int>(iface));
    if (rc != 0) {
      libusb_close(h);
      r = {rc == LIBUSB_ERROR_BUSY     ? OpenError::Busy
           : rc == LIBUSB_ERROR_ACCESS ? OpenError::PermissionDenied
                                       : OpenError::Other,
           libusb_error_name(rc)};
      break;
    }
    r = {};
    device = std::make_unique<LibusbDevice>(m_ctx, h, static_cast<int>(iface), std::move(pipes));
  }
  if (list) libusb_free_device_list(list, 1);
  return device;
}

}  // namespace usbdev
