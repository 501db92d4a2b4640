#include <benchmark/benchmark.h>

#include <cmath>
#include <random>

#include "Utile/GraphTheoryOps.h"

namespace {

// Flux-like weights between 1,000 patches: most links weak, a few strong.
utile::tMatrixOfDouble Weights(int n) {
  std::mt19937 generator(5);
  std::uniform_real_distribution<double> uniform(0, 1);
  utile::tMatrixOfDouble w(n, utile::tVectorOfDouble(n));
  for (auto& row : w)
    for (double& x : row) x = std::pow(uniform(generator), 40);
  return w;
}

void BM_SubGraphsThresholdSearch(benchmark::State& state) {
  const utile::tMatrixOfDouble w = Weights(static_cast<int>(state.range(0)));
  const utile::Integer maxSize = static_cast<utile::Integer>(state.range(1));
  for (auto _ : state) {
    utile::tTableOfCardinal groups;
    utile::Double maxValue = -99, threshold = 0;
    utile::SubGraphs(w, maxSize, groups, maxValue, threshold);
    benchmark::DoNotOptimize(groups.data());
  }
}
BENCHMARK(BM_SubGraphsThresholdSearch)->Args({1000, 50})->Args({1000, 900})->Unit(benchmark::kMillisecond);

// The reference: the same search step by step through adjacency matrices and
// the components of each.
void BM_SubGraphsStepByStep(benchmark::State& state) {
  const utile::tMatrixOfDouble w = Weights(static_cast<int>(state.range(0)));
  const utile::Integer maxSize = static_cast<utile::Integer>(state.range(1));
  double top = 0;
  for (const auto& row : w)
    for (double x : row) top = std::max(top, x);
  for (auto _ : state) {
    utile::tTableOfCardinal groups;
    for (int k = 0; k <= 1000; ++k) {
      groups = utile::SubGraphs(utile::AdjacencyMatrix(w, top - k / 1000.0 * top));
      if (utile::LargestSubGraphSize(groups) > maxSize) {
        groups = utile::SubGraphs(utile::AdjacencyMatrix(w, top - (k - 1) / 1000.0 * top));
        break;
      }
    }
    benchmark::DoNotOptimize(groups.data());
  }
}
BENCHMARK(BM_SubGraphsStepByStep)->Args({1000, 50})->Args({1000, 900})->Unit(benchmark::kMillisecond);

}  // namespace
