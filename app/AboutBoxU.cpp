#include "app/AboutBoxU.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

#include "app/WindowServices.h"
#include "app/dlgVandrelU.h"

namespace vandrel {

TAboutBox* AboutBox = nullptr;

TAboutBox::TAboutBox(QWidget* parent) : QDialog(parent) {
  setObjectName("AboutBox");
  setWindowTitle("About");
  ProgramIcon = new QLabel(this);
  ProgramIcon->setObjectName("ProgramIcon");
  ProgramIcon->setPixmap(style()->standardIcon(QStyle::SP_DesktopIcon).pixmap(48, 48));
  ProgramIcon->installEventFilter(this);
  ProductName = new QLabel("<b>Vandrel</b>", this);
  ProductName->setObjectName("ProductName");
  Version = new QLabel("Version 1.3.6.36", this);
  Version->setObjectName("Version");
  Copyright = new QLabel("Spatial population biology workbench", this);
  Copyright->setObjectName("Copyright");
  Comments = new QLabel(
      "Landscapes of habitat patches and the models that run on them: individual-based model with "
      "pedigree and genetics, demogenetic matrix model, big-matrix occupancy model, graph model and "
      "simple demographic model.",
      this);
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

bool TAboutBox::eventFilter(QObject* watched, QEvent* event) {
  if (watched == ProgramIcon && event->type() == QEvent::MouseButtonDblClick) {
    ProgramIconDblClick();
    return true;
  }
  return QDialog::eventFilter(watched, event);
}

void TAboutBox::ProgramIconDblClick() {
  if (dlgVandrel)
    dlgVandrel->ToggleTestingMode();
  else
    TestingMode = !TestingMode;
  Dialogs().ShowMessage(this, "Testing mode", tMessageKind::mkInformation);
}

}  // namespace vandrel
