// The elapsed times that the workbenches show and write, on a steady clock that
// the test drives: every reading comes 25 h 3 min 7 s after the one before, and
// the local time zone changes as the clock is read, as across a change of
// daylight-saving time. A time of a day or more keeps its whole hours.
#include <QCheckBox>
#include <QComboBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QtTest>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

#include "IBSimpleHarness.h"
#include "MainWindowHarness.h"
#include "ScriptedDialogs.h"
#include "TestSupport/StatisticalChecks.h"
#include "Utile/RunTime.h"
#include "app/dlgBigMatrixOptionsU.h"
#include "app/dlgBigMatrixU.h"
#include "app/dlgIBSimpleU.h"
#include "app/dlgVandrelU.h"

using testsupport::NewCell;
using vandrel::tWorkbenchKind;

namespace {

constexpr int64_t StepSeconds = 25 * 3600 + 3 * 60 + 7;
int64_t gNanoseconds = 0;
int gReadings = 0;

// Each reading a step later, in another time zone than the reading before.
int64_t SteppingClock() {
  setenv("TZ", gReadings % 2 == 0 ? "CET-1CEST,M3.5.0,M10.5.0/3" : "EST5EDT,M3.2.0,M11.1.0", 1);
  tzset();
  ++gReadings;
  return gNanoseconds += StepSeconds * 1'000'000'000;
}

// k steps as hours, minutes and seconds, worked out here.
QString Hours(int64_t k) {
  const int64_t s = k * StepSeconds;
  return QString("%1:%2:%3")
      .arg(s / 3600, 2, 10, QChar('0'))
      .arg(s / 60 % 60, 2, 10, QChar('0'))
      .arg(s % 60, 2, 10, QChar('0'));
}

QStringList FileLines(const std::string& name) {
  return QString::fromStdString(utile::LoadTextFromFile(name)).split("\r\n", Qt::SkipEmptyParts);
}

}  // namespace

class ElapsedTimesTest : public QObject {
  Q_OBJECT

  vandrel::TdlgVandrel* fMain = nullptr;
  testsupport::tScriptedDialogs* fDialogs = nullptr;
  std::optional<std::string> fZone;

  // Birth, Survival 0.9, Aging, Reproduction (ceiling, 3) and Death, then Apply.
  static void DrawCycle(vandrel::TdlgIBSimple* bench) {
    NewCell(bench, models::leSurvival, "0.9");
    NewCell(bench, models::leGetOlder);
    bench->CellControls(NewCell(bench, models::leReproduction, "3"))
        ->Param3->setCurrentIndex(models::rtCeiling);
    NewCell(bench, models::leDeath);
    bench->btApply->click();
  }

 private slots:
  void init() {
    if (const char* zone = std::getenv("TZ")) fZone = zone;
    fMain = testsupport::OpenMainWindow(fDialogs);
    fMain->seMaxArea->setValue(25);
    fMain->seNbPatch->setValue(4);
    fMain->btMakeLandscapeClick();
    gReadings = 0;
    utile::SetSteadyClock(&SteppingClock);
  }
  void cleanup() {
    utile::SetSteadyClock(nullptr);
    testsupport::CloseMainWindow(fMain);
    vandrel::dlgBigMatrixOptions = nullptr;
    if (fZone)
      setenv("TZ", fZone->c_str(), 1);
    else
      unsetenv("TZ");
    tzset();
    fZone.reset();
  }

  void TheIndividualBasedRunAndAnalysisLogTheirWholeHours() {
    auto* bench = testsupport::OpenWorkbench<vandrel::TdlgIBSimple>(fMain, tWorkbenchKind::wkIBSimple);
    bench->seNbTimeSteps->setValue(20);
    DrawCycle(bench);
    QVERIFY(bench->ckPedigree->isChecked());
    bench->acInitialise->trigger();
    gReadings = 0;
    bench->acRun->trigger();
    QCOMPARE(gReadings, 2);  // the start and the end of the run
    QCOMPARE(testsupport::MemoLines(bench->mmLog).last(),
             "Simulations terminated. Time elapsed: " + Hours(1));
    bench->btRecomputePedigreeClick();
    QCOMPARE(testsupport::MemoLines(bench->mmLog).last(),
             "Pedigree analysis terminated. Time elapsed: " + Hours(1));
  }

  void AnIndividualBasedBatchRowKeepsItsDays() {
    auto* bench = testsupport::OpenWorkbench<vandrel::TdlgIBSimple>(fMain, tWorkbenchKind::wkIBSimple);
    bench->seNbTimeSteps->setValue(10);
    DrawCycle(bench);
    const testsupport::tTempFolder folder;
    const std::string file = folder.File("rows.txt");
    bench->RunBatch({"Simulation(2)", "Simulation(2)"}, file, false);
    const QStringList lines = FileLines(file);
    QCOMPARE(lines.size(), 3);
    // The Time column, last of each row: one step between the two readings of a simulation.
    for (int row = 1; row <= 2; ++row) QCOMPARE(lines[row].split('\t').last(), QString("1 D 01:03:07:000"));
  }

  void TheBigMatrixShowsAndWritesItsWholeHours() {
    vandrel::dlgBigMatrixOptions = new vandrel::TdlgBigMatrixOptions(fMain);
    auto* bench = testsupport::OpenWorkbench<vandrel::TdlgBigMatrix>(fMain, tWorkbenchKind::wkBigMatrix);
    bench->Initialise();  // on the four patches of the landscape
    gReadings = 0;
    bench->btComputeAll->click();
    QVERIFY(fDialogs->Messages.empty());
    // The first reading starts the computation, the last ends it; the stages read between.
    QVERIFY(gReadings >= 2);
    const QString elapsed = Hours(gReadings - 1);
    QCOMPARE(bench->edElapsedTime->text(), elapsed);
    const QStringList fields = bench->mmModel->toPlainText().split('\n').last().split('\t');
    QCOMPARE(fields[fields.size() - 2], elapsed);

    // The progress display counts days, as a duration.
    bench->StartTime = utile::SteadyNow();
    bench->timComputationTimer();
    QCOMPARE(bench->edElapsedTime->text(), QString("1 D 01:03:07"));
  }
};

QTEST_MAIN(ElapsedTimesTest)
#include "ElapsedTimesTest.moc"
