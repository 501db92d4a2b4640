#include <gtest/gtest.h>

#include <cmath>

#include "TestSupport/ExceptionMessages.h"
#include "Utile/Platform.h"
#include "Utile/RunTime.h"
#include "Utile/VirtualMatrixOps.h"

using namespace utile;

namespace {

// A stored matrix read cell by cell (counted), or by whole passes when asked.
class tDense : public tBaseVirtualMatrixOfDouble {
 public:
  explicit tDense(tMatrixOfDouble cells, bool passes = false) : fCells(std::move(cells)), fPasses(passes) {}
  Double GetCells(Cardinal Row, Cardinal Col) override {
    ++Reads;
    return fCells[Row][Col];
  }
  Cardinal GetColCount() override { return static_cast<Cardinal>(fCells.size()); }
  Cardinal GetRowCount() override { return static_cast<Cardinal>(fCells.size()); }
  bool Product(const tVectorOfDouble& x, tVectorOfDouble& y, bool Transposed, bool) override {
    if (!fPasses) return false;
    ++Passes;
    y.assign(x.size(), 0.0);
    for (size_t i = 0; i < x.size(); ++i)
      for (size_t j = 0; j < x.size(); ++j) y[i] += (Transposed ? fCells[j][i] : fCells[i][j]) * x[j];
    return true;
  }
  long Reads = 0;
  int Passes = 0;

 private:
  tMatrixOfDouble fCells;
  bool fPasses;
};

// A cached 3 x 3 matrix of cells 10 i + j, counting the cells it computes.
class tCounted : public tRAMVirtualMatrixOfDouble {
 public:
  Double GetCells(Cardinal Row, Cardinal Col) override {
    const Double cached = tRAMVirtualMatrixOfDouble::GetCells(Row, Col);
    if (cached != NotInRAM()) return cached;
    ++Computed;
    return Row * 10.0 + Col;
  }
  Cardinal GetColCount() override { return 3; }
  Cardinal GetRowCount() override { return 3; }
  int Computed = 0;
};

// 2 x 2, cell (0, 0) taking the next scripted value at every pass, the others 0.
class tScripted : public tBaseVirtualMatrixOfDouble {
 public:
  explicit tScripted(tVectorOfDouble values) : fValues(std::move(values)) {}
  Double GetCells(Cardinal Row, Cardinal Col) override {
    return Row == 0 && Col == 0 ? fValues[fPass++] : 0.0;
  }
  Cardinal GetColCount() override { return 2; }
  Cardinal GetRowCount() override { return 2; }

 private:
  tVectorOfDouble fValues;
  size_t fPass = 0;
};

const tMatrixOfDouble Identity3 = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};

class VirtualMatrixOps : public ::testing::Test {
 protected:
  void SetUp() override { ResetEigenState(); }
  void TearDown() override {
    SetMessagePump(nullptr);
    ResetEigenState();
  }
};

TEST_F(VirtualMatrixOps, AbstractOperationsRaise) {
  tBaseVirtualMatrixOfDouble base;
  tRAMVirtualMatrixOfDouble cached;
  EXPECT_THROW(base.GetCells(0, 0), EAbstractError);
  EXPECT_THROW(base.GetColCount(), EAbstractError);
  EXPECT_THROW(base.GetRowCount(), EAbstractError);
  EXPECT_THROW(cached.GetColCount(), EAbstractError);
  EXPECT_THROW(cached.GetRowCount(), EAbstractError);
}

