// The landscape files and maps of the main window: its "&Landscape" items, the
// two "..." buttons, and a batch landscape line that names a file.
#include <QAction>
#include <QComboBox>
#include <QGroupBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QValueAxis>
#include <QtTest>
#include <memory>

#include "MainWindowHarness.h"
#include "ScriptedDialogs.h"
#include "TestSupport/FakeMemory.h"
#include "TestSupport/StatisticalChecks.h"
#include "TestWorkbench.h"
#include "Utile/RunTime.h"
#include "Utile/VectorOps.h"
#include "Utile/gui/GraphicOps.h"
#include "app/TextBox.h"
#include "app/WindowServices.h"
#include "app/dlgPatchDataU.h"
#include "app/dlgVandrelU.h"
#include "models/LandscapeFiles.h"

namespace {
const char* const WithDistances =
    "1 10 20 5\n2 30 20 5 0.5 0.1\n3 10 40 5\n4 30 40 5\n-99999 0 0 0\n0 1 2 3\n1 0 4 5\n2 4 0 6\n3 5 6 0\n";

// What a load that fails must leave as it was.
struct tState {
  std::string Patches;
  utile::tMatrixOfDouble Distances;
  bool Fixed;
  int Count, Geometry, DatabaseMode;
  QString File;
  bool operator==(const tState&) const = default;
};

// The map palette's last colour: step 254 of 255 from white towards (128, 255, 0).
const QColor Green(128, 255, 1);

// 20 x 30: x below 10 blocked, 1 elsewhere but 0.5 at (19, 0), which the
// mirrored picture shows on its last line.
utile::tMatrixOfDouble HalfBlockedMap() {
  utile::tMatrixOfDouble map(20, utile::tVectorOfDouble(30, 1.0));
  for (int x = 0; x < 10; ++x) map[x].assign(30, 0.0);
  map[19][0] = 0.5;
  return map;
}
}  // namespace

class LandscapeFilesWindowTest : public QObject {
  Q_OBJECT

  vandrel::TdlgVandrel* fMain = nullptr;
  testsupport::tScriptedDialogs* fDialogs = nullptr;
  std::unique_ptr<testsupport::tTempFolder> fTemporary;
  std::string fFolder;  // its name survives the lower case of batch values

  std::string Write(const std::string& name, const std::string& text) {
    utile::SaveTextToFile(fFolder + "/" + name, text);
    return fFolder + "/" + name;
  }
  std::string WriteMatrix(const std::string& name, const utile::tMatrixOfDouble& m) {
    utile::MatSaveToFile(m, fFolder + "/" + name, false);
    return fFolder + "/" + name;
  }
  void Choose(QAction* item, const std::string& file) {
    fDialogs->FileNames.push_back(file);
    item->trigger();
  }
  tState State() const {
    return {models::LandscapeFileText(models::Patches),
            models::DistanceMat,
            models::DistanceMatFixed,
            fMain->seNbPatch->value(),
            fMain->cbPatchGeometry->currentIndex(),
            vandrel::dlgPatchData->cbPatchData->currentIndex(),
            fMain->edLandscapeFile->text()};
  }
  void ChooseStraightLine() {
    fMain->cbPermeability->setCurrentIndex(2);
    fMain->cbPermeabilityChange();
  }

 private slots:
  void init() {
    fTemporary = std::make_unique<testsupport::tTempFolder>(testsupport::tTempFolder::tLowerCase{});
    fFolder = fTemporary->Path();
    fMain = testsupport::OpenMainWindow(fDialogs);
    fMain->resize(1100, 800);
    fMain->show();
    QVERIFY(QTest::qWaitForWindowExposed(fMain));
  }
  void cleanup() {
    testsupport::CloseMainWindow(fMain);
    fTemporary.reset();
  }

