#include <QChart>
#include <QElapsedTimer>
#include <QLegend>
#include <QLineSeries>
#include <QPointer>
#include <QTabWidget>
#include <QValueAxis>
#include <QtTest>
#include <cmath>

#include "TestSupport/Measurement.h"
#include "Utile/RunTime.h"
#include "Utile/ToolkitVariant.h"
#include "Utile/gui/CustomChartSeries.h"
#include "Utile/gui/GraphicOps.h"
#include "app/ChartHarness.h"

using namespace utile;
using namespace utile::gui;

namespace {

constexpr TColor Red = 0x0000FF, Green = 0x00FF00, Blue = 0xFF0000;

// Milliseconds to wait for a chart's refresh: it comes up to ten seconds after
// the change that asked for it, on a machine slow to paint.
constexpr int RefreshWait = 20000;

QRgb Rgb(TColor c) { return qRgb(GetRValue(c), GetGValue(c), GetBValue(c)); }

// Pixels whose colour is within a small distance of the given one, along a
// vertical line of the picture inside [top, bottom].
int PixelsNear(const QImage& image, int x, int top, int bottom, const QColor& color) {
  int count = 0;
  for (int y = std::max(0, top); y <= std::min(image.height() - 1, bottom); ++y) {
    const QColor p = image.pixelColor(x, y);
    if (std::abs(p.red() - color.red()) + std::abs(p.green() - color.green()) + std::abs(p.blue() - color.blue()) <
        90)
      ++count;
  }
  return count;
}

// Counts the events of one type that reach an object.
class tEventCounter : public QObject {
public:
  tEventCounter(QObject* watched, QEvent::Type type, int& count) : fType(type), fCount(count) {
    watched->installEventFilter(this);
  }
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == fType) ++fCount;
    return false;
  }

private:
  QEvent::Type fType;
  int& fCount;
};

void Settle() {
  for (int i = 0; i < 5; ++i) {
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  }
}

}  // namespace

class GraphicOpsTest : public QObject {
  Q_OBJECT
private slots:
  void init() {
    ResetChartProperties();
    ResetChartDialogs();
  }

  // ------------------------------------------------------------ MatrixToBitmap

  void MatrixToBitmapPlacesCellsByOrientation() {
    const tMatrixOfDouble m{{0, 1, 2}, {2, -999999, 1}};
    const tPalette palette{Red, Green, Blue};
    QImage image;
    // Rows as lines: 3 wide, 2 high, the range taken from the present cells (0..2).
    MatrixToBitmap(m, palette, image, 0, 0, tMapOrientation::moRowCol, false, -999999);
    QCOMPARE(image.size(), QSize(3, 2));
    QCOMPARE(image.depth(), 24);
    const struct {
      int X, Y;
      QRgb Expected;
    } byRows[] = {{0, 0, Rgb(Red)},   {1, 0, Rgb(Green)},          {2, 0, Rgb(Blue)},
                  {0, 1, Rgb(Blue)},  {1, 1, qRgb(128, 128, 128)}, {2, 1, Rgb(Green)}};
    for (const auto& c : byRows) QCOMPARE(image.pixel(c.X, c.Y), c.Expected);

    // The first index as x: 2 wide, 3 high, pixel (x, y) = M[x][y].
    MatrixToBitmap(m, palette, image, 0, 0, tMapOrientation::moXY, false, -999999);
    QCOMPARE(image.size(), QSize(2, 3));
    const struct {
      int X, Y;
      QRgb Expected;
    } byXY[] = {{0, 0, Rgb(Red)},  {1, 0, Rgb(Blue)},           {0, 1, Rgb(Green)},
                {1, 1, qRgb(128, 128, 128)}, {0, 2, Rgb(Blue)}, {1, 2, Rgb(Green)}};
    for (const auto& c : byXY) QCOMPARE(image.pixel(c.X, c.Y), c.Expected);
  }

