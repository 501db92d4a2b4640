#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numbers>
#include <numeric>

#include "TestSupport/ReferenceGenerator.h"
#include "TestSupport/StatisticalChecks.h"
#include "Utile/RandomFunctions.h"
#include "Utile/RunTime.h"
#include "Utile/SamplingOps.h"

using namespace utile;
using testsupport::CountsFit;
using testsupport::LanczosGammaLog;
using testsupport::MeanIsNear;
using testsupport::tReferenceGenerator;

namespace {

// Exact probabilities worked out with the standard library's log-gamma, apart
// from the code under test.
double LnChoose(double n, double k) {
  return std::lgamma(n + 1) - std::lgamma(k + 1) - std::lgamma(n - k + 1);
}

std::vector<double> BinomialProbabilities(int n, double p) {
  std::vector<double> pr(n + 1);
  for (int k = 0; k <= n; ++k) pr[k] = std::exp(LnChoose(n, k) + k * std::log(p) + (n - k) * std::log1p(-p));
  return pr;
}

std::vector<double> HypergeometricProbabilities(int n, int m, int nn) {
  std::vector<double> pr(n + 1, 0.0);
  for (int k = 0; k <= n; ++k)
    if (k <= m && n - k <= nn - m)
      pr[k] = std::exp(LnChoose(m, k) + LnChoose(nn - m, n - k) - LnChoose(nn, n));
  return pr;
}

template <class tDraw>
std::vector<double> Histogram(int classes, int draws, tDraw draw) {
  std::vector<double> counts(classes, 0.0);
  for (int i = 0; i < draws; ++i) {
    const int x = draw();
    if (x < 0 || x >= classes) {
      ADD_FAILURE() << "draw " << x << " outside 0.." << classes - 1;
      continue;
    }
    counts[x] += 1;
  }
  return counts;
}

// ------------------------------------------------------------------ replays
// The published methods written out again over the reference stream, so that the
// samplers are held to the exact sequence of uniforms they consume.

// Binomial deviate by rejection from a Lorentzian (n >= 25, n p >= 1).
int ReplayBinomialRejection(double pp, int n, tReferenceGenerator& g) {
  const double p = pp <= 0.5 ? pp : 1 - pp;
  const double am = n * p, en = n, pc = 1 - p;
  const double oldg = LanczosGammaLog(en + 1), plog = std::log(p), pclog = std::log(pc);
  const double sq = std::sqrt(2 * am * pc);
  double em, t;
  do {
    double y;
    do {
      y = std::tan(std::numbers::pi * g.U());
      em = sq * y + am;
    } while (em < 0 || em >= en + 1);
    em = std::floor(em);
    t = 1.2 * sq * (1 + y * y) *
        std::exp(oldg - LanczosGammaLog(em + 1) - LanczosGammaLog(en - em + 1) + em * plog +
                 (en - em) * pclog);
  } while (g.U() > t);
  return p != pp ? n - static_cast<int>(em) : static_cast<int>(em);
}

double ReplayLnFac(int n) {
  if (n < 50) {
    double sum = 0;
    for (int i = 2; i <= n; ++i) sum += std::log(double(i));
    return sum;
  }
  const double r = 1.0 / n;
  return (n + 0.5) * std::log(double(n)) - n + 0.9189385332046727 + r * (1.0 / 12 - r * r / 360);
}

// Chop-down inversion from the mode, alternating downwards and upwards, then
// upwards alone to the bound (0 < n <= m <= NN/2).
int ReplayInversion(int n, int m, int nn, tReferenceGenerator& g) {
  const int l = nn - m - n;
  const double mp = m + 1, np = n + 1, l1 = l;
  const double p = mp / (nn + 2.0), modef = np * p;
  int mode = static_cast<int>(modef), modeP;
  if (mode == modef && p == 0.5)
    modeP = mode--;
  else
    modeP = mode + 1;
  const double fm = std::exp(ReplayLnFac(nn - m) - ReplayLnFac(l + mode) - ReplayLnFac(n - mode) +
                             ReplayLnFac(m) - ReplayLnFac(m - mode) - ReplayLnFac(mode) - ReplayLnFac(nn) +
                             ReplayLnFac(nn - n) + ReplayLnFac(n));
  int bound = static_cast<int>(modef + 11 * std::sqrt(modef * (1 - p) * (1 - n / double(nn)) + 1));
  if (bound > n) bound = n;
  for (;;) {
    double u = g.U();
    if ((u -= fm) <= 0) return mode;
    double c = fm, d = fm, k1 = modeP - 1, k2 = mode + 1;
    int i;
    for (i = 1; i <= mode; ++i, --k1, ++k2) {
      double divisor = (np - k1) * (mp - k1);
      u *= divisor;
      d *= divisor;
      c *= k1 * (l1 + k1);
      if ((u -= c) <= 0) return modeP - i - 1;
      divisor = k2 * (l1 + k2);
      u *= divisor;
      c *= divisor;
      d *= (np - k2) * (mp - k2);
      if ((u -= d) <= 0) return mode + i;
    }
    for (k2 = i = modeP + mode; i <= bound; ++i, ++k2) {
      u *= k2 * (l1 + k2);
      d *= (np - k2) * (mp - k2);
      if ((u -= d) <= 0) return i;
    }
  }
}

// Ratio of uniforms with a table-mountain hat (0 < n <= m <= NN/2).
int ReplayRatioOfUniforms(int n, int m, int nn, tReferenceGenerator& g) {
  auto lnpk = [](int k, int l, int m, int n) {
    return ReplayLnFac(k) + ReplayLnFac(m - k) + ReplayLnFac(n - k) + ReplayLnFac(l + k);
  };
  const int l = nn - m - n;
  const double rNN = 1.0 / (double(nn) * (nn + 2.0));
  const double mean = double(n) * m * rNN * (nn + 2.0);
  const int mode = static_cast<int>(double(n + 1) * double(m + 1) * rNN * nn);
  const double var = double(n) * m * (nn - m) * (nn - n) / (double(nn) * nn * (nn - 1));
  const double h = std::sqrt(2.943035529371538573 * (var + 0.5)) + 0.8989161620588987408;
  const double a = mean + 0.5;
  const double fm = lnpk(mode, l, m, n);
  int bound = static_cast<int>(a + 4 * h);
  if (bound > n) bound = n;
  for (;;) {
    const double u = g.U();
    if (u == 0) continue;
    const double x = a + h * (g.U() - 0.5) / u;
    if (x < 0 || x > 2e9) continue;
    const int k = static_cast<int>(x);
    if (k > bound) continue;
    const double lf = fm - lnpk(k, l, m, n);
    if (u * (4 - u) - 3 <= lf) return k;
    if (u * (u - lf) > 1) continue;
    if (2 * std::log(u) <= lf) return k;
  }
}

int ReplayHypergeometric(int n, int m, int nn, tReferenceGenerator& g) {
  int fak = 1, addd = 0;
  if (m > nn / 2) {
    m = nn - m;
    fak = -1;
    addd = n;
  }
  if (n > nn / 2) {
    n = nn - n;
    addd += fak * m;
    fak = -fak;
  }
  if (n > m) std::swap(n, m);
  if (n == 0) return addd;
  const int x = (nn > 680 || n > 70) ? ReplayRatioOfUniforms(n, m, nn, g) : ReplayInversion(n, m, nn, g);
  return x * fak + addd;
}

class SamplingOpsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetSamplerState();
    SetSeeds(20, 3);
  }
};

