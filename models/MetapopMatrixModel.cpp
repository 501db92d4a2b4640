#include "models/MetapopMatrixModel.h"

#include <cmath>

#include "Utile/Platform.h"
#include "Utile/RandomFunctions.h"
#include "Utile/RunTime.h"

namespace models {

namespace {
// Mate finding by rounded patch size 0 to 9, as stored.
constexpr Double MateFinding[10] = {0, 0, 0.5, 0.75, 0.875, 0.9375, 0.9687, 0.9843, 0.9921, 0.996};

void Resize(tMatrixOfDouble& m, size_t n) {
  m.resize(n);
  for (tVectorOfDouble& row : m) row.resize(n);
}

tMatrixOfDouble Zeros(size_t n) {
  return tMatrixOfDouble(n, tVectorOfDouble(n, 0.0));
}

// b^(1 - N/K) as the strategies compute it.
Double Logistic(Double b, Double n, Double k) {
  return std::exp(std::log(b) * (1 - n / k));
}
}  // namespace

tMatrixModel::tMatrixModel()
    : fFecundityFunction(&tMatrixModel::FecundityLogistic),
      fStochasticOrDeterministFunction(&tMatrixModel::Stochastic) {}

void tMatrixModel::SetPatchCount(Integer n) {
  utile::Assert(n >= 0, "Negative patch count");
  fPatchCount = n;
  fInitialised = false;
  for (tVectorOfDouble* v : {&Nt1,
                             &N,
                             &Nb,
                             &b,
                             &s,
                             &K,
                             &Er,
                             &El,
                             &F,
                             &Fb,
                             &SumNi,
                             &RealR,
                             &RealL,
                             &RealForwardR,
                             &RealForwardL,
                             &RealForwardPatchRepVal,
                             &KwRealR,
                             &KwRealL,
                             &KwRealForwardR,
                             &KwRealForwardL,
                             &KwRealForwardPatchRepVal})
    v->resize(n);
  // G (n^2 x n^2) is made only when it is computed: at a hundred patches it
  // would take 800 MB.
  for (tMatrixOfDouble* m :
       {&O, &ExpADij, &c, &d, &Theta, &Thb, &SumEffectiveJuvOrig, &SumEffectiveJuvOrigForward, &EffectContr})
    Resize(*m, n);
  Patches.resize(n);
}

void tMatrixModel::SetFecundityFunction(Integer type) {
  switch (type) {
    case 0:
      fFecundityFunction = &tMatrixModel::FecundityLogistic;
      fRegulation = &tMatrixModel::NoRegulation;
      fStochasticOrDeterministFunction = &tMatrixModel::Stochastic;
      break;
    case 1:
      fFecundityFunction = &tMatrixModel::FecundityLogisticAllee;
      fRegulation = &tMatrixModel::NoRegulation;
      fStochasticOrDeterministFunction = &tMatrixModel::Stochastic;
      break;
    case 2:
      fFecundityFunction = &tMatrixModel::FecundityCeiling;
      fRegulation = &tMatrixModel::RegulationCeiling;
      fStochasticOrDeterministFunction = &tMatrixModel::Determinist;
      break;
    case 3:
      fFecundityFunction = &tMatrixModel::FecundityLogisticSex;
      fRegulation = &tMatrixModel::NoRegulation;
      fStochasticOrDeterministFunction = &tMatrixModel::Stochastic;
      break;
    default:
      break;
  }
}

void tMatrixModel::SetStochasticOrDeterministFunction(Integer type) {
  if (type == 0) fStochasticOrDeterministFunction = &tMatrixModel::Determinist;
  if (type == 1) fStochasticOrDeterministFunction = &tMatrixModel::Stochastic;
}

// ------------------------------------------------------------------ strategies

tVectorOfDouble tMatrixModel::FecundityLogistic(const tVectorOfDouble& N, const tVectorOfDouble& b,
                                                const tVectorOfDouble& K, const tVectorOfDouble&, Double,
                                                Double) {
  tVectorOfDouble f(N.size(), 0.0);
  for (size_t i = 0; i < N.size(); ++i)
    if (N[i] > 1) f[i] = Logistic(b[i], N[i], K[i]);
  return f;
}

tVectorOfDouble tMatrixModel::FecundityLogisticAllee(const tVectorOfDouble& N, const tVectorOfDouble& b,
                                                     const tVectorOfDouble& K, const tVectorOfDouble&,
                                                     Double Intercepte, Double Flatness) {
  tVectorOfDouble f(N.size(), 0.0);
  for (size_t i = 0; i < N.size(); ++i)
    if (N[i] > 1) f[i] = Logistic(b[i], N[i], K[i]) - std::exp(-Flatness * N[i]) * (b[i] - Intercepte * b[i]);
  return f;
}

tVectorOfDouble tMatrixModel::FecundityCeiling(const tVectorOfDouble&, const tVectorOfDouble& b,
                                               const tVectorOfDouble&, const tVectorOfDouble&, Double,
                                               Double) {
  tVectorOfDouble f(N.size(), 0.0);
  for (size_t i = 0; i < N.size(); ++i)
    if (N[i] > 1) f[i] = b[i];
  return f;
}

tVectorOfDouble tMatrixModel::FecundityLogisticSex(const tVectorOfDouble& N, const tVectorOfDouble& b,
                                                   const tVectorOfDouble& K, const tVectorOfDouble&, Double,
                                                   Double) {
  tVectorOfDouble f(N.size(), 0.0);
  for (size_t i = 0; i < N.size(); ++i) {
    if (N[i] == 0) continue;
    const Double logistic = Logistic(b[i], N[i], K[i]);
    f[i] = N[i] <= 9 ? MateFinding[utile::Round(N[i])] * logistic : logistic;
  }
  return f;
}

tMatrixOfDouble tMatrixModel::Stochastic(const tVectorOfDouble& N, const tVectorOfDouble& f,
                                         const tMatrixOfDouble& c, const tMatrixOfDouble& ExpADij) {
  const size_t n = N.size();
  tMatrixOfDouble A = Zeros(n);
  for (size_t i = 0; i < n; ++i)
    for (size_t j = 0; j < n; ++j) A[i][j] = utile::PoissonRan(c[i][j] * ExpADij[i][j] * (N[j] * f[j]));
  return A;
}

tMatrixOfDouble tMatrixModel::Determinist(const tVectorOfDouble& N, const tVectorOfDouble& f,
                                          const tMatrixOfDouble& c, const tMatrixOfDouble& ExpADij) {
  const size_t n = N.size();
  tMatrixOfDouble A = Zeros(n);
  for (size_t i = 0; i < n; ++i)
    for (size_t j = 0; j < n; ++j)
      A[i][j] = static_cast<Double>(utile::Round(c[i][j] * ExpADij[i][j] * (N[j] * f[j])));
  return A;
}

tMatrixOfDouble tMatrixModel::NoRegulation(const tMatrixOfDouble& A, const tVectorOfDouble&) {
  return A;
}

tMatrixOfDouble tMatrixModel::RegulationCeiling(const tMatrixOfDouble& A, const tVectorOfDouble& K) {
  const size_t n = A.size();
  tVectorOfDouble arrivals(n, 0.0);
  std::vector<Integer> kept(n);
  for (size_t i = 0; i < n; ++i) {
    for (Double a : A[i]) arrivals[i] += a;
    kept[i] = static_cast<Integer>(std::min<int64_t>(utile::Round(K[i]), utile::PoissonRan(arrivals[i])));
  }
  tMatrixOfDouble S = Zeros(n);
  for (size_t i = 0; i < n; ++i) {
    if (kept[i] < 1) continue;
    // The sampler takes the shares of the patches of birth, which sum to 1.
    tVectorOfDouble shares(n);
    for (size_t j = 0; j < n; ++j) shares[j] = A[i][j] / arrivals[i];
    const utile::tVectorOfInteger counts = utile::MultinomialRan(kept[i], shares);
    for (size_t j = 0; j < n; ++j) S[i][j] = counts[j];
  }
  return S;
}

// ------------------------------------------------------------------ initialisation

void tMatrixModel::CheckFilled() const {
  const size_t n = static_cast<size_t>(fPatchCount);
  for (const tVectorOfDouble* v : {&N, &b, &s, &K, &El})
    utile::Assert(v->size() == n, "Model vectors not sized to the patch count");
  utile::Assert(c.size() == n && Patches.size() == n, "Model matrices not sized to the patch count");
}

void tMatrixModel::Initialise() {
  fInitialised = false;
  CheckFilled();
  const Integer n = fPatchCount;
  for (Integer i = 0; i < n; ++i) {
    if (!(K[i] > 0) || !std::isfinite(K[i]))
      throw utile::EInvalidArgument(utile::Format(
          "The carrying capacity of patch %d is %g: every patch needs a capacity above 0.", i + 1, K[i]));
    if (!(b[i] > 0) || !std::isfinite(b[i]))
      throw utile::EInvalidArgument(
          utile::Format("The fecundity of patch %d is %g: it must be above 0.", i + 1, b[i]));
  }
  if (!(Erm >= 0 && Erm <= 1))
    throw utile::EInvalidArgument(
        utile::Format("The mean regional risk is %g: it must be between 0 and 1.", Erm));
  Er1 = static_cast<Double>(-utile::Ninv(1 - static_cast<utile::Extended>(Erm)));
  mCorr.clear();
  // Without autocorrelation range there is no regional field (and no range to draw it with).
  if (Err > 0) utile::NetworkRan(Patches, 0.0, 1.0, 1.0, Err, Er, mCorr);
  for (Integer i = 0; i < n; ++i) {
    Er[i] = 0;
    for (Integer j = 0; j <= i; ++j) {
      const Double dx = Patches[i].x - Patches[j].x, dy = Patches[i].y - Patches[j].y;
      d[i][j] = d[j][i] = std::sqrt(dx * dx + dy * dy);
      ExpADij[i][j] = ExpADij[j][i] = std::exp(-Alpha * d[i][j]);
      // The juveniles born are counted as the settlers divided by their survival.
      if (!(ExpADij[i][j] > 0) || !std::isfinite(ExpADij[i][j]))
        throw utile::EInvalidArgument(utile::Format(
            "The survival between patches %d and %d (distance %g) is %g: the mean dispersal distance is too "
            "short for this landscape.",
            j + 1, i + 1, d[i][j], ExpADij[i][j]));
    }
  }
  Theta = Zeros(n);
  Thb = Zeros(n);
  G.clear();
  F.assign(n, 0.0);
  Fb.assign(n, 0.0);
  gamma = (1 - Mu) * (1 - Mu);
  tMax = 0;
  stop = 0;
  isbreak = false;
  fAborted = false;
  SumEffectiveJuvOrigForward = Zeros(n);
  SumEffectiveJuvOrig = Zeros(n);
  EffectContr = Zeros(n);
  SumNi.assign(n, 0.0);
  fWindowSumNi.assign(n, 0.0);
  fWindowSumSettlers = Zeros(n);
  fAveragedSteps = 0;
  fInitialised = true;
}

// ------------------------------------------------------------------ the run

namespace {
// R := O X transpose(O) for a symmetric X (n x n): R is symmetric, so only its
// upper triangle is summed.
void Conjugate(const tMatrixOfDouble& O, const tMatrixOfDouble& X, tMatrixOfDouble& work,
               tMatrixOfDouble& R) {
  const size_t n = O.size();
  for (size_t i = 0; i < n; ++i) {
    Double* w = work[i].data();
    std::fill(w, w + n, 0.0);
    for (size_t l = 0; l < n; ++l) {
      const Double o = O[i][l];
      if (o == 0) continue;
      const Double* x = X[l].data();
      for (size_t j = 0; j < n; ++j) w[j] += o * x[j];
    }
  }
  for (size_t i = 0; i < n; ++i)
    for (size_t k = i; k < n; ++k) {
      const Double* w = work[i].data();
      const Double* o = O[k].data();
      Double sum = 0;
      for (size_t j = 0; j < n; ++j) sum += w[j] * o[j];
      R[i][k] = R[k][i] = sum;
    }
}
}  // namespace

void tMatrixModel::Run(Integer Steps, bool ComputeG) {
  if (!fInitialised || !fRegulation)
    throw utile::EInvalidOperation("The matrix model is not initialised: it cannot run.");
  const size_t n = static_cast<size_t>(fPatchCount);
  Nt1.assign(n, 0.0);
  tVectorOfDouble born(n);
  tMatrixOfDouble work = Zeros(n);
  isbreak = false;
  fAborted = false;
  for (Integer step = 0; step < Steps; ++step) {
    ++stop;
    const tVectorOfDouble f = (this->*fFecundityFunction)(N, b, K, s, Intercepte, Flatness);
    const tMatrixOfDouble A = (this->*fStochasticOrDeterministFunction)(N, f, c, ExpADij);
    tMatrixOfDouble S = (this->*fRegulation)(A, K);
    Nt = 0;
    std::fill(Nt1.begin(), Nt1.end(), 0.0);
    if (Err > 0) utile::NetworkRan(Patches, 0.0, 1.0, 1.0, Err, Er, mCorr);
    std::fill(born.begin(), born.end(), 0.0);
    for (size_t j = 0; j < n; ++j)
      for (size_t i = 0; i < n; ++i) born[i] += S[j][i] / ExpADij[j][i];
    Nb = born;
    for (size_t i = 0; i < n; ++i) {
      for (size_t j = 0; j < n; ++j) Nt1[i] += S[i][j];
      for (size_t j = 0; j < n; ++j) O[i][j] = Nt1[i] != 0 ? S[i][j] / Nt1[i] : 0;
      Nt += Nt1[i];
    }
    if (Nt <= 0) {
      isbreak = true;
      break;
    }

    // The juveniles before dispersal, from the sizes before this step.
    for (size_t i = 0; i < n; ++i) {
      const bool contributes = born[i] != 0;
      Fb[i] = contributes ? gamma * Theta[i][i] : 0;
      if (N[i] == 0) {
        for (size_t j = 0; j < n; ++j) Thb[i][j] = Thb[j][i] = 0;
        continue;
      }
      Thb[i][i] = contributes ? gamma * ((1 + F[i]) / (2 * N[i]) + (1 - 1 / N[i]) * Theta[i][i]) : 0;
      for (size_t j = 0; j < n; ++j)
        if (j != i) Thb[i][j] = contributes && born[j] != 0 ? gamma * Theta[i][j] : 0;
    }
    for (size_t i = 0; i < n; ++i) {
      Double sum = 0;
      for (size_t j = 0; j < n; ++j) sum += O[i][j] * Fb[j];
      F[i] = sum;
    }
    // Thb is symmetric: an empty patch has its row and its column at 0.
    Conjugate(O, Thb, work, Theta);

    for (size_t i = 0; i < n; ++i) {
      const bool local = Nt1[i] > 0 && utile::Ran() < El[i];
      if (local || Er[i] < Er1) {
        Nt1[i] = 0;
        F[i] = 0;
        for (size_t j = 0; j < n; ++j) Theta[i][j] = Theta[j][i] = 0;
      }
    }
    Double total = 0;
    for (size_t i = 0; i < n; ++i) {
      N[i] = Nt1[i];
      if (N[i] > 0 && N[i] < 1) N[i] = static_cast<Double>(utile::Round(N[i]));
      total += N[i];
    }
    if (total <= 0) {
      isbreak = true;
      break;
    }

    // Over ordered pairs of patches the sizes' products sum to (sum of N)^2.
    Double within = 0, withinTheta = 0, pairTheta = 0, selfTerms = 0, sumN = 0;
    for (size_t i = 0; i < n; ++i) {
      const Double pairsInside = N[i] * (N[i] - 1);
      within += pairsInside;
      withinTheta += pairsInside * Theta[i][i];
      selfTerms += N[i] * F[i] / 2 + N[i] / 2;
      sumN += N[i];
      for (size_t j = 0; j < n; ++j) pairTheta += N[i] * N[j] * Theta[i][j];
    }
    ThetaG = (withinTheta + pairTheta) / (within + sumN * sumN);
    ThetaGall = (selfTerms + withinTheta + pairTheta) / (sumN + within + sumN * sumN);

    for (size_t i = 0; i < n; ++i)
      if (N[i] == 0) std::fill(S[i].begin(), S[i].end(), 0.0);
    if (stop > NbrTimeStep - 999) {
      ++fAveragedSteps;
      for (size_t i = 0; i < n; ++i) {
        fWindowSumNi[i] += N[i];
        for (size_t j = 0; j < n; ++j) fWindowSumSettlers[i][j] += S[i][j];
      }
    }

    utile::ProcessMessages();
    if (fAbortCheck && fAbortCheck()) {
      fAborted = true;
      break;
    }
  }
  if (ComputeG) ComputeGmatrix();
  tMax += Steps;
}

void tMatrixModel::ComputeGmatrix() {
  const size_t n = static_cast<size_t>(fPatchCount);
  G.assign(n * n, tVectorOfDouble(n * n, 0.0));
  for (size_t i = 0; i < n; ++i)
    for (size_t k = 0; k < n; ++k) {
      tVectorOfDouble& row = G[i * n + k];
      const Double drift = k != i ? 1 : (N[i] > 0 ? 1 - 1 / (2 * N[i]) : 0);
      for (size_t j = 0; j < n; ++j)
        for (size_t l = 0; l < n; ++l) row[j * n + l] = O[i][j] * O[k][l] * drift;
    }
}

void tMatrixModel::ComputeAverageReproductiveValue() {
  const size_t n = static_cast<size_t>(fPatchCount);
  const Double steps = fAveragedSteps;
  SumNi.assign(n, 0.0);
  for (size_t i = 0; i < n; ++i) SumNi[i] = steps > 0 ? fWindowSumNi[i] / steps : 0;
  SumEffectiveJuvOrig = Zeros(n);
  SumEffectiveJuvOrigForward = Zeros(n);
  for (size_t i = 0; i < n; ++i)
    for (size_t j = 0; j < n; ++j) {
      const Double mean = steps > 0 ? fWindowSumSettlers[i][j] / steps : 0;
      SumEffectiveJuvOrigForward[i][j] = SumNi[j] != 0 ? mean / SumNi[j] : 0;
      SumEffectiveJuvOrig[i][j] = SumNi[i] != 0 ? mean / SumNi[i] : 0;
    }
}

}  // namespace models
