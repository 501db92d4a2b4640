#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <string>
#include <vector>

#include "TestSupport/NumericLocale.h"
#include "Utile/RunTime.h"
#include "models/PatchDatabase.h"

using namespace models;

namespace {
tPatchTable TableOf(size_t n) {
  return PatchTable(tArrayOfCircles(n, {1, 10, 5, 40, 0, 0}));
}
// The birth column: n1 texts a, then the rest b.
std::vector<std::string> Birth(const tPatchTable& table) {
  std::vector<std::string> texts;
  for (const tPatchRow& row : table) texts.push_back(row[pcBirth]);
  return texts;
}
std::vector<std::string> Runs(size_t n1, const std::string& a, size_t n2 = 0, const std::string& b = "") {
  std::vector<std::string> texts(n1, a);
  texts.insert(texts.end(), n2, b);
  return texts;
}
}  // namespace

TEST(PatchDatabase, FillRules) {
  // Worked by hand: S = round(n q) (halves to even), at least 1, at most n;
  // s = P + D - D S/(n-1) + D/(n-1), k = (nP - Ss)/(n-S).
  struct tCase {
    Integer Mode;
    size_t N;
    tFillParameters Parameters;  // P, q, D, e
    std::vector<std::string> Birth;
  };
  // clang-format off
  const std::vector<tCase> cases = {
      {pdSourceSink, 10, {"2", "0.25", "1", "0"}, Runs(2, "2", 8, "1")},     // round(2.5) = 2
      {pdSourceSink, 10, {"2", "0.35", "1", "0"}, Runs(4, "2", 6, "1")},     // round(3.5) = 4
      {pdSourceSink, 4, {"0.8", "0", "0.5", "0"}, Runs(1, "0.8", 3, "0.3")}, // no source asked for
      {pdSourceSink, 3, {"0.8", "2.5", "0.5", "0"}, Runs(3, "0.8")},         // more sources than patches
      {pdSourceSink, 3, {"abc", "0.5", "", "0"}, Runs(2, "1", 1, "0")},      // unreadable: 1
      {pdFixedProductivity, 3, {"0.6", "4", "1", "0"}, Runs(3, "0.6")},
      {pdFixedProductivity, 1, {"0.7", "0.3", "1", "0"}, Runs(1, "0.7")},    // one patch: a source of P
      // s = 1.5 - 1/9 = 1.38889, k = (5 - 2s)/8 = 0.277778 at once.
      {pdFixedProductivity, 10, {"0.5", "0.2", "1", "0"}, Runs(2, "1.3889", 8, "0.27778")},
      // s = 2 x 1.1^10 = 5.18748 (at 1.1^9 k is still 1.0947), k = (8 - s)/3.
      {pdFixedProductivity, 4, {"2", "0.25", "0", "0"}, Runs(1, "5.1875", 3, "0.93751")},
  };
  // clang-format on
  for (const tCase& c : cases) {
    SCOPED_TRACE(c.Parameters.OverallProductivity + " " + c.Parameters.SourceProportion);
    tPatchTable table = TableOf(c.N);
    table[0][pcExtinction] = "old";
    EXPECT_FALSE(FillPatchTable(table, c.Mode, c.Parameters).SinksHeld);
    EXPECT_EQ(Birth(table), c.Birth);
    EXPECT_EQ(table[0][pcExtinction], "0");
    EXPECT_EQ(table[0][pcX], "10");
  }
}

TEST(PatchDatabase, FixedProductivityThatFindsNoSinkValueEnds) {
  struct tCase {
    size_t N;
    tFillParameters Parameters;
    bool Held;  // provably; otherwise the outcome is checked for what it claims
  };
  const std::vector<tCase> cases = {
      {4, {"-1", "0.5", "1", "0"}, true},  // a negative mean: k < 0 for any positive s
      {4, {"0", "0.5", "1", "0"}, true},   // s = 2/3 shrinks toward 0 and k = -s stays below 0
      {3, {"-1", "0.1", "1", "0"}, true},  // s = -1 + 1 - 0 = 0 cannot be scaled
      // k is in [0, 1] only for s in [999/99, 1000/99], narrower than one step.
      {100, {"10", "0.99", "1", "0"}, false},
      {1000, {"100", "0.999", "3", "0"}, false},
  };
  for (const tCase& c : cases) {
    SCOPED_TRACE(c.N);
    tPatchTable table = TableOf(c.N);
    const tFillResult result = FillPatchTable(table, pdFixedProductivity, c.Parameters);
    EXPECT_TRUE(std::isfinite(result.SourceValue));
    EXPECT_TRUE(result.SinkValue >= 0 && result.SinkValue <= 1);
    EXPECT_TRUE(result.SinksHeld || !c.Held);
    // What is not held has the mean asked for.
    const double P = testsupport::PointNumber(c.Parameters.OverallProductivity), S = result.Sources;
    const double mean = (S * result.SourceValue + (c.N - S) * result.SinkValue) / c.N;
    EXPECT_TRUE(result.SinksHeld || std::abs(mean - P) <= 1e-9 * P);
    EXPECT_EQ(table.front()[pcBirth], utile::Format("%.5g", result.SourceValue));
    EXPECT_EQ(table.back()[pcBirth], utile::Format("%.5g", result.SinkValue));
  }
}

TEST(PatchDatabase, ApplyWritesEditedCellsOnly) {
  // x = 0.1 + 0.2 shows as "0.3", which is another number.
  const tCircle start{1, 0.1 + 0.2, 20, 5, 0.5, 0.1};
  struct tCase {
    int Column;
    std::string Text;
    double Expected;
    bool Changed, Refused;
  };
  const std::vector<tCase> cases = {
      {pcX, "0.3", 0.1 + 0.2, false, false},  // left as written
      {pcX, "-3", -3, true, false},
      {pcY, "1,5", 1.5, true, false},
      {pcBirth, " 0.25 ", 0.25, true, false},
      {pcY, "2E1", 20, false, false},
      {pcArea, "abc", 5, false, false},
      {pcExtinction, "", 0.1, false, false},
      {pcX, "1E400", 0.1 + 0.2, false, false},
      {pcArea, "-3", 5, false, true},
      {pcArea, "0", 0, true, false},
  };
  double tCircle::*const fields[] = {nullptr,     &tCircle::x, &tCircle::y,
                                     &tCircle::A, &tCircle::b, &tCircle::e};
  for (const tCase& c : cases) {
    SCOPED_TRACE(c.Text);
    tArrayOfCircles patches = {start, {2, 1, 2, 3, 4, 5}};
    const tPatchTable written = PatchTable(patches);
    tPatchTable cells = written;
    cells[0][c.Column] = c.Text;
    const tApplyResult result = ApplyPatchTable(cells, written, patches);
    EXPECT_EQ(result.Changed, c.Changed);
    EXPECT_EQ(result.Refused.size(), c.Refused ? 1u : 0u);
    tCircle expected = start;
    expected.*fields[c.Column] = c.Expected;
    for (int column = pcX; column < PatchColumnCount; ++column)
      EXPECT_EQ(std::bit_cast<uint64_t>(patches[0].*fields[column]),
                std::bit_cast<uint64_t>(expected.*fields[column]));
    EXPECT_TRUE(patches[1].x == 1 && patches[1].e == 5);
  }
  // A table of another landscape reaches no patch.
  tArrayOfCircles patches(3);
  EXPECT_THROW(ApplyPatchTable(TableOf(4), TableOf(4), patches), utile::EInvalidOperation);
}
