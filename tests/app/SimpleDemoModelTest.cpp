// The simple demographic workbench: the parameter checks, the enabling by
// analysis, the link weight, the result list of each analysis in both map modes,
// the rasters, the aggregation, the grid of a map; its batch page, lines, rows
// and rasters; and the user's path from the Modules menu.
#include <Eigen/Dense>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QSpinBox>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QtTest>
#include <cmath>
#include <functional>
#include <limits>

#include "MainWindowHarness.h"
#include "ScriptedDialogs.h"
#include "TestSupport/SeededLandscapes.h"
#include "Utile/Idrisi.h"
#include "Utile/RunTime.h"
#include "app/SensitivityPage.h"
#include "app/WindowServices.h"
#include "app/dlgPatchDataU.h"
#include "app/dlgSimpleDemoModelU.h"
#include "app/dlgVandrelU.h"

using testsupport::MemoLines;
using vandrel::TdlgSimpleDemoModel;

namespace {
struct tPatch {
  int popID;
  double x, y, A;
};

// Keeps the landscape of each batch simulation for the checks after the batch.
class tRecordingWorkbench : public TdlgSimpleDemoModel {
 public:
  using TdlgSimpleDemoModel::TdlgSimpleDemoModel;
  void RunSensitivity() override {
    Landscapes.push_back(models::Patches);
    TdlgSimpleDemoModel::RunSensitivity();
  }
  std::vector<models::tArrayOfCircles> Landscapes;
};

// The dominant eigenvalue of M[i][j] = exp(-alpha d_ij) A_j^Zem A_i^(Zim + Zext).
double EigenCapacity(const models::tArrayOfCircles& p, double alpha, double zem, double zim, double zext) {
  const Eigen::Index n = static_cast<Eigen::Index>(p.size());
  Eigen::MatrixXd m = Eigen::MatrixXd::Zero(n, n);
  for (Eigen::Index i = 0; i < n; ++i)
    for (Eigen::Index j = 0; j < n; ++j)
      if (i != j)
        m(i, j) = std::exp(-alpha * std::hypot(p[i].x - p[j].x, p[i].y - p[j].y)) * std::pow(p[j].A, zem) *
                  std::pow(p[i].A, zim + zext);
  return Eigen::EigenSolver<Eigen::MatrixXd>(m).eigenvalues().real().maxCoeff();
}

// The lines of a result file, every one ending in CR LF.
QStringList ResultLines(const QString& file) {
  QString all = QString::fromStdString(utile::LoadTextFromFile(file.toStdString()));
  if (!all.endsWith("\r\n") || all.count("\r\n") != all.count('\n')) return {"(lines without CR LF)"};
  all.chop(2);
  return all.split("\r\n");
}

QStringList Numbered(const QString& name, int n) {
  QStringList names;
  for (int i = 1; i <= n; ++i) names << name + QString::number(i);
  return names;
}

// The three labelled edits of the main window have no caption.
const QStringList LandscapeCaptions =
    QString(
        "Width:,Height:,NbPatch:,IsolatedPatchArea:,IsolatedPatchDistance:,MinArea:,MaxArea:,"
        "PropLargePatches:,,Connectance:,,")
        .split(',');
const QStringList ModelCaptions =
    QString(
        "ZetaImmigFact:,EmigScalFact:,ExtScalFact:,Colonisation:,Extinction:,NewPatchArea:,Territory:,Range:")
        .split(',');

// The header of a result file: the captions, then the analysis columns, each followed by a TAB.
QString Header(const QStringList& analysisColumns) {
  return "Landscape\t" + (LandscapeCaptions + ModelCaptions + analysisColumns).join('\t') + "\t";
}
}  // namespace

class SimpleDemoModelTest : public QObject {
  Q_OBJECT
  vandrel::TdlgVandrel* fMain = nullptr;
  testsupport::tScriptedDialogs* fDialogs = nullptr;
  tRecordingWorkbench* b = nullptr;
  std::unique_ptr<QTemporaryDir> fFolder;  // the current folder, where the rasters go
  QString fOldFolder;

  QString File(const QString& name) const { return QDir(fFolder->path()).filePath(name); }
  vandrel::tSensitivityPage* Page() { return b->SensitivityPage; }

