#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <iomanip>
#include <limits>
#include <numbers>
#include <numeric>

#include "TestSupport/ExceptionMessages.h"
#include "TestSupport/ReferenceGenerator.h"
#include "TestSupport/StatisticalChecks.h"
#include "Utile/MatrixOps.h"
#include "Utile/RandomFunctions.h"
#include "Utile/RunTime.h"
#include "Utile/SamplingOps.h"

using namespace utile;
using testsupport::CountsFit;
using testsupport::FollowsDistribution;
using testsupport::LanczosGammaLog;
using testsupport::MeanIsNear;
using testsupport::ProportionIsNear;
using testsupport::tReferenceGenerator;
using testsupport::VarianceIsNear;

namespace {

// What the generator holds before any test draws: captured while the test
// program starts, before main.
const random_detail::tRandomState gStartUpState = random_detail::gState;

std::vector<double> Draw(int n, const std::function<double()>& draw) {
  std::vector<double> v(n);
  for (auto& x : v) x = draw();
  return v;
}

double PoissonProbability(int k, double mean) {
  return std::exp(k * std::log(mean) - mean - std::lgamma(k + 1.0));
}

class RandomFunctionsTest : public ::testing::Test {
 protected:
  void SetUp() override { SetSeeds(20, 3); }
};

TEST(RandomFunctionsStartUp, StateEqualsSetSeeds20And3) {
  tReferenceGenerator expected(20u * 10000u + 3u);
  const auto& w = gStartUpState.Words;
  EXPECT_EQ(expected.x[0], w.x0);
  EXPECT_EQ(expected.x[1], w.x1);
  EXPECT_EQ(expected.x[2], w.x2);
  EXPECT_EQ(expected.x[3], w.x3);
  EXPECT_EQ(expected.carry, w.carry);
  EXPECT_EQ(20, gStartUpState.Seed1);
  EXPECT_EQ(3, gStartUpState.Seed2);
  EXPECT_FALSE(gStartUpState.GaussCached);
  EXPECT_EQ(-1.0, gStartUpState.PoissonMean);

  // And SetSeeds(20, 3) later gives that same stream.
  SetSeeds(20, 3);
  for (int i = 0; i < 1000; ++i) ASSERT_EQ(expected.U(), static_cast<double>(Uniform())) << "draw " << i;
  EXPECT_EQ(20, Seed1());
  EXPECT_EQ(3, Seed2());
}

TEST_F(RandomFunctionsTest, SeedsCombineWithThirtyTwoBitWrapAround) {
  struct tCase {
    int32_t seed1, seed2;
  } const cases[] = {{1, 2}, {0, 0}, {-1, 5}, {214748, 3647}, {429497, 0}, {2147483647, -2147483647 - 1}};
  for (const auto& c : cases) {
    const uint32_t combined = static_cast<uint32_t>(c.seed1) * 10000u + static_cast<uint32_t>(c.seed2);
    tReferenceGenerator expected(combined);
    SetSeeds(c.seed1, c.seed2);
    EXPECT_EQ(c.seed1, Seed1());
    EXPECT_EQ(c.seed2, Seed2());
    for (int i = 0; i < 50; ++i)
      ASSERT_EQ(expected.U(), static_cast<double>(Uniform())) << c.seed1 << " " << c.seed2;
  }
}

TEST_F(RandomFunctionsTest, SeedZeroActsAsAllOnes) {
  MRandSeed(0);
  const auto a = Draw(20, [] { return static_cast<double>(Uniform()); });
  MRandSeed(0xFFFFFFFFu);
  const auto b = Draw(20, [] { return static_cast<double>(Uniform()); });
  EXPECT_EQ(a, b);
}

TEST_F(RandomFunctionsTest, SameSeedsGiveTheSameStreamWhateverWasHalfUsed) {
  auto run = [] {
    std::vector<double> v;
    for (int i = 0; i < 30; ++i) {
      v.push_back(GaussRan());
      v.push_back(PoissonRan(3.5));
      v.push_back(PoissonRan(40));
      v.push_back(Ran());
      v.push_back(Ran(7));
      v.push_back(bnldev(0.3, 60));
      v.push_back(HypergeometricRan(10, 20, 50));
    }
    return v;
  };
  SetSeeds(4, 2);
  const auto first = run();
  // A Gauss pair half used, and the Poisson cache holding the same and other means.
  SetSeeds(9, 9);
  GaussRan();
  PoissonRan(3.5);
  PoissonRan(40.5);
  SetSeeds(4, 2);
  EXPECT_EQ(first, run());
  SetSeeds(9, 9);
  GaussRan();
  PoissonRan(40);
  SetSeeds(4, 2);
  EXPECT_EQ(first, run());
}

TEST_F(RandomFunctionsTest, RanOverloadsMapTheDrawAndNeverReachTheirUpperBound) {
  SetSeeds(6, 6);
  tReferenceGenerator g(6u * 10000u + 6u);
  for (int i = 0; i < 2000; ++i) {
    const uint64_t x = g.Next();
    ASSERT_EQ(static_cast<Integer>((x * 10) >> 32), Ran(Integer(10)));
    const uint64_t y = g.Next();
    ASSERT_EQ(-static_cast<Integer>((y * 7) >> 32), Ran(Integer(-7)));
    const uint64_t z = g.Next();
    ASSERT_EQ(static_cast<Cardinal>((z * 4000000000ull) >> 32), Ran(Cardinal(4000000000u)));
    const uint64_t w = g.Next();
    ASSERT_EQ(5u + static_cast<Cardinal>((w * 3) >> 32), Ran(Cardinal(5), Cardinal(8)));
  }
  std::vector<double> seen(3, 0.0);
  for (int i = 0; i < 30000; ++i) {
    const Cardinal c = Ran(Cardinal(5), Cardinal(8));
    ASSERT_TRUE(c >= 5 && c < 8) << c;
    seen[c - 5] += 1;
    const double u = Ran();
    ASSERT_TRUE(u >= 0 && u < 1) << u;
    const double r = Ran(-2.0, 3.0);
    ASSERT_TRUE(r >= -2 && r < 3) << r;
  }
  EXPECT_TRUE(CountsFit(seen, {1.0 / 3, 1.0 / 3, 1.0 / 3}));
  EXPECT_EQ(0, Ran(Integer(0)));
  EXPECT_EQ(0u, Ran(Cardinal(0)));
  // Where the range is narrow beside the bounds, the sum would round up to Max.
  const double low = 1e16, high = 1e16 + 2;
  for (int i = 0; i < 1000; ++i) {
    const double r = Ran(low, high);
    ASSERT_TRUE(r >= low && r < high) << std::setprecision(17) << r;
  }
}

TEST_F(RandomFunctionsTest, UniformMoments) {
  const auto u = Draw(400000, [] { return static_cast<double>(Uniform()); });
  EXPECT_TRUE(MeanIsNear(u, 0.5, 1.0 / 12));
  EXPECT_TRUE(VarianceIsNear(u, 1.0 / 12));
  std::vector<double> cubes(u.size());
  std::transform(u.begin(), u.end(), cubes.begin(), [](double x) { return x * x * x; });
  EXPECT_TRUE(MeanIsNear(cubes, 0.25, 1.0 / 7 - 1.0 / 16));
  EXPECT_TRUE(FollowsDistribution(u, [](double x) { return std::clamp(x, 0.0, 1.0); }));
  // Successive pairs fall evenly into the cells of a 4 x 4 grid.
  std::vector<double> cells(16, 0.0);
  for (size_t i = 0; i + 1 < u.size(); i += 2)
    cells[static_cast<int>(u[i] * 4) * 4 + static_cast<int>(u[i + 1] * 4)] += 1;
  EXPECT_TRUE(CountsFit(cells, std::vector<double>(16, 1.0 / 16)));
}

TEST_F(RandomFunctionsTest, GaussRanIsThePolarMethodOverTheStream) {
  SetSeeds(8, 1);
  tReferenceGenerator g(8u * 10000u + 1u);
  for (int i = 0; i < 200; ++i) {
    double a, b, r;
    do {
      a = 2 * g.U() - 1;
      b = 2 * g.U() - 1;
      r = a * a + b * b;
    } while (!(r > 0 && r < 1));
    const double f = std::sqrt(-2 * std::log(r) / r);
    ASSERT_DOUBLE_EQ(b * f, GaussRan());
    ASSERT_DOUBLE_EQ(a * f, GaussRan());
  }
}

TEST_F(RandomFunctionsTest, GaussRanFollowsTheNormalDistribution) {
  const auto z = Draw(200000, [] { return GaussRan(); });
  EXPECT_TRUE(MeanIsNear(z, 0, 1));
  EXPECT_TRUE(VarianceIsNear(z, 1));
  EXPECT_TRUE(FollowsDistribution(z, [](double x) { return 0.5 * std::erfc(-x / std::numbers::sqrt2); }));
  const auto y = Draw(100000, [] { return GaussRan(10, 3); });
  EXPECT_TRUE(MeanIsNear(y, 10, 9));
  EXPECT_TRUE(VarianceIsNear(y, 9));
}

TEST_F(RandomFunctionsTest, PoissonMeansAndVariancesWithBothMethods) {
  // 11.9 is the largest tested mean of the product method, 12 the smallest of the
  // rejection method.
  for (double mean : {0.5, 5.0, 11.9, 12.0, 50.0, 5000.0}) {
    SetSeeds(12, static_cast<int>(mean * 10));
    const auto k = Draw(100000, [mean] { return static_cast<double>(PoissonRan(mean)); });
    EXPECT_TRUE(MeanIsNear(k, mean, mean)) << mean;
    EXPECT_TRUE(VarianceIsNear(k, mean)) << mean;
    if (mean <= 50) {
      const int classes = static_cast<int>(mean * 3 + 10);
      std::vector<double> counts(classes, 0.0), pr(classes);
      for (double x : k) counts[std::min(static_cast<int>(x), classes - 1)] += 1;
      double below = 0;
      for (int i = 0; i < classes - 1; ++i) below += pr[i] = PoissonProbability(i, mean);
      pr.back() = 1 - below;
      EXPECT_TRUE(CountsFit(counts, pr)) << mean;
    }
  }
}

TEST_F(RandomFunctionsTest, PoissonProductMethodOverTheStream) {
  SetSeeds(2, 9);
  tReferenceGenerator g(2u * 10000u + 9u);
  for (int i = 0; i < 500; ++i) {
    const double limit = std::exp(-3.0);
    int em = -1;
    double t = 1;
    do {
      ++em;
      t *= g.U();
    } while (t > limit);
    ASSERT_EQ(em, PoissonRan(3.0));
  }
}

TEST_F(RandomFunctionsTest, PoissonRejectionMethodOverTheStream) {
  // From a mean of 12 on: a Lorentzian proposal (redrawn while negative), then a
  // fresh uniform against the acceptance ratio; a negative mean negates the deviate.
  for (double mean : {12.0, 12.5, 40.0, 1000.0, -30.0}) {
    SetSeeds(2, 17);
    tReferenceGenerator g = tReferenceGenerator::FromSeeds(2, 17);
    const double m = std::fabs(mean);
    const double sq = std::sqrt(2 * m), alxm = std::log(m), lim = m * alxm - LanczosGammaLog(m + 1);
    for (int i = 0; i < 500; ++i) {
      double em, t;
      do {
        double y;
        do {
          y = std::tan(std::numbers::pi * g.U());
          em = sq * y + m;
        } while (em < 0);
        em = std::floor(em);
        t = 0.9 * (1 + y * y) * std::exp(em * alxm - LanczosGammaLog(em + 1) - lim);
      } while (g.U() > t);
      ASSERT_EQ(static_cast<int>(mean < 0 ? -em : em), PoissonRan(mean)) << mean << ", draw " << i;
    }
    // Nothing more was drawn than the method needs.
    EXPECT_EQ(g.U(), Ran()) << mean;
  }
}

TEST_F(RandomFunctionsTest, DiscreteRanDrawsOneUniformAgainstTheCumulatedPositiveClasses) {
  const tVectorOfDouble p = {0.25, 0, 1.5, -2, 0.75, 3};
  const int index[] = {0, 2, 4, 5};  // the positive classes
  const double bounds[] = {0, 0.25, 1.75, 2.5, 5.5};
  SetSeeds(13, 13);
  tReferenceGenerator g = tReferenceGenerator::FromSeeds(13, 13);
  for (int i = 0; i < 2000; ++i) {
    const double x = g.U() * 5.5;
    int k = 0;
    while (k + 1 < 4 && bounds[k + 1] <= x) ++k;
    ASSERT_EQ(index[k], DiscreteRan(p)) << "draw " << i;
  }
  EXPECT_EQ(g.U(), Ran());
}

TEST_F(RandomFunctionsTest, PoissonEdgeCases) {
  for (int i = 0; i < 100; ++i) ASSERT_EQ(0, PoissonRan(0));
  for (double mean : {3.0, 30.0}) {
    SetSeeds(1, 2);
    const auto positive = Draw(50, [mean] { return static_cast<double>(PoissonRan(mean)); });
    SetSeeds(1, 2);
    const auto negative = Draw(50, [mean] { return static_cast<double>(PoissonRan(-mean)); });
    for (size_t i = 0; i < positive.size(); ++i) EXPECT_EQ(-positive[i], negative[i]);
  }
  for (double mean : {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(),
                      -std::numeric_limits<double>::infinity(), 1e300})
    EXPECT_THROW(PoissonRan(mean), EInvalidArgument) << mean;
}

TEST_F(RandomFunctionsTest, DiscreteRanDrawsOnlyPositiveClassesInProportion) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  size_t ones = 0;
  for (int i = 0; i < 20000; ++i) {
    const Integer k = DiscreteRan({0, 0.5, -1, 0.5, nan});
    ASSERT_TRUE(k == 1 || k == 3) << k;
    if (k == 1) ++ones;
  }
  EXPECT_TRUE(ProportionIsNear(ones, 20000, 0.5));
  std::vector<double> counts(5, 0.0);
  for (int i = 0; i < 50000; ++i) counts[DiscreteRan({1, 2, 0, 3, 4})] += 1;
  EXPECT_TRUE(CountsFit(counts, {0.1, 0.2, 0, 0.3, 0.4}));
  EXPECT_EQ(-1, DiscreteRan({0, 0}));
  EXPECT_EQ(-1, DiscreteRan({}));
  EXPECT_EQ(-1, DiscreteRan({-1, nan}));
  EXPECT_EQ(2, DiscreteRan({0, -4, 1e-300}));
}

