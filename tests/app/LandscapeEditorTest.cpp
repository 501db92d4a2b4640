// The landscape editor of the main window: what each control starts, the
// chart and its layers, and editing with the mouse.
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QValueAxis>
#include <QtTest>
#include <cmath>
#include <functional>

#include "MainWindowHarness.h"
#include "ScriptedDialogs.h"
#include "TestSupport/ReferenceGenerator.h"
#include "TestWorkbench.h"
#include "Utile/RunTime.h"
#include "Utile/gui/CustomChartSeries.h"
#include "Utile/gui/GraphicOps.h"
#include "app/WindowServices.h"
#include "app/dlgPatchDataU.h"
#include "app/dlgVandrelU.h"
#include "models/LandscapeGenerator.h"

using testsupport::tTestWorkbench;

namespace {
// A workbench with the landscape-analysis parameters.
class tParamWorkbench : public tTestWorkbench {
 public:
  using tTestWorkbench::tTestWorkbench;
  bool HasGetParam() const override { return true; }
  models::tParam GetParam() override {
    models::tParam param;
    param.Territ = 1;
    param.alph = 0.02;
    param.ZetaEm = 1, param.ZetaIm = 0.5, param.ZetaExt = 0.5;
    return param;
  }
};
}  // namespace

class LandscapeEditorTest : public QObject {
  Q_OBJECT

  vandrel::TdlgVandrel* fMain = nullptr;
  testsupport::tScriptedDialogs* fDialogs = nullptr;

  utile::gui::tBubbleSeries* Bubbles() const {
    return qobject_cast<utile::gui::tBubbleSeries*>(fMain->chSpace->SeriesAt(0));
  }
  void Settle() {
    fMain->chSpace->Refresh();
    for (int i = 0; i < 3; ++i) QApplication::processEvents();
  }
  // A landscape of the generator; the sizes are "Fixed" (40) unless told.
  void Make(int geometry, int count, int sizes = models::psFixed) {
    fMain->cbPatchGeometry->setCurrentIndex(geometry);
    fMain->cbPatchSizes->setCurrentIndex(sizes);
    fMain->seNbPatch->setValue(count);
    fMain->btMakeLandscapeClick();
    Settle();
  }
  void SetPatches(const models::tArrayOfCircles& patches) {
    models::Patches = patches;
    fMain->ChangePatches();
    Settle();
  }
  // Where a point of the landscape lies on the chart's viewport.
  QPointF At(double x, double y) const { return testsupport::LandscapePoint(fMain, x, y); }
  void Send(QEvent::Type type, Qt::MouseButton button, Qt::MouseButtons held, QPointF at) {
    testsupport::SendChartMouse(fMain, type, button, held, at);
  }
  void Drag(Qt::MouseButton button, QPointF from, QPointF to) {
    Send(QEvent::MouseButtonPress, button, button, At(from.x(), from.y()));
    Send(QEvent::MouseMove, Qt::NoButton, button, At(to.x(), to.y()));
    Send(QEvent::MouseButtonRelease, button, Qt::NoButton, At(to.x(), to.y()));
  }
  void Click(double x, double y) { Drag(Qt::LeftButton, {x, y}, {x, y}); }
  void DoubleClick(double x, double y) {
    Click(x, y);
    Send(QEvent::MouseButtonDblClick, Qt::LeftButton, Qt::LeftButton, At(x, y));
    Send(QEvent::MouseButtonRelease, Qt::LeftButton, Qt::NoButton, At(x, y));
  }
  void PressDelete() {
    QKeyEvent key(QEvent::KeyPress, Qt::Key_Delete, Qt::NoModifier);
    QApplication::sendEvent(fMain->chSpace, &key);
  }
  QRgb PixelAt(const QImage& picture, double x, double y) const {
    const QPoint p = fMain->chSpace->mapFromScene(
        fMain->chSpace->chart()->mapToScene(fMain->chSpace->ValueToPixel(QPointF(x, y))));
    return picture.pixel(p);
  }

 private slots:
  void init() {
    fMain = testsupport::OpenMainWindow(fDialogs);
    fMain->resize(1100, 800);
    fMain->show();
    QVERIFY(QTest::qWaitForWindowExposed(fMain));
    Settle();
  }
  void cleanup() {
    testsupport::CloseMainWindow(fMain);
  }