TEST_F(SamplingOpsTest, BinomialFollowsItsDistributionInEachRegime) {
  struct tCase {
    double p;
    int n;
  } const cases[] = {
      {0.5, 10},    // direct counting
      {0.3, 24},    // direct counting, largest n
      {0.01, 60},   // small mean: waiting times
      {0.015, 40},  // small mean
      {0.4, 100},   // rejection
      {0.25, 30},   // rejection, smallest n
      {0.9, 100},   // n minus a binomial(100, 0.1) deviate: rejection
      {0.97, 30},   // n minus a small-mean deviate
      {0.8, 12},    // n minus a directly counted deviate
  };
  for (const auto& c : cases) {
    SetSeeds(7, static_cast<int>(c.n));
    const auto counts = Histogram(c.n + 1, 40000, [&] { return bnldev(c.p, c.n); });
    EXPECT_TRUE(CountsFit(counts, BinomialProbabilities(c.n, c.p))) << "p " << c.p << ", n " << c.n;
  }
}

TEST_F(SamplingOpsTest, BinomialDrawsAsItsMethodDoes) {
  // Fewer than 25 trials: one uniform per trial, a success below p.
  for (int i = 0; i < 20; ++i) {
    SetSeeds(4, i);
    int successes = 0;
    for (int t = 0; t < 10; ++t)
      if (Ran() < 0.5) ++successes;
    const double next = Ran();
    SetSeeds(4, i);
    EXPECT_EQ(successes, bnldev(0.5, 10));
    EXPECT_EQ(next, Ran());
  }
  // A mean below 1: the number of uniforms whose running product stays at or
  // above exp(-mean).
  for (int i = 0; i < 20; ++i) {
    SetSeeds(5, i);
    const double g = std::exp(-40 * 0.02);
    double t = 1;
    int j = 0;
    for (; j <= 40; ++j) {
      t *= Ran();
      if (t < g) break;
    }
    SetSeeds(5, i);
    EXPECT_EQ(j, bnldev(0.02, 40));
  }
}

