#include "sim/ControlClient.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "sim/Server.h"

namespace sim {

std::filesystem::path DefaultSimDir() {
  if (const char* d = std::getenv("VOLINK_SIM_DIR"); d && *d) return d;
  if (const char* r = std::getenv("XDG_RUNTIME_DIR"); r && *r) return std::filesystem::path(r) / "volink-sim";
  return "/tmp/volink-sim-" + std::to_string(::getuid());
}

std::string LastLine(const std::string& text) {
  std::string t = text;
  while (!t.empty() && t.back() == '\n') t.pop_back();
  const size_t start = t.rfind('\n');
  return start == std::string::npos ? t : t.substr(start + 1);
}

std::string SendControl(const std::filesystem::path& socketPath, const std::string& line) {
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  const std::string p = socketPath.string();
  if (p.size() >= sizeof(addr.sun_path)) throw std::runtime_error("socket path too long: " + p);
  std::memcpy(addr.sun_path, p.c_str(), p.size() + 1);
  Fd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!fd || ::connect(fd.Get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0)
    throw std::runtime_error("cannot reach the emulator at " + p + ": " + std::strerror(errno));
  timeval tv{5, 0};
  ::setsockopt(fd.Get(), SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  const std::string msg = line + "\n";
  if (::send(fd.Get(), msg.data(), msg.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(msg.size()))
    throw std::runtime_error("cannot send to the emulator");
  std::string answer;
  char buf[512];
  for (;;) {
    // Done when the last complete line starts with "ok" or "error".
    if (!answer.empty() && answer.back() == '\n') {
      const std::string last = LastLine(answer);
      if (last.rfind("ok", 0) == 0 || last.rfind("error", 0) == 0) return answer;
    }
    const ssize_t n = ::recv(fd.Get(), buf, sizeof buf, 0);
    if (n <= 0) throw std::runtime_error("no answer from the emulator");
    answer.append(buf, static_cast<size_t>(n));
  }
}

}  // namespace sim
