#include <gtest/gtest.h>

#include <Eigen/Dense>
#include <Eigen/Eigenvalues>
#include <cmath>

#include "Utile/RunTime.h"
#include "models/GraphModel.h"

using namespace models;
using utile::tMatrixOfDouble;
using utile::tVectorOfDouble;

namespace {

class GraphModel : public ::testing::Test {
 protected:
  void SetUp() override { ResetLandscape(); }
  void TearDown() override { ResetLandscape(); }

  static void SetAreas(std::initializer_list<Double> areas) {
    Patches.clear();
    for (const Double a : areas) {
      tCircle c;
      c.A = a;
      Patches.push_back(c);
    }
  }
};

TEST_F(GraphModel, CaptionsOfTheStatistics) {
  EXPECT_STREQ("Group count", GraphStatStr[gsGroupCount]);
  EXPECT_STREQ("Overall size", GraphStatStr[gsOverallSize]);
  EXPECT_STREQ("Expected size", GraphStatStr[gsExpectedSize]);
}

TEST_F(GraphModel, FlowBetweenTwoEqualPatches) {
  // Columns already sum to one, so Dn = D and the flow is
  // A^Zim A^Zem / (SumZim SumZem) x Dn[0][1].
  struct tCase {
    Double Area, Zim, Zem, SumZim, SumZem, Expected;
  };
  const double x = 0.3;
  const tCase cases[] = {
      {5, 0, 0, 2, 2, x / 4},
      {4, 1, 0.5, 10, 3, 4 * 2 / 30.0 * x},
  };
  for (const auto& c : cases) {
    SetAreas({c.Area, c.Area});
    tMatrixOfDouble flow;
    ComputeDispersalFlowMat({{1 - x, x}, {x, 1 - x}}, c.Zim, c.Zem, c.SumZim, c.SumZem, flow);
    ASSERT_EQ(2u, flow.size());
    EXPECT_NEAR(c.Expected, flow[0][1], 1e-15);
    EXPECT_EQ(flow[0][1], flow[1][0]);
  }
}

TEST_F(GraphModel, FlowScalesColumnsAndAveragesBothDirections) {
  SetAreas({1, 2, 4});
  // A dispersal matrix larger than the landscape; its columns sum to 4, 2 and 8.
  const tMatrixOfDouble d = {{0, 1, 2, 9}, {1, 0, 6, 9}, {3, 1, 0, 9}, {0, 0, 0, 9}};
  const double colSum[] = {4, 2, 8};
  const double zim = 0.5, zem = 2, sumZim = 3, sumZem = 7;
  tMatrixOfDouble flow;
  ComputeDispersalFlowMat(d, zim, zem, sumZim, sumZem, flow);
  ASSERT_EQ(3u, flow.size());
  for (int i = 0; i < 3; ++i) {
    ASSERT_EQ(3u, flow[i].size());
    for (int j = 0; j < 3; ++j) {
      const double ai = Patches[i].A, aj = Patches[j].A;
      const double dij = d[i][j] / colSum[j], dji = d[j][i] / colSum[i];
      const double expected = (std::pow(ai, zim) / sumZim * std::pow(aj, zem) / sumZem * dij +
                               std::pow(aj, zim) / sumZim * std::pow(ai, zem) / sumZem * dji) /
                              2;
      EXPECT_NEAR(expected, flow[i][j], 1e-15) << i << ", " << j;
    }
  }
}

TEST_F(GraphModel, FlowWithAZeroSumDividesByZero) {
  SetAreas({1, 1});
  tMatrixOfDouble flow;
  EXPECT_THROW(ComputeDispersalFlowMat({{0, 1}, {1, 0}}, 1, 1, 0, 1, flow), utile::EZeroDivide);
}

TEST_F(GraphModel, ColonisationMatrixOfAGroupFollowsTheGroupOrder) {
  SetAreas({2, 3, 8});
  const tMatrixOfDouble k = {{0, 0.5, 0.25}, {0.5, 0, 0.1}, {0.2, 0.1, 0}};
  // Group (2, 0), territory 2: patch 2 holds 4 territories, patch 0 one.
  // [0][1] = 4^(Zim + Zex) 1^Zem K[2][0]; [1][0] = 1^(Zim + Zex) 4^Zem K[0][2].
  const tMatrixOfDouble m = SubgraphToHanskiMatrix({2, 0}, k, 2, 0.5, 1.5, 1);
  ASSERT_EQ(2u, m.size());
  EXPECT_EQ(0, m[0][0]);
  EXPECT_EQ(0, m[1][1]);
  EXPECT_NEAR(std::pow(4, 1.5) * 0.2, m[0][1], 1e-15);
  EXPECT_NEAR(std::pow(4, 1.5) * 0.25, m[1][0], 1e-15);
}

// Four patches of areas 1, 2, 3, 4 linked 0-1 at 0.9, 2-3 at 0.5 and 1-2 at
// 0.2: one group below 0.2, {0, 1} and {2, 3} up to 0.5, then {0, 1}, {2}, {3}
// up to 0.9, and four single patches above.
class FluxSweep : public GraphModel {
 protected:
  void SetUp() override {
    GraphModel::SetUp();
    SetAreas({1, 2, 3, 4});
  }
  const tMatrixOfDouble fLinks = {{0, 0.9, 0, 0}, {0.9, 0, 0.2, 0}, {0, 0.2, 0, 0.5}, {0, 0, 0.5, 0}};
  const tVectorOfDouble fThresholds = {0.1, 0.3, 0.6, 1.0};
};

TEST_F(FluxSweep, GroupCountsAndOverallSizes) {
  struct tCase {
    Double SizeThreshold;
    tVectorOfDouble Overall;
  };
  const tCase cases[] = {
      // The group {0, 1} of area 3 counts when it is exactly at the threshold.
      {3, {1, 1, 1, 0.4 + 0.3}},
      {3.5, {1, 0.7, 0.4, 0.4}},
      {11, {0, 0, 0, 0}},
  };
  for (const auto& c : cases) {
    const auto table = VaryFluxThreshold(fLinks, fLinks, fThresholds, 0.5, 1, 0, 0, 0, c.SizeThreshold,
                                         {gsGroupCount, gsOverallSize});
    ASSERT_EQ(4u, table.Results.size());
    EXPECT_EQ(fThresholds, table.Results[0]);
    EXPECT_EQ((tVectorOfDouble{1, 2, 3, 4}), table.Results[1]);
    for (size_t i = 0; i < 4; ++i) EXPECT_NEAR(c.Overall[i], table.Results[2][i], 1e-15) << c.SizeThreshold;
    EXPECT_EQ((tVectorOfDouble{0, 0, 0, 0}), table.Results[3]);
    EXPECT_EQ((utile::tVectorOfString{"Threshold", "Group count", "Overall size", ""}), table.Headers);
  }
}

TEST_F(FluxSweep, ExpectedSizeFromEachGroupsCapacity) {
  // With all exponents 0 a group's matrix is K among its members. A pair linked
  // by w has capacity w; the chain of four has the dominant eigenvalue of K.
  const double delta = 0.45;
  Eigen::Matrix4d k;
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) k(i, j) = fLinks[i][j];
  const double chain = Eigen::SelfAdjointEigenSolver<Eigen::Matrix4d>(k).eigenvalues()(3);
  const tVectorOfDouble expected = {(1 - delta / chain) * 10 / 10,
                                    ((1 - delta / 0.9) * 3 + (1 - delta / 0.5) * 7) / 10,
                                    (1 - delta / 0.9) * 3 / 10, 0};
  Integer unsettled = -1;
  const auto table =
      VaryFluxThreshold(fLinks, fLinks, fThresholds, delta, 1, 0, 0, 0, 0, {gsExpectedSize}, &unsettled);
  for (size_t i = 0; i < 4; ++i) EXPECT_NEAR(expected[i], table.Results[1][i], 1e-12) << i;
  EXPECT_EQ((utile::tVectorOfString{"Threshold", "Expected size", "", ""}), table.Headers);
  EXPECT_EQ((tVectorOfDouble{0, 0, 0, 0}), table.Results[2]);
  EXPECT_EQ((tVectorOfDouble{0, 0, 0, 0}), table.Results[3]);
  EXPECT_EQ(0, unsettled);
}

