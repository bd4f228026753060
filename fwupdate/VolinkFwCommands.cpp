#include "fwupdate/VolinkFwCommands.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ostream>
#include <stdexcept>
#include <thread>

#include "ice/AdapterParts.h"
#include "fwupdate/BootLoaderOps.h"
#include "fwupdate/CHexBinFile.h"
#include "fwupdate/FirmwareImages.h"
#include "fwupdate/LoaderRewrite.h"
#include "fwupdate/VolinkUpdate.h"
#include "ice/AdapterAcquire.h"
#include "ice/AdapterSelection.h"
#include "ice/CICEGlobalMutex.h"
#include "ice/CICE_M4.h"
#include "platform/StringTable.h"

using namespace fwupdate;

const char* const kVolinkFirmwareUsage =
    "  image FILE [--limit N] [--page N]   load a firmware image and print its sums\n"
    "  bootloader check DIR      compare the adapter's boot loader with DIR's images\n"
    "  bootloader id             the adapter ID from the boot-loader area\n"
    "  bootloader erase          erase the boot-loader area\n"
    "  bootloader write DIR      write DIR's boot-loader images, keeping the ID\n"
    "  update [--yes] [--image FILE] [--images DIR]\n"
    "                            check the adapter's firmware and update it\n";

namespace {

constexpr uint32_t kMaxImageLimit = 256u << 20;
constexpr uint32_t kMaxPage = 1u << 20;
constexpr auto kReadyWait = std::chrono::seconds(60);

struct UsageError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

uint32_t Number(const std::string& s, uint32_t min, uint32_t max) {
  try {
    size_t used = 0;
    const unsigned long long v = std::stoull(s, &used, 0);
    if (used == s.size() && v >= min && v <= max) return static_cast<uint32_t>(v);
  } catch (const std::exception&) {
  }
  throw UsageError("not a number from " + std::to_string(min) + " to " + std::to_string(max) + ": " + s);
}

std::string Hex(uint32_t v, int width = 8) {
  char b[16];
  std::snprintf(b, sizeof b, "0x%0*x", width, v);
  return b;
}

int Image(const std::vector<std::string>& a, std::ostream& out, std::ostream& err) {
  if (a.empty()) throw UsageError("image: no file");
  std::string file;
  uint32_t limit = kApplicationLimit, page = 4;
  for (size_t i = 0; i < a.size(); ++i) {
    if (a[i] == "--limit" && i + 1 < a.size()) {
      limit = Number(a[++i], 1, kMaxImageLimit);
    } else if (a[i] == "--page" && i + 1 < a.size()) {
      page = Number(a[++i], 1, kMaxPage);
    } else if (file.empty() && a[i].rfind("--", 0) != 0) {
      file = a[i];
    } else {
      throw UsageError("image: unexpected " + a[i]);
    }
  }
  if (file.empty()) throw UsageError("image: no file");
  CHexBinFile image(limit);
  if (!image.Load(file, 0xFF, page)) {
    err << "volink: " << image.Error() << "\n";
    return 1;
  }
  out << "file          " << file << "\n"
      << "format        " << (image.IsHex() ? "Intel HEX" : "binary") << "\n"
      << "start         " << Hex(image.StartAddress()) << "\n"
      << "size          " << image.Size() << "\n"
      << "page size     " << image.PageSize() << "\n"
      << "padded size   " << image.PaddedSize() << "\n"
      << "segments      " << image.Segments().size() << "\n";
  for (const CHexBinFile::Segment& s : image.Segments())
    out << "  " << Hex(s.start) << " " << s.length << "\n";
  out << "byte sum      " << Hex(image.ByteSum(), 4) << "\n"
      << "padded sum    " << Hex(image.PaddedByteSum(), 4) << "\n"
      << "crc8          " << Hex(image.Crc8(), 2) << "\n"
      << "crc32         " << Hex(image.Crc32()) << "\n"
      << "padded crc32  " << Hex(image.PaddedCrc32()) << "\n";
  return 0;
}

// Progress on standard error: a bar redrawn in place on a terminal, else a
// line at each quarter.
class ProgressOut {
 public:
  explicit ProgressOut(std::ostream& err) : m_err(err), m_tty(::isatty(STDERR_FILENO) == 1) {}
  ~ProgressOut() {
    if (m_tty && m_drawn) m_err << "\n";
  }
  Progress Sink() {
    Progress p;
    p.report = [this](ProgressKind kind, int percent) { Show(kind, percent); };
    return p;
  }

