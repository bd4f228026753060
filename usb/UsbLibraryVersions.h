// The versions of the USB libraries the program runs with, for --version.
#pragma once

#include <string>

// "hidapi 0.13.1, libusb 1.0.26": the versions of the libraries loaded, not
// of the headers built against.
std::string UsbLibraryVersions();
