#include "TestSupport/ExceptionMessages.h"
#include "Utile/Idrisi.h"

#include <cfloat>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <map>
#include <optional>
#include <random>
#include <sstream>
#include <tuple>

#include <gtest/gtest.h>

#include "TestSupport/FakeMemory.h"
#include "TestSupport/MapFiles.h"
#include "TestSupport/NumericLocale.h"
#include "TestSupport/StatisticalChecks.h"
#include "Utile/Platform.h"
#include "Utile/RunTime.h"
#include "Utile/ToolkitVariant.h"

using namespace utile;
using testsupport::ReadFileBytes;
using testsupport::tTempFolder;
using testsupport::WriteFileBytes;

namespace {

// ---------------------------------------------------------------- helpers

std::vector<Byte> ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<Byte>(std::istreambuf_iterator<char>(in), {});
}

void WriteBytes(const std::string& path, const std::vector<Byte>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}


// Little-endian records as the format defines them, built byte by byte.
std::vector<Byte> Encode(TGISDataType type, const std::vector<double>& values) {
  std::vector<Byte> bytes;
  for (double v : values) {
    if (type == idtByte) {
      bytes.push_back(static_cast<Byte>(static_cast<int>(v)));
    } else if (type == idtInteger) {
      const uint16_t w = static_cast<uint16_t>(static_cast<int16_t>(v));
      bytes.push_back(static_cast<Byte>(w & 0xFF));
      bytes.push_back(static_cast<Byte>(w >> 8));
    } else {
      const float f = static_cast<float>(v);
      uint32_t w;
      std::memcpy(&w, &f, 4);
      for (int k = 0; k < 4; ++k) bytes.push_back(static_cast<Byte>((w >> (8 * k)) & 0xFF));
    }
  }
  return bytes;
}

std::vector<double> Decode(TGISDataType type, const std::vector<Byte>& bytes) {
  std::vector<double> values;
  const size_t width = type == idtByte ? 1 : type == idtInteger ? 2 : 4;
  for (size_t i = 0; i + width <= bytes.size(); i += width) {
    if (type == idtByte) {
      values.push_back(bytes[i]);
    } else if (type == idtInteger) {
      values.push_back(static_cast<int16_t>(static_cast<uint16_t>(bytes[i] | (bytes[i + 1] << 8))));
    } else {
      const uint32_t w = bytes[i] | (bytes[i + 1] << 8) | (bytes[i + 2] << 16) | (static_cast<uint32_t>(bytes[i + 3]) << 24);
      float f;
      std::memcpy(&f, &w, 4);
      values.push_back(f);
    }
  }
  return values;
}

// A documentation file as the format's other programs write it: fixed keys of 14
// characters, CR LF line ends, numbers with seven decimals.
std::string PublishedDoc(const std::string& dataType, int columns, int rows, const std::string& flagValue = "none",
                         const std::string& flagDefinition = "none", const std::string& tail = "") {
  std::ostringstream s;
  s << "file format : IDRISI Raster A.1\r\n"
    << "file title  : Hand-made test map\r\n"
    << "data type   : " << dataType << "\r\n"
    << "file type   : binary\r\n"
    << "columns     : " << columns << "\r\n"
    << "rows        : " << rows << "\r\n"
    << "ref. system : utm-30n\r\n"
    << "ref. units  : m\r\n"
    << "unit dist.  : 1.0000000\r\n"
    << "min. X      : 500000.0000000\r\n"
    << "max. X      : " << 500000 + 30LL * columns << ".0000000\r\n"
    << "min. Y      : 4000000.0000000\r\n"
    << "max. Y      : " << 4000000 + 30LL * rows << ".0000000\r\n"
    << "pos'n error : unknown\r\n"
    << "resolution  : 30.0000000\r\n"
    << "min. value  : 0\r\n"
    << "max. value  : 100\r\n"
    << "display min : 0\r\n"
    << "display max : 100\r\n"
    << "value units : unspecified\r\n"
    << "value error : unknown\r\n"
    << "flag value  : " << flagValue << "\r\n"
    << "flag def'n  : " << flagDefinition << "\r\n"
    << "legend cats : 0\r\n"
    << tail;
  return s.str();
}

using testsupport::MessageOf;

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

std::string ReplaceOnce(std::string text, const std::string& old, const std::string& by) {
  return text.replace(text.find(old), old.size(), by);
}

// The user's decimal separator, as a program takes it from the environment.
class tUserSeparatorGuard {
public:
  explicit tUserSeparatorGuard(char separator) : fSaved(UserDecimalSeparator) {
    UserDecimalSeparator = separator;
  }
  ~tUserSeparatorGuard() { UserDecimalSeparator = fSaved; }

private:
  char fSaved;
};

class Idrisi : public ::testing::Test {
protected:
  void SetUp() override { Reset(); }
  void TearDown() override { Reset(); }
  static void Reset() {
    ChangeIdrisiVersion(ivIdrisi32);
    SetToolkitVariant(tToolkitVariant::tvMainProgram);
    SetMessagePump(nullptr);
  }

  std::string Name(const std::string& name) const { return fFolder.File(name); }

  // A map whose image file is built here, byte by byte, with a documentation file
  // in the format's published form.
  std::string HandMadeMap(const std::string& name, TGISDataType type, int columns, int rows,
                          const std::vector<double>& values, const std::string& flagValue = "none",
                          const std::string& flagDefinition = "none") {
    const std::string base = Name(name);
    WriteFileBytes(base + DocExtension, PublishedDoc(GISDataTypeName(type), columns, rows, flagValue, flagDefinition));
    WriteBytes(base + ImageExtension, Encode(type, values));
    return base;
  }

  // Writes cells through the block writer.
  tRaster WrittenMap(const std::string& name, TGISDataType type, int columns, int rows,
                     const std::vector<double>& values) {
    tRaster map;
    map.FileName = Name(name);
    map.DataType = type;
    map.Columns = columns;
    map.Rows = rows;
    TIdrisiFile F;
    map.OpenW(F);
    for (double v : values) WriteRaster(F, static_cast<Single>(v));
    CloseRaster(F);
    map.WriteDoc();
    return map;
  }

  tTempFolder fFolder;
};

// ---------------------------------------------------------------- conventions

TEST_F(Idrisi, ConventionsSetTheirExtensions) {
  struct tCase {
    tIdrisiVersion Version;
    const char *Doc, *Image, *Vector, *VectorDoc;
  } const cases[] = {
      {ivIdrisi16, ".doc", ".img", ".vec", ".dvc"},
      {ivIdrisi32, ".rdc", ".rst", ".vct", ".vdc"},
  };
  for (const auto& c : cases) {
    ChangeIdrisiVersion(c.Version);
    EXPECT_EQ(c.Version, IdrisiVersion);
    EXPECT_EQ(c.Doc, DocExtension);
    EXPECT_EQ(c.Image, ImageExtension);
    EXPECT_EQ(c.Vector, VectorExtension);
    EXPECT_EQ(c.VectorDoc, VectorDocExtension);
    EXPECT_EQ(".smp", SampleExtension);
  }
}

TEST_F(Idrisi, MapFileFilterListsTheMapKinds) {
  EXPECT_EQ(
      "All maps (*.rst)|*.rst"
      "|Quantitative maps (*_QT)|*_QT.rst"
      "|Qualitative maps (*_BL, *_CL, *_CL)|*_BL.rst;*_CL.rst;*_CL.rst"
      "|Boolean maps (*_BL)|*_BL.rst"
      "|Freqency/Probability maps (_FQ)|*_FQ.rst"
      "|Count maps (*_NB)|*_NB.rst"
      "|Statistical maps (*_ST)|*_ST.rst"
      "|Category maps (*_CL)|*_CL.rst"
      "|All files (*.*)|*.*",
      MapFileFilter);
  ChangeIdrisiVersion(ivIdrisi16);
  EXPECT_EQ(0u, MapFileFilter.find("All maps (*.img)|*.img|Quantitative maps (*_QT)|*_QT.img|"));
}

TEST_F(Idrisi, EnvironmentFileSelectsTheOlderConventionAndTheDataPath) {
  EnvironnementIdrisi(fFolder.Path());
  EXPECT_EQ(ivIdrisi32, IdrisiVersion);
  EXPECT_EQ(".rdc", DocExtension);

  // Keys anywhere in the first 40 characters, values from column 41.
  auto line = [](const std::string& key, const std::string& value) {
    std::string l = "  " + key;
    l.resize(40, ' ');
    return l + value + "\r\n";
  };
  WriteFileBytes(fFolder.File("idrisi.env"), line("default data drive", "  D:   ") + line("Default Data Path", "ignored") +
                                            line("default data path", " \\maps\\study\\ ") +
                                            line("image file extension", ".xyz") +
                                            line("image documentation file ext.", ".abc") + "short line\r\n");
  EnvironnementIdrisi(fFolder.Path());
  EXPECT_EQ(ivIdrisi16, IdrisiVersion);
  EXPECT_EQ("D:\\maps\\study\\", DataPath);
  // The convention's own extensions win over those of the file.
  EXPECT_EQ(".doc", DocExtension);
  EXPECT_EQ(".img", ImageExtension);
  EXPECT_EQ(0u, MapFileFilter.find("All maps (*.img)"));

  // Present without drive or path lines: empty data path.
  WriteFileBytes(fFolder.File("idrisi.env"), "nothing of interest\n");
  EnvironnementIdrisi(fFolder.Path());
  EXPECT_EQ(ivIdrisi16, IdrisiVersion);
  EXPECT_EQ("", DataPath);

  std::filesystem::remove(fFolder.File("idrisi.env"));
  EnvironnementIdrisi(fFolder.Path());
  EXPECT_EQ(ivIdrisi32, IdrisiVersion);
  EXPECT_EQ(".rst", ImageExtension);
}

