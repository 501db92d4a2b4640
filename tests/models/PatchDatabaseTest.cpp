#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "Utile/RunTime.h"
#include "models/PatchDatabase.h"

using namespace models;

namespace {

tArrayOfCircles SomePatches(size_t n) {
  tArrayOfCircles patches(n);
  for (size_t i = 0; i < n; ++i) patches[i] = {static_cast<Integer>(i + 1), 10.0 * i, 5.0, 40, 0, 0};
  return patches;
}

std::vector<std::string> Column(const tPatchTable& table, int column) {
  std::vector<std::string> texts;
  for (const tPatchRow& row : table) texts.push_back(row[column]);
  return texts;
}

// n1 texts a, then n2 texts b.
std::vector<std::string> Runs(size_t n1, const std::string& a, size_t n2 = 0, const std::string& b = "") {
  std::vector<std::string> texts(n1, a);
  texts.insert(texts.end(), n2, b);
  return texts;
}

}  // namespace

TEST(PatchDatabase, TableHoldsTitlesAndShortestDecimalForms) {
  const tArrayOfCircles patches = {{1, 10, 20, 5, 0.5, 0.1}, {7, -30, 0.25, 1e-7, 0, 1.5e20}};
  const tPatchTable table = PatchTable(patches);
  ASSERT_EQ(table.size(), 2u);
  EXPECT_EQ(table[0], (tPatchRow{"Patch 1", "10", "20", "5", "0.5", "0.1"}));
  // The title counts rows, whatever the patch's identifier.
  EXPECT_EQ(table[1], (tPatchRow{"Patch 2", "-30", "0.25", "1E-7", "0", "1.5E20"}));
  EXPECT_TRUE(PatchTable({}).empty());
}

TEST(PatchDatabase, FillRules) {
  struct tCase {
    const char* Name;
    Integer Mode;
    size_t N;
    tFillParameters Parameters;  // P, q, D, e
    std::vector<std::string> Birth, Extinction;
    Integer Sources;
  };
  // Worked by hand: S = round(n q) (halves to even), at least 1, at most n;
  // Fixed productivity: s = P + D - D S/(n-1) + D/(n-1), k = (nP - Ss)/(n-S).
  // clang-format off
  const std::vector<tCase> cases = {
      {"source/sink of 10", pdSourceSink, 10, {"0.8", "0.3", "0.5", "0"}, Runs(3, "0.8", 7, "0.3"), Runs(10, "0"), 3},
      {"one source at q = 0.01", pdSourceSink, 10, {"0.8", "0.01", "0.5", "0"}, Runs(1, "0.8", 9, "0.3"), Runs(10, "0"), 1},
      {"no source asked for", pdSourceSink, 4, {"0.8", "0", "0.5", "0"}, Runs(1, "0.8", 3, "0.3"), Runs(4, "0"), 1},
      {"round(2.5) = 2", pdSourceSink, 10, {"2", "0.25", "1", "0.1"}, Runs(2, "2", 8, "1"), Runs(10, "0.1"), 2},
      {"round(3.5) = 4", pdSourceSink, 10, {"2", "0.35", "1", "0.1"}, Runs(4, "2", 6, "1"), Runs(10, "0.1"), 4},
      {"more sources than patches", pdSourceSink, 3, {"0.8", "2.5", "0.5", "0"}, Runs(3, "0.8"), Runs(3, "0"), 3},
      {"unreadable parameters count as 1", pdSourceSink, 3, {"abc", "0.5", "", "x"}, Runs(2, "1", 1, "0"), Runs(3, "x"), 2},
      {"the extinction text as typed", pdFixedProductivity, 2, {"1.1", "1", "1", " 5E-2"}, Runs(2, "1.1"), Runs(2, " 5E-2"), 2},
      {"q = 1: all sources at once", pdFixedProductivity, 5, {"1.1", "1", "1", "0"}, Runs(5, "1.1"), Runs(5, "0"), 5},
      {"four patches shrink twice", pdFixedProductivity, 4, {"0.5", "0.5", "1", "0"}, Runs(2, "0.945", 2, "0.055"), Runs(4, "0"), 2},
      // s = 1.5 - 2/9 + 1/9 = 1.38889, k = (5 - 2s)/8 = 0.277778 at once.
      {"sinks in range at once", pdFixedProductivity, 10, {"0.5", "0.2", "1", "0"}, Runs(2, "1.3889", 8, "0.27778"), Runs(10, "0"), 2},
      // s = 2 x 1.1^10 = 5.18748 (at 1.1^9 k is still 1.0947), k = (8 - s)/3 = 0.937505.
      {"the source value grows", pdFixedProductivity, 4, {"2", "0.25", "0", "0"}, Runs(1, "5.1875", 3, "0.93751"), Runs(4, "0"), 1},
      {"a single patch is a source of P", pdFixedProductivity, 1, {"0.7", "0.3", "1", "0.2"}, Runs(1, "0.7"), Runs(1, "0.2"), 1},
      {"more sources than patches", pdFixedProductivity, 3, {"0.6", "4", "1", "0"}, Runs(3, "0.6"), Runs(3, "0"), 3},
  };
  // clang-format on
  for (const tCase& c : cases) {
    SCOPED_TRACE(c.Name);
    tPatchTable table = PatchTable(SomePatches(c.N));
    const tPatchTable before = table;
    const tFillResult result = FillPatchTable(table, c.Mode, c.Parameters);
    EXPECT_TRUE(result.Filled);
    EXPECT_FALSE(result.SinksHeld);
    EXPECT_EQ(result.Sources, c.Sources);
    EXPECT_EQ(Column(table, pcBirth), c.Birth);
    EXPECT_EQ(Column(table, pcExtinction), c.Extinction);
    for (int column : {pcTitle, pcX, pcY, pcArea}) EXPECT_EQ(Column(table, column), Column(before, column));
  }
}

