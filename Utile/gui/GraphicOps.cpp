#include "Utile/gui/GraphicOps.h"

#include <QAbstractBarSeries>
#include <QApplication>
#include <QBarSet>
#include <QChart>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QGraphicsLayout>
#include <QGraphicsScene>
#include <QInputDialog>
#include <QLegend>
#include <QLineSeries>
#include <QMessageBox>
#include <QPainter>
#include <QSaveFile>
#include <QScreen>
#include <QSvgGenerator>
#include <QTabWidget>
#include <QVBoxLayout>
#include <QValueAxis>
#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>
#include <utility>

#include "Utile/MatrixOps.h"
#include "Utile/RunTime.h"
#include "Utile/ToolkitVariant.h"
#include "Utile/VectorOps.h"
#include "Utile/gui/ChartLines.h"
#include "Utile/gui/CustomChartSeries.h"

namespace utile::gui {

// ============================================================ matrix pictures

namespace {

// The colour of one cell: the missing test on the cell's own value, then the
// value (or its logarithm) shaded. The shading rule is computed in extended
// precision so that ties round as they always have; the picture computes it in
// double precision first and takes the exact path only where the two could
// differ: near the missing value's bound, near a tie, or for ranges that double
// precision cannot hold.
class tCellShader {
public:
  tCellShader(const tRGBTriplePalette& palette, double min, double max, bool logScale, double missingValue,
              TRGBTriple missingColor)
      : fPalette(palette), fMissingValue(missingValue), fMissingColor(missingColor), fLogScale(logScale) {
    if (logScale) {
      fOffset = 1 - min;
      max = static_cast<double>(std::log10(static_cast<long double>(max) + fOffset));
      min = 0;
    }
    fMin = min;
    fMax = max;
    fLast = static_cast<double>(palette.size() - 1);
    fScale = fLast / (max - min);
    fExactOnly = !(std::isfinite(max - min) && std::isfinite(fScale) && fScale != 0);
  }

  TRGBTriple operator()(double v) const {
    const double d = std::fabs(v - fMissingValue);
    if (d < MissingBelow) return fMissingColor;
    if (!(d > MissingAbove)) return Exact(v);  // at the bound, or not a number
    if (fMax == fMin) return fPalette[0];
    if (fExactOnly) return Exact(v);
    const double x = fLogScale ? std::log10(v + fOffset) : v;
    const double k = (x - fMin) * fScale;
    if (!(k > 0)) return k <= 0 ? fPalette[0] : Exact(v);
    if (k >= fLast) return fPalette.back();
    const int whole = static_cast<int>(k);
    const double fraction = k - whole;
    if (std::fabs(fraction - 0.5) < 1e-7) return Exact(v);
    return fPalette[whole + (fraction > 0.5)];
  }

private:
  static constexpr double MissingBelow = 1e-6 * (1 - 1e-12);
  static constexpr double MissingAbove = 1e-6 * (1 + 1e-12);

  TRGBTriple Exact(double v) const {
    if (std::fabs(static_cast<long double>(v) - fMissingValue) < 1e-6L) return fMissingColor;
    if (fLogScale) v = static_cast<double>(std::log10(static_cast<long double>(v) + fOffset));
    const Integer k = ShadeIndex(v, fPalette.size(), fMin, fMax);
    return k < 0 ? fMissingColor : fPalette[k];
  }

