#include "Utile/gui/CustomChartSeries.h"

#include <QChart>
#include <QFontMetricsF>
#include <QGraphicsSceneMouseEvent>
#include <QPainter>
#include <QValueAxis>
#include <cmath>
#include <limits>

#include "Utile/RunTime.h"

namespace utile::gui {

namespace {

const double Sqrt3 = std::sqrt(3.0);

// Position of the shares p (of A) and q (of B) in the triangle.
QPointF TrianglePosition(double p, double q) { return QPointF(-(2 * q + p - 2) * Sqrt3 / 3, p); }

}  // namespace

// ------------------------------------------------------------ tChartLayer

tChartLayer::tChartLayer(tGraphicChart& chart, qreal z, bool clipToPlotArea, tPaintFunction paint)
    : QGraphicsObject(chart.chart()), fChart(chart), fClipToPlotArea(clipToPlotArea), fPaint(std::move(paint)) {
  setZValue(z);
  setAcceptedMouseButtons(Qt::NoButton);
}

QRectF tChartLayer::boundingRect() const {
  return fClipToPlotArea ? fChart.chart()->plotArea() : fChart.chart()->rect();
}

void tChartLayer::paint(QPainter* painter, const QStyleOptionGraphicsItem*, QWidget*) {
  if (!fPaint) return;
  painter->save();
  if (fClipToPlotArea) painter->setClipRect(fChart.chart()->plotArea());
  painter->setRenderHint(QPainter::Antialiasing);
  fPaint(*painter, fChart);
  painter->restore();
}

void tChartLayer::GeometryChanged() {
  prepareGeometryChange();
  update();
}

// ------------------------------------------------------------ tBubbleSeries

// The bubbles' drawing, which also answers clicks on them: a press on a bubble
// becomes a click on the series at that bubble's point; a press elsewhere goes
// on to whatever lies below.
class tBubbleSeries::tBubbleLayer : public tChartLayer {
public:
  tBubbleLayer(tGraphicChart& chart, tBubbleSeries& series)
      : tChartLayer(chart, SeriesZ, true,
                    [&series](QPainter& painter, const tGraphicChart& c) { series.PaintBubbles(painter, c); }),
        fSeries(&series) {
    setAcceptedMouseButtons(Qt::LeftButton | Qt::RightButton);
  }

protected:
  void mousePressEvent(QGraphicsSceneMouseEvent* event) override {
    fPressed = fSeries ? fSeries->BubbleAt(event->pos()) : -1;
    if (fPressed < 0) event->ignore();
  }
  void mouseReleaseEvent(QGraphicsSceneMouseEvent* event) override {
    if (fSeries && fPressed >= 0 && fPressed < fSeries->count() && fSeries->BubbleAt(event->pos()) == fPressed)
      emit fSeries->clicked(fSeries->at(fPressed));
    fPressed = -1;
  }

private:
  QPointer<tBubbleSeries> fSeries;
  Integer fPressed = -1;
};

tBubbleSeries::tBubbleSeries(QObject* parent) : QScatterSeries(parent) {
  setMarkerShape(QScatterSeries::MarkerShapeCircle);
  // The library's own markers have a size in pixels: the bubbles are drawn by
  // the layer instead, so the markers stay transparent.
  setOpacity(0);
  setPen(QPen(Qt::black, 1));
  auto repaint = [this] {
    if (fLayer) fLayer->update();
  };
  connect(this, &QXYSeries::penChanged, this, repaint);
  connect(this, &QXYSeries::colorChanged, this, repaint);
  connect(this, &QScatterSeries::borderColorChanged, this, repaint);
  connect(this, &QXYSeries::pointLabelsVisibilityChanged, this, repaint);
  connect(this, &QXYSeries::pointsReplaced, this, repaint);
  connect(this, &QXYSeries::pointAdded, this, repaint);
  connect(this, &QXYSeries::pointRemoved, this, repaint);
  connect(this, &QXYSeries::pointReplaced, this, repaint);
  connect(this, &QAbstractSeries::visibleChanged, this, repaint);
}

tBubbleSeries::~tBubbleSeries() { delete fLayer.data(); }

void tBubbleSeries::AttachTo(tGraphicChart& chart) {
  if (fLayer) return;
  fChart = &chart;
  fLayer = new tBubbleLayer(chart, *this);
}

Integer tBubbleSeries::AddBubble(double x, double y, double radius, const QColor& color, const QString& label) {
  fRadius.resize(count(), 0);
  fColors.resize(count());
  fLabels.resize(count());
  fRadius.push_back(radius);
  fColors.push_back(color);
  fLabels.push_back(label);
  if (fChart)
    fChart->AppendPoint(this, x, y);
  else
    append(x, y);
  return count() - 1;
}

double tBubbleSeries::Radius(Integer index) const {
  return index >= 0 && size_t(index) < fRadius.size() ? fRadius[index] : 0.0;
}

void tBubbleSeries::SetRadius(Integer index, double radius) {
  Assert(index >= 0 && index < count(), "No bubble has this index.");
  if (fRadius.size() <= size_t(index)) fRadius.resize(index + 1, 0);
  fRadius[index] = radius;
  if (fLayer) fLayer->update();
}

void tBubbleSeries::SetPointColor(Integer index, const QColor& color) {
  Assert(index >= 0 && index < count(), "No bubble has this index.");
  if (fColors.size() <= size_t(index)) fColors.resize(index + 1);
  fColors[index] = color;
  if (fLayer) fLayer->update();
}

QColor tBubbleSeries::PointColor(Integer index) const {
  return index >= 0 && size_t(index) < fColors.size() ? fColors[index] : QColor();
}

void tBubbleSeries::SetPointLabel(Integer index, const QString& label) {
  Assert(index >= 0 && index < count(), "No bubble has this index.");
  if (fLabels.size() <= size_t(index)) fLabels.resize(index + 1);
  fLabels[index] = label;
  if (fLayer) fLayer->update();
}

QString tBubbleSeries::PointLabel(Integer index) const {
  return index >= 0 && size_t(index) < fLabels.size() ? fLabels[index] : QString();
}

void tBubbleSeries::Clear() {
  fRadius.clear();
  fColors.clear();
  fLabels.clear();
  clear();
}

Integer tBubbleSeries::BubbleAt(const QPointF& pixel) const {
  // A series taken off its chart is neither drawn nor clicked.
  if (!fChart || chart() == nullptr || !isVisible()) return -1;
  const double scale = fChart->PixelsPerLeftUnit();
  for (Integer i = count() - 1; i >= 0; --i) {
    const QPointF centre = fChart->ValueToPixel(at(i));
    const double r = Radius(i) * scale;
    if (std::hypot(pixel.x() - centre.x(), pixel.y() - centre.y()) < r) return i;
  }
  return -1;
}

void tBubbleSeries::PaintBubbles(QPainter& painter, const tGraphicChart& chart) const {
  if (this->chart() == nullptr || !isVisible()) return;
  const double scale = chart.PixelsPerLeftUnit();
  const QList<QPointF> points = this->points();
  painter.setPen(pen());
  for (Integer i = 0; i < points.size(); ++i) {
    if (!std::isfinite(points[i].y())) continue;
    const QPointF centre = chart.ValueToPixel(points[i]);
    const double r = Radius(i) * scale;
    const QColor own = size_t(i) < fColors.size() ? fColors[i] : QColor();
    painter.setBrush(own.isValid() ? QBrush(own) : brush());
    painter.drawEllipse(centre, r, r);
  }
  if (!pointLabelsVisible()) return;
  painter.setPen(pointLabelsColor());
  painter.setFont(pointLabelsFont());
  const QFontMetricsF metrics(pointLabelsFont());
  for (Integer i = 0; i < points.size(); ++i) {
    const QString label = PointLabel(i);
    if (label.isEmpty() || !std::isfinite(points[i].y())) continue;
    const QPointF centre = chart.ValueToPixel(points[i]);
    const double r = Radius(i) * scale;
    const double width = metrics.horizontalAdvance(label);
    painter.drawText(QPointF(centre.x() - width / 2, centre.y() - r - metrics.descent() - 2), label);
  }
}

// ------------------------------------------------------------ tCustomTriangleSeries

tCustomTriangleSeries::tCustomTriangleSeries(tGraphicChart& chart) : tBubbleSeries(nullptr) {
  chart.BottomAxis()->setVisible(false);
  chart.LeftAxis()->setVisible(false);
  chart.chart()->setPlotAreaBackgroundVisible(false);
  // 1.1 times the triangle's width across, and a tenth of its height around it.
  chart.SetBottomAxisRange(-0.1, 2.2 * Sqrt3 / 3);
  chart.SetLeftAxisRange(-0.1, 1.1);
  chart.SetScaled(true);
  fFrame = new tChartLayer(chart, tChartLayer::FrameZ, false,
                           [this](QPainter& painter, const tGraphicChart& c) { PaintFrame(painter, c); });
  chart.AddSeries(this);
}

tCustomTriangleSeries::~tCustomTriangleSeries() { delete fFrame.data(); }

t2DPoint tCustomTriangleSeries::ComputeTriangleCoordinates(double a, double b, double c, t2DPoint& shares) {
  const double s = a + b + c;
  if (!(s > 0))
    throw EInvalidArgument(Format("(%g,%g,%g) is not a valid point for tCustomTriangleSeries", a, b, c));
  shares = t2DPoint{a / s, b / s};
  const QPointF position = TrianglePosition(shares.x, shares.y);
  return t2DPoint{position.x(), position.y()};
}

void tCustomTriangleSeries::SetPoles(Integer index, const QString& name) {
  Assert(index >= 1 && index <= 3, "A triangle has the corners 1 to 3.");
  fPoles[index - 1] = name;
  if (fFrame) fFrame->update();
}

QString tCustomTriangleSeries::Pole(Integer index) const {
  Assert(index >= 1 && index <= 3, "A triangle has the corners 1 to 3.");
  return fPoles[index - 1];
}

Integer tCustomTriangleSeries::AddPoint(double a, double b, double c, double radius, const QColor& color,
                                        const QString& label) {
  t2DPoint shares;
  const t2DPoint position = ComputeTriangleCoordinates(a, b, c, shares);
  fPoints.push_back(shares);
  return AddBubble(position.x, position.y, radius, color, label);
}

void tCustomTriangleSeries::Clear() {
  fPoints.clear();
  tBubbleSeries::Clear();
}

void tCustomTriangleSeries::Redraw() {
  QList<QPointF> positions;
  positions.reserve(fPoints.size());
  for (const t2DPoint& share : fPoints) positions.append(TrianglePosition(share.x, share.y));
  fRadius.resize(positions.size(), 0);
  replace(positions);
}

void tCustomTriangleSeries::PaintFrame(QPainter& painter, const tGraphicChart& chart) const {
  if (this->chart() == nullptr) return;
  auto pixel = [&chart](double p, double q) { return chart.ValueToPixel(TrianglePosition(p, q)); };
  const QPointF a = pixel(1, 0), b = pixel(0, 1), c = pixel(0, 0);
  // A grid of fifths along each share, under the frame.
  painter.setPen(QPen(QColor(0xC0, 0xC0, 0xC0), 1, Qt::DotLine));
  for (int k = 1; k < 5; ++k) {
    const double f = k / 5.0;
    painter.drawLine(pixel(f, 1 - f), pixel(f, 0));  // share of A = f
    painter.drawLine(pixel(0, f), pixel(1 - f, f));  // share of B = f
    painter.drawLine(pixel(0, 1 - f), pixel(1 - f, 0));  // share of C = f
  }
  painter.setPen(QPen(Qt::black, 1));
  painter.setBrush(Qt::NoBrush);
  painter.drawPolygon(QPolygonF({a, b, c}));
  // The names stand a little off the corners, clear of a bubble of the default
  // size sitting on them.
  const double off = 0.03 * chart.PixelsPerLeftUnit() + 3;
  const QFontMetricsF metrics(painter.font());
  auto centred = [&](const QString& text, const QPointF& at, bool above) {
    if (text.isEmpty()) return;
    const double width = metrics.horizontalAdvance(text);
    const double y = above ? at.y() - off - metrics.descent() : at.y() + off + metrics.ascent();
    painter.drawText(QPointF(at.x() - width / 2, y), text);
  };
  centred(fPoles[0], a, true);
  centred(fPoles[1], b, false);
  centred(fPoles[2], c, false);
}

// ------------------------------------------------------------ tLineSeriesSet

namespace {
// Points a family of lines holds at most before it hands them to its lines.
constexpr size_t PendingBatch = 1 << 16;
}  // namespace

namespace {
// The property by which a series of the chart names the set it is a line of.
constexpr char SetProperty[] = "utileLineSeriesSet";
}  // namespace

tLineSeriesSet::tLineSeriesSet(tGraphicChart& chart) : fChart(chart) {
  fChart.AddPointSource(this, [this] { Hand(); });
  fChart.AddDataSource(
      this,
      [this](const QAbstractSeries* series) {
        return series->property(SetProperty).value<quintptr>() == quintptr(this);
      },
      [this] { return DataBlocks(); });
}

std::vector<tDataBlock> tLineSeriesSet::DataBlocks() const {
  std::vector<tDataBlock> blocks;
  blocks.reserve(fLines.size());
  for (Integer i = 0; i < Count(); ++i) blocks.push_back({fLines[size_t(i)].Title, Points(i)});
  return blocks;
}

tLineSeriesSet::~tLineSeriesSet() {
  fChart.RemovePointSource(this);
  // The series stay with the chart, as series of its own.
  for (tLine& line : fLines)
    if (line.Series) line.Series->setProperty(SetProperty, QVariant());
}

void tLineSeriesSet::Hand() {
  for (const tPending& pending : fPending) {
    tLine& line = fLines[size_t(pending.Index)];
    if (line.Series) {
      line.Points->append(pending.Point);
    } else {
      // A series taken away from under the set: the point waits with its line,
      // which gets a series again at its next point.
      line.Points = nullptr;
      line.Waiting.append(pending.Point);
    }
  }
  fPending.clear();
}

Integer tLineSeriesSet::Add(const QString& title, const QColor& color, int penWidth, bool active) {
  tLine line;
  line.Title = title;
  line.Color = color;
  line.PenWidth = penWidth;
  line.Active = active;
  fLines.push_back(std::move(line));
  return Count() - 1;
}

void tLineSeriesSet::Clear() { LayOut({}); }

void tLineSeriesSet::LayOut(const std::vector<tLineStyle>& lines) {
  fPending.clear();
  // The lines past the new count go, the last first.
  while (fLines.size() > lines.size()) {
    tLine& line = fLines.back();
    if (line.Series) {
      fChart.chart()->removeSeries(line.Series);
      delete line.Series.data();
    }
    fLines.pop_back();
  }
  for (size_t i = 0; i < lines.size(); ++i) {
    const tLineStyle& style = lines[i];
    if (i >= fLines.size()) {
      Add(style);
      continue;
    }
    tLine& line = fLines[i];
    line.Title = style.Title;
    line.Color = style.Color;
    line.PenWidth = style.PenWidth;
    line.Active = style.Active;
    line.Waiting.clear();
    if (QLineSeries* series = line.Series) {
      fChart.ClearPoints(series);
      series->setName(style.Title);
      series->setPen(QPen(style.Color, style.PenWidth));
      series->setVisible(style.Active);
    }
  }
}

void tLineSeriesSet::MakeActiveSeries() {
  for (tLine& line : fLines)
    if (line.Active && !line.Series) Make(line);
}

void tLineSeriesSet::Make(tLine& line) {
  auto* series = new QLineSeries;
  series->setName(line.Title);
  fChart.AddSeries(series);
  // The chart gives a new series the palette colour of its place: the line keeps its own.
  series->setPen(QPen(line.Color, line.PenWidth));
  line.Points = &fChart.LinePoints(series);
  fChart.AppendPoints(series, line.Waiting);
  line.Waiting.clear();
  series->setVisible(line.Active);
  line.Series = series;
  series->setProperty(SetProperty, QVariant::fromValue(quintptr(this)));
}

QLineSeries* tLineSeriesSet::Series(Integer index) {
  tLine& line = fLines.at(index);
  if (!line.Series) Make(line);
  return line.Series;
}

void tLineSeriesSet::SetActive(Integer index, bool active) {
  tLine& line = fLines.at(index);
  line.Active = active;
  if (line.Series)
    line.Series->setVisible(active);
  else if (active && !line.Waiting.isEmpty())
    Make(line);
}

void tLineSeriesSet::AppendPoint(Integer index, double x, double y) {
  tLine& line = fLines.at(index);
  // The line's own fields only: the series' guard lies elsewhere in memory.
  if (!line.Points && line.Active) Make(line);
  const QPointF point(x, std::isfinite(y) ? y : std::numeric_limits<double>::quiet_NaN());
  if (line.Points) {
    if (fPending.empty()) fChart.PointsWaiting();
    fPending.push_back({index, point});
    // A chart out of sight is not drawn: its points are handed over by the batch.
    if (fPending.size() >= PendingBatch) Hand();
  } else {
    line.Waiting.append(point);
  }
}

void tLineSeriesSet::AppendNullPoint(Integer index, double x) {
  AppendPoint(index, x, std::numeric_limits<double>::quiet_NaN());
}

void tLineSeriesSet::ClearPoints(Integer index) {
  tLine& line = fLines.at(index);
  Hand();
  line.Waiting.clear();
  if (line.Series) fChart.ClearPoints(line.Series);
}

void tLineSeriesSet::ClearAllPoints() {
  for (Integer i = 0; i < Count(); ++i) ClearPoints(i);
}

QList<QPointF> tLineSeriesSet::Points(Integer index) const {
  // Reading hands the waiting points over, as the chart's own reading does: a
  // line whose series was taken away keeps them.
  const_cast<tLineSeriesSet&>(*this).Hand();
  const tLine& line = fLines.at(index);
  return line.Series ? fChart.Points(line.Series) : line.Waiting;
}

Integer tLineSeriesSet::PointCount(Integer index) const {
  const_cast<tLineSeriesSet&>(*this).Hand();
  const tLine& line = fLines.at(index);
  return line.Series ? fChart.PointCount(line.Series) : static_cast<Integer>(line.Waiting.size());
}

}  // namespace utile::gui
