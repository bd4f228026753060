// A small modal dialog that lets the user pick one of up to seven options.
#pragma once

#include <QDialog>
#include <array>
#include <string>
#include <vector>

class QRadioButton;
class QPushButton;

class CDialogSelectBox : public QDialog {
  Q_OBJECT
 public:
  static constexpr int kMaxOptions = 7;

  CDialogSelectBox(const std::string& title, int defaultIndex, const std::vector<std::string>& options,
                   QWidget* parent = nullptr);

  // The chosen option; meaningful after the dialog ended with OK. -1 when
  // there are no options.
  int Selection() const { return m_nSelection; }

  QRadioButton* Option(int i) const { return m_options[static_cast<size_t>(i)]; }
  QPushButton* OkButton() const { return m_pOk; }

 private:
  void OnOk();

  std::string m_strTitle;
  int m_nDefault = 0;
  int m_nSelection = -1;
  std::array<QRadioButton*, kMaxOptions> m_options{};
  QPushButton* m_pOk = nullptr;
};
