// The development history of the program, version by version.
#pragma once

#include <QDialog>

class QPlainTextEdit;
class QPushButton;

namespace vandrel {

class TDevHistory : public QDialog {
  Q_OBJECT
 public:
  explicit TDevHistory(QWidget* parent = nullptr);

  QPlainTextEdit* mmHistory;
  QPushButton* btOK;
};

extern TDevHistory* DevHistory;

}  // namespace vandrel
