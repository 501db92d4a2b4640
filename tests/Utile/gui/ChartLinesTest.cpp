#include "Utile/gui/ChartLines.h"

#include <QChart>
#include <QLineSeries>
#include <QPainter>
#include <QRegularExpression>
#include <QScatterSeries>
#include <QValueAxis>
#include <QtTest>
#include <cmath>
#include <limits>

#include "Utile/gui/CustomChartSeries.h"
#include "Utile/gui/GraphicOps.h"

using namespace utile;
using namespace utile::gui;

namespace {

constexpr double NaN = std::numeric_limits<double>::quiet_NaN();

void Settle() {
  for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
}

// Points compared with gaps equal to gaps.
bool SamePoints(const QList<QPointF>& a, const QList<QPointF>& b) {
  if (a.size() != b.size()) return false;
  for (qsizetype i = 0; i < a.size(); ++i) {
    if (a[i].x() != b[i].x() && !(std::isnan(a[i].x()) && std::isnan(b[i].x()))) return false;
    if (std::isnan(a[i].y()) != std::isnan(b[i].y())) return false;
    if (!std::isnan(a[i].y()) && a[i].y() != b[i].y()) return false;
  }
  return true;
}

QString Text(const QList<QPointF>& points) {
  QStringList parts;
  for (const QPointF& p : points) parts << QString("(%1,%2)").arg(p.x()).arg(p.y());
  return parts.join(' ');
}

// The pixels of the plot area whose colour is far from the background's.
QImage Ink(const QImage& picture, const QRect& plot) {
  const QImage image = picture.convertToFormat(QImage::Format_RGB32);
  QImage ink(plot.size(), QImage::Format_Grayscale8);
  ink.fill(0);
  for (int y = 0; y < plot.height(); ++y)
    for (int x = 0; x < plot.width(); ++x) {
      const QColor c = image.pixelColor(plot.left() + x, plot.top() + y);
      if (c.red() + c.green() + c.blue() < 3 * 255 - 150) ink.setPixel(x, y, 255);
    }
  return ink;
}

int Count(const QImage& ink) {
  int n = 0;
  for (int y = 0; y < ink.height(); ++y)
    for (int x = 0; x < ink.width(); ++x) n += qGray(ink.pixel(x, y)) > 0;
  return n;
}

int Differing(const QImage& a, const QImage& b) {
  int n = 0;
  for (int y = 0; y < a.height(); ++y)
    for (int x = 0; x < a.width(); ++x) n += (qGray(a.pixel(x, y)) > 0) != (qGray(b.pixel(x, y)) > 0);
  return n;
}

// The most points of one polyline of an SVG picture.
int LongestPolyline(const QByteArray& svg) {
  int longest = 0;
  const QRegularExpression points("points=\"([^\"]*)\"");
  for (auto match = points.globalMatch(QString::fromUtf8(svg)); match.hasNext();)
    longest = std::max(longest, int(match.next().captured(1).split(' ', Qt::SkipEmptyParts).size()));
  return longest;
}

// A chart on a white window of its own, its axes fixed.
struct tShownChart {
  QWidget Window;
  tGraphicChart* Chart;
  tShownChart(double x0, double x1, double y0, double y1) {
    Window.resize(600, 400);
    Chart = new tGraphicChart(&Window, "", "", "");
    Chart->chart()->setBackgroundBrush(Qt::white);
    Chart->chart()->setPlotAreaBackgroundVisible(false);
    Chart->BottomAxis()->setGridLineVisible(false);
    Chart->LeftAxis()->setGridLineVisible(false);
    Chart->SetBottomAxisRange(x0, x1);
    Chart->SetLeftAxisRange(y0, y1);
    Window.show();
  }
  QRect Plot() const { return Chart->chart()->plotArea().toAlignedRect().adjusted(2, 2, -2, -2); }
  // A new line series of the chart drawn with the pen.
  QLineSeries* NewLine(const QPen& pen) {
    auto* series = new QLineSeries;
    Chart->AddSeries(series);
    series->setPen(pen);
    return series;
  }
};

// A jagged line: a slow wave with fast noise, a few thousand points a pixel wide.
double Jagged(int i) { return 50 + 30 * std::sin(i / 3000.0) + 15 * std::sin(i * 1.7) * std::cos(i * 0.31); }

}  // namespace