TEST_F(Idrisi, ShortNameDropsOnlyTheExtension) {
  const std::pair<const char*, const char*> cases[] = {
      {"maps/forest.rst", "maps/forest"}, {"run1.5.rst", "run1.5"},   {"forest", "forest"},
      {"maps.v2/forest", "maps.v2/forest"}, {"C:\\a.b\\c.rdc", "C:\\a.b\\c"},
  };
  for (const auto& [name, expected] : cases) EXPECT_EQ(expected, ExtractShortName(name)) << name;
}

// ---------------------------------------------------------------- documentation files

TEST_F(Idrisi, NewRasterHasTheEmptyDefaults) {
  tRaster r;
  EXPECT_EQ("IDRISI Raster A.1", r.FileFormat);
  EXPECT_EQ(iftBinary, r.FileType);
  EXPECT_EQ(idtReal, r.DataType);
  EXPECT_EQ("1", r.UnitDist);
  EXPECT_EQ("plane", r.RefSystem);
  EXPECT_EQ(bsUnchecked, r.BackGround);
  EXPECT_EQ(0, r.Columns);
  EXPECT_TRUE(r.Lineage.empty());
  ChangeIdrisiVersion(ivIdrisi16);
  EXPECT_EQ("", tRaster().FileFormat);
}

TEST_F(Idrisi, WrittenDocumentationHasTheFixedKeysInOrder) {
  tRaster r;
  r.FileName = Name("forest_QT");
  r.FileTitle = "Forest cover";
  r.DataType = idtInteger;
  r.Columns = 100;
  r.Rows = 50;
  r.maxX = 250;
  r.maxY = 100;
  r.MinValue = -2.5f;
  r.MaxValue = 0.1f;
  r.BackGround = bsChecked;
  r.BackGroundValue = -9999;
  r.Category = {"code      1 : forest", "category 2 : meadow"};
  r.Comment = {"first comment", "second"};
  r.Lineage = {"Data type converted to integer"};
  r.Completeness = {"complete"};
  r.Consistency = {"checked"};
  r.WriteDoc();
  EXPECT_EQ(
      "file format : IDRISI Raster A.1\r\n"
      "file title  : Forest cover\r\n"
      "data type   : integer\r\n"
      "file type   : binary\r\n"
      "columns     : 100\r\n"
      "rows        : 50\r\n"
      "ref. system : plane\r\n"
      "ref. units  : unspecified\r\n"
      "unit dist.  : 1\r\n"
      "min. X      : 0\r\n"
      "max. X      : 250\r\n"
      "min. Y      : 0\r\n"
      "max. Y      : 100\r\n"
      "pos'n error : \r\n"
      "resolution  : 2.25\r\n"
      "min. value  : -2.5\r\n"
      "max. value  : 0.1\r\n"
      "display min : -2.5\r\n"
      "display max : 0.1\r\n"
      "value units : unspecified\r\n"
      "value error : unknown\r\n"
      "flag value  : -9999\r\n"
      "flag def'n  : background\r\n"
      "legend cats : 2\r\n"
      "code      1 : forest\r\n"
      "category 2 : meadow\r\n"
      "comment     : first comment\r\n"
      "comment     : second\r\n"
      "lineage     : Data type converted to integer\r\n"
      "completeness: complete\r\n"
      "consistency : checked\r\n",
      ReadFileBytes(Name("forest_QT.rdc")));
  // Defaults used are kept, and so is the display range taken from the value range.
  EXPECT_EQ("unspecified", r.RefUnits);
  EXPECT_EQ("unknown", r.ValueError);
  EXPECT_EQ("2.25", r.Resolution);
  EXPECT_FLOAT_EQ(2.5f, r.ResolutionX);
  EXPECT_FLOAT_EQ(2.0f, r.ResolutionY);
  EXPECT_EQ(-2.5f, r.DisplayMin);
  EXPECT_EQ(0.1f, r.DisplayMax);
}

TEST_F(Idrisi, OlderConventionHasNoFormatNorDisplayLines) {
  ChangeIdrisiVersion(ivIdrisi16);
  tRaster r;
  r.FileName = Name("old");
  r.DataType = idtByte;
  r.Columns = r.Rows = 1;
  r.DisplayMin = 1;
  r.DisplayMax = 7;
  r.BackGround = bsGrayed;
  r.WriteDoc();
  const std::string text = ReadFileBytes(Name("old.doc"));
  EXPECT_FALSE(Contains(text, "file format"));
  EXPECT_FALSE(Contains(text, "display"));
  EXPECT_EQ(0u, text.find("file title  : \r\ndata type   : byte\r\n"));
  EXPECT_TRUE(Contains(text, "flag value  : none\r\nflag def'n  : none\r\nlegend cats : 0\r\n"));
  // A distinct display range is left as it is.
  EXPECT_EQ(1, r.DisplayMin);
  EXPECT_EQ(7, r.DisplayMax);

  tRaster back(Name("old.img"));
  EXPECT_EQ(bsGrayed, back.BackGround);
  EXPECT_EQ(0, back.BackGroundValue);
  EXPECT_EQ(idtByte, back.DataType);
  EXPECT_EQ("", back.FileFormat);
}

TEST_F(Idrisi, DocumentationRoundTripKeepsEveryField) {
  for (const auto version : {ivIdrisi32, ivIdrisi16}) {
    ChangeIdrisiVersion(version);
    tRaster r;
    r.FileName = Name("trip");
    r.FileTitle = "  title with blanks ";
    r.DataType = idtReal;
    r.Columns = 7;
    r.Rows = 3;
    r.RefSystem = "utm-30n";
    r.RefUnits = "m";
    r.UnitDist = "1.0";
    r.minX = 500000.5L;
    r.maxX = 500210.5L;
    r.minY = -12.25L;
    r.maxY = 77.75L;
    r.PosnError = "unknown";
    r.Resolution = "30";
    r.MinValue = -3.4e38f;
    r.MaxValue = 1e-7f;
    r.DisplayMin = 2;
    r.DisplayMax = 3;
    r.ValueUnits = "kg";
    r.ValueError = "0.5";
    r.BackGround = bsChecked;
    r.BackGroundValue = -0.125f;
    r.Category = {"code      1 : one", "code      2 : two"};
    r.Comment = {"c"};
    r.Lineage = {"l1", "l2", ""};
    r.WriteDoc();

    tRaster b(Name("trip"));
    EXPECT_EQ(r.FileFormat, b.FileFormat);
    EXPECT_EQ(r.FileTitle, b.FileTitle);
    EXPECT_EQ(idtReal, b.DataType);
    EXPECT_EQ(iftBinary, b.FileType);
    EXPECT_EQ(7, b.Columns);
    EXPECT_EQ(3, b.Rows);
    EXPECT_EQ("utm-30n", b.RefSystem);
    EXPECT_EQ("m", b.RefUnits);
    EXPECT_EQ(utMeters, b.UnitType);
    EXPECT_EQ("1.0", b.UnitDist);
    EXPECT_EQ(500000.5L, b.minX);
    EXPECT_EQ(500210.5L, b.maxX);
    EXPECT_EQ(-12.25L, b.minY);
    EXPECT_EQ(77.75L, b.maxY);
    EXPECT_EQ("unknown", b.PosnError);
    EXPECT_EQ("30", b.Resolution);
    EXPECT_FLOAT_EQ(30.0f, b.ResolutionX);
    EXPECT_FLOAT_EQ(30.0f, b.ResolutionY);
    EXPECT_EQ(-3.4e38f, b.MinValue);
    EXPECT_EQ(1e-7f, b.MaxValue);
    if (version == ivIdrisi32) {
      EXPECT_EQ(2, b.DisplayMin);
      EXPECT_EQ(3, b.DisplayMax);
    }
    EXPECT_EQ("kg", b.ValueUnits);
    EXPECT_EQ("0.5", b.ValueError);
    EXPECT_EQ(bsChecked, b.BackGround);
    EXPECT_EQ(-0.125f, b.BackGroundValue);
    EXPECT_EQ(r.Category, b.Category);
    EXPECT_EQ(2, b.LegendCats);
    EXPECT_EQ(r.Comment, b.Comment);
    EXPECT_EQ(r.Lineage, b.Lineage);
    EXPECT_FALSE(b.NotFound);
  }
}

TEST_F(Idrisi, FlagValueIsRoundedForWholeNumberMapsOnly) {
  struct tCase {
    const char* Type;
    const char* Flag;
    Single Expected;
  } const cases[] = {
      {"integer", "2.6", 3},          {"byte", "2.6", 3},           {"integer", "2.5", 2},
      {"integer", "3.5", 4},          {"byte", "-0.5", 0},          {"integer", "-9999", -9999},
      {"real", "2.6", 2.6f},          {"real", "-0.001", -0.001f},  {"real", "-3.4e38", -3.4e38f},
      {"real", "-3.5E38", -FLT_MAX},  {"integer", "-3.4e38", -3.4e38f}, {"real", "none", 0},
      {"byte", "1,5", 2},
  };
  for (const auto& c : cases) {
    WriteFileBytes(Name("flag.rdc"), PublishedDoc(c.Type, 2, 2, c.Flag, "missing data"));
    tRaster r(Name("flag"));
    EXPECT_EQ(c.Expected, r.BackGroundValue) << c.Type << " " << c.Flag;
    EXPECT_EQ(bsChecked, r.BackGround);
    // The cell type decides, wherever its line stands.
    WriteFileBytes(Name("flag.rdc"), std::string("flag value  : ") + c.Flag + "\ncolumns     : 1\nrows        : 1\ndata type   : " +
                                    c.Type + "\n");
    EXPECT_EQ(c.Expected, tRaster(Name("flag")).BackGroundValue) << c.Type << " " << c.Flag;
  }
}

TEST_F(Idrisi, FlagDefinitionGivesTheBackgroundState) {
  const std::pair<const char*, tBackgroundState> cases[] = {
      {"background", bsChecked}, {"missing data", bsChecked}, {"no background", bsUnchecked},
      {"none", bsGrayed},        {"whatever", bsGrayed},
  };
  for (const auto& [definition, expected] : cases) {
    WriteFileBytes(Name("def.rdc"), PublishedDoc("byte", 1, 1, "0", definition));
    EXPECT_EQ(expected, tRaster(Name("def")).BackGround) << definition;
  }
}

