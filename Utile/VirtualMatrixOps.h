// Square matrices whose cells are computed on demand rather than stored, an
// optional cache of a rectangular window of such cells, and power iterations
// that find the dominant eigenvalue and the dominant left and right eigenvectors
// of such a matrix. The iterations let pending window messages through as they
// go and report their progress in four process-wide variables, which a window
// reads from a timer and through which it asks a running iteration to stop.
#pragma once

#include "Utile/CommonDecl.h"

namespace utile {

// A matrix known by its cells. The iterations treat it as RowCount x RowCount.
class tBaseVirtualMatrixOfDouble {
 public:
  tBaseVirtualMatrixOfDouble() = default;
  virtual ~tBaseVirtualMatrixOfDouble() = default;
  tBaseVirtualMatrixOfDouble(const tBaseVirtualMatrixOfDouble&) = delete;
  tBaseVirtualMatrixOfDouble& operator=(const tBaseVirtualMatrixOfDouble&) = delete;

  // Abstract here: a class that does not provide them raises EAbstractError.
  virtual Double GetCells(Cardinal Row, Cardinal Col);
  virtual Cardinal GetColCount();
  virtual Cardinal GetRowCount();

  // One whole pass of an iteration: y[i] := the sum over j of cell (i, j) x[j],
  // or of cell (j, i) x[j] when Transposed, for every row i (y is resized). A
  // matrix that can do this faster than cell by cell overrides it, computes
  // exactly the cells that GetCells gives, lets messages through at most once
  // per row or column when asked, and returns true; the base returns false and
  // the iterations then read the cells one by one.
  virtual bool Product(const tVectorOfDouble& x, tVectorOfDouble& y, bool Transposed,
                       bool LetMessagesThrough);

  Double Cells(Cardinal Row, Cardinal Col) { return GetCells(Row, Col); }
  Cardinal ColCount() { return GetColCount(); }
  Cardinal RowCount() { return GetRowCount(); }
  Double EigenValue() const { return fEigenValue; }
  const tVectorOfDouble& EigenVectorLeft() const { return fEigenVectorLeft; }
  const tVectorOfDouble& EigenVectorRight() const { return fEigenVectorRight; }
  // Left[Row] x Right[Col]: the sensitivity of the eigenvalue to a cell once the
  // caller has normalised the two vectors.
  Double GetEigenSensitivity(Cardinal Row, Cardinal Col) const;
  Double EigenSensitivity(Cardinal Row, Cardinal Col) const { return GetEigenSensitivity(Row, Col); }

  // The eigensystem last stored by DominantEigensystem (the model that owns the
  // matrix also forgets it).
  Double fEigenValue = 0;
  tVectorOfDouble fEigenVectorRight;
  tVectorOfDouble fEigenVectorLeft;
};

// A virtual matrix with a cache of one rectangular window of its cells.
class tRAMVirtualMatrixOfDouble : public tBaseVirtualMatrixOfDouble {
 public:
  tRAMVirtualMatrixOfDouble();
  ~tRAMVirtualMatrixOfDouble() override;

  // The cached cell, or NotInRAM outside the window (and before it is filled).
  // A subclass that computes its cells calls this first and computes the cell
  // itself when the marker comes back.
  Double GetCells(Cardinal Row, Cardinal Col) override;

  bool CellInRam(Cardinal Row, Cardinal Col) const;
  // Back to the empty state: nothing cached, bounds 2147483647 and 0.
  void ClearRAM();
  // Caches the cells of rows MinRow..MaxRow and columns MinCol..MaxCol
  // (inclusive), computed by ComputeWindow, letting messages through as it goes.
  // An empty window (a maximum below its minimum) caches nothing. A failure
  // leaves the cache empty; so does a stop request (EigenStatus set to 1 while
  // messages passed), which ends the fill within a column or row and returns
  // false, the request still standing.
  bool FillRAM(Cardinal MinRow, Cardinal MaxRow, Cardinal MinCol, Cardinal MaxCol);
  // Whether the iterations over this matrix read its cells through the window:
  // true here; false for a matrix that multiplies by whole passes or computes
  // every cell without the window, whose window no iteration reads.
  virtual bool IterationsReadWindow() { return true; }