class ChartLinesTest : public QObject {
  Q_OBJECT
private slots:
  void init() { ResetChartProperties(); }

  // ------------------------------------------------------------ combining

  void ColumnsKeepFirstLowestHighestAndLast() {
    const struct {
      const char* Case;
      QList<QPointF> Points;
      double X0, Width;
      QList<QPointF> Expected;
    } cases[] = {
        {"at most one point a column: all of them", {{0, 1}, {1, 5}, {2, 3}}, 0, 1, {{0, 1}, {1, 5}, {2, 3}}},
        {"one column: first, lowest, highest, last in their order",
         {{0.1, 5}, {0.2, 9}, {0.3, 1}, {0.4, 7}, {0.5, 4}, {0.6, 6}},
         0,
         1,
         {{0.1, 5}, {0.2, 9}, {0.3, 1}, {0.6, 6}}},
        {"the lowest first when it comes first", {{0, 3}, {0.5, 0}, {0.6, 2}, {0.7, 8}, {0.9, 4}}, 0, 1,
         {{0, 3}, {0.5, 0}, {0.7, 8}, {0.9, 4}}},
        {"the first of equal values", {{0, 2}, {0.2, 2}, {0.4, 2}, {0.6, 2}, {0.8, 2}}, 0, 1, {{0, 2}, {0.8, 2}}},
        {"first and lowest the same point", {{0, 0}, {0.5, 9}, {0.7, 3}, {0.9, 5}}, 0, 1,
         {{0, 0}, {0.5, 9}, {0.9, 5}}},
        {"two columns each combined",
         {{0, 1}, {0.3, 4}, {0.6, 0}, {0.9, 2}, {0.95, 3}, {1.0, 7}, {1.5, 9}, {1.6, 8}, {1.7, 6}, {1.99, 7}},
         0,
         1,
         {{0, 1}, {0.3, 4}, {0.6, 0}, {0.95, 3}, {1.0, 7}, {1.5, 9}, {1.7, 6}, {1.99, 7}}},
        {"columns counted from X0", {{9.9, 1}, {10.1, 2}, {10.2, 0}, {10.3, 3}, {10.4, 1}}, 10, 1,
         {{9.9, 1}, {10.1, 2}, {10.2, 0}, {10.3, 3}, {10.4, 1}}},
        {"a gap ends the column's group", {{0, 1}, {0.1, 2}, {0.2, NaN}, {0.3, 5}, {0.4, 0}, {0.5, 9}, {0.6, 3}},
         0, 1, {{0, 1}, {0.1, 2}, {0.2, NaN}, {0.3, 5}, {0.4, 0}, {0.5, 9}, {0.6, 3}}},
        {"gaps in a row count as one, none before the first value",
         {{0, NaN}, {1, NaN}, {2, 4}, {3, NaN}, {4, NaN}, {5, NaN}, {6, 5}},
         0,
         1,
         {{2, 4}, {3, NaN}, {6, 5}}},
        {"an x that is not finite is a gap", {{0, 1}, {NaN, 2}, {2, 3}}, 0, 1, {{0, 1}, {NaN, NaN}, {2, 3}}},
        {"points going back along x start a new group when they change column",
         {{0.5, 1}, {1.5, 2}, {0.6, 3}, {0.7, 4}, {0.8, 0}, {0.9, 9}, {0.95, 5}},
         0,
         1,
         {{0.5, 1}, {1.5, 2}, {0.6, 3}, {0.8, 0}, {0.9, 9}, {0.95, 5}}},
        {"a width that is not positive keeps every point", {{0.1, 1}, {0.2, 2}, {0.3, 0}, {0.4, 5}, {0.5, 1}}, 0,
         0, {{0.1, 1}, {0.2, 2}, {0.3, 0}, {0.4, 5}, {0.5, 1}}},
        {"nor does an infinite one combine, but it marks gaps",
         {{0.1, 1}, {0.2, std::numeric_limits<double>::infinity()}, {0.3, 0}},
         0,
         std::numeric_limits<double>::infinity(),
         {{0.1, 1}, {0.2, NaN}, {0.3, 0}}},
        {"no point", {}, 0, 1, {}},
    };
    for (const auto& c : cases) {
      const QList<QPointF> combined = CombineByColumn(c.Points.constData(), c.Points.size(), c.X0, c.Width);
      QVERIFY2(SamePoints(combined, c.Expected),
               qPrintable(QString("%1: %2").arg(c.Case, Text(combined))));
    }
  }

