// The products of the occupancy model's passes, by blocks of source states.
//
// The probability to go from a source state to a destination state is a product
// over the demes of one factor each (the chance that the deme is empty, or
// occupied, after the step), cut to 0 where the running product falls below the
// coefficient precision. With every factor between 0 and 1 the running product
// only falls, so the cut falls on the final product exactly when it falls on
// some running product; and the final product is the product of one over the
// low demes (the low bits of the destination) and one over the high demes. A
// block keeps these two short vectors for each of up to 32 sources; a product
// sums the cells of a whole block in registers, one range of destinations at a
// time, so that the result is read and written once per block instead of once
// per source, and skips the ranges that no source of the block reaches above the
// precision (where every cell would be cut).
//
// The pass one source state at a time takes its columns from here too, so that
// every product of the model reaches its vector unit through one choice.
//
// The sums run in a fixed order whatever vector unit computes them, and no unit
// fuses a multiplication with an addition: the same bits come out on every
// processor.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "Utile/CommonDecl.h"

namespace models {

using utile::Cardinal;
using utile::Double;
using utile::Integer;

// The vector units the products are written for, narrowest first. The portable
// unit is every processor's (SSE2 on x86, the compiler's generic vectors
// elsewhere); the wider ones are x86's.
enum class tVectorUnit { vuPortable, vuAVX2, vuAVX512 };

// The widest unit of the processor the program runs on.
tVectorUnit WidestVectorUnit();
// The unit every product below uses: the widest, unless a test or a benchmark
// chose a narrower one. A unit wider than the processor's is refused
// (ERangeError), the unit in use staying as it was.
tVectorUnit VectorUnitInUse();
void UseVectorUnit(tVectorUnit Unit);

// The destination probabilities of one source over the demes 0..Levels-1,
// doubled deme by deme: entry i (the bits of the demes so far) times the factor
// of the next deme k, Empty[k] into i and Stay[k] into i + 2^k, each cut to 0
// below Precision. P receives 2^Levels entries.
void DoubleOverDemes(Double* P, Integer Levels, const Double* Empty, const Double* Stay, Double Precision);

// One source state's column of P0 from the destination probabilities Low over
// every deme but the last (Half = 2^(demes - 1) entries, DoubleOverDemes) and the
// last deme's factors, each cell cut below Precision as DoubleOverDemes cuts.
// AddColumn: Y[r - 1] += cell(r) X for every destination state r > 0.
void AddColumn(const Double* Low, size_t Half, Double LastEmpty, Double LastStay, Double Precision, Double X,
               Double* Y);
// DotColumn: the sum over the destination states r > 0 of cell(r) X[r - 1], in
// eight running sums added in a fixed tree: the last deme empty first, then
// occupied, entry i of each half into sum i mod 8.
Double DotColumn(const Double* Low, size_t Half, Double LastEmpty, Double LastStay, Double Precision,
                 const Double* X);

class tSourceBlock {
 public:
  static constexpr size_t MaxSources = 32;

  // Blocks of sources of Demes demes (Served), cells cut below Precision.
  tSourceBlock(Integer Demes, Double Precision);
  // From 3 demes (one vector of eight destinations over the low demes) to 16.
  static bool Served(Integer Demes);

  // Empty again, the next source to come first.
  void Clear();
  // The next source of the block, by the factors of its demes: Empty[k] and
  // Stay[k], each between 0 and 1. At most MaxSources.
  void Add(const Double* Empty, const Double* Stay);
  size_t Count() const { return fCount; }

  // Y[(s - 1) M + j] += the sum over the block's sources c, in their order, of
  // cell(s, c) Z[c M + j], for every destination state s > 0 and column j < M.
  void AddProducts(const Double* Z, size_t M, Double* Y, bool LetMessagesThrough);
  // Out[c] := the sum over the destination states s of cell(s, c) X[s], for
  // every source c of the block; X is indexed by state and X[0] must be 0.
  void SumProducts(const Double* X, Double* Out, bool LetMessagesThrough);

 private:
  // The high products of every source, all sources at once.
  void BuildHigh();
  // AddProducts, or SumProducts when Transposed, on the unit in use.
  void Products(const Double* In, size_t M, Double* Out, bool Transposed, bool LetMessagesThrough);

  Integer fLowDemes = 0, fHighDemes = 0;
  size_t fLowSize = 0, fHighSize = 0;  // 2^low demes, 2^high demes
  size_t fLowStride = 0;               // from one source's low products to the next
  Double fPrecision = 0;
  size_t fCount = 0;
  std::vector<Double> fLow;                   // [source][low destination]
  std::vector<Double> fLowMax;                // the largest low product of each source
  std::vector<Double> fLowMin;                // the smallest positive one
  std::vector<Double> fHighEmpty, fHighStay;  // [high deme][source]: the factors
  std::vector<Double> fHigh;                  // [high destination][source]
  bool fHighReady = false;
};

}  // namespace models
