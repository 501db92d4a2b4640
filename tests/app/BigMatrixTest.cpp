// The big-matrix workbench: its controls, the dispersal matrix and model that
// Initialise builds, the eigenvalues against a dense solve of the same
// matrices, the progress display and Abort of a long computation, what a
// running computation locks, and the sensitivity batch with its result file.
#include <Eigen/Dense>
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QSpinBox>
#include <QTabBar>
#include <QTabWidget>
#include <QTableWidget>
#include <QTextBlock>
#include <QTimer>
#include <QtTest>
#include <cmath>
#include <functional>
#include <limits>

#include "MainWindowHarness.h"
#include "ScriptedDialogs.h"
#include "TestSupport/Grabs.h"
#include "TestSupport/Measurement.h"
#include "TestSupport/MessagePumps.h"
#include "TestSupport/StatisticalChecks.h"
#include "Utile/Platform.h"
#include "Utile/RunTime.h"
#include "Utile/StringOps.h"
#include "Utile/VirtualMatrixOps.h"
#include "app/SensitivityPage.h"
#include "app/WindowServices.h"
#include "app/dlgBigMatrixOptionsU.h"
#include "app/dlgBigMatrixU.h"
#include "app/dlgPatchDataU.h"
#include "app/dlgVandrelU.h"
#include "models/MetapopCommon.h"
#include "tests/models/BigMatrixReference.h"

using bigmatrixtest::tDemes;
using bigmatrixtest::tDominant;
using Eigen::MatrixXd;
using Eigen::VectorXd;
using testsupport::tScriptedDialogs;
using vandrel::TdlgBigMatrix;
using vandrel::tWorkbenchKind;

namespace {

// The dominant eigenvalue of a dense matrix with its left and right vectors,
// normalised as the model does it (right to sum 1, then left . right = 1, each
// when off by more than 1e-4) after scaling to a largest element of 1.
VectorXd DominantVector(const MatrixXd& m, double& value) {
  Eigen::EigenSolver<MatrixXd> solver(m);
  Eigen::Index best = 0;
  for (Eigen::Index i = 1; i < solver.eigenvalues().size(); ++i)
    if (solver.eigenvalues()[i].real() > solver.eigenvalues()[best].real()) best = i;
  value = solver.eigenvalues()[best].real();
  VectorXd v = solver.eigenvectors().col(best).real();
  return v / v.cwiseAbs().maxCoeff() * (v.sum() < 0 ? -1 : 1);
}
tDominant Dominant(const MatrixXd& m) {
  tDominant d;
  d.Left = DominantVector(m.transpose(), d.Value);
  d.Right = DominantVector(m, d.Value);
  if (std::abs(d.Right.sum() - 1) > 1e-4) d.Right /= d.Right.sum();
  if (std::abs(d.Left.dot(d.Right) - 1) > 1e-4) d.Left /= d.Left.dot(d.Right);
  return d;
}

// A shown value "v (± err)": its value, its error and one unit of its last digit.
struct tShown {
  double Value = 0, Error = 0, Unit = 1;
};
tShown Shown(const QString& text) {
  tShown shown;
  const QStringList parts = text.split(" (± ");
  shown.Value = parts[0].toDouble();
  if (parts.size() > 1) shown.Error = parts[1].chopped(1).toDouble();
  const qsizetype point = parts[0].indexOf('.');
  shown.Unit = point < 0 ? 1 : std::pow(10.0, -(parts[0].size() - point - 1));
  return shown;
}
bool Agrees(const tShown& shown, double expected) {
  return std::abs(shown.Value - expected) <= shown.Error + shown.Unit;
}

models::tCircle Patch(double x, double y, double area, double b, double e) {
  models::tCircle patch;
  patch.x = x;
  patch.y = y;
  patch.A = area;
  patch.b = b;
  patch.e = e;
  return patch;
}

QStringList Lines(const std::string& text) {
  return QString::fromStdString(text).split("\r\n");
}

// Runs check whenever messages pass (inside the computations) until it says done.
class tWhileRunning {
 public:
  explicit tWhileRunning(std::function<bool()> check) : fCheck(std::move(check)) {
    QObject::connect(&fTimer, &QTimer::timeout, [this] {
      if (fCheck()) fTimer.stop();
    });
    fTimer.start(0);
  }

 private:
  QTimer fTimer;
  std::function<bool()> fCheck;
};

// The window's messages pass at the end of every pass of an iteration, as well as
// whenever they would: what a test does at a given pass happens at that pass on a
// fast machine as on a slow one.
class tPumpEveryPass {
 public:
  tPumpEveryPass() : fCalls([this] { AtCall(); }) {}

 private:
  void AtCall() {
    if (utile::EigenIteration == fPass) return;
    fPass = utile::EigenIteration;
    fCalls.PumpNow();
  }

  int fPass = std::numeric_limits<int>::min();
  testsupport::tEveryPumpCall fCalls;
};

// A computation's chances to let messages through: how many, and the longest
// processor time of this thread spent between two of them.
struct tChances {
  int64_t Calls = 0;
  double LongestWork = 0;
};

// The longest work between two chances to let messages through, in this thread's
// processor time: some 20 ms would do; the sanitizers slow some steps far more
// than others.
constexpr double LongestWork = testsupport::UnderSanitizers ? 1.0 : 0.25;

// A timer's timeout as its time brings it, now.
void FireTimer(QTimer* timer) {
  QTimerEvent event(timer->timerId());
  QCoreApplication::sendEvent(timer, &event);
}

void Grab(QWidget* window, const QString& name) { testsupport::SaveGrab(window, "bigmatrix-" + name); }

}  // namespace

class BigMatrixTest : public QObject {
  Q_OBJECT

  vandrel::TdlgVandrel* fMain = nullptr;
  tScriptedDialogs* fDialogs = nullptr;
  TdlgBigMatrix* fBM = nullptr;

