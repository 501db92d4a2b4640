// The individual-based workbench initialised, run and charted: a user's run
// through compared step by step with the engine run without a window, the
// initialisation and the matrices on small landscapes worked by hand, the
// series layout, the ends of runs, Stop, closing during a run, a failing rule,
// and the lock that holds while a run is on the stack.
#include <QBarSeries>
#include <QBarSet>
#include <QCheckBox>
#include <QComboBox>
#include <QEventLoop>
#include <QGroupBox>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QSpinBox>
#include <QTabWidget>
#include <QTableWidget>
#include <QtTest>
#include <functional>

#include "ChartHarness.h"
#include "IBSimpleHarness.h"
#include "MainWindowHarness.h"
#include "ScriptedDialogs.h"
#include "TestSupport/ExceptionMessages.h"
#include "TestSupport/FakeMemory.h"
#include "TestSupport/Grabs.h"
#include "TestSupport/Measurement.h"
#include "TestSupport/MessagePumps.h"
#include "Utile/MatrixOps.h"
#include "Utile/Platform.h"
#include "Utile/RandomFunctions.h"
#include "Utile/RunTime.h"
#include "Utile/gui/CustomChartSeries.h"
#include "Utile/gui/GraphicOps.h"
#include "app/WindowServices.h"
#include "app/dlgIBSimpleU.h"
#include "app/dlgPatchDataU.h"
#include "app/dlgVandrelU.h"
#include "models/MetapopCommon.h"
#include "tests/models/IBMHarness.h"

using models::tEventCell;
using testsupport::MemoLines;
using testsupport::NewCell;
using testsupport::tScriptedDialogs;
using testsupport::TypeParameter;
using utile::gui::tLineSeriesSet;
using vandrel::TdlgIBSimple;
using vandrel::tWorkbenchKind;

namespace {

models::tCircle Circle(int id, double x, double y, double area, double b = 0, double e = 0) {
  models::tCircle c;
  c.popID = id;
  c.x = x;
  c.y = y;
  c.A = area;
  c.b = b;
  c.e = e;
  return c;
}

// The landscape of the patches: their distances, permeability 1, every pair
// linked but the ones named.
void SetLandscape(const models::tArrayOfCircles& patches, std::vector<std::pair<int, int>> unlinked = {}) {
  models::Patches = patches;
  std::vector<std::pair<double, double>> positions;
  for (const models::tCircle& c : patches) positions.emplace_back(c.x, c.y);
  ibmtest::SetLandscape(positions);
  for (size_t i = 0; i < patches.size(); ++i) models::ConnectanceMat[i][i] = false;
  for (auto [i, j] : unlinked) models::ConnectanceMat[i][j] = models::ConnectanceMat[j][i] = false;
}

// The y values of a line of a series set.
std::vector<double> Values(const tLineSeriesSet& set, int index) {
  std::vector<double> values;
  for (const QPointF& p : set.Points(index)) values.push_back(p.y());
  return values;
}

// Calls the action whenever the watched object gets an event of the type.
class tOnEvent : public QObject {
 public:
  tOnEvent(QObject* watched, QEvent::Type type, std::function<void()> action)
      : fType(type), fAction(std::move(action)) {
    watched->installEventFilter(this);
  }
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == fType) fAction();
    return false;
  }

 private:
  QEvent::Type fType;
  std::function<void()> fAction;
};

// Runs action once the running workbench lets messages through.
void DuringTheRun(std::function<void()> action) {
  QTimer::singleShot(0, std::move(action));
}

}  // namespace

class IBSimpleRunTest : public QObject {
  Q_OBJECT

  vandrel::TdlgVandrel* fMain = nullptr;
  tScriptedDialogs* fDialogs = nullptr;
  TdlgIBSimple* fIB = nullptr;

  tEventCell* Cell(int i) const { return fIB->fEventCells.Cell(i); }
  // Birth, Survival 0.9, Dispersal (0.9, weighting 1.5), Aging, Reproduction
  // (ceiling, 3) and Death, each following the one drawn before.
  void DrawRunThroughCycle() {
    TypeParameter(fIB, NewCell(fIB, models::leSurvival), 1, "0.9");
    tEventCell* dispersal = NewCell(fIB, models::leDispersal);
    TypeParameter(fIB, dispersal, 1, "0.9");
    TypeParameter(fIB, dispersal, 2, "1.5");
    NewCell(fIB, models::leGetOlder);
    tEventCell* reproduction = NewCell(fIB, models::leReproduction);
    TypeParameter(fIB, reproduction, 1, "3");
    fIB->CellControls(reproduction)->Param3->setCurrentIndex(models::rtCeiling);
    NewCell(fIB, models::leDeath);
    QCOMPARE(fIB->mmLifeCycle->toPlainText(), QString("Life cycle correct."));
  }
  // Birth, Aging (agings times), Reproduction (density-independent or the given type) and Death.
  void DrawAgingCycle(int agings, const char* fecundity,
                      models::tReproductionType type = models::rtDensityIndependent) {
    for (int i = 0; i < agings; ++i) NewCell(fIB, models::leGetOlder);
    tEventCell* reproduction = NewCell(fIB, models::leReproduction);
    TypeParameter(fIB, reproduction, 1, fecundity);
    fIB->CellControls(reproduction)->Param3->setCurrentIndex(type);
    NewCell(fIB, models::leDeath);
  }
  void Initialise() { fIB->acInitialise->trigger(); }
  void Run() { fIB->acRun->trigger(); }
  QString LastLog(int fromEnd = 1) const {
    const QStringList lines = MemoLines(fIB->mmLog);
    return lines.size() >= fromEnd ? lines[lines.size() - fromEnd] : QString();
  }

 private slots:
  void init() {
    fMain = testsupport::OpenMainWindow(fDialogs);
    fIB = testsupport::OpenWorkbench<TdlgIBSimple>(fMain, tWorkbenchKind::wkIBSimple);
    QVERIFY(fIB);
    fIB->resize(1150, 720);
  }
  void cleanup() {
    testsupport::CloseMainWindow(fMain);
  }