TEST(PatchDatabase, CustomAndLoadedModesFillNothing) {
  for (Integer mode : {pdCustomParameters, pdLoadedFromFile}) {
    tPatchTable table = PatchTable(SomePatches(4));
    const tPatchTable before = table;
    EXPECT_FALSE(FillPatchTable(table, mode, {"0.8", "0.3", "0.5", "0.2"}).Filled);
    EXPECT_EQ(table, before);
  }
}

TEST(PatchDatabase, FixedProductivityThatFindsNoSinkValueEnds) {
  struct tCase {
    const char* Name;
    size_t N;
    tFillParameters Parameters;
    bool Held;  // provably held; otherwise either outcome, checked for what it claims
    std::string SinkText;
  };
  const std::vector<tCase> cases = {
      // A negative mean: k < 0 whatever the positive source value.
      {"negative productivity", 4, {"-1", "0.5", "1", "0"}, true, "0"},
      // P = 0: s = 2/3 shrinks toward 0 and k = -s stays below 0.
      {"zero productivity", 4, {"0", "0.5", "1", "0"}, true, "0"},
      // s = -1 + 1 - 0 = 0 cannot be scaled.
      {"a source value of 0", 3, {"-1", "0.1", "1", "0"}, true, "0"},
      // k lies in [0, 1] only for s in [999/99, 1000/99], narrower than one step:
      // the walk may land there or give up.
      {"a narrow sink range", 100, {"10", "0.99", "1", "0"}, false, ""},
      {"a narrower sink range", 1000, {"100", "0.999", "3", "0"}, false, ""},
  };
  for (const tCase& c : cases) {
    SCOPED_TRACE(c.Name);
    tPatchTable table = PatchTable(SomePatches(c.N));
    const tFillResult result = FillPatchTable(table, pdFixedProductivity, c.Parameters);
    const double P = std::stod(c.Parameters.OverallProductivity);
    EXPECT_TRUE(std::isfinite(result.SourceValue));
    EXPECT_GE(result.SinkValue, 0.0);
    EXPECT_LE(result.SinkValue, 1.0);
    if (c.Held) {
      EXPECT_TRUE(result.SinksHeld);
      EXPECT_EQ(table.back()[pcBirth], c.SinkText);
    }
    if (!result.SinksHeld) {
      // The mean over all patches is P.
      const double mean =
          (result.Sources * result.SourceValue + (c.N - result.Sources) * result.SinkValue) / c.N;
      EXPECT_NEAR(mean, P, 1e-9 * std::abs(P));
    }
    // The rows say what the result says.
    EXPECT_EQ(table.front()[pcBirth], utile::Format("%.5g", result.SourceValue));
    EXPECT_EQ(table.back()[pcBirth], utile::Format("%.5g", result.SinkValue));
  }
}

