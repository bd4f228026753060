// The adapter-selection dialog: a view over the core's dialog state
// (IAdapterSelectDialog). It shows the form the core sets up, relays radio
// clicks, OK and Cancel, and ends as cancelled when the core's worker asks
// (the request arrives from the worker thread and is queued to this one).
#pragma once

#include <QDialog>
#include <array>

#include "ice/AdapterSelectDialog.h"

class QGroupBox;
class QLabel;
class QPushButton;
class QRadioButton;

class CDialogVoLinkSelect : public QDialog {
  Q_OBJECT
 public:
  // Sets the dialog up from `dialog` (which starts its worker).
  explicit CDialogVoLinkSelect(IAdapterSelectDialog& dialog, QWidget* parent = nullptr);
  // Stops the worker before the widgets go.
  ~CDialogVoLinkSelect() override;

  QRadioButton* Button(int i) const { return m_buttons[static_cast<size_t>(i)]; }
  QGroupBox* Group() const { return m_pGroup; }
  QLabel* Message() const { return m_pMessage; }
  QPushButton* OkButton() const { return m_pOk; }
  QPushButton* CancelButton() const { return m_pCancel; }

 public slots:
  void accept() override;
  void reject() override;

 private:
  IAdapterSelectDialog& m_dialog;
  std::array<QRadioButton*, IAdapterSelectDialog::kButtons> m_buttons{};
  QGroupBox* m_pGroup = nullptr;
  QLabel* m_pMessage = nullptr;
  QPushButton* m_pOk = nullptr;
  QPushButton* m_pCancel = nullptr;
};