TEST_F(Idrisi, KeysAreExactButTypeValuesIgnoreCase) {
  WriteFileBytes(Name("caps.rdc"), "DATA TYPE   : byte\ndata type   : REAL\nfile type   : Binary\n"
                              "columns     : 2\nrows        : 3\nCOLUMNS     : 9\nlegend cats : 5\n"
                              "code      1 : a\ncode      2 : b\ncategory 3 : c\n");
  tRaster r(Name("caps"));
  EXPECT_EQ(idtReal, r.DataType);
  EXPECT_EQ(iftBinary, r.FileType);
  EXPECT_EQ(2, r.Columns);
  EXPECT_EQ(3, r.Rows);
  EXPECT_EQ(5, r.LegendCats);
  ASSERT_EQ(3u, r.Category.size());
  EXPECT_EQ("category 3 : c", r.Category[2]);
  // Written back, the legend count is the number of category lines.
  r.WriteDoc();
  EXPECT_TRUE(Contains(ReadFileBytes(Name("caps.rdc")), "legend cats : 3\r\ncode      1 : a\r\n"));
}

TEST_F(Idrisi, DataAndFileTypeNames) {
  const std::pair<const char*, TGISDataType> types[] = {
      {"byte", idtByte}, {"integer", idtInteger}, {"real", idtReal}, {"dummy", idtUnknown}, {"rgb24", idtUnknown},
  };
  for (const auto& [name, expected] : types) {
    WriteFileBytes(Name("t.rdc"), PublishedDoc(name, 1, 1));
    EXPECT_EQ(expected, tRaster(Name("t")).DataType) << name;
  }
  const std::pair<const char*, TGISFileType> files[] = {
      {"ascii", iftASCII}, {"binary", iftBinary}, {"packed binary", iftPackedBinary}, {"zipped", iftUnknown},
  };
  for (const auto& [name, expected] : files) {
    WriteFileBytes(Name("t.rdc"), std::string("data type   : byte\ncolumns     : 1\nrows        : 1\nfile type   : ") +
                                 name + "\n");
    EXPECT_EQ(expected, tRaster(Name("t")).FileType) << name;
  }
}

TEST_F(Idrisi, ReferenceUnitsGiveTheUnitType) {
  const std::pair<const char*, TGISUnitType> cases[] = {
      {"Meters ", utMeters},  {"m", utMeters},           {"m\xE8tres", utMeters},   {"m\xC3\xA8tres", utMeters},
      {"km", utKilometers},   {"Kilometers", utKilometers}, {"degrees", utDegrees}, {"deg", utDegrees},
      {"yards", utYards},     {"mi", utMiles},           {"Milles", utMiles},       {"feet", utCustom},
      {"", utCustom},
  };
  for (const auto& [units, expected] : cases) {
    WriteFileBytes(Name("u.rdc"), std::string("data type   : byte\ncolumns     : 1\nrows        : 1\nref. units  : ") +
                                 units + "\n");
    tRaster r(Name("u"));
    EXPECT_EQ(expected, r.UnitType) << units;
    EXPECT_EQ(units, r.RefUnits);
  }
}

TEST_F(Idrisi, MapNamesWithTheirExtensionsOrWithout) {
  WriteFileBytes(Name("map.rdc"), PublishedDoc("byte", 4, 2));
  for (const char* given : {"map.rst", "map.rdc", "map.RDC", "map.Rst", "map"}) {
    tRaster r(Name(given));
    EXPECT_EQ(Name("map"), r.FileName) << given;
    EXPECT_EQ(4, r.Columns);
  }
  // Another extension stays in the name; the documentation file read replaces it.
  tRaster other(Name("map.txt"));
  EXPECT_EQ(Name("map.txt"), other.FileName);
  EXPECT_EQ(4, other.Columns);
  // The older convention's extensions are not this convention's.
  ChangeIdrisiVersion(ivIdrisi16);
  WriteFileBytes(Name("map.doc"), PublishedDoc("byte", 5, 5));
  EXPECT_EQ(Name("map"), tRaster(Name("map.img")).FileName);
  EXPECT_EQ(Name("map.rst"), tRaster(Name("map.rst")).FileName);
}

TEST_F(Idrisi, DottedMapNameReadsItsOwnDocumentation) {
  WriteFileBytes(Name("run1.5.rdc"), PublishedDoc("byte", 15, 1));
  WriteFileBytes(Name("run1.rdc"), PublishedDoc("byte", 1, 1));
  for (const char* given : {"run1.5.rst", "run1.5.rdc"}) {
    tRaster r(Name(given));
    EXPECT_EQ(Name("run1.5"), r.FileName);
    EXPECT_EQ(15, r.Columns) << given;
  }
}

TEST_F(Idrisi, MissingDocumentationIsReportedByName) {
  tRaster r;
  r.Columns = 12;
  EXPECT_EQ(Name("nowhere.rdc") + " not found.", MessageOf<EInOutError>([&] { r.ReadDoc(Name("nowhere.rst")); }));
  EXPECT_TRUE(r.NotFound);
  EXPECT_EQ(12, r.Columns);
  EXPECT_EQ(Name("nowhere"), r.FileName);
  EXPECT_THROW(tRaster(Name("nowhere")), EInOutError);
}

TEST_F(Idrisi, ReadingAgainForgetsTheFieldsOfThePreviousMap) {
  WriteFileBytes(Name("first.rdc"), PublishedDoc("byte", 3, 3, "7", "background"));
  WriteFileBytes(Name("second.rdc"), "data type   : integer\ncolumns     : 2\nrows        : 2\n");
  tRaster r(Name("first"));
  EXPECT_EQ(100, r.MaxValue);
  r.ReadDoc(Name("second"));
  EXPECT_EQ(0, r.MaxValue);
  EXPECT_EQ(0, r.minX);
  EXPECT_EQ("", r.FileTitle);
  EXPECT_EQ(bsGrayed, r.BackGround);
  EXPECT_EQ(0, r.BackGroundValue);
  EXPECT_EQ("IDRISI Raster A.1", r.FileFormat);
}

TEST_F(Idrisi, ResolutionFromTheBoundingBox) {
  WriteFileBytes(Name("res.rdc"), "data type   : byte\ncolumns     : 100\nrows        : 50\nmin. X      : 0\n"
                             "max. X      : 250\nmin. Y      : 0\nmax. Y      : 100\n");
  tRaster r(Name("res"));
  EXPECT_EQ(2.5f, r.ResolutionX);
  EXPECT_EQ(2.0f, r.ResolutionY);
  EXPECT_EQ("", r.Resolution);
  r.WriteDoc();
  EXPECT_EQ("2.25", r.Resolution);
  r.Resolution = "7";
  r.maxX = 500;
  r.ComputeResolution();
  EXPECT_EQ(5.0f, r.ResolutionX);
  EXPECT_EQ("3.5", r.Resolution);
  EXPECT_TRUE(Contains(ReadFileBytes(Name("res.rdc")), "resolution  : 2.25\r\n"));
  // Cell sizes that no binary fraction holds are written as the user gave them.
  tRaster fine;
  fine.FileName = Name("fine");
  fine.Columns = 3;
  fine.Rows = 3;
  fine.maxX = fine.maxY = 0.3L;
  fine.WriteDoc();
  EXPECT_EQ("0.1", fine.Resolution);
}

TEST_F(Idrisi, DocumentationThatCannotBeWrittenRaisesAnError) {
  tRaster r;
  r.FileName = Name("missing/folder/map");
  const std::string message = MessageOf<EInOutError>([&] { r.WriteDoc(); });
  EXPECT_TRUE(Contains(message, Name("missing/folder/map.rdc"))) << message;
}

TEST_F(Idrisi, NumbersFollowTheDecimalSeparatorAndReadEither) {
  tUserSeparatorGuard comma(',');
  tRaster r;
  r.FileName = Name("comma");
  r.Columns = r.Rows = 1;
  r.maxX = 12.5L;
  r.MaxValue = 0.75f;
  r.WriteDoc();
  const std::string text = ReadFileBytes(Name("comma.rdc"));
  EXPECT_TRUE(Contains(text, "max. X      : 12,5\r\n"));
  EXPECT_TRUE(Contains(text, "max. value  : 0,75\r\n"));
  EXPECT_EQ(12.5L, tRaster(Name("comma")).maxX);
  WriteFileBytes(Name("point.rdc"), "data type   : real\ncolumns     : 1\nrows        : 1\nmax. X      : 7.25\n");
  EXPECT_EQ(7.25L, tRaster(Name("point")).maxX);
}

// Under the locale of a user whose decimal separator is the comma (LC_NUMERIC set as
// the window library sets it) the documentation is written and read as under "C":
// its numbers carry the user's separator, whatever the C library's locale.
TEST_F(Idrisi, DocumentationIsTheSameUnderEveryLocale) {
  for (const char separator : {'.', ','}) {
    SCOPED_TRACE(separator);
    tUserSeparatorGuard user(separator);
    const auto written = testsupport::UnderEachLocale([&] {
      tRaster r;
      r.FileName = Name("locale");
      r.Columns = 3;
      r.Rows = 7;
      r.minX = -0.1L;
      r.maxX = 12.5L;
      r.maxY = 1e-20L;
      r.MinValue = 0.1f;
      r.MaxValue = 1.0f / 3;
      r.BackGround = bsChecked;
      r.BackGroundValue = -9999.5f;
      r.WriteDoc();
      const tRaster back(Name("locale"));
      return std::make_tuple(ReadFileBytes(Name("locale.rdc")), back.minX, back.maxY, back.MinValue,
                             back.MaxValue, back.BackGroundValue, back.Resolution);
    });
    for (const auto& under : written) {
      ASSERT_TRUE(under.Set) << testsupport::tNumericLocale::Missing(under.Locale);
      EXPECT_EQ(under.Result, written.front().Result) << under.Locale;
    }
    const std::string point = separator == ',' ? "," : ".";
    const std::string text = std::get<0>(written.front().Result);
    for (const std::string& line :
         {"min. X      : -0" + point + "1\r\n", std::string("max. Y      : 1E-20\r\n"),
          "min. value  : 0" + point + "1\r\n", "max. value  : 0" + point + "33333334\r\n",
          "flag value  : -9999" + point + "5\r\n", "resolution  : 2" + point + "1\r\n"})
      EXPECT_TRUE(Contains(text, line)) << line << " in\n" << text;
    EXPECT_EQ(std::get<1>(written.front().Result), static_cast<Extended>(-0.1));  // read as a double
    EXPECT_EQ(std::get<3>(written.front().Result), 0.1f);
    EXPECT_EQ(std::get<4>(written.front().Result), 1.0f / 3);
  }
}

