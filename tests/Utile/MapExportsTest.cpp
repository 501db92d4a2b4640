#include "Utile/MapExports.h"

#include <cstdio>
#include <random>

#include <gtest/gtest.h>

#include "TestSupport/MapFiles.h"
#include "TestSupport/NumericLocale.h"
#include "TestSupport/PictureFiles.h"
#include "TestSupport/StatisticalChecks.h"
#include "Utile/ColorOps.h"
#include "Utile/RunTime.h"
#include "Utile/VectorOps.h"

using namespace utile;
using namespace testsupport;

namespace {

class MapExports : public ::testing::Test {
protected:
  void SetUp() override { ChangeIdrisiVersion(ivIdrisi32); }
  std::string Stem(const std::string& name) const { return fFolder.File(name); }

  // A 2 x 3 map whose cells have known default real forms, its lower left corner
  // at (100.25, 0), cells 2.5 wide and 1 high.
  void SmallMap(const std::string& flag, const std::string& definition) const {
    MakeMapFiles(Stem("m"), "real", {1, 2.5, -9999, 0.1, -0.5, 300}, -0.5, 300, flag, definition, 3);
    std::string doc = ReadFileBytes(Stem("m.rdc"));
    doc.replace(doc.find("min. X      : 0"), 15, "min. X      : 100.25");
    doc.replace(doc.find("max. X      : 3"), 15, "max. X      : 107.75");
    WriteFileBytes(Stem("m.rdc"), doc);
  }
  tTempFolder fFolder;
};

const std::string Cell0 = " 1.00000000000000E+0000", Cell1 = " 2.50000000000000E+0000",
                  Cell2 = "-9.99900000000000E+0003";
const std::string Cell3 = " 1.00000001490116E-0001", Cell4 = "-5.00000000000000E-0001",
                  Cell5 = " 3.00000000000000E+0002";

TEST_F(MapExports, AsciiGridHasItsHeaderAndRowsOfCellsWithTwoBlanks) {
  const std::string header =
      "ncols        3\r\nnrows        2\r\nxllcorner     1.00250000000000E+0002\r\n"
      "yllcorner     0.00000000000000E+0000\r\ncellsize     1.75\r\n";
  const std::string rows =
      Cell0 + "  " + Cell1 + "  " + Cell2 + "  \r\n" + Cell3 + "  " + Cell4 + "  " + Cell5 + "  \r\n";
  const struct {
    const char *Flag, *Definition;
    std::string Expected;
  } cases[] = {
      {"-9999", "background", header + "NODATA_value -9.99900000000000E+0003\r\n" + rows},
      {"none", "none", header + rows},
      {"7", "no background", header + rows},
  };
  // The user's separator is the comma: the grid keeps the point all the same.
  const char saved = DecimalSeparator, savedUser = UserDecimalSeparator;
  DecimalSeparator = UserDecimalSeparator = ',';
  for (const auto& c : cases) {
    SmallMap(c.Flag, c.Definition);
    ExportAsciiGrid(tRaster(Stem("m.rst")), Stem("m.asc"));
    EXPECT_EQ(c.Expected, ReadFileBytes(Stem("m.asc"))) << c.Definition;
  }
  DecimalSeparator = saved;
  UserDecimalSeparator = savedUser;
}

// LC_NUMERIC of a user whose decimal separator is the comma, as the window library
// sets it: the exports are written byte for byte as under "C".
TEST_F(MapExports, ExportsAreTheSameUnderEveryLocale) {
  SmallMap("-9999", "background");
  const auto written = UnderEachLocale([&] {
    const tRaster map(Stem("m.rst"));
    ExportAsciiGrid(map, Stem("m.asc"));
    ExportMatrixFile(map, Stem("m.txt"), false);
    ExportMatrixFile(map, Stem("m.bin"), true);
    return ReadFileBytes(Stem("m.asc")) + ReadFileBytes(Stem("m.txt")) + ReadFileBytes(Stem("m.bin"));
  });
  for (const auto& under : written) {
    ASSERT_TRUE(under.Set) << tNumericLocale::Missing(under.Locale);
    EXPECT_EQ(under.Result, written.front().Result) << under.Locale;
  }
}

TEST_F(MapExports, MatrixFilesHoldTheCellsAsTextAndExactly) {
  SmallMap("-9999", "background");
  const tRaster map(Stem("m.rst"));
  ExportMatrixFile(map, Stem("m.txt"), false);
  EXPECT_EQ(
      "2\t3\r\n" + Cell0 + "\t" + Cell1 + "\t" + Cell2 + "\r\n" + Cell3 + "\t" + Cell4 + "\t" + Cell5 + "\r\n",
      ReadFileBytes(Stem("m.txt")));
  ExportMatrixFile(map, Stem("m.bin"), true);
  const std::string bytes = ReadFileBytes(Stem("m.bin"));
  ASSERT_EQ(16u + 6 * 8, bytes.size());
  std::vector<double> values(8);
  std::memcpy(values.data(), bytes.data(), bytes.size());
  EXPECT_EQ((std::vector<double>{2, 3, 1, 2.5, -9999, double(0.1f), -0.5, 300}), values);
}

// The streamed files are those that the matrix-file writer makes of the whole matrix,
// over rows that straddle blocks.
TEST_F(MapExports, StreamedMatrixFilesEqualTheMatrixWriters) {
  std::mt19937 generator(11);
  std::uniform_real_distribution<double> values(-1e6, 1e6);
  std::vector<double> cells(999 * 1102);
  for (auto& x : cells) x = values(generator) * (generator() % 7 == 0 ? 1e-9 : 1);
  MakeMapFiles(Stem("big"), "real", cells, -1e6, 1e6, "none", "none", 999);
  const tRaster map(Stem("big.rst"));
  for (const bool binary : {false, true}) {
    ExportMatrixFile(map, Stem("streamed"), binary);
    MatSaveToFile(map.AsMatrix(), Stem("whole"), binary);
    EXPECT_TRUE(ReadFileBytes(Stem("streamed")) == ReadFileBytes(Stem("whole"))) << binary;
  }
}

// A 3 x 2 picture with rows 10 bytes apart: the bitmap's rows are 12 bytes, the
// bottom one first.
TEST_F(MapExports, BitmapHasItsHeadersAndPaddedRowsFromTheBottom) {
  const Byte pixels[20] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 99, 11, 12, 13, 14, 15, 16, 17, 18, 19, 99};
  SaveBitmapFile(Stem("p.bmp"), {pixels, 3, 2, 10});
  const std::string b = ReadFileBytes(Stem("p.bmp"));
  ASSERT_EQ(78u, b.size());
  auto word = [&](size_t at, int bytes) {
    uint32_t v = 0;
    for (int i = bytes - 1; i >= 0; --i) v = v * 256 + static_cast<uint8_t>(b[at + i]);
    return v;
  };
  EXPECT_EQ("BM", b.substr(0, 2));
  const std::pair<size_t, uint32_t> fields[] = {{2, 78}, {6, 0},  {10, 54}, {14, 40}, {18, 3},
                                                {22, 2}, {30, 0}, {34, 24}, {46, 0}};
  for (auto [at, value] : fields) EXPECT_EQ(value, word(at, 4)) << at;
  EXPECT_EQ(1u, word(26, 2));
  EXPECT_EQ(24u, word(28, 2));
  EXPECT_EQ(
      std::string("\x0b\x0c\x0d\x0e\x0f\x10\x11\x12\x13\0\0\0\x01\x02\x03\x04\x05\x06\x07\x08\x09\0\0\0", 24),
      b.substr(54));
}

