#include "app/dlgIBSimpleU.h"

#include <QAction>
#include <QBarSeries>
#include <QBarSet>
#include <QCheckBox>
#include <QComboBox>
#include <QDate>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLocale>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSlider>
#include <QSpinBox>
#include <QSplitter>
#include <QTabWidget>
#include <QTableWidget>
#include <QToolButton>
#include <QToolTip>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <map>
#include <type_traits>

#include "Utile/MatrixOps.h"
#include "Utile/Platform.h"
#include "Utile/RandomFunctions.h"
#include "Utile/RunTime.h"
#include "Utile/StringOps.h"
#include "Utile/VectorOps.h"
#include "Utile/gui/CustomChartSeries.h"
#include "Utile/gui/GraphicOps.h"
#include "Utile/gui/GridOps.h"
#include "Utile/gui/StringOps.h"
#include "app/FormControls.h"
#include "app/SensitivityPage.h"
#include "app/WindowServices.h"
#include "app/dlgPatchDataU.h"
#include "app/dlgVandrelU.h"
#include "models/IBBatch.h"
#include "models/IBModelFile.h"
#include "models/IBSimulation.h"
#include "models/LandscapeFiles.h"
#include "models/MetapopCommon.h"
#include "models/PedigreeOps.h"

namespace vandrel {

using models::tEventCell;
using models::tLifeEventType;
using utile::gui::JoinLines;

namespace {

constexpr int GeneCount = 16;
// The drawing area is at least this high; the Birth cell starts in its middle.
constexpr int LifeCycleAreaHeight = 300;
// A drag moves or links once the mouse has gone this far from where it was pressed.
constexpr int DragThreshold = 5;

// Names of the new-cell actions, by event type ("" for the end event).
constexpr std::array<const char*, 13> EventActionNames = {
    "Birth",   "SexConditional", "GetOlder", "Survival", "Dispersal",       "Reproduction", "Regulation",
    "Synchro", "Random",         "Death",    "",         "GeneConditional", "Tag"};

// Colours of the cells, by event type.
constexpr std::array<QRgb, 13> CellColours = {0xb8e6b8, 0xf5c6d6, 0xf5deb3, 0xbcd8f0, 0xb8ecec,
                                              0xf7c99a, 0xd6ccf0, 0xdcdcdc, 0xf7f0a8, 0xa9a9a9,
                                              0x808080, 0xe0c8e8, 0xd8e0a8};

void AddRow(QFormLayout* form, tLabeledEdit* edit) {
  form->addRow(edit->EditLabel, edit);
}

void AddRow(QFormLayout* form, QWidget* parent, const char* caption, QWidget* field) {
  form->addRow(NewLabel(parent, "", caption, field), field);
}

void SetTabShown(QTabWidget* pages, QWidget* page, bool shown) {
  pages->setTabVisible(pages->indexOf(page), shown);
}

// Where the line from the centre of a cell towards point leaves the cell.
QPointF CellBorder(QPointF centre, QPointF towards) {
  const QPointF d = towards - centre;
  const double half = models::EventCellSize / 2.0;
  const double scale =
      std::min(d.x() == 0 ? 1e9 : half / std::abs(d.x()), d.y() == 0 ? 1e9 : half / std::abs(d.y()));
  return centre + d * std::min(scale, 1.0);
}

void DrawArrow(QPainter& painter, QPointF from, QPointF to) {
  painter.drawLine(from, to);
  const QPointF d = to - from;
  const double length = std::hypot(d.x(), d.y());
  if (length < 1) return;
  const QPointF unit = d / length;
  const QPointF normal(-unit.y(), unit.x());
  QPainterPath head;
  head.moveTo(to);
  head.lineTo(to - unit * 9 + normal * 4);
  head.lineTo(to - unit * 9 - normal * 4);
  head.closeSubpath();
  painter.fillPath(head, painter.pen().color());
}

// An age class that is not analysed cannot be shown.
void OfferAgeClass(QRadioButton* radio, bool enabled) {
  radio->setEnabled(enabled);
  if (!enabled && radio->isChecked()) {
    radio->setAutoExclusive(false);
    radio->setChecked(false);
    radio->setAutoExclusive(true);
  }
}

}  // namespace

// ------------------------------------------------------------------ the drawing area

tLifeCycleArea::tLifeCycleArea(TdlgIBSimple* owner, QWidget* parent) : QWidget(parent), fOwner(owner) {
  setObjectName("pbLifeCycle");
  setMouseTracking(true);
  setFocusPolicy(Qt::ClickFocus);
  setAutoFillBackground(true);
  QPalette colours = palette();
  colours.setColor(QPalette::Window, Qt::white);
  setPalette(colours);
}

void tLifeCycleArea::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  fOwner->pbLifeCyclePaint(painter);
}

void tLifeCycleArea::mousePressEvent(QMouseEvent* event) {
  fOwner->sbLifeCycleMouseDown(event->position().toPoint(), event->button(), event->modifiers());
}

void tLifeCycleArea::mouseMoveEvent(QMouseEvent* event) {
  fOwner->sbLifeCycleDragOver(event->position().toPoint(), event->modifiers());
}

void tLifeCycleArea::mouseReleaseEvent(QMouseEvent* event) {
  fOwner->pbLifeCycleMouseUp(event->position().toPoint());
}

void tLifeCycleArea::keyPressEvent(QKeyEvent* event) {
  fOwner->UpdateAreaCursor(mapFromGlobal(QCursor::pos()), event->modifiers());
  QWidget::keyPressEvent(event);
}

void tLifeCycleArea::keyReleaseEvent(QKeyEvent* event) {
  fOwner->UpdateAreaCursor(mapFromGlobal(QCursor::pos()), event->modifiers());
  QWidget::keyReleaseEvent(event);
}

bool tLifeCycleArea::event(QEvent* event) {
  if (event->type() == QEvent::ToolTip) {
    auto* help = static_cast<QHelpEvent*>(event);
    const QString hint = fOwner->CellHint(help->pos());
    if (hint.isEmpty())
      QToolTip::hideText();
    else
      QToolTip::showText(help->globalPos(), hint, this);
    return true;
  }
  return QWidget::event(event);
}

// ------------------------------------------------------------------ creation

TdlgIBSimple::TdlgIBSimple(TdlgVandrel* mainWindow) : tModelForm(mainWindow) {
  setObjectName("dlgIBSimple");
  fModel = tModel::mIBM;
  ModelHasChanged = true;
  Metapop = std::make_unique<models::tMetaPop>();

  auto* layout = new QVBoxLayout(this);
  pcIBSimple = new QTabWidget(this);
  pcIBSimple->setObjectName("pcIBSimple");
  layout->addWidget(pcIBSimple, 1);
  BuildLifeCyclePage();
  BuildSpatialPage();
  BuildSimulationsPage();
  BuildGeneticsPage();
  BuildResultsPage();
  BuildOutputOptionsPage();
  BuildRunBar();
  BuildBatchPages();
  resize(1150, 720);

  // The Birth cell comes with the window, halfway down the drawing.
  tEventCell* birth =
      fEventCells.CreateEventCell(models::leBirth, 5, (LifeCycleAreaHeight - models::EventCellSize) / 2);
  AddCellControls(birth);
  OnSelectCell(birth);
  ConnectHandlers();
  ConnectPedigreeHandlers();
  Guarded([this] { btApplyClick(); });
  // The simpler choice at first: the distance, else the kernel.
  if (rbDistance->isChecked())
    SetConnectivityFunction([this](int32_t i, int32_t j) { return InverseDistance(i, j); });
  else if (rbDispersal->isChecked())
    SetConnectivityFunction([this](int32_t i, int32_t j) { return DispersalDistance(i, j); });
  if (dlgVandrel) dlgVandrel->DrawSpace();
  SetTabShown(pcIBSimple, tsGenetics, false);
  fDisplayEnabled = false;
  pcIBSimple->setCurrentWidget(tsLifeCycle);
  btTest->setVisible(TestingMode);
  if (static_cast<uint64_t>(models::PatchCount()) > models::tPedigree::MaxPatchCount())
    Dialogs().ShowMessage(
        this, utile::Format("Too many patches. Maximum allowed is %u", models::tPedigree::MaxPatchCount()),
        tMessageKind::mkWarning);
  for (QWidget* page : {tsPatchOccupancy, tsSexRatio, tsFixations, tsCoancestries, tsAlpha})
    SetTabShown(pcResults, page, false);
  MemoryManager = std::make_unique<utile::TvxMaxMem>();
  connect(this, &tModelForm::RunningChanged, this, [this] { UpdateRunControls(); });
  UpdateRunControls();
}

TdlgIBSimple::~TdlgIBSimple() {
  FreeCellControls();
}

void TdlgIBSimple::FreeCellControls() {
  // The boxes go before the cells they show, and report nothing on their way out.
  while (!fCellControls.empty()) RemoveCellControls(fCellControls.begin()->first);
}

void TdlgIBSimple::BuildLifeCyclePage() {
  tsLifeCycle = NewTabPage(pcIBSimple, "tsLifeCycle", "Life cycle");
  auto* pageLayout = new QHBoxLayout(tsLifeCycle);
  auto* splitter = new QSplitter(Qt::Horizontal, tsLifeCycle);
  pageLayout->addWidget(splitter);

  grpSpecies = NewGroupBox(splitter, "grpSpecies", "Species");
  auto* speciesLayout = new QVBoxLayout(grpSpecies);
  auto* species = new QFormLayout;
  speciesLayout->addLayout(species);
  edName = NewLabeledEdit(grpSpecies, "edName", "&Species:", "");
  AddRow(species, edName);
  edDate = NewLabeledEdit(grpSpecies, "edDate", "Date:", "");
  edDate->setReadOnly(true);
  AddRow(species, edDate);
  cbReproductionMode = new QComboBox(grpSpecies);
  cbReproductionMode->setObjectName("cbReproductionMode");
  for (const char* mode : models::ReproductionModeStr) cbReproductionMode->addItem(mode);
  cbReproductionMode->setCurrentIndex(models::rmSexuate);
  lblReproductionMode = new QLabel("Reproduction &mode:", grpSpecies);
  lblReproductionMode->setBuddy(cbReproductionMode);
  species->addRow(lblReproductionMode, cbReproductionMode);
  edSexRatio = NewLabeledEdit(grpSpecies, "edSexRatio", "&Sex ratio:", "0.5");
  AddRow(species, edSexRatio);
  edTerritoryArea = NewLabeledEdit(grpSpecies, "edTerritoryArea", "&Territory area=", "1");
  AddRow(species, edTerritoryArea);
  edAutofecondation = NewLabeledEdit(grpSpecies, "edAutofecondation", "&Selfing:", "0");
  AddRow(species, edAutofecondation);
  edAutofecondation->SetShown(false);
  edJuvenileWeight = NewLabeledEdit(grpSpecies, "edJuvenileWeight", "&Juv. regulation weight:", "0");
  AddRow(species, edJuvenileWeight);
  ckPatchExtinction = NewCheckBox(grpSpecies, "ckPatchExtinction", "Patch extinction risk");
  speciesLayout->addWidget(ckPatchExtinction);
  ckPatchSuitability = NewCheckBox(grpSpecies, "ckPatchSuitability", "Patch suitability");
  speciesLayout->addWidget(ckPatchSuitability);
  speciesLayout->addStretch(1);
  btApply = NewButton(grpSpecies, "btApply", "&Apply");
  speciesLayout->addWidget(btApply);

  auto* drawing = new QWidget(splitter);
  auto* drawingLayout = new QVBoxLayout(drawing);
  drawingLayout->setContentsMargins(0, 0, 0, 0);
  // One button per drawable event type, in three rows: the page leaves the cells'
  // boxes beside the drawing the room their widest choices need.
  pnEventButtons = new QWidget(drawing);
  pnEventButtons->setObjectName("pnEventButtons");
  auto* buttons = new QGridLayout(pnEventButtons);
  buttons->setContentsMargins(0, 0, 0, 0);
  buttons->setSpacing(2);
  int column = 0;
  for (int type = models::leBirth; type <= models::leTag; ++type) {
    if (!models::IsDrawableEventType(type)) continue;
    QAction* action = NewAction(this, (std::string("ac") + EventActionNames[type]).c_str(),
                                models::LifeEventTypeStr[type], QKeySequence());
    action->setData(100 + type);  // the action's Tag
    auto* button = new QToolButton(pnEventButtons);
    button->setObjectName(QString("bt") + EventActionNames[type]);
    button->setDefaultAction(action);
    button->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    buttons->addWidget(button, column / 4, column % 4);
    ++column;
    acNewEvent[type] = action;
  }
  drawingLayout->addWidget(pnEventButtons);
  auto* drawingSplitter = new QSplitter(Qt::Vertical, drawing);
  drawingLayout->addWidget(drawingSplitter, 1);
  sbLifeCycle = new QScrollArea(drawingSplitter);
  sbLifeCycle->setObjectName("sbLifeCycle");
  sbLifeCycle->setMinimumHeight(LifeCycleAreaHeight);
  sbLifeCycle->setWidgetResizable(false);
  pbLifeCycle = new tLifeCycleArea(this, sbLifeCycle);
  pbLifeCycle->resize(600, LifeCycleAreaHeight);
  sbLifeCycle->setWidget(pbLifeCycle);
  sbLifeCycle->viewport()->installEventFilter(this);
  mmLifeCycle = NewMemo(drawingSplitter, "mmLifeCycle", true);
  drawingSplitter->setStretchFactor(0, 4);
  drawingSplitter->setStretchFactor(1, 1);

  pnEventParameters = new QWidget(splitter);
  pnEventParameters->setObjectName("pnEventParameters");
  // As wide as the box of the cell shown needs, the longest entry of its list whole.
  auto* parametersLayout = new QVBoxLayout(pnEventParameters);
  parametersLayout->addStretch(1);
  splitter->setStretchFactor(0, 0);
  splitter->setStretchFactor(1, 1);
  splitter->setStretchFactor(2, 0);
}

void TdlgIBSimple::BuildSpatialPage() {
  tsSpatialDisplay = NewTabPage(pcIBSimple, "tsSpatialDisplay", "Spatial display");
  auto* layout = new QHBoxLayout(tsSpatialDisplay);
  pnSpatialSettings = new QWidget(tsSpatialDisplay);
  pnSpatialSettings->setObjectName("pnSpatialSettings");
  pnSpatialSettings->setMaximumWidth(420);
  auto* left = new QVBoxLayout(pnSpatialSettings);
  left->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(pnSpatialSettings, 0);
  auto* form = new QFormLayout;
  left->addLayout(form);
  edDispersalDistance =
      NewLabeledEdit(pnSpatialSettings, "edDispersalDistance", "&Mean dist. 1/alpha=", "10");
  AddRow(form, edDispersalDistance);
  tbTestDispersalProb = new QSlider(Qt::Horizontal, pnSpatialSettings);
  tbTestDispersalProb->setObjectName("tbTestDispersalProb");
  tbTestDispersalProb->setRange(0, 100);
  tbTestDispersalProb->setTickInterval(5);
  tbTestDispersalProb->setTickPosition(QSlider::TicksBelow);
  tbTestDispersalProb->setValue(20);
  form->addRow(tbTestDispersalProb);
  edTestDispersalProb = NewLabeledEdit(pnSpatialSettings, "edTestDispersalProb", "Dispersal prob.:", "0.2");
  edTestDispersalProb->setReadOnly(true);
  fTestDispersalProb = 0.2;
  AddRow(form, edTestDispersalProb);
  edExpImmigrationProb =
      NewLabeledEdit(pnSpatialSettings, "edExpImmigrationProb", "Global immigration prob.:", "");
  AddRow(form, edExpImmigrationProb);

  grpConnectivity = NewGroupBox(pnSpatialSettings, "grpConnectivity", "Connectivity");
  auto* connectivityLayout = new QVBoxLayout(grpConnectivity);
  rbDistance = NewRadioButton(grpConnectivity, "rbDistance", "Inverse &distance", true);
  rbConnectivity = NewRadioButton(grpConnectivity, "rbConnectivity", "&Exponential inverse");
  rbDispersalProbability =
      NewRadioButton(grpConnectivity, "rbDispersalProbability", "Dispersal &probability");
  rbTest = NewRadioButton(grpConnectivity, "rbTest", "&Test parameters");
  rbDispersalEvents = NewRadioButton(grpConnectivity, "rbDispersalEvents", "Dispersal &events");
  rbDispersal = NewRadioButton(grpConnectivity, "rbDispersal", "Dispersal");
  rbFst = NewRadioButton(grpConnectivity, "rbFst", "Fst");
  rbFst2 = NewRadioButton(grpConnectivity, "rbFst2", "Fst 2");
  rbAutocorrelation = NewRadioButton(grpConnectivity, "rbAutocorrelation", "Autocorrelation");
  for (QWidget* w : std::initializer_list<QWidget*>{rbDistance, rbConnectivity, rbDispersalProbability,
                                                    rbTest, rbDispersalEvents})
    connectivityLayout->addWidget(w);
  for (QRadioButton* hidden : {rbDispersal, rbFst, rbFst2, rbAutocorrelation}) {
    connectivityLayout->addWidget(hidden);
    hidden->setVisible(false);
  }
  cbDispersalEvent = new QComboBox(grpConnectivity);
  cbDispersalEvent->setObjectName("cbDispersalEvent");
  connectivityLayout->addWidget(cbDispersalEvent);
  btApplyComputeMatrices = NewButton(grpConnectivity, "btApplyComputeMatrices", "Apply");
  connectivityLayout->addWidget(btApplyComputeMatrices);
  left->addWidget(grpConnectivity);
  auto* buttons = new QHBoxLayout;
  btPatchData = NewButton(pnSpatialSettings, "btPatchData", "&Patch data");
  btPatchData->setToolTip("Patch database");
  btTest = NewButton(pnSpatialSettings, "btTest", "Test");
  buttons->addWidget(btPatchData);
  buttons->addWidget(btTest);
  buttons->addStretch(1);
  left->addLayout(buttons);
  left->addStretch(1);

  auto* right = new QSplitter(Qt::Vertical, tsSpatialDisplay);
  grpBackwardDispersal = NewGroupBox(right, "grpBackwardDispersal", "Expected immigration probabilities");
  auto* backward = new QVBoxLayout(grpBackwardDispersal);
  mmBackwardDispersal = NewMemo(grpBackwardDispersal, "mmBackwardDispersal");
  backward->addWidget(mmBackwardDispersal);
  grpBackwardDispersal->setVisible(false);
  mmModel = NewMemo(right, "mmModel");
  layout->addWidget(right, 1);
}