  void MatrixToBitmapLogScaleTestsMissingCellsBeforeTheLogarithm() {
    // offset 1 - 0: the cells draw as log10(1) = 0, log10(10) = 1, log10(100) = 2.
    // The missing value 1 equals the logarithm of 9 but not the cell itself.
    const tMatrixOfDouble m{{0, 9, 99, 1}};
    QImage image;
    MatrixToBitmap(m, ColorToRGBtriple(tPalette{Red, Green, Blue}), image, 0, 0, tMapOrientation::moRowCol, true,
                   1, TRGBTriple{0, 0, 0});
    QCOMPARE(image.pixel(0, 0), Rgb(Red));
    QCOMPARE(image.pixel(1, 0), Rgb(Green));
    QCOMPARE(image.pixel(2, 0), Rgb(Blue));
    QCOMPARE(image.pixel(3, 0), qRgb(0, 0, 0));
    // A given range: log10(v + 1 - 0) against 0..log10(1 + 1 - 0) clamps the larger cells.
    MatrixToBitmap(m, ColorToRGBtriple(tPalette{Red, Green, Blue}), image, 0, 1, tMapOrientation::moRowCol, true,
                   -1, TRGBTriple{0, 0, 0});
    QCOMPARE(image.pixel(0, 0), Rgb(Red));
    QCOMPARE(image.pixel(2, 0), Rgb(Blue));
    QCOMPARE(image.pixel(3, 0), Rgb(Blue));
  }

  void MatrixToBitmapEdgeCases() {
    QImage image(10, 10, QImage::Format_ARGB32);
    // Present cells of one value with Min = Max: all entry 0, the missing cell grey.
    MatrixToBitmap({{5, 5}, {5, -1}}, tPalette{Red, Blue}, image, 3, 3, tMapOrientation::moRowCol, false, -1);
    QCOMPARE(image.size(), QSize(2, 2));
    QCOMPARE(image.format(), QImage::Format_BGR888);
    QCOMPARE(image.pixel(1, 0), Rgb(Red));
    QCOMPARE(image.pixel(1, 1), qRgb(128, 128, 128));
    // Values beyond a given range take the end entries; nothing overflows.
    MatrixToBitmap({{-3.4e38, 0.5, 3.4e38}}, tPalette{Red, Green, Blue}, image, 0, 1, tMapOrientation::moRowCol,
                   false, -999999);
    QCOMPARE(image.pixel(0, 0), Rgb(Red));
    QCOMPARE(image.pixel(1, 0), Rgb(Green));
    QCOMPARE(image.pixel(2, 0), Rgb(Blue));
    // An empty matrix is an empty picture.
    MatrixToBitmap({}, tPalette{Red}, image, 0, 0, tMapOrientation::moXY, false, -1);
    QVERIFY(image.isNull());
    QVERIFY_THROWS_EXCEPTION(EAssertionFailed, MatrixToBitmap({{1, 2}, {3}}, tPalette{Red}, image, 0, 0,
                                                              tMapOrientation::moXY, false, -1));
  }

  void MatrixToBitmapLargerThanOneBlockKeepsEveryCellInPlace() {
    // 100 x 70 cells, black where x is a multiple of 3 and y of 5: a transposed or
    // shifted block would move the pattern.
    tMatrixOfDouble m(100, tVectorOfDouble(70, 0));
    for (int x = 0; x < 100; ++x)
      for (int y = 0; y < 70; ++y) m[x][y] = (x % 3 == 0 && y % 5 == 0) ? 1 : 0;
    QImage image;
    MatrixToBitmap(m, CreatePalette(tPaletteType::ptBoolean), image, 0, 0, tMapOrientation::moXY, false, -1);
    QCOMPARE(image.size(), QSize(100, 70));
    int wrong = 0;
    for (int x = 0; x < 100; ++x)
      for (int y = 0; y < 70; ++y)
        wrong += image.pixel(x, y) != ((x % 3 == 0 && y % 5 == 0) ? qRgb(0, 0, 0) : qRgb(255, 255, 255));
    QCOMPARE(wrong, 0);
  }

  // ------------------------------------------------------------ chart properties