TEST(PatchDatabase, ApplyWritesEditedCellsOnly) {
  // x = 0.1 + 0.2 reads "0.3" in the table, which is another number.
  const tCircle start{1, 0.1 + 0.2, 20, 5, 0.5, 0.1};
  struct tCase {
    const char* Name;
    int Column;
    std::string Text;
    double Expected;
    bool Changed;
    bool Refused;
  };
  const std::vector<tCase> cases = {
      {"left as written", pcX, "0.3", 0.1 + 0.2, false, false},
      {"a new x", pcX, "12.5", 12.5, true, false},
      {"a negative x", pcX, "-3", -3, true, false},
      {"a comma", pcY, "1,5", 1.5, true, false},
      {"blanks around", pcBirth, " 0.25 ", 0.25, true, false},
      {"the same number written otherwise", pcY, "2E1", 20, false, false},
      {"not a number", pcArea, "abc", 5, false, false},
      {"empty", pcExtinction, "", 0.1, false, false},
      {"too large to hold", pcX, "1E400", 0.1 + 0.2, false, false},
      {"a negative area", pcArea, "-3", 5, false, true},
      {"an area of 0", pcArea, "0", 0, true, false},
  };
  double tCircle::*const fields[] = {nullptr,     &tCircle::x, &tCircle::y,
                                     &tCircle::A, &tCircle::b, &tCircle::e};
  for (const tCase& c : cases) {
    SCOPED_TRACE(c.Name);
    tArrayOfCircles patches = {start, {2, 1, 2, 3, 4, 5}};
    const tPatchTable written = PatchTable(patches);
    tPatchTable cells = written;
    cells[0][c.Column] = c.Text;
    const tApplyResult result = ApplyPatchTable(cells, written, patches);
    EXPECT_EQ(result.Changed, c.Changed);
    EXPECT_EQ(result.Refused,
              c.Refused ? std::vector<std::string>{"Patch 1, Area A"} : std::vector<std::string>{});
    EXPECT_EQ(std::bit_cast<uint64_t>(patches[0].*fields[c.Column]), std::bit_cast<uint64_t>(c.Expected));
    // Every other field, and the other patch, exactly as they were.
    for (int column = pcX; column < PatchColumnCount; ++column) {
      if (column == c.Column) continue;
      EXPECT_EQ(std::bit_cast<uint64_t>(patches[0].*fields[column]),
                std::bit_cast<uint64_t>(start.*fields[column]));
    }
    EXPECT_EQ(patches[0].popID, 1);
    EXPECT_EQ(patches[1].x, 1);
    EXPECT_EQ(patches[1].e, 5);
  }
}

TEST(PatchDatabase, ApplyRefusesATableOfAnotherLandscape) {
  tArrayOfCircles patches = SomePatches(3);
  const tPatchTable written = PatchTable(SomePatches(4));
  tPatchTable cells = written;
  cells[0][pcX] = "99";
  EXPECT_THROW(ApplyPatchTable(cells, written, patches), utile::EInvalidOperation);
  cells.pop_back();
  EXPECT_THROW(ApplyPatchTable(cells, written, patches), utile::EInvalidOperation);
  EXPECT_EQ(patches[0].x, 0);
}
