#include <gtest/gtest.h>

#include <Eigen/Dense>
#include <Eigen/Eigenvalues>
#include <cmath>
#include <cstring>
#include <string>

#include "TestSupport/ExceptionMessages.h"
#include "TestSupport/FakeMemory.h"
#include "Utile/Platform.h"
#include "Utile/RunTime.h"
#include "Utile/VirtualMatrixOps.h"
#include "models/BigMatrixBlocks.h"
#include "models/BigMatrixModel.h"
#include "tests/models/BigMatrixReference.h"

using namespace models;
using namespace bigmatrixtest;
using Eigen::MatrixXd;
using Eigen::VectorXd;
using utile::tMatrixOfDouble;
using utile::tVectorOfDouble;

namespace {

// ------------------------------------------------------------ landscapes

// n demes along a line: dispersal decays with distance, 0.8 stays at home.
tDemes Line(int n, double decay = 1.0) {
  tDemes d;
  d.M.assign(n, tVectorOfDouble(n, 0.0));
  for (int i = 0; i < n; ++i) {
    d.b.push_back(0.6 + 0.25 * i);
    d.e.push_back(0.1 + 0.05 * (i % 3));
    d.N.push_back(3 + 2 * i);
    d.Ne.push_back(2.5 + 1.5 * i);
    double sum = 0;
    for (int k = 0; k < n; ++k) sum += k != i ? std::exp(-decay * std::abs(k - i)) : 0;
    for (int k = 0; k < n; ++k)
      d.M[k][i] = k == i ? (n == 1 ? 1.0 : 0.8) : 0.2 * std::exp(-decay * std::abs(k - i)) / sum;
  }
  return d;
}

void Apply(tBigSPOMModel& model, const tDemes& d) {
  for (int i = 0; i < d.Count(); ++i) {
    model.Setb(i, d.b[i]);
    model.Sete(i, d.e[i]);
    model.SetN(i, 1, d.N[i]);
    model.SetNe(i, 1, d.Ne[i]);
    for (int j = 0; j < d.Count(); ++j) model.SetM(i, j, d.M[i][j]);
  }
  model.SetCoefficientPrecision(d.Precision);
  model.Reset();
}

// The eigenvalue of largest magnitude with its left and right eigenvectors.
tDominant Dominant(const MatrixXd& m) {
  Eigen::EigenSolver<MatrixXd> right(m), left(m.transpose());
  Eigen::Index k, l;
  right.eigenvalues().cwiseAbs().maxCoeff(&k);
  left.eigenvalues().cwiseAbs().maxCoeff(&l);
  return {right.eigenvalues()[k].real(), left.eigenvectors().col(l).real(),
          right.eigenvectors().col(k).real()};
}

tVectorOfDouble ToVector(const VectorXd& v) {
  return tVectorOfDouble(v.data(), v.data() + v.size());
}

// A matrix read cell by cell: no whole pass.
class tCellsOf : public utile::tBaseVirtualMatrixOfDouble {
 public:
  explicit tCellsOf(utile::tBaseVirtualMatrixOfDouble& m) : fMatrix(m) {}
  Double GetCells(Cardinal Row, Cardinal Col) override { return fMatrix.GetCells(Row, Col); }
  Cardinal GetColCount() override { return fMatrix.GetColCount(); }
  Cardinal GetRowCount() override { return fMatrix.GetRowCount(); }

