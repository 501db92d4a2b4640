#include "app/dlgBigMatrixU.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTableWidget>
#include <QTextBlock>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

#include "Utile/Platform.h"
#include "Utile/RunTime.h"
#include "Utile/StringOps.h"
#include "Utile/Systeme.h"
#include "Utile/VirtualMatrixOps.h"
#include "Utile/gui/StringOps.h"
#include "app/FormControls.h"
#include "app/SensitivityPage.h"
#include "app/WindowServices.h"
#include "app/dlgBigMatrixOptionsU.h"
#include "app/dlgPatchDataU.h"
#include "app/dlgVandrelU.h"
#include "models/MetapopCommon.h"

namespace vandrel {

using utile::Format;

namespace {

constexpr int32_t MaxPatches = models::MaxBigMatrixDemes;
// A matrix display writes one line per row into the text output: beyond this
// many cells the memo could not hold it.
constexpr int64_t MaxDisplayedCells = 1000000;
const char* const ResultFileFilter = "Text file (*.txt)|*.txt|All files (*.*)|*.*";

// A display of the computation page: read-only.
tLabeledEdit* NewDisplay(QWidget* parent, QFormLayout* form, const char* name, const char* caption) {
  tLabeledEdit* edit = NewLabeledEdit(parent, name, caption, "");
  edit->setReadOnly(true);
  form->addRow(edit->EditLabel, edit);
  return edit;
}

QTableWidget* NewGrid(QWidget* parent, const char* name) {
  auto* grid = new QTableWidget(parent);
  grid->setObjectName(name);
  grid->verticalHeader()->setDefaultSectionSize(22);
  grid->horizontalHeader()->setDefaultSectionSize(64);
  return grid;
}

// A cell of a grid, made when it is missing; fixed cells cannot be edited.
void SetCell(QTableWidget* grid, int row, int column, const std::string& text, bool editable = true) {
  QTableWidgetItem* item = grid->item(row, column);
  if (!item) {
    item = new QTableWidgetItem;
    grid->setItem(row, column, item);
  }
  item->setText(QString::fromStdString(text));
  item->setFlags(editable ? item->flags() | Qt::ItemIsEditable : item->flags() & ~Qt::ItemIsEditable);
}

std::string CellText(const QTableWidget* grid, int row, int column) {
  const QTableWidgetItem* item = grid->item(row, column);
  return item ? item->text().toStdString() : std::string();
}

void SetHeaders(QTableWidget* grid, const QStringList& columns, const QStringList& rows) {
  grid->setHorizontalHeaderLabels(columns);
  grid->setVerticalHeaderLabels(rows);
}

QStringList Numbered(int count, const QString& prefix = "") {
  QStringList labels;
  for (int i = 1; i <= count; ++i) labels << prefix + QString::number(i);
  return labels;
}

// 1 / (1 - L) in the format given, or "Infinity" for L = 1.
std::string TimeText(double lambda, const char* format) {
  return lambda < 1 ? Format(format, 1 / (1 - lambda)) : std::string("Infinity");
}

// The sum of the patches' areas, each rounded.
int64_t MetapopSize() {
  int64_t size = 0;
  for (const models::tCircle& patch : models::Patches) size += utile::Round(patch.A);
  return size;
}

// The lines of a text without those that begin with "*", every kept line with
// its own ending.
std::string WithoutErrorLines(const std::string& text, int32_t& removed) {
  std::string kept;
  removed = 0;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    end = end == std::string::npos ? text.size() : end + 1;
    if (text[start] == '*')
      ++removed;
    else
      kept.append(text, start, end - start);
    start = end;
  }
  return kept;
}

}  // namespace

// While an eigenvalue computation runs: the running flag set (a batch has set
// it already), the controls that would rebuild or free the model locked and the
// progress timer on; all undone on every path.
class TdlgBigMatrix::tComputationScope {
 public:
  explicit tComputationScope(TdlgBigMatrix& form) : fForm(form) {
    if (form.fComputing) throw utile::EInvalidOperation("A computation is running already: abort it first.");
    if (!form.BigMatrixModel)
      throw utile::EInvalidOperation(form.fNoModelReason.empty()
                                         ? std::string("There is no model to compute: initialise it first.")
                                         : form.fNoModelReason);
    form.fComputing = true;
    fOwnsFlag = !form.fSimRunning;
    if (fOwnsFlag) form.fSimRunning = true;
    form.UpdateBusyControls();
    form.timComputation->start();
  }
  ~tComputationScope() {
    fForm.timComputation->stop();
    fForm.fComputing = false;
    if (fOwnsFlag) fForm.fSimRunning = false;
    fForm.UpdateBusyControls();
  }
  tComputationScope(const tComputationScope&) = delete;
  tComputationScope& operator=(const tComputationScope&) = delete;

 private:
  TdlgBigMatrix& fForm;
  bool fOwnsFlag = false;
};

// ------------------------------------------------------------------ creation

TdlgBigMatrix::TdlgBigMatrix(TdlgVandrel* mainWindow) : tModelForm(mainWindow) {
  setObjectName("dlgBigMatrix");
  setWindowTitle("The Big Matrix");
  pcMain = new QTabWidget(this);
  pcMain->setObjectName("pcMain");
  timComputation = new QTimer(this);
  timComputation->setObjectName("timComputation");
  timComputation->setInterval(2000);

  BuildParametersPage();
  BuildComputationPage();
  tabTextOutput = NewTabPage(pcMain, "tabTextOutput", "Text output");
  mmModel = NewMemo(tabTextOutput, "mmModel");
  (new QVBoxLayout(tabTextOutput))->addWidget(mmModel);
  tabResults = NewTabPage(pcMain, "tabResults", "Results");
  pcMain->setTabVisible(pcMain->indexOf(tabResults), false);
  BuildSensitivityPage();

  QAction* acInitialise = NewAction(this, "acInitialise", "&Initialise", Qt::CTRL | Qt::Key_F9);
  QAction* acRun = NewAction(this, "acRun", "&Run", Qt::Key_F9);
  connect(acInitialise, &QAction::triggered, this, [this] {
    Guarded([this] {
      Initialise();
      ShowModel();
    });
  });
  connect(acRun, &QAction::triggered, this, [this] { Guarded([this] { Run(); }); });

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(pcMain);
  resize(980, 640);

  // The parameters of a simulation line, in component order.
  for (QWidget* component :
       std::initializer_list<QWidget*>{edDispersalDistance, edProbThreshold, edPhilopatry, seIterations,
                                       sePrecision, seCoefficientPrecision, cbAlgorithm})
    TaggedComponents.Add(component, 1);
  ConnectHandlers();
  FormCreate();
}