  TdlgBigMatrix* NewWorkbench() {
    return testsupport::OpenWorkbench<TdlgBigMatrix>(fMain, tWorkbenchKind::wkBigMatrix);
  }
  // The patches, linked by the main window's current rule, and the workbench
  // initialised on them (the main window stops doing it for a single patch).
  void UsePatches(const models::tArrayOfCircles& patches) {
    models::Patches = patches;
    fMain->ChangePatches();
    if (!fMain->ckComputeMetapop->isChecked()) fBM->Initialise();
  }
  static models::tArrayOfCircles Three() {
    return {Patch(100, 100, 24, 0.12, 0.15), Patch(160, 100, 30, 0.1, 0.1), Patch(100, 180, 21, 0.15, 0.2)};
  }
  // n patches on a line, 30 apart.
  static models::tArrayOfCircles Row(int n) {
    models::tArrayOfCircles patches;
    for (int i = 0; i < n; ++i) patches.push_back(Patch(30 * i, 0, 25, 0.2, 0.05));
    return patches;
  }
  // The iterations go on until an abort (tests of long computations).
  void LongIterations() {
    fBM->seIterations->setValue(100000);
    fBM->sePrecision->setValue(20);
    fBM->seRAMProportion->setValue(0);
  }
  QString Cell(QTableWidget* grid, int row, int column) const {
    return grid->item(row, column) ? grid->item(row, column)->text() : QString();
  }
  QStringList Output() const { return fBM->mmModel->toPlainText().split('\n'); }
  QString LastOutput() const { return Output().last(); }
  // The workbench's model, densely: its drift is that of the deme sizes.
  tDemes Dense() const {
    const models::tBigSPOMModel& m = *fBM->BigMatrixModel;
    tDemes d;
    d.Precision = std::pow(10.0, -fBM->seCoefficientPrecision->value());
    for (int i = 0; i < m.DemeCount(); ++i) {
      d.b.push_back(m.Getb(i));
      d.e.push_back(m.Gete(i));
      d.N.push_back(m.GetN(i, 1));
      d.M.emplace_back();
      for (int j = 0; j < m.DemeCount(); ++j) d.M[i].push_back(m.GetM(i, j));
    }
    d.Ne = d.N;
    return d;
  }

 private slots:
  void init() {
    utile::ResetEigenState();
    fMain = testsupport::OpenMainWindow(fDialogs);
    vandrel::dlgBigMatrixOptions = new vandrel::TdlgBigMatrixOptions(fMain);
    fBM = NewWorkbench();
    QVERIFY(fBM);
  }
  void cleanup() {
    testsupport::CloseMainWindow(fMain);
    vandrel::dlgBigMatrixOptions = nullptr;
  }

  void CreationShowsPagesControlsAndOptions() {
    QCOMPARE(fBM->windowTitle(), QString("The Big Matrix 1 (v.1.3.0.17)"));
    QStringList pages;
    for (int i = 0; i < fBM->pcMain->count(); ++i) pages << fBM->pcMain->tabText(i);
    QCOMPARE(pages,
             QStringList({"Parameters", "Computation", "Text output", "Results", "Sensitivity analysis"}));
    QVERIFY(!fBM->pcMain->isTabVisible(3) && fBM->pcMain->currentWidget() == fBM->tabParameters);
    // Caption, range and default of the spin edits; caption and default of the edits.
    QStringList controls;
    for (QSpinBox* spin : {fBM->seNbStates, fBM->seIterations, fBM->sePrecision, fBM->seCoefficientPrecision,
                           fBM->seRAMProportion, fBM->seMaxGroupSize})
      for (QLabel* label : fBM->findChildren<QLabel*>())
        if (label->buddy() == spin)
          controls << QString("%1 %2..%3 %4")
                          .arg(label->text())
                          .arg(spin->minimum())
                          .arg(spin->maximum())
                          .arg(spin->value());
    for (vandrel::tLabeledEdit* edit : {fBM->edDispersalDistance, fBM->edProbThreshold, fBM->edPhilopatry})
      controls << edit->EditLabel->text() + edit->text();
    QCOMPARE(controls, QStringList({"Number of &states: 1..100 2", "Max. number of iterations: 5..100000 100",
                                    "Eigenvalue precision (# of digits): 1..20 6",
                                    "Coefficient precision (# of digits): 2..15 8",
                                    "RAM resource proportion (%): 0..100 100", "Max. group size: 1..9 3",
                                    "&Dispersal probability distance=999999",
                                    "Dispersal probability &threshold=0", "&Philopatry factor=0.8"}));
    QVERIFY(fBM->ckRelativeToPanmixis->isChecked() && fBM->ckApplicationCondition->isChecked() &&
            !fBM->ckPropOccupancy->isChecked());
    QVERIFY(fBM->grpDemography->isHidden() && fBM->sgDemoTransitions->isHidden() &&
            fBM->edDiversityLoss->isHidden());
    QCOMPARE(fBM->cbDemography->currentText(), QString("Fixed productivity"));
    QCOMPARE(fBM->cbAlgorithm->count(), 2);
    QCOMPARE(fBM->cbAlgorithm->currentText(), QString("Exact"));
    QCOMPARE(fBM->ckPropOccupancy->toolTip(),
             QString("Returns patch proportional occupancy  (may take longer)"));
    QVERIFY(fBM->timComputation->interval() == 2000 && !fBM->timComputation->isActive());
    // The batch fills these, in this order.
    QStringList tagged;
    for (const vandrel::tTaggedComponent& item : fBM->TaggedComponents)
      tagged << item.Component->objectName() + ":" + QString::number(item.Tag);
    QCOMPARE(tagged,
             QStringList({"edDispersalDistance:1", "edProbThreshold:1", "edPhilopatry:1", "seIterations:1",
                          "sePrecision:1", "seCoefficientPrecision:1", "cbAlgorithm:1"}));

    auto* options = vandrel::dlgBigMatrixOptions;
    QCOMPARE(
        options->windowTitle() + "|" + options->pcOptions->tabText(0) + "|" +
            options->ckUseExactAlgorithmWhenNeeded->text() + "|" +
            options->ckUseExactAlgorithmWhenNeeded->toolTip(),
        QString("Options|Sensitivity analysis|Use e&xact algorithm when needed|When the approximation might "
                "be wrong, use exact algorithm instead"));
    QVERIFY(!options->ckUseExactAlgorithmWhenNeeded->isChecked());
    QTimer::singleShot(0, options, [options] { options->btOK->click(); });
    fBM->btOptions->click();
    QCOMPARE(options->pcOptions->currentWidget(), options->tsSensitivity);
  }