void TdlgIBSimple::BuildSimulationsPage() {
  tsSimulations = NewTabPage(pcIBSimple, "tsSimulations", "Simulations");
  auto* layout = new QHBoxLayout(tsSimulations);
  auto* left = new QVBoxLayout;
  layout->addLayout(left);
  auto* form = new QFormLayout;
  left->addLayout(form);
  seNbTimeSteps = NewSpinEdit(tsSimulations, "seNbTimeSteps", 1, 10000000, 200, 10);
  AddRow(form, tsSimulations, "Number of &time steps:", seNbTimeSteps);
  seExtinctionThreshold = NewSpinEdit(tsSimulations, "seExtinctionThreshold", 0, 1000, 0, 100);
  AddRow(form, tsSimulations, "&Extinction threshold:", seExtinctionThreshold);
  seTimeStepLength = NewSpinEdit(tsSimulations, "seTimeStepLength", 1, 1000, 1);
  AddRow(form, tsSimulations, "Time step &length:", seTimeStepLength);
  seMaxIndividuals = NewSpinEdit(tsSimulations, "seMaxIndividuals", 100, 2147483646, 200000000, 1000);
  AddRow(form, tsSimulations, "Max # of individuals:", seMaxIndividuals);
  seExplosion = NewSpinEdit(tsSimulations, "seExplosion", 100, 1000000, 40000, 1000);
  AddRow(form, tsSimulations, "Explosion size:", seExplosion);

  grpRandomGenerator = NewGroupBox(tsSimulations, "grpRandomGenerator", "Random generator");
  auto* seeds = new QFormLayout(grpRandomGenerator);
  seSeed1 = NewSpinEdit(grpRandomGenerator, "seSeed1", 1, 1000000, 10);
  AddRow(seeds, grpRandomGenerator, "Seed &1:", seSeed1);
  seSeed2 = NewSpinEdit(grpRandomGenerator, "seSeed2", 1, 1000000, 1);
  AddRow(seeds, grpRandomGenerator, "Seed &2:", seSeed2);
  left->addWidget(grpRandomGenerator);
  left->addWidget(BuildEquilibriumBox(tsSimulations));
  left->addStretch(1);

  grpInitialConditions = NewGroupBox(tsSimulations, "grpInitialConditions", "Initial conditions");
  auto* initial = new QVBoxLayout(grpInitialConditions);
  auto* abundance = new QHBoxLayout;
  initial->addLayout(abundance);
  rbAbundanceK = NewRadioButton(grpInitialConditions, "rbAbundanceK", "Carrying capacity", true);
  rbAbundanceFixed = NewRadioButton(grpInitialConditions, "rbAbundanceFixed", "&Fixed:");
  seInitialAbundance = NewSpinEdit(grpInitialConditions, "seInitialAbundance", 1, 10000000, 5);
  abundance->addWidget(rbAbundanceK);
  abundance->addWidget(rbAbundanceFixed);
  abundance->addWidget(seInitialAbundance);
  abundance->addStretch(1);
  auto* ages = new QHBoxLayout;
  initial->addLayout(ages);
  auto* ageGroup = new QWidget(grpInitialConditions);  // the ages choose apart from the abundance
  auto* ageLayout = new QHBoxLayout(ageGroup);
  ageLayout->setContentsMargins(0, 0, 0, 0);
  rbAge0 = NewRadioButton(ageGroup, "rbAge0", "Age &0", true);
  rbRandomAges = NewRadioButton(ageGroup, "rbRandomAges", "&Random ages");
  rbRandomAges->setEnabled(false);
  ageLayout->addWidget(rbAge0);
  ageLayout->addWidget(rbRandomAges);
  ages->addWidget(ageGroup);
  ages->addStretch(1);
  sgGenes = new QTableWidget(GeneCount, 2, grpInitialConditions);
  sgGenes->setObjectName("sgGenes");
  sgGenes->setHorizontalHeaderLabels({"Gene", "Allele 1 prevalence"});
  sgGenes->verticalHeader()->setVisible(false);
  for (int row = 0; row < GeneCount; ++row) {
    auto* name = new QTableWidgetItem(QString("Gene %1").arg(row));
    name->setFlags(name->flags() & ~Qt::ItemIsEditable);
    sgGenes->setItem(row, 0, name);
    sgGenes->setItem(row, 1, new QTableWidgetItem("0.0"));
  }
  utile::gui::FitColWidths(sgGenes, 12);
  sgGenes->setMaximumWidth(sgGenes->horizontalHeader()->length() +
                           sgGenes->verticalScrollBar()->sizeHint().width() + 2 * sgGenes->frameWidth());
  initial->addWidget(sgGenes, 1);
  layout->addWidget(grpInitialConditions, 1);

  grpOutput = NewGroupBox(tsSimulations, "grpOutput", "Output");
  auto* output = new QVBoxLayout(grpOutput);
  ckRealTimeGraph = NewCheckBox(grpOutput, "ckRealTimeGraph", "&Real-time graph");
  ckIndividualMoves = NewCheckBox(grpOutput, "ckIndividualMoves", "&Individual moves");
  ckPedigree = NewCheckBox(grpOutput, "ckPedigree", "&Pedigree analysis", true);
  ckJuveniles = NewCheckBox(grpOutput, "ckJuveniles", "&Juveniles");
  ckJuveniles->setToolTip("Analyse pedigree for juveniles");
  ckAdults = NewCheckBox(grpOutput, "ckAdults", "&Adults", true);
  ckAdults->setToolTip("Analyse pedigree for adults");
  ckF = NewCheckBox(grpOutput, "ckF", "&F");
  ckF->setToolTip("Compute expected within-individual coancestry (fixation)");
  ckTheta = NewCheckBox(grpOutput, "ckTheta", "&Theta");
  ckAlpha = NewCheckBox(grpOutput, "ckAlpha", "&Alpha");
  ckFinalValues = NewCheckBox(grpOutput, "ckFinalValues", "&Only final values");
  ckClearTextOutput = NewCheckBox(grpOutput, "ckClearTextOutput", "&Clear text output", true);
  ckPatchOccupancy = NewCheckBox(grpOutput, "ckPatchOccupancy", "Patch &occupancy");
  ckCountTags = NewCheckBox(grpOutput, "ckCountTags", "Count &tags");
  for (QWidget* w : std::initializer_list<QWidget*>{
           ckRealTimeGraph, ckIndividualMoves, ckPedigree, ckJuveniles, ckAdults, ckF, ckTheta, ckAlpha,
           ckFinalValues, ckClearTextOutput, ckPatchOccupancy, ckCountTags})
    output->addWidget(w);
  auto* mutation = new QFormLayout;
  edMutationRate = NewLabeledEdit(grpOutput, "edMutationRate", "&Mutation rate:", "0");
  AddRow(mutation, edMutationRate);
  output->addLayout(mutation);
  output->addWidget(BuildSamplingChoice(grpOutput));
  btRecomputePedigree = NewButton(grpOutput, "btRecomputePedigree", "&Recompute");
  btRecomputePedigree->setEnabled(false);
  btFreeMemory = NewButton(grpOutput, "btFreeMemory", "&Free memory...");
  output->addWidget(btRecomputePedigree);
  output->addWidget(btFreeMemory);
  grpDisplay = NewGroupBox(grpOutput, "grpDisplay", "Text display");
  auto* display = new QVBoxLayout(grpDisplay);
  btTestPedigree = NewButton(grpDisplay, "btTestPedigree", "Test pedigree");
  btShowRelMat = NewButton(grpDisplay, "btShowRelMat", "Relationship Matrix");
  display->addWidget(btTestPedigree);
  display->addWidget(btShowRelMat);
  AddTextDisplayButtons(display);
  output->addWidget(grpDisplay);
  output->addStretch(1);
  layout->addWidget(grpOutput);
}

void TdlgIBSimple::BuildGeneticsPage() {
  tsGenetics = NewTabPage(pcIBSimple, "tsGenetics", "Genetics");
  auto* page = new QHBoxLayout(tsGenetics);
  // The genomes and how they are made on the left, their sampling and outputs on the right.
  auto* layout = new QVBoxLayout;
  auto* outputs = new QVBoxLayout;
  page->addLayout(layout);
  page->addLayout(outputs);

  grpGenome = NewGroupBox(tsGenetics, "grpGenome", "Genome");
  auto* form = new QFormLayout(grpGenome);
  seNbLoci = NewSpinEdit(grpGenome, "seNbLoci", 1, 8, 8);
  AddRow(form, grpGenome, "Number of &loci:", seNbLoci);
  seNbAlleles = NewSpinEdit(grpGenome, "seNbAlleles", 1, 255, 15);
  AddRow(form, grpGenome, "Number of &alleles:", seNbAlleles);
  edKAMrate = NewLabeledEdit(grpGenome, "edKAMrate", "&K-allele mutation (KAM) rate:", "1e-5");
  AddRow(form, edKAMrate);
  edSSMrate = NewLabeledEdit(grpGenome, "edSSMrate", "&Stepwise Mutation (SMM) rate:", "1e-4");
  AddRow(form, edSSMrate);
  layout->addWidget(grpGenome);

  grpSimulateGenetics = NewGroupBox(tsGenetics, "grpSimulateGenetics", "Simulate genetics");
  auto* genomes = new QGridLayout(grpSimulateGenetics);
  btNuclearGenome = NewButton(grpSimulateGenetics, "btNuclearGenome", "&Nuclear genome");
  btMitochondrialGenome = NewButton(grpSimulateGenetics, "btMitochondrialGenome", "&Mitochondrial genome");
  btXChromosomeGenome = NewButton(grpSimulateGenetics, "btXChromosomeGenome", "&X chromosome genome");
  btYChromosomeGenome = NewButton(grpSimulateGenetics, "btYChromosomeGenome", "&Y chromosome genome");
  genomes->addWidget(btNuclearGenome, 0, 0);
  genomes->addWidget(btMitochondrialGenome, 0, 1);
  genomes->addWidget(btXChromosomeGenome, 1, 0);
  genomes->addWidget(btYChromosomeGenome, 1, 1);
  layout->addWidget(grpSimulateGenetics);

  grpSampling = NewGroupBox(tsGenetics, "grpSampling", "Sampling");
  auto* sampling = new QFormLayout(grpSampling);
  ckPrunePedigree = NewCheckBox(grpSampling, "ckPrunePedigree", "&Prune pedigree", true);
  ckPrunePedigree->setToolTip("Keep only ancestors of the last generation");
  sampling->addRow(ckPrunePedigree);
  seSamplingProbabilityJuvenile = NewSpinEdit(grpSampling, "seSamplingProbabilityJuvenile", 1, 1000, 1000, 5);
  AddRow(sampling, grpSampling, "Juvenile sampling probability [%o]:", seSamplingProbabilityJuvenile);
  seSamplingProbabilityAdult = NewSpinEdit(grpSampling, "seSamplingProbabilityAdult", 1, 1000, 1000, 5);
  AddRow(sampling, grpSampling, "Adult sampling probability [%o]:", seSamplingProbabilityAdult);
  outputs->addWidget(grpSampling);

  grpGenomeOutput = NewGroupBox(tsGenetics, "grpGenomeOutput", "Output");
  auto* output = new QVBoxLayout(grpGenomeOutput);
  const auto radio = [this](const char* name, const char* caption, const char* hint, bool checked = false) {
    QRadioButton* r = NewRadioButton(grpGenomeOutput, name, caption, checked);
    r->setToolTip(hint);
    grpGenomeOutput->layout()->addWidget(r);
    return r;
  };
  rbAllGenomes = radio("rbAllGenomes", "&All genomes", "Genome of all individuals (not pruned out)");
  rbFstat = radio("rbFstat", "Fstat output (last gen.)", "Fstat output for the last generation", true);
  rbAlleleFrequencies = radio("rbAlleleFrequencies", "Allele frequencies (last gen.)",
                              "Allele frequencies for each patch, for the last generation");
  rbGenePop = radio("rbGenePop", "GenePop output (last gen.)",
                    "GenePop output (taking sex into account) for the last generation");
  rbPairwiseFst = radio("rbPairwiseFst", "Pairwise Fst (last gen.)", "Degree of genetic differentiation");
  rbCoancestries =
      radio("rbCoancestries", "Coancestries (last gen.)",
            "Pairwise probabilities of drawing the same allele from two populations (alpha matrix)");
  rbPairwiseFst->setVisible(false);
  rbCoancestries->setVisible(false);
  btDisplayGenome = NewButton(grpGenomeOutput, "btDisplayGenome", "&Output");
  btDisplayGenome->setEnabled(false);
  output->addWidget(btDisplayGenome);
  outputs->addWidget(grpGenomeOutput);
  layout->addStretch(1);
  outputs->addStretch(1);
  page->addStretch(1);
}

void TdlgIBSimple::BuildResultsPage() {
  tsResults = NewTabPage(pcIBSimple, "tsResults", "Results");
  auto* layout = new QVBoxLayout(tsResults);
  auto* classes = new QHBoxLayout;
  layout->addLayout(classes);
  rbJuveniles = NewRadioButton(tsResults, "rbJuveniles", "&Juveniles");
  rbAdults = NewRadioButton(tsResults, "rbAdults", "&Adults", true);
  rbAllAgeClasses = NewRadioButton(tsResults, "rbAllAgeClasses", "All age &classes");
  ckShowGlobal = NewCheckBox(tsResults, "ckShowGlobal", "Show &global", true);
  for (QWidget* w : std::initializer_list<QWidget*>{rbJuveniles, rbAdults, rbAllAgeClasses, ckShowGlobal})
    classes->addWidget(w);
  classes->addStretch(1);
  pcResults = new QTabWidget(tsResults);
  pcResults->setObjectName("pcResults");
  layout->addWidget(pcResults, 1);

  const auto chart = [](QWidget* parent, const char* name, const char* xTitle, const char* yTitle) {
    auto* c = new utile::gui::tGraphicChart(parent, xTitle, yTitle, "");
    c->setObjectName(name);
    // A run's lines are not drawn anew at each new highest or lowest value.
    c->SetRoundedLeftAxis(true);
    return c;
  };
  tsAbundances = NewTabPage(pcResults, "tsAbundances", "Abundances");
  chAbundances = chart(tsAbundances, "chAbundances", "Time", "Abundance");
  tsTags = NewTabPage(pcResults, "tsTags", "Tags");
  chTags = chart(tsTags, "chTags", "Time", "Individuals");
  tsPatchOccupancy = NewTabPage(pcResults, "tsPatchOccupancy", "Patch occupancy");
  chPatchOccupancy = chart(tsPatchOccupancy, "chPatchOccupancy", "Patch ID", "Occupancy");
  tsSexRatio = NewTabPage(pcResults, "tsSexRatio", "Sex ratio");
  chSexRatio = chart(tsSexRatio, "chSexRatio", "Time", "Female proportion");
  tsFixations = NewTabPage(pcResults, "tsFixations", "Fixation");
  chFixations = chart(tsFixations, "chFixations", "Time", "Fixation");
  tsCoancestries = NewTabPage(pcResults, "tsCoancestries", "Theta");
  chCoancestries = chart(tsCoancestries, "chCoancestries", "Time", "Intra-patch coancestry");
  tsAlpha = NewTabPage(pcResults, "tsAlpha", "Alpha");
  chAlpha = chart(tsAlpha, "chAlpha", "Time", "Inter-patch coancestry");
  tsTextOutput = NewTabPage(pcResults, "tsTextOutput", "Text output");
  auto* text = new QVBoxLayout(tsTextOutput);
  mmOutput = NewLogMemo(tsTextOutput, "mmOutput", false, 6);
  text->addWidget(mmOutput);
  SetTabShown(pcResults, tsTags, false);
  pcResults->setCurrentWidget(tsAbundances);

  AbundanceSeries = std::make_unique<utile::gui::tLineSeriesSet>(*chAbundances);
  TagSeries = std::make_unique<utile::gui::tLineSeriesSet>(*chTags);
  SexRatioSeries = std::make_unique<utile::gui::tLineSeriesSet>(*chSexRatio);
  FixationSeries = std::make_unique<utile::gui::tLineSeriesSet>(*chFixations);
  CoancestrySeries = std::make_unique<utile::gui::tLineSeriesSet>(*chCoancestries);
  AlphaSeries = std::make_unique<utile::gui::tLineSeriesSet>(*chAlpha);
  OccupancyBars = new QBarSeries;
  OccupancyBars->append(new QBarSet("Occupancy"));
  chPatchOccupancy->AddSeries(OccupancyBars);
  chPatchOccupancy->SetLeftAxisRange(0, 1);
}

void TdlgIBSimple::BuildOutputOptionsPage() {
  tsOutputOptions = NewTabPage(pcIBSimple, "tsOutputOptions", "Output options");
  auto* layout = new QHBoxLayout(tsOutputOptions);
  grpOutputStatistics = NewGroupBox(tsOutputOptions, "grpOutputStatistics", "Output statistics");
  auto* columns = new QHBoxLayout(grpOutputStatistics);
  std::array<QVBoxLayout*, 3> column;
  for (QVBoxLayout*& c : column) {
    c = new QVBoxLayout;
    columns->addLayout(c);
  }
  const auto box = [this](QVBoxLayout* into, const char* name, const char* caption, bool checked = false) {
    QCheckBox* b = NewCheckBox(grpOutputStatistics, name, caption, checked);
    into->addWidget(b);
    return b;
  };
  ckSensAbundances = box(column[0], "ckSensAbundances", "Abundances", true);
  ckSensF = box(column[0], "ckSensF", "F");
  ckSensTheta = box(column[0], "ckSensTheta", "Theta");
  ckSensAlpha = box(column[0], "ckSensAlpha", "Alpha");
  ckSensJuveniles = box(column[0], "ckSensJuveniles", "Juveniles");
  ckSensAdults = box(column[0], "ckSensAdults", "Adults", true);
  ckSensCapacities = box(column[0], "ckSensCapacities", "Carrying capacities");
  ckSensOccupancy = box(column[0], "ckSensOccupancy", "Patch &occupancy");
  ckSensExtinctionTime = box(column[0], "ckSensExtinctionTime", "Time to e&xtinction");
  ckSensTags = box(column[0], "ckSensTags", "Count tags");
  ckSensDispersalEvents = box(column[1], "ckSensDispersalEvents", "Last dispersal events");
  ckSensDistanceMat = box(column[1], "ckSensDistanceMat", "Distance matrix");
  ckSensConnectanceMat = box(column[1], "ckSensConnectanceMat", "Connectance matrix");
  ckSensPermeabilityMat = box(column[1], "ckSensPermeabilityMat", "Permeability matrix");
  ckSensConnectionProfiles = box(column[1], "ckSensConnectionProfiles", "Connection profiles");
  ckSensNuclear = box(column[2], "ckSensNuclear", "Nuclear genome");
  ckSensMitochondrial = box(column[2], "ckSensMitochondrial", "Mitochondrial genome");
  ckSensX = box(column[2], "ckSensX", "X-chromosome genome");
  ckSensY = box(column[2], "ckSensY", "Y-chromosome genome");
  ckSensFstat = box(column[2], "ckSensFstat", "Save Fstat output", true);
  ckSensGenPop = box(column[2], "ckSensGenPop", "Save GenePop output");
  ckSensAlleleFreq = box(column[2], "ckSensAlleleFreq", "Save Allele frequencies");
  ckSensSeparateSexes = box(column[2], "ckSensSeparateSexes", "Separate se&xes");
  auto* genomes = new QFormLayout;
  seNbGenomes = NewSpinEdit(grpOutputStatistics, "seNbGenomes", 1, 10000000, 1);
  AddRow(genomes, grpOutputStatistics, "Number of genomes:", seNbGenomes);
  column[2]->addLayout(genomes);
  for (QVBoxLayout* c : column) c->addStretch(1);
  layout->addWidget(grpOutputStatistics);
  layout->addStretch(1);

  // The batch's own settings have a page of their own.
  tsOptions = NewTabPage(pcIBSimple, "tsOptions", "Options");
  auto* optionsPage = new QVBoxLayout(tsOptions);
  auto* options = NewGroupBox(tsOptions, "grpOptions", "Options");
  auto* optionsLayout = new QFormLayout(options);
  seMemoryDefragmentation = NewSpinEdit(options, "seMemoryDefragmentation", 0, 1000000, 0);
  seMemoryDefragmentation->setToolTip(
      "Every this many batch simulations the memory is defragmented (0: never)");
  AddRow(optionsLayout, options,
         "Frequency of memory defragmentation (simulations):", seMemoryDefragmentation);
  auto* row = new QHBoxLayout;
  row->addWidget(options);
  row->addStretch(1);
  optionsPage->addLayout(row);
  optionsPage->addStretch(1);
}

