#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "Utile/RandomFunctions.h"
#include "Utile/RunTime.h"
#include "models/PedigreeOps.h"

using namespace models;
using utile::Cardinal;

namespace {

struct tBirth {
  Cardinal Date, Mother, Father, Patch;
  tPedigreeSex Sex = psNA;
};

// Records the births in order (IDs 1, 2, ...) and then, for each individual, its
// census patches.
void Fill(tPedigree& pedigree, const std::vector<tBirth>& births,
          const std::vector<std::vector<Cardinal>>& censuses = {}) {
  for (size_t k = 0; k < births.size(); ++k) {
    const tBirth& b = births[k];
    pedigree.Add(b.Date, Cardinal(k + 1), b.Mother, b.Father, b.Patch, b.Sex);
  }
  for (size_t k = 0; k < censuses.size(); ++k)
    for (Cardinal patch : censuses[k]) pedigree.AddPosition(Cardinal(k + 1), patch);
}

}  // namespace

// ------------------------------------------------------------------ recording

TEST(PedigreeRecords, NewPedigreeIsEmptyWithItsDefaults) {
  tPedigree pedigree;
  EXPECT_EQ(pedigree.Count(), 0u);
  EXPECT_EQ(pedigree.GetCapacity(), 100u);
  EXPECT_EQ(pedigree.MaxAge(), 1u);
  EXPECT_EQ(pedigree.PatchCount(), 0u);
  EXPECT_EQ(pedigree.GenerationCount(), 0u);
  EXPECT_EQ(pedigree.MutationRate(), 0.0);
  EXPECT_EQ(pedigree.Gamma(), 1.0);
  Cardinal first, last;
  pedigree.FirstAndLastID(5, first, last);
  EXPECT_GT(first, last);
}

TEST(PedigreeRecords, CapacityGrowsByFifteenMillionWhenFull) {
  tPedigree pedigree;
  for (Cardinal id = 1; id <= 99; ++id) pedigree.Add(1, id, 0, 0, 1, psNA);
  EXPECT_EQ(pedigree.GetCapacity(), 100u);  // index 0 holds no individual
  pedigree.Add(1, 100, 0, 0, 1, psNA);
  EXPECT_EQ(pedigree.GetCapacity(), 15000100u);
  pedigree.Trim();
  EXPECT_EQ(pedigree.GetCapacity(), 101u);
  pedigree.SetCapacity(5);
  EXPECT_EQ(pedigree.GetCapacity(), 101u);
  pedigree.SetCapacity(500);
  EXPECT_EQ(pedigree.GetCapacity(), 500u);
  EXPECT_EQ(pedigree.GetIndividuals(100).ID, 100u);
  pedigree.Add(2, 101, 3, 4, 2, psMale);  // still usable after trimming
  EXPECT_EQ(pedigree.GetIndividuals(101).Father, 4u);
}

TEST(PedigreeRecords, RecordsAndPositionsReadBack) {
  tPedigree pedigree;
  Fill(pedigree, {{1, 0, 0, 2, psFemale}, {1, 0, 0, 3, psMale}, {2, 1, 2, 2, psFemale}}, {{2, 5}, {3}, {}});
  const tPedigreeInfo third = pedigree.GetIndividuals(3);
  EXPECT_EQ(third.Date, 2u);
  EXPECT_EQ(third.ID, 3u);
  EXPECT_EQ(third.Mother, 1u);
  EXPECT_EQ(third.Father, 2u);
  EXPECT_EQ(third.Patch, 2u);
  EXPECT_EQ(pedigree.GetSex(2), psMale);
  EXPECT_EQ(pedigree.GetPositions(1), (tVectorOfCardinal{1, 2, 2, 5}));
  EXPECT_EQ(pedigree.GetPositions(3), (tVectorOfCardinal{2, 2}));
  EXPECT_EQ(pedigree.PatchCount(), 5u);  // patch 5 was only seen at a census

  struct {
    Cardinal id, birth, death;
  } dates[] = {{1, 1, 3}, {2, 1, 2}, {3, 2, 2}};
  for (const auto& d : dates) {
    EXPECT_EQ(pedigree.GetBirthDate(d.id), d.birth) << d.id;
    EXPECT_EQ(pedigree.GetDeathDate(d.id), d.death) << d.id;
  }
  EXPECT_EQ(pedigree.Positions(1, 1), 2u);
  EXPECT_EQ(pedigree.Positions(1, 2), 2u);
  EXPECT_EQ(pedigree.Positions(1, 3), 5u);
  EXPECT_EQ(pedigree.Positions(2, 2), 3u);
  EXPECT_THROW(pedigree.Positions(1, 4), utile::EAssertionFailed);
  EXPECT_THROW(pedigree.Positions(3, 1), utile::EAssertionFailed);
}

