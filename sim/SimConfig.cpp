#include "sim/SimConfig.h"

#include <nlohmann/json.hpp>

#include <limits>
#include <stdexcept>

namespace sim {
namespace {

using nlohmann::json;

uint64_t Number(const json& j, const char* key) {
  if (j.is_number_unsigned()) return j.get<uint64_t>();
  if (j.is_number_integer()) {
    const int64_t v = j.get<int64_t>();
    if (v < 0) throw std::runtime_error(std::string("negative value for \"") + key + "\"");
    return static_cast<uint64_t>(v);
  }
  if (j.is_string()) {
    const std::string s = j.get<std::string>();
    size_t used = 0;
    uint64_t v = 0;
    try {
      v = std::stoull(s, &used, 0);
    } catch (const std::exception&) {
      used = 0;
    }
    if (used == 0 || used != s.size())
      throw std::runtime_error(std::string("bad number \"") + s + "\" for \"" + key + "\"");
    return v;
  }
  throw std::runtime_error(std::string("\"") + key + "\" must be a number");
}

template <typename T>
void Take(const json& obj, const char* key, T& out) {
  auto it = obj.find(key);
  if (it == obj.end()) return;
  if constexpr (std::is_same_v<T, bool>) {
    if (!it->is_boolean()) throw std::runtime_error(std::string("\"") + key + "\" must be true or false");
    out = it->template get<bool>();
  } else if constexpr (std::is_same_v<T, std::string>) {
    if (!it->is_string()) throw std::runtime_error(std::string("\"") + key + "\" must be a string");
    out = it->template get<std::string>();
  } else {
    const uint64_t v = Number(*it, key);
    if (v > static_cast<uint64_t>(std::numeric_limits<T>::max()))
      throw std::runtime_error(std::string("value out of range for \"") + key + "\"");
    out = static_cast<T>(v);
  }
}

InterfaceConfig ParseInterface(const json& j, int generation) {
  if (!j.is_object()) throw std::runtime_error("an interface must be an object");
  InterfaceConfig ic;
  Take(j, "kind", ic.kind);
  if (ic.kind != "hid" && ic.kind != "bulk" && ic.kind != "legacy-bulk")
    throw std::runtime_error("interface kind must be \"hid\", \"bulk\" or \"legacy-bulk\"");
  ic.size = (ic.kind == "bulk" && generation > 0) ? 512 : 64;
  if (ic.kind == "hid") ic.number = 3;
  Take(j, "vid", ic.vid);
  Take(j, "pid", ic.pid);
  Take(j, "interface", ic.number);
  Take(j, "size", ic.size);
  if (ic.size < 16 || ic.size > 1024) throw std::runtime_error("interface size must lie between 16 and 1024");
  return ic;
}

AdapterConfig ParseAdapter(const json& j) {
  if (!j.is_object()) throw std::runtime_error("an adapter must be an object");
  AdapterConfig a;
  Take(j, "name", a.name);
  if (a.name.empty() || a.name.find_first_of("/ \t\n") != std::string::npos)
    throw std::runtime_error("adapter name must be a non-empty word");
  Take(j, "generation", a.generation);
  if (a.generation < 0 || a.generation > 2) throw std::runtime_error("generation must be 0, 1 or 2");
  a.pid = a.generation == 0 ? 0x511B : a.generation == 1 ? 0x5200 : 0x200A;
  Take(j, "pid", a.pid);
  Take(j, "firmware_version", a.firmwareVersion);
  Take(j, "revision", a.revision);
  if (a.revision.size() > 4) throw std::runtime_error("revision is at most 4 characters");
  Take(j, "chip_id", a.chipId);
  if (a.chipId == 0) a.chipId = DefaultChipId(a.generation);
  Take(j, "design_id", a.designId);
  Take(j, "pro", a.pro);
  Take(j, "adapter_id", a.adapterId);
  Take(j, "serial", a.serial);
  Take(j, "location", a.location);
  Take(j, "loader_version", a.loaderVersion);
  Take(j, "loader_current", a.loaderCurrent);
  Take(j, "flash_op_us", a.flashOpUs);
  if (a.flashOpUs > 10'000'000) throw std::runtime_error("flash_op_us is at most 10000000 (10 s)");
  Take(j, "loader_pid", a.loaderPid);
  if (a.loaderPid == 0) a.loaderPid = DefaultLoaderPid(McuClass(a.chipId));
  Take(j, "loader_report_size", a.loaderReportSize);
  if (a.loaderReportSize < 16 || a.loaderReportSize > 1024)
    throw std::runtime_error("loader_report_size must lie between 16 and 1024");
  Take(j, "ice_mode", a.iceMode);
  Take(j, "plugged", a.plugged);
  if (auto it = j.find("interfaces"); it != j.end()) {
    if (!it->is_array()) throw std::runtime_error("\"interfaces\" must be an array");
    for (const auto& ij : *it) a.interfaces.push_back(ParseInterface(ij, a.generation));
  } else {
    InterfaceConfig ic;
    if (a.generation == 2) {
      ic.kind = "bulk";
      ic.number = 3;
      ic.size = 512;
    } else {
      ic.kind = "hid";
      ic.number = a.generation == 1 ? 3 : 0;
    }
    a.interfaces.push_back(ic);
  }
  if (a.interfaces.empty()) throw std::runtime_error("an adapter needs at least one interface");
  for (size_t i = 0; i < a.interfaces.size(); ++i)
    for (size_t k = 0; k < i; ++k)
      if (a.interfaces[i].kind == a.interfaces[k].kind && a.interfaces[i].number == a.interfaces[k].number)
        throw std::runtime_error("adapter \"" + a.name + "\" lists an interface twice");
  for (auto& ic : a.interfaces)
    if (ic.pid == 0) ic.pid = a.pid;
  if (auto it = j.find("target"); it != j.end()) {
    if (!it->is_object()) throw std::runtime_error("\"target\" must be an object");
    Take(*it, "kind", a.target.kind);
    if (a.target.kind == "8051") a.target.chip = "GX8051T24";
    Take(*it, "chip", a.target.chip);
    Take(*it, "cpu", a.target.cpu);
    Take(*it, "present", a.target.present);
    Take(*it, "machine", a.target.machine);
    Take(*it, "firmware", a.target.firmware);
    Take(*it, "program", a.target.program);
    if (a.target.kind != "cortex-m" && a.target.kind != "8051" && a.target.kind != "qemu" &&
        a.target.kind != "ucsim" && a.target.kind != "none")
      throw std::runtime_error("target kind must be \"cortex-m\", \"8051\", \"qemu\", \"ucsim\" or \"none\"");
  }
  return a;
}

}  // namespace

SimConfig ParseConfig(const std::string& jsonText) {
  json root;
  try {
    root = json::parse(jsonText);
  } catch (const json::exception& e) {
    throw std::runtime_error(std::string("configuration is not valid JSON: ") + e.what());
  }
  if (!root.is_object()) throw std::runtime_error("configuration must be a JSON object");
  auto it = root.find("adapters");
  if (it == root.end() || !it->is_array()) throw std::runtime_error("configuration needs an \"adapters\" array");
  SimConfig cfg;
  for (const auto& aj : *it) cfg.adapters.push_back(ParseAdapter(aj));
  for (size_t i = 0; i < cfg.adapters.size(); ++i)
    for (size_t k = 0; k < i; ++k)
      if (cfg.adapters[i].name == cfg.adapters[k].name)
        throw std::runtime_error("adapter name \"" + cfg.adapters[i].name + "\" is used twice");
  return cfg;
}

std::string DemoConfigJson() {
  return R"({
  "adapters": [
    {
      "name": "demo",
      "generation": 1,
      "pid": "0x5200",
      "firmware_version": 7973,
      "revision": "r",
      "chip_id": "0x00D4851F",
      "design_id": 1,
      "pro": true,
      "adapter_id": "0x7788A1B2",
      "serial": "A1B2C3D4",
      "location": "1-4.2",
      "interfaces": [
        { "kind": "hid", "interface": 3, "size": 64 },
        { "kind": "bulk", "interface": 0, "size": 512 }
      ],
      "target": { "kind": "cortex-m", "chip": "GX32M412VE", "cpu": "m4" }
    }
  ]
}
)";
}

SimConfig DemoConfig() { return ParseConfig(DemoConfigJson()); }

SimConfig QemuDemoConfig() {
  SimConfig c = DemoConfig();
  c.adapters[0].target = TargetConfig{};
  c.adapters[0].target.kind = "qemu";
  c.adapters[0].target.machine = "lm3s6965evb";
  return c;
}

uint32_t DefaultChipId(int generation) {
  switch (generation) {
    case 0: return 0x40012009;
    case 1: return 0x00D4851F;
    default: return 0xA2000340;
  }
}

int McuClass(uint32_t chipId) {
  if ((chipId & 0xFFFFF000u) == 0x00D48000u) return (chipId == 0x00D4851F || chipId == 0x00D4874F) ? 2 : 4;
  if ((chipId >> 16) == 0x0001 || (chipId >> 16) == 0x3001) return 0;
  if ((chipId >> 16) == 0x4001) return 1;
  if (chipId == 0xA2000340) return 3;
  return 4;
}

uint16_t DefaultLoaderPid(int mcuClass) {
  switch (mcuClass) {
    case 0: return 0xA316;
    case 1: return 0xA320;
    case 2: return 0x5211;
    default: return 0x200D;
  }
}

}  // namespace sim