 private:
  void Show(ProgressKind kind, int percent) {
    percent = std::clamp(percent, 0, 100);
    const std::string text = ProgressText(kind, percent);
    if (m_tty) {
      const int filled = percent * 30 / 100;
      m_err << "\r[" << std::string(filled, '#') << std::string(30 - filled, ' ') << "] " << text << "   "
            << std::flush;
      m_drawn = true;
    } else if (kind != m_lastKind || percent / 25 != m_lastQuarter) {
      m_err << text << "\n";
    }
    m_lastKind = kind;
    m_lastQuarter = percent / 25;
  }

  std::ostream& m_err;
  bool m_tty;
  bool m_drawn = false;
  ProgressKind m_lastKind = ProgressKind::Read;
  int m_lastQuarter = -1;
};

// An adapter taken the way every program of the family takes one, owned
// until the object ends. `adapter` < 0: none named on the command line.
class OwnedAdapter {
 public:
  explicit OwnedAdapter(int adapter) {
    int state = ice::kSelectRetry;
    std::string idError;
    ice::AcquireAdapter(
        m_ice, m_owner,
        [&](CICE& c, CICEGlobalMutex& owner) {
          idError.clear();
          if (adapter < 0) return ice::SelectAdapter(c, owner, nullptr, &idError);
          std::vector<unsigned> index;
          const std::vector<uint32_t> ids = ice::CollectAdapterIds(c, &index, &idError);
          for (size_t i = 0; i < ids.size(); ++i) {
            if (index[i] != static_cast<unsigned>(adapter)) continue;
            ice::SelectAdapterIndex(c, index[i]);
            owner.SetKey(ids[i]);
            return static_cast<int>(ice::kSelectChosen);
          }
          owner.ClearKey();
          return static_cast<int>(ice::kSelectNone);
        },
        nullptr, state);
    if (state == ice::kSelectChosen && m_ice.CheckUSBLink()) return;
    if (state == ice::kSelectCancelled)
      throw std::runtime_error("several adapters are connected; name one with --adapter N (volink list shows them)");
    if (!idError.empty()) throw CICEException(idError);
    if (adapter >= 0 && m_ice.CheckUSBLink()) throw UsageError("no adapter " + std::to_string(adapter));
    throw CICEException("There is no Vo-Link connected to a USB port.");
  }
  ~OwnedAdapter() {
    try {
      ice::ReleaseAdapter(m_ice, m_owner);
    } catch (...) {
    }
  }
  OwnedAdapter(const OwnedAdapter&) = delete;
  OwnedAdapter& operator=(const OwnedAdapter&) = delete;
  CICE& Ice() { return m_ice; }