 private:
  utile::tBaseVirtualMatrixOfDouble& fMatrix;
};

struct tLambdas {
  Double Lt = 0, ErrLt = 0, Lp0 = 0, ErrLp0 = 0, Lg = 0, ErrLg = 0;
};
tLambdas Exact(tBigSPOMModel& model, Integer maxIter, Integer digits, Cardinal budget = 0) {
  tLambdas l;
  model.ComputeExactLambdas(l.Lt, l.ErrLt, l.Lp0, l.ErrLp0, l.Lg, l.ErrLg, maxIter, digits, budget);
  return l;
}

utile::Int64 gFreeMemory = 0;

class BigMatrixModel : public ::testing::Test {
 protected:
  void SetUp() override { utile::ResetEigenState(); }
  void TearDown() override { SetFreeMemoryQuery(nullptr); }
};

// ------------------------------------------------------------ cells

TEST_F(BigMatrixModel, CellsFollowTheDefinitions) {
  for (int n = 1; n <= 4; ++n) {
    const tDemes d = Line(n);
    tBigSPOMModel model(n);
    Apply(model, d);
    const unsigned states = 1u << n;
    const Cardinal pairs = n * n;
    const MatrixXd p = FullP(d), t = DenseT(d);
    for (unsigned c = 0; c < states; ++c) {
      EXPECT_NEAR(1.0, p.col(c).sum(), 1e-12);
      for (unsigned r = 0; r < states; ++r) EXPECT_NEAR(p(r, c), model.P(r, c), 1e-15);
      for (unsigned r = 1; r < states && c > 0; ++r)
        EXPECT_NEAR(p(r, c), model.P0Mat().Cells(r - 1, c - 1), 1e-15);
      const MatrixXd g = DenseG(d, c);
      model.GMat().State = c;
      for (Cardinal r = 0; r < pairs * pairs; ++r)
        EXPECT_NEAR(g(r / pairs, r % pairs), model.GMat().Cells(r / pairs, r % pairs), 1e-15);
    }
    ASSERT_EQ(t.rows(), model.TMat().RowCount());
    for (Cardinal r = 0; r < t.rows(); ++r)
      for (Cardinal c = 0; c < t.cols(); ++c) EXPECT_NEAR(t(r, c), model.TMat().Cells(r, c), 1e-15);
  }
  // One deme: P0 is the chance to stay occupied, and its eigenvalue.
  tBigSPOMModel one(1);
  tDemes d = Line(1);
  Apply(one, d);
  const Double expected = 1 - (d.e[0] + (1 - d.e[0]) * std::exp(-d.N[0] * d.b[0] * d.M[0][0]));
  EXPECT_NEAR(expected, one.P0Mat().Cells(0, 0), 1e-15);
  EXPECT_EQ(one.P0Mat().Cells(0, 0), Exact(one, 100, 9).Lp0);
}

TEST_F(BigMatrixModel, DemeWithoutBirthsOrImmigrantsDrawsNoGenes) {
  tDemes d = Line(3);
  d.b[1] = 0;
  d.M[1][0] = d.M[1][2] = 0;
  tBigSPOMModel model(3);
  Apply(model, d);
  for (const unsigned s : {7u, 3u, 2u}) {
    model.SetN0(s);
    EXPECT_EQ(tVectorOfDouble(3, 0.0), model.BackDispersalMat()[1]);
    for (Cardinal r = 0; r < 9; ++r)
      for (Cardinal c = 0; c < 9; ++c)
        if (r / 3 == 1 || r % 3 == 1 || c / 3 == 1 || c % 3 == 1) {
          EXPECT_EQ(0.0, model.G(r, c, s)) << r << c;
        }
  }
}

TEST_F(BigMatrixModel, StatesAndRowsDecode) {
  const struct {
    int Demes;
    Cardinal State;
    const char* Digits;
  } states[] = {{4, 5, "1010"}, {3, 6, "011"}, {2, 0, "00"}, {16, 65535, "1111111111111111"}};
  for (const auto& c : states) EXPECT_EQ(c.Digits, tBigSPOMModel(c.Demes).StateVector(c.State));
  tBigSPOMModel model(3);
  // Row of T -> pair, state, first and second deme of the pair.
  const Cardinal rows[][5] = {{0, 0, 1, 0, 0}, {5, 5, 1, 1, 2}, {9, 0, 2, 0, 0}, {61, 7, 7, 2, 1}};
  for (const auto& r : rows) {
    Cardinal pair, state, first, second;
    model.DecodeTIndex(r[0], pair, state);
    model.DecodeGIndex(pair, first, second);
    EXPECT_EQ((std::vector<Cardinal>{r[1], r[2], r[3], r[4]}),
              (std::vector<Cardinal>{pair, state, first, second}));
  }
  EXPECT_EQ(4.0, model.PowerOfTwo[2]);
}

TEST_F(BigMatrixModel, CoefficientPrecisionCutsSmallProducts) {
  for (const Double precision : {0.0, 1e-3, 0.05, 1.0}) {
    tDemes d = Line(3);
    const MatrixXd uncut = FullP(d);
    d.Precision = precision;
    tBigSPOMModel model(3);
    Apply(model, d);
    const MatrixXd p = FullP(d);
    for (unsigned r = 0; r < 8; ++r)
      for (unsigned c = 0; c < 8; ++c) {
        EXPECT_NEAR(p(r, c), model.P(r, c), 1e-15);
        // Precision 0 cuts nothing; 1 keeps only the certain move from the empty state.
        const Double expected = precision == 0 ? uncut(r, c) : precision == 1 ? (r == 0 && c == 0) : p(r, c);
        EXPECT_NEAR(expected, model.P(r, c), 1e-15);
      }
  }
}

// ------------------------------------------------------------ whole passes

TEST_F(BigMatrixModel, WholePassesGiveTheProductsOfTheCells) {
  for (const Double precision : {0.0, 1e-3})
    for (int n = 2; n <= 4; ++n) {
      tDemes d = Line(n);
      d.Precision = precision;
      tBigSPOMModel model(n);
      Apply(model, d);
      model.GMat().State = (1u << n) - 1;
      const MatrixXd p0 = DenseP0(d), t = DenseT(d), g = DenseG(d, (1u << n) - 1);
      const std::pair<utile::tBaseVirtualMatrixOfDouble*, const MatrixXd*> cases[] = {
          {&model.P0Mat(), &p0}, {&model.TMat(), &t}, {&model.GMat(), &g}};
      for (const auto& [matrix, dense] : cases)
        for (const bool transposed : {false, true}) {
          const VectorXd x = VectorXd::LinSpaced(dense->rows(), 0, 7).array().sin() + 1.5;
          const VectorXd expected = transposed ? VectorXd(dense->transpose() * x) : VectorXd(*dense * x);
          tVectorOfDouble y;
          ASSERT_TRUE(matrix->Product(ToVector(x), y, transposed, false));
          for (Eigen::Index i = 0; i < x.size(); ++i)
            EXPECT_NEAR(expected[i], y[i], 1e-14 * (1 + expected[i]));
        }
    }
}

TEST_F(BigMatrixModel, PassesAndWindowsHoldTheCellsBitForBit) {
  // Eight demes with the cut in use: a pass of P0 one source state at a time
  // adds the very cells of the cell functions in column order (a sum in Double
  // over the cells), and so does P0L; cache windows hold the cells of a second
  // model.
  tDemes d = Line(8, 0.5);
  d.Precision = 1e-8;
  tBigSPOMModel model(8), other(8);
  Apply(model, d);
  Apply(other, d);
  const Cardinal n = model.P0Mat().RowCount();
  tVectorOfDouble x(n), y, yl;
  for (Cardinal i = 0; i < n; ++i) x[i] = 0.5 + 0.5 * std::cos(0.3 * i);
  ASSERT_TRUE(model.P0Mat().ProductBySourceState(x, y, false, false));
  ASSERT_TRUE(model.P0LMat().Product(x, yl, false, false));
  long zeros = 0;
  for (Cardinal r = 0; r < n; ++r) {
    Double sum = 0, suml = 0;
    for (Cardinal c = 0; c < n; ++c) {
      zeros += other.P0Mat().Cells(r, c) == 0;
      sum += other.P0Mat().Cells(r, c) * x[c];
      if (r % 37 == 0) suml += other.P0LMat().Cells(r, c) * x[c];
    }
    ASSERT_EQ(sum, y[r]) << r;
    ASSERT_TRUE(r % 37 != 0 || suml == yl[r]) << r;
  }
  EXPECT_GT(zeros, 0);

  const struct {
    utile::tRAMVirtualMatrixOfDouble &Filled, &Fresh;
    Cardinal MinRow, MaxRow, MinCol, MaxCol;
  } windows[] = {{model.P0Mat(), other.P0Mat(), 3, 90, 0, 254},
                 {model.P0LMat(), other.P0LMat(), 200, 210, 25, 30},
                 {model.TMat(), other.TMat(), 16000, 16319, 37, 240}};
  for (const auto& w : windows) {
    w.Filled.FillRAM(w.MinRow, w.MaxRow, w.MinCol, w.MaxCol);
    for (Cardinal r = w.MinRow; r <= w.MaxRow; ++r)
      for (Cardinal c = w.MinCol; c <= w.MaxCol; ++c)
        ASSERT_EQ(w.Fresh.Cells(r, c), w.Filled.tRAMVirtualMatrixOfDouble::GetCells(r, c)) << r << "," << c;
  }
}

// Unit vector e_k of n entries.
tVectorOfDouble Unit(size_t n, size_t k) {
  tVectorOfDouble e(n, 0.0);
  e[k] = 1;
  return e;
}

// Entries from -0.5 to 1.5, no two alike.
tVectorOfDouble Mixed(size_t n) {
  tVectorOfDouble x(n);
  for (size_t i = 0; i < n; ++i) x[i] = 0.5 + std::cos(0.37 * static_cast<double>(i));
  return x;
}

// The largest difference between two vectors relative to the largest entry of the second.
double RelativeGap(const tVectorOfDouble& a, const tVectorOfDouble& b) {
  double gap = 0, largest = 0;
  for (size_t i = 0; i < b.size(); ++i) {
    gap = std::max(gap, std::abs(a.at(i) - b[i]));
    largest = std::max(largest, std::abs(b[i]));
  }
  return gap / largest;
}

TEST_F(BigMatrixModel, BlocksGiveTheCellsAndTheirCut) {
  // A pass over a unit vector brings out one column of the matrix (a row for the
  // transposed pass): the cells of the cell functions, 0 exactly where the
  // precision cuts them, the rest to the last bits (the product over the demes
  // is taken in another order).
  const struct {
    int Demes;
    Double Precision;
  } cases[] = {{3, 0.0}, {4, 1e-3}, {5, 0.05}, {7, 1e-4}, {8, 1e-8}, {9, 1e-3}};
  long cut = 0, kept = 0;
  for (const auto& c : cases) {
    tDemes d = Line(c.Demes, 0.5);
    d.Precision = c.Precision;
    tBigSPOMModel model(c.Demes), cells(c.Demes);
    Apply(model, d);
    Apply(cells, d);
    auto check = [&](utile::tBaseVirtualMatrixOfDouble& blocks, utile::tBaseVirtualMatrixOfDouble& reference,
                     bool transposed) {
      const Cardinal n = blocks.RowCount(), step = std::max<Cardinal>(1, n / 23);
      for (Cardinal k = 0; k < n; k += step) {
        tVectorOfDouble y;
        ASSERT_TRUE(blocks.Product(Unit(n, k), y, transposed, false));
        for (Cardinal i = 0; i < n; ++i) {
          const Double cell = transposed ? reference.Cells(k, i) : reference.Cells(i, k);
          ASSERT_EQ(cell == 0, y[i] == 0) << c.Demes << ": " << i << ", " << k;
          ASSERT_NEAR(cell, y[i], 1e-15 * cell) << c.Demes << ": " << i << ", " << k;
          (cell == 0 ? cut : kept)++;
        }
      }
    };
    check(model.P0Mat(), cells.P0Mat(), false);
    check(model.P0Mat(), cells.P0Mat(), true);
    if (c.Demes <= 5) check(model.TMat(), cells.TMat(), false);
  }
  EXPECT_GT(cut, 1000);
  EXPECT_GT(kept, 1000);
}

// The passes by blocks and by source state over one vector of both signs: P0
// both ways, and T when asked.
struct tBothPasses {
  std::string Name;
  tVectorOfDouble Blocks, BySource;
};
std::vector<tBothPasses> BothPasses(tBigSPOMModel& model, bool withT) {
  std::vector<tBothPasses> passes;
  for (const bool transposed : {false, true}) {
    tBothPasses p{transposed ? "P0 transposed" : "P0", {}, {}};
    const tVectorOfDouble x = Mixed(model.P0Mat().RowCount());
    model.P0Mat().Product(x, p.Blocks, transposed, false);
    model.P0Mat().ProductBySourceState(x, p.BySource, transposed, false);
    passes.push_back(p);
  }
  if (withT) {
    tBothPasses p{"T", {}, {}};
    const tVectorOfDouble x = Mixed(model.TMat().RowCount());
    model.TMat().Product(x, p.Blocks, false, false);
    model.TMat().ProductBySourceState(x, p.BySource, false, false);
    passes.push_back(p);
  }
  return passes;
}

TEST_F(BigMatrixModel, BlocksAgreeWithThePassBySourceState) {
  // The same sums to the last bits, with the cut in use and without.
  const struct {
    int Demes;
    Double Precision;
  } cases[] = {{6, 1e-8}, {7, 0.0}, {10, 1e-8}, {12, 1e-6}};
  for (const auto& c : cases) {
    tDemes d = Line(c.Demes, 0.6);
    d.Precision = c.Precision;
    tBigSPOMModel model(c.Demes);
    Apply(model, d);
    for (const tBothPasses& p : BothPasses(model, c.Demes <= 7))
      EXPECT_LT(RelativeGap(p.Blocks, p.BySource), 1e-14) << c.Demes << " " << p.Name;
  }
}

bool SameBits(const tVectorOfDouble& a, const tVectorOfDouble& b) {
  return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(Double)) == 0;
}