  void RunThroughMatchesTheEngineStepByStep() {
    fMain->cbPatchGeometry->setCurrentIndex(models::pgHexagon);
    fMain->cbPatchSizes->setCurrentIndex(models::psFixed);
    fMain->seMaxArea->setValue(100);
    fMain->seNbPatch->setValue(7);
    fMain->btMakeLandscapeClick();
    QVERIFY(models::Patches.size() == 7 && models::Patches[6].A == 100);
    DrawRunThroughCycle();
    // The run's own counts: the pedigree analysis would draw its sizes in their place.
    fIB->ckPedigree->click();
    Initialise();
    QCOMPARE(LastLog(), QString("System initalised"));
    QVERIFY(fIB->btRun->isEnabled() && fIB->Ready());
    // The cycle the engine gets below (a built cycle that differed would chart another run).
    const models::tLifeCycle cycle = {ibmtest::Event(models::leBirth, 1),
                                      ibmtest::Survival(0.9, 2),
                                      ibmtest::Dispersal(0.9, 1.5, 3),
                                      ibmtest::Event(models::leGetOlder, 4),
                                      ibmtest::Reproduction(models::rtCeiling, 3, 5),
                                      ibmtest::Death(models::dsCensused)};
    Run();
    QVERIFY(!fIB->IsRunning() && fDialogs->Messages.empty());

    // The same landscape, cycle and seeds without a window.
    models::tMetaPop engine;
    engine.Species->SexRatio = 0.5;
    engine.Species->DispDistance = 10;
    utile::SetSeeds(10, 1);
    ibmtest::Build(engine, models::rmSexuate, std::vector<ibmtest::tPatchSetup>(7, {100, 100}), cycle, false);
    engine.MaxIndividuals = 200000000;
    engine.ExplosionSize = 40000;
    const tLineSeriesSet& abundances = *fIB->AbundanceSeries;
    const tLineSeriesSet& ratios = *fIB->SexRatioSeries;
    QCOMPARE(abundances.Count(), 24);
    int steps = 0;
    while (steps < 200 && !engine.Extinct && !engine.Explosion && !engine.Overflow) {
      engine.Run(1, 1);
      ++steps;
      double totals[3] = {0, 0, 0};
      for (int p = 0; p < 7; ++p) {
        models::tPatch* patch = engine.GetPatches(p);
        const int id = p + 1;
        const double expected[] = {double(patch->N(models::acJuvenile)), double(patch->N(models::acAdult)),
                                   double(patch->N()), patch->SexRatio()};
        const QPointF got[] = {abundances.Points(3 * id)[steps - 1], abundances.Points(3 * id + 1)[steps - 1],
                               abundances.Points(3 * id + 2)[steps - 1], ratios.Points(id)[steps - 1]};
        for (int c = 0; c < 4; ++c)
          QVERIFY2(got[c] == QPointF(steps, expected[c]),
                   qPrintable(QString("step %1, patch %2, value %3").arg(steps).arg(id).arg(c)));
        for (int c = 0; c < 3; ++c) totals[c] += expected[c];
      }
      // The whole metapopulation's line comes with its patches'.
      for (int c = 0; c < 3; ++c)
        QVERIFY2(abundances.Points(c)[steps - 1] == QPointF(steps, totals[c]),
                 qPrintable(QString("step %1, Global %2").arg(steps).arg(c)));
    }
    QCOMPARE(abundances.PointCount(4), steps);
    engine.Run(1, 1);
    QCOMPARE(fIB->Metapop->Time, engine.Time);
    QVERIFY(steps == 200 && !engine.Extinct && !engine.Explosion && !engine.Overflow);
    const QStringList expectedLog = {"Simulations running...",
                                     QString("Number of individuals:%1").arg(engine.CurrentID - 1)};
    const QStringList log = MemoLines(fIB->mmLog);  // after Initialise's line
    QCOMPARE(log.mid(1, log.size() - 2), expectedLog);
    QVERIFY(QRegularExpression("^Simulations terminated. Time elapsed: \\d\\d:\\d\\d:\\d\\d$")
                .match(log.last())
                .hasMatch());
    QVERIFY(engine.CurrentID - 1 > 700);  // the founders and their offspring

    // The same seeds give the same run again.
    std::vector<std::vector<double>> first;
    for (int s = 0; s < abundances.Count(); ++s) first.push_back(Values(abundances, s));
    Initialise();
    Run();
    for (int s = 0; s < abundances.Count(); ++s) QVERIFY(Values(abundances, s) == first[s]);

    // After the run the first seven series show.
    for (int s = 0; s < 7; ++s) QVERIFY(abundances.Active(s));
    QVERIFY(!abundances.Active(9) && abundances.Active(10));  // juveniles of patch 3 are not analysed
    // With the pedigree the analysis shows its adults; the pedigree's tabs and events come back.
    fIB->ckPedigree->click();
    Initialise();
    Run();
    for (int s = 0; s < 24; ++s) QCOMPARE(abundances.Active(s), s % 3 == 1);
    QVERIFY(fIB->pcIBSimple->isTabVisible(fIB->pcIBSimple->indexOf(fIB->tsGenetics)));
    QVERIFY(fIB->grpDisplay->isEnabled());
    QCOMPARE(fIB->fDispersalEvents.size(), size_t(7));
    QCOMPARE(utile::MatMaxValue(fIB->fDispersalEvents), 1.0);

    // The landscape chart draws the links through the workbench's functions: the
    // dispersal events of the run, the dispersal weights of the cycle.
    fMain->show();
    QVERIFY(QTest::qWaitForWindowExposed(fMain));
    int neighbour = 1;
    for (int j = 2; j < 7; ++j)
      if (models::DistanceMat[0][j] < models::DistanceMat[0][neighbour]) neighbour = j;
    const QPointF middle((models::Patches[0].x + models::Patches[neighbour].x) / 2,
                         (models::Patches[0].y + models::Patches[neighbour].y) / 2);
    const auto linkShown = [&] {  // a grey pixel within two of the middle (the line is one pixel wide)
      fMain->chSpace->Refresh();
      for (int i = 0; i < 3; ++i) QApplication::processEvents();
      utile::gui::tGraphicChart* space = fMain->chSpace;
      const QImage picture = space->grab().toImage();
      const QPoint at = space->mapFromScene(space->chart()->mapToScene(space->ValueToPixel(middle)));
      for (int dx = -2; dx <= 2; ++dx)
        for (int dy = -2; dy <= 2; ++dy) {
          const QRgb p = picture.pixel(at + QPoint(dx, dy));
          if (qRed(p) == qGreen(p) && qGreen(p) == qBlue(p) && qRed(p) < 200) return true;
        }
      return false;
    };
    for (QRadioButton* radio : {fIB->rbDispersalEvents, fIB->rbDispersalProbability}) {
      radio->click();
      QVERIFY2(fIB->GetConnectivity(0, neighbour) > 0 && linkShown(), qPrintable(radio->objectName()));
    }
    QCOMPARE(fIB->GetConnectivity(neighbour, 0), fIB->DispersalProbability(neighbour, 0));

    // Not a check: the page a person looks at.
    testsupport::SaveGrab(fMain->chSpace, "ibsimple-landscape");
    fIB->show();
    QVERIFY(QTest::qWaitForWindowExposed(fIB));
    fIB->pcIBSimple->setCurrentWidget(fIB->tsResults);
    fIB->pcResults->setCurrentWidget(fIB->tsAbundances);
    fIB->chAbundances->Refresh();
    testsupport::SaveGrab(fIB, "ibsimple-results");
  }

