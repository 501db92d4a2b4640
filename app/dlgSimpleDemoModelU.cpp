#include "app/dlgSimpleDemoModelU.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QFontDatabase>
#include <QFontMetricsF>
#include <QDateTime>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScopeGuard>
#include <QSpinBox>
#include <QTabWidget>
#include <QTextCursor>
#include <QVBoxLayout>
#include <QValueAxis>
#include <cmath>
#include <exception>

#include "Utile/Idrisi.h"
#include "Utile/RunTime.h"
#include "Utile/StringOps.h"
#include "Utile/VectorOps.h"
#include "Utile/gui/GraphicOps.h"
#include "Utile/gui/StringOps.h"
#include "app/FormControls.h"
#include "app/SensitivityPage.h"
#include "app/WindowServices.h"
#include "app/dlgVandrelU.h"

namespace vandrel {

namespace {
const char* const AnalysisNames[] = {"Rare Species Persistence", "Metapopulation Size",
                                     "Metapopulation Connectivity"};

// The result memo's per-patch lines follow the patch's position, counted from 1.
const char* const CapacityLine = "                \t%.3g\t%.3g";
const char* const CapacityLineAggregated = "                 \t%.3g\t%.3g";
const char* const SizeLine = "                \t%.3g\t%.3g\t%.3g";
const char* const ConnectivityLine = "                \t%.3g\t%.3g";

// The grid of the interface mode.
constexpr int32_t InterfaceGrid = 100;

// The caption of an edit as a field name: "&Territory area=" -> "Territory area".
std::string FieldName(const tLabeledEdit* edit) {
  std::string name = edit->EditLabel->text().toStdString();
  std::erase(name, '&');
  while (!name.empty() && (name.back() == '=' || name.back() == ':')) name.pop_back();
  return name;
}

// The strict conversions of the run-time library; the error names the field.
double ReadReal(const tLabeledEdit* edit) {
  const std::string text = edit->text().toStdString();
  double value;
  if (!utile::TryStrToFloat(text, value))
    throw utile::EConvertError(FieldName(edit) + ": " +
                               utile::Format("'%s' is not a valid floating point value", text));
  return value;
}

int32_t ReadInteger(const tLabeledEdit* edit) {
  try {
    return utile::StrToInt(edit->text().toStdString());
  } catch (const utile::EConvertError& error) {
    throw utile::EConvertError(FieldName(edit) + ": " + error.Message());
  }
}

void Warn(QWidget* parent, const char* text) {
  Dialogs().ShowMessage(parent, text, tMessageKind::mkWarning);
}
}  // namespace

// ------------------------------------------------------------ creation

TdlgSimpleDemoModel::TdlgSimpleDemoModel(TdlgVandrel* mainWindow) : tModelForm(mainWindow) {
  setObjectName("dlgSimpleDemoModel");
  setWindowTitle("Simple demographic Model");
  resize(760, 520);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(4, 4, 4, 4);
  pcModel = new QTabWidget(this);
  pcModel->setObjectName("pcModel");
  layout->addWidget(pcModel);

  tsParameters = NewTabPage(pcModel, "tsParameters", "Parameters");
  BuildParametersPage();

  tsModel = NewTabPage(pcModel, "tsModel", "Model");
  mmmModel = NewMemo(tsModel, "mmmModel");
  (new QVBoxLayout(tsModel))->addWidget(mmmModel);

  // The results page and the page inside it are kept but never shown.
  tsResults = NewTabPage(pcModel, "tsResults", "Results");
  pcModel->setTabVisible(pcModel->indexOf(tsResults), false);
  auto* resultPages = new QTabWidget(tsResults);
  resultPages->setObjectName("pcResults");
  (new QVBoxLayout(tsResults))->addWidget(resultPages);
  tsHiddenResults = NewTabPage(resultPages, "tsHiddenResults", "");
  resultPages->setTabVisible(resultPages->indexOf(tsHiddenResults), false);
  auto* hiddenLayout = new QVBoxLayout(tsHiddenResults);
  hiddenLayout->addWidget(new utile::gui::tGraphicChart(tsHiddenResults, "", "", ""));
  hiddenLayout->addWidget(new QRadioButton(tsHiddenResults));
  hiddenLayout->addWidget(new QRadioButton(tsHiddenResults));

  tsSensitivity = NewTabPage(pcModel, "tsSensitivityTab", "Sensitivity analysis");

  acRun = NewAction(this, "acRun", "&Run", Qt::Key_F9);
  acInitialise = NewAction(this, "acInitialise", "&Initialise", Qt::CTRL | Qt::Key_F9);

  // The controls that take the values of a simulation line, in component order.
  for (QWidget* component :
       std::initializer_list<QWidget*>{edZetaImmigFact, edEmigScalFact, edExtScalFact, edColonisation,
                                       edExtinction, edNewPatchArea, edTerritory, edRange})
    TaggedComponents.Add(component, 1);

  BuildSensitivityPage();
  ConnectHandlers();
  pcModel->setCurrentWidget(tsParameters);
  fLastPage = pcModel->currentIndex();

  ModelHasChanged = true;
  ChangeConnectivityMatrix();
  // A landscape whose capacity cannot be computed still gets its workbench. It
  // initialises only itself: the main window's current workbench is still the
  // previous one.
  Guarded(&TdlgSimpleDemoModel::Initialise);
}

void TdlgSimpleDemoModel::BuildParametersPage() {
  auto* page = new QGridLayout(tsParameters);
  page->setContentsMargins(4, 4, 4, 4);

  // Parameters
  grpParameters = NewGroupBox(tsParameters, "grpParameters", "Parameters");
  auto* parameters = new QFormLayout(grpParameters);
  edTerritory = NewLabeledEdit(grpParameters, "edTerritory", "&Territory area=", "1");
  edRange = NewLabeledEdit(grpParameters, "edRange", "Mean dispersal Distance=", "100");
  edColonisation = NewLabeledEdit(grpParameters, "edColonisation", "&Colonisation rate=", "1");
  edEmigScalFact = NewLabeledEdit(grpParameters, "edEmigScalFact", "&Emigration Scaling Factor=", "1");
  edZetaImmigFact = NewLabeledEdit(grpParameters, "edZetaImmigFact", "&Immigration Scaling Factor=", "0");
  edExtinction = NewLabeledEdit(grpParameters, "edExtinction", "&Extinction rate=", "1000");
  edExtScalFact = NewLabeledEdit(grpParameters, "edExtScalFact", "&Extinction Scaling Factor=", "1");
  edNewPatchArea = NewLabeledEdit(grpParameters, "edNewPatchArea", "&New patch area=", "1");
  edAutocorrelation = NewLabeledEdit(grpParameters, "edAutocorrelation", "&Mean Spatial Autocorrelation=", "1");
  edAutocorreIationIntercept =
      NewLabeledEdit(grpParameters, "edAutocorreIationIntercept", "&Autocorrelation Intercept=", "1");
  for (tLabeledEdit* edit :
       {edTerritory, edRange, edColonisation, edEmigScalFact, edZetaImmigFact, edExtinction, edExtScalFact,
        edNewPatchArea, edAutocorrelation, edAutocorreIationIntercept})
    parameters->addRow(edit->EditLabel, edit);
  edColonisation->SetEnabledWithLabel(false);
  edExtinction->SetEnabledWithLabel(false);
  edAutocorrelation->SetShown(false);
  edAutocorreIationIntercept->SetShown(false);
  page->addWidget(grpParameters, 0, 0);

  // Patch Aggregation and Bootstraping
  GroupBox8 = NewGroupBox(tsParameters, "GroupBox8", "Patch Aggregation and Bootstraping");
  auto* aggregation = new QFormLayout(GroupBox8);
  cbAggregation = NewCheckBox(GroupBox8, "cbAggregation", "&Aggregation");
  aggregation->addRow(cbAggregation);
  edGridResolution = NewLabeledEdit(GroupBox8, "edGridResolution", "&Grid resolution=", "10");
  edGridResolution->SetEnabledWithLabel(false);
  aggregation->addRow(edGridResolution->EditLabel, edGridResolution);
  cbBootstrapping = NewCheckBox(GroupBox8, "cbBootstrapping", "&Bootstrapping");
  aggregation->addRow(cbBootstrapping);
  edPerCentBootstrapping = NewLabeledEdit(GroupBox8, "edPerCentBootstrapping", "&% bootstrapping=", "100");
  edPerCentBootstrapping->SetEnabledWithLabel(false);
  aggregation->addRow(edPerCentBootstrapping->EditLabel, edPerCentBootstrapping);
  seIterations = NewSpinEdit(GroupBox8, "seIterations", 3, 100000000, 3, 25);
  seIterations->setEnabled(false);
  Label3 = NewLabel(GroupBox8, "Label3", "&Iterations:", seIterations);
  Label3->setEnabled(false);
  aggregation->addRow(Label3, seIterations);
  GroupBox8->setVisible(TestingMode);
  page->addWidget(GroupBox8, 1, 0);

  // Type of Analyses
  grpAnalyses = NewGroupBox(tsParameters, "grpAnalyses", "&Type of Analyses");
  auto* analyses = new QVBoxLayout(grpAnalyses);
  cbAnalysesType = new QComboBox(grpAnalyses);
  cbAnalysesType->setObjectName("cbAnalysesType");
  for (const char* name : AnalysisNames) cbAnalysesType->addItem(name);
  cbAnalysesType->setCurrentIndex(saConnectivity);
  lblAnalysesType = NewLabel(grpAnalyses, "lblAnalysesType", "&Maximisation of", cbAnalysesType);
  auto* analysisRow = new QHBoxLayout;
  analysisRow->addWidget(lblAnalysesType);
  analysisRow->addWidget(cbAnalysesType, 1);
  analyses->addLayout(analysisRow);
  rbInterface = NewRadioButton(grpAnalyses, "rbInterface", "&Interface");
  rbInterface->setChecked(true);
  rbSaveToIdrisi = NewRadioButton(grpAnalyses, "rbSaveToIdrisi", "&Save to Idrisi Format");
  lbTypeOfMap = NewLabel(grpAnalyses, "lbTypeOfMap", "&Potentiality Map For:", rbInterface);
  auto* mapTypeRow = new QHBoxLayout;
  mapTypeRow->addWidget(lbTypeOfMap);
  mapTypeRow->addWidget(rbInterface);
  mapTypeRow->addWidget(rbSaveToIdrisi);
  mapTypeRow->addStretch(1);
  analyses->addLayout(mapTypeRow);

  grpMapOutput = NewGroupBox(grpAnalyses, "grpMapOutput", "Map output");
  auto* mapOutput = new QGridLayout(grpMapOutput);
  edMinX = NewLabeledEdit(grpMapOutput, "edMinX", "Min X=", "0");
  edMaxX = NewLabeledEdit(grpMapOutput, "edMaxX", "Max X=", "36");
  edMinY = NewLabeledEdit(grpMapOutput, "edMinY", "Min Y=", "0");
  edMaxY = NewLabeledEdit(grpMapOutput, "edMaxY", "Max Y=", "36");
  seColumns = NewSpinEdit(grpMapOutput, "seColumns", 2, 100000000, 36, 25);
  seRows = NewSpinEdit(grpMapOutput, "seRows", 2, 100000000, 36, 25);
  lblColumns = NewLabel(grpMapOutput, "lblColumns", "&Columns:", seColumns);
  lblRows = NewLabel(grpMapOutput, "lblRows", "&Rows:", seRows);
  mapOutput->addWidget(edMinX->EditLabel, 0, 0);
  mapOutput->addWidget(edMinX, 0, 1);
  mapOutput->addWidget(edMaxX->EditLabel, 0, 2);
  mapOutput->addWidget(edMaxX, 0, 3);
  mapOutput->addWidget(edMinY->EditLabel, 1, 0);
  mapOutput->addWidget(edMinY, 1, 1);
  mapOutput->addWidget(edMaxY->EditLabel, 1, 2);
  mapOutput->addWidget(edMaxY, 1, 3);
  mapOutput->addWidget(lblColumns, 2, 0);
  mapOutput->addWidget(seColumns, 2, 1);
  mapOutput->addWidget(lblRows, 2, 2);
  mapOutput->addWidget(seRows, 2, 3);
  edMapFileName = new QLineEdit(grpMapOutput);
  edMapFileName->setObjectName("edMapFileName");
  mapOutput->addWidget(edMapFileName, 3, 0, 1, 4);
  btCopyFromMap = NewButton(grpMapOutput, "btCopyFromMap", "Copy from existing &map...");
  cbMask = NewCheckBox(grpMapOutput, "cbMask", "&Use This Map as Mask");
  mapOutput->addWidget(btCopyFromMap, 4, 0, 1, 2);
  mapOutput->addWidget(cbMask, 4, 2, 1, 2);
  analyses->addWidget(grpMapOutput);

  btRun = NewButton(grpAnalyses, "btRun", "&Run");
  btApply = NewButton(grpAnalyses, "btApply", "&Apply");
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(btRun);
  buttons->addWidget(btApply);
  buttons->addStretch(1);
  analyses->addLayout(buttons);
  page->addWidget(grpAnalyses, 0, 1);

  // Results, under the analyses and as wide as they are: a patch's line takes
  // some fifty characters. The lines align their values by blanks and tabs, so
  // the letters are all of one width and the tabs eight letters apart.
  auto* results = new QVBoxLayout;
  mmResults = new QPlainTextEdit(tsParameters);
  mmResults->setObjectName("mmResults");
  mmResults->setLineWrapMode(QPlainTextEdit::NoWrap);
  mmResults->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  mmResults->setTabStopDistance(8 * QFontMetricsF(mmResults->font()).horizontalAdvance(' '));
  lblResults = NewLabel(tsParameters, "lblResults", "Results", mmResults);
  results->addWidget(lblResults);
  results->addWidget(mmResults, 1);
  page->addLayout(results, 1, 1);
  page->setColumnStretch(1, 1);
  page->setRowStretch(1, 1);

  // Never shown: the model's name and the choice of the displayed links.
  grpMetadata = NewGroupBox(tsParameters, "grpMetadata", "Metadata");
  edModelName = NewLabeledEdit(grpMetadata, "edModelName", "Model name:", "");
  (new QFormLayout(grpMetadata))->addRow(edModelName->EditLabel, edModelName);
  grpMetadata->setVisible(false);
  grpDisplayedConnectivity = NewGroupBox(tsParameters, "grpDisplayedConnectivity", "Displayed connectivity");
  rbDistance = NewRadioButton(grpDisplayedConnectivity, "rbDistance", "Di&stance");
  rbDispersal = NewRadioButton(grpDisplayedConnectivity, "rbDispersal", "&Dispersal");
  rbDispersal->setChecked(true);
  auto* displayed = new QVBoxLayout(grpDisplayedConnectivity);
  displayed->addWidget(rbDistance);
  displayed->addWidget(rbDispersal);
  grpDisplayedConnectivity->setVisible(false);

  // The map grid is for rasters only.
  for (tLabeledEdit* edit : {edMinX, edMaxX, edMinY, edMaxY}) edit->SetEnabledWithLabel(false);
  for (QWidget* control : std::initializer_list<QWidget*>{seColumns, seRows, lblColumns, lblRows,
                                                          btCopyFromMap, edMapFileName, cbMask})
    control->setEnabled(false);

  for (tLabeledEdit* edit :
       {edTerritory, edRange, edColonisation, edEmigScalFact, edZetaImmigFact, edExtinction, edExtScalFact,
        edNewPatchArea, edAutocorrelation, edAutocorreIationIntercept, edGridResolution,
        edPerCentBootstrapping, edMinX, edMaxX, edMinY, edMaxY}) {
    utile::gui::InstallKeyFilter(edit, utile::gui::EditReal);
    edit->setMaximumWidth(80);
  }
}

void TdlgSimpleDemoModel::BuildSensitivityPage() {
  tSensitivityPageStyle style;
  style.OutputFile = "SimpleDemoModel.txt";
  SensitivityPage = new tSensitivityPage(this, style, tsSensitivity);
  (new QVBoxLayout(tsSensitivity))->addWidget(SensitivityPage);

  // Which analyses a simulation line runs.
  auto* choice = fBatchAnalyses = new QWidget(SensitivityPage);
  auto* column = new QVBoxLayout(choice);
  column->setContentsMargins(0, 0, 0, 0);
  rbAsParametersPage = NewRadioButton(choice, "rbAsParametersPage", "As Specified in the Parameters Page");
  rbAsParametersPage->setChecked(true);
  rbSecifieAnalyses = NewRadioButton(choice, "rbSecifieAnalyses", "Use One or More Method ");
  cbRareSpecies = NewCheckBox(choice, "cbRareSpecies", "Rare Species Persitence");
  cbMetapopSize = NewCheckBox(choice, "cbMetapopSize", "Metapopulation Size");
  cbmetapopConnect = NewCheckBox(choice, "cbmetapopConnect", "Metapopulation Connectivity");
  column->addWidget(rbAsParametersPage);
  column->addWidget(rbSecifieAnalyses);
  for (QCheckBox* box : {cbRareSpecies, cbMetapopSize, cbmetapopConnect}) {
    box->setEnabled(false);
    column->addWidget(box);
  }
  column->addStretch(1);
  SensitivityPage->OptionsLayout->addWidget(choice);

  SensitivityPage->BuildSensitivityPage(LandscapeEntries(dlgVandrel->TaggedComponents),
                                        TaggedEntries(TaggedComponents, 1, IsEditControl));
}

void TdlgSimpleDemoModel::ConnectHandlers() {
  auto on = [this](auto* sender, auto signal, void (TdlgSimpleDemoModel::*handler)()) {
    connect(sender, signal, this, [this, handler] { Guarded(handler); });
  };
  for (tLabeledEdit* edit :
       {edTerritory, edRange, edColonisation, edEmigScalFact, edZetaImmigFact, edExtinction, edExtScalFact,
        edNewPatchArea, edAutocorrelation, edAutocorreIationIntercept})
    connect(edit, &QLineEdit::textChanged, this, [this] { ModelHasChanged = true; });
  on(edModelName, &QLineEdit::textChanged, &TdlgSimpleDemoModel::edModelNameChange);
  on(cbAggregation, &QCheckBox::toggled, &TdlgSimpleDemoModel::cbAggregationClick);
  on(cbBootstrapping, &QCheckBox::toggled, &TdlgSimpleDemoModel::cbBootstrappingClick);
  on(cbAnalysesType, &QComboBox::currentIndexChanged, &TdlgSimpleDemoModel::cbAnalysesTypeChange);
  connect(rbSaveToIdrisi, &QRadioButton::toggled, this, [this](bool checked) {
    if (checked) Guarded(&TdlgSimpleDemoModel::rbSaveToIdrisiClick);
  });
  connect(rbInterface, &QRadioButton::toggled, this, [this](bool checked) {
    if (checked) Guarded(&TdlgSimpleDemoModel::rbInterfaceClick);
  });
  for (QRadioButton* button : {rbDistance, rbDispersal})
    on(button, &QRadioButton::clicked, &TdlgSimpleDemoModel::ChangeConnectivityMatrix);
  on(btCopyFromMap, &QPushButton::clicked, &TdlgSimpleDemoModel::btCopyFromMapClick);
  on(btRun, &QPushButton::clicked, &TdlgSimpleDemoModel::btRunClick);
  on(btApply, &QPushButton::clicked, &TdlgSimpleDemoModel::ApplyParameterChanges);
  on(acRun, &QAction::triggered, &TdlgSimpleDemoModel::Run);
  connect(acInitialise, &QAction::triggered, this, [this] {
    Guarded(&TdlgSimpleDemoModel::Initialise);
    Guarded(&TdlgSimpleDemoModel::ShowModel);
    InitialiseGraphs();
  });
  on(rbAsParametersPage, &QRadioButton::clicked, &TdlgSimpleDemoModel::rbAsParametersPageClick);
  on(rbSecifieAnalyses, &QRadioButton::clicked, &TdlgSimpleDemoModel::rbSecifieAnalysesClick);
  on(SensitivityPage->btRunBatch, &QPushButton::clicked, &TdlgSimpleDemoModel::btRunBatchClick);
  connect(pcModel, &QTabWidget::currentChanged, this, [this](int index) {
    const bool leavingParameters = fLastPage == pcModel->indexOf(tsParameters) && index != fLastPage;
    fLastPage = index;
    if (leavingParameters) Guarded(&TdlgSimpleDemoModel::ApplyParameterChanges);
  });
  connect(this, &tModelForm::BatchStarted, this, [this] { fInBatch = true; });
  connect(this, &tModelForm::BatchFinished, this, [this] { fInBatch = false; });
  // What an analysis or a batch line reads stays as it was until it has returned.
  connect(this, &tModelForm::RunningChanged, this, [this](bool running) {
    for (QWidget* control : std::initializer_list<QWidget*>{grpParameters, GroupBox8, grpAnalyses,
                                                            fBatchAnalyses, SensitivityPage->btRunBatch})
      control->setEnabled(!running);
    acRun->setEnabled(!running);
    acInitialise->setEnabled(!running);
  });
}

void TdlgSimpleDemoModel::Guarded(void (TdlgSimpleDemoModel::*handler)()) {
  // During a batch the simulation reports its own failures in the result file.
  vandrel::Guarded(this, [this, handler] { (this->*handler)(); }, [this] { return IsRunning(); });
}

// ------------------------------------------------------------ parameters

models::tParam TdlgSimpleDemoModel::GetParam() {
  models::tParam param;
  param.Territ = ReadReal(edTerritory);
  // A distance of 0 makes the decay infinite, which the warning below reports.
  param.alph = 1.0 / ReadReal(edRange);
  param.colonisation = ReadReal(edColonisation);
  param.extinction = ReadReal(edExtinction);
  param.ZetaEm = ReadReal(edEmigScalFact);
  param.ZetaIm = ReadReal(edZetaImmigFact);
  param.ZetaExt = ReadReal(edExtScalFact);
  param.Beta = 1.0 / ReadReal(edAutocorrelation);
  param.BetaIntercept = ReadReal(edAutocorreIationIntercept);
  param.NewPatchArea = ReadInteger(edNewPatchArea);
  param.GridResolution = ReadReal(edGridResolution);
  param.PerCentBootstrap = ReadInteger(edPerCentBootstrapping);
  param.Iteration = seIterations->value();
  param.bootstrap = cbBootstrapping->isChecked();
  param.Aggregation = cbAggregation->isChecked();
  param.Mask = cbMask->isChecked();
  param.MiX = ReadReal(edMinX);
  param.MaX = ReadReal(edMaxX);
  param.MiY = ReadReal(edMinY);
  param.MaY = ReadReal(edMaxY);
  param.MapForInterface = rbInterface->isChecked();
  param.MapCol = seColumns->value();
  param.MapRow = seRows->value();

  // Each failed check is reported; the record is returned whatever they say.
  if (!(param.Territ > 0)) Warn(this, "Territory must be >0");
  if (!(ReadReal(edRange) > 0)) Warn(this, "mean dispersal distance must be >0");
  if (param.extinction < 0) Warn(this, "Extinction rate must be >0");
  if (!(param.colonisation > 0)) Warn(this, "Colonisation rate must be >0");
  if (!(param.NewPatchArea > 0)) Warn(this, "New patch area must be >0");
  return param;
}

double TdlgSimpleDemoModel::GetAlpha() {
  return 1.0 / ReadReal(edRange);
}

double TdlgSimpleDemoModel::GetTerritory() {
  return ReadReal(edTerritory);
}

// ------------------------------------------------------------ connectivity

double TdlgSimpleDemoModel::Dispersal(int32_t i, int32_t j) {
  if (i == j) return 1;
  const double distance = models::DistanceMat.at(i).at(j);
  // Two patches at one place are as linked as a patch with itself, also for an
  // infinite decay.
  if (distance == 0) return 1;
  return std::exp(-GetAlpha() * distance);
}

void TdlgSimpleDemoModel::ChangeConnectivityMatrix() {
  if (rbDistance->isChecked())
    SetConnectivityFunction([this](int32_t i, int32_t j) { return InverseDistance(i, j); });
  else if (rbDispersal->isChecked())
    SetConnectivityFunction([this](int32_t i, int32_t j) { return Dispersal(i, j); });
  if (dlgVandrel) dlgVandrel->DrawSpace();
}

// ------------------------------------------------------------ overrides

void TdlgSimpleDemoModel::Initialise() {
  if (fAnalysing) throw utile::EInvalidOperation("The capacity cannot be recomputed while an analysis runs.");
  const models::tParam param = GetParam();
  models::ComputeMetapopulationCapacity(&param, models::Patches);
  ComputeMaxConnectivity();
}

void TdlgSimpleDemoModel::Run() {
  // The analyses run from the Run button: the hour-glass comes and goes.
  tModelForm::Run();
  fSimRunning = false;
}

void TdlgSimpleDemoModel::ShowModel() {
  mmmModel->clear();
  mmmModel->appendPlainText("Date:\t" + QDateTime::currentDateTime().toString("dd/MM/yyyy hh:mm:ss"));
  mmmModel->appendPlainText("");
  mmmModel->appendPlainText("PARAMETERS:");
  QString text = QString::fromStdString(utile::MatToStr(models::ContributionMap, "%.15g"));
  text.remove('\r');
  if (text.endsWith('\n')) text.chop(1);
  if (!text.isEmpty()) mmmModel->appendPlainText(text);
  // The page shows its lines from their start: the matrix's lines are wider
  // than the page, and the view would follow the cursor to the end of the last.
  mmmModel->moveCursor(QTextCursor::Start);
}

void TdlgSimpleDemoModel::FormClose() {
  SensitivityPage->LanList.clear();
  SensitivityPage->ParamList.clear();
  tModelForm::FormClose();
}

void TdlgSimpleDemoModel::FormActivate() {
  edModelName->setText(windowTitle());
  GroupBox8->setVisible(TestingMode);
  if (!dlgVandrel) return;
  dlgVandrel->CurrentModel = this;
  vandrel::Guarded(this, [this] { dlgVandrel->DrawSpace(); });  // this workbench's links
}

// ------------------------------------------------------------ events

void TdlgSimpleDemoModel::ApplyParameterChanges() {
  Initialise();
  if (dlgVandrel) dlgVandrel->ComputeModel();
}

void TdlgSimpleDemoModel::edRangeChange() {
  if (dlgVandrel) dlgVandrel->ComputeModel();
}

void TdlgSimpleDemoModel::edModelNameChange() {
  setWindowTitle(edModelName->text());
}

void TdlgSimpleDemoModel::cbAggregationClick() {
  edGridResolution->SetEnabledWithLabel(cbAggregation->isChecked());
}

void TdlgSimpleDemoModel::cbBootstrappingClick() {
  const bool on = cbBootstrapping->isChecked();
  edPerCentBootstrapping->SetEnabledWithLabel(on);
  seIterations->setEnabled(on);
  Label3->setEnabled(on);
}

void TdlgSimpleDemoModel::cbAnalysesTypeChange() {
  const bool capacity = cbAnalysesType->currentIndex() == saRareSpeciesPersistence;
  cbBootstrapping->setEnabled(capacity);
  edAutocorrelation->SetEnabledWithLabel(capacity);
  edAutocorreIationIntercept->SetEnabledWithLabel(capacity);
  edColonisation->SetEnabledWithLabel(!capacity);
  edExtinction->SetEnabledWithLabel(!capacity);
  if (!capacity) {
    edPerCentBootstrapping->SetEnabledWithLabel(false);
    seIterations->setEnabled(false);
    Label3->setEnabled(false);
  }
  cbBootstrapping->setChecked(false);
}

void TdlgSimpleDemoModel::rbSaveToIdrisiClick() {
  for (tLabeledEdit* edit : {edMinX, edMaxX, edMinY, edMaxY}) edit->SetEnabledWithLabel(true);
  for (QWidget* control :
       std::initializer_list<QWidget*>{seColumns, seRows, lblColumns, lblRows, btCopyFromMap, edMapFileName})
    control->setEnabled(true);
  cbMask->setEnabled(false);
}

void TdlgSimpleDemoModel::rbInterfaceClick() {
  for (tLabeledEdit* edit : {edMinX, edMaxX, edMinY, edMaxY}) edit->SetEnabledWithLabel(false);
  for (QWidget* control : std::initializer_list<QWidget*>{seColumns, seRows, lblColumns, lblRows,
                                                          btCopyFromMap, edMapFileName, cbMask})
    control->setEnabled(false);
  models::MaskFileName.clear();
  edMapFileName->clear();
}

void TdlgSimpleDemoModel::btCopyFromMapClick() {
  const auto name = Dialogs().OpenFileName(this, "Select map", utile::MapFileFilter, "");
  if (!name) return;
  // The documentation is read whole before anything changes.
  const utile::tRaster raster(*name);
  models::MaskFileName = *name;
  edMinX->setText(QString::fromStdString(utile::FloatToStr(raster.minX)));
  edMinY->setText(QString::fromStdString(utile::FloatToStr(raster.minY)));
  edMaxX->setText(QString::fromStdString(utile::FloatToStr(raster.maxX)));
  edMaxY->setText(QString::fromStdString(utile::FloatToStr(raster.maxY)));
  seRows->setValue(raster.Rows);
  seColumns->setValue(raster.Columns);
  edMapFileName->setText(QString::fromStdString(*name));
  cbMask->setEnabled(true);
}

// ------------------------------------------------------------ analyses

void TdlgSimpleDemoModel::ChartExtent(double& MinX, double& MaxX, double& MinY, double& MaxY) const {
  const QValueAxis* bottom = dlgVandrel->chSpace->BottomAxis();
  const QValueAxis* left = dlgVandrel->chSpace->LeftAxis();
  MinX = bottom->min();
  MaxX = bottom->max();
  MinY = left->min();
  MaxY = left->max();
}

void TdlgSimpleDemoModel::RunRareSpeciesPersitence(const models::tParam& Param,
                                                   const models::tArrayOfCircles& Patches) {
  const models::tAnalysisProgress progress = AnalysisProgress(saRareSpeciesPersistence);
  if (Param.MapForInterface) {
    double minX, maxX, minY, maxY;
    ChartExtent(minX, maxX, minY, maxY);
    models::ComputeTestPosition(Param, minX, maxX, minY, maxY, InterfaceGrid, InterfaceGrid, Patches,
                                progress);
  } else {
    models::ComputeTestPosition(Param, Param.MiX, Param.MaX, Param.MiY, Param.MaY, Param.MapCol, Param.MapRow,
                                Patches, progress);
    dlgVandrel->WriteMap(Param.MiX, Param.MaX, Param.MiY, Param.MaY, Param.MapCol, Param.MapRow,
                         "MetapopCapacity%d");
  }
  AnalysisDone();
}

void TdlgSimpleDemoModel::RunMetapopulationSize(const models::tParam& Param,
                                                const models::tArrayOfCircles& Patches) {
  const models::tAnalysisProgress progress = AnalysisProgress(saMetapopulationSize);
  double minX, maxX, minY, maxY;
  ChartExtent(minX, maxX, minY, maxY);
  if (Param.MapForInterface)
    models::FindMetapopulationSize(Param, Patches, minX, maxX, minY, maxY, InterfaceGrid, InterfaceGrid,
                                   progress);
  else
    models::FindMetapopulationSize(Param, Patches, minX, maxX, minY, maxY, Param.MapRow, Param.MapCol,
                                   progress);
  AnalysisDone();
}

void TdlgSimpleDemoModel::RunContributionToColonisation(const models::tParam& Param,
                                                        const models::tArrayOfCircles& Patches) {
  const models::tAnalysisProgress progress = AnalysisProgress(saConnectivity);
  if (Param.MapForInterface) {
    double minX, maxX, minY, maxY;
    ChartExtent(minX, maxX, minY, maxY);
    models::FindMatB(Param, Patches, minX, maxX, minY, maxY, InterfaceGrid, InterfaceGrid, progress);
  } else {
    models::FindMatB(Param, Patches, Param.MiX, Param.MaX, Param.MiY, Param.MaY, Param.MapCol, Param.MapRow,
                     progress);
    dlgVandrel->WriteMap(Param.MiX, Param.MaX, Param.MiY, Param.MaY, Param.MapCol, Param.MapRow,
                         "ContribToColon%d");
  }
  AnalysisDone();
}

void TdlgSimpleDemoModel::AnalysisDone() {
  dlgVandrel->ckPatchContribution->setVisible(true);
}

models::tAnalysisProgress TdlgSimpleDemoModel::AnalysisProgress(tSimpleDemoAnalysis analysis) {
  models::tAnalysisProgress progress;
  progress.StageStarts = [this, analysis](models::tAnalysisStage stage, int32_t done, int32_t count) {
    ShowProgress(analysis, stage, done, count);
  };
  progress.Stopped = [this] { return !fSimRunning; };
  return progress;
}

void TdlgSimpleDemoModel::ShowProgress(tSimpleDemoAnalysis analysis, models::tAnalysisStage stage,
                                       int32_t done, int32_t count) {
  // The memo takes a new text once per stage and per percent of a counted one:
  // a map of many columns or many bootstrap rounds would spend its time here.
  const int32_t percent = count > 0 ? static_cast<int32_t>(int64_t{100} * done / count) : 0;
  if (fShownProgress.Analysis == analysis && fShownProgress.Stage == stage &&
      fShownProgress.Percent == percent)
    return;
  fShownProgress = {analysis, stage, percent};
  std::string text;
  switch (stage) {
    case models::tAnalysisStage::asEquilibrium:
      text = "occupancy at equilibrium";
      break;
    case models::tAnalysisStage::asWithoutPatch:
      text = utile::Format("patch %d of %d left out", done, count);
      break;
    case models::tAnalysisStage::asCapacity:
      text = "metapopulation capacity";
      break;
    case models::tAnalysisStage::asBootstrap:
      text = utile::Format("bootstrap round %d of %d", done, count);
      break;
    case models::tAnalysisStage::asMap:
      text = utile::Format("map column %d of %d", done, count);
      break;
  }
  std::string lines = std::string(AnalysisNames[analysis]) + ": " + text + "...";
  if (fInBatch) lines += utile::Format("\nBatch: %d %%", BatchProgress);
  mmResults->setPlainText(QString::fromStdString(lines));
}

void TdlgSimpleDemoModel::RunOn(tSimpleDemoAnalysis analysis, const models::tParam& Param,
                                const models::tArrayOfCircles& Patches) {
  switch (analysis) {
    case saRareSpeciesPersistence:
      RunRareSpeciesPersitence(Param, Patches);
      break;
    case saMetapopulationSize:
      RunMetapopulationSize(Param, Patches);
      break;
    case saConnectivity:
      RunContributionToColonisation(Param, Patches);
      break;
  }
}

tPatchResults TdlgSimpleDemoModel::ResultsOf(tSimpleDemoAnalysis analysis, bool Aggregated) const {
  // Shares of an aggregate go to its patches by their part of its area; an
  // occupancy holds for each of them as it is.
  struct tColumn {
    const utile::tVectorOfDouble* Values;
    bool Share;
  };
  std::vector<tColumn> columns;
  switch (analysis) {
    case saRareSpeciesPersistence:
      columns = {{&models::PatchValues, true}, {&models::PatchValuesPerArea, true}};
      break;
    case saMetapopulationSize:
      columns = {{&models::EquilibriumOccupancy, false},
                 {&models::PatchSizeContributions, true},
                 {&models::PatchSizeSensitivities, true}};
      break;
    case saConnectivity:
      columns = {{&models::EquilibriumOccupancy, false}, {&models::ContributionEigenvector, true}};
      break;
  }
  tPatchResults results;
  const size_t n = models::Patches.size();
  for (size_t c = 0; c < columns.size(); ++c) {
    if (Aggregated) {
      results.Columns[c] = models::SpreadAggregateValues(*columns[c].Values, models::AggregateComposition,
                                                         models::Patches, columns[c].Share);
    } else {
      results.Columns[c] = *columns[c].Values;
      results.Columns[c].resize(n, 0.0);
    }
  }
  return results;
}

tPatchResults TdlgSimpleDemoModel::RunAnalysis(tSimpleDemoAnalysis analysis, models::tParam Param,
                                               bool Aggregated, bool MakeAggregates) {
  if (Aggregated && MakeAggregates) {
    // The aggregates belong to the landscape: another workbench's analysis may be reading them.
    dlgVandrel->CheckLandscapeFree(this);
    Param = GetParam();
    dlgVandrel->ExtractPatches(Param);
    Param = GetParam();
  }
  // The memo shows the analysis's progress while it runs, then what it showed before.
  const QString shown = mmResults->toPlainText();
  fAnalysing = true;
  fShownProgress = {};
  const auto restore = qScopeGuard([this, &shown] {
    fAnalysing = false;
    mmResults->setPlainText(shown);
  });
  RunOn(analysis, Param, Aggregated ? models::AggregatedPatches : models::Patches);
  return ResultsOf(analysis, Aggregated);
}

void TdlgSimpleDemoModel::FillResults(tSimpleDemoAnalysis analysis, const tPatchResults& results,
                                      bool padded) {
  QStringList lines;
  auto add = [&lines](const std::string& line) { lines.push_back(QString::fromStdString(line)); };
  const size_t n = models::Patches.size();
  switch (analysis) {
    case saRareSpeciesPersistence:
      add(utile::Format("Metapopulation Capacity (Lambda M)=\t%.3g", models::LandscapeCapacity));
      add("");
      add("Patches ID              Vl            Vs");
      for (size_t i = 0; i < n; ++i)
        add(utile::Format("%d", static_cast<int32_t>(i + 1)) +
            utile::Format(padded ? CapacityLineAggregated : CapacityLine, results.Columns[0][i],
                          results.Columns[1][i]));
      break;
    case saMetapopulationSize:
      add(utile::Format("Metapopulation Size (S)=\t%.3g", models::MetapopulationSize));
      add("");
      add("Patches ID              P(Occ)     Ul            Us");
      for (size_t i = 0; i < n; ++i)
        add(utile::Format("%d", static_cast<int32_t>(i + 1)) +
            utile::Format(SizeLine, results.Columns[0][i], results.Columns[1][i], results.Columns[2][i]));
      break;
    case saConnectivity:
      add("Patches ID              P(Occ)     W");
      for (size_t i = 0; i < n; ++i)
        add(utile::Format("%d", static_cast<int32_t>(i + 1)) +
            utile::Format(ConnectivityLine, results.Columns[0][i], results.Columns[1][i]));
      break;
  }
  mmResults->setPlainText(lines.join('\n'));
}

void TdlgSimpleDemoModel::btRunClick() {
  // The running flag refuses a second run, locks the landscape and the
  // parameters, shows the hour-glass and is cleared by a close; the lock keeps
  // the workbench running until the analysis has unwound.
  tModelForm::Run();
  const tRunLock lock(*this);
  const auto ended = qScopeGuard([this] { fSimRunning = false; });
  const auto analysis = static_cast<tSimpleDemoAnalysis>(cbAnalysesType->currentIndex());
  const models::tParam param = GetParam();
  const bool aggregated = param.Aggregation;
  tPatchResults results;
  try {
    results = RunAnalysis(analysis, param, aggregated, true);
  } catch (const models::EAnalysisStopped&) {
    return;  // stopped by a closing window: nothing to tell, nothing changed
  }

  FillResults(analysis, results, param.MapForInterface && aggregated);
  if (param.MapForInterface) {
    // The main window shows the grid behind the patches.
    dlgVandrel->ckPotential->setChecked(true);
    dlgVandrel->ckPotential->setEnabled(true);
    dlgVandrel->seNewPatchArea->setVisible(false);
    dlgVandrel->mnPrecomputed->setEnabled(true);
    dlgVandrel->mnPrecomputed->setChecked(true);
    dlgVandrel->DrawSpace();
  }
  // The patches take the analysis's main value: the patch value, the
  // contribution to the size, or the colonisation weight.
  dlgVandrel->ShowPatchValue(results.Columns[analysis == saRareSpeciesPersistence ? 0 : 1]);
  ShowModel();
}

// ------------------------------------------------------------ batch

void TdlgSimpleDemoModel::rbAsParametersPageClick() {
  for (QCheckBox* box : {cbRareSpecies, cbMetapopSize, cbmetapopConnect}) box->setEnabled(false);
}

void TdlgSimpleDemoModel::rbSecifieAnalysesClick() {
  for (QCheckBox* box : {cbRareSpecies, cbMetapopSize, cbmetapopConnect}) box->setEnabled(true);
}

void TdlgSimpleDemoModel::btRunBatchClick() {
  // The maps of a batch are always written as rasters.
  rbSaveToIdrisi->setChecked(true);
  rbInterface->setChecked(false);
  dlgVandrel->ckPotential->setChecked(false);
  dlgVandrel->ckPotential->setEnabled(false);
  dlgVandrel->seNewPatchArea->setEnabled(false);
  const auto numbered = qScopeGuard([] { models::RunNumber = 0; });
  RunBatch(SensitivityPage->BatchLines(), SensitivityPage->edOutputFile->text().toStdString(), false);
}

void TdlgSimpleDemoModel::Simulation(const std::string& Line) {
  std::vector<std::string> values = BatchLineValues(Line, tBatchLineKind::blSimulation);
  for (std::string& value : values) value = utile::LowerCase(value);
  const std::vector<QWidget*> tagged = TaggedComponents.WithTag(1);
  // A short line would leave the last parameters as they were and shift the row.
  if (values.size() < tagged.size())
    throw EBatchValueError(utile::Format("The line gives %d values for the %d parameters of %s.",
                                         static_cast<int32_t>(values.size()),
                                         static_cast<int32_t>(tagged.size()), windowTitle().toStdString()));
  sPar.clear();
  for (size_t k = 0; k < tagged.size(); ++k) {
    if (auto* edit = qobject_cast<QLineEdit*>(tagged[k])) edit->setText(QString::fromStdString(values[k]));
    sPar += values[k] + "\t";
  }
  fRowOpen = false;
  try {
    Initialise();
    RunSensitivity();
  } catch (const utile::EInOutError&) {
    throw;  // the result file itself failed: nothing more can be written
  } catch (const std::exception& error) {
    // A simulation that fails is reported in its own line and the batch goes on.
    if (fRowOpen) EndRow();
    ++BatchErrors;
    Fs.WriteLn("****** Error for " + sLan + sPar + ": " + error.what() + " ************");
  }
}

void TdlgSimpleDemoModel::WriteField(const std::string& text) {
  Fs.Write(text);
  fRowOpen = true;
}

void TdlgSimpleDemoModel::WriteNumber(double value) {
  WriteField(utile::FloatToDefaultStr(value));
  WriteField("\t");
}

void TdlgSimpleDemoModel::WriteNumbers(const utile::tVectorOfDouble& values) {
  for (const double value : values) WriteNumber(value);
}

void TdlgSimpleDemoModel::WriteAnalysisFields(tSimpleDemoAnalysis analysis, const tPatchResults& results) {
  switch (analysis) {
    case saRareSpeciesPersistence:
      WriteNumber(models::LandscapeCapacity);
      WriteNumbers(results.Columns[0]);
      WriteNumbers(results.Columns[1]);
      break;
    case saMetapopulationSize:
      WriteNumber(models::MetapopulationSize);
      WriteNumbers(results.Columns[1]);
      WriteNumbers(results.Columns[2]);
      WriteNumbers(results.Columns[0]);
      break;
    case saConnectivity:
      WriteNumbers(results.Columns[1]);
      WriteNumbers(results.Columns[0]);
      break;
  }
}

void TdlgSimpleDemoModel::EndRow() {
  Fs.WriteLn();
  fRowOpen = false;
}

void TdlgSimpleDemoModel::RunSensitivity() {
  ++models::RunNumber;
  if (rbAsParametersPage->isChecked()) {
    const auto analysis = static_cast<tSimpleDemoAnalysis>(cbAnalysesType->currentIndex());
    switch (analysis) {
      case saRareSpeciesPersistence:
      case saMetapopulationSize: {
        const models::tParam param = GetParam();
        const tPatchResults results = RunAnalysis(analysis, param, param.Aggregation, true);
        WriteField(sLan);
        WriteField(sPar);
        WriteAnalysisFields(analysis, results);
        break;
      }
      case saConnectivity: {
        // This analysis always runs on the aggregates.
        const tPatchResults results = RunAnalysis(analysis, models::tParam{}, true, true);
        WriteField(sLan);
        WriteField(sPar);
        EndRow();
        for (size_t i = 0; i < models::Patches.size(); ++i) {
          WriteField(utile::Format("%d", models::Patches[i].popID));
          WriteField("\t");
          WriteNumber(results.Columns[1][i]);
          WriteNumber(results.Columns[0][i]);
          EndRow();
        }
        break;
      }
    }
  } else {
    WriteField(sLan);
    WriteField(sPar);
    models::tParam param = GetParam();
    const bool aggregated = param.Aggregation;
    if (aggregated) {
      param = GetParam();
      dlgVandrel->ExtractPatches(param);
    }
    for (const auto& [box, chosen] :
         {std::pair{cbRareSpecies, saRareSpeciesPersistence}, std::pair{cbMetapopSize, saMetapopulationSize},
          std::pair{cbmetapopConnect, saConnectivity}})
      if (box->isChecked()) WriteAnalysisFields(chosen, RunAnalysis(chosen, GetParam(), aggregated, false));
  }
  EndRow();

  QCheckBox* potential = dlgVandrel->ckPotential;
  potential->setChecked(true);
  potential->setEnabled(true);
  dlgVandrel->seNewPatchArea->setEnabled(true);
  potential->setChecked(false);
}

void TdlgSimpleDemoModel::WriteHeaders() {
  std::string header = "Landscape\t";
  for (const QLabel* label : SensitivityPage->lblLanParams()) header += label->text().toStdString() + "\t";
  for (const QLabel* label : SensitivityPage->lblParams()) header += label->text().toStdString() + "\t";
  const int32_t n = PatchCount();
  auto names = [&header, n](const char* format) {
    for (int32_t i = 1; i <= n; ++i) header += utile::Format(format, i) + "\t";
  };
  auto capacity = [&] {
    header += "LambdaM\t";
    names("Vl%d");
    names("Vs%d");
  };
  auto size = [&] {
    header += "MS\t";
    names("Ul%d");
    names("Us%d");
    names("P(occ)%d");
  };
  if (rbAsParametersPage->isChecked()) {
    switch (cbAnalysesType->currentIndex()) {
      case saRareSpeciesPersistence:
        capacity();
        break;
      case saMetapopulationSize:
        size();
        break;
      default:
        break;
    }
  } else {
    if (cbRareSpecies->isChecked()) capacity();
    if (cbMetapopSize->isChecked()) size();
    if (cbmetapopConnect->isChecked()) {
      names("W%d");
      names("P(occ)%d");
    }
  }
  Fs.Write(header);
  Fs.WriteLn();
}

}  // namespace vandrel