TEST_F(SamplingOpsTest, BinomialAtTheEndsOfTheProbabilityRange) {
  for (int n : {0, 5, 24, 25, 200}) {
    EXPECT_EQ(0, bnldev(0.0, n)) << n;
    EXPECT_EQ(n, bnldev(1.0, n)) << n;
  }
}

TEST_F(SamplingOpsTest, BinomialRaisesOnAProbabilityThatIsNotANumber) {
  for (double p : {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(),
                   -std::numeric_limits<double>::infinity()})
    for (int n : {10, 30, 1000}) EXPECT_THROW(bnldev(p, n), EInvalidArgument) << p << " " << n;
}

TEST_F(SamplingOpsTest, BinomialAboveOneHalfMirrorsTheDrawBelow) {
  // bnldev(0.9, 100) draws the same stream as bnldev(0.1, 100) and returns 100 minus it.
  for (int i = 0; i < 50; ++i) {
    SetSeeds(3, i);
    const int low = bnldev(0.1, 100);
    SetSeeds(3, i);
    EXPECT_EQ(100 - low, bnldev(0.9, 100));
  }
}

TEST_F(SamplingOpsTest, BinomialRejectionConsumesTheStreamAsPublished) {
  struct tCase {
    double p;
    int n;
  } const cases[] = {{0.4, 100}, {0.25, 30}, {0.9, 100}, {0.5, 25}, {0.03, 1000}, {0.7, 5000}};
  for (const auto& c : cases) {
    SetSeeds(8, c.n);
    tReferenceGenerator g = tReferenceGenerator::FromSeeds(8, c.n);
    for (int i = 0; i < 1000; ++i)
      ASSERT_EQ(ReplayBinomialRejection(c.p, c.n, g), bnldev(c.p, c.n))
          << c.p << ", " << c.n << ", draw " << i;
    EXPECT_EQ(g.U(), Ran()) << c.p << ", " << c.n;
  }
}

TEST_F(SamplingOpsTest, MultinomialIsOneBinomialPerClassOnTheRemainder) {
  const tVectorOfDouble p = {0.1, 0.2, 0.0, 0.3, 0.4};
  for (int n : {1, 7, 40, 3000}) {
    SetSeeds(6, n);
    std::vector<tVectorOfInteger> expected;
    for (int i = 0; i < 50; ++i) {
      tVectorOfInteger r(p.size(), 0);
      int left = n;
      double rest = 1;
      for (size_t k = 0; k < p.size() && left > 0; ++k) {
        r[k] = bnldev(p[k] / rest, left);
        left -= r[k];
        rest -= p[k];
      }
      expected.push_back(r);
    }
    SetSeeds(6, n);
    for (int i = 0; i < 50; ++i) ASSERT_EQ(expected[i], Multinomial(n, p)) << n << ", draw " << i;
  }
}

