#include "Utile/AsymMatrixOps.h"

#include "Utile/MatrixConvertorKw.h"
#include "Utile/MatrixOps.h"
#include "Utile/RunTime.h"
#include "Utile/VectorOps.h"
#include "Utile/eigen.h"
#include "Utile/matriceKw.h"

namespace utile {

namespace {

struct tDecomposition {
  tVectorOfDouble Re, Im;
  tMatrixOfDouble Vectors;
  Integer Code = 0;
};

tDecomposition Decompose(fmath::TMatrix a) {
  const Integer ub = static_cast<Integer>(a.Rows()) - 1;
  fmath::TVector re, im;
  fmath::TMatrix z;
  tDecomposition d;
  d.Code = eigen::EigenVect(a, 0, ub, re, im, z);
  d.Re = ConvertVectorTypeKwToCommon(re);
  d.Im = ConvertVectorTypeKwToCommon(im);
  d.Vectors = ConvertMatrixTypeKwToCommon(z);
  return d;
}

void AssertSquare(const tMatrixOfDouble& m) {
  Assert(!m.empty(), "The matrix is empty");
  for (const auto& row : m) Assert(row.size() == m.size(), "Matrix M is not square.");
}

// The column of the first eigenvalue with the largest real part.
Integer DominantIndex(const tDecomposition& d) {
  const Integer k = IndexMaxValueVec(d.Re);
  if (k < 0) throw EMathError("The eigenvalues of the matrix could not be computed");
  return k;
}

}  // namespace

void ComputeRightEigenKw(const tMatrixOfDouble& m, Double& lambda, tVectorOfDouble& right) {
  AssertSquare(m);
  const tDecomposition d = Decompose(ConvertMatrixTypeCommonToKw(m));
  const Integer k = DominantIndex(d);
  lambda = d.Re[k];
  right = ExtractCol(d.Vectors, k);
  VecSumToOne(right);
}

void ComputeLeftRightEigenKw(const tMatrixOfDouble& m, Double& lambda, tVectorOfDouble& right,
                             tVectorOfDouble& left, Integer& errorCode) {
  AssertSquare(m);
  const Integer ub = static_cast<Integer>(m.size()) - 1;
  const fmath::TMatrix a = ConvertMatrixTypeCommonToKw(m);
  const tDecomposition d1 = Decompose(a);
  const tDecomposition d2 = Decompose(matriceKw::Transpose(a, 0, 0, ub, ub));
  const Integer k1 = DominantIndex(d1), k2 = DominantIndex(d2);
  right = ExtractCol(d1.Vectors, k1);
  lambda = d2.Re[k2];
  left = ExtractCol(d2.Vectors, k2);
  VecSumToOne(right);
  VecSumToOne(left);
  errorCode = d1.Code + d2.Code;
  if (matriceKw::Max(d2.Im, 0, ub) > 0) errorCode += 100;
  if (matriceKw::Max(d1.Im, 0, ub) > 0) errorCode += 10;
}

}  // namespace utile