TEST_F(Idrisi, BadDocumentationRaisesErrorsNamingTheFile) {
  const std::string base = "data type   : byte\ncolumns     : 3\nrows        : 2\n";
  struct tCase {
    std::string Text;
    const char* Expected;  // a part of the message beside the file name
    bool Conversion;       // a conversion error rather than an input/output error
  } const cases[] = {
      {base + "min. X      : 1O5.5\n", "line 4: '1O5.5'", true},
      {base + "max. value  : \n", "line 4", true},
      {base + "flag value  : n/a\n", "line 4: 'n/a'", true},
      {"data type   : byte\ncolumns     : 3x\nrows        : 2\n", "line 2: '3x' is not a valid integer", true},
      {"data type   : byte\ncolumns     : 99999999999\nrows        : 2\n", "line 2", true},
      {base + "legend cats : many\n", "line 4", true},
      {"data type   : byte\ncolumns     : -3\nrows        : 2\n", "line 2: a map needs at least one column, not -3",
       false},
      {"data type   : byte\ncolumns     : 3\nrows        : 0\n", "line 3: a map needs at least one row, not 0", false},
      {"columns     : 3\nrows        : 2\n", "has no line \"data type   :\"", false},
      {"data type   : byte\nrows        : 2\n", "has no line \"columns     :\"", false},
      {"data type   : byte\ncolumns     : 3\n", "has no line \"rows        :\"", false},
      {"", "has no line", false},
      {std::string("\0\0\xFF\xFE garbage\n", 13), "has no line", false},
  };
  for (const auto& c : cases) {
    WriteFileBytes(Name("bad.rdc"), c.Text);
    const std::string message = c.Conversion ? MessageOf<EConvertError>([&] { tRaster r(Name("bad.rst")); })
                                             : MessageOf<EInOutError>([&] { tRaster r(Name("bad.rst")); });
    EXPECT_TRUE(Contains(message, Name("bad.rdc"))) << message;
    EXPECT_TRUE(Contains(message, c.Expected)) << message;
  }
}

// ---------------------------------------------------------------- the format's other programs

// A reader of the published documentation format, as strict as GIS software is
// about the keys: every line in its place, keys spelled exactly on 14 characters,
// numbers that a C-locale parser reads whole, and an image file exactly as long as
// the documentation says.
struct tGisMap {
  std::string DataType;
  int Columns = 0;
  int Rows = 0;
  double MinX = 0, MaxX = 0, MinY = 0, MaxY = 0, Resolution = 0, MinValue = 0, MaxValue = 0;
  std::optional<double> Flag;
  std::string FlagDefinition;
  std::vector<std::string> Categories;
  std::map<std::string, std::vector<std::string>> Notes;
  std::vector<double> Cells;
};

double StrictNumber(const std::string& text) {
  std::istringstream in(text);
  in.imbue(std::locale::classic());
  double v;
  in >> v;
  if (!in || !(in >> std::ws).eof()) throw std::runtime_error("not a number: '" + text + "'");
  return v;
}

int StrictInteger(const std::string& text) {
  const double v = StrictNumber(text);
  if (v != std::floor(v)) throw std::runtime_error("not an integer: '" + text + "'");
  return static_cast<int>(v);
}

tGisMap ReadAsGisSoftware(const std::string& docFile, const std::string& imageFile) {
  static const char* const Keys[] = {
      "file format ", "file title  ", "data type   ", "file type   ", "columns     ", "rows        ",
      "ref. system ", "ref. units  ", "unit dist.  ", "min. X      ", "max. X      ", "min. Y      ",
      "max. Y      ", "pos'n error ", "resolution  ", "min. value  ", "max. value  ", "display min ",
      "display max ", "value units ", "value error ", "flag value  ", "flag def'n  ", "legend cats "};
  std::vector<std::string> lines;
  std::istringstream in(ReadFileBytes(docFile));
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line.back() != '\r') throw std::runtime_error("line without CR LF: " + line);
    line.pop_back();
    if (line.size() < 14 || line.compare(12, 2, ": ") != 0) throw std::runtime_error("bad key: " + line);
    lines.push_back(line);
  }
  if (lines.size() < std::size(Keys)) throw std::runtime_error("too few lines");
  std::map<std::string, std::string> v;
  for (size_t i = 0; i < std::size(Keys); ++i) {
    if (lines[i].substr(0, 12) != Keys[i]) throw std::runtime_error("expected key " + std::string(Keys[i]));
    v[Keys[i]] = lines[i].substr(14);
  }
  if (v["file format "] != "IDRISI Raster A.1") throw std::runtime_error("format");
  if (v["file type   "] != "binary") throw std::runtime_error("file type");
  tGisMap m;
  m.DataType = v["data type   "];
  const size_t width = m.DataType == "byte" ? 1 : m.DataType == "integer" ? 2 : m.DataType == "real" ? 4 : 0;
  if (width == 0) throw std::runtime_error("data type " + m.DataType);
  m.Columns = StrictInteger(v["columns     "]);
  m.Rows = StrictInteger(v["rows        "]);
  m.MinX = StrictNumber(v["min. X      "]);
  m.MaxX = StrictNumber(v["max. X      "]);
  m.MinY = StrictNumber(v["min. Y      "]);
  m.MaxY = StrictNumber(v["max. Y      "]);
  StrictNumber(v["unit dist.  "]);
  m.Resolution = StrictNumber(v["resolution  "]);
  m.MinValue = StrictNumber(v["min. value  "]);
  m.MaxValue = StrictNumber(v["max. value  "]);
  StrictNumber(v["display min "]);
  StrictNumber(v["display max "]);
  if (v["flag value  "] != "none") m.Flag = StrictNumber(v["flag value  "]);
  m.FlagDefinition = v["flag def'n  "];
  if (m.FlagDefinition != "none" && m.FlagDefinition != "missing data" && m.FlagDefinition != "background" &&
      m.FlagDefinition != "no background")
    throw std::runtime_error("flag def'n");
  const int legend = StrictInteger(v["legend cats "]);
  size_t i = std::size(Keys);
  for (int k = 0; k < legend; ++k, ++i) {
    if (i >= lines.size() || lines[i].compare(0, 4, "code") != 0) throw std::runtime_error("category line");
    m.Categories.push_back(lines[i]);
  }
  for (; i < lines.size(); ++i) {
    const std::string key = lines[i].substr(0, 12);
    if (key != "comment     " && key != "lineage     " && key != "completeness" && key != "consistency ")
      throw std::runtime_error("unexpected line: " + lines[i]);
    m.Notes[key].push_back(lines[i].substr(14));
  }
  const auto bytes = ReadBytes(imageFile);
  if (bytes.size() != width * m.Columns * m.Rows) throw std::runtime_error("image size");
  m.Cells = Decode(width == 1 ? idtByte : width == 2 ? idtInteger : idtReal, bytes);
  return m;
}

TEST_F(Idrisi, MapsWrittenHereReadAsTheFormatDefines) {
  struct tCase {
    TGISDataType Type;
    std::vector<double> Cells;
    const char* TypeName;
  } const cases[] = {
      {idtByte, {0, 1, 254, 255, 17, 3}, "byte"},
      {idtInteger, {-32768, 32767, -1, 0, 1000, -9999}, "integer"},
      {idtReal, {-3.5, 0.1f, 1e-30f, 3.4e38f, -9999, 42}, "real"},
  };
  for (const auto& c : cases) {
    tRaster map = WrittenMap("export", c.Type, 3, 2, c.Cells);
    map.minX = 500000;
    map.maxX = 500090;
    map.minY = 4000000;
    map.maxY = 4000060;
    map.RefSystem = "utm-30n";
    map.RefUnits = "m";
    map.BackGround = bsChecked;
    map.BackGroundValue = -9999;
    if (c.Type == idtByte) map.BackGroundValue = 255;
    map.Recompute();
    map.Category = {"code      1 : forest"};
    map.Lineage = {"Written by a test"};
    map.Resolution = "";
    map.WriteDoc();
    tGisMap gis;
    ASSERT_NO_THROW(gis = ReadAsGisSoftware(Name("export.rdc"), Name("export.rst"))) << c.TypeName;
    EXPECT_EQ(c.TypeName, gis.DataType);
    EXPECT_EQ(3, gis.Columns);
    EXPECT_EQ(2, gis.Rows);
    EXPECT_EQ(500000, gis.MinX);
    EXPECT_EQ(500090, gis.MaxX);
    EXPECT_EQ(4000000, gis.MinY);
    EXPECT_EQ(4000060, gis.MaxY);
    EXPECT_EQ(30, gis.Resolution);
    ASSERT_TRUE(gis.Flag.has_value());
    EXPECT_EQ(c.Type == idtByte ? 255 : -9999, *gis.Flag);
    EXPECT_EQ("background", gis.FlagDefinition);
    EXPECT_EQ(std::vector<std::string>{"code      1 : forest"}, gis.Categories);
    EXPECT_EQ(std::vector<std::string>{"Written by a test"}, gis.Notes["lineage     "]);
    std::vector<double> expected;
    for (double x : c.Cells) expected.push_back(static_cast<float>(x));
    EXPECT_EQ(expected, gis.Cells);
    // The value range leaves out the flagged cells.
    double lowest = 1e300, highest = -1e300;
    for (double x : expected)
      if (x != *gis.Flag) lowest = std::min(lowest, x), highest = std::max(highest, x);
    EXPECT_EQ(static_cast<float>(lowest), static_cast<float>(gis.MinValue));
    EXPECT_EQ(static_cast<float>(highest), static_cast<float>(gis.MaxValue));
  }
}