TEST_F(MapExports, JpegIsProgressiveAtQualityHundredWithTheBlocksColours) {
  // Four uniform 16 x 16 blocks, given as blue, green, red.
  const TRGBTriple colours[4] = {{255, 0, 0}, {0, 128, 255}, {30, 200, 90}, {128, 128, 128}};
  constexpr int Side = 32;
  std::vector<TRGBTriple> pixels(Side * Side);
  for (int y = 0; y < Side; ++y)
    for (int x = 0; x < Side; ++x) pixels[y * Side + x] = colours[(y / 16) * 2 + x / 16];
  SaveJpegFile(Stem("p.jpg"), {reinterpret_cast<const Byte*>(pixels.data()), Side, Side, Side * 3});
  tDecodedJpeg decoded;
  ASSERT_TRUE(DecodeJpeg(Stem("p.jpg"), decoded));
  EXPECT_TRUE(decoded.Progressive);
  EXPECT_TRUE(decoded.QuantisationAllOne);
  EXPECT_EQ(Side, decoded.Width);
  EXPECT_EQ(Side, decoded.Height);
  int worst = 0;
  for (int i = 0; i < Side * Side; ++i) {
    const TRGBTriple& c = pixels[i];
    const int rgb[3] = {c.rgbtRed, c.rgbtGreen, c.rgbtBlue};
    for (int k = 0; k < 3; ++k) worst = std::max(worst, std::abs(decoded.Rgb[3 * i + k] - rgb[k]));
  }
  EXPECT_LE(worst, 3);
}

