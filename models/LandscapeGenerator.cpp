#include "models/LandscapeGenerator.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "Utile/MatrixOps.h"
#include "Utile/RunTime.h"

namespace models {

namespace {

// The area rule, with what it prepares once for the whole landscape.
class tAreaRule {
 public:
  tAreaRule(const tLandscapeSettings& settings, Integer n) : fSettings(settings) {
    switch (settings.Sizes) {
      case psFixedTotal:
        fBase = settings.MaxArea / n;
        fExtra = settings.MaxArea % n;
        break;
      case psTwoSizes:
        fLarge = utile::Round(static_cast<Double>(n) * settings.PropLargePatches / 100);
        break;
      default:
        break;
    }
  }

  Double operator()(Integer i, const tUniformDraw& uniform) const {
    switch (fSettings.Sizes) {
      case psRandom:
        return static_cast<Double>(
            utile::Round(fSettings.MinArea +
                         uniform() * std::abs(static_cast<Double>(fSettings.MaxArea - fSettings.MinArea))));
      case psFixed:
        return fSettings.MaxArea;
      case psFixedTotal:
        return fBase + (i < fExtra ? 1 : 0);
      case psTwoSizes:
        return i < fLarge ? fSettings.MaxArea : fSettings.MinArea;
      default:
        return 0;
    }
  }

 private:
  const tLandscapeSettings& fSettings;
  Integer fBase = 0, fExtra = 0;
  int64_t fLarge = 0;
};

// The patches placed so far by the random layout, in square cells at least as
// wide as the distance they keep: a new patch only needs the patches of its own
// and the eight neighbouring cells.
class tPlacedPatches {
 public:
  tPlacedPatches(Double width, Double height, Double distance, Integer count) : fDistance(distance) {
    if (!(distance > 0)) return;  // every position is accepted
    width = std::max(width, 1.0);
    height = std::max(height, 1.0);
    // Somewhat wider than the distance, so that patches two cells apart are
    // always far enough apart whatever the rounding of the cell indices.
    fSide = std::max(distance * (1 + 1e-9), std::sqrt(width * height / std::max(count, 1)));
    fColumns = static_cast<Integer>(std::min(width / fSide + 1, 1e6));
    fRows = static_cast<Integer>(std::min(height / fSide + 1, 1e6));
    fCells.resize(static_cast<size_t>(fColumns) * static_cast<size_t>(fRows));
  }

  bool FarEnough(const tArrayOfCircles& patches, Double x, Double y) const {
    if (fCells.empty()) return true;
    const Integer cx = Column(x), cy = Row(y);
    for (Integer r = std::max(cy - 1, 0); r <= std::min(cy + 1, fRows - 1); ++r)
      for (Integer c = std::max(cx - 1, 0); c <= std::min(cx + 1, fColumns - 1); ++c)
        for (Integer j : fCells[Cell(c, r)]) {
          const Double dx = x - patches[j].x;
          const Double dy = y - patches[j].y;
          if (!(std::sqrt(dx * dx + dy * dy) >= fDistance)) return false;
        }
    return true;
  }

  void Add(Integer index, Double x, Double y) {
    if (!fCells.empty()) fCells[Cell(Column(x), Row(y))].push_back(index);
  }

 private:
  Integer Column(Double x) const {
    return std::clamp(static_cast<Integer>(std::floor(x / fSide)), 0, fColumns - 1);
  }
  Integer Row(Double y) const {
    return std::clamp(static_cast<Integer>(std::floor(y / fSide)), 0, fRows - 1);
  }
  size_t Cell(Integer c, Integer r) const { return static_cast<size_t>(r) * fColumns + c; }

