#include <gtest/gtest.h>

#include <cmath>

#include "Utile/MathOps.h"
#include "Utile/RunTime.h"

using namespace utile;

namespace {

const tRootFunction Square = [](const tVectorOfDouble& params, Double x) { return x * x - params[0]; };

TEST(MathOps, FindRootBrentFindsBracketedRoots) {
  int calls = 0;
  const tRootFunction kepler = [&calls](const tVectorOfDouble& params, Double x) {
    ++calls;
    return x - params[0] * std::sin(x) - params[1];
  };
  struct tCase {
    tRootFunction f;
    tVectorOfDouble params;
    double x1, x2, expected;
  } const cases[] = {
      {Square, {2}, 0, 2, std::sqrt(2.0)},
      {Square, {2}, 2, 0, std::sqrt(2.0)},  // bracket given downwards
      {Square, {2}, -2, 0, -std::sqrt(2.0)},
      {Square, {4}, 0, 2, 2},  // root at an end
      {Square, {0}, 0, 1, 0},
      {[](const tVectorOfDouble&, Double x) { return std::cos(x) - x; }, {}, 0, 1, 0.7390851332151607},
      {kepler, {0.5, 1.0}, 0, 3, 1.4987011335178482},
      // A step function: bisection must still close in on the jump.
      {[](const tVectorOfDouble&, Double x) { return x < 0.3 ? -1.0 : 1.0; }, {}, 0, 1, 0.3},
  };
  for (const auto& c : cases)
    EXPECT_NEAR(c.expected, FindRootBrent(c.f, c.params, c.x1, c.x2, 1e-12, 100, 3e-16), 1e-11)
        << c.x1 << " " << c.x2;
  EXPECT_GT(calls, 0);
}

TEST(MathOps, FindRootBrentStopsAtTheToleranceOrTheIterationLimit) {
  EXPECT_NEAR(std::sqrt(2.0), FindRootBrent(Square, {2}, 0, 2, 1e-3, 100, 0), 1e-3);
  // No iteration: the second end comes back as it was given.
  EXPECT_EQ(2.0, FindRootBrent(Square, {2}, 0, 2, 1e-12, 0, 3e-16));
  // Running out of iterations is not an error: the estimate so far comes back,
  // inside the bracket.
  const double estimate = FindRootBrent(Square, {2}, 0, 2, 1e-15, 2, 3e-16);
  EXPECT_GE(estimate, 0);
  EXPECT_LE(estimate, 2);
}

TEST(MathOps, FindRootBrentRefusesAnIntervalWithoutSignChange) {
  try {
    FindRootBrent(Square, {2}, 2, 3, 1e-12, 100, 3e-16);
    FAIL() << "no exception";
  } catch (const EInvalidArgument& e) {
    EXPECT_STREQ("x1 and x2 do not bracket a root.", e.what());
  }
  // Values far below the smallest product still show their signs.
  const tRootFunction tiny = [](const tVectorOfDouble&, Double x) { return 1e-200 * (x + 1); };
  EXPECT_THROW(FindRootBrent(tiny, {}, 0, 1, 1e-12, 100, 3e-16), EInvalidArgument);
}

}  // namespace