  // The patches in a study area of 36 x 36, all linked, through the landscape sequence.
  void SetLandscape(const std::vector<tPatch>& patches) {
    {
      const QSignalBlocker w(fMain->seWidth), h(fMain->seHeight);
      fMain->seWidth->setValue(36);
      fMain->seHeight->setValue(36);
    }
    models::Patches.clear();
    for (const tPatch& p : patches) models::Patches.push_back({p.popID, p.x, p.y, p.A, 0, 0});
    fMain->ChangePatches();
    b->Initialise();
  }
  void Run(int analysis, bool interface) {
    b->cbAnalysesType->setCurrentIndex(analysis);
    (interface ? b->rbInterface : b->rbSaveToIdrisi)->setChecked(true);
    b->btRun->click();
  }
  // 30 patches over 200 x 200 at whose equilibrium without one patch a cycle
  // runs to the step limit.
  void SetLongLandscape() {
    {
      const QSignalBlocker w(fMain->seWidth), h(fMain->seHeight);
      fMain->seWidth->setValue(200);
      fMain->seHeight->setValue(200);
    }
    models::Patches = testsupport::SeededLandscape(30, 67);
    fMain->ChangePatches();
    b->Initialise();
    b->cbAnalysesType->setCurrentIndex(vandrel::saMetapopulationSize);
  }
  // Calls Handler with each text the result memo takes.
  void OnResultsText(const std::function<void(const QString&)>& handler) {
    QObject::connect(b->mmResults, &QPlainTextEdit::textChanged, b,
                     [this, handler] { handler(b->mmResults->toPlainText()); });
  }
  QStringList RunBatch(const QStringList& lines) {
    std::vector<std::string> batch;
    for (const QString& line : lines) batch.push_back(line.toStdString());
    Page()->SetBatchLines(batch);
    Page()->edOutputFile->setText(File("results.txt"));
    Page()->btRunBatch->click();
    return ResultLines(File("results.txt"));
  }

 private slots:
  void init() {
    fFolder = std::make_unique<QTemporaryDir>();
    fOldFolder = QDir::currentPath();
    QDir::setCurrent(fFolder->path());
    fMain = testsupport::OpenMainWindow(fDialogs);
    b = testsupport::OpenWorkbench<tRecordingWorkbench>(fMain, vandrel::tWorkbenchKind::wkSimpleDemo);
  }
  void cleanup() {
    testsupport::CloseMainWindow(fMain);
    vandrel::TestingMode = false;
    QDir::setCurrent(fOldFolder);
    fFolder.reset();
    models::ResetLandscape();
  }

  void GetParamWarnsOfEachFailedCheck() {
    struct tRow {
      vandrel::tLabeledEdit* edit;
      const char *text, *warning;
    };
    for (const tRow& r : std::initializer_list<tRow>{{b->edTerritory, "0", "Territory must be >0"},
                                                     {b->edRange, "0", "mean dispersal distance must be >0"},
                                                     {b->edRange, "-5", "mean dispersal distance must be >0"},
                                                     {b->edExtinction, "0", nullptr},
                                                     {b->edExtinction, "-1", "Extinction rate must be >0"},
                                                     {b->edColonisation, "0", "Colonisation rate must be >0"},
                                                     {b->edNewPatchArea, "0", "New patch area must be >0"}}) {
      const QString before = r.edit->text();
      r.edit->setText(r.text);
      fDialogs->Messages.clear();
      const models::tParam param = b->GetParam();
      QCOMPARE(fDialogs->Messages,
               r.warning ? std::vector<std::string>{r.warning} : std::vector<std::string>{});
      if (r.edit == b->edRange && r.text[0] == '0')
        QCOMPARE(param.alph, std::numeric_limits<double>::infinity());
      r.edit->setText(before);
    }
    b->edRange->setText("40");
    QCOMPARE(b->GetParam().alph, 1.0 / 40);
    b->edNewPatchArea->setText("1.5");
    QVERIFY_THROWS_EXCEPTION(utile::EConvertError, b->GetParam());
    b->edTerritory->clear();
    QTest::keyClicks(b->edTerritory, "2x.5");  // a letter is no part of a number
    QCOMPARE(b->edTerritory->text(), QString("2.5"));
  }

