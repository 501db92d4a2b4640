// The main window's start-up state, menus, visibility rules, workbench list and
// the locks that protect a running workbench.
#include <QAbstractButton>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpression>
#include <QSpinBox>
#include <QtTest>
#include <cmath>

#include "MainWindowHarness.h"
#include "ScriptedDialogs.h"
#include "TestSupport/StatisticalChecks.h"
#include "TestWorkbench.h"
#include "Utile/Platform.h"
#include "Utile/RunTime.h"
#include "app/AboutBoxU.h"
#include "app/WindowServices.h"
#include "Utile/gui/CustomChartSeries.h"
#include "Utile/gui/GraphicOps.h"
#include "app/dlgPatchDataU.h"
#include "app/dlgVandrelU.h"
#include "models/IBModelFile.h"
#include "models/MetapopCommon.h"

using testsupport::tScriptedDialogs;
using testsupport::tTestWorkbench;
using vandrel::tWorkbenchKind;

namespace {
QStringList Items(const QComboBox* combo) {
  QStringList items;
  for (int i = 0; i < combo->count(); ++i) items << combo->itemText(i);
  return items;
}

QAction* ActionNamed(QWidget* window, const char* name) {
  return window->findChild<QAction*>(name);
}

// Whether a hidden item would be enabled if it were shown.
bool HiddenItemEnabled(QAction* item) {
  item->setVisible(true);
  const bool enabled = item->isEnabled();
  item->setVisible(false);
  return enabled;
}
}  // namespace

class MainWindowTest : public QObject {
  Q_OBJECT

  vandrel::TdlgVandrel* fMain = nullptr;
  tScriptedDialogs* fDialogs = nullptr;
  std::vector<QPointer<tTestWorkbench>> fCreated;

 private slots:
  void init() {
    fMain = testsupport::OpenMainWindow(fDialogs);
    fCreated.clear();
    for (tWorkbenchKind kind :
         {tWorkbenchKind::wkSimpleDemo, tWorkbenchKind::wkMatrix, tWorkbenchKind::wkBigMatrix,
          tWorkbenchKind::wkIBSimple, tWorkbenchKind::wkGraph})
      fMain->SetWorkbenchFactory(kind, [this](vandrel::TdlgVandrel* owner) {
        auto* bench = new tTestWorkbench(owner);
        fCreated.emplace_back(bench);
        return bench;
      });
  }
  void cleanup() {
    vandrel::TestingMode = false;
    testsupport::CloseMainWindow(fMain);
  }

  void StartsWithItsCaptionChoicesAndFirstLandscape() {
    QCOMPARE(fMain->windowTitle(), QString("Vandrel 1.3.6.36"));
    QCOMPARE(Items(fMain->cbPatchGeometry), QStringList({"Random", "Square", "Grid + isolated", "Triangle",
                                                         "Hexagon", "Circle", "Frozen", "From file"}));
    QCOMPARE(fMain->cbPatchGeometry->currentText(), QString("Hexagon"));
    QCOMPARE(Items(fMain->cbPatchSizes), QStringList({"Random", "Fixed", "Fixed total size", "Two sizes"}));
    QCOMPARE(fMain->cbPatchSizes->currentText(), QString("Fixed"));
    QCOMPARE(Items(fMain->cbConnectance),
             QStringList({"Full connectance", "Close patches", "Delaunay", "Random"}));
    QCOMPARE(fMain->cbConnectance->currentText(), QString("Full connectance"));
    QCOMPARE(Items(fMain->cbPermeability),
             QStringList({"Constant", "Inverse-exponential", "Straight line", "Least cost"}));
    QCOMPARE(fMain->cbPermeability->currentText(), QString("Constant"));
    QCOMPARE(fMain->pcLandscape->currentWidget(), fMain->tsPatches);
    QVERIFY(fMain->ckComputeMetapop->isChecked());
    QCOMPARE(fMain->SelCircle, -1);
    QVERIFY(fMain->ModelChanged);
    QVERIFY(fMain->fModels.empty());
    QVERIFY(fMain->CurrentModel == nullptr);
    // Three patches on the hexagon: the centre and two of the first ring, 100 apart.
    QCOMPARE(models::Patches.size(), size_t(3));
    QCOMPARE(models::Patches[0].x, 100.0);
    QCOMPARE(models::Patches[0].y, 100.0);
    QCOMPARE(models::Patches[1].x, 150.0);
    QCOMPARE(models::Patches[1].A, 40.0);
    QCOMPARE(models::ConnectanceMat.size(), size_t(3));
    QCOMPARE(fMain->seWidth->value(), 200);
    QCOMPARE(fMain->edTotalArea->text(), QString("120"));
    // The patches carry their numbers as green marks.
    QCOMPARE(fMain->chSpace->SeriesCount(), 1);
    auto* bubbles = qobject_cast<utile::gui::tBubbleSeries*>(fMain->chSpace->SeriesAt(0));
    QVERIFY(bubbles);
    QVERIFY(bubbles->pointLabelsVisible());
    QCOMPARE(bubbles->pointLabelsColor(), QColor(0, 128, 0));
    QCOMPARE(bubbles->PointLabel(2), QString("3"));
    // Palettes: 255 colours from white towards (128, 255, 0).
    QCOMPARE(fMain->MapPalette.size(), size_t(255));
    QCOMPARE(fMain->MapPalette.front(), utile::RGBColor(255, 255, 255));
    QCOMPARE(fMain->ConnectPalette.size(), size_t(255));
  }

