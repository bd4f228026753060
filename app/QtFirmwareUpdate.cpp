#include "app/QtFirmwareUpdate.h"

#include <QMessageBox>
#include <QSettings>

#include "app/MessageDialogs.h"
#include "platform/StringTable.h"

namespace {

QMessageBox::Icon QtIcon(fwupdate::IUpdateUi::Icon icon) {
  switch (icon) {
    case fwupdate::IUpdateUi::Icon::Stop: return QMessageBox::Critical;
    case fwupdate::IUpdateUi::Icon::Warning: return QMessageBox::Warning;
    case fwupdate::IUpdateUi::Icon::Question: return QMessageBox::Question;
    case fwupdate::IUpdateUi::Icon::Information: return QMessageBox::Information;
    default: return QMessageBox::NoIcon;
  }
}

}  // namespace

void CQtUpdateUi::Tell(const std::string& text, Icon icon) {
  QMessageBox box(QtIcon(icon), QString::fromStdString(GadrelTitle()), QString::fromStdString(text), QMessageBox::Ok,
                  m_pOwner);
  box.exec();
}

bool CQtUpdateUi::Ask(const std::string& text, Icon icon) {
  QMessageBox box(QtIcon(icon), QString::fromStdString(GadrelTitle()), QString::fromStdString(text),
                  QMessageBox::Yes | QMessageBox::No, m_pOwner);
  box.setDefaultButton(QMessageBox::No);
  return box.exec() == QMessageBox::Yes;
}

bool CQtUpdateUi::AskMessage(const std::string& text) {
  CDialogMessage dialog(text, MessageMode::YesNo, m_pOwner);
  dialog.exec();
  return dialog.Answer() == MessageAnswer::Yes;
}

bool CQtUpdateUi::AskVersion(int firmwareVersion, int appVersion) {
  CDialogVersion dialog(firmwareVersion, appVersion, CAboutDlg::kWebSite, m_pOwner);
  return dialog.exec() == QDialog::Accepted;
}

void CQtUpdateUi::RunUpdate(fwupdate::CUpdateEngine& engine) {
  CDialogUpdateFW dialog(engine, m_pOwner, m_show);
  dialog.exec();
}

int ReadUpdateOption() {
  // The value sits directly under the organisation, as a decimal text.
  const QSettings settings(QSettings::UserScope, QStringLiteral("Korvane"));
  const QVariant value = settings.value(QStringLiteral("FWUpdateOption"));
  if (!value.isValid()) return fwupdate::ParseUpdateOption(nullptr);
  const std::string text = value.toString().toStdString();
  return fwupdate::ParseUpdateOption(&text);
}

CQtFirmwareCheck::CQtFirmwareCheck(QWidget* owner)
    : m_ui(owner), m_check(m_ui, fwupdate::FirmwareCheckOptions{[] { return ReadUpdateOption(); }, {}}) {}