  void AnalysisChoiceEnablesItsControls() {
    QVERIFY(!b->edColonisation->isEnabled() && !b->edExtinction->isEnabled() &&
            !b->GroupBox8->isVisibleTo(b));
    vandrel::TestingMode = true;
    b->FormActivate();
    QVERIFY(b->GroupBox8->isVisibleTo(b));
    QCOMPARE(b->edModelName->text(), QString("Simple Demo Model 1 (v.1.0.1.0)"));
    for (const int index : {0, 1, 2, 0}) {
      b->cbBootstrapping->setEnabled(true);
      b->cbBootstrapping->setChecked(true);
      b->cbAnalysesType->setCurrentIndex(index == 0 ? 1 : 0);
      b->cbAnalysesType->setCurrentIndex(index);
      const bool capacity = index == 0;
      QCOMPARE(b->cbBootstrapping->isEnabled(), capacity);
      QCOMPARE(b->edAutocorrelation->isEnabled(), capacity);
      QCOMPARE(b->edColonisation->isEnabled() && b->edExtinction->isEnabled(), !capacity);
      QVERIFY(!b->cbBootstrapping->isChecked() && !b->seIterations->isEnabled());
    }
    b->cbBootstrapping->setChecked(true);
    QVERIFY(b->edPerCentBootstrapping->isEnabled() && b->seIterations->isEnabled());
  }

  void DispersalWeighsTheLinksByTheKernel() {
    SetLandscape({{1, 0, 0, 1}, {2, 3, 4, 1}, {3, 3, 4, 1}, {4, 30, 0, 1}});
    b->edRange->setText("5");
    for (const auto& [i, j, weight] : std::initializer_list<std::tuple<int, int, double>>{
             {0, 0, 1}, {0, 1, std::exp(-1.0)}, {1, 0, std::exp(-1.0)}, {1, 2, 1}, {0, 3, std::exp(-6.0)}})
      QVERIFY(std::fabs(b->GetConnectivity(i, j) - weight) < 1e-14);
    b->edRange->setText("0");  // an infinite decay cuts every link but a patch's own
    QCOMPARE(b->GetConnectivity(0, 1), 0.0);
    QCOMPARE(b->GetConnectivity(1, 2), 1.0);
  }

  void EachAnalysisListsEveryPatchInBothModes() {
    // Two patches of area 2, 10 apart, range 10: m = 2 exp(-1) 2 = 1.47, the
    // capacity; e = 0.5 gives p* = 1 - e / m = 0.660 and the size 2 p* 2 = 2.64.
    SetLandscape({{1, 10, 10, 2}, {2, 20, 10, 2}});
    b->edRange->setText("10");
    b->edExtinction->setText("0.5");
    struct tRow {
      int analysis;
      QStringList lines;
      const char* raster;  // written in the raster mode
    } rows[] = {{0,
                 {"Metapopulation Capacity (Lambda M)=\t1.47", "", "Patches ID              Vl            Vs",
                  "1                \t0.5\t0.5", "2                \t0.5\t0.5"},
                 "MetapopCapacity5"},
                {1,
                 {"Metapopulation Size (S)=\t2.64", "", "Patches ID              P(Occ)     Ul            Us",
                  "1                \t0.66\t0.5\t0.5", "2                \t0.66\t0.5\t0.5"},
                 nullptr},
                {2,
                 {"Patches ID              P(Occ)     W", "1                \t0.66\t0.5",
                  "2                \t0.66\t0.5"},
                 "ContribToColon5"}};
    models::RunNumber = 5;
    for (const bool interface : {true, false})
      for (const tRow& r : rows) {
        for (const QString& file : QDir(fFolder->path()).entryList(QDir::Files)) QFile::remove(File(file));
        fMain->ckPotential->setChecked(false);
        Run(r.analysis, interface);
        QCOMPARE(fDialogs->Messages, std::vector<std::string>{});
        QCOMPARE(MemoLines(b->mmResults), r.lines);
        QCOMPARE(QApplication::overrideCursor(), nullptr);
        QCOMPARE(models::ResultMap.size(), size_t(interface ? 100 : 36));
        QCOMPARE(models::ResultMap[0].size(), size_t(interface ? 100 : 36));
        // The interface mode shows the grid behind the patches.
        QCOMPARE(fMain->ckPotential->isChecked(), interface);
        if (interface) QVERIFY(fMain->mnPrecomputed->isChecked() && fMain->seNewPatchArea->isHidden());
        const QStringList written = QDir(fFolder->path()).entryList(QDir::Files);
        QCOMPARE(written.contains(r.raster + QString::fromStdString(utile::ImageExtension)),
                 !interface && r.raster);
        if (interface || !r.raster) QVERIFY(written.isEmpty());
        if (interface && r.analysis == 0) {
          fMain->show();
          QVERIFY(QTest::qWaitForWindowExposed(fMain));
          QVERIFY(fMain->grab().save("/tmp/simpledemo-capacity-grid.png"));
        }
      }
    QCOMPARE(MemoLines(b->mmmModel).mid(1), QStringList({"", "PARAMETERS:", "0\t1", "1\t0"}));
    b->resize(900, 560);
    QVERIFY(QTest::qWaitForWindowExposed(b));
    QVERIFY(b->grab().save("/tmp/simpledemo-parameters.png"));
  }

