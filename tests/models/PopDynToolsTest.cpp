#include <gtest/gtest.h>

#include <Eigen/Dense>
#include <Eigen/Eigenvalues>

#include "models/PopDynTools.h"

using namespace models;

namespace {

// The eigenvector of the eigenvalue with the largest real part, scaled to sum 1.
Eigen::VectorXd DominantVector(const Eigen::MatrixXd& m, double& lambda) {
  Eigen::EigenSolver<Eigen::MatrixXd> solver(m);
  Eigen::Index k = 0;
  solver.eigenvalues().real().maxCoeff(&k);
  lambda = solver.eigenvalues().real()(k);
  Eigen::VectorXd v = solver.eigenvectors().col(k).real();
  return v / v.sum();
}

TEST(PopDynTools, ComputeEigenAgainstEigen) {
  const std::vector<utile::tMatrixOfDouble> cases = {
      {{0.5, 0.2, 0.1}, {0.3, 0.6, 0.2}, {0.2, 0.2, 0.7}},
      {{0.1, 2.0, 0.4, 0.0}, {0.6, 0.0, 0.3, 0.2}, {0.0, 0.5, 0.2, 0.9}, {0.3, 0.1, 0.0, 0.4}},
      // A slowly mixing matrix (a diagonal cell above 0.999) gets the long iteration.
      {{0.9995, 0.002}, {0.0005, 0.998}},
  };
  for (const utile::tMatrixOfDouble& m : cases) {
    const Eigen::Index n = static_cast<Eigen::Index>(m.size());
    Eigen::MatrixXd e(n, n);
    for (Eigen::Index i = 0; i < n; ++i)
      for (Eigen::Index j = 0; j < n; ++j) e(i, j) = m[i][j];
    double lambda = 0, lambdaT = 0;
    const Eigen::VectorXd right = DominantVector(e, lambda), left = DominantVector(e.transpose(), lambdaT);
    Double Lambda = 0;
    utile::tVectorOfDouble R, L;
    ComputeEigen(m, Lambda, R, L);
    EXPECT_NEAR(lambdaT, Lambda, 1e-10);
    for (Eigen::Index i = 0; i < n; ++i) {
      EXPECT_NEAR(right(i), R[i], 1e-8) << n;
      EXPECT_NEAR(left(i), L[i], 1e-8) << n;
    }
  }
}

TEST(PopDynTools, ComputeEigenOfOneAndNoPatch) {
  Double lambda = 0;
  utile::tVectorOfDouble r, l;
  ComputeEigen({{0.73}}, lambda, r, l);
  EXPECT_EQ(0.73, lambda);
  EXPECT_EQ(utile::tVectorOfDouble{1}, r);
  EXPECT_EQ(utile::tVectorOfDouble{1}, l);
  ComputeEigen({}, lambda, r, l);
  EXPECT_EQ(0, lambda);
  EXPECT_TRUE(r.empty() && l.empty());
}

}  // namespace
