#include "models/MetapopCommon.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <type_traits>
#include <unordered_map>

#include "Utile/AsymMatrixOps.h"
#include "Utile/Idrisi.h"
#include "Utile/MatrixOps.h"
#include "Utile/Platform.h"
#include "Utile/RandomFunctions.h"
#include "Utile/RunTime.h"
#include "Utile/StatOps.h"
#include "Utile/VectorOps.h"

namespace models {

using utile::tMatrixOfDouble;
using utile::tVectorOfDouble;

// ------------------------------------------------------------------ the landscape

tArrayOfCircles Patches;
tArrayOfCircles AggregatedPatches;
tAggregateComposition AggregateComposition;

tMatrixOfDouble DistanceMat;
tMatrixOfDouble FrictionMap;
utile::tMatrixOfBoolean ConnectanceMat;
bool DistanceMatFixed = false;

tMatrixOfDouble Map;
Integer MapWidth = 0;
Integer MapHeight = 0;
Byte PermeabilityType = ptConstant;
Double ConstantPermeability = 0;
Double MeanPermeabilityDistance = 0;

std::unique_ptr<utile::tDelaunay> DelaunayMesh;

Integer RunNumber = 0;
std::string MaskFileName;

tVectorOfDouble EquilibriumOccupancy;
tVectorOfDouble PatchValues;
tVectorOfDouble PatchValuesPerArea;
tVectorOfDouble ContributionEigenvector;
tVectorOfDouble PatchSizeContributions;
tVectorOfDouble PatchSizeSensitivities;
Double LandscapeCapacity = 0;
Double MetapopulationSize = 0;
tMatrixOfDouble ResultMap;
tMatrixOfDouble ContributionMap;

tMatrixOfDouble HanskiMat;
tMatrixOfDouble HanskiEigenvectors;
tVectorOfDouble HanskiEigenvalue;
bool HanskiConverged = true;

namespace {

// A copy of a raster in square tiles of 4 x 4 cells: a path in any direction
// finds its next cells in memory it has just read, where rows of the matrix
// would put every step along x in another row.
class tTiledRaster {
 public:
  void Assign(const tMatrixOfDouble& m) {
    fRowLength.resize(m.size());
    size_t cols = 0;
    for (size_t x = 0; x < m.size(); ++x) cols = std::max(cols, fRowLength[x] = m[x].size());
    fRows = m.size();
    fCols = m.empty() ? 0 : m[0].size();
    fTilesY = (cols + Side - 1) / Side;
    fCells.assign(((fRows + Side - 1) / Side) * fTilesY * Side * Side, 0.0);
    for (size_t x = 0; x < m.size(); ++x)
      for (size_t y = 0; y < m[x].size(); ++y) fCells[Index(x, y)] = m[x][y];
  }
  void Clear() { Assign({}); }

  bool Empty() const { return fRows == 0; }
  // The dimensions that locate a sample: the row count, and the length of row 0.
  double Rows() const { return static_cast<double>(fRows); }
  double Cols() const { return static_cast<double>(fCols); }
  // Cell [x][y], or nullptr beyond the end of row x.
  const Double* At(size_t x, size_t y) const { return y < fRowLength[x] ? &fCells[Index(x, y)] : nullptr; }

 private:
  static constexpr size_t Side = 4;
  size_t Index(size_t x, size_t y) const {
    return ((x / Side) * fTilesY + y / Side) * (Side * Side) + (x % Side) * Side + y % Side;
  }

  size_t fRows = 0, fCols = 0, fTilesY = 0;
  std::vector<Double> fCells;
  std::vector<size_t> fRowLength;
};

// The raster as a matrix of rows, read in place.
class tRowRaster {
 public:
  explicit tRowRaster(const tMatrixOfDouble& m) : fMatrix(m) {}
  bool Empty() const { return fMatrix.empty(); }
  double Rows() const { return static_cast<double>(fMatrix.size()); }
  double Cols() const { return fMatrix.empty() ? 0.0 : static_cast<double>(fMatrix[0].size()); }
  const Double* At(size_t x, size_t y) const { return y < fMatrix[x].size() ? &fMatrix[x][y] : nullptr; }

 private:
  const tMatrixOfDouble& fMatrix;
};

tMatrixOfDouble LnMap;
tTiledRaster TiledLnMap;

}  // namespace

void ResetLandscape() {
  Patches.clear();
  AggregatedPatches.clear();
  AggregateComposition.clear();
  DistanceMat.clear();
  FrictionMap.clear();
  ConnectanceMat.clear();
  DistanceMatFixed = false;
  DelaunayMesh.reset();
  Map.clear();
  LnMap.clear();
  TiledLnMap.Clear();
  MapWidth = 0;
  MapHeight = 0;
  PermeabilityType = ptConstant;
  ConstantPermeability = 0;
  MeanPermeabilityDistance = 0;
  RunNumber = 0;
  MaskFileName.clear();
  EquilibriumOccupancy.clear();
  PatchValues.clear();
  PatchValuesPerArea.clear();
  ContributionEigenvector.clear();
  PatchSizeContributions.clear();
  PatchSizeSensitivities.clear();
  LandscapeCapacity = 0;
  MetapopulationSize = 0;
  ResultMap.clear();
  ContributionMap.clear();
  HanskiMat.clear();
  HanskiEigenvectors.clear();
  HanskiEigenvalue.clear();
  HanskiConverged = true;
}

// ------------------------------------------------------------------ distances and permeability

Integer PatchCount() {
  return static_cast<Integer>(Patches.size());
}

namespace {
Double Distance(const tCircle& a, const tCircle& b) {
  const Double dx = a.x - b.x;
  const Double dy = a.y - b.y;
  return std::sqrt(dx * dx + dy * dy);
}

const tCircle& PatchAt(Integer i) {
  utile::Assert(i >= 0 && static_cast<size_t>(i) < Patches.size(), "Patch index out of range");
  return Patches[static_cast<size_t>(i)];
}

// DistanceMat must describe the n patches. A matrix loaded with the landscape
// file stops fitting when a patch is added or removed afterwards.
void CheckDistancesFit(size_t n) {
  if (utile::MatHasShape(DistanceMat, n, n)) return;
  if (DistanceMatFixed)
    throw utile::EInvalidOperation(utile::Format(
        "The distance matrix read from the landscape file does not fit the %d patches of the landscape.",
        static_cast<Integer>(n)));
  utile::Assert(false, "The distance matrix does not fit the patches");
}
}  // namespace

Double DistanceEuclidian(Integer i, Integer j) {
  return Distance(PatchAt(i), PatchAt(j));
}

namespace {

// Makes m square, n x n, keeping the rows' storage when the size does not change
// (the values are left to the caller). The pages of new rows are made present in
// one request per row rather than one fault per page.
template <class T>
void SizeSquare(std::vector<std::vector<T>>& m, size_t n) {
  m.resize(n);
  for (std::vector<T>& row : m) {
    if (row.size() == n) continue;
    if (row.capacity() < n) {
      std::vector<T> fresh;
      fresh.reserve(n);
      if constexpr (!std::is_same_v<T, bool>) utile::PrepareForWriting(fresh.data(), n * sizeof(T));
      row.swap(fresh);
    }
    row.resize(n);
  }
}

// The square is filled in tiles of this side, so that the writes mirrored into
// the upper half stay within a few dozen cache lines.
constexpr size_t TileSide = 32;

// m[i][j] := m[j][i] := the value of the pair (i, j), j <= i, each pair computed
// once: segment(i, j0, j1, out) writes the values of (i, j0) .. (i, j1 - 1) to
// out, the part of row i it is given; the mirror is then copied tile by tile.
template <class tSegment>
void FillSymmetric(utile::tMatrixOfDouble& m, size_t n, tSegment segment) {
  Double* rows[TileSide];  // the rows of the tile's columns, for the mirror
  for (size_t i0 = 0; i0 < n; i0 += TileSide) {
    const size_t i1 = std::min(n, i0 + TileSide);
    for (size_t j0 = 0; j0 <= i0; j0 += TileSide) {
      const size_t j1 = std::min(i1, j0 + TileSide);
      for (size_t j = j0; j < j1; ++j) rows[j - j0] = m[j].data();
      for (size_t i = i0; i < i1; ++i) {
        Double* row = m[i].data();
        const size_t last = std::min(j1, i + 1);
        segment(i, j0, last, row + j0);
        for (size_t j = j0; j < last; ++j) rows[j - j0][i] = row[j];
      }
    }
  }
}

// The patch positions one coordinate after the other, for the distance loops.
struct tPositions {
  std::vector<Double> x, y;
};

tPositions Positions(const tArrayOfCircles& patches) {
  tPositions p;
  p.x.reserve(patches.size());
  p.y.reserve(patches.size());
  for (const tCircle& c : patches) {
    p.x.push_back(c.x);
    p.y.push_back(c.y);
  }
  return p;
}

}  // namespace

void ComputeDistanceMatrix() {
  const size_t n = Patches.size();
  if (DistanceMatFixed) {
    CheckDistancesFit(n);
  } else {
    SizeSquare(DistanceMat, n);
    const tPositions p = Positions(Patches);
    FillSymmetric(DistanceMat, n, [&p](size_t i, size_t j0, size_t j1, Double* out) {
      // As Distance(Patches[i], Patches[j]) computes it.
      const Double xi = p.x[i], yi = p.y[i];
      for (size_t j = j0; j < j1; ++j) {
        const Double dx = xi - p.x[j];
        const Double dy = yi - p.y[j];
        out[j - j0] = std::sqrt(dx * dx + dy * dy);
      }
    });
  }
  ComputePermeabilityMatrix();
}

Double PermeabilityConstant(Integer, Integer, Double value) {
  return value;
}

Double PermeabilityExponential(Integer i, Integer j, Double alpha) {
  return std::exp(-alpha * DistanceMat[static_cast<size_t>(i)][static_cast<size_t>(j)]);
}

void ComputePermeabilityMatrix() {
  const size_t n = Patches.size();
  // The rule is chosen once for the whole matrix; each pair's value is the one
  // its permeability function gives.
  switch (PermeabilityType) {
    case ptConstant: {
      const Double value = std::clamp(ConstantPermeability, 0.0, 1.0);
      SizeSquare(FrictionMap, n);
      for (tVectorOfDouble& row : FrictionMap) std::fill(row.begin(), row.end(), value);
      break;
    }
    case ptExponential: {
      const Double alpha = MeanPermeabilityDistance > 0 ? 1.0 / MeanPermeabilityDistance : 0.0;
      CheckDistancesFit(n);
      SizeSquare(FrictionMap, n);
      FillSymmetric(FrictionMap, n, [alpha](size_t i, size_t j0, size_t j1, Double* out) {
        // As PermeabilityExponential(i, j, alpha) computes it.
        const Double* d = DistanceMat[i].data();
        for (size_t j = j0; j < j1; ++j) out[j - j0] = std::exp(-alpha * d[j]);
      });
      break;
    }
    case ptStraightLine:
      ComputeLnMap();
      SizeSquare(FrictionMap, n);
      FillSymmetric(FrictionMap, n, [](size_t i, size_t j0, size_t j1, Double* out) {
        for (size_t j = j0; j < j1; ++j)
          out[j - j0] = PermeabilityStraightLine(static_cast<Integer>(i), static_cast<Integer>(j), 0);
      });
      break;
    default:
      throw utile::EInvalidArgument("This Permeability type is not yet implemented");
  }
}

void ComputeLnMap() {
  LnMap.resize(Map.size());
  for (size_t i = 0; i < Map.size(); ++i) {
    LnMap[i].resize(Map[i].size());
    for (size_t j = 0; j < Map[i].size(); ++j) {
      const Double v = Map[i][j];
      // A cell above 1 would make a path more than certain: it counts as 1.
      LnMap[i][j] = v <= 0 ? BlockedCellLog : std::min(std::log(v), 0.0);
    }
  }
  TiledLnMap.Assign(LnMap);
}

const tMatrixOfDouble& LnMapView() {
  return LnMap;
}

namespace {

// The samples k = 1..K of the segment from patch i towards patch j, StepsPerUnit
// per landscape unit, and the raster cell each one falls in. A sample's cell is
// found from its position as trunc(dimension x position / extent) on each axis;
// the cells met form runs of consecutive samples, which are walked run by run so
// that a long segment costs a few steps per cell crossed rather than one per
// sample, and every sample still lands in the cell of its own arithmetic.
template <class tRaster>
class tSegmentWalk {
 public:
  tSegmentWalk(const tCircle& from, const tCircle& to, Double stepsPerUnit, const tRaster& raster)
      : fRaster(raster) {
    fX.Origin = from.x;
    fY.Origin = from.y;
    const Double d = Distance(from, to);
    fLength = d;
    if (d == 0) return;
    fSamples = utile::Round(stepsPerUnit * d);
    fX.Step = (to.x - from.x) / d / stepsPerUnit;
    fY.Step = (to.y - from.y) / d / stepsPerUnit;
    // Each axis is scaled by its own dimension: the first index runs along x.
    fX.Dimension = raster.Rows();
    fY.Dimension = raster.Cols();
    if (!raster.Empty() && fSamples > 0) {
      if (MapWidth == 0 || MapHeight == 0) utile::RaiseZeroDivide();
      fX.Extent = MapWidth;
      fY.Extent = MapHeight;
    }
    for (tAxis* axis : {&fX, &fY}) {
      axis->CellSize = axis->Extent / axis->Dimension;
      axis->InverseStep = axis->Step != 0 ? 1 / axis->Step : 0;
    }
  }

