// What a chart shows, read from its picture as a person would see it, and
// what it holds against what it drew and saved.
#pragma once

#include <QChart>
#include <QImage>
#include <QValueAxis>
#include <QXYSeries>
#include <algorithm>
#include <cmath>

#include "MainWindowHarness.h"
#include "Utile/RunTime.h"
#include "Utile/gui/GraphicOps.h"

namespace testsupport {

// The time a chart's lines reach: the x of the rightmost dark pixel inside its
// plot area (the Global lines are black), or -1 without one.
inline double ShownUpTo(utile::gui::tGraphicChart* chart) {
  const QImage picture = chart->grab().toImage();
  const QRect plot = chart->chart()->plotArea().toAlignedRect().adjusted(3, 3, -3, -3);
  const QPoint origin = chart->mapFromScene(chart->chart()->mapToScene(QPointF(0, 0)));
  for (int x = plot.right(); x >= plot.left(); --x)
    for (int y = plot.top(); y <= plot.bottom(); ++y)
      if (qGray(picture.pixel(origin + QPoint(x, y))) < 60) return chart->PixelToValue(QPointF(x, y)).x();
  return -1;
}

// The time a chart's lines reach in a picture of it (its grab when none is
// given): the x of the rightmost pixel of the plot area that is dark or
// coloured (the background and the grid are light greys), or -1 without one.
// The plot area's top and right edges count (a line may lie on them), the
// three pixels at its left and bottom, where the axes are drawn, do not.
inline double LinesReachTo(utile::gui::tGraphicChart* chart, QImage picture = QImage()) {
  if (picture.isNull()) picture = chart->grab().toImage();
  const QRect plot = chart->chart()->plotArea().toAlignedRect().adjusted(3, -1, 1, -3);
  const QPoint origin = chart->mapFromScene(chart->chart()->mapToScene(QPointF(0, 0)));
  for (int x = plot.right(); x >= plot.left(); --x)
    for (int y = plot.top(); y <= plot.bottom(); ++y) {
      const QColor c = picture.pixelColor(origin + QPoint(x, y));
      const int spread = std::max({c.red(), c.green(), c.blue()}) - std::min({c.red(), c.green(), c.blue()});
      if (qGray(c.rgb()) < 60 || spread > 60) return chart->PixelToValue(QPointF(x, y)).x();
    }
  return -1;
}

// What a chart holds against what it drew and what it saves. For each line
// series that shows: every point it holds on the chart's picture at its last
// drawing, inside the axes. For every series, the data file (written to
// dataFile) holds its title, then the x and the y of each of its points that
// has a value, both to the 15 digits written; the metadata follow.
// Empty when all agree, else what differs first.
inline QString ChartDisagreement(utile::gui::tGraphicChart* chart, const QString& dataFile) {
  chart->SaveData(dataFile);
  const QStringList lines = FileLines(dataFile.toStdString());
  const auto values = [](const QString& line, std::vector<double>& out) {
    QStringList fields = line.split('\t');
    if (fields.isEmpty() || !fields.back().isEmpty()) return false;  // each value ends with a TAB
    fields.pop_back();
    for (const QString& field : fields) {
      double v = 0;
      if (!utile::TryStrToFloatAnySeparator(field.toStdString(), v)) return false;
      out.push_back(v);
    }
    return true;
  };
  const QString title = chart->chart()->title();
  qsizetype at = 0;
  for (int k = 0; k < chart->SeriesCount(); ++k) {
    auto* series = qobject_cast<QXYSeries*>(chart->SeriesAt(k));
    if (series == nullptr) continue;
    const QString name = QString("%1, %2: ").arg(title, series->name());
    const QList<QPointF> points = chart->Points(series);
    std::vector<QPointF> kept;
    for (const QPointF& p : points)
      if (std::isfinite(p.y())) kept.push_back(p);
    if (chart->isVisible() && series->isVisible()) {
      const int painted = chart->PaintedPointCount(series);
      if (painted != -1 && painted != points.size())
        return name + QString("%1 of %2 points drawn").arg(painted).arg(points.size());
      const QValueAxis *bottom = chart->BottomAxis(), *left = chart->LeftAxis();
      for (const QPointF& p : kept)
        if (p.x() < bottom->min() || p.x() > bottom->max() || p.y() < left->min() || p.y() > left->max())
          return name + QString("(%1, %2) outside the axes").arg(p.x()).arg(p.y());
    }
    std::vector<double> xs, ys;
    if (at + 2 >= lines.size() || lines[at] != series->name() || !values(lines[at + 1], xs) ||
        !values(lines[at + 2], ys))
      return name + "no such block in the data file at line " + QString::number(at + 1);
    if (xs.size() != kept.size() || ys.size() != kept.size())
      return name + QString("%1 values saved for %2 points").arg(xs.size()).arg(kept.size());
    const auto written = [](double saved, double held) {
      return std::fabs(saved - held) <= 1e-14 * std::fabs(held);
    };
    for (size_t i = 0; i < kept.size(); ++i)
      if (!written(xs[i], kept[i].x()) || !written(ys[i], kept[i].y()))
        return name + QString("point %1 saved as (%2, %3)").arg(i).arg(xs[i]).arg(ys[i]);
    at += 3;
  }
  if (lines.mid(at) != chart->Metadata()) return title + ": the metadata differ";
  return QString();
}

}  // namespace testsupport