  void InitialiseBuildsTheDispersalMatrixAndTheModel() {
    const double e1 = std::exp(-1.0), e2 = std::exp(-2.0), w = std::exp(-100 / 999999.0);
    const double u = 1e-6 / (1e-6 + w), l = w / (1e-6 + w), d1 = e1 / (e1 + e2), d2 = e2 / (e1 + e2);
    struct tCase {
      const char *name, *distance, *philopatry, *threshold;
      bool relative, unlinked;  // the first two patches
      int algorithm;
      std::vector<double> expected;  // row by row
    };
    // Two patches; three on a triangle of sides 100 (Kesp3); three on a line 100 apart.
    const std::vector<tCase> cases = {
        {"two linked patches", "999999", "0.8", "0", true, false, 0, {0.9, 0.1, 0.1, 0.9}},
        {"unlinked, exact", "999999", "0.8", "0", true, true, 0, {0.9, 0, 0, 0.9}},
        {"unlinked, Kesp3",
         "999999",
         "0.6",
         "0",
         false,
         true,
         1,
         {0.6, 0.4 * u, 0.2, 0.4 * u, 0.6, 0.2, 0.4 * l, 0.4 * l, 0.6}},
        {"threshold 1", "999999", "0.8", "1", true, false, 0, {0, 0, 0, 0}},
        {"decay with distance",
         "100",
         "0.5",
         "0",
         false,
         false,
         0,
         {0.5, 0.25, 0.5 * d2, 0.5 * d1, 0.5, 0.5 * d1, 0.5 * d2, 0.25, 0.5}},
    };
    for (const tCase& c : cases) {
      const int n = c.expected.size() == 4 ? 2 : 3;
      models::tArrayOfCircles patches;
      for (int i = 0; i < n; ++i)
        patches.push_back(c.algorithm == 1 ? Patch(100 + 100 * (i % 2) + 50 * (i / 2),
                                                   100 + std::sqrt(7500.0) * (i / 2), 20 + i, 0.1, 0.2)
                                           : Patch(100 + 100 * i, 100, 20 + i, 0.1, 0.2));
      fBM->edDispersalDistance->setText(c.distance);
      fBM->edPhilopatry->setText(c.philopatry);
      fBM->edProbThreshold->setText(c.threshold);
      fBM->ckRelativeToPanmixis->setChecked(c.relative);
      fBM->cbAlgorithm->setCurrentIndex(c.algorithm);
      UsePatches(patches);
      if (c.unlinked) {
        models::ConnectanceMat[0][1] = models::ConnectanceMat[1][0] = false;
        fBM->Initialise();
      }
      // The model takes M as the grid shows it, N from the state numbers, b and e from the patches.
      const models::tBigSPOMModel& model = *fBM->BigMatrixModel;
      for (int i = 0; i < n; ++i) {
        double sum = 0;
        for (int j = 0; j < n; ++j) {
          const double shown = Cell(fBM->sgDispersal, i, j).toDouble();
          QVERIFY2(std::abs(shown - c.expected[i * n + j]) <= 1e-12 && model.GetM(i, j) == shown, c.name);
          sum += c.expected[j * n + i];
        }
        QVERIFY2(std::abs(Cell(fBM->sgDispersal, n, i).toDouble() - sum) <= 1e-12, c.name);
        QVERIFY(model.GetN(i, 1) == 20 + i && Cell(fBM->sgStateNumbers, i, 1) == QString::number(20 + i));
        QVERIFY(model.GetN(i, 0) == 0 && model.Getb(i) == 0.1 && model.Gete(i) == 0.2);
      }
      QCOMPARE(fBM->sgDispersal->verticalHeaderItem(n)->text(), QString("Sum"));
      QCOMPARE(fBM->sgStateNumbers->verticalHeaderItem(0)->text(), QString("Deme 1"));
      QCOMPARE(fBM->Dispersal(0, 1), c.expected[1]);
    }
  }

  void InitialiseRefusesWhatTheModelCannotTake() {
    // More than 16 patches when the window is made: 16, and a warning.
    fBM->close();
    fMain->seNbPatch->setValue(17);
    fMain->btMakeLandscapeClick();
    fDialogs->Messages.clear();
    fBM = NewWorkbench();
    QVERIFY(fMain->seNbPatch->value() == 16 && models::PatchCount() == 16 &&
            fBM->BigMatrixModel->DemeCount() == 16);
    QCOMPARE(fDialogs->Messages,
             std::vector<std::string>({"The BigMatrix module cannot take more than 16 patches. "
                                       "Their number has been reduced accordingly"}));
    // Sizes in 64 bits; 8 bytes a cell, in megabytes, and the share of the free memory.
    const char* sixteen = "16776960 x 16776960 = 281,466,386,841,600 (2,147,418,113 Mb = ";
    QVERIFY(fBM->edMatrixT->text().startsWith(sixteen));
    QCOMPARE(TdlgBigMatrix::MatrixTText(16, 2, int64_t(1) << 40),
             std::string(sixteen) + "204,794% of available memory)");
    fBM->btDisplayT->click();
    QCOMPARE(fDialogs->Messages.back(),
             std::string("This matrix has 281466386841600 cells: too many to display (at most 1000000)."));

    // Three states: the message, and the model stays.
    const models::tBigSPOMModel* model = fBM->BigMatrixModel.get();
    fBM->seNbStates->setValue(3);
    QCOMPARE(fDialogs->Messages.back(), std::string("Only SPOMs have yet been implemented."));
    QVERIFY(fBM->BigMatrixModel.get() == model && fBM->sgStateNumbers->columnCount() == 3);
    fBM->seNbStates->setValue(2);

    // A later landscape of 30 patches leaves no model, and Compute says why.
    models::tArrayOfCircles patches;
    for (int i = 0; i < 30; ++i) patches.push_back(Patch(10 * i, 10, 5, 1, 0.1));
    UsePatches(patches);
    QVERIFY(!fBM->BigMatrixModel);
    const std::string refusal =
        "The BigMatrix module cannot take more than 16 patches, and this landscape has 30: "
        "reduce their number and initialise again.";
    QCOMPARE(fDialogs->Messages.back(), refusal);
    fBM->btComputeAll->click();
    QVERIFY(fDialogs->Messages.back() == refusal && fDialogs->Kinds.back() == vandrel::tMessageKind::mkError);

    UsePatches({Patch(0, 0, 10, 1, 0.1), Patch(50, 0, 10, 1, 0.1), Patch(0, 50, 10, 1, 0.1)});
    QCOMPARE(fBM->edMatrixP0->text(), QString("7 x 7 = 49"));
    QVERIFY(fBM->edMatrixT->text().startsWith("63 x 63 = 3,969 ("));
    QCOMPARE(fBM->edActualSize->text(), QString("30"));
  }

