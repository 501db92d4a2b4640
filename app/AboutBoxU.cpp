#include "app/AboutBoxU.h"

#include <QEvent>
#include <QLabel>

#include "app/WindowServices.h"
#include "app/dlgVandrelU.h"

namespace vandrel {

TAboutBox* AboutBox = nullptr;

TAboutBox::TAboutBox(QWidget* parent)
    : tAboutDialog(QStyle::SP_DesktopIcon, "Vandrel", "Version 1.3.6.36", "Spatial population biology workbench",
                   "Landscapes of habitat patches and the models that run on them: individual-based model with "
                   "pedigree and genetics, demogenetic matrix model, big-matrix occupancy model, graph model and "
                   "simple demographic model.",
                   parent) {
  setObjectName("AboutBox");
  setWindowTitle("About");
  ProgramIcon->installEventFilter(this);
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