  void MenusHaveTheirCaptionsShortcutsAndStates() {
    struct tItem {
      const char* name;
      const char* caption;
      const char* shortcut;
      bool visible;
      bool enabled;
    };
    for (const tItem& item :
         std::initializer_list<tItem>{{"mnOpenProject", "&Open project...", "", true, false},
                                      {"mnSaveProject", "&Save project...", "", true, false},
                                      {"mnExit", "E&xit", "Ctrl+Q", true, true},
                                      {"Loadpatchfile1", "&Load patch file...", "", true, true},
                                      {"Savepatchfile1", "&Save patch file...", "", true, true},
                                      {"mnConnectivityHistogram", "Connection &profiles...", "", true, false},
                                      {"mnuLoadBackground", "Load &background...", "", true, true},
                                      {"mnuClearBackground", "&Clear background", "", true, true},
                                      {"mnLoadPermeabilityMap", "Load &permeability map...", "", true, true},
                                      {"mnNewDemographic", "New Demographic module", "Ctrl+D", true, true},
                                      {"mnNewDemogenetic", "New &Demogenetic module", "Ctrl+M", true, true},
                                      {"mnNewBigMatrix", "New &Big Matrix module", "Ctrl+B", true, true},
                                      {"mnNewIBM", "New &Individual-Based Module", "Ctrl+I", true, true},
                                      {"mnNewHanski", "New &Hanski module", "", false, false},
                                      {"mnNewGraph", "New Graph module", "Ctrl+G", true, true},
                                      {"mnOpenModel", "&Open model...", "Ctrl+O", true, true},
                                      {"mnSaveModel", "Save model", "Ctrl+S", true, true},
                                      {"mnSaveModelAs", "&Save model as...", "", true, true},
                                      {"mnInitialise", "&Initialise", "Ctrl+F9", true, true},
                                      {"mnRun", "&Run", "F9", true, true},
                                      {"mnOnTheFly", "&On the fly", "", true, true},
                                      {"mnPrecomputed", "&Precomputed", "", true, false},
                                      {"mnShakyPosition", "&Shaky position", "", false, false},
                                      {"mnMovingWindow", "&Moving window", "", false, false},
                                      {"mnAbout", "&About", "", true, true},
                                      {"mnDevHistory", "Development &history", "", true, true},
                                      {"mnTest", "Test", "", true, true},
                                      {"mnTestingMode", "Testing mode", "", false, false},
                                      {"mnCreateraster", "Createraster", "", true, true}}) {
      QAction* action = ActionNamed(fMain, item.name);
      QVERIFY2(action, item.name);
      QCOMPARE(action->text(), QString(item.caption));
      QCOMPARE(action->shortcut(), QKeySequence(item.shortcut));
      QVERIFY2(action->isVisible() == item.visible, item.name);
      // A hidden item is disabled while hidden; its own state shows when it is shown.
      QVERIFY2(action->isEnabled() == (item.visible && item.enabled), item.name);
    }
    QStringList titles;
    for (QAction* top : fMain->menuBar()->actions())
      if (top->isVisible()) titles << top->text();
    QCOMPARE(titles, QStringList({"&File", "&Landscape", "&Modules", "&Species", "&Simulations", "&Help"}));
    QVERIFY(!fMain->mnSpecies->menuAction()->isEnabled());
    QVERIFY(!fMain->mnPotentiality->menuAction()->isVisible());
    QVERIFY(fMain->mnOnTheFly->isChecked());
    for (QMenu* submenu : {fMain->mnPopulationBased, fMain->mnIndividualBased, fMain->mnGeometryBased})
      QVERIFY(submenu->menuAction()->isVisible());
    QCOMPARE(fMain->mnPopulationBased->title(), QString("&Population-based modules"));
    QCOMPARE(fMain->mnIndividualBased->title(), QString("&Individual-based modules"));
    QCOMPARE(fMain->mnGeometryBased->title(), QString("&Geometry-based modules"));
    QVERIFY(!fMain->grpMetapopulation->isVisibleTo(fMain));
  }

