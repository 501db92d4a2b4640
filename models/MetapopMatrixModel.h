// The patch matrix model: a population-based demogenetic model of the
// landscape's patches. Each step produces juveniles in every patch under density
// dependence, sends them to every patch through an island-model dispersal
// matrix damped by survival over distance, regulates the arrivals, applies local
// and spatially autocorrelated regional extinction, and carries forward each
// patch's inbreeding and the coancestry of every pair of patches under drift,
// migration and mutation. Over the last steps of a run it keeps the settlers of
// each patch by patch of birth, from which reproductive values are derived.
//
// The workbench fills the fields, chooses the strategies, calls Initialise, then
// Run one or more times; the model owns no window and writes no file.
#pragma once

#include <functional>

#include "Utile/CommonDecl.h"
#include "models/MetapopCommon.h"

namespace models {

using utile::tMatrixOfDouble;
using utile::tVectorOfDouble;

class tMatrixModel {
 public:
  using tRegulation = tMatrixOfDouble (tMatrixModel::*)(const tMatrixOfDouble& A, const tVectorOfDouble& K);
  using tFecundityFunction = tVectorOfDouble (tMatrixModel::*)(const tVectorOfDouble& N,
                                                               const tVectorOfDouble& b,
                                                               const tVectorOfDouble& K,
                                                               const tVectorOfDouble& s, Double Intercepte,
                                                               Double Flatness);
  using tOffspringFunction = tMatrixOfDouble (tMatrixModel::*)(const tVectorOfDouble& N,
                                                               const tVectorOfDouble& f,
                                                               const tMatrixOfDouble& c,
                                                               const tMatrixOfDouble& ExpADij);

  // Create: logistic fecundity and stochastic offspring, every array empty,
  // every number 0, no regulation chosen.
  tMatrixModel();

  // ------------------------------------------------------ fields (declaration order)
  tRegulation fRegulation = nullptr;
  tFecundityFunction fFecundityFunction;
  tOffspringFunction fStochasticOrDeterministFunction;
  Integer fPatchCount = 0;
  tVectorOfDouble Nt1;      // settlers per patch in the current step, after extinction
  tMatrixOfDouble O;        // backward migration: O[i][j] the share of i's settlers born in j
  tParam param;             // the workbench's landscape parameters; the model does not read it
  tMatrixOfDouble ExpADij;  // survival over the distance between two patches
  utile::t2DPoints Patches;
  tVectorOfDouble N;      // population size per patch
  tVectorOfDouble Nb;     // juveniles born per patch in the current step
  Double Nt = 0;          // settlers of the current step before extinction
  tVectorOfDouble b;      // fecundity per patch
  tVectorOfDouble s;      // survival per patch (the strategies do not use it)
  tVectorOfDouble K;      // carrying capacity per patch
  tMatrixOfDouble c;      // dispersal matrix (island model)
  tMatrixOfDouble d;      // distances between the patches
  Double Alpha = 0;       // 1 / mean dispersal distance
  Double gamma = 0;       // (1 - Mu)^2: neither of two genes mutated
  Double Erm = 0;         // mean regional extinction risk
  Double Err = 0;         // range of the regional field's autocorrelation; 0: no field
  tVectorOfDouble Er;     // current regional deviate per patch
  tVectorOfDouble El;     // local extinction probability per patch and step
  Double Er1 = 0;         // a patch whose deviate is below it goes extinct
  tMatrixOfDouble mCorr;  // correlations of the regional field
  tVectorOfDouble F;      // inbreeding coefficient per patch
  Double Mu = 0;          // mutation rate per gene and step
  Double Territory = 0;
  tMatrixOfDouble G;      // coancestry transition matrix, n^2 x n^2, made by ComputeGmatrix only
  tMatrixOfDouble Theta;  // coancestry within ([i][i]) and between patches
  tMatrixOfDouble Thb;    // coancestry of the juveniles before dispersal
  tVectorOfDouble Fb;     // inbreeding of the juveniles before dispersal
  Integer tMax = 0;       // steps requested from Run since Initialise
  Integer stop = 0;       // steps performed since Initialise
  Integer NbrTimeStep = 0;
  bool isbreak = false;  // the last Run ended because the metapopulation died out
  Double ThetaG = 0;     // global coancestry, pairs of distinct individuals
  Double ThetaGall = 0;  // global coancestry, self-pairs included
  Double Intercepte = 0;
  Double Flatness = 0;
  Double migration = 0;
  Double NeWB = 0;
  Integer EquilibriumEffectiveSize = 0;
  // After ComputeAverageReproductiveValue: settlers in i born in j per step of
  // the averaging window, divided by the mean size of i (backward matrix).
  tMatrixOfDouble SumEffectiveJuvOrig;
  tVectorOfDouble SumNi;  // mean size per patch over the window
  tVectorOfDouble RealR, RealL;
  Double RealEigenVal = 0;
  tMatrixOfDouble SumEffectiveJuvOrigForward;  // the same divided by the size of the patch of birth
  tVectorOfDouble RealForwardR, RealForwardL;
  Double RealEigenValForward = 0;
  tVectorOfDouble RealForwardPatchRepVal;
  tMatrixOfDouble EffectContr;
  tVectorOfDouble KwRealR, KwRealL;
  Double KwRealEigenVal = 0;
  Integer Kwerr = 0;
  tVectorOfDouble KwRealForwardR, KwRealForwardL;
  Double KwRealEigenValForward = 0;
  tVectorOfDouble KwRealForwardPatchRepVal;
  Integer KwerrForward = 0;