  Double fDistance;
  Double fSide = 1;
  Integer fColumns = 0, fRows = 0;
  std::vector<std::vector<Integer>> fCells;
};

void PlaceRandomly(const tLandscapeSettings& s, const tAreaRule& area, const tUniformDraw& uniform,
                   tArrayOfCircles& patches) {
  const Integer n = static_cast<Integer>(patches.size());
  const Double distance = (s.SpaceRangeX + s.SpaceRangeY) / 200;
  tPlacedPatches placed(s.Width, s.Height, distance, n);
  for (Integer i = 0; i < n; ++i) {
    tCircle& patch = patches[i];
    for (Integer draws = 1;; ++draws) {
      if (draws > MaxRandomPlacements)
        throw utile::EInvalidOperation(utile::Format(
            "Only %d of the %d patches could be placed at least %g apart in the study area of %d x %d: "
            "ask for fewer patches or a larger study area.",
            i, n, distance, s.Width, s.Height));
      patch.x = s.Width * uniform();
      patch.y = s.Height * uniform();
      patch.A = area(i, uniform);
      if (patch.A < 1) patch.A = 1;
      if (placed.FarEnough(patches, patch.x, patch.y)) break;
    }
    patch.popID = i + 1;
    placed.Add(i, patch.x, patch.y);
  }
}

// Square and triangle spacing: the study area filled from corner to corner
// with a background, rows 100 apart without one.
void Spacing(const tLandscapeSettings& s, Integer k, Double& dx, Double& dy, tGeneratedLandscape& result) {
  if (s.WithBackground) {
    // A single row or column stands at the origin.
    dx = k > 1 ? (s.Width - 1.0) / (k - 1) : 0;
    dy = k > 1 ? (s.Height - 1.0) / (k - 1) : 0;
  } else {
    dx = dy = 100;
    result.Width = result.Height = (k - 1) * 100;
  }
}

void PlaceSquare(const tLandscapeSettings& s, tGeneratedLandscape& result) {
  tArrayOfCircles& patches = result.Patches;
  const Integer n = static_cast<Integer>(patches.size());
  const Integer k = static_cast<Integer>(std::ceil(std::sqrt(static_cast<Double>(n))));
  Double dx, dy;
  Spacing(s, k, dx, dy, result);
  Integer i = 0;
  for (Integer r = 0; r < k && i < n; ++r)
    for (Integer c = 0; c < k && i < n; ++c, ++i) {
      patches[i].x = c * dx;
      patches[i].y = r * dy;
    }
}

void PlaceGridAndIsolated(const tLandscapeSettings& s, tGeneratedLandscape& result) {
  const Integer k = static_cast<Integer>(utile::Round(std::sqrt(static_cast<Double>(s.PatchCount))));
  tArrayOfCircles& patches = result.Patches;
  patches.resize(static_cast<size_t>(k) * k + 1);
  Integer i = 0;
  for (Integer r = 0; r < k; ++r)
    for (Integer c = 0; c < k; ++c, ++i) {
      patches[i].popID = i + 1;
      patches[i].x = c * 100 + 300;
      patches[i].y = r * 100 + 300;
      patches[i].A = 40;
    }
  tCircle& isolated = patches[i];
  isolated.popID = i + 1;
  isolated.x = isolated.y = s.IsolatedPatchDistance;
  isolated.A = s.IsolatedPatchArea;
  result.PatchCount = i + 1;
  result.Width = result.Height = s.IsolatedPatchDistance + 400;
}

void PlaceTriangle(const tLandscapeSettings& s, tGeneratedLandscape& result) {
  tArrayOfCircles& patches = result.Patches;
  const Integer n = static_cast<Integer>(patches.size());
  const Integer k = static_cast<Integer>(std::ceil((std::sqrt(8.0 * n + 1) - 1) / 2));
  Double dx, dy;
  Spacing(s, k, dx, dy, result);
  const Double shift = std::sin(std::numbers::pi / 6), rise = std::cos(std::numbers::pi / 6);
  Integer i = 0;
  for (Integer r = 0; r < k && i < n; ++r)
    for (Integer c = 0; c < k - r && i < n; ++c, ++i) {
      patches[i].x = c * dx + r * shift * dx;
      patches[i].y = r * rise * dy;
    }
}

void PlaceHexagon(const tLandscapeSettings& s, tGeneratedLandscape& result) {
  tArrayOfCircles& patches = result.Patches;
  const Integer n = static_cast<Integer>(patches.size());
  const Double h = std::sqrt(3.0) / 2;
  const Double steps[6][2] = {{-0.5, h}, {-1, 0}, {-0.5, -h}, {0.5, -h}, {1, 0}, {0.5, h}};
  patches[0].x = patches[0].y = 0;
  Integer placed = 1, ring = 1;
  for (; placed < n; ++ring) {
    utile::Assert(ring <= 100, "A hexagonal landscape holds the patches of 100 rings at most");
    Double x = ring, y = 0;
    for (int side = 0; side < 6 && placed < n; ++side)
      for (Integer k = 0; k < ring && placed < n; ++k) {
        x += steps[side][0];
        y += steps[side][1];
        patches[placed].x = x;
        patches[placed].y = y;
        ++placed;
      }
    if (placed >= n) break;
  }
  Double sx = 100, sy = 100;
  if (s.WithBackground) {
    sx = (s.Width - 1.0) / (2 * ring);
    sy = (s.Height - 1.0) / (2 * ring);
  } else {
    result.Width = result.Height = 200 * ring;
  }
  for (tCircle& patch : patches) {
    patch.x = (patch.x + ring) * sx;
    patch.y = (patch.y + ring) * sy;
  }
}

void PlaceCircle(const tLandscapeSettings& s, tGeneratedLandscape& result) {
  tArrayOfCircles& patches = result.Patches;
  const Integer n = static_cast<Integer>(patches.size());
  Double rx = 50, ry = 50;
  if (s.WithBackground) {
    rx = (s.Width - 1.0) / 2;
    ry = (s.Height - 1.0) / 2;
  } else {
    result.Width = result.Height = 100;
  }
  for (Integer i = 0; i < n; ++i) {
    const Double a = i * 2 * std::numbers::pi / n;
    patches[i].x = rx * std::cos(a) + rx;
    patches[i].y = ry * std::sin(a) + ry;
  }
}

}  // namespace

tGeneratedLandscape GenerateLandscape(const tLandscapeSettings& Settings, const tArrayOfCircles& Current,
                                      const tUniformDraw& Uniform) {
  const tUniformDraw uniform = Uniform ? Uniform : tUniformDraw([] { return utile::Random(); });
  // A landscape has at least one patch.
  const Integer n = std::max(Settings.PatchCount, 1);
  tGeneratedLandscape result;
  result.Patches = Current;  // the patches that remain keep their b and e
  const Integer geometry = Settings.Geometry;
  if (geometry == pgFromFile || geometry < pgRandom || geometry > pgFromFile) return result;
  // The grid sizes the patches by its own count.
  if (geometry != pgGridIsolated) result.Patches.resize(static_cast<size_t>(n));
  if (geometry == pgFrozen) return result;

  const tAreaRule area(Settings, n);
  switch (geometry) {
    case pgRandom:
      PlaceRandomly(Settings, area, uniform, result.Patches);
      return result;
    case pgGridIsolated:
      PlaceGridAndIsolated(Settings, result);
      return result;
    case pgSquare:
      PlaceSquare(Settings, result);
      break;
    case pgTriangle:
      PlaceTriangle(Settings, result);
      break;
    case pgHexagon:
      PlaceHexagon(Settings, result);
      break;
    case pgCircle:
      PlaceCircle(Settings, result);
      break;
    default:
      break;
  }
  for (Integer i = 0; i < n; ++i) {
    result.Patches[i].popID = i + 1;
    result.Patches[i].A = area(i, uniform);
  }
  return result;
}

// ------------------------------------------------------------------ colours

void tPatchColors::Generate(Integer Count) {
  const size_t n = static_cast<size_t>(std::max(Count, 0));
  utile::RandSeed = 0;
  fFirst.resize(n);
  for (size_t i = 0; i < n; ++i)
    fFirst[i] =
        utile::HSItoRGB(static_cast<double>(i) / static_cast<double>(n), 1.0, 0.3 + 0.7 * utile::Random());
  fSize = n * (n + 1) / 2 + 1;
  utile::RandSeed = utile::RandSeedAfter(utile::RandSeed, 2 * static_cast<uint64_t>(fSize - n));
}

utile::TColor tPatchColors::operator[](size_t Index) const {
  if (Index < fFirst.size()) return fFirst[Index];
  const uint64_t later = Index - fFirst.size();
  uint32_t seed = utile::RandSeedAfter(0, fFirst.size() + 2 * later);
  const double hue = utile::RandomFrom(seed);
  const double intensity = utile::RandomFrom(seed);
  return utile::HSItoRGB(hue, 1.0, 0.3 + 0.7 * intensity);
}

// ------------------------------------------------------------------ single patches

Integer NextPopID(const tArrayOfCircles& patches) {
  Integer largest = 0;
  for (const tCircle& patch : patches) largest = std::max(largest, patch.popID);
  return largest + 1;
}

Integer AddPatch(Double x, Double y, Double A) {
  if (DistanceMatFixed)
    throw utile::EInvalidOperation(
        "The distances between the patches of this landscape come from its landscape file, which has none "
        "for "
        "a new patch: no patch can be added to it.");
  tCircle patch;
  patch.popID = NextPopID(Patches);
  patch.x = x;
  patch.y = y;
  patch.A = A;
  Patches.push_back(patch);
  return static_cast<Integer>(Patches.size()) - 1;
}

void RemovePatch(Integer Index) {
  utile::Assert(Index >= 0 && static_cast<size_t>(Index) < Patches.size(), "No patch has this index");
  if (Patches.size() <= 1)
    throw utile::EInvalidOperation(
        "A landscape keeps at least one patch, which the models and the drawing need: the last patch cannot "
        "be "
        "removed.");
  const size_t n = Patches.size(), k = static_cast<size_t>(Index);
  if (DistanceMatFixed) {
    // A matrix that does not fit already is refused by the next distance computation.
    if (utile::MatHasShape(DistanceMat, n, n)) DistanceMat = utile::DeleteRowAndCol(DistanceMat, Index);
  }
  Patches.erase(Patches.begin() + static_cast<std::ptrdiff_t>(k));
}

}  // namespace models
