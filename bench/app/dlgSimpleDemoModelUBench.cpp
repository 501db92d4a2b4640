// The simple demographic workbench's Run button on 50 patches and a 200 x 200
// raster grid (the capacity map also as a bootstrap of 25 rounds), against the
// analysis alone on the same grid: what the window adds (reading the controls,
// the raster, the result list, the redraw) to what the model computes.
#include <benchmark/benchmark.h>

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QRadioButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <memory>
#include <random>

#include "Utile/RandomFunctions.h"
#include "app/WindowServices.h"
#include "app/dlgSimpleDemoModelU.h"
#include "app/dlgVandrelU.h"
#include "bench/app/BenchSupport.h"
#include "models/MetapopCommon.h"

namespace {

struct tSimpleDemoBench {
  QTemporaryDir Folder;
  vandrel::TdlgVandrel* Main = nullptr;
  vandrel::TdlgSimpleDemoModel* Bench = nullptr;

  tSimpleDemoBench() {
    QDir::setCurrent(Folder.path());  // the rasters go here
    vandrel::SetDialogs(std::make_unique<benchsupport::tQuietDialogs>());
    Main = new vandrel::TdlgVandrel;
    Main->SetWorkbenchFactory(vandrel::tWorkbenchKind::wkSimpleDemo, [](vandrel::TdlgVandrel* owner) {
      return new vandrel::TdlgSimpleDemoModel(owner);
    });
    Bench = static_cast<vandrel::TdlgSimpleDemoModel*>(Main->NewModel(vandrel::tWorkbenchKind::wkSimpleDemo));
    // 50 patches of area 1 to 10 over 1000 x 1000.
    std::mt19937 rng(11);
    std::uniform_real_distribution<double> position(0, 1000), area(1, 10);
    models::Patches.clear();
    for (int i = 0; i < 50; ++i) {
      models::tCircle c;
      c.popID = i + 1;
      c.x = position(rng);
      c.y = position(rng);
      c.A = area(rng);
      models::Patches.push_back(c);
    }
    Main->ckShowConnectivity->setChecked(false);
    Main->ChangePatches();
    for (const auto& [edit, text] :
         std::initializer_list<std::pair<QLineEdit*, const char*>>{{Bench->edRange, "100"},
                                                                   {Bench->edColonisation, "1"},
                                                                   {Bench->edExtinction, "0.3"},
                                                                   {Bench->edZetaImmigFact, "0.5"},
                                                                   {Bench->edExtScalFact, "0.5"},
                                                                   {Bench->edNewPatchArea, "5"},
                                                                   {Bench->edMaxX, "1000"},
                                                                   {Bench->edMaxY, "1000"},
                                                                   {Bench->edPerCentBootstrapping, "80"}})
      edit->setText(text);
    Bench->rbSaveToIdrisi->setChecked(true);
    Bench->seColumns->setValue(200);
    Bench->seRows->setValue(200);
    Bench->seIterations->setValue(25);
  }
  void Choose(int analysis, bool bootstrap) {
    Bench->cbAnalysesType->setCurrentIndex(analysis);
    Bench->cbBootstrapping->setChecked(bootstrap);
  }
};

tSimpleDemoBench& Workbench() {
  static tSimpleDemoBench* bench = new tSimpleDemoBench;
  return *bench;
}

const char* Label(int analysis, bool bootstrap) {
  static const char* const names[] = {"capacity map", "metapopulation size", "contribution map"};
  return bootstrap ? "capacity map, bootstrap of 25 rounds" : names[analysis];
}

// Arguments: the analysis, and 1 for the bootstrap.
void BM_SimpleDemoRunButton(benchmark::State& state) {
  tSimpleDemoBench& w = Workbench();
  const int analysis = static_cast<int>(state.range(0));
  const bool bootstrap = state.range(1) != 0;
  w.Choose(analysis, bootstrap);
  for (auto _ : state) {
    utile::SetSeeds(1, 2);
    w.Bench->btRunClick();
  }
  state.SetLabel(Label(analysis, bootstrap));
}

// The reference: the analysis alone, on the parameters the button reads.
void BM_SimpleDemoAnalysisAlone(benchmark::State& state) {
  tSimpleDemoBench& w = Workbench();
  const int analysis = static_cast<int>(state.range(0));
  const bool bootstrap = state.range(1) != 0;
  w.Choose(analysis, bootstrap);
  const models::tParam p = w.Bench->GetParam();
  for (auto _ : state) {
    utile::SetSeeds(1, 2);
    switch (analysis) {
      case 0:
        models::ComputeTestPosition(p, p.MiX, p.MaX, p.MiY, p.MaY, p.MapCol, p.MapRow, models::Patches);
        break;
      case 1:
        models::FindMetapopulationSize(p, models::Patches, p.MiX, p.MaX, p.MiY, p.MaY, p.MapRow, p.MapCol);
        break;
      default:
        models::FindMatB(p, models::Patches, p.MiX, p.MaX, p.MiY, p.MaY, p.MapCol, p.MapRow);
        break;
    }
    benchmark::DoNotOptimize(models::ResultMap.data());
  }
  state.SetLabel(Label(analysis, bootstrap));
}

void Analyses(benchmark::internal::Benchmark* b) {
  b->Args({0, 0})->Args({0, 1})->Args({1, 0})->Args({2, 0})->Unit(benchmark::kMillisecond);
}
BENCHMARK(BM_SimpleDemoRunButton)->Apply(Analyses);
BENCHMARK(BM_SimpleDemoAnalysisAlone)->Apply(Analyses);

}  // namespace
