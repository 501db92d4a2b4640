// The individual-based workbench's result charts through a user's runs: a run
// that ends by itself, one that goes on, one stopped, one that goes on after the
// stop, and a run after Initialise; after each, every line each chart shows
// against the points it recorded (at the times the runs had), the saved data
// file against both, and the axes' labels.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QtTest>

#include "ChartHarness.h"
#include "IBSimpleHarness.h"
#include "MainWindowHarness.h"
#include "TestSupport/Grabs.h"
#include "Utile/gui/CustomChartSeries.h"
#include "Utile/gui/GraphicOps.h"
#include "app/dlgIBSimpleU.h"
#include "app/dlgVandrelU.h"
#include "models/PedigreeOps.h"

using utile::gui::tDataBlock;
using utile::gui::tLineSeriesSet;
using vandrel::TdlgIBSimple;

namespace {

std::vector<double> Times(const tLineSeriesSet& set, int line) {
  std::vector<double> x;
  for (const QPointF& p : set.Points(line)) x.push_back(p.x());
  return x;
}

std::vector<double> Range(double from, double to) {
  std::vector<double> x;
  for (double t = from; t <= to; ++t) x.push_back(t);
  return x;
}

QString Text(const std::vector<double>& x) {
  if (x.empty()) return "none";
  return QString("%1 values %2..%3").arg(x.size()).arg(x.front()).arg(x.back());
}

}  // namespace

class IBSimpleChartsTest : public QObject {
  Q_OBJECT

  vandrel::TdlgVandrel* fMain = nullptr;
  testsupport::tScriptedDialogs* fDialogs = nullptr;
  TdlgIBSimple* fIB = nullptr;
  std::unique_ptr<QTemporaryDir> fFolder;
  // By hand: the metapopulation's time (1 after Initialise, one more a step and
  // one for the step after the run, which is not charted), and the times of the
  // steps charted since Initialise.
  models::Cardinal fTime = 1;
  std::vector<double> fStepTimes;