  void ComputeAgreesWithADenseEigenSolve() {
    models::tArrayOfCircles four = Three();
    four.push_back(Patch(170, 170, 26, 0.1, 0.12));
    struct tCase {
      const char* name;
      models::tArrayOfCircles patches;
      int algorithm;
      bool occupancy;
    };
    for (const tCase& c :
         std::vector<tCase>{{"3 patches, exact", Three(), 0, false},
                            {"3 patches, exact, occupancy", Three(), 0, true},
                            {"3 patches, Kesp3", Three(), 1, false},
                            {"4 patches, exact", four, 0, false},
                            {"4 patches, Kesp3, occupancy", four, 1, true},
                            {"1 patch that never dies", {Patch(0, 0, 1000, 1, 0)}, 0, false}}) {
      fBM->edDispersalDistance->setText("100");
      fBM->cbAlgorithm->setCurrentIndex(c.algorithm);
      fBM->ckPropOccupancy->setChecked(c.occupancy);
      UsePatches(c.patches);
      fBM->mmModel->clear();
      fBM->btComputeAll->click();

      const tDemes dense = Dense();
      const tDominant p0 = Dominant(DenseP0(dense));
      double lt = 0;
      if (c.algorithm == 0)
        DominantVector(DenseT(dense), lt);
      else
        lt = Kesp3(dense, p0, Dominant(DenseG(dense, (1u << dense.Count()) - 1)));
      const double lp0 = std::min(p0.Value, 1.0);
      lt = std::min(lt, 1.0);
      const tShown shownP0 = Shown(fBM->edLambdaP0->text()), shownT = Shown(fBM->edLambdaT->text());
      QVERIFY2(Agrees(shownP0, lp0) && Agrees(shownT, lt) && Agrees(Shown(fBM->edLambdaG->text()), lt / lp0),
               c.name);
      if (lp0 < 1)
        QVERIFY2(std::abs(fBM->edTimeToExtinction->text().toDouble() - 1 / (1 - lp0)) <= 1, c.name);
      else
        QCOMPARE(fBM->edTimeToExtinction->text(), QString("Infinity"));

      // The text output: its header and a line with the same values.
      QStringList header = {"MetapopSize", "Lp0", "Lt", "Lg"};
      for (int i = 1; c.occupancy && i <= dense.Count(); ++i) header << QString("Occup%1").arg(i);
      header << "Time"
             << "Iterations";
      QCOMPARE(Output()[0], header.join('\t'));
      const QStringList fields = LastOutput().split('\t');
      double size = 0;
      for (const models::tCircle& patch : c.patches) size += patch.A;
      QVERIFY2(fields.size() == header.size() && fields[0].toDouble() == size, c.name);
      QVERIFY2(Agrees({fields[1].toDouble(), shownP0.Error, shownP0.Unit}, lp0), c.name);
      QVERIFY2(Agrees({fields[2].toDouble(), shownT.Error, shownT.Unit}, lt), c.name);
      for (int d = 0; c.occupancy && d < dense.Count(); ++d) {
        double occupancy = 0;
        for (int r = 0; r < p0.Right.size(); ++r)
          occupancy += bigmatrixtest::Occupied(r + 1, d) * p0.Right[r] / p0.Right.sum();
        QVERIFY2(std::abs(fields[4 + d].toDouble() - occupancy) < 1e-4, c.name);
      }
      QVERIFY(fields.last() == fBM->edIterationCount->text() &&
              fields[fields.size() - 2] == fBM->edElapsedTime->text());
      QVERIFY(QRegularExpression("^\\d\\d:\\d\\d:\\d\\d$").match(fBM->edElapsedTime->text()).hasMatch());
      QVERIFY2(fDialogs->Messages.empty(), c.name);
    }
  }

  void OtherButtonsReuseTheComputations() {
    UsePatches(Three());
    const tDemes dense = Dense();
    const MatrixXd p0 = DenseP0(dense);
    double lp0 = 0, lt = 0, lg = 0;
    DominantVector(p0, lp0);
    DominantVector(DenseT(dense), lt);
    DominantVector(DenseG(dense, 7), lg);

    // A matrix display asks first, then writes one line per row.
    fDialogs->Confirmations = {false, true};
    fBM->btDisplayP0->click();
    QCOMPARE(fDialogs->Messages.back(),
             std::string("This matrix has 49 cells. Do you really want to display it?"));
    QVERIFY(fBM->mmModel->toPlainText().isEmpty());
    fBM->btDisplayP0->click();
    QVERIFY(Output().size() == 8 && Output()[0] == "Matrix Po (7 x 7):");
    for (int r = 0; r < 7; ++r)
      for (int c = 0; c < 7; ++c)
        QVERIFY(std::abs(Output()[r + 1].mid(10 * c, 10).toDouble() - p0(r, c)) <= 5e-4 * p0(r, c) + 1e-12);

    // Each eigensystem button writes its eigenvalue and the time it took.
    for (auto [button, label, expected] :
         std::vector<std::tuple<QPushButton*, QString, double>>{{fBM->btP0Eigensystem, "Eigenvalue P0:", lp0},
                                                                {fBM->btGEigensystem, "Eigenvalue G:", lg},
                                                                {fBM->btTEigensystem, "Eigenvalue T:", lt}}) {
      button->click();
      const QStringList value = Output()[Output().size() - 2].split('\t');
      QVERIFY(value[0] == label && Agrees(Shown(value[1]), expected) &&
              LastOutput().startsWith("Elapsed time:\t"));
    }
    // One group of all the patches: the exact values of the whole model.
    fBM->seMaxGroupSize->setValue(9);
    fBM->btHierarchicalAnalysis->click();
    const QStringList hierarchic = Output()[Output().size() - 2].split('\t');
    QCOMPARE(Output()[Output().size() - 3], QString("Lp0\tLt\tLg"));
    QVERIFY(std::abs(hierarchic[0].toDouble() - lp0) < 1e-5 &&
            std::abs(hierarchic[1].toDouble() - lt) < 1e-5);
    QCOMPARE(fDialogs->Messages.size(), size_t(2));

    // The inverse distance: philopatry at home, the rest shared by the distance.
    fBM->edPhilopatry->setText("0.7");
    fBM->edProbThreshold->setText("0.05");
    QCOMPARE(fBM->InverseDistance(1, 1), 0.7);
    const double diagonal = std::hypot(fMain->seWidth->value(), fMain->seHeight->value());
    QVERIFY(std::abs(fBM->InverseDistance(0, 1) - 0.3 * (1 - 60 / diagonal)) < 1e-12);
    fBM->edProbThreshold->setText("0.3");
    QCOMPARE(fBM->InverseDistance(0, 1), 0.0);
    fBM->edDispersalDistance->setText("");
    QCOMPARE(fBM->GetAlpha(), 0.1);

    // One patch is one cluster: P0 and T are 1 x 1, the chance to stay occupied,
    // times 1 - 1 / Ne for T (Ne = N, the area).
    UsePatches({Patch(0, 0, 34.55, 0.1031, 0.0666)});
    fBM->btHierarchicalAnalysis->click();
    QCOMPARE(fDialogs->Messages.size(), size_t(2));
    const QStringList single = Output()[Output().size() - 2].split('\t');
    const double stays = 1 - (0.0666 + (1 - 0.0666) * std::exp(-34.55 * 0.1031)), drift = 1 - 1 / 34.55;
    QVERIFY2(std::abs(single[0].toDouble() - stays) < 1e-5 &&
                 std::abs(single[1].toDouble() - stays * drift) < 1e-5 &&
                 std::abs(single[2].toDouble() - drift) < 1e-5,
             qPrintable(single.join(' ')));
  }

