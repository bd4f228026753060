#include "sim/UcsimTarget.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "platform/ProgramInfo.h"

namespace sim {
namespace {

using Clock = std::chrono::steady_clock;
constexpr int kReplyMs = 3000;
constexpr size_t kMaxReply = 1u << 20;
constexpr uint32_t kSpaceCode = 0x00000000, kSpaceXram = 0x01000000, kSpaceIram = 0x02000000,
                   kSpaceSfr = 0x03000000, kProductIdAddress = 0x04000000;
constexpr uint32_t kCodeSize = 0x10000, kXramSize = 0x10000;

// A free local TCP port (the simulator binds it a moment later).
int FreePort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  int port = -1;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0)
    port = ntohs(a.sin_port);
  ::close(fd);
  return port;
}

int ConnectLocal(int port, int timeoutMs) {
  const auto until = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(port));
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) {
      const int one = 1;
      ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
      return fd;
    }
    ::close(fd);
    if (Clock::now() >= until) return -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

std::string Hex(uint32_t v) {
  char b[16];
  std::snprintf(b, sizeof b, "0x%x", v);
  return b;
}

}  // namespace

std::string BuiltUcsimFirmware() {
  std::error_code ec;
  const auto f = platform::FindProgramData("../firmware/blink51.ihx", "firmware/blink51.ihx");
  return std::filesystem::exists(f, ec) ? f.string() : std::string();
}

UcsimTarget::UcsimTarget(const std::string& firmware, const std::string& program) {
  const std::string image = firmware.empty() ? BuiltUcsimFirmware() : firmware;
  if (image.empty()) throw std::runtime_error("no firmware for the ucsim target (build it, or give \"firmware\")");
  if (!ProgramAvailable(program)) throw std::runtime_error(program + " is not installed");
  const int port = FreePort();
  if (port <= 0) throw std::runtime_error("no free local port for the simulator console");
  m_process = std::make_unique<ChildProcess>(
      std::vector<std::string>{program, "-b", "-P", "-t", "8051", "-Z", std::to_string(port), image});
  m_fd = ConnectLocal(port, 5000);
  if (m_fd < 0) throw std::runtime_error(program + " did not open its console");
  // Terminal negotiation and the greeting each end with a prompt byte; then
  // an empty line answers with one more.
  bool greeted = false;
  for (int i = 0; i < 4 && !greeted; ++i) {
    const auto chunk = ReadChunk(kReplyMs);
    if (!chunk) break;
    greeted = chunk->find("uCsim") != std::string::npos;
  }
  if (!greeted || !Command("")) throw std::runtime_error(program + " does not answer on its console");
  Continue();  // the chip runs its firmware from power-up
}

UcsimTarget::~UcsimTarget() {
  if (m_fd >= 0) ::close(m_fd);
}

// ---- console -----------------------------------------------------------------------

void UcsimTarget::Lost() {
  m_lost = true;
  if (m_fd >= 0) ::close(m_fd);
  m_fd = -1;
  m_running = m_paused = false;
  m_halted = true;
}

bool UcsimTarget::Send(const std::string& line) {
  if (m_lost) return false;
  const std::string data = line + "\n";
  if (::send(m_fd, data.data(), data.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(data.size())) {
    Lost();
    return false;
  }
  return true;
}

std::optional<std::string> UcsimTarget::ReadChunk(int timeoutMs, bool fatal) {
  const auto until = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    const size_t z = m_in.find('\0');
    if (z != std::string::npos) {
      std::string chunk = m_in.substr(0, z);
      m_in.erase(0, z + 1);
      return chunk;
    }
    if (m_lost) return std::nullopt;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count();
    pollfd p{m_fd, POLLIN, 0};
    const int r = ::poll(&p, 1, left > 0 ? static_cast<int>(left) : 0);
    if (r <= 0) {
      if (timeoutMs > 0 && fatal) Lost();  // a console that stays silent is a lost one
      return std::nullopt;
    }
    char buf[4096];
    const ssize_t n = ::recv(m_fd, buf, sizeof buf, 0);
    // Acknowledge at once: the console writes its answer in pieces and waits
    // for our acknowledgement between them.
    const int one = 1;
    ::setsockopt(m_fd, IPPROTO_TCP, TCP_QUICKACK, &one, sizeof one);
    if (n <= 0 || m_in.size() + static_cast<size_t>(n) > kMaxReply) {
      Lost();
      return std::nullopt;
    }
    m_in.append(buf, static_cast<size_t>(n));
  }
}

