#include "app/dlgVandrelU.h"

#include <QAction>
#include <QActionGroup>
#include <QChart>
#include <QChartView>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QScatterSeries>
#include <QScopeGuard>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QTabWidget>
#include <QTimer>
#include <QTransform>
#include <QVBoxLayout>
#include <QValueAxis>
#include <algorithm>
#include <cmath>
#include <fstream>
#include <limits>
#include <numbers>
#include <utility>

#include "Utile/Idrisi.h"
#include "Utile/MathOps.h"
#include "Utile/Platform.h"
#include "Utile/RunTime.h"
#include "Utile/VectorOps.h"
#include "Utile/gui/CustomChartSeries.h"
#include "Utile/gui/GraphicOps.h"
#include "Utile/gui/StringOps.h"
#include "app/AboutBoxU.h"
#include "app/DevHistoryU.h"
#include "app/FormControls.h"
#include "app/ModelForm.h"
#include "app/TextBox.h"
#include "app/WindowServices.h"
#include "app/dlgPatchDataU.h"
#include "models/IBModelFile.h"
#include "models/MetapopCommon.h"

namespace vandrel {

bool TestingMode = false;
TdlgVandrel* dlgVandrel = nullptr;

namespace {
const char* const MainCaption = "Vandrel 1.3.6.36";
const char* const ModelFileFilter = "Model files (*.model)|*.model|All files (*.*)|*.*";

struct tWorkbenchCaption {
  const char* Format;
  const char* Version;
};
// By tWorkbenchKind.
constexpr std::array<tWorkbenchCaption, 5> WorkbenchCaptions = {{
    {"Simple Demo Model %d (v.%s)", "1.0.1.0"},
    {"Matrix Model %d (v.%s)", "1.0.1.3"},
    {"The Big Matrix %d (v.%s)", "1.3.0.17"},
    {"Individual-based model %d (v. %s)", "1.7.1.73"},
    {"Graph-based model %d (v. %s)", "1.0.1.2"},
}};
const char* const OpenedIBMCaption = "Simple IBM %d (v. %s)";
// The moving-window analysis of the hidden potentiality menu: windows per side of
// the study area, and cells per side of its value map.
constexpr int32_t MovingWindowsPerSide = 4;
constexpr int32_t MovingWindowMapCells = 100;

void SetShown(QWidget* widget, bool shown) {
  widget->setVisible(shown);
}

void SetShown(tLabeledEdit* edit, bool shown) {
  edit->SetShown(shown);
}
}  // namespace

const char* WorkbenchVersion(tWorkbenchKind kind) {
  return WorkbenchCaptions[static_cast<size_t>(kind)].Version;
}

// ------------------------------------------------------------------ creation

TdlgVandrel::TdlgVandrel(QWidget* parent) : QMainWindow(parent) {
  setObjectName("dlgVandrel");
  if (!dlgVandrel) dlgVandrel = this;
  BuildMenus();
  BuildLandscapePages();
  BuildTaggedComponents();
  ConnectHandlers();
  fCloseTimer = new QTimer(this);
  fCloseTimer->setInterval(50);
  connect(fCloseTimer, &QTimer::timeout, this, &TdlgVandrel::TryPendingClose);
  resize(1000, 700);

  // 1. the palettes of the drawing
  MapPalette = utile::ColorGradient({utile::RGBColor(255, 255, 255), utile::RGBColor(128, 255, 0)}, 255);
  ConnectPalette = utile::ColorGradient({utile::RGBColor(255, 255, 255), utile::RGBColor(0, 0, 0)}, 255);
  // 2. the combo boxes and their first choices
  cbPatchGeometry->addItems(
      {"Random", "Square", "Grid + isolated", "Triangle", "Hexagon", "Circle", "Frozen", "From file"});
  cbPatchGeometry->setCurrentIndex(4);
  cbPatchSizes->addItems({"Random", "Fixed", "Fixed total size", "Two sizes"});
  cbPatchSizes->setCurrentIndex(1);
  cbConnectance->addItems({"Full connectance", "Close patches", "Delaunay", "Random"});
  cbConnectance->setCurrentIndex(0);
  cbPermeability->addItems({"Constant", "Inverse-exponential", "Straight line", "Least cost"});
  cbPermeability->setCurrentIndex(0);
  // 3. the patches page
  pcLandscape->setCurrentWidget(tsPatches);
  seNbPatchChange();
  ModelChanged = true;
  // 4. the bubbles of the landscape chart, their numbers as green marks
  fSpaceSeries = new utile::gui::tBubbleSeries;
  chSpace->AddSeries(fSpaceSeries);
  fSpaceSeries->setPointLabelsColor(QColor(0, 128, 0));
  fSpaceSeries->setPointLabelsVisible(ckShowID->isChecked());
  // 5.
  SelCircle = -1;
  // 6. the first landscape, without initialising any model
  ckComputeMetapop->setChecked(false);
  btMakeLandscapeClick();
  ckComputeMetapop->setChecked(true);
  // 7.
  setWindowTitle(MainCaption);
  // 9. testing mode by the logged-on user
  const std::string user = utile::PlatformUserName();
  TestingMode = user == "tkorvel7" || user == "mbrunda";
  mnTestingMode->setChecked(TestingMode);
  mnNewHanski->setVisible(false);
  for (QMenu* menu : {mnPopulationBased, mnIndividualBased, mnGeometryBased}) {
    bool anyVisible = false;
    for (QAction* item : menu->actions()) anyVisible = anyVisible || item->isVisible();
    menu->menuAction()->setVisible(anyVisible);
  }
  // 10.
  Actualisation();
  // 11. the raster conventions of idrisi.env beside the program
  utile::EnvironnementIdrisi();
}

TdlgVandrel::~TdlgVandrel() {
  // Controls that lose the focus as they are freed say that they were left:
  // nothing of this window may answer them any more.
  for (QObject* child : findChildren<QObject*>()) QObject::disconnect(child, nullptr, this, nullptr);
  // The workbenches are children of this window and go with it; they must not
  // report back to a window that is being torn down.
  for (tModelForm* model : fModels) model->dlgVandrel = nullptr;
  fModels.clear();
  CurrentModel = nullptr;
  if (dlgVandrel == this) dlgVandrel = nullptr;
}

void TdlgVandrel::BuildMenus() {
  QMenuBar* bar = menuBar();
  auto item = [this](QMenu* menu, const char* name, const char* caption, const char* shortcut = nullptr) {
    QAction* action = menu->addAction(caption);
    action->setObjectName(name);
    if (shortcut) action->setShortcut(QKeySequence(shortcut));
    return action;
  };
  auto menu = [](QMenu* parent, QMenuBar* menuBar, const char* name, const char* caption) {
    QMenu* result = parent ? parent->addMenu(caption) : menuBar->addMenu(caption);
    result->setObjectName(name);
    result->menuAction()->setObjectName(QString(name) + "Item");
    return result;
  };

  mnFile = menu(nullptr, bar, "mnFile", "&File");
  mnOpenProject = item(mnFile, "mnOpenProject", "&Open project...");
  mnSaveProject = item(mnFile, "mnSaveProject", "&Save project...");
  mnFile->addSeparator();
  mnExit = item(mnFile, "mnExit", "E&xit", "Ctrl+Q");
  mnOpenProject->setEnabled(false);
  mnSaveProject->setEnabled(false);

  mnLandscape = menu(nullptr, bar, "mnLandscape", "&Landscape");
  Loadpatchfile1 = item(mnLandscape, "Loadpatchfile1", "&Load patch file...");
  Savepatchfile1 = item(mnLandscape, "Savepatchfile1", "&Save patch file...");
  mnConnectivityHistogram = item(mnLandscape, "mnConnectivityHistogram", "Connection &profiles...");
  mnLandscape->addSeparator();
  mnuLoadBackground = item(mnLandscape, "mnuLoadBackground", "Load &background...");
  mnuClearBackground = item(mnLandscape, "mnuClearBackground", "&Clear background");
  mnLoadPermeabilityMap = item(mnLandscape, "mnLoadPermeabilityMap", "Load &permeability map...");

  mnModules = menu(nullptr, bar, "mnModules", "&Modules");
  mnPopulationBased = menu(mnModules, nullptr, "mnPopulationBased", "&Population-based modules");
  mnNewDemographic = item(mnPopulationBased, "mnNewDemographic", "New Demographic module", "Ctrl+D");
  mnNewDemogenetic = item(mnPopulationBased, "mnNewDemogenetic", "New &Demogenetic module", "Ctrl+M");
  mnNewBigMatrix = item(mnPopulationBased, "mnNewBigMatrix", "New &Big Matrix module", "Ctrl+B");
  mnIndividualBased = menu(mnModules, nullptr, "mnIndividualBased", "&Individual-based modules");
  mnNewIBM = item(mnIndividualBased, "mnNewIBM", "New &Individual-Based Module", "Ctrl+I");
  mnNewHanski = item(mnIndividualBased, "mnNewHanski", "New &Hanski module");
  mnGeometryBased = menu(mnModules, nullptr, "mnGeometryBased", "&Geometry-based modules");
  mnNewGraph = item(mnGeometryBased, "mnNewGraph", "New Graph module", "Ctrl+G");
  mnModules->addSeparator();
  mnOpenModel = item(mnModules, "mnOpenModel", "&Open model...", "Ctrl+O");
  mnSaveModel = item(mnModules, "mnSaveModel", "Save model", "Ctrl+S");
  mnSaveModelAs = item(mnModules, "mnSaveModelAs", "&Save model as...");

  mnSpecies = menu(nullptr, bar, "mnSpecies", "&Species");
  mnLoadSpecies = item(mnSpecies, "mnLoadSpecies", "&Load species file...");
  mnSaveSpecies = item(mnSpecies, "mnSaveSpecies", "&Save species file...");
  mnSpecies->setEnabled(false);
  mnSpecies->menuAction()->setEnabled(false);

  mnSimulations = menu(nullptr, bar, "mnSimulations", "&Simulations");
  mnInitialise = item(mnSimulations, "mnInitialise", "&Initialise", "Ctrl+F9");
  mnRun = item(mnSimulations, "mnRun", "&Run", "F9");

  mnPotentiality = menu(nullptr, bar, "mnPotentiality", "Potentiality");
  auto* potentialityGroup = new QActionGroup(this);
  mnOnTheFly = item(mnPotentiality, "mnOnTheFly", "&On the fly");
  mnPrecomputed = item(mnPotentiality, "mnPrecomputed", "&Precomputed");
  mnShakyPosition = item(mnPotentiality, "mnShakyPosition", "&Shaky position");
  mnMovingWindow = item(mnPotentiality, "mnMovingWindow", "&Moving window");
  for (QAction* choice : {mnOnTheFly, mnPrecomputed, mnShakyPosition, mnMovingWindow}) {
    choice->setCheckable(true);
    potentialityGroup->addAction(choice);
  }
  mnOnTheFly->setChecked(true);
  mnPrecomputed->setEnabled(false);
  mnShakyPosition->setVisible(false);
  mnMovingWindow->setVisible(false);

  mnHelp = menu(nullptr, bar, "mnHelp", "&Help");
  mnAbout = item(mnHelp, "mnAbout", "&About");
  mnDevHistory = item(mnHelp, "mnDevHistory", "Development &history");
  mnTest = item(mnHelp, "mnTest", "Test");
  mnTestingMode = item(mnHelp, "mnTestingMode", "Testing mode");
  mnTestingMode->setCheckable(true);
  mnTestingMode->setVisible(false);
  mnCreateraster = item(mnHelp, "mnCreateraster", "Createraster");
}

void TdlgVandrel::BuildLandscapePages() {
  auto* central = new QWidget(this);
  setCentralWidget(central);
  auto* mainLayout = new QHBoxLayout(central);

  pnLandscape = new QWidget(central);
  pnLandscape->setObjectName("pnLandscape");
  auto* panelLayout = new QVBoxLayout(pnLandscape);
  pcLandscape = new QTabWidget(pnLandscape);
  pcLandscape->setObjectName("pcLandscape");
  panelLayout->addWidget(pcLandscape);

  // Patches page: how many patches, where and how large.
  tsPatches = NewTabPage(pcLandscape, "tsPatches", "&Patches");
  auto* patchesLayout = new QVBoxLayout(tsPatches);
  auto* patchesForm = new QFormLayout;
  patchesLayout->addLayout(patchesForm);
  cbPatchGeometry = new QComboBox(tsPatches);
  cbPatchGeometry->setObjectName("cbPatchGeometry");
  patchesForm->addRow(NewLabel(tsPatches, "lblPatchGeometry", "&Topology:", cbPatchGeometry),
                      cbPatchGeometry);
  cbPatchSizes = new QComboBox(tsPatches);
  cbPatchSizes->setObjectName("cbPatchSizes");
  patchesForm->addRow(NewLabel(tsPatches, "lblPatchSizes", "&Sizes:", cbPatchSizes), cbPatchSizes);
  seNbPatch = NewSpinEdit(tsPatches, "seNbPatch", 1, 10000, 3);
  patchesForm->addRow(NewLabel(tsPatches, "lblNbPatch", "Patch number:", seNbPatch), seNbPatch);
  seWidth = NewSpinEdit(tsPatches, "seWidth", 10, 100000000, 100);
  patchesForm->addRow(NewLabel(tsPatches, "lblWidth", "&Width:", seWidth), seWidth);
  seHeight = NewSpinEdit(tsPatches, "seHeight", 10, 100000000, 100);
  patchesForm->addRow(NewLabel(tsPatches, "lblHeight", "&Height:", seHeight), seHeight);

  grpArea = NewGroupBox(tsPatches, "grpArea", "Patch areas");
  auto* areaForm = new QFormLayout(grpArea);
  seMinArea = NewSpinEdit(grpArea, "seMinArea", 1, 1000, 1);
  lblMinArea = NewLabel(grpArea, "lblMinArea", "Minimum area:", seMinArea);
  areaForm->addRow(lblMinArea, seMinArea);
  seMaxArea = NewSpinEdit(grpArea, "seMaxArea", 1, 1000, 40);
  lblMaxArea = NewLabel(grpArea, "lblMaxArea", "Maximum area:", seMaxArea);
  areaForm->addRow(lblMaxArea, seMaxArea);
  sePropLargePatches = NewSpinEdit(grpArea, "sePropLargePatches", 0, 100, 50);
  lblPropLargePatches =
      NewLabel(grpArea, "lblPropLargePatches", "&Prop. of large patches [%]:", sePropLargePatches);
  areaForm->addRow(lblPropLargePatches, sePropLargePatches);
  patchesLayout->addWidget(grpArea);

  grpIsolated = NewGroupBox(tsPatches, "grpIsolated", "Isolated patch");
  auto* isolatedForm = new QFormLayout(grpIsolated);
  seIsolatedPatchArea = NewSpinEdit(grpIsolated, "seIsolatedPatchArea", 1, 1000, 5);
  isolatedForm->addRow(NewLabel(grpIsolated, "lblIsolatedPatchArea", "Area:", seIsolatedPatchArea),
                       seIsolatedPatchArea);
  seIsolatedPatchDistance = NewSpinEdit(grpIsolated, "seIsolatedPatchDistance", 1, 1000, 5);
  isolatedForm->addRow(
      NewLabel(grpIsolated, "lblIsolatedPatchDistance", "Distance:", seIsolatedPatchDistance),
      seIsolatedPatchDistance);
  patchesLayout->addWidget(grpIsolated);

  grpLandscapeFile = NewGroupBox(tsPatches, "grpLandscapeFile", "Landscape file");
  auto* fileLayout = new QHBoxLayout(grpLandscapeFile);
  edLandscapeFile = NewLabeledEdit(grpLandscapeFile, "edLandscapeFile", "&File:", "");
  edLandscapeFile->setReadOnly(true);
  btLandscapeFile = NewButton(grpLandscapeFile, "btLandscapeFile", "...");
  fileLayout->addWidget(edLandscapeFile->EditLabel);
  fileLayout->addWidget(edLandscapeFile, 1);
  fileLayout->addWidget(btLandscapeFile);
  patchesLayout->addWidget(grpLandscapeFile);
  patchesLayout->addStretch(1);

  // Links page: which patches are linked and how permeable the ground is.
  tsLinks = NewTabPage(pcLandscape, "tsLinks", "&Links");
  auto* linksLayout = new QVBoxLayout(tsLinks);
  auto* linksForm = new QFormLayout;
  linksLayout->addLayout(linksForm);
  cbConnectance = new QComboBox(tsLinks);
  cbConnectance->setObjectName("cbConnectance");
  linksForm->addRow(NewLabel(tsLinks, "lblConnectanceMode", "&Connectance:", cbConnectance), cbConnectance);
  grpConnectance = NewGroupBox(tsLinks, "grpConnectance", "Links");
  auto* connectanceForm = new QFormLayout(grpConnectance);
  edDistanceThreshold = NewLabeledEdit(grpConnectance, "edDistanceThreshold", "&Distance threshold:", "1.5");
  connectanceForm->addRow(edDistanceThreshold->EditLabel, edDistanceThreshold);
  seConnectance = NewSpinEdit(grpConnectance, "seConnectance", 0, 100, 50);
  lblConnectance = NewLabel(grpConnectance, "lblConnectance", "&Connectance [%]:", seConnectance);
  connectanceForm->addRow(lblConnectance, seConnectance);
  linksLayout->addWidget(grpConnectance);
  auto* permeabilityForm = new QFormLayout;
  linksLayout->addLayout(permeabilityForm);
  cbPermeability = new QComboBox(tsLinks);
  cbPermeability->setObjectName("cbPermeability");
  permeabilityForm->addRow(NewLabel(tsLinks, "lblPermeability", "&Permeability:", cbPermeability),
                           cbPermeability);
  edSurvivalDistance = NewLabeledEdit(tsLinks, "edSurvivalDistance", "Mean &distance:", "100");
  permeabilityForm->addRow(edSurvivalDistance->EditLabel, edSurvivalDistance);
  edFixedSurvival = NewLabeledEdit(tsLinks, "edFixedSurvival", "Permeability &value:", "1");
  permeabilityForm->addRow(edFixedSurvival->EditLabel, edFixedSurvival);
  edPermeabilityMap = NewLabeledEdit(tsLinks, "edPermeabilityMap", "&Map:", "");
  edPermeabilityMap->setReadOnly(true);
  btPermeabiliyMap = NewButton(tsLinks, "btPermeabiliyMap", "...");
  auto* mapRow = new QHBoxLayout;
  mapRow->addWidget(edPermeabilityMap, 1);
  mapRow->addWidget(btPermeabiliyMap);
  permeabilityForm->addRow(edPermeabilityMap->EditLabel, mapRow);
  linksLayout->addStretch(1);

  // Selection page: the patch chosen on the chart.
  tsSelection = NewTabPage(pcLandscape, "tsSelection", "S&election");
  auto* selectionLayout = new QVBoxLayout(tsSelection);
  grpSelectedPatch = NewGroupBox(tsSelection, "grpSelectedPatch", "Selected patch");
  auto* selectedForm = new QFormLayout(grpSelectedPatch);
  seID = NewSpinEdit(grpSelectedPatch, "seID", 0, 0, 0);
  selectedForm->addRow(NewLabel(grpSelectedPatch, "lblID", "&ID:", seID), seID);
  seX = NewSpinEdit(grpSelectedPatch, "seX", -100000000, 100000000, 0);
  selectedForm->addRow(NewLabel(grpSelectedPatch, "lblX", "&X:", seX), seX);
  seY = NewSpinEdit(grpSelectedPatch, "seY", -100000000, 100000000, 0);
  selectedForm->addRow(NewLabel(grpSelectedPatch, "lblY", "&Y:", seY), seY);
  seArea = NewSpinEdit(grpSelectedPatch, "seArea", 0, 100000000, 0);
  selectedForm->addRow(NewLabel(grpSelectedPatch, "lblArea", "&Area:", seArea), seArea);
  btRemovePatch = NewButton(grpSelectedPatch, "btRemovePatch", "&Remove patch");
  selectedForm->addRow(btRemovePatch);
  grpSelectedPatch->setEnabled(false);
  selectionLayout->addWidget(grpSelectedPatch);
  seNewPatchArea = NewSpinEdit(tsSelection, "seNewPatchArea", 1, 1000, 10);
  seNewPatchArea->setVisible(false);
  selectionLayout->addWidget(seNewPatchArea);
  selectionLayout->addStretch(1);

  // Below the pages: the commands and the automatic computation.
  auto* buttons = new QHBoxLayout;
  btMakeLandscape = NewButton(pnLandscape, "btMakeLandscape", "&Make \nlandscape");
  btPatchData = NewButton(pnLandscape, "btPatchData", "Data");
  btPatchData->setToolTip("Patch database");
  buttons->addWidget(btMakeLandscape);
  buttons->addWidget(btPatchData);
  panelLayout->addLayout(buttons);
  edTotalArea = NewLabeledEdit(pnLandscape, "edTotalArea", "Total area:", "");
  edTotalArea->setReadOnly(true);
  auto* totalRow = new QHBoxLayout;
  totalRow->addWidget(edTotalArea->EditLabel);
  totalRow->addWidget(edTotalArea, 1);
  panelLayout->addLayout(totalRow);
  ckComputeMetapop = NewCheckBox(pnLandscape, "ckComputeMetapop", "&Compute automatically", true);
  panelLayout->addWidget(ckComputeMetapop);
  ckPotential = NewCheckBox(pnLandscape, "ckPotential", "Show p&otential", false);
  ckPotential->setVisible(false);
  panelLayout->addWidget(ckPotential);
  lblLambda = new QLabel(pnLandscape);
  lblLambda->setObjectName("lblLambda");
  lblLambda->setVisible(false);
  panelLayout->addWidget(lblLambda);
  grpMetapopulation = NewGroupBox(pnLandscape, "grpMetapopulation", "Metapopulation");
  auto* metapopulationLayout = new QVBoxLayout(grpMetapopulation);
  btComputeMetCapManually = NewButton(grpMetapopulation, "btComputeMetCapManually", "Compute &capacity");
  ckPatchContribution = NewCheckBox(grpMetapopulation, "ckPatchContribution", "Patch &contribution", false);
  metapopulationLayout->addWidget(btComputeMetCapManually);
  metapopulationLayout->addWidget(ckPatchContribution);
  panelLayout->addWidget(grpMetapopulation);
  mainLayout->addWidget(pnLandscape);

  // The landscape chart and its display options.
  auto* chartColumn = new QVBoxLayout;
  chSpace = new utile::gui::tGraphicChart(central, "", "", "");
  chSpace->setObjectName("chSpace");
  chSpace->setRenderHint(QPainter::Antialiasing);
  chSpace->chart()->legend()->hide();
  chSpace->SetScaled(true);
  chSpace->setFocusPolicy(Qt::StrongFocus);
  chSpace->viewport()->installEventFilter(this);
  chSpace->installEventFilter(this);
  // Under the grid and the axes: the background picture, the value map, the links.
  fSpaceLayer =
      new utile::gui::tChartLayer(*chSpace, utile::gui::tChartLayer::BackgroundZ, true,
                                  [this](QPainter& painter, const utile::gui::tGraphicChart& chart) {
                                    PaintSpaceLayers(painter, chart);
                                  });
  chartColumn->addWidget(chSpace, 1);
  auto* displayRow = new QHBoxLayout;
  ckShowID = NewCheckBox(central, "ckShowID", "Show &IDs", true);
  ckShowArea = NewCheckBox(central, "ckShowArea", "Show &areas", true);
  ckShowConnectivity = NewCheckBox(central, "ckShowConnectivity", "Show li&nks", true);
  displayRow->addWidget(ckShowID);
  displayRow->addWidget(ckShowArea);
  displayRow->addWidget(ckShowConnectivity);
  displayRow->addStretch(1);
  chartColumn->addLayout(displayRow);
  mainLayout->addLayout(chartColumn, 1);
}

void TdlgVandrel::BuildTaggedComponents() {
  // The order in which a landscape line hands out its values. The list of
  // landscape parameters that the sensitivity pages build (Tag 1) comes first, so
  // that a generated line fills exactly these; the file names (Tag 2) take values
  // only from lines written with more.
  for (QWidget* component : std::initializer_list<QWidget*>{
           seWidth, seHeight, seNbPatch, seIsolatedPatchArea, seIsolatedPatchDistance, seMinArea, seMaxArea,
           sePropLargePatches, edDistanceThreshold, seConnectance, edSurvivalDistance, edFixedSurvival})
    TaggedComponents.Add(component, 1);
  TaggedComponents.Add(edLandscapeFile, 2);
  TaggedComponents.Add(edPermeabilityMap, 2);
}

void TdlgVandrel::ConnectHandlers() {
  connect(mnExit, &QAction::triggered, this, &QWidget::close);
  auto newModel = [this](QAction* action, tWorkbenchKind kind) {
    connect(action, &QAction::triggered, this, [this, kind] { Guarded([this, kind] { NewModel(kind); }); });
  };
  newModel(mnNewDemographic, tWorkbenchKind::wkSimpleDemo);
  newModel(mnNewDemogenetic, tWorkbenchKind::wkMatrix);
  newModel(mnNewBigMatrix, tWorkbenchKind::wkBigMatrix);
  newModel(mnNewIBM, tWorkbenchKind::wkIBSimple);
  newModel(mnNewGraph, tWorkbenchKind::wkGraph);

  connect(mnOpenModel, &QAction::triggered, this, [this] {
    Guarded([this] {
      if (const auto name = ExecuteModelOpenDialog()) OpenModelFile(*name);
    });
  });
  connect(mnSaveModel, &QAction::triggered, this, [this] {
    Guarded([this] {
      if (CurrentModel) CurrentModel->SaveModel();
    });
  });
  connect(mnSaveModelAs, &QAction::triggered, this, [this] {
    Guarded([this] {
      if (CurrentModel) CurrentModel->SaveModelAs();
    });
  });
  connect(mnInitialise, &QAction::triggered, this, [this] {
    Guarded([this] {
      if (!CurrentModel || CurrentModel->IsRunning()) return;
      tHourGlass hourGlass;
      CurrentModel->Initialise();
    });
  });
  connect(mnRun, &QAction::triggered, this, [this] {
    Guarded([this] {
      if (!CurrentModel || CurrentModel->IsRunning()) return;
      // When Run returns the run is over, also when an error passed and the
      // workbench did not clear its flag: a flag left set would lock the
      // landscape and keep the windows from closing for good.
      QPointer<tModelForm> model = CurrentModel;
      auto endRun = [&model] {
        if (model && model->IsRunning()) model->fSimRunning = false;
      };
      try {
        model->Run();
      } catch (...) {
        endRun();
        throw;
      }
      endRun();
    });
  });

  for (QAction* choice : {mnOnTheFly, mnPrecomputed})
    connect(choice, &QAction::triggered, this, [this, choice] {
      choice->setChecked(true);
      Guarded([this] { RepaintSpace(); });
    });

  connect(mnShakyPosition, &QAction::triggered, this, [this] {
    models::ResultMap.clear();
    mnShakyPosition->setChecked(true);
    DrawSpace();
  });
  connect(mnMovingWindow, &QAction::triggered, this, [this] {
    Guarded([this] {
      models::ResultMap.clear();
      if (!CurrentModel) return;
      tHourGlass hourGlass;
      models::ComputeMovingWindow(CurrentModel->GetAlpha(), CurrentModel->GetTerritory(), 0,
                                  MovingWindowsPerSide, MovingWindowMapCells, &models::LandscapeCapacity,
                                  &models::PatchValues, &models::ResultMap);
      mnMovingWindow->setChecked(true);
      RepaintSpace();
    });
  });
  connect(btComputeMetCapManually, &QPushButton::clicked, this, [this] {
    Guarded([this] {
      if (!CurrentModel) return;
      tHourGlass hourGlass;
      CurrentModel->Initialise();
      if (CurrentModel->HasGetParam()) {
        const models::tParam param = CurrentModel->GetParam();
        models::ComputeMetapopulationCapacity(&param, models::Patches);
      }
      if (CurrentModel->ModelHasChanged) {
        DrawSpace();
        CurrentModel->ModelHasChanged = false;
      }
    });
  });
  connect(ckPatchContribution, &QCheckBox::toggled, this, [this] { Guarded([this] { DrawSpace(); }); });

  connect(mnAbout, &QAction::triggered, this, [this] {
    TAboutBox* box = AboutBox ? AboutBox : new TAboutBox(this);
    box->exec();
    if (box != AboutBox) delete box;
  });
  connect(mnDevHistory, &QAction::triggered, this, [this] {
    TDevHistory* window = DevHistory ? DevHistory : new TDevHistory(this);
    window->exec();
    if (window != DevHistory) delete window;
  });
  connect(mnTest, &QAction::triggered, this, [this] { Guarded([this] { TestClick(); }); });
  connect(mnTestingMode, &QAction::triggered, this, [this] { ToggleTestingMode(); });

  // A changed choice shows the controls it needs and makes a new landscape.
  for (QComboBox* combo : {cbPatchGeometry, cbPatchSizes, cbConnectance})
    connect(combo, &QComboBox::activated, this, [this] {
      Guarded([this] {
        Actualisation();
        btMakeLandscapeClick();
      });
    });
  connect(cbPermeability, &QComboBox::activated, this,
          [this] { Guarded([this] { cbPermeabilityChange(); }); });
  // The area settings make a new landscape too, except while a batch line fills
  // them: its rebuild makes the one landscape of the line.
  for (QSpinBox* area : {seMinArea, seMaxArea, sePropLargePatches})
    connect(area, &QSpinBox::valueChanged, this, [this] {
      if (fFillingLandscapeLine > 0) return;
      Guarded([this] {
        Actualisation();
        btMakeLandscapeClick();
      });
    });
  for (QSpinBox* count : {seNbPatch, seIsolatedPatchArea, seIsolatedPatchDistance})
    connect(count, &QSpinBox::valueChanged, this, [this] { seNbPatchChange(); });
  connect(seWidth, &QSpinBox::valueChanged, this, [this] { Guarded([this] { RedrawForControl(); }); });
  for (QSpinBox* extent : {seWidth, seHeight}) {
    connect(extent, &QSpinBox::editingFinished, this, [this] { Guarded([this] { RedrawForControl(); }); });
    extent->installEventFilter(this);
    if (auto* text = extent->findChild<QLineEdit*>()) text->installEventFilter(this);
  }
  connect(seNewPatchArea, &QSpinBox::valueChanged, this, [this] { Guarded([this] { RedrawForControl(); }); });
  connect(edDistanceThreshold, &QLineEdit::textChanged, this,
          [this] { Guarded([this] { ComputeConnectanceMatrix(); }); });
  connect(seConnectance, &QSpinBox::valueChanged, this,
          [this] { Guarded([this] { ComputeConnectanceMatrix(); }); });
  for (tLabeledEdit* permeability : {edSurvivalDistance, edFixedSurvival}) {
    connect(permeability, &QLineEdit::editingFinished, this,
            [this] { Guarded([this] { PermeabilityEditUsed(); }); });
    permeability->installEventFilter(this);
  }
  for (tLabeledEdit* real : {edDistanceThreshold, edSurvivalDistance, edFixedSurvival})
    utile::gui::InstallKeyFilter(real, utile::gui::EditReal);
  connect(btPermeabiliyMap, &QPushButton::clicked, this,
          [this] { Guarded([this] { btPermeabiliyMapClick(); }); });

  // The selected patch.
  connect(seID, &QSpinBox::valueChanged, this, [this](int value) {
    if (DrawingSpace) return;
    Guarded([this, value] {
      SelCircle = value > 0 && value <= static_cast<int>(models::Patches.size()) ? value - 1 : -1;
      DrawSpace();
    });
  });
  connect(seX, &QSpinBox::valueChanged, this,
          [this] { Guarded([this] { SelectedPatchEdited(&models::tCircle::x, seX); }); });
  connect(seY, &QSpinBox::valueChanged, this,
          [this] { Guarded([this] { SelectedPatchEdited(&models::tCircle::y, seY); }); });
  connect(seArea, &QSpinBox::valueChanged, this,
          [this] { Guarded([this] { SelectedPatchEdited(&models::tCircle::A, seArea); }); });
  connect(btRemovePatch, &QPushButton::clicked, this, [this] { Guarded([this] { btRemovePatchClick(); }); });

  // What the chart shows.
  for (QCheckBox* display : {ckShowID, ckShowArea, ckShowConnectivity})
    connect(display, &QCheckBox::toggled, this, [this] { Guarded([this] { DrawSpace(); }); });
  connect(ckComputeMetapop, &QCheckBox::toggled, this, [this](bool checked) {
    ckPotential->setVisible(checked);
    seNewPatchArea->setVisible(false);
    btComputeMetCapManually->setEnabled(!checked);
    if (checked) Guarded([this] { ChangePatches(); });
  });
  connect(ckPotential, &QCheckBox::toggled, this, [this](bool checked) {
    lblLambda->setVisible(checked);
    Guarded([this] { RepaintSpace(); });
  });

  connect(btMakeLandscape, &QPushButton::clicked, this,
          [this] { Guarded([this] { btMakeLandscapeClick(); }); });
  connect(btPatchData, &QPushButton::clicked, this, [] {
    if (dlgPatchData) dlgPatchData->show();
  });
  ConnectLandscapeFileHandlers();
}

void TdlgVandrel::Guarded(const std::function<void()>& command) {
  vandrel::Guarded(this, command);
}

// --------------------------------------------------------------- Actualisation

void TdlgVandrel::Actualisation() {
  const int geometry = cbPatchGeometry->currentIndex();
  const int sizes = cbPatchSizes->currentIndex();
  const int connectance = cbConnectance->currentIndex();
  const int permeability = cbPermeability->currentIndex();

  SetShown(grpArea, geometry != 2);
  SetShown(grpIsolated, geometry == 2);
  SetShown(grpLandscapeFile, geometry == 7);
  SetShown(seMinArea, sizes == 0 || sizes == 3);
  SetShown(lblMinArea, sizes == 0 || sizes == 3);
  lblMaxArea->setText(sizes == 2 ? "Total area:" : "Maximum area:");
  SetShown(sePropLargePatches, sizes == 3);
  SetShown(lblPropLargePatches, sizes == 3);
  SetShown(grpConnectance, connectance != 0);
  SetShown(edDistanceThreshold, connectance == 1);
  SetShown(seConnectance, connectance == 3);
  SetShown(lblConnectance, connectance == 3);
  SetShown(edSurvivalDistance, permeability == 1);
  SetShown(edFixedSurvival, permeability == 0);
  SetShown(edPermeabilityMap, permeability == 2 || permeability == 3);
  SetShown(btPermeabiliyMap, permeability == 2 || permeability == 3);
  mnNewHanski->setEnabled(TestingMode);
  mnShakyPosition->setEnabled(CurrentModel != nullptr);
  mnMovingWindow->setEnabled(CurrentModel != nullptr);
  mnConnectivityHistogram->setEnabled(!models::Map.empty());
  mnPotentiality->menuAction()->setVisible(false);
  SetShown(grpMetapopulation, false);

  // Nothing may rebuild the landscape or a running model while a workbench runs.
  const bool running = AnyModelRunning();
  const bool currentRunning = CurrentModel && CurrentModel->IsRunning();
  pnLandscape->setEnabled(!running);
  if (dlgPatchData) dlgPatchData->setEnabled(!running);
  mnLandscape->menuAction()->setEnabled(!running);
  for (QAction* create :
       {mnNewDemographic, mnNewDemogenetic, mnNewBigMatrix, mnNewIBM, mnNewGraph, mnOpenModel})
    create->setEnabled(!running);
  mnInitialise->setEnabled(!currentRunning);
  mnRun->setEnabled(!currentRunning);
}

bool TdlgVandrel::AnyModelRunning() const {
  for (const tModelForm* model : fModels)
    if (model->IsRunning()) return true;
  return false;
}

// ------------------------------------------------------------ the workbenches

void TdlgVandrel::SetWorkbenchFactory(tWorkbenchKind kind, tWorkbenchFactory factory) {
  fFactories[static_cast<size_t>(kind)] = std::move(factory);
}

void TdlgVandrel::AddNewModel(tModelForm* model) {
  CurrentModel = model;
  fModels.push_back(model);
  model->show();
  Actualisation();
  DrawSpace();  // its links
}

void TdlgVandrel::RemoveModel(tModelForm* model) {
  const bool current = CurrentModel == model;
  if (current) CurrentModel = nullptr;
  std::erase(fModels, model);
  Actualisation();
  if (current) DrawSpace();  // its links go with it
}

tModelForm* TdlgVandrel::NewModel(tWorkbenchKind kind) {
  if (AnyModelRunning())
    throw utile::EInvalidOperation("No module can be created while a module is running.");
  const tWorkbenchFactory& factory = fFactories[static_cast<size_t>(kind)];
  if (!factory) {
    Dialogs().ShowMessage(this, "This module is not part of this version of Vandrel.",
                          tMessageKind::mkWarning);
    return nullptr;
  }
  if (dlgPatchData) dlgPatchData->UpdateAndApply();
  tModelForm* model = factory(this);
  if (!model) return nullptr;
  AddNewModel(model);
  const tWorkbenchCaption& caption = WorkbenchCaptions[static_cast<size_t>(kind)];
  model->setWindowTitle(QString::fromStdString(
      utile::Format(caption.Format, static_cast<int32_t>(fModels.size()), caption.Version)));
  return model;
}

std::optional<std::string> TdlgVandrel::ExecuteModelOpenDialog() {
  return Dialogs().OpenFileName(this, "Open a model file", ModelFileFilter, "model");
}

std::optional<std::string> TdlgVandrel::ExecuteModelSaveDialog() {
  return Dialogs().SaveFileName(this, "Save model", ModelFileFilter, "model", true);
}

void TdlgVandrel::OpenModelFile(const std::string& fileName) {
  std::ifstream file(fileName, std::ios::binary);
  if (!file) throw utile::EInOutError(utile::Format("Cannot open file \"%s\".", fileName));
  std::string firstLine;
  std::getline(file, firstLine);
  if (!firstLine.empty() && firstLine.back() == '\r') firstLine.pop_back();
  file.close();

  if (firstLine.find("IBsimple") == std::string::npos) {
    // Only the individual-based module writes model files: a file that does not
    // say it is one is read by nobody.
    Dialogs().ShowMessage(
        this, utile::Format("\"%s\" is not a model file that a module of Vandrel can read.", fileName),
        tMessageKind::mkWarning);
    return;
  }
  // A file that cannot be read is refused before a workbench is made for it:
  // making one fills the patch table and re-initialises the current workbench.
  models::LoadModelFile(fileName);
  tModelForm* const previous = CurrentModel;
  tModelForm* model = NewModel(tWorkbenchKind::wkIBSimple);
  if (!model) return;
  model->setWindowTitle(QString::fromStdString(utile::Format(
      OpenedIBMCaption, static_cast<int32_t>(fModels.size()), WorkbenchVersion(tWorkbenchKind::wkIBSimple))));
  if (!CurrentModel) return;
  try {
    CurrentModel->OpenModel(fileName);
  } catch (...) {
    // The workbench made for the file goes with it; the one before is current again.
    model->close();
    if (previous && std::ranges::find(fModels, previous) != fModels.end() && CurrentModel != previous) {
      CurrentModel = previous;
      Actualisation();
      DrawSpace();
    }
    throw;
  }
}

int32_t TdlgVandrel::GetPatchCount() const {
  bool ok = false;
  const int value = seNbPatch->cleanText().trimmed().toInt(&ok);
  return ok ? value : 1;
}

// ------------------------------------------------------------- testing mode

void TdlgVandrel::SetTestingMode(bool on) {
  TestingMode = on;
  mnTestingMode->setChecked(on);
  Actualisation();
}

void TdlgVandrel::ToggleTestingMode() {
  SetTestingMode(!TestingMode);
}

// ------------------------------------------------------------------ closing

void TdlgVandrel::closeEvent(QCloseEvent* event) {
  // Closing frees every workbench: wait until no computation is on the stack.
  if (AnyModelRunning() || MessagePumpDepth() > 0) {
    for (tModelForm* model : fModels) model->Stop();
    fClosePending = true;
    fCloseTimer->start();
    event->ignore();
    return;
  }
  fCloseTimer->stop();
  fClosePending = false;
  models::Patches.clear();
  CurrentModel = nullptr;
  while (!fModels.empty()) {
    tModelForm* model = fModels.back();
    model->close();
    if (!fModels.empty() && fModels.back() == model) fModels.pop_back();  // a workbench that refused
  }
  event->accept();
  emit Closed();
}

void TdlgVandrel::TryPendingClose() {
  if (AnyModelRunning() || MessagePumpDepth() > 0) return;
  fCloseTimer->stop();
  close();
}

// ------------------------------------------------------------- the landscape

namespace {
// How many patches times value-map cells one redraw may evaluate.
constexpr double ValueMapBudget = 4e6;
// Above this many links the lines are drawn without antialiasing.
constexpr qsizetype SmoothLinkLimit = 20000;
constexpr double MissingConnectivity = -999999;

// A point of the chart view's viewport in the chart's own coordinates, to the
// fraction of a pixel.
QPointF ChartPixel(const utile::gui::tGraphicChart& view, const QPointF& position) {
  return view.chart()->mapFromScene(view.viewportTransform().inverted().map(position));
}

// From chart units to the chart's own coordinates.
QTransform ValueTransform(const utile::gui::tGraphicChart& chart) {
  const QPointF origin = chart.ValueToPixel(QPointF(0, 0));
  const QPointF unit = chart.ValueToPixel(QPointF(1, 1));
  return QTransform(unit.x() - origin.x(), 0, 0, unit.y() - origin.y(), origin.x(), origin.y());
}

// The palette entry of a link's strength in 0..1, as ShadeIndex gives it: in
// double precision but where a half might round otherwise.
utile::Integer LinkEntry(double strength, size_t count) {
  const double last = static_cast<double>(count - 1);
  const double k = last * strength;
  if (!(k < last)) return static_cast<utile::Integer>(count - 1);
  const double whole = std::floor(k);
  if (std::abs(k - whole - 0.5) < 1e-6) return utile::ShadeIndex(strength, count, 0, 1.0);
  return static_cast<utile::Integer>(k - whole < 0.5 ? whole : whole + 1);
}

// A segment clipped to [0, w - 1] x [0, h - 1], drawn one pixel wide into the cells.
void DrawLine(std::vector<uint8_t>& cells, int w, int h, QPointF a, QPointF b, uint8_t value) {
  double t0 = 0, t1 = 1;
  const double dx = b.x() - a.x(), dy = b.y() - a.y();
  auto clip = [&](double p, double q) {
    if (p == 0) return q >= 0;
    const double r = q / p;
    if (p < 0) {
      if (r > t1) return false;
      t0 = std::max(t0, r);
    } else {
      if (r < t0) return false;
      t1 = std::min(t1, r);
    }
    return true;
  };
  if (!clip(-dx, a.x()) || !clip(dx, w - 1 - a.x()) || !clip(-dy, a.y()) || !clip(dy, h - 1 - a.y())) return;
  const double x0 = a.x() + t0 * dx, y0 = a.y() + t0 * dy;
  const double x1 = a.x() + t1 * dx, y1 = a.y() + t1 * dy;
  const int steps = static_cast<int>(std::ceil(std::max(std::abs(x1 - x0), std::abs(y1 - y0))));
  // In 16.16 fixed point, rounded to the nearest pixel.
  constexpr double One = 65536;
  int64_t x = std::llround((x0 + 0.5) * One), y = std::llround((y0 + 0.5) * One);
  const int64_t sx = steps > 0 ? std::llround((x1 - x0) / steps * One) : 0;
  const int64_t sy = steps > 0 ? std::llround((y1 - y0) / steps * One) : 0;
  const auto width = static_cast<uint64_t>(w), height = static_cast<uint64_t>(h);
  for (int k = 0; k <= steps; ++k, x += sx, y += sy) {
    const auto ix = static_cast<uint64_t>(x >> 16), iy = static_cast<uint64_t>(y >> 16);
    if (ix < width && iy < height) cells[iy * width + ix] = value;
  }
}

// The links as one picture, drawn from the weakest to the strongest: where
// links cross, the strongest shows.
template <class tLinks>
QImage LinkPicture(const QSize& size, const std::vector<QPointF>& centres, const tLinks& links,
                   const utile::tPalette& palette) {
  const int w = size.width(), h = size.height();
  if (w <= 0 || h <= 0) return {};
  std::vector<uint8_t> cells(static_cast<size_t>(w) * static_cast<size_t>(h), 0);
  for (size_t entry = 0; entry < links.size() && entry < 255; ++entry)
    for (const auto& ends : links[entry])
      DrawLine(cells, w, h, centres[static_cast<size_t>(ends.From)], centres[static_cast<size_t>(ends.To)],
               static_cast<uint8_t>(entry + 1));
  QImage picture(w, h, QImage::Format_ARGB32_Premultiplied);
  picture.fill(Qt::transparent);
  for (int r = 0; r < h; ++r) {
    auto* line = reinterpret_cast<QRgb*>(picture.scanLine(r));
    const uint8_t* row = cells.data() + static_cast<size_t>(r) * w;
    for (int c = 0; c < w; ++c)
      if (row[c]) {
        const utile::TColor color = palette[row[c] - 1u];
        line[c] = qRgb(utile::GetRValue(color), utile::GetGValue(color), utile::GetBValue(color));
      }
  }
  return picture;
}

// A matrix of values as a picture through a palette: cells that are missing or
// not finite stay transparent. The picture's column c and line r show
// value(c, r).
template <class tValue>
QImage ValuePicture(int columns, int rows, const tValue& value, const utile::tPalette& palette) {
  std::vector<double> cells(static_cast<size_t>(columns) * rows);
  double low = std::numeric_limits<double>::infinity(), high = -low;
  for (int r = 0; r < rows; ++r)
    for (int c = 0; c < columns; ++c) {
      const double v = value(c, r);
      cells[static_cast<size_t>(r) * columns + c] = v;
      if (std::isfinite(v) && v != MissingConnectivity) {
        low = std::min(low, v);
        high = std::max(high, v);
      }
    }
  if (low > high) return {};
  QImage picture(columns, rows, QImage::Format_ARGB32);
  picture.fill(Qt::transparent);
  for (int r = 0; r < rows; ++r)
    for (int c = 0; c < columns; ++c) {
      const double v = cells[static_cast<size_t>(r) * columns + c];
      if (!std::isfinite(v) || v == MissingConnectivity) continue;
      const utile::TColor color = palette[utile::ShadeIndex(v, palette.size(), low, high)];
      picture.setPixel(c, r, qRgb(utile::GetRValue(color), utile::GetGValue(color), utile::GetBValue(color)));
    }
  return picture;
}
}  // namespace

models::tLandscapeSettings TdlgVandrel::LandscapeSettings() const {
  models::tLandscapeSettings settings;
  settings.Geometry = cbPatchGeometry->currentIndex();
  settings.Sizes = cbPatchSizes->currentIndex();
  settings.PatchCount = GetPatchCount();
  settings.Width = seWidth->value();
  settings.Height = seHeight->value();
  settings.MinArea = seMinArea->value();
  settings.MaxArea = seMaxArea->value();
  settings.PropLargePatches = sePropLargePatches->value();
  settings.IsolatedPatchArea = seIsolatedPatchArea->value();
  settings.IsolatedPatchDistance = seIsolatedPatchDistance->value();
  settings.WithBackground = !Background.isNull();
  settings.SpaceRangeX = SpaceRangeX();
  settings.SpaceRangeY = SpaceRangeY();
  return settings;
}

void TdlgVandrel::btMakeLandscapeClick() {
  // A layout that fails leaves the landscape in force as it was.
  models::tGeneratedLandscape made = models::GenerateLandscape(LandscapeSettings(), models::Patches);
  // Distances read from a landscape file serve only a landscape of as many patches.
  if (models::DistanceMatFixed && made.Patches.size() != models::DistanceMat.size())
    throw utile::EInvalidOperation(utile::Format(
        "The distances between the patches come from the landscape file, for %d patches: a landscape of %d "
        "patches cannot use them.",
        static_cast<int32_t>(models::DistanceMat.size()), static_cast<int32_t>(made.Patches.size())));
  models::Patches = std::move(made.Patches);
  {
    // The landscape sequence below redraws.
    const tDeferredRedraws deferred(this);
    if (made.PatchCount) seNbPatch->setValue(*made.PatchCount);
    if (made.Width) seWidth->setValue(*made.Width);
    if (made.Height) seHeight->setValue(*made.Height);
  }
  // The birth and extinction parameters of the new patches come from the patch
  // database before the landscape sequence, so that the workbench it
  // re-initialises works with them.
  if (dlgPatchData) dlgPatchData->UpdatePatches();
  ChangePatches();
}

void TdlgVandrel::ComputeConnectanceMatrix() {
  // An unreadable distance threshold sets no limit.
  double threshold = 1.7e308;
  if (!utile::TryStrToFloatAnySeparator(edDistanceThreshold->text().toStdString(), threshold))
    threshold = 1.7e308;
  models::ComputeConnectanceMatrix(cbConnectance->currentIndex(), threshold, seConnectance->value());
}

void TdlgVandrel::seNbPatchChange() {
  PatchColor.Generate(GetPatchCount());
}

double TdlgVandrel::SpaceRangeX() const {
  return chSpace->BottomAxis()->max() - chSpace->BottomAxis()->min();
}

double TdlgVandrel::SpaceRangeY() const {
  return chSpace->LeftAxis()->max() - chSpace->LeftAxis()->min();
}

void TdlgVandrel::cbPermeabilityChange() {
  // Least-cost paths are not available: the straight line is the nearest rule.
  if (cbPermeability->currentIndex() == 3) cbPermeability->setCurrentIndex(2);
  if (cbPermeability->currentIndex() == 2 && edPermeabilityMap->text().isEmpty()) {
    btPermeabiliyMapClick();
    if (edPermeabilityMap->text().isEmpty()) {
      cbPermeability->setCurrentIndex(0);
      // The choice shown is the rule in force: when that was constant already,
      // nothing changes.
      if (models::PermeabilityType == models::ptConstant) {
        Actualisation();
        return;
      }
    }
  }
  models::PermeabilityType = static_cast<utile::Byte>(cbPermeability->currentIndex());
  Actualisation();
  ChangePatches();
  ComputeConnectanceMatrix();
  btMakeLandscapeClick();
}

void TdlgVandrel::PermeabilityEditUsed() {
  // A typed value is in force as soon as the edit is used, not only from the
  // next landscape change.
  if (LandscapeLocked()) return;
  ReadPermeabilityEdits();
  ComputeConnectanceMatrix();
  DrawSpace();
}

void TdlgVandrel::ReadPermeabilityEdits() {
  models::MeanPermeabilityDistance = utile::StrToFloatDef(edSurvivalDistance->text().toStdString(), 0);
  models::ConstantPermeability = utile::StrToFloatDef(edFixedSurvival->text().toStdString(), 0);
}

void TdlgVandrel::TakeLandscapeLineValues(const std::function<void()>& fill) {
  fLineLandscapeFile = edLandscapeFile->text();
  fLinePermeabilityMap = edPermeabilityMap->text();
  ++fFillingLandscapeLine;
  const auto done = qScopeGuard([this] { --fFillingLandscapeLine; });
  fill();
}

void TdlgVandrel::ChangePatches() {
  {
    // The redraw comes last, once.
    const tDeferredRedraws deferred(this);
    // 1.
    ReadPermeabilityEdits();
    // 2.
    ComputeConnectanceMatrix();
    const size_t n = models::Patches.size();
    // 3.
    if (n == 1) {
      ckPotential->setChecked(false);
      ckComputeMetapop->setChecked(false);
    }
    // 4.
    float total = 0;
    for (const models::tCircle& patch : models::Patches) total += static_cast<float>(patch.A);
    edTotalArea->setText(QString::fromStdString(utile::Format("%.0n", static_cast<double>(total))));
    // 5. A selection that the landscape no longer holds is dropped.
    ModelChanged = true;
    if (SelCircle >= static_cast<int32_t>(n)) SelCircle = -1;
    {
      const QSignalBlocker quiet(seID);
      seID->setMaximum(static_cast<int>(n));
    }
    // 6.
    if (ckComputeMetapop->isChecked() && CurrentModel) ComputeModel();
    // 7.
    if (cbPatchGeometry->currentIndex() == models::pgFromFile && n > 0) {
      const models::tBox box = models::BoundingBox(models::Patches);
      chSpace->SetBottomAxisRange(static_cast<double>(utile::Round(box.MinX - 1)),
                                  static_cast<double>(utile::Round(box.MaxX + 1)));
      chSpace->SetLeftAxisRange(static_cast<double>(utile::Round(box.MinY - 1)),
                                static_cast<double>(utile::Round(box.MaxY + 1)));
      SetSpinValue(seWidth, utile::Round(box.MaxX - box.MinX + 2));
      SetSpinValue(seHeight, utile::Round(box.MaxY - box.MinY + 2));
    } else {
      chSpace->SetBottomAxisRange(0, seWidth->value());
      chSpace->SetLeftAxisRange(0, seHeight->value());
    }
    // 8.
    models::MapWidth = seWidth->value();
    models::MapHeight = seHeight->value();
  }
  // 9.
  DrawSpace();
  // A shown patch table follows the patches; a drag tells it once, when it ends.
  if (mLeft || mRight)
    fPatchesChangedInDrag = true;
  else if (dlgPatchData)
    dlgPatchData->PatchesChanged();
}

void TdlgVandrel::RedrawForControl() {
  if (fDeferredRedraws == 0) DrawSpace();
}

bool TdlgVandrel::CapacityCoversPatches() const {
  const size_t n = models::Patches.size();
  return n >= 2 && !models::HanskiEigenvalue.empty() && models::HanskiEigenvectors.size() == n;
}

void TdlgVandrel::DrawSpace() {
  DrawingSpace = true;
  const auto done = qScopeGuard([this] { DrawingSpace = false; });
  const models::tArrayOfCircles& patches = models::Patches;
  const size_t n = patches.size();
  if (SelCircle >= static_cast<int32_t>(n)) SelCircle = -1;

  // 1. Patch values, from the last capacity computation when it was made for
  // these patches.
  const bool contributions = ckPatchContribution->isChecked() && CurrentModel != nullptr;
  utile::tVectorOfDouble values(n, 1.0);
  double maximum = 1.0;
  if (contributions && CapacityCoversPatches()) {
    values = models::ComputeHanskiPatchValue(patches);
    maximum = values.empty() ? 1.0 : *std::max_element(values.begin(), values.end());
  }
  auto grey = [&](size_t i) {
    const int g =
        maximum > 0 ? static_cast<int>(std::min<int64_t>(255, utile::Round((1 - values[i] / maximum) * 255)))
                    : 255;
    return QColor(g, g, g);
  };

  // 2. and 3. One bubble per patch.
  fSpaceSeries->Clear();
  fSpaceSeries->setPointLabelsVisible(ckShowID->isChecked());
  const double fixedRadius = SpaceRangeX() / 100;
  for (size_t i = 0; i < n; ++i) {
    const models::tCircle& patch = patches[i];
    const double radius =
        ckShowArea->isChecked() ? std::sqrt(std::max(patch.A, 0.0) / std::numbers::pi) : fixedRadius;
    QColor color;
    if (SelCircle < 0)
      color = contributions ? grey(i) : utile::gui::ToQColor(PatchColor[i]);
    else if (static_cast<int32_t>(i) == SelCircle)
      color = Qt::red;
    else
      color = contributions ? grey(i) : QColor(Qt::black);
    fSpaceSeries->AddBubble(patch.x, patch.y, radius, color, QString::number(patch.popID));
  }

  // 4. The selected patch in its controls.
  FillSelectedPatchControls();

  BuildLinks();
  BuildValueMap();
  chSpace->Refresh();
  if (fSpaceLayer) fSpaceLayer->update();
}

void TdlgVandrel::FillSelectedPatchControls() {
  const bool selected = SelCircle >= 0 && SelCircle < static_cast<int32_t>(models::Patches.size());
  grpSelectedPatch->setEnabled(selected);
  const bool drawing = DrawingSpace;
  DrawingSpace = true;
  if (selected) {
    const models::tCircle& patch = models::Patches[SelCircle];
    // The patch selector counts the patches from 1, whatever their popIDs.
    seID->setValue(SelCircle + 1);
    SetSpinValue(seX, utile::Round(patch.x));
    SetSpinValue(seY, utile::Round(patch.y));
    SetSpinValue(seArea, utile::Round(patch.A));
  } else {
    for (QSpinBox* control : {seID, seX, seY, seArea}) control->setValue(0);
  }
  DrawingSpace = drawing;
}

void TdlgVandrel::BuildLinks() {
  fLinks.assign(ConnectPalette.size(), {});
  fLinkCount = 0;
  ++fLinkRevision;
  if (!ckShowConnectivity->isChecked() || !CurrentModel || !CurrentModel->HasConnectivityFunction()) return;
  const int32_t n = static_cast<int32_t>(models::Patches.size());
  const double maximum = CurrentModel->GetMaxConnectivity();
  auto link = [&](int32_t i, int32_t j) {
    const double strength = CurrentModel->GetConnectivity(i, j) / maximum;
    // Missing and null links draw nothing.
    if (!(strength > 0) || std::abs(strength - MissingConnectivity) < 1e-6) return;
    const utile::Integer entry = LinkEntry(strength, ConnectPalette.size());
    fLinks[static_cast<size_t>(entry)].push_back({i, j});
    ++fLinkCount;
  };
  if (SelCircle >= 0) {
    for (int32_t j = 0; j < n; ++j)
      if (j != SelCircle) link(SelCircle, j);
  } else {
    for (int32_t i = 0; i < n; ++i)
      for (int32_t j = 0; j < i; ++j) link(i, j);
  }
}

void TdlgVandrel::BuildValueMap() {
  fValueMap = QImage();
  if (!ckPotential->isChecked() || !CurrentModel || !CurrentModel->HasGetParam()) return;
  try {
    if (mnOnTheFly->isChecked()) {
      // The capacity that a new patch would bring, at the centre of each cell
      // of the plot area.
      if (!CapacityCoversPatches()) return;
      const models::tParam param = CurrentModel->GetParam();
      const double area = seNewPatchArea->value();
      const double cells = ValueMapBudget / static_cast<double>(models::Patches.size());
      const int side = std::clamp(static_cast<int>(std::sqrt(cells)), 16, 100);
      const QValueAxis* bottom = chSpace->BottomAxis();
      const QValueAxis* left = chSpace->LeftAxis();
      fValueMapExtent = QRectF(QPointF(bottom->min(), left->min()), QPointF(bottom->max(), left->max()));
      const double w = fValueMapExtent.width() / side, h = fValueMapExtent.height() / side;
      const auto capacityAt = models::HypotheticCapacityAt(area, param, models::Patches);
      fValueMap = ValuePicture(
          side, side,
          [&](int c, int r) {
            const double x = fValueMapExtent.left() + (c + 0.5) * w;
            const double y = fValueMapExtent.bottom() - (r + 0.5) * h;  // the picture's first line on top
            const double capacity = capacityAt(x, y);
            return capacity > 0 ? std::log10(capacity) : MissingConnectivity;
          },
          MapPalette);
    } else {
      const utile::tMatrixOfDouble& map = models::ResultMap;
      if (map.empty() || map[0].empty()) return;
      const int columns = static_cast<int>(map.size()), rows = static_cast<int>(map[0].size());
      if (mnMovingWindow->isChecked()) {
        // The moving window covers the patches' box widened by a twentieth.
        models::tBox box = models::BoundingBox(models::Patches);
        const double w = box.MaxX - box.MinX, h = box.MaxY - box.MinY;
        fValueMapExtent = QRectF(QPointF(box.MinX - 0.05 * w, box.MinY - 0.05 * h),
                                 QPointF(box.MaxX + 0.05 * w, box.MaxY + 0.05 * h));
      } else {
        // The precomputed grid lies over the chart's axes, as the simple
        // demographic workbench computed it (they differ from the study area for
        // a landscape read from a file).
        const QValueAxis* bottom = chSpace->BottomAxis();
        const QValueAxis* left = chSpace->LeftAxis();
        fValueMapExtent = QRectF(QPointF(bottom->min(), left->min()), QPointF(bottom->max(), left->max()));
      }
      fValueMap = ValuePicture(
          columns, rows,
          [&](int c, int r) {
            const utile::tVectorOfDouble& column = map[static_cast<size_t>(c)];
            const size_t row = static_cast<size_t>(rows - 1 - r);  // row 0 at the bottom
            return row < column.size() ? column[row] : MissingConnectivity;
          },
          MapPalette);
    }
  } catch (const std::exception&) {
    // A map that cannot be computed is not drawn.
    fValueMap = QImage();
  }
}

void TdlgVandrel::RepaintSpace() {
  BuildValueMap();
  if (fSpaceLayer) fSpaceLayer->update();
}

void TdlgVandrel::PaintSpaceLayers(QPainter& painter, const utile::gui::tGraphicChart& chart) const {
  const QValueAxis* bottom = chart.BottomAxis();
  const QValueAxis* left = chart.LeftAxis();
  if (!(bottom->max() > bottom->min()) || !(left->max() > left->min())) return;
  const QTransform toChart = ValueTransform(chart);
  // The pictures stand upright: their first line at the top of their extent.
  if (!Background.isNull()) {
    const QRectF area = toChart.mapRect(QRectF(0, 0, models::MapWidth, models::MapHeight));
    painter.drawImage(area, Background);
    // A map's low end is white like the plot area: the frame shows where it ends.
    painter.save();
    painter.setPen(QPen(QColor(160, 160, 160), 1));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(area);
    painter.restore();
  }
  if (!fValueMap.isNull()) painter.drawImage(toChart.mapRect(fValueMapExtent), fValueMap);

  if (fLinkCount == 0) return;
  const models::tArrayOfCircles& patches = models::Patches;
  std::vector<QPointF> centres(patches.size());
  for (size_t i = 0; i < patches.size(); ++i) centres[i] = toChart.map(QPointF(patches[i].x, patches[i].y));
  if (fLinkCount <= SmoothLinkLimit) {
    painter.save();
    for (size_t entry = 0; entry < fLinks.size(); ++entry) {
      if (fLinks[entry].empty()) continue;
      painter.setPen(QPen(utile::gui::ToQColor(ConnectPalette[entry]), 1.5));
      for (const tLinkEnds& ends : fLinks[entry])
        painter.drawLine(centres[static_cast<size_t>(ends.From)], centres[static_cast<size_t>(ends.To)]);
    }
    painter.restore();
    return;
  }
  const QRect plot = chart.chart()->plotArea().toAlignedRect();
  const tLinkPictureKey key{fLinkRevision, plot, bottom->min(), bottom->max(), left->min(), left->max()};
  if (!(key == fLinkPictureKey) || fLinkPicture.isNull()) {
    for (QPointF& centre : centres) centre -= plot.topLeft();
    fLinkPicture = LinkPicture(plot.size(), centres, fLinks, ConnectPalette);
    fLinkPictureKey = key;
  }
  painter.drawImage(plot.topLeft(), fLinkPicture);
}

void TdlgVandrel::ShowPatchValue(const utile::tVectorOfDouble& values) {
  DrawSpace();
  const size_t n = std::min(values.size(), static_cast<size_t>(fSpaceSeries->count()));
  double low = std::numeric_limits<double>::infinity(), high = -low;
  for (size_t i = 0; i < n; ++i)
    if (std::isfinite(values[i])) {
      low = std::min(low, values[i]);
      high = std::max(high, values[i]);
    }
  const utile::tPalette shades =
      utile::ColorGradient({utile::RGBColor(255, 255, 200), utile::RGBColor(0, 100, 0)}, 255);
  for (size_t i = 0; i < n; ++i) {
    if (static_cast<int32_t>(i) == SelCircle) continue;
    const utile::TColor color =
        utile::ColorShade(values[i], shades, low, high, MissingConnectivity, 0x808080);
    fSpaceSeries->SetPointColor(static_cast<utile::Integer>(i), utile::gui::ToQColor(color));
  }
}

void TdlgVandrel::ComputeModel() {
  if (!CurrentModel || mLeft || mRight) return;
  // A running model is re-initialised only between the lines of its own batch.
  if (CurrentModel->IsRunning() && !CurrentModel->InLandscapeLine()) return;
  {
    tHourGlass hourGlass;
    CurrentModel->Initialise();
  }
  if (CurrentModel && CurrentModel->ModelHasChanged) {
    DrawSpace();
    CurrentModel->ModelHasChanged = false;
  }
  if (CurrentModel) setWindowTitle(QString(MainCaption) + " - " + CurrentModel->windowTitle());
}

// ------------------------------------------------------------- mouse editing

void TdlgVandrel::SelectPatch(int32_t index) {
  if (seID->value() != index + 1) {
    seID->setValue(index + 1);  // selects and redraws
    if (SelCircle == index) return;
  }
  SelCircle = index;
  DrawSpace();
}

void TdlgVandrel::ClearSelection() {
  SelCircle = -1;
  DrawSpace();
}

void TdlgVandrel::chSpaceMouseDown(Qt::MouseButton button, const QPointF& pixel) {
  if (DblClick) return;
  mLeft = button == Qt::LeftButton;
  mRight = button == Qt::RightButton;
  const QPointF value = chSpace->PixelToValue(pixel);
  MouseX = value.x();
  MouseY = value.y();
  const utile::Integer hit = fSpaceSeries->BubbleAt(pixel);
  fMenuRefused = mRight && hit >= 0;
  if (hit < 0) {
    if (SelCircle >= 0) ClearSelection();
    return;
  }
  const models::tCircle& patch = models::Patches[static_cast<size_t>(hit)];
  if (mRight) {
    dX = std::sqrt(patch.A / std::numbers::pi);
    dY = MouseY;
  } else {
    dX = MouseX - patch.x;
    dY = MouseY - patch.y;
  }
  if (hit != SelCircle) SelectPatch(hit);
}

void TdlgVandrel::chSpaceMouseMove(const QPointF& pixel) {
  const QPointF value = chSpace->PixelToValue(pixel);
  MouseX = value.x();
  MouseY = value.y();
  if (!(mLeft || mRight) || SelCircle < 0 || SelCircle >= static_cast<int32_t>(models::Patches.size()))
    return;
  if (LandscapeLocked()) return;
  models::tCircle& patch = models::Patches[static_cast<size_t>(SelCircle)];
  if (mLeft) {
    // Distances read from a landscape file do not follow a moved patch.
    if (models::DistanceMatFixed) return;
    const double x = static_cast<double>(utile::Round(MouseX - dX));
    const double y = static_cast<double>(utile::Round(MouseY - dY));
    if (x == patch.x && y == patch.y) return;
    patch.x = x;
    patch.y = y;
  } else {
    const double radius = MouseY - dY + dX;
    const double area = static_cast<double>(utile::Round(radius * radius * std::numbers::pi));
    if (area == patch.A) return;
    patch.A = area;
  }
  ChangePatches();
}

void TdlgVandrel::chSpaceMouseUp() {
  mLeft = false;
  mRight = false;
  DblClick = false;
  if (std::exchange(fPatchesChangedInDrag, false) && dlgPatchData) dlgPatchData->PatchesChanged();
  if (ckComputeMetapop->isChecked()) ComputeModel();
  chSpace->viewport()->update();
}

void TdlgVandrel::chSpaceDblClick(const QPointF& pixel) {
  DblClick = true;
  CheckLandscapeUnlocked();
  const QPointF value = chSpace->PixelToValue(pixel);
  MouseX = value.x();
  MouseY = value.y();
  const int32_t added = models::AddPatch(static_cast<double>(utile::Round(MouseX)),
                                         static_cast<double>(utile::Round(MouseY)), 10);
  seNbPatch->setValue(seNbPatch->value() + 1);
  ChangePatches();
  SelectPatch(added);
  ckPatchContribution->setChecked(false);
  ckPatchContribution->setVisible(false);
}

void TdlgVandrel::btRemovePatchClick() {
  if (SelCircle < 0 || SelCircle >= static_cast<int32_t>(models::Patches.size())) return;
  CheckLandscapeUnlocked();
  models::RemovePatch(SelCircle);
  SelCircle = -1;
  seNbPatch->setValue(seNbPatch->value() - 1);
  ChangePatches();
}

void TdlgVandrel::SelectedPatchEdited(double models::tCircle::*field, const QSpinBox* control) {
  if (DrawingSpace || SelCircle < 0 || SelCircle >= static_cast<int32_t>(models::Patches.size())) return;
  if (LandscapeLocked()) {
    FillSelectedPatchControls();
    return;
  }
  models::Patches[static_cast<size_t>(SelCircle)].*field = control->value();
  ChangePatches();
}

bool TdlgVandrel::eventFilter(QObject* watched, QEvent* event) {
  if (chSpace && watched == chSpace->viewport()) {
    switch (event->type()) {
      case QEvent::MouseButtonPress: {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() != Qt::LeftButton && mouse->button() != Qt::RightButton) break;
        chSpace->setFocus(Qt::MouseFocusReason);
        const QPointF pixel = ChartPixel(*chSpace, mouse->position());
        Guarded([&] { chSpaceMouseDown(mouse->button(), pixel); });
        return true;
      }
      case QEvent::MouseMove: {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        const QPointF pixel = ChartPixel(*chSpace, mouse->position());
        Guarded([&] { chSpaceMouseMove(pixel); });
        return mLeft || mRight;
      }
      case QEvent::MouseButtonRelease: {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() != Qt::LeftButton && mouse->button() != Qt::RightButton) break;
        Guarded([&] { chSpaceMouseUp(); });
        return true;
      }
      case QEvent::MouseButtonDblClick: {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() != Qt::LeftButton) break;
        const QPointF pixel = ChartPixel(*chSpace, mouse->position());
        Guarded([&] { chSpaceDblClick(pixel); });
        return true;
      }
      case QEvent::ContextMenu:
        if (fMenuRefused) {
          fMenuRefused = false;
          return true;
        }
        break;
      default:
        break;
    }
  } else if (watched == chSpace && event->type() == QEvent::KeyPress) {
    if (static_cast<QKeyEvent*>(event)->key() == Qt::Key_Delete && SelCircle >= 0) {
      Guarded([this] { btRemovePatchClick(); });
      return true;
    }
  } else if (event->type() == QEvent::MouseButtonRelease) {
    // A click on these edits puts what they show in force.
    QObject* clicked = watched;
    if (clicked->parent() == seWidth || clicked->parent() == seHeight) clicked = clicked->parent();
    if (clicked == edSurvivalDistance || clicked == edFixedSurvival)
      Guarded([this] { PermeabilityEditUsed(); });
    else if (clicked == seWidth || clicked == seHeight)
      Guarded([this] { RedrawForControl(); });
  }
  return QMainWindow::eventFilter(watched, event);
}