  const tRGBTriplePalette& fPalette;
  double fMissingValue;
  TRGBTriple fMissingColor;
  bool fLogScale;
  double fOffset = 0;
  double fMin = 0;
  double fMax = 0;
  double fLast = 0;
  double fScale = 0;
  bool fExactOnly = false;
};

}  // namespace

QImage& MatrixToBitmap(const tMatrixOfDouble& m, const tRGBTriplePalette& palette, QImage& bitmap, double min,
                       double max, tMapOrientation orientation, bool logScale, double missingValue,
                       TRGBTriple missingColor) {
  Assert(!palette.empty(), "The palette has no colour.");
  Assert(m.empty() || IsRectangular(m), "The matrix to draw must be rectangular.");
  const int rows = static_cast<int>(m.size());
  const int columns = rows > 0 ? static_cast<int>(m[0].size()) : 0;
  const bool byRows = orientation == tMapOrientation::moRowCol;
  const QSize size = byRows ? QSize(columns, rows) : QSize(rows, columns);
  // Scan lines of three bytes per pixel in the order blue, green, red.
  if (bitmap.size() != size || bitmap.format() != QImage::Format_BGR888)
    bitmap = QImage(size, QImage::Format_BGR888);
  if (rows == 0 || columns == 0) return bitmap;

  if (min == max) MatMinMax(m, min, max, missingValue);
  const tCellShader shade(palette, min, max, logScale, missingValue, missingColor);

  if (byRows) {
    for (int r = 0; r < rows; ++r) {
      auto* line = reinterpret_cast<TRGBTriple*>(bitmap.scanLine(r));
      const double* cells = m[r].data();
      for (int c = 0; c < columns; ++c) line[c] = shade(cells[c]);
    }
  } else {
    // Line y holds M[x][y] for every x: the rows of M are read in blocks so that
    // each block's cells stay in the cache while the lines are written.
    constexpr int Block = 32;
    const double* cells[Block];
    for (int x0 = 0; x0 < rows; x0 += Block) {
      const int n = std::min(rows - x0, Block);
      for (int i = 0; i < n; ++i) cells[i] = m[x0 + i].data();
      for (int y = 0; y < columns; ++y) {
        TRGBTriple* line = reinterpret_cast<TRGBTriple*>(bitmap.scanLine(y)) + x0;
        for (int i = 0; i < n; ++i) line[i] = shade(cells[i][y]);
      }
    }
  }
  return bitmap;
}

QImage& MatrixToBitmap(const tMatrixOfDouble& m, const tPalette& palette, QImage& bitmap, double min, double max,
                       tMapOrientation orientation, bool logScale, double missingValue) {
  return MatrixToBitmap(m, ColorToRGBtriple(palette), bitmap, min, max, orientation, logScale, missingValue,
                        ColorToRGBtriple(0x808080));
}

QColor ToQColor(TColor color) { return QColor(GetRValue(color), GetGValue(color), GetBValue(color)); }

TColor ToTColor(const QColor& color) {
  const QColor rgb = color.toRgb();
  return RGBColor(Byte(rgb.red()), Byte(rgb.green()), Byte(rgb.blue()));
}

// ============================================================ process-wide state

namespace {

std::optional<tChartProperties> gChartProperties;
std::optional<tChartDialogs> gChartDialogs;
tGraphPopUp* gGraphPopUp = nullptr;
tGraphMapPopUp* gGraphMapPopUp = nullptr;
// Charts' own windows belong to the application: those still open at the end go
// with it.
QList<QPointer<QWidget>> gOwnWindows;
bool gCleanUpRegistered = false;

void CleanUpAtExit() {
  delete gGraphPopUp;
  gGraphPopUp = nullptr;
  delete gGraphMapPopUp;
  gGraphMapPopUp = nullptr;
  for (const QPointer<QWidget>& window : gOwnWindows) delete window.data();
  gOwnWindows.clear();
  gCleanUpRegistered = false;
}

void RegisterCleanUp() {
  if (gCleanUpRegistered) return;
  qAddPostRoutine(CleanUpAtExit);
  gCleanUpRegistered = true;
}

// "Text (*.a)|*.a|Other (*.b)|*.b" as the name filters of the file dialog.
QStringList NameFilters(const QString& filter) {
  const QStringList parts = filter.split('|');
  QStringList filters;
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) filters << parts[i] + " (" + parts[i + 1] + ")";
  return filters;
}

tChartDialogs PersonsDialogs() {
  tChartDialogs dialogs;
  dialogs.SaveFileName = [](QWidget* parent, const QString& title, const QString& filter,
                            const QString& defaultExtension) -> std::optional<QString> {
    QFileDialog dialog(parent, title);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setNameFilters(NameFilters(filter));
    dialog.setDefaultSuffix(defaultExtension);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
    return dialog.selectedFiles().constFirst();
  };
  dialogs.InputQuery = [](QWidget* parent, const QString& caption, const QString& prompt,
                          const QString& defaultText) -> std::optional<QString> {
    bool ok = false;
    const QString text = QInputDialog::getText(parent, caption, prompt, QLineEdit::Normal, defaultText, &ok);
    if (!ok) return std::nullopt;
    return text;
  };
  dialogs.ShowMessage = [](QWidget* parent, const QString& text) {
    QMessageBox box(QMessageBox::NoIcon, QApplication::applicationDisplayName(), text, QMessageBox::Ok, parent);
    box.exec();
  };
  dialogs.ShowError = [](QWidget* parent, const QString& text) { QMessageBox::critical(parent, "Error", text); };
  return dialogs;
}

}  // namespace

tChartProperties& ChartProperties() {
  if (!gChartProperties) ResetChartProperties();
  return *gChartProperties;
}

void ResetChartProperties() {
  gChartProperties = tChartProperties{};
  gChartProperties->Palette = CreatePalette(ToolkitVariant() == tToolkitVariant::tvMapFileManager
                                                ? tPaletteType::ptQualitative256
                                                : tPaletteType::ptQualitative1024);
}

tChartDialogs& ChartDialogs() {
  if (!gChartDialogs) gChartDialogs = PersonsDialogs();
  return *gChartDialogs;
}

void ResetChartDialogs() { gChartDialogs = PersonsDialogs(); }

// ============================================================ tGraphicChart

namespace {

constexpr double NaN = std::numeric_limits<double>::quiet_NaN();

QColor PaletteColor(Integer index) {
  const tPalette& palette = ChartProperties().Palette;
  if (palette.empty() || index < 0) return QColor(Qt::black);
  return ToQColor(palette[size_t(index) % palette.size()]);
}

// A step of 1, 2 or 5 times a power of ten, about a fifth of the span.
double NiceStep(double span) {
  const double raw = span / 5;
  if (!(raw > 0) || !std::isfinite(raw)) return 1;
  const double power = std::pow(10.0, std::floor(std::log10(raw)));
  const double f = raw / power;
  return (f < 1.5 ? 1 : f < 3 ? 2 : f < 7 ? 5 : 10) * power;
}

void ApplyRange(QValueAxis* axis, double min, double max) {
  if (min == max) {
    const double d = min == 0 ? 1 : std::fabs(min) / 10;
    min -= d;
    max += d;
  }
  // The axis lays its ticks out at once for each change: the interval grows
  // before the range and shrinks after it, so that no step of the change asks
  // for thousands of ticks.
  const double step = NiceStep(max - min);
  const bool growing = step > axis->tickInterval();
  if (growing) axis->setTickInterval(step);
  if (axis->min() != min || axis->max() != max) axis->setRange(min, max);
  if (!growing && axis->tickInterval() != step) axis->setTickInterval(step);
}

void SetPenWidth(QAbstractSeries* series, int width) {
  if (auto* bars = qobject_cast<QAbstractBarSeries*>(series)) {
    for (QBarSet* set : bars->barSets()) {
      QPen pen = set->pen();
      pen.setWidth(width);
      set->setPen(pen);
    }
  } else if (auto* xy = qobject_cast<QXYSeries*>(series)) {
    QPen pen = xy->pen();
    pen.setWidth(width);
    xy->setPen(pen);
  }
}

void SetUpAxis(QValueAxis* axis, const QString& title) {
  axis->setTitleText(title);
  axis->setLabelFormat("%g");
  axis->setTickType(QValueAxis::TicksDynamic);
  axis->setTickAnchor(0);
  ApplyRange(axis, 0, 1);
}

}  // namespace