  void ChartPropertiesStartWithTheProgramsPalette() {
    const struct {
      tToolkitVariant Variant;
      tPaletteType Kind;
      size_t Size;
    } cases[] = {
        {tToolkitVariant::tvMainProgram, tPaletteType::ptQualitative1024, 1024},
        {tToolkitVariant::tvMapFileManager, tPaletteType::ptQualitative256, 256},
    };
    for (const auto& c : cases) {
      SetToolkitVariant(c.Variant);
      ResetChartProperties();
      const tChartProperties& properties = ChartProperties();
      QCOMPARE(properties.Palette.size(), c.Size);
      QVERIFY(properties.Palette == CreatePalette(c.Kind));
      QCOMPARE(properties.ContainerCaption, QString("Graphic"));
      QVERIFY(!properties.ContainerModal);
      QVERIFY(properties.ContainerPosition == tWindowPosition::poDefaultPosOnly);
      QVERIFY(!properties.LegendVisible);
      QVERIFY(!properties.MarksVisible);
      QVERIFY(!properties.View3D);
      QVERIFY(properties.Visible);
    }
    SetToolkitVariant(tToolkitVariant::tvMainProgram);
    ResetChartProperties();
  }

  // ------------------------------------------------------------ where a chart lives

  void ChartWithoutParentGetsAWindowOfItsOwn() {
    const struct {
      QString Title, Caption;
    } cases[] = {{"", "Graphic"}, {"Occupancy", "Occupancy"}};
    for (const auto& c : cases) {
      QPointer<tGraphicChart> chart = new tGraphicChart(nullptr, "Time", "Size", c.Title);
      QPointer<QWidget> window = chart->window();
      QVERIFY(window != chart);
      QCOMPARE(window->windowTitle(), c.Caption);
      QCOMPARE(chart->chart()->title(), c.Title);
      QCOMPARE(window->size(), QSize(400, 400));
      QVERIFY(window->isVisible());
      QCOMPARE(window->windowModality(), Qt::NonModal);
      QCOMPARE(chart->BottomAxis()->titleText(), QString("Time"));
      QCOMPARE(chart->LeftAxis()->titleText(), QString("Size"));
      QVERIFY(!chart->CanBeClosed());
      QCOMPARE(chart->SelectedSeriesIndex(), -1);
      window->close();
      Settle();
      QVERIFY(window.isNull());
      QVERIFY(chart.isNull());
    }
    ChartProperties().ContainerModal = true;
    ChartProperties().ContainerCaption = "Chart";
    auto* modal = new tGraphicChart(nullptr, "", "", "");
    QCOMPARE(modal->window()->windowModality(), Qt::ApplicationModal);
    QCOMPARE(modal->window()->windowTitle(), QString("Chart"));
    modal->window()->close();
    Settle();
  }

  void ChartOnATabWidgetTakesANewCurrentPage() {
    QTabWidget tabs;
    tabs.addTab(new QWidget, "Parameters");
    auto* first = new tGraphicChart(&tabs, "x", "y", "Group count");
    auto* second = new tGraphicChart(&tabs, "x", "y", "");
    QCOMPARE(tabs.count(), 3);
    QCOMPARE(tabs.currentIndex(), 2);
    QCOMPARE(tabs.tabText(1), QString("Group count"));
    QCOMPARE(tabs.tabText(2), QString("Graphic"));
    QCOMPARE(first->parentWidget(), tabs.widget(1));
    QCOMPARE(second->parentWidget(), tabs.widget(2));
    QVERIFY(!first->isWindow());
  }

  void ChartInAGivenParentFillsIt() {
    QWidget panel;
    panel.resize(300, 200);
    ChartProperties().LegendVisible = true;
    ChartProperties().Color = QColor(10, 20, 30);
    auto* chart = new tGraphicChart(&panel, "", "", "");
    panel.show();
    QVERIFY(QTest::qWaitForWindowExposed(&panel));
    QCOMPARE(chart->parentWidget(), &panel);
    QTRY_COMPARE(chart->size(), panel.size());
    QVERIFY(chart->chart()->legend()->isVisible());
    QCOMPARE(chart->chart()->backgroundBrush().color(), QColor(10, 20, 30));
    // InitialiseGraphic keeps a chart and makes one on anything else.
    QCOMPARE(InitialiseGraphic(chart, "a", "b", "c"), chart);
    QWidget other;
    tGraphicChart* made = InitialiseGraphic(&other, "a", "b", "c");
    QVERIFY(made != nullptr);
    QCOMPARE(made->parentWidget(), &other);
  }

  // ------------------------------------------------------------ selection

