// What a chart shows, read from its picture and its drawing as a person would
// see it, and what it saves; a message pump that lets a test act at a given step
// of a computation.
//
// The checks return a description of the first fault they find, empty when
// there is none: QVERIFY2(fault.isEmpty(), qPrintable(fault)).
#pragma once

#include <QChart>
#include <QCoreApplication>
#include <QGraphicsTextItem>
#include <QImage>
#include <QLineSeries>
#include <QStringList>
#include <QValueAxis>
#include <QXYSeries>
#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <map>
#include <optional>
#include <vector>

#include "MainWindowHarness.h"
#include "Utile/Platform.h"
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

// The picture of a chart as it first shows: the events already posted (layouts)
// are delivered, no timer is waited for, and the chart paints itself.
inline QImage FirstSight(utile::gui::tGraphicChart* chart) {
  QCoreApplication::sendPostedEvents();
  return chart->grab().toImage();
}

namespace chartharness {

inline bool IsGap(const QPointF& p) {
  return !std::isfinite(p.x()) || !std::isfinite(p.y());
}

inline QString Point(const QPointF& p) {
  return QString("(%1, %2)").arg(p.x(), 0, 'g', 17).arg(p.y(), 0, 'g', 17);
}

// A value the data file wrote with 15 significant digits against the one held.
inline bool SameWritten(double written, double held) {
  return std::fabs(written - held) <= 1e-14 * std::max(1.0, std::fabs(held));
}

// Chooses an item of the chart's menu whose save dialog (titled Title) is
// answered with FileName; a fault when the dialog or an error box says otherwise.
inline QString SaveThroughMenu(utile::gui::tGraphicChart* chart, QAction* item, const QString& fileName,
                               const QString& title) {
  utile::gui::tChartDialogs& dialogs = utile::gui::ChartDialogs();
  const auto asked = dialogs.SaveFileName;
  const auto shown = dialogs.ShowError;
  QString fault;
  dialogs.SaveFileName = [&](QWidget*, const QString& asking, const QString&,
                             const QString&) -> std::optional<QString> {
    if (asking != title) fault = "the save dialog is titled " + asking;
    return fileName;
  };
  dialogs.ShowError = [&](QWidget*, const QString& text) { fault = "error box: " + text; };
  utile::gui::GraphPopUp().CallingChart = chart;
  item->trigger();
  dialogs.SaveFileName = asked;
  dialogs.ShowError = shown;
  return fault;
}

}  // namespace chartharness