tGraphicChart::tHost tGraphicChart::PrepareContainer(QWidget* parent, const QString& title) {
  const tChartProperties& properties = ChartProperties();
  const QString caption = title.isEmpty() ? properties.ContainerCaption : title;
  if (parent == nullptr) {
    auto* container = new QWidget(nullptr, Qt::Window);
    container->setAttribute(Qt::WA_DeleteOnClose);
    container->setWindowTitle(caption);
    container->resize(400, 400);
    if (properties.ContainerModal) container->setWindowModality(Qt::ApplicationModal);
    const QWidget* over = properties.ContainerPosition == tWindowPosition::poMainFormCenter
                              ? QApplication::activeWindow()
                              : nullptr;
    if (over != nullptr)
      container->move(over->frameGeometry().center() - container->rect().center());
    else if (properties.ContainerPosition != tWindowPosition::poDefaultPosOnly && container->screen())
      container->move(container->screen()->availableGeometry().center() - container->rect().center());
    RegisterCleanUp();
    gOwnWindows.removeAll(nullptr);
    gOwnWindows.append(container);
    return {container, tContainerKind::ckOwnWindow};
  }
  if (auto* tabs = qobject_cast<QTabWidget*>(parent)) {
    auto* page = new QWidget;
    tabs->setCurrentIndex(tabs->addTab(page, caption));
    return {page, tContainerKind::ckPage};
  }
  return {parent, tContainerKind::ckParent};
}

tGraphicChart::tGraphicChart(QWidget* parent, const QString& xTitle, const QString& yTitle, const QString& title)
    : tGraphicChart(PrepareContainer(parent, title), xTitle, yTitle, title) {}

tGraphicChart::tGraphicChart(tHost host, const QString& xTitle, const QString& yTitle, const QString& title)
    : QChartView(host.Widget), fContainerKind(host.Kind) {
  QWidget* container = host.Widget;
  if (container->layout() == nullptr) {
    auto* layout = new QVBoxLayout(container);
    layout->setContentsMargins(0, 0, 0, 0);
  }
  container->layout()->addWidget(this);

  const tChartProperties& properties = ChartProperties();
  setRenderHint(QPainter::Antialiasing);
  setFrameShape(QFrame::NoFrame);
  // A chart's items change with every refresh: an index of their places would
  // be rebuilt for each of them, at a cost that grows with the square of the
  // number of series.
  scene()->setItemIndexMethod(QGraphicsScene::NoIndex);
  QChart* c = chart();
  c->setBackgroundRoundness(0);
  c->layout()->setContentsMargins(0, 0, 0, 0);
  c->setBackgroundBrush(properties.Color.isValid() ? properties.Color : palette().color(QPalette::Base));
  c->legend()->setVisible(properties.LegendVisible);
  c->setTitle(title);
  fBottomAxis = new QValueAxis;
  fLeftAxis = new QValueAxis;
  c->addAxis(fBottomAxis, Qt::AlignBottom);
  c->addAxis(fLeftAxis, Qt::AlignLeft);
  SetUpAxis(fBottomAxis, xTitle);
  SetUpAxis(fLeftAxis, yTitle);
  fNaturalMargins = c->margins();
  fLines = new tChartLines(*this);

  setContextMenuPolicy(Qt::CustomContextMenu);
  connect(this, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& at) { GraphPopUp().PopupFor(this, mapToGlobal(at)); });
  connect(c, &QChart::plotAreaChanged, this, [this](const QRectF& plot) {
    fLaidOut = {chart()->size(), chart()->margins(), plot};
    UpdateLayers();
  });
  // Narrowing the plot area lays the chart out again: not from inside a layout.
  connect(c, &QChart::plotAreaChanged, this, &tGraphicChart::Rescale, Qt::QueuedConnection);
  connect(fBottomAxis, &QValueAxis::rangeChanged, this, [this] { UpdateLayers(); });
  connect(fLeftAxis, &QValueAxis::rangeChanged, this, [this] { UpdateLayers(); });
  // Points that arrive together are drawn together, a little later.
  fRefreshTimer.setSingleShot(true);
  fRefreshTimer.setInterval(100);
  connect(&fRefreshTimer, &QTimer::timeout, this, [this] {
    if (isVisible()) Refresh();
  });

  if (!properties.Visible) hide();
  if (fContainerKind == tContainerKind::ckOwnWindow) container->show();
}

tGraphicChart::~tGraphicChart() = default;

void tGraphicChart::SetCanBeClosed(bool value) {
  fCanBeClosed = value;
  GraphPopUp().mnClose->setEnabled(value);
}

void tGraphicChart::SetScaled(bool value) {
  fScaled = value;
  Rescale();
}

// ------------------------------------------------------------ selection

QAbstractSeries* tGraphicChart::SelectedSeries() const {
  return SeriesAt(fSelectedSeries < 0 ? 0 : fSelectedSeries);
}

void tGraphicChart::SetSelectedSeries(Integer index) {
  if (fSelectedSeries >= 0 && fSelectedSeries != index) UnemphasizeSeries(SeriesAt(fSelectedSeries));
  fSelectedSeries = index;
  if (index > -1) EmphasizeSeries(SeriesAt(index));
}

void tGraphicChart::SelectSeries(QAbstractSeries* series) {
  const Integer index = IndexOfSeries(series);
  SetSelectedSeries(index >= 0 && index != fSelectedSeries ? index : -1);
}

