// One step of the patch matrix model at 100 patches, without and with the
// regional field, beside what a step cannot do without: its n^2 Poisson draws
// and the coancestry update O Thb O^T written with the toolkit's general products.
#include <benchmark/benchmark.h>

#include "Utile/MatrixOps.h"
#include "Utile/RandomFunctions.h"
#include "models/MetapopMatrixModel.h"

namespace {

constexpr int Patches = 100;

// Patches of area 50 on a 10 x 10 grid of spacing 100, migration 0.2, mean
// dispersal distance 400, the regional field's range 150.
void Fill(models::tMatrixModel& model, double range) {
  model.SetPatchCount(Patches);
  model.Erm = 0.05;
  model.Err = range;
  model.Alpha = 1.0 / 400;
  model.Mu = 1e-4;
  model.SetFecundityFunction(0);
  model.SetStochasticOrDeterministFunction(1);
  model.Territory = 1;
  model.NbrTimeStep = 1100;
  for (int i = 0; i < Patches; ++i) {
    model.b[i] = 2;
    model.K[i] = model.N[i] = 50;
    model.El[i] = 0;
    model.Patches[i] = {100.0 * (i % 10), 100.0 * (i / 10)};
    for (int j = 0; j < Patches; ++j) model.c[i][j] = i == j ? 0.8 : 0.2 / (Patches - 1);
  }
  utile::SetSeeds(10, 1);
  model.Initialise();
}

void BM_MatrixModelStep(benchmark::State& state) {
  models::tMatrixModel model;
  Fill(model, static_cast<double>(state.range(0)));
  for (auto _ : state) {
    model.Run(1, false);
    if (model.isbreak) {
      state.SkipWithError("the metapopulation died out");
      break;
    }
  }
}
BENCHMARK(BM_MatrixModelStep)->Arg(0)->Arg(150)->Unit(benchmark::kMicrosecond);

void BM_StepPoissonDrawsAlone(benchmark::State& state) {
  utile::SetSeeds(10, 1);
  for (auto _ : state)
    for (int k = 0; k < Patches * Patches; ++k)
      benchmark::DoNotOptimize(utile::PoissonRan(k % 7 == 0 ? 8 : 0.1));
}
BENCHMARK(BM_StepPoissonDrawsAlone)->Unit(benchmark::kMicrosecond);

void BM_StepCoancestryWithGeneralProducts(benchmark::State& state) {
  utile::tMatrixOfDouble O(Patches, utile::tVectorOfDouble(Patches, 0.002)), thb = O;
  for (int i = 0; i < Patches; ++i) O[i][i] = 0.8;
  for (auto _ : state)
    benchmark::DoNotOptimize(utile::MatXmat(utile::MatXmat(O, thb), utile::TransposeMat(O)));
}
BENCHMARK(BM_StepCoancestryWithGeneralProducts)->Unit(benchmark::kMicrosecond);

}  // namespace
