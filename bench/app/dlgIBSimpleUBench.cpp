// The individual-based workbench on 100 patches of capacity 100, on the
// offscreen platform with its Results page showing: a run of 1,000 steps with
// its real-time charts against the same model run by the engine without a
// window, pedigree off and on (the analysis and the dispersal events of the
// pedigree timed apart), and the layout of the result series with F, Theta and
// Alpha (14,853 Alpha series). The pedigree analysis with F, Theta and Alpha on
// 10 patches over 100 steps against its pedigree queries alone, and the Alpha
// chart of 100 patches taking 200 dates of its 4,951 triples.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QSpinBox>
#include <QTabWidget>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <ctime>
#include <memory>
#include <vector>

#include "Utile/Platform.h"
#include "Utile/RandomFunctions.h"
#include "Utile/RunTime.h"
#include "Utile/gui/CustomChartSeries.h"
#include "Utile/gui/GraphicOps.h"
#include "app/WindowServices.h"
#include "app/dlgIBSimpleU.h"
#include "app/dlgVandrelU.h"
#include "bench/app/BenchSupport.h"
#include "models/IBPedigreeAnalysis.h"
#include "models/MetapopCommon.h"
#include "models/PedigreeOps.h"
#include "tests/app/ChartHarness.h"
#include "tests/models/IBMHarness.h"