// Whether the chart's last drawing shows every point of every line it keeps
// and shows (a series whose points were set with replace() is the charting
// library's to draw, and not looked at): each line's drawn points are points of the line, in their order;
// every point of a line that joins a neighbour (a lone point between gaps draws
// nothing) has its value within the drawn values of its pixel column or the
// next ones, and the ends of each run of points are drawn themselves; no drawn
// segment bridges a gap; every point lies within the axes. Take the chart's
// picture first (FirstSight) so that it is drawn as the screen shows it.
inline QString ChartDrawingFault(utile::gui::tGraphicChart* chart) {
  using chartharness::IsGap;
  using chartharness::Point;
  const double x0 = chart->BottomAxis()->min(), x1 = chart->BottomAxis()->max();
  const double y0 = chart->LeftAxis()->min(), y1 = chart->LeftAxis()->max();
  const double width = chart->chart()->plotArea().width();
  if (!(width > 0) || !(x1 > x0)) return QString("%1 has no plot area").arg(chart->objectName());
  const double column = (x1 - x0) / width;
  for (QAbstractSeries* s : chart->chart()->series()) {
    auto* series = qobject_cast<QLineSeries*>(s);
    if (!series || !series->isVisible() || !chart->KeepsPoints(series)) continue;
    const QString name = QString("%1, series %2 \"%3\"")
                             .arg(chart->objectName())
                             .arg(chart->IndexOfSeries(series))
                             .arg(series->name());
    const QList<QPointF> data = chart->Points(series);
    const QList<QPointF> drawn = chart->DrawnPoints(series);
    // Within the axes.
    for (const QPointF& p : data)
      if (!IsGap(p) && (p.x() < x0 || p.x() > x1 || p.y() < y0 || p.y() > y1))
        return QString("%1: %2 lies outside the axes %3..%4 x %5..%6")
            .arg(name, Point(p))
            .arg(x0)
            .arg(x1)
            .arg(y0)
            .arg(y1);
    // Drawn points are the line's own, in order; where each of them sits in the line.
    std::vector<qsizetype> at;
    qsizetype j = 0;
    for (const QPointF& q : drawn) {
      if (IsGap(q)) {
        at.push_back(-1);
        continue;
      }
      while (j < data.size() && !(data[j].x() == q.x() && data[j].y() == q.y())) ++j;
      if (j == data.size())
        return QString("%1: drew %2, which it does not hold in that place").arg(name, Point(q));
      at.push_back(j++);
    }
    // No segment over a gap.
    for (size_t k = 1; k < at.size(); ++k)
      if (at[k - 1] >= 0 && at[k] >= 0)
        for (qsizetype i = at[k - 1] + 1; i < at[k]; ++i)
          if (IsGap(data[i]))
            return QString("%1: a segment from %2 to %3 crosses a gap")
                .arg(name, Point(data[at[k - 1]]), Point(data[at[k]]));
    // Every point of a run of two or more, within its column's drawn values.
    std::vector<bool> drawnAt(size_t(data.size()), false);
    for (qsizetype i : at)
      if (i >= 0) drawnAt[size_t(i)] = true;
    std::map<double, std::pair<double, double>> columns;  // the lowest and highest drawn y of each
    for (const QPointF& q : drawn) {
      if (IsGap(q)) continue;
      const auto [entry, made] = columns.try_emplace(std::floor((q.x() - x0) / column), q.y(), q.y());
      entry->second.first = std::min(entry->second.first, q.y());
      entry->second.second = std::max(entry->second.second, q.y());
    }
    for (qsizetype i = 0; i < data.size(); ++i) {
      const QPointF& p = data[i];
      if (IsGap(p)) continue;
      const bool before = i > 0 && !IsGap(data[i - 1]), after = i + 1 < data.size() && !IsGap(data[i + 1]);
      if (!before && !after) continue;
      if ((!before || !after) && !drawnAt[size_t(i)])
        return QString("%1: the run of points ending at %2 is not drawn to its end").arg(name, Point(p));
      const double c = std::floor((p.x() - x0) / column);
      double low = std::numeric_limits<double>::infinity(), high = -low;
      for (double k = c - 1; k <= c + 1; ++k)
        if (const auto found = columns.find(k); found != columns.end()) {
          low = std::min(low, found->second.first);
          high = std::max(high, found->second.second);
        }
      if (!(low <= p.y() && p.y() <= high))
        return QString("%1: %2 (point %3 of %4) is not drawn: its pixel column shows %5..%6")
            .arg(name, Point(p))
            .arg(i)
            .arg(data.size())
            .arg(low)
            .arg(high);
    }
  }
  return {};
}

// The blocks of a chart whose series are its own (no line family): every
// series in order, with its points.
inline std::vector<utile::gui::tDataBlock> SeriesBlocks(utile::gui::tGraphicChart* chart) {
  std::vector<utile::gui::tDataBlock> blocks;
  for (QAbstractSeries* s : chart->chart()->series())
    if (auto* series = qobject_cast<QXYSeries*>(s)) blocks.push_back({series->name(), chart->Points(series)});
  return blocks;
}

