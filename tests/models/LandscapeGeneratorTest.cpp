#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <optional>
#include <string>

#include "TestSupport/Emulation.h"
#include "TestSupport/ExceptionMessages.h"
#include "TestSupport/ReferenceGenerator.h"
#include "Utile/RunTime.h"
#include "models/LandscapeGenerator.h"

using namespace models;

namespace {

// Draws handed out in order.
tUniformDraw Scripted(std::deque<double>& draws) {
  return [&draws] {
    EXPECT_FALSE(draws.empty()) << "the generator drew more than the test gave";
    if (draws.empty()) return 0.0;
    const double u = draws.front();
    draws.pop_front();
    return u;
  };
}

class Generator : public ::testing::Test {
 protected:
  void SetUp() override { ResetLandscape(); }
  void TearDown() override { ResetLandscape(); }
};

struct tPoint {
  double x, y;
};

}  // namespace

TEST_F(Generator, LayoutsPlaceThePatchesWorkedOutByHand) {
  const double r3 = std::sqrt(3.0) / 2;  // 0.866...
  struct tCase {
    const char* Name;
    Integer Geometry, Count;
    bool Background;
    Integer Width;  // with a background: the study area in force
    std::vector<tPoint> Expected;
    std::optional<Integer> Extent;
  };
  const std::vector<tCase> cases = {
      {"square of 5", pgSquare, 5, false, 100, {{0, 0}, {100, 0}, {200, 0}, {0, 100}, {100, 100}}, 200},
      {"hexagon of 7",
       pgHexagon,
       7,
       false,
       100,
       {{100, 100},
        {150, 100 + 100 * r3},
        {50, 100 + 100 * r3},
        {0, 100},
        {50, 100 - 100 * r3},
        {150, 100 - 100 * r3},
        {200, 100}},
       200},
      {"hexagon of 1", pgHexagon, 1, false, 100, {{100, 100}}, 200},
      {"triangle of 4", pgTriangle, 4, false, 100, {{0, 0}, {100, 0}, {200, 0}, {50, 100 * r3}}, 200},
      {"circle of 4", pgCircle, 4, false, 100, {{100, 50}, {50, 100}, {0, 50}, {50, 0}}, 100},
      {"square of 9 on a background",
       pgSquare,
       9,
       true,
       101,
       {{0, 0}, {50, 0}, {100, 0}, {0, 50}, {50, 50}, {100, 50}, {0, 100}, {50, 100}, {100, 100}},
       std::nullopt},
      {"hexagon of 7 on a background",
       pgHexagon,
       7,
       true,
       101,
       {{50, 50},
        {75, 50 + 50 * r3},
        {25, 50 + 50 * r3},
        {0, 50},
        {25, 50 - 50 * r3},
        {75, 50 - 50 * r3},
        {100, 50}},
       std::nullopt},
      {"circle of 2 on a background", pgCircle, 2, true, 101, {{100, 50}, {0, 50}}, std::nullopt},
      {"square of 1 on a background", pgSquare, 1, true, 101, {{0, 0}}, std::nullopt},
      {"triangle of 1 on a background", pgTriangle, 1, true, 101, {{0, 0}}, std::nullopt},
  };
  for (const tCase& c : cases) {
    tLandscapeSettings s;
    s.Geometry = c.Geometry;
    s.Sizes = psFixed;
    s.PatchCount = c.Count;
    s.Width = s.Height = c.Width;
    s.WithBackground = c.Background;
    const tGeneratedLandscape made = GenerateLandscape(s, {});
    ASSERT_EQ(c.Expected.size(), made.Patches.size()) << c.Name;
    for (size_t i = 0; i < c.Expected.size(); ++i) {
      EXPECT_NEAR(c.Expected[i].x, made.Patches[i].x, 1e-9) << c.Name << ", patch " << i;
      EXPECT_NEAR(c.Expected[i].y, made.Patches[i].y, 1e-9) << c.Name << ", patch " << i;
      EXPECT_EQ(static_cast<Integer>(i) + 1, made.Patches[i].popID) << c.Name;
      EXPECT_EQ(40, made.Patches[i].A) << c.Name;
    }
    EXPECT_EQ(c.Extent, made.Width) << c.Name;
    EXPECT_EQ(c.Extent, made.Height) << c.Name;
    EXPECT_FALSE(made.PatchCount) << c.Name;
  }
}

