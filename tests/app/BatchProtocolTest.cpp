// The batch protocol of the workbench framework, run on a small workbench made
// for the tests; result files are compared line by line.
#include <QtTest>
#include <chrono>

#include "MainWindowHarness.h"
#include "ScriptedDialogs.h"
#include "TestSupport/StatisticalChecks.h"
#include "TestWorkbench.h"
#include "Utile/RunTime.h"
#include "app/WindowServices.h"
#include "app/dlgPatchDataU.h"
#include "app/dlgVandrelU.h"
#include "models/MetapopCommon.h"

using testsupport::FileLines;
using testsupport::tScriptedDialogs;
using testsupport::tTestWorkbench;
using vandrel::tDialogResult;

namespace {
std::vector<std::string> Lines(std::initializer_list<const char*> lines) {
  return {lines.begin(), lines.end()};
}

const char* const Header = "Landscape\tA\tB\tC\tD\tE1\tE2";
}  // namespace

class BatchProtocolTest : public QObject {
  Q_OBJECT

  vandrel::TdlgVandrel* fMain = nullptr;
  tTestWorkbench* fBench = nullptr;
  tScriptedDialogs* fDialogs = nullptr;
  testsupport::tTempFolder* fFolder = nullptr;

 private slots:
  void init() {
    fMain = testsupport::OpenMainWindow(fDialogs);
    fBench = new tTestWorkbench(fMain);
    fMain->AddNewModel(fBench);
    fFolder = new testsupport::tTempFolder;
  }
  void cleanup() {
    delete fFolder;
    testsupport::CloseMainWindow(fMain);
  }

  void KeywordsMatchAnyCaseAtTheStartOnly() {
    const std::string file = fFolder->File("keywords.txt");
    fBench->RunBatch(Lines({"simulation(a,1,0,x,g1,g2)", "  Simulation(b,2,0,x,g1,g2)",
                            "SIMULATION(c,3,1,x,g1,g2)", "# a comment naming Simulation(d,4,0,x,g1,g2)", "",
                            "Simulations(e,5,0,x,g1,g2)", "sImUlAtIoN(f,6,2,x,g1,g2)"}),
                     file, false);
    QCOMPARE(FileLines(file),
             QStringList({Header, "a\t1\t0\tx\tg1\tg2\t", "c\t3\t1\tx\tg1\tg2\t", "f\t6\t2\tx\tg1\tg2\t"}));
    QCOMPARE(fBench->Initialisations, 3);
    QCOMPARE(fBench->cbC->currentIndex(), 2);
    QCOMPARE(fBench->sgE->item(1, 1)->text(), QString("g2"));
  }

  void ColonsAreRemovedAndValuesKeepTheirCase() {
    const std::string file = fFolder->File("colon.txt");
    fBench->RunBatch(Lines({"SIMULATION(3:5,3:5,1,x,Data/Map.RST,B)"}), file, false);
    QCOMPARE(fBench->edA->text(), QString("35"));
    QCOMPARE(fBench->seB->value(), 35);
    QCOMPARE(fBench->sgE->item(0, 1)->text(), QString("Data/Map.RST"));
    QCOMPARE(FileLines(file), QStringList({Header, "35\t35\t1\tx\tData/Map.RST\tB\t"}));
  }

  void SpinEditsRoundAndReadUnreadableAsZero() {
    struct tCase {
      const char* value;
      int expected;
    };
    // Halves go to the even neighbour; values beyond the bounds are held to them.
    for (const tCase& c : std::initializer_list<tCase>{
             {"2.5", 2}, {"3.5", 4}, {"7.6", 8}, {"abc", 0}, {"", 0}, {"99999", 1000}, {"-3", 0}}) {
      fBench->seB->setValue(500);
      fBench->sPar.clear();
      fBench->tModelForm::Simulation(std::string("Simulation(x,") + c.value + ")");
      QVERIFY2(fBench->seB->value() == c.expected, c.value);
    }
  }

