#include <gtest/gtest.h>

#include <Eigen/Dense>
#include <Eigen/Eigenvalues>
#include <cmath>
#include <random>

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

}  // namespace
