// The landscape matrices as they were computed before their fill was rebuilt:
// each row its own allocation set to zero first, every pair's value written to
// [i][j] and copied to [j][i] as the lower triangle is walked, the permeability
// rule called through a pointer for each pair. Kept in the benchmark binary, with
// matrices of its own, so that the matrices are measured beside it; only the
// rules that the benchmarks use (constant and exponential permeability, all and
// close links).
//
// Also the occupancy integrations (FindPequ, FindMetapopSizeMinusOnePatch) as
// they were before the Euler step took eight rows at a time and before the turns
// of a cycle were skipped: the pressure accumulated column by column into a
// vector, every block integrated. The rates are taken as valid.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "Utile/CommonDecl.h"
#include "Utile/RunTime.h"
#include "models/MetapopCommon.h"

namespace models::reference {

inline utile::tMatrixOfDouble DistanceMat;
inline utile::tMatrixOfDouble FrictionMap;
inline utile::tMatrixOfBoolean ConnectanceMat;

inline Double Distance(const tCircle& a, const tCircle& b) {
  const Double dx = a.x - b.x;
  const Double dy = a.y - b.y;
  return std::sqrt(dx * dx + dy * dy);
}

inline Double PermeabilityConstant(Integer, Integer, Double value) {
  return value;
}

inline Double PermeabilityExponential(Integer i, Integer j, Double alpha) {
  return std::exp(-alpha * DistanceMat[static_cast<size_t>(i)][static_cast<size_t>(j)]);
}

inline void ComputePermeabilityMatrix() {
  using tPermeability = Double (*)(Integer, Integer, Double);
  tPermeability permeability = nullptr;
  Double parameter = 0;
  switch (PermeabilityType) {
    case ptConstant:
      permeability = PermeabilityConstant;
      parameter = std::clamp(ConstantPermeability, 0.0, 1.0);
      break;
    case ptExponential:
      permeability = PermeabilityExponential;
      parameter = MeanPermeabilityDistance > 0 ? 1.0 / MeanPermeabilityDistance : 0.0;
      break;
    default:
      throw utile::EInvalidArgument("This Permeability type is not in the reference");
  }
  const Integer n = static_cast<Integer>(Patches.size());
  FrictionMap.assign(static_cast<size_t>(n), utile::tVectorOfDouble(static_cast<size_t>(n), 0.0));
  for (Integer i = 0; i < n; ++i)
    for (Integer j = 0; j <= i; ++j) {
      const Double value = permeability(i, j, parameter);
      FrictionMap[static_cast<size_t>(i)][static_cast<size_t>(j)] = value;
      FrictionMap[static_cast<size_t>(j)][static_cast<size_t>(i)] = value;
    }
}

inline void ComputeDistanceMatrix() {
  const size_t n = Patches.size();
  DistanceMat.assign(n, utile::tVectorOfDouble(n, 0.0));
  for (size_t i = 0; i < n; ++i)
    for (size_t j = 0; j <= i; ++j) {
      const Double d = Distance(Patches[i], Patches[j]);
      DistanceMat[i][j] = d;
      DistanceMat[j][i] = d;
    }
  ComputePermeabilityMatrix();
}

inline void ComputeConnectanceMatrix(Integer ConnectanceType, Double DistanceThreshold) {
  ComputeDistanceMatrix();
  const size_t n = Patches.size();
  ConnectanceMat.assign(n, utile::tVectorOfBoolean(n, false));
  switch (ConnectanceType) {
    case ctFullConnectance:
      for (auto& row : ConnectanceMat) row.assign(n, true);
      break;
    case ctClosePatches:
      for (size_t i = 0; i < n; ++i) {
        ConnectanceMat[i][i] = true;
        for (size_t j = 0; j < i; ++j)
          ConnectanceMat[i][j] = ConnectanceMat[j][i] = DistanceMat[i][j] < DistanceThreshold;
      }
      break;
    default:
      throw utile::EInvalidArgument("This link rule is not in the reference");
  }
}

// ------------------------------------------------------------------ occupancy integrations

class tOccupancyDynamics {
 public:
  tOccupancyDynamics(const utile::tMatrixOfDouble& m, const utile::tVectorOfDouble& areaTerms, size_t skip) {
    const size_t total = m.size();
    for (size_t i = 0; i < total; ++i)
      if (i != skip) fAreaTerms.push_back(areaTerms[i]);
    fN = fAreaTerms.size();
    fColumns.resize(fN * fN);
    size_t column = 0;
    for (size_t j = 0; j < total; ++j) {
      if (j == skip) continue;
      size_t row = 0;
      for (size_t i = 0; i < total; ++i)
        if (i != skip) fColumns[column * fN + row++] = m[i][j];
      ++column;
    }
  }

