// The batch pages and batch simulations of the individual-based workbench: a
// batch file loaded, run and read back with its side files, the failing lines,
// appending, the options that add or take away columns, the generated lines of
// both pages, and Abort.
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
#include <fstream>
#include <map>
#include <set>

#include "ScriptedDialogs.h"
#include "TestSupport/GenotypeFiles.h"
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
using testsupport::tScriptedDialogs;
using utile::gui::tDialogResult;
using vandrel::TdlgIBSimple;

namespace {

// The lines of a text file, which must all end with CR LF.
QStringList FileLines(const std::string& name) {
  const QString text = QString::fromStdString(utile::LoadTextFromFile(name));
  if (!text.endsWith("\r\n")) return {"(no CR LF at the end)"};
  QStringList lines = text.chopped(2).split("\r\n");
  return lines;
}

QStringList Fields(const QString& line) {
  return line.split('\t');
}

std::string Join(const std::vector<std::string>& values) {
  std::string text;
  for (const std::string& v : values) text += (text.empty() ? "" : ",") + v;
  return text;
}

// The window's own simulation values, as a batch line hands them out: mode, sex
// ratio, territory, selfing, juvenile weight, sixteen genes, mutation, loci,
// alleles, KAM, SSM, the two sampling probabilities.
std::vector<std::string> OwnValues(const std::string& mode, const std::string& sexRatio,
                                   const std::string& territory, const std::string& juvenileWeight,
                                   const std::string& loci, const std::string& alleles,
                                   const std::string& gene = "0") {
  std::vector<std::string> values = {mode, sexRatio, territory, "0", juvenileWeight};
  for (int k = 0; k < 16; ++k) values.push_back(gene);
  values.push_back("0");
  values.push_back(loci);
  values.push_back(alleles);
  for (const char* v : {"1e-5", "1e-4", "1000", "1000"}) values.push_back(v);
  return values;
}

// The cells' values of the cycle drawn below: tag, survival, dispersal survival
// and weighting, fecundity.
std::string SimulationLine(std::vector<std::string> own, const std::string& survival) {
  for (const std::string& v : {std::string("3"), survival, std::string("0.9"), std::string("1.5"),
                               std::string("3")})
    own.push_back(v);
  return "Simulation(" + Join(own) + ")";
}

// Width, height, patches, isolated area and distance, minimum and maximum area,
// share of large patches, distance threshold, connectance, mean distance,
// permeability value, landscape file, permeability map.
std::string LandscapeLine(int patches) {
  return utile::Format("MakeLandscape(100,100,%d,5,5,1,25,50,1.5,50,100,1,,)", patches);
}

const QStringList LandscapeHeader = {
    "SimID",         "Landscape",         "Width",      "Height",      "NbPatch",          "IsolatedPatchArea",
    "IsolatedPatchDistance", "MinArea",   "MaxArea",    "PropLargePatches", "DistanceThreshold", "Connectance",
    "SurvivalDistance", "FixedSurvival",  "LandscapeFile", "PermeabilityMap"};

QStringList ParameterHeader() {
  QStringList header = {"ReproductionMode", "SexRatio", "TerritoryArea", "Autofecondation", "JuvenileWeight"};
  for (int gene = 0; gene < 16; ++gene) header << QString("Gene%1").arg(gene);
  header << "MutationRate" << "NbLoci" << "NbAlleles" << "KAMrate" << "SSMrate" << "SamplingProbabilityJuvenile"
         << "SamplingProbabilityAdult"
         // Tagging is event 2, Survival 3, Dispersal 4, Aging 5, Reproduction 6, Death 7.
         << "Event2Param1" << "Event3Param1" << "Event4Param1" << "Event4Param2" << "Event6Param1";
  return header;
}

QStringList PatchNames(const char* prefix, int n, bool withTotal) {
  QStringList names;
  for (int i = withTotal ? 0 : 1; i <= n; ++i) names << QString("%1%2").arg(prefix).arg(i, 2, 10, QChar('0'));
  return names;
}

}  // namespace

class IBSimpleBatchTest : public QObject {
  Q_OBJECT

  vandrel::TdlgVandrel* fMain = nullptr;
  tScriptedDialogs* fDialogs = nullptr;
  TdlgIBSimple* fIB = nullptr;
  testsupport::tTempFolder* fFolder = nullptr;
  std::string fRuns;  // a folder whose name holds a dot

