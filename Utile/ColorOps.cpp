#include "Utile/ColorOps.h"

#include <cmath>
#include <numbers>

#include "Utile/ToolkitVariant.h"

namespace utile {

namespace {

constexpr TColor clBlack = 0x000000;
constexpr TColor clWhite = 0xFFFFFF;
constexpr TColor clBlue = 0xFF0000;
constexpr TColor clRed = 0x0000FF;
constexpr TColor clYellow = 0x00FFFF;

// Random colours come from the run-time generator, restarted at seed 0 so that
// the same colours come out in every run.
tPalette RandomPalette(Integer count) {
  RandSeed = 0;
  tPalette palette(count);
  for (TColor& color : palette) {
    const double u1 = Random();
    const double u2 = Random();
    color = HSItoRGB(u1, 1.0, 0.3 + 0.7 * u2);
  }
  return palette;
}

Byte ChannelOf(long double value) {
  if (value > 1) value = 1;
  if (!(value > 0)) value = 0;  // only reached for saturations above 1
  return Byte(Trunc(255 * value));
}

}  // namespace

Integer PaletteTypeCount() {
  return ToolkitVariant() == tToolkitVariant::tvMapFileManager ? 5 : static_cast<Integer>(PaletteTypeStr.size());
}

tPalette CreatePalette(tPaletteType kind) {
  switch (kind) {
    case tPaletteType::ptBoolean:
      return {clWhite, clBlack};
    case tPaletteType::ptRainbow:
      return ColorGradient({clBlack, clBlue, clRed, clYellow, clWhite}, 256);
    case tPaletteType::ptGreyShade:
      return ColorGradient({clWhite, clBlack}, 256);
    case tPaletteType::ptFire:
      return ColorGradient({clWhite, clYellow, clRed}, 256);
    case tPaletteType::ptQualitative256:
      return RandomPalette(256);
    case tPaletteType::ptQualitative1024:
      return RandomPalette(1024);
  }
  throw EInvalidArgument(Format("Unknown palette kind %d", static_cast<int>(kind)));
}

tPalette ColorGradient(const std::vector<TColor>& colors, Integer steps) {
  if (colors.size() < 2)
    throw EInvalidGraphicOperation(ToolkitVariant() == tToolkitVariant::tvMapFileManager
                                       ? "Color gradient nees at least two colour steps."
                                       : "Color gradient needs at least two colour steps.");
  Assert(steps > 0, "A colour gradient needs at least one step between two colours.");
  tPalette palette((colors.size() - 1) * steps);
  for (size_t i = 0; i + 1 < colors.size(); ++i) {
    const long double r1 = GetRValue(colors[i]), g1 = GetGValue(colors[i]), b1 = GetBValue(colors[i]);
    const long double dr = long(GetRValue(colors[i + 1])) - long(GetRValue(colors[i]));
    const long double dg = long(GetGValue(colors[i + 1])) - long(GetGValue(colors[i]));
    const long double db = long(GetBValue(colors[i + 1])) - long(GetBValue(colors[i]));
    for (Integer j = 0; j < steps; ++j)
      palette[i * steps + j] = RGBColor(Byte(Trunc(r1 + j * dr / steps)), Byte(Trunc(g1 + j * dg / steps)),
                                        Byte(Trunc(b1 + j * db / steps)));
  }
  return palette;
}

tPalette ColorGradient(std::initializer_list<TColor> colors, Integer steps) {
  return ColorGradient(std::vector<TColor>(colors), steps);
}

TColor HSItoRGB(double h, double s, double i) {
  // Extended precision throughout, as the original arithmetic, so that the
  // truncated channels come out the same.
  constexpr long double pi = std::numbers::pi_v<long double>;
  const long double H = h, S = s;
  long double r, g, b;
  if (H < 1.0L / 3.0L) {
    const long double a = 2 * pi * H;
    b = (1 - S) / 3;
    r = (1 + S * std::cos(a) / std::cos(pi / 3 - a)) / 3;
    g = 1 - r - b;
  } else if (H < 2.0L / 3.0L) {
    const long double a = 2 * pi * (H - 1.0L / 3.0L);
    r = (1 - S) / 3;
    g = (1 + S * std::cos(a) / std::cos(pi / 3 - a)) / 3;
    b = 1 - r - g;
  } else {
    const long double a = 2 * pi * (H - 2.0L / 3.0L);
    g = (1 - S) / 3;
    b = (1 + S * std::cos(a) / std::cos(pi / 3 - a)) / 3;
    r = 1 - g - b;
  }
  const long double scale = 3.0L * i;
  return RGBColor(ChannelOf(scale * r), ChannelOf(scale * g), ChannelOf(scale * b));
}

TRGBTriple ColorToRGBtriple(TColor color) {
  return TRGBTriple{GetBValue(color), GetGValue(color), GetRValue(color)};
}

tRGBTriplePalette ColorToRGBtriple(const tPalette& palette) {
  tRGBTriplePalette triples(palette.size());
  for (size_t i = 0; i < palette.size(); ++i) triples[i] = ColorToRGBtriple(palette[i]);
  return triples;
}

TColor ColorShade(double value, const tPalette& palette, double min, double max, double missingValue,
                  TColor missingColor) {
  Assert(!palette.empty(), "The palette has no colour.");
  if (std::fabs(static_cast<long double>(value) - missingValue) < 1e-6L) return missingColor;
  const Integer k = ShadeIndex(value, palette.size(), min, max);
  return k < 0 ? missingColor : palette[k];
}

TRGBTriple ColorShade(double value, const tRGBTriplePalette& palette, double min, double max,
                      double missingValue, TRGBTriple missingColor) {
  Assert(!palette.empty(), "The palette has no colour.");
  if (std::fabs(static_cast<long double>(value) - missingValue) < 1e-6L) return missingColor;
  const Integer k = ShadeIndex(value, palette.size(), min, max);
  return k < 0 ? missingColor : palette[k];
}

}  // namespace utile
