// Test fixture: a private VOLINK_SIM_DIR with only emulated devices (real
// ones switched off) and a private folder for named objects.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "FakeSimDevice.h"
#include "TempRuntimeDir.h"
#include "usb/DeviceAccess.h"

class SimFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/gadrel-sim-XXXXXX";
    m_simDir = ::mkdtemp(tmpl);
    ::setenv("VOLINK_SIM_DIR", m_simDir.c_str(), 1);
    ::setenv("GADREL_USB_REAL", "0", 1);
    usbdev::SetBackendsForTesting({});
  }
  void TearDown() override {
    m_devices.clear();
    ::unsetenv("VOLINK_SIM_DIR");
    std::error_code ec;
    std::filesystem::remove_all(m_simDir, ec);
  }
  FakeSimDevice& AddDevice(const std::string& name, const nlohmann::json& config,
                           FakeSimDevice::Handler handler = {}) {
    m_devices.push_back(std::make_unique<FakeSimDevice>(m_simDir, name, config, std::move(handler)));
    return *m_devices.back();
  }

  TempRuntimeDir m_rt;
  std::string m_simDir;
  std::vector<std::unique_ptr<FakeSimDevice>> m_devices;
};

// Windows-style interface paths of the emulated interfaces.
inline std::string HidPath(uint16_t pid, int iface, const char* tag = "mi") {
  char b[128];
  std::snprintf(b, sizeof b, "\\\\?\\hid#vid_0416&pid_%04x&%s_%02x#7&1a2b3c&0&0000#{4d1e55b2}", pid,
                tag, iface);
  return b;
}
inline std::string BulkPath(uint16_t pid, int iface) {
  char b[128];
  std::snprintf(b, sizeof b, "\\\\?\\usb#vid_0416&pid_%04X&mi_%02x#6&2d4a1f3&0&0003#{803557fa}", pid,
                iface);
  return b;
}