  tEventCell* NewCell(models::tLifeEventType type) {
    fIB->acNewEvent[type]->trigger();
    return fIB->fEventCells.SelectedCell();
  }
  void Type(const tEventCell* cell, int parameter, const char* text) {
    vandrel::tEventCellControls* controls = fIB->CellControls(cell);
    QLineEdit* edit = parameter == 1 ? controls->Param1 : controls->Param2;
    edit->clear();
    QTest::keyClicks(edit, text);
    QTest::keyClick(edit, Qt::Key_Return);
  }
  // Birth, Tagging 3, Survival 0.9, Dispersal (0.9, 1.5), Aging, Reproduction
  // (ceiling, 3) and a censused Death, each following the one drawn before.
  void DrawCycle() {
    Type(NewCell(models::leTag), 1, "3");
    Type(NewCell(models::leSurvival), 1, "0.9");
    tEventCell* dispersal = NewCell(models::leDispersal);
    Type(dispersal, 1, "0.9");
    Type(dispersal, 2, "1.5");
    NewCell(models::leGetOlder);
    tEventCell* reproduction = NewCell(models::leReproduction);
    Type(reproduction, 1, "3");
    fIB->CellControls(reproduction)->Param3->setCurrentIndex(models::rtCeiling);
    fIB->CellControls(NewCell(models::leDeath))->Param3->setCurrentIndex(models::dsCensused);
    fIB->btApply->click();
    QCOMPARE(fIB->mmLifeCycle->toPlainText(), QString("Life cycle correct."));
    QVERIFY(fIB->Ready());
  }
  void Check(QCheckBox* box, bool checked) {
    if (box->isChecked() != checked) box->click();
    QCOMPARE(box->isChecked(), checked);
  }
  std::string WriteBatchFile(const std::string& name, const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) text += line + "\r\n";
    const std::string file = fRuns + "/" + name;
    utile::SaveTextToFile(file, text);
    return file;
  }
  // Loads the batch through the page's button and runs it through "&Run batch".
  void LoadAndRun(const std::string& batchFile, const std::string& resultFile, tDialogResult answer) {
    vandrel::tSensitivityPage* page = fIB->tsSensitivity;
    QCOMPARE(page->btLoadBatch->text(), QString("&Load batch..."));
    fDialogs->FileNames.push_back(batchFile);
    page->btLoadBatch->click();
    page->edOutputFile->setText(QString::fromStdString(resultFile));
    if (utile::FileExists(resultFile)) fDialogs->FileExistsAnswers.push_back(answer);
    QVERIFY(page->btRunBatch->isEnabled() && page->btRunBatch->text() == "&Run batch");
    page->btRunBatch->click();
    QVERIFY(!fIB->IsRunning());
  }
  std::set<std::string> FolderFiles() const {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(fRuns))
      names.insert(entry.path().filename().string());
    return names;
  }

 private slots:
  void init() {
    vandrel::InstallMessagePump();
    fDialogs = &testsupport::InstallScriptedDialogs();
    models::ResetLandscape();
    fMain = new vandrel::TdlgVandrel;
    vandrel::dlgPatchData = new vandrel::TdlgPatchData(fMain);
    fMain->SetWorkbenchFactory(vandrel::tWorkbenchKind::wkIBSimple,
                               [](vandrel::TdlgVandrel* main) { return new TdlgIBSimple(main); });
    fMain->seMaxArea->setValue(25);
    fMain->seNbPatch->setValue(4);
    fMain->btMakeLandscapeClick();
    fIB = qobject_cast<TdlgIBSimple*>(fMain->NewModel(vandrel::tWorkbenchKind::wkIBSimple));
    QVERIFY(fIB);
    fIB->resize(1150, 720);
    fIB->seNbTimeSteps->setValue(30);
    fFolder = new testsupport::tTempFolder;
    fRuns = fFolder->File("runs.v2");
    std::filesystem::create_directory(fRuns);
  }
  void cleanup() {
    delete fMain;
    vandrel::dlgPatchData = nullptr;
    vandrel::SetDialogs(nullptr);
    delete fFolder;
  }

  void BatchFileRunWithItsResultAndSideFiles() {
    DrawCycle();
    for (QCheckBox* box : {fIB->ckSensJuveniles, fIB->ckSensAdults, fIB->ckSensAbundances, fIB->ckSensF,
                           fIB->ckSensTheta, fIB->ckSensAlpha, fIB->ckSensCapacities, fIB->ckSensOccupancy,
                           fIB->ckSensExtinctionTime, fIB->ckSensTags, fIB->ckSensDispersalEvents,
                           fIB->ckSensDistanceMat, fIB->ckSensConnectanceMat, fIB->ckSensPermeabilityMat,
                           fIB->ckSensNuclear, fIB->ckSensX, fIB->ckSensFstat, fIB->ckSensGenPop,
                           fIB->ckSensAlleleFreq, fIB->ckSensSeparateSexes})
      Check(box, true);
    // Two landscapes of 4 and 6 patches, three simulations on each.
    const std::vector<std::string> territories = {"0.25", "0.4", "0.3"};
    std::vector<std::string> lines;
    std::vector<std::vector<std::string>> given;  // the values of each simulation line
    for (const int patches : {4, 6}) {
      lines.push_back(LandscapeLine(patches));
      for (size_t k = 0; k < 3; ++k) {
        const std::vector<std::string> own = OwnValues("2", k == 1 ? "0.4" : "0.5", territories[k], "0", "5", "20");
        lines.push_back(SimulationLine(own, k == 2 ? "0.95" : "0.9"));
        given.push_back(own);
        for (const char* v : {"3", k == 2 ? "0.95" : "0.9", "0.9", "1.5", "3"}) given.back().push_back(v);
      }
    }
    lines.insert(lines.begin() + 1, "");  // blank and other lines are skipped
    lines.insert(lines.begin() + 1, "# six simulations");
    const std::string batch = WriteBatchFile("runs.batch", lines);
    // The result file is there already: the answer replaces it.
    const std::string result = fRuns + "/res%d_50%.txt";
    utile::SaveTextToFile(result, "old\r\n");
    LoadAndRun(batch, result, tDialogResult::drReplace);
    QCOMPARE(fDialogs->FileExistsMessages.back(), "\"" + result + "\" already exists.");
    QVERIFY2(fDialogs->Messages.empty(), fDialogs->Messages.empty() ? "" : fDialogs->Messages[0].c_str());
    QCOMPARE(fIB->BatchErrors, 0u);
    QCOMPARE(fIB->ggBatchProgress->value(), 100);

    // A header line for each patch count, its fields as the batch builds them.
    const QStringList file = FileLines(result);
    QCOMPARE(file.size(), 8);
    std::map<int, QStringList> headers;
    for (const int n : {4, 6}) {
      QStringList header = LandscapeHeader + ParameterHeader();
      header << "NbIndividuals" << PatchNames("K", n, false) << PatchNames("SR", n, false)
             << PatchNames("O", n, false) << "Text" << "Tag3";
      for (const char* c : {"j", "a"})
        header << PatchNames((QString("N") + c).toUtf8().constData(), n, true)
               << PatchNames((QString("F") + c).toUtf8().constData(), n, true)
               << PatchNames((QString("Theta") + c).toUtf8().constData(), n, true);
      header << "Time";
      headers[n] = header;
    }
    QCOMPARE(Fields(file[0]), headers[4]);
    QCOMPARE(Fields(file[4]), headers[6]);
    QCOMPARE(QString::fromStdString(fIB->mmOutput->toPlainText().toStdString()).count("SimID\t"), 2);

    const QStringList& pars = ParameterHeader();
    for (int sim = 0; sim < 6; ++sim) {
      const int n = sim < 3 ? 4 : 6;
      const QStringList& header = headers[n];
      const QStringList row = Fields(file[sim < 3 ? 1 + sim : 2 + sim]);
      QCOMPARE(row.size(), header.size());
      const auto at = [&](const QString& name) { return row[header.indexOf(name)]; };
      QCOMPARE(at("SimID"), QString::number(sim));
      QCOMPARE(at("Landscape"), QString::number(sim / 3));
      // The landscape and parameter columns hold the lines' values.
      const QStringList landscape =
          QString::fromStdString(LandscapeLine(n)).mid(14).chopped(1).split(',', Qt::KeepEmptyParts);
      for (int i = 0; i < landscape.size(); ++i) QCOMPARE(row[2 + i], landscape[i]);
      for (int i = 0; i < pars.size(); ++i) QCOMPARE(at(pars[i]), QString::fromStdString(given[sim][i]));
      // Fixed areas of 25: K = Round(25 / territory), halves to even (62.5 gives 62).
      const double territory = at("TerritoryArea").toDouble();
      const int capacity = static_cast<int>(std::nearbyint(25 / territory));
      QCOMPARE(capacity, sim % 3 == 0 ? 100 : sim % 3 == 1 ? 62 : 83);
      int juveniles = 0, adults = 0;
      for (int p = 1; p <= n; ++p) {
        const QString id = QString("%1").arg(p, 2, 10, QChar('0'));
        QCOMPARE(at("K" + id), QString::number(capacity));
        for (const char* share : {"SR", "O"}) {
          bool ok = false;
          const double v = at(share + id).toDouble(&ok);
          QVERIFY2(ok && v >= 0 && v <= 1, qPrintable(share + id + "=" + at(share + id)));
        }
        juveniles += at("Nj" + id).toInt();
        adults += at("Na" + id).toInt();
        for (const char* statistic : {"Fj", "Thetaj", "Fa", "Thetaa"}) {
          bool ok = false;
          const double v = at(statistic + id).toDouble(&ok);
          QVERIFY2(ok && (v == -1 || (v >= 0 && v <= 1)), qPrintable(statistic + id + "=" + at(statistic + id)));
        }
      }
      QCOMPARE(at("Nj00").toInt(), juveniles);
      QCOMPARE(at("Na00").toInt(), adults);
      QVERIFY(adults > 0);
      QVERIFY(at("Text") == "NA" || QRegularExpression("^\\d+$").match(at("Text")).hasMatch());
      QVERIFY(at("NbIndividuals").toInt() > at("Na00").toInt());
      QVERIFY(QRegularExpression("^\\d+$").match(at("Tag3")).hasMatch());
      QVERIFY(QRegularExpression("^\\d+ D \\d\\d:\\d\\d:\\d\\d:\\d\\d\\d$").match(at("Time")).hasMatch());
    }

    // The side files carry the simulation and landscape numbers, beside the result file.
    const std::string base = "res%d_50%";
    std::set<std::string> expected = {"runs.batch", "res%d_50%.txt"};
    for (const char* kind : {"Distances", "Connectances", "Permeabilities"})
      for (int lan : {1, 2}) expected.insert(utile::Format("%s_%s_%d.dat", base, kind, lan));
    for (int sim = 0; sim < 6; ++sim) {
      const std::string s = base + "_" + std::to_string(sim);
      for (const char* suffix : {"_Alpha_Juveniles", "_Alpha_Adults", "_LastDispEvents"})
        expected.insert(s + suffix + ".dat");
      for (const char* genome : {"_Nuclear001", "_XChr001"})
        for (const char* ageClass : {"_Juveniles", "_Adults"}) {
          for (const char* output : {"_Fstat", "_GenePop", "_AllFreq"})
            expected.insert(s + genome + output + ageClass + ".dat");
          for (const char* sex : {"_Females", "_Males"}) expected.insert(s + genome + "_Fstat" + ageClass + sex + ".dat");
        }
    }
    QCOMPARE(FolderFiles(), expected);

    // The matrix files of the second landscape are its matrices; the first had four patches.
    const std::string folder = fRuns + "/" + base;
    const auto near = [](const utile::tMatrixOfDouble& a, const utile::tMatrixOfDouble& b) {
      if (a.size() != b.size()) return false;
      for (size_t i = 0; i < a.size(); ++i)
        for (size_t j = 0; j < a[i].size(); ++j)
          if (b[i].size() != a[i].size() || std::abs(a[i][j] - b[i][j]) > 1e-12 * (1 + std::abs(b[i][j])))
            return false;
      return true;
    };
    utile::tMatrixOfDouble links;
    for (const auto& row : models::ConnectanceMat) {
      links.emplace_back();
      for (bool link : row) links.back().push_back(link ? 1 : 0);
    }
    QVERIFY(near(utile::MatLoadFromFile(folder + "_Distances_2.dat", false), models::DistanceMat));
    QVERIFY(near(utile::MatLoadFromFile(folder + "_Permeabilities_2.dat", false), models::FrictionMap));
    QVERIFY(near(utile::MatLoadFromFile(folder + "_Connectances_2.dat", false), links));
    QCOMPARE(utile::MatLoadFromFile(folder + "_Distances_1.dat", false).size(), size_t(4));
    // The alpha matrix has a row and a column for the whole metapopulation.
    QCOMPARE(FileLines(folder + "_0_Alpha_Adults.dat").size(), 5);
    QCOMPARE(FileLines(folder + "_5_LastDispEvents.dat").size(), 6);

    // The genotype files pass the strict readers with the counts of the rows.
    for (int sim = 0; sim < 6; ++sim) {
      const int n = sim < 3 ? 4 : 6;
      const QStringList row = Fields(file[sim < 3 ? 1 + sim : 2 + sim]);
      const QStringList& header = headers[n];
      for (const char* genome : {"_Nuclear001", "_XChr001"})
        for (const auto& [ageClass, total] : {std::pair{"_Juveniles", "Nj00"}, std::pair{"_Adults", "Na00"}}) {
          const std::string s = folder + "_" + std::to_string(sim) + genome;
          const int individuals = row[header.indexOf(total)].toInt();
          testsupport::tGenotypeFile fstat, females, males, genepop;
          QVERIFY(testsupport::ReadFstat(utile::LoadTextFromFile(s + "_Fstat" + ageClass + ".dat"), fstat));
          QVERIFY(testsupport::ReadFstat(utile::LoadTextFromFile(s + "_Fstat" + ageClass + "_Females.dat"), females));
          QVERIFY(testsupport::ReadFstat(utile::LoadTextFromFile(s + "_Fstat" + ageClass + "_Males.dat"), males));
          QVERIFY(fstat.Populations == n && fstat.Loci == 5 && fstat.Alleles == 20);
          QCOMPARE(int(fstat.Genotypes.size()), individuals);
          QCOMPARE(int(females.Genotypes.size() + males.Genotypes.size()), individuals);
          QVERIFY(testsupport::ReadGenepop(utile::LoadTextFromFile(s + "_GenePop" + ageClass + ".dat"), genepop));
          QCOMPARE(genepop.Loci, 5);
          int sampled = 0;
          for (int count : genepop.PerPopulation) sampled += count;
          QCOMPARE(sampled, individuals);
          // Allele frequencies: a header, 5 x 20 locus-allele rows and the sample sizes.
          const QStringList frequencies = FileLines(s + "_AllFreq" + ageClass + ".dat");
          QCOMPARE(frequencies.size(), 1 + 100 + 1);
          QCOMPARE(Fields(frequencies[0]).size(), 1 + n);
        }
    }
    // Not a check: the result file and one file of each genotype format for a
    // standard population-genetics reader.
    std::filesystem::copy_file(result, "/tmp/ibbatch-result.txt", std::filesystem::copy_options::overwrite_existing);
    std::filesystem::copy_file(folder + "_5_Nuclear001_Fstat_Adults.dat", "/tmp/ibbatch-fstat.dat",
                               std::filesystem::copy_options::overwrite_existing);
    std::filesystem::copy_file(folder + "_5_Nuclear001_GenePop_Adults.dat", "/tmp/ibbatch-genepop.gen",
                               std::filesystem::copy_options::overwrite_existing);

    // Appending continues after the largest SimID and landscape, under the same header.
    LoadAndRun(WriteBatchFile("again.batch", {LandscapeLine(6), lines.back()}), result, tDialogResult::drAppend);
    const QStringList appended = FileLines(result);
    QCOMPARE(appended.mid(0, 8), file);
    QCOMPARE(appended.size(), 9);
    QCOMPARE(Fields(appended[8]).mid(0, 3), QStringList({"6", "2", "100"}));
    QVERIFY(utile::FileExists(folder + "_Distances_3.dat") && utile::FileExists(folder + "_6_Alpha_Adults.dat"));
  }

  void FailingLinesAreReportedAndTheBatchGoesOn() {
    DrawCycle();
    Check(fIB->ckSensCapacities, true);
    const std::string good = SimulationLine(OwnValues("2", "0.5", "2", "0", "5", "20"), "0.9");
    const std::vector<std::string> lines = {
        good,
        SimulationLine(OwnValues("2", "0.5", "0", "0", "5", "20"), "0.9"),  // no capacity
        good,
        SimulationLine(OwnValues("2", "0.5", "2", "1", "5", "20"), "0.9"),  // ceiling reproduction, weight 1
        SimulationLine(OwnValues("2", "0.5", "2", "0", "9", "20"), "0.9"),  // 9 loci
        good};
    const std::string result = fRuns + "/failing.txt";
    fIB->seNbLoci->setValue(6);
    LoadAndRun(WriteBatchFile("failing.batch", lines), result, tDialogResult::drCancel);
    const QStringList file = FileLines(result);
    QCOMPARE(file.size(), 8);
    const auto sPar = [&](size_t line) {
      std::string values = lines[line].substr(11, lines[line].size() - 12);
      return QString::fromStdString(utile::Replace(values, ",", "\t") + "\t");
    };
    QCOMPARE(Fields(file[1])[0], QString("0"));
    QCOMPARE(file[2], "****** Error at Individual initialisation for " + sPar(1) + " ************");
    QCOMPARE(Fields(file[3])[0], QString("1"));
    QCOMPARE(file[4], "****** Error at Life cycle initialisation for " + sPar(3) + " ************");
    QCOMPARE(file[5], QString("****** Error in batch line 5: seNbLoci takes values from 1 to 8: \"9\" is outside "
                              "that range. ************"));
    QCOMPARE(Fields(file[6])[0], QString("2"));
    QCOMPARE(file[7], QString("******* 3 errors encountered"));
    QCOMPARE(fIB->BatchErrors, 3u);
    // Rows before any landscape line have no landscape values.
    QCOMPARE(Fields(file[1]).mid(1, 15), QStringList(15, "NA"));
    // The memo shows why each line failed.
    const QString memo = fIB->mmOutput->toPlainText();
    QVERIFY(memo.contains("\"0\""));
    QVERIFY(memo.contains("Life cycle incorrect"));
    QVERIFY(memo.contains("juvenile regulation weight is set to 1"));
    QVERIFY(memo.contains("seNbLoci takes values from 1 to 8"));
    // A refused line leaves every control as it was.
    fIB->seNbLoci->setValue(6);
    const QString sexRatio = fIB->edSexRatio->text();
    LoadAndRun(WriteBatchFile("refused.batch",
                              {SimulationLine(OwnValues("2", "0.3", "2", "0", "2", "300"), "0.9")}),
               fRuns + "/refused.txt", tDialogResult::drCancel);
    QCOMPARE(FileLines(fRuns + "/refused.txt").mid(1),
             QStringList({"****** Error in batch line 1: seNbAlleles takes values from 1 to 255: \"300\" is "
                          "outside that range. ************",
                          "******* 1 errors encountered"}));
    QVERIFY(fIB->seNbLoci->value() == 6 && fIB->edSexRatio->text() == sexRatio);
  }

  void OptionsAndLinesChangeTheColumns() {
    DrawCycle();
    // Only the X chromosome among the genomes; no statistic of the pedigree.
    for (QCheckBox* box : {fIB->ckSensExtinctionTime, fIB->ckSensX, fIB->ckSensGenPop}) Check(box, true);
    // FSTAT or allele frequencies at least: unchecking the one checks the other.
    Check(fIB->ckSensFstat, false);
    QVERIFY(fIB->ckSensAlleleFreq->isChecked());
    Check(fIB->ckSensAlleleFreq, false);
    QVERIFY(fIB->ckSensFstat->isChecked());
    Check(fIB->ckSensFstat, false);
    QVERIFY(!fIB->ckSensFstat->isChecked() && fIB->ckSensAlleleFreq->isChecked());
    Check(fIB->ckSensAdults, false);  // one class at least
    QVERIFY(fIB->ckSensJuveniles->isChecked());
    Check(fIB->ckSensAdults, true);
    Check(fIB->ckSensJuveniles, false);
    // Sexuate, then clonal (no SR columns), then a run that dies out at once.
    const std::string result = fRuns + "/columns.txt";
    LoadAndRun(WriteBatchFile("columns.batch",
                              {SimulationLine(OwnValues("2", "0.5", "2", "0", "5", "20"), "0.9"),
                               SimulationLine(OwnValues("0", "0.5", "2", "0", "5", "20"), "0.9"),
                               SimulationLine(OwnValues("0", "0.5", "2", "0", "5", "20"), "0")}),
               result, tDialogResult::drCancel);
    const QStringList file = FileLines(result);
    QCOMPARE(file.size(), 5);
    QStringList tail = {"NbIndividuals", "SR01", "SR02", "SR03", "SR04", "Text", "Na00", "Na01", "Na02", "Na03",
                        "Na04", "Time"};
    QCOMPARE(Fields(file[0]).mid(LandscapeHeader.size() + ParameterHeader().size()), tail);
    tail.erase(tail.begin() + 1, tail.begin() + 5);
    QCOMPARE(Fields(file[2]).mid(LandscapeHeader.size() + ParameterHeader().size()), tail);
    const QStringList survived = Fields(file[3]), extinct = Fields(file[4]);
    QCOMPARE(survived.size(), Fields(file[2]).size());
    const int text = Fields(file[2]).indexOf("Text");
    QCOMPARE(survived[text], QString("NA"));
    QVERIFY(QRegularExpression("^\\d+$").match(extinct[text]).hasMatch());
    std::set<std::string> expected = {"columns.batch", "columns.txt"};
    for (int sim = 0; sim < 3; ++sim)
      for (const char* output : {"_GenePop", "_AllFreq"})
        expected.insert(utile::Format("columns_%d_XChr001%s_Adults.dat", sim, output));
    QCOMPARE(FolderFiles(), expected);
  }

  void PagesListTheSlotsAndMakeTheirLines() {
    DrawCycle();
    vandrel::tSensitivityPage* page = fIB->tsSensitivity;
    QStringList captions;
    for (const QLabel* label : page->lblLanParams()) captions << label->text().chopped(1);
    QCOMPARE(captions, LandscapeHeader.mid(2));
    captions.clear();
    for (const QLabel* label : page->lblParams()) captions << label->text().chopped(1);
    QCOMPARE(captions, ParameterHeader());
    // The lists start with the controls' texts; a double-click chooses file names.
    const std::vector<QLineEdit*>& lists = page->edParams();
    QCOMPARE(lists[0]->text(), QString("2"));
    QCOMPARE(lists[ParameterHeader().indexOf("Event3Param1")]->text(), QString("0.9"));
    QLineEdit* landscapeFile = page->edLanParams()[12];
    fDialogs->FileNameLists.push_back({"/a/one.patch", "/a/two.patch"});
    QTest::mouseDClick(landscapeFile, Qt::LeftButton);
    QCOMPARE(landscapeFile->text(), QString("/a/one.patch,/a/two.patch"));
    landscapeFile->clear();

    // One list 1,2,3, one 10: three simulation lines after the landscape line,
    // the other slots at their texts; two landscapes and two runs repeat them.
    const int sexRatio = ParameterHeader().indexOf("SexRatio"), survival = ParameterHeader().indexOf("Event3Param1");
    lists[sexRatio]->setText("1,2,3");
    lists[survival]->setText("10");
    page->btMakeBatchClick();
    std::vector<std::string> batch = page->BatchLines();
    QCOMPARE(batch.size(), size_t(4));
    QCOMPARE(batch[0], utile::Format("MakeLandscape(%d,%d,4,5,5,1,25,50,1.5,50,100,1,,)", fMain->seWidth->value(),
                                     fMain->seHeight->value()));
    for (int k = 0; k < 3; ++k) {
      std::vector<std::string> own = OwnValues("2", std::to_string(k + 1), "1", "0", "8", "15", "0.0");
      QCOMPARE(batch[1 + k], SimulationLine(own, "10"));
    }
    page->seNbLandscapes->setValue(2);
    page->seNbRuns->setValue(2);
    page->btMakeBatchClick();
    const std::vector<std::string> twice = page->BatchLines();
    QCOMPARE(twice.size(), size_t(14));
    for (int copy = 0; copy < 2; ++copy) {
      QCOMPARE(twice[7 * copy], batch[0]);
      for (int k = 0; k < 3; ++k) {
        QCOMPARE(twice[7 * copy + 1 + 2 * k], batch[1 + k]);
        QCOMPARE(twice[7 * copy + 2 + 2 * k], batch[1 + k]);
      }
    }

    // Apply keeps a list the user typed; after a cell is removed the pages hide until Apply.
    fIB->btApply->setEnabled(true);
    fIB->btApply->click();
    QCOMPARE(page->edParams()[size_t(sexRatio)]->text(), QString("1,2,3"));
    fIB->RemoveCell(fIB->fEventCells.Cell(2));  // the Survival cell
    QVERIFY(!fIB->pcIBSimple->isTabVisible(fIB->pcIBSimple->indexOf(page)));
    QVERIFY(!fIB->pcIBSimple->isTabVisible(fIB->pcIBSimple->indexOf(fIB->tsABC)));
    fIB->btApply->click();
    QVERIFY(fIB->pcIBSimple->isTabVisible(fIB->pcIBSimple->indexOf(page)));
    QCOMPARE(int(page->edParams().size()), ParameterHeader().size() - 1);
    QCOMPARE(page->lblParams()[size_t(survival)]->text(), QString("Event3Param1:"));  // the Dispersal cell now
    QCOMPARE(fIB->sgABCParameters->rowCount(), ParameterHeader().size() - 1);

    // The ABC page: a fixed value or a uniform prior per slot, into the same memo.
    QTableWidget* priors = fIB->sgABCParameters;
    const auto uniform = [&](QTableWidget* table, int row, const char* low, const char* high) {
      table->item(row, 1)->setCheckState(Qt::Checked);
      table->item(row, 3)->setText(low);
      table->item(row, 4)->setText(high);
    };
    const int loci = ParameterHeader().indexOf("NbLoci");
    QCOMPARE(priors->item(loci, 0)->text(), QString("NbLoci"));
    uniform(priors, sexRatio, "0.2", "0.8");
    uniform(priors, loci, "2", "6");
    uniform(fIB->sgABCLandscape, 2, "3", "7");  // NbPatch
    fIB->seABCSimulations->setValue(50);
    fIB->ckABCLandscapes->click();
    QVERIFY(fIB->ABCLandscapes);
    fIB->btMakeABCBatch->click();
    const std::vector<std::string> abc = page->BatchLines();
    QCOMPARE(abc.size(), size_t(100));
    std::set<int> patchCounts, lociDrawn;
    for (size_t k = 0; k < abc.size(); k += 2) {
      const std::vector<std::string> landscape = vandrel::BatchLineValues(abc[k], vandrel::tBatchLineKind::blLandscape);
      const std::vector<std::string> values = vandrel::BatchLineValues(abc[k + 1], vandrel::tBatchLineKind::blSimulation);
      QCOMPARE(landscape.size(), size_t(14));
      QCOMPARE(int(values.size()), ParameterHeader().size() - 1);
      patchCounts.insert(std::stoi(landscape[2]));
      lociDrawn.insert(std::stoi(values[size_t(loci)]));
      const double ratio = std::stod(values[size_t(sexRatio)]);
      QVERIFY(ratio >= 0.2 && ratio < 0.8);
      QCOMPARE(values[0], std::string("2"));
    }
    QCOMPARE(patchCounts, std::set<int>({3, 4, 5, 6, 7}));
    QCOMPARE(lociDrawn, std::set<int>({2, 3, 4, 5, 6}));
    fIB->btAppendABCBatch->click();
    const std::vector<std::string> both = page->BatchLines();
    QCOMPARE(both.size(), size_t(200));
    QVERIFY(std::equal(abc.begin(), abc.end(), both.begin()) && std::equal(abc.begin(), abc.end(), both.begin() + 100));
    // A bad prior is refused by name; the memo stays.
    priors->item(loci, 4)->setText("9");
    fIB->btMakeABCBatch->click();
    QCOMPARE(fDialogs->Messages.back(), std::string("The prior of NbLoci must lie within 1 to 8."));
    QCOMPARE(page->BatchLines().size(), size_t(200));

    // Not a check: the pages a person looks at.
    fIB->show();
    QVERIFY(QTest::qWaitForWindowExposed(fIB));
    for (QWidget* shown : {static_cast<QWidget*>(page), fIB->tsABC, fIB->tsOutputOptions, fIB->tsOptions}) {
      fIB->pcIBSimple->setCurrentWidget(shown);
      QApplication::processEvents();
      QVERIFY(fIB->grab().save(QString("/tmp/ibbatch-%1.png").arg(shown->objectName())));
    }
  }

  void AbortStopsAfterTheCurrentLine() {
    DrawCycle();
    const std::string line = SimulationLine(OwnValues("2", "0.5", "2", "0", "5", "20"), "0.9");
    const std::string batch = WriteBatchFile("abort.batch", {line, line, line});
    QVERIFY(!fIB->btAbortSensitivity->isEnabled());
    // The abort comes in while the first simulation lets messages through.
    QTimer::singleShot(0, fIB, [this] {
      QVERIFY(fIB->IsRunning() && fIB->btAbortSensitivity->isEnabled());
      fIB->btAbortSensitivity->click();
    });
    const std::string result = fRuns + "/abort.txt";
    LoadAndRun(batch, result, tDialogResult::drCancel);
    const QStringList file = FileLines(result);
    QCOMPARE(file.size(), 2);
    QCOMPARE(Fields(file[1])[0], QString("0"));
    QVERIFY(!fIB->IsRunning() && fIB->tsSensitivity->btRunBatch->isEnabled());
    // Without a statistic of the classes the batch cannot run.
    Check(fIB->ckSensAbundances, false);
    QVERIFY(!fIB->tsSensitivity->btRunBatch->isEnabled() && !fIB->btRunBatch->isEnabled());
    Check(fIB->ckSensTheta, true);
    QVERIFY(fIB->btRunBatch->isEnabled());
  }
};

QTEST_MAIN(IBSimpleBatchTest)
#include "IBSimpleBatchTest.moc"