  void EachChangeStartsWhatItShould() {
    // Observed: a new landscape (square layout), new colours (the colour
    // generator restarted), a redraw (colours of ShowPatchValue undone), new links.
    using W = vandrel::TdlgVandrel*;  // a window made for the change
    struct tCase {
      const char* Name;
      bool Generates, Recolours, Redraws, Links;
      std::function<void(W)> Change;
    };
    // clang-format off
    const std::vector<tCase> cases = {
        {"topology", 1, 0, 1, 1, [](W m) { emit m->cbPatchGeometry->activated(1); }},
        {"sizes", 1, 0, 1, 1, [](W m) { emit m->cbPatchSizes->activated(1); }},
        {"connectance", 1, 0, 1, 1, [](W m) { emit m->cbConnectance->activated(0); }},
        {"minimum area", 1, 0, 1, 1, [](W m) { m->seMinArea->setValue(2); }},
        {"maximum area", 1, 0, 1, 1, [](W m) { m->seMaxArea->setValue(30); }},
        {"large patches", 1, 0, 1, 1, [](W m) { m->sePropLargePatches->setValue(20); }},
        {"make landscape", 1, 0, 1, 1, [](W m) { m->btMakeLandscape->click(); }},
        {"patch number", 0, 1, 0, 0, [](W m) { m->seNbPatch->setValue(4); }},
        {"isolated area", 0, 1, 0, 0, [](W m) { m->seIsolatedPatchArea->setValue(7); }},
        {"isolated distance", 0, 1, 0, 0, [](W m) { m->seIsolatedPatchDistance->setValue(7); }},
        {"width", 0, 0, 1, 0, [](W m) { m->seWidth->setValue(300); }},
        {"height", 0, 0, 0, 0, [](W m) { m->seHeight->setValue(300); }},
        {"height clicked", 0, 0, 1, 0, [](W m) { QTest::mouseClick(m->seHeight, Qt::LeftButton); }},
        {"height left", 0, 0, 1, 0, [](W m) { emit m->seHeight->editingFinished(); }},
        {"new patch area", 0, 0, 1, 0, [](W m) { m->seNewPatchArea->setValue(20); }},
        {"distance threshold", 0, 0, 0, 1, [](W m) { m->edDistanceThreshold->setText("150"); }},
        {"link percentage", 0, 0, 0, 1, [](W m) { m->seConnectance->setValue(30); }},
        {"mean distance clicked", 0, 0, 1, 1, [](W m) { QTest::mouseClick(m->edSurvivalDistance, Qt::LeftButton); }},
        {"permeability clicked", 0, 0, 1, 1, [](W m) { QTest::mouseClick(m->edFixedSurvival, Qt::LeftButton); }},
    };
    // clang-format on
    for (const tCase& c : cases) {
      cleanup();
      init();
      fMain->cbPatchGeometry->setCurrentIndex(models::pgSquare);  // chosen without a new landscape
      utile::RandSeed = 12345;
      fMain->ShowPatchValue({1, 2, 3});
      models::ConnectanceMat.clear();
      c.Change(fMain);
      QVERIFY2((models::Patches[1].y == 0) == c.Generates, c.Name);
      QVERIFY2((utile::RandSeed != 12345) == c.Recolours, c.Name);
      QVERIFY2((Bubbles()->PointColor(1) == utile::gui::ToQColor(fMain->PatchColor[1])) == c.Redraws, c.Name);
      QVERIFY2(models::ConnectanceMat.empty() != c.Links, c.Name);
    }
    // The three real-number edits take digits, signs and points only.
    for (vandrel::tLabeledEdit* edit :
         {fMain->edDistanceThreshold, fMain->edSurvivalDistance, fMain->edFixedSurvival}) {
      edit->clear();
      edit->setFocus();
      QTest::keyClicks(edit, "1a-2.5e");
      QCOMPARE(edit->text(), QString("1-2.5"));
    }
  }

