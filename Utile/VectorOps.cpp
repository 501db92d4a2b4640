#include "Utile/VectorOps.h"

#include <bit>
#include <cmath>
#include <cstring>
#include <fstream>
#include <limits>

#include "Utile/Platform.h"
#include "Utile/RunTime.h"

namespace utile {

static_assert(std::endian::native == std::endian::little, "matrix files are little-endian");

namespace {
size_t CheckedCount(Integer n) {
  if (n < 0) throw ERangeError(Format("Range check error: negative length %d", n));
  return static_cast<size_t>(n);
}

void AssertRectangular(bool rectangular) { Assert(rectangular, "The matrix is not rectangular"); }
}  // namespace

// ------------------------------------------------------------ creation and copies

tVectorOfDouble NullVector(Integer n) { return tVectorOfDouble(CheckedCount(n), 0.0); }
tVectorOfCardinal NullVectorOfCardinal(Integer n) { return tVectorOfCardinal(CheckedCount(n), 0); }
tVectorOfInteger NullVectorOfInteger(Integer n) { return tVectorOfInteger(CheckedCount(n), 0); }

tMatrixOfDouble NullMatrix(Integer rows, Integer columns) {
  return tMatrixOfDouble(CheckedCount(rows), tVectorOfDouble(CheckedCount(columns), 0.0));
}

tMatrixOfBoolean NullMatrixOfBoolean(Integer rows, Integer columns) {
  return tMatrixOfBoolean(CheckedCount(rows), tVectorOfBoolean(CheckedCount(columns), false));
}

tMatrixOfInteger NullMatrixOfInteger(Integer rows, Integer columns) {
  return tMatrixOfInteger(CheckedCount(rows), tVectorOfInteger(CheckedCount(columns), 0));
}

tMatrixOfBoolean IdentityMatrixOfBoolean(Cardinal n) {
  tMatrixOfBoolean m(n, tVectorOfBoolean(n, false));
  for (Cardinal i = 0; i < n; ++i) m[i][i] = true;
  return m;
}

tVectorOfDouble MakeVectorOfDouble(std::initializer_list<Double> values) { return tVectorOfDouble(values); }

tVectorOfCardinal SequentialVector(Cardinal first, Cardinal last) {
  tVectorOfCardinal v;
  if (first <= last) {
    v.reserve(static_cast<size_t>(last - first) + 1);
    for (uint64_t x = first; x <= last; ++x) v.push_back(static_cast<Cardinal>(x));
  } else {
    v.reserve(static_cast<size_t>(first - last) + 1);
    for (int64_t x = first; x >= static_cast<int64_t>(last); --x) v.push_back(static_cast<Cardinal>(x));
  }
  return v;
}

tVectorOfDouble SequentialVector(Double first, Double last, Integer n) {
  tVectorOfDouble v(CheckedCount(n));
  // Evaluated left to right in extended precision, i x (Last - First) before the
  // division, so that steps such as tenths come out as the nearest doubles.
  if (n == 1) FloatDiv(0.0 * (last - first), 0);  // one value: the step divides by zero
  const Extended span = static_cast<Extended>(last) - first;
  for (Integer i = 0; i < n; ++i) v[i] = static_cast<Double>(i * span / (n - 1) + first);
  return v;
}

tVectorOfDouble CopyVec(const tVectorOfDouble& v) { return v; }

void CopyVec(const tVectorOfCardinal& v, tVectorOfCardinal& output) { output = v; }

tMatrixOfDouble CopyMat(const tMatrixOfDouble& m) {
  if (m.empty()) return {};
  AssertRectangular(IsRectangular(m));
  return m;
}

void ClearVec(tVectorOfDouble& v) { std::fill(v.begin(), v.end(), 0.0); }

tMatrixOfDouble MatInverseCols(const tMatrixOfDouble& m) {
  if (m.empty()) return {};
  AssertRectangular(IsRectangular(m));
  const size_t columns = m[0].size();
  tMatrixOfDouble r(m.size(), tVectorOfDouble(columns));
  for (size_t i = 0; i < m.size(); ++i)
    for (size_t j = 0; j < columns; ++j) r[i][j] = m[i][columns - 1 - j];
  return r;
}

// ------------------------------------------------------------ elementwise arithmetic

void AddCardinalVectors(tVectorOfCardinal& vSum, tCardinalVectorList vectors) {
  if (vectors.size() == 0) return;
  const tVectorOfCardinal& first = vectors.begin()->get();
  Assert(vSum.size() == first.size(), "vSum has not the same length as the summed vectors.");
  for (auto it = vectors.begin() + 1; it != vectors.end(); ++it) {
    Assert(it->get().size() == vSum.size());
    Assert(&it->get() != &vSum, "vSum cannot be added to itself");
  }
  if (&first != &vSum) vSum = first;
  for (auto it = vectors.begin() + 1; it != vectors.end(); ++it) {
    const tVectorOfCardinal& v = it->get();
    for (size_t i = 0; i < vSum.size(); ++i) vSum[i] += v[i];
  }
}

void AddTwoVectors(tVectorOfCardinal& v1, const tVectorOfCardinal& v2) {
  Assert(v1.size() == v2.size());
  for (size_t i = 0; i < v1.size(); ++i) v1[i] += v2[i];
}

void AddVectors(tVectorOfDouble& vSum, tDoubleVectorList vectors, std::initializer_list<Double> weights) {
  if (vectors.size() == 0) return;
  Assert(vSum.size() == vectors.begin()->get().size(), "Guru's meditation: Result vector has not the correct size.");
  Assert(weights.size() == vectors.size(), "Guru's meditation: weight vector has not the correct size.");
  for (auto it = vectors.begin() + 1; it != vectors.end(); ++it) Assert(it->get().size() == vSum.size());
  // Summed into a scratch vector so that vSum may also be one of the terms.
  tVectorOfDouble sum(vSum.size(), 0.0);
  auto w = weights.begin();
  for (auto it = vectors.begin(); it != vectors.end(); ++it, ++w) {
    const tVectorOfDouble& v = it->get();
    for (size_t i = 0; i < sum.size(); ++i) sum[i] += v[i] * *w;
  }
  vSum = std::move(sum);
}

tVectorOfDouble VeciXveci(const tVectorOfDouble& v1, const tVectorOfDouble& v2) {
  Assert(v2.size() >= v1.size());
  tVectorOfDouble r(v1.size());
  for (size_t i = 0; i < v1.size(); ++i) r[i] = v1[i] * v2[i];
  return r;
}

tVectorOfDouble VecXscal(const tVectorOfDouble& v, Double s) {
  tVectorOfDouble r(v.size());
  for (size_t i = 0; i < v.size(); ++i) r[i] = v[i] * s;
  return r;
}

Double VecXvec(const tVectorOfDouble& v1, const tVectorOfDouble& v2) {
  Assert(v2.size() >= v1.size());
  Double sum = 0;
  for (size_t i = 0; i < v1.size(); ++i) sum += v1[i] * v2[i];
  return sum;
}

void VecSumToOne(tVectorOfDouble& v) {
  Double sum = 0;
  for (Double x : v) sum += x;
  if (sum == 0) return;
  for (Double& x : v) x /= sum;
}

// ------------------------------------------------------------ cumulation, search, sort

tVectorOfDouble CumulativeVector(const tVectorOfDouble& v) {
  tVectorOfDouble c(v.size() + 1);
  c[0] = 0;
  for (size_t i = 1; i <= v.size(); ++i) {
    Assert(v[i - 1] >= 0, "Values of V can't be negative in CumulativeVector");
    c[i] = c[i - 1] + v[i - 1];
  }
  return c;
}

Integer FindClass(const tVectorOfDouble& c, Double x) { return FindClass(c.data(), static_cast<Integer>(c.size()), x); }

Integer FindClass(const Double* c, Integer count, Double x) {
  Integer low = 0;
  Integer high = count - 1;
  while (low <= high) {
    const Integer mid = (low + high) / 2;
    if (c[mid] == x) return mid;
    if (c[mid] < x)
      low = mid + 1;
    else
      high = mid - 1;
  }
  return high;
}

namespace {
template <class tVector, class tMatch>
Integer ScanFirst(const tVector& v, Integer first, Integer last, tMatch matches) {
  last = std::min<Integer>(last, static_cast<Integer>(v.size()) - 1);
  for (Integer i = std::max<Integer>(first, 0); i <= last; ++i)
    if (matches(v[i])) return i;
  return -1;
}
}  // namespace

Integer FindFirst(const tVectorOfCardinal& v, Cardinal value, Integer first, Integer last) {
  const Integer i = ScanFirst(v, first, last, [value](Cardinal x) { return x == value; });
  return i < 0 ? static_cast<Integer>(v.size()) : i;
}

Integer FindFirst(const tVectorOfInteger& v, Integer value, Integer first, Integer last) {
  return ScanFirst(v, first, last, [value](Integer x) { return x == value; });
}

Integer FindFirst(const tVectorOfDouble& v, Double value, Double tolerance, Integer first, Integer last) {
  return ScanFirst(v, first, last, [=](Double x) { return std::fabs(x - value) <= tolerance; });
}

namespace {
// The one-based sift-down heapsort: a max-heap built from the middle down, then
// the root moved to the end again and again.
template <class T>
void HeapSort(std::vector<T>& v) {
  const size_t n = v.size();
  if (n < 2) return;
  auto ra = [&v](size_t k) -> T& { return v[k - 1]; };  // one-based view
  size_t l = (n >> 1) + 1;
  size_t ir = n;
  for (;;) {
    T rra;
    if (l > 1) {
      rra = ra(--l);
    } else {
      rra = ra(ir);
      ra(ir) = ra(1);
      if (--ir == 1) {
        ra(1) = rra;
        break;
      }
    }
    size_t i = l;
    size_t j = l + l;
    while (j <= ir) {
      if (j < ir && ra(j) < ra(j + 1)) ++j;
      if (rra < ra(j)) {
        ra(i) = ra(j);
        i = j;
        j <<= 1;
      } else {
        break;
      }
    }
    ra(i) = rra;
  }
}
}  // namespace

void SortVector(tVectorOfDouble& v) { HeapSort(v); }
void SortVector(tVectorOfInteger& v) { HeapSort(v); }

Integer IndexMaxValueVec(const tVectorOfDouble& v) {
  Double best = -1.7e308;
  Integer index = -1;
  for (size_t i = 0; i < v.size(); ++i)
    if (v[i] > best) {
      best = v[i];
      index = static_cast<Integer>(i);
    }
  return index;
}

// ------------------------------------------------------------ text renderings

std::string VecToStr(const tVectorOfDouble& v, std::string_view format) {
  std::string s;
  for (Double x : v) s += Format(format, x);
  return s;
}

std::string VecToStr(const tVectorOfCardinal& v, std::string_view format) {
  std::string s;
  for (Cardinal x : v) s += Format(format, x);
  return s;
}

namespace {
template <class tMatrix>
std::string MatrixText(const tMatrix& m, std::string_view format) {
  const std::string cellFormat = std::string(format) + "\t";
  std::string s;
  for (const auto& row : m) {
    std::string line;
    for (const auto& cell : row) line += Format(cellFormat, cell);
    if (!line.empty() && line.back() == '\t') line.pop_back();
    s += line;
    s += "\r\n";
  }
  return s;
}
}  // namespace

std::string MatToStr(const tMatrixOfDouble& m, std::string_view format) { return MatrixText(m, format); }
std::string MatToStr(const tMatrixOfSingle& m, std::string_view format) { return MatrixText(m, format); }

std::string MatToStr(const tMatrixOfDouble& m, const tVectorOfString& rowNames, const tVectorOfString& columnNames,
                     std::string_view format) {
  std::string s;
  for (const auto& name : columnNames) {
    s += '\t';
    s += name;
  }
  s += "\r\n";
  for (size_t i = 0; i < m.size(); ++i) {
    if (i < rowNames.size()) s += rowNames[i];
    for (Double cell : m[i]) {
      s += '\t';
      s += Format(format, cell);
    }
    s += "\r\n";
  }
  return s;
}

// ------------------------------------------------------------ matrix files

namespace {

// Reads numbers separated by blanks, TABs and line ends, Pascal-style: a number
// may cross line ends; SkipLine drops the rest of the current line.
class tNumberReader {
public:
  tNumberReader(std::string text, std::string fileName) : fText(std::move(text)), fFileName(std::move(fileName)) {}

