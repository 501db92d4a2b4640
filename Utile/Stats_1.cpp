#include "Utile/Stats_1.h"

#include <cmath>
#include <limits>

#include "Utile/RunTime.h"

namespace utile {

Extended Ninv(Extended p) {
  // A probability of 0 or 1 has its quantile at infinity: a caller that reads a
  // finite number there would treat a certain event as an even chance.
  if (!(p >= 0 && p <= 1)) throw EInvalidArgument(Format("Probability out of range in Ninv: %g", p));
  if (p == 0) return -std::numeric_limits<Extended>::infinity();
  if (p == 1) return std::numeric_limits<Extended>::infinity();
  constexpr Extended p0 = -0.322232431088L, p1 = -1.0L, p2 = -0.342242088547L, p3 = -0.0204231210245L,
                     p4 = -0.453642210148e-4L;
  constexpr Extended q0 = 0.099348462606L, q1 = 0.588581570495L, q2 = 0.531103462366L, q3 = 0.10353775285L,
                     q4 = 0.38560700634e-2L;
  const Extended pp = p < 0.5L ? p : 1 - p;
  if (pp == 0.5L) return 0;
  // ln(1/pp²) written as -2 ln pp, so that the far tails do not overflow.
  const Extended y = std::sqrt(-2 * std::log(pp));
  const Extended x =
      y + (p0 + y * (p1 + y * (p2 + y * (p3 + y * p4)))) / (q0 + y * (q1 + y * (q2 + y * (q3 + y * q4))));
  return p < 0.5L ? -x : x;
}

}  // namespace utile