std::optional<std::string> UcsimTarget::Command(const std::string& line) {
  if (!Pause() || !Send(line)) return std::nullopt;
  return ReadChunk(kReplyMs);
}

bool UcsimTarget::Pause() {
  if (m_lost) return false;
  if (!m_running) return true;
  // Any input stops the simulation: an empty line, answered by the stop report.
  if (!Send("")) return false;
  const auto stop = ReadChunk(kReplyMs);
  if (!stop) return false;
  m_running = false;
  if (stop->find("Stop at") != std::string::npos && stop->find("User stopped") == std::string::npos) {
    // The core stopped on its own (a breakpoint) before our line came; that
    // line is then an empty command with a prompt of its own.
    m_halted = true;
    ReadChunk(500, false);
    return true;
  }
  m_paused = !m_halted;
  return true;
}

void UcsimTarget::Continue() {
  if (m_lost || m_running) return;
  if (!Send("run")) return;
  m_running = true;
  m_paused = false;
}

void UcsimTarget::PollStop() {
  if (!m_running || m_lost) return;
  const auto chunk = ReadChunk(0);
  if (!chunk) return;
  if (chunk->find("Stop at") != std::string::npos) {
    m_running = false;
    m_halted = true;
  }
}

void UcsimTarget::EndCommand() {
  if (m_paused && !m_halted) Continue();
  m_paused = false;
}

// ---- memory ----------------------------------------------------------------------

uint32_t UcsimTarget::Dump(const char* space, uint32_t start, std::span<uint8_t> out) {
  for (size_t done = 0; done < out.size();) {
    const size_t n = std::min<size_t>(256, out.size() - done);
    const uint32_t first = start + static_cast<uint32_t>(done);
    const auto r = Command(std::string("dump /h ") + space + " " + Hex(first) + " " +
                           Hex(first + static_cast<uint32_t>(n) - 1));
    if (!r) return kErrNoDevice;
    // Lines "0xADDR hh hh ... text": the bytes of the line, then its text column.
    std::istringstream lines(*r);
    std::string line;
    size_t got = 0;
    while (std::getline(lines, line) && got < n) {
      std::istringstream words(line);
      std::string addr;
      if (!(words >> addr) || addr.rfind("0x", 0) != 0) continue;
      const uint32_t at = static_cast<uint32_t>(std::strtoul(addr.c_str(), nullptr, 16));
      if (at != first + got) continue;  // the echoed command or other text
      const size_t onLine = std::min<size_t>(8, n - got);
      std::string byte;
      for (size_t i = 0; i < onLine && words >> byte; ++i) {
        if (byte.size() != 2 || !std::isxdigit(static_cast<unsigned char>(byte[0])) ||
            !std::isxdigit(static_cast<unsigned char>(byte[1])))
          break;
        out[done + got++] = static_cast<uint8_t>(std::strtoul(byte.c_str(), nullptr, 16));
      }
    }
    if (got != n) return kErrGetReg;
    done += n;
  }
  return kErrOk;
}

uint32_t UcsimTarget::Set(const char* space, uint32_t start, std::span<const uint8_t> data) {
  for (size_t done = 0; done < data.size();) {
    const size_t n = std::min<size_t>(32, data.size() - done);
    std::string line = std::string("set memory ") + space + " " + Hex(start + static_cast<uint32_t>(done));
    for (size_t i = 0; i < n; ++i) line += " " + Hex(data[done + i]);
    if (!Command(line)) return kErrNoDevice;
    done += n;
  }
  return kErrOk;
}

uint32_t UcsimTarget::Space(uint32_t a, size_t length, const char*& space, uint32_t& offset) const {
  const uint32_t base = a & 0xFF000000u;
  offset = a & 0x00FFFFFFu;
  uint32_t size = 0;
  switch (base) {
    case kSpaceCode: space = "rom"; size = kCodeSize; break;
    case kSpaceXram: space = "xram"; size = kXramSize; break;
    case kSpaceIram: space = "iram"; size = 0x100; break;
    case kSpaceSfr: space = "sfr"; size = 0x100; if (offset < 0x80) return kErrGetReg; break;
    default: return kErrGetReg;
  }
  if (offset > size || length > size - offset) return kErrGetReg;
  return kErrOk;
}

