#include <gtest/gtest.h>

#include <Eigen/Dense>
#include <cmath>
#include <random>

#include "Utile/MatrixOps.h"
#include "Utile/RunTime.h"

using namespace utile;

namespace {

using EigenMatrix = Eigen::MatrixXd;

EigenMatrix ToEigen(const tMatrixOfDouble& m) {
  EigenMatrix e(m.size(), m.empty() ? 0 : m[0].size());
  for (size_t i = 0; i < m.size(); ++i)
    for (size_t j = 0; j < m[i].size(); ++j) e(i, j) = m[i][j];
  return e;
}

tMatrixOfDouble RandomMatrix(std::mt19937& generator, size_t rows, size_t columns, double low = -1,
                             double high = 1) {
  std::uniform_real_distribution<double> uniform(low, high);
  tMatrixOfDouble m(rows, tVectorOfDouble(columns));
  for (auto& row : m)
    for (double& x : row) x = uniform(generator);
  return m;
}

// Diagonally dominant: condition number a small multiple of one.
tMatrixOfDouble WellConditioned(std::mt19937& generator, size_t n) {
  tMatrixOfDouble m = RandomMatrix(generator, n, n);
  for (size_t i = 0; i < n; ++i) m[i][i] += (i % 2 ? -1.0 : 1.0) * static_cast<double>(n);
  return m;
}

std::string MessageOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const Exception& e) {
    return e.Message();
  }
  return "no exception";
}

// ------------------------------------------------------------ shape and products

TEST(MatrixOpsShape, ProductsAgreeWithIndependentAlgebra) {
  std::mt19937 generator(11);
  const tMatrixOfDouble a = RandomMatrix(generator, 4, 7), b = RandomMatrix(generator, 7, 3);
  const EigenMatrix expected = ToEigen(a) * ToEigen(b);
  const tMatrixOfDouble product = MatXmat(a, b);
  ASSERT_EQ(product.size(), 4u);
  ASSERT_EQ(product[0].size(), 3u);
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 3; ++j) EXPECT_NEAR(product[i][j], expected(i, j), 1e-14);

  const tMatrixOfDouble square = RandomMatrix(generator, 5, 5);
  const tVectorOfDouble v = {1, -2, 0.5, 3, 0};
  const Eigen::VectorXd ev = ToEigen(square) * Eigen::Map<const Eigen::VectorXd>(v.data(), 5);
  const tVectorOfDouble r = MatXvec(square, v);
  for (int i = 0; i < 5; ++i) EXPECT_NEAR(r[i], ev(i), 1e-14);

  const tMatrixOfDouble t = TransposeMat(a);
  ASSERT_EQ(t.size(), 7u);
  for (size_t i = 0; i < 4; ++i)
    for (size_t j = 0; j < 7; ++j) EXPECT_EQ(t[j][i], a[i][j]);

  tMatrixOfDouble inPlace = square;
  TransposeSquareMat(inPlace);
  EXPECT_EQ(inPlace, TransposeMat(square));
  tMatrixOfDouble notSquare = a;
  EXPECT_NE(MessageOf([&] { TransposeSquareMat(notSquare); }).find("Matrix M is not square."),
            std::string::npos);

  const tMatrixOfDouble scaled = MatXscal({{1, -2}, {3, 4}}, 0.5);
  EXPECT_EQ(scaled, (tMatrixOfDouble{{0.5, -1}, {1.5, 2}}));
}

TEST(MatrixOpsShape, RowsColumnsAndDeletions) {
  const tMatrixOfDouble m = {{1, 2, 3}, {4, 5, 6}, {7, 8, 9}};
  EXPECT_EQ(MatDiagonal(m), (tVectorOfDouble{1, 5, 9}));
  EXPECT_EQ(ExtractCol(m, 1), (tVectorOfDouble{2, 5, 8}));
  EXPECT_EQ(ExtractRow(m, 2), (tVectorOfDouble{7, 8, 9}));
  tMatrixOfDouble replaced = m;
  ReplaceCol(replaced, {-1, -2, -3}, 2);
  EXPECT_EQ(replaced, (tMatrixOfDouble{{1, 2, -1}, {4, 5, -2}, {7, 8, -3}}));
  EXPECT_EQ(DeleteRowAndCol(m, 1), (tMatrixOfDouble{{1, 3}, {7, 9}}));
  EXPECT_EQ(DeleteRowAndCol(m, 0), (tMatrixOfDouble{{5, 6}, {8, 9}}));
  EXPECT_NE(MessageOf([&] { DeleteRowAndCol(m, 3); }).find("row and coloum to delete are out of the matrix"),
            std::string::npos);
  EXPECT_EQ(DeleteRow({1, 2, 3}, 0), (tVectorOfDouble{2, 3}));
  EXPECT_EQ(DeleteRow({1, 2, 3}, 2), (tVectorOfDouble{1, 2}));
}