void TdlgIBSimple::BuildRunBar() {
  acRun = NewAction(this, "acRun", "&Run", Qt::Key_F9);
  acInitialise = NewAction(this, "acInitialise", "&Initialise", Qt::CTRL | Qt::Key_F9);
  acStop = NewAction(this, "acStop", "&Stop", Qt::CTRL | Qt::Key_F2);
  acStop->setToolTip("Interrupt current simulation/analysis");

  auto* bar = new QHBoxLayout;
  static_cast<QVBoxLayout*>(layout())->addLayout(bar);
  // A button shows its action: caption, hint and whether it can be used.
  const auto button = [this](const char* name, QAction* action) {
    QPushButton* b = NewButton(this, name, action ? action->text().toUtf8().constData() : "");
    if (action) {
      b->setToolTip(action->toolTip());
      b->setEnabled(action->isEnabled());
      connect(b, &QPushButton::clicked, action, &QAction::trigger);
      connect(action, &QAction::enabledChanged, b, &QPushButton::setEnabled);
    }
    return b;
  };
  btInitialise = button("btInitialise", acInitialise);
  btRun = button("btRun", acRun);
  btStop = button("btStop", acStop);
  btRunBatch = NewButton(this, "btRunBatch", "Run &batch");
  acRun->setEnabled(false);
  btRunBatch->setEnabled(false);
  lblTask = NewLabel(this, "lblTask", "Idle");
  lblTask->setMinimumWidth(110);
  ggTask = new QProgressBar(this);
  ggTask->setObjectName("ggTask");
  ggTask->setRange(0, 100);
  ggTask->setValue(0);
  ggMemory = new QProgressBar(this);
  ggMemory->setObjectName("ggMemory");
  ggMemory->setToolTip("Memory in use [MB]");
  ggMemory->setFormat("%v MB");
  ggMemory->setRange(0, static_cast<int>(utile::PlatformMemoryStatus().TotalPhysical / (1024 * 1024)));
  // The last messages of a run (its end, the individuals, the analysis, the time) in view.
  mmLog = NewLogMemo(this, "mmLog", true, 5);
  auto* gauges = new QVBoxLayout;
  auto* task = new QHBoxLayout;
  task->addWidget(lblTask);
  task->addWidget(ggTask, 1);
  gauges->addLayout(task);
  gauges->addWidget(ggMemory);
  for (QWidget* w : std::initializer_list<QWidget*>{btInitialise, btRun, btStop, btRunBatch})
    bar->addWidget(w);
  bar->addLayout(gauges, 1);
  bar->addWidget(mmLog, 2);
}

void TdlgIBSimple::BuildTaggedComponents() {
  // The window's own parameters in component order, then the parameters of the
  // cells in the order of their numbers; the list follows the cells.
  tTaggedComponents components;
  for (QWidget* component : std::initializer_list<QWidget*>{
           cbReproductionMode, edSexRatio, edTerritoryArea, edAutofecondation, edJuvenileWeight, sgGenes,
           edMutationRate, seNbLoci, seNbAlleles, edKAMrate, edSSMrate, seSamplingProbabilityJuvenile,
           seSamplingProbabilityAdult})
    components.Add(component, 1);
  for (const tEventCell* cell : fEventCells.EventOrder())
    if (const tEventCellControls* controls = CellControls(cell)) {
      if (controls->Param1) components.Add(controls->Param1, 1);
      if (controls->Param2) components.Add(controls->Param2, 1);
    }
  // A batch walks the list while it hands out its values: an unchanged list stays
  // the very same.
  const auto same = [](const tTaggedComponent& a, const tTaggedComponent& b) {
    return a.Component == b.Component && a.Tag == b.Tag;
  };
  if (!std::ranges::equal(components.Items(), TaggedComponents.Items(), same)) {
    TaggedComponents = components;
    BatchSlotsChanged();
  }
}

void TdlgIBSimple::ConnectHandlers() {
  for (int type = models::leBirth; type <= models::leTag; ++type)
    if (QAction* action = acNewEvent[type])
      connect(action, &QAction::triggered, this,
              [this, type] { OnNewEventCell(static_cast<tLifeEventType>(type)); });
  connect(btApply, &QPushButton::clicked, this, [this] { Guarded([this] { btApplyClick(); }); });
  connect(cbReproductionMode, &QComboBox::activated, this, [this] {
    Guarded([this] {
      Actualisation();
      btApplyClick();
    });
  });
  for (QLineEdit* edit :
       std::initializer_list<QLineEdit*>{edSexRatio, edTerritoryArea, edAutofecondation, edJuvenileWeight,
                                         edDispersalDistance, edExpImmigrationProb, edKAMrate, edSSMrate})
    connect(edit, &QLineEdit::textChanged, this, [this] { OnParameterChange(); });
  for (QLineEdit* edit : std::initializer_list<QLineEdit*>{edSexRatio, edAutofecondation, edJuvenileWeight,
                                                           edDispersalDistance, edExpImmigrationProb})
    utile::gui::InstallKeyFilter(edit, utile::gui::EditReal);

  connect(acInitialise, &QAction::triggered, this, [this] { acInitialiseExecute(); });
  connect(acRun, &QAction::triggered, this, [this] { acRunExecute(); });
  connect(acStop, &QAction::triggered, this, [this] { acStopExecute(); });
  connect(ckPedigree, &QCheckBox::clicked, this, [this] { ckPedigreeClick(); });
  for (QCheckBox* box : {ckJuveniles, ckAdults})
    connect(box, &QCheckBox::clicked, this, [this] { ckJuvenilesClick(); });
  for (QRadioButton* radio : {rbDistance, rbConnectivity, rbDispersalProbability, rbTest, rbDispersalEvents})
    connect(radio, &QRadioButton::toggled, this, [this](bool checked) {
      if (checked) Guarded([this] { OnChangeConnectivityMatrix(); });
    });
  connect(btApplyComputeMatrices, &QPushButton::clicked, this,
          [this] { Guarded([this] { OnChangeConnectivityMatrix(); }); });
  connect(cbDispersalEvent, &QComboBox::activated, this,
          [this] { Guarded([this] { OnChangeConnectivityMatrix(); }); });
  connect(tbTestDispersalProb, &QSlider::valueChanged, this,
          [this] { Guarded([this] { tbTestDispersalProbChange(); }); });
  connect(edTestDispersalProb, &QLineEdit::textChanged, this, [this](const QString& text) {
    fTestDispersalProb = utile::StrToFloatDefAnySeparator(text.toStdString(), 1.0);
  });
  for (QRadioButton* radio : {rbJuveniles, rbAdults, rbAllAgeClasses})
    connect(radio, &QRadioButton::toggled, this, [this](bool checked) {
      if (checked) OnChangeAgeClass();
    });
  connect(ckShowGlobal, &QCheckBox::toggled, this, [this] { OnChangeAgeClass(); });
  connect(btPatchData, &QPushButton::clicked, this, [this] { btPatchDataClick(); });
  connect(btFreeMemory, &QPushButton::clicked, this, [this] { btFreeMemoryClick(); });
  connect(btTest, &QPushButton::clicked, this, [this] { Guarded([this] { btTestClick(); }); });
  for (QCheckBox* box : {ckSensJuveniles, ckSensAdults})
    connect(box, &QCheckBox::clicked, this, [this, box] { OnSensAgeClassClick(box); });
  for (QCheckBox* box : {ckSensFstat, ckSensGenPop, ckSensAlleleFreq})
    connect(box, &QCheckBox::clicked, this, [this, box] { OnSensGenomeOutputClick(box); });
  for (QCheckBox* box : {ckSensY, ckSensX, ckSensMitochondrial, ckSensNuclear, ckSensDispersalEvents,
                         ckSensAlpha, ckSensTheta, ckSensF, ckSensAbundances, ckSensCapacities})
    connect(box, &QCheckBox::clicked, this, [this] { OnOutputOptionsChange(); });
}

void TdlgIBSimple::Guarded(const std::function<void()>& command) {
  vandrel::Guarded(this, command);
}

void TdlgIBSimple::Log(const std::string& line) {
  mmLog->appendPlainText(QString::fromStdString(line));
}

// ------------------------------------------------------------------ the model form

namespace {

// The time axes span a run or an analysis from its start, so that the charts
// take each new point onto the lines drawn so far rather than drawing them
// again at a new scale; afterwards the axes follow the points again.
class tFixedTimeAxes {
 public:
  tFixedTimeAxes(std::vector<utile::gui::tGraphicChart*> charts, double from, double to)
      : fCharts(std::move(charts)) {
    if (from < to)
      for (utile::gui::tGraphicChart* chart : fCharts) chart->SetBottomAxisRange(from, to);
  }
  ~tFixedTimeAxes() {
    for (utile::gui::tGraphicChart* chart : fCharts) chart->SetAutomaticAxes();
  }
  tFixedTimeAxes(const tFixedTimeAxes&) = delete;
  tFixedTimeAxes& operator=(const tFixedTimeAxes&) = delete;

 private:
  std::vector<utile::gui::tGraphicChart*> fCharts;
};

// While one lives, the model is on the stack: a step or an analysis runs.
class tModelInUse {
 public:
  explicit tModelInUse(int32_t& count) : fCount(count) { ++fCount; }
  ~tModelInUse() { --fCount; }
  tModelInUse(const tModelInUse&) = delete;
  tModelInUse& operator=(const tModelInUse&) = delete;

 private:
  int32_t& fCount;
};

// The time since start (a reading of the steady clock) as hours, minutes and seconds.
std::string ElapsedTime(double start) {
  return utile::ElapsedTimeToStr(utile::SteadyNow() - start);
}

}  // namespace

void TdlgIBSimple::FormClose() {
  Closing = true;
  tHourGlass hourGlass;
  lblTask->setText("Freeing memory");
  FreeCellControls();
  fEventCells.Clear();
  GeneticPedigree.reset();
  RefreshMemoryGauge();
  Metapop.reset();
  RefreshMemoryGauge();
  tModelForm::FormClose();
}

void TdlgIBSimple::FormActivate() {
  if (!dlgVandrel || dlgVandrel->CurrentModel == this || Closing) return;
  dlgVandrel->CurrentModel = this;
  dlgVandrel->ComputeModel();
  dlgVandrel->DrawSpace();
}

double TdlgIBSimple::GetAlpha() {
  return Metapop ? Metapop->Alpha : 0;
}

models::tReproductionMode TdlgIBSimple::ReproductionMode() const {
  return static_cast<models::tReproductionMode>(std::clamp(cbReproductionMode->currentIndex(), 0, 2));
}

double TdlgIBSimple::JuvenileWeight() const {
  return ReadReal(edJuvenileWeight, 0);
}

void TdlgIBSimple::SetReady(bool ready) {
  fReady = ready;
  UpdateRunControls();
}

void TdlgIBSimple::UpdateRunControls() {
  // A run, a batch or an analysis uses the model and the drawn cycle until it
  // has returned: whatever rebuilds or frees them waits.
  const bool running = IsRunning();
  for (QWidget* locked : std::initializer_list<QWidget*>{grpSpecies, pnEventButtons, pnEventParameters,
                                                         pnSpatialSettings, grpOutput})
    locked->setEnabled(!running);
  acInitialise->setEnabled(!running);
  acRun->setEnabled(fReady && !running);
  btRunBatch->setEnabled(fReady && !running);
  acStop->setEnabled(running);
  UpdatePedigreeControls();
  UpdateBatchRunControls();
}

void TdlgIBSimple::RefreshMemoryGauge() {
  // The machine's memory in use: what the system could not give at once, so the
  // caches it takes back count as free, and a run's memory given back shows.
  constexpr uint64_t Megabyte = 1024 * 1024;
  const utile::tMemoryStatus memory = utile::PlatformMemoryStatus();
  const uint64_t used =
      memory.TotalPhysical > memory.AvailablePhysical ? memory.TotalPhysical - memory.AvailablePhysical : 0;
  ggMemory->setValue(static_cast<int>(std::min<uint64_t>(used / Megabyte, ggMemory->maximum())));
}

void TdlgIBSimple::SetPedigreeAges() {
  models::tPedigree* pedigree = Metapop->Pedigree();
  if (!pedigree) return;
  const models::tSpecies& species = *Metapop->Species;
  pedigree->SetMaxAge(static_cast<models::Cardinal>(std::max(species.AgeDeath(), 0)));
  pedigree->SetAgeReproduction(species.AgeReproduction());
  pedigree->SetMutationRate(species.MutationRate);
}

void TdlgIBSimple::Initialise() {
  if (!Metapop) return;
  if (ModelInUse())
    throw utile::EInvalidOperation(
        utile::Format("%s is running: its model cannot be initialised before the run has ended.",
                      windowTitle().toStdString()));
  const int32_t n = PatchCount();
  if (models::DistanceMat.size() < size_t(n) || models::FrictionMap.size() < size_t(n) ||
      models::ConnectanceMat.size() < size_t(n))
    throw utile::EInvalidOperation(utile::Format(
        "The landscape's matrices do not cover its %d patches: the model is not initialised.", n));
  // A territory area that gives no capacity is refused before anything changes,
  // and reported at the stage that reads it.
  const std::string territoryText = edTerritoryArea->text().toStdString();
  const double territory = ReadReal(edTerritoryArea, 1.0);
  utile::tVectorOfInteger capacities;
  try {
    capacities = models::PatchCapacities(models::Patches, territory, territoryText);
  } catch (...) {
    CurrentBatchStep = "Individual initialisation";
    throw;
  }

  CurrentBatchStep = "Initialisation";
  // The model starts again at time 1: the runs the charts hold were another's.
  fChartsFollowModel = false;
  mmLog->clear();
  Log("Initialising matrices...");
  ComputeMatrices();

  CurrentBatchStep = "Species initialisation";
  models::tSpecies& species = *Metapop->Species;
  species.Name = edName->text().toStdString();
  species.Date = QLocale::system().toString(QDate::currentDate(), QLocale::ShortFormat).toStdString();
  species.SetReproductionMode(ReproductionMode());
  species.DispDistance = ReadReal(edDispersalDistance, 500);
  species.SexRatio = ReadReal(edSexRatio, 0.5);
  species.Autofecondation = ReadReal(edAutofecondation, 0);
  species.MutationRate = ReadReal(edMutationRate, 0);
  species.PatchExtinction = ckPatchExtinction->isChecked() ? 1 : 0;
  species.JuvenileWeight = ReadReal(edJuvenileWeight, 0);

  CurrentBatchStep = "Metapopulation initialisation";
  Log("Initialising metapopulation...");
  // Genomes are those of the pedigree that is cleared (or freed) now.
  GeneticPedigree.reset();
  btDisplayGenome->setEnabled(false);
  Metapop->SetGeneratePedigree(ckPedigree->isChecked());
  if (models::tPedigree* pedigree = Metapop->Pedigree()) {
    pedigree->Clear();
    pedigree->PrepareForAnalysis();
    SetPedigreeAges();  // again once this cycle is built
  }

  for (int row = 0; row < GeneCount; ++row) {
    const QTableWidgetItem* item = sgGenes->item(row, 1);
    Metapop->GenePrevalences()[row] =
        item ? utile::StrToFloatDefAnySeparator(item->text().toStdString(), 0) : 0;
  }

  // Until the cycle of these patches is built, there is nothing to run.
  SetReady(false);
  Metapop->SetReproductionMode(species.ReproductionMode());
  Metapop->AddPatches(n);
  Metapop->Initialise();
  Metapop->MaxIndividuals = static_cast<models::Cardinal>(seMaxIndividuals->value());
  Metapop->ExplosionSize = static_cast<models::Cardinal>(seExplosion->value());

  Log("Initialising individuals...");
  CurrentBatchStep = "Individual initialisation";
  const bool suitability = ckPatchSuitability->isChecked();
  const bool atCapacity = rbAbundanceK->isChecked();
  for (int32_t i = 0; i < n; ++i) {
    models::tPatch* patch = Metapop->GetPatches(i);
    const models::tCircle& circle = models::Patches[i];
    patch->x = static_cast<models::Single>(circle.x);
    patch->y = static_cast<models::Single>(circle.y);
    patch->Area = static_cast<models::Single>(circle.A);
    patch->Extinction = static_cast<models::Single>(circle.e);
    patch->Suitability = suitability ? static_cast<models::Single>(circle.b) : 1.0f;
    patch->Capacity = capacities[i];
    patch->AddIndividuals(atCapacity ? patch->Capacity : seInitialAbundance->value());
  }
  const int32_t living = Metapop->N();
  if (Metapop->Pool()->Count() < 2 * living) Metapop->Pool()->Add(2 * living - Metapop->Pool()->Count());

  CurrentBatchStep = "Life cycle initialisation";
  Log("Initialising life cycle...");
  btApply->setEnabled(false);
  std::string messages;
  models::tLifeCycle cycle;
  if (!BuildCycle(messages, cycle)) {
    btApply->setEnabled(true);
    Log("Life cycle incorrect");
    SetReady(false);
    return;
  }
  species.MakeCycle(cycle);
  const std::vector<tEventCell*>& order = fEventCells.EventOrder();
  for (size_t i = 0; i < order.size(); ++i)
    order[i]->SetEvent(species.GetLifeCycle(static_cast<models::Integer>(i)));
  // The pedigree's ages are those of the cycle just built.
  SetPedigreeAges();
  SetReady(true);

  CurrentBatchStep = "Finalizing initialisation";
  btRecomputePedigree->setEnabled(false);
  ComputeMaxConnectivity();
  RefreshMemoryGauge();
  mmLog->clear();
  Log("System initalised");
}

