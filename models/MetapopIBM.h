// The individual-based model: a metapopulation of habitat patches holding
// individuals that walk a species' life cycle of events, advanced in discrete time
// steps. Individuals are recycled through a pool; births, ageing and censused deaths
// can be recorded in a pedigree. The engine has no window and writes no file: the
// workbench builds it from the landscape and its controls and runs it step by step.
//
// Individuals are small records held by value, contiguous in their patch's list, so
// that a pass walks memory in order; the rules of the reproduction mode are chosen
// once per pass and each event's rule once when the cycle is built.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Utile/CommonDecl.h"

namespace models {

using utile::Byte;
using utile::Cardinal;
using utile::Double;
using utile::Integer;
using utile::Single;

class tPedigree;
class tMetaPop;
class tPatch;
class tPatchClonal;
class tPatchHermaphrodite;
class tPatchSexuate;
class tSpecies;
class tIndividual;
class tPoolOfIndividuals;
template <class tMode>
class tLifeCycleWalk;

// ------------------------------------------------------------------ enumerations
// Ordinals are stored in model files and index the name tables: order is binding.

enum tReproductionMode : Byte { rmClonal, rmHermaphrodite, rmSexuate };
// Same order as the reproduction mode: the pool converts one into the other.
enum tIndividualType : Byte { itClonal, itHermaphrodite, itSexuate };
enum tAgeClass : Byte { acJuvenile, acAdult, acAll };

enum tLifeEventType : Byte {
  leBirth,
  leSexConditional,
  leGetOlder,
  leSurvival,
  leDispersal,
  leReproduction,
  leRegulation,
  leSynchro,
  leRandom,
  leDeath,
  leDead,
  leGeneConditional,
  leTag
};
enum tDispersalType : Byte { diExponential, diArcTan };
enum tReproductionType : Byte { rtDensityIndependent, rtCeiling, rtRicker, rtGompertz };
enum tRegulationType : Byte { ddCeiling };
enum tDeathStat : Byte { dsUnnoticed, dsCensused };
enum tInheritanceType : Byte { itDominant, itRecessive };
enum tSex : Byte { sFemale, sMale };

// ------------------------------------------------------------------ name tables

inline constexpr std::array<const char*, 13> LifeEventTypeStr = {
    "Birth",        "Sex-dependent",      "Aging",           "Survival", "Dispersal",
    "Reproduction", "Density-dependence", "Synchronisation", "Random",   "Death",
    "Dead",         "Gene-dependence",    "Tagging"};
inline constexpr std::array<const char*, 3> ReproductionModeStr = {"Clonal", "Hermaphrodite", "Sexuate"};
inline constexpr std::array<const char*, 1> RegulationTypeStr = {"Ceiling"};
inline constexpr std::array<const char*, 4> ReproductionTypeStr = {"Density-independent", "Ceiling", "Ricker",
                                                                   "Gompertz"};
inline constexpr std::array<const char*, 2> DispersalTypeStr = {"Negative-exponential",
                                                                "Angle of vision (ArcTan)"};
inline constexpr std::array<const char*, 2> DeathStatStr = {"Uncensused", "Censused"};
inline constexpr std::array<const char*, 2> SexStr = {"Female", "Male"};
inline constexpr std::array<const char*, 3> AgeClassStr = {"Juveniles", "Adults", "Total"};
inline constexpr std::array<const char*, 2> InheritanceTypeStr = {"Dominant", "Recessive"};

// Captions of the first, second and third parameter of each event type; "" = none.
inline constexpr std::array<std::array<const char*, 3>, 13> LifeEventParamStr = {{
    {"", "", ""},                                              // Birth
    {"", "", ""},                                              // Sex-dependent
    {"", "", ""},                                              // Aging
    {"Survival rate", "", ""},                                 // Survival
    {"Survival rate", "Weighting", "Target patch weighting"},  // Dispersal
    {"Max fecundity", "", "Type"},                             // Reproduction
    {"", "", "Type"},                                          // Density-dependence
    {"", "", ""},                                              // Synchronisation
    {"Probability", "", ""},                                   // Random
    {"", "", "Statistics"},                                    // Death
    {"", "", ""},                                              // Dead
    {"Gene", "", "Mutant inheritance"},                        // Gene-dependence
    {"Tag", "", ""},                                           // Tagging
}};

// ------------------------------------------------------------------ life cycle

// One event of the life cycle. Only the fields of the event's own type are read
// by its rule; the others keep their defaults. A death run by a failed Survival
// or Dispersal reads that event's DeathStat, which stays uncensused.
struct tLifeEvent {
  Integer NextEvent = -1;  // index of the event that follows when the rule returns True; -1 = none
  Integer AltEvent = -1;   // likewise when it returns False
  // Dispersal survival (row = destination, column = origin) and destination
  // weights, built by MakeCycle for Dispersal events only. Shared read-only with
  // whoever holds a copy of the event (the workbench's cells display them).
  std::shared_ptr<const utile::tMatrixOfDouble> Mat1;
  std::shared_ptr<const utile::tMatrixOfDouble> Mat2;
  tLifeEventType EventType = leBirth;
  Double SurvivalRate = 0;  // Survival
  Double DispSurvival = 0;  // Dispersal
  Double Weighting = 0;
  tDispersalType DispType = diExponential;
  Double Fecundity = 0;  // Reproduction
  tReproductionType ReproductionType = rtDensityIndependent;
  Double r0 = 0;  // Density-dependence
  tRegulationType RegType = ddCeiling;
  tDeathStat DeathStat = dsUnnoticed;  // Death
  Double Threshold = 0;                // Random
  Integer Locus = 0;                   // Gene-dependence
  tInheritanceType Inheritance = itDominant;
  Integer Tag = 0;  // Tagging
};

// Event 0 is the Birth event; links are indices into the same array.
using tLifeCycle = std::vector<tLifeEvent>;

// ------------------------------------------------------------------ individuals

// One individual. Individuals live by value in their patch's list, in the order
// in which they came; an idle one in the pool is only the tag it keeps. A pointer
// to an individual of a patch stays valid until that patch's list next changes.
class tIndividual {
 public:
  Integer Age() const { return fAge; }
  Integer Event() const { return fEvent; }
  void SetEvent(Integer event);
  Cardinal Genes() const { return fGenes; }
  Cardinal ID() const { return fID; }
  Integer Tag() const { return fTag; }
  void SetTag(Integer tag) { fTag = tag; }
  // Only a sexuate individual has a sex; the others read as female.
  tSex Sex() const { return fSex; }
  // acAdult from the age of reproduction on (signed: -1 makes every age adult).
  tAgeClass AgeClass(Integer ageReproduction) const { return ageReproduction <= fAge ? acAdult : acJuvenile; }
  bool GeneMother(Integer locus) const { return (fGenes >> locus) & 1u; }
  bool GeneFather(Integer locus) const { return (fGenes >> (16 + locus)) & 1u; }