  // ------------------------------------------------------------------ operations
  Integer PatchCount() const { return fPatchCount; }
  // Sizes every vector to n and every matrix to n x n (contents kept, G left
  // alone); the model must be initialised again before it runs.
  void SetPatchCount(Integer n);
  // 0 "Scramble", 1 "Scramble-Allee", 2 "Ceiling", 3 "Scramble-Allee(Sex)";
  // another value changes nothing.
  void SetFecundityFunction(Integer type);
  // 0 "Determinist", 1 "Stochastic"; another value changes nothing.
  void SetStochasticOrDeterministFunction(Integer type);
  // Prepares a run from the fields the workbench has filled. EInvalidArgument
  // naming the patch for a capacity or fecundity that is not above 0, a survival
  // between two patches that underflows to 0, or a regional risk outside [0, 1];
  // the model is then not prepared.
  void Initialise();
  // Whether Initialise has prepared the model for these patches.
  bool Initialised() const { return fInitialised; }
  // The model is no longer prepared (the workbench refused its parameters).
  void Invalidate() { fInitialised = false; }
  // Steps time steps, then G when ComputeG. Lets pending window messages through
  // once per step and ends after the step in which the abort check answers true
  // (Aborted() tells). EInvalidOperation when the model is not prepared.
  void Run(Integer Steps, bool ComputeG);
  bool Aborted() const { return fAborted; }
  void SetAbortCheck(std::function<bool()> check) { fAbortCheck = std::move(check); }
  void ComputeGmatrix();
  // The averages over the steps summed since Initialise (the window is the
  // steps numbered above NbrTimeStep - 999), into SumNi, SumEffectiveJuvOrig
  // and SumEffectiveJuvOrigForward; a size of 0 divides to 0. A second call
  // gives the same result; a continued run goes on summing.
  void ComputeAverageReproductiveValue();
  // The number of steps summed for the averages.
  Integer AveragedSteps() const { return fAveragedSteps; }

  // ------------------------------------------------------------------ strategies
  tVectorOfDouble FecundityLogistic(const tVectorOfDouble& N, const tVectorOfDouble& b,
                                    const tVectorOfDouble& K, const tVectorOfDouble& s, Double Intercepte,
                                    Double Flatness);
  tVectorOfDouble FecundityLogisticAllee(const tVectorOfDouble& N, const tVectorOfDouble& b,
                                         const tVectorOfDouble& K, const tVectorOfDouble& s,
                                         Double Intercepte, Double Flatness);
  tVectorOfDouble FecundityCeiling(const tVectorOfDouble& N, const tVectorOfDouble& b,
                                   const tVectorOfDouble& K, const tVectorOfDouble& s, Double Intercepte,
                                   Double Flatness);
  tVectorOfDouble FecundityLogisticSex(const tVectorOfDouble& N, const tVectorOfDouble& b,
                                       const tVectorOfDouble& K, const tVectorOfDouble& s, Double Intercepte,
                                       Double Flatness);
  // A[i][j]: juveniles born in j that settle in i, Poisson of c E N_j f_j, drawn
  // row by row.
  tMatrixOfDouble Stochastic(const tVectorOfDouble& N, const tVectorOfDouble& f, const tMatrixOfDouble& c,
                             const tMatrixOfDouble& ExpADij);
  // The same means rounded, halves to even.
  tMatrixOfDouble Determinist(const tVectorOfDouble& N, const tVectorOfDouble& f, const tMatrixOfDouble& c,
                              const tMatrixOfDouble& ExpADij);
  tMatrixOfDouble NoRegulation(const tMatrixOfDouble& A, const tVectorOfDouble& K);
  // Each patch keeps at most Round(K) settlers of a Poisson number of its
  // arrivals, shared among the patches of birth in proportion to the arrivals.
  tMatrixOfDouble RegulationCeiling(const tMatrixOfDouble& A, const tVectorOfDouble& K);

 private:
  void CheckFilled() const;

  bool fInitialised = false;
  bool fAborted = false;
  std::function<bool()> fAbortCheck;
  // The raw sums of the averaging window and the number of steps they hold.
  tVectorOfDouble fWindowSumNi;
  tMatrixOfDouble fWindowSumSettlers;
  Integer fAveragedSteps = 0;
};

}  // namespace models
