#include "CPrintView.h"

#include <QEvent>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextCursor>
#include <QVBoxLayout>

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
  QTextCursor cursor(m_pEdit->document());
  cursor.movePosition(QTextCursor::End);
  cursor.insertText(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
  m_pEdit->verticalScrollBar()->setValue(m_pEdit->verticalScrollBar()->maximum());
}

QString CPrintView::Text() const { return m_pEdit->toPlainText(); }

int CPrintView::LineCount() const { return m_pEdit->document()->blockCount(); }
