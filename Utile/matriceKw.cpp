#include "Utile/matriceKw.h"

#include <algorithm>

#include "Utile/RunTime.h"

namespace utile::matriceKw {

namespace {
size_t Count(Integer ub) {
  return ub < 0 ? 0 : static_cast<size_t>(ub) + 1;
}
}  // namespace

void DimVector(TVector& v, Integer ub) {
  v.assign(Count(ub), 0.0);
}
void DimVector(TIntVector& v, Integer ub) {
  v.assign(Count(ub), 0);
}
void DimMatrix(TMatrix& m, Integer ub1, Integer ub2) {
  m = TMatrix(Count(ub1), Count(ub2));
}

void CopyMatrix(TMatrix& dest, const TMatrix& source, Integer lb1, Integer lb2, Integer ub1, Integer ub2) {
  Assert(lb1 >= 0 && lb2 >= 0 && Count(ub1) <= source.Rows() && Count(ub2) <= source.Columns(),
         "CopyMatrix: index range outside the source");
  if (dest.Rows() < Count(ub1) || dest.Columns() < Count(ub2)) {
    TMatrix grown(std::max(dest.Rows(), Count(ub1)), std::max(dest.Columns(), Count(ub2)));
    for (size_t i = 0; i < dest.Rows(); ++i) std::copy_n(dest[i], dest.Columns(), grown[i]);
    dest = std::move(grown);
  }
  for (Integer i = lb1; i <= ub1; ++i)
    for (Integer j = lb2; j <= ub2; ++j) dest[i][j] = source[i][j];
}

Float Max(const TVector& v, Integer lb, Integer ub) {
  Assert(lb >= 0 && lb <= ub && static_cast<size_t>(ub) < v.size(), "Max: index range outside the vector");
  Float best = v[lb];
  for (Integer i = lb + 1; i <= ub; ++i)
    if (v[i] > best) best = v[i];
  return best;
}

TMatrix Transpose(const TMatrix& a, Integer lb1, Integer lb2, Integer ub1, Integer ub2) {
  Assert(lb1 >= 0 && lb2 >= 0 && Count(ub1) <= a.Rows() && Count(ub2) <= a.Columns(),
         "Transpose: index range outside the matrix");
  TMatrix t(Count(ub2), Count(ub1));
  for (Integer i = lb1; i <= ub1; ++i)
    for (Integer j = lb2; j <= ub2; ++j) t[j][i] = a[i][j];
  return t;
}

}  // namespace utile::matriceKw
