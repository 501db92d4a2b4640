#include "models/PatchDatabase.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>

#include "Utile/RunTime.h"

namespace models {

namespace {

// A parameter that cannot be read counts as 1.
Double ParameterValue(const std::string& text) {
  double value;
  return utile::TryStrToFloatAnySeparator(text, value) ? value : 1.0;
}

// S = round(n q), at least one source and never more sources than patches.
Integer SourceCount(size_t n, Double q) {
  const Double wanted = static_cast<Double>(n) * q;
  if (!(wanted >= 1)) return 1;
  if (wanted >= static_cast<Double>(n)) return static_cast<Integer>(n);
  return static_cast<Integer>(std::clamp<int64_t>(utile::Round(wanted), 1, static_cast<int64_t>(n)));
}

void FillBirth(tPatchTable& table, Integer sources, const std::string& sourceText,
               const std::string& sinkText) {
  for (size_t i = 0; i < table.size(); ++i)
    table[i][pcBirth] = i < static_cast<size_t>(sources) ? sourceText : sinkText;
}

// Source and sink values whose mean over all patches is P, every sink value
// in [0, 1]: the source value is scaled until the sink value falls there.
void FixedProductivity(size_t n, Double P, Double D, tFillResult& result) {
  const Integer S = result.Sources;
  // A single patch is its own source: nothing to share with sinks.
  Double s = n == 1 ? P : P + D - D * S / static_cast<Double>(n - 1) + D / static_cast<Double>(n - 1);
  result.SourceValue = s;
  if (static_cast<size_t>(S) == n) return;
  Double k = 0;
  for (Integer step = 0; step < MaxProductivitySteps; ++step) {
    k = (static_cast<Double>(n) * P - S * s) / static_cast<Double>(n - S);
    result.SourceValue = s;
    if (k >= 0 && k <= 1) {
      result.SinkValue = k;
      return;
    }
    if (k > 1)
      s *= 1.1;
    else
      s *= 0.9;  // also for a k that is not a number: the value is held below
  }
  // Alternating steps jump over [0, 1], or the source value cannot move (0, or
  // a mean that no positive value reaches): keep the last source value tried.
  result.SinksHeld = true;
  result.SinkValue = k > 1 ? 1.0 : (k >= 0 ? k : 0.0);
}

std::string FieldName(int column) {
  switch (column) {
    case pcX:
      return "X";
    case pcY:
      return "Y";
    case pcArea:
      return "Area A";
    case pcBirth:
      return "Birth b";
    default:
      return "Extinction e";
  }
}

double tCircle::*const FieldOfColumn[PatchColumnCount] = {nullptr,     &tCircle::x, &tCircle::y,
                                                          &tCircle::A, &tCircle::b, &tCircle::e};

}  // namespace

std::string PatchTitle(size_t index) {
  return "Patch " + std::to_string(index + 1);
}

tPatchTable PatchTable(const tArrayOfCircles& patches) {
  tPatchTable table(patches.size());
  for (size_t i = 0; i < patches.size(); ++i) {
    tPatchRow& row = table[i];
    row[pcTitle] = PatchTitle(i);
    for (int column = pcX; column < PatchColumnCount; ++column)
      row[column] = utile::FloatToStr(patches[i].*FieldOfColumn[column]);
  }
  return table;
}

tFillResult FillPatchTable(tPatchTable& table, Integer mode, const tFillParameters& parameters) {
  tFillResult result;
  if (mode != pdSourceSink && mode != pdFixedProductivity) return result;
  result.Filled = true;
  const size_t n = table.size();
  for (tPatchRow& row : table) row[pcExtinction] = parameters.ExtinctionRisk;
  if (n == 0) return result;
  const Double P = ParameterValue(parameters.OverallProductivity);
  const Double q = ParameterValue(parameters.SourceProportion);
  const Double D = ParameterValue(parameters.SourceDifferential);
  result.Productivity = P;
  result.Sources = SourceCount(n, q);
  if (mode == pdSourceSink) {
    result.SourceValue = P;
    result.SinkValue = P - D;
    FillBirth(table, result.Sources, utile::Format("%.g", P), utile::Format("%.g", P - D));
    return result;
  }
  FixedProductivity(n, P, D, result);
  FillBirth(table, result.Sources, utile::Format("%.5g", result.SourceValue),
            utile::Format("%.5g", result.SinkValue));
  return result;
}

tApplyResult ApplyPatchTable(const tPatchTable& cells, const tPatchTable& written, tArrayOfCircles& patches) {
  if (cells.size() != patches.size() || written.size() != patches.size())
    throw utile::EInvalidOperation(
        utile::Format("The table has %d rows for %d patches: it no longer shows this landscape.",
                      static_cast<int32_t>(cells.size()), static_cast<int32_t>(patches.size())));
  tApplyResult result;
  for (size_t i = 0; i < patches.size(); ++i)
    for (int column = pcX; column < PatchColumnCount; ++column) {
      const std::string& text = cells[i][column];
      if (text == written[i][column]) continue;
      double value;
      if (!utile::TryStrToFloatAnySeparator(text, value)) continue;
      if (column == pcArea && value < 0) {
        result.Refused.push_back(PatchTitle(i) + ", " + FieldName(column));
        continue;
      }
      double& field = patches[i].*FieldOfColumn[column];
      if (std::bit_cast<uint64_t>(field) == std::bit_cast<uint64_t>(value)) continue;
      field = value;
      result.Changed = true;
    }
  return result;
}

}  // namespace models
