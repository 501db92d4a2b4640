#include "models/IBPedigreeAnalysis.h"

#include <algorithm>
#include <cmath>

#include "Utile/AsymMatrixOps.h"
#include "Utile/MatrixOps.h"
#include "Utile/RunTime.h"
#include "Utile/StringOps.h"
#include "Utile/VectorOps.h"

namespace models {

namespace {

// The pedigree's per-patch results hold its own patch count + 1 entries.
tVectorOfCardinal Sizes(tVectorOfCardinal values, Integer n) {
  values.resize(size_t(n) + 1, 0);
  return values;
}

tVectorOfDouble Means(tVectorOfDouble values, Integer n) {
  values.resize(size_t(n) + 1, -1);
  return values;
}

tMatrixOfDouble AlphaMatrix(const tMatrixOfDouble& alpha, Integer n) {
  const size_t size = size_t(n) + 1;
  tMatrixOfDouble result(size, tVectorOfDouble(size, 0.0));
  for (size_t i = 0; i < size; ++i)
    for (size_t j = 0; j < size; ++j) {
      if (i < alpha.size() && j < alpha[i].size())
        result[i][j] = alpha[i][j];
      else if (i > 0 && j > 0)
        result[i][j] = -1;  // no pair from a patch the pedigree never saw
    }
  return result;
}

tVectorOfDouble AlphaPairs(const tMatrixOfDouble& alpha, Integer n) {
  tVectorOfDouble pairs;
  pairs.reserve(size_t(AlphaPairCount(n)));
  pairs.push_back(alpha[0][0]);
  for (Integer k = 2; k <= n; ++k)
    for (Integer l = 1; l < k; ++l) pairs.push_back(alpha[size_t(k)][size_t(l)]);
  return pairs;
}

// The all-classes value of one entry: the juveniles' and adults' values weighted
// by the classes' totals. A class without a value there (no individual or no
// pair of it: -1), or without anybody at all, leaves the other class's value;
// neither class leaves no value.
Double Combined(Double juvenile, Double adult, Double wJ, Double wA) {
  const bool hasJ = wJ > 0 && juvenile >= 0, hasA = wA > 0 && adult >= 0;
  if (hasJ && hasA) return wJ * juvenile + wA * adult;
  if (hasJ) return juvenile;
  if (hasA) return adult;
  return -1;
}

tVectorOfDouble Combined(const tVectorOfDouble& juveniles, const tVectorOfDouble& adults, Double wJ, Double wA) {
  tVectorOfDouble all(juveniles.size());
  for (size_t i = 0; i < all.size(); ++i)
    all[i] = Combined(juveniles[i], i < adults.size() ? adults[i] : -1, wJ, wA);
  return all;
}

}  // namespace

Integer JuvenileLag(tSamplingScheme sampling) {
  return sampling == ssLongitudinal ? -1 : 0;
}

Integer AlphaPairCount(Integer n) {
  return n > 1 ? n * (n - 1) / 2 + 1 : 1;
}

// ================================================================== analysis

tPedigreeAnalysis::tPedigreeAnalysis(tPedigree& pedigree, const tPedigreeAnalysisOptions& options)
    : fPedigree(pedigree), fOptions(options) {
  fOptions.TimeResolution = std::max<Integer>(1, fOptions.TimeResolution);
  fOptions.PatchCount = std::max<Integer>(0, fOptions.PatchCount);
  fLastBirthDate = Integer(pedigree.GenerationCount());
  for (tAgeClassValues& values : fValues) {
    Clear(values);
    values.AlphaPairs.assign(size_t(AlphaPairCount(fOptions.PatchCount)), 0.0);
  }
}

void tPedigreeAnalysis::Clear(tAgeClassValues& values) const {
  const size_t n = size_t(fOptions.PatchCount) + 1;
  values.Sizes.assign(n, 0);
  values.F.assign(n, 0.0);
  values.Theta.assign(n, 0.0);
  values.Alpha.assign(n, tVectorOfDouble(n, 0.0));
}

Integer tPedigreeAnalysis::LastPass() const {
  return fLastBirthDate / fOptions.TimeResolution;
}

Integer tPedigreeAnalysis::FirstPass() const {
  return fOptions.FinalValuesOnly ? LastPass() : 0;
}

Integer tPedigreeAnalysis::Progress(Integer date) const {
  return Integer(utile::Round(static_cast<long double>(date) / (fLastBirthDate + 1) * 100));
}

void tPedigreeAnalysis::Query(Cardinal date, tPedigreeAgeClass ageClass) {
  tAgeClassValues& values = fValues[ageClass];
  const Integer n = fOptions.PatchCount;
  if (fOptions.F) {
    tVectorOfCardinal counts;
    values.F = Means(fPedigree.F_pop(date, ageClass, counts), n);
    values.Sizes = Sizes(std::move(counts), n);
  } else {
    values.Sizes = Sizes(fPedigree.PopulationSizes(date, ageClass), n);
  }
  if (fOptions.Alpha) {
    values.Alpha = AlphaMatrix(fPedigree.Alpha(date, ageClass), n);
    // Its entry 0 is A[0][0], the mean between-patch coancestry.
    values.Theta = utile::MatDiagonal(values.Alpha);
    values.AlphaPairs = AlphaPairs(values.Alpha, n);
  } else if (fOptions.Theta) {
    values.Theta = Means(fPedigree.Theta(date, ageClass), n);
  }
}

void tPedigreeAnalysis::ClearJuveniles() {
  // The alpha vector keeps its values: with no juveniles its weight is 0.
  Clear(fValues[pacJuveniles]);
}

void tPedigreeAnalysis::CombineClasses() {
  const tAgeClassValues& juveniles = fValues[pacJuveniles];
  const tAgeClassValues& adults = fValues[pacAdults];
  tAgeClassValues& all = fValues[pacAll];
  utile::AddCardinalVectors(all.Sizes, {juveniles.Sizes, adults.Sizes});
  const Double tJ = juveniles.Sizes[0], tA = adults.Sizes[0];
  const Double wJ = tJ + tA > 0 ? tJ / (tJ + tA) : 0, wA = tJ + tA > 0 ? tA / (tJ + tA) : 0;
  if (fOptions.F) all.F = Combined(juveniles.F, adults.F, wJ, wA);
  if (fOptions.Theta) all.Theta = Combined(juveniles.Theta, adults.Theta, wJ, wA);
  if (fOptions.Alpha) all.AlphaPairs = Combined(juveniles.AlphaPairs, adults.AlphaPairs, wJ, wA);
}

void tPedigreeAnalysis::Compute(Integer pass) {
  const Integer t = PassDate(pass);
  fDate = t;
  fJuvenilesInRange = false;
  if (fOptions.Juveniles) {
    const Integer juvenile = t + JuvenileLag(fOptions.Sampling);
    if (juvenile >= 0 && juvenile < fLastBirthDate) {
      Query(Cardinal(juvenile + 1), pacJuveniles);
      fJuvenilesInRange = true;
    } else {
      ClearJuveniles();
    }
  }
  if (fOptions.Adults) Query(Cardinal(t + 1), pacAdults);
  if (fOptions.Juveniles && fOptions.Adults) CombineClasses();
}

tVectorOfString tPedigreeAnalysis::SummaryLines() const {
  tVectorOfString lines;
  const auto summary = [&](const char* title, const char* underline, const tAgeClassValues& values) {
    lines.push_back(title);
    lines.push_back(underline);
    if (fOptions.F) {
      lines.push_back("F vector");
      lines.push_back(utile::VecToStr(values.F, "%.3g\t"));
      lines.push_back("");
    }
    if (fOptions.Theta && !fOptions.Alpha) {
      lines.push_back("Theta vector");
      lines.push_back(utile::VecToStr(values.Theta, "%.3g\t"));
      lines.push_back("");
    }
    if (fOptions.Alpha) {
      lines.push_back("Theta matrix");
      utile::AppendTextLines(lines, utile::MatToStr(values.Alpha, "%.3g"));
      lines.push_back("");
    }
  };
  if (!fOptions.F && !fOptions.Theta && !fOptions.Alpha) return lines;
  if (fOptions.Juveniles) summary("Juveniles", "=========", fValues[pacJuveniles]);
  if (fOptions.Adults) summary("Adults", "======", fValues[pacAdults]);
  return lines;
}

// ================================================================== equilibrium

Double DeviationFromEquilibrium(const std::vector<Double>& values, Integer steps) {
  if (steps < 1) throw utile::EInvalidOperation("The equilibrium statistics need at least one time step.");
  if (values.size() < size_t(steps) + 1)
    throw utile::EInvalidOperation(
        utile::Format("The equilibrium statistics need %d points of the adults' abundance (the last %d time "
                      "steps and the one before): the chart holds %d.",
                      steps + 1, steps, Integer(values.size())));
  const size_t s = values.size() - size_t(steps) - 1, h = size_t(steps) / 2;
  Integer greater = 0;
  for (size_t i = s; i <= s + h; ++i)
    if (values[i + h] > values[i]) ++greater;
  return Double(greater) / steps * 2.0 - 0.5;
}

tVectorOfString EquilibriumStatisticsLines(const std::vector<Double>& global,
                                           const std::vector<std::vector<Double>>& patchAdults,
                                           const tPedigree& pedigree, const tEquilibriumOptions& options) {
  const Integer steps = options.Steps;
  const std::string deviation =
      utile::Format("Deviation from equilibrium:\t%g", DeviationFromEquilibrium(global, steps));
  const Integer count = Integer(global.size());
  const Integer s = count - steps - 1, e = count - 1;
  const Integer n = Integer(patchAdults.size());
  tVectorOfString lines;
  if (options.Demographic) {
    lines.push_back("Demographic analysis");
    lines.push_back("====================");
    lines.push_back(deviation);
    lines.push_back("Equilibrium densities:");
    // Per patch the adults summed over the N + 1 points; the density divides by N.
    std::vector<Double> adults(size_t(n), 0.0);
    for (Integer p = 1; p <= n; ++p) {
      const std::vector<Double>& series = patchAdults[size_t(p - 1)];
      for (Integer i = s; i <= e && i < Integer(series.size()); ++i)
        if (std::isfinite(series[size_t(i)])) adults[size_t(p - 1)] += Double(utile::Round(series[size_t(i)]));
      lines.push_back(utile::Format("Patch %d:\t%g", p, adults[size_t(p - 1)] / steps));
    }

    lines.push_back("Dispersal-event matrix");
    // Laid out for the model's patches: a patch the pedigree never saw has no event.
    const tMatrixOfDouble events = pedigree.DispersalEventMatrix(Cardinal(s), Cardinal(e));
    tMatrixOfDouble m(size_t(n), tVectorOfDouble(size_t(n), 0.0));
    for (size_t i = 0; i < m.size() && i < events.size(); ++i)
      for (size_t j = 0; j < m.size() && j < events[i].size(); ++j) m[i][j] = events[i][j];
    utile::AppendTextLines(lines, utile::MatToStr(m, "%.3g"));

    lines.push_back("Backward dispersal probability");
    std::string empty;
    for (size_t r = 0; r < m.size(); ++r) {
      if (adults[r] > 0) {
        for (Double& cell : m[r]) cell /= adults[r];
      } else {
        std::fill(m[r].begin(), m[r].end(), 0.0);
        empty += utile::Format(" %d", Integer(r) + 1);
      }
    }
    utile::AppendTextLines(lines, utile::MatToStr(m, "%.3g"));
    if (!empty.empty()) lines.push_back("Rows left at 0 (patches without adults over these time steps):" + empty);

    lines.push_back("Demographic contributions");
    if (n > 0) {
      utile::TransposeSquareMat(m);
      Double lambda = 0;
      tVectorOfDouble v;
      utile::ComputeRightEigenKw(m, lambda, v);
      for (Integer p = 1; p <= n; ++p)
        lines.push_back(utile::Format("Patch %d:\t%g", p, size_t(p - 1) < v.size() ? v[size_t(p - 1)] : 0.0));
    }
  }
  if (options.Genetic) {
    lines.push_back("Genetic analysis");
    lines.push_back("================");
    lines.push_back(deviation);
  }
  return lines;
}

// ================================================================== pedigree texts

void FillTestPedigree(tPedigree& pedigree) {
  struct tRecord {
    Cardinal Date, ID, Mother, Father;
  };
  static constexpr tRecord Records[] = {{0, 1, 0, 0},   {0, 2, 0, 0},   {1, 3, 1, 2},  {1, 4, 1, 2},  {2, 5, 3, 4},
                                        {2, 6, 3, 4},   {3, 7, 5, 6},   {3, 8, 5, 6},  {4, 9, 7, 8},  {4, 10, 7, 8},
                                        {5, 11, 9, 10}, {5, 12, 9, 10}, {6, 13, 11, 12}};
  pedigree.Clear();
  for (const tRecord& r : Records) pedigree.Add(r.Date, r.ID, r.Mother, r.Father, 1, psNA);
  pedigree.Trim();
  pedigree.PrepareForAnalysis();
}

tVectorOfString PedigreeRecordLines(const tPedigree& pedigree) {
  tVectorOfString lines{"Time\tID\tMother\tFather\tPatch"};
  lines.reserve(size_t(pedigree.Count()) + 1);
  for (Cardinal id = 1; id <= pedigree.Count(); ++id) {
    const tPedigreeInfo r = pedigree.GetIndividuals(id);
    lines.push_back(utile::Format("%d %d %d %d %d", r.Date, r.ID, r.Mother, r.Father, r.Patch));
  }
  return lines;
}

tVectorOfString PositionLines(const tPedigree& pedigree) {
  tVectorOfString lines{"ID\tBirth date\tPatch location"};
  lines.reserve(size_t(pedigree.Count()) + 1);
  for (Cardinal id = 1; id <= pedigree.Count(); ++id) {
    std::string line = utile::Format("%d:\t", id);
    for (const Cardinal element : pedigree.GetPositions(id)) line += utile::Format("%d\t", element);
    lines.push_back(std::move(line));
  }
  return lines;
}

tVectorOfString DispersalEventLines(const tPedigree& pedigree, bool lastTimeStep) {
  tVectorOfString lines;
  if (!lastTimeStep) {
    lines.push_back("Dispersal-event matrix");
    utile::AppendTextLines(lines, utile::MatToStr(pedigree.DispersalEventMatrix(), "%.3g"));
    return lines;
  }
  lines.push_back("Dispersal-event matrix for the last time step:");
  utile::AppendTextLines(lines, utile::MatToStr(LastStepDispersalEvents(pedigree), "%.3g"));
  return lines;
}

tMatrixOfDouble LastStepDispersalEvents(const tPedigree& pedigree) {
  // Before the first birth date there is no time step: no event.
  const Cardinal g = pedigree.GenerationCount();
  return g >= 1 ? pedigree.DispersalEventMatrix(g - 1, g) : pedigree.DispersalEventMatrix(0, 0);
}

// ================================================================== genomes

tVectorOfString AllGenomeLines(const tGeneticPedigree& genomes, const tPedigree& pedigree) {
  tVectorOfString lines{"ID\tSex\tMotherID\tMotherGenome\tFatherID\tFatherGenome"};
  for (Cardinal id = 1; id <= pedigree.Count(); ++id) {
    if (!genomes.Unpruned(id)) continue;
    const tPedigreeInfo r = pedigree.GetIndividuals(id);
    lines.push_back(utile::Format("%d\t%s\t%d\t%s\t%d\t%s", id, std::string(1, PedigreeSexLetters[r.Sex]),
                                  r.Mother, genomes.GetGenomeMother(id), r.Father, genomes.GetGenomeFather(id)));
  }
  return lines;
}

namespace {

std::string LastGenerationResult(tGeneticPedigree& genomes, tLastGenerationOutput output, Cardinal date,
                                 tPedigreeAgeClass ageClass, Double p) {
  switch (output) {
    case lgFstat:
      return genomes.FstatOutput(date, ageClass, psBoth, p);
    case lgAlleleFrequencies:
      return genomes.AlleleFrequenciesAsString(date, ageClass, p, "%.3g");
    case lgGenePop:
      return genomes.GenepopOutput(date, ageClass, p);
    case lgPairwiseFst:
      return utile::MatToStr(genomes.FstMatrix(date, ageClass, p), "%.3g");
    case lgCoancestries:
      return utile::MatToStr(genomes.Coancestries(date, ageClass, p), "%.3g");
  }
  return {};
}

}  // namespace

void LastGenerationLines(tGeneticPedigree& genomes, const tPedigree& pedigree, tLastGenerationOutput output,
                         tSamplingScheme sampling, Double pJuveniles, Double pAdults, tVectorOfString& lines) {
  static constexpr const char* Titles[] = {"Fstat output", "Allele frequencies", "GenePop output", "Pairwise Fst",
                                           "Coancestries"};
  const std::string title = Titles[output];
  lines.push_back(title);
  lines.push_back(std::string(title.size(), '='));
  if (sampling == ssNone) throw utile::EInvalidOperation("Neither transversal or longitudinal sampling.");
  // Dates are signed: a pedigree without a birth date after 0 has its last time step before it.
  const Integer t = Integer(pedigree.GenerationCount()) - 1;
  const Integer tj = t + JuvenileLag(sampling);
  const std::string dashes(32, '-');
  lines.push_back(utile::Format("Time step:\t%d", t));
  lines.push_back(utile::Format("Juveniles at t%d", tj));
  lines.push_back(dashes);
  if (tj + 1 >= 0)
    utile::AppendTextLines(lines,
                           LastGenerationResult(genomes, output, Cardinal(tj + 1), pacJuveniles, pJuveniles));
  else
    lines.push_back(utile::Format("No individuals at date %d.", tj + 1));
  lines.push_back(dashes);
  lines.push_back(utile::Format("Adults at t%d", t));
  lines.push_back(dashes);
  utile::AppendTextLines(lines, LastGenerationResult(genomes, output, Cardinal(t + 1), pacAdults, pAdults));
  lines.push_back(dashes);
}

}  // namespace models
