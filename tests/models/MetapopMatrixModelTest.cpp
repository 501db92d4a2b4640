#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "TestSupport/ExceptionMessages.h"
#include "TestSupport/StatisticalChecks.h"
#include "Utile/RandomFunctions.h"
#include "Utile/RunTime.h"
#include "models/MetapopMatrixModel.h"

using namespace models;
using testsupport::MeanIsNear;
using testsupport::ProportionIsNear;

namespace {

struct tSetting {
  std::vector<Double> areas;
  Double b = 2, m = 0.2, territory = 1, alpha = 0, localRisk = 0, Erm = 0, Err = 0, Mu = 0;
  Integer fecundity = 0, growth = 0, steps = 1100;
  std::vector<utile::t2DPoint> positions = {};  // 100 apart on a line when empty
};

// The model filled as the workbench fills it: K = N = area / territory, the island
// dispersal matrix of migration rate m.
void Fill(tMatrixModel& model, const tSetting& w) {
  const Integer n = static_cast<Integer>(w.areas.size());
  model.SetPatchCount(n);
  model.Erm = w.Erm;
  model.Err = w.Err;
  model.Alpha = w.alpha;
  model.Mu = w.Mu;
  model.SetFecundityFunction(w.fecundity);
  model.SetStochasticOrDeterministFunction(w.growth);
  model.Territory = w.territory;
  model.NbrTimeStep = w.steps;
  model.migration = w.m;
  for (Integer i = 0; i < n; ++i) {
    model.b[i] = w.b;
    model.K[i] = model.N[i] = w.areas[i] / w.territory;
    model.El[i] = w.localRisk;
    model.Patches[i] = w.positions.empty() ? utile::t2DPoint{100.0 * i, 0} : w.positions[i];
    for (Integer j = 0; j < n; ++j) model.c[i][j] = i == j ? 1 - w.m : w.m / (n - 1);
  }
  model.Initialise();
}

TEST(MatrixModel, OnePatchScrambleDeterministApproachesItsEquilibrium) {
  tMatrixModel model;
  Fill(model, {.areas = {100}, .b = 2, .m = 0.2, .territory = 1});
  // N' = Round(0.8 N 2^(1 - N/100)), which settles near K (1 + ln(1 - m) / ln b) = 67.8.
  std::vector<Double> sizes = {model.N[0]};
  for (int t = 0; t < 6; ++t) {
    model.Run(1, false);
    sizes.push_back(model.N[0]);
  }
  EXPECT_EQ((std::vector<Double>{100, 80, 74, 71, 69, 68, 68}), sizes);
  EXPECT_EQ(6, model.stop);
  EXPECT_EQ(6, model.tMax);
}

TEST(MatrixModel, OnePatchCoancestryFollowsTheDriftRecursion) {
  for (const Double mu : {0.0, 0.01}) {
    tMatrixModel model;
    Fill(model, {.areas = {50}, .m = 0, .Mu = mu});
    const Double N = 50, g = (1 - mu) * (1 - mu);
    // Theta' = g ((1 + F) / 2N + (1 - 1/N) Theta), F' = g Theta; with g = 1 the
    // heterozygosity h = 1 - Theta follows h' = (1 - 1/N) h + h(t-1) / 2N.
    Double h = 1, hBefore = 1;
    for (int t = 0; t < 1000; ++t) {
      model.Run(1, false);
      ASSERT_EQ(50, model.N[0]);
      EXPECT_DOUBLE_EQ(model.Theta[0][0], model.ThetaG);
      if (mu == 0) {
        const Double next = (1 - 1 / N) * h + hBefore / (2 * N);
        hBefore = h;
        h = next;
        ASSERT_NEAR(h, 1 - model.Theta[0][0], 1e-12) << t;
      }
    }
    if (mu > 0) {
      const Double fixedPoint = g / (2 * N) / (1 - g * g / (2 * N) - g * (1 - 1 / N));
      EXPECT_NEAR(fixedPoint, model.Theta[0][0], 1e-12);
      EXPECT_NEAR(g * fixedPoint, model.F[0], 1e-12);
    }
  }
}

TEST(MatrixModel, FecundityStrategies) {
  tMatrixModel model;
  const tVectorOfDouble N = {0, 1, 1.5, 5, 20}, b(5, 2.0), K(5, 10.0), s(5, 0.0);
  model.SetPatchCount(5);
  model.N = N;
  const auto logistic = [](Double n) { return std::pow(2.0, 1 - n / 10); };
  const auto allee = [&](Double n) { return logistic(n) - std::exp(-0.5 * n) * (2 - 0.2 * 2); };
  struct tCase {
    tMatrixModel::tFecundityFunction strategy;
    tVectorOfDouble expected;
  };
  for (const tCase& c : std::initializer_list<tCase>{
           {&tMatrixModel::FecundityLogistic, {0, 0, logistic(1.5), logistic(5), logistic(20)}},
           {&tMatrixModel::FecundityLogisticAllee, {0, 0, allee(1.5), allee(5), allee(20)}},
           {&tMatrixModel::FecundityCeiling, {0, 0, 2, 2, 2}},
           // 1.5 rounds to 2 for the mate-finding factor 0.5; above 9 there is none.
           {&tMatrixModel::FecundityLogisticSex,
            {0, 0, 0.5 * logistic(1.5), 0.9375 * logistic(5), logistic(20)}}}) {
    const tVectorOfDouble f = (model.*c.strategy)(N, b, K, s, 0.2, 0.5);
    ASSERT_EQ(c.expected.size(), f.size());
    for (size_t i = 0; i < f.size(); ++i) EXPECT_NEAR(c.expected[i], f[i], 1e-14) << i;
  }
}

TEST(MatrixModel, StrategyTablesAndTheGrowthTypeDecidesLast) {
  struct tCase {
    Integer fecundity, growth;
    tMatrixModel::tFecundityFunction f;
    tMatrixModel::tRegulation r;
    tMatrixModel::tOffspringFunction o;
  };
  using M = tMatrixModel;
  for (const tCase& c :
       std::initializer_list<tCase>{{0, 1, &M::FecundityLogistic, &M::NoRegulation, &M::Stochastic},
                                    {1, 0, &M::FecundityLogisticAllee, &M::NoRegulation, &M::Determinist},
                                    {2, 1, &M::FecundityCeiling, &M::RegulationCeiling, &M::Stochastic},
                                    {2, 7, &M::FecundityCeiling, &M::RegulationCeiling, &M::Determinist},
                                    {3, 1, &M::FecundityLogisticSex, &M::NoRegulation, &M::Stochastic},
                                    {9, 0, &M::FecundityLogistic, nullptr, &M::Determinist}}) {
    tMatrixModel model;
    model.SetFecundityFunction(c.fecundity);
    model.SetStochasticOrDeterministFunction(c.growth);
    EXPECT_TRUE(model.fFecundityFunction == c.f) << c.fecundity;
    EXPECT_TRUE(model.fRegulation == c.r) << c.fecundity;
    EXPECT_TRUE(model.fStochasticOrDeterministFunction == c.o) << c.fecundity;
  }
}

TEST(MatrixModel, OffspringDrawsAndRounding) {
  tMatrixModel model;
  const tVectorOfDouble N = {10, 60}, f = {1.2, 0.5};
  const tMatrixOfDouble c = {{0.6, 0.4}, {0.3, 0.7}}, E = {{1, 0.5}, {0.5, 1}};
  const tMatrixOfDouble means = {{7.2, 6}, {1.8, 21}};  // c E N_j f_j
  // Poisson draws row by row, i outer, j inner.
  utile::SetSeeds(5, 5);
  const tMatrixOfDouble A = model.Stochastic(N, f, c, E);
  utile::SetSeeds(5, 5);
  for (int i = 0; i < 2; ++i)
    for (int j = 0; j < 2; ++j) EXPECT_EQ(utile::PoissonRan(means[i][j]), A[i][j]);
  std::vector<std::vector<double>> samples(4);
  for (int k = 0; k < 4000; ++k) {
    const tMatrixOfDouble a = model.Stochastic(N, f, c, E);
    for (int i = 0; i < 4; ++i) samples[i].push_back(a[i / 2][i % 2]);
  }
  for (int i = 0; i < 4; ++i) EXPECT_TRUE(MeanIsNear(samples[i], means[i / 2][i % 2], means[i / 2][i % 2]));
  // Halves go to the even neighbour.
  EXPECT_EQ((tMatrixOfDouble{{2, 4}, {0, 6}}),
            model.Determinist({5, 7}, {1, 1}, {{0.5, 0.5}, {0.1, 0.5}}, {{1, 1}, {1, 1.7142857142857142}}));
}

TEST(MatrixModel, CeilingKeepsAtMostKSharedByTheArrivals) {
  tMatrixModel model;
  const tMatrixOfDouble A = {{600, 300, 100}, {2, 1, 0}, {40, 0, 0}};
  const tVectorOfDouble K = {10, 50, 0.4};
  std::vector<double> first;
  for (int k = 0; k < 3000; ++k) {
    const tMatrixOfDouble S = model.RegulationCeiling(A, K);
    EXPECT_EQ(10, S[0][0] + S[0][1] + S[0][2]);  // Poisson(1000) is far above Round(10)
    EXPECT_LE(S[1][0] + S[1][1] + S[1][2], 50);
    EXPECT_EQ(0, S[1][2]);
    EXPECT_EQ((tVectorOfDouble{0, 0, 0}), S[2]);  // Round(0.4) = 0 keeps nobody
    first.push_back(S[0][0]);
  }
  // 10 settlers shared 0.6 / 0.3 / 0.1: binomial(10, 0.6) for the first.
  EXPECT_TRUE(MeanIsNear(first, 6, 10 * 0.6 * 0.4));

  // And a ceiling model runs.
  tMatrixModel ceiling;
  Fill(ceiling, {.areas = {30, 60, 90}, .b = 3, .m = 0.3, .fecundity = 2, .growth = 1});
  ceiling.Run(50, false);
  for (int i = 0; i < 3; ++i) EXPECT_LE(ceiling.N[i], ceiling.K[i]);
  EXPECT_FALSE(ceiling.isbreak);
}

TEST(MatrixModel, ExtinctionDrawsOneUniformPerPatchWithSettlers) {
  // Determinist offspring and no regional field: the extinction uniforms are the
  // only draws of a step. Patch 2 is empty and receives nobody.
  tMatrixModel model;
  Fill(model, {.areas = {50, 50, 50}, .m = 0, .localRisk = 0.01});
  model.N[1] = 0;
  utile::SetSeeds(8, 1);
  model.Run(1, false);
  const double next = utile::Ran();
  utile::SetSeeds(8, 1);
  utile::Ran();
  utile::Ran();
  EXPECT_EQ(utile::Ran(), next);
  EXPECT_FALSE(model.isbreak);
}

TEST(MatrixModel, RegionalExtinction) {
  struct tCase {
    Double Erm, Err;
    Integer steps;
    bool allDie;
  };
  for (const tCase& c : std::initializer_list<tCase>{
           {0, 0, 20, false}, {0, 30, 20, false}, {0.4, 0, 20, false}, {1, 0, 1, true}, {1, 30, 1, true}}) {
    tMatrixModel model;
    Fill(model, {.areas = {40, 40, 40, 40}, .m = 0.5, .Erm = c.Erm, .Err = c.Err});
    model.Run(20, false);
    EXPECT_EQ(c.allDie, model.isbreak) << c.Erm << " " << c.Err;
    EXPECT_EQ(c.steps, model.stop);
    EXPECT_EQ(20, model.tMax);  // the full request, also after dying out
  }
  // With the field on, 20 % of the patch-steps fall below the threshold; patches
  // far apart against the range are independent.
  tMatrixModel model;
  Fill(model, {.areas = std::vector<Double>(20, 60), .m = 0.5, .Erm = 0.2, .Err = 1});
  size_t extinct = 0, trials = 0;
  for (int t = 0; t < 500; ++t) {
    model.Run(1, false);
    ASSERT_FALSE(model.isbreak);
    for (int i = 0; i < 20; ++i) {
      ASSERT_EQ(model.N[i] == 0, model.Er[i] < model.Er1) << t << " " << i;
      extinct += model.N[i] == 0;
      ++trials;
    }
  }
  EXPECT_TRUE(ProportionIsNear(extinct, trials, 0.2));
}

TEST(MatrixModel, GlobalCoancestryOfTwoPatches) {
  // Without migration O is the identity: Theta' = Thb, F' = Theta_ii.
  tMatrixModel model;
  Fill(model, {.areas = {2, 4}, .m = 0});
  model.Theta = {{0.1, 0.05}, {0.05, 0.2}};
  model.F = {0.3, 0.1};
  model.Run(1, false);
  EXPECT_NEAR(1.3 / 4 + 0.5 * 0.1, model.Theta[0][0], 1e-15);
  EXPECT_NEAR(1.1 / 8 + 0.75 * 0.2, model.Theta[1][1], 1e-15);
  EXPECT_NEAR(0.05, model.Theta[0][1], 1e-15);
  EXPECT_EQ((tVectorOfDouble{0.1, 0.2}), model.F);
  // Pairs within patches 2 x 1 and 4 x 3, ordered pairs of all individuals 6^2.
  EXPECT_NEAR((2 * 0.375 + 12 * 0.2875 + 4 * 0.375 + 16 * 0.2875 + 16 * 0.05) / 50, model.ThetaG, 1e-15);
  // Self-pairs add N F / 2 + N / 2 above and N below.
  EXPECT_NEAR((0.1 + 0.4 + 3 + 11.1) / 56, model.ThetaGall, 1e-15);

  // G[i n + k][j n + l] = O[i][j] O[k][l], rows with k = i times 1 - 1/2N_i.
  model.O = {{0.7, 0.3}, {0.4, 0.6}};
  model.N = {2, 0};
  model.ComputeGmatrix();
  ASSERT_EQ(4u, model.G.size());
  struct tCell {
    int row, col;
    Double value;
  };
  for (const tCell& c : std::initializer_list<tCell>{{0, 0, 0.49 * 0.75},
                                                     {0, 3, 0.09 * 0.75},
                                                     {1, 2, 0.3 * 0.4},
                                                     {2, 1, 0.4 * 0.3},
                                                     {2, 3, 0.6 * 0.3},
                                                     {3, 0, 0},
                                                     {3, 3, 0}})
    EXPECT_NEAR(c.value, model.G[c.row][c.col], 1e-15) << c.row << "," << c.col;
}

TEST(MatrixModel, AveragesAreTheMeansOverTheStepsSummed) {
  tMatrixModel model;
  Fill(model, {.areas = {30, 80}, .b = 1.8, .m = 0.3, .growth = 1, .steps = 1100});
  std::vector<Double> sum(2, 0.0);
  Integer counted = 0;
  for (int t = 1; t <= 1300; ++t) {
    model.Run(1, false);
    ASSERT_FALSE(model.isbreak);
    if (t > 1100 - 999) {
      ++counted;
      for (int i = 0; i < 2; ++i) sum[i] += model.N[i];
    }
    if (t == 1100 || t == 1300) {
      model.ComputeAverageReproductiveValue();
      const tMatrixOfDouble first = model.SumEffectiveJuvOrig;
      model.ComputeAverageReproductiveValue();  // the same again
      EXPECT_EQ(first, model.SumEffectiveJuvOrig);
      EXPECT_EQ(counted, model.AveragedSteps());
      for (int i = 0; i < 2; ++i) {
        EXPECT_NEAR(sum[i] / counted, model.SumNi[i], 1e-9);
        // Every settler of i was born somewhere: the backward rows sum to 1.
        EXPECT_NEAR(1, model.SumEffectiveJuvOrig[i][0] + model.SumEffectiveJuvOrig[i][1], 1e-9);
      }
      EXPECT_NEAR(model.SumEffectiveJuvOrig[0][1] * model.SumNi[0] / model.SumNi[1],
                  model.SumEffectiveJuvOrigForward[0][1], 1e-12);
    }
  }
  EXPECT_EQ(1199, counted);
}

TEST(MatrixModel, RefusesWhatCannotRun) {
  tMatrixModel model;
  EXPECT_THROW(model.Run(1, false), utile::EInvalidOperation);
  struct tCase {
    tSetting setting;
    const char* message;
  };
  for (const tCase& c : std::initializer_list<tCase>{
           {{.areas = {10, 0}},
            "The carrying capacity of patch 2 is 0: every patch needs a capacity above 0."},
           {{.areas = {10, 10}, .b = 0}, "The fecundity of patch 1 is 0: it must be above 0."},
           {{.areas = {10, 10}, .Erm = 1.5}, "The mean regional risk is 1.5: it must be between 0 and 1."},
           {{.areas = {10, 10}, .alpha = 10},
            "The survival between patches 1 and 2 (distance 100) is 0: the mean dispersal distance is too "
            "short "
            "for this landscape."}}) {
    EXPECT_EQ(c.message, testsupport::MessageOf<utile::EInvalidArgument>([&] { Fill(model, c.setting); }));
    EXPECT_FALSE(model.Initialised());
    EXPECT_THROW(model.Run(1, false), utile::EInvalidOperation);
  }
  // A later change of the patch count unprepares a prepared model.
  Fill(model, {.areas = {10, 10}});
  EXPECT_TRUE(model.Initialised());
  EXPECT_TRUE(model.G.empty());
  model.SetPatchCount(3);
  EXPECT_THROW(model.Run(1, false), utile::EInvalidOperation);
}

TEST(MatrixModel, AbortCheckEndsTheRunAfterItsStep) {
  tMatrixModel model;
  Fill(model, {.areas = {50, 50}});
  int checks = 0;
  model.SetAbortCheck([&] { return ++checks == 3; });
  model.Run(100, false);
  EXPECT_TRUE(model.Aborted());
  EXPECT_FALSE(model.isbreak);
  EXPECT_EQ(3, model.stop);
}

}  // namespace
