// The pedigree of an individual-based run and the analyses built on it.
//
// tPedigree keeps one record per individual ever born (record k is the individual
// with ID k; the engine gives IDs consecutively from 1, in birth-date order), the
// patch of each individual at every census, and an index of the first ID born at
// each date. From it come the kinship analyses: relationship and coancestry of two
// individuals under a mutation factor, inbreeding, per-patch mean inbreeding and
// coancestry at a date, the patch-by-patch coancestry matrix, population sizes and
// matrices of dispersal events.
//
// tGeneticPedigree generates multi-locus genotypes along a recorded pedigree and
// writes allele frequencies, coancestries, pairwise Fst and FSTAT and Genepop texts
// for the individuals alive at a date.
//
// Dates are the metapopulation's time steps. Position at date t of an individual
// born at b: its birth patch at t = b, then the patch recorded at its
// (t - b)-th census. Its death date is the last date with a position.
#pragma once

#include <array>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "Utile/CommonDecl.h"

namespace models {

using utile::Byte;
using utile::Cardinal;
using utile::Double;
using utile::Int64;
using utile::Integer;
using utile::Single;
using utile::tMatrixOfDouble;
using utile::tMatrixOfSingle;
using utile::tVectorOfCardinal;
using utile::tVectorOfDouble;

// psNA for individuals without sex.
enum tPedigreeSex : Byte { psFemale, psMale, psBoth, psNA };
enum tPedigreeAgeClass : Byte { pacJuveniles, pacAdults, pacAll };

// The one-letter names of the sexes, indexed by tPedigreeSex: F female, M male,
// 2 both, N none.
inline constexpr char PedigreeSexLetters[] = "FM2N";

#pragma pack(push, 1)
// One birth, 21 bytes.
struct tPedigreeInfo {
  Cardinal Date = 0;  // birth date: the metapopulation's time step at birth
  Cardinal ID = 0;
  Cardinal Mother = 0;  // 0 = none
  Cardinal Father = 0;  // 0 = none
  Cardinal Patch = 0;   // patch ID at birth, 1-based
  tPedigreeSex Sex = psNA;
};
#pragma pack(pop)
static_assert(sizeof(tPedigreeInfo) == 21, "pedigree records are packed");

class tPedigreeStore;
class tRelationshipCache;
class tKinshipWindow;

class tPedigree {
 public:
  // Records are added in blocks of this many without moving the ones stored.
  static constexpr Cardinal CapacityIncrement = 15000000;
  // The relationship shown for a pair that was never computed.
  static constexpr Single NotComputed = -999;

  // Capacity 100, empty, maximum age 1, no mutation.
  tPedigree();
  ~tPedigree();
  tPedigree(const tPedigree&) = delete;
  tPedigree& operator=(const tPedigree&) = delete;

  // ---------------------------------------------------------------- recording
  // Appends the record of a birth. IDs come consecutively from 1 and births in
  // date order: anything else fails an assertion.
  void Add(Cardinal date, Cardinal id, Cardinal mother, Cardinal father, Cardinal patch, tPedigreeSex sex);
  void Add(const tPedigreeInfo& info);
  // Records the patch of an individual at a census (each ageing, and a censused
  // death): its position at the date after the last one known.
  void AddPosition(Cardinal id, Cardinal patch);
  // No records, no patches, no dates, no cached relationships.
  void Clear();
  void SetCapacity(Cardinal n);  // max(n, Count + 1)
  Cardinal GetCapacity() const { return fCapacity; }
  void Trim();  // capacity := Count + 1

  // ---------------------------------------------------------------- state
  Cardinal Count() const { return fCount; }
  // The largest patch ID seen at a birth or a census.
  Cardinal PatchCount() const { return fPatchCount; }
  // The last birth date seen.
  Cardinal GenerationCount() const { return fGenerationCount; }
  // The largest age an individual can reach; bounds the IDs alive at a date.
  Cardinal MaxAge() const { return fMaxAge; }
  void SetMaxAge(Cardinal maxAge) { fMaxAge = maxAge; }
  Cardinal AgeReproduction() const { return fAgeReproduction; }
  // Age from which an individual is adult; a species without reproduction (-1)
  // makes every individual adult from birth.
  void SetAgeReproduction(Integer age);
  Double MutationRate() const { return fMutationRate; }
  Double Gamma() const { return fGamma; }  // (1 - MutationRate)^2
  // Also sets Gamma; a change of rate forgets the cached relationships.
  void SetMutationRate(Double mu);
  // The largest patch count the pedigree accepts: no limit.
  static constexpr Cardinal MaxPatchCount() { return 0xFFFFFFFFu; }