  void RastersReadBackAsTheResultGrid() {
    // Nothing symmetric: a flipped or transposed map differs.
    SetLandscape({{1, 4, 6, 3}, {2, 25, 10, 1}, {3, 12, 30, 2}});
    b->edRange->setText("20");
    b->edExtinction->setText("0.2");
    for (const int analysis : {0, 2}) {
      models::RunNumber = analysis;
      Run(analysis, false);
      const utile::tRaster raster(File(analysis == 0 ? "MetapopCapacity0" : "ContribToColon2").toStdString());
      QCOMPARE(raster.Columns, 36);
      QCOMPARE(raster.Rows, 36);
      const utile::tMatrixOfDouble cells = raster.AsMatrix();  // its first row is the top of the map
      double largest = 0;
      for (int r = 0; r < 36; ++r)
        for (int c = 0; c < 36; ++c) {
          QCOMPARE(cells[r][c], double(float(models::ResultMap[c][35 - r])));
          largest = std::max(largest, cells[r][c]);
        }
      QVERIFY(largest > 0);
    }
  }

  void AggregatesSpreadToThePatchesByTheirPopID() {
    // Cells of 18: popIDs 7 and 3 share one (areas 2 and 6 of 8), 12 has the
    // opposite one alone (area 8), 40 is too small to make one. The two equal
    // aggregates share everything equally.
    SetLandscape({{7, 5, 5, 2}, {3, 10, 12, 6}, {12, 27, 27, 8}, {40, 30, 5, 0.5}});
    vandrel::TestingMode = true;
    b->FormActivate();
    b->cbAggregation->setChecked(true);
    b->edGridResolution->setText("18");
    Run(0, true);
    QCOMPARE(MemoLines(b->mmResults).mid(3),
             QStringList({"1                 \t0.125\t0.125", "2                 \t0.375\t0.375",
                          "3                 \t0.5\t0.5", "4                 \t0\t0"}));
    b->edExtinction->setText("5");
    Run(2, false);
    const QStringList lines = MemoLines(b->mmResults);
    const QString p = lines[1].split('\t')[1];  // the occupancy of every aggregate
    QVERIFY(p.toDouble() > 0);
    QCOMPARE(lines.mid(1),
             QStringList({"1                \t" + p + "\t0.125", "2                \t" + p + "\t0.375",
                          "3                \t" + p + "\t0.5", "4                \t0\t0"}));
  }

  void CopyFromAMapTakesItsGrid() {
    utile::tRaster map;  // its documentation only
    map.FileName = File("mask").toStdString();
    map.Columns = 5, map.Rows = 3, map.minX = 10.5, map.maxX = 20, map.minY = -3, map.maxY = 7.25;
    map.WriteDoc();
    const QString name = File("mask") + QString::fromStdString(utile::ImageExtension);
    b->rbSaveToIdrisi->setChecked(true);
    QVERIFY(!b->cbMask->isEnabled());
    fDialogs->FileNames = {std::nullopt, File("missing.rst").toStdString(), name.toStdString()};
    for (int k = 0; k < 3; ++k) b->btCopyFromMap->click();
    QCOMPARE(fDialogs->Titles[0], std::string("Select map"));
    QCOMPARE(fDialogs->Filters[0], utile::MapFileFilter);
    QCOMPARE(fDialogs->Messages.size(), size_t(1));  // the missing map, which changed nothing
    QCOMPARE(QStringList({b->edMinX->text(), b->edMaxX->text(), b->edMinY->text(), b->edMaxY->text()}),
             QStringList({"10.5", "20", "-3", "7.25"}));
    QCOMPARE(QList<int>({b->seColumns->value(), b->seRows->value()}), QList<int>({5, 3}));
    QCOMPARE(b->edMapFileName->text(), name);
    QCOMPARE(QString::fromStdString(models::MaskFileName), name);
    QVERIFY(b->cbMask->isEnabled());

    // A mask of another size than the grid fails the run, and the cursor comes back.
    b->cbMask->setChecked(true);
    b->seColumns->setValue(6);
    SetLandscape({{1, 12, 0, 3}, {2, 18, 5, 1}});
    Run(0, false);
    QCOMPARE(fDialogs->Messages.size(), size_t(2));
    QVERIFY(QString::fromStdString(fDialogs->Messages[1]).contains("mask"));
    QCOMPARE(QApplication::overrideCursor(), nullptr);
    b->rbInterface->setChecked(true);
    QVERIFY(models::MaskFileName.empty() && b->edMapFileName->text().isEmpty());
  }

