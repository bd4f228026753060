#include "app/CPrintView.h"

#include <QEvent>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QVBoxLayout>
#include <algorithm>

namespace {
bool IsMouseButtonEvent(QEvent::Type t) {
  return t == QEvent::MouseButtonPress || t == QEvent::MouseButtonRelease || t == QEvent::MouseButtonDblClick;
}
}  // namespace

CPrintView::CPrintView(QWidget* parent) : QWidget(parent) {
  m_pEdit = new QPlainTextEdit(this);
  m_pEdit->setObjectName(QStringLiteral("printEdit"));
  m_pEdit->setReadOnly(true);
  m_pEdit->setLineWrapMode(QPlainTextEdit::NoWrap);
  m_pEdit->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  m_pEdit->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  m_pEdit->setTextInteractionFlags(Qt::NoTextInteraction);
  m_pEdit->setFocusPolicy(Qt::NoFocus);
  m_pEdit->setContextMenuPolicy(Qt::NoContextMenu);
  // The lines kept plus the line being written.
  m_pEdit->setMaximumBlockCount(kMaxLines + 1);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(m_pEdit);
  installEventFilter(this);
  m_pEdit->installEventFilter(this);
  m_pEdit->viewport()->installEventFilter(this);
}

bool CPrintView::eventFilter(QObject* watched, QEvent* event) {
  if (IsMouseButtonEvent(event->type())) return true;
  return QWidget::eventFilter(watched, event);
}

void CPrintView::AppendText(std::string_view text) {
  if (text.empty()) return;
  QTextDocument* doc = m_pEdit->document();
  QTextCursor cursor(doc);
  cursor.movePosition(QTextCursor::End);

  // A text of more lines than the pane keeps pushes out everything the pane
  // holds and its own first lines: start at the first line that stays.
  size_t breaks = 0;
  for (const char c : text) breaks += c == '\n';
  size_t from = 0;
  int lineChars = doc->lastBlock().length() - 1;
  if (breaks > static_cast<size_t>(kMaxLines)) {
    for (size_t skip = breaks - kMaxLines; skip > 0; --skip) from = text.find('\n', from) + 1;
    m_pEdit->clear();
    cursor = QTextCursor(doc);
    lineChars = 0;
  }

  QString kept;
  while (from <= text.size()) {
    const size_t end = std::min(text.find('\n', from), text.size());
    std::string_view line = text.substr(from, end - from);
    const int room = kMaxLineChars - lineChars;
    if (room > 0 && !line.empty()) {
      // At most `room` bytes go in (never more characters than bytes), cut
      // where a character starts.
      bool cut = line.size() > static_cast<size_t>(room);
      if (cut) {
        size_t n = static_cast<size_t>(room);
        while (n > 0 && (static_cast<unsigned char>(line[n]) & 0xC0) == 0x80) --n;
        line = line.substr(0, n);
      }
      QString piece = QString::fromUtf8(line.data(), static_cast<qsizetype>(line.size()));
      if (cut || piece.size() >= room) {
        piece.truncate(room - 1);
        piece += QChar(kCutMark);
      }
      kept += piece;
      lineChars += static_cast<int>(piece.size());
    }
    if (end == text.size()) break;
    kept += QLatin1Char('\n');
    lineChars = 0;
    from = end + 1;
  }
  if (kept.isEmpty()) return;
  cursor.insertText(kept);

  // Oldest lines go first while the pane holds too much.
  while (doc->characterCount() > kMaxPaneChars && doc->blockCount() > 1) {
    QTextCursor first(doc->firstBlock());
    first.movePosition(QTextCursor::NextBlock, QTextCursor::KeepAnchor);
    first.removeSelectedText();
  }
  m_pEdit->verticalScrollBar()->setValue(m_pEdit->verticalScrollBar()->maximum());
}

QString CPrintView::Text() const { return m_pEdit->toPlainText(); }

int CPrintView::LineCount() const { return m_pEdit->document()->blockCount(); }