  void ALongRunBecomesAFewPointsAColumn() {
    // 50,000 steps over 500 columns: at most four points a column, the ends kept.
    QList<QPointF> points;
    for (int i = 0; i < 50000; ++i) points.append(QPointF(i, Jagged(i)));
    const QList<QPointF> combined = CombineByColumn(points.constData(), points.size(), 0, 100);
    QVERIFY(combined.size() >= 2 * 500 && combined.size() <= 4 * 500);
    QVERIFY(combined.first() == points.first() && combined.last() == points.last());
  }

  // ------------------------------------------------------------ the chart's own lines

  void LineSeriesKeepEveryPointWhileTheLibraryHoldsNone() {
    QWidget window;
    auto* chart = new tGraphicChart(&window, "t", "N", "");
    auto* line = new QLineSeries;
    auto* dots = new QScatterSeries;
    chart->AddSeries(line);
    chart->AddSeries(dots);
    // A series that held points before it took them through the chart keeps them.
    line->append(-1, 7);
    for (int i = 0; i < 20000; ++i) {
      chart->AppendPoint(line, i, i % 3 == 0 ? NaN : i % 101);
      if (i < 5) chart->AppendPoint(dots, i, i);
    }
    chart->AppendNullPoint(line, 20000);
    chart->AppendPoint(line, 20001, std::numeric_limits<double>::infinity());
    QCOMPARE(line->count(), 0);
    QCOMPARE(chart->PointCount(line), 20003);
    const QList<QPointF> points = chart->Points(line);
    QCOMPARE(points.first(), QPointF(-1, 7));
    QVERIFY(std::isnan(points[1].y()) && points[2] == QPointF(1, 1) && std::isnan(points.last().y()));
    // Points drawn by the library stay with it.
    QCOMPARE(chart->PointCount(dots), 5);
    chart->Refresh();
    QCOMPARE(dots->count(), 5);
    // The automatic axes take every point, and the data every value.
    QCOMPARE(chart->BottomAxis()->min(), -1.0);
    QCOMPARE(chart->BottomAxis()->max(), 19999.0);
    QCOMPARE(chart->LeftAxis()->max(), 100.0);
    const QStringList data = chart->DataText().split("\r\n");
    QCOMPARE(data[0], QString(""));  // the line's title
    QCOMPARE(data[1].count('\t'), 1 + 20000 - 6667);
    chart->ClearPoints(line);
    QCOMPARE(chart->PointCount(line), 0);
  }

  void ALongLineCoversThePixelsOfAllItsPoints() {
    // 60,000 jagged points drawn on a 600-pixel chart, against the same line
    // painted point by point.
    tShownChart shown(0, 60000, 0, 100);
    QVERIFY(QTest::qWaitForWindowExposed(&shown.Window));
    QLineSeries* series = shown.NewLine(QPen(Qt::black, 1));
    QList<QPointF> points;
    for (int i = 0; i < 60000; ++i) points.append(QPointF(i, Jagged(i)));
    shown.Chart->AppendPoints(series, points);
    shown.Chart->Refresh();
    Settle();
    const QImage drawn = shown.Chart->grab().toImage();

    QImage reference(drawn.size(), QImage::Format_RGB32);
    reference.fill(Qt::white);
    {
      QPainter painter(&reference);
      painter.setRenderHint(QPainter::Antialiasing);
      painter.setPen(QPen(Qt::black, 1));
      QPolygonF line;
      for (const QPointF& p : points) line.append(shown.Chart->ValueToPixel(p));
      painter.setClipRect(shown.Chart->chart()->plotArea());
      painter.drawPolyline(line);
    }
    const QImage ink = Ink(drawn, shown.Plot()), expected = Ink(reference, shown.Plot());
    QVERIFY(Count(expected) > 10000);
    QVERIFY2(Differing(ink, expected) < Count(expected) / 50,
             qPrintable(QString("%1 of %2 pixels differ").arg(Differing(ink, expected)).arg(Count(expected))));
  }

