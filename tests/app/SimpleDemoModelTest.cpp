// The simple demographic workbench: its controls, the parameter checks, the
// enabling by analysis, the link weight, the result memo of each analysis in
// both map modes, the rasters, the aggregation and the map grid of a raster.
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QtTest>
#include <cmath>
#include <limits>

#include "SimpleDemoHarness.h"
#include "Utile/Idrisi.h"
#include "app/SensitivityPage.h"

using vandrel::TdlgSimpleDemoModel;

namespace {
QStringList Lines(const QPlainTextEdit* memo) {
  return memo->toPlainText().split('\n');
}

// A raster of the given grid with no cells, its documentation only.
void WriteRasterDoc(const QString& name, int columns, int rows, double minX, double maxX, double minY,
                    double maxY) {
  utile::tRaster raster;
  raster.FileName = name.toStdString();
  raster.Columns = columns, raster.Rows = rows;
  raster.minX = minX, raster.maxX = maxX, raster.minY = minY, raster.maxY = maxY;
  raster.WriteDoc();
}
}  // namespace

class SimpleDemoModelTest : public QObject {
  Q_OBJECT
  testsupport::tSimpleDemoHarness h;
  TdlgSimpleDemoModel* b() { return h.Bench; }

  // Two patches of area 2, 10 apart: each colonises only the other, with
  // m = 2 exp(-10 / 10) 2 = 4 / e = 1.47 (the capacity); e = 0.5 and c = 1 give
  // p* = 1 - e / (c m) = 0.660 and a size 2 p* 2 = 2.64.
  void SetTwoEqualPatches() {
    h.SetLandscape({{1, 10, 10, 2}, {2, 20, 10, 2}});
    b()->edRange->setText("10");
    b()->edColonisation->setText("1");
    b()->edExtinction->setText("0.5");
  }
  void Run(int analysis, bool interface) {
    b()->cbAnalysesType->setCurrentIndex(analysis);
    (interface ? b()->rbInterface : b()->rbSaveToIdrisi)->setChecked(true);
    b()->btRun->click();
  }

 private slots:
  void init() { h.Start(); }
  void cleanup() { h.Stop(); }

  void ControlsHaveTheirCaptionsDefaultsAndState() {
    struct tRow {
      vandrel::tLabeledEdit* edit;
      const char *caption, *text;
      bool enabled, shown;
    };
    for (const tRow& r : std::initializer_list<tRow>{
             {b()->edTerritory, "&Territory area=", "1", true, true},
             {b()->edRange, "Mean dispersal Distance=", "100", true, true},
             {b()->edColonisation, "&Colonisation rate=", "1", false, true},
             {b()->edEmigScalFact, "&Emigration Scaling Factor=", "1", true, true},
             {b()->edZetaImmigFact, "&Immigration Scaling Factor=", "0", true, true},
             {b()->edExtinction, "&Extinction rate=", "1000", false, true},
             {b()->edExtScalFact, "&Extinction Scaling Factor=", "1", true, true},
             {b()->edNewPatchArea, "&New patch area=", "1", true, true},
             {b()->edAutocorrelation, "&Mean Spatial Autocorrelation=", "1", true, false},
             {b()->edGridResolution, "&Grid resolution=", "10", false, true},
             {b()->edPerCentBootstrapping, "&% bootstrapping=", "100", false, true},
             {b()->edMinX, "Min X=", "0", false, true},
             {b()->edMaxY, "Max Y=", "36", false, true}}) {
      QCOMPARE(r.edit->EditLabel->text(), QString(r.caption));
      QCOMPARE(r.edit->text(), QString(r.text));
      QCOMPARE(r.edit->isEnabled(), r.enabled);
      QCOMPARE(!r.edit->isHidden() && !r.edit->EditLabel->isHidden(), r.shown);
    }
    QCOMPARE(b()->cbAnalysesType->currentText(), QString("Metapopulation Connectivity"));
    QVERIFY(b()->rbInterface->isChecked() && b()->rbDispersal->isChecked());
    QCOMPARE(b()->seColumns->value(), 36);
    QCOMPARE(b()->seIterations->minimum(), 3);
    QVERIFY(!b()->GroupBox8->isVisibleTo(b()));
    vandrel::TestingMode = true;
    b()->FormActivate();
    vandrel::TestingMode = false;
    QVERIFY(b()->GroupBox8->isVisibleTo(b()));
    QCOMPARE(b()->edModelName->text(), QString("Simple Demo Model 1 (v.1.0.1.0)"));
    QCOMPARE(h.Main->CurrentModel, b());
    // Letters are no part of a number.
    b()->edTerritory->clear();
    QTest::keyClicks(b()->edTerritory, "2x.5");
    QCOMPARE(b()->edTerritory->text(), QString("2.5"));
  }