  void ALandscapeFileIsLoadedByTheMenuAndByTheButton() {
    const std::string file = Write("d.patch", WithDistances);
    Choose(fMain->Loadpatchfile1, file);
    QCOMPARE(fDialogs->Titles.back() + "|" + fDialogs->Filters.back(),
             std::string("Open a patch file|Patch files (*.patch)|*.patch|All files (*.*)|*.*"));
    // clang-format off
    const tState expected{models::LandscapeFileText(models::ReadLandscapeFile(file).Patches),
                          {{0, 1, 2, 3}, {1, 0, 4, 5}, {2, 4, 0, 6}, {3, 5, 6, 0}},
                          true, 4, models::pgFromFile, 1, QString::fromStdString(file)};
    // clang-format on
    QVERIFY(State() == expected);
    QVERIFY(fMain->grpLandscapeFile->isVisibleTo(fMain));
    // The axes run one unit beyond the patches; a moved patch keeps the file's distances.
    QCOMPARE(fMain->chSpace->BottomAxis()->min(), 9.0);
    QCOMPARE(fMain->chSpace->LeftAxis()->max(), 41.0);
    fMain->seID->setValue(2);
    fMain->seX->setValue(80);
    QCOMPARE(models::Patches[1].x, 80.0);
    QCOMPARE(models::DistanceMat, expected.Distances);

    fDialogs->FileNames.push_back(Write("p.patch", "1 10 20 5\n2 30 20 5\n"));
    fMain->btLandscapeFile->click();
    QVERIFY(!models::DistanceMatFixed);
    QCOMPARE(models::DistanceMat[0][1], 20.0);
    QCOMPARE(fMain->seNbPatch->value(), 2);
  }

  void BadLandscapeFilesChangeNothing() {
    Choose(fMain->Loadpatchfile1, Write("good.patch", WithDistances));
    fMain->cbPatchGeometry->setCurrentIndex(models::pgFrozen);
    vandrel::dlgPatchData->cbPatchData->setCurrentIndex(3);
    const tState before = State();
    const std::string two = "1 0 0 1\n2 3 4 1\n-99999\n";
    // 400 patches whose distances (1,289,600 bytes) are more than the process can be given.
    std::string wide, row = "0";
    for (int i = 1; i <= 400; ++i) wide += utile::Format("%d %d 0 1\n", i, i);
    for (int j = 1; j < 400; ++j) row += " 0";
    for (int i = 0; i <= 400; ++i) wide += i == 0 ? "-99999\n" : row + "\n";
    const testsupport::tFakeMemory memory(1289599);
    // clang-format off
    const std::pair<const char*, std::string> files[] = {
        {"empty.patch", ""}, {"truncated.patch", "1 10 20 5\n2 30"}, {"garbled.patch", "1 10 2x 5\n"},
        {"three.patch", "1 10 20\n"}, {"row.patch", two + "0 5\n"}, {"value.patch", two + "0 5\n5\n"},
        {"text.patch", two + "0 5\nfive 0\n"}, {"wide.patch", wide}};
    // clang-format on
    for (const auto& [name, text] : files) {
      const std::string file = Write(name, text);
      Choose(fMain->Loadpatchfile1, file);
      QVERIFY2(State() == before, name);
      const std::string shown = fDialogs->Messages.back();
      QVERIFY2(shown.starts_with("Patch file incorrect") &&
                   shown.find("\"" + file + "\", line ") != std::string::npos,
               shown.c_str());
    }
    Choose(fMain->Loadpatchfile1, fFolder + "/missing.patch");
    QVERIFY(State() == before && fDialogs->Messages.back().find("missing.patch") != std::string::npos);
    const size_t shown = fDialogs->Messages.size();
    fMain->Loadpatchfile1->trigger();  // cancelled
    QVERIFY(State() == before && fDialogs->Messages.size() == shown);
  }

  void ABatchLineWithABadFileEndsTheBatchAndLeavesTheLandscape() {
    auto* bench = new testsupport::tTestWorkbench(fMain);
    fMain->AddNewModel(bench);
    const std::string good = Write("good.patch", WithDistances);
    Choose(fMain->Loadpatchfile1, good);
    const std::string line = "MakeLandscape(100,100,3,5,5,1,40,50,1.5,50,100,1,";
    bench->RunBatch({line + Write("two.patch", "1 0 0 1\n2 50 0 1\n") + ")"}, fFolder + "/r1.txt", false);
    QCOMPARE(models::Patches.size(), size_t(2));
    QCOMPARE(fMain->seNbPatch->value(), 2);
    Choose(fMain->Loadpatchfile1, good);
    const tState before = State();
    QVERIFY_THROWS_EXCEPTION(utile::EInOutError, bench->RunBatch({line + Write("bad.patch", "1 0 0\n") + ")"},
                                                                 fFolder + "/r2.txt", false));
    tState after = State();
    after.Count = before.Count;  // the line's own value
    QVERIFY(after == before);
    // A permeability map that fails in a batch line leaves the one in force.
    Choose(fMain->mnLoadPermeabilityMap, WriteMatrix("map.txt", HalfBlockedMap()));
    ChooseStraightLine();
    const QString map = fMain->edPermeabilityMap->text();
    QVERIFY_THROWS_EXCEPTION(
        utile::EInvalidArgument,
        bench->RunBatch({line + good + "," + fFolder + "/p.bmp)"}, fFolder + "/r3.txt", false));
    QCOMPARE(fMain->edPermeabilityMap->text(), map);
    QCOMPARE(models::Map, HalfBlockedMap());
  }

