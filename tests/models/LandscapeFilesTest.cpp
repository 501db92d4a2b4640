// The landscape file, the map sources, the raster export of the result grid,
// the aggregation of the patches and the connection profiles.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <limits>
#include <tuple>

#include "TestSupport/ExceptionMessages.h"
#include "TestSupport/FakeMemory.h"
#include "TestSupport/Measurement.h"
#include "TestSupport/NumericLocale.h"
#include "TestSupport/StatisticalChecks.h"
#include "Utile/Idrisi.h"
#include "Utile/RunTime.h"
#include "models/LandscapeFiles.h"

namespace {

using models::tCircle;
using tMatrix = utile::tMatrixOfDouble;

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
  const std::string zero = " 0.00000000000000E+0000";
  // clang-format off
  const std::pair<tCircle, std::string> cases[] = {
      {{1, 10, 20, 5, 0.5, 0.1}, "1\t 1.00000000000000E+0001\t 2.00000000000000E+0001\t 5.00000000000000E+0000\t"
                                 " 5.00000000000000E-0001\t 1.00000000000000E-0001\r\n"},
      {{-4, -30, 0, 1234.5, 0, -0.25}, "-4\t-3.00000000000000E+0001\t" + zero + "\t 1.23450000000000E+0003\t" +
                                       zero + "\t-2.50000000000000E-0001\r\n"}};
  // clang-format on
  for (const auto& [patch, line] : cases) {
    EXPECT_EQ(models::LandscapeFileText({patch}), line);
    EXPECT_EQ(models::LandscapeFileText(models::ParseLandscapeFile(line, "p.patch").Patches), line);
  }
  // The distances of a landscape file follow a sentinel line.
  const tMatrix distances = {{0, 7.5}, {7.5, 0}};
  const std::string text = models::LandscapeFileText({{1, 0, 0, 1}, {2, 3, 4, 1}}, &distances);
  const std::string tail = "-99999\t" + zero + "\t" + zero + "\t" + zero + "\t" + zero + "\t" + zero +
                           "\r\n" + zero + "\t 7.50000000000000E+0000\r\n 7.50000000000000E+0000\t" + zero +
                           "\r\n";
  EXPECT_EQ(text.substr(text.size() - tail.size()), tail);
  const models::tLandscapeFile back = models::ParseLandscapeFile(text, "d.patch");
  EXPECT_TRUE(back.DistanceMatFixed);
  EXPECT_EQ(models::LandscapeFileText(back.Patches, &back.DistanceMat), text);
}

TEST_F(LandscapeFilesTest, TheReaderTakesEveryFormOfTheList) {
  std::string many;
  for (int i = 1; i <= 250; ++i) many += utile::Format("%d %d 0 1\n", i, i);
  const std::string matrix = "0 5 10\r\n5 0 5\r\n10 5 0\r\n";
  struct tCase {
    std::string Text;
    size_t Count;
    bool Fixed;
  };
  // clang-format off
  const tCase cases[] = {
      {"1 10 20 5\n2 30 40 5 0.5 0.1\n3 50 -60 5", 3, false},   {"1 10 20 5\r\n2 30 40 5 0.5 0.1\r\n3 50 -60 5\r\n", 3, false},
      {"1 0 0 1\n2 3 4 1\n3 6 8 1\n-99999 0 0 0\n" + matrix, 3, true}, {"1 0 0 1\n2 3 4 1\n3 6 8 1\n-99999\n" + matrix, 3, true},
      {"1 0 0 1\n2 3 4 1\n\n3 6 8 1\ngarbage\n", 2, false},          {"1 0 0 1\n2 3 4 1\n \t \n3 6 8 1\n", 2, false},
      {"1 0 0 1\r\n2 3 4 1\r\n\r\n-99999\r\n", 2, false},            {many, 250, false}};
  // clang-format on
  for (const tCase& c : cases) {
    const models::tLandscapeFile file = models::ParseLandscapeFile(c.Text, "f.patch");
    EXPECT_EQ(file.Patches.size(), c.Count) << c.Text;
    EXPECT_EQ(file.DistanceMatFixed, c.Fixed) << c.Text;
    EXPECT_EQ(file.DistanceMat, (c.Fixed ? tMatrix{{0, 5, 10}, {5, 0, 5}, {10, 5, 0}} : tMatrix{}));
  }
  const models::tArrayOfCircles three = models::ParseLandscapeFile(cases[1].Text, "f.patch").Patches;
  EXPECT_EQ(std::make_tuple(three[0].b, three[1].b, three[1].e, three[2].e, three[2].y),
            std::make_tuple(0.0, 0.5, 0.1, 0.0, -60.0));
}