TEST_F(VirtualMatrixOps, CacheWindowAnswersWithoutTheSubclass) {
  tCounted m;
  EXPECT_FALSE(m.RAMFilled());
  EXPECT_EQ(2147483647u, m.MinRow());
  EXPECT_EQ(2147483647u, m.MinCol());
  EXPECT_EQ(0u, m.MaxRow() + m.MaxCol());
  EXPECT_EQ(-999999.0, m.NotInRAM());
  m.FillRAM(1, 2, 0, 1);
  EXPECT_EQ(4, m.Computed);
  const struct {
    Cardinal Row, Col;
    bool Inside;
  } cells[] = {{1, 0, true}, {2, 1, true}, {0, 0, false}, {1, 2, false}, {2, 2, false}};
  for (const auto& c : cells) {
    const int before = m.Computed;
    EXPECT_EQ(c.Inside, m.CellInRam(c.Row, c.Col));
    EXPECT_EQ(c.Row * 10.0 + c.Col, m.GetCells(c.Row, c.Col));
    EXPECT_EQ(before + (c.Inside ? 0 : 1), m.Computed);
    EXPECT_EQ(c.Inside ? c.Row * 10.0 + c.Col : -999999.0,
              m.tRAMVirtualMatrixOfDouble::GetCells(c.Row, c.Col));
  }
  m.ClearRAM();
  EXPECT_FALSE(m.RAMFilled());
  EXPECT_EQ(2147483647u, m.MinRow());
  EXPECT_EQ(-999999.0, m.tRAMVirtualMatrixOfDouble::GetCells(1, 0));
}

TEST_F(VirtualMatrixOps, EmptyWindowsCacheNothing) {
  // A maximum below its minimum, by one or by more (no wrapped size).
  const Cardinal windows[][4] = {{3, 2, 3, 2}, {2, 0, 0, 2}, {0, 2, 2, 0}, {2147483647u, 0, 0, 0}};
  for (const auto& w : windows) {
    tCounted m;
    m.FillRAM(w[0], w[1], w[2], w[3]);
    EXPECT_EQ(0, m.Computed);
    for (Cardinal r = 0; r < 3; ++r)
      for (Cardinal c = 0; c < 3; ++c) EXPECT_FALSE(m.CellInRam(r, c));
  }
}

TEST_F(VirtualMatrixOps, IdentityConvergesOnTheSeventhPass) {
  Double lambda = 0;
  tDense m(Identity3);
  DominantEigenvalue(m, lambda, 100, 1e-6);
  EXPECT_EQ(1.0, lambda);
  EXPECT_EQ(7, EigenIteration);
  EXPECT_EQ(0, EigenStatus);
  EXPECT_EQ(7 * 9, m.Reads);
  for (const bool transposed : {false, true}) {
    tDense s(Identity3);
    tVectorOfDouble v;
    DominantEigensystem(s, v, lambda, transposed, 100, 1e-6);
    EXPECT_EQ(1.0, lambda);
    EXPECT_EQ(tVectorOfDouble(3, 1.0), v);
    EXPECT_EQ(7, EigenIteration);
    EXPECT_EQ(v, transposed ? s.EigenVectorLeft() : s.EigenVectorRight());
    EXPECT_TRUE((transposed ? s.EigenVectorRight() : s.EigenVectorLeft()).empty());
    EXPECT_EQ(1.0, s.EigenValue());
  }
  tDense mute(Identity3);
  DominantEigenvalueMute(mute, lambda, 100, 1e-6);
  EXPECT_EQ(1.0, lambda);
  EXPECT_EQ(7 * 9, mute.Reads);
  EXPECT_EQ(7, EigenIteration);  // untouched by the silent iteration

  // A 1 x 1 matrix gives its cell and leaves the state as it was.
  tDense one(tMatrixOfDouble{{-0.37}});
  EigenError = 0.25;
  DominantEigenvalue(one, lambda, 100, 1e-6);
  EXPECT_EQ(-0.37, lambda);
  EXPECT_EQ(7, EigenIteration);
  EXPECT_EQ(0.25, EigenError);
}

TEST_F(VirtualMatrixOps, NegativeDominantEigenvalueKeepsItsSign) {
  // [[-3, 1], [1, 1]]: eigenvalues -1 -+ sqrt(5), eigenvector (1, 2 - sqrt(5)).
  const tMatrixOfDouble cells = {{-3, 1}, {1, 1}};
  const Double expected = -1 - std::sqrt(5.0);
  Double lambda = 0;
  tDense a(cells), b(cells), c(cells);
  DominantEigenvalue(a, lambda, 200, 1e-12);
  EXPECT_NEAR(expected, lambda, 1e-10);
  DominantEigenvalueMute(b, lambda, 200, 1e-12);
  EXPECT_NEAR(expected, lambda, 1e-10);
  tVectorOfDouble v;
  DominantEigensystem(c, v, lambda, false, 200, 1e-24);
  EXPECT_NEAR(expected, lambda, 1e-10);
  EXPECT_NEAR(2 - std::sqrt(5.0), v[1] / v[0], 1e-10);
  EXPECT_NEAR(1.0, v[0], 1e-15);
}