  void ABatchLineMakesOneLandscape() {
    auto* bench = new tTestWorkbench(fMain);
    fMain->AddNewModel(bench);
    fMain->cbPatchGeometry->setCurrentIndex(models::pgRandom);
    fMain->cbPatchSizes->setCurrentIndex(models::psRandom);
    // What the line's own rebuild makes: the colours of 9 patches, then one
    // random landscape over the spans shown before it.
    models::tLandscapeSettings s;
    s.Geometry = models::pgRandom;
    s.Sizes = models::psRandom;
    s.PatchCount = 9;
    s.Width = 150, s.Height = 160, s.MinArea = 2, s.MaxArea = 30;
    s.IsolatedPatchArea = s.IsolatedPatchDistance = 5;
    s.SpaceRangeX = fMain->SpaceRangeX(), s.SpaceRangeY = fMain->SpaceRangeY();
    models::tPatchColors colors;
    colors.Generate(9);
    const models::tArrayOfCircles expected = models::GenerateLandscape(s, {}).Patches;
    const uint32_t seedAfter = utile::RandSeed;
    bench->MakeLandscape("MakeLandscape(150,160,9,5,5,2,30)", false);
    QCOMPARE(fMain->seMaxArea->value(), 30);
    QCOMPARE(models::Patches.size(), size_t(9));
    for (size_t i = 0; i < 9; ++i) {
      QCOMPARE(models::Patches[i].x, expected[i].x);
      QCOMPARE(models::Patches[i].A, expected[i].A);
    }
    QCOMPARE(utile::RandSeed, seedAfter);
  }

  void PermeabilityChoicesEndInARuleThatCanBeUsed() {
    struct tCase {
      int From;  // the rule in force
      int Chosen;
      const char* Map;  // the permeability map's name
      int Shown;
      utile::Byte InForce;
      bool NewLandscape;
    };
    for (const tCase& c : std::initializer_list<tCase>{{0, 3, "map.rst", 2, models::ptStraightLine, true},
                                                       {0, 3, "", 0, models::ptConstant, false},
                                                       {0, 2, "", 0, models::ptConstant, false},
                                                       {1, 2, "", 0, models::ptConstant, true},
                                                       {0, 1, "", 1, models::ptExponential, true}}) {
      cleanup();
      init();
      models::PermeabilityType = static_cast<utile::Byte>(c.From);
      fMain->cbPermeability->setCurrentIndex(c.From);
      fMain->edPermeabilityMap->setText(c.Map);
      fMain->cbPatchGeometry->setCurrentIndex(models::pgSquare);
      const models::tArrayOfCircles before = models::Patches;
      const utile::tMatrixOfDouble friction = models::FrictionMap;
      fMain->cbPermeability->setCurrentIndex(c.Chosen);
      emit fMain->cbPermeability->activated(c.Chosen);
      QCOMPARE(fMain->cbPermeability->currentIndex(), c.Shown);
      QCOMPARE(models::PermeabilityType, c.InForce);
      QCOMPARE(models::Patches[1].y == 0, c.NewLandscape);
      if (!c.NewLandscape) {
        QCOMPARE(models::Patches[1].x, before[1].x);
        QVERIFY(models::FrictionMap == friction);
      }
      QCOMPARE(fMain->edFixedSurvival->isVisibleTo(fMain->tsLinks), c.Shown == 0);
    }
  }

  void TypedPermeabilitiesAreInForceOnceTheEditIsUsed() {
    emit fMain->cbPermeability->activated(0);
    fMain->edFixedSurvival->setText("0.25");
    QCOMPARE(models::FrictionMap[0][1], 1.0);  // typed, not yet used
    emit fMain->edFixedSurvival->editingFinished();
    QCOMPARE(models::ConstantPermeability, 0.25);
    QCOMPARE(models::FrictionMap[0][1], 0.25);
    fMain->cbPermeability->setCurrentIndex(1);
    emit fMain->cbPermeability->activated(1);
    fMain->edSurvivalDistance->setText("50");
    QTest::mouseClick(fMain->edSurvivalDistance, Qt::LeftButton);
    QCOMPARE(models::MeanPermeabilityDistance, 50.0);
    QCOMPARE(models::FrictionMap[0][1], std::exp(-models::DistanceMat[0][1] / 50));
  }

