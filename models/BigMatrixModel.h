// The stochastic patch-occupancy model over all occupancy states of a small set
// of demes: with Nd demes of two states each there are 2^Nd occupancy states,
// deme d occupied in state s when bit d of s is 1. The model builds, as virtual
// matrices, the transition matrix between occupancy states (P0, without the
// absorbing all-empty state), the matrix of gene identity between pairs of demes
// for one occupancy state (G) and their combination (T, one row per occupancy
// state and pair of demes), and computes their dominant eigenvalues: Lp0
// (persistence), Lg (decay of genetic diversity) and Lt, exactly by power
// iteration on T or by the Kesp3 approximation from the eigensystems of P0 and
// G. A hierarchical analysis solves clusters of demes and treats each cluster as
// one deme of a coarser model, level after level.
//
// The cells are computed from the deme parameters on demand; SetN0 moves the
// model's current occupancy state as cells are evaluated. The iterations use
// whole passes that give the same cells without a call per cell.
#pragma once

#include <array>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Utile/CommonDecl.h"
#include "Utile/RunTime.h"
#include "Utile/VirtualMatrixOps.h"

namespace models {

using utile::Cardinal;
using utile::Double;
using utile::Extended;
using utile::Integer;

class tBigMatrixModel;
class tBigSPOMModel;
struct tSourceFactors;

// The state numbers and index tables hold the states of at most 16 demes of two
// states (the workbench takes at most 16 patches).
constexpr Integer MaxBigMatrixDemes = 16;

enum tBMAlgorithm { bmaExact, bmaKesp3 };

// A virtual matrix of a model (not owned).
class tBigVirtualMatrix : public utile::tRAMVirtualMatrixOfDouble {
 public:
  explicit tBigVirtualMatrix(tBigMatrixModel* Model) : fBigMatrixModel(Model) {}
  tBigMatrixModel* BigMatrixModel() const { return fBigMatrixModel; }
  // The right eigenvector to sum 1, then the left one so that left . right = 1
  // (each only when it is off by more than 0.0001): EigenSensitivity then gives
  // the sensitivity of the eigenvalue to each cell.
  void NormaliseEigenvectors();

 protected:
  tBigMatrixModel* fBigMatrixModel;
};

// P0: cell (r, c) = GetP(r + 1, c + 1), the occupancy states without the empty one.
class tBigDemographicMatrix : public tBigVirtualMatrix {
 public:
  using tBigVirtualMatrix::tBigVirtualMatrix;
  Double GetCells(Cardinal Row, Cardinal Col) override;
  Cardinal GetColCount() override;
  Cardinal GetRowCount() override;
  // By blocks of source states where every deme factor is a probability, else as
  // ProductBySourceState.
  bool Product(const utile::tVectorOfDouble& x, utile::tVectorOfDouble& y, bool Transposed,
               bool LetMessagesThrough) override;
  // The same pass one source state at a time, the result vector updated for
  // each: for any parameters (and the measure of the blocks in the benchmarks).
  virtual bool ProductBySourceState(const utile::tVectorOfDouble& x, utile::tVectorOfDouble& y,
                                    bool Transposed, bool LetMessagesThrough);
  // The cells are computed, never read from the window.
  bool IterationsReadWindow() override { return false; }

 protected:
  void ComputeWindow(Cardinal MinRow, Cardinal MaxRow, Cardinal MinCol, Cardinal MaxCol,
                     utile::tMatrixOfDouble& Window) override;
};

// P0L: P0 with each row scaled by the genetic eigenvalue of its state; GetP0L.
class tP0LMatrix : public tBigDemographicMatrix {
 public:
  using tBigDemographicMatrix::tBigDemographicMatrix;
  Double GetCells(Cardinal Row, Cardinal Col) override;
  // One source state at a time, always.
  bool Product(const utile::tVectorOfDouble& x, utile::tVectorOfDouble& y, bool Transposed,
               bool LetMessagesThrough) override;
  bool ProductBySourceState(const utile::tVectorOfDouble& x, utile::tVectorOfDouble& y, bool Transposed,
                            bool LetMessagesThrough) override;

