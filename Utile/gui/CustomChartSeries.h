// Series the charting library does not have: bubbles whose radius is measured in
// axis units, and the ternary (triangle) diagram built on them; the drawing
// layers through which a chart paints what no series draws (frames, background
// pictures, links); and families of line series made only when they are shown.
#pragma once

#include <QGraphicsObject>
#include <QPointer>
#include <QLineSeries>
#include <QList>
#include <QScatterSeries>
#include <array>
#include <functional>
#include <vector>

#include "Utile/CommonDecl.h"
#include "Utile/gui/GraphicOps.h"

namespace utile::gui {

// A drawing in chart coordinates above or below the series of a chart, kept in
// step with the plot area and the axes. The chart owns it.
class tChartLayer : public QGraphicsObject {
  Q_OBJECT
public:
  using tPaintFunction = std::function<void(QPainter& painter, const tGraphicChart& chart)>;

  // Heights among the chart's own items.
  static constexpr qreal BackgroundZ = 0.5;  // on the plot area, under grid and axes
  static constexpr qreal FrameZ = 3.5;       // over grid and axes, under the series
  static constexpr qreal SeriesZ = 4.0;      // among the series, in the order of creation

  tChartLayer(tGraphicChart& chart, qreal z, bool clipToPlotArea, tPaintFunction paint);

  QRectF boundingRect() const override;
  void paint(QPainter* painter, const QStyleOptionGraphicsItem* option, QWidget* widget) override;
  // Called by the chart when the plot area or the axes change.
  void GeometryChanged();

protected:
  tGraphicChart& fChart;

private:
  bool fClipToPlotArea;
  tPaintFunction fPaint;
};

// Bubbles: every point has a radius in units of the left axis, and may have a
// colour and a label of its own. The series' brush fills the bubbles, its pen
// draws their outlines; labels show when the point labels are visible. A bubble
// series draws only on a tGraphicChart (added through AddSeries).
class tBubbleSeries : public QScatterSeries {
  Q_OBJECT
public:
  explicit tBubbleSeries(QObject* parent = nullptr);
  // Takes its drawing off the chart.
  ~tBubbleSeries() override;

  // Adds a bubble and returns its index.
  Integer AddBubble(double x, double y, double radius, const QColor& color = {}, const QString& label = {});
  double Radius(Integer index) const;
  void SetRadius(Integer index, double radius);
  void SetPointColor(Integer index, const QColor& color);
  // The bubble's own colour (invalid: the series' brush).
  QColor PointColor(Integer index) const;
  void SetPointLabel(Integer index, const QString& label);
  QString PointLabel(Integer index) const;
  // Empties the points, radii, colours and labels.
  virtual void Clear();
  // The topmost bubble under a point of the chart (chart coordinates), or -1.
  Integer BubbleAt(const QPointF& pixel) const;

  // Called by the chart when the series is added to it.
  void AttachTo(tGraphicChart& chart);

protected:
  std::vector<double> fRadius;
  std::vector<QColor> fColors;
  std::vector<QString> fLabels;

private:
  class tBubbleLayer;
  void PaintBubbles(QPainter& painter, const tGraphicChart& chart) const;
  QPointer<tChartLayer> fLayer;
  QPointer<tGraphicChart> fChart;
};

// A ternary diagram: each point (A, B, C) is drawn at its shares of A + B + C in
// an equilateral triangle of height 1 with the corners A at (sqrt(3)/3, 1), B at
// (0, 0) and C at (2 sqrt(3)/3, 0), over its frame, a grid of fifths and the
// names of the corners.
class tCustomTriangleSeries : public tBubbleSeries {
  Q_OBJECT
public:
  // Joins the chart: hides its axes and frame and fixes the axes around the
  // triangle, at the same scale.
  explicit tCustomTriangleSeries(tGraphicChart& chart);
  ~tCustomTriangleSeries() override;

  // Names corner 1 (A), 2 (B) or 3 (C).
  void SetPoles(Integer index, const QString& name);
  QString Pole(Integer index) const;
  // Adds a bubble at the point's position and returns its index; a point whose
  // sum is not above 0 raises EInvalidArgument.
  Integer AddPoint(double a, double b, double c, double radius, const QColor& color = {},
                   const QString& label = {});
  void Clear() override;
  // Positions and radii drawn again from the stored shares and radii.
  void Redraw();
  // The shares (A / sum in x, B / sum in y) of every point.
  const t2DPoints& Points() const { return fPoints; }

