#include <benchmark/benchmark.h>

#include <random>

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

}  // namespace