TEST(MatrixOpsShape, TriangularIndexWalksTheLowerTriangleRowByRow) {
  // Enumerate the lower triangle by hand and compare every position.
  Int64 k = 0;
  for (Integer row = 0; row < 200; ++row)
    for (Integer col = 0; col <= row; ++col, ++k) {
      Integer r = -1, c = -1;
      IndexToRowColTriangular(k, r, c);
      ASSERT_EQ(r, row) << "k = " << k;
      ASSERT_EQ(c, col) << "k = " << k;
    }
  struct {
    Int64 K;
    Integer Row, Col;
  } const cases[] = {{0, 0, 0},     {1, 1, 0},      {2, 1, 1},     {3, 2, 0},
                     {4950, 99, 0}, {5049, 99, 99}, {5050, 100, 0}};
  for (const auto& c : cases) {
    Integer r, col;
    IndexToRowColTriangular(c.K, r, col);
    EXPECT_EQ(r, c.Row);
    EXPECT_EQ(col, c.Col);
  }
}

// ------------------------------------------------------------ scaling and extremes

TEST(MatrixOpsExtremes, MaximaMinimaAndScaling) {
  EXPECT_EQ(MatMaxValue({}), -1.7e308);
  EXPECT_EQ(MatMaxValue({{-3, -1}, {-2, -5}}), -1);
  EXPECT_EQ(MaxCoefficient(tMatrixOfDouble{{1, 9}, {4}}), 9);
  EXPECT_EQ(MaxCoefficient(tMatrixOfExtended{{1.5L, -2}, {0}}), 1.5L);
  EXPECT_EQ(MaxCoefficient(tMatrixOfExtended{}), -std::numeric_limits<long double>::max());

  Double min = 0, max = 0;
  MatMinMax({{-9, -9}, {-9, -9}}, min, max, -9);
  EXPECT_EQ(min, 1.7e308);
  EXPECT_EQ(max, -1.7e308);
  MatMinMax({{-9, 3}, {-2, -9 + 1e-7}, {7, -9}}, min, max, -9);
  EXPECT_EQ(min, -2);
  EXPECT_EQ(max, 7);

  struct {
    tVectorOfDouble V;
    Integer N;
    Double Expected;
  } const elements[] = {{{1, -3, 2}, 3, -3}, {{1, -3, 3}, 3, -3}, {{1, -3, 5}, 2, -3},
                        {{4, 1}, 0, 0},      {{0, 0}, 2, 0},      {{-2, 2}, 2, -2}};
  for (const auto& c : elements) EXPECT_EQ(MaxElement(c.V, c.N), c.Expected);

  EXPECT_DOUBLE_EQ(DIST({0, 0, 7}, {3, 4, -100}, 2), 5);
  EXPECT_EQ(MAXIMUM(2, 3), 3);
  EXPECT_EQ(MAXIMUM(-1, -4), -1);

  tMatrixOfDouble m = {{1, 4}, {2, -8}};
  MatStretchToOne(m);
  EXPECT_EQ(m, (tMatrixOfDouble{{0.25, 1}, {0.5, -2}}));
  tMatrixOfDouble zeros = {{0, -1}, {-2, 0}};
  MatStretchToOne(zeros);
  EXPECT_EQ(zeros, (tMatrixOfDouble{{0, -1}, {-2, 0}}));

  tMatrixOfDouble columns = {{1, 0, 2}, {3, 0, -1}};
  MatColSumToOne(columns);
  EXPECT_EQ(columns, (tMatrixOfDouble{{0.25, 0, 2}, {0.75, 0, -1}}));
}

// ------------------------------------------------------------ inversion

