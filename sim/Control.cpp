// The control channel: one command a line, answered by zero or more lines of
// text and a last line "ok..." or "error: ...". README.md lists the commands.
#include <climits>
#include <cstdio>
#include <sstream>
#include <utility>
#include <vector>

#include "sim/Server.h"

namespace sim {
namespace {

constexpr const char* kHelp =
    "list\n"
    "status NAME\n"
    "leds NAME\n"
    "plug NAME [loader] | unplug NAME\n"
    "pin NAME PIN 0|1|z\n"
    "bridge NAME 0|1 0|1\n"
    "target NAME on|off\n"
    "mode NAME ice|mbed\n"
    "loader NAME | restart NAME\n"
    "delay NAME MS [COUNT]\n"
    "drop NAME [COUNT]\n"
    "stale NAME [COUNT]\n"
    "flag NAME CODE [COUNT]\n"
    "errq-fail NAME [COUNT]\n"
    "unplug-mid NAME\n"
    "hold NAME [INTERFACE] | release NAME [INTERFACE]\n"
    "timing NAME on|off\n"
    "settle NAME MS\n"
    "flash-time NAME US | flash-busy NAME on|off | flash-lock NAME on|off\n"
    "clear NAME\n"
    "stats\n"
    "violations [clear]\n";

// Ranges of the numbers a command takes; anything outside is refused.
constexpr long long kMaxCount = INT_MAX;
constexpr long long kMaxMilliseconds = 24LL * 3600 * 1000;  // one day
constexpr long long kMaxCode = 0xFFFFFFFFLL;
constexpr long long kMaxInterface = 255;

// A decimal or 0x number, whole word, within [0, max].
bool ToNumber(const std::string& s, long long max, long long& out) {
  if (s.empty() || s[0] == '-' || s[0] == '+') return false;
  try {
    size_t used = 0;
    out = std::stoll(s, &used, 0);
    return used == s.size() && out >= 0 && out <= max;
  } catch (const std::exception&) {
    return false;  // not a number, or beyond even long long
  }
}

}  // namespace

std::string Server::Control(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> w;
  for (std::string s; in >> s;) w.push_back(s);
  if (w.empty()) return "error: empty command\n";
  const std::string& cmd = w[0];
  if (cmd == "help") return std::string(kHelp) + "ok\n";
  if (cmd == "stats" && w.size() == 1) {
    const ServerStats st = Stats();
    char buf[200];
    std::snprintf(buf, sizeof buf, "ok connections %zu queued %zu peak-queued %zu accept-failures %llu wakeups %llu\n",
                  st.connections, st.queued, st.peakQueued, static_cast<unsigned long long>(st.acceptFailures),
                  static_cast<unsigned long long>(st.wakeups));
    return buf;
  }
  if (cmd == "violations" && w.size() == 1) return ViolationReport();
  if (cmd == "violations" && w.size() == 2 && w[1] == "clear") {
    m_violations.clear();
    m_violationLog.clear();
    return "ok violations 0\n";
  }
  if (cmd == "list") {
    std::string out;
    for (auto& a : m_adapters)
      out += a->Name() + (a->Plugged() ? " plugged " : " unplugged ") +
             (a->CurrentMode() == Adapter::Mode::Loader ? "loader" : "application") + "\n";
    return out + "ok\n";
  }
  if (w.size() < 2) return "error: " + cmd + " needs an adapter name\n";
  const int ai = FindAdapter(w[1]);
  if (ai < 0) return "error: no adapter \"" + w[1] + "\"\n";
  Adapter& a = *m_adapters[static_cast<size_t>(ai)];
  Faults& f = a.GetFaults();
  long long n = 1, v = 0;
  auto count = [&](size_t i) -> bool {
    n = 1;
    return w.size() <= i + 1 && (w.size() <= i || ToNumber(w[i], kMaxCount, n));
  };

  if (cmd == "status") {
    char buf[200];
    std::snprintf(buf, sizeof buf, "ok %s %s version %u adapter-id 0x%08x ready %d\n",
                  a.Plugged() ? "plugged" : "unplugged",
                  a.CurrentMode() == Adapter::Mode::Loader ? "loader" : "application", a.FirmwareVersion(),
                  a.Mcu().AdapterId(), a.Mcu().Ready() ? 1 : 0);
    return buf;
  }
  if (cmd == "leds" && w.size() == 2) {
    // The recent changes, oldest first, with their age in milliseconds.
    const AdapterMcu& mcu = a.Mcu();
    const auto now = SimClock::now();
    std::string out;
    char buf[120];
    for (const AdapterMcu::LedChange& c : mcu.LedLog()) {
      const long long age = std::chrono::duration_cast<std::chrono::milliseconds>(now - c.when).count();
      std::snprintf(buf, sizeof buf, "-%lld ms leds 0x%x\n", age, c.leds);
      out += buf;
    }
    std::snprintf(buf, sizeof buf, "ok leds 0x%x changes %llu\n", mcu.Leds(),
                  static_cast<unsigned long long>(mcu.LedChanges()));
    return out + buf;
  }
  if (cmd == "unplug") {
    if (a.Plugged()) {
      a.SetPlugged(false);
      Replug(static_cast<size_t>(ai));
    }
    return "ok\n";
  }
  if (cmd == "plug" && (w.size() == 2 || (w.size() == 3 && w[2] == "loader"))) {
    if (!a.Plugged()) {
      // Power comes back: the boot loader starts the application when it is
      // valid, unless the adapter is plugged in with its key held ("loader").
      a.SetPlugged(true);
      a.PowerOn(w.size() == 3);
      Replug(static_cast<size_t>(ai));
    }
    return "ok\n";
  }
  if (cmd == "loader" || cmd == "restart") {
    a.RestartInto(cmd == "loader" ? Adapter::Mode::Loader : Adapter::Mode::Application);
    Replug(static_cast<size_t>(ai));
    return "ok\n";
  }
  if (cmd == "pin" && w.size() == 4) {
    const int level = w[3] == "z" ? -1 : w[3] == "1" ? 1 : w[3] == "0" ? 0 : -2;
    if (level == -2) return "error: level must be 0, 1 or z\n";
    if (!a.GetTarget() || !a.GetTarget()->DrivePin(w[2], level)) return "error: no pin \"" + w[2] + "\"\n";
    return "ok\n";
  }
  if (cmd == "bridge" && w.size() == 4) {
    if ((w[2] != "0" && w[2] != "1") || (w[3] != "0" && w[3] != "1")) return "error: bridge NAME 0|1 0|1\n";
    a.GetFirmware().SetBridgeInput(w[2] == "1", w[3] == "1");
    return "ok\n";
  }
  if (cmd == "target" && w.size() == 3 && (w[2] == "on" || w[2] == "off")) {
    a.GetFirmware().SetTargetPresent(w[2] == "on");
    return "ok\n";
  }
  if (cmd == "mode" && w.size() == 3 && (w[2] == "ice" || w[2] == "mbed")) {
    a.Mcu().SetIceMode(w[2] == "ice");
    return "ok\n";
  }
  if (cmd == "delay" && w.size() >= 3 && ToNumber(w[2], kMaxMilliseconds, v) && count(3)) {
    f.delayMs = static_cast<int>(v);
    f.delayCount = static_cast<int>(n);
    return "ok\n";
  }
  // Faults that take only a count.
  static constexpr std::pair<const char*, int Faults::*> kCounted[] = {
      {"drop", &Faults::dropCount}, {"stale", &Faults::staleCount}, {"errq-fail", &Faults::errorQueryFailCount}};
  for (const auto& [name, counter] : kCounted)
    if (cmd == name && count(2)) {
      f.*counter = static_cast<int>(n);
      return "ok\n";
    }
  if (cmd == "flag" && w.size() >= 3 && ToNumber(w[2], kMaxCode, v) && count(3)) {
    f.flagCode = static_cast<uint32_t>(v);
    f.flagCount = static_cast<int>(n);
    return "ok\n";
  }
  if (cmd == "unplug-mid") {
    f.unplugMidTransfer = true;
    return "ok\n";
  }
  if ((cmd == "hold" || cmd == "release") && w.size() <= 3) {
    long long number = -1;
    if (w.size() == 3 && !ToNumber(w[2], kMaxInterface, number)) return "error: bad interface number\n";
    bool any = false;
    for (auto& ep : m_endpoints[static_cast<size_t>(ai)])
      if (ep.cfg.kind != "hid" && (number < 0 || ep.cfg.number == number)) {
        ep.held = cmd == "hold";
        any = true;
      }
    return any ? "ok\n" : "error: no bulk interface to " + cmd + "\n";
  }
  if (cmd == "timing" && w.size() == 3 && (w[2] == "on" || w[2] == "off")) {
    a.SetUsbTiming(w[2] == "on");
    return "ok\n";
  }
  if (cmd == "settle" && w.size() == 3 && ToNumber(w[2], kMaxMilliseconds, v)) {
    a.Mcu().SetSettleTime(std::chrono::milliseconds(v));
    return "ok\n";
  }
  if (cmd == "flash-time" && w.size() == 3 && ToNumber(w[2], 10'000'000, v)) {
    a.Mcu().SetFlashOpTime(std::chrono::microseconds(v));
    return "ok\n";
  }
  if ((cmd == "flash-busy" || cmd == "flash-lock") && w.size() == 3 && (w[2] == "on" || w[2] == "off")) {
    if (cmd == "flash-busy")
      a.Mcu().SetFlashStuck(w[2] == "on");
    else
      a.Mcu().SetUnlockRefused(w[2] == "on");
    return "ok\n";
  }
  if (cmd == "clear") {
    f = Faults{};
    return "ok\n";
  }
  return "error: unknown or malformed command \"" + line + "\" (try help)\n";
}

}  // namespace sim
