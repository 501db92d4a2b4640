#include "models/GraphModel.h"

#include <cmath>

#include "Utile/GraphTheoryOps.h"
#include "Utile/MatrixOps.h"
#include "Utile/RunTime.h"
#include "Utile/VectorOps.h"

namespace models {

using utile::tMatrixOfDouble;
using utile::tVectorOfCardinal;
using utile::tVectorOfDouble;

namespace {
void AssertCovers(const tMatrixOfDouble& m, size_t n, const char* text) {
  bool covers = m.size() >= n;
  for (size_t i = 0; covers && i < n; ++i) covers = m[i].size() >= n;
  utile::Assert(covers, text);
}

Double Power(Double base, Double exponent) {
  return utile::CheckFinite(std::pow(base, exponent));
}
}  // namespace

void ComputeDispersalFlowMat(tMatrixOfDouble D, Double Zim, Double Zem, Double SumZim, Double SumZem,
                             tMatrixOfDouble& Flow) {
  const size_t n = Patches.size();
  AssertCovers(D, n, "The dispersal matrix does not cover the patches");
  utile::MatColSumToOne(D);
  tVectorOfDouble immigration(n), emigration(n);
  for (size_t i = 0; i < n; ++i) {
    immigration[i] = utile::FloatDiv(Power(Patches[i].A, Zim), SumZim);
    emigration[i] = utile::FloatDiv(Power(Patches[i].A, Zem), SumZem);
  }
  Flow.assign(n, tVectorOfDouble(n, 0.0));
  for (size_t i = 0; i < n; ++i)
    for (size_t j = 0; j <= i; ++j) {
      const Double flow =
          (immigration[i] * emigration[j] * D[i][j] + immigration[j] * emigration[i] * D[j][i]) / 2;
      Flow[i][j] = flow;
      Flow[j][i] = flow;
    }
}

tMatrixOfDouble SubgraphToHanskiMatrix(const tVectorOfCardinal& Group, const tMatrixOfDouble& K,
                                       Double Territory, Double Zim, Double Zem, Double Zex) {
  const size_t m = Group.size();
  tVectorOfDouble immigration(m), emigration(m);
  for (size_t r = 0; r < m; ++r) {
    utile::Assert(Group[r] < Patches.size() && Group[r] < K.size(), "A group member is not a patch");
    immigration[r] = ScaledAreaPower(Patches[Group[r]].A, Territory, Zim + Zex);
    emigration[r] = ScaledAreaPower(Patches[Group[r]].A, Territory, Zem);
  }
  tMatrixOfDouble result(m, tVectorOfDouble(m, 0.0));
  for (size_t r = 0; r < m; ++r)
    for (size_t s = 0; s < m; ++s)
      if (r != s) result[r][s] = immigration[r] * emigration[s] * K[Group[r]][Group[s]];
  return result;
}

utile::tTableOfResults VaryFluxThreshold(const tMatrixOfDouble& Links, const tMatrixOfDouble& K,
                                         const tVectorOfDouble& Thresholds, Double Delta, Double Territory,
                                         Double Zim, Double Zem, Double Zex, Double SizeThreshold,
                                         tGraphStats Stats, Integer* Unsettled) {
  const size_t n = Patches.size();
  const size_t columns = Thresholds.size();
  utile::tTableOfResults table;
  table.Results.assign(4, tVectorOfDouble(columns, 0.0));
  table.Headers.assign(4, std::string());
  table.Headers[0] = "Threshold";
  {
    size_t row = 1;
    for (const tGraphStat s : {gsGroupCount, gsOverallSize, gsExpectedSize})
      if (Stats.Contains(s)) table.Headers[row++] = GraphStatStr[s];
  }
  if (Unsettled != nullptr) *Unsettled = 0;
  AssertCovers(Links, n, "The link matrix does not cover the patches");
  if (Stats.Contains(gsExpectedSize)) AssertCovers(K, n, "The weight matrix does not cover the patches");

  // Only the patches' own links make groups: a larger matrix would name
  // vertices that are no patches.
  tMatrixOfDouble links(n);
  for (size_t i = 0; i < n; ++i)
    links[i].assign(Links[i].begin(), Links[i].begin() + static_cast<ptrdiff_t>(n));
  Double totalArea = 0;
  for (const auto& p : Patches) totalArea += p.A;
  // A landscape without area has no share of it to occupy.
  const auto share = [totalArea](Double area) { return totalArea != 0 ? area / totalArea : 0.0; };

  for (size_t i = 0; i < columns; ++i) {
    const Double t = Thresholds[i];
    table.Results[0][i] = t;
    utile::tTableOfCardinal groups = utile::SubGraphs(utile::AdjacencyMatrix(links, t));
    std::erase_if(groups, [](const tVectorOfCardinal& g) { return g.empty(); });
    const auto areaOf = [](const tVectorOfCardinal& group) {
      Double area = 0;
      for (const Cardinal p : group) area += Patches[p].A;
      return area;
    };
    size_t row = 1;
    if (Stats.Contains(gsGroupCount)) table.Results[row++][i] = static_cast<Double>(groups.size());
    if (Stats.Contains(gsOverallSize)) {
      Double total = 0;
      for (const auto& group : groups) {
        const Double area = areaOf(group);
        if (area >= SizeThreshold) total += area;
      }
      table.Results[row++][i] = share(total);
    }
    if (Stats.Contains(gsExpectedSize)) {
      Double total = 0;
      for (const auto& group : groups) {
        if (group.size() < 2) continue;
        const tMatrixOfDouble m = SubgraphToHanskiMatrix(group, K, Territory, Zim, Zem, Zex);
        tVectorOfDouble vector;
        Double lambda = 0;
        if (!PerronEigensystem(m, vector, lambda) && Unsettled != nullptr) ++*Unsettled;
        if (lambda != 0) total += (1 - Delta / lambda) * areaOf(group);
      }
      table.Results[row++][i] = share(total);
    }
  }
  return table;
}

// ------------------------------------------------ the link weightings of the workbench

Double CutBelowThreshold(Double x, Double Threshold) {
  return x < Threshold ? 0.0 : x;
}

Double DispersalDecay(Double Range) {
  // A range that cannot be a distance keeps the kernel of a short disperser.
  if (!(Range > 0)) return 0.1;
  return 1 / Range;
}

Double DispersalKernelWeight(Double Link, Double Alpha, Double Distance) {
  return Link * std::exp(-Alpha * Distance);
}

tMatrixOfDouble SymmetricWeightMatrix(Integer n, const std::function<Double(Integer, Integer)>& Weight) {
  const size_t size = n > 0 ? static_cast<size_t>(n) : 0;
  tMatrixOfDouble m(size);
  for (tVectorOfDouble& row : m) row.assign(size, 0.0);
  for (Integer i = 0; i < n; ++i)
    for (Integer j = 0; j <= i; ++j) {
      const Double w = Weight(i, j);
      m[i][j] = w;
      m[j][i] = w;
    }
  return m;
}

tMatrixOfDouble DispersalKernelMat(Double Alpha, Double Threshold) {
  const Integer n = PatchCount();
  const size_t size = static_cast<size_t>(n);
  utile::Assert(ConnectanceMat.size() >= size && DistanceMat.size() >= size,
                "The link and distance matrices do not cover the patches");
  return SymmetricWeightMatrix(n, [Alpha, Threshold](Integer i, Integer j) {
    const Double link = ConnectanceMat.at(i).at(j) ? 1.0 : 0.0;
    return CutBelowThreshold(DispersalKernelWeight(link, Alpha, DistanceMat.at(i).at(j)), Threshold);
  });
}

void SumAreaPowers(Double Zim, Double Zem, Double& SumZim, Double& SumZem) {
  SumZim = 0;
  SumZem = 0;
  for (const tCircle& p : Patches) {
    SumZim += Power(p.A, Zim);
    SumZem += Power(p.A, Zem);
  }
}

utile::tTableOfResults FluxThresholdSweep(const tMatrixOfDouble& Links, const tMatrixOfDouble& K,
                                          Double Extinction, Double Colonisation, Double Zim, Double Zem,
                                          Double Zex, Double SizeThreshold, tGraphStats Stats) {
  // e / c has no meaning without colonisation: the groups' expected sizes
  // would be infinite or of the wrong sign.
  if (!(Colonisation > 0)) throw utile::EInvalidArgument("Colonisation rate must be >0");
  const Double delta = Extinction / Colonisation;
  const tVectorOfDouble thresholds = utile::SequentialVector(0.0, 1.0, FluxThresholdCount);
  return VaryFluxThreshold(Links, K, thresholds, delta, 1.0, Zim, Zem, Zex, SizeThreshold, Stats);
}

}  // namespace models
