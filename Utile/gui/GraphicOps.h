// The drawing side of the toolkit: matrices rendered as 24-bit pictures through a
// palette, and a thin layer over the charting library that every window builds
// its charts with: one set of process-wide chart properties, the chart class
// tGraphicChart (on its own window, on a new page of a tab widget or inside a
// given widget, with a metadata list, series selection and isometric axes), a
// chart of a function of one variable, the context menus shared by all charts and
// map images, and the plotting shortcuts PlotLines and PlotTriangle.
#pragma once

#include <QChartView>
#include <QImage>
#include <QMenu>
#include <QPointer>
#include <QStringList>
#include <QTimer>
#include <cmath>
#include <functional>
#include <optional>
#include <utility>
#include <vector>

#include "Utile/ColorOps.h"
#include "Utile/CommonDecl.h"

class QAbstractSeries;
class QLineSeries;
class QTabWidget;
class QValueAxis;
class QXYSeries;

namespace utile::gui {

// ------------------------------------------------------------ matrix pictures

enum class tMapOrientation {
  moXY,      // the matrix's first index is x: width = rows of M, pixel (x, y) = M[x][y]
  moRowCol,  // rows are lines: width = length of M[0], pixel (column c, line r) = M[r][c]
};

// Renders M into Bitmap (a null image is created; either way it becomes a 24-bit
// picture of the matrix's size) and returns it. Min = Max takes the range of the
// present cells; the log scale draws v as log10(v + 1 - Min). Cells within 1e-6 of
// MissingValue take MissingColor.
QImage& MatrixToBitmap(const tMatrixOfDouble& m, const tRGBTriplePalette& palette, QImage& bitmap, double min,
                       double max, tMapOrientation orientation, bool logScale, double missingValue,
                       TRGBTriple missingColor);
// The same with a palette of colours and grey ($808080) for missing cells.
QImage& MatrixToBitmap(const tMatrixOfDouble& m, const tPalette& palette, QImage& bitmap, double min, double max,
                       tMapOrientation orientation, bool logScale, double missingValue);

QColor ToQColor(TColor color);
TColor ToTColor(const QColor& color);

// ------------------------------------------------------------ chart properties

enum class tWindowPosition { poDefaultPosOnly, poScreenCenter, poMainFormCenter };

struct tChartProperties {
  QColor Color;  // invalid: the system's window colour
  QString ContainerCaption = "Graphic";
  bool ContainerModal = false;
  tWindowPosition ContainerPosition = tWindowPosition::poDefaultPosOnly;
  bool LegendVisible = false;
  bool MarksVisible = false;
  tPalette Palette;  // colours of new series, taken by series index
  bool View3D = false;
  bool Visible = true;
};

// The one record, made on first use with the start values of this program's
// toolkit variant (the map-file manager's palette has 256 qualitative colours,
// the main program's 1024).
tChartProperties& ChartProperties();
// Back to the start values; tests call it.
void ResetChartProperties();

// ------------------------------------------------------------ questions to the user

// Every question the charts ask goes through here, so that a test can answer in
// place of a person. Filters are written "Text (*.a)|*.a|Other (*.b)|*.b".
struct tChartDialogs {
  // The chosen file, or nothing when cancelled; a name without extension gets
  // the default extension (given without its dot).
  std::function<std::optional<QString>(QWidget* parent, const QString& title, const QString& filter,
                                       const QString& defaultExtension)>
      SaveFileName;
  // One line typed by the user, or nothing when cancelled.
  std::function<std::optional<QString>(QWidget* parent, const QString& caption, const QString& prompt,
                                       const QString& defaultText)>
      InputQuery;
  // A plain message box without icon; an error box.
  std::function<void(QWidget* parent, const QString& text)> ShowMessage;
  std::function<void(QWidget* parent, const QString& text)> ShowError;
};
tChartDialogs& ChartDialogs();
// A person's dialogs again.
void ResetChartDialogs();

// ------------------------------------------------------------ charts

class tChartLayer;
class tChartLines;

// One series as the chart's data file holds it: its title and every point, a
// gap with a y that is not a number.
struct tDataBlock {
  QString Title;
  QList<QPointF> Points;
};

// The ticks of an axis: the multiples of Step from Min to Max and their labels.
struct tAxisTicks {
  double Step = 0;
  std::vector<double> Values;
  QStringList Labels;
  bool operator==(const tAxisTicks&) const = default;
};

// The label of a tick at Value among ticks Step apart on an axis whose values
// reach Largest in size: the digits that tell the ticks apart, without trailing
// zeros ("0.25", "1500"), in exponent form beyond a million or below 1E-4
// ("2e+06"); a tick at zero reads "0".
QString TickLabel(double value, double step, double largest);

// The ticks an axis Length pixels long shows over Min..Max: the finest of the
// steps 1, 2 and 5 times a power of ten, from about a fifth of the span (and no
// finer than MinimumStep) up, whose every label (its Extent along the axis, in
// pixels) fits between its neighbours and in the room the charting library gives
// a label; two ticks at least when the span holds two. A tick at either end
// whose label would reach further than RoomBefore pixels before the axis's start
// or RoomAfter after its end is left out. Nothing for an empty span.
tAxisTicks AxisTicks(double min, double max, double length,
                     const std::function<double(const QString&)>& extent, double minimumStep = 0,
                     double roomBefore = HUGE_VAL, double roomAfter = HUGE_VAL);

// A chart control. Series are added through AddSeries so that they use the
// chart's axes and answer clicks. Points appended through AddPoints, AppendPoint
// and AppendNullPoint are stored at once but drawn together a moment later, so
// that a long run of points does not lay the chart out again after every one;
// a chart that does not show (on a page behind another) is drawn when it shows.
// The chart keeps the points of the line series it is given that way itself and
// draws those lines on a picture of its own (tChartLines): such a series holds
// no points of its own; Points and PointCount read them, ClearPoints empties it.
class tGraphicChart : public QChartView {
  Q_OBJECT
public:
  // Called after a click on a series, with the index of the point clicked.
  using tSeriesClickHandler = std::function<void(tGraphicChart& chart, QAbstractSeries* series, Integer valueIndex)>;

