#include "usb/LocationId.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <regex>

namespace {

std::string Upper(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return s;
}

std::string SecondGroup(const std::string& s, const std::regex& re) {
  std::smatch m;
  const std::string up = Upper(s);
  if (!std::regex_match(up, m, re)) return {};
  return m[2].str();
}

bool IsPortPath(const std::string& name) {
  static const std::regex re(R"(\d+-\d+(\.\d+)*)");
  return std::regex_match(name, re);
}

}  // namespace

std::string LocationFromInstanceId(const std::string& instanceId) {
  static const std::regex re(R"(.*USB\\VID_\w+&PID_\w+(&MI_\w+)?\\(\w&\w+)&.+)");
  return SecondGroup(instanceId, re);
}

std::string LocationFromInterfacePath(const std::string& interfacePath) {
  static const std::regex re(R"(.*USB#VID_\w+&PID_\w+(&MI_\w+)?#(\w&\w+)&.+)");
  return SecondGroup(interfacePath, re);
}

std::string UsbPortPathOfSysfs(const std::string& sysfsPath) {
  std::error_code ec;
  std::filesystem::path p = std::filesystem::canonical(sysfsPath, ec);
  if (ec) return {};
  for (; !p.empty() && p != p.root_path(); p = p.parent_path()) {
    const std::string name = p.filename().string();
    if (IsPortPath(name)) return name;
  }
  return {};
}

std::vector<SerialPortRecord> ListSerialPorts(const std::string& sysRoot) {
  namespace fs = std::filesystem;
  std::vector<SerialPortRecord> out;
  std::error_code ec;
  static const std::regex acm(R"(ttyACM(\d+))");
  std::vector<std::pair<int, std::string>> found;
  for (const auto& e : fs::directory_iterator(fs::path(sysRoot) / "class" / "tty", ec)) {
    const std::string name = e.path().filename().string();
    std::smatch m;
    if (!std::regex_match(name, m, acm)) continue;
    const std::string loc = UsbPortPathOfSysfs((e.path() / "device").string());
    if (loc.empty()) continue;
    found.emplace_back(std::stoi(m[1].str()), loc);
  }
  std::sort(found.begin(), found.end());
  for (auto& [n, loc] : found) out.push_back({loc, n});
  return out;
}

bool SerialPortFromWindows(const std::string& friendlyName, const std::string& instanceId,
                           SerialPortRecord* out) {
  static const std::regex com(R"(.+[(]COM(\d+)[)])");
  std::smatch m;
  const std::string name = Upper(friendlyName);
  if (!std::regex_match(name, m, com)) return false;
  const std::string loc = LocationFromInstanceId(instanceId);
  static const std::regex inst(R"(.*USB\\VID_\w+&PID_\w+(&MI_\w+)?\\(\w&\w+)&.+)");
  if (!std::regex_match(Upper(instanceId), inst)) return false;
  out->locationId = loc;
  out->comPort = std::stoi(m[1].str());
  return true;
}
