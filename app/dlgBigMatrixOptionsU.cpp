#include "app/dlgBigMatrixOptionsU.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

#include "app/FormControls.h"

namespace vandrel {

TdlgBigMatrixOptions* dlgBigMatrixOptions = nullptr;

TdlgBigMatrixOptions::TdlgBigMatrixOptions(QWidget* parent) : QDialog(parent) {
  setObjectName("dlgBigMatrixOptions");
  setWindowTitle("Options");
  pcOptions = new QTabWidget(this);
  pcOptions->setObjectName("pcOptions");
  tsSensitivity = NewTabPage(pcOptions, "tsSensitivity", "Sensitivity analysis");
  ckUseExactAlgorithmWhenNeeded = NewCheckBox(tsSensitivity, "ckUseExactAlgorithmWhenNeeded", "Use e&xact algorithm when needed");
  ckUseExactAlgorithmWhenNeeded->setToolTip(
      "When the approximation might be wrong, use exact algorithm instead");
  auto* page = new QVBoxLayout(tsSensitivity);
  page->addWidget(ckUseExactAlgorithmWhenNeeded);
  page->addStretch(1);

  btOK = NewButton(this, "btOK", "OK");
  btOK->setDefault(true);
  connect(btOK, &QPushButton::clicked, this, &QDialog::accept);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(btOK);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(pcOptions, 1);
  layout->addLayout(buttons);
  resize(360, 200);
}

}  // namespace vandrel
