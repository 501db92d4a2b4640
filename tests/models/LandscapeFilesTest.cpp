// The landscape file, the map sources, the raster export of the result grid,
// the aggregation of the patches and the connection profiles.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>

#include "TestSupport/StatisticalChecks.h"
#include "Utile/Idrisi.h"
#include "Utile/RunTime.h"
#include "Utile/VectorOps.h"
#include "models/LandscapeFiles.h"

namespace {

using models::tCircle;

class LandscapeFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    models::ResetLandscape();
    utile::ChangeIdrisiVersion(utile::ivIdrisi32);
  }
  void TearDown() override { models::ResetLandscape(); }
  testsupport::tTempFolder fFolder;
};

TEST_F(LandscapeFilesTest, PatchLinesAreWrittenByteForByteAndReadBackAlike) {
  const std::string tab = "\t";
  struct tCase {
    tCircle Patch;
    std::string Line;
  };
  const tCase cases[] = {
      {{1, 10, 20, 5, 0.5, 0.1},
       "1\t 1.00000000000000E+0001\t 2.00000000000000E+0001\t 5.00000000000000E+0000\t "
       "5.00000000000000E-0001\t "
       "1.00000000000000E-0001\r\n"},
      {{-4, -30, 0, 1234.5, 0, -0.25},
       "-4\t-3.00000000000000E+0001\t 0.00000000000000E+0000\t 1.23450000000000E+0003\t "
       "0.00000000000000E+0000\t"
       "-2.50000000000000E-0001\r\n"},
  };
  for (const tCase& c : cases) {
    const std::string text = models::LandscapeFileText({c.Patch});
    EXPECT_EQ(text, c.Line);
    const models::tLandscapeFile back = models::ParseLandscapeFile(text, "p.patch");
    ASSERT_EQ(back.Patches.size(), 1u);
    EXPECT_EQ(models::LandscapeFileText(back.Patches), text);
    EXPECT_FALSE(back.DistanceMatFixed);
  }
  // Distances of a landscape file are saved after a sentinel line.
  const models::tArrayOfCircles two = {{1, 0, 0, 1, 0, 0}, {2, 3, 4, 1, 0, 0}};
  const utile::tMatrixOfDouble distances = {{0, 7.5}, {7.5, 0}};
  const std::string text = models::LandscapeFileText(two, &distances);
  const std::string zero = " 0.00000000000000E+0000";
  const std::string tail = "-99999\t" + zero + tab + zero + tab + zero + tab + zero + tab + zero + "\r\n" +
                           zero + "\t 7.50000000000000E+0000\r\n 7.50000000000000E+0000\t" + zero + "\r\n";
  EXPECT_EQ(text.substr(text.size() - tail.size()), tail);
  const models::tLandscapeFile back = models::ParseLandscapeFile(text, "d.patch");
  EXPECT_TRUE(back.DistanceMatFixed);
  EXPECT_EQ(back.DistanceMat, distances);
  EXPECT_EQ(models::LandscapeFileText(back.Patches, &back.DistanceMat), text);
}