TEST_F(Idrisi, MapsWrittenByOtherProgramsAreReadHere) {
  const std::string tail =
      "code      1 : Forest\r\ncode      2 : Meadow\r\nlineage     : Reclassified from landcover 1998\r\n"
      "comment     : Surveyed in spring\r\ncompleteness: full\r\n";
  WriteFileBytes(Name("landcover.rdc"), ReplaceOnce(PublishedDoc("integer", 4, 3, "-9999", "missing data", tail),
                                               "legend cats : 0", "legend cats : 2"));
  const std::vector<double> cells = {1, 2, 2, 1, -9999, 1, 2, 2, 300, -300, 2, 1};
  WriteBytes(Name("landcover.rst"), Encode(idtInteger, cells));

  tRaster r(Name("landcover.rst"));
  EXPECT_EQ("IDRISI Raster A.1", r.FileFormat);
  EXPECT_EQ("Hand-made test map", r.FileTitle);
  EXPECT_EQ(idtInteger, r.DataType);
  EXPECT_EQ(iftBinary, r.FileType);
  EXPECT_EQ(4, r.Columns);
  EXPECT_EQ(3, r.Rows);
  EXPECT_EQ("utm-30n", r.RefSystem);
  EXPECT_EQ(utMeters, r.UnitType);
  EXPECT_EQ(500000, r.minX);
  EXPECT_EQ(500120, r.maxX);
  EXPECT_EQ(4000000, r.minY);
  EXPECT_EQ(4000090, r.maxY);
  EXPECT_EQ(30, r.ResolutionX);
  EXPECT_EQ(30, r.ResolutionY);
  EXPECT_EQ("30.0000000", r.Resolution);
  EXPECT_EQ(bsChecked, r.BackGround);
  EXPECT_EQ(-9999, r.BackGroundValue);
  EXPECT_EQ(2, r.LegendCats);
  EXPECT_EQ((tVectorOfString{"code      1 : Forest", "code      2 : Meadow"}), r.Category);
  EXPECT_EQ(tVectorOfString{"Reclassified from landcover 1998"}, r.Lineage);
  EXPECT_EQ(tVectorOfString{"Surveyed in spring"}, r.Comment);
  EXPECT_EQ(tVectorOfString{"full"}, r.Completeness);

  const tMatrixOfDouble m = r.AsMatrix();
  ASSERT_EQ(3u, m.size());
  for (int row = 0; row < 3; ++row)
    for (int col = 0; col < 4; ++col) EXPECT_EQ(cells[row * 4 + col], m[row][col]);
  EXPECT_EQ(-300, r.GetCells(2, 1));
  r.Recompute();
  EXPECT_EQ(-300, r.MinValue);
  EXPECT_EQ(300, r.MaxValue);

  // Read and written back, categories, lineage and notes are all kept.
  r.Lineage.push_back("Checked");
  r.WriteDoc();
  const tGisMap gis = ReadAsGisSoftware(Name("landcover.rdc"), Name("landcover.rst"));
  EXPECT_EQ(2u, gis.Categories.size());
  EXPECT_EQ((std::vector<std::string>{"Reclassified from landcover 1998", "Checked"}), gis.Notes.at("lineage     "));
  EXPECT_EQ(std::vector<std::string>{"Surveyed in spring"}, gis.Notes.at("comment     "));
  EXPECT_EQ(-9999, *gis.Flag);
}

TEST_F(Idrisi, HandMadeByteAndRealMapsUnderBothConventions) {
  for (const auto version : {ivIdrisi32, ivIdrisi16}) {
    ChangeIdrisiVersion(version);
    const std::vector<double> bytes = {0, 255, 128, 7};
    const std::string b = HandMadeMap("b", idtByte, 2, 2, bytes);
    EXPECT_EQ((tMatrixOfDouble{{0, 255}, {128, 7}}), tRaster(b + ImageExtension).AsMatrix());
    const std::vector<double> reals = {-1.5, 0.25, 1e20, -1e-20, 3, 4};
    const std::string r = HandMadeMap("r", idtReal, 3, 2, reals);
    const tMatrixOfSingle m = tRaster(r).AsMatrixOfSingle();
    EXPECT_EQ((tMatrixOfSingle{{-1.5f, 0.25f, 1e20f}, {-1e-20f, 3, 4}}), m);
  }
}

// ---------------------------------------------------------------- block access

TEST_F(Idrisi, WrittenCellsAreStoredAsLittleEndianRecords) {
  struct tCase {
    TGISDataType Type;
    std::vector<double> Written;
    std::vector<double> Stored;
  } const cases[] = {
      // Halves go to the even neighbour; only the low-order bits are kept.
      // Moderate values only, and the same with large values in the block.
      {idtInteger, {2.5, 3.5, -2.5, -3.5, 0.49, 40000, -40000, 65536 + 7}, {2, 4, -2, -4, 0, 40000 - 65536, 65536 - 40000, 7}},
      {idtInteger,
       {2.5, 3.5, -2.5, 0.49, 40000, -40000, 65536 + 7, 4194304.5, 4194305.5, -4194305.5, 3e9},
       {2, 4, -2, 0, 40000 - 65536, 65536 - 40000, 7, 0, 2, -2, 0x5E00}},
      {idtByte, {300, -1, 256, 255.5, 254.5, 0.5, 1.5, -0.5, -1.5}, {44, 255, 0, 0, 254, 0, 2, 0, 254}},
      {idtByte, {300, -1, 256, 255.5, 254.5, 0.5, 1.5, 8388607.5, 3e9, -3e9}, {44, 255, 0, 0, 254, 0, 2, 0, 0, 0}},
      {idtReal, {2.5, -0.1, 1e38, -3.4e38}, {2.5, static_cast<float>(-0.1), 1e38f, -3.4e38f}},
  };
  for (const auto version : {ivIdrisi32, ivIdrisi16}) {
    ChangeIdrisiVersion(version);
    for (const auto& c : cases) {
      WrittenMap("cells", c.Type, static_cast<int>(c.Written.size()), 1, c.Written);
      const auto bytes = ReadBytes(Name("cells") + ImageExtension);
      EXPECT_EQ(c.Written.size() * static_cast<size_t>(c.Type), bytes.size());
      std::vector<double> expected;
      for (double x : c.Stored) expected.push_back(static_cast<float>(x));
      EXPECT_EQ(expected, Decode(c.Type, bytes)) << GISDataTypeName(c.Type);
      // And read back through the block reader.
      tRaster back(Name("cells"));
      EXPECT_EQ(c.Type, back.DataType);
      TIdrisiFile F;
      back.OpenR(F);
      std::vector<double> read;
      while (!F.eof) {
        Single v = 0;
        ReadRaster(F, v);
        read.push_back(v);
      }
      CloseRaster(F);
      EXPECT_EQ(expected, read);
    }
  }
}

TEST_F(Idrisi, BlockBoundaries) {
  for (const Integer cells : {BufferSize - 1, BufferSize, BufferSize + 1, 2 * BufferSize + 3}) {
    std::vector<double> values(static_cast<size_t>(cells));
    for (Integer i = 0; i < cells; ++i) values[i] = static_cast<double>((Int64{i} * 7919) % 32768);
    HandMadeMap("block", idtInteger, cells, 1, values);
    tRaster r(Name("block"));
    TIdrisiFile F;
    r.OpenR(F);
    EXPECT_FALSE(F.eof);
    Integer n = 0;
    bool inOrder = true;
    while (!F.eof) {
      Single v = 0;
      ReadRaster(F, v);
      if (n < cells && v != values[n]) inOrder = false;
      ++n;
      // The end flag goes up on the last cell of the map, not before.
      if (n < cells && F.eof) break;
    }
    EXPECT_EQ(cells, n);
    EXPECT_TRUE(inOrder);
    // Past the end nothing more is handed out.
    Single after = -1;
    EXPECT_FALSE(ReadRaster(F, after));
    EXPECT_EQ(-1, after);
    EXPECT_TRUE(F.eof);
    CloseRaster(F);
  }
}

TEST_F(Idrisi, BlockOfExactlyBufferSizeCells) {
  std::vector<double> values(BufferSize);
  for (Integer i = 0; i < BufferSize; ++i) values[i] = i % 251;
  HandMadeMap("exact", idtByte, 1000, 1024, values);
  tRaster r(Name("exact"));
  TIdrisiFile F;
  r.OpenR(F);
  Single v = 0;
  for (Integer i = 0; i < BufferSize - 1; ++i) ReadRaster(F, v);
  // The whole map sits in one block: the last cell remains, and ends the map.
  EXPECT_EQ(1u, F.lu);
  EXPECT_FALSE(F.eof);
  ReadRaster(F, v);
  EXPECT_EQ((BufferSize - 1) % 251, v);
  EXPECT_TRUE(F.eof);
  CloseRaster(F);

  values.push_back(99);
  HandMadeMap("exact", idtByte, 1, BufferSize + 1, values);
  tRaster r2(Name("exact"));
  r2.OpenR(F);
  for (Integer i = 0; i < BufferSize; ++i) ReadRaster(F, v);
  EXPECT_FALSE(F.eof);
  EXPECT_EQ(0u, F.lu);
  ReadRaster(F, v);  // the second block holds one cell
  EXPECT_EQ(99, v);
  EXPECT_TRUE(F.eof);
  CloseRaster(F);
}