TEST_F(BigMatrixModel, EveryVectorUnitGivesTheSameBits) {
  // The sums run in one order whatever unit computes them, by blocks and one
  // source state at a time: each unit's passes are those of the portable unit,
  // bit for bit (a machine with the portable unit alone checks its bits against
  // the recorded digest of the blocks' tests).
  tDemes d = Line(9, 0.4);
  d.Precision = 1e-5;
  tBigSPOMModel model(9), small(5);
  Apply(model, d);
  Apply(small, Line(5));
  const struct {
    const char* Name;
    tBigSPOMModel* Model;
    int Matrix;  // 0 P0, 1 T, 2 P0L
    bool Transposed, BySourceState;
  } passes[] = {
      {"P0", &model, 0, false, false},
      {"P0 transposed", &model, 0, true, false},
      {"P0 by source state", &model, 0, false, true},
      {"P0 transposed by source state", &model, 0, true, true},
      {"T", &small, 1, false, false},
      {"T transposed", &small, 1, true, false},
      {"P0L", &small, 2, false, false},
      {"P0L transposed", &small, 2, true, false},
  };
  std::vector<tVectorOfDouble> results[3];
  for (int unit = 0; unit <= static_cast<int>(WidestVectorUnit()); ++unit) {
    UseVectorUnit(static_cast<tVectorUnit>(unit));
    EXPECT_EQ(static_cast<tVectorUnit>(unit), VectorUnitInUse());
    for (const auto& p : passes) {
      tBigDemographicMatrix* demographic = p.Matrix == 0   ? &p.Model->P0Mat()
                                           : p.Matrix == 2 ? &p.Model->P0LMat()
                                                           : nullptr;
      utile::tBaseVirtualMatrixOfDouble& m =
          demographic ? static_cast<utile::tBaseVirtualMatrixOfDouble&>(*demographic) : p.Model->TMat();
      const tVectorOfDouble x = Mixed(m.RowCount());
      tVectorOfDouble y;
      if (p.BySourceState) {
        demographic->ProductBySourceState(x, y, p.Transposed, false);
      } else {
        m.Product(x, y, p.Transposed, false);
      }
      ASSERT_EQ(x.size(), y.size()) << p.Name;
      results[unit].push_back(y);
      if (unit > 0) {
        EXPECT_TRUE(SameBits(results[0][results[unit].size() - 1], y)) << unit << ": " << p.Name;
      }
    }
  }
  // A unit beyond the processor's is refused and leaves the unit in use; x86's
  // units are x86's alone.
  UseVectorUnit(WidestVectorUnit());
  for (int unit = static_cast<int>(WidestVectorUnit()) + 1; unit <= static_cast<int>(tVectorUnit::vuAVX512);
       ++unit) {
    EXPECT_THROW(UseVectorUnit(static_cast<tVectorUnit>(unit)), utile::ERangeError) << unit;
    EXPECT_EQ(WidestVectorUnit(), VectorUnitInUse());
  }
#if !defined(__x86_64__) && !defined(__i386__)
  EXPECT_EQ(tVectorUnit::vuPortable, WidestVectorUnit());
#endif
}

