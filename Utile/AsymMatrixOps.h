// The dominant eigenvalue and the right and left eigenvectors of a general
// (nonsymmetric) matrix, through the general eigen solver of the second numeric
// layer: growth rates and stable distributions of landscape and projection
// matrices.
#pragma once

#include "Utile/CommonDecl.h"

namespace utile {

// Lambda: the eigenvalue with the largest real part (the first of equal ones;
// imaginary parts are not looked at); Right: its eigenvector scaled to sum 1.
// A failure of the solver is not reported.
void ComputeRightEigenKw(const tMatrixOfDouble& m, Double& lambda, tVectorOfDouble& right);
// Right as above; Lambda and Left from the transpose of M (a right eigenvector
// of the transpose is a left eigenvector of M), Left scaled to sum 1. ErrorCode:
// the sum of the solver codes of both decompositions, plus 10 when M has complex
// eigenvalues and 100 when its transpose has; 0 means all went well.
void ComputeLeftRightEigenKw(const tMatrixOfDouble& m, Double& lambda, tVectorOfDouble& right,
                             tVectorOfDouble& left, Integer& errorCode);

}  // namespace utile
