#include "bench/models/MetapopIBMReference.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <new>

#include "Utile/MatrixOps.h"
#include "Utile/Platform.h"
#include "Utile/RandomFunctions.h"
#include "Utile/RunTime.h"
#include "Utile/VectorOps.h"
#include "models/MetapopCommon.h"
#include "models/PedigreeOps.h"

namespace models::reference {

using utile::Format;

namespace {

// Keeps a list's storage positions still while a pass walks them, also when a
// rule raises.
class tFrozenList {
 public:
  explicit tFrozenList(tIndividualList& list) : fList(list) { fList.Freeze(); }
  ~tFrozenList() { fList.Thaw(); }
  tFrozenList(const tFrozenList&) = delete;
  tFrozenList& operator=(const tFrozenList&) = delete;

 private:
  tIndividualList& fList;
};

constexpr Integer LowBit(Integer i) {
  return i & -i;
}

// Holes are closed once they outnumber the individuals present by this margin.
constexpr Integer CompactionMargin = 16;

// The count held by the counting tree's nodes past the end of a list.
constexpr Integer BeyondTheEnd = 0x3FFFFFFF;

// Letting messages through reads a clock; a few dozen life cycles take far less
// than the pump's interval, so the hook is consulted once every so many.
constexpr Integer LifeCyclesPerMessageCheck = 32;
Integer gLifeCyclesUntilMessageCheck = 1;

// Individuals lie scattered in memory: a pass asks for the one it will visit a few
// steps later while it works on the current one; further ahead where there is
// little work per individual.
constexpr Integer PrefetchDistance = 8;
constexpr Integer LightPrefetchDistance = 16;

inline void Prefetch(const tIndividual* ind) {
  __builtin_prefetch(ind);
  __builtin_prefetch(reinterpret_cast<const char*>(ind) + sizeof(tSexuate) - 1);
}

}  // namespace

// =================================================================== tIndividualList

tIndividual* tIndividualList::operator[](Integer k) {
  utile::Assert(k >= 0 && k < fCount, "List index out of bounds");
  return fSlots[StoragePosition(k)];
}

Integer tIndividualList::StoragePosition(Integer k) {
  const Integer size = static_cast<Integer>(fSlots.size());
  if (fCount == size) return k;
  if (!fTreeValid) BuildTree();
  // Descends the counting tree to the k-th present entry. Nodes beyond the end
  // hold a count no index reaches, so the descent needs no bounds test and no
  // branch that the processor would have to guess.
  Integer position = 0;
  for (Integer step = static_cast<Integer>(fTree.size()) - 1; step > 0; step >>= 1) {
    const Integer next = position + step;
    const Integer count = fTree[next];
    const bool below = count <= k;
    position = below ? next : position;
    k -= below ? count : 0;
  }
  return position;
}

void tIndividualList::BuildTree() {
  const Integer size = static_cast<Integer>(fSlots.size());
  const Integer top = static_cast<Integer>(std::bit_ceil(static_cast<uint32_t>(std::max(size, 1))));
  fTree.assign(top + 1, 0);
  for (Integer i = 1; i <= size; ++i) {
    fTree[i] += fSlots[i - 1] != nullptr ? 1 : 0;
    const Integer parent = i + LowBit(i);
    if (parent <= size) fTree[parent] += fTree[i];
  }
  for (Integer i = size + 1; i <= top; ++i) fTree[i] = BeyondTheEnd;
  fTreeValid = true;
}

Integer tIndividualList::TreePrefix(Integer n) const {
  Integer sum = 0;
  for (Integer i = n; i > 0; i -= LowBit(i)) sum += fTree[i];
  return sum;
}

bool tIndividualList::Contains(const tIndividual* ind) const {
  const Integer slot = ind->fSlots[fKind];
  return slot >= 0 && slot < static_cast<Integer>(fSlots.size()) && fSlots[slot] == ind;
}

void tIndividualList::Append(tIndividual* ind) {
  fSlots.push_back(ind);
  const Integer i = static_cast<Integer>(fSlots.size());
  ind->fSlots[fKind] = i - 1;
  ++fCount;
  if (fTreeValid) {
    if (i < static_cast<Integer>(fTree.size()))
      fTree[i] = 1 + TreePrefix(i - 1) - TreePrefix(i - LowBit(i));
    else
      fTreeValid = false;  // rebuilt, twice as large, when next needed
  }
}

bool tIndividualList::Remove(tIndividual* ind) {
  if (!Contains(ind)) return false;
  const Integer slot = ind->fSlots[fKind];
  fSlots[slot] = nullptr;
  ind->fSlots[fKind] = -1;
  --fCount;
  const Integer size = static_cast<Integer>(fSlots.size());
  if (fTreeValid)
    for (Integer i = slot + 1; i <= size; i += LowBit(i)) --fTree[i];
  if (fFrozen == 0) {
    while (!fSlots.empty() && fSlots.back() == nullptr) {
      if (fTreeValid) fTree[fSlots.size()] = BeyondTheEnd;
      fSlots.pop_back();
    }
    if (static_cast<Integer>(fSlots.size()) - fCount > fCount + CompactionMargin) Compact();
  }
  return true;
}

tIndividual* tIndividualList::Replace(Integer k, tIndividual* ind) {
  utile::Assert(k >= 0 && k < fCount, "List index out of bounds");
  const Integer position = StoragePosition(k);
  tIndividual* old = fSlots[position];
  old->fSlots[fKind] = -1;
  fSlots[position] = ind;
  ind->fSlots[fKind] = position;
  return old;
}

void tIndividualList::Clear() {
  utile::Assert(fFrozen == 0, "A list cannot be cleared while a pass walks it");
  for (tIndividual* ind : fSlots)
    if (ind != nullptr) ind->fSlots[fKind] = -1;
  fSlots.clear();
  fTree.clear();
  fCount = 0;
  fTreeValid = false;
}

void tIndividualList::Compact() {
  if (fFrozen != 0 || fCount == static_cast<Integer>(fSlots.size())) return;
  const Integer size = static_cast<Integer>(fSlots.size());
  Integer w = 0;
  for (Integer r = 0; r < size; ++r) {
    if (r + LightPrefetchDistance < size) __builtin_prefetch(fSlots[r + LightPrefetchDistance]);
    if (tIndividual* ind = fSlots[r]) {
      fSlots[w] = ind;
      ind->fSlots[fKind] = w;
      ++w;
    }
  }
  fSlots.resize(w);
  fTree.clear();
  fTreeValid = false;
}

// =================================================================== tIndividual

tIndividual::tIndividual(tMetaPop* metapop) : fMetapop(metapop) {}

tSpecies* tIndividual::Species() const {
  return fMetapop->Species.get();
}

tLifeEventType tIndividual::CurrentEvent() const {
  return Species()->fLifeCycle[fEvent].EventType;
}

void tIndividual::AddToPatch(tPatch* patch) {
  patch->Add(this);
}

void tIndividual::RemoveFromPatch() {
  if (fPatch != nullptr) fPatch->Remove(this);
}

void tIndividual::MoveToPatch(tPatch* patch) {
  RemoveFromPatch();
  AddToPatch(patch);
}

void tIndividual::Dispose() {
  // An individual that reached the end twice (a Birth event run inside a cycle)
  // goes back to the pool only once.
  if (!fIdle) fMetapop->Pool()->Store(this);
  SetPatch(nullptr);
}

tAgeClass tIndividual::AgeClass() const {
  return Species()->fAgeReproduction <= fAge ? acAdult : acJuvenile;
}

void tIndividual::NextEvent() {
  fEvent = Species()->fLifeCycle[fEvent].NextEvent;
}

void tIndividual::AltEvent() {
  fEvent = Species()->fLifeCycle[fEvent].AltEvent;
}

void tIndividual::New(tMetaPop* metapop, tIndividual*, tIndividual*) {
  fID = metapop->CurrentID++;
  fAge = 0;
  fEvent = 0;
}

void tIndividual::DoLifeCyle() {
  if (--gLifeCyclesUntilMessageCheck <= 0) [[unlikely]] {
    gLifeCyclesUntilMessageCheck = LifeCyclesPerMessageCheck;
    utile::ProcessMessages();
  }
  const tSpecies& species = *Species();
  const tLifeEvent* cycle = species.fLifeCycle.data();
  utile::Assert(fEvent >= 0 && fEvent < static_cast<Integer>(species.fLifeCycle.size()),
                "The individual's event is not in the life cycle");
  for (;;) {
    const tLifeEventType type = cycle[fEvent].EventType;
    if (type == leGetOlder || type == leSynchro || type == leDead) break;
    const bool result = Species()->DoCycleEvent(*this);
    fEvent = result ? cycle[fEvent].NextEvent : cycle[fEvent].AltEvent;
  }
  if (cycle[fEvent].EventType == leDead) {
    // Death has already taken it out of its patch; one that reached the end
    // through a missing link leaves it here. Removal acts only on an individual
    // that is still in the list, so the counts are never decremented twice.
    RemoveFromPatch();
    Dispose();
  }
}

bool tIndividual::Birth(const tLifeEvent&) {
  NextEvent();
  DoLifeCyle();
  return true;
}

bool tIndividual::Death(const tLifeEvent& event) {
  if (event.DeathStat == dsCensused && fMetapop->GeneratePedigree() && fPatch != nullptr)
    fMetapop->Pedigree()->AddPosition(fID, fPatch->ID());
  fEvent = Species()->LastEvent();
  RemoveFromPatch();
  return false;
}

bool tIndividual::Dispersal(const tLifeEvent&) {
  throw utile::EAbstractError("Abstract error");
}

bool tIndividual::DispersalInvExponential(const tLifeEvent& event) {
  Integer destination;
  Double survival;
  Species()->DrawDispersal(fEvent, static_cast<Integer>(fPatch->ID()) - 1, destination, survival);
  if (utile::Ran() <= survival) {
    MoveToPatch(fMetapop->GetPatches(destination));
    return true;
  }
  Death(event);
  return false;
}

bool tIndividual::GeneConditional(const tLifeEvent& event) {
  const bool mother = GeneMother(event.Locus);
  const bool father = GeneFather(event.Locus);
  if (event.Inheritance == itDominant) return !(mother || father);
  return !(mother && father);
}

bool tIndividual::GetOlder(const tLifeEvent&) {
  if (fMetapop->GeneratePedigree()) fMetapop->Pedigree()->AddPosition(fID, fPatch->ID());
  ++fAge;
  NextEvent();
  return true;
}

bool tIndividual::Random(const tLifeEvent& event) {
  return utile::Ran() < event.Threshold;
}

bool tIndividual::RegulationCeiling(const tLifeEvent&) {
  const Integer k = fPatch->Capacity;
  const Double n = fPatch->Ncompetitive();
  if (k > n) return true;
  if (n == 0)
    throw utile::EZeroDivide(Format(
        "Density-dependence in patch %d divides by zero: the carrying capacity is %d and the competitive "
        "density is 0",
        fPatch->ID(), k));
  return utile::Ran() < k / n;
}

bool tIndividual::RegulationGompertz(const tLifeEvent&) {
  throw utile::EAbstractError("Abstract error");
}

bool tIndividual::RegulationRicker(const tLifeEvent&) {
  throw utile::EAbstractError("Abstract error");
}

void tIndividual::Reproduce(Double lambda, tIndividual* mate) {
  Prefetch(mate);  // its genome is read at each birth
  const Integer k = utile::PoissonRan(lambda);
  tPatch* patch = fPatch;
  const tLifeEvent& birth = Species()->fLifeCycle[0];
  for (Integer i = 0; i < k; ++i) {
    tIndividual* child = fMetapop->NewIndividual(patch, this, mate);
    child->Birth(birth);
  }
}

bool tIndividual::ReproductionDensityIndependent(const tLifeEvent& event) {
  if (tIndividual* mate = ChooseMate()) Reproduce(fPatch->Suitability * event.Fecundity, mate);
  fMetapop->WaitingSync = true;
  return true;
}

bool tIndividual::ReproductionCeiling(const tLifeEvent& event) {
  const Integer k = fPatch->Capacity;
  const Double n = fPatch->Ncompetitive();
  Double lambda;
  if (k > n) {
    lambda = fPatch->Suitability * event.Fecundity;
  } else {
    if (n == 0)
      throw utile::EZeroDivide(Format(
          "Ceiling reproduction in patch %d divides by zero: the carrying capacity is %d and the competitive "
          "density is 0",
          fPatch->ID(), k));
    lambda = k / n * Species()->EquilibriumLambda;
  }
  if (tIndividual* mate = ChooseMate()) Reproduce(lambda, mate);
  fMetapop->WaitingSync = true;
  return true;
}

namespace {

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

}  // namespace

bool tIndividual::ReproductionRicker(const tLifeEvent& event) {
  if (tIndividual* mate = ChooseMate()) {
    const Double f = event.Fecundity;
    const Double logRatio = LogRelativeFecundity("Ricker", f, Species()->EquilibriumLambda);
    const Integer k = fPatch->Capacity;
    if (k == 0)
      throw utile::EZeroDivide(Format(
          "Ricker reproduction in patch %d divides by zero: the carrying capacity is 0", fPatch->ID()));
    const Double lambda = fPatch->Suitability * f * std::exp(-logRatio * fPatch->Ncompetitive() / k);
    Reproduce(CheckedLambda(lambda, "Ricker", fPatch->ID()), mate);
  }
  fMetapop->WaitingSync = true;
  return true;
}

bool tIndividual::ReproductionGompertz(const tLifeEvent& event) {
  if (tIndividual* mate = ChooseMate()) {
    const Double f = event.Fecundity;
    const Double n = fPatch->Ncompetitive();
    Double lambda = fPatch->Suitability * f;
    if (n > 0) {
      const Double logRatio = LogRelativeFecundity("Gompertz", f, Species()->EquilibriumLambda);
      const Integer k = fPatch->Capacity;
      if (k <= 0)
        throw utile::EInvalidOp(
            Format("Gompertz reproduction in patch %d takes the logarithm of the carrying capacity %d",
                   fPatch->ID(), k));
      if (k == 1)
        throw utile::EZeroDivide(
            Format("Gompertz reproduction in patch %d divides by zero: the logarithm of its carrying "
                   "capacity 1 is 0",
                   fPatch->ID()));
      lambda *= std::pow(n, -logRatio / std::log(static_cast<Double>(k)));
    }
    Reproduce(CheckedLambda(lambda, "Gompertz", fPatch->ID()), mate);
  }
  fMetapop->WaitingSync = true;
  return true;
}

bool tIndividual::Survival(const tLifeEvent& event) {
  if (utile::Ran() <= event.SurvivalRate) return true;
  Death(event);
  return false;
}

bool tIndividual::Synchronisation(const tLifeEvent&) {
  if (CurrentEvent() == leSynchro) {
    fMetapop->WaitingSync = true;
    NextEvent();
  }
  return true;
}

bool tIndividual::Tagging(const tLifeEvent& event) {
  fTag = event.Tag;
  return true;
}

bool tIndividual::SexConditional(const tLifeEvent&) {
  throw utile::EInvalidOperation("A Sex-dependent event needs a sexuate species");
}

void tIndividual::Recombinate(const tIndividual* mother, const tIndividual* father) {
  const auto& prevalences = fMetapop->GenePrevalences();
  const Cardinal m = static_cast<Cardinal>(utile::Ran(Integer{65536}));
  Cardinal genes = 0;
  if (mother != nullptr) {
    const Cardinal g = mother->fGenes;
    genes = (g & ~m & 0xFFFFu) | ((g >> 16) & m);
  } else {
    for (Integer i = 0; i < 16; ++i)
      if (utile::Ran() < prevalences[i]) genes |= 1u << i;
  }
  const Cardinal f = static_cast<Cardinal>(utile::Ran(Integer{65536})) << 16;
  if (father != nullptr) {
    const Cardinal g = father->fGenes;
    genes |= ((g << 16) & ~f) | (g & f);
  } else {
    for (Integer i = 0; i < 16; ++i)
      if (utile::Ran() < prevalences[i]) genes |= 1u << (16 + i);
  }
  fGenes = genes;
}

// ------------------------------------------------------------------ subclasses

tIndividual* tClonal::ChooseMate() {
  return this;
}

void tClonal::New(tMetaPop* metapop, tIndividual* mother, tIndividual* father) {
  tIndividual::New(metapop, mother, father);
  if (mother != nullptr) {
    fGenes = mother->Genes();
    return;
  }
  const auto& prevalences = fMetapop->GenePrevalences();
  Cardinal genes = 0;
  for (Integer i = 0; i < 16; ++i)
    if (utile::Ran() < prevalences[i]) genes |= (1u << i) | (1u << (16 + i));
  fGenes = genes;
}

tPatchClonal* tClonal::GetPatch() const {
  return static_cast<tPatchClonal*>(fPatch);
}

tIndividual* tHermaphrodite::ChooseMate() {
  if (utile::Ran() < Species()->Autofecondation) return this;
  tPatchHermaphrodite* patch = GetPatch();
  const auto isMate = [this](const tIndividual* candidate) {
    return candidate->AgeClass() == acAdult && candidate->ID() != fID;
  };
  Integer k = utile::Ran(patch->IndCount());
  while (!isMate(patch->GetInd(k))) {
    if (k < 1) break;
    k = utile::Ran(k);
  }
  tIndividual* candidate = patch->GetInd(k);
  return isMate(candidate) ? candidate : nullptr;
}

void tHermaphrodite::New(tMetaPop* metapop, tIndividual* mother, tIndividual* father) {
  tIndividual::New(metapop, mother, father);
  Recombinate(mother, father);
}

tPatchHermaphrodite* tHermaphrodite::GetPatch() const {
  return static_cast<tPatchHermaphrodite*>(fPatch);
}

tIndividual* tSexuate::ChooseMate() {
  if (fSex == sMale) return nullptr;
  return GetPatch()->SelectRandomMale();
}

bool tSexuate::GetOlder(const tLifeEvent& event) {
  const bool wasJuvenile = AgeClass() == acJuvenile;
  tIndividual::GetOlder(event);
  if (fSex == sMale && wasJuvenile && AgeClass() == acAdult) GetPatch()->fMatureMaleList.Append(this);
  return true;
}

void tSexuate::New(tMetaPop* metapop, tIndividual* mother, tIndividual* father) {
  tIndividual::New(metapop, mother, father);
  Recombinate(mother, father);
  fSex = utile::Ran() < Species()->SexRatio ? sFemale : sMale;
}

tPatchSexuate* tSexuate::GetPatch() const {
  return static_cast<tPatchSexuate*>(fPatch);
}

bool tSexuate::SexConditional(const tLifeEvent&) {
  return fSex == sFemale;
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
  fCycleProcedures.clear();
  fDispersalTables.clear();
}

void tSpecies::MakeCycle(const tLifeCycle& cycle) {
  const Integer previousAgeReproduction = fAgeReproduction;
  ClearLifeCycle();
  const Integer n = static_cast<Integer>(cycle.size());
  fLifeCycle.resize(n + 1);
  fCycleProcedures.resize(n);
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
  table->Start.reserve(p + 1);
  for (Integer j = 0; j < p; ++j) {
    table->Start.push_back(static_cast<Integer>(table->Destination.size()));
    utile::tVectorOfDouble kept;
    for (Integer i = 0; i < p; ++i)
      if ((*mat2)[i][j] > 0) {
        kept.push_back((*mat2)[i][j]);
        table->Destination.push_back(i);
        table->Survival.push_back((*mat1)[i][j]);
      }
    const utile::tVectorOfDouble cumulative = utile::CumulativeVector(kept);
    table->Cumulative.insert(table->Cumulative.end(), cumulative.begin(), cumulative.end());
    // Bucket b of the guide: the last entry whose cumulative value is at most
    // b / m of the total.
    const Integer m = static_cast<Integer>(kept.size());
    table->BucketScale.push_back(m > 0 ? m / cumulative[m] : 0);
    Integer k = 0;
    for (Integer b = 0; b < m; ++b) {
      const Double threshold = cumulative[m] * b / m;
      while (k < m - 1 && cumulative[k + 1] <= threshold) ++k;
      table->Guide.push_back(k);
    }
  }
  table->Start.push_back(static_cast<Integer>(table->Destination.size()));
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
  const Integer first = table.Start[origin];
  const Integer count = table.Start[origin + 1] - first;
  if (count == 0) {
    // No possible destination: the disperser stays, and nothing is drawn.
    destination = origin;
    survival = 1.0;
    return;
  }
  const Double* c = table.Cumulative.data() + first + origin;  // count + 1 entries
  const Double x = static_cast<Double>(utile::Uniform() * c[count]);
  // The guide table starts the search next to the answer. Without an exact hit
  // the toolkit's search ends on the last index whose value is below x, which is
  // where this walk stops; an exact hit, where equal values could make the
  // probed index matter, goes through the search itself.
  const Double share = x * table.BucketScale[origin];
  const Integer bucket = share > 0 ? (share < count ? static_cast<Integer>(share) : count - 1) : 0;
  Integer k = table.Guide[first + bucket];
  while (k > 0 && c[k] > x) --k;
  while (k < count && c[k + 1] <= x) ++k;
  if (c[k] == x) [[unlikely]]
    k = utile::FindClass(c, count + 1, x);
  k = std::clamp<Integer>(k, 0, count - 1);
  destination = table.Destination[first + k];
  survival = table.Survival[first + k];
}

void tSpecies::AssignEventProcedures() {
  const Integer n = static_cast<Integer>(fCycleProcedures.size());
  for (Integer i = 0; i < n; ++i) {
    const tLifeEvent& event = fLifeCycle[i];
    tEventProcedure procedure = nullptr;
    switch (event.EventType) {
      case leBirth:
        procedure = &tSpecies::EventBirth;
        break;
      case leSexConditional:
        procedure = &tSpecies::EventSexConditional;
        break;
      case leSurvival:
        procedure = &tSpecies::EventSurvival;
        break;
      case leDispersal:
        procedure = &tSpecies::EventDispersalInvExponential;
        break;
      case leReproduction:
        switch (event.ReproductionType) {
          case rtDensityIndependent:
            procedure = &tSpecies::EventReproductionDensityIndependent;
            break;
          case rtCeiling:
            procedure = &tSpecies::EventReproductionCeiling;
            break;
          case rtRicker:
            procedure = &tSpecies::EventReproductionRicker;
            break;
          case rtGompertz:
            procedure = &tSpecies::EventReproductionGompertz;
            break;
        }
        break;
      case leRegulation:
        if (event.RegType == ddCeiling) procedure = &tSpecies::EventRegulationCeiling;
        break;
      case leSynchro:
        procedure = &tSpecies::EventSynchronisation;
        break;
      case leRandom:
        procedure = &tSpecies::EventRandom;
        break;
      case leDeath:
        procedure = &tSpecies::EventDeath;
        break;
      case leGeneConditional:
        procedure = &tSpecies::EventGeneConditional;
        break;
      case leTag:
        procedure = &tSpecies::EventTagging;
        break;
      case leGetOlder:
      case leDead:
        break;
    }
    fCycleProcedures[i] = procedure;
  }
}

bool tSpecies::DoCycleEvent(tIndividual& ind) {
  const Integer i = ind.Event();
  const tEventProcedure procedure = fCycleProcedures[i];
  if (procedure == nullptr) [[unlikely]]
    throw utile::EInvalidOperation(
        Format("Event %d (%s) has no rule", i, LifeEventTypeStr[fLifeCycle[i].EventType]));
  return (this->*procedure)(ind, fLifeCycle[i]);
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

bool tSpecies::EventBirth(tIndividual& ind, const tLifeEvent& event) {
  return ind.Birth(event);
}
bool tSpecies::EventSexConditional(tIndividual& ind, const tLifeEvent& event) {
  return ind.SexConditional(event);
}
bool tSpecies::EventSurvival(tIndividual& ind, const tLifeEvent& event) {
  return ind.Survival(event);
}
bool tSpecies::EventDispersalInvExponential(tIndividual& ind, const tLifeEvent& event) {
  return ind.DispersalInvExponential(event);
}
bool tSpecies::EventReproductionDensityIndependent(tIndividual& ind, const tLifeEvent& event) {
  return ind.ReproductionDensityIndependent(event);
}
bool tSpecies::EventReproductionCeiling(tIndividual& ind, const tLifeEvent& event) {
  return ind.ReproductionCeiling(event);
}
bool tSpecies::EventReproductionRicker(tIndividual& ind, const tLifeEvent& event) {
  return ind.ReproductionRicker(event);
}
bool tSpecies::EventReproductionGompertz(tIndividual& ind, const tLifeEvent& event) {
  return ind.ReproductionGompertz(event);
}
bool tSpecies::EventRegulationCeiling(tIndividual& ind, const tLifeEvent& event) {
  return ind.RegulationCeiling(event);
}
bool tSpecies::EventSynchronisation(tIndividual& ind, const tLifeEvent& event) {
  return ind.Synchronisation(event);
}
bool tSpecies::EventRandom(tIndividual& ind, const tLifeEvent& event) {
  return ind.Random(event);
}
bool tSpecies::EventDeath(tIndividual& ind, const tLifeEvent& event) {
  return ind.Death(event);
}
bool tSpecies::EventGeneConditional(tIndividual& ind, const tLifeEvent& event) {
  return ind.GeneConditional(event);
}
bool tSpecies::EventTagging(tIndividual& ind, const tLifeEvent& event) {
  return ind.Tagging(event);
}

// =================================================================== tPatch

tPatch::tPatch(tMetaPop* metapop, Cardinal id) : Metapop(metapop), fID(id), fInd(tIndividualList::lkPatch) {}

tPatch::~tPatch() {
  for (Integer p = fInd.StorageSize() - 1; p >= 0; --p)
    if (tIndividual* ind = fInd.AtStorage(p)) {
      ind->fSlots[tIndividualList::lkPatch] = -1;
      ind->fSlots[tIndividualList::lkMatureMales] = -1;
      Metapop->Pool()->Free(ind);
    }
}

tSpecies* tPatch::GetSpecies() const {
  return Metapop->Species.get();
}

tIndividual* tPatch::GetInd(Integer i) {
  return fInd[i];
}

void tPatch::SetInd(Integer i, tIndividual* ind) {
  utile::Assert(ind->fSlots[tIndividualList::lkPatch] < 0, "The individual is already in a patch");
  tIndividual* old = fInd.Replace(i, ind);
  ind->SetPatch(this);
  old->SetPatch(nullptr);
  const tAgeClass before = old->AgeClass();
  const tAgeClass after = ind->AgeClass();
  if (before == acJuvenile && after == acAdult) {
    --fNjuvenilesActual;
    ++fNadultsActual;
  } else if (before == acAdult && after == acJuvenile) {
    --fNadultsActual;
    ++fNjuvenilesActual;
  }
}

void tPatch::Add(tIndividual* ind) {
  fInd.Append(ind);
  ind->SetPatch(this);
  if (ind->AgeClass() == acAdult)
    ++fNadultsActual;
  else
    ++fNjuvenilesActual;
}

void tPatch::Remove(tIndividual* ind) {
  if (!fInd.Remove(ind)) return;
  if (ind->AgeClass() == acAdult)
    --fNadultsActual;
  else
    --fNjuvenilesActual;
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
  tPoolOfIndividuals* pool = Metapop->Pool();
  for (Integer p = 0; p < fInd.StorageSize(); ++p)
    if (tIndividual* ind = fInd.AtStorage(p)) {
      pool->Store(ind);
      ind->SetPatch(nullptr);
    }
  fInd.Clear();
  ClearCounts();
}

void tPatch::DoLifeCycle() {
  // Offspring and immigrants appended during the pass lie beyond the starting end.
  tFrozenList frozen(fInd);
  for (Integer p = fInd.StorageSize() - 1; p >= 0; --p) {
    if (p >= PrefetchDistance) Prefetch(fInd.AtStorage(p - PrefetchDistance));
    if (tIndividual* ind = fInd.AtStorage(p)) ind->DoLifeCyle();
  }
}

void tPatch::GetOlder() {
  const tSpecies& species = *GetSpecies();
  const Integer ageReproduction = species.AgeReproduction();
  {
    tFrozenList frozen(fInd);
    for (Integer p = fInd.StorageSize() - 1; p >= 0; --p) {
      if (p >= LightPrefetchDistance) Prefetch(fInd.AtStorage(p - LightPrefetchDistance));
      if (tIndividual* ind = fInd.AtStorage(p)) {
        ind->GetOlder(species.Event(ind->Event()));
        if (ind->Age() == ageReproduction) {
          --fNjuvenilesActual;
          ++fNadultsActual;
        }
      }
    }
  }
  Synchronise();
}

void tPatch::CompactLists() {
  fInd.Compact();
}

void tPatch::Synchronise() {
  CompactLists();
  fNjuveniles = fNjuvenilesActual;
  fNadults = fNadultsActual;
  const tSpecies& species = *GetSpecies();
  if (!species.HasSynchronisation()) return;  // nobody can be waiting
  const Integer size = fInd.StorageSize();
  for (Integer p = 0; p < size; ++p) {
    if (p + LightPrefetchDistance < size) Prefetch(fInd.AtStorage(p + LightPrefetchDistance));
    tIndividual* ind = fInd.AtStorage(p);
    if (ind != nullptr && ind->CurrentEvent() == leSynchro) ind->Synchronisation(species.Event(ind->Event()));
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
  for (Integer p = 0; p < fInd.StorageSize(); ++p)
    if (const tIndividual* ind = fInd.AtStorage(p)) {
      const auto found = std::lower_bound(tags.begin(), tags.end(), ind->Tag());
      if (found != tags.end() && *found == ind->Tag()) ++counts[found - tags.begin()];
    }
  return counts;
}

void tPatch::Reclassify() {
  fNjuvenilesActual = 0;
  fNadultsActual = 0;
  for (Integer p = 0; p < fInd.StorageSize(); ++p)
    if (const tIndividual* ind = fInd.AtStorage(p)) {
      if (ind->AgeClass() == acAdult)
        ++fNadultsActual;
      else
        ++fNjuvenilesActual;
    }
  fNjuveniles = fNjuvenilesActual;
  fNadults = fNadultsActual;
}

// ------------------------------------------------------------------ tPatchSexuate

tPatchSexuate::tPatchSexuate(tMetaPop* metapop, Cardinal id)
    : tPatch(metapop, id), fMatureMaleList(tIndividualList::lkMatureMales) {}

void tPatchSexuate::Add(tIndividual* ind) {
  tPatch::Add(ind);
  if (static_cast<tSexuate*>(ind)->Sex() == sMale && ind->AgeClass() == acAdult) fMatureMaleList.Append(ind);
}

void tPatchSexuate::SetInd(Integer i, tIndividual* ind) {
  // The adult males stay those of the list.
  fMatureMaleList.Remove(GetInd(i));
  tPatch::SetInd(i, ind);
  if (static_cast<tSexuate*>(ind)->Sex() == sMale && ind->AgeClass() == acAdult) fMatureMaleList.Append(ind);
}

void tPatchSexuate::Remove(tIndividual* ind) {
  fMatureMaleList.Remove(ind);
  tPatch::Remove(ind);
}

void tPatchSexuate::Clear() {
  tPatch::Clear();
  fMatureMaleList.Clear();
}

Single tPatchSexuate::SexRatio() {
  if (fNadults < 1) return 0;
  return static_cast<Single>(static_cast<Double>(fNadults - fMatureMaleList.Count()) / fNadults);
}

tIndividual* tPatchSexuate::SelectRandomMale() {
  const Integer count = fMatureMaleList.Count();
  if (count == 0) return nullptr;
  return fMatureMaleList[utile::Ran(count)];
}

void tPatchSexuate::CompactLists() {
  tPatch::CompactLists();
  fMatureMaleList.Compact();
}

void tPatchSexuate::Reclassify() {
  tPatch::Reclassify();
  fMatureMaleList.Clear();
  for (Integer p = 0; p < fInd.StorageSize(); ++p)
    if (tIndividual* ind = fInd.AtStorage(p))
      if (static_cast<tSexuate*>(ind)->Sex() == sMale && ind->AgeClass() == acAdult)
        fMatureMaleList.Append(ind);
}

// =================================================================== tPoolOfIndividuals

tPoolOfIndividuals::tPoolOfIndividuals(tMetaPop* metapop)
    : fIndividualType(static_cast<tIndividualType>(metapop->Species->ReproductionMode())),
      fMetapop(metapop) {}

tPoolOfIndividuals::~tPoolOfIndividuals() {
  Clear();
}

static_assert(sizeof(tClonal) <= sizeof(tPoolOfIndividuals::tIndividualSlot) &&
              sizeof(tHermaphrodite) <= sizeof(tPoolOfIndividuals::tIndividualSlot) &&
              sizeof(tSexuate) <= sizeof(tPoolOfIndividuals::tIndividualSlot));

tIndividual* tPoolOfIndividuals::Create() {
  if (fFreeSlots.empty()) {
    // A block for the pool's next growth; slots handed out in address order.
    const Integer n = std::max(fIncrement, 1);
    fBlocks.push_back(std::make_unique<tIndividualSlot[]>(n));
    tIndividualSlot* block = fBlocks.back().get();
    for (Integer i = n - 1; i >= 0; --i) fFreeSlots.push_back(block + i);
  }
  tIndividualSlot* slot = fFreeSlots.back();
  fFreeSlots.pop_back();
  switch (fIndividualType) {
    case itClonal:
      return new (slot) tClonal(fMetapop);
    case itHermaphrodite:
      return new (slot) tHermaphrodite(fMetapop);
    case itSexuate:
      break;
  }
  return new (slot) tSexuate(fMetapop);
}

void tPoolOfIndividuals::Add(Integer n) {
  if (n <= 0) return;
  fIndividuals.reserve(fIndividuals.size() + n);
  for (Integer i = 0; i < n; ++i) {
    tIndividual* ind = Create();
    ind->fIdle = true;
    fIndividuals.push_back(ind);
  }
}

tIndividual* tPoolOfIndividuals::Take(tIndividual* mother, tIndividual* father) {
  if (fIndividuals.empty()) Add(fIncrement);
  tIndividual* ind = fIndividuals.back();
  fIndividuals.pop_back();
  // The next one handed out may lie deep in memory: ask for it while this one works.
  if (!fIndividuals.empty()) Prefetch(fIndividuals.back());
  ind->fIdle = false;
  ind->New(fMetapop, mother, father);
  return ind;
}

void tPoolOfIndividuals::Store(tIndividual* ind) {
  utile::Assert(!ind->fIdle, "The individual is already in the pool");
  ind->fIdle = true;
  fIndividuals.push_back(ind);
}

void tPoolOfIndividuals::SetIndividualType(tIndividualType type) {
  if (type == fIndividualType) return;
  const Integer count = Count();
  Clear();
  fIndividualType = type;
  Add(count);
}

void tPoolOfIndividuals::Clear() {
  for (auto i = fIndividuals.size(); i-- > 0;) Free(fIndividuals[i]);
  fIndividuals.clear();
}

void tPoolOfIndividuals::Free(tIndividual* ind) {
  ind->~tIndividual();
  fFreeSlots.push_back(reinterpret_cast<tIndividualSlot*>(ind));
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
  while (!fPatches.empty()) fPatches.pop_back();
  if (fPedigree) fPedigree->Clear();
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

tIndividual* tMetaPop::NewIndividual(tPatch* patch, tIndividual* mother, tIndividual* father) {
  utile::Assert(fPool->IndividualType() == static_cast<tIndividualType>(Species->ReproductionMode()),
                "The pool's individuals are not of the reproduction mode");
  tIndividual* ind = fPool->Take(mother, father);
  ind->SetPatch(patch);
  ind->AddToPatch(ind->Patch());
  if (fGeneratePedigree) {
    tPedigreeSex sex = psNA;
    if (fPool->IndividualType() == itSexuate)
      sex = static_cast<tSexuate*>(ind)->Sex() == sFemale ? psFemale : psMale;
    fPedigree->Add(Time, ind->ID(), mother != nullptr ? mother->ID() : 0,
                   father != nullptr ? father->ID() : 0, patch->ID(), sex);
  }
  return ind;
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
  // A step runs at least one pass, however few cycles it is asked for.
  Integer done = 0;
  bool repeated = false;
  for (;;) {
    WaitingSync = false;
    // After a pass every individual waits at an Aging or Synchronisation event.
    // In a cycle without Synchronisation events nobody has been let on, so a
    // repeated pass would find no one to move and is not walked.
    if (!repeated || Species->HasSynchronisation())
      for (const auto& patch : fPatches) patch->DoLifeCycle();
    else
      utile::ProcessMessages();
    for (const auto& patch : fPatches) patch->Synchronise();
    repeated = WaitingSync;
    if (WaitingSync) continue;  // a repeated pass is not counted
    if (Species->PatchExtinction != 0)
      for (const auto& patch : fPatches)
        if (utile::Ran() < patch->Extinction) patch->Clear();
    for (const auto& patch : fPatches) patch->GetOlder();
    if (++done >= cycles) break;
  }
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

}  // namespace models::reference
