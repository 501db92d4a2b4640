// The graph workbench: its controls and readers, the link weightings and their
// cut, the kernel chart, the threshold sweep's charts and the hidden batch page.
#include <QCheckBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QSlider>
#include <QSpinBox>
#include <QTabWidget>
#include <QValueAxis>
#include <QXYSeries>
#include <QtTest>
#include <cmath>

#include "ChartHarness.h"
#include "MainWindowHarness.h"
#include "ScriptedDialogs.h"
#include "TestSupport/StatisticalChecks.h"
#include "Utile/RunTime.h"
#include "app/SensitivityPage.h"
#include "app/WindowServices.h"
#include "app/dlgGraphModelU.h"
#include "app/dlgPatchDataU.h"
#include "app/dlgVandrelU.h"
#include "models/MetapopCommon.h"

using vandrel::TdlgGraphModel;

namespace {
struct tPatch {
  double x, y, A;
};

QList<QPointF> Points(utile::gui::tGraphicChart* chart) {
  chart->Refresh();
  return chart->Points(static_cast<QXYSeries*>(chart->SeriesAt(0)));
}

utile::gui::tGraphicChart* ResultChart(TdlgGraphModel* bench, int page) {
  return bench->pcResults->widget(page)->findChild<utile::gui::tGraphicChart*>();
}

// Four patches on a line whose inverse-distance links (1 - d / 100) bind the
// groups at 0.705 (1-2), 0.905 (0-1) and 0.955 (2-3); the rest are weaker.
const std::vector<tPatch> FourPatches = {{0, 0, 1}, {9.5, 0, 2}, {39, 0, 3}, {43.5, 0, 4}};
}  // namespace

class GraphWorkbenchTest : public QObject {
  Q_OBJECT

  vandrel::TdlgVandrel* fMain = nullptr;
  testsupport::tScriptedDialogs* fDialogs = nullptr;
  TdlgGraphModel* fBench = nullptr;

  // A landscape of the given patches, all linked, in a 60 x 80 study area (diagonal 100).
  void SetLandscape(const std::vector<tPatch>& patches) {
    {
      const QSignalBlocker a(fMain->seWidth), b(fMain->seHeight);
      fMain->seWidth->setValue(60);
      fMain->seHeight->setValue(80);
    }
    models::Patches.clear();
    for (const tPatch& p : patches) {
      models::tCircle c;
      c.popID = static_cast<int>(models::Patches.size()) + 1;
      c.x = p.x;
      c.y = p.y;
      c.A = p.A;
      models::Patches.push_back(c);
    }
    models::ComputeConnectanceMatrix(models::ctFullConnectance, 0, 0);
    fBench->Initialise();
  }
  void Check(QCheckBox* only) {
    for (QCheckBox* box : {fBench->ckGroupCount, fBench->ckOverallSize, fBench->ckExpectedSize})
      box->setChecked(box == only);
  }

 private slots:
  void init() {
    fMain = testsupport::OpenMainWindow(fDialogs);
    fBench = testsupport::OpenWorkbench<TdlgGraphModel>(fMain, vandrel::tWorkbenchKind::wkGraph);
  }
  void cleanup() {
    testsupport::CloseMainWindow(fMain);
  }

