// The individual-based engine as it stood before its storage was rebuilt (each
// individual an object of its own on a cache line, reached through pointers,
// lists of pointers with counting trees, virtual operations): kept unchanged in
// the benchmark binary so that every figure of the engine is measured beside it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Utile/CommonDecl.h"
#include "models/MetapopIBM.h"

namespace models::reference {

class tMetaPop;
class tPatch;
class tPatchClonal;
class tPatchHermaphrodite;
class tPatchSexuate;
class tSpecies;
class tIndividual;
class tPoolOfIndividuals;

// ------------------------------------------------------------------ individual lists

// The individuals of a patch (or its adult males) in the order in which they came.
// Removal leaves a hole that later compaction closes, so that leaving a large patch
// costs no more than leaving a small one; indexed reads skip the holes through a
// counting tree, so the order seen by the rules is that of an ordinary list.
class tIndividualList {
 public:
  // An individual is in at most one list of each kind at a time.
  enum tKind : Byte { lkPatch, lkMatureMales };
  explicit tIndividualList(tKind kind) : fKind(kind) {}
  tIndividualList(const tIndividualList&) = delete;
  tIndividualList& operator=(const tIndividualList&) = delete;

  Integer Count() const { return fCount; }
  // The individual at list index k (0 <= k < Count).
  tIndividual* operator[](Integer k);
  bool Contains(const tIndividual* ind) const;
  void Append(tIndividual* ind);
  // Removes ind when it is in the list; otherwise nothing.
  bool Remove(tIndividual* ind);
  // Puts ind at list index k in place of the individual there, which is returned.
  tIndividual* Replace(Integer k, tIndividual* ind);
  void Clear();

  // Storage positions, for passes that must not see later arrivals: entries may be
  // nullptr (a hole). While frozen, storage positions do not move.
  Integer StorageSize() const { return static_cast<Integer>(fSlots.size()); }
  tIndividual* AtStorage(Integer position) const { return fSlots[position]; }
  void Freeze() { ++fFrozen; }
  void Thaw() { --fFrozen; }
  // Closes the holes, keeping the order (not while frozen).
  void Compact();

 private:
  Integer StoragePosition(Integer k);
  void BuildTree();
  Integer TreePrefix(Integer n) const;

  std::vector<tIndividual*> fSlots;
  std::vector<Integer> fTree;  // counts of present entries, one-based, valid when fTreeValid
  Integer fCount = 0;
  Integer fFrozen = 0;
  bool fTreeValid = false;
  tKind fKind;
};

// ------------------------------------------------------------------ individuals

class tIndividual {
 public:
  explicit tIndividual(tMetaPop* metapop);
  virtual ~tIndividual() = default;
  tIndividual(const tIndividual&) = delete;
  tIndividual& operator=(const tIndividual&) = delete;

  Integer Age() const { return fAge; }
  tLifeEventType CurrentEvent() const;
  Integer Event() const { return fEvent; }
  void SetEvent(Integer event) { fEvent = event; }
  Cardinal Genes() const { return fGenes; }
  Cardinal ID() const { return fID; }
  tMetaPop* Metapop() const { return fMetapop; }
  tPatch* Patch() const { return fPatch; }
  tSpecies* Species() const;
  Integer Tag() const { return fTag; }
  void SetTag(Integer tag) { fTag = tag; }

  virtual void AddToPatch(tPatch* patch);
  virtual tIndividual* ChooseMate() = 0;
  virtual void RemoveFromPatch();
  void SetPatch(tPatch* patch) { fPatch = patch; }
  void MoveToPatch(tPatch* patch);
  void Dispose();

  tAgeClass AgeClass() const;
  void NextEvent();
  void AltEvent();
  bool GeneMother(Integer locus) const { return (fGenes >> locus) & 1u; }
  bool GeneFather(Integer locus) const { return (fGenes >> (16 + locus)) & 1u; }

