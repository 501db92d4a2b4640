// Making and editing the landscape: the layouts and area rules that generate
// the patches, the random colours of the patches, and the adding and removing
// of single patches. The main window reads its controls into the settings,
// writes what comes back into Patches and its controls, and then runs its
// landscape sequence.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "Utile/ColorOps.h"
#include "models/MetapopCommon.h"

namespace models {

// The layouts, by their place in the topology list.
constexpr Integer pgRandom = 0;
constexpr Integer pgSquare = 1;
constexpr Integer pgGridIsolated = 2;
constexpr Integer pgTriangle = 3;
constexpr Integer pgHexagon = 4;
constexpr Integer pgCircle = 5;
constexpr Integer pgFrozen = 6;    // the patches are kept, only their number changes
constexpr Integer pgFromFile = 7;  // the patches of the landscape file are kept

// The area rules, by their place in the sizes list.
constexpr Integer psRandom = 0;
constexpr Integer psFixed = 1;
constexpr Integer psFixedTotal = 2;  // the maximum area is shared out among the patches
constexpr Integer psTwoSizes = 3;

// How many times the random layout draws one patch again before it gives up.
constexpr Integer MaxRandomPlacements = 10000;

struct tLandscapeSettings {
  Integer Geometry = pgHexagon;
  Integer Sizes = psFixed;
  Integer PatchCount = 3;
  Integer Width = 100;  // the current study area
  Integer Height = 100;
  Integer MinArea = 1;
  Integer MaxArea = 40;
  Integer PropLargePatches = 50;  // percent of large patches under two sizes
  Integer IsolatedPatchArea = 5;
  Integer IsolatedPatchDistance = 5;
  // A background picture is loaded: the layouts then fill the current study area.
  bool WithBackground = false;
  // The spans of the axes of the landscape shown before this one: the random
  // layout keeps its patches (SpaceRangeX + SpaceRangeY) / 200 apart.
  Double SpaceRangeX = 0;
  Double SpaceRangeY = 0;
};

struct tGeneratedLandscape {
  tArrayOfCircles Patches;
  // What the layout sets besides the patches.
  std::optional<Integer> Width;
  std::optional<Integer> Height;
  std::optional<Integer> PatchCount;
};

// The draws of the generator: uniform in [0, 1).
using tUniformDraw = std::function<double()>;

// The landscape that the settings make from the current patches (which only
// the frozen layout and the file layout keep). Draws come from Uniform, by
// default the colour generator. EInvalidOperation when the random layout cannot
// place a patch far enough from the others within MaxRandomPlacements draws.
tGeneratedLandscape GenerateLandscape(const tLandscapeSettings& Settings, const tArrayOfCircles& Current,
                                      const tUniformDraw& Uniform = {});

// The random colours of the patches: N(N+1)/2 + 1 entries for N patches, the
// first N of hues spread evenly, the later ones of random hues, all drawn from
// the colour generator restarted at 0. Only the first N are made when the table
// is made; any other entry, also one past the end, is worked out when it is
// read from where the colour generator would have stood, so that every patch
// has a colour and the generator is left where the whole table leaves it.
class tPatchColors {
 public:
  // RandSeed := 0, then the table for Count patches; RandSeed ends where
  // drawing every entry leaves it.
  void Generate(Integer Count);
  utile::TColor operator[](size_t Index) const;
  utile::TColor at(size_t Index) const { return (*this)[Index]; }
  // N(N+1)/2 + 1, or 0 before the first Generate.
  size_t size() const { return fSize; }
  bool empty() const { return fSize == 0; }
  Integer Count() const { return static_cast<Integer>(fFirst.size()); }

 private:
  std::vector<utile::TColor> fFirst;
  size_t fSize = 0;
};

// The popID that a new patch gets: one more than the largest of the patches (1
// for none).
Integer NextPopID(const tArrayOfCircles& Patches);

// Appends a patch (b = e = 0, popID NextPopID) to Patches and returns its
// index. Refused (EInvalidOperation, nothing changed) while the distance
// matrix comes from a landscape file: it has no distances for the new patch.
Integer AddPatch(Double x, Double y, Double A);

// Removes patch Index from Patches (later patches move down); a distance matrix
// from a landscape file loses that patch's row and column. Refused
// (EInvalidOperation, nothing changed) for the last patch: every model and
// drawing reads at least one.
void RemovePatch(Integer Index);

}  // namespace models