TEST_F(Idrisi, WriterFlushesFullAndPartialBlocks) {
  for (const Integer cells : {BufferSize, BufferSize + 1}) {
    std::vector<double> values(static_cast<size_t>(cells));
    for (Integer i = 0; i < cells; ++i) values[i] = static_cast<float>(i) * 0.5f;
    tRaster map;
    map.FileName = Name("w");
    map.DataType = idtReal;
    TIdrisiFile F;
    map.OpenW(F);
    for (Integer i = 0; i < cells; ++i) {
      WriteRaster(F, static_cast<Single>(values[i]));
      if (i == BufferSize - 1) {
        EXPECT_EQ(0u, F.lu);  // the full block went to the file
        EXPECT_EQ(static_cast<uintmax_t>(BufferSize) * 4, std::filesystem::file_size(Name("w.rst")));
      }
    }
    CloseIdrisiFile(F);
    EXPECT_FALSE(F.Tmp);
    EXPECT_EQ(values, Decode(idtReal, ReadBytes(Name("w.rst"))));
  }
}

TEST_F(Idrisi, MissingCellsFollowTheFlagDefinition) {
  struct tCase {
    const char* FlagValue;
    const char* Definition;
    std::vector<bool> Present;
  } const cases[] = {
      {"0", "background", {false, true, false, true}},
      {"0", "missing data", {false, true, false, true}},
      {"0", "none", {true, true, true, true}},
      {"0", "no background", {true, true, true, true}},
      {"5", "background", {true, false, true, true}},
  };
  const std::vector<double> cells = {0, 5, 0, 255};
  for (const auto& c : cases) {
    HandMadeMap("flags", idtByte, 2, 2, cells, c.FlagValue, c.Definition);
    tRaster r(Name("flags"));
    TIdrisiFile F;
    r.OpenR(F);
    std::vector<bool> present;
    std::vector<double> delivered;
    while (!F.eof) {
      Single v = 0;
      present.push_back(ReadRaster(F, v));
      delivered.push_back(v);
    }
    CloseRaster(F);
    EXPECT_EQ(c.Present, present) << c.FlagValue << " " << c.Definition;
    EXPECT_EQ(cells, delivered);
  }
}

TEST_F(Idrisi, RealMapWithFractionalFlagKeepsItsMissingCells) {
  HandMadeMap("frac", idtReal, 3, 1, {-0.5, 1, -0.5}, "-0.5", "background");
  tRaster r(Name("frac"));
  r.Recompute();
  EXPECT_EQ(1, r.MinValue);
  EXPECT_EQ(1, r.MaxValue);
  EXPECT_DOUBLE_EQ(1.0, r.GetMean());
  HandMadeMap("low", idtReal, 3, 1, {-3.4e38, 2, 4}, "-3.4e38", "background");
  EXPECT_DOUBLE_EQ(3.0, tRaster(Name("low")).GetMean());
}

TEST_F(Idrisi, ValuesWithoutAnIntegerCannotBeWrittenToWholeNumberMaps) {
  const Single bad[] = {std::numeric_limits<Single>::quiet_NaN(), std::numeric_limits<Single>::infinity(),
                        -std::numeric_limits<Single>::infinity(), 1e30f};
  for (const auto type : {idtByte, idtInteger}) {
    for (const Single value : bad) {
      tRaster map;
      map.FileName = Name("nan");
      map.DataType = type;
      TIdrisiFile F;
      map.OpenW(F);
      WriteRaster(F, 1);
      WriteRaster(F, value);
      const std::string message = MessageOf<EInvalidOp>([&] { CloseRaster(F); });
      EXPECT_TRUE(Contains(message, Name("nan.rst"))) << message;
      EXPECT_TRUE(Contains(message, "cell 1 ")) << message;
      // Closed and freed all the same.
      EXPECT_FALSE(F.Tmp);
      EXPECT_FALSE(F.F.IsOpen());
    }
  }
  // Real maps take them as they are.
  WrittenMap("nanreal", idtReal, 2, 1, {std::nan(""), INFINITY});
  const auto stored = Decode(idtReal, ReadBytes(Name("nanreal.rst")));
  EXPECT_TRUE(std::isnan(stored[0]));
  EXPECT_TRUE(std::isinf(stored[1]));
}

TEST_F(Idrisi, ValueWithoutAnIntegerInAFullBlockIsRefusedToo) {
  tRaster map;
  map.FileName = Name("block");
  map.DataType = idtInteger;
  TIdrisiFile F;
  map.OpenW(F);
  for (Integer i = 0; i < BufferSize - 1; ++i) WriteRaster(F, 1);
  const std::string message =
      MessageOf<EInvalidOp>([&] { WriteRaster(F, std::numeric_limits<Single>::quiet_NaN()); });
  EXPECT_TRUE(Contains(message, Format("cell %d ", BufferSize - 1))) << message;
  CloseRaster(F);
}

TEST_F(Idrisi, RecordsUsedWrongWayRoundFailWithoutHarm) {
  HandMadeMap("m", idtByte, 2, 1, {1, 2});
  tRaster r(Name("m"));
  TIdrisiFile F;
  Single v = 7;
  EXPECT_FALSE(ReadRaster(F, v));  // never opened
  EXPECT_TRUE(F.eof);
  EXPECT_THROW(WriteRaster(F, 1), EInvalidOperation);
  r.OpenR(F);
  EXPECT_THROW(WriteRaster(F, 1), EInvalidOperation);
  CloseRaster(F);
  tRaster target;
  target.FileName = Name("target");
  target.OpenW(F);
  WriteRaster(F, 5);
  EXPECT_THROW(ReadRaster(F, v), EInvalidOperation);
  EXPECT_THROW(ForEachCell(F, [](Single, bool) {}), EInvalidOperation);
  EXPECT_THROW(ForEachBlock(F, [](const Single*, Cardinal) {}), EInvalidOperation);
  CloseRaster(F);
  EXPECT_FALSE(ReadRaster(F, v));  // closed
  EXPECT_EQ(7, v);
  CloseRaster(F);  // twice is harmless
  // A record reused for another map starts afresh.
  r.OpenR(F);
  ReadRaster(F, v);
  r.OpenR(F);
  ReadRaster(F, v);
  EXPECT_EQ(1, v);
  CloseRaster(F);
}

TEST_F(Idrisi, MapWithoutCellsEndsAtOnce) {
  tRaster r;
  r.FileName = Name("empty");
  r.DataType = idtReal;
  WriteBytes(Name("empty.rst"), {});
  TIdrisiFile F;
  r.OpenR(F);
  EXPECT_TRUE(F.eof);
  Single v = 3;
  EXPECT_FALSE(ReadRaster(F, v));
  EXPECT_EQ(3, v);
  CloseRaster(F);
  EXPECT_TRUE(r.AsMatrix().empty());
}

TEST_F(Idrisi, LongerImageFileHandsOutOnlyTheMapsCells) {
  HandMadeMap("long", idtByte, 2, 1, {4, 5, 6, 7});
  tRaster r(Name("long"));
  TIdrisiFile F;
  r.OpenR(F);
  std::vector<double> read;
  while (!F.eof) {
    Single v = 0;
    ReadRaster(F, v);
    read.push_back(v);
  }
  CloseRaster(F);
  EXPECT_EQ((std::vector<double>{4, 5}), read);
}

// A byte map takes eight bytes a cell as a matrix of doubles, four as one of
// singles: the room it needs is that of the matrix, not of the file. 100 rows of
// 100 cells and a row vector each: 82,400 bytes as doubles, 42,400 as singles.
TEST_F(Idrisi, AWholeMapBeyondTheMemoryLeftIsRefusedNamingTheImageFile) {
  HandMadeMap("wide", idtByte, 100, 100, std::vector<double>(10000, 7));
  const tRaster map(Name("wide"));
  {
    const testsupport::tFakeMemory memory(82399);
    EXPECT_EQ(MessageOf<EInOutError>([&] { map.AsMatrix(); }),
              "Not enough memory to read file \"" + Name("wide.rst") + "\"");
    EXPECT_EQ(map.AsMatrixOfSingle(), tMatrixOfSingle(100, tVectorOfSingle(100, 7)));
  }
  const testsupport::tFakeMemory memory(82400);
  EXPECT_EQ(map.AsMatrix(), tMatrixOfDouble(100, tVectorOfDouble(100, 7)));
}

TEST_F(Idrisi, BadImageFilesRaiseErrorsNamingTheFile) {
  // Shorter than the documentation promises: refused before any cell is handed out.
  HandMadeMap("short", idtInteger, 3, 2, {1, 2, 3, 4, 5});
  tRaster shortMap(Name("short"));
  std::string message = MessageOf<EInOutError>([&] { shortMap.AsMatrix(); });
  EXPECT_TRUE(Contains(message, Name("short.rst"))) << message;
  EXPECT_TRUE(Contains(message, "holds 5 cells, fewer than the 2 x 3 = 6")) << message;
  EXPECT_THROW(shortMap.Recompute(), EInOutError);
  EXPECT_THROW(shortMap.GetMean(), EInOutError);
  EXPECT_THROW(RasterToMatrix(Name("short")), EInOutError);

  // Absurd sizes: nothing is allocated for the cells the documentation claims.
  WriteFileBytes(Name("huge.rdc"), PublishedDoc("real", 2000000000, 2000000000));
  WriteBytes(Name("huge.rst"), Encode(idtReal, {1, 2, 3}));
  tRaster huge(Name("huge"));
  message = MessageOf<EInOutError>([&] { huge.AsMatrixOfSingle(); });
  EXPECT_TRUE(Contains(message, Name("huge.rst"))) << message;
  WriteBytes(Name("huge.rst"), {});
  EXPECT_THROW(huge.Recompute(), EInOutError);

  // An image file that cannot be opened, in both programs' rules.
  for (const auto variant : {tToolkitVariant::tvMainProgram, tToolkitVariant::tvMapFileManager}) {
    SetToolkitVariant(variant);
    WriteFileBytes(Name("noimage.rdc"), PublishedDoc("byte", 2, 2));
    tRaster noImage(Name("noimage"));
    message = MessageOf<EInOutError>([&] { noImage.AsMatrix(); });
    EXPECT_TRUE(Contains(message, Name("noimage.rst"))) << message;
    TIdrisiFile F;
    EXPECT_THROW(noImage.OpenR(F), EInOutError);
    EXPECT_FALSE(F.F.IsOpen());
  }
  SetToolkitVariant(tToolkitVariant::tvMainProgram);

  // An unknown cell type fails on the first block with the corruption message.
  for (const char* type : {"dummy", "rgb24"}) {
    WriteFileBytes(Name("odd.rdc"), PublishedDoc(type, 2, 2));
    WriteBytes(Name("odd.rst"), std::vector<Byte>(12, 1));
    tRaster odd(Name("odd"));
    TIdrisiFile F;
    odd.OpenR(F);
    Single v = 0;
    message = MessageOf<EInOutError>([&] { ReadRaster(F, v); });
    EXPECT_EQ(0u, message.find("Guru's meditation\r\nA strange error occured : bad type in ReadIdrisi function. "
                               "Perhaps is the file corrupt ?"))
        << message;
    EXPECT_TRUE(Contains(message, Name("odd.rst"))) << message;
    EXPECT_TRUE(F.eof);  // a loop over the map ends
    CloseRaster(F);
    EXPECT_THROW(odd.AsMatrix(), EInOutError);
    EXPECT_THROW(odd.GetCells(0, 0), EInOutError);
    EXPECT_THROW(odd.OpenW(F), EInOutError);
  }

  // Text image files are not read as binary.
  WriteFileBytes(Name("text.rdc"), ReplaceOnce(PublishedDoc("byte", 2, 1), "binary", "ascii"));
  WriteFileBytes(Name("text.rst"), "1 2\n");
  message = MessageOf<EInOutError>([&] { tRaster(Name("text")).AsMatrix(); });
  EXPECT_TRUE(Contains(message, "\"ascii\"")) << message;
  EXPECT_TRUE(Contains(message, Name("text.rst"))) << message;
}

