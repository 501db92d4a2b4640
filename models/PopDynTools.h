// Eigen-systems of population projection matrices.
#pragma once

#include "Utile/CommonDecl.h"

namespace models {

using utile::Double;

// The dominant eigenvalue of the square matrix M, its right eigenvector R and its
// left eigenvector L (the right eigenvector of the transpose), both scaled to sum
// 1, by power iteration: at most 100000 iterations to 1e-49 when a diagonal cell
// exceeds 0.999 (a slowly mixing matrix), else 1000 to 1e-50. Lambda is the
// eigenvalue of the transpose. A 1 x 1 matrix is its own eigenvalue, with vectors
// (1); an empty one gives 0 and empty vectors.
void ComputeEigen(const utile::tMatrixOfDouble& M, Double& Lambda, utile::tVectorOfDouble& R,
                  utile::tVectorOfDouble& L);

}  // namespace models