  Double Length() const { return fLength; }
  int64_t Samples() const { return fSamples; }

  // Calls visit(first, last, cell) for each run of samples first..last that falls
  // in one cell of the raster (cell points to it), and visit(first, last, nullptr)
  // for a run outside the raster. Stops early when visit returns false.
  template <class tVisit>
  void Walk(tVisit visit) const {
    if (fSamples <= 0) return;
    if (fRaster.Empty()) {
      visit(int64_t{1}, fSamples, static_cast<const Double*>(nullptr));
      return;
    }
    int64_t k = 1;
    tCell cell = CellOf(k);
    while (k <= fSamples) {
      tCell next;
      const int64_t last = LastOfRun(k, cell, next);
      if (!visit(k, last, CellAt(cell))) return;
      k = last + 1;
      cell = next;
    }
  }

 private:
  struct tAxis {
    Double Origin = 0, Step = 0, Dimension = 0, Extent = 1;
    Double CellSize = 1, InverseStep = 0;  // for the first guess only

    double Cell(int64_t k) const {
      return std::trunc(Dimension * (Origin + static_cast<double>(k) * Step) / Extent);
    }

    // Estimated last sample, from k on, before the position leaves cell c; trunc
    // maps (c, c + 1) to c above 0, (c - 1, c) below and (-1, 1) to 0.
    int64_t Exit(int64_t k, double c, int64_t samples) const {
      if (Step == 0) return samples;
      const double bound = Step > 0 ? (c >= 0 ? c + 1 : c) : (c > 0 ? c : c - 1);
      const double kExit = (bound * CellSize - Origin) * InverseStep;
      if (!(kExit < static_cast<double>(samples))) return samples;
      if (!(kExit > static_cast<double>(k))) return k;
      return static_cast<int64_t>(std::ceil(kExit)) - 1;
    }
  };
  struct tCell {
    double x = 0, y = 0;
    bool operator==(const tCell&) const = default;
  };

  tCell CellOf(int64_t k) const { return {fX.Cell(k), fY.Cell(k)}; }

  const Double* CellAt(const tCell& c) const {
    if (!(c.x >= 0 && c.x <= fX.Dimension - 1 && c.y >= 0)) return nullptr;
    return fRaster.At(static_cast<size_t>(c.x), static_cast<size_t>(c.y));
  }

  // The last sample of the run that sample k opens, and the cell of the sample
  // after it. Along each axis the cell index changes monotonically with k, so
  // the run is an interval: a first guess from where the segment leaves the
  // cell, settled by a galloping search on the samples' own cells.
  int64_t LastOfRun(int64_t k, const tCell& cell, tCell& next) const {
    const int64_t guess =
        std::clamp(std::min(fX.Exit(k, cell.x, fSamples), fY.Exit(k, cell.y, fSamples)), k, fSamples);
    int64_t inside, outside;
    tCell atOutside = CellOf(guess);
    if (atOutside == cell) {
      // Up from the guess to the first sample outside.
      inside = guess;
      int64_t step = 1;
      for (;;) {
        outside = inside + step;
        if (outside > fSamples) {
          outside = fSamples + 1;
          break;
        }
        atOutside = CellOf(outside);
        if (!(atOutside == cell)) break;
        inside = outside;
        step *= 2;
      }
    } else {
      // Down from the guess to a sample inside.
      inside = k;
      outside = guess;
      int64_t step = 1;
      while (outside - step > inside) {
        const tCell c = CellOf(outside - step);
        if (c == cell) {
          inside = outside - step;
          break;
        }
        outside -= step;
        atOutside = c;
        step *= 2;
      }
    }
    while (outside - inside > 1) {
      const int64_t mid = inside + (outside - inside) / 2;
      const tCell c = CellOf(mid);
      if (c == cell) {
        inside = mid;
      } else {
        outside = mid;
        atOutside = c;
      }
    }
    next = atOutside;
    return inside;
  }

