#include "models/IBBatch.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <fstream>

#include "Utile/RandomFunctions.h"
#include "Utile/RunTime.h"
#include "Utile/StringOps.h"
#include "Utile/VectorOps.h"

namespace models {

using utile::Int64;

namespace {

const char* const NA = "NA";

// The names of a per-patch group: prefix and 00 (when with the total) or 01 to n.
void AddPatchNames(utile::tVectorOfString& fields, const char* prefix, Integer n, bool withTotal) {
  for (Integer i = withTotal ? 0 : 1; i <= n; ++i) fields.push_back(utile::Format("%s%.2d", prefix, i));
}

// One field per patch 1..n (or 0..n), from a vector that may be shorter.
template <class tVector, class tFormat>
void AddPatchValues(utile::tVectorOfString& fields, const tVector& values, Integer count, const char* missing,
                    tFormat format) {
  for (Integer i = 0; i < count; ++i)
    fields.push_back(size_t(i) < values.size() ? format(values[size_t(i)]) : std::string(missing));
}

// The statistics of one age class, entries 0..n.
void AddClass(utile::tVectorOfString& fields, const tIBBatchColumns& c, const tIBClassStatistics& s) {
  const Integer count = c.PatchCount + 1;
  const auto real = [](Double v) { return utile::Format("%g", v); };
  if (c.Abundances)
    AddPatchValues(fields, s.Sizes, count, "0", [](Cardinal v) { return utile::Format("%d", v); });
  if (c.F) AddPatchValues(fields, s.F, count, NA, real);
  if (c.Theta) AddPatchValues(fields, s.Theta, count, NA, real);
}

// A decimal number in the form that a batch line reads whatever the decimal
// separator in force (a comma would split the value).
std::string BatchNumber(Double value) {
  return utile::Replace(utile::FloatToStr(value), ",", ".");
}

}  // namespace

// ------------------------------------------------------------------ columns

utile::tVectorOfString IBHeaderFields(const tIBBatchColumns& c) {
  utile::tVectorOfString fields = {"SimID", "Landscape"};
  for (const auto* labels : {&c.LandscapeLabels, &c.ParameterLabels})
    for (const std::string& label : *labels) fields.push_back(utile::Replace(label, ":", ""));
  fields.push_back("NbIndividuals");
  const Integer n = c.PatchCount;
  if (c.Capacities) AddPatchNames(fields, "K", n, false);
  if (c.Sexuate) AddPatchNames(fields, "SR", n, false);
  if (c.Occupancy) AddPatchNames(fields, "O", n, false);
  if (c.ExtinctionTime) fields.push_back("Text");
  if (c.Tags)
    for (Integer v : c.TagValues) fields.push_back(utile::Format("Tag%d", v));
  const auto ageClass = [&](const char* sizes, const char* f, const char* theta) {
    if (c.Abundances) AddPatchNames(fields, sizes, n, true);
    if (c.F) AddPatchNames(fields, f, n, true);
    if (c.Theta) AddPatchNames(fields, theta, n, true);
  };
  if (c.Juveniles) ageClass("Nj", "Fj", "Thetaj");
  if (c.Adults) ageClass("Na", "Fa", "Thetaa");
  fields.push_back("Time");
  return fields;
}

utile::tVectorOfString IBRowFields(const tIBBatchColumns& c, const tIBBatchRow& row) {
  utile::tVectorOfString fields = {utile::Format("%d", row.SimID)};
  const size_t landscapeCount = c.LandscapeLabels.size();
  if (row.HasLandscape) {
    fields.push_back(utile::Format("%d", row.Landscape));
    for (size_t i = 0; i < landscapeCount; ++i)
      fields.push_back(i < row.LandscapeValues.size() ? row.LandscapeValues[i] : std::string(NA));
  } else {
    fields.insert(fields.end(), landscapeCount + 1, NA);
  }
  for (size_t i = 0; i < c.ParameterLabels.size(); ++i)
    fields.push_back(i < row.ParameterValues.size() ? row.ParameterValues[i] : std::string(NA));
  fields.push_back(utile::Format("%u", row.Individuals));
  const Integer n = c.PatchCount;
  const auto shortest = [](Double v) { return utile::Format("%.g", v); };
  if (c.Capacities)
    AddPatchValues(fields, row.Capacities, n, NA, [](Integer v) { return utile::Format("%d", v); });
  if (c.Sexuate) AddPatchValues(fields, row.SexRatios, n, NA, shortest);
  if (c.Occupancy) AddPatchValues(fields, row.Occupancy, n, NA, shortest);
  if (c.ExtinctionTime)
    fields.push_back(row.ExtinctionTime >= 0 ? utile::Format("%d", row.ExtinctionTime) : std::string(NA));
  if (c.Tags)
    AddPatchValues(fields, row.TagCounts, Integer(c.TagValues.size()), "0",
                   [](Cardinal v) { return utile::Format("%u", v); });
  if (c.Juveniles) AddClass(fields, c, row.Juveniles);
  if (c.Adults) AddClass(fields, c, row.Adults);
  fields.push_back(row.Time);
  return fields;
}

Double SingleAsDecimal(utile::Single value) {
  char text[64];
  const auto written = std::to_chars(text, text + sizeof(text), value);
  // Read back as written, whatever the C library's locale.
  Double decimal = value;
  std::from_chars(text, written.ptr, decimal);
  return decimal;
}

utile::tVectorOfString PaddedValues(const utile::tVectorOfString& given,
                                    const utile::tVectorOfString& inForce) {
  utile::tVectorOfString values = inForce;
  for (size_t i = 0; i < values.size() && i < given.size(); ++i) values[i] = given[i];
  return values;
}

std::string JoinFields(const utile::tVectorOfString& fields) {
  std::string line;
  for (size_t i = 0; i < fields.size(); ++i) {
    if (i > 0) line += '\t';
    line += fields[i];
  }
  return line;
}

bool StatisticsDate(Cardinal last, bool juveniles, bool longitudinal, Cardinal& date) {
  if (juveniles && longitudinal) {
    if (last == 0) return false;
    date = last - 1;
    return true;
  }
  date = last;
  return true;
}

// ------------------------------------------------------------------ side files

std::string SimulationFileName(const std::string& base, utile::Int64 simID, const std::string& suffix) {
  return base + "_" + utile::Format("%d", simID) + suffix + ".dat";
}

std::string LandscapeFileName(const std::string& base, const std::string& kind, utile::Int64 lanID) {
  return base + "_" + kind + "_" + utile::Format("%d", lanID) + ".dat";
}

std::string GenomePrefix(Integer kind, Integer genome) {
  static const char* const Formats[] = {"_Nuclear%.3d", "_Mitoch%.3d", "_XChr%.3d", "_YChr%.3d"};
  utile::Assert(kind >= 0 && kind < 4, "Unknown genome kind");
  return utile::Format(Formats[kind], genome);
}

std::string SideFileText(const std::string& text) {
  if (text.ends_with('\n')) return text;
  return text + "\r\n";
}

std::string ConnectionProfilesFileText(const utile::tVectorOfDouble& values,
                                       const std::vector<utile::tMatrixOfDouble>& profiles) {
  std::string text;
  for (size_t k = 0; k < values.size(); ++k) {
    if (k > 0) text += '\t';
    text += utile::FloatToStr(values[k]);
  }
  text += "\r\n";
  for (const utile::tMatrixOfDouble& profile : profiles) text += utile::MatToStr(profile, "%.3g");
  return text;
}

// ------------------------------------------------------------------ appending

namespace {
// A row's number: false for a field that is no whole number (error lines, "NA");
// a whole number beyond LargestResultNumber is refused naming the file and line.
bool ResultNumber(std::string_view field, const char* what, const std::string& fileName, Int64 line,
                  Int64& value) {
  if (utile::TryStrToInt(field, value) && value <= LargestResultNumber) return true;
  const std::string trimmed = utile::Trim(field);
  // Far below every number a batch gives, a negative one is no row of it.
  if (trimmed.starts_with('-')) return false;
  const std::string_view digits = std::string_view(trimmed).substr(trimmed.starts_with('+') ? 1 : 0);
  if (digits.empty() || digits.find_first_not_of("0123456789") != std::string_view::npos) return false;
  throw utile::EInOutError(utile::Format(
      "The result file \"%s\", line %d: the %s %s is beyond %d, the largest a batch continues from.",
      fileName, line, what, std::string(field), LargestResultNumber));
}

tIBResultFileState ReadResultFileState(const std::string& fileName);

// The field of a line from position `from` to the next TAB, and the position after that TAB.
std::string_view NextTabbedField(std::string_view line, size_t& from) {
  const size_t start = std::min(from, line.size());
  const size_t tab = line.find('\t', start);
  from = tab == std::string_view::npos ? line.size() + 1 : tab + 1;
  return line.substr(start, (tab == std::string_view::npos ? line.size() : tab) - start);
}
}  // namespace

tIBResultFileState ReadIBResultFile(const std::string& fileName) {
  return utile::WithinMemory(fileName, [&] { return ReadResultFileState(fileName); });
}

namespace {
tIBResultFileState ReadResultFileState(const std::string& fileName) {
  std::ifstream in(fileName, std::ios::binary);
  if (!in) throw utile::EInOutError(utile::Format("Cannot read the result file \"%s\".", fileName));
  tIBResultFileState state;
  bool underHeader = false, withLandscape = false;
  Int64 number = 0;
  for (std::string text; std::getline(in, text);) {
    ++number;
    std::string_view line = text;
    if (line.ends_with('\r')) line.remove_suffix(1);
    size_t from = 0;
    const std::string_view first = NextTabbedField(line, from);
    if (first == "SimID") {
      utile::Tabulate(line, '\t', state.LastHeader, false, 0);
      underHeader = true;
      withLandscape = NextTabbedField(line, from) == "Landscape";
      continue;
    }
    // Rows stand under a header; error lines and the error count are no rows.
    Int64 value = 0;
    if (!underHeader || !ResultNumber(first, "SimID", fileName, number, value)) continue;
    state.LargestSimID = std::max(state.LargestSimID, value);
    if (withLandscape && from <= line.size() &&
        ResultNumber(NextTabbedField(line, from), "landscape number", fileName, number, value))
      state.LargestLandscape = std::max(state.LargestLandscape, value);
  }
  if (in.bad()) throw utile::EInOutError(utile::Format("Cannot read the result file \"%s\".", fileName));
  return state;
}
}  // namespace

// ------------------------------------------------------------------ priors

namespace {

struct tBounds {
  Double Minimum, Maximum;
};

Double ReadBound(const tIBPrior& prior, const std::string& text, const char* which) {
  double value = 0;
  if (!utile::TryStrToFloatAnySeparator(text, value) || !std::isfinite(value))
    throw utile::EConvertError(
        utile::Format("The %s of the prior of %s is not a number: \"%s\".", which, prior.Name, text));
  if (prior.Whole && value != std::floor(value))
    throw utile::EConvertError(
        utile::Format("The %s of the prior of %s must be a whole number: \"%s\".", which, prior.Name, text));
  return value;
}

std::vector<tBounds> CheckedBounds(const std::vector<tIBPrior>& priors) {
  std::vector<tBounds> bounds;
  for (const tIBPrior& prior : priors) {
    if (!prior.Uniform) {
      bounds.push_back({0, 0});
      continue;
    }
    const tBounds b{ReadBound(prior, prior.Minimum, "minimum"), ReadBound(prior, prior.Maximum, "maximum")};
    if (b.Minimum > b.Maximum)
      throw utile::EConvertError(
          utile::Format("The prior of %s runs from %s down to %s: its minimum must not exceed its maximum.",
                        prior.Name, prior.Minimum, prior.Maximum));
    if (prior.Whole && (b.Minimum < prior.Lowest || b.Maximum > prior.Highest))
      throw utile::EConvertError(utile::Format("The prior of %s must lie within %.0f to %.0f.", prior.Name,
                                               prior.Lowest, prior.Highest));
    if (prior.Whole && b.Maximum - b.Minimum >= 2147483647.0)
      throw utile::EConvertError(utile::Format("The prior of %s is too wide to be drawn.", prior.Name));
    bounds.push_back(b);
  }
  return bounds;
}

std::string DrawLine(const std::string& keyword, const std::vector<tIBPrior>& priors,
                     const std::vector<tBounds>& bounds) {
  std::string line = keyword;
  for (size_t i = 0; i < priors.size(); ++i) {
    const tIBPrior& prior = priors[i];
    if (i > 0) line += ",";
    if (!prior.Uniform) {
      line += prior.Fixed;
    } else if (prior.Whole) {
      const Integer range = Integer(bounds[i].Maximum - bounds[i].Minimum) + 1;
      line += utile::Format("%.0f", bounds[i].Minimum + utile::Ran(range));
    } else {
      line += BatchNumber(utile::Ran(bounds[i].Minimum, bounds[i].Maximum));
    }
  }
  return line + ")";
}

}  // namespace

std::vector<std::string> ABCBatch(const std::vector<tIBPrior>& landscape, const std::vector<tIBPrior>& model,
                                  Integer count, bool landscapePerSimulation, Integer seed1, Integer seed2) {
  const std::vector<tBounds> landscapeBounds = CheckedBounds(landscape);
  const std::vector<tBounds> modelBounds = CheckedBounds(model);
  utile::SetSeeds(seed1, seed2);
  std::vector<std::string> lines;
  for (Integer k = 0; k < count; ++k) {
    if (landscapePerSimulation && !landscape.empty())
      lines.push_back(DrawLine("MakeLandscape(", landscape, landscapeBounds));
    lines.push_back(DrawLine("Simulation(", model, modelBounds));
  }
  return lines;
}

}  // namespace models
