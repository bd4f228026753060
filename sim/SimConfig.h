// Emulator configuration: the adapters, their USB interfaces and the target
// behind each, read from JSON (see README.md for the format).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace sim {

struct InterfaceConfig {
  std::string kind = "hid";  // "hid", "bulk" or "legacy-bulk"
  uint16_t vid = 0x0416;
  uint16_t pid = 0;          // 0 = the adapter's product id
  uint16_t number = 0;       // USB interface number
  uint16_t size = 64;        // report or packet bytes (both directions)
};

struct TargetConfig {
  std::string kind = "cortex-m";  // "cortex-m", "8051", "qemu", "ucsim" or "none"
  std::string chip = "GX32M412VE";
  std::string cpu;                // cortex-m core: m0, m0+, m4, m7, m23, m33, m55 (default by chip)
  bool present = true;
  std::string machine = "lm3s6965evb";  // qemu: the board ("lm3s6965evb" or "microbit")
  std::string firmware;                 // qemu: ELF, ucsim: Intel hex to run (empty = the one the build made)
  std::string program = "qemu-system-arm";  // qemu: the emulator to start (ucsim: s51 unless set)
};

struct AdapterConfig {
  std::string name = "adapter";
  int generation = 1;
  uint16_t pid = 0x5200;
  uint32_t firmwareVersion = 7973;
  std::string revision = "r";
  uint32_t chipId = 0;             // adapter MCU chip id; 0 = default of the generation
  uint32_t designId = 1;
  bool pro = false;
  uint32_t adapterId = 0x7788A1B2;
  std::string serial = "A1B2C3D4";
  std::string location = "1-4.2";
  uint8_t loaderVersion = 0x30;
  uint32_t flashOpUs = 20;         // time each flash-controller operation keeps the busy flag set
  bool loaderCurrent = true;       // false: the boot-loader area differs from make-images' boot loader
  uint16_t loaderPid = 0;          // 0 = the default of the adapter's MCU class
  uint16_t loaderReportSize = 64;
  bool iceMode = true;             // input word bit 1 (generation 0): ICE/ICP mode, clear = MBED mode
  bool plugged = true;
  std::vector<InterfaceConfig> interfaces;
  TargetConfig target;
};

struct SimConfig {
  std::vector<AdapterConfig> adapters;
};

// Parses a configuration; throws std::runtime_error with a readable text.
SimConfig ParseConfig(const std::string& jsonText);

// The ready demo: one generation-1 adapter "demo" (product id 5200, HID
// interface 3 and a bulk interface 0) with the Cortex-M demo chip behind it.
SimConfig DemoConfig();
std::string DemoConfigJson();
// The demo with the QEMU-run lm3s6965evb board behind the adapter.
SimConfig QemuDemoConfig();

// Adapter MCU chip id of a generation (class 1, 2, 3 adapters).
uint32_t DefaultChipId(int generation);
// Adapter MCU class of a chip id (0 to 3; 4 = unknown).
int McuClass(uint32_t chipId);
// Boot-loader product id of an MCU class.
uint16_t DefaultLoaderPid(int mcuClass);

}  // namespace sim
