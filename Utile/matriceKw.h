// Array helpers of the second numeric layer: allocation by upper index, copies,
// the largest element and the transpose over index ranges.
#pragma once

#include "Utile/fmath.h"

namespace utile::matriceKw {

using fmath::Float;
using fmath::TIntVector;
using fmath::TMatrix;
using fmath::TVector;

// Ub + 1 zeros (indices 0..Ub).
void DimVector(TVector& v, Integer ub);
void DimVector(TIntVector& v, Integer ub);
// (Ub1 + 1) x (Ub2 + 1) zeros.
void DimMatrix(TMatrix& m, Integer ub1, Integer ub2);
// Dest[i][j] := Source[i][j] for i in Lb1..Ub1, j in Lb2..Ub2 (Dest sized to hold them).
void CopyMatrix(TMatrix& dest, const TMatrix& source, Integer lb1, Integer lb2, Integer ub1, Integer ub2);
// The largest element of V[Lb..Ub].
Float Max(const TVector& v, Integer lb, Integer ub);
// The transpose of A[Lb1..Ub1][Lb2..Ub2]: element [j][i] holds A[i][j].
TMatrix Transpose(const TMatrix& a, Integer lb1, Integer lb2, Integer ub1, Integer ub2);

}  // namespace utile::matriceKw
