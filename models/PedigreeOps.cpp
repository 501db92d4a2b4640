#include "models/PedigreeOps.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <unordered_map>

#include "Utile/RunTime.h"

namespace models {

using utile::Assert;
using utile::tVectorOfSingle;

namespace {

// A growable array stored in fixed chunks: growing never moves what is stored,
// and a chunk's memory is committed only as it is written.
template <class T, unsigned Bits>
class tChunkedArray {
 public:
  static constexpr size_t ChunkSize = size_t(1) << Bits;

  T& operator[](size_t i) { return fChunks[i >> Bits][i & (ChunkSize - 1)]; }
  const T& operator[](size_t i) const { return fChunks[i >> Bits][i & (ChunkSize - 1)]; }
  // Makes indices 0..n-1 addressable.
  void EnsureSize(size_t n) {
    while (fChunks.size() * ChunkSize < n) fChunks.push_back(std::make_unique_for_overwrite<T[]>(ChunkSize));
  }
  // Releases the chunks that hold no index below n.
  void ShrinkTo(size_t n) { fChunks.resize((n + ChunkSize - 1) / ChunkSize); }
  void Clear() { fChunks.clear(); }
  size_t AllocatedSize() const { return fChunks.size() * ChunkSize; }

 private:
  std::vector<std::unique_ptr<T[]>> fChunks;
};

// The censuses of one individual: where its patches lie in the census pool.
struct tCensusList {
  Cardinal Offset = 0;
  Cardinal Count = 0;
};

// The patches recorded at the censuses of every individual. Each individual's
// list lives in one block of a power-of-two size, at least 2; a full block is
// replaced by one twice its size and the old block is reused by later lists, so
// the pool stays close to the number of censuses however the lists interleave.
class tCensusPool {
 public:
  static constexpr unsigned ChunkBits = 20;
  static constexpr Cardinal MaxBlock = Cardinal(1) << ChunkBits;
  static constexpr Cardinal Oversized = 0xFFFFFFFFu;  // the list lives in fOversized

  void Append(Cardinal id, tCensusList& list, Cardinal patch) {
    if (list.Offset == Oversized && list.Count > 0) {
      fOversized[id].push_back(patch);
      ++list.Count;
      return;
    }
    const Cardinal capacity = Capacity(list.Count);
    if (list.Count == capacity) {
      const Cardinal grown = capacity == 0 ? 2 : 2 * capacity;
      if (grown > MaxBlock) {
        std::vector<Cardinal>& moved = fOversized[id];
        moved.reserve(2 * size_t(list.Count));
        for (Cardinal k = 0; k < list.Count; ++k) moved.push_back(fEntries[uint64_t(list.Offset) + k]);
        Free(list.Offset, ClassOf(capacity));
        list.Offset = Oversized;
        moved.push_back(patch);
        ++list.Count;
        return;
      }
      const Cardinal offset = Allocate(ClassOf(grown));
      for (Cardinal k = 0; k < list.Count; ++k)
        fEntries[uint64_t(offset) + k] = fEntries[uint64_t(list.Offset) + k];
      if (capacity > 0) Free(list.Offset, ClassOf(capacity));
      list.Offset = offset;
    }
    fEntries[uint64_t(list.Offset) + list.Count] = patch;
    ++list.Count;
  }

  Cardinal At(Cardinal id, const tCensusList& list, Cardinal k) const {
    if (list.Offset == Oversized) return fOversized.at(id)[k];
    return fEntries[uint64_t(list.Offset) + k];
  }

  void Clear() {
    fEntries.Clear();
    fTop = 0;
    for (auto& free : fFree) free.clear();
    fOversized.clear();
  }

 private:
  static Cardinal Capacity(Cardinal count) {
    return count == 0 ? 0 : std::max<Cardinal>(2, std::bit_ceil(count));
  }
  static unsigned ClassOf(Cardinal blockSize) { return unsigned(std::countr_zero(blockSize)); }

