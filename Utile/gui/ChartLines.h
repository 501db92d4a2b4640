// The line series of a chart whose points come through the chart. The charting
// library lays a line series out anew, strokes it whole and paints every one of
// its segments at each change, at a cost that grows with the points of a run:
// a chart of a hundred lines of a thousand points took a quarter of a second to
// draw once. Here the chart keeps every point of such a series itself, the
// series stays empty (it still gives the line its name, pen, visibility, legend
// entry and place among the series), and the lines are painted on a picture of
// the plot area that takes the new points as they come. The picture is drawn
// again whole only when the plot area, an axis or a line's look changes; a whole
// drawing combines the points that fall in one pixel column.
#pragma once

#include <QImage>
#include <QList>
#include <QPointF>
#include <QPointer>
#include <QRectF>
#include <memory>
#include <optional>
#include <unordered_map>

#include "Utile/CommonDecl.h"
#include "Utile/gui/CustomChartSeries.h"

class QXYSeries;

namespace utile::gui {

// The points of a line that a drawing with columns ColumnWidth wide along x
// (counted from X0) needs: consecutive points that fall in one column are
// combined into the first, the lowest, the highest and the last of them, in
// their order, so that the line covers the same pixels of the column and meets
// its neighbours the same way. A point whose x or y is not finite is a gap: it
// ends the column's group, and gaps in a row count as one. A column width that
// is not a positive finite number keeps every point.
QList<QPointF> CombineByColumn(const QPointF* points, qsizetype count, double x0, double columnWidth);

// The lines of one chart: made by the chart, which owns it (tGraphicChart).
class tChartLines : public tChartLayer {
  Q_OBJECT
public:
  explicit tChartLines(tGraphicChart& chart);
  ~tChartLines() override;

  // Whether the points of the series are kept here.
  bool Holds(const QXYSeries* series) const { return Line(series) != nullptr; }
  // Appends points to a line series; the first takes the series over, with the
  // points it held. A y that is not finite is a gap (kept as not a number).
  void Append(QXYSeries* series, const QPointF& point);
  void Append(QXYSeries* series, const QList<QPointF>& points);
  // The list of a series' points, the series taken over (tGraphicChart::LinePoints):
  // who appends to it writes a gap's y as not a number.
  QList<QPointF>& PointList(QXYSeries* series) { return Take(series).Points; }
  // Empties a series held here.
  void Clear(QXYSeries* series);
  // Every point of a series held here, in the order they came.
  QList<QPointF> Points(const QXYSeries* series) const;
  qsizetype Count(const QXYSeries* series) const;
  // How many of a series' points the picture held when it was last drawn or
  // added to: the points handed to the screen (0 for a hidden line, or while the
  // plot area or the axes could not take a line).
  qsizetype PaintedCount(const QXYSeries* series) const;
  // The range of the finite points of a series held here; false when it has none.
  bool Range(const QXYSeries* series, double& minX, double& maxX, double& minY, double& maxY);

  // Paints the points that came since the last call onto the picture, or the
  // whole picture anew when it no longer fits the plot area and the axes.
  void Update();
  // Draws the lines themselves rather than the picture, for vector pictures.
  void SetDirect(bool direct) { fDirect = direct; }
  // The visible line under a point of the chart (chart coordinates), the
  // topmost first, or nullptr.
  QXYSeries* SeriesAt(const QPointF& pixel) const;

  void paint(QPainter* painter, const QStyleOptionGraphicsItem* option, QWidget* widget) override;

protected:
  void mousePressEvent(QGraphicsSceneMouseEvent* event) override;
  void mouseReleaseEvent(QGraphicsSceneMouseEvent* event) override;

private:
  struct tLine {
    QList<QPointF> Points;
    qsizetype Drawn = 0;  // points on the picture
    qsizetype Painted = 0;  // of them, those painted there (PaintedCount)
    // The range of the finite points among the first Ranged.
    qsizetype Ranged = 0;
    double MinX = 0, MaxX = 0, MinY = 0, MaxY = 0;
    bool HasRange = false;
  };
  // Where the picture was drawn: the plot area, the axes and the pixel ratio.
  struct tFrame {
    QRectF Plot;
    QRect Picture;  // the plot area widened to whole pixels
    double MinX = 0, MaxX = 0, MinY = 0, MaxY = 0;
    qreal Ratio = 1;
    bool operator==(const tFrame&) const = default;
  };

  tLine* Line(const QXYSeries* series) const;
  tLine& Take(QXYSeries* series);
  // The points that came since the range was last taken, in the range.
  static void UpdateRange(tLine& line);
  tFrame CurrentFrame() const;
  // Draws points [From, To) of a line (the one before From joins them on);
  // false when the frame cannot show a line.
  bool DrawPoints(QPainter& painter, const tFrame& frame, const tLine& line, qsizetype from, qsizetype to,
                  const QPen& pen) const;
  void Redraw(const tFrame& frame);
  // The picture is drawn anew at the next update or painting.
  void Invalidate();

  std::unordered_map<const QXYSeries*, std::unique_ptr<tLine>> fLines;
  QImage fPicture;
  std::optional<tFrame> fFrame;  // none: the picture is to be drawn anew
  bool fDirect = false;
  QPointer<QXYSeries> fPressed;
};

}  // namespace utile::gui