  void ColoursAndTheRandomLandscapeAfterACountChange() {
    fMain->seWidth->setValue(100);
    fMain->seHeight->setValue(100);
    fMain->seNbPatch->setValue(4);
    fMain->seNbPatch->setValue(3);  // 3 + 2 x (7 - 3) = 11 draws
    fMain->cbPatchGeometry->setCurrentIndex(models::pgRandom);
    emit fMain->cbPatchGeometry->activated(models::pgRandom);
    testsupport::tColourStream stream;
    std::vector<double> u;
    for (int k = 0; k < 17; ++k) u.push_back(stream.Next());
    const double expected[3][2] = {{47.4794, 7.0569}, {84.0854, 5.9724}, {29.3297, 91.7285}};
    for (int i = 0; i < 3; ++i) {
      QCOMPARE(models::Patches[i].x, 100 * u[11 + 2 * i]);
      QCOMPARE(models::Patches[i].y, 100 * u[12 + 2 * i]);
      QVERIFY(std::abs(models::Patches[i].x - expected[i][0]) < 5e-5);
      QVERIFY(std::abs(models::Patches[i].y - expected[i][1]) < 5e-5);
      const utile::TColor color = utile::HSItoRGB(i / 3.0, 1.0, 0.3 + 0.7 * u[i]);
      QCOMPARE(fMain->PatchColor[i], color);
      QCOMPARE(Bubbles()->PointColor(i), utile::gui::ToQColor(color));
    }
    QCOMPARE(fMain->PatchColor.size(), size_t(7));
    QCOMPARE(fMain->PatchColor[4], utile::HSItoRGB(u[5], 1.0, 0.3 + 0.7 * u[6]));
    // A count typed smaller than the landscape: every patch still has a colour,
    // by the rule of the later entries, and the generator stays where the table left it.
    Make(models::pgSquare, 10);
    fMain->seNbPatch->setValue(1);
    const uint32_t afterTable = utile::RandSeed;
    fMain->ckShowID->setChecked(false);  // a redraw
    QCOMPARE(Bubbles()->count(), 10);
    stream = {};
    stream.Next();
    for (int i = 1; i < 10; ++i) {
      const double hue = stream.Next();
      QCOMPARE(Bubbles()->PointColor(i),
               utile::gui::ToQColor(utile::HSItoRGB(hue, 1.0, 0.3 + 0.7 * stream.Next())));
      if (i == 1) QCOMPARE(afterTable, stream.Seed);
    }
    QCOMPARE(utile::RandSeed, afterTable);
  }

  void ARandomLayoutThatCannotBePlacedLeavesTheLandscape() {
    const models::tArrayOfCircles before = models::Patches;
    fMain->seWidth->setValue(10);
    fMain->seHeight->setValue(10);
    fMain->seNbPatch->setValue(2000);
    fMain->cbPatchGeometry->setCurrentIndex(models::pgRandom);
    emit fMain->cbPatchGeometry->activated(models::pgRandom);
    QCOMPARE(fDialogs->Messages.size(), size_t(1));
    QVERIFY(fDialogs->Messages[0].find("patches could be placed at least 2 apart") != std::string::npos);
    QCOMPARE(models::Patches.size(), before.size());
    QCOMPARE(models::Patches[2].x, before[2].x);
    QCOMPARE(models::DistanceMat.size(), before.size());
  }

  void DrawingFollowsTheDisplayChoicesAndTheSelection() {
    Make(models::pgSquare, 4);
    // Radii of the areas, or a hundredth of the bottom axis (0..100 here).
    fMain->ckShowArea->setChecked(false);
    QCOMPARE(Bubbles()->Radius(0), 1.0);
    fMain->ckShowArea->setChecked(true);
    QCOMPARE(Bubbles()->Radius(0), std::sqrt(40 / M_PI));
    QVERIFY(Bubbles()->pointLabelsVisible());
    fMain->ckShowID->setChecked(false);
    QVERIFY(!Bubbles()->pointLabelsVisible());
    QCOMPARE(Bubbles()->PointLabel(3), QString("4"));
    fMain->seID->setValue(2);
    QCOMPARE(Bubbles()->PointColor(1), QColor(Qt::red));
    QCOMPARE(Bubbles()->PointColor(0), QColor(Qt::black));
    QVERIFY(fMain->grpSelectedPatch->isEnabled());
    QCOMPARE(fMain->seX->value(), 100);
    // Contributions in grey, from a capacity computed for these patches.
    auto* bench = new tParamWorkbench(fMain);
    fMain->AddNewModel(bench);
    fMain->seID->setValue(0);
    const models::tParam param = bench->GetParam();
    models::ComputeMetapopulationCapacity(&param, models::Patches);
    const utile::tVectorOfDouble values = models::ComputeHanskiPatchValue(models::Patches);
    const double top = *std::max_element(values.begin(), values.end());
    fMain->ckPatchContribution->setChecked(true);
    for (int i = 0; i < 4; ++i) {
      const int g = std::min<int>(255, static_cast<int>(utile::Round((1 - values[i] / top) * 255)));
      QCOMPARE(Bubbles()->PointColor(i), QColor(g, g, g));
    }
    // A capacity computed for other patches shows no contribution: all black.
    fMain->ckComputeMetapop->setChecked(false);
    models::Patches.pop_back();
    fMain->ChangePatches();
    for (int i = 0; i < 3; ++i) QCOMPARE(Bubbles()->PointColor(i), QColor(0, 0, 0));
  }