void TdlgVandrel::changeEvent(QEvent* event) {
  QMainWindow::changeEvent(event);
  if (event->type() == QEvent::ActivationChange && isActiveWindow() && fSpaceSeries)
    Guarded([this] { DrawSpace(); });
}

void TdlgVandrel::CheckLandscapeUnlocked() const {
  if (LandscapeLocked())
    throw utile::EInvalidOperation("The landscape cannot change while a module is running.");
}

void TdlgVandrel::CheckLandscapeFree(const tModelForm* sender) const {
  if (OtherModelRunning(sender))
    throw utile::EInvalidOperation("The landscape cannot change while another module is running.");
}

bool TdlgVandrel::OtherModelRunning(const tModelForm* sender) const {
  for (const tModelForm* model : fModels)
    if (model != sender && model->IsRunning()) return true;
  return false;
}

void TdlgVandrel::RebuildLandscape(tModelForm* sender) {
  // The names in force before the line come back with a file that fails: the
  // landscape that stays is theirs.
  const std::optional<QString> landscapeFile = std::exchange(fLineLandscapeFile, std::nullopt);
  const std::optional<QString> permeabilityMap = std::exchange(fLinePermeabilityMap, std::nullopt);
  CheckLandscapeFree(sender);
  auto restoring = [](tLabeledEdit* edit, const std::optional<QString>& before,
                      const std::function<void()>& load) {
    try {
      load();
    } catch (...) {
      if (before) edit->setText(*before);
      throw;
    }
  };
  if (cbPatchGeometry->currentIndex() == models::pgFromFile)
    restoring(edLandscapeFile, landscapeFile, [this] { LoadLandscapeFromFile(); });
  if (cbPermeability->currentIndex() == 2 || cbPermeability->currentIndex() == 3)
    restoring(edPermeabilityMap, permeabilityMap, [this] { LoadPermeabilityFromFile(); });
  ComputeConnectanceMatrix();
  btMakeLandscapeClick();
}

