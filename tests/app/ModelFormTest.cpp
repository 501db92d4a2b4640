// The workbench base class apart from batches: connectivity with its fallback,
// the abstract operations, the file-choosing double click and the result file.
#include <QLineEdit>
#include <QSpinBox>
#include <QtTest>
#include <cmath>

#include "ScriptedDialogs.h"
#include "TestSupport/StatisticalChecks.h"
#include "TestWorkbench.h"
#include "Utile/RunTime.h"
#include "app/WindowServices.h"
#include "app/dlgVandrelU.h"
#include "models/MetapopCommon.h"

using testsupport::tTestWorkbench;

namespace {
// A workbench that provides nothing of its own.
class tBareWorkbench : public vandrel::tModelForm {
 public:
  using tModelForm::tModelForm;
};
}  // namespace

class ModelFormTest : public QObject {
  Q_OBJECT

  vandrel::TdlgVandrel* fMain = nullptr;
  tTestWorkbench* fBench = nullptr;
  testsupport::tScriptedDialogs* fDialogs = nullptr;

 private slots:
  void init() {
    fDialogs = &testsupport::InstallScriptedDialogs();
    fMain = new vandrel::TdlgVandrel;
    fBench = new tTestWorkbench(fMain);
    fMain->AddNewModel(fBench);
    // Three patches on a line: (0,0), (30,40), (60,80); the middle one linked to neither.
    models::Patches = {{1, 0, 0, 1, 0, 0}, {2, 30, 40, 1, 0, 0}, {3, 60, 80, 1, 0, 0}};
    models::ComputeDistanceMatrix();
    models::ConnectanceMat = {{true, false, true}, {false, true, false}, {true, false, true}};
  }
  void cleanup() {
    delete fMain;
    vandrel::SetDialogs(nullptr);
  }

  void ConnectivityFallsBackOnTheLinkMatrix() {
    QVERIFY(!fBench->HasConnectivityFunction());
    QCOMPARE(fBench->GetConnectivity(0, 2), 1.0);
    QCOMPARE(fBench->GetConnectivity(0, 1), 0.0);
    // A function that fails for some pairs: those pairs take the link matrix.
    fBench->SetConnectivityFunction([](int32_t i, int32_t j) -> double {
      if (i == 1 || j == 1) throw utile::EZeroDivide("no value");
      return 0.25 * (i + j);
    });
    QCOMPARE(fBench->GetConnectivity(0, 2), 0.5);
    QCOMPARE(fBench->GetConnectivity(2, 2), 1.0);
    QCOMPARE(fBench->GetConnectivity(1, 1), 1.0);
    QCOMPARE(fBench->GetConnectivity(0, 1), 0.0);
    // Whatever it throws.
    fBench->SetConnectivityFunction([](int32_t i, int32_t j) -> double {
      if (i == 1 || j == 1) throw 1;
      return 0.25 * (i + j);
    });
    QCOMPARE(fBench->GetConnectivity(1, 1), 1.0);
    QCOMPARE(fBench->GetConnectivity(1, 2), 0.0);
    fBench->SetConnectivityFunction([](int32_t i, int32_t j) -> double {
      if (i == 1 || j == 1) throw utile::EZeroDivide("no value");
      return 0.25 * (i + j);
    });
    // The largest over all ordered pairs, the diagonal included.
    QCOMPARE(fBench->fMaxConnectivity, 1.0);
    const utile::tMatrixOfDouble expected = {{0, 0, 0.5}, {0, 1, 0}, {0.5, 0, 1}};
    QCOMPARE(fBench->ConnectivityMatrix(), expected);
  }

  void MaximumConnectivityIsOneWhenNothingIsPositive() {
    QCOMPARE(fBench->GetMaxConnectivity(), 1.0);
    fBench->SetConnectivityFunction([](int32_t, int32_t) { return -2.0; });
    QCOMPARE(fBench->fMaxConnectivity, -2.0);
    QCOMPARE(fBench->GetMaxConnectivity(), 1.0);
    fBench->SetConnectivityFunction([](int32_t i, int32_t j) { return 0.1 * (i + 1) * (j + 1); });
    QCOMPARE(fBench->GetMaxConnectivity(), 0.1 * 9);
  }

  void InverseDistanceUsesTheDiagonalOfTheStudyArea() {
    fMain->seWidth->setValue(300);
    fMain->seHeight->setValue(400);
    // Distance 50 over a diagonal of 500; distance 100 over 500.
    QCOMPARE(fBench->InverseDistance(0, 1), 0.9);
    QCOMPARE(fBench->InverseDistance(0, 2), 0.8);
    QCOMPARE(fBench->InverseDistance(1, 1), 1.0);
    fBench->SetConnectivityFunction([this](int32_t i, int32_t j) { return fBench->InverseDistance(i, j); });
    QCOMPARE(fBench->GetMaxConnectivity(), 1.0);
    QCOMPARE(fBench->PatchCount(), 3);
    QCOMPARE(fBench->GetConnectance(1, 2), 0.0);
  }

  void AbstractOperationsRaiseTheAbstractError() {
    tBareWorkbench bare(fMain);
    QVERIFY_THROWS_EXCEPTION(utile::EAbstractError, bare.GetParam());
    QVERIFY_THROWS_EXCEPTION(utile::EAbstractError, bare.GetAlpha());
    QVERIFY_THROWS_EXCEPTION(utile::EAbstractError, bare.GetTerritory());
    QVERIFY_THROWS_EXCEPTION(utile::EAbstractError, bare.Initialise());
    QVERIFY_THROWS_EXCEPTION(utile::EAbstractError, bare.RunSensitivity());
    QVERIFY_THROWS_EXCEPTION(utile::EAbstractError, bare.ShowModel());
    QVERIFY_THROWS_EXCEPTION(utile::EAbstractError, bare.WriteHeaders());
    QVERIFY(!bare.HasGetParam());
    // The base Simulation puts nothing anywhere and then needs Initialise.
    QVERIFY_THROWS_EXCEPTION(utile::EAbstractError, bare.Simulation("Simulation(1)"));
  }