TEST_F(BigMatrixModel, FactorsThatAreNoProbabilitiesPassBySourceState) {
  // An extinction risk above 1 or below 0, or a negative birth rate, makes some
  // deme factor leave [0, 1]: the products are then those one source state at a
  // time, bit for bit.
  for (int which = 0; which < 3; ++which) {
    tDemes d = Line(6);
    d.Precision = 1e-6;
    if (which == 0) d.e[2] = 1.4;
    if (which == 1) d.e[4] = -0.2;
    if (which == 2) d.b[1] = -0.5;
    tBigSPOMModel model(6);
    Apply(model, d);
    for (const tBothPasses& p : BothPasses(model, true)) EXPECT_EQ(p.BySource, p.Blocks) << which << p.Name;
  }
}

TEST_F(BigMatrixModel, PassesFollowParametersChangedWithoutReset) {
  // The deme factors kept between passes belong to the parameters they came from.
  tDemes d = Line(7);
  tBigSPOMModel model(7);
  Apply(model, d);
  const tVectorOfDouble x = Mixed(model.P0Mat().RowCount());
  tVectorOfDouble before, after, fresh;
  model.P0Mat().Product(x, before, false, false);
  const struct {
    int Which;
    Double Value;
  } changes[] = {{0, 0.3}, {1, 0.9}, {2, 11}, {3, 0.05}};
  for (const auto& c : changes) {
    if (c.Which == 0) d.e[3] = c.Value, model.Sete(3, c.Value);
    if (c.Which == 1) d.b[5] = c.Value, model.Setb(5, c.Value);
    if (c.Which == 2) d.N[0] = c.Value, model.SetN(0, 1, c.Value);
    if (c.Which == 3) d.M[2][6] = c.Value, model.SetM(2, 6, c.Value);
    model.P0Mat().Product(x, after, false, false);
    tBigSPOMModel other(7);
    Apply(other, d);
    other.P0Mat().Product(x, fresh, false, false);
    EXPECT_EQ(fresh, after) << c.Which;
    EXPECT_NE(before, after) << c.Which;
    before = after;
  }
}