void TdlgIBSimple::ComputeMatrices() {
  models::ComputeDispersalKernel(ReadReal(edDispersalDistance, 99999999), models::DistanceMat,
                                 models::ConnectanceMat, PatchCount(), ExpaDij, ConnectivityMat);
  fLargestExpaDij = ExpaDij.empty() ? 0 : utile::MaxCoefficient(ExpaDij);
}

// ------------------------------------------------------------------ commands

void TdlgIBSimple::acInitialiseExecute() {
  if (IsRunning()) return;
  Guarded([this] {
    utile::SetSeeds(seSeed1->value(), seSeed2->value());
    btApplyClick();
    InitialiseSimulations();
  });
}

void TdlgIBSimple::acRunExecute() {
  // The running flag shows the hour-glass for as long as the run goes on.
  Guarded([this] { Run(); });
}

void TdlgIBSimple::acStopExecute() {
  if (fInRunLoop && fSimRunning) fStoppedByUser = true;
  Stop();
  Log("Process interrupted by user");
}

void TdlgIBSimple::Run() {
  if (!Metapop) return;
  if (!fReady && !IsRunning())
    throw utile::EInvalidOperation(
        utile::Format("%s has no model to run: initialise it with a correct life cycle first.",
                      windowTitle().toStdString()));
  tModelForm::Run();  // refuses a second run
  const tRunLock lock(*this);
  const tModelInUse inUse(fModelInUse);
  try {
    RunSimulation();
  } catch (...) {
    // A rule that failed left the step half done: the model is initialised anew before it runs again.
    SetReady(false);
    fSimRunning = false;
    lblTask->setText("Idle");
    ggTask->setValue(0);
    throw;
  }
}

void TdlgIBSimple::RunSimulation() {
  Log("Simulations running...");
  const double start = utile::SteadyNow();
  lblTask->setText("Simulations:");
  ggTask->setValue(0);
  const int32_t n = Metapop->PatchCount();
  // After an Initialise without the workbench's own command (a batch, the main
  // window's, Apply) the model starts again at time 1: so do its charts, laid out
  // for its patches, rather than drawing back over the runs they hold.
  if (!fChartsFollowModel || AbundanceSeries->Count() != 3 * (n + 1) || SexRatioSeries->Count() != n + 1)
    InitialiseSimulations();
  const int32_t steps = seNbTimeSteps->value();
  const int32_t cycles = seTimeStepLength->value();
  const bool moves = ckIndividualMoves->isChecked();
  const bool tags = ckCountTags->isChecked();
  // A run that goes on from an earlier one charts on at the metapopulation's
  // time, after the points the charts hold: the axes span both.
  const double firstTime = Metapop->Time;
  double from = firstTime;
  for (const utile::gui::tLineSeriesSet* set : {AbundanceSeries.get(), SexRatioSeries.get(), TagSeries.get()})
    for (int32_t i = 0; i < set->Count(); ++i)
      if (const QList<QPointF> points = set->Points(i); !points.isEmpty())
        from = std::min(from, points.first().x());
  const tFixedTimeAxes runAxes({chAbundances, chSexRatio, chTags}, from, firstTime + steps - 1);
  QElapsedTimer sinceTask, sinceMemory;
  sinceTask.start();
  sinceMemory.start();
  fStoppedByUser = false;
  fInRunLoop = true;
  int32_t t = 1;
  for (; t <= steps; ++t) {
    // A gauge paints itself at once whenever its value changes: ten times a
    // second is as much as an eye follows.
    if (t == 1 || t == steps || sinceTask.elapsed() >= 100) {
      ggTask->setValue(static_cast<int>(utile::Round(100.0L * t / steps)));
      sinceTask.restart();
    }
    // Reading the memory state costs a file: a few times a second is enough.
    if (t == 1 || sinceMemory.elapsed() >= 250) {
      RefreshMemoryGauge();
      sinceMemory.restart();
    }
    const double time = Metapop->Time;
    Metapop->Run(1, cycles);
    ChartStep(time, moves, tags);
    utile::ProcessMessages();
    if (Metapop->Extinct || Metapop->Explosion || Metapop->Overflow || !fSimRunning) break;
  }
  fInRunLoop = false;
  // One more step of a single cycle, which the charts do not show.
  Metapop->Run(1, 1);

  for (int32_t s = 0; s < n && s < AbundanceSeries->Count(); ++s) AbundanceSeries->SetActive(s, true);
  if (ckPatchOccupancy->isChecked()) ShowPatchOccupancy();
  SetTabShown(pcResults, tsPatchOccupancy, ckPatchOccupancy->isChecked());

  if (Metapop->Extinct) Log(utile::Format("!!! Extinction at time %d !!!", t));
  if (Metapop->Explosion) Log(utile::Format("!!! Explosion at time %d !!!", t));
  if (Metapop->Overflow) Log(utile::Format("!!! Max. number of individuals reached at time %d !!!", t));
  Log(utile::Format("Number of individuals:%u", Metapop->CurrentID - 1));

  const bool pedigree = ckPedigree->isChecked();
  // Stop ends the steps, not the reading of what they recorded: the pedigree is
  // analysed as after a run that ends by itself, and a second Stop ends that.
  // A run stopped because the window closes is not analysed.
  if (pedigree && fStoppedByUser && !fSimRunning && !ClosePending()) fSimRunning = true;
  if (pedigree && fSimRunning) AnalysePedigree();
  SetTabShown(pcIBSimple, tsGenetics, pedigree);
  fDisplayEnabled = pedigree;
  GeneticPedigree.reset();
  btDisplayGenome->setEnabled(false);
  if (pedigree && Metapop->Pedigree()) {
    fDispersalEvents = Metapop->Pedigree()->DispersalEventMatrix();
    for (size_t i = 0; i < fDispersalEvents.size(); ++i)
      if (i < fDispersalEvents[i].size()) fDispersalEvents[i][i] = 0;
    utile::MatStretchToOne(fDispersalEvents);
  }

  fSimRunning = false;
  Log("Simulations terminated. Time elapsed: " + ElapsedTime(start));
  lblTask->setText("Idle");
  ggTask->setValue(0);
  RefreshMemoryGauge();
}

void TdlgIBSimple::ChartStep(double t, bool moves, bool tags) {
  const int32_t abundances = AbundanceSeries->Count();
  const int32_t ratios = SexRatioSeries->Count();
  // The whole metapopulation's line comes with those of its patches.
  int64_t juveniles = 0, adults = 0, all = 0;
  for (int32_t p = 0; p < Metapop->PatchCount(); ++p) {
    models::tPatch* patch = Metapop->GetPatches(p);
    const int32_t id = static_cast<int32_t>(patch->ID());
    const int32_t patchJuveniles = patch->N(models::acJuvenile), patchAdults = patch->N(models::acAdult),
                  patchAll = patch->N();
    juveniles += patchJuveniles;
    adults += patchAdults;
    all += patchAll;
    if (3 * id + 2 < abundances) {
      AbundanceSeries->AppendPoint(3 * id, t, patchJuveniles);
      AbundanceSeries->AppendPoint(3 * id + 1, t, patchAdults);
      AbundanceSeries->AppendPoint(3 * id + 2, t, patchAll);
    }
    if (id < ratios) SexRatioSeries->AppendPoint(id, t, patch->SexRatio());
  }
  if (abundances >= 3 && Metapop->PatchCount() > 0) {
    AbundanceSeries->AppendPoint(0, t, static_cast<double>(juveniles));
    AbundanceSeries->AppendPoint(1, t, static_cast<double>(adults));
    AbundanceSeries->AppendPoint(2, t, static_cast<double>(all));
  }
  if (moves)
    mmOutput->appendPlainText(JoinLines(models::IndividualMovesLines(*Metapop, Metapop->Time, true)));
  if (tags) {
    const utile::tVectorOfCardinal counts = Metapop->TagCount();
    for (int32_t k = 0; k < static_cast<int32_t>(counts.size()) && k < TagSeries->Count(); ++k)
      TagSeries->AppendPoint(k, t, counts[k]);
  }
}

void TdlgIBSimple::ShowPatchOccupancy() {
  QBarSet* bars = OccupancyBars->barSets().constFirst();
  bars->remove(0, bars->count());
  const int32_t n = Metapop->PatchCount();
  // The bar of patch i stands at i.
  QList<qreal> occupancy(n + 1, 0.0);
  const double threshold = seExtinctionThreshold->value();
  for (int32_t i = 1; i <= n; ++i) {
    const int32_t adults = 3 * i + 1;
    if (adults >= AbundanceSeries->Count() || AbundanceSeries->PointCount(adults) == 0) continue;
    std::vector<double> values;
    for (const QPointF& point : AbundanceSeries->Points(adults)) values.push_back(point.y());
    occupancy[i] = models::PatchOccupancy(values, threshold);
  }
  bars->append(occupancy);
  chPatchOccupancy->SetBottomAxisRange(0.5, n + 0.5);
}

void TdlgIBSimple::InitialiseSimulations() {
  // The charts keep the series they had where the lines stay: making and freeing
  // hundreds of series costs each chart a layout per series.
  const auto layOut = [](utile::gui::tLineSeriesSet& set, bool wanted, std::vector<utile::gui::tLineStyle> lines) {
    set.LayOut(wanted ? std::move(lines) : std::vector<utile::gui::tLineStyle>());
  };
  if (ckClearTextOutput->isChecked()) mmOutput->clear();
  const int32_t n = Metapop->PatchCount();
  std::vector<utile::gui::tLineStyle> ratios;
  for (int32_t k = 0; k <= n; ++k)
    ratios.push_back({k == 0 ? QString("Global") : QString::fromStdString(utile::Format("Patch %d", k)),
                      k == 0 ? QColor(Qt::black) : PatchColour(k - 1), k == 0 ? 2 : 1, k != 0});
  layOut(*SexRatioSeries, true, std::move(ratios));
  layOut(*AbundanceSeries, true, ResultTriples(false));
  layOut(*FixationSeries, ckF->isChecked(), ResultTriples(false));
  // Theta also shows the diagonal of the alpha matrix.
  layOut(*CoancestrySeries, ckTheta->isChecked() || ckAlpha->isChecked(), ResultTriples(false));
  layOut(*AlphaSeries, ckAlpha->isChecked(), ResultTriples(true));
  std::vector<utile::gui::tLineStyle> tagLines;
  if (ckCountTags->isChecked()) {
    const utile::tVectorOfInteger& tags = Metapop->Species->Tags();
    const utile::tPalette& palette = utile::gui::ChartProperties().Palette;
    for (size_t i = 0; i < tags.size(); ++i)
      tagLines.push_back({QString::fromStdString(utile::Format("Tag %d", tags[i])),
                          palette.empty() ? QColor(Qt::blue) : utile::gui::ToQColor(palette[i % palette.size()])});
  }
  layOut(*TagSeries, true, std::move(tagLines));
  // The run's charts get their series now, not during the run's first step.
  for (utile::gui::tLineSeriesSet* set : {AbundanceSeries.get(), SexRatioSeries.get(), TagSeries.get()})
    set->MakeActiveSeries();
  SetTabShown(pcResults, tsTags, ckCountTags->isChecked());
  fChartsFollowModel = true;
  if (ckIndividualMoves->isChecked()) {
    mmOutput->clear();
    mmOutput->appendPlainText(JoinLines(models::IndividualMovesLines(*Metapop, 0, false)));
  }
}

std::vector<utile::gui::tLineStyle> TdlgIBSimple::ResultTriples(bool pairs) const {
  std::vector<utile::gui::tLineStyle> lines;
  const int32_t n = Metapop->PatchCount();
  const bool juveniles = ckJuveniles->isChecked();
  const bool adults = ckAdults->isChecked();
  const auto triple = [&](const QString& title, const QColor& colour, int width) {
    lines.push_back({title, colour, width, juveniles});
    lines.push_back({title, colour, width, adults});
    lines.push_back({title, colour, width, juveniles && adults});
  };
  if (pairs) {
    triple("Global", Qt::black, 2);
    int32_t pair = 0;
    for (int32_t k = 2; k <= n; ++k)
      for (int32_t l = 1; l < k; ++l)
        triple(QString::fromStdString(utile::Format("%d-%d", l, k)), PatchColour(pair++), 1);
    return lines;
  }
  for (int32_t k = 0; k <= n; ++k)
    triple(k == 0 ? QString("Global") : QString::fromStdString(utile::Format("Patch %d", k)),
           k == 0 ? QColor(Qt::black) : PatchColour(k - 1), k == 0 ? 2 : 1);
  return lines;
}

QColor TdlgIBSimple::PatchColour(int32_t index) const {
  // The main window's colours, where it has one for the patch.
  if (dlgVandrel && index >= 0 && size_t(index) < dlgVandrel->PatchColor.size())
    return utile::gui::ToQColor(dlgVandrel->PatchColor[size_t(index)]);
  const utile::tPalette& palette = utile::gui::ChartProperties().Palette;
  if (palette.empty() || index < 0) return QColor(Qt::gray);
  return utile::gui::ToQColor(palette[size_t(index) % palette.size()]);
}

void TdlgIBSimple::OnChangeAgeClass() {
  const int index = rbJuveniles->isChecked()       ? 0
                    : rbAdults->isChecked()        ? 1
                    : rbAllAgeClasses->isChecked() ? 2
                                                   : 0;
  const bool global = ckShowGlobal->isChecked();
  for (utile::gui::tLineSeriesSet* set :
       {AbundanceSeries.get(), FixationSeries.get(), CoancestrySeries.get(), AlphaSeries.get()}) {
    if (set->Count() < 2) continue;
    for (int32_t s = 0; s < set->Count(); ++s) set->SetActive(s, s % 3 == index && (s >= 3 || global));
  }
}

void TdlgIBSimple::ShowModel() {
  if (!Metapop) return;
  if (!dlgVandrel || dlgVandrel->CurrentModel != this) Initialise();
  if (dlgVandrel) dlgVandrel->ComputeModel();
  const std::string now =
      QLocale::system().toString(QDateTime::currentDateTime(), QLocale::ShortFormat).toStdString();
  mmModel->setPlainText(JoinLines(models::ModelDescriptionLines(edName->text().toStdString(), now, *Metapop,
                                                                models::DistanceMat, models::FrictionMap,
                                                                models::ConnectanceMat)));
}

void TdlgIBSimple::MakeDispersalEventList() {
  const QSignalBlocker quiet(cbDispersalEvent);
  cbDispersalEvent->clear();
  for (int i = 0; i < fEventCells.Count(); ++i) {
    tEventCell* cell = fEventCells.Cell(i);
    if (cell->GetEventType() == models::leDispersal)
      cbDispersalEvent->addItem(QString::fromStdString(utile::Format("Event %d", cell->Number())),
                                QVariant::fromValue(static_cast<void*>(cell)));
  }
  if (cbDispersalEvent->count() > 0) cbDispersalEvent->setCurrentIndex(0);
}

tEventCell* TdlgIBSimple::ChosenDispersalCell() const {
  if (cbDispersalEvent->currentIndex() < 0) return nullptr;
  auto* cell = static_cast<tEventCell*>(cbDispersalEvent->currentData().value<void*>());
  // A cell removed since the list was made is no longer there.
  if (!cell || fEventCells.IndexOf(cell) < 0 || cell->GetEventType() != models::leDispersal) return nullptr;
  return cell;
}

// ------------------------------------------------------------------ connectivity

double TdlgIBSimple::DispersalDistance(int32_t i, int32_t j) {
  if (ExpaDij.empty() || fLargestExpaDij == 0) return 0;
  return models::EntryOrZero(&ExpaDij, i, j) / static_cast<double>(fLargestExpaDij);
}

double TdlgIBSimple::DispersalProbability(int32_t i, int32_t j) {
  const tEventCell* cell = ChosenDispersalCell();
  if (!cell || !cell->fEvent.Mat1 || !cell->fEvent.Mat2) return 0;
  return models::EntryOrZero(cell->fEvent.Mat2.get(), i, j);
}

double TdlgIBSimple::DispersalTest(int32_t i, int32_t j) {
  const tEventCell* cell = ChosenDispersalCell();
  if (!cell || !cell->fEvent.Mat1 || !cell->fEvent.Mat2) return 0;
  return fTestDispersalProb * models::EntryOrZero(cell->fEvent.Mat1.get(), i, j) *
         models::EntryOrZero(cell->fEvent.Mat2.get(), i, j);
}

double TdlgIBSimple::DispersalEvents(int32_t i, int32_t j) {
  return models::EntryOrZero(&fDispersalEvents, i, j);
}

void TdlgIBSimple::OnChangeConnectivityMatrix() {
  if (IsRunning()) return;
  const auto use = [this](double (TdlgIBSimple::*function)(int32_t, int32_t)) {
    SetConnectivityFunction([this, function](int32_t i, int32_t j) { return (this->*function)(i, j); });
  };
  if (rbDistance->isChecked())
    SetConnectivityFunction([this](int32_t i, int32_t j) { return InverseDistance(i, j); });
  else if (rbConnectivity->isChecked())
    use(&TdlgIBSimple::DispersalDistance);
  else if (rbDispersalProbability->isChecked())
    use(&TdlgIBSimple::DispersalProbability);
  else if (rbTest->isChecked())
    use(&TdlgIBSimple::DispersalTest);
  else if (rbDispersalEvents->isChecked())
    use(&TdlgIBSimple::DispersalEvents);
  Actualisation();
  Initialise();
  if (dlgVandrel) dlgVandrel->DrawSpace();
}

void TdlgIBSimple::tbTestDispersalProbChange() {
  if (IsRunning()) return;
  edTestDispersalProb->setText(
      QString::fromStdString(utile::Format("%.2f", tbTestDispersalProb->value() / 100.0)));
  OnChangeConnectivityMatrix();
  utile::tVectorOfInteger capacities;
  for (int32_t i = 0; i < Metapop->PatchCount(); ++i) capacities.push_back(Metapop->GetPatches(i)->Capacity);
  const models::tExpectedImmigration immigration = models::ExpectedImmigration(
      ConnectivityMatrix(), capacities, models::ConnectanceMat, fTestDispersalProb);
  mmBackwardDispersal->setPlainText(JoinLines(models::ExpectedImmigrationLines(immigration)));
  edExpImmigrationProb->setText(QString::fromStdString(utile::Format("%.g", immigration.Mean)));
}

