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
  // Characters one line keeps, the cut mark included: a longer line ends in
  // kCutMark and drops the rest of its text.
  static constexpr int kMaxLineChars = 4096;
  // Characters the whole pane keeps; lines are dropped from the start to stay
  // within it.
  static constexpr int kMaxPaneChars = 512 * 1024;
  static constexpr char16_t kCutMark = u'\u2026';

  explicit CPrintView(QWidget* parent = nullptr);

  // Appends `text` (UTF-8, may hold line ends) at the end and scrolls to it.
  // Its cost follows the part of `text` that is kept, not what the pane
  // already holds.
  void AppendText(std::string_view text);

  QString Text() const;
  int LineCount() const;
  QPlainTextEdit* Edit() const { return m_pEdit; }

  // Swallows mouse-button events of the pane and its text control.
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QPlainTextEdit* m_pEdit = nullptr;
};