  // ------------------------------------------------------------ the batch

  void PageMakesTheBatchOfItsLists() {
    for (const auto& [box, captions] : {std::pair{Page()->sboxSensitivity, ModelCaptions},
                                        std::pair{Page()->sboxLanSensitivity, LandscapeCaptions}}) {
      QStringList shown;
      for (const std::string& caption : box->Captions()) shown << QString::fromStdString(caption);
      QCOMPARE(shown, captions);
    }
    QCOMPARE(Page()->edOutputFile->text(), QString("SimpleDemoModel.txt"));
    Page()->edOutputFile->clear();
    QTest::keyClicks(Page()->edOutputFile, "run_a.txt");  // any text makes a file name
    QCOMPARE(Page()->edOutputFile->text(), QString("run_a.txt"));
    QVERIFY(!b->cbRareSpecies->isEnabled());
    b->rbSecifieAnalyses->click();
    QVERIFY(b->cbRareSpecies->isEnabled() && b->cbmetapopConnect->isEnabled());

    QString landscape = "MakeLandscape(";
    for (const QLineEdit* edit : Page()->edLanParams()) landscape += edit->text() + ",";
    landscape.back() = ')';
    Page()->edParams()[0]->setText("1,2,3");
    Page()->edParams()[1]->setText("10");
    const QString s1 = "Simulation(1,10,1,1,1000,1,1,100)", s2 = "Simulation(2,10,1,1,1000,1,1,100)",
                  s3 = "Simulation(3,10,1,1,1000,1,1,100)";
    for (const auto& [copies, runs, lines] : {std::tuple{1, 1, QStringList{landscape, s1, s2, s3}},
                                              {1, 2, {landscape, s1, s1, s2, s2, s3, s3}},
                                              {2, 1, {landscape, s1, s2, s3, landscape, s1, s2, s3}}}) {
      Page()->seNbLandscapes->setValue(copies);
      Page()->seNbRuns->setValue(runs);
      Page()->btMakeBatch->click();
      QCOMPARE(Page()->mmBatch->toPlainText().split('\n'), lines);
    }
  }

  void SimulationLinesSetTheParametersOrAreRefused() {
    b->cbAnalysesType->setCurrentIndex(vandrel::saRareSpeciesPersistence);
    const QStringList lines =
        RunBatch({"Simulation(1,2)", "Simulation(0:5,1,1,1,1000,1,2,50)", "simulation(0,1,1,1,1000,1,1)"});
    QCOMPARE(QStringList({b->edZetaImmigFact->text(), b->edTerritory->text(), b->edRange->text()}),
             QStringList({"05", "2", "50"}));
    QCOMPARE(lines.size(), 5);
    QVERIFY(lines[1].startsWith("****** Error in batch line 1: "));
    QVERIFY(lines[2].startsWith("05\t1\t1\t1\t1000\t1\t2\t50\t"));  // no landscape line before it
    QVERIFY(lines[3].startsWith("****** Error in batch line 3: "));
    QCOMPARE(lines[4], QString("******* 2 errors encountered"));
    // The page shows the count until the next batch, which runs without failure.
    QVERIFY(!Page()->lblBatchErrors->isHidden());
    QCOMPARE(Page()->lblBatchErrors->text(), QString("******* 2 errors encountered"));
    fDialogs->FileExistsAnswers.push_back(vandrel::tDialogResult::drReplace);
    QCOMPARE(RunBatch({"Simulation(0,1,1,1,1000,1,2,50)"}).size(), 2);
    QVERIFY(Page()->lblBatchErrors->isHidden() && Page()->lblBatchErrors->text().isEmpty());
  }

