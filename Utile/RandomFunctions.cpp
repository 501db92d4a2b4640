#include "Utile/RandomFunctions.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <numbers>

#include "Utile/RunTime.h"
#include "Utile/SamplingOps.h"
#include "Utile/ToolkitVariant.h"
#include "Utile/VectorOps.h"

namespace utile {

using random_detail::gState;

void MRandSeed(uint32_t seed) { gState.Words = random_detail::Seeded(seed); }

void SetSeeds(Integer seed1, Integer seed2) {
  gState.Seed1 = seed1;
  gState.Seed2 = seed2;
  gState.GaussCached = false;
  gState.PoissonMean = -1;
  // The map-file manager's toolkit adds the two seeds.
  const bool added = ToolkitVariant() == tToolkitVariant::tvMapFileManager;
  MRandSeed(static_cast<uint32_t>(seed1) * (added ? 1u : 10000u) + static_cast<uint32_t>(seed2));
}

Integer Seed1() { return gState.Seed1; }
Integer Seed2() { return gState.Seed2; }

Integer DiscreteRan(const tVectorOfDouble& p) {
  tVectorOfDouble kept;
  tVectorOfInteger index;
  for (size_t i = 0; i < p.size(); ++i)
    if (p[i] > 0) {
      kept.push_back(p[i]);
      index.push_back(static_cast<Integer>(i));
    }
  if (kept.empty()) return -1;
  const tVectorOfDouble c = CumulativeVector(kept);
  const Double x = static_cast<Double>(Uniform() * c.back());
  const Integer k = FindClass(c, x);
  // X lies in [0, C[last]): the class is always one of the kept elements.
  return index[std::clamp<Integer>(k, 0, static_cast<Integer>(index.size()) - 1)];
}

Double GaussRan() {
  if (gState.GaussCached) {
    gState.GaussCached = false;
    return gState.GaussValue;
  }
  Double a, b, r;
  do {
    a = 2 * random_detail::UniformDouble() - 1;
    b = 2 * random_detail::UniformDouble() - 1;
    r = a * a + b * b;
  } while (!(r > 0 && r < 1));
  const Double f = std::sqrt(-2 * std::log(r) / r);
  gState.GaussValue = a * f;
  gState.GaussCached = true;
  return b * f;
}

Double GaussRan(Double mean, Double sd) { return mean + sd * GaussRan(); }

Double gammln(Double x) {
  const Double z = x - 1;
  const Double t = z + 5.5;
  const Double ser = 1 + 76.18009173 / (z + 1) - 86.50532033 / (z + 2) + 24.01409822 / (z + 3) -
                     1.231739516 / (z + 4) + 0.120858003e-2 / (z + 5) - 0.536382e-5 / (z + 6);
  return (z + 0.5) * std::log(t) - t + std::log(2.50662827465 * ser);
}

Integer PoissonRan(Double mean) {
  if (!std::isfinite(mean)) throw EInvalidArgument(Format("Invalid mean in PoissonRan: %g", mean));
  if (mean < 0) return -PoissonRan(-mean);
  if (mean < 12) {
    if (mean != gState.PoissonMean) {
      gState.PoissonMean = mean;
      gState.PoissonG = std::exp(-mean);
    }
    Integer em = -1;
    Double t = 1;
    do {
      ++em;
      t *= random_detail::UniformDouble();
    } while (t > gState.PoissonG);
    return em;
  }
  if (mean > 2147483647.0) throw EInvalidArgument(Format("Invalid mean in PoissonRan: %g", mean));
  if (mean != gState.PoissonMean) {
    gState.PoissonMean = mean;
    gState.PoissonSq = std::sqrt(2 * mean);
    gState.PoissonAlxm = std::log(mean);
    gState.PoissonG = mean * gState.PoissonAlxm - gammln(mean + 1);
  }
  Double em, t;
  do {
    Double y;
    do {
      y = std::tan(std::numbers::pi * random_detail::UniformDouble());
      em = gState.PoissonSq * y + mean;
    } while (em < 0);
    em = std::floor(em);
    t = 0.9 * (1 + y * y) * std::exp(em * gState.PoissonAlxm - gammln(em + 1) - gState.PoissonG);
  } while (random_detail::UniformDouble() > t);
  return static_cast<Integer>(em);
}

tVectorOfCardinal RandomVectorOfCardinal(Integer n, Cardinal min, Cardinal max) {
  tVectorOfCardinal v(n > 0 ? n : 0);
  for (auto& x : v) x = Ran(min, max);
  return v;
}

void ShuffleVector(tVectorOfCardinal& v, Integer k) {
  Assert(k <= static_cast<Integer>(v.size()), "Error in ShuffleVector: k > N");
  Integer n = static_cast<Integer>(v.size());
  tVectorOfCardinal r(v.size(), 0);
  const Integer draws = k < 0 ? n : k;
  for (Integer i = 0; i < draws; ++i) {
    const Integer j = Ran(n);
    r[i] = v[j];
    v[j] = v[n - 1];
    --n;
  }
  v = std::move(r);
}

void ShuffleVectorHead(tVectorOfCardinal& v, Integer k) { ShuffleVector(v, k); }

tVectorOfInteger MultinomialRan(Integer n, const tVectorOfDouble& p) { return Multinomial(n, p); }

tVectorOfCardinal MultiHypergeometricRan(Integer n, const tVectorOfCardinal& counts, bool takeAll) {
  tVectorOfCardinal result;
  MultiHypergeometric(counts, result, n, takeAll);
  return result;
}

void NetworkRan(const t2DPoints& Points, Double Mean, Double SD, Double C0, Double Range,
                tVectorOfDouble& Values, tMatrixOfDouble& CorrMatrix) {
  // Only Range^2 is used; one that is not positive (or not a number) would divide by zero.
  if (!(Range * Range > 0)) throw ERangeError("Autocorrelation range must be greater than zero.");
  const Integer n = static_cast<Integer>(Points.size());
  const Double range2 = Range * Range;
  CorrMatrix.resize(n);
  for (Integer i = 0; i < n; ++i) {
    CorrMatrix[i].resize(n);
    CorrMatrix[i][i] = C0;
    for (Integer j = 0; j < i; ++j) {
      const Double dx = Points[i].x - Points[j].x, dy = Points[i].y - Points[j].y;
      CorrMatrix[i][j] = C0 * std::exp(-3 * (dx * dx + dy * dy) / range2);
    }
  }
  for (Integer i = 0; i < n; ++i)
    for (Integer j = i + 1; j < n; ++j) CorrMatrix[i][j] = CorrMatrix[j][i];

  tVectorOfInteger order(n);
  for (Integer i = 0; i < n; ++i) order[i] = i;
  for (Integer k = 0; k < n / 2; ++k) {
    const Integer i = Ran(n);
    const Integer j = Ran(n);
    std::swap(order[i], order[j]);
  }

  // The kriging system of the points simulated so far, K = L L^T, grows by one
  // row per point, so that a point costs O(k^2) rather than an inversion. With
  // z = L^-1 c and u = L^-1 v (v the values simulated), the weights' sums are
  // w.v = z.u and w.c = z.z. A point whose pivot C0 - z.z is at rounding level
  // is a combination of those already in the system: it takes their kriged value
  // and is left out, which keeps the factor regular.
  tVectorOfDouble values(n);
  std::vector<Integer> kept;   // the points in the system, in order
  std::vector<Double> factor;  // row r of L at r (r + 1) / 2
  std::vector<Double> u, z;
  kept.reserve(n);
  u.reserve(n);
  z.resize(n);
  factor.reserve(static_cast<size_t>(n) * (n + 1) / 2);
  for (Integer k = 0; k < n; ++k) {
    const Integer p = order[k];
    const size_t r = kept.size();
    Double s = 0, m = 0;
    for (size_t j = 0; j < r; ++j) {
      const Double* row = &factor[j * (j + 1) / 2];
      Double t = CorrMatrix[p][kept[j]];
      for (size_t l = 0; l < j; ++l) t -= row[l] * z[l];
      t /= row[j];
      z[j] = t;
      s += t * t;
      m += t * u[j];
    }
    const Double pivot2 = C0 - s;
    const bool independent =
        pivot2 > 256 * DBL_EPSILON * std::max<Double>(static_cast<Double>(r), 1) * std::fabs(C0);
    // The variance of the draw is 1 - s whatever C0 is (the first point's is 1);
    // a point left out has s = C0 up to rounding.
    const Double variance = independent || r == 0 ? 1 - s : 1 - C0;
    const Double value = variance < 0 ? m : GaussRan(m, std::sqrt(variance));
    values[p] = value;
    if (independent) {
      const Double pivot = std::sqrt(pivot2);
      factor.insert(factor.end(), z.begin(), z.begin() + static_cast<std::ptrdiff_t>(r));
      factor.push_back(pivot);
      u.push_back((value - m) / pivot);
      kept.push_back(p);
    }
  }
  for (Double& value : values) value = value * SD + Mean;
  Values = std::move(values);
}

}  // namespace utile
