// The batch simulations of the individual-based workbench, without a window:
// the fields of the result file's header and of one result row, laid out from
// one description of the columns so that a row always has exactly the fields of
// its header; the names of the side files; what an existing result file tells a
// batch that appends to it; and the lines of an approximate-Bayesian-computation
// batch drawn from priors.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "Utile/CommonDecl.h"

namespace models {

using utile::Cardinal;
using utile::Double;
using utile::Integer;

// ------------------------------------------------------------------ columns

// What the columns of the result file depend on: the batch pages' labels (the
// value slots of a landscape line and of a simulation line, without ":"), the
// patch count, the species and the output options.
struct tIBBatchColumns {
  utile::tVectorOfString LandscapeLabels;
  utile::tVectorOfString ParameterLabels;
  Integer PatchCount = 0;
  bool Sexuate = false;  // a sex ratio per patch
  bool Capacities = false;
  bool Occupancy = false;
  bool ExtinctionTime = false;
  bool Tags = false;
  utile::tVectorOfInteger TagValues;  // of the life cycle, ascending
  bool Juveniles = false;
  bool Adults = false;
  bool Abundances = false;
  bool F = false;
  bool Theta = false;

  bool operator==(const tIBBatchColumns&) const = default;
};

// "SimID", "Landscape", the labels, "NbIndividuals", K01..Kn, SR01..SRn,
// O01..On, "Text", Tag<v>..., then for juveniles and adults in turn the sizes,
// F and theta of the whole metapopulation (00) and of each patch, and "Time".
utile::tVectorOfString IBHeaderFields(const tIBBatchColumns& columns);

// The statistics of one age class. The vectors hold entry 0 for the whole
// metapopulation and entry p for patch p; they may be shorter than the columns
// (a patch that the pedigree never saw): missing sizes are 0, missing
// statistics "NA". An empty F or theta vector stands for no statistic at all.
struct tIBClassStatistics {
  utile::tVectorOfCardinal Sizes;
  utile::tVectorOfDouble F;
  utile::tVectorOfDouble Theta;
};

// The values of one simulation.
struct tIBBatchRow {
  utile::Int64 SimID = 0;
  // The number of the landscape line in force (from 0), or none before the
  // batch's first landscape line: then every landscape field is "NA".
  bool HasLandscape = false;
  utile::Int64 Landscape = 0;
  utile::tVectorOfString LandscapeValues;  // by slot (see PaddedValues)
  utile::tVectorOfString ParameterValues;
  Cardinal Individuals = 0;  // ever created
  utile::tVectorOfInteger Capacities;
  utile::tVectorOfDouble SexRatios;
  utile::tVectorOfDouble Occupancy;
  Integer ExtinctionTime = -1;  // -1: the metapopulation survived ("NA")
  utile::tVectorOfCardinal TagCounts;
  tIBClassStatistics Juveniles;
  tIBClassStatistics Adults;
  std::string Time;
};

// The fields of the row under the header of the same columns, one for one.
utile::tVectorOfString IBRowFields(const tIBBatchColumns& columns, const tIBBatchRow& row);

// The decimal number that a single-precision value stands for (its shortest
// form), so that a sex ratio of 0.4 is written 0.4 rather than 0.400000006.
Double SingleAsDecimal(utile::Single value);

// One value per slot: the value the line gave, or else the text in force (the
// control's); values beyond the slots are left out.
utile::tVectorOfString PaddedValues(const utile::tVectorOfString& given,
                                    const utile::tVectorOfString& inForce);

// Fields joined by TABs.
std::string JoinFields(const utile::tVectorOfString& fields);

// The pedigree date of a class's statistics and genetic files after a run whose
// last birth date is last: that date, or for juveniles under longitudinal
// sampling the date before. False when there is none (before the first date).
bool StatisticsDate(Cardinal last, bool juveniles, bool longitudinal, Cardinal& date);

// ------------------------------------------------------------------ side files

// base + "_" + SimID + suffix + ".dat". The base is used as it stands (a "%"
// in it is no format).
std::string SimulationFileName(const std::string& base, utile::Int64 simID, const std::string& suffix);
// base + "_" + kind + "_" + LanID + ".dat" ("Distances", "Connectances",
// "Permeabilities", "ConnectionProfiles").
std::string LandscapeFileName(const std::string& base, const std::string& kind, utile::Int64 lanID);
// "_Nuclear%.3d", "_Mitoch%.3d", "_XChr%.3d", "_YChr%.3d" by genome kind (0..3).
std::string GenomePrefix(Integer kind, Integer genome);
// The text of a side file: the text with one line end, which it gets unless it
// ends with one already (an FSTAT or Genepop text ends its last line itself).
std::string SideFileText(const std::string& text);
// The connection-profile side file: a line of the values, then each value's
// matrix, cells "%.3g".
std::string ConnectionProfilesFileText(const utile::tVectorOfDouble& values,
                                       const std::vector<utile::tMatrixOfDouble>& profiles);

// ------------------------------------------------------------------ appending

// The largest SimID or landscape number that a batch continues from (2^62 - 1):
// far from the end of 64 bits, so that counting on from it never overflows.
constexpr utile::Int64 LargestResultNumber = (utile::Int64{1} << 62) - 1;

// What an existing result file holds: the largest SimID and landscape number of
// its rows (-1 for none) and the fields of its last header line.
struct tIBResultFileState {
  utile::Int64 LargestSimID = -1;
  utile::Int64 LargestLandscape = -1;
  utile::tVectorOfString LastHeader;
};
// Reads the file line by line (CR LF or LF). EInOutError naming it when it
// cannot be read, and naming it and the line when a row's SimID or landscape
// number is beyond LargestResultNumber.
tIBResultFileState ReadIBResultFile(const std::string& fileName);

// ------------------------------------------------------------------ priors

// One value slot of an approximate-Bayesian-computation batch: a fixed text or
// a uniform prior between two bounds; whole-number slots (spin edits, item
// indices) draw whole numbers, within their limits.
struct tIBPrior {
  std::string Name;  // for messages
  bool Uniform = false;
  std::string Fixed;
  std::string Minimum, Maximum;
  bool Whole = false;
  Double Lowest = -1.7e308, Highest = 1.7e308;  // the limits of a whole-number slot
};

// The lines of count simulations after SetSeeds(seed1, seed2): with
// landscapePerSimulation, a "MakeLandscape(" line drawn from the landscape
// priors (when there are any) before each "Simulation(" line; without, the
// simulation lines alone.
// Within a line the slots draw in order, fixed ones draw nothing. Unreadable,
// reversed or out-of-limit bounds raise EConvertError naming the slot before
// anything is drawn.
std::vector<std::string> ABCBatch(const std::vector<tIBPrior>& landscape, const std::vector<tIBPrior>& model,
                                  Integer count, bool landscapePerSimulation, Integer seed1, Integer seed2);

}  // namespace models