TEST_F(BigMatrixModel, DoubleSumsAgreeWithTheExtendedIterationOverCells) {
  for (const int n : {6, 8}) {
    tDemes d = Line(n, 0.7);
    d.Precision = 1e-8;
    tBigSPOMModel model(n);
    Apply(model, d);
    Double fast = 0, reference = 0;
    utile::DominantEigenvalue(model.P0Mat(), fast, 200, 1e-9);
    tCellsOf cells(model.P0Mat());
    utile::DominantEigenvalue(cells, reference, 200, 1e-9);
    EXPECT_NEAR(reference, fast, 1e-8) << n;
  }
}

// ------------------------------------------------------------ eigenvalues

TEST_F(BigMatrixModel, ExactLambdasMatchTheDenseEigenvalues) {
  for (int n = 2; n <= 4; ++n) {
    const tDemes d = Line(n);
    const double lp0 = Dominant(DenseP0(d)).Value, lt = Dominant(DenseT(d)).Value;
    // Without a window and with one over the whole of T: the same results.
    for (const Cardinal budget : {0u, 4000000000u}) {
      tBigSPOMModel model(n);
      Apply(model, d);
      const tLambdas l = Exact(model, 500, 8, budget);
      EXPECT_NEAR(lp0, l.Lp0, 1e-8) << n;
      EXPECT_NEAR(lt, l.Lt, 1e-8) << n;
      EXPECT_NEAR(lt / lp0, l.Lg, 1e-7) << n;
      EXPECT_NEAR(l.ErrLt * l.Lt + l.ErrLp0 * l.Lp0 + l.ErrLt * l.ErrLp0, l.ErrLg, 1e-18);
      EXPECT_FALSE(model.TMat().RAMFilled());
    }
  }
  // A deme that always goes extinct: Lp0 = 0 gives the largest Lg, ErrLg untouched.
  tDemes d = Line(1);
  d.e[0] = 1;
  tBigSPOMModel model(1);
  Apply(model, d);
  tLambdas l;
  l.ErrLg = 12.5;
  model.ComputeExactLambdas(l.Lt, l.ErrLt, l.Lp0, l.ErrLp0, l.Lg, l.ErrLg, 100, 6, 0);
  EXPECT_EQ(0.0, l.Lp0);
  EXPECT_EQ(1.7e308, l.Lg);
  EXPECT_EQ(12.5, l.ErrLg);
}

TEST_F(BigMatrixModel, OccupancyUnderTheQuasiStationaryDistribution) {
  for (int n = 1; n <= 4; ++n) {
    const tDemes d = Line(n);
    tBigSPOMModel model(n);
    Apply(model, d);
    EXPECT_EQ("The right eigenvector must be computed for patch proportional occupancy to be computed.",
              testsupport::MessageOf<utile::EInvalidOp>([&] { model.PatchProportionalOccupancy(); }));
    tVectorOfDouble right;
    Double lambda;
    utile::DominantEigensystem(model.P0Mat(), right, lambda, false, 2000, 1e-24);
    const tVectorOfDouble occupancy = model.PatchProportionalOccupancy();
    VectorXd w = Dominant(DenseP0(d)).Right;
    w /= w.sum();
    for (int k = 0; k < n; ++k) {
      double expected = 0;
      for (Eigen::Index r = 0; r < w.size(); ++r)
        expected += Occupied(static_cast<unsigned>(r + 1), k) * w[r];
      EXPECT_NEAR(expected, occupancy.at(k), 1e-6);
    }
  }
}

