// The individual-based workbench: its pages and parameters, the life-cycle
// editor driven with the mouse, the check, Initialise, and its model files.
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDate>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLocale>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSlider>
#include <QSpinBox>
#include <QTabWidget>
#include <QTableWidget>
#include <QtTest>

#include "IBSimpleHarness.h"
#include "MainWindowHarness.h"
#include "ScriptedDialogs.h"
#include "TestSupport/ExceptionMessages.h"
#include "TestSupport/Grabs.h"
#include "TestSupport/StatisticalChecks.h"
#include "Utile/RunTime.h"
#include "app/WindowServices.h"
#include "app/dlgIBSimpleU.h"
#include "app/dlgPatchDataU.h"
#include "app/dlgVandrelU.h"
#include "models/MetapopCommon.h"

using models::tEventCell;
using testsupport::NewCell;
using testsupport::tScriptedDialogs;
using testsupport::TypeParameter;
using vandrel::TdlgIBSimple;
using vandrel::tWorkbenchKind;

namespace {

QString CaptionOf(QWidget* window, QWidget* control) {
  if (auto* edit = qobject_cast<vandrel::tLabeledEdit*>(control)) return edit->EditLabel->text();
  for (QLabel* label : window->findChildren<QLabel*>())
    if (label->buddy() == control) return label->text();
  return "(no caption)";
}

QString Today() {
  return QLocale::system().toString(QDate::currentDate(), QLocale::ShortFormat);
}

// Whether a date that a step wrote is today's, as it was when the step began or
// when it ended (a step may cross midnight).
bool WrittenToday(const QString& date, const QString& before, const QString& after) {
  return date == before || date == after;
}

std::string Lines(const QStringList& lines, const char* end = "\r\n") {
  std::string text;
  for (const QString& line : lines) text += line.toStdString() + end;
  return text;
}

}  // namespace

class IBSimpleTest : public QObject {
  Q_OBJECT

  vandrel::TdlgVandrel* fMain = nullptr;
  tScriptedDialogs* fDialogs = nullptr;
  TdlgIBSimple* fIB = nullptr;

  QWidget* Area() const { return fIB->pbLifeCycle; }

  TdlgIBSimple* NewWorkbench() {
    auto* bench = testsupport::OpenWorkbench<TdlgIBSimple>(fMain, tWorkbenchKind::wkIBSimple);
    if (bench) bench->resize(1150, 720);
    return bench;
  }

  // The mouse on the drawing area, in its own coordinates.
  void Drag(Qt::MouseButton button, QPoint from, QPoint to) {
    QTest::mousePress(Area(), button, {}, from);
    QTest::mouseMove(Area(), from + QPoint(2, 0));  // below the threshold
    QTest::mouseMove(Area(), to);
    QTest::mouseRelease(Area(), button, {}, to);
  }
  void Click(QPoint at, Qt::KeyboardModifiers modifiers = {}) {
    QTest::mouseClick(Area(), Qt::LeftButton, modifiers, at);
  }
  static QPoint Centre(const tEventCell* cell) { return {cell->X(), cell->Y()}; }
  tEventCell* Cell(int i) const { return fIB->fEventCells.Cell(i); }
  QStringList MemoLines() const { return testsupport::MemoLines(fIB->mmLifeCycle); }

  // Birth -> Aging -> Survival -> Random -> Reproduction -> Death, Random's
  // alternative also to Death; drawn with the actions and the mouse.
  void DrawSixCells() {
    NewCell(fIB, models::leGetOlder);
    NewCell(fIB, models::leSurvival);
    TypeParameter(fIB, Cell(2), 1, "0.9");
    NewCell(fIB, models::leRandom);
    TypeParameter(fIB, Cell(3), 1, "0.5");
    NewCell(fIB, models::leReproduction);
    TypeParameter(fIB, Cell(4), 1, "2");
    Click(Centre(Cell(3)));
    NewCell(fIB, models::leDeath);  // Random's alternative, half a cell lower
    Drag(Qt::LeftButton, Centre(Cell(5)), {380, 225});
    Drag(Qt::RightButton, Centre(Cell(4)), Centre(Cell(5)));
  }

 private slots:
  void init() {
    fMain = testsupport::OpenMainWindow(fDialogs);
    fIB = NewWorkbench();
    QVERIFY(fIB);
    QVERIFY(QTest::qWaitForWindowExposed(fIB));
  }
  void cleanup() {
    testsupport::CloseMainWindow(fMain);
  }