  // The texts are the bottom-axis title, the left-axis title and the chart title.
  // Without parent the chart gets a window of its own (captioned Title, or
  // ContainerCaption when Title is empty); a tab widget as parent gets a new
  // current page with that caption; any other parent receives the chart.
  tGraphicChart(QWidget* parent, const QString& xTitle, const QString& yTitle, const QString& title);
  ~tGraphicChart() override;

  QStringList& Metadata() { return fMetadata; }
  const QStringList& Metadata() const { return fMetadata; }

  bool CanBeClosed() const { return fCanBeClosed; }
  void SetCanBeClosed(bool value);
  // Both axes at the same scale: the plot area is narrowed to the axes' ratio.
  bool Scaled() const { return fScaled; }
  void SetScaled(bool value);

  // The emphasised series: index, or -1 for none.
  Integer SelectedSeriesIndex() const { return fSelectedSeries; }
  // The selected series, or series 0 when none is selected (nullptr without series).
  QAbstractSeries* SelectedSeries() const;
  void SetSelectedSeries(Integer index);
  // Selects S, or clears the selection when S already is the selected series.
  void SelectSeries(QAbstractSeries* series);
  void SetOnAfterSeriesClick(tSeriesClickHandler handler);
  // What a click on a series does: select it, then call the handler.
  void OnClickSeriesDo(QAbstractSeries* series, Integer valueIndex);

  QValueAxis* BottomAxis() const { return fBottomAxis; }
  QValueAxis* LeftAxis() const { return fLeftAxis; }
  // Fixes an axis to a range; without it the axis follows the data.
  void SetBottomAxisRange(double min, double max);
  void SetLeftAxisRange(double min, double max);
  // Both axes follow the data again, drawn at once when the chart shows.
  void SetAutomaticAxes();
  // While set, an automatic left axis reaches out to whole steps of its ticks,
  // so that a run's lines are not drawn anew at each new highest or lowest value.
  void SetRoundedLeftAxis(bool rounded);