  utile::tVectorOfDouble Integrate(Double c, Double e, Double changeLimit, int64_t stepLimit) const {
    while (c < 0.1 && e < 0.1) {
      c *= 10;
      e *= 10;
    }
    const size_t n = fN;
    utile::tVectorOfDouble p(n, 0.1), next(n), pressure(n), old(n);
    Double change = 1;
    int64_t steps = 0;
    while (change > changeLimit && steps < stepLimit) {
      old = p;
      bool failed = false;
      for (int step = 0; step < 101 && !failed; ++step) {
        Pressure(p, pressure);
        for (size_t i = 0; i < n; ++i) {
          const Double value = p[i] + ((1 - p[i]) * c * pressure[i] - p[i] * e) / fAreaTerms[i];
          if (value > 1 || value < 0) {
            failed = true;
            break;
          }
          next[i] = value;
        }
        if (!failed) p.swap(next);
      }
      change = 0;
      for (size_t i = 0; i < n; ++i) change += (p[i] - old[i]) * (p[i] - old[i]);
      steps += 100;
      if (failed) {
        c /= 2;
        e /= 2;
        std::fill(p.begin(), p.end(), 0.1);
        change = 1;
        steps = 0;
      }
    }
    return p;
  }

 private:
  void Pressure(const utile::tVectorOfDouble& p, utile::tVectorOfDouble& s) const {
    const size_t n = fN;
    std::fill(s.begin(), s.end(), 0.0);
    Double* __restrict sum = s.data();
    for (size_t j = 0; j < n; ++j) {
      const Double pj = p[j];
      const Double* __restrict column = fColumns.data() + j * n;
      for (size_t i = 0; i < n; ++i) sum[i] += column[i] * pj;
    }
  }

  size_t fN = 0;
  std::vector<Double> fColumns;  // [j * n + i] = M[i][j]
  utile::tVectorOfDouble fAreaTerms;
};

inline utile::tVectorOfDouble ExtinctionAreaTerms(const tArrayOfCircles& patches, const tParam& param) {
  utile::tVectorOfDouble terms(patches.size());
  for (size_t i = 0; i < patches.size(); ++i)
    terms[i] = ScaledAreaPower(patches[i].A, param.Territ, param.ZetaExt);
  return terms;
}

inline utile::tVectorOfDouble FindPequ(const tArrayOfCircles& patches, const utile::tMatrixOfDouble& M,
                                       const tParam& Param) {
  const tOccupancyDynamics dynamics(M, ExtinctionAreaTerms(patches, Param), patches.size());
  return dynamics.Integrate(Param.colonisation, Param.extinction, 1e-200, 30'000);
}

inline utile::tVectorOfDouble FindMetapopSizeMinusOnePatch(const tArrayOfCircles& patches,
                                                           const utile::tMatrixOfDouble& M,
                                                           const tParam& Param) {
  const size_t n = patches.size();
  const utile::tVectorOfDouble areaTerms = ExtinctionAreaTerms(patches, Param);
  utile::tVectorOfDouble sizes(n, 0.0);
  for (size_t k = 0; k < n; ++k) {
    const tOccupancyDynamics dynamics(M, areaTerms, k);
    const utile::tVectorOfDouble p = dynamics.Integrate(Param.colonisation, Param.extinction,
                                                        static_cast<Double>(n - 1) * 1e-30, 10'000'000);
    Double size = 0;
    for (size_t i = 0, r = 0; i < n; ++i)
      if (i != k) size += p[r++] * utile::FloatDiv(patches[i].A, Param.Territ);
    sizes[k] = size;
  }
  return sizes;
}

}  // namespace models::reference
