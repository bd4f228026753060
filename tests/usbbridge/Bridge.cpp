// The testbed side of the bridge: which devices the emulator folder holds,
// and how each appears in sysfs and /dev.
#include "Bridge.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <nlohmann/json.hpp>
#include <sstream>

namespace usbbridge {
namespace {

namespace fs = std::filesystem;

bool ReadInterface(const fs::path& json, SimInterface* out) {
  std::ifstream f(json);
  if (!f) return false;
  std::stringstream ss;
  ss << f.rdbuf();
  const auto j = nlohmann::json::parse(ss.str(), nullptr, false);
  if (!j.is_object()) return false;
  try {
    out->name = json.stem().string();
    out->socket = (json.parent_path() / (out->name + ".sock")).string();
    out->kind = j.value("kind", "");
    out->vid = j.value("vid", 0);
    out->pid = j.value("pid", 0);
    out->number = j.value("interface", 0);
    out->inSize = j.value("in_size", 64);
    out->outSize = j.value("out_size", 64);
    out->serial = j.value("serial", "");
    out->location = j.value("location", "");
    out->adapter = j.value("adapter", out->name);
  } catch (const nlohmann::json::exception&) {
    return false;
  }
  return out->kind == "hid" || out->kind == "bulk" || out->kind == "legacy-bulk";
}

// "1-4.2" -> bus 1; false when it is no port path.
bool ParsePortPath(const std::string& s, int* bus) {
  size_t i = 0;
  auto digits = [&] {
    const size_t start = i;
    while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) ++i;
    return i > start && i - start < 4;
  };
  if (!digits() || i >= s.size() || s[i] != '-') return false;
  *bus = std::atoi(s.c_str());
  ++i;
  if (!digits()) return false;
  while (i < s.size()) {
    if (s[i++] != '.' || !digits()) return false;
  }
  return *bus > 0 && *bus < 128;
}

std::string Hex4(uint16_t v) {
  char b[8];
  std::snprintf(b, sizeof b, "%04x", v);
  return b;
}

std::string Dec3(int v) {
  char b[8];
  std::snprintf(b, sizeof b, "%03d", v);
  return b;
}

// add_devicev wants NULL-terminated name/value lists.
struct Pairs {
  std::vector<std::string> items;
  void Add(const std::string& k, const std::string& v) {
    items.push_back(k);
    items.push_back(v);
  }
  std::vector<gchar*> Argv() {
    std::vector<gchar*> v;
    for (auto& s : items) v.push_back(s.data());
    v.push_back(nullptr);
    return v;
  }
};

void SetBinary(UMockdevTestbed* tb, const std::string& syspath, const char* name,
               std::vector<uint8_t> data) {
  umockdev_testbed_set_attribute_binary(tb, syspath.c_str(), name, data.data(),
                                        static_cast<gint>(data.size()));
}

// A device node as a plain file, for nodes whose readiness never matters.
void PlainNode(const std::string& root, const std::string& devnode) {
  const fs::path p = fs::path(root) / devnode.substr(1);
  std::error_code ec;
  fs::create_directories(p.parent_path(), ec);
  if (!fs::exists(p, ec)) std::ofstream(p).flush();
}

}  // namespace

Bridge::Bridge(std::string simDir, std::set<std::string> denied)
    : m_simDir(std::move(simDir)), m_denied(std::move(denied)) {
  m_testbed = umockdev_testbed_new();
}

Bridge::~Bridge() {
  std::lock_guard<std::recursive_mutex> guard(m_lock);
  for (auto& [c, cl] : m_clients) {
    for (auto& [slot, l] : cl->links) CloseLink(l);
    if (cl->reapTimer) g_source_remove(cl->reapTimer);
    g_object_unref(c);
  }
  m_clients.clear();
  auto closeNode = [](Node& n) {
    if (n.ptyMaster >= 0) ::close(n.ptyMaster);
    if (n.ptySlave >= 0) ::close(n.ptySlave);
    n.ptyMaster = n.ptySlave = -1;
  };
  for (auto& [k, d] : m_devices)
    for (auto& n : d->nodes) closeNode(*n);
  for (auto& n : m_goneNodes) closeNode(*n);
  g_object_unref(m_testbed);  // removes the testbed's folder
}

std::string Bridge::RootDir() const {
  gchar* root = umockdev_testbed_get_root_dir(m_testbed);
  std::string s = root;
  g_free(root);
  return s;
}

