// The patch database: every patch of the landscape in a table, and the rules
// that fill the birth and extinction parameters of all patches.
#pragma once

#include <QDialog>

#include "app/TaggedControls.h"

class QComboBox;
class QGroupBox;
class QPushButton;
class QTableWidget;

namespace vandrel {

class TdlgPatchData : public QDialog {
  Q_OBJECT
 public:
  explicit TdlgPatchData(QWidget* parent = nullptr);

  QGroupBox* grpParameters;
  QComboBox* cbPatchData;
  tLabeledEdit *edOverallProductivity, *edSourceProportion, *edSourceDifferential, *edExtinctionRisk;
  QTableWidget* sgPatchData;
  QPushButton *btApply, *btCancel, *btReset, *btResizeCols, *btFillTable;

  // The four parameter edits (Tag 1), in component order: the values of a batch
  // landscape line that the main window's controls leave over.
  tTaggedComponents TaggedComponents;

  // Refills the table from the patches, fills it by the chosen rule and applies it.
  void UpdateAndApply();
};

extern TdlgPatchData* dlgPatchData;

}  // namespace vandrel