TEST_F(VirtualMatrixOps, LargestElementAndSquaredChanges) {
  // Of equal magnitudes the first normalises: diag(-1, 1) gives -1, not 1.
  tDense tie({{-1, 0}, {0, 1}});
  Double lambda = 0;
  DominantEigenvalue(tie, lambda, 20, 1e-9);
  EXPECT_EQ(-1.0, lambda);
  // diag(1, 0.5): the vector (1, 1/2, then 1/4) changes while the estimate stays
  // 1; the error of the second pass is the squared change (1/4)^2.
  tDense halving({{1, 0}, {0, 0.5}});
  tVectorOfDouble v;
  DominantEigensystem(halving, v, lambda, false, 1, 0);
  EXPECT_EQ(0.0625, EigenError);
  EXPECT_EQ(0.25, v[1]);
}

TEST_F(VirtualMatrixOps, ResultCarriesTheDigitsTheLastChangeLeaves) {
  // [[1, 1], [1, 0]] from ones: estimates 2, 3/2, 5/3, 8/5, 13/8, 21/13, 34/21.
  const tMatrixOfDouble golden = {{1, 1}, {1, 0}};
  const struct {
    tMatrixOfDouble Cells;
    Integer MaxIter;
    Double Value, Estimate, Error;
    Integer Passes;
  } cases[] = {
      {golden, 6, 1.6, 34.0 / 21, 34.0 / 21 - 21.0 / 13, 7},  // a change of 1/273: tenths
      {golden, 0, 0, 2, 2, 1},                                // one pass: a change of 2 leaves no digit
      {{{0.625, 0}, {0, 0.625}}, 100, 0.625, 0.625, 0, 7},    // a change of 0: unrounded
  };
  for (const auto& c : cases) {
    tDense m(c.Cells);
    Double lambda = -1;
    DominantEigenvalue(m, lambda, c.MaxIter, 1e-12);
    EXPECT_DOUBLE_EQ(c.Value, lambda);
    EXPECT_DOUBLE_EQ(c.Estimate, EigenEstimate);
    EXPECT_NEAR(c.Error, EigenError, 1e-15);
    EXPECT_EQ(c.Passes, EigenIteration);
  }
}

TEST_F(VirtualMatrixOps, ErrorsWithoutDigitCountLeaveTheValueUnrounded) {
  // Two passes whose estimates differ by a denormal amount, or by an infinite one.
  const Double tiny = std::ldexp(1.0, -1000), huge = std::ldexp(1.0, 1023);
  const Double cases[][2] = {{tiny, std::nextafter(tiny, 1.0)}, {huge, -huge}};
  for (const auto& c : cases) {
    tScripted m({c[0], c[1]}), s({c[0], c[1]});
    Double lambda = 0;
    tVectorOfDouble v;
    EXPECT_NO_THROW(DominantEigenvalue(m, lambda, 1, 0));
    EXPECT_EQ(c[1], lambda);
    EXPECT_NO_THROW(DominantEigensystem(s, v, lambda, false, 1, 0));
    EXPECT_EQ(c[1], lambda);
  }
}

void RequestStop() {
  EigenStatus = 1;
}

TEST_F(VirtualMatrixOps, StopRequestEndsOnlyDominantEigenvalue) {
  // The first call of the pump comes during the first pass.
  SetMessagePump(&RequestStop);
  tDense m(Identity3);
  Double lambda = 0;
  DominantEigenvalue(m, lambda, 100, 1e-6);
  EXPECT_EQ(1, EigenIteration);
  EXPECT_EQ(1, EigenStatus);
  EXPECT_EQ(1.0, EigenEstimate);
  SetMessagePump(&RequestStop);
  tDense s(Identity3);
  tVectorOfDouble v;
  DominantEigensystem(s, v, lambda, false, 100, 1e-6);
  EXPECT_EQ(7, EigenIteration);
  EXPECT_EQ(0, EigenStatus);
}

