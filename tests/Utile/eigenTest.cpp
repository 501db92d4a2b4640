#include <gtest/gtest.h>

#include <Eigen/Dense>
#include <complex>
#include <random>

#include "Utile/eigen.h"

using namespace utile;
using namespace utile::eigen;

namespace {

using Complex = std::complex<double>;
using EigenMatrix = Eigen::MatrixXd;

struct tSolution {
  std::vector<Complex> Values;
  std::vector<Eigen::VectorXcd> Vectors;
  Integer Code;
};

// Runs the solver on a copy of M and reads back eigenvalues and complex
// eigenvectors: a pair with Wi[k] > 0 has its vector in columns k (real part) and
// k + 1 (imaginary part); its partner gets the conjugate.
tSolution Solve(const EigenMatrix& m) {
  const Integer n = static_cast<Integer>(m.rows());
  TMatrix a(n, n);
  for (Integer i = 0; i < n; ++i)
    for (Integer j = 0; j < n; ++j) a[i][j] = m(i, j);
  TVector re, im;
  TMatrix z;
  tSolution s;
  s.Code = EigenVect(a, 0, n - 1, re, im, z);
  for (Integer k = 0; k < n; ++k) {
    s.Values.emplace_back(re[k], im[k]);
    Eigen::VectorXcd v(n);
    for (Integer i = 0; i < n; ++i) {
      if (im[k] == 0)
        v(i) = z[i][k];
      else if (im[k] > 0)
        v(i) = Complex(z[i][k], z[i][k + 1]);
      else
        v(i) = Complex(z[i][k - 1], -z[i][k]);
    }
    s.Vectors.push_back(v);
  }
  return s;
}

// Pairs each computed eigenvalue with the nearest unused one of the oracle.
std::vector<Eigen::Index> MatchToOracle(const std::vector<Complex>& values, const Eigen::VectorXcd& oracle) {
  std::vector<bool> used(oracle.size(), false);
  std::vector<Eigen::Index> match;
  for (const Complex& value : values) {
    Eigen::Index best = -1;
    for (Eigen::Index j = 0; j < oracle.size(); ++j)
      if (!used[j] && (best < 0 || std::abs(oracle(j) - value) < std::abs(oracle(best) - value))) best = j;
    used[best] = true;
    match.push_back(best);
  }
  return match;
}

// Checks eigenvalues to 1e-9 relative to the spectral radius, every vector by its
// residual, and the vectors of well-separated eigenvalues against the oracle's up
// to a complex factor.
::testing::AssertionResult AgreesWithOracle(const EigenMatrix& m, const char* what) {
  const tSolution s = Solve(m);
  if (s.Code != 0) return ::testing::AssertionFailure() << what << ": code " << s.Code;
  Eigen::EigenSolver<EigenMatrix> oracle(m);
  const Eigen::VectorXcd expected = oracle.eigenvalues();
  const double radius = std::max(1.0, expected.cwiseAbs().maxCoeff());
  const double norm = std::max(1e-300, m.cwiseAbs().maxCoeff() * m.rows());
  const auto match = MatchToOracle(s.Values, expected);
  for (size_t k = 0; k < s.Values.size(); ++k) {
    const Complex lambda = s.Values[k];
    if (std::abs(lambda - expected(match[k])) > 1e-9 * radius)
      return ::testing::AssertionFailure()
             << what << ": eigenvalue " << lambda << " against " << expected(match[k]);
    const Eigen::VectorXcd& v = s.Vectors[k];
    if (v.norm() == 0) return ::testing::AssertionFailure() << what << ": zero vector " << k;
    const double residual = (m.cast<Complex>() * v - lambda * v).norm() / (norm * v.norm());
    if (residual > 1e-12)
      return ::testing::AssertionFailure() << what << ": residual " << residual << " for " << lambda;
    double gap = 1e300;
    for (Eigen::Index j = 0; j < expected.size(); ++j)
      if (j != match[k]) gap = std::min(gap, std::abs(expected(j) - expected(match[k])));
    if (gap > 1e-3 * radius) {
      const Eigen::VectorXcd w = oracle.eigenvectors().col(match[k]);
      const double cosine = std::abs(w.dot(v)) / (w.norm() * v.norm());
      if (1 - cosine > 1e-8)
        return ::testing::AssertionFailure() << what << ": vector of " << lambda << " off by " << 1 - cosine;
    }
  }
  return ::testing::AssertionSuccess();
}

EigenMatrix Random(std::mt19937& generator, int n, double low, double high) {
  std::uniform_real_distribution<double> uniform(low, high);
  EigenMatrix m(n, n);
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j) m(i, j) = uniform(generator);
  return m;
}

TEST(EigenVect, RandomGeneralMatrices) {
  std::mt19937 generator(1);
  for (int n : {2, 3, 5, 10, 31, 64, 100, 200}) {
    EXPECT_TRUE(AgreesWithOracle(Random(generator, n, 0, 1), "nonnegative")) << "n = " << n;
    EXPECT_TRUE(AgreesWithOracle(Random(generator, n, -1, 1), "general")) << "n = " << n;
    // Sparse nonnegative, as landscape matrices with many absent links are.
    EigenMatrix sparse = Random(generator, n, 0, 1);
    for (int i = 0; i < n; ++i)
      for (int j = 0; j < n; ++j)
        if (sparse(i, j) < 0.8 && i != j) sparse(i, j) = 0;
    EXPECT_TRUE(AgreesWithOracle(sparse, "sparse")) << "n = " << n;
  }
}