void Bridge::Scan() {
  std::map<std::string, std::vector<SimInterface>> now;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(m_simDir, ec)) {
    if (e.path().extension() != ".json") continue;
    SimInterface i;
    if (!ReadInterface(e.path(), &i)) continue;
    char key[64];
    std::snprintf(key, sizeof key, "|%04x:%04x|", i.vid, i.pid);
    now[i.adapter + key + i.location].push_back(i);
  }
  for (auto& [k, v] : now)
    std::sort(v.begin(), v.end(),
              [](const SimInterface& a, const SimInterface& b) { return a.number < b.number; });
  std::lock_guard<std::recursive_mutex> guard(m_lock);
  // Gone or changed devices first, then the ones whose files stood still for
  // one scan (an adapter publishes its interfaces one after the other).
  std::vector<std::string> drop;
  for (auto& [key, d] : m_devices) {
    auto it = now.find(key);
    if (it == now.end() || !(it->second == d->interfaces)) drop.push_back(key);
  }
  for (const std::string& key : drop) RemoveDevice(key);
  for (auto& [key, ifs] : now) {
    if (m_devices.count(key)) continue;
    auto prev = m_seen.find(key);
    if (prev != m_seen.end() && prev->second == ifs) AddDevice(key, ifs);
  }
  m_seen = std::move(now);
}

std::string Bridge::EnsureHub(int bus, const std::string& portPath) {
  auto it = m_hubs.find(portPath);
  if (it != m_hubs.end()) return it->second;
  std::string parent;
  const bool root = portPath.rfind("usb", 0) == 0;
  if (!root) {
    const auto cut = portPath.find_last_of(".-");
    parent = portPath[cut] == '-' ? EnsureHub(bus, "usb" + std::to_string(bus))
                                  : EnsureHub(bus, portPath.substr(0, cut));
  }
  int& next = m_nextDevnum[bus];
  if (next == 0) next = 1;
  const int devnum = next++;
  DeviceDesc hub;
  hub.hub = true;
  hub.vid = root ? 0x1d6b : 0x05e3;
  hub.pid = root ? 0x0002 : 0x0608;
  Pairs attrs, props;
  attrs.Add("idVendor", Hex4(hub.vid));
  attrs.Add("idProduct", Hex4(hub.pid));
  attrs.Add("busnum", std::to_string(bus));
  attrs.Add("devnum", std::to_string(devnum));
  attrs.Add("speed", "480");
  attrs.Add("bConfigurationValue", "1");
  attrs.Add("bNumConfigurations", "1");
  attrs.Add("bDeviceClass", "09");
  const std::string devname = "/dev/bus/usb/" + Dec3(bus) + "/" + Dec3(devnum);
  props.Add("DEVNAME", devname.substr(5));  // relative to /dev, as in uevent
  props.Add("DEVTYPE", "usb_device");
  props.Add("BUSNUM", Dec3(bus));
  props.Add("DEVNUM", Dec3(devnum));
  auto a = attrs.Argv(), p = props.Argv();
  gchar* sys = umockdev_testbed_add_devicev(m_testbed, "usb", portPath.c_str(),
                                            root ? nullptr : parent.c_str(), a.data(), p.data());
  const std::string syspath = sys ? sys : "";
  g_free(sys);
  SetBinary(m_testbed, syspath, "descriptors", SysfsDescriptors(hub));
  PlainNode(RootDir(), devname);
  umockdev_testbed_uevent(m_testbed, syspath.c_str(), "add");
  m_hubs[portPath] = syspath;
  return syspath;
}

