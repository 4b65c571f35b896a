#include "dialogs/about.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QVBoxLayout>

#include "dialogs/icon.h"
#include "tonvik/version.h"

namespace dialogs {

TFormAbout::TFormAbout(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("FormAbout"));
  setWindowTitle(tr("このプログラムについて"));
  setWindowFlag(Qt::WindowContextHelpButtonHint, false);

  ProgramIcon = new QLabel(this);
  ProgramIcon->setObjectName(QStringLiteral("ProgramIcon"));
  ProgramIcon->setPixmap(QPixmap::fromImage(dialogs::DrawAppIcon(64)));
  ProgramIcon->setFixedSize(64, 64);

  ProductName = new QLabel(QStringLiteral("Tonvik"), this);
  ProductName->setObjectName(QStringLiteral("ProductName"));
  QFont nameFont = ProductName->font();
  nameFont.setPointSizeF(nameFont.pointSizeF() * 1.6);
  nameFont.setBold(true);
  ProductName->setFont(nameFont);

  Version = new QLabel(tr("Ver.%1").arg(QString::fromLatin1(tonvik::kVersionText)), this);
  Version->setObjectName(QStringLiteral("Version"));
  Comments = new QLabel(tr("パソコンのキーボードで弾くMIDI鍵盤"), this);
  Comments->setObjectName(QStringLiteral("Comments"));

  OKButton = new QPushButton(tr("もういい"), this);
  OKButton->setObjectName(QStringLiteral("OKButton"));
  OKButton->setDefault(true);
  connect(OKButton, &QPushButton::clicked, this, &QDialog::accept);

  auto* texts = new QVBoxLayout;
  texts->addWidget(ProductName);
  texts->addWidget(Version);
  texts->addWidget(Comments);
  auto* top = new QHBoxLayout;
  top->addWidget(ProgramIcon, 0, Qt::AlignTop);
  top->addSpacing(12);
  top->addLayout(texts);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addWidget(OKButton, 0, Qt::AlignHCenter);
  layout->setSizeConstraint(QLayout::SetFixedSize);
}

}  // namespace dialogs