  void ActualisationShowsWhatEachChoiceNeeds() {
    fMain->show();
    struct tCase {
      int geometry, sizes, connectance, permeability;
      bool area, isolated, landscapeFile, minArea, propLarge, links, threshold, percentage, meanDistance,
          constant, map;
      const char* maxAreaCaption;
    };
    for (const tCase& c : std::initializer_list<tCase>{{4, 1, 0, 0, true, false, false, false, false, false,
                                                        false, false, false, true, false, "Maximum area:"},
                                                       {2, 0, 1, 1, false, true, false, true, false, true,
                                                        true, false, true, false, false, "Maximum area:"},
                                                       {7, 2, 2, 2, true, false, true, false, false, true,
                                                        false, false, false, false, true, "Total area:"},
                                                       {0, 3, 3, 3, true, false, false, true, true, true,
                                                        false, true, false, false, true, "Maximum area:"}}) {
      fMain->cbPatchGeometry->setCurrentIndex(c.geometry);
      fMain->cbPatchSizes->setCurrentIndex(c.sizes);
      fMain->cbConnectance->setCurrentIndex(c.connectance);
      fMain->cbPermeability->setCurrentIndex(c.permeability);
      fMain->Actualisation();
      QCOMPARE(fMain->grpArea->isVisibleTo(fMain->tsPatches), c.area);
      QCOMPARE(fMain->grpIsolated->isVisibleTo(fMain->tsPatches), c.isolated);
      QCOMPARE(fMain->grpLandscapeFile->isVisibleTo(fMain->tsPatches), c.landscapeFile);
      QCOMPARE(fMain->seMinArea->isVisibleTo(fMain->grpArea), c.minArea);
      QCOMPARE(fMain->lblMinArea->isVisibleTo(fMain->grpArea), c.minArea);
      QCOMPARE(fMain->sePropLargePatches->isVisibleTo(fMain->grpArea), c.propLarge);
      QCOMPARE(fMain->lblPropLargePatches->isVisibleTo(fMain->grpArea), c.propLarge);
      QCOMPARE(fMain->lblMaxArea->text(), QString(c.maxAreaCaption));
      QCOMPARE(fMain->grpConnectance->isVisibleTo(fMain->tsLinks), c.links);
      QCOMPARE(fMain->edDistanceThreshold->isVisibleTo(fMain->grpConnectance), c.threshold);
      QCOMPARE(fMain->edDistanceThreshold->EditLabel->isVisibleTo(fMain->grpConnectance), c.threshold);
      QCOMPARE(fMain->seConnectance->isVisibleTo(fMain->grpConnectance), c.percentage);
      QCOMPARE(fMain->lblConnectance->isVisibleTo(fMain->grpConnectance), c.percentage);
      QCOMPARE(fMain->edSurvivalDistance->isVisibleTo(fMain->tsLinks), c.meanDistance);
      QCOMPARE(fMain->edFixedSurvival->isVisibleTo(fMain->tsLinks), c.constant);
      QCOMPARE(fMain->edPermeabilityMap->isVisibleTo(fMain->tsLinks), c.map);
      QCOMPARE(fMain->btPermeabiliyMap->isVisibleTo(fMain->tsLinks), c.map);
      QVERIFY(!fMain->mnPotentiality->menuAction()->isVisible());
      QVERIFY(!fMain->grpMetapopulation->isVisibleTo(fMain));
    }
  }

