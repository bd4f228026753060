// The traffic side of the bridge: hidraw reads, writes and ioctls, and the
// usbdevfs ioctls libusb uses (claim, URBs, reaping), each answered as the
// kernel answers it and carried to the emulator socket.
#include <errno.h>
#include <glib-unix.h>
#include <sys/ioctl.h>
#include <linux/hidraw.h>
#include <linux/usbdevice_fs.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstring>

#include "Bridge.h"

namespace usbbridge {
namespace {

// Replies queued for a program that does not read; the emulator keeps the
// rest in its socket.
constexpr size_t kMaxQueued = 64;
// A non-blocking reap with nothing done is held this long: the usbdevfs node
// is a plain file, so poll() always reports it ready and libusb would spin.
constexpr guint kReapHoldMs = 5;

struct Resolved {
  UMockdevIoctlData* data = nullptr;
  explicit Resolved(UMockdevIoctlData* parent, size_t len) {
    GError* err = nullptr;
    data = umockdev_ioctl_data_resolve(parent, 0, len, &err);
    if (err) g_error_free(err);
  }
  ~Resolved() {
    if (data) g_object_unref(data);
  }
  Resolved(const Resolved&) = delete;
  Resolved& operator=(const Resolved&) = delete;
  bool ok() const { return data && static_cast<size_t>(data->data_len) > 0; }
};

template <typename T>
T Get(UMockdevIoctlData* d, size_t offset) {
  T v{};
  if (offset + sizeof v <= static_cast<size_t>(d->data_len)) std::memcpy(&v, d->data + offset, sizeof v);
  return v;
}
template <typename T>
void Set(UMockdevIoctlData* d, size_t offset, T v) {
  if (offset + sizeof v <= static_cast<size_t>(d->data_len)) std::memcpy(d->data + offset, &v, sizeof v);
}

void Fail(UMockdevIoctlClient* c, int err) { umockdev_ioctl_client_complete(c, -1, err); }

bool SendMessage(int fd, const uint8_t* p, size_t n) {
  for (int tries = 0; tries < 2; ++tries) {
    const ssize_t rc = ::send(fd, p, n, MSG_DONTWAIT | MSG_NOSIGNAL);
    if (rc == static_cast<ssize_t>(n)) return true;
    if (rc >= 0 || (errno != EAGAIN && errno != EINTR)) return false;
    struct pollfd pf {fd, POLLOUT, 0};
    ::poll(&pf, 1, 1000);
  }
  return false;
}

struct WatchData {
  Bridge* bridge;
  Client* client;
  size_t slot;
};

}  // namespace

// --- clients and emulator connections ---------------------------------------

Client& Bridge::ClientOf(Node* node, UMockdevIoctlClient* c) {
  auto it = m_clients.find(c);
  if (it != m_clients.end()) return *it->second;
  auto cl = std::make_unique<Client>();
  cl->client = static_cast<UMockdevIoctlClient*>(g_object_ref(c));
  cl->node = node;
  cl->gone = node->gone;
  Client& ref = *cl;
  m_clients[c] = std::move(cl);
  return ref;
}

bool Bridge::OpenLink(Client& cl, size_t slot, int* err) {
  if (cl.links.count(slot)) return true;
  *err = ENODEV;
  Device* d = cl.node->device;
  if (!d || slot >= d->interfaces.size()) return false;
  const int fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  struct sockaddr_un a {};
  a.sun_family = AF_UNIX;
  std::strncpy(a.sun_path, d->interfaces[slot].socket.c_str(), sizeof a.sun_path - 1);
  uint8_t status = 0;
  struct pollfd pf {fd, POLLIN, 0};
  if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::poll(&pf, 1, 1000) != 1 ||
      ::recv(fd, &status, 1, MSG_DONTWAIT) != 1 || status != 1) {
    ::close(fd);
    if (status == 0 && !cl.node->hid) *err = EBUSY;  // another program holds the interface
    else if (status == 0) *err = EIO;
    return false;
  }
  Link& l = cl.links[slot];
  l.fd = fd;
  auto* w = new WatchData{this, &cl, slot};
  l.watch = g_unix_fd_add_full(G_PRIORITY_DEFAULT, fd, static_cast<GIOCondition>(G_IO_IN | G_IO_HUP | G_IO_ERR),
                               LinkReadableCb, w, [](gpointer p) { delete static_cast<WatchData*>(p); });
  return true;
}

