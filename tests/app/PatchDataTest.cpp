// The patch database dialog with the main window: filling, applying and
// following the landscape, driven by clicks and typing.
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>
#include <QtTest>
#include <bit>
#include <cstdint>

#include "MainWindowHarness.h"
#include "ScriptedDialogs.h"
#include "TestWorkbench.h"
#include "Utile/gui/GraphicOps.h"
#include "app/WindowServices.h"
#include "app/dlgPatchDataU.h"
#include "app/dlgVandrelU.h"
#include "models/LandscapeGenerator.h"

namespace {
// A workbench that keeps the patches its last initialisation worked with.
class tRecordingWorkbench : public testsupport::tTestWorkbench {
 public:
  using tTestWorkbench::tTestWorkbench;
  models::tArrayOfCircles Seen;
  void Initialise() override {
    tTestWorkbench::Initialise();
    Seen = models::Patches;
  }
};
}  // namespace

class PatchDataTest : public QObject {
  Q_OBJECT

  vandrel::TdlgVandrel* fMain = nullptr;
  vandrel::TdlgPatchData* fDialog = nullptr;
  testsupport::tScriptedDialogs* fDialogs = nullptr;

  void Settle() {
    for (int i = 0; i < 3; ++i) QApplication::processEvents();
  }
  // Patches i = 0..n-1 at (10 i, 5), area 40, b 0.25, e 0.5, unless given.
  void SetPatches(size_t n, models::tArrayOfCircles patches = {}) {
    for (size_t i = patches.size(); i < n; ++i)
      patches.push_back({int32_t(i + 1), 10.0 * i, 5, 40, 0.25, 0.5});
    models::Patches = patches;
    fMain->seNbPatch->setValue(int(n));
    fMain->ChangePatches();
    Settle();
  }
  void ShowDialog() {
    fDialog->show();
    QVERIFY(QTest::qWaitForWindowExposed(fDialog));
  }
  void SetParameters(int mode, const QString& P, const QString& q, const QString& D, const QString& e) {
    fDialog->cbPatchData->setCurrentIndex(mode);
    const QList<std::pair<QLineEdit*, QString>> typed = {{fDialog->edOverallProductivity, P},
                                                         {fDialog->edSourceProportion, q},
                                                         {fDialog->edSourceDifferential, D},
                                                         {fDialog->edExtinctionRisk, e}};
    for (const auto& [edit, text] : typed) {
      edit->selectAll();
      QTest::keyClick(edit, Qt::Key_Delete);
      QTest::keyClicks(edit, text);
    }
  }
  static void Click(QPushButton* button) { QTest::mouseClick(button, Qt::LeftButton); }
  // Types into a cell through the table's own editor, and ends with Return unless told.
  void EditCell(int row, int column, const QString& text, bool commit = true) {
    QTableWidget* grid = fDialog->sgPatchData;
    grid->setCurrentCell(row, column);
    const QList<QLineEdit*> before = grid->viewport()->findChildren<QLineEdit*>();
    grid->editItem(grid->item(row, column));
    QLineEdit* editor = nullptr;
    for (QLineEdit* open : grid->viewport()->findChildren<QLineEdit*>())
      if (!before.contains(open)) editor = open;
    QVERIFY(editor);
    editor->selectAll();
    QTest::keyClicks(editor, text);
    if (!commit) return;
    QTest::keyClick(editor, Qt::Key_Return);  // the editor commits once the key is handled
    QTRY_COMPARE(grid->item(row, column)->text(), text);
  }
  QString Cell(int row, int column) const { return fDialog->sgPatchData->item(row, column)->text(); }
  QStringList ColumnTexts(int column) const {
    QStringList texts;
    for (int r = 0; r < fDialog->sgPatchData->rowCount(); ++r) texts << Cell(r, column);
    return texts;
  }
  // A left-button event on the chart at a landscape point.
  void Send(QEvent::Type type, double x, double y) {
    const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton;
    testsupport::SendChartMouse(fMain, type, type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton, held,
                                testsupport::LandscapePoint(fMain, x, y));
  }

 private slots:
  void init() {
    fMain = testsupport::OpenMainWindow(fDialogs);
    fDialog = vandrel::dlgPatchData;
    fMain->resize(1100, 800);
    fMain->show();
    QVERIFY(QTest::qWaitForWindowExposed(fMain));
    fMain->chSpace->Refresh();
    Settle();
  }
  void cleanup() {
    delete fMain;
    QVERIFY(vandrel::dlgPatchData == nullptr);
    vandrel::SetDialogs(nullptr);
  }

