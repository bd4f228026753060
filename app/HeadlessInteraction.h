// The pin view without a user to ask (`--render`): nothing waits for an
// answer. Questions get the answer a dialog's Cancel or No would give, and
// say so on standard error; the adapter firmware is never updated; with
// several adapters the one named by `--adapter N` is taken, else the
// remembered choice when the selection rule finds it, else the program
// stops at once and says how to name one.
#pragma once

#include <functional>
#include <iosfwd>
#include <optional>

#include "fwupdate/FirmwareCheck.h"
#include "fwupdate/UpdateUi.h"
#include "ice/AdapterAcquire.h"
#include "ice/AdapterSelectDialog.h"

// Message boxes, the option list and the adapter-selection dialog of a
// program without a window.
class CHeadlessUserInteraction : public IAdapterUserInteraction {
 public:
  explicit CHeadlessUserInteraction(std::ostream& err) : m_err(err) {}
  Answer MessageBox(const std::string& caption, const std::string& text, Icon icon, Buttons buttons,
                    void* owner) override;
  int SelectBox(const std::string& title, const std::vector<std::string>& options, int initialIndex) override;
  void PumpEvents() override {}
  // The dialog would be shown: its error message, or how to name an
  // adapter; ends as cancelled, so the program stops.
  void AdapterSelectDialog(IAdapterSelectDialog& dialog) override;

 private:
  std::ostream& m_err;
};

// The firmware questions of a program without a window: answered No; an
// update that would run without a question is not run either.
class CHeadlessUpdateUi : public fwupdate::IUpdateUi {
 public:
  explicit CHeadlessUpdateUi(std::ostream& err) : m_err(err) {}
  void Tell(const std::string& text, Icon icon) override;
  bool Ask(const std::string& text, Icon icon) override;
  bool AskMessage(const std::string& text) override;
  bool AskVersion(int firmwareVersion, int appVersion) override;
  // Leaves the firmware check (throws UpdateNotRun).
  void RunUpdate(fwupdate::CUpdateEngine& engine) override;

  struct UpdateNotRun {};

 private:
  bool No(const std::string& question);
  std::ostream& m_err;
};

// The firmware check run when an adapter is taken, without a window: the
// version check and its notices as always, but no update.
class CHeadlessFirmwareCheck : public IFirmwareCheck {
 public:
  CHeadlessFirmwareCheck(std::ostream& err, fwupdate::FirmwareCheckOptions options)
      : m_err(err), m_ui(err), m_options(std::move(options)) {}
  void Run(CICE& ice) override;

 private:
  std::ostream& m_err;
  CHeadlessUpdateUi m_ui;
  fwupdate::FirmwareCheckOptions m_options;
};

// What `--adapter N` reports when adapter N was not taken: none found says
// nothing (the pin script tries again); found, but not N, or N does not
// answer: a line on `err` (not N also ends the selection as cancelled, so
// the program stops).
std::function<void(const ice::TakeResult&)> NamedAdapterReport(unsigned number, std::ostream& err);