TEST_F(RandomFunctionsTest, ShuffleVectorDrawsWithoutReplacementInStreamOrder) {
  const tVectorOfCardinal original = {10, 11, 12, 13, 14};
  struct tCase {
    Integer k;
    size_t drawn;
  } const cases[] = {{-1, 5}, {5, 5}, {2, 2}, {0, 0}};
  for (const auto& c : cases) {
    SetSeeds(3, c.k + 10);
    tReferenceGenerator g(3u * 10000u + static_cast<uint32_t>(c.k + 10));
    tVectorOfCardinal pool = original, expected(original.size(), 0);
    uint64_t n = pool.size();
    for (size_t i = 0; i < c.drawn; ++i) {
      const size_t j = static_cast<size_t>((g.Next() * n) >> 32);
      expected[i] = pool[j];
      pool[j] = pool[n - 1];
      --n;
    }
    tVectorOfCardinal v = original;
    ShuffleVector(v, c.k);
    EXPECT_EQ(expected, v) << c.k;
    if (c.k < 0) {
      EXPECT_TRUE(std::is_permutation(v.begin(), v.end(), original.begin()));
    }
  }
  tVectorOfCardinal v = original;
  try {
    ShuffleVector(v, 6);
    FAIL() << "no exception";
  } catch (const EAssertionFailed& e) {
    EXPECT_EQ(0u,
              std::string(e.what()).find("Error in ShuffleVector: k > N (Utile/RandomFunctions.cpp, line "));
  }
  // Every element is equally likely to be drawn first.
  std::vector<double> first(5, 0.0);
  for (int i = 0; i < 20000; ++i) {
    tVectorOfCardinal w = original;
    ShuffleVectorHead(w, 1);
    first[w[0] - 10] += 1;
  }
  EXPECT_TRUE(CountsFit(first, std::vector<double>(5, 0.2)));
}

