#include "Utile/fmath.h"

#include <cmath>

namespace utile::fmath {

namespace {
Integer gMathErr = FOk;
Integer gZeroSign = 1;
constexpr Float InverseLn2 = 1.4426950408889634;
}  // namespace

Integer MathErr() {
  return gMathErr;
}
void SetErrCode(Integer code) {
  gMathErr = code;
}

Float DefaultVal(Integer code, Float value) {
  gMathErr = code;
  return value;
}

Integer Min(Integer x, Integer y) {
  return x < y ? x : y;
}
Integer Max(Integer x, Integer y) {
  return x > y ? x : y;
}
Float Max(Float x, Float y) {
  return x > y ? x : y;
}

Integer Sgn(Float x) {
  if (x > 0) return 1;
  if (x < 0) return -1;
  return gZeroSign;
}

void SetZeroSign(Integer value) {
  gZeroSign = value;
}

Float DSgn(Float a, Float b) {
  return a < 0 ? -std::fabs(b) : std::fabs(b);
}

void Swap(Float& x, Float& y) {
  const Float t = x;
  x = y;
  y = t;
}

void Swap(Integer& x, Integer& y) {
  const Integer t = x;
  x = y;
  y = t;
}

Float Log2(Float x) {
  if (x < 0) return DefaultVal(FDomain, -MaxNum);
  if (x == 0) return DefaultVal(FSing, -MaxNum);
  gMathErr = FOk;
  return std::log(x) * InverseLn2;
}

Float IntPower(Float x, Integer n) {
  if (n == 0) {
    gMathErr = FOk;
    return 1;
  }
  if (x == 0) {
    if (n < 0) return DefaultVal(FSing, MaxNum);
    gMathErr = FOk;
    return 0;
  }
  // The magnitude of the result decides between overflow and underflow before
  // any multiplication can run out of range.
  const Float logResult = n * std::log(std::fabs(x));
  const bool negative = x < 0 && (n % 2 != 0);
  if (logResult > MaxLog) return DefaultVal(FOverflow, negative ? -MaxNum : MaxNum);
  if (logResult < MinLog) return DefaultVal(FUnderflow, 0);
  Float result = 1, base = x;
  for (int64_t e = n < 0 ? -static_cast<int64_t>(n) : n; e > 0; e >>= 1) {
    if (e & 1) result *= base;
    base *= base;
  }
  gMathErr = FOk;
  return n < 0 ? 1 / result : result;
}

Float Power(Float x, Float y) {
  if (x == 0) {
    if (y == 0) {
      gMathErr = FOk;
      return 1;
    }
    if (y < 0) return DefaultVal(FSing, MaxNum);
    gMathErr = FOk;
    return 0;
  }
  if (x < 0) {
    if (y == std::trunc(y) && std::fabs(y) <= 2147483647.0) return IntPower(x, static_cast<Integer>(y));
    return DefaultVal(FDomain, 0);
  }
  const Float logResult = y * std::log(x);
  if (logResult > MaxLog) return DefaultVal(FOverflow, MaxNum);
  if (logResult < MinLog) return DefaultVal(FUnderflow, 0);
  gMathErr = FOk;
  return std::exp(logResult);
}

}  // namespace utile::fmath