  void FewerValuesLeaveTheLaterControlsAlone() {
    fBench->cbC->setCurrentIndex(1);
    fBench->tModelForm::Simulation("Simulation(only)");
    QCOMPARE(fBench->edA->text(), QString("only"));
    QCOMPARE(fBench->cbC->currentIndex(), 1);
    QCOMPARE(fBench->sPar, std::string("only\t"));
    QCOMPARE(fBench->edUntagged->text(), QString("untouched"));
  }

  void ComboValuesOutsideTheListFailOnlyTheirLine() {
    const std::string file = fFolder->File("combo.txt");
    fBench->RunBatch(Lines({"Simulation(a,1,3,x,g,g)", "Simulation(b,2,1,x,g,g)", "Simulation(c,3,one,x,g,g)",
                            "Simulation(d,4,-1,x,g,g)"}),
                     file, false);
    const QStringList lines = FileLines(file);
    QCOMPARE(lines.size(), 6);
    QCOMPARE(lines[0], QString(Header));
    QVERIFY(lines[1].startsWith("****** Error in batch line 1: cbC has no item 3"));
    QCOMPARE(lines[2], QString("b\t2\t1\tx\tg\tg\t"));
    QVERIFY(lines[3].startsWith("****** Error in batch line 3: \"one\" is not an item number of cbC"));
    QVERIFY(lines[4].startsWith("****** Error in batch line 4: cbC has no item -1"));
    QCOMPARE(lines[5], QString("******* 3 errors encountered"));
    QCOMPARE(fBench->BatchErrors, 3u);
    QCOMPARE(fBench->cbC->currentIndex(), 1);
  }

  void ErrorCountLineOnlyWhenSomethingFailed() {
    const std::string failing = fFolder->File("failing.txt");
    fBench->RunBatch(
        Lines({"Simulation(fail,1)", "Simulation(ok,2)", "Simulation(fail,3)", "Simulation(fail,4)"}),
        failing, false);
    QCOMPARE(FileLines(failing).back(), QString("******* 3 errors encountered"));
    QCOMPARE(FileLines(failing).size(), 6);

    const std::string clean = fFolder->File("clean.txt");
    fBench->RunBatch(Lines({"Simulation(ok,1)", "Simulation(ok,2)"}), clean, false);
    QCOMPARE(FileLines(clean), QStringList({Header, "ok\t1\t", "ok\t2\t"}));
    QCOMPARE(fBench->BatchErrors, 0u);
  }

  void ProgressReachesOneHundredAfterTheLastLine() {
    const auto start = std::chrono::steady_clock::now();
    fBench->RunBatch(Lines({"Simulation(a)", "Simulation(b)", "Simulation(c)"}), fFolder->File("p.txt"),
                     false);
    const double days =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() / 86400;
    // 100 x 1/3 = 33.3, 100 x 2/3 = 66.7, 100.
    QCOMPARE(fBench->Progress, std::vector<int32_t>({33, 67, 100}));
    QCOMPARE(fBench->BatchProgress, 100);
    // Afterwards the start time holds the duration, in days: no more than the
    // call took (whatever the date or the time of day; a millisecond's rounding).
    QVERIFY2(fBench->BatchStartTime >= 0 && fBench->BatchStartTime <= days + 0.001 / 86400,
             qPrintable(QString("%1 days for a batch of %2").arg(fBench->BatchStartTime).arg(days)));
    QVERIFY(!fBench->IsRunning());
    QVERIFY(!fBench->Fs.IsOpen());
  }

