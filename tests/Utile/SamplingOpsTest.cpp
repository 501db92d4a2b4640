#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numeric>

#include "TestSupport/StatisticalChecks.h"
#include "Utile/RandomFunctions.h"
#include "Utile/RunTime.h"
#include "Utile/SamplingOps.h"

using namespace utile;
using testsupport::CountsFit;
using testsupport::MeanIsNear;

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
