// The landscape files and maps of the main window: its "&Landscape" items, the
// two "..." buttons, and a batch landscape line that names a file.
#include <unistd.h>

#include <QAction>
#include <QComboBox>
#include <QGroupBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QValueAxis>
#include <QtTest>
#include <filesystem>

#include "ScriptedDialogs.h"
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
const char* const FourPatches = "1 10 20 5\n2 30 20 5 0.5 0.1\n3 10 40 5\n4 30 40 5\n";
const char* const FourWithDistances =
    "1 10 20 5\n2 30 20 5\n3 10 40 5\n4 30 40 5\n-99999 0 0 0\n0 1 2 3\n1 0 4 5\n2 4 0 6\n3 5 6 0\n";

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
QColor Green() {
  return QColor(128, 255, 1);
}
}  // namespace

class LandscapeFilesWindowTest : public QObject {
  Q_OBJECT

  vandrel::TdlgVandrel* fMain = nullptr;
  testsupport::tScriptedDialogs* fDialogs = nullptr;
  testsupport::tTempFolder* fFolder = nullptr;
  std::string fLower;  // a folder whose name survives the lower case of batch values

  std::string Write(const std::string& name, const std::string& text) {
    const std::string file = fLower + "/" + name;
    utile::SaveTextToFile(file, text);
    return file;
  }
  std::string WriteMatrix(const std::string& name, const utile::tMatrixOfDouble& m) {
    const std::string file = fLower + "/" + name;
    utile::MatSaveToFile(m, file, false);
    return file;
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
  // Frozen patches, so that the generator keeps them.
  void SetPatches(const models::tArrayOfCircles& patches) {
    fMain->cbPatchGeometry->setCurrentIndex(models::pgFrozen);
    fMain->seNbPatch->setValue(static_cast<int>(patches.size()));
    models::Patches = patches;
    fMain->ChangePatches();
  }
  // A 20 x 30 permeability map: x below 10 blocked, 1 elsewhere but 0.5 at
  // (19, 0), where the mirrored picture shows it on its last line.
  utile::tMatrixOfDouble HalfBlockedMap() const {
    utile::tMatrixOfDouble map(20, utile::tVectorOfDouble(30, 1.0));
    for (int x = 0; x < 10; ++x) map[x].assign(30, 0.0);
    map[19][0] = 0.5;
    return map;
  }

 private slots:
  void init() {
    vandrel::InstallMessagePump();
    fDialogs = &testsupport::InstallScriptedDialogs();
    models::ResetLandscape();
    fFolder = new testsupport::tTempFolder;
    fLower = utile::Format("/tmp/vandrel-files-%d", static_cast<int32_t>(::getpid()));
    std::filesystem::create_directories(fLower);
    fMain = new vandrel::TdlgVandrel;
    vandrel::dlgPatchData = new vandrel::TdlgPatchData(fMain);
    fMain->resize(1100, 800);
    fMain->show();
    QVERIFY(QTest::qWaitForWindowExposed(fMain));
  }
  void cleanup() {
    delete fMain;
    vandrel::dlgPatchData = nullptr;
    vandrel::SetDialogs(nullptr);
    std::filesystem::remove_all(fLower);
    delete fFolder;
  }

  void ALandscapeFileIsLoadedByTheMenuAndByTheButton() {
    const std::string withDistances = Write("d.patch", FourWithDistances);
    Choose(fMain->Loadpatchfile1, withDistances);
    QCOMPARE(fDialogs->Titles.back(), std::string("Open a patch file"));
    QCOMPARE(fDialogs->Filters.back(), std::string("Patch files (*.patch)|*.patch|All files (*.*)|*.*"));
    QCOMPARE(fMain->edLandscapeFile->text().toStdString(), withDistances);
    QCOMPARE(fMain->cbPatchGeometry->currentIndex(), models::pgFromFile);
    QVERIFY(fMain->grpLandscapeFile->isVisibleTo(fMain));
    QCOMPARE(vandrel::dlgPatchData->cbPatchData->currentIndex(), 1);
    QCOMPARE(fMain->seNbPatch->value(), 4);
    QCOMPARE(models::Patches.size(), size_t(4));
    QVERIFY(models::DistanceMatFixed);
    // The axes run one unit beyond the patches.
    QCOMPARE(fMain->chSpace->BottomAxis()->min(), 9.0);
    QCOMPARE(fMain->chSpace->LeftAxis()->max(), 41.0);
    // A moved patch keeps the distances of the file.
    fMain->seID->setValue(2);
    fMain->seX->setValue(80);
    QCOMPARE(models::Patches[1].x, 80.0);
    QCOMPARE(models::DistanceMat,
             (utile::tMatrixOfDouble{{0, 1, 2, 3}, {1, 0, 4, 5}, {2, 4, 0, 6}, {3, 5, 6, 0}}));

    const std::string plain = Write("p.patch", FourPatches);
    fDialogs->FileNames.push_back(plain);
    fMain->btLandscapeFile->click();
    QVERIFY(!models::DistanceMatFixed);
    QCOMPARE(models::Patches[1].b, 0.5);
    QCOMPARE(models::DistanceMat[0][1], 20.0);
    QCOMPARE(fMain->edLandscapeFile->text().toStdString(), plain);
  }

  void BadLandscapeFilesChangeNothing() {
    Choose(fMain->Loadpatchfile1, Write("good.patch", FourWithDistances));
    fMain->cbPatchGeometry->setCurrentIndex(models::pgFrozen);
    vandrel::dlgPatchData->cbPatchData->setCurrentIndex(3);
    const tState before = State();
    const std::pair<const char*, const char*> files[] = {
        {"empty.patch", ""},
        {"truncated.patch", "1 10 20 5\n2 30"},
        {"garbled.patch", "1 10 20 5\n2 30 20 five\n"},
        {"three.patch", "1 10 20\n"},
        {"shortrow.patch", "1 0 0 1\n2 3 4 1\n-99999\n0 5\n"},
        {"shortvalue.patch", "1 0 0 1\n2 3 4 1\n-99999\n0 5\n5\n"},
        {"text.patch", "1 0 0 1\n2 3 4 1\n-99999\n0 5\nfive 0\n"},
    };
    for (const auto& [name, text] : files) {
      const std::string file = Write(name, text);
      Choose(fMain->Loadpatchfile1, file);
      QVERIFY2(State() == before, name);
      const std::string shown = fDialogs->Messages.back();
      QVERIFY2(shown.find("\"" + file + "\", line ") != std::string::npos, shown.c_str());
      QVERIFY2(shown.starts_with("Patch file incorrect"), shown.c_str());
    }
    Choose(fMain->Loadpatchfile1, fLower + "/missing.patch");
    QVERIFY(State() == before);
    QVERIFY(fDialogs->Messages.back().find("missing.patch") != std::string::npos);
    const size_t shown = fDialogs->Messages.size();
    fMain->Loadpatchfile1->trigger();  // cancelled
    QVERIFY(State() == before);
    QCOMPARE(fDialogs->Messages.size(), shown);
  }

  void ABatchLineWithABadFileEndsTheBatchAndLeavesTheLandscape() {
    auto* bench = new testsupport::tTestWorkbench(fMain);
    fMain->AddNewModel(bench);
    const std::string good = Write("good.patch", FourWithDistances);
    Choose(fMain->Loadpatchfile1, good);
    const std::string values = "MakeLandscape(100,100,3,5,5,1,40,50,1.5,50,100,1,";
    bench->RunBatch({values + Write("other.patch", "1 0 0 1\n2 50 0 1\n") + ")", "Simulation(a)"},
                    fFolder->File("r1.txt"), false);
    QCOMPARE(models::Patches.size(), size_t(2));
    QCOMPARE(fMain->seNbPatch->value(), 2);
    Choose(fMain->Loadpatchfile1, good);
    const tState before = State();
    QVERIFY_THROWS_EXCEPTION(utile::EInOutError,
                             bench->RunBatch({values + Write("bad.patch", "1 0 0\n") + ")", "Simulation(b)"},
                                             fFolder->File("r2.txt"), false));
    tState after = State();
    after.Count = before.Count;  // the line's own value
    QVERIFY(after == before);

    // A permeability map that fails in a batch line leaves the one in force.
    Choose(fMain->mnLoadPermeabilityMap, WriteMatrix("map.txt", HalfBlockedMap()));
    fMain->cbPermeability->setCurrentIndex(2);
    fMain->cbPermeabilityChange();
    const QString map = fMain->edPermeabilityMap->text();
    QVERIFY_THROWS_EXCEPTION(
        utile::EInvalidArgument,
        bench->RunBatch({values + good + "," + fLower + "/picture.bmp)"}, fFolder->File("r3.txt"), false));
    QCOMPARE(fMain->edPermeabilityMap->text(), map);
    QCOMPARE(models::Map, HalfBlockedMap());
  }

  void SavingWritesThePatchesWithTheirDistancesAndAsksBeforeReplacing() {
    Choose(fMain->Loadpatchfile1, Write("d.patch", FourWithDistances));
    const std::string file = fLower + "/saved.patch";
    Choose(fMain->Savepatchfile1, file);
    QCOMPARE(fDialogs->Titles.back(), std::string("Save patch configuration"));
    const models::tLandscapeFile back = models::ReadLandscapeFile(file);
    QVERIFY(back.DistanceMatFixed);
    QCOMPARE(back.DistanceMat, models::DistanceMat);
    QCOMPARE(models::LandscapeFileText(back.Patches), models::LandscapeFileText(models::Patches));
    // An existing file is replaced only when the user says so.
    const std::string old = Write("old.patch", "keep me");
    fDialogs->Confirmations.push_back(false);
    Choose(fMain->Savepatchfile1, old);
    QCOMPARE(utile::LoadTextFromFile(old), std::string("keep me"));
    QVERIFY(fDialogs->Messages.back().find("already exists") != std::string::npos);
    fDialogs->Confirmations.push_back(true);
    Choose(fMain->Savepatchfile1, old);
    QCOMPARE(utile::LoadTextFromFile(old), models::LandscapeFileText(models::Patches, &models::DistanceMat));
  }

  void BackgroundsAreDrawnAsReadAndSizeTheStudyArea() {
    // Column x of the picture is row x of the matrix; -999999 is missing (grey).
    Choose(fMain->mnuLoadBackground, WriteMatrix("small.txt", {{0, 1, -999999}, {1, 0, 0}}));
    QCOMPARE(fDialogs->Titles.back(), std::string("Select background image"));
    QCOMPARE(fMain->Background.size(), QSize(2, 3));
    const QColor expected[2][3] = {{Qt::white, Green(), QColor(128, 128, 128)},
                                   {Green(), Qt::white, Qt::white}};
    for (int x = 0; x < 2; ++x)
      for (int y = 0; y < 3; ++y) QCOMPARE(fMain->Background.pixelColor(x, y), expected[x][y]);
    QCOMPARE(fMain->seWidth->value(), 10);  // 3 and 4, held to the controls' bounds
    Choose(fMain->mnuLoadBackground, WriteMatrix("large.txt", utile::NullMatrix(20, 30)));
    QCOMPARE(fMain->Background.size(), QSize(20, 30));
    QCOMPARE(fMain->seWidth->value(), 21);
    QCOMPARE(fMain->seHeight->value(), 31);
    QCOMPARE(models::MapWidth, 21);

    for (const char* name : {"picture.jpg", "picture.bmp"}) {
      QImage picture(25, 12, QImage::Format_RGB32);
      picture.fill(Qt::blue);
      const std::string file = fLower + "/" + name;
      QVERIFY(picture.save(QString::fromStdString(file), nullptr, 100));
      Choose(fMain->mnuLoadBackground, file);
      QCOMPARE(fMain->Background.size(), QSize(25, 12));
      QCOMPARE(fMain->seWidth->value(), 26);
      QCOMPARE(fMain->seHeight->value(), 13);
    }
    QCOMPARE(fMain->Background.pixelColor(3, 3), QColor(Qt::blue));
    for (const char* other : {"small.TXT", "picture.png"}) {
      Choose(fMain->mnuLoadBackground, fLower + "/" + other);
      QCOMPARE(fMain->Background.size(), QSize(25, 12));
    }
    fMain->mnuClearBackground->trigger();
    QVERIFY(fMain->Background.isNull());
  }

  void APermeabilityMapIsDrawnMirroredAndBlocksItsZeroCells() {
    SetPatches({{1, 3, 14, 5}, {2, 15, 14, 5}, {3, 12, 20, 5}});
    QVERIFY(!fMain->mnConnectivityHistogram->isEnabled());
    Choose(fMain->mnLoadPermeabilityMap, WriteMatrix("half.txt", HalfBlockedMap()));
    QCOMPARE(fDialogs->Titles.back(), std::string("Select permeability map"));
    QCOMPARE(models::Map, HalfBlockedMap());
    QCOMPARE(fMain->seWidth->value(), 19);
    QCOMPARE(fMain->seHeight->value(), 29);
    QCOMPARE(fMain->Background.size(), QSize(20, 30));
    QCOMPARE(fMain->Background.pixelColor(19, 0), Green());
    QVERIFY(fMain->Background.pixelColor(19, 29) != Green());
    QCOMPARE(fMain->Background.pixelColor(0, 0), QColor(Qt::white));
    fMain->cbPermeability->setCurrentIndex(2);
    fMain->cbPermeabilityChange();
    QCOMPARE(models::PermeabilityType, models::ptStraightLine);
    QCOMPARE(models::FrictionMap[0][1], 0.0);  // across the blocked half
    QCOMPARE(models::FrictionMap[1][2], 1.0);
    QVERIFY(fMain->mnConnectivityHistogram->isEnabled());

    fMain->chSpace->Refresh();
    QApplication::processEvents();
    const QImage grab = fMain->grab().toImage();
    grab.save("/tmp/vandrel-permeability-map.png");
    auto at = [&](double x, double y) {
      const QPointF scene = fMain->chSpace->chart()->mapToScene(fMain->chSpace->ValueToPixel(QPointF(x, y)));
      return grab.pixelColor(fMain->chSpace->mapTo(fMain, fMain->chSpace->mapFromScene(scene)));
    };
    QCOMPARE(at(16.5, 7.3), Green());
    QVERIFY(at(4.3, 7.3) != Green());

    // The profiles in a window that does not block.
    fMain->mnConnectivityHistogram->trigger();
    vandrel::tTextBox* box = nullptr;
    for (QWidget* window : QApplication::topLevelWidgets())
      if (auto* candidate = qobject_cast<vandrel::tTextBox*>(window)) box = candidate;
    QVERIFY(box);
    QCOMPARE(box->windowTitle(), QString("Connectivity histogram"));
    QVERIFY(box->isVisible() && !box->isModal());
    QVERIFY(box->mmText->toPlainText().startsWith("0\n0\t"));
    box->grab().save("/tmp/vandrel-connection-profiles.png");
  }

  void AFailedPermeabilityMapChangesNothing() {
    Choose(fMain->mnLoadPermeabilityMap, WriteMatrix("half.txt", HalfBlockedMap()));
    const QString name = fMain->edPermeabilityMap->text();
    const QImage background = fMain->Background;
    for (const std::string& bad :
         {Write("p.bmp", "BM"), Write("garbled.txt", "2\t2\r\n1\tx\r\n"), Write("p.TXT", "1\t1\r\n1\r\n")}) {
      Choose(fMain->mnLoadPermeabilityMap, bad);
      QCOMPARE(models::Map, HalfBlockedMap());
      QCOMPARE(fMain->edPermeabilityMap->text(), name);
      QVERIFY(fMain->Background == background);
      QCOMPARE(fDialogs->Kinds.back(), vandrel::tMessageKind::mkError);
    }
    QCOMPARE(fDialogs->Messages.front(),
             std::string("This type of file cannot be used as permeability map."));
    fMain->mnLoadPermeabilityMap->trigger();  // cancelled
    QCOMPARE(fMain->edPermeabilityMap->text(), name);

    // Without a map, "Straight line" falls back to "Constant" as for a cancel,
    // and an empty map clears its name.
    fMain->mnuClearBackground->trigger();
    fMain->edPermeabilityMap->clear();
    models::Map.clear();
    fDialogs->FileNames.push_back(fLower + "/p.bmp");
    fMain->cbPermeability->setCurrentIndex(2);
    fMain->cbPermeabilityChange();
    QCOMPARE(fMain->cbPermeability->currentIndex(), 0);
    QVERIFY(fMain->edPermeabilityMap->text().isEmpty());
    fDialogs->FileNames.push_back(Write("empty.txt", "0\t0\r\n"));
    fMain->cbPermeability->setCurrentIndex(2);
    fMain->cbPermeabilityChange();
    QCOMPARE(fMain->cbPermeability->currentIndex(), 0);
    QVERIFY(fMain->edPermeabilityMap->text().isEmpty());
    QCOMPARE(models::PermeabilityType, models::ptConstant);
  }

  void ExtractPatchesWorksOnTheChartAxes() {
    fMain->cbPatchGeometry->setCurrentIndex(models::pgSquare);
    fMain->seNbPatch->setValue(4);
    fMain->btMakeLandscapeClick();
    models::tParam param;
    param.GridResolution = 50;
    fMain->ExtractPatches(param);
    QCOMPARE(models::AggregatedPatches.size(), size_t(4));
    const double centres[4][2] = {{25, 25}, {25, 75}, {75, 25}, {75, 75}};
    for (int k = 0; k < 4; ++k) {
      QCOMPARE(models::AggregatedPatches[k].x, centres[k][0]);
      QCOMPARE(models::AggregatedPatches[k].y, centres[k][1]);
      QCOMPARE(models::AggregateComposition[k].size(), size_t(1));
    }
  }
};

QTEST_MAIN(LandscapeFilesWindowTest)
#include "LandscapeFilesWindowTest.moc"
