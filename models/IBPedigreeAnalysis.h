// What the individual-based workbench reads back from the pedigree of a run,
// without a window: the time series of population sizes, inbreeding (F),
// within-patch coancestry (theta) and between-patch coancestry (alpha) date by
// date with their text summary, the equilibrium statistics of the abundance
// series, the texts of the pedigree's records, positions and dispersal events,
// the test pedigree, and the genome outputs of the last generation. The
// workbench reads its controls, calls these, draws and writes what they give.
//
// Results are laid out for the n patches of the model: entry 0 for the whole
// metapopulation, entry p for the patch with ID p. A pedigree may know fewer
// patches than that (a patch where nobody was ever born): its missing entries
// are 0 in sizes and matrices of counts, and "no data" (-1) in means.
#pragma once

#include <string>
#include <vector>

#include "Utile/CommonDecl.h"
#include "models/PedigreeOps.h"

namespace models {

using utile::tVectorOfString;

// How juveniles are sampled against adults: at the same date (transversal), or
// one date before them (longitudinal, a cohort followed from juvenile to adult).
enum tSamplingScheme { ssTransversal, ssLongitudinal, ssNone };

// The date offset of juveniles against adults: 0, or -1 for longitudinal sampling.
Integer JuvenileLag(tSamplingScheme sampling);

// The analysis asked for.
struct tPedigreeAnalysisOptions {
  bool Juveniles = false;
  bool Adults = true;
  bool F = false;
  bool Theta = false;
  bool Alpha = false;  // also gives theta, from the alpha matrix's diagonal
  tSamplingScheme Sampling = ssTransversal;
  Integer TimeResolution = 1;  // R: one date out of R is analysed
  Integer PatchCount = 0;      // n
  bool FinalValuesOnly = false;
};

// The values of one age class at the date of the last pass.
struct tAgeClassValues {
  tVectorOfCardinal Sizes;     // n + 1
  tVectorOfDouble F;           // n + 1, -1 where nobody counts
  tVectorOfDouble Theta;       // n + 1, -1 where no pair counts
  tMatrixOfDouble Alpha;       // (n + 1) square; juveniles and adults only
  tVectorOfDouble AlphaPairs;  // A[0][0], then A[k][l] for k = 2..n, l = 1..k-1
};

// The number of entries of the alpha vector of n patches: n(n - 1)/2 + 1.
Integer AlphaPairCount(Integer n);

// The passes of the analysis over the pedigree as it is: pass k analyses the
// date t = R k, k = 0 .. G div R (G the last birth date), adults born up to t
// at the date t + 1 and juveniles at t + lag + 1 when 0 <= t + lag < G. The
// pedigree must have been prepared for analysis (ages, mutation rate).
class tPedigreeAnalysis {
 public:
  tPedigreeAnalysis(tPedigree& pedigree, const tPedigreeAnalysisOptions& options);

  const tPedigreeAnalysisOptions& Options() const { return fOptions; }
  Integer LastBirthDate() const { return fLastBirthDate; }  // G
  // Every pass, or with FinalValuesOnly the last one alone.
  Integer FirstPass() const;
  Integer LastPass() const;  // G div R
  Integer PassDate(Integer pass) const { return fOptions.TimeResolution * pass; }
  // The task gauge at a date: Round(t / (G + 1) x 100).
  Integer Progress(Integer date) const;

  // Queries the pedigree for the pass; every value not recomputed keeps what
  // the last pass gave it.
  void Compute(Integer pass);
  Integer Date() const { return fDate; }
  // Whether the last pass had a juvenile date (and so juvenile points to draw).
  bool JuvenilesInRange() const { return fJuvenilesInRange; }
  const tAgeClassValues& Values(tPedigreeAgeClass ageClass) const { return fValues[ageClass]; }

  // The summary of the last pass: per analysed age class with F, theta or
  // alpha, its title and underline, then "F vector", "Theta vector" or "Theta
  // matrix" with the values and an empty line.
  tVectorOfString SummaryLines() const;

 private:
  void Query(Cardinal date, tPedigreeAgeClass ageClass);
  void ClearJuveniles();
  // Zero sizes, F, theta and alpha for the patches and the whole.
  void Clear(tAgeClassValues& values) const;
  void CombineClasses();