  void CreationShowsThePagesAndParameters() {
    QStringList pages;
    for (int i = 0; i < fIB->pcIBSimple->count(); ++i) pages << fIB->pcIBSimple->tabText(i);
    QCOMPARE(pages, QStringList({"Life cycle", "Spatial display", "Simulations", "Genetics", "Results",
                                 "Output options", "Options", "Sensitivity analysis", "ABC"}));
    QVERIFY(!fIB->pcIBSimple->isTabVisible(fIB->pcIBSimple->indexOf(fIB->tsGenetics)));
    QCOMPARE(fIB->pcIBSimple->currentWidget(), fIB->tsLifeCycle);
    QCOMPARE(fIB->windowTitle(), QString("Individual-based model 1 (v. 1.7.1.73)"));
    fIB->btApplyClick();  // the caption is the model file's name, none until it is saved
    QCOMPARE(fIB->windowTitle(), QString());

    struct tSpin {
      QSpinBox* Spin;
      const char* Caption;
      int Value, Minimum, Maximum, Step;
    };
    // clang-format off
    for (const tSpin& s : std::initializer_list<tSpin>{
             {fIB->seNbTimeSteps, "Number of &time steps:", 200, 1, 10000000, 10},
             {fIB->seExtinctionThreshold, "&Extinction threshold:", 0, 0, 1000, 100},
             {fIB->seTimeStepLength, "Time step &length:", 1, 1, 1000, 1},
             {fIB->seMaxIndividuals, "Max # of individuals:", 200000000, 100, 2147483646, 1000},
             {fIB->seExplosion, "Explosion size:", 40000, 100, 1000000, 1000},
             {fIB->seInitialAbundance, "(no caption)", 5, 1, 10000000, 1},
             {fIB->seSeed1, "Seed &1:", 10, 1, 1000000, 1},
             {fIB->seSeed2, "Seed &2:", 1, 1, 1000000, 1},
             {fIB->seNbLoci, "Number of &loci:", 8, 1, 8, 1},
             {fIB->seNbAlleles, "Number of &alleles:", 15, 1, 255, 1},
             {fIB->seSamplingProbabilityJuvenile, "Juvenile sampling probability [%o]:", 1000, 1, 1000, 5},
             {fIB->seSamplingProbabilityAdult, "Adult sampling probability [%o]:", 1000, 1, 1000, 5}}) {
      QCOMPARE(CaptionOf(fIB, s.Spin), QString(s.Caption));
      QVERIFY(s.Spin->value() == s.Value && s.Spin->minimum() == s.Minimum && s.Spin->maximum() == s.Maximum);
      QCOMPARE(s.Spin->singleStep(), s.Step);
    }
    struct tEdit { vandrel::tLabeledEdit* Edit; const char* Caption; const char* Text; };
    for (const tEdit& e : std::initializer_list<tEdit>{
             {fIB->edName, "&Species:", ""}, {fIB->edDate, "Date:", ""}, {fIB->edSexRatio, "&Sex ratio:", "0.5"},
             {fIB->edTerritoryArea, "&Territory area=", "1"}, {fIB->edAutofecondation, "&Selfing:", "0"},
             {fIB->edJuvenileWeight, "&Juv. regulation weight:", "0"},
             {fIB->edDispersalDistance, "&Mean dist. 1/alpha=", "10"},
             {fIB->edTestDispersalProb, "Dispersal prob.:", "0.2"},
             {fIB->edExpImmigrationProb, "Global immigration prob.:", ""},
             {fIB->edMutationRate, "&Mutation rate:", "0"},
             {fIB->edKAMrate, "&K-allele mutation (KAM) rate:", "1e-5"},
             {fIB->edSSMrate, "&Stepwise Mutation (SMM) rate:", "1e-4"}}) {
      QCOMPARE(e.Edit->EditLabel->text(), QString(e.Caption));
      QCOMPARE(e.Edit->text(), QString(e.Text));
    }
    // clang-format on
    QVERIFY(fIB->edDate->isReadOnly() && fIB->edTestDispersalProb->isReadOnly());
    // Sexuate: the sex ratio shows, selfing does not.
    QCOMPARE(fIB->cbReproductionMode->currentText(), QString("Sexuate"));
    QVERIFY(fIB->edSexRatio->isVisible() && !fIB->edAutofecondation->isVisibleTo(fIB));
    QVERIFY(fIB->tbTestDispersalProb->value() == 20 && fIB->tbTestDispersalProb->tickInterval() == 5);
    QVERIFY(fIB->ckPedigree->isChecked() && fIB->ckAdults->isChecked() &&
            fIB->ckClearTextOutput->isChecked());
    QVERIFY(!fIB->ckPatchExtinction->isChecked() && !fIB->ckPatchSuitability->isChecked());
    QVERIFY(fIB->rbAbundanceK->isChecked() && fIB->rbAge0->isChecked() && fIB->rbDistance->isChecked());
    QVERIFY(!fIB->rbRandomAges->isEnabled());
    QCOMPARE(fIB->sgGenes->rowCount(), 16);
    QCOMPARE(fIB->sgGenes->horizontalHeaderItem(1)->text(), QString("Allele 1 prevalence"));
    QVERIFY(fIB->sgGenes->item(15, 0)->text() == "Gene 15" && fIB->sgGenes->item(7, 1)->text() == "0.0");

    // The Birth cell, halfway down the drawing, and what the check says of it.
    QCOMPARE(fIB->fEventCells.Count(), 1);
    QVERIFY(Cell(0)->GetEventType() == models::leBirth && Cell(0)->Left == 5 && Cell(0)->Top == 125);
    QCOMPARE(MemoLines(), QStringList({"No Aging event", "No Reproduction event", "Death event missing"}));
    QCOMPARE(fIB->mmLifeCycle->palette().color(QPalette::Text), QColor(Qt::red));
    // Creation applies the cycle, which cannot be initialised: Apply stays offered, Run does not.
    QVERIFY(fIB->btApply->isEnabled() && !fIB->btRun->isEnabled());

    // One action per drawable type, tagged 100 + its ordinal.
    for (int type = models::leBirth; type <= models::leTag; ++type) {
      QAction* action = fIB->acNewEvent[type];
      QCOMPARE(action != nullptr, type != models::leDead);
      if (!action) continue;
      QCOMPARE(action->data().toInt(), 100 + type);
      QCOMPARE(action->text(), QString(models::LifeEventTypeStr[type]));
      QCOMPARE(action->isEnabled(), type != models::leBirth);
    }
  }