TEST_F(LandscapeFilesTest, TheReaderTakesEveryFormOfTheList) {
  std::string many;
  for (int i = 1; i <= 250; ++i) many += utile::Format("%d %d 0 1\n", i, i);
  struct tCase {
    const char* Name;
    std::string Text;
    size_t Count;
    bool Fixed;
  };
  const tCase cases[] = {
      {"optional b and e", "1 10 20 5\n2 30 40 5 0.5 0.1\n3 50 60 5", 3, false},
      {"CR LF", "1 10 20 5\r\n2 30 40 5 0.5 0.1\r\n3 50 60 5\r\n", 3, false},
      {"sentinel and matrix", "1 0 0 1\n2 3 4 1\n3 6 8 1\n-99999 0 0 0\n0 5 10\n5 0 5\n10 5 0\n", 3, true},
      {"sentinel alone", "1 0 0 1\n2 3 4 1\n3 6 8 1\r\n-99999\r\n0 5 10\r\n5 0 5\r\n10 5 0\r\n", 3, true},
      {"empty line ends", "1 0 0 1\n2 3 4 1\n\n3 6 8 1\ngarbage\n", 2, false},
      {"blank line ends", "1 0 0 1\n2 3 4 1\n \t \n3 6 8 1\n", 2, false},
      {"lone CR ends", "1 0 0 1\r\n2 3 4 1\r\n\r\n-99999\r\n", 2, false},
      {"250 lines", many, 250, false},
  };
  for (const tCase& c : cases) {
    const models::tLandscapeFile file = models::ParseLandscapeFile(c.Text, "f.patch");
    EXPECT_EQ(file.Patches.size(), c.Count) << c.Name;
    EXPECT_EQ(file.DistanceMatFixed, c.Fixed) << c.Name;
  }
  const models::tLandscapeFile three = models::ParseLandscapeFile(cases[0].Text, "f.patch");
  EXPECT_EQ(three.Patches[0].b, 0);
  EXPECT_EQ(three.Patches[1].b, 0.5);
  EXPECT_EQ(three.Patches[1].e, 0.1);
  EXPECT_EQ(three.Patches[2].e, 0);
  EXPECT_EQ(three.Patches[2].y, 60);
  const models::tLandscapeFile fixed = models::ParseLandscapeFile(cases[3].Text, "f.patch");
  EXPECT_EQ(fixed.DistanceMat, (utile::tMatrixOfDouble{{0, 5, 10}, {5, 0, 5}, {10, 5, 0}}));
  EXPECT_EQ(models::ParseLandscapeFile("7 -30.5 -2 3", "n.patch").Patches[0].x, -30.5);
}

TEST_F(LandscapeFilesTest, BadFilesAreRefusedNamingTheFileAndTheLine) {
  const std::string patchError = "Patch file incorrect.\n\"bad.patch\", line ";
  const std::string matrixError =
      "Patch file incorrect: distance matrix cannot be read.\n\"bad.patch\", line ";
  struct tCase {
    const char* Text;
    std::string Message;
  };
  const tCase cases[] = {
      {"", patchError + "1: no patch line"},
      {"\n1 2 3 4\n", patchError + "1: no patch line"},
      {"-99999 0 0 0\n", patchError + "1: no patch line"},
      {"1 10 20\n", patchError + "1: fewer than four numbers"},
      {"1 10 20 5\n2 30", patchError + "2: fewer than four numbers"},
      {"1 10 20 5\n2 3 4 5 0.5\n", patchError + "2: a birth value without an extinction value"},
      {"1 10 x 5\n", patchError + "1: \"x\" is not a number"},
      {"1 10 20 inf\n", patchError + "1: \"inf\" is not a number"},
      {"1.5 10 20 5\n", patchError + "1: the patch identifier \"1.5\" is not a whole number"},
      {"1 0 0 1\n2 3 4 1\n-99999\n0 5\n", matrixError + "5: the file ends before row 2 of 2"},
      {"1 0 0 1\n2 3 4 1\n-99999\n0 5\n5\n", matrixError + "5: 1 distances in row 2, 2 expected"},
      {"1 0 0 1\n2 3 4 1\n-99999\n0 5 6\n", matrixError + "4: more than 2 distances in row 1"},
      {"1 0 0 1\n2 3 4 1\n-99999\n0 five\n5 0\n", matrixError + "4: \"five\" is not a number"},
  };
  for (const tCase& c : cases) {
    try {
      models::ParseLandscapeFile(c.Text, "bad.patch");
      ADD_FAILURE() << c.Text;
    } catch (const utile::EInOutError& error) {
      EXPECT_EQ(std::string(error.what()).substr(0, c.Message.size()), c.Message) << error.what();
    }
  }
  EXPECT_THROW(models::ReadLandscapeFile(fFolder.File("missing.patch")), utile::EInOutError);
}

