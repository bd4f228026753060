#include "app/CDialogSelectBox.h"

#include <QButtonGroup>
#include <QHBoxLayout>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

CDialogSelectBox::CDialogSelectBox(const std::string& title, int defaultIndex,
                                   const std::vector<std::string>& options, QWidget* parent)
    : QDialog(parent), m_strTitle(title), m_nDefault(defaultIndex) {
  setWindowTitle(QString::fromStdString(m_strTitle));
  setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(28, 12, 28, 12);
  auto* group = new QButtonGroup(this);
  const int shown = static_cast<int>(std::min<size_t>(options.size(), kMaxOptions));
  for (int i = 0; i < kMaxOptions; ++i) {
    auto* radio = new QRadioButton(QStringLiteral("option %1").arg(i), this);
    radio->setObjectName(QStringLiteral("option%1").arg(i));
    group->addButton(radio, i);
    layout->addWidget(radio);
    if (i < shown) {
      radio->setText(QString::fromStdString(options[static_cast<size_t>(i)]));
      radio->setEnabled(true);
    } else {
      radio->hide();
    }
    connect(radio, &QRadioButton::clicked, this, [this, i] { m_nSelection = i; });
    m_options[static_cast<size_t>(i)] = radio;
  }
  layout->addSpacing(10);
  m_pOk = new QPushButton(QStringLiteral("OK"), this);
  m_pOk->setDefault(true);
  auto* row = new QHBoxLayout;
  row->addStretch();
  row->addWidget(m_pOk);
  row->addStretch();
  layout->addLayout(row);
  connect(m_pOk, &QPushButton::clicked, this, &CDialogSelectBox::OnOk);

  m_nSelection = (m_nDefault >= 0 && m_nDefault < shown) ? m_nDefault : (shown > 0 ? 0 : -1);
  if (m_nSelection >= 0) m_options[static_cast<size_t>(m_nSelection)]->setChecked(true);
  // Hidden options take no room: the dialog shrinks with the option count.
  layout->setSizeConstraint(QLayout::SetFixedSize);
}

void CDialogSelectBox::OnOk() {
  m_nSelection = -1;
  for (int i = 0; i < kMaxOptions; ++i) {
    const QRadioButton* radio = m_options[static_cast<size_t>(i)];
    if (!radio->isHidden() && radio->isChecked()) m_nSelection = i;
  }
  accept();
}
