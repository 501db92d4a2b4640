// The inverse of the standard normal distribution.
#pragma once

#include "Utile/CommonDecl.h"

namespace utile {

// The standard normal quantile of p (Odeh and Evans' rational approximation):
// minus infinity at 0, plus infinity at 1; EInvalidArgument outside [0, 1].
Extended Ninv(Extended p);

}  // namespace utile