  void SeriesSelectionEmphasisesAndASecondClickClears() {
    QWidget panel;
    auto* chart = new tGraphicChart(&panel, "", "", "");
    chart->CreateLineSeries(3);
    QList<std::pair<QAbstractSeries*, Integer>> clicks;
    chart->SetOnAfterSeriesClick([&clicks](tGraphicChart&, QAbstractSeries* s, Integer i) { clicks.append({s, i}); });
    auto width = [chart](int i) { return qobject_cast<QXYSeries*>(chart->SeriesAt(i))->pen().width(); };
    const struct {
      int Clicked;
      int Selected;
      int Widths[3];
    } steps[] = {
        {1, 1, {1, 2, 1}},
        {2, 2, {1, 1, 2}},
        {2, -1, {1, 1, 1}},  // the second click on the emphasised series
        {0, 0, {2, 1, 1}},
    };
    for (const auto& step : steps) {
      chart->OnClickSeriesDo(chart->SeriesAt(step.Clicked), 4);
      QCOMPARE(chart->SelectedSeriesIndex(), step.Selected);
      for (int i = 0; i < 3; ++i) QCOMPARE(width(i), step.Widths[i]);
    }
    QCOMPARE(clicks.size(), 4);
    QCOMPARE(clicks[1].first, chart->SeriesAt(2));
    QCOMPARE(clicks[1].second, 4);
    chart->SetSelectedSeries(-1);
    QCOMPARE(chart->SelectedSeries(), chart->SeriesAt(0));
  }

  void ClickOnALineSelectsItsSeries() {
    QWidget panel;
    panel.resize(400, 300);
    auto* chart = new tGraphicChart(&panel, "", "", "");
    chart->CreateLineSeries(2);
    chart->AddPoints({0, 10}, 0);
    chart->AddPoints({0, 10}, 10);
    panel.show();
    QVERIFY(QTest::qWaitForWindowExposed(&panel));
    chart->Refresh();
    Settle();
    Integer clickedIndex = -2;
    chart->SetOnAfterSeriesClick([&](tGraphicChart&, QAbstractSeries*, Integer i) { clickedIndex = i; });
    // The upper line, near its right end.
    const QPointF at = chart->ValueToPixel(QPointF(9, 10));
    QTest::mouseClick(chart->viewport(), Qt::LeftButton, {}, chart->mapFromScene(chart->chart()->mapToScene(at)));
    QCOMPARE(chart->SelectedSeriesIndex(), 1);
    QCOMPARE(clickedIndex, 1);
  }

  // ------------------------------------------------------------ points and axes

  void AddPointsFillsAsManySeriesAsThereAreValues() {
    QWidget panel;
    auto* chart = new tGraphicChart(&panel, "", "", "");
    chart->CreateLineSeries(3);
    chart->AddPoints({1, 2}, 0.5);
    chart->AddPoints({1, 3, 2, 99}, 1.5);
    auto points = [chart](int i) { return chart->Points(qobject_cast<QXYSeries*>(chart->SeriesAt(i))); };
    QCOMPARE(points(0), (QList<QPointF>{{0.5, 1}, {1.5, 1}}));
    QCOMPARE(points(1), (QList<QPointF>{{0.5, 2}, {1.5, 3}}));
    QCOMPARE(points(2), (QList<QPointF>{{1.5, 2}}));
    chart->Refresh();
    QCOMPARE(chart->BottomAxis()->min(), 0.5);
    QCOMPARE(chart->BottomAxis()->max(), 1.5);
    QCOMPARE(chart->LeftAxis()->min(), 1.0);
    QCOMPARE(chart->LeftAxis()->max(), 3.0);
    // Every series takes the palette colour of its index.
    for (int i = 0; i < 3; ++i)
      QCOMPARE(qobject_cast<QXYSeries*>(chart->SeriesAt(i))->color(), ToQColor(ChartProperties().Palette[i]));
    chart->ClearSeries();
    for (int i = 0; i < 3; ++i) QVERIFY(points(i).isEmpty());
  }