  void TaggedControlsFollowTheCells() {
    // clang-format off
    const std::vector<QWidget*> own = {
        fIB->cbReproductionMode, fIB->edSexRatio, fIB->edTerritoryArea, fIB->edAutofecondation,
        fIB->edJuvenileWeight, fIB->sgGenes, fIB->edMutationRate, fIB->seNbLoci, fIB->seNbAlleles, fIB->edKAMrate,
        fIB->edSSMrate, fIB->seSamplingProbabilityJuvenile, fIB->seSamplingProbabilityAdult};
    // clang-format on
    const auto listed = [this] {
      std::vector<QWidget*> components;
      for (const vandrel::tTaggedComponent& item : fIB->TaggedComponents) {
        if (item.Tag != 1) return std::vector<QWidget*>{};
        components.push_back(item.Component);
      }
      return components;
    };
    QCOMPARE(listed(), own);
    NewCell(fIB, models::leGetOlder);
    NewCell(fIB, models::leDispersal);
    NewCell(fIB, models::leSurvival);
    // Dispersal (Event 3) has two edits, Survival (Event 4) one; Birth and Aging none.
    std::vector<QWidget*> expected = own;
    expected.push_back(fIB->CellControls(Cell(2))->Param1);
    expected.push_back(fIB->CellControls(Cell(2))->Param2);
    expected.push_back(fIB->CellControls(Cell(3))->Param1);
    QCOMPARE(listed(), expected);
    // Removing the Dispersal cell renumbers Survival and takes its edits off the list.
    Click(Centre(Cell(2)), Qt::ControlModifier);
    expected = own;
    expected.push_back(fIB->CellControls(Cell(2))->Param1);
    QCOMPARE(listed(), expected);
    QCOMPARE(fIB->CellControls(Cell(2))->Parameters->title(), QString("Event 3: Survival"));
    // A simulation line: the window's values (sixteen for the genes), then the cell's.
    std::string line = "Simulation(1,0.4,2,0,0,";
    for (int gene = 0; gene < 16; ++gene) line += "0.1,";
    fIB->tModelForm::Simulation(line + "0.2,8,15,1,1,5,5,0.7)");
    QVERIFY(Cell(2)->Param1 == "0.7" && fIB->sgGenes->item(15, 1)->text() == "0.1");
    QVERIFY(fIB->cbReproductionMode->currentIndex() == 1 && fIB->seSamplingProbabilityAdult->value() == 5);
  }