  void NewPointsJoinThePictureAsTheWholeDrawingWouldShowThem() {
    // Points that arrive in steps, with gaps, against the picture drawn whole.
    tShownChart shown(0, 3000, 0, 100);
    QVERIFY(QTest::qWaitForWindowExposed(&shown.Window));
    QLineSeries* series = shown.NewLine(QPen(Qt::blue, 2));
    for (int i = 0; i < 3000; ++i) {
      shown.Chart->AppendPoint(series, i, (i / 400) % 3 == 2 ? NaN : Jagged(i * 20));
      if (i % 250 == 0) shown.Chart->Refresh();
    }
    shown.Chart->Refresh();
    Settle();
    const QImage stepwise = Ink(shown.Chart->grab().toImage(), shown.Plot());
    // Another look and back: the picture is drawn whole.
    series->setPen(QPen(Qt::red, 2));
    series->setPen(QPen(Qt::blue, 2));
    shown.Chart->Refresh();
    Settle();
    const QImage whole = Ink(shown.Chart->grab().toImage(), shown.Plot());
    QVERIFY(Count(whole) > 2000);
    QVERIFY2(Differing(stepwise, whole) < Count(whole) / 100,
             qPrintable(QString("%1 of %2 pixels differ").arg(Differing(stepwise, whole)).arg(Count(whole))));
    // The gaps stay empty: no ink between x = 800 and 1200, other than the axis.
    const QRect plot = shown.Plot();
    const int from = int(shown.Chart->ValueToPixel({850, 0}).x()) - plot.left(),
              to = int(shown.Chart->ValueToPixel({1150, 0}).x()) - plot.left();
    int inGap = 0;
    for (int y = 0; y < whole.height(); ++y)
      for (int x = from; x < to; ++x) inGap += qGray(whole.pixel(x, y)) > 0;
    QCOMPARE(inGap, 0);
  }

  void HiddenAndRemovedLinesLeaveThePicture() {
    tShownChart shown(0, 10, 0, 10);
    QVERIFY(QTest::qWaitForWindowExposed(&shown.Window));
    QLineSeries* low = shown.NewLine(QPen(Qt::black, 2));
    QLineSeries* high = shown.NewLine(QPen(Qt::black, 2));
    shown.Chart->AppendPoints(low, {{0, 2}, {10, 2}});
    shown.Chart->AppendPoints(high, {{0, 8}, {10, 8}});
    shown.Chart->Refresh();
    Settle();
    const auto inkAt = [&](double y) {
      const QImage image = shown.Chart->grab().toImage();
      const QPointF at = shown.Chart->ValueToPixel({5, y});
      int n = 0;
      for (int d = -3; d <= 3; ++d) n += image.pixelColor(int(at.x()), int(at.y()) + d).lightness() < 128;
      return n;
    };
    QVERIFY(inkAt(2) > 0 && inkAt(8) > 0);
    high->setVisible(false);
    Settle();
    QVERIFY(inkAt(2) > 0);
    QCOMPARE(inkAt(8), 0);
    high->setVisible(true);
    shown.Chart->Refresh();
    Settle();
    QVERIFY(inkAt(8) > 0);
    shown.Chart->chart()->removeSeries(low);
    delete low;
    Settle();
    QCOMPARE(inkAt(2), 0);
    QVERIFY(inkAt(8) > 0);
  }

