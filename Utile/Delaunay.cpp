#include "Utile/Delaunay.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <numeric>

#include "Utile/RunTime.h"
#include "Utile/VectorOps.h"

namespace utile {

namespace {

// ---------------------------------------------------------------- exact predicates
// Grids, collinear runs and near-duplicates put many points exactly on lines and
// circles. The orientation and in-circle tests are first evaluated in plain
// floating point with a bound on their rounding error; only when the sign is in
// doubt are they evaluated exactly, as sums of non-overlapping floating-point
// components (expansions). A triangulation built from consistent signs stays a
// valid Delaunay triangulation whatever the input.

constexpr double Epsilon = 0x1p-53;
constexpr double OrientBound = (3.0 + 16.0 * Epsilon) * Epsilon;
constexpr double InCircleBound = (10.0 + 96.0 * Epsilon) * Epsilon;
constexpr double Splitter = 134217729.0;  // 2^27 + 1

inline void TwoSum(double a, double b, double& x, double& y) {
  x = a + b;
  const double bVirtual = x - a;
  const double aVirtual = x - bVirtual;
  y = (a - aVirtual) + (b - bVirtual);
}

inline void TwoDiff(double a, double b, double& x, double& y) {
  x = a - b;
  const double bVirtual = a - x;
  const double aVirtual = x + bVirtual;
  y = (a - aVirtual) + (bVirtual - b);
}

inline void Split(double a, double& high, double& low) {
  const double c = Splitter * a;
  const double big = c - a;
  high = c - big;
  low = a - high;
}

inline void TwoProduct(double a, double b, double& x, double& y) {
  x = a * b;
  double aHigh, aLow, bHigh, bLow;
  Split(a, aHigh, aLow);
  Split(b, bHigh, bLow);
  const double error1 = x - aHigh * bHigh;
  const double error2 = error1 - aLow * bHigh;
  const double error3 = error2 - aHigh * bLow;
  y = aLow * bLow - error3;
}

// An expansion: the exact value is the sum of its components, stored from the
// smallest magnitude up, zeros left out (a zero value is one zero component).
template <int Capacity>
struct tExpansion {
  int Count = 0;
  double Component[Capacity];
  double Sign() const { return Component[Count - 1]; }
};

// h = e + f: the components merged by magnitude, then summed exactly.
int SumInto(int eCount, const double* e, int fCount, const double* f, double* h) {
  int ei = 0, fi = 0, count = 0;
  auto next = [&]() {
    if (ei < eCount && (fi >= fCount || std::fabs(e[ei]) <= std::fabs(f[fi]))) return e[ei++];
    return f[fi++];
  };
  double q = next();
  while (ei < eCount || fi < fCount) {
    double sum, error;
    TwoSum(q, next(), sum, error);
    if (error != 0) h[count++] = error;
    q = sum;
  }
  if (q != 0 || count == 0) h[count++] = q;
  return count;
}

// h = e x b.
int ScaleInto(int eCount, const double* e, double b, double* h) {
  int count = 0;
  double q, error;
  TwoProduct(e[0], b, q, error);
  if (error != 0) h[count++] = error;
  for (int i = 1; i < eCount; ++i) {
    double product, productError, sum;
    TwoProduct(e[i], b, product, productError);
    TwoSum(q, productError, sum, error);
    if (error != 0) h[count++] = error;
    TwoSum(product, sum, q, error);
    if (error != 0) h[count++] = error;
  }
  if (q != 0 || count == 0) h[count++] = q;
  return count;
}

template <int A, int B>
tExpansion<A + B> Sum(const tExpansion<A>& e, const tExpansion<B>& f) {
  tExpansion<A + B> h;
  h.Count = SumInto(e.Count, e.Component, f.Count, f.Component, h.Component);
  return h;
}

template <int A>
tExpansion<A> Negated(tExpansion<A> e) {
  for (int i = 0; i < e.Count; ++i) e.Component[i] = -e.Component[i];
  return e;
}

template <int A, int B>
tExpansion<2 * A * B> Product(const tExpansion<A>& e, const tExpansion<B>& f) {
  tExpansion<2 * A * B> total, next;
  double scaled[2 * A];
  total.Count = ScaleInto(e.Count, e.Component, f.Component[0], total.Component);
  for (int j = 1; j < f.Count; ++j) {
    const int count = ScaleInto(e.Count, e.Component, f.Component[j], scaled);
    next.Count = SumInto(total.Count, total.Component, count, scaled, next.Component);
    total = next;
  }
  return total;
}

tExpansion<2> Difference(double a, double b) {
  tExpansion<2> h;
  double x, y;
  TwoDiff(a, b, x, y);
  h.Count = 0;
  if (y != 0) h.Component[h.Count++] = y;
  if (x != 0 || h.Count == 0) h.Component[h.Count++] = x;
  return h;
}

double OrientExact(const dVertex& a, const dVertex& b, const dVertex& c) {
  const auto acx = Difference(a.x, c.x), acy = Difference(a.y, c.y);
  const auto bcx = Difference(b.x, c.x), bcy = Difference(b.y, c.y);
  return Sum(Product(acx, bcy), Negated(Product(acy, bcx))).Sign();
}

// > 0 when a, b, c turn counterclockwise, < 0 clockwise, 0 on one line.
double Orient(const dVertex& a, const dVertex& b, const dVertex& c) {
  const double left = (a.x - c.x) * (b.y - c.y);
  const double right = (a.y - c.y) * (b.x - c.x);
  const double det = left - right;
  const double bound = OrientBound * (std::fabs(left) + std::fabs(right));
  if (det > bound || -det > bound) return det;
  return OrientExact(a, b, c);
}

double InCircleExact(const dVertex& a, const dVertex& b, const dVertex& c, const dVertex& d) {
  const auto adx = Difference(a.x, d.x), ady = Difference(a.y, d.y);
  const auto bdx = Difference(b.x, d.x), bdy = Difference(b.y, d.y);
  const auto cdx = Difference(c.x, d.x), cdy = Difference(c.y, d.y);
  const auto bc = Sum(Product(bdx, cdy), Negated(Product(cdx, bdy)));
  const auto ca = Sum(Product(cdx, ady), Negated(Product(adx, cdy)));
  const auto ab = Sum(Product(adx, bdy), Negated(Product(bdx, ady)));
  const auto aLift = Sum(Product(adx, adx), Product(ady, ady));
  const auto bLift = Sum(Product(bdx, bdx), Product(bdy, bdy));
  const auto cLift = Sum(Product(cdx, cdx), Product(cdy, cdy));
  return Sum(Sum(Product(aLift, bc), Product(bLift, ca)), Product(cLift, ab)).Sign();
}

// > 0 when d lies strictly inside the circle through the counterclockwise a, b, c.
double InCircle(const dVertex& a, const dVertex& b, const dVertex& c, const dVertex& d) {
  const double adx = a.x - d.x, ady = a.y - d.y;
  const double bdx = b.x - d.x, bdy = b.y - d.y;
  const double cdx = c.x - d.x, cdy = c.y - d.y;
  const double bdxcdy = bdx * cdy, cdxbdy = cdx * bdy;
  const double cdxady = cdx * ady, adxcdy = adx * cdy;
  const double adxbdy = adx * bdy, bdxady = bdx * ady;
  const double aLift = adx * adx + ady * ady;
  const double bLift = bdx * bdx + bdy * bdy;
  const double cLift = cdx * cdx + cdy * cdy;
  const double det = aLift * (bdxcdy - cdxbdy) + bLift * (cdxady - adxcdy) + cLift * (adxbdy - bdxady);
  const double permanent = (std::fabs(bdxcdy) + std::fabs(cdxbdy)) * aLift +
                           (std::fabs(cdxady) + std::fabs(adxcdy)) * bLift +
                           (std::fabs(adxbdy) + std::fabs(bdxady)) * cLift;
  const double bound = InCircleBound * permanent;
  if (det > bound || -det > bound) return det;
  return InCircleExact(a, b, c, d);
}

// Position along a Hilbert curve over a 2^16 x 2^16 grid: inserting the points in
// this order keeps each one close to the previous one, so the search for the
// triangle that holds it is short.
uint64_t HilbertIndex(uint32_t x, uint32_t y) {
  constexpr uint32_t Side = 1u << 16;
  uint64_t d = 0;
  for (uint32_t s = Side / 2; s > 0; s /= 2) {
    const uint32_t rx = (x & s) ? 1 : 0;
    const uint32_t ry = (y & s) ? 1 : 0;
    d += static_cast<uint64_t>(s) * s * ((3 * rx) ^ ry);
    if (ry == 0) {
      if (rx == 1) {
        x = Side - 1 - x;
        y = Side - 1 - y;
      }
      std::swap(x, y);
    }
  }
  return d;
}

constexpr Double DuplicateDistance = 1e-6;

Double CellOf(Double coordinate) {
  return std::floor(coordinate / DuplicateDistance);
}

}  // namespace

size_t tDelaunay::tCellHash::operator()(const tCell& c) const {
  const uint64_t x = std::bit_cast<uint64_t>(c.x + 0.0), y = std::bit_cast<uint64_t>(c.y + 0.0);
  return static_cast<size_t>((x * 0x9E3779B97F4A7C15ull) ^ (y + 0x632BE59BD9B4E019ull + (x << 6) + (x >> 2)));
}

tDelaunay::tDelaunay()
    : Vertex(std::make_unique_for_overwrite<dVertex[]>(MaxVertices + 1)),
      Triangle(std::make_unique_for_overwrite<dTriangle[]>(MaxTriangles + 1)),
      fOrder(std::make_unique_for_overwrite<Cardinal[]>(MaxVertices + 1)),
      fPoints(std::make_unique_for_overwrite<dVertex[]>(MaxPoints)),
      fNextInCell(std::make_unique_for_overwrite<Integer[]>(MaxPoints)),
      fInsertion(std::make_unique_for_overwrite<tInsertion[]>(MaxPoints)),
      fMark(std::make_unique_for_overwrite<Integer[]>(MaxTriangles + 1)),
      fStack(std::make_unique_for_overwrite<Integer[]>(MaxTriangles + 1)),
      fFan(std::make_unique_for_overwrite<Integer[]>(MaxVertices + 1)),
      fBoundary(std::make_unique_for_overwrite<tEdge[]>(MaxTriangles + 3)) {}

void tDelaunay::Clear() {
  HowMany = 0;
  tPoints = 1;
  fAddedAs.clear();
  fCells.clear();
  fComputedPoints = 0;
}

void tDelaunay::AddPoint(Double x, Double y) {
  Assert(std::isfinite(x) && std::isfinite(y), "Point coordinates must be finite numbers");
  const Double cellX = CellOf(x), cellY = CellOf(y);
  Integer same = -1;
  for (Double dx = -1; dx <= 1; ++dx)
    for (Double dy = -1; dy <= 1; ++dy) {
      const auto found = fCells.find({cellX + dx, cellY + dy});
      if (found == fCells.end()) continue;
      for (Integer k = found->second; k >= 0; k = fNextInCell[k])
        if (std::fabs(fPoints[k].x - x) < DuplicateDistance &&
            std::fabs(fPoints[k].y - y) < DuplicateDistance && (same < 0 || k < same))
          same = k;
    }
  if (same >= 0) {
    fAddedAs.push_back(same);
    return;
  }
  const Integer kept = tPoints - 1;
  if (kept >= MaxPoints)
    throw ERangeError(Format("Too many points for the triangulation: at most %d distinct points", MaxPoints));
  fPoints[kept] = {x, y};
  auto [cell, inserted] = fCells.try_emplace({cellX, cellY}, kept);
  fNextInCell[kept] = inserted ? -1 : cell->second;
  cell->second = kept;
  fAddedAs.push_back(kept);
  ++tPoints;
}

Cardinal tDelaunay::Order(Integer i) const {
  Assert(i >= 1 && i <= fComputedPoints, "Vertex index out of range");
  return fOrder[i];
}

const dTriangle& tDelaunay::Triangles(Integer i) const {
  Assert(i >= 1 && i <= HowMany, "Triangle index out of range");
  return Triangle[i];
}

const dVertex& tDelaunay::Vertices(Integer i) const {
  Assert(i >= 1 && i <= fComputedPoints, "Vertex index out of range");
  return Vertex[i];
}

void tDelaunay::Compute() {
  const Integer n = tPoints - 1;
  // Sorted by x (then y, then insertion), remembering where each point came from.
  for (Integer i = 0; i < n; ++i) fInsertion[i].Vertex = i;
  std::sort(fInsertion.get(), fInsertion.get() + n, [&](const tInsertion& a, const tInsertion& b) {
    const dVertex &p = fPoints[a.Vertex], &q = fPoints[b.Vertex];
    if (p.x != q.x) return p.x < q.x;
    if (p.y != q.y) return p.y < q.y;
    return a.Vertex < b.Vertex;
  });
  for (Integer i = 0; i < n; ++i) {
    Vertex[i + 1] = fPoints[fInsertion[i].Vertex];
    fOrder[i + 1] = static_cast<Cardinal>(fInsertion[i].Vertex + 1);
  }
  fComputedPoints = n;
  if (n < 3) return;

  Double xMin = Vertex[1].x, xMax = Vertex[n].x, yMin = Vertex[1].y, yMax = Vertex[1].y;
  for (Integer i = 2; i <= n; ++i) {
    yMin = std::min(yMin, Vertex[i].y);
    yMax = std::max(yMax, Vertex[i].y);
  }
  const Double dMax = std::max(xMax - xMin, yMax - yMin);
  const Double xMid = (xMax + xMin) / 2, yMid = (yMax + yMin) / 2;
  Vertex[n + 1] = {xMid - 2 * dMax, yMid - dMax};
  Vertex[n + 2] = {xMid, yMid + 2 * dMax};
  Vertex[n + 3] = {xMid + 2 * dMax, yMid - dMax};
  // Corners are kept counterclockwise.
  Triangle[1] = {n + 1, n + 3, n + 2, {0, 0, 0}};
  fTriangles = 1;
  fLast = 1;
  fStamp = 0;
  std::fill(fMark.get(), fMark.get() + MaxTriangles + 1, 0);

  const Double xScale = xMax > xMin ? 65535.0 / (xMax - xMin) : 0;
  const Double yScale = yMax > yMin ? 65535.0 / (yMax - yMin) : 0;
  for (Integer i = 0; i < n; ++i) {
    const dVertex& p = Vertex[i + 1];
    const auto gx = static_cast<uint32_t>((p.x - xMin) * xScale),
               gy = static_cast<uint32_t>((p.y - yMin) * yScale);
    fInsertion[i] = {HilbertIndex(std::min(gx, 65535u), std::min(gy, 65535u)), i + 1};
  }
  std::sort(fInsertion.get(), fInsertion.get() + n, [](const tInsertion& a, const tInsertion& b) {
    return a.Key != b.Key ? a.Key < b.Key : a.Vertex < b.Vertex;
  });
  for (Integer i = 0; i < n; ++i) Insert(fInsertion[i].Vertex);

  // The triangles that touch a corner of the enclosing triangle go.
  HowMany = 0;
  for (Integer t = 1; t <= fTriangles; ++t) {
    const dTriangle& triangle = Triangle[t];
    if (triangle.vv0 > n || triangle.vv1 > n || triangle.vv2 > n) continue;
    Triangle[++HowMany] = triangle;
  }
  for (Integer t = 1; t <= HowMany; ++t)
    std::fill(std::begin(Triangle[t].Neighbour), std::end(Triangle[t].Neighbour), 0);
}

Integer tDelaunay::Locate(Integer start, const dVertex& p) const {
  // Walk towards the point, crossing an edge that has the point on its far side;
  // the first edge tried turns with every step, which keeps the walk from
  // circling.
  Integer t = start;
  const Integer stepLimit = fTriangles + 3;
  for (Integer step = 0; step < stepLimit; ++step) {
    const dTriangle& triangle = Triangle[t];
    const Integer corners[3] = {triangle.vv0, triangle.vv1, triangle.vv2};
    bool moved = false;
    for (Integer e = 0; e < 3 && !moved; ++e) {
      const Integer i = (step + e) % 3;
      if (Orient(Vertex[corners[(i + 1) % 3]], Vertex[corners[(i + 2) % 3]], p) < 0) {
        t = triangle.Neighbour[i];
        moved = true;
      }
    }
    if (!moved) return t;
    Assert(t != 0, "Triangulation: a point lies outside the enclosing triangle");
  }
  // Not reached on a valid triangulation; search them all rather than fail.
  for (Integer s = 1; s <= fTriangles; ++s) {
    const dTriangle& triangle = Triangle[s];
    const dVertex &a = Vertex[triangle.vv0], &b = Vertex[triangle.vv1], &c = Vertex[triangle.vv2];
    if (Orient(a, b, p) >= 0 && Orient(b, c, p) >= 0 && Orient(c, a, p) >= 0) return s;
  }
  throw EInvalidOperation("Triangulation: no triangle holds the point");
}

void tDelaunay::Insert(Integer vertex) {
  const dVertex& p = Vertex[vertex];
  const Integer first = Locate(fLast, p);
  // The cavity: every triangle whose circumcircle holds the point strictly, grown
  // across edges from the triangle that holds it.
  ++fStamp;
  Integer cavity = 0, top = 0;
  fMark[first] = fStamp;
  fStack[cavity++] = first;
  while (top < cavity) {
    const dTriangle& triangle = Triangle[fStack[top++]];
    for (Integer neighbour : triangle.Neighbour) {
      if (neighbour == 0 || fMark[neighbour] == fStamp || fMark[neighbour] == -fStamp) continue;
      const dTriangle& other = Triangle[neighbour];
      if (InCircle(Vertex[other.vv0], Vertex[other.vv1], Vertex[other.vv2], p) > 0) {
        fMark[neighbour] = fStamp;
        fStack[cavity++] = neighbour;
      } else {
        fMark[neighbour] = -fStamp;
      }
    }
  }
  // Its outline, each edge counterclockwise as seen from inside.
  Integer edges = 0;
  for (Integer c = 0; c < cavity; ++c) {
    const dTriangle& triangle = Triangle[fStack[c]];
    const Integer corners[3] = {triangle.vv0, triangle.vv1, triangle.vv2};
    for (Integer i = 0; i < 3; ++i) {
      const Integer neighbour = triangle.Neighbour[i];
      if (neighbour != 0 && fMark[neighbour] == fStamp) continue;
      fBoundary[edges++] = {corners[(i + 1) % 3], corners[(i + 2) % 3], neighbour};
    }
  }
  const Integer added = edges - cavity;
  if (fTriangles + added > MaxTriangles)
    throw ERangeError(Format("Too many triangles for the triangulation: at most %d", MaxTriangles));
  // A fan of new triangles from the outline to the point, in the slots of the
  // cavity first.
  for (Integer e = 0; e < edges; ++e) {
    const Integer slot = e < cavity ? fStack[e] : ++fTriangles;
    const tEdge& edge = fBoundary[e];
    Triangle[slot] = {edge.From, edge.To, vertex, {0, 0, edge.Outside}};
    fMark[slot] = 0;
    fFan[edge.From] = slot;
    if (edge.Outside != 0) {
      dTriangle& outside = Triangle[edge.Outside];
      const Integer corners[3] = {outside.vv0, outside.vv1, outside.vv2};
      for (Integer i = 0; i < 3; ++i)
        if (corners[i] != edge.From && corners[i] != edge.To) outside.Neighbour[i] = slot;
    }
    fStack[e] = slot;
  }
  for (Integer e = 0; e < edges; ++e) {
    const Integer slot = fStack[e];
    const Integer next = fFan[Triangle[slot].vv1];
    Triangle[slot].Neighbour[0] = next;
    Triangle[next].Neighbour[1] = slot;
  }
  fLast = fStack[0];
}

tMatrixOfBoolean tDelaunay::Matrix() const {
  const Integer added = AddedCount();
  tMatrixOfBoolean m = NullMatrixOfBoolean(added, added);
  if (HowMany == 0) return m;
  // Every point added, grouped by the kept point it stands for.
  std::vector<Integer> start(fComputedPoints + 1, 0), members;
  for (Integer a = 0; a < added; ++a)
    if (fAddedAs[a] < fComputedPoints) ++start[fAddedAs[a] + 1];
  std::partial_sum(start.begin(), start.end(), start.begin());
  members.resize(start[fComputedPoints]);
  std::vector<Integer> fill(start.begin(), start.end() - 1);
  for (Integer a = 0; a < added; ++a)
    if (fAddedAs[a] < fComputedPoints) members[fill[fAddedAs[a]]++] = a;
  auto link = [&](Integer u, Integer v) {
    const Integer p = static_cast<Integer>(fOrder[u]) - 1, q = static_cast<Integer>(fOrder[v]) - 1;
    for (Integer i = start[p]; i < start[p + 1]; ++i)
      for (Integer j = start[q]; j < start[q + 1]; ++j) {
        m[members[i]][members[j]] = true;
        m[members[j]][members[i]] = true;
      }
  };
  for (Integer t = 1; t <= HowMany; ++t) {
    const dTriangle& triangle = Triangle[t];
    link(triangle.vv0, triangle.vv1);
    link(triangle.vv1, triangle.vv2);
    link(triangle.vv2, triangle.vv0);
  }
  return m;
}

}  // namespace utile
