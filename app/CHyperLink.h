// A static text that behaves like a web link: link colours, underline on
// hover, a hand cursor, the address as its tooltip. A click tells the owner
// (clicked()); Open() asks the desktop to open the address.
#pragma once

#include <QColor>
#include <QFont>
#include <QLabel>
#include <QUrl>
#include <functional>

class CHyperLink : public QLabel {
  Q_OBJECT
 public:
  // Underline modes.
  static constexpr int kUnderlineHover = -1;
  static constexpr int kUnderlineAlways = 1;
  static constexpr int kUnderlineNever = 0;

  using UrlOpener = std::function<bool(const QUrl&)>;

  explicit CHyperLink(const QString& text = QString(), QWidget* parent = nullptr);

  // The address; when empty the control's text is used, and an empty text
  // shows the address.
  void SetURL(const QString& url);
  QString GetURL() const { return m_strURL; }
  void SetUnderline(int mode);
  void SetAutoSize(bool adjustToFit);

  // Opens the address. On success the link shows as visited; on failure a
  // beep and "Unable to open hyperlink:" with the reason. Returns success.
  bool Open();

  bool IsVisited() const { return m_bVisited; }
  bool IsHovering() const { return m_bOverControl; }

  // Replaces the desktop's URL handler (tests, headless runs).
  void SetOpener(UrlOpener opener) { m_opener = std::move(opener); }

  // The reason text for a failure code of the desktop's open call.
  static QString ErrorReason(int code);

 signals:
  void clicked();

 protected:
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  void ApplyLook();
  int FailureCode(const QUrl& url) const;

  QColor m_crLinkColour{0x00, 0x00, 0xEE};
  QColor m_crVisitedColour{0x55, 0x1A, 0x8B};
  QColor m_crHoverColour{0xFF, 0x00, 0x00};
  bool m_bOverControl = false;
  bool m_bVisited = false;
  int m_nUnderline = kUnderlineHover;
  bool m_bAdjustToFit = true;
  QString m_strURL;
  UrlOpener m_opener;
};