 protected:
  void ComputeWindow(Cardinal MinRow, Cardinal MaxRow, Cardinal MinCol, Cardinal MaxCol,
                     utile::tMatrixOfDouble& Window) override;
};

// G for the occupancy state State: Nd^2 pairs of demes; GetG.
class tBigGeneticMatrix : public tBigVirtualMatrix {
 public:
  using tBigVirtualMatrix::tBigVirtualMatrix;
  Double GetCells(Cardinal Row, Cardinal Col) override;
  Cardinal GetColCount() override;
  Cardinal GetRowCount() override;
  bool Product(const utile::tVectorOfDouble& x, utile::tVectorOfDouble& y, bool Transposed,
               bool LetMessagesThrough) override;
  // The cells are computed, never read from the window.
  bool IterationsReadWindow() override { return false; }

  Cardinal State = 0;
};

// T: (rows of P0) x Nd^2 rows; the cached cell inside the window, else GetT.
class tBigTransitionMatrix : public tBigVirtualMatrix {
 public:
  using tBigVirtualMatrix::tBigVirtualMatrix;
  Double GetCells(Cardinal Row, Cardinal Col) override;
  Cardinal GetColCount() override;
  Cardinal GetRowCount() override;
  // y = T x by blocks of source states where every deme factor is a probability,
  // else (and for the transposed pass) as ProductBySourceState.
  bool Product(const utile::tVectorOfDouble& x, utile::tVectorOfDouble& y, bool Transposed,
               bool LetMessagesThrough) override;
  // One source state at a time, the result vector updated for each.
  bool ProductBySourceState(const utile::tVectorOfDouble& x, utile::tVectorOfDouble& y, bool Transposed,
                            bool LetMessagesThrough);
  // Only where the iterations read cells: a model without whole passes.
  bool IterationsReadWindow() override;

 protected:
  void ComputeWindow(Cardinal MinRow, Cardinal MaxRow, Cardinal MinCol, Cardinal MaxCol,
                     utile::tMatrixOfDouble& Window) override;
};

class tBigMatrixModel {
 public:
  // Sizes every parameter (all 0) for Nd demes of Ns states and creates the
  // matrices. ERangeError for more states than the tables hold.
  tBigMatrixModel(Integer Ns, Integer Nd);
  virtual ~tBigMatrixModel();
  tBigMatrixModel(const tBigMatrixModel&) = delete;
  tBigMatrixModel& operator=(const tBigMatrixModel&) = delete;

  // The state functions; abstract here (EAbstractError).
  virtual Integer DemeState(Integer State, Integer Deme);
  virtual Double GetG(Cardinal Row, Cardinal Col, Cardinal State);
  virtual void SetN0(Cardinal State);
  virtual Double GetP(Cardinal Row, Cardinal Col);
  virtual Double GetP0L(Cardinal Row, Cardinal Col);
  virtual Double GetT(Cardinal Row, Cardinal Col);
  virtual utile::tVectorOfDouble PatchProportionalOccupancy();

  // Parameters. None of the setters calls Reset: a caller that changes
  // parameters after a computation calls it.
  Double Getb(Integer Deme) const;
  Double Gete(Integer Deme) const;
  Double GetM(Integer To, Integer From) const;
  Double GetN(Integer Deme, Integer DemeStateValue) const;
  Double GetNe(Integer Deme, Integer DemeStateValue) const;
  void Setb(Integer Deme, Double Value);
  void Sete(Integer Deme, Double Value);
  void SetM(Integer To, Integer From, Double Value);
  void SetN(Integer Deme, Integer DemeStateValue, Double Value);
  void SetNe(Integer Deme, Integer DemeStateValue, Double Value);
  void SetCoefficientPrecision(Double Value);
  Double CoefficientPrecision() const { return fCoefficientPrecision; }

  const utile::tVectorOfDouble& Birth() const { return b; }
  const utile::tVectorOfDouble& Extinction() const { return e; }
  const utile::tMatrixOfDouble& MigrationMat() const { return M; }
  const utile::tMatrixOfDouble& NumberMat() const { return N; }
  const utile::tMatrixOfDouble& EffectiveSize() const { return Ne; }
  const utile::tMatrixOfDouble& StateTransitionMat() const { return S; }
  const utile::tMatrixOfDouble& BackDispersalMat() const { return F; }
  Integer DemeCount() const { return Nd; }
  Integer StateCount() const { return Ns; }

  tBigDemographicMatrix& P0Mat() { return *fP0Mat; }
  tP0LMatrix& P0LMat() { return *fP0LMat; }
  tBigGeneticMatrix& GMat() { return *fGMat; }
  tBigTransitionMatrix& TMat() { return *fTMat; }

