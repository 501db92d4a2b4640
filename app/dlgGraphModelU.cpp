#include "app/dlgGraphModelU.h"

#include <QAction>
#include <QCheckBox>
#include <QDateTime>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QSlider>
#include <QSpinBox>
#include <QTabWidget>
#include <QVBoxLayout>
#include <QValueAxis>
#include <QXYSeries>
#include <algorithm>
#include <cmath>
#include <exception>

#include "Utile/RunTime.h"
#include "Utile/StringOps.h"
#include "Utile/gui/StringOps.h"
#include "app/FormControls.h"
#include "app/SensitivityPage.h"
#include "app/WindowServices.h"
#include "app/dlgVandrelU.h"
#include "models/MetapopCommon.h"

namespace vandrel {

namespace {
QSlider* NewTrackBar(QWidget* parent, const char* name, int minimum, int maximum, int position) {
  auto* bar = new QSlider(Qt::Horizontal, parent);
  bar->setObjectName(name);
  bar->setRange(minimum, maximum);
  bar->setValue(position);
  return bar;
}
}  // namespace

// ------------------------------------------------------------ the kernel chart

tDispersalKernelGraph::tDispersalKernelGraph(QWidget* parent, const QString& xTitle, const QString& yTitle,
                                             const QString& title)
    : tFunctionGraphChart(parent, xTitle, yTitle, title) {
  // A small chart: small print and few ticks, so that the axes keep their labels.
  for (QValueAxis* axis : {BottomAxis(), LeftAxis()}) {
    QFont font = axis->labelsFont();
    font.setPointSizeF(font.pointSizeF() * 0.8);
    axis->setLabelsFont(font);
    axis->setTitleFont(font);
  }
  chart()->setMargins(QMargins(2, 2, 2, 2));
  FAlpha = 1;
  SetMinX(0);
  SetMaxX(100);
  SetBottomAxisRange(0, 100);
  BottomAxis()->setTickInterval(50);
  SetGraphedFunction([this](double x) { return NegativeExponential(x); });
  DrawFunction();
}

double tDispersalKernelGraph::NegativeExponential(double x) const {
  return std::exp(-FAlpha * x);
}

void tDispersalKernelGraph::SetAlpha(double a) {
  FAlpha = a > 0 ? a : 1;
  DrawFunction();
}

// ------------------------------------------------------------ creation

TdlgGraphModel::TdlgGraphModel(TdlgVandrel* mainWindow) : tModelForm(mainWindow) {
  setObjectName("dlgGraphModel");
  setWindowTitle("Graph Model");
  resize(639, 361);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(4, 4, 4, 4);
  pcModel = new QTabWidget(this);
  pcModel->setObjectName("pcModel");
  layout->addWidget(pcModel);

  tsParameters = NewTabPage(pcModel, "tsParameters", "Parameters");
  BuildParametersPage();

  tsModel = NewTabPage(pcModel, "tsModel", "Model");
  mmModel = NewMemo(tsModel, "mmModel");
  (new QVBoxLayout(tsModel))->addWidget(mmModel);

  tsResults = NewTabPage(pcModel, "tsResults", "Results");
  pcResults = new QTabWidget(tsResults);
  pcResults->setObjectName("pcResults");
  tsDesignPage = NewTabPage(pcResults, "tsDesignPage", "");
  pcResults->setTabVisible(0, false);
  (new QVBoxLayout(tsResults))->addWidget(pcResults);

  tsSensitivity = NewTabPage(pcModel, "tsSensitivityTab", "Sensitivity analysis");
  // The batch page exists for the batch protocol but is offered to nobody.
  pcModel->setTabVisible(pcModel->indexOf(tsSensitivity), false);
  tSensitivityPageStyle style;
  style.OutputFile = "BatchResults.txt";
  SensitivityPage = new tSensitivityPage(this, style, tsSensitivity);
  (new QVBoxLayout(tsSensitivity))->addWidget(SensitivityPage);

  acRun = NewAction(this, "acRun", "&Run", Qt::Key_F9);
  acInitialise = NewAction(this, "acInitialise", "&Initialise", Qt::CTRL | Qt::Key_F9);

  // The controls that take batch values, in component order.
  for (QWidget* component : std::initializer_list<QWidget*>{edColonisationRate, edExtinctionRate, edDelta,
                                                            edZim, edZem, edZex, edRange, edSizeThreshold})
    TaggedComponents.Add(component, 1);

  ConnectHandlers();
  pcModel->setCurrentWidget(tsParameters);
  fLastPage = pcModel->currentIndex();

  ModelHasChanged = true;
  tbDispersalChange();
  Initialise();
  ChangeConnectivityMatrix();
  DispersalKernelGraph = new tDispersalKernelGraph(grpDispersalKernel, "Distance", "Probability", "");
  DispersalKernelGraph->setObjectName("DispersalKernelGraph");
  DispersalKernelGraph->chart()->legend()->hide();
  grpDispersalKernel->layout()->addWidget(DispersalKernelGraph);
  DispersalKernelGraph->SetAlpha(GetAlpha());
  BuildSensitivityPage();
}

void TdlgGraphModel::BuildParametersPage() {
  auto* page = new QHBoxLayout(tsParameters);
  page->setContentsMargins(4, 4, 4, 4);
  auto* left = new QVBoxLayout;
  page->addLayout(left);

  grpMetapopulation = NewGroupBox(tsParameters, "grpMetapopulation", "&Metapopulation dynamics");
  auto* metapopulation = new QFormLayout(grpMetapopulation);
  edColonisationRate = NewLabeledEdit(grpMetapopulation, "edColonisationRate", "Colonisation rate c=", "0.5");
  edExtinctionRate = NewLabeledEdit(grpMetapopulation, "edExtinctionRate", "Extinction rate e=", "0.05");
  edDelta = NewLabeledEdit(grpMetapopulation, "edDelta", "e/c=", "");
  edDelta->setReadOnly(true);
  for (tLabeledEdit* edit : {edColonisationRate, edExtinctionRate, edDelta})
    metapopulation->addRow(edit->EditLabel, edit);
  left->addWidget(grpMetapopulation);

  grpOutput = NewGroupBox(tsParameters, "grpOutput", "&Output");
  auto* output = new QVBoxLayout(grpOutput);
  const char* const thresholdHint = "Cut-off threshold for display and graph analysis";
  tbAdjacencyThreshold = NewTrackBar(grpOutput, "tbAdjacencyThreshold", 0, 100, 0);
  tbAdjacencyThreshold->setToolTip(thresholdHint);
  lblAdjacencyThreshold = NewLabel(grpOutput, "lblAdjacencyThreshold", "&Threshold:");
  lblAdjacencyThreshold->setToolTip(thresholdHint);
  lblAdjacencyThreshold->setBuddy(tbAdjacencyThreshold);
  auto* thresholdRow = new QHBoxLayout;
  thresholdRow->addWidget(lblAdjacencyThreshold);
  thresholdRow->addWidget(tbAdjacencyThreshold, 1);
  output->addLayout(thresholdRow);
  ckGroupCount = NewCheckBox(grpOutput, "ckGroupCount", "&Group count");
  ckGroupCount->setChecked(true);
  ckGroupCount->setToolTip("Number of isolated groups of patches");
  ckOverallSize = NewCheckBox(grpOutput, "ckOverallSize", "&Overall size");
  ckOverallSize->setToolTip("Total size of all groups whose size > threshold size");
  ckExpectedSize = NewCheckBox(grpOutput, "ckExpectedSize", "&Expected size");
  ckExpectedSize->setToolTip(
      "Expected population size at quasi-equilibrium (Metapopulation capacity * Size)");
  for (QCheckBox* box : {ckGroupCount, ckOverallSize, ckExpectedSize}) output->addWidget(box);
  edSizeThreshold = NewLabeledEdit(grpOutput, "edSizeThreshold", "Size threshold:", "10");
  auto* sizeRow = new QHBoxLayout;
  sizeRow->addWidget(edSizeThreshold->EditLabel);
  sizeRow->addWidget(edSizeThreshold, 1);
  output->addLayout(sizeRow);
  auto* buttons = new QHBoxLayout;
  btCompute = NewButton(grpOutput, "btCompute", "&Compute");
  btApply = NewButton(grpOutput, "btApply", "&Apply");
  btApply->setVisible(false);
  btTest = NewButton(grpOutput, "btTest", "test");
  btTest->setVisible(false);
  buttons->addWidget(btCompute);
  buttons->addWidget(btApply);
  buttons->addWidget(btTest);
  buttons->addStretch(1);
  output->addLayout(buttons);
  left->addWidget(grpOutput);
  left->addStretch(1);

  grpDispersal = NewGroupBox(tsParameters, "grpDispersal", "&Dispersal");
  auto* dispersal = new QVBoxLayout(grpDispersal);
  rbDistance = NewRadioButton(grpDispersal, "rbDistance", "Inverse di&stance");
  rbDispersalKernel = NewRadioButton(grpDispersal, "rbDispersalKernel", "Dispersal &kernel");
  rbDispersalKernel->setToolTip("Negative exponential dispersal kernel");
  rbDispersalKernel->setChecked(true);
  rbDispersalFlow = NewRadioButton(grpDispersal, "rbDispersalFlow", "Dispersal &flow");
  rbDispersalFlow->setToolTip("Dispersal kernel modified by source and target patch sizes");
  for (QRadioButton* button : {rbDistance, rbDispersalKernel, rbDispersalFlow}) dispersal->addWidget(button);
  auto* factors = new QFormLayout;
  edZim =
      NewLabeledEdit(grpDispersal, "edZim", "Immigration factor Zim=", "0", "Effect of patch size on immigration");
  edZem = NewLabeledEdit(grpDispersal, "edZem", "Emigration factor Zem=", "1", "Effect of patch size on emigration");
  edZex = NewLabeledEdit(grpDispersal, "edZex", "Extinction factor Zex=", "0", "Effect of patch size on extinction");
  edRange = NewLabeledEdit(grpDispersal, "edRange", "&Distance 1/alpha=", "30",
                    "Parameter of the negative exponential dispersal kernel");
  for (tLabeledEdit* edit : {edZim, edZem, edZex, edRange}) factors->addRow(edit->EditLabel, edit);
  dispersal->addLayout(factors);
  tbDispersal = NewTrackBar(grpDispersal, "tbDispersal", 1, 100, 30);
  dispersal->addWidget(tbDispersal);
  dispersal->addStretch(1);
  page->addWidget(grpDispersal);

  grpDispersalKernel = NewGroupBox(tsParameters, "grpDispersalKernel", "Dispersal kernel");
  auto* kernel = new QVBoxLayout(grpDispersalKernel);
  kernel->setContentsMargins(0, 0, 0, 0);
  page->addWidget(grpDispersalKernel, 1);

  for (tLabeledEdit* edit :
       {edColonisationRate, edExtinctionRate, edZim, edZem, edZex, edRange, edSizeThreshold}) {
    utile::gui::InstallKeyFilter(edit, utile::gui::EditReal);
    edit->setMaximumWidth(55);
  }
  edDelta->setMaximumWidth(55);
}

void TdlgGraphModel::BuildSensitivityPage() {
  // The model list: every tagged edit, captioned by its name.
  SensitivityPage->BuildSensitivityPage(LandscapeEntries(dlgVandrel->TaggedComponents),
                                        TaggedEntries(TaggedComponents, 1, IsEditControl));
}

void TdlgGraphModel::ConnectHandlers() {
  auto on = [this](auto* sender, auto signal, void (TdlgGraphModel::*handler)()) {
    connect(sender, signal, this, [this, handler] { Guarded(handler); });
  };
  on(edColonisationRate, &QLineEdit::textChanged, &TdlgGraphModel::edRateChange);
  on(edExtinctionRate, &QLineEdit::textChanged, &TdlgGraphModel::edRateChange);
  for (QLineEdit* edit : {static_cast<QLineEdit*>(edZim), static_cast<QLineEdit*>(edZem),
                          static_cast<QLineEdit*>(edZex), static_cast<QLineEdit*>(edSizeThreshold)})
    on(edit, &QLineEdit::textChanged, &TdlgGraphModel::edZetaChange);
  on(edRange, &QLineEdit::textChanged, &TdlgGraphModel::edRangeChange);
  on(tbDispersal, &QSlider::valueChanged, &TdlgGraphModel::tbDispersalChange);
  on(tbAdjacencyThreshold, &QSlider::valueChanged, &TdlgGraphModel::tbAdjacencyThresholdChange);
  for (QRadioButton* button : {rbDistance, rbDispersalKernel, rbDispersalFlow})
    on(button, &QRadioButton::clicked, &TdlgGraphModel::ChangeConnectivityMatrix);
  on(btCompute, &QPushButton::clicked, &TdlgGraphModel::btComputeClick);
  on(btApply, &QPushButton::clicked, &TdlgGraphModel::ApplyParameterChanges);
  on(acRun, &QAction::triggered, &TdlgGraphModel::Run);
  connect(acInitialise, &QAction::triggered, this, [this] {
    Guarded(&TdlgGraphModel::Initialise);
    Guarded(&TdlgGraphModel::ShowModel);
    InitialiseGraphs();
  });
  on(SensitivityPage->btRunBatch, &QPushButton::clicked, &TdlgGraphModel::btRunBatchClick);
  connect(pcModel, &QTabWidget::currentChanged, this, [this](int index) {
    const bool leavingParameters = fLastPage == pcModel->indexOf(tsParameters) && index != fLastPage;
    fLastPage = index;
    if (leavingParameters) Guarded(&TdlgGraphModel::ApplyParameterChanges);
  });
  // Clearing the flag after a failing run also unlocks the landscape again.
  connect(this, &tModelForm::RunningChanged, this, [this](bool running) {
    btCompute->setEnabled(!running);
    acRun->setEnabled(!running);
    acInitialise->setEnabled(!running);
  });
}

void TdlgGraphModel::Guarded(void (TdlgGraphModel::*handler)()) {
  // A batch line puts its values in one by one: what fails on the way is
  // reported in the result file by the simulation itself, not in a box that
  // would hold the batch up.
  vandrel::Guarded(this, [this, handler] { (this->*handler)(); }, [this] { return IsRunning(); });
}

void TdlgGraphModel::DrawSpace() {
  if (dlgVandrel) dlgVandrel->DrawSpace();
}

// ------------------------------------------------------------ readers

double TdlgGraphModel::GetZim() const {
  return ReadReal(edZim, 0);
}

double TdlgGraphModel::GetZem() const {
  return ReadReal(edZem, 1);
}

double TdlgGraphModel::GetZex() const {
  return ReadReal(edZex, 0);
}

double TdlgGraphModel::GetSizeThreshold() const {
  return ReadReal(edSizeThreshold, 10);
}

double TdlgGraphModel::GetAlpha() {
  return models::DispersalDecay(ReadReal(edRange, 10));
}

double TdlgGraphModel::GetTerritory() {
  return 1.0;
}

// ------------------------------------------------------------ link weightings

double TdlgGraphModel::CutBelowThreshold(double x) const {
  return models::CutBelowThreshold(x, tbAdjacencyThreshold->value() / 100.0);
}

double TdlgGraphModel::InverseDistance(int32_t i, int32_t j) {
  return CutBelowThreshold(tModelForm::InverseDistance(i, j));
}

double TdlgGraphModel::DispersalKernel(int32_t i, int32_t j) {
  return CutBelowThreshold(
      models::DispersalKernelWeight(GetConnectance(i, j), GetAlpha(), models::DistanceMat.at(i).at(j)));
}

double TdlgGraphModel::DispersalFlow(int32_t i, int32_t j) {
  return CutBelowThreshold(fDispFlowMat.at(i).at(j));
}

utile::tMatrixOfDouble TdlgGraphModel::GetDispersalMat() {
  // The decay and the cut are read once for the whole matrix.
  return models::DispersalKernelMat(GetAlpha(), tbAdjacencyThreshold->value() / 100.0);
}

void TdlgGraphModel::ComputeSumZimZem() {
  models::SumAreaPowers(GetZim(), GetZem(), SumZim, SumZem);
}

void TdlgGraphModel::ChangeConnectivityMatrix() {
  if (rbDistance->isChecked())
    SetConnectivityFunction([this](int32_t i, int32_t j) { return InverseDistance(i, j); });
  else if (rbDispersalKernel->isChecked())
    SetConnectivityFunction([this](int32_t i, int32_t j) { return DispersalKernel(i, j); });
  else if (rbDispersalFlow->isChecked())
    SetConnectivityFunction([this](int32_t i, int32_t j) { return DispersalFlow(i, j); });
  DrawSpace();
}

// ------------------------------------------------------------ overrides

void TdlgGraphModel::FormClose() {
  SensitivityPage->LanList.clear();
  SensitivityPage->ParamList.clear();
  tModelForm::FormClose();
}

void TdlgGraphModel::Initialise() {
  // While another workbench runs, the landscape cannot change, and rebuilding
  // its distance matrix would pull it from under the running model.
  if (!dlgVandrel || !dlgVandrel->OtherModelRunning(this)) models::ComputeDistanceMatrix();
  ComputeSumZimZem();
  models::ComputeDispersalFlowMat(GetDispersalMat(), GetZim(), GetZem(), SumZim, SumZem, fDispFlowMat);
  ComputeMaxConnectivity();
}

void TdlgGraphModel::Run() {
  // The graph model has no run of its own: the hour-glass comes and goes.
  tModelForm::Run();
  fSimRunning = false;
}

void TdlgGraphModel::ShowModel() {
  mmModel->clear();
  mmModel->appendPlainText("Date:\t" + QDateTime::currentDateTime().toString("dd/MM/yyyy hh:mm:ss"));
  mmModel->appendPlainText("");
  mmModel->appendPlainText("PARAMETERS:");
}

void TdlgGraphModel::InitialiseGraphs() {}

void TdlgGraphModel::Simulation(const std::string& Line) {
  try {
    tModelForm::Simulation(Line);
    RunSensitivity();
  } catch (const EBatchValueError&) {
    throw;  // the batch reports it with the line's number
  } catch (const utile::EInOutError&) {
    throw;  // the result file itself failed: nothing more can be written
  } catch (const std::exception& error) {
    // A simulation that fails is reported in its own line and the batch goes on.
    ++BatchErrors;
    const std::string line = "****** Error for " + sLan + sPar + ": " + error.what() + " ************";
    Fs.WriteLn(line);
    mmModel->appendPlainText(QString::fromStdString(line));
  }
}

void TdlgGraphModel::WriteHeaders() {
  std::string header = "Landscape";
  for (const auto& labels : {SensitivityPage->lblLanParams(), SensitivityPage->lblParams()})
    for (const QLabel* label : labels) {
      header += '\t';
      header += utile::Replace(label->text().toStdString(), ":", "");
    }
  Fs.WriteLn(header);
  mmModel->appendPlainText(QString::fromStdString(header));
}

void TdlgGraphModel::RunSensitivity() {
  const double start = utile::SteadyNow();
  const double elapsed = utile::SteadyNow() - start;
  const std::string row = sLan + sPar + "\t" + utile::ElapsedTimeToStr(elapsed);
  mmModel->appendPlainText(QString::fromStdString(row));
  Fs.WriteLn(row);
}

void TdlgGraphModel::FormActivate() {
  if (!dlgVandrel) return;
  try {
    dlgVandrel->CurrentModel = this;
    dlgVandrel->ComputeModel();
    dlgVandrel->DrawSpace();
  } catch (const std::exception& error) {
    Dialogs().ShowMessage(this, error.what(), tMessageKind::mkError);
  }
}

// ------------------------------------------------------------ events

void TdlgGraphModel::tbDispersalChange() {
  edRange->setText(QString::number(tbDispersal->value()));
  DrawSpace();
}

void TdlgGraphModel::edRangeChange() {
  Initialise();
  if (DispersalKernelGraph) DispersalKernelGraph->SetAlpha(GetAlpha());
}

void TdlgGraphModel::ApplyParameterChanges() {
  {
    // The track bar shows the range as near as it can; the edit keeps what was typed.
    const QSignalBlocker quiet(tbDispersal);
    tbDispersal->setValue(static_cast<int>(std::clamp<long double>(
        utile::Round(ReadReal(edRange, 50)), tbDispersal->minimum(), tbDispersal->maximum())));
  }
  Initialise();
  if (dlgVandrel) dlgVandrel->ComputeModel();
}

void TdlgGraphModel::tbAdjacencyThresholdChange() {
  Initialise();
  DrawSpace();
}

void TdlgGraphModel::edZetaChange() {
  Initialise();
  DrawSpace();
}

void TdlgGraphModel::edRateChange() {
  Actualisation();
}

void TdlgGraphModel::Actualisation() {
  const double e = ReadReal(edExtinctionRate, 0.05);
  const double c = ReadReal(edColonisationRate, 0.5);
  edDelta->setText(c == 0 ? QString() : QString::fromStdString(utile::Format("%g", e / c)));
}

void TdlgGraphModel::btComputeClick() {
  const double e = ReadReal(edExtinctionRate, 0.05);
  const double c = ReadReal(edColonisationRate, 0.5);
  models::tGraphStats stats;
  if (ckGroupCount->isChecked()) stats.Include(models::gsGroupCount);
  if (ckOverallSize->isChecked()) stats.Include(models::gsOverallSize);
  if (ckExpectedSize->isChecked()) stats.Include(models::gsExpectedSize);
  const double zim = GetZim(), zem = GetZem(), zex = GetZex(), sizeThreshold = GetSizeThreshold();

  utile::tTableOfResults table;
  {
    tHourGlass hourGlass;
    // Each group's colonisation is built from the kernel that the links stand
    // for, never from the distances themselves.
    table = models::FluxThresholdSweep(ConnectivityMatrix(), GetDispersalMat(), e, c, zim, zem, zex,
                                       sizeThreshold, stats);
  }
  utile::tVectorOfDouble x = table.Results[0];
  for (double& value : x) value *= 100;
  size_t row = 1;
  for (const models::tGraphStat stat :
       {models::gsGroupCount, models::gsOverallSize, models::gsExpectedSize}) {
    if (!stats.Contains(stat)) continue;
    const QString caption = models::GraphStatStr[stat];
    utile::gui::tGraphicChart* chart =
        utile::gui::PlotLines(x, {table.Results[row]}, 0, "Threshold", caption, caption, pcResults);
    chart->Metadata() << QString::fromStdString(utile::Format("N=%d", PatchCount()))
                      << QString::fromStdString(utile::Format("1/alpha=%g", 1 / GetAlpha()))
                      << QString::fromStdString(utile::Format("delta=%g", e / c))
                      << QString::fromStdString(utile::Format("Zim=%g", zim))
                      << QString::fromStdString(utile::Format("Zem=%g", zem))
                      << QString::fromStdString(utile::Format("Zex=%g", zex))
                      << QString::fromStdString(utile::Format("Size threshold=%g", sizeThreshold));
    // Its axes take the sweep now, so that it shows whole at first sight, also
    // on a page that shows only later.
    chart->Refresh();
    ++row;
  }
}

void TdlgGraphModel::btRunBatchClick() {
  RunBatch(SensitivityPage->BatchLines(), SensitivityPage->edOutputFile->text().toStdString(), false);
}

}  // namespace vandrel