void Bridge::CloseLink(Link& l) {
  if (l.watch) g_source_remove(l.watch);
  l.watch = 0;
  if (l.fd >= 0) ::close(l.fd);
  l.fd = -1;
}

gboolean Bridge::LinkReadableCb(gint, GIOCondition, gpointer data) {
  auto* w = static_cast<WatchData*>(data);
  std::lock_guard<std::recursive_mutex> guard(w->bridge->m_lock);
  Link& l = w->client->links[w->slot];
  uint8_t buf[4096];
  for (;;) {
    if (l.replies.size() >= kMaxQueued) {  // stop reading until the program catches up
      l.watch = 0;
      w->bridge->Deliver(*w->client, w->slot);
      return G_SOURCE_REMOVE;
    }
    const ssize_t n = ::recv(l.fd, buf, sizeof buf, MSG_DONTWAIT);
    if (n > 0) {
      l.replies.emplace_back(buf, buf + n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
    // The emulator closed the connection: the adapter is gone.
    l.watch = 0;
    l.closed = true;
    w->bridge->Deliver(*w->client, w->slot);
    w->bridge->ClientGone(*w->client);
    return G_SOURCE_REMOVE;
  }
  w->bridge->Deliver(*w->client, w->slot);
  return G_SOURCE_CONTINUE;
}

void Bridge::Deliver(Client& cl, size_t slot) {
  Link& l = cl.links[slot];
  if (cl.node->hid) {
    if (cl.readHeld && !l.replies.empty()) {
      const std::vector<uint8_t> r = std::move(l.replies.front());
      l.replies.pop_front();
      CompleteHeldRead(cl, &r, 0);
    }
    UpdateMarker(*cl.node);
  } else {
    bool any = false;
    for (auto& u : cl.urbs) {
      if (l.replies.empty()) break;
      if (u->done || !u->in || u->slot != slot) continue;
      const std::vector<uint8_t>& r = l.replies.front();
      const size_t room = u->buffer ? static_cast<size_t>(u->buffer->data_len) : 0;
      const size_t n = std::min(room, r.size());
      if (n) std::memcpy(u->buffer->data, r.data(), n);
      Set<int>(u->urb, offsetof(usbdevfs_urb, actual_length), static_cast<int>(n));
      Set<int>(u->urb, offsetof(usbdevfs_urb, status), r.size() > room ? -EOVERFLOW : 0);
      u->done = any = true;
      l.replies.pop_front();
    }
    if (any && cl.reapHeld) CompleteReap(cl);
  }
  if (!l.watch && !l.closed && l.fd >= 0 && l.replies.size() < kMaxQueued) {
    auto* w = new WatchData{this, &cl, slot};
    l.watch = g_unix_fd_add_full(G_PRIORITY_DEFAULT, l.fd,
                                 static_cast<GIOCondition>(G_IO_IN | G_IO_HUP | G_IO_ERR), LinkReadableCb,
                                 w, [](gpointer p) { delete static_cast<WatchData*>(p); });
  }
}

void Bridge::UpdateMarker(Node& node) {
  if (node.ptyMaster < 0) return;
  bool want = false;
  for (auto& [c, cl] : m_clients) {
    if (cl->node != &node || cl->readHeld) continue;
    for (auto& [slot, l] : cl->links) want = want || !l.replies.empty();
  }
  if (want && !node.marked) {
    node.marked = ::write(node.ptyMaster, "r", 1) == 1;
  } else if (!want && node.marked) {
    char b[16];
    while (::read(node.ptySlave, b, sizeof b) > 0) {
    }
    node.marked = false;
  }
}

void Bridge::ClientGone(Client& cl) {
  if (cl.gone) return;
  cl.gone = true;
  if (cl.readHeld) CompleteHeldRead(cl, nullptr, EIO);
  for (auto& u : cl.urbs) {
    if (u->done) continue;
    Set<int>(u->urb, offsetof(usbdevfs_urb, status), -ESHUTDOWN);
    Set<int>(u->urb, offsetof(usbdevfs_urb, actual_length), 0);
    u->done = true;
  }
  if (cl.reapHeld && !CompleteReap(cl)) {
    cl.reapHeld = false;
    if (cl.reapTimer) g_source_remove(cl.reapTimer);
    cl.reapTimer = 0;
    Fail(cl.client, ENODEV);
  }
  for (auto& [slot, l] : cl.links) {
    CloseLink(l);
    l.closed = true;
  }
}

void Bridge::DropClient(Client& cl) {
  for (auto& [slot, l] : cl.links) CloseLink(l);
  if (cl.reapTimer) g_source_remove(cl.reapTimer);
  for (auto& u : cl.urbs) {
    if (u->buffer) g_object_unref(u->buffer);
    g_object_unref(u->urb);
  }
  cl.urbs.clear();
}

void Bridge::Sweep() {
  std::lock_guard<std::recursive_mutex> guard(m_lock);
  for (auto it = m_clients.begin(); it != m_clients.end();) {
    if (umockdev_ioctl_client_get_connected(it->first)) {
      ++it;
      continue;
    }
    Node* node = it->second->node;
    DropClient(*it->second);
    g_object_unref(it->first);
    it = m_clients.erase(it);
    UpdateMarker(*node);
  }
}

// --- hidraw ------------------------------------------------------------------

void Bridge::CompleteHeldRead(Client& cl, const std::vector<uint8_t>* report, int err) {
  cl.readHeld = false;
  if (!report) {
    Fail(cl.client, err);
    return;
  }
  UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(cl.client);
  const size_t n = std::min(report->size(), static_cast<size_t>(arg->data_len));
  std::memcpy(arg->data, report->data(), n);
  umockdev_ioctl_client_complete(cl.client, static_cast<glong>(n), 0);
}

gboolean Bridge::OnRead(Node* node, UMockdevIoctlClient* c) {
  std::lock_guard<std::recursive_mutex> guard(m_lock);
  Client& cl = ClientOf(node, c);
  if (!node->hid) {
    Fail(c, EINVAL);
    return TRUE;
  }
  int err = EIO;
  if (cl.gone || !OpenLink(cl, node->slot, &err)) {
    Fail(c, EIO);
    return TRUE;
  }
  Link& l = cl.links[node->slot];
  cl.readHeld = true;  // a blocking read waits for the next report
  if (!l.replies.empty() || l.closed) Deliver(cl, node->slot);
  UpdateMarker(*node);
  return TRUE;
}

gboolean Bridge::OnWrite(Node* node, UMockdevIoctlClient* c) {
  std::lock_guard<std::recursive_mutex> guard(m_lock);
  Client& cl = ClientOf(node, c);
  UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(c);
  int err = ENODEV;
  if (!node->hid) {
    Fail(c, EINVAL);
  } else if (cl.gone || !OpenLink(cl, node->slot, &err)) {
    Fail(c, cl.gone ? ENODEV : err);
  } else if (arg->data_len < 1 || arg->data_len > 16384) {
    Fail(c, EINVAL);
  } else {
    // Report id 0 means the device numbers no reports: the kernel sends the
    // bytes after it and counts the id as written.
    const size_t skip = arg->data[0] == 0 ? 1 : 0;
    if (SendMessage(cl.links[node->slot].fd, arg->data + skip, static_cast<size_t>(arg->data_len) - skip))
      umockdev_ioctl_client_complete(c, arg->data_len, 0);
    else
      Fail(c, EIO);
  }
  return TRUE;
}

gboolean Bridge::HidIoctl(Client& cl, UMockdevIoctlClient* c) {
  const unsigned long req = umockdev_ioctl_client_get_request(c);
  UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(c);
  if (cl.gone) {
    Fail(c, ENODEV);
    return TRUE;
  }
  const InterfaceDesc& i = cl.node->device->desc.interfaces[cl.node->slot];
  const std::vector<uint8_t> rdesc = HidReportDescriptor(i.inSize, i.outSize);
  auto text = [&](const std::string& s) {  // HIDIOCGRAW{NAME,PHYS,UNIQ}(len)
    Resolved r(arg, _IOC_SIZE(req));
    if (!r.ok()) return Fail(c, EFAULT);
    const size_t n = std::min(s.size() + 1, static_cast<size_t>(r.data->data_len));
    std::memcpy(r.data->data, s.c_str(), n);
    umockdev_ioctl_client_complete(c, static_cast<glong>(n), 0);
  };
  const Device& d = *cl.node->device;
  if (req == HIDIOCGRDESCSIZE) {
    Resolved r(arg, sizeof(int));
    if (!r.ok()) return Fail(c, EFAULT), TRUE;
    Set<int>(r.data, 0, static_cast<int>(rdesc.size()));
    umockdev_ioctl_client_complete(c, 0, 0);
  } else if (req == HIDIOCGRDESC) {
    Resolved r(arg, sizeof(hidraw_report_descriptor));
    if (!r.ok()) return Fail(c, EFAULT), TRUE;
    const uint32_t want = Get<uint32_t>(r.data, 0);
    if (want > HID_MAX_DESCRIPTOR_SIZE - 1) return Fail(c, EINVAL), TRUE;
    std::memcpy(r.data->data + 4, rdesc.data(), std::min<size_t>(want, rdesc.size()));
    umockdev_ioctl_client_complete(c, 0, 0);
  } else if (req == HIDIOCGRAWINFO) {
    Resolved r(arg, sizeof(hidraw_devinfo));
    if (!r.ok()) return Fail(c, EFAULT), TRUE;
    Set<uint32_t>(r.data, 0, 3);  // BUS_USB
    Set<uint16_t>(r.data, 4, d.desc.vid);
    Set<uint16_t>(r.data, 6, d.desc.pid);
    umockdev_ioctl_client_complete(c, 0, 0);
  } else if (_IOC_TYPE(req) == 'H' && _IOC_NR(req) == 0x04) {
    text(d.desc.manufacturer + " " + d.desc.product);
  } else if (_IOC_TYPE(req) == 'H' && _IOC_NR(req) == 0x05) {
    text("usb-volink-sim-" + d.portPath + "/input" + std::to_string(i.number));
  } else if (_IOC_TYPE(req) == 'H' && _IOC_NR(req) == 0x08) {
    text(d.desc.serial);
  } else {
    Fail(c, ENOTTY);
  }
  return TRUE;
}

// --- usbdevfs ----------------------------------------------------------------

void Bridge::ControlTransfer(Client& cl, Urb& u) {
  const uint8_t* setup = u.buffer ? u.buffer->data : nullptr;
  int status = -EPIPE, actual = 0;  // a stall unless answered below
  if (setup && u.buffer->data_len >= 8) {
    const uint8_t type = setup[0], request = setup[1];
    const uint16_t value = static_cast<uint16_t>(setup[2] | setup[3] << 8);
    const uint16_t length = static_cast<uint16_t>(setup[6] | setup[7] << 8);
    std::vector<uint8_t> answer;
    bool ok = false;
    if (type == 0x80 && request == 6) {  // GET_DESCRIPTOR from the device
      const DeviceDesc& d = cl.node->device->desc;
      const uint8_t dt = static_cast<uint8_t>(value >> 8), index = static_cast<uint8_t>(value);
      if (dt == 1) answer = DeviceDescriptor(d), ok = true;
      else if (dt == 2 && index == 0) answer = ConfigDescriptor(d), ok = true;
      else if (dt == 3) ok = StringDescriptor(d, index, &answer);
    } else if ((type & 0x80) == 0 && request != 6) {  // SET_CONFIGURATION and the like
      ok = true;
    }
    if (ok) {
      const size_t room = static_cast<size_t>(u.buffer->data_len) - 8;
      actual = static_cast<int>(std::min<size_t>({answer.size(), room, static_cast<size_t>(length)}));
      std::memcpy(u.buffer->data + 8, answer.data(), static_cast<size_t>(actual));
      status = 0;
    }
  }
  Set<int>(u.urb, offsetof(usbdevfs_urb, status), status);
  Set<int>(u.urb, offsetof(usbdevfs_urb, actual_length), actual);
  u.done = true;
}

void Bridge::SubmitUrb(Client& cl, UMockdevIoctlClient* c) {
  UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(c);
  GError* err = nullptr;
  UMockdevIoctlData* urb = umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_urb), &err);
  if (err) g_error_free(err), err = nullptr;
  if (!urb) return Fail(c, EFAULT);
  auto u = std::make_unique<Urb>();
  u->urb = urb;
  u->address = urb->client_addr;
  const uint8_t type = Get<uint8_t>(urb, offsetof(usbdevfs_urb, type));
  const uint8_t ep = Get<uint8_t>(urb, offsetof(usbdevfs_urb, endpoint));
  const int length = Get<int>(urb, offsetof(usbdevfs_urb, buffer_length));
  if (length < 0 || length > 65536) return g_object_unref(urb), Fail(c, EINVAL);
  if (length > 0) {
    u->buffer = umockdev_ioctl_data_resolve(urb, offsetof(usbdevfs_urb, buffer),
                                            static_cast<gsize>(length), &err);
    if (err) g_error_free(err), err = nullptr;
    if (!u->buffer) return g_object_unref(urb), Fail(c, EFAULT);
  }
  const Device& d = *cl.node->device;
  if (type == USBDEVFS_URB_TYPE_CONTROL) {
    ControlTransfer(cl, *u);
  } else if (type == USBDEVFS_URB_TYPE_BULK || type == USBDEVFS_URB_TYPE_INTERRUPT) {
    const size_t slot = static_cast<size_t>((ep & 0x7F) - 1);
    int e = ENOENT;
    if ((ep & 0x7F) == 0 || slot >= d.interfaces.size() || !OpenLink(cl, slot, &e)) {
      if (u->buffer) g_object_unref(u->buffer);
      g_object_unref(urb);
      return Fail(c, e);
    }
    u->slot = slot;
    u->in = (ep & 0x80) != 0;
    if (!u->in) {  // one OUT transfer = one message
      const bool sent = SendMessage(cl.links[slot].fd, u->buffer ? u->buffer->data : nullptr,
                                    static_cast<size_t>(length));
      Set<int>(urb, offsetof(usbdevfs_urb, status), sent ? 0 : -EPROTO);
      Set<int>(urb, offsetof(usbdevfs_urb, actual_length), sent ? length : 0);
      u->done = true;
    }
  } else {
    if (u->buffer) g_object_unref(u->buffer);
    g_object_unref(urb);
    return Fail(c, EINVAL);
  }
  const size_t slot = u->slot;
  const bool in = u->in && !u->done;
  cl.urbs.push_back(std::move(u));
  umockdev_ioctl_client_complete(c, 0, 0);
  if (in) Deliver(cl, slot);
}

