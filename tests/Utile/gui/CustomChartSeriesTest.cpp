#include "Utile/gui/CustomChartSeries.h"

#include <QChart>
#include <QLineSeries>
#include <QValueAxis>
#include <QtTest>
#include <cmath>

#include "Utile/RunTime.h"
#include "Utile/gui/ChartLines.h"
#include "Utile/gui/GraphicOps.h"

using namespace utile;
using namespace utile::gui;

namespace {

const double Root3 = std::sqrt(3.0);

void Settle() {
  for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
}

// The widest run of pixels of one colour along the line y of the picture.
int WidestRun(const QImage& image, int y, const QColor& color) {
  int best = 0, run = 0;
  for (int x = 0; x < image.width(); ++x) {
    run = image.pixelColor(x, y) == color ? run + 1 : 0;
    best = std::max(best, run);
  }
  return best;
}

}  // namespace

class CustomChartSeriesTest : public QObject {
  Q_OBJECT
private slots:
  void init() { ResetChartProperties(); }

  void TernaryCoordinatesPutTheCornersWhereTheyBelong() {
    const struct {
      double A, B, C;
      double X, Y, ShareA, ShareB;
    } cases[] = {
        {1, 0, 0, Root3 / 3, 1, 1, 0},          // A on top
        {0, 5, 0, 0, 0, 0, 1},                   // B bottom left
        {0, 0, 0.2, 2 * Root3 / 3, 0, 0, 0},     // C bottom right
        {2, 2, 0, Root3 / 6, 0.5, 0.5, 0.5},     // halfway from A to B
        {1, 1, 1, Root3 / 3, 1.0 / 3, 1.0 / 3, 1.0 / 3},  // the centre
    };
    for (const auto& c : cases) {
      t2DPoint shares;
      const t2DPoint at = tCustomTriangleSeries::ComputeTriangleCoordinates(c.A, c.B, c.C, shares);
      QVERIFY2(std::fabs(at.x - c.X) < 1e-12 && std::fabs(at.y - c.Y) < 1e-12,
               qPrintable(QString("(%1,%2,%3) at %4,%5").arg(c.A).arg(c.B).arg(c.C).arg(at.x).arg(at.y)));
      QVERIFY(std::fabs(shares.x - c.ShareA) < 1e-12 && std::fabs(shares.y - c.ShareB) < 1e-12);
    }
  }

  void PointsWithoutAPositiveSumAreRefused() {
    const struct {
      double A, B, C;
      const char* Message;
    } cases[] = {
        {0, 0, 0, "(0,0,0) is not a valid point for tCustomTriangleSeries"},
        {-1, 0.5, 0.5, "(-1,0.5,0.5) is not a valid point for tCustomTriangleSeries"},
        {-1, -2, 0, "(-1,-2,0) is not a valid point for tCustomTriangleSeries"},
    };
    QWidget panel;
    auto* chart = new tGraphicChart(&panel, "", "", "");
    auto* series = new tTriangleSeries(*chart);
    for (const auto& c : cases) {
      try {
        series->AddPoint(c.A, c.B, c.C, 0.01);
        QFAIL("the point was accepted");
      } catch (const EInvalidArgument& e) {
        QCOMPARE(QString(e.what()), QString(c.Message));
      }
    }
    QCOMPARE(series->count(), 0);
    QVERIFY(series->Points().empty());
  }

  void TriangleSeriesSetsUpItsChart() {
    QWidget panel;
    auto* chart = new tGraphicChart(&panel, "", "", "");
    auto* series = new tCustomTriangleSeries(*chart);
    QCOMPARE(chart->SeriesCount(), 1);
    QVERIFY(!chart->BottomAxis()->isVisible());
    QVERIFY(!chart->LeftAxis()->isVisible());
    QCOMPARE(chart->BottomAxis()->min(), -0.1);
    QVERIFY(std::fabs(chart->BottomAxis()->max() - 2.2 * Root3 / 3) < 1e-12);
    QCOMPARE(chart->LeftAxis()->min(), -0.1);
    QCOMPARE(chart->LeftAxis()->max(), 1.1);
    QVERIFY(chart->Scaled());
    // Points do not move the fixed axes.
    series->AddPoint(1, 0, 0, 0.3);
    chart->Refresh();
    QCOMPARE(chart->LeftAxis()->max(), 1.1);
    series->SetPoles(1, "Juveniles");
    series->SetPoles(3, "Adults");
    QCOMPARE(series->Pole(1), QString("Juveniles"));
    QCOMPARE(series->Pole(2), QString());
    QVERIFY_THROWS_EXCEPTION(EAssertionFailed, series->SetPoles(0, "x"));
    QVERIFY_THROWS_EXCEPTION(EAssertionFailed, series->SetPoles(4, "x"));
  }

