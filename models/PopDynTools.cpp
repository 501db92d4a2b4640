#include "models/PopDynTools.h"

#include "Utile/MatrixOps.h"
#include "Utile/VectorOps.h"

namespace models {

void ComputeEigen(const utile::tMatrixOfDouble& M, Double& Lambda, utile::tVectorOfDouble& R,
                  utile::tVectorOfDouble& L) {
  const size_t n = M.size();
  if (n <= 1) {
    // The power iteration needs two rows; one patch is its own eigen-system.
    Lambda = n == 1 ? M[0].at(0) : 0;
    R.assign(n, 1.0);
    L.assign(n, 1.0);
    return;
  }
  bool slow = false;
  for (size_t i = 0; i < n; ++i) slow = slow || M[i].at(i) > 0.999;
  const utile::Integer maxIter = slow ? 100000 : 1000;
  const Double tolerance = slow ? 1e-49 : 1e-50;
  Double lambda = 0;
  R.resize(n);
  utile::DominantEigensystem(M, R, lambda, maxIter, tolerance);
  utile::VecSumToOne(R);
  L.resize(n);
  utile::DominantEigensystem(utile::TransposeMat(M), L, lambda, maxIter, tolerance);
  utile::VecSumToOne(L);
  Lambda = lambda;
}

}  // namespace models