  void ActionsPlaceLinkAndUnstackNewCells() {
    tEventCell* birth = Cell(0);
    NewCell(fIB, models::leGetOlder);
    tEventCell* aging = Cell(1);
    QVERIFY(birth->NextEvent == aging && aging->Left == 80 && aging->Top == 125);
    QVERIFY(aging->fSelected && fIB->btApply->isEnabled());
    QCOMPARE(fIB->CellControls(aging)->Parameters->title(), QString("Event 2: Aging"));

    // Regulation comes with its Synchronisation cell before it.
    NewCell(fIB, models::leRegulation);
    QCOMPARE(fIB->fEventCells.Count(), 4);
    QVERIFY(Cell(2)->GetEventType() == models::leSynchro && aging->NextEvent == Cell(2));
    QVERIFY(Cell(2)->NextEvent == Cell(3) && Cell(3)->Left == 230);

    // The Death cell is censused, and there is only one.
    NewCell(fIB, models::leDeath);
    tEventCell* death = Cell(4);
    QCOMPARE(Cell(3)->NextEvent, death);
    QCOMPARE(fIB->CellControls(death)->Param3->currentText(), QString("Censused"));
    QVERIFY(!fIB->acNewEvent[models::leDeath]->isEnabled());

    // From the Death cell nothing follows: a new cell starts at the top left; with
    // nothing selected the next one starts there too and moves 75 pixels right.
    NewCell(fIB, models::leTag);
    Click({450, 350});
    NewCell(fIB, models::leTag);
    QVERIFY(death->NextEvent == nullptr && Cell(5)->NextEvent == nullptr);
    QVERIFY(Cell(5)->Left == 5 && Cell(5)->Top == 5 && Cell(6)->Left == 80 && Cell(6)->Top == 5);
    // Tagging cells offer the tag statistics.
    QVERIFY(fIB->pcResults->isTabVisible(fIB->pcResults->indexOf(fIB->tsTags)));

    Click(Centre(death), Qt::ControlModifier);
    QVERIFY(fIB->acNewEvent[models::leDeath]->isEnabled());
    // The Sex-dependent action is for sexuate species.
    fIB->cbReproductionMode->setCurrentIndex(0);
    fIB->btApplyClick();
    QVERIFY(!fIB->acNewEvent[models::leSexConditional]->isEnabled());
  }

  void TheMouseMovesLinksAndRemovesCells() {
    NewCell(fIB, models::leGetOlder);
    NewCell(fIB, models::leSurvival);
    tEventCell* birth = Cell(0);
    tEventCell* aging = Cell(1);
    tEventCell* survival = Cell(2);

    // Moving: the cell is centred where it is dropped, also when the area is scrolled.
    Drag(Qt::LeftButton, Centre(survival), {300, 370});
    QVERIFY(survival->Left == 275 && survival->Top == 345);
    fIB->sbLifeCycle->verticalScrollBar()->setValue(50);
    QCOMPARE(Area()->mapTo(fIB->sbLifeCycle->viewport(), QPoint(0, 0)), QPoint(0, -50));
    Drag(Qt::LeftButton, Centre(survival), {320, 390});
    QVERIFY(survival->Left == 295 && survival->Top == 365);
    fIB->sbLifeCycle->verticalScrollBar()->setValue(0);
    // Released outside the visible area, the drag changes nothing.
    Drag(Qt::LeftButton, Centre(survival), {320, -30});
    QCOMPARE(survival->Top, 365);
    // Dropped on another cell, it is centred on the drop point too.
    Drag(Qt::LeftButton, Centre(survival), Centre(aging) + QPoint(10, 0));
    QCOMPARE(survival->Left, aging->Left + 10);
    Drag(Qt::LeftButton, Centre(survival), {300, 60});

    // Survival -> Birth closes a loop, which the check reports; Aging -> Birth is
    // refused (Birth leads to Aging), so is Aging -> Aging; a short move links
    // nothing; a drop on the area takes the link away.
    struct tLink {
      const char* Name;
      tEventCell* From;
      QPoint To;
      tEventCell* Next;  // the source's NextEvent afterwards
    };
    for (const tLink& link :
         std::initializer_list<tLink>{{"to Birth", survival, Centre(birth), birth},
                                      {"back to Birth", aging, Centre(birth), survival},
                                      {"onto itself", aging, Centre(aging) + QPoint(8, 0), survival},
                                      {"short move", survival, Centre(survival) + QPoint(4, 0), birth},
                                      {"onto the area", survival, {450, 350}, nullptr}}) {
      Drag(Qt::RightButton, Centre(link.From), link.To);
      QVERIFY2(link.From->NextEvent == link.Next, link.Name);
      QVERIFY(!fIB->Linking());
      if (link.Next == birth) QVERIFY(MemoLines().contains("Erroneous connectivity: Looping cycle at 1"));
    }

    // The lower half of a branching cell draws its alternative; a Death cell links nothing.
    Click(Centre(survival));
    NewCell(fIB, models::leRandom);
    tEventCell* random = Cell(3);
    NewCell(fIB, models::leDeath);
    tEventCell* death = Cell(4);
    Drag(Qt::RightButton, Centre(random) + QPoint(0, 15), Centre(death));
    QCOMPARE(random->AltEvent, death);
    Drag(Qt::RightButton, Centre(random) + QPoint(0, 15), {450, 350});
    QVERIFY(random->AltEvent == nullptr && random->NextEvent == death);
    Drag(Qt::RightButton, Centre(death), Centre(aging));
    QCOMPARE(death->NextEvent, nullptr);

    // Ctrl+click removes, and the links to the cell lead on to its NextEvent.
    QCOMPARE(birth->NextEvent, aging);
    Click(Centre(aging), Qt::ControlModifier);
    QVERIFY(fIB->fEventCells.Count() == 4 && birth->NextEvent == survival && !fIB->CellControls(aging));
    QCOMPARE(fIB->CellControls(survival)->Parameters->title(), QString("Event 2: Survival"));
    Click(Centre(birth), Qt::ControlModifier);
    QCOMPARE(fIB->fEventCells.Count(), 4);

    // While Ctrl is held over a cell, the cursor is the cross.
    QMouseEvent ctrlMove(QEvent::MouseMove, Centre(survival), Area()->mapToGlobal(Centre(survival)),
                         Qt::NoButton, Qt::NoButton, Qt::ControlModifier);
    QApplication::sendEvent(Area(), &ctrlMove);
    QCOMPARE(Area()->cursor().shape(), Qt::CrossCursor);
    QMouseEvent plainMove(QEvent::MouseMove, Centre(survival), Area()->mapToGlobal(Centre(survival)),
                          Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(Area(), &plainMove);
    QVERIFY(Area()->cursor().shape() != Qt::CrossCursor);
  }

  void SelectionShowsOneParameterBox() {
    NewCell(fIB, models::leGetOlder);
    NewCell(fIB, models::leSurvival);
    NewCell(fIB, models::leGeneConditional);
    const auto shown = [this] {
      std::vector<int> boxes;
      for (int i = 0; i < fIB->fEventCells.Count(); ++i)
        if (fIB->CellControls(Cell(i))->Parameters->isVisible()) boxes.push_back(i);
      return boxes;
    };
    QCOMPARE(shown(), std::vector<int>{3});
    Click(Centre(Cell(2)));
    QCOMPARE(shown(), std::vector<int>{2});
    QVERIFY(Cell(2)->fSelected && !Cell(3)->fSelected);
    QCOMPARE(fIB->CellControls(Cell(2))->Parameters->title(), QString("Event 3: Survival"));
    QCOMPARE(CaptionOf(fIB, fIB->CellControls(Cell(2))->Param1), QString("Survival rate"));
    Click({450, 350});
    QVERIFY(shown().empty() && fIB->fEventCells.SelectedCell() == nullptr);

    // Typing: real numbers only; the check runs when the edit is done with.
    fIB->btApply->setEnabled(false);
    TypeParameter(fIB, Cell(2), 1, "x0.8y");
    QVERIFY(Cell(2)->Param1 == "0.8" && fIB->btApply->isEnabled() && Cell(2)->Description == "Rate=0.8");
    // The locus is written back as read.
    TypeParameter(fIB, Cell(3), 1, "20");
    QCOMPARE(fIB->CellControls(Cell(3))->Param1->text(), QString("15"));
    QComboBox* inheritance = fIB->CellControls(Cell(3))->Param3;
    QCOMPARE(CaptionOf(fIB, inheritance), QString("Mutant inheritance"));
    inheritance->setCurrentIndex(1);
    QCOMPARE(Cell(3)->Param3, 1);
  }

  void InitialiseBuildsTheCheckedCycle() {
    fIB->Initialise();
    QVERIFY(fIB->mmLog->toPlainText().contains("Life cycle incorrect"));
    QVERIFY(!fIB->btRun->isEnabled() && !fIB->btRunBatch->isEnabled() && fIB->btApply->isEnabled());

    NewCell(fIB, models::leGetOlder);
    NewCell(fIB, models::leDispersal);
    TypeParameter(fIB, Cell(2), 1, "0.9");
    TypeParameter(fIB, Cell(2), 2, "10");
    NewCell(fIB, models::leReproduction);
    TypeParameter(fIB, Cell(3), 1, "2");
    NewCell(fIB, models::leDeath);
    QCOMPARE(MemoLines(), QStringList({"Life cycle correct."}));
    QCOMPARE(fIB->mmLifeCycle->palette().color(QPalette::Text), QColor(0, 128, 0));
    fIB->mmLog->clear();
    fIB->Initialise();
    QVERIFY(!fIB->mmLog->toPlainText().contains("Life cycle incorrect"));
    QVERIFY(fIB->btRun->isEnabled() && fIB->btRunBatch->isEnabled() && !fIB->btApply->isEnabled());
    const models::tSpecies& species = *fIB->Metapop->Species;
    QCOMPARE(species.EventCount(), 6);
    QVERIFY(species.Event(2).EventType == models::leDispersal && species.Event(2).DispSurvival == 0.9);
    // Each cell holds its built event, the dispersal matrices of the landscape's patches with it.
    QVERIFY(Cell(2)->fEvent.Mat1 != nullptr);
    QCOMPARE(Cell(2)->fEvent.Mat1->size(), models::Patches.size());
    QCOMPARE(Cell(3)->fEvent.Fecundity, 2.0);
  }

  void SavingWritesTheFileAndReopensIt() {
    DrawSixCells();
    QCOMPARE(MemoLines(), QStringList({"Life cycle correct."}));
    QTest::keyClicks(fIB->edName, "Vole");
    const testsupport::tTempFolder folder;
    const std::string fileName = folder.File("ib-six.model");
    fDialogs->FileNames.push_back(fileName);
    const QString dayBefore = Today();
    fMain->mnSaveModel->trigger();
    const QString dayAfter = Today();
    QCOMPARE(fDialogs->Titles.back(), std::string("Save model"));
    const QString today = QString::fromStdString(utile::LoadTextFromFile(fileName)).split("\r\n").value(1);
    QVERIFY2(WrittenToday(today, dayBefore, dayAfter), qPrintable(today));
    // clang-format off
    const QStringList expected = {
        "IBsimple 4", today, "Vole", "2", "0", "10", "0.5", "0", "0", "0", "0", "0",
        "0.0\t0.0\t0.0\t0.0\t0.0\t0.0\t0.0\t0.0\t0.0\t0.0\t0.0\t0.0\t0.0\t0.0\t0.0\t0.0\t", "---",
        "0", "5\t125",   "1",  "-1", "nil", "nil", "-999",  // Birth
        "2", "80\t125",  "2",  "-1", "nil", "nil", "-999",  // Aging
        "3", "155\t125", "3",  "-1", "0.9", "nil", "-999",  // Survival
        "8", "230\t125", "4",  "5",  "0.5", "nil", "-999",  // Random
        "5", "305\t125", "5",  "-1", "2",   "nil", "0",     // Reproduction
        "9", "355\t200", "-1", "-1", "nil", "nil", "1",     // Death
        "-9999"};
    // clang-format on
    QCOMPARE(QString::fromStdString(utile::LoadTextFromFile(fileName)),
             QString::fromStdString(Lines(expected)));
    QCOMPARE(fIB->edDate->text(), today);
    QCOMPARE(fIB->windowTitle(), QString("ib-six.model"));
    QVERIFY(fDialogs->Messages.empty());

    // Reopened through the main window: another workbench with the same drawing.
    fDialogs->FileNames.push_back(fileName);
    fMain->mnOpenModel->trigger();
    auto* reopened = qobject_cast<TdlgIBSimple*>(fMain->CurrentModel);
    QVERIFY(reopened && reopened != fIB && reopened->fFilename == fileName);
    QVERIFY(reopened->edName->text() == "Vole" && reopened->fEventCells.Count() == 6);
    for (int i = 0; i < 6; ++i) {
      const tEventCell* was = fIB->fEventCells.EventOrder()[i];
      const tEventCell* is = reopened->fEventCells.Cell(i);
      QVERIFY(is->GetEventType() == was->GetEventType() && is->Param1 == was->Param1);
      QVERIFY(is->Left == was->Left && is->Top == was->Top);
      QCOMPARE(is->NextEvent ? is->NextEvent->Position() : -1,
               was->NextEvent ? was->NextEvent->Position() : -1);
      QCOMPARE(is->AltEvent ? is->AltEvent->Position() : -1, was->AltEvent ? was->AltEvent->Position() : -1);
    }
    QCOMPARE(reopened->mmLifeCycle->toPlainText(), QString("Life cycle correct."));
    QVERIFY(reopened->CellControls(reopened->fEventCells.Cell(0))->Parameters->isVisibleTo(reopened));
    QCOMPARE(reopened->windowTitle(), QString("ib-six.model"));
  }

  void OpensEveryVersion() {
    // Species lines as typed, then Birth -> Aging -> Reproduction -> Death and a
    // Random cell whose links lead outside the cells.
    const QStringList header = {"IBsimple 1", "01/02/2003", "Vole", "1", "300", "250",
                                "0.4",        "0.1",        "1e-3", "1", "0.3"};
    const QStringList cells = {"0", "5\t125",   "1",  "-1", "nil", "nil", "-999",  //
                               "2", "80\t125",  "2",  "-1", "nil", "nil", "-999",  //
                               "5", "155\t125", "3",  "-1", "2.5", "nil", "1",     //
                               "9", "230\t125", "-1", "-1", "nil", "nil", "0",     //
                               "8", "80\t300",  "-1", "9",  "0.2", "nil", "-999", "-9999"};
    const QString genes = "0.1\t\t0.3\t0.4\t0.5\t0.6\t0.7\t0.8\t0.9\t1\t0\t0\t0\t0\t0\t0.25\t";
    const testsupport::tTempFolder folder;
    for (int version = 4; version >= 1; --version) {
      QStringList lines = header;
      lines[0] = QString("IBsimple %1").arg(version);
      if (version >= 2) lines << "1";
      if (version >= 4) lines << genes;
      lines << "---" << cells;
      const std::string fileName = folder.File("ib-version.model");
      utile::SaveTextToFile(fileName, Lines(lines, version == 3 ? "\n" : "\r\n"));
      const QString dayBefore = Today();
      fIB->OpenModel(fileName);
      const QString dayAfter = Today();
      QCOMPARE(fIB->fFilename, fileName);
      // The file's date shows; the model that opening applies is initialised today.
      QVERIFY(fIB->edDate->text() == "01/02/2003" &&
              WrittenToday(QString::fromStdString(fIB->Metapop->Species->Date), dayBefore, dayAfter));
      QCOMPARE(fIB->edName->text(), QString("Vole"));
      QCOMPARE(fIB->cbReproductionMode->currentIndex(), 1);
      QVERIFY(fIB->Metapop->Species->ReproductionMode() == models::rmHermaphrodite &&
              fIB->Metapop->Species->EquilibriumLambda == 1.0);
      QCOMPARE(fIB->seExtinctionThreshold->value(), 300);
      QVERIFY(fIB->edDispersalDistance->text() == "250" && fIB->edSexRatio->text() == "0.4");
      QVERIFY(fIB->edAutofecondation->text() == "0.1" && fIB->edMutationRate->text() == "1e-3");
      QVERIFY(fIB->edAutofecondation->isVisible() && !fIB->edSexRatio->isVisible());
      QVERIFY(fIB->ckPatchExtinction->isChecked() && fIB->edJuvenileWeight->text() == "0.3");
      QCOMPARE(fIB->ckPatchSuitability->isChecked(), version >= 2);
      // Older versions leave the genes as they were: those of the version 4 file.
      QVERIFY(fIB->sgGenes->item(0, 1)->text() == "0.1" && fIB->sgGenes->item(1, 1)->text() == "");
      QCOMPARE(fIB->sgGenes->item(15, 1)->text(), QString("0.25"));
      QCOMPARE(fIB->fEventCells.Count(), 5);
      const tEventCell* random = Cell(4);
      QVERIFY(random->GetEventType() == models::leRandom && random->Left == 80 && random->Top == 300);
      QVERIFY(random->NextEvent == nullptr && random->AltEvent == nullptr);
      QVERIFY(Cell(2)->Param1 == "2.5" && Cell(3)->Param3 == 0);
      QCOMPARE(fIB->CellControls(Cell(2))->Param3->currentText(), QString("Ceiling"));
      QVERIFY(Cell(0)->fSelected);
      QCOMPARE(fIB->windowTitle(), QString("ib-version.model"));
      // Applied: the Random cell is not reached, and the ceiling rule follows Aging.
      QCOMPARE(MemoLines(), QStringList({"Erroneous connectivity: unconnected event",
                                         "Erroneous connectivity: No random alternate event"}));
    }
  }

  void BadFilesLeaveTheWorkbenchAsItWas() {
    NewCell(fIB, models::leGetOlder);
    QTest::keyClicks(fIB->edName, "Kept");
    const QStringList good = {"IBsimple 4", "d",  "Vole", "1",   "20",    "250",  "0.4", "0.1",
                              "0",          "0",  "0.3",  "1",   "0.5\t", "---",  "0",   "5\t5",
                              "-1",         "-1", "nil",  "nil", "-999",  "-9999"};
    struct tCase {
      const char* Name;
      std::string Text;
      const char* Fault;
    };
    const auto with = [&](int line, const QString& text) {
      QStringList lines = good;
      lines[line] = text;
      return Lines(lines);
    };
    const std::vector<tCase> cases = {
        {"wrong first line", with(0, "Matrix 1"), "line 1: \"IBsimple\" expected"},
        {"cut before its end", Lines(good.mid(0, 19)), "the file ends"},
        {"a word for a number", with(16, "next"), "the next event expected as a whole number"},
        {"event type 13", with(14, "13"), "event type 13"},
    };
    const testsupport::tTempFolder folder;
    const std::string fileName = folder.File("ib-bad.model");
    for (const tCase& c : cases) {
      utile::SaveTextToFile(fileName, c.Text);
      const std::string message =
          testsupport::MessageOf<utile::EInOutError>([&] { fIB->OpenModel(fileName); });
      QVERIFY2(message.find(fileName) != std::string::npos, message.c_str());
      QVERIFY2(message.find(c.Fault) != std::string::npos, message.c_str());
      QVERIFY(fIB->fFilename.empty() && fIB->fEventCells.Count() == 2 && Cell(1)->Left == 80);
      QVERIFY(fIB->CellControls(Cell(1)) && fIB->edName->text() == "Kept" && fIB->sbLifeCycle->isVisible());
      QCOMPARE(fIB->cbReproductionMode->currentIndex(), 2);
    }
    // Through the main window the message is shown, and no workbench is left for
    // the file: the one open stays current and as it was.
    utile::SaveTextToFile(fileName, with(14, "13"));
    fDialogs->FileNames.push_back(fileName);
    const std::vector<vandrel::tModelForm*> before = fMain->fModels;
    fMain->mnOpenModel->trigger();
    QCOMPARE(fDialogs->Messages.size(), size_t(1));
    QVERIFY(fDialogs->Messages[0].find(fileName) != std::string::npos);
    QVERIFY(fMain->fModels == before);
    QCOMPARE(fMain->CurrentModel, fIB);
    QVERIFY(fIB->fFilename.empty() && fIB->fEventCells.Count() == 2 && fIB->edName->text() == "Kept");
  }

  // Not a check: the pictures a person looks at.
  void GrabsOfTheSixCellCycle() {
    DrawSixCells();
    Click(Centre(Cell(3)));
    fIB->pcIBSimple->setCurrentWidget(fIB->tsLifeCycle);
    testsupport::SaveGrab(fIB, "ibsimple-window");
    testsupport::SaveGrab(fIB->pbLifeCycle, "ibsimple-cycle", QRect(0, 0, 480, 300));
  }
};

QTEST_MAIN(IBSimpleTest)
#include "IBSimpleTest.moc"