  void Kesp3WarnsWhenItsConditionFails() {
    fBM->cbAlgorithm->setCurrentIndex(1);
    for (const double smallest : {19.0, 20.0}) {
      fDialogs->Messages.clear();
      UsePatches({Patch(0, 0, smallest, 0.1, 0.1), Patch(30, 0, 25, 0.1, 0.1)});
      fBM->btComputeAll->click();
      QCOMPARE(fDialogs->Messages, smallest < 20
                                       ? std::vector<std::string>{"The approximation might be wrong."}
                                       : std::vector<std::string>{});
      QVERIFY(!fBM->edLambdaG->text().isEmpty());
    }
    // A batch line asking for Kesp3 runs the exact computation when the
    // options say so and the condition fails, else Kesp3.
    UsePatches({Patch(0, 0, 19, 0.1, 0.1), Patch(30, 0, 25, 0.1, 0.1)});
    QStringList interactive;  // Lt by Kesp3, then exact
    for (int algorithm : {1, 0}) {
      fBM->cbAlgorithm->setCurrentIndex(algorithm);
      fBM->btComputeAll->click();
      interactive << LastOutput().split('\t')[2];
    }
    QVERIFY(interactive[0] != interactive[1]);
    testsupport::tTempFolder folder;
    for (const bool useExact : {false, true}) {
      vandrel::dlgBigMatrixOptions->ckUseExactAlgorithmWhenNeeded->setChecked(useExact);
      fBM->RunBatch({"Simulation(999999,0,0.8,100,6,8,1)"}, folder.File(useExact ? "b.txt" : "a.txt"), false);
      QCOMPARE(LastOutput().split('\t')[9], interactive[useExact ? 1 : 0]);
    }
  }

  void DefaultComputeCostsNoMoreThanItsPasses() {
    // A random landscape of 10 patches and every default of the computation page,
    // the cache of the free memory included; then the same without any cache.
    fMain->seNbPatch->setValue(10);
    fMain->btMakeLandscapeClick();
    if (!fMain->ckComputeMetapop->isChecked()) fBM->Initialise();
    QVERIFY(fBM->BigMatrixModel && fBM->BigMatrixModel->DemeCount() == 10);
    QCOMPARE(fBM->seRAMProportion->value(), 100);
    fBM->pcMain->setCurrentWidget(fBM->tabComputation);
    struct tRun {
      QStringList Shown;
      tChances Chances;
      double Seconds = 0;
      bool WindowFilled = false;
    };
    auto compute = [&](int percent) {
      fBM->seRAMProportion->setValue(percent);
      tRun run;
      {
        testsupport::tEveryPumpCall calls(
            [&] {
              if (models::tBigSPOMModel* m = fBM->BigMatrixModel.get())
                run.WindowFilled = run.WindowFilled || m->P0Mat().RAMFilled() || m->TMat().RAMFilled() ||
                                   m->GMat().RAMFilled() || m->P0LMat().RAMFilled();
            },
            {.MeasureWork = true});
        const double start = testsupport::ThreadSeconds();
        fBM->btComputeAll->click();
        run.Seconds = testsupport::ThreadSeconds() - start;
        run.Chances = {calls.Calls(), calls.LongestWork()};
      }
      QStringList line = LastOutput().split('\t');
      line.removeAt(line.size() - 2);  // the time it took
      run.Shown << fBM->edLambdaP0->text() << fBM->edLambdaT->text() << fBM->edLambdaG->text()
                << fBM->edIterationCount->text() << fBM->edTimeToExtinction->text()
                << fBM->edEffectiveSize->text() << line.join('\t');
      return run;
    };
    compute(0);  // the deme factors of the source states, kept by the model from then on
    const tRun none = compute(0), full = compute(100);
    QVERIFY(fDialogs->Messages.empty());
    QCOMPARE(full.Shown, none.Shown);
    qInfo(
        "RAM 100 %%: %.3f s, %lld chances to let messages through, the longest work between two %.4f s; "
        "RAM 0 %%: %.3f s, %lld chances, %.4f s (processor time)",
        full.Seconds, static_cast<long long>(full.Chances.Calls), full.Chances.LongestWork, none.Seconds,
        static_cast<long long>(none.Chances.Calls), none.Chances.LongestWork);
    QVERIFY2(full.Chances.LongestWork < LongestWork && none.Chances.LongestWork < LongestWork,
             qPrintable(QString::number(full.Chances.LongestWork)));
    // The cache of the free memory costs nothing: no window is filled, and the
    // same work is done between the same passes (a fill would let messages
    // through at every row it fills).
    QVERIFY(!full.WindowFilled && !none.WindowFilled);
    QCOMPARE(full.Chances.Calls, none.Chances.Calls);
  }