 private:
  friend class tPatch;
  friend class tPatchSexuate;
  friend class tPoolOfIndividuals;
  friend class tMetaPop;
  template <class tMode>
  friend class tLifeCycleWalk;
  friend struct tClonal;
  friend struct tHermaphrodite;
  friend struct tSexuate;

  static constexpr Byte Removed = 1;   // left its patch; the hole closes between passes
  static constexpr Byte Disposed = 2;  // its tag went back to the pool
  bool IsRemoved() const { return (fState & Removed) != 0; }

  Cardinal fID = 0;
  Cardinal fGenes = 0;  // bit i maternal, bit 16 + i paternal copy at locus i; set = mutant
  Integer fTag = 0;
  Integer fAge = 0;
  Integer fMaleSlot = -1;  // its entry among its patch's adult males; -1 when none
  uint16_t fEvent = 0;     // a cycle has at most MaxEventCount events
  tSex fSex = sFemale;
  Byte fState = 0;
};
static_assert(sizeof(tIndividual) == 24, "individuals are walked in place: keep them small");

// The rules that differ by reproduction mode (a newborn's genome and sex, the
// choice of a mate), chosen once per pass rather than per individual.
struct tClonal;
struct tHermaphrodite;
struct tSexuate;

// An adult male as a mate: all a female reads of him.
struct tMale {
  Cardinal ID = 0;
  Cardinal Genes = 0;
};

// Which entries of a list with holes are present, with the k-th present one found
// in a few steps: one bit per entry and a counting tree over the 64-bit words.
// Kept only while the list has holes. A pass makes its holes at one end of a list
// (it walks the individuals from the last, and the adult males came in the
// opposite order), so a run of present entries at the front, or of holes, is
// used at once.
class tRankIndex {
 public:
  bool Valid() const { return fValid; }
  void Invalidate() { fValid = false; }
  // Entries 0..size-1, present as present(i) says.
  template <class tPresent>
  void Build(Integer size, tPresent present);
  void Append(bool present);
  void Remove(Integer position);
  bool Contains(Integer position) const { return (fWords[position >> 6] >> (position & 63)) & 1u; }
  // The position of the k-th present entry, k from 0 (fewer than the present ones).
  Integer Select(Integer k) {
    if (k < fLeadingPresent) return k;
    if (fLeadingHoles == fSize - fCount) return fLeadingHoles + k;
    return SelectInTree(k);
  }

