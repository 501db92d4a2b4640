// Windows read at their default sizes as a person reads them: the simple
// demographic workbench's results, the patch database's cells, the
// individual-based workbench's cell boxes, grids and log after a run that went
// extinct, and every combo box of these windows with its longest item. With
// READABLE_GRABS naming a folder, each window's picture is saved there.
#include <QAbstractTextDocumentLayout>
#include <QComboBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLayout>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSpinBox>
#include <QStyleOptionComboBox>
#include <QStyleOptionFrame>
#include <QTabWidget>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QtTest>

#include "IBSimpleHarness.h"
#include "MainWindowHarness.h"
#include "ScriptedDialogs.h"
#include "app/SensitivityPage.h"
#include "app/dlgBigMatrixU.h"
#include "app/dlgIBSimpleU.h"
#include "app/dlgPatchDataU.h"
#include "app/dlgSimpleDemoModelU.h"
#include "app/dlgVandrelU.h"
#include "models/MetapopCommon.h"

using testsupport::NewCell;
using testsupport::TypeParameter;

namespace {

void Settle() {
  for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
}

// Saves the window's picture when READABLE_GRABS names a folder.
void Grab(QWidget* window, const char* name) {
  const QByteArray folder = qgetenv("READABLE_GRABS");
  if (!folder.isEmpty()) window->grab().save(QString("%1/%2.png").arg(QString(folder), name));
}

// The texts of a combo box that do not fit the field it shows its choice in.
QStringList ClippedItems(QComboBox* combo) {
  QStyleOptionComboBox option;
  option.initFrom(combo);
  option.editable = combo->isEditable();
  option.frame = combo->hasFrame();
  const QRect field = combo->style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, combo);
  const QFontMetrics metrics(combo->font());
  QStringList clipped;
  // The label leaves a pixel either side of the field.
  for (int i = 0; i < combo->count(); ++i)
    if (metrics.horizontalAdvance(combo->itemText(i)) > field.width() - 2) clipped << combo->itemText(i);
  return clipped;
}

// Every shown combo box of a window with an item it cannot show whole, by name.
QStringList CombosClipped(QWidget* window) {
  QStringList found;
  for (QComboBox* combo : window->findChildren<QComboBox*>())
    if (combo->isVisible() && combo->count() > 0)
      if (const QStringList items = ClippedItems(combo); !items.isEmpty())
        found << combo->objectName() + ": " + items.join(", ");
  return found;
}

// The width the cells of a grid's column need to show their text whole, as
// the grid's own drawing measures it (margins included).
int NeededWidth(QTableWidget* grid, int column) {
  int widest = 0;
  for (int row = 0; row < grid->rowCount(); ++row) {
    QStyleOptionViewItem option;
    option.initFrom(grid->viewport());
    option.widget = grid;
    widest = std::max(widest, grid->itemDelegate()->sizeHint(option, grid->model()->index(row, column)).width());
  }
  return widest;
}

// The columns of a grid whose cells need more room than they have.
QStringList ColumnsClipped(QTableWidget* grid) {
  QStringList found;
  for (int c = 0; c < grid->columnCount(); ++c)
    if (!grid->isColumnHidden(c) && NeededWidth(grid, c) > grid->columnWidth(c))
      found << QString("%1: %2 < %3").arg(c).arg(grid->columnWidth(c)).arg(NeededWidth(grid, c));
  return found;
}

// Every combo box and grid of each page of a window's page control, page by
// page as a person opens them, that cannot show its texts whole.
QStringList ClippedOnPages(QWidget* window, QTabWidget* pages) {
  QStringList found;
  for (int i = 0; i < pages->count(); ++i) {
    if (!pages->isTabVisible(i)) continue;
    pages->setCurrentIndex(i);
    Settle();
    for (const QString& combo : CombosClipped(window)) found << pages->tabText(i) + ": " + combo;
    for (QTableWidget* grid : window->findChildren<QTableWidget*>())
      if (grid->isVisible())
        for (const QString& column : ColumnsClipped(grid))
          found << pages->tabText(i) + ": " + grid->objectName() + " column " + column;
  }
  return found;
}

// The lines of a memo in view, from the first shown to the last.
QStringList LinesInView(QPlainTextEdit* memo) {
  const QTextBlock first = memo->cursorForPosition(QPoint(2, 2)).block();
  const QTextBlock last = memo->cursorForPosition(QPoint(2, memo->viewport()->height() - 3)).block();
  QStringList lines;
  for (QTextBlock b = first; b.isValid(); b = b.next()) {
    lines << b.text();
    if (b == last) break;
  }
  return lines;
}

// The width of a memo's widest line (its lines unwrapped).
double WidestLine(QPlainTextEdit* memo) { return memo->document()->documentLayout()->documentSize().width(); }

// A memo whose lines all show whole: no line wider than its view.
bool NoLineCut(QPlainTextEdit* memo) {
  return memo->horizontalScrollBar()->maximum() == 0 && WidestLine(memo) <= memo->viewport()->width();
}

