// The question asked before a batch writes into a result file that exists
// already: append to it, replace it, or stop.
#pragma once

#include <QDialog>
#include <string>

#include "app/WindowServices.h"

class QLabel;
class QPushButton;

namespace vandrel {

class TdlgFileExists : public QDialog {
  Q_OBJECT
 public:
  explicit TdlgFileExists(QWidget* parent = nullptr);

  // Shows Message and waits for the answer: drAppend, drReplace, or drCancel for
  // "Cancel", Escape and closing the window.
  tDialogResult Execute(const std::string& Message);

  QLabel* lblMessage;
  QPushButton* btAppend;
  QPushButton* btReplace;
  QPushButton* btCancel;

 private:
  tDialogResult fResult = tDialogResult::drNone;
};

// The dialog made at start-up (nullptr before and in tests that make none).
extern TdlgFileExists* dlgFileExists;

}  // namespace vandrel
