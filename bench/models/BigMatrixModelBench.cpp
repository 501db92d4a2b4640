// The big-matrix occupancy model at the workbench's defaults (200 passes,
// tolerance 1e-9, coefficient precision 1e-8): the persistence eigenvalue Lp0 by
// the passes in blocks of source states (on the widest vector unit, and on AVX2),
// beside the pass one source state at a time that they replace and beside a
// plain implicit power iteration written here; the transposed pass (the left
// eigenvector) likewise; one pass of the combined matrix T by blocks, one source
// state at a time and cell by cell; one pass of P0 on each vector unit; and the
// Kesp3 approximation of Lt beside the exact value.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "Utile/VirtualMatrixOps.h"
#include "models/BigMatrixBlocks.h"
#include "models/BigMatrixModel.h"

namespace {

using models::tBigSPOMModel;

// n patches scattered over 100 x 100 with areas 20..60, dispersal decaying
// with distance (mean 30) and scaled per source, philopatry 0.8 relative to
// panmixis, productivity 1.1 and extinction risks 0.05..0.25.
struct tLandscape {
  std::vector<double> b, e, N;
  std::vector<std::vector<double>> M;
};

tLandscape MakeLandscape(int n, double minArea = 2, double maxArea = 10) {
  std::mt19937 rng(17);
  std::uniform_real_distribution<double> position(0, 100), area(minArea, maxArea), risk(0.05, 0.25);
  std::vector<double> x(n), y(n);
  tLandscape l;
  for (int i = 0; i < n; ++i) {
    x[i] = position(rng);
    y[i] = position(rng);
    l.N.push_back(std::round(area(rng)));
    l.e.push_back(risk(rng));
    l.b.push_back(1.1);
  }
  const double ph = 0.8 * (1 - 1.0 / n) + 1.0 / n;
  l.M.assign(n, std::vector<double>(n, 0.0));
  for (int j = 0; j < n; ++j) {
    double sum = 0;
    for (int k = 0; k < n; ++k)
      if (k != j) sum += std::exp(-std::hypot(x[k] - x[j], y[k] - y[j]) / 30);
    for (int k = 0; k < n; ++k)
      l.M[k][j] = k == j ? ph : (1 - ph) * std::exp(-std::hypot(x[k] - x[j], y[k] - y[j]) / 30) / sum;
  }
  return l;
}

void Apply(tBigSPOMModel& model, const tLandscape& l, double precision) {
  const int n = static_cast<int>(l.b.size());
  for (int i = 0; i < n; ++i) {
    model.Setb(i, l.b[i]);
    model.Sete(i, l.e[i]);
    model.SetN(i, 1, l.N[i]);
    model.SetNe(i, 1, l.N[i]);
    for (int j = 0; j < n; ++j) model.SetM(i, j, l.M[i][j]);
  }
  model.SetCoefficientPrecision(precision);
  model.Reset();
}

double PeakMiB() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss / 1024.0;
}

constexpr int Passes = 200;
constexpr double Tolerance = 1e-9, Precision = 1e-8;

// P0 multiplied one source state at a time, as before the blocks.
class tBySourceState : public utile::tBaseVirtualMatrixOfDouble {
 public:
  explicit tBySourceState(models::tBigDemographicMatrix& matrix) : fMatrix(matrix) {}
  double GetCells(models::Cardinal Row, models::Cardinal Col) override { return fMatrix.GetCells(Row, Col); }
  models::Cardinal GetColCount() override { return fMatrix.GetColCount(); }
  models::Cardinal GetRowCount() override { return fMatrix.GetRowCount(); }
  bool Product(const utile::tVectorOfDouble& x, utile::tVectorOfDouble& y, bool Transposed,
               bool LetMessagesThrough) override {
    return fMatrix.ProductBySourceState(x, y, Transposed, LetMessagesThrough);
  }

 private:
  models::tBigDemographicMatrix& fMatrix;
};

// The vector unit of a benchmark, the widest again afterwards; false (the
// benchmark skipped) when the processor has no such unit.
class tUnitInUse {
 public:
  tUnitInUse(benchmark::State& state, models::tVectorUnit unit) {
    if (unit > models::WidestVectorUnit())
      state.SkipWithError("The processor has no such vector unit.");
    else
      models::UseVectorUnit(unit);
  }
  ~tUnitInUse() { models::UseVectorUnit(models::WidestVectorUnit()); }
};

enum tPass { pBlocks, pBlocksAVX2, pBySourceState };

