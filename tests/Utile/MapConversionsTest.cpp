#include <gtest/gtest.h>

#include <cstdio>
#include <deque>
#include <functional>

#include "TestSupport/MapFiles.h"
#include "TestSupport/StatisticalChecks.h"
#include "Utile/MapConversions.h"
#include "Utile/Platform.h"
#include "Utile/RunTime.h"

using namespace utile;
using namespace testsupport;

namespace {

// What the walk told the window, and the answers it gets.
struct tWindow {
  std::vector<std::string> Log, Tasks, Boxes, Questions;
  std::vector<Integer> Gauge;
  std::deque<bool> Answers;
  tMapWalkHooks Hooks() {
    tMapWalkHooks h;
    h.Log = [this](const std::string& s) { Log.push_back(s); };
    h.Task = [this](const std::string& s) { Tasks.push_back(s); };
    h.Progress = [this](Integer p) { Gauge.push_back(p); };
    h.ErrorBox = h.WarningBox = [this](const std::string& s) { Boxes.push_back(s); };
    h.Confirm = [this](const std::string& s) {
      Questions.push_back(s);
      const bool answer = !Answers.empty() && Answers.front();
      if (!Answers.empty()) Answers.pop_front();
      return answer;
    };
    return h;
  }
};

// A conversion (Modify false) or a modification with its settings.
struct tOp {
  bool Modify;
  int Kind;
  tConversionChecks Checks{};
  const char* A = "-1";
  const char* B = "1";
};
constexpr tConversionChecks Bg{true, false}, Ck9999{false, true};

std::vector<tMapResult> RunOp(const tOp& op, const std::vector<std::string>& items, const tMapOutput& output,
                              tWindow& window) {
  if (op.Modify) return ModifyMaps(items, tModification(op.Kind), op.A, op.B, output, window.Hooks());
  return ConvertMaps(items, tConversion(op.Kind), op.Checks, output, window.Hooks());
}

class MapConversions : public ::testing::Test {
protected:
  void SetUp() override { ChangeIdrisiVersion(ivIdrisi32); }
  std::string Stem(const std::string& name) const { return fFolder.File(name); }
  tTempFolder fFolder;
};

// One map through one operation, its documentation and cells read back as written.
TEST_F(MapConversions, EachOperationGivesItsTypeFlagCellsRangeLineageAndLines) {
  struct tCase {
    const char* What;
    const char* Type;
    std::vector<double> Cells;
    double Min, Max;
    const char *Flag, *Definition;
    tOp Op;
    const char* NewType;  // nullptr: refused, nothing written
    std::vector<double> NewCells;
    const char *NewFlag, *NewMin, *NewMax;
    std::vector<std::string> NewLineage;  // after the source's own line
    std::string LogLine;
    std::vector<std::string> Boxes;
  };
  const std::string converted = "m_QT converted to ", rounded = "Some values were rounded";
  const std::string warning = "Map m_QT contained some real values, which were rounded.";
  // clang-format off
  const tCase cases[] = {
      {"real, ck9999: Min - 10", "real", {-5, 20, -9999, 99, 3}, -5, 20, "99", "background",
       {false, cvReal, Ck9999}, "real", {-5, 20, -15, -15, 3}, "-15", "-5", "20",
       {"Data type converted to real", "Background value set to -15"}, converted + "real data type.", {}},
      {"real, ck9999, Min 0: flag 0", "real", {0, 20, -9999}, 0, 20, "none", "none", {false, cvReal, Ck9999},
       "real", {0, 20, 0}, "none", "0", "20", {"Data type converted to real"}, converted + "real data type.",
       {}},
      {"real keeps a flag with decimals", "real", {-5.5, 3, -9999, 77}, -5.5, 3, "77", "background",
       {false, cvReal, Ck9999}, "real", {-5.5, 3, -15.5, -15.5}, "-15.5", "-5.5", "3",
       {"Data type converted to real", "Background value set to -15.5"}, converted + "real data type.", {}},
      {"integer rounds halves to even, one warning", "real", {2.5, 3.5, 7, -1.5}, -1.5, 7, "none", "none",
       {false, cvInteger}, "integer", {2, 4, 7, -2}, "none", "-1.5", "7",
       {"Data type converted to integer", rounded}, converted + "integer data type.", {warning}},
      {"integer stores the rounded flag", "real", {-5.5, 3, -9999, 77}, -5.5, 3, "77", "background",
       {false, cvInteger, Ck9999}, "integer", {-6, 3, -16, -16}, "-16", "-5.5", "3",
       {"Data type converted to integer", "Background value set to -16", rounded},
       converted + "integer data type.", {warning}},
      {"integer out of range refused", "real", {1, 40000}, 1, 40000, "none", "none", {false, cvInteger},
       nullptr, {}, "", "", "", {}, "", {"Map m_QT: Values out of integer range"}},
      {"byte: Max 300 refused", "integer", {0, 300}, 0, 300, "none", "none", {false, cvByte}, nullptr, {},
       "", "", "", {}, "", {"Map m_QT: Values out of byte range"}},
      {"byte: flag -9999 moves to 255", "integer", {0, 100, -9999}, 0, 100, "-9999", "background",
       {false, cvByte, Bg}, "byte", {0, 100, 255}, "255", "0", "100",
       {"Data type converted to byte", "Background value set to 255"}, converted + "byte data type.", {}},
      {"byte keeps a flag in range", "integer", {0, 100, 7}, 0, 100, "7", "background", {false, cvByte},
       "byte", {0, 100, 7}, "7", "0", "100", {"Data type converted to byte"}, converted + "byte data type.",
       {}},
      {"byte: Max rounding to 255 moves the flag to 0", "real", {1, 254.6, -9999}, 1, 254.6, "-9999",
       "background", {false, cvByte, Bg}, "byte", {1, 255, 0}, "0", "1", "254.6",
       {"Data type converted to byte", "Background value set to 0", rounded}, converted + "byte data type.",
       {warning}},
      {"byte: no value left for the flag", "real", {0.4, 254.6, -9999}, 0.4, 254.6, "-9999", "background",
       {false, cvByte, Bg}, nullptr, {}, "", "", "", {}, "", {"Map m_QT: Background out of byte range"}},
      {"byte: flag out of range without ckBackground", "integer", {0, 100, -9999}, 0, 100, "-9999",
       "background", {false, cvByte}, nullptr, {}, "", "", "", {}, "",
       {"Map m_QT: Background out of byte range"}},
      {"byte: ck9999 takes the flag -9999 as 0", "integer", {0, 100, -9999}, 0, 100, "-9999", "background",
       {false, cvByte, Ck9999}, "byte", {0, 100, 0}, "0", "0", "100",
       {"Data type converted to byte", "Background value set to 0"}, converted + "byte data type.", {}},
      {"byte: a flag not in force is not moved", "integer", {0, 100}, 0, 100, "-9999", "none",
       {false, cvByte, Bg}, nullptr, {}, "", "", "", {}, "", {"Map m_QT: Background out of byte range"}},
      {"boolean", "real", {0, 3.2, -1, -9999}, -1, 3.2, "-9999", "background", {true, mdBoolean}, "byte",
       {0, 1, 1, 255}, "255", "0", "1", {"Booleanised by Kelvora", "Background value set to 255"},
       "m_QT booleanised.", {}},
      {"round 0.4..254.6: integer keeps -9999", "real", {0.4, 254.6, -9999}, 0.4, 254.6, "-9999",
       "background", {true, mdRound}, "integer", {0, 255, -9999}, "-9999", "0", "255",
       {"Rounded by Kelvora"}, "m_QT rounded.", {}},
      {"round 0..255.4: integer keeps -9999", "real", {0, 255.4, -9999}, 0, 255.4, "-9999", "background",
       {true, mdRound}, "integer", {0, 255, -9999}, "-9999", "0", "255", {"Rounded by Kelvora"},
       "m_QT rounded.", {}},
      {"round 0.4..255.4: integer keeps -9999", "real", {0.4, 255.4, -9999}, 0.4, 255.4, "-9999",
       "background", {true, mdRound}, "integer", {0, 255, -9999}, "-9999", "0", "255",
       {"Rounded by Kelvora"}, "m_QT rounded.", {}},
      {"round to byte, flag 255", "real", {0.4, 253.6, -9999}, 0.4, 253.6, "-9999", "background",
       {true, mdRound}, "byte", {0, 254, 255}, "255", "0", "254",
       {"Rounded by Kelvora", "Background value set to 255"}, "m_QT rounded.", {}},
      {"round to byte, flag 0", "real", {1.2, 255, -9999}, 1.2, 255, "-9999", "background", {true, mdRound},
       "byte", {1, 255, 0}, "0", "1", "255", {"Rounded by Kelvora", "Background value set to 0"},
       "m_QT rounded.", {}},
      {"round halves to even", "real", {-3.5, 2.5, -0.5}, -3.5, 2.5, "none", "none", {true, mdRound},
       "integer", {-4, 2, 0}, "none", "-4", "2", {"Rounded by Kelvora"}, "m_QT rounded.", {}},
      {"round out of integer range refused", "real", {-40000, 5}, -40000, 5, "none", "none", {true, mdRound},
       nullptr, {}, "", "", "", {}, "", {"Map m_QT: Values out of integer range"}},
      {"truncate towards zero", "real", {-3.7, 2.9, -0.2}, -3.7, 2.9, "none", "none", {true, mdTruncate},
       "integer", {-3, 2, 0}, "none", "-3", "2", {"Truncated by Kelvora"}, "m_QT truncated.", {}},
      {"truncate to byte, flag 255", "real", {0.9, 254.9, -9999}, 0.9, 254.9, "-9999", "background",
       {true, mdTruncate}, "byte", {0, 254, 255}, "255", "0", "254",
       {"Truncated by Kelvora", "Background value set to 255"}, "m_QT truncated.", {}},
      {"stretch 0-100, halves to even", "real", {12.5, 10.25, 10, 20}, 10, 20, "none", "none",
       {true, mdStretch0100}, "byte", {25, 2, 0, 100}, "none", "0", "100",
       {"Stretched between 0 and 100 by Kelvora", "Background value set to 255"},
       "m_QT stretched in [0,100].", {}},
      {"smallest size", "real", {31.75, 0, 127, -9999}, 0, 127, "-9999", "background",
       {true, mdSmallestSize}, "byte", {64, 0, 254, 255}, "255", "0", "254",
       {"Stretched between 0 and 254, background value changed to 255 and converted to bytes by Kelvora"},
       "m_QT stretched in [0,254].", {}},
      {"stretch 0-1", "integer", {10, 15, 20}, 10, 20, "none", "none", {true, mdStretch01}, "real",
       {0, 0.5, 1}, "none", "0", "1", {"Stretched between 0 and 1 by Kelvora", "Background value set to -1"},
       "m_QT stretched in [0,1].", {}},
      {"stretch A-B: bad texts give -1 and 1", "real", {10, 15, 20}, 10, 20, "none", "none",
       {true, mdStretchAB, {}, "x", ""}, "real", {-1, 0, 1}, "none", "-1", "1",
       {"Stretched between -1 and 1 by Kelvora", "Background value set to -9999"},
       "m_QT stretched in [-1,1].", {}},
      {"stretch A-B: flag below A", "real", {10, 20, -9999}, 10, 20, "-9999", "background",
       {true, mdStretchAB, {}, "-20000", "0,0"}, "real", {-20000, 0, -20001}, "-20001", "-20000", "0",
       {"Stretched between -20000 and 0 by Kelvora", "Background value set to -20001"},
       "m_QT stretched in [-20000,0].", {}},
      // The optimisation: ranges recomputed from the cells.
      {"optimise: byte map not modified", "byte", {3, 7}, 0, 100, "none", "none", {false, cvOptimise},
       "byte", {3, 7}, "none", "3", "7", {}, "m_QT was not modified", {}},
      {"optimise: negative integers not modified", "integer", {-1, 7}, 0, 7, "none", "none",
       {false, cvOptimise}, "integer", {-1, 7}, "none", "-1", "7", {}, "m_QT was not modified", {}},
      {"optimise: integer with its flag out of range", "integer", {0, 200, -9999}, 0, 200, "-9999",
       "background", {false, cvOptimise}, "integer", {0, 200, -9999}, "-9999", "0", "200", {},
       "m_QT was not modified", {}},
      {"optimise: integer, ckBackground", "integer", {0, 200, -9999}, 0, 200, "-9999", "background",
       {false, cvOptimise, Bg}, "byte", {0, 200, 255}, "255", "0", "200",
       {"Data type converted to byte", "Background value set to 255"}, converted + "byte data type.", {}},
      {"optimise: integer, ck9999", "integer", {0, 200, -9999}, 0, 200, "-9999", "background",
       {false, cvOptimise, Ck9999}, "byte", {0, 200, 0}, "0", "0", "200",
       {"Data type converted to byte", "Background value set to 0"}, converted + "byte data type.", {}},
      {"optimise: integer without flag", "integer", {0, 200}, 0, 250, "none", "none", {false, cvOptimise},
       "byte", {0, 200}, "none", "0", "200", {"Data type converted to byte"}, converted + "byte data type.",
       {}},
      {"optimise: a present cell with decimals", "real", {1, 2.5, 3}, 1, 3, "none", "none",
       {false, cvOptimise}, "real", {1, 2.5, 3}, "none", "1", "3", {}, "m_QT was not modified", {}},
      {"optimise: decimals only in missing cells", "real", {1, -0.5, 3}, 1, 3, "-0.5", "background",
       {false, cvOptimise}, "byte", {1, 0, 3}, "0", "1", "3",
       {"Data type converted to byte", "Background value set to 0"}, converted + "byte data type.", {}},
      {"optimise: whole reals to integer", "real", {-5, 300}, 0, 0, "none", "none", {false, cvOptimise},
       "integer", {-5, 300}, "none", "-5", "300", {"Data type converted to integer"},
       converted + "integer data type.", {}},
      {"optimise: beyond integers not modified", "real", {0, 40000}, 0, 0, "none", "none",
       {false, cvOptimise}, "real", {0, 40000}, "none", "0", "40000", {}, "m_QT was not modified", {}},
      {"optimise: real with its flag out of range", "real", {0, 200, -9999}, 0, 200, "-9999", "background",
       {false, cvOptimise}, "integer", {0, 200, -9999}, "-9999", "0", "200",
       {"Data type converted to integer"}, converted + "integer data type.", {}},
      {"optimise: real, ckBackground", "real", {0, 200, -9999}, 0, 200, "-9999", "background",
       {false, cvOptimise, Bg}, "byte", {0, 200, 255}, "255", "0", "200",
       {"Data type converted to byte", "Background value set to 255"}, converted + "byte data type.", {}},
      {"optimise: real, ck9999 with flag -9999", "real", {0, 200, -9999}, 0, 200, "-9999", "background",
       {false, cvOptimise, Ck9999}, "byte", {0, 200, 0}, "0", "0", "200",
       {"Data type converted to byte", "Background value set to 0"}, converted + "byte data type.", {}},
      {"optimise: real, ck9999 with another flag", "real", {0, 200, -5}, 0, 200, "-5", "background",
       {false, cvOptimise, Ck9999}, "integer", {0, 200, 0}, "0", "0", "200",
       {"Data type converted to integer", "Background value set to 0"}, converted + "integer data type.", {}},
      {"optimise: real without flag", "real", {0, 200}, 0, 0, "none", "none", {false, cvOptimise}, "byte",
       {0, 200}, "none", "0", "200", {"Data type converted to byte"}, converted + "byte data type.", {}},
  };
  // clang-format on
  for (const auto& c : cases) {
    SCOPED_TRACE(c.What);
    const std::string stem = Stem("m_QT");
    MakeMapFiles(stem, c.Type, c.Cells, c.Min, c.Max, c.Flag, c.Definition);
    const std::string doc = ReadFileBytes(stem + ".rdc"), image = ReadFileBytes(stem + ".rst");
    tWindow window;
    const auto results = RunOp(c.Op, {stem + ".rst"}, {}, window);
    EXPECT_EQ(c.Boxes, window.Boxes);
    EXPECT_EQ((std::set<std::string>{"m_QT.rdc", "m_QT.rst"}), FolderNames(fFolder.Path()));
    ASSERT_EQ(1u, results.size());
    if (!c.NewType) {
      EXPECT_EQ(ocRefused, results[0].Outcome);
      EXPECT_TRUE(window.Log.empty());
      EXPECT_EQ(doc, ReadFileBytes(stem + ".rdc"));
      EXPECT_EQ(image, ReadFileBytes(stem + ".rst"));
      continue;
    }
    EXPECT_EQ(std::vector<std::string>{c.LogLine}, window.Log);
    auto values = ReadDocStrictly(stem + ".rdc");
    EXPECT_EQ(c.NewType, values["data type"].at(0));
    EXPECT_EQ(c.NewCells, DecodeCells(c.NewType, ReadFileBytes(stem + ".rst")));
    EXPECT_EQ(c.NewFlag, values["flag value"].at(0));
    EXPECT_EQ(c.Definition, values["flag def'n"].at(0));
    EXPECT_EQ(c.NewMin, values["min. value"].at(0));
    EXPECT_EQ(c.NewMax, values["max. value"].at(0));
    std::vector<std::string> lineage = {"made by hand"};
    lineage.insert(lineage.end(), c.NewLineage.begin(), c.NewLineage.end());
    EXPECT_EQ(lineage, values["lineage"]);
    EXPECT_EQ(std::vector<std::string>{"kept"}, values["comment"]);
  }
}

TEST_F(MapConversions, WalkGoesFromTheLastMapWithTaskGaugeAndErrorGuards) {
  // Eight cells: the gauge moves by 12.5 per cell, halves going to the even neighbour.
  MakeMapFiles(Stem("a"), "byte", {1, 2, 3, 4, 5, 6, 7, 8}, 1, 8);
  MakeMapFiles(Stem("c"), "byte", {1}, 1, 1);
  tWindow window;
  bool runningInside = false;
  auto hooks = window.Hooks();
  hooks.Progress = [&](Integer p) {
    window.Gauge.push_back(p);
    runningInside = MapWalkRunning();
    EXPECT_THROW(ConvertMaps({}, cvReal, {}, {}, {}), EInvalidOperation);
  };
  const auto results = ConvertMaps({Stem("a.rst"), Stem("b.rst"), Stem("c.rst")}, cvReal, {}, {}, hooks);
  EXPECT_EQ(
      (std::vector<std::string>{"Converting map 1/3", "Converting map 2/3", "Converting map 3/3", "Ready"}),
      window.Tasks);
  EXPECT_EQ((std::vector<Integer>{0, 100, 0, 0, 12, 25, 38, 50, 62, 75, 88, 100}), window.Gauge);
  EXPECT_EQ((std::vector<std::string>{"c converted to real data type.", "b generated an error. Check it.",
                                      "    " + Stem("b.rdc") + " not found.", "a converted to real data type."}),
            window.Log);
  EXPECT_EQ((std::vector<tMapOutcome>{ocDone, ocFailed, ocDone}),
            (std::vector<tMapOutcome>{results[0].Outcome, results[1].Outcome, results[2].Outcome}));
  EXPECT_TRUE(runningInside);
  EXPECT_FALSE(MapWalkRunning());

  tWindow modifying;
  ModifyMaps({Stem("c.rst")}, mdRound, "", "", {}, modifying.Hooks());
  EXPECT_EQ((std::vector<std::string>{"Modifying map 1/1", "Ready"}), modifying.Tasks);
}

TEST_F(MapConversions, SuffixOutputAsksBeforeReplacingAnExistingMap) {
  MakeMapFiles(Stem("forest_QT"), "byte", {1, 2}, 1, 2);
  const tMapOutput suffix{false, "-mod"};
  tWindow first;
  ConvertMaps({Stem("forest_QT.rst")}, cvReal, {}, suffix, first.Hooks());
  EXPECT_TRUE(first.Questions.empty());
  EXPECT_EQ((std::vector<double>{1, 2}), DecodeCells("real", ReadFileBytes(Stem("forest-mod_QT.rst"))));
  EXPECT_EQ((std::vector<double>{1, 2}), DecodeCells("byte", ReadFileBytes(Stem("forest_QT.rst"))));

  const std::string question = "Map forest-mod_QT exists already. Do you want to replace it?";
  const std::string existing = ReadFileBytes(Stem("forest-mod_QT.rst"));
  tWindow no;
  no.Answers = {false};
  const auto kept = ConvertMaps({Stem("forest_QT.rst")}, cvInteger, {}, suffix, no.Hooks());
  EXPECT_EQ(std::vector<std::string>{question}, no.Questions);
  EXPECT_TRUE(no.Log.empty());
  EXPECT_EQ(ocKept, kept[0].Outcome);
  EXPECT_EQ(existing, ReadFileBytes(Stem("forest-mod_QT.rst")));

  tWindow yes;
  yes.Answers = {true};
  ConvertMaps({Stem("forest_QT.rst")}, cvInteger, {}, suffix, yes.Hooks());
  EXPECT_EQ(std::vector<std::string>{"forest_QT converted to integer data type."}, yes.Log);
  EXPECT_EQ("integer", ReadDocStrictly(Stem("forest-mod_QT.rdc"))["data type"].at(0));
  EXPECT_EQ((std::vector<double>{1, 2}), DecodeCells("integer", ReadFileBytes(Stem("forest-mod_QT.rst"))));
  EXPECT_EQ(
      (std::set<std::string>{"forest_QT.rdc", "forest_QT.rst", "forest-mod_QT.rdc", "forest-mod_QT.rst"}),
      FolderNames(fFolder.Path()));
}

TEST_F(MapConversions, StretchesOfMapsWithoutARangeFailWithTheErrorLineAndTheReason) {
  const auto without = [&](const std::string& name, const std::string& key) {
    if (!FileExists(Stem(name + ".rdc"))) MakeMapFiles(Stem(name), "real", {1, 4}, 1, 4);
    std::string doc = ReadFileBytes(Stem(name + ".rdc"));
    const size_t at = doc.find(key);
    doc.erase(at, doc.find('\n', at) + 1 - at);
    WriteFileBytes(Stem(name + ".rdc"), doc);
  };
  struct tCase {
    std::function<void()> Make;
    std::string Reason;
  };
  const tCase cases[] = {{[&] {
                            MakeMapFiles(Stem("m"), "real", {4, 4}, 4, 4);
                          },
                          "Floating point division by zero"},
                         {[&] { without("m", "min. value"); },
                          "m cannot be stretched: its documentation has no \"min. value\" line."},
                         {[&] { without("m", "max. value"); },
                          "m cannot be stretched: its documentation has no \"max. value\" line."},
                         {[&] { without("m", "min. value"), without("m", "max. value"); },
                          "m cannot be stretched: its documentation has no \"min. value\" line."}};
  for (const tCase& c : cases)
    for (const tModification stretch : {mdStretch0100, mdStretch01, mdStretchAB, mdSmallestSize}) {
      SCOPED_TRACE(c.Reason);
      std::filesystem::remove_all(fFolder.Path());
      std::filesystem::create_directory(fFolder.Path());
      c.Make();
      const auto before = FolderFiles(fFolder.Path());
      tWindow window;
      const auto results = ModifyMaps({Stem("m.rst")}, stretch, "-1", "1", {}, window.Hooks());
      EXPECT_EQ(ocFailed, results[0].Outcome);
      ASSERT_EQ(2u, window.Log.size());
      EXPECT_EQ("m generated an error. Check it.", window.Log[0]);
      EXPECT_EQ(c.Reason, Trim(window.Log[1]));
      EXPECT_EQ(before, FolderFiles(fFolder.Path()));
    }
}

// Bad input and failures leave every source as it was and no temporary file.
TEST_F(MapConversions, BadMapsAndFailedWritesLoseNothing) {
  const std::string garbled = "data type   : byte\r\ncolumns     : abc\r\nrows        : 1\r\n";
  auto map = [&] { MakeMapFiles(Stem("m"), "byte", {1, 2}, 1, 2); };
  struct tCase {
    const char* What;
    std::function<void()> Make;
    rlim_t FileSizeLimit;
    int FailingRename;  // 0: none
    tMapOutput Output;
  };
  // clang-format off
  const tCase cases[] = {
      {"missing image file", [&] { map(), std::remove(Stem("m.rst").c_str()); }, RLIM_INFINITY, 0, {}},
      {"truncated image file", [&] { map(), WriteFileBytes(Stem("m.rst"), "\x01"); }, RLIM_INFINITY, 0, {}},
      {"garbled documentation", [&] { WriteFileBytes(Stem("m.rdc"), garbled), WriteFileBytes(Stem("m.rst"), "x"); },
       RLIM_INFINITY, 0, {}},
      // Over a block of cells, so that the limit stops the first block write.
      {"image write failing midway",
       [&] { MakeMapFiles(Stem("m"), "byte", std::vector<double>(1'500'000, 7), 7, 7, "none", "none", 1000); },
       500'000, 0, {}},
      {"documentation write failing", map, 100, 0, {}},
      {"first rename failing", map, RLIM_INFINITY, 1, {}},
      {"renaming the documentation in failing", map, RLIM_INFINITY, 4, {}},
      {"renaming over an existing map failing", [&] { map(), MakeMapFiles(Stem("m-x"), "byte", {9}, 9, 9); },
       RLIM_INFINITY, 3, {false, "-x"}},
      {"a folder in place of the new map", [&] { map(), std::filesystem::create_directories(Stem("m-x.rdc/in")); },
       RLIM_INFINITY, 0, {false, "-x"}},
  };
  // clang-format on
  static int renames = 0, failing = 0;
  map_conversions_detail::RenameFile = [](const char* from, const char* to) {
    return ++renames == failing ? (errno = EIO, -1) : std::rename(from, to);
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.What);
    std::filesystem::remove_all(fFolder.Path());
    std::filesystem::create_directory(fFolder.Path());
    c.Make();
    const auto before = FolderFiles(fFolder.Path());
    renames = 0;
    failing = c.FailingRename;
    tWindow window;
    window.Answers = {true};
    std::vector<tMapResult> results;
    {
      tFileSizeLimit limit(c.FileSizeLimit);
      results = ConvertMaps({Stem("m.rst")}, cvReal, {}, c.Output, window.Hooks());
    }
    EXPECT_EQ(ocFailed, results[0].Outcome);
    ASSERT_EQ(2u, window.Log.size());
    EXPECT_EQ("m generated an error. Check it.", window.Log[0]);
    EXPECT_EQ(before, FolderFiles(fFolder.Path()));
  }
  map_conversions_detail::RenameFile = &std::rename;
}

}  // namespace