TEST_F(Generator, GridAndIsolatedPatchSetsTheCountAndTheArea) {
  tLandscapeSettings s;
  s.Geometry = pgGridIsolated;
  s.Sizes = psRandom;  // not used by this layout: nothing is drawn
  s.PatchCount = 3;
  std::deque<double> none;
  const tGeneratedLandscape made = GenerateLandscape(s, {}, Scripted(none));
  const std::vector<tCircle> expected = {{1, 300, 300, 40, 0, 0},
                                         {2, 400, 300, 40, 0, 0},
                                         {3, 300, 400, 40, 0, 0},
                                         {4, 400, 400, 40, 0, 0},
                                         {5, 5, 5, 5, 0, 0}};
  ASSERT_EQ(expected.size(), made.Patches.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    const tCircle &e = expected[i], &p = made.Patches[i];
    EXPECT_TRUE(e.popID == p.popID && e.x == p.x && e.y == p.y && e.A == p.A) << i;
  }
  EXPECT_TRUE(made.PatchCount == 5 && made.Width == 405 && made.Height == 405);
}

TEST_F(Generator, AreaRulesShareOutTheAreas) {
  struct tCase {
    const char* Name;
    Integer Geometry, Sizes, Count, MinArea, MaxArea;
    std::vector<double> Draws;  // random areas only (square layout)
    std::vector<double> Expected;
  };
  const std::vector<tCase> cases = {
      {"fixed total 40 over 3", pgSquare, psFixedTotal, 3, 1, 40, {}, {14, 13, 13}},
      {"fixed total 2 over 3", pgSquare, psFixedTotal, 3, 1, 2, {}, {1, 1, 0}},
      {"two sizes, 5 at 50 %", pgSquare, psTwoSizes, 5, 3, 40, {}, {40, 40, 3, 3, 3}},
      // 10 + 0.25 x 4 = 11 exactly; 11.5 and 12.5 go to the even neighbour.
      {"random areas", pgSquare, psRandom, 3, 10, 14, {0.25, 0.375, 0.625}, {11, 12, 12}},
      {"random areas, bounds swapped", pgSquare, psRandom, 2, 15, 10, {0.0, 0.5}, {15, 18}},
  };
  for (const tCase& c : cases) {
    tLandscapeSettings s;
    s.Geometry = c.Geometry;
    s.Sizes = c.Sizes;
    s.PatchCount = c.Count;
    s.MinArea = c.MinArea;
    s.MaxArea = c.MaxArea;
    s.PropLargePatches = 50;
    std::deque<double> draws(c.Draws.begin(), c.Draws.end());
    const tGeneratedLandscape made = GenerateLandscape(s, {}, Scripted(draws));
    ASSERT_EQ(c.Expected.size(), made.Patches.size()) << c.Name;
    for (size_t i = 0; i < c.Expected.size(); ++i)
      EXPECT_EQ(c.Expected[i], made.Patches[i].A) << c.Name << " " << i;
    EXPECT_TRUE(draws.empty()) << c.Name;
  }
  // Under the random layout an area below 1 becomes 1.
  tLandscapeSettings s;
  s.Geometry = pgRandom;
  s.Sizes = psFixedTotal;
  s.PatchCount = 3;
  s.MaxArea = 2;
  std::deque<double> draws = {0.1, 0.1, 0.5, 0.5, 0.9, 0.9};
  const tGeneratedLandscape made = GenerateLandscape(s, {}, Scripted(draws));
  for (const tCircle& patch : made.Patches) EXPECT_EQ(1, patch.A);
}

