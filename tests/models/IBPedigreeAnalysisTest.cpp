#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "TestSupport/NumericLocale.h"
#include "Utile/RandomFunctions.h"
#include "Utile/RunTime.h"
#include "models/IBPedigreeAnalysis.h"
#include "tests/models/PedigreeReference.h"

using namespace models;

namespace {

tPedigreeAnalysisOptions Options(bool juveniles, bool adults, bool f, bool theta, bool alpha,
                                 tSamplingScheme sampling, Integer n) {
  tPedigreeAnalysisOptions o;
  o.Juveniles = juveniles;
  o.Adults = adults;
  o.F = f;
  o.Theta = theta;
  o.Alpha = alpha;
  o.Sampling = sampling;
  o.PatchCount = n;
  return o;
}

void PrepareSmallRun(tPedigree& pedigree) {
  pedigreetest::FillSmallRun(pedigree);
  pedigree.SetMaxAge(1);
  pedigree.SetAgeReproduction(1);
}

}  // namespace

TEST(PedigreeAnalysis, AllClassesWeighTheTotalsAndKeepWhatOneClassLacks) {
  tPedigree pedigree;
  PrepareSmallRun(pedigree);
  // t = 1, transversal: juveniles 8 (patch 1) and 9 (patch 2), both F 0.25, at date 2; adults 5
  // (patch 1) and 6 (patch 2), both F 0; wJ = wA = 1/2. Theta: every patch holds one individual of a class.
  tPedigreeAnalysis analysis(pedigree, Options(true, true, true, true, false, ssTransversal, 3));
  analysis.Compute(1);
  ASSERT_TRUE(analysis.JuvenilesInRange());
  const tAgeClassValues& all = analysis.Values(pacAll);
  EXPECT_EQ(all.Sizes, (tVectorOfCardinal{4, 2, 2, 0}));
  EXPECT_EQ(all.F, (tVectorOfDouble{0.125, 0.125, 0.125, -1}));
  EXPECT_EQ(all.Theta, (tVectorOfDouble{-1, -1, -1, -1}));
  // t = 2: juvenile 10 (F 0.375) in patch 1, adult 8 (F 0.25) in patch 1, nobody in patch 2.
  analysis.Compute(2);
  EXPECT_EQ(analysis.Values(pacAll).F, (tVectorOfDouble{0.3125, 0.3125, -1, -1}));
  // t = 3: no juvenile date; the all-classes values are the adults' (10 at date 4).
  analysis.Compute(3);
  EXPECT_FALSE(analysis.JuvenilesInRange());
  EXPECT_EQ(analysis.Values(pacJuveniles).F, (tVectorOfDouble{0, 0, 0, 0}));
  EXPECT_EQ(analysis.Values(pacAll).F, (tVectorOfDouble{0.375, 0.375, -1, -1}));
  EXPECT_EQ(analysis.Values(pacAll).Sizes, (tVectorOfCardinal{1, 1, 0, 0}));
  // Longitudinal, t = 1: juveniles at date 1 (5 and 6 in patch 1, theta 0.25; 7 alone in patch 2),
  // adults at date 2 alone in their patches. Where the adults have no pair, the juveniles' mean stands
  // (weighed with the adults' -1 it would read 0.6 x 0.25 - 0.4).
  tPedigreeAnalysis cohort(pedigree, Options(true, true, false, true, false, ssLongitudinal, 3));
  cohort.Compute(1);
  EXPECT_EQ(cohort.Values(pacAll).Theta, (tVectorOfDouble{0.25, 0.25, -1, -1}));
  // t = 0: no juveniles yet; the all-classes values are the adults'.
  cohort.Compute(0);
  EXPECT_FALSE(cohort.JuvenilesInRange());
  EXPECT_EQ(cohort.Values(pacAll).Theta, cohort.Values(pacAdults).Theta);
  EXPECT_EQ(cohort.Values(pacAll).Sizes, (tVectorOfCardinal{4, 3, 1, 0}));
}