  void ChartsFollowALongRun() {
    // 30 patches of capacity 10 for 50,000 steps (10,000 under the sanitizers),
    // the Abundances chart showing at the window's size. While the run goes on,
    // the chart is drawn again after a small part of the run, and a drawing shows
    // the run up to the step it had reached (the rightmost pixel of the black
    // Global line); once it ends the whole run shows at once, and drawing it
    // whole takes a small part of the run's time.
    const int steps = testsupport::UnderSanitizers ? 10000 : 50000;
    models::tArrayOfCircles patches;
    for (int i = 0; i < 30; ++i) patches.push_back(Circle(i + 1, 100.0 * (i % 6), 100.0 * (i / 6), 40));
    SetLandscape(patches);
    DrawRunThroughCycle();
    fIB->ckPedigree->click();  // a pedigree of millions of records is not what this measures
    fIB->seNbTimeSteps->setValue(steps);
    Initialise();
    fIB->show();
    QVERIFY(QTest::qWaitForWindowExposed(fIB));
    fIB->pcIBSimple->setCurrentWidget(fIB->tsResults);
    fIB->pcResults->setCurrentWidget(fIB->tsAbundances);
    utile::gui::tGraphicChart* chart = fIB->chAbundances;
    const auto shownUpTo = [chart] { return testsupport::ShownUpTo(chart); };
    const QString grabs = testsupport::GrabFolder();

    // The chart's drawings during the run, and the longest stretch of the run
    // between two, in this thread's processor time: a drawing waits some twenty
    // times its own cost (a tenth of a second at least, on the clock), which the
    // other work of the machine lengthens on the clock as much as the run's steps.
    struct tSample {
      double Step, Shown;
    };
    std::vector<tSample> samples;
    int drawings = 0;
    double lastDrawing = 0, longestWithoutDrawing = 0;
    bool running = false, reading = false;  // the test's own look at the chart is no drawing of the run
    QEventLoop* waiting = nullptr;           // for the next drawing
    tOnEvent drawn(chart->viewport(), QEvent::Paint, [&] {
      if (!running || reading || !fIB->IsRunning()) return;
      ++drawings;
      const double now = testsupport::ThreadSeconds();
      longestWithoutDrawing = std::max(longestWithoutDrawing, now - lastDrawing);
      lastDrawing = now;
      if (waiting) waiting->quit();
    });
    // At each fifth of the run but the last the run waits, messages passing, for
    // the chart's next drawing, which shows every step given so far.
    double nextSample = 0.2 * steps;
    testsupport::tEveryPumpCall calls([&] {
      const double step = fIB->Metapop ? double(fIB->Metapop->Time) : 0;
      if (step < nextSample || nextSample > 0.8 * steps) return;
      nextSample += 0.2 * steps;
      // Messages pass until the chart is drawn (its refresh comes up to ten
      // seconds later on a machine slow to paint; twenty stand for never).
      // A drawing already on its way (of the refresh before this step, or the
      // window's own) shows the chart as it was: the one to read is the drawing
      // after which nothing waits for a refresh.
      const int drawingsBefore = drawings;
      QEventLoop loop;
      QTimer::singleShot(20000, &loop, &QEventLoop::quit);
      waiting = &loop;
      QDeadlineTimer never(20000);
      do loop.exec();
      while (chart->RefreshPending() && !never.hasExpired());
      waiting = nullptr;
      if (drawings == drawingsBefore || chart->RefreshPending()) return;
      reading = true;
      samples.push_back({step, shownUpTo()});
      // The moment of a run at which a person once saw the chart far behind.
      if (!grabs.isEmpty() && samples.size() == 2) fIB->grab().save(grabs + "/ibsimple-longrun-40.png");
      reading = false;
      lastDrawing = testsupport::ThreadSeconds();
    });
    running = true;
    double start = testsupport::ThreadSeconds();
    lastDrawing = start;
    Run();
    const double runSeconds = testsupport::ThreadSeconds() - start;
    running = false;
    longestWithoutDrawing = std::max(longestWithoutDrawing, start + runSeconds - lastDrawing);
    const int ran = fIB->AbundanceSeries->PointCount(1);
    QVERIFY2(ran > steps / 5, qPrintable(QString("the run ended at %1").arg(ran)));
    qInfo(
        "%d steps, %lld passes of the pump, %d drawings of the chart, at most %.3f s of processor time "
        "between two",
        ran, static_cast<long long>(calls.Pumps()), drawings, longestWithoutDrawing);
    const double longest = testsupport::UnderSanitizers ? 3.0 : 1.0;
    QVERIFY2(longestWithoutDrawing < longest,
             qPrintable(QString("%1 s of the run without a drawing").arg(longestWithoutDrawing)));
    QVERIFY2(samples.size() >= std::min<size_t>(4, size_t(5.0 * ran / steps)),
             qPrintable(QString("%1 samples").arg(samples.size())));
    // A pixel of the time axis spans some fifty steps; the Global line is two wide;
    // the step in progress (and the one counted ahead of it) have no point yet.
    const double pixel = steps / chart->chart()->plotArea().width();
    for (const tSample& sample : samples)
      QVERIFY2(sample.Shown <= sample.Step + 3 * pixel && sample.Step - sample.Shown <= 3 * pixel + 2,
               qPrintable(QString("at step %1 the chart showed %2").arg(sample.Step).arg(sample.Shown)));
    // Every point kept, the whole run shown at once.
    if (!grabs.isEmpty()) fIB->grab().save(grabs + "/ibsimple-longrun.png");
    QCOMPARE(fIB->AbundanceSeries->PointCount(0), ran);
    QVERIFY2(shownUpTo() > 0.97 * ran, qPrintable(QString::number(shownUpTo())));
    // Drawn whole again (at other axes and back).
    start = testsupport::ThreadSeconds();
    chart->SetBottomAxisRange(0, 1);
    chart->SetAutomaticAxes();
    const QImage whole = chart->grab().toImage();
    const double drawingSeconds = testsupport::ThreadSeconds() - start;
    QVERIFY(!whole.isNull());
    qInfo("%d steps on 30 patches ran in %.2f s; the chart drawn whole in %.3f s (processor time)", ran,
          runSeconds, drawingSeconds);
    if (!testsupport::UnderSanitizers)
      QVERIFY2(drawingSeconds < 0.05 * runSeconds,
               qPrintable(QString("%1 s to draw a run of %2 s").arg(drawingSeconds).arg(runSeconds)));
  }