  // (Re)initialises an individual taken from the pool: the next ID, age 0, event 0;
  // the tag keeps its former value. Subclasses set the genome (and the sex).
  virtual void New(tMetaPop* metapop, tIndividual* mother, tIndividual* father);
  // Walks the cycle until a stopping event (Aging, Synchronisation, the end).
  void DoLifeCyle();

  // The rules of the events: True continues at NextEvent, False at AltEvent.
  bool Birth(const tLifeEvent& event);
  bool Death(const tLifeEvent& event);
  virtual bool Dispersal(const tLifeEvent& event);  // no rule selects it
  bool DispersalInvExponential(const tLifeEvent& event);
  bool GeneConditional(const tLifeEvent& event);
  virtual bool GetOlder(const tLifeEvent& event);
  bool Random(const tLifeEvent& event);
  bool RegulationCeiling(const tLifeEvent& event);
  virtual bool RegulationGompertz(const tLifeEvent& event);  // no rule selects it
  virtual bool RegulationRicker(const tLifeEvent& event);    // no rule selects it
  bool ReproductionDensityIndependent(const tLifeEvent& event);
  bool ReproductionCeiling(const tLifeEvent& event);
  bool ReproductionRicker(const tLifeEvent& event);
  bool ReproductionGompertz(const tLifeEvent& event);
  bool Survival(const tLifeEvent& event);
  bool Synchronisation(const tLifeEvent& event);
  bool Tagging(const tLifeEvent& event);
  // Only a sexuate individual has a sex.
  virtual bool SexConditional(const tLifeEvent& event);

 protected:
  // The genome of a child: the maternal half from the mother's two copies, the
  // paternal half from the father's, each mixed by one random 16-bit mask; a
  // missing parent's half is drawn from the founder prevalences.
  void Recombinate(const tIndividual* mother, const tIndividual* father);
  void Reproduce(Double lambda, tIndividual* mate);

  tMetaPop* fMetapop;
  Integer fTag = 0;
  Integer fAge = 0;
  bool fDead = false;
  Cardinal fID = 0;
  tPatch* fPatch = nullptr;
  Integer fEvent = 0;
  Cardinal fGenes = 0;

 private:
  friend class tIndividualList;
  friend class tPoolOfIndividuals;
  friend class tPatch;
  friend class tPatchSexuate;
  // Position in its patch's list and in its patch's adult males; -1 when in none.
  Integer fSlots[2] = {-1, -1};
  bool fIdle = false;  // in the pool
};

class tClonal : public tIndividual {
 public:
  using tIndividual::tIndividual;
  tIndividual* ChooseMate() override;
  // A clone carries its mother's genome; a founder a random homozygous one.
  void New(tMetaPop* metapop, tIndividual* mother, tIndividual* father) override;
  tPatchClonal* GetPatch() const;
};

class tHermaphrodite : public tIndividual {
 public:
  using tIndividual::tIndividual;
  tIndividual* ChooseMate() override;
  void New(tMetaPop* metapop, tIndividual* mother, tIndividual* father) override;
  tPatchHermaphrodite* GetPatch() const;
};

class tSexuate : public tIndividual {
 public:
  using tIndividual::tIndividual;
  tIndividual* ChooseMate() override;
  bool GetOlder(const tLifeEvent& event) override;
  void New(tMetaPop* metapop, tIndividual* mother, tIndividual* father) override;
  tPatchSexuate* GetPatch() const;
  bool SexConditional(const tLifeEvent& event) override;
  tSex Sex() const { return fSex; }

 private:
  tSex fSex = sFemale;
};

// ------------------------------------------------------------------ species

class tSpecies {
 public:
  using tEventProcedure = bool (tSpecies::*)(tIndividual&, const tLifeEvent&);

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
  // the landscape matrices as they are now), the tag list, the handlers and one
  // end event.
  void MakeCycle(const tLifeCycle& cycle);
  void ClearLifeCycle();
  void AssignEventProcedures();
  bool DoCycleEvent(tIndividual& ind);