TdlgBigMatrix::~TdlgBigMatrix() = default;

void TdlgBigMatrix::BuildParametersPage() {
  tabParameters = NewTabPage(pcMain, "tabParameters", "Parameters");
  tabParameters->installEventFilter(this);

  // The states of each deme.
  auto* states = new QVBoxLayout;
  seNbStates = NewSpinEdit(tabParameters, "seNbStates", 1, 100, 2);
  auto* statesRow = new QHBoxLayout;
  statesRow->addWidget(NewLabel(tabParameters, "lblNbStates", "Number of &states:", seNbStates));
  statesRow->addWidget(seNbStates);
  statesRow->addStretch(1);
  states->addLayout(statesRow);
  sgStateNumbers = NewGrid(tabParameters, "sgStateNumbers");
  sgStateNumbers->setEditTriggers(QAbstractItemView::NoEditTriggers);
  sgStateNumbers->setColumnCount(2);
  states->addWidget(NewLabel(tabParameters, "lblStateNumbers", "State numbers K:", sgStateNumbers));
  states->addWidget(sgStateNumbers, 1);
  sgDemoTransitions = NewGrid(tabParameters, "sgDemoTransitions");
  sgDemoTransitions->setRowCount(3);
  sgDemoTransitions->setColumnCount(2);
  QLabel* transitions =
      NewLabel(tabParameters, "lblDemoTransitions", "State transition matrix:", sgDemoTransitions);
  states->addWidget(transitions);
  states->addWidget(sgDemoTransitions);
  transitions->hide();
  sgDemoTransitions->hide();

  // Kept for the demography of the patches, which comes from the patches.
  grpDemography = NewGroupBox(tabParameters, "grpDemography", "Demographic parameters");
  auto* demography = new QFormLayout(grpDemography);
  edProductivity = NewLabeledEdit(grpDemography, "edProductivity", "Productivity=", "1.1");
  edSourceProportion = NewLabeledEdit(grpDemography, "edSourceProportion", "Source proportion=", "1");
  edExtinctionRisk = NewLabeledEdit(grpDemography, "edExtinctionRisk", "Extinction risk=", "0");
  edSourceDifferential = NewLabeledEdit(grpDemography, "edSourceDifferential", "Source differential=", "1");
  for (tLabeledEdit* edit : {edProductivity, edSourceProportion, edExtinctionRisk, edSourceDifferential})
    demography->addRow(edit->EditLabel, edit);
  cbDemography = new QComboBox(grpDemography);
  cbDemography->setObjectName("cbDemography");
  demography->addRow(cbDemography);
  btMakeDemography = NewButton(grpDemography, "btMakeDemography", "&Make demography");
  demography->addRow(btMakeDemography);
  sgDemography = NewGrid(grpDemography, "sgDemography");
  sgDemography->setColumnCount(2);
  demography->addRow(sgDemography);
  states->addWidget(grpDemography);
  grpDemography->hide();

  // The dispersal between the patches.
  auto* dispersal = new QVBoxLayout;
  grpConnectivity = NewGroupBox(tabParameters, "grpConnectivity", "Connectivity");
  auto* connectivity = new QFormLayout(grpConnectivity);
  edDispersalDistance =
      NewLabeledEdit(grpConnectivity, "edDispersalDistance", "&Dispersal probability distance=", "999999");
  edProbThreshold =
      NewLabeledEdit(grpConnectivity, "edProbThreshold", "Dispersal probability &threshold=", "0");
  edPhilopatry = NewLabeledEdit(grpConnectivity, "edPhilopatry", "&Philopatry factor=", "0.8");
  for (tLabeledEdit* edit : {edDispersalDistance, edProbThreshold, edPhilopatry}) {
    utile::gui::InstallKeyFilter(edit, utile::gui::EditReal);
    connectivity->addRow(edit->EditLabel, edit);
  }
  ckRelativeToPanmixis = NewCheckBox(grpConnectivity, "ckRelativeToPanmixis", "Relative to panmi&xis", true);
  connectivity->addRow(ckRelativeToPanmixis);
  dispersal->addWidget(grpConnectivity);
  sgDispersal = NewGrid(tabParameters, "sgDispersal");
  sgDispersal->verticalHeader()->setFixedWidth(40);
  dispersal->addWidget(NewLabel(tabParameters, "lblDispersal", "Dispersal matrix M:", sgDispersal));
  dispersal->addWidget(sgDispersal, 1);
  btApply = NewButton(tabParameters, "btApply", "&Initialise");
  auto* applyRow = new QHBoxLayout;
  applyRow->addStretch(1);
  applyRow->addWidget(btApply);
  dispersal->addLayout(applyRow);

  // The state numbers need two narrow columns; the dispersal matrix as many
  // wide ones as there are patches.
  auto* layout = new QHBoxLayout(tabParameters);
  layout->addLayout(states, 1);
  layout->addLayout(dispersal, 3);
}