  void FillTableByItsRuleThenApply() {
    struct tCase {
      size_t N;
      int Mode;
      QString P, q, D, e;
      QStringList Birth;
      bool Said;  // no sink value fits
    };
    const auto runs = [](int n1, const QString& a, int n2 = 0, const QString& b = "") {
      QStringList texts;
      for (int i = 0; i < n1 + n2; ++i) texts << (i < n1 ? a : b);
      return texts;
    };
    // clang-format off
    const std::vector<tCase> cases = {
        {10, models::pdSourceSink, "0.8", "0.3", "0.5", "0", runs(3, "0.8", 7, "0.3"), false},
        {10, models::pdSourceSink, "0.8", "0.01", "0.5", "0.1", runs(1, "0.8", 9, "0.3"), false},
        {6, models::pdFixedProductivity, "1.1", "1", "1", "0", runs(6, "1.1"), false},
        {4, models::pdFixedProductivity, "0.5", "0.5", "1", "0.02", runs(2, "0.945", 2, "0.055"), false},
        {1, models::pdFixedProductivity, "0.7", "0.3", "1", "0", runs(1, "0.7"), false},
        {3, models::pdFixedProductivity, "-1", "0.4", "1", "0", runs(3, "0"), true},  // s = 0, k < 0
        {3, models::pdCustomParameters, "0.8", "0.3", "0.5", "0.9", runs(3, "0.25"), false},  // as the patches
    };
    // clang-format on
    ShowDialog();
    for (const tCase& c : cases) {
      qInfo() << c.N << c.P << c.q;
      fDialogs->Messages.clear();
      SetPatches(c.N);
      SetParameters(c.Mode, c.P, c.q, c.D, c.e);
      Click(fDialog->btFillTable);
      QCOMPARE(ColumnTexts(models::pcBirth), c.Birth);
      QCOMPARE(ColumnTexts(models::pcExtinction), QStringList(runs(int(c.N), c.Mode ? c.e : "0.5")));
      QCOMPARE(fDialogs->Messages.size(), size_t(c.Said));
      QCOMPARE(models::Patches[0].b, 0.25);  // filling changes no patch
      Click(fDialog->btApply);
      for (size_t i = 0; i < c.N; ++i) QCOMPARE(models::Patches[i].b, c.Birth[int(i)].toDouble());
    }
  }

  void ApplyWritesWhatChangedAndThenRunsTheSequence() {
    // Numbers that the table shows rounded stay exactly as they are.
    SetPatches(3, {{1, 0.1 + 0.2, 1.0 / 3, 40, 2.0 / 3, 0.1 + 1e-17}, {2, 100, 1.0 / 3, 40, 0, 0}});
    auto* bench = new tRecordingWorkbench(fMain);
    fMain->AddNewModel(bench);
    ShowDialog();
    const models::tCircle before = models::Patches[0];
    EditCell(0, models::pcArea, "abc");
    Click(fDialog->btApply);
    QCOMPARE(bench->Initialisations, 0);
    for (auto field : {&models::tCircle::x, &models::tCircle::y, &models::tCircle::A, &models::tCircle::b,
                       &models::tCircle::e})
      QCOMPARE(std::bit_cast<uint64_t>(models::Patches[0].*field), std::bit_cast<uint64_t>(before.*field));
    QCOMPARE(Cell(0, models::pcArea), QString("40"));
    // A moved and a grown patch: new distances and area, the workbench initialised on them.
    EditCell(1, models::pcX, "30");
    EditCell(2, models::pcArea, "77");
    Click(fDialog->btApply);
    QCOMPARE(bench->Initialisations, 1);
    QCOMPARE(models::DistanceMat[0][1], 30 - (0.1 + 0.2));
    QCOMPARE(fMain->edTotalArea->text(), QString("157"));
    QCOMPARE(bench->Seen[2].A, 77.0);
    // A negative area is refused, and said.
    EditCell(2, models::pcArea, "-5");
    Click(fDialog->btApply);
    QCOMPARE(models::Patches[2].A, 77.0);
    QVERIFY(fDialogs->Messages.at(0).find("Patch 3, Area A") != std::string::npos);
  }