  void EditsHaveTheirCaptionsDefaultsTagsAndHints() {
    TdlgGraphModel bench(fMain);
    QCOMPARE(bench.windowTitle(), QString("Graph Model"));
    QCOMPARE(bench.size(), QSize(639, 361));
    struct tEdit {
      vandrel::tLabeledEdit* edit;
      const char *caption, *text, *hint;
    };
    std::vector<QWidget*> tagged;
    for (const tEdit& e : std::initializer_list<tEdit>{
             {bench.edColonisationRate, "Colonisation rate c=", "0.5", ""},
             {bench.edExtinctionRate, "Extinction rate e=", "0.05", ""},
             {bench.edDelta, "e/c=", "", ""},
             {bench.edZim, "Immigration factor Zim=", "0", "Effect of patch size on immigration"},
             {bench.edZem, "Emigration factor Zem=", "1", "Effect of patch size on emigration"},
             {bench.edZex, "Extinction factor Zex=", "0", "Effect of patch size on extinction"},
             {bench.edRange, "&Distance 1/alpha=", "30",
              "Parameter of the negative exponential dispersal kernel"},
             {bench.edSizeThreshold, "Size threshold:", "10", ""}}) {
      QCOMPARE(e.edit->EditLabel->text() + "|" + e.edit->text() + "|" + e.edit->toolTip(),
               QString(e.caption) + "|" + e.text + "|" + e.hint);
      tagged.push_back(e.edit);
    }
    QCOMPARE(bench.TaggedComponents.WithTag(1), tagged);
    QVERIFY(bench.edDelta->isReadOnly());
    QVERIFY(bench.rbDispersalKernel->isChecked() && bench.ckGroupCount->isChecked());
    QVERIFY(!bench.ckOverallSize->isChecked() && !bench.ckExpectedSize->isChecked());
    QCOMPARE(bench.tbDispersal->value(), 30);
    QCOMPARE(bench.tbAdjacencyThreshold->value(), 0);
    QCOMPARE(bench.GetTerritory(), 1.0);
  }

  void ReadersFallBackOnTheirDefaults() {
    for (const auto& [text, alpha] : std::initializer_list<std::pair<const char*, double>>{
             {"20", 0.05}, {"0", 0.1}, {"-4", 0.1}, {"x", 0.1}, {"", 0.1}}) {
      fBench->edRange->setText(text);
      QCOMPARE(fBench->GetAlpha(), alpha);
    }
    for (QLineEdit* edit : {fBench->edZim, fBench->edZem, fBench->edZex, fBench->edSizeThreshold})
      edit->setText("x");
    QCOMPARE(
        QList<double>({fBench->GetZim(), fBench->GetZem(), fBench->GetZex(), fBench->GetSizeThreshold()}),
        QList<double>({0, 1, 0, 10}));
  }