  Integer SeriesCount() const;
  QAbstractSeries* SeriesAt(Integer index) const;
  Integer IndexOfSeries(const QAbstractSeries* series) const;
  // The chart takes the series over.
  void AddSeries(QAbstractSeries* series);
  // N line series in the palette colours of their indices.
  void CreateLineSeries(Integer n);
  // Point (X, Values[i]) to series i, for as many series and values as both have.
  void AddPoints(const tVectorOfDouble& values, double x);
  void ClearSeries();
  // One point, drawn with the next refresh; a value that is not finite leaves a gap.
  void AppendPoint(QXYSeries* series, double x, double y);
  // A gap in the line at x.
  void AppendNullPoint(QXYSeries* series, double x);
  // Many points at once, as AppendPoint would add them one by one.
  void AppendPoints(QXYSeries* series, const QList<QPointF>& points);
  // Every point of a series as it was given (a gap has a y that is not a number).
  QList<QPointF> Points(const QXYSeries* series) const;
  Integer PointCount(const QXYSeries* series) const;
  // Empties one series.
  void ClearPoints(QXYSeries* series);
  // How many of a line series' points the chart's picture of its lines held
  // when it was last drawn (those handed to the screen); -1 for a series the
  // charting library draws itself.
  Integer PaintedPointCount(const QXYSeries* series) const;
  // The list in which the chart keeps the points of a line series, for a caller
  // that appends hundreds of points a step (tLineSeriesSet) without a look-up
  // for each: points appended to it are drawn at the next refresh, which
  // PointsWaiting asks for; nothing else may change it. The list lives as long
  // as the series.
  QList<QPointF>& LinePoints(QLineSeries* series);
  void PointsWaiting() {
    if (!fRefreshPending) ScheduleRefresh();
  }
  // A holder of points for the chart's series (a tLineSeriesSet, whose run
  // appends hundreds of points a step) that hands them over only when the chart
  // draws or reads its points: Hand is called first. Key names the holder.
  void AddPointSource(const void* key, std::function<void()> hand);
  // Takes the holder's point source and data source off the chart.
  void RemovePointSource(const void* key);
  // A holder of lines (a tLineSeriesSet) that writes them into the data itself,
  // all of them in its own order, those without a series of the chart too:
  // Holds tells which of the chart's series are its own, Blocks gives its lines.
  // Its blocks come at the place of the first series it holds, or after the
  // chart's own series when it holds none. Key names the holder.
  void AddDataSource(const void* key, std::function<bool(const QAbstractSeries*)> holds,
                     std::function<std::vector<tDataBlock>()> blocks);
  // Draws what is pending now: points, automatic axis ranges and isometric margins.
  void Refresh();
  // Whether something given to the chart waits for the next refresh, which a
  // drawing in between does not show.
  bool RefreshPending() const { return fRefreshPending; }
  void Rescale();

  // Chart coordinates (those of the chart's scene) of a value and back.
  QPointF ValueToPixel(const QPointF& value) const;
  QPointF PixelToValue(const QPointF& pixel) const;
  // Pixels per unit of the left axis.
  double PixelsPerLeftUnit() const;
  // The points of a line series whose points the chart keeps, as the chart's
  // last drawing handed them to the painter (combined by pixel column; the
  // points added since the last whole drawing included). None for a hidden
  // series or one not drawn yet. Tests compare them with Points.
  QList<QPointF> DrawnPoints(const QXYSeries* series) const;
  // Whether the chart keeps the series' points and draws its line itself (a line
  // series given its points through the chart), so that DrawnPoints tells.
  bool KeepsPoints(const QXYSeries* series) const;
  // The labels an axis shows now, from the lowest value up.
  QStringList TickLabels(const QValueAxis* axis) const;