  void RowsOfTheAnalysisOfTheParametersPage() {
    // Rare Species Persistence on the three patches of the start-up landscape.
    Page()->btMakeBatch->click();
    b->cbAnalysesType->setCurrentIndex(vandrel::saRareSpeciesPersistence);
    QStringList lines = RunBatch(MemoLines(Page()->mmBatch));
    QCOMPARE(lines.size(), 2);
    QCOMPARE(lines[0], Header(QStringList{"LambdaM"} + Numbered("Vl", 3) + Numbered("Vs", 3)));
    QStringList fields = lines[1].split('\t');
    QCOMPARE(fields.size(), 1 + 12 + 8 + 1 + 3 + 3 + 1);
    QVERIFY(fields[0] == "0" && fields.last().isEmpty());
    QVERIFY(std::fabs(fields[21].toDouble() / EigenCapacity(models::Patches, 0.01, 1, 0, 1) - 1) < 1e-9);
    QVERIFY(std::fabs(fields[22].toDouble() + fields[23].toDouble() + fields[24].toDouble() - 1) < 1e-12);
    // Four lines number their rasters 1 to 4.
    QStringList expected = {"results.txt"};
    for (int k = 1; k <= 4; ++k)
      for (const std::string& extension : {utile::DocExtension, utile::ImageExtension})
        expected << "MetapopCapacity" + QString::number(k) + QString::fromStdString(extension);
    const QString line = "Simulation(0,1,1,1,1000,1,1,100)";
    QFile::remove(File("results.txt"));
    RunBatch({line, line, line, line});
    QStringList written = QDir(fFolder->path()).entryList(QDir::Files);
    written.sort();
    expected.sort();
    QCOMPARE(written, expected);
    QCOMPARE(models::RunNumber, 0);
    QVERIFY(b->rbSaveToIdrisi->isChecked() && !fMain->ckPotential->isChecked());

    // Connectivity: the parameters, a line per patch, an empty line; no analysis columns.
    b->cbAnalysesType->setCurrentIndex(vandrel::saConnectivity);
    QFile::remove(File("results.txt"));
    lines = RunBatch({"Simulation(0,1,1,1,0.01,1,1,100)"});
    QCOMPARE(lines.size(), 1 + 1 + 3 + 1);
    QCOMPARE(lines[0], Header({}));
    QCOMPARE(lines[1], QString("0\t1\t1\t1\t0.01\t1\t1\t100\t"));
    double weights = 0;
    for (int k = 0; k < 3; ++k) {
      fields = lines[2 + k].split('\t');
      QVERIFY(fields.size() == 4 && fields[0] == QString::number(models::Patches[k].popID));
      weights += fields[1].toDouble();
    }
    QVERIFY(std::fabs(weights - 1) < 1e-12);
    QCOMPARE(lines[5], QString());
  }