void tGraphicChart::SetOnAfterSeriesClick(tSeriesClickHandler handler) { fOnAfterSeriesClick = std::move(handler); }

void tGraphicChart::OnClickSeriesDo(QAbstractSeries* series, Integer valueIndex) {
  SelectSeries(series);
  if (fOnAfterSeriesClick) fOnAfterSeriesClick(*this, series, valueIndex);
}

// ------------------------------------------------------------ axes

void tGraphicChart::SetBottomAxisRange(double min, double max) {
  fAutomaticBottom = false;
  ApplyRange(fBottomAxis, min, max);
  Rescale();
}

void tGraphicChart::SetLeftAxisRange(double min, double max) {
  fAutomaticLeft = false;
  ApplyRange(fLeftAxis, min, max);
  Rescale();
}

void tGraphicChart::SetAutomaticAxes() {
  fAutomaticBottom = true;
  fAutomaticLeft = true;
  // What changed before (lines shown or hidden) is drawn together with the new
  // axes, in one drawing.
  if (isVisible())
    Refresh();
  else
    ScheduleRefresh();
}

void tGraphicChart::SetRoundedLeftAxis(bool rounded) {
  fRoundedLeft = rounded;
  ScheduleRefresh();
}

void tGraphicChart::ApplyAutomaticRanges() {
  if (!fAutomaticBottom && !fAutomaticLeft) return;
  double minX = std::numeric_limits<double>::infinity(), maxX = -minX, minY = minX, maxY = -minX;
  auto include = [&](double x, double y, double r) {
    if (!std::isfinite(x) || !std::isfinite(y)) return;
    minX = std::min(minX, x - r);
    maxX = std::max(maxX, x + r);
    minY = std::min(minY, y - r);
    maxY = std::max(maxY, y + r);
  };
  for (QAbstractSeries* series : chart()->series()) {
    auto* xy = qobject_cast<QXYSeries*>(series);
    if (xy && fLines->Holds(xy)) {
      double x0, x1, y0, y1;
      if (fLines->Range(xy, x0, x1, y0, y1)) {
        include(x0, y0, 0);
        include(x1, y1, 0);
      }
    } else if (auto* bubbles = qobject_cast<tBubbleSeries*>(series)) {
      for (Integer i = 0; i < bubbles->count(); ++i)
        include(bubbles->at(i).x(), bubbles->at(i).y(), bubbles->Radius(i));
    } else if (xy) {
      for (const QPointF& p : xy->points()) include(p.x(), p.y(), 0);
    } else if (auto* bars = qobject_cast<QAbstractBarSeries*>(series)) {
      for (QBarSet* set : bars->barSets())
        for (int i = 0; i < set->count(); ++i) {
          include(i - 0.5, set->at(i), 0);
          include(i + 0.5, 0, 0);
        }
    }
  }
  if (minX > maxX) return;  // nothing to show yet
  if (fAutomaticBottom) ApplyRange(fBottomAxis, minX, maxX);
  if (fAutomaticLeft && fRoundedLeft && maxY > minY) {
    const double step = NiceStep(maxY - minY);
    minY = std::floor(minY / step) * step;
    maxY = std::ceil(maxY / step) * step;
  }
  if (fAutomaticLeft) ApplyRange(fLeftAxis, minY, maxY);
}

// ------------------------------------------------------------ series and points

Integer tGraphicChart::SeriesCount() const { return static_cast<Integer>(chart()->series().size()); }

QAbstractSeries* tGraphicChart::SeriesAt(Integer index) const {
  const QList<QAbstractSeries*> all = chart()->series();
  return index >= 0 && index < all.size() ? all[index] : nullptr;
}

Integer tGraphicChart::IndexOfSeries(const QAbstractSeries* series) const {
  return static_cast<Integer>(chart()->series().indexOf(series));
}

void tGraphicChart::AddSeries(QAbstractSeries* series) {
  Assert(series != nullptr, "No series to add.");
  chart()->addSeries(series);
  series->attachAxis(fBottomAxis);
  series->attachAxis(fLeftAxis);
  // Every new series takes the palette colour of its index, with a thin pen so
  // that emphasis shows.
  const QColor color = PaletteColor(SeriesCount() - 1);
  if (auto* bubbles = qobject_cast<tBubbleSeries*>(series)) {
    bubbles->setColor(color);
    bubbles->setPen(QPen(Qt::black, 1));
    bubbles->AttachTo(*this);
  } else if (auto* xy = qobject_cast<QXYSeries*>(series)) {
    xy->setPen(QPen(color, 1));
    if (qobject_cast<QScatterSeries*>(series)) xy->setBrush(color);
  }
  if (auto* xy = qobject_cast<QXYSeries*>(series)) {
    // Marks show the values, as the labels of the points.
    xy->setPointLabelsFormat("@yPoint");
    xy->setPointLabelsVisible(ChartProperties().MarksVisible);
  }
  ConnectSeries(series);
  ScheduleRefresh();
}

void tGraphicChart::ConnectSeries(QAbstractSeries* series) {
  if (auto* xy = qobject_cast<QXYSeries*>(series)) {
    connect(xy, &QXYSeries::clicked, this,
            [this, xy](const QPointF& at) { OnClickSeriesDo(xy, FindValueIndex(xy, at)); });
  } else if (auto* bars = qobject_cast<QAbstractBarSeries*>(series)) {
    connect(bars, &QAbstractBarSeries::clicked, this,
            [this, bars](int index, QBarSet*) { OnClickSeriesDo(bars, index); });
  }
}