  void AGeneratedLandscapeReachesTheWorkbenchWithItsFill() {
    auto* bench = new tRecordingWorkbench(fMain);
    fMain->AddNewModel(bench);
    SetParameters(models::pdFixedProductivity, "0.5", "0.5", "1", "0.2");
    fMain->seNbPatch->setValue(4);
    Click(fMain->btMakeLandscape);
    QCOMPARE(bench->Initialisations, 1);  // one sequence, which sees the fill
    for (size_t i = 0; i < 4; ++i)
      QVERIFY(bench->Seen.at(i).b == (i < 2 ? 0.945 : 0.055) && bench->Seen[i].e == 0.2);
  }

  void TheShownTableFollowsTheLandscape() {
    SetPatches(4);
    ShowDialog();
    // A patch added by a double click, then patch 2 removed.
    for (auto type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease, QEvent::MouseButtonDblClick,
                      QEvent::MouseButtonRelease})
      Send(type, 15, 60);
    QTRY_COMPARE(ColumnTexts(models::pcX), QStringList({"0", "10", "20", "30", "15"}));
    QCOMPARE(Cell(4, models::pcTitle), QString("Patch 5"));
    fMain->seID->setValue(2);
    Click(fMain->btRemovePatch);
    QTRY_COMPARE(ColumnTexts(models::pcX), QStringList({"0", "20", "30", "15"}));
    EditCell(1, models::pcY, "8");
    Click(fDialog->btApply);
    QVERIFY(models::Patches[1].y == 8 && models::Patches[1].x == 20 && models::Patches[2].y == 5);
    // An Apply before the table followed a change refills it and reaches no patch.
    EditCell(3, models::pcX, "99");
    models::Patches.erase(models::Patches.begin());
    fMain->ChangePatches();
    fDialog->btApply->click();
    QVERIFY(fDialogs->Messages.at(0).find("nothing was applied") != std::string::npos);
    QCOMPARE(ColumnTexts(models::pcX), QStringList({"20", "30", "15"}));
    QCOMPARE(models::Patches[2].x, 15.0);
    // A drag refills it once, at the end.
    Send(QEvent::MouseButtonPress, 20, 8);
    for (double x : {25.0, 35.0}) {
      Send(QEvent::MouseMove, x, 8);
      Settle();
    }
    QVERIFY(models::Patches[0].x == 35 && Cell(0, models::pcX) == "20");
    Send(QEvent::MouseButtonRelease, 35, 8);
    QTRY_COMPARE(Cell(0, models::pcX), QString("35"));
    // A cell being typed into when the landscape changes is dropped, even where
    // its row, now another patch's, shows the same text.
    SetPatches(4);
    EditCell(1, models::pcY, "77", false);
    models::Patches.erase(models::Patches.begin());
    fMain->ChangePatches();
    QTRY_COMPARE(ColumnTexts(models::pcX), QStringList({"10", "20", "30"}));
    fDialog->sgPatchData->setCurrentCell(0, models::pcX);  // an open editor would commit here
    Click(fDialog->btApply);
    QCOMPARE(models::Patches[1].y, 5.0);
    // Changes while hidden show when it shows again.
    fDialog->close();
    SetPatches(2);
    ShowDialog();
    QCOMPARE(fDialog->sgPatchData->rowCount(), 2);
  }

  void ResetResizeAndColumnWidths() {
    SetPatches(3, {{1, 12.5, -3, 1e-7, 0.5, 0.1}});
    ShowDialog();
    QCOMPARE(ColumnTexts(models::pcTitle), QStringList({"Patch 1", "Patch 2", "Patch 3"}));
    QCOMPARE(QStringList({Cell(0, 1), Cell(0, 2), Cell(0, 3), Cell(0, 4), Cell(0, 5)}),
             QStringList({"12.5", "-3", "1E-7", "0.5", "0.1"}));
    const QFontMetrics cells(fDialog->sgPatchData->font());
    QCOMPARE(fDialog->sgPatchData->columnWidth(0), cells.horizontalAdvance("Patch 3") + 10);
    EditCell(0, models::pcBirth, "0.123456789012345");
    Click(fDialog->btResizeCols);
    QCOMPARE(fDialog->sgPatchData->columnWidth(models::pcBirth),
             cells.horizontalAdvance("0.123456789012345") + 10);
    Click(fDialog->btReset);
    QCOMPARE(Cell(0, models::pcBirth), QString("0.5"));
  }
};

QTEST_MAIN(PatchDataTest)
#include "PatchDataTest.moc"
