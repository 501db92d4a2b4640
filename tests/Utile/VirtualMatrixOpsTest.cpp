#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "TestSupport/ExceptionMessages.h"
#include "Utile/Platform.h"
#include "Utile/RunTime.h"
#include "Utile/VirtualMatrixOps.h"

using namespace utile;

namespace {

// A stored matrix read cell by cell, counting the reads.
class tDense : public tBaseVirtualMatrixOfDouble {
 public:
  explicit tDense(tMatrixOfDouble cells) : fCells(std::move(cells)) {}
  Double GetCells(Cardinal Row, Cardinal Col) override {
    ++Reads;
    return fCells[Row][Col];
  }
  Cardinal GetColCount() override { return static_cast<Cardinal>(fCells.size()); }
  Cardinal GetRowCount() override { return static_cast<Cardinal>(fCells.size()); }
  long Reads = 0;

 protected:
  tMatrixOfDouble fCells;
};

// The same matrix offering whole passes.
class tDenseWithPasses : public tDense {
 public:
  using tDense::tDense;
  bool Product(const tVectorOfDouble& x, tVectorOfDouble& y, bool Transposed, bool) override {
    ++Passes;
    y.assign(x.size(), 0.0);
    for (size_t i = 0; i < x.size(); ++i)
      for (size_t j = 0; j < x.size(); ++j) y[i] += (Transposed ? fCells[j][i] : fCells[i][j]) * x[j];
    return true;
  }
  int Passes = 0;
};

// A cached matrix whose cells are i * 10 + j, counting the cells it computes.
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

// 2 x 2, cell (0, 0) takes the next scripted value at every pass, others 0.
class tScripted : public tBaseVirtualMatrixOfDouble {
 public:
  explicit tScripted(tVectorOfDouble values) : fValues(std::move(values)) {}
  Double GetCells(Cardinal Row, Cardinal Col) override {
    if (Row == 0 && Col == 0) return fValues[fPass++];
    return 0;
  }
  Cardinal GetColCount() override { return 2; }
  Cardinal GetRowCount() override { return 2; }