// The width a line edit has for its text, as it paints it: its contents
// without the text margins and the two pixels it keeps either side.
int TextRoom(QLineEdit* edit) {
  QStyleOptionFrame option;
  option.initFrom(edit);
  option.rect = edit->rect();
  option.lineWidth =
      edit->hasFrame() ? edit->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, edit) : 0;
  option.state |= QStyle::State_Sunken;
  const QRect contents = edit->style()
                             ->subElementRect(QStyle::SE_LineEditContents, &option, edit)
                             .marginsRemoved(edit->textMargins());
  return contents.width() - 4;
}

// A line edit shows its whole text, from its first letter.
bool ShowsWholeText(QLineEdit* edit) {
  return edit->fontMetrics().horizontalAdvance(edit->text()) <= TextRoom(edit);
}

// How far a memo's view is scrolled to the right: 0 when it shows its lines
// from their start.
int LeftCut(QPlainTextEdit* memo) {
  return memo->horizontalScrollBar()->value();
}

}  // namespace

class ReadableWindowsTest : public QObject {
  Q_OBJECT

  vandrel::TdlgVandrel* fMain = nullptr;
  testsupport::tScriptedDialogs* fDialogs = nullptr;

 private slots:
  void init() {
    fMain = testsupport::OpenMainWindow(fDialogs);
    // The landscape the program starts with.
    fMain->btMakeLandscapeClick();
  }
  void cleanup() { testsupport::CloseMainWindow(fMain); }

  void SimpleDemographicResultsShowEveryColumn() {
    auto* demo =
        testsupport::OpenWorkbench<vandrel::TdlgSimpleDemoModel>(fMain, vandrel::tWorkbenchKind::wkSimpleDemo);
    QVERIFY(QTest::qWaitForWindowExposed(demo));
    QCOMPARE(demo->size(), QSize(760, 520));
    const char* names[] = {"simpledemo-capacity", "simpledemo-size", "simpledemo-connectivity"};
    // Patch numbers of three digits and small values in scientific form: the widest lines.
    fMain->seNbPatch->setValue(120);
    fMain->btMakeLandscapeClick();
    demo->edExtinction->setText("0.001");
    for (int analysis = 0; analysis < 3; ++analysis) {
      demo->cbAnalysesType->setCurrentIndex(analysis);
      demo->btRun->click();
      Settle();
      Grab(demo, names[analysis]);
      QVERIFY2(fDialogs->Messages.empty(), fDialogs->Messages.empty() ? "" : fDialogs->Messages[0].c_str());
      QVERIFY2(NoLineCut(demo->mmResults),
               qPrintable(QString("%1 wide, lines %2").arg(demo->mmResults->viewport()->width())
                              .arg(WidestLine(demo->mmResults))));
    }
    QCOMPARE(ClippedOnPages(demo, demo->pcModel), QStringList());
    QCOMPARE(demo->size(), QSize(760, 520));
  }

  void SimpleDemographicModelPageShowsItsLinesFromTheirStart() {
    auto* demo = testsupport::OpenWorkbench<vandrel::TdlgSimpleDemoModel>(
        fMain, vandrel::tWorkbenchKind::wkSimpleDemo);
    QVERIFY(QTest::qWaitForWindowExposed(demo));
    // Thirty patches: the connectivity analysis's contribution matrix has lines
    // of thirty numbers of fifteen digits, far wider than the page.
    fMain->seNbPatch->setValue(30);
    fMain->btMakeLandscapeClick();
    demo->cbAnalysesType->setCurrentIndex(2);
    demo->btRun->click();
    demo->pcModel->setCurrentWidget(demo->tsModel);
    Settle();
    Grab(demo, "simpledemo-model");
    QCOMPARE(demo->size(), QSize(760, 520));
    QVERIFY(demo->mmmModel->horizontalScrollBar()->maximum() > 0);  // the lines are wider than the page
    QCOMPARE(LeftCut(demo->mmmModel), 0);
    QCOMPARE(LinesInView(demo->mmmModel).first(), demo->mmmModel->document()->firstBlock().text());
    // Initialise writes the page again, also while it shows.
    demo->acInitialise->trigger();
    Settle();
    QCOMPARE(LeftCut(demo->mmmModel), 0);
    QCOMPARE(LinesInView(demo->mmmModel).first(), demo->mmmModel->document()->firstBlock().text());
  }