  void GetParamWarnsOfEachFailedCheck() {
    struct tRow {
      vandrel::tLabeledEdit* edit;
      const char *text, *warning;
    };
    for (const tRow& r :
         std::initializer_list<tRow>{{b()->edTerritory, "0", "Territory must be >0"},
                                     {b()->edRange, "0", "mean dispersal distance must be >0"},
                                     {b()->edRange, "-5", "mean dispersal distance must be >0"},
                                     {b()->edExtinction, "0", nullptr},
                                     {b()->edExtinction, "-1", "Extinction rate must be >0"},
                                     {b()->edColonisation, "0", "Colonisation rate must be >0"},
                                     {b()->edNewPatchArea, "0", "New patch area must be >0"}}) {
      const QString before = r.edit->text();
      r.edit->setText(r.text);
      h.Dialogs->Messages.clear();
      const models::tParam param = b()->GetParam();
      const std::vector<std::string> expected =
          r.warning ? std::vector<std::string>{r.warning} : std::vector<std::string>{};
      QCOMPARE(h.Dialogs->Messages, expected);
      if (r.edit == b()->edRange && std::string(r.text) == "0")
        QCOMPARE(param.alph, std::numeric_limits<double>::infinity());
      r.edit->setText(before);
    }
    b()->edRange->setText("40");
    b()->edNewPatchArea->setText("7");
    const models::tParam param = b()->GetParam();
    QCOMPARE(param.alph, 1.0 / 40);
    QCOMPARE(param.NewPatchArea, 7);
    QVERIFY(param.MapForInterface);
    QCOMPARE(b()->GetAlpha(), 1.0 / 40);
    b()->edNewPatchArea->setText("1.5");
    QVERIFY_THROWS_EXCEPTION(utile::EConvertError, b()->GetParam());
  }

  void AnalysisChoiceEnablesItsControls() {
    vandrel::TestingMode = true;
    for (const int index : {0, 1, 2, 0}) {
      b()->cbBootstrapping->setEnabled(true);
      b()->cbBootstrapping->setChecked(true);
      b()->cbAnalysesType->setCurrentIndex(index == 0 ? 1 : 0);
      b()->cbAnalysesType->setCurrentIndex(index);
      const bool capacity = index == 0;
      QCOMPARE(b()->cbBootstrapping->isEnabled(), capacity);
      QVERIFY(!b()->cbBootstrapping->isChecked());
      QCOMPARE(b()->edAutocorrelation->isEnabled(), capacity);
      QCOMPARE(b()->edColonisation->isEnabled(), !capacity);
      QCOMPARE(b()->edExtinction->isEnabled(), !capacity);
      QVERIFY(!b()->edPerCentBootstrapping->isEnabled() && !b()->seIterations->isEnabled());
    }
    b()->cbBootstrapping->setChecked(true);
    QVERIFY(b()->edPerCentBootstrapping->isEnabled() && b()->seIterations->isEnabled());
    b()->cbAggregation->setChecked(true);
    QVERIFY(b()->edGridResolution->isEnabled());
    vandrel::TestingMode = false;
  }