void ExactLp0(benchmark::State& state, tPass pass) {
  const int n = static_cast<int>(state.range(0));
  const tLandscape l = MakeLandscape(n);
  tUnitInUse unit(state, pass == pBlocksAVX2 ? models::tVectorUnit::vuAVX2 : models::WidestVectorUnit());
  double lp0 = 0;
  for (auto _ : state) {
    tBigSPOMModel model(n);
    Apply(model, l, Precision);
    if (pass == pBySourceState) {
      tBySourceState matrix(model.P0Mat());
      utile::DominantEigenvalue(matrix, lp0, Passes, Tolerance);
    } else {
      utile::DominantEigenvalue(model.P0Mat(), lp0, Passes, Tolerance);
    }
    benchmark::DoNotOptimize(lp0);
  }
  state.counters["Lp0"] = lp0;
  state.counters["passes"] = utile::EigenIteration;
  state.counters["peak_MiB"] = PeakMiB();
}
void BM_ExactLp0(benchmark::State& state) {
  ExactLp0(state, pBlocks);
}
void BM_ExactLp0AVX2(benchmark::State& state) {
  ExactLp0(state, pBlocksAVX2);
}
void BM_ExactLp0BySourceState(benchmark::State& state) {
  ExactLp0(state, pBySourceState);
}
BENCHMARK(BM_ExactLp0)->DenseRange(10, 16, 2)->Unit(benchmark::kSecond)->Iterations(1);
BENCHMARK(BM_ExactLp0AVX2)->DenseRange(10, 14, 2)->Unit(benchmark::kSecond)->Iterations(1);
BENCHMARK(BM_ExactLp0BySourceState)->DenseRange(10, 16, 2)->Unit(benchmark::kSecond)->Iterations(1);

// The reference: the plain power iteration on P0, each column's destination
// probabilities built by doubling over the demes with the same cut, added into
// the product vector, every pass.
double ReferenceLp0(const tLandscape& l, int& passes) {
  const int n = static_cast<int>(l.b.size());
  const size_t states = size_t{1} << n, rows = states - 1;
  std::vector<double> x(rows, 1.0), y(rows), column(states), q(n);
  double lambda = 0;
  for (passes = 0; passes <= Passes;) {
    std::fill(y.begin(), y.end(), 0.0);
    for (size_t c = 0; c < rows; ++c) {
      const size_t source = c + 1;
      for (int k = 0; k < n; ++k) {
        double recruits = 0;
        for (int j = 0; j < n; ++j)
          if ((source >> j) & 1) recruits += l.N[j] * l.b[j] * l.M[k][j];
        q[k] = l.e[k] + (1 - l.e[k]) * std::exp(-recruits);
      }
      column[0] = 1;
      for (int k = 0; k < n; ++k) {
        const size_t half = size_t{1} << k;
        for (size_t i = 0; i < half; ++i) {
          const double occupied = column[i] * (1 - q[k]), empty = column[i] * q[k];
          column[i + half] = occupied < Precision ? 0 : occupied;
          column[i] = empty < Precision ? 0 : empty;
        }
      }
      for (size_t r = 0; r < rows; ++r) y[r] += column[r + 1] * x[c];
    }
    double largest = 0;
    for (const double v : y)
      if (std::fabs(v) > std::fabs(largest)) largest = v;
    const double change = std::fabs(largest - lambda);
    for (size_t r = 0; r < rows; ++r) x[r] = y[r] / largest;
    lambda = largest;
    ++passes;
    if (change < Tolerance && passes > 6) break;
  }
  return lambda;
}

void BM_ExactLp0Reference(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  const tLandscape l = MakeLandscape(n);
  double lp0 = 0;
  int passes = 0;
  for (auto _ : state) {
    lp0 = ReferenceLp0(l, passes);
    benchmark::DoNotOptimize(lp0);
  }
  state.counters["Lp0"] = lp0;
  state.counters["passes"] = passes;
}
BENCHMARK(BM_ExactLp0Reference)->DenseRange(10, 16, 2)->Unit(benchmark::kSecond)->Iterations(1);

// Passes of P0 over a fixed vector, straight or transposed, by blocks or one
// source state at a time.
void P0Passes(benchmark::State& state, bool transposed, bool bySourceState) {
  const int n = static_cast<int>(state.range(0));
  tBigSPOMModel model(n);
  Apply(model, MakeLandscape(n), Precision);
  std::vector<double> x(model.P0Mat().RowCount()), y;
  for (size_t i = 0; i < x.size(); ++i) x[i] = 0.5 + 0.5 * std::cos(0.01 * i);
  for (auto _ : state) {
    if (bySourceState)
      model.P0Mat().ProductBySourceState(x, y, transposed, false);
    else
      model.P0Mat().Product(x, y, transposed, false);
    benchmark::DoNotOptimize(y.data());
  }
}

