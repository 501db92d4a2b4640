// The batch simulations of the individual-based workbench without a window: the
// header's fields by option, rows with exactly those fields whatever is missing,
// side-file names, what an existing result file holds, lines drawn from priors.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <set>

#include "TestSupport/ExceptionMessages.h"
#include "TestSupport/NumericLocale.h"
#include "TestSupport/StatisticalChecks.h"
#include "Utile/RunTime.h"
#include "Utile/StringOps.h"
#include "models/IBBatch.h"

using models::tIBBatchColumns;
using models::tIBBatchRow;
using utile::tVectorOfString;

namespace {

tIBBatchColumns TwoPatches() {
  tIBBatchColumns c;
  c.LandscapeLabels = {"Width:", "NbPatch:"};
  c.ParameterLabels = {"SexRatio:", "Gene0:"};
  c.PatchCount = 2;
  return c;
}

}  // namespace

TEST(IBBatchColumns, RowsHaveTheFieldsOfTheirHeaderWhateverIsMissing) {
  // Nothing known: no landscape line yet, a short line, no pedigree (no F or
  // theta), a patch the pedigree never saw, a surviving metapopulation.
  tIBBatchRow sparse;
  sparse.ParameterValues = {"0.5"};
  sparse.SexRatios = {models::SingleAsDecimal(11.0f / 21)};
  sparse.Juveniles.Sizes = {4, 4};
  sparse.Adults.F = {-1};
  sparse.Time = "0 D 00:00:01:250";
  tIBBatchColumns all = TwoPatches();
  for (bool* flag :
       {&all.Sexuate, &all.ExtinctionTime, &all.Tags, &all.Juveniles, &all.Adults, &all.Abundances, &all.F})
    *flag = true;
  all.TagValues = {3};
  EXPECT_EQ(models::IBHeaderFields(all),
            tVectorOfString({"SimID",         "Landscape", "Width", "NbPatch", "SexRatio", "Gene0",
                             "NbIndividuals", "SR01",      "SR02",  "Text",    "Tag3",     "Nj00",
                             "Nj01",          "Nj02",      "Fj00",  "Fj01",    "Fj02",     "Na00",
                             "Na01",          "Na02",      "Fa00",  "Fa01",    "Fa02",     "Time"}));
  EXPECT_EQ(models::IBRowFields(all, sparse),
            tVectorOfString({"0",  "NA", "NA", "NA", "0.5", "NA", "0",  "0.52380955",
                             "NA", "NA", "0",  "4",  "4",   "0",  "NA", "NA",
                             "NA", "0",  "0",  "0",  "-1",  "NA", "NA", "0 D 00:00:01:250"}));
  // Whatever the options, a row has its header's count of fields.
  tIBBatchRow full = sparse;
  full.HasLandscape = true;
  full.LandscapeValues = {"100", "2", "beyond"};
  full.ParameterValues = {"0.5", "0.1", "beyond"};
  full.Capacities = {1, 2, 3};
  full.Occupancy = full.SexRatios = {1, 0.5, 0};
  full.TagCounts = {1, 2};
  full.Juveniles = full.Adults = {{1, 2, 3, 4}, {0, 0, 0, 0}, {0, 0, 0, 0}};
  for (int options = 0; options < 1 << 10; ++options) {
    tIBBatchColumns c = TwoPatches();
    bool* flags[] = {&c.Sexuate, &c.Capacities, &c.Occupancy, &c.ExtinctionTime, &c.Tags, &c.Juveniles,
                     &c.Adults,  &c.Abundances, &c.F,         &c.Theta};
    for (int k = 0; k < 10; ++k) *flags[k] = (options >> k) & 1;
    c.TagValues = {4};
    for (const tIBBatchRow* row : {&sparse, &full})
      ASSERT_EQ(models::IBRowFields(c, *row).size(), models::IBHeaderFields(c).size()) << options;
  }
}