TEST_F(Idrisi, WritingErrorsAreReported) {
  if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  std::filesystem::create_symlink("/dev/full", Name("full.rst"));
  tRaster map;
  map.FileName = Name("full");
  map.DataType = idtByte;
  TIdrisiFile F;
  map.OpenW(F);
  for (int i = 0; i < 10; ++i) WriteRaster(F, 1);
  EXPECT_EQ(Format("Writing error while closing. Last data may be missing. (%s)", Name("full.rst")),
            MessageOf<EInOutError>([&] { CloseRaster(F); }));
  EXPECT_FALSE(F.Tmp);
  map.OpenW(F);
  std::string message;
  try {
    for (Integer i = 0; i < BufferSize; ++i) WriteRaster(F, 1);
  } catch (const EInOutError& e) {
    message = e.Message();
  }
  EXPECT_TRUE(Contains(message, Name("full.rst"))) << message;
  CloseRaster(F);

  // A folder that does not exist.
  map.FileName = Name("no/such/folder/map");
  EXPECT_THROW(map.OpenW(F), EInOutError);
}

TEST_F(Idrisi, BlockwisePassesSeeEveryCellInOrder) {
  const Integer cells = 2 * BufferSize + 5;
  std::vector<double> values(static_cast<size_t>(cells));
  for (Integer i = 0; i < cells; ++i) values[i] = static_cast<double>((Int64{i} * 31) % 251);
  HandMadeMap("pass", idtByte, cells, 1, values, "0", "background");
  tRaster r(Name("pass"));
  // Cell by cell, starting after a few cells read one at a time.
  TIdrisiFile F;
  r.OpenR(F);
  std::vector<double> seen;
  std::vector<bool> present;
  for (int i = 0; i < 3; ++i) {
    Single v = 0;
    present.push_back(ReadRaster(F, v));
    seen.push_back(v);
  }
  ForEachCell(F, [&](Single v, bool p) {
    seen.push_back(v);
    present.push_back(p);
  });
  EXPECT_TRUE(F.eof);
  CloseRaster(F);
  EXPECT_EQ(values, seen);
  for (size_t i = 0; i < values.size(); ++i) ASSERT_EQ(values[i] != 0, present[i]) << i;
  // Block by block: three blocks of the buffer's size at most.
  r.OpenR(F);
  std::vector<Cardinal> sizes;
  seen.clear();
  ForEachBlock(F, [&](const Single* block, Cardinal count) {
    sizes.push_back(count);
    seen.insert(seen.end(), block, block + count);
  });
  CloseRaster(F);
  EXPECT_EQ((std::vector<Cardinal>{BufferSize, BufferSize, 5}), sizes);
  EXPECT_EQ(values, seen);
}

TEST_F(Idrisi, CopyCellsConvertsAcrossUnalignedBlocks) {
  const Integer cells = BufferSize + 10;
  std::vector<double> values(static_cast<size_t>(cells));
  for (Integer i = 0; i < cells; ++i) values[i] = i % 7 == 0 ? -1 : 0.5 * (i % 1000);
  HandMadeMap("source", idtReal, cells, 1, values, "-1", "background");
  tRaster source(Name("source"));
  tRaster target;
  target.FileName = Name("target");
  target.DataType = idtInteger;
  TIdrisiFile in, out;
  source.OpenR(in);
  target.OpenW(out);
  // Three cells written one by one first, so that the blocks of the two files no
  // longer line up.
  for (int i = 0; i < 3; ++i) WriteRaster(out, 7);
  CopyCells(in, out, [](Single v, bool present) { return present ? v : Single{-9999}; });
  EXPECT_TRUE(in.eof);
  CloseRaster(in);
  CloseRaster(out);
  std::vector<double> expected = {7, 7, 7};
  for (double v : values) {
    // Halves to the even neighbour.
    const double whole = v == -1 ? -9999 : std::nearbyint(v);
    expected.push_back(whole);
  }
  EXPECT_EQ(expected, Decode(idtInteger, ReadBytes(Name("target.rst"))));
  // Into a record that is not open for writing: refused.
  source.OpenR(in);
  TIdrisiFile closed;
  EXPECT_THROW(CopyCells(in, closed, [](Single v, bool) { return v; }), EInvalidOperation);
  CloseRaster(in);
}

// ---------------------------------------------------------------- whole maps and single cells

TEST_F(Idrisi, MatrixHoldsRowsOfTheImageInOrder) {
  const std::vector<double> cells = {1, 2, 3, 4, 5, 6};
  HandMadeMap("m", idtReal, 3, 2, cells, "2", "background");
  // Missing cells keep their stored value.
  EXPECT_EQ((tMatrixOfDouble{{1, 2, 3}, {4, 5, 6}}), tRaster(Name("m")).AsMatrix());
  EXPECT_EQ((tMatrixOfSingle{{1, 2, 3}, {4, 5, 6}}), tRaster(Name("m")).AsMatrixOfSingle());
  EXPECT_EQ((tMatrixOfDouble{{1, 2, 3}, {4, 5, 6}}), RasterToMatrix(Name("m.rst")));
}

TEST_F(Idrisi, SingleCellsByCoordinates) {
  const std::vector<double> cells = {10, 11, 12, 13, 14, 15};
  HandMadeMap("c", idtInteger, 3, 2, cells);
  tRaster r(Name("c"));
  EXPECT_TRUE(r.CellInRange(1, 2));
  EXPECT_FALSE(r.CellInRange(2, 0));
  EXPECT_FALSE(r.CellInRange(0, 3));
  EXPECT_FALSE(r.CellInRange(-1, 0));
  EXPECT_EQ(15, r.GetCells(1, 2));
  EXPECT_EQ(13, r.GetCells(1, 0));
  EXPECT_EQ(11, r.Offset(1));
  const char* const coordinates = "Coordinates must be between 0 and number of columns or rows.";
  EXPECT_EQ(coordinates, MessageOf<ERangeError>([&] { r.GetCells(2, 0); }));
  EXPECT_EQ(coordinates, MessageOf<ERangeError>([&] { r.GetCells(0, -1); }));
  EXPECT_EQ(coordinates, MessageOf<ERangeError>([&] { r.SetCells(0, 3, 1); }));
}

TEST_F(Idrisi, OffsetBeyondTheFileRaisesTheReadingError) {
  struct tCase {
    TGISDataType Type;
    const char* Message;
  } const cases[] = {
      {idtReal, "File reading error #1a"}, {idtInteger, "File reading error #1b"}, {idtByte, "File reading error #1c"}};
  for (const auto& c : cases) {
    HandMadeMap("o", c.Type, 2, 1, {1, 2});
    tRaster r(Name("o"));
    EXPECT_EQ(2, r.Offset(1));
    for (const Int64 index : {Int64{2}, Int64{1} << 40, Int64{-1}, std::numeric_limits<Int64>::max()})
      EXPECT_EQ(Format("%s (%s)", c.Message, Name("o.rst")), MessageOf<EInOutError>([&] { r.Offset(index); }));
  }
  std::filesystem::remove(Name("o.rst"));
  const std::string message = MessageOf<EInOutError>([&] { tRaster(Name("o")).Offset(0); });
  EXPECT_EQ(0u, message.find("File reading error #2")) << message;
  EXPECT_TRUE(Contains(message, Name("o.rst"))) << message;
}