  Cardinal MaxCol() const { return fMaxCol; }
  Cardinal MaxRow() const { return fMaxRow; }
  Cardinal MinCol() const { return fMinCol; }
  Cardinal MinRow() const { return fMinRow; }
  Double NotInRAM() const { return fNotInRAM; }
  bool RAMFilled() const { return fRAMfilled; }

 protected:
  // Window[r - MinRow][c - MinCol] := cell (r, c) over the window (Window is
  // sized). Here through GetCells one by one, asking WindowFillGoesOn after each
  // row; a subclass that computes the same cells faster overrides it, asks after
  // each row or column and returns as soon as the answer is no.
  virtual void ComputeWindow(Cardinal MinRow, Cardinal MaxRow, Cardinal MinCol, Cardinal MaxCol,
                             tMatrixOfDouble& Window);

  tMatrixOfDouble fMatrix;  // [r - fMinRow][c - fMinCol] holds cell (r, c)
  bool fRAMfilled = false;
  Cardinal fMaxCol = 0;
  Cardinal fMaxRow = 0;
  Cardinal fMinCol = 2147483647;
  Cardinal fMinRow = 2147483647;
  Double fNotInRAM = -999999.0;
};

// ------------------------------------------------------------ iteration state
// 2 while an iteration runs, 0 once it has converged, 1 when the user has asked
// it to stop.
extern Byte EigenStatus;
// The error of the last pass; 1 when an iteration starts.
extern Double EigenError;
// The eigenvalue estimate after the last pass of DominantEigenvalue.
extern Double EigenEstimate;
// Passes completed by the running iteration; 0 when it starts.
extern Integer EigenIteration;
// All four back to 0, as at program start.
void ResetEigenState();

// For the fills of cache windows: lets pending window messages through (as
// ProcessMessages does) and tells whether the fill may go on, that is, whether
// no stop has been requested (EigenStatus 1) since the fill began.
bool WindowFillGoesOn();

// ------------------------------------------------------------ power iterations
// Each pass multiplies the vector (first all ones) by the matrix and divides it
// by its element of largest magnitude, taken with its sign, which is the
// eigenvalue estimate. A pass whose product is all zero raises EZeroDivide.

// At most MaxIter + 1 passes; stops from the seventh pass on when the estimate
// changes by less than Tolerance, or after the pass during which EigenStatus was
// set to 1. The result carries only the digits that the last change leaves
// certain (unrounded when that change is 0 or has no usable digit count). A 1 x 1
// matrix gives its cell at once, the iteration state untouched.
void DominantEigenvalue(tBaseVirtualMatrixOfDouble& M, Double& EigenValue, Integer MaxIter, Double Tolerance);
// The same iteration, silent: no progress, messages, abort or rounding. For small
// matrices evaluated many times inside a cell computation.
void DominantEigenvalueMute(tBaseVirtualMatrixOfDouble& M, Double& EigenValue, Integer MaxIter,
                            Double Tolerance);
// The dominant eigenvalue with the right eigenvector, or the left one when
// Transposed, scaled so that its element of largest magnitude is 1. The error of
// a pass is the larger of the squared change of the estimate and the summed
// squared changes of the vector, compared with Tolerance as it stands. The state
// is rewritten every pass, so a stop request does not end this iteration. The
// eigenvalue and a copy of the vector are kept in M.
void DominantEigensystem(tBaseVirtualMatrixOfDouble& M, tVectorOfDouble& EigenVector, Double& EigenValue,
                         bool Transposed, Integer MaxIter, Double Tolerance);

}  // namespace utile