bool Bridge::CompleteReap(Client& cl) {
  auto it = std::find_if(cl.urbs.begin(), cl.urbs.end(), [](auto& u) { return u->done; });
  if (it == cl.urbs.end()) return false;
  std::unique_ptr<Urb> u = std::move(*it);
  cl.urbs.erase(it);
  cl.reapHeld = false;
  if (cl.reapTimer) g_source_remove(cl.reapTimer);
  cl.reapTimer = 0;
  UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(cl.client);
  Resolved slot(arg, sizeof(void*));
  if (!slot.data || !umockdev_ioctl_data_set_ptr(slot.data, 0, u->urb)) {
    Fail(cl.client, EFAULT);
  } else {
    umockdev_ioctl_client_complete(cl.client, 0, 0);
  }
  if (u->buffer) g_object_unref(u->buffer);
  g_object_unref(u->urb);
  return true;
}

gboolean Bridge::ReapTimeoutCb(gpointer data) {
  auto* cl = static_cast<Client*>(data);
  Bridge* self = static_cast<Bridge*>(g_object_get_data(G_OBJECT(cl->client), "bridge"));
  std::lock_guard<std::recursive_mutex> guard(self->m_lock);
  cl->reapTimer = 0;
  if (cl->reapHeld) {
    cl->reapHeld = false;
    Fail(cl->client, EAGAIN);
  }
  return G_SOURCE_REMOVE;
}

