#include "app/dlgPatchDataU.h"

#include <QComboBox>
#include <QFontMetrics>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QScopeGuard>
#include <QShowEvent>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>
#include <functional>

#include "Utile/gui/GridOps.h"
#include "app/FormControls.h"
#include "app/WindowServices.h"
#include "app/dlgVandrelU.h"

namespace vandrel {

TdlgPatchData* dlgPatchData = nullptr;

namespace {
// Room beside the widest text of a column.
constexpr int ColumnMargin = 10;
}  // namespace

TdlgPatchData::TdlgPatchData(QWidget* parent) : QDialog(parent) {
  setObjectName("dlgPatchData");
  setWindowTitle("Patch characteristics");
  setWindowFlag(Qt::WindowStaysOnTopHint);
  setModal(false);

  grpParameters = NewGroupBox(this, "grpParameters", "Parameters");
  auto* form = new QFormLayout(grpParameters);
  cbPatchData = new QComboBox(grpParameters);
  cbPatchData->setObjectName("cbPatchData");
  cbPatchData->addItems({"Custom parameters", "Loaded from file", "Source/sink", "Fixed productivity"});
  cbPatchData->setCurrentIndex(models::pdFixedProductivity);
  form->addRow(cbPatchData);
  auto edit = [this, form](const char* name, const char* caption, const char* text, const char* hint) {
    // The hint shows on the edit only.
    tLabeledEdit* result = NewLabeledEdit(grpParameters, name, caption, text);
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

  sgPatchData = new QTableWidget(0, models::PatchColumnCount, this);
  sgPatchData->setObjectName("sgPatchData");
  sgPatchData->setHorizontalHeaderLabels({"", " X ", " Y ", "Area A", "Birth b", "Extinction e"});
  sgPatchData->verticalHeader()->hide();
  // Rows as close as those of a string grid: a long landscape fits a screen.
  sgPatchData->verticalHeader()->setDefaultSectionSize(sgPatchData->fontMetrics().height() + 6);
  sgPatchData->setWordWrap(false);
  utile::gui::FitColWidths(sgPatchData, ColumnMargin);
  connect(sgPatchData, &QTableWidget::cellChanged, this, &TdlgPatchData::CellEdited);

  auto button = [this](const char* name, const char* caption) {
    QPushButton* result = NewButton(this, name, caption);
    result->setAutoDefault(false);
    return result;
  };
  btApply = button("btApply", "Apply");
  btCancel = button("btCancel", "Cancel");
  btReset = button("btReset", "Reset");
  btResizeCols = button("btResizeCols", "Resize cols");
  btFillTable = button("btFillTable", "&Fill table");
  btFillTable->setToolTip("Reassign demographic parameters");
  connect(btCancel, &QPushButton::clicked, this, &QDialog::close);
  const auto guarded = [this](void (TdlgPatchData::*command)()) {
    return [this, command] { Guarded(this, [this, command] { (this->*command)(); }); };
  };
  connect(btApply, &QPushButton::clicked, this, guarded(&TdlgPatchData::Apply));
  connect(btReset, &QPushButton::clicked, this, guarded(&TdlgPatchData::Reset));
  connect(btResizeCols, &QPushButton::clicked, this, guarded(&TdlgPatchData::btResizeColsClick));
  connect(btFillTable, &QPushButton::clicked, this, guarded(&TdlgPatchData::btFillTableClick));

  // Changes of the patches that come together refill a shown table once.
  fFollowTimer = new QTimer(this);
  fFollowTimer->setSingleShot(true);
  fFollowTimer->setInterval(0);
  connect(fFollowTimer, &QTimer::timeout, this, [this] {
    if (fRefillPending && isVisible()) Reset();
  });

  auto* buttons = new QHBoxLayout;
  for (QPushButton* b : {btFillTable, btReset, btResizeCols, btApply, btCancel}) buttons->addWidget(b);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(grpParameters);
  layout->addWidget(sgPatchData, 1);
  layout->addLayout(buttons);
  resize(560, 420);
}

TdlgPatchData::~TdlgPatchData() {
  if (dlgPatchData == this) dlgPatchData = nullptr;
}

void TdlgPatchData::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  // A window brought back by the window system keeps what the user typed,
  // unless the landscape changed meanwhile.
  if (!event->spontaneous() || fRefillPending) Reset();
}

void TdlgPatchData::MakeTable() {
  fWritten = models::PatchTable(models::Patches);
  fTable = fWritten;
  fRefillPending = false;
  if (!fTable.empty())
    sgPatchData->setColumnWidth(
        models::pcTitle, QFontMetrics(sgPatchData->font())
                                 .horizontalAdvance(QString::fromStdString(fTable.back()[models::pcTitle])) +
                             ColumnMargin);
}

void TdlgPatchData::Reset() {
  MakeTable();
  if (isVisible()) ShowTable();
}

void TdlgPatchData::ShowTable() {
  // A cell being typed into belongs to the table as it was: its text would
  // land in a row that may stand for another patch now.
  const QModelIndex editing = sgPatchData->currentIndex();
  if (editing.isValid() && sgPatchData->indexWidget(editing))
    sgPatchData->QAbstractItemView::closePersistentEditor(editing);
  fShowingTable = true;
  sgPatchData->setUpdatesEnabled(false);
  const auto done = qScopeGuard([this] {
    sgPatchData->setUpdatesEnabled(true);
    fShowingTable = false;
  });
  const int rows = static_cast<int>(fTable.size());
  if (sgPatchData->rowCount() != rows) sgPatchData->setRowCount(rows);
  const QBrush titleBackground = palette().button();
  for (int r = 0; r < rows; ++r)
    for (int c = 0; c < models::PatchColumnCount; ++c) {
      const QString text = QString::fromStdString(fTable[static_cast<size_t>(r)][static_cast<size_t>(c)]);
      QTableWidgetItem* item = sgPatchData->item(r, c);
      if (!item) {
        item = new QTableWidgetItem(text);
        if (c == models::pcTitle) {
          // Titles are not data.
          item->setFlags(Qt::ItemIsEnabled);
          item->setBackground(titleBackground);
        }
        sgPatchData->setItem(r, c, item);
      } else if (item->text() != text) {
        item->setText(text);
      }
    }
  // Coordinates and values are read whole, without asking for "Resize cols".
  utile::gui::WidenColsToFit(sgPatchData, ColumnMargin);
}

void TdlgPatchData::CellEdited(int row, int column) {
  if (fShowingTable || row < 0 || static_cast<size_t>(row) >= fTable.size() || column <= models::pcTitle ||
      column >= models::PatchColumnCount)
    return;
  if (const QTableWidgetItem* item = sgPatchData->item(row, column))
    fTable[static_cast<size_t>(row)][static_cast<size_t>(column)] = item->text().toStdString();
}

models::tFillParameters TdlgPatchData::FillParameters() const {
  models::tFillParameters parameters;
  parameters.OverallProductivity = edOverallProductivity->text().toStdString();
  parameters.SourceProportion = edSourceProportion->text().toStdString();
  parameters.SourceDifferential = edSourceDifferential->text().toStdString();
  parameters.ExtinctionRisk = edExtinctionRisk->text().toStdString();
  return parameters;
}

void TdlgPatchData::FillTable() {
  const models::tFillResult result =
      models::FillPatchTable(fTable, cbPatchData->currentIndex(), FillParameters());
  if (result.SinksHeld)
    Dialogs().ShowMessage(
        this,
        utile::Format("No sink productivity between 0 and 1 gives a mean productivity of %.5g with %d "
                      "source patches out of %d: the sources keep %.5g and the sinks get %.5g.",
                      result.Productivity, result.Sources, static_cast<int32_t>(fTable.size()),
                      result.SourceValue, result.SinkValue),
        tMessageKind::mkWarning);
}

void TdlgPatchData::btFillTableClick() {
  FillTable();
  if (isVisible()) ShowTable();
}

bool TdlgPatchData::ApplyTable() {
  const models::tApplyResult result = models::ApplyPatchTable(fTable, fWritten, models::Patches);
  if (!result.Refused.empty()) {
    std::string text = "An area cannot be negative; these patches keep their area:";
    for (const std::string& cell : result.Refused) text += "\n" + cell;
    Dialogs().ShowMessage(this, text, tMessageKind::mkWarning);
  }
  return result.Changed;
}

void TdlgPatchData::Apply() {
  if (dlgVandrel) dlgVandrel->CheckLandscapeUnlocked();
  // Row r stands for patch r - 1 only while the table shows this landscape.
  if (fRefillPending || fTable.size() != models::Patches.size() || fWritten.size() != fTable.size()) {
    Reset();
    Dialogs().ShowMessage(this,
                          "The landscape has changed since the table was filled: the table shows it again "
                          "and nothing was applied.",
                          tMessageKind::mkWarning);
    return;
  }
  // Without a change the landscape drawn is the landscape in force.
  if (ApplyTable() && dlgVandrel) dlgVandrel->ChangePatches();
  // The table shows what the patches hold now, also where a cell was not taken.
  Reset();
}

bool TdlgPatchData::UpdatePatches() {
  MakeTable();
  FillTable();
  if (isVisible()) ShowTable();
  return ApplyTable();
}

void TdlgPatchData::UpdateAndApply() {
  if (!UpdatePatches() || !dlgVandrel) return;
  dlgVandrel->ChangePatches();
  if (isVisible()) Reset();
}

void TdlgPatchData::btResizeColsClick() {
  utile::gui::FitColWidths(sgPatchData, ColumnMargin);
}

void TdlgPatchData::PatchesChanged() {
  fRefillPending = true;
  if (isVisible() && !fFollowTimer->isActive()) fFollowTimer->start();
}

}  // namespace vandrel
