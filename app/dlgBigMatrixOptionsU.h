// The options of the big-matrix workbench's sensitivity batch.
#pragma once

#include <QDialog>

class QCheckBox;
class QPushButton;
class QTabWidget;

namespace vandrel {

class TdlgBigMatrixOptions : public QDialog {
  Q_OBJECT
 public:
  explicit TdlgBigMatrixOptions(QWidget* parent = nullptr);

  QTabWidget* pcOptions;
  QWidget* tsSensitivity;  // "Sensitivity analysis"
  QCheckBox* ckUseExactAlgorithmWhenNeeded;
  QPushButton* btOK;
};

// Made at program start.
extern TdlgBigMatrixOptions* dlgBigMatrixOptions;

}  // namespace vandrel
