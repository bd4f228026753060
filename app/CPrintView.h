// The output pane: a read-only text pane that keeps the last lines printed
// by scripts and error paths. Mouse buttons do nothing in it.
#pragma once

#include <QWidget>
#include <string_view>

class QPlainTextEdit;

class CPrintView : public QWidget {
  Q_OBJECT
 public:
  // Lines kept; older lines are dropped from the start.
  static constexpr int kMaxLines = 500;

  explicit CPrintView(QWidget* parent = nullptr);

  // Appends `text` (UTF-8, may hold line ends) at the end and scrolls to it.
  void AppendText(std::string_view text);

  QString Text() const;
  int LineCount() const;
  QPlainTextEdit* Edit() const { return m_pEdit; }

  // Swallows mouse-button events of the pane and its text control.
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QPlainTextEdit* m_pEdit = nullptr;
};
