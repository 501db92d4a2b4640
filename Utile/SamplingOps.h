// Binomial, multinomial, hypergeometric and multivariate hypergeometric deviates,
// every uniform draw taken from the process-wide generator.
#pragma once

#include "Utile/CommonDecl.h"

namespace utile {

// Successes in n trials of probability pp.
Integer bnldev(Double pp, Integer n);
// Counts per class of P, summing to N.
tVectorOfInteger Multinomial(Integer n, const tVectorOfDouble& p);
// Marked items in a sample of n drawn without replacement from NN items, m marked.
Integer HypergeometricRan(Integer n, Integer m, Integer nn);
// Counts per class of a sample of n drawn without replacement from the classes.
void MultiHypergeometric(const tVectorOfCardinal& counts, tVectorOfCardinal& result, Integer n, bool takeAll);

Double LnFac(Integer n);
Double fc_lnpk(Integer k, Integer nMn, Integer m, Integer n);

namespace SamplingOps {
// ln Gamma(x), the same formula and coefficients as the Poisson method's.
Double gammln(Double x);
}  // namespace SamplingOps

// The two hypergeometric methods, for n <= m <= NN/2 after the symmetry step.
Integer HypInversionMod(Integer n, Integer m, Integer nn);
Integer HypRatioOfUnifoms(Integer n, Integer m, Integer nn);

// Resets the sampler caches (the ln n! table and the hypergeometric parameters).
void ResetSamplerState();

}  // namespace utile
