#include "app/dlgIBSimpleU.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDate>
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

#include "Utile/RunTime.h"
#include "Utile/gui/GridOps.h"
#include "Utile/gui/StringOps.h"
#include "app/WindowServices.h"
#include "app/dlgVandrelU.h"
#include "models/IBModelFile.h"
#include "models/MetapopCommon.h"
#include "models/PedigreeOps.h"

namespace vandrel {

using models::tEventCell;
using models::tLifeEventType;

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

QSpinBox* NewSpinEdit(QWidget* parent, const char* name, int minimum, int maximum, int value, int step = 1) {
  auto* spin = new QSpinBox(parent);
  spin->setObjectName(name);
  spin->setRange(minimum, maximum);
  spin->setSingleStep(step);
  spin->setValue(value);
  return spin;
}

tLabeledEdit* NewLabeledEdit(QWidget* parent, const char* name, const char* caption, const char* text) {
  auto* edit = new tLabeledEdit(caption, text, parent);
  edit->setObjectName(name);
  edit->EditLabel->setObjectName(QString(name) + "Label");
  return edit;
}

QCheckBox* NewCheckBox(QWidget* parent, const char* name, const char* caption, bool checked = false) {
  auto* box = new QCheckBox(caption, parent);
  box->setObjectName(name);
  box->setChecked(checked);
  return box;
}

QRadioButton* NewRadioButton(QWidget* parent, const char* name, const char* caption, bool checked = false) {
  auto* button = new QRadioButton(caption, parent);
  button->setObjectName(name);
  button->setChecked(checked);
  return button;
}

QPushButton* NewButton(QWidget* parent, const char* name, const char* caption) {
  auto* button = new QPushButton(caption, parent);
  button->setObjectName(name);
  return button;
}

QGroupBox* NewGroupBox(QWidget* parent, const char* name, const char* caption) {
  auto* box = new QGroupBox(caption, parent);
  box->setObjectName(name);
  return box;
}

QPlainTextEdit* NewMemo(QWidget* parent, const char* name) {
  auto* memo = new QPlainTextEdit(parent);
  memo->setObjectName(name);
  memo->setReadOnly(true);
  return memo;
}

void AddRow(QFormLayout* form, tLabeledEdit* edit) {
  form->addRow(edit->EditLabel, edit);
}

void AddRow(QFormLayout* form, QWidget* parent, const char* caption, QWidget* field) {
  auto* label = new QLabel(caption, parent);
  label->setBuddy(field);
  form->addRow(label, field);
}

void SetShown(tLabeledEdit* edit, bool shown) {
  edit->setVisible(shown);
  edit->EditLabel->setVisible(shown);
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

  auto* runBar = new QHBoxLayout;
  layout->addLayout(runBar);
  btRun = NewButton(this, "btRun", "&Run");
  btRun->setEnabled(false);
  btRunBatch = NewButton(this, "btRunBatch", "Run &batch");
  btRunBatch->setEnabled(false);
  mmLog = NewMemo(this, "mmLog");
  mmLog->setMaximumHeight(60);
  runBar->addWidget(btRun);
  runBar->addWidget(btRunBatch);
  runBar->addWidget(mmLog, 1);
  resize(1150, 720);

  // The Birth cell comes with the window, halfway down the drawing.
  tEventCell* birth =
      fEventCells.CreateEventCell(models::leBirth, 5, (LifeCycleAreaHeight - models::EventCellSize) / 2);
  AddCellControls(birth);
  OnSelectCell(birth);
  ConnectHandlers();
  btApplyClick();
  SetConnectivityFunction([this](int32_t i, int32_t j) { return InverseDistance(i, j); });
  SetTabShown(pcIBSimple, tsGenetics, false);
  pcIBSimple->setCurrentWidget(tsLifeCycle);
  if (static_cast<uint64_t>(models::PatchCount()) > models::tPedigree::MaxPatchCount())
    Dialogs().ShowMessage(
        this, utile::Format("Too many patches. Maximum allowed is %u", models::tPedigree::MaxPatchCount()),
        tMessageKind::mkWarning);
}

TdlgIBSimple::~TdlgIBSimple() {
  FreeCellControls();
}

void TdlgIBSimple::FreeCellControls() {
  // The boxes go before the cells they show, and report nothing on their way out.
  while (!fCellControls.empty()) RemoveCellControls(fCellControls.begin()->first);
}

void TdlgIBSimple::BuildLifeCyclePage() {
  tsLifeCycle = new QWidget;
  tsLifeCycle->setObjectName("tsLifeCycle");
  pcIBSimple->addTab(tsLifeCycle, "Life cycle");
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
  SetShown(edAutofecondation, false);
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
  // One button per drawable event type, in two rows so that all of them show.
  pnEventButtons = new QWidget(drawing);
  pnEventButtons->setObjectName("pnEventButtons");
  auto* buttons = new QGridLayout(pnEventButtons);
  buttons->setContentsMargins(0, 0, 0, 0);
  buttons->setSpacing(2);
  int column = 0;
  for (int type = models::leBirth; type <= models::leTag; ++type) {
    if (!models::IsDrawableEventType(type)) continue;
    auto* action = new QAction(models::LifeEventTypeStr[type], this);
    action->setObjectName(QString("ac") + EventActionNames[type]);
    action->setData(100 + type);  // the action's Tag
    addAction(action);
    auto* button = new QToolButton(pnEventButtons);
    button->setObjectName(QString("bt") + EventActionNames[type]);
    button->setDefaultAction(action);
    button->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    buttons->addWidget(button, column / 6, column % 6);
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
  mmLifeCycle = NewMemo(drawingSplitter, "mmLifeCycle");
  drawingSplitter->setStretchFactor(0, 4);
  drawingSplitter->setStretchFactor(1, 1);

  pnEventParameters = new QWidget(splitter);
  pnEventParameters->setObjectName("pnEventParameters");
  pnEventParameters->setMinimumWidth(220);
  auto* parametersLayout = new QVBoxLayout(pnEventParameters);
  parametersLayout->addStretch(1);
  splitter->setStretchFactor(0, 0);
  splitter->setStretchFactor(1, 1);
  splitter->setStretchFactor(2, 0);
}

void TdlgIBSimple::BuildSpatialPage() {
  tsSpatialDisplay = new QWidget;
  tsSpatialDisplay->setObjectName("tsSpatialDisplay");
  pcIBSimple->addTab(tsSpatialDisplay, "Spatial display");
  auto* layout = new QHBoxLayout(tsSpatialDisplay);
  auto* settings = new QWidget(tsSpatialDisplay);
  settings->setMaximumWidth(420);
  auto* left = new QVBoxLayout(settings);
  left->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(settings, 0);
  auto* form = new QFormLayout;
  left->addLayout(form);
  edDispersalDistance = NewLabeledEdit(tsSpatialDisplay, "edDispersalDistance", "&Mean dist. 1/alpha=", "10");
  AddRow(form, edDispersalDistance);
  tbTestDispersalProb = new QSlider(Qt::Horizontal, tsSpatialDisplay);
  tbTestDispersalProb->setObjectName("tbTestDispersalProb");
  tbTestDispersalProb->setRange(0, 100);
  tbTestDispersalProb->setTickInterval(5);
  tbTestDispersalProb->setTickPosition(QSlider::TicksBelow);
  tbTestDispersalProb->setValue(20);
  form->addRow(tbTestDispersalProb);
  edTestDispersalProb = NewLabeledEdit(tsSpatialDisplay, "edTestDispersalProb", "Dispersal prob.:", "0.2");
  edTestDispersalProb->setReadOnly(true);
  AddRow(form, edTestDispersalProb);
  edExpImmigrationProb =
      NewLabeledEdit(tsSpatialDisplay, "edExpImmigrationProb", "Global immigration prob.:", "");
  AddRow(form, edExpImmigrationProb);

  auto* connectivity = NewGroupBox(tsSpatialDisplay, "grpConnectivity", "Connectivity");
  auto* connectivityLayout = new QVBoxLayout(connectivity);
  rbDistance = NewRadioButton(connectivity, "rbDistance", "Inverse &distance", true);
  rbConnectivity = NewRadioButton(connectivity, "rbConnectivity", "&Exponential inverse");
  rbDispersalProbability = NewRadioButton(connectivity, "rbDispersalProbability", "Dispersal &probability");
  rbTest = NewRadioButton(connectivity, "rbTest", "&Test parameters");
  rbDispersalEvents = NewRadioButton(connectivity, "rbDispersalEvents", "Dispersal &events");
  for (QWidget* w : std::initializer_list<QWidget*>{rbDistance, rbConnectivity, rbDispersalProbability,
                                                    rbTest, rbDispersalEvents})
    connectivityLayout->addWidget(w);
  cbDispersalEvent = new QComboBox(connectivity);
  cbDispersalEvent->setObjectName("cbDispersalEvent");
  connectivityLayout->addWidget(cbDispersalEvent);
  btApplyComputeMatrices = NewButton(connectivity, "btApplyComputeMatrices", "Apply");
  connectivityLayout->addWidget(btApplyComputeMatrices);
  left->addWidget(connectivity);
  left->addStretch(1);

  grpBackwardDispersal =
      NewGroupBox(tsSpatialDisplay, "grpBackwardDispersal", "Expected immigration probabilities");
  auto* backward = new QVBoxLayout(grpBackwardDispersal);
  mmBackwardDispersal = NewMemo(grpBackwardDispersal, "mmBackwardDispersal");
  backward->addWidget(mmBackwardDispersal);
  grpBackwardDispersal->setVisible(false);
  layout->addWidget(grpBackwardDispersal, 1);
  layout->addStretch(0);
}

void TdlgIBSimple::BuildSimulationsPage() {
  tsSimulations = new QWidget;
  tsSimulations->setObjectName("tsSimulations");
  pcIBSimple->addTab(tsSimulations, "Simulations");
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
  ckAdults = NewCheckBox(grpOutput, "ckAdults", "&Adults", true);
  ckF = NewCheckBox(grpOutput, "ckF", "&F");
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
  output->addStretch(1);
  layout->addWidget(grpOutput);
}

void TdlgIBSimple::BuildGeneticsPage() {
  tsGenetics = new QWidget;
  tsGenetics->setObjectName("tsGenetics");
  pcIBSimple->addTab(tsGenetics, "Genetics");
  auto* page = new QHBoxLayout(tsGenetics);
  auto* settings = new QWidget(tsGenetics);
  settings->setMaximumWidth(480);
  page->addWidget(settings);
  page->addStretch(1);
  auto* layout = new QVBoxLayout(settings);
  layout->setContentsMargins(0, 0, 0, 0);
  auto* form = new QFormLayout;
  layout->addLayout(form);
  seNbLoci = NewSpinEdit(tsGenetics, "seNbLoci", 1, 8, 8);
  AddRow(form, tsGenetics, "Number of &loci:", seNbLoci);
  seNbAlleles = NewSpinEdit(tsGenetics, "seNbAlleles", 1, 255, 15);
  AddRow(form, tsGenetics, "Number of &alleles:", seNbAlleles);
  edKAMrate = NewLabeledEdit(tsGenetics, "edKAMrate", "&K-allele mutation (KAM) rate:", "1e-5");
  AddRow(form, edKAMrate);
  edSSMrate = NewLabeledEdit(tsGenetics, "edSSMrate", "&Stepwise Mutation (SMM) rate:", "1e-4");
  AddRow(form, edSSMrate);
  grpSampling = NewGroupBox(tsGenetics, "grpSampling", "Sampling");
  auto* sampling = new QFormLayout(grpSampling);
  seSamplingProbabilityJuvenile = NewSpinEdit(grpSampling, "seSamplingProbabilityJuvenile", 1, 1000, 1000, 5);
  AddRow(sampling, grpSampling, "Juvenile sampling probability [%o]:", seSamplingProbabilityJuvenile);
  seSamplingProbabilityAdult = NewSpinEdit(grpSampling, "seSamplingProbabilityAdult", 1, 1000, 1000, 5);
  AddRow(sampling, grpSampling, "Adult sampling probability [%o]:", seSamplingProbabilityAdult);
  layout->addWidget(grpSampling);
  layout->addStretch(1);
}

void TdlgIBSimple::BuildResultsPage() {
  tsResults = new QWidget;
  tsResults->setObjectName("tsResults");
  pcIBSimple->addTab(tsResults, "Results");
  auto* layout = new QVBoxLayout(tsResults);
  pcResults = new QTabWidget(tsResults);
  pcResults->setObjectName("pcResults");
  layout->addWidget(pcResults);
  tsTags = new QWidget;
  tsTags->setObjectName("tsTags");
  pcResults->addTab(tsTags, "Tags");
  tsTextOutput = new QWidget;
  tsTextOutput->setObjectName("tsTextOutput");
  pcResults->addTab(tsTextOutput, "Text output");
  auto* text = new QVBoxLayout(tsTextOutput);
  mmOutput = NewMemo(tsTextOutput, "mmOutput");
  text->addWidget(mmOutput);
  SetTabShown(pcResults, tsTags, false);
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
  if (!std::ranges::equal(components.Items(), TaggedComponents.Items(), same)) TaggedComponents = components;
}

void TdlgIBSimple::ConnectHandlers() {
  for (int type = models::leBirth; type <= models::leTag; ++type)
    if (QAction* action = acNewEvent[type])
      connect(action, &QAction::triggered, this,
              [this, type] { OnNewEventCell(static_cast<tLifeEventType>(type)); });
  connect(btApply, &QPushButton::clicked, this, [this] { btApplyClick(); });
  connect(cbReproductionMode, &QComboBox::activated, this, [this] {
    Actualisation();
    btApplyClick();
  });
  for (QLineEdit* edit :
       std::initializer_list<QLineEdit*>{edSexRatio, edTerritoryArea, edAutofecondation, edJuvenileWeight,
                                         edDispersalDistance, edExpImmigrationProb, edKAMrate, edSSMrate})
    connect(edit, &QLineEdit::textChanged, this, [this] { OnParameterChange(); });
  for (QLineEdit* edit : std::initializer_list<QLineEdit*>{edSexRatio, edAutofecondation, edJuvenileWeight,
                                                           edDispersalDistance, edExpImmigrationProb})
    utile::gui::InstallKeyFilter(edit, utile::gui::EditReal);
}

// ------------------------------------------------------------------ the model form

void TdlgIBSimple::FormClose() {
  Closing = true;
  tHourGlass hourGlass;
  FreeCellControls();
  fEventCells.Clear();
  Metapop.reset();
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
  double weight;
  return utile::TryStrToFloatAnySeparator(edJuvenileWeight->text().toStdString(), weight) ? weight : 0;
}

void TdlgIBSimple::Initialise() {
  if (!Metapop) return;
  CurrentBatchStep = "Life cycle initialisation";
  mmLog->appendPlainText("Initialising life cycle...");
  btApply->setEnabled(false);
  // The cycle's dispersal matrices are built for the patches of the landscape.
  const models::tReproductionMode mode = ReproductionMode();
  Metapop->Species->SetReproductionMode(mode);
  Metapop->SetReproductionMode(mode);
  Metapop->AddPatches(PatchCount());
  Metapop->Initialise();
  std::string messages;
  models::tLifeCycle cycle;
  if (!BuildCycle(messages, cycle)) {
    btApply->setEnabled(true);
    mmLog->appendPlainText("Life cycle incorrect");
    btRun->setEnabled(false);
    btRunBatch->setEnabled(false);
    return;
  }
  Metapop->Species->MakeCycle(cycle);
  const std::vector<tEventCell*>& order = fEventCells.EventOrder();
  for (size_t i = 0; i < order.size(); ++i)
    order[i]->SetEvent(Metapop->Species->GetLifeCycle(static_cast<models::Integer>(i)));
  btRun->setEnabled(true);
  btRunBatch->setEnabled(true);
}

// ------------------------------------------------------------------ model files

void TdlgIBSimple::OpenModel(const std::string& FileName) {
  if (fSimRunning)
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
  if (!cell || cell->GetEventType() == models::leBirth) return;
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
  btApply->setEnabled(false);
  CheckCycle();
  Actualisation();
}

void TdlgIBSimple::Actualisation() {
  const models::tReproductionMode mode = ReproductionMode();
  SetShown(edSexRatio, mode == models::rmSexuate);
  SetShown(edAutofecondation, mode == models::rmHermaphrodite);
  if (QAction* sexConditional = acNewEvent[models::leSexConditional])
    sexConditional->setEnabled(mode == models::rmSexuate);
  setWindowTitle(QString::fromStdString(utile::ExtractFileName(fFilename)));
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

}  // namespace vandrel
