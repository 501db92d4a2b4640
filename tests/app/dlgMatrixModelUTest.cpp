// The matrix workbench: its controls, initialisation, the run and its charts,
// the connectivity functions and the batch rows, offscreen.
#include <Eigen/Eigenvalues>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineSeries>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTimer>
#include <QValueAxis>
#include <QtTest>
#include <cmath>

#include "ChartHarness.h"
#include "MainWindowHarness.h"
#include "ScriptedDialogs.h"
#include "TestSupport/StatisticalChecks.h"
#include "Utile/RunTime.h"
#include "Utile/StringOps.h"
#include "Utile/gui/GraphicOps.h"
#include "app/SensitivityPage.h"
#include "app/WindowServices.h"
#include "app/dlgMatrixModelU.h"
#include "app/dlgPatchDataU.h"
#include "app/dlgSimpleDemoModelU.h"
#include "app/dlgVandrelU.h"
#include "models/MetapopCommon.h"

using testsupport::FileLines;
using testsupport::tScriptedDialogs;
using vandrel::TdlgMatrixModel;

namespace {
struct tPatch {
  double x, y, area;
};

// The landscape as the main window leaves it: patches, distances, links.
void SetLandscape(const std::vector<tPatch>& patches) {
  models::Patches.clear();
  int id = 1;
  for (const tPatch& p : patches) {
    models::tCircle c;
    c.popID = id++;
    c.x = p.x;
    c.y = p.y;
    c.A = p.area;
    models::Patches.push_back(c);
  }
  models::ComputeConnectanceMatrix(models::ctFullConnectance, 1.7e308, 100);
}

// Seven patches 100 apart: a centre and a ring.
void SevenPatches() {
  SetLandscape({{300, 300, 40},
                {400, 300, 40},
                {350, 386.6, 40},
                {250, 386.6, 40},
                {200, 300, 40},
                {250, 213.4, 40},
                {350, 213.4, 40}});
}

QStringList Fields(const QString& line) {
  QStringList fields = line.split('\t');
  fields.pop_back();  // every field, the last one included, ends with a TAB
  return fields;
}

int PointCount(utile::gui::tGraphicChart* chart, int series) {
  return chart->PointCount(static_cast<QXYSeries*>(chart->SeriesAt(series)));
}

void SaveGrab(QWidget* widget, const char* name) {
  const QString folder = qEnvironmentVariable("VANDREL_GRAB_DIR");
  if (!folder.isEmpty()) widget->grab().save(folder + "/" + name + ".png");
}

// The times of a series' points when the charts hold the steps first to
// last, one a step: the effective sizes come a step behind the state they are
// measured on, and the averaged one needs a hundred coancestries first.
std::pair<int, int> StepsCharted(const utile::gui::tGraphicChart* chart, const QString& series, int first,
                                 int last) {
  if (series == "Lambda G") return {1, 0};  // only in heavy runs
  if (series == "NeGlobal" && chart->objectName() == "chMeanNe") return {first + 100, last};
  if (series == "NeGlobal" || series == "Ne Whitlock & Barton") return {first - 1, last - 1};
  return {first, last};
}

// Whether a chart's points are those of the steps first to last, each
// series's as StepsCharted says; else what differs.
QString StepsDiffer(utile::gui::tGraphicChart* chart, int first, int last) {
  for (int k = 0; k < chart->SeriesCount(); ++k) {
    auto* series = static_cast<QXYSeries*>(chart->SeriesAt(k));
    const auto [from, to] = StepsCharted(chart, series->name(), first, last);
    const QList<QPointF> points = chart->Points(series);
    if (points.size() != std::max(0, to - from + 1))
      return QString("%1, %2: %3 points for %4..%5")
          .arg(chart->objectName(), series->name())
          .arg(points.size())
          .arg(from)
          .arg(to);
    for (int i = 0; i < points.size(); ++i)
      if (points[i].x() != from + i)
        return QString("%1, %2: point %3 at %4")
            .arg(chart->objectName(), series->name())
            .arg(i)
            .arg(points[i].x());
  }
  return QString();
}

// The dominant eigenvalue of exp(-alpha d) between distinct patches.
double Capacity(double alpha) {
  const int n = static_cast<int>(models::Patches.size());
  Eigen::MatrixXd m = Eigen::MatrixXd::Zero(n, n);
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j)
      if (i != j)
        m(i, j) = std::exp(-alpha * std::hypot(models::Patches[i].x - models::Patches[j].x,
                                               models::Patches[i].y - models::Patches[j].y));
  return Eigen::EigenSolver<Eigen::MatrixXd>(m).eigenvalues().real().maxCoeff();
}
}  // namespace

