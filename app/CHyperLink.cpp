#include "app/CHyperLink.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFileInfo>
#include <QMessageBox>
#include <QMouseEvent>

#include "platform/StringTable.h"

CHyperLink::CHyperLink(const QString& text, QWidget* parent) : QLabel(text, parent) {
  setCursor(Qt::PointingHandCursor);
  setAutoFillBackground(true);
  setBackgroundRole(QPalette::Button);
  SetURL(QString());
}

void CHyperLink::SetURL(const QString& url) {
  m_strURL = url.isEmpty() ? text() : url;
  if (text().isEmpty()) setText(m_strURL);
  setToolTip(m_strURL);
  ApplyLook();
}

void CHyperLink::SetUnderline(int mode) {
  m_nUnderline = mode;
  ApplyLook();
}

void CHyperLink::SetAutoSize(bool adjustToFit) {
  m_bAdjustToFit = adjustToFit;
  ApplyLook();
}

void CHyperLink::ApplyLook() {
  QPalette pal = palette();
  const QColor c = m_bOverControl ? m_crHoverColour : m_bVisited ? m_crVisitedColour : m_crLinkColour;
  pal.setColor(QPalette::WindowText, c);
  setPalette(pal);
  QFont f = font();
  f.setUnderline(m_nUnderline == kUnderlineAlways || (m_nUnderline == kUnderlineHover && m_bOverControl));
  setFont(f);
  if (m_bAdjustToFit) {
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    adjustSize();
  } else {
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
  }
  update();
}

void CHyperLink::enterEvent(QEnterEvent* event) {
  m_bOverControl = true;
  ApplyLook();
  QLabel::enterEvent(event);
}

void CHyperLink::leaveEvent(QEvent* event) {
  m_bOverControl = false;
  ApplyLook();
  QLabel::leaveEvent(event);
}

void CHyperLink::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) emit clicked();
  QLabel::mouseReleaseEvent(event);
}

int CHyperLink::FailureCode(const QUrl& url) const {
  if (url.isLocalFile() && !QFileInfo::exists(url.toLocalFile())) return 2;
  return 31;
}

bool CHyperLink::Open() {
  m_bOverControl = false;
  const QUrl url = QUrl::fromUserInput(m_strURL);
  const bool ok = url.isValid() && (m_opener ? m_opener(url) : QDesktopServices::openUrl(url));
  if (ok) {
    m_bVisited = true;
    ApplyLook();
    return true;
  }
  ApplyLook();
  QApplication::beep();
  QMessageBox::warning(this, QString::fromStdString(GadrelTitle()),
                       QStringLiteral("Unable to open hyperlink:\n\n") + ErrorReason(FailureCode(url)));
  return false;
}

QString CHyperLink::ErrorReason(int code) {
  switch (code) {
    case 0: return QStringLiteral("The operating system is out\nof memory or resources.");
    case 2: return QStringLiteral("The specified file was not found.");
    case 3: return QStringLiteral("The specified path was not found.");
    case 5: return QStringLiteral("The operating system denied\naccess to the specified file.");
    case 8: return QStringLiteral("There was not enough memory to complete the operation.");
    case 11: return QStringLiteral("The .EXE file is invalid\n(non-Win32 .EXE or error in .EXE image).");
    case 26: return QStringLiteral("A sharing violation occurred. ");
    case 27: return QStringLiteral("The filename association is\nincomplete or invalid.");
    case 28: return QStringLiteral("The DDE transaction could not\nbe completed because the request timed out.");
    case 29: return QStringLiteral("The DDE transaction failed.");
    case 30:
      return QStringLiteral(
          "The DDE transaction could not\nbe completed because other DDE transactions\nwere being processed.");
    case 31: return QStringLiteral("There is no application associated\nwith the given filename extension.");
    case 32: return QStringLiteral("The specified dynamic-link library was not found.");
    default: return QStringLiteral("Unknown Error (%1) occurred.").arg(code);
  }
}
