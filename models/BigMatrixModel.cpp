#include "models/BigMatrixModel.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <initializer_list>
#include <limits>

#include "Utile/GraphTheoryOps.h"
#include "Utile/MatrixOps.h"
#include "Utile/Platform.h"
#include "Utile/RunTime.h"
#include "Utile/Systeme.h"
#include "models/BigMatrixBlocks.h"

namespace models {

using utile::Format;
using utile::tMatrixOfDouble;
using utile::tVectorOfDouble;

// The deme factors of every source state (empty and occupied after a step), the
// parameters they were computed from, and whether each is a probability.
struct tSourceFactors {
  tVectorOfDouble Parameters;   // e, b, N[.][1] and M, in this order
  tVectorOfDouble Empty, Stay;  // [(state - 1) Nd + deme]
  bool Probabilities = true;
};

namespace {

constexpr Double NotComputed = -999.0;
constexpr Cardinal NoState = 99999999;

[[noreturn]] void RaiseAbstract(const char* operation) {
  throw utile::EAbstractError(Format("Abstract operation %s called.", operation));
}

void CheckCell(Cardinal Row, Cardinal Col, Cardinal Count) {
  utile::Assert(Row < Count && Col < Count, "Cell outside the matrix");
}

}  // namespace

// ================================================================ whole passes
// The iterations multiply by whole passes that compute the same cells as the
// cell functions without a call per cell:
// - by blocks (models/BigMatrixBlocks.h): each cell of P0 is the product of the
//   destination probabilities over the low demes and over the high demes, built
//   once per source state from its deme factors (kept between passes), cut below
//   the coefficient precision; a block of source states is summed in registers;
// - by source state, where a factor lies outside [0, 1] (or for P0L and the
//   transposed T): each source state's column of P0 is built for all 2^Nd
//   destinations by doubling over the demes in their order (the products of
//   GetP, with the same cut), after one SetN0 per source state, and added into
//   the result;
// - T is multiplied in factorised form, each source state's G block first and
//   then the P0 column, which stands for exactly the cells P x g of GetT.
// Sums are in Double. Each pass ends in the current state that the cell by cell
// pass would leave (the last source state).

struct tBigMatrixPasses {
  // The destination probabilities of source states, one column at a time.
  class tColumns {
   public:
    explicit tColumns(tBigMatrixModel& model)
        : fModel(model), fColumn(size_t{1} << model.Nd), fEmpty(model.Nd), fStay(model.Nd) {}

    // Indexed by destination state: the cells GetP(r, s) for every r, bit for bit.
    const Double* Build(Cardinal s) {
      Factors(s);
      DoubleOverDemes(fColumn.data(), fModel.Nd, fEmpty.data(), fStay.data(), fModel.fCoefficientPrecision);
      return fColumn.data();
    }
    // The same over every deme but the last, whose factors are LastEmpty and LastStay.
    const Double* BuildAllButLast(Cardinal s) {
      Factors(s);
      DoubleOverDemes(fColumn.data(), fModel.Nd - 1, fEmpty.data(), fStay.data(),
                      fModel.fCoefficientPrecision);
      return fColumn.data();
    }
    Double LastEmpty() const { return fEmpty.back(); }
    Double LastStay() const { return fStay.back(); }

   private:
    void Factors(Cardinal s) {
      if (fModel.fn0 != s) fModel.SetN0(s);
      for (Integer k = 0; k < fModel.Nd; ++k) {
        fEmpty[k] = fModel.Prob0n(k);
        fStay[k] = 1 - fEmpty[k];
      }
    }

    tBigMatrixModel& fModel;
    tVectorOfDouble fColumn, fEmpty, fStay;
  };

  static bool Applies(tBigMatrixModel* model) {
    return model != nullptr && model->Ns == 2 && dynamic_cast<tBigSPOMModel*>(model) != nullptr;
  }

  static void LeaveLastState(tBigMatrixModel& model) {
    const Cardinal last = model.fOccupancyStates - 1;
    if (last > 0 && model.fn0 != last) model.SetN0(last);
  }

  // The factors of every source state, kept between passes for as long as the
  // parameters they come from stay as they are (compared at each pass, so that no
  // caller has to say when they change).
  static const tSourceFactors& Factors(tBigMatrixModel& model, bool pump) {
    const size_t nd = static_cast<size_t>(model.Nd);
    tVectorOfDouble parameters;
    parameters.reserve(nd * (nd + 3));
    parameters.insert(parameters.end(), model.e.begin(), model.e.end());
    parameters.insert(parameters.end(), model.b.begin(), model.b.end());
    for (const tVectorOfDouble& sizes : model.N) parameters.push_back(sizes[1]);
    for (const tVectorOfDouble& row : model.M) parameters.insert(parameters.end(), row.begin(), row.end());
    std::unique_ptr<tSourceFactors>& kept = model.fSourceFactors;
    if (kept && kept->Parameters == parameters) return *kept;
    kept.reset();
    auto factors = std::make_unique<tSourceFactors>();
    factors->Parameters = std::move(parameters);
    const size_t states = model.fOccupancyStates - 1;
    factors->Empty.resize(states * nd);
    factors->Stay.resize(states * nd);
    for (size_t s = 1; s <= states; ++s) {
      if (pump) utile::ProcessMessages();
      model.SetN0(static_cast<Cardinal>(s));
      for (size_t k = 0; k < nd; ++k) {
        const Double empty = model.Prob0n(static_cast<Integer>(k));
        factors->Empty[(s - 1) * nd + k] = empty;
        factors->Stay[(s - 1) * nd + k] = 1 - empty;
        if (!(empty >= 0 && empty <= 1)) factors->Probabilities = false;
      }
    }
    kept = std::move(factors);
    return *kept;
  }

  // Whether the passes go by blocks: enough demes, and every factor a probability.
  static bool ByBlocks(tBigMatrixModel& model, bool pump) {
    return tSourceBlock::Served(model.Nd) && Factors(model, pump).Probabilities;
  }

  // The sources of the block from state first + 1 on.
  static void FillBlock(tSourceBlock& block, const tSourceFactors& factors, size_t nd, size_t first,
                        size_t count) {
    block.Clear();
    for (size_t k = 0; k < count; ++k)
      block.Add(&factors.Empty[(first + k) * nd], &factors.Stay[(first + k) * nd]);
  }

  static void BlockedP0(tBigMatrixModel& model, const tVectorOfDouble& x, tVectorOfDouble& y, bool transposed,
                        bool pump) {
    const size_t n = model.fOccupancyStates - 1, nd = static_cast<size_t>(model.Nd);
    utile::Assert(x.size() == n, "Vector as long as the matrix");
    const tSourceFactors& factors = Factors(model, pump);
    tSourceBlock block(model.Nd, model.fCoefficientPrecision);
    tVectorOfDouble byState;  // x by destination state, the empty state's entry 0
    if (transposed) {
      byState.assign(n + 1, 0.0);
      std::copy(x.begin(), x.end(), byState.begin() + 1);
      y.resize(n);
    } else {
      y.assign(n, 0.0);
    }
    for (size_t first = 0; first < n; first += tSourceBlock::MaxSources) {
      FillBlock(block, factors, nd, first, std::min(tSourceBlock::MaxSources, n - first));
      if (transposed)
        block.SumProducts(byState.data(), y.data() + first, pump);
      else
        block.AddProducts(x.data() + first, 1, y.data(), pump);
      if (pump) utile::ProcessMessages();
    }
    LeaveLastState(model);
  }

  static Double Dot(const Double* a, const Double* b, size_t n) {
    Double sum[8] = {0, 0, 0, 0, 0, 0, 0, 0};
    size_t i = 0;
    for (; i + 8 <= n; i += 8)
      for (size_t k = 0; k < 8; ++k) sum[k] += a[i + k] * b[i + k];
    for (; i < n; ++i) sum[0] += a[i] * b[i];
    return ((sum[0] + sum[1]) + (sum[2] + sum[3])) + ((sum[4] + sum[5]) + (sum[6] + sum[7]));
  }