  void EveryGeometryShowsItsOwnGroups() {
    fMain->show();
    // Geometry by geometry: the area group, the isolated-patch group, the landscape file.
    struct tCase {
      int geometry;
      bool area, isolated, landscapeFile;
    };
    for (const tCase& c : std::initializer_list<tCase>{{0, true, false, false},
                                                       {1, true, false, false},
                                                       {2, false, true, false},
                                                       {3, true, false, false},
                                                       {4, true, false, false},
                                                       {5, true, false, false},
                                                       {6, true, false, false},
                                                       {7, true, false, true}}) {
      fMain->cbPatchGeometry->setCurrentIndex(c.geometry);
      fMain->Actualisation();
      QCOMPARE(fMain->grpArea->isVisibleTo(fMain->tsPatches), c.area);
      QCOMPARE(fMain->grpIsolated->isVisibleTo(fMain->tsPatches), c.isolated);
      QCOMPARE(fMain->grpLandscapeFile->isVisibleTo(fMain->tsPatches), c.landscapeFile);
    }
    // Sizes "Fixed" and "Fixed total size" hide the minimum area and the large-patch share.
    for (int sizes : {1, 2}) {
      fMain->cbPatchSizes->setCurrentIndex(sizes);
      fMain->Actualisation();
      QVERIFY(!fMain->seMinArea->isVisibleTo(fMain->grpArea));
      QVERIFY(!fMain->sePropLargePatches->isVisibleTo(fMain->grpArea));
    }
    // "Delaunay" shows the link group with neither of its controls.
    fMain->cbConnectance->setCurrentIndex(2);
    fMain->Actualisation();
    QVERIFY(fMain->grpConnectance->isVisibleTo(fMain->tsLinks));
    QVERIFY(!fMain->edDistanceThreshold->isVisibleTo(fMain->grpConnectance));
    QVERIFY(!fMain->seConnectance->isVisibleTo(fMain->grpConnectance));
  }

  void WorkbenchCaptionsNumberTheOpenWorkbenches() {
    fMain->mnNewDemogenetic->trigger();
    fMain->mnNewDemogenetic->trigger();
    QCOMPARE(fCreated.size(), size_t(2));
    QCOMPARE(fCreated[0]->windowTitle(), QString("Matrix Model 1 (v.1.0.1.3)"));
    QCOMPARE(fCreated[1]->windowTitle(), QString("Matrix Model 2 (v.1.0.1.3)"));
    QVERIFY(fMain->CurrentModel == fCreated[1]);
    QVERIFY(fCreated[1]->isVisible());
    QVERIFY(fCreated[0]->close());
    QTRY_VERIFY(fCreated[0].isNull());
    QCOMPARE(fMain->fModels.size(), size_t(1));
    fMain->mnNewGraph->trigger();
    QCOMPARE(fCreated[2]->windowTitle(), QString("Graph-based model 2 (v. 1.0.1.2)"));
    QVERIFY(fMain->fModels == std::vector<vandrel::tModelForm*>({fCreated[1], fCreated[2]}));

    fMain->mnNewDemographic->trigger();
    fMain->mnNewBigMatrix->trigger();
    fMain->mnNewIBM->trigger();
    QCOMPARE(fCreated[3]->windowTitle(), QString("Simple Demo Model 3 (v.1.0.1.0)"));
    QCOMPARE(fCreated[4]->windowTitle(), QString("The Big Matrix 4 (v.1.3.0.17)"));
    QCOMPARE(fCreated[5]->windowTitle(), QString("Individual-based model 5 (v. 1.7.1.73)"));
    // Closing the current workbench leaves none current; the commands then do nothing.
    QVERIFY(fCreated[5]->close());
    QVERIFY(fMain->CurrentModel == nullptr);
    fMain->mnInitialise->trigger();
    fMain->mnRun->trigger();
    for (auto& bench : fCreated)
      if (bench) QCOMPARE(bench->Initialisations, 0);
    QVERIFY(!HiddenItemEnabled(fMain->mnShakyPosition));
    fMain->mnNewGraph->trigger();
    QVERIFY(HiddenItemEnabled(fMain->mnShakyPosition));
    QVERIFY(HiddenItemEnabled(fMain->mnMovingWindow));
  }

  void AKindThatIsNotBuiltSaysSo() {
    fMain->SetWorkbenchFactory(tWorkbenchKind::wkGraph, nullptr);
    fMain->mnNewGraph->trigger();
    QVERIFY(fMain->fModels.empty());
    QCOMPARE(fDialogs->Messages.size(), size_t(1));
  }