TEST(PedigreeRecords, LivingAgeAndSexClasses) {
  tPedigree pedigree;
  // 1: born 1, censused twice (dies at 3); 2: born 2, never censused (death = birth).
  Fill(pedigree, {{1, 0, 0, 1, psFemale}, {2, 1, 1, 1, psMale}}, {{1, 1}});
  pedigree.SetAgeReproduction(1);
  struct {
    Cardinal id, date;
    bool living, juvenile, adult, all;
  } table[] = {
      {1, 0, false, false, false, false},
      {1, 1, true, true, false, true},
      {1, 2, true, false, true, true},
      {1, 3, true, false, true, true},
      {1, 4, false, false, false, false},
      // dies at its birth date: not living, but it belongs to its class on that date
      {2, 2, false, true, false, true},
      {2, 3, false, false, false, false},
  };
  for (const auto& t : table) {
    EXPECT_EQ(pedigree.IsLiving(t.id, t.date), t.living) << t.id << " at " << t.date;
    EXPECT_EQ(pedigree.BelongToAgeClass(t.id, t.date, pacJuveniles), t.juvenile) << t.id << " at " << t.date;
    EXPECT_EQ(pedigree.BelongToAgeClass(t.id, t.date, pacAdults), t.adult) << t.id << " at " << t.date;
    EXPECT_EQ(pedigree.BelongToAgeClass(t.id, t.date, pacAll), t.all) << t.id << " at " << t.date;
  }
  EXPECT_TRUE(pedigree.BelongToSexClass(1, psFemale));
  EXPECT_FALSE(pedigree.BelongToSexClass(1, psMale));
  EXPECT_TRUE(pedigree.BelongToSexClass(2, psMale));
  for (Cardinal id : {1u, 2u}) {
    EXPECT_TRUE(pedigree.BelongToSexClass(id, psBoth));
    EXPECT_TRUE(pedigree.BelongToSexClass(id, psNA));
  }
  // A species without reproduction: everyone is adult from birth.
  pedigree.SetAgeReproduction(-1);
  EXPECT_TRUE(pedigree.BelongToAgeClass(2, 2, pacAdults));
  EXPECT_FALSE(pedigree.BelongToAgeClass(2, 2, pacJuveniles));
}

TEST(PedigreeRecords, FirstAndLastIDKeepTheCohortAfterADateWithoutBirths) {
  tPedigree pedigree;
  // IDs 1-3 born at 1, 4-5 at 2, nobody at 3 and 4, 6-7 at 5, 8 at 6.
  Fill(pedigree, {{1, 0, 0, 1},
                  {1, 0, 0, 1},
                  {1, 0, 0, 1},
                  {2, 1, 2, 1},
                  {2, 1, 2, 1},
                  {5, 4, 5, 1},
                  {5, 4, 5, 1},
                  {6, 6, 7, 1}});
  EXPECT_EQ(pedigree.GenerationCount(), 6u);
  struct {
    Cardinal maxAge, date, first, last;
  } table[] = {
      {1, 0, 1, 0},                              // nobody born yet
      {1, 1, 1, 3}, {1, 2, 1, 5}, {1, 3, 4, 5},  // the date before the gap keeps the cohort of date 2
      {1, 4, 6, 5},                              // only a gap: empty
      {1, 5, 6, 8},                              // date + 1 reaches the last birth date: up to Count
      {2, 5, 6, 8},                              // earliest date 3 is a gap: the next cohort starts the range
      {3, 5, 4, 8}, {1, 6, 6, 8}, {1, 9, 9, 8}, {0, 9, 9, 8},
  };
  for (const auto& t : table) {
    pedigree.SetMaxAge(t.maxAge);
    Cardinal first = 0, last = 0;
    pedigree.FirstAndLastID(t.date, first, last);
    EXPECT_EQ(first, t.first) << "max age " << t.maxAge << ", date " << t.date;
    EXPECT_EQ(last, t.last) << "max age " << t.maxAge << ", date " << t.date;
  }
}

