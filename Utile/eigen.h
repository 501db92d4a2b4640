// The general real eigenproblem by the classical sequence: balancing, reduction
// to upper Hessenberg form by stabilised elimination, accumulation of the
// transformations, the shifted QR algorithm for all eigenvalues and eigenvectors,
// and back-transformation of the balancing. Matrices and vectors are addressed
// over the index range Lb..Ub.
#pragma once

#include "Utile/fmath.h"

namespace utile::eigen {

using fmath::Float;
using fmath::TIntVector;
using fmath::TMatrix;
using fmath::TVector;

// Balances A in place by permutations and scalings by powers of 2. On return
// rows and columns I_low..I_igh hold the part still to solve; Scale records the
// permutations (outside that range) and the scalings (inside it).
void Balance(TMatrix& a, Integer lb, Integer ub, Integer& iLow, Integer& iIgh, TVector& scale);
// Reduces rows and columns I_low..I_igh of A to upper Hessenberg form by
// elimination with interchanges, recorded in I_int; the multipliers stay below
// the sub-diagonal.
void ElmHes(TMatrix& a, Integer lb, Integer ub, Integer iLow, Integer iIgh, TIntVector& iInt);
// Z := the accumulated transformations of ElmHes.
void Eltran(const TMatrix& a, Integer lb, Integer ub, Integer iLow, Integer iIgh, const TIntVector& iInt,
            TMatrix& z);
// All eigenvalues (Wr, Wi) and eigenvectors of the Hessenberg matrix H, with Z
// holding the transformations on entry. A complex pair comes with the positive
// imaginary part first; columns k and k+1 of Z then hold the real and imaginary
// parts of the eigenvector of Wr[k] + i Wi[k]. Returns 0, or, when the budget of
// 30 iterations per row runs out, the index of the eigenvalue not found plus 1.
Integer Hqr2(TMatrix& h, Integer lb, Integer ub, Integer iLow, Integer iIgh, TVector& wr, TVector& wi,
             TMatrix& z);
// Undoes the balancing on the first M columns of Z (columns Lb..M).
void BalBak(TMatrix& z, Integer lb, Integer ub, Integer iLow, Integer iIgh, const TVector& scale, Integer m);

// All eigenvalues (real parts in Re, imaginary parts in Im) and eigenvectors
// (columns of V, as Hqr2 leaves them) of the general real matrix A, which is
// overwritten. Returns the code of Hqr2; the balancing is undone only on success.
Integer EigenVect(TMatrix& a, Integer lb, Integer ub, TVector& re, TVector& im, TMatrix& v);

}  // namespace utile::eigen
