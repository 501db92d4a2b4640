#include "models/IBSimulation.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "Utile/MatrixOps.h"
#include "Utile/RunTime.h"
#include "Utile/StringOps.h"
#include "Utile/VectorOps.h"

namespace models {

void ComputeDispersalKernel(Double meanDistance, const utile::tMatrixOfDouble& distances,
                            const utile::tMatrixOfBoolean& links, Integer n,
                            utile::tMatrixOfExtended& expaDij, utile::tMatrixOfDouble& connectivityMat) {
  if (n <= 0) return;
  utile::Assert(distances.size() >= size_t(n) && links.size() >= size_t(n),
                "The landscape matrices do not cover every patch.");
  // A distance that is not above 0 stands for an infinite one: a flat kernel.
  const Extended alpha = meanDistance > 0 ? 1.0L / meanDistance : 0.0L;
  expaDij.assign(n, utile::tVectorOfExtended(n));
  connectivityMat.assign(n, utile::tVectorOfDouble(n));
  for (Integer i = 0; i < n; ++i)
    for (Integer j = 0; j <= i; ++j) {
      const Extended value = alpha == 0 ? 1.0L : std::exp(-alpha * static_cast<Extended>(distances[i][j]));
      expaDij[i][j] = value;
      expaDij[j][i] = value;
    }
  for (Integer i = 0; i < n; ++i)
    for (Integer j = 0; j < n; ++j)
      connectivityMat[i][j] = i == j || !links[i][j] ? 0.0 : static_cast<Double>(expaDij[i][j]);
  utile::MatColSumToOne(connectivityMat);
}

utile::tVectorOfInteger PatchCapacities(const tArrayOfCircles& patches, Double territory,
                                        const std::string& territoryText) {
  if (!(territory > 0))
    throw utile::EInvalidArgument(
        utile::Format("The territory area must be greater than 0 (\"%s\"): no patch can be given a capacity.",
                      territoryText));
  utile::tVectorOfInteger capacities;
  capacities.reserve(patches.size());
  for (const tCircle& patch : patches) {
    // The model holds the area in single precision: the capacity comes from that.
    const long double capacity = static_cast<long double>(static_cast<Single>(patch.A)) / territory;
    if (!(std::fabs(capacity) <= std::numeric_limits<Integer>::max()))
      throw utile::EInvalidArgument(
          utile::Format("The territory area \"%s\" gives patch %d a capacity beyond %d individuals.",
                        territoryText, patch.popID, std::numeric_limits<Integer>::max()));
    capacities.push_back(static_cast<Integer>(utile::Round(capacity)));
  }
  return capacities;
}

tExpectedImmigration ExpectedImmigration(const utile::tMatrixOfDouble& connectivity,
                                         const utile::tVectorOfInteger& capacities,
                                         const utile::tMatrixOfBoolean& links, Double p) {
  tExpectedImmigration result;
  const Integer n = static_cast<Integer>(connectivity.size());
  const auto capacity = [&](Integer i) { return size_t(i) < capacities.size() ? capacities[i] : 0; };
  result.Matrix.assign(n, utile::tVectorOfDouble(n, 0.0));
  result.Probabilities.assign(n, 0.0);
  for (Integer i = 0; i < n; ++i) {
    for (Integer j = 0; j < n; ++j)
      if (i == j)
        result.Matrix[i][i] = (1 - p) * capacity(i);
      else
        result.Matrix[i][j] = EntryOrZero(&connectivity, i, j) * capacity(j) * EntryOrZero(&links, i, j);
    Double sum = 0;
    for (Double value : result.Matrix[i]) sum += value;
    result.Probabilities[i] = sum != 0 ? (sum - result.Matrix[i][i]) / sum : 0;
  }
  if (n > 0) {
    Double total = 0;
    for (Double v : result.Probabilities) total += v;
    result.Mean = total / n;
  }
  return result;
}

utile::tVectorOfString ExpectedImmigrationLines(const tExpectedImmigration& immigration) {
  utile::tVectorOfString lines = {"Expected immigration matrix [individuals]:"};
  utile::AppendTextLines(lines, utile::MatToStr(immigration.Matrix, "%.3f"));
  lines.push_back("");
  lines.push_back("Expected immigration probabilities:");
  utile::AppendTextLines(lines, utile::MatToStr(utile::tMatrixOfDouble{immigration.Probabilities}, "%.3f"));
  return lines;
}

Double PatchOccupancy(const std::vector<Double>& adults, Double threshold) {
  if (adults.empty()) return 0;
  // The first two points are the start of the run, before the population settles.
  Integer occupied = 0;
  for (size_t i = 2; i < adults.size(); ++i)
    if (adults[i] > threshold) ++occupied;
  return static_cast<Double>(occupied) / static_cast<Double>(adults.size());
}

utile::tVectorOfString ModelDescriptionLines(const std::string& species, const std::string& dateTime,
                                             const tMetaPop& metapop, const utile::tMatrixOfDouble& distances,
                                             const utile::tMatrixOfDouble& permeabilities,
                                             const utile::tMatrixOfBoolean& links) {
  utile::tVectorOfString lines = {"Species:\t" + species,    "Date:\t" + dateTime, "", "PATCHES:", "",
                                  "ID\tX\tY\tArea\tCapacity"};
  for (Integer i = 0; i < metapop.PatchCount(); ++i) {
    const tPatch* patch = metapop.GetPatches(i);
    lines.push_back(utile::Format("%d\t%.g\t%.g\t%.f", patch->ID(), patch->x, patch->y, patch->Area) + "\t" +
                    utile::IntToStr(patch->Capacity));
  }
  lines.insert(lines.end(), {"", "MATRICES:", "", "Distance matrix:"});
  const auto rows = [&lines](const auto& matrix, const char* format) {
    for (const auto& row : matrix) {
      std::string line;
      for (const auto cell : row) line += utile::Format(format, cell);
      lines.push_back(line);
    }
  };
  rows(distances, "%.g\t");
  lines.push_back("Permeability matrix:");
  rows(permeabilities, "%.g\t");
  lines.push_back("Connectance matrix:");
  utile::tMatrixOfInteger linked;
  for (const utile::tVectorOfBoolean& row : links) linked.emplace_back(row.begin(), row.end());
  rows(linked, "%.d\t");
  return lines;
}

utile::tVectorOfString IndividualMovesLines(tMetaPop& metapop, Cardinal time, bool withEvents) {
  utile::tVectorOfString lines = {"", utile::Format("Time: %u", time)};
  for (Integer p = 0; p < metapop.PatchCount(); ++p) {
    tPatch* patch = metapop.GetPatches(p);
    std::string line = utile::Format("Patch %u:", patch->ID());
    for (Integer i = 0; i < patch->IndCount(); ++i) {
      const tIndividual* ind = patch->GetInd(i);
      line +=
          withEvents ? utile::Format("\t%u(%d)", ind->ID(), ind->Event()) : utile::Format("\t%u", ind->ID());
    }
    lines.push_back(line);
  }
  return lines;
}

Double RaggedMatrixTest(Integer repetitions, Integer rows) {
  Double sum = 0;
  for (Integer repetition = 0; repetition < repetitions; ++repetition) {
    utile::tMatrixOfDouble m(rows);
    for (utile::tVectorOfDouble& row : m) {
      row.resize(static_cast<size_t>(utile::Trunc(10 * utile::Random())));
      for (Double& value : row) value = 3 * utile::Random();
    }
    sum += utile::MatMaxValue(m);
  }
  return sum;
}

}  // namespace models
