// The patch database: every patch of the landscape in a table, and the rules
// that fill the birth and extinction parameters of all patches.
#pragma once

#include <QDialog>

#include "app/TaggedControls.h"
#include "models/PatchDatabase.h"

class QComboBox;
class QGroupBox;
class QPushButton;
class QTableWidget;
class QTimer;

namespace vandrel {

class TdlgPatchData : public QDialog {
  Q_OBJECT
 public:
  explicit TdlgPatchData(QWidget* parent = nullptr);
  ~TdlgPatchData() override;

  QGroupBox* grpParameters;
  QComboBox* cbPatchData;
  tLabeledEdit *edOverallProductivity, *edSourceProportion, *edSourceDifferential, *edExtinctionRisk;
  QTableWidget* sgPatchData;
  QPushButton *btApply, *btCancel, *btReset, *btResizeCols, *btFillTable;

  // The four parameter edits (Tag 1), in component order: the values of a batch
  // landscape line that the main window's controls leave over.
  tTaggedComponents TaggedComponents;

  // The table made again from the patches ("Reset", and on showing).
  void Reset();
  // Fills the birth and extinction columns by the chosen rule; the patches do
  // not change.
  void btFillTableClick();
  // Writes the table into the patches. A change ends with the main window's
  // landscape sequence; without one the landscape drawn stays as it is.
  void Apply();
  // Refills the table from the patches, fills it by the chosen rule and applies it.
  void UpdateAndApply();
  // The same without the landscape sequence, for a caller that runs it next:
  // true when a field of some patch changed.
  bool UpdatePatches();
  // Every column as wide as its widest text.
  void btResizeColsClick();

  // The patches changed: a shown table shows them again, once for the changes
  // that come together.
  void PatchesChanged();

  // The table as the dialog holds it (also while hidden), row i for patch i.
  const models::tPatchTable& Table() const { return fTable; }

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  // fTable and fWritten made from the patches, the title column as wide as the last title.
  void MakeTable();
  models::tFillParameters FillParameters() const;
  // Fills fTable; a rule that cannot reach its mean is told to the user.
  void FillTable();
  // Writes fTable into the patches; true when a field changed.
  bool ApplyTable();
  // The widget shows fTable (only the cells whose text differs are written).
  void ShowTable();
  void CellEdited(int row, int column);

  // The texts the table was made with from the patches: a cell that still
  // holds its text leaves its field as it is.
  models::tPatchTable fWritten;
  // What the cells say now.
  models::tPatchTable fTable;
  bool fRefillPending = false;
  bool fShowingTable = false;
  QTimer* fFollowTimer;
};

extern TdlgPatchData* dlgPatchData;

}  // namespace vandrel