TEST_F(FluxSweep, ExpectedSizeOfPairsOfUnequalPatches) {
  // With Zim = 1 the pair {0, 1} (areas 1 and 2) has the periodic matrix
  // [[0, 0.9], [1.8, 0]] of capacity sqrt(0.9 x 1.8); the pair {2, 3} has
  // [[0, 1.5], [2, 0]], capacity sqrt(3). Delta 1.5 exceeds the first one's
  // capacity, so that pair lowers the expected size.
  const double delta = 1.5;
  const double l01 = std::sqrt(0.9 * 1.8), l23 = std::sqrt(1.5 * 2.0);
  const auto table = VaryFluxThreshold(fLinks, fLinks, {0.3}, delta, 1, 1, 0, 0, 0, {gsExpectedSize});
  EXPECT_LT(1 - delta / l01, 0);
  EXPECT_NEAR(((1 - delta / l01) * 3 + (1 - delta / l23) * 7) / 10, table.Results[1][0], 1e-12);
}

TEST_F(FluxSweep, EveryStatisticPackedInEnumerationOrder) {
  const auto all = VaryFluxThreshold(fLinks, fLinks, fThresholds, 0.2, 1, 0, 0, 0, 3.5,
                                     {gsExpectedSize, gsGroupCount, gsOverallSize});
  EXPECT_EQ((utile::tVectorOfString{"Threshold", "Group count", "Overall size", "Expected size"}),
            all.Headers);
  const auto overall = VaryFluxThreshold(fLinks, fLinks, fThresholds, 0.2, 1, 0, 0, 0, 3.5, {gsOverallSize});
  const auto expected =
      VaryFluxThreshold(fLinks, fLinks, fThresholds, 0.2, 1, 0, 0, 0, 3.5, {gsExpectedSize});
  EXPECT_EQ(overall.Results[1], all.Results[2]);
  EXPECT_EQ(expected.Results[1], all.Results[3]);
  // Above every link each patch is its own group and no group has two patches.
  EXPECT_EQ(4, all.Results[1][3]);
  EXPECT_EQ(0, all.Results[3][3]);
}

