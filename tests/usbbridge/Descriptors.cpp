#include "Descriptors.h"

namespace usbbridge {
namespace {

void Put16(std::vector<uint8_t>& v, uint16_t x) {
  v.push_back(static_cast<uint8_t>(x));
  v.push_back(static_cast<uint8_t>(x >> 8));
}

void Endpoint(std::vector<uint8_t>& v, uint8_t address, uint8_t type, uint16_t maxPacket,
              uint8_t interval) {
  v.insert(v.end(), {7, 5, address, type});
  Put16(v, maxPacket);
  v.push_back(interval);
}

}  // namespace

std::vector<uint8_t> DeviceDescriptor(const DeviceDesc& d) {
  std::vector<uint8_t> v{18, 1, 0x00, 0x02, static_cast<uint8_t>(d.hub ? 9 : 0), 0,
                         static_cast<uint8_t>(d.hub ? 1 : 0), 64};
  Put16(v, d.vid);
  Put16(v, d.pid);
  Put16(v, 0x0100);
  v.push_back(d.manufacturer.empty() ? 0 : kStrManufacturer);
  v.push_back(d.product.empty() ? 0 : kStrProduct);
  v.push_back(d.serial.empty() ? 0 : kStrSerial);
  v.push_back(1);
  return v;
}

std::vector<uint8_t> ConfigDescriptor(const DeviceDesc& d) {
  std::vector<uint8_t> body;
  if (d.hub) {
    body.insert(body.end(), {9, 4, 0, 0, 1, 9, 0, 0, 0});
    Endpoint(body, 0x81, 3, 4, 12);
  }
  for (size_t k = 0; k < d.interfaces.size(); ++k) {
    const InterfaceDesc& i = d.interfaces[k];
    body.insert(body.end(), {9, 4, static_cast<uint8_t>(i.number), 0, 2,
                             static_cast<uint8_t>(i.hid ? 3 : 0xFF), 0, 0, 0});
    if (i.hid) {
      const uint16_t reportLength =
          static_cast<uint16_t>(HidReportDescriptor(i.inSize, i.outSize).size());
      body.insert(body.end(), {9, 0x21, 0x11, 0x01, 0, 1, 0x22});
      Put16(body, reportLength);
      Endpoint(body, InEndpoint(k), 3, i.inSize, 1);
      Endpoint(body, OutEndpoint(k), 3, i.outSize, 1);
    } else {
      Endpoint(body, InEndpoint(k), 2, i.inSize, 0);
      Endpoint(body, OutEndpoint(k), 2, i.outSize, 0);
    }
  }
  const uint8_t count = static_cast<uint8_t>(d.hub ? 1 : d.interfaces.size());
  std::vector<uint8_t> v{9, 2};
  Put16(v, static_cast<uint16_t>(9 + body.size()));
  v.insert(v.end(), {count, 1, 0, 0x80, 50});
  v.insert(v.end(), body.begin(), body.end());
  return v;
}

std::vector<uint8_t> SysfsDescriptors(const DeviceDesc& d) {
  std::vector<uint8_t> v = DeviceDescriptor(d);
  const std::vector<uint8_t> c = ConfigDescriptor(d);
  v.insert(v.end(), c.begin(), c.end());
  return v;
}

std::vector<uint8_t> HidReportDescriptor(uint16_t in, uint16_t out) {
  std::vector<uint8_t> v{0x06, 0x00, 0xFF,  // usage page (vendor 0xFF00)
                         0x09, 0x01,        // usage 1
                         0xA1, 0x01,        // collection (application)
                         0x15, 0x00,        // logical minimum 0
                         0x26, 0xFF, 0x00,  // logical maximum 255
                         0x75, 0x08};       // report size 8
  v.push_back(0x96);                        // report count (2 bytes)
  Put16(v, in);
  v.insert(v.end(), {0x09, 0x01, 0x81, 0x02});  // input (data, variable, absolute)
  v.push_back(0x96);
  Put16(v, out);
  v.insert(v.end(), {0x09, 0x01, 0x91, 0x02, 0xC0});  // output, end collection
  return v;
}

bool StringDescriptor(const DeviceDesc& d, uint8_t index, std::vector<uint8_t>* out) {
  const std::string* text = nullptr;
  switch (index) {
    case 0: *out = {4, 3, 0x09, 0x04}; return true;
    case kStrManufacturer: text = &d.manufacturer; break;
    case kStrProduct: text = &d.product; break;
    case kStrSerial: text = &d.serial; break;
    default: return false;
  }
  if (text->empty()) return false;
  out->assign({0, 3});
  for (unsigned char c : *text) {  // the emulator's strings are ASCII
    if (out->size() + 2 > 254) break;
    out->push_back(c);
    out->push_back(0);
  }
  (*out)[0] = static_cast<uint8_t>(out->size());
  return true;
}

}  // namespace usbbridge
