#include "Utile/ColorOps.h"

#include <cmath>
#include <limits>
#include <string>

#include <gtest/gtest.h>

#include "TestSupport/ReferenceGenerator.h"
#include "Utile/ToolkitVariant.h"

using namespace utile;

namespace {

// Colours written as $BBGGRR, the way the platform writes them.
struct tEntryCase {
  size_t Index;
  TColor Expected;
};

void ExpectEntries(const tPalette& palette, size_t size, std::initializer_list<tEntryCase> cases) {
  ASSERT_EQ(size, palette.size());
  for (const auto& c : cases) EXPECT_EQ(c.Expected, palette[c.Index]) << "entry " << c.Index;
}

class VariantGuard {
public:
  ~VariantGuard() { SetToolkitVariant(tToolkitVariant::tvMainProgram); }
};

TEST(ColorOpsPalettes, NamedPalettesAtTheirIntervalBoundaries) {
  ExpectEntries(CreatePalette(tPaletteType::ptBoolean), 2, {{0, 0xFFFFFF}, {1, 0x000000}});
  // Black, blue, red, yellow, white in 256 steps each; the last colour is never an entry.
  ExpectEntries(CreatePalette(tPaletteType::ptRainbow), 1024,
                {{0, 0x000000},
                 {1, 0x000000},     // blue 255 x 1 / 256 truncated
                 {2, 0x010000},     // 510 / 256
                 {255, 0xFE0000},   // 255 x 255 / 256 = 254.004
                 {256, 0xFF0000},   // pure blue
                 {511, 0x0000FE},   // red 254, blue 255 - 254.004 truncated to 0
                 {512, 0x0000FF},   // pure red
                 {768, 0x00FFFF},   // yellow
                 {1023, 0xFEFFFF}}  // one step short of white
  );
  ExpectEntries(CreatePalette(tPaletteType::ptGreyShade), 256,
                {{0, 0xFFFFFF}, {1, 0xFEFEFE}, {128, 0x7F7F7F}, {255, 0x000000}});
  ExpectEntries(CreatePalette(tPaletteType::ptFire), 512,
                {{0, 0xFFFFFF},
                 {1, 0xFEFFFF},    // blue 255 - 0.996
                 {255, 0x00FFFF},  // blue 0.996 truncated: already yellow
                 {256, 0x00FFFF},
                 {257, 0x00FEFF},  // green 254.004
                 {511, 0x0000FF}});
}

// From the colour generator written out again.
tPalette QualitativeFromAnIndependentGenerator(size_t count, uint32_t& seed) {
  testsupport::tColourStream stream;
  tPalette palette;
  for (size_t i = 0; i < count; ++i) {
    const double u1 = stream.Next();
    palette.push_back(HSItoRGB(u1, 1.0, 0.3 + 0.7 * stream.Next()));
  }
  seed = stream.Seed;
  return palette;
}

TEST(ColorOpsPalettes, QualitativePalettesAreTheSameInEveryCallAndComeFromTheColourGenerator) {
  for (auto [kind, count] : {std::pair{tPaletteType::ptQualitative256, 256u},
                             std::pair{tPaletteType::ptQualitative1024, 1024u}}) {
    RandSeed = 12345;
    const tPalette first = CreatePalette(kind);
    const uint32_t seedAfterFirst = RandSeed;
    RandSeed = 999;
    const tPalette second = CreatePalette(kind);
    EXPECT_EQ(first, second);
    uint32_t seed = 0;
    EXPECT_EQ(QualitativeFromAnIndependentGenerator(count, seed), first);
    // Two draws per colour move the process-wide seed.
    EXPECT_EQ(seed, seedAfterFirst);
  }
}

TEST(ColorOpsPalettes, MapFileManagerOffersFiveKindsAndKeepsItsMessage) {
  VariantGuard guard;
  EXPECT_EQ(6, PaletteTypeCount());
  EXPECT_STREQ("Qualitative 1024", PaletteTypeStr[5]);
  try {
    ColorGradient({0xFF0000}, 4);
    ADD_FAILURE() << "a single colour makes no gradient";
  } catch (const EInvalidGraphicOperation& e) {
    EXPECT_EQ(std::string("Color gradient needs at least two colour steps."), e.what());
  }
  SetToolkitVariant(tToolkitVariant::tvMapFileManager);
  EXPECT_EQ(5, PaletteTypeCount());
  EXPECT_STREQ("Qualitative 256", PaletteTypeStr[PaletteTypeCount() - 1]);
  try {
    ColorGradient(std::vector<TColor>{}, 4);
    ADD_FAILURE() << "no colour makes no gradient";
  } catch (const EInvalidGraphicOperation& e) {
    EXPECT_EQ(std::string("Color gradient nees at least two colour steps."), e.what());
  }
}

TEST(ColorOpsGradient, StepsTruncateEveryChannelTowardZero) {
  const tPalette up = ColorGradient({RGBColor(0, 0, 0), RGBColor(10, 20, 30)}, 4);
  ExpectEntries(up, 4,
                {{0, RGBColor(0, 0, 0)},
                 {1, RGBColor(2, 5, 7)},  // 2.5, 5, 7.5
                 {2, RGBColor(5, 10, 15)},
                 {3, RGBColor(7, 15, 22)}});  // 7.5, 15, 22.5
  const tPalette down = ColorGradient({RGBColor(10, 0, 200), RGBColor(0, 0, 0), RGBColor(0, 255, 0)}, 4);
  ExpectEntries(down, 8,
                {{1, RGBColor(7, 0, 150)},  // 10 - 2.5, 200 - 50
                 {3, RGBColor(2, 0, 50)},   // 10 - 7.5
                 {4, RGBColor(0, 0, 0)},
                 {5, RGBColor(0, 63, 0)}});  // 63.75
  EXPECT_THROW(ColorGradient({0, 1}, 0), EAssertionFailed);
}

TEST(ColorOpsHSI, PrimaryAndMixedHuesWorkedByHand) {
  const struct {
    double H, S, I;
    TColor Expected;
  } cases[] = {
      {0.0, 1.0, 0.5, 0x0000FF},       // r = 1 scaled by 1.5 and capped
      {1.0 / 3.0, 1.0, 0.5, 0x00FF00},  // r = 0, g = 1
      {0.5, 1.0, 0.5, 0xBFBF00},        // g = b = 0.5, x 1.5 = 0.75 -> 191
      {0.75, 1.0, 0.45, 0xE50072},      // r = 1/3, b = 2/3, x 1.35 -> 114, 229
      {0.2, 0.0, 0.5, 0x7F7F7F},        // no saturation: grey 127.5
      {0.9, 1.0, 0.0, 0x000000},        // no intensity
  };
  for (const auto& c : cases)
    EXPECT_EQ(c.Expected, HSItoRGB(c.H, c.S, c.I)) << c.H << " " << c.S << " " << c.I;
}

TEST(ColorOpsTriples, ChannelsAreReorderedBlueGreenRed) {
  const TRGBTriple t = ColorToRGBtriple(0x123456);
  EXPECT_EQ(0x12, t.rgbtBlue);
  EXPECT_EQ(0x34, t.rgbtGreen);
  EXPECT_EQ(0x56, t.rgbtRed);
  const tRGBTriplePalette p = ColorToRGBtriple(tPalette{0xFF0000, 0x0000FF});
  ASSERT_EQ(2u, p.size());
  EXPECT_EQ((TRGBTriple{255, 0, 0}), p[0]);
  EXPECT_EQ((TRGBTriple{0, 0, 255}), p[1]);
}

TEST(ColorOpsShade, ValuesMapToTheNearestEntryAndOutsideValuesToTheEnds) {
  const tPalette five{10, 20, 30, 40, 50};
  const TColor missing = 99;
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  const struct {
    double Value, Min, Max, Missing;
    TColor Expected;
  } cases[] = {
      {0, 0, 4, -999, 10},
      {4, 0, 4, -999, 50},          // Max gives the last entry
      {1000, 0, 4, -999, 50},       // far above Max
      {-1000, 0, 4, -999, 10},
      {-3.4e38, 0, 4, -999, 10},    // an unflagged background no longer overflows
      {3.4e38, 0, 4, -999, 50},
      {inf, 0, 4, -999, 50},
      {-inf, 0, 4, -999, 10},
      {nan, 0, 4, -999, missing},
      {0.5, 0, 4, -999, 10},        // halves go to the even neighbour
      {1.5, 0, 4, -999, 30},
      {2.5, 0, 4, -999, 30},
      {2.6, 0, 4, -999, 40},
      {-999 + 5e-7, 0, 4, -999, missing},
      {-999 + 2e-6, 0, 4, -999, 10},
      {2, 0, 4, 2, missing},        // the missing value wins inside the range
      {3, 7, 7, -999, 10},          // Min = Max: entry 0
      {1, 4, 0, -999, 40},          // a reversed range reverses the palette
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.Expected, ColorShade(c.Value, five, c.Min, c.Max, c.Missing, missing))
        << c.Value << " in " << c.Min << ".." << c.Max;
    const TRGBTriple triple =
        ColorShade(c.Value, ColorToRGBtriple(five), c.Min, c.Max, c.Missing, ColorToRGBtriple(missing));
    EXPECT_EQ(ColorToRGBtriple(c.Expected), triple) << c.Value;
  }
}

TEST(ColorOpsShade, BooleanPaletteSplitsAtTheMiddleWithTheMiddleWhite) {
  const tPalette boolean = CreatePalette(tPaletteType::ptBoolean);
  EXPECT_EQ(0xFFFFFFu, ColorShade(0.4999, boolean, 0, 1, -1, 0x808080));
  EXPECT_EQ(0xFFFFFFu, ColorShade(0.5, boolean, 0, 1, -1, 0x808080));
  EXPECT_EQ(0x000000u, ColorShade(0.5001, boolean, 0, 1, -1, 0x808080));
  EXPECT_EQ(0xFFFFFFu, ColorShade(5, boolean, 0, 10, -1, 0x808080));
}

TEST(ColorOpsShade, EmptyPaletteIsRefused) {
  EXPECT_THROW(ColorShade(1, tPalette{}, 0, 1, -1, 0), EAssertionFailed);
}

}  // namespace
