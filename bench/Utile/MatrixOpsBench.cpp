#include <benchmark/benchmark.h>

#include <Eigen/Dense>
#include <random>

#include "Utile/MatrixOps.h"

namespace {

utile::tMatrixOfDouble RandomMatrix(int n) {
  std::mt19937 generator(17);
  std::uniform_real_distribution<double> uniform(-1, 1);
  utile::tMatrixOfDouble m(n, utile::tVectorOfDouble(n));
  for (auto& row : m)
    for (double& x : row) x = uniform(generator);
  return m;
}

void BM_InvertMat(benchmark::State& state) {
  const utile::tMatrixOfDouble m = RandomMatrix(static_cast<int>(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(utile::InvertMat(m));
}
BENCHMARK(BM_InvertMat)->Arg(100)->Arg(500)->Unit(benchmark::kMillisecond);

// The reference: an LU inverse with partial pivoting from the same matrix.
void BM_EigenLuInverse(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  const utile::tMatrixOfDouble m = RandomMatrix(n);
  Eigen::MatrixXd e(n, n);
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j) e(i, j) = m[i][j];
  for (auto _ : state) {
    Eigen::MatrixXd inverse = e.partialPivLu().inverse();
    benchmark::DoNotOptimize(inverse.data());
  }
}
BENCHMARK(BM_EigenLuInverse)->Arg(100)->Arg(500)->Unit(benchmark::kMillisecond);

}  // namespace