TEST_F(RandomFunctionsTest, RandomVectorsAndSamplerWrappers) {
  const tVectorOfCardinal v = RandomVectorOfCardinal(1000, 3, 9);
  ASSERT_EQ(1000u, v.size());
  for (Cardinal x : v) ASSERT_TRUE(x >= 3 && x < 9) << x;
  EXPECT_TRUE(RandomVectorOfCardinal(0, 3, 9).empty());

  SetSeeds(5, 1);
  const tVectorOfInteger viaWrapper = MultinomialRan(30, {0.2, 0.3, 0.5});
  SetSeeds(5, 1);
  EXPECT_EQ(Multinomial(30, {0.2, 0.3, 0.5}), viaWrapper);

  SetSeeds(5, 2);
  const tVectorOfCardinal sample = MultiHypergeometricRan(6, {4, 5, 6}, false);
  SetSeeds(5, 2);
  tVectorOfCardinal direct;
  MultiHypergeometric({4, 5, 6}, direct, 6, false);
  EXPECT_EQ(direct, sample);
}

// ------------------------------------------------------------ autocorrelated fields

// The field's steps as written, with a fresh inversion of the kriging matrix for
// every point.
void PlainNetworkRan(const t2DPoints& points, double mean, double sd, double c0, double range,
                     tVectorOfDouble& values, tMatrixOfDouble& corr) {
  const int n = static_cast<int>(points.size());
  corr.assign(n, tVectorOfDouble(n));
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j) {
      const double dx = points[i].x - points[j].x, dy = points[i].y - points[j].y;
      corr[i][j] = c0 * std::exp(-3 * (dx * dx + dy * dy) / (range * range));
    }
  std::vector<int> order(n);
  std::iota(order.begin(), order.end(), 0);
  for (int k = 0; k < n / 2; ++k) {
    const int i = static_cast<int>(Uniform() * n);
    const int j = static_cast<int>(Uniform() * n);
    std::swap(order[i], order[j]);
  }
  values.assign(n, 0);
  values[order[0]] = GaussRan(0, 1);
  for (int k = 1; k < n; ++k) {
    tMatrixOfDouble kriging(k, tVectorOfDouble(k));
    tVectorOfDouble c(k);
    for (int a = 0; a < k; ++a) {
      c[a] = corr[order[k]][order[a]];
      for (int b = 0; b < k; ++b) kriging[a][b] = corr[order[a]][order[b]];
    }
    tMatrixOfDouble inverse;
    try {
      inverse = InvertMat(kriging);
    } catch (const EMathError&) {
      values[order[k]] = GaussRan(0, 1);
      continue;
    }
    double m = 0, s = 0;
    for (int a = 0; a < k; ++a) {
      double w = 0;
      for (int b = 0; b < k; ++b) w += inverse[a][b] * c[b];
      m += w * values[order[a]];
      s += w * c[a];
    }
    values[order[k]] = 1 - s < 0 ? m : GaussRan(m, std::sqrt(1 - s));
  }
  for (double& v : values) v = v * sd + mean;
}

