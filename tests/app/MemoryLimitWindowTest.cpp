// The windows within the memory the process can be given (a container's limit,
// made up by the test): a landscape file whose distance matrix needs more is
// refused with the reader's message and changes nothing, and the big-matrix
// workbench weighs its matrix against that memory.
#include <QAction>
#include <QComboBox>
#include <QSpinBox>
#include <QtTest>

#include "MainWindowHarness.h"
#include "ScriptedDialogs.h"
#include "TestSupport/FakeMemory.h"
#include "TestSupport/StatisticalChecks.h"
#include "Utile/RunTime.h"
#include "app/TextBox.h"
#include "app/dlgBigMatrixOptionsU.h"
#include "app/dlgBigMatrixU.h"
#include "app/dlgPatchDataU.h"
#include "app/dlgVandrelU.h"
#include "models/LandscapeFiles.h"
#include "models/MetapopCommon.h"

namespace {

// What a load that fails must leave as it was.
struct tState {
  std::string Patches;
  utile::tMatrixOfDouble Distances;
  bool Fixed;
  int Count, Geometry, DatabaseMode;
  QString File;
  bool operator==(const tState&) const = default;
};

// n patches on a line and their n x n distances, all 0.
std::string WideLandscape(int n) {
  std::string text;
  for (int i = 1; i <= n; ++i) text += utile::Format("%d %d 0 1\r\n", i, 10 * i);
  text += "-99999\r\n";
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j < n; ++j) text += j == 0 ? "0" : " 0";
    text += "\r\n";
  }
  return text;
}

}  // namespace

class MemoryLimitWindowTest : public QObject {
  Q_OBJECT

  vandrel::TdlgVandrel* fMain = nullptr;
  testsupport::tScriptedDialogs* fDialogs = nullptr;
  testsupport::tTempFolder* fFolder = nullptr;

  tState State() const {
    return {models::LandscapeFileText(models::Patches),
            models::DistanceMat,
            models::DistanceMatFixed,
            fMain->seNbPatch->value(),
            fMain->cbPatchGeometry->currentIndex(),
            vandrel::dlgPatchData->cbPatchData->currentIndex(),
            fMain->edLandscapeFile->text()};
  }
  void Load(const std::string& file) {
    fDialogs->FileNames.push_back(file);
    fMain->Loadpatchfile1->trigger();
  }

 private slots:
  void init() {
    fMain = testsupport::OpenMainWindow(fDialogs);
    fFolder = new testsupport::tTempFolder;
  }
  void cleanup() {
    testsupport::CloseMainWindow(fMain);
    vandrel::dlgBigMatrixOptions = nullptr;
    delete fFolder;
  }

  void ALandscapeFileBeyondTheMemoryLeftChangesNothing() {
    const std::string good = fFolder->File("good.patch"), wide = fFolder->File("wide.patch");
    utile::SaveTextToFile(good, WideLandscape(4));
    utile::SaveTextToFile(wide, WideLandscape(400));
    Load(good);
    QCOMPARE(fMain->seNbPatch->value(), 4);
    const tState before = State();
    {
      // 400 rows of 400 distances and a row vector each take 1,289,600 bytes.
      const testsupport::tFakeMemory memory(1289599);
      Load(wide);
      QVERIFY(State() == before);
      QCOMPARE(fDialogs->Messages.back(),
               "Patch file incorrect: distance matrix cannot be read.\n\"" + wide +
                   "\", line 402: the 400 x 400 distance matrix needs 2 MB, more memory than is free.");
      QVERIFY(fDialogs->Kinds.back() == vandrel::tMessageKind::mkError);
    }
    // Within the room the same file is taken.
    const size_t shown = fDialogs->Messages.size();
    const testsupport::tFakeMemory memory(1289600);
    Load(wide);
    QCOMPARE(fDialogs->Messages.size(), shown);
    QCOMPARE(fMain->seNbPatch->value(), 400);
    QVERIFY(models::DistanceMatFixed && models::DistanceMat.size() == 400);
  }

  void TheBigMatrixWeighsItsMatrixAgainstTheMemoryLeft() {
    vandrel::dlgBigMatrixOptions = new vandrel::TdlgBigMatrixOptions(fMain);
    auto* bench =
        testsupport::OpenWorkbench<vandrel::TdlgBigMatrix>(fMain, vandrel::tWorkbenchKind::wkBigMatrix);
    utile::SaveTextToFile(fFolder->File("three.patch"),
                          "1 0 0 10 1 0.1\r\n2 50 0 10 1 0.1\r\n3 0 50 10 1 0.1\r\n");
    Load(fFolder->File("three.patch"));
    // T of three demes: 63 x 63 cells of 8 bytes, 31,752 bytes, a quarter of the room.
    const testsupport::tFakeMemory memory(4 * 31752);
    bench->Actualisation();
    QVERIFY2(bench->edMatrixT->text().startsWith("63 x 63 = 3,969 (") &&
                 bench->edMatrixT->text().endsWith(" = 25% of available memory)"),
             qPrintable(bench->edMatrixT->text()));
  }
};

QTEST_MAIN(MemoryLimitWindowTest)
#include "MemoryLimitWindowTest.moc"