TEST_F(LandscapeFilesTest, MapSourcesAreChosenByTheExtensionAsWritten) {
  using K = models::tMapFileKind;
  const std::pair<const char*, K> kinds[] = {{"a.txt", K::mfTextMatrix}, {"a.bin", K::mfBinaryMatrix},
                                             {"d.v/a.rst", K::mfRaster}, {"a.bmp", K::mfPicture},
                                             {"a.jpg", K::mfPicture},    {"a.TXT", K::mfOther},
                                             {"a.png", K::mfOther},      {"a", K::mfOther}};
  for (const auto& [name, kind] : kinds) EXPECT_EQ(models::MapFileKind(name), kind) << name;
  for (const char* name : {"a.bmp", "a.jpg", "a.TXT", "a.map"}) {
    try {
      models::ReadPermeabilityMap(name);
      ADD_FAILURE() << name;
    } catch (const utile::EInvalidArgument& error) {
      EXPECT_STREQ(error.what(), "This type of file cannot be used as permeability map.");
    }
  }
  const std::string file = fFolder.File("m.bin");
  utile::MatSaveToFile(utile::tMatrixOfDouble{{0, 0.5, 1}, {1, 1, 1}}, file, true);
  EXPECT_EQ(models::ReadPermeabilityMap(file), (utile::tMatrixOfDouble{{0, 0.5, 1}, {1, 1, 1}}));
}

TEST_F(LandscapeFilesTest, MapFileNamesTakeTheRunNumberForEveryPercentD) {
  const std::pair<const char*, const char*> names[] = {
      {"Cap%d", "Cap7"}, {"50%_run%d", "50%_run7"}, {"%d_%d", "7_7"}, {"a%s%", "a%s%"}, {"plain", "plain"}};
  for (const auto& [pattern, name] : names) EXPECT_EQ(models::MapFileName(pattern, 7), name);
}

TEST_F(LandscapeFilesTest, WriteMapWritesTheTopRowFirstAndDocumentsTheMap) {
  // ResultMap[c][r] = 10 c + r + 1, row 0 at the bottom.
  models::ResultMap = {{1, 2, 3}, {11, 12, 13}};
  models::RunNumber = 7;
  models::WriteMap(-5, 15, 0, 30, 2, 3, fFolder.File("Cap%d"));
  const std::string stem = fFolder.File("Cap7");
  const std::string image = utile::LoadTextFromFile(stem + ".rst");
  ASSERT_EQ(image.size(), 6 * sizeof(float));
  float cells[6];
  std::memcpy(cells, image.data(), sizeof cells);
  const float expected[6] = {3, 13, 2, 12, 1, 11};  // [0][2], [1][2], [0][1], [1][1], [0][0], [1][0]
  for (int k = 0; k < 6; ++k) EXPECT_EQ(cells[k], expected[k]) << k;
  utile::tRaster map(stem);
  EXPECT_EQ(map.Columns, 2);
  EXPECT_EQ(map.Rows, 3);
  EXPECT_EQ(map.DataType, utile::idtReal);
  EXPECT_EQ(map.FileType, utile::iftBinary);
  EXPECT_EQ(map.RefSystem, "plane");
  EXPECT_EQ(map.UnitDist, "1");
  EXPECT_EQ(double(map.minX), -5);
  EXPECT_EQ(double(map.maxX), 15);
  EXPECT_EQ(double(map.maxY), 30);
  EXPECT_EQ(map.MinValue, 0);
  EXPECT_EQ(map.MaxValue, 13);
  EXPECT_EQ(map.AsMatrix(), (utile::tMatrixOfDouble{{3, 13}, {2, 12}, {1, 11}}));
  for (const auto& entry : std::filesystem::directory_iterator(fFolder.Path()))
    EXPECT_EQ(entry.path().string().find(".~"), std::string::npos) << entry.path();

  // Independent GIS software reads the same cells, where it is installed.
  if (std::system("command -v gdal_translate > /dev/null 2>&1") == 0) {
    const std::string xyz = fFolder.File("cells.xyz");
    ASSERT_EQ(std::system(("gdal_translate -q -of XYZ '" + stem + ".rst' '" + xyz + "'").c_str()), 0);
    const std::string text = utile::LoadTextFromFile(xyz);
    // Cell centres, top row first: x of -0 and 10, y of 25, 15 and 5.
    EXPECT_EQ(text, "0 25 3\n10 25 13\n0 15 2\n10 15 12\n0 5 1\n10 5 11\n");
  }

  // Above 1E301 a cell is +infinity and the maximum is held to 1E301.
  models::ResultMap = {{1e305}, {2}};
  models::WriteMap(0, 2, 0, 1, 2, 1, fFolder.File("Big"));
  utile::tRaster big(fFolder.File("Big"));
  EXPECT_TRUE(std::isinf(big.AsMatrix()[0][0]));
  EXPECT_NE(utile::LoadTextFromFile(fFolder.File("Big.rdc")).find("max. value  : 1E301\r\n"),
            std::string::npos);

  // A result grid of another size is refused before anything is written.
  models::ResultMap = {{1, 2}, {3, 4}, {5, 6}};
  EXPECT_THROW(models::WriteMap(0, 1, 0, 1, 2, 3, fFolder.File("Wrong")), utile::EInvalidArgument);
  EXPECT_THROW(models::WriteMap(0, 1, 0, 1, 0, 0, fFolder.File("Wrong")), utile::EInvalidArgument);
  EXPECT_FALSE(utile::FileExists(fFolder.File("Wrong.rst")));
  EXPECT_FALSE(utile::FileExists(fFolder.File("Wrong.rdc")));
}