void TdlgBigMatrix::BuildComputationPage() {
  tabComputation = NewTabPage(pcMain, "tabComputation", "Computation");

  auto* parameters = new QFormLayout;
  auto spin = [this, parameters](const char* name, const char* caption, int minimum, int maximum, int value) {
    QSpinBox* result = NewSpinEdit(tabComputation, name, minimum, maximum, value);
    parameters->addRow(NewLabel(tabComputation, (QString("lbl") + (name + 2)).toLatin1(), caption, result),
                       result);
    return result;
  };
  seIterations = spin("seIterations", "Max. number of iterations:", 5, 100000, 100);
  sePrecision = spin("sePrecision", "Eigenvalue precision (# of digits):", 1, 20, 6);
  seCoefficientPrecision = spin("seCoefficientPrecision", "Coefficient precision (# of digits):", 2, 15, 8);
  seRAMProportion = spin("seRAMProportion", "RAM resource proportion (%):", 0, 100, 100);
  cbAlgorithm = new QComboBox(tabComputation);
  cbAlgorithm->setObjectName("cbAlgorithm");
  parameters->addRow(NewLabel(tabComputation, "lblAlgorithm", "&Algorithm:", cbAlgorithm), cbAlgorithm);
  ckApplicationCondition =
      NewCheckBox(tabComputation, "ckApplicationCondition", "&Application condition check", true);
  ckPropOccupancy = NewCheckBox(tabComputation, "ckPropOccupancy", "Patch proportional &occupancy", false);
  ckPropOccupancy->setToolTip("Returns patch proportional occupancy  (may take longer)");
  parameters->addRow(ckApplicationCondition);
  parameters->addRow(ckPropOccupancy);
  btComputeAll = NewButton(tabComputation, "btComputeAll", "&Compute");
  btAbort = NewButton(tabComputation, "btAbort", "Abort");
  auto* commands = new QHBoxLayout;
  commands->addWidget(btComputeAll);
  commands->addWidget(btAbort);
  auto* left = new QVBoxLayout;
  left->addLayout(parameters);
  left->addLayout(commands);
  left->addStretch(1);

  auto* displays = new QFormLayout;
  edMatrixP0 = NewDisplay(tabComputation, displays, "edMatrixP0", "Matrix Po:");
  edMatrixT = NewDisplay(tabComputation, displays, "edMatrixT", "Matrix T:");
  edLambdaP0 = NewDisplay(tabComputation, displays, "edLambdaP0", "Lambda Po:");
  edLambdaT = NewDisplay(tabComputation, displays, "edLambdaT", "Lambda T:");
  edLambdaG = NewDisplay(tabComputation, displays, "edLambdaG", "Lambda G:");
  edTimeToExtinction = NewDisplay(tabComputation, displays, "edTimeToExtinction", "Time to extinction:");
  edEffectiveSize = NewDisplay(tabComputation, displays, "edEffectiveSize", "Effective size:");
  edDiversityLoss = NewDisplay(tabComputation, displays, "edDiversityLoss", "Time to diversity loss:");
  edDiversityLoss->SetShown(false);
  edActualSize = NewDisplay(tabComputation, displays, "edActualSize", "Actual size:");
  edElapsedTime = NewDisplay(tabComputation, displays, "edElapsedTime", "Elapsed time:");
  edIterationCount = NewDisplay(tabComputation, displays, "edIterationCount", "Iteration count:");
  auto* middle = new QVBoxLayout;
  middle->addLayout(displays);
  middle->addStretch(1);

  auto* right = new QVBoxLayout;
  btDisplayP0 = NewButton(tabComputation, "btDisplayP0", "Display matrix Po");
  btDisplayT = NewButton(tabComputation, "btDisplayT", "Display matrix T");
  btDisplayG = NewButton(tabComputation, "btDisplayG", "Display matrix G");
  btP0Eigensystem = NewButton(tabComputation, "btP0Eigensystem", "&Po Eigensystem");
  btGEigensystem = NewButton(tabComputation, "btGEigensystem", "&G Eigensystem");
  btTEigensystem = NewButton(tabComputation, "btTEigensystem", "&T Eigensystem");
  btTPrimeEigenvalue = NewButton(tabComputation, "btTPrimeEigenvalue", "&T' Eigenvalue");
  for (QPushButton* button : {btDisplayP0, btDisplayT, btDisplayG, btP0Eigensystem, btGEigensystem,
                              btTEigensystem, btTPrimeEigenvalue})
    right->addWidget(button);
  btDisplayG->hide();
  btTPrimeEigenvalue->hide();
  grpHierarchic = NewGroupBox(tabComputation, "grpHierarchic", "Hierarchic analysis");
  auto* hierarchic = new QFormLayout(grpHierarchic);
  seMaxGroupSize = NewSpinEdit(grpHierarchic, "seMaxGroupSize", 1, 9, 3);
  hierarchic->addRow(NewLabel(grpHierarchic, "lblMaxGroupSize", "Max. group size:", seMaxGroupSize),
                     seMaxGroupSize);
  btHierarchicalAnalysis = NewButton(grpHierarchic, "btHierarchicalAnalysis", "&Compute");
  hierarchic->addRow(btHierarchicalAnalysis);
  right->addWidget(grpHierarchic);
  right->addStretch(1);

  // The displays take the page's width under the parameters and the buttons,
  // so that the size of T reads whole, up to the sixteen patches of two states
  // and beyond (some hundred and thirty letters).
  auto* layout = new QGridLayout(tabComputation);
  layout->addLayout(left, 0, 0);
  layout->addLayout(right, 0, 2);
  layout->setColumnStretch(1, 1);
  layout->addLayout(middle, 1, 0, 1, 3);
  layout->setRowStretch(1, 1);
}

void TdlgBigMatrix::BuildSensitivityPage() {
  tabSensitivity = new tSensitivityPage(this,
                                        {.OutputFile = "BatchResults.txt",
                                         .FileButtonEllipsis = true,
                                         .ButtonHints = true,
                                         .CopiesHint = "Number of landscape per set of parameters"},
                                        nullptr);
  pcMain->addTab(tabSensitivity, "Sensitivity analysis");
  btAbortSensitivity = NewButton(tabSensitivity, "btAbortSensitivity", "Abort");
  btPurgeResults = NewButton(tabSensitivity, "btPurgeResults", "&Purge results...");
  btPurgeResults->setToolTip("Purge a result file from its batch error");
  btOptions = NewButton(tabSensitivity, "btOptions", "&Options...");
  ggBatchProgress = new QProgressBar(tabSensitivity);
  ggBatchProgress->setObjectName("ggBatchProgress");
  ggBatchProgress->setRange(0, 100);
  ggBatchProgress->setValue(0);
  lblBatch = NewLabel(tabSensitivity, "lblBatch", "0 lines");
  // After "&Run batch", before the row's stretch.
  tabSensitivity->ButtonLayout->insertWidget(tabSensitivity->ButtonLayout->count() - 1, btAbortSensitivity);
  tabSensitivity->ButtonLayout->addWidget(lblBatch);
  tabSensitivity->OptionsLayout->addWidget(btOptions);
  tabSensitivity->OptionsLayout->addWidget(btPurgeResults);
  tabSensitivity->OptionsLayout->addWidget(ggBatchProgress);
  tabSensitivity->OptionsLayout->addStretch(1);
}