  void EveryComputationLetsMessagesThrough() {
    // Ten patches of a random landscape, dispersal decaying with distance (so
    // that they fall into groups): Kesp3, the eigensystems, the hierarchic
    // analysis and a batch line, each with the longest work it does between two
    // chances to let messages through.
    fMain->seNbPatch->setValue(10);
    fMain->btMakeLandscapeClick();
    fBM->edDispersalDistance->setText("20");
    fBM->Initialise();
    QVERIFY(fBM->BigMatrixModel && fBM->BigMatrixModel->DemeCount() == 10);
    testsupport::tTempFolder folder;
    fBM->tabSensitivity->SetBatchLines({"Simulation(20,0,0.8,100,6,8,0)"});
    fBM->tabSensitivity->edOutputFile->setText(QString::fromStdString(folder.File("line.txt")));
    const std::vector<std::pair<QString, std::function<void()>>> computations = {
        {"Kesp3",
         [&] {
           fBM->ckApplicationCondition->setChecked(false);
           fBM->cbAlgorithm->setCurrentIndex(1);
           fBM->btComputeAll->click();
           fBM->cbAlgorithm->setCurrentIndex(0);
         }},
        {"Po eigensystem", [&] { fBM->btP0Eigensystem->click(); }},
        {"T eigensystem", [&] { fBM->btTEigensystem->click(); }},
        {"hierarchic analysis",
         [&] {
           fBM->seMaxGroupSize->setValue(9);
           fBM->btHierarchicalAnalysis->click();
         }},
        {"batch", [&] { fBM->tabSensitivity->btRunBatch->click(); }}};
    for (const auto& [name, computation] : computations) {
      const int lines = Output().size();
      tChances chances;
      {
        testsupport::tEveryPumpCall calls({}, {.MeasureWork = true});
        computation();
        chances = {calls.Calls(), calls.LongestWork()};
      }
      qInfo("%s: %lld chances to let messages through, the longest work between two %.4f s (processor time)",
            qPrintable(name), static_cast<long long>(chances.Calls), chances.LongestWork);
      QVERIFY2(chances.LongestWork < LongestWork, qPrintable(name));
      QVERIFY2(
          Output().size() > lines && !LastOutput().startsWith("*"),
          qPrintable(name + ": " +
                     QString::fromStdString(fDialogs->Messages.empty() ? "" : fDialogs->Messages.back())));
    }
    QVERIFY(fDialogs->Messages.empty());
  }

  void ClosingDuringAComputationWaitsForItToUnwind() {
    UsePatches(Row(10));
    LongIterations();
    QPointer<TdlgBigMatrix> bench = fBM;
    bool stillThere = false;
    tPumpEveryPass everyPass;
    tWhileRunning closer([&] {
      if (!fBM->Computing() || fBM->CurrentEditOutput != fBM->edLambdaT || utile::EigenIteration < 3)
        return false;
      fBM->close();
      stillThere = bench && bench->BigMatrixModel;
      return true;
    });
    fBM->btComputeAll->click();
    QVERIFY(stillThere);
    QTRY_VERIFY(!bench);
    QVERIFY(fMain->fModels.empty());
  }

  void BatchRunsThroughTheWorkbenchAndPurges() {
    // The lists stand for what the batch lines fill, in their order.
    QStringList landscape, model;
    for (QLabel* label : fBM->tabSensitivity->lblLanParams()) landscape << label->text().chopped(1);
    for (QLabel* label : fBM->tabSensitivity->lblParams()) model << label->text().chopped(1);
    QCOMPARE(landscape.join(' '),
             QString("Width Height NbPatch IsolatedPatchArea IsolatedPatchDistance MinArea "
                     "MaxArea PropLargePatches DistanceThreshold Connectance SurvivalDistance "
                     "FixedSurvival LandscapeFile PermeabilityMap OverallProductivity "
                     "SourceProportion SourceDifferential ExtinctionRisk"));
    QCOMPARE(model.join(' '), QString("DispersalDistance ProbThreshold Philopatry Iterations Precision "
                                      "CoefficientPrecision Algorithm"));

    // Two lists of landscapes, two copies each, and a list of two distances.
    fBM->tabSensitivity->edLanParams()[0]->setText("1,2");
    fBM->tabSensitivity->edLanParams()[1]->setText("3");
    fBM->tabSensitivity->seNbLandscapes->setValue(2);
    fBM->tabSensitivity->edParams()[0]->setText("5,6");
    fBM->tabSensitivity->btMakeBatch->click();
    QCOMPARE(fBM->lblBatch->text(), QString("12 lines"));
    QStringList shape;
    for (const std::string& line : fBM->tabSensitivity->BatchLines())
      shape << QString::fromStdString(line.substr(0, line.find(',')));
    QCOMPARE(shape.join(' '),
             QString("MakeLandscape(1 Simulation(5 Simulation(6 MakeLandscape(1 Simulation(5 "
                     "Simulation(6 MakeLandscape(2 Simulation(5 Simulation(6 MakeLandscape(2 "
                     "Simulation(5 Simulation(6"));
    // A file name not in use stands as an empty value.
    QVERIFY(QString::fromStdString(fBM->tabSensitivity->BatchLines()[0])
                .contains(QRegularExpression("^MakeLandscape\\(1,3,3,.*,,,")));

    // A batch file: two landscapes, four simulations, the third emptying M.
    fMain->cbPatchGeometry->setCurrentIndex(6);  // the patches stay as they are
    UsePatches(Three());
    testsupport::tTempFolder folder;
    const std::string batch = folder.File("run.batch"), results = folder.File("results.txt");
    const QString geometry = "400,400,3,5,5,1,40,50,1.5,50,90,1,,,1.1,1,1,0";
    const QStringList simulations = {"100,0,0.8,50,6,8,0", "100,0,0.5,50,6,8,1", "100,1,0.8,50,6,8,0",
                                     "50,0,0.8,50,6,8,0"};
    utile::SaveTextToFile(
        batch, QString("MakeLandscape(%1)\r\nSimulation(%2)\r\nSimulation(%3)\r\n\r\nMakeLandscape(%1)"
                       "\r\nSimulation(%4)\r\nsimulation(%5)\r\n")
                   .arg(geometry, simulations[0], simulations[1], simulations[2], simulations[3])
                   .toStdString());
    fDialogs->FileNames = {batch};
    fBM->tabSensitivity->btLoadBatch->click();
    QCOMPARE(fBM->lblBatch->text(), QString("7 lines"));
    fBM->tabSensitivity->edOutputFile->setText(QString::fromStdString(results));
    fBM->tabSensitivity->btRunBatch->click();
    QCOMPARE(fBM->ggBatchProgress->value(), 100);

    const QStringList rows = Lines(utile::LoadTextFromFile(results));
    const QStringList header = rows[0].split('\t');
    QCOMPARE(rows[0], "Landscape\t" + landscape.join('\t') + "\t" + model.join('\t') +
                          "\tPopSize\tLp0\tLt\tLg\tTime\tIterations");
    QCOMPARE(rows.size(), 7);  // header, four rows, the error count, and the end of the last line
    int areas = 0;             // as the landscape lines left them
    for (const models::tCircle& patch : models::Patches) areas += static_cast<int>(std::round(patch.A));
    const QString values = QString(geometry).replace(',', '\t');
    QCOMPARE(rows[3], "****** Error for 1\t" + values + "\t100\t1\t0.8\t50\t6\t8\t0\t ************");
    for (int r : {0, 1, 3}) {
      const QStringList fields = rows[r + 1].split('\t');
      QCOMPARE(fields.size(), header.size());
      QCOMPARE(fields.mid(0, 26).join('\t'),
               QString(r < 2 ? "0\t" : "1\t") + values + "\t" + QString(simulations[r]).replace(',', '\t'));
      QVERIFY(fields[header.indexOf("PopSize")] == QString::number(areas) &&
              Shown(fields[header.indexOf("Lp0")]).Value > 0.5);
    }
    QCOMPARE(rows[5], QString("******* 1 errors encountered"));
    QVERIFY(fMain->edSurvivalDistance->text() == "90" && fBM->edDispersalDistance->text() == "50");
    // An interactive line afterwards has no batch values before it.
    fBM->btComputeAll->click();
    QVERIFY(LastOutput().startsWith(QString::number(areas) + "\t"));

    // Purge: the error lines go, the rest stays as it was, written in one piece.
    utile::SaveTextToFile(results, utile::LoadTextFromFile(results) + "\r\nlast line\n*");
    fDialogs->FileNames = {results};
    fBM->btPurgeResults->click();
    QCOMPARE(fDialogs->Titles.back() + "|" + fDialogs->Filters.back() + "|" + fDialogs->Messages.back(),
             std::string("Select file to purge|Text file (*.txt)|*.txt|All files (*.*)|*.*|Errors found: 3"));
    const std::string purged = utile::LoadTextFromFile(results);
    QCOMPARE(QString::fromStdString(purged),
             (QStringList{rows[0], rows[1], rows[2], rows[4], "", "last line\n"}).join("\r\n"));
    fDialogs->FileNames = {results};
    fBM->btPurgeResults->click();
    QVERIFY(fDialogs->Messages.back() == "Errors found: 0" && utile::LoadTextFromFile(results) == purged);
    QCOMPARE(QDir(QString::fromStdString(folder.File(""))).entryList(QDir::Files).size(), 2);
  }

