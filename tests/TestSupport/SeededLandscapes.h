// Random landscapes of the equilibrium analyses, drawn from the toolkit's own
// generator: every coordinate and area is a 32-bit draw times a small integer,
// exact in a double, so that a seed gives the same patches on every machine.
// The tests that record results and the benchmarks that measure them share them.
#pragma once

#include "Utile/RandomFunctions.h"
#include "models/MetapopCommon.h"

namespace testsupport {

// N patches over a square of side Side, areas from MinArea to MaxArea, drawn
// after SetSeeds(Seed, 1) in patch order: x, y, then the area.
inline models::tArrayOfCircles SeededLandscape(int n, int seed, int side = 200, int minArea = 1,
                                               int maxArea = 50) {
  utile::SetSeeds(seed, 1);
  models::tArrayOfCircles patches;
  for (int i = 0; i < n; ++i) {
    models::tCircle c;
    c.popID = i + 1;
    c.x = side * utile::Ran();
    c.y = side * utile::Ran();
    c.A = minArea + (maxArea - minArea) * utile::Ran();
    patches.push_back(c);
  }
  return patches;
}

// The parameters of the simple demographic workbench as it opens: territory 1,
// mean dispersal distance 100, colonisation 1, extinction 1000, emigration and
// extinction scaling 1, immigration scaling 0.
inline models::tParam SimpleDemoDefaults() {
  models::tParam param;
  param.Territ = 1;
  param.alph = 1.0 / 100;
  param.colonisation = 1;
  param.extinction = 1000;
  param.ZetaEm = 1;
  param.ZetaIm = 0;
  param.ZetaExt = 1;
  return param;
}

}  // namespace testsupport
