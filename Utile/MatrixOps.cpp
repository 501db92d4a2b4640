#include "Utile/MatrixOps.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <limits>

#include "Utile/RunTime.h"
#include "Utile/VectorOps.h"

namespace utile {

namespace {

constexpr Double LowestDouble = -1.7e308;
constexpr Double HighestDouble = 1.7e308;

size_t Index(Integer i) {
  if (i < 0) throw ERangeError(Format("Range check error: negative index %d", i));
  return static_cast<size_t>(i);
}

size_t ColumnCount(const tMatrixOfDouble& m) {
  return m.empty() ? 0 : m[0].size();
}

// ---------------------------------------------------------------- dense kernels
// The elimination and the substitutions work on one contiguous row-major copy:
// every inner loop then runs along a row, so that it streams through memory and
// the compiler can vectorise it.

constexpr size_t BlockSize = 8;

// r[j] -= sum over p < NB of c[p] x rows[p][j], for j in [begin, end). The NB
// source rows follow each other at the given stride; r is none of them.
template <size_t NB>
void SubtractCombination(double* __restrict r, const double* __restrict c, const double* __restrict rows,
                         size_t stride, size_t begin, size_t end) {
  double coefficient[NB];
  const double* source[NB];
  for (size_t p = 0; p < NB; ++p) {
    coefficient[p] = c[p];
    source[p] = rows + p * stride;
  }
  for (size_t j = begin; j < end; ++j) {
    double s = r[j];
    for (size_t p = 0; p < NB; ++p) s -= coefficient[p] * source[p][j];
    r[j] = s;
  }
}

void SubtractCombination(double* r, const double* c, const double* rows, size_t stride, size_t count,
                         size_t begin, size_t end) {
  if (count == BlockSize) return SubtractCombination<BlockSize>(r, c, rows, stride, begin, end);
  for (size_t p = 0; p < count; ++p) {
    const double f = c[p];
    if (f == 0) continue;
    const double* source = rows + p * stride;
    for (size_t j = begin; j < end; ++j) r[j] -= f * source[j];
  }
}

class tSingular {};  // a zero or vanishing pivot: the matrix has no inverse

// Crout's choice of pivots (implicit row scaling, the last of equal candidates),
// computed right-looking in blocks of columns. Rows are exchanged whole, so the
// result holds L and U exactly where the classical column-by-column method puts
// them.
void DenseLU(std::vector<double>& a, size_t n, tVectorOfInteger& index, double& d) {
  std::vector<double> scale(n);
  index.assign(n, 0);
  d = 1;
  for (size_t i = 0; i < n; ++i) {
    double big = 0;
    for (size_t j = 0; j < n; ++j) big = std::max(big, std::fabs(a[i * n + j]));
    if (big == 0) throw EMathError("Error in LUDCMP: singular matrix");
    Assert(big > 1e-10, "Error in LUDCMP: nearly-singular matrix");
    scale[i] = 1 / big;
  }
  for (size_t kb = 0; kb < n; kb += BlockSize) {
    const size_t ke = std::min(kb + BlockSize, n);
    for (size_t k = kb; k < ke; ++k) {
      size_t imax = k;
      double big = 0;
      for (size_t i = k; i < n; ++i) {
        const double candidate = scale[i] * std::fabs(a[i * n + k]);
        if (candidate >= big) {
          big = candidate;
          imax = i;
        }
      }
      if (imax != k) {
        std::swap_ranges(a.begin() + imax * n, a.begin() + (imax + 1) * n, a.begin() + k * n);
        d = -d;
        scale[imax] = scale[k];
      }
      index[k] = static_cast<Integer>(imax);
      const double pivot = a[k * n + k];
      if (pivot == 0) throw tSingular();
      const double inverse = 1 / pivot;
      const double* pivotRow = &a[k * n];
      for (size_t i = k + 1; i < n; ++i) {
        double* row = &a[i * n];
        const double l = row[k] *= inverse;
        for (size_t j = k + 1; j < ke; ++j) row[j] -= l * pivotRow[j];
      }
    }
    // The block's rows of U right of the block: forward substitution with L11.
    for (size_t k = kb; k < ke; ++k)
      for (size_t i = k + 1; i < ke; ++i) {
        const double l = a[i * n + k];
        if (l == 0) continue;
        for (size_t j = ke; j < n; ++j) a[i * n + j] -= l * a[k * n + j];
      }
    // The trailing matrix loses the block's contribution L21 x U12.
    for (size_t i = ke; i < n; ++i)
      SubtractCombination(&a[i * n], &a[i * n + kb], &a[kb * n], n, ke - kb, ke, n);
  }
}

// The inverse from the factors: U^-1 L^-1, then the row exchanges undone as
// column exchanges in reverse order.
std::vector<double> DenseInverse(const std::vector<double>& lu, size_t n, const tVectorOfInteger& index) {
  std::vector<double> x(n * n, 0.0);
  for (size_t i = 0; i < n; ++i) x[i * n + i] = 1;
  // L^-1, lower triangular: row k has cells in columns 0..k only.
  for (size_t kb = 0; kb < n; kb += BlockSize) {
    const size_t ke = std::min(kb + BlockSize, n);
    for (size_t i = kb + 1; i < ke; ++i)
      for (size_t k = kb; k < i; ++k) {
        const double l = lu[i * n + k];
        for (size_t j = 0; j <= k; ++j) x[i * n + j] -= l * x[k * n + j];
      }
    for (size_t i = ke; i < n; ++i)
      SubtractCombination(&x[i * n], &lu[i * n + kb], &x[kb * n], n, ke - kb, 0, ke);
  }
  // U^-1 from the bottom up.
  for (size_t block = (n + BlockSize - 1) / BlockSize; block-- > 0;) {
    const size_t kb = block * BlockSize;
    const size_t ke = std::min(kb + BlockSize, n);
    for (size_t i = ke; i-- > kb;) {
      double* row = &x[i * n];
      for (size_t k = i + 1; k < ke; ++k) {
        const double u = lu[i * n + k];
        const double* source = &x[k * n];
        for (size_t j = 0; j < n; ++j) row[j] -= u * source[j];
      }
      const double inverse = 1 / lu[i * n + i];
      for (size_t j = 0; j < n; ++j) row[j] *= inverse;
    }
    for (size_t i = 0; i < kb; ++i)
      SubtractCombination(&x[i * n], &lu[i * n + kb], &x[kb * n], n, ke - kb, 0, n);
  }
  for (size_t k = n; k-- > 0;) {
    const size_t other = static_cast<size_t>(index[k]);
    if (other != k)
      for (size_t i = 0; i < n; ++i) std::swap(x[i * n + k], x[i * n + other]);
  }
  return x;
}

// Row and column scales R, C that bring the largest magnitude of every row and
// column of R A C to one (powers of two, so that scaling is exact).
void EquilibrationScales(const std::vector<double>& a, size_t n, std::vector<double>& r,
                         std::vector<double>& c) {
  // 2^-e for x = m 2^e; the exponent stays within what a double holds.
  auto scaleFor = [](double x) {
    return x > 0 && std::isfinite(x) ? std::ldexp(1.0, std::clamp(-std::ilogb(x), -1000, 1000)) : 1.0;
  };
  r.assign(n, 1.0);
  c.assign(n, 0.0);
  for (size_t i = 0; i < n; ++i) {
    double big = 0;
    for (size_t j = 0; j < n; ++j) big = std::max(big, std::fabs(a[i * n + j]));
    r[i] = scaleFor(big);
  }
  for (size_t i = 0; i < n; ++i)
    for (size_t j = 0; j < n; ++j) c[j] = std::max(c[j], std::fabs(a[i * n + j]) * r[i]);
  for (size_t j = 0; j < n; ++j) c[j] = scaleFor(c[j]);
}

// The 1-norm (largest column sum of magnitudes) of the contiguous n x n matrix
// diag(left) A diag(right).
double ScaledNormOne(const std::vector<double>& a, size_t n, const std::vector<double>& left,
                     const std::vector<double>& right) {
  std::vector<double> sums(n, 0.0);
  for (size_t i = 0; i < n; ++i)
    for (size_t j = 0; j < n; ++j) sums[j] += std::fabs(a[i * n + j]) * left[i];
  double norm = 0;
  for (size_t j = 0; j < n; ++j) norm = std::max(norm, sums[j] * right[j]);
  return norm;
}

std::vector<double> ContiguousCopy(const tMatrixOfDouble& m, size_t n) {
  std::vector<double> a(n * n);
  for (size_t i = 0; i < n; ++i) {
    Assert(m[i].size() >= n, "Matrix M is not square.");
    std::copy_n(m[i].begin(), n, a.begin() + i * n);
  }
  return a;
}

double Pythag(double a, double b) {
  const double absA = std::fabs(a), absB = std::fabs(b);
  if (absA > absB) return absA * std::sqrt(1.0 + (absB / absA) * (absB / absA));
  return absB == 0 ? 0 : absB * std::sqrt(1.0 + (absA / absB) * (absA / absB));
}

}  // namespace

// ------------------------------------------------------------ shape and products

bool MatHasShape(const tMatrixOfDouble& m, size_t rows, size_t cols) {
  return m.size() == rows &&
         std::all_of(m.begin(), m.end(), [cols](const tVectorOfDouble& row) { return row.size() == cols; });
}

tMatrixOfDouble MatXmat(const tMatrixOfDouble& a, const tMatrixOfDouble& b) {
  if (a.empty()) return {};
  const size_t inner = a[0].size();
  Assert(b.size() >= inner && (inner == 0 || !b.empty()), "The matrices cannot be multiplied");
  const size_t columns = b.empty() ? 0 : b[0].size();
  tMatrixOfDouble r(a.size(), tVectorOfDouble(columns, 0.0));
  for (size_t i = 0; i < a.size(); ++i) {
    Assert(a[i].size() >= inner, "The matrices cannot be multiplied");
    double* out = r[i].data();
    for (size_t k = 0; k < inner; ++k) {
      const double f = a[i][k];
      const tVectorOfDouble& row = b[k];
      Assert(row.size() >= columns, "The matrices cannot be multiplied");
      for (size_t j = 0; j < columns; ++j) out[j] += f * row[j];
    }
  }
  return r;
}

tVectorOfDouble MatXvec(const tMatrixOfDouble& m, const tVectorOfDouble& v) {
  const size_t n = v.size();
  Assert(m.size() >= n, "The matrix and the vector cannot be multiplied");
  tVectorOfDouble r(n);
  for (size_t i = 0; i < n; ++i) {
    Assert(m[i].size() >= n, "The matrix and the vector cannot be multiplied");
    double s = 0;
    for (size_t j = 0; j < n; ++j) s += m[i][j] * v[j];
    r[i] = s;
  }
  return r;
}

tMatrixOfDouble MatXscal(const tMatrixOfDouble& m, Double s) {
  tMatrixOfDouble r = m;
  for (auto& row : r)
    for (double& x : row) x *= s;
  return r;
}

tMatrixOfDouble TransposeMat(const tMatrixOfDouble& m) {
  const size_t n = m.size(), columns = ColumnCount(m);
  tMatrixOfDouble r(columns, tVectorOfDouble(n));
  for (size_t i = 0; i < n; ++i) {
    Assert(m[i].size() >= columns, "The matrix is not rectangular");
    for (size_t j = 0; j < columns; ++j) r[j][i] = m[i][j];
  }
  return r;
}

void TransposeSquareMat(tMatrixOfDouble& m) {
  const size_t n = m.size();
  for (const auto& row : m) Assert(row.size() == n, "Matrix M is not square.");
  for (size_t i = 0; i < n; ++i)
    for (size_t j = i + 1; j < n; ++j) std::swap(m[i][j], m[j][i]);
}

tVectorOfDouble MatDiagonal(const tMatrixOfDouble& m) {
  tVectorOfDouble r(m.size());
  for (size_t i = 0; i < m.size(); ++i) r[i] = m[i].at(i);
  return r;
}

tVectorOfDouble ExtractCol(const tMatrixOfDouble& m, Integer j) {
  tVectorOfDouble r(m.size());
  for (size_t i = 0; i < m.size(); ++i) r[i] = m[i].at(Index(j));
  return r;
}

tVectorOfDouble ExtractRow(const tMatrixOfDouble& m, Integer i) {
  return m.at(Index(i));
}

void ReplaceCol(tMatrixOfDouble& m, const tVectorOfDouble& v, Integer j) {
  Assert(v.size() >= m.size(), "The column vector is shorter than the matrix");
  for (size_t i = 0; i < m.size(); ++i) m[i].at(Index(j)) = v[i];
}

tMatrixOfDouble DeleteRowAndCol(const tMatrixOfDouble& m, Integer k) {
  const Integer n = static_cast<Integer>(m.size());
  Assert(k >= 0 && k <= n - 1, "row and coloum to delete are out of the matrix");
  tMatrixOfDouble r;
  r.reserve(m.size() - 1);
  for (Integer i = 0; i < n; ++i) {
    if (i == k) continue;
    Assert(static_cast<Integer>(m[i].size()) >= n, "Matrix M is not square.");
    tVectorOfDouble row;
    row.reserve(m.size() - 1);
    for (Integer j = 0; j < n; ++j)
      if (j != k) row.push_back(m[i][j]);
    r.push_back(std::move(row));
  }
  return r;
}

tVectorOfDouble DeleteRow(const tVectorOfDouble& v, Integer k) {
  Assert(k >= 0 && static_cast<size_t>(k) < v.size(), "The element to delete is out of the vector");
  tVectorOfDouble r = v;
  r.erase(r.begin() + k);
  return r;
}

void IndexToRowColTriangular(Int64 k, Integer& row, Integer& col) {
  row = static_cast<Integer>(Trunc((std::sqrt(8.0L * k + 1) - 1) / 2));
  col = static_cast<Integer>(k - Trunc((static_cast<long double>(row) * row + row) / 2));
}

// ------------------------------------------------------------ scaling and extremes

void MatStretchToOne(tMatrixOfDouble& m) {
  const Double max = MatMaxValue(m);
  if (max == 0 || std::isnan(max)) return;
  for (auto& row : m)
    for (double& x : row) x /= max;
}

void MatColSumToOne(tMatrixOfDouble& m) {
  const Integer columns = static_cast<Integer>(ColumnCount(m));
  for (Integer j = 0; j < columns; ++j) {
    tVectorOfDouble column = ExtractCol(m, j);
    VecSumToOne(column);
    ReplaceCol(m, column, j);
  }
}

Double MatMaxValue(const tMatrixOfDouble& m) {
  Double best = LowestDouble;
  for (const auto& row : m)
    for (double x : row)
      if (x > best) best = x;
  return best;
}

Double MaxCoefficient(const tMatrixOfDouble& m) {
  return MatMaxValue(m);
}

Extended MaxCoefficient(const tMatrixOfExtended& m) {
  Extended best = -std::numeric_limits<Extended>::max();
  for (const auto& row : m)
    for (Extended x : row)
      if (x > best) best = x;
  return best;
}

void MatMinMax(const tMatrixOfDouble& m, Double& min, Double& max, Double missing) {
  min = HighestDouble;
  max = LowestDouble;
  for (const auto& row : m)
    for (double x : row) {
      if (!(std::fabs(x - missing) > 1e-6)) continue;
      if (x < min) min = x;
      if (x > max) max = x;
    }
}

Double MaxElement(const tVectorOfDouble& v, Integer n) {
  Double result = 0, magnitude = 0;
  const size_t count = n < 1 ? 0 : std::min(static_cast<size_t>(n), v.size());
  for (size_t i = 0; i < count; ++i)
    if (std::fabs(v[i]) > magnitude) {
      magnitude = std::fabs(v[i]);
      result = v[i];
    }
  return result;
}

Double DIST(const tVectorOfDouble& a, const tVectorOfDouble& b, Integer n) {
  Double s = 0;
  for (Integer i = 0; i < n; ++i) {
    const Double d = b.at(i) - a.at(i);
    s += d * d;
  }
  return std::sqrt(s);
}

Double MAXIMUM(Double a, Double b) {
  return a > b ? a : b;
}

// ------------------------------------------------------------ solvers

void ludcmp(tMatrixOfDouble& a, tVectorOfInteger& index, Double& d) {
  const size_t n = a.size();
  std::vector<double> lu = ContiguousCopy(a, n);
  try {
    DenseLU(lu, n, index, d);
  } catch (const tSingular&) {
    throw EMathError("Error in LUDCMP: singular matrix");
  }
  for (size_t i = 0; i < n; ++i) std::copy_n(lu.begin() + i * n, n, a[i].begin());
}

void lubksb(const tMatrixOfDouble& a, const tVectorOfInteger& index, tVectorOfDouble& b) {
  const Integer n = static_cast<Integer>(a.size());
  Assert(index.size() == a.size() && b.size() >= a.size(), "lubksb: the sizes do not agree");
  Integer first = -1;  // the first nonzero element of b: the sums start there
  for (Integer i = 0; i < n; ++i) {
    const Integer ip = index[i];
    double sum = b[ip];
    b[ip] = b[i];
    if (first >= 0)
      for (Integer j = first; j < i; ++j) sum -= a[i][j] * b[j];
    else if (sum != 0)
      first = i;
    b[i] = sum;
  }
  for (Integer i = n - 1; i >= 0; --i) {
    double sum = b[i];
    for (Integer j = i + 1; j < n; ++j) sum -= a[i][j] * b[j];
    b[i] = FloatDiv(sum, a[i][i]);
  }
}

tMatrixOfDouble InvertMat(const tMatrixOfDouble& m, Integer n) {
  try {
    const size_t size = n == 0 ? m.size() : Index(n);
    Assert(m.size() >= size, "Matrix M is not square.");
    std::vector<double> lu = ContiguousCopy(m, size);
    // The elimination chooses the same pivots, and loses no more accuracy, when
    // rows and columns are scaled: the condition that decides is that of the
    // equilibrated matrix R M C, whose inverse is C^-1 M^-1 R^-1.
    std::vector<double> rowScale, columnScale;
    EquilibrationScales(lu, size, rowScale, columnScale);
    const double norm = ScaledNormOne(lu, size, rowScale, columnScale);
    tVectorOfInteger index;
    double d;
    DenseLU(lu, size, index, d);
    const std::vector<double> x = DenseInverse(lu, size, index);
    std::vector<double> inverseR(size), inverseC(size);
    for (size_t i = 0; i < size; ++i) {
      inverseR[i] = 1 / rowScale[i];
      inverseC[i] = 1 / columnScale[i];
    }
    // A matrix whose condition number exceeds what the precision can resolve is
    // singular up to rounding: its "inverse" would be rounding noise.
    if (!(norm * ScaledNormOne(x, size, inverseC, inverseR) * static_cast<double>(size) * DBL_EPSILON < 1))
      throw tSingular();
    tMatrixOfDouble r(size, tVectorOfDouble(size));
    for (size_t i = 0; i < size; ++i)
      for (size_t j = 0; j < size; ++j) {
        const double cell = x[i * size + j];
        if (!std::isfinite(cell)) throw tSingular();
        r[i][j] = cell;
      }
    return r;
  } catch (...) {
    throw EMathError("Singular matrix: Inversion impossible");
  }
}

void EigenSystem(const tMatrixOfDouble& m, tVectorOfDouble& values, tMatrixOfDouble& vectors) {
  const size_t n = m.size();
  for (const auto& row : m) Assert(row.size() == n, "Matrix M is not square.");
  vectors = m;
  values.assign(n, 0.0);
  tVectorOfDouble offDiagonal(n, 0.0);
  tred2(vectors, static_cast<Integer>(n), values, offDiagonal);
  tqli(values, offDiagonal, static_cast<Integer>(n), vectors);
  eigsrt(values, vectors, static_cast<Integer>(n));
}

void tred2(tMatrixOfDouble& a, Integer n, tVectorOfDouble& d, tVectorOfDouble& e) {
  if (n <= 0) return;
  d.resize(std::max(d.size(), static_cast<size_t>(n)));
  e.resize(std::max(e.size(), static_cast<size_t>(n)));
  for (Integer i = n - 1; i > 0; --i) {
    const Integer l = i - 1;
    double h = 0;
    if (l > 0) {
      double scale = 0;
      for (Integer k = 0; k <= l; ++k) scale += std::fabs(a[i][k]);
      if (scale == 0) {
        e[i] = a[i][l];
      } else {
        for (Integer k = 0; k <= l; ++k) {
          a[i][k] /= scale;
          h += a[i][k] * a[i][k];
        }
        double f = a[i][l];
        double g = f >= 0 ? -std::sqrt(h) : std::sqrt(h);
        e[i] = scale * g;
        h -= f * g;
        a[i][l] = f - g;
        f = 0;
        for (Integer j = 0; j <= l; ++j) {
          a[j][i] = a[i][j] / h;
          g = 0;
          for (Integer k = 0; k <= j; ++k) g += a[j][k] * a[i][k];
          for (Integer k = j + 1; k <= l; ++k) g += a[k][j] * a[i][k];
          e[j] = g / h;
          f += e[j] * a[i][j];
        }
        const double hh = f / (h + h);
        for (Integer j = 0; j <= l; ++j) {
          f = a[i][j];
          e[j] = g = e[j] - hh * f;
          for (Integer k = 0; k <= j; ++k) a[j][k] -= f * e[k] + g * a[i][k];
        }
      }
    } else {
      e[i] = a[i][l];
    }
    d[i] = h;
  }
  d[0] = 0;
  e[0] = 0;
  for (Integer i = 0; i < n; ++i) {
    if (d[i] != 0) {
      for (Integer j = 0; j < i; ++j) {
        double g = 0;
        for (Integer k = 0; k < i; ++k) g += a[i][k] * a[k][j];
        for (Integer k = 0; k < i; ++k) a[k][j] -= g * a[k][i];
      }
    }
    d[i] = a[i][i];
    a[i][i] = 1;
    for (Integer j = 0; j < i; ++j) a[j][i] = a[i][j] = 0;
  }
}

void tqli(tVectorOfDouble& d, tVectorOfDouble& e, Integer n, tMatrixOfDouble& z) {
  if (n <= 0) return;
  for (Integer i = 1; i < n; ++i) e[i - 1] = e[i];
  e[n - 1] = 0;
  for (Integer l = 0; l < n; ++l) {
    Integer iterations = 0;
    Integer m;
    do {
      for (m = l; m < n - 1; ++m) {
        const double dd = std::fabs(d[m]) + std::fabs(d[m + 1]);
        if (std::fabs(e[m]) <= DBL_EPSILON * dd) break;
      }
      if (m != l) {
        if (iterations++ == 30) throw EMathError("Error in routine TQLI, too many iterations");
        double g = (d[l + 1] - d[l]) / (2.0 * e[l]);
        double r = Pythag(g, 1.0);
        g = d[m] - d[l] + e[l] / (g + (g >= 0 ? std::fabs(r) : -std::fabs(r)));
        double s = 1, c = 1, p = 0;
        Integer i;
        for (i = m - 1; i >= l; --i) {
          double f = s * e[i];
          const double b = c * e[i];
          e[i + 1] = r = Pythag(f, g);
          if (r == 0) {
            d[i + 1] -= p;
            e[m] = 0;
            break;
          }
          s = f / r;
          c = g / r;
          g = d[i + 1] - p;
          r = (d[i] - g) * s + 2.0 * c * b;
          d[i + 1] = g + (p = s * r);
          g = c * r - b;
          for (Integer k = 0; k < n; ++k) {
            f = z[k][i + 1];
            z[k][i + 1] = s * z[k][i] + c * f;
            z[k][i] = c * z[k][i] - s * f;
          }
        }
        if (r == 0 && i >= l) continue;
        d[l] -= p;
        e[l] = g;
        e[m] = 0;
      }
    } while (m != l);
  }
}

void eigsrt(tVectorOfDouble& d, tMatrixOfDouble& v, Integer n) {
  for (Integer i = 0; i < n - 1; ++i) {
    Integer k = i;
    double p = d[i];
    for (Integer j = i + 1; j < n; ++j)
      if (d[j] >= p) {
        k = j;
        p = d[j];
      }
    if (k != i) {
      d[k] = d[i];
      d[i] = p;
      for (Integer j = 0; j < n; ++j) std::swap(v[j][i], v[j][k]);
    }
  }
}

void DominantEigensystem(const tMatrixOfDouble& m, tVectorOfDouble& x, Double& lambda, Integer maxIter,
                         Double tolerance) {
  const Integer n = static_cast<Integer>(m.size());
  Assert(n > 1, "Matrix size must be greater than 1");
  x.assign(n, 1.0);
  lambda = 0;
  bool goingOn = true;
  for (Integer iteration = 0; iteration <= maxIter && goingOn; ++iteration) {
    tVectorOfDouble y = MatXvec(m, x);
    const Double newLambda = MaxElement(y, n);
    const Double dLambda = std::fabs(lambda - newLambda);
    const Double factor = FloatDiv(1.0, newLambda);
    for (double& c : y) c *= factor;
    const Double error = MAXIMUM(DIST(x, y, n), dLambda);
    x = std::move(y);
    lambda = newLambda;
    goingOn = error > tolerance;
  }
}

Double DominantEigenValue(const tMatrixOfDouble& m, Integer maxIter, Double tolerance) {
  tVectorOfDouble x(m.size());
  Double lambda = 0;
  DominantEigensystem(m, x, lambda, maxIter, tolerance);
  return lambda;
}

}  // namespace utile
