// `update`: the firmware check and update of the window on the command
// line. The adapter is taken as every command takes it, its firmware
// compared with the program's, the window's questions asked on the terminal
// (--yes answers Yes to each; without a terminal the default No is taken),
// and the update runs with the progress bar. Exit 0 when the adapter ends
// up with the program's firmware, 1 with the reason otherwise.
#include <chrono>
#include <cstdio>
#include <optional>
#include <ostream>
#include <thread>

#include "fwupdate/FirmwareCheck.h"
#include "fwupdate/FirmwareVersion.h"
#include "fwupdate/LDUsbHid.h"
#include "fwupdate/UpdateUi.h"
#include "ice/CICE.h"
#include "ice/CICE_M4.h"
#include "platform/StringTable.h"
#include "volink/Adapter.h"
#include "volink/Handlers.h"
#include "volink/Invocation.h"
#include "volink/Terminal.h"

using namespace fwupdate;

namespace volink {
namespace {

// The update's questions and progress on the terminal, with the policy of a
// command line: --yes answers them, waits for an adapter that went away
// instead of asking, and stops asking after repeated failures.
class UpdateFrontEnd : public IUpdateUi, public IUpdateFeedback {
 public:
  UpdateFrontEnd(Terminal& terminal, bool yes, const UpdateTimings& timings)
      : m_terminal(terminal), m_bYes(yes), m_timings(timings) {}

  // IUpdateUi
  void Tell(const std::string& text, IUpdateUi::Icon) override {
    m_terminal.Say(text);
    m_strLastMessage = text;
  }
  bool Ask(const std::string& text, IUpdateUi::Icon) override { return Question(text); }
  bool AskMessage(const std::string& text) override { return Question(text); }
  // The window's notice: its headline, then its message.
  bool AskVersion(int firmwareVersion, int appVersion) override {
    char message[512];
    std::snprintf(message, sizeof message, text::kFirmwareHigher, firmwareVersion, appVersion);
    return Question(std::string(text::kVersionNotMatched) + "\n" + message);
  }
  void RunUpdate(CUpdateEngine& engine) override {
    m_terminal.Say("updating the adapter firmware");
    m_result = engine.Run(*this);
    m_terminal.EndBar();
    if (engine.WrittenVersion()) m_written = engine.WrittenVersion();
    if (m_result != UpdateResult::Finished) ++m_nFailedRuns;
    if (m_result == UpdateResult::Failed) m_strLastMessage = engine.LastError();
  }

  // IUpdateFeedback
  void Status(const std::string& text) override { m_terminal.Stage(text); }
  void Progress(ProgressKind kind, int percent) override { m_terminal.Progress(kind, percent); }
  void Message(const std::string& text, IUpdateFeedback::Icon icon) override { Tell(text, icon); }
  bool Current() override { return true; }

  const std::string& LastMessage() const { return m_strLastMessage; }
  bool Declined() const { return m_bDeclined; }
  // The version of the application image an update wrote last.
  std::optional<uint32_t> Written() const { return m_written; }