  const tRaster& fRaster;
  tAxis fX, fY;
  Double fLength = 0;
  int64_t fSamples = 0;
};

constexpr Double StraightLineSteps = 500;

}  // namespace

Double PermeabilityStraightLine(Integer i, Integer j, Double) {
  const tSegmentWalk walk(PatchAt(i), PatchAt(j), StraightLineSteps, TiledLnMap);
  if (walk.Length() == 0) return 0;
  Double sum = 0;
  bool blocked = false;
  walk.Walk([&](int64_t first, int64_t last, const Double* cell) {
    if (cell == nullptr) return true;
    // A blocked cell stops the path at once; summing its sentinel would overflow.
    if (*cell <= BlockedCellLog) {
      blocked = true;
      return false;
    }
    sum += static_cast<Double>(last - first + 1) * (*cell / StraightLineSteps);
    return true;
  });
  return blocked ? 0.0 : std::exp(sum);
}

void HistoStraightLine(Integer i, Integer j, tVectorOfDouble& Values, utile::tVectorOfCardinal& Counts,
                       Cardinal NbSteps) {
  Values.clear();
  Counts.clear();
  const tRowRaster raster(Map);
  const tSegmentWalk walk(PatchAt(i), PatchAt(j), static_cast<Double>(NbSteps), raster);
  if (walk.Length() == 0) return;
  // A sample outside the raster keeps 0.
  tVectorOfDouble samples(static_cast<size_t>(std::max<int64_t>(walk.Samples(), 0)), 0.0);
  walk.Walk([&](int64_t first, int64_t last, const Double* cell) {
    if (cell != nullptr) std::fill(samples.begin() + (first - 1), samples.begin() + last, *cell);
    return true;
  });
  utile::CountOccurrences(samples, Values, Counts, 1e-10);
}

void ComputeDelaunayMesh() {
  if (!DelaunayMesh) DelaunayMesh = std::make_unique<utile::tDelaunay>();
  DelaunayMesh->Clear();
  for (const auto& p : Patches) DelaunayMesh->AddPoint(p.x, p.y);
  DelaunayMesh->Compute();
}

void ComputeConnectanceMatrix(Integer ConnectanceType, Double DistanceThreshold, Integer ConnectancePercent) {
  ComputeDistanceMatrix();
  const size_t n = Patches.size();
  SizeSquare(ConnectanceMat, n);
  for (auto& row : ConnectanceMat) std::fill(row.begin(), row.end(), ConnectanceType == ctFullConnectance);
  switch (ConnectanceType) {
    case ctClosePatches:
      // Few pairs are close: the lower half is read row by row, and only the
      // close pairs are written, both ways.
      for (size_t i = 0; i < n; ++i) {
        const Double* distances = DistanceMat[i].data();
        ConnectanceMat[i][i] = true;
        for (size_t j = 0; j < i; ++j)
          if (distances[j] < DistanceThreshold) ConnectanceMat[i][j] = ConnectanceMat[j][i] = true;
      }
      break;
    case ctDelaunay: {
      ComputeDelaunayMesh();
      utile::tMatrixOfBoolean mesh = DelaunayMesh->Matrix();
      // Fewer than three patches make no triangle: no patch is linked.
      if (mesh.size() == n) ConnectanceMat = std::move(mesh);
      break;
    }
    case ctRandom: {
      for (size_t i = 0; i < n; ++i) ConnectanceMat[i][i] = true;
      const int64_t pairs = (static_cast<int64_t>(n) * static_cast<int64_t>(n) - static_cast<int64_t>(n)) / 2;
      if (pairs == 0) break;
      const int64_t links =
          std::clamp<int64_t>(utile::Round(static_cast<Double>(pairs) * ConnectancePercent / 100), 0, pairs);
      utile::tVectorOfCardinal order = utile::SequentialVector(Cardinal{0}, static_cast<Cardinal>(pairs - 1));
      utile::ShuffleVectorHead(order, static_cast<Integer>(links));
      for (int64_t k = 0; k < links; ++k) {
        Integer row = 0, col = 0;
        utile::IndexToRowColTriangular(order[static_cast<size_t>(k)], row, col);
        ConnectanceMat[static_cast<size_t>(row) + 1][static_cast<size_t>(col)] = true;
        ConnectanceMat[static_cast<size_t>(col)][static_cast<size_t>(row) + 1] = true;
      }
      break;
    }
    default:
      break;
  }
}

// ------------------------------------------------------------------ messages during the analyses

namespace {

// An exponential and a square root cost about as much as this many
// multiplications and additions.
constexpr int64_t KernelTermWork = 16;

// Counts an analysis's work, lets messages through every
// AnalysisWorkBetweenPumps of it and at the start of every stage, and then asks
// whether to go on.
class tWorkMeter {
 public:
  explicit tWorkMeter(const tAnalysisProgress& progress) : fProgress(progress) {}
  tWorkMeter(const tWorkMeter&) = delete;
  tWorkMeter& operator=(const tWorkMeter&) = delete;

  void Stage(tAnalysisStage stage, Integer done = 0, Integer count = 0) {
    if (fProgress.StageStarts) fProgress.StageStarts(stage, done, count);
    Pump();
  }
  void Done(int64_t work) {
    fWork += work;
    if (fWork >= AnalysisWorkBetweenPumps) [[unlikely]]
      Pump();
  }

 private:
  void Pump() {
    fWork = 0;
    utile::ProcessMessages();
    if (fProgress.Stopped && fProgress.Stopped()) throw EAnalysisStopped("The analysis was stopped.");
  }

