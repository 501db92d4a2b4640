#include <gtest/gtest.h>

#include <Eigen/Dense>
#include <Eigen/Eigenvalues>
#include <cmath>
#include <string>

#include "TestSupport/ExceptionMessages.h"
#include "Utile/Platform.h"
#include "Utile/RunTime.h"
#include "models/BigMatrixModel.h"

using namespace models;
using utile::tMatrixOfDouble;
using utile::tVectorOfDouble;

namespace {

// ------------------------------------------------------------ landscapes

struct tDemes {
  tVectorOfDouble b, e, N, Ne;
  tMatrixOfDouble M;  // M[to][from]
  Double Precision = 0;
  int Count() const { return static_cast<int>(b.size()); }
};

// n demes along a line: dispersal decays with distance, 0.8 stays at home.
tDemes Line(int n, double decay = 1.0) {
  tDemes d;
  for (int i = 0; i < n; ++i) {
    d.b.push_back(0.6 + 0.25 * i);
    d.e.push_back(0.1 + 0.05 * (i % 3));
    d.N.push_back(3 + 2 * i);
    d.Ne.push_back(2.5 + 1.5 * i);
  }
  d.M.assign(n, tVectorOfDouble(n, 0.0));
  for (int j = 0; j < n; ++j) {
    double sum = 0;
    for (int k = 0; k < n; ++k)
      if (k != j) sum += std::exp(-decay * std::abs(k - j));
    for (int k = 0; k < n; ++k)
      d.M[k][j] = k == j ? (n == 1 ? 1.0 : 0.8) : 0.2 * std::exp(-decay * std::abs(k - j)) / sum;
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

// ------------------------------------------------------------ the definitions, densely

bool Occupied(unsigned s, int d) {
  return (s >> d) & 1u;
}

// F of state s: the share of the recruits of k that come from j.
Eigen::MatrixXd BackDispersal(const tDemes& d, unsigned s) {
  const int n = d.Count();
  Eigen::MatrixXd migrants(n, n);
  for (int k = 0; k < n; ++k)
    for (int j = 0; j < n; ++j) migrants(k, j) = Occupied(s, j) ? d.N[j] * d.b[j] * d.M[k][j] : 0.0;
  for (int k = 0; k < n; ++k) {
    const double sum = migrants.row(k).sum();
    if (sum != 0) migrants.row(k) /= sum;
  }
  return migrants;
}

// The full transition matrix over the 2^n states, [to][from], with the cut.
Eigen::MatrixXd FullP(const tDemes& d) {
  const int n = d.Count();
  const unsigned states = 1u << n;
  Eigen::MatrixXd p(states, states);
  for (unsigned c = 0; c < states; ++c) {
    std::vector<double> q(n);
    for (int k = 0; k < n; ++k) {
      double recruits = 0;
      for (int j = 0; j < n; ++j)
        if (Occupied(c, j)) recruits += d.N[j] * d.b[j] * d.M[k][j];
      q[k] = d.e[k] + (1 - d.e[k]) * std::exp(-recruits);
    }
    for (unsigned r = 0; r < states; ++r) {
      double v = 1;
      for (int k = 0; k < n && v != 0; ++k) {
        v *= Occupied(r, k) ? 1 - q[k] : q[k];
        if (v < d.Precision) v = 0;
      }
      p(r, c) = v;
    }
  }
  return p;
}

Eigen::MatrixXd DenseP0(const tDemes& d) {
  const Eigen::MatrixXd p = FullP(d);
  return p.bottomRightCorner(p.rows() - 1, p.cols() - 1);
}

// G of state s: [(a, b)][(c, e)] = F[a][c] F[b][e], times 1 - 1 / Ne[c] when c = e.
Eigen::MatrixXd DenseG(const tDemes& d, unsigned s) {
  const int n = d.Count();
  const Eigen::MatrixXd f = BackDispersal(d, s);
  Eigen::MatrixXd g(n * n, n * n);
  for (int r = 0; r < n * n; ++r)
    for (int c = 0; c < n * n; ++c) {
      g(r, c) = f(r / n, c / n) * f(r % n, c % n);
      if (c / n == c % n) g(r, c) *= 1 - 1 / d.Ne[c / n];
    }
  return g;
}

Eigen::MatrixXd DenseT(const tDemes& d) {
  const int n = d.Count(), pairs = n * n;
  const unsigned states = (1u << n) - 1;
  const Eigen::MatrixXd p = FullP(d);
  Eigen::MatrixXd t = Eigen::MatrixXd::Zero(states * pairs, states * pairs);
  for (unsigned s2 = 1; s2 <= states; ++s2) {
    const Eigen::MatrixXd g = DenseG(d, s2);
    for (int g2 = 0; g2 < pairs; ++g2) {
      if (!Occupied(s2, g2 / n) || !Occupied(s2, g2 % n)) continue;
      for (unsigned s1 = 1; s1 <= states; ++s1)
        for (int g1 = 0; g1 < pairs; ++g1) {
          const double gc = g(g1, g2) < d.Precision ? 0.0 : g(g1, g2);
          t((s1 - 1) * pairs + g1, (s2 - 1) * pairs + g2) = p(s1, s2) * gc;
        }
    }
  }
  return t;
}

// The eigenvalue of largest magnitude, with its left and right eigenvectors.
struct tDominant {
  double Value;
  Eigen::VectorXd Left, Right;
};
tDominant Dominant(const Eigen::MatrixXd& m) {
  auto largest = [](const Eigen::EigenSolver<Eigen::MatrixXd>& solver) {
    Eigen::Index k = 0;
    solver.eigenvalues().cwiseAbs().maxCoeff(&k);
    return k;
  };
  Eigen::EigenSolver<Eigen::MatrixXd> right(m), left(m.transpose());
  tDominant result;
  const Eigen::Index k = largest(right), l = largest(left);
  result.Value = right.eigenvalues()[k].real();
  result.Right = right.eigenvectors().col(k).real();
  result.Left = left.eigenvectors().col(l).real();
  return result;
}

tVectorOfDouble ToVector(const Eigen::VectorXd& v) {
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

utile::Int64 gFreeMemory = 0;
utile::Int64 InjectedFreeMemory() {
  return gFreeMemory;
}

class BigMatrixModel : public ::testing::Test {
 protected:
  void SetUp() override { utile::ResetEigenState(); }
  void TearDown() override {
    utile::ResetEigenState();
    SetFreeMemoryQuery(nullptr);
  }
};

// ------------------------------------------------------------ cells

TEST_F(BigMatrixModel, CellsFollowTheDefinitions) {
  for (int n = 1; n <= 4; ++n) {
    const tDemes d = Line(n);
    tBigSPOMModel model(n);
    Apply(model, d);
    const unsigned states = 1u << n;
    const Eigen::MatrixXd p = FullP(d);
    for (unsigned r = 0; r < states; ++r)
      for (unsigned c = 0; c < states; ++c) EXPECT_NEAR(p(r, c), model.P(r, c), 1e-15) << n << ": " << r << c;
    for (unsigned c = 0; c < states; ++c) EXPECT_NEAR(1.0, p.col(c).sum(), 1e-12);
    ASSERT_EQ(states - 1, model.P0Mat().RowCount());
    for (unsigned r = 0; r + 1 < states; ++r)
      for (unsigned c = 0; c + 1 < states; ++c)
        EXPECT_NEAR(p(r + 1, c + 1), model.P0Mat().Cells(r, c), 1e-15);
    const Cardinal pairs = n * n;
    ASSERT_EQ(pairs, model.GMat().RowCount());
    for (unsigned s = 0; s < states; ++s) {
      const Eigen::MatrixXd g = DenseG(d, s);
      model.GMat().State = s;
      for (Cardinal r = 0; r < pairs; ++r)
        for (Cardinal c = 0; c < pairs; ++c) {
          EXPECT_NEAR(g(r, c), model.G(r, c, s), 1e-15);
          EXPECT_NEAR(g(r, c), model.GMat().Cells(r, c), 1e-15);
        }
    }
    const Eigen::MatrixXd t = DenseT(d);
    ASSERT_EQ(t.rows(), model.TMat().RowCount());
    for (Eigen::Index r = 0; r < t.rows(); ++r)
      for (Eigen::Index c = 0; c < t.cols(); ++c)
        EXPECT_NEAR(t(r, c), model.TMat().Cells(static_cast<Cardinal>(r), static_cast<Cardinal>(c)), 1e-15);
  }
}

TEST_F(BigMatrixModel, OneDemeStaysOccupiedWithoutExtinctionOrFailedRecruitment) {
  const struct { Double b, e, N, M; } cases[] = {{1.1, 0.2, 5, 1}, {0.3, 0, 2, 0.5}, {2, 0.9, 10, 1}};
  for (const auto& c : cases) {
    tBigSPOMModel model(1);
    model.Setb(0, c.b);
    model.Sete(0, c.e);
    model.SetN(0, 1, c.N);
    model.SetNe(0, 1, c.N);
    model.SetM(0, 0, c.M);
    model.Reset();
    const Double expected = 1 - (c.e + (1 - c.e) * std::exp(-c.N * c.b * c.M));
    ASSERT_EQ(1u, model.P0Mat().RowCount());
    EXPECT_NEAR(expected, model.P0Mat().Cells(0, 0), 1e-15);
    Double lp0 = 0;
    utile::DominantEigenvalue(model.P0Mat(), lp0, 100, 1e-9);
    EXPECT_EQ(model.P0Mat().Cells(0, 0), lp0);
  }
}

TEST_F(BigMatrixModel, DemeWithoutBirthsOrImmigrantsDrawsNoGenes) {
  // Deme 1 of three produces nothing and receives nobody: its row of F is 0,
  // and so is every G cell that takes genes from it or gives genes to it.
  tDemes d = Line(3);
  d.b[1] = 0;
  d.M[1][0] = d.M[1][2] = 0;
  tBigSPOMModel model(3);
  Apply(model, d);
  for (const unsigned s : {7u, 3u, 2u}) {
    model.SetN0(s);
    for (int j = 0; j < 3; ++j) EXPECT_EQ(0.0, model.BackDispersalMat()[1][j]);
    for (Cardinal r = 0; r < 9; ++r)
      for (Cardinal c = 0; c < 9; ++c)
        if (r / 3 == 1 || r % 3 == 1 || c / 3 == 1 || c % 3 == 1) {
          EXPECT_EQ(0.0, model.G(r, c, s));
        }
  }
}

TEST_F(BigMatrixModel, StatesAndPairsDecode) {
  const struct {
    int Demes;
    Cardinal State;
    const char* Digits;
  } states[] = {{4, 5, "1010"}, {3, 6, "011"}, {1, 1, "1"}, {2, 0, "00"}, {16, 65535, "1111111111111111"}};
  for (const auto& c : states) {
    tBigSPOMModel model(c.Demes);
    EXPECT_EQ(c.Digits, model.StateVector(c.State));
  }
  tBigSPOMModel model(3);
  const struct {
    Cardinal Row, Pair, State, First, Second;
  } rows[] = {{0, 0, 1, 0, 0}, {5, 5, 1, 1, 2}, {9, 0, 2, 0, 0}, {61, 7, 7, 2, 1}};
  for (const auto& r : rows) {
    Cardinal pair, state, first, second;
    model.DecodeTIndex(r.Row, pair, state);
    model.DecodeGIndex(pair, first, second);
    EXPECT_EQ(r.Pair, pair);
    EXPECT_EQ(r.State, state);
    EXPECT_EQ(r.First, first);
    EXPECT_EQ(r.Second, second);
  }
  EXPECT_EQ(2.0, model.PowerOfTwo[1]);
  EXPECT_EQ(4.0, model.PowerOfTwo[2]);
}

TEST_F(BigMatrixModel, CoefficientPrecisionCutsSmallProducts) {
  const tDemes base = Line(3);
  for (const Double precision : {0.0, 1e-3, 0.05, 1.0}) {
    tDemes d = base;
    d.Precision = precision;
    tBigSPOMModel model(3);
    Apply(model, d);
    const Eigen::MatrixXd p = FullP(d);
    const Eigen::MatrixXd uncut = FullP(base);
    for (unsigned r = 0; r < 8; ++r)
      for (unsigned c = 0; c < 8; ++c) {
        EXPECT_NEAR(p(r, c), model.P(r, c), 1e-15);
        if (precision == 0) {
          EXPECT_NEAR(uncut(r, c), model.P(r, c), 1e-15);
        }
        // Only the certain move from the empty state is not below 1.
        if (precision == 1) {
          EXPECT_EQ(r == 0 && c == 0 ? 1.0 : 0.0, model.P(r, c));
        }
      }
  }
}

// ------------------------------------------------------------ whole passes

TEST_F(BigMatrixModel, WholePassesGiveTheProductsOfTheCells) {
  for (const Double precision : {0.0, 1e-3}) {
    for (int n = 2; n <= 4; ++n) {
      tDemes d = Line(n);
      d.Precision = precision;
      tBigSPOMModel model(n);
      Apply(model, d);
      const Eigen::MatrixXd p0 = DenseP0(d), t = DenseT(d);
      model.GMat().State = (1u << n) - 1;
      const Eigen::MatrixXd g = DenseG(d, (1u << n) - 1);
      struct tCase {
        utile::tBaseVirtualMatrixOfDouble& Matrix;
        const Eigen::MatrixXd& Dense;
      } cases[] = {{model.P0Mat(), p0}, {model.TMat(), t}, {model.GMat(), g}};
      for (const auto& c : cases)
        for (const bool transposed : {false, true}) {
          Eigen::VectorXd x(c.Dense.rows());
          for (Eigen::Index i = 0; i < x.size(); ++i) x[i] = 1 + std::sin(0.7 * i);
          tVectorOfDouble y;
          ASSERT_TRUE(c.Matrix.Product(ToVector(x), y, transposed, false));
          const Eigen::VectorXd expected =
              transposed ? Eigen::VectorXd(c.Dense.transpose() * x) : c.Dense * x;
          ASSERT_EQ(expected.size(), static_cast<Eigen::Index>(y.size()));
          for (Eigen::Index i = 0; i < x.size(); ++i)
            EXPECT_NEAR(expected[i], y[i], 1e-14 * (1 + expected[i]));
        }
    }
  }
}

TEST_F(BigMatrixModel, WholePassOfP0AddsTheCellsInColumnOrder) {
  // Eight demes with the cut in use: the pass adds exactly the cells the cell
  // functions give, row by row in column order, so it matches a sum in Double
  // over the cells bit for bit. The pass of P0L is checked on its cells too.
  tDemes d = Line(8, 0.5);
  d.Precision = 1e-8;
  tBigSPOMModel model(8);
  Apply(model, d);
  const Cardinal n = model.P0Mat().RowCount();
  tVectorOfDouble x(n);
  for (Cardinal i = 0; i < n; ++i) x[i] = 0.5 + 0.5 * std::cos(0.3 * i);
  tVectorOfDouble y;
  ASSERT_TRUE(model.P0Mat().Product(x, y, false, false));
  long zeros = 0;
  for (Cardinal r = 0; r < n; ++r) {
    Double sum = 0;
    for (Cardinal c = 0; c < n; ++c) {
      const Double cell = model.P0Mat().Cells(r, c);
      zeros += cell == 0;
      sum += cell * x[c];
    }
    ASSERT_EQ(sum, y[r]) << r;
  }
  EXPECT_GT(zeros, 0);  // the cut is in use

  tVectorOfDouble yl;
  ASSERT_TRUE(model.P0LMat().Product(x, yl, false, false));
  for (Cardinal r = 0; r < n; r += 37) {
    Double sum = 0;
    for (Cardinal c = 0; c < n; ++c) sum += model.P0LMat().Cells(r, c) * x[c];
    EXPECT_EQ(sum, yl[r]);
  }
}

TEST_F(BigMatrixModel, WindowsHoldTheCells) {
  // Windows of P0, P0L and T inside each matrix, against a second model's cells.
  tDemes d = Line(5, 0.5);
  d.Precision = 1e-4;
  tBigSPOMModel model(5), other(5);
  Apply(model, d);
  Apply(other, d);
  const struct {
    utile::tRAMVirtualMatrixOfDouble &Filled, &Fresh;
    Cardinal MinRow, MaxRow, MinCol, MaxCol;
  } cases[] = {{model.P0Mat(), other.P0Mat(), 3, 30, 0, 17},
               {model.P0LMat(), other.P0LMat(), 20, 30, 25, 30},
               {model.TMat(), other.TMat(), 700, 774, 37, 240}};
  for (const auto& c : cases) {
    c.Filled.FillRAM(c.MinRow, c.MaxRow, c.MinCol, c.MaxCol);
    for (Cardinal r = c.MinRow; r <= c.MaxRow; ++r)
      for (Cardinal col = c.MinCol; col <= c.MaxCol; ++col)
        ASSERT_EQ(c.Fresh.Cells(r, col), c.Filled.tRAMVirtualMatrixOfDouble::GetCells(r, col))
            << r << "," << col;
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
    for (const Cardinal budget : {Cardinal{0}, Cardinal{4000000000u}}) {
      tBigSPOMModel model(n);
      Apply(model, d);
      Double Lt, ErrLt, Lp0, ErrLp0, Lg, ErrLg = -1;
      model.ComputeExactLambdas(Lt, ErrLt, Lp0, ErrLp0, Lg, ErrLg, 500, 8, budget);
      EXPECT_NEAR(lp0, Lp0, 1e-8) << n;
      EXPECT_NEAR(lt, Lt, 1e-8) << n;
      EXPECT_NEAR(lt / lp0, Lg, 1e-7) << n;
      EXPECT_NEAR(ErrLt * Lt + ErrLp0 * Lp0 + ErrLt * ErrLp0, ErrLg, 1e-18);
      EXPECT_FALSE(model.TMat().RAMFilled());
    }
  }
}

TEST_F(BigMatrixModel, PersistenceOfZeroGivesTheLargestLambdaG) {
  // One deme that always goes extinct: P0 and T are 0 x ... and 0.
  tDemes d = Line(1);
  d.e[0] = 1;
  tBigSPOMModel model(1);
  Apply(model, d);
  Double Lt, ErrLt, Lp0, ErrLp0, Lg = 0, ErrLg = 12.5;
  model.ComputeExactLambdas(Lt, ErrLt, Lp0, ErrLp0, Lg, ErrLg, 100, 6, 0);
  EXPECT_EQ(0.0, Lp0);
  EXPECT_EQ(1.7e308, Lg);
  EXPECT_EQ(12.5, ErrLg);
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
    Eigen::VectorXd w = Dominant(DenseP0(d)).Right;
    w /= w.sum();
    ASSERT_EQ(static_cast<size_t>(n), occupancy.size());
    for (int k = 0; k < n; ++k) {
      double expected = 0;
      for (Eigen::Index r = 0; r < w.size(); ++r)
        expected += Occupied(static_cast<unsigned>(r + 1), k) * w[r];
      EXPECT_NEAR(expected, occupancy[k], 1e-6);
    }
  }
}

TEST_F(BigMatrixModel, Kesp3FromTheDenseEigenvectors) {
  // Lt = Lp0 LG (1 - A) + B from the normalised dense eigenvectors of P0 and of
  // G for the all-occupied state.
  for (int n = 2; n <= 4; ++n) {
    const tDemes d = Line(n);
    const unsigned states = (1u << n) - 1, all = states;
    const int pairs = n * n;
    const Eigen::MatrixXd p0 = DenseP0(d), g = DenseG(d, all), fall = BackDispersal(d, all);
    tDominant dp = Dominant(p0), dg = Dominant(g);
    for (tDominant* dom : {&dp, &dg}) {
      dom->Right /= dom->Right.sum();
      dom->Left /= dom->Left.dot(dom->Right);
    }
    double A = 0, B = 0;
    for (unsigned s = 1; s <= states; ++s) {
      for (int h = 0; h < pairs; ++h)
        if (!Occupied(s, h / n) || !Occupied(s, h % n))
          A += dp.Left[s - 1] * dp.Right[s - 1] * dg.Left[h] * dg.Right[h];
      double X = 0;
      for (int h = 0; h < pairs; ++h) {
        double x1 = 0, x2 = 0;
        for (int k = 0; k < pairs; ++k) {
          if (!Occupied(s, k / n) || !Occupied(s, k % n)) continue;
          x1 += dg.Left[h] * dg.Right[k] * g(h, k);
          x2 += fall(h / n, k / n) * fall(h % n, k % n);
        }
        X += (1 / x2 - 1) * x1;
      }
      const double Y = p0.col(s - 1).dot(dp.Left) * dp.Right[s - 1];
      B += X * Y;
    }
    const double expected = dp.Value * dg.Value * (1 - A) + B;

    tBigSPOMModel model(n);
    Apply(model, d);
    model.P0Mat().fEigenValue = dp.Value;
    model.P0Mat().fEigenVectorLeft = ToVector(dp.Left);
    model.P0Mat().fEigenVectorRight = ToVector(dp.Right);
    model.GMat().fEigenValue = dg.Value;
    model.GMat().fEigenVectorLeft = ToVector(dg.Left);
    model.GMat().fEigenVectorRight = ToVector(dg.Right);
    EXPECT_NEAR(expected, model.TEigenvalueKesp3(), 1e-10) << n;
  }
}

TEST_F(BigMatrixModel, Kesp3LambdasFromTheIterations) {
  // With the eigensystems found by the iterations: Lp0 and the eigenvalue of G
  // as the dense ones, and the normalised vectors.
  const tDemes d = Line(3);
  tBigSPOMModel model(3);
  Apply(model, d);
  Double Lt, ErrLt, Lp0, ErrLp0, Lg, ErrLg;
  model.ComputeKesp3Lambdas(Lt, ErrLt, Lp0, ErrLp0, Lg, ErrLg, 1000, -14, 1 << 20);
  EXPECT_NEAR(Dominant(DenseP0(d)).Value, Lp0, 1e-6);
  EXPECT_NEAR(Dominant(DenseG(d, 7)).Value, model.GMat().EigenValue(), 1e-6);
  EXPECT_DOUBLE_EQ(1e-14, model.CoefficientPrecision());
  EXPECT_NEAR(Lt / Lp0, Lg, 1e-15);
  for (tBigVirtualMatrix* m :
       {static_cast<tBigVirtualMatrix*>(&model.P0Mat()), static_cast<tBigVirtualMatrix*>(&model.GMat())}) {
    double sum = 0, dot = 0;
    for (size_t i = 0; i < m->EigenVectorRight().size(); ++i) {
      sum += m->EigenVectorRight()[i];
      dot += m->EigenVectorLeft()[i] * m->EigenVectorRight()[i];
    }
    EXPECT_NEAR(1, sum, 1e-4);
    EXPECT_NEAR(1, dot, 1e-4);
  }
  EXPECT_FALSE(model.P0Mat().RAMFilled());
  EXPECT_FALSE(model.GMat().RAMFilled());
}

// ------------------------------------------------------------ hierarchy

TEST_F(BigMatrixModel, HierarchyWithOneGroupIsTheExactComputation) {
  for (const int n : {2, 3, 4}) {
    const tDemes d = Line(n);
    for (const Integer maxGroup : {n, n + 3}) {
      tBigSPOMModel model(n);
      Apply(model, d);
      Double Lt = 0, Lp0 = 0, Lg = 0;
      EXPECT_EQ("", HierachicalAnalysis(model, maxGroup, bmaExact, Lt, Lp0, Lg, 300, 7, 0));
      tBigSPOMModel direct(n);
      Apply(direct, d);
      Double lt, errLt, lp0, errLp0, lg, errLg;
      direct.ComputeExactLambdas(lt, errLt, lp0, errLp0, lg, errLg, 300, 7, 0);
      EXPECT_EQ(lt, Lt);
      EXPECT_EQ(lp0, Lp0);
      EXPECT_EQ(lg, Lg);
    }
  }
}

TEST_F(BigMatrixModel, HierarchyMakesEachClusterOneDeme) {
  // Two pairs of demes, strongly linked inside and weakly between: the first
  // level solves each pair; the second solves the two clusters as two demes.
  tDemes d = Line(4);
  d.M = {{0.8, 0.15, 0.01, 0.0}, {0.15, 0.8, 0.0, 0.01}, {0.01, 0.0, 0.8, 0.15}, {0.0, 0.01, 0.15, 0.8}};
  tBigSPOMModel model(4);
  Apply(model, d);
  Double Lt, Lp0, Lg;
  HierachicalAnalysis(model, 2, bmaExact, Lt, Lp0, Lg, 300, 7, 0);

  tBigSPOMModel top(2);
  const int pair[2][2] = {{0, 1}, {2, 3}};
  for (int i = 0; i < 2; ++i) {
    tBigSPOMModel cluster(2);
    for (int a = 0; a < 2; ++a) {
      const int k = pair[i][a];
      cluster.Setb(a, d.b[k]);
      cluster.Sete(a, d.e[k]);
      cluster.SetN(a, 1, d.N[k]);
      cluster.SetNe(a, 1, d.Ne[k]);
      for (int c = 0; c < 2; ++c) cluster.SetM(a, c, d.M[k][pair[i][c]]);
    }
    cluster.Reset();
    Double lt, lp0, lg, err;
    cluster.ComputeExactLambdas(lt, err, lp0, err, lg, err, 300, 7, 0);
    const double size = d.N[pair[i][0]] + d.N[pair[i][1]];
    top.SetN(i, 1, size);
    top.SetNe(i, 1, std::nearbyint(1 / (1 - lg)));
    top.Sete(i, 1 - lp0);
    top.Setb(i, (d.b[pair[i][0]] * d.N[pair[i][0]] + d.b[pair[i][1]] * d.N[pair[i][1]]) / size);
  }
  // Between clusters: the smallest cell between their demes, both ways.
  top.SetM(0, 0, 0.15);
  top.SetM(1, 1, 0.15);
  top.SetM(0, 1, 0.0);
  top.SetM(1, 0, 0.0);
  top.Reset();
  Double lt, lp0, lg, err;
  top.ComputeExactLambdas(lt, err, lp0, err, lg, err, 300, 7, 0);
  EXPECT_EQ(lt, Lt);
  EXPECT_EQ(lp0, Lp0);
  EXPECT_EQ(lg, Lg);
}

TEST_F(BigMatrixModel, HierarchyFailuresAreReported) {
  const std::string impossible = "Hierarchisation impossible";
  {
    tBigSPOMModel model(3);
    Apply(model, Line(3));
    Double Lt, Lp0, Lg;
    EXPECT_EQ(impossible, testsupport::MessageOf<utile::EInvalidOp>(
                              [&] { HierachicalAnalysis(model, 1, bmaExact, Lt, Lp0, Lg, 100, 6, 0); }));
  }
  {
    // A failure inside a cluster reaches the caller; every model is freed.
    tDemes d = Line(3);
    d.Ne[2] = 0;
    tBigSPOMModel model(3);
    Apply(model, d);
    Double Lt, Lp0, Lg;
    EXPECT_EQ("The effective size of deme 3 is 0: its genes cannot be followed.",
              testsupport::MessageOf<utile::EZeroDivide>(
                  [&] { HierachicalAnalysis(model, 3, bmaExact, Lt, Lp0, Lg, 100, 6, 0); }));
  }
  {
    // An isolated deme of size 0 becomes a cluster without births to share.
    tDemes d = Line(3);
    d.N[2] = 0;
    d.M[2][0] = d.M[2][1] = d.M[0][2] = d.M[1][2] = 0;
    tBigSPOMModel model(3);
    Apply(model, d);
    Double Lt, Lp0, Lg;
    EXPECT_EQ("Hierarchisation: the demes of group 2 have a total size of 0; its birth rate is undefined.",
              testsupport::MessageOf<utile::EZeroDivide>(
                  [&] { HierachicalAnalysis(model, 2, bmaExact, Lt, Lp0, Lg, 100, 6, 0); }));
  }
  {
    // Kesp3 clusters run with the precision 10^-Digits.
    tBigSPOMModel model(3);
    tDemes d = Line(3);
    d.N = {25, 30, 40};
    d.Ne = d.N;
    Apply(model, d);
    Double Lt = -1, Lp0 = -1, Lg = -1;
    EXPECT_NO_THROW(HierachicalAnalysis(model, 3, bmaKesp3, Lt, Lp0, Lg, 300, 6, 0));
    // Changes of 10^-3 leave two certain digits.
    EXPECT_NEAR(Dominant(DenseP0(d)).Value, Lp0, 0.02);
    EXPECT_GT(Lt, 0);
  }
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
               {5 * GiB, 80, 4294967295u},
               {1001, 50, 500},
               {1003, 50, 502},
               {0, 100, 0},
               {1000, 0, 0},
               {1000, -5, 0}};
  for (const auto& c : cases)
    EXPECT_EQ(c.Expected, RAMBudget(c.Free, c.Percent)) << c.Free << " " << c.Percent;
  SetFreeMemoryQuery(&InjectedFreeMemory);
  gFreeMemory = 3 * GiB;
  EXPECT_EQ(1610612736u, RAMBudget(50));
  gFreeMemory = 6 * GiB;
  EXPECT_EQ(4294967295u, RAMBudget(100));
}

TEST_F(BigMatrixModel, ResetForgetsWhatTheCellsKept) {
  // After new parameters and Reset, P0L and T give the cells of a new model.
  const tDemes first = Line(3);
  tDemes second = first;
  second.b = {2.0, 0.1, 1.7};
  tBigSPOMModel model(3);
  Apply(model, first);
  const Cardinal n = model.P0LMat().RowCount(), rows = model.TMat().RowCount();
  for (Cardinal r = 0; r < n; ++r)
    for (Cardinal c = 0; c < n; ++c) model.P0LMat().Cells(r, c);
  for (Cardinal c = 0; c < rows; ++c) model.TMat().Cells(rows - 1, c);
  Apply(model, second);
  EXPECT_EQ(-999.0, model.GMat().EigenValue());
  tBigSPOMModel fresh(3);
  Apply(fresh, second);
  // The last cells read first: the same states as before the change.
  for (Cardinal r = n; r-- > 0;)
    for (Cardinal c = n; c-- > 0;) EXPECT_EQ(fresh.P0LMat().Cells(r, c), model.P0LMat().Cells(r, c));
  EXPECT_EQ(fresh.TMat().Cells(rows - 1, rows - 1), model.TMat().Cells(rows - 1, rows - 1));
  for (Cardinal r = 0; r < rows; ++r) EXPECT_EQ(fresh.TMat().Cells(r, r), model.TMat().Cells(r, r));
}

TEST_F(BigMatrixModel, Kesp3RefusesADemeWithoutRecruits) {
  // Deme 2 produces nothing and receives nobody: with only deme 1 occupied it
  // draws no gene from anyone.
  tDemes d = Line(2);
  d.b[1] = 0;
  d.M[1][0] = 0;
  tBigSPOMModel model(2);
  Apply(model, d);
  Double Lt = -5, ErrLt, Lp0, ErrLp0, Lg, ErrLg;
  EXPECT_EQ(
      "The Kesp3 approximation cannot be computed: deme 2 receives no recruit from the demes occupied in "
      "state 10.",
      testsupport::MessageOf<utile::EInvalidOp>(
          [&] { model.ComputeKesp3Lambdas(Lt, ErrLt, Lp0, ErrLp0, Lg, ErrLg, 300, -10, 0); }));
  EXPECT_EQ(-5, Lt);
  // Before any eigensystem: a clear refusal too.
  tBigSPOMModel bare(2);
  Apply(bare, Line(2));
  EXPECT_THROW(bare.TEigenvalueKesp3(), utile::EInvalidOp);
}

TEST_F(BigMatrixModel, Kesp3RefusesAPersistenceOfZero) {
  // One pass: Lp0 about 0.3 carries no certain digit and rounds to 0.
  tDemes d = Line(2);
  d.e = {0.6, 0.6};
  tBigSPOMModel model(2);
  Apply(model, d);
  Double Lt, ErrLt, Lp0, ErrLp0, Lg, ErrLg;
  EXPECT_EQ("Lambda P0 is 0: Lambda G = Lambda T / Lambda P0 cannot be computed.",
            testsupport::MessageOf<utile::EZeroDivide>(
                [&] { model.ComputeKesp3Lambdas(Lt, ErrLt, Lp0, ErrLp0, Lg, ErrLg, 0, -10, 0); }));
  EXPECT_EQ(0.0, Lp0);
}

TEST_F(BigMatrixModel, TooManyDemesAreRefused) {
  for (const Integer n : {17, 40, -1}) {
    const std::string message = testsupport::MessageOf<utile::ERangeError>([&] { tBigSPOMModel model(n); });
    EXPECT_NE(std::string::npos, message.find("at most 16 demes")) << message;
  }
  tBigSPOMModel largest(16);
  EXPECT_EQ(65535u, largest.P0Mat().RowCount());
  EXPECT_EQ(65535u * 256u, largest.TMat().RowCount());
}

TEST_F(BigMatrixModel, AbstractModelRaises) {
  tBigMatrixModel model(2, 2);
  EXPECT_THROW(model.DemeState(1, 0), utile::EAbstractError);
  EXPECT_THROW(model.P(0, 0), utile::EAbstractError);
  EXPECT_THROW(model.G(0, 0, 1), utile::EAbstractError);
  EXPECT_THROW(model.T(0, 0), utile::EAbstractError);
  EXPECT_THROW(model.P0L(0, 0), utile::EAbstractError);
  EXPECT_THROW(model.SetN0(1), utile::EAbstractError);
  EXPECT_THROW(model.PatchProportionalOccupancy(), utile::EAbstractError);
  // A copy holds the parameters only.
  tBigSPOMModel source(2);
  Apply(source, Line(2));
  const auto copy = tBigSPOMModel::CreateByCopy(source);
  EXPECT_TRUE(copy->PowerOfTwo.empty());
  EXPECT_EQ(source.MigrationMat(), copy->MigrationMat());
  EXPECT_EQ(source.NumberMat(), copy->NumberMat());
  EXPECT_EQ(source.Birth(), copy->Birth());
}

}  // namespace