  // P0, or P0L when RowFactors is given: cell (r, c) = P0 cell x RowFactors[r].
  static void P0(tBigMatrixModel& model, const tVectorOfDouble& x, tVectorOfDouble& y, bool transposed,
                 bool pump, const tVectorOfDouble* rowFactors) {
    const size_t n = model.fOccupancyStates - 1;
    utile::Assert(x.size() == n, "Vector as long as the matrix");
    y.assign(n, 0.0);
    if (n == 0) return;
    tColumns columns(model);
    const size_t half = (n + 1) / 2;
    const Double precision = model.fCoefficientPrecision;
    tVectorOfDouble scaled(rowFactors ? n : 0);
    for (size_t c = 0; c < n; ++c) {
      const Cardinal source = static_cast<Cardinal>(c + 1);
      if (rowFactors) {
        const Double* p = columns.Build(source) + 1;
        const Double* f = rowFactors->data();
        if (!transposed) {
          const Double xc = x[c];
          for (size_t r = 0; r < n; ++r) y[r] += (p[r] * f[r]) * xc;
        } else {
          for (size_t r = 0; r < n; ++r) scaled[r] = p[r] * f[r];
          y[c] = Dot(scaled.data(), x.data(), n);
        }
      } else {
        const Double* low = columns.BuildAllButLast(source);
        if (!transposed)
          AddColumn(low, half, columns.LastEmpty(), columns.LastStay(), precision, x[c], y.data());
        else
          y[c] = DotColumn(low, half, columns.LastEmpty(), columns.LastStay(), precision, x.data());
      }
      if (pump) utile::ProcessMessages();
    }
    LeaveLastState(model);
  }

  // The drift factor of every deme (raises as the cells would).
  static tVectorOfDouble DriftFactors(tBigMatrixModel& model) {
    tVectorOfDouble drift(model.Nd);
    for (Integer d = 0; d < model.Nd; ++d) drift[d] = model.DriftFactor(d);
    return drift;
  }

  // The G cells of the current state, row-major, Nd^2 x Nd^2.
  static void GeneticCells(tBigMatrixModel& model, const tVectorOfDouble& drift, tVectorOfDouble& cells) {
    const Cardinal nd = static_cast<Cardinal>(model.Nd), pairs = nd * nd;
    cells.resize(size_t{pairs} * pairs);
    for (Cardinal g1 = 0; g1 < pairs; ++g1) {
      const Double* fa = model.F[g1 / nd].data();
      const Double* fb = model.F[g1 % nd].data();
      Double* row = &cells[size_t{g1} * pairs];
      for (Cardinal g2 = 0; g2 < pairs; ++g2) {
        const Cardinal c = g2 / nd, d = g2 % nd;
        Double g = fa[c] * fb[d];
        if (c == d) g *= drift[c];
        row[g2] = g;
      }
    }
  }

  static void G(tBigGeneticMatrix& matrix, tBigMatrixModel& model, const tVectorOfDouble& x,
                tVectorOfDouble& y, bool transposed, bool pump) {
    const size_t pairs = size_t(model.Nd) * model.Nd;
    utile::Assert(x.size() == pairs, "Vector as long as the matrix");
    if (matrix.State != model.fn0) model.SetN0(matrix.State);
    tVectorOfDouble cells;
    GeneticCells(model, DriftFactors(model), cells);
    y.assign(pairs, 0.0);
    for (size_t i = 0; i < pairs; ++i) {
      Double sum = 0;
      if (transposed)
        for (size_t j = 0; j < pairs; ++j) sum += cells[j * pairs + i] * x[j];
      else
        for (size_t j = 0; j < pairs; ++j) sum += cells[i * pairs + j] * x[j];
      y[i] = sum;
      if (pump) utile::ProcessMessages();
    }
  }

  // The genetic side of T's source state s2 (the model then in s2): the pairs of
  // demes occupied in s2 and, one row per such pair, the G cells of s2 cut below
  // the coefficient precision (Nd^2 columns).
  static void CutGeneticRows(tBigMatrixModel& model, Cardinal s2, const tVectorOfDouble& drift,
                             std::vector<Cardinal>& occupied, tVectorOfDouble& cut) {
    const Cardinal nd = static_cast<Cardinal>(model.Nd), pairs = nd * nd;
    const Double precision = model.fCoefficientPrecision;
    occupied.clear();
    for (Cardinal g2 = 0; g2 < pairs; ++g2)
      if (((s2 >> (g2 / nd)) & 1) && ((s2 >> (g2 % nd)) & 1)) occupied.push_back(g2);
    if (model.fn0 != s2) model.SetN0(s2);
    cut.resize(occupied.size() * pairs);
    for (size_t k = 0; k < occupied.size(); ++k) {
      const Cardinal c = occupied[k] / nd, d = occupied[k] % nd;
      Double* row = &cut[k * pairs];
      for (Cardinal g1 = 0; g1 < pairs; ++g1) {
        Double g = model.F[g1 / nd][c] * model.F[g1 % nd][d];
        if (c == d) g *= drift[c];
        row[g1] = g < precision ? 0.0 : g;
      }
    }
  }

  // z[g1] := the sum over the occupied pairs k of Gcut(g1, k) xs[k]: the G block
  // of a source state applied to its part of x.
  static void GeneticProduct(const std::vector<Cardinal>& occupied, const tVectorOfDouble& cut, size_t pairs,
                             const Double* xs, Double* z) {
    std::fill(z, z + pairs, 0.0);
    for (size_t k = 0; k < occupied.size(); ++k) {
      const Double xk = xs[occupied[k]];
      const Double* row = &cut[k * pairs];
      for (size_t g1 = 0; g1 < pairs; ++g1) z[g1] += row[g1] * xk;
    }
  }

  // T: rows (s1, g1), columns (s2, g2); cell P(s1 <- s2) x Gcut(g1, g2) for a pair
  // g2 of demes occupied in s2, where Gcut is the G cell of s2 cut below the
  // coefficient precision.
  static void T(tBigMatrixModel& model, const tVectorOfDouble& x, tVectorOfDouble& y, bool transposed,
                bool pump) {
    const Cardinal nd = static_cast<Cardinal>(model.Nd), pairs = nd * nd;
    const Cardinal states = model.fOccupancyStates - 1;
    const size_t rows = size_t{states} * pairs;
    utile::Assert(x.size() == rows, "Vector as long as the matrix");
    const tVectorOfDouble drift = DriftFactors(model);
    tColumns columns(model);
    std::vector<Cardinal> occupied;  // the pairs of demes occupied in s2
    tVectorOfDouble cut;             // Gcut, one row per occupied pair, Nd^2 columns
    tVectorOfDouble z(pairs);
    y.assign(rows, 0.0);
    for (Cardinal s2 = 1; s2 <= states; ++s2) {
      CutGeneticRows(model, s2, drift, occupied, cut);
      const Double* p = columns.Build(s2);
      if (!transposed) {
        GeneticProduct(occupied, cut, pairs, &x[size_t{s2 - 1} * pairs], z.data());
        for (Cardinal s1 = 1; s1 <= states; ++s1) {
          const Double ps = p[s1];
          if (ps == 0) continue;
          Double* __restrict ys = &y[size_t{s1 - 1} * pairs];
          for (Cardinal g1 = 0; g1 < pairs; ++g1) ys[g1] += ps * z[g1];
        }
      } else {
        std::fill(z.begin(), z.end(), 0.0);
        for (Cardinal s1 = 1; s1 <= states; ++s1) {
          const Double ps = p[s1];
          if (ps == 0) continue;
          const Double* __restrict xs = &x[size_t{s1 - 1} * pairs];
          for (Cardinal g1 = 0; g1 < pairs; ++g1) z[g1] += ps * xs[g1];
        }
        Double* ys = &y[size_t{s2 - 1} * pairs];
        for (size_t k = 0; k < occupied.size(); ++k) ys[occupied[k]] = Dot(&cut[k * pairs], z.data(), pairs);
      }
      if (pump) utile::ProcessMessages();
    }
    LeaveLastState(model);
  }

