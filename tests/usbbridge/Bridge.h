// The USB bridge: mirrors the interfaces that volink-sim publishes in a
// folder into a umockdev testbed, as the kernel would show the devices (a
// hub chain, sysfs attributes and descriptors, hidraw and usbdevfs nodes),
// and carries the traffic of unmodified programs that run under the umockdev
// preload: each hidraw write and bulk OUT URB becomes one message on the
// emulator socket, replies complete reads and IN URBs.
//
// Threads: umockdev calls the node handlers on its worker thread; the
// folder scan, the emulator sockets and the timers run on the main loop.
// One lock guards all bridge state.
#pragma once

#include <glib.h>
#include <umockdev.h>

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "Descriptors.h"

namespace usbbridge {

// One emulated interface, from its description file.
struct SimInterface {
  std::string name;    // file stem
  std::string socket;  // <dir>/<name>.sock
  std::string adapter, kind, serial, location;
  uint16_t vid = 0, pid = 0, inSize = 0, outSize = 0;
  int number = 0;
  bool operator==(const SimInterface&) const = default;
};

struct Device;
struct Node;

// One connection to the emulator interface behind a node.
struct Link {
  int fd = -1;
  guint watch = 0;
  bool closed = false;  // the emulator closed it (unplug)
  std::deque<std::vector<uint8_t>> replies;
};

// A submitted URB that has not been reaped yet.
struct Urb {
  UMockdevIoctlData* urb = nullptr;  // the client's struct usbdevfs_urb
  UMockdevIoctlData* buffer = nullptr;
  uint64_t address = 0;  // the URB's address in the client
  size_t slot = 0;       // interface slot of the endpoint
  bool in = false;
  bool done = false;
};

// An open descriptor of a program on a node.
struct Client {
  UMockdevIoctlClient* client = nullptr;  // referenced
  Node* node = nullptr;
  std::map<size_t, Link> links;  // by interface slot (HID: its own slot)
  bool gone = false;             // the device was unplugged under it
  // hidraw: a blocking read waits for a report.
  bool readHeld = false;
  // usbdevfs
  std::deque<std::unique_ptr<Urb>> urbs;  // submitted, in order
  bool reapHeld = false;
  guint reapTimer = 0;
};

struct Node {
  bool hid = false;
  std::string devnode;  // "/dev/hidraw0", "/dev/bus/usb/001/005"
  std::string charLink;  // hidraw: its /sys/dev/char entry in the testbed
  Device* device = nullptr;
  size_t slot = 0;  // hidraw: the interface slot it serves
  bool gone = false;
  int ptyMaster = -1, ptySlave = -1;  // hidraw: readiness for poll()
  bool marked = false;
  UMockdevIoctlBase* handler = nullptr;
};

struct Device {
  std::string key;
  DeviceDesc desc;
  std::vector<SimInterface> interfaces;  // slot order = desc.interfaces order
  std::vector<std::string> syspaths;     // parents first
  int bus = 1, devnum = 0;
  std::string portPath;  // "1-4.2"
  std::vector<std::unique_ptr<Node>> nodes;
};

class Bridge {
 public:
  Bridge(std::string simDir, std::set<std::string> denied);
  ~Bridge();
  std::string RootDir() const;
  // Rescans the emulator folder and mirrors plugs and unplugs.
  void Scan();
  // Drops clients whose program closed the node.
  void Sweep();

  // Node handlers (umockdev's worker thread).
  gboolean OnIoctl(Node* node, UMockdevIoctlClient* c);
  gboolean OnRead(Node* node, UMockdevIoctlClient* c);
  gboolean OnWrite(Node* node, UMockdevIoctlClient* c);

 private:
  void AddDevice(const std::string& key, const std::vector<SimInterface>& ifs);
  void RemoveDevice(const std::string& key);
  std::string EnsureHub(int bus, const std::string& portPath);
  void AddHidNode(Device& d, size_t slot, const std::string& parent);
  void AddUsbfsNode(Device& d);
  void AttachHandler(Node& node);

  Client& ClientOf(Node* node, UMockdevIoctlClient* c);
  void DropClient(Client& cl);
  bool OpenLink(Client& cl, size_t slot, int* err);
  void CloseLink(Link& l);
  void OnLinkReadable(Client* cl, size_t slot);
  void Deliver(Client& cl, size_t slot);
  void UpdateMarker(Node& node);
  void ClientGone(Client& cl);

  gboolean HidIoctl(Client& cl, UMockdevIoctlClient* c);
  gboolean UsbfsIoctl(Client& cl, UMockdevIoctlClient* c);
  void SubmitUrb(Client& cl, UMockdevIoctlClient* c);
  void Reap(Client& cl, UMockdevIoctlClient* c, bool wait);
  bool CompleteReap(Client& cl);
  void ControlTransfer(Client& cl, Urb& u);
  void CompleteHeldRead(Client& cl, const std::vector<uint8_t>* report, int err);

  static gboolean LinkReadableCb(gint fd, GIOCondition cond, gpointer data);
  static gboolean ReapTimeoutCb(gpointer data);

  std::recursive_mutex m_lock;
  std::string m_simDir;
  std::set<std::string> m_denied;  // adapters whose nodes cannot be opened
  UMockdevTestbed* m_testbed = nullptr;
  std::map<std::string, std::vector<SimInterface>> m_seen;  // last scan, by device key
  std::map<std::string, std::unique_ptr<Device>> m_devices;
  std::map<std::string, std::string> m_hubs;  // port path -> syspath
  std::map<int, int> m_nextDevnum;            // by bus
  int m_nextHidraw = 0;
  std::map<UMockdevIoctlClient*, std::unique_ptr<Client>> m_clients;
  std::vector<std::unique_ptr<Node>> m_goneNodes;  // unplugged, kept for their clients
};

}  // namespace usbbridge