TEST_F(BigMatrixModel, Kesp3FromTheDenseEigenvectors) {
  // Lt = Lp0 LG (1 - A) + B from the normalised dense eigenvectors of P0 and of
  // G for the all-occupied state.
  for (int n = 2; n <= 4; ++n) {
    const tDemes d = Line(n);
    const unsigned all = (1u << n) - 1;
    tDominant dp = Dominant(DenseP0(d)), dg = Dominant(DenseG(d, all));
    for (tDominant* dom : {&dp, &dg}) {
      dom->Right /= dom->Right.sum();
      dom->Left /= dom->Left.dot(dom->Right);
    }
    tBigSPOMModel model(n);
    Apply(model, d);
    model.P0Mat().fEigenValue = dp.Value;
    model.P0Mat().fEigenVectorLeft = ToVector(dp.Left);
    model.P0Mat().fEigenVectorRight = ToVector(dp.Right);
    model.GMat().fEigenValue = dg.Value;
    model.GMat().fEigenVectorLeft = ToVector(dg.Left);
    model.GMat().fEigenVectorRight = ToVector(dg.Right);
    EXPECT_NEAR(Kesp3(d, dp, dg), model.TEigenvalueKesp3(), 1e-10) << n;
  }
  // From the iterations: the same eigenvalues, and Lg = Lt / Lp0.
  const tDemes d = Line(3);
  tBigSPOMModel model(3);
  Apply(model, d);
  tLambdas l;
  model.ComputeKesp3Lambdas(l.Lt, l.ErrLt, l.Lp0, l.ErrLp0, l.Lg, l.ErrLg, 1000, -14, 1 << 20);
  EXPECT_NEAR(Dominant(DenseP0(d)).Value, l.Lp0, 2e-6);
  EXPECT_NEAR(Dominant(DenseG(d, 7)).Value, model.GMat().EigenValue(), 2e-6);
  EXPECT_EQ(l.Lt / l.Lp0, l.Lg);
  EXPECT_DOUBLE_EQ(1e-14, model.CoefficientPrecision());
  EXPECT_FALSE(model.P0Mat().RAMFilled() || model.GMat().RAMFilled());
}

// ------------------------------------------------------------ hierarchy

TEST_F(BigMatrixModel, HierarchyWithOneGroupIsTheExactComputation) {
  for (const int n : {2, 3, 4})
    for (const Integer maxGroup : {n, n + 3}) {
      tBigSPOMModel model(n), direct(n);
      Apply(model, Line(n));
      Apply(direct, Line(n));
      Double Lt = 0, Lp0 = 0, Lg = 0;
      EXPECT_EQ("", HierachicalAnalysis(model, maxGroup, bmaExact, Lt, Lp0, Lg, 300, 7, 0));
      const tLambdas l = Exact(direct, 300, 7);
      EXPECT_EQ(l.Lt, Lt);
      EXPECT_EQ(l.Lp0, Lp0);
      EXPECT_EQ(l.Lg, Lg);
    }
}

TEST_F(BigMatrixModel, HierarchyOfOneDemeSolvesItAsOneCluster) {
  // P0 and T are 1 x 1: the chance to stay occupied, times 1 - 1 / Ne for T.
  const tDemes d{{0.1031}, {0.0666}, {34.55}, {39.38}, {{1.0}}};
  const double lp0 = 1 - (0.0666 + (1 - 0.0666) * std::exp(-34.55 * 0.1031)), lg = 1 - 1 / 39.38;
  EXPECT_NEAR(0.90691, lp0, 5e-6);
  EXPECT_NEAR(0.97461, lg, 5e-6);
  for (const tBMAlgorithm algorithm : {bmaExact, bmaKesp3}) {
    tBigSPOMModel model(1);
    Apply(model, d);
    Double Lt = 0, Lp0 = 0, Lg = 0;
    EXPECT_EQ("", HierachicalAnalysis(model, 3, algorithm, Lt, Lp0, Lg, 100, 6, 0)) << algorithm;
    EXPECT_NEAR(lp0, Lp0, 5e-6) << algorithm;
    EXPECT_NEAR(lp0 * lg, Lt, 5e-6) << algorithm;
    EXPECT_NEAR(lg, Lg, 5e-6) << algorithm;
  }
}

