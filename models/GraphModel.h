// The landscape as a weighted graph of patches: the symmetric dispersal flow
// between patches, and a sweep of a flux threshold over a link matrix that counts
// and measures the connected groups of patches at each threshold and estimates
// each group's expected occupied area from its own metapopulation capacity.
// Reads the patch areas of the landscape; keeps no state of its own.
#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>

#include "Utile/CommonDecl.h"
#include "models/MetapopCommon.h"

namespace models {

// The statistics of a sweep, in the order their rows are packed.
enum tGraphStat : uint8_t { gsGroupCount, gsOverallSize, gsExpectedSize };
constexpr const char* GraphStatStr[] = {"Group count", "Overall size", "Expected size"};

// A set of statistics.
class tGraphStats {
 public:
  constexpr tGraphStats() = default;
  constexpr tGraphStats(std::initializer_list<tGraphStat> stats) {
    for (const tGraphStat s : stats) Include(s);
  }
  constexpr void Include(tGraphStat s) { fBits = static_cast<uint8_t>(fBits | (1u << s)); }
  constexpr void Exclude(tGraphStat s) { fBits = static_cast<uint8_t>(fBits & ~(1u << s)); }
  constexpr bool Contains(tGraphStat s) const { return (fBits >> s) & 1u; }
  constexpr bool operator==(const tGraphStats&) const = default;

 private:
  uint8_t fBits = 0;
};

// Flow (n x n for the n patches of the landscape) := the symmetric flow between
// every pair of patches, from the dispersal matrix D (at least n x n) with each
// column scaled to sum one and the patch areas raised to Zim and Zem over their
// sums SumZim and SumZem.
void ComputeDispersalFlowMat(utile::tMatrixOfDouble D, Double Zim, Double Zem, Double SumZim, Double SumZem,
                             utile::tMatrixOfDouble& Flow);

// The colonisation matrix of the patches of one group, in the group's order:
// [r][s] = (A_r / Territory)^(Zim + Zex) (A_s / Territory)^Zem K[g_r][g_s], a zero diagonal.
utile::tMatrixOfDouble SubgraphToHanskiMatrix(const utile::tVectorOfCardinal& Group,
                                              const utile::tMatrixOfDouble& K, Double Territory, Double Zim,
                                              Double Zem, Double Zex);

// For each threshold: the groups of patches connected by links of Links at or
// above it, and the selected statistics of them, packed in rows 1.. of the
// table under their captions (row 0 holds the thresholds). Delta is the ratio of
// extinction to colonisation rate. Unsettled, when given, receives the number of
// groups whose eigenvalue iteration did not settle.
utile::tTableOfResults VaryFluxThreshold(const utile::tMatrixOfDouble& Links, const utile::tMatrixOfDouble& K,
                                         const utile::tVectorOfDouble& Thresholds, Double Delta,
                                         Double Territory, Double Zim, Double Zem, Double Zex,
                                         Double SizeThreshold, tGraphStats Stats,
                                         Integer* Unsettled = nullptr);

// ------------------------------------------------ the link weightings of the workbench

// x, or 0 when x is below Threshold (a weight equal to the threshold stays).
Double CutBelowThreshold(Double x, Double Threshold);
// The dispersal decay of a mean dispersal distance: 1 / Range, or 0.1 when the
// range is 0, negative or not a number.
Double DispersalDecay(Double Range);
// The negative-exponential kernel between two patches: Link (0 or 1) x exp(-Alpha x Distance).
Double DispersalKernelWeight(Double Link, Double Alpha, Double Distance);
// The n x n matrix whose entries [i][j] with j <= i (the diagonal included) are
// Weight(i, j), mirrored above the diagonal.
utile::tMatrixOfDouble SymmetricWeightMatrix(Integer n,
                                             const std::function<Double(Integer, Integer)>& Weight);
// The kernel of every pair of patches from the link and distance matrices, cut
// below Threshold, as a symmetric matrix.
utile::tMatrixOfDouble DispersalKernelMat(Double Alpha, Double Threshold);
// The sums over all patches of A^Zim and of A^Zem.
void SumAreaPowers(Double Zim, Double Zem, Double& SumZim, Double& SumZem);

// The workbench's sweep: 101 thresholds from 0 to 1 over Links, with
// Delta = Extinction / Colonisation and a territory of 1. EInvalidArgument
// "Colonisation rate must be >0" when the colonisation rate is not above 0,
// before anything is computed.
constexpr Integer FluxThresholdCount = 101;
utile::tTableOfResults FluxThresholdSweep(const utile::tMatrixOfDouble& Links,
                                          const utile::tMatrixOfDouble& K, Double Extinction,
                                          Double Colonisation, Double Zim, Double Zem, Double Zex,
                                          Double SizeThreshold, tGraphStats Stats);

}  // namespace models