  void PlotTriangleColoursTheSeriesItAdds() {
    QWidget panel;
    auto* chart = new tGraphicChart(&panel, "", "", "");
    auto* line = new QLineSeries;
    chart->AddSeries(line);
    const QColor lineColour = line->color();
    tGraphicChart* same = PlotTriangle({1, 0, 1}, {0, 1, 1}, {0, 0, 2}, {}, "", "", "", chart);
    QCOMPARE(same, chart);
    QCOMPARE(chart->SeriesCount(), 2);
    auto* triangle = qobject_cast<tCustomTriangleSeries*>(chart->SeriesAt(1));
    QVERIFY(triangle != nullptr);
    QCOMPARE(triangle->color(), ToQColor(ChartProperties().Palette[1]));
    QCOMPARE(line->color(), lineColour);
    QCOMPARE(triangle->count(), 3);
    for (int i = 0; i < 3; ++i) QCOMPARE(triangle->Radius(i), 0.01);
    // (1, 1, 2): shares 1/4 and 1/4, x = 1.25 sqrt(3) / 3.
    QCOMPARE(triangle->at(2), QPointF(1.25 * Root3 / 3, 0.25));
    tGraphicChart* sized = PlotTriangle({1}, {1}, {1}, {0.2}, "", "", "", &panel);
    QCOMPARE(qobject_cast<tCustomTriangleSeries*>(sized->SeriesAt(0))->Radius(0), 0.2);
    QVERIFY_THROWS_EXCEPTION(EAssertionFailed, PlotTriangle({1, 2}, {1}, {1}, {}, "", "", "", &panel));
    QVERIFY_THROWS_EXCEPTION(EAssertionFailed, PlotTriangle({1}, {1}, {1}, {0.1, 0.2}, "", "", "", &panel));
  }

  void RedrawAndClearKeepSharesPositionsAndRadiiTogether() {
    QWidget panel;
    auto* chart = new tGraphicChart(&panel, "", "", "");
    auto* series = new tTriangleSeries(*chart);
    series->AddPoint(1, 0, 0, 0.05);
    series->AddPoint(0, 0, 3, 0.07);
    series->replace(QList<QPointF>{{9, 9}, {9, 9}});  // positions lost
    series->Redraw();
    QCOMPARE(series->at(0), QPointF(Root3 / 3, 1));
    QCOMPARE(series->at(1), QPointF(2 * Root3 / 3, 0));
    QCOMPARE(series->Radius(1), 0.07);
    series->Clear();
    QCOMPARE(series->count(), 0);
    QVERIFY(series->Points().empty());
    QCOMPARE(series->Radius(0), 0.0);
  }

  void BubbleRadiusIsMeasuredInAxisUnits() {
    QWidget window;
    window.resize(420, 420);
    auto* chart = new tGraphicChart(&window, "", "", "");
    chart->chart()->setBackgroundBrush(Qt::white);
    chart->SetScaled(true);
    chart->SetBottomAxisRange(0, 100);
    chart->SetLeftAxisRange(0, 100);
    auto* bubbles = new tBubbleSeries;
    chart->AddSeries(bubbles);
    bubbles->setPen(QPen(Qt::NoPen));
    const QColor fill(200, 30, 40);
    bubbles->AddBubble(50, 50, 20, fill);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    Settle();
    // The scaled margins come with the chart's refresh, up to ten seconds later on a
    // machine slow to paint.
    QTRY_VERIFY_WITH_TIMEOUT(
        std::fabs(chart->chart()->plotArea().width() - chart->chart()->plotArea().height()) < 2, 20000);
    const QImage image = chart->grab().toImage();
    const double scale = chart->PixelsPerLeftUnit();
    const int y = int(chart->ValueToPixel({50, 50}).y());
    // A diameter of 40 units, to a pixel of antialiasing either way.
    const int run = WidestRun(image, y, fill);
    QVERIFY2(std::abs(run - 40 * scale) <= 2, qPrintable(QString("%1 pixels for %2").arg(run).arg(40 * scale)));
    // Twice the axis span: half the pixels.
    chart->SetLeftAxisRange(0, 200);
    chart->SetBottomAxisRange(0, 200);
    Settle();
    const QImage smaller = chart->grab().toImage();
    const int y2 = int(chart->ValueToPixel({50, 50}).y());
    QVERIFY(std::abs(WidestRun(smaller, y2, fill) - 40 * chart->PixelsPerLeftUnit()) <= 2);
  }