 private:
  void AddToWord(Integer word, Integer delta);
  void BuildTree();
  Integer SelectInTree(Integer k);
  Integer NextPresent(Integer position) const;

  std::vector<uint64_t> fWords;
  // One-based counting tree over the words, a power of two long; made when a
  // selection first needs it.
  std::vector<Integer> fTree;
  bool fTreeValid = false;
  Integer fSize = 0;
  Integer fCount = 0;           // present entries
  Integer fLeadingPresent = 0;  // entries 0.. this - 1 are present
  Integer fLeadingHoles = 0;    // entries 0.. this - 1 are holes
  bool fValid = false;
};

template <class tPresent>
void tRankIndex::Build(Integer size, tPresent present) {
  fSize = size;
  fWords.assign(static_cast<size_t>((size + 63) / 64), 0);
  fCount = 0;
  for (Integer i = 0; i < size; ++i)
    if (present(i)) {
      fWords[static_cast<size_t>(i >> 6)] |= uint64_t{1} << (i & 63);
      ++fCount;
    }
  fLeadingPresent = 0;
  while (fLeadingPresent < size && Contains(fLeadingPresent)) ++fLeadingPresent;
  fLeadingHoles = NextPresent(0);
  fTreeValid = false;
  fValid = true;
}

// ------------------------------------------------------------------ species

// What an event's rule is, chosen by the event's type (and its variant) when the
// cycle is built.
enum tEventRule : Byte {
  erStop,  // Aging, Synchronisation and the end stop an individual's walk
  erBirth,
  erSexConditional,
  erSurvival,
  erDispersalInvExponential,
  erReproductionDensityIndependent,
  erReproductionCeiling,
  erReproductionRicker,
  erReproductionGompertz,
  erRegulationCeiling,
  erRandom,
  erDeath,
  erGeneConditional,
  erTagging,
  erNone  // a variant without a rule: running it raises
};

class tSpecies {
 public:
  // Individuals keep their event in 16 bits.
  static constexpr Integer MaxEventCount = 65535;

  explicit tSpecies(tMetaPop* metapop);
  ~tSpecies();
  tSpecies(const tSpecies&) = delete;
  tSpecies& operator=(const tSpecies&) = delete;

  Double Autofecondation = 0;  // probability that a hermaphrodite fertilises itself
  std::string Date;
  Double DispDistance = 0;
  Integer ExtinctThresh = 0;
  Double MutationRate = 0;
  std::string Name;
  Double JuvenileWeight = 0;  // weight of juveniles in the competitive density
  tMetaPop* Metapop;
  Integer PatchExtinction = 0;   // 0 = off
  Double SexRatio = 0;           // probability that a sexuate newborn is female
  Double EquilibriumLambda = 0;  // fecundity at carrying capacity

  tReproductionMode ReproductionMode() const { return fReproductionMode; }
  void SetReproductionMode(tReproductionMode mode);
  // Number of Aging events before the first Reproduction event; -1 without one.
  Integer AgeReproduction() const { return fAgeReproduction; }
  // The distinct tags of the cycle's Tagging events, ascending.
  const utile::tVectorOfInteger& Tags() const { return fTags; }
  // Whether the cycle has a Synchronisation event at which individuals can wait.
  bool HasSynchronisation() const { return fHasSynchronisation; }

  // Builds the runnable cycle: the edited events, their dispersal matrices (from
  // the landscape matrices as they are now), the tag list, the rules and one end
  // event.
  void MakeCycle(const tLifeCycle& cycle);
  void ClearLifeCycle();
  // Chooses the rule of every event by its type.
  void AssignEventProcedures();
  tEventRule Procedure(Integer i) const { return fSteps[i].Rule; }

