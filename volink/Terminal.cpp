#include "volink/Terminal.h"

#include <unistd.h>

#include <algorithm>
#include <iostream>

namespace volink {

Terminal::Terminal(std::istream& in, std::ostream& err, bool canAsk, bool barInPlace)
    : m_in(in), m_err(err), m_bCanAsk(canAsk), m_bBarInPlace(barInPlace) {}

Terminal::Terminal(std::ostream& err)
    : Terminal(std::cin, err, ::isatty(STDIN_FILENO) == 1, ::isatty(STDERR_FILENO) == 1) {}

Terminal::~Terminal() { EndBar(); }

IUserInteraction::Answer Terminal::MessageBox(const std::string&, const std::string& text, Icon, Buttons buttons,
                                              void*) {
  Say(text);
  return buttons == Buttons::YesNo ? Answer::No : buttons == Buttons::OkCancel ? Answer::Cancel : Answer::Ok;
}

int Terminal::SelectBox(const std::string&, const std::vector<std::string>&, int) { return -1; }

void Terminal::AdapterSelectDialog(IAdapterSelectDialog& dialog) {
  if (!m_bCanAsk) {
    DefaultAdapterSelectDialog(dialog);
    return;
  }
  const IAdapterSelectDialog::Form& form = dialog.Initialise([] {});
  if (form.messageVisible) {
    Say(form.message);
    dialog.Ok(-1);
    dialog.Finish();
    return;
  }
  EndBar();
  m_err << "Several adapters are connected (volink --adapter N blink shows which is which):\n";
  int count = 0;
  for (int i = 0; i < IAdapterSelectDialog::kButtons; ++i) {
    const IAdapterSelectDialog::Button& b = form.buttons[i];
    if (!b.visible) continue;
    count = i + 1;
    m_err << "  " << i << ": " << b.text << (b.enabled ? "" : "  (in use by another program)") << "\n";
  }
  m_err << "adapter number (0-" << count - 1 << "): " << std::flush;
  std::string line;
  int chosen = -1;
  if (std::getline(m_in, line)) {
    try {
      size_t used = 0;
      const int n = std::stoi(line, &used);
      if (used == line.size() && n >= 0 && n < count) chosen = n;
    } catch (const std::exception&) {
    }
  }
  // An adapter in use is taken as the answer: its owner refuses it, and
  // that refusal is the reason shown.
  if (chosen < 0)
    dialog.Cancel();
  else
    dialog.Ok(chosen);
  dialog.Finish();
}

void Terminal::Say(const std::string& text) {
  EndBar();
  m_err << text << "\n" << std::flush;
}

void Terminal::Prompt(const std::string& question) {
  EndBar();
  m_err << question << "\n[y/N] " << std::flush;
}

bool Terminal::ReadYes() {
  std::string line;
  return m_bCanAsk && std::getline(m_in, line) && !line.empty() && (line[0] == 'y' || line[0] == 'Y');
}

void Terminal::Stage(const std::string& text) {
  m_stage = text;
  std::replace(m_stage.begin(), m_stage.end(), '\n', ' ');
  if (m_bBarInPlace)
    Draw();
  else
    m_err << "  " << m_stage << "\n" << std::flush;
}

void Terminal::Progress(fwupdate::ProgressKind kind, int percent) {
  percent = std::clamp(percent, 0, 100);
  const bool changed = kind != m_kind || m_nPercent < 0 || percent / 10 != m_nPercent / 10;
  m_kind = kind;
  m_nPercent = percent;
  if (m_bBarInPlace)
    Draw();
  else if (changed)
    m_err << "  " << fwupdate::ProgressText(kind, percent) << "\n" << std::flush;
}

void Terminal::EndBar() {
  if (m_bDrawn) m_err << "\n" << std::flush;
  m_bDrawn = false;
}

fwupdate::Progress Terminal::ProgressSink() {
  fwupdate::Progress p;
  p.report = [this](fwupdate::ProgressKind kind, int percent) { Progress(kind, percent); };
  return p;
}

void Terminal::Draw() {
  const int percent = std::max(m_nPercent, 0);
  const int filled = percent * 40 / 100;
  m_err << "\r\033[K[" << std::string(filled, '#') << std::string(40 - filled, '-') << "] "
        << fwupdate::ProgressText(m_kind, percent) << "  " << m_stage << std::flush;
  m_bDrawn = true;
}

}  // namespace volink
