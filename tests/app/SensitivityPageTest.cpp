// The shared sensitivity page: the batch generator, the value lists built from
// a workbench's controls, and the batch memo's commands.
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QtTest>

#include "ScriptedDialogs.h"
#include "TestSupport/StatisticalChecks.h"
#include "TestWorkbench.h"
#include "Utile/RunTime.h"
#include "app/SensitivityPage.h"
#include "app/WindowServices.h"
#include "app/dlgVandrelU.h"

using testsupport::tScriptedDialogs;
using testsupport::tTestWorkbench;
using vandrel::tSensitivityPage;
using Lists = std::vector<utile::tVectorOfString>;
using Lines = std::vector<std::string>;

class SensitivityPageTest : public QObject {
  Q_OBJECT

  vandrel::TdlgVandrel* fMain = nullptr;
  tTestWorkbench* fBench = nullptr;
  tScriptedDialogs* fDialogs = nullptr;
  tSensitivityPage* fPage = nullptr;

 private slots:
  void init() {
    vandrel::InstallMessagePump();
    fDialogs = &testsupport::InstallScriptedDialogs();
    fMain = new vandrel::TdlgVandrel;
    fBench = new tTestWorkbench(fMain);
    fMain->AddNewModel(fBench);
    fPage = new tSensitivityPage(fBench, {}, fBench);
    fPage->show();
  }
  void cleanup() {
    delete fMain;
    vandrel::SetDialogs(nullptr);
  }

  void BatchCombinesTheListsLastFastest() {
    struct tCase {
      const char* name;
      Lists landscape, model;
      int copies, runs;
      Lines expected;
    };
    const std::vector<tCase> cases = {
        {"two model lists",
         {{"7"}},
         {{"1", "2", "3"}, {"4", "5"}},
         1,
         1,
         {"MakeLandscape(7)", "Simulation(1,4)", "Simulation(1,5)", "Simulation(2,4)", "Simulation(2,5)",
          "Simulation(3,4)", "Simulation(3,5)"}},
        {"landscape copies",
         {{"1", "2"}, {"3"}},
         {{"5", "6"}},
         2,
         1,
         {"MakeLandscape(1,3)", "Simulation(5)", "Simulation(6)", "MakeLandscape(1,3)", "Simulation(5)",
          "Simulation(6)", "MakeLandscape(2,3)", "Simulation(5)", "Simulation(6)", "MakeLandscape(2,3)",
          "Simulation(5)", "Simulation(6)"}},
        {"runs repeat each line",
         {{"a", "b"}},
         {{"x", "y"}},
         1,
         2,
         {"MakeLandscape(a)", "Simulation(x)", "Simulation(x)", "Simulation(y)", "Simulation(y)",
          "MakeLandscape(b)", "Simulation(x)", "Simulation(x)", "Simulation(y)", "Simulation(y)"}},
        {"one value per list",
         {},
         {{"1", "2", "3"}, {"10"}},
         1,
         1,
         {"MakeLandscape)", "Simulation(1,10)", "Simulation(2,10)", "Simulation(3,10)"}},
        {"no lists", {}, {}, 1, 1, {"MakeLandscape)", "Simulation)"}},
        {"values as written",
         {{"Data/A.patch", ""}},
         {{"0.5"}},
         1,
         1,
         {"MakeLandscape(Data/A.patch)", "Simulation(0.5)", "MakeLandscape()", "Simulation(0.5)"}},
    };
    for (const tCase& c : cases)
      QVERIFY2(vandrel::MakeBatch(c.landscape, c.model, c.copies, c.runs) == c.expected, c.name);
  }

  void BatchTooLargeIsRefused() {
    const utile::tVectorOfString ten = {"0", "1", "2", "3", "4", "5", "6", "7", "8", "9"};
    QVERIFY_THROWS_EXCEPTION(utile::EConvertError,
                             vandrel::MakeBatch({ten, ten, ten}, {ten, ten, ten, ten}, 1, 1));
    QCOMPARE(vandrel::MakeBatch({ten}, {ten, ten}, 1, 1).size(), size_t(10 * (1 + 100)));
  }