  void LongRunsOfGapsArriveAsCheaplyAsValues() {
    // A run whose statistic is undefined every other step (the mean size of an
    // empty patch): 40,000 steps on 10 series. Copying the list for every gap took
    // about ten seconds; appending takes milliseconds, also under the sanitizers,
    // so the bound is generous. In this thread's processor time, which other work
    // of the machine leaves alone.
    QWidget panel;
    auto* chart = new tGraphicChart(&panel, "", "", "");
    chart->CreateLineSeries(10);
    const int steps = 40000;
    const double seconds = testsupport::BestSeconds(
        [&] {
          for (int i = 0; i < steps; ++i) chart->AddPoints(tVectorOfDouble(10, i % 2 ? NAN : double(i)), i);
        },
        1);
    QVERIFY2(seconds < 3, qPrintable(QString("%1 s").arg(seconds)));
    for (int s = 0; s < 10; ++s) {
      const QList<QPointF> points = chart->Points(qobject_cast<QXYSeries*>(chart->SeriesAt(s)));
      QCOMPARE(points.size(), steps);
      for (int i : {0, 1, 2, steps - 2, steps - 1}) {
        QCOMPARE(points[i].x(), double(i));
        if (i % 2)
          QVERIFY(std::isnan(points[i].y()));
        else
          QCOMPARE(points[i].y(), double(i));
      }
    }
  }

  void PaintingLeavesArrivingPointsToTheirRefresh() {
    // A run lets window messages through every few steps. The painting that a
    // refresh asks for must not draw the points that arrived since: the chart
    // would then be refreshed at every pass of the message pump, however many
    // points it holds.
    QWidget window;
    window.resize(400, 300);
    auto* chart = new tGraphicChart(&window, "", "", "");
    chart->CreateLineSeries(1);
    auto* series = qobject_cast<QXYSeries*>(chart->SeriesAt(0));
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    // Every step's point lies further right: a refresh that takes it widens the time axis.
    int refreshes = 0, paints = 0;
    connect(chart->BottomAxis(), &QValueAxis::rangeChanged, this, [&refreshes] { ++refreshes; });
    tEventCounter paintCounter(chart->viewport(), QEvent::Paint, paints);
    // A cycle tells only when its pass came within the shortest refresh interval
    // and painted the chart: cycles go on until ten have told (a busy machine
    // delays some).
    int cycles = 0, cyclesTold = 0, refreshedInPump = 0;
    for (; cyclesTold < 10 && cycles < 1000; ++cycles) {
      chart->AddPoints({double(cycles)}, cycles);
      chart->Refresh();  // as its timer does
      QElapsedTimer clock;
      clock.start();
      chart->AddPoints({cycles + 0.5}, cycles + 0.5);  // the next step's point
      const int refreshesBefore = refreshes, paintsBefore = paints;
      QCoreApplication::processEvents();  // the next step's pass of the pump
      if (clock.elapsed() < 40 && paints > paintsBefore) {
        ++cyclesTold;
        refreshedInPump += refreshes > refreshesBefore;
      }
    }
    QCOMPARE(cyclesTold, 10);
    QCOMPARE(refreshedInPump, 0);
    // The last point is drawn all the same when its refresh is due (at most ten
    // seconds after it came, the longest interval).
    const int refreshesSoFar = refreshes;
    QTRY_VERIFY_WITH_TIMEOUT(refreshes > refreshesSoFar, RefreshWait);
    QCOMPARE(chart->PointCount(series), 2 * cycles);
    QCOMPARE(chart->BottomAxis()->max(), cycles - 0.5);
  }