void TdlgBigMatrix::ConnectHandlers() {
  for (tLabeledEdit* edit : {edDispersalDistance, edProbThreshold, edPhilopatry})
    connect(edit, &QLineEdit::textEdited, this, [this] { Guarded([this] { OnModelChange(); }); });
  connect(ckRelativeToPanmixis, &QCheckBox::toggled, this, [this] { Guarded([this] { OnModelChange(); }); });
  // The dispersal matrix depends on the algorithm. A batch sets the list
  // itself and initialises once its values are in place.
  connect(cbAlgorithm, &QComboBox::activated, this, [this] { Guarded([this] { OnModelChange(); }); });
  connect(seNbStates, &QSpinBox::valueChanged, this, [this] { Guarded([this] { seNbStatesChange(); }); });
  for (QTableWidget* grid : {sgDispersal, sgDemoTransitions, sgDemography})
    connect(grid, &QTableWidget::itemChanged, this, [this] {
      if (!fUpdatingGrids) Guarded([this] { Actualisation(); });
    });
  connect(btApply, &QPushButton::clicked, this, [this] { Guarded([this] { Initialise(); }); });

  connect(timComputation, &QTimer::timeout, this, &TdlgBigMatrix::timComputationTimer);
  connect(btComputeAll, &QPushButton::clicked, this, [this] { Guarded([this] { btComputeAllClick(); }); });
  connect(btAbort, &QPushButton::clicked, this, &TdlgBigMatrix::btAbortClick);
  connect(btDisplayP0, &QPushButton::clicked, this,
          [this] { Guarded([this] { DisplayMatrix(tMatrixKind::mkP0); }); });
  connect(btDisplayT, &QPushButton::clicked, this,
          [this] { Guarded([this] { DisplayMatrix(tMatrixKind::mkT); }); });
  connect(btDisplayG, &QPushButton::clicked, this,
          [this] { Guarded([this] { DisplayMatrix(tMatrixKind::mkG); }); });
  connect(btP0Eigensystem, &QPushButton::clicked, this,
          [this] { Guarded([this] { ComputeEigensystem(tMatrixKind::mkP0); }); });
  connect(btGEigensystem, &QPushButton::clicked, this,
          [this] { Guarded([this] { ComputeEigensystem(tMatrixKind::mkG); }); });
  connect(btTEigensystem, &QPushButton::clicked, this,
          [this] { Guarded([this] { ComputeEigensystem(tMatrixKind::mkT); }); });
  connect(btTPrimeEigenvalue, &QPushButton::clicked, this,
          [this] { Guarded([this] { ComputeEigensystem(tMatrixKind::mkP0L); }); });
  connect(btHierarchicalAnalysis, &QPushButton::clicked, this,
          [this] { Guarded([this] { btHierarchicalAnalysisClick(); }); });

  connect(tabSensitivity->btRunBatch, &QPushButton::clicked, this,
          [this] { Guarded([this] { btRunBatchClick(); }); });
  connect(tabSensitivity, &tSensitivityPage::BatchChanged, this,
          [this](int lines) { lblBatch->setText(QString::fromStdString(Format("%d lines", lines))); });
  connect(btAbortSensitivity, &QPushButton::clicked, this, &TdlgBigMatrix::btAbortSensitivityClick);
  connect(btPurgeResults, &QPushButton::clicked, this,
          [this] { Guarded([this] { btPurgeResultsClick(); }); });
  connect(btOptions, &QPushButton::clicked, this, &TdlgBigMatrix::btOptionsClick);
  connect(this, &tModelForm::RunningChanged, this, [this] { UpdateBusyControls(); });
}

void TdlgBigMatrix::FormCreate() {
  ModelHasChanged = true;
  if (dlgVandrel->GetPatchCount() > MaxPatches || PatchCount() > MaxPatches) {
    dlgVandrel->seNbPatch->setValue(MaxPatches);
    dlgVandrel->btMakeLandscapeClick();
    Dialogs().ShowMessage(
        this,
        Format("The BigMatrix module cannot take more than %d patches. Their number has been "
               "reduced accordingly",
               MaxPatches),
        tMessageKind::mkWarning);
  }
  pcMain->setCurrentWidget(tabParameters);
  cbAlgorithm->addItems({"Exact", "Kesp3"});
  cbAlgorithm->setCurrentIndex(0);
  cbDemography->addItems({"Custom parameters", "Source/sink", "Fixed productivity"});
  cbDemography->setCurrentIndex(2);
  try {
    ChangeConnectivityMatrix();
  } catch (const std::exception& error) {
    Dialogs().ShowMessage(this, error.what(), tMessageKind::mkError);
  }

  // The value lists stand for exactly the controls that the batch lines fill, in
  // the order in which they fill them.
  auto shown = [](tSensitivityEntries entries) {
    for (tSensitivityEntry& entry : entries) entry.Visible = ShownWithParent(entry.Component);
    return entries;
  };
  tSensitivityEntries landscape = shown(TaggedEntries(dlgVandrel->TaggedComponents, 1, IsEditControl));
  tSensitivityEntries files = shown(TaggedEntries(dlgVandrel->TaggedComponents, 2, IsEditControl));
  // File names: empty when not in use, picked with a double-click or typed as they are.
  for (tSensitivityEntry& entry : files) {
    entry.AllowEmpty = true;
    entry.FilterKeys = false;
  }
  landscape.insert(landscape.end(), files.begin(), files.end());
  if (dlgPatchData) {
    const tSensitivityEntries patches =
        shown(TaggedEntries(dlgPatchData->TaggedComponents, 1, IsEditControl));
    landscape.insert(landscape.end(), patches.begin(), patches.end());
  }
  tabSensitivity->BuildSensitivityPage(landscape, shown(TaggedEntries(TaggedComponents, 1)));
  Actualisation();
  UpdateBusyControls();
}

void TdlgBigMatrix::Guarded(const std::function<void()>& command) {
  vandrel::Guarded(this, [&] {
    try {
      command();
    } catch (const models::EBigMatrixStopped&) {
      // Stopped by a closing window: nothing to tell.
    }
  });
}

// ------------------------------------------------------------------ the model form

void TdlgBigMatrix::FormClose() {
  timComputation->stop();
  BigMatrixModel.reset();
  DispersalMatrix.clear();
  tModelForm::FormClose();
}

void TdlgBigMatrix::FormActivate() {
  if (!dlgVandrel || dlgVandrel->CurrentModel == this) return;
  dlgVandrel->CurrentModel = this;
  dlgVandrel->DrawSpace();
}

double TdlgBigMatrix::GetAlpha() {
  const double distance = ReadReal(edDispersalDistance, 10);
  if (distance == 0) throw utile::EZeroDivide("The dispersal probability distance must not be 0.");
  return 1 / distance;
}

double TdlgBigMatrix::InverseDistance(int32_t i, int32_t j) {
  double c = tModelForm::InverseDistance(i, j);
  const double philopatry = ReadReal(edPhilopatry, 1.0);
  c = i != j ? (1 - philopatry) * c : philopatry;
  if (ReadReal(edProbThreshold, 0.01) >= c) c = 0;
  return c;
}

void TdlgBigMatrix::Run() {
  tHourGlass hourGlass;
}

void TdlgBigMatrix::Stop() {
  tModelForm::Stop();
  if (fComputing) utile::EigenStatus = 1;
}