// ------------------------------------------------------------------ other handlers

void TdlgIBSimple::ckPedigreeClick() {
  const bool on = ckPedigree->isChecked();
  if (IsRunning()) {
    // Switched mid-run, a pedigree would start among individuals whose IDs began long before.
    const QSignalBlocker quiet(ckPedigree);
    ckPedigree->setChecked(Metapop && Metapop->GeneratePedigree());
    return;
  }
  if (!on) GeneticPedigree.reset();
  const bool had = Metapop->GeneratePedigree();
  Metapop->SetGeneratePedigree(on);
  // A pedigree begins with the founders: a model whose individuals have IDs
  // already is initialised anew before it runs.
  if (on && !had && Metapop->CurrentID > 1) SetReady(false);
  for (QWidget* w : std::initializer_list<QWidget*>{ckJuveniles, ckAdults, ckF, ckTheta, ckAlpha,
                                                    ckFinalValues, btRecomputePedigree})
    w->setEnabled(on);
  Actualisation();
}

void TdlgIBSimple::ckJuvenilesClick() {
  Actualisation();
}

void TdlgIBSimple::btPatchDataClick() {
  if (!dlgPatchData) return;
  dlgPatchData->show();
  dlgPatchData->raise();
}

void TdlgIBSimple::btFreeMemoryClick() {
  if (IsRunning()) return;
  if (!Dialogs().Confirm(this, "This will discard the pedigree. Are you sure?")) return;
  GeneticPedigree.reset();
  Metapop->SetGeneratePedigree(false);
  SetTabShown(pcIBSimple, tsGenetics, false);
  fDisplayEnabled = false;
  SetReady(false);
  Actualisation();
}

void TdlgIBSimple::btTestClick() {
  const double sum = models::RaggedMatrixTest(10, 3000000);
  mmModel->appendPlainText(QString::fromStdString(utile::FloatToStr(sum)));
}

void TdlgIBSimple::OnSensAgeClassClick(QCheckBox* sender) {
  // One age class at least.
  if (!ckSensJuveniles->isChecked() && !ckSensAdults->isChecked())
    (sender == ckSensJuveniles ? ckSensAdults : ckSensJuveniles)->setChecked(true);
  Actualisation();
}

void TdlgIBSimple::OnSensGenomeOutputClick(QCheckBox* sender) {
  // FSTAT or allele frequencies at least.
  if (!ckSensFstat->isChecked() && !ckSensAlleleFreq->isChecked())
    (sender != ckSensFstat ? ckSensFstat : ckSensAlleleFreq)->setChecked(true);
  Actualisation();
}

// ------------------------------------------------------------------ model files

void TdlgIBSimple::OpenModel(const std::string& FileName) {
  if (IsRunning())
    throw utile::EInvalidOperation(
        utile::Format("%s is running: a model file cannot be opened in it.", windowTitle().toStdString()));
  // Everything is read and checked before anything of the workbench changes.
  const models::tIBModelFile model = models::LoadModelFile(FileName);
  tModelForm::OpenModel(FileName);

  FreeCellControls();
  fDragCell = nullptr;
  fMoving = fLinking = fLinkPending = false;
  fEventCells.Assign(models::EventCellsFromFile(model.Cells));

  fUpdatingControls = true;
  Metapop->Species->Date = model.Date;
  edDate->setText(QString::fromStdString(model.Date));
  edName->setText(QString::fromStdString(model.Name));
  Metapop->Species->SetReproductionMode(model.ReproductionMode);
  cbReproductionMode->setCurrentIndex(model.ReproductionMode);
  seExtinctionThreshold->setValue(model.ExtinctionThreshold);
  Metapop->Species->ExtinctThresh = seExtinctionThreshold->value();
  edDispersalDistance->setText(QString::fromStdString(model.DispersalDistance));
  edSexRatio->setText(QString::fromStdString(model.SexRatio));
  edAutofecondation->setText(QString::fromStdString(model.Autofecondation));
  edMutationRate->setText(QString::fromStdString(model.MutationRate));
  ckPatchExtinction->setChecked(model.PatchExtinction);
  edJuvenileWeight->setText(QString::fromStdString(model.JuvenileWeight));
  ckPatchSuitability->setChecked(model.PatchSuitability);
  for (int row = 0; row < GeneCount && row < static_cast<int>(model.Genes.size()); ++row)
    sgGenes->item(row, 1)->setText(QString::fromStdString(model.Genes[row]));
  fUpdatingControls = false;

  for (int i = 0; i < fEventCells.Count(); ++i) AddCellControls(fEventCells.Cell(i));
  OnSelectCell(fEventCells.Count() > 0 ? fEventCells.Cell(0) : nullptr);
  Actualisation();
  btApplyClick();
  pbLifeCycle->update();
}

void TdlgIBSimple::SaveModel() {
  // The framework asks for a name first and comes back here with it.
  if (fFilename.empty()) {
    SaveModelAs();
    return;
  }
  SortEventCells();
  models::tIBModelFile model;
  model.Date = QLocale::system().toString(QDate::currentDate(), QLocale::ShortFormat).toStdString();
  model.Name = edName->text().toStdString();
  model.ReproductionMode = ReproductionMode();
  model.ExtinctionThreshold = seExtinctionThreshold->value();
  model.DispersalDistance = edDispersalDistance->text().toStdString();
  model.SexRatio = edSexRatio->text().toStdString();
  model.Autofecondation = edAutofecondation->text().toStdString();
  model.MutationRate = edMutationRate->text().toStdString();
  model.PatchExtinction = ckPatchExtinction->isChecked();
  model.JuvenileWeight = edJuvenileWeight->text().toStdString();
  model.PatchSuitability = ckPatchSuitability->isChecked();
  for (int row = 0; row < GeneCount; ++row) {
    const QTableWidgetItem* item = sgGenes->item(row, 1);
    model.Genes.push_back(item ? item->text().toStdString() : std::string());
  }
  model.Cells = models::ModelFileCells(fEventCells);
  models::SaveModelFile(fFilename, model);
  Metapop->Species->Date = model.Date;
  edDate->setText(QString::fromStdString(model.Date));
  Actualisation();
  pbLifeCycle->update();
}

// ------------------------------------------------------------------ cells and their boxes

tEventCellControls* TdlgIBSimple::CellControls(const tEventCell* cell) {
  const auto found = fCellControls.find(cell);
  return found == fCellControls.end() ? nullptr : &found->second;
}

void TdlgIBSimple::AddCellControls(tEventCell* cell) {
  if (CellControls(cell)) return;
  tEventCellControls& controls = fCellControls[cell];
  const tLifeEventType type = cell->GetEventType();
  controls.Parameters = new QGroupBox(QString::fromStdString(cell->Caption()), pnEventParameters);
  controls.Parameters->setObjectName("grpEventParameters");
  auto* form = new QFormLayout(controls.Parameters);
  // Captions over their fields: a list's longest entry has the box's width.
  form->setRowWrapPolicy(QFormLayout::WrapAllRows);
  const auto& captions = models::LifeEventParamStr[type];
  const auto edit = [&](int parameter, const std::string& text, const char* name) -> QLineEdit* {
    if (!models::HasEventParameter(type, parameter)) return nullptr;
    auto* field = new QLineEdit(QString::fromStdString(text), controls.Parameters);
    field->setObjectName(name);
    utile::gui::InstallKeyFilter(field, utile::gui::EditReal);
    AddRow(form, controls.Parameters, captions[parameter], field);
    connect(field, &QLineEdit::textChanged, this, [this, cell] { OnChangeEventParameter(cell); });
    connect(field, &QLineEdit::editingFinished, this, [this] { CheckCycle(); });
    return field;
  };
  controls.Param1 = edit(0, cell->Param1, "edParam1");
  controls.Param2 = edit(1, cell->Param2, "edParam2");
  if (models::HasEventParameter(type, 2)) {
    controls.Param3 = new QComboBox(controls.Parameters);
    controls.Param3->setObjectName("cbParam3");
    for (const std::string& entry : models::EventParameterList(type))
      controls.Param3->addItem(QString::fromStdString(entry));
    controls.Param3->setCurrentIndex(cell->Param3);
    AddRow(form, controls.Parameters, captions[2], controls.Param3);
    connect(controls.Param3, &QComboBox::currentIndexChanged, this, [this, cell] {
      OnChangeEventParameter(cell);
      if (!fUpdatingControls) CheckCycle();
    });
  }
  if (!models::HasEventParameter(type, 0) && !models::HasEventParameter(type, 1) &&
      !models::HasEventParameter(type, 2))
    form->addRow(new QLabel("No parameter", controls.Parameters));
  auto* layout = static_cast<QVBoxLayout*>(pnEventParameters->layout());
  layout->insertWidget(layout->count() - 1, controls.Parameters);
  // The panel takes the width of the widest box it has shown, so that the
  // drawing beside it keeps its width from one cell to the next.
  const QMargins margins = layout->contentsMargins();
  pnEventParameters->setMinimumWidth(std::max(pnEventParameters->minimumWidth(),
                                              controls.Parameters->minimumSizeHint().width() + margins.left() +
                                                  margins.right()));
  controls.Parameters->setVisible(cell->fSelected);
  ChangeDisplay(cell);
}

void TdlgIBSimple::RemoveCellControls(const tEventCell* cell) {
  const auto found = fCellControls.find(cell);
  if (found == fCellControls.end()) return;
  QGroupBox* box = found->second.Parameters;
  // A box that goes while one of its edits has the focus must not report back.
  for (QObject* child : box->findChildren<QObject*>()) disconnect(child, nullptr, this, nullptr);
  fCellControls.erase(found);
  delete box;
}

void TdlgIBSimple::ChangeDisplay(const tEventCell* cell) {
  tEventCellControls* controls = CellControls(cell);
  if (!controls) return;
  const int size = models::EventCellSize;
  QPixmap picture(size, size);
  picture.fill(QColor::fromRgb(CellColours[cell->GetEventType()]));
  QPainter painter(&picture);
  QFont font("Arial");
  font.setPixelSize(9);
  painter.setFont(font);
  painter.setPen(Qt::black);
  if (cell->Number() > 0)
    painter.drawText(QRect(3, 2, size - 6, 12), Qt::AlignLeft, QString::number(cell->Number()));
  painter.drawText(QRect(0, 4, size, size - 8), Qt::AlignHCenter | Qt::AlignTop | Qt::TextWrapAnywhere,
                   QString::fromUtf8(models::EventCellLabel(cell->GetEventType())));
  if (cell->fSelected) {
    painter.setPen(QPen(QColor(0, 90, 200), 3));
    painter.drawRect(QRectF(1.5, 1.5, size - 3, size - 3));
  } else {
    painter.setPen(QPen(Qt::black, 1));
    painter.drawRect(QRectF(0.5, 0.5, size - 1, size - 1));
  }
  painter.end();
  controls->BitMap = picture;
}

void TdlgIBSimple::OnNewEventCell(tLifeEventType type) {
  if (CellEditsLocked()) return;
  tEventCell* cell = fEventCells.NewEventCell(type, AreaWidth());
  if (!cell) return;
  for (int i = 0; i < fEventCells.Count(); ++i) AddCellControls(fEventCells.Cell(i));
  OnSelectCell(cell);
  CheckCycle();
  ChangeApplied();
}

void TdlgIBSimple::OnSelectCell(tEventCell* cell) {
  fEventCells.SelectCell(cell);
  for (auto& [c, controls] : fCellControls) {
    controls.Parameters->setVisible(c == cell);
    ChangeDisplay(c);
  }
  pbLifeCycle->update();
}

void TdlgIBSimple::RemoveCell(tEventCell* cell) {
  if (!cell || cell->GetEventType() == models::leBirth || CellEditsLocked()) return;
  if (fDragCell == cell) fDragCell = nullptr;
  RemoveCellControls(cell);
  fEventCells.Remove(cell);
  ChangeApplied();
  CheckCycle();
}

void TdlgIBSimple::OnChangeEventParameter(tEventCell* cell) {
  if (fUpdatingControls) return;
  const tEventCellControls* controls = CellControls(cell);
  if (!controls) return;
  if (controls->Param1) cell->Param1 = controls->Param1->text().toStdString();
  if (controls->Param2) cell->Param2 = controls->Param2->text().toStdString();
  if (controls->Param3) cell->Param3 = controls->Param3->currentIndex();
  ChangeApplied();
}

void TdlgIBSimple::OnParameterChange() {
  if (!fUpdatingControls) btApply->setEnabled(true);
}

void TdlgIBSimple::ChangeApplied() {
  btApply->setEnabled(true);
  pbLifeCycle->update();
}

void TdlgIBSimple::SortEventCells() {
  std::string messages;
  fEventCells.SortEventCells(messages);
  UpdateEventCells();
}

void TdlgIBSimple::UpdateEventCells() {
  fUpdatingControls = true;
  for (int i = 0; i < fEventCells.Count(); ++i) {
    tEventCell* cell = fEventCells.Cell(i);
    tEventCellControls* controls = CellControls(cell);
    if (!controls) continue;
    controls->Parameters->setTitle(QString::fromStdString(cell->Caption()));
    const auto show = [](QLineEdit* edit, const std::string& text) {
      if (edit && edit->text().toStdString() != text) edit->setText(QString::fromStdString(text));
    };
    show(controls->Param1, cell->Param1);
    show(controls->Param2, cell->Param2);
    if (controls->Param3 && controls->Param3->currentIndex() != cell->Param3)
      controls->Param3->setCurrentIndex(cell->Param3);
    ChangeDisplay(cell);
  }
  fUpdatingControls = false;
  const bool sexuate = ReproductionMode() == models::rmSexuate;
  for (int type = models::leBirth; type <= models::leTag; ++type)
    if (QAction* action = acNewEvent[type])
      action->setEnabled(fEventCells.CanCreate(static_cast<tLifeEventType>(type)) &&
                         (type != models::leSexConditional || sexuate));
  BuildTaggedComponents();
  AdjustAreaSize();
  pbLifeCycle->update();
}

bool TdlgIBSimple::BuildCycle(std::string& messages, models::tLifeCycle& cycle) {
  const bool correct = fEventCells.BuildCycle(messages, cycle, ReproductionMode(), JuvenileWeight());
  UpdateEventCells();
  QPalette colours = mmLifeCycle->palette();
  colours.setColor(QPalette::Text, correct ? QColor(0, 128, 0) : QColor(Qt::red));
  mmLifeCycle->setPalette(colours);
  mmLifeCycle->setPlainText(correct ? "Life cycle correct." : QString::fromStdString(messages));
  // The tag statistics are offered while the cycle tags individuals.
  SetTabShown(pcResults, tsTags, fEventCells.HasCellOfType(models::leTag));
  return correct;
}

void TdlgIBSimple::CheckCycle() {
  std::string messages;
  models::tLifeCycle cycle;
  BuildCycle(messages, cycle);
}

void TdlgIBSimple::btApplyClick() {
  if (IsRunning()) return;
  btApply->setEnabled(false);
  ShowModel();
  Actualisation();
  MakeDispersalEventList();
  RebuildBatchPages();
}

void TdlgIBSimple::Actualisation() {
  const models::tReproductionMode mode = ReproductionMode();
  const bool sexuate = mode == models::rmSexuate;
  edSexRatio->SetShown(sexuate);
  SetTabShown(pcResults, tsSexRatio, sexuate);
  if (QAction* sexConditional = acNewEvent[models::leSexConditional]) sexConditional->setEnabled(sexuate);
  edAutofecondation->SetShown(mode == models::rmHermaphrodite);
  btTestPedigree->setVisible(TestingMode);
  btShowRelMat->setVisible(TestingMode);
  setWindowTitle(QString::fromStdString(utile::ExtractFileName(fFilename)));

  // An age class that is not analysed cannot be shown.
  const bool juveniles = ckJuveniles->isChecked();
  const bool adults = ckAdults->isChecked();
  OfferAgeClass(rbAllAgeClasses, juveniles && adults);
  OfferAgeClass(rbJuveniles, juveniles);
  OfferAgeClass(rbAdults, adults);
  btDisplayGenome->setEnabled(GeneticPedigree != nullptr);
  RefreshMemoryGauge();

  const bool byClass = ckSensJuveniles->isChecked() || ckSensAdults->isChecked();
  for (QCheckBox* box : {ckSensAbundances, ckSensF, ckSensTheta, ckSensAlpha}) box->setEnabled(byClass);
  const bool pedigree = ckPedigree->isChecked();
  for (QCheckBox* box : {ckSensNuclear, ckSensMitochondrial, ckSensY, ckSensX}) box->setEnabled(pedigree);
  const bool genomes = ckSensNuclear->isChecked() || ckSensMitochondrial->isChecked() ||
                       ckSensX->isChecked() || ckSensY->isChecked();
  ckSensFstat->setEnabled(genomes);
  ckSensAlleleFreq->setEnabled(genomes);
  const bool map = !models::Map.empty();
  ckSensConnectionProfiles->setEnabled(map);
  if (!map) ckSensConnectionProfiles->setChecked(false);
  grpBackwardDispersal->setVisible(rbTest->isChecked());
  UpdatePedigreeControls();
}

int TdlgIBSimple::AreaWidth() const {
  return sbLifeCycle->viewport()->width();
}

void TdlgIBSimple::AdjustAreaSize() {
  int width = sbLifeCycle->viewport()->width();
  int height = sbLifeCycle->viewport()->height();
  for (int i = 0; i < fEventCells.Count(); ++i) {
    const tEventCell* cell = fEventCells.Cell(i);
    width = std::max(width, cell->Left + models::EventCellSize + models::EventCellSpacing);
    height = std::max(height, cell->Top + models::EventCellSize + models::EventCellSpacing);
  }
  if (pbLifeCycle->size() != QSize(width, height)) pbLifeCycle->resize(width, height);
}

// ------------------------------------------------------------------ gestures

void TdlgIBSimple::sbLifeCycleMouseDown(QPoint position, Qt::MouseButton button,
                                        Qt::KeyboardModifiers modifiers) {
  fMousePosition = position;
  fMoving = fLinking = fLinkPending = false;
  fDragCell = nullptr;
  tEventCell* cell = fEventCells.CellAt(position.x(), position.y());
  // While the workbench runs, a cell can be looked at but not changed.
  if (CellEditsLocked()) {
    if (button == Qt::LeftButton && !(modifiers & Qt::ControlModifier)) OnSelectCell(cell);
    return;
  }
  if (button == Qt::LeftButton) {
    if (modifiers & Qt::ControlModifier) {
      RemoveCell(cell);
      UpdateAreaCursor(position, modifiers);
      return;
    }
    if (!cell) {
      pbLifeCycleClick(position);
      return;
    }
    OnSelectCell(cell);
    fDragCell = cell;
    fPressPosition = position;
  } else if (button == Qt::RightButton) {
    if (!cell || !models::tEventCells::CanStartLink(*cell)) return;
    fDragCell = cell;
    fPressPosition = position;
    fLinkPending = true;
    fLinkKind = models::tEventCells::LinkAt(*cell, position.y());
  }
}

