#include "Utile/gui/ChartLines.h"

#include <QChart>
#include <QGraphicsSceneMouseEvent>
#include <QPainter>
#include <QPolygonF>
#include <QValueAxis>
#include <QXYSeries>
#include <algorithm>
#include <cmath>
#include <limits>

#include "Utile/gui/GraphicOps.h"

namespace utile::gui {

namespace {

constexpr double NaN = std::numeric_limits<double>::quiet_NaN();

bool IsGap(const QPointF& p) { return !std::isfinite(p.x()) || !std::isfinite(p.y()); }

// Pixels far outside the picture are held back: the painter's arithmetic is
// not made for them, and the slope a line loses there cannot be seen.
constexpr double FarPixel = 1e7;

// Segments of each piece of a line drawn with a wide pen.
constexpr qsizetype WidePenPiece = 8;

}  // namespace

QList<QPointF> CombineByColumn(const QPointF* points, qsizetype count, double x0, double columnWidth) {
  QList<QPointF> combined;
  if (!(columnWidth > 0) || !std::isfinite(columnWidth) || !std::isfinite(x0)) {
    combined.reserve(count);
    for (qsizetype i = 0; i < count; ++i) combined.append(IsGap(points[i]) ? QPointF(points[i].x(), NaN) : points[i]);
    return combined;
  }
  combined.reserve(std::min<qsizetype>(count, 1024));
  const double scale = 1 / columnWidth;
  bool open = false;
  double column = 0;
  qsizetype first = 0, low = 0, high = 0, last = 0;
  const auto close = [&] {
    if (!open) return;
    qsizetype picked[4] = {first, low, high, last};
    std::sort(picked, picked + 4);
    for (int k = 0; k < 4; ++k)
      if (k == 0 || picked[k] != picked[k - 1]) combined.append(points[picked[k]]);
    open = false;
  };
  for (qsizetype i = 0; i < count; ++i) {
    const QPointF& p = points[i];
    if (IsGap(p)) {
      close();
      if (!combined.isEmpty() && !std::isnan(combined.constLast().y())) combined.append(QPointF(p.x(), NaN));
      continue;
    }
    const double c = std::floor((p.x() - x0) * scale);
    if (open && c == column) {
      if (p.y() < points[low].y()) low = i;
      if (p.y() > points[high].y()) high = i;
      last = i;
    } else {
      close();
      open = true;
      column = c;
      first = low = high = last = i;
    }
  }
  close();
  return combined;
}

// ------------------------------------------------------------ tChartLines

tChartLines::tChartLines(tGraphicChart& chart) : tChartLayer(chart, SeriesZ, true, nullptr) {
  setAcceptedMouseButtons(Qt::LeftButton);
}

tChartLines::~tChartLines() = default;

tChartLines::tLine* tChartLines::Line(const QXYSeries* series) const {
  const auto found = fLines.find(series);
  return found == fLines.end() ? nullptr : found->second.get();
}

tChartLines::tLine& tChartLines::Take(QXYSeries* series) {
  if (tLine* line = Line(series)) return *line;
  auto owned = std::make_unique<tLine>();
  tLine& line = *owned;
  fLines.emplace(series, std::move(owned));
  // The points the series held come along; the library then holds none.
  if (series->count() > 0) {
    line.Points = series->points();
    for (QPointF& p : line.Points)
      if (!std::isfinite(p.y())) p.setY(NaN);
    series->clear();
  }
  const auto redraw = [this] { Invalidate(); };
  connect(series, &QXYSeries::penChanged, this, redraw);
  connect(series, &QXYSeries::colorChanged, this, redraw);
  connect(series, &QAbstractSeries::visibleChanged, this, [this, series] {
    // A line that comes into sight is drawn over the others with the next
    // refresh; one that goes takes the whole picture with it.
    tLine* shown = series->isVisible() ? Line(series) : nullptr;
    if (!shown) {
      Invalidate();
      return;
    }
    shown->Drawn = 0;
    fChart.PointsWaiting();
  });
  connect(series, &QObject::destroyed, this, [this, series] {
    fLines.erase(series);
    Invalidate();
  });
  // Its points join the picture with the next refresh.
  fChart.PointsWaiting();
  return line;
}

void tChartLines::UpdateRange(tLine& line) {
  const QPointF* points = line.Points.constData();
  for (qsizetype i = line.Ranged; i < line.Points.size(); ++i) {
    const QPointF& p = points[i];
    if (IsGap(p)) continue;
    if (!line.HasRange) {
      line.MinX = line.MaxX = p.x();
      line.MinY = line.MaxY = p.y();
      line.HasRange = true;
      continue;
    }
    line.MinX = std::min(line.MinX, p.x());
    line.MaxX = std::max(line.MaxX, p.x());
    line.MinY = std::min(line.MinY, p.y());
    line.MaxY = std::max(line.MaxY, p.y());
  }
  line.Ranged = line.Points.size();
}

void tChartLines::Append(QXYSeries* series, const QPointF& point) {
  Take(series).Points.append(std::isfinite(point.y()) ? point : QPointF(point.x(), NaN));
}

void tChartLines::Append(QXYSeries* series, const QList<QPointF>& points) {
  QList<QPointF>& list = Take(series).Points;
  list.reserve(list.size() + points.size());
  for (const QPointF& p : points) list.append(std::isfinite(p.y()) ? p : QPointF(p.x(), NaN));
}

void tChartLines::Clear(QXYSeries* series) {
  tLine* line = Line(series);
  if (!line) return;
  line->Points.clear();
  line->Drawn = line->Ranged = line->Painted = 0;
  line->HasRange = false;
  Invalidate();
}

QList<QPointF> tChartLines::Points(const QXYSeries* series) const {
  const tLine* line = Line(series);
  return line ? line->Points : QList<QPointF>();
}

qsizetype tChartLines::Count(const QXYSeries* series) const {
  const tLine* line = Line(series);
  return line ? line->Points.size() : 0;
}

qsizetype tChartLines::PaintedCount(const QXYSeries* series) const {
  const tLine* line = Line(series);
  return line ? line->Painted : 0;
}

bool tChartLines::Range(const QXYSeries* series, double& minX, double& maxX, double& minY, double& maxY) {
  tLine* line = Line(series);
  if (!line) return false;
  UpdateRange(*line);
  if (!line->HasRange) return false;
  minX = line->MinX;
  maxX = line->MaxX;
  minY = line->MinY;
  maxY = line->MaxY;
  return true;
}

// ------------------------------------------------------------ drawing

tChartLines::tFrame tChartLines::CurrentFrame() const {
  tFrame frame;
  frame.Plot = fChart.chart()->plotArea();
  frame.Picture = frame.Plot.toAlignedRect();
  frame.MinX = fChart.BottomAxis()->min();
  frame.MaxX = fChart.BottomAxis()->max();
  frame.MinY = fChart.LeftAxis()->min();
  frame.MaxY = fChart.LeftAxis()->max();
  frame.Ratio = fChart.devicePixelRatioF();
  return frame;
}

bool tChartLines::DrawPoints(QPainter& painter, const tFrame& frame, const tLine& line, qsizetype from,
                             qsizetype to, const QPen& pen) const {
  const double spanX = frame.MaxX - frame.MinX, spanY = frame.MaxY - frame.MinY;
  if (!(spanX > 0) || !(spanY > 0) || frame.Plot.width() <= 0 || frame.Plot.height() <= 0) return false;
  const qsizetype start = std::max<qsizetype>(0, from - 1);
  if (to - start < 2) return true;
  const double sx = frame.Plot.width() / spanX, sy = frame.Plot.height() / spanY;
  const QList<QPointF> points = CombineByColumn(line.Points.constData() + start, to - start, frame.MinX,
                                                spanX / (frame.Plot.width() * frame.Ratio));
  painter.setPen(pen);
  // A wide pen outlines the whole line as one shape, which the painter fills at
  // a cost that grows much faster than its length (20 ms for a thousand points
  // against 1.5 ms in pieces): it draws the line in short pieces, end to end.
  const bool wide = pen.widthF() > 1;
  QPolygonF run;
  run.reserve(points.size());
  const auto flush = [&] {
    const qsizetype segments = run.size() - 1;
    const qsizetype piece = wide ? WidePenPiece : segments;
    for (qsizetype start = 0; start < segments; start += piece)
      painter.drawPolyline(run.constData() + start, static_cast<int>(std::min(piece, segments - start) + 1));
    run.clear();
  };
  for (const QPointF& p : points) {
    if (std::isnan(p.y())) {
      flush();
      continue;
    }
    const double x = std::clamp(frame.Plot.left() + (p.x() - frame.MinX) * sx, -FarPixel, FarPixel);
    const double y = std::clamp(frame.Plot.bottom() - (p.y() - frame.MinY) * sy, -FarPixel, FarPixel);
    run.append(QPointF(x, y));
  }
  flush();
  return true;
}

void tChartLines::Redraw(const tFrame& frame) {
  fFrame = frame;
  const QSize size = frame.Picture.size() * frame.Ratio;
  if (fPicture.size() != size || fPicture.devicePixelRatio() != frame.Ratio) {
    fPicture = QImage(size, QImage::Format_ARGB32_Premultiplied);
    fPicture.setDevicePixelRatio(frame.Ratio);
  }
  fPicture.fill(Qt::transparent);
  if (fPicture.isNull()) return;
  QPainter painter(&fPicture);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.translate(-frame.Picture.topLeft());
  for (QAbstractSeries* s : fChart.chart()->series()) {
    auto* series = qobject_cast<QXYSeries*>(s);
    tLine* line = series ? Line(series) : nullptr;
    if (!line) continue;
    const bool painted =
        series->isVisible() && DrawPoints(painter, frame, *line, 0, line->Points.size(), series->pen());
    line->Drawn = line->Points.size();
    line->Painted = painted ? line->Drawn : 0;
  }
}

void tChartLines::Invalidate() {
  fFrame.reset();
  update();
}

void tChartLines::Update() {
  const tFrame frame = CurrentFrame();
  if (!fFrame || *fFrame != frame) {
    Redraw(frame);
    update();
    return;
  }
  bool drawn = false;
  std::optional<QPainter> painter;
  for (QAbstractSeries* s : fChart.chart()->series()) {
    auto* series = qobject_cast<QXYSeries*>(s);
    tLine* line = series ? Line(series) : nullptr;
    if (!line || line->Drawn == line->Points.size()) continue;
    if (series->isVisible() && !fPicture.isNull()) {
      if (!painter) {
        painter.emplace(&fPicture);
        painter->setRenderHint(QPainter::Antialiasing);
        painter->translate(-frame.Picture.topLeft());
      }
      if (DrawPoints(*painter, frame, *line, line->Drawn, line->Points.size(), series->pen()) &&
          line->Painted == line->Drawn)
        line->Painted = line->Points.size();
      drawn = true;
    }
    line->Drawn = line->Points.size();
  }
  if (drawn) update();
}

void tChartLines::paint(QPainter* painter, const QStyleOptionGraphicsItem*, QWidget*) {
  painter->save();
  painter->setClipRect(fChart.chart()->plotArea());
  if (fDirect) {
    // A vector picture gets the lines themselves.
    const tFrame frame = CurrentFrame();
    painter->setRenderHint(QPainter::Antialiasing);
    for (QAbstractSeries* s : fChart.chart()->series()) {
      auto* series = qobject_cast<QXYSeries*>(s);
      const tLine* line = series ? Line(series) : nullptr;
      if (line && series->isVisible()) DrawPoints(*painter, frame, *line, 0, line->Points.size(), series->pen());
    }
  } else {
    const tFrame frame = CurrentFrame();
    if (!fFrame || *fFrame != frame) Redraw(frame);
    painter->drawImage(QPointF(fFrame->Picture.topLeft()), fPicture);
  }
  painter->restore();
}

// ------------------------------------------------------------ clicks

QXYSeries* tChartLines::SeriesAt(const QPointF& pixel) const {
  const tFrame frame = CurrentFrame();
  const double spanX = frame.MaxX - frame.MinX, spanY = frame.MaxY - frame.MinY;
  if (!(spanX > 0) || !(spanY > 0) || !frame.Plot.contains(pixel)) return nullptr;
  const double sx = frame.Plot.width() / spanX, sy = frame.Plot.height() / spanY;
  const QList<QAbstractSeries*> all = fChart.chart()->series();
  for (qsizetype k = all.size() - 1; k >= 0; --k) {
    auto* series = qobject_cast<QXYSeries*>(all[k]);
    const tLine* line = series ? Line(series) : nullptr;
    if (!line || !series->isVisible() || line->Points.size() < 2) continue;
    // As near as the library takes a click on its own lines.
    const double reach = std::max(3.0, series->pen().widthF() / 2 + 2);
    const QList<QPointF> points = CombineByColumn(line->Points.constData(), line->Points.size(), frame.MinX,
                                                  spanX / (frame.Plot.width() * frame.Ratio));
    std::optional<QPointF> previous;
    for (const QPointF& p : points) {
      if (std::isnan(p.y())) {
        previous.reset();
        continue;
      }
      const QPointF at(frame.Plot.left() + (p.x() - frame.MinX) * sx, frame.Plot.bottom() - (p.y() - frame.MinY) * sy);
      if (previous) {
        // Distance from the pixel to the segment.
        const QPointF d = at - *previous;
        const double length2 = QPointF::dotProduct(d, d);
        const double t =
            length2 > 0 ? std::clamp(QPointF::dotProduct(pixel - *previous, d) / length2, 0.0, 1.0) : 0.0;
        const QPointF nearest = *previous + t * d;
        if (std::hypot(pixel.x() - nearest.x(), pixel.y() - nearest.y()) <= reach) return series;
      }
      previous = at;
    }
  }
  return nullptr;
}

void tChartLines::mousePressEvent(QGraphicsSceneMouseEvent* event) {
  fPressed = SeriesAt(event->pos());
  if (!fPressed) event->ignore();
}

void tChartLines::mouseReleaseEvent(QGraphicsSceneMouseEvent* event) {
  // A click on a line is a click on its series, as the library's own lines tell it.
  if (fPressed && SeriesAt(event->pos()) == fPressed) emit fPressed->clicked(fChart.PixelToValue(event->pos()));
  fPressed.clear();
}

}  // namespace utile::gui