// Pictures beyond their format and failed writes raise, leave an earlier export as it
// was and no temporary file.
TEST_F(MapExports, FailedExportsLeaveTheEarlierFile) {
  const Byte pixel[4] = {};
  // Noise, which no encoder packs into the few kilobytes the limit lets through.
  std::vector<Byte> large(3 * 600 * 600);
  std::mt19937 generator(5);
  for (auto& b : large) b = static_cast<Byte>(generator());
  SmallMap("none", "none");
  const struct {
    const char* What;
    std::function<void()> Export;
    rlim_t FileSizeLimit;
  } cases[] = {
      {"JPEG over 65,500 pixels a side",
       [&] {
         SaveJpegFile(Stem("e"), {pixel, 65501, 1, 65501 * 3});
       },
       RLIM_INFINITY},
      {"bitmap over 4 GB",
       [&] {
         SaveBitmapFile(Stem("e"), {pixel, 40000, 40000, 120000});
       },
       RLIM_INFINITY},
      {"JPEG write failing",
       [&] {
         SaveJpegFile(Stem("e"), {large.data(), 600, 600, 1800});
       },
       20'000},
      {"bitmap write failing",
       [&] {
         SaveBitmapFile(Stem("e"), {large.data(), 600, 600, 1800});
       },
       20'000},
      {"grid write failing", [&] { ExportAsciiGrid(tRaster(Stem("m.rst")), Stem("e")); }, 100},
      {"matrix write failing", [&] { ExportMatrixFile(tRaster(Stem("m.rst")), Stem("e"), false); }, 100},
      {"a folder in place of the export",
       [&] {
         std::filesystem::remove(Stem("e"));
         std::filesystem::create_directories(Stem("e/in"));
         ExportMatrixFile(tRaster(Stem("m.rst")), Stem("e"), true);
       },
       RLIM_INFINITY},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.What);
    WriteFileBytes(Stem("e"), "earlier export");
    const auto before = FolderNames(fFolder.Path());
    {
      tFileSizeLimit limit(c.FileSizeLimit);
      EXPECT_THROW(c.Export(), EInOutError);
    }
    EXPECT_EQ(before, FolderNames(fFolder.Path()));
    if (!std::filesystem::is_directory(Stem("e"))) {
      EXPECT_EQ("earlier export", ReadFileBytes(Stem("e")));
    }
  }
}

TEST_F(MapExports, WalkExportsBesideEachMapAndLogsTheFailures) {
  SmallMap("-9999", "background");
  MakeMapFiles(Stem("n"), "byte", {5, 6}, 5, 6);
  WriteFileBytes(Stem("gone.bmp"), "earlier export");
  std::vector<std::string> log, drawn;
  tExportHooks hooks;
  hooks.Log = [&](const std::string& line) { log.push_back(line); };
  hooks.SavePicture = [&](const tRaster& map, const tMatrixOfDouble& m, tExportFormat format,
                          const std::string& file) {
    drawn.push_back(Format("%s %d x %d %s %g", ExtractFileName(file), m.size(), m[0].size(),
                           ExportExtension(format), ExportBackground(map)));
    const Byte pixel[3] = {};
    SaveBitmapFile(file, {pixel, 1, 1, 3});
  };
  const auto results =
      ExportMaps({Stem("m.rst"), Stem("gone.rst"), Stem("n.rdc"), Stem("n.rst")}, efBitmap, hooks);
  EXPECT_EQ((std::vector<std::string>{"m.bmp 2 x 3 .bmp -9999", "n.bmp 1 x 2 .bmp -3.4E38",
                                      "n.bmp 1 x 2 .bmp -3.4E38"}),
            drawn);
  EXPECT_EQ(
      (std::vector<std::string>{"gone generated an error. Check it.", "    " + Stem("gone.rdc") + " not found."}),
      log);
  EXPECT_EQ("earlier export", ReadFileBytes(Stem("gone.bmp")));
  EXPECT_EQ(ocFailed, results[1].Outcome);

  ExportMaps({Stem("n.rst")}, efArcGrid, hooks);
  ExportMaps({Stem("n.rst")}, efText, hooks);
  EXPECT_EQ((std::set<std::string>{"gone.bmp", "m.bmp", "m.rdc", "m.rst", "n.asc", "n.bmp", "n.rdc", "n.rst",
                                   "n.txt"}),
            FolderNames(fFolder.Path()));
}

}  // namespace