void TdlgIBSimple::sbLifeCycleDragOver(QPoint position, Qt::KeyboardModifiers modifiers) {
  fMousePosition = position;
  if (fDragCell && !fMoving && !fLinking) {
    const QPoint moved = position - fPressPosition;
    if (std::max(std::abs(moved.x()), std::abs(moved.y())) >= DragThreshold) {
      if (fLinkPending)
        fLinking = true;
      else
        fMoving = true;
    }
  }
  if (fMoving || fLinking) pbLifeCycle->update();
  UpdateAreaCursor(position, modifiers);
}

void TdlgIBSimple::pbLifeCycleMouseUp(QPoint position) {
  tEventCell* cell = fDragCell;
  const bool moving = fMoving;
  const bool linking = fLinking;
  fDragCell = nullptr;
  fMoving = fLinking = fLinkPending = false;
  // A drag released outside the visible area is dropped nowhere: nothing changes.
  const QRect visible(pbLifeCycle->mapFrom(sbLifeCycle->viewport(), QPoint(0, 0)),
                      sbLifeCycle->viewport()->size());
  if (!visible.contains(position)) {
    pbLifeCycle->update();
    return;
  }
  if (cell && moving) {
    sbLifeCycleDragDrop(cell, position);
  } else if (cell && linking) {
    // A drop on the empty area takes the link away.
    tEventCell* target = fEventCells.CellAt(position.x(), position.y());
    if (fEventCells.SetLink(cell, fLinkKind, target)) ChangeApplied();
    CheckCycle();
  }
  pbLifeCycle->update();
  UpdateAreaCursor(position, QGuiApplication::keyboardModifiers());
}

void TdlgIBSimple::pbLifeCycleClick(QPoint) {
  OnSelectCell(nullptr);
}

void TdlgIBSimple::sbLifeCycleDragDrop(tEventCell* cell, QPoint position) {
  fEventCells.MoveCell(cell, position.x(), position.y());
  ChangeApplied();
  AdjustAreaSize();
  CheckCycle();
}

void TdlgIBSimple::sbLifeCycleResize() {
  AdjustAreaSize();
}

bool TdlgIBSimple::eventFilter(QObject* watched, QEvent* event) {
  if (watched == sbLifeCycle->viewport() && event->type() == QEvent::Resize) sbLifeCycleResize();
  return tModelForm::eventFilter(watched, event);
}

void TdlgIBSimple::UpdateAreaCursor(QPoint position, Qt::KeyboardModifiers modifiers) {
  const bool removing =
      (modifiers & Qt::ControlModifier) && fEventCells.CellAt(position.x(), position.y()) != nullptr;
  if (removing)
    pbLifeCycle->setCursor(Qt::CrossCursor);
  else if (fMoving)
    pbLifeCycle->setCursor(Qt::ClosedHandCursor);
  else
    pbLifeCycle->unsetCursor();
}

QString TdlgIBSimple::CellHint(QPoint position) const {
  const tEventCell* cell = fEventCells.CellAt(position.x(), position.y());
  if (!cell) return {};
  QString hint = QString::fromStdString(cell->Caption());
  if (!cell->Description.empty()) hint += "\n" + QString::fromStdString(cell->Description);
  return hint;
}

void TdlgIBSimple::pbLifeCyclePaint(QPainter& painter) {
  painter.setRenderHint(QPainter::Antialiasing);
  QFont font("Arial");
  font.setPixelSize(14);
  font.setBold(true);
  painter.setFont(font);
  const double half = models::EventCellSize / 2.0;
  // A "?" stands for a link that has no room to be drawn.
  const auto unknown = [&](QPointF at, const QColor& colour) {
    painter.setPen(colour);
    painter.drawText(QRectF(at.x() - 8, at.y() - 10, 16, 20), Qt::AlignCenter, "?");
  };
  for (int i = 0; i < fEventCells.Count(); ++i) {
    const tEventCell* cell = fEventCells.Cell(i);
    const QPointF from(cell->X(), cell->Y());
    for (const bool alternative : {false, true}) {
      const tEventCell* target = alternative ? cell->AltEvent : cell->NextEvent;
      if (!target) continue;
      const QColor colour = alternative ? QColor(200, 0, 0) : QColor(Qt::black);
      painter.setPen(QPen(colour, 1.5, alternative ? Qt::DashLine : Qt::SolidLine));
      const QPointF to(target->X(), target->Y());
      if (target == cell) {
        unknown(from + QPointF(half + 6, alternative ? half - 6 : -half + 6), colour);
      } else if (std::abs(to.x() - from.x()) < 2 * half && std::abs(to.y() - from.y()) < 2 * half) {
        unknown((from + to) / 2 + QPointF(0, alternative ? 12 : -12), colour);
      } else {
        DrawArrow(painter, CellBorder(from, to), CellBorder(to, from));
      }
    }
  }
  for (int i = 0; i < fEventCells.Count(); ++i) {
    const tEventCell* cell = fEventCells.Cell(i);
    const auto found = fCellControls.find(cell);
    if (found != fCellControls.end()) painter.drawPixmap(cell->Left, cell->Top, found->second.BitMap);
  }
  if (fLinking && fDragCell) {
    painter.setPen(
        QPen(fLinkKind == models::tCellLink::clAlt ? QColor(200, 0, 0) : QColor(Qt::black), 1, Qt::DotLine));
    DrawArrow(painter, QPointF(fDragCell->X(), fDragCell->Y()), fMousePosition);
  }
}

// ------------------------------------------------------------------ pedigree and genetics displays

QWidget* TdlgIBSimple::BuildSamplingChoice(QWidget* parent) {
  // The two sampling buttons choose among themselves only.
  auto* choice = new QWidget(parent);
  choice->setObjectName("pnSampling");
  auto* layout = new QHBoxLayout(choice);
  layout->setContentsMargins(0, 0, 0, 0);
  rbTransversal = NewRadioButton(choice, "rbTransversal", "&Transversal sampling", true);
  rbTransversal->setToolTip("Both juveniles and adults are sampled at time t (simultaneous sampling)");
  rbLongitudinal = NewRadioButton(choice, "rbLongitudinal", "&Longitudinal sampling");
  rbLongitudinal->setToolTip("Juveniles sampled at t-1, then adults sampled at t (cohort sampling)");
  seTimeResolution = NewSpinEdit(choice, "seTimeResolution", 1, 100, 1);
  lblTimeResolution = NewLabel(choice, "lblTimeResolution", "Time resolution:", seTimeResolution);
  for (QWidget* w : std::initializer_list<QWidget*>{rbTransversal, rbLongitudinal, lblTimeResolution, seTimeResolution})
    layout->addWidget(w);
  lblTimeResolution->setVisible(false);
  seTimeResolution->setVisible(false);
  return choice;
}

void TdlgIBSimple::AddTextDisplayButtons(QBoxLayout* layout) {
  btShowPedigree = NewButton(grpDisplay, "btShowPedigree", "Pedigree");
  btShowPositions = NewButton(grpDisplay, "btShowPositions", "Positions");
  btDispersalEventMatrix = NewButton(grpDisplay, "btDispersalEventMatrix", "Dispersal events");
  btLastDispersalEvents = NewButton(grpDisplay, "btLastDispersalEvents", "Last dispersal events");
  auto* grid = new QGridLayout;
  grid->addWidget(btShowPedigree, 0, 0);
  grid->addWidget(btShowPositions, 0, 1);
  grid->addWidget(btDispersalEventMatrix, 1, 0);
  grid->addWidget(btLastDispersalEvents, 1, 1);
  layout->addLayout(grid);
}

QGroupBox* TdlgIBSimple::BuildEquilibriumBox(QWidget* parent) {
  grpEquilibrium = NewGroupBox(parent, "grpEquilibrium", "Equilibrium statistics");
  auto* layout = new QFormLayout(grpEquilibrium);
  seEquilibriumSteps = NewSpinEdit(grpEquilibrium, "seEquilibriumSteps", 1, 10000000, 500, 10);
  AddRow(layout, grpEquilibrium, "Number of &time steps:", seEquilibriumSteps);
  ckDemographicContribution =
      NewCheckBox(grpEquilibrium, "ckDemographicContribution", "&Demographic contribution", true);
  ckGeneticContribution = NewCheckBox(grpEquilibrium, "ckGeneticContribution", "&Genetic contribution", true);
  btComputeEquilibrium = NewButton(grpEquilibrium, "btComputeEquilibrium", "Compute");
  layout->addRow(ckDemographicContribution);
  layout->addRow(ckGeneticContribution);
  layout->addRow(btComputeEquilibrium);
  return grpEquilibrium;
}

void TdlgIBSimple::ConnectPedigreeHandlers() {
  const auto bind = [this](QPushButton* button, void (TdlgIBSimple::*handler)()) {
    connect(button, &QPushButton::clicked, this, [this, handler] { Guarded([this, handler] { (this->*handler)(); }); });
  };
  bind(btRecomputePedigree, &TdlgIBSimple::btRecomputePedigreeClick);
  bind(btTestPedigree, &TdlgIBSimple::btTestPedigreeClick);
  bind(btShowRelMat, &TdlgIBSimple::btShowRelMatClick);
  bind(btShowPedigree, &TdlgIBSimple::btShowPedigreeClick);
  bind(btShowPositions, &TdlgIBSimple::btShowPositionsClick);
  bind(btDispersalEventMatrix, &TdlgIBSimple::btDispersalEventMatrixClick);
  bind(btLastDispersalEvents, &TdlgIBSimple::btLastDispersalEventsClick);
  bind(btComputeEquilibrium, &TdlgIBSimple::btComputeEquilibriumClick);
  bind(btDisplayGenome, &TdlgIBSimple::btDisplayGenomeClick);
  for (QPushButton* button : {btNuclearGenome, btMitochondrialGenome, btXChromosomeGenome, btYChromosomeGenome})
    connect(button, &QPushButton::clicked, this, [this, button] { Guarded([this, button] { MakeGenome(button); }); });
  connect(ckPrunePedigree, &QCheckBox::clicked, this, [this] { Guarded([this] { ckPrunePedigreeClick(); }); });
  // CheckScientificInput
  for (QLineEdit* edit : std::initializer_list<QLineEdit*>{edMutationRate, edKAMrate, edSSMrate})
    utile::gui::InstallKeyFilter(edit, utile::gui::EditScientific);
}

void TdlgIBSimple::UpdatePedigreeControls() {
  if (!btComputeEquilibrium) return;  // the window is being built
  const bool running = IsRunning();
  const models::tPedigree* pedigree = Metapop ? Metapop->Pedigree() : nullptr;
  grpDisplay->setEnabled(fDisplayEnabled && pedigree && !running);
  btComputeEquilibrium->setEnabled(pedigree && !running);
  for (QPushButton* button : {btNuclearGenome, btMitochondrialGenome, btXChromosomeGenome, btYChromosomeGenome})
    button->setEnabled(pedigree && !running);
  ckPrunePedigree->setEnabled(!running);
  btDisplayGenome->setEnabled(GeneticPedigree && !running);
  // Nothing to analyse again without the records of a run.
  if (!pedigree || pedigree->Count() == 0) btRecomputePedigree->setEnabled(false);
}

models::tPedigree& TdlgIBSimple::RequirePedigree() const {
  if (!HasPedigree())
    throw utile::EInvalidOperation(
        "There is no pedigree: check \"Pedigree analysis\", initialise and run the model first.");
  return *Metapop->Pedigree();
}

models::tSamplingScheme TdlgIBSimple::SamplingScheme() const {
  if (rbTransversal->isChecked()) return models::ssTransversal;
  if (rbLongitudinal->isChecked()) return models::ssLongitudinal;
  return models::ssNone;
}

void TdlgIBSimple::AppendOutput(const utile::tVectorOfString& lines) {
  if (!lines.empty()) mmOutput->appendPlainText(JoinLines(lines));
}

template <class tValue>
void TdlgIBSimple::AddPoints(utile::gui::tLineSeriesSet& series, double t, const std::vector<tValue>& values,
                             int32_t ageClass) {
  const int32_t count = series.Count();
  for (size_t i = 0; i < values.size(); ++i) {
    const int32_t s = 3 * static_cast<int32_t>(i) + ageClass;
    if (s >= count) break;
    bool gap = false;
    if constexpr (std::is_signed_v<tValue>) gap = values[i] < 0;
    if (gap)
      series.AppendNullPoint(s, t);
    else
      series.AppendPoint(s, t, static_cast<double>(values[i]));
  }
  utile::ProcessMessages();
}
// Statistics and sizes (the benchmarks call it too).
template void TdlgIBSimple::AddPoints(utile::gui::tLineSeriesSet&, double, const utile::tVectorOfDouble&,
                                      int32_t);
template void TdlgIBSimple::AddPoints(utile::gui::tLineSeriesSet&, double, const utile::tVectorOfCardinal&,
                                      int32_t);

void TdlgIBSimple::PrepareAnalysisSeries() {
  // Series that the last Initialise did not make (a box checked since) are made
  // now, for the model's patches.
  const int32_t n = Metapop->PatchCount();
  const int32_t triples = 3 * (n + 1), pairs = 3 * models::AlphaPairCount(n);
  const auto layOut = [this](utile::gui::tLineSeriesSet& set, int32_t count, bool alpha) {
    if (set.Count() != count) set.LayOut(ResultTriples(alpha));
  };
  layOut(*AbundanceSeries, triples, false);
  if (ckF->isChecked()) layOut(*FixationSeries, triples, false);
  if (ckTheta->isChecked() || ckAlpha->isChecked()) layOut(*CoancestrySeries, triples, false);
  if (ckAlpha->isChecked()) layOut(*AlphaSeries, pairs, true);
  for (utile::gui::tLineSeriesSet* set :
       {AbundanceSeries.get(), FixationSeries.get(), CoancestrySeries.get(), AlphaSeries.get()})
    set->ClearAllPoints();
}

void TdlgIBSimple::DrawAnalysisPass(const models::tPedigreeAnalysis& analysis) {
  const models::tPedigreeAnalysisOptions& options = analysis.Options();
  const double t = analysis.Date();
  const auto draw = [&](const models::tAgeClassValues& values, int32_t ageClass) {
    if (options.F) AddPoints(*FixationSeries, t, values.F, ageClass);
    if (options.Theta || options.Alpha) AddPoints(*CoancestrySeries, t, values.Theta, ageClass);
    if (options.Alpha) AddPoints(*AlphaSeries, t, values.AlphaPairs, ageClass);
    AddPoints(*AbundanceSeries, t, values.Sizes, ageClass);
  };
  if (options.Juveniles && analysis.JuvenilesInRange()) draw(analysis.Values(models::pacJuveniles), 0);
  if (options.Adults) draw(analysis.Values(models::pacAdults), 1);
  if (options.Juveniles && options.Adults) {
    const models::tAgeClassValues& all = analysis.Values(models::pacAll);
    AddPoints(*AbundanceSeries, t, all.Sizes, 2);
    if (options.F) AddPoints(*FixationSeries, t, all.F, 2);
    if (options.Theta) AddPoints(*CoancestrySeries, t, all.Theta, 2);
    if (options.Alpha) AddPoints(*AlphaSeries, t, all.AlphaPairs, 2);
  }
}

void TdlgIBSimple::AnalysePedigree() {
  models::tPedigree& pedigree = RequirePedigree();
  // The analysis lets messages through: nothing may free or rebuild the model under it.
  const tRunLock lock(*this);
  const tModelInUse inUse(fModelInUse);
  PrepareAnalysisSeries();
  models::tSpecies& species = *Metapop->Species;
  species.MutationRate = ReadReal(edMutationRate, 0);
  models::tPedigreeAnalysisOptions options;
  options.Juveniles = ckJuveniles->isChecked();
  options.Adults = ckAdults->isChecked();
  options.F = ckF->isChecked();
  options.Theta = ckTheta->isChecked();
  options.Alpha = ckAlpha->isChecked();
  options.Sampling = SamplingScheme();
  options.TimeResolution = seTimeResolution->value();
  options.PatchCount = Metapop->PatchCount();
  options.FinalValuesOnly = ckFinalValues->isChecked();
  Log("Pedigree analysis...");
  lblTask->setText("Pedigree analysis:");
  ggTask->setValue(0);
  pedigree.PrepareForAnalysis();
  SetPedigreeAges();

  models::tPedigreeAnalysis analysis(pedigree, options);
  const tFixedTimeAxes analysisAxes({chAbundances, chFixations, chCoancestries, chAlpha},
                                    analysis.PassDate(analysis.FirstPass()), analysis.PassDate(analysis.LastPass()));
  QElapsedTimer sinceGauge;
  bool complete = true;
  for (int32_t pass = analysis.FirstPass(); pass <= analysis.LastPass(); ++pass) {
    ggTask->setValue(analysis.Progress(analysis.PassDate(pass)));
    // Reading the memory state costs a file: a few times a second is enough.
    if (!sinceGauge.isValid() || sinceGauge.elapsed() >= 250) {
      RefreshMemoryGauge();
      sinceGauge.restart();
    }
    analysis.Compute(pass);
    DrawAnalysisPass(analysis);
    utile::ProcessMessages();
    if (!fSimRunning) {
      complete = false;
      break;
    }
  }
  if (complete) AppendOutput(analysis.SummaryLines());
  SetTabShown(pcResults, tsFixations, options.F);
  SetTabShown(pcResults, tsCoancestries, options.Theta || options.Alpha);
  SetTabShown(pcResults, tsAlpha, options.Alpha);
  OfferAgeClass(rbJuveniles, options.Juveniles);
  OfferAgeClass(rbAdults, options.Adults);
  OfferAgeClass(rbAllAgeClasses, rbJuveniles->isEnabled() && rbAdults->isEnabled());
  if (complete) {
    OnChangeAgeClass();
    btRecomputePedigree->setEnabled(true);
  }
  UpdatePedigreeControls();
}

void TdlgIBSimple::btRecomputePedigreeClick() {
  if (IsRunning()) return;
  const double start = utile::SteadyNow();
  // The running flag shows the hour-glass and lets Stop end the analysis.
  fSimRunning = true;
  std::exception_ptr failure;
  try {
    AnalysePedigree();
  } catch (...) {
    failure = std::current_exception();
  }
  fSimRunning = false;
  ggTask->setValue(0);
  Log("Pedigree analysis terminated. Time elapsed: " + ElapsedTime(start));
  lblTask->setText("Idle");
  if (failure) std::rethrow_exception(failure);
}