  void ExistingFilesAreAppendedReplacedOrLeftAlone() {
    struct tCase {
      tDialogResult answer;
      QStringList expected;
      int initialisations;
    };
    const QStringList old = {"old header", "old row"};
    for (const tCase& c :
         std::initializer_list<tCase>{{tDialogResult::drAppend, {"old header", "old row", "n\t1\t"}, 1},
                                      {tDialogResult::drReplace, {Header, "n\t1\t"}, 1},
                                      {tDialogResult::drCancel, {"old header", "old row"}, 0},
                                      {tDialogResult::drNone, {"old header", "old row"}, 0}}) {
      const std::string file = fFolder->File("existing.txt");
      utile::SaveTextToFile(file, "old header\r\nold row\r\n");
      fBench->Initialisations = 0;
      fDialogs->FileExistsAnswers = {c.answer};
      fBench->RunBatch(Lines({"Simulation(n,1)"}), file, false);
      QCOMPARE(fDialogs->FileExistsMessages.back(), "\"" + file + "\" already exists.");
      QCOMPARE(FileLines(file), c.expected);
      QCOMPARE(fBench->Initialisations, c.initialisations);
    }
    // A new file is not asked about.
    const size_t asked = fDialogs->FileExistsMessages.size();
    fBench->RunBatch(Lines({"Simulation(n,1)"}), fFolder->File("new.txt"), false);
    QCOMPARE(fDialogs->FileExistsMessages.size(), asked);
  }

  void StopEndsTheBatchAfterTheCurrentLine() {
    const std::string file = fFolder->File("stop.txt");
    fBench->RunBatch(Lines({"Simulation(a)", "Simulation(stop)", "Simulation(never)"}), file, false);
    QCOMPARE(FileLines(file), QStringList({Header, "a\t", "stop\t"}));
    QCOMPARE(fBench->Initialisations, 2);
  }

  void AFailureThatEscapesEndsTheBatchAndClosesTheFile() {
    const std::string file = fFolder->File("crash.txt");
    bool raised = false;
    try {
      fBench->RunBatch(Lines({"Simulation(fail)", "Simulation(crash)", "Simulation(never)"}), file, false);
    } catch (const utile::EInvalidOp& error) {
      raised = std::string(error.what()) == "crashed";
    }
    QVERIFY(raised);
    QVERIFY(!fBench->IsRunning());
    QVERIFY(!fBench->Fs.IsOpen());
    QVERIFY(QApplication::overrideCursor() == nullptr);
    QCOMPARE(FileLines(file),
             QStringList({Header, "****** Error for fail\t", "******* 1 errors encountered"}));
  }

  void ABatchIsRefusedWhileTheWorkbenchRuns() {
    fBench->fSimRunning = true;
    QVERIFY_THROWS_EXCEPTION(utile::EInvalidOperation,
                             fBench->RunBatch(Lines({"Simulation(a)"}), fFolder->File("r.txt"), false));
    QVERIFY(!utile::FileExists(fFolder->File("r.txt")));
    QVERIFY_THROWS_EXCEPTION(utile::EInvalidOperation, fBench->Run());
    fBench->fSimRunning = false;
  }