  void PlotLinesLeavesAGapWhereAValueIsMissing() {
    QWidget panel;
    panel.resize(400, 300);
    tGraphicChart* chart = PlotLines({0, 1, 2, 3, 4}, {{1, 2, -999999.0, 4, 5}, {5, 5, 5, 5, 5}}, 1, "Threshold",
                                     "Groups", "Groups", &panel);
    QCOMPARE(chart->parentWidget(), &panel);
    QCOMPARE(chart->SeriesCount(), 2);
    auto* row0 = qobject_cast<QXYSeries*>(chart->SeriesAt(0));
    QCOMPARE(chart->PointCount(row0), 5);
    QVERIFY(std::isnan(chart->Points(row0)[2].y()));
    QCOMPARE(row0->color(), ToQColor(ChartProperties().Palette[0]));
    QCOMPARE(qobject_cast<QXYSeries*>(chart->SeriesAt(1))->color(), ToQColor(ChartProperties().Palette[1]));
    panel.show();
    QVERIFY(QTest::qWaitForWindowExposed(&panel));
    chart->chart()->setBackgroundBrush(Qt::white);
    QPen pen(Qt::black, 3);
    row0->setPen(pen);
    // The rows show up with the chart's next refresh, a moment after the call.
    auto lineAt = [chart](const QImage& image, double x) {
      const QRectF plot = chart->chart()->plotArea();
      return PixelsNear(image, int(chart->ValueToPixel({x, 0}).x()), int(plot.top()), int(plot.bottom()), Qt::black);
    };
    QTRY_VERIFY_WITH_TIMEOUT(lineAt(chart->grab().toImage(), 0.5) > 0, RefreshWait);
    const QImage image = chart->grab().toImage();
    const QRectF plot = chart->chart()->plotArea();
    // The row is drawn at x = 0.5 and 3.5 but not over the whole interval around 2.
    for (double x : {0.5, 3.5})
      QVERIFY2(PixelsNear(image, int(chart->ValueToPixel({x, 0}).x()), int(plot.top()), int(plot.bottom()),
                          Qt::black) > 0,
               qPrintable(QString("no line at %1").arg(x)));
    for (double x : {1.5, 2.0, 2.5})
      QCOMPARE(PixelsNear(image, int(chart->ValueToPixel({x, 0}).x()), int(plot.top()), int(plot.bottom()),
                          Qt::black),
               0);
    // Another call on the same chart adds its rows after the first ones.
    PlotLines({0, 1}, {{1, 1}}, 0, "", "", "", chart);
    QCOMPARE(chart->SeriesCount(), 3);
    QVERIFY_THROWS_EXCEPTION(EAssertionFailed, PlotLines({0}, {{1}}, 1, "", "", "", chart));
  }

  void ScaledChartKeepsBothAxesAtTheSameScale() {
    QWidget window;
    window.resize(500, 350);
    auto* chart = new tGraphicChart(&window, "", "", "");
    chart->SetBottomAxisRange(0, 100);
    chart->SetLeftAxisRange(0, 20);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    // Not scaled, the plot area takes what the window gives.
    QTRY_VERIFY(chart->chart()->plotArea().width() > 0);
    const QRectF natural = chart->chart()->plotArea();
    QVERIFY(std::fabs(natural.width() / natural.height() - 5) > 1);
    chart->SetScaled(true);
    auto ratio = [chart] { return chart->chart()->plotArea().width() / chart->chart()->plotArea().height(); };
    QTRY_VERIFY2_WITH_TIMEOUT(std::fabs(ratio() - 5) < 0.1, qPrintable(QString::number(ratio())),
                              RefreshWait);
    QVERIFY(std::fabs(chart->chart()->plotArea().width() - natural.width()) < 3);
    chart->SetLeftAxisRange(0, 100);
    QTRY_VERIFY2_WITH_TIMEOUT(std::fabs(ratio() - 1) < 0.05, qPrintable(QString::number(ratio())),
                              RefreshWait);
    window.resize(300, 600);
    QTRY_VERIFY2_WITH_TIMEOUT(std::fabs(ratio() - 1) < 0.05, qPrintable(QString::number(ratio())),
                              RefreshWait);
    chart->SetScaled(false);
    QTRY_VERIFY_WITH_TIMEOUT(std::fabs(ratio() - 1) > 0.2, RefreshWait);
  }

  void ValuesAndPixelsConvertBothWays() {
    QWidget window;
    window.resize(400, 300);
    auto* chart = new tGraphicChart(&window, "", "", "");
    chart->SetBottomAxisRange(-10, 10);
    chart->SetLeftAxisRange(0, 4);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    Settle();
    const QRectF plot = chart->chart()->plotArea();
    QCOMPARE(chart->ValueToPixel({-10, 0}), plot.bottomLeft());
    QCOMPARE(chart->ValueToPixel({10, 4}), plot.topRight());
    const QPointF back = chart->PixelToValue(chart->ValueToPixel({3.5, 1.25}));
    QVERIFY(std::fabs(back.x() - 3.5) < 1e-9 && std::fabs(back.y() - 1.25) < 1e-9);
    QCOMPARE(chart->PixelsPerLeftUnit(), plot.height() / 4);
  }