TEST(EigenVect, ComplexPairsAndRepeatedEigenvalues) {
  std::mt19937 generator(2);
  for (int n : {2, 4, 9, 40, 120}) {
    // S D S^-1 with D holding repeated real values and repeated rotation blocks.
    EigenMatrix d = EigenMatrix::Zero(n, n);
    for (int i = 0; i < n; ++i) d(i, i) = 1 + (i % 3);
    for (int i = 0; i + 1 < n; i += 4) {
      d(i, i + 1) = -0.5;
      d(i + 1, i) = 0.5;
      d(i, i) = d(i + 1, i + 1) = 2;
    }
    EigenMatrix s = Random(generator, n, -1, 1) + 3 * EigenMatrix::Identity(n, n);
    EXPECT_TRUE(AgreesWithOracle(s * d * s.inverse(), "similar to block diagonal")) << "n = " << n;
  }
  // Rotations and permutations: eigenvalues on the unit circle.
  EXPECT_TRUE(AgreesWithOracle((EigenMatrix(2, 2) << 0, -1, 1, 0).finished(), "rotation"));
  EigenMatrix cycle = EigenMatrix::Zero(7, 7);
  for (int i = 0; i < 7; ++i) cycle((i + 1) % 7, i) = 1;
  EXPECT_TRUE(AgreesWithOracle(cycle, "cyclic permutation"));
  EXPECT_TRUE(AgreesWithOracle(EigenMatrix::Identity(6, 6) * 2.5, "multiple of the identity"));
  EXPECT_TRUE(AgreesWithOracle(EigenMatrix::Zero(4, 4), "zero"));
  EXPECT_TRUE(AgreesWithOracle((EigenMatrix(1, 1) << -4).finished(), "1 x 1"));
}

TEST(EigenVect, TriangularAndBadlyScaledMatrices) {
  std::mt19937 generator(3);
  // Triangular: the balancing isolates every eigenvalue, so they come out as the
  // diagonal exactly (close diagonal values make them too ill-conditioned for an
  // oracle without balancing).
  for (bool upperTriangle : {true, false}) {
    const EigenMatrix random = Random(generator, 30, -1, 1);
    const EigenMatrix triangular = upperTriangle ? EigenMatrix(random.triangularView<Eigen::Upper>())
                                                 : EigenMatrix(random.triangularView<Eigen::Lower>());
    const tSolution s = Solve(triangular);
    ASSERT_EQ(s.Code, 0);
    std::vector<double> diagonal, values;
    for (int i = 0; i < 30; ++i) diagonal.push_back(triangular(i, i));
    for (const Complex& v : s.Values) {
      EXPECT_EQ(v.imag(), 0);
      values.push_back(v.real());
    }
    std::sort(diagonal.begin(), diagonal.end());
    std::sort(values.begin(), values.end());
    EXPECT_EQ(values, diagonal);
    for (size_t k = 0; k < s.Values.size(); ++k) {
      const Eigen::VectorXcd& v = s.Vectors[k];
      EXPECT_LT((triangular.cast<Complex>() * v - s.Values[k] * v).norm(), 1e-12 * v.norm());
    }
  }

  // D A D^-1 with D spanning twelve orders of magnitude has the eigenvalues of A.
  const EigenMatrix a = Random(generator, 12, 0, 1);
  Eigen::VectorXd scale(12);
  for (int i = 0; i < 12; ++i) scale(i) = std::pow(10.0, i - 6);
  const EigenMatrix scaled = scale.asDiagonal() * a * scale.cwiseInverse().asDiagonal();
  const tSolution t = Solve(scaled);
  const Eigen::VectorXcd expected = Eigen::EigenSolver<EigenMatrix>(a).eigenvalues();
  const auto match = MatchToOracle(t.Values, expected);
  for (size_t k = 0; k < t.Values.size(); ++k)
    EXPECT_LT(std::abs(t.Values[k] - expected(match[k])), 1e-12 * 12);
}

TEST(EigenVect, IndexRangeNeedNotStartAtZero) {
  std::mt19937 generator(4);
  const EigenMatrix m = Random(generator, 6, -1, 1);
  TMatrix a(7, 7);
  for (int i = 0; i < 6; ++i)
    for (int j = 0; j < 6; ++j) a[i + 1][j + 1] = m(i, j);
  a[0][0] = 99;  // outside the range: left alone
  TVector re, im;
  TMatrix z;
  ASSERT_EQ(EigenVect(a, 1, 6, re, im, z), 0);
  EXPECT_EQ(a[0][0], 99);
  const tSolution s = Solve(m);
  for (int k = 0; k < 6; ++k) {
    EXPECT_NEAR(re[k + 1], s.Values[k].real(), 1e-13);
    EXPECT_NEAR(im[k + 1], s.Values[k].imag(), 1e-13);
  }
}

}  // namespace
