// A bracketing root finder.
#pragma once

#include <functional>

#include "Utile/CommonDecl.h"

namespace utile {

// A function of one unknown x with its fixed parameters.
using tRootFunction = std::function<Double(const tVectorOfDouble& params, Double x)>;

// Brent's method: a root of F(Params, x) between x1 and x2, to within Tol (plus
// the relative precision Eps). F(x1) and F(x2) must differ in sign, else
// EInvalidArgument. When MaxIter iterations do not reach the tolerance, the best
// estimate so far is returned.
Double FindRootBrent(const tRootFunction& f, const tVectorOfDouble& params, Double x1, Double x2, Double tol,
                     Integer maxIter, Double eps);

}  // namespace utile