// ------------------------------------------------- landscape files and maps

namespace {
const char* const PatchFileFilter = "Patch files (*.patch)|*.patch|All files (*.*)|*.*";
const char* const MapSourceFilter =
    "Maps and pictures (*.txt;*.bin;*.rst;*.bmp;*.jpg)|*.txt;*.bin;*.rst;*.bmp;*.jpg|All files (*.*)|*.*";
// Cells of a map that carry no value.
constexpr double MissingMapValue = -999999;

QImage MapPicture(const utile::tMatrixOfDouble& matrix, const utile::tPalette& palette) {
  QImage picture;
  utile::gui::MatrixToBitmap(matrix, palette, picture, 0, 0, utile::gui::tMapOrientation::moXY, false,
                             MissingMapValue);
  return picture;
}

bool HoldsCells(const utile::tMatrixOfDouble& matrix) {
  return !matrix.empty() && !matrix[0].empty();
}
}  // namespace

void TdlgVandrel::ConnectLandscapeFileHandlers() {
  auto command = [this](auto* sender, auto signal, void (TdlgVandrel::*handler)()) {
    connect(sender, signal, this, [this, handler] { Guarded([this, handler] { (this->*handler)(); }); });
  };
  command(Loadpatchfile1, &QAction::triggered, &TdlgVandrel::Loadpatchfile1Click);
  command(btLandscapeFile, &QPushButton::clicked, &TdlgVandrel::Loadpatchfile1Click);
  command(Savepatchfile1, &QAction::triggered, &TdlgVandrel::Savepatchfile1Click);
  command(mnConnectivityHistogram, &QAction::triggered, &TdlgVandrel::mnConnectivityHistogramClick);
  command(mnuLoadBackground, &QAction::triggered, &TdlgVandrel::mnuLoadBackgroundClick);
  command(mnuClearBackground, &QAction::triggered, &TdlgVandrel::mnuClearBackgroundClick);
  command(mnLoadPermeabilityMap, &QAction::triggered, &TdlgVandrel::btPermeabiliyMapClick);
}