TEST_F(BigMatrixModel, HierarchyMakesEachClusterOneDeme) {
  // Two pairs of demes, strongly linked inside and weakly between: the first
  // level solves each pair, the second solves the two clusters as two demes.
  tDemes d = Line(4);
  d.M = {{0.8, 0.15, 0.01, 0.0}, {0.15, 0.8, 0.0, 0.01}, {0.01, 0.0, 0.8, 0.15}, {0.0, 0.01, 0.15, 0.8}};
  tBigSPOMModel model(4);
  Apply(model, d);
  Double Lt, Lp0, Lg;
  HierachicalAnalysis(model, 2, bmaExact, Lt, Lp0, Lg, 300, 7, 0);

  tDemes top{{}, {}, {}, {}, {{0.15, 0.0}, {0.0, 0.15}}};  // the smallest cells between the clusters
  for (const int first : {0, 2}) {
    tDemes pair{{d.b[first], d.b[first + 1]},
                {d.e[first], d.e[first + 1]},
                {d.N[first], d.N[first + 1]},
                {d.Ne[first], d.Ne[first + 1]},
                {{0.8, 0.15}, {0.15, 0.8}}};
    tBigSPOMModel cluster(2);
    Apply(cluster, pair);
    const tLambdas l = Exact(cluster, 300, 7);
    const double size = pair.N[0] + pair.N[1];
    top.N.push_back(size);
    top.Ne.push_back(std::nearbyint(1 / (1 - l.Lg)));
    top.e.push_back(1 - l.Lp0);
    top.b.push_back((pair.b[0] * pair.N[0] + pair.b[1] * pair.N[1]) / size);
  }
  tBigSPOMModel second(2);
  Apply(second, top);
  const tLambdas l = Exact(second, 300, 7);
  EXPECT_EQ(l.Lt, Lt);
  EXPECT_EQ(l.Lp0, Lp0);
  EXPECT_EQ(l.Lg, Lg);
}

TEST_F(BigMatrixModel, HierarchyFailuresAreReported) {
  // Each case: the demes, the largest group, the error expected.
  tDemes noGenes = Line(3), isolated = Line(3);
  noGenes.Ne[2] = 0;
  isolated.N[2] = 0;
  isolated.M[2][0] = isolated.M[2][1] = isolated.M[0][2] = isolated.M[1][2] = 0;
  const struct {
    tDemes Demes;
    Integer MaxGroup;
    std::string Message;
  } cases[] = {
      {Line(3), 1, "Hierarchisation impossible"},
      {noGenes, 3, "The effective size of deme 3 is 0: its genes cannot be followed."},
      {isolated, 2,
       "Hierarchisation: the demes of group 2 have a total size of 0; its birth rate is undefined."}};
  for (const auto& c : cases) {
    tBigSPOMModel model(3);
    Apply(model, c.Demes);
    Double Lt, Lp0, Lg;
    EXPECT_EQ(c.Message, testsupport::MessageOf<utile::EMathError>([&] {
                HierachicalAnalysis(model, c.MaxGroup, bmaExact, Lt, Lp0, Lg, 100, 6, 0);
              }));
  }
  // Kesp3 clusters work at the precision 10^-Digits: changes of 10^-3 leave two digits.
  tDemes d = Line(3);
  d.N = d.Ne = {25, 30, 40};
  tBigSPOMModel model(3);
  Apply(model, d);
  Double Lt = -1, Lp0 = -1, Lg = -1;
  EXPECT_NO_THROW(HierachicalAnalysis(model, 3, bmaKesp3, Lt, Lp0, Lg, 300, 6, 0));
  EXPECT_NEAR(Dominant(DenseP0(d)).Value, Lp0, 0.02);
}

// ------------------------------------------------------------ mended faults

TEST_F(BigMatrixModel, ByteBudgetIsCappedByTheFreeMemory) {
  const utile::Int64 GiB = utile::Int64{1} << 30;
  const struct {
    utile::Int64 Free;
    Double Percent;
    Cardinal Expected;
  } cases[] = {{6 * GiB, 100, 4294967295u},
               {3 * GiB, 50, 1610612736u},
               {GiB, 150, 1073741824u},
               {1001, 50, 500},
               {1003, 50, 502},
               {0, 100, 0},
               {1000, -5, 0}};
  for (const auto& c : cases)
    EXPECT_EQ(c.Expected, RAMBudget(c.Free, c.Percent)) << c.Free << " " << c.Percent;
  SetFreeMemoryQuery([] { return gFreeMemory; });
  gFreeMemory = 3 * GiB;
  EXPECT_EQ(1610612736u, RAMBudget(50));
}

TEST_F(BigMatrixModel, ByteBudgetFollowsTheMemoryTheProcessCanBeGiven) {
  // A control group leaving 300 MiB on a machine with 32 GiB available.
  const testsupport::tFakeMemory memory(300 << 20);
  const struct {
    Double Percent;
    Cardinal Expected;
  } cases[] = {{100, 314572800u}, {50, 157286400u}, {150, 314572800u}, {0.5, 1572864u}};
  for (const auto& c : cases) EXPECT_EQ(c.Expected, RAMBudget(c.Percent)) << c.Percent;
}

TEST_F(BigMatrixModel, ResetForgetsWhatTheCellsKept) {
  // After new parameters and Reset, P0L and T give the cells of a new model,
  // the last cells read first (the states the cells kept values for).
  tDemes second = Line(3);
  second.b = {2.0, 0.1, 1.7};
  tBigSPOMModel model(3), fresh(3);
  Apply(model, Line(3));
  Apply(fresh, second);
  const Cardinal n = model.P0LMat().RowCount(), rows = model.TMat().RowCount();
  for (Cardinal c = 0; c < n; ++c) model.P0LMat().Cells(n - 1, c);
  for (Cardinal c = 0; c < rows; ++c) model.TMat().Cells(rows - 1, c);
  Apply(model, second);
  EXPECT_EQ(-999.0, model.GMat().EigenValue());
  EXPECT_EQ(fresh.P0LMat().Cells(n - 1, n - 1), model.P0LMat().Cells(n - 1, n - 1));
  EXPECT_EQ(fresh.TMat().Cells(rows - 1, rows - 1), model.TMat().Cells(rows - 1, rows - 1));
}

