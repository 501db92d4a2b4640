// The individual-based engine on a sexual species whose individuals are born,
// survive, disperse, age, reproduce under the ceiling rule and die, on 100 patches
// of capacity 100 and on 10 patches of capacity 10,000, with and without pedigree.
// An individual life cycle is one individual walking its cycle in one time step:
// those present at the start of the step plus those born during it.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

#include "Utile/Platform.h"
#include "Utile/RandomFunctions.h"
#include "models/MetapopCommon.h"
#include "models/MetapopIBM.h"

namespace {

using namespace models;

tLifeEvent Event(tLifeEventType type, Integer next = -1, Integer alt = -1) {
  tLifeEvent event;
  event.EventType = type;
  event.NextEvent = next;
  event.AltEvent = alt;
  return event;
}

tLifeCycle BenchCycle() {
  tLifeEvent survival = Event(leSurvival, 2, 5);
  survival.SurvivalRate = 0.8;
  tLifeEvent dispersal = Event(leDispersal, 3, 5);
  dispersal.DispSurvival = 0.9;
  dispersal.Weighting = 1.5;
  tLifeEvent reproduction = Event(leReproduction, 5);
  reproduction.ReproductionType = rtCeiling;
  reproduction.Fecundity = 4;
  return {Event(leBirth, 1), survival, dispersal, Event(leGetOlder, 4), reproduction, Event(leDeath)};
}

// Patches on a square grid one unit apart, every pair linked, permeability 1.
void SetGridLandscape(Integer patches) {
  const Integer side = static_cast<Integer>(std::ceil(std::sqrt(static_cast<double>(patches))));
  DistanceMat.assign(patches, utile::tVectorOfDouble(patches, 0.0));
  FrictionMap.assign(patches, utile::tVectorOfDouble(patches, 1.0));
  ConnectanceMat.assign(patches, utile::tVectorOfBoolean(patches, true));
  for (Integer i = 0; i < patches; ++i)
    for (Integer j = 0; j < patches; ++j)
      DistanceMat[i][j] = std::hypot(i % side - j % side, i / side - j / side);
}

std::unique_ptr<tMetaPop> BuildRun(Integer patches, Integer capacity, bool pedigree) {
  SetGridLandscape(patches);
  auto metapop = std::make_unique<tMetaPop>();
  metapop->Species->SexRatio = 0.5;
  for (double& p : metapop->GenePrevalences()) p = 0.3;
  utile::SetSeeds(10, 1);
  metapop->SetGeneratePedigree(pedigree);
  metapop->SetReproductionMode(rmSexuate);
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

void RunEngine(benchmark::State& state, Integer patches, Integer capacity, Integer steps, bool pedigree,
               bool pump) {
  utile::SetMessagePump(pump ? +[] {} : nullptr);
  double lifeCycles = 0, births = 0, population = 0;
  for (auto _ : state) {
    state.PauseTiming();
    std::unique_ptr<tMetaPop> metapop = BuildRun(patches, capacity, pedigree);
    state.ResumeTiming();
    for (Integer step = 0; step < steps && !metapop->Extinct; ++step) {
      const Integer present = metapop->N();
      const Cardinal firstID = metapop->CurrentID;
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

void BM_Engine_100PatchesK100(benchmark::State& state) {
  RunEngine(state, 100, 100, 1000, false, true);
}
void BM_Engine_100PatchesK100_Pedigree(benchmark::State& state) {
  RunEngine(state, 100, 100, 1000, true, true);
}
void BM_Engine_10PatchesK10000(benchmark::State& state) {
  RunEngine(state, 10, 10000, 1000, false, true);
}
// A pedigree of a thousand steps of 10 x 10,000 individuals would not fit in memory.
void BM_Engine_10PatchesK10000_Pedigree(benchmark::State& state) {
  RunEngine(state, 10, 10000, 100, true, true);
}
void BM_Engine_100PatchesK100_NoMessagePump(benchmark::State& state) {
  RunEngine(state, 100, 100, 1000, false, false);
}
BENCHMARK(BM_Engine_100PatchesK100)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_Engine_100PatchesK100_Pedigree)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_Engine_10PatchesK10000)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_Engine_10PatchesK10000_Pedigree)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_Engine_100PatchesK100_NoMessagePump)->Unit(benchmark::kMillisecond)->Iterations(3);

// Reference: the uniform draws one such life cycle makes (about nine: survival,
// destination, dispersal survival, mate, Poisson, genome masks and sex), with
// nothing else, as a floor for the engine's cost.
void BM_Reference_NineDrawsPerLifeCycle(benchmark::State& state) {
  utile::SetSeeds(10, 1);
  double sum = 0;
  for (auto _ : state) {
    for (int i = 0; i < 9; ++i) sum += utile::Ran();
    benchmark::DoNotOptimize(sum);
  }
  state.counters["life_cycles_per_s"] = benchmark::Counter(state.iterations(), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_Reference_NineDrawsPerLifeCycle);

// Leaving a patch: the engine's list against an ordered vector that closes the gap
// at once, at patch sizes 100 and 10,000. One departure from a random place and one
// arrival at the end per iteration, the size kept constant.
void BM_PatchDeparture(benchmark::State& state) {
  const Integer size = static_cast<Integer>(state.range(0));
  SetGridLandscape(1);
  tMetaPop metapop;
  metapop.SetReproductionMode(rmClonal);
  metapop.AddPatches(1);
  metapop.GetPatches(0)->AddIndividuals(size);
  tPatch* patch = metapop.GetPatches(0);
  utile::SetSeeds(1, 1);
  for (auto _ : state) {
    tIndividual* ind = patch->GetInd(utile::Ran(size));
    patch->Remove(ind);
    patch->Add(ind);
  }
}
BENCHMARK(BM_PatchDeparture)->Arg(100)->Arg(10000);

void BM_Reference_OrderedVectorDeparture(benchmark::State& state) {
  const Integer size = static_cast<Integer>(state.range(0));
  std::vector<void*> list(size);
  for (Integer i = 0; i < size; ++i) list[i] = &list[i];
  utile::SetSeeds(1, 1);
  for (auto _ : state) {
    const auto position = list.begin() + utile::Ran(size);
    void* ind = *position;
    // Find it as a list search by value would, then close the gap.
    list.erase(std::find(list.begin(), list.end(), ind));
    list.push_back(ind);
    benchmark::DoNotOptimize(list.data());
  }
}
BENCHMARK(BM_Reference_OrderedVectorDeparture)->Arg(100)->Arg(10000);

}  // namespace