// Whether the file that "Save graph data..." writes for the chart (into Folder)
// holds the blocks expected, in their order (title, the x and the y of every
// point that is not a gap, as tab-ended values), then the chart's metadata.
inline QString SavedDataFault(utile::gui::tGraphicChart* chart,
                              const std::vector<utile::gui::tDataBlock>& expected, const QString& folder) {
  using chartharness::SameWritten;
  const QString fileName = folder + "/" + chart->objectName() + "-data.txt";
  if (const QString fault =
          chartharness::SaveThroughMenu(chart, utile::gui::GraphPopUp().mnSaveData, fileName, "Save data");
      !fault.isEmpty())
    return fault;
  const QStringList lines =
      QString::fromStdString(utile::LoadTextFromFile(fileName.toStdString())).split("\r\n");
  const auto values = [](const QString& line, std::vector<double>& read) {
    read.clear();
    if (line.isEmpty()) return true;
    if (!line.endsWith('\t')) return false;
    for (const QString& field : line.chopped(1).split('\t')) {
      double v = 0;
      if (!utile::TryStrToFloat(field.trimmed().toStdString(), v, '.')) return false;
      read.push_back(v);
    }
    return true;
  };
  qsizetype at = 0;
  std::vector<double> xs, ys;
  for (size_t b = 0; b < expected.size(); ++b, at += 3) {
    const utile::gui::tDataBlock& block = expected[b];
    const QString where = QString("%1, block %2 \"%3\"").arg(fileName).arg(b).arg(block.Title);
    if (at + 2 >= lines.size()) return where + ": missing";
    if (lines[at] != block.Title) return QString("%1: titled \"%2\"").arg(where, lines[at]);
    if (!values(lines[at + 1], xs) || !values(lines[at + 2], ys)) return where + ": unreadable values";
    std::vector<QPointF> finite;
    for (const QPointF& p : block.Points)
      if (std::isfinite(p.y())) finite.push_back(p);
    if (xs.size() != finite.size() || ys.size() != finite.size())
      return QString("%1: %2 x and %3 y values for %4 points")
          .arg(where)
          .arg(xs.size())
          .arg(ys.size())
          .arg(finite.size());
    for (size_t i = 0; i < finite.size(); ++i)
      if (!SameWritten(xs[i], finite[i].x()) || !SameWritten(ys[i], finite[i].y()))
        return QString("%1: value %2 is (%3, %4) for (%5, %6)")
            .arg(where)
            .arg(i)
            .arg(xs[i], 0, 'g', 17)
            .arg(ys[i], 0, 'g', 17)
            .arg(finite[i].x(), 0, 'g', 17)
            .arg(finite[i].y(), 0, 'g', 17);
  }
  QStringList rest = lines.mid(at);
  if (!rest.isEmpty() && rest.back().isEmpty()) rest.pop_back();
  if (rest != chart->Metadata())
    return QString("%1: after the series \"%2\" for the metadata \"%3\"")
        .arg(fileName, rest.join('|'), chart->Metadata().join('|'));
  return {};
}

// Whether the picture that "Save graph image..." writes for the chart as a
// bitmap (into Folder) is the chart as it shows: its size, and every pixel of
// its picture (FirstSight) the same.
inline QString SavedImageFault(utile::gui::tGraphicChart* chart, const QString& folder) {
  const QString fileName = folder + "/" + chart->objectName() + "-image.bmp";
  if (const QString fault = chartharness::SaveThroughMenu(chart, utile::gui::GraphPopUp().mnSaveGraph,
                                                          fileName, "Save graph image");
      !fault.isEmpty())
    return fault;
  const QImage saved = QImage(fileName).convertToFormat(QImage::Format_RGB32);
  const QImage seen = FirstSight(chart).convertToFormat(QImage::Format_RGB32);
  if (saved.isNull()) return fileName + " is not a picture";
  if (saved.size() != seen.size())
    return QString("%1 is %2 x %3, the chart %4 x %5")
        .arg(fileName)
        .arg(saved.width())
        .arg(saved.height())
        .arg(seen.width())
        .arg(seen.height());
  if (saved == seen) return {};
  int differing = 0;
  for (int y = 0; y < saved.height(); ++y)
    for (int x = 0; x < saved.width(); ++x) differing += saved.pixel(x, y) != seen.pixel(x, y);
  return QString("%1: %2 pixels differ from the chart's").arg(fileName).arg(differing);
}

