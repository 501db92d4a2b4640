#include "Utile/StatOps.h"

#include <cmath>
#include <unordered_map>
#include <unordered_set>

#include "Utile/RunTime.h"
#include "Utile/VectorOps.h"

namespace utile {

Integer Count(const tVectorOfInteger& v, Integer value) {
  Integer n = 0;
  for (Integer x : v)
    if (x == value) ++n;
  return n;
}

Integer Count(const tVectorOfDouble& v, Double value, Double tolerance) {
  Integer n = 0;
  for (Double x : v)
    if (std::fabs(x - value) <= tolerance) ++n;
  return n;
}

void CountOccurrences(const tVectorOfInteger& v, tVectorOfInteger& values, tVectorOfCardinal& counts) {
  const tVectorOfInteger distinct = Unique(v);
  if (values.empty()) {
    values = distinct;
    SortVector(values);
  } else {
    Assert(distinct.size() <= values.size(), "Warning in CountOccurrences.");
  }
  // One pass over V, so that long vectors of tags stay cheap.
  std::unordered_map<Integer, Cardinal> occurrences;
  for (Integer x : v) ++occurrences[x];
  counts.assign(values.size(), 0);
  for (size_t k = 0; k < values.size(); ++k) {
    const auto found = occurrences.find(values[k]);
    if (found != occurrences.end()) counts[k] = found->second;
  }
}

void CountOccurrences(const tVectorOfDouble& v, tVectorOfDouble& values, tVectorOfCardinal& counts,
                      Double tolerance) {
  if (values.empty()) {
    values = Unique(v, 1e-10);
    SortVector(values);
  }
  counts.assign(values.size(), 0);
  for (size_t k = 0; k < values.size(); ++k)
    counts[k] = static_cast<Cardinal>(Count(v, values[k], tolerance));
}

Double Sum(const tVectorOfDouble& v) {
  // Accumulated in extended precision, as the run-time library's sum does.
  Extended s = 0;
  for (Double x : v) s += x;
  return static_cast<Double>(s);
}

Double Mean(const tVectorOfDouble& v) {
  return FloatDiv(Sum(v), static_cast<Double>(v.size()));
}

void Regression(const tVectorOfDouble& x, const tVectorOfDouble& y, Double& intercept, Double& slope) {
  Assert(x.size() == y.size());
  const Double f = FloatDiv(1.0, static_cast<Double>(x.size()));
  Double sx = 0, sy = 0, sxy = 0, sxx = 0;
  for (size_t i = 0; i < x.size(); ++i) {
    sx += x[i];
    sy += y[i];
    sxy += x[i] * y[i];
    sxx += x[i] * x[i];
  }
  slope = FloatDiv(f * sxy - f * f * sx * sy, f * sxx - (f * sx) * (f * sx));
  intercept = f * sy - slope * sx * f;
}

tVectorOfInteger Unique(const tVectorOfInteger& v) {
  tVectorOfInteger kept;
  std::unordered_set<Integer> seen;
  for (Integer x : v)
    if (seen.insert(x).second) kept.push_back(x);
  return kept;
}

namespace {
void KeepNew(tVectorOfDouble& kept, Double x, Double tolerance) {
  if (FindFirst(kept, x, tolerance, 0, static_cast<Integer>(kept.size()) - 1) < 0) kept.push_back(x);
}
}  // namespace

tVectorOfDouble Unique(const tVectorOfDouble& v, Double tolerance) {
  tVectorOfDouble kept;
  for (Double x : v) KeepNew(kept, x, tolerance);
  return kept;
}

tVectorOfDouble Unique(const tMatrixOfDouble& m, Double tolerance) {
  tVectorOfDouble kept;
  for (const auto& row : m)
    for (Double x : row) KeepNew(kept, x, tolerance);
  return kept;
}

}  // namespace utile