  void BatchAbortEndsAfterTheCurrentLine() {
    UsePatches(Row(10));
    fBM->seRAMProportion->setValue(0);
    // The second line takes long: it is aborted during its T iteration.
    fBM->tabSensitivity->SetBatchLines({"Simulation(999999,0,0.8,20,6,8,1)",
                                        "Simulation(999999,0,0.8,100000,20,8,0)",
                                        "Simulation(999999,0,0.8,20,6,8,1)"});
    testsupport::tTempFolder folder;
    fBM->tabSensitivity->edOutputFile->setText(QString::fromStdString(folder.File("abort.txt")));
    fDialogs->Confirmations = {true};
    bool abortEnabled = false;
    tPumpEveryPass everyPass;
    tWhileRunning aborter([&] {
      if (!fBM->Computing() || fBM->CurrentEditOutput != fBM->edLambdaT || utile::EigenIteration < 2)
        return false;
      abortEnabled = fBM->btAbortSensitivity->isEnabled() && !fBM->tabSensitivity->btRunBatch->isEnabled();
      fBM->btAbortSensitivity->click();
      return true;
    });
    fBM->tabSensitivity->btRunBatch->click();
    QVERIFY(abortEnabled);
    QCOMPARE(fDialogs->Messages.back(), std::string("Do you really want to abort the analysis?"));
    const QStringList rows = Lines(utile::LoadTextFromFile(folder.File("abort.txt")));
    QCOMPARE(rows.size(), 5);
    QVERIFY(rows[1].startsWith("999999\t0\t0.8\t20\t6\t8\t1\t250\t"));
    QCOMPARE(rows[2], QString("****** Error for 999999\t0\t0.8\t100000\t20\t8\t0\t ************"));
    QCOMPARE(rows[3], QString("******* 1 errors encountered"));
    // The stages after T did not run; the third line never started.
    QVERIFY(fBM->edLambdaG->text().isEmpty() && fBM->seIterations->value() == 100000);
    QVERIFY(!fBM->IsRunning() && fBM->btComputeAll->isEnabled() && !fBM->btAbortSensitivity->isEnabled());
  }

  void DispersalGridIsReadableAtTheDefaultSize() {
    // Ten and sixteen patches of a random landscape, the window at its default
    // size: every cell of the grid shows its whole text, the columns beyond the
    // view reached by the scroll bar.
    fMain->show();
    fBM->show();
    QVERIFY(QTest::qWaitForWindowExposed(fBM));
    for (const int patches : {10, 16}) {
      fMain->seNbPatch->setValue(patches);
      fMain->btMakeLandscapeClick();
      if (!fMain->ckComputeMetapop->isChecked()) fBM->Initialise();
      fBM->pcMain->setCurrentWidget(fBM->tabParameters);
      QApplication::processEvents();
      QTableWidget* grid = fBM->sgDispersal;
      const QAbstractItemView* view = grid;  // where the width a column's cells need is public
      QCOMPARE(grid->columnCount(), patches);
      int total = 0;
      for (int column = 0; column < grid->columnCount(); ++column) {
        QVERIFY2(grid->columnWidth(column) >= view->sizeHintForColumn(column),
                 qPrintable(QString("%1 patches, column %2: %3 < %4")
                                .arg(patches)
                                .arg(column + 1)
                                .arg(grid->columnWidth(column))
                                .arg(view->sizeHintForColumn(column))));
        total += grid->columnWidth(column);
      }
      // The cells as the grid writes them, each column reachable.
      QCOMPARE(Cell(grid, 1, 0), QString::fromStdString(utile::Format("%g", fBM->DispersalMatrix[1][0])));
      if (total > grid->viewport()->width()) QVERIFY(grid->horizontalScrollBar()->maximum() > 0);
      Grab(fBM, QString("dispersal-%1").arg(patches));
    }
  }