  // ---------------------------------------------------------------- queries
  tPedigreeInfo GetIndividuals(Cardinal id) const;
  tPedigreeSex GetSex(Cardinal id) const;
  Cardinal GetBirthDate(Cardinal id) const;
  // The last date with a position: birth date + number of censuses.
  Cardinal GetDeathDate(Cardinal id) const;
  // The patch at a date between birth and death.
  Cardinal Positions(Cardinal id, Cardinal date) const;
  // The whole position list: birth date, birth patch, then one patch per census.
  tVectorOfCardinal GetPositions(Cardinal id) const;
  bool IsLiving(Cardinal id, Cardinal date) const;
  bool BelongToAgeClass(Cardinal id, Cardinal date, tPedigreeAgeClass ageClass) const;
  bool BelongToSexClass(Cardinal id, tPedigreeSex sex) const;
  // The IDs that can be alive at a date; first > last when there are none.
  void FirstAndLastID(Cardinal date, Cardinal& first, Cardinal& last) const;
  static void SwapID(Cardinal& i, Cardinal& j);

  // ---------------------------------------------------------------- kinship
  // Forgets every cached relationship; run before relationship queries after the
  // pedigree grew.
  void PrepareForAnalysis();
  void ClearCoancestries();
  // Additive relationship with mutation, cached per pair.
  Single GetRelationship(Cardinal i, Cardinal j);
  // One step of the recursion, its terms taken from the cache.
  Single ComputeRelationship(Cardinal i, Cardinal j);
  Double Coancestry(Cardinal i, Cardinal j);
  Double F_ind(Cardinal id);
  // The cached value, NotComputed when there is none.
  Single ShowRelationship(Cardinal i, Cardinal j) const;
  void ComputeWholeRelationshipMatrix();
  // Count x Count; cell [i-1][j-1] = ShowRelationship(i, j).
  tMatrixOfSingle RelationshipMatrix() const;

  // Per-patch results have PatchCount + 1 entries: entry 0 for the whole
  // population, entry p for the patch with ID p. Means are -1 where nothing counts.
  tVectorOfCardinal PopulationSizes(Cardinal date, tPedigreeAgeClass ageClass) const;
  tVectorOfDouble F_pop(Cardinal date, tPedigreeAgeClass ageClass, tVectorOfCardinal& counts);
  // Mean coancestry of pairs of distinct individuals within each patch.
  tVectorOfDouble Theta(Cardinal date, tPedigreeAgeClass ageClass);
  // (PatchCount + 1) square: cell [a][b] the mean coancestry of pairs from patches
  // a and b (self-pairs included on the diagonal), cell [0][0] the mean
  // between-patch coancestry.
  tMatrixOfDouble Alpha(Cardinal date, tPedigreeAgeClass ageClass);
  // PatchCount square; row = later patch, column = earlier patch.
  tMatrixOfDouble DispersalEventMatrix() const;
  tMatrixOfDouble DispersalEventMatrix(Cardinal t1, Cardinal t2) const;

 private:
  friend class tKinshipWindow;

  tKinshipWindow& Window(Cardinal date);
  // Frees the analyses' working set and gives its memory back when it was large.
  void InvalidateWindow();
  // These free and return the bytes freed, for one release after all of them.
  uint64_t FreeWindow();
  uint64_t FreeGenerations();

