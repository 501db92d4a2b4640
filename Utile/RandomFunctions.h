// The one process-wide random-number generator, a multiply-with-carry generator of
// 32-bit words, and the deviates drawn from it. Every stochastic routine of the
// models draws from this stream, so a run is reproduced exactly by SetSeeds with
// the same two seeds followed by the same calls in the same order.
#pragma once

#include <cmath>
#include <cstdint>

#include "Utile/CommonDecl.h"
#include "Utile/Stats_1.h"  // Ninv, the normal quantile, belongs with the deviates

namespace utile {

namespace random_detail {

struct tGeneratorWords {
  uint32_t x0, x1, x2, x3, carry;
};

constexpr void Step(tGeneratorWords& g) {
  const uint64_t s = 2111111111ull * g.x3 + 1492ull * g.x2 + 1776ull * g.x1 + 5115ull * g.x0 + g.carry;
  g.x3 = g.x2;
  g.x2 = g.x1;
  g.x1 = g.x0;
  g.x0 = static_cast<uint32_t>(s);
  g.carry = static_cast<uint32_t>(s >> 32);
}

constexpr tGeneratorWords Seeded(uint32_t seed) {
  uint32_t s = seed == 0 ? 0xFFFFFFFFu : seed;
  uint32_t words[5] = {};
  for (uint32_t& w : words) {
    s ^= s << 13;
    s ^= s >> 17;
    s ^= s << 5;
    w = s;
  }
  tGeneratorWords g{words[0], words[1], words[2], words[3], words[4]};
  for (int i = 0; i < 19; ++i) Step(g);
  return g;
}

// The whole reproducible random state: generator words, seeds and the caches.
struct tRandomState {
  tGeneratorWords Words;
  int32_t Seed1;
  int32_t Seed2;
  bool GaussCached;
  double GaussValue;
  double PoissonMean;  // -1: nothing cached
  double PoissonSq;
  double PoissonAlxm;
  double PoissonG;
};

// The state after the units' start-up: SetSeeds(10, 10), then SetSeeds(20, 3).
inline tRandomState gState{Seeded(20u * 10000u + 3u), 20, 3, false, 0.0, -1.0, 0.0, 0.0, 0.0};

inline uint32_t NextWord() {
  Step(gState.Words);
  return gState.Words.x0;
}

}  // namespace random_detail

// The next output in [0, 1): x0 / 2^32; the second form also gives the word x0.
inline Extended Uniform(uint32_t& word) {
  word = random_detail::NextWord();
  return static_cast<Extended>(word) * static_cast<Extended>(1.0f / 4294967296.0f);
}
inline Extended Uniform() {
  uint32_t word;
  return Uniform(word);
}

namespace random_detail {
// The same value as Uniform (x0 / 2^32 is exact in a double), without the
// extended-precision arithmetic, for the deviates' inner loops.
inline Double UniformDouble() { return static_cast<Double>(NextWord()) * 0x1p-32; }
}  // namespace random_detail

void MRandSeed(uint32_t seed);
// Stores both seeds, clears the normal and Poisson caches and reseeds with
// Seed1 x 10000 + Seed2 (32-bit wrap-around); the map-file manager's toolkit
// reseeds with Seed1 + Seed2.
void SetSeeds(Integer seed1, Integer seed2);
Integer Seed1();
Integer Seed2();

inline Double Ran() { return random_detail::UniformDouble(); }
// Trunc(U x N): 0..N-1 (toward zero for a negative N; 0 for 0).
inline Integer Ran(Integer n) {
  const uint64_t x = random_detail::NextWord();
  if (n >= 0) return static_cast<Integer>((x * static_cast<uint64_t>(n)) >> 32);
  return -static_cast<Integer>((x * (0 - static_cast<uint64_t>(static_cast<int64_t>(n)))) >> 32);
}
inline Cardinal Ran(Cardinal n) {
  return static_cast<Cardinal>((static_cast<uint64_t>(random_detail::NextWord()) * n) >> 32);
}
// Min + U x (Max - Min); Max itself never, even where rounding to a double would
// carry a draw just short of it onto it.
inline Double Ran(Double min, Double max) {
  const Double r = static_cast<Double>(min + Uniform() * (static_cast<Extended>(max) - min));
  if (r == max && max != min) [[unlikely]]
    return std::nextafter(max, min);
  return r;
}
// Min..Max-1: Max itself never.
inline Cardinal Ran(Cardinal min, Cardinal max) {
  const Cardinal range = max - min;
  return min + static_cast<Cardinal>((static_cast<uint64_t>(random_detail::NextWord()) * range) >> 32);
}

// An index drawn with probability proportional to P[i]; -1 when nothing is positive.
Integer DiscreteRan(const tVectorOfDouble& p);
Double GaussRan();
Double GaussRan(Double mean, Double sd);
// Poisson deviate; a negative mean gives the negated deviate of its absolute value.
Integer PoissonRan(Double mean);
tVectorOfCardinal RandomVectorOfCardinal(Integer n, Cardinal min, Cardinal max);
// Draws k elements without replacement (all when k < 0): the draws first, in draw
// order, then zeros.
void ShuffleVector(tVectorOfCardinal& v, Integer k);
void ShuffleVectorHead(tVectorOfCardinal& v, Integer k);
tVectorOfInteger MultinomialRan(Integer n, const tVectorOfDouble& p);
tVectorOfCardinal MultiHypergeometricRan(Integer n, const tVectorOfCardinal& counts, bool takeAll);

// One normal value per point, with the given Mean and SD, nearby points correlated
// by C0 x exp(-3 d^2 / Range^2): sequential simulation with simple kriging, the
// points visited in an order shuffled by n div 2 exchanges. CorrMatrix receives
// the n x n correlations. A point that the points already simulated determine up
// to rounding (two patches at one place) takes their kriged value and conditions
// nothing further. Range = 0 raises ERangeError and changes nothing.
void NetworkRan(const t2DPoints& Points, Double Mean, Double SD, Double C0, Double Range,
                tVectorOfDouble& Values, tMatrixOfDouble& CorrMatrix);

// ln Gamma(x) with the Lanczos coefficients of the Poisson method.
Double gammln(Double x);

}  // namespace utile
