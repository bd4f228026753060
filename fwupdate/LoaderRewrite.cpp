#include "fwupdate/LoaderRewrite.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <thread>

#include "fwupdate/CHexBinFile.h"
#include "ice/AdapterParts.h"
#include "ice/CICE.h"
#include "platform/StringTable.h"

namespace fwupdate {
namespace {

namespace fs = std::filesystem;

constexpr const char* kPrefix = "bootloader-";
constexpr size_t kMaxRecordBytes = 4096;  // a record is a few lines; anything larger is not ours

std::string IdText(uint32_t id) {
  char b[16];
  std::snprintf(b, sizeof b, "%08x", id);
  return b;
}

fs::path RecordPath(uint32_t id) { return RewriteRecordFolder() / (kPrefix + IdText(id)); }

bool ErasedId(uint32_t id) { return id == 0 || id == 0xFFFFFFFFu; }

// A value of a record line (no line breaks: serial numbers and locations
// come from devices).
std::string OneLine(std::string s) {
  for (char& c : s)
    if (c == '\n' || c == '\r') c = ' ';
  return s;
}

// The bytes of a record: a regular file of at most kMaxRecordBytes, opened
// without waiting (a FIFO in its place must not block the check).
std::optional<std::string> RecordBytes(const fs::path& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return std::nullopt;
  struct stat st {};
  std::string text;
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size <= static_cast<off_t>(kMaxRecordBytes)) {
    text.resize(kMaxRecordBytes + 1);
    size_t got = 0;
    for (ssize_t n; got < text.size() && (n = ::read(fd, text.data() + got, text.size() - got)) > 0;)
      got += static_cast<size_t>(n);
    text.resize(got);
  }
  ::close(fd);
  if (text.empty() || text.size() > kMaxRecordBytes) return std::nullopt;
  return text;
}

std::optional<PendingRewrite> ReadRecord(const fs::path& path) {
  const std::optional<std::string> bytes = RecordBytes(path);
  if (!bytes) return std::nullopt;
  const std::string& text = *bytes;
  PendingRewrite r;
  bool haveId = false, haveClass = false;
  unsigned configSeen = 0;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    const size_t space = line.find(' ');
    const std::string key = line.substr(0, space);
    const std::string value = space == std::string::npos ? "" : line.substr(space + 1);
    auto number = [&](uint32_t& out) {
      char* end = nullptr;
      const unsigned long v = std::strtoul(value.c_str(), &end, 16);
      if (value.empty() || *end != '\0' || v > 0xFFFFFFFFul) return false;
      out = static_cast<uint32_t>(v);
      return true;
    };
    uint32_t v = 0;
    if (key == "id" && number(v)) {
      r.adapterId = v;
      haveId = true;
    } else if (key == "class" && number(v) && v <= 3) {
      r.mcuClass = static_cast<McuClass>(v);
      haveClass = true;
    } else if (key == "runstate" && number(v)) {
      r.runState = v;
    } else if (key == "serial") {
      r.serial = value;
    } else if (key == "location") {
      r.location = value;
    } else if (key.rfind("config", 0) == 0 && key.size() > 6 && number(v)) {
      const unsigned i = static_cast<unsigned>(std::atoi(key.c_str() + 6));
      if (i < kConfigWords) {
        r.config[i] = v;
        ++configSeen;
      }
    }
  }
  if (!haveId || !haveClass || configSeen != kConfigWords) return std::nullopt;
  return r;
}

[[noreturn]] void CannotStore(const fs::path& path, const std::string& why) {
  throw CICEException("Can not write " + path.string() + ": " + why);
}

}  // namespace

fs::path RewriteRecordFolder() {
  const char* state = std::getenv("XDG_STATE_HOME");
  if (state && *state == '/') return fs::path(state) / "gadrel";
  const char* home = std::getenv("HOME");
  return fs::path(home && *home ? home : "/tmp") / ".local" / "state" / "gadrel";
}

