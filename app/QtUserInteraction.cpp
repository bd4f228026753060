#include "app/QtUserInteraction.h"

#include <QApplication>
#include <QMessageBox>

#include "app/CDialogSelectBox.h"
#include "app/CDialogVoLinkSelect.h"

QWidget* CQtUserInteraction::OwnerOf(const void* handle) const {
  if (handle != nullptr && handle == m_pOwnerHandle) return m_pOwnerWindow;
  return nullptr;
}

IUserInteraction::Answer CQtUserInteraction::MessageBox(const std::string& caption, const std::string& text,
                                                        Icon icon, Buttons buttons, void* owner) {
  QMessageBox::Icon qicon = QMessageBox::NoIcon;
  switch (icon) {
    case Icon::None: qicon = QMessageBox::NoIcon; break;
    case Icon::Information: qicon = QMessageBox::Information; break;
    case Icon::Warning: qicon = QMessageBox::Warning; break;
    case Icon::Question: qicon = QMessageBox::Question; break;
    case Icon::Stop: qicon = QMessageBox::Critical; break;
  }
  QMessageBox::StandardButtons qbuttons = QMessageBox::Ok;
  if (buttons == Buttons::YesNo) qbuttons = QMessageBox::Yes | QMessageBox::No;
  if (buttons == Buttons::OkCancel) qbuttons = QMessageBox::Ok | QMessageBox::Cancel;
  QMessageBox box(qicon, QString::fromStdString(caption), QString::fromStdString(text), qbuttons, OwnerOf(owner));
  switch (box.exec()) {
    case QMessageBox::Yes: return Answer::Yes;
    case QMessageBox::No: return Answer::No;
    case QMessageBox::Cancel: return Answer::Cancel;
    case QMessageBox::Ok: return Answer::Ok;
    default: return buttons == Buttons::YesNo ? Answer::No : buttons == Buttons::OkCancel ? Answer::Cancel : Answer::Ok;
  }
}

int CQtUserInteraction::SelectBox(const std::string& title, const std::vector<std::string>& options,
                                  int initialIndex) {
  if (options.empty()) return -1;
  CDialogSelectBox dialog(title, initialIndex, options, QApplication::activeWindow());
  return dialog.exec() == QDialog::Accepted ? dialog.Selection() : -1;
}

void CQtUserInteraction::PumpEvents() { QCoreApplication::processEvents(QEventLoop::AllEvents); }

void CQtUserInteraction::AdapterSelectDialog(IAdapterSelectDialog& dialog) {
  CDialogVoLinkSelect box(dialog, QApplication::activeWindow());
  box.exec();
}
