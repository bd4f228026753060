// The abstract adapter transport: packet framing with a sequence byte and a
// one- or two-byte length header, the sequence counter kept in the adapter's
// shared record, and the device-list operations every transport offers.
#pragma once

#include <cstdint>
#include <list>
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
  virtual int OpenDevices(const UsbDeviceId* table, unsigned count) = 0;
  virtual void CloseOthers() = 0;
  virtual void CloseAll() = 0;
  virtual unsigned GetDeviceCount() const = 0;
  // Selects a device and binds the share area to it; returns the previous index.
  virtual unsigned SelectDevice(unsigned index) = 0;
  virtual unsigned GetSelectedIndex() const = 0;
  virtual UsbShareArea& GetShareArea();
  virtual UsbShareAreaList& GetShareAreas();
  // Raw I/O of the selected device; timeoutMs < 0 = no limit.
  virtual bool Read(void* buffer, unsigned length, unsigned* got, int timeoutMs) = 0;
  virtual bool Write(const void* buffer, unsigned length, unsigned* sent, int timeoutMs) = 0;
  // 0 when no valid device is selected.
  virtual uint16_t GetPacketSize(bool in) const = 0;
  virtual std::string GetLocationId() const = 0;
  virtual std::string GetSerialNumber() const = 0;
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
  virtual usbdev::DeviceInfo GetDeviceInfo(unsigned index) const = 0;
  // Devices the last OpenDevices found but could not open.
  const std::vector<OpenProblem>& GetOpenProblems() const { return m_openProblems; }
  int GetHeaderMode() const { return m_nHeaderMode; }

 protected:
  // Closes the share area and, when `path` is not empty, reopens it under
  // the path's base name.
  void BindShareArea(const std::string& path);
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
  std::vector<OpenProblem> m_openProblems;
};