Integer tGraphicChart::FindValueIndex(QAbstractSeries* series, const QPointF& value) const {
  auto* xy = qobject_cast<QXYSeries*>(series);
  if (xy == nullptr) return -1;
  const QPointF target = ValueToPixel(value);
  Integer best = -1;
  double bestDistance = std::numeric_limits<double>::infinity();
  const QList<QPointF> points = Points(xy);
  for (Integer i = 0; i < points.size(); ++i) {
    const QPointF& p = points[i];
    if (!std::isfinite(p.y())) continue;
    const QPointF pixel = ValueToPixel(p);
    // The later point wins a tie: it is drawn on top.
    const double distance = std::hypot(pixel.x() - target.x(), pixel.y() - target.y());
    if (distance <= bestDistance) {
      bestDistance = distance;
      best = i;
    }
  }
  return best;
}

void tGraphicChart::CreateLineSeries(Integer n) {
  for (Integer i = 0; i < n; ++i) AddSeries(new QLineSeries);
}

void tGraphicChart::AddPoints(const tVectorOfDouble& values, double x) {
  const Integer count = std::min(static_cast<Integer>(values.size()), SeriesCount());
  const QList<QAbstractSeries*> all = chart()->series();
  for (Integer i = 0; i < count; ++i)
    if (auto* xy = qobject_cast<QXYSeries*>(all[i])) AppendPoint(xy, x, values[i]);
  ScheduleRefresh();
}

void tGraphicChart::ClearSeries() {
  for (QAbstractSeries* series : chart()->series()) {
    if (auto* bubbles = qobject_cast<tBubbleSeries*>(series))
      bubbles->Clear();
    else if (auto* xy = qobject_cast<QXYSeries*>(series))
      ClearPoints(xy);
    else if (auto* bars = qobject_cast<QAbstractBarSeries*>(series))
      for (QBarSet* set : bars->barSets()) set->remove(0, set->count());
  }
  ScheduleRefresh();
}

namespace {
// The lines the chart draws itself: those of line series (a scatter series
// draws points, whose markers the library keeps).
bool DrawnByChart(const QXYSeries* series) { return qobject_cast<const QLineSeries*>(series) != nullptr; }
}  // namespace

void tGraphicChart::AppendPoint(QXYSeries* series, double x, double y) {
  if (DrawnByChart(series)) {
    fLines->Append(series, QPointF(x, y));
    if (!fRefreshPending) ScheduleRefresh();
    return;
  }
  if (!std::isfinite(y)) {
    AppendNullPoint(series, x);
    return;
  }
  {
    // The series learns of its new point at the next refresh, with all the others.
    const QSignalBlocker quiet(series);
    series->append(x, y);
  }
  if (!fStale.contains(series)) fStale.append(series);
  ScheduleRefresh();
}

void tGraphicChart::AppendNullPoint(QXYSeries* series, double x) {
  if (DrawnByChart(series)) {
    AppendPoint(series, x, NaN);
    return;
  }
  // The library refuses to append a point without value but draws one as a gap
  // in the line when it is part of the whole list.
  // The list is taken from the series before the point is added, so that it is
  // not copied: a run of gaps costs no more than a run of values.
  QList<QPointF> points = series->points();
  {
    const QSignalBlocker quiet(series);
    series->replace(QList<QPointF>());
    points.append(QPointF(x, NaN));
    series->replace(points);
  }
  if (!fStale.contains(series)) fStale.append(series);
  ScheduleRefresh();
}

void tGraphicChart::AppendPoints(QXYSeries* series, const QList<QPointF>& points) {
  if (points.isEmpty()) return;
  if (DrawnByChart(series)) {
    fLines->Append(series, points);
    ScheduleRefresh();
    return;
  }
  for (const QPointF& p : points) AppendPoint(series, p.x(), p.y());
}

QList<QPointF> tGraphicChart::Points(const QXYSeries* series) const {
  if (series == nullptr) return {};
  HandPoints();
  return fLines->Holds(series) ? fLines->Points(series) : series->points();
}

Integer tGraphicChart::PointCount(const QXYSeries* series) const {
  if (series == nullptr) return 0;
  HandPoints();
  return static_cast<Integer>(fLines->Holds(series) ? fLines->Count(series) : series->count());
}

Integer tGraphicChart::PaintedPointCount(const QXYSeries* series) const {
  return series != nullptr && fLines->Holds(series) ? static_cast<Integer>(fLines->PaintedCount(series)) : -1;
}

QList<QPointF>& tGraphicChart::LinePoints(QLineSeries* series) { return fLines->PointList(series); }

void tGraphicChart::AddPointSource(const void* key, std::function<void()> hand) {
  fPointSources.emplace_back(key, std::move(hand));
}

void tGraphicChart::RemovePointSource(const void* key) {
  std::erase_if(fPointSources, [key](const auto& source) { return source.first == key; });
}

void tGraphicChart::HandPoints() const {
  for (const auto& [key, hand] : fPointSources) hand();
}

void tGraphicChart::ClearPoints(QXYSeries* series) {
  if (fLines->Holds(series))
    fLines->Clear(series);
  else
    series->clear();
  ScheduleRefresh();
}

void tGraphicChart::ScheduleRefresh() {
  fRefreshPending = true;
  // Nobody sees a hidden chart: its points wait until it shows.
  if (fRefreshTimer.isActive() || !isVisible()) return;
  // Drawing takes about a twentieth of the time while points keep coming (the
  // library does more after each refresh than the refresh measures), and a chart
  // that takes points is drawn again ten times a second at most: as often as an
  // eye follows a run, and the window's own painting each time costs a run more
  // than the new points do.
  // A drawing that takes longer once (the lines drawn anew at new axes) does
  // not hold the next one back: the lesser of the last two costs counts.
  const qint64 cost = std::min(fLastRefreshCost + fLastPaintCost, fPreviousCost);
  fRefreshTimer.setInterval(int(std::clamp<qint64>(19 * cost, 100, 10000)));
  fRefreshTimer.start();
}