  Integer EventCount() const { return static_cast<Integer>(fLifeCycle.size()); }
  tLifeEvent GetLifeCycle(Integer i) const;
  const tLifeEvent& Event(Integer i) const { return fLifeCycle[i]; }
  Integer NextEvent(Integer i) const { return fLifeCycle[i].NextEvent; }
  Integer AltEvent(Integer i) const { return fLifeCycle[i].AltEvent; }
  Integer LastEvent() const { return static_cast<Integer>(fLifeCycle.size()) - 1; }
  Integer AgeAtEvent(Integer n) const;
  Integer AgeDeath() const { return AgeAtEvent(LastEvent()); }

  // The destination drawn for a disperser of dispersal event eventIndex leaving the
  // patch of index origin, exactly as a discrete draw over column origin of Mat2
  // (one uniform draw), and its survival Mat1[destination][origin].
  void DrawDispersal(Integer eventIndex, Integer origin, Integer& destination, Double& survival) const;

 private:
  template <class tMode>
  friend class tLifeCycleWalk;
  friend class tPatch;

  // An event as the walk reads it: its rule, links and the parameters the rule
  // uses, in a few bytes.
  struct tStep {
    tEventRule Rule = erNone;
    tLifeEventType Type = leBirth;
    tDeathStat DeathStat = dsUnnoticed;
    tInheritanceType Inheritance = itDominant;
    Integer Next = 0;
    Integer Alt = 0;
    Integer Number = 0;  // locus or tag
    Double Value = 0;    // survival rate, threshold or fecundity
  };
  // Per origin patch: the destinations of positive weight with their cumulative
  // weights (a leading 0) and the survival of each move, laid out origin after
  // origin so that a draw reads a few neighbouring entries.
  struct tDispersalTable {
    struct tOrigin {
      Integer First = 0;  // its first entry
      Integer Count = 0;  // destinations; Count + 1 entries and a bound
      Double Total = 0;   // the last cumulative weight
    };
    struct tEntry {
      Double Cumulative = 0;  // the weights of the destinations before this one
      Double Survival = 0;
      Integer Destination = 0;
      Integer Guide = 0;  // where the search for this share of the total starts
    };
    std::vector<tOrigin> Origins;
    std::vector<tEntry> Entries;
    std::vector<Double> Cumulative;  // the same weights (and bounds) alone, for an exact hit
    Integer PatchCount = 0;
  };
  void BuildDispersalEvent(tLifeEvent& event, Integer eventIndex);

  Integer fAgeReproduction = 0;
  utile::tVectorOfInteger fTags;
  std::vector<tStep> fSteps;  // one per event of the runnable cycle, the end included
  tLifeCycle fLifeCycle;
  tReproductionMode fReproductionMode = rmClonal;
  bool fHasSynchronisation = false;
  std::vector<std::unique_ptr<tDispersalTable>> fDispersalTables;  // by event index
};

// ------------------------------------------------------------------ patches

class tPatch {
 public:
  tPatch(tMetaPop* metapop, Cardinal id);
  virtual ~tPatch() = default;
  tPatch(const tPatch&) = delete;
  tPatch& operator=(const tPatch&) = delete;

  Single Area = 0;
  Integer Capacity = 0;   // K of the density-dependent rules
  Single Extinction = 0;  // probability per step that the patch is cleared
  tMetaPop* Metapop;
  Single Suitability = 1;  // factor on fecundity
  Single x = 0;
  Single y = 0;

  Cardinal ID() const { return fID; }
  // The individual at list index i (0 <= i < IndCount).
  tIndividual* GetInd(Integer i);
  // Puts a copy of ind at list index i in place of the individual there; a class
  // count follows when the two belong to different age classes.
  virtual void SetInd(Integer i, const tIndividual& ind);
  // Appends a copy of ind and counts it; returns the copy.
  tIndividual* Add(const tIndividual& ind);
  // Creates n founders waiting at event 1 and synchronises the counts.
  void AddIndividuals(Integer n);
  // Returns every individual to the pool and sets the counts to 0.
  virtual void Clear();
  // Walks the cycle of each individual present at the start, the last first.
  void DoLifeCycle();
  // Ages every individual, the last first, then synchronises.
  void GetOlder();
  // Removes ind (an individual of this patch's list) and uncounts it; otherwise
  // nothing.
  void Remove(tIndividual* ind);
  virtual Single SexRatio();
  void Synchronise();