  const tAnalysisProgress& fProgress;
  int64_t fWork = 0;
};

}  // namespace

// ------------------------------------------------------------------ capacity and patch values

namespace {

// y := M x, or the transpose of M times x, over the first n rows and columns.
void Product(const tMatrixOfDouble& m, const tVectorOfDouble& x, tVectorOfDouble& y, bool transposed) {
  const size_t n = x.size();
  if (!transposed) {
    for (size_t i = 0; i < n; ++i) {
      const Double* row = m[i].data();
      Double sum = 0;
      for (size_t j = 0; j < n; ++j) sum += row[j] * x[j];
      y[i] = sum;
    }
    return;
  }
  std::fill(y.begin(), y.end(), 0.0);
  for (size_t j = 0; j < n; ++j) {
    const Double xj = x[j];
    if (xj == 0) continue;
    const Double* row = m[j].data();
    for (size_t i = 0; i < n; ++i) y[i] += row[i] * xj;
  }
}

// The element of largest magnitude with its sign; the first one on ties.
Double LargestElement(const tVectorOfDouble& v) {
  Double best = 0;
  for (const Double value : v)
    if (std::fabs(value) > std::fabs(best)) best = value;
  return best;
}

// Power iteration on M + shift I from a vector of ones. Returns true when the
// vector and the eigenvalue settled; Lambda is the eigenvalue of M itself.
bool PowerIteration(const tMatrixOfDouble& m, tVectorOfDouble& x, Double& lambda, Integer maxIter,
                    bool transposed, Double shift, Double tolerance, Double& last, Double& previous,
                    tWorkMeter* meter) {
  const size_t n = m.size();
  x.assign(n, 1.0);
  tVectorOfDouble y(n);
  Double estimate = 0;
  lambda = 0;
  for (Integer iteration = 0; iteration <= maxIter; ++iteration) {
    Product(m, x, y, transposed);
    if (meter) meter->Done(static_cast<int64_t>(n * n));
    if (shift != 0)
      for (size_t i = 0; i < n; ++i) y[i] += shift * x[i];
    const Double newEstimate = LargestElement(y);
    if (newEstimate == 0) {
      // M x = 0: x lies in the null space, and a nonnegative matrix that sends
      // a nonnegative vector to 0 has no positive eigenvalue to find.
      lambda = 0;
      return true;
    }
    const Double scale = 1.0 / newEstimate;
    Double change = 0;
    for (size_t i = 0; i < n; ++i) {
      y[i] *= scale;
      change = std::max(change, std::fabs(y[i] - x[i]));
    }
    const Double lambdaChange = std::fabs(estimate - newEstimate);
    x.swap(y);
    estimate = newEstimate;
    previous = last;
    last = newEstimate;
    lambda = newEstimate - shift;
    if (change <= tolerance && lambdaChange <= tolerance * std::fabs(newEstimate)) return true;
  }
  return false;
}

// The per-patch factors of the landscape matrix: (A / T)^exponent.
tVectorOfDouble AreaFactors(const tArrayOfCircles& patches, Double territory, Double exponent) {
  tVectorOfDouble factors(patches.size());
  for (size_t i = 0; i < patches.size(); ++i) factors[i] = ScaledAreaPower(patches[i].A, territory, exponent);
  return factors;
}

tMatrixOfDouble EuclideanDistances(const tArrayOfCircles& patches) {
  const size_t n = patches.size();
  tMatrixOfDouble d(n, tVectorOfDouble(n, 0.0));
  for (size_t i = 0; i < n; ++i)
    for (size_t j = 0; j < i; ++j) d[i][j] = d[j][i] = Distance(patches[i], patches[j]);
  return d;
}

// True when the array describes the landscape itself, so that the landscape's
// distance matrix (possibly read from its file) belongs to it.
bool IsTheLandscape(const tArrayOfCircles& patches) {
  if (&patches == &Patches) return true;
  if (patches.size() != Patches.size()) return false;
  for (size_t i = 0; i < patches.size(); ++i)
    if (patches[i].x != Patches[i].x || patches[i].y != Patches[i].y) return false;
  return true;
}

// The distances between the patches of the array: the landscape's own matrix
// (kept when it came from the landscape file) for the landscape, those between
// the array's own patches for an aggregated or resampled set.
tMatrixOfDouble DistancesOf(const tArrayOfCircles& patches) {
  if (!IsTheLandscape(patches)) return EuclideanDistances(patches);
  ComputeDistanceMatrix();
  return DistanceMat;
}

// M[i][j] = (A_j / T)^ZetaEm exp(-alph d_ij) (A_i / T)^(ZetaIm + ZetaExt), every
// entry computed (the matrix is not symmetric when the exponents differ), and a
// zero diagonal.
tMatrixOfDouble ColonisationMatrix(const tParam& param, const tArrayOfCircles& patches,
                                   const tMatrixOfDouble& distances) {
  const size_t n = patches.size();
  const tVectorOfDouble emigration = AreaFactors(patches, param.Territ, param.ZetaEm);
  const tVectorOfDouble immigration = AreaFactors(patches, param.Territ, param.ZetaIm + param.ZetaExt);
  tMatrixOfDouble m(n, tVectorOfDouble(n, 0.0));
  for (size_t i = 0; i < n; ++i)
    for (size_t j = 0; j < n; ++j)
      if (i != j) m[i][j] = emigration[j] * std::exp(-param.alph * distances[i][j]) * immigration[i];
  return m;
}

bool Perron(const tMatrixOfDouble& M, tVectorOfDouble& x, Double& Lambda, Integer MaxIter, bool Transposed,
            tWorkMeter* meter);

struct tLandscapeEigen {
  tMatrixOfDouble M;
  tVectorOfDouble Right;
  tVectorOfDouble Left;
  Double Lambda = 0;
  bool Converged = true;
};

// The landscape matrix of the patches with the given distances (the colonisation
// matrix) and its right and left dominant eigenvectors.
tLandscapeEigen LandscapeEigensystem(const tParam& param, const tArrayOfCircles& patches,
                                     const tMatrixOfDouble& distances, tWorkMeter* meter) {
  tLandscapeEigen result;
  result.M = ColonisationMatrix(param, patches, distances);
  const bool right = Perron(result.M, result.Right, result.Lambda, 1000, false, meter);
  const bool left = Perron(result.M, result.Left, result.Lambda, 1000, true, meter);
  result.Converged = right && left;
  return result;
}

// Each patch's share of the capacity: the product of its right and left
// eigenvector components, scaled to sum one, times the eigenvalue.
tVectorOfDouble PatchValuesOf(const tVectorOfDouble& right, const tVectorOfDouble& left, Double lambda,
                              size_t count) {
  tVectorOfDouble w(count);
  for (size_t i = 0; i < count; ++i) w[i] = right[i] * left[i];
  utile::VecSumToOne(w);
  for (auto& value : w) value *= lambda;
  return w;
}

// The capacity of the patches into the capacity globals, as
// ComputeMetapopulationCapacity makes it, with its eigenvectors also kept here:
// an analysis that lets messages through reads them from here, where no other
// window's computation can replace them.
tLandscapeEigen Capacity(const tParam& param, const tArrayOfCircles& patches,
                         const tMatrixOfDouble& distances, tWorkMeter* meter) {
  const size_t n = patches.size();
  tLandscapeEigen eigen = LandscapeEigensystem(param, patches, distances, meter);
  HanskiMat = std::move(eigen.M);
  eigen.M.clear();
  HanskiEigenvectors.assign(n, tVectorOfDouble(n, 0.0));
  HanskiEigenvalue.assign(n, 0.0);
  for (size_t i = 0; i < n; ++i) {
    HanskiEigenvectors[i][0] = eigen.Right[i];
    HanskiEigenvectors[i][1] = eigen.Left[i];
  }
  HanskiEigenvalue[0] = eigen.Lambda;
  HanskiConverged = eigen.Converged;
  return eigen;
}

void AssertLastCapacityCovers(size_t count) {
  utile::Assert(!HanskiEigenvalue.empty() && count <= HanskiEigenvectors.size(),
                "The metapopulation capacity of these patches has not been computed");
}

}  // namespace

Double ScaledAreaPower(Double area, Double territory, Double exponent) {
  return utile::CheckFinite(std::pow(utile::FloatDiv(area, territory), exponent));
}

namespace {

bool Perron(const tMatrixOfDouble& M, tVectorOfDouble& x, Double& Lambda, Integer MaxIter, bool Transposed,
            tWorkMeter* meter) {
  const size_t n = M.size();
  utile::Assert(n > 0, "Matrix size must be greater than 0");
  for (const auto& row : M) utile::Assert(row.size() >= n, "Matrix M is not square.");
  // Rounding noise of an n-term product stays below this change per iteration.
  const Double tolerance = std::max(1e-12, 4.0 * static_cast<Double>(n) * DBL_EPSILON);
  Double last = 0, previous = 0;
  if (PowerIteration(M, x, Lambda, MaxIter, Transposed, 0.0, tolerance, last, previous, meter)) return true;
  // A shift near the dominant eigenvalue rho moves the eigenvalues of the same
  // modulus (-rho for a periodic matrix) far inside the dominant one. Two
  // successive estimates of an oscillating iteration multiply to about rho squared.
  Double shift = std::sqrt(std::fabs(last * previous));
  if (!(shift > 0 && std::isfinite(shift))) shift = std::fabs(last);
  if (!(shift > 0 && std::isfinite(shift))) shift = 1;
  return PowerIteration(M, x, Lambda, MaxIter, Transposed, shift, tolerance, last, previous, meter);
}

}  // namespace

bool PerronEigensystem(const tMatrixOfDouble& M, tVectorOfDouble& x, Double& Lambda, Integer MaxIter,
                       bool Transposed) {
  return Perron(M, x, Lambda, MaxIter, Transposed, nullptr);
}

Double ComputeMetapopulationCapacity(const tParam* Param, const tArrayOfCircles& patches) {
  if (patches.size() < 2) return 0;
  utile::Assert(Param != nullptr, "No parameters for the metapopulation capacity");
  return Capacity(*Param, patches, DistancesOf(patches), nullptr).Lambda;
}

tVectorOfDouble ComputeHanskiPatchValue(const tArrayOfCircles& patches) {
  const size_t k = patches.size();
  if (k < 2) return {};
  AssertLastCapacityCovers(k);
  tVectorOfDouble right(k), left(k);
  for (size_t i = 0; i < k; ++i) {
    right[i] = HanskiEigenvectors[i][0];
    left[i] = HanskiEigenvectors[i][1];
  }
  return PatchValuesOf(right, left, HanskiEigenvalue[0], k);
}

tBox BoundingBox(const tArrayOfCircles& patches) {
  tBox box{1.7e308, -1.7e308, 1.7e308, -1.7e308};
  for (const auto& p : patches) {
    if (p.x < box.MinX) box.MinX = p.x;
    if (p.x > box.MaxX) box.MaxX = p.x;
    if (p.y < box.MinY) box.MinY = p.y;
    if (p.y > box.MaxY) box.MaxY = p.y;
  }
  return box;
}

void ComputeMovingWindow(Double Alpha, Double Territory, Double, Integer n, Integer m, Double* Capacity,
                         tVectorOfDouble* Values, tMatrixOfDouble* resultMap) {
  utile::Assert(Capacity != nullptr && Values != nullptr && resultMap != nullptr,
                "The moving window needs somewhere to write its results");
  const size_t count = Patches.size();
  if (count < 2) throw utile::EInvalidOperation("No patch found!");
  if (DistanceMatFixed) CheckDistancesFit(count);
  tBox box = BoundingBox(Patches);
  Double w = box.MaxX - box.MinX;
  Double h = box.MaxY - box.MinY;
  box.MinX -= 0.05 * w;
  box.MaxX += 0.05 * w;
  box.MinY -= 0.05 * h;
  box.MaxY += 0.05 * h;
  w = box.MaxX - box.MinX;
  h = box.MaxY - box.MinY;
  // Patches in a row span no height: the windows then follow the other side.
  Double side = w >= h ? h : w;
  if (side == 0) side = std::max(w, h);
  if (side == 0) throw utile::EInvalidOperation("No patch found!");
  const Double s = utile::FloatDiv(side, n);
  const Double c = utile::FloatDiv(side, m);
  const int64_t rows = utile::Round(h / c);
  const int64_t cols = utile::Round(w / c);
  // A negative cell count cannot size the map.
  if (rows < 0 || cols < 0) throw utile::ERangeError("Range check error");
  tMatrixOfDouble sums(static_cast<size_t>(cols), tVectorOfDouble(static_cast<size_t>(rows), 0.0));
  std::vector<std::vector<Integer>> coverage(static_cast<size_t>(cols),
                                             std::vector<Integer>(static_cast<size_t>(rows), 0));
  tVectorOfDouble values(count, 0.0);
  std::vector<Integer> counts(count, 0);
  Double capacity = 0;
  Integer windows = 0;

  // The classic landscape matrix: emigration and extinction both scale with area.
  tParam param;
  param.Territ = Territory;
  param.alph = Alpha;
  param.ZetaEm = 1;
  param.ZetaIm = 0;
  param.ZetaExt = 1;
  const int64_t rowSteps = 2 * utile::Round(h / s);
  const int64_t colSteps = 2 * utile::Round(w / s);
  for (int64_t a = 0; a < rowSteps; ++a)
    for (int64_t b = 0; b < colSteps; ++b) {
      // Windows are laid from the corner of the widened box in half-side steps.
      const Double offsetY = static_cast<Double>(a) / 2 * s;
      const Double offsetX = static_cast<Double>(b) / 2 * s;
      const Double x0 = box.MinX + offsetX, x1 = box.MinX + offsetX + s;
      const Double y0 = box.MinY + offsetY, y1 = box.MinY + offsetY + s;
      tArrayOfCircles inside;
      std::vector<size_t> index;
      for (size_t p = 0; p < count; ++p) {
        const tCircle& patch = Patches[p];
        if (patch.x >= x0 && patch.x <= x1 && patch.y >= y0 && patch.y <= y1) {
          inside.push_back(patch);
          index.push_back(p);
        }
      }
      Double windowCapacity = 0;
      if (inside.size() >= 2) {
        ++windows;
        tMatrixOfDouble distances = EuclideanDistances(inside);
        if (DistanceMatFixed)
          for (size_t i = 0; i < index.size(); ++i)
            for (size_t j = 0; j < index.size(); ++j) distances[i][j] = DistanceMat[index[i]][index[j]];
        const tLandscapeEigen eigen = LandscapeEigensystem(param, inside, distances, nullptr);
        const tVectorOfDouble windowValues =
            PatchValuesOf(eigen.Right, eigen.Left, eigen.Lambda, inside.size());
        for (size_t i = 0; i < index.size(); ++i) {
          ++counts[index[i]];
          values[index[i]] += windowValues[i];
        }
        windowCapacity = eigen.Lambda;
        capacity += windowCapacity;
      }
      const auto clampRange = [](int64_t v, int64_t size) { return std::clamp<int64_t>(v, 0, size - 1); };
      const int64_t firstRow = clampRange(utile::Round(offsetY / c), rows);
      const int64_t lastRow = clampRange(utile::Round((offsetY + s) / c), rows);
      const int64_t firstCol = clampRange(utile::Round(offsetX / c), cols);
      const int64_t lastCol = clampRange(utile::Round((offsetX + s) / c), cols);
      for (int64_t col = firstCol; col <= lastCol; ++col)
        for (int64_t row = firstRow; row <= lastRow; ++row) {
          sums[static_cast<size_t>(col)][static_cast<size_t>(row)] += windowCapacity;
          ++coverage[static_cast<size_t>(col)][static_cast<size_t>(row)];
        }
    }
  if (windows == 0) throw utile::EInvalidOperation("No patch found!");
  *Capacity = capacity / windows;
  for (size_t p = 0; p < count; ++p) values[p] = counts[p] > 0 ? values[p] / counts[p] : 0.0;
  for (size_t col = 0; col < sums.size(); ++col)
    for (size_t row = 0; row < sums[col].size(); ++row)
      sums[col][row] = coverage[col][row] > 0 ? sums[col][row] / coverage[col][row] : 0.0;
  *Values = std::move(values);
  *resultMap = std::move(sums);
}

// ------------------------------------------------------------------ equilibrium occupancy and size

namespace {

// Checked before anything is integrated: with both rates 0 the scaling towards
// 0.1 never ends, and a negative or infinite rate overshoots after every halving.
void CheckOccupancyRates(const tParam& param) {
  if (!(param.colonisation >= 0) || std::isinf(param.colonisation))
    throw utile::EInvalidArgument("The colonisation rate must be a finite number of 0 or more.");
  if (!(param.extinction >= 0) || std::isinf(param.extinction))
    throw utile::EInvalidArgument("The extinction rate must be a finite number of 0 or more.");
  if (param.colonisation == 0 && param.extinction == 0)
    throw utile::EInvalidArgument("The colonisation and extinction rates cannot both be 0.");
}

void CheckColonisationMatrix(const tMatrixOfDouble& m, size_t n) {
  utile::Assert(utile::MatHasShape(m, n, n), "The colonisation matrix does not fit the patches");
}

// The divisor of each patch's step: (A / T)^ZetaExt, the slower dynamics of
// larger patches.
tVectorOfDouble ExtinctionAreaTerms(const tArrayOfCircles& patches, const tParam& param) {
  tVectorOfDouble terms = AreaFactors(patches, param.Territ, param.ZetaExt);
  for (const Double term : terms)
    if (term == 0) utile::RaiseZeroDivide();
  return terms;
}

tVectorOfDouble ScaledAreas(const tArrayOfCircles& patches, Double territory) {
  tVectorOfDouble a(patches.size());
  for (size_t i = 0; i < patches.size(); ++i) a[i] = utile::FloatDiv(patches[i].A, territory);
  return a;
}

constexpr int EulerStepsPerBlock = 101;
constexpr int64_t StepsCountedPerBlock = 100;
constexpr Double PequChangeLimit = 1e-200;
constexpr int64_t PequStepLimit = 30'000;
constexpr int64_t MinusOnePatchStepLimit = 10'000'000;

// The change over a block below which the occupancies only move by rounding:
// about a few units of the last place of each of n probabilities, squared.
// Stopping only at a change of exactly 0 lets a cycle in the last digits run
// to the step limit.
Double RoundingChange(size_t n) {
  return static_cast<Double>(n) * 1e-30;
}

// The colonisation matrix stored by columns, each padded with zeros to a whole
// number of row groups.
constexpr size_t RowsPerGroup = 8;

size_t PaddedRows(size_t n) {
  return (n + RowsPerGroup - 1) / RowsPerGroup * RowsPerGroup;
}

class tColumns {
 public:
  explicit tColumns(const tMatrixOfDouble& m) : fN(m.size()), fStride(PaddedRows(m.size())) {
    fCells.assign(fN * fStride, 0.0);
    for (size_t i = 0; i < fN; ++i) {
      const Double* row = m[i].data();
      for (size_t j = 0; j < fN; ++j) fCells[j * fStride + i] = row[j];
    }
  }
  size_t Size() const { return fN; }
  size_t Stride() const { return fStride; }
  const Double* Column(size_t j) const { return fCells.data() + j * fStride; }

