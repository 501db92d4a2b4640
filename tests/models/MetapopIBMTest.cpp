#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <map>
#include <memory>
#include <numbers>
#include <set>
#include <string>

#include "IBMHarness.h"
#include "IBMReference.h"
#include "TestSupport/Measurement.h"
#include "TestSupport/StatisticalChecks.h"
#include "Utile/Platform.h"
#include "Utile/RandomFunctions.h"
#include "Utile/RunTime.h"
#include "models/MetapopIBM.h"
#include "models/PedigreeOps.h"

using namespace models;
using ibmtest::Build;
using ibmtest::Event;
using ibmtest::tPatchSetup;

namespace {

// ------------------------------------------------------------------ individual lists

// The index of present entries must find the k-th present one of a plain list
// whatever holes it has, as entries come and go, across words and tree sizes.
TEST(RankIndex, FindsTheKthPresentEntryOfAPlainList) {
  tRankIndex index;
  std::vector<bool> present;
  const auto check = [&](int step) {
    std::vector<Integer> positions;
    for (size_t i = 0; i < present.size(); ++i)
      if (present[i]) positions.push_back(static_cast<Integer>(i));
    for (size_t k = 0; k < positions.size(); ++k)
      ASSERT_EQ(index.Select(static_cast<Integer>(k)), positions[k]) << "step " << step << ", k " << k;
  };
  utile::SetSeeds(3, 4);
  index.Build(0, [](Integer) { return true; });
  for (int step = 0; step < 6000; ++step) {
    const Integer op = utile::Ran(Integer{10});
    if (op < 6) {
      const bool on = op < 5;
      index.Append(on);
      present.push_back(on);
    } else if (!present.empty()) {
      const Integer p = utile::Ran(static_cast<Integer>(present.size()));
      if (present[p]) {
        index.Remove(p);
        present[p] = false;
      }
    }
    ASSERT_EQ(index.Contains(static_cast<Integer>(present.size()) - 1), !present.empty() && present.back());
    if (step % 500 == 0 || step < 200) check(step);
    if (HasFatalFailure()) return;
  }
  check(6000);
  // Built at once from a list with holes.
  index.Build(static_cast<Integer>(present.size()), [&](Integer p) { return present[p]; });
  check(6001);
  // The holes a pass makes: from the front of a full list (a run of holes), or
  // from its back (a run of present entries), over several words.
  for (const bool fromFront : {true, false}) {
    present.assign(700, true);
    index.Build(700, [](Integer) { return true; });
    for (Integer step = 0; step < 650; ++step) {
      const Integer p = fromFront ? step : 699 - step;
      index.Remove(p);
      present[p] = false;
      if (step % 61 == 0) check(7000 + step);
      if (step == 300) {
        index.Append(true);  // a newcomer at the end
        present.push_back(true);
      }
      if (HasFatalFailure()) return;
    }
    check(8000);
  }
}

// A sexuate patch's list and adult males against plain ordered lists, through
// additions, removals (holes left and closed) and replacements.
TEST(PatchList, KeepsTheOrderOfPlainListsThroughAdditionsRemovalsAndReplacements) {
  ibmtest::SetLineLandscape(1);
  tMetaPop metapop;
  metapop.Species->SexRatio = 0.5;
  utile::SetSeeds(5, 6);
  ibmtest::Build(metapop, rmSexuate, {{10, 0}}, {Event(leBirth, 1), Event(leGetOlder)});
  ASSERT_EQ(metapop.Species->AgeReproduction(), -1) << "every individual adult";
  auto* patch = static_cast<tPatchSexuate*>(metapop.GetPatches(0));
  std::vector<Cardinal> list, males;  // IDs
  std::map<Cardinal, tIndividual> byID;
  for (int step = 0; step < 4000; ++step) {
    const Integer op = utile::Ran(Integer{10});
    if (op < 5 || list.empty()) {
      const tIndividual ind = metapop.Pool()->Take(nullptr, nullptr);
      patch->Add(ind);
      list.push_back(ind.ID());
      if (ind.Sex() == sMale) males.push_back(ind.ID());
      byID[ind.ID()] = ind;
    } else if (op < 9) {
      const Integer k = utile::Ran(static_cast<Integer>(list.size()));
      const Cardinal id = list[k];
      patch->Remove(patch->GetInd(k));
      list.erase(list.begin() + k);
      males.erase(std::remove(males.begin(), males.end(), id), males.end());
    } else {
      const Integer k = utile::Ran(static_cast<Integer>(list.size()));
      const tIndividual ind = metapop.Pool()->Take(nullptr, nullptr);
      males.erase(std::remove(males.begin(), males.end(), list[k]), males.end());
      patch->SetInd(k, ind);
      list[k] = ind.ID();
      if (ind.Sex() == sMale) males.push_back(ind.ID());
      byID[ind.ID()] = ind;
    }
    if (step % 97 == 0) patch->Synchronise();
    ASSERT_EQ(patch->IndCount(), static_cast<Integer>(list.size()));
    ASSERT_EQ(patch->NadultsActual(), static_cast<Integer>(list.size()));
    ASSERT_EQ(patch->MatureMaleCount(), static_cast<Integer>(males.size()));
    if (step % 13 == 0) {
      for (size_t k = 0; k < list.size(); ++k) {
        ASSERT_EQ(patch->GetInd(static_cast<Integer>(k))->ID(), list[k]) << "step " << step;
        ASSERT_EQ(patch->GetInd(static_cast<Integer>(k))->Genes(), byID[list[k]].Genes());
      }
      for (size_t k = 0; k < males.size(); ++k) {
        ASSERT_EQ(patch->MatureMale(static_cast<Integer>(k)).ID, males[k]) << "step " << step;
        ASSERT_EQ(patch->MatureMale(static_cast<Integer>(k)).Genes, byID[males[k]].Genes());
      }
    }
  }
  patch->Clear();
  EXPECT_EQ(patch->IndCount(), 0);
  EXPECT_EQ(patch->MatureMaleCount(), 0);
}

// ------------------------------------------------------------------ name tables

TEST(MetapopIBMNames, TablesFollowTheOrdinalsOfTheEnumerations) {
  EXPECT_STREQ(LifeEventTypeStr[leBirth], "Birth");
  EXPECT_STREQ(LifeEventTypeStr[leGetOlder], "Aging");
  EXPECT_STREQ(LifeEventTypeStr[leRegulation], "Density-dependence");
  EXPECT_STREQ(LifeEventTypeStr[leDead], "Dead");
  EXPECT_STREQ(LifeEventTypeStr[leTag], "Tagging");
  EXPECT_STREQ(ReproductionModeStr[rmSexuate], "Sexuate");
  EXPECT_STREQ(ReproductionTypeStr[rtGompertz], "Gompertz");
  EXPECT_STREQ(DispersalTypeStr[diArcTan], "Angle of vision (ArcTan)");
  EXPECT_STREQ(DeathStatStr[dsCensused], "Censused");
  EXPECT_STREQ(AgeClassStr[acAll], "Total");
  EXPECT_STREQ(InheritanceTypeStr[itRecessive], "Recessive");
  EXPECT_STREQ(LifeEventParamStr[leDispersal][2], "Target patch weighting");
  EXPECT_STREQ(LifeEventParamStr[leGeneConditional][0], "Gene");
  EXPECT_STREQ(LifeEventParamStr[leGetOlder][0], "");
  EXPECT_EQ(static_cast<int>(leTag), 12);
}

// ------------------------------------------------------------------ MakeCycle

TEST(MetapopIBMCycle, AgeOfReproductionCountsAgingEventsBeforeTheFirstReproduction) {
  struct tCase {
    const char* Name;
    tLifeCycle Cycle;
    Integer AgeReproduction;
    Integer AgeDeath;
  };
  const tCase cases[] = {
      {"no reproduction", {Event(leBirth, 1), Event(leGetOlder, 2), Event(leGetOlder)}, -1, 2},
      {"reproduction first",
       {Event(leBirth, 1), ibmtest::Reproduction(rtDensityIndependent, 1, 2), Event(leGetOlder)},
       0,
       1},
      {"two agings first",
       {Event(leBirth, 1), Event(leGetOlder, 2), Event(leGetOlder, 3), ibmtest::Reproduction(rtCeiling, 1, 4),
        Event(leGetOlder, 5), ibmtest::Reproduction(rtCeiling, 1, -1)},
       2,
       3},
  };
  for (const tCase& c : cases) {
    tMetaPop metapop;
    metapop.Species->MakeCycle(c.Cycle);
    EXPECT_EQ(metapop.Species->AgeReproduction(), c.AgeReproduction) << c.Name;
    EXPECT_EQ(metapop.Species->AgeDeath(), c.AgeDeath) << c.Name;
    EXPECT_EQ(metapop.Species->LastEvent(), static_cast<Integer>(c.Cycle.size())) << c.Name;
  }
}

TEST(MetapopIBMCycle, MissingLinksLeadToTheEndEventWhichLinksToItself) {
  tMetaPop metapop;
  tLifeEvent random = Event(leRandom, 2, -1);
  random.Threshold = 0.5;
  metapop.Species->MakeCycle({Event(leBirth, 1), random, Event(leGetOlder, -1)});
  const tSpecies& species = *metapop.Species;
  EXPECT_EQ(species.LastEvent(), 3);
  EXPECT_EQ(species.AltEvent(1), 3);
  EXPECT_EQ(species.NextEvent(2), 3);
  EXPECT_EQ(species.GetLifeCycle(3).EventType, leDead);
  EXPECT_EQ(species.NextEvent(3), 3);
  EXPECT_EQ(species.AltEvent(3), 3);
  EXPECT_EQ(species.AgeAtEvent(2), 0);
  EXPECT_EQ(species.AgeAtEvent(3), 1);
}

TEST(MetapopIBMCycle, TagListHoldsDistinctTagsInAscendingOrder) {
  tMetaPop metapop;
  tLifeEvent tag7 = Event(leTag, 2);
  tag7.Tag = 7;
  tLifeEvent tag2 = Event(leTag, 3);
  tag2.Tag = 2;
  tLifeEvent tag7Again = Event(leTag, 4);
  tag7Again.Tag = 7;
  metapop.Species->MakeCycle({Event(leBirth, 1), tag7, tag2, tag7Again, Event(leGetOlder)});
  EXPECT_EQ(metapop.Species->Tags(), (utile::tVectorOfInteger{2, 7}));
}

TEST(MetapopIBMCycle, EachEventsRuleIsChosenByItsType) {
  struct tCase {
    tLifeEvent Event;
    tEventRule Rule;
  };
  tLifeEvent gompertz = ibmtest::Reproduction(rtGompertz, 2, 1);
  tLifeEvent unknownRegulation = Event(leRegulation, 1);
  unknownRegulation.RegType = static_cast<tRegulationType>(3);
  const tCase cases[] = {
      {Event(leBirth, 1), erBirth},
      {Event(leSexConditional, 1), erSexConditional},
      {Event(leGetOlder, 1), erStop},
      {ibmtest::Survival(0.5, 1), erSurvival},
      {ibmtest::Dispersal(0.5, 1, 1), erDispersalInvExponential},
      {ibmtest::Reproduction(rtDensityIndependent, 2, 1), erReproductionDensityIndependent},
      {ibmtest::Reproduction(rtCeiling, 2, 1), erReproductionCeiling},
      {ibmtest::Reproduction(rtRicker, 2, 1), erReproductionRicker},
      {gompertz, erReproductionGompertz},
      {Event(leRegulation, 1), erRegulationCeiling},
      {unknownRegulation, erNone},
      {Event(leSynchro, 1), erStop},
      {Event(leRandom, 1), erRandom},
      {ibmtest::Death(), erDeath},
      {Event(leDead, 1), erStop},
      {Event(leGeneConditional, 1), erGeneConditional},
      {Event(leTag, 1), erTagging},
  };
  ibmtest::SetLineLandscape(2);
  tMetaPop metapop;
  metapop.AddPatches(2);
  for (const tCase& c : cases) {
    metapop.Species->MakeCycle({Event(leBirth, 1), c.Event});
    EXPECT_EQ(metapop.Species->Procedure(1), c.Rule) << LifeEventTypeStr[c.Event.EventType];
    EXPECT_EQ(metapop.Species->Procedure(2), erStop) << "the end";
  }
  // A variant without a rule raises when an individual reaches it.
  tMetaPop run;
  Build(run, rmClonal, {{10, 3}}, {Event(leBirth, 1), unknownRegulation, Event(leGetOlder)});
  try {
    run.TimeStep(1);
    ADD_FAILURE() << "no error";
  } catch (const utile::EInvalidOperation& e) {
    EXPECT_STREQ(e.what(), "Event 1 (Density-dependence) has no rule");
  }
}

TEST(MetapopIBMCycle, LinksOutsideTheCycleAreRefused) {
  tMetaPop metapop;
  EXPECT_THROW(metapop.Species->MakeCycle({Event(leBirth, 5), Event(leGetOlder)}), utile::EAssertionFailed);
}

TEST(MetapopIBMCycle, DispersalMatricesFollowTheLandscape) {
  // Three patches: 0 at the origin, 1 at distance 3, 2 at distance 4 from 0 and 5 from 1.
  ibmtest::SetLandscape({{0, 0}, {3, 0}, {0, 4}}, 1.0);
  FrictionMap = {{1, 0.9, 0.6}, {0.9, 1, 0.3}, {0.6, 0.3, 1}};
  ConnectanceMat[1][2] = ConnectanceMat[2][1] = false;
  struct tCase {
    const char* Name;
    tLifeEvent Dispersal;
    double Survival;
    std::function<double(double)> Weight;
  };
  const tCase cases[] = {
      {"exponential", ibmtest::Dispersal(0.5, 2.0, 1), 0.5, [](double d) { return std::exp(-d / 2.0); }},
      {"no survival given", ibmtest::Dispersal(0.0, 2.0, 1), 1.0,
       [](double d) { return std::exp(-d / 2.0); }},
      {"flat kernel", ibmtest::Dispersal(0.8, -1.0, 1), 0.8, [](double) { return 1.0; }},
      {"arctan", ibmtest::Dispersal(1.0, 2.0, 1, -1, diArcTan), 1.0,
       [](double d) { return std::atan(2.0 / d); }},
  };
  const double distance[3][3] = {{0, 3, 4}, {3, 0, 5}, {4, 5, 0}};
  const bool linked[3][3] = {{true, true, true}, {true, true, false}, {true, false, true}};
  for (const tCase& c : cases) {
    tMetaPop metapop;
    metapop.AddPatches(3);
    tLifeEvent dispersal = c.Dispersal;
    metapop.Species->MakeCycle({Event(leBirth, 1), dispersal, Event(leGetOlder)});
    const tLifeEvent built = metapop.Species->GetLifeCycle(1);
    ASSERT_TRUE(built.Mat1 && built.Mat2) << c.Name;
    for (int j = 0; j < 3; ++j) {
      double columnSum = 0;
      for (int i = 0; i < 3; ++i)
        if (i != j && linked[i][j]) columnSum += c.Weight(distance[i][j]);
      for (int i = 0; i < 3; ++i) {
        const double mat1 = i == j ? 1.0 : FrictionMap[i][j] * c.Survival;
        const double mat2 = i == j || !linked[i][j] ? 0.0 : c.Weight(distance[i][j]) / columnSum;
        EXPECT_NEAR((*built.Mat1)[i][j], mat1, 1e-15) << c.Name << " " << i << "," << j;
        EXPECT_NEAR((*built.Mat2)[i][j], mat2, 1e-15) << c.Name << " " << i << "," << j;
      }
    }
  }
}

TEST(MetapopIBMCycle, DispersalRefusesACycleBuiltForAnotherNumberOfPatches) {
  // Built for three patches, run on two or four: a disperser must not be sent to a
  // patch that is not there, nor leave one the matrices do not know.
  for (Integer patches : {2, 4}) {
    ibmtest::SetLineLandscape(4);
    tMetaPop metapop;
    metapop.SetReproductionMode(rmClonal);
    metapop.AddPatches(3);
    metapop.Species->MakeCycle({Event(leBirth, 1), ibmtest::Dispersal(1.0, 100.0, 2), Event(leGetOlder)});
    metapop.AddPatches(patches);
    metapop.Initialise();
    metapop.MaxIndividuals = 1000000;
    metapop.ExplosionSize = 1000000;
    metapop.GetPatches(0)->AddIndividuals(200);
    EXPECT_THROW(metapop.TimeStep(1), utile::EAssertionFailed) << patches << " patches";
  }
}

TEST(MetapopIBMCycle, ArcTanWeightOfTwoPatchesAtTheSamePlaceIsARightAngle) {
  ibmtest::SetLandscape({{0, 0}, {0, 0}, {1, 0}}, 1.0);
  tMetaPop metapop;
  metapop.AddPatches(3);
  metapop.Species->MakeCycle(
      {Event(leBirth, 1), ibmtest::Dispersal(1.0, 1.0, 1, -1, diArcTan), Event(leGetOlder)});
  const auto& mat2 = *metapop.Species->GetLifeCycle(1).Mat2;
  const double rightAngle = std::numbers::pi / 2;
  const double atOne = std::atan(1.0);
  EXPECT_NEAR(mat2[1][0], rightAngle / (rightAngle + atOne), 1e-15);
  EXPECT_NEAR(mat2[2][0], atOne / (rightAngle + atOne), 1e-15);
}

TEST(MetapopIBMCycle, DispersalDrawIsTheDiscreteDrawOverTheColumn) {
  // Uneven weights on a random landscape, some pairs unlinked.
  utile::SetSeeds(11, 12);
  std::vector<std::pair<double, double>> positions;
  for (int i = 0; i < 9; ++i) positions.emplace_back(utile::Ran(0.0, 20.0), utile::Ran(0.0, 20.0));
  // Far patches whose weights vanish beside the near ones: equal cumulative values.
  positions[7] = {900, 0};
  positions[8] = {0, 950};
  ibmtest::SetLandscape(positions, 0.7);
  for (int i = 0; i < 9; ++i)
    for (int j = 0; j < i; ++j) ConnectanceMat[i][j] = ConnectanceMat[j][i] = utile::Ran() < 0.6;
  for (int j = 0; j < 9; ++j)
    for (int i = 0; i < 9; ++i) ConnectanceMat[i][j] = ConnectanceMat[i][j] && j != 3;  // 3 has no link
  tMetaPop metapop;
  metapop.AddPatches(9);
  metapop.Species->MakeCycle({Event(leBirth, 1), ibmtest::Dispersal(0.9, 4.0, 1), Event(leGetOlder)});
  const auto& mat2 = *metapop.Species->GetLifeCycle(1).Mat2;
  for (int seed = 1; seed <= 2000; ++seed)
    for (int j = 0; j < 9; ++j) {
      utile::tVectorOfDouble column(9);
      for (int i = 0; i < 9; ++i) column[i] = mat2[i][j];
      utile::SetSeeds(seed, j);
      Integer destination;
      double survival;
      metapop.Species->DrawDispersal(1, j, destination, survival);
      const double next = utile::Ran();
      utile::SetSeeds(seed, j);
      Integer expected = utile::DiscreteRan(column);
      if (expected == -1) expected = j;
      ASSERT_EQ(destination, expected) << seed << " " << j;
      EXPECT_EQ(utile::Ran(), next) << "the draw must use exactly one uniform, or none";
      EXPECT_DOUBLE_EQ(survival, destination == j ? 1.0 : 0.7 * 0.9);
    }
}

// ------------------------------------------------------------------ pool

TEST(MetapopIBMPool, GrowsByTenThousandAndHandsOutTheLastFirst) {
  tMetaPop metapop;
  tPoolOfIndividuals& pool = *metapop.Pool();
  EXPECT_EQ(pool.Count(), 0);
  EXPECT_EQ(pool.Increment(), 10000);
  tIndividual first = pool.Take(nullptr, nullptr);
  EXPECT_EQ(pool.Count(), 9999);
  EXPECT_EQ(first.ID(), 1u);
  EXPECT_EQ(metapop.CurrentID, 2u);

  pool.Add(2);
  EXPECT_EQ(pool.Count(), 10001);
  EXPECT_EQ(pool.Take(nullptr, nullptr).ID(), 2u);

  first.SetTag(42);
  first.SetEvent(3);
  pool.Store(first);
  EXPECT_EQ(pool.IdleTag(pool.Count() - 1), 42) << "the last stored is the next taken";
  const tIndividual again = pool.Take(nullptr, nullptr);
  EXPECT_EQ(again.ID(), 3u);
  EXPECT_EQ(again.Age(), 0);
  EXPECT_EQ(again.Event(), 0);
  EXPECT_EQ(again.Tag(), 42) << "the tag survives recycling";
  pool.Store(again);
  EXPECT_EQ(pool.Count(), 10001);
}

TEST(MetapopIBMPool, ModeChangeRebuildsEmptyPatchesAndConvertsThePool) {
  ibmtest::SetLineLandscape(3);
  tMetaPop metapop;
  Build(metapop, rmClonal, {{10, 4}, {10, 2}, {10, 0}}, {Event(leBirth, 1), Event(leGetOlder)});
  tIndividual tagged = metapop.Pool()->Take(nullptr, nullptr);
  tagged.SetTag(5);
  metapop.Pool()->Store(tagged);
  const Integer poolSize = metapop.Pool()->Count();
  ASSERT_EQ(metapop.N(), 6);

  metapop.SetReproductionMode(rmClonal);  // same mode: nothing changes
  EXPECT_EQ(metapop.N(), 6);
  EXPECT_EQ(metapop.GetPatches(0)->IndCount(), 4);

  metapop.SetReproductionMode(rmSexuate);
  EXPECT_EQ(metapop.GetReproductionMode(), rmSexuate);
  EXPECT_EQ(metapop.Species->EquilibriumLambda, 2.0);
  ASSERT_EQ(metapop.PatchCount(), 3);
  for (Integer i = 0; i < 3; ++i) {
    EXPECT_EQ(metapop.GetPatches(i)->IndCount(), 0);
    EXPECT_EQ(metapop.GetPatches(i)->ID(), static_cast<Cardinal>(i + 1));
    EXPECT_NE(dynamic_cast<tPatchSexuate*>(metapop.GetPatches(i)), nullptr);
  }
  EXPECT_EQ(metapop.Pool()->Count(), poolSize) << "the patches' individuals are freed, not pooled";
  EXPECT_EQ(metapop.Pool()->IndividualType(), itSexuate);
  for (Integer i = 0; i < metapop.Pool()->Count(); ++i)
    ASSERT_EQ(metapop.Pool()->IdleTag(i), 0) << "new individuals, no tag kept";
}

// ------------------------------------------------------------------ metapopulation

TEST(MetapopIBMRun, StartsAsTheWorkbenchExpects) {
  tMetaPop metapop;
  EXPECT_EQ(metapop.GetReproductionMode(), rmSexuate);
  EXPECT_EQ(metapop.Species->EquilibriumLambda, 2.0);
  EXPECT_EQ(metapop.Pool()->IndividualType(), itSexuate);
  EXPECT_EQ(metapop.Time, 1u);
  EXPECT_EQ(metapop.CurrentID, 1u);
  EXPECT_EQ(metapop.ExtTime, -1);
  EXPECT_EQ(metapop.MaxIndividuals, 0u);
  EXPECT_EQ(metapop.ExplosionSize, 0u);
  EXPECT_FALSE(metapop.GeneratePedigree());
  EXPECT_EQ(metapop.Pedigree(), nullptr);
  for (double p : metapop.GenePrevalences()) EXPECT_EQ(p, 0.0);
  metapop.SetGeneratePedigree(true);
  EXPECT_NE(metapop.Pedigree(), nullptr);
  metapop.SetGeneratePedigree(false);
  EXPECT_EQ(metapop.Pedigree(), nullptr);
}

TEST(MetapopIBMRun, EndStatesStopTheRunAndRecordTheirTime) {
  struct tCase {
    const char* Name;
    tLifeCycle Cycle;
    Cardinal MaxIndividuals;
    Cardinal ExplosionSize;
    bool Extinct, Explosion, Overflow;
    Integer ExtTime;
    Cardinal Time;
  };
  const tLifeCycle dying = {Event(leBirth, 1), ibmtest::Death()};
  tLifeCycle living = {Event(leBirth, 1)};
  for (Integer i = 1; i <= 20; ++i) living.push_back(Event(leGetOlder, i < 20 ? i + 1 : -1));
  const tCase cases[] = {
      {"extinction", dying, 1000, 1000, true, false, false, 1, 2},
      {"explosion", living, 1000, 9, false, true, false, 1, 2},
      {"overflow with no maximum", living, 0, 1000, false, false, true, -1, 2},
      {"no end", living, 1000, 1000, false, false, false, -1, 4},
  };
  for (const tCase& c : cases) {
    tMetaPop metapop;
    Build(metapop, rmClonal, {{10, 10}}, c.Cycle);
    metapop.MaxIndividuals = c.MaxIndividuals;
    metapop.ExplosionSize = c.ExplosionSize;
    metapop.Run(3, 1);
    EXPECT_EQ(metapop.Extinct, c.Extinct) << c.Name;
    EXPECT_EQ(metapop.Explosion, c.Explosion) << c.Name;
    EXPECT_EQ(metapop.Overflow, c.Overflow) << c.Name;
    EXPECT_EQ(metapop.ExtTime, c.ExtTime) << c.Name;
    EXPECT_EQ(metapop.Time, c.Time) << c.Name;
    metapop.Run(5, 1);
    EXPECT_EQ(metapop.Time, c.Time + (c.Extinct || c.Explosion || c.Overflow ? 0 : 5)) << c.Name;
    metapop.Initialise();
    EXPECT_FALSE(metapop.Extinct || metapop.Explosion || metapop.Overflow) << c.Name;
    EXPECT_EQ(metapop.ExtTime, -1) << c.Name;
  }
}

TEST(MetapopIBMRun, SynchronisationPassesAreNotCounted) {
  // Founders wait at the synchronisation point; the repeated pass lets them on
  // to their first Aging. Each counted pass ages them once.
  const tLifeCycle cycle = {Event(leBirth, 1),    Event(leSynchro, 2),  Event(leGetOlder, 3),
                            Event(leGetOlder, 4), Event(leGetOlder, 5), Event(leGetOlder)};
  for (Integer cycles : {1, 2, 3}) {
    tMetaPop metapop;
    Build(metapop, rmClonal, {{10, 3}}, cycle);
    metapop.TimeStep(cycles);
    for (tIndividual* ind : ibmtest::Individuals(metapop.GetPatches(0))) {
      EXPECT_EQ(ind->Age(), cycles);
      EXPECT_EQ(ind->Event(), 2 + cycles);
    }
    EXPECT_EQ(metapop.Time, 2u);
  }
}

TEST(MetapopIBMRun, PatchExtinctionClearsOnlyWhenSwitchedOn) {
  const tLifeCycle cycle = {Event(leBirth, 1), Event(leGetOlder, 2), Event(leGetOlder, 3), Event(leGetOlder)};
  for (Integer on : {0, 1}) {
    tMetaPop metapop;
    metapop.Species->PatchExtinction = on;
    Build(metapop, rmClonal, {{10, 5, 1, 1.0f}, {10, 5, 1, 0.0f}}, cycle);
    const Integer pool = metapop.Pool()->Count();
    metapop.TimeStep(2);
    EXPECT_EQ(metapop.GetPatches(0)->IndCount(), on ? 0 : 5);
    EXPECT_EQ(metapop.GetPatches(1)->IndCount(), 5);
    EXPECT_EQ(metapop.Pool()->Count(), pool + (on ? 5 : 0)) << "cleared individuals return to the pool";
  }
}

TEST(MetapopIBMRun, DeathRemovesTheIndividualOnceAndReturnsItToThePool) {
  // Death takes the individual out of its patch; reaching the end afterwards must
  // not decrement the counts a second time. A missing link leads to the end too.
  tLifeEvent random = Event(leRandom, -1, 2);
  random.Threshold = 1.0;  // always True, and True leads nowhere
  const tLifeCycle viaDeath = {Event(leBirth, 1), ibmtest::Death()};
  const tLifeCycle viaMissingLink = {Event(leBirth, 1), random, Event(leGetOlder)};
  for (const tLifeCycle* cycle : {&viaDeath, &viaMissingLink}) {
    tMetaPop metapop;
    Build(metapop, rmSexuate, {{10, 6}, {10, 4}}, *cycle);
    const Integer pool = metapop.Pool()->Count();
    metapop.TimeStep(1);
    for (Integer i = 0; i < 2; ++i) {
      tPatch* patch = metapop.GetPatches(i);
      EXPECT_EQ(patch->IndCount(), 0);
      EXPECT_EQ(patch->NadultsActual(), 0);
      EXPECT_EQ(patch->NjuvenilesActual(), 0);
      EXPECT_EQ(patch->N(), 0);
      EXPECT_EQ(static_cast<tPatchSexuate*>(patch)->MatureMaleCount(), 0);
    }
    EXPECT_EQ(metapop.Pool()->Count(), pool + 10) << "each returned once";
    EXPECT_TRUE(metapop.Extinct);
  }
}

TEST(MetapopIBMRun, BirthReachedInsideACycleDisposesOnlyOnce) {
  // A link back to the Birth event runs Birth from within the cycle: the nested
  // walk disposes of the individual at the end, and so would the outer one.
  tLifeEvent random = Event(leRandom, 0, 2);
  random.Threshold = 1.0;
  const tLifeCycle cycle = {Event(leBirth, 3), random, Event(leGetOlder), ibmtest::Death()};
  tMetaPop metapop;
  Build(metapop, rmClonal, {{10, 5}}, cycle);
  const Integer pool = metapop.Pool()->Count();
  metapop.TimeStep(1);
  EXPECT_EQ(metapop.GetPatches(0)->IndCount(), 0);
  EXPECT_EQ(metapop.GetPatches(0)->N(), 0);
  EXPECT_EQ(metapop.Pool()->Count(), pool + 5) << "each returned once";
}

TEST(MetapopIBMRun, WithoutReproductionEveryIndividualIsAdultFromBirth) {
  tMetaPop metapop;
  Build(metapop, rmSexuate, {{10, 8}}, {Event(leBirth, 1), Event(leGetOlder, 2), Event(leGetOlder)});
  tPatch* patch = metapop.GetPatches(0);
  EXPECT_EQ(metapop.Species->AgeReproduction(), -1);
  EXPECT_EQ(patch->N(acAdult), 8);
  EXPECT_EQ(patch->N(acJuvenile), 0);
  Integer males = 0;
  for (tIndividual* ind : ibmtest::Individuals(patch)) males += ind->Sex() == sMale;
  EXPECT_EQ(static_cast<tPatchSexuate*>(patch)->MatureMaleCount(), males);
}

TEST(MetapopIBMRun, FoundersAddedBeforeTheCycleAreCountedByItsAgeOfReproduction) {
  // The workbench adds founders before it builds the cycle; the counts and the
  // adult males must follow the cycle that is run.
  const tLifeCycle cycle = {Event(leBirth, 1), Event(leGetOlder, 2), ibmtest::Reproduction(rtCeiling, 2, 3),
                            Event(leGetOlder, 4), ibmtest::Death()};
  tMetaPop metapop;
  utile::SetSeeds(5, 5);
  Build(metapop, rmSexuate, {{50, 20}}, cycle);
  tPatchSexuate* patch = static_cast<tPatchSexuate*>(metapop.GetPatches(0));
  EXPECT_EQ(patch->N(acJuvenile), 20);
  EXPECT_EQ(patch->N(acAdult), 0);
  EXPECT_EQ(patch->MatureMaleCount(), 0);
  metapop.TimeStep(1);  // founders age to adults
  Integer males = 0;
  for (tIndividual* ind : ibmtest::Individuals(patch)) males += ind->Sex() == sMale;
  EXPECT_EQ(patch->N(acAdult), 20);
  EXPECT_EQ(patch->N(acJuvenile), 0);
  EXPECT_EQ(patch->MatureMaleCount(), males);
}

TEST(MetapopIBMRun, SexRatioOfPatches) {
  tMetaPop clonal;
  Build(clonal, rmClonal, {{10, 3}}, {Event(leBirth, 1), Event(leGetOlder)});
  EXPECT_EQ(clonal.GetPatches(0)->SexRatio(), 1.0f);
  tMetaPop hermaphrodite;
  Build(hermaphrodite, rmHermaphrodite, {{10, 0}}, {Event(leBirth, 1), Event(leGetOlder)});
  EXPECT_EQ(hermaphrodite.GetPatches(0)->SexRatio(), 1.0f);

  tMetaPop sexuate;
  sexuate.Species->SexRatio = 0.5;
  utile::SetSeeds(1, 2);
  const tLifeCycle juvenileFounders = {Event(leBirth, 1), Event(leGetOlder, 2),
                                       ibmtest::Reproduction(rtDensityIndependent, 1, 3), Event(leGetOlder)};
  Build(sexuate, rmSexuate, {{10, 12}, {10, 0}}, juvenileFounders);
  EXPECT_EQ(sexuate.GetPatches(0)->SexRatio(), 0.0f) << "no adults yet";
  EXPECT_EQ(sexuate.GetPatches(1)->SexRatio(), 0.0f) << "empty patch";
  sexuate.TimeStep(1);
  tPatchSexuate* patch = static_cast<tPatchSexuate*>(sexuate.GetPatches(0));
  const Integer males = patch->MatureMaleCount();
  EXPECT_FLOAT_EQ(patch->SexRatio(), static_cast<float>(12 - males) / 12);
}

TEST(MetapopIBMRun, TagCountCountsTaggedIndividualsPerTagValue) {
  // Founders pass a random branch to one of two tags; the third value is never given.
  tLifeEvent random = Event(leRandom, 2, 3);
  random.Threshold = 0.5;
  tLifeEvent tag5 = Event(leTag, 4);
  tag5.Tag = 5;
  tLifeEvent tag9 = Event(leTag, 4);
  tag9.Tag = 9;
  tLifeEvent tag1 = Event(leTag, 4);
  tag1.Tag = 1;
  const tLifeCycle cycle = {Event(leBirth, 1), random, tag5, tag9, Event(leGetOlder), tag1,
                            Event(leGetOlder)};
  tMetaPop metapop;
  utile::SetSeeds(8, 8);
  Build(metapop, rmClonal, {{10, 30}, {10, 20}}, cycle);
  EXPECT_EQ(metapop.TagCount(), (utile::tVectorOfCardinal{0, 0, 0})) << "untagged founders are not counted";
  metapop.TimeStep(1);
  Cardinal five = 0, nine = 0;
  for (Integer p = 0; p < 2; ++p)
    for (tIndividual* ind : ibmtest::Individuals(metapop.GetPatches(p))) {
      five += ind->Tag() == 5;
      nine += ind->Tag() == 9;
    }
  EXPECT_EQ(five + nine, 50u);
  EXPECT_EQ(metapop.TagCount(), (utile::tVectorOfCardinal{0, five, nine}));
  const auto first = metapop.GetPatches(0)->TagCount();
  const auto second = metapop.GetPatches(1)->TagCount();
  EXPECT_EQ(first[1] + second[1], five);
  EXPECT_EQ(first[1] + first[2], 30u);
}

TEST(MetapopIBMRun, IndividualsAreVisitedFromTheLastAndPatchesFromTheFirst) {
  // Each clonal founder has many offspring; IDs are given in visiting order.
  const tLifeCycle cycle = {Event(leBirth, 2), ibmtest::Reproduction(rtDensityIndependent, 40, 2),
                            Event(leGetOlder)};
  tMetaPop metapop;
  utile::SetSeeds(2, 9);
  Build(metapop, rmClonal, {{100, 3}, {100, 2}}, cycle, true);
  // Founders: IDs 1..3 in patch 1, 4..5 in patch 2.
  metapop.TimeStep(1);
  const auto first = ibmtest::Individuals(metapop.GetPatches(0));
  const auto second = ibmtest::Individuals(metapop.GetPatches(1));
  ASSERT_GT(first.size(), 3u);
  ASSERT_GT(second.size(), 2u);
  EXPECT_EQ(first[3]->ID(), 6u) << "the first newborn of the step";
  EXPECT_EQ(metapop.Pedigree()->GetIndividuals(6).Mother, 3u) << "born to the last founder of patch 1";
  const Cardinal firstOfPatch2 = second[2]->ID();
  EXPECT_EQ(metapop.Pedigree()->GetIndividuals(firstOfPatch2).Mother, 5u);
  EXPECT_EQ(firstOfPatch2, static_cast<Cardinal>(first.size()) - 3 + 6) << "patch 2 after all of patch 1";
}

TEST(MetapopIBMRun, PedigreeRecordsBirthsCensusesAndCensusedDeaths) {
  // Founders of patch 1 all move to patch 2, are censused there when they age,
  // and once more at a censused death.
  ibmtest::SetLandscape({{0, 0}, {1, 0}}, 1.0);
  for (tDeathStat stat : {dsCensused, dsUnnoticed}) {
    tMetaPop metapop;
    metapop.Species->SexRatio = 0.5;
    utile::SetSeeds(31, 1);
    Build(metapop, rmSexuate, {{10, 3}, {10, 0}},
          {Event(leBirth, 1), ibmtest::Dispersal(1.0, 1.0, 2), Event(leGetOlder, 3), ibmtest::Death(stat)},
          true);
    std::vector<tPedigreeSex> sexes;
    for (tIndividual* ind : ibmtest::Individuals(metapop.GetPatches(0)))
      sexes.push_back(ind->Sex() == sFemale ? psFemale : psMale);
    metapop.Run(2, 1);
    const tPedigree& pedigree = *metapop.Pedigree();
    ASSERT_EQ(pedigree.Count(), 3u);
    for (Cardinal id = 1; id <= 3; ++id) {
      const tPedigreeInfo info = pedigree.GetIndividuals(id);
      EXPECT_EQ(info.Date, 1u);
      EXPECT_EQ(info.Patch, 1u);
      EXPECT_EQ(info.Mother, 0u);
      EXPECT_EQ(info.Father, 0u);
      EXPECT_EQ(info.Sex, sexes[id - 1]);
      const tVectorOfCardinal expected =
          stat == dsCensused ? tVectorOfCardinal{1, 1, 2, 2} : tVectorOfCardinal{1, 1, 2};
      EXPECT_EQ(pedigree.GetPositions(id), expected) << id;
    }
  }
}

TEST(MetapopIBMRun, PedigreeMarksIndividualsWithoutSex) {
  tMetaPop metapop;
  Build(metapop, rmHermaphrodite, {{10, 2}}, {Event(leBirth, 1), Event(leGetOlder)}, true);
  EXPECT_EQ(metapop.Pedigree()->GetIndividuals(1).Sex, psNA);
  EXPECT_EQ(metapop.Pedigree()->GetIndividuals(2).Sex, psNA);
}

TEST(MetapopIBMRun, SetIndMovesTheCountsAndKeepsTheAdultMales) {
  // Founders are juveniles until their first Aging; a recycled adult male replaces one.
  const tLifeCycle cycle = {Event(leBirth, 1), Event(leGetOlder, 2), ibmtest::Reproduction(rtCeiling, 2, 3),
                            Event(leGetOlder)};
  tMetaPop metapop;
  metapop.Species->SexRatio = 0.0;  // every newborn male
  Build(metapop, rmSexuate, {{10, 4}, {10, 1}}, cycle);
  metapop.TimeStep(1);  // both patches' founders are now adult males
  tPatchSexuate* patch = static_cast<tPatchSexuate*>(metapop.GetPatches(0));
  ASSERT_EQ(patch->MatureMaleCount(), 4);
  const tIndividual juvenile = metapop.Pool()->Take(nullptr, nullptr);
  const Cardinal replaced = patch->GetInd(2)->ID();
  patch->SetInd(2, juvenile);
  EXPECT_EQ(patch->GetInd(2)->ID(), juvenile.ID());
  EXPECT_EQ(patch->IndCount(), 4);
  EXPECT_EQ(patch->NadultsActual(), 3);
  EXPECT_EQ(patch->NjuvenilesActual(), 1);
  EXPECT_EQ(patch->MatureMaleCount(), 3);
  for (Integer i = 0; i < patch->MatureMaleCount(); ++i) EXPECT_NE(patch->MatureMale(i).ID, replaced);
}

int gPumps = 0;
void CountingPump() {
  ++gPumps;
  utile::SetMessagePump(&CountingPump);  // pump again at the next chance, whatever the time
}

TEST(MetapopIBMRun, LetsMessagesThroughDuringAPass) {
  tMetaPop metapop;
  Build(metapop, rmClonal, {{10, 3000}, {10, 3000}}, {Event(leBirth, 1), Event(leGetOlder, 2), Event(leGetOlder)});
  gPumps = 0;
  utile::SetMessagePump(&CountingPump);
  metapop.TimeStep(1);
  utile::SetMessagePump(nullptr);
  // At the start of the step, and every few dozen individuals.
  EXPECT_GE(gPumps, 1 + 6000 / 64);
}

TEST(MetapopIBMRun, DeathsOfFailedSurvivalAreNotCensused) {
  tMetaPop metapop;
  tLifeEvent survival = ibmtest::Survival(0.0, 2, -1);
  Build(metapop, rmClonal, {{10, 4}}, {Event(leBirth, 1), survival, Event(leGetOlder)}, true);
  metapop.TimeStep(1);
  ASSERT_EQ(metapop.N(), 0);
  for (Cardinal id = 1; id <= 4; ++id) EXPECT_EQ(metapop.Pedigree()->GetPositions(id), (tVectorOfCardinal{1, 1}));
}

// ------------------------------------------------------------------ rules

TEST(MetapopIBMRules, DensityRulesThatDivideByZeroRaiseMathErrors) {
  struct tCase {
    const char* Name;
    tLifeEvent Rule;
    Integer Capacity;
    double JuvenileWeight;
    const char* MessagePart;
  };
  tLifeEvent regulation = Event(leRegulation, 2, 2);
  const tCase cases[] = {
      // All founders are adults: a juvenile weight of 1 makes the competitive density 0.
      {"ceiling K = N = 0", ibmtest::Reproduction(rtCeiling, 2, 2), 0, 1.0, "divides by zero"},
      {"regulation K = N = 0", regulation, 0, 1.0, "divides by zero"},
      {"Ricker fecundity 0", ibmtest::Reproduction(rtRicker, 0, 2), 10, 0.0, "must be positive"},
      {"Ricker fecundity -1", ibmtest::Reproduction(rtRicker, -1, 2), 10, 0.0, "must be positive"},
      {"Ricker K = 0", ibmtest::Reproduction(rtRicker, 2, 2), 0, 0.0, "capacity is 0"},
      {"Gompertz K = 1", ibmtest::Reproduction(rtGompertz, 2, 2), 1, 0.0, "divides by zero"},
      {"Gompertz K = 0", ibmtest::Reproduction(rtGompertz, 2, 2), 0, 0.0, "logarithm"},
  };
  for (const tCase& c : cases) {
    tMetaPop metapop;
    metapop.Species->JuvenileWeight = c.JuvenileWeight;
    Build(metapop, rmClonal, {{c.Capacity, 3}}, {Event(leBirth, 2), c.Rule, Event(leGetOlder)});
    try {
      metapop.TimeStep(1);
      ADD_FAILURE() << c.Name << ": no error";
    } catch (const utile::EMathError& e) {
      EXPECT_NE(std::string(e.what()).find(c.MessagePart), std::string::npos) << c.Name << ": " << e.what();
    }
  }
}

TEST(MetapopIBMRules, SexDependenceNeedsASexuateSpecies) {
  tMetaPop sexuate;
  sexuate.Species->SexRatio = 0.5;
  utile::SetSeeds(4, 1);
  tLifeEvent female = Event(leTag, 3);
  female.Tag = 1;
  tLifeEvent male = Event(leTag, 3);
  male.Tag = 2;
  const tLifeCycle cycle = {Event(leBirth, 1), Event(leSexConditional, 2, 4), female, Event(leGetOlder),
                            male};
  Build(sexuate, rmSexuate, {{100, 40}}, cycle);
  sexuate.TimeStep(1);
  for (tIndividual* ind : ibmtest::Individuals(sexuate.GetPatches(0)))
    EXPECT_EQ(ind->Tag(), ind->Sex() == sFemale ? 1 : 2);

  tMetaPop clonal;
  Build(clonal, rmClonal, {{100, 1}}, cycle);
  EXPECT_THROW(clonal.TimeStep(1), utile::EInvalidOperation);
}

TEST(MetapopIBMRules, GeneDependenceOnHomozygousFounders) {
  struct tCase {
    double Prevalence;
    tInheritanceType Inheritance;
    Integer Tag;  // 1 = True branch, 2 = False branch
  };
  const tCase cases[] = {
      {1.0, itDominant, 2}, {1.0, itRecessive, 2}, {0.0, itDominant, 1}, {0.0, itRecessive, 1}};
  for (const tCase& c : cases) {
    tMetaPop metapop;
    metapop.GenePrevalences()[6] = c.Prevalence;
    tLifeEvent gene = Event(leGeneConditional, 2, 4);
    gene.Locus = 6;
    gene.Inheritance = c.Inheritance;
    tLifeEvent yes = Event(leTag, 3);
    yes.Tag = 1;
    tLifeEvent no = Event(leTag, 3);
    no.Tag = 2;
    Build(metapop, rmClonal, {{10, 5}}, {Event(leBirth, 1), gene, yes, Event(leGetOlder), no});
    metapop.TimeStep(1);
    for (tIndividual* ind : ibmtest::Individuals(metapop.GetPatches(0))) {
      EXPECT_EQ(ind->Tag(), c.Tag);
      EXPECT_EQ(ind->GeneMother(6), c.Prevalence == 1.0);
      EXPECT_EQ(ind->GeneFather(6), c.Prevalence == 1.0);
    }
  }
}

TEST(MetapopIBMRules, SurvivalRatesOfOneAndZero) {
  for (double rate : {0.0, 1.0}) {
    tMetaPop metapop;
    utile::SetSeeds(6, 6);
    Build(metapop, rmClonal, {{10, 500}}, {Event(leBirth, 1), ibmtest::Survival(rate, 2), Event(leGetOlder)});
    metapop.TimeStep(1);
    EXPECT_EQ(metapop.N(), rate == 1.0 ? 500 : 0);
  }
}

TEST(MetapopIBMRules, LoneHermaphroditeReproducesOnlyBySelfing) {
  const tLifeCycle cycle = {Event(leBirth, 2), ibmtest::Reproduction(rtDensityIndependent, 30, 2),
                            Event(leGetOlder)};
  for (double selfing : {0.0, 1.0}) {
    tMetaPop metapop;
    metapop.Species->Autofecondation = selfing;
    utile::SetSeeds(9, 9);
    Build(metapop, rmHermaphrodite, {{100, 1}}, cycle, true);
    metapop.TimeStep(1);
    const Integer count = metapop.GetPatches(0)->IndCount();
    if (selfing == 0.0) {
      EXPECT_EQ(count, 1);
    } else {
      ASSERT_GT(count, 1);
      const auto info = metapop.Pedigree()->GetIndividuals(2);
      EXPECT_EQ(info.Mother, 1u);
      EXPECT_EQ(info.Father, 1u);
    }
  }
}

TEST(MetapopIBMRules, HermaphroditeMatesWithAnotherAdult) {
  // Newborns are juveniles: only the other founder can be a mate.
  const tLifeCycle cycle = {Event(leBirth, 3), Event(leGetOlder, 2),
                            ibmtest::Reproduction(rtDensityIndependent, 5, 3), Event(leGetOlder)};
  tMetaPop metapop;
  metapop.Species->Autofecondation = 0.0;
  utile::SetSeeds(9, 10);
  Build(metapop, rmHermaphrodite, {{100, 2}}, cycle, true);
  metapop.Run(2, 1);
  const Integer count = metapop.GetPatches(0)->IndCount();
  ASSERT_GT(count, 2);
  for (Cardinal id = 3; id < static_cast<Cardinal>(count) + 1; ++id) {
    const auto info = metapop.Pedigree()->GetIndividuals(id);
    EXPECT_EQ(info.Mother + info.Father, 3u) << "one founder with the other";
  }
}

TEST(MetapopIBMRules, FemalesWithoutAdultMalesHaveNoOffspring) {
  tMetaPop metapop;
  metapop.Species->SexRatio = 1.0;  // every founder is female
  const tLifeCycle cycle = {Event(leBirth, 2), ibmtest::Reproduction(rtDensityIndependent, 10, 2),
                            Event(leGetOlder)};
  Build(metapop, rmSexuate, {{100, 20}}, cycle);
  utile::SetSeeds(1, 1);
  const double before = utile::Ran();
  utile::SetSeeds(1, 1);
  metapop.TimeStep(1);
  EXPECT_EQ(metapop.N(), 20);
  EXPECT_EQ(utile::Ran(), before) << "no mate, no draw";
}

// ------------------------------------------------------------------ statistics

TEST(MetapopIBMStatistics, SurvivalFraction) {
  tMetaPop metapop;
  utile::SetSeeds(21, 1);
  Build(metapop, rmClonal, {{10, 20000}}, {Event(leBirth, 1), ibmtest::Survival(0.7, 2), Event(leGetOlder)});
  metapop.TimeStep(1);
  EXPECT_TRUE(testsupport::ProportionIsNear(metapop.N(), 20000, 0.7));
}

TEST(MetapopIBMStatistics, CeilingRegulationAndRandomBranchesPassInTheirProportions) {
  // Founders are adults (no Reproduction event). The ceiling lets all pass while
  // K > N, otherwise each with probability K / N, N the competitive density.
  struct tCase {
    const char* Name;
    tLifeEventType Type;
    Integer Capacity;
    Integer Founders;
    double JuvenileWeight;
    double Threshold;
    double Expected;
  };
  const tCase cases[] = {
      {"ceiling above K", leRegulation, 3000, 10000, 0.0, 0, 0.3},
      {"ceiling, adults weighted by 1 - JW", leRegulation, 3000, 10000, 0.5, 0, 0.6},
      {"ceiling at N = K", leRegulation, 10000, 10000, 0.0, 0, 1.0},
      {"ceiling below K", leRegulation, 10001, 10000, 0.0, 0, 1.0},
      {"ceiling with K = 0", leRegulation, 0, 10000, 0.0, 0, 0.0},
      {"random", leRandom, 10, 10000, 0.0, 0.37, 0.37},
  };
  for (const tCase& c : cases) {
    tMetaPop metapop;
    metapop.Species->JuvenileWeight = c.JuvenileWeight;
    utile::SetSeeds(32, static_cast<Integer>(c.Expected * 100));
    tLifeEvent rule = Event(c.Type, 2, 3);
    rule.Threshold = c.Threshold;
    tLifeEvent passed = Event(leTag, 4);
    passed.Tag = 1;
    Build(metapop, rmClonal, {{c.Capacity, c.Founders}},
          {Event(leBirth, 1), rule, passed, ibmtest::Death(), Event(leGetOlder)});
    metapop.TimeStep(1);
    EXPECT_TRUE(testsupport::ProportionIsNear(metapop.N(), c.Founders, c.Expected)) << c.Name << ": " << metapop.N();
    EXPECT_EQ(metapop.TagCount(), (utile::tVectorOfCardinal{static_cast<Cardinal>(metapop.N())})) << c.Name;
  }
}

TEST(MetapopIBMStatistics, NewbornSexRatio) {
  tMetaPop metapop;
  metapop.Species->SexRatio = 0.3;
  utile::SetSeeds(22, 1);
  Build(metapop, rmSexuate, {{10, 20000}}, {Event(leBirth, 1), Event(leGetOlder)});
  const Integer males = static_cast<tPatchSexuate*>(metapop.GetPatches(0))->MatureMaleCount();
  EXPECT_TRUE(testsupport::ProportionIsNear(20000 - males, 20000, 0.3));
}

// Offspring per patch after one pass of a reproduction rule, on many small patches.
std::vector<double> OffspringPerPatch(tReproductionType type, double fecundity, Integer capacity,
                                      Integer founders, float suitability,
                                      tReproductionMode mode = rmClonal) {
  tMetaPop metapop;
  utile::SetSeeds(23, static_cast<Integer>(type) * 100 + capacity);
  const Integer patches = 4000;
  std::vector<tPatchSetup> setup(patches, tPatchSetup{capacity, founders, suitability, 0.0f});
  Build(metapop, mode, setup,
        {Event(leBirth, 2), ibmtest::Reproduction(type, fecundity, 2), Event(leGetOlder)});
  metapop.TimeStep(1);
  std::vector<double> offspring;
  for (Integer i = 0; i < patches; ++i) offspring.push_back(metapop.GetPatches(i)->IndCount() - founders);
  return offspring;
}

TEST(MetapopIBMStatistics, OffspringNumbersOfEachReproductionRule) {
  const double root3 = std::sqrt(3.0);
  struct tCase {
    const char* Name;
    tReproductionType Type;
    double Fecundity;
    Integer Capacity;
    Integer Founders;
    float Suitability;
    double MeanPerPatch;  // Poisson: the variance is the mean
  };
  const tCase cases[] = {
      {"density-independent", rtDensityIndependent, 3, 10, 1, 0.5f, 1.5},
      {"ceiling below K", rtCeiling, 3, 10, 2, 0.5f, 2 * 1.5},
      {"ceiling at N = K gives FK without suitability", rtCeiling, 3, 2, 2, 0.5f, 2 * 1.0},
      {"ceiling above K", rtCeiling, 3, 1, 2, 0.5f, 2 * 0.5},
      {"Ricker at N = K gives S FK", rtRicker, 3, 2, 2, 0.5f, 2 * 0.5},
      {"Ricker", rtRicker, 3, 4, 2, 1.0f, 2 * root3},  // 3 exp(-ln 3 / 2)
      {"Gompertz at N = K gives S FK", rtGompertz, 3, 2, 2, 0.5f, 2 * 0.5},
      {"Gompertz", rtGompertz, 3, 4, 2, 1.0f, 2 * root3},                       // 3 x 2^(-ln 3 / ln 4)
      {"Gompertz with one founder", rtGompertz, 3, 4, 1, 1.0f, 3 * 4.0 / 4.0},  // 1^b = 1
  };
  for (const tCase& c : cases) {
    const auto offspring = OffspringPerPatch(c.Type, c.Fecundity, c.Capacity, c.Founders, c.Suitability);
    EXPECT_TRUE(testsupport::MeanIsNear(offspring, c.MeanPerPatch, c.MeanPerPatch)) << c.Name;
    EXPECT_TRUE(testsupport::VarianceIsNear(offspring, c.MeanPerPatch)) << c.Name;
  }
}

TEST(MetapopIBMStatistics, SexuateCeilingAtCapacityGivesTwoOffspringPerFemale) {
  // Sexuate FK = 2: each female has Poisson(2 K / N) offspring when N >= K.
  tMetaPop metapop;
  metapop.Species->SexRatio = 0.5;
  utile::SetSeeds(24, 4);
  const Integer patches = 3000;
  Build(metapop, rmSexuate, std::vector<tPatchSetup>(patches, tPatchSetup{4, 4, 1.0f, 0.0f}),
        {Event(leBirth, 2), ibmtest::Reproduction(rtCeiling, 5, 2), Event(leGetOlder)});
  std::vector<Integer> females(patches), males(patches);
  for (Integer i = 0; i < patches; ++i)
    for (tIndividual* ind : ibmtest::Individuals(metapop.GetPatches(i)))
      (ind->Sex() == sFemale ? females : males)[i]++;
  metapop.TimeStep(1);
  std::vector<double> perFemale;
  for (Integer i = 0; i < patches; ++i)
    if (females[i] == 2 && males[i] == 2) perFemale.push_back((metapop.GetPatches(i)->IndCount() - 4) / 2.0);
  ASSERT_GT(perFemale.size(), 500u);
  // Two females in each kept patch: the mean per female of Poisson(2 x 2) / 2.
  EXPECT_TRUE(testsupport::MeanIsNear(perFemale, 2.0, 2.0 / 2));
}

TEST(MetapopIBMStatistics, DispersalDestinationsAndSurvivalFollowTheMatrices) {
  // Origin 0 at (0,0); destinations at distances 1, 2 and 3, one unlinked.
  ibmtest::SetLandscape({{0, 0}, {1, 0}, {0, 2}, {-3, 0}, {0, -1}}, 1.0);
  const double permeability[5] = {1, 0.9, 0.5, 0.8, 0.7};
  for (int i = 1; i < 5; ++i) FrictionMap[i][0] = FrictionMap[0][i] = permeability[i];
  ConnectanceMat[4][0] = ConnectanceMat[0][4] = false;
  tMetaPop metapop;
  utile::SetSeeds(25, 1);
  const Integer founders = 30000;
  Build(metapop, rmClonal, {{10, founders}, {10, 0}, {10, 0}, {10, 0}, {10, 0}},
        {Event(leBirth, 1), ibmtest::Dispersal(0.6, 1.5, 2), Event(leGetOlder)});
  metapop.TimeStep(1);
  const double distance[4] = {0, 1, 2, 3};
  double sum = 0;
  for (int d = 1; d <= 3; ++d) sum += std::exp(-distance[d] / 1.5);
  std::vector<double> observed, probabilities;
  double alive = 0;
  for (int d = 1; d <= 3; ++d) {
    observed.push_back(metapop.GetPatches(d)->IndCount());
    probabilities.push_back(std::exp(-distance[d] / 1.5) / sum * permeability[d] * 0.6);
    alive += probabilities.back();
  }
  observed.push_back(founders - metapop.N());
  probabilities.push_back(1 - alive);
  EXPECT_EQ(metapop.GetPatches(0)->IndCount(), 0);
  EXPECT_EQ(metapop.GetPatches(4)->IndCount(), 0);
  EXPECT_TRUE(testsupport::CountsFit(observed, probabilities));
}

TEST(MetapopIBMStatistics, UnlinkedPatchKeepsItsDispersers) {
  ibmtest::SetLandscape({{0, 0}, {1, 0}}, 0.5, false);
  tMetaPop metapop;
  Build(metapop, rmClonal, {{10, 100}, {10, 0}},
        {Event(leBirth, 1), ibmtest::Dispersal(0.1, 1, 2), Event(leGetOlder)});
  metapop.TimeStep(1);
  EXPECT_EQ(metapop.GetPatches(0)->IndCount(), 100);
  EXPECT_EQ(metapop.GetPatches(1)->IndCount(), 0);
}

TEST(MetapopIBMStatistics, CeilingHoldsAClonalPopulationAtCapacity) {
  // Parents reproduce then die: whenever N >= K the next generation is Poisson(K).
  const Integer capacity = 200;
  const tLifeCycle cycle = {Event(leBirth, 2), ibmtest::Reproduction(rtCeiling, 5, 3), Event(leGetOlder, 1),
                            ibmtest::Death()};
  tMetaPop metapop;
  utile::SetSeeds(26, 2);
  Build(metapop, rmClonal, {{capacity, 10}}, cycle);
  std::vector<double> atCapacity;
  for (int step = 0; step < 2000; ++step) {
    const Integer before = metapop.N();
    metapop.TimeStep(1);
    ASSERT_FALSE(metapop.Extinct);
    if (before >= capacity) atCapacity.push_back(metapop.N());
  }
  ASSERT_GT(atCapacity.size(), 500u);
  EXPECT_TRUE(testsupport::MeanIsNear(atCapacity, capacity, capacity));
  EXPECT_TRUE(testsupport::VarianceIsNear(atCapacity, capacity));
}

TEST(MetapopIBMStatistics, PatchExtinctionFrequency) {
  const Integer patches = 5000;
  tMetaPop metapop;
  metapop.Species->PatchExtinction = 1;
  utile::SetSeeds(27, 3);
  Build(metapop, rmClonal, std::vector<tPatchSetup>(patches, tPatchSetup{10, 2, 1.0f, 0.3f}),
        {Event(leBirth, 1), Event(leGetOlder, 2), Event(leGetOlder)});
  metapop.TimeStep(1);
  Integer cleared = 0;
  for (Integer i = 0; i < patches; ++i) cleared += metapop.GetPatches(i)->IndCount() == 0;
  EXPECT_TRUE(testsupport::ProportionIsNear(cleared, patches, 0.3f));
}

TEST(MetapopIBMStatistics, FoundersAreHomozygousAtTheirPrevalencesAndClonesCarryTheirMothersGenome) {
  tMetaPop metapop;
  for (int locus = 0; locus < 16; ++locus) metapop.GenePrevalences()[locus] = locus / 16.0;
  utile::SetSeeds(28, 1);
  const Integer patches = 3000;
  Build(metapop, rmClonal, std::vector<tPatchSetup>(patches, tPatchSetup{100, 1, 1.0f, 0.0f}),
        {Event(leBirth, 2), ibmtest::Reproduction(rtDensityIndependent, 3, 2), Event(leGetOlder)});
  std::vector<size_t> mutants(16, 0);
  for (Integer i = 0; i < patches; ++i) {
    const Cardinal genes = metapop.GetPatches(i)->GetInd(0)->Genes();
    ASSERT_EQ(genes & 0xFFFF, genes >> 16) << "homozygous";
    for (int locus = 0; locus < 16; ++locus) mutants[locus] += (genes >> locus) & 1;
  }
  for (int locus = 0; locus < 16; ++locus)
    EXPECT_TRUE(testsupport::ProportionIsNear(mutants[locus], patches, locus / 16.0)) << locus;
  metapop.TimeStep(1);
  Integer clones = 0;
  for (Integer i = 0; i < patches; ++i) {
    const auto individuals = ibmtest::Individuals(metapop.GetPatches(i));
    for (tIndividual* ind : individuals) EXPECT_EQ(ind->Genes(), individuals[0]->Genes());
    clones += static_cast<Integer>(individuals.size()) - 1;
  }
  EXPECT_GT(clones, patches);
}

TEST(MetapopIBMStatistics, RecombinationTakesEachHalfFromOneParentsTwoCopies) {
  // Heterozygous parents at every locus; each child bit is one of the parent's two
  // copies, chosen by a fair coin.
  tMetaPop metapop;
  for (double& p : metapop.GenePrevalences()) p = 0.5;
  metapop.Species->SexRatio = 0.5;
  utile::SetSeeds(29, 1);
  const Integer patches = 2000;
  Build(metapop, rmSexuate, std::vector<tPatchSetup>(patches, tPatchSetup{100, 2, 1.0f, 0.0f}),
        {Event(leBirth, 2), ibmtest::Reproduction(rtDensityIndependent, 4, 2), Event(leGetOlder)});
  metapop.TimeStep(1);
  size_t heterozygousLoci = 0, fromSecondCopy = 0, children = 0;
  for (Integer i = 0; i < patches; ++i) {
    const auto individuals = ibmtest::Individuals(metapop.GetPatches(i));
    const tIndividual* first = individuals[0];
    const tIndividual* second = individuals[1];
    if (first->Sex() == second->Sex()) {
      ASSERT_EQ(individuals.size(), 2u);
      continue;
    }
    const Cardinal mother = (first->Sex() == sFemale ? first : second)->Genes();
    const Cardinal father = (first->Sex() == sFemale ? second : first)->Genes();
    for (size_t k = 2; k < individuals.size(); ++k) {
      const Cardinal child = individuals[k]->Genes();
      ++children;
      for (int locus = 0; locus < 16; ++locus) {
        const int m0 = (mother >> locus) & 1, m1 = (mother >> (16 + locus)) & 1;
        const int f0 = (father >> locus) & 1, f1 = (father >> (16 + locus)) & 1;
        const int cm = (child >> locus) & 1, cf = (child >> (16 + locus)) & 1;
        ASSERT_TRUE(cm == m0 || cm == m1);
        ASSERT_TRUE(cf == f0 || cf == f1);
        if (m0 != m1) {
          ++heterozygousLoci;
          fromSecondCopy += cm == m1;
        }
        if (f0 != f1) {
          ++heterozygousLoci;
          fromSecondCopy += cf == f1;
        }
      }
    }
  }
  ASSERT_GT(children, 1000u);
  EXPECT_TRUE(testsupport::ProportionIsNear(fromSecondCopy, heterozygousLoci, 0.5));
}

TEST(MetapopIBMStatistics, GeneDependenceOnHeterozygousFounders) {
  // Sexuate founders draw each copy independently: mutant in at least one copy with
  // probability 1 - (1 - p)^2, in both with p^2.
  const double p = 0.3;
  for (tInheritanceType inheritance : {itDominant, itRecessive}) {
    tMetaPop metapop;
    metapop.GenePrevalences()[2] = p;
    metapop.Species->SexRatio = 0.5;
    utile::SetSeeds(30, inheritance);
    tLifeEvent gene = Event(leGeneConditional, 2, 4);
    gene.Locus = 2;
    gene.Inheritance = inheritance;
    tLifeEvent no = Event(leTag, 3);
    no.Tag = 2;
    Build(metapop, rmSexuate, {{10, 20000}},
          {Event(leBirth, 1), gene, Event(leGetOlder), Event(leGetOlder), no});
    metapop.TimeStep(1);
    size_t falseBranch = 0;
    for (tIndividual* ind : ibmtest::Individuals(metapop.GetPatches(0))) falseBranch += ind->Tag() == 2;
    const double expected = inheritance == itDominant ? 1 - (1 - p) * (1 - p) : p * p;
    EXPECT_TRUE(testsupport::ProportionIsNear(falseBranch, 20000, expected)) << inheritance;
  }
}

// ------------------------------------------------------------------ reproduction of runs

struct tRunRecord {
  std::vector<std::vector<Integer>> Counts;        // per step, per patch
  std::vector<std::vector<Cardinal>> Individuals;  // at the end: ID, genes, event, age per patch
  std::vector<Cardinal> Pedigree;
  bool operator==(const tRunRecord&) const = default;
};

tRunRecord RecordedRun(Integer seed1, Integer seed2) {
  ibmtest::SetLineLandscape(6, 0.9);
  tMetaPop metapop;
  metapop.Species->SexRatio = 0.5;
  metapop.Species->JuvenileWeight = 0.2;
  for (int locus = 0; locus < 16; ++locus) metapop.GenePrevalences()[locus] = 0.1 + 0.05 * locus;
  utile::SetSeeds(seed1, seed2);
  tLifeEvent tag = Event(leTag, 6);
  tag.Tag = 4;
  const tLifeCycle cycle = {Event(leBirth, 1),
                            ibmtest::Survival(0.9, 2, 7),
                            ibmtest::Dispersal(0.8, 2.0, 3, 7),
                            Event(leGetOlder, 4),
                            ibmtest::Reproduction(rtCeiling, 5, 5),
                            tag,
                            Event(leGetOlder, 7),
                            ibmtest::Death(dsCensused)};
  std::vector<tPatchSetup> patches(6, tPatchSetup{30, 20, 1.0f, 0.0f});
  Build(metapop, rmSexuate, patches, cycle, true);
  tRunRecord record;
  for (int step = 0; step < 40 && !metapop.Extinct; ++step) {
    metapop.TimeStep(1);
    std::vector<Integer> counts;
    for (Integer i = 0; i < metapop.PatchCount(); ++i) counts.push_back(metapop.GetPatches(i)->IndCount());
    record.Counts.push_back(counts);
  }
  for (Integer i = 0; i < metapop.PatchCount(); ++i) {
    std::vector<Cardinal> patch;
    for (tIndividual* ind : ibmtest::Individuals(metapop.GetPatches(i)))
      patch.insert(patch.end(), {ind->ID(), ind->Genes(), static_cast<Cardinal>(ind->Event()),
                                 static_cast<Cardinal>(ind->Age()), static_cast<Cardinal>(ind->Tag())});
    record.Individuals.push_back(patch);
  }
  for (Cardinal id = 1; id < metapop.CurrentID; ++id) {
    const auto info = metapop.Pedigree()->GetIndividuals(id);
    record.Pedigree.insert(record.Pedigree.end(),
                           {Cardinal{info.Date}, Cardinal{info.ID}, Cardinal{info.Mother},
                            Cardinal{info.Father}, Cardinal{info.Patch}, static_cast<Cardinal>(info.Sex)});
  }
  return record;
}

TEST(MetapopIBMReproduction, SameSeedsGiveTheSameRunPedigreeIncluded) {
  const tRunRecord first = RecordedRun(7, 3);
  const tRunRecord second = RecordedRun(7, 3);
  ASSERT_GE(first.Counts.size(), 40u);
  ASSERT_GT(first.Pedigree.size(), 6 * 2000u) << "births";
  EXPECT_TRUE(first == second);
  const tRunRecord other = RecordedRun(7, 4);
  EXPECT_FALSE(first.Counts == other.Counts);
}

// ------------------------------------------------------------------ against a plain model

struct tReferenceCase {
  const char* Name;
  tReproductionMode Mode;
  bool Synchronisation;
  tReproductionType Reproduction;
  Integer Cycles;
  int Steps;
  tInheritanceType Inheritance = itDominant;
};

// The engine's state in the terms of the plain model.
void ExpectSameState(tMetaPop& engine, const ibmtest::tReferenceModel& reference, const char* name,
                     int step) {
  ASSERT_EQ(engine.CurrentID, reference.CurrentID) << name << " step " << step;
  ASSERT_EQ(engine.Time, reference.Time) << name << " step " << step;
  for (Integer p = 0; p < engine.PatchCount(); ++p) {
    tPatch* patch = engine.GetPatches(p);
    const auto& expected = reference.Patches[p];
    ASSERT_EQ(patch->IndCount(), static_cast<Integer>(expected.Inds.size())) << name << " step " << step;
    for (Integer i = 0; i < patch->IndCount(); ++i) {
      const tIndividual* ind = patch->GetInd(i);
      const auto& other = reference.Objects[expected.Inds[i]];
      ASSERT_EQ(ind->ID(), other.ID) << name << " step " << step << " patch " << p << " index " << i;
      ASSERT_EQ(ind->Genes(), other.Genes);
      ASSERT_EQ(ind->Event(), other.Event);
      ASSERT_EQ(ind->Age(), other.Age);
      ASSERT_EQ(ind->Tag(), other.Tag);
    }
    ASSERT_EQ(patch->N(acJuvenile), expected.Juveniles);
    ASSERT_EQ(patch->N(acAdult), expected.Adults);
    ASSERT_EQ(patch->NjuvenilesActual(), expected.JuvenilesActual);
    ASSERT_EQ(patch->NadultsActual(), expected.AdultsActual);
    if (auto* sexuate = dynamic_cast<tPatchSexuate*>(patch)) {
      ASSERT_EQ(sexuate->MatureMaleCount(), static_cast<Integer>(expected.Males.size()));
      for (Integer i = 0; i < sexuate->MatureMaleCount(); ++i)
        ASSERT_EQ(sexuate->MatureMale(i).ID, reference.Objects[expected.Males[i]].ID);
    }
  }
}

// Births and censuses of every ID given, as the plain model recorded them.
void ExpectSamePedigree(const tMetaPop& engine, const ibmtest::tReferenceModel& reference, const char* name) {
  const tPedigree& pedigree = *engine.Pedigree();
  ASSERT_EQ(pedigree.Count(), static_cast<Cardinal>(reference.Records.size())) << name;
  for (Cardinal id = 1; id <= pedigree.Count(); ++id) {
    const auto& record = reference.Records[id - 1];
    const tPedigreeInfo info = pedigree.GetIndividuals(id);
    ASSERT_EQ(info.ID, id) << name;
    ASSERT_EQ(info.Date, record.Date) << name << " ID " << id;
    ASSERT_EQ(info.Mother, record.Mother) << name << " ID " << id;
    ASSERT_EQ(info.Father, record.Father) << name << " ID " << id;
    ASSERT_EQ(info.Patch, record.Patch) << name << " ID " << id;
    ASSERT_EQ(info.Sex, record.Sex) << name << " ID " << id;
    tVectorOfCardinal positions = {record.Date, record.Patch};
    positions.insert(positions.end(), record.Censuses.begin(), record.Censuses.end());
    ASSERT_EQ(pedigree.GetPositions(id), positions) << name << " ID " << id;
  }
}

// Runs the engine and the plain model on one landscape and cycle, step by step from
// the same seeds, pedigrees on, and compares everything after every step.
void RunAgainstThePlainModel(const tReferenceCase& c, const tLifeCycle& cycle) {
  // Seven patches, some pairs unlinked, permeabilities that differ.
  utile::SetSeeds(40, 1);
  std::vector<std::pair<double, double>> positions;
  for (int i = 0; i < 7; ++i) positions.emplace_back(utile::Ran(0.0, 10.0), utile::Ran(0.0, 10.0));
  ibmtest::SetLandscape(positions, 1.0);
  for (int i = 0; i < 7; ++i)
    for (int j = 0; j < i; ++j) {
      FrictionMap[i][j] = FrictionMap[j][i] = utile::Ran(0.5, 1.0);
      ConnectanceMat[i][j] = ConnectanceMat[j][i] = utile::Ran() < 0.7;
    }
  const std::vector<tPatchSetup> patches = {
      {40, 30, 1.0f, 0.02f}, {25, 20, 0.8f, 0.0f}, {40, 0, 1.0f, 0.05f}, {10, 10, 1.0f, 0.0f},
      {60, 40, 0.6f, 0.0f},  {40, 5, 1.0f, 0.1f},  {30, 30, 1.0f, 0.0f}};

  tMetaPop engine;
  engine.Species->SexRatio = 0.45;
  engine.Species->Autofecondation = 0.3;
  engine.Species->JuvenileWeight = 0.25;
  engine.Species->PatchExtinction = 1;
  for (int locus = 0; locus < 16; ++locus) engine.GenePrevalences()[locus] = 0.05 * locus;
  utile::SetSeeds(41, 2);
  Build(engine, c.Mode, patches, cycle, true);
  const Integer pool = engine.Pool()->Count();

  ibmtest::tReferenceModel reference;
  reference.Mode = c.Mode;
  reference.SexRatio = 0.45;
  reference.Autofecondation = 0.3;
  reference.JuvenileWeight = 0.25;
  reference.PatchExtinction = true;
  reference.KeepPedigree = true;
  for (int locus = 0; locus < 16; ++locus) reference.Prevalence[locus] = 0.05 * locus;
  reference.SetCycle(cycle);
  reference.Patches.resize(patches.size());
  utile::SetSeeds(41, 2);
  for (size_t p = 0; p < patches.size(); ++p) {
    reference.Patches[p].Capacity = patches[p].Capacity;
    reference.Patches[p].Suitability = patches[p].Suitability;
    reference.Patches[p].Extinction = patches[p].Extinction;
    reference.AddFounders(static_cast<int>(p), patches[p].Founders);
  }
  reference.GrowPool(pool - static_cast<Integer>(reference.Pool.size()));
  ASSERT_EQ(static_cast<Integer>(reference.Pool.size()), pool);

  ExpectSameState(engine, reference, c.Name, 0);
  for (int step = 1; step <= c.Steps; ++step) {
    // The two models draw from one stream: each step starts from the same seed.
    utile::SetSeeds(42, step);
    engine.TimeStep(c.Cycles);
    utile::SetSeeds(42, step);
    reference.TimeStep(c.Cycles);
    ExpectSameState(engine, reference, c.Name, step);
    if (::testing::Test::HasFatalFailure()) return;
  }
  ExpectSamePedigree(engine, reference, c.Name);
  EXPECT_GT(engine.CurrentID, 500u) << c.Name << ": the run must not die out early";
  EXPECT_GT(engine.N(), 0) << c.Name;
}

TEST(MetapopIBMReproduction, RunsExactlyAsAPlainModelWithOrderedLists) {
  const tReferenceCase cases[] = {
      {"sexuate with synchronisation", rmSexuate, true, rtCeiling, 1, 60},
      {"sexuate without synchronisation", rmSexuate, false, rtCeiling, 1, 60},
      {"sexuate, two cycles a step", rmSexuate, false, rtCeiling, 2, 40},
      {"sexuate, growing", rmSexuate, false, rtDensityIndependent, 1, 8},
      {"hermaphrodite", rmHermaphrodite, false, rtCeiling, 1, 60},
      {"hermaphrodite with synchronisation", rmHermaphrodite, true, rtDensityIndependent, 1, 6},
      {"clonal", rmClonal, true, rtCeiling, 1, 60},
  };
  for (const tReferenceCase& c : cases) {
    // Overlapping generations: adults age and go round again until they fail to
    // survive; some are tagged on the way.
    tLifeEvent random = Event(leRandom, 7, 8);
    random.Threshold = 0.5;
    tLifeEvent tag = Event(leTag, 8);
    tag.Tag = 3;
    const tLifeCycle cycle = {Event(leBirth, 1),
                              ibmtest::Survival(0.8, 2, 9),
                              ibmtest::Dispersal(0.9, 2.0, 3, 9),
                              Event(leGetOlder, c.Synchronisation ? 4 : 5),
                              Event(leSynchro, 5),
                              ibmtest::Reproduction(c.Reproduction, 2.5, 6),
                              random,
                              tag,
                              Event(leGetOlder, 1),
                              ibmtest::Death()};
    RunAgainstThePlainModel(c, cycle);
    if (HasFatalFailure()) return;
  }
}

TEST(MetapopIBMReproduction, EveryRuleRunsExactlyAsInThePlainModel) {
  // Ceiling regulation before reproduction (its failures die censused), Ricker or
  // Gompertz reproduction, a gene-dependent and a sex-dependent (or random) branch
  // to tags.
  const tReferenceCase cases[] = {
      {"sexuate, Ricker", rmSexuate, false, rtRicker, 1, 40},
      {"sexuate, Gompertz, synchronisation, recessive", rmSexuate, true, rtGompertz, 1, 40, itRecessive},
      {"hermaphrodite, Ricker, two cycles a step", rmHermaphrodite, false, rtRicker, 2, 30},
      {"hermaphrodite, Gompertz, synchronisation", rmHermaphrodite, true, rtGompertz, 1, 40, itRecessive},
      {"clonal, Gompertz", rmClonal, false, rtGompertz, 1, 40},
      {"clonal, Ricker, synchronisation", rmClonal, true, rtRicker, 1, 40, itRecessive},
  };
  for (const tReferenceCase& c : cases) {
    tLifeEvent regulation = Event(leRegulation, 5, 9);
    tLifeEvent gene = Event(leGeneConditional, 7, 8);
    gene.Locus = 3;
    gene.Inheritance = c.Inheritance;
    tLifeEvent tag5 = Event(leTag, 8);
    tag5.Tag = 5;
    tLifeEvent branch = Event(c.Mode == rmSexuate ? leSexConditional : leRandom, 10, 12);
    branch.Threshold = 0.6;
    tLifeEvent tag9 = Event(leTag, 10);
    tag9.Tag = 9;
    const tLifeCycle cycle = {Event(leBirth, 1),
                              ibmtest::Survival(0.85, 2),
                              ibmtest::Dispersal(0.9, 2.0, 3),
                              Event(leGetOlder, c.Synchronisation ? 11 : 4),
                              regulation,
                              ibmtest::Reproduction(c.Reproduction, c.Mode == rmSexuate ? 3.5 : 2.5, 6),
                              gene,
                              tag5,
                              branch,
                              ibmtest::Death(dsCensused),
                              Event(leGetOlder, 1),
                              Event(leSynchro, 4),
                              tag9};
    RunAgainstThePlainModel(c, cycle);
    if (HasFatalFailure()) return;
  }
}

// ------------------------------------------------------------------ memory given back

constexpr double Megabyte = 1024.0 * 1024.0;

// The sexual cycle of a long run: survival, ageing, reproduction at the ceiling,
// a censused death.
tLifeCycle LongRunCycle() {
  return {Event(leBirth, 1), ibmtest::Survival(0.8, 2, 4), Event(leGetOlder, 3),
          ibmtest::Reproduction(rtCeiling, 4, 4), ibmtest::Death(dsCensused)};
}

// A new run as the workbench makes it, on 14 patches of capacity k filled at
// capacity, then run with the pedigree until more than `ids` IDs are given.
void NewRun(tMetaPop& metapop, Integer k, bool pedigree, Cardinal ids) {
  utile::SetSeeds(10, 1);
  metapop.Species->SexRatio = 0.5;
  Build(metapop, rmSexuate, std::vector<tPatchSetup>(14, tPatchSetup{k, k}), LongRunCycle(), pedigree);
  metapop.MaxIndividuals = ids;
  if (ids == 0) return;
  while (!metapop.Overflow && !metapop.Extinct) metapop.Run(1, 1);
  ASSERT_TRUE(metapop.Overflow);
}

// What a run holds at the least, in megabytes: 21 bytes a pedigree record and 4
// a census, 24 bytes an individual.
double LeastHeldMegabytes(const tMetaPop& metapop) {
  double bytes = 0;
  if (const tPedigree* pedigree = metapop.Pedigree())
    for (Cardinal id = 1; id <= pedigree->Count(); ++id)
      bytes += 21 + 4.0 * (pedigree->GetDeathDate(id) - pedigree->GetBirthDate(id));
  for (Integer p = 0; p < metapop.PatchCount(); ++p) bytes += 24.0 * metapop.GetPatches(p)->IndCount();
  return bytes / Megabyte;
}

// Whatever frees a run's pedigree, its genomes or its populations gives their
// memory back to the system, also when the allocator would keep it (as it does
// in the program).
TEST(MetapopIBMMemory, ARunsPedigreeAndPopulationsAreGivenBackWhenFreed) {
  if (testsupport::UnderSanitizers)
    GTEST_SKIP() << "the sanitizers' allocator keeps freed memory in quarantine";
  using tGenomes = std::unique_ptr<tGeneticPedigree>;
  struct tCase {
    const char* Name;
    Integer Capacity;
    bool Pedigree;
    Cardinal IDs;  // 0: the founders alone
    bool Genomes;  // made after the run, and what the case frees
    std::function<void(std::unique_ptr<tMetaPop>&, tGenomes&)> Free;
  };
  const std::vector<tCase> cases = {
      {"initialised", 2000, true, 3000000, false, [](auto& m, auto&) { m->Initialise(); }},
      {"a new run", 2000, true, 3000000, false, [](auto& m, auto&) { NewRun(*m, 2000, true, 0); }},
      {"pedigree switched off", 2000, true, 3000000, false,
       [](auto& m, auto&) { m->SetGeneratePedigree(false); }},
      {"closed", 2000, true, 3000000, false, [](auto& m, auto&) { m.reset(); }},
      {"genomes freed", 2000, true, 3000000, true, [](auto&, auto& g) { g.reset(); }},
      {"large populations, a new run", 150000, false, 0, false,
       [](auto& m, auto&) { NewRun(*m, 10, false, 0); }},
      {"large populations, closed", 150000, false, 0, false, [](auto& m, auto&) { m.reset(); }},
  };
  for (const tCase& c : cases) {
    testsupport::tHeapAsWindowsLeaveIt heap;
    auto metapop = std::make_unique<tMetaPop>();
    NewRun(*metapop, c.Capacity, c.Pedigree, c.IDs);
    if (HasFatalFailure()) return;
    tGenomes genomes;
    double least = LeastHeldMegabytes(*metapop);
    if (c.Genomes) {
      genomes = std::make_unique<tGeneticPedigree>(*metapop->Pedigree());
      least = 16.0 * (metapop->Pedigree()->Count() + 1) / Megabyte;  // two 8-byte genomes an ID
    }
    heap.TakeBlockAbove();
    const double held = testsupport::ResidentMB("VmRSS:");
    c.Free(metapop, genomes);
    if (HasFatalFailure()) return;
    EXPECT_GE(held - testsupport::ResidentMB("VmRSS:"), least / 2) << c.Name << ": " << least << " MB held";
  }
}

// A new run frees the last one before it grows: two runs in a row reach the
// peak of one.
TEST(MetapopIBMMemory, TwoRunsInARowPeakNoHigherThanOne) {
  if (testsupport::UnderSanitizers)
    GTEST_SKIP() << "the sanitizers' allocator keeps freed memory in quarantine";
  testsupport::tHeapAsWindowsLeaveIt heap;
  tMetaPop metapop;
  testsupport::ResetPeakMemory();
  NewRun(metapop, 2000, true, 3000000);
  if (HasFatalFailure()) return;
  const double least = LeastHeldMegabytes(metapop);
  const double onePeak = testsupport::ResidentMB("VmHWM:");
  heap.TakeBlockAbove();
  testsupport::ResetPeakMemory();
  NewRun(metapop, 2000, true, 3000000);
  if (HasFatalFailure()) return;
  const double twoPeak = testsupport::ResidentMB("VmHWM:");
  EXPECT_LE(twoPeak, onePeak + least / 4)
      << "one run " << onePeak << " MB, of which " << least << " MB the run's";
}

}  // namespace
