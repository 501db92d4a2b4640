// The base of the second numeric layer, on which the general eigen solver is
// written: its real and integer arrays, its machine constants, a process-wide
// math error code set by the functions that fail, and small float helpers.
#pragma once

#include <cstddef>
#include <vector>

#include "Utile/CommonDecl.h"

namespace utile::fmath {

using Float = double;
// Arrays addressed by an index range Lb..Ub: they hold the indices 0..Ub.
using TVector = std::vector<Float>;
using TIntVector = std::vector<Integer>;

// A matrix of rows 0..Ub1 and columns 0..Ub2 stored in one block, row after row,
// so that the eigen routines run along contiguous memory.
class TMatrix {
 public:
  TMatrix() = default;
  TMatrix(size_t rows, size_t columns) : fRows(rows), fColumns(columns), fData(rows * columns, 0.0) {}
  Float* operator[](size_t row) { return fData.data() + row * fColumns; }
  const Float* operator[](size_t row) const { return fData.data() + row * fColumns; }
  size_t Rows() const { return fRows; }
  size_t Columns() const { return fColumns; }
  bool operator==(const TMatrix&) const = default;

 private:
  size_t fRows = 0, fColumns = 0;
  std::vector<Float> fData;
};

// ------------------------------------------------------------ machine constants
constexpr Float MachEp = 2.220446049250313e-16;  // 2^-52
constexpr Float MaxNum = 1.797693134862315e308;
constexpr Float MinNum = 2.225073858507201e-308;
constexpr Float MaxLog = 709.7827128933840;   // ln(MaxNum)
constexpr Float MinLog = -708.3964185322641;  // ln(MinNum)

// ------------------------------------------------------------ math error code
constexpr Integer FOk = 0;
constexpr Integer FDomain = -1;
constexpr Integer FSing = -2;
constexpr Integer FOverflow = -3;
constexpr Integer FUnderflow = -4;

// The code of the last function of this layer that reported one.
Integer MathErr();
void SetErrCode(Integer code);
// Sets the code and returns Value: the result of a function that failed.
Float DefaultVal(Integer code, Float value);

// ------------------------------------------------------------ float helpers
Integer Min(Integer x, Integer y);
Integer Max(Integer x, Integer y);
Float Max(Float x, Float y);
// 1 for x > 0, -1 for x < 0; for x = 0 the value set by SetZeroSign (1 at start).
Integer Sgn(Float x);
void SetZeroSign(Integer value);
// abs(b) with the sign of a (positive for a = 0).
Float DSgn(Float a, Float b);
void Swap(Float& x, Float& y);
void Swap(Integer& x, Integer& y);
// Base-2 logarithm: FDomain and -MaxNum below 0, FSing and -MaxNum at 0.
Float Log2(Float x);
// x^n: FSing and MaxNum for 0 to a negative power, FOverflow and MaxNum,
// FUnderflow and 0 outside the range of reals.
Float IntPower(Float x, Integer n);
// x^y: integer powers of negative bases through IntPower, FDomain and 0 for other
// negative bases, FSing and MaxNum for 0 to a negative power, FOverflow and
// FUnderflow outside the range of reals.
Float Power(Float x, Float y);

}  // namespace utile::fmath