double TdlgBigMatrix::Dispersal(int32_t i, int32_t j) const {
  return DispersalMatrix.at(i).at(j);
}

void TdlgBigMatrix::ChangeConnectivityMatrix() {
  Initialise();
  SetConnectivityFunction([this](int32_t i, int32_t j) { return Dispersal(i, j); });
}

void TdlgBigMatrix::OnModelChange() {
  ModelHasChanged = true;
  Initialise();
}

void TdlgBigMatrix::ClearResultDisplays() {
  for (tLabeledEdit* display : {edLambdaP0, edLambdaT, edLambdaG, edElapsedTime, edIterationCount,
                                edTimeToExtinction, edEffectiveSize, edDiversityLoss})
    display->clear();
}

// ------------------------------------------------------------------ Initialise

void TdlgBigMatrix::Initialise() {
  if (fComputing)
    throw utile::EInvalidOperation("The model cannot be rebuilt while a computation is running.");
  const int32_t n = PatchCount();
  const int32_t Ns = seNbStates->value();
  // Everything that can fail is read before anything changes.
  models::tBigMatrixDispersal with;
  with.Alpha = GetAlpha();
  with.Algorithm = cbAlgorithm->currentIndex() == 1 ? models::bmaKesp3 : models::bmaExact;
  with.Philopatry = ReadReal(edPhilopatry, 0);
  with.RelativeToPanmixis = ckRelativeToPanmixis->isChecked();
  with.Threshold = ReadReal(edProbThreshold, 0);
  utile::tMatrixOfDouble dispersal =
      models::BigMatrixDispersal(models::DistanceMat, models::ConnectanceMat, with);

  fUpdatingGrids = true;
  // 1. the state numbers: empty, the area, and the rounded shares between them
  int64_t actualSize = 0;
  sgStateNumbers->setRowCount(n);
  sgStateNumbers->setColumnCount(Ns);
  for (int32_t i = 0; i < n; ++i) {
    const double area = models::Patches[i].A;
    SetCell(sgStateNumbers, i, 0, "0");
    for (int32_t k = 1; k <= Ns - 2; ++k)
      SetCell(sgStateNumbers, i, k, Format("%d", utile::Round(k * area / (Ns - 1))));
    SetCell(sgStateNumbers, i, Ns - 1, Format("%g", area));
    actualSize += utile::Round(area);
  }
  // 2.-8. the dispersal matrix, and its grid with a row of sums
  DispersalMatrix = std::move(dispersal);
  sgDispersal->setRowCount(n + 1);
  sgDispersal->setColumnCount(n);
  for (int32_t i = 0; i < n; ++i)
    for (int32_t j = 0; j < n; ++j) SetCell(sgDispersal, i, j, Format("%g", DispersalMatrix[i][j]));
  fUpdatingGrids = false;
  ComputeMaxConnectivity();
  tabParametersResize();

  // 9. the model, from the grids as they show it
  if (n > MaxPatches || n < 1) {
    BigMatrixModel.reset();
    fNoModelReason =
        n < 1
            ? std::string("There is no patch: the BigMatrix module needs at least one.")
            : Format(
                  "The BigMatrix module cannot take more than %d patches, and this landscape has %d: reduce "
                  "their number and initialise again.",
                  MaxPatches, n);
    ClearResultDisplays();
    edActualSize->clear();
    // A batch goes on: its simulation line reports the missing model.
    if (!fSimRunning) Dialogs().ShowMessage(this, fNoModelReason, tMessageKind::mkWarning);
    Actualisation();
    return;
  }
  if (Ns != 2) {
    Dialogs().ShowMessage(this, "Only SPOMs have yet been implemented.", tMessageKind::mkError);
    Actualisation();
    return;
  }
  auto model = std::make_unique<models::tBigSPOMModel>(n);
  for (int32_t d = 0; d < n; ++d) {
    model->Setb(d, models::Patches[d].b);
    model->Sete(d, models::Patches[d].e);
    for (int32_t j = 0; j < n; ++j)
      model->SetM(d, j, utile::StrToFloatDefAnySeparator(CellText(sgDispersal, d, j), 0));
    for (int32_t s = 0; s < Ns; ++s) {
      const double size = utile::StrToFloatDefAnySeparator(CellText(sgStateNumbers, d, s), 0);
      model->SetN(d, s, size);
      model->SetNe(d, s, size);
    }
  }
  model->Reset();
  BigMatrixModel = std::move(model);
  fNoModelReason.clear();
  ClearResultDisplays();
  edActualSize->setText(QString::fromStdString(Format("%d", actualSize)));
  dlgVandrel->DrawSpace();
  Actualisation();
}

// ------------------------------------------------------------------ Actualisation

std::string TdlgBigMatrix::MatrixP0Text(int32_t n, int32_t Ns) {
  const long double rows = std::pow(static_cast<long double>(Ns), n) - 1;
  if (n < 1 || rows > 9e15L) return "";
  const int64_t r = static_cast<int64_t>(rows);
  return Format("%d x %d = %.0n", r, r, static_cast<long double>(r) * r);
}

std::string TdlgBigMatrix::MatrixTText(int32_t n, int32_t Ns, int64_t freeMemory) {
  const long double rows = (std::pow(static_cast<long double>(Ns), n) - 1) * n * n;
  if (n < 1 || rows > 9e15L) return "";
  const int64_t r = static_cast<int64_t>(rows);
  const long double cells = static_cast<long double>(r) * r;
  const long double bytes = 8 * cells;
  return Format("%d x %d = %.0n (%.0n Mb = %.0n%% of available memory)", r, r, cells,
                bytes / (1024.0L * 1024.0L), 100 * bytes / std::max<long double>(freeMemory, 1));
}

void TdlgBigMatrix::Actualisation() {
  fUpdatingGrids = true;
  const int32_t n = sgStateNumbers->rowCount();
  const QStringList demes = Numbered(n, "Deme ");
  SetHeaders(sgStateNumbers, Numbered(sgStateNumbers->columnCount()), demes);
  sgDemography->setRowCount(n);
  SetHeaders(sgDemography, {"Birth b", "Extinction e"}, demes);
  // The last row of each matrix holds its column sums.
  for (QTableWidget* grid : {sgDemoTransitions, sgDispersal}) {
    if (grid->rowCount() < 1) continue;
    const int rows = grid->rowCount() - 1;
    QStringList rowHeaders = Numbered(rows);
    rowHeaders << "Sum";
    SetHeaders(grid, Numbered(grid->columnCount()), rowHeaders);
    for (int column = 0; column < grid->columnCount(); ++column) {
      double sum = 0;
      for (int row = 0; row < rows; ++row)
        sum += utile::StrToFloatDefAnySeparator(CellText(grid, row, column), 0);
      SetCell(grid, rows, column, Format("%g", sum), false);
    }
  }
  fUpdatingGrids = false;
  // An edited cell or a sum may need a wider column.
  tabParametersResize();
  const int32_t patches = PatchCount();
  edMatrixP0->setText(QString::fromStdString(MatrixP0Text(patches, seNbStates->value())));
  edMatrixT->setText(
      QString::fromStdString(MatrixTText(patches, seNbStates->value(), utile::GetFreeMemory())));
  edMatrixT->setCursorPosition(0);
  edMatrixT->setToolTip(edMatrixT->text());
}