// Points on a grid of spacing 10, each moved by up to 1 in x and y.
t2DPoints JitteredGrid(int n, int columns) {
  t2DPoints points(n);
  for (int i = 0; i < n; ++i)
    points[i] = {10.0 * (i % columns) + Ran(-1.0, 1.0), 10.0 * (i / columns) + Ran(-1.0, 1.0)};
  return points;
}

TEST_F(RandomFunctionsTest, NetworkRanOfOnePointIsOneScaledNormalDraw) {
  SetSeeds(4, 9);
  tVectorOfDouble values;
  tMatrixOfDouble corr;
  NetworkRan({{3, 4}}, 5, 2, 0.7, 10, values, corr);
  // The polar method's first deviate is b x f of the first accepted pair.
  tReferenceGenerator g = tReferenceGenerator::FromSeeds(4, 9);
  double a, b, r;
  do {
    a = 2 * g.U() - 1;
    b = 2 * g.U() - 1;
    r = a * a + b * b;
  } while (!(r > 0 && r < 1));
  EXPECT_DOUBLE_EQ(5 + 2 * b * std::sqrt(-2 * std::log(r) / r), values.at(0));
  EXPECT_EQ((tMatrixOfDouble{{0.7}}), corr);
}

TEST_F(RandomFunctionsTest, NetworkRanRangeZeroRaisesAndChangesNothing) {
  tVectorOfDouble values = {7};
  tMatrixOfDouble corr = {{9}};
  for (double range : {0.0, std::nan("")}) {
    SetSeeds(1, 1);
    EXPECT_EQ("Autocorrelation range must be greater than zero.", testsupport::MessageOf<ERangeError>([&] {
                NetworkRan({{0, 0}, {1, 1}}, 0, 1, 1, range, values, corr);
              }));
    EXPECT_EQ(tVectorOfDouble{7}, values);
    EXPECT_EQ(tMatrixOfDouble{{9}}, corr);
    const double next = Ran();
    SetSeeds(1, 1);
    EXPECT_EQ(Ran(), next);  // nothing drawn
  }
}