  // The picture by the file's extension: ".svg" vector graphics, ".bmp" 24-bit
  // bitmap. False for any other extension; EInOutError when writing fails.
  bool SaveImage(const QString& fileName);
  // What the data file holds of the series, in order: every line and point
  // series, every set of bars (x = the bar's index), the lines of the data
  // sources at their places.
  std::vector<tDataBlock> DataBlocks();
  // The series (title, x values, y values; gaps hold no value) then the
  // metadata, as text.
  QString DataText();
  void SaveData(const QString& fileName);
  // A chart on a page frees the page, on its own window closes the window,
  // otherwise frees itself.
  void CloseGraph();

protected:
  void resizeEvent(QResizeEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  void showEvent(QShowEvent* event) override;

private:
  friend class tChartLines;
  enum class tContainerKind { ckOwnWindow, ckPage, ckParent };
  struct tHost {
    QWidget* Widget;
    tContainerKind Kind;
  };

  tGraphicChart(tHost host, const QString& xTitle, const QString& yTitle, const QString& title);
  static tHost PrepareContainer(QWidget* parent, const QString& title);
  void ConnectSeries(QAbstractSeries* series);
  void ScheduleRefresh();
  // The points the sources hold, appended to their series.
  void HandPoints() const;
  void ApplyAutomaticRanges();
  void ApplyRange(QValueAxis* axis, double min, double max);
  // The axes' ticks for their ranges and the plot area's size.
  void UpdateTicks();
  void UpdateTicks(QValueAxis* axis, double length, double roomBefore, double roomAfter, tAxisTicks& shown);
  void UpdateLayers();
  Integer FindValueIndex(QAbstractSeries* series, const QPointF& value) const;

  tContainerKind fContainerKind = tContainerKind::ckParent;
  QStringList fMetadata;
  Integer fSelectedSeries = -1;
  tSeriesClickHandler fOnAfterSeriesClick;
  bool fCanBeClosed = false;
  bool fScaled = false;
  bool fAutomaticBottom = true;
  bool fAutomaticLeft = true;
  bool fRoundedLeft = false;
  bool fRefreshPending = false;
  QValueAxis* fBottomAxis = nullptr;
  QValueAxis* fLeftAxis = nullptr;
  QMargins fNaturalMargins;
  // The chart's size, margins and plot area of its last layout.
  struct tLaidOut {
    QSizeF Size;
    QMargins Margins;
    QRectF PlotArea;
  };
  std::optional<tLaidOut> fLaidOut;
  // The line series whose points the chart keeps (owned by the chart's scene).
  tChartLines* fLines = nullptr;
  // Other series that took points without telling the library yet.
  QList<QPointer<QXYSeries>> fStale;
  std::vector<std::pair<const void*, std::function<void()>>> fPointSources;
  struct tDataSource {
    const void* Key;
    std::function<bool(const QAbstractSeries*)> Holds;
    std::function<std::vector<tDataBlock>()> Blocks;
  };
  std::vector<tDataSource> fDataSources;
  // The ticks the axes show, and how often in a row the plot area's layout
  // changed them (a change lays the chart out again).
  tAxisTicks fBottomTicks, fLeftTicks;
  int fTickRelayouts = 0;
  QTimer fRefreshTimer;
  // Milliseconds the last refresh and the last painting took.
  qint64 fLastRefreshCost = 0;
  qint64 fLastPaintCost = 0;
  qint64 fPreviousCost = 0;  // the refresh and painting before
};

// A chart of one function of one variable, drawn at Resolution + 1 evenly spaced
// points from MinX to MaxX.
class tFunctionGraphChart : public tGraphicChart {
  Q_OBJECT
public:
  using tGraphedFunction = std::function<double(double)>;

  tFunctionGraphChart(QWidget* parent, const QString& xTitle, const QString& yTitle, const QString& title);