void Bridge::AddDevice(const std::string& key, const std::vector<SimInterface>& ifs) {
  auto d = std::make_unique<Device>();
  d->key = key;
  d->interfaces = ifs;
  const SimInterface& first = ifs.front();
  d->portPath = first.location;
  if (!ParsePortPath(d->portPath, &d->bus)) {  // the kernel always has one
    d->bus = 9;
    d->portPath = "9-" + std::to_string(1 + m_devices.size());
  }
  const auto cut = d->portPath.find_last_of(".-");
  const std::string parent = d->portPath[cut] == '-'
                                 ? EnsureHub(d->bus, "usb" + std::to_string(d->bus))
                                 : EnsureHub(d->bus, d->portPath.substr(0, cut));
  int& next = m_nextDevnum[d->bus];
  d->devnum = next++;
  d->desc.vid = first.vid;
  d->desc.pid = first.pid;
  d->desc.manufacturer = "volink-sim";
  d->desc.product = "Vo-Link " + first.adapter;
  d->desc.serial = first.serial;
  bool fast = false;
  for (const SimInterface& i : ifs) {
    d->desc.interfaces.push_back({i.kind == "hid", i.number, i.inSize, i.outSize});
    fast = fast || i.inSize > 64 || i.outSize > 64;
  }
  const std::string devname = "/dev/bus/usb/" + Dec3(d->bus) + "/" + Dec3(d->devnum);
  char product[32];
  std::snprintf(product, sizeof product, "%x/%x/100", d->desc.vid, d->desc.pid);
  {
    Pairs attrs, props;
    attrs.Add("idVendor", Hex4(d->desc.vid));
    attrs.Add("idProduct", Hex4(d->desc.pid));
    attrs.Add("busnum", std::to_string(d->bus));
    attrs.Add("devnum", std::to_string(d->devnum));
    attrs.Add("speed", fast ? "480" : "12");
    attrs.Add("bConfigurationValue", "1");
    attrs.Add("bNumConfigurations", "1");
    attrs.Add("bNumInterfaces", " " + std::to_string(ifs.size()));
    attrs.Add("bDeviceClass", "00");
    attrs.Add("bcdDevice", "0100");
    attrs.Add("manufacturer", d->desc.manufacturer);
    attrs.Add("product", d->desc.product);
    if (!d->desc.serial.empty()) attrs.Add("serial", d->desc.serial);
    props.Add("DEVNAME", devname.substr(5));  // relative to /dev, as in uevent
    props.Add("DEVTYPE", "usb_device");
    props.Add("PRODUCT", product);
    props.Add("BUSNUM", Dec3(d->bus));
    props.Add("DEVNUM", Dec3(d->devnum));
    auto a = attrs.Argv(), p = props.Argv();
    gchar* sys = umockdev_testbed_add_devicev(m_testbed, "usb", d->portPath.c_str(), parent.c_str(),
                                              a.data(), p.data());
    d->syspaths.push_back(sys ? sys : "");
    g_free(sys);
    SetBinary(m_testbed, d->syspaths[0], "descriptors", SysfsDescriptors(d->desc));
  }
  for (size_t k = 0; k < ifs.size(); ++k) {
    const SimInterface& i = ifs[k];
    const bool hid = i.kind == "hid";
    char name[64], ifnum[8];
    std::snprintf(name, sizeof name, "%s:1.%d", d->portPath.c_str(), i.number);
    std::snprintf(ifnum, sizeof ifnum, "%02x", i.number);
    Pairs attrs, props;
    attrs.Add("bInterfaceNumber", ifnum);
    attrs.Add("bAlternateSetting", " 0");
    attrs.Add("bInterfaceClass", hid ? "03" : "ff");
    attrs.Add("bInterfaceSubClass", "00");
    attrs.Add("bInterfaceProtocol", "00");
    attrs.Add("bNumEndpoints", "02");
    props.Add("DEVTYPE", "usb_interface");
    props.Add("PRODUCT", product);
    props.Add("INTERFACE", hid ? "3/0/0" : "255/0/0");
    auto a = attrs.Argv(), p = props.Argv();
    gchar* sys = umockdev_testbed_add_devicev(m_testbed, "usb", name, d->syspaths[0].c_str(),
                                              a.data(), p.data());
    const std::string ifpath = sys ? sys : "";
    g_free(sys);
    d->syspaths.push_back(ifpath);
    if (hid) {
      static unsigned hidSeq = 0;
      char hidName[32], hidId[40], phys[96];
      std::snprintf(hidName, sizeof hidName, "0003:%04X:%04X.%04X", i.vid, i.pid, ++hidSeq);
      std::snprintf(hidId, sizeof hidId, "0003:%08X:%08X", i.vid, i.pid);
      std::snprintf(phys, sizeof phys, "usb-volink-sim-%s/input%d",
                    d->portPath.substr(d->portPath.find('-') + 1).c_str(), i.number);
      Pairs ha, hp;
      hp.Add("HID_ID", hidId);
      hp.Add("HID_NAME", d->desc.manufacturer + " " + d->desc.product);
      hp.Add("HID_PHYS", phys);
      hp.Add("HID_UNIQ", i.serial);
      hp.Add("DRIVER", "hid-generic");
      auto a2 = ha.Argv(), p2 = hp.Argv();
      gchar* hs = umockdev_testbed_add_devicev(m_testbed, "hid", hidName, ifpath.c_str(), a2.data(),
                                               p2.data());
      const std::string hidpath = hs ? hs : "";
      g_free(hs);
      SetBinary(m_testbed, hidpath, "report_descriptor", HidReportDescriptor(i.inSize, i.outSize));
      d->syspaths.push_back(hidpath);
      AddHidNode(*d, k, hidpath);
    }
  }
  AddUsbfsNode(*d);
  for (const std::string& s : d->syspaths) umockdev_testbed_uevent(m_testbed, s.c_str(), "add");
  std::cout << "added " << d->portPath;
  for (auto& n : d->nodes) std::cout << " " << n->devnode;
  std::cout << std::endl;
  m_devices[key] = std::move(d);
}

