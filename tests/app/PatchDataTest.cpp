// The patch database dialog with the main window: filling, applying and
// following the landscape, driven by clicks and typing.
#include <QComboBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>
#include <QtTest>
#include <bit>
#include <cstdint>

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

uint64_t Bits(double value) {
  return std::bit_cast<uint64_t>(value);
}
}  // namespace

class PatchDataTest : public QObject {
  Q_OBJECT

  vandrel::TdlgVandrel* fMain = nullptr;
  vandrel::TdlgPatchData* fDialog = nullptr;
  testsupport::tScriptedDialogs* fDialogs = nullptr;

  void Settle() {
    for (int i = 0; i < 3; ++i) QApplication::processEvents();
  }
  // Patches i = 0..n-1 at (10 i, 5), area 40, b 0.25, e 0.5.
  void SetPatches(size_t n) {
    models::tArrayOfCircles patches(n);
    for (size_t i = 0; i < n; ++i) patches[i] = {static_cast<int32_t>(i + 1), 10.0 * i, 5, 40, 0.25, 0.5};
    SetPatches(patches);
  }
  void SetPatches(const models::tArrayOfCircles& patches) {
    models::Patches = patches;
    fMain->seNbPatch->setValue(static_cast<int>(patches.size()));
    fMain->ChangePatches();
  }
  void ShowDialog() {
    fDialog->show();
    QVERIFY(QTest::qWaitForWindowExposed(fDialog));
  }
  static void Type(QLineEdit* edit, const QString& text) {
    edit->setFocus();
    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_Delete);
    QTest::keyClicks(edit, text);
  }
  void SetParameters(int mode, const QString& P, const QString& q, const QString& D, const QString& e) {
    fDialog->cbPatchData->setCurrentIndex(mode);
    Type(fDialog->edOverallProductivity, P);
    Type(fDialog->edSourceProportion, q);
    Type(fDialog->edSourceDifferential, D);
    Type(fDialog->edExtinctionRisk, e);
  }
  static void Click(QPushButton* button) { QTest::mouseClick(button, Qt::LeftButton); }
  // Types into a cell through the table's own editor.
  void EditCell(int row, int column, const QString& text) {
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
    QTest::keyClick(editor, Qt::Key_Return);  // the editor commits once the key is handled
    QTRY_COMPARE(grid->item(row, column)->text(), text);
  }
  QString Cell(int row, int column) const { return fDialog->sgPatchData->item(row, column)->text(); }
  QStringList ColumnTexts(int column) const {
    QStringList texts;
    for (int r = 0; r < fDialog->sgPatchData->rowCount(); ++r) texts << Cell(r, column);
    return texts;
  }
  // Where a point of the landscape lies on the chart's viewport.
  QPointF At(double x, double y) const {
    const utile::gui::tGraphicChart* chart = fMain->chSpace;
    return chart->viewportTransform().map(chart->chart()->mapToScene(chart->ValueToPixel(QPointF(x, y))));
  }
  void Send(QEvent::Type type, Qt::MouseButton button, Qt::MouseButtons held, QPointF at) {
    QWidget* viewport = fMain->chSpace->viewport();
    QMouseEvent event(type, at, viewport->mapToGlobal(at), button, held, Qt::NoModifier);
    QApplication::sendEvent(viewport, &event);
  }

 private slots:
  void init() {
    vandrel::InstallMessagePump();
    fDialogs = &testsupport::InstallScriptedDialogs();
    models::ResetLandscape();
    fMain = new vandrel::TdlgVandrel;
    fDialog = vandrel::dlgPatchData = new vandrel::TdlgPatchData(fMain);
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
      const char* Name;
      size_t N;
      int Mode;
      QString P, q, D, e;
      QStringList Birth, Extinction;
    };
    const auto runs = [](int n1, const QString& a, int n2 = 0, const QString& b = "") {
      QStringList texts;
      for (int i = 0; i < n1; ++i) texts << a;
      for (int i = 0; i < n2; ++i) texts << b;
      return texts;
    };
    const std::vector<tCase> cases = {
        {"source/sink", 10, models::pdSourceSink, "0.8", "0.3", "0.5", "0", runs(3, "0.8", 7, "0.3"),
         runs(10, "0")},
        {"one source", 10, models::pdSourceSink, "0.8", "0.01", "0.5", "0.1", runs(1, "0.8", 9, "0.3"),
         runs(10, "0.1")},
        {"every patch a source", 6, models::pdFixedProductivity, "1.1", "1", "1", "0", runs(6, "1.1"),
         runs(6, "0")},
        {"four patches", 4, models::pdFixedProductivity, "0.5", "0.5", "1", "0.02",
         runs(2, "0.945", 2, "0.055"), runs(4, "0.02")},
        // The table keeps what the patches hold.
        {"custom parameters", 3, models::pdCustomParameters, "0.8", "0.3", "0.5", "0.9", runs(3, "0.25"),
         runs(3, "0.5")},
    };
    ShowDialog();
    for (const tCase& c : cases) {
      qInfo() << c.Name;
      SetPatches(c.N);
      Settle();
      QCOMPARE(fDialog->sgPatchData->rowCount(), int(c.N));
      SetParameters(c.Mode, c.P, c.q, c.D, c.e);
      Click(fDialog->btFillTable);
      QCOMPARE(ColumnTexts(models::pcBirth), c.Birth);
      QCOMPARE(ColumnTexts(models::pcExtinction), c.Extinction);
      // Filling changes no patch.
      for (const models::tCircle& patch : models::Patches) QVERIFY(patch.b == 0.25 && patch.e == 0.5);
      Click(fDialog->btApply);
      for (size_t i = 0; i < c.N; ++i) {
        QCOMPARE(models::Patches[i].b, c.Birth[int(i)].toDouble());
        QCOMPARE(models::Patches[i].e, c.Extinction[int(i)].toDouble());
      }
      QVERIFY(fDialogs->Messages.empty());
    }
  }

  void ACellThatIsNoNumberKeepsItsField() {
    SetPatches(3);
    ShowDialog();
    EditCell(0, models::pcX, "abc");
    EditCell(1, models::pcArea, "77");
    Click(fDialog->btApply);
    QCOMPARE(models::Patches[0].x, 0.0);
    QCOMPARE(models::Patches[1].A, 77.0);
    // The sequence ran: the total area follows; the table shows the patches again.
    QCOMPARE(fMain->edTotalArea->text(), QString("157"));
    QCOMPARE(Cell(0, models::pcX), QString("0"));
    QCOMPARE(Cell(1, models::pcArea), QString("77"));
    // A negative area is no area: refused, and said.
    EditCell(2, models::pcArea, "-5");
    Click(fDialog->btApply);
    QCOMPARE(models::Patches[2].A, 40.0);
    QCOMPARE(fDialogs->Kinds, std::vector<utile::gui::tMessageKind>{utile::gui::tMessageKind::mkWarning});
    QVERIFY(fDialogs->Messages[0].find("Patch 3, Area A") != std::string::npos);
  }

  void ApplyRunsTheLandscapeSequenceOnlyForAChange() {
    // Numbers that the table shows rounded.
    SetPatches({{1, 0.1 + 0.2, 1.0 / 3, 40, 2.0 / 3, 1e-17 + 0.1}, {2, 100, 1.0 / 3, 40, 0, 0}});
    auto* bench = new tRecordingWorkbench(fMain);
    fMain->AddNewModel(bench);
    ShowDialog();
    const models::tCircle before = models::Patches[0];
    Click(fDialog->btApply);
    QCOMPARE(bench->Initialisations, 0);
    for (double models::tCircle::*field : {&models::tCircle::x, &models::tCircle::y, &models::tCircle::A,
                                           &models::tCircle::b, &models::tCircle::e})
      QCOMPARE(Bits(models::Patches[0].*field), Bits(before.*field));
    // A moved patch: new distances, and the workbench initialised on them.
    EditCell(1, models::pcX, "30");
    Click(fDialog->btApply);
    QCOMPARE(bench->Initialisations, 1);
    QCOMPARE(models::DistanceMat[0][1], 30 - (0.1 + 0.2));
    QCOMPARE(bench->Seen[1].x, 30.0);
    QCOMPARE(Bits(bench->Seen[0].y), Bits(1.0 / 3));
  }

  void AGeneratedLandscapeReachesTheWorkbenchWithItsFill() {
    auto* bench = new tRecordingWorkbench(fMain);
    fMain->AddNewModel(bench);
    SetParameters(models::pdFixedProductivity, "0.5", "0.5", "1", "0.2");
    fMain->seNbPatch->setValue(4);
    const int before = bench->Initialisations;
    Click(fMain->btMakeLandscape);
    // One landscape sequence, which already sees the fill.
    QCOMPARE(bench->Initialisations, before + 1);
    QCOMPARE(bench->Seen.size(), size_t(4));
    for (size_t i = 0; i < 4; ++i) {
      QCOMPARE(bench->Seen[i].b, i < 2 ? 0.945 : 0.055);
      QCOMPARE(bench->Seen[i].e, 0.2);
    }
    // A workbench made from the menu starts on the filled table too.
    SetParameters(models::pdSourceSink, "0.8", "0.3", "0.5", "0");
    fMain->SetWorkbenchFactory(vandrel::tWorkbenchKind::wkGraph,
                               [](vandrel::TdlgVandrel* owner) { return new tRecordingWorkbench(owner); });
    fMain->mnNewGraph->trigger();
    QCOMPARE(bench->Seen[0].b, 0.8);  // the former current workbench, initialised by the sequence
    QCOMPARE(models::Patches[3].b, 0.3);
  }

  void TheFixedRuleEndsAndSaysWhenNoSinkValueFits() {
    struct tCase {
      const char* Name;
      size_t N;
      QString P, q;
      QStringList Birth;
      bool Said;
    };
    const std::vector<tCase> cases = {
        {"one patch", 1, "0.7", "0.3", {"0.7"}, false},
        {"more sources than patches", 3, "0.6", "2", {"0.6", "0.6", "0.6"}, false},
        {"a negative mean", 3, "-1", "0.4", {"", "0", "0"}, true},
    };
    ShowDialog();
    for (const tCase& c : cases) {
      qInfo() << c.Name;
      fDialogs->Messages.clear();
      SetPatches(c.N);
      Settle();
      SetParameters(models::pdFixedProductivity, c.P, c.q, "1", "0");
      Click(fDialog->btFillTable);
      const QStringList birth = ColumnTexts(models::pcBirth);
      for (int i = 0; i < birth.size(); ++i)
        if (!c.Birth[i].isEmpty()) QCOMPARE(birth[i], c.Birth[i]);
      QCOMPARE(fDialogs->Messages.size(), size_t(c.Said ? 1 : 0));
      if (c.Said) QVERIFY(fDialogs->Messages[0].find("the sinks get 0") != std::string::npos);
    }
  }

  void TheShownTableFollowsTheLandscape() {
    SetPatches(4);
    ShowDialog();
    // A patch added by a double click.
    const QPointF at = At(15, 60);
    Send(QEvent::MouseButtonPress, Qt::LeftButton, Qt::LeftButton, at);
    Send(QEvent::MouseButtonRelease, Qt::LeftButton, Qt::NoButton, at);
    Send(QEvent::MouseButtonDblClick, Qt::LeftButton, Qt::LeftButton, at);
    Send(QEvent::MouseButtonRelease, Qt::LeftButton, Qt::NoButton, at);
    QCOMPARE(models::Patches.size(), size_t(5));
    QTRY_COMPARE(fDialog->sgPatchData->rowCount(), 5);
    QCOMPARE(Cell(4, models::pcTitle), QString("Patch 5"));
    QCOMPARE(Cell(4, models::pcX), QString("15"));
    // Patch 2 removed: its row now stands for the former third patch.
    fMain->seID->setValue(2);
    Click(fMain->btRemovePatch);
    QTRY_COMPARE(fDialog->sgPatchData->rowCount(), 4);
    QCOMPARE(ColumnTexts(models::pcX), QStringList({"0", "20", "30", "15"}));
    EditCell(1, models::pcY, "8");
    Click(fDialog->btApply);
    QCOMPARE(models::Patches[1].y, 8.0);
    QCOMPARE(models::Patches[1].x, 20.0);
    QCOMPARE(models::Patches[2].y, 5.0);
    // An Apply that comes before the table followed a change reaches no patch.
    EditCell(3, models::pcX, "99");
    models::Patches.erase(models::Patches.begin());
    fMain->ChangePatches();
    fDialog->btApply->click();
    QCOMPARE(fDialogs->Messages.size(), size_t(1));
    QVERIFY(fDialogs->Messages[0].find("nothing was applied") != std::string::npos);
    QCOMPARE(ColumnTexts(models::pcX), QStringList({"20", "30", "15"}));
    QCOMPARE(models::Patches[2].x, 15.0);
    // Changes while the dialog is hidden are shown when it shows again.
    fDialog->close();
    SetPatches(2);
    ShowDialog();
    QCOMPARE(fDialog->sgPatchData->rowCount(), 2);
  }

  void ADragRefillsTheTableOnceItEnds() {
    SetPatches({{1, 20, 20, 40, 0, 0}, {2, 60, 60, 40, 0, 0}});
    fMain->chSpace->Refresh();
    ShowDialog();
    Settle();
    Send(QEvent::MouseButtonPress, Qt::LeftButton, Qt::LeftButton, At(20, 20));
    for (double x : {25.0, 30.0, 35.0}) {
      Send(QEvent::MouseMove, Qt::NoButton, Qt::LeftButton, At(x, 20));
      Settle();
    }
    QCOMPARE(models::Patches[0].x, 35.0);
    QCOMPARE(Cell(0, models::pcX), QString("20"));  // not refilled during the drag
    Send(QEvent::MouseButtonRelease, Qt::LeftButton, Qt::NoButton, At(35, 20));
    QTRY_COMPARE(Cell(0, models::pcX), QString("35"));
  }

  void ResetResizeAndColumnWidths() {
    // The header texts fit, with 10 pixels to spare (or the header's least width).
    const QHeaderView* header = fDialog->sgPatchData->horizontalHeader();
    for (int c = 1; c < models::PatchColumnCount; ++c)
      QCOMPARE(fDialog->sgPatchData->columnWidth(c),
               std::max(header->minimumSectionSize(),
                        QFontMetrics(header->font())
                                .horizontalAdvance(fDialog->sgPatchData->horizontalHeaderItem(c)->text()) +
                            10));
    SetPatches({{1, 12.5, -3, 1e-7, 0.5, 0.1}, {2, 0, 0, 5, 0, 0}, {3, 0, 0, 5, 0, 0}});
    ShowDialog();
    QCOMPARE(ColumnTexts(models::pcTitle), QStringList({"Patch 1", "Patch 2", "Patch 3"}));
    QCOMPARE(QStringList({Cell(0, 1), Cell(0, 2), Cell(0, 3), Cell(0, 4), Cell(0, 5)}),
             QStringList({"12.5", "-3", "1E-7", "0.5", "0.1"}));
    const QFontMetrics cells(fDialog->sgPatchData->font());
    QCOMPARE(fDialog->sgPatchData->columnWidth(0), cells.horizontalAdvance("Patch 3") + 10);
    QVERIFY(!(fDialog->sgPatchData->item(0, 0)->flags() & Qt::ItemIsEditable));
    EditCell(0, models::pcBirth, "0.123456789012345");
    Click(fDialog->btResizeCols);
    QCOMPARE(fDialog->sgPatchData->columnWidth(models::pcBirth),
             cells.horizontalAdvance("0.123456789012345") + 10);
    Click(fDialog->btReset);
    QCOMPARE(Cell(0, models::pcBirth), QString("0.5"));
    Click(fDialog->btApply);
    QCOMPARE(models::Patches[0].b, 0.5);
  }
};

QTEST_MAIN(PatchDataTest)
#include "PatchDataTest.moc"