  void InitialiseOnSmallLandscapes() {
    DrawAgingCycle(2, "1");
    SetLandscape({Circle(1, 0, 0, 2.5, 0.5, 0.1), Circle(2, 10, 0, 3.5, 2, 0.2)});
    QTableWidget* genes = fIB->sgGenes;
    genes->item(3, 1)->setText("0.25");
    genes->item(5, 1)->setText("x");
    Initialise();
    models::tMetaPop& metapop = *fIB->Metapop;
    QCOMPARE(metapop.PatchCount(), 2);
    // Capacities round their halves to even; founders fill them; suitability 1 unless asked for.
    struct tPatchCase {
      int Capacity, Founders;
      float Suitability, Extinction, Area;
    };
    const auto patches = [&](std::initializer_list<tPatchCase> expected) {
      int i = 0;
      for (const tPatchCase& c : expected) {
        const models::tPatch* p = metapop.GetPatches(i++);
        QVERIFY(p->Capacity == c.Capacity && p->IndCount() == c.Founders && p->Suitability == c.Suitability);
        QVERIFY(p->Extinction == c.Extinction && p->Area == c.Area);
      }
    };
    patches({{2, 2, 1, 0.1f, 2.5f}, {4, 4, 1, 0.2f, 3.5f}});
    QVERIFY(metapop.GenePrevalences()[3] == 0.25 && metapop.GenePrevalences()[5] == 0);
    QVERIFY(metapop.Pool()->Count() >= 2 * metapop.N());
    // The pedigree's ages are those of the cycle just built: two agings before reproduction and death.
    QVERIFY(metapop.Pedigree() && metapop.Pedigree()->MaxAge() == 2 &&
            metapop.Pedigree()->AgeReproduction() == 2);
    fIB->ckPatchSuitability->setChecked(true);
    fIB->rbAbundanceFixed->setChecked(true);
    fIB->seInitialAbundance->setValue(5);
    fIB->edTerritoryArea->setText("0.5");
    fIB->RemoveCell(fIB->fEventCells.Cell(2));  // one aging left
    Initialise();
    patches({{5, 5, 0.5f, 0.1f, 2.5f}, {7, 5, 2, 0.2f, 3.5f}});
    QVERIFY(metapop.Pedigree()->MaxAge() == 1 && metapop.Pedigree()->AgeReproduction() == 1);

    // 30,000 founders: the pool, grown by 10,000 when empty, is filled to twice that.
    SetLandscape({Circle(1, 0, 0, 5000), Circle(2, 10, 0, 5000), Circle(3, 20, 0, 5000)});
    fIB->rbAbundanceK->setChecked(true);
    Initialise();
    QCOMPARE(metapop.N(), 30000);
    QCOMPARE(metapop.Pool()->Count(), 60000);

    // A territory area without a capacity is refused by name; nothing changes.
    for (const char* territory : {"0", "-1", "1e-300"}) {
      fIB->edTerritoryArea->setText(territory);
      fDialogs->Messages.clear();
      const QString log = fIB->mmLog->toPlainText();
      Initialise();
      QCOMPARE(fDialogs->Messages.size(), size_t(1));
      QVERIFY2(fDialogs->Messages[0].find(std::string("\"") + territory + "\"") != std::string::npos,
               fDialogs->Messages[0].c_str());
      QVERIFY(fIB->mmLog->toPlainText() == log && metapop.N() == 30000 && fIB->Ready());
      QCOMPARE(fIB->CurrentBatchStep, std::string("Individual initialisation"));
    }
    // The model's patches follow the landscape, whatever the patch-count box says.
    {
      const QSignalBlocker quiet(fMain->seNbPatch);
      fMain->seNbPatch->setValue(9);
    }
    fIB->edTerritoryArea->setText("1");
    Initialise();
    QCOMPARE(metapop.PatchCount(), 3);
  }

