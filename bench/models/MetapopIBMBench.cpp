// The individual-based engine on a sexual species whose individuals are born,
// survive, disperse, age, reproduce under the ceiling rule and die, at 100 x K =
// 100, 10 x K = 1,000, 100 x K = 1,000 and 10 x K = 10,000, with and without
// pedigree. An individual life cycle is one individual walking its cycle in one
// time step: those present at the start of the step plus those born during it.
// The engine is measured beside its earlier self with tools/bench-baseline.sh,
// which builds this file at another revision and runs both by turns (the names
// of the benchmarks stay, so that both revisions answer the same filter); a
// seeded run's mean population and births per step are counters, the same in
// both when the engine's results are. tests/models/MetapopIBMRecordedRunsTest
// holds the results themselves.
#include <benchmark/benchmark.h>

#include <cmath>
#include <memory>
#include <vector>

#include "Utile/Platform.h"
#include "Utile/RandomFunctions.h"
#include "models/MetapopCommon.h"
#include "models/MetapopIBM.h"

namespace {

using models::Integer;
using models::tLifeCycle;
using models::tLifeEvent;

tLifeEvent Event(models::tLifeEventType type, Integer next = -1, Integer alt = -1) {
  tLifeEvent event;
  event.EventType = type;
  event.NextEvent = next;
  event.AltEvent = alt;
  return event;
}

tLifeCycle BenchCycle() {
  tLifeEvent survival = Event(models::leSurvival, 2, 5);
  survival.SurvivalRate = 0.8;
  tLifeEvent dispersal = Event(models::leDispersal, 3, 5);
  dispersal.DispSurvival = 0.9;
  dispersal.Weighting = 1.5;
  tLifeEvent reproduction = Event(models::leReproduction, 5);
  reproduction.ReproductionType = models::rtCeiling;
  reproduction.Fecundity = 4;
  return {Event(models::leBirth, 1),    survival,     dispersal,
          Event(models::leGetOlder, 4), reproduction, Event(models::leDeath)};
}

// Patches on a square grid one unit apart, every pair linked, permeability 1.
void SetGridLandscape(Integer patches) {
  const Integer side = static_cast<Integer>(std::ceil(std::sqrt(static_cast<double>(patches))));
  models::DistanceMat.assign(patches, utile::tVectorOfDouble(patches, 0.0));
  models::FrictionMap.assign(patches, utile::tVectorOfDouble(patches, 1.0));
  models::ConnectanceMat.assign(patches, utile::tVectorOfBoolean(patches, true));
  for (Integer i = 0; i < patches; ++i)
    for (Integer j = 0; j < patches; ++j)
      models::DistanceMat[i][j] = std::hypot(i % side - j % side, i / side - j / side);
}

// The workbench's order of building a run.
std::unique_ptr<models::tMetaPop> BuildRun(Integer patches, Integer capacity, bool pedigree) {
  SetGridLandscape(patches);
  auto metapop = std::make_unique<models::tMetaPop>();
  metapop->Species->SexRatio = 0.5;
  for (double& p : metapop->GenePrevalences()) p = 0.3;
  utile::SetSeeds(10, 1);
  metapop->SetGeneratePedigree(pedigree);
  metapop->SetReproductionMode(models::rmSexuate);
  metapop->AddPatches(patches);
  metapop->Initialise();
  metapop->MaxIndividuals = 2000000000;
  metapop->ExplosionSize = 2000000000;
  for (Integer i = 0; i < patches; ++i) {
    metapop->GetPatches(i)->Capacity = capacity;
    metapop->GetPatches(i)->AddIndividuals(capacity);
  }
  if (metapop->Pool()->Count() < 2 * metapop->N())
    metapop->Pool()->Add(2 * metapop->N() - metapop->Pool()->Count());
  metapop->Species->MakeCycle(BenchCycle());
  return metapop;
}

void RunEngine(benchmark::State& state, Integer patches, Integer capacity, Integer steps, bool pedigree) {
  utile::SetMessagePump(+[] {});
  double lifeCycles = 0, births = 0, population = 0;
  for (auto _ : state) {
    state.PauseTiming();
    std::unique_ptr<models::tMetaPop> metapop = BuildRun(patches, capacity, pedigree);
    state.ResumeTiming();
    for (Integer step = 0; step < steps && !metapop->Extinct; ++step) {
      const Integer present = metapop->N();
      const models::Cardinal firstID = metapop->CurrentID;
      metapop->TimeStep(1);
      lifeCycles += present + (metapop->CurrentID - firstID);
      births += metapop->CurrentID - firstID;
      population += present;
    }
    state.PauseTiming();
    metapop.reset();
    state.ResumeTiming();
  }
  utile::SetMessagePump(nullptr);
  state.counters["life_cycles_per_s"] = benchmark::Counter(lifeCycles, benchmark::Counter::kIsRate);
  state.counters["ns_per_life_cycle"] =
      benchmark::Counter(lifeCycles, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
  state.counters["mean_population"] = population / steps / state.iterations();
  state.counters["births_per_step"] = births / steps / state.iterations();
}

#define ENGINE_BENCHMARK(Name, Patches, Capacity, Steps, Pedigree, Runs) \
  void BM_Engine_##Name(benchmark::State& state) {                       \
    RunEngine(state, Patches, Capacity, Steps, Pedigree);                \
  }                                                                      \
  BENCHMARK(BM_Engine_##Name)->Unit(benchmark::kMillisecond)->Iterations(Runs);

ENGINE_BENCHMARK(100PatchesK100, 100, 100, 1000, false, 3)
ENGINE_BENCHMARK(100PatchesK100_Pedigree, 100, 100, 1000, true, 3)
ENGINE_BENCHMARK(10PatchesK1000, 10, 1000, 1000, false, 3)
ENGINE_BENCHMARK(10PatchesK1000_Pedigree, 10, 1000, 1000, true, 3)
ENGINE_BENCHMARK(100PatchesK1000, 100, 1000, 100, false, 3)
ENGINE_BENCHMARK(100PatchesK1000_Pedigree, 100, 1000, 100, true, 3)
ENGINE_BENCHMARK(10PatchesK10000, 10, 10000, 100, false, 3)
// A pedigree of a hundred steps of 10 x 10,000 individuals takes about a gigabyte.
ENGINE_BENCHMARK(10PatchesK10000_Pedigree, 10, 10000, 100, true, 1)

// Reference: the uniform draws one such life cycle makes (about four and a
// quarter: survival, destination, dispersal survival, mate, Poisson, genome
// masks and sex, shared between those that die early and those that breed),
// with nothing else, as a floor for the engine's cost.
void BM_Reference_DrawsPerLifeCycle(benchmark::State& state) {
  utile::SetSeeds(10, 1);
  double sum = 0;
  for (auto _ : state) {
    for (int i = 0; i < 17; ++i) sum += utile::Ran();
    benchmark::DoNotOptimize(sum);
  }
  state.counters["life_cycles_per_s"] =
      benchmark::Counter(4.0 * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_Reference_DrawsPerLifeCycle);

}  // namespace