void Bridge::Reap(Client& cl, UMockdevIoctlClient* c, bool wait) {
  if (CompleteReap(cl)) return;
  if (cl.gone) return Fail(c, ENODEV);
  const bool pending = std::any_of(cl.urbs.begin(), cl.urbs.end(), [](auto& u) { return !u->done; });
  if (!wait && !pending) return Fail(c, EAGAIN);
  cl.reapHeld = true;
  if (!wait) {
    g_object_set_data(G_OBJECT(c), "bridge", this);
    cl.reapTimer = g_timeout_add_full(G_PRIORITY_HIGH, kReapHoldMs, ReapTimeoutCb, &cl, nullptr);
  }
}

gboolean Bridge::UsbfsIoctl(Client& cl, UMockdevIoctlClient* c) {
  const unsigned long req = umockdev_ioctl_client_get_request(c);
  UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(c);
  if (req == USBDEVFS_REAPURB || req == USBDEVFS_REAPURBNDELAY) {
    Reap(cl, c, req == USBDEVFS_REAPURB);
    return TRUE;
  }
  if (cl.gone) return Fail(c, ENODEV), TRUE;
  const Device& d = *cl.node->device;
  auto slotOf = [&](unsigned number) -> size_t {
    for (size_t k = 0; k < d.interfaces.size(); ++k)
      if (static_cast<unsigned>(d.interfaces[k].number) == number) return k;
    return SIZE_MAX;
  };
  switch (req) {
    case USBDEVFS_GET_CAPABILITIES: {
      Resolved r(arg, sizeof(uint32_t));
      if (!r.ok()) return Fail(c, EFAULT), TRUE;
      Set<uint32_t>(r.data, 0,
                    USBDEVFS_CAP_ZERO_PACKET | USBDEVFS_CAP_BULK_CONTINUATION |
                        USBDEVFS_CAP_NO_PACKET_SIZE_LIM | USBDEVFS_CAP_REAP_AFTER_DISCONNECT);
      umockdev_ioctl_client_complete(c, 0, 0);
      return TRUE;
    }
    case USBDEVFS_CLAIMINTERFACE:
    case USBDEVFS_DISCONNECT_CLAIM:
    case USBDEVFS_RELEASEINTERFACE: {
      Resolved r(arg, sizeof(uint32_t));
      if (!r.ok()) return Fail(c, EFAULT), TRUE;
      const size_t slot = slotOf(Get<uint32_t>(r.data, 0));
      if (slot == SIZE_MAX) return Fail(c, ENOENT), TRUE;
      if (req == USBDEVFS_RELEASEINTERFACE) {
        auto it = cl.links.find(slot);
        if (it == cl.links.end()) return Fail(c, EINVAL), TRUE;
        CloseLink(it->second);
        cl.links.erase(it);
        umockdev_ioctl_client_complete(c, 0, 0);
        return TRUE;
      }
      int e = ENODEV;
      if (!OpenLink(cl, slot, &e)) return Fail(c, e), TRUE;
      umockdev_ioctl_client_complete(c, 0, 0);
      return TRUE;
    }
    case USBDEVFS_GETDRIVER:
    case USBDEVFS_IOCTL:  // no kernel driver is bound to the adapter's interfaces
      return Fail(c, ENODATA), TRUE;
    case USBDEVFS_SETINTERFACE:
    case USBDEVFS_SETCONFIGURATION:
    case USBDEVFS_CLEAR_HALT:
    case USBDEVFS_RESETEP:
    case USBDEVFS_RESET:
      umockdev_ioctl_client_complete(c, 0, 0);
      return TRUE;
    case USBDEVFS_SUBMITURB:
      SubmitUrb(cl, c);
      return TRUE;
    case USBDEVFS_DISCARDURB: {
      const uint64_t address = Get<uint64_t>(arg, 0);
      for (auto& u : cl.urbs) {
        if (u->address != address || u->done) continue;
        Set<int>(u->urb, offsetof(usbdevfs_urb, status), -ENOENT);
        Set<int>(u->urb, offsetof(usbdevfs_urb, actual_length), 0);
        u->done = true;
        umockdev_ioctl_client_complete(c, 0, 0);
        return TRUE;
      }
      return Fail(c, EINVAL), TRUE;
    }
    default:
      return Fail(c, ENOTTY), TRUE;
  }
}