// Asks for a stop at its StopAt-th call, and lets the next call through at once.
int gPumpCalls = 0, gStopAt = 0;
void StopAtCall() {
  if (++gPumpCalls == gStopAt) EigenStatus = 1;
  SetMessagePump(&StopAtCall);
}

TEST_F(VirtualMatrixOps, StopRequestEndsAFillAndLeavesTheWindowEmpty) {
  // Messages pass once per row given out (three), then once per row filled: a
  // stop at the first call comes before any cell, at the fourth after one row.
  const struct {
    int StopAt;
    bool Filled;
    int Computed;
  } cases[] = {{1, false, 0}, {4, false, 3}, {0, true, 9}};
  for (const auto& c : cases) {
    ResetEigenState();
    gPumpCalls = 0;
    gStopAt = c.StopAt;
    SetMessagePump(&StopAtCall);
    tCounted m;
    EXPECT_EQ(c.Filled, m.FillRAM(0, 2, 0, 2)) << c.StopAt;
    EXPECT_EQ(c.Filled, m.RAMFilled());
    EXPECT_EQ(c.Filled, m.CellInRam(1, 1));
    EXPECT_EQ(c.Computed, m.Computed) << c.StopAt;
    // The request stands for what runs next; a fill without one leaves the state as it found it.
    EXPECT_EQ(c.Filled ? 0 : 1, EigenStatus);
  }
  // A request made before the fill belongs to what ran before it.
  SetMessagePump(nullptr);
  EigenStatus = 1;
  tCounted m;
  EXPECT_TRUE(m.FillRAM(0, 1, 0, 1));
  EXPECT_EQ(1, EigenStatus);
  EXPECT_TRUE(m.IterationsReadWindow());
}

TEST_F(VirtualMatrixOps, ZeroProductRaises) {
  const tMatrixOfDouble zero = {{0, 0}, {0, 0}};
  const std::string message =
      "The power iteration met a product vector of zeros: the matrix has no dominant eigenvalue to find.";
  Double lambda = 0;
  tVectorOfDouble v;
  tDense a(zero), b(zero), c(zero);
  EXPECT_EQ(message, testsupport::MessageOf<EZeroDivide>([&] { DominantEigenvalue(a, lambda, 10, 1e-6); }));
  EXPECT_EQ(message,
            testsupport::MessageOf<EZeroDivide>([&] { DominantEigenvalueMute(b, lambda, 10, 1e-6); }));
  EXPECT_EQ(message,
            testsupport::MessageOf<EZeroDivide>([&] { DominantEigensystem(c, v, lambda, true, 10, 1e-6); }));
}

TEST_F(VirtualMatrixOps, WholePassesReplaceTheCells) {
  // Not symmetric: the left and right eigenvectors differ. Whole passes give
  // the same results, one per pass, reading no cell.
  const tMatrixOfDouble cells = {{0.5, 0.2, 0.1}, {0.1, 0.6, 0.3}, {0.2, 0.1, 0.4}};
  for (const bool transposed : {false, true}) {
    tDense byCells(cells), byPasses(cells, true);
    tVectorOfDouble u, v;
    Double l1, l2;
    DominantEigensystem(byCells, u, l1, transposed, 500, 1e-28);
    DominantEigensystem(byPasses, v, l2, transposed, 500, 1e-28);
    EXPECT_EQ(l1, l2);
    EXPECT_EQ(u, v);
    EXPECT_EQ(0, byPasses.Reads);
    EXPECT_EQ(EigenIteration, byPasses.Passes);
  }
  tDense byPasses(cells, true);
  Double lambda;
  DominantEigenvalue(byPasses, lambda, 500, 1e-14);
  EXPECT_EQ(0, byPasses.Reads);
  EXPECT_EQ(EigenIteration, byPasses.Passes);
}

}  // namespace