TEST_F(LandscapeFilesTest, BadFilesAreRefusedNamingTheFileAndTheLine) {
  const std::string patch = "Patch file incorrect.\n\"bad.patch\", line ";
  const std::string matrix = "Patch file incorrect: distance matrix cannot be read.\n\"bad.patch\", line ";
  const std::string two = "1 0 0 1\n2 3 4 1\n-99999\n";
  // clang-format off
  const std::pair<std::string, std::string> cases[] = {
      {"", patch + "1: no patch line"}, {"\n1 2 3 4\n", patch + "1: no patch line"},
      {"-99999 0 0 0\n", patch + "1: no patch line"}, {"1 10 20\n", patch + "1: fewer than four numbers"},
      {"1 10 20 5\n2 30", patch + "2: fewer than four numbers"},
      {"1 10 20 5\n2 3 4 5 0.5\n", patch + "2: a birth value without an extinction value"},
      {"1 10 x 5\n", patch + "1: \"x\" is not a number"}, {"1 10 20 inf\n", patch + "1: \"inf\" is not a number"},
      {"1.5 10 20 5\n", patch + "1: the patch identifier \"1.5\" is not a whole number"},
      {two + "0 5\n", matrix + "5: the file ends before row 2 of 2"},
      {two + "0 5\n5\n", matrix + "5: 1 distances in row 2, 2 expected"},
      {two + "0 5 6\n", matrix + "4: more than 2 distances in row 1"},
      {two + "0 five\n5 0\n", matrix + "4: \"five\" is not a number"}};
  // clang-format on
  for (const auto& [text, message] : cases) {
    try {
      models::ParseLandscapeFile(text, "bad.patch");
      ADD_FAILURE() << text;
    } catch (const utile::EInOutError& error) {
      EXPECT_EQ(std::string(error.what()).substr(0, message.size()), message) << error.what();
    }
  }
  EXPECT_THROW(models::ReadLandscapeFile(fFolder.File("missing.patch")), utile::EInOutError);
}

TEST_F(LandscapeFilesTest, ADistanceMatrixTheFileCannotHoldIsRefusedBeforeItIsSized) {
  // 30,000 patches: their matrix would take 7.2 GB.
  std::string patches;
  for (int i = 1; i <= 30000; ++i) patches += utile::Format("%d 1 2 3\r\n", i);
  patches += "-99999\r\n";
  std::string oneValueRows, firstRow;
  for (int i = 0; i < 30000; ++i) oneValueRows += "0\r\n";
  for (int i = 0; i < 30000; ++i) firstRow += i == 0 ? "0" : " 0";
  const std::pair<std::string, std::string> cases[] = {
      {"", "30002: the file ends before row 1 of 30000."},
      {oneValueRows, "30002: 1 distances in row 1, 30000 expected."},
      {firstRow + "\r\n", "30003: the file ends before row 2 of 30000."}};
  const double limit = testsupport::UnderSanitizers ? 10 : 2;
  for (const auto& [rows, reason] : cases) {
    const std::string name = fFolder.File("big.patch");
    utile::SaveTextToFile(name, patches + rows);
    const testsupport::tPeakMemory memory;
    std::string message;
    const double seconds = testsupport::BestSeconds(
        [&] {
          try {
            models::ReadLandscapeFile(name);
          } catch (const utile::EInOutError& error) {
            message = error.what();
          }
        },
        1);
    EXPECT_EQ(message,
              "Patch file incorrect: distance matrix cannot be read.\n\"" + name + "\", line " + reason);
    EXPECT_LT(seconds, limit) << reason;
    EXPECT_LT(memory.AddedMB(), 300) << reason;
  }
}