TEST(PedigreeAnalysis, SummaryOfTheLastPass) {
  tPedigree pedigree;
  PrepareSmallRun(pedigree);
  struct {
    tPedigreeAnalysisOptions Options;
    tVectorOfString Lines;
  } table[] = {
      // Transversal: no juvenile date at t = 3 (zeros); adult 10 alone in patch 1, F 0.375, patch 3 unknown.
      {Options(true, true, true, false, true, ssTransversal, 3),
       {"Juveniles", "=========", "F vector", "0\t0\t0\t0\t", "", "Theta matrix", "0\t0\t0\t0", "0\t0\t0\t0",
        "0\t0\t0\t0", "0\t0\t0\t0", "", "Adults", "======", "F vector", "0.375\t0.375\t-1\t-1\t", "",
        "Theta matrix", "-1\t0\t0\t0", "0\t0.375\t-1\t-1", "0\t-1\t-1\t-1", "0\t-1\t-1\t-1", ""}},
      // Longitudinal: juveniles at date 3, 10 alone: no pair.
      {Options(true, false, false, true, false, ssLongitudinal, 2),
       {"Juveniles", "=========", "Theta vector", "-1\t-1\t-1\t", ""}},
      {Options(true, true, false, false, false, ssTransversal, 2), {}},
  };
  for (const auto& c : table) {
    tPedigreeAnalysis analysis(pedigree, c.Options);
    for (Integer pass = analysis.FirstPass(); pass <= analysis.LastPass(); ++pass) analysis.Compute(pass);
    EXPECT_EQ(analysis.SummaryLines(), c.Lines);
  }
}

TEST(PedigreeEquilibrium, DeviationOverTheLastStepsOnly) {
  const std::vector<Double> rising = {9, 9, 1, 2, 3, 4, 5}, falling = {0, 5, 4, 3, 2, 1};
  struct {
    std::vector<Double> Values;
    Integer Steps;
    Double Expected;
  } table[] = {
      {{3, 3, 3, 3, 3}, 4, -0.5},  // no strictly greater pair
      {rising, 4, 1.0},            // 3 of 3 comparisons: 3 / 4 x 2 - 0.5
      {falling, 4, -0.5},
      {{1, 2, 1, 2, 1}, 4, -0.5},  // y[i + 2] = y[i]
      {{5, 1, 3, 2, 4}, 4, 0.5},   // 3 < 5, 2 > 1, 4 > 3: two of three
  };
  for (const auto& c : table) EXPECT_DOUBLE_EQ(DeviationFromEquilibrium(c.Values, c.Steps), c.Expected);
  // 500 steps of a rising series: 251 of 251 comparisons.
  std::vector<Double> up(501);
  for (size_t i = 0; i < up.size(); ++i) up[i] = Double(i);
  EXPECT_DOUBLE_EQ(DeviationFromEquilibrium(up, 500), 251.0 / 500 * 2 - 0.5);
  EXPECT_THROW(DeviationFromEquilibrium({1, 2, 3, 4}, 4), utile::EInvalidOperation);
  EXPECT_THROW(DeviationFromEquilibrium({}, 500), utile::EInvalidOperation);
}

TEST(PedigreeEquilibrium, DemographicAndGeneticBlocks) {
  // Two individuals born at 1 in patch 1: A goes to patch 2 at 2 and back at 3, B stays.
  tPedigree pedigree;
  pedigree.Add(1, 1, 0, 0, 1, psNA);
  pedigree.Add(1, 2, 0, 0, 1, psNA);
  for (Cardinal patch : {2u, 1u}) pedigree.AddPosition(1, patch);
  pedigree.AddPosition(2, 1);
  pedigree.SetMaxAge(5);
  // N = 2 over points 1..3; three patches, the third unknown to the pedigree.
  const std::vector<Double> global = {50, 5, 5, 7};
  const std::vector<std::vector<Double>> patches = {{9, 2.4, 2.6, 4}, {0, 0, 0, 0}, {1, 0, 0, 0}};
  tEquilibriumOptions options;
  options.Steps = 2;
  tVectorOfString lines = EquilibriumStatisticsLines(global, patches, pedigree, options);
  // The backward matrix transposed is [[1/9, 0, 0], [1/9, 0, 0], [0, 0, 0]]: eigenvector (1/2, 1/2, 0).
  ASSERT_EQ(lines.size(), 23u);
  const Double contributions[] = {0.5, 0.5, 0};
  for (int p = 0; p < 3; ++p) {
    const std::string prefix = utile::Format("Patch %d:\t", p + 1);
    ASSERT_EQ(lines[17 + p].substr(0, prefix.size()), prefix);
    EXPECT_NEAR(testsupport::PointNumber(lines[17 + p].substr(prefix.size())), contributions[p], 1e-12);
  }
  lines.erase(lines.begin() + 17, lines.begin() + 20);
  EXPECT_EQ(lines, (tVectorOfString{"Demographic analysis", "====================",
                                    "Deviation from equilibrium:\t0.5", "Equilibrium densities:", "Patch 1:\t4.5",
                                    "Patch 2:\t0", "Patch 3:\t0", "Dispersal-event matrix", "1\t1\t0", "1\t0\t0",
                                    "0\t0\t0", "Backward dispersal probability", "0.111\t0.111\t0", "0\t0\t0",
                                    "0\t0\t0",
                                    "Rows left at 0 (patches without adults over these time steps): 2 3",
                                    "Demographic contributions", "Genetic analysis", "================",
                                    "Deviation from equilibrium:\t0.5"}));
  options.Demographic = false;
  EXPECT_EQ(EquilibriumStatisticsLines(global, patches, pedigree, options).size(), 3u);
  // N + 1 points are needed: nothing is written with fewer.
  options.Steps = 4;
  EXPECT_THROW(EquilibriumStatisticsLines(global, patches, pedigree, options), utile::EInvalidOperation);
}

