// The process-wide generator written out again from its rule, apart from the code
// under test, so that tests can replay the exact stream a deviate must consume:
// xorshift seeding of the five words, 19 discarded steps, then the
// multiply-with-carry recurrence.
#pragma once

#include <cmath>
#include <cstdint>

namespace testsupport {

struct tReferenceGenerator {
  uint32_t x[4];  // x[0] newest
  uint32_t carry;

  explicit tReferenceGenerator(uint32_t seed) {
    uint32_t s = seed == 0 ? 0xFFFFFFFFu : seed;
    uint32_t words[5];
    for (int i = 0; i < 5; ++i) {
      s ^= s << 13;
      s ^= s >> 17;
      s ^= s << 5;
      words[i] = s;
    }
    x[0] = words[0];
    x[1] = words[1];
    x[2] = words[2];
    x[3] = words[3];
    carry = words[4];
    for (int i = 0; i < 19; ++i) Next();
  }

  // The generator of SetSeeds(seed1, seed2).
  static tReferenceGenerator FromSeeds(int32_t seed1, int32_t seed2) {
    return tReferenceGenerator(static_cast<uint32_t>(seed1) * 10000u + static_cast<uint32_t>(seed2));
  }

  uint32_t Next() {
    const uint64_t sum = 2111111111ull * x[3] + 1492ull * x[2] + 1776ull * x[1] + 5115ull * x[0] + carry;
    x[3] = x[2];
    x[2] = x[1];
    x[1] = x[0];
    x[0] = static_cast<uint32_t>(sum & 0xFFFFFFFFu);
    carry = static_cast<uint32_t>(sum >> 32);
    return x[0];
  }
  double U() { return std::ldexp(static_cast<double>(Next()), -32); }
};

// ln Gamma by the Lanczos series with the coefficients of the Poisson and binomial
// methods, whose acceptance tests a replay must reproduce to the last bit.
// The colour generator written out again: seed := seed x 134775813 + 1 mod 2^32,
// value seed / 2^32.
struct tColourStream {
  uint32_t Seed = 0;
  double Next() {
    Seed = Seed * 134775813u + 1u;
    return std::ldexp(static_cast<double>(Seed), -32);
  }
};

inline double LanczosGammaLog(double x) {
  const double z = x - 1;
  const double t = z + 5.5;
  const double ser = 1 + 76.18009173 / (z + 1) - 86.50532033 / (z + 2) + 24.01409822 / (z + 3) -
                     1.231739516 / (z + 4) + 0.120858003e-2 / (z + 5) - 0.536382e-5 / (z + 6);
  return (z + 0.5) * std::log(t) - t + std::log(2.50662827465 * ser);
}

}  // namespace testsupport