  // y = T x by blocks: each block's G products first, then the P0 cells of the
  // block summed into y.
  static void BlockedT(tBigMatrixModel& model, const tVectorOfDouble& x, tVectorOfDouble& y, bool pump) {
    const Cardinal nd = static_cast<Cardinal>(model.Nd), pairs = nd * nd;
    const size_t states = model.fOccupancyStates - 1;
    utile::Assert(x.size() == states * pairs, "Vector as long as the matrix");
    const tVectorOfDouble drift = DriftFactors(model);
    const tSourceFactors& factors = Factors(model, pump);
    tSourceBlock block(model.Nd, model.fCoefficientPrecision);
    std::vector<Cardinal> occupied;
    tVectorOfDouble cut;
    tVectorOfDouble z(tSourceBlock::MaxSources * pairs);  // the G products of the block's sources
    y.assign(states * pairs, 0.0);
    for (size_t first = 0; first < states; first += tSourceBlock::MaxSources) {
      const size_t count = std::min(tSourceBlock::MaxSources, states - first);
      for (size_t k = 0; k < count; ++k) {
        const Cardinal s2 = static_cast<Cardinal>(first + k + 1);
        CutGeneticRows(model, s2, drift, occupied, cut);
        GeneticProduct(occupied, cut, pairs, &x[(first + k) * pairs], &z[k * pairs]);
      }
      FillBlock(block, factors, nd, first, count);
      block.AddProducts(z.data(), pairs, y.data(), pump);
      if (pump) utile::ProcessMessages();
    }
    LeaveLastState(model);
  }

  // A window filled column by column: Column(c, out) writes cell (r, c) into
  // out[r - minRow]. Blocks of columns are turned into rows, so that the rows of
  // the window are written one stretch at a time.
  template <class tColumn>
  static void FillByColumns(Cardinal minRow, Cardinal maxRow, Cardinal minCol, Cardinal maxCol,
                            tMatrixOfDouble& window, tColumn column) {
    constexpr size_t Block = 32;
    const size_t rows = size_t{maxRow} - minRow + 1, cols = size_t{maxCol} - minCol + 1;
    tVectorOfDouble block(Block * rows);
    for (size_t c0 = 0; c0 < cols; c0 += Block) {
      const size_t count = std::min(Block, cols - c0);
      for (size_t k = 0; k < count; ++k) {
        column(static_cast<Cardinal>(minCol + c0 + k), &block[k * rows]);
        if (!utile::WindowFillGoesOn()) return;
      }
      for (size_t r = 0; r < rows; ++r) {
        Double* out = &window[r][c0];
        for (size_t k = 0; k < count; ++k) out[k] = block[k * rows + r];
      }
    }
  }

  static void P0Window(tBigMatrixModel& model, Cardinal minRow, Cardinal maxRow, Cardinal minCol,
                       Cardinal maxCol, tMatrixOfDouble& window) {
    tColumns columns(model);
    FillByColumns(minRow, maxRow, minCol, maxCol, window, [&](Cardinal c, Double* out) {
      const Double* p = columns.Build(c + 1) + 1;
      for (Cardinal r = minRow; r <= maxRow; ++r) out[r - minRow] = p[r];
    });
  }

  static void TWindow(tBigMatrixModel& model, Cardinal minRow, Cardinal maxRow, Cardinal minCol,
                      Cardinal maxCol, tMatrixOfDouble& window) {
    const Cardinal nd = static_cast<Cardinal>(model.Nd), pairs = nd * nd;
    const Double precision = model.fCoefficientPrecision;
    tColumns columns(model);
    FillByColumns(minRow, maxRow, minCol, maxCol, window, [&](Cardinal col, Double* out) {
      const Cardinal s2 = col / pairs + 1, g2 = col % pairs, c = g2 / nd, d = g2 % nd;
      if (!((s2 >> c) & 1) || !((s2 >> d) & 1)) {
        std::fill(out, out + (maxRow - minRow + 1), 0.0);
        return;
      }
      const Double* p = columns.Build(s2);
      const Double drift = c == d ? model.DriftFactor(static_cast<Integer>(c)) : 1.0;
      // Row t is the pair (a, b) of state s1, counted along without divisions.
      Cardinal s1 = minRow / pairs + 1, a = minRow % pairs / nd, b = minRow % nd;
      for (Cardinal t = minRow; t <= maxRow; ++t) {
        Double g = model.F[a][c] * model.F[b][d];
        if (c == d) g *= drift;
        out[t - minRow] = g < precision ? 0.0 : p[s1] * g;
        if (++b == nd) {
          b = 0;
          if (++a == nd) {
            a = 0;
            ++s1;
          }
        }
      }
    });
  }

