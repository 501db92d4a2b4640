#include "models/MetapopIBM.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>

#include "Utile/MatrixOps.h"
#include "Utile/Platform.h"
#include "Utile/RandomFunctions.h"
#include "Utile/RunTime.h"
#include "Utile/VectorOps.h"
#include "models/MetapopCommon.h"
#include "models/PedigreeOps.h"

namespace models {

using utile::Format;

namespace {

// Letting messages through reads a clock; a few dozen life cycles take far less
// than the pump's interval, so the hook is consulted once every so many.
constexpr Integer LifeCyclesPerMessageCheck = 32;
Integer gLifeCyclesUntilMessageCheck = 1;

// Holes that a caller's Remove leaves between passes are closed once they
// outnumber the individuals present by this margin.
constexpr Integer CompactionMargin = 16;

constexpr Integer LowBit(Integer i) {
  return i & -i;
}

constexpr uint64_t EveryByte = 0x0101010101010101ull;

// The bit counts of the eight bytes of a word, one per byte; without relying on
// a population-count instruction.
constexpr uint64_t ByteCounts(uint64_t x) {
  x = x - ((x >> 1) & 0x5555555555555555ull);
  x = (x & 0x3333333333333333ull) + ((x >> 2) & 0x3333333333333333ull);
  return (x + (x >> 4)) & 0x0F0F0F0F0F0F0F0Full;
}

constexpr Integer PopCount(uint64_t x) {
  return static_cast<Integer>((ByteCounts(x) * EveryByte) >> 56);
}

// For each byte value and rank r, the position of its set bit of rank r.
constexpr auto SelectInByteTable = [] {
  std::array<std::array<uint8_t, 256>, 8> table{};
  for (unsigned value = 0; value < 256; ++value) {
    unsigned rank = 0;
    for (unsigned bit = 0; bit < 8; ++bit)
      if ((value >> bit) & 1u) table[rank++][value] = static_cast<uint8_t>(bit);
  }
  return table;
}();

// The position of the set bit of rank r (from 0) in a word that has more than r,
// without a branch: the byte is found from the running byte counts compared with
// r all at once.
Integer SelectInWord(uint64_t word, Integer r) {
  const uint64_t running = ByteCounts(word) * EveryByte;  // byte i: bits in bytes 0..i
  const uint64_t atMostR =
      ((static_cast<uint64_t>(r) * EveryByte | 0x8080808080808080ull) - running) & 0x8080808080808080ull;
  const Integer byte = static_cast<Integer>(((atMostR >> 7) * EveryByte) >> 56);
  const Integer before = static_cast<Integer>(((running << 8) >> (8 * byte)) & 0xFF);
  return 8 * byte + SelectInByteTable[r - before][(word >> (8 * byte)) & 0xFF];
}

// A parent as its offspring see it.
struct tParent {
  Cardinal ID = 0;
  Cardinal Genes = 0;
};

tParent ParentOf(const tIndividual& ind) {
  return {ind.ID(), ind.Genes()};
}

tParent ParentOf(const tMale& male) {
  return {male.ID, male.Genes};
}

// ln(F / FK) of the density-dependent reproduction rules; both must be positive.
Double LogRelativeFecundity(const char* rule, Double fecundity, Double equilibrium) {
  if (!(fecundity > 0) || !(equilibrium > 0))
    throw utile::EInvalidOp(
        Format("%s reproduction takes the logarithm of fecundity %g over equilibrium "
               "fecundity %g: both must be positive",
               rule, fecundity, equilibrium));
  return std::log(fecundity / equilibrium);
}

Double CheckedLambda(Double lambda, const char* rule, Cardinal patch) {
  if (!std::isfinite(lambda))
    throw utile::EInvalidOp(
        Format("%s reproduction in patch %d gives no finite mean number of offspring", rule, patch));
  return lambda;
}

// Keeps the metapopulation's count of passes under way, also when a rule raises.
class tWalking {
 public:
  explicit tWalking(Integer& walking) : fWalking(walking) { ++fWalking; }
  ~tWalking() { --fWalking; }
  tWalking(const tWalking&) = delete;
  tWalking& operator=(const tWalking&) = delete;