TEST_F(RandomFunctionsTest, NetworkRanMatchesThePlainKrigingOnRegularFields) {
  for (int n : {2, 3, 5, 8, 13, 21, 30}) {
    for (double rangeFactor : {0.5, 1.0, 1.6}) {
      SetSeeds(n, 77);
      const t2DPoints points = JitteredGrid(n, 6);
      // Twice the smallest spacing at most (spacing is at least 8).
      const double range = 10 * rangeFactor;
      SetSeeds(3, n);
      tVectorOfDouble expected, actual;
      tMatrixOfDouble expectedCorr, actualCorr;
      PlainNetworkRan(points, 1.5, 0.5, 1, range, expected, expectedCorr);
      const double expectedNext = Ran(), expectedNormal = GaussRan();
      SetSeeds(3, n);
      NetworkRan(points, 1.5, 0.5, 1, -range, actual, actualCorr);  // the sign of Range has no effect
      ASSERT_EQ(expected.size(), actual.size());
      for (int i = 0; i < n; ++i) {
        EXPECT_NEAR(expected[i], actual[i], 1e-8) << n << " points, range " << range << ", point " << i;
        for (int j = 0; j < n; ++j) EXPECT_NEAR(expectedCorr[i][j], actualCorr[i][j], 1e-15);
      }
      EXPECT_EQ(expectedNext, Ran()) << n;
      EXPECT_EQ(expectedNormal, GaussRan()) << n;
    }
  }
}