TEST(MatrixOpsInvert, IdentityAndSmallMatrices) {
  const tMatrixOfDouble identity = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
  EXPECT_EQ(InvertMat(identity), identity);
  const tMatrixOfDouble inverse = InvertMat({{4, 7}, {2, 6}});
  const tMatrixOfDouble expected = {{0.6, -0.7}, {-0.2, 0.4}};
  for (int i = 0; i < 2; ++i)
    for (int j = 0; j < 2; ++j) EXPECT_NEAR(inverse[i][j], expected[i][j], 1e-15);
  // N picks the leading N x N block.
  const tMatrixOfDouble leading = InvertMat({{2, 0, 5}, {0, 4, 5}, {5, 5, 5}}, 2);
  EXPECT_EQ(leading, (tMatrixOfDouble{{0.5, 0}, {0, 0.25}}));
  EXPECT_TRUE(InvertMat({}).empty());
}

TEST(MatrixOpsInvert, SingularAndNearlySingularMatricesFail) {
  std::mt19937 generator(5);
  // Rank n - 1: a product through an (n-1)-dimensional space.
  auto rankDeficient = [&](size_t n) {
    return MatXmat(RandomMatrix(generator, n, n - 1), RandomMatrix(generator, n - 1, n));
  };
  tMatrixOfDouble twoEqualRows = RandomMatrix(generator, 6, 6);
  twoEqualRows[4] = twoEqualRows[1];
  // Scaling rows and columns hides no singularity.
  tMatrixOfDouble scaledRankDeficient = rankDeficient(30);
  for (size_t i = 0; i < 30; ++i)
    for (size_t j = 0; j < 30; ++j)
      scaledRankDeficient[i][j] *= std::pow(10.0, static_cast<double>(i % 7) - 3) * std::pow(2.0, j % 11);
  const tMatrixOfDouble cases[] = {
      {{1, 2}, {2, 4}},          {{1, 2, 3}, {4, 5, 6}, {7, 8, 9}},
      {{1, 2}, {3e-11, -5e-11}}, {{0, 0}, {0, 0}},
      {{1, 2}, {0, 0}},          twoEqualRows,
      rankDeficient(3),          rankDeficient(20),
      rankDeficient(100),        {{1, std::nan("")}, {0, 1}},
      scaledRankDeficient,
  };
  for (const auto& m : cases) {
    try {
      InvertMat(m);
      ADD_FAILURE() << "no failure for a matrix of size " << m.size();
    } catch (const EMathError& e) {
      EXPECT_EQ(e.Message(), "Singular matrix: Inversion impossible");
    }
  }
}

TEST(MatrixOpsInvert, ResidualOfRandomMatricesUpTo300) {
  std::mt19937 generator(2024);
  for (size_t n : {1, 2, 3, 7, 8, 9, 16, 17, 50, 123, 300}) {
    const tMatrixOfDouble m = WellConditioned(generator, n);
    const tMatrixOfDouble inverse = InvertMat(m);
    const EigenMatrix residual = ToEigen(m) * ToEigen(inverse) - EigenMatrix::Identity(n, n);
    EXPECT_LT(residual.cwiseAbs().maxCoeff(), 1e-9) << "n = " << n;
  }
  // General random matrices (not dominant) against an independent LU.
  for (size_t n : {5, 40, 200}) {
    const tMatrixOfDouble m = RandomMatrix(generator, n, n);
    const EigenMatrix expected = ToEigen(m).partialPivLu().inverse();
    const EigenMatrix actual = ToEigen(InvertMat(m));
    EXPECT_LT((actual - expected).cwiseAbs().maxCoeff(), 1e-8 * expected.cwiseAbs().maxCoeff())
        << "n = " << n;
  }
}