// One transposed pass of P0 (the left eigenvector), by blocks and one source
// state at a time.
void TransposedPass(benchmark::State& state, bool blocks) {
  P0Passes(state, true, !blocks);
}
void BM_P0TransposedPass(benchmark::State& state) {
  TransposedPass(state, true);
}
void BM_P0TransposedPassBySourceState(benchmark::State& state) {
  TransposedPass(state, false);
}
BENCHMARK(BM_P0TransposedPass)->DenseRange(10, 14, 2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_P0TransposedPassBySourceState)->DenseRange(10, 14, 2)->Unit(benchmark::kMillisecond);

// One pass of P0 on each vector unit (the second argument: 0 portable, 1 AVX2,
// 2 AVX-512), straight and transposed, by blocks and one source state at a time:
// the measure of the units' dispatch.
void PassOnUnit(benchmark::State& state, bool transposed, bool bySourceState) {
  tUnitInUse unit(state, static_cast<models::tVectorUnit>(state.range(1)));
  P0Passes(state, transposed, bySourceState);
}
void BM_P0PassOnUnit(benchmark::State& state) {
  PassOnUnit(state, false, false);
}
void BM_P0TransposedPassOnUnit(benchmark::State& state) {
  PassOnUnit(state, true, false);
}
void BM_P0PassBySourceStateOnUnit(benchmark::State& state) {
  PassOnUnit(state, false, true);
}
void BM_P0TransposedPassBySourceStateOnUnit(benchmark::State& state) {
  PassOnUnit(state, true, true);
}
BENCHMARK(BM_P0PassOnUnit)->ArgsProduct({{12, 14}, {0, 1, 2}})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_P0TransposedPassOnUnit)->ArgsProduct({{12, 14}, {0, 1, 2}})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_P0PassBySourceStateOnUnit)->ArgsProduct({{10, 12}, {0, 1, 2}})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_P0TransposedPassBySourceStateOnUnit)
    ->ArgsProduct({{10, 12}, {0, 1, 2}})
    ->Unit(benchmark::kMillisecond);

// One pass y = T x by blocks, one source state at a time, and cell by cell.
void TPass(benchmark::State& state, bool blocks) {
  const int n = static_cast<int>(state.range(0));
  tBigSPOMModel model(n);
  Apply(model, MakeLandscape(n), Precision);
  const size_t rows = model.TMat().RowCount();
  std::vector<double> x(rows, 1.0), y;
  for (auto _ : state) {
    if (blocks)
      model.TMat().Product(x, y, false, false);
    else
      model.TMat().ProductBySourceState(x, y, false, false);
    benchmark::DoNotOptimize(y.data());
  }
}
void BM_TPass(benchmark::State& state) {
  TPass(state, true);
}
void BM_TPassBySourceState(benchmark::State& state) {
  TPass(state, false);
}
BENCHMARK(BM_TPass)->DenseRange(6, 11)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TPassBySourceState)->DenseRange(6, 11)->Unit(benchmark::kMillisecond);

void BM_TPassCellByCell(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  tBigSPOMModel model(n);
  Apply(model, MakeLandscape(n), Precision);
  const models::Cardinal rows = model.TMat().RowCount();
  std::vector<double> x(rows, 1.0), y(rows);
  for (auto _ : state) {
    for (models::Cardinal r = 0; r < rows; ++r) {
      double sum = 0;
      for (models::Cardinal c = 0; c < rows; ++c) sum += model.GetT(r, c) * x[c];
      y[r] = sum;
    }
    benchmark::DoNotOptimize(y.data());
  }
}
BENCHMARK(BM_TPassCellByCell)->DenseRange(5, 7)->Unit(benchmark::kMillisecond);

// Lt by Kesp3 beside the exact Lt, on landscapes that meet the approximation's
// application condition (sizes at least 20, every migration cell at least 5e-05).
void BM_Kesp3Gap(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  const tLandscape l = MakeLandscape(n, 20, 60);
  double exact = 0, approximate = 0;
  for (auto _ : state) {
    tBigSPOMModel model(n);
    Apply(model, l, Precision);
    double lt, errLt, lp0, errLp0, lg, errLg;
    model.ComputeExactLambdas(lt, errLt, lp0, errLp0, lg, errLg, 1000, 9, 0);
    exact = lt;
    model.Reset();
    model.ComputeKesp3Lambdas(lt, errLt, lp0, errLp0, lg, errLg, 1000, -12, 0);
    approximate = lt;
  }
  state.counters["Lt_exact"] = exact;
  state.counters["Lt_Kesp3"] = approximate;
  state.counters["gap"] = approximate - exact;
  double smallest = 1;
  for (const auto& row : l.M)
    for (const double m : row) smallest = std::min(smallest, m);
  state.counters["min_M"] = smallest;
}
BENCHMARK(BM_Kesp3Gap)->DenseRange(2, 5)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace
