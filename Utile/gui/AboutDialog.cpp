#include "Utile/gui/AboutDialog.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "Utile/gui/FormControls.h"

namespace utile::gui {

tAboutDialog::tAboutDialog(QStyle::StandardPixmap icon, const QString& productName, const QString& version,
                           const QString& copyright, const QString& comments, QWidget* parent)
    : QDialog(parent) {
  ProgramIcon = new QLabel(this);
  ProgramIcon->setObjectName("ProgramIcon");
  ProgramIcon->setPixmap(style()->standardIcon(icon).pixmap(48, 48));
  ProductName = NewLabel(this, "ProductName", "<b>" + productName + "</b>");
  Version = NewLabel(this, "Version", version);
  Copyright = NewLabel(this, "Copyright", copyright);
  Comments = NewLabel(this, "Comments", comments);
  Comments->setWordWrap(true);
  OKButton = NewButton(this, "OKButton", "OK");
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
