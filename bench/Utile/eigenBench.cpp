#include <benchmark/benchmark.h>

#include <Eigen/Dense>
#include <random>

#include "Utile/eigen.h"

namespace {

// Nonnegative, as the landscape and projection matrices are.
Eigen::MatrixXd RandomMatrix(int n) {
  std::mt19937 generator(23);
  std::uniform_real_distribution<double> uniform(0, 1);
  Eigen::MatrixXd m(n, n);
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j) m(i, j) = uniform(generator);
  return m;
}

void BM_EigenVect(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  const Eigen::MatrixXd m = RandomMatrix(n);
  utile::fmath::TMatrix source(n, n);
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j) source[i][j] = m(i, j);
  utile::fmath::TVector re, im;
  utile::fmath::TMatrix z;
  for (auto _ : state) {
    utile::fmath::TMatrix a = source;
    benchmark::DoNotOptimize(utile::eigen::EigenVect(a, 0, n - 1, re, im, z));
  }
}
BENCHMARK(BM_EigenVect)->Arg(50)->Arg(200)->Arg(500)->Unit(benchmark::kMillisecond);

// The reference: all eigenvalues and eigenvectors of the same general matrix.
void BM_EigenGeneralSolver(benchmark::State& state) {
  const Eigen::MatrixXd m = RandomMatrix(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    Eigen::EigenSolver<Eigen::MatrixXd> solver(m, true);
    benchmark::DoNotOptimize(solver.eigenvectors().data());
  }
}
BENCHMARK(BM_EigenGeneralSolver)->Arg(50)->Arg(200)->Arg(500)->Unit(benchmark::kMillisecond);

}  // namespace