  Cardinal fAgeReproduction = 0;
  Cardinal fCount = 0;
  Double fGamma = 1;
  Cardinal fGenerationCount = 0;
  std::vector<Cardinal> fGenerations;  // by date: the first ID born at that date or later
  Cardinal fMaxAge = 1;
  Double fMutationRate = 0;
  Cardinal fPatchCount = 0;
  Cardinal fCapacity = 0;
  std::unique_ptr<tPedigreeStore> fStore;      // records and positions
  std::unique_ptr<tRelationshipCache> fCache;  // relationships by pair
  std::unique_ptr<tKinshipWindow> fWindow;     // the analyses' working set
};

class tGeneticPedigree {
 public:
  static constexpr Integer MaxAlleleCount = 255;
  static constexpr Integer MaxLocusCount = 8;

  // Genomes for every ID of the pedigree as it is now; every ID unpruned. The
  // pedigree is not owned and must outlive this object.
  explicit tGeneticPedigree(tPedigree& pedigree);
  ~tGeneticPedigree();
  tGeneticPedigree(tGeneticPedigree&&) = default;
  tGeneticPedigree& operator=(tGeneticPedigree&&) = default;

  // Between 1 and 255 alleles per locus, written 1..AlleleCount.
  void SetAlleleCount(Integer n);
  // Between 1 and 8 loci.
  void SetLocusCount(Integer n);
  void SetMutationKAM(Double rate) { fMutationKAM = rate; }
  void SetMutationSSM(Double rate) { fMutationSSM = rate; }
  Integer AlleleCount() const { return fAlleleCount; }
  Integer LocusCount() const { return fLocusCount; }
  Double MutationKAM() const { return fMutationKAM; }
  Double MutationSSM() const { return fMutationSSM; }

  // The allele at a locus: byte `locus` of the genome.
  static Cardinal Allele(Int64 genome, Integer locus);

  void UnprunePedigree();
  // Keeps the individuals that can be alive at the last birth date and their ancestors.
  void PrunePedigree();
  bool Unpruned(Cardinal id) const;

  void MakeNuclearGenome();
  void MakeMitochondrialGenome();
  void MakeXChromosomeGenome();
  void MakeYChromosomeGenome();
  // K-allele then stepwise mutation of every locus, clamped to the allele range.
  void Mutate(Int64& genome) const;

  Int64 GenomeMother(Cardinal id) const;
  Int64 GenomeFather(Cardinal id) const;
  // "|" then "%.3d|" per locus (alleles numbered from 0).
  std::string GetGenomeMother(Cardinal id) const;
  std::string GetGenomeFather(Cardinal id) const;

  // Each eligible individual is sampled when a fresh draw is below p.
  // Rows: locus-major allele frequencies (LocusCount x AlleleCount), then the
  // sample size; columns: patches.
  tMatrixOfDouble AlleleFrequencies(Cardinal date, tPedigreeAgeClass ageClass, Double p);
  std::string AlleleFrequenciesAsString(Cardinal date, tPedigreeAgeClass ageClass, Double p,
                                        std::string_view format);
  // Probability that two genes drawn from two patches are the same allele.
  tMatrixOfDouble Coancestries(Cardinal date, tPedigreeAgeClass ageClass, Double p);
  tMatrixOfDouble Coancestries(Cardinal date, tPedigreeAgeClass ageClass, Double p, tVectorOfDouble& sizes);
  // Pairwise Fst; -999 where it is undefined.
  tMatrixOfDouble FstMatrix(Cardinal date, tPedigreeAgeClass ageClass, Double p);
  std::string FstatOutput(Cardinal date, tPedigreeAgeClass ageClass, tPedigreeSex sex, Double p);
  std::string GenepopOutput(Cardinal date, tPedigreeAgeClass ageClass, Double p);

  static const std::array<Int64, 255>& PowerOf256();

 private:
  Int64 FounderCopy() const;
  // A gamete: at each locus one of the parent's two copies, chosen at random.
  Int64 MendelianCopy(Cardinal parent) const;
  // FirstAndLastID of the date, limited to the IDs that have genomes.
  void SampledRange(Cardinal date, Cardinal& first, Cardinal& last) const;

  tPedigree* fPedigree;
  std::vector<bool> fUnpruned;
  Integer fAlleleCount = 0;
  Integer fLocusCount = 0;
  std::vector<Int64> fGenomeMother;
  std::vector<Int64> fGenomeFather;
  Double fMutationSSM = 0;
  Double fMutationKAM = 0;
};

}  // namespace models
