// The flux-threshold sweep over the dispersal flow of a landscape, against the
// same sweep whose group eigenvalues come from the plain power iteration.
#include <benchmark/benchmark.h>

#include <cmath>
#include <random>

#include "Utile/GraphTheoryOps.h"
#include "Utile/MatrixOps.h"
#include "models/GraphModel.h"

namespace {

using models::Patches;

struct tSweep {
  utile::tMatrixOfDouble Flow;
  utile::tVectorOfDouble Thresholds;
};

// Patches scattered over 1000 x 1000 with a dispersal kernel of mean distance
// 100; 50 thresholds from the largest flow down to 0.
tSweep MakeSweep(int n) {
  models::ResetLandscape();
  std::mt19937 rng(5);
  std::uniform_real_distribution<double> position(0, 1000), area(1, 10);
  for (int i = 0; i < n; ++i) {
    models::tCircle c;
    c.x = position(rng);
    c.y = position(rng);
    c.A = area(rng);
    Patches.push_back(c);
  }
  models::ComputeDistanceMatrix();
  utile::tMatrixOfDouble d = models::DistanceMat;
  for (auto& row : d)
    for (auto& v : row) v = std::exp(-v / 100);
  double sumZim = 0, sumZem = 0;
  for (const auto& p : Patches) sumZim += p.A, sumZem += p.A;
  tSweep sweep;
  models::ComputeDispersalFlowMat(d, 1, 1, sumZim, sumZem, sweep.Flow);
  const double top = utile::MatMaxValue(sweep.Flow);
  for (int k = 0; k < 50; ++k) sweep.Thresholds.push_back(top * (1 - k / 49.0));
  return sweep;
}

void BM_VaryFluxThreshold(benchmark::State& state) {
  const tSweep sweep = MakeSweep(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    const auto table =
        models::VaryFluxThreshold(sweep.Flow, models::DistanceMat, sweep.Thresholds, 0.5, 1, 0.5, 0.5, 0.5,
                                  10, {models::gsGroupCount, models::gsOverallSize, models::gsExpectedSize});
    benchmark::DoNotOptimize(table.Results.data());
  }
}
BENCHMARK(BM_VaryFluxThreshold)->Arg(50)->Arg(100)->Arg(200)->Arg(400)->Unit(benchmark::kMillisecond);

// The reference: each group's eigenvalue from the plain power iteration to the
// tolerance 1e-50 within 1000 iterations.
void BM_VaryFluxThresholdPlainIteration(benchmark::State& state) {
  const tSweep sweep = MakeSweep(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    double total = 0;
    for (const double t : sweep.Thresholds) {
      const auto groups = utile::SubGraphs(utile::AdjacencyMatrix(sweep.Flow, t));
      for (const auto& group : groups) {
        if (group.size() < 2) continue;
        const auto m = models::SubgraphToHanskiMatrix(group, models::DistanceMat, 1, 0.5, 0.5, 0.5);
        total += utile::DominantEigenValue(m, 1000, 1e-50);
      }
    }
    benchmark::DoNotOptimize(total);
  }
}
BENCHMARK(BM_VaryFluxThresholdPlainIteration)->Arg(50)->Arg(100)->Arg(200)->Unit(benchmark::kMillisecond);

}  // namespace