  void BigMatrixSizesReadWhole() {
    auto* big =
        testsupport::OpenWorkbench<vandrel::TdlgBigMatrix>(fMain, vandrel::tWorkbenchKind::wkBigMatrix);
    QVERIFY(QTest::qWaitForWindowExposed(big));
    const QSize opened = big->size();
    // Up to sixteen patches of two states, the largest model it makes, and
    // sizes of more states (which it shows but does not make; sixteen patches
    // of a hundred are beyond any count, shown as nothing).
    for (const auto& [patches, states] :
         std::initializer_list<std::pair<int, int>>{{3, 2}, {10, 3}, {14, 2}, {16, 2}, {16, 100}}) {
      fMain->seNbPatch->setValue(patches);
      fMain->btMakeLandscapeClick();
      big->seNbStates->setValue(states);
      big->Initialise();
      big->pcMain->setCurrentWidget(big->tabComputation);
      Settle();
      const QString where = QString("%1 patches of %2 states: ").arg(patches).arg(states);
      Grab(big, QString("bigmatrix-%1-%2").arg(patches).arg(states).toLatin1());
      for (vandrel::tLabeledEdit* edit : {big->edMatrixP0, big->edMatrixT})
        QVERIFY2(ShowsWholeText(edit),
                 qPrintable(where + edit->text() + QString(" in %1 pixels").arg(TextRoom(edit))));
      if (patches == 16 && states == 2) Grab(big, "bigmatrix-computation");
    }
    QCOMPARE(big->size(), opened);
  }

  void PatchDatabaseShowsEveryCell() {
    vandrel::TdlgPatchData* dialog = vandrel::dlgPatchData;
    dialog->show();
    QVERIFY(QTest::qWaitForWindowExposed(dialog));
    Settle();
    Grab(dialog, "patchdata");
    QVERIFY(dialog->sgPatchData->rowCount() > 1);
    QCOMPARE(ColumnsClipped(dialog->sgPatchData), QStringList());
    QCOMPARE(CombosClipped(dialog), QStringList());
    // A landscape of another size: the table follows, readable again.
    fMain->seNbPatch->setValue(40);
    fMain->btMakeLandscapeClick();
    Settle();
    QCOMPARE(dialog->sgPatchData->rowCount(), 40);
    QCOMPARE(ColumnsClipped(dialog->sgPatchData), QStringList());
  }

  void IndividualBasedCellsGridsAndLogAreReadable() {
    auto* ib = testsupport::OpenWorkbench<vandrel::TdlgIBSimple>(fMain, vandrel::tWorkbenchKind::wkIBSimple);
    QVERIFY(QTest::qWaitForWindowExposed(ib));
    Grab(ib, "ibsimple-start");
    const QSize opened = ib->size();
    // Every cell's box, each type's combo box with its longest item.
    for (int type = models::leBirth; type <= models::leTag; ++type) {
      if (!ib->acNewEvent[type]) continue;
      NewCell(ib, static_cast<models::tLifeEventType>(type));
      Settle();
      if (type == models::leDispersal) Grab(ib, "ibsimple-dispersal");
      QVERIFY2(CombosClipped(ib).isEmpty(), qPrintable(CombosClipped(ib).join("; ")));
    }
    QCOMPARE(ColumnsClipped(ib->sgGenes), QStringList());
    QCOMPARE(opened, QSize(1150, 720));
    ib->btApply->click();  // the batch pages come back
    QCOMPARE(ClippedOnPages(ib, ib->pcIBSimple), QStringList());
    QCOMPARE(ib->size(), QSize(1150, 720));

    // A run that goes extinct (each adult leaves 0.3 young on average): its
    // end and the last messages stay in view.
    auto* dying = testsupport::OpenWorkbench<vandrel::TdlgIBSimple>(fMain, vandrel::tWorkbenchKind::wkIBSimple);
    NewCell(dying, models::leGetOlder);
    TypeParameter(dying, NewCell(dying, models::leReproduction), 1, "0.3");
    NewCell(dying, models::leDeath);
    dying->seNbTimeSteps->setValue(5000);
    dying->acInitialise->trigger();
    dying->pcIBSimple->setCurrentWidget(dying->tsResults);
    QVERIFY(QTest::qWaitForWindowExposed(dying));
    dying->acRun->trigger();
    Settle();
    Grab(dying, "ibsimple-run");
    const QStringList shown = LinesInView(dying->mmLog);
    QVERIFY2(shown.size() >= 5, qPrintable(shown.join(" | ")));
    QVERIFY2(shown.filter("!!! Extinction at time").size() == 1, qPrintable(shown.join(" | ")));
    QVERIFY2(shown.last().startsWith("Simulations terminated"), qPrintable(shown.join(" | ")));

    // A batch of three lines, two of which fail (no locus, nine loci): its page says how many.
    QTemporaryDir folder;
    vandrel::tSensitivityPage* page = dying->tsSensitivity;
    const std::string first = "Simulation(2,0.5,1,0,0," + QString("0,").repeated(16).toStdString() + "0,";
    page->SetBatchLines({first + "0)", first + "9)", first + "3)"});
    page->edOutputFile->setText(folder.filePath("batch.txt"));
    dying->pcIBSimple->setCurrentWidget(page);
    page->btRunBatch->click();
    Settle();
    Grab(dying, "ibsimple-batch");
    QVERIFY(page->lblBatchErrors->isVisible());
    QCOMPARE(page->lblBatchErrors->text(), QString("******* 2 errors encountered"));
  }
};

QTEST_MAIN(ReadableWindowsTest)
#include "ReadableWindowsTest.moc"
