// The simple demographic workbench's batch: its page, the generated lines, the
// simulation lines, the header and rows of each choice of analyses, the rasters
// of a batch, failing lines, and the user's whole path from the Modules menu.
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QSpinBox>
#include <QTabWidget>
#include <QtTest>
#include <cmath>
#include <fstream>
#include <sstream>

#include "SimpleDemoHarness.h"
#include "Utile/Idrisi.h"
#include "app/SensitivityPage.h"

namespace {
std::string ReadText(const QString& file) {
  std::ifstream in(file.toStdString(), std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// The lines of a result file, which must all end in CR LF.
QStringList ResultLines(const QString& file) {
  QString text = QString::fromStdString(ReadText(file));
  if (!text.endsWith("\r\n")) return {"(no CR LF at the end)"};
  text.chop(2);
  const QStringList lines = text.split("\r\n");
  for (const QString& line : lines)
    if (line.contains('\n') || line.contains('\r')) return {"(a line without CR LF)"};
  return lines;
}

const QStringList LandscapeCaptions = {"Width:",
                                       "Height:",
                                       "NbPatch:",
                                       "IsolatedPatchArea:",
                                       "IsolatedPatchDistance:",
                                       "MinArea:",
                                       "MaxArea:",
                                       "PropLargePatches:",
                                       "",
                                       "Connectance:",
                                       "",
                                       ""};
const QStringList ModelCaptions = {"ZetaImmigFact:", "EmigScalFact:", "ExtScalFact:", "Colonisation:",
                                   "Extinction:",    "NewPatchArea:", "Territory:",   "Range:"};
}  // namespace

class SimpleDemoBatchTest : public QObject {
  Q_OBJECT
  testsupport::tSimpleDemoHarness h;
  testsupport::tRecordingSimpleDemo* b() { return h.Bench; }
  vandrel::tSensitivityPage* page() { return b()->SensitivityPage; }

  QStringList RunLines(const QStringList& lines, const QString& name = "results.txt") {
    std::vector<std::string> batch;
    for (const QString& line : lines) batch.push_back(line.toStdString());
    page()->SetBatchLines(batch);
    page()->edOutputFile->setText(h.File(name));
    page()->btRunBatch->click();
    return ResultLines(h.File(name));
  }
  // The header's names, each followed by a TAB, after the landscape and model captions.
  static QString Header(const QStringList& analysisColumns) {
    QString header = "Landscape\t";
    for (const QString& caption : LandscapeCaptions + ModelCaptions + analysisColumns)
      header += caption + "\t";
    return header;
  }
  static QStringList Numbered(const QString& name, int n) {
    QStringList names;
    for (int i = 1; i <= n; ++i) names << name + QString::number(i);
    return names;
  }

 private slots:
  void init() { h.Start(); }
  void cleanup() { h.Stop(); }

  void PageListsTheParametersAndTheLandscapeControls() {
    for (const auto& [box, captions] : {std::pair{page()->sboxSensitivity, ModelCaptions},
                                        std::pair{page()->sboxLanSensitivity, LandscapeCaptions}}) {
      QStringList shown;
      for (const std::string& caption : box->Captions()) shown << QString::fromStdString(caption);
      QCOMPARE(shown, captions);
    }
    QCOMPARE(page()->edParams()[7]->text(), QString("100"));  // the range as typed
    QCOMPARE(page()->edLanParams()[8]->property("Tag").toInt(), 2);
    QCOMPARE(page()->edOutputFile->text(), QString("SimpleDemoModel.txt"));
    page()->edOutputFile->clear();
    QTest::keyClicks(page()->edOutputFile, "run_a.txt");  // any text makes a file name
    QCOMPARE(page()->edOutputFile->text(), QString("run_a.txt"));
    QCOMPARE(page()->btClearBatch->text(), QString("&Clear batch..."));
    for (QCheckBox* box : {b()->cbRareSpecies, b()->cbMetapopSize, b()->cbmetapopConnect})
      QVERIFY(!box->isEnabled());
    b()->rbSecifieAnalyses->click();
    QVERIFY(b()->cbRareSpecies->isEnabled() && b()->cbmetapopConnect->isEnabled());
    b()->rbAsParametersPage->click();
    QVERIFY(!b()->cbMetapopSize->isEnabled());
  }

  void MakeBatchCombinesTheValueLists() {
    QString landscape = "MakeLandscape(";
    for (const QLineEdit* edit : page()->edLanParams()) landscape += edit->text() + ",";
    landscape.back() = ')';
    page()->edParams()[0]->setText("1,2,3");
    page()->edParams()[1]->setText("10");
    const QString tail = ",1,1,1000,1,1,100)";
    struct tRow {
      int landscapes, runs;
      QStringList lines;
    };
    const QString s1 = "Simulation(1,10" + tail, s2 = "Simulation(2,10" + tail, s3 = "Simulation(3,10" + tail;
    for (const tRow& r :
         {tRow{1, 1, {landscape, s1, s2, s3}}, tRow{1, 2, {landscape, s1, s1, s2, s2, s3, s3}},
          tRow{2, 1, {landscape, s1, s2, s3, landscape, s1, s2, s3}}}) {
      page()->seNbLandscapes->setValue(r.landscapes);
      page()->seNbRuns->setValue(r.runs);
      page()->btMakeBatch->click();
      QCOMPARE(page()->mmBatch->toPlainText().split('\n'), r.lines);
    }
  }

  void SimulationLinesSetTheParametersOrAreRefused() {
    b()->cbAnalysesType->setCurrentIndex(vandrel::saRareSpeciesPersistence);
    const QStringList lines =
        RunLines({"Simulation(1,2)", "Simulation(0:5,1,1,1,1000,1,2,50)", "simulation(0,1,1,1,1000,1,1)"});
    QCOMPARE(b()->edZetaImmigFact->text(), QString("05"));
    QCOMPARE(b()->edTerritory->text(), QString("2"));
    QCOMPARE(b()->edRange->text(), QString("50"));
    QCOMPARE(lines.size(), 5);
    QVERIFY(lines[1].startsWith("****** Error in batch line 1: "));
    QVERIFY(lines[2].startsWith("05\t1\t1\t1\t1000\t1\t2\t50\t"));  // no landscape line before it
    QVERIFY(lines[3].startsWith("****** Error in batch line 3: "));
    QCOMPARE(lines[4], QString("******* 2 errors encountered"));
  }

  void RareSpeciesRowHoldsTheValuesOfEachPatch() {
    page()->btMakeBatch->click();
    b()->cbAnalysesType->setCurrentIndex(vandrel::saRareSpeciesPersistence);
    const QStringList lines = RunLines(page()->mmBatch->toPlainText().split('\n'));
    QCOMPARE(lines.size(), 2);
    QCOMPARE(lines[0], Header(QStringList{"LambdaM"} + Numbered("Vl", 3) + Numbered("Vs", 3)));
    const QStringList fields = lines[1].split('\t');
    QCOMPARE(fields.size(), 1 + 12 + 8 + 1 + 3 + 3 + 1);
    QCOMPARE(fields.last(), QString());
    QCOMPARE(fields[0], QString("0"));
    const double lambda = testsupport::EigenCapacity(models::Patches, 1.0 / 100, 1, 1, 0, 1);
    QVERIFY(std::fabs(fields[21].toDouble() / lambda - 1) < 1e-9);
    QVERIFY(std::fabs(fields[22].toDouble() + fields[23].toDouble() + fields[24].toDouble() - 1) < 1e-12);
  }

  void ConnectivityWritesALinePerPatch() {
    b()->cbAnalysesType->setCurrentIndex(vandrel::saConnectivity);
    const QStringList lines =
        RunLines({"Simulation(0,1,1,1,0.01,1,1,100)", "Simulation(0,1,1,1,0.02,1,1,100)"});
    QCOMPARE(lines[0], Header({}));
    QCOMPARE(lines.size(), 1 + 2 * (1 + 3 + 1));
    for (int run = 0; run < 2; ++run) {
      const int first = 1 + run * 5;
      QCOMPARE(lines[first], QString("0\t1\t1\t1\t0.0%1\t1\t1\t100\t").arg(run + 1));
      double weights = 0;
      for (int k = 0; k < 3; ++k) {
        const QStringList fields = lines[first + 1 + k].split('\t');
        QCOMPARE(fields.size(), 4);
        QCOMPARE(fields[0], QString::number(models::Patches[k].popID));
        weights += fields[1].toDouble();
      }
      QVERIFY(std::fabs(weights - 1) < 1e-12);
      QCOMPARE(lines[first + 4], QString());
    }
  }

  void EachSimulationNumbersItsRasters() {
    b()->cbAnalysesType->setCurrentIndex(vandrel::saRareSpeciesPersistence);
    const QString line = "Simulation(0,1,1,1,1000,1,1,100)";
    RunLines({line, line, line, line});
    QVERIFY(b()->rbSaveToIdrisi->isChecked() && !b()->rbInterface->isChecked());
    QVERIFY(!h.Main->ckPotential->isChecked() && h.Main->seNewPatchArea->isEnabled());
    QCOMPARE(models::RunNumber, 0);
    QStringList expected = {"results.txt"};
    for (int k = 1; k <= 4; ++k)
      for (const std::string& extension : {utile::DocExtension, utile::ImageExtension})
        expected << "MetapopCapacity" + QString::number(k) + QString::fromStdString(extension);
    QStringList written = QDir(h.Folder->path()).entryList(QDir::Files);
    written.sort();
    expected.sort();
    QCOMPARE(written, expected);
  }

  void BatchOfEveryAnalysisReadsBackColumnByColumn() {
    b()->rbSecifieAnalyses->click();
    for (QCheckBox* box : {b()->cbRareSpecies, b()->cbMetapopSize, b()->cbmetapopConnect})
      box->setChecked(true);
    const QStringList ranges = {"30", "60", "45"}, extinctions = {"0.05", "0.1", "0.02"};
    QStringList batch = {"MakeLandscape(200,150,3,5,5,1,40,50,10,100,100,1)"};
    for (int k = 0; k < 3; ++k) batch << "Simulation(0.5,1,1,1," + extinctions[k] + ",1,1," + ranges[k] + ")";
    batch << "MakeLandscape(120,180,3,5,5,1,25,50,10,100,100,1)";
    batch += batch.mid(1, 3);
    const QStringList lines = RunLines(batch);
    QCOMPARE(lines.size(), 7);
    const int n = 3;
    const QStringList analysis = QStringList{"LambdaM"} + Numbered("Vl", n) + Numbered("Vs", n) +
                                 QStringList{"MS"} + Numbered("Ul", n) + Numbered("Us", n) +
                                 Numbered("P(occ)", n) + Numbered("W", n) + Numbered("P(occ)", n);
    QCOMPARE(lines[0], Header(analysis));
    const QStringList header = lines[0].split('\t');
    const QRegularExpression realForm("^[ -][0-9]\\.[0-9]{14}E[+-][0-9]{4}$");
    QCOMPARE(b()->Landscapes.size(), size_t(6));
    for (int row = 0; row < 6; ++row) {
      const QStringList fields = lines[1 + row].split('\t');
      QCOMPARE(fields.size(), header.size());
      QCOMPARE(fields[0], QString::number(row / 3));
      auto column = [&](const QString& name, int occurrence = 0) {
        int at = -1;
        for (int k = 0; k <= occurrence; ++k) at = header.indexOf(name, at + 1);
        return fields[at];
      };
      for (int k = 1 + 12 + 8; k < fields.size() - 1; ++k)
        QVERIFY2(realForm.match(fields[k]).hasMatch(), qPrintable(fields[k]));
      const models::tArrayOfCircles& patches = b()->Landscapes[static_cast<size_t>(row)];
      QCOMPARE(patches.size(), size_t(n));
      const double lambda = testsupport::EigenCapacity(patches, 1 / ranges[row % 3].toDouble(), 1, 1, 0.5, 1);
      QVERIFY(std::fabs(column("LambdaM").toDouble() / lambda - 1) < 1e-9);
      double vl = 0, w = 0;
      for (int i = 1; i <= n; ++i) {
        vl += column("Vl" + QString::number(i)).toDouble();
        w += column("W" + QString::number(i)).toDouble();
        const QString occupancy = "P(occ)" + QString::number(i);
        QCOMPARE(column(occupancy, 1), column(occupancy, 0));
        QVERIFY(column(occupancy).toDouble() > 0);
      }
      QVERIFY(std::fabs(vl - 1) < 1e-12 && std::fabs(w - 1) < 1e-12);
    }
    QCOMPARE(models::RunNumber, 0);
  }

  void FailingSimulationEndsItsRowAndTheBatchGoesOn() {
    b()->rbSecifieAnalyses->click();
    b()->cbMetapopSize->setChecked(true);
    // A negative extinction rate fails the size analysis after the row has begun.
    const QStringList lines =
        RunLines({"Simulation(0,1,1,1,-1,1,1,100)", "Simulation(0,1,1,1,0.01,1,1,100)"});
    QCOMPARE(lines.size(), 5);
    QCOMPARE(lines[1], QString("0\t1\t1\t1\t-1\t1\t1\t100\t"));
    QVERIFY(lines[2].startsWith("****** Error for 0\t1\t1\t1\t-1\t1\t1\t100\t: "));
    QCOMPARE(lines[3].split('\t').size(), 8 + 1 + 3 * 3 + 1);
    QCOMPARE(lines[4], QString("******* 1 errors encountered"));
    QCOMPARE(b()->BatchErrors, 1u);
  }

  void UserOpensRunsAndBatchesFromTheMenu() {
    h.Main->mnNewDemographic->trigger();
    auto* bench = qobject_cast<vandrel::TdlgSimpleDemoModel*>(h.Main->CurrentModel);
    QVERIFY(bench && bench != b());
    QCOMPARE(bench->windowTitle(), QString("Simple Demo Model 2 (v.1.0.1.0)"));
    QVERIFY(QTest::qWaitForWindowExposed(bench));
    bench->cbAnalysesType->setCurrentIndex(vandrel::saMetapopulationSize);
    for (const auto& [edit, text] : {std::pair{bench->edRange, "50"}, {bench->edExtinction, "0.5"}}) {
      edit->selectAll();
      QTest::keyClicks(edit, text);
    }
    QTest::mouseClick(bench->btRun, Qt::LeftButton);
    const QStringList results = bench->mmResults->toPlainText().split('\n');
    QCOMPARE(results.size(), 3 + 3);
    QVERIFY(results[0].startsWith("Metapopulation Size (S)=\t"));

    bench->pcModel->setCurrentWidget(bench->tsSensitivity);
    QVERIFY(QTest::qWaitForWindowExposed(bench));
    QVERIFY(bench->grab().save("/tmp/simpledemo-sensitivity.png"));
    const QString batch = h.File("sizes.batch");
    std::ofstream(batch.toStdString(), std::ios::binary)
        << "MakeLandscape(200,200,3,5,5,1,40,50,10,100,100,1)\r\nsimulation(0,1,1,1,0.5,1,1,50)\r\n"
        << "; a comment\r\nSIMULATION(0,1,1,1,0.25,1,1,50)\r\n";
    h.Dialogs->FileNames = {batch.toStdString()};
    QTest::mouseClick(bench->SensitivityPage->btLoadBatch, Qt::LeftButton);
    bench->SensitivityPage->edOutputFile->selectAll();
    QTest::keyClicks(bench->SensitivityPage->edOutputFile, h.File("sizes.txt"));
    QTest::mouseClick(bench->SensitivityPage->btRunBatch, Qt::LeftButton);
    const QStringList lines = ResultLines(h.File("sizes.txt"));
    QCOMPARE(lines.size(), 3);
    const QStringList header = lines[0].split('\t');
    const int ms = static_cast<int>(header.indexOf("MS"));
    // Half the extinction, a larger equilibrium.
    QVERIFY(lines[2].split('\t')[ms].toDouble() > lines[1].split('\t')[ms].toDouble());
    QVERIFY(lines[1].split('\t')[ms].toDouble() > 0);
  }
};

QTEST_MAIN(SimpleDemoBatchTest)
#include "SimpleDemoBatchTest.moc"