void TdlgVandrel::SetStudyArea(int64_t width, int64_t height) {
  const tDeferredRedraws deferred(this);
  // Held to the controls' bounds.
  SetSpinValue(seWidth, width);
  SetSpinValue(seHeight, height);
}

std::optional<std::string> TdlgVandrel::ExecuteMapOpenDialog(const std::string& title) {
  return Dialogs().OpenFileName(this, title, MapSourceFilter, "");
}

void TdlgVandrel::CommitLandscapeFile(models::tLandscapeFile file) {
  const auto count = static_cast<int64_t>(file.Patches.size());
  models::Patches = std::move(file.Patches);
  models::DistanceMat = std::move(file.DistanceMat);
  models::DistanceMatFixed = file.DistanceMatFixed;
  // A selection of the old landscape means nothing in the new one.
  SelCircle = -1;
  {
    const tDeferredRedraws deferred(this);
    SetSpinValue(seNbPatch, count);
  }
  ChangePatches();
}

void TdlgVandrel::LoadLandscapeFromFile() {
  const std::string name = edLandscapeFile->text().toStdString();
  if (name.empty()) return;
  tHourGlass hourGlass;
  CommitLandscapeFile(models::ReadLandscapeFile(name));
}

void TdlgVandrel::Loadpatchfile1Click() {
  const std::optional<std::string> name =
      Dialogs().OpenFileName(this, "Open a patch file", PatchFileFilter, "patch");
  if (!name) return;
  CheckLandscapeUnlocked();
  tHourGlass hourGlass;
  // Read whole first: a file that fails changes nothing, its name included.
  models::tLandscapeFile file = models::ReadLandscapeFile(*name);
  edLandscapeFile->setText(QString::fromStdString(*name));
  cbPatchGeometry->setCurrentIndex(models::pgFromFile);
  Actualisation();
  if (dlgPatchData) dlgPatchData->cbPatchData->setCurrentIndex(1);  // "Loaded from file"
  CommitLandscapeFile(std::move(file));
  btMakeLandscapeClick();
}

