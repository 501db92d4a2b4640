#include "Utile/VirtualMatrixOps.h"

#include <cmath>
#include <utility>

#include "Utile/MatrixOps.h"
#include "Utile/Platform.h"
#include "Utile/RunTime.h"

namespace utile {

// ------------------------------------------------------------ base matrix

namespace {

[[noreturn]] void RaiseAbstract(const char* operation) {
  throw EAbstractError(Format("Abstract operation %s called.", operation));
}

}  // namespace

Double tBaseVirtualMatrixOfDouble::GetCells(Cardinal, Cardinal) {
  RaiseAbstract("GetCells");
}
Cardinal tBaseVirtualMatrixOfDouble::GetColCount() {
  RaiseAbstract("GetColCount");
}
Cardinal tBaseVirtualMatrixOfDouble::GetRowCount() {
  RaiseAbstract("GetRowCount");
}

bool tBaseVirtualMatrixOfDouble::Product(const tVectorOfDouble&, tVectorOfDouble&, bool, bool) {
  return false;
}

Double tBaseVirtualMatrixOfDouble::GetEigenSensitivity(Cardinal Row, Cardinal Col) const {
  Assert(Row < fEigenVectorLeft.size() && Col < fEigenVectorRight.size(), "Eigenvectors computed");
  return fEigenVectorLeft[Row] * fEigenVectorRight[Col];
}

// ------------------------------------------------------------ cached window

tRAMVirtualMatrixOfDouble::tRAMVirtualMatrixOfDouble() {
  ClearRAM();
  fNotInRAM = -999999.0;
}

tRAMVirtualMatrixOfDouble::~tRAMVirtualMatrixOfDouble() {
  ClearRAM();
}

Double tRAMVirtualMatrixOfDouble::GetCells(Cardinal Row, Cardinal Col) {
  if (fRAMfilled && CellInRam(Row, Col)) return fMatrix[Row - fMinRow][Col - fMinCol];
  return fNotInRAM;
}

bool tRAMVirtualMatrixOfDouble::CellInRam(Cardinal Row, Cardinal Col) const {
  return fMinRow <= Row && Row <= fMaxRow && fMinCol <= Col && Col <= fMaxCol;
}

void tRAMVirtualMatrixOfDouble::ClearRAM() {
  tMatrixOfDouble().swap(fMatrix);
  fRAMfilled = false;
  fMinRow = fMinCol = 2147483647;
  fMaxRow = fMaxCol = 0;
}

bool tRAMVirtualMatrixOfDouble::FillRAM(Cardinal MinRow, Cardinal MaxRow, Cardinal MinCol, Cardinal MaxCol) {
  // Cleared first, so that the subclass's GetCells computes every cell of the fill.
  ClearRAM();
  // A stop request made before the fill belongs to what ran before it.
  const Byte statusBefore = EigenStatus;
  EigenStatus = 2;
  bool stopped = false;
  if (MaxRow >= MinRow && MaxCol >= MinCol) {
    try {
      // Row by row, so that messages pass while gigabytes are given out.
      const uint64_t rows = uint64_t{MaxRow} - MinRow + 1, columns = uint64_t{MaxCol} - MinCol + 1;
      fMatrix.resize(rows);
      for (uint64_t r = 0; r < rows && !stopped; ++r) {
        fMatrix[r].resize(columns);
        stopped = !WindowFillGoesOn();
      }
      if (!stopped) ComputeWindow(MinRow, MaxRow, MinCol, MaxCol, fMatrix);
      stopped = stopped || EigenStatus == 1;
    } catch (...) {
      ClearRAM();
      EigenStatus = statusBefore;
      throw;
    }
  }
  if (stopped) {
    ClearRAM();
    return false;
  }
  EigenStatus = statusBefore;
  // An empty window keeps its bounds, under which CellInRam is never true.
  fMinRow = MinRow;
  fMaxRow = MaxRow;
  fMinCol = MinCol;
  fMaxCol = MaxCol;
  fRAMfilled = true;
  return true;
}

void tRAMVirtualMatrixOfDouble::ComputeWindow(Cardinal MinRow, Cardinal MaxRow, Cardinal MinCol,
                                              Cardinal MaxCol, tMatrixOfDouble& Window) {
  for (uint64_t r = MinRow; r <= MaxRow; ++r) {
    tVectorOfDouble& row = Window[r - MinRow];
    for (uint64_t c = MinCol; c <= MaxCol; ++c)
      row[c - MinCol] = GetCells(static_cast<Cardinal>(r), static_cast<Cardinal>(c));
    if (!WindowFillGoesOn()) return;
  }
}

// ------------------------------------------------------------ iteration state

Byte EigenStatus = 0;
Double EigenError = 0;
Double EigenEstimate = 0;
Integer EigenIteration = 0;

void ResetEigenState() {
  EigenStatus = 0;
  EigenError = 0;
  EigenEstimate = 0;
  EigenIteration = 0;
}

bool WindowFillGoesOn() {
  ProcessMessages();
  return EigenStatus != 1;
}

// ------------------------------------------------------------ power iterations

namespace {

// The sum of squared differences, without the root of the shared DIST.
Double SquaredDistance(const tVectorOfDouble& a, const tVectorOfDouble& b, Cardinal n) {
  Double sum = 0;
  for (Cardinal i = 0; i < n; ++i) sum += (a[i] - b[i]) * (a[i] - b[i]);
  return sum;
}

Double OriginalMatrix(tBaseVirtualMatrixOfDouble& M, Cardinal Row, Cardinal Col) {
  return M.GetCells(Row, Col);
}
Double TransposedMatrix(tBaseVirtualMatrixOfDouble& M, Cardinal Row, Cardinal Col) {
  return M.GetCells(Col, Row);
}

// The normalising element of a pass: a zero product has no direction left to follow.
void CheckProduct(Double L) {
  if (L == 0)
    throw EZeroDivide(
        "The power iteration met a product vector of zeros: the matrix has no dominant eigenvalue to find.");
}

// y := y / L, as the product with the reciprocal.
void Normalise(tVectorOfDouble& y, Double L) {
  const Double inverse = 1 / L;
  for (Double& v : y) v *= inverse;
}

// RoundTo the digit given, or the value as it stands when there is no usable
// digit (a denormal or non-finite error).
Double RoundedToDigits(Double value, Double errorMagnitude) {
  try {
    const int64_t digit = Round(std::log10(errorMagnitude)) + 1;
    return static_cast<Double>(RoundTo(value, static_cast<int>(digit)));
  } catch (const Exception&) {
    return value;
  }
}

}  // namespace

void DominantEigenvalue(tBaseVirtualMatrixOfDouble& M, Double& EigenValue, Integer MaxIter,
                        Double Tolerance) {
  const Cardinal n = M.RowCount();
  if (n == 1) {
    EigenValue = M.GetCells(0, 0);
    return;
  }
  tVectorOfDouble x(n, 1.0), y(n);
  EigenIteration = 0;
  EigenValue = 0;
  EigenError = 1.0;
  EigenStatus = 2;
  while (EigenIteration <= MaxIter && EigenStatus == 2) {
    if (!M.Product(x, y, false, true)) {
      for (Cardinal i = 0; i < n; ++i) {
        Extended sum = 0;
        for (Cardinal j = 0; j < n; ++j) sum += static_cast<Extended>(M.GetCells(i, j)) * x[j];
        y[i] = static_cast<Double>(sum);
        ProcessMessages();
      }
    }
    const Double L = MaxElement(y, static_cast<Integer>(n));
    CheckProduct(L);
    EigenError = std::fabs(EigenValue - L);
    Normalise(y, L);
    std::swap(x, y);
    EigenValue = L;
    // Only convergence writes the state, so that a stop request made while this
    // pass let messages through ends the loop.
    if (EigenError < Tolerance && EigenIteration > 5) EigenStatus = 0;
    ++EigenIteration;
    EigenEstimate = EigenValue;
    ProcessMessages();
  }
  if (EigenError != 0) EigenValue = RoundedToDigits(EigenValue, EigenError);
}

void DominantEigenvalueMute(tBaseVirtualMatrixOfDouble& M, Double& EigenValue, Integer MaxIter,
                            Double Tolerance) {
  const Cardinal n = M.RowCount();
  tVectorOfDouble x(n, 1.0), y(n);
  EigenValue = 0;
  bool converged = false;
  for (Integer k = 0; k <= MaxIter && !converged; ++k) {
    if (!M.Product(x, y, false, false)) {
      for (Cardinal i = 0; i < n; ++i) {
        Double sum = 0;
        for (Cardinal j = 0; j < n; ++j) sum += M.GetCells(i, j) * x[j];
        y[i] = sum;
      }
    }
    const Double L = MaxElement(y, static_cast<Integer>(n));
    CheckProduct(L);
    const Double error = std::fabs(EigenValue - L);
    Normalise(y, L);
    std::swap(x, y);
    EigenValue = L;
    converged = error <= Tolerance && k > 5;
  }
}

void DominantEigensystem(tBaseVirtualMatrixOfDouble& M, tVectorOfDouble& EigenVector, Double& EigenValue,
                         bool Transposed, Integer MaxIter, Double Tolerance) {
  const Cardinal n = M.RowCount();
  Double (*const cell)(tBaseVirtualMatrixOfDouble&, Cardinal, Cardinal) =
      Transposed ? TransposedMatrix : OriginalMatrix;
  tVectorOfDouble& V = EigenVector;
  V.assign(n, 1.0);
  tVectorOfDouble y(n);
  EigenValue = 0;
  EigenIteration = 0;
  EigenError = 1.0;
  EigenStatus = 2;
  while (EigenIteration <= MaxIter && EigenStatus == 2) {
    if (!M.Product(V, y, Transposed, true)) {
      for (Cardinal i = 0; i < n; ++i) {
        Double sum = 0;
        for (Cardinal j = 0; j < n; ++j) sum += cell(M, i, j) * V[j];
        y[i] = sum;
        ProcessMessages();
      }
    }
    const Double L = MaxElement(y, static_cast<Integer>(n));
    CheckProduct(L);
    const Double D = (EigenValue - L) * (EigenValue - L);
    Normalise(y, L);
    const Double E = SquaredDistance(V, y, n);
    EigenError = MAXIMUM(E, D);
    std::swap(V, y);
    EigenValue = L;
    // Written in every pass: a stop request does not end this iteration.
    EigenStatus = EigenError <= Tolerance && EigenIteration > 5 ? 0 : 2;
    ++EigenIteration;
  }
  if (EigenError > 1e-30) EigenValue = RoundedToDigits(EigenValue, std::sqrt(EigenError));
  M.fEigenValue = EigenValue;
  (Transposed ? M.fEigenVectorLeft : M.fEigenVectorRight) = V;
}

}  // namespace utile