  void AxesFollowTheStudyAreaOrTheFilePatches() {
    fMain->cbPatchGeometry->setCurrentIndex(models::pgFromFile);
    SetPatches({models::tCircle{1, 10.4, 20.2, 5, 0, 0}, models::tCircle{2, 30.6, 45.3, 5, 0, 0}});
    QCOMPARE(fMain->chSpace->BottomAxis()->min(), 9.0);
    QCOMPARE(fMain->chSpace->BottomAxis()->max(), 32.0);  // round(31.6)
    QCOMPARE(fMain->chSpace->LeftAxis()->min(), 19.0);
    QCOMPARE(fMain->chSpace->LeftAxis()->max(), 46.0);
    QCOMPARE(fMain->seWidth->value(), 22);   // round(22.2)
    QCOMPARE(fMain->seHeight->value(), 27);  // round(27.1)
    QCOMPARE(models::MapWidth, 22);
    fMain->cbPatchGeometry->setCurrentIndex(models::pgFrozen);
    fMain->ChangePatches();
    QCOMPARE(fMain->chSpace->BottomAxis()->min(), 0.0);
    QCOMPARE(fMain->chSpace->BottomAxis()->max(), 22.0);
    QCOMPARE(fMain->SpaceRangeY(), 27.0);
    Make(models::pgSquare, 1);  // a study area of 0 is held to the bounds
    QCOMPARE(fMain->seWidth->value(), 10);
  }

  void MouseDragsMoveAndResizeTheSelectedPatch() {
    auto* bench = new tTestWorkbench(fMain);
    fMain->AddNewModel(bench);
    Make(models::pgSquare, 5);
    const int initialised = bench->Initialisations;
    // A left drag from (100.5, 100.3) moves patch 5 to the rounded position.
    Send(QEvent::MouseButtonPress, Qt::LeftButton, Qt::LeftButton, At(100.5, 100.3));
    QCOMPARE(fMain->SelCircle, 4);
    Send(QEvent::MouseMove, Qt::NoButton, Qt::LeftButton, At(123.9, 110.9));
    QCOMPARE(models::Patches[4].x, 123.0);
    QCOMPARE(models::Patches[4].y, 111.0);
    QCOMPARE(models::DistanceMat[0][4], std::hypot(123.0, 111.0));
    QCOMPARE(fMain->seX->value(), 123);
    // The same rounded position changes nothing; nothing is initialised while the button is held.
    models::ConnectanceMat.clear();
    Send(QEvent::MouseMove, Qt::NoButton, Qt::LeftButton, At(123.7, 111.1));
    QVERIFY(models::ConnectanceMat.empty());
    QCOMPARE(bench->Initialisations, initialised);
    Send(QEvent::MouseButtonRelease, Qt::LeftButton, Qt::NoButton, At(123.7, 111.1));
    QCOMPARE(bench->Initialisations, initialised + 1);
    // A right drag 2 units up from a patch of area 40: (2 + sqrt(40 / pi))^2 pi = 97.4.
    Drag(Qt::RightButton, {0, 0}, {0.7, 2});
    QCOMPARE(fMain->SelCircle, 0);
    QCOMPARE(models::Patches[0].A, 97.0);
    QCOMPARE(fMain->seArea->value(), 97);
    QCOMPARE(fMain->edTotalArea->text(), QString("257"));
    // A right press on a patch resizes it instead of opening the chart's menu;
    // elsewhere the menu opens.
    for (const QPointF& at : {QPointF(100, 0), QPointF(50, 50)}) {
      Send(QEvent::MouseButtonPress, Qt::RightButton, Qt::RightButton, At(at.x(), at.y()));
      const QPoint point = At(at.x(), at.y()).toPoint();
      QContextMenuEvent menu(QContextMenuEvent::Mouse, point, fMain->chSpace->viewport()->mapToGlobal(point));
      QApplication::sendEvent(fMain->chSpace->viewport(), &menu);
      Send(QEvent::MouseButtonRelease, Qt::RightButton, Qt::NoButton, At(at.x(), at.y()));
      QCOMPARE(utile::gui::GraphPopUp().isVisible(), at.x() == 50);
      utile::gui::GraphPopUp().hide();
    }
    // Activating the main window redraws the landscape.
    fMain->ShowPatchValue({3, 2, 1, 0, 5});
    fMain->activateWindow();
    QTRY_VERIFY(fMain->isActiveWindow());
    QEvent activation(QEvent::ActivationChange);
    QApplication::sendEvent(fMain, &activation);
    QCOMPARE(Bubbles()->PointColor(0), utile::gui::ToQColor(fMain->PatchColor[0]));
  }