// A matrix the file holds but the process cannot be given room for (a container's
// limit) is refused naming the file and its first row; so is a file that does
// not fit itself. 400 rows of 400 distances and a row vector each: 1,289,600 bytes.
TEST_F(LandscapeFilesTest, ADistanceMatrixBeyondTheMemoryLeftIsRefusedByTheReader) {
  std::string text;
  for (int i = 1; i <= 400; ++i) text += utile::Format("%d %d 0 1\r\n", i, i);
  text += "-99999\r\n";
  std::string row = "0";
  for (int j = 1; j < 400; ++j) row += " 0";
  for (int i = 0; i < 400; ++i) text += row + "\r\n";
  const std::string name = fFolder.File("wide.patch");
  utile::SaveTextToFile(name, text);
  const std::pair<uint64_t, std::string> cases[] = {
      {1289599, "Patch file incorrect: distance matrix cannot be read.\n\"" + name +
                    "\", line 402: the 400 x 400 distance matrix needs 2 MB, more memory than is free."},
      {text.size() - 1, "Not enough memory to read file \"" + name + "\""}};
  for (const auto& [room, message] : cases) {
    const testsupport::tFakeMemory memory(room);
    EXPECT_EQ(testsupport::MessageOf<utile::EInOutError>([&] { models::ReadLandscapeFile(name); }), message);
  }
  const testsupport::tFakeMemory memory(1289600);
  EXPECT_EQ(models::ReadLandscapeFile(name).DistanceMat, tMatrix(400, utile::tVectorOfDouble(400, 0.0)));
}

TEST_F(LandscapeFilesTest, ReadingTakesTimeInProportionToThePatches) {
  const auto text = [](int n) {
    models::tArrayOfCircles patches(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) patches[i] = {i + 1, 0.5 * i, 1e4 - i, 1.0 + i % 40, 0.25, 0.125};
    return std::make_pair(patches, models::LandscapeFileText(patches));
  };
  const auto [few, fewText] = text(10000);
  const auto [many, manyText] = text(200000);
  models::tArrayOfCircles read;
  // Twenty times the patches; copying the array every hundred patches made it over a
  // hundred times the time. The few patches may lie in a cache the many do not fit
  // (whether they do depends on the machine), which costs the many up to twice the
  // time a patch: the bound leaves room for that. A trial that other work of the
  // machine disturbed is run again.
  constexpr double Bound = 50;
  double ratio = std::numeric_limits<double>::infinity();
  for (int trial = 0; trial < (testsupport::UnderSanitizers ? 1 : 3) && !(ratio < Bound); ++trial) {
    const double fewSeconds =
        testsupport::BestSeconds([&] { read = models::ParseLandscapeFile(fewText, "few.patch").Patches; }, 5);
    const double manySeconds =
        testsupport::BestSeconds([&] { read = models::ParseLandscapeFile(manyText, "many.patch").Patches; });
    ratio = std::min(ratio, manySeconds / fewSeconds);
  }
  // The array holds the patches and nothing more, however it grew.
  EXPECT_EQ(read.size(), many.size());
  EXPECT_EQ(read.capacity(), many.size());
  EXPECT_EQ(models::LandscapeFileText(read), manyText);
  if (!testsupport::UnderSanitizers) {
    EXPECT_LT(ratio, Bound);
  }
}

