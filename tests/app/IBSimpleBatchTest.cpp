// The batch pages and batch simulations of the individual-based workbench: a
// batch file loaded, run and read back with its side files, failing lines,
// appending, options and lines that change the columns, the lines of both
// pages, and Abort.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QSpinBox>
#include <QTabWidget>
#include <QTableWidget>
#include <QtTest>
#include <filesystem>
#include <numeric>
#include <set>

#include "IBSimpleHarness.h"
#include "MainWindowHarness.h"
#include "ScriptedDialogs.h"
#include "TestSupport/GenotypeFiles.h"
#include "TestSupport/NumericLocale.h"
#include "TestSupport/StatisticalChecks.h"
#include "Utile/RunTime.h"
#include "Utile/StringOps.h"
#include "Utile/VectorOps.h"
#include "app/SensitivityPage.h"
#include "app/WindowServices.h"
#include "app/dlgIBSimpleU.h"
#include "app/dlgPatchDataU.h"
#include "app/dlgVandrelU.h"
#include "models/MetapopCommon.h"

using models::tEventCell;
using testsupport::NewCell;
using testsupport::TypeParameter;
using utile::gui::tDialogResult;
using vandrel::TdlgIBSimple;

namespace {

// The lines of a text file whose lines all end with CR LF.
QStringList FileLines(const std::string& name) {
  const QString text = QString::fromStdString(utile::LoadTextFromFile(name));
  return text.endsWith("\r\n") ? text.chopped(2).split("\r\n") : QStringList{"(no CR LF at the end)"};
}

// A simulation line: mode, sex ratio, territory, selfing, juvenile weight, the
// sixteen genes, mutation, loci, alleles, KAM, SSM, the sampling probabilities,
// then the cells' tag, survival, dispersal survival and weighting, fecundity.
std::vector<std::string> Values(const std::string& sexRatio, const std::string& territory,
                                const std::string& survival, const std::string& mode = "2",
                                const std::string& weight = "0", const std::string& loci = "5",
                                const std::string& alleles = "20", const std::string& gene = "0") {
  std::vector<std::string> v = {mode, sexRatio, territory, "0", weight};
  v.insert(v.end(), 16, gene);
  for (const std::string& s : {std::string("0"), loci, alleles, std::string("1e-5"), std::string("1e-4"),
                               std::string("1000"), std::string("1000"), std::string("3"), survival,
                               std::string("0.9"), std::string("1.5"), std::string("3")})
    v.push_back(s);
  return v;
}
std::string Line(const std::vector<std::string>& values) {
  std::string line = "Simulation(";
  for (const std::string& v : values) line += v + ",";
  line.back() = ')';
  return line;
}
// Width, height, patches, isolated area and distance, areas, share of large
// patches, distance threshold, connectance, mean distance, permeability, files.
std::string LandscapeLine(int patches) {
  return utile::Format("MakeLandscape(100,100,%d,5,5,1,25,50,1.5,50,100,1,,)", patches);
}

QStringList Header(int n, bool all) {
  // Tagging is event 2, Survival 3, Dispersal 4, Aging 5, Reproduction 6, Death 7.
  QStringList h = QString(
                      "SimID Landscape Width Height NbPatch IsolatedPatchArea IsolatedPatchDistance MinArea "
                      "MaxArea PropLargePatches DistanceThreshold Connectance SurvivalDistance FixedSurvival "
                      "LandscapeFile PermeabilityMap ReproductionMode SexRatio TerritoryArea Autofecondation "
                      "JuvenileWeight")
                      .split(' ');
  for (int gene = 0; gene < 16; ++gene) h << QString("Gene%1").arg(gene);
  h << QString(
           "MutationRate NbLoci NbAlleles KAMrate SSMrate SamplingProbabilityJuvenile "
           "SamplingProbabilityAdult "
           "Event2Param1 Event3Param1 Event4Param1 Event4Param2 Event6Param1 NbIndividuals")
           .split(' ');
  const auto patches = [&](const QString& prefix, int from) {
    for (int i = from; i <= n; ++i) h << prefix + QString("%1").arg(i, 2, 10, QChar('0'));
  };
  if (!all) return h;
  for (const char* group : {"K", "SR", "O"}) patches(group, 1);
  h << QStringList{"Text", "Tag3"};
  for (const char* c : {"j", "a"})
    for (const char* statistic : {"N", "F", "Theta"}) patches(QString(statistic) + c, 0);
  return h << "Time";
}
constexpr int Parameters = 16;  // the first parameter column

}  // namespace