  void MatricesAndConnectivityOnAThreePatchLine() {
    // Patches 10 apart, the ends not linked; capacities 10, 20, 30.
    SetLandscape({Circle(1, 0, 0, 10), Circle(2, 10, 0, 20), Circle(3, 20, 0, 30)}, {{0, 2}});
    TypeParameter(fIB, NewCell(fIB, models::leDispersal), 1, "0.9");
    TypeParameter(fIB, fIB->fEventCells.SelectedCell(), 2, "10");
    DrawAgingCycle(1, "2");
    Initialise();
    const double e1 = std::exp(-1.0), e2 = std::exp(-2.0);
    const utile::tMatrixOfDouble kernel = {{1, e1, e2}, {e1, 1, e1}, {e2, e1, 1}};
    const utile::tMatrixOfDouble connectivity = {{0, 0.5, 0}, {1, 0, 1}, {0, 0.5, 0}};
    // Destination weights exp(-d / 10) among the linked patches, columns summing to 1.
    const utile::tMatrixOfDouble weights = {{0, 0.5, 0}, {1, 0, 1}, {0, 0.5, 0}};
    QCOMPARE(fIB->cbDispersalEvent->count(), 1);
    QCOMPARE(fIB->cbDispersalEvent->currentText(), QString("Event 2"));
    for (auto [i, j] : {std::pair{0, 2}, {1, 0}, {2, 1}}) {
      QVERIFY(std::abs(double(fIB->ExpaDij[i][j]) - kernel[i][j]) < 1e-15);
      QVERIFY(std::abs(fIB->ConnectivityMat[i][j] - connectivity[i][j]) < 1e-15);
    }
    // Each radio gives the landscape chart its function.
    const double diagonal = std::hypot(fMain->seWidth->value(), fMain->seHeight->value());
    struct tChoice {
      QRadioButton* Radio;
      std::function<double(int, int)> Expected;
    };
    const std::vector<tChoice> choices = {
        {fIB->rbConnectivity, [&](int i, int j) { return kernel[i][j]; }},
        {fIB->rbDispersalProbability, [&](int i, int j) { return weights[i][j]; }},
        {fIB->rbTest, [&](int i, int j) { return 0.2 * (i == j ? 1 : 0.9) * weights[i][j]; }},
        {fIB->rbDispersalEvents, [](int, int) { return 0.0; }},  // no run yet
        {fIB->rbDistance, [&](int i, int j) { return 1 - 10.0 * std::abs(i - j) / diagonal; }},
    };
    for (const tChoice& choice : choices) {
      choice.Radio->click();
      for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
          QVERIFY2(std::abs(fIB->GetConnectivity(i, j) - choice.Expected(i, j)) < 1e-12,
                   qPrintable(choice.Radio->objectName()));
      QCOMPARE(!fIB->grpBackwardDispersal->isHidden(), choice.Radio == fIB->rbTest);
    }

    // The expected immigration at p = 0.3: E[i][j] = 0.3 x 0.9 x weight x K_j, E[i][i] = 0.7 K_i.
    fIB->rbTest->click();
    fIB->tbTestDispersalProb->setValue(30);
    QCOMPARE(fIB->edTestDispersalProb->text(), QString("0.30"));
    QCOMPARE(MemoLines(fIB->mmBackwardDispersal),
             QStringList({"Expected immigration matrix [individuals]:", "7.000\t2.700\t0.000",
                          "2.700\t14.000\t8.100", "0.000\t2.700\t21.000", "",
                          "Expected immigration probabilities:", "0.278\t0.435\t0.114"}));
    const double mean = (2.7 / 9.7 + 10.8 / 24.8 + 2.7 / 23.7) / 3;
    QVERIFY(std::abs(fIB->edExpImmigrationProb->text().toDouble() - mean) < 1e-12);

    // A flat kernel for a distance that is not above 0.
    for (const char* distance : {"0", "-5"}) {
      fIB->edDispersalDistance->setText(distance);
      Initialise();
      for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) QCOMPARE(double(fIB->ExpaDij[i][j]), 1.0);
      QVERIFY(fIB->ConnectivityMat[1][0] == 1 && fIB->ConnectivityMat[0][1] == 0.5);
    }

