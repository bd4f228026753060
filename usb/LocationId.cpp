#include "usb/LocationId.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <cstring>

namespace {

std::string Upper(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return s;
}

bool IsWord(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == '_';
}
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Consumes one or more word characters at `i`.
bool Word(const std::string& s, size_t& i) {
  const size_t start = i;
  while (i < s.size() && IsWord(s[i])) ++i;
  return i > start;
}
bool Literal(const std::string& s, size_t& i, const char* lit) {
  const size_t n = std::strlen(lit);
  if (s.compare(i, n, lit) != 0) return false;
  i += n;
  return true;
}

// Matches "USB<sep>VID_\w+&PID_\w+(&MI_\w+)?<sep>(\w&\w+)&.+" from `i` to the
// end of `s`; on success `loc` is the group in parentheses.
bool MatchFrom(const std::string& s, size_t i, char sep, std::string* loc) {
  const char head[] = {'U', 'S', 'B', sep, 'V', 'I', 'D', '_', '\0'};
  if (!Literal(s, i, head) || !Word(s, i) || !Literal(s, i, "&PID_") || !Word(s, i)) return false;
  if (s.compare(i, 4, "&MI_") == 0) {
    i += 4;
    if (!Word(s, i)) return false;
  }
  if (i >= s.size() || s[i] != sep) return false;
  ++i;
  const size_t g = i;
  if (i >= s.size() || !IsWord(s[i])) return false;
  ++i;
  if (!Literal(s, i, "&") || !Word(s, i)) return false;
  const size_t gEnd = i;
  if (!Literal(s, i, "&") || i >= s.size()) return false;
  *loc = s.substr(g, gEnd - g);
  return true;
}

// ".*" + the pattern above, matched against the upper-cased string; like a
// greedy ".*", the last place that matches wins.
std::string LocationAfter(const std::string& text, char sep) {
  const std::string s = Upper(text);
  std::string loc;
  for (size_t i = s.size(); i-- > 0;) {
    if (MatchFrom(s, i, sep, &loc)) return loc;
  }
  return {};
}

}  // namespace

bool IsUsbPortPath(const std::string& name) {
  size_t i = 0;
  auto digits = [&] {
    const size_t start = i;
    while (i < name.size() && IsDigit(name[i])) ++i;
    return i > start;
  };
  if (!digits() || i >= name.size() || name[i++] != '-' || !digits()) return false;
  while (i < name.size()) {
    if (name[i++] != '.' || !digits()) return false;
  }
  return true;
}

std::string LocationFromInstanceId(const std::string& instanceId) {
  return LocationAfter(instanceId, '\\');
}

std::string LocationFromInterfacePath(const std::string& interfacePath) {
  return LocationAfter(interfacePath, '#');
}

std::string UsbPortPathOfSysfs(const std::string& sysfsPath) {
  std::error_code ec;
  std::filesystem::path p = std::filesystem::canonical(sysfsPath, ec);
  if (ec) return {};
  for (; !p.empty() && p != p.root_path(); p = p.parent_path()) {
    const std::string name = p.filename().string();
    if (IsUsbPortPath(name)) return name;
  }
  return {};
}

std::vector<SerialPortRecord> ListSerialPorts(const std::string& sysRoot) {
  namespace fs = std::filesystem;
  std::vector<SerialPortRecord> out;
  std::error_code ec;
  std::vector<std::pair<int, std::string>> found;
  for (const auto& e : fs::directory_iterator(fs::path(sysRoot) / "class" / "tty", ec)) {
    const std::string name = e.path().filename().string();
    if (name.size() <= 6 || name.compare(0, 6, "ttyACM") != 0 ||
        !std::all_of(name.begin() + 6, name.end(), IsDigit))
      continue;
    const std::string loc = UsbPortPathOfSysfs((e.path() / "device").string());
    if (loc.empty()) continue;
    found.emplace_back(std::atoi(name.c_str() + 6), loc);
  }
  std::sort(found.begin(), found.end());
  for (auto& [n, loc] : found) out.push_back({loc, n});
  return out;
}

bool SerialPortFromWindows(const std::string& friendlyName, const std::string& instanceId,
                           SerialPortRecord* out) {
  // ".+[(]COM(\d+)[)]" on the upper-cased name
  const std::string name = Upper(friendlyName);
  if (name.size() < 2 || name.back() != ')') return false;
  size_t d = name.size() - 1;
  while (d > 0 && IsDigit(name[d - 1])) --d;
  if (d == name.size() - 1 || d < 5 || name.compare(d - 4, 4, "(COM") != 0) return false;
  std::string loc;
  const std::string id = Upper(instanceId);
  bool matched = false;
  for (size_t i = id.size(); i-- > 0 && !matched;) matched = MatchFrom(id, i, '\\', &loc);
  if (!matched) return false;
  out->locationId = loc;
  out->comPort = std::atoi(name.c_str() + d);
  return true;
}
