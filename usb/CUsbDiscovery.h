// The seven transport slots and the discovery pass that fills them.
//
//   slot 0 CHidCmd #1  generation 0    slot 4 CWinUSB #2  generation 1
//   slot 1 CBulkUSB    generation 0    slot 5 CHidCmd #3  generation 2 (not probed)
//   slot 2 CWinUSB #1  generation 0    slot 6 CWinUSB #3  generation 2
//   slot 3 CHidCmd #2  generation 1
//
// Adapters are numbered across the slots: the devices of slot 0 first, then
// those of slot 1, and so on.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "usb/CUsbCmd.h"
#include "usb/LocationId.h"

inline constexpr int PORT_CHIP_TYPE_VOLINK1 = 0;
inline constexpr int PORT_CHIP_TYPE_VOLINK2 = 1;
inline constexpr int PORT_CHIP_TYPE_VOLINK3 = 2;

// What a discovery pass found, and what it could not open and why. Whoever
// ran the pass decides how to show it (a message box in the window, a line
// on standard error on the command line).
struct DiscoveryReport {
  unsigned adapters = 0;              // devices opened, over all slots
  std::vector<OpenProblem> problems;  // devices present but not opened
  explicit operator bool() const { return adapters > 0; }
  // One line per device that lacked permission (with the udev hint); empty
  // when there was none.
  std::string PermissionText() const;
};

struct UsbPortEntry {
  uint32_t bFound = 0;
  int nChipType = 0;
  CUsbCmd* pTransport = nullptr;
};

class CUsbDiscovery {
 public:
  static constexpr int kSlotCount = 7;
  static constexpr const char* kNoDeviceMessage = "No ICE Device Found. Please Check the Link!";

  CUsbDiscovery();
  ~CUsbDiscovery();
  CUsbDiscovery(const CUsbDiscovery&) = delete;
  CUsbDiscovery& operator=(const CUsbDiscovery&) = delete;

  UsbPortEntry& Port(int slot) { return m_ports[static_cast<size_t>(slot)]; }
  const UsbPortEntry& Port(int slot) const { return m_ports[static_cast<size_t>(slot)]; }
  CUsbCmd& Transport(int slot) { return *Port(slot).pTransport; }

  // The discovery pass. Does nothing when some slot is already found.
  // Otherwise probes the slots, sets the found flags, builds the serial-port
  // list and, when something was found, selects adapter 0. Returns the
  // report of the last pass (true when some slot is found); shows nothing.
  const DiscoveryReport& Run();

  // Found flags cleared, every transport closed, serial-port list emptied.
  void CloseAll();
  bool AnyFound() const;
  // Devices over all seven transports.
  unsigned GetDeviceCount() const;
  // Selects adapter `index` (numbered across the slots) in its transport;
  // false when the index is beyond the total.
  bool SelectAdapter(unsigned index, int* slot = nullptr, unsigned* device = nullptr);

  const std::vector<SerialPortRecord>& SerialPorts() const { return m_serialPorts; }
  // COM number (N of /dev/ttyACMN) of the port on the same USB location, or -1.
  int FindComPort(const std::string& locationId) const;
  // The report of the last pass.
  const DiscoveryReport& LastReport() const { return m_report; }
  // Devices that were present but could not be opened, from the last pass.
  const std::vector<OpenProblem>& OpenProblems() const { return m_report.problems; }
  std::string PermissionReport() const { return m_report.PermissionText(); }

  // Root of the sysfs tree the serial ports are read from ("/sys").
  void SetSysRoot(std::string root) { m_sysRoot = std::move(root); }

 private:
  std::array<std::unique_ptr<CUsbCmd>, kSlotCount> m_transports;
  std::array<UsbPortEntry, kSlotCount> m_ports;
  std::vector<SerialPortRecord> m_serialPorts;
  DiscoveryReport m_report;
  std::string m_sysRoot = "/sys";
};
