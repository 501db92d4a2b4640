#include "Utile/GraphTheoryOps.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>

#include "Utile/MatrixOps.h"
#include "Utile/RunTime.h"

namespace utile {

namespace {

constexpr Double HighestDouble = 1.7e308;
constexpr size_t WordBits = 64;

size_t WordCount(size_t bits) {
  return (bits + WordBits - 1) / WordBits;
}

// Calls f(j) for every j < limit with row[j] true, lowest first. A Boolean row
// packs its cells in machine words; reading them a word at a time keeps a scan of
// a large sparse matrix fast.
template <class F>
void ForEachTrue(const tVectorOfBoolean& row, size_t limit, F f) {
  limit = std::min(limit, row.size());
#if defined(__GLIBCXX__)
  const auto* words = row.begin()._M_p;
  static_assert(sizeof(*words) * 8 == WordBits);
  for (size_t w = 0; w < WordCount(limit); ++w) {
    uint64_t bits = words[w];
    if (const size_t end = (w + 1) * WordBits; end > limit) bits &= ~uint64_t{0} >> (end - limit);
    while (bits != 0) {
      f(w * WordBits + static_cast<size_t>(std::countr_zero(bits)));
      bits &= bits - 1;
    }
  }
#else
  for (size_t j = 0; j < limit; ++j)
    if (row[j]) f(j);
#endif
}

// The depth-first walk shared by both forms of SubGraphs. Next(v, cursor) returns
// the next unvisited vertex u that the walk may take from v, resuming at cursor
// and advancing it, or n when there is none. The stack is explicit, so that a
// long chain cannot exhaust the call stack; the visiting order is that of the
// recursive walk.
template <class tVisited, class tNext>
tTableOfCardinal DepthFirstComponents(size_t n, tVisited& visited, tNext next) {
  tTableOfCardinal groups;
  if (n == 0) return tTableOfCardinal(1);
  struct tFrame {
    size_t Vertex;
    size_t Cursor;
  };
  std::vector<tFrame> stack;
  for (size_t root = 0; root < n; ++root) {
    if (visited.Test(root)) continue;
    tVectorOfCardinal component;
    visited.Set(root);
    component.push_back(static_cast<Cardinal>(root));
    stack.push_back({root, 0});
    while (!stack.empty()) {
      tFrame& top = stack.back();
      const size_t u = next(top.Vertex, top.Cursor);
      if (u >= n) {
        stack.pop_back();
        continue;
      }
      visited.Set(u);
      component.push_back(static_cast<Cardinal>(u));
      stack.push_back({u, 0});
    }
    component.shrink_to_fit();
    groups.push_back(std::move(component));
  }
  return groups;
}

class tBitSet {
 public:
  explicit tBitSet(size_t n) : fWords(WordCount(n), 0) {}
  bool Test(size_t i) const { return (fWords[i / WordBits] >> (i % WordBits)) & 1; }
  void Set(size_t i) { fWords[i / WordBits] |= uint64_t{1} << (i % WordBits); }
  uint64_t Word(size_t w) const { return fWords[w]; }
  void Clear() { std::fill(fWords.begin(), fWords.end(), 0); }

 private:
  std::vector<uint64_t> fWords;
};

// The weights with rows and columns exchanged, one contiguous row per target
// vertex v holding W[u][v] for every u (not a number where a row of W is short),
// and for a given threshold the packed rows of "W[u][v] >= t".
class tThresholdGraph {
 public:
  explicit tThresholdGraph(const tMatrixOfDouble& w)
      : fN(w.size()), fWords(WordCount(fN)), fWeights(fN * fN, std::nan("")), fEdges(fN * fWords, 0) {
    for (size_t u = 0; u < fN; ++u) {
      const size_t columns = std::min(w[u].size(), fN);
      for (size_t v = 0; v < columns; ++v) fWeights[v * fN + u] = w[u][v];
    }
  }

  tTableOfCardinal Components(Double threshold) {
    for (size_t v = 0; v < fN; ++v) {
      const double* weights = &fWeights[v * fN];
      uint64_t* edges = &fEdges[v * fWords];
      for (size_t w = 0; w < fWords; ++w) {
        const size_t first = w * WordBits, count = std::min(WordBits, fN - first);
        uint64_t bits = 0;
        for (size_t b = 0; b < count; ++b)
          bits |= static_cast<uint64_t>(weights[first + b] >= threshold) << b;
        edges[w] = bits;
      }
    }
    tBitSet visited(fN);
    return DepthFirstComponents(fN, visited, [&](size_t v, size_t& cursor) -> size_t {
      const uint64_t* edges = &fEdges[v * fWords];
      for (size_t w = cursor / WordBits; w < fWords; ++w) {
        uint64_t bits = edges[w] & ~visited.Word(w);
        if (w == cursor / WordBits) bits &= ~uint64_t{0} << (cursor % WordBits);
        if (bits != 0) {
          const size_t u = w * WordBits + static_cast<size_t>(std::countr_zero(bits));
          cursor = u + 1;
          return u;
        }
      }
      cursor = fN;
      return fN;
    });
  }