  void ClicksSelectTheTopmostPatchOrNone() {
    const double r10 = 100 * M_PI;  // radius 10
    SetPatches({models::tCircle{1, 50, 50, r10, 0, 0}, models::tCircle{2, 60, 50, r10, 0, 0},
                models::tCircle{3, 150, 150, r10, 0, 0}});
    struct tCase {
      double x, y;
      int Selected;
    };
    for (const tCase& c : std::initializer_list<tCase>{
             {55, 50, 1}, {45, 50, 0}, {150, 155, 2}, {100, 100, -1}, {65, 52, 1}, {130, 150, -1}}) {
      Click(c.x, c.y);
      QCOMPARE(fMain->SelCircle, c.Selected);
      QCOMPARE(fMain->seID->value(), c.Selected + 1);
      QCOMPARE(fMain->grpSelectedPatch->isEnabled(), c.Selected >= 0);
      if (c.Selected < 0) QCOMPARE(fMain->seX->value() + fMain->seY->value() + fMain->seArea->value(), 0);
    }
  }

  void DoubleClicksAddAndDeleteRemoves() {
    Make(models::pgSquare, 5);
    Click(100, 0);
    PressDelete();
    QCOMPARE(models::Patches.size(), size_t(4));
    QCOMPARE(models::Patches[1].x, 200.0);  // the later patches moved down
    QCOMPARE(fMain->SelCircle, -1);
    QCOMPARE(fMain->seNbPatch->value(), 4);
    fMain->ckPatchContribution->setChecked(true);
    DoubleClick(37.3, 62.8);
    QCOMPARE(models::Patches.size(), size_t(5));
    const models::tCircle& added = models::Patches[4];
    QVERIFY(added.x == 37 && added.y == 63 && added.A == 10 && added.b == 0 && added.e == 0);
    QCOMPARE(added.popID, 6);  // none of the others has it
    QCOMPARE(fMain->SelCircle, 4);
    QCOMPARE(fMain->seID->value(), 5);
    QCOMPARE(fMain->seNbPatch->value(), 5);
    QCOMPARE(models::DistanceMat[4][0], std::hypot(37.0, 63.0));
    QVERIFY(!fMain->ckPatchContribution->isChecked() && !fMain->ckPatchContribution->isVisibleTo(fMain));
    // The selector counts the patches from 1 whatever their popIDs: the third patch has popID 4.
    fMain->seID->setValue(3);
    QCOMPARE(fMain->SelCircle, 2);
    QCOMPARE(fMain->seID->value(), 3);
    QCOMPARE(Bubbles()->PointLabel(2), QString("4"));
    Click(0, 0);
    Click(0, 100);
    QCOMPARE(fMain->seID->value(), 3);
    // Editing the selected patch changes its own field only.
    struct tEdit {
      QSpinBox* Control;
      int Value;
      models::tCircle Expected;
    };
    for (const tEdit& e :
         {tEdit{fMain->seX, 250, {4, 250, 100, 40, 0, 0}}, tEdit{fMain->seY, 30, {4, 250, 30, 40, 0, 0}},
          tEdit{fMain->seArea, 55, {4, 250, 30, 55, 0, 0}}}) {
      e.Control->setValue(e.Value);
      const models::tCircle& p = models::Patches[2];
      QVERIFY(p.popID == e.Expected.popID && p.x == e.Expected.x && p.y == e.Expected.y &&
              p.A == e.Expected.A);
    }
    QCOMPARE(models::DistanceMat[2][0], std::hypot(250.0, 30.0));
  }

