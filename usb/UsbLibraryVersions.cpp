#include "usb/UsbLibraryVersions.h"

#include <hidapi/hidapi.h>
#include <libusb.h>

std::string UsbLibraryVersions() {
  const libusb_version* usb = libusb_get_version();
  return std::string("hidapi ") + hid_version_str() + ", libusb " + std::to_string(usb->major) + "." +
         std::to_string(usb->minor) + "." + std::to_string(usb->micro);
}