 private:
  CICEGlobalMutex m_owner;  // outlives the adapter layer's handles
  CICE_M4 m_ice;
};

// The adapter's firmware is busy after its boot loader changed; waits until
// it says it is ready again (bounded).
void WaitReady(CICE& ice) {
  const auto until = std::chrono::steady_clock::now() + kReadyWait;
  while (!ice.IsAdapterReady()) {
    if (std::chrono::steady_clock::now() >= until) throw CICEException(LOAD_STRING(IDS_USB_DISCONNECTED));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
}

int BootLoader(const std::vector<std::string>& a, int adapter, std::ostream& out, std::ostream& err) {
  if (a.empty()) throw UsageError("bootloader: no subcommand");
  const std::string& sub = a[0];
  const bool needsDir = sub == "check" || sub == "write";
  if (!(needsDir && a.size() == 2) && !((sub == "id" || sub == "erase") && a.size() == 1))
    throw UsageError("bootloader: check DIR | id | erase | write DIR");

  OwnedAdapter owned(adapter);
  CICE& ice = owned.Ice();
  uint32_t chipId = 0;
  ice.ResetCmdSerial(0xFFFFFFFF, &chipId);
  const int mcuClass = ice::McuClassOf(chipId);
  if (mcuClass > 3) throw CICEException("Unknown chip type!");

  if (sub == "id") {
    out << "adapter id " << Hex(ReadAdapterId(ice, mcuClass)) << "\n";
    return 0;
  }
  ImageObjects images = MakeImageObjects(mcuClass);
  const BootLoaderImages which{&images.loader, mcuClass >= 2 ? &images.second : nullptr};
  if (needsDir) LoadFirmwareImages(&images.loader, nullptr, which.second ? &images.second : nullptr, mcuClass,
                                   {a[1], ""});
  ProgressOut progress(err);
  if (sub == "check") {
    const BootLoaderCheck c = CheckBootLoader(ice, mcuClass, which, progress.Sink());
    out << "adapter id " << Hex(c.adapterId) << "\n"
        << (c.matches ? "boot loader matches the images\n" : "boot loader differs from the images\n");
    return c.matches ? 0 : 1;
  }
  uint32_t id = 0;
  if (sub == "write") id = CheckBootLoader(ice, mcuClass, which, progress.Sink()).adapterId;
  // The firmware is told that its boot loader is being rewritten, and its
  // run state is restored afterwards.
  const uint32_t runState = ice.GetAdapterRunState();
  ice.SetAdapterRunState(1);
  if (sub == "write") {
    // Kept in a record until the read-back matches: an interrupted write is
    // finished by the next check of this adapter.
    id = *RewriteBootLoader(ice, mcuClass, which, id, runState, {0, 50, 50, 50}, progress.Sink());
  } else {
    SetBootLoaderAccess(ice, mcuClass, true);
    EraseBootLoader(ice, mcuClass, 0, 100, progress.Sink());
    SetBootLoaderAccess(ice, mcuClass, false);
  }
  WaitReady(ice);
  ice.SetAdapterRunState(runState);
  if (sub == "write") out << "adapter id " << Hex(id) << "\n" << "boot loader written\n";
  else out << "boot loader erased\n";
  return 0;
}

}  // namespace

int RunVolinkFirmwareCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  int adapter = -1;
  size_t i = 0;
  // The options volink takes before its command.
  while (i + 1 < args.size() && (args[i] == "--adapter" || args[i] == "--core")) {
    if (args[i] == "--adapter") {
      try {
        adapter = static_cast<int>(Number(args[i + 1], 0, 255));
      } catch (const UsageError&) {
        return -1;  // volink's own parser says what is wrong
      }
    }
    i += 2;
  }
  if (i < args.size() && args[i] == "update")
    return RunVolinkUpdate(std::vector<std::string>(args.begin() + static_cast<std::ptrdiff_t>(i) + 1, args.end()),
                           out, err);
  if (i >= args.size() || (args[i] != "image" && args[i] != "bootloader")) return -1;
  const std::vector<std::string> rest(args.begin() + static_cast<std::ptrdiff_t>(i) + 1, args.end());
  try {
    return args[i] == "image" ? Image(rest, out, err) : BootLoader(rest, adapter, out, err);
  } catch (const UsageError& e) {
    err << "volink: " << e.what() << "\nusage:\n" << kVolinkFirmwareUsage;
    return 2;
  } catch (const std::exception& e) {
    err << "volink: " << e.what() << "\n";
    return 1;
  }
}