  void DispersalWeighsTheLinksByTheKernel() {
    h.SetLandscape({{1, 0, 0, 1}, {2, 3, 4, 1}, {3, 3, 4, 1}, {4, 30, 0, 1}});
    b()->edRange->setText("5");
    struct tRow {
      int i, j;
      double weight;
    };
    for (const tRow& r : std::initializer_list<tRow>{
             {0, 0, 1}, {0, 1, std::exp(-1.0)}, {1, 0, std::exp(-1.0)}, {1, 2, 1}, {0, 3, std::exp(-6.0)}})
      QVERIFY(std::fabs(b()->GetConnectivity(r.i, r.j) - r.weight) < 1e-14);
    b()->edRange->setText("0");  // an infinite decay cuts every link but a patch's own
    QCOMPARE(b()->GetConnectivity(0, 1), 0.0);
    QCOMPARE(b()->GetConnectivity(1, 2), 1.0);
  }

  void EachAnalysisListsEveryPatchInBothModes() {
    SetTwoEqualPatches();
    const QStringList capacity = {"Metapopulation Capacity (Lambda M)=\t1.47", "",
                                  "Patches ID              Vl            Vs", "1                \t0.5\t0.5",
                                  "2                \t0.5\t0.5"};
    const QStringList size = {"Metapopulation Size (S)=\t2.64", "",
                              "Patches ID              P(Occ)     Ul            Us",
                              "1                \t0.66\t0.5\t0.5", "2                \t0.66\t0.5\t0.5"};
    const QStringList connectivity = {"Patches ID              P(Occ)     W", "1                \t0.66\t0.5",
                                      "2                \t0.66\t0.5"};
    struct tRow {
      int analysis;
      QStringList lines;
      const char* raster;  // written in the raster mode
    };
    models::RunNumber = 5;
    for (const bool interface : {true, false})
      for (const tRow& r : {tRow{0, capacity, "MetapopCapacity5"}, tRow{1, size, nullptr},
                            tRow{2, connectivity, "ContribToColon5"}}) {
        for (const QString& file : QDir(h.Folder->path()).entryList(QDir::Files)) QFile::remove(h.File(file));
        h.Main->ckPotential->setChecked(false);
        Run(r.analysis, interface);
        QVERIFY2(h.Dialogs->Messages.empty(),
                 h.Dialogs->Messages.empty() ? "" : h.Dialogs->Messages[0].c_str());
        QCOMPARE(Lines(b()->mmResults), r.lines);
        QCOMPARE(QApplication::overrideCursor(), nullptr);
        const int cells = interface ? 100 : 36;
        QCOMPARE(models::ResultMap.size(), size_t(cells));
        QCOMPARE(models::ResultMap[0].size(), size_t(cells));
        // The interface mode shows the grid behind the patches.
        QCOMPARE(h.Main->ckPotential->isChecked(), interface);
        if (interface) QVERIFY(h.Main->mnPrecomputed->isChecked() && !h.Main->seNewPatchArea->isVisible());
        if (interface && r.analysis == 0) {
          h.Main->show();
          QVERIFY(QTest::qWaitForWindowExposed(h.Main));
          QVERIFY(h.Main->grab().save("/tmp/simpledemo-capacity-grid.png"));
        }
        QVERIFY(h.Main->ckPatchContribution->isVisibleTo(h.Main->ckPatchContribution->parentWidget()));
        const QStringList written = QDir(h.Folder->path()).entryList(QDir::Files);
        if (interface || !r.raster)
          QVERIFY(written.isEmpty());
        else
          QVERIFY(written.contains(r.raster + QString::fromStdString(utile::ImageExtension)));
      }
    QCOMPARE(Lines(b()->mmmModel).mid(1), QStringList({"", "PARAMETERS:", "0\t1", "1\t0"}));
    QVERIFY(Lines(b()->mmmModel)[0].startsWith("Date:\t"));

    b()->resize(900, 560);
    b()->show();
    QVERIFY(QTest::qWaitForWindowExposed(b()));
    QVERIFY(b()->grab().save("/tmp/simpledemo-parameters.png"));
    h.Main->show();
    QVERIFY(h.Main->grab().save("/tmp/simpledemo-main.png"));
  }

