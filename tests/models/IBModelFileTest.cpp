#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "TestSupport/ExceptionMessages.h"
#include "TestSupport/Measurement.h"
#include "Utile/RunTime.h"
#include "models/EventCells.h"
#include "models/IBModelFile.h"

using namespace models;
using testsupport::MessageOf;

namespace {

std::string Lines(const std::vector<std::string>& lines, const char* end = "\r\n") {
  std::string text;
  for (const std::string& line : lines) text += line + end;
  return text;
}

// The header of each version, line by line, then the same four cells:
// Birth -> Aging -> Reproduction (ceiling) -> Death (censused).
const std::vector<std::string> Header1 = {"IBsimple 1", "01/02/2003", "Vole",  "1", "20", "250",
                                          "0.5",        "0.1",        "0.001", "1", "0.3"};
const std::vector<std::string> Cells = {"0",    "5\t125",   "1",  "-1", "nil", "nil", "-999",  //
                                        "2",    "80\t125",  "2",  "-1", "nil", "nil", "-999",  //
                                        "5",    "155\t125", "3",  "-1", "2.5", "nil", "1",     //
                                        "9",    "230\t125", "-1", "-1", "nil", "nil", "1",     //
                                        "-9999"};
const std::string Genes = "0.1\t\t0.3\t0.0\t0.0\t0.0\t0.0\t0.0\t0.0\t0.0\t0.0\t0.0\t0.0\t0.0\t0.0\t0.9\t";

std::vector<std::string> Version(int version) {
  std::vector<std::string> lines = Header1;
  lines[0] = "IBsimple " + std::to_string(version);
  if (version >= 2) lines.push_back("1");
  if (version >= 4) lines.push_back(Genes);
  lines.push_back("---");
  lines.insert(lines.end(), Cells.begin(), Cells.end());
  return lines;
}

// (each version is read into the workbench in its own tests)
TEST(IBModelFile, WritesVersionFourByteForByte) {
  tIBModelFile model = ParseModelFile(Lines(Version(4)), "vole.model");
  EXPECT_EQ(model.Genes[1], "");  // gene texts as typed, an empty one too
  model.Version = 1;              // what is written is always version 4
  EXPECT_EQ(ModelFileText(model), Lines(Version(4)));
  EXPECT_EQ(ModelFileText(ParseModelFile(Lines(Version(4), "\n"), "vole.model")), Lines(Version(4)));

  const std::string fileName = testing::TempDir() + "written.model";
  SaveModelFile(fileName, model);
  EXPECT_EQ(utile::LoadTextFromFile(fileName), Lines(Version(4)));
  EXPECT_EQ(LoadModelFile(fileName).Cells.size(), 4u);
  std::filesystem::remove(fileName);
}

TEST(IBModelFile, LinksOutsideTheCellsAreNoLinks) {
  std::vector<tModelFileCell> saved(3);
  saved[0] = {leBirth, 5, 5, 1, -1, {}, {}, NoListEntry};
  saved[1] = {leRandom, 80, 5, 3, -1, {}, {}, NoListEntry};  // one beyond the three cells
  saved[2] = {leDeath, 155, 5, -7, 2, {}, {}, 0};
  const auto cells = EventCellsFromFile(saved);
  EXPECT_EQ(cells[0]->NextEvent, cells[1].get());
  EXPECT_EQ(cells[1]->NextEvent, nullptr);
  EXPECT_EQ(cells[1]->AltEvent, nullptr);
  EXPECT_EQ(cells[2]->NextEvent, nullptr);
  EXPECT_EQ(cells[2]->AltEvent, cells[2].get());  // kept: the check reports it as a loop
}

TEST(IBModelFile, RefusesBadFilesNamingFileAndFault) {
  const auto with = [](size_t line, const std::string& text) {
    std::vector<std::string> lines = Version(4);
    lines[line] = text;
    return Lines(lines);
  };
  const auto without = [](size_t line) {
    std::vector<std::string> lines = Version(4);
    lines.erase(lines.begin() + line);
    return Lines(lines);
  };
  struct tCase {
    const char* Name;
    std::string Text;
    std::string Message;
  };
  const std::string prefix = "Error in the model file \"bad.model\", line ";
  const std::vector<tCase> cases = {
      {"another first line", with(0, "IBsimpel 4"),
       "Bad Individual-based model file \"bad.model\", line 1: \"IBsimple\" expected."},
      {"an empty file", "", "Bad Individual-based model file \"bad.model\", line 1: \"IBsimple\" expected."},
      {"no \"---\"", with(13, "--"), prefix + "14: \"---\" expected after the parameters."},
      {"a version 1 header under version 4", Lines(Version(1)).replace(9, 1, "4"),
       prefix + "14: \"---\" expected after the parameters."},
      {"a word for a number", with(4, "twenty"),
       prefix + "5: the extinction threshold expected as a whole number, \"twenty\" found."},
      {"reproduction mode 3", with(3, "3"),
       prefix + "4: reproduction mode 3 is not one of 0 (Clonal) to 2 (Sexuate)."},
      {"event type 13", with(21, "13"), prefix + "22: event type 13 is not the type of a life-cycle event."},
      {"the end event as a cell", with(21, "10"),
       prefix + "22: event type 10 is not the type of a life-cycle event."},
      {"a third parameter beyond its list", with(34, "4"),
       prefix + "35: entry 4 is not in the list of the Reproduction event (0 to 3)."},
      {"a list without its choice", with(41, "-999"),
       prefix + "42: entry -999 is not in the list of the Death event (0 to 1)."},
      {"a second Birth event", with(21, "0"), prefix + "22: a second Birth event."},
      {"a position without Top", with(15, "5"),
       prefix + "16: the cell's position expected as Left, a TAB and Top, \"5\" found."},
      {"no \"-9999\"", without(42), prefix + "43: the file ends where an event type or \"-9999\" is due."},
  };
  for (const tCase& c : cases) {
    SCOPED_TRACE(c.Name);
    EXPECT_EQ(MessageOf<utile::EInOutError>([&] { ParseModelFile(c.Text, "bad.model"); }), c.Message);
  }
  // Cut anywhere before the end of "-9999", the file is refused.
  const std::string good = Lines(Version(4));
  for (size_t cut = 0; cut + 2 < good.size(); ++cut) {
    const std::string message =
        MessageOf<utile::EInOutError>([&] { ParseModelFile(good.substr(0, cut), "bad.model"); });
    ASSERT_NE(message.find("\"bad.model\""), std::string::npos) << cut << ": " << message;
  }
  EXPECT_NE(MessageOf<utile::EInOutError>([] {
              LoadModelFile(testing::TempDir() + "missing.model");
            }).find("missing.model"),
            std::string::npos);
}

// Birth -> Aging -> (Synchronisation -> Density-dependence, the lost to Death)
// `blocks` times -> Reproduction -> Death: every Density-dependence cell asks
// for the cell that leads to it.
std::string LongCycleFile(int blocks) {
  tIBModelFile model = ParseModelFile(Lines(Version(4)), "vole.model");
  const int reproduction = 2 + 2 * blocks, death = reproduction + 1;
  const auto cell = [&model](tLifeEventType type, int next, int alt, const char* param1, int param3) {
    const int i = static_cast<int>(model.Cells.size());
    model.Cells.push_back({type, 5 + 75 * (i % 100), 125 * (i / 100), next, alt, {}, {}, param3});
    if (param1) model.Cells.back().Param1 = param1;
  };
  model.Cells.clear();
  cell(leBirth, 1, -1, nullptr, NoListEntry);
  cell(leGetOlder, 2, -1, nullptr, NoListEntry);
  for (int k = 0; k < blocks; ++k) {
    cell(leSynchro, 3 + 2 * k, -1, nullptr, NoListEntry);
    cell(leRegulation, 4 + 2 * k, death, nullptr, 0);
  }
  cell(leReproduction, death, -1, "2.5", 0);
  cell(leDeath, -1, -1, nullptr, 1);
  return ModelFileText(model);
}

// What opening a model file does before anything is shown: read, cells made, cycle checked.
size_t ReadAndCheck(const std::string& text) {
  tEventCells cells;
  cells.Assign(EventCellsFromFile(ParseModelFile(text, "long.model").Cells));
  std::string messages;
  tLifeCycle cycle;
  EXPECT_TRUE(cells.BuildCycle(messages, cycle, rmSexuate, 0.5)) << messages;
  return cycle.size();
}

TEST(IBModelFile, ALongLifeCycleIsReadAndCheckedInTimeInProportionToItsCells) {
  const std::string few = LongCycleFile(1998), many = LongCycleFile(19998);
  EXPECT_GT(many.size(), 1'000'000u);
  size_t fewCells = 0, manyCells = 0;
  const double fewSeconds = testsupport::BestSeconds([&] { fewCells = ReadAndCheck(few); });
  const double manySeconds = testsupport::BestSeconds([&] { manyCells = ReadAndCheck(many); });
  EXPECT_EQ(std::make_pair(fewCells, manyCells), std::make_pair(size_t{4000}, size_t{40000}));
  // Ten times the cells: a check that looked at every cell for each took a hundred
  // times the time. Under the sanitizers, which slow some work far more than other,
  // a bound fifty times what the many cells take here stands for the ratio.
  if (testsupport::UnderSanitizers) {
    EXPECT_LT(manySeconds, 10.0);
  } else {
    EXPECT_LT(manySeconds, 30 * fewSeconds);
  }
}

}  // namespace