  // The plotted position of (A, B, C), with its shares.
  static t2DPoint ComputeTriangleCoordinates(double a, double b, double c, t2DPoint& shares);

private:
  void PaintFrame(QPainter& painter, const tGraphicChart& chart) const;
  t2DPoints fPoints;
  std::array<QString, 3> fPoles;
  QPointer<tChartLayer> fFrame;
};

class tTriangleSeries : public tCustomTriangleSeries {
  Q_OBJECT
public:
  using tCustomTriangleSeries::tCustomTriangleSeries;
};

// How a line of a tLineSeriesSet looks.
struct tLineStyle {
  QString Title;
  QColor Color;
  int PenWidth = 1;
  bool Active = true;
};

// A family of line series of one chart, addressed by their own index. A line
// becomes a series of the chart only once it is active and has a point (or
// MakeActiveSeries makes it), so that thousands of lines (one per pair of
// patches) cost next to nothing until they are shown; until then its points wait
// with it. Each line keeps its title, colour, pen width and whether it is active
// (shown). The chart owns the series made and keeps their points; the set must
// not outlive the chart. The chart's data (DataBlocks, "Save graph data...")
// holds every line of the set in the set's order, shown or not, with or without
// a series.
class tLineSeriesSet {
public:
  explicit tLineSeriesSet(tGraphicChart& chart);
  ~tLineSeriesSet();
  tLineSeriesSet(const tLineSeriesSet&) = delete;
  tLineSeriesSet& operator=(const tLineSeriesSet&) = delete;

  tGraphicChart& Chart() const { return fChart; }
  Integer Count() const { return static_cast<Integer>(fLines.size()); }
  // Appends a line and returns its index.
  Integer Add(const QString& title, const QColor& color, int penWidth = 1, bool active = true);
  Integer Add(const tLineStyle& style) { return Add(style.Title, style.Color, style.PenWidth, style.Active); }
  // Takes every line off the chart, the last first.
  void Clear();
  // The lines anew, without points: a line that was there keeps the chart's
  // series it had, in its new look (making and freeing series costs the chart a
  // layout each); lines beyond the new count are taken off, the last first.
  void LayOut(const std::vector<tLineStyle>& lines);
  // The chart's series of every active line, made now rather than at its first
  // point (before a run, so that the run does not pay for them).
  void MakeActiveSeries();

  QString Title(Integer index) const { return fLines.at(index).Title; }
  QColor Color(Integer index) const { return fLines.at(index).Color; }
  int PenWidth(Integer index) const { return fLines.at(index).PenWidth; }
  bool Active(Integer index) const { return fLines.at(index).Active; }
  void SetActive(Integer index, bool active);

  // A point, drawn with the chart's next refresh; a value that is not finite
  // leaves a gap, as AppendNullPoint does.
  void AppendPoint(Integer index, double x, double y);
  void AppendNullPoint(Integer index, double x);
  // Empties one line, or every line; the lines stay.
  void ClearPoints(Integer index);
  void ClearAllPoints();
  // The points of a line in the order they came (a gap has a y that is not a number).
  QList<QPointF> Points(Integer index) const;
  Integer PointCount(Integer index) const;

  // The chart's series of the line, made now when there is none yet.
  QLineSeries* Series(Integer index);
  // The series when it has been made, else nullptr.
  QLineSeries* MadeSeries(Integer index) const { return fLines.at(index).Series; }

private:
  struct tLine {
    QString Title;
    QColor Color;
    int PenWidth = 1;
    bool Active = true;
    QList<QPointF> Waiting;  // points of a line without series
    QPointer<QLineSeries> Series;
    // The chart's list of the series' points (null without series).
    QList<QPointF>* Points = nullptr;
  };
  // A point of a line with series, waiting for the chart to draw or read.
  struct tPending {
    Integer Index;
    QPointF Point;
  };
  void Make(tLine& line);
  // Gives the lines' lists the points that wait, in the order they came.
  void Hand();
  // Every line as the chart's data file holds it, in the set's order.
  std::vector<tDataBlock> DataBlocks() const;
  tGraphicChart& fChart;
  std::vector<tLine> fLines;
  // A run's points, one after the other as they come: writing each into its
  // line's list at once would reach a place of memory of its own per point,
  // hundreds of them a step, which the run pushes out of the caches between steps.
  std::vector<tPending> fPending;
};

}  // namespace utile::gui