 private:
  Integer& fWalking;
};

}  // namespace

// =================================================================== tRankIndex

void tRankIndex::BuildTree() {
  fTreeValid = true;
  const Integer words = static_cast<Integer>(fWords.size());
  Integer top = 1;
  while (top < words) top <<= 1;
  fTree.assign(static_cast<size_t>(top) + 1, 0);
  for (Integer i = 1; i <= top; ++i) {
    if (i <= words) fTree[i] += PopCount(fWords[i - 1]);
    const Integer parent = i + LowBit(i);
    if (parent <= top) fTree[parent] += fTree[i];
  }
}

void tRankIndex::AddToWord(Integer word, Integer delta) {
  if (!fTreeValid) return;
  const Integer top = static_cast<Integer>(fTree.size()) - 1;
  for (Integer i = word + 1; i <= top; i += LowBit(i)) fTree[i] += delta;
}

void tRankIndex::Append(bool present) {
  if ((fSize & 63) == 0) {
    fWords.push_back(0);
    // Past the words the tree covers: made again, twice as large, when needed.
    if (static_cast<Integer>(fWords.size()) >= static_cast<Integer>(fTree.size())) fTreeValid = false;
  }
  const Integer position = fSize++;
  if (present) {
    fWords[position >> 6] |= uint64_t{1} << (position & 63);
    AddToWord(position >> 6, 1);
    ++fCount;
    if (fLeadingPresent == position) ++fLeadingPresent;
  } else if (fLeadingHoles == position) {
    ++fLeadingHoles;
  }
}

void tRankIndex::Remove(Integer position) {
  fWords[position >> 6] &= ~(uint64_t{1} << (position & 63));
  AddToWord(position >> 6, -1);
  --fCount;
  if (position < fLeadingPresent) fLeadingPresent = position;
  if (position == fLeadingHoles) fLeadingHoles = NextPresent(position);
}

Integer tRankIndex::NextPresent(Integer position) const {
  while (position < fSize) {
    const uint64_t rest = fWords[position >> 6] >> (position & 63);
    if (rest != 0) return std::min(position + std::countr_zero(rest), fSize);
    position = (position | 63) + 1;
  }
  return fSize;
}

Integer tRankIndex::SelectInTree(Integer k) {
  if (!fTreeValid) BuildTree();
  // Descends the tree to the word that holds the k-th present entry. Every node
  // visited lies within the tree (k is below the total), and the choice at each
  // level is made without a branch that the processor would have to guess.
  const Integer top = static_cast<Integer>(fTree.size()) - 1;
  Integer word = 0;
  for (Integer step = top; step > 0; step >>= 1) {
    const Integer next = word + step;
    const Integer count = fTree[next];
    const bool below = count <= k;
    word = below ? next : word;
    k -= below ? count : 0;
  }
  return word * 64 + SelectInWord(fWords[word], k);
}

// =================================================================== tIndividual

void tIndividual::SetEvent(Integer event) {
  utile::Assert(event >= 0 && event <= tSpecies::MaxEventCount, "Event index out of range");
  fEvent = static_cast<uint16_t>(event);
}

// =================================================================== reproduction modes

namespace {

// The genome of a child: the maternal half from the mother's two copies, the
// paternal half from the father's, each mixed by one random 16-bit mask; a
// missing parent's half is drawn from the founder prevalences.
Cardinal Recombinate(const tMetaPop& metapop, const tParent* mother, const tParent* father) {
  const auto& prevalences = metapop.GenePrevalences();
  const Cardinal m = static_cast<Cardinal>(utile::Ran(Integer{65536}));
  Cardinal genes = 0;
  if (mother != nullptr) {
    const Cardinal g = mother->Genes;
    genes = (g & ~m & 0xFFFFu) | ((g >> 16) & m);
  } else {
    for (Integer i = 0; i < 16; ++i)
      if (utile::Ran() < prevalences[i]) genes |= 1u << i;
  }
  const Cardinal f = static_cast<Cardinal>(utile::Ran(Integer{65536})) << 16;
  if (father != nullptr) {
    const Cardinal g = father->Genes;
    genes |= ((g << 16) & ~f) | (g & f);
  } else {
    for (Integer i = 0; i < 16; ++i)
      if (utile::Ran() < prevalences[i]) genes |= 1u << (16 + i);
  }
  return genes;
}

}  // namespace

struct tClonal {
  static constexpr tReproductionMode Mode = rmClonal;
  static constexpr bool Males = false;
  // A clone carries its mother's genome; a founder a random homozygous one.
  static void New(const tMetaPop& metapop, tIndividual& child, const tParent* mother, const tParent*) {
    if (mother != nullptr) {
      child.fGenes = mother->Genes;
      return;
    }
    const auto& prevalences = metapop.GenePrevalences();
    Cardinal genes = 0;
    for (Integer i = 0; i < 16; ++i)
      if (utile::Ran() < prevalences[i]) genes |= (1u << i) | (1u << (16 + i));
    child.fGenes = genes;
  }
  static tPedigreeSex PedigreeSex(const tIndividual&) { return psNA; }
};

struct tHermaphrodite {
  static constexpr tReproductionMode Mode = rmHermaphrodite;
  static constexpr bool Males = false;
  static void New(const tMetaPop& metapop, tIndividual& child, const tParent* mother, const tParent* father) {
    child.fGenes = Recombinate(metapop, mother, father);
  }
  static tPedigreeSex PedigreeSex(const tIndividual&) { return psNA; }
};

struct tSexuate {
  static constexpr tReproductionMode Mode = rmSexuate;
  static constexpr bool Males = true;
  static void New(const tMetaPop& metapop, tIndividual& child, const tParent* mother, const tParent* father) {
    child.fGenes = Recombinate(metapop, mother, father);
    child.fSex = utile::Ran() < metapop.Species->SexRatio ? sFemale : sMale;
  }
  static tPedigreeSex PedigreeSex(const tIndividual& ind) { return ind.fSex == sFemale ? psFemale : psMale; }
};

// =================================================================== the walk

// The life cycle of the individuals of one reproduction mode: everything a pass
// needs is looked up once, when the walk is made.
template <class tMode>
class tLifeCycleWalk {
 public:
  explicit tLifeCycleWalk(tMetaPop& metapop)
      : fMetapop(metapop),
        fSpecies(*metapop.Species),
        fSteps(fSpecies.fSteps.data()),
        fStepCount(static_cast<Integer>(fSpecies.fSteps.size())),
        fPedigree(metapop.fGeneratePedigree ? metapop.fPedigree.get() : nullptr),
        fPool(*metapop.fPool),
        fAgeReproduction(fSpecies.fAgeReproduction) {}

  // The cycles of the individuals present at the start, the last first.
  void Pass(tPatch& patch);
  // Every individual one age older, the last first; then the counts are synchronised.
  void GetOlder(tPatch& patch);
  // A new individual of the pool in the patch; its storage position.
  Integer NewIndividual(tPatch& patch, const tParent* mother, const tParent* father);

 private:
  using tStep = tSpecies::tStep;

  // Where an individual is: its patch and its storage position there.
  struct tPlace {
    tPatch* Patch;
    Integer Position;
  };
  // One individual walks its cycle until a stopping event (Aging,
  // Synchronisation, the end); where it is then, as it may have moved.
  tPlace LifeCycle(tPatch* patch, Integer position);
  // Takes the individual out of its patch; the end event, where its walk goes.
  Integer Death(tPatch& patch, Integer position, const tStep& step);
  void Move(tPatch*& patch, Integer& position, tPatch& destination);
  // The mate of the individual at position; false when there is none.
  bool ChooseMate(tPatch& patch, Integer position, tParent& mate);
  void Reproduce(tPatch& patch, Integer position, Double lambda, const tParent& mate);
  [[noreturn]] void NoRule(Integer event) const;

  static constexpr Integer NestedWalk = -1;