 private:
  size_t fN, fStride;
  std::vector<Double> fCells;  // [j * stride + i] = M[i][j]
};

// Finds when the occupancies come back, bit for bit, to those at the end of an
// earlier block (Brent's method: the state is kept at every power of two of
// blocks and compared with each block's end after it). From then on the blocks
// repeat with that period, each with the change it had, so that the integration
// only stops at its step limit, where it ends in the state it had at the same
// place of the cycle.
class tCycleWatch {
 public:
  explicit tCycleWatch(size_t n) : fSaved(n) {}
  void Restart() {
    fKept = false;
    fPower = 1;
    fSince = 0;
  }
  // The period of the cycle that P has just closed, or 0.
  int64_t Period(const tVectorOfDouble& p) {
    ++fSince;
    if (fKept && std::memcmp(p.data(), fSaved.data(), p.size() * sizeof(Double)) == 0) return fSince;
    if (fSince == fPower) {
      std::copy(p.begin(), p.end(), fSaved.begin());
      fKept = true;
      fPower *= 2;
      fSince = 0;
    }
    return 0;
  }

 private:
  tVectorOfDouble fSaved;
  bool fKept = false;
  int64_t fPower = 1, fSince = 0;
};

// The occupancy dynamics of a patch set. Each Euler step takes the pressure on
// the patches eight rows at a time, each row's sum in registers and in the order
// of its row (j from 0 up, every j), so that every sum is the one the plain
// loop over j gives, to the last bit.
class tOccupancyDynamics {
 public:
  // The patches of M and AreaTerms but the one at Skip (none when Skip is n).
  tOccupancyDynamics(const tColumns& m, const tVectorOfDouble& areaTerms, size_t skip) {
    const size_t total = m.Size();
    for (size_t i = 0; i < total; ++i)
      if (i != skip) fAreaTerms.push_back(areaTerms[i]);
    fN = fAreaTerms.size();
    fStride = PaddedRows(fN);
    fColumns.assign(fN * fStride, 0.0);
    Double* to = fColumns.data();
    for (size_t j = 0; j < total; ++j) {
      if (j == skip) continue;
      const Double* from = m.Column(j);
      const size_t before = std::min(skip, total);
      std::copy(from, from + before, to);
      if (before < total) std::copy(from + before + 1, from + total, to + before);
      to += fStride;
    }
  }

  // Euler steps from 0.1 in blocks, the rates first scaled up together (their
  // ratio kept) until one of them reaches 0.1; a step that leaves [0, 1] halves
  // both rates and starts again.
  tVectorOfDouble Integrate(Double c, Double e, Double changeLimit, int64_t stepLimit,
                            tWorkMeter& meter) const {
    while (c < 0.1 && e < 0.1) {
      c *= 10;
      e *= 10;
    }
    const size_t n = fN;
    tVectorOfDouble p(n, 0.1), next(n), old(n);
    tCycleWatch cycle(n);
    Double change = 1;
    int64_t steps = 0;
    while (change > changeLimit && steps < stepLimit) {
      std::copy(p.begin(), p.end(), old.begin());
      bool failed = false;
      for (int step = 0; step < EulerStepsPerBlock; ++step) {
        if (!Step(p.data(), next.data(), c, e, meter)) {
          failed = true;
          break;
        }
        p.swap(next);
      }
      change = 0;
      for (size_t i = 0; i < n; ++i) change += (p[i] - old[i]) * (p[i] - old[i]);
      steps += StepsCountedPerBlock;
      if (failed) {
        c /= 2;
        e /= 2;
        std::fill(p.begin(), p.end(), 0.1);
        change = 1;
        steps = 0;
        cycle.Restart();
      } else if (change > changeLimit && steps < stepLimit) {
        // Whole turns of a cycle end where they began.
        if (const int64_t period = cycle.Period(p); period > 0) {
          const int64_t blocksLeft = (stepLimit - steps + StepsCountedPerBlock - 1) / StepsCountedPerBlock;
          steps += blocksLeft / period * period * StepsCountedPerBlock;
        }
      }
    }
    return p;
  }