void TdlgVandrel::Savepatchfile1Click() {
  const std::optional<std::string> name =
      Dialogs().SaveFileName(this, "Save patch configuration", PatchFileFilter, "patch", false);
  if (!name) return;
  if (utile::FileExists(*name) &&
      !Dialogs().Confirm(this, utile::Format("\"%s\" already exists. Do you want to replace it?", *name)))
    return;
  tHourGlass hourGlass;
  const bool withDistances = models::DistanceMatFixed && models::DistanceMat.size() == models::Patches.size();
  models::SaveLandscapeFile(*name, models::Patches, withDistances ? &models::DistanceMat : nullptr);
}

void TdlgVandrel::mnuLoadBackgroundClick() {
  const std::optional<std::string> name = ExecuteMapOpenDialog("Select background image");
  if (!name) return;
  QImage picture;
  switch (models::MapFileKind(*name)) {
    case models::tMapFileKind::mfTextMatrix:
    case models::tMapFileKind::mfBinaryMatrix:
    case models::tMapFileKind::mfRaster: {
      tHourGlass hourGlass;
      const utile::tMatrixOfDouble matrix = models::ReadMapMatrix(*name);
      if (!HoldsCells(matrix))
        throw utile::EInOutError(
            utile::Format("The map \"%s\" holds no cell: it cannot be a background.", *name));
      picture = MapPicture(matrix, MapPalette);
      break;
    }
    case models::tMapFileKind::mfPicture:
      if (!picture.load(QString::fromStdString(*name)) || picture.isNull())
        throw utile::EInOutError(utile::Format("The picture \"%s\" cannot be read.", *name));
      break;
    case models::tMapFileKind::mfOther:
      return;  // nothing to draw
  }
  Background = std::move(picture);
  SetStudyArea(int64_t{Background.width()} + 1, int64_t{Background.height()} + 1);
  Actualisation();
  // The study area is the picture's: the axes and the permeability follow it.
  ChangePatches();
}

