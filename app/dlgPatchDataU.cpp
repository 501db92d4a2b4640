#include "app/dlgPatchDataU.h"

#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

namespace vandrel {

TdlgPatchData* dlgPatchData = nullptr;

TdlgPatchData::TdlgPatchData(QWidget* parent) : QDialog(parent) {
  setObjectName("dlgPatchData");
  setWindowTitle("Patch characteristics");
  setWindowFlag(Qt::WindowStaysOnTopHint);
  setModal(false);

  grpParameters = new QGroupBox("Parameters", this);
  grpParameters->setObjectName("grpParameters");
  auto* form = new QFormLayout(grpParameters);
  cbPatchData = new QComboBox(grpParameters);
  cbPatchData->setObjectName("cbPatchData");
  cbPatchData->addItems({"Custom parameters", "Loaded from file", "Source/sink", "Fixed productivity"});
  cbPatchData->setCurrentIndex(3);
  form->addRow(cbPatchData);
  auto edit = [this, form](const char* name, const char* caption, const char* text, const char* hint) {
    auto* result = new tLabeledEdit(caption, text, grpParameters);
    result->setObjectName(name);
    result->EditLabel->setObjectName(QString(name) + "Label");
    if (hint) result->setToolTip(hint);
    form->addRow(result->EditLabel, result);
    return result;
  };
  edOverallProductivity =
      edit("edOverallProductivity", "&Productivity=", "1.1", "Overall or source productivity");
  edSourceProportion = edit("edSourceProportion", "Source &proportion=", "1", "Proportion of source patches");
  edSourceDifferential = edit("edSourceDifferential", "Source &differential=", "1",
                              "Difference between source and sink birth rates");
  edExtinctionRisk = edit("edExtinctionRisk", "&Extinction risk=", "0", nullptr);
  for (QWidget* component : std::initializer_list<QWidget*>{edOverallProductivity, edSourceProportion,
                                                            edSourceDifferential, edExtinctionRisk})
    TaggedComponents.Add(component, 1);

  sgPatchData = new QTableWidget(0, 6, this);
  sgPatchData->setObjectName("sgPatchData");
  sgPatchData->setHorizontalHeaderLabels({"", " X ", " Y ", "Area A", "Birth b", "Extinction e"});
  sgPatchData->verticalHeader()->hide();

  auto button = [this](const char* name, const char* caption) {
    auto* result = new QPushButton(caption, this);
    result->setObjectName(name);
    return result;
  };
  btApply = button("btApply", "Apply");
  btCancel = button("btCancel", "Cancel");
  btReset = button("btReset", "Reset");
  btResizeCols = button("btResizeCols", "Resize cols");
  btFillTable = button("btFillTable", "&Fill table");
  btFillTable->setToolTip("Reassign demographic parameters");
  connect(btCancel, &QPushButton::clicked, this, &QDialog::close);

  auto* buttons = new QHBoxLayout;
  for (QPushButton* b : {btFillTable, btReset, btResizeCols, btApply, btCancel}) buttons->addWidget(b);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(grpParameters);
  layout->addWidget(sgPatchData, 1);
  layout->addLayout(buttons);
  resize(560, 420);
}

void TdlgPatchData::UpdateAndApply() {}

}  // namespace vandrel
