// Delaunay triangulation of a set of 2-D points, used to link the patches whose
// centres share a triangle edge.
#pragma once

#include <memory>
#include <unordered_map>
#include <vector>

#include "Utile/CommonDecl.h"

namespace utile {

struct dVertex {
  Double x;
  Double y;
};

// A triangle's three corners, indices into the vertices (counted from 1), and
// the working data of the triangulation: the triangle across the edge opposite
// each corner (0 for none).
struct dTriangle {
  Integer vv0;
  Integer vv1;
  Integer vv2;
  Integer Neighbour[3];
};

class tDelaunay {
 public:
  // Room for the points and the three corners of the enclosing triangle, and for
  // the triangles; both are set aside once, at creation.
  static constexpr Integer MaxVertices = 500000;
  static constexpr Integer MaxTriangles = 1000000;
  static constexpr Integer MaxPoints = MaxVertices - 3;

  tDelaunay();
  tDelaunay(const tDelaunay&) = delete;
  tDelaunay& operator=(const tDelaunay&) = delete;

  // Forgets the points and the triangles.
  void Clear();
  // Adds a point, unless an earlier point lies within 1e-6 of it in both x and y:
  // the point then stands for that earlier one. ERangeError beyond MaxPoints.
  void AddPoint(Double x, Double y);
  // Sorts the points by x and, when there are at least three, triangulates them.
  void Compute();
  // N x N for the N points added (duplicates included), in the order they were
  // added: true where two points are corners of one triangle. A duplicate has the
  // links of the point it stands for.
  tMatrixOfBoolean Matrix() const;

  // The position, in insertion order and counted from 1, of the point that the
  // sort put at position i (1 .. PointCount).
  Cardinal Order(Integer i) const;
  Integer TriangleCount() const { return HowMany; }
  // Triangle i (1 .. TriangleCount); its corners index Vertices.
  const dTriangle& Triangles(Integer i) const;
  // Vertex i (1 .. PointCount), sorted by x by the last Compute.
  const dVertex& Vertices(Integer i) const;
  // Distinct points kept.
  Integer PointCount() const { return tPoints - 1; }
  // Every point added, duplicates included.
  Integer AddedCount() const { return static_cast<Integer>(fAddedAs.size()); }

 private:
  struct tCell {
    Double x, y;
    bool operator==(const tCell&) const = default;
  };
  struct tCellHash {
    size_t operator()(const tCell& c) const;
  };
  struct tInsertion {
    uint64_t Key;
    Integer Vertex;
  };

  Integer Locate(Integer start, const dVertex& p) const;
  void Insert(Integer vertex);

  std::unique_ptr<dVertex[]> Vertex;      // from index 1; after the points, the enclosing corners
  std::unique_ptr<dTriangle[]> Triangle;  // from index 1
  std::unique_ptr<Cardinal[]> fOrder;     // from index 1
  Integer HowMany = 0;
  Integer tPoints = 1;

  // The points kept, in insertion order (from 0), and for every point added the
  // kept point it stands for.
  std::unique_ptr<dVertex[]> fPoints;
  std::vector<Integer> fAddedAs;
  // Duplicate search: kept points by cells of 1e-6, chained within a cell.
  std::unordered_map<tCell, Integer, tCellHash> fCells;
  std::unique_ptr<Integer[]> fNextInCell;
  Integer fComputedPoints = 0;  // points that the last triangulation covered

  // Working space of the triangulation.
  std::unique_ptr<tInsertion[]> fInsertion;
  std::unique_ptr<Integer[]> fMark;   // per triangle: in the current cavity, or tested outside it
  std::unique_ptr<Integer[]> fStack;  // cavity triangles
  std::unique_ptr<Integer[]> fFan;    // per vertex: the new triangle whose outer edge starts there
  struct tEdge {
    Integer From, To, Outside;
  };
  std::unique_ptr<tEdge[]> fBoundary;
  Integer fTriangles = 0;  // triangles in use during the triangulation
  Integer fLast = 1;       // where the next point search starts
  Integer fStamp = 0;
};

}  // namespace utile