  Integer EventCount() const { return static_cast<Integer>(fLifeCycle.size()); }
  tLifeEvent GetLifeCycle(Integer i) const;
  const tLifeEvent& Event(Integer i) const { return fLifeCycle[i]; }
  Integer NextEvent(Integer i) const { return fLifeCycle[i].NextEvent; }
  Integer AltEvent(Integer i) const { return fLifeCycle[i].AltEvent; }
  Integer LastEvent() const { return static_cast<Integer>(fLifeCycle.size()) - 1; }
  Integer AgeAtEvent(Integer n) const;
  Integer AgeDeath() const { return AgeAtEvent(LastEvent()); }

  bool EventBirth(tIndividual& ind, const tLifeEvent& event);
  bool EventSexConditional(tIndividual& ind, const tLifeEvent& event);
  bool EventSurvival(tIndividual& ind, const tLifeEvent& event);
  bool EventDispersalInvExponential(tIndividual& ind, const tLifeEvent& event);
  bool EventReproductionDensityIndependent(tIndividual& ind, const tLifeEvent& event);
  bool EventReproductionCeiling(tIndividual& ind, const tLifeEvent& event);
  bool EventReproductionRicker(tIndividual& ind, const tLifeEvent& event);
  bool EventReproductionGompertz(tIndividual& ind, const tLifeEvent& event);
  bool EventRegulationCeiling(tIndividual& ind, const tLifeEvent& event);
  bool EventSynchronisation(tIndividual& ind, const tLifeEvent& event);
  bool EventRandom(tIndividual& ind, const tLifeEvent& event);
  bool EventDeath(tIndividual& ind, const tLifeEvent& event);
  bool EventGeneConditional(tIndividual& ind, const tLifeEvent& event);
  bool EventTagging(tIndividual& ind, const tLifeEvent& event);

  // The destination drawn for a disperser of dispersal event eventIndex leaving the
  // patch of index origin, exactly as a discrete draw over column origin of Mat2
  // (one uniform draw), and its survival Mat1[destination][origin].
  void DrawDispersal(Integer eventIndex, Integer origin, Integer& destination, Double& survival) const;

 private:
  friend class tIndividual;
  // Per origin patch: the destinations of positive weight, the cumulative weights
  // (a leading 0) and the survival of each move, laid out column after column.
  struct tDispersalTable {
    std::vector<Integer> Start;  // per origin: first entry of its destinations; one more at the end
    std::vector<Integer> Destination;
    std::vector<Double> Survival;
    std::vector<Double> Cumulative;   // per origin: one more entry than destinations
    std::vector<Integer> Guide;       // per origin: where the search for each share of the total starts
    std::vector<Double> BucketScale;  // per origin: guide entries per unit of cumulative weight
    Integer PatchCount = 0;
  };
  void BuildDispersalEvent(tLifeEvent& event, Integer eventIndex);

  Integer fAgeReproduction = 0;
  utile::tVectorOfInteger fTags;
  std::vector<tEventProcedure> fCycleProcedures;
  tLifeCycle fLifeCycle;
  tReproductionMode fReproductionMode = rmClonal;
  bool fHasSynchronisation = false;
  std::vector<std::unique_ptr<tDispersalTable>> fDispersalTables;  // by event index
};

// ------------------------------------------------------------------ patches

class tPatch {
 public:
  tPatch(tMetaPop* metapop, Cardinal id);
  virtual ~tPatch();
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
  virtual tIndividual* GetInd(Integer i);
  virtual void SetInd(Integer i, tIndividual* ind);
  virtual void Add(tIndividual* ind);
  // Creates n founders waiting at event 1 and synchronises the counts.
  virtual void AddIndividuals(Integer n);
  // Returns every individual to the pool and sets the counts to 0.
  virtual void Clear();
  virtual void DoLifeCycle();
  virtual void GetOlder();
  // Removes ind when it is in this patch; otherwise nothing.
  virtual void Remove(tIndividual* ind);
  virtual Single SexRatio();
  void Synchronise();

