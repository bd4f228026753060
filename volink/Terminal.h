// volink's terminal front end, the one place that talks to the user:
// messages and questions on standard error with answers read from standard
// input (when that is a terminal), the adapter choice as a numbered list,
// and the progress bar (percentage and stage) redrawn in place on a
// terminal, or a line for each new stage and each tenth otherwise.
#pragma once

#include <iosfwd>
#include <string>

#include "fwupdate/BootLoaderOps.h"
#include "ice/AdapterSelectDialog.h"

namespace volink {

class Terminal : public IAdapterUserInteraction {
 public:
  // Answers are read from `in`; `canAsk`: someone is there to give them;
  // `barInPlace`: `err` is a terminal.
  Terminal(std::istream& in, std::ostream& err, bool canAsk, bool barInPlace);
  // Standard input (asked when it is a terminal) and `err` (a bar in place
  // when standard error is a terminal).
  explicit Terminal(std::ostream& err);
  ~Terminal() override;
  Terminal(const Terminal&) = delete;
  Terminal& operator=(const Terminal&) = delete;

  // A message box: its text on a line; a question is answered No (Cancel).
  Answer MessageBox(const std::string& caption, const std::string& text, Icon icon, Buttons buttons,
                    void* owner) override;
  int SelectBox(const std::string& title, const std::vector<std::string>& options, int initialIndex) override;
  void PumpEvents() override {}
  // The adapters as a numbered list and a number read back. An adapter in
  // use by another program can be named too: taking it then says why not.
  void AdapterSelectDialog(IAdapterSelectDialog& dialog) override;

  // Whether there is someone to ask (standard input is a terminal).
  bool CanAsk() const { return m_bCanAsk; }
  // A line of text (the bar's line ended first).
  void Say(const std::string& text);
  // Shows `question` with "[y/N] " and returns without reading: the caller
  // gives the answer (ReadYes, or its own words).
  void Prompt(const std::string& question);
  // Reads the answer to the prompt: true when it starts with y or Y.
  bool ReadYes();
  // Where the caller writes the rest of an answer.
  std::ostream& Err() { return m_err; }

  // The progress bar.
  void Stage(const std::string& text);
  void Progress(fwupdate::ProgressKind kind, int percent);
  // Ends the bar's line before other text.
  void EndBar();
  // The bar as the boot-loader operations report to it.
  fwupdate::Progress ProgressSink();

 private:
  void Draw();

  std::istream& m_in;
  std::ostream& m_err;
  bool m_bCanAsk;
  bool m_bBarInPlace;
  bool m_bDrawn = false;
  std::string m_stage;
  fwupdate::ProgressKind m_kind = fwupdate::ProgressKind::Update;
  int m_nPercent = -1;
};

}  // namespace volink
