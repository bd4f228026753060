// The tooltip control of the pin view: shows a text with a small HTML subset
// (line breaks, fonts, spans, tables, the usual character entities) for a
// rectangle of a widget. Qt renders the markup; plain text keeps its line
// breaks.
#pragma once

#include <QPointer>
#include <QRect>
#include <QString>

class QWidget;
class QMouseEvent;

class CPPToolTip {
 public:
  // Longest text handed to Qt; longer texts are cut (a script may return
  // texts of any size, and laying out megabytes of markup freezes the UI).
  static constexpr qsizetype kMaxTextLength = 16 * 1024;

  // Binds the control to the widget it shows tips for.
  void Create(QWidget* owner);

  // Mouse moves over the owner (kept for the relay contract; Qt tracks the
  // cursor itself).
  void RelayEvent(const QMouseEvent* event);

  // Shows `text` near the cursor while it stays inside `rect` (owner
  // coordinates). Nothing happens for an empty text.
  void ShowHelpTooltip(const QString& text, const QRect& rect);

  void HideTooltip();

  bool IsVisible() const;
  const QString& CurrentText() const { return m_strShown; }

  // The text as Qt gets it: markup gets the default style sheet, plain text
  // is escaped with its line breaks kept.
  static QString ToQtText(const QString& text);

 private:
  QPointer<QWidget> m_pOwner;
  QString m_strShown;
  QRect m_rcShown;
};
