#include "usb/SimAccess.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <nlohmann/json.hpp>

#include "platform/Tick.h"
#include "usb/LocationId.h"

namespace usbdev {
namespace {

namespace fs = std::filesystem;

bool KindFromText(const std::string& s, Kind* kind) {
  if (s == "hid") *kind = Kind::Hid;
  else if (s == "bulk") *kind = Kind::Bulk;
  else if (s == "legacy-bulk") *kind = Kind::LegacyBulk;
  else return false;
  return true;
}

// Waits for the socket to become readable or writable; false on time-out.
bool WaitFor(int fd, short events, int timeoutMs) {
  struct pollfd p {fd, events, 0};
  const uint64_t end = platform::TickCountMs() + static_cast<uint64_t>(std::max(timeoutMs, 0));
  for (;;) {
    int wait = -1;
    if (timeoutMs >= 0) {
      const uint64_t now = platform::TickCountMs();
      wait = now >= end ? 0 : static_cast<int>(end - now);
    }
    const int rc = ::poll(&p, 1, wait);
    if (rc > 0) return true;
    if (rc == 0) return false;
    if (errno != EINTR) return false;
  }
}

// Reads a description file: only a regular file of at most kMaxDescriptionBytes,
// opened without blocking (a FIFO or device named like one is never waited on).
bool ReadDescription(const fs::path& file, std::string* text) {
  std::error_code ec;
  if (!fs::is_regular_file(file, ec)) return false;  // no open at all for the others
  const int fd = ::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st {};
  bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
            st.st_size <= static_cast<off_t>(SimAccess::kMaxDescriptionBytes);
  text->clear();
  char buf[4096];
  while (ok) {
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = n == 0;
      break;
    }
    text->append(buf, static_cast<size_t>(n));
    ok = text->size() <= SimAccess::kMaxDescriptionBytes;  // grew since fstat
  }
  ::close(fd);
  return ok;
}

class SimDevice : public IDevice {
 public:
  SimDevice(int fd, const DeviceInfo& info) : m_fd(fd), m_info(info) {}
  ~SimDevice() override { ::close(m_fd); }

  bool Read(uint8_t* buf, size_t len, size_t* got, int timeoutMs) override {
    if (got) *got = 0;
    // A blocking receive with the time-out as socket option costs one system
    // call per message, as a plain socket read does.
    if (timeoutMs != 0 && !SetReceiveTimeout(timeoutMs)) return false;
    ssize_t n;
    do n = ::recv(m_fd, buf, len, timeoutMs == 0 ? MSG_DONTWAIT : 0);
    while (n < 0 && errno == EINTR);
    if (n <= 0) return false;  // time-out, error, or the device went away
    if (got) *got = static_cast<size_t>(n);
    return true;
  }

  bool Write(const uint8_t* buf, size_t len, size_t* sent, int timeoutMs) override {
    if (sent) *sent = 0;
    ssize_t n;
    do n = ::send(m_fd, buf, len, MSG_DONTWAIT | MSG_NOSIGNAL);
    while (n < 0 && errno == EINTR);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      if (!WaitFor(m_fd, POLLOUT, timeoutMs)) return false;
      do n = ::send(m_fd, buf, len, MSG_DONTWAIT | MSG_NOSIGNAL);
      while (n < 0 && errno == EINTR);
    }
    if (n < 0) return false;
    if (sent) *sent = static_cast<size_t>(n);
    return true;
  }

  bool GetReportSizes(uint16_t* in, uint16_t* out) override {
    if (m_info.kind != Kind::Hid) return false;
    *in = m_info.inSize;
    *out = m_info.outSize;
    return true;
  }
  bool GetSerialNumberString(std::string* serial) override {
    if (m_info.serial.empty()) return false;
    *serial = m_info.serial;
    return true;
  }
  bool GetDescriptor(uint8_t type, uint8_t index, uint16_t, uint8_t* buf, size_t len,
                     size_t* got) override {
    std::vector<uint8_t> d;
    if (type == 1 && index == 0) {
      d = {18, 1, 0x00, 0x02, 0, 0, 0, 64, static_cast<uint8_t>(m_info.vid),
           static_cast<uint8_t>(m_info.vid >> 8), static_cast<uint8_t>(m_info.pid),
           static_cast<uint8_t>(m_info.pid >> 8), 0, 1, 1, 2,
           static_cast<uint8_t>(m_info.serial.empty() ? 0 : 3), 1};
    } else if (type == 3 && index == 3 && !m_info.serial.empty()) {
      d.push_back(0);
      d.push_back(3);
      for (unsigned char c : m_info.serial) {
        if (d.size() + 2 > 255) break;
        d.push_back(c);
        d.push_back(0);
      }
      d[0] = static_cast<uint8_t>(d.size());
    } else {
      return false;
    }
    const size_t n = std::min(len, d.size());
    std::memcpy(buf, d.data(), n);
    if (got) *got = n;
    return true;
  }
  bool GetSpeed(uint8_t* speed) override {
    *speed = 3;  // high speed
    return true;
  }
  bool GetPipes(std::vector<PipeInfo>* pipes) override {
    pipes->clear();
    pipes->push_back({2, 0x01, m_info.outSize, 0});
    pipes->push_back({2, 0x81, m_info.inSize, 0});
    return true;
  }

