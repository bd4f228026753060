#include "app/HeadlessInteraction.h"

#include <ostream>

#include "ice/AdapterSelection.h"
#include "ice/CICE.h"
#include "ice/CICEGlobalMutex.h"
#include "platform/StringTable.h"

namespace {
constexpr const char* kNoWindow = "no window to ask";
}

IUserInteraction::Answer CHeadlessUserInteraction::MessageBox(const std::string& caption, const std::string& text,
                                                              Icon, Buttons buttons, void*) {
  m_err << "gadrel: " << (caption.empty() ? "" : caption + ": ") << text << "\n";
  if (buttons == Buttons::Ok) return Answer::Ok;
  const Answer answer = buttons == Buttons::YesNo ? Answer::No : Answer::Cancel;
  m_err << "gadrel: answered " << (answer == Answer::No ? "No" : "Cancel") << " (" << kNoWindow << ")\n";
  return answer;
}

int CHeadlessUserInteraction::SelectBox(const std::string& title, const std::vector<std::string>& options, int) {
  if (options.empty()) return -1;
  m_err << "gadrel: " << title << ": nothing chosen (" << kNoWindow << ")\n";
  return -1;
}

void CHeadlessUserInteraction::AdapterSelectDialog(IAdapterSelectDialog& dialog) {
  const IAdapterSelectDialog::Form& form = dialog.Initialise([] {});
  if (form.messageVisible)
    m_err << "gadrel: " << form.message << "\n";
  else
    m_err << "gadrel: several adapters are connected; name one with --adapter N (volink list shows them)\n";
  dialog.Cancel();
  dialog.Finish();
}

bool CHeadlessUpdateUi::No(const std::string& question) {
  m_err << "gadrel: " << question << "\ngadrel: answered No (" << kNoWindow << "): the firmware is not updated\n";
  return false;
}

void CHeadlessUpdateUi::Tell(const std::string& text, Icon) { m_err << "gadrel: " << text << "\n"; }

bool CHeadlessUpdateUi::Ask(const std::string& text, Icon) { return No(text); }

bool CHeadlessUpdateUi::AskMessage(const std::string& text) { return No(text); }

bool CHeadlessUpdateUi::AskVersion(int firmwareVersion, int appVersion) {
  return No(std::string(text::kVersionNotMatched) + " (adapter firmware " + std::to_string(firmwareVersion) +
            ", program " + std::to_string(appVersion) + ")");
}

void CHeadlessUpdateUi::RunUpdate(fwupdate::CUpdateEngine&) { throw UpdateNotRun{}; }

void CHeadlessFirmwareCheck::Run(CICE& ice) {
  try {
    fwupdate::RunFirmwareCheck(ice, m_ui, fwupdate::CheckMode::Normal, false, m_options);
  } catch (const CHeadlessUpdateUi::UpdateNotRun&) {
    // An update due without a question (or an adapter waiting in its boot
    // loader): not without a window. The check closed the adapters before
    // the update; find them again as it does after one.
    m_err << "gadrel: the adapter firmware is not updated without a window\n";
    ice.CloseAllAdapters();
    ice.DiscoverAdapters(false);
  }
}

ice::AdapterSelector NamedAdapterSelector(unsigned number, std::ostream& err) {
  return [number, &err](CICE& c, CICEGlobalMutex& owner) -> int {
    const unsigned found = c.CheckUSBLink() ? c.GetDeviceCount() : 0;
    if (found == 0) {
      owner.ClearKey();
      return ice::kSelectNone;
    }
    if (number >= found) {
      owner.ClearKey();
      err << "gadrel: no adapter " << number << " (found " << found << ")\n";
      return ice::kSelectCancelled;
    }
    std::string error;
    const int result = ice::SelectAdapterNumber(c, owner, number, &error);
    if (result != ice::kSelectChosen)
      err << "gadrel: adapter " << number << ": " << (error.empty() ? "does not answer" : error) << "\n";
    return result;
  };
}