void TdlgVandrel::mnuClearBackgroundClick() {
  Background = QImage();
  DrawSpace();
}

void TdlgVandrel::LoadPermeabilityFromFile() {
  const std::string name = edPermeabilityMap->text().toStdString();
  if (name.empty()) return;
  tHourGlass hourGlass;
  // Read and drawn aside: a map that fails leaves the one in force.
  utile::tMatrixOfDouble map = models::ReadPermeabilityMap(name);
  if (!HoldsCells(map)) {
    models::Map.clear();
    edPermeabilityMap->clear();
    return;
  }
  // The first index runs along x; the picture's first line is the top of the
  // study area, the map's last column.
  QImage picture = MapPicture(utile::MatInverseCols(map), MapPalette);
  const auto rows = static_cast<int64_t>(map.size()), columns = static_cast<int64_t>(map[0].size());
  models::Map = std::move(map);
  Background = std::move(picture);
  SetStudyArea(rows - 1, columns - 1);
}

void TdlgVandrel::btPermeabiliyMapClick() {
  const std::optional<std::string> name = ExecuteMapOpenDialog("Select permeability map");
  if (!name) return;
  CheckLandscapeUnlocked();
  const QString previous = edPermeabilityMap->text();
  edPermeabilityMap->setText(QString::fromStdString(*name));
  try {
    LoadPermeabilityFromFile();
  } catch (const std::exception& error) {
    // As for a cancel: the map, its name and the background stay.
    edPermeabilityMap->setText(previous);
    Dialogs().ShowMessage(this, error.what(), tMessageKind::mkError);
    return;
  }
  if (edPermeabilityMap->text().isEmpty() && cbPermeability->currentIndex() == 2) {
    // An empty map leaves the straight line nothing to follow.
    cbPermeability->setCurrentIndex(0);
    models::PermeabilityType = models::ptConstant;
  }
  btMakeLandscapeClick();
  Actualisation();
}

