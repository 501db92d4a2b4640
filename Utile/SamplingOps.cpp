#include "Utile/SamplingOps.h"

#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <numbers>

#include "Utile/RandomFunctions.h"
#include "Utile/RunTime.h"

namespace utile {

namespace {

// Every uniform draw of the samplers comes from the process-wide stream; its
// values are multiples of 2^-32, exact in a double.
inline Double U() {
  return random_detail::UniformDouble();
}

// ln(n!) for n = 0..49, filled on the first call of LnFac that needs it.
constexpr Integer LnFacTableLength = 50;
struct tLnFacTable {
  bool Filled = false;
  std::array<Double, LnFacTableLength> Values{};
};
tLnFacTable gLnFac;

// Hat width of the ratio-of-uniforms method: sqrt(8/e (var + 1/2)) + 3 - sqrt(12/e).
constexpr Double Shat1 = 2.943035529371538573;
constexpr Double Shat2 = 0.8989161620588987408;

// The hypergeometric set-up, kept for the last (n, m, NN) so that repeated draws
// with the same parameters skip it. The method that filled it is kept too: the two
// methods derive different values from the same parameters.
enum class tHypMethod { None, Inversion, RatioOfUniforms };
struct tHypCache {
  Integer n = -1, m = -1, nn = -1;
  tHypMethod Method = tHypMethod::None;
  Integer Mode = 0;   // inversion: the mode; ratio of uniforms: unused
  Integer Mp = 0;     // inversion: the first value searched downwards + 1
  Integer Bound = 0;  // no value above this is returned
  Double Fm = 0;      // inversion: probability of the mode; ratio of uniforms: ln f(mode)
  Double A = 0;       // ratio of uniforms: hat centre
  Double H = 0;       // ratio of uniforms: hat width
};
tHypCache gHyp;

// The binomial rejection method's logarithms for the last n and p.
struct tBinomialCache {
  Integer n = -1;
  Double p = -1;
  Double OldG = 0, PLog = 0, PcLog = 0;
};
tBinomialCache gBinomial;

bool HypCacheHolds(Integer n, Integer m, Integer nn, tHypMethod method) {
  return gHyp.n == n && gHyp.m == m && gHyp.nn == nn && gHyp.Method == method;
}

void HypCacheStore(Integer n, Integer m, Integer nn, tHypMethod method) {
  gHyp.n = n;
  gHyp.m = m;
  gHyp.nn = nn;
  gHyp.Method = method;
}

}  // namespace

void ResetSamplerState() {
  gLnFac = tLnFacTable{};
  gHyp = tHypCache{};
  gBinomial = tBinomialCache{};
}

// ------------------------------------------------------------------ binomial

Integer bnldev(Double pp, Integer n) {
  // A probability that is not a number would never let the rejection loop end.
  if (!std::isfinite(pp)) throw EInvalidArgument(Format("Invalid probability in bnldev: %g", pp));
  const Double p = pp <= 0.5 ? pp : 1 - pp;
  const Double am = n * p;
  Double bnl;
  if (n < 25) {
    Integer count = 0;
    for (Integer j = 1; j <= n; ++j)
      if (U() < p) ++count;
    bnl = count;
  } else if (am < 1) {
    const Double g = std::exp(-am);
    Double t = 1;
    Integer j = 0;
    for (; j <= n; ++j) {
      t *= U();
      if (t < g) break;
    }
    bnl = j <= n ? j : n;
  } else {
    // Rejection from a Lorentzian hat. The logarithms depend on n and p only and
    // are kept for the next call with the same ones.
    if (n != gBinomial.n) {
      gBinomial.n = n;
      gBinomial.OldG = SamplingOps::gammln(n + 1.0);
    }
    if (p != gBinomial.p) {
      gBinomial.p = p;
      gBinomial.PLog = std::log(p);
      gBinomial.PcLog = std::log(1 - p);
    }
    const Double en = n;
    const Double oldg = gBinomial.OldG;
    const Double plog = gBinomial.PLog;
    const Double pclog = gBinomial.PcLog;
    const Double sq = std::sqrt(2 * am * (1 - p));
    Double em, t;
    do {
      Double y;
      do {
        y = std::tan(std::numbers::pi * U());
        em = sq * y + am;
      } while (em < 0 || em >= en + 1);
      em = std::floor(em);
      t = 1.2 * sq * (1 + y * y) *
          std::exp(oldg - SamplingOps::gammln(em + 1) - SamplingOps::gammln(en - em + 1) + em * plog +
                   (en - em) * pclog);
    } while (U() > t);
    bnl = em;
  }
  if (p != pp) bnl = n - bnl;
  // Every branch counts whole trials: the value is already an integer.
  return static_cast<Integer>(bnl);
}

// ------------------------------------------------------------------ multinomial

tVectorOfInteger Multinomial(Integer n, const tVectorOfDouble& p) {
  Assert(n >= 1, "Parameter negative in multinomial function");
  Double sum = 0;
  for (Double x : p) sum += x;
  Assert(std::fabs(sum - 1) < 1e-9, "Sum of probabilities must be equal to 1");
  tVectorOfInteger result(p.size(), 0);
  Integer left = n;
  Double rest = 1;
  for (size_t i = 0; i < p.size() && left > 0; ++i) {
    result[i] = bnldev(p[i] / rest, left);
    left -= result[i];
    rest -= p[i];
  }
  // Probabilities that sum to 1 only within rounding can leave a few trials
  // undrawn after the last class; they belong to the last class that can take them.
  if (left > 0)
    for (size_t i = p.size(); i-- > 0;)
      if (p[i] > 0) {
        result[i] += left;
        break;
      }
  return result;
}

// ------------------------------------------------------------------ hypergeometric

Integer HypergeometricRan(Integer n, Integer m, Integer nn) {
  if (nn < m) throw EInvalidArgument("m>NN in hypergeometric function");
  if (nn < n) throw EInvalidArgument(Format("n>NN in hypergeometric function, %d, %d, %d", n, nn, m));
  if (n < 0) throw EInvalidArgument("n>0 in hypergeometric function");
  if (m < 0) throw EInvalidArgument("m>0 in hypergeometric function");

  // Symmetries bring the problem to n <= m <= NN/2; fak and addd undo them.
  Integer fak = 1;
  Integer addd = 0;
  if (m > nn / 2) {
    m = nn - m;
    fak = -1;
    addd = n;
  }
  if (n > nn / 2) {
    n = nn - n;
    addd += fak * m;
    fak = -fak;
  }
  if (m < n) std::swap(n, m);
  if (n == 0) return addd;
  // The inversion's products overflow beyond these sizes.
  const Integer x = (nn > 680 || n > 70) ? HypRatioOfUnifoms(n, m, nn) : HypInversionMod(n, m, nn);
  return x * fak + addd;
}

// Inversion by chop-down search alternating downwards and upwards from the mode;
// the divisions are replaced by scaling U and the terms.
Integer HypInversionMod(Integer n, Integer m, Integer nn) {
  const Integer l = nn - m - n;
  const Double mp = m + 1;
  const Double np = n + 1;
  const Double l1 = l;
  if (!HypCacheHolds(n, m, nn, tHypMethod::Inversion)) {
    HypCacheStore(n, m, nn, tHypMethod::Inversion);
    const Double p = mp / (nn + 2.0);
    const Double modef = np * p;
    gHyp.Mode = static_cast<Integer>(modef);
    if (gHyp.Mode == modef && p == 0.5) {
      gHyp.Mp = gHyp.Mode--;
    } else {
      gHyp.Mp = gHyp.Mode + 1;
    }
    const Integer mode = gHyp.Mode;
    gHyp.Fm = std::exp(LnFac(nn - m) - LnFac(l + mode) - LnFac(n - mode) + LnFac(m) - LnFac(m - mode) -
                       LnFac(mode) - LnFac(nn) + LnFac(nn - n) + LnFac(n));
    // 11 standard deviations above the mean leave nothing of double precision.
    gHyp.Bound = static_cast<Integer>(modef + 11.0 * std::sqrt(modef * (1 - p) * (1 - n / Double(nn)) + 1));
    if (gHyp.Bound > n) gHyp.Bound = n;
  }
  const Integer mode = gHyp.Mode;
  const Integer modeP = gHyp.Mp;
  for (;;) {
    Double u = U();
    if ((u -= gHyp.Fm) <= 0) return mode;
    Double c = gHyp.Fm;
    Double d = gHyp.Fm;
    Double k1 = modeP - 1;
    Double k2 = mode + 1;
    Integer i = 1;
    for (; i <= mode; ++i, k1 -= 1, k2 += 1) {
      // One step down from the mode...
      Double divisor = (np - k1) * (mp - k1);
      u *= divisor;
      d *= divisor;
      c *= k1 * (l1 + k1);
      if ((u -= c) <= 0) return modeP - i - 1;
      // ...and one step up.
      divisor = k2 * (l1 + k2);
      u *= divisor;
      c *= divisor;
      d *= (np - k2) * (mp - k2);
      if ((u -= d) <= 0) return mode + i;
    }
    // Below the mode is exhausted: go on upwards to the bound.
    k2 = modeP + mode;
    for (i = modeP + mode; i <= gHyp.Bound; ++i, k2 += 1) {
      const Double divisor = k2 * (l1 + k2);
      u *= divisor;
      d *= (np - k2) * (mp - k2);
      if ((u -= d) <= 0) return i;
    }
  }
}

// Ratio-of-uniforms rejection with a table-mountain hat centred on the mean,
// squeezes first and the exact log-probability last.
Integer HypRatioOfUnifoms(Integer n, Integer m, Integer nn) {
  const Integer l = nn - m - n;
  if (!HypCacheHolds(n, m, nn, tHypMethod::RatioOfUniforms)) {
    HypCacheStore(n, m, nn, tHypMethod::RatioOfUniforms);
    // NN + 2 is taken as a real: near the largest Integer it would overflow.
    const Double rNN = 1.0 / (static_cast<Double>(nn) * (nn + 2.0));
    const Double my = static_cast<Double>(n) * m * rNN * (nn + 2.0);
    const Integer mode = static_cast<Integer>(Double(n + 1) * Double(m + 1) * rNN * nn);
    const Double var =
        static_cast<Double>(n) * m * (nn - m) * (nn - n) / (static_cast<Double>(nn) * nn * (nn - 1));
    gHyp.H = std::sqrt(Shat1 * (var + 0.5)) + Shat2;
    gHyp.A = my + 0.5;
    gHyp.Fm = fc_lnpk(mode, l, m, n);
    gHyp.Bound = static_cast<Integer>(gHyp.A + 4.0 * gHyp.H);
    if (gHyp.Bound > n) gHyp.Bound = n;
  }
  Integer k;
  for (;;) {
    const Double u = U();
    if (u == 0) continue;
    const Double x = gHyp.A + gHyp.H * (U() - 0.5) / u;
    if (x < 0 || x > 2e9) continue;
    k = static_cast<Integer>(x);
    if (k > gHyp.Bound) continue;
    const Double lf = gHyp.Fm - fc_lnpk(k, l, m, n);
    if (u * (4.0 - u) - 3.0 <= lf) break;  // inside the lower squeeze
    if (u * (u - lf) > 1.0) continue;      // outside the upper squeeze
    if (2.0 * std::log(u) <= lf) break;
  }
  return k;
}

// ------------------------------------------------------------------ multivariate hypergeometric

void MultiHypergeometric(const tVectorOfCardinal& counts, tVectorOfCardinal& result, Integer n,
                         bool takeAll) {
  Assert(n >= 0, "Parameter negative in multihypergeo function");
  result.assign(counts.size(), 0);
  if (counts.empty()) return;
  int64_t total = 0;
  for (Cardinal c : counts) total += c;
  if (total < n) {
    if (takeAll) {
      result = counts;
      return;
    }
    throw EInvalidArgument("N > sum in multihypergeometric function");
  }
  if (total > std::numeric_limits<Integer>::max())
    throw ERangeError(Format("Too many items in multihypergeometric function: %d", total));
  if (counts.size() == 1) {
    result[0] = static_cast<Cardinal>(n);
    return;
  }
  Integer left = n;
  Integer remaining = static_cast<Integer>(total);
  for (size_t i = 0; i + 1 < counts.size(); ++i) {
    const Integer x = HypergeometricRan(left, static_cast<Integer>(counts[i]), remaining);
    result[i] = static_cast<Cardinal>(x);
    left -= x;
    remaining -= static_cast<Integer>(counts[i]);
  }
  result.back() = static_cast<Cardinal>(left);
}

// ------------------------------------------------------------------ log factorials

Double LnFac(Integer n) {
  Assert(n >= 0, "Parameter negative in LnFac function");
  if (n < LnFacTableLength) {
    if (!gLnFac.Filled) {
      gLnFac.Values[0] = 0;
      for (Integer i = 1; i < LnFacTableLength; ++i)
        gLnFac.Values[i] = gLnFac.Values[i - 1] + std::log(Double(i));
      gLnFac.Filled = true;
    }
    return gLnFac.Values[n];
  }
  // Stirling's series; the table covers the small arguments where it is poor.
  const Double n1 = n;
  const Double r = 1.0 / n1;
  return (n1 + 0.5) * std::log(n1) - n1 + 0.9189385332046727 + r * (1.0 / 12 - r * r / 360);
}

Double fc_lnpk(Integer k, Integer nMn, Integer m, Integer n) {
  return LnFac(k) + LnFac(m - k) + LnFac(n - k) + LnFac(nMn + k);
}

namespace SamplingOps {
Double gammln(Double x) {
  return utile::gammln(x);
}
}  // namespace SamplingOps

}  // namespace utile
