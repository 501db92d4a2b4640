#include <benchmark/benchmark.h>

#include <cmath>
#include <numeric>
#include <random>

#include "Utile/MatrixOps.h"
#include "Utile/RandomFunctions.h"

namespace {

// The reference every deviate is measured against: the standard library's 64-bit
// Mersenne twister with its uniform real distribution.
void BM_Mt19937_64UniformReal(benchmark::State& state) {
  std::mt19937_64 engine(42);
  std::uniform_real_distribution<double> uniform(0.0, 1.0);
  for (auto _ : state) benchmark::DoNotOptimize(uniform(engine));
}
BENCHMARK(BM_Mt19937_64UniformReal);

void BM_Uniform(benchmark::State& state) {
  utile::SetSeeds(1, 1);
  for (auto _ : state) benchmark::DoNotOptimize(utile::Uniform());
}
BENCHMARK(BM_Uniform);

void BM_RanDouble(benchmark::State& state) {
  utile::SetSeeds(1, 1);
  for (auto _ : state) benchmark::DoNotOptimize(utile::Ran());
}
BENCHMARK(BM_RanDouble);

void BM_RanInteger(benchmark::State& state) {
  utile::SetSeeds(1, 1);
  for (auto _ : state) benchmark::DoNotOptimize(utile::Ran(utile::Integer(1000)));
}
BENCHMARK(BM_RanInteger);

void BM_GaussRan(benchmark::State& state) {
  utile::SetSeeds(1, 1);
  for (auto _ : state) benchmark::DoNotOptimize(utile::GaussRan());
}
BENCHMARK(BM_GaussRan);

void BM_StdNormalDistribution(benchmark::State& state) {
  std::mt19937_64 engine(42);
  std::normal_distribution<double> normal;
  for (auto _ : state) benchmark::DoNotOptimize(normal(engine));
}
BENCHMARK(BM_StdNormalDistribution);

void BM_PoissonRan(benchmark::State& state) {
  utile::SetSeeds(1, 1);
  const double mean = static_cast<double>(state.range(0));
  for (auto _ : state) benchmark::DoNotOptimize(utile::PoissonRan(mean));
}
BENCHMARK(BM_PoissonRan)->Arg(5)->Arg(500);

void BM_StdPoissonDistribution(benchmark::State& state) {
  std::mt19937_64 engine(42);
  std::poisson_distribution<int> poisson(static_cast<double>(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(poisson(engine));
}
BENCHMARK(BM_StdPoissonDistribution)->Arg(5)->Arg(500);

// ------------------------------------------------------------ autocorrelated fields

// Patches on a jittered square grid of spacing 10, the regional field's range 15.
utile::t2DPoints FieldPoints(int n) {
  utile::SetSeeds(7, 7);
  const int side = static_cast<int>(std::ceil(std::sqrt(n)));
  utile::t2DPoints points(n);
  for (int i = 0; i < n; ++i)
    points[i] = {10.0 * (i % side) + utile::Ran(-2.0, 2.0), 10.0 * (i / side) + utile::Ran(-2.0, 2.0)};
  return points;
}

// The reference: the field's steps with a fresh inversion of the kriging
// matrix for every point.
void PlainNetworkRan(const utile::t2DPoints& points, double range, utile::tVectorOfDouble& values,
                     utile::tMatrixOfDouble& corr) {
  const int n = static_cast<int>(points.size());
  corr.assign(n, utile::tVectorOfDouble(n));
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j) {
      const double dx = points[i].x - points[j].x, dy = points[i].y - points[j].y;
      corr[i][j] = std::exp(-3 * (dx * dx + dy * dy) / (range * range));
    }
  std::vector<int> order(n);
  std::iota(order.begin(), order.end(), 0);
  for (int k = 0; k < n / 2; ++k) {
    const int i = utile::Ran(n), j = utile::Ran(n);
    std::swap(order[i], order[j]);
  }
  values.assign(n, 0);
  values[order[0]] = utile::GaussRan(0, 1);
  for (int k = 1; k < n; ++k) {
    utile::tMatrixOfDouble kriging(k, utile::tVectorOfDouble(k));
    utile::tVectorOfDouble c(k);
    for (int a = 0; a < k; ++a) {
      c[a] = corr[order[k]][order[a]];
      for (int b = 0; b < k; ++b) kriging[a][b] = corr[order[a]][order[b]];
    }
    utile::tMatrixOfDouble inverse;
    try {
      inverse = utile::InvertMat(kriging);
    } catch (const std::exception&) {
      values[order[k]] = utile::GaussRan(0, 1);
      continue;
    }
    const utile::tVectorOfDouble w = utile::MatXvec(inverse, c);
    double m = 0, s = 0;
    for (int a = 0; a < k; ++a) {
      m += w[a] * values[order[a]];
      s += w[a] * c[a];
    }
    values[order[k]] = 1 - s < 0 ? m : utile::GaussRan(m, std::sqrt(1 - s));
  }
}

void BM_NetworkRanPlainInversion(benchmark::State& state) {
  const utile::t2DPoints points = FieldPoints(static_cast<int>(state.range(0)));
  utile::tVectorOfDouble values;
  utile::tMatrixOfDouble corr;
  for (auto _ : state) {
    PlainNetworkRan(points, 15, values, corr);
    benchmark::DoNotOptimize(values.data());
  }
}
BENCHMARK(BM_NetworkRanPlainInversion)->Arg(25)->Arg(50)->Arg(100)->Unit(benchmark::kMicrosecond);

void BM_NetworkRan(benchmark::State& state) {
  const utile::t2DPoints points = FieldPoints(static_cast<int>(state.range(0)));
  utile::tVectorOfDouble values;
  utile::tMatrixOfDouble corr;
  for (auto _ : state) {
    utile::NetworkRan(points, 0, 1, 1, 15, values, corr);
    benchmark::DoNotOptimize(values.data());
  }
}
BENCHMARK(BM_NetworkRan)->Arg(25)->Arg(50)->Arg(100)->Unit(benchmark::kMicrosecond);

}  // namespace