TEST_F(LandscapeFilesTest, ExtractPatchesCoversEveryWorkingPatch) {
  struct tAggregate {
    double x, y, A;
    std::vector<std::pair<int, float>> Members;
  };
  struct tCase {
    const char* Name;
    models::tArrayOfCircles Patches;
    double Side, MinX, MaxX, MinY, MaxY;
    std::vector<tAggregate> Expected;
  };
  const tCase cases[] = {
      {"two in one cell",
       {{1, 2, 2, 0.6}, {2, 8, 3, 0.6}},
       10,
       0,
       100,
       0,
       100,
       {{5, 5, 1.2, {{1, 0.5f}, {2, 0.5f}}}}},
      {"too small a sum", {{1, 2, 2, 0.6}}, 10, 0, 100, 0, 100, {}},
      {"upper edges",
       {{1, 0, 0, 5}, {2, 100, 0, 5}, {3, 0, 100, 5}, {4, 100, 100, 5}},
       50,
       0,
       100,
       0,
       100,
       {{25, 25, 5, {{1, 1}}}, {25, 75, 5, {{3, 1}}}, {75, 25, 5, {{2, 1}}}, {75, 75, 5, {{4, 1}}}}},
      {"last partial strip", {{1, 95, 5, 2}}, 30, 0, 100, 0, 100, {{105, 15, 2, {{1, 1}}}}},
      {"beyond the axes", {{1, -30, 130, 2}}, 50, 0, 100, 0, 100, {{-25, 125, 2, {{1, 1}}}}},
      {"tiny patches left out", {{1, 5, 5, 0.0005}, {2, 5, 5, 1}}, 10, 0, 100, 0, 100, {{5, 5, 1, {{2, 1}}}}},
  };
  for (const tCase& c : cases) {
    models::Patches = c.Patches;
    models::tParam param;
    param.GridResolution = c.Side;
    models::ExtractPatches(param, c.MinX, c.MaxX, c.MinY, c.MaxY);
    ASSERT_EQ(models::AggregatedPatches.size(), c.Expected.size()) << c.Name;
    ASSERT_EQ(models::AggregateComposition.size(), c.Expected.size()) << c.Name;
    for (size_t k = 0; k < c.Expected.size(); ++k) {
      const tCircle& made = models::AggregatedPatches[k];
      EXPECT_EQ(made.popID, 99);
      EXPECT_DOUBLE_EQ(made.x, c.Expected[k].x) << c.Name << k;
      EXPECT_DOUBLE_EQ(made.y, c.Expected[k].y) << c.Name << k;
      EXPECT_DOUBLE_EQ(made.A, c.Expected[k].A) << c.Name << k;
      ASSERT_EQ(models::AggregateComposition[k].size(), c.Expected[k].Members.size()) << c.Name;
      for (size_t m = 0; m < c.Expected[k].Members.size(); ++m) {
        EXPECT_EQ(models::AggregateComposition[k][m].ID, c.Expected[k].Members[m].first);
        EXPECT_FLOAT_EQ(models::AggregateComposition[k][m].contrib, c.Expected[k].Members[m].second);
      }
    }
  }
  // Unusable resolutions leave the last aggregation as it was.
  models::Patches = {{1, 0, 0, 5}};
  const double nan = std::numeric_limits<double>::quiet_NaN(), inf = std::numeric_limits<double>::infinity();
  for (const double side : {0.0, -10.0, nan, inf, 1e-300}) {
    models::tParam param;
    param.GridResolution = side;
    EXPECT_THROW(models::ExtractPatches(param, 0, 100, 0, 100), utile::EInvalidArgument) << side;
    EXPECT_EQ(models::AggregatedPatches.size(), 1u);
  }
}