  // The factors of P0L's rows: the genetic eigenvalue of each row's state, or 0
  // where it is not above the coefficient precision.
  static tVectorOfDouble GeneticRowFactors(tBigMatrixModel& model) {
    const Cardinal n = model.fOccupancyStates - 1;
    tVectorOfDouble factors(n);
    for (Cardinal r = 0; r < n; ++r) {
      const Double lg = model.GeneticEigenvalue(r + 1);
      factors[r] = lg > model.fCoefficientPrecision ? lg : 0.0;
    }
    return factors;
  }
};

// ================================================================ matrices

void tBigVirtualMatrix::NormaliseEigenvectors() {
  tVectorOfDouble& right = fEigenVectorRight;
  tVectorOfDouble& left = fEigenVectorLeft;
  Double sum = 0;
  for (const Double v : right) sum += v;
  if (std::fabs(sum - 1) > 0.0001) {
    if (sum == 0) throw utile::EZeroDivide("The right eigenvector sums to 0 and cannot be normalised.");
    for (Double& v : right) v /= sum;
  }
  if (left.size() != right.size()) return;
  Double dot = 0;
  for (size_t i = 0; i < left.size(); ++i) dot += left[i] * right[i];
  if (std::fabs(dot - 1) > 0.0001) {
    if (dot == 0)
      throw utile::EZeroDivide("The left and right eigenvectors are orthogonal and cannot be normalised.");
    for (Double& v : left) v /= dot;
  }
}

Double tBigDemographicMatrix::GetCells(Cardinal Row, Cardinal Col) {
  CheckCell(Row, Col, GetRowCount());
  return fBigMatrixModel->GetP(Row + 1, Col + 1);
}
Cardinal tBigDemographicMatrix::GetColCount() {
  return fBigMatrixModel->OccupancyStates() - 1;
}
Cardinal tBigDemographicMatrix::GetRowCount() {
  return fBigMatrixModel->OccupancyStates() - 1;
}
bool tBigDemographicMatrix::Product(const tVectorOfDouble& x, tVectorOfDouble& y, bool Transposed,
                                    bool LetMessagesThrough) {
  if (!tBigMatrixPasses::Applies(fBigMatrixModel)) return false;
  if (!tBigMatrixPasses::ByBlocks(*fBigMatrixModel, LetMessagesThrough))
    return ProductBySourceState(x, y, Transposed, LetMessagesThrough);
  tBigMatrixPasses::BlockedP0(*fBigMatrixModel, x, y, Transposed, LetMessagesThrough);
  return true;
}
bool tBigDemographicMatrix::ProductBySourceState(const tVectorOfDouble& x, tVectorOfDouble& y,
                                                 bool Transposed, bool LetMessagesThrough) {
  if (!tBigMatrixPasses::Applies(fBigMatrixModel)) return false;
  tBigMatrixPasses::P0(*fBigMatrixModel, x, y, Transposed, LetMessagesThrough, nullptr);
  return true;
}

void tBigDemographicMatrix::ComputeWindow(Cardinal MinRow, Cardinal MaxRow, Cardinal MinCol, Cardinal MaxCol,
                                          tMatrixOfDouble& Window) {
  if (tBigMatrixPasses::Applies(fBigMatrixModel))
    tBigMatrixPasses::P0Window(*fBigMatrixModel, MinRow, MaxRow, MinCol, MaxCol, Window);
  else
    tBigVirtualMatrix::ComputeWindow(MinRow, MaxRow, MinCol, MaxCol, Window);
}

Double tP0LMatrix::GetCells(Cardinal Row, Cardinal Col) {
  CheckCell(Row, Col, GetRowCount());
  return fBigMatrixModel->GetP0L(Row, Col);
}
bool tP0LMatrix::Product(const tVectorOfDouble& x, tVectorOfDouble& y, bool Transposed,
                         bool LetMessagesThrough) {
  return ProductBySourceState(x, y, Transposed, LetMessagesThrough);
}
bool tP0LMatrix::ProductBySourceState(const tVectorOfDouble& x, tVectorOfDouble& y, bool Transposed,
                                      bool LetMessagesThrough) {
  if (!tBigMatrixPasses::Applies(fBigMatrixModel)) return false;
  const tVectorOfDouble factors = tBigMatrixPasses::GeneticRowFactors(*fBigMatrixModel);
  tBigMatrixPasses::P0(*fBigMatrixModel, x, y, Transposed, LetMessagesThrough, &factors);
  return true;
}

void tP0LMatrix::ComputeWindow(Cardinal MinRow, Cardinal MaxRow, Cardinal MinCol, Cardinal MaxCol,
                               tMatrixOfDouble& Window) {
  tBigVirtualMatrix::ComputeWindow(MinRow, MaxRow, MinCol, MaxCol, Window);
}

Double tBigGeneticMatrix::GetCells(Cardinal Row, Cardinal Col) {
  CheckCell(Row, Col, GetRowCount());
  return fBigMatrixModel->GetG(Row, Col, State);
}
Cardinal tBigGeneticMatrix::GetColCount() {
  return fBigMatrixModel->fGColCount;
}
Cardinal tBigGeneticMatrix::GetRowCount() {
  return fBigMatrixModel->fGColCount;
}
bool tBigGeneticMatrix::Product(const tVectorOfDouble& x, tVectorOfDouble& y, bool Transposed,
                                bool LetMessagesThrough) {
  if (!tBigMatrixPasses::Applies(fBigMatrixModel)) return false;
  tBigMatrixPasses::G(*this, *fBigMatrixModel, x, y, Transposed, LetMessagesThrough);
  return true;
}

Double tBigTransitionMatrix::GetCells(Cardinal Row, Cardinal Col) {
  CheckCell(Row, Col, GetRowCount());
  const Double cached = tRAMVirtualMatrixOfDouble::GetCells(Row, Col);
  if (cached != fNotInRAM) return cached;
  return fBigMatrixModel->GetT(Row, Col);
}
void tBigTransitionMatrix::ComputeWindow(Cardinal MinRow, Cardinal MaxRow, Cardinal MinCol, Cardinal MaxCol,
                                         tMatrixOfDouble& Window) {
  if (tBigMatrixPasses::Applies(fBigMatrixModel))
    tBigMatrixPasses::TWindow(*fBigMatrixModel, MinRow, MaxRow, MinCol, MaxCol, Window);
  else
    tBigVirtualMatrix::ComputeWindow(MinRow, MaxRow, MinCol, MaxCol, Window);
}

Cardinal tBigTransitionMatrix::GetColCount() {
  return GetRowCount();
}
Cardinal tBigTransitionMatrix::GetRowCount() {
  return (fBigMatrixModel->OccupancyStates() - 1) * fBigMatrixModel->fGColCount;
}
bool tBigTransitionMatrix::Product(const tVectorOfDouble& x, tVectorOfDouble& y, bool Transposed,
                                   bool LetMessagesThrough) {
  if (!tBigMatrixPasses::Applies(fBigMatrixModel)) return false;
  if (Transposed || !tBigMatrixPasses::ByBlocks(*fBigMatrixModel, LetMessagesThrough))
    return ProductBySourceState(x, y, Transposed, LetMessagesThrough);
  tBigMatrixPasses::BlockedT(*fBigMatrixModel, x, y, LetMessagesThrough);
  return true;
}
bool tBigTransitionMatrix::ProductBySourceState(const tVectorOfDouble& x, tVectorOfDouble& y, bool Transposed,
                                                bool LetMessagesThrough) {
  if (!tBigMatrixPasses::Applies(fBigMatrixModel)) return false;
  tBigMatrixPasses::T(*fBigMatrixModel, x, y, Transposed, LetMessagesThrough);
  return true;
}
bool tBigTransitionMatrix::IterationsReadWindow() {
  return !tBigMatrixPasses::Applies(fBigMatrixModel);
}

// ================================================================ tBigMatrixModel

tBigMatrixModel::tBigMatrixModel(Integer Ns_, Integer Nd_) : Ns(Ns_), Nd(Nd_) {
  // Ns^Nd occupancy states, with the state numbers held in 32 bits and the rows
  // of T ((Ns^Nd - 1) x Nd^2) too.
  long double states = 1;
  if (Nd >= 0 && Nd <= MaxBigMatrixDemes && Ns >= 1)
    for (Integer d = 0; d < Nd; ++d) states *= Ns;
  if (Nd < 0 || Ns < 1 || Nd > MaxBigMatrixDemes || states > 65536)
    throw utile::ERangeError(Format(
        "The big-matrix model takes at most %d demes of two states; %d demes of %d states were asked for.",
        MaxBigMatrixDemes, Nd, Ns));
  fOccupancyStates = static_cast<Cardinal>(states);
  b.assign(Nd, 0.0);
  e.assign(Nd, 0.0);
  M.assign(Nd, tVectorOfDouble(Nd, 0.0));
  N.assign(Nd, tVectorOfDouble(Ns, 0.0));
  Ne.assign(Nd, tVectorOfDouble(Ns, 0.0));
  S.assign(Ns, tVectorOfDouble(Ns, 0.0));
  F.assign(Nd, tVectorOfDouble(Nd, 0.0));
  Migrants.assign(Nd, tVectorOfDouble(Nd, 0.0));
  SumMigrants.assign(Nd, 0.0);
  fP0Mat = std::make_unique<tBigDemographicMatrix>(this);
  fGMat = std::make_unique<tBigGeneticMatrix>(this);
  fGColCount = static_cast<Cardinal>(Nd) * static_cast<Cardinal>(Nd);
  fTMat = std::make_unique<tBigTransitionMatrix>(this);
  fP0LMat = std::make_unique<tP0LMatrix>(this);
  fGIndex.resize(fGColCount);
  for (Cardinal g = 0; g < fGColCount; ++g)
    fGIndex[g] = {g / static_cast<Cardinal>(Nd), g % static_cast<Cardinal>(Nd)};
  Reset();
}

tBigMatrixModel::tBigMatrixModel(tCopyOf Copy) : tBigMatrixModel(Copy.Source.Ns, Copy.Source.Nd) {
  const tBigMatrixModel& source = Copy.Source;
  b = source.b;
  e = source.e;
  fCoefficientPrecision = source.fCoefficientPrecision;
  M = source.M;
  N = source.N;
  Ne = source.Ne;
  S = source.S;
  Reset();
}

tBigMatrixModel::~tBigMatrixModel() = default;

Integer tBigMatrixModel::DemeState(Integer, Integer) {
  RaiseAbstract("DemeState");
}
Double tBigMatrixModel::GetG(Cardinal, Cardinal, Cardinal) {
  RaiseAbstract("GetG");
}
void tBigMatrixModel::SetN0(Cardinal) {
  RaiseAbstract("SetN0");
}
Double tBigMatrixModel::GetP(Cardinal, Cardinal) {
  RaiseAbstract("GetP");
}
Double tBigMatrixModel::GetP0L(Cardinal, Cardinal) {
  RaiseAbstract("GetP0L");
}
Double tBigMatrixModel::GetT(Cardinal, Cardinal) {
  RaiseAbstract("GetT");
}
tVectorOfDouble tBigMatrixModel::PatchProportionalOccupancy() {
  RaiseAbstract("PatchProportionalOccupancy");
}

namespace {
void CheckDeme(Integer Deme, Integer Nd) {
  utile::Assert(Deme >= 0 && Deme < Nd, "Deme outside the model");
}
void CheckDemeState(Integer Value, Integer Ns) {
  utile::Assert(Value >= 0 && Value < Ns, "Deme state outside the model");
}
}  // namespace

Double tBigMatrixModel::Getb(Integer Deme) const {
  CheckDeme(Deme, Nd);
  return b[Deme];
}
Double tBigMatrixModel::Gete(Integer Deme) const {
  CheckDeme(Deme, Nd);
  return e[Deme];
}
Double tBigMatrixModel::GetM(Integer To, Integer From) const {
  CheckDeme(To, Nd);
  CheckDeme(From, Nd);
  return M[To][From];
}
Double tBigMatrixModel::GetN(Integer Deme, Integer DemeStateValue) const {
  CheckDeme(Deme, Nd);
  CheckDemeState(DemeStateValue, Ns);
  return N[Deme][DemeStateValue];
}
Double tBigMatrixModel::GetNe(Integer Deme, Integer DemeStateValue) const {
  CheckDeme(Deme, Nd);
  CheckDemeState(DemeStateValue, Ns);
  return Ne[Deme][DemeStateValue];
}
void tBigMatrixModel::Setb(Integer Deme, Double Value) {
  CheckDeme(Deme, Nd);
  b[Deme] = Value;
}
void tBigMatrixModel::Sete(Integer Deme, Double Value) {
  CheckDeme(Deme, Nd);
  e[Deme] = Value;
}
void tBigMatrixModel::SetM(Integer To, Integer From, Double Value) {
  CheckDeme(To, Nd);
  CheckDeme(From, Nd);
  M[To][From] = Value;
}
void tBigMatrixModel::SetN(Integer Deme, Integer DemeStateValue, Double Value) {
  CheckDeme(Deme, Nd);
  CheckDemeState(DemeStateValue, Ns);
  N[Deme][DemeStateValue] = Value;
}
void tBigMatrixModel::SetNe(Integer Deme, Integer DemeStateValue, Double Value) {
  CheckDeme(Deme, Nd);
  CheckDemeState(DemeStateValue, Ns);
  Ne[Deme][DemeStateValue] = Value;
}
void tBigMatrixModel::SetCoefficientPrecision(Double Value) {
  // The P0 cell that T keeps was cut at the previous precision.
  if (Value != fCoefficientPrecision) oldn1 = oldn0 = 0;
  fCoefficientPrecision = Value;
}

void tBigMatrixModel::Reset() {
  fn0 = NoState;
  for (utile::tBaseVirtualMatrixOfDouble* m :
       std::initializer_list<utile::tBaseVirtualMatrixOfDouble*>{fTMat.get(), fP0Mat.get()}) {
    m->fEigenValue = NotComputed;
    m->fEigenVectorLeft.clear();
    m->fEigenVectorRight.clear();
  }
  // The genetic eigenvalue and the P0 cell kept for the cell functions belong
  // to the parameters in force before.
  fGMat->fEigenValue = NotComputed;
  fLgState = 0;
  fLgValue = NotComputed;
  fSourceFactors.reset();
  oldP0 = 0;
  oldn1 = oldn0 = 0;
}

void tBigMatrixModel::DecodeGIndex(Cardinal Index, Cardinal& Deme1, Cardinal& Deme2) const {
  utile::Assert(Index < fGIndex.size(), "Pair index outside the model");
  Deme1 = fGIndex[Index][0];
  Deme2 = fGIndex[Index][1];
}

void tBigMatrixModel::DecodeTIndex(Cardinal Index, Cardinal& PairIndex, Cardinal& State) {
  if (fTIndex.empty() && fGColCount > 0) {
    const Cardinal rows = (fOccupancyStates - 1) * fGColCount;
    fTIndex.resize(rows);
    for (Cardinal t = 0; t < rows; ++t) fTIndex[t] = {t % fGColCount, t / fGColCount + 1};
  }
  utile::Assert(Index < fTIndex.size(), "Row outside the combined matrix");
  PairIndex = fTIndex[Index][0];
  State = fTIndex[Index][1];
}

Double tBigMatrixModel::TotalSize(Integer DemeStateValue) const {
  CheckDemeState(DemeStateValue, Ns);
  Double sum = 0;
  for (Integer d = 0; d < Nd; ++d) sum += N[d][DemeStateValue];
  return sum;
}

std::string tBigMatrixModel::StateVector(Cardinal State) {
  std::string text;
  for (Integer d = 0; d < Nd; ++d) text += Format("%d", DemeState(static_cast<Integer>(State), d));
  return text;
}

Double tBigMatrixModel::Prob0n(Integer k) const {
  return e[k] + (1 - e[k]) * std::exp(-SumMigrants[k]);
}

Double tBigMatrixModel::DriftFactor(Integer Deme) const {
  if (Ne[Deme][1] == 0)
    throw utile::EZeroDivide(
        Format("The effective size of deme %d is 0: its genes cannot be followed.", Deme + 1));
  return 1 - 1 / Ne[Deme][1];
}

Double tBigMatrixModel::GeneticEigenvalue(Cardinal State) {
  if (fGMat->fEigenValue != NotComputed && fLgState == State && fGMat->fEigenValue == fLgValue)
    return fLgValue;
  SetN0(State);
  Double lg = 0;
  utile::DominantEigenvalueMute(*fGMat, lg, 100, 0.001);
  fGMat->fEigenValue = lg;
  fLgState = State;
  fLgValue = lg;
  return lg;
}

void tBigMatrixModel::ComputeExactLambdas(Double& Lt, Double& ErrLt, Double& Lp0, Double& ErrLp0, Double& Lg,
                                          Double& ErrLg, Integer MaxIter, Integer Digits, Cardinal RAMBytes) {
  const Double tolerance = std::pow(10.0, -1.0 - Digits);
  utile::DominantEigenvalue(*fP0Mat, Lp0, MaxIter, tolerance);
  ErrLp0 = utile::EigenError;
  Lp0 = std::min(Lp0, 1.0);
  WithRAMWindow(*fTMat, RAMBytes, [&] {
    utile::DominantEigenvalue(*fTMat, Lt, MaxIter, tolerance);
    ErrLt = utile::EigenError;
    Lt = std::min(Lt, 1.0);
  });
  if (Lp0 != 0) {
    Lg = Lt / Lp0;
    ErrLg = ProductError(ErrLt, Lt, ErrLp0, Lp0);
  } else {
    Lg = 1.7e308;
  }
}

// ================================================================ tBigSPOMModel

tBigSPOMModel::tBigSPOMModel(Integer Nd_) : tBigMatrixModel(2, Nd_) {
  PowerOfTwo.resize(Nd);
  for (Integer d = 0; d < Nd; ++d) PowerOfTwo[d] = std::ldexp(1.0L, d);
}

std::unique_ptr<tBigSPOMModel> tBigSPOMModel::CreateByCopy(const tBigMatrixModel& Source) {
  return std::unique_ptr<tBigSPOMModel>(new tBigSPOMModel(tCopyOf{Source}));
}

Integer tBigSPOMModel::DemeState(Integer State, Integer Deme) {
  return (static_cast<uint32_t>(State) >> Deme) & 1u ? 1 : 0;
}

void tBigSPOMModel::SetN0(Cardinal State) {
  fn0 = State;
  fGMat->State = State;
  std::fill(SumMigrants.begin(), SumMigrants.end(), 0.0);
  for (Integer j = 0; j < Nd; ++j) {
    const Double c = DemeState(static_cast<Integer>(State), j) * N[j][1] * b[j];
    for (Integer k = 0; k < Nd; ++k) {
      Migrants[k][j] = c * M[k][j];
      SumMigrants[k] = SumMigrants[k] + Migrants[k][j];
    }
  }
  for (Integer k = 0; k < Nd; ++k)
    for (Integer j = 0; j < Nd; ++j) F[k][j] = SumMigrants[k] != 0 ? Migrants[k][j] / SumMigrants[k] : 0.0;
}

Double tBigSPOMModel::GetP(Cardinal Row, Cardinal Col) {
  if (Col != fn0) SetN0(Col);
  Double p = 1;
  for (Integer k = 0; k < Nd; ++k) {
    const Double q = Prob0n(k);
    p = DemeState(static_cast<Integer>(Row), k) == 1 ? p * (1 - q) : p * q;
    if (p < fCoefficientPrecision) return 0;
  }
  return p;
}

Double tBigSPOMModel::GetG(Cardinal Row, Cardinal Col, Cardinal State) {
  if (State != fn0) SetN0(State);
  Cardinal a, b1, c, d;
  DecodeGIndex(Row, a, b1);
  DecodeGIndex(Col, c, d);
  Double g = F[a][c] * F[b1][d];
  if (c == d) g *= DriftFactor(static_cast<Integer>(c));
  return g;
}

Double tBigSPOMModel::GetT(Cardinal Row, Cardinal Col) {
  Cardinal g1, s1, g2, s2, a, b2;
  DecodeTIndex(Row, g1, s1);
  DecodeTIndex(Col, g2, s2);
  DecodeGIndex(g2, a, b2);
  if (DemeState(static_cast<Integer>(s2), static_cast<Integer>(a)) == 0 ||
      DemeState(static_cast<Integer>(s2), static_cast<Integer>(b2)) == 0)
    return 0;
  if (s2 != fn0) SetN0(s2);
  const Double g = GetG(g1, g2, s2);
  if (g < fCoefficientPrecision) return 0;
  if (s1 != oldn1 || s2 != oldn0) {
    oldP0 = fP0Mat->GetCells(s1 - 1, s2 - 1);
    oldn1 = s1;
    oldn0 = s2;
  }
  return oldP0 * g;
}

Double tBigSPOMModel::GetP0L(Cardinal Row, Cardinal Col) {
  const Double lg = GeneticEigenvalue(Row + 1);
  const Double p = fP0Mat->GetCells(Row, Col);
  return lg > fCoefficientPrecision ? p * lg : 0.0;
}

tVectorOfDouble tBigSPOMModel::PatchProportionalOccupancy() {
  const tVectorOfDouble& right = fP0Mat->fEigenVectorRight;
  const Cardinal n = fOccupancyStates - 1;
  if (right.size() != n || n == 0)
    throw utile::EInvalidOp(
        "The right eigenvector must be computed for patch proportional occupancy to be computed.");
  Double sum = 0;
  for (const Double v : right) sum += v;
  if (sum == 0) throw utile::EZeroDivide("The right eigenvector of P0 sums to 0: it is no distribution.");
  tVectorOfDouble w(right);
  for (Double& v : w) v /= sum;
  tVectorOfDouble occupancy(Nd, 0.0);
  for (Integer d = 0; d < Nd; ++d)
    for (Cardinal r = 0; r < n; ++r) occupancy[d] += DemeState(static_cast<Integer>(r + 1), d) * w[r];
  return occupancy;
}

void tBigSPOMModel::ComputeKesp3Lambdas(Double& Lt, Double& ErrLt, Double& Lp0, Double& ErrLp0, Double& Lg,
                                        Double& ErrLg, Integer MaxIter, Integer PrecisionExponent,
                                        Cardinal RAMBytes) {
  const Double precision = std::pow(10.0, PrecisionExponent);
  auto startStage = [&] {
    MarkNoPassYet();
    SetCoefficientPrecision(precision);
  };
  auto eigensystems = [&](tBigVirtualMatrix& matrix, Double& lambda) {
    WithRAMWindow(matrix, RAMBytes, [&] {
      tVectorOfDouble vector;
      utile::DominantEigensystem(matrix, vector, lambda, true, MaxIter, precision);
      utile::DominantEigensystem(matrix, vector, lambda, false, MaxIter, precision);
      matrix.NormaliseEigenvectors();
    });
  };

  startStage();
  eigensystems(*fP0Mat, Lp0);
  Lp0 = std::min(Lp0, 1.0);
  ErrLp0 = 2 * utile::EigenError;

  startStage();
  fGMat->State = fOccupancyStates - 1;
  eigensystems(*fGMat, Lg);
  ErrLg = 2 * utile::EigenError;

  Lt = std::min(TEigenvalueKesp3(), 1.0);
  ErrLt = ProductError(ErrLg, Lg, ErrLp0, Lp0);
  if (Lp0 == 0)
    throw utile::EZeroDivide("Lambda P0 is 0: Lambda G = Lambda T / Lambda P0 cannot be computed.");
  Lg = Lt / Lp0;
  ErrLg = ProductError(ErrLt, Lt, ErrLp0, Lp0);
}

Double tBigSPOMModel::TEigenvalueKesp3() {
  const Cardinal n = fOccupancyStates - 1;
  const Cardinal nd = static_cast<Cardinal>(Nd), pairs = fGColCount;
  const tVectorOfDouble &vP = fP0Mat->fEigenVectorLeft, &wP = fP0Mat->fEigenVectorRight;
  const tVectorOfDouble &vG = fGMat->fEigenVectorLeft, &wG = fGMat->fEigenVectorRight;
  if (n == 0 || vP.size() != n || wP.size() != n || vG.size() != pairs || wG.size() != pairs)
    throw utile::EInvalidOp(
        "The left and right eigenvectors of P0 and G must be computed for the Kesp3 approximation.");
  const Double Lp0 = fP0Mat->fEigenValue, LG = fGMat->fEigenValue;
  const Cardinal all = n;  // every deme occupied

  // A: the rows of T whose pair has an empty deme.
  Double A = 0;
  for (Cardinal s = 1; s <= n; ++s)
    for (Cardinal g = 0; g < pairs; ++g)
      if (!((s >> (g / nd)) & 1) || !((s >> (g % nd)) & 1)) A += vP[s - 1] * wP[s - 1] * vG[g] * wG[g];

  SetN0(all);
  const tMatrixOfDouble Fall = F;
  tVectorOfDouble Gall;
  tBigMatrixPasses::GeneticCells(*this, tBigMatrixPasses::DriftFactors(*this), Gall);
  // The recruits that each deme draws from the demes occupied in a state.
  tVectorOfDouble fromOccupied(nd);

  // Y of each state s: the sum over the rows r of P0 of P0[r][s - 1] vP[r], that
  // is, the transposed pass over vP, times wP[s - 1].
  tVectorOfDouble leftProduct;
  fP0Mat->Product(vP, leftProduct, true, true);
  tVectorOfDouble x1(pairs), x2(pairs);
  Double B = 0;
  for (Cardinal s = 1; s <= n; ++s) {
    utile::ProcessMessages();
    std::fill(x1.begin(), x1.end(), 0.0);
    std::fill(x2.begin(), x2.end(), 0.0);
    for (Cardinal g = 0; g < pairs; ++g) {
      const Cardinal a = g / nd, b2 = g % nd;
      if (!((s >> a) & 1) || !((s >> b2) & 1)) continue;
      for (Cardinal h = 0; h < pairs; ++h) {
        x1[h] += vG[h] * wG[g] * Gall[size_t{h} * pairs + g];
        x2[h] += Fall[h / nd][a] * Fall[h % nd][b2];
      }
    }
    Double X = 0;
    for (Cardinal h = 0; h < pairs; ++h) {
      if (x2[h] == 0) {
        // One deme of the pair draws nothing from the occupied demes.
        Cardinal deme = h / nd;
        Double drawn = 0;
        for (Cardinal a = 0; a < nd; ++a)
          if ((s >> a) & 1) drawn += Fall[deme][a];
        if (drawn != 0) deme = h % nd;
        throw utile::EInvalidOp(
            Format("The Kesp3 approximation cannot be computed: deme %d receives no recruit from the demes "
                   "occupied in state %s.",
                   deme + 1, StateVector(s)));
      }
      X += (1 / x2[h] - 1) * x1[h];
    }
    B += X * (leftProduct[s - 1] * wP[s - 1]);
  }
  tBigMatrixPasses::LeaveLastState(*this);
  return Lp0 * LG * (1 - A) + B;
}

// ================================================================ hierarchy

namespace {

// A model of the demes of Group of Level, in the group's order.
std::unique_ptr<tBigSPOMModel> CreateModelFromGraph(tBigSPOMModel& Level,
                                                    const utile::tVectorOfCardinal& Group) {
  const Integer n = static_cast<Integer>(Group.size());
  auto cluster = std::make_unique<tBigSPOMModel>(n);
  for (Integer i = 0; i < n; ++i) {
    const Integer d = static_cast<Integer>(Group[i]);
    cluster->Sete(i, Level.Gete(d));
    cluster->Setb(i, Level.Getb(d));
    for (Integer j = 0; j < n; ++j) cluster->SetM(i, j, Level.GetM(d, static_cast<Integer>(Group[j])));
    for (Integer s = 0; s < Level.StateCount(); ++s) {
      cluster->SetN(i, s, Level.GetN(d, s));
      cluster->SetNe(i, s, Level.GetNe(d, s));
    }
  }
  cluster->SetCoefficientPrecision(Level.CoefficientPrecision());
  return cluster;
}

}  // namespace

std::string HierachicalAnalysis(tBigSPOMModel& Model, Integer MaxGroupSize, tBMAlgorithm Algorithm,
                                Double& Lt, Double& Lp0, Double& Lg, Integer MaxIter, Integer Digits,
                                Integer RAMPercent) {
  std::unique_ptr<tBigSPOMModel> level = tBigSPOMModel::CreateByCopy(Model);
  std::unique_ptr<tBigSPOMModel> next = std::make_unique<tBigSPOMModel>(1);
  std::unique_ptr<tBigSPOMModel> cluster = std::make_unique<tBigSPOMModel>(1);
  Double maxValue = utile::MaxCoefficient(Model.M);
  Double threshold = 0;
  utile::tTableOfCardinal groups;
  do {
    utile::SubGraphs(level->M, MaxGroupSize, groups, maxValue, threshold);
    // A level of several demes that keeps as many as it had would be grouped the
    // same way for ever; a level of one deme is solved as one cluster.
    if (threshold == -1.0 || (level->Nd > 1 && groups.size() >= static_cast<size_t>(level->Nd)))
      throw utile::EInvalidOp("Hierarchisation impossible");
    next = std::make_unique<tBigSPOMModel>(static_cast<Integer>(groups.size()));
    for (size_t i = 0; i < groups.size(); ++i) {
      cluster = CreateModelFromGraph(*level, groups[i]);
      cluster->S = level->S;
      cluster->Reset();
      Double scratch = 0;
      const Cardinal budget = RAMBudget(RAMPercent);
      if (Algorithm == bmaExact)
        cluster->ComputeExactLambdas(Lt, scratch, Lp0, scratch, Lg, scratch, MaxIter, Digits, budget);
      else
        // The exponent of the precision is negative: 10^-Digits.
        cluster->ComputeKesp3Lambdas(Lt, scratch, Lp0, scratch, Lg, scratch, MaxIter, -Digits, budget);
      const Integer deme = static_cast<Integer>(i);
      next->N[deme][0] = cluster->TotalSize(0);
      next->N[deme][1] = cluster->TotalSize(1);
      next->Ne[deme][0] = 0;
      next->Ne[deme][1] = Lg < 1 ? static_cast<Double>(utile::Round(1 / (1 - Lg))) : 2147483647.0;
      next->e[deme] = Lp0 < 1 ? 1 - Lp0 : 0;
      Double births = 0;
      for (const Cardinal d : groups[i]) births += level->b[d] * level->N[d][1];
      if (next->N[deme][1] == 0)
        throw utile::EZeroDivide(Format(
            "Hierarchisation: the demes of group %d have a total size of 0; its birth rate is undefined.",
            deme + 1));
      next->b[deme] = births / next->N[deme][1];
    }
    utile::GraphOfSubGraphs(groups, level->M, next->M);
    level = std::move(next);
    next = std::make_unique<tBigSPOMModel>(1);
  } while (level->Nd > 1);
  return "";
}

// ================================================================ byte budget

namespace {
tFreeMemoryQuery gFreeMemoryQuery = nullptr;
}

Cardinal RAMBudget(utile::Int64 FreeMemory, Double Percent) {
  if (FreeMemory <= 0 || !(Percent > 0)) return 0;
  const long double bytes = static_cast<long double>(FreeMemory) * Percent / 100;
  const long double largest = std::min<long double>(FreeMemory, std::numeric_limits<Cardinal>::max());
  if (bytes >= largest) return static_cast<Cardinal>(largest);
  return static_cast<Cardinal>(utile::Round(bytes));
}

Cardinal RAMBudget(Double Percent) {
  return RAMBudget(gFreeMemoryQuery ? gFreeMemoryQuery() : utile::GetFreeMemory(), Percent);
}

void SetFreeMemoryQuery(tFreeMemoryQuery Query) {
  gFreeMemoryQuery = Query;
}

bool FillRAMWindow(utile::tRAMVirtualMatrixOfDouble& Matrix, Cardinal RAMBytes) {
  // A window that no iteration reads would only cost its memory and its fill.
  if (!Matrix.IterationsReadWindow()) {
    Matrix.ClearRAM();
    return true;
  }
  const Cardinal rows = Matrix.RowCount();
  const Cardinal k =
      static_cast<Cardinal>(std::min<utile::Int64>(utile::Trunc(std::sqrt(RAMBytes / 8.0L)), rows));
  if (rows == 0) return Matrix.FillRAM(1, 0, 1, 0);
  return Matrix.FillRAM(rows - k, rows - 1, rows - k, rows - 1);
}

void WithRAMWindow(utile::tRAMVirtualMatrixOfDouble& Matrix, Cardinal RAMBytes,
                   const std::function<void()>& Computation) {
  if (!FillRAMWindow(Matrix, RAMBytes))
    throw EBigMatrixStopped("The computation was aborted while its cache window was being filled.");
  try {
    Computation();
  } catch (...) {
    Matrix.ClearRAM();
    throw;
  }
  Matrix.ClearRAM();
}

// ================================================================ eigen passes and errors

void MarkNoPassYet() {
  utile::EigenIteration = -1;
  utile::EigenError = 1000.0;
  utile::EigenEstimate = 1.0;
}

Double EigensystemError() {
  return 2 * std::sqrt(std::max(utile::EigenError, 0.0));
}

Double ProductError(Double e1, Double v1, Double e2, Double v2) {
  return e1 * v1 + e2 * v2 + e1 * e2;
}

}  // namespace models