// A sex ratio is the decimal its single stands for, in every user's locale (LC_NUMERIC
// set as the window library sets it), and its row reads the same.
TEST(IBBatchColumns, SexRatiosAreTheDecimalsOfTheirSinglesUnderEveryLocale) {
  const struct {
    float Single;
    double Decimal;  // the shortest decimal that reads back as the single
    const char* Field;
  } cases[] = {{0.55f, 0.55, "0.55"},          {1.0f / 3, 0.33333334, "0.33333334"},
               {11.0f / 21, 0.52380955, "0.52380955"}, {0.4f, 0.4, "0.4"},
               {1e-8f, 1e-8, "1E-8"},          {0, 0, "0"},
               {1, 1, "1"}};
  tIBBatchColumns columns = TwoPatches();
  columns.PatchCount = static_cast<int>(std::size(cases));
  columns.Sexuate = true;
  const auto rows = testsupport::UnderEachLocale([&] {
    tIBBatchRow row;
    for (const auto& c : cases) {
      EXPECT_EQ(models::SingleAsDecimal(c.Single), c.Decimal) << c.Field;
      row.SexRatios.push_back(models::SingleAsDecimal(c.Single));
    }
    return models::JoinFields(models::IBRowFields(columns, row));
  });
  for (const auto& under : rows) {
    ASSERT_TRUE(under.Set) << testsupport::tNumericLocale::Missing(under.Locale);
    EXPECT_EQ(under.Result, rows.front().Result) << under.Locale;
  }
  tVectorOfString fields;
  utile::Tabulate(rows.front().Result, '\t', fields, false, 0);
  const tVectorOfString header = models::IBHeaderFields(columns);
  ASSERT_EQ(fields.size(), header.size());
  for (size_t k = 0; k < std::size(cases); ++k) {
    const auto at = std::find(header.begin(), header.end(), utile::Format("SR%.2d", int(k + 1)));
    EXPECT_EQ(fields[at - header.begin()], cases[k].Field);
  }
}

TEST(IBBatchColumns, ValuesDatesAndFileNames) {
  // A line's values by slot: the controls' texts where it gave none.
  EXPECT_EQ(models::PaddedValues({"1", ""}, {"a", "b", "c"}), tVectorOfString({"1", "", "c"}));
  EXPECT_EQ(models::PaddedValues({"1", "2", "3"}, {"a"}), tVectorOfString({"1"}));
  // The statistics' date: the last one, for juveniles under longitudinal sampling the one before.
  utile::Cardinal date = 99;
  for (const auto& [juveniles, longitudinal, expected] : std::vector<std::tuple<bool, bool, utile::Cardinal>>{
           {false, true, 9}, {true, false, 9}, {true, true, 8}}) {
    EXPECT_TRUE(models::StatisticsDate(9, juveniles, longitudinal, date));
    EXPECT_EQ(date, expected);
  }
  EXPECT_FALSE(models::StatisticsDate(0, true, true, date));
  // A "%" in the base is no format; folders may hold dots.
  EXPECT_EQ(models::SimulationFileName("/a.b/50%d", 0, models::GenomePrefix(0, 1) + "_Fstat_Adults"),
            "/a.b/50%d_0_Nuclear001_Fstat_Adults.dat");
  EXPECT_EQ(models::SimulationFileName("r", 12, models::GenomePrefix(3, 1000)), "r_12_YChr1000.dat");
  EXPECT_EQ(models::ConnectionProfilesFileText({0.5, 2}, {{{0, 1.5}, {1.5, 0}}, {{0, 0.25}, {0.25, 0}}}),
            "0.5\t2\r\n0\t1.5\r\n1.5\t0\r\n0\t0.25\r\n0.25\t0\r\n");
}

