#include "app/CDialogVoLinkSelect.h"

#include <QButtonGroup>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMetaObject>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

CDialogVoLinkSelect::CDialogVoLinkSelect(IAdapterSelectDialog& dialog, QWidget* parent)
    : QDialog(parent), m_dialog(dialog) {
  setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);
  auto* layout = new QVBoxLayout(this);
  m_pGroup = new QGroupBox(this);
  auto* groupLayout = new QVBoxLayout(m_pGroup);
  auto* group = new QButtonGroup(this);
  for (int i = 0; i < IAdapterSelectDialog::kButtons; ++i) {
    auto* radio = new QRadioButton(m_pGroup);
    radio->setObjectName(QStringLiteral("adapter%1").arg(i));
    group->addButton(radio, i);
    groupLayout->addWidget(radio);
    connect(radio, &QRadioButton::clicked, this, [this, i] { m_dialog.Highlight(i); });
    m_buttons[static_cast<size_t>(i)] = radio;
  }
  m_pMessage = new QLabel(m_pGroup);
  m_pMessage->setObjectName(QStringLiteral("message"));
  groupLayout->addWidget(m_pMessage);
  layout->addWidget(m_pGroup);

  m_pOk = new QPushButton(QStringLiteral("OK"), this);
  m_pOk->setDefault(true);
  m_pCancel = new QPushButton(QStringLiteral("Cancel"), this);
  connect(m_pOk, &QPushButton::clicked, this, &CDialogVoLinkSelect::accept);
  connect(m_pCancel, &QPushButton::clicked, this, &CDialogVoLinkSelect::reject);

  // The worker asks from its own thread; the request is queued to ours.
  // The destructor stops the worker before this object goes away.
  const IAdapterSelectDialog::Form& form = m_dialog.Initialise(
      [this] { QMetaObject::invokeMethod(this, "reject", Qt::QueuedConnection); });

  setWindowTitle(QString::fromStdString(form.caption));
  m_pGroup->setTitle(QString::fromStdString(form.groupTitle));
  for (int i = 0; i < IAdapterSelectDialog::kButtons; ++i) {
    const IAdapterSelectDialog::Button& b = form.buttons[i];
    QRadioButton* radio = m_buttons[static_cast<size_t>(i)];
    radio->setText(QString::fromStdString(b.text));
    radio->setEnabled(b.enabled);
    radio->setVisible(b.visible);
  }
  if (form.checked >= 0) m_buttons[static_cast<size_t>(form.checked)]->setChecked(true);
  m_pMessage->setText(QString::fromStdString(form.message));
  m_pMessage->setVisible(form.messageVisible);
  m_pCancel->setVisible(form.cancelVisible);

  auto* row = new QHBoxLayout;
  if (form.okCentred) {
    // OK alone, centred.
    row->addStretch();
    row->addWidget(m_pOk);
    row->addStretch();
  } else {
    row->addStretch();
    row->addWidget(m_pOk);
    row->addWidget(m_pCancel);
  }
  layout->addLayout(row);
  // Hidden buttons take no room.
  layout->setSizeConstraint(QLayout::SetFixedSize);
}

CDialogVoLinkSelect::~CDialogVoLinkSelect() { m_dialog.Finish(); }

void CDialogVoLinkSelect::accept() {
  int selected = -1;
  for (int i = 0; i < IAdapterSelectDialog::kButtons; ++i) {
    const QRadioButton* radio = m_buttons[static_cast<size_t>(i)];
    if (!radio->isHidden() && radio->isChecked()) selected = i;
  }
  m_dialog.Ok(selected);
  QDialog::accept();
}

void CDialogVoLinkSelect::reject() {
  m_dialog.Cancel();
  QDialog::reject();
}