  // A block of 2^sizeClass entries, aligned on its size so that it never spans two chunks.
  Cardinal Allocate(unsigned sizeClass) {
    if (!fFree[sizeClass].empty()) {
      const Cardinal offset = fFree[sizeClass].back();
      fFree[sizeClass].pop_back();
      return offset;
    }
    const uint64_t size = uint64_t(1) << sizeClass;
    const uint64_t aligned = (fTop + size - 1) & ~(size - 1);
    // The gap left by the alignment becomes free blocks of the sizes that fit it.
    while (fTop < aligned) {
      const uint64_t piece = fTop & (~fTop + 1);
      fFree[std::countr_zero(piece)].push_back(Cardinal(fTop));
      fTop += piece;
    }
    Assert(aligned + size <= uint64_t(1) << 32, "Too many censuses in the pedigree");
    fTop = aligned + size;
    fEntries.EnsureSize(fTop);
    return Cardinal(aligned);
  }

  void Free(Cardinal offset, unsigned sizeClass) { fFree[sizeClass].push_back(offset); }

  tChunkedArray<Cardinal, ChunkBits> fEntries;
  uint64_t fTop = 0;
  std::array<std::vector<Cardinal>, ChunkBits + 1> fFree;
  std::unordered_map<Cardinal, std::vector<Cardinal>> fOversized;
};

// One step of the relationship recursion. Every cached or stored relationship
// goes through these two, so a value is the same by whatever path it is reached.
inline Single Descend(Double halfGamma, Single withMother, Single withFather) {
  return static_cast<Single>(halfGamma * (static_cast<Double>(withMother) + static_cast<Double>(withFather)));
}
inline Single SelfRelationship(Double halfGamma, Single betweenParents) {
  return static_cast<Single>(1.0 + halfGamma * static_cast<Double>(betweenParents));
}

inline uint64_t PairKey(Cardinal i, Cardinal j) {
  return (uint64_t(i) << 32) | j;
}

}  // namespace

// ================================================================== storage

class tPedigreeStore {
 public:
  static constexpr unsigned ChunkBits = 16;

  tChunkedArray<tPedigreeInfo, ChunkBits> Records;  // index 0 holds no individual
  tChunkedArray<tCensusList, ChunkBits> Censuses;
  tCensusPool Pool;

  void Clear() {
    Records.Clear();
    Censuses.Clear();
    Pool.Clear();
  }
  Cardinal CensusCount(Cardinal id) const { return Censuses[id].Count; }
  Cardinal Census(Cardinal id, Cardinal k) const { return Pool.At(id, Censuses[id], k); }
};

// The relationships computed so far, by ordered pair (open addressing).
class tRelationshipCache {
 public:
  const Single* Find(Cardinal i, Cardinal j) const {
    if (fSize == 0) return nullptr;
    const uint64_t key = PairKey(i, j);
    for (size_t slot = Slot(key);; slot = (slot + 1) & fMask) {
      if (fKeys[slot] == key) return &fValues[slot];
      if (fKeys[slot] == 0) return nullptr;
    }
  }
  void Insert(Cardinal i, Cardinal j, Single value) {
    if (2 * (fSize + 1) > fKeys.size()) Grow();
    const uint64_t key = PairKey(i, j);
    size_t slot = Slot(key);
    while (fKeys[slot] != 0 && fKeys[slot] != key) slot = (slot + 1) & fMask;
    if (fKeys[slot] == 0) ++fSize;
    fKeys[slot] = key;
    fValues[slot] = value;
  }
  void Clear() {
    fKeys.clear();
    fKeys.shrink_to_fit();
    fValues.clear();
    fValues.shrink_to_fit();
    fSize = 0;
    fMask = 0;
  }

 private:
  size_t Slot(uint64_t key) const { return size_t((key * 0x9E3779B97F4A7C15ull) >> fShift) & fMask; }
  void Grow() {
    std::vector<uint64_t> keys = std::move(fKeys);
    std::vector<Single> values = std::move(fValues);
    const size_t capacity = std::max<size_t>(64, 2 * keys.size());
    fKeys.assign(capacity, 0);
    fValues.assign(capacity, 0);
    fMask = capacity - 1;
    fShift = 64 - unsigned(std::countr_zero(capacity));
    fSize = 0;
    for (size_t k = 0; k < keys.size(); ++k)
      if (keys[k] != 0) Insert(Cardinal(keys[k] >> 32), Cardinal(keys[k]), values[k]);
  }

