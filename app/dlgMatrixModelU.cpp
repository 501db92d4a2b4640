#include "app/dlgMatrixModelU.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineSeries>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScatterSeries>
#include <QScopeGuard>
#include <QSpinBox>
#include <QTabWidget>
#include <QToolButton>
#include <QVBoxLayout>
#include <QValueAxis>
#include <algorithm>
#include <cmath>
#include <exception>

#include "Utile/AsymMatrixOps.h"
#include "Utile/MatrixOps.h"
#include "Utile/Platform.h"
#include "Utile/RandomFunctions.h"
#include "Utile/RunTime.h"
#include "Utile/StatOps.h"
#include "Utile/StringOps.h"
#include "Utile/VectorOps.h"
#include "Utile/gui/ChartLines.h"
#include "Utile/gui/CustomChartSeries.h"
#include "Utile/gui/GraphicOps.h"
#include "app/FormControls.h"
#include "app/SensitivityPage.h"
#include "app/WindowServices.h"
#include "app/dlgVandrelU.h"
#include "models/MetapopCommon.h"
#include "models/PopDynTools.h"

namespace vandrel {

namespace {
// At most this many points of either kind on the Fst chart in one run: the
// pairs grow with the square of the patches (a hundred have 4,950), and both
// kinds are kept for the switch.
constexpr double FstPointBudget = 2000000;
// Without series the chart draws every pair's points anew each time: fewer.
constexpr double FstLayerPointBudget = 250000;
// Up to this many patch pairs the Fst chart has one series per pair; above it
// (50 patches) the charting library would take seconds to make or free them,
// and the pairs are drawn on one layer of the chart instead.
constexpr size_t MaxFstSeries = 1225;
// The steps over which the equilibrium effective size is measured.
constexpr int32_t EquilibriumSteps = 1000;

// A real typed in an edit; EConvertError names the field.
double ReadReal(const tLabeledEdit* edit) {
  const std::string text = edit->text().toStdString();
  double value = 0;
  if (!utile::TryStrToFloat(text, value))
    throw utile::EConvertError(utile::Format("%s \"%s\" is not a valid number.",
                                             utile::Replace(edit->EditLabel->text().toStdString(), "&", ""),
                                             text));
  return value;
}

double ReadRealDef(const tLabeledEdit* edit, double fallback) {
  return utile::StrToFloatDef(edit->text().toStdString(), fallback);
}

// The statistic of a ratio of sums over consecutive values of a coancestry
// series: sum of g (1 - theta(t-1)) over sum of 2 (theta(t) - g theta(t-1)),
// over the last `count` steps; nothing when the sums do not make a number.
std::optional<double> RatioNe(const std::vector<double>& theta, double g, size_t count, double before) {
  if (theta.empty()) return std::nullopt;
  const size_t last = theta.size(), first = last > count ? last - count : 0;
  double num = 0, den = 0;
  for (size_t t = first; t < last; ++t) {
    const double previous = t > 0 ? theta[t - 1] : before;
    num += g * (1 - previous);
    den += 2 * (theta[t] - g * previous);
  }
  if (den == 0 || !std::isfinite(num / den)) return std::nullopt;
  return num / den;
}

// A point's value as the lines keep it: not a number for a gap.
double Gap(double y) {
  return std::isfinite(y) ? y : NAN;
}

std::string Real(double value) {
  return utile::Format("%g", value);
}

// A rounded size, or nothing beyond the 64-bit range.
std::optional<int64_t> RoundedSize(std::optional<double> value) {
  if (!value || !(std::fabs(*value) < 9e18)) return std::nullopt;
  return utile::Round(*value);
}

QLineSeries* NewLine(utile::gui::tGraphicChart* chart, const QString& name) {
  auto* series = new QLineSeries;
  series->setName(name);
  chart->AddSeries(series);
  return series;
}

tLabeledEdit* NewEdit(QWidget* parent, QFormLayout* form, const char* name, const char* caption,
                      const char* text) {
  tLabeledEdit* edit = NewLabeledEdit(parent, name, caption, text);
  if (form) form->addRow(edit->EditLabel, edit);
  return edit;
}
}  // namespace

// ------------------------------------------------------------------ creation

TdlgMatrixModel::TdlgMatrixModel(TdlgVandrel* mainWindow) : tModelForm(mainWindow) {
  setObjectName("dlgMatrixModel");
  fModel = tModel::mMatrix;
  pcMatrixModel = new QTabWidget(this);
  pcMatrixModel->setObjectName("pcMatrixModel");
  BuildParametersPage();
  tsModel = NewTabPage(pcMatrixModel, "tsModel", "Model");
  mmmModel = NewMemo(tsModel, "mmmModel");
  (new QVBoxLayout(tsModel))->addWidget(mmmModel);
  BuildResultsPage();
  BuildSensitivityPage();

  acRun = NewAction(this, "acRun", "&Run", Qt::Key_F9);
  acInitialise = NewAction(this, "acInitialise", "&Initialise", Qt::CTRL | Qt::Key_F9);
  auto* commands = new QHBoxLayout;
  for (QAction* action : {acInitialise, acRun}) {
    auto* button = new QToolButton(this);
    button->setDefaultAction(action);
    button->setToolButtonStyle(Qt::ToolButtonTextOnly);
    commands->addWidget(button);
  }
  commands->addStretch(1);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(commands);
  layout->addWidget(pcMatrixModel, 1);
  resize(1000, 700);

  // The controls that take the values of a simulation line, in component order.
  for (QWidget* component : std::initializer_list<QWidget*>{edFecundity, edTerritory, edRange,
                                                            edMigrationRate, edMu, edLocalRisk, seTimeSteps})
    TaggedComponents.Add(component, 1);
  tsSensitivity->BuildSensitivityPage(TaggedEntries(dlgVandrel->TaggedComponents, 1),
                                      TaggedEntries(TaggedComponents, 1));
  ConnectHandlers();

  // FormCreate.
  MatrixModel = std::make_unique<models::tMatrixModel>();
  MatrixModel->SetAbortCheck([this] { return !fSimRunning; });
  ModelHasChanged = true;
  ChangeConnectivityMatrix();
  if (dlgVandrel->mnPrecomputed) dlgVandrel->mnPrecomputed->setChecked(false);
  cbFecundityTypeChange();
}

TdlgMatrixModel::~TdlgMatrixModel() = default;

void TdlgMatrixModel::BuildParametersPage() {
  tsParameters = NewTabPage(pcMatrixModel, "tsParameters", "Parameters");
  auto* form = new QFormLayout;
  edSurvival = NewEdit(tsParameters, form, "edSurvival", "&Survival s=", "0");
  edFecundity = NewEdit(tsParameters, form, "edFecundity", "&Fecundity b=", "2");
  edTerritory = NewEdit(tsParameters, form, "edTerritory", "&Territory area=", "1");
  edRange = NewEdit(tsParameters, form, "edRange", "&Distance 1/alpha=", "40");
  edDispersal = NewEdit(tsParameters, form, "edDispersal", "&Density-dependance a=", "0.1");
  edMigrationRate = NewEdit(tsParameters, form, "edMigrationRate", "&Migration rate m=", "0.2");
  edMu = NewEdit(tsParameters, form, "edMu", "&Mutation rate mu=", "0.0001");
  edDemographicRisk = NewEdit(tsParameters, form, "edDemographicRisk", "&Demographic risk=", "0");
  edLocalRisk = NewEdit(tsParameters, form, "edLocalRisk", "&Local risk=", "0");
  rbEi = NewRadioButton(tsParameters, "rbEi", "e=E/N", false);
  rbEsurN = NewRadioButton(tsParameters, "rbEsurN", "e=E", true);
  auto* localRow = new QHBoxLayout;
  localRow->addWidget(rbEi);
  localRow->addWidget(rbEsurN);
  localRow->addStretch(1);
  form->addRow("", localRow);

  auto* regional = NewGroupBox(tsParameters, "grpRegionalRisk", "Regional risk");
  auto* regionalForm = new QFormLayout(regional);
  edRegionalRiskMean = NewEdit(regional, regionalForm, "edRegionalRiskMean", "&Mean", "0");
  edRegionalRiskRange = NewEdit(regional, regionalForm, "edRegionalRiskRange", "R&ange", "0");
  edMinCorr = NewEdit(regional, regionalForm, "edMinCorr", "Min. corr.", "");
  edMinCorr->setReadOnly(true);
  form->addRow(regional);

  cbFecundityType = new QComboBox(tsParameters);
  cbFecundityType->setObjectName("cbFecundityType");
  cbFecundityType->addItems({"Scramble", "Scramble-Allee", "Ceiling", "Scramble-Allee(Sex)"});
  cbFecundityType->setCurrentIndex(0);
  lblFecundityType = new QLabel("Regulation type", tsParameters);
  lblFecundityType->setBuddy(cbFecundityType);
  form->addRow(lblFecundityType, cbFecundityType);
  edIntercepte = NewEdit(tsParameters, form, "edIntercepte", "Intercepte =", "0");
  edFlatness = NewEdit(tsParameters, form, "edFlatness", "Flatness =", "1");
  cbGrowthType = new QComboBox(tsParameters);
  cbGrowthType->setObjectName("cbGrowthType");
  cbGrowthType->addItems({"Determinist", "Stochastic"});
  cbGrowthType->setCurrentIndex(1);
  lblGrowthType = new QLabel("Growth type", tsParameters);
  lblGrowthType->setBuddy(cbGrowthType);
  form->addRow(lblGrowthType, cbGrowthType);

  seTimeSteps = NewSpinEdit(tsParameters, "seTimeSteps", 1100, 10000000, 5000, 100);
  form->addRow("Number of &time steps:", seTimeSteps);
  ckmHeavyRun = NewCheckBox(tsParameters, "ckmHeavyRun", "&Heavy runs", false);
  form->addRow(ckmHeavyRun);
  semSeed1 = NewSpinEdit(tsParameters, "semSeed1", 0, 2147483647, 10, 1);
  semSeed2 = NewSpinEdit(tsParameters, "semSeed2", 0, 2147483647, 1, 1);
  form->addRow("Seed &1:", semSeed1);
  form->addRow("Seed &2:", semSeed2);
  btApply = NewButton(tsParameters, "btApply", "&Apply");
  form->addRow(btApply);

  grpConnectivity = NewGroupBox(tsParameters, "grpConnectivity", "Displayed connectivity");
  auto* connectivity = new QVBoxLayout(grpConnectivity);
  rbDispersal = NewRadioButton(grpConnectivity, "rbDispersal", "&Dispersal", true);
  rbFst = NewRadioButton(grpConnectivity, "rbFst", "&Fst", false);
  rbDistance = NewRadioButton(grpConnectivity, "rbDistance", "Di&stance", false);
  rbFst2 = NewRadioButton(grpConnectivity, "rbFst2", "Fs&t/(1-Fst)", false);
  rbAutocorrelation = NewRadioButton(grpConnectivity, "rbAutocorrelation", "Spatial autocorrelation", false);
  for (QRadioButton* radio : {rbDispersal, rbFst, rbDistance, rbFst2, rbAutocorrelation})
    connectivity->addWidget(radio);
  grpMetadata = NewGroupBox(tsParameters, "grpMetadata", "Metadata");
  auto* metadata = new QFormLayout(grpMetadata);
  edModelName = NewEdit(grpMetadata, metadata, "edModelName", "Model name:", "");
  seDeltaNe = NewSpinEdit(tsParameters, "seDeltaNe", 0, 10000000, 0, 1);
  semMinSat = NewSpinEdit(tsParameters, "semMinSat", 0, 10000000, 0, 1);
  semInitialDensity = NewSpinEdit(tsParameters, "semInitialDensity", 0, 10000000, 0, 1);
  ckmRealTimeGraph = NewCheckBox(tsParameters, "ckmRealTimeGraph", "Real time graph", false);

  // Hidden: they stay in the window for what reads them, but no user sets them.
  for (tLabeledEdit* edit : {edSurvival, edDispersal, edDemographicRisk}) edit->SetShown(false);
  for (QWidget* widget : std::initializer_list<QWidget*>{ckmHeavyRun, grpConnectivity, grpMetadata, seDeltaNe,
                                                         semMinSat, semInitialDensity, ckmRealTimeGraph})
    widget->setVisible(false);

  auto* columns = new QHBoxLayout(tsParameters);
  columns->addLayout(form);
  auto* side = new QVBoxLayout;
  side->addWidget(grpConnectivity);
  side->addWidget(grpMetadata);
  side->addStretch(1);
  columns->addLayout(side);
  columns->addStretch(1);
}

void TdlgMatrixModel::BuildResultsPage() {
  tsResults = NewTabPage(pcMatrixModel, "tsResults", "Results");
  auto* grid = new QGridLayout(tsResults);
  auto chart = [this](const char* name, const QString& yTitle, const QString& title) {
    auto* result = new utile::gui::tGraphicChart(tsResults, "Time", yTitle, title);
    result->setObjectName(name);
    result->setMinimumSize(200, 160);
    return result;
  };
  chmDensity = chart("chmDensity", "N", "Density");
  chmCoancestry = chart("chmCoancestry", "Theta", "Coancestries");
  chmFixation = chart("chmFixation", "F", "Fixation");
  chmEffectiveSize = chart("chmEffectiveSize", "Ne", "Effective size");
  chMeanNe = chart("chMeanNe", "Ne", "Averaged effective size");
  chmFis = chart("chmFis", "Fis", "Fis");
  chmFst = chart("chmFst", "Fst", "Fst");
  chmConnectivity =
      new utile::gui::tGraphicChart(tsResults, "ln(Distance)", "Fst/(1-Fst)", "Connectivity/Fst");
  chmConnectivity->setObjectName("chmConnectivity");
  chmConnectivity->setMinimumSize(200, 160);

  Label17 = NewLabel(tsResults, "Label17", "Equilibrium effective population size");
  Label18 = new QLabel("", tsResults);
  Label18->setMinimumWidth(Label18->fontMetrics().horizontalAdvance("00000000"));
  Label18->setObjectName("Label18");
  Label19 = NewLabel(tsResults, "Label19", "");
  seAveragingWindow = NewSpinEdit(tsResults, "seAveragingWindow", 2, 10000, 100, 50);
  ckmActualSize = NewCheckBox(tsResults, "ckmActualSize", "Actual size", true);

  auto cell = [](QWidget* chart, std::initializer_list<QWidget*> below) {
    auto* box = new QVBoxLayout;
    box->addWidget(chart, 1);
    auto* row = new QHBoxLayout;
    for (QWidget* w : below) row->addWidget(w);
    row->addStretch(1);
    box->addLayout(row);
    return box;
  };
  // The radio buttons of the two charts are two groups: each has a parent of its own.
  auto* fisGroup = new QWidget(tsResults);
  rbmFisBefore = NewRadioButton(fisGroup, "rbmFisBefore", "&Before dispersal", false);
  rbmFisAfter = NewRadioButton(fisGroup, "rbmFisAfter", "&After dispersal", true);
  auto* fisRow = new QHBoxLayout(fisGroup);
  fisRow->setContentsMargins(0, 0, 0, 0);
  fisRow->addWidget(rbmFisBefore);
  fisRow->addWidget(rbmFisAfter);
  auto* fstGroup = new QWidget(tsResults);
  rbmFstBefore = NewRadioButton(fstGroup, "rbmFstBefore", "B&efore dispersal", false);
  rbmFstAfter = NewRadioButton(fstGroup, "rbmFstAfter", "A&fter dispersal", true);
  auto* fstRow = new QHBoxLayout(fstGroup);
  fstRow->setContentsMargins(0, 0, 0, 0);
  fstRow->addWidget(rbmFstBefore);
  fstRow->addWidget(rbmFstAfter);
  auto* meanNe = new QWidget(tsResults);
  auto* meanNeRow = new QHBoxLayout(meanNe);
  meanNeRow->addWidget(chMeanNe, 1);
  meanNeRow->addWidget(seAveragingWindow);
  auto* effective = new QWidget(tsResults);
  auto* effectiveRow = new QHBoxLayout(effective);
  effectiveRow->addWidget(chmEffectiveSize, 1);
  effectiveRow->addWidget(ckmActualSize);

  grid->addLayout(cell(chmDensity, {}), 0, 0);
  QVBoxLayout* coancestry = cell(chmCoancestry, {Label17, Label18});
  coancestry->addWidget(Label19);
  grid->addLayout(coancestry, 0, 1);
  grid->addLayout(cell(chmFixation, {}), 0, 2);
  grid->addLayout(cell(chmFis, {fisGroup}), 1, 0);
  grid->addLayout(cell(chmFst, {fstGroup}), 1, 1);
  grid->addLayout(cell(chmConnectivity, {}), 1, 2);
  grid->addWidget(effective, 2, 0);
  grid->addWidget(meanNe, 2, 1);
  for (int column = 0; column < 3; ++column) grid->setColumnStretch(column, 1);
  // A new highest or lowest value moves the value axes by whole ticks only,
  // so that a run's lines are not drawn anew for each.
  for (utile::gui::tGraphicChart* chart : TimeCharts()) chart->SetRoundedLeftAxis(true);
  effective->setVisible(false);
  meanNe->setVisible(false);
}

void TdlgMatrixModel::BuildSensitivityPage() {
  tsSensitivity = new tSensitivityPage(
      this,
      {.OutputFile = "MatrixModel.txt", .FileButtonEllipsis = false, .ButtonHints = false, .CopiesHint = ""},
      nullptr);
  cbEffectiveSizeMode = NewCheckBox(tsSensitivity, "cbEffectiveSizeMode", "Effective Size Mode", false);
  cbExtinctionTimeMode = NewCheckBox(tsSensitivity, "cbExtinctionTimeMode", "Extinction Time Mode", false);
  seNbrRep = NewSpinEdit(tsSensitivity, "seNbrRep", 0, 10000000, 0, 10);
  seNbrTrials = NewSpinEdit(tsSensitivity, "seNbrTrials", 0, 10000000, 0, 10);
  auto* modes = new QFormLayout;
  modes->addRow(cbEffectiveSizeMode);
  modes->addRow(cbExtinctionTimeMode);
  modes->addRow("Nb repetitions", seNbrRep);
  modes->addRow("Nb trials", seNbrTrials);
  tsSensitivity->OptionsLayout->addLayout(modes);

  grpStatistics = NewGroupBox(tsSensitivity, "grpStatistics", "Statistics");
  auto* boxes = new QGridLayout(grpStatistics);
  int k = 0;
  auto box = [&](const char* name, const char* caption, bool checked) {
    QCheckBox* result = NewCheckBox(grpStatistics, name, caption, checked);
    boxes->addWidget(result, k % 7, k / 7);
    ++k;
    return result;
  };
  cbF = box("cbF", "F", true);
  cbTheta = box("cbTheta", "Theta + alpha", true);
  cbFis = box("cbFis", "Fis", true);
  cbPairwiseFst = box("cbPairwiseFst", "Pairwise Fst", true);
  cbGlobalFst = box("cbGlobalFst", "Global Fst", false);
  cbK = box("cbK", "K", true);
  cbDistance = box("cbDistance", "Geographical Distances", false);
  cbExtinctionDate = box("cbExtinctionDate", "Extinction Date", true);
  cbMeanN = box("cbMeanN", "Mean N", false);
  cbNLastGeneration = box("cbNLastGeneration", "N Last Generation", false);
  cbMeanThetaGlobal = box("cbMeanThetaGlobal", "Mean Theta Global", true);
  cbMeanNe = box("cbMeanNe", "Mean Ne", true);
  cbMeanRepVal = box("cbMeanRepVal", "reprod. value", false);
  cbTransitionMatrix = box("cbTransitionMatrix", "Transition Matrix", false);
  tsSensitivity->OptionsLayout->addWidget(grpStatistics);
  tsSensitivity->OptionsLayout->addStretch(1);
  pcMatrixModel->addTab(tsSensitivity, "Sensitivity analysis");
}

void TdlgMatrixModel::Guarded(const std::function<void()>& command) {
  vandrel::Guarded(this, command);
}

void TdlgMatrixModel::ConnectHandlers() {
  connect(acRun, &QAction::triggered, this, [this] {
    Guarded([this] {
      // A run that failed leaves no flag set.
      try {
        Run();
      } catch (...) {
        if (fSimRunning) fSimRunning = false;
        throw;
      }
    });
  });
  connect(acInitialise, &QAction::triggered, this, [this] { Guarded([this] { acInitialiseExecute(); }); });
  connect(btApply, &QPushButton::clicked, this, [this] { Guarded([this] { ApplyParameterChanges(); }); });
  connect(pcMatrixModel, &QTabWidget::currentChanged, this, [this, previous = 0](int index) mutable {
    const bool leftParameters = pcMatrixModel->widget(previous) == tsParameters;
    previous = index;
    if (leftParameters) Guarded([this] { ApplyParameterChanges(); });
  });
  for (tLabeledEdit* edit :
       {edSurvival, edFecundity, edTerritory, edRange, edDispersal, edMigrationRate, edMu, edDemographicRisk,
        edLocalRisk, edRegionalRiskMean, edIntercepte, edFlatness})
    connect(edit, &QLineEdit::textChanged, this, [this] { ModelHasChanged = true; });
  connect(seTimeSteps, &QSpinBox::valueChanged, this, [this] { ModelHasChanged = true; });
  connect(edRegionalRiskRange, &QLineEdit::textChanged, this, [this] { edRegionalRiskRangeChange(); });
  connect(cbFecundityType, &QComboBox::currentIndexChanged, this, [this] {
    ModelHasChanged = true;
    cbFecundityTypeChange();
  });
  connect(cbGrowthType, &QComboBox::currentIndexChanged, this, [this] { ModelHasChanged = true; });
  connect(edModelName, &QLineEdit::textChanged, this, [this](const QString& text) {
    if (windowTitle() != text) setWindowTitle(text);
  });
  for (QRadioButton* radio : {rbDispersal, rbFst, rbDistance, rbFst2, rbAutocorrelation})
    connect(radio, &QRadioButton::toggled, this, [this](bool on) {
      if (on) ChangeConnectivityMatrix();
    });
  for (QRadioButton* radio : {rbmFisAfter, rbmFstAfter})
    connect(radio, &QRadioButton::toggled, this, [this] { ShowStatisticsSwitch(); });
  connect(ckmActualSize, &QCheckBox::toggled, this, [this](bool on) {
    if (fActualSize.Series) fActualSize.Series->setVisible(on);
  });
  connect(tsSensitivity->btRunBatch, &QPushButton::clicked, this,
          [this] { Guarded([this] { btRunBatchClick(); }); });
  // What would rebuild the model under a run waits for its end.
  connect(this, &tModelForm::RunningChanged, this, [this](bool running) {
    for (QAction* action : {acRun, acInitialise}) action->setEnabled(!running);
    btApply->setEnabled(!running);
    tsSensitivity->btRunBatch->setEnabled(!running);
  });
}

// ------------------------------------------------------------ the framework's operations

void TdlgMatrixModel::FormClose() {
  MatrixModel.reset();
  FstMat.clear();
  FstDefined.clear();
  tModelForm::FormClose();
}

models::tParam TdlgMatrixModel::GetParam() {
  models::tParam param = MatrixModel ? MatrixModel->param : models::tParam{};
  param.Territ = ReadReal(edTerritory);
  param.alph = 1 / ReadReal(edRange);
  return param;
}

double TdlgMatrixModel::GetAlpha() {
  return MatrixModel->Alpha;
}

double TdlgMatrixModel::GetTerritory() {
  return MatrixModel->Territory;
}

void TdlgMatrixModel::FormActivate() {
  edModelName->setText(windowTitle());
  if (!dlgVandrel || (dlgVandrel->CurrentModel == this && fActivated)) return;
  // Only when it becomes current (or is shown the first time): a message of its
  // initialisation would otherwise activate it again and again.
  fActivated = true;
  dlgVandrel->CurrentModel = this;
  dlgVandrel->ComputeModel();
  dlgVandrel->DrawSpace();
}

void TdlgMatrixModel::ApplyParameterChanges() {
  if (IsRunning()) return;
  Initialise();
  dlgVandrel->ComputeModel();
}

void TdlgMatrixModel::acInitialiseExecute() {
  if (IsRunning()) return;
  Initialise();
  ShowModel();
  InitialiseGraphs();
}

void TdlgMatrixModel::cbFecundityTypeChange() {
  const bool allee = cbFecundityType->currentIndex() == 1;
  edIntercepte->SetShown(allee);
  edFlatness->SetShown(allee);
}

// ------------------------------------------------------------ initialisation

void TdlgMatrixModel::InitialiseModel() {
  models::tMatrixModel& model = *MatrixModel;
  model.Invalidate();
  // The landscape decides the patch count, whatever the patch-count box shows.
  const int32_t n = PatchCount();
  model.SetPatchCount(n);
  FstMat.assign(n, utile::tVectorOfDouble(n, 0.0));
  FstDefined.assign(n, utile::tVectorOfBoolean(n, false));
  ReadReal(edDemographicRisk);
  model.Erm = ReadReal(edRegionalRiskMean);
  model.Err = ReadReal(edRegionalRiskRange);
  const double range = ReadReal(edRange);
  if (!(range > 0)) throw utile::EInvalidArgument("Mean dispersal distance must be >0");
  model.Alpha = 1 / range;
  model.Mu = ReadReal(edMu);
  model.SetFecundityFunction(cbFecundityType->currentIndex());
  model.SetStochasticOrDeterministFunction(cbGrowthType->currentIndex());
  model.Flatness = ReadRealDef(edFlatness, 1);
  model.Intercepte = ReadRealDef(edIntercepte, 0);
  const double territory = ReadReal(edTerritory);
  if (!(territory > 0)) throw utile::EInvalidArgument("Territory area must be >0");
  model.Territory = territory;
  model.NbrTimeStep = seTimeSteps->value();
  const double survival = ReadReal(edSurvival), fecundity = ReadReal(edFecundity),
               risk = ReadReal(edLocalRisk);
  model.migration = ReadReal(edMigrationRate);
  if (!(model.migration >= 0 && model.migration <= 1))
    throw utile::EInvalidArgument("Migration rate must be between [0;1]");
  for (int32_t i = 0; i < n; ++i) {
    const models::tCircle& patch = models::Patches[i];
    model.s[i] = survival;
    model.b[i] = fecundity;
    model.K[i] = model.N[i] = patch.A / territory;
    model.El[i] = rbEi->isChecked() ? risk / model.K[i] : risk;
    model.Patches[i] = {patch.x, patch.y};
    for (int32_t j = 0; j < n; ++j) model.c[i][j] = i == j ? 1 - model.migration : model.migration / (n - 1);
  }
  model.Initialise();
}

void TdlgMatrixModel::Initialise() {
  // The model of a run is rebuilt only by the landscape lines of its own batch,
  // also while a stopped run unwinds.
  if (IsRunning() && !InLandscapeLine()) return;
  try {
    InitialiseModel();
  } catch (const utile::EInvalidArgument& error) {
    // The parameters are refused: the model stays unprepared until they are mended.
    Dialogs().ShowMessage(this, error.Message(), tMessageKind::mkWarning);
    return;
  }
  if (!(MatrixModel->Mu > 0 && MatrixModel->Mu <= 1))
    Dialogs().ShowMessage(this, "Mutation rate must be >0 and <=1", tMessageKind::mkWarning);
  models::ComputeDistanceMatrix();
  ComputeMaxConnectivity();
  edRegionalRiskRangeChange();
}

// ------------------------------------------------------------ charts

void TdlgMatrixModel::CreateSeries() {
  const int32_t n = MatrixModel->PatchCount();
  for (utile::gui::tGraphicChart* chart : {chmDensity, chmCoancestry, chmFixation, chmEffectiveSize, chMeanNe,
                                           chmFis, chmFst, chmConnectivity}) {
    chart->chart()->removeAllSeries();
    chart->SetAutomaticAxes();
  }
  auto line = [](utile::gui::tGraphicChart* chart, const QString& name) {
    tChartLine result{chart, NewLine(chart, name), nullptr};
    result.Points = &chart->LinePoints(result.Series);
    return result;
  };
  auto patchLines = [n, &line](utile::gui::tGraphicChart* chart) {
    std::vector<tChartLine> lines;
    for (int32_t i = 0; i < n; ++i) lines.push_back(line(chart, QString("Patch %1").arg(i + 1)));
    return lines;
  };
  fDensity = patchLines(chmDensity);
  fCoancestry = patchLines(chmCoancestry);
  fFixation = patchLines(chmFixation);
  fFis = patchLines(chmFis);
  fThetaGlobal = line(chmCoancestry, "theta Global");
  fThetaGlobal.Series->setColor(Qt::black);
  fNeGlobal = line(chmEffectiveSize, "NeGlobal");
  fNeGlobal.Series->setColor(Qt::red);
  fActualSize = line(chmEffectiveSize, "Actual size");
  fActualSize.Series->setVisible(ckmActualSize->isChecked());
  fLambdaG = line(chmEffectiveSize, "Lambda G");
  fNeWB = line(chmEffectiveSize, "Ne Whitlock & Barton");
  fNeWB.Series->setColor(Qt::yellow);
  fHarmonicN = line(chmEffectiveSize, "N(harmonic)");
  fMeanNe = line(chMeanNe, "NeGlobal");
  fMeanNe.Series->setColor(Qt::red);
  fFisAfterShown = rbmFisAfter->isChecked();
  fFstAfterShown = rbmFstAfter->isChecked();
  fFisHidden.assign(n, {});
  fFst.clear();
  fFstPairPoints.clear();
  delete fFstLayer;
  fFstLayer = nullptr;
  const size_t pairs = n > 1 ? static_cast<size_t>(n) * (n - 1) / 2 : 0;
  if (pairs <= MaxFstSeries) {
    for (int32_t i = 0; i < n; ++i)
      for (int32_t j = i + 1; j < n; ++j)
        fFst.push_back(line(chmFst, utile::Format("Fst(%d,%d)", i + 1, j + 1).c_str()));
    chmFst->SetLayerLines(nullptr);
  } else {
    fFstPairPoints.assign(pairs, {});
    // Saved as the series would be.
    chmFst->SetLayerLines([this, n](const utile::gui::tGraphicChart::tEachLine& each) {
      size_t k = 0;
      for (int32_t i = 0; i < n; ++i)
        for (int32_t j = i + 1; j < n; ++j)
          each(utile::Format("Fst(%d,%d)", i + 1, j + 1).c_str(), fFstPairPoints[k++]);
    });
    fFstLayer = new utile::gui::tChartLayer(
        *chmFst, utile::gui::tChartLayer::SeriesZ, true,
        [this](QPainter& painter, const utile::gui::tGraphicChart& chart) { PaintFstPairs(painter, chart); });
  }
  fFstHidden.assign(pairs, {});
  fFstRange = {};
  fFstPainted = 0;
  fTimeAxisStart.reset();
  fChartedTo.reset();
  fPairs = new QScatterSeries;
  fPairs->setName("Pairs");
  fPairs->setMarkerSize(7);
  chmConnectivity->AddSeries(fPairs);
  fThetaSeries.clear();
  fNe.reset();
  Label18->setText("");
  Label19->setText("");
}

void TdlgMatrixModel::InitialiseGraphs() {
  utile::SetSeeds(semSeed1->value(), semSeed2->value());
  CreateSeries();
}

std::array<utile::gui::tGraphicChart*, 7> TdlgMatrixModel::TimeCharts() const {
  return {chmDensity, chmCoancestry, chmFixation, chmEffectiveSize, chMeanNe, chmFis, chmFst};
}

void TdlgMatrixModel::ShowStatisticsSwitch() {
  // The lines take the other kind's points and the hidden lists the shown ones.
  auto swap = [](tChartLine& line, QList<QPointF>& hidden) {
    QList<QPointF> shown = line.Chart->Points(line.Series);
    line.Chart->ClearPoints(line.Series);
    line.Chart->AppendPoints(line.Series, hidden);
    hidden = std::move(shown);
  };
  if (rbmFisAfter->isChecked() != fFisAfterShown) {
    fFisAfterShown = !fFisAfterShown;
    for (size_t i = 0; i < fFis.size(); ++i) swap(fFis[i], fFisHidden[i]);
    chmFis->Refresh();
  }
  if (rbmFstAfter->isChecked() != fFstAfterShown) {
    fFstAfterShown = !fFstAfterShown;
    if (fFstLayer) {
      std::swap(fFstPairPoints, fFstHidden);
      std::swap(fFstRange[0], fFstRange[1]);
      DrawFstPairs();
    } else {
      for (size_t k = 0; k < fFst.size(); ++k) swap(fFst[k], fFstHidden[k]);
    }
    chmFst->Refresh();
  }
}

void TdlgMatrixModel::DrawFstPairs() {
  const tRange& range = fFstRange[0];
  if (range.MinY <= range.MaxY) {
    const double padY = std::max(0.02 * (range.MaxY - range.MinY), 1e-3);
    chmFst->SetLeftAxisRange(range.MinY - padY, range.MaxY + padY);
  }
  fFstLayer->update();
}

void TdlgMatrixModel::PaintFstPairs(QPainter& painter, const utile::gui::tGraphicChart& chart) {
  QElapsedTimer clock;
  clock.start();
  fFstPainted = 0;
  // The drawing is the layer's, a little after the refreshes: the next ones wait for it too.
  const auto paid = qScopeGuard([&] { fFstPaintCost = clock.elapsed(); });
  const QRectF plot = chart.chart()->plotArea();
  const double minX = chart.BottomAxis()->min(), spanX = chart.BottomAxis()->max() - minX;
  if (!(spanX > 0) || plot.width() <= 0 || plot.height() <= 0) return;
  // A pixel column takes at most four points of a line, however long the run.
  const double column = spanX / (plot.width() * painter.device()->devicePixelRatioF());
  const utile::tPalette& palette = utile::gui::ChartProperties().Palette;
  QPolygonF line;
  for (size_t k = 0; k < fFstPairPoints.size(); ++k) {
    const QList<QPointF>& points = fFstPairPoints[k];
    painter.setPen(
        QPen(palette.empty() ? QColor(Qt::blue) : utile::gui::ToQColor(palette[k % palette.size()]), 1));
    auto flush = [&] {
      if (line.size() > 1) painter.drawPolyline(line);
      line.clear();
    };
    for (const QPointF& p : utile::gui::CombineByColumn(points.constData(), points.size(), minX, column)) {
      if (!std::isfinite(p.y())) {
        flush();
        continue;
      }
      line.append(chart.ValueToPixel(p));
    }
    flush();
    fFstPainted += points.size();
  }
}

std::optional<double> TdlgMatrixModel::PairFst(const utile::tMatrixOfDouble& theta,
                                               const utile::tVectorOfDouble& n, int32_t i, int32_t j) {
  const double ni2 = n[i] * n[i], nj2 = n[j] * n[j];
  if (!(n[i] > 0 && n[j] > 0) || theta[i][j] == 1) return std::nullopt;
  const double t = (theta[i][i] * ni2 + theta[j][j] * nj2) / (ni2 + nj2);
  const double fst = (t - theta[i][j]) / (1 - theta[i][j]);
  if (!std::isfinite(fst)) return std::nullopt;
  return fst;
}

void TdlgMatrixModel::UpdateFst() {
  const models::tMatrixModel& model = *MatrixModel;
  const int32_t n = model.PatchCount();
  for (int32_t i = 0; i < n; ++i)
    for (int32_t j = 0; j < n; ++j) {
      const std::optional<double> fst =
          i == j ? std::optional<double>() : PairFst(model.Theta, model.N, i, j);
      FstMat[i][j] = fst.value_or(0);
      FstDefined[i][j] = fst.has_value();
    }
}

void TdlgMatrixModel::FlushPoints(bool all) {
  QElapsedTimer clock;
  clock.start();
  // The points are in the charts' lists already: a refresh draws the new ones.
  for (utile::gui::tGraphicChart* chart : TimeCharts())
    if (all || chart->isVisible()) chart->Refresh();
  if (fFstLayer) DrawFstPairs();
  fFlushCost = clock.elapsed();
  fLastFlush.restart();
}

void TdlgMatrixModel::FlushPointsIfDue() {
  // Drawing takes about a fifth of the run, however many charts and series
  // the window has.
  if (!fLastFlush.isValid() ||
      fLastFlush.elapsed() >= std::max<qint64>(100, 4 * (fFlushCost + fFstPaintCost)))
    FlushPoints(false);
}

void TdlgMatrixModel::SetTimeAxes(int32_t end) {
  for (utile::gui::tGraphicChart* chart : TimeCharts()) chart->SetBottomAxisRange(*fTimeAxisStart, end);
}

double TdlgMatrixModel::FstBudget() const {
  const double n = MatrixModel->PatchCount();
  return n * (n - 1) / 2 <= MaxFstSeries ? FstPointBudget : FstLayerPointBudget;
}

void TdlgMatrixModel::CheckChartMemory(int32_t steps) const {
  // Every step gives a point to each patch's size, coancestry, fixation and
  // both Fis, and to the seven global lines; the pairs' two kinds keep to their budget.
  const double n = MatrixModel->PatchCount(), pairs = n * (n - 1) / 2;
  const double points = (5 * n + 7) * steps + 2 * std::min(pairs * steps, FstBudget() + pairs);
  const double bytes = points * sizeof(QPointF);
  if (!utile::MemoryAvailable(static_cast<uint64_t>(bytes)))
    throw utile::EInvalidOperation(utile::Format(
        "The charts of %d time steps over %d patches would take %.0f MB, more memory than is free: run fewer "
        "time steps.",
        steps, static_cast<int32_t>(n), bytes / (1024 * 1024)));
}

void TdlgMatrixModel::ChartStep(int32_t x, double thetaBefore) {
  const models::tMatrixModel& model = *MatrixModel;
  const int32_t n = model.PatchCount();
  const double g = model.gamma;
  const double denominator = 2 * (model.ThetaG - g * thetaBefore);
  if (denominator != 0 && std::isfinite(g * (1 - thetaBefore) / denominator))
    fNe = g * (1 - thetaBefore) / denominator;
  fNeGlobal.Append(x - 1, fNe.value_or(NAN));
  fThetaSeries.push_back(model.ThetaG);
  fThetaGlobal.Append(x, model.ThetaG);
  if (fThetaSeries.size() > 100) {
    const auto smoothed =
        RatioNe(fThetaSeries, g, static_cast<size_t>(seAveragingWindow->value()), fThetaSeries.front());
    fMeanNe.Append(x, smoothed.value_or(NAN));
  }
  fNeWB.Append(x - 1, model.NeWB > 0 ? model.NeWB : NAN);
  double total = 0, inverse = 0;
  bool empty = false;
  for (int32_t i = 0; i < n; ++i) {
    total += model.N[i];
    if (model.N[i] > 0)
      inverse += 1 / model.N[i];
    else
      empty = true;
  }
  fActualSize.Append(x, total);
  fHarmonicN.Append(x, empty || n == 0 ? NAN : n / inverse);
  if (ckmHeavyRun->isChecked() && !model.G.empty())
    fLambdaG.Append(x, model.G.size() > 1 ? utile::DominantEigenValue(model.G, 1000, 1e-10) : model.G[0][0]);

  for (int32_t i = 0; i < n; ++i) {
    fDensity[i].Append(x, model.N[i]);
    fCoancestry[i].Append(x, model.Theta[i][i]);
    fFixation[i].Append(x, model.F[i]);
    double before = NAN, after = NAN;
    if (model.Theta[i][i] > 0 && model.Theta[i][i] <= 1) {
      if (model.Thb[i][i] < 1 && model.Nb[i] > 1)
        before = (model.Fb[i] - model.Thb[i][i]) / (1 - model.Thb[i][i]);
      if (model.Theta[i][i] < 1 && model.N[i] > 1)
        after = (model.F[i] - model.Theta[i][i]) / (1 - model.Theta[i][i]);
    }
    fFis[i].Append(x, fFisAfterShown ? after : before);
    fFisHidden[i].append(QPointF(x, Gap(fFisAfterShown ? before : after)));
  }
  UpdateFst();
}

void TdlgMatrixModel::ChartFst(int32_t x) {
  const models::tMatrixModel& model = *MatrixModel;
  const int32_t n = model.PatchCount();
  size_t k = 0;
  for (int32_t i = 0; i < n; ++i)
    for (int32_t j = i + 1; j < n; ++j, ++k) {
      const double after = FstDefined[i][j] ? FstMat[i][j] : NAN;
      const double before = PairFst(model.Thb, model.Nb, i, j).value_or(NAN);
      const double shown = fFstAfterShown ? after : before, hidden = fFstAfterShown ? before : after;
      if (fFstLayer) {
        fFstPairPoints[k].append(QPointF(x, Gap(shown)));
        fFstRange[0].Include(x, shown);
        fFstRange[1].Include(x, hidden);
      } else {
        fFst[k].Append(x, shown);
      }
      fFstHidden[k].append(QPointF(x, Gap(hidden)));
    }
}

// ------------------------------------------------------------ the run

void TdlgMatrixModel::Run() {
  models::tMatrixModel& model = *MatrixModel;
  if (!model.Initialised())
    throw utile::EInvalidOperation(
        "The matrix model is not initialised: mend its parameters and initialise it.");
  tModelForm::Run();
  const tRunLock lock(*this);
  try {
    const int32_t n = model.PatchCount(), steps = seTimeSteps->value();
    CheckChartMemory(steps);
    // Charts made for other patches, or for a run that this model does not
    // continue (it was initialised since), start anew: the new points would
    // otherwise join the old lines back across the charts.
    const size_t pairs = n > 1 ? static_cast<size_t>(n) * (n - 1) / 2 : 0;
    if (fDensity.size() != static_cast<size_t>(n) || fFstHidden.size() != pairs ||
        (fChartedTo && *fChartedTo != model.tMax))
      CreateSeries();
    model.ThetaG = 0;
    const int32_t t0 = model.tMax;
    fFstStride = std::max<int32_t>(
        1, static_cast<int32_t>(std::ceil(static_cast<double>(pairs) * steps / FstBudget())));
    // The time axes span the whole run from its start: as points come they
    // change the plotted range, and each change would draw every line again.
    if (!fTimeAxisStart) fTimeAxisStart = t0;
    SetTimeAxes(t0 + steps);
    bool ranOut = true, stopped = false;
    int32_t charted = 0, fstCharted = 0;
    for (int32_t step = 1; step <= steps; ++step) {
      const double thetaBefore = model.ThetaG;
      model.Run(1, ckmHeavyRun->isChecked());
      if (model.Nt < 1 || model.isbreak) {
        ranOut = false;
        break;
      }
      ChartStep(t0 + step, thetaBefore);
      charted = step;
      if (step % fFstStride == 0 || step == steps) {
        ChartFst(t0 + step);
        fstCharted = step;
      }
      FlushPointsIfDue();
      utile::ProcessMessages();
      // A close stops the run after this step.
      if (!fSimRunning) {
        stopped = true;
        break;
      }
    }
    // The pairs' lines reach the last step of a stopped run too.
    if (stopped && fstCharted != charted) ChartFst(t0 + charted);
    fChartedTo = model.tMax;
    // Once over, the charts span what the runs charted.
    SetTimeAxes(model.tMax);
    FlushPoints(true);
    if (!stopped) FinishRun(ranOut);
  } catch (...) {
    fSimRunning = false;
    throw;
  }
  fSimRunning = false;
}

void TdlgMatrixModel::FinishRun(bool ranOut) {
  models::tMatrixModel& model = *MatrixModel;
  const int32_t n = model.PatchCount();
  if (ranOut) {
    const auto equilibrium = RoundedSize(RatioNe(fThetaSeries, model.gamma, EquilibriumSteps, 0));
    model.EquilibriumEffectiveSize =
        equilibrium ? static_cast<int32_t>(std::clamp<int64_t>(*equilibrium, INT32_MIN, INT32_MAX)) : 0;
    Label18->setText(equilibrium ? QString::number(*equilibrium) : QString());
    // Isolation by distance over the pairs whose Fst and distance are defined.
    UpdateFst();
    utile::tVectorOfDouble x, y;
    fPairs->clear();
    for (int32_t i = 0; i < n; ++i)
      for (int32_t j = i + 1; j < n; ++j)
        if (FstDefined[i][j] && FstMat[i][j] < 1 && model.d[i][j] > 0) {
          x.push_back(std::log(model.d[i][j]));
          y.push_back(FstMat[i][j] / (1 - FstMat[i][j]));
          chmConnectivity->AppendPoint(fPairs, x.back(), y.back());
        }
    // The points clear of the frame.
    if (!x.empty()) {
      const auto [minX, maxX] = std::minmax_element(x.begin(), x.end());
      const auto [minY, maxY] = std::minmax_element(y.begin(), y.end());
      const double padX = std::max(0.05 * (*maxX - *minX), 0.05),
                   padY = std::max(0.05 * (*maxY - *minY), 0.05);
      chmConnectivity->SetBottomAxisRange(*minX - padX, *maxX + padX);
      chmConnectivity->SetLeftAxisRange(*minY - padY, *maxY + padY);
    }
    double intercept = NAN, slope = NAN;
    if (x.size() >= 2) utile::Regression(x, y, intercept, slope);
    Label19->setText(std::isfinite(slope) && std::isfinite(intercept)
                         ? QString::fromStdString(utile::Format("slope=%.4g, Int=%.4g", slope, intercept))
                         : QString());
  } else {
    Dialogs().ShowMessage(this, "Extinction", tMessageKind::mkInformation);
    Label18->setText("  ");
  }
  if (!model.isbreak) {
    model.ComputeAverageReproductiveValue();
    utile::ComputeLeftRightEigenKw(model.SumEffectiveJuvOrig, model.KwRealEigenVal, model.KwRealR,
                                   model.KwRealL, model.Kwerr);
    utile::ComputeLeftRightEigenKw(model.SumEffectiveJuvOrigForward, model.KwRealEigenValForward,
                                   model.KwRealForwardR, model.KwRealForwardL, model.KwerrForward);
    model.KwRealForwardPatchRepVal.assign(n, 0.0);
    for (int32_t i = 0; i < n; ++i)
      model.KwRealForwardPatchRepVal[i] = model.KwRealForwardR[i] * model.KwRealForwardL[i];
    utile::VecSumToOne(model.KwRealForwardPatchRepVal);
    ShowModel();
  }
}

// ------------------------------------------------------------ the model page

void TdlgMatrixModel::ShowModel() {
  const models::tMatrixModel& model = *MatrixModel;
  const int32_t n = model.PatchCount();
  QStringList lines;
  auto line = [&lines](const std::string& text) { lines << QString::fromStdString(text); };
  auto matrix = [&](const utile::tMatrixOfDouble& m) {
    for (const utile::tVectorOfDouble& row : m) {
      std::string text;
      for (double v : row) text += utile::Format("%.3g\t", v);
      line(text);
    }
  };
  auto vector = [&](const utile::tVectorOfDouble& v) {
    std::string text;
    for (double x : v) text += utile::Format("%.3g\t", x);
    line(text);
  };
  const double survival = ReadRealDef(edSurvival, 0), fecundity = ReadRealDef(edFecundity, 0);
  line("Date:\t" + QDateTime::currentDateTime().toString("dd/MM/yyyy hh:mm:ss").toStdString());
  line("PARAMETERS:");
  line(utile::Format("Survival=\t%.g", survival));
  line(utile::Format("Fecundity=\t%.g", fecundity));
  line(utile::Format("Territory area=\t%s", edTerritory->text().toStdString()));
  line(utile::Format("Alpha=\t%.g", model.Alpha));
  line(utile::Format("Ed=\t%.g", ReadRealDef(edDemographicRisk, 0)));
  line(utile::Format("Er mean=\t%.g", model.Erm));
  line(utile::Format("Er range=\t%.g", model.Err));
  line(utile::Format("Mu=\t%.g", model.Mu));
  line("PATCHES:");
  line("ID\tX\tY\tArea\tK\ts\tb\ta");
  for (int32_t i = 0; i < n && i < models::PatchCount(); ++i) {
    const models::tCircle& patch = models::Patches[i];
    const double a = model.K[i] != 0 ? (model.s[i] + model.b[i] - 1) / model.K[i] : 0;
    line(utile::Format("%d\t%.g\t%.g\t%.f\t%.1g\t%.3g\t%.3g\t%.5g", patch.popID, patch.x, patch.y, patch.A,
                       model.K[i], model.s[i], model.b[i], a));
  }
  line("MATRICES:");
  line("Distance matrix: D=");
  matrix(model.d);
  line("Connectivity matrix: C=");
  matrix(model.c);
  line("OUTPUTS FROM SIMULATIONS");
  line("Backward dispersal matrix");
  matrix(model.SumEffectiveJuvOrig);
  line("ind rep val");
  vector(model.KwRealL);
  line("prop of ind");
  vector(model.KwRealR);
  line("Patch Repr val (left eigen * right eigen)");
  vector(model.KwRealForwardPatchRepVal);
  line("EFFECTIVE METAPOPULATION SIZE");
  line(Label18->text().trimmed().isEmpty() ? std::string()
                                           : utile::Format("%d", model.EquilibriumEffectiveSize));
  mmmModel->setPlainText(lines.join('\n'));
}

// ------------------------------------------------------------ connectivity

void TdlgMatrixModel::ChangeConnectivityMatrix() {
  if (rbDistance->isChecked())
    SetConnectivityFunction([this](int32_t i, int32_t j) { return InverseDistance(i, j); });
  else if (rbDispersal->isChecked())
    SetConnectivityFunction([this](int32_t i, int32_t j) { return Dispersal(i, j); });
  else if (rbFst->isChecked())
    SetConnectivityFunction([this](int32_t i, int32_t j) { return InverseFst(i, j); });
  else if (rbFst2->isChecked())
    SetConnectivityFunction([this](int32_t i, int32_t j) { return InverseFst2(i, j); });
  else if (rbAutocorrelation->isChecked())
    SetConnectivityFunction([this](int32_t i, int32_t j) { return SpatialAutoCorrelation(i, j); });
  if (dlgVandrel) dlgVandrel->DrawSpace();
}

double TdlgMatrixModel::Dispersal(int32_t i, int32_t j) const {
  if (!MatrixModel || MatrixModel->ExpADij.empty()) return 0;
  return MatrixModel->ExpADij.at(i).at(j);
}

double TdlgMatrixModel::InverseFst(int32_t i, int32_t j) const {
  if (FstMat.empty() || !FstDefined.at(i).at(j)) return 0;
  return 1 - FstMat[i][j];
}

double TdlgMatrixModel::InverseFst2(int32_t i, int32_t j) const {
  if (FstMat.empty() || !FstDefined.at(i).at(j) || FstMat[i][j] == 0) return 0;
  const double fst = FstMat[i][j];
  const double value = std::log10((1 - fst) / fst + 1);
  return std::isfinite(value) ? value : 0;
}

double TdlgMatrixModel::SpatialAutoCorrelation(int32_t i, int32_t j) const {
  if (!MatrixModel || MatrixModel->mCorr.size() != static_cast<size_t>(PatchCount())) return 0;
  return MatrixModel->mCorr.at(i).at(j);
}

void TdlgMatrixModel::edRegionalRiskRangeChange() {
  ModelHasChanged = true;
  const std::string text = edRegionalRiskRange->text().toStdString();
  if (text.empty()) return;
  double largest = 0;
  if (MatrixModel)
    for (const utile::tVectorOfDouble& row : MatrixModel->d)
      for (double v : row) largest = std::max(largest, v);
  const double range = utile::StrToFloatDef(text, 0);
  edMinCorr->setText(QString::fromStdString(
      utile::Format("%.2g", range > 0 ? std::exp(-3 * largest * largest / (range * range)) : 0.0)));
  if (rbAutocorrelation->isChecked() && dlgVandrel) dlgVandrel->DrawSpace();
}

// ------------------------------------------------------------ batch

void TdlgMatrixModel::btRunBatchClick() {
  utile::SetSeeds(semSeed1->value(), semSeed2->value());
  RunBatch(tsSensitivity->BatchLines(), tsSensitivity->edOutputFile->text().toStdString(), false);
}

void TdlgMatrixModel::WriteHeaders() {
  const int32_t n = PatchCount();
  std::string header = "Landscape\t";
  for (const std::string& caption : tsSensitivity->sboxLanSensitivity->Captions()) header += caption + "\t";
  for (const std::string& caption : tsSensitivity->sboxSensitivity->Captions()) header += caption + "\t";
  header += "MetaK\t";
  auto each = [&](const char* format) {
    for (int32_t i = 1; i <= n; ++i) header += utile::Format(format, i) + "\t";
  };
  auto lower = [&](const char* format, bool diagonal) {
    for (int32_t i = 1; i <= n; ++i)
      for (int32_t j = 1; j <= (diagonal ? i : i - 1); ++j) header += utile::Format(format, i, j) + "\t";
  };
  if (cbExtinctionDate->isChecked()) header += "ExtinctionDate\t";
  if (cbTheta->isChecked()) lower("Theta%d.%d", true);
  if (cbF->isChecked()) each("F%d");
  if (cbNLastGeneration->isChecked()) each("NLastGeneration%d");
  if (cbK->isChecked()) each("K%d");
  if (cbFis->isChecked()) each("Fis%d");
  if (cbDistance->isChecked()) lower("D%d.%d", true);
  if (cbGlobalFst->isChecked()) header += "FstGlobal\t";
  if (cbMeanThetaGlobal->isChecked()) header += "MeanThetaGlob\t";
  if (cbMeanNe->isChecked()) header += "NeEqu\t";
  if (cbTransitionMatrix->isChecked())
    for (int32_t i = 1; i <= n; ++i)
      for (int32_t j = 1; j <= n; ++j) header += utile::Format("TransitionMatrix%d.%d", i, j) + "\t";
  if (cbMeanRepVal->isChecked()) each("RepVal%d");
  if (cbMeanN->isChecked()) each("MeanN%d");
  if (cbPairwiseFst->isChecked()) lower("Fst%d.%d", false);
  Fs.WriteLn(header);
}

namespace {
// The run was stopped (the window closes): it has no row.
struct tBatchStopped {};

// Text with at least `fields` TAB-ended fields, so that a line with fewer values
// than the page's lists still stands under its header.
std::string Padded(std::string text, size_t fields) {
  size_t count = static_cast<size_t>(std::count(text.begin(), text.end(), '\t'));
  if (!text.empty() && text.back() != '\t') {
    text += '\t';
    ++count;
  }
  for (; count < fields; ++count) text += '\t';
  return text;
}
}  // namespace

std::string TdlgMatrixModel::RowStart() const {
  // Rows before the batch's first landscape line have empty landscape fields.
  return Padded(sLan, 1 + tsSensitivity->lblLanParams().size()) +
         Padded(sPar, tsSensitivity->lblParams().size());
}

std::string TdlgMatrixModel::NARow() const {
  // Only the landscape's own values: capacities and distances.
  const models::tMatrixModel& model = *MatrixModel;
  const int32_t n = model.PatchCount();
  std::string row;
  auto na = [&](int32_t count) {
    for (int32_t k = 0; k < count; ++k) row += "NA\t";
  };
  if (cbExtinctionDate->isChecked()) na(1);
  if (cbTheta->isChecked()) na(n * (n + 1) / 2);
  if (cbF->isChecked()) na(n);
  if (cbNLastGeneration->isChecked()) na(n);
  if (cbK->isChecked())
    for (int32_t i = 0; i < n; ++i) row += Real(model.K[i]) + "\t";
  if (cbFis->isChecked()) na(n);
  if (cbDistance->isChecked())
    for (int32_t i = 0; i < n; ++i)
      for (int32_t j = 0; j <= i; ++j) row += Real(models::DistanceMat.at(i).at(j)) + "\t";
  if (cbGlobalFst->isChecked()) na(1);
  if (cbMeanThetaGlobal->isChecked()) na(1);
  if (cbMeanNe->isChecked()) na(1);
  if (cbTransitionMatrix->isChecked()) na(n * n);
  if (cbMeanRepVal->isChecked()) na(n);
  if (cbMeanN->isChecked()) na(n);
  if (cbPairwiseFst->isChecked()) na(n * (n - 1) / 2);
  return row;
}

std::string TdlgMatrixModel::BatchRun(bool& survived) {
  InitialiseModel();
  models::tMatrixModel& model = *MatrixModel;
  model.stop = 0;
  const int32_t n = model.PatchCount();
  const int32_t steps = seTimeSteps->value();
  model.Run(steps - EquilibriumSteps, false);
  if (model.Aborted()) throw tBatchStopped();
  std::vector<double> theta;
  const double before = model.ThetaG;
  for (int32_t k = 0; k < EquilibriumSteps && !model.isbreak; ++k) {
    model.Run(1, false);
    if (model.Aborted()) throw tBatchStopped();
    if (!model.isbreak) theta.push_back(model.ThetaG);
  }
  survived = !model.isbreak;
  if (!survived) {
    std::string row = NARow();
    if (cbExtinctionDate->isChecked()) row.replace(0, 2, utile::Format("%d", model.stop));
    return row;
  }

  if (n > 0) {
    model.ComputeAverageReproductiveValue();
    model.EffectContr = model.SumEffectiveJuvOrig;
    utile::ComputeLeftRightEigenKw(model.SumEffectiveJuvOrig, model.RealEigenVal, model.RealR, model.RealL,
                                   model.Kwerr);
    utile::tMatrixOfDouble offDiagonal = model.SumEffectiveJuvOrig;
    for (int32_t i = 0; i < n; ++i) offDiagonal[i][i] = 0;
    model.SumEffectiveJuvOrig = offDiagonal;
    utile::ComputeLeftRightEigenKw(offDiagonal, model.KwRealEigenVal, model.KwRealR, model.KwRealL,
                                   model.Kwerr);
    models::ComputeEigen(model.SumEffectiveJuvOrigForward, model.RealEigenValForward, model.RealForwardR,
                         model.RealForwardL);
    model.RealForwardPatchRepVal.assign(n, 0.0);
    for (int32_t i = 0; i < n; ++i)
      model.RealForwardPatchRepVal[i] = model.RealForwardR[i] * model.RealForwardL[i];
  }

  std::string row;
  auto value = [&row](std::optional<double> v) { row += (v ? Real(*v) : std::string("na")) + "\t"; };
  if (cbExtinctionDate->isChecked()) row += utile::Format("%d", model.stop) + "\t";
  if (cbTheta->isChecked())
    for (int32_t i = 0; i < n; ++i)
      for (int32_t j = 0; j <= i; ++j) value(model.Theta[i][j]);
  if (cbF->isChecked())
    for (int32_t i = 0; i < n; ++i) value(model.F[i]);
  if (cbNLastGeneration->isChecked())
    for (int32_t i = 0; i < n; ++i) value(model.N[i]);
  if (cbK->isChecked())
    for (int32_t i = 0; i < n; ++i) value(model.K[i]);
  if (cbFis->isChecked())
    for (int32_t i = 0; i < n; ++i) {
      const double fis = (model.F[i] - model.Theta[i][i]) / (1 - model.Theta[i][i]);
      value(model.N[i] > 0 && std::isfinite(fis) ? std::optional<double>(fis) : std::nullopt);
    }
  if (cbDistance->isChecked())
    for (int32_t i = 0; i < n; ++i)
      for (int32_t j = 0; j <= i; ++j) value(models::DistanceMat.at(i).at(j));
  if (cbGlobalFst->isChecked()) {
    // Within-patch coancestry weighted by N^2 against the between-patch one
    // weighted by N_i N_j: the pairwise Fst of two patches.
    double within = 0, withinWeight = 0, between = 0, betweenWeight = 0;
    for (int32_t i = 0; i < n; ++i)
      for (int32_t j = 0; j < n; ++j) {
        const double w = model.N[i] * model.N[j];
        if (i == j) {
          within += w * model.Theta[i][i];
          withinWeight += w;
        } else {
          between += w * model.Theta[i][j];
          betweenWeight += w;
        }
      }
    std::optional<double> fst;
    if (withinWeight > 0 && betweenWeight > 0) {
      const double b = between / betweenWeight, f = (within / withinWeight - b) / (1 - b);
      if (std::isfinite(f)) fst = f;
    }
    value(fst);
  }
  if (cbMeanThetaGlobal->isChecked()) {
    double sum = 0;
    for (double t : theta) sum += t;
    value(theta.empty() ? std::nullopt : std::optional<double>(sum / theta.size()));
  }
  if (cbMeanNe->isChecked()) {
    const auto ne = RoundedSize(RatioNe(theta, model.gamma, theta.size(), before));
    row += (ne ? utile::Format("%d", *ne) : std::string("na")) + "\t";
  }
  if (cbTransitionMatrix->isChecked())
    for (int32_t i = 0; i < n; ++i)
      for (int32_t j = 0; j < n; ++j) value(model.EffectContr[i][j]);
  if (cbMeanRepVal->isChecked())
    for (int32_t i = 0; i < n; ++i) value(model.RealL.at(i));
  if (cbMeanN->isChecked())
    for (int32_t i = 0; i < n; ++i) value(model.SumNi[i]);
  if (cbPairwiseFst->isChecked())
    for (int32_t i = 0; i < n; ++i)
      for (int32_t j = 0; j < i; ++j) value(PairFst(model.Theta, model.N, i, j));
  return row;
}

void TdlgMatrixModel::RunSensitivity() {
  bool survived = false;
  const std::string row = BatchRun(survived);
  Fs.WriteLn(fRowStart + row);
}

void TdlgMatrixModel::Simulation(const std::string& Line) {
  const std::vector<std::string> values = BatchLineValues(Line, tBatchLineKind::blSimulation);
  sPar.clear();
  size_t next = 0;
  for (const tTaggedComponent& item : TaggedComponents)
    if (item.Tag == 1) TakeBatchValues(item.Component, tBatchTarget::btSimulation, values, next, sPar);
  const tRunLock lock(*this);
  try {
    InitialiseModel();
    models::ComputeDistanceMatrix();
    const models::tParam param = GetParam();
    const double capacity = models::ComputeMetapopulationCapacity(&param, models::Patches);
    // Every row begins with the line's values and the capacity.
    fRowStart = RowStart() + Real(capacity) + "\t";
    const std::string& start = fRowStart;
    const int32_t repetitions = std::max(1, seNbrRep->value()), trials = std::max(1, seNbrTrials->value());
    std::string row;
    bool survived = false;
    auto attempt = [&] {
      for (int32_t k = 0; k < trials && !survived; ++k) row = BatchRun(survived);
      return survived;
    };
    if (cbEffectiveSizeMode->isChecked()) {
      // Up to the trial count of runs until one survives, with ever shorter
      // runs while none does; then the other repetitions, each given as many trials.
      attempt();
      while (!survived && seTimeSteps->value() >= 2000) {
        seTimeSteps->setValue(seTimeSteps->value() - 500);
        attempt();
      }
      if (!survived) {
        for (int32_t r = 0; r < repetitions; ++r) Fs.WriteLn(start + NARow());
      } else {
        Fs.WriteLn(start + row);
        for (int32_t r = 1; r < repetitions; ++r) {
          survived = false;
          Fs.WriteLn(start + (attempt() ? row : NARow()));
        }
      }
    } else {
      const int32_t runs = cbExtinctionTimeMode->isChecked() ? repetitions : 1;
      for (int32_t r = 0; r < runs; ++r) RunSensitivity();
    }
  } catch (const tBatchStopped&) {
    // Closing stops the batch after this line; the run has no row.
  } catch (const std::exception& error) {
    ++BatchErrors;
    Fs.WriteLn("****** Error for " + sLan + sPar + ": " + error.what() + " ************");
  }
  utile::ProcessMessages();
}

}  // namespace vandrel