  // Synchronised counts, read by every density rule.
  Integer N() const { return fNjuveniles + fNadults; }
  Integer N(tAgeClass ageClass) const;
  Integer NjuvenilesActual() const { return fNjuvenilesActual; }
  Integer NadultsActual() const { return fNadultsActual; }
  Integer IndCount() const { return fInd.Count(); }
  Double Ncompetitive() const;
  // Individuals per tag value of the species; untagged ones are not counted.
  utile::tVectorOfCardinal TagCount();
  tSpecies* GetSpecies() const;

 protected:
  friend class tMetaPop;
  // Recounts the age classes after the age of reproduction changed.
  virtual void Reclassify();
  // Closes the holes left by departures (between passes).
  virtual void CompactLists();
  void ClearCounts();

  Cardinal fID;
  tIndividualList fInd;
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
  void SetInd(Integer i, tIndividual* ind) override;
  void Add(tIndividual* ind) override;
  void Clear() override;
  void Remove(tIndividual* ind) override;
  Single SexRatio() override;
  // A uniform random adult male of the patch; nullptr when there is none.
  tIndividual* SelectRandomMale();
  Integer MatureMaleCount() const { return fMatureMaleList.Count(); }
  tIndividual* MatureMale(Integer i) { return fMatureMaleList[i]; }

 protected:
  friend class tSexuate;
  void Reclassify() override;
  void CompactLists() override;
  tIndividualList fMatureMaleList;
};

// ------------------------------------------------------------------ pool

class tPoolOfIndividuals {
 public:
  tPoolOfIndividuals(tMetaPop* metapop);
  ~tPoolOfIndividuals();
  tPoolOfIndividuals(const tPoolOfIndividuals&) = delete;
  tPoolOfIndividuals& operator=(const tPoolOfIndividuals&) = delete;

  // Appends n new individuals of the pool's type.
  void Add(Integer n);
  // The last idle individual (the pool grows by Increment when empty), made new.
  tIndividual* Take(tIndividual* mother, tIndividual* father);
  // ind becomes the next one taken.
  void Store(tIndividual* ind);
  void SetIndividualType(tIndividualType type);
  tIndividualType IndividualType() const { return fIndividualType; }
  Integer Count() const { return static_cast<Integer>(fIndividuals.size()); }
  tIndividual* GetIndividuals(Integer i) const { return fIndividuals[i]; }
  Integer Increment() const { return fIncrement; }
  // Frees every idle individual, last first.
  void Clear();
  // Frees an individual that is in no patch and not in the pool (a patch that is
  // destroyed frees its individuals).
  void Free(tIndividual* ind);

  // Room for one individual of any kind, on a cache line of its own.
  struct alignas(64) tIndividualSlot {
    std::byte Bytes[64];
  };

 private:
  tIndividual* Create();

  std::vector<tIndividual*> fIndividuals;
  tIndividualType fIndividualType;
  Integer fIncrement = 10000;
  tMetaPop* fMetapop;
  // The memory of every individual of the metapopulation, wherever it is, in
  // blocks; the slots of freed individuals are used again.
  std::vector<std::unique_ptr<tIndividualSlot[]>> fBlocks;
  std::vector<tIndividualSlot*> fFreeSlots;
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
  tIndividual* NewIndividual(tPatch* patch, tIndividual* mother, tIndividual* father);
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
  void Reclassify();

  bool fGeneratePedigree = false;
  std::unique_ptr<tPoolOfIndividuals> fPool;
  std::array<Double, 16> fGenePrevalences{};
  std::vector<std::unique_ptr<tPatch>> fPatches;
  std::unique_ptr<tPedigree> fPedigree;
};

}  // namespace models::reference