uint32_t UcsimTarget::ReadBytes(uint32_t a, std::span<uint8_t> out) {
  if (m_lost) return kErrNoDevice;
  PollStop();
  if (a == kProductIdAddress && out.size() <= 4) {
    for (size_t i = 0; i < out.size(); ++i) out[i] = static_cast<uint8_t>(kProductId >> (8 * i));
    return kErrOk;
  }
  const char* space = nullptr;
  uint32_t offset = 0;
  if (const uint32_t e = Space(a, out.size(), space, offset)) return e;
  return Dump(space, offset, out);
}

uint32_t UcsimTarget::WriteBytes(uint32_t a, std::span<const uint8_t> data) {
  if (m_lost) return kErrNoDevice;
  PollStop();
  const char* space = nullptr;
  uint32_t offset = 0;
  if (Space(a, data.size(), space, offset)) return kErrSetReg;
  if (a < kSpaceXram) return kErrOk;  // code changes only through the flash commands
  return Set(space, offset, data);
}

uint32_t UcsimTarget::ReadWord(uint32_t a, uint32_t& v) {
  uint8_t b[4];
  if (const uint32_t e = ReadBytes(a, b)) return e;
  std::memcpy(&v, b, 4);
  return kErrOk;
}

uint32_t UcsimTarget::WriteWord(uint32_t a, uint32_t v) {
  uint8_t b[4];
  std::memcpy(b, &v, 4);
  return WriteBytes(a, b);
}

// ---- registers and run control -----------------------------------------------------

uint32_t UcsimTarget::ReadReg(uint32_t index, uint32_t& value) {
  if (m_lost) return kErrNoDevice;
  PollStop();
  if (!m_halted) return kErrRegTimeout;
  uint8_t b[2] = {};
  uint32_t e = kErrOk;
  switch (index) {
    case 8: e = Dump("sfr", 0xE0, std::span(b, 1)); break;
    case 9: e = Dump("sfr", 0xF0, std::span(b, 1)); break;
    case 10: e = Dump("sfr", 0xD0, std::span(b, 1)); break;
    case 11: e = Dump("sfr", 0x81, std::span(b, 1)); break;
    case 12: e = Dump("sfr", 0x82, std::span(b, 2)); break;
    case 15: {
      const auto r = Command("pc");
      if (!r) return kErrNoDevice;
      // The last line that starts with an address is the instruction at the PC.
      std::istringstream lines(*r);
      std::string line, last;
      while (std::getline(lines, line))
        if (line.rfind("0x", 0) == 0) last = line;
      if (last.empty()) return kErrGetReg;
      value = static_cast<uint32_t>(std::strtoul(last.c_str(), nullptr, 16));
      return kErrOk;
    }
    default:
      if (index > 7) return kErrGetReg;
      if ((e = Dump("sfr", 0xD0, std::span(b, 1)))) return e;
      e = Dump("iram", (b[0] & 0x18u) + index, std::span(b, 1));
  }
  value = index == 12 ? static_cast<uint32_t>(b[0] | b[1] << 8) : b[0];
  return e;
}

uint32_t UcsimTarget::WriteReg(uint32_t index, uint32_t value) {
  if (m_lost) return kErrNoDevice;
  PollStop();
  if (!m_halted) return kErrRegTimeout;
  const uint8_t b[2] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8)};
  switch (index) {
    case 8: return Set("sfr", 0xE0, std::span(b, 1));
    case 9: return Set("sfr", 0xF0, std::span(b, 1));
    case 10: return Set("sfr", 0xD0, std::span(b, 1));
    case 11: return Set("sfr", 0x81, std::span(b, 1));
    case 12: return Set("sfr", 0x82, std::span(b, 2));
    case 15: return Command("pc " + Hex(value & 0xFFFF)) ? kErrOk : kErrNoDevice;
    default: {
      if (index > 7) return kErrSetReg;
      uint8_t psw = 0;
      if (const uint32_t e = Dump("sfr", 0xD0, std::span(&psw, 1))) return e;
      return Set("iram", (psw & 0x18u) + index, std::span(b, 1));
    }
  }
}

void UcsimTarget::Reset(bool halt) {
  if (!Command("reset")) return;
  m_halted = halt;
  m_paused = false;
  if (!halt) Continue();
}

void UcsimTarget::Halt() {
  PollStop();
  if (m_halted || !Pause()) return;
  m_halted = true;
  m_paused = false;
}

