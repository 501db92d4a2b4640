#include "Utile/MathOps.h"

#include <algorithm>
#include <cmath>

#include "Utile/RunTime.h"

namespace utile {

Double FindRootBrent(const tRootFunction& f, const tVectorOfDouble& params, Double x1, Double x2, Double tol,
                     Integer maxIter, Double eps) {
  Double a = x1, b = x2, c = x2;
  Double fa = f(params, a), fb = f(params, b);
  if ((fa > 0 && fb > 0) || (fa < 0 && fb < 0)) throw EInvalidArgument("x1 and x2 do not bracket a root.");
  Double fc = fb;
  Double d = b - a, e = d;
  for (Integer iter = 0; iter < maxIter; ++iter) {
    // Keep the root between b and c, and b the better estimate.
    if ((fb > 0 && fc > 0) || (fb < 0 && fc < 0)) {
      c = a;
      fc = fa;
      e = d = b - a;
    }
    if (std::fabs(fc) < std::fabs(fb)) {
      a = b;
      b = c;
      c = a;
      fa = fb;
      fb = fc;
      fc = fa;
    }
    const Double tol1 = 2 * eps * std::fabs(b) + 0.5 * tol;
    const Double xm = 0.5 * (c - b);
    if (std::fabs(xm) <= tol1 || fb == 0) return b;
    if (std::fabs(e) >= tol1 && std::fabs(fa) > std::fabs(fb)) {
      // Inverse quadratic interpolation, or the secant when only two points differ.
      const Double s = fb / fa;
      Double p, q;
      if (a == c) {
        p = 2 * xm * s;
        q = 1 - s;
      } else {
        const Double qa = fa / fc;
        const Double r = fb / fc;
        p = s * (2 * xm * qa * (qa - r) - (b - a) * (r - 1));
        q = (qa - 1) * (r - 1) * (s - 1);
      }
      if (p > 0) q = -q;
      p = std::fabs(p);
      if (2 * p < std::min(3 * xm * q - std::fabs(tol1 * q), std::fabs(e * q))) {
        e = d;
        d = p / q;
      } else {
        d = xm;
        e = d;
      }
    } else {
      d = xm;
      e = d;
    }
    a = b;
    fa = fb;
    b += std::fabs(d) > tol1 ? d : std::copysign(tol1, xm);
    fb = f(params, b);
  }
  return b;
}

}  // namespace utile