TEST_F(RandomFunctionsTest, NetworkRanCorrelatesAsItsModel) {
  // Two points Range / 2 apart correlate by exp(-3 / 4); the estimate's standard
  // error is (1 - rho^2) / sqrt(N).
  constexpr int Fields = 20000;
  const double rho = std::exp(-0.75);
  double sxy = 0, sx = 0, sy = 0, sxx = 0, syy = 0;
  tVectorOfDouble values;
  tMatrixOfDouble corr;
  for (int f = 0; f < Fields; ++f) {
    NetworkRan({{0, 0}, {3, 4}}, 0, 1, 1, 10, values, corr);
    sx += values[0];
    sy += values[1];
    sxx += values[0] * values[0];
    syy += values[1] * values[1];
    sxy += values[0] * values[1];
  }
  const double cov = sxy / Fields - sx * sy / Fields / Fields;
  const double r = cov / std::sqrt((sxx / Fields - sx * sx / Fields / Fields) *
                                   (syy / Fields - sy * sy / Fields / Fields));
  EXPECT_NEAR(rho, r, 5 * (1 - rho * rho) / std::sqrt(Fields));

  // Ten points: every covariance, variances included, at five standard errors
  // of a product of two standard normals, sqrt((1 + rho^2) / N).
  const t2DPoints points = {{0, 0},  {4, 1},  {9, 3},  {2, 7},  {13, 12},
                            {6, 14}, {17, 4}, {11, 9}, {1, 18}, {8, 20}};
  const int n = static_cast<int>(points.size());
  tMatrixOfDouble products(n, tVectorOfDouble(n));
  for (int f = 0; f < Fields; ++f) {
    NetworkRan(points, 0, 1, 1, 12, values, corr);
    for (int i = 0; i < n; ++i)
      for (int j = 0; j <= i; ++j) products[i][j] += values[i] * values[j];
  }
  for (int i = 0; i < n; ++i)
    for (int j = 0; j <= i; ++j) {
      const double dx = points[i].x - points[j].x, dy = points[i].y - points[j].y;
      const double expected = std::exp(-3 * (dx * dx + dy * dy) / 144);
      EXPECT_NEAR(expected, products[i][j] / Fields, 5 * std::sqrt((1 + expected * expected) / Fields))
          << i << "," << j;
    }
}