  // 14 random patches; Birth, Aging, Reproduction (ceiling, 4), Death; sexual,
  // a territory of 0.2.
  void DrawLandscapeAndCycle() {
    fMain->seNbPatch->setValue(14);
    fMain->btMakeLandscapeClick();
    QCOMPARE(models::Patches.size(), size_t(14));
    testsupport::NewCell(fIB, models::leGetOlder);
    models::tEventCell* reproduction = testsupport::NewCell(fIB, models::leReproduction, "4");
    fIB->CellControls(reproduction)->Param3->setCurrentIndex(models::rtCeiling);
    testsupport::NewCell(fIB, models::leDeath);
    fIB->edTerritoryArea->setText("0.2");
  }
  void Initialise() {
    fIB->acInitialise->trigger();
    QVERIFY(fIB->Ready());
    fTime = 1;
    fStepTimes.clear();
  }
  // A run of Steps steps, stopped after its StopAfter-th when that is above 0
  // (a Stop click as the step's counts are charted).
  void Run(int steps, int stopAfter = 0) {
    fIB->seNbTimeSteps->setValue(steps);
    const models::Cardinal first = fTime;
    models::Cardinal seen = 0;
    {
      const testsupport::tPumpWatch watch([&] {
        const models::Cardinal time = fIB->Metapop->Time;
        if (time == seen) return false;  // the windows' messages once a step
        seen = time;
        if (stopAfter > 0 && time == first + models::Cardinal(stopAfter) && fIB->fSimRunning)
          fIB->btStop->click();
        return true;
      });
      fIB->acRun->trigger();
    }
    const int ran = stopAfter > 0 ? stopAfter : steps;
    for (int k = 0; k < ran; ++k) fStepTimes.push_back(first + k);
    fTime = first + ran + 1;
    QCOMPARE(fIB->Metapop->Time, fTime);
    QVERIFY(!fIB->IsRunning() && fDialogs->Messages.empty());
  }
  void Grab(const QString& name) {
    if (testsupport::GrabFolder().isEmpty()) return;
    fIB->pcResults->setCurrentWidget(fIB->tsAbundances);
    testsupport::FirstSight(fIB->chAbundances);
    testsupport::SaveGrab(fIB, "ibsimple-abundances-" + name);
    fIB->pcResults->setCurrentWidget(fIB->tsSexRatio);
    testsupport::FirstSight(fIB->chSexRatio);
    testsupport::SaveGrab(fIB, "ibsimple-sexratio-" + name);
  }
  // The chart's page shown as a person opens it: what it draws against what it
  // holds, its labels, the data it saves against what it holds (the lines of Set
  // in its order, titled as Titles says), the picture it saves against what it shows.
  void CheckShown(QWidget* page, utile::gui::tGraphicChart* chart, const tLineSeriesSet& set,
                  const QStringList& titles, const QString& context) {
    fIB->pcResults->setCurrentWidget(page);
    testsupport::FirstSight(chart);
    QString fault = testsupport::ChartDrawingFault(chart);
    QVERIFY2(fault.isEmpty(), qPrintable(context + ": " + fault));
    fault = testsupport::AxisLabelFault(chart);
    QVERIFY2(fault.isEmpty(), qPrintable(context + ": " + fault));
    std::vector<tDataBlock> expected;
    QCOMPARE(set.Count(), int(titles.size()));
    for (int i = 0; i < set.Count(); ++i) expected.push_back({titles[i], set.Points(i)});
    fault = testsupport::SavedDataFault(chart, expected, fFolder->path());
    QVERIFY2(fault.isEmpty(), qPrintable(context + ": " + fault));
    fault = testsupport::SavedImageFault(chart, fFolder->path());
    QVERIFY2(fault.isEmpty(), qPrintable(context + ": " + fault));
  }
  // Every chart after a run, first as a person opens and saves it (before
  // anything else reads its points), then the times of its points and the whole
  // metapopulation as the sum of its patches.
  void CheckCharts(bool pedigree, const QString& context) {
    const tLineSeriesSet& abundances = *fIB->AbundanceSeries;
    const tLineSeriesSet& ratios = *fIB->SexRatioSeries;
    QStringList triples, patches = {"Global"};
    for (int k = 0; k <= 14; ++k)
      for (int c = 0; c < 3; ++c) triples << (k == 0 ? QString("Global") : QString("Patch %1").arg(k));
    for (int k = 1; k <= 14; ++k) patches << QString("Patch %1").arg(k);
    CheckShown(fIB->tsSexRatio, fIB->chSexRatio, ratios, patches, context + ", Sex ratio");
    if (QTest::currentTestFailed()) return;
    CheckShown(fIB->tsAbundances, fIB->chAbundances, abundances, triples, context + ", Abundances");
    if (QTest::currentTestFailed()) return;
    // The sex ratios of the run's steps; the whole metapopulation's line is none of them.
    QCOMPARE(ratios.PointCount(0), 0);
    for (int k = 1; k <= 14; ++k)
      QVERIFY2(
          Times(ratios, k) == fStepTimes,
          qPrintable(
              QString("%1: patch %2's sex ratios at %3").arg(context).arg(k).arg(Text(Times(ratios, k)))));
    // With the pedigree, the analysis's adults at each date from 0 to the last
    // birth date (the step after the run's), the classes not analysed empty;
    // without, every class of every step.
    if (pedigree) QCOMPARE(fIB->Metapop->Pedigree()->GenerationCount(), fTime - 1);
    for (int s = 0; s < abundances.Count(); ++s) {
      const std::vector<double> expected = !pedigree    ? fStepTimes
                                           : s % 3 == 1 ? Range(0, fTime - 1)
                                                        : std::vector<double>();
      QVERIFY2(Times(abundances, s) == expected,
               qPrintable(QString("%1: series %2 at %3 for %4")
                              .arg(context)
                              .arg(s)
                              .arg(Text(Times(abundances, s)), Text(expected))));
    }
    for (int c = pedigree ? 1 : 0; c < (pedigree ? 2 : 3); ++c) {
      const QList<QPointF> global = abundances.Points(c);
      for (qsizetype i = 0; i < global.size(); ++i) {
        double sum = 0;
        for (int k = 1; k <= 14; ++k) sum += abundances.Points(3 * k + c)[i].y();
        QVERIFY2(global[i].y() == sum,
                 qPrintable(QString("%1: class %2 at %3").arg(context).arg(c).arg(global[i].x())));
      }
    }
  }

 private slots:
  void init() {
    fMain = testsupport::OpenMainWindow(fDialogs);
    fIB = testsupport::OpenWorkbench<TdlgIBSimple>(fMain, vandrel::tWorkbenchKind::wkIBSimple);
    QVERIFY(fIB);
    fFolder = std::make_unique<QTemporaryDir>();
    QVERIFY(fFolder->isValid());
  }
  void cleanup() {
    testsupport::CloseMainWindow(fMain);
    fFolder.reset();
  }