  void SavingKeepsTheDistancesAndAsksBeforeReplacing() {
    Choose(fMain->Loadpatchfile1, Write("d.patch", WithDistances));
    const std::string text = models::LandscapeFileText(models::Patches, &models::DistanceMat);
    Choose(fMain->Savepatchfile1, fFolder + "/saved.patch");
    QCOMPARE(fDialogs->Titles.back(), std::string("Save patch configuration"));
    QCOMPARE(utile::LoadTextFromFile(fFolder + "/saved.patch"), text);
    const std::string old = Write("old.patch", "keep me");
    fDialogs->Confirmations = {false, true};
    Choose(fMain->Savepatchfile1, old);
    QCOMPARE(utile::LoadTextFromFile(old), std::string("keep me"));
    QVERIFY(fDialogs->Messages.back().find("already exists") != std::string::npos);
    Choose(fMain->Savepatchfile1, old);
    QCOMPARE(utile::LoadTextFromFile(old), text);
  }

  void BackgroundsAreDrawnAsReadAndSizeTheStudyArea() {
    // Column x of the picture is row x of the matrix; -999999 is missing (grey).
    Choose(fMain->mnuLoadBackground, WriteMatrix("small.txt", {{0, 1, -999999}, {1, 0, 0}}));
    QCOMPARE(fDialogs->Titles.back(), std::string("Select background image"));
    QCOMPARE(fMain->Background.size(), QSize(2, 3));
    const QColor expected[2][3] = {{Qt::white, Green, QColor(128, 128, 128)}, {Green, Qt::white, Qt::white}};
    for (int x = 0; x < 2; ++x)
      for (int y = 0; y < 3; ++y) QCOMPARE(fMain->Background.pixelColor(x, y), expected[x][y]);
    QCOMPARE(fMain->seWidth->value(), 10);  // 3 and 4, held to the controls' bounds
    Choose(fMain->mnuLoadBackground, WriteMatrix("large.txt", utile::NullMatrix(20, 30)));
    QCOMPARE(QSize(fMain->seWidth->value(), fMain->seHeight->value()), QSize(21, 31));
    QCOMPARE(models::MapWidth, 21);
    for (const char* name : {"picture.jpg", "picture.bmp"}) {
      QImage picture(25, 12, QImage::Format_RGB32);
      picture.fill(Qt::blue);
      QVERIFY(picture.save(QString::fromStdString(fFolder + "/" + name), nullptr, 100));
      Choose(fMain->mnuLoadBackground, fFolder + "/" + name);
      QCOMPARE(fMain->Background.size(), QSize(25, 12));
      QCOMPARE(QSize(fMain->seWidth->value(), fMain->seHeight->value()), QSize(26, 13));
    }
    QCOMPARE(fMain->Background.pixelColor(3, 3), QColor(Qt::blue));
    for (const char* other : {"small.TXT", "picture.png"}) {
      Choose(fMain->mnuLoadBackground, fFolder + "/" + other);
      QCOMPARE(fMain->Background.size(), QSize(25, 12));
    }
    fMain->mnuClearBackground->trigger();
    QVERIFY(fMain->Background.isNull());
  }

