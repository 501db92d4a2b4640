// What the individual-based workbench computes around the engine, without a
// window: the dispersal kernel and connectivity matrix of the landscape, the
// capacities that the territory area gives the patches, the expected
// immigration that a test dispersal probability gives, the occupancy of a
// patch over a run, the description of the model and the individual-moves
// text. The workbench reads its controls, calls these and shows the results.
#pragma once

#include <string>
#include <vector>

#include "Utile/CommonDecl.h"
#include "models/MetapopCommon.h"
#include "models/MetapopIBM.h"

namespace models {

using utile::Extended;

// ExpaDij[i][j] = ExpaDij[j][i] = exp(-d_ij / D), from the lower triangle of
// the n x n distances; a mean distance D that is not above 0 makes the kernel
// flat (every entry 1). ConnectivityMat: the kernel off the diagonal times the
// link indicator, each column then scaled to sum 1 (a column without a link
// stays 0). Nothing changes when n is 0.
void ComputeDispersalKernel(Double meanDistance, const utile::tMatrixOfDouble& distances,
                            const utile::tMatrixOfBoolean& links, Integer n,
                            utile::tMatrixOfExtended& expaDij, utile::tMatrixOfDouble& connectivityMat);

// Round(area / territory), halves to the even neighbour, for every patch. A
// territory that is not above 0 (or not a number), or one so small that a
// capacity leaves the integer range, raises EInvalidArgument naming the value
// as the user typed it.
utile::tVectorOfInteger PatchCapacities(const tArrayOfCircles& patches, Double territory,
                                        const std::string& territoryText);

// E[i][j] (i <> j) = connectivity[i][j] x capacity of j x link(i, j), E[i][i] =
// (1 - p) x capacity of i; a patch beyond the capacities counts 0. The
// probability of row i is the share of its sum that comes from elsewhere (0
// for a row that sums to 0); Mean is their mean (0 without patches).
struct tExpectedImmigration {
  utile::tMatrixOfDouble Matrix;
  utile::tVectorOfDouble Probabilities;
  Double Mean = 0;
};
tExpectedImmigration ExpectedImmigration(const utile::tMatrixOfDouble& connectivity,
                                         const utile::tVectorOfInteger& capacities,
                                         const utile::tMatrixOfBoolean& links, Double p);
// "Expected immigration matrix [individuals]:", the matrix, an empty line,
// "Expected immigration probabilities:" and the probabilities, cells "%.3f".
utile::tVectorOfString ExpectedImmigrationLines(const tExpectedImmigration& immigration);

// The share of the values, from the third on, that are above the threshold, out
// of all of them (0 for an empty series).
Double PatchOccupancy(const std::vector<Double>& adults, Double threshold);

// The lines of the model description: the species, the date, every patch of the
// model (ID, position, area and capacity) and the landscape's distance,
// permeability and link matrices.
utile::tVectorOfString ModelDescriptionLines(const std::string& species, const std::string& dateTime,
                                             const tMetaPop& metapop, const utile::tMatrixOfDouble& distances,
                                             const utile::tMatrixOfDouble& permeabilities,
                                             const utile::tMatrixOfBoolean& links);

// An empty line, "Time: " and the time, then per patch "Patch ID:" and for each
// individual a TAB and its ID, followed by "(" its current event ")" when
// withEvents is set.
utile::tVectorOfString IndividualMovesLines(tMetaPop& metapop, Cardinal time, bool withEvents);

// The entry [i][j] of a matrix that may be smaller than asked for, or missing:
// 0 beyond what it holds.
template <class tMatrix>
Double EntryOrZero(const tMatrix* m, Integer i, Integer j) {
  if (m == nullptr || i < 0 || j < 0 || size_t(i) >= m->size() || size_t(j) >= (*m)[i].size()) return 0;
  return static_cast<Double>((*m)[i][j]);
}

// The developers' memory test: Repetitions times a ragged matrix of Rows rows,
// row lengths Trunc(10 r) and values 3 r (draws of the colour generator), and
// the sum of the largest value of each.
Double RaggedMatrixTest(Integer repetitions, Integer rows);

}  // namespace models