  void UserPathFromTheModulesMenu() {
    fBM->close();
    QTRY_VERIFY(fMain->fModels.empty());
    fMain->show();
    fMain->mnNewBigMatrix->trigger();
    fBM = qobject_cast<TdlgBigMatrix*>(fMain->CurrentModel);
    QVERIFY(fMain->fModels.size() == 1 && fBM && QTest::qWaitForWindowExposed(fBM));
    fMain->cbPatchGeometry->setCurrentIndex(6);
    UsePatches(Three());

    // Parameters typed in: the model follows each change.
    fBM->edPhilopatry->selectAll();
    QTest::keyClicks(fBM->edPhilopatry, "0.7x");
    QCOMPARE(fBM->edPhilopatry->text(), QString("0.7"));
    QVERIFY(std::abs(fBM->BigMatrixModel->GetM(0, 0) - (0.7 * 2 / 3 + 1.0 / 3)) < 1e-12);
    fBM->btApply->click();
    Grab(fBM, "parameters");

    fBM->pcMain->setCurrentWidget(fBM->tabComputation);
    QTest::keyClick(fBM->cbAlgorithm, Qt::Key_Down);
    QCOMPARE(fBM->cbAlgorithm->currentText(), QString("Kesp3"));
    fBM->btComputeAll->click();
    QVERIFY(fDialogs->Messages.empty() && !fBM->edEffectiveSize->text().isEmpty());
    const QString kesp3 = fBM->edLambdaT->text();
    QTest::keyClick(fBM->cbAlgorithm, Qt::Key_Up);
    fBM->btComputeAll->click();
    QVERIFY(std::abs(Shown(fBM->edLambdaT->text()).Value - Shown(kesp3).Value) < 0.01);
    Grab(fBM, "computation");

    // A long computation: P0 aborted at its 20th pass, then T's display shown at
    // each of its first six passes as its two-second timer shows it, then T
    // aborted at its sixth.
    UsePatches(Row(12));
    LongIterations();
    int p0Request = -1, tRequest = -1;
    QStringList ticks;
    bool locked = false, readOutput = false, timed = true, shown = true;
    tPumpEveryPass everyPass;
    tWhileRunning watch([&] {
      if (!fBM->Computing()) return false;
      if (p0Request < 0 && fBM->CurrentEditOutput == fBM->edLambdaP0 && utile::EigenIteration >= 20) {
        locked = !fBM->tabParameters->isEnabled() && !fBM->btComputeAll->isEnabled() &&
                 fBM->btAbort->isEnabled() && !fMain->pnLandscape->isEnabled() &&
                 !fMain->mnInitialise->isEnabled() && !fBM->tabSensitivity->btRunBatch->isEnabled();
        try {
          fBM->Initialise();
          locked = false;
        } catch (const utile::EInvalidOperation&) {
        }
        p0Request = utile::EigenIteration;
        fBM->btAbort->click();
      }
      const int pass = utile::EigenIteration;
      if (fBM->CurrentEditOutput != fBM->edLambdaT || pass < 1 || pass <= ticks.size() || tRequest >= 0)
        return false;
      // The display timer runs every two seconds while T is computed; its tick
      // shows the pass reached.
      timed = timed && fBM->timComputation->isActive() && fBM->timComputation->interval() == 2000;
      FireTimer(fBM->timComputation);
      ticks << fBM->edElapsedTime->text() + " | " + fBM->edIterationCount->text() + " | " +
                   fBM->edLambdaT->text();
      shown = shown && fBM->edIterationCount->text().startsWith(QString("%1    (").arg(pass)) &&
              Agrees(Shown(fBM->edLambdaT->text()), utile::EigenEstimate);
      if (ticks.size() == 3) Grab(fBM, "progress");
      // The user turns to the text output while T is computed, reads it, and comes back.
      if (ticks.size() == 4 && !readOutput) {
        QTabBar* tabs = fBM->pcMain->tabBar();
        QTest::mouseClick(tabs, Qt::LeftButton, {},
                          tabs->tabRect(fBM->pcMain->indexOf(fBM->tabTextOutput)).center());
        readOutput = fBM->pcMain->currentWidget() == fBM->tabTextOutput && fBM->mmModel->isVisible() &&
                     fBM->mmModel->isEnabled() && fBM->mmModel->toPlainText().contains("MetapopSize\tLp0");
        Grab(fBM, "reading");
        QTest::mouseClick(tabs, Qt::LeftButton, {},
                          tabs->tabRect(fBM->pcMain->indexOf(fBM->tabComputation)).center());
        readOutput = readOutput && fBM->pcMain->currentWidget() == fBM->tabComputation;
      }
      if (ticks.size() == 6) {
        tRequest = pass;
        fBM->btAbort->click();
        return true;
      }
      return false;
    });
    fBM->btComputeAll->click();
    QVERIFY(locked && readOutput && timed && shown);
    QVERIFY(fBM->tabParameters->isEnabled() && !fBM->btAbort->isEnabled() &&
            fMain->pnLandscape->isEnabled() && !fBM->timComputation->isActive());
    // One tick a pass, each showing something new.
    QCOMPARE(ticks.size(), 6);
    QCOMPARE(tRequest, 6);
    for (int i = 1; i < ticks.size(); ++i) QVERIFY2(ticks[i] != ticks[i - 1], qPrintable(ticks[i]));
    QVERIFY2(ticks.last().contains(" / iteration)"), qPrintable(ticks.last()));
    // At most one pass after each request; the values reached are shown.
    const int tPasses = utile::EigenIteration, p0Passes = fBM->edIterationCount->text().toInt() - tPasses;
    QVERIFY(tPasses >= tRequest && tPasses - tRequest <= 1 && p0Passes >= p0Request &&
            p0Passes - p0Request <= 1);
    QVERIFY(!fBM->edLambdaT->text().isEmpty() && !fBM->edLambdaG->text().isEmpty());
    QVERIFY(LastOutput().endsWith("\t" + fBM->edIterationCount->text()));

    // A batch file of two simulations, and its result file.
    UsePatches(Three());
    fBM->pcMain->setCurrentWidget(fBM->tabSensitivity);
    testsupport::tTempFolder folder;
    utile::SaveTextToFile(folder.File("two.batch"),
                          "Simulation(100,0,0.8,100,6,8,0)\nSimulation(100,0,0.6,100,6,8,1)\n");
    fDialogs->FileNames = {folder.File("two.batch")};
    QTest::mouseClick(fBM->tabSensitivity->btLoadBatch, Qt::LeftButton);
    fBM->tabSensitivity->edOutputFile->setText(QString::fromStdString(folder.File("two.txt")));
    QTest::mouseClick(fBM->tabSensitivity->btRunBatch, Qt::LeftButton);
    const QStringList rows = Lines(utile::LoadTextFromFile(folder.File("two.txt")));
    QCOMPARE(rows.size(), 4);
    QVERIFY(rows[1].startsWith("100\t0\t0.8\t100\t6\t8\t0\t75\t") &&
            rows[2].startsWith("100\t0\t0.6\t100\t6\t8\t1\t75\t"));
    Grab(fBM, "sensitivity");
  }
};

QTEST_MAIN(BigMatrixTest)
#include "BigMatrixTest.moc"
