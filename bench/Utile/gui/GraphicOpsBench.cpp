// Matrix pictures and charts filled point by point, on the offscreen platform.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QChart>
#include <QLineSeries>
#include <QValueAxis>
#include <cmath>
#include <random>

#include "Utile/ColorOps.h"
#include "Utile/gui/CustomChartSeries.h"
#include "Utile/gui/GraphicOps.h"

using namespace utile;
using namespace utile::gui;

namespace {

const tMatrixOfDouble& BigMatrix() {
  static const tMatrixOfDouble m = [] {
    std::mt19937_64 engine(42);
    std::uniform_real_distribution<double> value(0, 1000);
    tMatrixOfDouble result(4000, tVectorOfDouble(4000));
    for (auto& row : result)
      for (double& cell : row) cell = value(engine);
    result[17][23] = -999999;  // one missing cell
    return result;
  }();
  return m;
}

void BM_MatrixToBitmap(benchmark::State& state) {
  const tMatrixOfDouble& m = BigMatrix();
  const tRGBTriplePalette palette = ColorToRGBtriple(CreatePalette(tPaletteType::ptRainbow));
  const auto orientation = static_cast<tMapOrientation>(state.range(0));
  const bool logScale = state.range(1) != 0;
  QImage image;
  for (auto _ : state) {
    MatrixToBitmap(m, palette, image, 0, 0, orientation, logScale, -999999, TRGBTriple{128, 128, 128});
    benchmark::DoNotOptimize(image.constBits());
  }
  state.SetItemsProcessed(state.iterations() * 4000LL * 4000LL);
  state.SetLabel(std::string(orientation == tMapOrientation::moXY ? "moXY" : "moRowCol") +
                 (logScale ? ", log scale" : ""));
}
BENCHMARK(BM_MatrixToBitmap)->Args({1, 0})->Args({0, 0})->Args({1, 1})->Unit(benchmark::kMillisecond);

// Reference: the same picture pixel by pixel through the image's own setter.
void BM_MatrixToBitmapReferenceSetPixel(benchmark::State& state) {
  const tMatrixOfDouble& m = BigMatrix();
  const tPalette palette = CreatePalette(tPaletteType::ptRainbow);
  for (auto _ : state) {
    QImage image(4000, 4000, QImage::Format_RGB888);
    for (int r = 0; r < 4000; ++r)
      for (int c = 0; c < 4000; ++c) {
        const TColor color = ColorShade(m[r][c], palette, 0, 1000, -999999, 0x808080);
        image.setPixel(c, r, qRgb(GetRValue(color), GetGValue(color), GetBValue(color)));
      }
    benchmark::DoNotOptimize(image.constBits());
  }
  state.SetItemsProcessed(state.iterations() * 4000LL * 4000LL);
}
BENCHMARK(BM_MatrixToBitmapReferenceSetPixel)->Unit(benchmark::kMillisecond);

// Reference: the memory traffic alone, one colour written into every pixel.
void BM_MatrixToBitmapReferenceFill(benchmark::State& state) {
  for (auto _ : state) {
    QImage image(4000, 4000, QImage::Format_BGR888);
    image.fill(Qt::red);
    benchmark::DoNotOptimize(image.constBits());
  }
  state.SetItemsProcessed(state.iterations() * 4000LL * 4000LL);
}
BENCHMARK(BM_MatrixToBitmapReferenceFill)->Unit(benchmark::kMillisecond);

// Points appended to 10 series of one chart, one AddPoints call per x, then drawn.
// range(0): number of calls; range(1): let window messages through every that
// many calls (0: never), as a run does once per time step; range(2) not 0: every
// other call brings values that are not numbers (gaps).
void BM_AddPoints(benchmark::State& state) {
  const int calls = static_cast<int>(state.range(0));
  const int pumpEvery = static_cast<int>(state.range(1));
  const bool gaps = state.range(2) != 0;
  tVectorOfDouble values(10);
  for (auto _ : state) {
    QWidget window;
    window.resize(600, 400);
    auto* chart = new tGraphicChart(&window, "t", "N", "");
    chart->CreateLineSeries(10);
    window.show();
    QCoreApplication::processEvents();
    for (int i = 0; i < calls; ++i) {
      for (int s = 0; s < 10; ++s) values[s] = gaps && i % 2 ? NAN : s * 10 + (i % 17);
      chart->AddPoints(values, i);
      if (pumpEvery > 0 && i % pumpEvery == 0) QCoreApplication::processEvents();
    }
    chart->Refresh();
    benchmark::DoNotOptimize(chart->grab());
  }
  state.SetItemsProcessed(state.iterations() * calls * 10LL);
}
BENCHMARK(BM_AddPoints)
    ->Args({100000, 0, 0})
    ->Args({100000, 100, 0})
    ->Args({10000, 0, 0})
    ->Args({100000, 0, 1})
    ->Unit(benchmark::kMillisecond);

// Reference: the library's own append, which lays the series out again after
// every point.
void BM_AddPointsReferenceAppend(benchmark::State& state) {
  const int calls = static_cast<int>(state.range(0));
  for (auto _ : state) {
    QWidget window;
    window.resize(600, 400);
    auto* chart = new tGraphicChart(&window, "t", "N", "");
    chart->CreateLineSeries(10);
    chart->SetBottomAxisRange(0, calls);
    chart->SetLeftAxisRange(0, 120);
    window.show();
    QCoreApplication::processEvents();
    const QList<QAbstractSeries*> all = chart->chart()->series();
    for (int i = 0; i < calls; ++i)
      for (int s = 0; s < 10; ++s) static_cast<QXYSeries*>(all[s])->append(i, s * 10 + (i % 17));
    benchmark::DoNotOptimize(chart->grab());
  }
  state.SetItemsProcessed(state.iterations() * calls * 10LL);
}
BENCHMARK(BM_AddPointsReferenceAppend)->Arg(2500)->Arg(10000)->Unit(benchmark::kMillisecond);

// A run's points into a family of lines: 400 lines (the abundances and sex
// ratios of 100 patches) take one point each per step for 1,000 steps, on a chart
// that is not shown, then go to the chart together.
void BM_LineSeriesSetAppend(benchmark::State& state) {
  constexpr int Lines = 400, Steps = 1000;
  QWidget window;
  auto* chart = new tGraphicChart(&window, "t", "N", "");
  tLineSeriesSet set(*chart);
  for (int i = 0; i < Lines; ++i) set.Add(QString::number(i), Qt::red);
  set.MakeActiveSeries();
  for (auto _ : state) {
    for (int i = 0; i < Lines; ++i) set.ClearPoints(i);
    for (int t = 0; t < Steps; ++t)
      for (int i = 0; i < Lines; ++i) set.AppendPoint(i, t, (t * 7 + i) % 101);
    benchmark::DoNotOptimize(set.PointCount(Lines - 1));
  }
  state.SetItemsProcessed(state.iterations() * Lines * Steps);
}
BENCHMARK(BM_LineSeriesSetAppend)->Unit(benchmark::kMillisecond);

// Reference: the same values written into one plain array per line.
void BM_LineSeriesSetAppendReferenceVectors(benchmark::State& state) {
  constexpr int Lines = 400, Steps = 1000;
  std::vector<std::vector<QPointF>> lines(Lines);
  for (auto _ : state) {
    for (auto& line : lines) line.clear();
    for (int t = 0; t < Steps; ++t)
      for (int i = 0; i < Lines; ++i) lines[i].emplace_back(t, (t * 7 + i) % 101);
    benchmark::DoNotOptimize(lines.back().size());
  }
  state.SetItemsProcessed(state.iterations() * Lines * Steps);
}
BENCHMARK(BM_LineSeriesSetAppendReferenceVectors)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication application(argc, argv);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
