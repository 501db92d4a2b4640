// The straight-line permeability matrix on a 1000 x 1000 raster, against the
// same matrix sampled point by point (500 samples per landscape unit), and the
// metapopulation capacity of up to 1,000 patches.
#include <benchmark/benchmark.h>

#include <cmath>
#include <random>

#include "Utile/MatrixOps.h"
#include "Utile/RunTime.h"
#include "models/MetapopCommon.h"

namespace {

using models::Patches;

void MakeLandscape(int patches, int rasterSide, unsigned seed) {
  models::ResetLandscape();
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> cell(0.2, 1.0), position(0, rasterSide);
  models::Map.assign(static_cast<size_t>(rasterSide),
                     utile::tVectorOfDouble(static_cast<size_t>(rasterSide)));
  for (auto& row : models::Map)
    for (auto& v : row) v = cell(rng);
  models::MapWidth = models::MapHeight = rasterSide;
  for (int i = 0; i < patches; ++i) {
    models::tCircle c;
    c.popID = i + 1;
    c.x = position(rng);
    c.y = position(rng);
    c.A = 1 + 9 * cell(rng);
    Patches.push_back(c);
  }
}

// Mean length of the segments, for the samples per second.
double MeanDistance() {
  double sum = 0;
  size_t pairs = 0;
  for (size_t i = 0; i < Patches.size(); ++i)
    for (size_t j = 0; j < i; ++j, ++pairs)
      sum += std::hypot(Patches[i].x - Patches[j].x, Patches[i].y - Patches[j].y);
  return pairs ? sum / static_cast<double>(pairs) : 0;
}

void BM_StraightLinePermeability(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  MakeLandscape(n, 1000, 42);
  models::PermeabilityType = models::ptStraightLine;
  for (auto _ : state) {
    models::ComputeDistanceMatrix();
    benchmark::DoNotOptimize(models::FrictionMap.data());
  }
  state.counters["pairs"] = n * (n - 1) / 2.0;
  state.counters["samples/s"] = benchmark::Counter(n * (n - 1) / 2.0 * 500 * MeanDistance(),
                                                   benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_StraightLinePermeability)->Arg(25)->Arg(50)->Arg(100)->Arg(200)->Unit(benchmark::kMillisecond);

// The reference: every one of the 500 samples per unit of every segment looked
// up and summed on its own.
void BM_StraightLinePermeabilityPerSample(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  MakeLandscape(n, 1000, 42);
  models::PermeabilityType = models::ptStraightLine;
  models::ComputeDistanceMatrix();  // builds the logarithm of the raster
  const auto& ln = models::LnMapView();
  const double rows = static_cast<double>(ln.size()), cols = static_cast<double>(ln[0].size());
  for (auto _ : state) {
    double total = 0;
    for (size_t i = 0; i < Patches.size(); ++i)
      for (size_t j = 0; j < i; ++j) {
        const auto &a = Patches[i], &b = Patches[j];
        const double d = std::hypot(b.x - a.x, b.y - a.y);
        const double dx = (b.x - a.x) / d / 500, dy = (b.y - a.y) / d / 500;
        const int64_t samples = utile::Round(500 * d);
        double sum = 0;
        for (int64_t k = 1; k <= samples; ++k) {
          const double ix = std::trunc(rows * (a.x + static_cast<double>(k) * dx) / models::MapWidth);
          const double iy = std::trunc(cols * (a.y + static_cast<double>(k) * dy) / models::MapHeight);
          if (ix < 0 || ix > rows - 1 || iy < 0 || iy > cols - 1) continue;
          sum += ln[static_cast<size_t>(ix)][static_cast<size_t>(iy)] / 500;
        }
        total += std::exp(sum);
      }
    benchmark::DoNotOptimize(total);
  }
  state.counters["pairs"] = n * (n - 1) / 2.0;
  state.counters["samples/s"] = benchmark::Counter(n * (n - 1) / 2.0 * 500 * MeanDistance(),
                                                   benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_StraightLinePermeabilityPerSample)->Arg(25)->Arg(50)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StraightLinePermeabilityPerSample)->Arg(200)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

namespace {

models::tParam CapacityParameters() {
  models::tParam param;
  param.Territ = 1;
  param.alph = 0.01;
  param.ZetaEm = 1;
  param.ZetaIm = 0.5;
  param.ZetaExt = 0.8;
  return param;
}

void BM_MetapopulationCapacity(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  MakeLandscape(n, 1000, 7);
  const models::tParam param = CapacityParameters();
  for (auto _ : state) benchmark::DoNotOptimize(models::ComputeMetapopulationCapacity(&param, Patches));
}
BENCHMARK(BM_MetapopulationCapacity)->Arg(125)->Arg(250)->Arg(500)->Arg(1000)->Unit(benchmark::kMillisecond);

// The reference: the matrix built cell by cell with both powers, then the plain
// power iteration from a vector of ones on it and on its transpose, to the
// tolerance 1e-50 within 1000 iterations.
void BM_MetapopulationCapacityPlainIteration(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  MakeLandscape(n, 1000, 7);
  const models::tParam p = CapacityParameters();
  for (auto _ : state) {
    models::ComputeDistanceMatrix();
    utile::tMatrixOfDouble m(static_cast<size_t>(n), utile::tVectorOfDouble(static_cast<size_t>(n), 0.0));
    for (int i = 0; i < n; ++i)
      for (int j = 0; j < n; ++j)
        if (i != j)
          m[i][j] = std::exp(-p.alph * models::DistanceMat[i][j]) *
                    std::pow(Patches[j].A / p.Territ, p.ZetaEm) *
                    std::pow(Patches[i].A / p.Territ, p.ZetaIm + p.ZetaExt);
    utile::tVectorOfDouble right(static_cast<size_t>(n)), left(static_cast<size_t>(n));
    double lambda = 0;
    utile::DominantEigensystem(m, right, lambda, 1000, 1e-50);
    utile::DominantEigensystem(utile::TransposeMat(m), left, lambda, 1000, 1e-50);
    benchmark::DoNotOptimize(lambda);
  }
}
BENCHMARK(BM_MetapopulationCapacityPlainIteration)
    ->Arg(125)
    ->Arg(250)
    ->Arg(500)
    ->Arg(1000)
    ->Unit(benchmark::kMillisecond);

}  // namespace