void TdlgVandrel::mnConnectivityHistogramClick() {
  if (models::Map.empty()) return;
  utile::tVectorOfDouble values;
  std::vector<utile::tMatrixOfDouble> profiles;
  {
    tHourGlass hourGlass;
    values = models::DistinctMapValues();
    profiles = models::ConnectionProfiles(values);
  }
  auto* box = new tTextBox(this);
  box->setWindowTitle("Connectivity histogram");
  box->SetText(models::ConnectionProfilesText(values, profiles));
  box->show();
}

void TdlgVandrel::WriteMap(double MinX, double MaxX, double MinY, double MaxY, int32_t Columns, int32_t Rows,
                           const std::string& FileName) {
  models::WriteMap(MinX, MaxX, MinY, MaxY, Columns, Rows, FileName);
}

void TdlgVandrel::ExtractPatches(const models::tParam& Param) {
  const QValueAxis* bottom = chSpace->BottomAxis();
  const QValueAxis* left = chSpace->LeftAxis();
  models::ExtractPatches(Param, bottom->min(), bottom->max(), left->min(), left->max());
}

std::vector<utile::tMatrixOfDouble> TdlgVandrel::ConnectionProfiles() {
  return models::ConnectionProfiles();
}

std::vector<utile::tMatrixOfDouble> TdlgVandrel::ConnectionProfiles(const utile::tVectorOfDouble& Values) {
  return models::ConnectionProfiles(Values);
}