  void AClickOnALongLineSelectsItsSeries() {
    tShownChart shown(0, 50000, 0, 100);
    QVERIFY(QTest::qWaitForWindowExposed(&shown.Window));
    QList<QLineSeries*> lines;
    for (int k = 0; k < 3; ++k) {
      lines << shown.NewLine(QPen(Qt::darkGreen, 1));
      for (int i = 0; i < 50000; ++i) shown.Chart->AppendPoint(lines.last(), i, 20 + 30 * k + (i % 7));
    }
    shown.Chart->Refresh();
    Settle();
    Integer clickedIndex = -2;
    shown.Chart->SetOnAfterSeriesClick([&](tGraphicChart&, QAbstractSeries*, Integer i) { clickedIndex = i; });
    const auto click = [&](double x, double y) {
      const QPointF at = shown.Chart->ValueToPixel(QPointF(x, y));
      QTest::mouseClick(shown.Chart->viewport(), Qt::LeftButton, {},
                        shown.Chart->mapFromScene(shown.Chart->chart()->mapToScene(at)));
    };
    click(25003, 53);  // on the middle line
    QCOMPARE(shown.Chart->SelectedSeriesIndex(), 1);
    QVERIFY(clickedIndex >= 24900 && clickedIndex <= 25100);
    QCOMPARE(lines[1]->pen().width(), 2);
    click(25003, 95);  // on no line: nothing changes
    QCOMPARE(shown.Chart->SelectedSeriesIndex(), 1);
    click(10000, 83);  // a second line
    QCOMPARE(shown.Chart->SelectedSeriesIndex(), 2);
    QCOMPARE(lines[1]->pen().width(), 1);
  }

  void VectorPicturesGetTheLinesThemselves() {
    tShownChart shown(0, 100, 0, 10);
    QVERIFY(QTest::qWaitForWindowExposed(&shown.Window));
    QLineSeries* series = shown.NewLine(QPen(Qt::black, 1));
    for (int i = 0; i <= 100; ++i) shown.Chart->AppendPoint(series, i, i % 10);
    shown.Chart->Refresh();
    const QString name = QDir::temp().filePath("ChartLinesTest.svg");
    QVERIFY(shown.Chart->SaveImage(name));
    QFile file(name);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray svg = file.readAll();
    file.close();
    QFile::remove(name);
    QVERIFY2(LongestPolyline(svg) > 50, qPrintable(QString::number(LongestPolyline(svg))));
  }

  void ThinLinesDrawnStepByStepStayOnTheirPoints() {
    // Two thin lines of a family, one about 40 and one about 900, taking their
    // points 700 at a time: nothing is drawn between them.
    tShownChart shown(1, 50000, 0, 1400);
    QVERIFY(QTest::qWaitForWindowExposed(&shown.Window));
    tLineSeriesSet set(*shown.Chart);
    set.LayOut({{"low", Qt::red, 1, true}, {"high", Qt::blue, 1, true}});
    set.MakeActiveSeries();
    for (int t = 1; t <= 50000; ++t) {
      set.AppendPoint(0, t, 40 + t % 7);
      set.AppendPoint(1, t, 900 + t % 13);
      if (t % 700 == 0) shown.Chart->Refresh();
    }
    shown.Chart->Refresh();
    Settle();
    const QImage ink = Ink(shown.Chart->grab().toImage(), shown.Plot());
    const auto inkBetween = [&](double low, double high) {
      const int top = int(shown.Chart->ValueToPixel({0, high}).y()) - shown.Plot().top();
      const int bottom = int(shown.Chart->ValueToPixel({0, low}).y()) - shown.Plot().top();
      int n = 0;
      for (int y = std::max(0, top); y <= std::min(ink.height() - 1, bottom); ++y)
        for (int x = 0; x < ink.width(); ++x) n += qGray(ink.pixel(x, y)) > 0;
      return n;
    };
    QCOMPARE(inkBetween(100, 850), 0);
    QCOMPARE(inkBetween(950, 1400), 0);
    QVERIFY(inkBetween(30, 60) > ink.width() / 2 && inkBetween(890, 920) > ink.width() / 2);
  }

