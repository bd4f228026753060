#include "support/UpdateSupport.h"

#include <fstream>
#include <optional>
#include <vector>

#include "fwupdate/FirmwareVersion.h"
#include "ice/CICE_M4.h"
#include "sim/Images.h"

namespace testsupport {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

const ClassCase kClasses[4] = {
    {"Class0", 0, "0x00012345", McuClass::First0},
    {"Class1", 0, "0x40012009", McuClass::First1},
    {"Class2", 1, "0x00D4851F", McuClass::Second},
    {"Class3", 2, "0xA2000340", McuClass::Third},
};

std::string UpdateConfig(const ClassCase& c, const std::string& extra, int count) {
  std::string adapters;
  for (int i = 0; i < count; ++i) {
    if (i) adapters += ", ";
    adapters += R"({"name": ")" + std::string(i ? "b" : "a") + R"(", "generation": )" +
                std::to_string(c.generation) + R"(, "chip_id": ")" + c.chipId +
                R"(", "firmware_version": 7000, "adapter_id": "0x7788BE0)" + std::to_string(i) +
                R"(", "location": "1-4.)" + std::to_string(i + 1) + R"(", "target": {"kind": "none"})" + extra + "}";
  }
  return R"({"adapters": [)" + adapters + "]}";
}

void WriteFile(const fs::path& path, const std::vector<uint8_t>& bytes) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

fs::path WriteUpdateImages(const std::string& simDir, bool fitting) {
  const fs::path dir = fs::path(simDir) / "Vo_Link";
  sim::images::WriteImageSet(dir);
  if (fitting) return dir;
  for (int c : {0, 2, 3}) WriteFile(dir / sim::images::FilesOf(c).app, sim::images::MakeAppImage(c, 7973, "r"));
  return dir;
}

fwupdate::UpdateOptions QuickUpdate(const fs::path& images) {
  fwupdate::UpdateOptions o;
  o.images.folder = images;
  o.timings.deviceWait = 10s;
  o.timings.poll = 20ms;
  o.timings.settle = 100ms;
  o.timings.retry = 50ms;
  return o;
}

namespace {
// The version handshake with the first adapter found; nothing when none
// answers.
std::optional<uint32_t> Ask(uint16_t four[4]) {
  CICE_M4 ice;
  ice.DiscoverAdapters(false);
  if (!ice.CheckUSBLink()) return std::nullopt;
  return ice.ResetCmdSerial(0xFFFFFFFF, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, four);
}
}  // namespace

uint32_t ReportedVersion() {
  uint16_t four[4] = {};
  return Ask(four).value_or(0);
}

std::string ReportedFirmware() {
  uint16_t four[4] = {};
  const std::optional<uint32_t> v = Ask(four);
  return v ? std::to_string(*v) + fwupdate::RevisionSuffix(four) : "";
}

}  // namespace testsupport