void TdlgBigMatrix::seNbStatesChange() {
  const int Ns = seNbStates->value();
  fUpdatingGrids = true;
  const int last = sgDemoTransitions->rowCount() - 1;
  for (int column = 0; column < sgDemoTransitions->columnCount(); ++column)
    if (QTableWidgetItem* item = sgDemoTransitions->item(last, column)) item->setText("");
  // The states and a row of sums.
  sgDemoTransitions->setRowCount(Ns + 1);
  sgDemoTransitions->setColumnCount(Ns);
  sgStateNumbers->setColumnCount(Ns);
  fUpdatingGrids = false;
  Initialise();
  Actualisation();
}

void TdlgBigMatrix::tabParametersResize() {
  const int columns = sgDispersal->columnCount();
  if (columns < 1) return;
  // Each column its share of the width, but never less than its cells need to be
  // read whole: the grid scrolls sideways where they need more.
  const int share = (sgDispersal->width() - 2 * sgDispersal->frameWidth() - 40) / columns;
  const QAbstractItemView* cells = sgDispersal;  // where the width a column's cells need is public
  for (int column = 0; column < columns; ++column)
    sgDispersal->setColumnWidth(column, std::max(share >= 41 ? share : 40, cells->sizeHintForColumn(column)));
}

bool TdlgBigMatrix::eventFilter(QObject* watched, QEvent* event) {
  if (watched == tabParameters && event->type() == QEvent::Resize) tabParametersResize();
  return tModelForm::eventFilter(watched, event);
}

void TdlgBigMatrix::btOptionsClick() {
  TdlgBigMatrixOptions* options = dlgBigMatrixOptions;
  if (!options) options = dlgBigMatrixOptions = new TdlgBigMatrixOptions(dlgVandrel);
  options->pcOptions->setCurrentWidget(options->tsSensitivity);
  options->exec();
}

void TdlgBigMatrix::UpdateBusyControls() {
  const bool busy = fComputing || fSimRunning;
  tabParameters->setEnabled(!busy);
  for (QWidget* control : std::initializer_list<QWidget*>{seIterations,
                                                          sePrecision,
                                                          seCoefficientPrecision,
                                                          seRAMProportion,
                                                          cbAlgorithm,
                                                          ckApplicationCondition,
                                                          ckPropOccupancy,
                                                          btComputeAll,
                                                          btDisplayP0,
                                                          btDisplayT,
                                                          btDisplayG,
                                                          btP0Eigensystem,
                                                          btGEigensystem,
                                                          btTEigensystem,
                                                          btTPrimeEigenvalue,
                                                          grpHierarchic,
                                                          tabSensitivity->sboxLanSensitivity,
                                                          tabSensitivity->sboxSensitivity,
                                                          tabSensitivity->seNbLandscapes,
                                                          tabSensitivity->seNbRuns,
                                                          tabSensitivity->edOutputFile,
                                                          tabSensitivity->btMakeBatch,
                                                          tabSensitivity->btAppendToBatch,
                                                          tabSensitivity->btRunBatch,
                                                          tabSensitivity->btLoadBatch,
                                                          tabSensitivity->btSaveBatch,
                                                          tabSensitivity->btClearBatch,
                                                          btPurgeResults,
                                                          btOptions})
    control->setEnabled(!busy);
  btAbort->setEnabled(fComputing);
  btAbortSensitivity->setEnabled(fSimRunning);
}

// ------------------------------------------------------------------ computation

models::tBigMatrixSettings TdlgBigMatrix::Settings() const {
  models::tBigMatrixSettings settings;
  settings.Iterations = seIterations->value();
  settings.Precision = sePrecision->value();
  settings.CoefficientPrecision = seCoefficientPrecision->value();
  settings.RAMPercent = seRAMProportion->value();
  settings.PropOccupancy = ckPropOccupancy->isChecked();
  return settings;
}

bool TdlgBigMatrix::ApplicationConditionCheck() const {
  if (cbAlgorithm->currentIndex() != 1 || !BigMatrixModel) return false;
  return models::ApplicationConditionCheck(*BigMatrixModel);
}

void TdlgBigMatrix::btComputeAllClick() {
  if (!BigMatrixModel)
    throw utile::EInvalidOperation(fNoModelReason.empty()
                                       ? std::string("There is no model to compute: initialise it first.")
                                       : fNoModelReason);
  const bool kesp3 = cbAlgorithm->currentIndex() == 1;
  if (kesp3 && ckApplicationCondition->isChecked() && !ApplicationConditionCheck())
    Dialogs().ShowMessage(this, "The approximation might be wrong.", tMessageKind::mkWarning);
  std::string header = "MetapopSize\tLp0\tLt\tLg";
  if (ckPropOccupancy->isChecked())
    for (int32_t i = 1; i <= PatchCount(); ++i) header += Format("\tOccup%d", i);
  mmModel->appendPlainText(QString::fromStdString(header + "\tTime\tIterations"));
  if (kesp3)
    ComputeKesp3();
  else
    ComputeExact();
}

void TdlgBigMatrix::ComputeExact() {
  Compute(models::bmaExact);
}

void TdlgBigMatrix::ComputeKesp3() {
  Compute(models::bmaKesp3);
}