// Whether the labels of a chart's axes read whole on its picture: none cut
// short ("1000..."), none over another of its axis, none outside the chart,
// each a number, and zero written "0" (not "-2.77556e-17"). Take the chart's
// picture first (FirstSight).
inline QString AxisLabelFault(utile::gui::tGraphicChart* chart) {
  const QRectF plot = chart->chart()->plotArea();
  const QRectF whole = chart->chart()->rect();
  const QStringList titles = {chart->BottomAxis()->titleText(), chart->LeftAxis()->titleText(),
                              chart->chart()->title()};
  struct tLabel {
    QString Text;
    QRectF Rect;
  };
  std::vector<tLabel> bottom, left;
  for (QGraphicsItem* item : chart->chart()->childItems()) {
    // The axes' labels are text items under the chart's own items.
    std::vector<QGraphicsItem*> pending = {item};
    while (!pending.empty()) {
      QGraphicsItem* at = pending.back();
      pending.pop_back();
      for (QGraphicsItem* child : at->childItems()) pending.push_back(child);
      auto* text = dynamic_cast<QGraphicsTextItem*>(at);
      if (!text || !text->isVisible() || text->toPlainText().isEmpty() ||
          titles.contains(text->toPlainText()))
        continue;
      const QRectF rect = chart->chart()->mapRectFromScene(text->sceneBoundingRect());
      (rect.top() >= plot.bottom() - 1 ? bottom : left).push_back({text->toPlainText(), rect});
    }
  }
  const double spanX = chart->BottomAxis()->max() - chart->BottomAxis()->min();
  const double spanY = chart->LeftAxis()->max() - chart->LeftAxis()->min();
  for (auto* labels : {&bottom, &left}) {
    const double span = labels == &bottom ? spanX : spanY;
    for (size_t i = 0; i < labels->size(); ++i) {
      const tLabel& label = (*labels)[i];
      const QString where = QString("%1: the label \"%2\"").arg(chart->objectName(), label.Text);
      if (label.Text.contains("...") || label.Text.contains(QChar(0x2026))) return where + " is cut short";
      double value = 0;
      if (!utile::TryStrToFloat(label.Text.toStdString(), value, '.')) return where + " is not a number";
      if (value != 0 && std::fabs(value) < 1e-9 * span) return where + " stands for 0";
      if (!whole.adjusted(-1, -1, 1, 1).contains(label.Rect)) return where + " lies outside the chart";
      for (size_t k = 0; k < i; ++k)
        if (label.Rect.intersects((*labels)[k].Rect))
          return QString("%1 overlaps \"%2\"").arg(where, (*labels)[k].Text);
    }
  }
  if (bottom.empty() || left.empty()) return chart->objectName() + ": an axis shows no label";
  return {};
}

// Makes every message pump of a computation (not only one every 20 ms) call
// Watch, and lets the windows' messages through when it returns true: a test
// can act at a given step of a run (click Stop when step N is done) without a
// clock. The window's own pump comes back when it goes.
class tPumpWatch {
 public:
  explicit tPumpWatch(std::function<bool()> watch)
      : fWatch(std::move(watch)), fPump(utile::platform_detail::gPump) {
    gWatch = this;
    utile::SetMessagePump(&Pump);
  }
  ~tPumpWatch() {
    utile::SetMessagePump(fPump);
    gWatch = nullptr;
  }
  tPumpWatch(const tPumpWatch&) = delete;
  tPumpWatch& operator=(const tPumpWatch&) = delete;

 private:
  static void Pump() {
    tPumpWatch& watch = *gWatch;
    if (watch.fWatch() && watch.fPump) watch.fPump();
    utile::platform_detail::gNextPumpNanoseconds = 0;  // the next call pumps too
  }
  static inline tPumpWatch* gWatch = nullptr;
  std::function<bool()> fWatch;
  utile::tMessagePump fPump;
};

}  // namespace testsupport