  void RunSetsTheFlagAndStopClearsIt() {
    QSignalSpy changes(fBench, &vandrel::tModelForm::RunningChanged);
    QVERIFY(QApplication::overrideCursor() == nullptr);
    fBench->tModelForm::Run();
    QVERIFY(fBench->IsRunning());
    // The hour-glass shows for as long as the workbench runs.
    QVERIFY(QApplication::overrideCursor() != nullptr);
    QCOMPARE(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
    fBench->Stop();
    QVERIFY(!fBench->IsRunning());
    QVERIFY(QApplication::overrideCursor() == nullptr);
    QCOMPARE(changes.count(), 2);
  }

  void OpenModelRecordsTheName() {
    tBareWorkbench bare(fMain);
    bare.OpenModel("/data/a.model");
    QCOMPARE(bare.fFilename, std::string("/data/a.model"));
  }

  void DoubleClickFillsTheEditWithTheChosenFiles() {
    QLineEdit edit("0.5");
    fDialogs->FileNameLists = {{"/m/a.rst", "/m/b.rst"}};
    fBench->DoSensitivityDoubleClick(&edit);
    QCOMPARE(edit.text(), QString("/m/a.rst,/m/b.rst"));
    QCOMPARE(fDialogs->Titles.back(), std::string("Select files"));
    QCOMPARE(fDialogs->Filters.back(),
             std::string("All files (*.*)|*.*|Patch file (*.patch)|*.patch|Raster file "
                         "(*.rst)|*.rst|Text file (*.txt)|*.txt"));
    // Cancel leaves the edit alone.
    fBench->DoSensitivityDoubleClick(&edit);
    QCOMPARE(edit.text(), QString("/m/a.rst,/m/b.rst"));
  }

  void ResultFilesEndLinesWithCrLfAndReportFailures() {
    testsupport::tTempFolder folder;
    vandrel::tTextFile file;
    file.Rewrite(folder.File("r.txt"));
    file.Write("a\t");
    file.WriteLn("b");
    file.WriteLn();
    file.Close();
    QCOMPARE(utile::LoadTextFromFile(folder.File("r.txt")), std::string("a\tb\r\n\r\n"));
    file.Append(folder.File("r.txt"));
    file.WriteLn("c");
    file.Close();
    QCOMPARE(utile::LoadTextFromFile(folder.File("r.txt")), std::string("a\tb\r\n\r\nc\r\n"));
    QVERIFY_THROWS_EXCEPTION(utile::EInOutError, file.Rewrite(folder.File("missing/r.txt")));
  }

  void BatchLinesAreRecognisedAndSplit() {
    using vandrel::tBatchLineKind;
    struct tCase {
      const char* line;
      tBatchLineKind kind;
      std::vector<std::string> values;
    };
    for (const tCase& c : std::initializer_list<tCase>{
             {"MakeLandscape(1,2.5,File.Patch)", tBatchLineKind::blLandscape, {"1", "2.5", "File.Patch"}},
             {"makelandscape(3:4)", tBatchLineKind::blLandscape, {"3:4"}},
             {"SIMULATION(3:4,,X)", tBatchLineKind::blSimulation, {"34", "", "X"}},
             {"Simulation()", tBatchLineKind::blSimulation, {""}},
             {"Simulation(a,b),", tBatchLineKind::blSimulation, {"a", "b", ""}},
             // A line read from a file written with CR LF keeps no CR in its last value.
             {"Simulation(a,7)\r", tBatchLineKind::blSimulation, {"a", "7"}},
             {"MakeLandscape(100,Land.patch)\r", tBatchLineKind::blLandscape, {"100", "Land.patch"}},
             {" Simulation(a)", tBatchLineKind::blOther, {}},
             {"Simulate(a)", tBatchLineKind::blOther, {}},
             {"", tBatchLineKind::blOther, {}}}) {
      QVERIFY2(vandrel::BatchLineKind(c.line) == c.kind, c.line);
      if (c.kind != tBatchLineKind::blOther) QCOMPARE(vandrel::BatchLineValues(c.line, c.kind), c.values);
    }
  }

  void LandscapeLinesUseOnlyEditsAndSpinEdits() {
    std::string taken;
    size_t next = 0;
    const std::vector<std::string> values = {"7", "9", "x", "2.5"};
    fBench->cbC->setCurrentIndex(1);
    for (QWidget* component :
         std::initializer_list<QWidget*>{fBench->cbC, fBench->sgE, fBench->edA, fBench->seB})
      vandrel::TakeBatchValues(component, vandrel::tBatchTarget::btLandscape, values, next, taken);
    QCOMPARE(fBench->cbC->currentIndex(), 1);
    QCOMPARE(fBench->sgE->item(0, 1), nullptr);
    QCOMPARE(fBench->edA->text(), QString("x"));
    QCOMPARE(fBench->seB->value(), 2);
    QCOMPARE(taken, std::string("7\t9\tx\t2.5\t"));
    QCOMPARE(next, size_t(4));
  }
};

QTEST_MAIN(ModelFormTest)
#include "ModelFormTest.moc"