void TdlgBigMatrix::Compute(models::tBMAlgorithm algorithm) {
  tComputationScope scope(*this);
  const bool exact = algorithm == models::bmaExact;
  CurrentEditOutput = edLambdaP0;
  OldIteration = 0;
  // A batch line's result begins with its landscape and parameter values.
  std::string line = fInBatchLine ? sLan + sPar : std::string();
  if (line == "\t") line.clear();
  line += Format("%d", MetapopSize());
  const double start = utile::SteadyNow();
  StartTime = IterationStartTime = start;

  models::tBigMatrixProgress progress;
  progress.StageStarts = [this, exact](models::tBigMatrixStage stage) {
    StartTime = utile::SteadyNow();
    OldIteration = 0;
    switch (stage) {
      case models::tBigMatrixStage::bsP0:
        CurrentEditOutput = edLambdaP0;
        if (!exact) edIterationCount->setText("Precomputing matrix P0...");
        break;
      case models::tBigMatrixStage::bsT:
        CurrentEditOutput = edLambdaT;
        edIterationCount->setText("Precomputing matrix T...");
        break;
      case models::tBigMatrixStage::bsG:
        CurrentEditOutput = edLambdaG;
        edIterationCount->setText("Precomputing matrix G...");
        break;
    }
  };
  progress.IterationStarts = [this] { IterationStartTime = utile::SteadyNow(); };
  progress.StageEnds = [this, exact](models::tBigMatrixStage stage, const models::tBigMatrixResults& r) {
    if (stage == models::tBigMatrixStage::bsP0) {
      edLambdaP0->setText(QString::fromStdString(utile::ValToStrError(r.Lp0, r.ErrLp0)));
      edTimeToExtinction->setText(QString::fromStdString(TimeText(r.Lp0, "%.f")));
    } else if (stage == models::tBigMatrixStage::bsT) {
      edLambdaT->setText(QString::fromStdString(utile::ValToStrError(r.Lt, r.ErrLt)));
      edDiversityLoss->setText(QString::fromStdString(TimeText(r.Lt, exact ? "%.f" : "%.1g")));
    }
  };
  // A batch abort or a closing window stops the computation after its stage.
  progress.Stopped = [this] { return !fSimRunning; };

  models::tBigMatrixResults r;
  if (exact)
    models::ComputeExact(*BigMatrixModel, Settings(), progress, r);
  else
    models::ComputeKesp3(*BigMatrixModel, Settings(), progress, r);

  edLambdaG->setText(QString::fromStdString(utile::ValToStrError(r.Lg, r.ErrLg)));
  edElapsedTime->setText(QString::fromStdString(utile::ElapsedTimeToStr(utile::SteadyNow() - start)));
  edIterationCount->setText(QString::fromStdString(Format("%d", r.Passes)));
  edEffectiveSize->setText(QString::fromStdString(TimeText(r.Lg, "%.f")));
  line += "\t" + utile::ValToStr(r.Lp0, r.ErrLp0) + "\t" + utile::ValToStr(r.Lt, r.ErrLt) + "\t" +
          utile::ValToStr(r.Lg, r.ErrLg);
  for (const double occupancy : r.Occupancy) line += "\t" + utile::ValToStr(occupancy, 0);
  line += "\t" + edElapsedTime->text().toStdString() + "\t" + edIterationCount->text().toStdString();
  mmModel->appendPlainText(QString::fromStdString(line));
}

void TdlgBigMatrix::timComputationTimer() {
  if (CurrentEditOutput)
    CurrentEditOutput->setText(
        QString::fromStdString(utile::ValToStrError(utile::EigenEstimate, 2 * utile::EigenError)));
  const double now = utile::SteadyNow();
  edElapsedTime->setText(QString::fromStdString(utile::DurationToStr(now - StartTime, false)));
  if (utile::EigenIteration != 0 && utile::EigenIteration > OldIteration) {
    edIterationCount->setText(QString::fromStdString(
        Format("%d    (%s / iteration)", utile::EigenIteration,
               utile::DurationToStr((now - IterationStartTime) / utile::EigenIteration, true))));
    OldIteration = utile::EigenIteration;
  } else if (utile::EigenIteration == 0) {
    edIterationCount->setText("0");
    OldIteration = 0;
  }
}

void TdlgBigMatrix::btAbortClick() {
  utile::EigenStatus = 1;
}

void TdlgBigMatrix::DisplayMatrix(tMatrixKind kind) {
  if (fComputing || fSimRunning) throw utile::EInvalidOperation("A computation is running: abort it first.");
  if (!BigMatrixModel) throw utile::EInvalidOperation("There is no model to display: initialise it first.");
  models::tBigSPOMModel& model = *BigMatrixModel;
  utile::tBaseVirtualMatrixOfDouble* matrix = &model.P0Mat();
  const char* name = "Po";
  if (kind == tMatrixKind::mkT) {
    matrix = &model.TMat();
    name = "T";
  } else if (kind == tMatrixKind::mkG) {
    model.GMat().State = (1u << model.DemeCount()) - 1;
    matrix = &model.GMat();
    name = "G";
  }
  const int64_t rows = matrix->RowCount();
  const int64_t cells = rows * rows;
  if (cells > MaxDisplayedCells) {
    Dialogs().ShowMessage(
        this, Format("This matrix has %d cells: too many to display (at most %d).", cells, MaxDisplayedCells),
        tMessageKind::mkWarning);
    return;
  }
  if (!Dialogs().Confirm(this, Format("This matrix has %d cells. Do you really want to display it?", cells)))
    return;
  tHourGlass hourGlass;
  model.SetCoefficientPrecision(std::pow(10.0, -seCoefficientPrecision->value()));
  QStringList lines;
  lines << QString::fromStdString(Format("Matrix %s (%d x %d):", name, rows, rows));
  for (int64_t r = 0; r < rows; ++r) {
    std::string text;
    for (int64_t c = 0; c < rows; ++c)
      text +=
          Format("%10.4g", matrix->Cells(static_cast<utile::Cardinal>(r), static_cast<utile::Cardinal>(c)));
    lines << QString::fromStdString(text);
  }
  mmModel->appendPlainText(lines.join('\n'));
  pcMain->setCurrentWidget(tabTextOutput);
}