 private:
  size_t fN, fWords;
  std::vector<double> fWeights;
  std::vector<uint64_t> fEdges;
};

Double ThresholdAtStep(Double maxValue, Int64 k) {
  return maxValue - static_cast<Double>(k) / 1000.0 * maxValue;
}

}  // namespace

void AdjacencyMatrix(const tMatrixOfDouble& w, tMatrixOfBoolean& a, Double threshold) {
  a.assign(w.size(), {});
  for (size_t i = 0; i < w.size(); ++i) {
    a[i].resize(w[i].size());
    for (size_t j = 0; j < w[i].size(); ++j) a[i][j] = w[i][j] >= threshold;
  }
}

tMatrixOfBoolean AdjacencyMatrix(const tMatrixOfDouble& w, Double threshold) {
  tMatrixOfBoolean a;
  AdjacencyMatrix(w, a, threshold);
  return a;
}

void SubGraphs(const tMatrixOfBoolean& a, tTableOfCardinal& groups) {
  const size_t n = a.size();
  // For each v the vertices u with A[u][v], ascending: one pass over the rows.
  std::vector<size_t> start(n + 1, 0);
  for (size_t u = 0; u < n; ++u) ForEachTrue(a[u], n, [&](size_t v) { ++start[v + 1]; });
  for (size_t v = 0; v < n; ++v) start[v + 1] += start[v];
  std::vector<Cardinal> sources(start[n]);
  std::vector<size_t> fill(start.begin(), start.end() - (n > 0 ? 1 : 0));
  for (size_t u = 0; u < n; ++u)
    ForEachTrue(a[u], n, [&](size_t v) { sources[fill[v]++] = static_cast<Cardinal>(u); });

  tBitSet visited(n);
  groups = DepthFirstComponents(n, visited, [&](size_t v, size_t& cursor) -> size_t {
    for (size_t p = start[v] + cursor; p < start[v + 1]; ++p)
      if (!visited.Test(sources[p])) {
        cursor = p - start[v] + 1;
        return sources[p];
      }
    cursor = start[v + 1] - start[v];
    return n;
  });
}

tTableOfCardinal SubGraphs(const tMatrixOfBoolean& a) {
  tTableOfCardinal groups;
  SubGraphs(a, groups);
  return groups;
}

Integer LargestSubGraphSize(const tTableOfCardinal& groups) {
  size_t largest = 0;
  for (const auto& group : groups) largest = std::max(largest, group.size());
  return static_cast<Integer>(largest);
}

void GraphOfSubGraphs(const tTableOfCardinal& groups, const tMatrixOfDouble& d, tMatrixOfDouble& g) {
  const size_t count = groups.size();
  g.assign(count, tVectorOfDouble(count, HighestDouble));
  for (size_t i = 0; i < count; ++i)
    for (size_t j = i; j < count; ++j) {
      Double smallest = HighestDouble;
      for (Cardinal a : groups[i])
        for (Cardinal b : groups[j]) smallest = std::min(smallest, d.at(b).at(a));
      g[i][j] = g[j][i] = smallest;
    }
}

void SubGraphs(const tMatrixOfDouble& w, Integer maxSize, tTableOfCardinal& groups, Double& maxValue,
               Double& threshold) {
  if (maxValue == -99) maxValue = MatMaxValue(w);
  const Int64 start = Trunc(FloatDiv(threshold * 100, maxValue));
  if (start > 1000) return;
  tThresholdGraph graph(w);
  tTableOfCardinal current;
  for (Int64 k = start; k <= 1000; ++k) {
    current = graph.Components(ThresholdAtStep(maxValue, k));
    if (LargestSubGraphSize(current) <= maxSize) continue;
    // The previous step fitted, unless this was the first one: then step back
    // until the components fit, at most to the step just above MaxValue.
    Int64 back = k - 1;
    current = graph.Components(ThresholdAtStep(maxValue, back));
    while (LargestSubGraphSize(current) > maxSize && back > -1) {
      --back;
      current = graph.Components(ThresholdAtStep(maxValue, back));
    }
    groups = std::move(current);
    threshold = ThresholdAtStep(maxValue, back);
    return;
  }
  groups = std::move(current);
}

}  // namespace utile
