// The abstract adapter transport: packet framing with a sequence byte and a
// one- or two-byte length header, the sequence counter kept in the adapter's
// shared record, and the list of opened devices with the selection. Each
// transport adds only its set-up (which devices it opens, and how) and its
// raw I/O.
#pragma once

#include <cstdint>
#include <list>
#include <memory>
#include <string>
#include <vector>

#include "platform/ShareArea.h"
#include "usb/DeviceAccess.h"
#include "usb/UsbDeviceId.h"

// The shared record of one adapter: byte 0 = the last sequence number sent.
struct CUsbCmdShare {
  uint8_t bSequence;
  uint8_t reserved[3];
};
static_assert(sizeof(CUsbCmdShare) == 4);

using UsbShareArea = ShareArea<CUsbCmdShare>;
using UsbShareAreaList = std::list<UsbShareArea>;

// A device that was found but could not be opened.
struct OpenProblem {
  usbdev::Kind kind = usbdev::Kind::Hid;
  std::string backend;
  std::string path;
  uint16_t vid = 0;
  uint16_t pid = 0;
  usbdev::OpenError error = usbdev::OpenError::Other;
  std::string detail;
  std::string locationId;  // as enumeration listed them; may be empty
  std::string serial;
};

// One opened device as every transport keeps it.
struct OpenedDevice {
  std::unique_ptr<usbdev::IDevice> handle;  // null after CloseOthers
  usbdev::DeviceInfo info;                  // as enumeration listed it
  std::string serial;                       // read at set-up; may be empty
  uint16_t inSize = 0;                      // HID report data bytes; 0 for bulk
  uint16_t outSize = 0;
};

// Text of one problem, with the udev hint when permission was missing.
std::string DescribeOpenProblem(const OpenProblem& p);

// Share-area base name of an interface path: every character that is not an
// ASCII letter or digit becomes '_'.
std::string ShareBaseName(const std::string& path);

class CUsbCmd {
 public:
  enum { kTransportHid = 0, kTransportBulk = 1, kTransportWinUsb = 2 };
  static constexpr unsigned kNoDevice = 0xFFFFFFFFu;
  static constexpr size_t kPacketBufferSize = 1024;

  CUsbCmd();
  virtual ~CUsbCmd();
  CUsbCmd(const CUsbCmd&) = delete;
  CUsbCmd& operator=(const CUsbCmd&) = delete;

  // Stores the header mode; 0 at once when count is 0, else OpenDevices.
  virtual int Open(int headerMode, const UsbDeviceId* table, unsigned count);
  // The transport's set-up: closes everything, opens every matching device
  // and selects device 0 (nothing selected when none was opened).
  virtual int OpenDevices(const UsbDeviceId* table, unsigned count) = 0;
  // Closes every device but the selected one; the list keeps its length.
  virtual void CloseOthers();
  // Closes every device, empties the list, selects nothing and closes the
  // share area.
  virtual void CloseAll();
  virtual unsigned GetDeviceCount() const;
  // Selects a device and binds the share area to it (an index past the list
  // leaves it closed); returns the previous index.
  virtual unsigned SelectDevice(unsigned index);
  // kNoDevice after construction, after CloseAll and after an OpenDevices
  // that opened nothing.
  virtual unsigned GetSelectedIndex() const;
  virtual UsbShareArea& GetShareArea();
  virtual UsbShareAreaList& GetShareAreas();
  // Raw I/O of the selected device; timeoutMs < 0 = no limit.
  virtual bool Read(void* buffer, unsigned length, unsigned* got, int timeoutMs) = 0;
  virtual bool Write(const void* buffer, unsigned length, unsigned* sent, int timeoutMs) = 0;
  // 0 when no valid device is selected.
  virtual uint16_t GetPacketSize(bool in) const = 0;
  // Of the selected device; empty when none is selected.
  virtual std::string GetLocationId() const;
  virtual std::string GetSerialNumber() const;
  virtual bool GetLastReplyFlag() const;
  // Framed receive: skips replies whose sequence number is not the one last
  // sent, until timeoutMs has passed. Needs the share area locked.
  virtual bool ReceivePacket(void* buffer, unsigned capacity, unsigned* length, int timeoutMs);
  // Framed send with the next sequence number. Needs the share area locked.
  // False, sending nothing, when `length` exceeds the packet's payload.
  virtual bool SendPacket(const void* data, unsigned length, unsigned* sent, int timeoutMs);
  virtual bool HasOpenFailure() const { return false; }
  virtual int GetTransportKind() const = 0;

  // Device `index` as enumeration saw it (empty record when out of range).
  virtual usbdev::DeviceInfo GetDeviceInfo(unsigned index) const;
  // Devices the last OpenDevices found but could not open.
  const std::vector<OpenProblem>& GetOpenProblems() const { return m_openProblems; }
  int GetHeaderMode() const { return m_nHeaderMode; }

 protected:
  // The set-up's result becomes the device list; device 0 is selected, or
  // nothing when the list is empty.
  void AdoptDevices(std::vector<OpenedDevice> devices);
  const std::vector<OpenedDevice>& Devices() const { return m_devices; }
  // The selected device, or null when the index is past the list.
  const OpenedDevice* Selected() const;
  // Its handle; null also after CloseOthers closed it.
  usbdev::IDevice* SelectedHandle() const;
  // One raw transfer of a bulk device (null: nothing selected, false); the
  // byte count is 0 unless the transfer succeeded.
  static bool TransferIn(usbdev::IDevice* device, void* buffer, unsigned length, unsigned* got,
                         int timeoutMs);
  static bool TransferOut(usbdev::IDevice* device, const void* buffer, unsigned length,
                          unsigned* sent, int timeoutMs);
  void ClearOpenProblems() { m_openProblems.clear(); }
  void AddOpenProblem(const usbdev::DeviceInfo& info, const usbdev::OpenResult& r);
  void AddOpenProblem(const OpenProblem& p) { m_openProblems.push_back(p); }

 private:
  uint8_t m_packet[kPacketBufferSize] = {};
  bool m_bLastReplyFlag = false;
  int m_nHeaderMode = 0;
  UsbShareAreaList m_shareAreas;
  std::vector<OpenedDevice> m_devices;
  unsigned m_nSelected = kNoDevice;
  std::vector<OpenProblem> m_openProblems;
};
