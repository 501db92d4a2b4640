// Copies between the toolkit's arrays and those of the second numeric layer,
// keeping the indices.
#pragma once

#include "Utile/CommonDecl.h"
#include "Utile/fmath.h"

namespace utile {

// A rectangular copy: Length(M) rows of Length(M[0]) cells.
fmath::TMatrix ConvertMatrixTypeCommonToKw(const tMatrixOfDouble& m);
tMatrixOfDouble ConvertMatrixTypeKwToCommon(const fmath::TMatrix& m);
tVectorOfDouble ConvertVectorTypeKwToCommon(const fmath::TVector& v);

}  // namespace utile