TEST(PedigreeRecords, ClearForgetsEverything) {
  tPedigree pedigree;
  Fill(pedigree, {{3, 0, 0, 4}, {4, 0, 0, 2}}, {{7}});
  pedigree.Clear();
  EXPECT_EQ(pedigree.Count(), 0u);
  EXPECT_EQ(pedigree.PatchCount(), 0u);
  EXPECT_EQ(pedigree.GenerationCount(), 0u);
  Fill(pedigree, {{1, 0, 0, 1}});
  EXPECT_EQ(pedigree.GetPositions(1), (tVectorOfCardinal{1, 1}));
  EXPECT_EQ(pedigree.PatchCount(), 1u);
}

TEST(PedigreeRecords, RefusesRecordsThatWouldCorruptTheIndex) {
  tPedigree pedigree;
  Fill(pedigree, {{2, 0, 0, 1}});
  EXPECT_THROW(pedigree.Add(2, 3, 0, 0, 1, psNA), utile::EAssertionFailed);  // ID 2 skipped
  EXPECT_THROW(pedigree.Add(1, 2, 0, 0, 1, psNA), utile::EAssertionFailed);  // date goes back
  EXPECT_THROW(pedigree.Add(2, 2, 2, 1, 1, psNA), utile::EAssertionFailed);  // own parent
  EXPECT_THROW(pedigree.AddPosition(2, 1), utile::EAssertionFailed);
  EXPECT_THROW(pedigree.GetIndividuals(0), utile::EAssertionFailed);
  EXPECT_EQ(pedigree.Count(), 1u);
}

TEST(PedigreeRecords, InterleavedCensusesOfManyIndividualsReadBack) {
  // Lists of very different lengths grow side by side, as in a run, and one grows
  // past the largest block of the census store.
  tPedigree pedigree;
  const Cardinal n = 3000;
  for (Cardinal id = 1; id <= n; ++id) pedigree.Add(1, id, 0, 0, 1, psNA);
  std::vector<std::vector<Cardinal>> expected(n + 1);
  utile::SetSeeds(5, 7);
  for (int step = 0; step < 60000; ++step) {
    const Cardinal id = 1 + Cardinal(utile::Ran(Cardinal(n)) % (1 + Cardinal(step) % n));
    const Cardinal patch = 1 + utile::Ran(Cardinal(40));
    pedigree.AddPosition(id, patch);
    expected[id].push_back(patch);
  }
  const Cardinal longLived = 7;
  for (Cardinal k = 0; k < (1u << 20) + 5; ++k) {
    pedigree.AddPosition(longLived, 1 + k % 3);
    expected[longLived].push_back(1 + k % 3);
  }
  for (Cardinal id = 1; id <= n; ++id) {
    const tVectorOfCardinal positions = pedigree.GetPositions(id);
    ASSERT_EQ(positions.size(), expected[id].size() + 2) << id;
    for (size_t k = 0; k < expected[id].size(); ++k) ASSERT_EQ(positions[k + 2], expected[id][k]) << id;
    EXPECT_EQ(pedigree.GetDeathDate(id), 1 + expected[id].size());
  }
  EXPECT_EQ(pedigree.PatchCount(), 40u);
}

// ------------------------------------------------------------------ counts and moves