TEST_F(LandscapeFilesTest, TheLargestRealsReadBackAsWritten) {
  const double largest = std::numeric_limits<double>::max();
  const std::string written = " 1.79769313486232E+0308", negative = "-1.79769313486232E+0308";
  // As typed, as written (15 digits round the largest double up) and with a comma.
  const std::string text =
      "1 1.7976931348623157e308 -1.7976931348623157E+308 1.79769313486232E+0308 -1.79769313486232e308 "
      "1,79769313486232E308\r\n-99999\r\n1.79769313486232E+0308\r\n";
  const models::tLandscapeFile file = models::ParseLandscapeFile(text, "largest.patch");
  const tCircle& patch = file.Patches.at(0);
  EXPECT_EQ(std::make_tuple(patch.x, patch.y, patch.A, patch.b, patch.e),
            std::make_tuple(largest, -largest, largest, -largest, largest));
  EXPECT_EQ(file.DistanceMat, tMatrix{{largest}});
  const std::string name = fFolder.File("largest.patch");
  models::SaveLandscapeFile(name, file.Patches, &file.DistanceMat);
  const std::string saved = utile::LoadTextFromFile(name);
  EXPECT_EQ(saved,
            "1\t" + written + "\t" + negative + "\t" + written + "\t" + negative + "\t" + written +
                "\r\n-99999\t 0.00000000000000E+0000\t 0.00000000000000E+0000\t 0.00000000000000E+0000\t"
                " 0.00000000000000E+0000\t 0.00000000000000E+0000\r\n" +
                written + "\r\n");
  const models::tLandscapeFile back = models::ReadLandscapeFile(name);
  EXPECT_EQ(models::LandscapeFileText(back.Patches, &back.DistanceMat), saved);
  // One unit further in the fifteenth digit lies beyond every double.
  EXPECT_NE(testsupport::MessageOf<utile::EInOutError>([] {
              models::ParseLandscapeFile("1 0 1.79769313486233E+0308 1\n", "far.patch");
            }).find("line 1: \"1.79769313486233E+0308\" is beyond the largest real."),
            std::string::npos);
}

TEST_F(LandscapeFilesTest, MapSourcesAndMapNamesAreTakenAsWritten) {
  using K = models::tMapFileKind;
  const std::pair<const char*, K> kinds[] = {{"a.txt", K::mfTextMatrix}, {"a.bin", K::mfBinaryMatrix},
                                             {"d.v/a.rst", K::mfRaster}, {"a.bmp", K::mfPicture},
                                             {"a.jpg", K::mfPicture},    {"a.TXT", K::mfOther}};
  for (const auto& [name, kind] : kinds) EXPECT_EQ(models::MapFileKind(name), kind) << name;
  for (const char* name : {"a.bmp", "a.TXT"})
    EXPECT_THROW(models::ReadPermeabilityMap(name), utile::EInvalidArgument);
  const std::pair<const char*, const char*> names[] = {
      {"Cap%d", "Cap7"}, {"50%_run%d", "50%_run7"}, {"%d_%d", "7_7"}, {"a%s%", "a%s%"}};
  for (const auto& [pattern, name] : names) EXPECT_EQ(models::MapFileName(pattern, 7), name);
}

