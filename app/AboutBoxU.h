// The about box: the program, its version and its authors.
#pragma once

#include "Utile/gui/AboutDialog.h"


namespace vandrel {

class TAboutBox : public utile::gui::tAboutDialog {
  Q_OBJECT
 public:
  explicit TAboutBox(QWidget* parent = nullptr);


 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // A double click on the program icon switches the testing mode.
  void ProgramIconDblClick();
};

extern TAboutBox* AboutBox;

}  // namespace vandrel