  std::vector<uint64_t> fKeys;  // 0 = empty: IDs start at 1
  std::vector<Single> fValues;
  size_t fSize = 0;
  size_t fMask = 0;
  unsigned fShift = 64;
};

// ================================================================== tPedigree

tPedigree::tPedigree()
    : fStore(std::make_unique<tPedigreeStore>()), fCache(std::make_unique<tRelationshipCache>()) {
  fCapacity = 100;
  Clear();
  fMaxAge = 1;
  SetMutationRate(0);
}

tPedigree::~tPedigree() = default;

void tPedigree::Add(Cardinal date, Cardinal id, Cardinal mother, Cardinal father, Cardinal patch,
                    tPedigreeSex sex) {
  Assert(id == fCount + 1, "Pedigree IDs must be given consecutively from 1");
  Assert(fCount == 0 || date >= fGenerationCount, "Births must be recorded in date order");
  Assert(mother < id && father < id, "Parents must be recorded before their offspring");
  InvalidateWindow();
  if (fCount == fCapacity - 1)
    fCapacity = Cardinal(std::min<uint64_t>(uint64_t(fCapacity) + CapacityIncrement, 0xFFFFFFFFu));
  ++fCount;
  fStore->Records.EnsureSize(size_t(fCount) + 1);
  fStore->Censuses.EnsureSize(size_t(fCount) + 1);
  tPedigreeInfo& record = fStore->Records[fCount];
  record.Date = date;
  record.ID = id;
  record.Mother = mother;
  record.Father = father;
  record.Patch = patch;
  record.Sex = sex;
  fStore->Censuses[fCount] = tCensusList{};
  fPatchCount = std::max(fPatchCount, patch);
  // Every date up to this one without a birth of its own points at the next ID
  // born, so that a range of dates never loses the cohort that follows a gap.
  if (fCount == 1) {
    fGenerations.assign(size_t(date) + 1, id);
    fGenerationCount = date;
  } else if (date > fGenerationCount) {
    fGenerations.resize(size_t(date) + 1, id);
    fGenerationCount = date;
  }
}

void tPedigree::Add(const tPedigreeInfo& info) {
  Add(info.Date, info.ID, info.Mother, info.Father, info.Patch, info.Sex);
}

void tPedigree::AddPosition(Cardinal id, Cardinal patch) {
  Assert(id >= 1 && id <= fCount, "No such individual in the pedigree");
  InvalidateWindow();
  fStore->Pool.Append(id, fStore->Censuses[id], patch);
  fPatchCount = std::max(fPatchCount, patch);
}

void tPedigree::Clear() {
  InvalidateWindow();
  fCount = 0;
  fPatchCount = 0;
  fGenerationCount = 0;
  ClearCoancestries();
  fGenerations.assign(1, 1);
  fStore->Clear();
}

void tPedigree::SetCapacity(Cardinal n) {
  fCapacity = std::max<Cardinal>(n, fCount + 1);
}

void tPedigree::Trim() {
  fCapacity = fCount + 1;
  fStore->Records.ShrinkTo(fCapacity);
  fStore->Censuses.ShrinkTo(fCapacity);
}

void tPedigree::SetAgeReproduction(Integer age) {
  fAgeReproduction = age < 0 ? 0 : Cardinal(age);
}

void tPedigree::SetMutationRate(Double mu) {
  const Double gamma = (1 - mu) * (1 - mu);
  if (gamma != fGamma) ClearCoancestries();
  fMutationRate = mu;
  fGamma = gamma;
}

// ------------------------------------------------------------------ queries

tPedigreeInfo tPedigree::GetIndividuals(Cardinal id) const {
  Assert(id >= 1 && id <= fCount, "No such individual in the pedigree");
  return fStore->Records[id];
}

tPedigreeSex tPedigree::GetSex(Cardinal id) const {
  return GetIndividuals(id).Sex;
}

Cardinal tPedigree::GetBirthDate(Cardinal id) const {
  return GetIndividuals(id).Date;
}

Cardinal tPedigree::GetDeathDate(Cardinal id) const {
  return GetBirthDate(id) + fStore->CensusCount(id);
}

Cardinal tPedigree::Positions(Cardinal id, Cardinal date) const {
  const Cardinal birth = GetBirthDate(id);
  Assert(date >= birth && date - birth <= fStore->CensusCount(id), "No position at that date");
  return date == birth ? fStore->Records[id].Patch : fStore->Census(id, date - birth - 1);
}

tVectorOfCardinal tPedigree::GetPositions(Cardinal id) const {
  const tPedigreeInfo record = GetIndividuals(id);
  const Cardinal censuses = fStore->CensusCount(id);
  tVectorOfCardinal positions;
  positions.reserve(size_t(censuses) + 2);
  positions.push_back(record.Date);
  positions.push_back(record.Patch);
  for (Cardinal k = 0; k < censuses; ++k) positions.push_back(fStore->Census(id, k));
  return positions;
}

bool tPedigree::IsLiving(Cardinal id, Cardinal date) const {
  const Cardinal birth = GetBirthDate(id);
  const Cardinal death = birth + fStore->CensusCount(id);
  return birth <= date && date <= death && death != birth;
}

bool tPedigree::BelongToAgeClass(Cardinal id, Cardinal date, tPedigreeAgeClass ageClass) const {
  const Cardinal birth = GetBirthDate(id);
  if (date < birth || date - birth > fStore->CensusCount(id)) return false;
  switch (ageClass) {
    case pacJuveniles:
      return date - birth < fAgeReproduction;
    case pacAdults:
      return date - birth >= fAgeReproduction;
    case pacAll:
      return true;
  }
  return false;
}

bool tPedigree::BelongToSexClass(Cardinal id, tPedigreeSex sex) const {
  if (sex == psBoth || sex == psNA) return true;
  return GetSex(id) == sex;
}

void tPedigree::FirstAndLastID(Cardinal date, Cardinal& first, Cardinal& last) const {
  if (date <= fMaxAge) {
    first = 1;
  } else {
    const Cardinal earliest = date - fMaxAge;
    first = earliest <= fGenerationCount ? fGenerations[earliest] : fCount + 1;
  }
  if (uint64_t(date) + 1 >= fGenerationCount) {
    last = fCount;
  } else {
    const Cardinal next = fGenerations[size_t(date) + 1];
    last = next < 2 ? 0 : next - 1;
  }
}

void tPedigree::SwapID(Cardinal& i, Cardinal& j) {
  if (i > j) std::swap(i, j);
}

// ------------------------------------------------------------------ kinship

void tPedigree::PrepareForAnalysis() {
  ClearCoancestries();
}

void tPedigree::ClearCoancestries() {
  fCache->Clear();
  InvalidateWindow();
}

Single tPedigree::ComputeRelationship(Cardinal i, Cardinal j) {
  SwapID(i, j);
  const tPedigreeInfo child = GetIndividuals(j);
  Assert(i >= 1, "No such individual in the pedigree");
  if (child.Mother == 0 || child.Father == 0) return i == j ? 1.0f : 0.0f;
  const Double halfGamma = 0.5 * fGamma;
  if (i == j) return SelfRelationship(halfGamma, GetRelationship(child.Mother, child.Father));
  return Descend(halfGamma, GetRelationship(i, child.Mother), GetRelationship(i, child.Father));
}

Single tPedigree::GetRelationship(Cardinal i, Cardinal j) {
  SwapID(i, j);
  if (const Single* cached = fCache->Find(i, j)) return *cached;
  Assert(i >= 1 && j <= fCount, "No such individual in the pedigree");
  // The recursion goes back one generation per level: it runs on a stack of its
  // own so that long pedigrees cannot exhaust the call stack.
  const Double halfGamma = 0.5 * fGamma;
  struct tPair {
    Cardinal a, b;
  };
  std::vector<tPair> pending{{i, j}};
  while (!pending.empty()) {
    const tPair pair = pending.back();
    if (fCache->Find(pair.a, pair.b)) {
      pending.pop_back();
      continue;
    }
    const tPedigreeInfo& child = fStore->Records[pair.b];
    const Cardinal m = child.Mother, f = child.Father;
    if (m == 0 || f == 0) {
      fCache->Insert(pair.a, pair.b, pair.a == pair.b ? 1.0f : 0.0f);
      pending.pop_back();
      continue;
    }
    if (pair.a == pair.b) {
      const tPair parents{std::min(m, f), std::max(m, f)};
      if (const Single* between = fCache->Find(parents.a, parents.b)) {
        fCache->Insert(pair.a, pair.b, SelfRelationship(halfGamma, *between));
        pending.pop_back();
      } else {
        pending.push_back(parents);
      }
      continue;
    }
    const tPair withMother{std::min(pair.a, m), std::max(pair.a, m)};
    const tPair withFather{std::min(pair.a, f), std::max(pair.a, f)};
    const Single* rm = fCache->Find(withMother.a, withMother.b);
    const Single* rf = fCache->Find(withFather.a, withFather.b);
    if (rm && rf) {
      fCache->Insert(pair.a, pair.b, Descend(halfGamma, *rm, *rf));
      pending.pop_back();
    } else {
      if (!rm) pending.push_back(withMother);
      if (!rf) pending.push_back(withFather);
    }
  }
  return *fCache->Find(i, j);
}

Double tPedigree::Coancestry(Cardinal i, Cardinal j) {
  if (i == j) return static_cast<Double>(GetRelationship(i, i)) - 1;
  return static_cast<Double>(GetRelationship(i, j)) / 2;
}

Double tPedigree::F_ind(Cardinal id) {
  return static_cast<Double>(GetRelationship(id, id)) - 1;
}

Single tPedigree::ShowRelationship(Cardinal i, Cardinal j) const {
  SwapID(i, j);
  const Single* cached = fCache->Find(i, j);
  return cached ? *cached : NotComputed;
}

void tPedigree::ComputeWholeRelationshipMatrix() {
  ClearCoancestries();
  for (Cardinal i = 1; i <= fCount; ++i)
    for (Cardinal j = i; j <= fCount; ++j) GetRelationship(i, j);
}

tMatrixOfSingle tPedigree::RelationshipMatrix() const {
  tMatrixOfSingle m(fCount, tVectorOfSingle(fCount));
  for (Cardinal i = 1; i <= fCount; ++i)
    for (Cardinal j = 1; j <= fCount; ++j) m[i - 1][j - 1] = ShowRelationship(i, j);
  return m;
}

// ------------------------------------------------------------------ counts and moves

tVectorOfCardinal tPedigree::PopulationSizes(Cardinal date, tPedigreeAgeClass ageClass) const {
  tVectorOfCardinal sizes(size_t(fPatchCount) + 1, 0);
  Cardinal first, last;
  FirstAndLastID(date, first, last);
  for (Cardinal id = first; id <= last && id != 0; ++id)
    if (BelongToAgeClass(id, date, ageClass)) ++sizes[Positions(id, date)];
  sizes[0] = 0;
  for (size_t p = 1; p < sizes.size(); ++p) sizes[0] += sizes[p];
  return sizes;
}

tMatrixOfDouble tPedigree::DispersalEventMatrix() const {
  tMatrixOfDouble events(fPatchCount, tVectorOfDouble(fPatchCount, 0.0));
  for (Cardinal id = 1; id <= fCount; ++id) {
    Cardinal from = fStore->Records[id].Patch;
    const Cardinal censuses = fStore->CensusCount(id);
    for (Cardinal k = 0; k < censuses; ++k) {
      const Cardinal to = fStore->Census(id, k);
      events[to - 1][from - 1] += 1;
      from = to;
    }
  }
  return events;
}

tMatrixOfDouble tPedigree::DispersalEventMatrix(Cardinal t1, Cardinal t2) const {
  tMatrixOfDouble events(fPatchCount, tVectorOfDouble(fPatchCount, 0.0));
  if (t2 <= t1) return events;
  // Every individual that can be alive at some date of the window, so that a
  // window longer than a lifetime still counts the moves made within it.
  Cardinal first, unused, last;
  FirstAndLastID(t1, first, unused);
  FirstAndLastID(t2, unused, last);
  for (Cardinal id = first; id <= last && id != 0; ++id) {
    const Cardinal birth = fStore->Records[id].Date;
    const Cardinal death = birth + fStore->CensusCount(id);
    const Cardinal from = std::max(t1 + 1, birth + 1);
    const Cardinal to = std::min(t2, death);
    for (Cardinal d = from; d <= to; ++d) events[Positions(id, d) - 1][Positions(id, d - 1) - 1] += 1;
  }
  return events;
}

// ================================================================== kinship window

class tKinshipWindow {};

void tPedigree::InvalidateWindow() {
  fWindow.reset();
}

}  // namespace models