TEST_F(FluxSweep, EmptyInputs) {
  const auto noThreshold = VaryFluxThreshold(fLinks, fLinks, {}, 0.2, 1, 0, 0, 0, 0, {gsGroupCount});
  ASSERT_EQ(4u, noThreshold.Results.size());
  for (const auto& row : noThreshold.Results) EXPECT_TRUE(row.empty());
  Patches.clear();
  const auto noPatch =
      VaryFluxThreshold({}, {}, {0.5}, 0.2, 1, 0, 0, 0, 0, {gsGroupCount, gsOverallSize, gsExpectedSize});
  EXPECT_EQ((tVectorOfDouble{0.5}), noPatch.Results[0]);
  EXPECT_EQ((tVectorOfDouble{0}), noPatch.Results[1]);
  EXPECT_EQ((tVectorOfDouble{0}), noPatch.Results[2]);
  EXPECT_EQ((tVectorOfDouble{0}), noPatch.Results[3]);
}

TEST_F(FluxSweep, LinksBeyondThePatchesAreIgnored) {
  // A fifth row and column link patch 3 to a vertex that is no patch.
  tMatrixOfDouble links = fLinks;
  for (auto& row : links) row.push_back(1);
  links.push_back({0, 0, 0, 1, 0});
  const auto table =
      VaryFluxThreshold(links, links, {0.6}, 0.2, 1, 0, 0, 0, 0, {gsGroupCount, gsExpectedSize});
  EXPECT_EQ(3, table.Results[1][0]);
}

// ------------------------------------------------ the workbench's weightings

TEST_F(GraphModel, CutKeepsWeightsAtOrAboveTheThreshold) {
  struct tCase {
    Double x, threshold, expected;
  };
  for (const tCase& c : {tCase{0.3, 0, 0.3}, {0, 0, 0}, {0.5, 0.5, 0.5}, {0.49, 0.5, 0}, {0.999, 1, 0},
                         {1, 1, 1}, {1.2, 1, 1.2}})
    EXPECT_EQ(c.expected, CutBelowThreshold(c.x, c.threshold)) << c.x << " at " << c.threshold;
}

TEST_F(GraphModel, KernelMatrixOfTheLinkedPatchesCutAndMirrored) {
  // Patches at 0, 3 and 7 on a line; only 0-1 and 1-2 (and the diagonal) linked.
  SetAreas({1, 2, 4});
  const Double x[] = {0, 3, 7};
  DistanceMat.assign(3, tVectorOfDouble(3));
  ConnectanceMat.assign(3, std::vector<bool>(3, true));
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) DistanceMat[i][j] = std::fabs(x[i] - x[j]);
  ConnectanceMat[0][2] = ConnectanceMat[2][0] = false;
  const Double a = 0.25, e3 = std::exp(-0.75), e4 = std::exp(-1.0);
  const tMatrixOfDouble expected[] = {{{1, e3, 0}, {e3, 1, e4}, {0, e4, 1}},
                                      {{1, e3, 0}, {e3, 1, 0}, {0, 0, 1}}};  // cut at 0.4, between e4 and e3
  for (int k = 0; k < 2; ++k) {
    const tMatrixOfDouble m = DispersalKernelMat(a, k == 0 ? 0.0 : 0.4);
    ASSERT_EQ(3u, m.size());
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j) EXPECT_NEAR(expected[k][i][j], m[i][j], 1e-15) << k << ": " << i << j;
  }
}

}  // namespace