TEST(MatrixOpsInvert, BadlyScaledRegularMatricesInvert) {
  // Scaling rows and columns changes neither the pivots chosen (the rows are
  // scaled implicitly) nor the accuracy of the inverse: such a matrix is regular,
  // however far apart its scales lie.
  const tMatrixOfDouble diagonal = InvertMat({{1e-9, 0}, {0, 1e9}});
  EXPECT_NEAR(diagonal[0][0], 1e9, 1e-6);
  EXPECT_NEAR(diagonal[1][1], 1e-9, 1e-24);
  EXPECT_EQ(diagonal[0][1], 0);
  EXPECT_EQ(diagonal[1][0], 0);
  // A column of tiny values: the determinant is 1e-300, the inverse
  // [[3e300, -1e300], [-2, 1]].
  const tMatrixOfDouble tinyColumn = InvertMat({{1e-300, 1}, {2e-300, 3}});
  const double expected[2][2] = {{3e300, -1e300}, {-2, 1}};
  for (int i = 0; i < 2; ++i)
    for (int j = 0; j < 2; ++j)
      EXPECT_NEAR(tinyColumn[i][j], expected[i][j], 1e-14 * std::fabs(expected[i][j]));

  std::mt19937 generator(31);
  for (size_t n : {3, 12, 60}) {
    const tMatrixOfDouble a = WellConditioned(generator, n);
    // R A C with R and C spanning eight orders of magnitude each.
    Eigen::VectorXd r(n), c(n);
    for (size_t i = 0; i < n; ++i) {
      r(i) = std::pow(10.0, static_cast<double>(i % 9) - 4);
      c(i) = std::pow(10.0, 4 - static_cast<double>((i * 5) % 9));
    }
    const EigenMatrix scaled = r.asDiagonal() * ToEigen(a) * c.asDiagonal();
    tMatrixOfDouble m(n, tVectorOfDouble(n));
    for (size_t i = 0; i < n; ++i)
      for (size_t j = 0; j < n; ++j) m[i][j] = scaled(i, j);
    // (R A C)^-1 = C^-1 A^-1 R^-1, so C (R A C)^-1 R is the inverse of A.
    const EigenMatrix recovered = c.asDiagonal() * ToEigen(InvertMat(m)) * r.asDiagonal();
    const EigenMatrix expected = ToEigen(a).inverse();
    EXPECT_LT((recovered - expected).cwiseAbs().maxCoeff(), 1e-12 * expected.cwiseAbs().maxCoeff())
        << "n = " << n;
  }
}

TEST(MatrixOpsInvert, LuDecompositionSolvesAndKeepsParity) {
  std::mt19937 generator(77);
  for (size_t n : {2, 5, 12, 33}) {
    const tMatrixOfDouble m = RandomMatrix(generator, n, n);
    tMatrixOfDouble lu = m;
    tVectorOfInteger index;
    Double d = 0;
    ludcmp(lu, index, d);
    double determinant = d;
    for (size_t i = 0; i < n; ++i) determinant *= lu[i][i];
    const double expected = ToEigen(m).determinant();
    EXPECT_NEAR(determinant, expected, 1e-10 * std::max(1.0, std::fabs(expected))) << "n = " << n;

    tVectorOfDouble b(n);
    for (size_t i = 0; i < n; ++i) b[i] = static_cast<double>(i) - 1.5;
    const Eigen::VectorXd x = ToEigen(m).partialPivLu().solve(Eigen::Map<const Eigen::VectorXd>(b.data(), n));
    lubksb(lu, index, b);
    for (size_t i = 0; i < n; ++i) EXPECT_NEAR(b[i], x(i), 1e-9 * std::max(1.0, std::fabs(x(i))));
  }
  tMatrixOfDouble tiny = {{1, 2}, {1e-12, 1e-12}};
  tVectorOfInteger index;
  Double d;
  EXPECT_NE(MessageOf([&] { ludcmp(tiny, index, d); }).find("Error in LUDCMP: nearly-singular matrix"),
            std::string::npos);
  tMatrixOfDouble zeroRow = {{1, 2}, {0, 0}};
  EXPECT_EQ(MessageOf([&] { ludcmp(zeroRow, index, d); }), "Error in LUDCMP: singular matrix");
}

// ------------------------------------------------------------ eigen-systems

TEST(MatrixOpsEigen, SymmetricSystemSortedDescending) {
  tVectorOfDouble values;
  tMatrixOfDouble vectors;
  EigenSystem({{2, 0}, {0, 3}}, values, vectors);
  EXPECT_EQ(values, (tVectorOfDouble{3, 2}));
  EXPECT_NEAR(std::fabs(vectors[1][0]), 1, 1e-15);
  EXPECT_NEAR(vectors[0][0], 0, 1e-15);
  EXPECT_NEAR(std::fabs(vectors[0][1]), 1, 1e-15);

  std::mt19937 generator(3);
  for (size_t n : {1, 2, 3, 10, 57, 120}) {
    tMatrixOfDouble m = RandomMatrix(generator, n, n);
    for (size_t i = 0; i < n; ++i)
      for (size_t j = 0; j < i; ++j) m[i][j] = m[j][i];
    EigenSystem(m, values, vectors);
    Eigen::SelfAdjointEigenSolver<EigenMatrix> oracle(ToEigen(m));
    const Eigen::VectorXd expected = oracle.eigenvalues().reverse();  // descending
    for (size_t k = 0; k < n; ++k) {
      EXPECT_NEAR(values[k], expected(k), 1e-12 * n) << "n = " << n;
      if (k > 0) {
        EXPECT_GE(values[k - 1], values[k]);
      }
      // Column k is an eigenvector of unit length for values[k].
      Eigen::VectorXd v(n);
      for (size_t i = 0; i < n; ++i) v(i) = vectors[i][k];
      EXPECT_NEAR(v.norm(), 1, 1e-12);
      EXPECT_LT((ToEigen(m) * v - values[k] * v).norm(), 1e-11 * n);
    }
  }
}

