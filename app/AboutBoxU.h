// The about box: the program, its version and its authors.
#pragma once

#include <QDialog>

class QLabel;
class QPushButton;

namespace vandrel {

class TAboutBox : public QDialog {
  Q_OBJECT
 public:
  explicit TAboutBox(QWidget* parent = nullptr);

  QLabel* ProgramIcon;
  QLabel* ProductName;
  QLabel* Version;
  QLabel* Copyright;
  QLabel* Comments;
  QPushButton* OKButton;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // A double click on the program icon switches the testing mode.
  void ProgramIconDblClick();
};

extern TAboutBox* AboutBox;

}  // namespace vandrel
