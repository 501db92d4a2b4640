#include "models/PedigreeOps.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <unordered_map>

#include "Utile/Platform.h"
#include "Utile/RandomFunctions.h"
#include "Utile/RunTime.h"
#include "Utile/VectorOps.h"

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
  // Releases every chunk; returns the bytes they held.
  uint64_t Clear() {
    const uint64_t bytes = uint64_t(fChunks.size()) * ChunkSize * sizeof(T);
    std::vector<std::unique_ptr<T[]>>().swap(fChunks);
    return bytes;
  }

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

  // Returns the bytes it held, at least.
  uint64_t Clear() {
    uint64_t bytes = fEntries.Clear();
    fTop = 0;
    for (auto& free : fFree) {
      bytes += free.capacity() * sizeof(Cardinal);
      std::vector<Cardinal>().swap(free);
    }
    for (const auto& [id, list] : fOversized) bytes += list.capacity() * sizeof(Cardinal);
    std::unordered_map<Cardinal, std::vector<Cardinal>>().swap(fOversized);
    return bytes;
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

  // Returns the bytes it held, at least.
  uint64_t Clear() { return Records.Clear() + Censuses.Clear() + Pool.Clear(); }
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
  // Returns the bytes it held.
  uint64_t Clear() {
    const uint64_t bytes = fKeys.capacity() * sizeof(uint64_t) + fValues.capacity() * sizeof(Single);
    std::vector<uint64_t>().swap(fKeys);
    std::vector<Single>().swap(fValues);
    fSize = 0;
    fMask = 0;
    return bytes;
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

tPedigree::~tPedigree() {
  // A run's pedigree is most of what the program holds: freed, it is given back.
  const uint64_t freed = FreeWindow() + fCache->Clear() + fStore->Clear() + FreeGenerations();
  utile::ReleaseAfterFreeing(freed);
}

void tPedigree::Add(Cardinal date, Cardinal id, Cardinal mother, Cardinal father, Cardinal patch,
                    tPedigreeSex sex) {
  Assert(id == fCount + 1, "Pedigree IDs must be given consecutively from 1");
  Assert(fCount == 0 || date >= fGenerationCount, "Births must be recorded in date order");
  Assert(mother < id && father < id, "Parents must be recorded before their offspring");
  Assert(patch >= 1, "Patch IDs start at 1");
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
  Assert(patch >= 1, "Patch IDs start at 1");
  InvalidateWindow();
  fStore->Pool.Append(id, fStore->Censuses[id], patch);
  fPatchCount = std::max(fPatchCount, patch);
}

void tPedigree::Clear() {
  fCount = 0;
  fPatchCount = 0;
  fGenerationCount = 0;
  // Everything is freed before the memory is given back, once: a new run then
  // starts from memory the system has, not beside the old run's.
  const uint64_t freed = FreeWindow() + fCache->Clear() + fStore->Clear() + FreeGenerations();
  fGenerations.assign(1, 1);
  utile::ReleaseAfterFreeing(freed);
}

uint64_t tPedigree::FreeGenerations() {
  const uint64_t bytes = fGenerations.capacity() * sizeof(Cardinal);
  std::vector<Cardinal>().swap(fGenerations);
  return bytes;
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
  const uint64_t freed = fCache->Clear() + FreeWindow();
  utile::ReleaseAfterFreeing(freed);
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

// The relationships among the individuals that matter at the dates being
// analysed, computed ID by ID as in the tabular method: the relationships of a
// new individual with every individual still in the window are half the sums of
// its parents' (times Gamma), so that each value is that of the cached recursion.
//
// An individual is in the window (has a column) from its birth to the last date
// at which it or one of its offspring is alive; only parents keep a row of their
// relationships with every column, and the relationships of two individuals
// without offspring are read from their parents' rows when asked for. Leaving the
// window frees a column; the window is packed when a quarter of its columns are free.
// New columns are appended to the rows in batches, so that a row is written
// contiguously rather than one cell per row for every new individual.
//
// Only the individuals alive at the first date asked for, or later, and their
// ancestors are taken in. Later dates continue the same window; an earlier date
// starts a new one.
class tKinshipWindow {
 public:
  explicit tKinshipWindow(const tPedigree& pedigree) : fPedigree(pedigree) {}

  bool CanServe(Cardinal date) const { return fStarted && date >= fFromDate && date >= fFrontier; }
  void Start(Cardinal date);
  // Takes in every individual born at the date or before.
  void AdvanceTo(Cardinal date);

  Single Diagonal(Cardinal id) const { return fDiagonal[Column(id)]; }
  Cardinal Column(Cardinal id) const {
    Assert(fColumnOf[id] != 0, "The individual is not in the kinship window");
    return fColumnOf[id] - 1;
  }
  // R(id, y) for every column y before the individual's own.
  const Single* Values(Cardinal id, std::vector<Single>& scratch) const;
  // What it holds, at least.
  uint64_t Bytes() const;

 private:
  static constexpr size_t BatchSize = 128;
  static constexpr uint8_t Relevant = 1;
  static constexpr uint8_t Parent = 2;
  static constexpr Cardinal NoRow = 0xFFFFFFFFu;

  struct tPendingColumn {
    Cardinal ID;
    std::vector<Single> Values;  // with every earlier column
  };

  const tPedigreeInfo& Record(Cardinal id) const { return fPedigree.fStore->Records[id]; }
  Cardinal DeathDate(Cardinal id) const { return Record(id).Date + fPedigree.fStore->CensusCount(id); }
  void Process(Cardinal id);
  void Flush();
  void Expire(Cardinal date);
  void Compact();
  // R(a, b) by columns, pending or not.
  Single Pair(Cardinal a, Cardinal b) const;
  // The relationships of a parent with the flushed columns.
  const Single* ParentValues(Cardinal column) const;
  std::vector<Single> TakeBuffer();
  Cardinal NewRow();
  // Moves every row into blocks of the given size.
  void Restride(Cardinal stride);

  const tPedigree& fPedigree;
  Double fHalfGamma = 0.5;
  bool fStarted = false;
  Cardinal fFromDate = 0;
  Cardinal fFrontier = 0;  // individuals gone before this date have left
  Cardinal fNextID = 1;

  // by ID
  std::vector<uint8_t> fFlags;
  std::vector<Cardinal> fEnd;       // the last date the individual is needed
  std::vector<Cardinal> fColumnOf;  // column + 1; 0 = not in the window
  std::vector<Cardinal> fExpiryOrder;
  size_t fNextExpiry = 0;

  // by column
  std::vector<Cardinal> fColumnID;  // 0 = free
  std::vector<Single> fDiagonal;
  std::vector<Cardinal> fColumnRow;  // NoRow for individuals without offspring
  Cardinal fFlushed = 0;             // columns present in every row
  size_t fFree = 0;

  // Every row is a block of fStride cells, so that columns are appended in place.
  std::vector<std::unique_ptr<Single[]>> fRows;
  Cardinal fStride = 0;
  std::vector<Cardinal> fFreeRows;
  std::vector<Cardinal> fRowColumn;  // column of the row's individual
  std::vector<Cardinal> fRowOrder;   // rows in use, by column
  std::vector<tPendingColumn> fPending;
  std::vector<std::vector<Single>> fSpare;
};

void tKinshipWindow::Start(Cardinal date) {
  const Cardinal count = fPedigree.fCount;
  fFlags.assign(size_t(count) + 1, 0);
  fEnd.assign(size_t(count) + 1, 0);
  fColumnOf.assign(size_t(count) + 1, 0);
  // The individuals alive at the date or later, and their ancestors.
  Cardinal lastEnd = 0;
  for (Cardinal id = count; id >= 1; --id) {
    const Cardinal death = DeathDate(id);
    if (death >= date) fFlags[id] |= Relevant;
    if (!(fFlags[id] & Relevant)) continue;
    fEnd[id] = std::max(fEnd[id], death);
    lastEnd = std::max(lastEnd, fEnd[id]);
    const tPedigreeInfo& record = Record(id);
    if (record.Mother == 0 || record.Father == 0) continue;
    for (const Cardinal parent : {record.Mother, record.Father}) {
      fFlags[parent] |= Relevant | Parent;
      fEnd[parent] = std::max(fEnd[parent], death);
    }
  }
  // By the date at which each leaves the window.
  std::vector<Cardinal> starts(size_t(lastEnd) + 2, 0);
  for (Cardinal id = 1; id <= count; ++id)
    if (fFlags[id] & Relevant) ++starts[size_t(fEnd[id]) + 1];
  for (size_t d = 1; d < starts.size(); ++d) starts[d] += starts[d - 1];
  fExpiryOrder.assign(starts.back(), 0);
  for (Cardinal id = 1; id <= count; ++id)
    if (fFlags[id] & Relevant) fExpiryOrder[starts[fEnd[id]]++] = id;
  fNextExpiry = 0;

  fColumnID.clear();
  fDiagonal.clear();
  fColumnRow.clear();
  fFlushed = 0;
  fFree = 0;
  fRows.clear();
  fStride = 0;
  fFreeRows.clear();
  fRowColumn.clear();
  fRowOrder.clear();
  fPending.clear();
  fPending.reserve(BatchSize);
  fHalfGamma = 0.5 * fPedigree.fGamma;
  fFromDate = date;
  fFrontier = 0;
  fNextID = 1;
  fStarted = true;
}

void tKinshipWindow::AdvanceTo(Cardinal date) {
  for (; fNextID <= fPedigree.fCount; ++fNextID) {
    const Cardinal id = fNextID;
    const Cardinal birth = Record(id).Date;
    if (birth > date) break;
    if (!(fFlags[id] & Relevant)) continue;
    if (birth > fFrontier) {
      Flush();
      Expire(birth);
    }
    Process(id);
    if (fPending.size() == BatchSize) Flush();
  }
  Flush();
  if (date > fFrontier) Expire(date);
}

std::vector<Single> tKinshipWindow::TakeBuffer() {
  if (fSpare.empty()) return {};
  std::vector<Single> buffer = std::move(fSpare.back());
  fSpare.pop_back();
  return buffer;
}

const Single* tKinshipWindow::ParentValues(Cardinal column) const {
  if (column >= fFlushed) return fPending[column - fFlushed].Values.data();
  Assert(fColumnRow[column] != NoRow, "A parent has no relationships in the kinship window");
  return fRows[fColumnRow[column]].get();
}

Single tKinshipWindow::Pair(Cardinal a, Cardinal b) const {
  if (a == b) return fDiagonal[a];
  const Cardinal high = std::max(a, b), low = std::min(a, b);
  if (high >= fFlushed) return fPending[high - fFlushed].Values[low];
  if (fColumnRow[a] != NoRow) return fRows[fColumnRow[a]][b];
  Assert(fColumnRow[b] != NoRow, "A parent has no relationships in the kinship window");
  return fRows[fColumnRow[b]][a];
}

void tKinshipWindow::Process(Cardinal id) {
  const Cardinal column = Cardinal(fColumnID.size());
  fColumnID.push_back(id);
  fColumnRow.push_back(NoRow);
  fColumnOf[id] = column + 1;
  fPending.push_back({id, TakeBuffer()});
  std::vector<Single>& values = fPending.back().Values;
  values.resize(column);
  const tPedigreeInfo& record = Record(id);
  if (record.Mother == 0 || record.Father == 0) {
    std::fill(values.begin(), values.end(), 0.0f);
    fDiagonal.push_back(1.0f);
    return;
  }
  const Cardinal m = Column(record.Mother), f = Column(record.Father);
  const Single* __restrict withMother = ParentValues(m);
  const Single* __restrict withFather = ParentValues(f);
  const Double halfGamma = fHalfGamma;
  Single* __restrict out = values.data();
  const Cardinal flushed = fFlushed;
  for (Cardinal y = 0; y < flushed; ++y) out[y] = Descend(halfGamma, withMother[y], withFather[y]);
  for (Cardinal y = fFlushed; y < column; ++y) out[y] = Descend(halfGamma, Pair(m, y), Pair(f, y));
  fDiagonal.push_back(SelfRelationship(halfGamma, Pair(m, f)));
}

Cardinal tKinshipWindow::NewRow() {
  if (!fFreeRows.empty()) {
    const Cardinal r = fFreeRows.back();
    fFreeRows.pop_back();
    if (!fRows[r]) fRows[r] = std::make_unique_for_overwrite<Single[]>(fStride);
    return r;
  }
  fRows.push_back(std::make_unique_for_overwrite<Single[]>(fStride));
  fRowColumn.push_back(0);
  return Cardinal(fRows.size() - 1);
}

void tKinshipWindow::Restride(Cardinal stride) {
  for (const Cardinal r : fRowOrder) {
    auto block = std::make_unique_for_overwrite<Single[]>(stride);
    std::copy_n(fRows[r].get(), std::min(fFlushed, stride), block.get());
    fRows[r] = std::move(block);
  }
  // Free rows are dropped rather than moved; their indices stay free.
  for (const Cardinal r : fFreeRows) fRows[r].reset();
  fStride = stride;
}

void tKinshipWindow::Flush() {
  const size_t n = fPending.size();
  if (n == 0) return;
  const Cardinal length = Cardinal(fFlushed + n);
  if (length > fStride) Restride(length + length / 4 + Cardinal(BatchSize));
  std::array<const Single*, BatchSize> sources;
  for (size_t q = 0; q < n; ++q) sources[q] = fPending[q].Values.data();
  // A few new columns at a time over every row: the loads then follow a few
  // buffers in order instead of all of them at once.
  constexpr size_t Group = 16;
  for (size_t q0 = 0; q0 < n; q0 += Group) {
    const size_t q1 = std::min(n, q0 + Group);
    for (const Cardinal r : fRowOrder) {
      Single* __restrict row = fRows[r].get() + fFlushed;
      const Cardinal own = fRowColumn[r];
      for (size_t q = q0; q < q1; ++q) row[q] = sources[q][own];
    }
  }
  for (size_t q = 0; q < n; ++q) {
    const Cardinal id = fPending[q].ID;
    if (!(fFlags[id] & Parent)) continue;
    const Cardinal r = NewRow();
    const Cardinal column = Cardinal(fFlushed + q);
    Single* row = fRows[r].get();
    std::copy_n(fPending[q].Values.data(), column, row);
    row[column] = fDiagonal[column];
    for (size_t later = q + 1; later < n; ++later) row[fFlushed + later] = fPending[later].Values[column];
    fRowColumn[r] = column;
    fColumnRow[column] = r;
    fRowOrder.push_back(r);
  }
  fFlushed = length;
  for (tPendingColumn& pending : fPending) fSpare.push_back(std::move(pending.Values));
  fPending.clear();
}

void tKinshipWindow::Expire(Cardinal date) {
  bool rowsFreed = false;
  while (fNextExpiry < fExpiryOrder.size() && fEnd[fExpiryOrder[fNextExpiry]] < date) {
    const Cardinal id = fExpiryOrder[fNextExpiry++];
    if (fColumnOf[id] == 0) continue;
    const Cardinal column = fColumnOf[id] - 1;
    fColumnOf[id] = 0;
    fColumnID[column] = 0;
    ++fFree;
    if (fColumnRow[column] != NoRow) {
      fFreeRows.push_back(fColumnRow[column]);
      fColumnRow[column] = NoRow;
      rowsFreed = true;
    }
  }
  if (rowsFreed)
    std::erase_if(fRowOrder, [this](Cardinal r) {
      return fColumnRow[fRowColumn[r]] != r || fColumnID[fRowColumn[r]] == 0;
    });
  fFrontier = date;
  if (fFree > 1024 && 4 * fFree > fColumnID.size()) Compact();
}

void tKinshipWindow::Compact() {
  std::vector<Cardinal> kept;
  kept.reserve(fColumnID.size() - fFree);
  for (Cardinal c = 0; c < fColumnID.size(); ++c)
    if (fColumnID[c] != 0) kept.push_back(c);
  for (const Cardinal r : fRowOrder) {
    Single* row = fRows[r].get();
    for (size_t k = 0; k < kept.size(); ++k) row[k] = row[kept[k]];
  }
  for (size_t k = 0; k < kept.size(); ++k) {
    const Cardinal c = kept[k];
    fColumnID[k] = fColumnID[c];
    fDiagonal[k] = fDiagonal[c];
    fColumnRow[k] = fColumnRow[c];
    fColumnOf[fColumnID[k]] = Cardinal(k) + 1;
    if (fColumnRow[k] != NoRow) fRowColumn[fColumnRow[k]] = Cardinal(k);
  }
  fColumnID.resize(kept.size());
  fDiagonal.resize(kept.size());
  fColumnRow.resize(kept.size());
  fFlushed = Cardinal(kept.size());
  fFree = 0;
  fSpare.clear();
  // Give back what the packed window no longer needs.
  if (fStride > 2 * fFlushed + 2 * BatchSize) Restride(fFlushed + fFlushed / 4 + Cardinal(BatchSize));
}

const Single* tKinshipWindow::Values(Cardinal id, std::vector<Single>& scratch) const {
  const Cardinal column = Column(id);
  if (fColumnRow[column] != NoRow) return fRows[fColumnRow[column]].get();
  const tPedigreeInfo& record = Record(id);
  if (record.Mother == 0 || record.Father == 0) {
    scratch.assign(column, 0.0f);
    return scratch.data();
  }
  const Single* withMother = ParentValues(Column(record.Mother));
  const Single* withFather = ParentValues(Column(record.Father));
  scratch.resize(column);
  Single* __restrict out = scratch.data();
  const Single* __restrict fromMother = withMother;
  const Single* __restrict fromFather = withFather;
  const Double halfGamma = fHalfGamma;
  for (Cardinal y = 0; y < column; ++y) out[y] = Descend(halfGamma, fromMother[y], fromFather[y]);
  return out;
}

uint64_t tKinshipWindow::Bytes() const {
  uint64_t bytes = fFlags.capacity() * sizeof(uint8_t) + fEnd.capacity() * sizeof(Cardinal) +
                   fColumnOf.capacity() * sizeof(Cardinal) + fExpiryOrder.capacity() * sizeof(Cardinal);
  bytes += fColumnID.capacity() * sizeof(Cardinal) + fDiagonal.capacity() * sizeof(Single) +
           fColumnRow.capacity() * sizeof(Cardinal);
  for (const auto& row : fRows)
    if (row) bytes += uint64_t(fStride) * sizeof(Single);
  for (const std::vector<Single>& spare : fSpare) bytes += spare.capacity() * sizeof(Single);
  return bytes;
}

tKinshipWindow& tPedigree::Window(Cardinal date) {
  if (!fWindow) fWindow = std::make_unique<tKinshipWindow>(*this);
  if (!fWindow->CanServe(date)) fWindow->Start(date);
  fWindow->AdvanceTo(date);
  return *fWindow;
}

void tPedigree::InvalidateWindow() {
  if (fWindow) utile::ReleaseAfterFreeing(FreeWindow());
}

uint64_t tPedigree::FreeWindow() {
  if (!fWindow) return 0;
  const uint64_t bytes = fWindow->Bytes();
  fWindow.reset();
  return bytes;
}

// ------------------------------------------------------------------ analyses

namespace {

// The individuals of a class at a date, in ID order, with their patch and column.
struct tMember {
  Cardinal ID, Patch, Column;
};

Double MeanOrNone(Double sum, uint64_t count) {
  return count == 0 ? -1 : sum / Double(count);
}

}  // namespace

tVectorOfDouble tPedigree::F_pop(Cardinal date, tPedigreeAgeClass ageClass, tVectorOfCardinal& counts) {
  tVectorOfDouble f(size_t(fPatchCount) + 1, 0.0);
  counts.assign(size_t(fPatchCount) + 1, 0);
  Cardinal first, last;
  FirstAndLastID(date, first, last);
  const tKinshipWindow& window = Window(date);
  for (Cardinal id = first; id <= last && id != 0; ++id) {
    if (!BelongToAgeClass(id, date, ageClass)) continue;
    const Cardinal patch = Positions(id, date);
    const Double inbreeding = static_cast<Double>(window.Diagonal(id)) - 1;
    f[patch] += inbreeding;
    ++counts[patch];
    f[0] += inbreeding;
  }
  counts[0] = 0;
  for (size_t p = 1; p < counts.size(); ++p) counts[0] += counts[p];
  for (size_t p = 0; p < f.size(); ++p) f[p] = MeanOrNone(f[p], counts[p]);
  return f;
}

tVectorOfDouble tPedigree::Theta(Cardinal date, tPedigreeAgeClass ageClass) {
  const size_t patches = size_t(fPatchCount) + 1;
  tVectorOfDouble theta(patches, 0.0);
  std::vector<uint64_t> counts(patches, 0);
  Cardinal first, last;
  FirstAndLastID(date, first, last);
  const tKinshipWindow& window = Window(date);
  // Each patch's members so far, in ID order.
  std::vector<std::vector<Cardinal>> columns(patches);
  std::vector<Single> scratch;
  for (Cardinal id = first; id <= last && id != 0; ++id) {
    if (!BelongToAgeClass(id, date, ageClass)) continue;
    const Cardinal patch = Positions(id, date);
    std::vector<Cardinal>& earlier = columns[patch];
    if (!earlier.empty()) {
      const Single* values = window.Values(id, scratch);
      for (const Cardinal column : earlier) {
        const Double coancestry = static_cast<Double>(values[column]) / 2;
        theta[patch] += coancestry;
        ++counts[patch];
        theta[0] += coancestry;
      }
    }
    earlier.push_back(window.Column(id));
  }
  counts[0] = 0;
  for (size_t p = 1; p < patches; ++p) counts[0] += counts[p];
  for (size_t p = 0; p < patches; ++p) theta[p] = MeanOrNone(theta[p], counts[p]);
  return theta;
}

tMatrixOfDouble tPedigree::Alpha(Cardinal date, tPedigreeAgeClass ageClass) {
  const size_t patches = size_t(fPatchCount) + 1;
  tMatrixOfDouble alpha(patches, tVectorOfDouble(patches, 0.0));
  std::vector<std::vector<uint64_t>> counts(patches, std::vector<uint64_t>(patches, 0));
  Double between = 0;
  uint64_t betweenCount = 0;
  Cardinal first, last;
  FirstAndLastID(date, first, last);
  const tKinshipWindow& window = Window(date);
  std::vector<tMember> members;
  std::vector<Single> scratch;
  for (Cardinal id = first; id <= last && id != 0; ++id) {
    if (!BelongToAgeClass(id, date, ageClass)) continue;
    const Cardinal a = Positions(id, date);
    const Single* values = window.Values(id, scratch);
    for (const tMember& other : members) {
      const Double coancestry = static_cast<Double>(values[other.Column]) / 2;
      const Cardinal b = other.Patch;
      alpha[std::min(a, b)][std::max(a, b)] += coancestry;
      ++counts[std::min(a, b)][std::max(a, b)];
      if (a != b) {
        between += coancestry;
        ++betweenCount;
      }
    }
    alpha[a][a] += static_cast<Double>(window.Diagonal(id)) - 1;
    ++counts[a][a];
    members.push_back({id, a, window.Column(id)});
  }
  for (size_t i = 1; i < patches; ++i)
    for (size_t j = 1; j <= i; ++j) {
      alpha[j][i] = MeanOrNone(alpha[j][i], counts[j][i]);
      alpha[i][j] = alpha[j][i];
    }
  alpha[0][0] = MeanOrNone(between, betweenCount);
  return alpha;
}

// ================================================================== tGeneticPedigree

namespace {

void SetAllele(Int64& genome, Integer locus, Cardinal allele) {
  const uint64_t power = uint64_t(tGeneticPedigree::PowerOf256()[size_t(locus)]);
  genome = Int64((uint64_t(genome) & ~(uint64_t(0xFF) * power)) | (uint64_t(allele) * power));
}

}  // namespace

const std::array<Int64, 255>& tGeneticPedigree::PowerOf256() {
  // 256^k wraps to 0 from k = 8 on: those entries are never used.
  static const std::array<Int64, 255> powers = [] {
    std::array<Int64, 255> p{};
    uint64_t power = 1;
    for (Int64& entry : p) {
      entry = Int64(power);
      power *= 256;
    }
    return p;
  }();
  return powers;
}

tGeneticPedigree::tGeneticPedigree(tPedigree& pedigree) : fPedigree(&pedigree) {
  const size_t size = size_t(pedigree.Count()) + 1;
  fUnpruned.assign(size, true);
  fGenomeMother.assign(size, 0);
  fGenomeFather.assign(size, 0);
}

tGeneticPedigree::~tGeneticPedigree() {
  // Two genomes for every ID of a long run's pedigree: given back once freed.
  const uint64_t freed = (fGenomeMother.capacity() + fGenomeFather.capacity()) * sizeof(Int64);
  std::vector<Int64>().swap(fGenomeMother);
  std::vector<Int64>().swap(fGenomeFather);
  std::vector<bool>().swap(fUnpruned);
  utile::ReleaseAfterFreeing(freed);
}

void tGeneticPedigree::SetAlleleCount(Integer n) {
  if (n > MaxAlleleCount) throw utile::EInvalidOperation("Maximum number of alleles reached");
  if (n < 1) throw utile::EInvalidOperation("There must be at least one allele per locus");
  fAlleleCount = n;
}

void tGeneticPedigree::SetLocusCount(Integer n) {
  if (n > MaxLocusCount) throw utile::EInvalidOperation("Maximum number of loci reached");
  if (n < 1) throw utile::EInvalidOperation("There must be at least one locus");
  fLocusCount = n;
}

Cardinal tGeneticPedigree::Allele(Int64 genome, Integer locus) {
  return Cardinal((uint64_t(genome) >> (8 * unsigned(locus))) & 0xFF);
}

// ------------------------------------------------------------------ pruning

void tGeneticPedigree::UnprunePedigree() {
  std::fill(fUnpruned.begin(), fUnpruned.end(), true);
}

void tGeneticPedigree::PrunePedigree() {
  const Cardinal count = Cardinal(fUnpruned.size() - 1);
  Cardinal first, last;
  fPedigree->FirstAndLastID(fPedigree->GenerationCount(), first, last);
  last = std::min(last, count);
  std::fill(fUnpruned.begin(), fUnpruned.end(), false);
  for (Cardinal id = first; id <= last && id != 0; ++id) fUnpruned[id] = true;
  // Parents always have smaller IDs: one pass downwards reaches every ancestor.
  for (Cardinal id = last; id >= 1; --id) {
    if (!fUnpruned[id]) continue;
    const tPedigreeInfo record = fPedigree->GetIndividuals(id);
    if (record.Mother != 0) fUnpruned[record.Mother] = true;
    if (record.Father != 0) fUnpruned[record.Father] = true;
  }
}

bool tGeneticPedigree::Unpruned(Cardinal id) const {
  return id < fUnpruned.size() && fUnpruned[id];
}

// ------------------------------------------------------------------ genomes

Int64 tGeneticPedigree::FounderCopy() const {
  Int64 genome = 0;
  for (Integer locus = 0; locus < fLocusCount; ++locus)
    SetAllele(genome, locus, Cardinal(utile::Ran(fAlleleCount)));
  return genome;
}

Int64 tGeneticPedigree::MendelianCopy(Cardinal parent) const {
  Int64 genome = 0;
  for (Integer locus = 0; locus < fLocusCount; ++locus) {
    const Int64 source = utile::Ran() < 0.5 ? fGenomeMother[parent] : fGenomeFather[parent];
    SetAllele(genome, locus, Allele(source, locus));
  }
  return genome;
}

void tGeneticPedigree::Mutate(Int64& genome) const {
  if (fMutationKAM <= 0 && fMutationSSM <= 0) return;
  for (Integer locus = 0; locus < fLocusCount; ++locus) {
    Integer allele = Integer(Allele(genome, locus));
    if (utile::Ran() < fMutationKAM) {
      allele = utile::Ran(fAlleleCount);
    } else if (fMutationSSM > 0 && utile::Ran() < fMutationSSM) {
      allele += utile::Ran() < 0.5 ? -1 : 1;
    }
    allele = std::clamp(allele, 0, fAlleleCount - 1);
    SetAllele(genome, locus, Cardinal(allele));
  }
}

namespace {

// Genomes are made in ID order: parents always come before their offspring.
template <class tMake>
void ForEachUnpruned(const std::vector<bool>& unpruned, const tPedigree& pedigree, tMake make) {
  for (Cardinal id = 1; id < unpruned.size(); ++id)
    if (unpruned[id]) make(id, pedigree.GetIndividuals(id));
}

}  // namespace

void tGeneticPedigree::MakeNuclearGenome() {
  ForEachUnpruned(fUnpruned, *fPedigree, [this](Cardinal id, const tPedigreeInfo& record) {
    Int64 maternal = record.Mother != 0 ? MendelianCopy(record.Mother) : FounderCopy();
    Mutate(maternal);
    fGenomeMother[id] = maternal;
    Int64 paternal = record.Father != 0 ? MendelianCopy(record.Father) : FounderCopy();
    Mutate(paternal);
    fGenomeFather[id] = paternal;
  });
}

void tGeneticPedigree::MakeMitochondrialGenome() {
  ForEachUnpruned(fUnpruned, *fPedigree, [this](Cardinal id, const tPedigreeInfo& record) {
    Int64 copy = record.Mother != 0 ? fGenomeMother[record.Mother] : FounderCopy();
    Mutate(copy);
    fGenomeMother[id] = copy;
    fGenomeFather[id] = copy;
  });
}

void tGeneticPedigree::MakeXChromosomeGenome() {
  ForEachUnpruned(fUnpruned, *fPedigree, [this](Cardinal id, const tPedigreeInfo& record) {
    Int64 maternal = record.Mother != 0 ? MendelianCopy(record.Mother) : FounderCopy();
    Mutate(maternal);
    fGenomeMother[id] = maternal;
    if (record.Sex == psMale) {
      fGenomeFather[id] = maternal;
      return;
    }
    // The father's X is the copy he received from his mother.
    Int64 paternal = record.Father != 0 ? fGenomeMother[record.Father] : FounderCopy();
    Mutate(paternal);
    fGenomeFather[id] = paternal;
  });
}

void tGeneticPedigree::MakeYChromosomeGenome() {
  ForEachUnpruned(fUnpruned, *fPedigree, [this](Cardinal id, const tPedigreeInfo& record) {
    Int64 copy = 0;
    if (record.Sex == psMale) {
      copy = record.Father != 0 ? fGenomeFather[record.Father] : FounderCopy();
      Mutate(copy);
    }
    fGenomeMother[id] = copy;
    fGenomeFather[id] = copy;
  });
}

Int64 tGeneticPedigree::GenomeMother(Cardinal id) const {
  Assert(id >= 1 && id < fGenomeMother.size(), "No such individual in the genetic pedigree");
  return fGenomeMother[id];
}

Int64 tGeneticPedigree::GenomeFather(Cardinal id) const {
  Assert(id >= 1 && id < fGenomeFather.size(), "No such individual in the genetic pedigree");
  return fGenomeFather[id];
}

namespace {

std::string GenomeText(Int64 genome, Integer loci) {
  std::string text = "|";
  for (Integer locus = 0; locus < loci; ++locus)
    text += utile::Format("%.3d|", tGeneticPedigree::Allele(genome, locus));
  return text;
}

}  // namespace

std::string tGeneticPedigree::GetGenomeMother(Cardinal id) const {
  return GenomeText(GenomeMother(id), fLocusCount);
}

std::string tGeneticPedigree::GetGenomeFather(Cardinal id) const {
  return GenomeText(GenomeFather(id), fLocusCount);
}

// ------------------------------------------------------------------ outputs

// The IDs of the date's range that have genomes: the pedigree may have grown
// since the genomes were made.
void tGeneticPedigree::SampledRange(Cardinal date, Cardinal& first, Cardinal& last) const {
  fPedigree->FirstAndLastID(date, first, last);
  last = std::min<Cardinal>(last, Cardinal(fUnpruned.size() - 1));
}

tMatrixOfDouble tGeneticPedigree::AlleleFrequencies(Cardinal date, tPedigreeAgeClass ageClass, Double p) {
  const size_t alleles = size_t(fAlleleCount), rows = size_t(fLocusCount) * alleles + 1;
  tMatrixOfDouble frequencies(rows, tVectorOfDouble(fPedigree->PatchCount(), 0.0));
  Cardinal first, last;
  SampledRange(date, first, last);
  for (Cardinal id = first; id <= last && id != 0; ++id) {
    if (!fUnpruned[id] || !fPedigree->BelongToAgeClass(id, date, ageClass) || !(utile::Ran() < p)) continue;
    const size_t column = fPedigree->Positions(id, date) - 1;
    frequencies[rows - 1][column] += 1;
    for (Integer locus = 0; locus < fLocusCount; ++locus) {
      frequencies[size_t(locus) * alleles + Allele(fGenomeMother[id], locus)][column] += 1;
      frequencies[size_t(locus) * alleles + Allele(fGenomeFather[id], locus)][column] += 1;
    }
  }
  for (size_t column = 0; column < fPedigree->PatchCount(); ++column)
    for (size_t locus = 0; locus < size_t(fLocusCount); ++locus) {
      Double sum = 0;
      for (size_t a = 0; a < alleles; ++a) sum += frequencies[locus * alleles + a][column];
      if (sum != 0)
        for (size_t a = 0; a < alleles; ++a) frequencies[locus * alleles + a][column] /= sum;
    }
  return frequencies;
}

std::string tGeneticPedigree::AlleleFrequenciesAsString(Cardinal date, tPedigreeAgeClass ageClass, Double p,
                                                        std::string_view format) {
  utile::tVectorOfString columns, rows;
  for (Cardinal patch = 1; patch <= fPedigree->PatchCount(); ++patch)
    columns.push_back(utile::Format("P%.2d", patch));
  for (Integer locus = 1; locus <= fLocusCount; ++locus)
    for (Integer allele = 1; allele <= fAlleleCount; ++allele)
      rows.push_back(utile::Format("L%.2d_A%.3d", locus, allele));
  rows.push_back("Size");
  return utile::MatToStr(AlleleFrequencies(date, ageClass, p), rows, columns, format);
}

tMatrixOfDouble tGeneticPedigree::Coancestries(Cardinal date, tPedigreeAgeClass ageClass, Double p,
                                               tVectorOfDouble& sizes) {
  const tMatrixOfDouble frequencies = AlleleFrequencies(date, ageClass, p);
  const size_t patches = fPedigree->PatchCount(), alleles = size_t(fAlleleCount);
  tMatrixOfDouble q(patches, tVectorOfDouble(patches, 0.0));
  for (size_t i = 0; i < patches; ++i)
    for (size_t j = 0; j <= i; ++j) {
      Double sum = 0;
      for (size_t k = 0; k < size_t(fLocusCount) * alleles; ++k) sum += frequencies[k][i] * frequencies[k][j];
      q[i][j] = fLocusCount > 0 ? sum / fLocusCount : 0;
      q[j][i] = q[i][j];
    }
  sizes = frequencies.back();
  return q;
}

tMatrixOfDouble tGeneticPedigree::Coancestries(Cardinal date, tPedigreeAgeClass ageClass, Double p) {
  tVectorOfDouble sizes;
  return Coancestries(date, ageClass, p, sizes);
}

tMatrixOfDouble tGeneticPedigree::FstMatrix(Cardinal date, tPedigreeAgeClass ageClass, Double p) {
  tVectorOfDouble n;
  const tMatrixOfDouble q = Coancestries(date, ageClass, p, n);
  tMatrixOfDouble fst(q.size(), tVectorOfDouble(q.size(), 0.0));
  for (size_t i = 0; i < q.size(); ++i)
    for (size_t j = 0; j <= i; ++j) {
      const Double wi = n[i] * n[i], wj = n[j] * n[j];
      if (wi * wj * (1 - q[i][j]) != 0)
        fst[i][j] = ((q[i][i] * wi + q[j][j] * wj) / (wi + wj) - q[i][j]) / (1 - q[i][j]);
      else
        fst[i][j] = -999;
      fst[j][i] = fst[i][j];
    }
  return fst;
}

std::string tGeneticPedigree::FstatOutput(Cardinal date, tPedigreeAgeClass ageClass, tPedigreeSex sex,
                                          Double p) {
  std::string text = utile::Format("%d %d %d %d\r\n", fPedigree->PatchCount(), fLocusCount, fAlleleCount, 3);
  for (Integer locus = 1; locus <= fLocusCount; ++locus) text += utile::Format("Locus%d\r\n", locus);
  Cardinal first, last;
  SampledRange(date, first, last);
  for (Cardinal id = first; id <= last && id != 0; ++id) {
    if (!fUnpruned[id] || !fPedigree->BelongToAgeClass(id, date, ageClass) ||
        !fPedigree->BelongToSexClass(id, sex) || !(utile::Ran() < p))
      continue;
    text += utile::Format("%d", fPedigree->Positions(id, date));
    for (Integer locus = 0; locus < fLocusCount; ++locus)
      text += utile::Format("\t%.3d%.3d", Allele(fGenomeMother[id], locus) + 1,
                            Allele(fGenomeFather[id], locus) + 1);
    text += "\r\n";
  }
  return text;
}

std::string tGeneticPedigree::GenepopOutput(Cardinal date, tPedigreeAgeClass ageClass, Double p) {
  if (fAlleleCount > 99)
    throw utile::EInvalidOperation("Number of alleles must be <100 to generate a GenePop output.");
  std::string text = utile::Format("%d %d %d\r\n", fPedigree->PatchCount(), fLocusCount, fAlleleCount);
  for (Integer locus = 1; locus <= fLocusCount; ++locus)
    text += utile::Format(locus == 1 ? "Locus%d" : ",Locus%d", locus);
  text += "\r\n";
  Cardinal first, last;
  SampledRange(date, first, last);
  for (Cardinal patch = 1; patch <= fPedigree->PatchCount(); ++patch) {
    std::string block;
    for (Cardinal id = first; id <= last && id != 0; ++id) {
      if (!fUnpruned[id] || !fPedigree->BelongToAgeClass(id, date, ageClass) ||
          fPedigree->Positions(id, date) != patch || !(utile::Ran() < p))
        continue;
      // The name (sex and patch) ends at the comma that opens the genotypes.
      block += utile::Format("%s_%d,", std::string(1, PedigreeSexLetters[fPedigree->GetSex(id)]), patch);
      for (Integer locus = 0; locus < fLocusCount; ++locus)
        block += utile::Format(" %.2d%.2d", Allele(fGenomeMother[id], locus) + 1,
                               Allele(fGenomeFather[id], locus) + 1);
      block += "\r\n";
    }
    // A patch without a sampled individual has no block: readers refuse empty populations.
    if (!block.empty()) text += "Pop\r\n" + block;
  }
  return text;
}

}  // namespace models
