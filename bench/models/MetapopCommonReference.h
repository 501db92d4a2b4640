// The landscape matrices as they were computed before their fill was rebuilt:
// each row its own allocation set to zero first, every pair's value written to
// [i][j] and copied to [j][i] as the lower triangle is walked, the permeability
// rule called through a pointer for each pair. Kept in the benchmark binary, with
// matrices of its own, so that the matrices are measured beside it; only the
// rules that the benchmarks use (constant and exponential permeability, all and
// close links).
#pragma once

#include <cmath>

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

}  // namespace models::reference