void TdlgIBSimple::btTestPedigreeClick() {
  if (IsRunning()) return;
  models::tPedigree& pedigree = RequirePedigree();
  // The genomes and the run belong to the pedigree that is replaced.
  GeneticPedigree.reset();
  models::FillTestPedigree(pedigree);
  pedigree.SetMutationRate(ReadReal(edMutationRate, 0));
  pedigree.ComputeWholeRelationshipMatrix();
  mmOutput->setPlainText(
      JoinLines(utile::TextLines(utile::MatToStr(pedigree.RelationshipMatrix(), "%.3g"))));
  SetReady(false);
  Actualisation();
}

void TdlgIBSimple::btShowRelMatClick() {
  if (IsRunning()) return;
  const models::tPedigree& pedigree = RequirePedigree();
  if (pedigree.Count() >= models::RelationshipMatrixLimit) {
    Dialogs().ShowMessage(this, "Matrix too large.", tMessageKind::mkError);
    return;
  }
  mmOutput->setPlainText(
      JoinLines(utile::TextLines(utile::MatToStr(pedigree.RelationshipMatrix(), "%.3g"))));
}

void TdlgIBSimple::btShowPedigreeClick() {
  if (IsRunning()) return;
  AppendOutput(models::PedigreeRecordLines(RequirePedigree()));
}

void TdlgIBSimple::btShowPositionsClick() {
  if (IsRunning()) return;
  AppendOutput(models::PositionLines(RequirePedigree()));
}

void TdlgIBSimple::btDispersalEventMatrixClick() {
  if (IsRunning()) return;
  AppendOutput(models::DispersalEventLines(RequirePedigree(), false));
}

void TdlgIBSimple::btLastDispersalEventsClick() {
  if (IsRunning()) return;
  AppendOutput(models::DispersalEventLines(RequirePedigree(), true));
}

void TdlgIBSimple::btComputeEquilibriumClick() {
  if (IsRunning()) return;
  const models::tPedigree& pedigree = RequirePedigree();
  const auto values = [this](int32_t s) {
    std::vector<double> y;
    if (s < AbundanceSeries->Count())
      for (const QPointF& point : AbundanceSeries->Points(s)) y.push_back(point.y());
    return y;
  };
  std::vector<std::vector<double>> patches;
  for (int32_t p = 1; p <= Metapop->PatchCount(); ++p) patches.push_back(values(3 * p + 1));
  models::tEquilibriumOptions options;
  options.Steps = seEquilibriumSteps->value();
  options.Demographic = ckDemographicContribution->isChecked();
  options.Genetic = ckGeneticContribution->isChecked();
  AppendOutput(models::EquilibriumStatisticsLines(values(1), patches, pedigree, options));
}

void TdlgIBSimple::MakeGenome(QPushButton* sender) {
  if (IsRunning()) return;
  models::tPedigree& pedigree = RequirePedigree();
  GeneticPedigree.reset();
  GeneticPedigree = std::make_unique<models::tGeneticPedigree>(pedigree);
  {
    const tHourGlass hourGlass;
    SetGenomeParameters();
    if (ckPrunePedigree->isChecked()) GeneticPedigree->PrunePedigree();
    for (const tGenomeKind& kind : GenomeKinds())
      if (kind.Button == sender) (GeneticPedigree.get()->*kind.Make)();
  }
  Actualisation();
}

std::array<TdlgIBSimple::tGenomeKind, 4> TdlgIBSimple::GenomeKinds() const {
  return {{
      {btNuclearGenome, ckSensNuclear, &models::tGeneticPedigree::MakeNuclearGenome},
      {btMitochondrialGenome, ckSensMitochondrial, &models::tGeneticPedigree::MakeMitochondrialGenome},
      {btXChromosomeGenome, ckSensX, &models::tGeneticPedigree::MakeXChromosomeGenome},
      {btYChromosomeGenome, ckSensY, &models::tGeneticPedigree::MakeYChromosomeGenome},
  }};
}

void TdlgIBSimple::SetGenomeParameters() {
  GeneticPedigree->SetLocusCount(seNbLoci->value());
  GeneticPedigree->SetAlleleCount(seNbAlleles->value());
  GeneticPedigree->SetMutationKAM(ReadReal(edKAMrate, 0));
  GeneticPedigree->SetMutationSSM(ReadReal(edSSMrate, 0));
}

void TdlgIBSimple::ckPrunePedigreeClick() {
  if (GeneticPedigree && !IsRunning()) {
    if (ckPrunePedigree->isChecked()) {
      GeneticPedigree->PrunePedigree();
    } else {
      // The pruned individuals have no genomes: they are generated again.
      GeneticPedigree->UnprunePedigree();
      GeneticPedigree.reset();
    }
  }
  Actualisation();
}

void TdlgIBSimple::btDisplayGenomeClick() {
  if (IsRunning() || !GeneticPedigree) return;
  if (rbAllGenomes->isChecked())
    DisplayAllGenomes();
  else if (rbFstat->isChecked())
    DisplayFstatOutput();
  else if (rbGenePop->isChecked())
    DisplayGenePopOutput();
  else if (rbAlleleFrequencies->isChecked())
    DisplayAlleleFrequencies();
  else if (rbCoancestries->isChecked())
    DisplayCoancestries();
  else if (rbPairwiseFst->isChecked())
    DisplayPairwiseFst();
}

void TdlgIBSimple::DisplayAllGenomes() {
  AppendOutput(models::AllGenomeLines(*GeneticPedigree, RequirePedigree()));
}

void TdlgIBSimple::DisplayLastGeneration(models::tLastGenerationOutput output) {
  utile::tVectorOfString lines;
  try {
    models::LastGenerationLines(*GeneticPedigree, RequirePedigree(), output, SamplingScheme(),
                                seSamplingProbabilityJuvenile->value() / 1000.0,
                                seSamplingProbabilityAdult->value() / 1000.0, lines);
  } catch (...) {
    AppendOutput(lines);
    throw;
  }
  AppendOutput(lines);
}

void TdlgIBSimple::DisplayFstatOutput() {
  DisplayLastGeneration(models::lgFstat);
}

void TdlgIBSimple::DisplayGenePopOutput() {
  DisplayLastGeneration(models::lgGenePop);
}

void TdlgIBSimple::DisplayAlleleFrequencies() {
  DisplayLastGeneration(models::lgAlleleFrequencies);
}

void TdlgIBSimple::DisplayCoancestries() {
  DisplayLastGeneration(models::lgCoancestries);
}

void TdlgIBSimple::DisplayPairwiseFst() {
  DisplayLastGeneration(models::lgPairwiseFst);
}

// ------------------------------------------------------------------ batch pages and batch simulations

namespace {

void SetBold(QLabel* label) {
  QFont bold = label->font();
  bold.setBold(true);
  label->setFont(bold);
}

constexpr int PriorColumns = 5;  // the slot, "Uniform", the fixed value, the bounds

}  // namespace

void TdlgIBSimple::BuildBatchPages() {
  tSensitivityPageStyle style;
  style.OutputFile = "BatchResults.txt";
  tsSensitivity = new tSensitivityPage(this, style, nullptr);
  pcIBSimple->addTab(tsSensitivity, "Sensitivity analysis");
  btAbortSensitivity = NewButton(tsSensitivity, "btAbortSensitivity", "Abort");
  btAbortSensitivity->setToolTip("Stop the batch after the current simulation");
  tsSensitivity->ButtonLayout->insertWidget(tsSensitivity->ButtonLayout->count() - 1, btAbortSensitivity);
  ggBatchProgress = new QProgressBar(tsSensitivity);
  ggBatchProgress->setObjectName("ggBatchProgress");
  ggBatchProgress->setRange(0, 100);
  ggBatchProgress->setValue(0);
  tsSensitivity->ButtonLayout->addWidget(ggBatchProgress, 1);
  pnStatusBar = NewLabel(tsSensitivity, "pnStatusBar", "Idle");
  pnStatusBar->setFrameShape(QFrame::StyledPanel);
  static_cast<QVBoxLayout*>(tsSensitivity->layout())->addWidget(pnStatusBar);

  tsABC = NewTabPage(pcIBSimple, "tsABC", "ABC");
  auto* layout = new QHBoxLayout(tsABC);
  const auto priorTable = [this, layout](const char* name, const char* title) {
    auto* column = new QVBoxLayout;
    auto* label = new QLabel(title, tsABC);
    SetBold(label);
    column->addWidget(label);
    auto* table = new QTableWidget(0, PriorColumns, tsABC);
    table->setObjectName(name);
    table->setHorizontalHeaderLabels({"Parameter", "Uniform", "Value", "Minimum", "Maximum"});
    table->verticalHeader()->setVisible(false);
    table->verticalHeader()->setDefaultSectionSize(table->fontMetrics().height() + 6);
    table->horizontalHeader()->setStretchLastSection(true);
    column->addWidget(table, 1);
    layout->addLayout(column, 1);
    return table;
  };
  sgABCLandscape = priorTable("sgABCLandscape", "Landscape priors");
  sgABCParameters = priorTable("sgABCParameters", "Life-cycle priors");
  auto* options = NewGroupBox(tsABC, "grpABC", "Approximate Bayesian computation");
  auto* form = new QFormLayout(options);
  seABCSimulations = NewSpinEdit(options, "seABCSimulations", 1, 10000000, 100);
  AddRow(form, options, "Number of &simulations:", seABCSimulations);
  seABCSeed1 = NewSpinEdit(options, "seABCSeed1", 1, 1000000, 10);
  AddRow(form, options, "Seed &1:", seABCSeed1);
  seABCSeed2 = NewSpinEdit(options, "seABCSeed2", 1, 1000000, 1);
  AddRow(form, options, "Seed &2:", seABCSeed2);
  ckABCLandscapes = NewCheckBox(options, "ckABCLandscapes", "One &landscape per simulation", ABCLandscapes);
  ckABCLandscapes->setToolTip("Each simulation gets its own landscape line, drawn from the landscape priors");
  form->addRow(ckABCLandscapes);
  btMakeABCBatch = NewButton(options, "btMakeABCBatch", "&Make ABC batch");
  btMakeABCBatch->setToolTip("Draw the simulations from the priors into the batch of the sensitivity page");
  btAppendABCBatch = NewButton(options, "btAppendABCBatch", "A&ppend ABC batch");
  btAppendABCBatch->setToolTip("Draw the simulations and append them to the batch of the sensitivity page");
  form->addRow(btMakeABCBatch);
  form->addRow(btAppendABCBatch);
  auto* right = new QVBoxLayout;
  right->addWidget(options);
  right->addStretch(1);
  layout->addLayout(right);

  const auto guarded = [this](void (TdlgIBSimple::*command)()) {
    return [this, command] { Guarded([this, command] { (this->*command)(); }); };
  };
  connect(tsSensitivity->btRunBatch, &QPushButton::clicked, this, guarded(&TdlgIBSimple::btRunBatchClick));
  connect(btRunBatch, &QPushButton::clicked, this, guarded(&TdlgIBSimple::btRunBatchClick));
  connect(btAbortSensitivity, &QPushButton::clicked, this, [this] { btAbortSensitivityClick(); });
  connect(btMakeABCBatch, &QPushButton::clicked, this, guarded(&TdlgIBSimple::btMakeABCBatchClick));
  connect(btAppendABCBatch, &QPushButton::clicked, this, guarded(&TdlgIBSimple::btAppendABCBatchClick));
  connect(ckABCLandscapes, &QCheckBox::toggled, this, [this](bool checked) { ABCLandscapes = checked; });
  // Until the first Apply there is nothing to list.
  BatchSlotsChanged();
}

std::vector<TdlgIBSimple::tBatchSlot> TdlgIBSimple::LandscapeSlots() const {
  std::vector<tBatchSlot> slotList;
  if (!dlgVandrel) return slotList;
  // The order in which a landscape line hands out its values: the Tag-1
  // parameters, then the two file names.
  for (const tSensitivityEntry& entry : LandscapeEntries(dlgVandrel->TaggedComponents)) {
    tBatchSlot slot{entry};
    if (slot.Entry.Caption.empty()) slot.Entry.Caption = NameCaption(entry.Component, "ed");
    SetWholeLimits(slot);
    slotList.push_back(slot);
  }
  for (const tSensitivityEntry& file : TaggedEntries(dlgVandrel->TaggedComponents, 2)) {
    tBatchSlot slot{file};
    slot.Entry.FilterKeys = false;
    slot.Entry.AllowEmpty = true;  // no file in use
    slot.Entry.WidthFactor = 3;
    slot.Entry.Tag = 2;
    slotList.push_back(slot);
  }
  return slotList;
}

void TdlgIBSimple::SetWholeLimits(tBatchSlot& slot) {
  if (const auto* spin = qobject_cast<const QSpinBox*>(slot.Entry.Component)) {
    slot.Whole = true;
    slot.Lowest = spin->minimum();
    slot.Highest = spin->maximum();
  }
}

std::vector<TdlgIBSimple::tBatchSlot> TdlgIBSimple::LifeCycleSlots() const {
  // The cells' edits are captioned by the cell's number and the parameter.
  std::unordered_map<const QWidget*, std::pair<std::string, std::string>> cellEdits;
  for (const tEventCell* cell : fEventCells.EventOrder()) {
    const auto found = fCellControls.find(cell);
    if (found == fCellControls.end()) continue;
    const auto& captions = models::LifeEventParamStr[cell->GetEventType()];
    for (int parameter : {0, 1}) {
      const QLineEdit* edit = parameter == 0 ? found->second.Param1 : found->second.Param2;
      if (edit)
        cellEdits[edit] = {utile::Format("Event%dParam%d:", cell->Number(), parameter + 1),
                           cell->Caption() + ": " + captions[parameter]};
    }
  }
  std::vector<tBatchSlot> slotList;
  for (const tTaggedComponent& item : TaggedComponents) {
    if (item.Tag != 1 && item.Tag != 2) continue;
    tBatchSlot slot;
    slot.Entry.Component = item.Component;
    slot.Entry.Hint = item.Component->toolTip().toStdString();
    if (const auto* grid = qobject_cast<const QTableWidget*>(item.Component)) {
      // One value per row, named after the row.
      for (int row = 0; row < grid->rowCount(); ++row) {
        const QTableWidgetItem* title = grid->item(row, 0);
        std::string name = title ? utile::Replace(title->text().toStdString(), " ", "") : std::string();
        if (name.empty()) name = utile::Format("%s%d", grid->objectName().toStdString(), row);
        slot.Row = row;
        slot.Entry.Caption = name + ":";
        slotList.push_back(slot);
      }
      continue;
    }
    if (const auto found = cellEdits.find(item.Component); found != cellEdits.end()) {
      slot.Entry.Caption = found->second.first;
      slot.Entry.Hint = found->second.second;
    } else {
      slot.Entry.Caption = TypePrefixCaption(item.Component);
    }
    SetWholeLimits(slot);
    if (const auto* combo = qobject_cast<const QComboBox*>(item.Component)) {
      slot.Whole = true;
      slot.Lowest = 0;
      slot.Highest = combo->count() - 1;
    }
    slotList.push_back(slot);
  }
  return slotList;
}

std::string TdlgIBSimple::SlotText(const tBatchSlot& slot) {
  if (const auto* grid = qobject_cast<const QTableWidget*>(slot.Entry.Component)) {
    const QTableWidgetItem* cell = grid->item(slot.Row, 1);
    return cell ? cell->text().toStdString() : std::string();
  }
  return ControlText(slot.Entry.Component);
}

void TdlgIBSimple::BatchSlotsChanged() {
  // Lists built for other slots would hand their values to the wrong controls.
  if (!tsSensitivity) return;
  SetTabShown(pcIBSimple, tsSensitivity, false);
  SetTabShown(pcIBSimple, tsABC, false);
}

void TdlgIBSimple::RebuildBatchPages() {
  if (!tsSensitivity) return;
  const std::vector<tBatchSlot> landscape = LandscapeSlots();
  const std::vector<tBatchSlot> lifeCycle = LifeCycleSlots();
  const auto entries = [](const std::vector<tBatchSlot>& slotList) {
    tSensitivityEntries list;
    for (const tBatchSlot& slot : slotList) {
      tSensitivityEntry entry = slot.Entry;
      entry.Text = SlotText(slot);
      list.push_back(entry);
    }
    return list;
  };
  tsSensitivity->BuildSensitivityPage(entries(landscape), entries(lifeCycle));
  FillPriorTable(sgABCLandscape, landscape, fLandscapePriors);
  FillPriorTable(sgABCParameters, lifeCycle, fParameterPriors);
  SetTabShown(pcIBSimple, tsSensitivity, true);
  SetTabShown(pcIBSimple, tsABC, true);
}

void TdlgIBSimple::FillPriorTable(QTableWidget* table, const std::vector<tBatchSlot>& slotList,
                                  std::vector<models::tIBPrior>& priors) {
  // A row the user set keeps its prior when its slot comes back.
  struct tRow {
    Qt::CheckState Uniform;
    QString Value, Minimum, Maximum;
  };
  std::map<QString, tRow> kept;
  for (int row = 0; row < table->rowCount(); ++row) {
    const auto text = [&](int column) { return table->item(row, column)->text(); };
    bool edited = table->item(row, 1)->checkState() == Qt::Checked;
    for (int column = 2; column < PriorColumns; ++column)
      edited = edited || text(column) != table->item(row, column)->data(Qt::UserRole).toString();
    if (edited) kept[text(0)] = {table->item(row, 1)->checkState(), text(2), text(3), text(4)};
  }
  const QSignalBlocker quiet(table);
  table->setRowCount(0);
  table->setRowCount(static_cast<int>(slotList.size()));
  priors.clear();
  for (int row = 0; row < static_cast<int>(slotList.size()); ++row) {
    const tBatchSlot& slot = slotList[size_t(row)];
    const QString name = QString::fromStdString(utile::Replace(slot.Entry.Caption, ":", ""));
    auto* title = new QTableWidgetItem(name);
    title->setFlags(Qt::ItemIsEnabled);
    title->setToolTip(QString::fromStdString(slot.Entry.Hint));
    table->setItem(row, 0, title);
    auto* uniform = new QTableWidgetItem;
    uniform->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
    uniform->setCheckState(Qt::Unchecked);
    table->setItem(row, 1, uniform);
    const QString text = QString::fromStdString(SlotText(slot));
    for (int column = 2; column < PriorColumns; ++column) {
      auto* value = new QTableWidgetItem(text);
      value->setData(Qt::UserRole, text);
      table->setItem(row, column, value);
    }
    if (const auto found = kept.find(name); found != kept.end()) {
      uniform->setCheckState(found->second.Uniform);
      table->item(row, 2)->setText(found->second.Value);
      table->item(row, 3)->setText(found->second.Minimum);
      table->item(row, 4)->setText(found->second.Maximum);
    }
    models::tIBPrior prior;
    prior.Name = name.toStdString();
    prior.Whole = slot.Whole;
    prior.Lowest = slot.Lowest;
    prior.Highest = slot.Highest;
    priors.push_back(prior);
  }
  table->resizeColumnsToContents();
}