  // ------------------------------------------------------------ axes

  void TickLabelsWriteTheDigitsThatTellTicksApart() {
    const struct {
      double Value, Step, Largest;
      const char* Expected;
    } cases[] = {
        {0, 0.1, 1, "0"},
        {-2.7755575615628914e-17, 0.1, 0.3, "0"},  // three steps of 0.1 from -0.3
        {5.5511151231257827e-17, 0.1, 0.3, "0"},
        {-0.0, 1, 10, "0"},
        {0.30000000000000004, 0.1, 1, "0.3"},
        {-0.2, 0.1, 0.3, "-0.2"},
        {0.25, 0.05, 1, "0.25"},
        {0.05, 0.01, 0.1, "0.05"},
        {1, 0.2, 1, "1"},
        {12, 2, 20, "12"},
        {1500, 500, 5000, "1500"},
        {999999, 1, 999999, "999999"},
        {2e6, 1e6, 5e6, "2e+06"},
        {1.5e6, 5e5, 2e6, "1.5e+06"},
        {3e-5, 1e-5, 5e-5, "3e-05"},
        {-1.25e7, 5e5, 2e7, "-1.25e+07"},
    };
    for (const auto& c : cases)
      QVERIFY2(
          TickLabel(c.Value, c.Step, c.Largest) == c.Expected,
          qPrintable(
              QString("%1 by %2: %3").arg(c.Value).arg(c.Step).arg(TickLabel(c.Value, c.Step, c.Largest))));
  }

  void AxisTicksAreFewerWhereLabelsWouldNotFit() {
    // Labels 7 pixels a character; the library keeps 4 pixels either side of a
    // label and gives each a share of the axis (length / (ticks + 1)).
    const auto extent = [](const QString& label) { return 7.0 * label.size(); };
    const struct {
      const char* Case;
      double Min, Max, Length, MinimumStep;
      std::vector<double> Expected;
      double RoomBefore = HUGE_VAL, RoomAfter = HUGE_VAL;
    } cases[] = {
        {"about a fifth of the span", 0, 1, 500, 0, {0, 0.2, 0.4, 0.6, 0.8, 1}},
        {"room enough for steps of 1000", 0, 5000, 300, 0, {0, 1000, 2000, 3000, 4000, 5000}},
        // 6 ticks: 100 / 7 - 8 = 6 pixels a label; 3: 17; 2: 25: fewer than 28
        // for "5000", but two are the fewest.
        {"a short axis", 0, 5000, 100, 0, {0, 5000}},
        {"a longer one", 0, 5000, 150, 0, {0, 2000, 4000}},
        {"zero among the ticks", -0.35, 0.35, 500, 0, {-0.3, -0.2, -0.1, 0, 0.1, 0.2, 0.3}},
        {"no finer than the least step", 0, 100, 400, 50, {0, 50, 100}},
        {"from the first tick in the range", 1, 200, 1000, 0, {50, 100, 150, 200}},
        // "5000" reaches 14 pixels past the end, "0" 3.5 before the start.
        {"no room after the end", 0, 5000, 300, 0, {0, 1000, 2000, 3000, 4000}, HUGE_VAL, 10},
        {"no room before the start", 0, 5000, 300, 0, {1000, 2000, 3000, 4000, 5000}, 0, 14},
        {"an empty span", 1, 1, 500, 0, {}},
        {"a span that is not a number", 0, NAN, 500, 0, {}},
    };
    for (const auto& c : cases) {
      const tAxisTicks ticks =
          AxisTicks(c.Min, c.Max, c.Length, extent, c.MinimumStep, c.RoomBefore, c.RoomAfter);
      bool same =
          ticks.Values.size() == c.Expected.size() && ticks.Labels.size() == qsizetype(c.Expected.size());
      for (size_t i = 0; same && i < c.Expected.size(); ++i)
        same = std::fabs(ticks.Values[i] - c.Expected[i]) < 1e-12 &&
               (c.Expected[i] != 0 || ticks.Values[i] == 0);
      QVERIFY2(same, qPrintable(QString("%1: %2").arg(c.Case, ticks.Labels.join(' '))));
    }
  }