  void ThresholdCutsTheLinkWeights() {
    SetLandscape(FourPatches);
    fBench->edRange->setText("40");
    for (const int position : {0, 100}) {
      fBench->tbAdjacencyThreshold->setValue(position);
      const utile::tMatrixOfDouble links = fBench->ConnectivityMatrix();
      for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) {
          const double weight = std::exp(-std::fabs(FourPatches[i].x - FourPatches[j].x) / 40);
          // At 100 only the unit weights of the diagonal reach the cut.
          QVERIFY(std::fabs(links[i][j] - (position == 0 || i == j ? weight : 0.0)) < 1e-15);
        }
    }
    // Inverse distance a full diagonal apart is 0.
    SetLandscape({{0, 0, 1}, {60, 80, 1}});
    fBench->tbAdjacencyThreshold->setValue(0);
    QVERIFY(std::fabs(fBench->InverseDistance(0, 1)) < 1e-15);
    QCOMPARE(fBench->InverseDistance(1, 1), 1.0);
  }

  void KernelChartPlotsTheNegativeExponential() {
    for (const auto& [range, text] : std::initializer_list<std::pair<double, const char*>>{
             {30, "30"}, {12.5, "12.5"}, {10, "0"}, {10, "abc"}}) {
      fBench->edRange->setText(text);
      const QList<QPointF> points = Points(fBench->DispersalKernelGraph);
      QCOMPARE(points.size(), 21);
      for (int i = 0; i <= 20; ++i) {
        QCOMPARE(points[i].x(), 5.0 * i);
        QVERIFY(std::fabs(points[i].y() - std::exp(-5.0 * i / range)) < 1e-14);
      }
    }
  }

  void DeltaShowsTheRateRatio() {
    for (const auto& [c, e, shown] : std::initializer_list<std::tuple<const char*, const char*, const char*>>{
             {"3", "1", "0.333333333333333"},
             {"-2", "1", "-0.5"},
             {"x", "0.2", "0.4"},
             {"2", "x", "0.025"},
             {"0", "1", ""},
             {"0.5", "0.05", "0.1"}}) {
      fBench->edColonisationRate->setText(c);
      fBench->edExtinctionRate->setText(e);
      QCOMPARE(fBench->edDelta->text(), QString(shown));
    }
  }

  void FlowOfTwoLinkedPatches() {
    SetLandscape({{0, 0, 3}, {10, 0, 7}});
    fBench->edRange->setText("20");
    fBench->edZim->setText("0");
    fBench->edZem->setText("0");
    fBench->rbDispersalFlow->click();
    const double k = std::exp(-10.0 / 20);
    QVERIFY(std::fabs(fBench->GetConnectivity(0, 1) - k / (4 * (1 + k))) < 1e-15);
  }

  void ComputeChartsEachSelectedStatistic() {
    SetLandscape(FourPatches);
    fBench->rbDistance->click();
    fBench->edSizeThreshold->setText("5");
    struct tCase {
      QCheckBox* box;
      const char* caption;
      double expected[4];  // up to 0.70, 0.71..0.90, 0.91..0.95, 0.96..1
    };
    for (const tCase& c :
         std::initializer_list<tCase>{{fBench->ckGroupCount, "Group count", {1, 2, 3, 4}},
                                      {fBench->ckOverallSize, "Overall size", {1, 0.7, 0.7, 0}}}) {
      Check(c.box);
      const int pages = fBench->pcResults->count();
      fBench->btCompute->click();
      QCOMPARE(fBench->pcResults->count(), pages + 1);
      QCOMPARE(fBench->pcResults->tabText(pages), QString(c.caption));
      utile::gui::tGraphicChart* chart = ResultChart(fBench, pages);
      QCOMPARE(chart->SeriesCount(), 1);
      QCOMPARE(chart->BottomAxis()->titleText(), QString("Threshold"));
      QCOMPARE(chart->LeftAxis()->titleText(), QString(c.caption));
      const QList<QPointF> points = Points(chart);
      QCOMPARE(points.size(), 101);
      for (int i = 0; i <= 100; ++i) {
        QVERIFY(std::fabs(points[i].x() - i) < 1e-12);
        QCOMPARE(points[i].y(), c.expected[i <= 70 ? 0 : i <= 90 ? 1 : i <= 95 ? 2 : 3]);
      }
      QCOMPARE(chart->Metadata(), QStringList({"N=4", "1/alpha=30", "delta=0.1", "Zim=0", "Zem=1", "Zex=0",
                                               "Size threshold=5"}));
    }
  }

  void ComputedChartsShowAndSaveEveryThreshold() {
    // Computed from the parameters page, looked at afterwards, page by page.
    SetLandscape(FourPatches);
    fBench->show();
    QVERIFY(QTest::qWaitForWindowExposed(fBench));
    for (QCheckBox* box : {fBench->ckGroupCount, fBench->ckOverallSize, fBench->ckExpectedSize})
      box->setChecked(true);
    fBench->btCompute->click();
    fBench->pcModel->setCurrentWidget(fBench->tsResults);
    testsupport::tTempFolder folder;
    const QString data = QString::fromStdString(folder.File("chart.txt"));
    for (int page = 1; page <= 3; ++page) {
      fBench->pcResults->setCurrentIndex(page);
      utile::gui::tGraphicChart* chart = ResultChart(fBench, page);
      const QString where = fBench->pcResults->tabText(page);
      // At first sight: the thresholds 0 to 100 across the chart, each drawn
      // (the group count ends on the top edge, 4 groups; the sizes on the
      // bottom axis, where the picture does not tell the line from the axis).
      const double reach = testsupport::LinesReachTo(chart);
      if (page == 1)
        QVERIFY2(std::fabs(reach - 100) <= 6 * 100 / chart->chart()->plotArea().width(),
                 qPrintable(where + QString(": lines to %1").arg(reach)));
      QCOMPARE(chart->PointCount(static_cast<QXYSeries*>(chart->SeriesAt(0))), 101);
      const QString differs = testsupport::ChartDisagreement(chart, data);
      QVERIFY2(differs.isEmpty(), qPrintable(where + ": " + differs));
    }
    // The kernel's chart: its 21 points, drawn by the charting library.
    fBench->pcModel->setCurrentWidget(fBench->tsParameters);
    QVERIFY(fBench->DispersalKernelGraph->isVisible());
    const QString differs = testsupport::ChartDisagreement(fBench->DispersalKernelGraph, data);
    QVERIFY2(differs.isEmpty(), qPrintable(differs));
  }

  void ExpectedSizeRestsOnTheKernel() {
    // Two unit patches 10 apart with range 10: kernel k = exp(-1), so the group's
    // capacity is k and its expected share 1 - delta / k (distances would give 1 - delta / 10).
    SetLandscape({{0, 0, 1}, {10, 0, 1}});
    fBench->edRange->setText("10");
    Check(fBench->ckExpectedSize);
    fBench->btCompute->click();
    const QList<QPointF> points = Points(ResultChart(fBench, fBench->pcResults->count() - 1));
    QVERIFY(std::fabs(points[0].y() - (1 - 0.1 / std::exp(-1.0))) < 1e-9);
  }

  void ComputeNeedsAPositiveColonisationRateAndAddsPages() {
    for (const char* c : {"0", "-1"}) {
      fBench->edColonisationRate->setText(c);
      fDialogs->Messages.clear();
      fBench->btCompute->click();
      QCOMPARE(fDialogs->Messages, std::vector<std::string>{"Colonisation rate must be >0"});
      QCOMPARE(fBench->pcResults->count(), 1);  // the hidden design page alone
    }
    fBench->edColonisationRate->setText("0.5");
    for (QCheckBox* box : {fBench->ckGroupCount, fBench->ckOverallSize, fBench->ckExpectedSize})
      box->setChecked(true);
    fBench->btCompute->click();
    fBench->btCompute->click();
    QStringList captions;
    for (int i = 1; i < fBench->pcResults->count(); ++i) captions << fBench->pcResults->tabText(i);
    QCOMPARE(captions, QStringList({"Group count", "Overall size", "Expected size", "Group count",
                                    "Overall size", "Expected size"}));
  }

  void LeavingTheParametersKeepsTheRangeAsTyped() {
    for (const auto& [typed, position] :
         std::initializer_list<std::pair<const char*, int>>{{"35.5", 36}, {"250", 100}, {"abc", 50}}) {
      fBench->pcModel->setCurrentWidget(fBench->tsParameters);
      fBench->edRange->setText(typed);
      fBench->pcModel->setCurrentWidget(fBench->tsModel);
      QCOMPARE(fBench->tbDispersal->value(), position);
      QCOMPARE(fBench->edRange->text(), QString(typed));
    }
    // The user's track bar writes its position.
    fBench->tbDispersal->setValue(45);
    QCOMPARE(fBench->edRange->text(), QString("45"));
    QCOMPARE(fBench->DispersalKernelGraph->Alpha(), 1.0 / 45);
  }

  void HiddenBatchPageFillsTheTwelveLandscapeControls() {
    vandrel::tSensitivityPage* page = fBench->SensitivityPage;
    QVERIFY(!fBench->pcModel->isTabVisible(fBench->pcModel->indexOf(fBench->tsSensitivity)));
    QCOMPARE(page->sboxLanSensitivity->Captions(),
             utile::tVectorOfString(
                 {"Width:", "Height:", "NbPatch:", "IsolatedPatchArea:", "IsolatedPatchDistance:", "MinArea:",
                  "MaxArea:", "PropLargePatches:", "", "Connectance:", "", ""}));
    QCOMPARE(page->sboxSensitivity->Captions(),
             utile::tVectorOfString({"ColonisationRate:", "ExtinctionRate:", "Delta:", "Zim:", "Zem:", "Zex:",
                                     "Range:", "SizeThreshold:"}));
    // The output file takes any text.
    page->edOutputFile->clear();
    const testsupport::tTempFolder folder;
    const QString file = QString::fromStdString(folder.File("graph-batch_1.txt"));
    QTest::keyClicks(page->edOutputFile, file);
    QCOMPARE(page->edOutputFile->text(), file);

    page->edLanParams()[8]->setText("2.5");
    page->edLanParams()[9]->setText("70");
    page->edParams()[2]->setText("0.1");
    page->edParams()[6]->setText("20,40");
    page->btMakeBatch->click();
    fBench->btRunBatchClick();
    QCOMPARE(fMain->edDistanceThreshold->text(), QString("2.5"));
    QCOMPARE(fMain->seConnectance->value(), 70);
    QCOMPARE(fBench->edRange->text(), QString("40"));
    QCOMPARE(
        QString::fromStdString(utile::LoadTextFromFile(file.toStdString())),
        QString(
            "Landscape\tWidth\tHeight\tNbPatch\tIsolatedPatchArea\tIsolatedPatchDistance\tMinArea\tMaxArea\t"
            "PropLargePatches\t\tConnectance\t\t\tColonisationRate\tExtinctionRate\tDelta\tZim\tZem\tZex\t"
            "Range\tSizeThreshold\r\n"
            "0\t200\t200\t3\t5\t5\t1\t40\t50\t2.5\t70\t100\t1\t0.5\t0.05\t0.1\t0\t1\t0\t20\t10\t\t00:00:"
            "00\r\n"
            "0\t200\t200\t3\t5\t5\t1\t40\t50\t2.5\t70\t100\t1\t0.5\t0.05\t0.1\t0\t1\t0\t40\t10\t\t00:00:"
            "00\r\n"));
  }

  void FailingSimulationIsReportedAndTheBatchGoesOn() {
    // A power of the areas beyond the largest number fails the first simulation.
    const testsupport::tTempFolder folder;
    const QString file = QString::fromStdString(folder.File("graph-failing-batch.txt"));
    fBench->SensitivityPage->SetBatchLines(
        {"Simulation(0.5,0.05,0.1,1000000,1,0,30,10)", "Simulation(0.5,0.05,0.1,0,1,0,30,10)"});
    fBench->SensitivityPage->edOutputFile->setText(file);
    fBench->btRunBatchClick();
    const QStringList lines =
        QString::fromStdString(utile::LoadTextFromFile(file.toStdString())).split("\r\n");
    QCOMPARE(lines.size(), 5);
    QVERIFY(lines[1].startsWith("****** Error for 0.5\t0.05\t0.1\t1000000\t1\t0\t30\t10\t: "));
    QVERIFY(lines[2].startsWith("0.5\t0.05\t0.1\t0\t1\t0\t30\t10\t\t"));
    QCOMPARE(lines[3], QString("******* 1 errors encountered"));
    QCOMPARE(fBench->BatchErrors, 1u);
    QVERIFY(fDialogs->Messages.empty());
  }

  void OpenedFromTheMenuItComputesWhatIsTyped() {
    fMain->mnNewGraph->trigger();
    auto* bench = qobject_cast<TdlgGraphModel*>(fMain->CurrentModel);
    QVERIFY(bench && bench != fBench);
    QCOMPARE(bench->windowTitle(), QString("Graph-based model 2 (v. 1.0.1.2)"));
    bench->activateWindow();
    QVERIFY(QTest::qWaitForWindowExposed(bench));
    fMain->CurrentModel = fBench;
    QEvent activate(QEvent::WindowActivate);
    QApplication::sendEvent(bench, &activate);
    QCOMPARE(fMain->CurrentModel, bench);

    bench->edRange->selectAll();
    QTest::keyClicks(bench->edRange, "2a5");  // a letter is no part of a number
    QTest::mouseClick(bench->ckOverallSize, Qt::LeftButton, {},
                      QPoint(6, bench->ckOverallSize->height() / 2));
    QTest::mouseClick(bench->btCompute, Qt::LeftButton);
    QCOMPARE(bench->pcResults->count(), 3);
    QCOMPARE(bench->edRange->text(), QString("25"));
    QCOMPARE(ResultChart(bench, 1)->Metadata()[1], QString("1/alpha=25"));
    // The start-up landscape: three patches of 40, all linked, 100 apart: one
    // group up to the kernel exp(-100/25), single patches beyond.
    const QList<QPointF> counts = Points(ResultChart(bench, 1));
    QCOMPARE(counts[1].y(), 1.0);
    QCOMPARE(counts[2].y(), 3.0);
    QCOMPARE(Points(ResultChart(bench, 2))[2].y(), 1.0);
  }
};

QTEST_MAIN(GraphWorkbenchTest)
#include "GraphWorkbenchTest.moc"