std::vector<models::tIBPrior> TdlgIBSimple::ReadPriors(const QTableWidget* table,
                                                       const std::vector<models::tIBPrior>& priors) const {
  std::vector<models::tIBPrior> read = priors;
  for (int row = 0; row < table->rowCount() && size_t(row) < read.size(); ++row) {
    models::tIBPrior& prior = read[size_t(row)];
    prior.Uniform = table->item(row, 1)->checkState() == Qt::Checked;
    prior.Fixed = table->item(row, 2)->text().toStdString();
    prior.Minimum = table->item(row, 3)->text().toStdString();
    prior.Maximum = table->item(row, 4)->text().toStdString();
  }
  return read;
}

std::vector<std::string> TdlgIBSimple::ABCLines() const {
  return models::ABCBatch(ReadPriors(sgABCLandscape, fLandscapePriors),
                          ReadPriors(sgABCParameters, fParameterPriors), seABCSimulations->value(),
                          ABCLandscapes, seABCSeed1->value(), seABCSeed2->value());
}

void TdlgIBSimple::btMakeABCBatchClick() {
  // The draws reseed the generator that a running batch draws from.
  if (IsRunning()) return;
  tsSensitivity->SetBatchLines(ABCLines());
}

void TdlgIBSimple::btAppendABCBatchClick() {
  if (IsRunning()) return;
  tsSensitivity->AppendBatchLines(ABCLines());
}

void TdlgIBSimple::UpdateBatchRunControls() {
  if (!tsSensitivity) return;
  const bool running = IsRunning();
  const bool statistics = ckSensAbundances->isChecked() || ckSensF->isChecked() || ckSensTheta->isChecked() ||
                          ckSensAlpha->isChecked();
  const bool canRun = fReady && !running && statistics;
  btRunBatch->setEnabled(canRun);
  tsSensitivity->btRunBatch->setEnabled(canRun);
  btAbortSensitivity->setEnabled(running);
  btMakeABCBatch->setEnabled(!running);
  btAppendABCBatch->setEnabled(!running);
}

void TdlgIBSimple::OnOutputOptionsChange() {
  UpdateBatchRunControls();
  Actualisation();
}

void TdlgIBSimple::btRunBatchClick() {
  if (IsRunning()) return;
  try {
    RunBatch(tsSensitivity->BatchLines(), tsSensitivity->edOutputFile->text().toStdString(), true);
  } catch (...) {
    pnStatusBar->setText("Idle");
    throw;
  }
  ggBatchProgress->setValue(BatchProgress);
  pnStatusBar->setText("Idle");
}

void TdlgIBSimple::btAbortSensitivityClick() {
  if (!IsRunning()) return;
  Stop();
  pnStatusBar->setText("Aborted: the batch stops after the current simulation");
}

void TdlgIBSimple::RunBatch(const std::vector<std::string>& Lines, const std::string& FileName,
                            bool RewriteHeaders) {
  if (IsRunning()) {
    tModelForm::RunBatch(Lines, FileName, RewriteHeaders);  // refuses
    return;
  }
  // Appended rows continue the file's numbering and stand under its header.
  fResultFileState =
      utile::FileExists(FileName) ? models::ReadIBResultFile(FileName) : models::tIBResultFileState{};
  fHeaderInForce = fResultFileState.LastHeader;
  fBatchStarting = true;
  BatchResultFile = utile::ChangeFileExt(FileName, "");
  tModelForm::RunBatch(Lines, FileName, RewriteHeaders);
}

models::tIBBatchColumns TdlgIBSimple::BatchColumns(int32_t patchCount) const {
  models::tIBBatchColumns columns;
  for (const tBatchSlot& slot : LandscapeSlots()) columns.LandscapeLabels.push_back(slot.Entry.Caption);
  for (const tBatchSlot& slot : LifeCycleSlots()) columns.ParameterLabels.push_back(slot.Entry.Caption);
  columns.PatchCount = patchCount;
  columns.Sexuate = ReproductionMode() == models::rmSexuate;
  columns.Capacities = ckSensCapacities->isChecked();
  columns.Occupancy = ckSensOccupancy->isChecked();
  columns.ExtinctionTime = ckSensExtinctionTime->isChecked();
  columns.Tags = ckSensTags->isChecked();
  if (columns.Tags) columns.TagValues = Metapop->Species->Tags();
  columns.Juveniles = ckSensJuveniles->isChecked();
  columns.Adults = ckSensAdults->isChecked();
  columns.Abundances = ckSensAbundances->isChecked();
  columns.F = ckSensF->isChecked();
  columns.Theta = ckSensTheta->isChecked();
  return columns;
}

void TdlgIBSimple::WriteHeaderLine(const models::tIBBatchColumns& columns) {
  utile::tVectorOfString fields = models::IBHeaderFields(columns);
  const std::string line = models::JoinFields(fields);
  Fs.WriteLn(line);
  mmOutput->appendPlainText(QString::fromStdString(line));
  fHeaderInForce = std::move(fields);
}

void TdlgIBSimple::WriteHeaders() {
  WriteHeaderLine(BatchColumns(PatchCount()));
}

void TdlgIBSimple::DisplayBatchStep() {
  pnStatusBar->setText(QString::fromStdString(CurrentBatchStep));
  utile::ProcessMessagesNow();
}

void TdlgIBSimple::BatchStep(const std::string& step) {
  CurrentBatchStep = step;
  DisplayBatchStep();
}

void TdlgIBSimple::Simulation(const std::string& Line) {
  if (!Fs.IsOpen())
    throw utile::EInvalidOperation(
        "A batch simulation writes its row to the result file of a running batch.");
  CurrentBatchStep = "Batch line";
  try {
    // A value that a spin edit would hold to its range is refused before any control takes one.
    CheckSpinEditRanges(TaggedComponents, BatchLineValues(Line, tBatchLineKind::blSimulation));
    tModelForm::Simulation(Line);
    if (!Ready()) {
      CurrentBatchStep = "Life cycle initialisation";
      throw utile::EInvalidOperation("Life cycle incorrect: " + mmLifeCycle->toPlainText().toStdString());
    }
    RunSensitivity();
  } catch (const EBatchValueError& error) {
    mmOutput->appendPlainText(QString::fromUtf8(error.what()));
    throw;  // the framework writes the line's error line
  } catch (const std::exception& error) {
    GeneticPedigree.reset();
    btDisplayGenome->setEnabled(false);
    ++BatchErrors;
    const std::string line = "****** Error at " + CurrentBatchStep + " for " + sLan + sPar + " ************";
    mmOutput->appendPlainText(QString::fromUtf8(error.what()));
    mmOutput->appendPlainText(QString::fromStdString(line));
    Fs.WriteLn(line);
  }
}

void TdlgIBSimple::RunSensitivity() {
  const tModelInUse inUse(fModelInUse);
  BatchStep("Starting simulation");
  ggBatchProgress->setValue(BatchProgress);
  const double start = utile::SteadyNow();
  if (fBatchStarting) {
    fBatchStarting = false;
    // The file's numbers stay far below the end of 64 bits (ReadIBResultFile).
    SimID = BatchAppends ? static_cast<uint64_t>(fResultFileState.LargestSimID + 1) : 0;
    fLandscapeOffset = BatchAppends ? fResultFileState.LargestLandscape + 1 : 0;
  }
  ++SimID;
  models::tIBBatchRow row;
  row.SimID = static_cast<int64_t>(SimID - 1);
  // The values of the lines, and the controls' texts where a line gave none.
  utile::tVectorOfString landscape = utile::TabbedFields(sLan);
  row.HasLandscape = LanID > 0 && !landscape.empty();
  if (row.HasLandscape) {
    row.Landscape = utile::StrToIntDef(landscape[0], LanID - 1) + fLandscapeOffset;
    landscape.erase(landscape.begin());
  }
  utile::tVectorOfString inForce;
  for (const tBatchSlot& slot : LandscapeSlots()) inForce.push_back(SlotText(slot));
  row.LandscapeValues = models::PaddedValues(landscape, inForce);
  inForce.clear();
  for (const tBatchSlot& slot : LifeCycleSlots()) inForce.push_back(SlotText(slot));
  row.ParameterValues = models::PaddedValues(utile::TabbedFields(sPar), inForce);

  const int32_t defragmentation = seMemoryDefragmentation->value();
  if (defragmentation > 0 && SimID % static_cast<uint64_t>(defragmentation) == 0) {
    BatchStep("Defragmenting memory");
    MemoryManager->DefragAll();
  }
  if (fNewLan) {
    BatchStep("Landscape statistics");
    WriteLandscapeFiles();
  }
  RunBatchSimulation(row);

  row.Time = utile::DurationToStr(utile::SteadyNow() - start, true);
  const models::tIBBatchColumns columns = BatchColumns(Metapop->PatchCount());
  if (models::IBHeaderFields(columns) != fHeaderInForce) WriteHeaderLine(columns);
  const std::string line = models::JoinFields(models::IBRowFields(columns, row));
  Fs.WriteLn(line);
  mmOutput->appendPlainText(QString::fromStdString(line));
  BatchStep("Simulation end");
  GeneticPedigree.reset();
  btDisplayGenome->setEnabled(false);
}

void TdlgIBSimple::WriteLandscapeFiles() {
  const int64_t lan = LanID + fLandscapeOffset;
  const auto name = [&](const char* kind) { return models::LandscapeFileName(BatchResultFile, kind, lan); };
  if (ckSensDistanceMat->isChecked()) utile::MatSaveToFile(models::DistanceMat, name("Distances"), false);
  if (ckSensConnectanceMat->isChecked())
    utile::MatSaveToFile(models::ConnectanceMat, name("Connectances"), false);
  if (ckSensPermeabilityMat->isChecked())
    utile::MatSaveToFile(models::FrictionMap, name("Permeabilities"), false);
  if (ckSensConnectionProfiles->isChecked() && !models::Map.empty() && dlgVandrel) {
    const utile::tVectorOfDouble values = models::DistinctMapValues();
    utile::SaveTextToFile(name("ConnectionProfiles"),
                          models::ConnectionProfilesFileText(values, dlgVandrel->ConnectionProfiles(values)));
  }
}

void TdlgIBSimple::RunBatchSimulation(models::tIBBatchRow& row) {
  BatchStep("Runs");
  const int32_t n = Metapop->PatchCount();
  utile::tVectorOfDouble occupancy;
  if (ckSensOccupancy->isChecked()) {
    // One cycle per step, so that every cycle counts; the threshold is the one shown.
    occupancy.assign(size_t(n), 0.0);
    const int32_t threshold = seExtinctionThreshold->value();
    const int64_t steps = int64_t(seNbTimeSteps->value()) * seTimeStepLength->value() + 1;
    QElapsedTimer sinceShown;
    sinceShown.start();
    for (int64_t s = 1; s <= steps; ++s) {
      CurrentBatchStep = utile::Format("Running time step %d", s);
      if (sinceShown.elapsed() >= 100) {
        pnStatusBar->setText(QString::fromStdString(CurrentBatchStep));
        sinceShown.restart();
      }
      utile::ProcessMessages();
      Metapop->Run(1, 1);
      if (Metapop->Extinct || Metapop->Explosion || Metapop->Overflow) break;
      for (int32_t p = 0; p < n; ++p)
        if (Metapop->GetPatches(p)->N(models::acAdult) > threshold) occupancy[size_t(p)] += 1;
    }
    if (Metapop->Time > 0)
      for (double& o : occupancy) o /= Metapop->Time;
  } else {
    Metapop->Run(seNbTimeSteps->value(), seTimeStepLength->value());
    Metapop->Run(1, 1);
  }

  BatchStep("Genetic pedigree initialisation");
  const bool genomes = ckPedigree->isChecked() && Metapop->Pedigree() &&
                       (ckSensNuclear->isChecked() || ckSensMitochondrial->isChecked() ||
                        ckSensX->isChecked() || ckSensY->isChecked());
  if (genomes) GeneticPedigree = std::make_unique<models::tGeneticPedigree>(*Metapop->Pedigree());

  GatherDemography(row, occupancy);
  GatherPedigreeStatistics(row);
  if (genomes) GenerateGenomes();
}

void TdlgIBSimple::GatherDemography(models::tIBBatchRow& row, const utile::tVectorOfDouble& occupancy) {
  BatchStep("Demography statistics");
  row.Individuals = Metapop->CurrentID - 1;
  const bool sexuate = ReproductionMode() == models::rmSexuate;
  for (int32_t p = 0; p < Metapop->PatchCount(); ++p) {
    models::tPatch* patch = Metapop->GetPatches(p);
    row.Capacities.push_back(patch->Capacity);
    if (sexuate) row.SexRatios.push_back(models::SingleAsDecimal(patch->SexRatio()));
  }
  row.Occupancy = occupancy;
  row.ExtinctionTime = Metapop->Extinct ? Metapop->ExtTime : -1;
  if (ckSensTags->isChecked()) row.TagCounts = Metapop->TagCount();
}

void TdlgIBSimple::GatherPedigreeStatistics(models::tIBBatchRow& row) {
  BatchStep("Pedigree analysis");
  models::tPedigree* pedigree = ckPedigree->isChecked() ? Metapop->Pedigree() : nullptr;
  if (pedigree) {
    pedigree->PrepareForAnalysis();
    SetPedigreeAges();
  }
  const models::Cardinal last = pedigree ? pedigree->GenerationCount() : 0;
  for (const bool juveniles : {true, false}) {
    if (!(juveniles ? ckSensJuveniles : ckSensAdults)->isChecked()) continue;
    models::tIBClassStatistics& statistics = juveniles ? row.Juveniles : row.Adults;
    if (!pedigree) {
      // The counts of the patches, the whole metapopulation first.
      statistics.Sizes.assign(1, 0);
      for (int32_t p = 0; p < Metapop->PatchCount(); ++p) {
        const auto count = static_cast<models::Cardinal>(
            Metapop->GetPatches(p)->N(juveniles ? models::acJuvenile : models::acAdult));
        statistics.Sizes.push_back(count);
        statistics.Sizes[0] += count;
      }
      continue;
    }
    models::Cardinal date = 0;
    if (!models::StatisticsDate(last, juveniles, LongitudinalSampling(), date)) continue;
    const models::tPedigreeAgeClass ageClass = juveniles ? models::pacJuveniles : models::pacAdults;
    if (ckSensF->isChecked())
      statistics.F = pedigree->F_pop(date, ageClass, statistics.Sizes);
    else
      statistics.Sizes = pedigree->PopulationSizes(date, ageClass);
    if (ckSensAlpha->isChecked()) {
      const utile::tMatrixOfDouble alpha = pedigree->Alpha(date, ageClass);
      if (ckSensTheta->isChecked()) statistics.Theta = utile::MatDiagonal(alpha);
      SaveToFile(juveniles ? "_Alpha_Juveniles" : "_Alpha_Adults", utile::MatToStr(alpha, "%.3g"));
    } else if (ckSensTheta->isChecked()) {
      statistics.Theta = pedigree->Theta(date, ageClass);
    }
  }
  if (pedigree && ckSensDispersalEvents->isChecked())
    SaveToFile("_LastDispEvents", utile::MatToStr(models::LastStepDispersalEvents(*pedigree), "%.3g"));
}

void TdlgIBSimple::GenerateGenomes() {
  BatchStep("Genome generation");
  SetGenomeParameters();
  if (PrunePedigreeChecked()) {
    BatchStep("Pedigree pruning");
    GeneticPedigree->PrunePedigree();
  }
  const std::array<tGenomeKind, 4> kinds = GenomeKinds();
  for (int32_t g = 1; g <= seNbGenomes->value(); ++g) {
    BatchStep(utile::Format("Generating genome #%d", g));
    for (size_t kind = 0; kind < kinds.size(); ++kind) {
      if (!kinds[kind].Batch->isChecked()) continue;
      (GeneticPedigree.get()->*kinds[kind].Make)();
      SaveGenomeFiles(models::GenomePrefix(static_cast<int32_t>(kind), g));
    }
  }
}

void TdlgIBSimple::SaveToFile(const std::string& suffix, const std::string& text) {
  utile::SaveTextToFile(models::SimulationFileName(BatchResultFile, static_cast<int64_t>(SimID - 1), suffix),
                        models::SideFileText(text));
}

void TdlgIBSimple::SaveGenomeFiles(const std::string& prefix) {
  const models::Cardinal last = Metapop->Pedigree() ? Metapop->Pedigree()->GenerationCount() : 0;
  for (const bool juveniles : {true, false}) {
    if (!(juveniles ? ckSensJuveniles : ckSensAdults)->isChecked()) continue;
    models::Cardinal date = 0;
    if (!models::StatisticsDate(last, juveniles, LongitudinalSampling(), date)) continue;
    const models::tPedigreeAgeClass ageClass = juveniles ? models::pacJuveniles : models::pacAdults;
    const double p =
        (juveniles ? seSamplingProbabilityJuvenile : seSamplingProbabilityAdult)->value() / 1000.0;
    const std::string name = juveniles ? "_Juveniles" : "_Adults";
    if (ckSensFstat->isChecked()) {
      if (ckSensSeparateSexes->isChecked()) {
        SaveToFile(prefix + "_Fstat" + name + "_Females",
                   GeneticPedigree->FstatOutput(date, ageClass, models::psFemale, p));
        SaveToFile(prefix + "_Fstat" + name + "_Males",
                   GeneticPedigree->FstatOutput(date, ageClass, models::psMale, p));
      }
      SaveToFile(prefix + "_Fstat" + name, GeneticPedigree->FstatOutput(date, ageClass, models::psBoth, p));
    }
    if (ckSensGenPop->isChecked())
      SaveToFile(prefix + "_GenePop" + name, GeneticPedigree->GenepopOutput(date, ageClass, p));
    if (ckSensAlleleFreq->isChecked())
      SaveToFile(prefix + "_AllFreq" + name,
                 GeneticPedigree->AlleleFrequenciesAsString(date, ageClass, p, "%.3g"));
  }
}

bool TdlgIBSimple::LongitudinalSampling() const {
  return SamplingScheme() == models::ssLongitudinal;
}

bool TdlgIBSimple::PrunePedigreeChecked() const {
  return ckPrunePedigree->isChecked();
}

}  // namespace vandrel