  void ListsStandForTheGivenControlsInOrder() {
    auto entries = vandrel::TaggedEntries(fBench->TaggedComponents, 1);
    QCOMPARE(entries.size(), size_t(4));
    fBench->edA->setToolTip("hint of A");
    fBench->seB->setValue(12);
    fBench->cbC->setCurrentIndex(2);
    entries = vandrel::TaggedEntries(fBench->TaggedComponents, 1,
                                     [](const QWidget* w) { return vandrel::IsEditControl(w); });
    entries[1].FilterKeys = false;
    vandrel::tSensitivityEntry combo;
    combo.Component = fBench->cbC;
    combo.Caption = vandrel::TypePrefixCaption(fBench->cbC);
    entries.push_back(combo);
    fPage->BuildSensitivityPage(vandrel::TaggedEntries(fMain->TaggedComponents, 1), entries);

    QStringList captions, texts, hints;
    for (size_t i = 0; i < fPage->edParams().size(); ++i) {
      captions << fPage->lblParams()[i]->text();
      texts << fPage->edParams()[i]->text();
      hints << fPage->lblParams()[i]->toolTip();
    }
    QCOMPARE(captions, QStringList({"A:", "B:", "C:"}));
    QCOMPARE(texts, QStringList({"start", "12", "2"}));
    QCOMPARE(hints, QStringList({"hint of A", "", ""}));
    QCOMPARE(fPage->edParams()[0]->toolTip(), QString("List of values, separated by \",\""));

    QStringList landscape;
    for (QLabel* label : fPage->lblLanParams()) landscape << label->text();
    QCOMPARE(landscape,
             QStringList({"Width:", "Height:", "NbPatch:", "IsolatedPatchArea:", "IsolatedPatchDistance:",
                          "MinArea:", "MaxArea:", "PropLargePatches:", "DistanceThreshold:", "Connectance:",
                          "SurvivalDistance:", "FixedSurvival:"}));
    QCOMPARE(vandrel::NameCaption(fMain->seNbPatch, "Nb"), std::string("sePatch:"));

    // Typing is filtered where asked for; a rebuild replaces the lists.
    QLineEdit* filtered = fPage->edParams()[0];
    filtered->clear();
    QTest::keyClicks(filtered, "1a, 2;x.5");
    QCOMPARE(filtered->text(), QString("1,2.5"));
    QLineEdit* free = fPage->edParams()[1];
    free->clear();
    QTest::keyClicks(free, "ab");
    QCOMPARE(free->text(), QString("ab"));
    fPage->BuildSensitivityPage({}, {entries[0]});
    QCOMPARE(fPage->edParams().size(), size_t(1));
    QCOMPARE(fPage->edLanParams().size(), size_t(0));
  }