  void EveryChartShowsAndSavesEveryPointOfEachRun() {
    // With the pedigree the Abundances chart shows the analysis of the whole
    // pedigree after each run; without, the run's own counts.
    for (const bool pedigree : {true, false}) {
      const QString mode = pedigree ? "with the pedigree" : "without the pedigree";
      if (!pedigree) {
        testsupport::CloseMainWindow(fMain);
        init();
      }
      DrawLandscapeAndCycle();
      if (!pedigree) fIB->ckPedigree->click();
      QCOMPARE(fIB->ckPedigree->isChecked(), pedigree);
      Initialise();
      fIB->show();
      QVERIFY(QTest::qWaitForWindowExposed(fIB));
      fIB->pcIBSimple->setCurrentWidget(fIB->tsResults);
      fIB->pcResults->setCurrentWidget(fIB->tsAbundances);

      Run(40);
      CheckCharts(pedigree, mode + ", a run that ends by itself");
      if (QTest::currentTestFailed()) return;
      // Run again without Initialise: the charts go on at the metapopulation's time.
      Run(30);
      CheckCharts(pedigree, mode + ", a run that goes on");
      if (QTest::currentTestFailed()) return;
      Run(1000000, 25);
      QVERIFY(fIB->mmLog->toPlainText().contains("Process interrupted by user"));
      CheckCharts(pedigree, mode + ", a stopped run");
      if (QTest::currentTestFailed()) return;
      if (pedigree) Grab("stopped");
      Run(20);
      CheckCharts(pedigree, mode + ", a run after the stop");
      if (QTest::currentTestFailed()) return;
      if (pedigree) Grab("continued");
      // Initialise starts the charts again.
      Initialise();
      QCOMPARE(fIB->AbundanceSeries->PointCount(1), 0);
      Run(15);
      CheckCharts(pedigree, mode + ", a run after Initialise");
      if (QTest::currentTestFailed()) return;
      // So does the main window's Initialise (or a batch's), which starts the
      // model again without the workbench's own command: at its next run.
      fMain->mnInitialise->trigger();
      fTime = 1;
      fStepTimes.clear();
      Run(12);
      CheckCharts(pedigree, mode + ", a run after the main window's Initialise");
      if (QTest::currentTestFailed()) return;
      // The analysis ran to its end each time.
      QCOMPARE(fIB->btRecomputePedigree->isEnabled(), pedigree);
    }
  }

  void ASecondStopEndsTheAnalysisWithWhatItDrew() {
    DrawLandscapeAndCycle();
    Initialise();
    fIB->show();
    QVERIFY(QTest::qWaitForWindowExposed(fIB));
    fIB->pcIBSimple->setCurrentWidget(fIB->tsResults);
    fIB->pcResults->setCurrentWidget(fIB->tsAbundances);
    // Stop after the 30th step, then again once the analysis has drawn ten dates.
    fIB->seNbTimeSteps->setValue(1000000);
    models::Cardinal seen = 0;
    int stops = 0;
    {
      const testsupport::tPumpWatch watch([&] {
        if (stops == 1 && fIB->lblTask->text() == "Pedigree analysis:" &&
            fIB->AbundanceSeries->PointCount(1) == 10) {
          fIB->btStop->click();
          ++stops;
          return true;
        }
        if (fIB->Metapop->Time == seen) return false;
        seen = fIB->Metapop->Time;
        if (stops == 0 && seen == 31) {
          fIB->btStop->click();
          ++stops;
        }
        return true;
      });
      fIB->acRun->trigger();
    }
    QCOMPARE(stops, 2);
    QCOMPARE(fIB->Metapop->Time, models::Cardinal(32));
    QVERIFY(!fIB->IsRunning() && fDialogs->Messages.empty());
    // The dates drawn before the second Stop stay (adults at dates 1 to 10, drawn
    // at 0 to 9), the summary is not written, Recompute is not offered.
    QVERIFY(Times(*fIB->AbundanceSeries, 1) == Range(0, 9));
    QVERIFY(!fIB->mmOutput->toPlainText().contains("Adults"));
    QVERIFY(!fIB->btRecomputePedigree->isEnabled());
    QString fault =
        (testsupport::FirstSight(fIB->chAbundances), testsupport::ChartDrawingFault(fIB->chAbundances));
    QVERIFY2(fault.isEmpty(), qPrintable(fault));
    // Recomputing draws the whole pedigree (the last birth date is 31).
    fIB->btRecomputePedigreeClick();
    QVERIFY(Times(*fIB->AbundanceSeries, 1) == Range(0, 31));
    fault = (testsupport::FirstSight(fIB->chAbundances), testsupport::ChartDrawingFault(fIB->chAbundances));
    QVERIFY2(fault.isEmpty(), qPrintable(fault));
  }
};

QTEST_MAIN(IBSimpleChartsTest)
#include "IBSimpleChartsTest.moc"