gboolean Bridge::OnIoctl(Node* node, UMockdevIoctlClient* c) {
  std::lock_guard<std::recursive_mutex> guard(m_lock);
  Client& cl = ClientOf(node, c);
  return node->hid ? HidIoctl(cl, c) : UsbfsIoctl(cl, c);
}

// --- handler objects ---------------------------------------------------------

namespace {
struct HandlerData {
  Bridge* bridge;
  Node* node;
};
gboolean IoctlCb(UMockdevIoctlBase*, UMockdevIoctlClient* c, gpointer p) {
  auto* h = static_cast<HandlerData*>(p);
  return h->bridge->OnIoctl(h->node, c);
}
gboolean ReadCb(UMockdevIoctlBase*, UMockdevIoctlClient* c, gpointer p) {
  auto* h = static_cast<HandlerData*>(p);
  return h->bridge->OnRead(h->node, c);
}
gboolean WriteCb(UMockdevIoctlBase*, UMockdevIoctlClient* c, gpointer p) {
  auto* h = static_cast<HandlerData*>(p);
  return h->bridge->OnWrite(h->node, c);
}
}  // namespace

void Bridge::AttachHandler(Node& node) {
  node.handler = umockdev_ioctl_base_new();
  auto* h = new HandlerData{this, &node};
  auto destroy = [](gpointer p, GClosure*) { delete static_cast<HandlerData*>(p); };
  g_signal_connect_data(node.handler, "handle-ioctl", G_CALLBACK(IoctlCb), h, destroy, GConnectFlags{});
  g_signal_connect(node.handler, "handle-read", G_CALLBACK(ReadCb), h);
  g_signal_connect(node.handler, "handle-write", G_CALLBACK(WriteCb), h);
  GError* err = nullptr;
  if (!umockdev_testbed_attach_ioctl(m_testbed, node.devnode.c_str(), node.handler, &err)) {
    g_printerr("usb-bridge: cannot attach %s: %s\n", node.devnode.c_str(), err ? err->message : "?");
    if (err) g_error_free(err);
  }
}

}  // namespace usbbridge