 private:
  bool SetReceiveTimeout(int timeoutMs) {
    if (timeoutMs == m_nRecvTimeout) return true;
    struct timeval tv {};
    if (timeoutMs > 0) {
      tv.tv_sec = timeoutMs / 1000;
      tv.tv_usec = (timeoutMs % 1000) * 1000;
    }  // zero = wait without limit
    if (::setsockopt(m_fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv) != 0) return false;
    m_nRecvTimeout = timeoutMs;
    return true;
  }

  int m_fd;
  DeviceInfo m_info;
  int m_nRecvTimeout = -2;  // nothing set yet
};

}  // namespace

std::string SimLocationId(Kind kind, const std::string& location, const std::string& path) {
  if (IsUsbPortPath(location)) return location;
  if (kind == Kind::Hid) return LocationFromInstanceId(location);
  std::string id = LocationFromInterfacePath(path);
  return id.empty() ? LocationFromInstanceId(location) : id;
}

std::string SimDeviceOf(uint16_t vid, uint16_t pid, const std::string& path,
                        const std::string& location) {
  auto hex = [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; };
  for (size_t i = 0; i + 6 <= path.size(); ++i) {
    if (path[i] != '&' || std::tolower(static_cast<unsigned char>(path[i + 1])) != 'm' ||
        std::tolower(static_cast<unsigned char>(path[i + 2])) != 'i' || path[i + 3] != '_' ||
        !hex(path[i + 4]) || !hex(path[i + 5]))
      continue;
    char ids[16];
    std::snprintf(ids, sizeof ids, "%04x:%04x", vid, pid);
    return std::string(ids) + "|" + path.substr(0, i) + path.substr(i + 6) + "|" + location;
  }
  return {};
}

SimAccess::SimAccess(std::string folder) : m_folder(std::move(folder)) {}

std::vector<DeviceInfo> SimAccess::Enumerate(Kind kind) {
  std::string folder = m_folder;
  if (folder.empty()) {
    const char* env = std::getenv("VOLINK_SIM_DIR");
    if (!env || !*env) return {};
    folder = env;
  }
  std::vector<fs::path> files;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(folder, ec)) {
    if (e.path().extension() == ".json") files.push_back(e.path());
  }
  std::sort(files.begin(), files.end());

  std::vector<DeviceInfo> out;
  for (const fs::path& file : files) {
    fs::path sock = file;
    sock.replace_extension(".sock");
    if (!fs::exists(sock, ec)) continue;
    std::string text;
    if (!ReadDescription(file, &text)) continue;
    try {
      const nlohmann::json j = nlohmann::json::parse(text);
      DeviceInfo d;
      if (!KindFromText(j.at("kind").get<std::string>(), &d.kind) || d.kind != kind) continue;
      d.backend = "emulator";
      d.vid = j.at("vid").get<uint16_t>();
      d.pid = j.at("pid").get<uint16_t>();
      d.interfaceNumber = j.value("interface", -1);
      d.inSize = j.value("in_size", uint16_t{0});
      d.outSize = j.value("out_size", uint16_t{0});
      d.serial = j.value("serial", std::string());
      d.path = j.value("path", std::string());
      if (d.path.empty()) d.path = sock.string();
      const std::string location = j.value("location", std::string());
      d.locationId = SimLocationId(d.kind, location, d.path);
      d.device = SimDeviceOf(d.vid, d.pid, d.path, location);
      d.key = sock.string();
      out.push_back(std::move(d));
    } catch (const std::exception&) {
      continue;  // half-written or foreign file
    }
  }
  return out;
}

std::unique_ptr<IDevice> SimAccess::Open(const DeviceInfo& info, OpenResult* result) {
  OpenResult dummy;
  OpenResult& r = result ? *result : dummy;
  r = {};
  struct sockaddr_un addr {};
  addr.sun_family = AF_UNIX;
  if (info.key.size() >= sizeof addr.sun_path) {
    r = {OpenError::Other, "socket path too long"};
    return nullptr;
  }
  std::memcpy(addr.sun_path, info.key.c_str(), info.key.size() + 1);
  const int fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    r = {OpenError::Other, std::strerror(errno)};
    return nullptr;
  }
  if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    const int e = errno;
    ::close(fd);
    r = {e == EACCES ? OpenError::PermissionDenied
                     : (e == ENOENT || e == ECONNREFUSED) ? OpenError::Gone : OpenError::Other,
         std::strerror(e)};
    return nullptr;
  }
  uint8_t status = 0;
  ssize_t n = -1;
  if (WaitFor(fd, POLLIN, kOpenWaitMs)) {
    do n = ::recv(fd, &status, 1, MSG_DONTWAIT);
    while (n < 0 && errno == EINTR);
  }
  if (n != 1) {
    ::close(fd);
    r = {OpenError::Other, "no answer from the device"};
    return nullptr;
  }
  if (status != 1) {
    ::close(fd);
    r = {OpenError::Busy, OpenErrorText(OpenError::Busy)};
    return nullptr;
  }
  return std::make_unique<SimDevice>(fd, info);
}

}  // namespace usbdev