 private:
  // One Euler step from P into Next; false when an occupancy leaves [0, 1].
  bool Step(const Double* __restrict p, Double* __restrict next, Double c, Double e,
            tWorkMeter& meter) const {
    const size_t n = fN;
    for (size_t first = 0; first < n; first += RowsPerGroup) {
      Double sum[RowsPerGroup];
#pragma GCC unroll 8
      for (size_t r = 0; r < RowsPerGroup; ++r) sum[r] = 0;
      const Double* __restrict column = fColumns.data() + first;
      for (size_t j = 0; j < n; ++j, column += fStride) {
        const Double pj = p[j];
#pragma GCC unroll 8
        for (size_t r = 0; r < RowsPerGroup; ++r) sum[r] += column[r] * pj;
      }
      const size_t rows = std::min(RowsPerGroup, n - first);
      bool inside = true;
      for (size_t r = 0; r < rows; ++r) {
        const size_t i = first + r;
        const Double value = p[i] + ((1 - p[i]) * c * sum[r] - p[i] * e) / fAreaTerms[i];
        inside &= !(value > 1 || value < 0);
        next[i] = value;
      }
      if (!inside) return false;
      meter.Done(static_cast<int64_t>(n * RowsPerGroup));
    }
    return true;
  }

  size_t fN = 0, fStride = 0;
  std::vector<Double> fColumns;  // [j * stride + i] = M[i][j], zeros below row n
  tVectorOfDouble fAreaTerms;
};

// The derivative of the size S = sum of p_i a_i in each scaled area a_k. At the
// equilibrium (1 - p_i) c s_i = e p_i with s = M p, so p_i = s_i / (s_i + delta)
// and a change dM of the matrix moves it by dp = delta J^-1 (dM p), where
// J = diag((delta + s)^2) - delta M. A matrix J that cannot be inverted (no
// colonisation, or patches that neither colonise nor go extinct) leaves every
// sensitivity 0.
tVectorOfDouble SizeSensitivities(const tParam& param, const tMatrixOfDouble& m, const tVectorOfDouble& p,
                                  const tVectorOfDouble& a) {
  const size_t n = p.size();
  tVectorOfDouble result(n, 0.0);
  if (n == 0 || param.colonisation == 0) return result;
  const Double delta = param.extinction / param.colonisation;
  const tVectorOfDouble s = utile::MatXvec(m, p);
  tMatrixOfDouble j(n, tVectorOfDouble(n));
  for (size_t i = 0; i < n; ++i)
    for (size_t k = 0; k < n; ++k) j[i][k] = i == k ? (delta + s[i]) * (delta + s[i]) : -delta * m[i][k];
  tMatrixOfDouble inverse;
  try {
    inverse = utile::InvertMat(j);
  } catch (const utile::EMathError&) {
    return result;
  }
  const Double rowExponent = param.ZetaIm + param.ZetaExt;  // row k of M scales with a_k^rowExponent
  const Double columnExponent = param.ZetaEm;               // column k with a_k^ZetaEm
  tVectorOfDouble shift(n);
  for (size_t k = 0; k < n; ++k) {
    // (dM p)_i: row k and column k of M change; the diagonal stays 0.
    Double rowSum = 0;
    for (size_t l = 0; l < n; ++l)
      if (l != k) rowSum += utile::FloatDiv(rowExponent * m[k][l], a[k]) * p[l];
    for (size_t i = 0; i < n; ++i)
      shift[i] = i == k ? rowSum : utile::FloatDiv(columnExponent * m[i][k], a[k]) * p[k];
    Double sensitivity = p[k];
    for (size_t i = 0; i < n; ++i) {
      Double q = 0;
      for (size_t l = 0; l < n; ++l) q += inverse[i][l] * shift[l];
      sensitivity += a[i] * (delta * q);
    }
    result[k] = sensitivity;
  }
  return result;
}

// A zero map of Cols columns and Rows rows, indexed [column][row].
tMatrixOfDouble ZeroGrid(Integer cols, Integer rows) {
  if (cols < 0 || rows < 0) throw utile::ERangeError("Range check error");
  return tMatrixOfDouble(static_cast<size_t>(cols), tVectorOfDouble(static_cast<size_t>(rows), 0.0));
}

}  // namespace

namespace {

tVectorOfDouble Pequ(const tArrayOfCircles& patches, const tMatrixOfDouble& M, const tParam& Param,
                     tWorkMeter& meter) {
  CheckOccupancyRates(Param);
  CheckColonisationMatrix(M, patches.size());
  const tOccupancyDynamics dynamics(tColumns(M), ExtinctionAreaTerms(patches, Param), patches.size());
  meter.Stage(tAnalysisStage::asEquilibrium);
  return dynamics.Integrate(Param.colonisation, Param.extinction, PequChangeLimit, PequStepLimit, meter);
}

tVectorOfDouble SizesWithoutEachPatch(const tArrayOfCircles& patches, const tMatrixOfDouble& M,
                                      const tParam& Param, tWorkMeter& meter) {
  CheckOccupancyRates(Param);
  const size_t n = patches.size();
  CheckColonisationMatrix(M, n);
  const tVectorOfDouble areaTerms = ExtinctionAreaTerms(patches, Param);
  const tVectorOfDouble a = ScaledAreas(patches, Param.Territ);
  const tColumns columns(M);
  tVectorOfDouble sizes(n, 0.0);
  for (size_t k = 0; k < n; ++k) {
    meter.Stage(tAnalysisStage::asWithoutPatch, static_cast<Integer>(k + 1), static_cast<Integer>(n));
    const tOccupancyDynamics dynamics(columns, areaTerms, k);
    const tVectorOfDouble p = dynamics.Integrate(Param.colonisation, Param.extinction, RoundingChange(n - 1),
                                                 MinusOnePatchStepLimit, meter);
    Double size = 0;
    for (size_t i = 0, r = 0; i < n; ++i)
      if (i != k) size += p[r++] * a[i];
    sizes[k] = size;
  }
  return sizes;
}

}  // namespace

tVectorOfDouble FindPequ(const tArrayOfCircles& patches, const tMatrixOfDouble& M, const tParam& Param,
                         const tAnalysisProgress& Progress) {
  tWorkMeter meter(Progress);
  return Pequ(patches, M, Param, meter);
}

tVectorOfDouble FindMetapopSizeMinusOnePatch(const tArrayOfCircles& patches, const tMatrixOfDouble& M,
                                             const tParam& Param, const tAnalysisProgress& Progress) {
  tWorkMeter meter(Progress);
  return SizesWithoutEachPatch(patches, M, Param, meter);
}

void FindMetapopulationSize(const tParam& Param, const tArrayOfCircles& patches, Double, Double, Double,
                            Double, Integer Rows, Integer Cols, const tAnalysisProgress& Progress) {
  tMatrixOfDouble resultMap = ZeroGrid(Cols, Rows);
  CheckOccupancyRates(Param);
  const size_t n = patches.size();
  const tMatrixOfDouble m = ColonisationMatrix(Param, patches, DistancesOf(patches));
  const tVectorOfDouble a = ScaledAreas(patches, Param.Territ);
  tWorkMeter meter(Progress);
  tVectorOfDouble p = Pequ(patches, m, Param, meter);
  const tVectorOfDouble without = SizesWithoutEachPatch(patches, m, Param, meter);
  Double size = 0;
  for (size_t i = 0; i < n; ++i) size += p[i] * a[i];
  tVectorOfDouble contributions(n, 0.0);
  if (size >= 1e-49)
    for (size_t i = 0; i < n; ++i) contributions[i] = size - without[i];
  utile::VecSumToOne(contributions);
  tVectorOfDouble sensitivities = SizeSensitivities(Param, m, p, a);
  utile::VecSumToOne(sensitivities);

  for (size_t i = 0; i < std::min(n, HanskiMat.size()); ++i)
    if (i < HanskiMat[i].size()) HanskiMat[i][i] = 0;
  EquilibriumOccupancy = std::move(p);
  MetapopulationSize = size;
  PatchSizeContributions = std::move(contributions);
  PatchSizeSensitivities = std::move(sensitivities);
  PatchValuesPerArea.resize(n);
  ResultMap = std::move(resultMap);
}

// ------------------------------------------------------------------ grid maps of a hypothetical patch

namespace {

// The cell centres of a regular grid over the map's extent.
class tGrid {
 public:
  tGrid(Double xMin, Double xMax, Double yMin, Double yMax, Integer cols, Integer rows)
      : fXMin(xMin), fYMin(yMin), fCols(cols), fRows(rows) {
    if (cols < 0 || rows < 0) throw utile::ERangeError("Range check error");
    if (cols > 0) fWidth = (xMax - xMin) / cols;
    if (rows > 0) fHeight = (yMax - yMin) / rows;
  }
  size_t Cols() const { return static_cast<size_t>(fCols); }
  size_t Rows() const { return static_cast<size_t>(fRows); }
  Double X(size_t col) const { return fXMin + (static_cast<Double>(col) + 0.5) * fWidth; }
  Double Y(size_t row) const { return fYMin + (static_cast<Double>(row) + 0.5) * fHeight; }
  tMatrixOfDouble Zero() const { return ZeroGrid(fCols, fRows); }