  // ------------------------------------------------------------ families of lines

  void ALaidOutFamilyKeepsItsSeries() {
    QWidget window;
    auto* chart = new tGraphicChart(&window, "", "", "");
    tLineSeriesSet set(*chart);
    set.LayOut({{"Global", Qt::black, 2, true}, {"Patch 1", Qt::red, 1, true}, {"Patch 2", Qt::blue, 1, false}});
    set.MakeActiveSeries();
    QVERIFY(set.MadeSeries(0) && set.MadeSeries(1) && !set.MadeSeries(2));
    for (int t = 0; t < 5; ++t)
      for (int i = 0; i < 3; ++i) set.AppendPoint(i, t, i * 10 + t);
    QCOMPARE(set.PointCount(2), 5);  // waiting with its line
    QCOMPARE(chart->PointCount(set.MadeSeries(1)), 5);
    QLineSeries* global = set.MadeSeries(0);
    QLineSeries* first = set.MadeSeries(1);
    // Laid out anew for fewer lines: the first keep their series, restyled and emptied.
    set.LayOut({{"Global", Qt::black, 2, false}, {"Patch 1", Qt::green, 1, true}});
    QCOMPARE(set.Count(), 2);
    QCOMPARE(set.MadeSeries(0), global);
    QCOMPARE(set.MadeSeries(1), first);
    QCOMPARE(chart->SeriesCount(), 2);
    QVERIFY(!global->isVisible() && first->isVisible());
    QCOMPARE(first->pen().color(), QColor(Qt::green));
    QCOMPARE(set.PointCount(0) + set.PointCount(1), 0);
    // And for more: the new line waits for its first point.
    set.LayOut({{"Global", Qt::black, 2, true}, {"Patch 1", Qt::red, 1, true}, {"Patch 2", Qt::blue, 1, true}});
    QCOMPARE(chart->SeriesCount(), 2);
    set.AppendPoint(2, 0, 4);
    QCOMPARE(chart->SeriesCount(), 3);
    QCOMPARE(set.Points(2), QList<QPointF>({{0, 4}}));
    set.Clear();
    QCOMPARE(chart->SeriesCount(), 0);
  }

  void ThePaintedCountIsWhatThePictureHolds() {
    tShownChart shown(0, 10, 0, 10);
    QVERIFY(QTest::qWaitForWindowExposed(&shown.Window));
    tGraphicChart& chart = *shown.Chart;
    QLineSeries* line = shown.NewLine(QPen(Qt::black, 1));
    auto* points = new QScatterSeries;
    chart.AddSeries(points);
    chart.AppendPoint(points, 1, 1);
    QCOMPARE(chart.PaintedPointCount(points), -1);  // the library draws its markers
    struct tStep {
      const char* what;
      std::function<void()> act;
      int painted;
    };
    for (const tStep& step : std::initializer_list<tStep>{
             {"points not drawn yet",
              [&] {
                chart.AppendPoints(line, {{0, 1}, {1, 2}, {2, NaN}, {3, 4}});
              },
              0},
             {"drawn, a gap among them", [&] { chart.Refresh(); }, 4},
             {"one more, waiting", [&] { chart.AppendPoint(line, 4, 5); }, 4},
             {"joined to the picture", [&] { chart.Refresh(); }, 5},
             {"the line hidden",
              [&] {
                line->setVisible(false);
                chart.grab();
              },
              0},
             {"shown again",
              [&] {
                line->setVisible(true);
                chart.Refresh();
              },
              5},
             {"the picture drawn anew for other axes",
              [&] {
                chart.SetBottomAxisRange(0, 20);
                chart.grab();
              },
              5},
             {"emptied", [&] { chart.ClearPoints(line); }, 0},
         }) {
      step.act();
      QVERIFY2(chart.PaintedPointCount(line) == step.painted,
               qPrintable(QString("%1: %2").arg(step.what).arg(chart.PaintedPointCount(line))));
    }
  }
};

QTEST_MAIN(ChartLinesTest)
#include "ChartLinesTest.moc"