void tGraphicChart::Refresh() {
  QElapsedTimer clock;
  clock.start();
  fRefreshTimer.stop();
  fRefreshPending = false;
  HandPoints();
  const QList<QPointer<QXYSeries>> stale = std::exchange(fStale, {});
  for (QXYSeries* xy : stale)
    if (xy) xy->replace(xy->points());
  ApplyAutomaticRanges();
  UpdateLayers();
  fLines->Update();
  Rescale();
  fPreviousCost = fLastRefreshCost + fLastPaintCost;
  fLastRefreshCost = clock.elapsed();
}

void tGraphicChart::UpdateLayers() {
  for (QGraphicsItem* item : chart()->childItems())
    if (auto* layer = qobject_cast<tChartLayer*>(item->toGraphicsObject())) layer->GeometryChanged();
}

void tGraphicChart::Rescale() {
  QChart* c = chart();
  if (!fScaled) {
    if (c->margins() != fNaturalMargins) c->setMargins(fNaturalMargins);
    return;
  }
  double dx = fBottomAxis->max() - fBottomAxis->min();
  double dy = fLeftAxis->max() - fLeftAxis->min();
  if (dx == 0) dx = dy;
  if (dy == 0) dy = dx;
  // The room that titles and labels took around the plot area in the last
  // layout, then the plot area that the natural margins give with that room.
  const tLaidOut& last = fLaidOut ? *fLaidOut : tLaidOut{c->size(), c->margins(), c->plotArea()};
  const QRectF& plot = last.PlotArea;
  if (dx <= 0 || plot.width() <= 0 || plot.height() <= 0) return;
  const double roomLeft = plot.left() - last.Margins.left();
  const double roomTop = plot.top() - last.Margins.top();
  const double roomRight = last.Size.width() - last.Margins.right() - plot.right();
  const double roomBottom = last.Size.height() - last.Margins.bottom() - plot.bottom();
  const QMargins& natural = fNaturalMargins;
  const QSizeF size = c->size();
  const double w = size.width() - natural.left() - natural.right() - roomLeft - roomRight;
  const double h = size.height() - natural.top() - natural.bottom() - roomTop - roomBottom;
  if (w <= 0 || h <= 0) return;
  const QMargins now = c->margins();
  const double r = dy / dx;
  QMargins target = natural;
  if (r >= h / w) {
    const int spare = std::max(0, int(std::lround(w - h / r)));
    target.setLeft(natural.left() + spare / 2);
    target.setRight(natural.right() + spare - spare / 2);
  } else {
    const int spare = std::max(0, int(std::lround(h - w * r)));
    target.setTop(natural.top() + spare / 2);
    target.setBottom(natural.bottom() + spare - spare / 2);
  }
  // A pixel either way is rounding: leave it, or the layout would never settle.
  auto near = [](int a, int b) { return std::abs(a - b) <= 1; };
  if (!near(target.left(), now.left()) || !near(target.right(), now.right()) || !near(target.top(), now.top()) ||
      !near(target.bottom(), now.bottom()))
    c->setMargins(target);
}

void tGraphicChart::resizeEvent(QResizeEvent* event) {
  QChartView::resizeEvent(event);
  Rescale();
}

void tGraphicChart::paintEvent(QPaintEvent* event) {
  // Points whose refresh is due are drawn now rather than a moment later. One
  // that is not yet due waits for its timer: a refresh repaints the chart, and
  // that painting must not start the next refresh while points keep arriving.
  if (fRefreshPending && fRefreshTimer.remainingTime() == 0) Refresh();
  QElapsedTimer clock;
  clock.start();
  QChartView::paintEvent(event);
  fLastPaintCost = clock.elapsed();
}

void tGraphicChart::showEvent(QShowEvent* event) {
  QChartView::showEvent(event);
  if (fRefreshPending) ScheduleRefresh();
}

QPointF tGraphicChart::ValueToPixel(const QPointF& value) const {
  const QRectF plot = chart()->plotArea();
  const double x =
      plot.left() + (value.x() - fBottomAxis->min()) / (fBottomAxis->max() - fBottomAxis->min()) * plot.width();
  const double y =
      plot.bottom() - (value.y() - fLeftAxis->min()) / (fLeftAxis->max() - fLeftAxis->min()) * plot.height();
  return QPointF(x, y);
}

QPointF tGraphicChart::PixelToValue(const QPointF& pixel) const {
  const QRectF plot = chart()->plotArea();
  const double x =
      fBottomAxis->min() + (pixel.x() - plot.left()) / plot.width() * (fBottomAxis->max() - fBottomAxis->min());
  const double y =
      fLeftAxis->min() + (plot.bottom() - pixel.y()) / plot.height() * (fLeftAxis->max() - fLeftAxis->min());
  return QPointF(x, y);
}

double tGraphicChart::PixelsPerLeftUnit() const {
  return chart()->plotArea().height() / (fLeftAxis->max() - fLeftAxis->min());
}

// ------------------------------------------------------------ saving and closing