 private:
  Double fXMin, fYMin, fWidth = 0, fHeight = 0;
  Integer fCols, fRows;
};

// The cells of the grid that a mask opens.
class tGridMask {
 public:
  // Every cell open.
  tGridMask() = default;
  // The cells whose value in the raster MaskFileName is exactly 1; the raster's
  // first row is the top of the map, the grid's row 0 its bottom.
  explicit tGridMask(const tGrid& grid) : fAll(false), fRows(grid.Rows()) {
    const utile::tRaster raster(MaskFileName);
    if (raster.Columns != static_cast<Integer>(grid.Cols()) ||
        raster.Rows != static_cast<Integer>(grid.Rows()))
      throw utile::EInvalidOperation(utile::Format(
          "The mask map %s has %d columns and %d rows; the map to compute has %d columns and %d rows.",
          MaskFileName, raster.Columns, raster.Rows, static_cast<Integer>(grid.Cols()),
          static_cast<Integer>(grid.Rows())));
    const size_t cols = grid.Cols(), rows = grid.Rows();
    fOpen.assign(cols * rows, 0);
    if (cols == 0 || rows == 0) return;
    const utile::tMatrixOfSingle cells = raster.AsMatrixOfSingle();  // [raster row][col]
    for (size_t r = 0; r < rows; ++r)
      for (size_t col = 0; col < cols; ++col) fOpen[col * rows + (rows - 1 - r)] = cells[r][col] == 1;
  }

  bool Open(size_t col, size_t row) const { return fAll || fOpen[col * fRows + row] != 0; }

 private:
  bool fAll = true;
  size_t fRows = 0;
  std::vector<Byte> fOpen;  // [col * rows + row]
};

tGridMask MaskOf(const tParam& param, const tGrid& grid) {
  // The interface draws its grid on the chart's extent, which no raster matches.
  if (param.Mask && !param.MapForInterface) return tGridMask(grid);
  return tGridMask();
}

// Adds to each open cell the capacity a new patch would bring there, as a ratio
// of the patches' capacity and clamped to [0, Top]: HypotheticCapacity over the
// capacity computation Eigen, made for these patches, with the terms of each
// patch that do not depend on the position computed once. With Columns each
// column is a stage of its own.
void AddCapacityRatios(const tGrid& grid, const tGridMask& mask, const tArrayOfCircles& patches,
                       const tParam& param, const tLandscapeEigen& eigen, Double top, tMatrixOfDouble& map,
                       tWorkMeter& meter, bool columns) {
  const size_t n = patches.size();
  utile::Assert(eigen.Right.size() >= n && eigen.Left.size() >= n,
                "The metapopulation capacity of these patches has not been computed");
  const Double capacity = eigen.Lambda;
  const Double t = param.Territ;
  std::vector<Double> x(n), y(n), weight(n);
  for (size_t i = 0; i < n; ++i) {
    const tCircle& patch = patches[i];
    x[i] = patch.x;
    y[i] = patch.y;
    weight[i] = eigen.Left[i] * eigen.Right[i] * ScaledAreaPower(patch.A, t, param.ZetaExt + param.ZetaIm) *
                ScaledAreaPower(patch.A, t, param.ZetaEm);
  }
  const Double newPatch = ScaledAreaPower(param.NewPatchArea, t, param.ZetaIm + param.ZetaEm + param.ZetaExt);
  const Double alpha = param.alph;
  const int64_t cellWork = static_cast<int64_t>(n) * KernelTermWork;
  for (size_t col = 0; col < grid.Cols(); ++col) {
    if (columns)
      meter.Stage(tAnalysisStage::asMap, static_cast<Integer>(col + 1), static_cast<Integer>(grid.Cols()));
    const Double cx = grid.X(col);
    for (size_t row = 0; row < grid.Rows(); ++row) {
      if (!mask.Open(col, row)) continue;
      meter.Done(cellWork);
      const Double cy = grid.Y(row);
      Double sum = 0;
      for (size_t i = 0; i < n; ++i) {
        const Double dx = cx - x[i];
        const Double dy = cy - y[i];
        const Double kernel = std::exp(-alpha * std::sqrt(dx * dx + dy * dy));
        sum += kernel * kernel * weight[i];
      }
      map[col][row] += std::clamp(newPatch * sum / capacity / capacity, 0.0, top);
    }
  }
}

// Scales the patches' values to sum one, leaving the -1 of patches never drawn.
void DrawnSumToOne(tVectorOfDouble& values, const std::vector<Integer>& drawn) {
  Double sum = 0;
  for (size_t i = 0; i < values.size(); ++i)
    if (drawn[i] > 0) sum += values[i];
  if (sum == 0) return;
  for (size_t i = 0; i < values.size(); ++i)
    if (drawn[i] > 0) values[i] /= sum;
}

// hypotheticContribution with the terms of each patch that do not depend on the
// position computed once.
class tContributionKernel {
 public:
  tContributionKernel(const tParam& param, const tArrayOfCircles& patches, const tVectorOfDouble& p,
                      const tVectorOfDouble& w)
      : fAlpha(param.alph) {
    const size_t n = patches.size();
    // One patch has no other to exchange colonists with; without extinction
    // every patch is occupied and a new one adds nothing.
    if (n == 1 || param.extinction == 0) return;
    utile::Assert(p.size() >= n && w.size() >= n, "Occupancies and weights do not fit the patches");
    const Double t = param.Territ;
    for (size_t i = 0; i < n; ++i) {
      const tCircle& patch = patches[i];
      fX.push_back(patch.x);
      fY.push_back(patch.y);
      fEmitted.push_back(ScaledAreaPower(patch.A, t, param.ZetaEm) * p[i]);
      fReceived.push_back(ScaledAreaPower(patch.A, t, param.ZetaIm + param.ZetaExt) * (1 - p[i]) * w[i]);
    }
    // 1 / (e / c)^2, which is 0 without colonisation.
    const Double ratio = param.colonisation / param.extinction;
    fFactor =
        ratio * ratio * ScaledAreaPower(param.NewPatchArea, t, param.ZetaIm + param.ZetaExt + param.ZetaEm);
  }

  Double At(Double x, Double y) const {
    Double s1 = 0, s2 = 0;
    for (size_t i = 0; i < fX.size(); ++i) {
      const Double dx = x - fX[i];
      const Double dy = y - fY[i];
      const Double kernel = std::exp(-fAlpha * std::sqrt(dx * dx + dy * dy));
      s1 += kernel * fEmitted[i];
      s2 += kernel * fReceived[i];
    }
    return fFactor * s1 * s2;
  }

 private:
  Double fAlpha;
  Double fFactor = 0;
  std::vector<Double> fX, fY, fEmitted, fReceived;
};

// HypotheticCapacity with the terms of each patch that do not depend on the
// position computed once, in the order the sum multiplies them.
class tCapacityKernel {
 public:
  tCapacityKernel(Double area, const tParam& param, const tArrayOfCircles& patches) : fAlpha(param.alph) {
    const size_t n = patches.size();
    if (n < 2) return;
    AssertLastCapacityCovers(n);
    const Double t = param.Territ;
    fTerms.reserve(n);
    for (size_t i = 0; i < n; ++i) {
      const tCircle& p = patches[i];
      fTerms.push_back({p.x, p.y, HanskiEigenvectors[i][1], HanskiEigenvectors[i][0],
                        ScaledAreaPower(p.A, t, param.ZetaExt + param.ZetaIm),
                        ScaledAreaPower(p.A, t, param.ZetaEm)});
    }
    fNewPatch = ScaledAreaPower(area, t, param.ZetaIm + param.ZetaEm + param.ZetaExt);
    fLambda = HanskiEigenvalue[0];
  }

  Double At(Double x, Double y) const {
    if (fTerms.empty()) return 0;
    Double sum = 0;
    for (const tTerms& p : fTerms) {
      const Double dx = x - p.X;
      const Double dy = y - p.Y;
      const Double kernel = std::exp(-fAlpha * std::sqrt(dx * dx + dy * dy));
      sum += kernel * kernel * p.Left * p.Right * p.Immigration * p.Emigration;
    }
    return utile::FloatDiv(fNewPatch * sum, fLambda);
  }