 private:
  bool Question(const std::string& question) {
    m_terminal.Prompt(question);
    std::ostream& err = m_terminal.Err();
    // Without someone to ask, stopping is the answer to the abort question.
    const bool abortQuestion = question == LOAD_STRING(IDS_CONFIRM_ABORT_UPDATE);
    bool yes = false;
    if (m_nFailedRuns >= kMaxFailedRuns) {
      // Not the user's answer: the reason of the failures stays the last word.
      yes = abortQuestion;
      err << (yes ? "yes" : "no") << " (the update failed " << m_nFailedRuns << " times)\n";
      return yes;
    } else if (m_bYes && question == LOAD_STRING(IDS_DEVICE_TEMPORARILY_DETACHED)) {
      err << "waiting for the adapter ...\n" << std::flush;
      yes = WaitForDevice();
      err << (yes ? "yes (it is back)\n" : "no (it did not come back)\n");
    } else if (m_bYes) {
      err << "yes (--yes)\n";
      yes = true;
    } else if (m_terminal.CanAsk()) {
      yes = m_terminal.ReadYes();
    } else if (abortQuestion) {
      err << "yes (no terminal to ask)\n";
      yes = true;
    } else {
      err << "no (no terminal to ask; --yes answers yes)\n";
    }
    if (!yes) m_bDeclined = true;
    m_strLastMessage = question;
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

  Terminal& m_terminal;
  bool m_bYes;
  UpdateTimings m_timings;
  int m_nFailedRuns = 0;
  bool m_bDeclined = false;
  UpdateResult m_result = UpdateResult::Failed;
  std::string m_strLastMessage;
  std::optional<uint32_t> m_written;
};

struct Firmware {
  int version = 0;
  std::string suffix;
};

// The firmware of the adapter found now; none when nothing answers.
std::optional<Firmware> FindAdapter(CICE& ice) {
  try {
    if (!ice.CheckUSBLink()) {
      ice.CloseAllAdapters();
      ice.DiscoverAdapters(false);
      if (!ice.CheckUSBLink()) return std::nullopt;
    }
    uint16_t four[4] = {};
    Firmware f;
    f.version = static_cast<int>(
        ice.ResetCmdSerial(0xFFFFFFFF, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, four));
    f.suffix = RevisionSuffix(four);
    return f;
  } catch (const CICEException&) {
    return std::nullopt;
  }
}

}  // namespace

int UpdateCommand(Invocation& call) {
  FirmwareCheckOptions options;
  options.update.timings = call.settings.updateTimings;
  if (const std::optional<std::string> image = call.args.Option("--image"))
    options.update.images.applicationPath = *image;
  if (const std::optional<std::string> folder = call.args.Option("--images")) options.update.images.folder = *folder;
  // The command asks for the check: the setting that turns it off in the
  // window does not apply.
  options.readOption = [] { return 1; };

  UpdateFrontEnd ui(call.terminal, call.args.Flag("--yes"), call.settings.updateTimings);
  CFirmwareCheck check(ui, options);
  // An update needs the adapter alone on the bus: nobody is asked to choose.
  TakenAdapter adapter(call, std::make_unique<CICE_M4>(), {&check, false, false});
  const ice::TakeResult& taken = adapter.Result();
  switch (taken.outcome) {
    case ice::TakeOutcome::NobodyToAsk:
    case ice::TakeOutcome::Cancelled:
      call.err << "volink: " << LOAD_STRING(IDS_ONLY_ONE_ICE) << "\n";
      return 1;
    case ice::TakeOutcome::NoSuchNumber:
    case ice::TakeOutcome::HiddenByBusy:
    case ice::TakeOutcome::OwnedElsewhere:
      Refuse(taken, call);
    default:
      break;
  }
  const std::optional<Firmware> now = FindAdapter(adapter.Ice());
  adapter.Release();
  if (!now) {
    call.err << "volink: " << (ui.LastMessage().empty() ? text::kNoAdapter : ui.LastMessage()) << "\n";
    return 1;
  }
  if (now->version == kToolFirmwareVersion && now->suffix == kToolRevision) {
    call.out << "adapter firmware " << now->version << now->suffix << " is current\n";
    return 0;
  }
  // An image of another version, asked for and written.
  if (ui.Written() && static_cast<uint32_t>(now->version) == *ui.Written()) {
    call.out << "adapter firmware " << now->version << now->suffix << ", the version of the image\n";
    return 0;
  }
  call.err << "volink: adapter firmware " << now->version << now->suffix << ", not " << kToolFirmwareVersion
           << kToolRevision;
  if (ui.Declined())
    call.err << ": update declined";
  else if (!ui.LastMessage().empty())
    call.err << ": " << ui.LastMessage();
  call.err << "\n";
  return 1;
}

}  // namespace volink