  // Synchronised counts, read by every density rule.
  Integer N() const { return fNjuveniles + fNadults; }
  Integer N(tAgeClass ageClass) const;
  Integer NjuvenilesActual() const { return fNjuvenilesActual; }
  Integer NadultsActual() const { return fNadultsActual; }
  Integer IndCount() const { return fCount; }
  Double Ncompetitive() const;
  // Individuals per tag value of the species; untagged ones are not counted.
  utile::tVectorOfCardinal TagCount();
  tSpecies* GetSpecies() const;

 protected:
  friend class tMetaPop;
  template <class tMode>
  friend class tLifeCycleWalk;

  // The list as stored: entries that left during a pass stay as holes until the
  // patch is synchronised, so that storage positions hold still while a pass
  // walks them and newcomers lie beyond its starting end.
  Integer StorageSize() const { return static_cast<Integer>(fInd.size()); }
  // The storage position of list index i.
  Integer StoragePosition(Integer i);
  // Appends, counts and (in a sexuate patch) lists an adult male; returns the
  // storage position.
  template <bool Males>
  Integer Append(const tIndividual& ind, Integer ageReproduction);
  // Counts the individual just put at the end of the list as Append does.
  template <bool Males>
  Integer Admit(Integer ageReproduction);
  // Makes the individual at a storage position a hole and uncounts it.
  template <bool Males>
  void RemoveAt(Integer position, Integer ageReproduction);
  // Closes the holes, keeping the order.
  virtual void Compact();
  // What the lists of its individuals hold, in bytes.
  virtual uint64_t StorageBytes() const { return fInd.capacity() * sizeof(tIndividual); }
  // Recounts the age classes after the age of reproduction changed.
  virtual void Reclassify();
  void ClearCounts();
  void CountIn(const tIndividual& ind, Integer sign);

  Cardinal fID;
  bool fKeepsMales = false;  // a sexuate patch
  std::vector<tIndividual> fInd;
  tRankIndex fPresent;  // the entries present, while there are holes and someone indexed them
  Integer fCount = 0;   // individuals present
  Integer fNjuveniles = 0;
  Integer fNadults = 0;
  Integer fNjuvenilesActual = 0;
  Integer fNadultsActual = 0;
};

class tPatchClonal : public tPatch {
 public:
  using tPatch::tPatch;
};

class tPatchHermaphrodite : public tPatch {
 public:
  using tPatch::tPatch;
};

class tPatchSexuate : public tPatch {
 public:
  tPatchSexuate(tMetaPop* metapop, Cardinal id);
  void SetInd(Integer i, const tIndividual& ind) override;
  void Clear() override;
  Single SexRatio() override;
  // A uniform random adult male of the patch; nullptr when there is none.
  const tMale* SelectRandomMale();
  Integer MatureMaleCount() const { return fMaleCount; }
  // The adult males in the order in which they became adult males of the patch.
  const tMale& MatureMale(Integer i);

 protected:
  template <class tMode>
  friend class tLifeCycleWalk;
  friend class tPatch;
  void Compact() override;
  void Reclassify() override;
  uint64_t StorageBytes() const override;
  void AppendMale(tIndividual& ind);
  void RemoveMale(tIndividual& ind);
  Integer MalePosition(Integer k);

  // The adult males as stored, with holes while the list has them.
  std::vector<tMale> fMales;
  tRankIndex fMalesPresent;
  Integer fMaleCount = 0;
  std::vector<Integer> fNewMaleSlot;  // room for the renumbering of Compact
};

// ------------------------------------------------------------------ pool

// The idle individuals. An idle individual keeps only its tag (New gives it
// everything else), so the pool is a stack of tags.
class tPoolOfIndividuals {
 public:
  explicit tPoolOfIndividuals(tMetaPop* metapop);
  tPoolOfIndividuals(const tPoolOfIndividuals&) = delete;
  tPoolOfIndividuals& operator=(const tPoolOfIndividuals&) = delete;

