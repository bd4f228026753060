#include "app/MessageDialogs.h"

#include <QApplication>
#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

#include "app/CHyperLink.h"
#include "platform/StringTable.h"

namespace {
void DropHelpButton(QDialog* d) { d->setWindowFlags(d->windowFlags() & ~Qt::WindowContextHelpButtonHint); }
}  // namespace

// ---- CDialogMessage ----

CDialogMessage::CDialogMessage(const std::string& text, MessageMode mode, QWidget* parent)
    : QDialog(parent), m_strMessage(text), m_mode(mode) {
  setWindowTitle(QStringLiteral("Vo_Link"));
  DropHelpButton(this);
  auto* layout = new QVBoxLayout(this);
  auto* message = new QLabel(QString::fromStdString(m_strMessage), this);
  message->setObjectName(QStringLiteral("message"));
  message->setWordWrap(true);
  message->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  message->setMinimumSize(340, 160);
  layout->addWidget(message, 1);

  auto* row = new QHBoxLayout;
  m_pCheck = new QCheckBox(QString::fromLatin1(text::kDoNotShowAgain), this);
  m_pCheck->hide();
  row->addWidget(m_pCheck);
  row->addStretch();
  m_pYes = new QPushButton(QStringLiteral("Yes"), this);
  m_pNo = new QPushButton(QStringLiteral("No"), this);
  m_pOk = new QPushButton(QStringLiteral("OK"), this);
  m_pCancel = new QPushButton(QStringLiteral("Cancel"), this);
  for (QPushButton* b : {m_pYes, m_pNo, m_pOk, m_pCancel}) row->addWidget(b);
  layout->addLayout(row);

  const bool yesNo = m_mode == MessageMode::YesNo;
  m_pYes->setVisible(yesNo);
  m_pNo->setVisible(yesNo);
  m_pOk->setVisible(!yesNo);
  m_pCancel->setVisible(!yesNo);
  (yesNo ? m_pYes : m_pOk)->setDefault(true);

  connect(m_pYes, &QPushButton::clicked, this, [this] {
    ReadControls();
    m_answer = MessageAnswer::Yes;
    accept();
  });
  connect(m_pNo, &QPushButton::clicked, this, [this] {
    ReadControls();
    m_answer = MessageAnswer::No;
    accept();
  });
  connect(m_pOk, &QPushButton::clicked, this, [this] {
    ReadControls();
    accept();
  });
  connect(m_pCancel, &QPushButton::clicked, this, &QDialog::reject);
}

void CDialogMessage::ReadControls() { m_nCheck = m_pCheck->isChecked() ? 1 : 0; }

// ---- CDialogVersion ----

CDialogVersion::CDialogVersion(int firmwareVersion, int appVersion, const std::string& url, QWidget* parent)
    : QDialog(parent), m_nFirmwareVersion(firmwareVersion), m_nAppVersion(appVersion), m_strURL(url) {
  setWindowTitle(QStringLiteral("Vo_Link"));
  DropHelpButton(this);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel(QString::fromLatin1(text::kVersionNotMatched), this));
  layout->addWidget(new QLabel(QStringLiteral("To get a new version, please visit"), this));
  m_pLink = new CHyperLink(QStringLiteral("URL"), this);
  m_pLink->SetAutoSize(true);
  m_pLink->SetURL(QString::fromStdString(m_strURL));
  m_pLink->setText(QString::fromStdString(m_strURL));
  layout->addWidget(m_pLink);
  m_pMessage = new QLabel(this);
  m_pMessage->setObjectName(QStringLiteral("Message"));
  m_pMessage->setText(
      QString::asprintf(text::kFirmwareHigher, m_nFirmwareVersion, m_nAppVersion));
  layout->addWidget(m_pMessage, 1);
  m_pCheck = new QCheckBox(QString::fromLatin1(text::kDoNotShowAgain), this);
  m_pCheck->hide();
  layout->addWidget(m_pCheck);
  auto* row = new QHBoxLayout;
  row->addStretch();
  m_pOk = new QPushButton(QStringLiteral("OK"), this);
  m_pCancel = new QPushButton(QStringLiteral("Cancel"), this);
  m_pOk->setDefault(true);
  row->addWidget(m_pOk);
  row->addWidget(m_pCancel);
  row->addStretch();
  layout->addLayout(row);

  connect(m_pLink, &CHyperLink::clicked, this, &CDialogVersion::OnLink);
  connect(m_pOk, &QPushButton::clicked, this, [this] {
    m_bLinkUsed = false;
    ReadControls();
    accept();
  });
  connect(m_pCancel, &QPushButton::clicked, this, &CDialogVersion::reject);
}

QString CDialogVersion::Message() const { return m_pMessage->text(); }

void CDialogVersion::reject() {
  // Cancel, Esc and the close box all end here; only the link's own close
  // (below) keeps the flag.
  m_bLinkUsed = false;
  ReadControls();
  QDialog::reject();
}

void CDialogVersion::OnLink() {
  m_pLink->Open();
  m_bLinkUsed = true;
  if (m_bCloseOnLink) QDialog::reject();
}

void CDialogVersion::ReadControls() { m_nCheck = m_pCheck->isChecked() ? 1 : 0; }

// ---- CAboutDlg ----

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("About Halvix - Lumeth"));
  DropHelpButton(this);
  auto* grid = new QGridLayout(this);
  auto* icon = new QLabel(this);
  const QIcon appIcon = QApplication::windowIcon().isNull()
                            ? QApplication::style()->standardIcon(QStyle::SP_ComputerIcon)
                            : QApplication::windowIcon();
  icon->setPixmap(appIcon.pixmap(32, 32));
  grid->addWidget(icon, 0, 0, 3, 1, Qt::AlignTop);
  auto* version = new QLabel(QStringLiteral("Version 3.23"), this);
  version->setObjectName(QStringLiteral("version"));
  grid->addWidget(version, 0, 1);
  grid->addWidget(new QLabel(QStringLiteral("Copyright (C) Korvane. All rights reserved."), this), 1, 1);
  m_pWebSite = new CHyperLink(QString::fromLatin1(kWebSite), this);
  m_pWebSite->SetURL(QString::fromLatin1(kWebSite));
  grid->addWidget(m_pWebSite, 2, 1);
  grid->addWidget(new QLabel(QStringLiteral("Supporting Forum"), this), 3, 1);
  m_pForum = new CHyperLink(QString::fromLatin1(kForum), this);
  m_pForum->SetURL(QString::fromLatin1(kForum));
  grid->addWidget(m_pForum, 4, 1);
  auto* ok = new QPushButton(QStringLiteral("OK"), this);
  ok->setDefault(true);
  grid->addWidget(ok, 4, 2, Qt::AlignRight | Qt::AlignBottom);
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
  connect(m_pWebSite, &CHyperLink::clicked, m_pWebSite, &CHyperLink::Open);
  connect(m_pForum, &CHyperLink::clicked, m_pForum, &CHyperLink::Open);
}