TEST_F(SamplingOpsTest, MultinomialSumsToNAndFitsItsMarginals) {
  const tVectorOfDouble p = {0.1, 0.2, 0.0, 0.3, 0.4};
  std::vector<double> firstClass(41, 0.0);
  for (int i = 0; i < 20000; ++i) {
    const tVectorOfInteger r = Multinomial(40, p);
    ASSERT_EQ(p.size(), r.size());
    EXPECT_EQ(40, std::accumulate(r.begin(), r.end(), 0));
    EXPECT_EQ(0, r[2]);
    firstClass[r[0]] += 1;
  }
  EXPECT_TRUE(CountsFit(firstClass, BinomialProbabilities(40, 0.1)));
  const tVectorOfInteger halves = Multinomial(10, {0.5, 0.5});
  EXPECT_EQ(10, halves[0] + halves[1]);
}

TEST_F(SamplingOpsTest, MultinomialWithProbabilitiesSummingToOneOnlyWithinRoundingStillSumsToN) {
  const tVectorOfDouble p = {0.3, 0.3, 0.4 - 5e-10};
  for (int n : {1, 20, 1000, 100000}) {
    const tVectorOfInteger r = Multinomial(n, p);
    EXPECT_EQ(n, std::accumulate(r.begin(), r.end(), 0)) << n;
  }
}

TEST_F(SamplingOpsTest, MultinomialPreconditions) {
  EXPECT_THROW(Multinomial(0, {0.5, 0.5}), EAssertionFailed);
  try {
    Multinomial(10, {0.5, 0.499});
    FAIL() << "no exception";
  } catch (const EAssertionFailed& e) {
    EXPECT_EQ(0u, std::string(e.what()).find(
                      "Sum of probabilities must be equal to 1 (Utile/SamplingOps.cpp, line "))
        << e.what();
  }
}

TEST_F(SamplingOpsTest, HypergeometricFollowsItsDistributionWithBothMethods) {
  struct tCase {
    int n, m, nn;
  } const cases[] = {
      {10, 20, 50},      // inversion
      {5, 3, 12},        // inversion, m < n exchanged
      {40, 35, 60},      // inversion after both symmetries
      {70, 300, 680},    // inversion, largest sizes
      {71, 300, 680},    // ratio of uniforms because n > 70
      {20, 100, 681},    // ratio of uniforms because NN > 680
      {300, 400, 1000},  // ratio of uniforms
      {900, 950, 1000},  // ratio of uniforms after both symmetries
  };
  for (const auto& c : cases) {
    SetSeeds(11, c.nn);
    const auto counts = Histogram(c.n + 1, 40000, [&] { return HypergeometricRan(c.n, c.m, c.nn); });
    EXPECT_TRUE(CountsFit(counts, HypergeometricProbabilities(c.n, c.m, c.nn)))
        << c.n << ", " << c.m << ", " << c.nn;
  }
}

TEST_F(SamplingOpsTest, HypergeometricChoosesItsMethodBySize) {
  // The dispatch is seen in the stream: the same seeds give the same draws as the
  // method called directly.
  struct tCase {
    int n, m, nn;
    bool ratioOfUniforms;
  } const cases[] = {
      {20, 100, 681, true}, {20, 100, 680, false}, {71, 300, 680, true}, {70, 300, 680, false}};
  for (const auto& c : cases) {
    std::vector<int> viaDispatch, direct;
    SetSeeds(5, 5);
    for (int i = 0; i < 200; ++i) viaDispatch.push_back(HypergeometricRan(c.n, c.m, c.nn));
    SetSeeds(5, 5);
    for (int i = 0; i < 200; ++i)
      direct.push_back(c.ratioOfUniforms ? HypRatioOfUnifoms(c.n, c.m, c.nn)
                                         : HypInversionMod(c.n, c.m, c.nn));
    EXPECT_EQ(direct, viaDispatch) << c.n << ", " << c.m << ", " << c.nn;
  }
}