 private:
  struct tTerms {
    Double X, Y, Left, Right, Immigration, Emigration;
  };
  Double fAlpha;
  Double fNewPatch = 0;
  Double fLambda = 0;
  std::vector<tTerms> fTerms;
};

}  // namespace

void ComputeTestPosition(const tParam& Param, Double XMin, Double XMax, Double YMin, Double YMax,
                         Integer Cols, Integer Rows, const tArrayOfCircles& landscape,
                         const tAnalysisProgress& Progress) {
  const tGrid grid(XMin, XMax, YMin, YMax, Cols, Rows);
  if (Param.bootstrap && Param.Iteration < 1)
    throw utile::EInvalidArgument("The bootstrap needs at least one iteration.");
  const tGridMask mask = MaskOf(Param, grid);
  // What the windows do while messages pass cannot reach the patches analysed.
  const tArrayOfCircles patches = landscape;
  const size_t n = patches.size();
  const Double exponents = Param.ZetaIm + Param.ZetaExt + Param.ZetaEm;
  tMatrixOfDouble map = grid.Zero();
  tVectorOfDouble values(n, 0.0), perArea(n, 0.0);
  Double capacity = 0;
  tWorkMeter meter(Progress);

  if (!Param.bootstrap) {
    tLandscapeEigen eigen;
    if (n >= 2) {
      const tMatrixOfDouble distances = DistancesOf(landscape);
      meter.Stage(tAnalysisStage::asCapacity);
      eigen = Capacity(Param, patches, distances, &meter);
      capacity = eigen.Lambda;
      values = PatchValuesOf(eigen.Right, eigen.Left, eigen.Lambda, n);
    }
    for (size_t i = 0; i < n; ++i) perArea[i] = utile::FloatDiv(exponents * values[i], patches[i].A);
    utile::VecSumToOne(values);
    utile::VecSumToOne(perArea);
    // Patches without capacity (fewer than two, or none within reach of another)
    // leave the map at 0.
    if (capacity > 0) AddCapacityRatios(grid, mask, patches, Param, eigen, 10, map, meter, true);
  } else {
    const int64_t sampleSize = utile::Round(static_cast<Double>(n) * Param.PerCentBootstrap / 100);
    const Double top = Param.Mask && !Param.MapForInterface ? 1000 : 10;
    tVectorOfDouble valueSums(n, 0.0), perAreaSums(n, 0.0), roundValue(n), roundPerArea(n);
    std::vector<Integer> rounds(n, 0);
    std::vector<bool> drawn(n);
    Double capacitySum = 0;
    std::vector<size_t> sampleIndex;
    tArrayOfCircles sample;
    for (Integer r = 0; r < Param.Iteration; ++r) {
      meter.Stage(tAnalysisStage::asBootstrap, r + 1, Param.Iteration);
      sampleIndex.clear();
      sample.clear();
      for (int64_t k = 0; k < sampleSize; ++k) {
        const size_t index = static_cast<size_t>(utile::Ran(static_cast<Integer>(n)));
        sampleIndex.push_back(index);
        sample.push_back(patches[index]);
      }
      tLandscapeEigen eigen;
      tVectorOfDouble sampleValues(sample.size(), 0.0);
      if (sample.size() >= 2) {
        eigen = Capacity(Param, sample, DistancesOf(sample), &meter);
        sampleValues = PatchValuesOf(eigen.Right, eigen.Left, eigen.Lambda, sample.size());
      }
      const Double roundCapacity = eigen.Lambda;
      capacitySum += roundCapacity;
      // A patch drawn several times keeps the value of its last draw.
      std::fill(drawn.begin(), drawn.end(), false);
      for (size_t k = 0; k < sample.size(); ++k) {
        const size_t i = sampleIndex[k];
        drawn[i] = true;
        roundValue[i] = sampleValues[k];
        roundPerArea[i] = utile::FloatDiv(exponents * sampleValues[k], patches[i].A);
      }
      for (size_t i = 0; i < n; ++i) {
        if (!drawn[i]) continue;
        ++rounds[i];
        // A sample without capacity gives its patches no share.
        if (roundCapacity > 0) {
          valueSums[i] += roundValue[i] / roundCapacity;
          perAreaSums[i] += roundPerArea[i] / roundCapacity;
        }
      }
      if (roundCapacity > 0) AddCapacityRatios(grid, mask, sample, Param, eigen, top, map, meter, false);
    }
    capacity = capacitySum / Param.Iteration;
    for (auto& column : map)
      for (auto& cell : column) cell /= Param.Iteration;
    for (size_t i = 0; i < n; ++i) {
      values[i] = rounds[i] > 0 ? valueSums[i] / rounds[i] : -1;
      perArea[i] = rounds[i] > 0 ? perAreaSums[i] / rounds[i] : -1;
    }
    DrawnSumToOne(values, rounds);
    DrawnSumToOne(perArea, rounds);
  }

  ResultMap = std::move(map);
  LandscapeCapacity = capacity;
  PatchValues = std::move(values);
  PatchValuesPerArea = std::move(perArea);
}

void FindMatB(const tParam& Param, const tArrayOfCircles& landscape, Double XMin, Double XMax, Double YMin,
              Double YMax, Integer Cols, Integer Rows, const tAnalysisProgress& Progress) {
  const tGrid grid(XMin, XMax, YMin, YMax, Cols, Rows);
  CheckOccupancyRates(Param);
  const bool masked = Param.Mask && !Param.MapForInterface;
  const tGridMask mask = MaskOf(Param, grid);
  // What the windows do while messages pass cannot reach the patches analysed.
  const tArrayOfCircles patches = landscape;
  const size_t n = patches.size();
  const tMatrixOfDouble distances = DistancesOf(landscape);
  tWorkMeter meter(Progress);
  tVectorOfDouble p = Pequ(patches, ColonisationMatrix(Param, patches, distances), Param, meter);

  // B[i][j]: the share of patch i's colonisation that comes from patch j. A patch
  // under no colonisation pressure (an extinct equilibrium) has a zero row.
  const tVectorOfDouble emigration = AreaFactors(patches, Param.Territ, Param.ZetaEm);
  const tVectorOfDouble immigration = AreaFactors(patches, Param.Territ, Param.ZetaIm);
  tMatrixOfDouble b(n, tVectorOfDouble(n, 0.0));
  tVectorOfDouble colonisation(n);
  bool anyPressure = false;
  for (size_t i = 0; i < n; ++i) {
    meter.Done(static_cast<int64_t>(n) * KernelTermWork);
    Double pressure = 0;
    for (size_t j = 0; j < n; ++j) {
      colonisation[j] = i == j ? 0.0
                               : Param.colonisation * immigration[i] * emigration[j] *
                                     std::exp(-Param.alph * distances[i][j]);
      pressure += colonisation[j] * p[j];
    }
    if (!(pressure > 0)) continue;
    anyPressure = true;
    for (size_t j = 0; j < n; ++j) b[i][j] = colonisation[j] * p[j] / pressure;
  }
  tMatrixOfDouble contribution = utile::TransposeMat(b);

  // The stationary weights of B; without any colonisation there are none.
  tVectorOfDouble eigenvector(n, 0.0);
  if (anyPressure) {
    Double lambda = 0;
    utile::ComputeRightEigenKw(contribution, lambda, eigenvector);
    utile::VecSumToOne(eigenvector);
  }
  // A patch without occupancy, or with one so small that the quotient
  // overflows, has no weight.
  tVectorOfDouble w(n, 0.0);
  for (size_t i = 0; i < n; ++i) {
    const Double weight = p[i] > 0 ? eigenvector[i] / p[i] : 0.0;
    w[i] = std::isfinite(weight) ? weight : 0.0;
  }

  tMatrixOfDouble map = grid.Zero();
  const tContributionKernel kernel(Param, patches, p, w);
  const int64_t cellWork = static_cast<int64_t>(n) * KernelTermWork;
  for (size_t col = 0; col < grid.Cols(); ++col) {
    meter.Stage(tAnalysisStage::asMap, static_cast<Integer>(col + 1), static_cast<Integer>(grid.Cols()));
    for (size_t row = 0; row < grid.Rows(); ++row)
      if (mask.Open(col, row)) {
        meter.Done(cellWork);
        map[col][row] = kernel.At(grid.X(col), grid.Y(row));
      }
  }
  if (masked) {
    // An all-zero map stays 0.
    const Double largest = utile::MaxCoefficient(map);
    if (largest > 0)
      for (auto& column : map)
        for (auto& cell : column) cell /= largest;
  }

  EquilibriumOccupancy = std::move(p);
  ContributionMap = std::move(contribution);
  ContributionEigenvector = std::move(eigenvector);
  ResultMap = std::move(map);
}

Double HypotheticCapacity(Double x, Double y, Double area, const tParam& Param,
                          const tArrayOfCircles& patches) {
  return tCapacityKernel(area, Param, patches).At(x, y);
}

std::function<Double(Double, Double)> HypotheticCapacityAt(Double area, const tParam& Param,
                                                          const tArrayOfCircles& patches) {
  return [kernel = tCapacityKernel(area, Param, patches)](Double x, Double y) { return kernel.At(x, y); };
}

Double hypotheticContribution(Double x, Double y, const tParam& Param, const tArrayOfCircles& patches,
                              const tVectorOfDouble& p, const tVectorOfDouble& w) {
  return tContributionKernel(Param, patches, p, w).At(x, y);
}

// ------------------------------------------------------------------ results of aggregated patches

tVectorOfDouble SpreadAggregateValues(const tVectorOfDouble& AggregateValues,
                                      const tAggregateComposition& Composition,
                                      const tArrayOfCircles& patches, bool Shares) {
  // The patches are found by their popID, whatever their numbers: a landscape
  // read from a file need not count them 1..n in patch order.
  std::unordered_map<Integer, size_t> byID;
  for (size_t i = 0; i < patches.size(); ++i) byID.try_emplace(patches[i].popID, i);
  tVectorOfDouble values(patches.size(), 0.0);
  const size_t aggregates = std::min(AggregateValues.size(), Composition.size());
  for (size_t k = 0; k < aggregates; ++k) {
    const Double value = AggregateValues[k];
    for (const tContrib& part : Composition[k]) {
      const auto found = byID.find(part.ID);
      if (found == byID.end()) continue;
      values[found->second] = Shares && value != -1 ? value * part.contrib : value;
    }
  }
  return values;
}

}  // namespace models
