// The patch database: the patches of the landscape as a table of texts, the
// rules that fill the birth and extinction columns of all patches, and the
// writing of the table back into the patches. The dialog shows the table and
// hands its edits over; everything that decides what a cell says or what a
// cell changes lives here.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "models/MetapopCommon.h"

namespace models {

// The fill modes, by their place in the dialog's list.
constexpr Integer pdCustomParameters = 0;
constexpr Integer pdLoadedFromFile = 1;
constexpr Integer pdSourceSink = 2;
constexpr Integer pdFixedProductivity = 3;

// The columns of a row: the title, then the five fields of the patch.
constexpr int pcTitle = 0;
constexpr int pcX = 1;
constexpr int pcY = 2;
constexpr int pcArea = 3;
constexpr int pcBirth = 4;
constexpr int pcExtinction = 5;
constexpr int PatchColumnCount = 6;

using tPatchRow = std::array<std::string, PatchColumnCount>;
// Row i stands for patch i.
using tPatchTable = std::vector<tPatchRow>;

// "Patch 1" for the patch of index 0.
std::string PatchTitle(size_t index);

// One row per patch: its title and its five fields in the shortest decimal form.
tPatchTable PatchTable(const tArrayOfCircles& patches);

// The texts of the four parameter edits, as typed.
struct tFillParameters {
  std::string OverallProductivity = "1.1";
  std::string SourceProportion = "1";
  std::string SourceDifferential = "1";
  std::string ExtinctionRisk = "0";
};

// How often "Fixed productivity" scales the source value before it gives up
// looking for a sink value between 0 and 1.
constexpr Integer MaxProductivitySteps = 1000;

struct tFillResult {
  bool Filled = false;  // the mode fills the table at all
  Integer Sources = 0;  // the first Sources rows are the sources
  Double SourceValue = 0;
  Double SinkValue = 0;  // meaningful only when some rows are sinks
  // "Fixed productivity" found no sink value between 0 and 1: the sources keep
  // the last value tried and the sink value is held to [0, 1], so that the
  // mean productivity is not the one asked for.
  bool SinksHeld = false;
  Double Productivity = 0;  // the mean asked for
};

// Fills the birth and extinction columns of every row by the mode; the titles
// and the other columns stay as they are. Unreadable parameters count as 1.
tFillResult FillPatchTable(tPatchTable& table, Integer mode, const tFillParameters& parameters);

struct tApplyResult {
  bool Changed = false;  // a field of some patch has another value now
  // Cells that hold a number that no patch can take (a negative area), as
  // "Patch 3, Area A"; their fields keep their values.
  std::vector<std::string> Refused;
};

// Writes every cell of the table into its field of the patch of the same row.
// A cell that still holds the text of `written` (the table as it was made
// from the patches) leaves its field exactly as it is; a cell that cannot be
// read as a number keeps its field too. Both tables must have a row for each
// patch and no more (EInvalidOperation otherwise, before anything changes).
tApplyResult ApplyPatchTable(const tPatchTable& cells, const tPatchTable& written, tArrayOfCircles& patches);

}  // namespace models