TEST_F(Generator, RandomLayoutDrawsXThenYThenTheAreaAndRedrawsAPatchTooClose) {
  tLandscapeSettings s;
  s.Geometry = pgRandom;
  s.Sizes = psRandom;
  s.PatchCount = 2;
  s.Width = s.Height = 64;
  s.MinArea = 10;
  s.MaxArea = 20;
  s.SpaceRangeX = s.SpaceRangeY = 100;  // patches at least 1 apart
  // Patch 0 at (8, 16); patch 1 drawn at (8.5, 16) is too close; at (9, 16),
  // exactly 1 apart, it is accepted with the area of its own last draw.
  std::deque<double> draws = {0.125, 0.25, 0.0, 0.1328125, 0.25, 1.0 - 1e-12, 0.140625, 0.25, 0.5};
  const tGeneratedLandscape made = GenerateLandscape(s, {}, Scripted(draws));
  ASSERT_EQ(2u, made.Patches.size());
  EXPECT_EQ(8, made.Patches[0].x);
  EXPECT_EQ(16, made.Patches[0].y);
  EXPECT_EQ(10, made.Patches[0].A);
  EXPECT_EQ(9, made.Patches[1].x);
  EXPECT_EQ(15, made.Patches[1].A);
  EXPECT_EQ(2, made.Patches[1].popID);
  EXPECT_TRUE(draws.empty());
  EXPECT_FALSE(made.Width);
}

TEST_F(Generator, RandomLandscapeIsTheSameInTwoFreshProcesses) {
  auto landscape = [] {
    tPatchColors colors;
    colors.Generate(5);
    tLandscapeSettings s;
    s.Geometry = pgRandom;
    s.PatchCount = 5;
    s.Sizes = psRandom;
    std::string text;
    char buffer[128];
    for (const tCircle& patch : GenerateLandscape(s, {}).Patches) {
      std::snprintf(buffer, sizeof(buffer), "<%.17g %.17g %g>", patch.x, patch.y, patch.A);
      text += buffer;
    }
    return text;
  };
  if (std::getenv("LANDSCAPE_PRINT")) {
    std::printf("%s\n", landscape().c_str());
    return;
  }
  auto fresh = [] {
    char self[4096] = {};
    EXPECT_GT(readlink("/proc/self/exe", self, sizeof(self) - 1), 0);
    const std::string command = "LANDSCAPE_PRINT=1 " + testsupport::UserEmulatorCommand() + "'" + std::string(self) +
                                "' --gtest_filter=Generator.RandomLandscapeIsTheSameInTwoFreshProcesses";
    std::string out;
    FILE* pipe = popen(command.c_str(), "r");
    EXPECT_NE(nullptr, pipe);
    if (!pipe) return out;
    char buffer[512];
    while (std::fgets(buffer, sizeof(buffer), pipe)) out += buffer;
    pclose(pipe);
    const size_t from = out.find('<'), to = out.rfind('>');
    return from == std::string::npos ? std::string() : out.substr(from, to - from + 1);
  };
  const std::string here = landscape();
  EXPECT_EQ(5, std::count(here.begin(), here.end(), '<'));
  EXPECT_EQ(here, fresh());
  EXPECT_EQ(here, fresh());
}

