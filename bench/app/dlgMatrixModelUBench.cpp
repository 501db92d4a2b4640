// The interactive run of the matrix workbench at 100 patches: 1100 steps with
// every chart drawn (4,950 pairs on the Fst chart), beside the same 1100 steps
// of the model alone, on the offscreen platform (the binary's main, with the
// application and the message pump, is the landscape editor's benchmark).
#include <benchmark/benchmark.h>

#include <QSpinBox>
#include <QTabWidget>

#include "Utile/RandomFunctions.h"
#include "Utile/gui/GraphicOps.h"
#include "app/dlgMatrixModelU.h"
#include "app/dlgVandrelU.h"
#include "models/MetapopCommon.h"
#include "models/MetapopMatrixModel.h"

namespace {

constexpr int Side = 10;  // 100 patches of area 50 on a grid of spacing 100
constexpr int Steps = 1100;

void GridLandscape() {
  models::Patches.clear();
  for (int i = 0; i < Side * Side; ++i) {
    models::tCircle patch;
    patch.popID = i + 1;
    patch.x = 100.0 * (i % Side);
    patch.y = 100.0 * (i / Side);
    patch.A = 50;
    models::Patches.push_back(patch);
  }
  models::ComputeConnectanceMatrix(models::ctFullConnectance, 1.7e308, 100);
}

void BM_WorkbenchRunWithCharts(benchmark::State& state) {
  vandrel::TdlgVandrel main;
  GridLandscape();
  auto* bench = new vandrel::TdlgMatrixModel(&main);
  main.AddNewModel(bench);
  bench->resize(1200, 800);
  bench->seTimeSteps->setValue(Steps);
  bench->pcMatrixModel->setCurrentWidget(bench->tsResults);
  for (auto _ : state) {
    bench->acInitialise->trigger();
    bench->acRun->trigger();
    // What is left to draw after the last step.
    for (utile::gui::tGraphicChart* chart : {bench->chmDensity, bench->chmCoancestry, bench->chmFixation,
                                             bench->chmFis, bench->chmFst, bench->chmConnectivity})
      chart->Refresh();
    benchmark::DoNotOptimize(bench->grab());
  }
  if (bench->MatrixModel->isbreak) state.SkipWithError("the metapopulation died out");
}
BENCHMARK(BM_WorkbenchRunWithCharts)->Unit(benchmark::kMillisecond)->Iterations(3);

// The reference: the model filled as the workbench fills it, 1100 single steps.
void BM_ModelRunAlone(benchmark::State& state) {
  GridLandscape();
  const int n = Side * Side;
  for (auto _ : state) {
    models::tMatrixModel model;
    model.SetPatchCount(n);
    model.Alpha = 1.0 / 40;
    model.Mu = 1e-4;
    model.SetFecundityFunction(0);
    model.SetStochasticOrDeterministFunction(1);
    model.Territory = 1;
    model.NbrTimeStep = Steps;
    model.migration = 0.2;
    for (int i = 0; i < n; ++i) {
      model.b[i] = 2;
      model.K[i] = model.N[i] = 50;
      model.Patches[i] = {models::Patches[i].x, models::Patches[i].y};
      for (int j = 0; j < n; ++j) model.c[i][j] = i == j ? 0.8 : 0.2 / (n - 1);
    }
    utile::SetSeeds(10, 1);
    model.Initialise();
    for (int t = 0; t < Steps; ++t) model.Run(1, false);
    benchmark::DoNotOptimize(model.ThetaG);
  }
}
BENCHMARK(BM_ModelRunAlone)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