  static double DefaultFunction(double x) { return x; }
  void SetGraphedFunction(tGraphedFunction function) { fGraphedFunction = std::move(function); }
  Cardinal Resolution() const { return fResolution; }
  void SetResolution(Cardinal value) { fResolution = value; }
  double MinX() const { return fMinX; }
  void SetMinX(double value) { fMinX = value; }
  double MaxX() const { return fMaxX; }
  void SetMaxX(double value) { fMaxX = value; }
  QXYSeries* FunctionSeries() const { return fFunctionSeries; }
  // Replaces the points of the function series; a resolution of 0 draws nothing.
  void DrawFunction();

private:
  QXYSeries* fFunctionSeries = nullptr;
  tGraphedFunction fGraphedFunction = DefaultFunction;
  Cardinal fResolution = 20;
  double fMinX = 0;
  double fMaxX = 1;
};

// ------------------------------------------------------------ shared context menus

// The menu of every chart: save the picture or the data, view or add metadata,
// close the chart.
class tGraphPopUp : public QMenu {
  Q_OBJECT
public:
  tGraphPopUp();
  QAction* mnSaveGraph;
  QAction* mnSaveData;
  QAction* mnViewMetadata;
  QAction* mnAddMetadata;
  QAction* mnClose;
  // The chart the menu was opened on.
  QPointer<tGraphicChart> CallingChart;
  // Opens the menu for a chart.
  void PopupFor(tGraphicChart* chart, const QPoint& globalPosition);

  void OnSaveGraphClick();
  void OnSaveDataClick();
  void OnViewMetadata();
  void OnAddMetadata();
  void OnCloseClick();
};

// What the transparency items set on a map image's window.
struct tAlphaBlend {
  bool AlphaBlend = false;
  Integer AlphaBlendValue = 255;
};

// The menu of map images: only the transparency items act.
class tGraphMapPopUp : public QMenu {
  Q_OBJECT
public:
  tGraphMapPopUp();
  QAction* mnSaveMap;
  QAction* mnSaveMapData;
  QAction* mnViewMetadata;
  QAction* mnAddMetadata;
  QMenu* mnTransparency;
  // The map image the menu was opened on.
  QPointer<QWidget> CallingGraphMap;
  void PopupFor(QWidget* graphMap, const QPoint& globalPosition);

  // The window's blending for the item tagged t (0..10, from "&0%" to "&100%").
  static tAlphaBlend AlphaBlendFor(Integer tag);
  // Applies the item tagged t to the map image's window, when its parent is one.
  void OnTransparency(Integer tag);
};

// The two menus that all charts and map images share, made on first use.
tGraphPopUp& GraphPopUp();
tGraphMapPopUp& GraphMapPopUp();

// ------------------------------------------------------------ shortcuts

// Chart itself when it is a tGraphicChart, otherwise a new chart on it as parent
// (its own window when Chart is null).
tGraphicChart* InitialiseGraphic(QWidget* chart, const QString& xTitle, const QString& yTitle,
                                 const QString& title);

// The value that marks a hole in PlotLines rows.
inline constexpr double PlotLinesMissingValue = -999999.0;

// Rows 0..N of Rows as line series against X, each in the palette colour of its
// series index; a value of -999999.0 leaves a gap.
tGraphicChart* PlotLines(const tVectorOfDouble& x, const tMatrixOfDouble& rows, Integer n, const QString& xTitle,
                         const QString& yTitle, const QString& title, QWidget* chart);

// A ternary diagram of the points (A[i], B[i], C[i]) as bubbles of the given radii
// (0.01 for every point when Radius is empty).
tGraphicChart* PlotTriangle(const tVectorOfDouble& a, const tVectorOfDouble& b, const tVectorOfDouble& c,
                            const tVectorOfDouble& radius, const QString& xTitle, const QString& yTitle,
                            const QString& title, QWidget* chart);

// Pen width 2 (the line, or the outline of bars, bubbles and points); back to 1.
void EmphasizeSeries(QAbstractSeries* series);
void UnemphasizeSeries(QAbstractSeries* series);

}  // namespace utile::gui
