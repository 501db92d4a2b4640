// Named palettes, colour gradients, hue-saturation-intensity colours and the rule
// that maps a value to a palette entry. Maps and matrices are drawn through these
// palettes; index 0 is the colour of the lowest value.
#pragma once

#include <array>
#include <cmath>
#include <cstdint>
#include <initializer_list>
#include <vector>

#include "Utile/CommonDecl.h"
#include "Utile/RunTime.h"

namespace utile {

// A colour as the platform stores it: red in the low byte, then green, then blue.
using TColor = uint32_t;

// One 24-bit pixel in the byte order of bitmap scan lines: blue, green, red.
struct TRGBTriple {
  Byte rgbtBlue = 0;
  Byte rgbtGreen = 0;
  Byte rgbtRed = 0;
  friend bool operator==(const TRGBTriple&, const TRGBTriple&) = default;
};
static_assert(sizeof(TRGBTriple) == 3);

using tPalette = std::vector<TColor>;
// The same palette as pixels, for writing scan lines without conversions.
using tRGBTriplePalette = std::vector<TRGBTriple>;

constexpr TColor RGBColor(Byte red, Byte green, Byte blue) {
  return TColor(red) | (TColor(green) << 8) | (TColor(blue) << 16);
}
constexpr Byte GetRValue(TColor color) { return Byte(color & 0xFF); }
constexpr Byte GetGValue(TColor color) { return Byte((color >> 8) & 0xFF); }
constexpr Byte GetBValue(TColor color) { return Byte((color >> 16) & 0xFF); }

enum class tPaletteType { ptBoolean, ptRainbow, ptGreyShade, ptFire, ptQualitative256, ptQualitative1024 };

// Display names that fill every palette list, indexed by the kind.
inline constexpr std::array<const char*, 6> PaletteTypeStr = {
    "Boolean", "Rainbow", "Grey shade", "Fire", "Qualitative 256", "Qualitative 1024"};

// How many kinds this program offers in its palette lists (the first ones of
// PaletteTypeStr): the map-file manager has no "Qualitative 1024".
Integer PaletteTypeCount();

// The raised error of colour routines that cannot do what they are asked.
class EInvalidGraphicOperation : public EInvalidOperation {
  using EInvalidOperation::EInvalidOperation;
};

tPalette CreatePalette(tPaletteType kind);

// (n - 1) x Steps entries for n colours: every interval from one colour to the
// next in Steps equal steps; the last colour itself is never an entry.
// EInvalidGraphicOperation for fewer than two colours.
tPalette ColorGradient(const std::vector<TColor>& colors, Integer steps);
tPalette ColorGradient(std::initializer_list<TColor> colors, Integer steps);

// H in turns (0 <= H < 1), S and I from 0 to 1.
TColor HSItoRGB(double h, double s, double i);

TRGBTriple ColorToRGBtriple(TColor color);
tRGBTriplePalette ColorToRGBtriple(const tPalette& palette);

// The palette entry of Value in the range Min..Max: MissingColor when Value lies
// within 1e-6 of MissingValue (or is not a number), entry 0 when Min = Max,
// otherwise the nearest entry (halves to even), values outside the range taking
// the first or the last entry.
// The entry of Value among Count entries over Min..Max, without the missing test:
// 0 when Min = Max, the nearest entry (halves to even) inside the range, the end
// entries outside it, -1 for a value that is not a number. Computed in extended
// precision so that ties round as they always have.
inline Integer ShadeIndex(double value, size_t count, double min, double max) {
  if (max == min) return 0;
  const long double h = static_cast<long double>(count - 1);
  const long double k = h * (static_cast<long double>(value) - min) / (static_cast<long double>(max) - min);
  // Clamped before it becomes an integer, so that far-out values (an unflagged
  // background of -3.4e38) take the end entries instead of overflowing.
  if (k != k) return -1;
  if (k <= 0) return 0;
  if (k >= h) return static_cast<Integer>(count - 1);
  return static_cast<Integer>(std::nearbyint(k));
}

TColor ColorShade(double value, const tPalette& palette, double min, double max, double missingValue,
                  TColor missingColor);
TRGBTriple ColorShade(double value, const tRGBTriplePalette& palette, double min, double max,
                      double missingValue, TRGBTriple missingColor);

}  // namespace utile
