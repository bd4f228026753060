#include "fwupdate/VolinkUpdate.h"

#include <unistd.h>

#include <algorithm>
#include <iostream>
#include <optional>
#include <ostream>
#include <thread>

#include "fwupdate/FirmwareCheck.h"
#include "fwupdate/LDUsbHid.h"
#include "ice/AdapterSelection.h"
#include "ice/CICEGlobalMutex.h"
#include "ice/CICE_M4.h"
#include "platform/StringTable.h"

using namespace fwupdate;

namespace {

// Progress on standard error: on a terminal a bar redrawn in place with the
// percentage and the stage; otherwise a line for each new stage text and
// each tenth.
class TerminalProgress {
 public:
  explicit TerminalProgress(std::ostream& err) : m_err(err), m_tty(::isatty(STDERR_FILENO) == 1) {}

  void Stage(const std::string& text) {
    m_stage = text;
    std::replace(m_stage.begin(), m_stage.end(), '\n', ' ');
    if (m_tty) Draw();
    else m_err << "  " << m_stage << "\n" << std::flush;
  }
  void Percent(ProgressKind kind, int percent) {
    percent = std::clamp(percent, 0, 100);
    m_kind = kind;
    const bool changed = percent / 10 != m_percent / 10 || kind != m_lastKind;
    m_percent = percent;
    if (m_tty) Draw();
    else if (changed) m_err << "  " << ProgressText(kind, percent) << "\n" << std::flush;
    m_lastKind = kind;
  }
  // Ends the bar's line before other text.
  void Break() {
    if (m_tty && m_drawn) m_err << "\n";
    m_drawn = false;
  }

 private:
  void Draw() {
    const int filled = m_percent * 40 / 100;
    m_err << "\r\033[K[" << std::string(filled, '#') << std::string(40 - filled, '-') << "] "
          << ProgressText(m_kind, m_percent) << "  " << m_stage << std::flush;
    m_drawn = true;
  }

  std::ostream& m_err;
  bool m_tty;
  bool m_drawn = false;
  std::string m_stage;
  ProgressKind m_kind = ProgressKind::Update;
  ProgressKind m_lastKind = ProgressKind::Read;
  int m_percent = 0;
};

class TerminalUi : public IUpdateUi, public IUpdateFeedback {
 public:
  TerminalUi(std::ostream& err, bool yes, const UpdateTimings& timings)
      : m_err(err), m_progress(err), m_bYes(yes), m_timings(timings) {}

  // IUpdateUi
  void Tell(const std::string& text, IUpdateUi::Icon) override {
    m_progress.Break();
    m_err << text << "\n" << std::flush;
    m_strLastMessage = text;
  }
  bool Ask(const std::string& text, IUpdateUi::Icon) override { return Question(text); }
  bool AskMessage(const std::string& text) override { return Question(text); }
  bool AskVersion(int firmwareVersion, int appVersion) override {
    char text[512];
    std::snprintf(text, sizeof text,
                  "Application internal version is not matched!\n"
                  "The ICE firmware has higher version %d,\nwhile current applicaton version is %d.\n"
                  "The application may work abnormally.\n\n"
                  "Do you want to restore the old ICE firmware now?",
                  firmwareVersion, appVersion);
    return Question(text);
  }
  void RunUpdate(CUpdateEngine& engine) override {
    m_err << "updating the adapter firmware\n" << std::flush;
    m_result = engine.Run(*this);
    m_progress.Break();
    if (engine.WrittenVersion()) m_written = engine.WrittenVersion();
    if (m_result != UpdateResult::Finished) ++m_nFailedRuns;
    if (m_result == UpdateResult::Failed) m_strLastMessage = engine.LastError();
  }

  // IUpdateFeedback
  void Status(const std::string& text) override { m_progress.Stage(text); }
  void Progress(ProgressKind kind, int percent) override { m_progress.Percent(kind, percent); }
  void Message(const std::string& text, IUpdateFeedback::Icon icon) override { Tell(text, icon); }
  bool Current() override { return true; }

  const std::string& LastMessage() const { return m_strLastMessage; }
  bool Declined() const { return m_bDeclined; }
  // The version of the application image an update wrote last.
  std::optional<uint32_t> Written() const { return m_written; }

 private:
  bool Question(const std::string& text) {
    m_progress.Break();
    m_err << text << "\n[y/N] " << std::flush;
    // Without someone to ask, stopping is the answer to the abort question.
    const bool abortQuestion = text == LOAD_STRING(IDS_CONFIRM_ABORT_UPDATE);
    bool yes = false;
    if (m_nFailedRuns >= kMaxFailedRuns) {
      // Not the user's answer: the reason of the failures stays the last word.
      yes = abortQuestion;
      m_err << (yes ? "yes" : "no") << " (the update failed " << m_nFailedRuns << " times)\n";
      return yes;
    } else if (m_bYes && text == LOAD_STRING(IDS_DEVICE_TEMPORARILY_DETACHED)) {
      m_err << "waiting for the adapter ...\n" << std::flush;
      yes = WaitForDevice();
      m_err << (yes ? "yes (it is back)\n" : "no (it did not come back)\n");
    } else if (m_bYes) {
      m_err << "yes (--yes)\n";
      yes = true;
    } else if (::isatty(STDIN_FILENO) == 1) {
      std::string line;
      yes = std::getline(std::cin, line) && !line.empty() && (line[0] == 'y' || line[0] == 'Y');
    } else if (abortQuestion) {
      m_err << "yes (no terminal to ask)\n";
      yes = true;
    } else {
      m_err << "no (no terminal to ask; --yes answers yes)\n";
    }
    if (!yes) m_bDeclined = true;
    m_strLastMessage = text;
    return yes;
  }