  // Appends n new individuals of the pool's type.
  void Add(Integer n);
  // The last idle individual (the pool grows by Increment when empty), made new
  // for the given parents (nullptr for none).
  tIndividual Take(const tIndividual* mother, const tIndividual* father);
  // ind becomes the next one taken.
  void Store(const tIndividual& ind);
  void SetIndividualType(tIndividualType type);
  tIndividualType IndividualType() const { return fIndividualType; }
  Integer Count() const { return static_cast<Integer>(fTags.size()); }
  // The tag kept by the idle individual at index i (the last is taken first).
  Integer IdleTag(Integer i) const { return fTags[i]; }
  Integer Increment() const { return fIncrement; }
  // Frees every idle individual.
  void Clear() { fTags.clear(); }

 private:
  template <class tMode>
  friend class tLifeCycleWalk;
  // The tag of the individual taken next; the pool grows first when empty.
  Integer TakeTag();

  std::vector<Integer> fTags;
  tIndividualType fIndividualType;
  Integer fIncrement = 10000;
  tMetaPop* fMetapop;
};

// ------------------------------------------------------------------ metapopulation

class tMetaPop {
 public:
  tMetaPop();
  ~tMetaPop();
  tMetaPop(const tMetaPop&) = delete;
  tMetaPop& operator=(const tMetaPop&) = delete;

  bool WaitingSync = false;  // someone passed a synchronisation point or reproduced
  Double Alpha = 0;
  Cardinal CurrentID = 1;  // the ID of the next individual
  bool Extinct = false;
  bool Explosion = false;
  bool Overflow = false;
  Integer ExtTime = -1;  // time of extinction or explosion
  Double MaxConnectivity = 0;
  Integer Seed1 = 0;
  Integer Seed2 = 0;
  std::unique_ptr<tSpecies> Species;
  Cardinal Time = 1;
  Cardinal MaxIndividuals = 0;  // the run overflows when more IDs have been given
  Cardinal ExplosionSize = 0;   // the run explodes above this population

  bool GeneratePedigree() const { return fGeneratePedigree; }
  void SetGeneratePedigree(bool on);
  // One prevalence of the mutant allele per locus, for founders.
  std::array<Double, 16>& GenePrevalences() { return fGenePrevalences; }
  const std::array<Double, 16>& GenePrevalences() const { return fGenePrevalences; }
  tPatch* GetPatches(Integer i) const { return fPatches[i].get(); }
  tPedigree* Pedigree() const { return fPedigree.get(); }
  tPoolOfIndividuals* Pool() const { return fPool.get(); }
  tReproductionMode GetReproductionMode() const;
  void SetReproductionMode(tReproductionMode mode);

  // Frees every patch and its individuals; clears the pedigree.
  void Clear();
  // Rebuilds N empty patches of the current mode, IDs 1..N.
  void AddPatches(Integer n);
  // Time 1, no end state, IDs from 1, pedigree cleared; patches untouched.
  void Initialise();
  // A new individual of the pool placed in the patch (and recorded in the
  // pedigree); valid until the patch's list next changes.
  tIndividual* NewIndividual(tPatch* patch, const tIndividual* mother, const tIndividual* father);
  Integer N() const;
  Integer PatchCount() const { return static_cast<Integer>(fPatches.size()); }
  // Up to steps time steps; stops before a step once an end state is set.
  void Run(Integer steps, Integer cycles);
  // One time step of cycles counted passes (at least one); passes repeated for
  // individuals waiting at a synchronisation point or after reproduction are not
  // counted. Sets Extinct, Explosion or Overflow and advances Time.
  void TimeStep(Integer cycles);
  // Individuals per tag value of the species (its ascending tag list), all patches.
  utile::tVectorOfCardinal TagCount();

 private:
  friend class tSpecies;
  friend class tPatch;
  friend class tPatchSexuate;
  friend class tPoolOfIndividuals;
  template <class tMode>
  friend class tLifeCycleWalk;
  void Reclassify();
  // Runs action with the walk of the pool's mode.
  template <class tAction>
  decltype(auto) WithWalk(tAction action);

  bool fGeneratePedigree = false;
  std::unique_ptr<tPoolOfIndividuals> fPool;
  std::array<Double, 16> fGenePrevalences{};
  std::vector<std::unique_ptr<tPatch>> fPatches;
  std::unique_ptr<tPedigree> fPedigree;
  Integer fWalking = 0;  // passes under way: storage positions must hold still
};

}  // namespace models
