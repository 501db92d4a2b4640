#include <benchmark/benchmark.h>

#include <random>

#include "Utile/RandomFunctions.h"
#include "Utile/SamplingOps.h"

namespace {

// Binomial deviates in each regime: direct counting (n < 25), waiting times
// (mean below 1) and rejection.
void BM_Bnldev(benchmark::State& state) {
  utile::SetSeeds(1, 1);
  const int n = static_cast<int>(state.range(0));
  const double p = static_cast<double>(state.range(1)) / 1000;
  for (auto _ : state) benchmark::DoNotOptimize(utile::bnldev(p, n));
}
BENCHMARK(BM_Bnldev)->Args({10, 300})->Args({50, 10})->Args({1000, 400});

void BM_StdBinomialDistribution(benchmark::State& state) {
  std::mt19937_64 engine(42);
  std::binomial_distribution<int> binomial(static_cast<int>(state.range(0)),
                                           static_cast<double>(state.range(1)) / 1000);
  for (auto _ : state) benchmark::DoNotOptimize(binomial(engine));
}
BENCHMARK(BM_StdBinomialDistribution)->Args({10, 300})->Args({50, 10})->Args({1000, 400});

// Hypergeometric deviates by inversion (small populations) and by ratio of uniforms.
void BM_HypergeometricRan(benchmark::State& state) {
  utile::SetSeeds(1, 1);
  const int n = static_cast<int>(state.range(0));
  const int m = static_cast<int>(state.range(1));
  const int nn = static_cast<int>(state.range(2));
  for (auto _ : state) benchmark::DoNotOptimize(utile::HypergeometricRan(n, m, nn));
}
BENCHMARK(BM_HypergeometricRan)->Args({10, 20, 50})->Args({300, 400, 1000});

void BM_Multinomial(benchmark::State& state) {
  utile::SetSeeds(1, 1);
  const utile::tVectorOfDouble p = {0.1, 0.2, 0.3, 0.4};
  for (auto _ : state) benchmark::DoNotOptimize(utile::Multinomial(100, p));
}
BENCHMARK(BM_Multinomial);

}  // namespace