  void RemovingDownToOnePatch() {
    Make(models::pgHexagon, 2);
    fMain->ckPotential->setChecked(true);
    Click(100, 100);
    fMain->btRemovePatch->click();
    QCOMPARE(models::Patches.size(), size_t(1));
    QVERIFY(!fMain->ckPotential->isChecked() && !fMain->ckComputeMetapop->isChecked());
    Click(150, 186.6);
    QCOMPARE(fMain->SelCircle, 0);
    PressDelete();
    QCOMPARE(models::Patches.size(), size_t(1));
    QCOMPARE(fDialogs->Messages.size(), size_t(1));
    QVERIFY(fDialogs->Messages[0].find("at least one patch") != std::string::npos);
  }

  void DistancesFromAFileKeepThePatchesInPlace() {
    Make(models::pgSquare, 3);
    models::DistanceMat = {{0, 7, 8}, {7, 0, 9}, {8, 9, 0}};
    models::DistanceMatFixed = true;
    fMain->ChangePatches();
    Drag(Qt::LeftButton, {0, 0}, {20, 30});
    QVERIFY(models::Patches[0].x == 0 && models::Patches[0].y == 0);
    Drag(Qt::RightButton, {0, 0}, {0, 2});
    QCOMPARE(models::Patches[0].A, 97.0);
    DoubleClick(50, 50);
    QCOMPARE(fDialogs->Messages.size(), size_t(1));
    QVERIFY(fDialogs->Messages[0].find("no patch can be added") != std::string::npos);
    QCOMPARE(models::Patches.size(), size_t(3));
    QCOMPARE(fMain->seNbPatch->value(), 3);
    QVERIFY(models::DistanceMat == utile::tMatrixOfDouble({{0, 7, 8}, {7, 0, 9}, {8, 9, 0}}));
    Click(100, 0);
    PressDelete();
    QVERIFY(models::DistanceMat == utile::tMatrixOfDouble({{0, 8}, {8, 0}}));
    QCOMPARE(models::FrictionMap.size(), size_t(2));
    // Nor can a new landscape of another number of patches use them.
    fMain->cbPatchGeometry->setCurrentIndex(models::pgFrozen);
    fMain->seNbPatch->setValue(4);
    fMain->btMakeLandscape->click();
    QVERIFY(fDialogs->Messages.back().find("for 2 patches: a landscape of 4 patches") != std::string::npos);
    QCOMPARE(models::Patches.size(), size_t(2));
  }

  void ARunningWorkbenchLocksTheMouseEdits() {
    auto* bench = new tTestWorkbench(fMain);
    fMain->AddNewModel(bench);
    Make(models::pgSquare, 4);
    bench->RunSteps = 2;
    bench->OnStep = [this](int) {
      Drag(Qt::LeftButton, {0, 0}, {30, 30});
      DoubleClick(50, 50);
      PressDelete();
    };
    bench->Run();
    QCOMPARE(models::Patches.size(), size_t(4));
    QVERIFY(models::Patches[0].x == 0 && models::Patches[0].y == 0);
  }