  void AxesLabelsReadWholeAtSmallSizes() {
    // The charts of the workbenches, at the sizes of their pages and smaller.
    const struct {
      QSize Size;
      double X0, X1, Y0, Y1;
    } cases[] = {
        {{700, 400}, 0, 5000, -0.3, 0.35},     {{400, 260}, 0, 5000, -0.0001, 0.0003},
        {{300, 200}, 0, 200000, 0, 1e6},       {{240, 160}, 1, 13474, 0, 4000},
        {{1100, 480}, 0, 1000000, 0.35, 0.65}, {{500, 300}, -1.5, 1.5, -2.5e-5, 1e-5},
    };
    for (const auto& c : cases) {
      QWidget window;
      window.resize(c.Size);
      auto* chart = new tGraphicChart(&window, "Time", "Fst", "");
      chart->setObjectName(QString("%1 x %2").arg(c.Size.width()).arg(c.Size.height()));
      chart->SetBottomAxisRange(c.X0, c.X1);
      chart->SetLeftAxisRange(c.Y0, c.Y1);
      window.show();
      QVERIFY(QTest::qWaitForWindowExposed(&window));
      Settle();
      testsupport::FirstSight(chart);
      const QString fault = testsupport::AxisLabelFault(chart);
      QVERIFY2(fault.isEmpty(), qPrintable(fault));
      // A tick at zero reads 0.
      if (c.Y0 < 0 && c.Y1 > 0) QVERIFY(chart->TickLabels(chart->LeftAxis()).contains("0"));
    }
  }

  void AChartThatComesIntoSightDrawsWhatItHolds() {
    // Points that came while the chart's page was behind another are drawn, at
    // axes that span them, when the page comes to the front: not a moment later.
    QTabWidget tabs;
    tabs.resize(600, 400);
    auto* front = new QWidget;
    tabs.addTab(front, "Front");
    auto* page = new QWidget;
    tabs.addTab(page, "Chart");
    auto* chart = new tGraphicChart(page, "", "", "");
    chart->setObjectName("behind");
    auto* series = new QLineSeries;
    chart->AddSeries(series);
    tabs.show();
    QVERIFY(QTest::qWaitForWindowExposed(&tabs));
    for (int i = 0; i < 500; ++i) chart->AppendPoint(series, i, std::sin(i / 20.0));
    QCoreApplication::processEvents();
    tabs.setCurrentWidget(page);
    testsupport::FirstSight(chart);
    QCOMPARE(chart->BottomAxis()->max(), 499.0);
    const QString fault = testsupport::ChartDrawingFault(chart);
    QVERIFY2(fault.isEmpty(), qPrintable(fault));
    QVERIFY(!chart->DrawnPoints(series).isEmpty());
  }

  // ------------------------------------------------------------ function chart

  void FunctionChartDrawsResolutionPlusOnePoints() {
    QWidget panel;
    auto* chart = new tFunctionGraphChart(&panel, "Distance", "Probability", "");
    QCOMPARE(chart->Resolution(), 20u);
    QCOMPARE(chart->MinX(), 0.0);
    QCOMPARE(chart->MaxX(), 1.0);
    QCOMPARE(chart->SeriesCount(), 1);
    chart->DrawFunction();
    QCOMPARE(chart->FunctionSeries()->count(), 21);
    QCOMPARE(chart->FunctionSeries()->at(10), QPointF(0.5, 0.5));  // the default returns its argument
    chart->SetMinX(0);
    chart->SetMaxX(4);
    chart->SetResolution(4);
    chart->SetGraphedFunction([](double x) { return std::exp(-x); });
    chart->DrawFunction();
    QCOMPARE(chart->FunctionSeries()->count(), 5);
    for (int i = 0; i <= 4; ++i) QCOMPARE(chart->FunctionSeries()->at(i), QPointF(i, std::exp(-i)));
    // No resolution: nothing drawn, nothing divided by zero.
    chart->SetResolution(0);
    chart->DrawFunction();
    QCOMPARE(chart->FunctionSeries()->count(), 0);
  }
};

QTEST_MAIN(GraphicOpsTest)
#include "GraphicOpsTest.moc"