namespace {
// The share of a normal distribution below z, from a logistic approximation.
double NormalArea(double z) {
  return 1.0 / (1.0 + std::exp(-z * (1.5976 + 0.070566 * z * z)));
}
}  // namespace

void TdlgVandrel::TestClick() {
  // A check of the root finder: the quantile of a random normal distribution at
  // a random share, written as the statistics language would check it.
  const double mean = -3 + 6 * utile::Random();
  const double sd = 5 * utile::Random();
  const double share = utile::Random();
  const double scale = std::max(sd, 1e-3);
  const auto area = [](const utile::tVectorOfDouble& p, double x) {
    return NormalArea((x - p[0]) / p[1]) - p[2];
  };
  const double quantile = utile::FindRootBrent(area, {mean, scale, share}, mean - 20 * scale,
                                               mean + 20 * scale, 1e-10, 200, 1e-15);
  const double check = NormalArea((quantile - mean) / scale);
  Dialogs().ShowMessage(
      this, utile::Format("pnorm(%g, mean=%g, sd=%g)  # %g ~ %g", quantile, mean, scale, share, check),
      tMessageKind::mkInformation);
  // Then a ternary chart of random points, on a window of its own.
  utile::tVectorOfDouble a(20), b(20), c(20);
  for (int i = 0; i < 20; ++i) {
    a[i] = utile::Random();
    b[i] = utile::Random();
    c[i] = utile::Random();
  }
  utile::gui::tGraphicChart* chart = utile::gui::PlotTriangle(a, b, c, {}, "", "", "Title", nullptr);
  auto* triangle = static_cast<utile::gui::tCustomTriangleSeries*>(chart->SeriesAt(chart->SeriesCount() - 1));
  for (int corner = 1; corner <= 3; ++corner) triangle->SetPoles(corner, QString("Pole %1").arg(corner));
  chart->Refresh();
  chart->window()->show();
}

}  // namespace vandrel
