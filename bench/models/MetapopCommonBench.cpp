// The straight-line permeability matrix on a 1000 x 1000 raster, against the
// same matrix sampled point by point (500 samples per landscape unit), and the
// metapopulation capacity of up to 1,000 patches, and the value map of a new
// patch over 2,000.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <random>
#include <string>

#include "TestSupport/SeededLandscapes.h"
#include "Utile/MatrixOps.h"
#include "Utile/RandomFunctions.h"
#include "Utile/RunTime.h"
#include "bench/models/MetapopCommonReference.h"
#include "models/MetapopCommon.h"

namespace {

using models::Patches;

void MakeLandscape(int patches, int rasterSide, unsigned seed) {
  models::ResetLandscape();
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> cell(0.2, 1.0), position(0, rasterSide);
  models::Map.assign(static_cast<size_t>(rasterSide),
                     utile::tVectorOfDouble(static_cast<size_t>(rasterSide)));
  for (auto& row : models::Map)
    for (auto& v : row) v = cell(rng);
  models::MapWidth = models::MapHeight = rasterSide;
  for (int i = 0; i < patches; ++i) {
    models::tCircle c;
    c.popID = i + 1;
    c.x = position(rng);
    c.y = position(rng);
    c.A = 1 + 9 * cell(rng);
    Patches.push_back(c);
  }
}

// Mean length of the segments, for the samples per second.
double MeanDistance() {
  double sum = 0;
  size_t pairs = 0;
  for (size_t i = 0; i < Patches.size(); ++i)
    for (size_t j = 0; j < i; ++j, ++pairs)
      sum += std::hypot(Patches[i].x - Patches[j].x, Patches[i].y - Patches[j].y);
  return pairs ? sum / static_cast<double>(pairs) : 0;
}

void BM_StraightLinePermeability(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  MakeLandscape(n, 1000, 42);
  models::PermeabilityType = models::ptStraightLine;
  for (auto _ : state) {
    models::ComputeDistanceMatrix();
    benchmark::DoNotOptimize(models::FrictionMap.data());
  }
  state.counters["pairs"] = n * (n - 1) / 2.0;
  state.counters["samples/s"] = benchmark::Counter(n * (n - 1) / 2.0 * 500 * MeanDistance(),
                                                   benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_StraightLinePermeability)->Arg(25)->Arg(50)->Arg(100)->Arg(200)->Unit(benchmark::kMillisecond);

// The reference: every one of the 500 samples per unit of every segment looked
// up and summed on its own.
void BM_StraightLinePermeabilityPerSample(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  MakeLandscape(n, 1000, 42);
  models::PermeabilityType = models::ptStraightLine;
  models::ComputeDistanceMatrix();  // builds the logarithm of the raster
  const auto& ln = models::LnMapView();
  const double rows = static_cast<double>(ln.size()), cols = static_cast<double>(ln[0].size());
  for (auto _ : state) {
    double total = 0;
    for (size_t i = 0; i < Patches.size(); ++i)
      for (size_t j = 0; j < i; ++j) {
        const auto &a = Patches[i], &b = Patches[j];
        const double d = std::hypot(b.x - a.x, b.y - a.y);
        const double dx = (b.x - a.x) / d / 500, dy = (b.y - a.y) / d / 500;
        const int64_t samples = utile::Round(500 * d);
        double sum = 0;
        for (int64_t k = 1; k <= samples; ++k) {
          const double ix = std::trunc(rows * (a.x + static_cast<double>(k) * dx) / models::MapWidth);
          const double iy = std::trunc(cols * (a.y + static_cast<double>(k) * dy) / models::MapHeight);
          if (ix < 0 || ix > rows - 1 || iy < 0 || iy > cols - 1) continue;
          sum += ln[static_cast<size_t>(ix)][static_cast<size_t>(iy)] / 500;
        }
        total += std::exp(sum);
      }
    benchmark::DoNotOptimize(total);
  }
  state.counters["pairs"] = n * (n - 1) / 2.0;
  state.counters["samples/s"] = benchmark::Counter(n * (n - 1) / 2.0 * 500 * MeanDistance(),
                                                   benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_StraightLinePermeabilityPerSample)->Arg(25)->Arg(50)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StraightLinePermeabilityPerSample)->Arg(200)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

namespace {

models::tParam CapacityParameters() {
  models::tParam param;
  param.Territ = 1;
  param.alph = 0.01;
  param.ZetaEm = 1;
  param.ZetaIm = 0.5;
  param.ZetaExt = 0.8;
  return param;
}

void BM_MetapopulationCapacity(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  MakeLandscape(n, 1000, 7);
  const models::tParam param = CapacityParameters();
  for (auto _ : state) benchmark::DoNotOptimize(models::ComputeMetapopulationCapacity(&param, Patches));
}
BENCHMARK(BM_MetapopulationCapacity)->Arg(125)->Arg(250)->Arg(500)->Arg(1000)->Unit(benchmark::kMillisecond);

// The reference: the matrix built cell by cell with both powers, then the plain
// power iteration from a vector of ones on it and on its transpose, to the
// tolerance 1e-50 within 1000 iterations.
void BM_MetapopulationCapacityPlainIteration(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  MakeLandscape(n, 1000, 7);
  const models::tParam p = CapacityParameters();
  for (auto _ : state) {
    models::ComputeDistanceMatrix();
    utile::tMatrixOfDouble m(static_cast<size_t>(n), utile::tVectorOfDouble(static_cast<size_t>(n), 0.0));
    for (int i = 0; i < n; ++i)
      for (int j = 0; j < n; ++j)
        if (i != j)
          m[i][j] = std::exp(-p.alph * models::DistanceMat[i][j]) *
                    std::pow(Patches[j].A / p.Territ, p.ZetaEm) *
                    std::pow(Patches[i].A / p.Territ, p.ZetaIm + p.ZetaExt);
    utile::tVectorOfDouble right(static_cast<size_t>(n)), left(static_cast<size_t>(n));
    double lambda = 0;
    utile::DominantEigensystem(m, right, lambda, 1000, 1e-50);
    utile::DominantEigensystem(utile::TransposeMat(m), left, lambda, 1000, 1e-50);
    benchmark::DoNotOptimize(lambda);
  }
}
BENCHMARK(BM_MetapopulationCapacityPlainIteration)
    ->Arg(125)
    ->Arg(250)
    ->Arg(500)
    ->Arg(1000)
    ->Unit(benchmark::kMillisecond);

}  // namespace

// The equilibrium analyses and the grid maps of a new patch, 50 patches on a
// 200 x 200 grid: each map against the same map made cell by cell through the
// point routines, and the sizes without each patch against the plain
// integration (a matrix of rows, one row's pressure at a time).
namespace {

models::tParam EquilibriumParameters() {
  models::tParam param;
  param.Territ = 1;
  param.alph = 0.01;
  param.colonisation = 1;
  param.extinction = 0.3;
  param.ZetaEm = 1;
  param.ZetaIm = 0.5;
  param.ZetaExt = 0.5;
  param.NewPatchArea = 5;
  param.PerCentBootstrap = 80;
  param.Iteration = 25;
  return param;
}

constexpr int GridSide = 200;
constexpr double Extent = 1000;

double CellCentre(int k) {
  return (k + 0.5) * Extent / GridSide;
}

void BM_ComputeTestPosition(benchmark::State& state) {
  MakeLandscape(50, 1000, 11);
  models::tParam param = EquilibriumParameters();
  param.bootstrap = state.range(0) != 0;
  for (auto _ : state) {
    utile::SetSeeds(1, 2);
    models::ComputeTestPosition(param, 0, Extent, 0, Extent, GridSide, GridSide, Patches);
    benchmark::DoNotOptimize(models::ResultMap.data());
  }
  state.SetLabel(param.bootstrap ? "bootstrap, 25 rounds" : "plain");
}
BENCHMARK(BM_ComputeTestPosition)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// The reference: each cell through HypotheticCapacity, round by round.
void BM_ComputeTestPositionPerCell(benchmark::State& state) {
  MakeLandscape(50, 1000, 11);
  const models::tParam param = EquilibriumParameters();
  const bool bootstrap = state.range(0) != 0;
  const int rounds = bootstrap ? param.Iteration : 1;
  const int draws = bootstrap ? static_cast<int>(utile::Round(50.0 * param.PerCentBootstrap / 100)) : 50;
  utile::tMatrixOfDouble map;
  for (auto _ : state) {
    utile::SetSeeds(1, 2);
    map.assign(GridSide, utile::tVectorOfDouble(GridSide, 0.0));
    for (int r = 0; r < rounds; ++r) {
      models::tArrayOfCircles sample = Patches;
      if (bootstrap) {
        sample.clear();
        for (int k = 0; k < draws; ++k) sample.push_back(Patches[utile::Ran(utile::Integer{50})]);
      }
      const double capacity = models::ComputeMetapopulationCapacity(&param, sample);
      for (int col = 0; col < GridSide; ++col)
        for (int row = 0; row < GridSide; ++row)
          map[col][row] += std::clamp(models::HypotheticCapacity(CellCentre(col), CellCentre(row),
                                                                 param.NewPatchArea, param, sample) /
                                          capacity,
                                      0.0, 10.0);
    }
    benchmark::DoNotOptimize(map.data());
  }
  state.SetLabel(bootstrap ? "bootstrap, 25 rounds" : "plain");
}
BENCHMARK(BM_ComputeTestPositionPerCell)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// The on-the-fly value map of the main window over 2,000 patches: 44 x 44
// cells, each the capacity a new patch would bring there.
constexpr int ValueMapSide = 44;

// The landscape and its capacity, computed once and put back for each run (the
// other benchmarks change them).
models::tParam ValueMapLandscape() {
  struct tSaved {
    models::tArrayOfCircles Patches;
    utile::tMatrixOfDouble Eigenvectors;
    utile::tVectorOfDouble Eigenvalue;
  };
  const models::tParam param = EquilibriumParameters();
  static const tSaved saved = [&param] {
    MakeLandscape(2000, 1000, 5);
    models::ComputeMetapopulationCapacity(&param, Patches);
    return tSaved{Patches, models::HanskiEigenvectors, models::HanskiEigenvalue};
  }();
  Patches = saved.Patches;
  models::HanskiEigenvectors = saved.Eigenvectors;
  models::HanskiEigenvalue = saved.Eigenvalue;
  return param;
}

template <typename tCapacity>
double ValueMapSum(tCapacity&& capacity) {
  double sum = 0;
  for (int c = 0; c < ValueMapSide; ++c)
    for (int r = 0; r < ValueMapSide; ++r) {
      const double x = (c + 0.5) * 1000.0 / ValueMapSide, y = (r + 0.5) * 1000.0 / ValueMapSide;
      sum += capacity(x, y);
    }
  return sum;
}

void BM_ValueMap2000(benchmark::State& state) {
  const models::tParam param = ValueMapLandscape();
  for (auto _ : state) {
    const auto capacityAt = models::HypotheticCapacityAt(param.NewPatchArea, param, Patches);
    benchmark::DoNotOptimize(ValueMapSum(capacityAt));
  }
  state.SetLabel("terms of each patch computed once");
}
BENCHMARK(BM_ValueMap2000)->Unit(benchmark::kMillisecond);

// The reference: every cell through HypotheticCapacity, as the window did.
void BM_ValueMap2000PerCell(benchmark::State& state) {
  const models::tParam param = ValueMapLandscape();
  for (auto _ : state)
    benchmark::DoNotOptimize(ValueMapSum([&](double x, double y) {
      return models::HypotheticCapacity(x, y, param.NewPatchArea, param, Patches);
    }));
}
BENCHMARK(BM_ValueMap2000PerCell)->Unit(benchmark::kMillisecond);

void BM_FindMatB(benchmark::State& state) {
  MakeLandscape(50, 1000, 11);
  const models::tParam param = EquilibriumParameters();
  for (auto _ : state) {
    models::FindMatB(param, Patches, 0, Extent, 0, Extent, GridSide, GridSide);
    benchmark::DoNotOptimize(models::ResultMap.data());
  }
}
BENCHMARK(BM_FindMatB)->Unit(benchmark::kMillisecond);

// The reference: the weights of an empty grid, then each cell through
// hypotheticContribution.
void BM_FindMatBPerCell(benchmark::State& state) {
  MakeLandscape(50, 1000, 11);
  const models::tParam param = EquilibriumParameters();
  utile::tMatrixOfDouble map(GridSide, utile::tVectorOfDouble(GridSide));
  for (auto _ : state) {
    models::FindMatB(param, Patches, 0, Extent, 0, Extent, 0, 0);
    const utile::tVectorOfDouble& p = models::EquilibriumOccupancy;
    utile::tVectorOfDouble w(p.size());
    for (size_t i = 0; i < p.size(); ++i) w[i] = models::ContributionEigenvector[i] / p[i];
    for (int col = 0; col < GridSide; ++col)
      for (int row = 0; row < GridSide; ++row)
        map[col][row] =
            models::hypotheticContribution(CellCentre(col), CellCentre(row), param, Patches, p, w);
    benchmark::DoNotOptimize(map.data());
  }
}
BENCHMARK(BM_FindMatBPerCell)->Unit(benchmark::kMillisecond);

void BM_FindMetapopulationSize(benchmark::State& state) {
  MakeLandscape(50, 1000, 11);
  const models::tParam param = EquilibriumParameters();
  for (auto _ : state) {
    models::FindMetapopulationSize(param, Patches, 0, Extent, 0, Extent, GridSide, GridSide);
    benchmark::DoNotOptimize(models::MetapopulationSize);
  }
}
BENCHMARK(BM_FindMetapopulationSize)->Unit(benchmark::kMillisecond);

utile::tMatrixOfDouble ColonisationMatrix(const models::tParam& p) {
  models::ComputeDistanceMatrix();
  const size_t n = Patches.size();
  utile::tMatrixOfDouble m(n, utile::tVectorOfDouble(n, 0.0));
  for (size_t i = 0; i < n; ++i)
    for (size_t j = 0; j < n; ++j)
      if (i != j)
        m[i][j] = std::pow(Patches[j].A / p.Territ, p.ZetaEm) *
                  std::exp(-p.alph * models::DistanceMat[i][j]) *
                  std::pow(Patches[i].A / p.Territ, p.ZetaIm + p.ZetaExt);
  return m;
}

void BM_FindMetapopSizeMinusOnePatch(benchmark::State& state) {
  MakeLandscape(50, 1000, 11);
  const models::tParam param = EquilibriumParameters();
  const utile::tMatrixOfDouble m = ColonisationMatrix(param);
  for (auto _ : state) benchmark::DoNotOptimize(models::FindMetapopSizeMinusOnePatch(Patches, m, param));
}
BENCHMARK(BM_FindMetapopSizeMinusOnePatch)->Unit(benchmark::kMillisecond);

// The reference: the same blocks of Euler steps and the same stop, on the
// matrix without row and column k, one row's pressure at a time.
void BM_FindMetapopSizeMinusOnePatchPlain(benchmark::State& state) {
  MakeLandscape(50, 1000, 11);
  const models::tParam param = EquilibriumParameters();
  const utile::tMatrixOfDouble m = ColonisationMatrix(param);
  for (auto _ : state) {
    utile::tVectorOfDouble sizes;
    for (int k = 0; k < 50; ++k) {
      const utile::tMatrixOfDouble mk = utile::DeleteRowAndCol(m, k);
      models::tArrayOfCircles rest = Patches;
      rest.erase(rest.begin() + k);
      const size_t n = rest.size();
      double c = param.colonisation, e = param.extinction;
      while (c < 0.1 && e < 0.1) c *= 10, e *= 10;
      utile::tVectorOfDouble p(n, 0.1), next(n), old;
      double change = 1;
      int64_t steps = 0;
      while (change > n * 1e-30 && steps < 10'000'000) {
        old = p;
        bool failed = false;
        for (int step = 0; step < 101 && !failed; ++step) {
          for (size_t i = 0; i < n && !failed; ++i) {
            double s = 0;
            for (size_t j = 0; j < n; ++j) s += mk[i][j] * p[j];
            next[i] =
                p[i] + ((1 - p[i]) * c * s - p[i] * e) / std::pow(rest[i].A / param.Territ, param.ZetaExt);
            failed = next[i] > 1 || next[i] < 0;
          }
          if (!failed) p = next;
        }
        change = 0;
        for (size_t i = 0; i < n; ++i) change += (p[i] - old[i]) * (p[i] - old[i]);
        steps += 100;
        if (failed) c /= 2, e /= 2, p.assign(n, 0.1), change = 1, steps = 0;
      }
      double size = 0;
      for (size_t i = 0; i < n; ++i) size += p[i] * rest[i].A / param.Territ;
      sizes.push_back(size);
    }
    benchmark::DoNotOptimize(sizes.data());
  }
}
BENCHMARK(BM_FindMetapopSizeMinusOnePatchPlain)->Unit(benchmark::kMillisecond);

}  // namespace

// The equilibrium at the simple demographic workbench's defaults on seeded
// landscapes of 30 and 100 patches over 200 x 200 (tests/TestSupport/SeededLandscapes.h),
// each with one where an integration without a patch ends in a cycle that only
// its 10,000,000 steps end: FindPequ and FindMetapopSizeMinusOnePatch beside the
// integrations as they were (models::reference, bench/models/MetapopCommonReference.h),
// each case's reference first. The results must be the reference's bit for bit,
// or the benchmark reports an error; without the reference in the run they are
// not compared. The whole analysis follows, without a reference.
namespace {

struct tSeededCase {
  int Patches, Seed;
  const char* Label;
};
constexpr tSeededCase SeededCases[] = {
    {30, 3, "30 patches"},
    {30, 67, "30 patches, one integration to its step limit"},
    {100, 1, "100 patches"},
    {100, 110, "100 patches, one integration to its step limit"},
};

struct tEquilibrium {
  utile::tVectorOfDouble Occupancy, Sizes;
  bool operator==(const tEquilibrium&) const = default;
};
std::map<int, tEquilibrium> gReferenceEquilibria;

utile::tMatrixOfDouble SeededMatrix(const tSeededCase& c, models::tParam& param) {
  models::ResetLandscape();
  Patches = testsupport::SeededLandscape(c.Patches, c.Seed);
  param = testsupport::SimpleDemoDefaults();
  return ColonisationMatrix(param);
}

void RunEquilibrium(benchmark::State& state, bool reference) {
  const int index = static_cast<int>(state.range(0));
  const tSeededCase& c = SeededCases[index];
  models::tParam param;
  const utile::tMatrixOfDouble m = SeededMatrix(c, param);
  tEquilibrium result;
  for (auto _ : state) {
    if (reference) {
      result.Occupancy = models::reference::FindPequ(Patches, m, param);
      result.Sizes = models::reference::FindMetapopSizeMinusOnePatch(Patches, m, param);
    } else {
      result.Occupancy = models::FindPequ(Patches, m, param);
      result.Sizes = models::FindMetapopSizeMinusOnePatch(Patches, m, param);
    }
    benchmark::DoNotOptimize(result.Sizes.data());
  }
  std::string label = c.Label;
  if (reference) {
    gReferenceEquilibria[index] = result;
  } else if (const auto found = gReferenceEquilibria.find(index); found == gReferenceEquilibria.end()) {
    label += " (not compared)";
  } else if (!(found->second == result)) {
    state.SkipWithError("the results differ from the reference's");
  }
  state.SetLabel(label);
}

const bool gEquilibriumBenchmarks = [] {
  for (int index = 0; index < static_cast<int>(std::size(SeededCases)); ++index)
    for (bool reference : {true, false}) {
      auto* b = benchmark::RegisterBenchmark(
          reference ? "BM_Reference_EquilibriumAtDefaults" : "BM_EquilibriumAtDefaults",
          [reference](benchmark::State& state) { RunEquilibrium(state, reference); });
      b->Arg(index)->Unit(benchmark::kMillisecond);
      // The reference integrates 10,000,000 steps of 29 or 99 patches there: seconds to minutes.
      if (reference && (index == 1 || index == 3)) b->Iterations(1);
    }
  return true;
}();

void BM_FindMetapopulationSizeAtDefaults(benchmark::State& state) {
  const tSeededCase& c = SeededCases[state.range(0)];
  models::tParam param;
  SeededMatrix(c, param);
  for (auto _ : state) {
    models::FindMetapopulationSize(param, Patches, 0, 200, 0, 200, 100, 100);
    benchmark::DoNotOptimize(models::MetapopulationSize);
  }
  state.SetLabel(c.Label);
}
BENCHMARK(BM_FindMetapopulationSizeAtDefaults)->DenseRange(0, 3)->Unit(benchmark::kMillisecond);

}  // namespace

// The distance, permeability and link matrices that the main window's landscape
// sequence recomputes after every change of the patches (ComputeConnectanceMatrix
// with links between close patches), at 2,000 and 10,000 random patches, with
// constant and exponential permeability: the first call at a new size (the
// matrices freed and their memory given back beforehand) and later calls at the
// same size, each beside the same computation as it was before its fill was
// rebuilt (models::reference, bench/models/MetapopCommonReference.h). The
// matrices must come out equal, bit for bit, or the benchmark reports an error.
namespace {

constexpr double LinkThreshold = 400;

void SetMatrixLandscape(int patches, bool exponential) {
  models::ResetLandscape();
  std::mt19937 rng(static_cast<unsigned>(patches));
  std::uniform_real_distribution<double> position(0, 5000), area(1, 40);
  for (int i = 0; i < patches; ++i) {
    models::tCircle c;
    c.popID = i + 1;
    c.x = position(rng);
    c.y = position(rng);
    c.A = area(rng);
    Patches.push_back(c);
  }
  models::PermeabilityType = exponential ? models::ptExponential : models::ptConstant;
  models::MeanPermeabilityDistance = 250;
  models::ConstantPermeability = 0.8;
}

// Frees the matrices and hands their memory back, so that the next call finds
// none, as after a change of the patch count.
void ForgetMatrices(bool reference) {
  if (reference) {
    utile::tMatrixOfDouble().swap(models::reference::DistanceMat);
    utile::tMatrixOfDouble().swap(models::reference::FrictionMap);
    utile::tMatrixOfBoolean().swap(models::reference::ConnectanceMat);
  } else {
    utile::tMatrixOfDouble().swap(models::DistanceMat);
    utile::tMatrixOfDouble().swap(models::FrictionMap);
    utile::tMatrixOfBoolean().swap(models::ConnectanceMat);
  }
  malloc_trim(0);
}

void ComputeMatrices(bool reference) {
  if (reference)
    models::reference::ComputeConnectanceMatrix(models::ctClosePatches, LinkThreshold);
  else
    models::ComputeConnectanceMatrix(models::ctClosePatches, LinkThreshold, 0);
}

bool SameMatrices() {
  return models::DistanceMat == models::reference::DistanceMat &&
         models::FrictionMap == models::reference::FrictionMap &&
         models::ConnectanceMat == models::reference::ConnectanceMat;
}

// Arguments: patches, exponential permeability (0/1), first call (0/1).
void RunMatrices(benchmark::State& state, bool reference) {
  const int patches = static_cast<int>(state.range(0));
  const bool exponential = state.range(1) != 0;
  const bool first = state.range(2) != 0;
  SetMatrixLandscape(patches, exponential);
  ForgetMatrices(true);
  ForgetMatrices(false);
  if (!first) ComputeMatrices(reference);
  for (auto _ : state) {
    if (first) {
      state.PauseTiming();
      ForgetMatrices(reference);
      state.ResumeTiming();
    }
    ComputeMatrices(reference);
  }
  if (!reference) {
    ComputeMatrices(true);
    if (!SameMatrices()) state.SkipWithError("the matrices differ from the reference's");
  }
  ForgetMatrices(true);
  ForgetMatrices(false);
  state.SetLabel(std::string(exponential ? "exponential" : "constant") +
                 (first ? ", first call" : ", later calls"));
}

// Each case beside its reference, one after the other.
const bool gMatrixBenchmarks = [] {
  for (int patches : {2000, 10000})
    for (int exponential : {0, 1})
      for (int first : {1, 0})
        for (bool reference : {true, false})
          benchmark::RegisterBenchmark(
              reference ? "BM_Reference_LandscapeMatrices" : "BM_LandscapeMatrices",
              [reference](benchmark::State& state) { RunMatrices(state, reference); })
              ->Args({patches, exponential, first})
              ->Unit(benchmark::kMillisecond)
              ->Iterations(3);
  return true;
}();

}  // namespace