class IBSimpleBatchTest : public QObject {
  Q_OBJECT

  vandrel::TdlgVandrel* fMain = nullptr;
  testsupport::tScriptedDialogs* fDialogs = nullptr;
  TdlgIBSimple* fIB = nullptr;
  testsupport::tTempFolder* fFolder = nullptr;
  std::string fRuns;  // a folder whose name holds a dot

  // Birth, Tagging 3, Survival 0.9, Dispersal (0.9, 1.5), Aging, Reproduction
  // (ceiling, 3), censused Death, each after the one drawn before; then Apply.
  void DrawCycle() {
    NewCell(fIB, models::leTag, "3");
    NewCell(fIB, models::leSurvival, "0.9");
    NewCell(fIB, models::leDispersal, "0.9", "1.5");
    NewCell(fIB, models::leGetOlder);
    fIB->CellControls(NewCell(fIB, models::leReproduction, "3"))->Param3->setCurrentIndex(models::rtCeiling);
    fIB->CellControls(NewCell(fIB, models::leDeath))->Param3->setCurrentIndex(models::dsCensused);
    fIB->btApply->click();
    QVERIFY(fIB->mmLifeCycle->toPlainText() == "Life cycle correct." && fIB->Ready());
  }
  void Check(QCheckBox* box, bool checked) {
    if (box->isChecked() != checked) box->click();
  }
  // Writes the batch file, loads it with the page's button and runs it with "&Run batch".
  QStringList Run(const std::string& name, std::vector<std::string> lines,
                  tDialogResult answer = tDialogResult::drCancel) {
    std::string text;
    for (const std::string& line : lines) text += line + "\r\n";
    utile::SaveTextToFile(fRuns + "/" + name + ".batch", text);
    vandrel::tSensitivityPage* page = fIB->tsSensitivity;
    fDialogs->FileNames.push_back(fRuns + "/" + name + ".batch");
    page->btLoadBatch->click();
    const std::string result = fRuns + "/" + name + ".txt";
    page->edOutputFile->setText(QString::fromStdString(result));
    if (utile::FileExists(result)) fDialogs->FileExistsAnswers.push_back(answer);
    [&] { QVERIFY(page->btRunBatch->isEnabled() && page->btRunBatch->text() == "&Run batch"); }();
    page->btRunBatch->click();
    return FileLines(result);
  }
  std::set<std::string> FolderFiles() const {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(fRuns))
      names.insert(entry.path().filename().string());
    return names;
  }

 private slots:
  void init() {
    fMain = testsupport::OpenMainWindow(fDialogs);
    fMain->seMaxArea->setValue(25);  // fixed areas
    fMain->seNbPatch->setValue(4);
    fMain->btMakeLandscapeClick();
    fIB = testsupport::OpenWorkbench<TdlgIBSimple>(fMain, vandrel::tWorkbenchKind::wkIBSimple);
    fIB->seNbTimeSteps->setValue(30);
    fFolder = new testsupport::tTempFolder;
    fRuns = fFolder->File("runs.v2");
    std::filesystem::create_directory(fRuns);
    DrawCycle();
  }
  void cleanup() {
    testsupport::CloseMainWindow(fMain);
    delete fFolder;
  }

  void BatchFileRunWithItsResultAndSideFiles() {
    for (QCheckBox* box :
         {fIB->ckSensJuveniles, fIB->ckSensF, fIB->ckSensTheta, fIB->ckSensAlpha, fIB->ckSensCapacities,
          fIB->ckSensOccupancy, fIB->ckSensExtinctionTime, fIB->ckSensTags, fIB->ckSensDispersalEvents,
          fIB->ckSensDistanceMat, fIB->ckSensConnectanceMat, fIB->ckSensPermeabilityMat, fIB->ckSensNuclear,
          fIB->ckSensX, fIB->ckSensGenPop, fIB->ckSensAlleleFreq, fIB->ckSensSeparateSexes})
      Check(box, true);
    // Landscapes of 4 and 6 patches, three simulations on each; other lines are skipped.
    std::vector<std::string> lines = {"# two landscapes", ""};
    std::vector<std::vector<std::string>> given;
    for (const int patches : {4, 6}) {
      lines.push_back(LandscapeLine(patches));
      for (const auto& [ratio, territory] : {std::pair{"0.5", "0.25"}, {"0.4", "0.4"}, {"0.5", "0.3"}})
        lines.push_back(Line(given.emplace_back(Values(ratio, territory, "0.9"))));
    }
    // The result file with a "%" in its name is there already: the answer replaces it.
    utile::SaveTextToFile(fRuns + "/50%d.txt", "old\r\n");
    const QStringList file = Run("50%d", lines, tDialogResult::drReplace);
    QCOMPARE(fDialogs->FileExistsMessages.back(), "\"" + fRuns + "/50%d.txt\" already exists.");
    QVERIFY(fDialogs->Messages.empty() && fIB->BatchErrors == 0 && fIB->ggBatchProgress->value() == 100);

    // A header line for each patch count, then rows of its fields: the lines' values,
    // K = Round(25 / territory) (62.5 gives 62), shares, counts summing to their total.
    QCOMPARE(file.size(), 8);
    QCOMPARE(file[0].split('\t'), Header(4, true));
    QCOMPARE(file[4].split('\t'), Header(6, true));
    for (int sim = 0; sim < 6; ++sim) {
      const int n = sim < 3 ? 4 : 6;
      const QStringList header = Header(n, true), row = file[sim < 3 ? 1 + sim : 2 + sim].split('\t');
      QCOMPARE(row.size(), header.size());
      const auto at = [&](const QString& name) { return row[header.indexOf(name)]; };
      const auto number = [&](const QString& name, double low, double high) {
        bool ok = false;
        const double v = at(name).toDouble(&ok);
        return ok && (v == -1 || (v >= low && v <= high));
      };
      const QStringList landscape = QString::fromStdString(LandscapeLine(n)).mid(14).chopped(1).split(',');
      QCOMPARE(row.mid(0, Parameters),
               QStringList({QString::number(sim), QString::number(sim / 3)}) + landscape);
      for (size_t i = 0; i < given[sim].size(); ++i)
        QCOMPARE(row[Parameters + int(i)], QString::fromStdString(given[sim][i]));
      const QString capacity = QString::number(sim % 3 == 0 ? 100 : sim % 3 == 1 ? 62 : 83);
      int juveniles = 0, adults = 0;
      for (int p = 1; p <= n; ++p) {
        const QString id = QString("%1").arg(p, 2, 10, QChar('0'));
        QCOMPARE(at("K" + id), capacity);
        QVERIFY(number("SR" + id, 0, 1) && number("O" + id, 0, 1) && at("O" + id) != "-1");
        for (const char* statistic : {"Fj", "Thetaj", "Fa", "Thetaa"}) QVERIFY(number(statistic + id, 0, 1));
        juveniles += at("Nj" + id).toInt();
        adults += at("Na" + id).toInt();
      }
      QVERIFY(at("Nj00").toInt() == juveniles && at("Na00").toInt() == adults && adults > 0);
      QVERIFY(QRegularExpression("^(NA|\\d+)$").match(at("Text")).hasMatch());
      QVERIFY(QRegularExpression("^\\d+ D \\d\\d:\\d\\d:\\d\\d:\\d\\d\\d$").match(at("Time")).hasMatch());
    }
    QVERIFY(file.join('\n').contains("\tNA\t"));  // a run that survives

    // The side files beside the result file, by simulation and landscape number.
    std::set<std::string> expected = {"50%d.batch", "50%d.txt"};
    for (const char* kind : {"Distances", "Connectances", "Permeabilities"})
      for (int lan : {1, 2}) expected.insert(utile::Format("50%%d_%s_%d.dat", kind, lan));
    for (int sim = 0; sim < 6; ++sim) {
      const std::string s = "50%d_" + std::to_string(sim);
      for (const char* suffix : {"_Alpha_Juveniles", "_Alpha_Adults", "_LastDispEvents"})
        expected.insert(s + suffix + ".dat");
      for (const char* genome : {"_Nuclear001", "_XChr001"})
        for (const char* age : {"_Juveniles", "_Adults"}) {
          for (const char* output : {"_Fstat", "_GenePop", "_AllFreq"})
            expected.insert(s + genome + output + age + ".dat");
          for (const char* sex : {"_Females", "_Males"})
            expected.insert(s + genome + "_Fstat" + age + sex + ".dat");
        }
    }
    QCOMPARE(FolderFiles(), expected);
    // The matrix files are the landscape's matrices (the second one is in force).
    const std::string base = fRuns + "/50%d";
    utile::tMatrixOfDouble links;
    for (const auto& row : models::ConnectanceMat) links.emplace_back(row.begin(), row.end());
    for (const auto& [kind, matrix] : {std::pair{"Distances", models::DistanceMat},
                                       {"Permeabilities", models::FrictionMap},
                                       {"Connectances", links}}) {
      const utile::tMatrixOfDouble read = utile::MatLoadFromFile(base + "_" + kind + "_2.dat", false);
      QCOMPARE(read.size(), size_t(6));
      for (size_t i = 0; i < 6; ++i)
        for (size_t j = 0; j < 6; ++j)
          QVERIFY(std::abs(read[i][j] - matrix[i][j]) <= 1e-12 * (1 + matrix[i][j]));
    }
    QCOMPARE(utile::MatLoadFromFile(base + "_Distances_1.dat", false).size(), size_t(4));
    QCOMPARE(FileLines(base + "_0_Alpha_Adults.dat").size(), 5);  // the whole metapopulation and 4 patches

    // The genotype files pass the strict readers, with the row's counts.
    for (int sim = 0; sim < 6; ++sim) {
      const int n = sim < 3 ? 4 : 6;
      const QStringList row = file[sim < 3 ? 1 + sim : 2 + sim].split('\t');
      for (const char* genome : {"_Nuclear001", "_XChr001"})
        for (const auto& [age, total] : {std::pair{"_Juveniles", "Nj00"}, {"_Adults", "Na00"}}) {
          const std::string s = base + "_" + std::to_string(sim) + genome;
          const int individuals = row[Header(n, true).indexOf(total)].toInt();
          testsupport::tGenotypeFile whole, females, males, genepop;
          for (auto [suffix, read] : {std::pair{"", &whole}, {"_Females", &females}, {"_Males", &males}})
            QVERIFY(
                testsupport::ReadFstat(utile::LoadTextFromFile(s + "_Fstat" + age + suffix + ".dat"), *read));
          QVERIFY(whole.Populations == n && whole.Loci == 5 && whole.Alleles == 20);
          QVERIFY(int(whole.Genotypes.size()) == individuals &&
                  int(females.Genotypes.size() + males.Genotypes.size()) == individuals);
          QVERIFY(testsupport::ReadGenepop(utile::LoadTextFromFile(s + "_GenePop" + age + ".dat"), genepop));
          QCOMPARE(genepop.Loci, 5);
          QCOMPARE(std::accumulate(genepop.PerPopulation.begin(), genepop.PerPopulation.end(), 0),
                   individuals);
          QCOMPARE(FileLines(s + "_AllFreq" + age + ".dat").size(),
                   1 + 5 * 20 + 1);  // header, alleles, sizes
        }
    }
    // Not a check: the result file and one file of each genotype format for a standard reader.
    for (const auto& [from, to] : {std::pair{fRuns + "/50%d.txt", "/tmp/ibbatch-result.txt"},
                                   {base + "_5_Nuclear001_Fstat_Adults.dat", "/tmp/ibbatch-fstat.dat"},
                                   {base + "_5_Nuclear001_GenePop_Adults.dat", "/tmp/ibbatch-genepop.gen"}})
      std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing);

    // Appending continues after the largest SimID and landscape, under the same header.
    const QStringList appended = Run("50%d", {LandscapeLine(6), lines.back()}, tDialogResult::drAppend);
    QVERIFY(appended.size() == 9 && appended.mid(0, 8) == file);
    QCOMPARE(appended[8].split('\t').mid(0, 3), QStringList({"6", "2", "100"}));
    QVERIFY(utile::FileExists(base + "_Distances_3.dat") && utile::FileExists(base + "_6_Alpha_Adults.dat"));
  }

  void AppendingContinuesAfterNumbersBeyondThirtyTwoBits() {
    Check(fIB->ckSensDistanceMat, true);
    const std::vector<std::string> lines = {LandscapeLine(4), Line(Values("0.5", "0.25", "0.9"))};
    const QStringList first = Run("wide", lines);
    QCOMPARE(first.size(), 2);
    // The file as an edited one holds it: its row numbered beyond 32 bits.
    QStringList row = first[1].split('\t');
    row[0] = "4294967301";
    row[1] = "8589934593";
    utile::SaveTextToFile(fRuns + "/wide.txt", (first[0] + "\r\n" + row.join('\t') + "\r\n").toStdString());
    const QStringList appended = Run("wide", lines, tDialogResult::drAppend);
    QCOMPARE(appended.size(), 3);
    QCOMPARE(appended[2].split('\t').mid(0, 2), QStringList({"4294967302", "8589934594"}));
    QVERIFY(utile::FileExists(fRuns + "/wide_Distances_8589934595.dat"));
    QVERIFY(fDialogs->Messages.empty() && fIB->BatchErrors == 0);
  }

  void FailingLinesAreReportedAndTheBatchGoesOn() {
    // No capacity; ceiling reproduction under a juvenile weight of 1; 9 loci.
    const std::vector<std::string> lines = {Line(Values("0.5", "1", "0.9")), Line(Values("0.5", "0", "0.9")),
                                            Line(Values("0.5", "1", "0.9", "2", "1")),
                                            Line(Values("0.5", "1", "0.9", "2", "0", "9")),
                                            Line(Values("0.5", "1", "0.9"))};
    const QStringList file = Run("failing", lines);
    const auto sPar = [&](size_t k) {
      return QString::fromStdString(lines[k]).mid(11).chopped(1).replace(',', '\t') + '\t';
    };
    QCOMPARE(
        file.mid(2),
        QStringList({"****** Error at Individual initialisation for " + sPar(1) + " ************",
                     "****** Error at Life cycle initialisation for " + sPar(2) + " ************",
                     "****** Error in batch line 4: seNbLoci takes values from 1 to 8: \"9\" is outside that "
                     "range. ************",
                     file[5], "******* 3 errors encountered"}));
    QVERIFY(file[1].startsWith("0\tNA\tNA") && file[5].startsWith("1\tNA\t") && fIB->BatchErrors == 3);
    // The page says so too, beside its gauge at 100 % and "Idle".
    vandrel::tSensitivityPage* page = fIB->tsSensitivity;
    QVERIFY(!page->lblBatchErrors->isHidden());
    QCOMPARE(page->lblBatchErrors->text(), QString("******* 3 errors encountered"));
    QCOMPARE(fIB->ggBatchProgress->value(), 100);
    QCOMPARE(fIB->pnStatusBar->text(), QString("Idle"));
    const QString memo = fIB->mmOutput->toPlainText();
    for (const char* why :
         {"\"0\"", "juvenile regulation weight is set to 1", "seNbLoci takes values from 1 to 8"})
      QVERIFY2(memo.contains(why), why);
    // A refused line leaves every control as it was.
    fIB->seNbLoci->setValue(6);
    QCOMPARE(Run("refused", {Line(Values("0.3", "1", "0.9", "2", "0", "2", "300"))}).mid(1, 1),
             QStringList(
                 "****** Error in batch line 1: seNbAlleles takes values from 1 to 255: \"300\" is outside "
                 "that range. ************"));
    QVERIFY(fIB->seNbLoci->value() == 6 && fIB->edSexRatio->text() == "0.5");
  }

  void OptionsAndLinesChangeTheColumns() {
    // Only the X chromosome, its Genepop and allele frequencies; adults only.
    for (QCheckBox* box : {fIB->ckSensExtinctionTime, fIB->ckSensX, fIB->ckSensGenPop}) Check(box, true);
    Check(fIB->ckSensFstat, false);  // FSTAT or allele frequencies: the other comes on
    QVERIFY(fIB->ckSensAlleleFreq->isChecked());
    Check(fIB->ckSensAdults, false);  // one class at least
    QVERIFY(fIB->ckSensJuveniles->isChecked());
    Check(fIB->ckSensAdults, true);
    Check(fIB->ckSensJuveniles, false);
    // Sexuate, clonal (no sex ratios: a new header), a run that dies out at once.
    const QStringList file =
        Run("columns", {Line(Values("0.5", "1", "0.9")), Line(Values("0.5", "1", "0.9", "0")),
                        Line(Values("0.5", "1", "0", "0"))});
    QCOMPARE(file.size(), 5);
    QStringList tail = {"NbIndividuals", "SR01", "SR02", "SR03", "SR04", "Text",
                        "Na00",          "Na01", "Na02", "Na03", "Na04", "Time"};
    const int columns = Header(4, false).size() - 1;
    QCOMPARE(file[0].split('\t').mid(columns), tail);
    tail.erase(tail.begin() + 1, tail.begin() + 5);
    QCOMPARE(file[2].split('\t').mid(columns), tail);
    QCOMPARE(file[3].split('\t')[columns + 1], QString("NA"));
    QVERIFY(QRegularExpression("^\\d+$").match(file[4].split('\t')[columns + 1]).hasMatch());
    std::set<std::string> expected = {"columns.batch", "columns.txt"};
    for (int sim = 0; sim < 3; ++sim)
      for (const char* output : {"_GenePop", "_AllFreq"})
        expected.insert(utile::Format("columns_%d_XChr001%s_Adults.dat", sim, output));
    QCOMPARE(FolderFiles(), expected);
  }

  void PagesListTheSlotsAndMakeTheirLines() {
    vandrel::tSensitivityPage* page = fIB->tsSensitivity;
    QStringList captions;
    for (const auto* labels : {&page->lblLanParams(), &page->lblParams()})
      for (const QLabel* label : *labels) captions << label->text().chopped(1);
    QCOMPARE(captions, Header(4, false).mid(2, Header(4, false).size() - 3));
    // A double-click chooses file names.
    QLineEdit* landscapeFile = page->edLanParams()[12];
    fDialogs->FileNameLists.push_back({"/a/one.patch", "/a/two.patch"});
    QTest::mouseDClick(landscapeFile, Qt::LeftButton);
    QCOMPARE(landscapeFile->text(), QString("/a/one.patch,/a/two.patch"));
    landscapeFile->clear();
    // 1,2,3 for one list and 10 for another: three simulation lines after the landscape's,
    // the others at the controls' texts; two landscapes and two runs repeat them.
    const std::vector<QLineEdit*>& lists = page->edParams();
    lists[1]->setText("1,2,3");
    lists[29]->setText("10");  // Event3Param1, the survival
    page->btMakeBatchClick();
    std::vector<std::string> expected = {utile::Format("MakeLandscape(%d,%d,4,5,5,1,25,50,1.5,50,100,1,,)",
                                                       fMain->seWidth->value(), fMain->seHeight->value())};
    for (const char* ratio : {"1", "2", "3"})
      expected.push_back(Line(Values(ratio, "1", "10", "2", "0", "8", "15", "0.0")));
    QCOMPARE(page->BatchLines(), expected);
    page->seNbLandscapes->setValue(2);
    page->seNbRuns->setValue(2);
    page->btMakeBatchClick();
    const std::vector<std::string> twice = page->BatchLines();
    QCOMPARE(twice.size(), size_t(14));
    for (int k = 0; k < 14; ++k) QCOMPARE(twice[k], expected[k % 7 == 0 ? 0 : 1 + (k % 7 - 1) / 2]);

    // Apply keeps a typed list; a removed cell hides the pages until Apply.
    fIB->RemoveCell(fIB->fEventCells.Cell(2));  // the Survival cell
    for (QWidget* hidden : {static_cast<QWidget*>(page), fIB->tsABC})
      QVERIFY(!fIB->pcIBSimple->isTabVisible(fIB->pcIBSimple->indexOf(hidden)));
    fIB->btApply->click();
    QVERIFY(fIB->pcIBSimple->isTabVisible(fIB->pcIBSimple->indexOf(page)));
    QVERIFY(page->edParams().size() == 32 && page->edParams()[1]->text() == "1,2,3");
    QCOMPARE(page->lblParams()[29]->text(), QString("Event3Param1:"));  // the Dispersal cell now

    // The ABC page: uniform priors into the same memo, the same lines from the same seeds.
    const auto uniform = [&](QTableWidget* table, int row, const char* low, const char* high) {
      table->item(row, 1)->setCheckState(Qt::Checked);
      table->item(row, 3)->setText(low);
      table->item(row, 4)->setText(high);
    };
    QCOMPARE(fIB->sgABCParameters->item(22, 0)->text(), QString("NbLoci"));
    uniform(fIB->sgABCParameters, 1, "0.2", "0.8");
    uniform(fIB->sgABCParameters, 22, "2", "6");
    uniform(fIB->sgABCLandscape, 2, "3", "7");
    fIB->seABCSimulations->setValue(50);
    fIB->ckABCLandscapes->click();
    fIB->btMakeABCBatch->click();
    const std::vector<std::string> abc = page->BatchLines();
    QCOMPARE(abc.size(), size_t(100));
    std::set<std::string> patchCounts, loci;
    for (size_t k = 0; k < abc.size(); k += 2) {
      const auto landscape = vandrel::BatchLineValues(abc[k], vandrel::tBatchLineKind::blLandscape);
      const auto values = vandrel::BatchLineValues(abc[k + 1], vandrel::tBatchLineKind::blSimulation);
      QVERIFY(landscape.size() == 14 && values.size() == 32 && values[0] == "2");
      patchCounts.insert(landscape[2]);
      loci.insert(values[22]);
      QVERIFY(testsupport::PointNumber(values[1]) >= 0.2 && testsupport::PointNumber(values[1]) < 0.8);
    }
    QCOMPARE(patchCounts, std::set<std::string>({"3", "4", "5", "6", "7"}));
    QCOMPARE(loci, std::set<std::string>({"2", "3", "4", "5", "6"}));
    fIB->btAppendABCBatch->click();
    std::vector<std::string> both = abc;
    both.insert(both.end(), abc.begin(), abc.end());
    QCOMPARE(page->BatchLines(), both);
    fIB->sgABCParameters->item(22, 4)->setText("9");
    fIB->btMakeABCBatch->click();
    QCOMPARE(fDialogs->Messages.back(), std::string("The prior of NbLoci must lie within 1 to 8."));

    // Not a check: the pages a person looks at.
    fIB->show();
    QVERIFY(QTest::qWaitForWindowExposed(fIB));
    for (QWidget* shown : {static_cast<QWidget*>(page), fIB->tsABC, fIB->tsOutputOptions, fIB->tsOptions}) {
      fIB->pcIBSimple->setCurrentWidget(shown);
      QVERIFY(fIB->grab().save(QString("/tmp/ibbatch-%1.png").arg(shown->objectName())));
    }
  }

  void AbortStopsAfterTheCurrentLine() {
    const std::string line = Line(Values("0.5", "1", "0.9"));
    QVERIFY(!fIB->btAbortSensitivity->isEnabled());
    // Occupancy counts the adults above the window's extinction threshold.
    Check(fIB->ckSensOccupancy, true);
    fIB->seExtinctionThreshold->setValue(1000);
    // The abort comes while the first simulation lets messages through.
    QTimer::singleShot(0, fIB, [this] { fIB->btAbortSensitivity->click(); });
    const QStringList file = Run("abort", {line, line, line});
    QVERIFY(file.size() == 2 && file[1].startsWith("0\t") && !fIB->IsRunning());
    const int occupancy = file[0].split('\t').indexOf("O01");
    QCOMPARE(file[1].split('\t').mid(occupancy, 4), QStringList(4, "0"));
    // Without a statistic of the classes no batch runs.
    Check(fIB->ckSensAbundances, false);
    QVERIFY(!fIB->tsSensitivity->btRunBatch->isEnabled() && !fIB->btRunBatch->isEnabled());
    Check(fIB->ckSensTheta, true);
    QVERIFY(fIB->btRunBatch->isEnabled());
  }

  // LC_NUMERIC of a user whose decimal separator is the comma, as the window library
  // sets it from the environment: a row's sex ratios are the patches' own, and the
  // model saved afterwards holds the numbers the line gave, as under "C".
  void NumbersUnderACommaLocale() {
    const std::string fileName = fRuns + "/comma.model";
    std::string underComma;
    {
      const testsupport::tNumericLocale comma("fr_FR.UTF-8");
      QVERIFY2(comma.Active(), testsupport::tNumericLocale::Missing("fr_FR.UTF-8").c_str());
      const QStringList file =
          Run("comma", {Line(Values("0.45", "0.25", "0.9", "2", "0", "5", "20", "0.125"))});
      QVERIFY(file.size() == 2 && fIB->BatchErrors == 0);
      const QStringList header = file[0].split('\t'), row = file[1].split('\t');
      int between = 0;  // ratios strictly between 0 and 1
      for (int p = 0; p < 4; ++p) {
        const float ratio = fIB->Metapop->GetPatches(p)->SexRatio();
        // The shortest decimal that reads back as the patch's single.
        QString expected;
        for (int digits = 1; digits <= 9; ++digits) {
          expected = QString::number(double(ratio), 'g', digits);
          if (expected.toFloat() == ratio) break;
        }
        QCOMPARE(row[header.indexOf(QString("SR%1").arg(p + 1, 2, 10, QChar('0')))], expected);
        if (ratio > 0 && ratio < 1) ++between;
      }
      QVERIFY(between > 0);
      fDialogs->FileNames.push_back(fileName);
      fMain->mnSaveModel->trigger();
      underComma = utile::LoadTextFromFile(fileName);
    }
    const QStringList lines = QString::fromStdString(underComma).split("\r\n");
    QVERIFY(lines.size() > 13);
    QCOMPARE(lines[6], QString("0.45"));
    QCOMPARE(lines[12], QString("0.125\t").repeated(16));
    for (const char* survival : {"0.9", "1.5"}) QVERIFY(lines.mid(14).contains(survival));
    // Saved again under "C": the same file but for its date.
    fMain->mnSaveModel->trigger();
    QStringList again = QString::fromStdString(utile::LoadTextFromFile(fileName)).split("\r\n");
    again[1] = lines[1];
    QCOMPARE(again, lines);
  }
};

QTEST_MAIN(IBSimpleBatchTest)
#include "IBSimpleBatchTest.moc"
