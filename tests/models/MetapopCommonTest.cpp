#include <gtest/gtest.h>

#include <Eigen/Dense>
#include <Eigen/Eigenvalues>
#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <numeric>
#include <random>

#include "TestSupport/ExceptionMessages.h"
#include "TestSupport/ReferenceGenerator.h"
#include "TestSupport/SeededLandscapes.h"
#include "TestSupport/StatisticalChecks.h"
#include "Utile/Idrisi.h"
#include "Utile/MatrixOps.h"
#include "Utile/RandomFunctions.h"
#include "Utile/RunTime.h"
#include "models/MetapopCommon.h"

using namespace models;
using utile::tMatrixOfDouble;
using utile::tVectorOfDouble;

namespace {

class Landscape : public ::testing::Test {
 protected:
  void SetUp() override { ResetLandscape(); }
  void TearDown() override { ResetLandscape(); }

  static tCircle Patch(Double x, Double y, Double area = 1) {
    tCircle c;
    c.x = x;
    c.y = y;
    c.A = area;
    return c;
  }
};

// A 3-4-5 right triangle: distances 3 (0-1), 4 (0-2) and 5 (1-2).
tArrayOfCircles Triangle() {
  tArrayOfCircles p(3);
  p[0].x = 0, p[0].y = 0;
  p[1].x = 3, p[1].y = 0;
  p[2].x = 0, p[2].y = 4;
  return p;
}

void ExpectMatrixNear(const tMatrixOfDouble& expected, const tMatrixOfDouble& actual, double tolerance) {
  ASSERT_EQ(expected.size(), actual.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    ASSERT_EQ(expected[i].size(), actual[i].size()) << "row " << i;
    for (size_t j = 0; j < expected[i].size(); ++j)
      EXPECT_NEAR(expected[i][j], actual[i][j], tolerance) << "cell " << i << ", " << j;
  }
}

// ------------------------------------------------------------------ distances and permeability rules

TEST_F(Landscape, DistancesOfATriangleAreSymmetricWithAZeroDiagonal) {
  Patches = Triangle();
  ComputeDistanceMatrix();
  ExpectMatrixNear({{0, 3, 4}, {3, 0, 5}, {4, 5, 0}}, DistanceMat, 1e-15);
  EXPECT_EQ(3, PatchCount());
  EXPECT_DOUBLE_EQ(5, DistanceEuclidian(1, 2));
}

TEST_F(Landscape, PermeabilityRulesOnATriangle) {
  const double e15 = std::exp(-1.5), e2 = std::exp(-2.0), e25 = std::exp(-2.5);
  struct tCase {
    Byte Type;
    Double Constant;
    Double MeanDistance;
    tMatrixOfDouble Expected;
  };
  const tCase cases[] = {
      {ptConstant, 0.7, 0, {{0.7, 0.7, 0.7}, {0.7, 0.7, 0.7}, {0.7, 0.7, 0.7}}},
      {ptConstant, 1.5, 0, {{1, 1, 1}, {1, 1, 1}, {1, 1, 1}}},
      {ptConstant, -0.2, 0, {{0, 0, 0}, {0, 0, 0}, {0, 0, 0}}},
      {ptExponential, 0, 2, {{1, e15, e2}, {e15, 1, e25}, {e2, e25, 1}}},
      {ptExponential, 0, 0, {{1, 1, 1}, {1, 1, 1}, {1, 1, 1}}},
      {ptExponential, 0, -3, {{1, 1, 1}, {1, 1, 1}, {1, 1, 1}}},
      // No raster: every sample lies outside it, except on the diagonal.
      {ptStraightLine, 0, 0, {{0, 1, 1}, {1, 0, 1}, {1, 1, 0}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message()
                 << "type " << int(c.Type) << " constant " << c.Constant << " mean " << c.MeanDistance);
    ResetLandscape();
    Patches = Triangle();
    PermeabilityType = c.Type;
    ConstantPermeability = c.Constant;
    MeanPermeabilityDistance = c.MeanDistance;
    ComputeDistanceMatrix();
    ExpectMatrixNear(c.Expected, FrictionMap, 1e-15);
  }
}

TEST_F(Landscape, UnknownPermeabilityTypeRaisesAndFillsNothing) {
  Patches = Triangle();
  PermeabilityType = 3;
  try {
    ComputeDistanceMatrix();
    FAIL() << "no error";
  } catch (const utile::EInvalidArgument& e) {
    EXPECT_STREQ("This Permeability type is not yet implemented", e.what());
  }
  EXPECT_TRUE(FrictionMap.empty());
}

TEST_F(Landscape, ZeroPatchesGiveEmptyMatricesUnderEveryRule) {
  for (const Byte type : {ptConstant, ptExponential, ptStraightLine}) {
    PermeabilityType = type;
    Map = {{0.5, 0.5}, {0.5, 0.5}};
    MapWidth = MapHeight = 2;
    EXPECT_NO_THROW(ComputeDistanceMatrix());
    EXPECT_TRUE(DistanceMat.empty());
    EXPECT_TRUE(FrictionMap.empty());
  }
}

TEST_F(Landscape, TwoPatchesAtOnePosition) {
  Patches = {Patch(5, 5), Patch(5, 5)};
  Map = {{0.5, 0.5}, {0.5, 0.5}};
  MapWidth = MapHeight = 10;
  struct tCase {
    Byte Type;
    Double Expected;
  };
  for (const tCase c : {tCase{ptExponential, 1.0}, tCase{ptStraightLine, 0.0}}) {
    PermeabilityType = c.Type;
    MeanPermeabilityDistance = 10;
    ComputeDistanceMatrix();
    EXPECT_EQ(0, DistanceMat[0][1]);
    EXPECT_EQ(c.Expected, FrictionMap[0][1]) << "type " << int(c.Type);
  }
}

TEST_F(Landscape, FixedDistancesAreKeptButPermeabilityFollowsThem) {
  Patches = Triangle();
  DistanceMat = {{0, 10, 20}, {10, 0, 30}, {20, 30, 0}};
  DistanceMatFixed = true;
  PermeabilityType = ptExponential;
  MeanPermeabilityDistance = 10;
  Patches[1].x = 100;  // moving a patch changes nothing of the loaded distances
  ComputeDistanceMatrix();
  ExpectMatrixNear({{0, 10, 20}, {10, 0, 30}, {20, 30, 0}}, DistanceMat, 0);
  EXPECT_NEAR(std::exp(-3.0), FrictionMap[1][2], 1e-15);
  EXPECT_NEAR(std::exp(-1.0), FrictionMap[0][1], 1e-15);
}

// Larger landscapes are filled tile by tile: every cell, on either side of a
// tile's edge, must be exactly the value of its pair, the upper half the mirror
// of the lower, whatever the rule.
TEST_F(Landscape, EveryCellOfLargerMatricesIsItsPairsValueExactly) {
  Map.assign(40, tVectorOfDouble(40));
  for (size_t x = 0; x < 40; ++x)
    for (size_t y = 0; y < 40; ++y) Map[x][y] = 0.5 + 0.5 * ((x * 7 + y * 3) % 11) / 10.0;
  MapWidth = MapHeight = 40;
  for (const size_t n : {size_t{1}, size_t{31}, size_t{32}, size_t{33}, size_t{70}}) {
    for (const Byte type : {ptConstant, ptExponential, ptStraightLine}) {
      SCOPED_TRACE(::testing::Message() << n << " patches, type " << int(type));
      std::mt19937 rng(static_cast<unsigned>(n));
      std::uniform_real_distribution<double> position(0, 40);
      Patches.clear();
      for (size_t i = 0; i < n; ++i) Patches.push_back(Patch(position(rng), position(rng)));
      PermeabilityType = type;
      ConstantPermeability = 0.6;
      MeanPermeabilityDistance = 7;
      const Double threshold = 9;
      ComputeConnectanceMatrix(ctClosePatches, threshold, 0);
      ASSERT_EQ(DistanceMat.size(), n);
      ASSERT_EQ(FrictionMap.size(), n);
      ASSERT_EQ(ConnectanceMat.size(), n);
      for (size_t i = 0; i < n; ++i) {
        ASSERT_EQ(DistanceMat[i].size(), n);
        ASSERT_EQ(FrictionMap[i].size(), n);
        ASSERT_EQ(ConnectanceMat[i].size(), n);
        for (size_t j = 0; j <= i; ++j) {
          const Double dx = Patches[i].x - Patches[j].x, dy = Patches[i].y - Patches[j].y;
          const Double d = std::sqrt(dx * dx + dy * dy);
          const Double p = type == ptConstant      ? 0.6
                           : type == ptExponential ? std::exp(-(1.0 / 7) * d)
                                                   : PermeabilityStraightLine(Integer(i), Integer(j), 0);
          const bool linked = i == j || d < threshold;
          ASSERT_EQ(DistanceMat[i][j], d) << i << ", " << j;
          ASSERT_EQ(DistanceMat[j][i], d) << j << ", " << i;
          ASSERT_EQ(FrictionMap[i][j], p) << i << ", " << j;
          ASSERT_EQ(FrictionMap[j][i], p) << j << ", " << i;
          ASSERT_EQ(ConnectanceMat[i][j], linked) << i << ", " << j;
          ASSERT_EQ(ConnectanceMat[j][i], linked) << j << ", " << i;
        }
      }
    }
  }
}

// Distances read from a landscape file need not be symmetric: the permeability
// and the links of a pair come from its lower cell, and are mirrored.
TEST_F(Landscape, FixedDistancesGiveEachPairTheValueOfItsLowerCell) {
  const size_t n = 45;
  for (size_t i = 0; i < n; ++i) Patches.push_back(Patch(Double(i), 0));
  DistanceMat.assign(n, tVectorOfDouble(n));
  for (size_t i = 0; i < n; ++i)
    for (size_t j = 0; j < n; ++j) DistanceMat[i][j] = j <= i ? Double(i - j) : 1000 + Double(i * n + j);
  const tMatrixOfDouble loaded = DistanceMat;
  DistanceMatFixed = true;
  PermeabilityType = ptExponential;
  MeanPermeabilityDistance = 4;
  ComputeConnectanceMatrix(ctClosePatches, 10, 0);
  EXPECT_EQ(DistanceMat, loaded);
  for (size_t i = 0; i < n; ++i)
    for (size_t j = 0; j <= i; ++j) {
      const Double p = std::exp(-(1.0 / 4) * Double(i - j));
      ASSERT_EQ(FrictionMap[i][j], p);
      ASSERT_EQ(FrictionMap[j][i], p);
      ASSERT_EQ(ConnectanceMat[i][j], i - j < 10);
      ASSERT_EQ(ConnectanceMat[j][i], i - j < 10);
    }
}

// A new computation at the same size writes into the rows it has; another size
// gives rows of that size.
TEST_F(Landscape, MatricesKeepTheirRowsAtTheSameSize) {
  const auto place = [](size_t n, Double scale) {
    Patches.clear();
    for (size_t i = 0; i < n; ++i) Patches.push_back(Patch(scale * Double(i % 7), scale * Double(i / 7)));
  };
  PermeabilityType = ptExponential;
  MeanPermeabilityDistance = 3;
  place(50, 1);
  ComputeConnectanceMatrix(ctFullConnectance, 0, 0);
  std::vector<const Double*> distanceRows, frictionRows;
  for (size_t i = 0; i < 50; ++i) {
    distanceRows.push_back(DistanceMat[i].data());
    frictionRows.push_back(FrictionMap[i].data());
  }
  place(50, 2);
  ComputeConnectanceMatrix(ctFullConnectance, 0, 0);
  for (size_t i = 0; i < 50; ++i) {
    EXPECT_EQ(DistanceMat[i].data(), distanceRows[i]);
    EXPECT_EQ(FrictionMap[i].data(), frictionRows[i]);
  }
  EXPECT_EQ(DistanceMat[0][8], 2 * std::sqrt(2.0)) << "the new distances";
  for (const size_t n : {size_t{20}, size_t{64}}) {
    place(n, 1);
    ComputeConnectanceMatrix(ctFullConnectance, 0, 0);
    ASSERT_EQ(DistanceMat.size(), n);
    for (size_t i = 0; i < n; ++i) {
      ASSERT_EQ(DistanceMat[i].size(), n);
      ASSERT_EQ(FrictionMap[i].size(), n);
      ASSERT_EQ(ConnectanceMat[i], utile::tVectorOfBoolean(n, true));
      EXPECT_EQ(FrictionMap[i][i], 1.0);
      EXPECT_EQ(DistanceMat[i][i], 0.0);
    }
    EXPECT_EQ(DistanceMat[n - 1][0], DistanceMat[0][n - 1]);
  }
}

TEST_F(Landscape, FixedDistancesThatNoLongerFitThePatchesRaise) {
  Patches = Triangle();
  Patches.push_back(Patch(9, 9));  // added after the file was read
  DistanceMat = {{0, 10, 20}, {10, 0, 30}, {20, 30, 0}};
  DistanceMatFixed = true;
  EXPECT_THROW(ComputeDistanceMatrix(), utile::EInvalidOperation);
}

TEST_F(Landscape, LogarithmOfTheRaster) {
  Map = {{0, -0.5, 0.5}, {1, 2, 0.25}};
  ComputeLnMap();
  const tMatrixOfDouble& ln = LnMapView();
  ASSERT_EQ(2u, ln.size());
  EXPECT_EQ(BlockedCellLog, ln[0][0]);
  EXPECT_EQ(BlockedCellLog, ln[0][1]);
  EXPECT_DOUBLE_EQ(std::log(0.5), ln[0][2]);
  EXPECT_EQ(0, ln[1][0]);
  EXPECT_EQ(0, ln[1][1]);  // above 1 counts as 1
  EXPECT_DOUBLE_EQ(std::log(0.25), ln[1][2]);
}

// ------------------------------------------------------------------ straight lines across the raster

// A raster 4 units along x and 2 along y, one cell per unit, Map[x][y]; the left
// half (x < 2) differs from the right half.
class StraightLine : public Landscape {
 protected:
  void SetUp() override {
    Landscape::SetUp();
    Map = {{0.5, 0.5}, {0.5, 0.5}, {0.8, 0.9}, {0.8, 0.6}};
    MapWidth = 4;
    MapHeight = 2;
    PermeabilityType = ptStraightLine;
  }
};

TEST_F(StraightLine, EachAxisIsScaledByItsOwnDimension) {
  struct tCase {
    tCircle From, To;
    Double Expected;
  };
  // 500 samples per unit, at k / 500 from the start, k = 1..K; the matrix cell
  // [0][1] samples the path from patch 1 towards patch 0. From x = 0.3001 to
  // 3.3001 the cell boundaries x = 1, 2, 3 fall between samples 349/350,
  // 849/850 and 1349/1350: 849 samples in the left half, 651 in the right; from
  // 3.3001 back to 0.3001, 650 in the right half and 850 in the left. From
  // y = 1.7001 down to 0.2001 at x = 2.5, samples 1..350 are in row 1 and
  // 351..750 in row 0.
  const tCase cases[] = {
      {Patch(3.3001, 0.5), Patch(0.3001, 0.5), std::pow(0.5, 849 / 500.0) * std::pow(0.8, 651 / 500.0)},
      {Patch(0.3001, 0.5), Patch(3.3001, 0.5), std::pow(0.5, 850 / 500.0) * std::pow(0.8, 650 / 500.0)},
      {Patch(2.5, 0.2001), Patch(2.5, 1.7001), std::pow(0.9, 350 / 500.0) * std::pow(0.8, 400 / 500.0)},
      // Both patches outside the raster: every sample is skipped.
      {Patch(-50, -50), Patch(-20, -30), 1.0},
      {Patch(10, 10), Patch(20, 40), 1.0},
  };
  for (const auto& c : cases) {
    Patches = {c.From, c.To};
    ComputeDistanceMatrix();
    EXPECT_NEAR(c.Expected, FrictionMap[0][1], 1e-12)
        << "(" << c.From.x << ", " << c.From.y << ") to (" << c.To.x << ", " << c.To.y << ")";
    EXPECT_EQ(FrictionMap[0][1], FrictionMap[1][0]);
    EXPECT_EQ(0, FrictionMap[0][0]);
  }
}

TEST_F(StraightLine, ABlockedCellClosesThePath) {
  Map[1][0] = 0;
  Patches = {Patch(0.3001, 0.5), Patch(3.3001, 0.5)};
  ComputeDistanceMatrix();
  EXPECT_EQ(0, FrictionMap[0][1]);
}

TEST_F(StraightLine, ALongBlockedLineGivesZeroWithoutOverflow) {
  Map.assign(1000, tVectorOfDouble(1000, 0.0));
  MapWidth = MapHeight = 1000;
  Patches = {Patch(1, 1), Patch(999, 998)};
  ComputeDistanceMatrix();
  EXPECT_EQ(0, FrictionMap[0][1]);
}

TEST_F(StraightLine, AStudyAreaWithoutExtentDividesByZero) {
  MapWidth = 0;
  Patches = {Patch(0.3, 0.5), Patch(3.3, 0.5)};
  EXPECT_THROW(ComputeDistanceMatrix(), utile::EZeroDivide);
}

// The definition sample by sample, as a reference for the cell-by-cell walk.
Double SampledPermeability(const tCircle& a, const tCircle& b, const tMatrixOfDouble& ln) {
  const double d = std::hypot(b.x - a.x, b.y - a.y);
  if (d == 0) return 0;
  const double dx = (b.x - a.x) / d / 500, dy = (b.y - a.y) / d / 500;
  const int64_t samples = utile::Round(500 * d);
  const double rows = static_cast<double>(ln.size()), cols = static_cast<double>(ln[0].size());
  double sum = 0;
  for (int64_t k = 1; k <= samples; ++k) {
    const double ix = std::trunc(rows * (a.x + static_cast<double>(k) * dx) / MapWidth);
    const double iy = std::trunc(cols * (a.y + static_cast<double>(k) * dy) / MapHeight);
    if (ix < 0 || ix > rows - 1 || iy < 0 || iy > cols - 1) continue;
    const double v = ln[static_cast<size_t>(ix)][static_cast<size_t>(iy)];
    if (v <= BlockedCellLog) return 0;
    sum += v / 500;
  }
  return std::exp(sum);
}

TEST_F(StraightLine, WalkingCellByCellMatchesSamplingEveryPoint) {
  std::mt19937 rng(7);
  std::uniform_real_distribution<double> cell(0.05, 1.0), coordinate(-5, 65);
  Map.assign(37, tVectorOfDouble(23));
  for (auto& row : Map)
    for (auto& v : row) v = cell(rng);
  Map[20][11] = 0;
  MapWidth = 60;
  MapHeight = 45;
  Patches.clear();
  for (int i = 0; i < 14; ++i) Patches.push_back(Patch(coordinate(rng), coordinate(rng)));
  Patches.push_back(Patch(10, 10));
  Patches.push_back(Patch(10, 40));  // a vertical line and a horizontal one
  Patches.push_back(Patch(50, 10));
  ComputeDistanceMatrix();
  const tMatrixOfDouble& ln = LnMapView();
  int blocked = 0;
  for (size_t i = 0; i < Patches.size(); ++i)
    for (size_t j = 0; j < i; ++j) {
      const double expected = SampledPermeability(Patches[i], Patches[j], ln);
      if (expected == 0) ++blocked;
      // The two sums round differently over thousands of samples.
      EXPECT_NEAR(expected, FrictionMap[i][j], 1e-10 * expected + 1e-300) << i << " to " << j;
    }
  EXPECT_GT(blocked, 0);  // some paths cross the blocked cell
}

TEST_F(StraightLine, HistogramOfTheRasterAlongALine) {
  struct tCase {
    tCircle From, To;
    Cardinal Steps;
    tVectorOfDouble Values;
    utile::tVectorOfCardinal Counts;
  };
  // 10 samples per unit from x = 0.31: samples 1..16 fall in the left half
  // (x < 2), 17..30 in the right one, in row 0.
  // From y = -2.95 up at x = 0.5: samples 1..19 lie below -1, outside the raster,
  // and keep 0; samples 20..39 lie in (-1, 1) and read row 0 (the cell index
  // truncates toward zero), sample 40 reads row 1.
  const tCase cases[] = {
      {Patch(0.31, 0.5), Patch(3.31, 0.5), 10, {0.5, 0.8}, {16, 14}},
      {Patch(0.5, -2.95), Patch(0.5, 1.05), 10, {0, 0.5}, {19, 21}},
      {Patch(1, 1), Patch(1, 1), 10, {}, {}},
  };
  for (const auto& c : cases) {
    Patches = {c.From, c.To};
    tVectorOfDouble values = {9};
    utile::tVectorOfCardinal counts = {9};
    HistoStraightLine(0, 1, values, counts, c.Steps);
    EXPECT_EQ(c.Values, values);
    EXPECT_EQ(c.Counts, counts);
  }
}

// ------------------------------------------------------------------ link matrices

utile::tMatrixOfBoolean Links(std::initializer_list<std::initializer_list<int>> rows) {
  utile::tMatrixOfBoolean m;
  for (const auto& row : rows) {
    m.emplace_back();
    for (const int v : row) m.back().push_back(v != 0);
  }
  return m;
}

TEST_F(Landscape, LinkRulesOnSmallLandscapes) {
  struct tCase {
    const char* Name;
    tArrayOfCircles Patches;
    Integer Type;
    Double Threshold;
    utile::tMatrixOfBoolean Expected;
  };
  // A quadrilateral whose Delaunay diagonal joins (10, 0) and (0, 10): the angles
  // facing it, 90 and about 71 degrees, sum below 180.
  const tArrayOfCircles quad = {Patch(0, 0), Patch(10, 0), Patch(0, 10), Patch(12, 12)};
  const tCase cases[] = {
      {"full", Triangle(), ctFullConnectance, 0, Links({{1, 1, 1}, {1, 1, 1}, {1, 1, 1}})},
      {"closer than 4.5", Triangle(), ctClosePatches, 4.5, Links({{1, 1, 1}, {1, 1, 0}, {1, 0, 1}})},
      {"closer than 4", Triangle(), ctClosePatches, 4, Links({{1, 1, 0}, {1, 1, 0}, {0, 0, 1}})},
      {"Delaunay", quad, ctDelaunay, 0, Links({{0, 1, 1, 0}, {1, 0, 1, 1}, {1, 1, 0, 1}, {0, 1, 1, 0}})},
      {"Delaunay of two patches", {Patch(0, 0), Patch(1, 1)}, ctDelaunay, 0, Links({{0, 0}, {0, 0}})},
      {"unknown rule", Triangle(), 7, 0, Links({{0, 0, 0}, {0, 0, 0}, {0, 0, 0}})},
      {"no patch", {}, ctFullConnectance, 0, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    Patches = c.Patches;
    ComputeConnectanceMatrix(c.Type, c.Threshold, 0);
    EXPECT_EQ(c.Expected, ConnectanceMat);
    EXPECT_EQ(c.Patches.size(), DistanceMat.size());
  }
}

TEST_F(Landscape, RandomLinksLinkExactlyTheirShareOfPairs) {
  for (int i = 0; i < 10; ++i) Patches.push_back(Patch(i, 0));
  // 45 pairs: 0 %, 50 % (22.5, rounded to the even 22) and 100 %.
  struct tCase {
    Integer Percent;
    int Links;
  };
  for (const tCase c : {tCase{0, 0}, tCase{50, 22}, tCase{100, 45}}) {
    utile::SetSeeds(3, 5);
    ComputeConnectanceMatrix(ctRandom, 0, c.Percent);
    int links = 0;
    for (size_t i = 0; i < 10; ++i) {
      EXPECT_TRUE(ConnectanceMat[i][i]);
      for (size_t j = 0; j < i; ++j) {
        EXPECT_EQ(ConnectanceMat[i][j], ConnectanceMat[j][i]);
        links += ConnectanceMat[i][j];
      }
    }
    EXPECT_EQ(c.Links, links) << c.Percent << " %";
  }
  // The same seeds draw the same links.
  utile::SetSeeds(3, 5);
  ComputeConnectanceMatrix(ctRandom, 0, 50);
  const utile::tMatrixOfBoolean first = ConnectanceMat;
  utile::SetSeeds(3, 5);
  ComputeConnectanceMatrix(ctRandom, 0, 50);
  EXPECT_EQ(first, ConnectanceMat);
  // A single patch has no pair to draw.
  Patches = {Patch(0, 0)};
  ComputeConnectanceMatrix(ctRandom, 0, 50);
  EXPECT_EQ(Links({{1}}), ConnectanceMat);
}

// ------------------------------------------------------------------ dominant eigen-systems

Eigen::MatrixXd ToEigen(const tMatrixOfDouble& m) {
  Eigen::MatrixXd e(m.size(), m.size());
  for (size_t i = 0; i < m.size(); ++i)
    for (size_t j = 0; j < m.size(); ++j) e(i, j) = m[i][j];
  return e;
}

// The eigenvalue of largest real part and its eigenvector, scaled so that its
// element of largest magnitude is 1.
void EigenDominant(const Eigen::MatrixXd& m, double& lambda, Eigen::VectorXd& vector) {
  Eigen::EigenSolver<Eigen::MatrixXd> solver(m);
  Eigen::Index best = 0;
  for (Eigen::Index k = 1; k < m.rows(); ++k)
    if (solver.eigenvalues()(k).real() > solver.eigenvalues()(best).real()) best = k;
  lambda = solver.eigenvalues()(best).real();
  vector = solver.eigenvectors().col(best).real();
  Eigen::Index at = 0;
  vector.cwiseAbs().maxCoeff(&at);
  vector /= vector(at);
}

TEST(PerronEigensystem, PeriodicReducibleAndPrimitiveMatrices) {
  struct tCase {
    const char* Name;
    tMatrixOfDouble M;
  };
  const tCase cases[] = {
      {"two-cycle of unequal weights", {{0, 4}, {1, 0}}},
      {"three-cycle", {{0, 1, 0}, {0, 0, 2}, {3, 0, 0}}},
      {"bipartite four", {{0, 0, 1, 2}, {0, 0, 3, 1}, {2, 1, 0, 0}, {1, 5, 0, 0}}},
      {"primitive", {{1, 2, 0}, {0.5, 0, 1}, {1, 1, 1}}},
      {"reducible", {{2, 1, 0}, {0, 1, 1}, {0, 0, 0.5}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    double expected;
    Eigen::VectorXd expectedVector;
    EigenDominant(ToEigen(c.M), expected, expectedVector);
    tVectorOfDouble x;
    Double lambda = -1;
    EXPECT_TRUE(PerronEigensystem(c.M, x, lambda));
    EXPECT_NEAR(expected, lambda, 1e-10 * expected);
    for (size_t i = 0; i < x.size(); ++i) EXPECT_NEAR(expectedVector(i), x[i], 1e-9);
    // The transposed iteration gives the left eigenvector: x^T M = lambda x^T.
    EXPECT_TRUE(PerronEigensystem(c.M, x, lambda, 1000, true));
    EXPECT_NEAR(expected, lambda, 1e-10 * expected);
    for (size_t j = 0; j < x.size(); ++j) {
      double left = 0;
      for (size_t i = 0; i < x.size(); ++i) left += x[i] * c.M[i][j];
      EXPECT_NEAR(lambda * x[j], left, 1e-9 * lambda);
    }
  }
}

TEST(PerronEigensystem, AperiodicMatricesGiveWhatThePlainIterationGives) {
  std::mt19937 rng(99);
  std::uniform_real_distribution<double> cell(0, 1);
  for (const int n : {2, 3, 10, 50}) {
    tMatrixOfDouble m(n, tVectorOfDouble(n));
    for (auto& row : m)
      for (auto& v : row) v = cell(rng);
    tVectorOfDouble plain(n), settled;
    Double plainLambda = 0, lambda = 0;
    utile::DominantEigensystem(m, plain, plainLambda, 1000, 1e-50);
    EXPECT_TRUE(PerronEigensystem(m, settled, lambda));
    EXPECT_NEAR(plainLambda, lambda, 1e-12 * plainLambda) << n;
    for (int i = 0; i < n; ++i) EXPECT_NEAR(plain[i], settled[i], 1e-11) << n;
  }
}

TEST(PerronEigensystem, ZeroAndNilpotentMatricesHaveEigenvalueZero) {
  for (const tMatrixOfDouble& m :
       {tMatrixOfDouble{{0, 0}, {0, 0}}, tMatrixOfDouble{{0, 1, 0}, {0, 0, 1}, {0, 0, 0}}}) {
    tVectorOfDouble x;
    Double lambda = -1;
    EXPECT_TRUE(PerronEigensystem(m, x, lambda));
    EXPECT_EQ(0, lambda);
  }
}

TEST(PerronEigensystem, TwoNearlyEqualSeparateGroupsAreReportedUnsettled) {
  // Two disconnected pairs whose eigenvalues differ by 1e-9: the vector cannot
  // settle within the budget, and the result says so.
  const tMatrixOfDouble m = {{0, 1, 0, 0}, {1, 0, 0, 0}, {0, 0, 0, 1 + 1e-9}, {0, 0, 1 + 1e-9, 0}};
  tVectorOfDouble x;
  Double lambda = 0;
  EXPECT_FALSE(PerronEigensystem(m, x, lambda));
  EXPECT_NEAR(1, lambda, 1e-6);
}

// ------------------------------------------------------------------ metapopulation capacity

TEST_F(Landscape, TwoEqualPatchesHaveCapacityOfTheirLink) {
  Patches = {Patch(0, 0), Patch(30, 40)};
  tParam param;
  param.Territ = 1;
  param.alph = 0.02;
  param.ZetaEm = 1, param.ZetaIm = 0.5, param.ZetaExt = 0.5;
  const double e = std::exp(-0.02 * 50);
  EXPECT_NEAR(e, ComputeMetapopulationCapacity(&param, Patches), 1e-14);
  ExpectMatrixNear({{0, e}, {e, 0}}, HanskiMat, 1e-15);
  EXPECT_DOUBLE_EQ(e, HanskiEigenvalue[0]);
  EXPECT_EQ(0, HanskiEigenvalue[1]);
  ExpectMatrixNear({{1, 1}, {1, 1}}, HanskiEigenvectors, 0);
  const tVectorOfDouble values = ComputeHanskiPatchValue(Patches);
  ASSERT_EQ(2u, values.size());
  EXPECT_NEAR(e / 2, values[0], 1e-15);
  EXPECT_NEAR(e / 2, values[1], 1e-15);
  EXPECT_TRUE(HanskiConverged);
}

TEST_F(Landscape, TwoUnequalPatchesHaveTheGeometricMeanOfTheirLinks) {
  // M = [[0, 4e], [e, 0]]: a periodic matrix, whose capacity is sqrt(4e x e) = 2e.
  Patches = {Patch(0, 0, 1), Patch(10, 0, 4)};
  tParam param;
  param.Territ = 1;
  param.alph = 0.1;
  param.ZetaEm = 1;
  const double e = std::exp(-1.0);
  EXPECT_NEAR(2 * e, ComputeMetapopulationCapacity(&param, Patches), 1e-14);
  EXPECT_TRUE(HanskiConverged);
  EXPECT_NEAR(4 * e, HanskiMat[0][1], 1e-15);
  EXPECT_NEAR(e, HanskiMat[1][0], 1e-15);
  // Right (1, 1/2), left (1/2, 1): both patches hold half the capacity.
  EXPECT_NEAR(1, HanskiEigenvectors[0][0], 1e-12);
  EXPECT_NEAR(0.5, HanskiEigenvectors[1][0], 1e-12);
  EXPECT_NEAR(0.5, HanskiEigenvectors[0][1], 1e-12);
  EXPECT_NEAR(1, HanskiEigenvectors[1][1], 1e-12);
  const tVectorOfDouble values = ComputeHanskiPatchValue(Patches);
  EXPECT_NEAR(e, values[0], 1e-12);
  EXPECT_NEAR(e, values[1], 1e-12);
}

TEST_F(Landscape, CapacityOfRandomLandscapesIsTheDominantEigenvalue) {
  std::mt19937 rng(2024);
  std::uniform_real_distribution<double> position(0, 100), area(0.5, 20);
  for (const int n : {2, 3, 5, 17, 60, 150, 300}) {
    SCOPED_TRACE(::testing::Message() << n << " patches");
    Patches.clear();
    for (int i = 0; i < n; ++i) Patches.push_back(Patch(position(rng), position(rng), area(rng)));
    tParam param;
    param.Territ = 2;
    param.alph = 0.05;
    param.ZetaEm = 0.8, param.ZetaIm = 0.3, param.ZetaExt = 1.1;  // a non-symmetric matrix
    const Double capacity = ComputeMetapopulationCapacity(&param, Patches);
    EXPECT_TRUE(HanskiConverged);
    // The oracle builds its own matrix from the closed form.
    Eigen::MatrixXd m(n, n);
    for (int i = 0; i < n; ++i)
      for (int j = 0; j < n; ++j)
        m(i, j) =
            i == j ? 0
                   : std::exp(-0.05 * std::hypot(Patches[i].x - Patches[j].x, Patches[i].y - Patches[j].y)) *
                         std::pow(Patches[j].A / 2, 0.8) * std::pow(Patches[i].A / 2, 1.4);
    double expected;
    Eigen::VectorXd right;
    EigenDominant(m, expected, right);
    EXPECT_NEAR(expected, capacity, 1e-10 * expected);
    Eigen::VectorXd left;
    double expectedLeft;
    EigenDominant(m.transpose(), expectedLeft, left);
    for (int i = 0; i < n; ++i) {
      EXPECT_NEAR(right(i), HanskiEigenvectors[i][0], 1e-8);
      EXPECT_NEAR(left(i), HanskiEigenvectors[i][1], 1e-8);
    }
  }
}

TEST_F(Landscape, PatchValuesOfSymmetricLandscapesFollowTheEigenvector) {
  // With ZetaEm = ZetaIm + ZetaExt the matrix is symmetric: right and left
  // eigenvectors are one vector v, and patch i holds lambda v_i^2 / sum v^2.
  std::mt19937 rng(11);
  std::uniform_real_distribution<double> position(0, 50), area(1, 10);
  for (const int n : {3, 8, 40}) {
    Patches.clear();
    for (int i = 0; i < n; ++i) Patches.push_back(Patch(position(rng), position(rng), area(rng)));
    tParam param;
    param.Territ = 1;
    param.alph = 0.1;
    param.ZetaEm = 1, param.ZetaIm = 0.4, param.ZetaExt = 0.6;
    ComputeMetapopulationCapacity(&param, Patches);
    Eigen::SelfAdjointEigenSolver<Eigen::MatrixXd> solver(ToEigen(HanskiMat));
    const double lambda = solver.eigenvalues()(n - 1);
    const Eigen::VectorXd v = solver.eigenvectors().col(n - 1);
    const tVectorOfDouble values = ComputeHanskiPatchValue(Patches);
    ASSERT_EQ(static_cast<size_t>(n), values.size());
    double total = 0;
    for (int i = 0; i < n; ++i) {
      EXPECT_NEAR(lambda * v(i) * v(i) / v.squaredNorm(), values[i], 1e-10 * lambda);
      total += values[i];
    }
    EXPECT_NEAR(lambda, total, 1e-12 * lambda);
  }
}

TEST_F(Landscape, CapacityOfAnotherPatchSetUsesItsOwnDistances) {
  // The landscape holds three patches; an aggregated set of two others, 20 apart,
  // must not be paired with the landscape's distances.
  Patches = Triangle();
  ComputeDistanceMatrix();
  const tArrayOfCircles aggregated = {Patch(100, 100), Patch(120, 100)};
  tParam param;
  param.Territ = 1;
  param.alph = 0.1;
  EXPECT_NEAR(std::exp(-2.0), ComputeMetapopulationCapacity(&param, aggregated), 1e-15);
  // A set larger than the landscape reads nothing out of range.
  tArrayOfCircles larger;
  for (int i = 0; i < 6; ++i) larger.push_back(Patch(10.0 * i, 0));
  EXPECT_GT(ComputeMetapopulationCapacity(&param, larger), 0);
  EXPECT_EQ(6u, ComputeHanskiPatchValue(larger).size());
}

TEST_F(Landscape, CapacityOfTheLandscapeKeepsDistancesReadFromItsFile) {
  Patches = {Patch(0, 0), Patch(1, 0)};
  DistanceMat = {{0, 20}, {20, 0}};
  DistanceMatFixed = true;
  tParam param;
  param.Territ = 1;
  param.alph = 0.1;
  EXPECT_NEAR(std::exp(-2.0), ComputeMetapopulationCapacity(&param, Patches), 1e-15);
}

TEST_F(Landscape, CapacityTellsWhenItsEigenvectorsDidNotSettle) {
  // Two pairs too far apart to exchange anything, whose capacities differ by
  // about 1e-9: no iteration separates them within its budget.
  Patches = {Patch(0, 0), Patch(10, 0), Patch(1e5, 0), Patch(1e5 + 10 - 1e-8, 0)};
  tParam param;
  param.Territ = 1;
  param.alph = 0.1;
  const double capacity = ComputeMetapopulationCapacity(&param, Patches);
  EXPECT_FALSE(HanskiConverged);
  EXPECT_NEAR(std::exp(-1.0), capacity, 1e-8);
  Patches.pop_back();
  ComputeMetapopulationCapacity(&param, Patches);
  EXPECT_TRUE(HanskiConverged);
}

TEST_F(Landscape, FewerThanTwoPatchesComputeNothing) {
  tParam param;
  param.Territ = 1;
  HanskiEigenvalue = {7};
  EXPECT_EQ(0, ComputeMetapopulationCapacity(&param, {Patch(1, 1)}));
  EXPECT_EQ(0, ComputeMetapopulationCapacity(&param, {}));
  EXPECT_EQ(tVectorOfDouble{7}, HanskiEigenvalue);
  EXPECT_TRUE(ComputeHanskiPatchValue({Patch(1, 1)}).empty());
}

TEST_F(Landscape, PatchValuesNeedACapacityOfAsManyPatches) {
  tParam param;
  param.Territ = 1;
  ComputeMetapopulationCapacity(&param, {Patch(0, 0), Patch(1, 1)});
  EXPECT_THROW(ComputeHanskiPatchValue({Patch(0, 0), Patch(1, 1), Patch(2, 2)}), utile::EAssertionFailed);
  EXPECT_THROW(HypotheticCapacity(0, 0, 1, param, {Patch(0, 0), Patch(1, 1), Patch(2, 2)}),
               utile::EAssertionFailed);
}

TEST_F(Landscape, ATerritoryOfZeroDividesByZero) {
  tParam param;
  EXPECT_THROW(ComputeMetapopulationCapacity(&param, {Patch(0, 0), Patch(1, 1)}), utile::EZeroDivide);
}

TEST_F(Landscape, HypotheticCapacityOfANewPatch) {
  // Two equal patches: both eigenvectors are (1, 1) and the capacity is e.
  Patches = {Patch(0, 0, 2), Patch(10, 0, 2)};
  tParam param;
  param.Territ = 2;
  param.alph = 0.1;
  param.ZetaEm = 1, param.ZetaIm = 0.5, param.ZetaExt = 0.5;
  const double lambda = ComputeMetapopulationCapacity(&param, Patches);
  ASSERT_NEAR(std::exp(-1.0), lambda, 1e-15);
  // A patch of area 6 (3 territories) at (5, 12): 13 from both patches.
  const double kernel = std::exp(-1.3);
  const double expected = std::pow(3.0, 2.0) * (2 * kernel * kernel) / lambda;
  EXPECT_NEAR(expected, HypotheticCapacity(5, 12, 6, param, Patches), 1e-14);
  EXPECT_EQ(0, HypotheticCapacity(5, 12, 6, param, {Patch(0, 0)}));
}

TEST_F(Landscape, TheCapacityAtAnyPointIsThatOfEachCellToTheLastBit) {
  Patches = {Patch(0, 0, 2), Patch(30, 5, 7), Patch(12, 40, 1.5), Patch(-8, 22, 4), Patch(25, -15, 3)};
  tParam param;
  param.Territ = 2.5;
  param.alph = 0.07;
  param.ZetaEm = 0.8, param.ZetaIm = 0.3, param.ZetaExt = 0.45;
  const double lambda = ComputeMetapopulationCapacity(&param, Patches);
  const double area = 5;
  // Each cell summed patch by patch, the factors multiplied in this order.
  auto perCell = [&](double x, double y) {
    double sum = 0;
    for (size_t i = 0; i < Patches.size(); ++i) {
      const double dx = x - Patches[i].x, dy = y - Patches[i].y;
      const double kernel = std::exp(-param.alph * std::sqrt(dx * dx + dy * dy));
      sum += kernel * kernel * HanskiEigenvectors[i][1] * HanskiEigenvectors[i][0] *
             std::pow(Patches[i].A / param.Territ, param.ZetaExt + param.ZetaIm) *
             std::pow(Patches[i].A / param.Territ, param.ZetaEm);
    }
    return std::pow(area / param.Territ, param.ZetaIm + param.ZetaEm + param.ZetaExt) * sum / lambda;
  };
  const auto capacityAt = HypotheticCapacityAt(area, param, Patches);
  for (double x = -20; x <= 45; x += 6.5)
    for (double y = -25; y <= 50; y += 7.5) {
      EXPECT_EQ(perCell(x, y), capacityAt(x, y)) << x << ", " << y;
      EXPECT_EQ(perCell(x, y), HypotheticCapacity(x, y, area, param, Patches)) << x << ", " << y;
    }
  EXPECT_EQ(0, HypotheticCapacityAt(area, param, {Patch(0, 0)})(3, 4));
  // Errors come when the map is prepared, as from the first cell.
  EXPECT_THROW(HypotheticCapacityAt(-1, param, Patches), utile::EInvalidOp);
  EXPECT_THROW(HypotheticCapacity(0, 0, -1, param, Patches), utile::EInvalidOp);
  tArrayOfCircles more = Patches;
  more.push_back(Patch(1, 1));
  EXPECT_THROW(HypotheticCapacityAt(area, param, more), utile::EAssertionFailed);
}

TEST_F(Landscape, BoundingBoxes) {
  const tBox empty = BoundingBox({});
  EXPECT_EQ(1.7e308, empty.MinX);
  EXPECT_EQ(-1.7e308, empty.MaxX);
  EXPECT_EQ(1.7e308, empty.MinY);
  EXPECT_EQ(-1.7e308, empty.MaxY);
  const tBox box = BoundingBox({Patch(3, -2), Patch(-1, 5), Patch(7, 0)});
  EXPECT_EQ(-1, box.MinX);
  EXPECT_EQ(7, box.MaxX);
  EXPECT_EQ(-2, box.MinY);
  EXPECT_EQ(5, box.MaxY);
}

// ------------------------------------------------------------------ moving window

TEST_F(Landscape, MovingWindowOverASquareOfFourPatches) {
  // Four equal patches at the corners of a square of side 10, wherever it lies.
  // The box widened by 5 % runs from -0.5 to 10.5 around the square: with n = 1
  // the windows are 11 wide, laid at 0 and 5.5 from its corner along each axis.
  // The first holds the whole square, of capacity
  // L4 = 2 exp(-10 alpha) + exp(-10 sqrt(2) alpha), a quarter to each patch; the
  // two shifted along one axis hold a pair of capacity L2 = exp(-10 alpha), half
  // to each; the last holds one patch only.
  for (const double offset : {0.0, 1000.0}) {
    SCOPED_TRACE(offset);
    Patches = {Patch(offset, offset), Patch(offset + 10, offset), Patch(offset, offset + 10),
               Patch(offset + 10, offset + 10)};
    const double alpha = 0.05;
    const double l4 = 2 * std::exp(-10 * alpha) + std::exp(-10 * std::sqrt(2.0) * alpha);
    const double l2 = std::exp(-10 * alpha);
    Double capacity = -1;
    tVectorOfDouble values;
    tMatrixOfDouble map;
    ComputeMovingWindow(alpha, 1, 0, 1, 11, &capacity, &values, &map);
    EXPECT_NEAR((l4 + 2 * l2) / 3, capacity, 1e-12);
    ASSERT_EQ(4u, values.size());
    EXPECT_NEAR(l4 / 4, values[0], 1e-12);
    EXPECT_NEAR((l4 / 4 + l2 / 2) / 2, values[1], 1e-12);
    EXPECT_NEAR((l4 / 4 + l2 / 2) / 2, values[2], 1e-12);
    EXPECT_NEAR((l4 / 4 + l2) / 3, values[3], 1e-12);
    // 11 x 11 cells of side 1, [column][row]; a window from 5.5 starts at cell 6.
    ASSERT_EQ(11u, map.size());
    ASSERT_EQ(11u, map[0].size());
    EXPECT_NEAR(l4, map[0][0], 1e-12);
    EXPECT_NEAR((l4 + l2) / 2, map[10][0], 1e-12);
    EXPECT_NEAR((l4 + l2) / 2, map[0][10], 1e-12);
    EXPECT_NEAR((l4 + 2 * l2) / 4, map[10][10], 1e-12);
  }
}

TEST_F(Landscape, MovingWindowRefusesCountsBelowOne) {
  // n and m divide the shorter side of the box: 0 divides by zero; negative
  // windows cover nothing, and a negative cell count would size the map negatively.
  Patches = {Patch(0, 0), Patch(10, 10), Patch(10, 0)};
  Double capacity = -1;
  tVectorOfDouble values = {5};
  tMatrixOfDouble map = {{5}};
  struct tCase {
    Integer n, m;
  };
  for (const tCase c : {tCase{0, 10}, tCase{10, 0}}) {
    EXPECT_THROW(ComputeMovingWindow(0.1, 1, 0, c.n, c.m, &capacity, &values, &map), utile::EZeroDivide);
  }
  EXPECT_THROW(ComputeMovingWindow(0.1, 1, 0, -1, 10, &capacity, &values, &map), utile::EInvalidOperation);
  for (const tCase c : {tCase{10, -1}, tCase{-2, -2}}) {
    EXPECT_THROW(ComputeMovingWindow(0.1, 1, 0, c.n, c.m, &capacity, &values, &map), utile::ERangeError)
        << c.n << ", " << c.m;
  }
  // Nothing is written when the analysis fails.
  EXPECT_EQ(-1, capacity);
  EXPECT_EQ(tVectorOfDouble{5}, values);
  EXPECT_EQ(tMatrixOfDouble{{5}}, map);
}

TEST_F(Landscape, MovingWindowWithoutTwoPatchesInAnyWindowRaises) {
  Patches = {Patch(0, 0), Patch(100, 100)};
  Double capacity;
  tVectorOfDouble values;
  tMatrixOfDouble map;
  try {
    ComputeMovingWindow(0.1, 1, 0, 10, 10, &capacity, &values, &map);
    FAIL() << "no error";
  } catch (const utile::Exception& e) {
    EXPECT_STREQ("No patch found!", e.what());
  }
}

// ------------------------------------------------------------------ equilibrium occupancy and grid maps

tParam Rates(Double c, Double e, Double alph, Double zetaEm = 1, Double zetaIm = 0, Double zetaExt = 0) {
  tParam q;
  q.Territ = 1, q.colonisation = c, q.extinction = e, q.alph = alph;
  q.ZetaEm = zetaEm, q.ZetaIm = zetaIm, q.ZetaExt = zetaExt;
  return q;
}

tArrayOfCircles Circles(std::initializer_list<std::array<double, 3>> xya) {
  tArrayOfCircles p;
  for (const auto& c : xya) p.push_back({0, c[0], c[1], c[2], 0, 0});
  return p;
}

tArrayOfCircles RandomCircles(unsigned seed, int n, double side) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> position(0, side), area(1, 10);
  tArrayOfCircles p;
  for (int i = 0; i < n; ++i) p.push_back({0, position(rng), position(rng), area(rng), 0, 0});
  return p;
}

// A_j^ZetaEm exp(-alph d_ij) A_i^Exponent off the diagonal, territory 1.
Eigen::MatrixXd Colonisation(const tArrayOfCircles& p, const tParam& q, double exponent) {
  Eigen::MatrixXd m = Eigen::MatrixXd::Zero(p.size(), p.size());
  for (size_t i = 0; i < p.size(); ++i)
    for (size_t j = 0; j < p.size(); ++j)
      if (i != j)
        m(i, j) = std::pow(p[j].A, q.ZetaEm) *
                  std::exp(-q.alph * std::hypot(p[i].x - p[j].x, p[i].y - p[j].y)) *
                  std::pow(p[i].A, exponent);
  return m;
}
Eigen::MatrixXd Colonisation(const tArrayOfCircles& p, const tParam& q) {
  return Colonisation(p, q, q.ZetaIm + q.ZetaExt);
}
tMatrixOfDouble FromEigen(const Eigen::MatrixXd& m) {
  tMatrixOfDouble r(m.rows(), tVectorOfDouble(m.cols()));
  for (Eigen::Index i = 0; i < m.rows(); ++i) Eigen::VectorXd::Map(r[i].data(), m.cols()) = m.row(i);
  return r;
}

// The largest root of (1 - p) c M p = e p: p = cMp / (cMp + e) iterated down
// from 1, then Newton steps.
Eigen::VectorXd Equilibrium(const Eigen::MatrixXd& m, double c, double e) {
  Eigen::VectorXd p = Eigen::VectorXd::Ones(m.rows());
  for (int k = 0; k < 5000; ++k) p = (c * m * p).array() / ((c * m * p).array() + e);
  for (int k = 0; k < 4; ++k) {
    const Eigen::ArrayXd s = (m * p).array();
    Eigen::MatrixXd jacobian = (c * (1 - p.array())).matrix().asDiagonal() * m;
    jacobian.diagonal().array() -= c * s + e;
    p -= jacobian.fullPivLu().solve(((1 - p.array()) * c * s - e * p.array()).matrix());
  }
  return p;
}
double SizeOf(const tArrayOfCircles& p, const tParam& q) {
  const Eigen::VectorXd occupancy = Equilibrium(Colonisation(p, q), q.colonisation, q.extinction);
  double size = 0;
  for (size_t i = 0; i < p.size(); ++i) size += occupancy(i) * p[i].A;
  return size;
}

TEST(FindPequ, ClosedFormsOfEqualPatchesAndOfTwoUnequalOnes) {
  // Equal couplings with rows summing to lambda: p = 1 - delta / lambda. Two
  // patches: p1 = (ab - 1) / (b (1 + a)), p2 = (ab - 1) / (a (1 + b)) with
  // a = M01 / delta, b = M10 / delta. Both are 0 below their threshold.
  const auto equal = [](int n, double lambda) {
    tMatrixOfDouble m(n, tVectorOfDouble(n, lambda / (n - 1)));
    for (int i = 0; i < n; ++i) m[i][i] = 0;
    return m;
  };
  const double a = 3 / 0.4, b = 0.8 / 0.4;
  struct tCase {
    const char* Name;
    tMatrixOfDouble M;
    Double c, e;
    tVectorOfDouble Expected;
  } cases[] = {
      {"three equal", equal(3, 2), 1, 0.5, {0.75, 0.75, 0.75}},
      {"five equal", equal(5, 1.2), 0.5, 0.3, {0.5, 0.5, 0.5, 0.5, 0.5}},
      {"equal below the threshold", equal(4, 1), 1, 1.5, {0, 0, 0, 0}},
      {"overshooting colonisation", equal(2, 1), 1000, 500, {0.5, 0.5}},
      {"overshooting extinction", equal(3, 1), 1, 1000, {0, 0, 0}},
      {"no extinction", equal(3, 1), 1, 0, {1, 1, 1}},
      {"two unequal", {{0, 3}, {0.8, 0}}, 1, 0.4, {(a * b - 1) / (b * (1 + a)), (a * b - 1) / (a * (1 + b))}},
      {"two unequal below the threshold", {{0, 0.5}, {0.2, 0}}, 1, 1, {0, 0}},
      {"isolated patch", {{0}}, 0.5, 0.2, {0}},
  };
  for (const auto& c : cases) {
    const tVectorOfDouble p =
        FindPequ(tArrayOfCircles(c.M.size(), {0, 0, 0, 1, 0, 0}), c.M, Rates(c.c, c.e, 0));
    ASSERT_EQ(c.Expected.size(), p.size());
    for (size_t i = 0; i < p.size(); ++i) EXPECT_NEAR(c.Expected[i], p[i], 1e-10) << c.Name;
  }
}

TEST(FindPequ, ScalesSmallRatesRefusesBadOnesAndCountsBlocksOf101Steps) {
  const tMatrixOfDouble pair = {{0, 3}, {0.8, 0}};
  const tArrayOfCircles two(2, {0, 0, 0, 1, 0, 0}), one(1, {0, 0, 0, 1, 0, 0});
  EXPECT_EQ(FindPequ(two, pair, Rates(0.1, 0.2, 0)), FindPequ(two, pair, Rates(0.01, 0.02, 0)));
  for (const auto& [c, e] : {std::pair{0.0, 0.0}, {-1.0, 1.0}, {1.0, -0.5}, {INFINITY, 1.0}, {1.0, NAN}}) {
    EXPECT_THROW(FindPequ(one, {{0}}, Rates(c, e, 0)), utile::EInvalidArgument) << c << ", " << e;
    EXPECT_THROW(FindMetapopSizeMinusOnePatch(one, {{0}}, Rates(c, e, 0)), utile::EInvalidArgument);
  }
  // One patch without colonisation. With e = 0.5 each step halves p exactly, and
  // the fifth block is the first to start below 1e-100 (a change below 1e-200).
  // With e / A = 0.005 the change stays above it and the 30,000 steps counted
  // are 300 blocks. Rates of 4 and 2 overshoot below 0, 1 reaches 0.
  struct tCase {
    Double e, A, Expected, Tolerance;
  } cases[] = {
      {0.5, 1, std::ldexp(0.1, -505), 0}, {0.5, 100, 0.1 * std::pow(0.995, 30300), 1e-9}, {4, 1, 0, 0}};
  for (const auto& c : cases) {
    const tVectorOfDouble p = FindPequ({{0, 0, 0, c.A, 0, 0}}, {{0}}, Rates(0, c.e, 0, 1, 0, 1));
    EXPECT_NEAR(c.Expected, p[0], c.Tolerance * c.Expected) << c.e << ", " << c.A;
  }
}

TEST(FindPequ, SettlesOnRandomLandscapesAndWithoutEachPatch) {
  const tParam param = Rates(0.8, 0.3, 0.02, 1, 0.5, 0.5);
  for (const auto& [seed, n] : {std::pair{5u, 10}, {12u, 20}, {7u, 50}}) {
    const tArrayOfCircles patches = RandomCircles(seed, n, 200);
    const Eigen::MatrixXd m = Colonisation(patches, param);
    const tVectorOfDouble p = FindPequ(patches, FromEigen(m), param);
    for (int i = 0; i < n; ++i) {
      const double s = m.row(i).dot(Eigen::VectorXd::Map(p.data(), n));
      EXPECT_LE(std::fabs((1 - p[i]) * 0.8 * s - p[i] * 0.3), 1e-10) << n << " patches, patch " << i;
    }
    if (n != 20) continue;
    // Here 7 of the 20 integrations without one patch end in a cycle of the last
    // digits, which a stop at a change of exactly 0 follows for 10,000,000 steps.
    // Their work, counted by the offers to let messages through, stays below
    // that of one such integration.
    int64_t offers = 0;
    tAnalysisProgress progress;
    progress.Stopped = [&offers] { return ++offers, false; };
    const tVectorOfDouble sizes = FindMetapopSizeMinusOnePatch(patches, FromEigen(m), param, progress);
    EXPECT_LT(offers, int64_t{10'000'000} / 100 * 101 * 19 * 19 / AnalysisWorkBetweenPumps);
    for (int k = 0; k < n; ++k) {
      tArrayOfCircles without = patches;
      without.erase(without.begin() + k);
      EXPECT_NEAR(SizeOf(without, param), sizes[k], 1e-10 * sizes[k]) << k;
    }
  }
}

TEST_F(Landscape, MetapopulationSizeOfTwoAndThreePatches) {
  // Without one of two patches the other is isolated and empty; without one of
  // three, the other two follow the closed form of a pair.
  const tParam param = Rates(1, 0.5, 0.02, 1, 0.5, 0);  // a matrix that is not symmetric
  struct tCase {
    tArrayOfCircles Landscape, Analysed;  // none: the landscape itself
  } cases[] = {{Circles({{0, 0, 1}, {30, 40, 4}}), {}},
               {Circles({{5, 5, 1}, {9, 9, 1}}), Circles({{0, 0, 1}, {30, 0, 2}, {0, 40, 3}})}};
  for (auto& c : cases) {
    Patches = c.Landscape;
    const tArrayOfCircles& analysed = c.Analysed.empty() ? Patches : c.Analysed;
    const size_t n = analysed.size();
    FindMetapopulationSize(param, analysed, 0, 10, 0, 10, 2, 3);
    const Eigen::MatrixXd m = Colonisation(analysed, param);
    const Eigen::VectorXd p = Equilibrium(m, 1, 0.5);
    const double size = SizeOf(analysed, param);
    EXPECT_NEAR(size, MetapopulationSize, 1e-10 * size) << n;
    std::vector<double> loss(n, size);
    for (size_t k = 0; k < n && n == 3; ++k) {
      const size_t i = (k + 1) % 3, j = (k + 2) % 3;
      const double a = m(i, j) / 0.5, b = m(j, i) / 0.5;
      loss[k] -= (a * b - 1) / (b * (1 + a)) * analysed[i].A + (a * b - 1) / (a * (1 + b)) * analysed[j].A;
    }
    const double total = std::accumulate(loss.begin(), loss.end(), 0.0);
    ASSERT_EQ(n, PatchSizeContributions.size());
    for (size_t i = 0; i < n; ++i) {
      EXPECT_NEAR(p(i), EquilibriumOccupancy[i], 1e-10);
      EXPECT_NEAR(loss[i] / total, PatchSizeContributions[i], 1e-9);
    }
    EXPECT_EQ(n, PatchValuesPerArea.size());
    EXPECT_EQ(tMatrixOfDouble(3, tVectorOfDouble(2, 0.0)), ResultMap);  // [column][row]
  }
}

TEST_F(Landscape, SensitivitiesFollowFiniteDifferencesOfTheSize) {
  Patches = RandomCircles(8, 6, 60);
  for (const tParam& param : {Rates(1, 0.5, 0.05, 1, 0.4, 0.6), Rates(1, 0.5, 0.05, 1, 0.2, 0.3)}) {
    FindMetapopulationSize(param, Patches, 0, 1, 0, 1, 1, 1);
    std::vector<double> derivative(6);
    for (int k = 0; k < 6; ++k) {
      tArrayOfCircles up = Patches, down = Patches;
      const double h = 1e-5 * Patches[k].A;
      up[k].A += h, down[k].A -= h;
      derivative[k] = (SizeOf(up, param) - SizeOf(down, param)) / (2 * h);
    }
    const double total = std::accumulate(derivative.begin(), derivative.end(), 0.0);
    for (int k = 0; k < 6; ++k) EXPECT_NEAR(derivative[k] / total, PatchSizeSensitivities[k], 1e-5) << k;
  }
}

TEST_F(Landscape, MetapopulationSizeWithoutColonisationOrASolvableSystem) {
  // Without extinction the linked pair fills up and the isolated patch keeps its
  // start of 0.1; J has a zero row there, so every sensitivity is 0.
  struct tCase {
    tArrayOfCircles Patches;
    Double c, e;
    tVectorOfDouble Occupancy, Without, Contributions;
  } cases[] = {
      {Circles({{0, 0, 1}, {1, 0, 2}, {0, 1, 3}}), 0, 1, {0, 0, 0}, {0, 0, 0}, {0, 0, 0}},
      {Circles({{0, 0, 1}, {1, 0, 2}, {1000, 0, 3}}),
       1,
       0,
       {1, 1, 0.1},
       {0.5, 0.4, 3},
       {2.8 / 6, 2.9 / 6, 0.3 / 6}},
      {Circles({{0, 0, 2}}), 1, 0.5, {0}, {0}, {0}},
  };
  for (const auto& c : cases) {
    Patches = c.Patches;
    HanskiMat = {{5, 1}, {2}};
    const tParam param = Rates(c.c, c.e, 1);
    FindMetapopulationSize(param, Patches, 0, 1, 0, 1, 1, 1);
    const tVectorOfDouble without =
        FindMetapopSizeMinusOnePatch(Patches, FromEigen(Colonisation(Patches, param)), param);
    for (size_t i = 0; i < Patches.size(); ++i) {
      EXPECT_NEAR(c.Occupancy[i], EquilibriumOccupancy[i], 1e-12) << c.c << ", " << c.e;
      EXPECT_NEAR(c.Without[i], without[i], 1e-12);
      EXPECT_NEAR(c.Contributions[i], PatchSizeContributions[i], 1e-12);
      EXPECT_TRUE(Patches.size() == 1 || PatchSizeSensitivities[i] == 0);
    }
    EXPECT_EQ((tMatrixOfDouble{{0, 1}, {2}}), HanskiMat);
  }
}

// ------------------------------------------------------------------ the integration to the last bit

struct tSeeded {
  int Patches, Seed;
  bool Defaults;  // else slow exponents and areas 1 to 10
  tArrayOfCircles Landscape() const {
    return Defaults ? testsupport::SeededLandscape(Patches, Seed)
                    : testsupport::SeededLandscape(Patches, Seed, 200, 1, 10);
  }
  tParam Param() const {
    return Defaults ? testsupport::SimpleDemoDefaults() : Rates(0.8, 0.3, 0.02, 1, 0.5, 0.5);
  }
};

// FNV-1a over the bits of the results.
uint64_t ResultDigest() {
  uint64_t hash = 14695981039346656037ull;
  auto add = [&hash](double value) {
    const uint64_t bits = std::bit_cast<uint64_t>(value);
    for (int i = 0; i < 8; ++i) {
      hash ^= static_cast<uint8_t>(bits >> (8 * i));
      hash *= 1099511628211ull;
    }
  };
  for (const double v : EquilibriumOccupancy) add(v);
  for (const double v : PatchSizeContributions) add(v);
  for (const double v : PatchSizeSensitivities) add(v);
  add(MetapopulationSize);
  return hash;
}

TEST_F(Landscape, MetapopulationSizeIsThatOfTheIntegrationBeforeItsSpeedUp) {
  // Here, and only here, the expected values are recorded output of older code:
  // the sizes and digests (occupancies, contributions, sensitivities and size,
  // bit for bit) were taken from the analysis as it stood before its Euler step
  // took eight rows at a time and the turns of a cycle were skipped, and the
  // analysis must give exactly what that one gave. Then 30 / 67 took 6 s (one
  // integration without a patch ran its 10,000,000 steps), 100 / 110 57 s.
  struct tCase {
    tSeeded Landscape;
    double Size;
    uint64_t Digest;
  } cases[] = {
      {{30, 3, true}, 0x1.14d038c65f09ap+9, 0x175504be30adb76dull},
      {{30, 67, true}, 0x1.2ffcffff721a3p+9, 0xdb2bf6e075e72a15ull},
      {{100, 1, true}, 0x1.317e7b9ab2c7p+11, 0x0787d640b275ff9eull},
      {{100, 110, true}, 0x1.2c1f6f8ff9aa1p+11, 0x0f61922acc3f513dull},
      {{5, 7, true}, 0x1.44c55de0d9379p+6, 0xe31a5153b2495794ull},
      {{20, 12, false}, 0x1.830a90ac58d85p+6, 0xae40990c62c2519cull},
      {{50, 7, false}, 0x1.1b0a92dfd7cc7p+8, 0x1739ad1273c21ee7ull},
  };
  for (const auto& c : cases) {
    Patches = c.Landscape.Landscape();
    FindMetapopulationSize(c.Landscape.Param(), Patches, 0, 200, 0, 200, 1, 1);
    EXPECT_EQ(c.Size, MetapopulationSize) << c.Landscape.Patches << " / " << c.Landscape.Seed;
    EXPECT_EQ(c.Digest, ResultDigest()) << c.Landscape.Patches << " / " << c.Landscape.Seed;
  }
}

// ------------------------------------------------------------------ messages, progress and stops

TEST(FindPequ, OffersMessagesAtLeastOncePerPumpOfWork) {
  // 100 patches without colonisation, each of area 100 with e = 0.5: p falls by
  // a factor 0.995 a step and never by less than 1e-200 a block, so the
  // integration counts its 30,000 steps, 300 blocks of 101 steps of 100 x 100
  // products each.
  const tArrayOfCircles patches(100, {0, 0, 0, 100, 0, 0});
  const tMatrixOfDouble none(100, tVectorOfDouble(100, 0.0));
  int64_t offers = 0;
  tAnalysisProgress progress;
  progress.Stopped = [&offers] { return ++offers, false; };
  const tVectorOfDouble p = FindPequ(patches, none, Rates(0, 0.5, 0, 1, 0, 1), progress);
  for (const double value : p) EXPECT_NEAR(0.1 * std::pow(0.995, 30300), value, 1e-9 * value);
  EXPECT_GE(offers, int64_t{300} * 101 * 100 * 100 / AnalysisWorkBetweenPumps);
}

TEST_F(Landscape, AnalysesReportTheirStagesAndStopWithTheirResultsAsTheyWere) {
  Patches = Circles({{0, 0, 1}, {30, 0, 2}, {0, 40, 3}, {30, 40, 4}});
  tParam param = Rates(1, 0.5, 0.02, 1, 0.5, 0);
  param.NewPatchArea = 2, param.Iteration = 3, param.PerCentBootstrap = 100;
  using tAnalysis = std::function<void(const tAnalysisProgress&)>;
  const tAnalysis size = [&](const tAnalysisProgress& p) {
    FindMetapopulationSize(param, Patches, 0, 1, 0, 1, 2, 2, p);
  };
  const tAnalysis capacity = [&](const tAnalysisProgress& p) {
    ComputeTestPosition(param, 0, 30, 0, 40, 3, 2, Patches, p);
  };
  const tAnalysis contribution = [&](const tAnalysisProgress& p) {
    FindMatB(param, Patches, 0, 30, 0, 40, 4, 2, p);
  };
  // Each stage as "stage:done/count", the stages in the order of tAnalysisStage.
  struct tCase {
    const char* Name;
    bool Bootstrap;
    const tAnalysis& Analysis;
    std::string Stages;
  } cases[] = {
      {"size", false, size, "0:0/0 1:1/4 1:2/4 1:3/4 1:4/4 "},
      {"capacity map", false, capacity, "2:0/0 4:1/3 4:2/3 4:3/3 "},
      {"bootstrap", true, capacity, "3:1/3 3:2/3 3:3/3 "},
      {"contribution map", false, contribution, "0:0/0 4:1/4 4:2/4 4:3/4 4:4/4 "},
  };
  for (const auto& c : cases) {
    param.bootstrap = c.Bootstrap;
    std::string stages;
    size_t started = 0, last = 0;
    tAnalysisProgress progress;
    progress.StageStarts = [&](tAnalysisStage stage, Integer done, Integer count) {
      ++started;
      stages += utile::Format("%d:%d/%d ", static_cast<Integer>(stage), done, count);
    };
    c.Analysis(progress);
    EXPECT_EQ(c.Stages, stages) << c.Name;

    // Stopped at the start of the last stage: every result global stays.
    last = std::exchange(started, 0);
    EquilibriumOccupancy = PatchValues = PatchValuesPerArea = ContributionEigenvector =
        PatchSizeContributions = PatchSizeSensitivities = {-7};
    LandscapeCapacity = MetapopulationSize = -7;
    ResultMap = ContributionMap = {{-7}};
    progress.Stopped = [&] { return started == last; };
    EXPECT_THROW(c.Analysis(progress), EAnalysisStopped) << c.Name;
    EXPECT_EQ(last, started) << c.Name;
    for (const tVectorOfDouble* v :
         {&EquilibriumOccupancy, &PatchValues, &PatchValuesPerArea, &ContributionEigenvector,
          &PatchSizeContributions, &PatchSizeSensitivities})
      EXPECT_EQ(tVectorOfDouble{-7}, *v) << c.Name;
    EXPECT_TRUE(LandscapeCapacity == -7 && MetapopulationSize == -7) << c.Name;
    EXPECT_TRUE(ResultMap == tMatrixOfDouble{{-7}} && ContributionMap == tMatrixOfDouble{{-7}}) << c.Name;
  }
}

// A 4 x 5 grid of cells 3 wide and 2 high over [0, 12] x [0, 10].
class GridMaps : public Landscape {
 protected:
  void SetUp() override {
    Landscape::SetUp();
    Patches = Circles({{2, 3, 2}, {7, 2, 1}, {5, 8, 3}, {9, 9, 1.5}});
    fParam = Rates(1, 0.2, 0.3, 1, 0.2, 0.6);
    fParam.NewPatchArea = 12;
    MaskFileName = fMask + utile::ImageExtension;
  }
  static double X(int col) { return 1.5 + 3 * col; }
  static double Y(int row) { return 1 + 2 * row; }

  void WriteMask(int cols, int rows, const std::vector<double>& cells) {
    utile::tRaster map;
    map.FileName = fMask, map.DataType = utile::idtByte, map.Columns = cols, map.Rows = rows;
    utile::TIdrisiFile file;
    map.OpenW(file);
    for (const double v : cells) utile::WriteRaster(file, static_cast<Single>(v));
    utile::CloseRaster(file);
    map.WriteDoc();
  }

  // HypotheticCapacity over the capacity, cell by cell, from the oracle's
  // eigenvectors scaled to a largest element of 1; the capacity and the patch
  // shares on the side.
  static std::vector<double> CapacityRatios(const tArrayOfCircles& p, const tParam& q, double& lambda,
                                            std::vector<double>& shares) {
    const Eigen::MatrixXd m = Colonisation(p, q);
    Eigen::VectorXd right, left;
    EigenDominant(m, lambda, right);
    EigenDominant(m.transpose(), lambda, left);
    shares.clear();
    for (size_t i = 0; i < p.size(); ++i) shares.push_back(right(i) * left(i) / right.dot(left));
    const double z = q.ZetaEm + q.ZetaIm + q.ZetaExt;
    std::vector<double> cells;
    for (int col = 0; col < 4; ++col)
      for (int row = 0; row < 5; ++row) {
        double sum = 0;
        for (size_t i = 0; i < p.size(); ++i)
          sum += std::exp(-2 * q.alph * std::hypot(X(col) - p[i].x, Y(row) - p[i].y)) * left(i) * right(i) *
                 std::pow(p[i].A, z);
        cells.push_back(std::pow(q.NewPatchArea, z) * sum / lambda / lambda);
      }
    return cells;
  }

  tParam fParam;
  testsupport::tTempFolder fFolder;
  std::string fMask = fFolder.File("mask");  // without its extension
};

TEST_F(GridMaps, CapacityAndContributionMapsWithAndWithoutAMask) {
  // Not symmetric top to bottom: the raster's first row is the grid's row 4.
  const std::vector<double> mask = {1, 0, 2, 1, 0, 1, 1, 0, 1, 1, 0, 0, 2, 0, 0, 1, 1, 1, 1, 1};
  WriteMask(4, 5, mask);
  const auto open = [&](int col, int row) { return mask[(4 - row) * 4 + col] == 1; };
  double lambda;
  std::vector<double> shares;
  const std::vector<double> ratios = CapacityRatios(Patches, fParam, lambda, shares);
  ASSERT_GT(*std::max_element(ratios.begin(), ratios.end()), 10);
  ASSERT_LT(*std::min_element(ratios.begin(), ratios.end()), 10);
  double perArea = 0;
  for (size_t i = 0; i < 4; ++i) perArea += shares[i] / Patches[i].A;
  for (const auto& [useMask, interface] : {std::pair{false, false}, {true, false}, {true, true}}) {
    SCOPED_TRACE(::testing::Message() << "mask " << useMask << ", interface " << interface);
    const bool masked = useMask && !interface;
    fParam.Mask = useMask, fParam.MapForInterface = interface;
    ComputeTestPosition(fParam, 0, 12, 0, 10, 4, 5, Patches);
    EXPECT_NEAR(lambda, LandscapeCapacity, 1e-10 * lambda);
    for (size_t i = 0; i < 4; ++i) {
      EXPECT_NEAR(shares[i], PatchValues[i], 1e-9);
      EXPECT_NEAR(shares[i] / Patches[i].A / perArea, PatchValuesPerArea[i], 1e-9);
    }
    for (int c = 0; c < 20; ++c) {
      const double expected = !masked || open(c / 5, c % 5) ? std::min(ratios[c], 10.0) : 0;
      EXPECT_NEAR(expected, ResultMap[c / 5][c % 5], 1e-9 * expected) << c;
    }
    // B's rows sum to one (ContributionMap is its transpose) and the weights are stationary.
    FindMatB(fParam, Patches, 0, 12, 0, 10, 4, 5);
    const tMatrixOfDouble& bt = ContributionMap;
    const tVectorOfDouble& pi = ContributionEigenvector;
    EXPECT_NEAR(1, std::accumulate(pi.begin(), pi.end(), 0.0), 1e-12);
    tVectorOfDouble w(4);
    for (size_t j = 0; j < 4; ++j) {
      EXPECT_NEAR(1, bt[0][j] + bt[1][j] + bt[2][j] + bt[3][j], 1e-12);
      EXPECT_NEAR(pi[j], bt[j][0] * pi[0] + bt[j][1] * pi[1] + bt[j][2] * pi[2] + bt[j][3] * pi[3], 1e-10);
      w[j] = pi[j] / EquilibriumOccupancy[j];
    }
    std::vector<double> cells(20);
    double largest = 0;
    for (int c = 0; c < 20; ++c) {
      cells[c] = hypotheticContribution(X(c / 5), Y(c % 5), fParam, Patches, EquilibriumOccupancy, w);
      if (masked && !open(c / 5, c % 5)) cells[c] = 0;
      largest = std::max(largest, cells[c]);
    }
    for (int c = 0; c < 20; ++c)
      EXPECT_NEAR(masked ? cells[c] / largest : cells[c], ResultMap[c / 5][c % 5], 1e-12 * cells[c]) << c;
  }
}

TEST_F(GridMaps, AMaskOfAnotherSizeIsRefused) {
  WriteMask(3, 2, {1, 1, 1, 1, 1, 1});
  fParam.Mask = true;
  ResultMap = {{7}};
  const std::string expected = "The mask map " + MaskFileName +
                               " has 3 columns and 2 rows; the map to compute has 4 columns and 5 rows.";
  EXPECT_EQ(expected, testsupport::MessageOf<utile::EInvalidOperation>(
                          [&] { ComputeTestPosition(fParam, 0, 12, 0, 10, 4, 5, Patches); }));
  EXPECT_EQ(expected, testsupport::MessageOf<utile::EInvalidOperation>(
                          [&] { FindMatB(fParam, Patches, 0, 12, 0, 10, 4, 5); }));
  EXPECT_EQ(tMatrixOfDouble{{7}}, ResultMap);
}

TEST_F(GridMaps, BootstrapDrawsItsSamplesInOrderAndAveragesTheRounds) {
  Patches.push_back(Patch(3, 6, 2.5));
  Patches.push_back(Patch(10, 4, 1));
  fParam.bootstrap = true, fParam.PerCentBootstrap = 50, fParam.Iteration = 4;  // 3 draws of 6 patches
  WriteMask(4, 5, std::vector<double>(20, 1));
  for (const bool masked : {false, true}) {
    fParam.Mask = masked;
    utile::SetSeeds(1, 1);
    ComputeTestPosition(fParam, 0, 12, 0, 10, 4, 5, Patches);
    auto replay = testsupport::tReferenceGenerator::FromSeeds(1, 1);
    std::vector<double> map(20, 0), shareSums(6, 0), rounds(6, 0);
    double capacity = 0;
    for (int r = 0; r < 4; ++r) {
      tArrayOfCircles sample;
      std::vector<size_t> drawn;
      for (int k = 0; k < 3; ++k) drawn.push_back((uint64_t{replay.Next()} * 6) >> 32);
      for (const size_t i : drawn) sample.push_back(Patches[i]);
      double lambda;
      std::vector<double> shares, last(6, -1);  // a patch drawn twice keeps its last share
      const std::vector<double> ratios = CapacityRatios(sample, fParam, lambda, shares);
      for (int k = 0; k < 3; ++k) last[drawn[k]] = shares[k];
      for (int i = 0; i < 6; ++i)
        if (last[i] >= 0) shareSums[i] += last[i], ++rounds[i];
      for (int c = 0; c < 20; ++c) map[c] += std::min(ratios[c], masked ? 1000.0 : 10.0) / 4;
      capacity += lambda / 4;
    }
    EXPECT_EQ((uint64_t{replay.Next()} * 1000) >> 32, utile::Ran(Integer{1000}));  // no other draw
    ASSERT_NE(rounds.end(), std::find(rounds.begin(), rounds.end(), 0.0));
    EXPECT_EQ(masked, *std::max_element(map.begin(), map.end()) > 10);
    EXPECT_NEAR(capacity, LandscapeCapacity, 1e-10 * capacity);
    for (int c = 0; c < 20; ++c) EXPECT_NEAR(map[c], ResultMap[c / 5][c % 5], 1e-9 * map[c]);
    double total = 0;
    for (int i = 0; i < 6; ++i) total += rounds[i] > 0 ? shareSums[i] / rounds[i] : 0;
    for (int i = 0; i < 6; ++i)
      EXPECT_NEAR(rounds[i] > 0 ? shareSums[i] / rounds[i] / total : -1, PatchValues[i], 1e-9) << i;
  }
}

TEST_F(GridMaps, MapsWithoutCapacityOrOccupancyAreZero) {
  struct tCase {
    tArrayOfCircles Patches;
    Double alph, c;
    Integer PerCent;  // of a bootstrap, when not 0
    bool NoCapacity, NoOccupancy;
  } cases[] = {
      {Circles({{5, 5, 1}}), 0.3, 1, 0, true, true},                             // one patch
      {Circles({{0, 0, 1}, {10, 0, 1}}), 100, 1, 0, true, true},                 // out of reach
      {RandomCircles(3, 4, 1), 0.3, 1, 25, true, false},                         // samples of one patch
      {Circles({{0, 0, 1}, {1, 0, 1}, {0, 1, 1}}), 0.3, 0.001, 0, false, true},  // extinct
  };
  WriteMask(4, 5, std::vector<double>(20, 1));
  const tMatrixOfDouble zero(4, tVectorOfDouble(5, 0.0));
  for (const auto& c : cases)
    for (const bool masked : {false, true}) {
      SCOPED_TRACE(::testing::Message() << c.Patches.size() << " patches, masked " << masked);
      Patches = c.Patches;
      tParam param = Rates(c.c, 1, c.alph);
      param.NewPatchArea = 1, param.Mask = masked;
      param.bootstrap = c.PerCent > 0, param.PerCentBootstrap = c.PerCent, param.Iteration = 3;
      if (c.NoCapacity) {
        ComputeTestPosition(param, 0, 12, 0, 10, 4, 5, Patches);
        EXPECT_EQ(zero, ResultMap);
        for (const Double v : PatchValues) EXPECT_TRUE(v == 0 || v == -1) << v;
      }
      if (c.NoOccupancy) {
        FindMatB(param, Patches, 0, 12, 0, 10, 4, 5);
        EXPECT_EQ(zero, ResultMap);
        EXPECT_EQ(tVectorOfDouble(Patches.size(), 0.0), ContributionEigenvector);
        EXPECT_EQ(tMatrixOfDouble(Patches.size(), tVectorOfDouble(Patches.size(), 0.0)), ContributionMap);
      }
    }
}

TEST(HypotheticContribution, AtAPointOfTwoPatches) {
  // (0, 4) lies 4 from (0, 0) and 3 from (3, 4): kernels 1/16 and 1/8. With
  // p = (1/2, 1/4), w = (1, 2), areas 1 and 4 and exponents 1, 0, 1/2:
  // S1 = 1/32 + 1/8, S2 = 1/32 + 3/8, and (c / e)^2 x 4^1.5 = 32.
  const tArrayOfCircles two = Circles({{0, 0, 1}, {3, 4, 4}});
  struct tCase {
    Double c, e;
    tArrayOfCircles Patches;
    Double Expected;
  } cases[] = {{1, 0.5, two, 32 * (5.0 / 32) * (13.0 / 32)},
               {1, 0, two, 0},
               {0, 0.5, two, 0},
               {1, 0.5, Circles({{0, 0, 1}}), 0}};
  for (const auto& c : cases) {
    tParam param = Rates(c.c, c.e, std::log(2.0), 1, 0, 0.5);
    param.NewPatchArea = 4;
    EXPECT_NEAR(c.Expected, hypotheticContribution(0, 4, param, c.Patches, {0.5, 0.25}, {1, 2}), 1e-14);
  }
}

TEST(SpreadAggregateValues, FindsThePatchesByTheirPopID) {
  // Patches numbered 7, 3, 12, 40 in this order; the first aggregate holds 3
  // (a quarter) and 7, the second 12 and a popID that no patch has.
  tArrayOfCircles patches(4);
  const Integer ids[] = {7, 3, 12, 40};
  for (size_t i = 0; i < 4; ++i) patches[i].popID = ids[i];
  const tAggregateComposition composition = {{{3, 0.25f}, {7, 0.75f}}, {{12, 0.5f}, {99, 0.5f}}};
  struct tCase {
    tVectorOfDouble Aggregates;
    bool Shares;
    tVectorOfDouble Expected;
  } cases[] = {{{0.5, 0.25}, true, {0.375, 0.125, 0.125, 0}},
               {{0.5, 0.25}, false, {0.5, 0.5, 0.25, 0}},
               {{-1, 0.5}, true, {-1, -1, 0.25, 0}},
               {{0.5}, true, {0.375, 0.125, 0, 0}}};
  for (const auto& c : cases)
    EXPECT_EQ(c.Expected, SpreadAggregateValues(c.Aggregates, composition, patches, c.Shares));
}
}  // namespace