  void LayersUnderTheAxesShowBackgroundValueMapAndLinks() {
    auto* bench = new tTestWorkbench(fMain);
    fMain->AddNewModel(bench);
    bench->SetConnectivityFunction([bench](int32_t i, int32_t j) { return bench->InverseDistance(i, j); });
    Make(models::pgHexagon, 3);  // (100, 100), (150, 186.6), (50, 186.6) in 200 x 200
    fMain->Background = QImage(20, 20, QImage::Format_RGB32);
    fMain->Background.fill(QColor(0, 0, 255));
    const QRgb blue = qRgb(0, 0, 255);
    // Links 100 long in a study area of diagonal 283: strength 0.65, a dark grey.
    auto isLink = [](QRgb p) { return qRed(p) == qGreen(p) && qRed(p) < 150 && p != qRgb(0, 0, 255); };
    struct tCase {
      bool Shown;
      int Selected;
      bool Link01, Link02;
    };
    for (const tCase& c : std::initializer_list<tCase>{
             {true, -1, true, true}, {false, -1, false, false}, {true, 2, false, true}}) {
      fMain->ckShowConnectivity->setChecked(c.Shown);
      fMain->seID->setValue(c.Selected + 1);
      Settle();
      const QImage picture = fMain->chSpace->grab().toImage();
      QCOMPARE(PixelAt(picture, 33.3, 41.7), blue);
      QCOMPARE(isLink(PixelAt(picture, 125, 143.3)), c.Link01);
      QCOMPARE(isLink(PixelAt(picture, 75, 143.3)), c.Link02);
    }
    // Twenty thousand links and more are drawn one pixel wide, in their place.
    Make(models::pgHexagon, 201);  // eight rings over the background
    fMain->seID->setValue(0);
    Settle();
    const QImage many = fMain->chSpace->grab().toImage();
    QCOMPARE(PixelAt(many, 3, 3), blue);  // outside the hexagon
    const models::tCircle &p0 = models::Patches[0], &p1 = models::Patches[1];
    QVERIFY(isLink(PixelAt(many, (p0.x + p1.x) / 2, (p0.y + p1.y) / 2)));
    // The value map of a workbench with landscape parameters, once its capacity
    // is computed for these patches; none for a workbench without them.
    fMain->Background = QImage();
    Make(models::pgHexagon, 3);
    fMain->ckComputeMetapop->setChecked(true);
    fMain->ckPotential->setChecked(true);
    QVERIFY(fMain->lblLambda->isVisibleTo(fMain));
    Settle();
    QCOMPARE(PixelAt(fMain->chSpace->grab().toImage(), 103, 117), qRgb(255, 255, 255));
    auto* analysed = new tParamWorkbench(fMain);
    fMain->AddNewModel(analysed);
    const models::tParam param = analysed->GetParam();
    models::ComputeMetapopulationCapacity(&param, models::Patches);
    fMain->DrawSpace();
    Settle();
    const QRgb mapped = PixelAt(fMain->chSpace->grab().toImage(), 103, 117);
    QVERIFY(qGreen(mapped) == 255 && qBlue(mapped) < 200);
    // A precomputed map covers the study area, its row 0 at the bottom: cell
    // [1][0] of 0..3 takes entry round(254 x 2 / 3) = 169.
    models::ResultMap = {{0, 1}, {2, 3}};
    fMain->mnOnTheFly->setChecked(false);
    fMain->mnPrecomputed->setChecked(true);
    fMain->DrawSpace();
    Settle();
    const utile::TColor cell = fMain->MapPalette[169];
    QCOMPARE(PixelAt(fMain->chSpace->grab().toImage(), 160, 40),
             qRgb(utile::GetRValue(cell), utile::GetGValue(cell), utile::GetBValue(cell)));
  }

  // With READABLE_GRABS naming a folder: a picture of the chart for each layout,
  // with the links of a workbench and a selected patch.
  void GrabsOfEveryLayout() {
    const QByteArray folder = qgetenv("READABLE_GRABS");
    if (folder.isEmpty()) return;
    auto* bench = new tTestWorkbench(fMain);
    fMain->AddNewModel(bench);
    bench->SetConnectivityFunction(
        [bench](int32_t i, int32_t j) { return bench->GetConnectance(i, j) * bench->InverseDistance(i, j); });
    const char* names[] = {"random", "square", "grid", "triangle", "hexagon", "circle", "frozen", "fromfile"};
    for (int geometry = 0; geometry < 8; ++geometry) {
      fMain->cbConnectance->setCurrentIndex(geometry == 0 ? models::ctDelaunay : models::ctFullConnectance);
      if (geometry == 0) fMain->seWidth->setValue(500), fMain->seHeight->setValue(300);
      Make(geometry,
           geometry == 0   ? 40
           : geometry == 2 ? 4
                           : 12,
           geometry == 0 ? models::psRandom : models::psFixed);
      fMain->seID->setValue(geometry == 0 ? 0 : 2);
      Settle();
      fMain->chSpace->grab().save(QString("%1/%2.png").arg(QString(folder), names[geometry]));
    }
    // The value map on the fly, behind the links and the patches.
    auto* analysed = new tParamWorkbench(fMain);
    fMain->AddNewModel(analysed);
    analysed->SetConnectivityFunction(
        [analysed](int32_t i, int32_t j) { return analysed->InverseDistance(i, j); });
    Make(models::pgHexagon, 12);
    const models::tParam param = analysed->GetParam();
    models::ComputeMetapopulationCapacity(&param, models::Patches);
    fMain->ckComputeMetapop->setChecked(true);
    fMain->ckPotential->setChecked(true);
    fMain->seID->setValue(5);
    Settle();
    fMain->chSpace->grab().save(QString("%1/valuemap.png").arg(QString(folder)));
  }
};

QTEST_MAIN(LandscapeEditorTest)
#include "LandscapeEditorTest.moc"