  void BatchOfEveryAnalysisReadsBackColumnByColumn() {
    b->rbSecifieAnalyses->click();
    for (QCheckBox* box : {b->cbRareSpecies, b->cbMetapopSize, b->cbmetapopConnect}) box->setChecked(true);
    const QStringList ranges = {"30", "60", "45"}, extinctions = {"0.05", "0.1", "0.02"};
    QStringList batch = {"MakeLandscape(200,150,3,5,5,1,40,50,10,100,100,1)"};
    for (int k = 0; k < 3; ++k) batch << "Simulation(0.5,1,1,1," + extinctions[k] + ",1,1," + ranges[k] + ")";
    batch << "MakeLandscape(120,180,3,5,5,1,25,50,10,100,100,1)";
    batch += batch.mid(1, 3);
    const QStringList lines = RunBatch(batch);
    QCOMPARE(lines.size(), 7);
    QCOMPARE(lines[0], Header(QStringList{"LambdaM"} + Numbered("Vl", 3) + Numbered("Vs", 3) +
                              QStringList{"MS"} + Numbered("Ul", 3) + Numbered("Us", 3) +
                              Numbered("P(occ)", 3) + Numbered("W", 3) + Numbered("P(occ)", 3)));
    const QStringList header = lines[0].split('\t');
    const QRegularExpression realForm("^[ -][0-9]\\.[0-9]{14}E[+-][0-9]{4}$");
    QCOMPARE(b->Landscapes.size(), size_t(6));
    for (int row = 0; row < 6; ++row) {
      const QStringList fields = lines[1 + row].split('\t');
      QCOMPARE(fields.size(), header.size());
      QCOMPARE(fields[0], QString::number(row / 3));
      auto column = [&](const QString& name, int occurrence = 0) {
        qsizetype at = -1;
        for (int k = 0; k <= occurrence; ++k) at = header.indexOf(name, at + 1);
        return fields[at];
      };
      for (qsizetype k = 1 + 12 + 8; k < fields.size() - 1; ++k)
        QVERIFY2(realForm.match(fields[k]).hasMatch(), qPrintable(fields[k]));
      const models::tArrayOfCircles& patches = b->Landscapes[static_cast<size_t>(row)];
      const double lambda = EigenCapacity(patches, 1 / ranges[row % 3].toDouble(), 1, 0.5, 1);
      QVERIFY(std::fabs(column("LambdaM").toDouble() / lambda - 1) < 1e-9);
      double vl = 0, w = 0;
      for (int i = 1; i <= 3; ++i) {
        vl += column("Vl" + QString::number(i)).toDouble();
        w += column("W" + QString::number(i)).toDouble();
        QCOMPARE(column("P(occ)" + QString::number(i), 1), column("P(occ)" + QString::number(i), 0));
      }
      QVERIFY(std::fabs(vl - 1) < 1e-12 && std::fabs(w - 1) < 1e-12);
    }
  }

  void FailingSimulationEndsItsRowAndTheBatchGoesOn() {
    b->rbSecifieAnalyses->click();
    b->cbMetapopSize->setChecked(true);
    // A negative extinction rate fails the size analysis once the row has begun.
    const QStringList lines =
        RunBatch({"Simulation(0,1,1,1,-1,1,1,100)", "Simulation(0,1,1,1,0.01,1,1,100)"});
    QCOMPARE(lines.size(), 5);
    QCOMPARE(lines[1], QString("0\t1\t1\t1\t-1\t1\t1\t100\t"));
    QVERIFY(lines[2].startsWith("****** Error for 0\t1\t1\t1\t-1\t1\t1\t100\t: "));
    QCOMPARE(lines[3].split('\t').size(), 8 + 1 + 3 * 3 + 1);
    QCOMPARE(lines[4], QString("******* 1 errors encountered"));
  }

  void AnalysisShowsEachPatchLeftOutThenItsResults() {
    SetLongLandscape();
    QStringList texts;
    bool locked = true;
    OnResultsText([&](const QString& text) {
      texts << text;
      locked = locked && b->IsRunning() && fMain->LandscapeLocked() && !b->grpParameters->isEnabled() &&
               !b->grpAnalyses->isEnabled();
    });
    b->btRun->click();
    QStringList expected = {"Metapopulation Size: occupancy at equilibrium..."};
    for (int k = 1; k <= 30; ++k)
      expected << QString("Metapopulation Size: patch %1 of 30 left out...").arg(k);
    QCOMPARE(texts.mid(0, 31), expected);
    QCOMPARE(texts.size(), 33);  // then the memo as it was, then the results
    QVERIFY(locked);
    QVERIFY(MemoLines(b->mmResults)[0] == QString::fromStdString(utile::Format(
                                              "Metapopulation Size (S)=\t%.3g", models::MetapopulationSize)));
    QVERIFY(!b->IsRunning() && !fMain->LandscapeLocked() && b->btRun->isEnabled() &&
            b->grpParameters->isEnabled());
  }