TEST_F(Idrisi, SetCellsOverwritesOneRecordInPlace) {
  struct tCase {
    TGISDataType Type;
    Single Value;
    double Stored;
  } const cases[] = {
      {idtInteger, 2.5f, 2}, {idtInteger, 3.5f, 4}, {idtInteger, -40000, 25536}, {idtByte, 300, 44},
      {idtByte, -1, 255},    {idtReal, 0.1f, 0.1f},
  };
  for (const auto& c : cases) {
    HandMadeMap("s", c.Type, 3, 2, {1, 2, 3, 4, 5, 6});
    tRaster r(Name("s"));
    r.SetCells(1, 1, c.Value);
    const auto stored = Decode(c.Type, ReadBytes(Name("s.rst")));
    EXPECT_EQ((std::vector<double>{1, 2, 3, 4, c.Stored, 6}), stored) << GISDataTypeName(c.Type) << " " << c.Value;
  }
  tRaster r(Name("s"));
  r.DataType = idtInteger;
  EXPECT_THROW(r.SetCells(0, 0, NAN), EInvalidOp);
  // Records that the file does not hold are not added.
  r.DataType = idtReal;
  r.Rows = 5;
  const std::string message = MessageOf<EInOutError>([&] { r.SetCells(4, 2, 1); });
  EXPECT_EQ(0u, message.find("File writing error")) << message;
  EXPECT_EQ(24u, std::filesystem::file_size(Name("s.rst")));
  // The single-cell writers of each record width.
  r.DataType = idtByte;
  r.OffsetWrite(0, Byte{9});
  r.OffsetWrite(1, SmallInt{-2});
  r.OffsetWrite(1, Single{1.0f});
  const auto bytes = ReadBytes(Name("s.rst"));
  EXPECT_EQ(9, bytes[0]);
  EXPECT_EQ((std::vector<double>{1.0}), Decode(idtReal, std::vector<Byte>(bytes.begin() + 4, bytes.begin() + 8)));
  EXPECT_EQ(0xFE, bytes[2]);
  EXPECT_EQ(0xFF, bytes[3]);
  EXPECT_THROW(r.OffsetWrite(24, Byte{1}), EInOutError);
  EXPECT_EQ(24u, std::filesystem::file_size(Name("s.rst")));
}

TEST_F(Idrisi, MapFileManagerRefusesSingleCellWrites) {
  HandMadeMap("k", idtByte, 2, 1, {1, 2});
  SetToolkitVariant(tToolkitVariant::tvMapFileManager);
  tRaster r(Name("k"));
  EXPECT_EQ("Guru's meditaion: SetCells has not yet been implemented",
            MessageOf<EInvalidOperation>([&] { r.SetCells(0, 0, 5); }));
  EXPECT_EQ((std::vector<Byte>{1, 2}), ReadBytes(Name("k.rst")));
  // Everything else reads alike.
  EXPECT_EQ((tMatrixOfDouble{{1, 2}}), r.AsMatrix());
}

// ---------------------------------------------------------------- statistics

TEST_F(Idrisi, MeanAndStandardDeviationOfThePresentCells) {
  std::mt19937 generator(7);
  std::normal_distribution<double> gauss(20.0, 100.0);
  std::uniform_real_distribution<double> uniform;
  const Integer columns = 1500, rows = 800;  // two blocks
  std::vector<double> cells(static_cast<size_t>(columns) * rows);
  for (auto& c : cells) c = static_cast<float>(uniform(generator) < 0.1 ? -9999.0 : gauss(generator));
  HandMadeMap("stats", idtReal, columns, rows, cells, "-9999", "background");
  long double sum = 0, squares = 0;
  Int64 n = 0;
  for (double c : cells)
    if (c != -9999.0) sum += c, squares += static_cast<long double>(c) * c, ++n;
  const long double mean = sum / n;
  const long double sd = std::sqrt(squares / n - mean * mean);
  tRaster r(Name("stats"));
  EXPECT_NEAR(static_cast<double>(mean), r.GetMean(), 1e-9 * 100);
  EXPECT_NEAR(static_cast<double>(sd), r.GetSD(), 1e-7 * 100);
}

TEST_F(Idrisi, ConstantMapHasStandardDeviationZero) {
  // Over 997 cells the running sums leave mean square minus squared mean slightly
  // negative for 0.1, 1.1 and 2.3.
  for (const double value : {0.1, 1.1, 2.3, 1e-3, 7.7, 123456.7, -0.3, 3.0e19}) {
    HandMadeMap("const", idtReal, 997, 1, std::vector<double>(997, value));
    tRaster r(Name("const"));
    const double sd = r.GetSD();
    EXPECT_FALSE(std::isnan(sd)) << value;
    EXPECT_GE(sd, 0.0);
    EXPECT_LE(sd, std::fabs(value) * 1e-6) << value;
    EXPECT_NEAR(static_cast<float>(value), r.GetMean(), std::fabs(value) * 1e-12);
  }
}

TEST_F(Idrisi, MapWithoutPresentCellsHasNoStatistics) {
  HandMadeMap("void", idtByte, 2, 2, {0, 0, 0, 0}, "0", "background");
  tRaster r(Name("void"));
  EXPECT_EQ(Format("Map contains no data (%s)", Name("void.rst")), MessageOf<EInvalidOp>([&] { r.GetMean(); }));
  EXPECT_THROW(r.GetMean(), EInvalidOp);  // nothing was kept
  EXPECT_THROW(r.GetSD(), EInvalidOp);
  // The range is left as it was.
  r.MinValue = -1;
  r.MaxValue = 1;
  r.Recompute();
  EXPECT_EQ(-1, r.MinValue);
  EXPECT_EQ(1, r.MaxValue);
}

TEST_F(Idrisi, RangeOfThePresentCells) {
  HandMadeMap("neg", idtInteger, 4, 1, {-5, -3, -9999, -7}, "-9999", "background");
  tRaster r(Name("neg"));
  r.Recompute();
  EXPECT_EQ(-7, r.MinValue);
  EXPECT_EQ(-3, r.MaxValue);
  HandMadeMap("pos", idtByte, 3, 1, {3, 0, 9});
  tRaster p(Name("pos"));
  p.Recompute();
  EXPECT_EQ(0, p.MinValue);
  EXPECT_EQ(9, p.MaxValue);
}

TEST_F(Idrisi, MeanLetsMessagesThroughButStandardDeviationDoesNot) {
  static int pumps;
  pumps = 0;
  HandMadeMap("pump", idtByte, 3, 1, {0, 1, 2}, "0", "background");
  tRaster r(Name("pump"));
  SetMessagePump([] { ++pumps; });
  r.ComputeMean();
  EXPECT_GE(pumps, 1);
  pumps = 0;
  SetMessagePump([] { ++pumps; });  // the next call would pump
  r.ComputeSD();
  EXPECT_EQ(0, pumps);
  EXPECT_DOUBLE_EQ(1.5, r.GetMean());
  EXPECT_DOUBLE_EQ(0.5, r.GetSD());
  // Reading the documentation again forgets the statistics.
  r.ReadDoc(Name("pump"));
  pumps = 0;
  SetMessagePump([] { ++pumps; });
  r.GetMean();
  EXPECT_GE(pumps, 1);
}

// ---------------------------------------------------------------- derived maps

TEST_F(Idrisi, DerivedMapCopiesTheDocumentationWithListsOfItsOwn) {
  HandMadeMap("src", idtReal, 4, 2, {1, 2, 3, 4, 5, 6, 7, 8}, "-9999", "background");
  tRaster source(Name("src.rst"));
  source.Lineage = {"first"};
  source.Category = {"category 1 : one"};
  source.GetMean();
  tRaster copy = tRaster::CreateFrom(source);
  copy.Lineage.push_back("second");
  EXPECT_EQ(tVectorOfString{"first"}, source.Lineage);
  EXPECT_EQ((tVectorOfString{"first", "second"}), copy.Lineage);
  EXPECT_EQ(source.Category, copy.Category);
  EXPECT_EQ(source.FileTitle, copy.FileTitle);
  EXPECT_EQ(source.FileName, copy.FileName);
  EXPECT_EQ(bsChecked, copy.BackGround);
  EXPECT_EQ(-9999, copy.BackGroundValue);
  EXPECT_EQ(source.maxX, copy.maxX);
  EXPECT_EQ("src", copy.Name());
  EXPECT_EQ(8, copy.nbPixels());
  // The new map has no cells yet: its statistics are not the source's.
  copy.FileName = Name("none");
  EXPECT_THROW(copy.GetMean(), EInOutError);
  // Counts beyond 32 bits.
  copy.Columns = copy.Rows = 100000;
  EXPECT_EQ(Int64{10000000000}, copy.nbPixels());
}

TEST_F(Idrisi, ByteValuesAndDecimals) {
  const struct {
    Single X;
    bool Byte, Decimals;
  } cases[] = {{0, true, false},        {255, true, false},      {255.4f, true, true},  {255.5f, false, true},
               {254.5f, true, true},    {-0.5f, true, true},     {-0.6f, false, true},  {-3, false, false},
               {1e-9f, true, false},    {2.00001f, true, true},  {1e30f, false, false}, {NAN, false, true},
               {INFINITY, false, true}, {-2.5f, false, true}};
  for (const auto& c : cases) {
    EXPECT_EQ(c.Byte, IsByteValue(c.X)) << c.X;
    EXPECT_EQ(c.Decimals, HasDecimals(c.X)) << c.X;
  }
}

TEST_F(Idrisi, CopyRunsStopsWhereTheLimitSays) {
  const Integer cells = BufferSize + 7;
  std::vector<double> values(static_cast<size_t>(cells));
  for (Integer i = 0; i < cells; ++i) values[i] = i % 5 == 0 ? -1 : i % 300;
  HandMadeMap("runs", idtInteger, cells, 1, values, "-1", "background");
  tRaster source(Name("runs"));
  tRaster target = tRaster::CreateFrom(source);
  target.FileName = Name("copy");
  TIdrisiFile in, out;
  source.OpenR(in);
  target.OpenW(out);
  Int64 done = 0;
  std::vector<Cardinal> runs;
  CopyRuns(
      in, out, [&] { return Int64{400000}; },
      [&](const Single* from, Single* to, Cardinal count) {
        for (Cardinal k = 0; k < count; ++k) to[k] = from[k] == in.BkV ? 9 : from[k];
      },
      [&](Cardinal count) {
        runs.push_back(count);
        done += count;
      });
  CloseRaster(in);
  CloseRaster(out);
  // Runs end at the limit and at the block's end.
  EXPECT_EQ((std::vector<Cardinal>{400000, 400000, 224000, 7}), runs);
  EXPECT_EQ(cells, done);
  for (double& v : values) v = v == -1 ? 9 : v;
  EXPECT_EQ(values, Decode(idtInteger, ReadBytes(Name("copy.rst"))));
}

}  // namespace