  void APermeabilityMapIsDrawnMirroredAndBlocksItsZeroCells() {
    fMain->cbPatchGeometry->setCurrentIndex(models::pgFrozen);  // the generator keeps the patches
    models::Patches = {{1, 3, 14, 5}, {2, 15, 14, 5}, {3, 12, 20, 5}};
    fMain->ChangePatches();
    QVERIFY(!fMain->mnConnectivityHistogram->isEnabled());
    Choose(fMain->mnLoadPermeabilityMap, WriteMatrix("half.txt", HalfBlockedMap()));
    QCOMPARE(fDialogs->Titles.back(), std::string("Select permeability map"));
    QCOMPARE(models::Map, HalfBlockedMap());
    QCOMPARE(QSize(fMain->seWidth->value(), fMain->seHeight->value()), QSize(19, 29));
    QCOMPARE(fMain->Background.size(), QSize(20, 30));
    QCOMPARE(fMain->Background.pixelColor(19, 0), Green);
    QVERIFY(fMain->Background.pixelColor(19, 29) != Green);
    QCOMPARE(fMain->Background.pixelColor(0, 0), QColor(Qt::white));
    ChooseStraightLine();
    QCOMPARE(models::FrictionMap[0][1], 0.0);  // across the blocked half
    QCOMPARE(models::FrictionMap[1][2], 1.0);
    QVERIFY(fMain->mnConnectivityHistogram->isEnabled());

    fMain->chSpace->Refresh();
    QApplication::processEvents();
    const QImage grab = fMain->grab().toImage();
    auto at = [&](double x, double y) {
      const QPointF scene = fMain->chSpace->chart()->mapToScene(fMain->chSpace->ValueToPixel(QPointF(x, y)));
      return grab.pixelColor(fMain->chSpace->mapTo(fMain, fMain->chSpace->mapFromScene(scene)));
    };
    QVERIFY(at(16.5, 7.3) == Green && at(4.3, 7.3) != Green);

    // The profiles in a window that does not block.
    fMain->mnConnectivityHistogram->trigger();
    vandrel::tTextBox* box = fMain->findChild<vandrel::tTextBox*>();
    QVERIFY(box && box->isVisible() && !box->isModal());
    QCOMPARE(box->windowTitle(), QString("Connectivity histogram"));
    QVERIFY(box->mmText->toPlainText().startsWith("0\n0\t6.5\t"));
  }

  void AFailedPermeabilityMapChangesNothing() {
    Choose(fMain->mnLoadPermeabilityMap, WriteMatrix("half.txt", HalfBlockedMap()));
    const QString name = fMain->edPermeabilityMap->text();
    const QImage background = fMain->Background;
    for (const std::string& bad :
         {Write("p.bmp", "BM"), Write("g.txt", "2\t2\r\n1\tx\r\n"), Write("p.TXT", "")}) {
      Choose(fMain->mnLoadPermeabilityMap, bad);
      QVERIFY(models::Map == HalfBlockedMap() && fMain->edPermeabilityMap->text() == name);
      QVERIFY(fMain->Background == background && fDialogs->Kinds.back() == vandrel::tMessageKind::mkError);
    }
    QCOMPARE(fDialogs->Messages.front(),
             std::string("This type of file cannot be used as permeability map."));
    fMain->mnLoadPermeabilityMap->trigger();  // cancelled
    QCOMPARE(fMain->edPermeabilityMap->text(), name);
    // Without a map "Straight line" falls back to "Constant", as for a cancel;
    // an empty map clears its name.
    fMain->edPermeabilityMap->clear();
    models::Map.clear();
    for (const std::string& file : {fFolder + "/p.bmp", Write("empty.txt", "0\t0\r\n")}) {
      fDialogs->FileNames.push_back(file);
      ChooseStraightLine();
      QVERIFY(fMain->cbPermeability->currentIndex() == 0 && fMain->edPermeabilityMap->text().isEmpty());
      QCOMPARE(models::PermeabilityType, models::ptConstant);
    }
  }

  void ExtractPatchesWorksOnTheChartAxes() {
    fMain->cbPatchGeometry->setCurrentIndex(models::pgSquare);  // (0|100, 0|100) on axes 0..100
    fMain->seNbPatch->setValue(4);
    fMain->btMakeLandscapeClick();
    models::tParam param;
    param.GridResolution = 50;
    fMain->ExtractPatches(param);
    std::vector<QPointF> centres;
    for (const models::tCircle& patch : models::AggregatedPatches) centres.emplace_back(patch.x, patch.y);
    QCOMPARE(centres, (std::vector<QPointF>{{25, 25}, {25, 75}, {75, 25}, {75, 75}}));
  }
};

QTEST_MAIN(LandscapeFilesWindowTest)
#include "LandscapeFilesWindowTest.moc"
