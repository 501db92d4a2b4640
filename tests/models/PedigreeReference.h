// Kinship and the per-patch means of a pedigree straight from their
// definitions, for tests of what is computed from a pedigree.
#pragma once

#include <algorithm>
#include <vector>

#include "models/PedigreeOps.h"

namespace pedigreetest {

using models::Cardinal;
using models::tMatrixOfDouble;
using models::tPedigree;
using models::tPedigreeAgeClass;
using models::tPedigreeInfo;
using models::tVectorOfCardinal;
using models::tVectorOfDouble;

// The relationship matrix by the tabular method, in double precision.
inline std::vector<std::vector<double>> TabularRelationships(const tPedigree& pedigree, double gamma) {
  const Cardinal n = pedigree.Count();
  std::vector<std::vector<double>> a(n + 1, std::vector<double>(n + 1, 0.0));
  for (Cardinal j = 1; j <= n; ++j) {
    const tPedigreeInfo r = pedigree.GetIndividuals(j);
    const bool known = r.Mother != 0 && r.Father != 0;
    for (Cardinal i = 1; i < j; ++i) {
      a[i][j] = known ? 0.5 * gamma * (a[i][r.Mother] + a[i][r.Father]) : 0.0;
      a[j][i] = a[i][j];
    }
    a[j][j] = known ? 1 + 0.5 * gamma * a[r.Mother][r.Father] : 1.0;
  }
  return a;
}

struct tMeans {
  tVectorOfDouble F, Theta;
  tVectorOfCardinal Counts;
  tMatrixOfDouble Alpha;
};

// The per-patch means at a date straight from their definitions, with the
// coancestry of two individuals (or the inbreeding of one) from `coancestry`.
template <class tCoancestry>
tMeans MeansByDefinition(const tPedigree& pedigree, Cardinal date, tPedigreeAgeClass ageClass,
                         tCoancestry coancestry) {
  const size_t n = pedigree.PatchCount() + 1;
  tMeans means{tVectorOfDouble(n, 0), tVectorOfDouble(n, 0), tVectorOfCardinal(n, 0),
               tMatrixOfDouble(n, tVectorOfDouble(n, 0))};
  std::vector<double> thetaCount(n, 0);
  std::vector<std::vector<double>> alphaCount(n, std::vector<double>(n, 0));
  double between = 0, betweenCount = 0;
  Cardinal first, last;
  pedigree.FirstAndLastID(date, first, last);
  for (Cardinal i = first; i <= last; ++i) {
    if (!pedigree.BelongToAgeClass(i, date, ageClass)) continue;
    const Cardinal a = pedigree.Positions(i, date);
    means.F[a] += coancestry(i, i);
    ++means.Counts[a];
    means.F[0] += coancestry(i, i);
    for (Cardinal j = first; j <= i; ++j) {
      if (!pedigree.BelongToAgeClass(j, date, ageClass)) continue;
      const Cardinal b = pedigree.Positions(j, date);
      const double c = coancestry(j, i);
      if (j < i && a == b) {
        means.Theta[a] += c;
        ++thetaCount[a];
        means.Theta[0] += c;
      }
      means.Alpha[std::min(a, b)][std::max(a, b)] += c;
      ++alphaCount[std::min(a, b)][std::max(a, b)];
      if (a != b) {
        between += c;
        ++betweenCount;
      }
    }
  }
  for (size_t p = 1; p < n; ++p) {
    means.Counts[0] += means.Counts[p];
    thetaCount[0] += thetaCount[p];
  }
  for (size_t p = 0; p < n; ++p) {
    means.F[p] = means.Counts[p] ? means.F[p] / means.Counts[p] : -1;
    means.Theta[p] = thetaCount[p] ? means.Theta[p] / thetaCount[p] : -1;
  }
  for (size_t i = 1; i < n; ++i)
    for (size_t j = 1; j <= i; ++j) {
      means.Alpha[j][i] = alphaCount[j][i] ? means.Alpha[j][i] / alphaCount[j][i] : -1;
      means.Alpha[i][j] = means.Alpha[j][i];
    }
  means.Alpha[0][0] = betweenCount ? between / betweenCount : -1;
  return means;
}

// Coancestry as the analyses take it: R / 2 between two individuals, R - 1 (the
// inbreeding) of an individual with itself.
inline auto TabularCoancestry(const std::vector<std::vector<double>>& a) {
  return [&a](Cardinal i, Cardinal j) { return i == j ? a[i][i] - 1 : a[i][j] / 2; };
}

// A small run worked by hand, in patches 1 and 2, every individual living one date
// at most after its birth (maximum age 1, adult at age 1), without mutation:
//   date 0: founders 1, 2 (patch 1), 3, 4 (patch 2); 4 moves to patch 1.
//   date 1: 5, 6 of 1 x 2 in patch 1 (6 moves to patch 2), 7 of 3 x 4 in patch 2, dead at birth.
//   date 2: 8 of 5 x 6 in patch 1 (F 0.25), 9 of 5 x 6 in patch 2, dead at birth.
//   date 3: 10 of 8 x 5 in patch 1 (F 0.375).
// At date 3 patch 2 holds nobody.
inline void FillSmallRun(tPedigree& pedigree) {
  struct tBirth {
    Cardinal Date, Mother, Father, Patch, Census;  // census 0: none
  };
  static constexpr tBirth Births[] = {{0, 0, 0, 1, 1}, {0, 0, 0, 1, 1}, {0, 0, 0, 2, 2}, {0, 0, 0, 2, 1},
                                      {1, 1, 2, 1, 1}, {1, 1, 2, 1, 2}, {1, 3, 4, 2, 0}, {2, 5, 6, 1, 1},
                                      {2, 5, 6, 2, 0}, {3, 8, 5, 1, 1}};
  pedigree.Clear();
  Cardinal id = 0;
  for (const tBirth& b : Births) pedigree.Add(b.Date, ++id, b.Mother, b.Father, b.Patch, models::psNA);
  id = 0;
  for (const tBirth& b : Births)
    if (++id, b.Census) pedigree.AddPosition(id, b.Census);
}

}  // namespace pedigreetest