  double Next() {
    while (fPos < fText.size() && IsBlank(fText[fPos])) ++fPos;
    if (fPos >= fText.size()) throw EInOutError(Format("Read beyond end of file \"%s\"", fFileName));
    const size_t start = fPos;
    while (fPos < fText.size() && !IsBlank(fText[fPos])) ++fPos;
    const std::string_view token(fText.data() + start, fPos - start);
    double value;
    if (TryStrToFloat(token, value, '.')) return value;
    if (long double wide; TryStrToFloat(token, wide, '.'))
      throw EInOutError(Format("Number out of range in file \"%s\": %s", fFileName, std::string(token)));
    const std::string upper = UpperCase(token);
    if (upper == "NAN") return std::nan("");
    if (upper == "INF" || upper == "+INF") return HUGE_VAL;
    if (upper == "-INF") return -HUGE_VAL;
    throw EInOutError(Format("Invalid numeric format in file \"%s\": %s", fFileName, std::string(token)));
  }

  void SkipLine() {
    while (fPos < fText.size() && fText[fPos] != '\n') ++fPos;
    if (fPos < fText.size()) ++fPos;
  }

private:
  static bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
  std::string fText;
  std::string fFileName;
  size_t fPos = 0;
};

// Rows of the given length. Sized row by row: a matrix without rows allocates
// nothing, whatever column count its file gives.
tMatrixOfDouble SizedMatrix(size_t rows, size_t columns) {
  tMatrixOfDouble m(rows);
  for (auto& row : m) row.resize(columns);
  return m;
}

size_t CountFromFile(double value, const std::string& fileName) {
  if (!std::isfinite(value) || value < -0.5 || value > 2147483647.0)
    throw EInOutError(Format("Invalid matrix size in file \"%s\"", fileName));
  return static_cast<size_t>(Round(value));
}

uint64_t FileSize(std::ifstream& in) {
  in.seekg(0, std::ios::end);
  const auto size = in.tellg();
  in.seekg(0, std::ios::beg);
  return size < 0 ? 0 : static_cast<uint64_t>(size);
}

constexpr size_t MaxRowsWithoutCells = size_t(1) << 20;

[[noreturn]] void RaiseTooShort(const std::string& fileName) {
  throw EInOutError(Format("File \"%s\" holds fewer cells than its counts promise", fileName));
}

// Refuses, before it is sized, a matrix that the machine cannot give.
void CheckMatrixMemory(size_t rows, size_t columns, const std::string& fileName) {
  const double bytes =
      static_cast<double>(rows) * (static_cast<double>(columns) * sizeof(double) + sizeof(tVectorOfDouble));
  if (!MemoryAvailable(static_cast<uint64_t>(bytes)))
    throw EInOutError(Format("The %d x %d matrix of file \"%s\" needs %.0f MB, more memory than is free",
                             static_cast<Int64>(rows), static_cast<Int64>(columns), fileName,
                             std::ceil(bytes / 1048576)));
}

}  // namespace

namespace {
tMatrixOfDouble ReadMatrixFile(const std::string& fileName, bool binary);
}  // namespace

tMatrixOfDouble MatLoadFromFile(const std::string& fileName, bool binary) {
  return WithinMemory(fileName, [&] { return ReadMatrixFile(fileName, binary); });
}

namespace {
tMatrixOfDouble ReadMatrixFile(const std::string& fileName, bool binary) {
  std::ifstream in(fileName, std::ios::binary);
  // A folder opens as a stream of no readable bytes but a huge size.
  if (!in || !FileExists(fileName)) throw EInOutError(Format("Cannot open file \"%s\"", fileName));
  const uint64_t size = FileSize(in);
  if (binary) {
    double counts[2];
    if (!in.read(reinterpret_cast<char*>(counts), sizeof counts)) RaiseTooShort(fileName);
    const size_t rows = CountFromFile(counts[0], fileName);
    const size_t columns = CountFromFile(counts[1], fileName);
    // Checked before anything is allocated, so that garbled counts cannot ask for
    // more memory than the file could fill.
    if (columns > 0 && rows > (size - 16) / 8 / columns) RaiseTooShort(fileName);
    // Rows without cells take no room in the file: their count is bounded apart.
    if (columns == 0 && rows > MaxRowsWithoutCells)
      throw EInOutError(Format("Invalid matrix size in file \"%s\"", fileName));
    CheckMatrixMemory(rows, columns, fileName);
    tMatrixOfDouble m = SizedMatrix(rows, columns);
    for (auto& row : m)
      if (!in.read(reinterpret_cast<char*>(row.data()), static_cast<std::streamsize>(columns * sizeof(double))))
        RaiseTooShort(fileName);
    return m;
  }
  if (!MemoryAvailable(size)) RaiseNotEnoughMemory(fileName);
  std::string text(size, '\0');
  if (size > 0 && !in.read(text.data(), static_cast<std::streamsize>(size)))
    throw EInOutError(Format("Error reading file \"%s\"", fileName));
  tNumberReader reader(std::move(text), fileName);
  const size_t rows = CountFromFile(reader.Next(), fileName);
  const size_t columns = CountFromFile(reader.Next(), fileName);
  reader.SkipLine();
  // Every cell takes at least one character and one separator.
  if (rows > size || (columns > 0 && rows > size / columns)) RaiseTooShort(fileName);
  CheckMatrixMemory(rows, columns, fileName);
  tMatrixOfDouble m = SizedMatrix(rows, columns);
  for (auto& row : m) {
    for (auto& cell : row) cell = reader.Next();
    reader.SkipLine();
  }
  return m;
}
}  // namespace

namespace {
// cellText(cell, out) writes a cell of at most CellWidth characters at out and
// returns where it ends.
constexpr size_t CellWidth = 23;

template <class tMatrix, class tCellText>
void SaveText(const tMatrix& m, const std::string& fileName, tCellText cellText) {
  if (!m.empty()) AssertRectangular(IsRectangular(m));
  tSafeOutFile file(fileName, true);
  auto& out = file.Stream();
  out << m.size() << '\t' << (m.empty() ? 0 : m[0].size()) << "\r\n";
  std::string line;
  for (const auto& row : m) {
    line.resize(row.size() * (CellWidth + 1) + 2);
    char* at = line.data();
    for (size_t j = 0; j < row.size(); ++j) {
      if (j > 0) *at++ = '\t';
      at = cellText(row[j], at);
    }
    *at++ = '\r';
    *at++ = '\n';
    out.write(line.data(), at - line.data());
  }
  file.Commit();
}

void WriteCounts(std::ostream& out, size_t rows, size_t columns) {
  const double counts[2] = {static_cast<double>(rows), static_cast<double>(columns)};
  out.write(reinterpret_cast<const char*>(counts), sizeof counts);
}
}  // namespace

void MatSaveToFile(const tMatrixOfDouble& m, const std::string& fileName, bool binary) {
  if (!binary) {
    SaveText(m, fileName, [](double x, char* out) { return DoubleToDefaultChars(x, out); });
    return;
  }
  if (!m.empty()) AssertRectangular(IsRectangular(m));
  tSafeOutFile file(fileName, true);
  WriteCounts(file.Stream(), m.size(), m.empty() ? 0 : m[0].size());
  for (const auto& row : m)
    file.Stream().write(reinterpret_cast<const char*>(row.data()), static_cast<std::streamsize>(row.size() * 8));
  file.Commit();
}

void MatSaveToFile(const tMatrixOfBoolean& m, const std::string& fileName, bool binary) {
  if (!binary) {
    SaveText(m, fileName, [](bool b, char* out) {
      *out = b ? '1' : '0';
      return out + 1;
    });
    return;
  }
  if (!m.empty()) AssertRectangular(IsRectangular(m));
  tSafeOutFile file(fileName, true);
  WriteCounts(file.Stream(), m.size(), m.empty() ? 0 : m[0].size());
  for (const auto& row : m) {
    std::string bytes(row.size(), '\0');
    for (size_t j = 0; j < row.size(); ++j) bytes[j] = row[j] ? 1 : 0;
    file.Stream().write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  }
  file.Commit();
}

}  // namespace utile