TEST_F(BigMatrixModel, Kesp3RefusesWhatItCannotCompute) {
  // Deme 2 produces nothing and receives nobody: with only deme 1 occupied it
  // draws no gene from anyone.
  tDemes barren = Line(2), extinct = Line(2);
  barren.b[1] = 0;
  barren.M[1][0] = 0;
  // One pass: Lp0 about 0.3 carries no certain digit and rounds to 0.
  extinct.e = {0.6, 0.6};
  const struct {
    tDemes Demes;
    Integer MaxIter;
    std::string Message;
  } cases[] = {
      {barren, 300,
       "The Kesp3 approximation cannot be computed: deme 2 receives no recruit from the demes occupied in "
       "state 10."},
      {extinct, 0, "Lambda P0 is 0: Lambda G = Lambda T / Lambda P0 cannot be computed."}};
  for (const auto& c : cases) {
    tBigSPOMModel model(2);
    Apply(model, c.Demes);
    tLambdas l;
    EXPECT_EQ(c.Message, testsupport::MessageOf<utile::EMathError>([&] {
                model.ComputeKesp3Lambdas(l.Lt, l.ErrLt, l.Lp0, l.ErrLp0, l.Lg, l.ErrLg, c.MaxIter, -10, 0);
              }));
  }
  tBigSPOMModel bare(2);
  EXPECT_THROW(bare.TEigenvalueKesp3(), utile::EInvalidOp);  // no eigenvector yet
}

TEST_F(BigMatrixModel, ModelsOutsideTheTablesAreRefused) {
  for (const Integer n : {17, 40, -1})
    EXPECT_NE(std::string::npos, testsupport::MessageOf<utile::ERangeError>([&] {
                                   tBigSPOMModel model(n);
                                 }).find("at most 16 demes"));
  tBigSPOMModel largest(16);
  EXPECT_EQ(65535u * 256u, largest.TMat().RowCount());
  // The base model has no state functions; a copy holds the parameters only.
  tBigMatrixModel base(2, 2);
  EXPECT_THROW(base.DemeState(1, 0), utile::EAbstractError);
  EXPECT_THROW(base.P(0, 0), utile::EAbstractError);
  EXPECT_THROW(base.T(0, 0), utile::EAbstractError);
  EXPECT_THROW(base.PatchProportionalOccupancy(), utile::EAbstractError);
  tBigSPOMModel source(2);
  Apply(source, Line(2));
  const auto copy = tBigSPOMModel::CreateByCopy(source);
  EXPECT_TRUE(copy->PowerOfTwo.empty());
  EXPECT_EQ(source.MigrationMat(), copy->MigrationMat());
  EXPECT_EQ(source.Birth(), copy->Birth());
}

}  // namespace

// ------------------------------------------------------------ the workbench's computations

TEST(BigMatrixWorkbench, StopAfterAStageSkipsTheStagesAfterIt) {
  for (const bool exact : {true, false}) {
    tBigSPOMModel model(3);
    Apply(model, Line(3));
    std::vector<tBigMatrixStage> started;
    tBigMatrixProgress progress;
    progress.StageStarts = [&](tBigMatrixStage stage) { started.push_back(stage); };
    progress.Stopped = [&] { return true; };
    tBigMatrixResults results;
    EXPECT_THROW(
        exact ? ComputeExact(model, {}, progress, results) : ComputeKesp3(model, {}, progress, results),
        EBigMatrixStopped);
    EXPECT_EQ(started, std::vector<tBigMatrixStage>{tBigMatrixStage::bsP0});
    EXPECT_GT(results.Lp0, 0.5);
    EXPECT_EQ(results.Lt, 0.0);
  }
}

namespace {
void AbortAtOnce() {
  utile::EigenStatus = 1;
}
}  // namespace

TEST(BigMatrixWorkbench, AbortInTheFirstPassOfP0IsAnErrorRatherThanAnInfiniteLg) {
  tBigSPOMModel model(3);
  Apply(model, Line(3));
  tBigMatrixProgress progress;
  // P0's first pass lets messages through at once: the abort comes during it.
  // T then runs undisturbed.
  int iterations = 0;
  progress.IterationStarts = [&] { utile::SetMessagePump(iterations++ == 0 ? &AbortAtOnce : nullptr); };
  tBigMatrixResults results;
  const std::string message =
      testsupport::MessageOf<utile::EZeroDivide>([&] { ComputeExact(model, {}, progress, results); });
  utile::SetMessagePump(nullptr);
  EXPECT_EQ(
      message,
      "Lambda Po is 0 (was the computation aborted during its first pass?): Lambda G = Lambda T / Lambda Po "
      "cannot be computed.");
  EXPECT_EQ(results.Lp0, 0.0);
  EXPECT_GT(results.Lt, 0.5);
}
