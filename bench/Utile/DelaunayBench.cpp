#include <benchmark/benchmark.h>

#include <memory>
#include <random>

#include "Utile/Delaunay.h"

namespace {

// Uniform random points; the largest size is the triangulation's capacity.
void BM_DelaunayCompute(benchmark::State& state) {
  const auto n = static_cast<int>(state.range(0));
  auto delaunay = std::make_unique<utile::tDelaunay>();
  std::mt19937 generator(31);
  std::uniform_real_distribution<double> uniform(0, 10000);
  for (int i = 0; i < n; ++i) delaunay->AddPoint(uniform(generator), uniform(generator));
  for (auto _ : state) {
    delaunay->Compute();
    benchmark::DoNotOptimize(delaunay->TriangleCount());
  }
  state.SetComplexityN(n);
}
BENCHMARK(BM_DelaunayCompute)
    ->Arg(10000)
    ->Arg(100000)
    ->Arg(utile::tDelaunay::MaxPoints)
    ->Unit(benchmark::kMillisecond)
    ->Complexity();

// Adding the points, with the duplicate test against every earlier point.
void BM_DelaunayAddPoints(benchmark::State& state) {
  const auto n = static_cast<int>(state.range(0));
  auto delaunay = std::make_unique<utile::tDelaunay>();
  std::mt19937 generator(31);
  std::uniform_real_distribution<double> uniform(0, 10000);
  std::vector<std::pair<double, double>> points(n);
  for (auto& p : points) p = {uniform(generator), uniform(generator)};
  for (auto _ : state) {
    delaunay->Clear();
    for (const auto& [x, y] : points) delaunay->AddPoint(x, y);
  }
}
BENCHMARK(BM_DelaunayAddPoints)->Arg(100000)->Unit(benchmark::kMillisecond);

}  // namespace
