#include "Utile/MatrixConvertorKw.h"

#include <algorithm>

#include "Utile/RunTime.h"

namespace utile {

fmath::TMatrix ConvertMatrixTypeCommonToKw(const tMatrixOfDouble& m) {
  const size_t columns = m.empty() ? 0 : m[0].size();
  fmath::TMatrix r(m.size(), columns);
  for (size_t i = 0; i < m.size(); ++i) {
    Assert(m[i].size() >= columns, "The matrix is not rectangular");
    std::copy_n(m[i].begin(), columns, r[i]);
  }
  return r;
}

tMatrixOfDouble ConvertMatrixTypeKwToCommon(const fmath::TMatrix& m) {
  tMatrixOfDouble r(m.Rows());
  for (size_t i = 0; i < m.Rows(); ++i) r[i].assign(m[i], m[i] + m.Columns());
  return r;
}

tVectorOfDouble ConvertVectorTypeKwToCommon(const fmath::TVector& v) {
  return v;
}

}  // namespace utile
