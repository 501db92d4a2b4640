// Dense linear algebra on the toolkit's matrices and vectors: products, shape
// operations, scaling and extremes, inversion by LU decomposition, the
// eigen-system of a symmetric matrix and the power iteration for the dominant
// eigenvalue of a nonnegative matrix. Routines return new arrays; a non-const
// reference argument is changed in place.
#pragma once

#include "Utile/CommonDecl.h"

namespace utile {

// ------------------------------------------------------------ shape and products
// True when M has Rows rows of Cols cells each.
bool MatHasShape(const tMatrixOfDouble& m, size_t rows, size_t cols);
// Length(A) rows x Length(B[0]) columns over the inner dimension Length(A[0]).
tMatrixOfDouble MatXmat(const tMatrixOfDouble& a, const tMatrixOfDouble& b);
// R[i] = sum over j < Length(V) of M[i][j] V[j], for i < Length(V).
tVectorOfDouble MatXvec(const tMatrixOfDouble& m, const tVectorOfDouble& v);
tMatrixOfDouble MatXscal(const tMatrixOfDouble& m, Double s);
tMatrixOfDouble TransposeMat(const tMatrixOfDouble& m);
void TransposeSquareMat(tMatrixOfDouble& m);
tVectorOfDouble MatDiagonal(const tMatrixOfDouble& m);
tVectorOfDouble ExtractCol(const tMatrixOfDouble& m, Integer j);
tVectorOfDouble ExtractRow(const tMatrixOfDouble& m, Integer i);
// M[i][j] := V[i] for every row i.
void ReplaceCol(tMatrixOfDouble& m, const tVectorOfDouble& v, Integer j);
// The square matrix without its row k and column k.
tMatrixOfDouble DeleteRowAndCol(const tMatrixOfDouble& m, Integer k);
// The vector without its element k.
tVectorOfDouble DeleteRow(const tVectorOfDouble& v, Integer k);
// Row and column of the k-th cell of a lower triangle numbered row by row from 0,
// the diagonal included.
void IndexToRowColTriangular(Int64 k, Integer& row, Integer& col);

// ------------------------------------------------------------ scaling and extremes
// Divides every cell by the largest one, unless that is 0 or not a number.
void MatStretchToOne(tMatrixOfDouble& m);
// Every column scaled to sum 1 (a zero column stays as it is).
void MatColSumToOne(tMatrixOfDouble& m);
// The largest cell; -1.7e308 for an empty matrix.
Double MatMaxValue(const tMatrixOfDouble& m);
Double MaxCoefficient(const tMatrixOfDouble& m);
// The largest cell; the most negative finite extended value for an empty matrix.
Extended MaxCoefficient(const tMatrixOfExtended& m);
// Smallest and largest cell, skipping cells within 1e-6 of Missing; 1.7e308 and
// -1.7e308 when every cell is missing.
void MatMinMax(const tMatrixOfDouble& m, Double& min, Double& max, Double missing);
// The element of V[0..N-1] of largest magnitude, with its sign (first on ties).
Double MaxElement(const tVectorOfDouble& v, Integer n);
// Euclidean distance over the first N components.
Double DIST(const tVectorOfDouble& a, const tVectorOfDouble& b, Integer n);
Double MAXIMUM(Double a, Double b);

// ------------------------------------------------------------ solvers
// LU decomposition in place with partial pivoting and implicit row scaling: A
// receives L (unit diagonal, not stored) and U, Index[k] the row exchanged with
// row k at step k, d the parity of the exchanges (+1 or -1).
void ludcmp(tMatrixOfDouble& a, tVectorOfInteger& index, Double& d);
// Solves A x = b on the output of ludcmp; b becomes x.
void lubksb(const tMatrixOfDouble& a, const tVectorOfInteger& index, tVectorOfDouble& b);
// The inverse of the N x N matrix M (N = 0: Length(M)). A singular or nearly
// singular matrix raises EMathError "Singular matrix: Inversion impossible".
tMatrixOfDouble InvertMat(const tMatrixOfDouble& m, Integer n = 0);

// All eigenvalues (descending) and eigenvectors (column k belongs to Values[k])
// of a symmetric matrix.
void EigenSystem(const tMatrixOfDouble& m, tVectorOfDouble& values, tMatrixOfDouble& vectors);
// Householder reduction of the symmetric A (n x n) to tridiagonal form: d the
// diagonal, e the sub-diagonal (e[0] = 0), A the accumulated transformation.
void tred2(tMatrixOfDouble& a, Integer n, tVectorOfDouble& d, tVectorOfDouble& e);
// QL iteration with implicit shifts on the tridiagonal (d, e); z accumulates the
// eigenvectors (pass the output of tred2).
void tqli(tVectorOfDouble& d, tVectorOfDouble& e, Integer n, tMatrixOfDouble& z);
// Sorts the eigenvalues into descending order, exchanging the columns of v alike.
void eigsrt(tVectorOfDouble& d, tMatrixOfDouble& v, Integer n);

// Power iteration from x = 1: Lambda the dominant eigenvalue, x its eigenvector
// with its element of largest magnitude equal to 1. At most MaxIter + 1 passes.
void DominantEigensystem(const tMatrixOfDouble& m, tVectorOfDouble& x, Double& lambda, Integer maxIter,
                         Double tolerance);
Double DominantEigenValue(const tMatrixOfDouble& m, Integer maxIter, Double tolerance);

}  // namespace utile