  void RastersReadBackAsTheResultGrid() {
    // Three patches with nothing symmetric: a flipped or transposed map differs.
    h.SetLandscape({{1, 4, 6, 3}, {2, 25, 10, 1}, {3, 12, 30, 2}});
    b()->edRange->setText("20");
    b()->edColonisation->setText("1");
    b()->edExtinction->setText("0.2");
    b()->rbSaveToIdrisi->setChecked(true);
    b()->seColumns->setValue(36);
    b()->seRows->setValue(36);
    for (const int analysis : {0, 2}) {
      models::RunNumber = analysis;
      Run(analysis, false);
      const QString name = analysis == 0 ? "MetapopCapacity0" : "ContribToColon2";
      const utile::tRaster raster(h.File(name).toStdString());
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
    // Cells of 18: popIDs 7 and 3 share the first (areas 2 and 6 of 8), 12 has the
    // opposite one alone (area 8), 40 is too small to make one. The two equal
    // aggregates share everything equally.
    h.SetLandscape({{7, 5, 5, 2}, {3, 10, 12, 6}, {12, 27, 27, 8}, {40, 30, 5, 0.5}});
    vandrel::TestingMode = true;
    b()->FormActivate();
    b()->cbAggregation->setChecked(true);
    b()->edGridResolution->setText("18");
    Run(0, true);
    QCOMPARE(Lines(b()->mmResults).mid(3),
             QStringList({"1                 \t0.125\t0.125", "2                 \t0.375\t0.375",
                          "3                 \t0.5\t0.5", "4                 \t0\t0"}));
    b()->edColonisation->setText("1");
    b()->edExtinction->setText("5");
    Run(2, false);
    const QStringList lines = Lines(b()->mmResults);
    QCOMPARE(lines.size(), 5);
    const QString occupancy = lines[1].split('\t')[1];
    QVERIFY(occupancy.toDouble() > 0);
    QCOMPARE(lines.mid(1),
             QStringList({"1                \t" + occupancy + "\t0.125",
                          "2                \t" + occupancy + "\t0.375",
                          "3                \t" + occupancy + "\t0.5", "4                \t0\t0"}));
    vandrel::TestingMode = false;
  }

  void CopyFromAMapTakesItsGrid() {
    const QString map = h.File("mask");
    WriteRasterDoc(map, 5, 3, 10.5, 20, -3, 7.25);
    b()->rbSaveToIdrisi->setChecked(true);
    QVERIFY(!b()->cbMask->isEnabled());
    h.Dialogs->FileNames = {std::nullopt, h.File("missing.rst").toStdString(),
                            (map + QString::fromStdString(utile::ImageExtension)).toStdString()};
    for (int k = 0; k < 3; ++k) b()->btCopyFromMap->click();
    QCOMPARE(h.Dialogs->Titles[0], std::string("Select map"));
    QCOMPARE(h.Dialogs->Filters[0], utile::MapFileFilter);
    QCOMPARE(h.Dialogs->Messages.size(), size_t(1));  // the missing map, which changed nothing
    QCOMPARE(
        QStringList({b()->edMinX->text(), b()->edMaxX->text(), b()->edMinY->text(), b()->edMaxY->text()}),
        QStringList({"10.5", "20", "-3", "7.25"}));
    QCOMPARE(b()->seColumns->value(), 5);
    QCOMPARE(b()->seRows->value(), 3);
    QCOMPARE(b()->edMapFileName->text(), map + QString::fromStdString(utile::ImageExtension));
    QCOMPARE(QString::fromStdString(models::MaskFileName), b()->edMapFileName->text());
    QVERIFY(b()->cbMask->isEnabled());

    // A mask of another size than the grid fails the run, and the cursor comes back.
    b()->cbMask->setChecked(true);
    b()->seColumns->setValue(6);
    h.SetLandscape({{1, 12, 0, 3}, {2, 18, 5, 1}});
    Run(0, false);
    QCOMPARE(h.Dialogs->Messages.size(), size_t(2));
    QVERIFY(QString::fromStdString(h.Dialogs->Messages[1]).contains("mask"));
    QCOMPARE(QApplication::overrideCursor(), nullptr);

    b()->rbInterface->setChecked(true);
    QVERIFY(models::MaskFileName.empty() && b()->edMapFileName->text().isEmpty());
  }
};

QTEST_MAIN(SimpleDemoModelTest)
#include "SimpleDemoModelTest.moc"
