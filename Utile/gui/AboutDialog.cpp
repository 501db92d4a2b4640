#include "Utile/gui/AboutDialog.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace utile::gui {

tAboutDialog::tAboutDialog(QStyle::StandardPixmap icon, const QString& productName, const QString& version,
                           const QString& copyright, const QString& comments, QWidget* parent)
    : QDialog(parent) {
  ProgramIcon = new QLabel(this);
  ProgramIcon->setObjectName("ProgramIcon");
  ProgramIcon->setPixmap(style()->standardIcon(icon).pixmap(48, 48));
  ProductName = new QLabel("<b>" + productName + "</b>", this);
  ProductName->setObjectName("ProductName");
  Version = new QLabel(version, this);
  Version->setObjectName("Version");
  Copyright = new QLabel(copyright, this);
  Copyright->setObjectName("Copyright");
  Comments = new QLabel(comments, this);
  Comments->setObjectName("Comments");
  Comments->setWordWrap(true);
  OKButton = new QPushButton("OK", this);
  OKButton->setObjectName("OKButton");
  OKButton->setDefault(true);
  connect(OKButton, &QPushButton::clicked, this, &QDialog::accept);

  auto* top = new QHBoxLayout;
  top->addWidget(ProgramIcon, 0, Qt::AlignTop);
  auto* texts = new QVBoxLayout;
  for (QLabel* label : {ProductName, Version, Copyright}) texts->addWidget(label);
  top->addLayout(texts, 1);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addWidget(Comments);
  layout->addWidget(OKButton, 0, Qt::AlignCenter);
  setMinimumWidth(360);
}

}  // namespace utile::gui
