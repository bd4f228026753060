// One emulated adapter: its configuration, its own MCU, the target behind
// it, the application firmware or the boot loader (whichever runs), and the
// faults queued by the control channel. It turns one received USB message
// into the messages to send back and tells the server when the adapter
// restarts or drops off the bus.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "sim/AdapterMcu.h"
#include "sim/BootLoader.h"
#include "sim/Firmware.h"
#include "sim/SimConfig.h"
#include "sim/Target.h"

namespace sim {

struct Faults {
  int delayMs = 0;
  int delayCount = 0;
  int dropCount = 0;
  int staleCount = 0;
  uint32_t flagCode = 0;
  int flagCount = 0;
  int errorQueryFailCount = 0;
  bool unplugMidTransfer = false;
};

struct Outgoing {
  std::vector<uint8_t> bytes;
  std::chrono::microseconds delay{0};
};

struct Actions {
  std::vector<Outgoing> messages;
  bool unplug = false;  // after the messages: the adapter falls off the bus
};

class Adapter {
 public:
  enum class Mode { Application, Loader };

  explicit Adapter(AdapterConfig config);

  const AdapterConfig& Config() const { return m_config; }
  const std::string& Name() const { return m_config.name; }
  Mode CurrentMode() const { return m_mode; }
  bool Plugged() const { return m_plugged; }
  void SetPlugged(bool plugged) {
    if (plugged && !m_plugged) m_firmware.AbortTransfer();
    m_plugged = plugged;
  }

  // The interfaces the adapter offers in its current mode.
  std::vector<InterfaceConfig> Interfaces() const;

  // One message received on interface `iface` (an index into Interfaces()).
  Actions OnMessage(size_t iface, std::span<const uint8_t> message);

  // A mode change (restart) the last messages asked for; the server replugs.
  bool TakeRestart();
  void RestartInto(Mode mode);
  // Power-on after a replug: the application when its image is valid and
  // the loader is not asked for, else the boot loader.
  void PowerOn(bool holdLoaderKey);

  Faults& GetFaults() { return m_faults; }
  Firmware& GetFirmware() { return m_firmware; }
  AdapterMcu& Mcu() { return m_mcu; }
  Target* GetTarget() { return m_target.get(); }
  uint32_t FirmwareVersion() const { return m_firmware.Version(); }

  bool UsbTiming() const { return m_usbTiming; }
  void SetUsbTiming(bool on) { m_usbTiming = on; }
  // Time one message of this size takes on the interface's link.
  static std::chrono::microseconds TransferTime(const InterfaceConfig& iface);

 private:
  Actions OnCommand(const InterfaceConfig& iface, std::span<const uint8_t> message);
  Actions OnLoader(std::span<const uint8_t> message);

  AdapterConfig m_config;
  AdapterMcu m_mcu;
  std::unique_ptr<Target> m_target;
  Firmware m_firmware;
  BootLoader m_loader;
  Mode m_mode = Mode::Application;
  bool m_plugged = true;
  bool m_restartPending = false;
  Faults m_faults;
  bool m_usbTiming = false;
};

}  // namespace sim
