// Graphs given as matrices: Boolean adjacency from edge weights, connected
// components, distances between components, and the weight threshold at which
// the components stay below a given size.
#pragma once

#include "Utile/CommonDecl.h"

namespace utile {

// A[i][j] = (W[i][j] >= Threshold), each row as long as W's row.
void AdjacencyMatrix(const tMatrixOfDouble& w, tMatrixOfBoolean& a, Double threshold);
tMatrixOfBoolean AdjacencyMatrix(const tMatrixOfDouble& w, Double threshold);

// Connected components, one row per component: components in the order of their
// lowest vertex, each listing its vertices in depth-first discovery order, where
// the walk goes from v on to u when A[u][v] holds, lowest u first. An empty graph
// gives one empty component.
void SubGraphs(const tMatrixOfBoolean& a, tTableOfCardinal& groups);
tTableOfCardinal SubGraphs(const tMatrixOfBoolean& a);

// The size of the largest component (0 for no component).
Integer LargestSubGraphSize(const tTableOfCardinal& groups);

// G[i][j] = G[j][i] = the smallest D[b][a] over a in component i and b in
// component j (1.7e308 when none is smaller); the diagonal holds the smallest
// distance inside a component.
void GraphOfSubGraphs(const tTableOfCardinal& groups, const tMatrixOfDouble& d, tMatrixOfDouble& g);

// The threshold search: lowers the threshold t = MaxValue - k/1000 x MaxValue
// step by step from k = Trunc(Threshold x 100 / MaxValue) until the largest
// component would exceed MaxSize vertices; Groups and Threshold then hold the
// last threshold whose components fit. MaxValue = -99 stands for the largest
// weight of W (and is replaced by it). When no step up to k = 1000 exceeds
// MaxSize, Groups holds the components at k = 1000 and Threshold is unchanged.
void SubGraphs(const tMatrixOfDouble& w, Integer maxSize, tTableOfCardinal& groups, Double& maxValue,
               Double& threshold);

}  // namespace utile