  void LandscapeValuesGoToTheMainWindowThenToThePatchDatabase() {
    const std::string file = fFolder->File("landscape.txt");
    fBench->RunBatch(
        Lines({"MakeLandscape(150,160,4,7,8,2,30,60,2.5,40,55,0.75,Land.PATCH,,1.3,0.4,0.2,0.05)",
               "Simulation(a)"}),
        file, false);
    QCOMPARE(fMain->seNbPatch->value(), 4);
    QCOMPARE(fMain->seIsolatedPatchArea->value(), 7);
    QCOMPARE(fMain->seIsolatedPatchDistance->value(), 8);
    QCOMPARE(fMain->seMinArea->value(), 2);
    QCOMPARE(fMain->seMaxArea->value(), 30);
    QCOMPARE(fMain->sePropLargePatches->value(), 60);
    QCOMPARE(fMain->edDistanceThreshold->text(), QString("2.5"));
    QCOMPARE(fMain->seConnectance->value(), 40);
    QCOMPARE(fMain->edSurvivalDistance->text(), QString("55"));
    QCOMPARE(fMain->edFixedSurvival->text(), QString("0.75"));
    QCOMPARE(fMain->edLandscapeFile->text(), QString("Land.PATCH"));
    QCOMPARE(fMain->edPermeabilityMap->text(), QString(""));
    QCOMPARE(vandrel::dlgPatchData->edOverallProductivity->text(), QString("1.3"));
    QCOMPARE(vandrel::dlgPatchData->edSourceProportion->text(), QString("0.4"));
    QCOMPARE(vandrel::dlgPatchData->edSourceDifferential->text(), QString("0.2"));
    QCOMPARE(vandrel::dlgPatchData->edExtinctionRisk->text(), QString("0.05"));
    QCOMPARE(models::Patches.size(), size_t(4));
    // The landscape made with them: S = 2, s = 1.4333 x 1.1^2, k = (5.2 - 2s)/2.
    for (size_t i = 0; i < 4; ++i) {
      QCOMPARE(models::Patches[i].b, i < 2 ? 1.7343 : 0.86567);
      QCOMPARE(models::Patches[i].e, 0.05);
    }
    QCOMPARE(
        FileLines(file),
        QStringList({Header,
                     "0\t150\t160\t4\t7\t8\t2\t30\t60\t2.5\t40\t55\t0.75\tLand.PATCH\t\t1.3\t0.4\t0.2\t0.05\t"
                     "a\t"}));
  }

  void LandscapeLinesNumberFromZeroAndShortLinesLeaveTheRest() {
    const std::string file = fFolder->File("lan.txt");
    fMain->seMaxArea->setValue(33);
    fBench->RunBatch(Lines({"MakeLandscape(120)", "Simulation(a)", "makelandscape(130,140)", "Simulation(b)",
                            "Simulation(c)"}),
                     file, false);
    QCOMPARE(FileLines(file), QStringList({Header, "0\t120\ta\t", "1\t130\t140\tb\t", "1\t130\t140\tc\t"}));
    QCOMPARE(fMain->seMaxArea->value(), 33);
    QCOMPARE(fBench->LanID, 2);
    QVERIFY(!fBench->fNewLan);
  }

  void HeadersAreRewrittenWhenThePatchCountChanges() {
    struct tCase {
      bool rewrite;
      QStringList expected;
    };
    fMain->seNbPatch->setValue(3);
    fMain->btMakeLandscapeClick();
    for (const tCase& c : std::initializer_list<tCase>{
             {true,
              {Header, Header, "0\t100\t100\t7\ta\t", "1\t100\t100\t7\tb\t", Header, "2\t100\t100\t3\tc\t"}},
             {false, {Header, "0\t100\t100\t7\ta\t", "1\t100\t100\t7\tb\t", "2\t100\t100\t3\tc\t"}}}) {
      fMain->seNbPatch->setValue(3);
      fMain->btMakeLandscapeClick();
      const std::string file = fFolder->File(c.rewrite ? "rewrite.txt" : "norewrite.txt");
      // 3 -> 7 patches, 7 -> 7, 7 -> 3: a header before the first and the third row only.
      fBench->RunBatch(Lines({"MakeLandscape(100,100,7)", "Simulation(a)", "MakeLandscape(100,100,7)",
                              "Simulation(b)", "MakeLandscape(100,100,3)", "Simulation(c)"}),
                       file, c.rewrite);
      QCOMPARE(FileLines(file), c.expected);
    }
  }

  void ABatchWithoutLandscapeLinesKeepsTheLandscape() {
    const auto before = models::Patches.size();
    const int width = fMain->seWidth->value();
    fBench->RunBatch(Lines({"Simulation(a)", "Simulation(b)"}), fFolder->File("keep.txt"), true);
    QCOMPARE(models::Patches.size(), before);
    QCOMPARE(fMain->seWidth->value(), width);
    QCOMPARE(fBench->LanID, 0);
    QCOMPARE(fBench->Headers, 1);
  }
};

QTEST_MAIN(BatchProtocolTest)
#include "BatchProtocolTest.moc"
