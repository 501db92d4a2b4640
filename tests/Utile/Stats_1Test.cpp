#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "Utile/RunTime.h"
#include "Utile/Stats_1.h"

using namespace utile;

namespace {

// The quantile found by bisection on the normal distribution function of the
// standard library, apart from the code under test. The upper half goes through
// the lower tail, where the distribution function keeps its relative precision.
double ReferenceQuantile(double p) {
  if (p > 0.5) return -ReferenceQuantile(1 - p);
  double low = -40, high = 40;
  for (int i = 0; i < 200; ++i) {
    const double mid = 0.5 * (low + high);
    if (0.5 * std::erfc(-mid / std::sqrt(2.0)) < p)
      low = mid;
    else
      high = mid;
  }
  return 0.5 * (low + high);
}

TEST(Stats1, NinvAgreesWithKnownQuantiles) {
  // The rational approximation holds about 1.5e-8 down to 1e-20; beyond, it still
  // gives the right tail to a few parts in ten thousand.
  struct tCase {
    double p;
    double tolerance;
  } const cases[] = {{0.5, 1e-15},   {0.6, 2e-8},       {0.8413447460685429, 2e-8},
                     {0.9, 2e-8},    {0.975, 2e-8},     {0.025, 2e-8},
                     {0.999, 2e-8},  {1e-5, 2e-8},      {1e-10, 2e-8},
                     {1e-20, 2e-8},  {1 - 1e-12, 2e-8}, {1e-30, 1e-5},
                     {1e-100, 1e-4}, {1e-300, 1e-3}};
  for (const auto& c : cases) {
    EXPECT_NEAR(ReferenceQuantile(c.p), static_cast<double>(Ninv(c.p)), c.tolerance) << c.p;
    if (c.p >= 1e-5) {
      EXPECT_NEAR(-static_cast<double>(Ninv(c.p)), static_cast<double>(Ninv(1 - static_cast<Extended>(c.p))),
                  1e-9)
          << c.p;
    }
  }
  EXPECT_EQ(0, Ninv(0.5));
  EXPECT_NEAR(1.96, static_cast<double>(Ninv(0.975)), 1e-4);
  EXPECT_NEAR(-1.96, static_cast<double>(Ninv(0.025)), 1e-4);
}

TEST(Stats1, NinvAtAndBeyondTheEndsOfTheRange) {
  EXPECT_EQ(-std::numeric_limits<Extended>::infinity(), Ninv(0));
  EXPECT_EQ(std::numeric_limits<Extended>::infinity(), Ninv(1));
  // Tiny but positive probabilities are far in the tail, not at the centre.
  EXPECT_LT(Ninv(1e-25), -10);
  EXPECT_GT(Ninv(1 - 1e-18L), 8);
  EXPECT_LT(Ninv(std::numeric_limits<double>::denorm_min()), -38);
  for (Extended p : {-1e-300L, -0.5L, 1.0000001L, 2.0L, std::numeric_limits<Extended>::quiet_NaN(),
                     std::numeric_limits<Extended>::infinity()})
    EXPECT_THROW(Ninv(p), EInvalidArgument) << static_cast<double>(p);
}

}  // namespace
