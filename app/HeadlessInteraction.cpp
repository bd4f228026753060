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
    m_err << "gadrel: " << text::kNameOneAdapter << "\n";
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

std::function<void(const ice::TakeResult&)> NamedAdapterReport(unsigned number, std::ostream& err) {
  return [number, &err](const ice::TakeResult& result) {
    switch (result.outcome) {
      case ice::TakeOutcome::NoSuchNumber:
      case ice::TakeOutcome::HiddenByBusy:
        err << "gadrel: " << result.reason << "\n";
        break;
      case ice::TakeOutcome::NotAnswering:
        err << "gadrel: adapter " << number << ": " << result.reason << "\n";
        break;
      default:
        break;
    }
  };
}