void StorePendingRewrite(const PendingRewrite& r) {
  const fs::path path = RecordPath(r.adapterId);
  std::error_code ec;
  fs::create_directories(path.parent_path(), ec);
  if (ec) CannotStore(path.parent_path(), ec.message());
  std::ostringstream text;
  text << "id " << IdText(r.adapterId) << "\nclass " << ClassNumber(r.mcuClass) << "\nrunstate " << std::hex << r.runState
       << "\nserial " << OneLine(r.serial) << "\nlocation " << OneLine(r.location) << "\n";
  for (unsigned i = 0; i < kConfigWords; ++i) text << "config" << std::dec << i << " " << std::hex << r.config[i] << "\n";
  const std::string bytes = text.str();
  // Written beside and renamed over: a record is either whole or absent.
  const fs::path temp = path.string() + ".tmp";
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) CannotStore(temp, std::strerror(errno));
  const bool written = ::write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size()) && ::fsync(fd) == 0;
  const int error = errno;
  ::close(fd);
  if (!written || ::rename(temp.c_str(), path.c_str()) != 0) {
    ::unlink(temp.c_str());
    CannotStore(path, std::strerror(written ? errno : error));
  }
  if (const int dir = ::open(path.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
}

void RemovePendingRewrite(uint32_t adapterId) {
  std::error_code ec;
  fs::remove(RecordPath(adapterId), ec);
}

std::optional<PendingRewrite> FindPendingRewrite(uint32_t adapterId, const std::string& serial,
                                                 const std::string& location) {
  if (!ErasedId(adapterId)) {
    std::optional<PendingRewrite> r = ReadRecord(RecordPath(adapterId));
    return r && r->adapterId == adapterId ? r : std::nullopt;
  }
  // The ID word itself was erased: the adapter is known by its device.
  std::error_code ec;
  for (const fs::directory_entry& e : fs::directory_iterator(RewriteRecordFolder(), ec)) {
    const std::string name = e.path().filename().string();
    if (name.rfind(kPrefix, 0) != 0 || name.size() != std::strlen(kPrefix) + 8) continue;
    std::optional<PendingRewrite> r = ReadRecord(e.path());
    if (!r) continue;
    if ((!serial.empty() && r->serial == serial) || (!location.empty() && r->location == location)) return r;
  }
  return std::nullopt;
}

std::optional<uint32_t> RewriteBootLoader(CICE& ice, McuClass mcuClass, const BootLoaderImages& images,
                                          uint32_t adapterId, uint32_t runState, const RewriteSpans& spans,
                                          const Progress& progress, const FlashTimings& timings,
                                          const std::optional<ConfigWordSet>& config) {
  if (ErasedId(adapterId)) adapterId = NewAdapterId();
  PendingRewrite record;
  record.adapterId = adapterId;
  record.mcuClass = mcuClass;
  record.runState = runState;
  record.serial = SelectedSerial(ice);
  record.location = SelectedLocation(ice);
  record.config = config ? *config : ReadConfigWords(ice, mcuClass, timings);
  StorePendingRewrite(record);

  ConfigWordSet open = record.config, closed = record.config;
  open[0] = WithLoaderAccess(mcuClass, open[0], true);
  closed[0] = WithLoaderAccess(mcuClass, closed[0], false);
  if (ReadConfigWords(ice, mcuClass, timings) != open) WriteConfigWords(ice, mcuClass, open, timings);
  bool finished = false;
  try {
    if (EraseBootLoader(ice, mcuClass, spans.eraseBase, spans.eraseSpan, progress, timings)) {
      WriteBootLoader(ice, mcuClass, spans.writeBase, spans.writeSpan, images, adapterId, progress, timings);
      finished = !progress.stillCurrent || progress.stillCurrent();
    }
  } catch (...) {
    // Access is closed again whatever happened; the record stays.
    try {
      WriteConfigWords(ice, mcuClass, closed, timings);
    } catch (...) {
    }
    throw;
  }
  WriteConfigWords(ice, mcuClass, closed, timings);
  if (!finished) return std::nullopt;
  const BootLoaderCheck check = CheckBootLoader(ice, mcuClass, images, {}, timings);
  if (!check.matches || check.adapterId != adapterId) throw CICEException(text::kFlashCommandFailed);
  RemovePendingRewrite(adapterId);
  return adapterId;
}

HealResult HealInterruptedRewrite(CICE& ice, const ImageSource& source, const Progress& progress,
                                  const FlashTimings& timings, std::chrono::milliseconds readyWait) {
  uint32_t chipId = 0;
  ice.ResetCmdSerial(0xFFFFFFFF, &chipId);
  const McuClass mcuClass = ice::McuClassOf(chipId);
  if (!IsUpdatable(mcuClass)) return HealResult::NoRecord;
  const uint32_t id = ice.ReadAdapterId();
  const std::optional<PendingRewrite> record = FindPendingRewrite(id, SelectedSerial(ice), SelectedLocation(ice));
  if (!record) return HealResult::NoRecord;

  ImageObjects objects = MakeImageObjects(mcuClass);
  const bool second = HasSecondLoader(mcuClass);
  LoadFirmwareImages(&objects.loader, nullptr, second ? &objects.second : nullptr, mcuClass, source);
  const BootLoaderImages images{&objects.loader, second ? &objects.second : nullptr};
  ConfigWordSet closed = record->config;
  closed[0] = WithLoaderAccess(mcuClass, closed[0], false);

  HealResult result = HealResult::Matched;
  const BootLoaderCheck check = CheckBootLoader(ice, mcuClass, images, progress, timings);
  if (check.matches && check.adapterId == record->adapterId) {
    if (ReadConfigWords(ice, mcuClass, timings) != closed) WriteConfigWords(ice, mcuClass, closed, timings);
    RemovePendingRewrite(record->adapterId);
  } else {
    ice.SetAdapterRunState(1);
    if (!RewriteBootLoader(ice, mcuClass, images, record->adapterId, record->runState, {0, 50, 50, 50}, progress,
                           timings, record->config))
      return HealResult::Rewritten;
    result = HealResult::Rewritten;
  }
  const auto until = std::chrono::steady_clock::now() + readyWait;
  while (!ice.IsAdapterReady()) {
    if (std::chrono::steady_clock::now() >= until) throw CICEException(LOAD_STRING(IDS_USB_DISCONNECTED));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  ice.SetAdapterRunState(record->runState);
  return result;
}

std::string SelectedSerial(CICE& ice) {
  const int slot = ice.GetSelectedSlot();
  return slot < 0 ? std::string() : ice.Discovery().Transport(slot).GetSerialNumber();
}

std::string SelectedLocation(CICE& ice) {
  const int slot = ice.GetSelectedSlot();
  return slot < 0 ? std::string() : ice.Discovery().Transport(slot).GetLocationId();
}

}  // namespace fwupdate