  void TestingModeTogglesTheHanskiItem() {
    QVERIFY(!vandrel::TestingMode);
    QVERIFY(!HiddenItemEnabled(fMain->mnNewHanski));
    fMain->mnTestingMode->trigger();
    QVERIFY(vandrel::TestingMode);
    QVERIFY(fMain->mnTestingMode->isChecked());
    QVERIFY(HiddenItemEnabled(fMain->mnNewHanski));
    QVERIFY(!fMain->mnNewHanski->isVisible());
    fMain->mnTestingMode->trigger();
    QVERIFY(!vandrel::TestingMode);
    QVERIFY(!fMain->mnTestingMode->isChecked());
    QVERIFY(!HiddenItemEnabled(fMain->mnNewHanski));
    fMain->mnNewHanski->trigger();
    QVERIFY(fMain->fModels.empty());
  }

  void TestingModeFollowsTheUserName() {
    // The window of every other test starts out of testing mode; one made as the
    // program makes it follows the name of the user running it.
    QVERIFY(!vandrel::TestingMode && !fMain->mnTestingMode->isChecked());
    testsupport::CloseMainWindow(fMain);
    fMain = testsupport::OpenMainWindow(fDialogs, false);
    const std::string user = utile::PlatformUserName();
    QCOMPARE(vandrel::TestingMode, user == "tkorvel7" || user == "mbrunda");
    QCOMPARE(fMain->mnTestingMode->isChecked(), vandrel::TestingMode);
  }

  void DoubleClickOnTheAboutIconTogglesTestingMode() {
    vandrel::TAboutBox box(fMain);
    QTest::mouseDClick(box.ProgramIcon, Qt::LeftButton);
    QVERIFY(vandrel::TestingMode);
    QVERIFY(HiddenItemEnabled(fMain->mnNewHanski));
    QCOMPARE(fDialogs->Messages, std::vector<std::string>({"Testing mode"}));
    QTest::mouseDClick(box.ProgramIcon, Qt::LeftButton);
    QVERIFY(!vandrel::TestingMode);
  }

  void OpeningAModelFileGoesByItsFirstLine() {
    testsupport::tTempFolder folder;
    const std::string ibm = folder.File("cycle.model");
    models::SaveModelFile(ibm, models::tIBModelFile{});
    const std::string other = folder.File("other.model");
    utile::SaveTextToFile(other, "Matrix model\r\n");

    fMain->mnNewDemogenetic->trigger();
    fDialogs->FileNames = {ibm};
    fMain->mnOpenModel->trigger();
    QCOMPARE(fDialogs->Titles.back(), std::string("Open a model file"));
    QCOMPARE(fDialogs->Filters.back(), std::string("Model files (*.model)|*.model|All files (*.*)|*.*"));
    QCOMPARE(fCreated.size(), size_t(2));
    QCOMPARE(fCreated[1]->windowTitle(), QString("Simple IBM 2 (v. 1.7.1.73)"));
    QCOMPARE(fCreated[1]->Opened, std::vector<std::string>({ibm}));
    QVERIFY(fCreated[0]->Opened.empty());
    // Even with an individual-based workbench open, the file gets a new one.
    fDialogs->FileNames = {ibm};
    fMain->mnOpenModel->trigger();
    QCOMPARE(fCreated.size(), size_t(3));
    QCOMPARE(fCreated[2]->windowTitle(), QString("Simple IBM 3 (v. 1.7.1.73)"));
    // A file that no workbench reads says so and changes nothing.
    fDialogs->FileNames = {other};
    fMain->mnOpenModel->trigger();
    QCOMPARE(fCreated.size(), size_t(3));
    QVERIFY(fCreated[2]->Opened.size() == 1);
    QVERIFY(fDialogs->Messages.back().find("is not a model file") != std::string::npos);
    // A cancelled dialog does nothing.
    fMain->mnOpenModel->trigger();
    QCOMPARE(fCreated.size(), size_t(3));
  }