TEST_F(RandomFunctionsTest, NetworkRanGivesCoincidentPointsOneValue) {
  struct tCase {
    t2DPoints points;
    double tolerance;  // between points 0, 2 and 4
  };
  // Three patches at one place share one value; a patch 1e-9 away differs only
  // as its correlations to the others do.
  for (const tCase& c :
       std::initializer_list<tCase>{{{{5, 5}, {20, 0}, {5, 5}, {12, 9}, {5, 5}, {30, 30}}, 1e-12},
                                    {{{5, 5}, {20, 0}, {5, 5}, {12, 9}, {5.0 + 1e-9, 5}, {30, 30}}, 1e-6}}) {
    tVectorOfDouble values;
    tMatrixOfDouble corr;
    std::vector<double> later;
    for (int seed = 1; seed <= 200; ++seed) {
      SetSeeds(seed, 5);
      NetworkRan(c.points, 2, 3, 1, 15, values, corr);
      ASSERT_NEAR(values[0], values[2], c.tolerance) << seed;
      ASSERT_NEAR(values[0], values[4], c.tolerance) << seed;
      for (double v : values) ASSERT_TRUE(std::isfinite(v));
      later.push_back((values[5] - 2) / 3);
    }
    // The points after them are still drawn from their own distribution (a far
    // point: nearly a standard normal).
    EXPECT_TRUE(MeanIsNear(later, 0, 1));
    EXPECT_TRUE(VarianceIsNear(later, 1));
  }
}

}  // namespace