  Double P(Cardinal Row, Cardinal Col) { return GetP(Row, Col); }
  Double P0L(Cardinal Row, Cardinal Col) { return GetP0L(Row, Col); }
  Double G(Cardinal Row, Cardinal Col, Cardinal State) { return GetG(Row, Col, State); }
  Double T(Cardinal Row, Cardinal Col) { return GetT(Row, Col); }
  Integer State(Integer State, Integer Deme) { return DemeState(State, Deme); }

  // Forgets the current state, the eigensystems of P0 and T, the genetic
  // eigenvalue kept in G and the last P0 cell that T reuses.
  void Reset();
  // Pair index g: demes g div Nd and g mod Nd.
  void DecodeGIndex(Cardinal Index, Cardinal& Deme1, Cardinal& Deme2) const;
  // Row t of T: pair t mod Nd^2 and occupancy state t div Nd^2 + 1.
  void DecodeTIndex(Cardinal Index, Cardinal& PairIndex, Cardinal& State);
  // The sum over the demes of N[d][DemeStateValue].
  Double TotalSize(Integer DemeStateValue) const;
  // The digits DemeState(State, 0), DemeState(State, 1), ...
  std::string StateVector(Cardinal State);

  // Lp0 by power iteration on P0 and Lt on T (tolerance 10^(-1 - Digits)), the
  // cache window of T from the byte budget RAMBytes; Lg = Lt / Lp0 (1.7e308 when
  // Lp0 is 0, ErrLg then unchanged).
  void ComputeExactLambdas(Double& Lt, Double& ErrLt, Double& Lp0, Double& ErrLp0, Double& Lg, Double& ErrLg,
                           Integer MaxIter, Integer Digits, Cardinal RAMBytes);

 protected:
  struct tCopyOf {
    const tBigMatrixModel& Source;
  };
  // The parameters of Source (CreateByCopy).
  explicit tBigMatrixModel(tCopyOf Copy);

  // The probability that deme k is empty after a step from the current state.
  Double Prob0n(Integer k) const;
  // 1 - 1 / Ne[d][1]; EZeroDivide naming the deme when that size is 0.
  Double DriftFactor(Integer Deme) const;
  // The genetic eigenvalue of an occupancy state, kept in G's eigenvalue.
  Double GeneticEigenvalue(Cardinal State);
  Cardinal OccupancyStates() const { return fOccupancyStates; }

  utile::tMatrixOfDouble S;   // Ns x Ns, transitions of one deme's states (carried, not used here)
  utile::tMatrixOfDouble M;   // Nd x Nd, M[k][j]: share of the dispersers of j that reach k
  utile::tMatrixOfDouble Ne;  // Nd x Ns, effective size of deme d in deme state s
  utile::tMatrixOfDouble N;   // Nd x Ns, size of deme d in deme state s
  utile::tVectorOfDouble e;   // extinction probability per step
  utile::tVectorOfDouble b;   // dispersers produced per individual
  Integer Ns = 0;
  Integer Nd = 0;
  Double fCoefficientPrecision = 0;
  Cardinal fn0 = 99999999;  // the state of Migrants, SumMigrants and F; 99999999: none
  Double oldP0 = 0;         // the last P0 cell of GetT, for destination oldn1 and source oldn0
  Cardinal oldn1 = 0;
  Cardinal oldn0 = 0;
  std::unique_ptr<tBigDemographicMatrix> fP0Mat;
  std::unique_ptr<tP0LMatrix> fP0LMat;
  std::unique_ptr<tBigGeneticMatrix> fGMat;
  std::unique_ptr<tBigTransitionMatrix> fTMat;
  Cardinal fGColCount = 0;
  utile::tMatrixOfDouble Migrants;     // [k][j]: expected recruits of k from j
  utile::tVectorOfDouble SumMigrants;  // expected recruits of each deme
  // [0] pair index, [1] occupancy state of each row of T; filled on first use
  // (16.8 million rows for 16 demes).
  std::vector<std::array<Cardinal, 2>> fTIndex;
  std::vector<std::array<Cardinal, 2>> fGIndex;  // [0] first, [1] second deme of each pair
  utile::tMatrixOfDouble F;                      // [k][j]: the probability that a recruit of k comes from j
  utile::tVectorOfDouble SumKronFF;

 private:
  Cardinal fOccupancyStates = 0;  // Ns^Nd
  Cardinal fLgState = 0;          // the state of the genetic eigenvalue kept in G (0: none)
  Double fLgValue = -999.0;
  std::unique_ptr<tSourceFactors> fSourceFactors;  // the deme factors of the whole passes