  tPedigree& fPedigree;
  tPedigreeAnalysisOptions fOptions;
  Integer fLastBirthDate = 0;
  Integer fDate = 0;
  bool fJuvenilesInRange = false;
  tAgeClassValues fValues[3];
};

// ------------------------------------------------------------------ equilibrium

// D := m / N x 2 - 0.5, m the number of i = s .. s + N div 2 with
// y[i + N div 2] > y[i] (strictly), over the last N + 1 values (s = size - N - 1):
// near 0 without a trend, towards +0.5 for a rising and -0.5 for a falling series.
// EInvalidOperation with fewer than N + 1 values or N < 1.
Double DeviationFromEquilibrium(const std::vector<Double>& values, Integer steps);

struct tEquilibriumOptions {
  Integer Steps = 500;  // N
  bool Demographic = true;
  bool Genetic = true;
};

// The equilibrium statistics over the last N + 1 points of the adults' abundance:
// Global the series of the whole metapopulation, PatchAdults[p - 1] that of patch
// p (n patches). The demographic block gives the densities (each point rounded,
// summed, divided by N), the pedigree's dispersal events between the first and
// the last of those point indices taken as dates, the backward dispersal (each
// row divided by its patch's summed adults; left at 0 for a patch without adults,
// and said so) and the demographic contributions (the dominant right eigenvector
// of the transposed backward matrix). EInvalidOperation, before any line, when
// Global holds fewer than N + 1 points.
tVectorOfString EquilibriumStatisticsLines(const std::vector<Double>& global,
                                           const std::vector<std::vector<Double>>& patchAdults,
                                           const tPedigree& pedigree, const tEquilibriumOptions& options);

// ------------------------------------------------------------------ pedigree texts

// The records of the pedigree can show their whole relationship matrix below this count.
inline constexpr Cardinal RelationshipMatrixLimit = 500;

// Two founders and five generations of full-sib matings in patch 1, without sex:
// IDs 1 and 2 at date 0, then two sibs at each date 1..5, and ID 13 at date 6,
// in place of whatever the pedigree held, ready for relationship queries.
void FillTestPedigree(tPedigree& pedigree);
// "Time\tID\tMother\tFather\tPatch", then "date id mother father patch" per ID.
tVectorOfString PedigreeRecordLines(const tPedigree& pedigree);
// "ID\tBirth date\tPatch location", then per ID "id:" and TAB, and each element of
// its position list followed by TAB.
tVectorOfString PositionLines(const tPedigree& pedigree);
// The whole pedigree's dispersal events, or those of the last time step (from
// G - 1 to G; none on a pedigree without a birth date after 0), titled.
tVectorOfString DispersalEventLines(const tPedigree& pedigree, bool lastTimeStep);
// The dispersal events of the last time step: from G - 1 to G, or (0, 0) when the
// pedigree has no birth date after 0.
tMatrixOfDouble LastStepDispersalEvents(const tPedigree& pedigree);

// ------------------------------------------------------------------ genomes

// "ID\tSex\tMotherID\tMotherGenome\tFatherID\tFatherGenome", then a line per
// unpruned ID.
tVectorOfString AllGenomeLines(const tGeneticPedigree& genomes, const tPedigree& pedigree);

enum tLastGenerationOutput { lgFstat, lgAlleleFrequencies, lgGenePop, lgPairwiseFst, lgCoancestries };

// One output of the last generation (T = G - 1; juveniles at Tj = T, or T - 1
// with longitudinal sampling) in its frame: the title and its underline, "Time
// step:" and T, "Juveniles at t" and Tj, the juveniles' result at the date
// Tj + 1 with probability pJuveniles, "Adults at t" and T, the adults' result at
// T + 1 with probability pAdults, each part between lines of 32 dashes. Lines
// are appended to Lines as they are made, so that those written before a
// failure stay: without a sampling scheme EInvalidOperation "Neither
// transversal or longitudinal sampling." follows the title and its underline.
void LastGenerationLines(tGeneticPedigree& genomes, const tPedigree& pedigree, tLastGenerationOutput output,
                         tSamplingScheme sampling, Double pJuveniles, Double pAdults, tVectorOfString& lines);

}  // namespace models
