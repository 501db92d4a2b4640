// Counts, means, a least-squares line and lists of distinct values.
#pragma once

#include "Utile/CommonDecl.h"

namespace utile {

// How many elements equal Value (0 for an empty vector).
Integer Count(const tVectorOfInteger& v, Integer value);
// How many elements lie within Tolerance of Value.
Integer Count(const tVectorOfDouble& v, Double value, Double tolerance);

// Counts[k] := Count(V, Values[k]). An empty Values is first filled with the
// distinct values of V in ascending order; a given Values must name every distinct
// value of V.
void CountOccurrences(const tVectorOfInteger& v, tVectorOfInteger& values, tVectorOfCardinal& counts);
// The same within Tolerance; an empty Values is filled with Unique(V, 1e-10) sorted.
void CountOccurrences(const tVectorOfDouble& v, tVectorOfDouble& values, tVectorOfCardinal& counts,
                      Double tolerance);

// Mean of the elements; an empty vector is an invalid operation (0 / 0).
Double Mean(const tVectorOfDouble& v);
Double Sum(const tVectorOfDouble& v);

// Least-squares line of Y on X.
void Regression(const tVectorOfDouble& x, const tVectorOfDouble& y, Double& intercept, Double& slope);

// The distinct values in order of first occurrence.
tVectorOfInteger Unique(const tVectorOfInteger& v);
// The same, a value counting as present when a kept value lies within Tolerance.
tVectorOfDouble Unique(const tVectorOfDouble& v, Double tolerance);
// The same over every cell of M, row by row.
tVectorOfDouble Unique(const tMatrixOfDouble& m, Double tolerance);

}  // namespace utile
