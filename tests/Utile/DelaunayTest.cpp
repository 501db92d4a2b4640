#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <random>
#include <set>

#include "Utile/Delaunay.h"
#include "Utile/RunTime.h"

using namespace utile;

namespace {

struct tPoint {
  double x, y;
};

std::vector<tPoint> RandomPoints(size_t n, unsigned seed, double side = 1000) {
  std::mt19937 generator(seed);
  std::uniform_real_distribution<double> uniform(0, side);
  std::vector<tPoint> points(n);
  for (auto& p : points) p = {uniform(generator), uniform(generator)};
  return points;
}

void Triangulate(tDelaunay& delaunay, const std::vector<tPoint>& points) {
  delaunay.Clear();
  for (const auto& p : points) delaunay.AddPoint(p.x, p.y);
  delaunay.Compute();
}

size_t LinkCount(const tMatrixOfBoolean& m) {
  size_t links = 0;
  for (size_t i = 0; i < m.size(); ++i)
    for (size_t j = i + 1; j < m.size(); ++j) links += m[i][j];
  return links;
}

long double Cross(const dVertex& a, const dVertex& b, const dVertex& c) {
  return (static_cast<long double>(b.x) - a.x) * (static_cast<long double>(c.y) - a.y) -
         (static_cast<long double>(b.y) - a.y) * (static_cast<long double>(c.x) - a.x);
}

// Checks the triangulation on its own terms: proper triangles, every directed
// edge used once, and no vertex strictly inside any circumcircle (found through a
// grid of buckets; circumcentres computed in extended precision, with a relative
// margin for points that lie on a circle).
::testing::AssertionResult IsDelaunay(const tDelaunay& d) {
  const Integer n = d.PointCount();
  double xMin = 1e300, xMax = -1e300, yMin = 1e300, yMax = -1e300;
  for (Integer i = 1; i <= n; ++i) {
    xMin = std::min(xMin, d.Vertices(i).x);
    xMax = std::max(xMax, d.Vertices(i).x);
    yMin = std::min(yMin, d.Vertices(i).y);
    yMax = std::max(yMax, d.Vertices(i).y);
  }
  const int side = std::max(1, static_cast<int>(std::sqrt(n / 2.0)));
  const double cellWidth = std::max(xMax - xMin, 1e-300) / side,
               cellHeight = std::max(yMax - yMin, 1e-300) / side;
  auto cellX = [&](double x) { return std::clamp(static_cast<int>((x - xMin) / cellWidth), 0, side - 1); };
  auto cellY = [&](double y) { return std::clamp(static_cast<int>((y - yMin) / cellHeight), 0, side - 1); };
  std::vector<std::vector<Integer>> buckets(static_cast<size_t>(side) * side);
  for (Integer i = 1; i <= n; ++i)
    buckets[cellY(d.Vertices(i).y) * side + cellX(d.Vertices(i).x)].push_back(i);

  std::set<std::pair<Integer, Integer>> directed;
  for (Integer t = 1; t <= d.TriangleCount(); ++t) {
    const dTriangle& tri = d.Triangles(t);
    Integer c[3] = {tri.vv0, tri.vv1, tri.vv2};
    for (Integer k : c)
      if (k < 1 || k > n) return ::testing::AssertionFailure() << "triangle " << t << " has corner " << k;
    const dVertex &a = d.Vertices(c[0]), &b = d.Vertices(c[1]), &cc = d.Vertices(c[2]);
    const long double area = Cross(a, b, cc);
    if (area == 0) return ::testing::AssertionFailure() << "triangle " << t << " is flat";
    if (area < 0) std::swap(c[1], c[2]);
    for (int e = 0; e < 3; ++e)
      if (!directed.insert({c[e], c[(e + 1) % 3]}).second)
        return ::testing::AssertionFailure() << "edge " << c[e] << "-" << c[(e + 1) % 3] << " used twice";

    const long double bx = static_cast<long double>(b.x) - a.x, by = static_cast<long double>(b.y) - a.y;
    const long double cx = static_cast<long double>(cc.x) - a.x, cy = static_cast<long double>(cc.y) - a.y;
    const long double det = 2 * (bx * cy - by * cx);
    const long double ux = (cy * (bx * bx + by * by) - by * (cx * cx + cy * cy)) / det;
    const long double uy = (bx * (cx * cx + cy * cy) - cx * (bx * bx + by * by)) / det;
    const long double r2 = ux * ux + uy * uy;
    const long double centreX = a.x + ux, centreY = a.y + uy, r = std::sqrt(r2);
    const int x0 = cellX(static_cast<double>(centreX - r)), x1 = cellX(static_cast<double>(centreX + r));
    const int y0 = cellY(static_cast<double>(centreY - r)), y1 = cellY(static_cast<double>(centreY + r));
    for (int gy = y0; gy <= y1; ++gy)
      for (int gx = x0; gx <= x1; ++gx)
        for (Integer p : buckets[gy * side + gx]) {
          if (p == c[0] || p == c[1] || p == c[2]) continue;
          const long double dx = d.Vertices(p).x - centreX, dy = d.Vertices(p).y - centreY;
          if (dx * dx + dy * dy < r2 * (1 - 1e-9L))
            return ::testing::AssertionFailure()
                   << "vertex " << p << " lies inside the circumcircle of triangle " << t;
        }
  }
  return ::testing::AssertionSuccess();
}

// The link matrix holds exactly the triangle edges, mapped to insertion order;
// a point that duplicates an earlier one (within 1e-6 in x and y) has its links.
::testing::AssertionResult MatrixMatchesTriangles(const tDelaunay& d, const std::vector<tPoint>& points) {
  const tMatrixOfBoolean m = d.Matrix();
  if (m.size() != points.size()) return ::testing::AssertionFailure() << "matrix of size " << m.size();
  std::vector<Integer> keptOf(points.size()), kept;
  for (size_t a = 0; a < points.size(); ++a) {
    keptOf[a] = -1;
    for (size_t k = 0; k < kept.size() && keptOf[a] < 0; ++k)
      if (std::fabs(points[kept[k]].x - points[a].x) < 1e-6 &&
          std::fabs(points[kept[k]].y - points[a].y) < 1e-6)
        keptOf[a] = static_cast<Integer>(k);
    if (keptOf[a] < 0) {
      keptOf[a] = static_cast<Integer>(kept.size());
      kept.push_back(static_cast<Integer>(a));
    }
  }
  std::set<std::pair<Integer, Integer>> edges;
  for (Integer t = 1; t <= d.TriangleCount(); ++t) {
    const dTriangle& tri = d.Triangles(t);
    const Integer c[3] = {tri.vv0, tri.vv1, tri.vv2};
    for (int e = 0; e < 3; ++e) {
      Integer p = static_cast<Integer>(d.Order(c[e])) - 1,
              q = static_cast<Integer>(d.Order(c[(e + 1) % 3])) - 1;
      edges.insert({std::min(p, q), std::max(p, q)});
    }
  }
  for (size_t a = 0; a < points.size(); ++a)
    for (size_t b = 0; b < points.size(); ++b) {
      const Integer p = std::min(keptOf[a], keptOf[b]), q = std::max(keptOf[a], keptOf[b]);
      if (m[a][b] != (edges.count({p, q}) > 0))
        return ::testing::AssertionFailure() << "link " << a << "-" << b << " is " << m[a][b];
    }
  return ::testing::AssertionSuccess();
}

TEST(Delaunay, NearbyPointsCountAsOne) {
  tDelaunay d;
  d.AddPoint(0, 0);
  d.AddPoint(5e-7, -9.9e-7);   // within 1e-6 in both coordinates
  d.AddPoint(1e-6, 0);         // exactly 1e-6 away in x: kept
  d.AddPoint(0, -1e-6);        // kept
  d.AddPoint(1e-6 + 1e-7, 0);  // within 1e-6 of the third
  EXPECT_EQ(d.PointCount(), 3);
  EXPECT_EQ(d.AddedCount(), 5);
}

TEST(Delaunay, SmallConfigurations) {
  tDelaunay d;
  Triangulate(d, {{0, 0}, {4, 0}, {1, 3}});
  EXPECT_EQ(d.TriangleCount(), 1);
  EXPECT_EQ(d.Matrix(), (tMatrixOfBoolean{{false, true, true}, {true, false, true}, {true, true, false}}));

  Triangulate(d, {{0, 0}, {4, 0}});
  EXPECT_EQ(d.TriangleCount(), 0);
  EXPECT_EQ(d.Matrix(), (tMatrixOfBoolean{{false, false}, {false, false}}));

  // The corners of a square: two triangles, five links, one diagonal.
  Triangulate(d, {{0, 0}, {1, 0}, {1, 1}, {0, 1}});
  EXPECT_EQ(d.TriangleCount(), 2);
  const tMatrixOfBoolean square = d.Matrix();
  EXPECT_EQ(LinkCount(square), 5u);
  EXPECT_NE(square[0][2], square[1][3]);
  for (int i = 0; i < 4; ++i) EXPECT_TRUE(square[i][(i + 1) % 4]);

  // A kite that is not cocircular: the Delaunay diagonal is the short one.
  Triangulate(d, {{0, 0}, {2, -1}, {4, 0}, {2, 1}});
  const tMatrixOfBoolean kite = d.Matrix();
  EXPECT_TRUE(kite[1][3]);
  EXPECT_FALSE(kite[0][2]);

  d.Clear();
  EXPECT_EQ(d.TriangleCount(), 0);
  EXPECT_EQ(d.PointCount(), 0);
  EXPECT_TRUE(d.Matrix().empty());
  d.Compute();
  EXPECT_EQ(d.TriangleCount(), 0);
}

TEST(Delaunay, MatrixKeepsInsertionOrderAndDuplicates) {
  tDelaunay d;
  // 0 (0,0), 1 (10,0), 2 duplicate of 0, 3 (0,10), 4 duplicate of 1, 5 (10,10.5).
  Triangulate(d, {{0, 0}, {10, 0}, {1e-7, 0}, {0, 10}, {10, 3e-7}, {10, 10.5}});
  EXPECT_EQ(d.PointCount(), 4);
  const tMatrixOfBoolean m = d.Matrix();
  ASSERT_EQ(m.size(), 6u);
  for (const auto& row : m) ASSERT_EQ(row.size(), 6u);
  // The four distinct points: a quadrilateral whose short diagonal is 1-3.
  const int representative[6] = {0, 1, 0, 3, 1, 5};
  auto linked = [&](int p, int q) {
    const int a = representative[p], b = representative[q];
    if (a == b) return false;
    return !((a == 0 && b == 5) || (a == 5 && b == 0));
  };
  for (int p = 0; p < 6; ++p)
    for (int q = 0; q < 6; ++q) EXPECT_EQ(m[p][q], linked(p, q)) << p << "-" << q;

  // Fewer than three distinct points: N x N, no link.
  Triangulate(d, {{0, 0}, {0, 1e-7}, {3, 3}});
  EXPECT_EQ(d.Matrix(), (tMatrixOfBoolean(3, tVectorOfBoolean(3, false))));
}

TEST(Delaunay, SortOrderMapsBackToInsertion) {
  tDelaunay d;
  const std::vector<tPoint> points = {{5, 1}, {-2, 3}, {7, -1}, {0, 0}, {3, 9}};
  Triangulate(d, points);
  for (Integer i = 1; i <= d.PointCount(); ++i) {
    const tPoint& original = points[d.Order(i) - 1];
    EXPECT_EQ(d.Vertices(i).x, original.x);
    EXPECT_EQ(d.Vertices(i).y, original.y);
    if (i > 1) {
      EXPECT_LE(d.Vertices(i - 1).x, d.Vertices(i).x);
    }
  }
}

TEST(Delaunay, RandomPointSets) {
  tDelaunay d;
  for (size_t n : {3, 10, 1000, 10000, 100000}) {
    const auto points = RandomPoints(n, static_cast<unsigned>(n));
    Triangulate(d, points);
    EXPECT_GT(d.TriangleCount(), 0);
    EXPECT_LE(d.TriangleCount(), static_cast<Integer>(2 * n - 2));
    EXPECT_TRUE(IsDelaunay(d)) << "n = " << n;
    if (n <= 2000) {
      EXPECT_TRUE(MatrixMatchesTriangles(d, points)) << "n = " << n;
    }
  }
}

TEST(Delaunay, DegenerateLayouts) {
  struct tCase {
    const char* Name;
    std::vector<tPoint> Points;
  };
  std::vector<tCase> cases;
  {
    std::vector<tPoint> grid;
    for (int i = 0; i < 40; ++i)
      for (int j = 0; j < 30; ++j) grid.push_back({i * 2.5, j * 2.5});
    cases.push_back({"grid", grid});
  }
  {
    std::vector<tPoint> lattice;
    for (int i = 0; i < 60; ++i)
      for (int j = 0; j < 60; ++j) lattice.push_back({i * 0.1, j * 0.1 + (i % 2) * 0.05});
    cases.push_back({"shifted lattice", lattice});
  }
  {
    std::vector<tPoint> runs;
    for (int i = 0; i < 200; ++i) runs.push_back({i * 0.37, 2 * i * 0.37 + 1});  // a sloped run
    for (int i = 0; i < 100; ++i) runs.push_back({50, i * 0.5});                 // a vertical run
    runs.push_back({10, 80});
    runs.push_back({-20, 3});
    cases.push_back({"collinear runs", runs});
  }
  {
    std::vector<tPoint> near = RandomPoints(300, 5, 1);
    const size_t base = near.size();
    for (size_t i = 0; i < base; ++i) {
      near.push_back({near[i].x + 1.5e-6, near[i].y});
      near.push_back({near[i].x, near[i].y - 1.01e-6});
      near.push_back({near[i].x + 4e-7, near[i].y + 4e-7});  // a duplicate
    }
    cases.push_back({"near-duplicates", near});
  }
  {
    std::vector<tPoint> circle;
    for (int i = 0; i < 64; ++i) circle.push_back({std::cos(i * M_PI / 32), std::sin(i * M_PI / 32)});
    circle.push_back({0, 0});
    cases.push_back({"circle", circle});
  }
  tDelaunay d;
  for (const auto& c : cases) {
    Triangulate(d, c.Points);
    EXPECT_GT(d.TriangleCount(), 0) << c.Name;
    EXPECT_TRUE(IsDelaunay(d)) << c.Name;
    EXPECT_TRUE(MatrixMatchesTriangles(d, c.Points)) << c.Name;
  }

  // Points on one line only: no triangle, N x N without links.
  std::vector<tPoint> line;
  for (int i = 0; i < 50; ++i) line.push_back({i * 1.0, i * 3.0});
  Triangulate(d, line);
  EXPECT_EQ(d.TriangleCount(), 0);
  EXPECT_EQ(d.Matrix(), (tMatrixOfBoolean(50, tVectorOfBoolean(50, false))));
}

TEST(Delaunay, LargeGrid) {
  std::vector<tPoint> grid;
  for (int i = 0; i < 300; ++i)
    for (int j = 0; j < 300; ++j) grid.push_back({i * 10.0, j * 10.0});
  tDelaunay d;
  Triangulate(d, grid);
  EXPECT_GT(d.TriangleCount(), 2 * 290 * 290);
  EXPECT_TRUE(IsDelaunay(d));
}

TEST(Delaunay, CapacityIsEnforced) {
  tDelaunay d;
  const auto points = RandomPoints(tDelaunay::MaxPoints, 99, 1e6);
  for (const auto& p : points) d.AddPoint(p.x, p.y);
  ASSERT_EQ(d.PointCount(), tDelaunay::MaxPoints);  // no two random points within 1e-6 here
  EXPECT_THROW(d.AddPoint(-1, -1), ERangeError);
  d.AddPoint(points[17].x, points[17].y);  // a duplicate still goes in
  EXPECT_EQ(d.AddedCount(), tDelaunay::MaxPoints + 1);
  d.Compute();
  EXPECT_GT(d.TriangleCount(), tDelaunay::MaxPoints);
  EXPECT_THROW(d.AddPoint(std::nan(""), 0), EAssertionFailed);
}

}  // namespace
