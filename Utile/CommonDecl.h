// The array types in which every numeric routine passes vectors, matrices and
// tables. Vectors are zero-based and growable; a matrix is a vector of row vectors
// whose rows may differ in length ("rectangular" means every row as long as row 0).
// Assignment copies: where two holders must share one array they hold a
// std::shared_ptr to it explicitly.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace utile {

using Extended = long double;
using Double = double;
using Single = float;
using Integer = int32_t;
using Cardinal = uint32_t;
using Byte = uint8_t;
using SmallInt = int16_t;
using Int64 = int64_t;

using tVectorOfBoolean = std::vector<bool>;
using tVectorOfCardinal = std::vector<Cardinal>;
using tVectorOfDouble = std::vector<Double>;
using tVectorOfExtended = std::vector<Extended>;
using tVectorOfInteger = std::vector<Integer>;
using tVectorOfSingle = std::vector<Single>;
using tVectorOfString = std::vector<std::string>;

using tMatrixOfBoolean = std::vector<tVectorOfBoolean>;
using tMatrixOfCardinal = std::vector<tVectorOfCardinal>;
using tMatrixOfDouble = std::vector<tVectorOfDouble>;
using tMatrixOfExtended = std::vector<tVectorOfExtended>;
using tMatrixOfInteger = std::vector<tVectorOfInteger>;
using tMatrixOfSingle = std::vector<tVectorOfSingle>;

using tArrayOfMatrixOfDouble = std::vector<tMatrixOfDouble>;

// Lists of variable-length rows (graph components, result lines).
using tTableOfCardinal = std::vector<tVectorOfCardinal>;
using tTableOfDouble = std::vector<tVectorOfDouble>;

struct tTableOfResults {
  tTableOfDouble Results;    // one row per result line
  tVectorOfString Headers;   // one caption per column
};

struct t2DPoint {
  double x = 0;
  double y = 0;
};
using t2DPoints = std::vector<t2DPoint>;

}  // namespace utile