  friend class tBigDemographicMatrix;
  friend class tP0LMatrix;
  friend class tBigGeneticMatrix;
  friend class tBigTransitionMatrix;
  friend class tBigSPOMModel;
  friend struct tBigMatrixPasses;
  friend std::string HierachicalAnalysis(tBigSPOMModel&, Integer, tBMAlgorithm, Double&, Double&, Double&,
                                         Integer, Integer, Integer);
};

// The model of demes with two states, empty (0) and occupied (1).
class tBigSPOMModel : public tBigMatrixModel {
 public:
  explicit tBigSPOMModel(Integer Nd);
  // A holder of Source's parameters (no PowerOfTwo).
  static std::unique_ptr<tBigSPOMModel> CreateByCopy(const tBigMatrixModel& Source);

  Integer DemeState(Integer State, Integer Deme) override;
  Double GetG(Cardinal Row, Cardinal Col, Cardinal State) override;
  void SetN0(Cardinal State) override;
  Double GetP(Cardinal Row, Cardinal Col) override;
  Double GetP0L(Cardinal Row, Cardinal Col) override;
  Double GetT(Cardinal Row, Cardinal Col) override;
  // The probability that each deme is occupied under the quasi-stationary
  // distribution (P0's right eigenvector). EInvalidOp before that vector exists.
  utile::tVectorOfDouble PatchProportionalOccupancy() override;

  // Lp0 and Lg from the left and right eigensystems of P0 and of G for the
  // all-occupied state, Lt by TEigenvalueKesp3; 10^PrecisionExponent serves as
  // coefficient precision and tolerance.
  void ComputeKesp3Lambdas(Double& Lt, Double& ErrLt, Double& Lp0, Double& ErrLp0, Double& Lg, Double& ErrLg,
                           Integer MaxIter, Integer PrecisionExponent, Cardinal RAMBytes);
  // Lt from the normalised eigenvectors of P0 and G that ComputeKesp3Lambdas
  // leaves. EInvalidOp when they are missing or when a deme receives no recruit.
  Double TEigenvalueKesp3();

  utile::tVectorOfExtended PowerOfTwo;  // 2^d for each deme