TEST(IBBatchResultFile, WhatAnExistingFileHolds) {
  const testsupport::tTempFolder folder;
  const std::string name = folder.File("ibbatch_state.txt");
  struct tCase {
    std::string Text;
    utile::Int64 SimID, Landscape;
    tVectorOfString Header;
  };
  const std::vector<tCase> cases = {
      {"", -1, -1, {}},
      // Rows under two headers, error lines and the error count, CR LF.
      {"SimID\tLandscape\tTime\r\n0\tNA\t0 D\r\n****** Error at Runs for 0\t ************\r\n"
       "SimID\tLandscape\tB\tTime\r\n7\t3\t1\t0 D\r\n4\t5\t1\t0 D\r\n******* 1 errors encountered\r\n",
       7,
       5,
       {"SimID", "Landscape", "B", "Time"}},
      // LF, no end of the last line; numbers before any header are no rows.
      {"9\t9\nSimID\tTime\n2\tx\n11\ty", 11, -1, {"SimID", "Time"}},
      // Beyond 32 bits, up to the largest number a batch continues from.
      {"SimID\tLandscape\tTime\n4294967301\t8589934592\t0 D\n5\t4611686018427387903\t0 D\n",
       4294967301,
       4611686018427387903,
       {"SimID", "Landscape", "Time"}},
  };
  for (const tCase& c : cases) {
    std::ofstream(name, std::ios::binary) << c.Text;
    const models::tIBResultFileState state = models::ReadIBResultFile(name);
    EXPECT_EQ(state.LargestSimID, c.SimID) << c.Text;
    EXPECT_EQ(state.LargestLandscape, c.Landscape) << c.Text;
    EXPECT_EQ(state.LastHeader, c.Header) << c.Text;
  }
  // Numbers from which counting on could overflow are refused, naming the file and the line.
  const std::pair<std::string, std::string> refused[] = {
      {"SimID\tLandscape\n0\t0\n4611686018427387904\t0\n",
       "line 3: the SimID 4611686018427387904 is beyond 4611686018427387903"},
      {"SimID\tLandscape\n0\t99999999999999999999\n",
       "line 2: the landscape number 99999999999999999999 is beyond 4611686018427387903"}};
  for (const auto& [text, reason] : refused) {
    std::ofstream(name, std::ios::binary) << text;
    const std::string message =
        testsupport::MessageOf<utile::EInOutError>([&] { models::ReadIBResultFile(name); });
    EXPECT_NE(message.find("\"" + name + "\", " + reason), std::string::npos) << message;
  }
  std::remove(name.c_str());
  EXPECT_NE(testsupport::MessageOf<utile::EInOutError>([&] { models::ReadIBResultFile(name); }).find(name),
            std::string::npos);
}

namespace {

models::tIBPrior Prior(const char* name, bool uniform, const char* fixed, const char* low = "",
                       const char* high = "", bool whole = false, double lowest = -1.7e308,
                       double highest = 1.7e308) {
  return {name, uniform, fixed, low, high, whole, lowest, highest};
}

}  // namespace

TEST(IBBatchPriors, DrawsRepeatWithTheirSeedsAndBadBoundsAreRefused) {
  // A landscape line before each simulation line; whole numbers for whole slots,
  // reals strictly below their maximum, fixed texts as they stand.
  const std::vector<models::tIBPrior> landscape = {Prior("NbPatch", true, "", "2", "2", true, 1, 10000),
                                                   Prior("LandscapeFile", false, "")};
  const std::vector<models::tIBPrior> model = {Prior("Mode", false, "2"),
                                               Prior("SexRatio", true, "", "0.5", "0.5")};
  EXPECT_EQ(models::ABCBatch(landscape, model, 2, true, 7, 3),
            std::vector<std::string>(
                {"MakeLandscape(2,)", "Simulation(2,0.5)", "MakeLandscape(2,)", "Simulation(2,0.5)"}));
  const std::vector<models::tIBPrior> wide = {Prior("SexRatio", true, "", "0", "1")};
  const std::vector<std::string> lines = models::ABCBatch({}, wide, 50, true, 7, 3);
  EXPECT_EQ(lines.size(), 50u);
  EXPECT_EQ(models::ABCBatch({}, wide, 50, true, 7, 3), lines);
  EXPECT_NE(models::ABCBatch({}, wide, 50, true, 7, 4), lines);

  // Bad bounds are refused by name.
  struct tCase {
    models::tIBPrior Prior;
    const char* Message;
  };
  for (const tCase& c : std::vector<tCase>{
           {Prior("SexRatio", true, "", "x", "1"),
            "The minimum of the prior of SexRatio is not a number: \"x\"."},
           {Prior("SexRatio", true, "", "0.8", "0.2"),
            "The prior of SexRatio runs from 0.8 down to 0.2: its minimum must not exceed its maximum."},
           {Prior("NbLoci", true, "", "1.5", "4", true, 1, 8),
            "The minimum of the prior of NbLoci must be a whole number: \"1.5\"."},
           {Prior("NbLoci", true, "", "2", "9", true, 1, 8), "The prior of NbLoci must lie within 1 to 8."}})
    EXPECT_EQ(testsupport::MessageOf<utile::EConvertError>(
                  [&] { models::ABCBatch({}, {c.Prior}, 5, false, 1, 1); }),
              c.Message);
}