class MatrixWorkbenchTest : public QObject {
  Q_OBJECT

  vandrel::TdlgVandrel* fMain = nullptr;
  TdlgMatrixModel* fBench = nullptr;
  tScriptedDialogs* fDialogs = nullptr;
  testsupport::tTempFolder* fFolder = nullptr;

 private slots:
  void init() {
    fMain = testsupport::OpenMainWindow(fDialogs);
    fBench = testsupport::OpenWorkbench<TdlgMatrixModel>(fMain, vandrel::tWorkbenchKind::wkMatrix);
    fFolder = new testsupport::tTempFolder;
  }
  void cleanup() {
    delete fFolder;
    testsupport::CloseMainWindow(fMain);
    models::ResetLandscape();
  }

  void ControlsAndDefaults() {
    QCOMPARE(fBench->windowTitle(), QString("Matrix Model 1 (v.1.0.1.3)"));
    struct tEdit {
      vandrel::tLabeledEdit* edit;
      const char *caption, *text;
      bool shown;
    };
    for (const tEdit& e :
         std::initializer_list<tEdit>{{fBench->edSurvival, "&Survival s=", "0", false},
                                      {fBench->edFecundity, "&Fecundity b=", "2", true},
                                      {fBench->edTerritory, "&Territory area=", "1", true},
                                      {fBench->edRange, "&Distance 1/alpha=", "40", true},
                                      {fBench->edDispersal, "&Density-dependance a=", "0.1", false},
                                      {fBench->edMigrationRate, "&Migration rate m=", "0.2", true},
                                      {fBench->edMu, "&Mutation rate mu=", "0.0001", true},
                                      {fBench->edDemographicRisk, "&Demographic risk=", "0", false},
                                      {fBench->edLocalRisk, "&Local risk=", "0", true},
                                      {fBench->edRegionalRiskMean, "&Mean", "0", true},
                                      {fBench->edRegionalRiskRange, "R&ange", "0", true},
                                      {fBench->edMinCorr, "Min. corr.", nullptr, true}}) {
      QCOMPARE(e.edit->EditLabel->text(), QString(e.caption));
      QVERIFY2(!e.text || e.edit->text() == e.text, e.caption);
      QVERIFY2(e.edit->isVisibleTo(fBench) == e.shown, e.caption);
    }
    QVERIFY(fBench->rbEsurN->isChecked() && !fBench->rbEi->isChecked());
    QCOMPARE(fBench->cbGrowthType->currentIndex(), 1);
    QCOMPARE(fBench->seTimeSteps->value(), 5000);
    QCOMPARE(fBench->seTimeSteps->minimum(), 1100);
    QCOMPARE(fBench->seTimeSteps->singleStep(), 100);
    QCOMPARE(fBench->semSeed1->value(), 10);
    QCOMPARE(fBench->acRun->shortcut(), QKeySequence(Qt::Key_F9));
    QCOMPARE(fBench->acInitialise->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_F9));
    QVERIFY(!fBench->grpConnectivity->isVisibleTo(fBench) && fBench->rbDispersal->isChecked());
    QVERIFY(!fBench->chmEffectiveSize->isVisibleTo(fBench));
    QVERIFY(fBench->rbmFisAfter->isChecked() && fBench->rbmFstAfter->isChecked());
    QVERIFY(!fMain->mnPrecomputed->isChecked());
    // The default controls initialise the model on the start-up landscape.
    fDialogs->Messages.clear();
    fBench->Initialise();
    QVERIFY(fDialogs->Messages.empty());
    QVERIFY(fBench->MatrixModel->Initialised());
    QCOMPARE(fBench->MatrixModel->PatchCount(), models::PatchCount());
    QVERIFY(fBench->MatrixModel->mCorr.empty());  // no regional field without its range
    // The Allee edits show for "Scramble-Allee" only.
    for (int type : {1, 2, 0}) {
      fBench->cbFecundityType->setCurrentIndex(type);
      QCOMPARE(fBench->edIntercepte->isVisibleTo(fBench), type == 1);
      QCOMPARE(fBench->edFlatness->EditLabel->isVisibleTo(fBench), type == 1);
    }
    // The batch lists: the landscape's twelve, then the workbench's Tag 1 controls.
    QStringList model;
    for (QLabel* label : fBench->tsSensitivity->lblParams()) model << label->text();
    QCOMPARE(model, QStringList({"Fecundity:", "Territory:", "Range:", "MigrationRate:", "Mu:", "LocalRisk:",
                                 "TimeSteps:"}));
    QCOMPARE(fBench->tsSensitivity->edParams()[6]->text(), QString("5000"));
    QCOMPARE(fBench->tsSensitivity->edOutputFile->text(), QString("MatrixModel.txt"));
    QCOMPARE(fBench->tsSensitivity->btLoadBatch->text(), QString("&Load batch"));
  }

  void InitialiseFromTheControlsAndRefuseWhatCannotRun() {
    SetLandscape({{0, 0, 30}, {30, 0, 60}, {0, 40, 90}});
    fBench->edTerritory->setText("3");
    fBench->edLocalRisk->setText("0.5");
    fBench->rbEi->setChecked(true);
    fBench->edRegionalRiskRange->setText("60");
    fDialogs->Messages.clear();
    fBench->Initialise();
    QVERIFY(fDialogs->Messages.empty());
    const models::tMatrixModel& model = *fBench->MatrixModel;
    QVERIFY(model.Initialised());
    QCOMPARE(model.PatchCount(), 3);  // the landscape's, not the patch-count box's
    QCOMPARE(model.K, (utile::tVectorOfDouble{10, 20, 30}));
    QCOMPARE(model.El, (utile::tVectorOfDouble{0.05, 0.025, 0.5 / 30}));
    QCOMPARE(model.c[0], (utile::tVectorOfDouble{0.8, 0.1, 0.1}));
    QCOMPARE(model.Alpha, 1.0 / 40);
    // The smallest correlation is at the largest distance, 50.
    QCOMPARE(fBench->edMinCorr->text(), QString("0.12"));
    // The five connectivity functions.
    QCOMPARE(fBench->GetConnectivity(0, 1), std::exp(-30.0 / 40));
    fBench->rbAutocorrelation->setChecked(true);
    QCOMPARE(fBench->GetConnectivity(1, 2), std::exp(-3.0 * 2500 / 3600));
    fBench->rbDistance->setChecked(true);
    QCOMPARE(fBench->GetConnectivity(0, 2),
             1 - 40 / std::hypot(double(fMain->seWidth->value()), double(fMain->seHeight->value())));
    // Fst between patches of sizes 10 and 20: t = (0.3 x 100 + 0.2 x 400) / 500 = 0.22.
    const auto fst = TdlgMatrixModel::PairFst({{0.3, 0.1}, {0.1, 0.2}}, {10, 20}, 0, 1);
    QVERIFY(fst && std::fabs(*fst - 0.12 / 0.9) < 1e-15);
    QVERIFY(!TdlgMatrixModel::PairFst({{0.3, 0.1}, {0.1, 0.2}}, {10, 0}, 0, 1));
    fBench->FstMat = {{0, *fst, 0}, {*fst, 0, 0}, {0, 0, 0}};
    fBench->FstDefined = {{false, true, false}, {true, false, false}, {false, false, false}};
    fBench->rbFst->setChecked(true);
    QCOMPARE(fBench->GetConnectivity(1, 0), 1 - *fst);
    QCOMPARE(fBench->GetConnectivity(1, 2), 0.0);
    fBench->rbFst2->setChecked(true);
    QVERIFY(std::fabs(fBench->GetConnectivity(0, 1) - std::log10(7.5)) < 1e-12);

    // Refused values: a message, the model unprepared, Run refused.
    struct tCase {
      vandrel::tLabeledEdit* edit;
      const char *text, *message;
    };
    for (const tCase& c : std::initializer_list<tCase>{
             {fBench->edRange, "0", "Mean dispersal distance must be >0"},
             {fBench->edTerritory, "-1", "Territory area must be >0"},
             {fBench->edMigrationRate, "1.5", "Migration rate must be between [0;1]"},
             {fBench->edRange, "0.001",
              "The survival between patches 1 and 2 (distance 30) is 0: the mean dispersal distance is too "
              "short for this landscape."}}) {
      const QString kept = c.edit->text();
      c.edit->setText(c.text);
      fBench->Initialise();
      QCOMPARE(fDialogs->Messages.back(), std::string(c.message));
      QVERIFY(!fBench->MatrixModel->Initialised());
      QVERIFY_THROWS_EXCEPTION(utile::EInvalidOperation, fBench->Run());
      QVERIFY(!fBench->IsRunning());
      c.edit->setText(kept);
    }
    fBench->edMu->setText("0");
    fBench->Initialise();
    QCOMPARE(fDialogs->Messages.back(), std::string("Mutation rate must be >0 and <=1"));
    QVERIFY(fBench->MatrixModel->Initialised());
    fBench->edFecundity->setText("two");
    QVERIFY_THROWS_EXCEPTION(utile::EConvertError, fBench->Initialise());
  }

  void RunChartsEverySeriesAndContinues() {
    SevenPatches();
    fBench->seTimeSteps->setValue(1100);
    fBench->acInitialise->trigger();
    fBench->pcMatrixModel->setCurrentWidget(fBench->tsResults);
    fBench->resize(1200, 800);
    fBench->acRun->trigger();
    QVERIFY(!fBench->IsRunning());
    const models::tMatrixModel& model = *fBench->MatrixModel;
    QCOMPARE(model.tMax, 1100);
    QVERIFY(!model.isbreak);
    for (utile::gui::tGraphicChart* chart :
         {fBench->chmDensity, fBench->chmCoancestry, fBench->chmFixation, fBench->chmFis})
      for (int i = 0; i < 7; ++i) QCOMPARE(PointCount(chart, i), 1100);
    QCOMPARE(fBench->chmCoancestry->SeriesAt(7)->name(), QString("theta Global"));
    QCOMPARE(PointCount(fBench->chmCoancestry, 7), 1100);
    QCOMPARE(fBench->chmFst->SeriesCount(), 21);
    QCOMPARE(fBench->chmFst->SeriesAt(20)->name(), QString("Fst(6,7)"));
    QCOMPARE(PointCount(fBench->chmFst, 0), 1100);
    QCOMPARE(fBench->chmEffectiveSize->SeriesAt(0)->name(), QString("NeGlobal"));
    QCOMPARE(PointCount(fBench->chmEffectiveSize, 0), 1100);
    QCOMPARE(PointCount(fBench->chMeanNe, 0), 1000);
    QCOMPARE(PointCount(fBench->chmConnectivity, 0), 21);
    bool ok = false;
    const int ne = fBench->Label18->text().toInt(&ok);
    QVERIFY2(ok && ne > 0, qPrintable(fBench->Label18->text()));
    QCOMPARE(ne, model.EquilibriumEffectiveSize);
    QVERIFY(fBench->Label19->text().startsWith("slope="));
    QVERIFY(fBench->Label19->text().contains(", Int="));
    const QStringList memo = fBench->mmmModel->toPlainText().split('\n');
    QVERIFY(memo[0].startsWith("Date:\t"));
    QCOMPARE(memo[1], QString("PARAMETERS:"));
    QCOMPARE(memo[2], QString("Survival=\t0"));
    QCOMPARE(memo[5], QString("Alpha=\t0.025"));
    QVERIFY(memo.contains("ID\tX\tY\tArea\tK\ts\tb\ta"));
    QVERIFY(memo.contains("1\t300\t300\t40\t4E1\t0\t2\t0.025"));
    QCOMPARE(memo.back(), QString::number(ne));
    // The Fis switch shows the other history.
    fBench->rbmFisBefore->setChecked(true);
    QCOMPARE(PointCount(fBench->chmFis, 0), 1100);
    // A second run continues the charts from tMax.
    fBench->acRun->trigger();
    QCOMPARE(model.tMax, 2200);
    const QList<QPointF> density =
        fBench->chmDensity->Points(static_cast<QXYSeries*>(fBench->chmDensity->SeriesAt(0)));
    QCOMPARE(density.size(), 2200);
    QCOMPARE(density[1100].x(), 1101.0);
    fBench->chmFst->Refresh();
    SaveGrab(fBench, "matrix-results");
    fBench->pcMatrixModel->setCurrentWidget(fBench->tsParameters);
    SaveGrab(fBench, "matrix-parameters");
    fBench->pcMatrixModel->setCurrentWidget(fBench->tsSensitivity);
    SaveGrab(fBench, "matrix-sensitivity");
  }

  void EveryChartShowsAndSavesEachStepOfEveryRun() {
    // Ten patches of the generator; a first run of 7,000 steps.
    fMain->seNbPatch->setValue(10);
    fMain->btMakeLandscapeClick();
    fBench->show();
    fBench->pcMatrixModel->setCurrentWidget(fBench->tsResults);
    QVERIFY(QTest::qWaitForWindowExposed(fBench));
    TdlgMatrixModel* bench = fBench;
    // A stop after the given step of the model, as the Stop button would give it.
    auto stopAfter = [bench](int32_t step) {
      bench->MatrixModel->SetAbortCheck([bench, step] {
        if (bench->MatrixModel->stop == step) bench->Stop();
        return false;
      });
    };
    auto run = [bench](int steps) {
      bench->seTimeSteps->setValue(steps);
      bench->acRun->trigger();
      bench->MatrixModel->SetAbortCheck({});
    };
    struct tStage {
      const char* name;
      std::function<void()> act;
      int first, last;  // the steps the charts hold, since the model's time first - 1
    };
    const std::vector<tStage> stages = {
        {"a run",
         [&] {
           fBench->acInitialise->trigger();
           run(7000);
         },
         1, 7000},
        {"a stopped continuation",
         [&] {
           stopAfter(7600);
           run(1100);
         },
         1, 7600},
        {"a continuation", [&] { run(1100); }, 1, 8700},
        {"the other Fis and Fst",
         [&] {
           fBench->rbmFisBefore->setChecked(true);
           fBench->rbmFstBefore->setChecked(true);
         },
         1, 8700},
        {"a run after Initialise",
         [&] {
           fBench->acInitialise->trigger();
           run(1100);
         },
         1, 1100},
        {"a run after the parameters changed",
         [&] {
           fBench->edMigrationRate->setText("0.3");
           fBench->ApplyParameterChanges();
           stopAfter(700);
           run(1100);
         },
         1, 700},
        // It continues the model of the batch's last line, on charts of its own.
        {"a run after a batch",
         [&] {
           fBench->RunBatch({"Simulation(2,1,40,0.3,0.0001,0,1100)"}, fFolder->File("batch.txt"), false);
           run(1100);
         },
         1101, 2200},
    };
    const QString data = QString::fromStdString(fFolder->File("chart.txt"));
    const QString picture = QString::fromStdString(fFolder->File("chart.bmp"));
    for (const tStage& stage : stages) {
      stage.act();
      SaveGrab(fBench, QString("matrix-after-%1").arg(&stage - stages.data() + 1).toLatin1());
      QVERIFY2(!fBench->IsRunning(), stage.name);
      QCOMPARE(fBench->MatrixModel->tMax, stage.last);
      for (utile::gui::tGraphicChart* chart :
           {fBench->chmDensity, fBench->chmCoancestry, fBench->chmFixation, fBench->chmEffectiveSize,
            fBench->chMeanNe, fBench->chmFis, fBench->chmFst}) {
        const QString where = QString("%1, %2").arg(stage.name, chart->objectName());
        QVERIFY2(StepsDiffer(chart, stage.first, stage.last).isEmpty(),
                 qPrintable(where + ": " + StepsDiffer(chart, stage.first, stage.last)));
        // Every chart's time axis spans what the runs charted.
        QCOMPARE(chart->BottomAxis()->min(), double(stage.first - 1));
        QCOMPARE(chart->BottomAxis()->max(), double(stage.last));
        const QString differs = testsupport::ChartDisagreement(chart, data);
        QVERIFY2(differs.isEmpty(), qPrintable(where + ": " + differs));
        if (!chart->isVisible()) continue;
        // The picture shows the lines to their end (three pixels of the frame
        // left out, and as many for the line's own width).
        const double pixel = (stage.last - stage.first + 1) / chart->chart()->plotArea().width();
        const double reach = testsupport::LinesReachTo(chart);
        QVERIFY2(reach >= stage.last - 6 * pixel, qPrintable(where + QString(": lines to %1").arg(reach)));
        // A saved picture is the chart as it shows.
        QVERIFY(chart->SaveImage(picture));
        QCOMPARE(testsupport::LinesReachTo(chart, QImage(picture)), reach);
      }
    }
  }

  void ManyPairsAreDrawnWithoutSeries() {
    // 51 patches: 1,275 pairs, more than the chart keeps series for.
    std::vector<tPatch> grid;
    for (int i = 0; i < 51; ++i) grid.push_back({100.0 * (i % 8), 100.0 * (i / 8), 40});
    SetLandscape(grid);
    fBench->seTimeSteps->setValue(1100);
    fBench->acInitialise->trigger();
    fBench->pcMatrixModel->setCurrentWidget(fBench->tsResults);
    fBench->acRun->trigger();
    QCOMPARE(fBench->chmFst->SeriesCount(), 0);
    QVERIFY(!fBench->Label18->text().isEmpty());
    // The time axes span the run.
    QCOMPARE(fBench->chmDensity->BottomAxis()->max(), 1100.0);
    SaveGrab(fBench, "matrix-51-patches");
    // Each pair's points are drawn, 250,000 a kind a run at most, and the
    // last step's among them: 1,275 x 1,100 / 250,000 = 5.6, a point every
    // sixth step, 183 of them and one at step 1,100.
    fBench->chmFst->grab();
    QCOMPARE(fBench->FstPairPointsPainted(), qsizetype(1275) * 184);
    // The next run, 1,701 steps: every ninth (8.7), 189 points, the last step among them.
    fBench->seTimeSteps->setValue(1701);
    fBench->acRun->trigger();
    QCOMPARE(fBench->MatrixModel->tMax, 2801);
    fBench->chmFst->grab();
    QCOMPARE(fBench->FstPairPointsPainted(), qsizetype(1275) * (184 + 189));
    // Saved as the series would be: one block a pair, in the pairs' order.
    const std::string data = fFolder->File("fst.txt");
    fBench->chmFst->SaveData(QString::fromStdString(data));
    const QStringList lines = FileLines(data);
    QCOMPARE(lines.size(), 3 * 1275);
    QCOMPARE(lines[0], QString("Fst(1,2)"));
    QCOMPARE(lines[3], QString("Fst(1,3)"));
    QCOMPARE(lines[3 * 1274], QString("Fst(50,51)"));
    const QStringList times = Fields(lines[1]);
    QCOMPARE(times.size(), 184 + 189);
    auto time = [&times](qsizetype i) {
      double t = -1;
      return utile::TryStrToFloatAnySeparator(times[i].trimmed().toStdString(), t) ? t : -1;
    };
    QCOMPARE(time(0), 6.0);
    QCOMPARE(time(183), 1100.0);
    QCOMPARE(time(184), 1109.0);
    QCOMPARE(time(times.size() - 1), 2801.0);
  }

  void ExtinctionEndsTheRun() {
    SetLandscape({{0, 0, 40}, {100, 0, 40}});
    fBench->seTimeSteps->setValue(1100);
    fBench->edLocalRisk->setText("1");
    fBench->acInitialise->trigger();
    fBench->Label18->setText("old");
    fBench->acRun->trigger();
    QCOMPARE(fDialogs->Messages.back(), std::string("Extinction"));
    QCOMPARE(fBench->Label18->text(), QString("  "));
    QVERIFY(fBench->MatrixModel->isbreak);
    QCOMPARE(PointCount(fBench->chmDensity, 0), 0);
  }

  void ARunWhoseChartsNoMachineCouldHoldIsRefused() {
    // 400 patches for ten million steps: 2,007 points a step, 321 GB.
    std::vector<tPatch> grid;
    for (int i = 0; i < 400; ++i) grid.push_back({50.0 * (i % 20), 50.0 * (i / 20), 40});
    SetLandscape(grid);
    fBench->acInitialise->trigger();
    fBench->seTimeSteps->setValue(10000000);
    fDialogs->Messages.clear();
    fBench->acRun->trigger();
    QCOMPARE(fDialogs->Messages.size(), size_t(1));
    QVERIFY2(QString::fromStdString(fDialogs->Messages[0])
                 .startsWith("The charts of 10000000 time steps over 400 patches would take 3"),
             fDialogs->Messages[0].c_str());
    QVERIFY(!fBench->IsRunning());
    QCOMPARE(fBench->MatrixModel->tMax, 0);
    QCOMPARE(PointCount(fBench->chmDensity, 0), 0);
    // A run it can hold goes on as ever.
    SevenPatches();
    fBench->acInitialise->trigger();
    fBench->seTimeSteps->setValue(1100);
    fBench->acRun->trigger();
    QCOMPARE(fBench->MatrixModel->tMax, 1100);
  }

  void CloseStopsTheRunAfterItsStepAndRefusesReinitialisation() {
    SetLandscape({{0, 0, 40}, {100, 0, 40}, {50, 80, 40}});
    // Long enough never to end by itself; a run ten times as long would ask
    // gigabytes for its charts.
    fBench->seTimeSteps->setValue(1000000);
    fBench->acInitialise->trigger();
    QPointer<TdlgMatrixModel> bench = fBench;
    int32_t stopAtClose = -1;
    QTimer::singleShot(0, bench, [&] {
      bench->close();
      stopAtClose = bench->MatrixModel->stop;
      bench->Initialise();  // refused while the run unwinds
      bench->acInitialise->trigger();
    });
    bench->Run();
    QVERIFY(stopAtClose > 0);
    QCOMPARE(bench->MatrixModel->stop, stopAtClose);
    QVERIFY(!bench->IsRunning());
    QTRY_VERIFY(bench.isNull());
  }

  void ARunAskedForWhileAStoppedRunUnwindsIsRefused() {
    SetLandscape({{0, 0, 40}, {100, 0, 40}, {50, 80, 40}});
    fBench->acInitialise->trigger();
    const int32_t start = fBench->MatrixModel->tMax, steps = fBench->seTimeSteps->value();
    bool runningAfterStop = false, refused = false;
    QTimer::singleShot(0, fBench, [&] {
      fBench->Stop();
      runningAfterStop = fBench->IsRunning();
      try {
        fBench->Run();
      } catch (const utile::EInvalidOperation&) {
        refused = true;
      }
    });
    fBench->Run();
    QVERIFY(runningAfterStop);
    QVERIFY(refused);
    QCOMPARE(fBench->MatrixModel->tMax, start + 1);  // stopped after its first step
    QVERIFY(!fBench->IsRunning());
    // Once it has returned, a run goes its whole length.
    fBench->Run();
    QCOMPARE(fBench->MatrixModel->tMax, start + 1 + steps);
  }

  void OpeningAnotherWorkbenchLeavesThisOneAsItWas() {
    SevenPatches();
    fBench->acInitialise->trigger();
    QVERIFY(fBench->MatrixModel->Initialised());
    // Initialising it again would now refuse its parameters and leave it unprepared.
    fBench->edRange->setText("0");
    const size_t messages = fDialogs->Messages.size();
    // Made as the main window's factory makes it, before the window makes it current.
    QPointer<QWidget> other = new vandrel::TdlgSimpleDemoModel(fMain);
    QVERIFY(fBench->MatrixModel->Initialised());
    for (size_t k = messages; k < fDialogs->Messages.size(); ++k)
      QVERIFY(fDialogs->Messages[k] != "Mean dispersal distance must be >0");
    other->close();
    QTRY_VERIFY(other.isNull());
  }

  void BatchRowsStandUnderTheirHeader() {
    // Two landscapes (the largest patch 40, then 60) and three migration rates.
    vandrel::tSensitivityPage& page = *fBench->tsSensitivity;
    page.edLanParams()[6]->setText("40,60");
    page.edParams()[3]->setText("0.1,0.2,0.3");
    page.edParams()[6]->setText("1100");
    fBench->cbDistance->setChecked(true);
    page.btMakeBatch->click();
    QCOMPARE(page.BatchLines().size(), size_t(8));
    QVERIFY(page.BatchLines()[1].starts_with("Simulation(2,1,40,0.1,"));
    const std::string file = fFolder->File("batch.txt");
    page.edOutputFile->setText(QString::fromStdString(file));
    fBench->btRunBatchClick();
    QCOMPARE(fBench->BatchErrors, 0u);

    const QStringList lines = FileLines(file);
    QCOMPARE(lines.size(), 7);
    QCOMPARE(
        lines[0],
        QString(
            "Landscape\tWidth:\tHeight:\tNbPatch:\tIsolatedPatchArea:\tIsolatedPatchDistance:\tMinArea:\t"
            "MaxArea:\tPropLargePatches:\tDistanceThreshold:\tConnectance:\tSurvivalDistance:\t"
            "FixedSurvival:\tFecundity:\tTerritory:\tRange:\tMigrationRate:\tMu:\tLocalRisk:\tTimeSteps:\t"
            "MetaK\tExtinctionDate\tTheta1.1\tTheta2.1\tTheta2.2\tTheta3.1\tTheta3.2\tTheta3.3\tF1\tF2\tF3\t"
            "K1\tK2\tK3\tFis1\tFis2\tFis3\tD1.1\tD2.1\tD2.2\tD3.1\tD3.2\tD3.3\tMeanThetaGlob\tNeEqu\t"
            "Fst2.1\tFst3.1\tFst3.2\t"));
    const QStringList header = Fields(lines[0]);
    for (int landscape = 0; landscape < 2; ++landscape) {
      // The landscape of these rows, made again.
      fBench->MakeLandscape(page.BatchLines()[4 * landscape], false);
      for (int run = 0; run < 3; ++run) {
        const QStringList row = Fields(lines[1 + 3 * landscape + run]);
        QCOMPARE(row.size(), header.size());
        QCOMPARE(row[0], QString::number(landscape));
        QCOMPARE(row[16], (QStringList{"0.1", "0.2", "0.3"}[run]));
        QVERIFY(std::fabs(row[20].toDouble() / Capacity(1.0 / 40) - 1) < 1e-9);
        QCOMPARE(row[21], QString("1100"));
        for (int i = 0; i < 3; ++i)
          QCOMPARE(row[header.indexOf(QString("K%1").arg(i + 1))].toDouble(), models::Patches[i].A);
        QVERIFY(std::fabs(row[header.indexOf("D3.2")].toDouble() - models::DistanceMat[2][1]) < 1e-9);
        for (const QString& field : row)
          QVERIFY2(!field.contains("nan") && !field.contains("inf"), qPrintable(field));
      }
    }
  }

  void BatchModesAndFailures() {
    // One patch: no pairwise column; a line that cannot initialise is an error
    // row and the batch goes on.
    SetLandscape({{0, 0, 40}});
    fMain->ckComputeMetapop->setChecked(false);
    const std::string file = fFolder->File("one.txt");
    fBench->sLan = "4\tof the last batch\t";
    fBench->RunBatch({"Simulation(2,1,40,0.2,0.0001,0,1100)", "Simulation(2,1,0,0.2,0.0001,0,1100)",
                      "Simulation(2,1,40,0.2,0.0001,0,1100)"},
                     file, false);
    QStringList lines = FileLines(file);
    QCOMPARE(lines.size(), 5);
    QVERIFY(!lines[0].contains("Fst"));
    QVERIFY(lines[0].endsWith("K1\tFis1\tMeanThetaGlob\tNeEqu\t"));
    QVERIFY(lines[1].startsWith(QString(13, '\t') + "2\t1\t40\t0.2\t0.0001\t0\t1100\t0\t1100\t"));
    QCOMPARE(Fields(lines[1]).size(), Fields(lines[0]).size());
    QVERIFY(lines[2].startsWith("****** Error for 2\t1\t0\t"));
    QVERIFY(lines[2].contains("Mean dispersal distance must be >0"));
    QCOMPARE(Fields(lines[3]).size(), Fields(lines[0]).size());
    QCOMPARE(lines[4], QString("******* 1 errors encountered"));

    // Effective-size mode on a landscape that always dies: R NA rows that keep
    // the capacities and distances.
    SetLandscape({{0, 0, 40}, {30, 40, 80}});
    fBench->cbEffectiveSizeMode->setChecked(true);
    fBench->cbDistance->setChecked(true);
    fBench->seNbrRep->setValue(3);
    fBench->seNbrTrials->setValue(2);
    const std::string dies = fFolder->File("dies.txt");
    fBench->RunBatch({"Simulation(2,1,40,0.2,0.0001,1,2100)"}, dies, false);
    lines = FileLines(dies);
    QCOMPARE(lines.size(), 4);
    QCOMPARE(fBench->seTimeSteps->value(), 1600);  // lowered while none survived
    const QStringList header = Fields(lines[0]);
    for (int r = 1; r <= 3; ++r) {
      const QStringList row = Fields(lines[r]);
      QCOMPARE(row.size(), header.size());
      QCOMPARE(row[header.indexOf("ExtinctionDate")], QString("NA"));
      QCOMPARE(row[header.indexOf("Theta2.1")], QString("NA"));
      QCOMPARE(row[header.indexOf("K2")], QString("80"));
      QCOMPARE(row[header.indexOf("D2.1")], QString("50"));
      QCOMPARE(row[header.indexOf("Fst2.1")], QString("NA"));
    }
    // Extinction-time mode: R rows, each with its extinction date.
    fBench->cbEffectiveSizeMode->setChecked(false);
    fBench->cbExtinctionTimeMode->setChecked(true);
    const std::string times = fFolder->File("times.txt");
    fBench->RunBatch({"Simulation(2,1,40,0.2,0.0001,1,1100)"}, times, false);
    lines = FileLines(times);
    QCOMPARE(lines.size(), 4);
    for (int r = 1; r <= 3; ++r)
      QCOMPARE(Fields(lines[r])[Fields(lines[0]).indexOf("ExtinctionDate")], QString("1"));
  }
};

QTEST_MAIN(MatrixWorkbenchTest)
#include "dlgMatrixModelUTest.moc"