TEST_F(Generator, RandomLayoutGivesUpWhenThePatchesCannotBeKeptApart) {
  tLandscapeSettings s;
  s.Geometry = pgRandom;
  s.Sizes = psFixed;
  s.PatchCount = 10000;
  s.Width = s.Height = 10;
  s.SpaceRangeX = s.SpaceRangeY = 100;  // 1 apart: at most a few hundred fit in 10 x 10
  const std::string message =
      testsupport::MessageOf<utile::EInvalidOperation>([&] { GenerateLandscape(s, {}); });
  EXPECT_NE(std::string::npos,
            message.find("of the 10000 patches could be placed at least 1 apart in the study "
                         "area of 10 x 10"))
      << message;
  // And a sparse landscape is placed whole.
  s.PatchCount = 2000;
  s.Width = s.Height = 1000;
  s.SpaceRangeX = s.SpaceRangeY = 1000;
  const tGeneratedLandscape made = GenerateLandscape(s, {});
  ASSERT_EQ(2000u, made.Patches.size());
  // Every pair keeps its distance: checked pair by pair.
  for (size_t i = 0; i < made.Patches.size(); ++i)
    for (size_t j = 0; j < i; ++j)
      ASSERT_GE(std::hypot(made.Patches[i].x - made.Patches[j].x, made.Patches[i].y - made.Patches[j].y),
                10.0);
}

TEST_F(Generator, FrozenResizesAndFromFileKeeps) {
  tArrayOfCircles current(3);
  for (Integer i = 0; i < 3; ++i) current[i] = tCircle{i + 7, 1.5 * i, 2.0 * i, 3.0 + i, 0.1 * i, 0.2 * i};
  tLandscapeSettings s;
  s.Geometry = pgFrozen;
  s.PatchCount = 5;
  tGeneratedLandscape made = GenerateLandscape(s, current);
  ASSERT_EQ(5u, made.Patches.size());
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(current[i].popID, made.Patches[i].popID);
    EXPECT_EQ(current[i].x, made.Patches[i].x);
    EXPECT_EQ(current[i].A, made.Patches[i].A);
    EXPECT_EQ(current[i].b, made.Patches[i].b);
    EXPECT_EQ(current[i].e, made.Patches[i].e);
  }
  for (size_t i = 3; i < 5; ++i) {
    const tCircle& added = made.Patches[i];
    EXPECT_TRUE(added.popID == 0 && added.x == 0 && added.y == 0 && added.A == 0 && added.b == 0 &&
                added.e == 0);
  }
  EXPECT_FALSE(made.Width || made.Height || made.PatchCount);
  s.Geometry = pgFromFile;
  made = GenerateLandscape(s, current);
  ASSERT_EQ(3u, made.Patches.size());
  EXPECT_EQ(current[2].y, made.Patches[2].y);
  EXPECT_EQ(current[2].e, made.Patches[2].e);
  // A generated layout keeps the b and e of the patches that remain.
  s.Geometry = pgCircle;
  s.PatchCount = 2;
  made = GenerateLandscape(s, current);
  EXPECT_EQ(current[1].b, made.Patches[1].b);
  EXPECT_EQ(current[1].e, made.Patches[1].e);
}

TEST_F(Generator, ColourTableFollowsTheRuleAtEveryIndexAndLeavesTheStreamAfterItsEnd) {
  for (Integer n : {1, 3, 40}) {
    utile::RandSeed = 12345;
    tPatchColors colors;
    colors.Generate(n);
    const size_t size = static_cast<size_t>(n) * (n + 1) / 2 + 1;
    EXPECT_EQ(size, colors.size());
    // The table drawn entry by entry, and ten entries past its end.
    testsupport::tColourStream stream;
    std::vector<utile::TColor> expected;
    for (Integer i = 0; i < n; ++i)
      expected.push_back(utile::HSItoRGB(double(i) / n, 1.0, 0.3 + 0.7 * stream.Next()));
    uint32_t seedAfterTable = 0;
    for (size_t i = n; i < size + 10; ++i) {
      if (i == size) seedAfterTable = stream.Seed;
      const double hue = stream.Next();
      expected.push_back(utile::HSItoRGB(hue, 1.0, 0.3 + 0.7 * stream.Next()));
    }
    EXPECT_EQ(seedAfterTable, utile::RandSeed) << n;
    for (size_t i = 0; i < expected.size(); ++i) ASSERT_EQ(expected[i], colors[i]) << n << ", entry " << i;
    // Reading the table draws nothing.
    EXPECT_EQ(seedAfterTable, utile::RandSeed);
  }
}
