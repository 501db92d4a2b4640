#include <gtest/gtest.h>

#include <functional>
#include <random>

#include "Utile/GraphTheoryOps.h"
#include "Utile/RunTime.h"

using namespace utile;

namespace {

tMatrixOfBoolean FromEdges(size_t n, std::initializer_list<std::pair<int, int>> links, bool bothWays) {
  tMatrixOfBoolean a(n, tVectorOfBoolean(n, false));
  for (auto [u, v] : links) {
    a[u][v] = true;
    if (bothWays) a[v][u] = true;
  }
  return a;
}

// The components written the plain recursive way, as a reference for small graphs.
tTableOfCardinal RecursiveComponents(const tMatrixOfBoolean& a) {
  const size_t n = a.size();
  if (n == 0) return tTableOfCardinal(1);
  std::vector<bool> visited(n, false);
  tTableOfCardinal groups;
  std::function<void(size_t)> walk = [&](size_t v) {
    visited[v] = true;
    groups.back().push_back(static_cast<Cardinal>(v));
    for (size_t u = 0; u < n; ++u)
      if (a[u][v] && !visited[u]) walk(u);
  };
  for (size_t v = 0; v < n; ++v)
    if (!visited[v]) {
      groups.emplace_back();
      walk(v);
    }
  return groups;
}

TEST(GraphTheoryOps, AdjacencyIsWeightAtLeastThreshold) {
  const tMatrixOfDouble w = {{0, 0.5, 0.2}, {0.5, 0, 0.49999}, {1, 0.2}};
  const tMatrixOfBoolean a = AdjacencyMatrix(w, 0.5);
  EXPECT_EQ(a, (tMatrixOfBoolean{{false, true, false}, {true, false, false}, {true, false}}));
  tMatrixOfBoolean b;
  AdjacencyMatrix(w, b, -1);
  EXPECT_EQ(b, (tMatrixOfBoolean{{true, true, true}, {true, true, true}, {true, true}}));
}

TEST(GraphTheoryOps, ComponentsInDepthFirstOrder) {
  struct {
    tMatrixOfBoolean A;
    tTableOfCardinal Expected;
  } const cases[] = {
      // 0 reaches 2 first (lowest u), comes back and takes 3, then 1 through 3.
      {FromEdges(6, {{0, 3}, {3, 1}, {0, 2}, {4, 5}}, true), {{0, 2, 3, 1}, {4, 5}}},
      // The walk goes from v to u when A[u][v] holds.
      {FromEdges(2, {{1, 0}}, false), {{0, 1}}},
      {FromEdges(2, {{0, 1}}, false), {{0}, {1}}},
      {FromEdges(3, {}, false), {{0}, {1}, {2}}},
      {FromEdges(1, {{0, 0}}, false), {{0}}},
      {{}, {{}}},
      // Depth first: 0 -> 1 -> 4 -> 2 before 0's later neighbours 3.
      {FromEdges(5, {{0, 1}, {1, 4}, {4, 2}, {0, 3}}, true), {{0, 1, 4, 2, 3}}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(SubGraphs(c.A), c.Expected);
    tTableOfCardinal groups = {{99}};
    SubGraphs(c.A, groups);
    EXPECT_EQ(groups, c.Expected);
  }
}

TEST(GraphTheoryOps, ComponentsMatchRecursiveWalkOnRandomGraphs) {
  std::mt19937 generator(42);
  for (size_t n : {1, 5, 63, 64, 65, 130, 300})
    for (double density : {0.002, 0.01, 0.05, 0.3}) {
      std::bernoulli_distribution edge(density);
      tMatrixOfBoolean a(n, tVectorOfBoolean(n));
      for (auto& row : a)
        for (size_t j = 0; j < n; ++j) row[j] = edge(generator);
      EXPECT_EQ(SubGraphs(a), RecursiveComponents(a)) << "n = " << n << ", density " << density;
    }
}

TEST(GraphTheoryOps, LongChainNeedsNoDeepRecursion) {
  constexpr size_t n = 100000;
  tMatrixOfBoolean chain(n, tVectorOfBoolean(n, false));
  for (size_t i = 0; i + 1 < n; ++i) chain[i][i + 1] = chain[i + 1][i] = true;
  // An isolated vertex in the middle splits the chain in two.
  chain[60000][60001] = chain[60001][60000] = false;
  chain[59999][60000] = chain[60000][59999] = false;
  const tTableOfCardinal groups = SubGraphs(chain);
  ASSERT_EQ(groups.size(), 3u);
  ASSERT_EQ(groups[0].size(), 60000u);
  ASSERT_EQ(groups[1], tVectorOfCardinal{60000});
  ASSERT_EQ(groups[2].size(), n - 60001);
  for (size_t i = 0; i < groups[0].size(); ++i) ASSERT_EQ(groups[0][i], i);
  for (size_t i = 0; i < groups[2].size(); ++i) ASSERT_EQ(groups[2][i], 60001 + i);
  EXPECT_EQ(LargestSubGraphSize(groups), 60000);
}

TEST(GraphTheoryOps, LargestSizeAndDistancesBetweenComponents) {
  EXPECT_EQ(LargestSubGraphSize({}), 0);
  EXPECT_EQ(LargestSubGraphSize({{}}), 0);
  EXPECT_EQ(LargestSubGraphSize({{1, 2}, {0, 3, 4}, {5}}), 3);

  const tMatrixOfDouble d = {
      {0, 4, 9, 7},
      {4, 0, 3, 8},
      {9, 5, 0, 2},
      {7, 8, 2, 0},
  };
  tMatrixOfDouble g;
  GraphOfSubGraphs({{0, 1, 2, 3}}, d, g);
  EXPECT_EQ(g, (tMatrixOfDouble{{0}}));
  // Components {0, 1} and {2, 3}: the smallest D[b][a] with a in the first and b
  // in the second is D[2][1] = 5; inside them the diagonal zeros.
  GraphOfSubGraphs({{0, 1}, {2, 3}}, d, g);
  EXPECT_EQ(g, (tMatrixOfDouble{{0, 5}, {5, 0}}));
  tMatrixOfDouble offDiagonal = d;
  for (int i = 0; i < 4; ++i) offDiagonal[i][i] = 100;
  GraphOfSubGraphs({{0}, {1, 2}, {3}}, offDiagonal, g);
  EXPECT_EQ(g, (tMatrixOfDouble{{100, 4, 7}, {4, 3, 2}, {7, 2, 100}}));
  GraphOfSubGraphs({{}}, d, g);
  EXPECT_EQ(g, (tMatrixOfDouble{{1.7e308}}));
}

// Weights of a path 0 - 1 - 2 - 3 - 4 whose links weaken along it.
tMatrixOfDouble PathWeights() {
  tMatrixOfDouble w(5, tVectorOfDouble(5, 0.0));
  const double links[] = {1.0, 0.8, 0.5, 0.2};
  for (int i = 0; i < 4; ++i) w[i][i + 1] = w[i + 1][i] = links[i];
  return w;
}

TEST(GraphTheoryOps, ThresholdSearchStopsBeforeTheLimit) {
  struct tCase {
    Integer MaxSize;
    Double Threshold;
    Double ExpectedThreshold;
    tTableOfCardinal ExpectedGroups;
  };
  // t = 1 - k/1000. Sizes: 2 from t <= 1, 3 from t <= 0.8, 4 from t <= 0.5, 5 from
  // t <= 0.2. The search stops at the first k that exceeds MaxSize and keeps k - 1.
  const tCase cases[] = {
      {2, 0, 1 - 199.0 / 1000, {{0, 1}, {2}, {3}, {4}}},
      {3, 0, 1 - 499.0 / 1000, {{0, 1, 2}, {3}, {4}}},
      {4, 0, 1 - 799.0 / 1000, {{0, 1, 2, 3}, {4}}},
      // Starting at k = Trunc(Threshold x 100 / MaxValue) = 10.
      {3, 0.1, 1 - 499.0 / 1000, {{0, 1, 2}, {3}, {4}}},
      // The full graph fits: the components at t = 0, Threshold unchanged.
      {5, 0.3, 0.3, {{0, 1, 2, 3, 4}}},
  };
  for (const auto& c : cases) {
    tTableOfCardinal groups;
    Double maxValue = -99, threshold = c.Threshold;
    SubGraphs(PathWeights(), c.MaxSize, groups, maxValue, threshold);
    EXPECT_EQ(maxValue, 1);
    EXPECT_DOUBLE_EQ(threshold, c.ExpectedThreshold) << "MaxSize " << c.MaxSize;
    EXPECT_EQ(groups, c.ExpectedGroups) << "MaxSize " << c.MaxSize;
  }
}

TEST(GraphTheoryOps, ThresholdSearchStepsBackWhenTheFirstStepIsTooLarge) {
  // Starting at k = 900 (t = 0.1) the whole path is one group of 5; MaxSize 2 is
  // first met again at t = 0.8 + 0.001 (k = 199), and the search goes back to it.
  tTableOfCardinal groups;
  Double maxValue = 1, threshold = 9;
  SubGraphs(PathWeights(), 2, groups, maxValue, threshold);
  EXPECT_EQ(groups, (tTableOfCardinal{{0, 1}, {2}, {3}, {4}}));
  EXPECT_DOUBLE_EQ(threshold, 1 - 199.0 / 1000);
  EXPECT_LE(LargestSubGraphSize(groups), 2);

  // MaxSize 0 never fits: the search stops just above the largest weight, with
  // no link left.
  threshold = 5;
  SubGraphs(PathWeights(), 0, groups, maxValue, threshold);
  EXPECT_EQ(groups, (tTableOfCardinal{{0}, {1}, {2}, {3}, {4}}));
  EXPECT_DOUBLE_EQ(threshold, 1.001);

  // A start above 1000 changes nothing.
  groups = {{7}};
  threshold = 20;
  SubGraphs(PathWeights(), 2, groups, maxValue, threshold);
  EXPECT_EQ(groups, (tTableOfCardinal{{7}}));
  EXPECT_EQ(threshold, 20);
}

TEST(GraphTheoryOps, ThresholdSearchMatchesStepByStepComponents) {
  // The search against the plain loop of adjacency matrices and components,
  // on random asymmetric weights.
  std::mt19937 generator(9);
  std::uniform_real_distribution<double> uniform(0, 1);
  for (size_t n : {3, 20, 70, 129})
    for (Integer maxSize : {1, 2, 5, 30}) {
      tMatrixOfDouble w(n, tVectorOfDouble(n));
      for (auto& row : w)
        for (double& x : row) x = std::pow(uniform(generator), 6);
      Double maxValue = -99, threshold = 0;
      tTableOfCardinal groups;
      SubGraphs(w, maxSize, groups, maxValue, threshold);

      double top = 0;
      for (const auto& row : w)
        for (double x : row) top = std::max(top, x);
      tTableOfCardinal expected;
      Double expectedThreshold = 0;
      for (int k = 0; k <= 1000; ++k) {
        const double t = top - k / 1000.0 * top;
        tTableOfCardinal current = SubGraphs(AdjacencyMatrix(w, t));
        if (LargestSubGraphSize(current) > maxSize) {
          expectedThreshold = top - (k - 1) / 1000.0 * top;
          expected = SubGraphs(AdjacencyMatrix(w, expectedThreshold));
          break;
        }
        expected = current;
      }
      EXPECT_EQ(maxValue, top);
      EXPECT_EQ(groups, expected) << "n = " << n << ", MaxSize " << maxSize;
      EXPECT_EQ(threshold, expectedThreshold) << "n = " << n << ", MaxSize " << maxSize;
    }
}

TEST(GraphTheoryOps, ThresholdSearchWithZeroMaximumDividesByZero) {
  tTableOfCardinal groups;
  Double maxValue = 0, threshold = 1;
  EXPECT_THROW(SubGraphs(PathWeights(), 2, groups, maxValue, threshold), EZeroDivide);
}

}  // namespace