    // The landscape grows without an Initialise: beyond what was built, every function gives 0.
    models::Patches.push_back(Circle(4, 30, 0, 10));
    models::Patches.push_back(Circle(5, 40, 0, 10));
    for (auto function : {&TdlgIBSimple::DispersalDistance, &TdlgIBSimple::DispersalProbability,
                          &TdlgIBSimple::DispersalTest, &TdlgIBSimple::DispersalEvents})
      for (auto [i, j] : {std::pair{4, 0}, {0, 4}, {3, 3}}) QCOMPARE((fIB->*function)(i, j), 0.0);
    // A dispersal cell removed since the list was made chooses nothing.
    fIB->rbDispersalProbability->click();
    fIB->RemoveCell(fIB->fEventCells.Cell(1));
    QCOMPARE(fIB->DispersalProbability(1, 0), 0.0);
  }

  void ShowModelDescribesTwoPatches() {
    models::Patches = {Circle(1, 0, 0, 50), Circle(2, 30, 40, 12.4)};
    models::DistanceMat = {{0, 50}, {50, 0}};
    models::FrictionMap = {{1, 0.25}, {0.25, 1}};
    models::ConnectanceMat = {{false, true}, {true, false}};
    fIB->edName->setText("Vole");
    fIB->btApply->setEnabled(true);
    fIB->btApply->click();
    QStringList lines = MemoLines(fIB->mmModel);
    QVERIFY(lines.size() > 1 && lines[1].startsWith("Date:\t") && lines[1].size() > 8);
    lines.removeAt(1);
    QCOMPARE(lines, QStringList({"Species:\tVole", "", "PATCHES:", "", "ID\tX\tY\tArea\tCapacity",
                                 "1\t0\t0\t50\t50", "2\t30\t40\t12\t12", "", "MATRICES:", "",
                                 "Distance matrix:", "0\t50\t", "50\t0\t", "Permeability matrix:",
                                 "1\t0.25\t", "0.25\t1\t", "Connectance matrix:", "0\t1\t", "1\t0\t"}));
    QCOMPARE(fIB->windowTitle(), QString());  // never saved: no file name
  }

  void SeriesLayoutTitlesColoursAndActivity() {
    SetLandscape({Circle(1, 0, 0, 10), Circle(2, 10, 0, 10), Circle(3, 20, 0, 10), Circle(4, 30, 0, 10)});
    DrawAgingCycle(1, "2");
    fIB->ckCountTags->setChecked(true);
    for (QCheckBox* box : {fIB->ckF, fIB->ckTheta, fIB->ckAlpha, fIB->ckJuveniles}) box->setChecked(true);
    Initialise();
    const tLineSeriesSet& alpha = *fIB->AlphaSeries;
    QVERIFY(fIB->AbundanceSeries->Count() == 15 && fIB->FixationSeries->Count() == 15);
    QVERIFY(fIB->CoancestrySeries->Count() == 15 && fIB->SexRatioSeries->Count() == 5);
    QCOMPARE(alpha.Count(), 21);
    QCOMPARE(fIB->TagSeries->Count(), 0);  // the cycle tags nobody
    QStringList titles;
    for (int m = 0; m < 7; ++m) titles << alpha.Title(3 * m);
    QCOMPARE(titles, QStringList({"Global", "1-2", "1-3", "2-3", "1-4", "2-4", "3-4"}));
    // A triple shares title, colour and width; Global is black and wide, patches take their colours.
    for (const tLineSeriesSet* set :
         {fIB->AbundanceSeries.get(), fIB->FixationSeries.get(), fIB->CoancestrySeries.get()})
      for (int k = 0; k <= 4; ++k) {
        const QString title = k == 0 ? QString("Global") : QString("Patch %1").arg(k);
        for (int c = 0; c < 3; ++c) {
          QVERIFY(set->Title(3 * k + c) == title && set->Color(3 * k + c) == set->Color(3 * k));
          QCOMPARE(set->PenWidth(3 * k + c), k == 0 ? 2 : 1);
        }
        if (k == 0) QCOMPARE(set->Color(0), QColor(Qt::black));
        if (k > 0 && fMain->PatchColor.size() >= 4)
          QCOMPARE(set->Color(3 * k), utile::gui::ToQColor(fMain->PatchColor[k - 1]));
        if (k > 1) QVERIFY(set->Color(3 * k) != set->Color(3 * k - 3));
      }
    QVERIFY(!fIB->SexRatioSeries->Active(0) && fIB->SexRatioSeries->Active(1));
    QVERIFY(fIB->pcResults->isTabVisible(fIB->pcResults->indexOf(fIB->tsTags)));
    // Every line of a triple shows while both classes are analysed; no chart series is made before a point.
    for (int s = 0; s < 21; ++s) QVERIFY(alpha.Active(s) && alpha.MadeSeries(s) == nullptr);

    // The age class shown: the first triple only with Global.
    struct tShown {
      QRadioButton* Radio;
      bool Global;
      std::vector<bool> Active;  // series 0..5
    };
    for (const tShown& c : std::initializer_list<tShown>{
             {fIB->rbJuveniles, true, {true, false, false, true, false, false}},
             {fIB->rbAllAgeClasses, true, {false, false, true, false, false, true}},
             {fIB->rbAllAgeClasses, false, {false, false, false, false, false, true}},
             {fIB->rbAdults, false, {false, false, false, false, true, false}}}) {
      c.Radio->setChecked(true);
      fIB->ckShowGlobal->setChecked(c.Global);
      for (const tLineSeriesSet* set : {fIB->AbundanceSeries.get(), fIB->AlphaSeries.get()})
        for (int s = 0; s < 6; ++s) QCOMPARE(set->Active(s), bool(c.Active[s]));
    }
    // With juveniles off, neither their radio nor that of all classes can be chosen.
    fIB->rbAllAgeClasses->setChecked(true);
    fIB->ckJuveniles->click();
    QVERIFY(!fIB->rbAllAgeClasses->isEnabled() && !fIB->rbAllAgeClasses->isChecked());
    QVERIFY(!fIB->rbJuveniles->isEnabled() && !fIB->rbJuveniles->isChecked() && fIB->rbAdults->isEnabled());
  }

  void EndsOfRuns() {
    // Birth, Aging, Aging, Reproduction without offspring, Death: everyone dies in step 3.
    SetLandscape({Circle(1, 0, 0, 10), Circle(2, 10, 0, 10)});
    DrawAgingCycle(2, "0");
    fIB->ckPatchOccupancy->setChecked(true);
    fIB->ckPedigree->click();  // the run's own counts stay in the chart
    struct tCase {
      int Steps, Points;
      const char* Logged;
    };
    for (const tCase& c :
         std::initializer_list<tCase>{{200, 3, "!!! Extinction at time 3 !!!"},
                                      {2, 2, "!!! Extinction at time 3 !!!"}}) {  // the extra step
      fIB->seNbTimeSteps->setValue(c.Steps);
      Initialise();
      Run();
      QCOMPARE(fIB->AbundanceSeries->PointCount(4), c.Points);
      QCOMPARE(LastLog(3), QString(c.Logged));
      QCOMPARE(LastLog(2), QString("Number of individuals:20"));  // ever created, none living
      QCOMPARE(fIB->Metapop->N(), 0);
    }
    // Two points: no occupancy; the tab shows.
    QBarSet* bars = fIB->OccupancyBars->barSets().constFirst();
    QVERIFY(bars->count() == 3 && bars->at(1) == 0 && bars->at(2) == 0);
    QVERIFY(fIB->pcResults->isTabVisible(fIB->pcResults->indexOf(fIB->tsPatchOccupancy)));
    // Ten steps of a population that lasts: 8 of the 10 points count.
    SetLandscape({Circle(1, 0, 0, 50), Circle(2, 10, 0, 50)});
    fIB->RemoveCell(fIB->fEventCells.Cell(2));
    TypeParameter(fIB, fIB->fEventCells.Cell(2), 1, "4");
    fIB->CellControls(fIB->fEventCells.Cell(2))->Param3->setCurrentIndex(models::rtCeiling);
    fIB->seNbTimeSteps->setValue(10);
    Initialise();
    Run();
    QVERIFY(fIB->Metapop->N() > 0);
    QVERIFY(bars->at(1) == 0.8 && bars->at(2) == 0.8);

    // The other two ends: above the explosion size, more identifiers than allowed.
    struct tEnd {
      QSpinBox* Limit;
      const char* Logged;
    };
    for (const tEnd& end :
         {tEnd{fIB->seExplosion, "!!! Explosion at time %1 !!!"},
          {fIB->seMaxIndividuals, "!!! Max. number of individuals reached at time %1 !!!"}}) {
      TypeParameter(fIB, fIB->fEventCells.Cell(2), 1, "20");
      end.Limit->setValue(100);
      Initialise();
      Run();
      const int steps = fIB->AbundanceSeries->PointCount(4);
      QVERIFY(steps < 10 && (end.Limit == fIB->seMaxIndividuals || fIB->Metapop->ExtTime == steps));
      QCOMPARE(LastLog(3), QString(end.Logged).arg(steps));
      end.Limit->setValue(end.Limit->maximum());
    }

    // A landscape without patches: untouched matrices, nothing charted.
    const size_t built = fIB->ExpaDij.size();
    SetLandscape({});
    Initialise();
    QCOMPARE(fIB->ExpaDij.size(), built);
    Run();
    QVERIFY(fIB->AbundanceSeries->Count() == 3 && fIB->AbundanceSeries->PointCount(1) == 0);
    QCOMPARE(LastLog(3), QString("!!! Extinction at time 1 !!!"));
  }

  void IndividualMovesAndTags() {
    // Two founders, tagged 7 on their first step; they age twice and die without offspring.
    SetLandscape({Circle(1, 0, 0, 2)});
    TypeParameter(fIB, NewCell(fIB, models::leTag), 1, "7");
    DrawAgingCycle(2, "0");
    fIB->ckIndividualMoves->setChecked(true);
    fIB->ckCountTags->setChecked(true);
    fIB->mmOutput->setPlainText("kept?");
    Initialise();
    QCOMPARE(MemoLines(fIB->mmOutput), QStringList({"", "Time: 0", "Patch 1:\t1\t2"}));
    QCOMPARE(fIB->TagSeries->Count(), 1);
    QCOMPARE(fIB->TagSeries->Title(0), QString("Tag 7"));
    Run();
    // After each step the time that comes and each individual with its next event.
    QCOMPARE(MemoLines(fIB->mmOutput),
             QStringList({"", "Time: 0", "Patch 1:\t1\t2", "", "Time: 2", "Patch 1:\t1(3)\t2(3)", "",
                          "Time: 3", "Patch 1:\t1(4)\t2(4)", "", "Time: 4", "Patch 1:"}));
    QVERIFY(Values(*fIB->TagSeries, 0) == std::vector<double>({2, 2, 0}));
  }

  void OutputOptionsFollowTheirRules() {
    QVERIFY(fIB->ckSensAbundances->isChecked() && fIB->ckSensAdults->isChecked() &&
            fIB->ckSensFstat->isChecked());
    QVERIFY(!fIB->ckSensFstat->isEnabled() && !fIB->ckSensAlleleFreq->isEnabled());  // no genome asked for
    QCOMPARE(fIB->seNbGenomes->value(), 1);
    // One age class at least: unchecking the only one checks its partner.
    fIB->ckSensAdults->click();
    QVERIFY(!fIB->ckSensAdults->isChecked() && fIB->ckSensJuveniles->isChecked() &&
            fIB->ckSensF->isEnabled());
    // FSTAT or allele frequencies at least.
    fIB->ckSensX->click();
    QVERIFY(fIB->ckSensFstat->isEnabled() && fIB->ckSensAlleleFreq->isEnabled());
    fIB->ckSensFstat->click();
    QVERIFY(!fIB->ckSensFstat->isChecked() && fIB->ckSensAlleleFreq->isChecked());
    // Genomes need the pedigree; connection profiles a permeability map.
    fIB->ckPedigree->click();
    QVERIFY(!fIB->ckSensNuclear->isEnabled() && !fIB->ckSensX->isEnabled());
    fIB->ckSensConnectionProfiles->setChecked(true);
    fIB->Actualisation();
    QVERIFY(!fIB->ckSensConnectionProfiles->isEnabled() && !fIB->ckSensConnectionProfiles->isChecked());
    // The patch database shows; the developers' test is offered in testing mode only.
    fIB->btPatchData->click();
    QVERIFY(vandrel::dlgPatchData->isVisible() && fIB->btTest->isHidden());
    fMain->SetTestingMode(true);
    auto* testing = qobject_cast<TdlgIBSimple*>(fMain->NewModel(tWorkbenchKind::wkIBSimple));
    QVERIFY(!testing->btTest->isHidden() && !testing->btShowRelMat->isHidden());
    fMain->SetTestingMode(false);
  }

  void StopEndsTheRunAfterItsStepAndTheLockHoldsUntilItReturns() {
    fMain->seNbPatch->setValue(7);
    fMain->btMakeLandscapeClick();
    DrawRunThroughCycle();
    fIB->seNbTimeSteps->setValue(1000000);
    fIB->ckPedigree->click();  // the run's own counts stay in the chart
    Initialise();
    int pointsAtStop = -1;
    bool locked = false;
    DuringTheRun([&] {
      // Running: what rebuilds or frees the model is refused.
      locked = fMain->LandscapeLocked() && !fMain->mnInitialise->isEnabled() &&
               !fIB->acInitialise->isEnabled() && !fIB->btApply->isEnabled() &&
               !fIB->cbReproductionMode->isEnabled() && !fIB->rbConnectivity->isEnabled() &&
               !fIB->tbTestDispersalProb->isEnabled() && !fIB->btFreeMemory->isEnabled() &&
               !fIB->ckPedigree->isEnabled() && !fIB->pnEventButtons->isEnabled() &&
               !fIB->btRun->isEnabled() && fIB->btStop->isEnabled();
      pointsAtStop = fIB->AbundanceSeries->PointCount(4);
      fIB->btStop->click();
      // Stopped, but the step is still on the stack: the lock holds.
      locked = locked && !fIB->fSimRunning && fIB->IsRunning() && fMain->LandscapeLocked() &&
               !fMain->pnLandscape->isEnabled() && !fIB->acInitialise->isEnabled();
      const int cells = fIB->fEventCells.Count();
      fIB->acNewEvent[models::leSurvival]->trigger();
      fIB->RemoveCell(fIB->fEventCells.Cell(2));
      locked = locked && fIB->fEventCells.Count() == cells;
      const std::string refused =
          testsupport::MessageOf<utile::EInvalidOperation>([&] { fIB->Initialise(); });
      locked = locked && refused.find("is running") != std::string::npos;
    });
    Run();
    QVERIFY(locked);
    const int points = fIB->AbundanceSeries->PointCount(4);
    QVERIFY2(points == pointsAtStop || points == pointsAtStop + 1, qPrintable(QString::number(points)));
    QCOMPARE(fIB->Metapop->Time, models::Cardinal(points + 2));  // and the extra step
    QVERIFY(MemoLines(fIB->mmLog).contains("Process interrupted by user"));
    QVERIFY(!fIB->IsRunning() && !fMain->LandscapeLocked() && fIB->acInitialise->isEnabled());
    QVERIFY(fIB->btRun->isEnabled() && fMain->mnInitialise->isEnabled() && !fIB->btStop->isEnabled());
    QVERIFY(QApplication::overrideCursor() == nullptr);
  }

  void ClosingDuringARunWaitsForIt() {
    fMain->seNbPatch->setValue(7);
    fMain->btMakeLandscapeClick();
    DrawRunThroughCycle();
    fIB->seNbTimeSteps->setValue(1000000);
    Initialise();
    QPointer<TdlgIBSimple> bench = fIB;
    DuringTheRun([&] { fIB->close(); });
    Run();
    QVERIFY(bench && bench->ClosePending() && bench->fEventCells.Count() == 6);  // closes once unwound
    QTRY_VERIFY(bench.isNull());
    QVERIFY(fMain->fModels.empty());

    // The main window too: its workbench stops, and both close after the run.
    fIB = qobject_cast<TdlgIBSimple*>(fMain->NewModel(tWorkbenchKind::wkIBSimple));
    DrawRunThroughCycle();
    fIB->seNbTimeSteps->setValue(1000000);
    Initialise();
    bench = fIB;
    QSignalSpy closed(fMain, &vandrel::TdlgVandrel::Closed);
    DuringTheRun([&] { fMain->close(); });
    Run();
    QVERIFY(bench && closed.isEmpty());
    QTRY_VERIFY(bench.isNull());
    QCOMPARE(closed.size(), 1);
    fIB = nullptr;
  }

  void AFailingRuleLeavesTheWorkbenchUsable() {
    // Clonal Ricker reproduction in a patch of capacity 0 divides by zero.
    SetLandscape({Circle(1, 0, 0, 0.4)});
    fIB->cbReproductionMode->setCurrentIndex(models::rmClonal);
    emit fIB->cbReproductionMode->activated(models::rmClonal);
    QVERIFY(!fIB->edSexRatio->isVisibleTo(fIB) &&
            !fIB->pcResults->isTabVisible(fIB->pcResults->indexOf(fIB->tsSexRatio)));
    DrawAgingCycle(1, "2", models::rtRicker);
    fIB->rbAbundanceFixed->setChecked(true);
    Initialise();
    QCOMPARE(fIB->Metapop->GetReproductionMode(), models::rmClonal);
    Run();
    QCOMPARE(fDialogs->Messages.size(), size_t(1));
    QVERIFY2(fDialogs->Messages[0].find("divides by zero") != std::string::npos,
             fDialogs->Messages[0].c_str());
    QVERIFY(!fIB->IsRunning() && !fMain->LandscapeLocked() && QApplication::overrideCursor() == nullptr);
    QVERIFY(!fIB->btRun->isEnabled() && fIB->acInitialise->isEnabled());
    // The main window's Run refuses a model that is not ready, with a message.
    fMain->mnRun->trigger();
    QVERIFY(fDialogs->Messages.size() == 2 && fDialogs->Messages[1].find("initialise") != std::string::npos);
    SetLandscape({Circle(1, 0, 0, 10)});
    Initialise();
    Run();
    QVERIFY(fDialogs->Messages.size() == 2 && fIB->AbundanceSeries->PointCount(4) > 0);
  }

  void FreeMemoryAndThePedigreeBox() {
    SetLandscape({Circle(1, 0, 0, 10)});
    DrawAgingCycle(1, "2", models::rtCeiling);
    Initialise();
    fDialogs->Confirmations = {false, true};
    fIB->btFreeMemory->click();
    QVERIFY(fIB->Metapop->Pedigree() && fIB->btRun->isEnabled());
    fIB->GeneticPedigree = std::make_unique<models::tGeneticPedigree>(*fIB->Metapop->Pedigree());
    fIB->btFreeMemory->click();
    QVERIFY(!fIB->GeneticPedigree);  // its pedigree is gone
    QCOMPARE(fDialogs->Messages,
             std::vector<std::string>(2, "This will discard the pedigree. Are you sure?"));
    QVERIFY(!fIB->Metapop->Pedigree() && !fIB->btRun->isEnabled() && !fIB->grpDisplay->isEnabled());
    QVERIFY(!fIB->pcIBSimple->isTabVisible(fIB->pcIBSimple->indexOf(fIB->tsGenetics)));
    // Pedigrees off, then on again after an Initialise: the model waits for a new one.
    fIB->ckPedigree->click();
    QVERIFY(!fIB->ckF->isEnabled() && !fIB->btRecomputePedigree->isEnabled());
    Initialise();
    QVERIFY(fIB->btRun->isEnabled() && !fIB->Metapop->Pedigree());
    fIB->ckPedigree->click();
    QVERIFY(fIB->Metapop->Pedigree() && !fIB->btRun->isEnabled() && fIB->ckF->isEnabled());
    Initialise();
    Run();
    QVERIFY(fIB->Metapop->Pedigree()->Count() == fIB->Metapop->CurrentID - 1 &&
            fDialogs->Messages.size() == 2);
  }

  void TheMemoryGaugeShowsTheMemoryInUseAndARunsMemoryGoesBack() {
    // The gauge reads the machine's memory, which the rest of the machine moves:
    // a made-up system of 64 GiB, 32 of them available, for a workbench made under it.
    testsupport::tFakeMemory machine(16 * testsupport::tFakeMemory::GiB);
    fIB = testsupport::OpenWorkbench<TdlgIBSimple>(fMain, tWorkbenchKind::wkIBSimple);
    QVERIFY(fIB);
    fIB->resize(1150, 720);
    QCOMPARE(fIB->ggMemory->maximum(), 64 * 1024);
    const auto showsInUse = [this] { return fIB->ggMemory->value() == 32 * 1024; };
    // 14 patches of capacity 2,000 run with the pedigree until more than two
    // million IDs are given (some 60 MB of pedigree).
    models::tArrayOfCircles patches;
    for (int i = 0; i < 14; ++i) patches.push_back(Circle(i + 1, 100.0 * (i % 5), 100.0 * (i / 5), 400));
    SetLandscape(patches);
    DrawRunThroughCycle();
    fIB->edTerritoryArea->setText("0.2");
    fIB->seNbTimeSteps->setValue(100000);
    fIB->seMaxIndividuals->setValue(2000000);
    constexpr double Megabyte = 1024.0 * 1024.0;
    double least = 0;  // 21 bytes a pedigree record
    const auto run = [&] {
      Initialise();
      Run();
      QVERIFY(fIB->Metapop->Overflow);
      least = 21.0 * fIB->Metapop->Pedigree()->Count() / Megabyte;
      QVERIFY2(showsInUse(), qPrintable(QString::number(fIB->ggMemory->value())));
    };
    struct tCase {
      const char* Name;
      std::function<void()> Free;
    };
    const std::vector<tCase> cases = {
        {"initialised", [this] { Initialise(); }},
        {"pedigree freed",
         [this] {
           fDialogs->Confirmations = {true};
           fIB->btFreeMemory->click();
         }},
    };
    for (const tCase& c : cases) {
      run();
      if (QTest::currentTestFailed()) return;
      const double heldAfterRun = testsupport::ResidentMB("VmRSS:");
      c.Free();
      QVERIFY2(showsInUse(), c.Name);
      // The memory the pedigree held goes back to the system.
      const double held = testsupport::ResidentMB("VmRSS:");
      if (!testsupport::UnderSanitizers)
        QVERIFY2(heldAfterRun - held >= least / 2,
                 qPrintable(QString("%1: %2 MB held after the run, %3 MB then").arg(c.Name).arg(heldAfterRun).arg(held)));
    }
  }
};

QTEST_MAIN(IBSimpleRunTest)
#include "IBSimpleRunTest.moc"