TEST_F(SamplingOpsTest, HypergeometricConsumesTheStreamAsPublished) {
  // Both methods, every symmetry, and parameters that change between calls (the
  // set-up kept for the last parameters must not leak into the next ones).
  struct tCase {
    int n, m, nn;
  } const cases[] = {{10, 20, 50},   {5, 3, 12},     {40, 35, 60},     {70, 300, 680},   {1, 1, 2},
                     {71, 300, 680}, {20, 100, 681}, {300, 400, 1000}, {900, 950, 1000}, {3, 2000, 5000},
                     {10, 20, 50},   {34, 34, 68},   {500, 20, 100000}};
  SetSeeds(21, 4);
  tReferenceGenerator g = tReferenceGenerator::FromSeeds(21, 4);
  for (int round = 0; round < 3; ++round)
    for (const auto& c : cases)
      for (int i = 0; i < 200; ++i)
        ASSERT_EQ(ReplayHypergeometric(c.n, c.m, c.nn, g), HypergeometricRan(c.n, c.m, c.nn))
            << c.n << ", " << c.m << ", " << c.nn << ", draw " << i;
  EXPECT_EQ(g.U(), Ran());
}

TEST_F(SamplingOpsTest, HypergeometricNearTheLargestPopulation) {
  const int largest = std::numeric_limits<Integer>::max();
  for (int nn : {largest, largest - 1}) {
    std::vector<double> draws;
    for (int i = 0; i < 4000; ++i) {
      const int x = HypergeometricRan(1000, 1000000000, nn);
      ASSERT_TRUE(x >= 0 && x <= 1000) << x;
      draws.push_back(x);
    }
    const double p = 1e9 / nn;
    EXPECT_TRUE(MeanIsNear(draws, 1000 * p, 1000 * p * (1 - p))) << nn;
  }
}

TEST_F(SamplingOpsTest, HypergeometricDegenerateSamples) {
  SetSeeds(1, 1);
  const double before = Ran();
  SetSeeds(1, 1);
  EXPECT_EQ(0, HypergeometricRan(0, 7, 20));
  EXPECT_EQ(before, Ran()) << "a sample of 0 draws nothing";
  for (int m : {0, 3, 10, 17, 20}) EXPECT_EQ(m, HypergeometricRan(20, m, 20));
  EXPECT_EQ(0, HypergeometricRan(5, 0, 20));
  EXPECT_EQ(5, HypergeometricRan(5, 20, 20));
}

TEST_F(SamplingOpsTest, HypergeometricRejectsImpossibleParameters) {
  struct tCase {
    int n, m, nn;
    const char* message;
  } const cases[] = {
      {2, 5, 4, "m>NN in hypergeometric function"},
      {5, 3, 4, "n>NN in hypergeometric function, 5, 4, 3"},
      {-1, 3, 4, "n>0 in hypergeometric function"},
      {1, -3, 4, "m>0 in hypergeometric function"},
  };
  for (const auto& c : cases) {
    try {
      HypergeometricRan(c.n, c.m, c.nn);
      ADD_FAILURE() << "no exception for " << c.message;
    } catch (const EInvalidArgument& e) {
      EXPECT_STREQ(c.message, e.what());
    }
  }
  // The cache survives the failure.
  SetSeeds(2, 2);
  const int expected = HypergeometricRan(10, 20, 50);
  SetSeeds(2, 2);
  EXPECT_THROW(HypergeometricRan(5, 3, 4), EInvalidArgument);
  EXPECT_EQ(expected, HypergeometricRan(10, 20, 50));
}

TEST_F(SamplingOpsTest, TheTwoMethodsDoNotShareTheirSetUp) {
  // Called directly with the same parameters one after the other, each method
  // still draws from its own distribution.
  std::vector<double> inversion(11, 0.0), ratio(11, 0.0);
  for (int i = 0; i < 20000; ++i) {
    inversion[HypInversionMod(10, 20, 50)] += 1;
    ratio[HypRatioOfUnifoms(10, 20, 50)] += 1;
  }
  const auto pr = HypergeometricProbabilities(10, 20, 50);
  EXPECT_TRUE(CountsFit(inversion, pr));
  EXPECT_TRUE(CountsFit(ratio, pr));
}