uint32_t UcsimTarget::Step() {
  if (m_lost) return kErrNoDevice;
  PollStop();
  if (!m_halted) return kErrMcuStop;
  return Command("step") ? kErrOk : kErrNoDevice;
}

void UcsimTarget::Run() {
  PollStop();
  if (!m_halted || !Pause()) return;
  // A run that starts on a breakpoint executes that instruction first.
  uint32_t pc = 0;
  if (ReadReg(15, pc) == kErrOk && m_ucsimBreaks.count(pc)) {
    if (!Command("step")) return;
    if (ReadReg(15, pc) == kErrOk && m_ucsimBreaks.count(pc)) return;  // stopped again at once
  }
  m_halted = false;
  Continue();
}

bool UcsimTarget::IsRunning() {
  PollStop();
  return !m_halted;
}

uint32_t UcsimTarget::Pc() {
  PollStop();
  if (!Pause()) return 0;
  const bool halted = m_halted;
  m_halted = true;  // the registers of a paused core read as those of a halted one
  uint32_t pc = 0;
  ReadReg(15, pc);
  m_halted = halted;
  return pc;
}

FlashGeometry UcsimTarget::Geometry() const { return {0, 16 * 1024, 128, kSpaceXram, 2048, kProductId}; }

uint32_t UcsimTarget::FlashProgram(uint32_t a, std::span<const uint8_t> data) {
  if (a > kCodeSize || data.size() > kCodeSize - a) return kErrFlashAddress;
  std::vector<uint8_t> now(data.size());
  if (Dump("rom", a, now)) return kErrWriteFlash;
  for (size_t i = 0; i < now.size(); ++i) now[i] &= data[i];
  return Set("rom", a, now) ? kErrWriteFlash : kErrOk;
}

uint32_t UcsimTarget::FlashRead(uint32_t a, std::span<uint8_t> out) {
  if (a > kCodeSize || out.size() > kCodeSize - a) return kErrFlashAddress;
  return Dump("rom", a, out) ? kErrReadFlash : kErrOk;
}

uint32_t UcsimTarget::FlashErasePage(uint32_t a) {
  if (a >= kCodeSize) return kErrFlashAddress;
  const std::vector<uint8_t> ff(128, 0xFF);
  return Set("rom", a & ~127u, ff) ? kErrPageErase : kErrOk;
}

uint32_t UcsimTarget::FlashEraseAll() {
  const std::vector<uint8_t> ff(128, 0xFF);
  for (uint32_t a = 0; a < 16 * 1024; a += 128)
    if (Set("rom", a, ff)) return kErrChipErase;
  return kErrOk;
}

uint32_t UcsimTarget::SetBreakpoint(uint32_t address, uint32_t position) {
  if (position < 1 || position > 8) return kErrUnimplemented;
  if (m_lost) return kErrNoDevice;
  PollStop();
  const uint32_t old = m_slots[position - 1];
  if (old == (address | 0x80000000u)) return kErrOk;  // bit 31: slot armed (address 0 is valid)
  if (old) ClearBreakpoint(old & 0xFFFF);
  m_slots[position - 1] = address | 0x80000000u;
  if (m_ucsimBreaks.count(address & 0xFFFF)) return kErrOk;
  const auto r = Command("break " + Hex(address & 0xFFFF));
  if (!r) return kErrNoDevice;
  const size_t at = r->find("Breakpoint ");
  if (at == std::string::npos) return kErrUnimplemented;
  m_ucsimBreaks[address & 0xFFFF] = std::atoi(r->c_str() + at + 11);
  return kErrOk;
}

uint32_t UcsimTarget::ClearBreakpoint(uint32_t address) {
  if (m_lost) return kErrNoDevice;
  PollStop();
  for (auto& s : m_slots)
    if (s && (s & 0xFFFF) == (address & 0xFFFF)) s = 0;
  bool stillArmed = false;
  for (uint32_t s : m_slots) stillArmed |= s && (s & 0xFFFF) == (address & 0xFFFF);
  const auto it = m_ucsimBreaks.find(address & 0xFFFF);
  if (stillArmed || it == m_ucsimBreaks.end()) return kErrOk;
  const int number = it->second;
  m_ucsimBreaks.erase(it);
  return Command("delete " + std::to_string(number)) ? kErrOk : kErrNoDevice;
}

}  // namespace sim