TEST_F(LandscapeFilesTest, WriteMapWritesTheTopRowFirstAndDocumentsTheMap) {
  models::ResultMap = {{1, 2, 3}, {11, 12, 13}};  // [c][r] = 10 c + r + 1, row 0 at the bottom
  models::RunNumber = 7;
  models::WriteMap(-5, 15, 0, 30, 2, 3, fFolder.File("Cap%d"));
  const std::string stem = fFolder.File("Cap7");
  const std::string image = utile::LoadTextFromFile(stem + ".rst");
  ASSERT_EQ(image.size(), 6 * sizeof(float));
  float cells[6];
  std::memcpy(cells, image.data(), sizeof cells);
  // [0][2], [1][2], [0][1], [1][1], [0][0], [1][0]
  EXPECT_EQ(std::vector<float>(cells, cells + 6), (std::vector<float>{3, 13, 2, 12, 1, 11}));
  utile::tRaster map(stem);
  EXPECT_EQ(std::make_tuple(map.Columns, map.Rows, map.DataType, map.FileType, map.RefSystem, map.UnitDist),
            std::make_tuple(2, 3, utile::idtReal, utile::iftBinary, std::string("plane"), std::string("1")));
  EXPECT_EQ(std::make_tuple(double(map.minX), double(map.maxX), double(map.minY), double(map.maxY)),
            std::make_tuple(-5.0, 15.0, 0.0, 30.0));
  EXPECT_EQ(std::make_pair(map.MinValue, map.MaxValue), std::make_pair(0.0f, 13.0f));
  EXPECT_EQ(map.AsMatrix(), (tMatrix{{3, 13}, {2, 12}, {1, 11}}));
  for (const auto& entry : std::filesystem::directory_iterator(fFolder.Path()))
    EXPECT_EQ(entry.path().string().find(".~"), std::string::npos) << entry.path();
  // Independent GIS software reads the same cells at their centres, where it is installed.
  if (std::system("command -v gdal_translate > /dev/null 2>&1") == 0) {
    const std::string xyz = fFolder.File("cells.xyz");
    ASSERT_EQ(std::system(("gdal_translate -q -of XYZ '" + stem + ".rst' '" + xyz + "'").c_str()), 0);
    EXPECT_EQ(utile::LoadTextFromFile(xyz), "0 25 3\n10 25 13\n0 15 2\n10 15 12\n0 5 1\n10 5 11\n");
  }

  // Above 1E301 a cell is +infinity and the maximum is held to 1E301.
  models::ResultMap = {{1e305}, {2}};
  models::WriteMap(0, 2, 0, 1, 2, 1, fFolder.File("Big"));
  EXPECT_TRUE(std::isinf(utile::tRaster(fFolder.File("Big")).AsMatrix()[0][0]));
  EXPECT_NE(utile::LoadTextFromFile(fFolder.File("Big.rdc")).find("max. value  : 1E301\r\n"),
            std::string::npos);
  // A result grid of another size is refused before anything is written.
  models::ResultMap = {{1, 2}, {3, 4}, {5, 6}};
  EXPECT_THROW(models::WriteMap(0, 1, 0, 1, 2, 3, fFolder.File("Wrong")), utile::EInvalidArgument);
  EXPECT_THROW(models::WriteMap(0, 1, 0, 1, 0, 0, fFolder.File("Wrong")), utile::EInvalidArgument);
  EXPECT_FALSE(utile::FileExists(fFolder.File("Wrong.rst")) || utile::FileExists(fFolder.File("Wrong.rdc")));
}

// LC_NUMERIC of a user whose decimal separator is the comma, as the window library
// sets it: landscape files and result maps are written byte for byte as under "C".
TEST_F(LandscapeFilesTest, FilesAreTheSameUnderEveryLocale) {
  const models::tArrayOfCircles patches = {{1, 0.1, 2.5, 1.0 / 3, 0.5, 0.25}, {2, -7.75, 1e-9, 12, 0, 1}};
  const tMatrix distances = {{0, 7.6485}, {7.6485, 0}};
  const auto written = testsupport::UnderEachLocale([&] {
    models::SaveLandscapeFile(fFolder.File("l.patch"), patches, &distances);
    models::ResultMap = {{0.1, 2.5}, {1.0 / 3, 1e-7}};
    models::RunNumber = 1;
    models::WriteMap(-0.5, 10.25, 0, 3.5, 2, 2, fFolder.File("r%d"));
    const models::tLandscapeFile back = models::ReadLandscapeFile(fFolder.File("l.patch"));
    return std::make_tuple(utile::LoadTextFromFile(fFolder.File("l.patch")),
                           utile::LoadTextFromFile(fFolder.File("r1.rdc")),
                           utile::LoadTextFromFile(fFolder.File("r1.rst")), back.Patches.size(),
                           back.DistanceMat);
  });
  for (const auto& under : written) {
    ASSERT_TRUE(under.Set) << testsupport::tNumericLocale::Missing(under.Locale);
    EXPECT_EQ(under.Result, written.front().Result) << under.Locale;
  }
  EXPECT_EQ(std::get<4>(written.front().Result), distances);
}