  void ClickOnABubbleSelectsTheTopmostOne() {
    QWidget window;
    window.resize(400, 400);
    auto* chart = new tGraphicChart(&window, "", "", "");
    chart->SetBottomAxisRange(0, 10);
    chart->SetLeftAxisRange(0, 10);
    auto* bubbles = new tBubbleSeries;
    chart->AddSeries(bubbles);
    bubbles->AddBubble(4, 5, 2);
    bubbles->AddBubble(6, 5, 2);  // overlaps the first, drawn over it
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    Settle();
    Integer clicked = -2;
    chart->SetOnAfterSeriesClick([&](tGraphicChart&, QAbstractSeries* s, Integer i) {
      QCOMPARE(s, static_cast<QAbstractSeries*>(bubbles));
      clicked = i;
    });
    auto click = [chart](QPointF value) {
      const QPointF at = chart->ValueToPixel(value);
      QTest::mouseClick(chart->viewport(), Qt::LeftButton, {}, chart->mapFromScene(chart->chart()->mapToScene(at)));
    };
    QCOMPARE(bubbles->BubbleAt(chart->ValueToPixel({5, 5})), 1);
    click({5, 5});
    QCOMPARE(clicked, 1);
    QCOMPARE(chart->SelectedSeriesIndex(), 0);
    QCOMPARE(bubbles->pen().width(), 2);
    click({2.5, 5});
    QCOMPARE(clicked, 0);
    QCOMPARE(chart->SelectedSeriesIndex(), -1);  // the same series a second time
    clicked = -2;
    click({9, 9});
    QCOMPARE(clicked, -2);
  }

  void SeriesTakenOffTheChartTakeTheirDrawingsWithThem() {
    // The landscape view removes all its series before drawing the patches again.
    QWidget window;
    window.resize(300, 300);
    auto* chart = new tGraphicChart(&window, "", "", "");
    // Besides the chart's own, which draws its line series.
    auto layers = [chart] {
      int n = 0;
      for (QGraphicsItem* item : chart->chart()->childItems()) {
        QGraphicsObject* object = item->toGraphicsObject();
        n += qobject_cast<tChartLayer*>(object) != nullptr && qobject_cast<tChartLines*>(object) == nullptr;
      }
      return n;
    };
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    for (int redraw = 0; redraw < 3; ++redraw) {
      auto* bubbles = new tBubbleSeries;
      chart->AddSeries(bubbles);
      bubbles->AddBubble(0.5, 0.5, 0.1);
      chart->Refresh();
      chart->grab();
      chart->chart()->removeAllSeries();
      QCOMPARE(layers(), 0);
      chart->grab();
    }
    PlotTriangle({1}, {1}, {1}, {}, "", "", "", chart);
    QCOMPARE(layers(), 2);  // the bubbles and the triangle's frame
    chart->chart()->removeAllSeries();
    QCOMPARE(layers(), 0);
    // Taken off without being freed: no longer drawn, no longer clicked.
    auto* kept = new tBubbleSeries;
    chart->AddSeries(kept);
    kept->AddBubble(0.5, 0.5, 0.4);
    chart->SetBottomAxisRange(0, 1);
    chart->SetLeftAxisRange(0, 1);
    Settle();
    const QPointF centre = chart->ValueToPixel({0.5, 0.5});
    QCOMPARE(kept->BubbleAt(centre), 0);
    QCOMPARE(chart->grab().toImage().pixelColor(centre.toPoint()), kept->color());
    chart->chart()->removeSeries(kept);
    QCOMPARE(kept->BubbleAt(centre), -1);
    const QImage image = chart->grab().toImage();
    QVERIFY(image.pixelColor(centre.toPoint()) != kept->color());
    delete kept;
    QCOMPARE(layers(), 0);
  }

  void BubblesWidenTheAutomaticAxesByTheirRadius() {
    QWidget panel;
    auto* chart = new tGraphicChart(&panel, "", "", "");
    auto* bubbles = new tBubbleSeries;
    chart->AddSeries(bubbles);
    bubbles->AddBubble(10, 20, 1);
    bubbles->AddBubble(30, 40, 2, QColor(Qt::red), "7");
    chart->Refresh();
    QCOMPARE(chart->BottomAxis()->min(), 9.0);
    QCOMPARE(chart->BottomAxis()->max(), 32.0);
    QCOMPARE(chart->LeftAxis()->min(), 19.0);
    QCOMPARE(chart->LeftAxis()->max(), 42.0);
    QCOMPARE(bubbles->PointLabel(1), QString("7"));
    QVERIFY_THROWS_EXCEPTION(EAssertionFailed, bubbles->SetRadius(2, 1));
  }
};

QTEST_MAIN(CustomChartSeriesTest)
#include "CustomChartSeriesTest.moc"