  void MemoCommands() {
    fPage->BuildSensitivityPage({}, vandrel::TaggedEntries(fBench->TaggedComponents, 1, [](const QWidget* w) {
                                  return vandrel::IsEditControl(w);
                                }));
    QSignalSpy changed(fPage, &tSensitivityPage::BatchChanged);
    fPage->edParams()[0]->setText("1,2");
    fPage->edParams()[1]->setText("3");
    fPage->seNbRuns->setValue(1);
    fPage->btMakeBatch->click();
    const Lines first = {"MakeLandscape)", "Simulation(1,3)", "Simulation(2,3)"};
    QCOMPARE(fPage->BatchLines(), first);
    QCOMPARE(fPage->ParamList, (Lists{{"1", "2"}, {"3"}}));
    fPage->edParams()[0]->setText("9");
    fPage->btAppendToBatch->click();
    Lines both = first;
    both.insert(both.end(), {"MakeLandscape)", "Simulation(9,3)"});
    QCOMPARE(fPage->BatchLines(), both);
    QCOMPARE(changed.count(), 2);
    QCOMPARE(changed.last().at(0).toInt(), 5);

    // An empty list is refused, named, and the memo stays as it was.
    fPage->edParams()[1]->setText(" ");
    fPage->btMakeBatch->click();
    QCOMPARE(fPage->BatchLines(), both);
    QCOMPARE(fDialogs->Messages.back(),
             std::string("The value list \"B:\" of \"Model parameters\" is empty."));
    QCOMPARE(fPage->ParamList, (Lists{{"9"}, {"3"}}));

    // Saving writes CR LF lines; loading reads CR LF and LF alike.
    testsupport::tTempFolder folder;
    const std::string saved = folder.File("a.batch");
    fDialogs->FileNames = {saved};
    fPage->btSaveBatch->click();
    QCOMPARE(fDialogs->Titles.back(), std::string("Save batch file"));
    QCOMPARE(fDialogs->Filters.back(), std::string("Batch file (*.batch)|*.batch|All files (*.*)|*.*"));
    QCOMPARE(utile::LoadTextFromFile(saved),
             std::string("MakeLandscape)\r\nSimulation(1,3)\r\nSimulation(2,3)\r\nMakeLandscape)\r\n"
                         "Simulation(9,3)\r\n"));
    fPage->btClearBatch->click();
    QVERIFY(fPage->BatchLines().empty());
    QCOMPARE(changed.last().at(0).toInt(), 0);
    fDialogs->FileNames = {saved};
    fPage->btLoadBatch->click();
    QCOMPARE(fDialogs->Titles.back(), std::string("Select batch file"));
    QCOMPARE(fPage->BatchLines(), both);
    utile::SaveTextToFile(folder.File("lf.batch"), "Simulation(1)\n\nMakeLandscape(2)");
    fDialogs->FileNames = {folder.File("lf.batch")};
    fPage->btLoadBatch->click();
    QCOMPARE(fPage->BatchLines(), (Lines{"Simulation(1)", "", "MakeLandscape(2)"}));
    // A missing file is named and changes nothing; cancel changes nothing.
    fDialogs->FileNames = {folder.File("missing.batch")};
    fPage->btLoadBatch->click();
    QVERIFY(fDialogs->Messages.back().find("missing.batch") != std::string::npos);
    fDialogs->FileNames = {};
    fPage->btLoadBatch->click();
    QCOMPARE(fPage->BatchLines(), (Lines{"Simulation(1)", "", "MakeLandscape(2)"}));
  }

  void DoubleClickPicksFiles() {
    fPage->BuildSensitivityPage({}, vandrel::TaggedEntries(fBench->TaggedComponents, 1));
    fDialogs->FileNameLists = {{"/m/a.patch", "/m/b.patch"}};
    QTest::mouseDClick(fPage->edParams()[0], Qt::LeftButton);
    QCOMPARE(fPage->edParams()[0]->text(), QString("/m/a.patch,/m/b.patch"));
    QCOMPARE(fDialogs->Titles.back(), std::string("Select files"));
  }

  void StyleChangesCaptionsAndDefaults() {
    tSensitivityPage plain(fBench,
                           {.OutputFile = "MatrixModel.txt",
                            .FileButtonEllipsis = false,
                            .ButtonHints = false,
                            .CopiesHint = ""},
                           nullptr);
    QCOMPARE(plain.btLoadBatch->text(), QString("&Load batch"));
    QCOMPARE(plain.btRunBatch->toolTip(), QString());
    QCOMPARE(plain.edOutputFile->text(), QString("MatrixModel.txt"));
    QCOMPARE(fPage->btClearBatch->text(), QString("&Clear batch..."));
    QCOMPARE(fPage->btRunBatch->toolTip(), QString("Run this batch"));
    QCOMPARE(fPage->edOutputFile->text(), QString("BatchResults.txt"));
    QCOMPARE(fPage->seNbRuns->minimum(), 1);
    QCOMPARE(fPage->seNbLandscapes->maximum(), 10000000);
  }
};

QTEST_MAIN(SensitivityPageTest)
#include "SensitivityPageTest.moc"