  tMetaPop& fMetapop;
  tSpecies& fSpecies;
  const tStep* fSteps;
  Integer fStepCount;
  tPedigree* fPedigree;  // nullptr while pedigrees are off
  tPoolOfIndividuals& fPool;
  Integer fAgeReproduction;
};

template <class tMode>
void tLifeCycleWalk<tMode>::Pass(tPatch& patch) {
  utile::Assert(patch.fKeepsMales == tMode::Males, "The patches are not of the reproduction mode");
  const tWalking walking(fMetapop.fWalking);
  // Offspring and immigrants appended during the pass lie beyond the starting end.
  for (Integer p = patch.StorageSize() - 1; p >= 0; --p) {
    if (patch.fInd[p].IsRemoved()) continue;
    LifeCycle(&patch, p);
  }
}

template <class tMode>
typename tLifeCycleWalk<tMode>::tPlace tLifeCycleWalk<tMode>::LifeCycle(tPatch* patch, Integer position) {
  if (--gLifeCyclesUntilMessageCheck <= 0) [[unlikely]] {
    gLifeCyclesUntilMessageCheck = LifeCyclesPerMessageCheck;
    utile::ProcessMessages();
  }
  // The event is kept here and written back when the walk stops: an individual
  // stored a moment ago is read whole when it moves or gives birth, and a read
  // over fresh narrow writes waits for them.
  Integer event = patch->fInd[position].fEvent;
  utile::Assert(event < fStepCount, "The individual's event is not in the life cycle");
  bool result = true;
  // Each rule ends with its own jump to the next rule, so that the processor
  // learns which rule follows which (one shared jump mispredicts most of them).
#define GO_TO_RULE_OF_EVENT                \
  switch (fSteps[event].Rule) {            \
    case erStop:                           \
      goto Stop;                           \
    case erBirth:                          \
      goto Birth;                          \
    case erSexConditional:                 \
      goto SexConditional;                 \
    case erSurvival:                       \
      goto Survival;                       \
    case erDispersalInvExponential:        \
      goto DispersalInvExponential;        \
    case erReproductionDensityIndependent: \
      goto ReproductionDensityIndependent; \
    case erReproductionCeiling:            \
      goto ReproductionCeiling;            \
    case erReproductionRicker:             \
      goto ReproductionRicker;             \
    case erReproductionGompertz:           \
      goto ReproductionGompertz;           \
    case erRegulationCeiling:              \
      goto RegulationCeiling;              \
    case erRandom:                         \
      goto Random;                         \
    case erDeath:                          \
      goto Death;                          \
    case erGeneConditional:                \
      goto GeneConditional;                \
    case erTagging:                        \
      goto Tagging;                        \
    case erNone:                           \
      goto None;                           \
  }
#define GO_TO_NEXT_RULE                                    \
  event = result ? fSteps[event].Next : fSteps[event].Alt; \
  GO_TO_RULE_OF_EVENT
  try {
    GO_TO_RULE_OF_EVENT
  Birth:
    // Reached only through a link: the walk goes on from where the nested walk
    // stops.
    patch->fInd[position].fEvent = static_cast<uint16_t>(fSteps[event].Next);
    event = NestedWalk;  // the nested walk keeps the event now
    {
      const tPlace place = LifeCycle(patch, position);
      patch = place.Patch;
      position = place.Position;
    }
    event = patch->fInd[position].fEvent;
    result = true;
    GO_TO_NEXT_RULE
  SexConditional:
    if constexpr (tMode::Mode == rmSexuate)
      result = patch->fInd[position].fSex == sFemale;
    else
      throw utile::EInvalidOperation("A Sex-dependent event needs a sexuate species");
    GO_TO_NEXT_RULE
  Survival:
    result = utile::Ran() <= fSteps[event].Value;
    if (!result) event = Death(*patch, position, fSteps[event]);
    GO_TO_NEXT_RULE
  DispersalInvExponential : {
    Integer destination;
    Double survival;
    fSpecies.DrawDispersal(event, static_cast<Integer>(patch->fID) - 1, destination, survival);
    result = utile::Ran() <= survival;
    if (result)
      Move(patch, position, *fMetapop.fPatches[destination]);
    else
      event = Death(*patch, position, fSteps[event]);
    GO_TO_NEXT_RULE
  }
  ReproductionDensityIndependent : {
    tParent mate;
    if (ChooseMate(*patch, position, mate))
      Reproduce(*patch, position, patch->Suitability * fSteps[event].Value, mate);
    fMetapop.WaitingSync = true;
    result = true;
    GO_TO_NEXT_RULE
  }
  ReproductionCeiling : {
    const Integer k = patch->Capacity;
    const Double n = patch->Ncompetitive();
    Double lambda;
    if (k > n) {
      lambda = patch->Suitability * fSteps[event].Value;
    } else {
      if (n == 0)
        throw utile::EZeroDivide(
            Format("Ceiling reproduction in patch %d divides by zero: the carrying capacity is %d and the "
                   "competitive density is 0",
                   patch->fID, k));
      lambda = k / n * fSpecies.EquilibriumLambda;
    }
    tParent mate;
    if (ChooseMate(*patch, position, mate)) Reproduce(*patch, position, lambda, mate);
    fMetapop.WaitingSync = true;
    result = true;
    GO_TO_NEXT_RULE
  }
  ReproductionRicker : {
    tParent mate;
    if (ChooseMate(*patch, position, mate)) {
      const Double f = fSteps[event].Value;
      const Double logRatio = LogRelativeFecundity("Ricker", f, fSpecies.EquilibriumLambda);
      const Integer k = patch->Capacity;
      if (k == 0)
        throw utile::EZeroDivide(Format(
            "Ricker reproduction in patch %d divides by zero: the carrying capacity is 0", patch->fID));
      const Double lambda = patch->Suitability * f * std::exp(-logRatio * patch->Ncompetitive() / k);
      Reproduce(*patch, position, CheckedLambda(lambda, "Ricker", patch->fID), mate);
    }
    fMetapop.WaitingSync = true;
    result = true;
    GO_TO_NEXT_RULE
  }
  ReproductionGompertz : {
    tParent mate;
    if (ChooseMate(*patch, position, mate)) {
      const Double f = fSteps[event].Value;
      const Double n = patch->Ncompetitive();
      Double lambda = patch->Suitability * f;
      if (n > 0) {
        const Double logRatio = LogRelativeFecundity("Gompertz", f, fSpecies.EquilibriumLambda);
        const Integer k = patch->Capacity;
        if (k <= 0)
          throw utile::EInvalidOp(
              Format("Gompertz reproduction in patch %d takes the logarithm of the carrying capacity %d",
                     patch->fID, k));
        if (k == 1)
          throw utile::EZeroDivide(
              Format("Gompertz reproduction in patch %d divides by zero: the logarithm of its carrying "
                     "capacity 1 is 0",
                     patch->fID));
        lambda *= std::pow(n, -logRatio / std::log(static_cast<Double>(k)));
      }
      Reproduce(*patch, position, CheckedLambda(lambda, "Gompertz", patch->fID), mate);
    }
    fMetapop.WaitingSync = true;
    result = true;
    GO_TO_NEXT_RULE
  }
  RegulationCeiling : {
    const Integer k = patch->Capacity;
    const Double n = patch->Ncompetitive();
    result = true;
    if (!(k > n)) {
      if (n == 0)
        throw utile::EZeroDivide(
            Format("Density-dependence in patch %d divides by zero: the carrying capacity is %d and the "
                   "competitive density is 0",
                   patch->fID, k));
      result = utile::Ran() < k / n;
    }
    GO_TO_NEXT_RULE
  }
  Random:
    result = utile::Ran() < fSteps[event].Value;
    GO_TO_NEXT_RULE
  Death:
    event = Death(*patch, position, fSteps[event]);
    result = false;
    GO_TO_NEXT_RULE
  GeneConditional : {
    const tIndividual& ind = patch->fInd[position];
    const bool mother = ind.GeneMother(fSteps[event].Number);
    const bool father = ind.GeneFather(fSteps[event].Number);
    result = fSteps[event].Inheritance == itDominant ? !(mother || father) : !(mother && father);
    GO_TO_NEXT_RULE
  }
  Tagging:
    patch->fInd[position].fTag = fSteps[event].Number;
    result = true;
    GO_TO_NEXT_RULE
  None:
    NoRule(event);
  Stop:;
  } catch (...) {
    if (event != NestedWalk) patch->fInd[position].fEvent = static_cast<uint16_t>(event);
    throw;
  }
#undef GO_TO_NEXT_RULE
#undef GO_TO_RULE_OF_EVENT
  tIndividual& ind = patch->fInd[position];
  ind.fEvent = static_cast<uint16_t>(event);
  if (fSteps[event].Type != leDead) return {patch, position};
  // Death has already taken it out of its patch; one that reached the end
  // through a missing link leaves it here. A walk nested in Birth may have
  // returned it to the pool already.
  if (!ind.IsRemoved()) patch->RemoveAt<tMode::Males>(position, fAgeReproduction);
  if ((ind.fState & tIndividual::Disposed) == 0) {
    ind.fState |= tIndividual::Disposed;
    fPool.fTags.push_back(ind.fTag);
  }
  return {patch, position};
}

template <class tMode>
void tLifeCycleWalk<tMode>::NoRule(Integer event) const {
  throw utile::EInvalidOperation(
      Format("Event %d (%s) has no rule", event, LifeEventTypeStr[fSteps[event].Type]));
}

template <class tMode>
inline Integer tLifeCycleWalk<tMode>::Death(tPatch& patch, Integer position, const tStep& step) {
  tIndividual& ind = patch.fInd[position];
  if (step.DeathStat == dsCensused && fPedigree != nullptr) fPedigree->AddPosition(ind.fID, patch.fID);
  if (!ind.IsRemoved()) patch.RemoveAt<tMode::Males>(position, fAgeReproduction);
  return fStepCount - 1;  // the end
}

template <class tMode>
void tLifeCycleWalk<tMode>::Move(tPatch*& patch, Integer& position, tPatch& destination) {
  // Copied before it is marked as gone, and straight into its new place.
  const Integer from = position;
  destination.fInd.push_back(patch->fInd[from]);
  patch->RemoveAt<tMode::Males>(from, fAgeReproduction);
  position = destination.Admit<tMode::Males>(fAgeReproduction);
  patch = &destination;
}

template <class tMode>
bool tLifeCycleWalk<tMode>::ChooseMate(tPatch& patch, Integer position, tParent& mate) {
  const tIndividual& self = patch.fInd[position];
  if constexpr (tMode::Mode == rmClonal) {
    mate = ParentOf(self);
    return true;
  } else if constexpr (tMode::Mode == rmHermaphrodite) {
    if (utile::Ran() < fSpecies.Autofecondation) {
      mate = ParentOf(self);
      return true;
    }
    const Cardinal id = self.fID;
    const auto isMate = [this, id](const tIndividual& candidate) {
      return fAgeReproduction <= candidate.fAge && candidate.fID != id;
    };
    Integer k = utile::Ran(patch.fCount);
    const tIndividual* candidate = &patch.fInd[patch.StoragePosition(k)];
    while (!isMate(*candidate)) {
      if (k < 1) break;
      k = utile::Ran(k);
      candidate = &patch.fInd[patch.StoragePosition(k)];
    }
    if (!isMate(*candidate)) return false;
    mate = ParentOf(*candidate);
    return true;
  } else {
    if (self.fSex == sMale) return false;
    const tMale* male = static_cast<tPatchSexuate&>(patch).SelectRandomMale();
    if (male == nullptr) return false;
    mate = ParentOf(*male);
    return true;
  }
}

template <class tMode>
void tLifeCycleWalk<tMode>::Reproduce(tPatch& patch, Integer position, Double lambda, const tParent& mate) {
  const Integer k = utile::PoissonRan(lambda);
  // Values, not references: the births move the list.
  const tParent mother = ParentOf(patch.fInd[position]);
  const uint16_t afterBirth = static_cast<uint16_t>(fSteps[0].Next);
  for (Integer i = 0; i < k; ++i) {
    Integer child = NewIndividual(patch, &mother, &mate);
    patch.fInd[child].fEvent = afterBirth;
    LifeCycle(&patch, child);
  }
}

template <class tMode>
Integer tLifeCycleWalk<tMode>::NewIndividual(tPatch& patch, const tParent* mother, const tParent* father) {
  utile::Assert(fPool.fIndividualType == static_cast<tIndividualType>(tMode::Mode),
                "The pool's individuals are not of the reproduction mode");
  // Made in its place in the list.
  tIndividual& child = patch.fInd.emplace_back();
  child.fTag = fPool.TakeTag();
  child.fID = fMetapop.CurrentID++;
  tMode::New(fMetapop, child, mother, father);
  const Integer position = patch.Admit<tMode::Males>(fAgeReproduction);
  if (fPedigree != nullptr)
    fPedigree->Add(fMetapop.Time, child.fID, mother != nullptr ? mother->ID : 0,
                   father != nullptr ? father->ID : 0, patch.fID, tMode::PedigreeSex(child));
  return position;
}

template <class tMode>
void tLifeCycleWalk<tMode>::GetOlder(tPatch& patch) {
  utile::Assert(patch.fKeepsMales == tMode::Males, "The patches are not of the reproduction mode");
  const Integer ageReproduction = fAgeReproduction;
  for (Integer p = patch.StorageSize() - 1; p >= 0; --p) {
    tIndividual& ind = patch.fInd[p];
    if (ind.IsRemoved()) continue;
    if (fPedigree != nullptr) fPedigree->AddPosition(ind.fID, patch.fID);
    const bool wasJuvenile = ageReproduction > ind.fAge;
    ++ind.fAge;
    ind.fEvent = static_cast<uint16_t>(fSteps[ind.fEvent].Next);
    if constexpr (tMode::Males)
      if (ind.fSex == sMale && wasJuvenile && ageReproduction <= ind.fAge)
        static_cast<tPatchSexuate&>(patch).AppendMale(ind);
    if (ind.fAge == ageReproduction) {
      --patch.fNjuvenilesActual;
      ++patch.fNadultsActual;
    }
  }
  patch.Synchronise();
}

template <class tAction>
decltype(auto) tMetaPop::WithWalk(tAction action) {
  switch (Species->ReproductionMode()) {
    case rmClonal: {
      tLifeCycleWalk<tClonal> walk(*this);
      return action(walk);
    }
    case rmHermaphrodite: {
      tLifeCycleWalk<tHermaphrodite> walk(*this);
      return action(walk);
    }
    case rmSexuate:
      break;
  }
  tLifeCycleWalk<tSexuate> walk(*this);
  return action(walk);
}

// =================================================================== tSpecies

tSpecies::tSpecies(tMetaPop* metapop) : Metapop(metapop) {}

tSpecies::~tSpecies() {
  ClearLifeCycle();
}

void tSpecies::SetReproductionMode(tReproductionMode mode) {
  fReproductionMode = mode;
  EquilibriumLambda = mode == rmSexuate ? 2.0 : 1.0;
}

void tSpecies::ClearLifeCycle() {
  for (tLifeEvent& event : fLifeCycle) {
    event.Mat1.reset();
    event.Mat2.reset();
  }
  fLifeCycle.clear();
  fSteps.clear();
  fDispersalTables.clear();
}

void tSpecies::MakeCycle(const tLifeCycle& cycle) {
  const Integer previousAgeReproduction = fAgeReproduction;
  utile::Assert(cycle.size() <= static_cast<size_t>(MaxEventCount), "The life cycle has too many events");
  ClearLifeCycle();
  const Integer n = static_cast<Integer>(cycle.size());
  fLifeCycle.resize(n + 1);
  fDispersalTables.resize(n + 1);
  Integer age = 0;
  fAgeReproduction = -1;
  fTags.clear();
  fHasSynchronisation = false;
  for (Integer i = 0; i < n; ++i) {
    tLifeEvent event = cycle[i];
    utile::Assert(event.NextEvent >= -1 && event.NextEvent < n && event.AltEvent >= -1 && event.AltEvent < n,
                  "A life-cycle link leads outside the cycle");
    if (event.EventType == leGetOlder) ++age;
    if (fAgeReproduction == -1 && event.EventType == leReproduction) fAgeReproduction = age;
    if (event.NextEvent == -1) event.NextEvent = n;
    if (event.AltEvent == -1) event.AltEvent = n;
    event.Mat1.reset();
    event.Mat2.reset();
    if (event.EventType == leDispersal) BuildDispersalEvent(event, i);
    if (event.EventType == leGeneConditional)
      utile::Assert(event.Locus >= 0 && event.Locus < 16,
                    "A Gene-dependence event reads a locus outside 0..15");
    if (event.EventType == leTag) fTags.push_back(event.Tag);
    if (event.EventType == leSynchro) fHasSynchronisation = true;
    fLifeCycle[i] = std::move(event);
  }
  std::sort(fTags.begin(), fTags.end());
  fTags.erase(std::unique(fTags.begin(), fTags.end()), fTags.end());
  tLifeEvent& end = fLifeCycle[n];
  end = tLifeEvent{};
  end.EventType = leDead;
  end.NextEvent = n;
  end.AltEvent = n;
  AssignEventProcedures();
  // Individuals already in the patches were counted by the age of reproduction
  // of the cycle they were added under.
  if (fAgeReproduction != previousAgeReproduction) Metapop->Reclassify();
}

void tSpecies::BuildDispersalEvent(tLifeEvent& event, Integer eventIndex) {
  const Integer p = Metapop->PatchCount();
  const auto fits = [p](const auto& matrix) {
    if (static_cast<Integer>(matrix.size()) < p) return false;
    for (Integer i = 0; i < p; ++i)
      if (static_cast<Integer>(matrix[i].size()) < p) return false;
    return true;
  };
  utile::Assert(fits(DistanceMat) && fits(FrictionMap) && fits(ConnectanceMat),
                "The landscape matrices are smaller than the number of patches");
  const Double survival = event.DispSurvival > 0 ? event.DispSurvival : 1.0;
  const Double inverse = event.Weighting > 0 ? 1 / event.Weighting : 0;
  auto mat1 = std::make_shared<utile::tMatrixOfDouble>(utile::NullMatrix(p, p));
  auto mat2 = std::make_shared<utile::tMatrixOfDouble>(utile::NullMatrix(p, p));
  for (Integer i = 0; i < p; ++i)
    for (Integer j = 0; j < p; ++j) {
      if (i == j) {
        (*mat1)[i][i] = 1.0;
        (*mat2)[i][i] = 0;
        continue;
      }
      (*mat1)[i][j] = FrictionMap[i][j] * survival;
      const Double distance = DistanceMat[i][j];
      Double weight;
      if (event.DispType == diExponential)
        weight = std::exp(-inverse * distance);
      else
        // Two distinct patches at the same place: the angle of vision is a right
        // angle (no angle at all when the weighting is 0 too).
        weight = distance == 0 && event.Weighting == 0 ? 0 : std::atan(event.Weighting / distance);
      (*mat2)[i][j] = weight * (ConnectanceMat[i][j] ? 1 : 0);
    }
  utile::MatColSumToOne(*mat2);

  auto table = std::make_unique<tDispersalTable>();
  table->PatchCount = p;
  table->Origins.reserve(p);
  for (Integer j = 0; j < p; ++j) {
    tDispersalTable::tOrigin origin;
    origin.First = static_cast<Integer>(table->Entries.size());
    utile::tVectorOfDouble kept;
    for (Integer i = 0; i < p; ++i)
      if ((*mat2)[i][j] > 0) {
        kept.push_back((*mat2)[i][j]);
        table->Entries.push_back({0, (*mat1)[i][j], i, 0});
      }
    table->Entries.emplace_back();
    // A bound that no draw passes, so that the search can look one entry ahead.
    table->Entries.push_back({std::numeric_limits<Double>::infinity(), 0, 0, 0});
    const utile::tVectorOfDouble cumulative = utile::CumulativeVector(kept);
    table->Cumulative.insert(table->Cumulative.end(), cumulative.begin(), cumulative.end());
    table->Cumulative.push_back(std::numeric_limits<Double>::infinity());
    tDispersalTable::tEntry* entries = table->Entries.data() + origin.First;
    const Integer m = static_cast<Integer>(kept.size());
    for (Integer k = 0; k <= m; ++k) entries[k].Cumulative = cumulative[k];
    origin.Count = m;
    origin.Total = cumulative[m];
    // Bucket b of the guide: the last entry whose cumulative value is at most
    // b / m of the total.
    Integer k = 0;
    for (Integer b = 0; b < m; ++b) {
      const Double threshold = cumulative[m] * b / m;
      while (k < m - 1 && cumulative[k + 1] <= threshold) ++k;
      entries[b].Guide = k;
    }
    table->Origins.push_back(origin);
  }
  fDispersalTables[eventIndex] = std::move(table);
  event.Mat1 = std::move(mat1);
  event.Mat2 = std::move(mat2);
}

void tSpecies::DrawDispersal(Integer eventIndex, Integer origin, Integer& destination,
                             Double& survival) const {
  const tDispersalTable& table = *fDispersalTables[eventIndex];
  // A destination beyond the present patches would be read from freed memory.
  utile::Assert(table.PatchCount == Metapop->PatchCount(),
                "The life cycle was built for another number of patches: build it again");
  const tDispersalTable::tOrigin& from = table.Origins[origin];
  const Integer count = from.Count;
  if (count == 0) {
    // No possible destination: the disperser stays, and nothing is drawn.
    destination = origin;
    survival = 1.0;
    return;
  }
  const tDispersalTable::tEntry* c = table.Entries.data() + from.First;  // count + 1 entries and the bound
  uint32_t word;
  const Double x = static_cast<Double>(utile::Uniform(word) * from.Total);
  // The guide table starts the search next to the answer: at the guide entry of
  // the draw's share of the total, taken from the drawn word so that the entries
  // are on their way before x is known (the search below ends in the same place
  // from any start). Without an exact hit the toolkit's search ends on the last
  // index whose value is below x, which is where this walk stops; an exact hit,
  // where equal values could make the probed index matter, goes through the
  // search itself.
  const Integer bucket =
      static_cast<Integer>((static_cast<uint64_t>(word) * static_cast<uint64_t>(count)) >> 32);
  Integer k = c[bucket].Guide;
  if (c[k].Cumulative > x) [[unlikely]]
    while (k > 0 && c[k].Cumulative > x) --k;
  // Mostly one step or none: two taken at once and without a branch (the values
  // do not decrease, and the bound after the last entry stops them), then the rest.
  k += (c[k + 1].Cumulative <= x ? 1 : 0) + (c[k + 2].Cumulative <= x ? 1 : 0);
  if (c[k + 1].Cumulative <= x) [[unlikely]]
    while (k < count && c[k + 1].Cumulative <= x) ++k;
  if (c[k].Cumulative == x) [[unlikely]]
    k = utile::FindClass(table.Cumulative.data() + from.First, count + 1, x);
  k = std::clamp<Integer>(k, 0, count - 1);
  destination = c[k].Destination;
  survival = c[k].Survival;
}

void tSpecies::AssignEventProcedures() {
  const Integer n = static_cast<Integer>(fLifeCycle.size());
  fSteps.assign(static_cast<size_t>(n), tStep{});
  for (Integer i = 0; i < n; ++i) {
    const tLifeEvent& event = fLifeCycle[i];
    tStep& step = fSteps[i];
    step.Type = event.EventType;
    step.Next = event.NextEvent;
    step.Alt = event.AltEvent;
    step.DeathStat = event.DeathStat;
    step.Inheritance = event.Inheritance;
    switch (event.EventType) {
      case leBirth:
        step.Rule = erBirth;
        break;
      case leSexConditional:
        step.Rule = erSexConditional;
        break;
      case leSurvival:
        step.Rule = erSurvival;
        step.Value = event.SurvivalRate;
        break;
      case leDispersal:
        step.Rule = erDispersalInvExponential;
        break;
      case leReproduction:
        step.Value = event.Fecundity;
        switch (event.ReproductionType) {
          case rtDensityIndependent:
            step.Rule = erReproductionDensityIndependent;
            break;
          case rtCeiling:
            step.Rule = erReproductionCeiling;
            break;
          case rtRicker:
            step.Rule = erReproductionRicker;
            break;
          case rtGompertz:
            step.Rule = erReproductionGompertz;
            break;
        }
        break;
      case leRegulation:
        if (event.RegType == ddCeiling) step.Rule = erRegulationCeiling;
        break;
      case leRandom:
        step.Rule = erRandom;
        step.Value = event.Threshold;
        break;
      case leDeath:
        step.Rule = erDeath;
        break;
      case leGeneConditional:
        step.Rule = erGeneConditional;
        step.Number = event.Locus;
        break;
      case leTag:
        step.Rule = erTagging;
        step.Number = event.Tag;
        break;
      // Individuals stop at these: the patch ages and synchronises them, and
      // the end returns them to the pool.
      case leGetOlder:
      case leSynchro:
      case leDead:
        step.Rule = erStop;
        break;
    }
  }
}

tLifeEvent tSpecies::GetLifeCycle(Integer i) const {
  utile::Assert(i >= 0 && i < EventCount(), "Life-cycle index out of bounds");
  return fLifeCycle[i];
}

Integer tSpecies::AgeAtEvent(Integer n) const {
  Integer age = 0;
  for (Integer i = 0; i < n && i < EventCount(); ++i)
    if (fLifeCycle[i].EventType == leGetOlder) ++age;
  return age;
}

// =================================================================== tPatch

tPatch::tPatch(tMetaPop* metapop, Cardinal id) : Metapop(metapop), fID(id) {}

tSpecies* tPatch::GetSpecies() const {
  return Metapop->Species.get();
}

Integer tPatch::StoragePosition(Integer i) {
  if (fCount == StorageSize()) return i;
  if (!fPresent.Valid()) fPresent.Build(StorageSize(), [this](Integer p) { return !fInd[p].IsRemoved(); });
  return fPresent.Select(i);
}

tIndividual* tPatch::GetInd(Integer i) {
  utile::Assert(i >= 0 && i < fCount, "List index out of bounds");
  return &fInd[StoragePosition(i)];
}

void tPatch::CountIn(const tIndividual& ind, Integer sign) {
  if (ind.AgeClass(GetSpecies()->AgeReproduction()) == acAdult)
    fNadultsActual += sign;
  else
    fNjuvenilesActual += sign;
}

template <bool Males>
Integer tPatch::Append(const tIndividual& ind, Integer ageReproduction) {
  fInd.push_back(ind);
  return Admit<Males>(ageReproduction);
}

template <bool Males>
Integer tPatch::Admit(Integer ageReproduction) {
  tIndividual& stored = fInd.back();
  stored.fState = 0;
  stored.fMaleSlot = -1;
  ++fCount;
  const bool adult = ageReproduction <= stored.fAge;
  if (adult)
    ++fNadultsActual;
  else
    ++fNjuvenilesActual;
  if (fPresent.Valid()) fPresent.Append(true);
  if constexpr (Males)
    if (stored.fSex == sMale && adult) static_cast<tPatchSexuate*>(this)->AppendMale(stored);
  return StorageSize() - 1;
}

template <bool Males>
void tPatch::RemoveAt(Integer position, Integer ageReproduction) {
  tIndividual& ind = fInd[position];
  ind.fState |= tIndividual::Removed;
  --fCount;
  if (ageReproduction <= ind.fAge)
    --fNadultsActual;
  else
    --fNjuvenilesActual;
  if (fPresent.Valid()) fPresent.Remove(position);
  if constexpr (Males)
    if (ind.fMaleSlot >= 0) static_cast<tPatchSexuate*>(this)->RemoveMale(ind);
}

void tPatch::SetInd(Integer i, const tIndividual& ind) {
  utile::Assert(i >= 0 && i < fCount, "List index out of bounds");
  tIndividual& old = fInd[StoragePosition(i)];
  const Integer ageReproduction = GetSpecies()->AgeReproduction();
  const tAgeClass before = old.AgeClass(ageReproduction);
  const tAgeClass after = ind.AgeClass(ageReproduction);
  old = ind;
  old.fState = 0;
  old.fMaleSlot = -1;
  if (before == acJuvenile && after == acAdult) {
    --fNjuvenilesActual;
    ++fNadultsActual;
  } else if (before == acAdult && after == acJuvenile) {
    --fNadultsActual;
    ++fNjuvenilesActual;
  }
}

tIndividual* tPatch::Add(const tIndividual& ind) {
  const Integer ageReproduction = GetSpecies()->AgeReproduction();
  return &fInd[fKeepsMales ? Append<true>(ind, ageReproduction) : Append<false>(ind, ageReproduction)];
}

void tPatch::Remove(tIndividual* ind) {
  // Only an individual of this list, and only once.
  const auto address = reinterpret_cast<uintptr_t>(ind);
  const auto first = reinterpret_cast<uintptr_t>(fInd.data());
  if (address < first || address >= first + fInd.size() * sizeof(tIndividual) || ind->IsRemoved()) return;
  const Integer position = static_cast<Integer>((address - first) / sizeof(tIndividual));
  if (fKeepsMales)
    RemoveAt<true>(position, GetSpecies()->AgeReproduction());
  else
    RemoveAt<false>(position, GetSpecies()->AgeReproduction());
  if (Metapop->fWalking == 0 && StorageSize() - fCount > fCount + CompactionMargin) Compact();
}

void tPatch::AddIndividuals(Integer n) {
  for (Integer i = 0; i < n; ++i) Metapop->NewIndividual(this, nullptr, nullptr)->SetEvent(1);
  fNjuveniles = fNjuvenilesActual;
  fNadults = fNadultsActual;
}

void tPatch::ClearCounts() {
  fNjuveniles = 0;
  fNadults = 0;
  fNjuvenilesActual = 0;
  fNadultsActual = 0;
}

void tPatch::Clear() {
  utile::Assert(Metapop->fWalking == 0, "A patch cannot be cleared while a pass walks it");
  tPoolOfIndividuals& pool = *Metapop->Pool();
  for (const tIndividual& ind : fInd)
    if (!ind.IsRemoved()) pool.Store(ind);
  fInd.clear();
  fCount = 0;
  fPresent.Invalidate();
  ClearCounts();
}

void tPatch::DoLifeCycle() {
  Metapop->WithWalk([this](auto& walk) { walk.Pass(*this); });
}

void tPatch::GetOlder() {
  Metapop->WithWalk([this](auto& walk) { walk.GetOlder(*this); });
}

void tPatch::Compact() {
  if (Metapop->fWalking > 0) return;  // storage positions hold still during a pass
  fPresent.Invalidate();
  if (fCount == StorageSize()) return;
  Integer w = 0;
  for (const tIndividual& ind : fInd)
    if (!ind.IsRemoved()) fInd[w++] = ind;
  fInd.resize(static_cast<size_t>(w));
}

void tPatch::Synchronise() {
  Compact();
  fNjuveniles = fNjuvenilesActual;
  fNadults = fNadultsActual;
  const tSpecies& species = *GetSpecies();
  if (!species.HasSynchronisation()) return;  // nobody can be waiting
  for (tIndividual& ind : fInd) {
    if (ind.IsRemoved()) continue;
    const tSpecies::tStep& step = species.fSteps[ind.fEvent];
    if (step.Type == leSynchro) {
      Metapop->WaitingSync = true;
      ind.fEvent = static_cast<uint16_t>(step.Next);
    }
  }
}

Single tPatch::SexRatio() {
  return 1.0f;
}

Integer tPatch::N(tAgeClass ageClass) const {
  switch (ageClass) {
    case acJuvenile:
      return fNjuveniles;
    case acAdult:
      return fNadults;
    case acAll:
      break;
  }
  return fNjuveniles + fNadults;
}

Double tPatch::Ncompetitive() const {
  const Double weight = GetSpecies()->JuvenileWeight;
  return weight * fNjuveniles + (1 - weight) * fNadults;
}

utile::tVectorOfCardinal tPatch::TagCount() {
  // Individuals whose tag is not one of the species' (not tagged yet) are not counted.
  const utile::tVectorOfInteger& tags = GetSpecies()->Tags();
  utile::tVectorOfCardinal counts(tags.size(), 0);
  for (const tIndividual& ind : fInd) {
    if (ind.IsRemoved()) continue;
    const auto found = std::lower_bound(tags.begin(), tags.end(), ind.fTag);
    if (found != tags.end() && *found == ind.fTag) ++counts[found - tags.begin()];
  }
  return counts;
}

void tPatch::Reclassify() {
  fNjuvenilesActual = 0;
  fNadultsActual = 0;
  for (const tIndividual& ind : fInd)
    if (!ind.IsRemoved()) CountIn(ind, 1);
  fNjuveniles = fNjuvenilesActual;
  fNadults = fNadultsActual;
}

// ------------------------------------------------------------------ tPatchSexuate

tPatchSexuate::tPatchSexuate(tMetaPop* metapop, Cardinal id) : tPatch(metapop, id) {
  fKeepsMales = true;
}

void tPatchSexuate::SetInd(Integer i, const tIndividual& ind) {
  // The adult males stay those of the list.
  utile::Assert(i >= 0 && i < fCount, "List index out of bounds");
  const Integer position = StoragePosition(i);
  if (fInd[position].fMaleSlot >= 0) RemoveMale(fInd[position]);
  tPatch::SetInd(i, ind);
  tIndividual& stored = fInd[position];
  if (stored.fSex == sMale && stored.AgeClass(GetSpecies()->AgeReproduction()) == acAdult) AppendMale(stored);
}

uint64_t tPatchSexuate::StorageBytes() const {
  return tPatch::StorageBytes() + fMales.capacity() * sizeof(tMale);
}

void tPatchSexuate::Clear() {
  tPatch::Clear();
  fMales.clear();
  fMalesPresent.Invalidate();
  fMaleCount = 0;
}

void tPatchSexuate::AppendMale(tIndividual& ind) {
  ind.fMaleSlot = static_cast<Integer>(fMales.size());
  fMales.push_back({ind.fID, ind.fGenes});
  ++fMaleCount;
  if (fMalesPresent.Valid()) fMalesPresent.Append(true);
}

void tPatchSexuate::RemoveMale(tIndividual& ind) {
  // The first hole: until now every entry was present.
  if (!fMalesPresent.Valid())
    fMalesPresent.Build(static_cast<Integer>(fMales.size()), [](Integer) { return true; });
  fMalesPresent.Remove(ind.fMaleSlot);
  ind.fMaleSlot = -1;
  --fMaleCount;
}

Integer tPatchSexuate::MalePosition(Integer k) {
  return fMaleCount == static_cast<Integer>(fMales.size()) ? k : fMalesPresent.Select(k);
}

const tMale* tPatchSexuate::SelectRandomMale() {
  if (fMaleCount == 0) return nullptr;
  return &fMales[MalePosition(utile::Ran(fMaleCount))];
}

const tMale& tPatchSexuate::MatureMale(Integer i) {
  utile::Assert(i >= 0 && i < fMaleCount, "List index out of bounds");
  return fMales[MalePosition(i)];
}

Single tPatchSexuate::SexRatio() {
  if (fNadults < 1) return 0;
  return static_cast<Single>(static_cast<Double>(fNadults - fMaleCount) / fNadults);
}

void tPatchSexuate::Compact() {
  if (Metapop->fWalking > 0) return;
  if (fMaleCount == static_cast<Integer>(fMales.size())) {
    tPatch::Compact();
    return;
  }
  // The adult males close up first; their individuals learn their new places
  // as the list itself closes up.
  const Integer males = static_cast<Integer>(fMales.size());
  fNewMaleSlot.resize(static_cast<size_t>(males));
  Integer kept = 0;
  for (Integer e = 0; e < males; ++e)
    if (fMalesPresent.Contains(e)) {
      fNewMaleSlot[e] = kept;
      fMales[kept++] = fMales[e];
    }
  fMales.resize(static_cast<size_t>(kept));
  fMalesPresent.Invalidate();
  fPresent.Invalidate();
  Integer w = 0;
  for (const tIndividual& ind : fInd) {
    if (ind.IsRemoved()) continue;
    tIndividual& moved = fInd[w++];
    moved = ind;
    if (moved.fMaleSlot >= 0) moved.fMaleSlot = fNewMaleSlot[moved.fMaleSlot];
  }
  fInd.resize(static_cast<size_t>(w));
}

void tPatchSexuate::Reclassify() {
  tPatch::Reclassify();
  fMales.clear();
  fMalesPresent.Invalidate();
  fMaleCount = 0;
  const Integer ageReproduction = GetSpecies()->AgeReproduction();
  for (tIndividual& ind : fInd) {
    ind.fMaleSlot = -1;
    if (!ind.IsRemoved() && ind.fSex == sMale && ind.AgeClass(ageReproduction) == acAdult) AppendMale(ind);
  }
}

// =================================================================== tPoolOfIndividuals

tPoolOfIndividuals::tPoolOfIndividuals(tMetaPop* metapop)
    : fIndividualType(static_cast<tIndividualType>(metapop->Species->ReproductionMode())),
      fMetapop(metapop) {}

void tPoolOfIndividuals::Add(Integer n) {
  if (n > 0) fTags.insert(fTags.end(), static_cast<size_t>(n), 0);
}

Integer tPoolOfIndividuals::TakeTag() {
  if (fTags.empty()) Add(fIncrement);
  const Integer tag = fTags.back();
  fTags.pop_back();
  return tag;
}

tIndividual tPoolOfIndividuals::Take(const tIndividual* mother, const tIndividual* father) {
  tIndividual ind;
  ind.fTag = TakeTag();
  ind.fID = fMetapop->CurrentID++;
  tParent m, f;
  if (mother != nullptr) m = ParentOf(*mother);
  if (father != nullptr) f = ParentOf(*father);
  const tParent* pm = mother != nullptr ? &m : nullptr;
  const tParent* pf = father != nullptr ? &f : nullptr;
  switch (fIndividualType) {
    case itClonal:
      tClonal::New(*fMetapop, ind, pm, pf);
      break;
    case itHermaphrodite:
      tHermaphrodite::New(*fMetapop, ind, pm, pf);
      break;
    case itSexuate:
      tSexuate::New(*fMetapop, ind, pm, pf);
      break;
  }
  return ind;
}

void tPoolOfIndividuals::Store(const tIndividual& ind) {
  fTags.push_back(ind.fTag);
}

void tPoolOfIndividuals::SetIndividualType(tIndividualType type) {
  if (type == fIndividualType) return;
  const Integer count = Count();
  Clear();
  fIndividualType = type;
  Add(count);
}

// =================================================================== tMetaPop

tMetaPop::tMetaPop() : Species(std::make_unique<tSpecies>(this)) {
  fPool = std::make_unique<tPoolOfIndividuals>(this);
  SetReproductionMode(rmSexuate);
  Initialise();
}

tMetaPop::~tMetaPop() {
  Clear();
  Species.reset();
  fPool.reset();
  fPedigree.reset();
}

void tMetaPop::SetGeneratePedigree(bool on) {
  fGeneratePedigree = on;
  if (on && !fPedigree) fPedigree = std::make_unique<tPedigree>();
  if (!on) fPedigree.reset();
}

tReproductionMode tMetaPop::GetReproductionMode() const {
  return Species->ReproductionMode();
}

void tMetaPop::SetReproductionMode(tReproductionMode mode) {
  if (mode != Species->ReproductionMode()) {
    Species->SetReproductionMode(mode);
    if (!fPatches.empty()) AddPatches(PatchCount());
  }
  if (fPool->IndividualType() != static_cast<tIndividualType>(mode))
    fPool->SetIndividualType(static_cast<tIndividualType>(mode));
}

void tMetaPop::Clear() {
  uint64_t freed = 0;
  while (!fPatches.empty()) {
    freed += fPatches.back()->StorageBytes();
    fPatches.pop_back();
  }
  // The pedigree gives its own memory back; a large population is given back too.
  if (fPedigree) fPedigree->Clear();
  utile::ReleaseAfterFreeing(freed);
}

void tMetaPop::AddPatches(Integer n) {
  Clear();
  fPatches.reserve(n > 0 ? n : 0);
  for (Integer id = 1; id <= n; ++id) {
    switch (Species->ReproductionMode()) {
      case rmClonal:
        fPatches.push_back(std::make_unique<tPatchClonal>(this, id));
        break;
      case rmHermaphrodite:
        fPatches.push_back(std::make_unique<tPatchHermaphrodite>(this, id));
        break;
      case rmSexuate:
        fPatches.push_back(std::make_unique<tPatchSexuate>(this, id));
        break;
    }
  }
}

void tMetaPop::Initialise() {
  Time = 1;
  Extinct = false;
  Explosion = false;
  Overflow = false;
  ExtTime = -1;
  CurrentID = 1;
  if (fGeneratePedigree && fPedigree) fPedigree->Clear();
}

tIndividual* tMetaPop::NewIndividual(tPatch* patch, const tIndividual* mother, const tIndividual* father) {
  utile::Assert(fPool->IndividualType() == static_cast<tIndividualType>(Species->ReproductionMode()),
                "The pool's individuals are not of the reproduction mode");
  tParent m, f;
  if (mother != nullptr) m = ParentOf(*mother);
  if (father != nullptr) f = ParentOf(*father);
  const Integer position = WithWalk([&](auto& walk) {
    return walk.NewIndividual(*patch, mother != nullptr ? &m : nullptr, father != nullptr ? &f : nullptr);
  });
  return &patch->fInd[position];
}

Integer tMetaPop::N() const {
  Integer n = 0;
  for (const auto& patch : fPatches) n += patch->N();
  return n;
}

void tMetaPop::Run(Integer steps, Integer cycles) {
  for (Integer step = 0; step < steps; ++step) {
    if (Extinct || Explosion || Overflow) return;
    TimeStep(cycles);
  }
}

void tMetaPop::TimeStep(Integer cycles) {
  utile::ProcessMessages();
  utile::Assert(Species->EventCount() > 0, "The life cycle has not been built");
  WithWalk([this, cycles](auto& walk) {
    // A step runs at least one pass, however few cycles it is asked for.
    Integer done = 0;
    bool repeated = false;
    for (;;) {
      WaitingSync = false;
      // After a pass every individual waits at an Aging or Synchronisation event.
      // In a cycle without Synchronisation events nobody has been let on, so a
      // repeated pass would find no one to move and is not walked.
      if (!repeated || Species->HasSynchronisation())
        for (const auto& patch : fPatches) walk.Pass(*patch);
      else
        utile::ProcessMessages();
      for (const auto& patch : fPatches) patch->Synchronise();
      repeated = WaitingSync;
      if (WaitingSync) continue;  // a repeated pass is not counted
      if (Species->PatchExtinction != 0)
        for (const auto& patch : fPatches)
          if (utile::Ran() < patch->Extinction) patch->Clear();
      for (const auto& patch : fPatches) walk.GetOlder(*patch);
      if (++done >= cycles) break;
    }
  });
  const Integer n = N();
  if (n == 0) {
    Extinct = true;
    ExtTime = static_cast<Integer>(Time);
  } else if (static_cast<int64_t>(n) > static_cast<int64_t>(ExplosionSize)) {
    Explosion = true;
    ExtTime = static_cast<Integer>(Time);
  }
  if (CurrentID > MaxIndividuals) Overflow = true;
  ++Time;
}

utile::tVectorOfCardinal tMetaPop::TagCount() {
  utile::tVectorOfCardinal counts(Species->Tags().size(), 0);
  for (const auto& patch : fPatches) {
    const utile::tVectorOfCardinal patchCounts = patch->TagCount();
    for (size_t k = 0; k < counts.size(); ++k) counts[k] += patchCounts[k];
  }
  return counts;
}

void tMetaPop::Reclassify() {
  for (const auto& patch : fPatches) patch->Reclassify();
}

}  // namespace models