bool tGraphicChart::SaveImage(const QString& fileName) {
  const QString extension = QString::fromStdString(LowerCase(ExtractFileExt(fileName.toStdString())));
  if (extension != ".svg" && extension != ".bmp") return false;
  Refresh();
  QSaveFile file(fileName);
  if (!file.open(QIODevice::WriteOnly))
    throw EInOutError(Format("Cannot create the file %s", fileName.toStdString()));
  bool written = true;
  if (extension == ".svg") {
    QSvgGenerator generator;
    generator.setOutputDevice(&file);
    generator.setSize(size());
    generator.setViewBox(rect());
    generator.setResolution(logicalDpiX());
    generator.setTitle(chart()->title());
    QPainter painter(&generator);
    // Lines, not a picture of them.
    fLines->SetDirect(true);
    render(&painter);
    fLines->SetDirect(false);
    written = painter.end();
  } else {
    written = grab().toImage().convertToFormat(QImage::Format_RGB888).save(&file, "BMP");
  }
  if (!written || !file.commit()) throw EInOutError(Format("Cannot write the file %s", fileName.toStdString()));
  return true;
}

QString tGraphicChart::DataText() {
  HandPoints();
  QString text;
  auto writeValues = [&text](const std::vector<double>& values) {
    for (double v : values) text += QString::fromStdString(FloatToDefaultStr(v)) + '\t';
    text += "\r\n";
  };
  auto writeSeries = [&](const QString& title, const std::vector<double>& xs, const std::vector<double>& ys) {
    text += title + "\r\n";
    writeValues(xs);
    writeValues(ys);
  };
  auto writeLine = [&](const QString& title, const QList<QPointF>& points) {
    std::vector<double> xs, ys;
    for (const QPointF& p : points)
      if (std::isfinite(p.y())) {  // gaps hold no value
        xs.push_back(p.x());
        ys.push_back(p.y());
      }
    writeSeries(title, xs, ys);
  };
  for (QAbstractSeries* series : chart()->series()) {
    if (auto* xy = qobject_cast<QXYSeries*>(series)) {
      writeLine(series->name(), Points(xy));
    } else if (auto* bars = qobject_cast<QAbstractBarSeries*>(series)) {
      for (QBarSet* set : bars->barSets()) {
        std::vector<double> xs, ys;
        for (int i = 0; i < set->count(); ++i) {
          xs.push_back(i);
          ys.push_back(set->at(i));
        }
        writeSeries(set->label(), xs, ys);
      }
    }
  }
  if (fLayerLines) fLayerLines(writeLine);
  for (const QString& line : fMetadata) text += line + "\r\n";
  return text;
}

void tGraphicChart::SaveData(const QString& fileName) {
  SaveTextToFile(fileName.toStdString(), DataText().toStdString());
}

void tGraphicChart::CloseGraph() {
  switch (fContainerKind) {
    case tContainerKind::ckPage:
      parentWidget()->deleteLater();
      break;
    case tContainerKind::ckOwnWindow:
      window()->close();
      break;
    case tContainerKind::ckParent:
      deleteLater();
      break;
  }
}

// ============================================================ tFunctionGraphChart

tFunctionGraphChart::tFunctionGraphChart(QWidget* parent, const QString& xTitle, const QString& yTitle,
                                         const QString& title)
    : tGraphicChart(parent, xTitle, yTitle, title) {
  fFunctionSeries = new QLineSeries;
  AddSeries(fFunctionSeries);
}

void tFunctionGraphChart::DrawFunction() {
  QList<QPointF> points;
  // A resolution of 0 would divide the range by zero: nothing is drawn.
  if (fGraphedFunction && fResolution > 0) {
    const double step = (fMaxX - fMinX) / fResolution;
    points.reserve(fResolution + 1);
    for (Cardinal i = 0; i <= fResolution; ++i) {
      const double x = fMinX + i * step;
      const double y = fGraphedFunction(x);
      points.append(QPointF(x, std::isfinite(y) ? y : NaN));
    }
  }
  {
    const QSignalBlocker quiet(fFunctionSeries);
    fFunctionSeries->replace(points);
  }
  Refresh();
}

// ============================================================ context menus

tGraphPopUp::tGraphPopUp() {
  mnSaveGraph = addAction("Save graph &image...");
  mnSaveData = addAction("Save graph &data...");
  addSeparator();
  mnViewMetadata = addAction("&View metadata");
  mnAddMetadata = addAction("&Add metadata...");
  addSeparator();
  mnClose = addAction("&Close graph");
  connect(mnSaveGraph, &QAction::triggered, this, &tGraphPopUp::OnSaveGraphClick);
  connect(mnSaveData, &QAction::triggered, this, &tGraphPopUp::OnSaveDataClick);
  connect(mnViewMetadata, &QAction::triggered, this, &tGraphPopUp::OnViewMetadata);
  connect(mnAddMetadata, &QAction::triggered, this, &tGraphPopUp::OnAddMetadata);
  connect(mnClose, &QAction::triggered, this, &tGraphPopUp::OnCloseClick);
}

void tGraphPopUp::PopupFor(tGraphicChart* chart, const QPoint& globalPosition) {
  CallingChart = chart;
  // The item follows the chart the menu is opened on, whichever chart set it last.
  mnClose->setEnabled(chart != nullptr && chart->CanBeClosed());
  popup(globalPosition);
}

void tGraphPopUp::OnSaveGraphClick() {
  tGraphicChart* chart = CallingChart;
  if (chart == nullptr) return;
  // Metafiles cannot be written here: vector pictures are saved as SVG.
  const std::optional<QString> fileName = ChartDialogs().SaveFileName(
      chart, "Save graph image", "Scalable Vector Graphics (*.svg)|*.svg|Bitmap (*.bmp)|*.bmp", "svg");
  if (!fileName) return;
  try {
    if (!chart->SaveImage(*fileName)) ChartDialogs().ShowError(chart, "Unsupported format");
  } catch (const Exception& e) {
    ChartDialogs().ShowError(chart, QString::fromStdString(e.Message()));
  }
}

