// The patch database of 10,000 patches on the offscreen platform: refill, fill
// and apply with the dialog hidden and shown, and with a fill that changes
// every patch (the landscape sequence then runs). The benchmark binary's main
// is in dlgVandrelUBench.cpp.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QComboBox>
#include <QSpinBox>
#include <QTableWidget>
#include <memory>
#include <string>

#include "Utile/RunTime.h"
#include "app/WindowServices.h"
#include "app/dlgPatchDataU.h"
#include "app/dlgVandrelU.h"
#include "bench/app/BenchSupport.h"
#include "models/LandscapeGenerator.h"
#include "models/PatchDatabase.h"

namespace {

constexpr size_t PatchCount = 10000;

// A main window and its patch database, the database installed only while a
// benchmark of this file runs (the other benchmarks make landscapes without it).
struct tPatchDatabaseBench {
  vandrel::TdlgVandrel* Main;
  vandrel::TdlgPatchData* Dialog;

  tPatchDatabaseBench() {
    vandrel::SetDialogs(std::make_unique<benchsupport::tQuietDialogs>());
    Main = new vandrel::TdlgVandrel;
    Main->resize(1100, 800);
    Main->show();
    Dialog = new vandrel::TdlgPatchData(Main);
    vandrel::dlgPatchData = nullptr;
  }
};

tPatchDatabaseBench& Bench() {
  static tPatchDatabaseBench bench;
  return bench;
}

// 10,000 patches on a grid whose birth and extinction parameters are those
// that the fill gives them ("Fixed productivity", every patch a source of 1.1).
void PrepareFilledPatches(vandrel::TdlgPatchData& dialog) {
  models::Patches.assign(PatchCount, {});
  for (size_t i = 0; i < PatchCount; ++i)
    models::Patches[i] = {static_cast<int32_t>(i + 1), 10.0 * (i % 100), 10.0 * (i / 100), 40, 1.1, 0};
  dialog.cbPatchData->setCurrentIndex(models::pdFixedProductivity);
  dialog.edOverallProductivity->setText("1.1");
  dialog.edSourceProportion->setText("1");
  dialog.edSourceDifferential->setText("1");
  dialog.edExtinctionRisk->setText("0");
}

// Makes `window` the main window the dialog works with for one benchmark.
struct tInstalled {
  vandrel::TdlgVandrel* Former;
  explicit tInstalled(tPatchDatabaseBench& bench) : Former(vandrel::dlgVandrel) {
    vandrel::dlgVandrel = bench.Main;
    vandrel::dlgPatchData = bench.Dialog;
  }
  ~tInstalled() {
    vandrel::dlgVandrel = Former;
    vandrel::dlgPatchData = nullptr;
  }
};

void BM_UpdateAndApply10000Hidden(benchmark::State& state) {
  tPatchDatabaseBench& bench = Bench();
  const tInstalled installed(bench);
  PrepareFilledPatches(*bench.Dialog);
  bench.Dialog->hide();
  for (auto _ : state) bench.Dialog->UpdateAndApply();
  state.SetLabel("no field changes: refill, fill and apply");
}
BENCHMARK(BM_UpdateAndApply10000Hidden)->Unit(benchmark::kMillisecond);


void BM_UpdateAndApply10000Shown(benchmark::State& state) {
  tPatchDatabaseBench& bench = Bench();
  const tInstalled installed(bench);
  PrepareFilledPatches(*bench.Dialog);
  bench.Dialog->show();
  for (int i = 0; i < 3; ++i) QApplication::processEvents();
  for (auto _ : state) {
    bench.Dialog->UpdateAndApply();
    QApplication::processEvents();
  }
  bench.Dialog->hide();
  state.SetLabel("no field changes, the table shown");
}
BENCHMARK(BM_UpdateAndApply10000Shown)->Unit(benchmark::kMillisecond);

// The shown table made anew: 60,000 cells.
void BM_Reset10000ShownNewTable(benchmark::State& state) {
  tPatchDatabaseBench& bench = Bench();
  const tInstalled installed(bench);
  PrepareFilledPatches(*bench.Dialog);
  bench.Dialog->show();
  for (int i = 0; i < 3; ++i) QApplication::processEvents();
  for (auto _ : state) {
    state.PauseTiming();
    bench.Dialog->sgPatchData->setRowCount(0);
    state.ResumeTiming();
    bench.Dialog->Reset();
    QApplication::processEvents();
  }
  bench.Dialog->hide();
}
BENCHMARK(BM_Reset10000ShownNewTable)->Unit(benchmark::kMillisecond);

// Every call changes the birth value of every patch, so that the landscape
// sequence (distances of 50 million pairs) runs each time.
void BM_UpdateAndApply10000Changing(benchmark::State& state) {
  tPatchDatabaseBench& bench = Bench();
  const tInstalled installed(bench);
  PrepareFilledPatches(*bench.Dialog);
  bench.Dialog->hide();
  bool high = false;
  for (auto _ : state) {
    high = !high;
    bench.Dialog->edOverallProductivity->setText(high ? "1.2" : "1.1");
    bench.Dialog->UpdateAndApply();
  }
  state.SetLabel(models::Patches[0].b == (high ? 1.2 : 1.1) ? "every field changed, then the sequence"
                                                             : "NOT APPLIED");
  models::Patches.clear();
  bench.Main->ChangePatches();
}
BENCHMARK(BM_UpdateAndApply10000Changing)->Unit(benchmark::kMillisecond)->Iterations(4);

// Reference: the landscape sequence of the same patches alone.
void BM_ReferenceChangePatches10000(benchmark::State& state) {
  tPatchDatabaseBench& bench = Bench();
  const tInstalled installed(bench);
  PrepareFilledPatches(*bench.Dialog);
  for (auto _ : state) bench.Main->ChangePatches();
  models::Patches.clear();
  bench.Main->ChangePatches();
}
BENCHMARK(BM_ReferenceChangePatches10000)->Unit(benchmark::kMillisecond)->Iterations(4);

// Reference: the least that any table of texts costs, every field written in
// the shortest form and read back.
void BM_ReferenceTextRoundTrip10000(benchmark::State& state) {
  models::tArrayOfCircles patches(PatchCount);
  for (size_t i = 0; i < PatchCount; ++i)
    patches[i] = {static_cast<int32_t>(i + 1), 10.0 * (i % 100), 10.0 * (i / 100), 40, 1.1, 0};
  for (auto _ : state) {
    double sum = 0;
    for (const models::tCircle& patch : patches)
      for (double field : {patch.x, patch.y, patch.A, patch.b, patch.e}) {
        double value = 0;
        utile::TryStrToFloatAnySeparator(utile::FloatToStr(field), value);
        sum += value;
      }
    benchmark::DoNotOptimize(sum);
  }
}
BENCHMARK(BM_ReferenceTextRoundTrip10000)->Unit(benchmark::kMillisecond);

}  // namespace
