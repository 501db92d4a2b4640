#include <gtest/gtest.h>

#include <Eigen/Dense>
#include <cmath>

#include "Utile/RandomFunctions.h"
#include "Utile/RunTime.h"
#include "Utile/StatOps.h"

using namespace utile;

namespace {

TEST(StatOps, CountsWithAndWithoutTolerance) {
  EXPECT_EQ(0, Count(tVectorOfInteger{}, 3));
  EXPECT_EQ(2, Count(tVectorOfInteger{3, 1, 3, 2}, 3));
  EXPECT_EQ(0, Count(tVectorOfInteger{3, 1, 3, 2}, 5));
  const tVectorOfDouble v = {1.0, 1.05, 0.9, 2.0, -1.0};
  EXPECT_EQ(1, Count(v, 1.0, 0));
  EXPECT_EQ(2, Count(v, 1.0, 0.06));
  EXPECT_EQ(3, Count(v, 1.0, 0.1 + 1e-12));
  EXPECT_EQ(0, Count(tVectorOfDouble{}, 1.0, 1));
}

TEST(StatOps, CountOccurrencesOfIntegers) {
  tVectorOfInteger values;
  tVectorOfCardinal counts;
  CountOccurrences({3, 1, 3, 2}, values, counts);
  EXPECT_EQ(tVectorOfInteger({1, 2, 3}), values);
  EXPECT_EQ(tVectorOfCardinal({1, 1, 2}), counts);

  // Given values keep their order; values absent from V count 0.
  values = {3, 7, 1, 2};
  CountOccurrences({3, 1, 3, 2}, values, counts);
  EXPECT_EQ(tVectorOfInteger({3, 7, 1, 2}), values);
  EXPECT_EQ(tVectorOfCardinal({2, 0, 1, 1}), counts);

  values = {3, 1};
  try {
    CountOccurrences({3, 1, 3, 2}, values, counts);
    FAIL() << "no exception";
  } catch (const EAssertionFailed& e) {
    EXPECT_EQ(0u, std::string(e.what()).find("Warning in CountOccurrences. (Utile/StatOps.cpp, line "))
        << e.what();
  }

  values.clear();
  CountOccurrences({}, values, counts);
  EXPECT_TRUE(values.empty());
  EXPECT_TRUE(counts.empty());
}

TEST(StatOps, CountOccurrencesOfReals) {
  tVectorOfDouble values;
  tVectorOfCardinal counts;
  CountOccurrences({0.5, 2.0, 0.5 + 1e-12, -1.0, 2.0}, values, counts, 1e-9);
  ASSERT_EQ(3u, values.size());
  EXPECT_EQ(-1.0, values[0]);
  EXPECT_EQ(0.5, values[1]);
  EXPECT_EQ(2.0, values[2]);
  EXPECT_EQ(tVectorOfCardinal({1, 2, 2}), counts);

  values = {2.0, 0.0};
  CountOccurrences({0.5, 2.0, 2.05, 0.1}, values, counts, 0.1 + 1e-12);
  EXPECT_EQ(tVectorOfCardinal({2, 1}), counts);
}

TEST(StatOps, MeanAndSum) {
  EXPECT_EQ(0.0, Sum({}));
  EXPECT_EQ(10.0, Sum({1, 2, 3, 4}));
  EXPECT_EQ(2.5, Mean({1, 2, 3, 4}));
  EXPECT_EQ(-3.0, Mean({-3}));
  // Extended accumulation keeps the small terms next to a large one.
  EXPECT_EQ(1e16 + 4, Sum({1e16, 1, 1, 1, 1}));
  EXPECT_THROW(Mean({}), EMathError);
}

TEST(StatOps, RegressionAgreesWithLeastSquares) {
  Double intercept, slope;
  Regression({1, 2, 3}, {2, 4, 6}, intercept, slope);
  EXPECT_NEAR(0, intercept, 1e-12);
  EXPECT_NEAR(2, slope, 1e-12);
  Regression({0, 1, 2, 3}, {1, 3, 2, 4}, intercept, slope);
  EXPECT_NEAR(0.8, slope, 1e-12);  // by hand: Sxy - n mx my = 5 - 4 * 1.5 * 2.5 ... = 4/5
  EXPECT_NEAR(1.3, intercept, 1e-12);

  // Random data against the least-squares solution of Eigen.
  SetSeeds(31, 4);
  const int n = 200;
  tVectorOfDouble x(n), y(n);
  Eigen::MatrixXd a(n, 2);
  Eigen::VectorXd b(n);
  for (int i = 0; i < n; ++i) {
    x[i] = Ran(-5.0, 20.0);
    y[i] = 3 - 0.7 * x[i] + GaussRan();
    a(i, 0) = 1;
    a(i, 1) = x[i];
    b(i) = y[i];
  }
  const Eigen::VectorXd solution = a.colPivHouseholderQr().solve(b);
  Regression(x, y, intercept, slope);
  EXPECT_NEAR(solution(0), intercept, 1e-9);
  EXPECT_NEAR(solution(1), slope, 1e-9);

  EXPECT_THROW(Regression({1, 2}, {1}, intercept, slope), EAssertionFailed);
  EXPECT_THROW(Regression({}, {}, intercept, slope), EMathError);
  EXPECT_THROW(Regression({2, 2, 2}, {1, 2, 3}, intercept, slope), EMathError);
}

TEST(StatOps, UniqueKeepsFirstOccurrences) {
  EXPECT_EQ(tVectorOfInteger({3, 1, 2}), Unique(tVectorOfInteger{3, 1, 3, 2}));
  EXPECT_TRUE(Unique(tVectorOfInteger{}).empty());
  EXPECT_EQ(tVectorOfDouble({3, 1, 2}), Unique(tVectorOfDouble{3, 1, 3, 2}, 0));
  // Within the tolerance of a kept value counts as present.
  EXPECT_EQ(tVectorOfDouble({1.0, 1.5}), Unique(tVectorOfDouble{1.0, 1.05, 1.5, 0.96}, 0.1));
  EXPECT_EQ(tVectorOfDouble({1, 2, 3}), Unique(tMatrixOfDouble{{1, 2}, {3, 1}}, 1e-10));
  EXPECT_EQ(tVectorOfDouble({4, 2}), Unique(tMatrixOfDouble{{4}, {}, {2, 4, 2}}, 0));
}

}  // namespace