void tGraphPopUp::OnSaveDataClick() {
  tGraphicChart* chart = CallingChart;
  if (chart == nullptr) return;
  const std::optional<QString> fileName = ChartDialogs().SaveFileName(
      chart, "Save data", "Tab-separated text file (*.txt)|*.txt|All (*.*)|*.*", "txt");
  if (!fileName) return;
  try {
    chart->SaveData(*fileName);
  } catch (const Exception& e) {
    ChartDialogs().ShowError(chart, QString::fromStdString(e.Message()));
  }
}

void tGraphPopUp::OnViewMetadata() {
  if (tGraphicChart* chart = CallingChart) ChartDialogs().ShowMessage(chart, chart->Metadata().join('\n'));
}

void tGraphPopUp::OnAddMetadata() {
  tGraphicChart* chart = CallingChart;
  if (chart == nullptr) return;
  // A cancelled box adds nothing.
  if (const std::optional<QString> line = ChartDialogs().InputQuery(chart, "Graph metadata", "", ""))
    chart->Metadata().append(*line);
}

void tGraphPopUp::OnCloseClick() {
  tGraphicChart* chart = CallingChart;
  if (chart != nullptr && chart->CanBeClosed()) chart->CloseGraph();
}

tGraphMapPopUp::tGraphMapPopUp() {
  mnSaveMap = addAction("Save map &image...");
  mnSaveMapData = addAction("Save map &data...");
  addSeparator();
  mnViewMetadata = addAction("&View metadata");
  mnAddMetadata = addAction("&Add metadata...");
  for (QAction* item : {mnSaveMap, mnSaveMapData, mnViewMetadata, mnAddMetadata}) item->setEnabled(false);
  addSeparator();
  mnTransparency = addMenu("&Transparency");
  for (Integer t = 0; t <= 10; ++t) {
    QAction* item = mnTransparency->addAction(QString("&%1%").arg(t * 10));
    item->setData(t);
    connect(item, &QAction::triggered, this, [this, t] { OnTransparency(t); });
  }
}

void tGraphMapPopUp::PopupFor(QWidget* graphMap, const QPoint& globalPosition) {
  CallingGraphMap = graphMap;
  popup(globalPosition);
}

tAlphaBlend tGraphMapPopUp::AlphaBlendFor(Integer tag) {
  const Integer v = 255 - static_cast<Integer>(Round(static_cast<long double>(tag) / 10 * 255));
  return tAlphaBlend{v >= 1, v};
}

void tGraphMapPopUp::OnTransparency(Integer tag) {
  QWidget* graphMap = CallingGraphMap;
  if (graphMap == nullptr) return;
  QWidget* window = graphMap->parentWidget();
  if (window == nullptr || !window->isWindow()) return;
  const tAlphaBlend blend = AlphaBlendFor(tag);
  window->setWindowOpacity(blend.AlphaBlend ? blend.AlphaBlendValue / 255.0 : 1.0);
}

tGraphPopUp& GraphPopUp() {
  if (gGraphPopUp == nullptr) {
    RegisterCleanUp();
    gGraphPopUp = new tGraphPopUp;
  }
  return *gGraphPopUp;
}

tGraphMapPopUp& GraphMapPopUp() {
  if (gGraphMapPopUp == nullptr) {
    RegisterCleanUp();
    gGraphMapPopUp = new tGraphMapPopUp;
  }
  return *gGraphMapPopUp;
}

// ============================================================ shortcuts

tGraphicChart* InitialiseGraphic(QWidget* chart, const QString& xTitle, const QString& yTitle,
                                 const QString& title) {
  if (auto* existing = qobject_cast<tGraphicChart*>(chart)) return existing;
  return new tGraphicChart(chart, xTitle, yTitle, title);
}

tGraphicChart* PlotLines(const tVectorOfDouble& x, const tMatrixOfDouble& rows, Integer n, const QString& xTitle,
                         const QString& yTitle, const QString& title, QWidget* chart) {
  Assert(n < static_cast<Integer>(rows.size()), "PlotLines needs rows 0 to N.");
  tGraphicChart* graph = InitialiseGraphic(chart, xTitle, yTitle, title);
  for (Integer r = 0; r <= n; ++r) {
    auto* series = new QLineSeries;
    graph->AddSeries(series);
    series->setColor(PaletteColor(graph->SeriesCount() - 1));
    const size_t count = std::min(x.size(), rows[r].size());
    for (size_t i = 0; i < count; ++i) {
      if (rows[r][i] == PlotLinesMissingValue)
        graph->AppendNullPoint(series, x[i]);
      else
        graph->AppendPoint(series, x[i], rows[r][i]);
    }
  }
  return graph;
}

tGraphicChart* PlotTriangle(const tVectorOfDouble& a, const tVectorOfDouble& b, const tVectorOfDouble& c,
                            const tVectorOfDouble& radius, const QString& xTitle, const QString& yTitle,
                            const QString& title, QWidget* chart) {
  Assert(a.size() == b.size() && a.size() == c.size(), "PlotTriangle needs as many A, B and C values.");
  Assert(radius.empty() || radius.size() == a.size(), "PlotTriangle needs one radius per point.");
  tGraphicChart* graph = InitialiseGraphic(chart, xTitle, yTitle, title);
  auto* series = new tCustomTriangleSeries(*graph);
  // The new series takes the colour of its own index.
  series->setColor(PaletteColor(graph->SeriesCount() - 1));
  for (size_t i = 0; i < a.size(); ++i) series->AddPoint(a[i], b[i], c[i], radius.empty() ? 0.01 : radius[i]);
  return graph;
}

void EmphasizeSeries(QAbstractSeries* series) { SetPenWidth(series, 2); }

void UnemphasizeSeries(QAbstractSeries* series) { SetPenWidth(series, 1); }

}  // namespace utile::gui
