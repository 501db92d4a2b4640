#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <iostream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "TestSupport/GenotypeFiles.h"
#include "TestSupport/StatisticalChecks.h"
#include "Utile/RandomFunctions.h"
#include "Utile/RunTime.h"
#include "models/PedigreeOps.h"
#include "tests/models/PedigreeReference.h"

using namespace models;
using utile::Cardinal;
using pedigreetest::MeansByDefinition;
using pedigreetest::TabularRelationships;
using pedigreetest::tMeans;

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
  EXPECT_THROW(pedigree.Add(2, 2, 0, 0, 0, psNA), utile::EAssertionFailed);  // patch 0
  EXPECT_THROW(pedigree.AddPosition(1, 0), utile::EAssertionFailed);
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

TEST(PedigreeKinship, CousinsAndHalfSibsWithAndWithoutMutation) {
  // 1, 2 founders with full sibs 3, 4; 5 and 7 founders; first cousins 6 = 3 x 5
  // and 8 = 4 x 7; 9 = 6 x 8, offspring of first cousins; 10 = 1 x 5, a half sib
  // of 3 and 4. By the tabular method, every generation between two individuals
  // multiplies by Gamma: R(3, 4) = Gamma^2 / 2, R(4, 6) = Gamma^3 / 4,
  // R(6, 8) = Gamma^4 / 8, so F(9) = Gamma R(6, 8) / 2 = Gamma^5 / 16; half sibs
  // share one parent: R(3, 10) = Gamma^2 / 4.
  for (const double mu : {0.0, 0.01, 0.1}) {
    tPedigree pedigree;
    Fill(pedigree, {{1, 0, 0, 1},
                    {1, 0, 0, 1},
                    {2, 1, 2, 1},
                    {2, 1, 2, 1},
                    {2, 0, 0, 1},
                    {3, 3, 5, 1},
                    {3, 0, 0, 1},
                    {3, 4, 7, 1},
                    {4, 6, 8, 1},
                    {4, 1, 5, 1}});
    pedigree.SetMutationRate(mu);
    const double g = (1 - mu) * (1 - mu);
    struct {
      Cardinal i, j;
      double coancestry;
    } table[] = {
        {6, 8, std::pow(g, 4) / 16},  // first cousins
        {9, 9, std::pow(g, 5) / 16},  // offspring of first cousins
        {3, 10, g * g / 8},           // half sibs
        {4, 10, g * g / 8},
        {5, 9, g * g / 8},  // a grandparent through one line only
        {10, 10, 0},
    };
    for (const auto& t : table)
      EXPECT_NEAR(pedigree.Coancestry(t.i, t.j), t.coancestry, 1e-7) << t.i << "," << t.j << " mu " << mu;
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

// ------------------------------------------------------------------ analyses

namespace {

// A run of an individual-based model, simplified: patches of breeders with
// overlapping generations, newborns of which many die at once, dispersal at the
// censuses, censused and uncensused deaths, immigrant founders, selfing when
// there are no sexes. Returns the largest lifetime, for MaxAge.
Cardinal SimulateRun(tPedigree& pedigree, int dates, int patches, int breeders, unsigned seed, bool sexes) {
  std::mt19937 random(seed);
  auto chance = [&](double p) { return std::uniform_real_distribution<double>(0, 1)(random) < p; };
  auto pick = [&](size_t n) { return size_t(std::uniform_int_distribution<size_t>(0, n - 1)(random)); };
  struct tAlive {
    Cardinal ID, Patch, Age;
    tPedigreeSex Sex;
  };
  std::vector<tAlive> alive;
  Cardinal id = 0, longest = 0;
  std::vector<Cardinal> birth(1, 0);
  auto born = [&](Cardinal date, Cardinal mother, Cardinal father, Cardinal patch) {
    const tPedigreeSex sex = sexes ? (chance(0.5) ? psFemale : psMale) : psNA;
    pedigree.Add(date, ++id, mother, father, patch, sex);
    birth.push_back(date);
    alive.push_back({id, patch, 0, sex});
  };
  for (int p = 1; p <= patches; ++p)
    for (int k = 0; k < 2 * breeders; ++k) born(1, 0, 0, Cardinal(p));
  for (Cardinal date = 1; date <= Cardinal(dates); ++date) {
    if (date > 1) {
      for (int p = 1; p <= patches; ++p) {
        std::vector<tAlive> mothers, fathers;
        for (const tAlive& a : alive)
          if (a.Patch == Cardinal(p) && a.Age >= 1) {
            if (a.Sex != psMale) mothers.push_back(a);
            if (a.Sex != psFemale) fathers.push_back(a);
          }
        if (mothers.empty() || fathers.empty()) continue;
        const int offspring = 2 * breeders + int(pick(size_t(breeders)));
        for (int k = 0; k < offspring; ++k) {
          const Cardinal mother = mothers[pick(mothers.size())].ID;
          const Cardinal father = chance(0.1) && !sexes ? mother : fathers[pick(fathers.size())].ID;
          born(date, mother, father, Cardinal(p));
        }
      }
      if (chance(0.3)) born(date, 0, 0, Cardinal(1 + pick(size_t(patches))));
    }
    // Census at the end of the step: survivors (and some of the dead) are recorded.
    std::vector<tAlive> survivors;
    for (tAlive a : alive) {
      const bool survives = chance(a.Age == 0 && date > 1 ? 0.35 : 0.7);
      if (survives) {
        if (chance(0.15)) a.Patch = Cardinal(1 + pick(size_t(patches)));
        ++a.Age;
        pedigree.AddPosition(a.ID, a.Patch);
        survivors.push_back(a);
      } else if (chance(0.3)) {
        pedigree.AddPosition(a.ID, a.Patch);
      }
    }
    alive = survivors;
  }
  for (Cardinal k = 1; k <= id; ++k) longest = std::max(longest, pedigree.GetDeathDate(k) - birth[k]);
  return longest;
}

void ExpectNear(const tVectorOfDouble& actual, const tVectorOfDouble& expected, double tolerance,
                const std::string& what) {
  ASSERT_EQ(actual.size(), expected.size()) << what;
  for (size_t k = 0; k < actual.size(); ++k)
    EXPECT_NEAR(actual[k], expected[k], tolerance) << what << " [" << k << "]";
}

}  // namespace

TEST(PedigreeKinship, WholeRelationshipMatrixMatchesTheTabularMethod) {
  for (const double mu : {0.0, 0.05}) {
    tPedigree pedigree;
    SimulateRun(pedigree, 9, 3, 4, 11, false);
    ASSERT_GT(pedigree.Count(), 200u);
    ASSERT_LT(pedigree.Count(), 500u);
    pedigree.SetMutationRate(mu);
    const auto a = TabularRelationships(pedigree, pedigree.Gamma());
    pedigree.ComputeWholeRelationshipMatrix();
    const tMatrixOfSingle r = pedigree.RelationshipMatrix();
    const Cardinal n = pedigree.Count();
    ASSERT_EQ(r.size(), n);
    double worst = 0;
    for (Cardinal i = 1; i <= n; ++i)
      for (Cardinal j = 1; j <= n; ++j) worst = std::max(worst, std::abs(r[i - 1][j - 1] - a[i][j]));
    EXPECT_LT(worst, 1e-6) << "mutation " << mu;
  }
}

TEST(PedigreeKinship, AnalysesMatchTheTabularMethod) {
  for (const bool sexes : {false, true})
    for (const double mu : {0.0, 0.02}) {
      tPedigree pedigree;
      pedigree.SetMaxAge(SimulateRun(pedigree, 10, 3, 4, sexes ? 21 : 22, sexes));
      pedigree.SetAgeReproduction(1);
      pedigree.SetMutationRate(mu);
      const auto a = TabularRelationships(pedigree, pedigree.Gamma());
      auto coancestry = [&](Cardinal i, Cardinal j) { return i == j ? a[i][i] - 1 : a[i][j] / 2; };
      for (const tPedigreeAgeClass ageClass : {pacJuveniles, pacAdults, pacAll})
        for (Cardinal date = 1; date <= pedigree.GenerationCount() + 1; ++date) {
          const std::string what = "sexes " + std::to_string(sexes) + " mu " + std::to_string(mu) +
                                   " class " + std::to_string(ageClass) + " date " + std::to_string(date);
          const tMeans expected = MeansByDefinition(pedigree, date, ageClass, coancestry);
          tVectorOfCardinal counts;
          ExpectNear(pedigree.F_pop(date, ageClass, counts), expected.F, 1e-6, "F " + what);
          EXPECT_EQ(counts, expected.Counts) << what;
          EXPECT_EQ(counts, pedigree.PopulationSizes(date, ageClass)) << what;
          ExpectNear(pedigree.Theta(date, ageClass), expected.Theta, 1e-6, "Theta " + what);
          const tMatrixOfDouble alpha = pedigree.Alpha(date, ageClass);
          ASSERT_EQ(alpha.size(), expected.Alpha.size());
          for (size_t k = 0; k < alpha.size(); ++k)
            ExpectNear(alpha[k], expected.Alpha[k], 1e-6, "Alpha " + what);
        }
    }
}

TEST(PedigreeKinship, AnalysesOfALongRunEqualTheCachedRecursionExactly) {
  // Long enough for individuals to leave the window by the thousand; dates asked
  // forwards (one window) and then backwards (a new window each time).
  tPedigree pedigree;
  pedigree.SetMaxAge(SimulateRun(pedigree, 60, 4, 6, 3, true));
  pedigree.SetAgeReproduction(1);
  pedigree.SetMutationRate(0.001);
  ASSERT_GT(pedigree.Count(), 3000u);
  auto coancestry = [&](Cardinal i, Cardinal j) { return pedigree.Coancestry(i, j); };
  std::vector<Cardinal> dates;
  for (Cardinal d = 2; d <= 61; d += 7) dates.push_back(d);
  for (Cardinal d = 58; d >= 30; d -= 14) dates.push_back(d);
  for (const Cardinal date : dates)
    for (const tPedigreeAgeClass ageClass : {pacAdults, pacAll}) {
      const tMeans expected = MeansByDefinition(pedigree, date, ageClass, coancestry);
      tVectorOfCardinal counts;
      EXPECT_EQ(pedigree.F_pop(date, ageClass, counts), expected.F) << date;
      EXPECT_EQ(pedigree.Theta(date, ageClass), expected.Theta) << date;
      EXPECT_EQ(pedigree.Alpha(date, ageClass), expected.Alpha) << date;
    }
}

TEST(PedigreeKinship, EmptyPatchesAndSingletonsHaveNoMean) {
  tPedigree pedigree;
  pedigree.SetMaxAge(3);
  // patch 1: two full sibs; patch 2: one founder; patch 3: seen only at a census.
  Fill(pedigree, {{1, 0, 0, 1}, {1, 0, 0, 2}, {2, 1, 2, 1}, {2, 1, 2, 1}}, {{3}, {2, 2}, {1}, {1}});
  tVectorOfCardinal counts;
  EXPECT_EQ(pedigree.F_pop(2, pacAll, counts), (tVectorOfDouble{0, 0, 0, 0}));
  EXPECT_EQ(counts, (tVectorOfCardinal{4, 2, 1, 1}));
  EXPECT_EQ(pedigree.F_pop(4, pacAll, counts), (tVectorOfDouble{-1, -1, -1, -1}));
  // Pairs in patch 1: the sibs (0.25); patch 2 and 3 hold one each.
  EXPECT_EQ(pedigree.Theta(2, pacAll), (tVectorOfDouble{0.25, 0.25, -1, -1}));
  const tMatrixOfDouble alpha = pedigree.Alpha(2, pacAll);
  // Between patches: each parent with each sib (0.25), the parents together (0).
  EXPECT_DOUBLE_EQ(alpha[0][0], 1.0 / 5);
  EXPECT_DOUBLE_EQ(alpha[1][1], (0 + 0 + 0.25) / 3);  // two self-pairs (F = 0) and the sibs
  EXPECT_DOUBLE_EQ(alpha[1][2], 0.25);
  EXPECT_DOUBLE_EQ(alpha[2][1], 0.25);
  EXPECT_DOUBLE_EQ(alpha[1][3], 0.25);  // the mother, now in patch 3, with each sib
  EXPECT_DOUBLE_EQ(alpha[2][3], 0.0);
  EXPECT_DOUBLE_EQ(alpha[0][1], 0.0);
  EXPECT_DOUBLE_EQ(alpha[3][3], 0.0);
}

// ------------------------------------------------------------------ genomes

namespace {

std::vector<Cardinal> Alleles(Int64 genome, int loci) {
  std::vector<Cardinal> alleles;
  for (int k = 0; k < loci; ++k) alleles.push_back(tGeneticPedigree::Allele(genome, k));
  return alleles;
}

tGeneticPedigree MakeGenetics(tPedigree& pedigree, int loci, int alleles, double kam = 0, double ssm = 0) {
  tGeneticPedigree genetics(pedigree);
  genetics.SetLocusCount(loci);
  genetics.SetAlleleCount(alleles);
  genetics.SetMutationKAM(kam);
  genetics.SetMutationSSM(ssm);
  return genetics;
}

std::string Message(const std::function<void()>& action) {
  try {
    action();
  } catch (const utile::Exception& e) {
    return e.Message();
  }
  return "";
}

}  // namespace

TEST(GeneticPedigree, LocusAndAlleleCountsWithinTheirLimits) {
  tPedigree pedigree;
  tGeneticPedigree genetics(pedigree);
  struct {
    int n;
    bool loci;
    std::string message;
  } table[] = {
      {1, true, ""},
      {8, true, ""},
      {9, true, "Maximum number of loci reached"},
      {0, true, "There must be at least one locus"},
      {-2, true, "There must be at least one locus"},
      {1, false, ""},
      {255, false, ""},
      {256, false, "Maximum number of alleles reached"},
      {0, false, "There must be at least one allele per locus"},
      {-1, false, "There must be at least one allele per locus"},
  };
  for (const auto& t : table) {
    const std::string message =
        Message([&] { t.loci ? genetics.SetLocusCount(t.n) : genetics.SetAlleleCount(t.n); });
    EXPECT_EQ(message, t.message) << t.n;
    if (t.message.empty()) {
      EXPECT_EQ(t.loci ? genetics.LocusCount() : genetics.AlleleCount(), t.n);
    }
  }
  EXPECT_THROW(genetics.SetLocusCount(9), utile::EInvalidOperation);
  EXPECT_THROW(genetics.SetAlleleCount(0), utile::EInvalidOperation);
  EXPECT_EQ(tGeneticPedigree::PowerOf256()[7], Int64(1) << 56);
}

TEST(GeneticPedigree, GenomeTextsListTheAllelesFromZero) {
  tPedigree pedigree;
  Fill(pedigree, {{1, 0, 0, 1}});
  utile::SetSeeds(3, 4);
  tGeneticPedigree genetics = MakeGenetics(pedigree, 3, 200);
  genetics.MakeNuclearGenome();
  for (const Int64 genome : {genetics.GenomeMother(1), genetics.GenomeFather(1)}) {
    const auto a = Alleles(genome, 3);
    for (Cardinal allele : a) EXPECT_LT(allele, 200u);
    const std::string expected = utile::Format("|%.3d|%.3d|%.3d|", a[0], a[1], a[2]);
    EXPECT_EQ(genome == genetics.GenomeMother(1) ? genetics.GetGenomeMother(1) : genetics.GetGenomeFather(1),
              expected);
  }
  EXPECT_EQ(genetics.GetGenomeMother(1).size(), 13u);
}

TEST(GeneticPedigree, InheritanceWithoutMutation) {
  tPedigree pedigree;
  SimulateRun(pedigree, 12, 3, 5, 8, true);
  utile::SetSeeds(1, 2);
  const int loci = 8;
  tGeneticPedigree genetics = MakeGenetics(pedigree, loci, 60);
  auto fromParent = [&](Int64 copy, Cardinal parent, int k) {
    const Cardinal a = tGeneticPedigree::Allele(copy, k);
    return a == tGeneticPedigree::Allele(genetics.GenomeMother(parent), k) ||
           a == tGeneticPedigree::Allele(genetics.GenomeFather(parent), k);
  };
  genetics.MakeNuclearGenome();
  for (Cardinal id = 1; id <= pedigree.Count(); ++id) {
    const tPedigreeInfo r = pedigree.GetIndividuals(id);
    if (r.Mother == 0) continue;
    for (int k = 0; k < loci; ++k) {
      EXPECT_TRUE(fromParent(genetics.GenomeMother(id), r.Mother, k)) << id;
      EXPECT_TRUE(fromParent(genetics.GenomeFather(id), r.Father, k)) << id;
    }
  }
  genetics.MakeMitochondrialGenome();
  for (Cardinal id = 1; id <= pedigree.Count(); ++id) {
    const tPedigreeInfo r = pedigree.GetIndividuals(id);
    EXPECT_EQ(genetics.GenomeFather(id), genetics.GenomeMother(id)) << id;
    if (r.Mother != 0) {
      EXPECT_EQ(genetics.GenomeMother(id), genetics.GenomeMother(r.Mother)) << id;
    }
  }
  genetics.MakeXChromosomeGenome();
  for (Cardinal id = 1; id <= pedigree.Count(); ++id) {
    const tPedigreeInfo r = pedigree.GetIndividuals(id);
    if (r.Sex == psMale) {
      EXPECT_EQ(genetics.GenomeFather(id), genetics.GenomeMother(id)) << id;
    }
    if (r.Mother == 0) continue;
    for (int k = 0; k < loci; ++k) EXPECT_TRUE(fromParent(genetics.GenomeMother(id), r.Mother, k)) << id;
    if (r.Sex == psFemale) {
      EXPECT_EQ(genetics.GenomeFather(id), genetics.GenomeMother(r.Father)) << id;
    }
  }
  genetics.MakeYChromosomeGenome();
  for (Cardinal id = 1; id <= pedigree.Count(); ++id) {
    const tPedigreeInfo r = pedigree.GetIndividuals(id);
    if (r.Sex == psFemale) {
      EXPECT_EQ(genetics.GenomeMother(id), 0) << id;
      EXPECT_EQ(genetics.GenomeFather(id), 0) << id;
      EXPECT_EQ(genetics.GetGenomeMother(id), "|000|000|000|000|000|000|000|000|");
    } else {
      EXPECT_EQ(genetics.GenomeFather(id), genetics.GenomeMother(id)) << id;
      if (r.Father != 0) {
        EXPECT_EQ(genetics.GenomeMother(id), genetics.GenomeFather(r.Father)) << id;
      }
    }
  }
}

TEST(GeneticPedigree, FounderAllelesAreUniformAndOffspringInHardyWeinbergProportions) {
  // 4000 founders, then one offspring of each disjoint pair of them.
  tPedigree pedigree;
  const Cardinal founders = 4000, alleles = 4;
  for (Cardinal id = 1; id <= founders; ++id) pedigree.Add(1, id, 0, 0, 1, psNA);
  for (Cardinal k = 0; k < founders / 2; ++k)
    pedigree.Add(2, founders + 1 + k, 2 * k + 1, 2 * k + 2, 1, psNA);
  utile::SetSeeds(17, 71);
  tGeneticPedigree genetics = MakeGenetics(pedigree, 2, alleles);
  genetics.MakeNuclearGenome();
  std::vector<double> founderCounts(alleles, 0);
  std::vector<double> genotypeCounts(alleles * (alleles + 1) / 2, 0);
  auto genotypeClass = [&](Cardinal a, Cardinal b) {
    if (a > b) std::swap(a, b);
    return a * alleles - a * (a - 1) / 2 + (b - a);  // unordered pairs, a <= b
  };
  for (Cardinal id = 1; id <= pedigree.Count(); ++id)
    for (int k = 0; k < 2; ++k) {
      const Cardinal m = tGeneticPedigree::Allele(genetics.GenomeMother(id), k);
      const Cardinal f = tGeneticPedigree::Allele(genetics.GenomeFather(id), k);
      if (id <= founders) {
        ++founderCounts[m];
        ++founderCounts[f];
      } else {
        ++genotypeCounts[genotypeClass(m, f)];
      }
    }
  EXPECT_TRUE(testsupport::CountsFit(founderCounts, std::vector<double>(alleles, 1.0 / alleles)));
  std::vector<double> expected(genotypeCounts.size());
  for (Cardinal a = 0; a < alleles; ++a)
    for (Cardinal b = a; b < alleles; ++b)
      expected[genotypeClass(a, b)] = (a == b ? 1.0 : 2.0) / (alleles * alleles);
  EXPECT_TRUE(testsupport::CountsFit(genotypeCounts, expected));
}

TEST(GeneticPedigree, MutationModels) {
  tPedigree pedigree;
  tGeneticPedigree genetics = MakeGenetics(pedigree, 3, 5);
  // Both rates 0: nothing changes and nothing is drawn.
  utile::SetSeeds(9, 9);
  const double next = utile::Ran();
  utile::SetSeeds(9, 9);
  Int64 genome = 0x020400;  // alleles 0, 4, 2
  genetics.Mutate(genome);
  EXPECT_EQ(genome, 0x020400);
  EXPECT_EQ(utile::Ran(), next);

  // Stepwise only, at rate 1: one step down or up, clamped at both ends.
  genetics.SetMutationSSM(1);
  utile::SetSeeds(5, 6);
  const int trials = 4000;
  size_t up[3] = {0, 0, 0};
  for (int t = 0; t < trials; ++t) {
    Int64 g = 0x020400;
    genetics.Mutate(g);
    const auto a = Alleles(g, 3);
    EXPECT_TRUE(a[0] == 0 || a[0] == 1);
    EXPECT_TRUE(a[1] == 3 || a[1] == 4);
    EXPECT_TRUE(a[2] == 1 || a[2] == 3);
    up[0] += a[0] == 1;
    up[1] += a[1] == 4;
    up[2] += a[2] == 3;
  }
  for (size_t k : up) EXPECT_TRUE(testsupport::ProportionIsNear(k, trials, 0.5));

  // K-allele at rate 1: a uniform new allele whatever the old one.
  genetics.SetMutationSSM(0);
  genetics.SetMutationKAM(1);
  std::vector<double> counts(5, 0);
  for (int t = 0; t < trials; ++t) {
    Int64 g = 0x040404;
    genetics.Mutate(g);
    for (Cardinal a : Alleles(g, 3)) ++counts[a];
  }
  EXPECT_TRUE(testsupport::CountsFit(counts, std::vector<double>(5, 0.2)));
}

TEST(GeneticPedigree, PruningKeepsTheLastCohortsAndTheirAncestors) {
  tPedigree pedigree;
  // 1-3 founders at 1; 4 = 1 x 2 and 5 = 2 x 3 at 2; 6 = 4 x 1 at 3.
  Fill(pedigree, {{1, 0, 0, 1}, {1, 0, 0, 1}, {1, 0, 0, 1}, {2, 1, 2, 1}, {2, 2, 3, 1}, {3, 4, 1, 1}});
  pedigree.SetMaxAge(0);
  tGeneticPedigree genetics = MakeGenetics(pedigree, 1, 3);
  genetics.PrunePedigree();
  const bool kept[] = {false, true, true, false, true, false, true};
  for (Cardinal id = 1; id <= 6; ++id) EXPECT_EQ(genetics.Unpruned(id), kept[id]) << id;
  utile::SetSeeds(1, 1);
  genetics.MakeNuclearGenome();
  EXPECT_EQ(genetics.GenomeMother(3), 0);
  EXPECT_EQ(genetics.GenomeMother(5), 0);
  pedigree.SetMaxAge(1);  // the range now starts with the cohort of date 2
  genetics.PrunePedigree();
  for (Cardinal id = 1; id <= 6; ++id) EXPECT_TRUE(genetics.Unpruned(id)) << id;
  pedigree.SetMaxAge(0);
  genetics.PrunePedigree();
  genetics.UnprunePedigree();
  for (Cardinal id = 1; id <= 6; ++id) EXPECT_TRUE(genetics.Unpruned(id)) << id;
}

// ------------------------------------------------------------------ frequencies and Fst

namespace {

// Two patches of daughters (patch 1 of founder 1, patch 2 of founder 2) and, when
// mixed, one daughter of each founder in each patch. Mitochondrial genomes
// without mutation copy the founders' alleles down each line.
void TwoLineages(tPedigree& pedigree, bool mixed) {
  Fill(pedigree, {{1, 0, 0, 1, psFemale}, {1, 0, 0, 2, psFemale}, {1, 0, 0, 1, psMale}});
  const Cardinal patchOf[4][2] = {{1, 1}, {2, 2}, {1, 2}, {2, 1}};  // (line of founder 1, line of founder 2)
  for (int k = 0; k < 4; ++k) {
    pedigree.Add(2, pedigree.Count() + 1, 1, 3, mixed ? patchOf[k][0] : 1, psFemale);
    pedigree.Add(2, pedigree.Count() + 1, 2, 3, mixed ? patchOf[k][1] : 2, psFemale);
  }
}

}  // namespace

TEST(GeneticPedigree, FstIsOneForPatchesFixedForDifferentAllelesAndZeroForIdenticalSamples) {
  for (const bool mixed : {false, true}) {
    tPedigree pedigree;
    TwoLineages(pedigree, mixed);
    tGeneticPedigree genetics = MakeGenetics(pedigree, 2, 9);
    // Seeds that give the two founding mothers different alleles at both loci.
    for (int seed = 1;; ++seed) {
      utile::SetSeeds(seed, 0);
      genetics.MakeMitochondrialGenome();
      const auto a = Alleles(genetics.GenomeMother(1), 2), b = Alleles(genetics.GenomeMother(2), 2);
      if (a[0] != b[0] && a[1] != b[1]) break;
    }
    tVectorOfDouble sizes;
    const tMatrixOfDouble q = genetics.Coancestries(2, pacAll, 1.0, sizes);
    EXPECT_EQ(sizes, (tVectorOfDouble{4, 4}));
    const tMatrixOfDouble fst = genetics.FstMatrix(2, pacAll, 1.0);
    if (!mixed) {
      EXPECT_EQ(q, (tMatrixOfDouble{{1, 0}, {0, 1}}));
      EXPECT_DOUBLE_EQ(fst[0][1], 1.0);
      EXPECT_DOUBLE_EQ(fst[1][0], 1.0);
      EXPECT_EQ(fst[0][0], -999);  // a patch fixed for one allele: Q = 1
    } else {
      for (const auto& row : q)
        for (double v : row) EXPECT_DOUBLE_EQ(v, 0.5);
      for (const auto& row : fst)
        for (double v : row) EXPECT_DOUBLE_EQ(v, 0.0);
    }
    // Nobody sampled: sizes 0, Fst undefined.
    EXPECT_EQ(genetics.FstMatrix(2, pacAll, 0.0), (tMatrixOfDouble{{-999, -999}, {-999, -999}}));
  }
}

TEST(GeneticPedigree, AlleleFrequenciesByPatchWithSampleSizes) {
  tPedigree pedigree;
  TwoLineages(pedigree, false);
  tGeneticPedigree genetics = MakeGenetics(pedigree, 2, 3);
  utile::SetSeeds(4, 4);
  genetics.MakeMitochondrialGenome();
  const tMatrixOfDouble f = genetics.AlleleFrequencies(2, pacAll, 1.0);
  ASSERT_EQ(f.size(), 2u * 3 + 1);
  ASSERT_EQ(f[0].size(), 2u);
  EXPECT_EQ(f[6], (tVectorOfDouble{4, 4}));  // at date 2: 4 daughters per patch (the founders died)
  for (int patch = 0; patch < 2; ++patch)
    for (int k = 0; k < 2; ++k) {
      const Cardinal fixed = tGeneticPedigree::Allele(genetics.GenomeMother(Cardinal(patch + 1)), k);
      for (Cardinal a = 0; a < 3; ++a) EXPECT_EQ(f[k * 3 + a][patch], a == fixed ? 1.0 : 0.0);
    }
  const std::string text = genetics.AlleleFrequenciesAsString(2, pacAll, 1.0, "%g");
  EXPECT_EQ(text.substr(0, text.find("\r\n")), "\tP01\tP02");
  EXPECT_NE(text.find("\r\nL01_A001\t"), std::string::npos);
  EXPECT_NE(text.find("\r\nL02_A003\t"), std::string::npos);
  EXPECT_NE(text.find("\r\nSize\t4\t4\r\n"), std::string::npos);
  // With a sampling probability of 0 nothing is counted.
  EXPECT_EQ(genetics.AlleleFrequencies(2, pacAll, 0.0), tMatrixOfDouble(7, tVectorOfDouble(2, 0.0)));
}

// ------------------------------------------------------------------ FSTAT and Genepop

using testsupport::ReadFstat;
using testsupport::ReadGenepop;
using testsupport::tGenotypeFile;

TEST(GeneticPedigree, FstatTextReadsBackWithItsCounts) {
  tPedigree pedigree;
  pedigree.SetMaxAge(SimulateRun(pedigree, 8, 4, 5, 31, true));
  pedigree.SetAgeReproduction(1);
  utile::SetSeeds(2, 8);
  tGeneticPedigree genetics = MakeGenetics(pedigree, 5, 123, 0.01, 0.05);
  genetics.MakeNuclearGenome();
  const Cardinal date = pedigree.GenerationCount();
  for (const tPedigreeSex sex : {psBoth, psFemale, psMale})
    for (const tPedigreeAgeClass ageClass : {pacJuveniles, pacAdults}) {
      tGenotypeFile file;
      const std::string text = genetics.FstatOutput(date, ageClass, sex, 1.0);
      ASSERT_TRUE(ReadFstat(text, file)) << text.substr(0, 200);
      EXPECT_EQ(text.substr(0, text.find("\r\n")), "4 5 123 3");
      EXPECT_EQ(file.Populations, int(pedigree.PatchCount()));
      EXPECT_EQ(file.Loci, 5);
      // The individuals of each sample: those of the class (and sex) in that patch.
      std::vector<int> expected(file.Populations + 1, 0);
      std::vector<std::vector<std::pair<int, int>>> genotypes;
      Cardinal first, last;
      pedigree.FirstAndLastID(date, first, last);
      for (Cardinal id = first; id <= last; ++id)
        if (pedigree.BelongToAgeClass(id, date, ageClass) && pedigree.BelongToSexClass(id, sex)) {
          ++expected[pedigree.Positions(id, date)];
          genotypes.emplace_back();
          for (int k = 0; k < 5; ++k)
            genotypes.back().push_back({int(tGeneticPedigree::Allele(genetics.GenomeMother(id), k)) + 1,
                                        int(tGeneticPedigree::Allele(genetics.GenomeFather(id), k)) + 1});
        }
      EXPECT_EQ(file.PerPopulation, expected);
      EXPECT_EQ(file.Genotypes, genotypes);
      EXPECT_GT(file.Genotypes.size(), 10u);
    }
  // Sampling at one half keeps about half of them.
  tGenotypeFile all, half;
  ASSERT_TRUE(ReadFstat(genetics.FstatOutput(date, pacAll, psBoth, 1.0), all));
  ASSERT_TRUE(ReadFstat(genetics.FstatOutput(date, pacAll, psBoth, 0.5), half));
  EXPECT_TRUE(testsupport::ProportionIsNear(half.Genotypes.size(), all.Genotypes.size(), 0.5));
}

TEST(GeneticPedigree, GenepopTextReadsBackWithAPopulationPerOccupiedPatch) {
  for (const bool sexes : {false, true}) {
    tPedigree pedigree;
    pedigree.SetMaxAge(SimulateRun(pedigree, 8, 4, 5, 41, sexes));
    pedigree.SetAgeReproduction(1);
    // An extra patch reached only by a census, and patches nobody lives in at the date:
    // a newborn of the last date that died at once is censused in patch 7 instead.
    Cardinal moved = pedigree.Count();
    while (pedigree.GetDeathDate(moved) != pedigree.GetBirthDate(moved)) --moved;
    pedigree.AddPosition(moved, 7);
    utile::SetSeeds(6, 6);
    tGeneticPedigree genetics = MakeGenetics(pedigree, 8, 99, 0.001, 0.01);
    genetics.MakeNuclearGenome();
    const Cardinal date = pedigree.GenerationCount() + 1;
    tGenotypeFile file;
    const std::string text = genetics.GenepopOutput(date, pacAll, 1.0);
    ASSERT_TRUE(ReadGenepop(text, file)) << text.substr(0, 300);
    EXPECT_EQ(text.substr(0, text.find("\r\n")), "7 8 99");
    EXPECT_EQ(file.Loci, 8);
    tVectorOfCardinal sizes = pedigree.PopulationSizes(date, pacAll);
    std::vector<int> expected;
    for (size_t p = 1; p < sizes.size(); ++p)
      if (sizes[p] > 0) expected.push_back(int(sizes[p]));
    EXPECT_EQ(file.PerPopulation, expected) << "sexes " << sexes;
    EXPECT_EQ(sizes[7], 1u);
    // Names: sex letter and patch, then the comma.
    const char letter = PedigreeSexLetters[pedigree.GetSex(moved)];
    EXPECT_EQ(letter, sexes ? letter : 'N');
    EXPECT_EQ(std::count(text.begin(), text.end(), ','), 7 + long(sizes[0]));
    EXPECT_NE(text.find(std::string("\r\nPop\r\n") + letter + "_7, "), std::string::npos);
  }
  tPedigree pedigree;
  Fill(pedigree, {{1, 0, 0, 1}});
  tGeneticPedigree genetics = MakeGenetics(pedigree, 1, 99);
  EXPECT_NO_THROW(genetics.GenepopOutput(1, pacAll, 1));
  genetics.SetAlleleCount(100);
  EXPECT_EQ(Message([&] { genetics.GenepopOutput(1, pacAll, 1); }),
            "Number of alleles must be <100 to generate a GenePop output.");
}

TEST(PedigreeKinship, DeepPedigreesAndAnyOrderOfQueriesGiveTheSameValues) {
  // A line of 300,000 selfings: one generation per record, far deeper than a
  // call stack would allow. F_t = (1 + F_{t-1}) / 2 tends to 1.
  tPedigree line;
  line.Add(1, 1, 0, 0, 1, psNA);
  for (Cardinal id = 2; id <= 300000; ++id) line.Add(id, id, id - 1, id - 1, 1, psNA);
  EXPECT_NEAR(line.F_ind(300000), 1.0, 1e-6);
  EXPECT_DOUBLE_EQ(line.F_ind(2), 0.5);
  EXPECT_DOUBLE_EQ(line.F_ind(3), 0.75);

  // The cache fills in whatever order the pairs are asked for: the values do not change.
  tPedigree forwards, shuffled;
  SimulateRun(forwards, 9, 3, 4, 12, false);
  SimulateRun(shuffled, 9, 3, 4, 12, false);
  const Cardinal n = forwards.Count();
  forwards.ComputeWholeRelationshipMatrix();
  std::vector<std::pair<Cardinal, Cardinal>> pairs;
  for (Cardinal i = 1; i <= n; ++i)
    for (Cardinal j = 1; j <= i; ++j) pairs.push_back({i, j});
  std::shuffle(pairs.begin(), pairs.end(), std::mt19937(5));
  for (const auto& [i, j] : pairs) ASSERT_EQ(shuffled.GetRelationship(i, j), forwards.ShowRelationship(i, j));
  EXPECT_EQ(shuffled.RelationshipMatrix(), forwards.RelationshipMatrix());
}