TEST(PedigreeCounts, PopulationSizesByPatchAndClass) {
  tPedigree pedigree;
  pedigree.SetAgeReproduction(1);
  pedigree.SetMaxAge(3);
  // Three founders at date 1 and two offspring at date 2.
  Fill(pedigree, {{1, 0, 0, 1}, {1, 0, 0, 2}, {1, 0, 0, 2}, {2, 1, 2, 1}, {2, 1, 2, 3}},
       {{1, 1}, {3}, {}, {2}, {}});
  struct {
    Cardinal date;
    tPedigreeAgeClass ageClass;
    tVectorOfCardinal sizes;
  } table[] = {
      {1, pacAll, {3, 1, 2, 0}},    {1, pacJuveniles, {3, 1, 2, 0}}, {1, pacAdults, {0, 0, 0, 0}},
      {2, pacAdults, {2, 1, 0, 1}}, {2, pacJuveniles, {2, 1, 0, 1}}, {3, pacAll, {2, 1, 1, 0}},
      {4, pacAll, {0, 0, 0, 0}},
  };
  for (const auto& t : table)
    EXPECT_EQ(pedigree.PopulationSizes(t.date, t.ageClass), t.sizes)
        << "date " << t.date << " class " << t.ageClass;
}

TEST(PedigreeCounts, PatchSeenOnlyAtACensusIsCounted) {
  tPedigree pedigree;
  Fill(pedigree, {{1, 0, 0, 1}, {1, 0, 0, 2}}, {{4}, {2}});
  const tVectorOfCardinal sizes = pedigree.PopulationSizes(2, pacAll);
  EXPECT_EQ(sizes, (tVectorOfCardinal{2, 0, 1, 0, 1}));
}

TEST(PedigreeCounts, DispersalEventMatrices) {
  tPedigree pedigree;
  pedigree.SetMaxAge(3);
  // 1: born in 1 at date 1, then 1, 2, 2 (dies at 4). 2: born in 2 at date 1, then 1.
  // 3: born in 3 at date 3, then 3, 1 (dies at 5). 4: born at 3, never censused.
  Fill(pedigree, {{1, 0, 0, 1}, {1, 0, 0, 2}, {3, 1, 2, 3}, {3, 1, 2, 2}}, {{1, 2, 2}, {1}, {3, 1}, {}});
  // rows = later patch, columns = earlier patch
  const tMatrixOfDouble whole = pedigree.DispersalEventMatrix();
  EXPECT_EQ(whole, (tMatrixOfDouble{{1, 1, 1}, {1, 1, 0}, {0, 0, 1}}));

  struct {
    Cardinal t1, t2;
    tMatrixOfDouble events;
  } table[] = {
      {2, 2, {{0, 0, 0}, {0, 0, 0}, {0, 0, 0}}},
      {3, 2, {{0, 0, 0}, {0, 0, 0}, {0, 0, 0}}},
      {1, 2, {{1, 1, 0}, {0, 0, 0}, {0, 0, 0}}},  // 1 stays in 1, 2 moves 2 -> 1
      {2, 3, {{0, 0, 0}, {1, 0, 0}, {0, 0, 0}}},  // 1 moves 1 -> 2
      {3, 4, {{0, 0, 0}, {0, 1, 0}, {0, 0, 1}}},  // 1 stays in 2, 3 stays in 3
      // a window longer than the lifetimes counts every move within it
      {1, 5, {{1, 1, 1}, {1, 1, 0}, {0, 0, 1}}},
  };
  for (const auto& t : table)
    EXPECT_EQ(pedigree.DispersalEventMatrix(t.t1, t.t2), t.events) << t.t1 << " to " << t.t2;
}

// ------------------------------------------------------------------ relationships

TEST(PedigreeKinship, SmallPedigreesAgainstHandWorkedValues) {
  // 1, 2, 5 founders; 3, 4 full sibs of 1 x 2; 6 half sib of 3 (1 x 5); 7 = 3 x 4
  // (offspring of full sibs); 8 selfed from 1; 9 = 7 x 3 (parent x offspring).
  tPedigree pedigree;
  Fill(pedigree, {{1, 0, 0, 1},
                  {1, 0, 0, 1},
                  {2, 1, 2, 1},
                  {2, 1, 2, 1},
                  {2, 0, 0, 1},
                  {3, 1, 5, 1},
                  {3, 3, 4, 1},
                  {3, 1, 1, 1},
                  {4, 7, 3, 1}});
  pedigree.PrepareForAnalysis();
  struct {
    Cardinal i, j;
    double coancestry;
  } table[] = {
      {1, 1, 0},     {1, 2, 0},      {2, 5, 0},      // founders
      {1, 3, 0.25},  {3, 4, 0.25},                   // parent and offspring, full sibs
      {3, 6, 0.125},                                 // half sibs
      {7, 7, 0.25},  {8, 8, 0.5},                    // inbred by sib mating, by selfing
      {3, 7, 0.375}, {1, 7, 0.25},   {7, 3, 0.375},  // argument order does not matter
      {9, 9, 0.375}, {3, 9, 0.4375},
  };
  for (const auto& t : table)
    EXPECT_DOUBLE_EQ(pedigree.Coancestry(t.i, t.j), t.coancestry) << t.i << "," << t.j;
  EXPECT_DOUBLE_EQ(pedigree.F_ind(8), 0.5);
  EXPECT_FLOAT_EQ(pedigree.GetRelationship(7, 7), 1.25f);
}