TEST_F(LandscapeFilesTest, ConnectionProfilesMeasureTheLineOnEachValue) {
  // x below 5: 0.2, from 5 on: 1; one cell of 0.5 that the line misses.
  models::Map.assign(10, utile::tVectorOfDouble(10, 1.0));
  for (int x = 0; x < 5; ++x) models::Map[x].assign(10, 0.2);
  models::Map[0][0] = 0.5;
  models::MapWidth = models::MapHeight = 10;
  models::Patches = {{1, 1.505, 5, 1}, {2, 7.505, 5, 1}};
  const utile::tVectorOfDouble values = models::DistinctMapValues();
  EXPECT_EQ(values, (utile::tVectorOfDouble{0.2, 0.5, 1}));
  const auto profiles = models::ConnectionProfiles(values);
  ASSERT_EQ(profiles.size(), 3u);
  // From (7.505, 5) towards (1.505, 5), a sample every 0.01: 250 samples at x
  // of 5.005 or more, 350 below, 6 units in all.
  EXPECT_EQ(profiles[0], (utile::tMatrixOfDouble{{0, 3.5}, {3.5, 0}}));
  EXPECT_EQ(profiles[1], (utile::tMatrixOfDouble{{0, 0}, {0, 0}}));
  EXPECT_EQ(profiles[2], (utile::tMatrixOfDouble{{0, 2.5}, {2.5, 0}}));
  EXPECT_EQ(models::ConnectionProfilesText({0.2}, {profiles[0]}), "0.2\r\n0\t3.5\r\n3.5\t0\r\n");

  // Bounds: the number of values, and the cells of all the matrices together.
  models::Map = {utile::tVectorOfDouble(models::MaxProfileValues)};
  for (size_t k = 0; k < models::MaxProfileValues; ++k) models::Map[0][k] = static_cast<double>(k) / 1000;
  EXPECT_EQ(models::DistinctMapValues().size(), models::MaxProfileValues);
  models::Map[0].push_back(0.9999);
  EXPECT_THROW(models::DistinctMapValues(), utile::EInvalidOperation);
  models::Patches.assign(5793, tCircle{});
  EXPECT_THROW(models::ConnectionProfiles({0, 1}), utile::EInvalidOperation);
}

}  // namespace