  void ARefusedModelFileLeavesTheWorkbenchesAsTheyWere() {
    testsupport::tTempFolder folder;
    const std::string garbled = folder.File("garbled.model");
    utile::SaveTextToFile(garbled, "IBsimple 4\r\nnot a model\r\n");
    const std::string readable = folder.File("readable.model");
    models::SaveModelFile(readable, models::tIBModelFile{});
    fMain->mnNewDemogenetic->trigger();
    fMain->mnNewGraph->trigger();
    const std::vector<vandrel::tModelForm*> before = fMain->fModels;
    vandrel::tModelForm* const current = fMain->CurrentModel;
    QCOMPARE(current, before.back());
    const QStringList captions = {before[0]->windowTitle(), before[1]->windowTitle()};

    // A body that cannot be read: the file's name in the message, no workbench made.
    fDialogs->FileNames = {garbled};
    fMain->mnOpenModel->trigger();
    QVERIFY(fDialogs->Messages.back().find("garbled.model") != std::string::npos);
    QCOMPARE(fDialogs->Kinds.back(), vandrel::tMessageKind::mkError);
    QCOMPARE(fCreated.size(), size_t(2));
    // A file the workbench made for it refuses: that workbench goes again.
    fMain->SetWorkbenchFactory(tWorkbenchKind::wkIBSimple, [this](vandrel::TdlgVandrel* owner) {
      auto* bench = new tTestWorkbench(owner);
      bench->RefuseModelFiles = true;
      fCreated.emplace_back(bench);
      return bench;
    });
    fDialogs->FileNames = {readable};
    fMain->mnOpenModel->trigger();
    QVERIFY(fDialogs->Messages.back().find("is not a model of this workbench") != std::string::npos);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCOMPARE(fCreated.size(), size_t(3));
    QVERIFY(fCreated[2].isNull());
    QVERIFY(fMain->fModels == before);
    QCOMPARE(fMain->CurrentModel, current);
    QCOMPARE(QStringList({before[0]->windowTitle(), before[1]->windowTitle()}), captions);
    // The next workbench is numbered as if nothing had been opened.
    fMain->mnNewDemogenetic->trigger();
    QCOMPARE(fMain->CurrentModel->windowTitle(), QString("Matrix Model 3 (v.1.0.1.3)"));
  }

  void SavingWhereThereIsNoModelFileSaysSo() {
    const testsupport::tTempFolder folder;
    fMain->mnNewDemogenetic->trigger();
    fDialogs->FileNames = {folder.File("never.model")};
    fMain->mnSaveModel->trigger();
    fMain->mnSaveModelAs->trigger();
    QCOMPARE(fDialogs->Titles.size(), size_t(0));
    QCOMPARE(fDialogs->Messages.size(), size_t(2));
    QVERIFY(fDialogs->Messages[0].find("has no model file") != std::string::npos);
    QVERIFY(fCreated[0]->fFilename.empty());

    // With model files: the name is asked for once, then saving goes on under it.
    fCreated[0]->WithModelFile = true;
    fDialogs->FileNames = {folder.File("saved.model")};
    fMain->mnSaveModel->trigger();
    QCOMPARE(fDialogs->Titles, std::vector<std::string>({"Save model"}));
    QCOMPARE(fCreated[0]->fFilename, folder.File("saved.model"));
    QCOMPARE(fCreated[0]->Saves, 1);
    fMain->mnSaveModel->trigger();
    QCOMPARE(fDialogs->Titles.size(), size_t(1));
  }

  void TheTestCheckFindsTheQuantileItShows() {
    utile::RandSeed = 12345;
    fMain->mnTest->trigger();
    QVERIFY2(fDialogs->Messages.size() == 1, fDialogs->Messages.back().c_str());
    // "pnorm(q, mean=m, sd=s)  # p ~ p'": the area below q is the share drawn.
    const QString text = QString::fromStdString(fDialogs->Messages[0]);
    const QRegularExpression form(R"(^pnorm\((\S+), mean=(\S+), sd=(\S+)\)  # (\S+) ~ (\S+)$)");
    const QRegularExpressionMatch match = form.match(text);
    QVERIFY2(match.hasMatch(), qPrintable(text));
    const double mean = match.captured(2).toDouble(), sd = match.captured(3).toDouble();
    QVERIFY(mean >= -3 && mean < 3 && sd > 0 && sd < 5);
    QVERIFY(std::abs(match.captured(4).toDouble() - match.captured(5).toDouble()) < 1e-6);

    // Then a ternary chart of 20 points named by its poles, on a window of its own.
    utile::gui::tCustomTriangleSeries* triangle = nullptr;
    for (QWidget* window : QApplication::topLevelWidgets())
      for (auto* chart : window->findChildren<utile::gui::tGraphicChart*>())
        if (chart->window() != fMain && chart->SeriesCount() > 0)
          if (auto* series = qobject_cast<utile::gui::tCustomTriangleSeries*>(chart->SeriesAt(0))) {
            triangle = series;
            QCOMPARE(chart->chart()->title(), QString("Title"));
            chart->window()->close();
          }
    QVERIFY(triangle);
    QCOMPARE(triangle->count(), 20);
    QCOMPARE(triangle->Pole(1), QString("Pole 1"));
    QCOMPARE(triangle->Pole(3), QString("Pole 3"));
  }