void TdlgBigMatrix::ComputeEigensystem(tMatrixKind kind) {
  tComputationScope scope(*this);
  models::tBigSPOMModel& model = *BigMatrixModel;
  const int32_t I = seIterations->value(), p = sePrecision->value();
  const double start = utile::SteadyNow();
  StartTime = IterationStartTime = start;
  OldIteration = 0;
  CurrentEditOutput = nullptr;
  model.SetCoefficientPrecision(std::pow(10.0, -seCoefficientPrecision->value()));
  models::MarkNoPassYet();
  double value = 0, error = 0;
  std::string label;
  auto eigensystem = [&](utile::tBaseVirtualMatrixOfDouble& matrix, int32_t passes, double tolerance) {
    utile::tVectorOfDouble vector(matrix.RowCount());
    utile::DominantEigensystem(matrix, vector, value, false, passes, tolerance);
    error = models::EigensystemError();
  };
  switch (kind) {
    case tMatrixKind::mkP0:
      label = "Eigenvalue P0:\t";
      eigensystem(model.P0Mat(), 2 * I, std::pow(10.0, -p - 3.0));
      break;
    case tMatrixKind::mkG:
      label = "Eigenvalue G:\t";
      model.GMat().State = (1u << model.DemeCount()) - 1;
      eigensystem(model.GMat(), I, std::pow(10.0, -p - 3.0));
      break;
    case tMatrixKind::mkT: {
      label = "Eigenvalue T:\t";
      edIterationCount->setText("Precomputing matrix T...");
      models::WithRAMWindow(model.TMat(), models::RAMBudget(seRAMProportion->value()), [&] {
        IterationStartTime = utile::SteadyNow();
        eigensystem(model.TMat(), I, std::pow(10.0, -p - 1.0));
      });
      break;
    }
    case tMatrixKind::mkP0L:
      label = "Eigenvalue T':\t";
      utile::DominantEigenvalue(model.P0LMat(), value, I, std::pow(10.0, -p - 1.0));
      error = 2 * utile::EigenError;
      break;
  }
  edElapsedTime->setText(QString::fromStdString(utile::ElapsedTimeToStr(utile::SteadyNow() - start)));
  edIterationCount->setText(
      QString::fromStdString(Format("%d", std::max<int32_t>(utile::EigenIteration, 0))));
  mmModel->appendPlainText(QString::fromStdString(label + utile::ValToStrError(value, error)));
  mmModel->appendPlainText(QString::fromStdString("Elapsed time:\t" + edElapsedTime->text().toStdString()));
}

void TdlgBigMatrix::btHierarchicalAnalysisClick() {
  tComputationScope scope(*this);
  const double start = utile::SteadyNow();
  StartTime = IterationStartTime = start;
  OldIteration = 0;
  CurrentEditOutput = nullptr;
  double Lt = 0, Lp0 = 0, Lg = 0;
  const models::tBMAlgorithm algorithm =
      cbAlgorithm->currentIndex() == 1 ? models::bmaKesp3 : models::bmaExact;
  models::HierachicalAnalysis(*BigMatrixModel, seMaxGroupSize->value(), algorithm, Lt, Lp0, Lg,
                              seIterations->value(), sePrecision->value(), seRAMProportion->value());
  edElapsedTime->setText(QString::fromStdString(utile::ElapsedTimeToStr(utile::SteadyNow() - start)));
  mmModel->appendPlainText(
      QString::fromStdString(Format("Hierarchic analysis (max. group size %d, %s)", seMaxGroupSize->value(),
                                    cbAlgorithm->currentText().toStdString())));
  mmModel->appendPlainText("Lp0\tLt\tLg");
  mmModel->appendPlainText(QString::fromStdString(Format("%g\t%g\t%g", Lp0, Lt, Lg)));
  mmModel->appendPlainText(QString::fromStdString("Elapsed time:\t" + edElapsedTime->text().toStdString()));
}

// ------------------------------------------------------------------ sensitivity batch

void TdlgBigMatrix::WriteHeaders() {
  std::string header = "Landscape";
  for (const QLabel* label : tabSensitivity->lblLanParams())
    header += "\t" + utile::Replace(label->text().toStdString(), ":", "");
  for (const QLabel* label : tabSensitivity->lblParams())
    header += "\t" + utile::Replace(label->text().toStdString(), ":", "");
  header += "\tPopSize\tLp0\tLt\tLg";
  if (ckPropOccupancy->isChecked())
    for (int32_t i = 1; i <= PatchCount(); ++i) header += Format("\tOccup%d", i);
  header += "\tTime\tIterations";
  Fs.WriteLn(header);
  mmModel->appendPlainText(QString::fromStdString(header));
}

void TdlgBigMatrix::Simulation(const std::string& Line) {
  fInBatchLine = true;
  try {
    try {
      tModelForm::Simulation(Line);
    } catch (const EBatchValueError&) {
      throw;  // the framework reports a value that a control cannot take
    } catch (const std::exception& error) {
      // A model that cannot be built fails this line only.
      WriteErrorRow(error.what());
      fInBatchLine = false;
      return;
    }
    RunSensitivity();
  } catch (...) {
    fInBatchLine = false;
    throw;
  }
  fInBatchLine = false;
}

std::string TdlgBigMatrix::LastOutputLine() const {
  return mmModel->document()->lastBlock().text().toStdString();
}

void TdlgBigMatrix::WriteErrorRow(const std::string& reason) {
  mmModel->appendPlainText(QString::fromStdString(reason));
  mmModel->appendPlainText(QString::fromStdString("****** Error for " + sLan + sPar + " ************"));
  ++BatchErrors;
  Fs.WriteLn(LastOutputLine());
}

void TdlgBigMatrix::RunSensitivity() {
  ggBatchProgress->setValue(BatchProgress);
  // The page's Abort can come through between two lines too.
  utile::ProcessMessagesNow();
  try {
    if (!fSimRunning) throw models::EBigMatrixStopped("The analysis was aborted.");
    const bool useExact =
        dlgBigMatrixOptions && dlgBigMatrixOptions->ckUseExactAlgorithmWhenNeeded->isChecked();
    if (cbAlgorithm->currentIndex() == 0 || (useExact && !ApplicationConditionCheck()))
      ComputeExact();
    else
      ComputeKesp3();
  } catch (const std::exception& error) {
    WriteErrorRow(error.what());
    return;
  }
  Fs.WriteLn(LastOutputLine());
}

void TdlgBigMatrix::btRunBatchClick() {
  RunBatch(tabSensitivity->BatchLines(), tabSensitivity->edOutputFile->text().toStdString(), false);
  ggBatchProgress->setValue(BatchProgress);
}

void TdlgBigMatrix::btAbortSensitivityClick() {
  if (!Dialogs().Confirm(this, "Do you really want to abort the analysis?")) return;
  fSimRunning = false;
  utile::EigenStatus = 1;
}

void TdlgBigMatrix::btPurgeResultsClick() {
  if (fSimRunning) throw utile::EInvalidOperation("A batch is running: abort it before purging its results.");
  const auto name = Dialogs().OpenFileName(this, "Select file to purge", ResultFileFilter, "txt");
  if (!name) return;
  int32_t removed = 0;
  const std::string kept = WithoutErrorLines(utile::LoadTextFromFile(*name), removed);
  utile::SaveTextToFile(*name, kept);
  Dialogs().ShowMessage(this, Format("Errors found: %d", removed), tMessageKind::mkInformation);
}

}  // namespace vandrel
