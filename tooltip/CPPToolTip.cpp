#include "CPPToolTip.h"

#include <QCursor>
#include <QMouseEvent>
#include <QTextDocument>
#include <QToolTip>
#include <QWidget>

namespace {
constexpr auto kStyle =
    "<style>body {font-size: 10pt; color:black; font-family:Verdana}"
    "h1 {font-size: 16pt} h2 {font-size: 14pt} h3 {font-size: 12pt}"
    "h4 {font-size: 11pt} h5 {font-size: 10pt} h6 {font-size: 9pt}"
    "pre, code {font-family: monospace} big {font-size: 12pt} small {font-size: 8pt}"
    "a {color: blue; text-decoration: underline}</style>";
}

void CPPToolTip::Create(QWidget* owner) { m_pOwner = owner; }

void CPPToolTip::RelayEvent(const QMouseEvent*) {}

QString CPPToolTip::ToQtText(const QString& input) {
  const QString text = input.left(kMaxTextLength);
  // Plain text stays literal and keeps its line breaks.
  const QString body =
      Qt::mightBeRichText(text) ? text : Qt::convertFromPlainText(text, Qt::WhiteSpaceNormal);
  return QStringLiteral("<html><head>") + QString::fromLatin1(kStyle) +
         QStringLiteral("</head><body>") + body + QStringLiteral("</body></html>");
}

void CPPToolTip::ShowHelpTooltip(const QString& text, const QRect& rect) {
  if (m_pOwner == nullptr || text.isEmpty()) return;
  if (IsVisible() && text == m_strShown && rect == m_rcShown) return;
  m_strShown = text;
  m_rcShown = rect;
  QToolTip::showText(QCursor::pos(), ToQtText(text), m_pOwner, rect);
}

void CPPToolTip::HideTooltip() {
  if (!m_strShown.isEmpty()) QToolTip::hideText();
  m_strShown.clear();
  m_rcShown = QRect();
}

bool CPPToolTip::IsVisible() const { return !m_strShown.isEmpty() && QToolTip::isVisible(); }