namespace {

constexpr int Side = 10;  // 100 patches
constexpr int Capacity = 100;
constexpr int Steps = 1000;

// Patches 100 apart on a grid (Side x Side unless told), of area 100, every pair
// linked, permeability 1.
void SetGridLandscape(int columns = Side, int rows = Side) {
  models::Patches.clear();
  std::vector<std::pair<double, double>> positions;
  for (int i = 0; i < columns * rows; ++i) {
    models::tCircle c;
    c.popID = i + 1;
    c.x = 100.0 * (i % columns);
    c.y = 100.0 * (i / columns);
    c.A = Capacity;
    models::Patches.push_back(c);
    positions.emplace_back(c.x, c.y);
  }
  ibmtest::SetLandscape(positions);
  for (int i = 0; i < columns * rows; ++i) models::ConnectanceMat[i][i] = false;
}

// Birth, Survival 0.9, Dispersal (0.9, weighting 1.5), Aging, Reproduction (ceiling, 3), Death.
models::tLifeCycle Cycle() {
  return {ibmtest::Event(models::leBirth, 1),
          ibmtest::Survival(0.9, 2),
          ibmtest::Dispersal(0.9, 1.5, 3),
          ibmtest::Event(models::leGetOlder, 4),
          ibmtest::Reproduction(models::rtCeiling, 3, 5),
          ibmtest::Death(models::dsCensused)};
}

vandrel::TdlgIBSimple& Workbench() {
  static vandrel::TdlgIBSimple* bench = [] {
    vandrel::SetDialogs(std::make_unique<benchsupport::tQuietDialogs>());
    auto* main = new vandrel::TdlgVandrel;
    main->SetWorkbenchFactory(vandrel::tWorkbenchKind::wkIBSimple,
                              [](vandrel::TdlgVandrel* m) { return new vandrel::TdlgIBSimple(m); });
    SetGridLandscape();
    auto* ib = static_cast<vandrel::TdlgIBSimple*>(main->NewModel(vandrel::tWorkbenchKind::wkIBSimple));
    // The cycle drawn with the actions, its parameters typed into the cells' boxes.
    const auto add = [ib](models::tLifeEventType type, const char* first = nullptr,
                          const char* second = nullptr) {
      ib->acNewEvent[type]->trigger();
      vandrel::tEventCellControls* controls = ib->CellControls(ib->fEventCells.SelectedCell());
      if (first) controls->Param1->setText(first);
      if (second) controls->Param2->setText(second);
      return controls;
    };
    add(models::leSurvival, "0.9");
    add(models::leDispersal, "0.9", "1.5");
    add(models::leGetOlder);
    add(models::leReproduction, "3")->Param3->setCurrentIndex(models::rtCeiling);
    add(models::leDeath);
    ib->seNbTimeSteps->setValue(Steps);
    ib->resize(1150, 720);
    ib->show();
    ib->pcIBSimple->setCurrentWidget(ib->tsResults);
    ib->pcResults->setCurrentWidget(ib->tsAbundances);
    return ib;
  }();
  return *bench;
}

// The workbench on this landscape (the other benchmarks of the binary make their own).
vandrel::TdlgIBSimple& GridWorkbench() {
  vandrel::TdlgIBSimple& bench = Workbench();
  SetGridLandscape();
  return bench;
}

void SetPedigree(vandrel::TdlgIBSimple& bench, bool on) {
  bench.ckPedigree->setChecked(on);
  bench.ckPedigreeClick();
}

void BM_WorkbenchRun(benchmark::State& state) {
  vandrel::TdlgIBSimple& bench = GridWorkbench();
  SetPedigree(bench, state.range(0) != 0);
  double analysis = 0;
  for (auto _ : state) {
    state.PauseTiming();
    bench.acInitialise->trigger();
    state.ResumeTiming();
    bench.Run();
    state.PauseTiming();
    // The analysis apart: once more, after the run.
    const double start = utile::Now();
    if (bench.ckPedigree->isChecked()) bench.btRecomputePedigreeClick();
    analysis += (utile::Now() - start) * 86400;
    state.ResumeTiming();
  }
  state.counters["individuals"] = bench.Metapop->CurrentID - 1;
  state.counters["analysis_s"] = analysis / state.iterations();
  state.SetLabel(state.range(0) ? "pedigree on, charts drawn" : "pedigree off, charts drawn");
}
BENCHMARK(BM_WorkbenchRun)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(3);

// The same model, landscape and seeds as the workbench's, built for the engine alone.
std::unique_ptr<models::tMetaPop> ReferenceEngine(bool pedigree) {
  auto engine = std::make_unique<models::tMetaPop>();
  engine->Species->SexRatio = 0.5;
  utile::SetSeeds(10, 1);
  ibmtest::Build(*engine, models::rmSexuate, std::vector<ibmtest::tPatchSetup>(Side * Side, {Capacity, Capacity}),
                 Cycle(), pedigree);
  engine->MaxIndividuals = 200000000;
  engine->ExplosionSize = 40000;
  // As a message pump would after the window's drawing.
  utile::ClearUpperVectorState();
  return engine;
}

// The steps of a run of the engine alone, as the workbench's run loop takes them.
void RunReferenceEngine(models::tMetaPop& engine, bool pedigree) {
  for (int t = 1; t <= Steps; ++t) {
    engine.Run(1, 1);
    utile::ProcessMessages();
    if (engine.Extinct || engine.Explosion || engine.Overflow) break;
  }
  engine.Run(1, 1);
  // What the workbench does after a run with pedigrees: the dispersal events.
  if (pedigree) benchmark::DoNotOptimize(engine.Pedigree()->DispersalEventMatrix());
}

// Reference: the same model, landscape and seeds run by the engine alone.
void BM_ReferenceEngineRun(benchmark::State& state) {
  GridWorkbench();  // the same landscape
  const bool pedigree = state.range(0) != 0;
  models::Cardinal individuals = 0;
  for (auto _ : state) {
    state.PauseTiming();
    auto engine = ReferenceEngine(pedigree);
    state.ResumeTiming();
    RunReferenceEngine(*engine, pedigree);
    individuals = engine->CurrentID - 1;
    state.PauseTiming();
    engine.reset();
    state.ResumeTiming();
  }
  state.counters["individuals"] = individuals;
  state.SetLabel(pedigree ? "pedigree on" : "pedigree off");
}
BENCHMARK(BM_ReferenceEngineRun)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(3);

// Seconds of processor time the process has used (every thread: the library
// may draw pictures on threads of its own); a machine busy with other work
// changes it far less than it changes the time on the clock.
double ProcessorSeconds() {
  timespec t;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

// One run of the workbench in processor seconds, until its Abundances chart has
// drawn the run's last points (the last drawing alone in Drawing).
double WorkbenchRunSeconds(vandrel::TdlgIBSimple& bench, double& drawing) {
  bench.acInitialise->trigger();
  QApplication::processEvents();
  const double start = ProcessorSeconds();
  bench.Run();
  const double ran = ProcessorSeconds();
  bench.chAbundances->Refresh();
  bench.chAbundances->viewport()->repaint();
  const double end = ProcessorSeconds();
  drawing = end - ran;
  return end - start;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0.0 : v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

// The charts' share of a run (pedigree off): the workbench's run with its
// Abundances chart showing, the same run with the charts out of sight (on the
// Life cycle page, where they draw nothing) and the engine's run of the same
// model, taken in turn so that other work on the machine weighs on all three
// alike, in processor time. Other work only ever adds time: the shares are
// those of the least disturbed (shortest) run of each kind, the workbench's over
// the engine (charts_share, all the window does) and the charts' alone
// (drawing_share: shown less hidden, over the engine); the medians of the
// rounds' shares come with them.
void BM_ChartsShareOfARun(benchmark::State& state) {
  vandrel::TdlgIBSimple& bench = GridWorkbench();
  SetPedigree(bench, false);
  std::vector<double> shown, hidden, engine, shares, drawingShares, drawings;
  for (auto _ : state) {
    double drawing = 0;
    bench.pcIBSimple->setCurrentWidget(bench.tsResults);
    shown.push_back(WorkbenchRunSeconds(bench, drawing));
    drawings.push_back(drawing);
    bench.pcIBSimple->setCurrentWidget(bench.tsLifeCycle);
    hidden.push_back(WorkbenchRunSeconds(bench, drawing));
    auto reference = ReferenceEngine(false);
    const double start = ProcessorSeconds();
    RunReferenceEngine(*reference, false);
    engine.push_back(ProcessorSeconds() - start);
    shares.push_back(shown.back() / engine.back() - 1);
    drawingShares.push_back((shown.back() - hidden.back()) / engine.back());
  }
  bench.pcIBSimple->setCurrentWidget(bench.tsResults);
  const auto least = [](const std::vector<double>& v) { return *std::min_element(v.begin(), v.end()); };
  state.counters["workbench_s"] = least(shown);
  state.counters["charts_hidden_s"] = least(hidden);
  state.counters["engine_s"] = least(engine);
  state.counters["charts_share"] = least(shown) / least(engine) - 1;
  state.counters["drawing_share"] = (least(shown) - least(hidden)) / least(engine);
  state.counters["median_charts_share"] = Median(shares);
  state.counters["median_drawing_share"] = Median(drawingShares);
  state.counters["last_drawing_s"] = Median(drawings);
  state.SetLabel("100 patches x K = 100 x 1,000 steps, pedigree off, processor time");
}
BENCHMARK(BM_ChartsShareOfARun)->Unit(benchmark::kMillisecond)->Iterations(7);

// Apart: the dispersal events of the last run's pedigree, which a run with
// pedigrees ends with.
void BM_DispersalEventMatrixAfterRun(benchmark::State& state) {
  vandrel::TdlgIBSimple& bench = GridWorkbench();
  SetPedigree(bench, true);
  bench.acInitialise->trigger();
  bench.Run();
  for (auto _ : state) benchmark::DoNotOptimize(bench.Metapop->Pedigree()->DispersalEventMatrix());
  state.counters["records"] = bench.Metapop->Pedigree()->Count();
}
BENCHMARK(BM_DispersalEventMatrixAfterRun)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_InitialiseSimulationsWithAlpha(benchmark::State& state) {
  vandrel::TdlgIBSimple& bench = GridWorkbench();
  for (QCheckBox* box : {bench.ckF, bench.ckTheta, bench.ckAlpha, bench.ckJuveniles}) box->setChecked(true);
  bench.acInitialise->trigger();
  for (auto _ : state) bench.InitialiseSimulations();
  state.counters["alpha_series"] = bench.AlphaSeries->Count();
  state.counters["series"] = bench.AbundanceSeries->Count() + bench.FixationSeries->Count() +
                             bench.CoancestrySeries->Count() + bench.AlphaSeries->Count() +
                             bench.SexRatioSeries->Count();
  for (QCheckBox* box : {bench.ckF, bench.ckTheta, bench.ckAlpha, bench.ckJuveniles}) box->setChecked(false);
}
BENCHMARK(BM_InitialiseSimulationsWithAlpha)->Unit(benchmark::kMillisecond);

// The analysis of a run of 100 steps on 10 patches of capacity 100 with F, Theta
// and Alpha (adults, or both classes), drawn into the charts with the Alpha chart
// showing, against the same passes of pedigree queries without a window.
void BM_PedigreeAnalysis(benchmark::State& state) {
  vandrel::TdlgIBSimple& bench = Workbench();
  SetGridLandscape(5, 2);
  SetPedigree(bench, true);
  const bool juveniles = state.range(0) != 0;
  for (QCheckBox* box : {bench.ckF, bench.ckTheta, bench.ckAlpha}) box->setChecked(true);
  bench.ckJuveniles->setChecked(juveniles);
  bench.seNbTimeSteps->setValue(100);
  bench.acInitialise->trigger();
  bench.Run();
  bench.pcResults->setCurrentWidget(bench.tsAlpha);
  models::tPedigree& pedigree = *bench.Metapop->Pedigree();
  models::tPedigreeAnalysisOptions options;
  options.Juveniles = juveniles;
  options.F = options.Theta = options.Alpha = true;
  options.PatchCount = bench.Metapop->PatchCount();
  double queries = 0, whole = 0;
  for (auto _ : state) {
    double start = utile::Now();
    bench.btRecomputePedigreeClick();
    bench.chAlpha->Refresh();
    whole += (utile::Now() - start) * 86400;
    // Reference: the same dates queried alone (the pedigree prepared as the window does).
    utile::ClearUpperVectorState();
    start = utile::Now();
    pedigree.PrepareForAnalysis();
    models::tPedigreeAnalysis analysis(pedigree, options);
    for (int32_t pass = analysis.FirstPass(); pass <= analysis.LastPass(); ++pass) analysis.Compute(pass);
    benchmark::DoNotOptimize(analysis.Values(models::pacAdults));
    queries += (utile::Now() - start) * 86400;
  }
  state.counters["whole_s"] = whole / state.iterations();
  state.counters["queries_s"] = queries / state.iterations();
  state.counters["charts_share"] = (whole - queries) / whole;
  state.counters["records"] = pedigree.Count();
  state.counters["dates"] = pedigree.GenerationCount() + 1;
  state.SetLabel(juveniles ? "juveniles and adults" : "adults");
  for (QCheckBox* box : {bench.ckF, bench.ckTheta, bench.ckAlpha, bench.ckJuveniles}) box->setChecked(false);
  bench.pcResults->setCurrentWidget(bench.tsAbundances);
}
BENCHMARK(BM_PedigreeAnalysis)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(3);

// AddPoints alone: 200 dates of the Alpha vector of 100 patches (Global and 4,950
// pairs) into the adults' series of the Alpha chart, showing, then drawn.
void BM_AddPointsIntoTheAlphaChart(benchmark::State& state) {
  vandrel::TdlgIBSimple& bench = GridWorkbench();
  bench.ckAlpha->setChecked(true);
  bench.acInitialise->trigger();
  bench.pcResults->setCurrentWidget(bench.tsAlpha);
  const int32_t pairs = models::AlphaPairCount(bench.Metapop->PatchCount());
  utile::tVectorOfDouble values(static_cast<size_t>(pairs));
  for (auto _ : state) {
    state.PauseTiming();
    bench.AlphaSeries->ClearAllPoints();
    bench.chAlpha->Refresh();
    state.ResumeTiming();
    for (int t = 0; t < 200; ++t) {
      for (int32_t k = 0; k < pairs; ++k) values[size_t(k)] = k % 97 == 0 ? -1 : 0.001 * t + 1e-6 * k;
      bench.AddPoints(*bench.AlphaSeries, t, values, 1);
    }
    bench.chAlpha->Refresh();
    QApplication::processEvents();
  }
  state.counters["triples"] = pairs;
  state.counters["points"] = 200.0 * pairs;
  bench.ckAlpha->setChecked(false);
  bench.pcResults->setCurrentWidget(bench.tsAbundances);
}
BENCHMARK(BM_AddPointsIntoTheAlphaChart)->Unit(benchmark::kMillisecond)->Iterations(1);

// A long run's charts: 30 patches of capacity 40 for 50,000 steps (pedigree
// off), the Abundances chart showing. With range(0) set, a timer reads every
// 300 ms how far the chart's lines reach against the run's step (lag_share: the
// largest gap, in parts of the run; each reading draws the window once more).
// Afterwards the chart is drawn whole once more at other axes and back
// (whole_drawing_s).
void BM_ChartsOfALongRun(benchmark::State& state) {
  constexpr int LongSteps = 50000;
  vandrel::TdlgIBSimple& bench = Workbench();
  SetGridLandscape(6, 5);
  for (models::tCircle& patch : models::Patches) patch.A = 40;
  SetPedigree(bench, false);
  bench.seNbTimeSteps->setValue(LongSteps);
  bench.pcIBSimple->setCurrentWidget(bench.tsResults);
  bench.pcResults->setCurrentWidget(bench.tsAbundances);
  utile::gui::tGraphicChart* chart = bench.chAbundances;
  double lag = 0, run = 0, whole = 0;
  int samples = 0;
  for (auto _ : state) {
    bench.acInitialise->trigger();
    QTimer sampler;
    sampler.setInterval(300);
    QObject::connect(&sampler, &QTimer::timeout, [&] {
      if (!bench.IsRunning()) return;
      const double step = bench.Metapop->Time;
      lag = std::max(lag, (step - testsupport::ShownUpTo(chart)) / LongSteps);
      ++samples;
    });
    if (state.range(0)) sampler.start();
    double start = utile::Now();
    bench.Run();
    run += (utile::Now() - start) * 86400;
    sampler.stop();
    start = utile::Now();
    chart->SetBottomAxisRange(0, 1);
    chart->SetAutomaticAxes();
    benchmark::DoNotOptimize(chart->grab());
    whole += (utile::Now() - start) * 86400;
  }
  state.counters["run_s"] = run / state.iterations();
  state.counters["lag_share"] = lag;
  state.counters["samples"] = samples;
  state.counters["whole_drawing_s"] = whole / state.iterations();
  state.counters["steps"] = bench.AbundanceSeries->PointCount(1);
  bench.seNbTimeSteps->setValue(Steps);
}
BENCHMARK(BM_ChartsOfALongRun)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

// The program's one benchmark binary starts the application (bench/app/dlgVandrelUBench.cpp).