// ================================================================ the workbench's computations

namespace models {

tMatrixOfDouble BigMatrixDispersal(const tMatrixOfDouble& Distance, const utile::tMatrixOfBoolean& Links,
                                   const tBigMatrixDispersal& With) {
  const size_t n = Distance.size();
  utile::Assert(Links.size() == n, "Distance and link matrices of different sizes");
  tMatrixOfDouble d(n, tVectorOfDouble(n, 0.0));
  // Symmetric: the lower triangle is computed and copied above the diagonal.
  for (size_t i = 0; i < n; ++i)
    for (size_t j = 0; j < i; ++j) {
      Double cell = std::exp(-With.Alpha * Distance.at(i).at(j));
      const bool linked = Links.at(i).at(j);
      if (With.Algorithm == bmaExact)
        cell *= linked ? 1.0 : 0.0;
      else if (!linked)
        cell = 1e-6;
      d[i][j] = d[j][i] = cell;
    }
  utile::MatColSumToOne(d);
  Double ph = With.Philopatry;
  if (With.RelativeToPanmixis && n > 0)
    ph = ph * (1 - 1.0 / static_cast<Double>(n)) + 1.0 / static_cast<Double>(n);
  for (size_t i = 0; i < n; ++i)
    for (size_t j = 0; j < n; ++j) {
      d[i][j] = i == j ? ph : d[i][j] * (1 - ph);
      if (d[i][j] <= With.Threshold) d[i][j] = 0;
    }
  return d;
}

bool ApplicationConditionCheck(const tBigMatrixModel& Model) {
  const Integer n = Model.DemeCount();
  for (Integer d = 0; d < n; ++d) {
    if (!(Model.GetN(d, 1) >= 20)) return false;
    for (Integer j = 0; j < n; ++j)
      if (!(Model.GetM(d, j) >= 5e-05)) return false;
  }
  return true;
}

namespace {

void StageStarts(const tBigMatrixProgress& Progress, tBigMatrixStage Stage) {
  MarkNoPassYet();
  if (Progress.StageStarts) Progress.StageStarts(Stage);
}

void IterationStarts(const tBigMatrixProgress& Progress) {
  if (Progress.IterationStarts) Progress.IterationStarts();
}

void StageEnds(const tBigMatrixProgress& Progress, tBigMatrixStage Stage, const tBigMatrixResults& Results) {
  if (Progress.StageEnds) Progress.StageEnds(Stage, Results);
  if (Progress.Stopped && Progress.Stopped()) throw EBigMatrixStopped("The computation was aborted.");
}

// The passes of the iteration just ended (a 1 x 1 matrix is solved without any).
Integer PassesDone() {
  return std::max<Integer>(utile::EigenIteration, 0);
}

// DominantEigenvalue with its error, twice the last change (0 for a 1 x 1
// matrix, which needs no iteration and leaves the state untouched).
void EigenvalueWithError(utile::tBaseVirtualMatrixOfDouble& Matrix, Double& Value, Double& Error,
                         Integer MaxIter, Double Tolerance, Integer& Passes) {
  const bool single = Matrix.RowCount() == 1;
  utile::DominantEigenvalue(Matrix, Value, MaxIter, Tolerance);
  Error = single ? 0.0 : 2 * utile::EigenError;
  Passes += single ? 0 : PassesDone();
}

void RaiseForNoPersistence(Double Lp0) {
  if (Lp0 == 0)
    throw utile::EZeroDivide(
        "Lambda Po is 0 (was the computation aborted during its first pass?): Lambda G = Lambda T / Lambda "
        "Po "
        "cannot be computed.");
}

void LgFromLt(tBigMatrixResults& r) {
  RaiseForNoPersistence(r.Lp0);
  r.Lg = r.Lt / r.Lp0;
  r.ErrLg = ProductError(r.ErrLt, r.Lt, r.ErrLp0, r.Lp0);
}

// The cache window of the matrix around its iteration, emptied on every path.
template <class tIteration>
void WithWindow(utile::tRAMVirtualMatrixOfDouble& Matrix, Double RAMPercent,
                const tBigMatrixProgress& Progress, tIteration iteration) {
  WithRAMWindow(Matrix, RAMBudget(RAMPercent), [&] {
    IterationStarts(Progress);
    iteration();
  });
}

// Left, then right eigensystem of the matrix, normalised; the passes counted.
void Eigensystems(tBigVirtualMatrix& Matrix, Double& Value, Integer MaxIter, Double Tolerance,
                  Integer& Passes) {
  tVectorOfDouble left(Matrix.RowCount()), right(Matrix.RowCount());
  utile::DominantEigensystem(Matrix, left, Value, true, MaxIter, Tolerance);
  Passes += PassesDone();
  utile::DominantEigensystem(Matrix, right, Value, false, MaxIter, Tolerance);
  Passes += PassesDone();
  Matrix.NormaliseEigenvectors();
}

}  // namespace

void ComputeExact(tBigSPOMModel& Model, const tBigMatrixSettings& Settings,
                  const tBigMatrixProgress& Progress, tBigMatrixResults& Results) {
  tBigMatrixResults r;
  const Integer I = Settings.Iterations, p = Settings.Precision;
  const Double coefficientPrecision = std::pow(10.0, -Settings.CoefficientPrecision);

  Model.SetCoefficientPrecision(coefficientPrecision);
  StageStarts(Progress, tBigMatrixStage::bsP0);
  IterationStarts(Progress);
  const Double p0Tolerance = std::pow(10.0, -p - 3.0);
  if (Settings.PropOccupancy) {
    tVectorOfDouble right(Model.P0Mat().RowCount());
    utile::DominantEigensystem(Model.P0Mat(), right, r.Lp0, false, 2 * I, p0Tolerance);
    r.ErrLp0 = EigensystemError();
    r.Passes += PassesDone();
  } else {
    EigenvalueWithError(Model.P0Mat(), r.Lp0, r.ErrLp0, 2 * I, p0Tolerance, r.Passes);
  }
  r.Lp0 = std::min(r.Lp0, 1.0);
  Results = r;
  StageEnds(Progress, tBigMatrixStage::bsP0, r);

  Model.SetCoefficientPrecision(coefficientPrecision);
  StageStarts(Progress, tBigMatrixStage::bsT);
  WithWindow(Model.TMat(), Settings.RAMPercent, Progress, [&] {
    EigenvalueWithError(Model.TMat(), r.Lt, r.ErrLt, I, std::pow(10.0, -p - 1.0), r.Passes);
  });
  r.Lt = std::min(r.Lt, 1.0);
  Results = r;
  StageEnds(Progress, tBigMatrixStage::bsT, r);

  LgFromLt(r);
  if (Settings.PropOccupancy) r.Occupancy = Model.PatchProportionalOccupancy();
  Results = r;
}

void ComputeKesp3(tBigSPOMModel& Model, const tBigMatrixSettings& Settings,
                  const tBigMatrixProgress& Progress, tBigMatrixResults& Results) {
  tBigMatrixResults r;
  const Integer I = Settings.Iterations;
  const Double coefficientPrecision = std::pow(10.0, -Settings.CoefficientPrecision);
  const Double tolerance = std::pow(10.0, -Settings.Precision - 3.0);

  Model.SetCoefficientPrecision(coefficientPrecision);
  StageStarts(Progress, tBigMatrixStage::bsP0);
  WithWindow(Model.P0Mat(), Settings.RAMPercent, Progress,
             [&] { Eigensystems(Model.P0Mat(), r.Lp0, 2 * I, tolerance, r.Passes); });
  r.Lp0 = std::min(r.Lp0, 1.0);
  r.ErrLp0 = EigensystemError();
  Results = r;
  StageEnds(Progress, tBigMatrixStage::bsP0, r);

  Double geneticValue = 0;
  StageStarts(Progress, tBigMatrixStage::bsG);
  Model.GMat().State = (Cardinal{1} << Model.DemeCount()) - 1;
  Model.SetCoefficientPrecision(coefficientPrecision);
  WithWindow(Model.GMat(), Settings.RAMPercent, Progress,
             [&] { Eigensystems(Model.GMat(), geneticValue, I, tolerance, r.Passes); });
  const Double geneticError = EigensystemError();
  Results = r;
  StageEnds(Progress, tBigMatrixStage::bsG, r);

  r.Lt = std::min(Model.TEigenvalueKesp3(), 1.0);
  r.ErrLt = ProductError(geneticError, geneticValue, r.ErrLp0, r.Lp0);
  Results = r;
  StageEnds(Progress, tBigMatrixStage::bsT, r);

  LgFromLt(r);
  r.Occupancy = Settings.PropOccupancy ? Model.PatchProportionalOccupancy() : tVectorOfDouble{};
  Results = r;
}

}  // namespace models