TEST(PedigreeGenomes, LastGenerationFramesAndFailures) {
  tPedigree pedigree;
  PrepareSmallRun(pedigree);
  tGeneticPedigree genomes(pedigree);
  genomes.SetLocusCount(1);
  genomes.SetAlleleCount(2);
  utile::SetSeeds(3, 4);
  genomes.MakeNuclearGenome();
  const std::string dashes(32, '-');
  struct {
    tLastGenerationOutput Output;
    tSamplingScheme Sampling;
    const char* Title;
    const char* Juveniles;
  } table[] = {{lgFstat, ssTransversal, "Fstat output", "Juveniles at t2"},
               {lgCoancestries, ssLongitudinal, "Coancestries", "Juveniles at t1"}};
  for (const auto& c : table) {
    tVectorOfString lines;
    LastGenerationLines(genomes, pedigree, c.Output, c.Sampling, 1, 1, lines);
    ASSERT_GE(lines.size(), 9u);
    EXPECT_EQ(lines[0], c.Title);
    EXPECT_EQ(lines[1], std::string(lines[0].size(), '='));
    EXPECT_EQ(lines[2], "Time step:\t2");
    EXPECT_EQ(lines[3], c.Juveniles);
    EXPECT_EQ(lines[4], dashes);
    const auto adults = std::find(lines.begin(), lines.end(), "Adults at t2");
    ASSERT_NE(adults, lines.end());
    EXPECT_EQ(*(adults - 1), dashes);
    EXPECT_EQ(*(adults + 1), dashes);
    EXPECT_EQ(lines.back(), dashes);
  }
  // At date 3 the juvenile 10 and the adult 8: each result is its first line, "Locus1" and one individual.
  tVectorOfString lines;
  LastGenerationLines(genomes, pedigree, lgFstat, ssTransversal, 1, 1, lines);
  EXPECT_EQ(lines[5], "2 1 2 3");  // patches, loci, alleles, digits
  EXPECT_EQ(lines[6], "Locus1");
  EXPECT_EQ(lines[7].substr(0, 2), "1\t");
  EXPECT_EQ(lines.size(), 15u);
  // Without a sampling scheme, the title and its underline only.
  lines.clear();
  EXPECT_THROW(LastGenerationLines(genomes, pedigree, lgGenePop, ssNone, 1, 1, lines), utile::EInvalidOperation);
  EXPECT_EQ(lines, (tVectorOfString{"GenePop output", std::string(14, '=')}));
  // Founders only: the juveniles of longitudinal sampling come before the first date.
  tPedigree founders;
  founders.Add(0, 1, 0, 0, 1, psNA);
  tGeneticPedigree founderGenomes(founders);
  founderGenomes.SetLocusCount(1);
  founderGenomes.SetAlleleCount(2);
  lines.clear();
  LastGenerationLines(founderGenomes, founders, lgAlleleFrequencies, ssLongitudinal, 1, 1, lines);
  EXPECT_EQ(tVectorOfString(lines.begin() + 2, lines.begin() + 7),
            (tVectorOfString{"Time step:\t-1", "Juveniles at t-2", dashes, "No individuals at date -1.", dashes}));
}
