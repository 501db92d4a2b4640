// What a chart shows, read from its picture as a person would see it.
#pragma once

#include <QChart>
#include <QImage>

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

}  // namespace testsupport