TEST_F(LandscapeFilesTest, ExtractPatchesCoversEveryWorkingPatch) {
  struct tAggregate {
    double x, y, A;
    std::vector<std::pair<int, float>> Members;
  };
  struct tCase {
    models::tArrayOfCircles Patches;
    double Side;
    std::vector<tAggregate> Expected;
  };
  // On axes 0..100 both ways.
  // clang-format off
  const tCase cases[] = {
      {{{1, 2, 2, 0.6}, {2, 8, 3, 0.6}}, 10, {{5, 5, 1.2, {{1, 0.5f}, {2, 0.5f}}}}},
      {{{1, 2, 2, 0.6}}, 10, {}},
      {{{1, 0, 0, 5}, {2, 100, 0, 5}, {3, 0, 100, 5}, {4, 100, 100, 5}}, 50,  // upper edges
       {{25, 25, 5, {{1, 1}}}, {25, 75, 5, {{3, 1}}}, {75, 25, 5, {{2, 1}}}, {75, 75, 5, {{4, 1}}}}},
      {{{1, 95, 5, 2}}, 30, {{105, 15, 2, {{1, 1}}}}},                          // last partial strip
      {{{1, -30, 130, 2}}, 50, {{-25, 125, 2, {{1, 1}}}}},                     // beyond the axes
      {{{1, 5, 5, 0.0005}, {2, 5, 5, 1}}, 10, {{5, 5, 1, {{2, 1}}}}}};         // too small to count
  // clang-format on
  for (const tCase& c : cases) {
    models::Patches = c.Patches;
    models::tParam param;
    param.GridResolution = c.Side;
    models::ExtractPatches(param, 0, 100, 0, 100);
    ASSERT_EQ(models::AggregatedPatches.size(), c.Expected.size());
    ASSERT_EQ(models::AggregateComposition.size(), c.Expected.size());
    for (size_t k = 0; k < c.Expected.size(); ++k) {
      const tCircle& made = models::AggregatedPatches[k];
      EXPECT_EQ(std::make_tuple(made.popID, made.x, made.y, made.A),
                std::make_tuple(99, c.Expected[k].x, c.Expected[k].y, c.Expected[k].A));
      std::vector<std::pair<int, float>> members;
      for (const models::tContrib& member : models::AggregateComposition[k])
        members.emplace_back(member.ID, member.contrib);
      EXPECT_EQ(members, c.Expected[k].Members);
    }
  }
  // Unusable resolutions leave the last aggregation as it was.
  models::Patches = {{1, 0, 0, 5}};
  for (const double side : {0.0, -10.0, std::nan(""), std::numeric_limits<double>::infinity(), 1e-300}) {
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
  // From (7.505, 5) towards (1.505, 5), a sample every 0.01: 250 samples at x
  // of 5.005 or more, 350 below, 6 units in all.
  EXPECT_EQ(models::ConnectionProfiles(values),
            (std::vector<tMatrix>{{{0, 3.5}, {3.5, 0}}, {{0, 0}, {0, 0}}, {{0, 2.5}, {2.5, 0}}}));
  EXPECT_EQ(models::ConnectionProfilesText({0.2}, {{{0, 3.5}, {3.5, 0}}}), "0.2\r\n0\t3.5\r\n3.5\t0\r\n");
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
