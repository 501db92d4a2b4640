// The batch simulations of the individual-based workbench without a window: the
// header's fields by output option, rows with exactly those fields whatever is
// missing, the side files' names, what an existing result file holds, and the
// lines drawn from priors.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>

#include "TestSupport/ExceptionMessages.h"
#include "Utile/RunTime.h"
#include "Utile/StringOps.h"
#include "models/IBBatch.h"

namespace {

using models::tIBBatchColumns;
using models::tIBBatchRow;
using utile::tVectorOfString;

tVectorOfString Concat(std::initializer_list<tVectorOfString> parts) {
  tVectorOfString all;
  for (const tVectorOfString& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

tIBBatchColumns TwoPatches() {
  tIBBatchColumns c;
  c.LandscapeLabels = {"Width:", "NbPatch:"};
  c.ParameterLabels = {"SexRatio:", "Gene0:"};
  c.PatchCount = 2;
  return c;
}

}  // namespace

TEST(IBBatchColumns, HeaderFieldsFollowTheOptions) {
  const tVectorOfString start = {"SimID", "Landscape", "Width", "NbPatch", "SexRatio", "Gene0", "NbIndividuals"};
  struct tCase {
    const char* Name;
    void (*Set)(tIBBatchColumns&);
    tVectorOfString Expected;
  };
  const std::vector<tCase> cases = {
      {"nothing chosen", [](tIBBatchColumns&) {}, Concat({start, {"Time"}})},
      {"capacities, sex ratios, occupancy, extinction time",
       [](tIBBatchColumns& c) { c.Capacities = c.Sexuate = c.Occupancy = c.ExtinctionTime = true; },
       Concat({start, {"K01", "K02", "SR01", "SR02", "O01", "O02", "Text", "Time"}})},
      {"tags",
       [](tIBBatchColumns& c) {
         c.Tags = true;
         c.TagValues = {2, 7};
       },
       Concat({start, {"Tag2", "Tag7", "Time"}})},
      {"tag values without the option", [](tIBBatchColumns& c) { c.TagValues = {2}; }, Concat({start, {"Time"}})},
      {"adults' abundances",
       [](tIBBatchColumns& c) { c.Adults = c.Abundances = true; },
       Concat({start, {"Na00", "Na01", "Na02", "Time"}})},
      {"both classes with F and theta",
       [](tIBBatchColumns& c) { c.Juveniles = c.Adults = c.Abundances = c.F = c.Theta = true; },
       Concat({start,
               {"Nj00", "Nj01", "Nj02", "Fj00", "Fj01", "Fj02", "Thetaj00", "Thetaj01", "Thetaj02", "Na00", "Na01",
                "Na02", "Fa00", "Fa01", "Fa02", "Thetaa00", "Thetaa01", "Thetaa02", "Time"}})},
      {"statistics without a class", [](tIBBatchColumns& c) { c.Abundances = c.F = true; },
       Concat({start, {"Time"}})},
  };
  for (const tCase& c : cases) {
    tIBBatchColumns columns = TwoPatches();
    c.Set(columns);
    EXPECT_EQ(models::IBHeaderFields(columns), c.Expected) << c.Name;
  }
  // Ten patches and more keep two digits; a hundred takes three.
  tIBBatchColumns many;
  many.PatchCount = 100;
  many.Capacities = true;
  const tVectorOfString fields = models::IBHeaderFields(many);
  EXPECT_EQ(fields[3], "K01");
  EXPECT_EQ(fields[12], "K10");
  EXPECT_EQ(fields[102], "K100");
}

TEST(IBBatchColumns, RowsHaveTheFieldsOfTheirHeaderWhateverIsMissing) {
  tIBBatchColumns columns = TwoPatches();
  columns.Capacities = columns.Sexuate = columns.Occupancy = columns.ExtinctionTime = columns.Tags = true;
  columns.TagValues = {1, 3};
  columns.Juveniles = columns.Adults = columns.Abundances = columns.F = columns.Theta = true;
  const size_t headerSize = models::IBHeaderFields(columns).size();
  ASSERT_EQ(headerSize, 7u + 2 + 2 + 2 + 1 + 2 + 9 + 9 + 1);

  tIBBatchRow full;
  full.SimID = 4;
  full.HasLandscape = true;
  full.Landscape = 1;
  full.LandscapeValues = {"100", "2"};
  full.ParameterValues = {"0.5", "0.1"};
  full.Individuals = 321;
  full.Capacities = {12, 13};
  full.SexRatios = {0.5, 0.25};
  full.Occupancy = {1, 0.125};
  full.ExtinctionTime = 17;
  full.TagCounts = {5, 0};
  full.Juveniles = {{7, 3, 4}, {0.25, 0, 0.5}, {0.125, -1, 0.5}};
  full.Adults = {{9, 9, 0}, {0, 0, -1}, {0.5, 0.5, -1}};
  full.Time = "0 D 00:00:01:250";
  EXPECT_EQ(models::IBRowFields(columns, full),
            tVectorOfString({"4",    "1",    "100",  "2",    "0.5",  "0.1", "321", "12", "13", "0.5", "0.25", "1",
                             "0.125", "17",  "5",    "0",    "7",    "3",   "4",   "0.25", "0",  "0.5", "0.125",
                             "-1",   "0.5",  "9",    "9",    "0",    "0",   "0",   "-1", "0.5", "0.5", "-1",
                             "0 D 00:00:01:250"}));

  // Nothing known: before any landscape line, without a pedigree, a patch the
  // pedigree never saw, a surviving metapopulation, no tag counted.
  tIBBatchRow sparse;
  sparse.SimID = 0;
  sparse.ParameterValues = {"0.5"};
  sparse.Juveniles.Sizes = {4, 4};
  sparse.Adults.F = {0.5};
  const tVectorOfString fields = models::IBRowFields(columns, sparse);
  ASSERT_EQ(fields.size(), headerSize);
  EXPECT_EQ(tVectorOfString(fields.begin(), fields.begin() + 7),
            tVectorOfString({"0", "NA", "NA", "NA", "0.5", "NA", "0"}));
  EXPECT_EQ(tVectorOfString(fields.begin() + 7, fields.begin() + 16),
            tVectorOfString({"NA", "NA", "NA", "NA", "NA", "NA", "NA", "0", "0"}));
  EXPECT_EQ(tVectorOfString(fields.begin() + 16, fields.begin() + 25),
            tVectorOfString({"4", "4", "0", "NA", "NA", "NA", "NA", "NA", "NA"}));
  EXPECT_EQ(tVectorOfString(fields.begin() + 25, fields.begin() + 34),
            tVectorOfString({"0", "0", "0", "0.5", "NA", "NA", "NA", "NA", "NA"}));

  // Whatever the options, a row has the header's count of fields.
  for (int options = 0; options < 1 << 10; ++options) {
    tIBBatchColumns c = TwoPatches();
    bool* flags[] = {&c.Sexuate, &c.Capacities, &c.Occupancy, &c.ExtinctionTime, &c.Tags,
                     &c.Juveniles, &c.Adults,   &c.Abundances, &c.F,             &c.Theta};
    for (int k = 0; k < 10; ++k) *flags[k] = (options >> k) & 1;
    c.TagValues = {4};
    ASSERT_EQ(models::IBRowFields(c, sparse).size(), models::IBHeaderFields(c).size()) << options;
    ASSERT_EQ(models::IBRowFields(c, full).size(), models::IBHeaderFields(c).size()) << options;
  }
}

TEST(IBBatchColumns, ValuesOfTheLinesAndTheControls) {
  struct tCase {
    tVectorOfString Given, InForce, Expected;
  };
  for (const tCase& c : std::vector<tCase>{
           {{"1", "2"}, {"a", "b", "c"}, {"1", "2", "c"}},   // a short line: the controls' texts after
           {{"1", "2", "3", "4"}, {"a", "b"}, {"1", "2"}},   // values beyond the slots
           {{}, {"a"}, {"a"}},
           {{""}, {"a", "b"}, {"", "b"}},                    // an empty value is a value
       })
    EXPECT_EQ(models::PaddedValues(c.Given, c.InForce), c.Expected);

  struct tFieldsCase {
    const char* Text;
    tVectorOfString Expected;
  };
  for (const tFieldsCase& c : std::vector<tFieldsCase>{
           {"", {}}, {"0\t", {"0"}}, {"0\t100\t\t", {"0", "100", ""}}, {"a\tb", {"a", "b"}}})
    EXPECT_EQ(models::TabbedFields(c.Text), c.Expected) << c.Text;
  EXPECT_EQ(models::JoinFields({"a", "", "b"}), "a\t\tb");
  // Sex ratios are singles: written in the digits they stand for.
  for (const auto& [ratio, text] : std::vector<std::pair<float, const char*>>{
           {0.4f, "0.4"}, {11.0f / 21, "0.52380955"}, {0.0f, "0"}, {1.0f, "1"}, {1e-8f, "1E-8"}})
    EXPECT_EQ(utile::Format("%.g", models::SingleAsDecimal(ratio)), text);
}

TEST(IBBatchColumns, StatisticsDates) {
  struct tCase {
    utile::Cardinal Last;
    bool Juveniles, Longitudinal, Found;
    utile::Cardinal Date;
  };
  for (const tCase& c : std::vector<tCase>{{9, false, false, true, 9},
                                           {9, false, true, true, 9},
                                           {9, true, false, true, 9},
                                           {9, true, true, true, 8},
                                           {1, true, true, true, 0},
                                           {0, true, true, false, 0},
                                           {0, false, true, true, 0}}) {
    utile::Cardinal date = 12345;
    EXPECT_EQ(models::StatisticsDate(c.Last, c.Juveniles, c.Longitudinal, date), c.Found) << c.Last;
    if (c.Found) {
      EXPECT_EQ(date, c.Date) << c.Last << c.Juveniles << c.Longitudinal;
    }
  }
}

TEST(IBBatchSideFiles, NamesAndTexts) {
  struct tCase {
    std::string Got, Expected;
  };
  for (const tCase& c : std::vector<tCase>{
           {models::SimulationFileName("/tmp/a.b/res", 0, "_Alpha_Adults"), "/tmp/a.b/res_0_Alpha_Adults.dat"},
           {models::SimulationFileName("run%d%s", 12, "_LastDispEvents"), "run%d%s_12_LastDispEvents.dat"},
           {models::SimulationFileName("r", 3, models::GenomePrefix(0, 1) + "_Fstat_Adults"),
            "r_3_Nuclear001_Fstat_Adults.dat"},
           {models::GenomePrefix(1, 12), "_Mitoch012"},
           {models::GenomePrefix(2, 1000), "_XChr1000"},
           {models::GenomePrefix(3, 7), "_YChr007"},
           {models::LandscapeFileName("/x.y/50%", "Distances", 2), "/x.y/50%_Distances_2.dat"},
           {models::LandscapeFileName("b", "ConnectionProfiles", 1), "b_ConnectionProfiles_1.dat"},
           {models::SideFileText("1\t2\r\n"), "1\t2\r\n"},
           {models::SideFileText("Pop\n"), "Pop\n"},
           {models::SideFileText("x"), "x\r\n"},
           {models::SideFileText(""), "\r\n"},
           {models::ConnectionProfilesFileText({0.5, 2}, {{{0, 1.5}, {1.5, 0}}, {{0, 0.25}, {0.25, 0}}}),
            "0.5\t2\r\n0\t1.5\r\n1.5\t0\r\n0\t0.25\r\n0.25\t0\r\n"},
       })
    EXPECT_EQ(c.Got, c.Expected);
}

TEST(IBBatchResultFile, WhatAnExistingFileHolds) {
  const std::string name = (std::filesystem::temp_directory_path() / "ibbatch_state.txt").string();
  struct tCase {
    const char* Name;
    std::string Text;
    utile::Integer SimID, Landscape;
    tVectorOfString Header;
  };
  const std::vector<tCase> cases = {
      {"empty", "", -1, -1, {}},
      {"a header only", "SimID\tLandscape\tTime\r\n", -1, -1, {"SimID", "Landscape", "Time"}},
      {"rows, errors and a second header, CR LF",
       "SimID\tLandscape\tA\tTime\r\n0\tNA\t1\t0 D\r\n****** Error at Runs for 0\t ************\r\n"
       "1\t0\t2\t0 D\r\nSimID\tLandscape\tA\tB\tTime\r\n7\t3\t2\t1\t0 D\r\n4\t5\t1\t1\t0 D\r\n"
       "******* 1 errors encountered\r\n",
       7, 5, {"SimID", "Landscape", "A", "B", "Time"}},
      {"LF line ends, no end of the last line", "SimID\tTime\n2\tx\n11\ty", 11, -1, {"SimID", "Time"}},
      {"numbers before any header are no rows", "9\t9\nSimID\tLandscape\tTime\n1\tNA\tx\n", 1, -1,
       {"SimID", "Landscape", "Time"}},
  };
  for (const tCase& c : cases) {
    std::ofstream(name, std::ios::binary) << c.Text;
    const models::tIBResultFileState state = models::ReadIBResultFile(name);
    EXPECT_EQ(state.LargestSimID, c.SimID) << c.Name;
    EXPECT_EQ(state.LargestLandscape, c.Landscape) << c.Name;
    EXPECT_EQ(state.LastHeader, c.Header) << c.Name;
  }
  std::remove(name.c_str());
  const std::string missing = name + ".missing";
  EXPECT_NE(testsupport::MessageOf<utile::EInOutError>([&] { models::ReadIBResultFile(missing); }).find(missing),
            std::string::npos);
}

// ------------------------------------------------------------------ priors

namespace {

models::tIBPrior Fixed(const char* name, const char* value) {
  models::tIBPrior p;
  p.Name = name;
  p.Fixed = value;
  return p;
}

models::tIBPrior Uniform(const char* name, const char* low, const char* high, bool whole = false,
                         double lowest = -1.7e308, double highest = 1.7e308) {
  models::tIBPrior p;
  p.Name = name;
  p.Uniform = true;
  p.Minimum = low;
  p.Maximum = high;
  p.Whole = whole;
  p.Lowest = lowest;
  p.Highest = highest;
  return p;
}

tVectorOfString Values(const std::string& line, const std::string& keyword) {
  EXPECT_TRUE(line.starts_with(keyword) && line.ends_with(")")) << line;
  tVectorOfString values;
  utile::Tabulate(line.substr(keyword.size(), line.size() - keyword.size() - 1), ',', values, false, 0);
  return values;
}

}  // namespace

TEST(IBBatchPriors, DrawsLieWithinTheirPriorsAndRepeatWithTheirSeeds) {
  const std::vector<models::tIBPrior> landscape = {Uniform("NbPatch", "2", "5", true, 1, 10000),
                                                   Fixed("LandscapeFile", "")};
  const std::vector<models::tIBPrior> model = {Fixed("ReproductionMode", "2"), Uniform("SexRatio", "0.25", "0.75"),
                                               Uniform("NbLoci", "3", "3", true, 1, 8),
                                               Uniform("Mutation", "-1e-3", "1e-3")};
  const std::vector<std::string> lines = models::ABCBatch(landscape, model, 400, true, 7, 3);
  ASSERT_EQ(lines.size(), 800u);
  std::set<std::string> patchCounts;
  double sum = 0, squares = 0;
  for (size_t k = 0; k < lines.size(); k += 2) {
    const tVectorOfString l = Values(lines[k], "MakeLandscape(");
    ASSERT_EQ(l.size(), 2u);
    const int patches = std::stoi(l[0]);
    EXPECT_TRUE(patches >= 2 && patches <= 5 && l[0] == std::to_string(patches)) << l[0];
    patchCounts.insert(l[0]);
    EXPECT_EQ(l[1], "");
    const tVectorOfString m = Values(lines[k + 1], "Simulation(");
    ASSERT_EQ(m.size(), 4u);
    EXPECT_EQ(m[0], "2");
    const double ratio = utile::StrToFloat(m[1]);
    EXPECT_TRUE(ratio >= 0.25 && ratio < 0.75) << m[1];
    sum += ratio;
    squares += ratio * ratio;
    EXPECT_EQ(m[2], "3");
    const double mutation = utile::StrToFloat(m[3]);
    EXPECT_TRUE(mutation >= -1e-3 && mutation < 1e-3) << m[3];
  }
  // Every whole value of the prior is drawn; the reals have the uniform's mean
  // 0.5 and variance 0.25^2 / 3 (five standard errors of 400 draws).
  EXPECT_EQ(patchCounts, std::set<std::string>({"2", "3", "4", "5"}));
  const double mean = sum / 400, variance = squares / 400 - mean * mean;
  EXPECT_NEAR(mean, 0.5, 5 * std::sqrt(0.25 * 0.25 / 3 / 400));
  EXPECT_NEAR(variance, 0.25 * 0.25 / 3, 0.005);

  EXPECT_EQ(models::ABCBatch(landscape, model, 400, true, 7, 3), lines);
  EXPECT_NE(models::ABCBatch(landscape, model, 400, true, 7, 4), lines);
  // Without a landscape per simulation, the simulation lines alone.
  const std::vector<std::string> alone = models::ABCBatch(landscape, model, 3, false, 7, 3);
  ASSERT_EQ(alone.size(), 3u);
  for (const std::string& line : alone) EXPECT_TRUE(line.starts_with("Simulation(")) << line;
  EXPECT_TRUE(models::ABCBatch(landscape, model, 0, true, 7, 3).empty());
}

TEST(IBBatchPriors, BadPriorsAreRefusedByName) {
  struct tCase {
    models::tIBPrior Prior;
    const char* Message;
  };
  const std::vector<tCase> cases = {
      {Uniform("SexRatio", "x", "1"), "The minimum of the prior of SexRatio is not a number: \"x\"."},
      {Uniform("SexRatio", "0", ""), "The maximum of the prior of SexRatio is not a number: \"\"."},
      {Uniform("SexRatio", "0.8", "0.2"),
       "The prior of SexRatio runs from 0.8 down to 0.2: its minimum must not exceed its maximum."},
      {Uniform("NbLoci", "1.5", "4", true, 1, 8),
       "The minimum of the prior of NbLoci must be a whole number: \"1.5\"."},
      {Uniform("NbLoci", "2", "9", true, 1, 8), "The prior of NbLoci must lie within 1 to 8."},
      {Uniform("ReproductionMode", "-1", "2", true, 0, 2), "The prior of ReproductionMode must lie within 0 to 2."},
  };
  for (const tCase& c : cases) {
    const auto draw = [&] { models::ABCBatch({}, {Fixed("A", "1"), c.Prior}, 5, false, 1, 1); };
    EXPECT_EQ(testsupport::MessageOf<utile::EConvertError>(draw), c.Message);
  }
}
