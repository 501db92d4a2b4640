#include <gtest/gtest.h>

#include <Eigen/Dense>
#include <random>

#include "Utile/AsymMatrixOps.h"
#include "Utile/MatrixConvertorKw.h"
#include "Utile/RunTime.h"

using namespace utile;

namespace {

void ExpectVectorNear(const tVectorOfDouble& actual, const tVectorOfDouble& expected, double tolerance) {
  ASSERT_EQ(actual.size(), expected.size());
  for (size_t i = 0; i < actual.size(); ++i)
    EXPECT_NEAR(actual[i], expected[i], tolerance) << "element " << i;
}

TEST(AsymMatrixOps, SmallMatricesWorkedByHand) {
  Double lambda = 0;
  tVectorOfDouble right, left;
  Integer code = -1;
  // Eigenvalues 1 and -1; for 1 the vector (2, 1).
  ComputeRightEigenKw({{0, 2}, {0.5, 0}}, lambda, right);
  EXPECT_NEAR(lambda, 1, 1e-15);
  ExpectVectorNear(right, {2.0 / 3, 1.0 / 3}, 1e-15);

  ComputeLeftRightEigenKw({{1, 0, 0}, {0, 3, 0}, {0, 0, 2}}, lambda, right, left, code);
  EXPECT_EQ(lambda, 3);
  EXPECT_EQ(right, (tVectorOfDouble{0, 1, 0}));
  EXPECT_EQ(left, (tVectorOfDouble{0, 1, 0}));
  EXPECT_EQ(code, 0);

  ComputeLeftRightEigenKw({{0, -1}, {1, 0}}, lambda, right, left, code);
  EXPECT_EQ(code, 110);
  // A rotation block beside a dominant real root: the complex pair is reported,
  // the dominant vectors are still found.
  ComputeLeftRightEigenKw({{0, -1, 0}, {1, 0, 0}, {0, 0, 2}}, lambda, right, left, code);
  EXPECT_EQ(code, 110);
  EXPECT_EQ(lambda, 2);
  ExpectVectorNear(right, {0, 0, 1}, 1e-15);

  // Left and right differ for a nonsymmetric matrix: [[1, 1], [0, 2]] has for 2
  // the right vector (1, 1) and the left vector (0, 1).
  ComputeLeftRightEigenKw({{1, 1}, {0, 2}}, lambda, right, left, code);
  EXPECT_NEAR(lambda, 2, 1e-15);
  ExpectVectorNear(right, {0.5, 0.5}, 1e-15);
  ExpectVectorNear(left, {0, 1}, 1e-15);
  EXPECT_EQ(code, 0);

  EXPECT_THROW(ComputeRightEigenKw({}, lambda, right), EAssertionFailed);
  EXPECT_THROW(ComputeRightEigenKw({{1, 2}}, lambda, right), EAssertionFailed);
}

TEST(AsymMatrixOps, DominantVectorsOfNonnegativeMatrices) {
  std::mt19937 generator(12);
  std::uniform_real_distribution<double> uniform(0, 1);
  for (int n : {2, 3, 8, 25, 80, 200}) {
    tMatrixOfDouble m(n, tVectorOfDouble(n));
    Eigen::MatrixXd e(n, n);
    for (int i = 0; i < n; ++i)
      for (int j = 0; j < n; ++j) e(i, j) = m[i][j] = uniform(generator) < 0.5 ? 0 : uniform(generator);
    Double lambda, rightLambda;
    tVectorOfDouble right, left, rightOnly;
    Integer code;
    ComputeLeftRightEigenKw(m, lambda, right, left, code);
    ComputeRightEigenKw(m, rightLambda, rightOnly);

    auto dominant = [](const Eigen::MatrixXd& a, double& value) {
      Eigen::EigenSolver<Eigen::MatrixXd> solver(a);
      Eigen::Index k;
      solver.eigenvalues().real().maxCoeff(&k);
      value = solver.eigenvalues()(k).real();
      Eigen::VectorXd v = solver.eigenvectors().col(k).real();
      v /= v.sum();
      return tVectorOfDouble(v.data(), v.data() + v.size());
    };
    double expectedLambda, transposedLambda;
    const tVectorOfDouble expectedRight = dominant(e, expectedLambda);
    const tVectorOfDouble expectedLeft = dominant(e.transpose(), transposedLambda);
    EXPECT_NEAR(lambda, transposedLambda, 1e-12 * transposedLambda);
    EXPECT_NEAR(rightLambda, expectedLambda, 1e-12 * expectedLambda);
    ExpectVectorNear(right, expectedRight, 1e-10);
    ExpectVectorNear(rightOnly, expectedRight, 1e-10);
    ExpectVectorNear(left, expectedLeft, 1e-10);
    // Perron vectors: nonnegative.
    for (size_t i = 0; i < right.size(); ++i) {
      EXPECT_GT(right[i], -1e-12);
      EXPECT_GT(left[i], -1e-12);
    }
  }
}

TEST(AsymMatrixOps, ConversionsKeepIndices) {
  const tMatrixOfDouble m = {{1, 2, 3}, {4, 5, 6}};
  const fmath::TMatrix k = ConvertMatrixTypeCommonToKw(m);
  ASSERT_EQ(k.Rows(), 2u);
  ASSERT_EQ(k.Columns(), 3u);
  EXPECT_EQ(k[1][2], 6);
  EXPECT_EQ(ConvertMatrixTypeKwToCommon(k), m);
  EXPECT_EQ(ConvertVectorTypeKwToCommon({1.5, -2}), (tVectorOfDouble{1.5, -2}));
  EXPECT_THROW(ConvertMatrixTypeCommonToKw({{1, 2}, {3}}), EAssertionFailed);
}

}  // namespace