 private:
  explicit tBigSPOMModel(tCopyOf Copy) : tBigMatrixModel(Copy) {}
};

// Groups the demes into clusters of at most MaxGroupSize (by the weights of the
// migration matrix), solves each cluster with the algorithm and makes it one
// deme of the next level, until one deme is left. Lt, Lp0 and Lg receive the
// values of the last cluster solved. EInvalidOp "Hierarchisation impossible"
// when a level cannot be grouped into fewer demes. Returns an empty text.
std::string HierachicalAnalysis(tBigSPOMModel& Model, Integer MaxGroupSize, tBMAlgorithm Algorithm,
                                Double& Lt, Double& Lp0, Double& Lg, Integer MaxIter, Integer Digits,
                                Integer RAMPercent);

// ------------------------------------------------------------ byte budget
// Round(FreeMemory x Percent / 100) in 64 bits, never above the free memory nor
// above 2^32 - 1 (the largest budget a Cardinal holds); 0 for no free memory or
// a percentage of 0 or less.
Cardinal RAMBudget(utile::Int64 FreeMemory, Double Percent);
// The same from the free physical memory.
Cardinal RAMBudget(Double Percent);
// Where the free physical memory comes from (nullptr: the system's figure).
using tFreeMemoryQuery = utile::Int64 (*)();
void SetFreeMemoryQuery(tFreeMemoryQuery Query);
// Fills the cache window of the k = min(Trunc(sqrt(RAMBytes / 8)), rows) last
// rows and columns of Matrix (the most occupied states), where the iterations
// read it (IterationsReadWindow); the window is left empty otherwise. False when
// a stop request ended the fill.
bool FillRAMWindow(utile::tRAMVirtualMatrixOfDouble& Matrix, Cardinal RAMBytes);
// Runs Computation with the cache window of Matrix filled, emptied on every path;
// EBigMatrixStopped when a stop request ended the fill (Computation does not run).
void WithRAMWindow(utile::tRAMVirtualMatrixOfDouble& Matrix, Cardinal RAMBytes,
                   const std::function<void()>& Computation);

// ------------------------------------------------------------ eigen passes and errors
// The iteration state that tells the progress display that no pass is done yet.
void MarkNoPassYet();
// The error of the last DominantEigensystem, whose error measures squared changes.
Double EigensystemError();
// The error of the product of two values v1, v2 of errors e1, e2.
Double ProductError(Double e1, Double v1, Double e2, Double v2);

// ------------------------------------------------------------ the workbench's computations
// What the big-matrix workbench builds and computes, without its window.

// The dispersal matrix of n patches from their distances and links: exp(-Alpha
// x distance) between two patches (with Exact, times the link: 0 for an unlinked
// pair; with Kesp3, 1e-6 for an unlinked pair), each column scaled to sum 1 and
// times (1 - philopatry), the diagonal the philopatry (with RelativeToPanmixis,
// ph (1 - 1/n) + 1/n), then every cell <= Threshold set to 0. Column j holds the
// shares of the dispersers of patch j.
struct tBigMatrixDispersal {
  Double Alpha = 0;
  tBMAlgorithm Algorithm = bmaExact;
  Double Philopatry = 0;
  bool RelativeToPanmixis = true;
  Double Threshold = 0;
};
utile::tMatrixOfDouble BigMatrixDispersal(const utile::tMatrixOfDouble& Distance,
                                          const utile::tMatrixOfBoolean& Links,
                                          const tBigMatrixDispersal& With);

// Whether the Kesp3 approximation holds: every occupied deme of at least 20 and
// every migration cell at least 5e-05.
bool ApplicationConditionCheck(const tBigMatrixModel& Model);

struct tBigMatrixSettings {
  Integer Iterations = 100;          // I: passes of T and G, twice as many for P0
  Integer Precision = 6;             // p: tolerance 10^(-p - 3) for P0 and G, 10^(-p - 1) for T
  Integer CoefficientPrecision = 8;  // c: cells below 10^-c are 0
  Double RAMPercent = 100;           // share of the free memory for the cache window
  bool PropOccupancy = false;        // also the occupancy of each deme (P0's right eigenvector)
};

struct tBigMatrixResults {
  Double Lp0 = 0, ErrLp0 = 0;
  Double Lt = 0, ErrLt = 0;
  Double Lg = 0, ErrLg = 0;
  Integer Passes = 0;                // of every iteration of the computation
  utile::tVectorOfDouble Occupancy;  // one per deme, with PropOccupancy
};

// The stages of a computation: the iteration of one matrix each.
enum class tBigMatrixStage { bsP0, bsG, bsT };

// A computation that a user (or a closing window) stopped: the stages after the
// one in progress did not run.
class EBigMatrixStopped : public utile::EInvalidOperation {
  using utile::EInvalidOperation::EInvalidOperation;
};

// How a computation tells its window where it stands. The iterations let window
// messages through, so the window's timer and buttons run inside them.
struct tBigMatrixProgress {
  // Before the stage fills its cache window (the iteration state then reads "no
  // pass yet": EigenIteration -1, EigenError 1000, EigenEstimate 1).
  std::function<void(tBigMatrixStage)> StageStarts;
  // When the stage's iteration begins, the window filled.
  std::function<void()> IterationStarts;
  // The stage's values are in the results (bsT: Lt and its error; bsP0: Lp0).
  std::function<void(tBigMatrixStage, const tBigMatrixResults&)> StageEnds;
  // Asked after each stage: true ends the computation with EBigMatrixStopped.
  std::function<bool()> Stopped;
};

// The error of each eigenvalue is twice the last change of its iteration; the
// eigensystem iterations measure squared changes (and round their eigenvalue to
// the root of that), so their error is twice its square root.
//
// Lp0 by power iteration on P0 (its right eigensystem with PropOccupancy), then
// Lt on T, Lg = Lt / Lp0. EZeroDivide when Lp0 is 0 (a stop during the first
// pass leaves 0), rather than an infinite Lg.
void ComputeExact(tBigSPOMModel& Model, const tBigMatrixSettings& Settings,
                  const tBigMatrixProgress& Progress, tBigMatrixResults& Results);
// Lp0 and the genetic eigenvalue from the left and right eigensystems of P0 and
// of G with every deme occupied, Lt by TEigenvalueKesp3, Lg = Lt / Lp0.
void ComputeKesp3(tBigSPOMModel& Model, const tBigMatrixSettings& Settings,
                  const tBigMatrixProgress& Progress, tBigMatrixResults& Results);

}  // namespace models
