// Recording a long run, and the kinship analyses at one date, each beside a
// reference: the straightforward layout of the records (a growing array of
// records and one array of positions per individual) and the per-pair cached
// recursion of the relationships.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <memory>
#include <random>
#include <vector>

#include "models/PedigreeOps.h"

using namespace models;

namespace {

size_t HeapInUse() {
  const struct mallinfo2 info = mallinfo2();
  return info.uordblks + info.hblkhd;
}

// A run of a sexual species in a few patches: every date each patch's adults
// breed as many newborns as the patch holds breeders; newborns survive their
// first census with probability 0.45, adults each later one with 0.7; one in
// twenty survivors moves to another patch. `record` receives each birth and each
// census: (date, id, mother, father, patch, sex) and (id, patch).
template <class tBirth, class tCensus>
void Run(int patches, int breeders, Cardinal records, unsigned seed, tBirth birth, tCensus census,
         Cardinal* lastDate = nullptr) {
  std::mt19937_64 random(seed);
  std::uniform_real_distribution<double> uniform(0, 1);
  struct tAlive {
    Cardinal ID, Patch, Age;
    bool Female;
  };
  std::vector<tAlive> alive, survivors;
  std::vector<std::vector<Cardinal>> mothers(patches + 1), fathers(patches + 1);
  Cardinal id = 0;
  for (int p = 1; p <= patches; ++p)
    for (int k = 0; k < 2 * breeders; ++k) {
      const bool female = k % 2 == 0;
      birth(1, ++id, 0, 0, Cardinal(p), female ? psFemale : psMale);
      alive.push_back({id, Cardinal(p), 1, female});
    }
  Cardinal date = 1;
  for (;;) {
    for (auto& list : mothers) list.clear();
    for (auto& list : fathers) list.clear();
    for (const tAlive& a : alive)
      if (a.Age >= 1) (a.Female ? mothers : fathers)[a.Patch].push_back(a.ID);
    for (int p = 1; p <= patches; ++p) {
      if (mothers[p].empty() || fathers[p].empty()) continue;
      const int offspring = breeders;
      for (int k = 0; k < offspring && id < records; ++k) {
        const Cardinal mother = mothers[p][size_t(uniform(random) * mothers[p].size())];
        const Cardinal father = fathers[p][size_t(uniform(random) * fathers[p].size())];
        const bool female = uniform(random) < 0.5;
        birth(date, ++id, mother, father, Cardinal(p), female ? psFemale : psMale);
        alive.push_back({id, Cardinal(p), 0, female});
      }
    }
    if (id >= records) break;
    survivors.clear();
    for (tAlive a : alive) {
      if (uniform(random) >= (a.Age == 0 ? 0.45 : 0.7)) continue;
      if (uniform(random) < 0.05) a.Patch = 1 + Cardinal(uniform(random) * patches);
      ++a.Age;
      census(a.ID, a.Patch);
      survivors.push_back(a);
    }
    alive.swap(survivors);
    ++date;
  }
  if (lastDate) *lastDate = date;
}

// ------------------------------------------------------------------ recording

void BM_RecordLongRun(benchmark::State& state) {
  const Cardinal records = Cardinal(state.range(0));
  double bytes = 0;
  for (auto _ : state) {
    const size_t before = HeapInUse();
    auto pedigree = std::make_unique<tPedigree>();
    Run(
        4, 600, records, 1,
        [&](Cardinal d, Cardinal i, Cardinal m, Cardinal f, Cardinal p, tPedigreeSex s) {
          pedigree->Add(d, i, m, f, p, s);
        },
        [&](Cardinal i, Cardinal p) { pedigree->AddPosition(i, p); });
    bytes = double(HeapInUse() - before);
    benchmark::DoNotOptimize(pedigree->Count());
  }
  state.counters["bytes_per_record"] = bytes / records;
  state.counters["records"] = records;
}
BENCHMARK(BM_RecordLongRun)->Arg(10000000)->Unit(benchmark::kMillisecond)->Iterations(1);

// The straightforward layout: one growing array of records, one array of
// positions per individual.
void BM_RecordLongRunReference(benchmark::State& state) {
  const Cardinal records = Cardinal(state.range(0));
  double bytes = 0;
  for (auto _ : state) {
    const size_t before = HeapInUse();
    std::vector<tPedigreeInfo> pedigree(1);
    std::vector<std::vector<Cardinal>> positions(1);
    Run(
        4, 600, records, 1,
        [&](Cardinal d, Cardinal i, Cardinal m, Cardinal f, Cardinal p, tPedigreeSex s) {
          pedigree.push_back({d, i, m, f, p, s});
          positions.push_back({d, p});
        },
        [&](Cardinal i, Cardinal p) { positions[i].push_back(p); });
    bytes = double(HeapInUse() - before);
    benchmark::DoNotOptimize(pedigree.size());
  }
  state.counters["bytes_per_record"] = bytes / records;
  state.counters["records"] = records;
}
BENCHMARK(BM_RecordLongRunReference)->Arg(10000000)->Unit(benchmark::kMillisecond)->Iterations(1);

// ------------------------------------------------------------------ analyses

struct tAnalysedRun {
  std::unique_ptr<tPedigree> Pedigree;
  Cardinal Date = 0;
  Cardinal Living = 0;
};

// A run with about `living` individuals alive at its last date.
tAnalysedRun MakeAnalysedRun(Cardinal living, int dates) {
  tAnalysedRun run{std::make_unique<tPedigree>()};
  const int patches = 10;
  const int breeders = int(living / patches / 2.4);
  tPedigree& pedigree = *run.Pedigree;
  Run(
      patches, breeders, Cardinal(patches * breeders * dates), 7,
      [&](Cardinal d, Cardinal i, Cardinal m, Cardinal f, Cardinal p, tPedigreeSex s) {
        pedigree.Add(d, i, m, f, p, s);
      },
      [&](Cardinal i, Cardinal p) { pedigree.AddPosition(i, p); }, &run.Date);
  Cardinal longest = 0;
  for (Cardinal id = 1; id <= pedigree.Count(); ++id)
    longest = std::max(longest, pedigree.GetDeathDate(id) - pedigree.GetBirthDate(id));
  pedigree.SetMaxAge(longest);
  pedigree.SetAgeReproduction(1);
  pedigree.SetMutationRate(1e-4);
  run.Living = pedigree.PopulationSizes(run.Date, pacAll)[0];
  return run;
}

tAnalysedRun& SharedRun(Cardinal living) {
  static std::vector<std::pair<Cardinal, tAnalysedRun>> runs;
  for (auto& [size, run] : runs)
    if (size == living) return run;
  runs.emplace_back(living, MakeAnalysedRun(living, 40));
  return runs.back().second;
}

enum tAnalysis { anF, anTheta, anAlpha };

void Analyse(tPedigree& pedigree, Cardinal date, tAnalysis analysis) {
  tVectorOfCardinal counts;
  switch (analysis) {
    case anF:
      benchmark::DoNotOptimize(pedigree.F_pop(date, pacAll, counts));
      break;
    case anTheta:
      benchmark::DoNotOptimize(pedigree.Theta(date, pacAll));
      break;
    case anAlpha:
      benchmark::DoNotOptimize(pedigree.Alpha(date, pacAll));
      break;
  }
}

// From a prepared pedigree: what one analysis at one date costs.
void BM_AnalysisAtOneDate(benchmark::State& state) {
  tAnalysedRun& run = SharedRun(Cardinal(state.range(0)));
  for (auto _ : state) {
    run.Pedigree->PrepareForAnalysis();
    Analyse(*run.Pedigree, run.Date, tAnalysis(state.range(1)));
  }
  state.counters["living"] = run.Living;
  state.counters["records"] = run.Pedigree->Count();
}
BENCHMARK(BM_AnalysisAtOneDate)
    ->ArgsProduct({{1000, 10000}, {anF, anTheta, anAlpha}})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

// The reference: the per-pair cached recursion, summed pair by pair.
void BM_AnalysisAtOneDateReference(benchmark::State& state) {
  tAnalysedRun& run = SharedRun(Cardinal(state.range(0)));
  tPedigree& pedigree = *run.Pedigree;
  const Cardinal date = run.Date;
  for (auto _ : state) {
    pedigree.PrepareForAnalysis();
    Cardinal first, last;
    pedigree.FirstAndLastID(date, first, last);
    double sum = 0;
    for (Cardinal i = first; i <= last; ++i) {
      if (!pedigree.BelongToAgeClass(i, date, pacAll)) continue;
      if (state.range(1) == anF) {
        sum += pedigree.F_ind(i);
        continue;
      }
      const Cardinal a = pedigree.Positions(i, date);
      for (Cardinal j = first; j < i; ++j)
        if (pedigree.BelongToAgeClass(j, date, pacAll) &&
            (state.range(1) == anAlpha || pedigree.Positions(j, date) == a))
          sum += pedigree.Coancestry(j, i);
    }
    benchmark::DoNotOptimize(sum);
  }
  state.counters["living"] = run.Living;
  state.counters["records"] = pedigree.Count();
}
BENCHMARK(BM_AnalysisAtOneDateReference)
    ->ArgsProduct({{1000}, {anF, anTheta, anAlpha}})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

}  // namespace
