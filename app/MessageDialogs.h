// The message dialog (OK/Cancel or Yes/No), the version-mismatch notice with
// its link, and the About box.
#pragma once

#include <QDialog>
#include <string>

class QCheckBox;
class QLabel;
class QPushButton;
class CHyperLink;

// The buttons of CDialogMessage, and the answer of its Yes/No form.
enum class MessageMode : int { OkCancel = 0, YesNo = 1 };
enum class MessageAnswer : int { No = 0, Yes = 1 };

class CDialogMessage : public QDialog {
  Q_OBJECT
 public:
  CDialogMessage(const std::string& text, MessageMode mode, QWidget* parent = nullptr);

  // Meaningful only in the Yes/No form.
  MessageAnswer Answer() const { return m_answer; }
  int CheckState() const { return m_nCheck; }

  QPushButton* YesButton() const { return m_pYes; }
  QPushButton* NoButton() const { return m_pNo; }
  QPushButton* OkButton() const { return m_pOk; }
  QPushButton* CancelButton() const { return m_pCancel; }

 private:
  void ReadControls();

  std::string m_strMessage;
  MessageMode m_mode = MessageMode::OkCancel;
  int m_nCheck = 0;
  MessageAnswer m_answer = MessageAnswer::No;
  QCheckBox* m_pCheck = nullptr;
  QPushButton* m_pYes = nullptr;
  QPushButton* m_pNo = nullptr;
  QPushButton* m_pOk = nullptr;
  QPushButton* m_pCancel = nullptr;
};

class CDialogVersion : public QDialog {
  Q_OBJECT
 public:
  CDialogVersion(int firmwareVersion, int appVersion, const std::string& url, QWidget* parent = nullptr);

  void SetCloseOnLink(bool close) { m_bCloseOnLink = close; }
  // True only when a click on the link closed the dialog.
  bool LinkUsed() const { return m_bLinkUsed; }
  int CheckState() const { return m_nCheck; }

  CHyperLink* Link() const { return m_pLink; }
  QString Message() const;
  QPushButton* OkButton() const { return m_pOk; }
  QPushButton* CancelButton() const { return m_pCancel; }

  // Cancel, Esc and the close box: the link counts as not used.
  void reject() override;

 private:
  void OnLink();
  void ReadControls();

  CHyperLink* m_pLink = nullptr;
  QLabel* m_pMessage = nullptr;
  QCheckBox* m_pCheck = nullptr;
  QPushButton* m_pOk = nullptr;
  QPushButton* m_pCancel = nullptr;
  int m_nCheck = 0;
  int m_nFirmwareVersion = 0;
  int m_nAppVersion = 0;
  std::string m_strURL;
  bool m_bLinkUsed = true;
  bool m_bCloseOnLink = true;
};

class CAboutDlg : public QDialog {
  Q_OBJECT
 public:
  static constexpr const char* kWebSite = "https://www.korvane.example/";
  static constexpr const char* kForum = "https://forum.korvane.example/";

  explicit CAboutDlg(QWidget* parent = nullptr);

  CHyperLink* WebSiteLink() const { return m_pWebSite; }
  CHyperLink* ForumLink() const { return m_pForum; }

 private:
  CHyperLink* m_pWebSite = nullptr;
  CHyperLink* m_pForum = nullptr;
};