TEST(MatrixOpsEigen, SymmetricSystemThatNeverConvergesFails) {
  // A cell that is not a number keeps every sub-diagonal element from ever
  // looking small: the QL iteration gives up after its 30 iterations.
  for (const tMatrixOfDouble& m : {tMatrixOfDouble{{std::nan(""), 1}, {1, 0}},
                                   tMatrixOfDouble{{1, 2, std::nan("")}, {2, 0, 1}, {std::nan(""), 1, 3}}}) {
    tVectorOfDouble values;
    tMatrixOfDouble vectors;
    try {
      EigenSystem(m, values, vectors);
      ADD_FAILURE() << "no failure for a matrix of size " << m.size();
    } catch (const EMathError& e) {
      EXPECT_EQ(e.Message(), "Error in routine TQLI, too many iterations");
    }
  }
}

TEST(MatrixOpsEigen, PowerIterationStepsAndFailures) {
  tVectorOfDouble x(2);
  Double lambda = -1;
  DominantEigensystem({{1, 1}, {1, 1}}, x, lambda, 1000, 1e-12);
  EXPECT_EQ(lambda, 2);
  EXPECT_EQ(x, (tVectorOfDouble{1, 1}));
  // One pass only with MaxIter 0: diag(2, 1) gives x = (1, 1/2) after one pass,
  // (1, 1/4) after two.
  DominantEigensystem({{2, 0}, {0, 1}}, x, lambda, 0, 1e-12);
  EXPECT_EQ(x, (tVectorOfDouble{1, 0.5}));
  DominantEigensystem({{2, 0}, {0, 1}}, x, lambda, 1, 1e-12);
  EXPECT_EQ(x, (tVectorOfDouble{1, 0.25}));
  // A tolerance reached after two passes stops there: error 1 then 0.25.
  DominantEigensystem({{2, 0}, {0, 1}}, x, lambda, 100, 0.3);
  EXPECT_EQ(x, (tVectorOfDouble{1, 0.25}));

  EXPECT_NE(MessageOf([&] {
              DominantEigensystem({{4}}, x, lambda, 10, 1e-9);
            }).find("Matrix size must be greater than 1"),
            std::string::npos);
  EXPECT_THROW(DominantEigenValue({{0, 0}, {0, 0}}, 10, 1e-9), EZeroDivide);
  EXPECT_THROW(DominantEigenValue({{0, 1}, {0, 0}}, 10, 1e-9), EZeroDivide);  // nilpotent

  // A negative dominant eigenvalue keeps its sign.
  EXPECT_NEAR(DominantEigenValue({{-3, 0}, {0, 1}}, 1000, 1e-14), -3, 1e-12);
}

TEST(MatrixOpsEigen, PowerIterationOnPositiveMatrices) {
  std::mt19937 generator(8);
  for (size_t n : {2, 5, 30, 100}) {
    const tMatrixOfDouble m = RandomMatrix(generator, n, n, 0, 1);
    tVectorOfDouble x;
    Double lambda;
    DominantEigensystem(m, x, lambda, 1000, 1e-50);
    Eigen::EigenSolver<EigenMatrix> oracle(ToEigen(m));
    Eigen::Index k;
    oracle.eigenvalues().real().maxCoeff(&k);
    EXPECT_NEAR(lambda, oracle.eigenvalues()(k).real(), 1e-12 * lambda);
    Eigen::VectorXd expected = oracle.eigenvectors().col(k).real();
    expected /= expected.cwiseAbs().maxCoeff() * (expected.sum() < 0 ? -1 : 1);
    for (size_t i = 0; i < n; ++i) EXPECT_NEAR(x[i], expected(i), 1e-10);
    EXPECT_DOUBLE_EQ(*std::max_element(x.begin(), x.end()), 1.0);
  }
}

}  // namespace