void Bridge::AddHidNode(Device& d, size_t slot, const std::string& parent) {
  auto node = std::make_unique<Node>();
  node->hid = true;
  node->device = &d;
  node->slot = slot;
  // The node is a pty: umockdev answers read and write, but poll() goes to
  // the kernel, so the pty holds one byte while a report waits.
  node->ptyMaster = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (node->ptyMaster < 0 || ::grantpt(node->ptyMaster) != 0 || ::unlockpt(node->ptyMaster) != 0)
    return;
  const std::string pts = ::ptsname(node->ptyMaster);
  node->ptySlave = ::open(pts.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  struct termios t {};
  struct stat st {};
  if (node->ptySlave < 0 || ::tcgetattr(node->ptySlave, &t) != 0 ||
      ::fstat(node->ptySlave, &st) != 0)
    return;
  ::cfmakeraw(&t);
  ::tcsetattr(node->ptySlave, TCSANOW, &t);
  if (m_denied.count(d.interfaces[slot].adapter)) ::fchmod(node->ptySlave, 0);
  const int n = m_nextHidraw++;
  const std::string name = "hidraw" + std::to_string(n);
  node->devnode = "/dev/" + name;
  // hidapi finds the device of an open handle by the node's major:minor
  // (fstat is not redirected): the pty's numbers stand for the hidraw's.
  Pairs attrs, props;
  attrs.Add("dev", std::to_string(major(st.st_rdev)) + ":" + std::to_string(minor(st.st_rdev)));
  props.Add("DEVNAME", name);
  props.Add("MAJOR", std::to_string(major(st.st_rdev)));
  props.Add("MINOR", std::to_string(minor(st.st_rdev)));
  auto a = attrs.Argv(), p = props.Argv();
  gchar* sys =
      umockdev_testbed_add_devicev(m_testbed, "hidraw", name.c_str(), parent.c_str(), a.data(), p.data());
  const std::string syspath = sys ? sys : "";
  g_free(sys);
  d.syspaths.push_back(syspath);
  std::error_code ec;
  // The links the kernel adds and the testbed does not: the class device's
  // "device" and the /sys/dev/char entry of its numbers.
  const fs::path sysdir = fs::path(RootDir()) / syspath.substr(1);
  fs::create_directory_symlink("..", sysdir / "device", ec);
  const fs::path charDir = fs::path(RootDir()) / "sys/dev/char";
  fs::create_directories(charDir, ec);
  node->charLink = (charDir / (std::to_string(major(st.st_rdev)) + ":" +
                                std::to_string(minor(st.st_rdev))))
                       .string();
  fs::remove(node->charLink, ec);
  fs::create_directory_symlink(fs::path("../..") / syspath.substr(5), node->charLink, ec);
  const fs::path file = fs::path(RootDir()) / "dev" / name;
  fs::remove(file, ec);
  fs::create_directories(file.parent_path(), ec);
  fs::create_symlink(pts, file, ec);
  AttachHandler(*node);
  d.nodes.push_back(std::move(node));
}

void Bridge::AddUsbfsNode(Device& d) {
  auto node = std::make_unique<Node>();
  node->device = &d;
  node->devnode = "/dev/bus/usb/" + Dec3(d.bus) + "/" + Dec3(d.devnum);
  const std::string file = RootDir() + node->devnode;
  PlainNode(RootDir(), node->devnode);
  if (m_denied.count(d.interfaces.front().adapter)) ::chmod(file.c_str(), 0);
  AttachHandler(*node);
  d.nodes.push_back(std::move(node));
}

void Bridge::RemoveDevice(const std::string& key) {
  auto it = m_devices.find(key);
  if (it == m_devices.end()) return;
  std::unique_ptr<Device> d = std::move(it->second);
  m_devices.erase(it);
  for (auto& n : d->nodes) {
    n->gone = true;
    for (auto& [c, cl] : m_clients)
      if (cl->node == n.get()) ClientGone(*cl);
    // Hanging up the pty wakes a poll() with POLLHUP, as a vanished hidraw does.
    if (n->ptyMaster >= 0) ::close(n->ptyMaster);
    if (n->ptySlave >= 0) ::close(n->ptySlave);
    n->ptyMaster = n->ptySlave = -1;
    std::error_code ec;
    fs::remove(RootDir() + n->devnode, ec);
    if (!n->charLink.empty()) fs::remove(n->charLink, ec);
    n->device = nullptr;
    m_goneNodes.push_back(std::move(n));
  }
  for (auto s = d->syspaths.rbegin(); s != d->syspaths.rend(); ++s) {
    umockdev_testbed_uevent(m_testbed, s->c_str(), "remove");
    umockdev_testbed_remove_device(m_testbed, s->c_str());
  }
  std::cout << "removed " << d->portPath << std::endl;
}

}  // namespace usbbridge