  // An adapter or a boot loader present within the device wait.
  bool WaitForDevice() {
    const auto until = std::chrono::steady_clock::now() + m_timings.deviceWait;
    for (;;) {
      {
        CICE_M4 probe;
        probe.DiscoverAdapters(false);
        if (probe.CheckUSBLink()) return true;
      }
      LDUsbHid loader;
      if (loader.Connect()) return true;
      if (std::chrono::steady_clock::now() >= until) return false;
      std::this_thread::sleep_for(m_timings.poll);
    }
  }

  static constexpr int kMaxFailedRuns = 3;

  std::ostream& m_err;
  TerminalProgress m_progress;
  bool m_bYes;
  UpdateTimings m_timings;
  int m_nFailedRuns = 0;
  bool m_bDeclined = false;
  UpdateResult m_result = UpdateResult::Failed;
  std::string m_strLastMessage;
  std::optional<uint32_t> m_written;
};

struct Adapter {
  int version = 0;
  std::string suffix;
};

// The adapter found now, identified; none when nothing answers.
std::optional<Adapter> FindAdapter(CICE& ice) {
  try {
    if (!ice.CheckUSBLink()) {
      ice.CloseAllAdapters();
      ice.DiscoverAdapters(false);
      if (!ice.CheckUSBLink()) return std::nullopt;
    }
    uint16_t four[4] = {};
    Adapter a;
    a.version = static_cast<int>(ice.ResetCmdSerial(0xFFFFFFFF, nullptr, nullptr, nullptr, nullptr, nullptr,
                                                    nullptr, four));
    a.suffix = RevisionSuffix(four);
    return a;
  } catch (const CICEException&) {
    return std::nullopt;
  }
}

}  // namespace

int RunVolinkUpdate(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  return RunVolinkUpdate(args, out, err, UpdateTimings{});
}

int RunVolinkUpdate(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                    const UpdateTimings& timings) {
  bool yes = false;
  FirmwareCheckOptions options;
  options.update.timings = timings;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--yes" || args[i] == "-y") {
      yes = true;
    } else if (args[i] == "--image" && i + 1 < args.size()) {
      options.update.images.applicationPath = args[++i];
    } else if (args[i] == "--images" && i + 1 < args.size()) {
      options.update.images.folder = args[++i];
    } else {
      err << "volink: update: unexpected " << args[i] << "\nusage: volink update [--yes] [--image FILE] [--images DIR]\n";
      return 2;
    }
  }
  // The command asks for the check: the setting that turns it off in the
  // window does not apply.
  options.readOption = [] { return 1; };

  TerminalUi ui(err, yes, timings);
  CFirmwareCheck check(ui, options);
  CICEGlobalMutex owner;
  CICE_M4 ice;
  int state = ice::kSelectRetry;
  try {
    ice::AcquireAdapter(
        ice, owner, [](CICE& c, CICEGlobalMutex& o) { return ice::SelectAdapter(c, o, nullptr); }, &check, state);
  } catch (const std::exception& e) {
    err << "volink: " << e.what() << "\n";
    return 1;
  }
  if (state == ice::kSelectCancelled) {
    ice::ReleaseAdapter(ice, owner);
    err << "volink: " << LOAD_STRING(IDS_ONLY_ONE_ICE) << "\n";
    return 1;
  }
  const std::optional<Adapter> now = FindAdapter(ice);
  ice::ReleaseAdapter(ice, owner);
  if (!now) {
    err << "volink: " << (ui.LastMessage().empty() ? "There is no Vo-Link connected to a USB port." : ui.LastMessage())
        << "\n";
    return 1;
  }
  if (now->version == kToolFirmwareVersion && now->suffix == kToolRevision) {
    out << "adapter firmware " << now->version << now->suffix << " is current\n";
    return 0;
  }
  // An image of another version, asked for and written.
  if (ui.Written() && static_cast<uint32_t>(now->version) == *ui.Written()) {
    out << "adapter firmware " << now->version << now->suffix << ", the version of the image\n";
    return 0;
  }
  err << "volink: adapter firmware " << now->version << now->suffix << ", not " << kToolFirmwareVersion
      << kToolRevision;
  if (ui.Declined()) err << ": update declined";
  else if (!ui.LastMessage().empty()) err << ": " << ui.LastMessage();
  err << "\n";
  return 1;
}