 private:
  tVectorOfDouble fValues;
  size_t fPass = 0;
};

tMatrixOfDouble Identity3() {
  return {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
}

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
  EXPECT_THROW(base.GetCells(0, 0), EAbstractError);
  EXPECT_THROW(base.GetColCount(), EAbstractError);
  EXPECT_THROW(base.GetRowCount(), EAbstractError);
  tRAMVirtualMatrixOfDouble cached;
  EXPECT_THROW(cached.GetColCount(), EAbstractError);
  EXPECT_THROW(cached.GetRowCount(), EAbstractError);
  Double lambda;
  EXPECT_THROW(DominantEigenvalue(base, lambda, 10, 1e-6), EAbstractError);
}

TEST_F(VirtualMatrixOps, CacheWindowAnswersWithoutTheSubclass) {
  tCounted m;
  const auto expectEmpty = [&] {
    EXPECT_FALSE(m.RAMFilled());
    EXPECT_EQ(2147483647u, m.MinRow());
    EXPECT_EQ(2147483647u, m.MinCol());
    EXPECT_EQ(0u, m.MaxRow());
    EXPECT_EQ(0u, m.MaxCol());
  };
  expectEmpty();
  EXPECT_EQ(-999999.0, m.NotInRAM());

  m.FillRAM(1, 2, 0, 1);
  EXPECT_EQ(4, m.Computed);
  EXPECT_TRUE(m.RAMFilled());
  const struct {
    Cardinal Row, Col;
    bool Inside;
  } cells[] = {{1, 0, true},  {1, 1, true},  {2, 0, true},  {2, 1, true},
               {0, 0, false}, {1, 2, false}, {0, 1, false}, {2, 2, false}};
  for (const auto& c : cells) {
    EXPECT_EQ(c.Inside, m.CellInRam(c.Row, c.Col));
    const int before = m.Computed;
    EXPECT_EQ(c.Row * 10.0 + c.Col, m.GetCells(c.Row, c.Col));
    EXPECT_EQ(before + (c.Inside ? 0 : 1), m.Computed) << c.Row << "," << c.Col;
    EXPECT_EQ(c.Inside ? c.Row * 10.0 + c.Col : -999999.0,
              m.tRAMVirtualMatrixOfDouble::GetCells(c.Row, c.Col));
  }
  m.ClearRAM();
  expectEmpty();
  EXPECT_EQ(-999999.0, m.tRAMVirtualMatrixOfDouble::GetCells(1, 0));
}

TEST_F(VirtualMatrixOps, EmptyWindowsCacheNothing) {
  // Bounds a maximum below its minimum, by one or by more (no wrapped size).
  const struct {
    Cardinal MinRow, MaxRow, MinCol, MaxCol;
  } windows[] = {{3, 2, 3, 2}, {2, 0, 0, 2}, {0, 2, 2, 0}, {5, 0, 5, 0}, {2147483647u, 0, 0, 0}};
  for (const auto& w : windows) {
    tCounted m;
    m.FillRAM(w.MinRow, w.MaxRow, w.MinCol, w.MaxCol);
    EXPECT_EQ(0, m.Computed);
    for (Cardinal r = 0; r < 3; ++r)
      for (Cardinal c = 0; c < 3; ++c) {
        EXPECT_FALSE(m.CellInRam(r, c));
        EXPECT_EQ(-999999.0, m.tRAMVirtualMatrixOfDouble::GetCells(r, c));
      }
  }
}

TEST_F(VirtualMatrixOps, IdentityConvergesOnTheSeventhPass) {
  tDense m(Identity3());
  Double lambda = 0;
  DominantEigenvalue(m, lambda, 100, 1e-6);
  EXPECT_EQ(1.0, lambda);
  EXPECT_EQ(7, EigenIteration);
  EXPECT_EQ(0, EigenStatus);
  EXPECT_EQ(7 * 9, m.Reads);

  for (const bool transposed : {false, true}) {
    tDense s(Identity3());
    tVectorOfDouble v;
    DominantEigensystem(s, v, lambda, transposed, 100, 1e-6);
    EXPECT_EQ(1.0, lambda);
    EXPECT_EQ(tVectorOfDouble(3, 1.0), v);
    EXPECT_EQ(7, EigenIteration);
    EXPECT_EQ(0, EigenStatus);
    EXPECT_EQ(1.0, s.EigenValue());
    EXPECT_EQ(v, transposed ? s.EigenVectorLeft() : s.EigenVectorRight());
    EXPECT_TRUE((transposed ? s.EigenVectorRight() : s.EigenVectorLeft()).empty());
  }

  tDense mute(Identity3());
  EigenIteration = 42;
  DominantEigenvalueMute(mute, lambda, 100, 1e-6);
  EXPECT_EQ(1.0, lambda);
  EXPECT_EQ(7 * 9, mute.Reads);
  EXPECT_EQ(42, EigenIteration);
}

TEST_F(VirtualMatrixOps, OneByOneGivesItsCellAndLeavesTheState) {
  tDense m(tMatrixOfDouble{{-0.37}});
  EigenIteration = 5;
  EigenError = 0.25;
  EigenStatus = 1;
  EigenEstimate = 3;
  Double lambda = 0;
  DominantEigenvalue(m, lambda, 100, 1e-6);
  EXPECT_EQ(-0.37, lambda);
  EXPECT_EQ(5, EigenIteration);
  EXPECT_EQ(0.25, EigenError);
  EXPECT_EQ(1, EigenStatus);
  EXPECT_EQ(3, EigenEstimate);
}

TEST_F(VirtualMatrixOps, NegativeDominantEigenvalueKeepsItsSign) {
  // [[-3, 1], [1, 1]]: eigenvalues -1 -+ sqrt(5); the dominant one is negative,
  // with the eigenvector (1, 2 - sqrt(5)).
  const tMatrixOfDouble cells = {{-3, 1}, {1, 1}};
  const Double expected = -1 - std::sqrt(5.0);
  Double lambda = 0;
  tDense a(cells);
  DominantEigenvalue(a, lambda, 200, 1e-12);
  EXPECT_NEAR(expected, lambda, 1e-10);
  tDense b(cells);
  DominantEigenvalueMute(b, lambda, 200, 1e-12);
  EXPECT_NEAR(expected, lambda, 1e-10);
  tDense c(cells);
  tVectorOfDouble v;
  DominantEigensystem(c, v, lambda, false, 200, 1e-24);
  EXPECT_NEAR(expected, lambda, 1e-10);
  EXPECT_NEAR(1.0, v[0], 1e-10);
  EXPECT_NEAR(2 - std::sqrt(5.0), v[1], 1e-10);
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
      // Last change 1/273: rounded to 0.1.
      {golden, 6, 1.6, 34.0 / 21, 34.0 / 21 - 21.0 / 13, 7},
      // One pass: the change 2 from 0 leaves no digit (2 rounds to 0 on the tens).
      {golden, 0, 0, 2, 2, 1},
      // A change of exactly 0 leaves the value as it is (0.62 on a change of 0.001).
      {{{0.625, 0}, {0, 0.625}}, 100, 0.625, 0.625, 0, 7},
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
  const struct { Double First, Second; } cases[] = {{tiny, std::nextafter(tiny, 1.0)}, {huge, -huge}};
  for (const auto& c : cases) {
    tScripted m({c.First, c.Second});
    Double lambda = 0;
    EXPECT_NO_THROW(DominantEigenvalue(m, lambda, 1, 0));
    EXPECT_EQ(c.Second, lambda);
    tScripted s({c.First, c.Second});
    tVectorOfDouble v;
    EXPECT_NO_THROW(DominantEigensystem(s, v, lambda, false, 1, 0));
    EXPECT_EQ(c.Second, lambda);
  }
}

Cardinal gPumpCalls = 0;
void RequestStop() {
  ++gPumpCalls;
  EigenStatus = 1;
}

TEST_F(VirtualMatrixOps, StopRequestEndsOnlyDominantEigenvalue) {
  gPumpCalls = 0;
  SetMessagePump(&RequestStop);
  tDense m(Identity3());
  Double lambda = 0;
  DominantEigenvalue(m, lambda, 100, 1e-6);
  EXPECT_GT(gPumpCalls, 0u);
  EXPECT_EQ(1, EigenIteration);
  EXPECT_EQ(1, EigenStatus);
  EXPECT_EQ(1.0, EigenEstimate);

  SetMessagePump(&RequestStop);
  tDense s(Identity3());
  tVectorOfDouble v;
  DominantEigensystem(s, v, lambda, false, 100, 1e-6);
  EXPECT_EQ(7, EigenIteration);
  EXPECT_EQ(0, EigenStatus);
  EXPECT_EQ(1.0, lambda);
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
  // A non-symmetric matrix: the left and right eigenvectors differ. The
  // iterations give the same results from whole passes, reading no cell.
  const tMatrixOfDouble cells = {{0.5, 0.2, 0.1}, {0.1, 0.6, 0.3}, {0.2, 0.1, 0.4}};
  for (const bool transposed : {false, true}) {
    tDense byCells(cells);
    tDenseWithPasses byPasses(cells);
    tVectorOfDouble u, v;
    Double l1, l2;
    DominantEigensystem(byCells, u, l1, transposed, 500, 1e-28);
    const Integer passes = EigenIteration;
    DominantEigensystem(byPasses, v, l2, transposed, 500, 1e-28);
    EXPECT_EQ(l1, l2);
    for (size_t i = 0; i < 3; ++i) EXPECT_NEAR(u[i], v[i], 1e-14);
    EXPECT_EQ(0, byPasses.Reads);
    EXPECT_EQ(passes, byPasses.Passes);
  }
  tDenseWithPasses byPasses(cells);
  Double lambda;
  DominantEigenvalue(byPasses, lambda, 500, 1e-14);
  EXPECT_EQ(0, byPasses.Reads);
  EXPECT_EQ(EigenIteration, byPasses.Passes);
}

TEST_F(VirtualMatrixOps, SensitivityIsTheProductOfTheVectors) {
  tDense m(Identity3());
  m.fEigenVectorLeft = {1, 2, 3};
  m.fEigenVectorRight = {0.5, 0.25, 0.125};
  EXPECT_EQ(1.5, m.EigenSensitivity(2, 0));
  EXPECT_EQ(0.25, m.EigenSensitivity(0, 1));
  EXPECT_EQ(0.25, m.GetEigenSensitivity(1, 2));
}

}  // namespace
