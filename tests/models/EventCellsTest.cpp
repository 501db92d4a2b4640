#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "IBMHarness.h"
#include "Utile/RandomFunctions.h"
#include "Utile/StringOps.h"
#include "models/EventCells.h"

using namespace models;

namespace {

// One cell of a drawing made in code: links by creation index, -1 for none.
struct tDrawnCell {
  tLifeEventType Type;
  int Next = -1;
  int Alt = -1;
  std::string Param1 = "";
  std::string Param2 = "";
  int Param3 = -1;  // -1: the cell's own default
};

void Draw(tEventCells& cells, const std::vector<tDrawnCell>& drawing) {
  for (size_t i = 0; i < drawing.size(); ++i) {
    tEventCell* cell = cells.CreateEventCell(drawing[i].Type, 5 + 75 * static_cast<int>(i), 5);
    cell->Param1 = drawing[i].Param1;
    cell->Param2 = drawing[i].Param2;
    if (drawing[i].Param3 >= 0) cell->Param3 = drawing[i].Param3;
  }
  for (size_t i = 0; i < drawing.size(); ++i) {
    if (drawing[i].Next >= 0) cells.Cell(i)->NextEvent = cells.Cell(drawing[i].Next);
    if (drawing[i].Alt >= 0) cells.Cell(i)->AltEvent = cells.Cell(drawing[i].Alt);
  }
}

constexpr auto B = leBirth, Sx = leSexConditional, A = leGetOlder, Sv = leSurvival, Ds = leDispersal,
               R = leReproduction, Dd = leRegulation, Sy = leSynchro, Rn = leRandom, D = leDeath,
               G = leGeneConditional, T = leTag;

const std::string AgeZero = "Reproduction cannot occur at age 0. Place an Aging event before Reproduction";

struct tCheckCase {
  const char* Name;
  std::vector<tDrawnCell> Cells;
  tReproductionMode Mode;
  double JuvenileWeight;
  std::vector<std::string> Messages;
};

// Every finding of the check, with its exact text, in the order of the check:
// missing event types, the depth-first walk, then each cell in walk order.
TEST(EventCellsCheck, ReportsEveryFindingInOrder) {
  const auto S = rmSexuate;
  // clang-format off
  const std::vector<tCheckCase> cases = {
      {"fresh workbench", {{B}}, S, 0, {"No Aging event", "No Reproduction event", "Death event missing"}},
      {"nothing drawn", {}, S, 0, {"No Birth event", "No Aging event", "No Reproduction event"}},
      {"no Birth cell", {{A, 1}, {R, 2, -1, "2"}, {D}}, S, 0, {"No Birth event"}},
      {"sex-dependence in a clonal species without male branch",
       {{B, 1}, {Sx, 2}, {A, 3}, {R, 4, -1, "1"}, {D}}, rmClonal, 0,
       {"Erroneous connectivity: No sex-dependence male event", "Sex-dependence event in an asexuate species"}},
      {"rates out of range, in walk order",
       {{B, 1}, {A, 2}, {Sv, 3, -1, "x"}, {Ds, 4, -1, "2", "1"}, {R, 5, -1, "-1"}, {Rn, 6, -1, "1.5"}, {D}}, S, 0,
       {"Incorrect survival rate", "Incorrect dispersal survival rate", "Incorrect fecundity",
        "Incorrect random probability", "Erroneous connectivity: No random alternate event"}},
      {"bounds of the rates are allowed; an empty dispersal survival reads as 1",
       {{B, 1}, {A, 2}, {Sv, 3, -1, "1"}, {Ds, 4, -1, "", "1"}, {Rn, 5, 5, "0"}, {R, 6, -1, "0"}, {D}}, S, 0, {}},
      {"density-dependent reproduction after a Survival event, juvenile weight 1",
       {{B, 1}, {A, 2}, {Sv, 3, -1, "1"}, {R, 4, -1, "2", "", rtCeiling}, {D}}, S, 1,
       {"No synchronisation event before density-dependent reproduction",
        "A Reproduction event is density-dependent but juvenile regulation weight is set to 1."}},
      {"density-dependent reproduction right after Aging",
       {{B, 1}, {A, 2}, {R, 3, -1, "2", "", rtRicker}, {D}}, S, 0, {}},
      {"density-dependence on juveniles, unsynchronised, without its lose branch",
       {{B, 1}, {Dd, 2}, {A, 3}, {R, 4, -1, "2"}, {D}}, S, 0,
       {"Erroneous connectivity: No Density-dependence \"lose\" event",
        "No synchronisation event before Density-dependence event",
        "A Density-dependence event occurs for juveniles but juvenile regulation weight is set to 0."}},
      {"density-dependence on adults with juvenile weight 1",
       {{B, 1}, {A, 2}, {R, 3, -1, "2"}, {Sy, 4}, {Dd, 5, 5}, {D}}, S, 1,
       {"A Density-dependence event occurs for adults but juvenile regulation weight is set to 1."}},
      {"gene-dependence without mutant branch", {{B, 1}, {A, 2}, {G, 3, -1, "3"}, {R, 4, -1, "1"}, {D}}, S, 0,
       {"Erroneous connectivity: No Gene-dependence mutant event"}},
      {"reproduction leading back to Aging", {{B, 1}, {A, 2}, {R, 1, -1, "1"}}, S, 0,
       {"Erroneous connectivity: Looping cycle at 2"}},
      {"a Tagging cell that follows itself", {{B, 1}, {A, 2}, {R, 3, -1, "1"}, {T, 3, -1, "1"}}, S, 0,
       {"Erroneous connectivity: Looping cycle at 4"}},
      {"two cells that follow each other", {{B, 1}, {A, 2}, {R, 3, -1, "1"}, {Sv, 2, -1, "1"}}, S, 0,
       {"Erroneous connectivity: Looping cycle at 3"}},
      {"a cell that nothing reaches", {{B, 1}, {A, 2}, {R, 3, -1, "1"}, {D}, {Sv, 3, -1, "0.5"}}, S, 0,
       {"Erroneous connectivity: unconnected event"}},
      {"reproduction before any Aging", {{B, 1}, {R, 2, -1, "1"}, {A, 3}, {D}}, S, 0, {AgeZero}},
      {"males reach reproduction without ageing, females after",
       {{B, 1}, {Sx, 2, 3}, {A, 3}, {R, 4, -1, "1"}, {D}}, S, 0, {AgeZero}},
      {"males pass three more events before joining the females",
       {{B, 1}, {Sx, 2, 6}, {A, 3}, {Sv, 4, -1, "1"}, {R, 5, -1, "1"}, {D}, {Sv, 7, -1, "1"}, {Sv, 8, -1, "1"},
        {A, 3}}, S, 0, {}},
      {"findings of every stage", {{B, 1}, {Sv, -1, -1, "7"}}, S, 0,
       {"No Aging event", "No Reproduction event", "Death event missing", "Incorrect survival rate"}},
  };
  // clang-format on
  for (const tCheckCase& c : cases) {
    SCOPED_TRACE(c.Name);
    tEventCells cells;
    Draw(cells, c.Cells);
    std::string messages = "left over";
    tLifeCycle cycle;
    const bool correct = cells.BuildCycle(messages, cycle, c.Mode, c.JuvenileWeight);
    EXPECT_EQ(utile::TextLines(messages), c.Messages);
    EXPECT_EQ(correct, c.Messages.empty());
    // Lines are separated by CR LF, the last one has none.
    EXPECT_FALSE(messages.ends_with("\n"));
  }
}

struct tCycleCase {
  const char* Name;
  std::vector<tDrawnCell> Cells;
  // By depth-first position.
  std::vector<tLifeEventType> Types;
  std::vector<Integer> Next;
  std::vector<Integer> Alt;
};

// A correct drawing becomes the event array in walk order, links as positions;
// the engine makes it runnable and runs a time step with it.
TEST(EventCellsCheck, CorrectDrawingsBecomeRunnableCycles) {
  // clang-format off
  const std::vector<tCycleCase> cases = {
      {"drawn in another order than walked", {{B, 4}, {D}, {R, 1, -1, "2"}, {Sv, 2, -1, "0.8"}, {A, 3}},
       {B, A, Sv, R, D}, {1, 2, 3, 4, -1}, {-1, -1, -1, -1, -1}},
      {"a random branch joining at Death", {{B, 1}, {A, 2}, {Rn, 3, 4, "0.5"}, {R, 4, -1, "3"}, {D}},
       {B, A, Rn, R, D}, {1, 2, 3, 4, -1}, {-1, -1, 4, -1, -1}},
      {"dispersal and regulation",
       {{B, 1}, {A, 2}, {Ds, 3, -1, "0.9", "10"}, {Sy, 4}, {Dd, 5, 6}, {R, 6, -1, "2"}, {D, -1, -1, "", "", 1}},
       {B, A, Ds, Sy, Dd, R, D}, {1, 2, 3, 4, 5, 6, -1}, {-1, -1, -1, -1, 6, -1, -1}},
      {"males join the females three events later",
       {{B, 1}, {Sx, 2, 6}, {A, 3}, {Sv, 4, -1, "1"}, {R, 5, -1, "1"}, {D}, {T, 7, -1, "2"}, {G, 8, 8, "1"},
        {A, 3}},
       {B, Sx, A, Sv, R, D, T, G, A}, {1, 2, 3, 4, 5, -1, 7, 8, 3}, {-1, 6, -1, -1, -1, -1, -1, 8, -1}},
  };
  // clang-format on
  for (const tCycleCase& c : cases) {
    SCOPED_TRACE(c.Name);
    tEventCells cells;
    Draw(cells, c.Cells);
    std::string messages;
    tLifeCycle cycle;
    ASSERT_TRUE(cells.BuildCycle(messages, cycle, rmSexuate, 0.5)) << messages;
    ASSERT_EQ(cycle.size(), c.Types.size());
    for (size_t i = 0; i < cycle.size(); ++i) {
      EXPECT_EQ(cycle[i].EventType, c.Types[i]) << i;
      EXPECT_EQ(cycle[i].NextEvent, c.Next[i]) << i;
      EXPECT_EQ(cycle[i].AltEvent, c.Alt[i]) << i;
      EXPECT_EQ(cells.EventOrder()[i]->Position(), static_cast<Integer>(i));
    }

    ibmtest::SetLineLandscape(2);
    tMetaPop metapop;
    utile::SetSeeds(5, 7);
    ibmtest::Build(metapop, rmSexuate, {{10, 6}, {10, 6}}, cycle);
    EXPECT_EQ(metapop.Species->EventCount(), static_cast<Integer>(cycle.size()) + 1);
    metapop.TimeStep(1);
    EXPECT_EQ(metapop.Time, 2u);
  }
}

// What the parameters read as reaches the array and the cell's description.
TEST(EventCellsCheck, ReadsParametersAndWritesLocusAndTagBack) {
  struct tCase {
    tLifeEventType Type;
    std::string Typed;
    std::string WrittenBack;
    Integer Value;
  };
  // clang-format off
  const std::vector<tCase> cases = {
      {G, "20", "15", 15}, {G, "-3", "0", 0}, {G, "2.5", "2", 2}, {G, "3,4", "3", 3}, {G, "abc", "0", 0},
      {T, "7.6", "8", 8}, {T, "-2", "-2", -2}, {T, "", "0", 0}, {T, "1e12", "2147483647", 2147483647}};
  // clang-format on
  for (const tCase& c : cases) {
    SCOPED_TRACE(c.Typed);
    tEventCells cells;
    Draw(cells, {{B, 1}, {A, 2}, {R, 3, -1, "1"}, {c.Type, 4, 4, c.Typed}, {D}});
    std::string messages;
    tLifeCycle cycle;
    cells.BuildCycle(messages, cycle, rmSexuate, 0);
    EXPECT_EQ(cells.Cell(3)->Param1, c.WrittenBack);
    EXPECT_EQ(c.Type == G ? cycle[3].Locus : cycle[3].Tag, c.Value);
  }

  // Either decimal separator; defaults for unreadable texts; the list entries.
  tEventCells cells;
  Draw(cells, {{B, 1}, {A, 2}, {Ds, 3, -1, "0,25", "x", 1}, {R, 4, -1, "3", "", rtGompertz}, {D}});
  std::string messages;
  tLifeCycle cycle;
  cells.BuildCycle(messages, cycle, rmSexuate, 0);
  EXPECT_EQ(cycle[2].DispSurvival, 0.25);
  EXPECT_EQ(cycle[2].Weighting, -1);
  EXPECT_EQ(cycle[2].DispType, diArcTan);
  EXPECT_EQ(cycle[3].ReproductionType, rtGompertz);
  EXPECT_EQ(cycle[4].DeathStat, dsCensused);  // a new Death cell is censused
  EXPECT_EQ(cells.Cell(2)->Description, "Survival=0.25, Weighting=-1, Type=Angle of vision (ArcTan)");
  EXPECT_EQ(cells.Cell(3)->Caption(), "Event 4: Reproduction");
}

// ------------------------------------------------------------------ editing
// (placement, unstacking and the link rules are driven with the mouse in the
// workbench's tests)

TEST(EventCellsEditing, RemovalRedirectsLinksButNeverToTheCellItself) {
  tEventCells cells;
  // Birth -> Random (both branches to Survival) -> Survival -> Aging -> back to Survival.
  Draw(cells, {{B, 1}, {Rn, 2, 2}, {Sv, 3}, {A, 2}, {D}});
  tEventCell* random = cells.Cell(1);
  tEventCell* aging = cells.Cell(3);
  cells.SelectCell(cells.Cell(2));
  EXPECT_FALSE(cells.Remove(cells.Cell(0)));
  EXPECT_TRUE(cells.Remove(cells.Cell(2)));
  EXPECT_EQ(cells.Count(), 4);
  EXPECT_EQ(cells.SelectedCell(), nullptr);
  EXPECT_EQ(random->NextEvent, aging);
  EXPECT_EQ(random->AltEvent, aging);
  EXPECT_EQ(aging->NextEvent, nullptr);  // not to itself
  // A cell is never dropped off the area.
  cells.MoveCell(aging, 10, -40);
  EXPECT_EQ(aging->Left, 0);
  EXPECT_EQ(aging->Top, 0);
}

}  // namespace