  void HiddenPotentialityCommands() {
    models::ResultMap = {{1, 2}, {3, 4}};
    fMain->mnShakyPosition->trigger();  // disabled without a workbench
    QVERIFY(!models::ResultMap.empty());
    fMain->mnNewGraph->trigger();
    fMain->mnShakyPosition->setVisible(true);
    fMain->mnShakyPosition->trigger();
    fMain->mnShakyPosition->setVisible(false);
    QVERIFY(models::ResultMap.empty());
    QVERIFY(fMain->mnShakyPosition->isChecked() && !fMain->mnOnTheFly->isChecked());
    fMain->mnOnTheFly->trigger();
    QVERIFY(fMain->mnOnTheFly->isChecked() && !fMain->mnShakyPosition->isChecked());
    // The manual capacity button, enabled without automatic computation,
    // re-initialises the current workbench only.
    QVERIFY(!fMain->btComputeMetCapManually->isEnabled());
    fMain->ckComputeMetapop->setChecked(false);
    fMain->btComputeMetCapManually->click();
    QCOMPARE(fCreated[0]->Initialisations, 1);
  }

  void TheLinkRuleFollowsTheConnectanceChoice() {
    // Three patches of the start-up hexagon are 100 apart: a threshold of 150
    // links them all, one of 50 none, an empty one sets no limit.
    struct tCase {
      int mode;
      const char* threshold;
      int percent;
      bool offDiagonal;
    };
    for (const tCase& c : std::initializer_list<tCase>{{0, "1.5", 50, true},
                                                       {1, "150", 50, true},
                                                       {1, "50", 50, false},
                                                       {1, "", 50, true},
                                                       {3, "1.5", 0, false},
                                                       {3, "1.5", 100, true}}) {
      fMain->cbConnectance->setCurrentIndex(c.mode);
      fMain->edDistanceThreshold->setText(c.threshold);
      fMain->seConnectance->setValue(c.percent);
      fMain->ComputeConnectanceMatrix();
      QCOMPARE(models::ConnectanceMat.size(), size_t(3));
      for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) QCOMPARE(bool(models::ConnectanceMat[i][j]), i == j || c.offDiagonal);
    }
  }

  void GetPatchCountReadsTheSpinEdit() {
    fMain->seNbPatch->setValue(17);
    QCOMPARE(fMain->GetPatchCount(), 17);
  }

  void ARunningWorkbenchLocksWhatWouldRebuildIt() {
    fMain->mnNewIBM->trigger();
    tTestWorkbench* bench = fCreated[0];
    bench->RunSteps = 5;
    bool lockedDuringRun = false;
    bench->OnStep = [&](int step) {
      if (step != 2) return;
      lockedDuringRun = !fMain->pnLandscape->isEnabled() && !fMain->mnLandscape->menuAction()->isEnabled() &&
                        !fMain->mnInitialise->isEnabled() && !fMain->mnRun->isEnabled() &&
                        !fMain->mnNewIBM->isEnabled() && !fMain->mnOpenModel->isEnabled() &&
                        !vandrel::dlgPatchData->isEnabled();
      // Commands that slip through are refused.
      fMain->mnRun->trigger();
      fMain->mnInitialise->trigger();
    };
    fMain->mnRun->trigger();
    QVERIFY(lockedDuringRun);
    QCOMPARE(bench->StepsDone, 5);
    QCOMPARE(bench->Initialisations, 0);
    QVERIFY(fMain->pnLandscape->isEnabled());
    QVERIFY(fMain->mnRun->isEnabled());
    QVERIFY(fMain->mnNewIBM->isEnabled());
    QVERIFY(vandrel::dlgPatchData->isEnabled());
  }

  void ARunThatLetsAnErrorPassEndsAndUnlocks() {
    fMain->mnNewIBM->trigger();
    QPointer<tTestWorkbench> bench = fCreated[0];
    bench->RunSteps = 10;
    // This run forgets to clear its flag when a step fails.
    bench->OnStep = [](int step) {
      if (step == 2) throw utile::EInvalidOp("step failed");
    };
    fMain->mnRun->trigger();
    QCOMPARE(fDialogs->Messages, std::vector<std::string>({"step failed"}));
    QVERIFY(!bench->IsRunning());
    QVERIFY(QApplication::overrideCursor() == nullptr);
    QVERIFY(fMain->pnLandscape->isEnabled());
    QVERIFY(fMain->mnRun->isEnabled());
    // Nothing runs any more: the workbench closes at once.
    QVERIFY(bench->close());
    QVERIFY(fMain->fModels.empty());
  }

  void ClosingARunningWorkbenchStopsItAndClosesAfterwards() {
    fMain->mnNewIBM->trigger();
    QPointer<tTestWorkbench> bench = fCreated[0];
    bench->RunSteps = 1000000;
    bench->OnStep = [&](int step) {
      if (step == 3) bench->close();
    };
    fMain->mnRun->trigger();
    QVERIFY(bench);  // still there when the run returns
    QCOMPARE(bench->StepsDone, 4);
    QTRY_VERIFY(bench.isNull());
    QVERIFY(fMain->fModels.empty());
    QVERIFY(fMain->CurrentModel == nullptr);
  }

  void ClosingTheMainWindowDuringARunWaitsForIt() {
    fMain->show();
    fMain->mnNewIBM->trigger();
    QPointer<tTestWorkbench> bench = fCreated[0];
    bench->RunSteps = 1000000;
    bool closedInside = true;
    bench->OnStep = [&](int step) {
      if (step == 2) closedInside = fMain->close();
    };
    QSignalSpy closed(fMain, &vandrel::TdlgVandrel::Closed);
    fMain->mnRun->trigger();
    QVERIFY(!closedInside);
    QCOMPARE(bench->StepsDone, 3);
    QTRY_COMPARE(closed.count(), 1);
    QTRY_VERIFY(bench.isNull());
    QVERIFY(models::Patches.empty());
  }

  void ABatchOfAnotherWorkbenchCannotChangeTheLandscapeUnderARun() {
    fMain->mnNewIBM->trigger();
    fMain->mnNewIBM->trigger();
    tTestWorkbench* running = fCreated[0];
    tTestWorkbench* batch = fCreated[1];
    testsupport::tTempFolder folder;
    running->RunSteps = 3;
    bool refused = false;
    running->OnStep = [&](int step) {
      if (step != 1) return;
      try {
        batch->RunBatch({"MakeLandscape(100,100,9)", "Simulation(a)"}, folder.File("b.txt"), false);
      } catch (const utile::EInvalidOperation&) {
        refused = true;
      }
    };
    running->Run();
    QVERIFY(refused);
    QCOMPARE(models::Patches.size(), size_t(3));
    QVERIFY(!batch->IsRunning());
    // Refused before anything was touched: the controls, the patch database and the file.
    QCOMPARE(fMain->seNbPatch->value(), 3);
    QCOMPARE(fMain->seWidth->value(), 200);
    QCOMPARE(vandrel::dlgPatchData->edOverallProductivity->text(), QString("1.1"));
    QVERIFY(!utile::FileExists(folder.File("b.txt")));
    QCOMPARE(batch->Initialisations, 0);
  }

  void ALandscapeLineOfAnotherWorkbenchTouchesNoControlUnderARun() {
    fMain->mnNewIBM->trigger();
    fMain->mnNewIBM->trigger();
    tTestWorkbench* running = fCreated[0];
    tTestWorkbench* other = fCreated[1];
    running->RunSteps = 3;
    bool refused = false;
    running->OnStep = [&](int step) {
      if (step != 1) return;
      try {
        other->MakeLandscape("MakeLandscape(150,160,9)", false);
      } catch (const utile::EInvalidOperation&) {
        refused = true;
      }
    };
    running->Run();
    QVERIFY(refused);
    QCOMPARE(fMain->seWidth->value(), 200);
    QCOMPARE(fMain->seNbPatch->value(), 3);
    QCOMPARE(other->LanID, 0);
  }

  void ALandscapeChangeReinitialisesTheCurrentWorkbench() {
    fMain->mnNewDemogenetic->trigger();
    fMain->mnNewDemogenetic->trigger();
    fMain->btMakeLandscape->click();
    QCOMPARE(fCreated[1]->Initialisations, 1);
    QCOMPARE(fCreated[0]->Initialisations, 0);
    QCOMPARE(fMain->windowTitle(), QString("Vandrel 1.3.6.36 - Matrix Model 2 (v.1.0.1.3)"));
    fMain->ckComputeMetapop->setChecked(false);
    fMain->btMakeLandscape->click();
    QCOMPARE(fCreated[1]->Initialisations, 1);
  }
};

QTEST_MAIN(MainWindowTest)
#include "MainWindowTest.moc"