TEST(PedigreeKinship, MutationScalesEveryGeneration) {
  for (double mu : {0.0, 0.01, 0.2}) {
    tPedigree pedigree;
    Fill(pedigree, {{1, 0, 0, 1}, {1, 0, 0, 1}, {2, 1, 2, 1}, {2, 1, 2, 1}, {3, 1, 1, 1}});
    pedigree.SetMutationRate(mu);
    const double gamma = (1 - mu) * (1 - mu);
    EXPECT_DOUBLE_EQ(pedigree.Gamma(), gamma);
    EXPECT_NEAR(pedigree.Coancestry(3, 4), 0.25 * gamma * gamma, 1e-7) << mu;
    EXPECT_NEAR(pedigree.F_ind(5), 0.5 * gamma, 1e-7) << mu;
    EXPECT_NEAR(pedigree.Coancestry(1, 3), 0.25 * gamma, 1e-7) << mu;
  }
}

TEST(PedigreeKinship, ChangingTheMutationRateForgetsCachedValues) {
  tPedigree pedigree;
  Fill(pedigree, {{1, 0, 0, 1}, {1, 0, 0, 1}, {2, 1, 2, 1}, {2, 1, 2, 1}});
  EXPECT_DOUBLE_EQ(pedigree.Coancestry(3, 4), 0.25);
  pedigree.SetMutationRate(0.5);
  EXPECT_EQ(pedigree.ShowRelationship(3, 4), tPedigree::NotComputed);
  EXPECT_NEAR(pedigree.Coancestry(3, 4), 0.25 / 16, 1e-9);
}

TEST(PedigreeKinship, TestPedigreeOfFullSibMatings) {
  tPedigree pedigree;
  Fill(pedigree, {{0, 0, 0, 1},
                  {0, 0, 0, 1},
                  {1, 1, 2, 1},
                  {1, 1, 2, 1},
                  {2, 3, 4, 1},
                  {2, 3, 4, 1},
                  {3, 5, 6, 1},
                  {3, 5, 6, 1},
                  {4, 7, 8, 1},
                  {4, 7, 8, 1},
                  {5, 9, 10, 1},
                  {5, 9, 10, 1},
                  {6, 11, 12, 1}});
  pedigree.Trim();
  EXPECT_EQ(pedigree.ShowRelationship(1, 2), tPedigree::NotComputed);
  pedigree.ComputeWholeRelationshipMatrix();
  const tMatrixOfSingle r = pedigree.RelationshipMatrix();
  ASSERT_EQ(r.size(), 13u);
  for (int i = 0; i < 4; ++i) EXPECT_FLOAT_EQ(r[i][i], 1.0f);
  EXPECT_FLOAT_EQ(r[0][2], 0.5f);
  EXPECT_FLOAT_EQ(r[2][0], 0.5f);
  EXPECT_FLOAT_EQ(r[2][3], 0.5f);
  EXPECT_FLOAT_EQ(r[4][4], 1.25f);
  // Full-sib mating: F_t = (1 + 2 F_{t-1} + F_{t-2}) / 4, generation by generation.
  double previous = 0, current = 0;
  for (int generation = 2; generation <= 6; ++generation) {
    const double next = (1 + 2 * current + previous) / 4;
    previous = current;
    current = next;
    const int id = 2 * generation + 1;  // 5, 7, 9, 11, 13
    EXPECT_NEAR(r[id - 1][id - 1], 1 + current, 1e-6) << id;
  }
}
