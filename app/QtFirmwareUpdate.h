// The firmware check of the window: its questions in the program's message
// and version dialogs, the update in CDialogUpdateFW, and the
// "FWUpdateOption" setting read through QSettings (organisation "Korvane").
#pragma once

#include <QPointer>
#include <QWidget>
#include <memory>

#include "app/CDialogUpdateFW.h"
#include "fwupdate/FirmwareCheck.h"
#include "fwupdate/UpdateUi.h"

class CQtUpdateUi : public fwupdate::IUpdateUi {
 public:
  explicit CQtUpdateUi(QWidget* owner = nullptr) : m_pOwner(owner) {}
  void SetOwner(QWidget* owner) { m_pOwner = owner; }
  // The message boxes of the update dialog's worker (tests answer here).
  void SetUpdateMessages(CDialogUpdateFW::ShowMessage show) { m_show = std::move(show); }

  void Tell(const std::string& text, Icon icon) override;
  bool Ask(const std::string& text, Icon icon) override;
  bool AskMessage(const std::string& text) override;
  bool AskVersion(int firmwareVersion, int appVersion) override;
  void RunUpdate(fwupdate::CUpdateEngine& engine) override;

 private:
  QPointer<QWidget> m_pOwner;
  CDialogUpdateFW::ShowMessage m_show;
};

// "FWUpdateOption" from the settings; 1 when missing or not a number.
int ReadUpdateOption();

// The check the pin view's adapter objects run when they take an adapter.
class CQtFirmwareCheck {
 public:
  explicit CQtFirmwareCheck(QWidget* owner);
  IFirmwareCheck* Check() { return &m_check; }
  CQtUpdateUi& Ui() { return m_ui; }
  fwupdate::FirmwareCheckOptions& Options() { return m_check.Options(); }

 private:
  CQtUpdateUi m_ui;
  fwupdate::CFirmwareCheck m_check;
};