  void CloseDuringAnAnalysisStopsItAndClosesOnceItHasUnwound() {
    SetLongLandscape();
    b->mmResults->setPlainText("the last results");
    models::MetapopulationSize = -7;
    QPointer<TdlgSimpleDemoModel> window(b);
    QStringList texts;
    bool refused = false;
    OnResultsText([&](const QString& text) {
      texts << text;
      if (!text.contains("patch 3 of 30")) return;
      // Whatever would recompute the capacity or change the landscape is refused.
      try {
        b->Initialise();
      } catch (const utile::EInvalidOperation&) {
        try {
          fMain->CheckLandscapeUnlocked();
        } catch (const utile::EInvalidOperation&) {
          refused = true;
        }
      }
      b->close();
      QVERIFY(!window.isNull() && b->ClosePending());
    });
    b->btRun->click();
    QVERIFY(refused);
    QCOMPARE(texts.size(), 5);
    QCOMPARE(texts.last(), QString("the last results"));
    QCOMPARE(models::MetapopulationSize, -7.0);
    QVERIFY(fDialogs->Messages.empty());
    QTRY_VERIFY(window.isNull());
    b = nullptr;
    QVERIFY(!fMain->LandscapeLocked());
  }

  void CloseDuringABatchLineEndsThatLineAndTheBatch() {
    SetLongLandscape();
    QPointer<TdlgSimpleDemoModel> window(b);
    QStringList texts;
    OnResultsText([&](const QString& text) {
      texts << text;
      if (text.contains("patch 2 of 30") && text.contains("Batch: 67 %")) b->close();
    });
    const QString line = "Simulation(0,1,1,1,1000,1,1,100)";
    const QStringList lines = RunBatch({line, line, line});
    QVERIFY(texts.contains("Metapopulation Size: patch 30 of 30 left out...\nBatch: 33 %"));
    QCOMPARE(lines.size(), 4);
    // Without a landscape line a row begins with the line's values.
    QCOMPARE(lines[1].split('\t').size(), 8 + 1 + 3 * 30 + 1);
    QCOMPARE(lines[2],
             "****** Error for 0\t1\t1\t1\t1000\t1\t1\t100\t: The analysis was stopped. ************");
    QCOMPARE(lines[3], QString("******* 1 errors encountered"));
    QTRY_VERIFY(window.isNull());
    b = nullptr;
  }

  void UserOpensRunsAndBatchesFromTheMenu() {
    fMain->mnNewDemographic->trigger();
    auto* bench = qobject_cast<TdlgSimpleDemoModel*>(fMain->CurrentModel);
    QVERIFY(bench && bench != b);
    QCOMPARE(bench->windowTitle(), QString("Simple Demo Model 2 (v.1.0.1.0)"));
    QVERIFY(QTest::qWaitForWindowExposed(bench));
    bench->cbAnalysesType->setCurrentIndex(vandrel::saMetapopulationSize);
    for (const auto& [edit, text] : {std::pair{bench->edRange, "50"}, {bench->edExtinction, "0.5"}}) {
      edit->selectAll();
      QTest::keyClicks(edit, text);
    }
    QTest::mouseClick(bench->btRun, Qt::LeftButton);
    QCOMPARE(MemoLines(bench->mmResults).size(), 3 + 3);
    QVERIFY(MemoLines(bench->mmResults)[0].startsWith("Metapopulation Size (S)=\t"));

    bench->pcModel->setCurrentWidget(bench->tsSensitivity);
    QVERIFY(bench->grab().save("/tmp/simpledemo-sensitivity.png"));
    const QString batch = File("sizes.batch");
    std::ofstream(batch.toStdString(), std::ios::binary)
        << "MakeLandscape(200,200,3,5,5,1,40,50,10,100,100,1)\r\nsimulation(0,1,1,1,0.5,1,1,50)\r\n"
        << "; a comment\r\nSIMULATION(0,1,1,1,0.25,1,1,50)\r\n";
    fDialogs->FileNames = {batch.toStdString()};
    QTest::mouseClick(bench->SensitivityPage->btLoadBatch, Qt::LeftButton);
    bench->SensitivityPage->edOutputFile->selectAll();
    QTest::keyClicks(bench->SensitivityPage->edOutputFile, File("sizes.txt"));
    QTest::mouseClick(bench->SensitivityPage->btRunBatch, Qt::LeftButton);
    const QStringList lines = ResultLines(File("sizes.txt"));
    QCOMPARE(lines.size(), 3);
    const qsizetype ms = lines[0].split('\t').indexOf("MS");
    // Half the extinction, a larger equilibrium.
    QVERIFY(lines[2].split('\t')[ms].toDouble() > lines[1].split('\t')[ms].toDouble());
    QVERIFY(lines[1].split('\t')[ms].toDouble() > 0);
  }
};

QTEST_MAIN(SimpleDemoModelTest)
#include "SimpleDemoModelTest.moc"