TEST_F(SamplingOpsTest, MultiHypergeometricSumsToNAndFitsItsMarginals) {
  const tVectorOfCardinal counts = {5, 0, 12, 30, 3};
  std::vector<double> third(21, 0.0);
  tVectorOfCardinal r;
  for (int i = 0; i < 20000; ++i) {
    MultiHypergeometric(counts, r, 20, false);
    ASSERT_EQ(counts.size(), r.size());
    EXPECT_EQ(20u, std::accumulate(r.begin(), r.end(), 0u));
    for (size_t k = 0; k < counts.size(); ++k) EXPECT_LE(r[k], counts[k]);
    third[r[3]] += 1;
  }
  EXPECT_TRUE(CountsFit(third, HypergeometricProbabilities(20, 30, 50)));
  EXPECT_EQ(tVectorOfCardinal({7}), MultiHypergeometricRan(7, {9}, false));
  EXPECT_EQ(tVectorOfCardinal({9}), MultiHypergeometricRan(9, {9}, false));
}

TEST_F(SamplingOpsTest, MultiHypergeometricDrawsClassByClassOnTheRemainder) {
  const tVectorOfCardinal counts = {5, 0, 12, 30, 3, 800};
  for (int n : {0, 1, 25, 849, 850}) {
    SetSeeds(9, n);
    std::vector<tVectorOfCardinal> expected;
    for (int i = 0; i < 30; ++i) {
      tVectorOfCardinal r(counts.size(), 0);
      int left = n, total = 850;
      for (size_t k = 0; k + 1 < counts.size(); ++k) {
        r[k] = HypergeometricRan(left, counts[k], total);
        left -= r[k];
        total -= counts[k];
      }
      r.back() = left;
      expected.push_back(r);
    }
    SetSeeds(9, n);
    tVectorOfCardinal r;
    for (int i = 0; i < 30; ++i) {
      MultiHypergeometric(counts, r, n, false);
      ASSERT_EQ(expected[i], r) << n << ", draw " << i;
    }
  }
}

TEST_F(SamplingOpsTest, MultiHypergeometricWithTooFewItems) {
  tVectorOfCardinal r;
  MultiHypergeometric({2, 3}, r, 10, true);
  EXPECT_EQ(tVectorOfCardinal({2, 3}), r);
  try {
    MultiHypergeometric({2, 3}, r, 10, false);
    FAIL() << "no exception";
  } catch (const EInvalidArgument& e) {
    EXPECT_STREQ("N > sum in multihypergeometric function", e.what());
  }
  EXPECT_THROW(MultiHypergeometric({2, 3}, r, -1, true), EAssertionFailed);
  MultiHypergeometric({}, r, 4, false);
  EXPECT_TRUE(r.empty());
}

TEST_F(SamplingOpsTest, LogFactorialsFromTableAndSeries) {
  struct tCase {
    int n;
    double tolerance;
  } const cases[] = {{0, 0},      {1, 0},      {2, 1e-15},   {10, 1e-13},   {49, 1e-12},
                     {50, 5e-12}, {51, 5e-12}, {1000, 1e-9}, {100000, 1e-6}};
  for (const auto& c : cases) EXPECT_NEAR(std::lgamma(c.n + 1.0), LnFac(c.n), c.tolerance) << c.n;
  EXPECT_EQ(0.0, LnFac(1));
  // From 50 on the series stands in for the sum: its first omitted term, 1/(1260 n^5),
  // shows in the difference.
  double sum = 0;
  for (int i = 2; i <= 50; ++i) sum += std::log(double(i));
  EXPECT_NEAR(1.0 / (1260 * std::pow(50.0, 5)), sum - LnFac(50), 1e-12);
  EXPECT_THROW(LnFac(-1), EAssertionFailed);
  EXPECT_NEAR(LnFac(3) + LnFac(7) + LnFac(2) + LnFac(9), fc_lnpk(3, 6, 10, 5), 1e-12);
}

TEST_F(SamplingOpsTest, GammaLogarithmAgreesWithTheLibrary) {
  for (double x : {1.0, 1.5, 2.0, 5.0, 12.0, 30.5, 1000.0}) {
    EXPECT_NEAR(std::lgamma(x), SamplingOps::gammln(x), 1e-9 * std::max(1.0, std::fabs(std::lgamma(x)))) << x;
    EXPECT_EQ(gammln(x), SamplingOps::gammln(x));
  }
}

}  // namespace
